// The connect step of an OPC client connection, as the project load calls it
// for each link the file names: see OpcConnections.h.
#pragma once

#include "connections/OpcConnections.h"
