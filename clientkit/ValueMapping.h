// Between OPC UA values and the program's VARIANTs, status codes and OPC
// qualities, and item ID texts and NodeIds.
//
// UA built-in type        VARIANT
//   Boolean               VT_BOOL (VARIANT_TRUE / VARIANT_FALSE)
//   SByte, Byte           VT_I1, VT_UI1
//   Int16, UInt16         VT_I2, VT_UI2
//   Int32, UInt32         VT_I4, VT_UI4
//   Int64, UInt64         VT_I8, VT_UI8
//   Float, Double         VT_R4, VT_R8
//   DateTime              VT_DATE (UTC)
//   String                VT_BSTR
//   LocalizedText         VT_BSTR, its text (the locale is dropped)
//   ByteString            VT_ARRAY | VT_UI1
//   one-dimensional array of any of the above but ByteString
//                         VT_ARRAY | the element's type
//   null                  VT_EMPTY
//   anything else         VT_EMPTY, and the quality is made bad
//
// Status to quality: Good 0xC0, Uncertain 0x40, Bad 0.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "opcua/types.h"
#include "platform/variant.h"

namespace clientkit {

// The VARIANT for `value`; false (with `out` VT_EMPTY) when it has no VARIANT.
bool ToVariant(const opcua::Variant& value, VARIANT* out);
uint32_t QualityOf(opcua::StatusCode status);

// The built-in type of a node's DataType, when it is one the program can
// write: the built-in types themselves, and their common subtypes (Duration,
// UtcTime, enumerations ...). Null for anything else.
opcua::BuiltinType BuiltinOfDataType(const opcua::NodeId& dataType);

// A UA value of type `type` made from `value` (converted first when its type
// differs); with type Null the VARIANT's own type decides. False when the
// value does not convert.
bool FromVariant(const VARIANT& value, opcua::BuiltinType type, opcua::Variant& out);

// An item ID in the NodeId text forms "ns=2;s=Line1.Flow", "ns=3;i=1001",
// "i=2258", "ns=1;g=<guid>", "ns=1;b=<hex>", "nsu=<uri>;s=..." (the URI looked
// up in `namespaces`). A text in no such form is a string identifier in
// namespace 1. Nothing for an "nsu=" URI the server does not know.
std::optional<opcua::NodeId> ParseItemId(const std::string& text, const std::vector<std::string>& namespaces);

}  // namespace clientkit
