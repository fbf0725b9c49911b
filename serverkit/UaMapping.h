// How the item table's values, qualities and write results look to an OPC UA
// client. The mappings themselves are listed in serverkit.h.
#pragma once

#include <cstdint>

#include "opcua/types.h"
#include "platform/variant.h"
#include "platform/wintypes.h"

namespace serverkit::ua {

// The Variant for a VARIANT; false for a type with no OPC UA counterpart
// (the item then reads as a null value with BadDataEncodingUnsupported).
bool ToVariant(const VARIANT& in, opcua::Variant& out);
// The VARIANT of the written Variant's own type; false (BadTypeMismatch) for
// types the item table cannot hold: matrices, and the structured built-ins.
bool FromVariant(const opcua::Variant& in, CVariant& out);
// The DataType NodeId (namespace 0) and ValueRank of an item's current value.
uint32_t DataTypeOf(VARTYPE vt);
int32_t ValueRankOf(VARTYPE vt);

opcua::StatusCode QualityToStatus(uint16_t quality);
opcua::StatusCode WriteResultToStatus(HRESULT result);

opcua::DateTime ToDateTime(const FILETIME& time);

}  // namespace serverkit::ua
