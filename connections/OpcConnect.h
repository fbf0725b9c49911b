// The connect step of an OPC client connection to another OPC server: what
// the Connect menu's OPC commands do once a server is chosen, and what a
// project load does for each link the file names.
#pragma once

#include <string>

class CPlexmarApp;

namespace opcconn {

// Connects to `server` on `machine` ("" = this machine), creates the link's
// group "Group 1", appends the new COpcServerLink to the application's list
// and hooks the data-change and shutdown callbacks. Tells the operator
// through the host UI when it fails ("Connection Failed", "Connection Failed
// to Create Group"). True when the link was added.
bool ConnectServer(CPlexmarApp& app, const std::string& machine, const std::string& server);

}  // namespace opcconn
