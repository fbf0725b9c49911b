// Value comparison for the item table: an update that leaves both value and
// quality as they were is not a change and keeps the time stamp.
#pragma once

#include "platform/variant.h"

namespace serverkit {

// True when both hold the same type and the same contents (texts and array
// elements compared by content, numbers bit for bit).
bool SameVariant(const VARIANT& a, const VARIANT& b);

}  // namespace serverkit
