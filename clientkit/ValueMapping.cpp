#include "clientkit/ValueMapping.h"

#include <charconv>
#include <cstring>

#include "opcua/nodeids.h"

namespace clientkit {

using opcua::BuiltinType;

namespace {

template <class T>
void PutAll(SAFEARRAY* array, const std::vector<T>& values) {
  for (size_t i = 0; i < values.size(); ++i) {
    const int32_t index = static_cast<int32_t>(i);
    SafeArrayPutElement(array, &index, &values[i]);
  }
}

// A scalar or array of plain numbers of VARIANT type `vt`.
template <class T>
bool Numbers(const std::vector<T>& values, bool array, VARTYPE vt, VARIANT* out) {
  if (!array) {
    if (values.size() != 1) return false;
    out->vt = vt;
    std::memcpy(&out->llVal, &values[0], sizeof(T));
    return true;
  }
  SAFEARRAY* a = SafeArrayCreateVector(vt, 0, static_cast<uint32_t>(values.size()));
  if (a == nullptr) return false;
  PutAll(a, values);
  out->vt = VT_ARRAY | vt;
  out->parray = a;
  return true;
}

bool Texts(const std::vector<std::string>& texts, bool array, VARIANT* out) {
  if (!array) {
    if (texts.size() != 1) return false;
    *out = MakeVariantText(texts[0]);
    return true;
  }
  SAFEARRAY* a = SafeArrayCreateVector(VT_BSTR, 0, static_cast<uint32_t>(texts.size()));
  if (a == nullptr) return false;
  for (size_t i = 0; i < texts.size(); ++i) {
    const int32_t index = static_cast<int32_t>(i);
    BSTR text = Utf8ToBstr(texts[i]);
    SafeArrayPutElement(a, &index, text);
    SysFreeString(text);
  }
  out->vt = VT_ARRAY | VT_BSTR;
  out->parray = a;
  return true;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool ParseGuid(const std::string& s, opcua::Guid& g) {
  // 8-4-4-4-12 hex digits.
  if (s.size() != 36 || s[8] != '-' || s[13] != '-' || s[18] != '-' || s[23] != '-') return false;
  std::string hex;
  for (char c : s)
    if (c != '-') hex += c;
  uint8_t bytes[16];
  for (int i = 0; i < 16; ++i) {
    const int hi = HexDigit(hex[2 * i]), lo = HexDigit(hex[2 * i + 1]);
    if (hi < 0 || lo < 0) return false;
    bytes[i] = static_cast<uint8_t>(hi * 16 + lo);
  }
  g.data1 = (uint32_t{bytes[0]} << 24) | (uint32_t{bytes[1]} << 16) | (uint32_t{bytes[2]} << 8) | bytes[3];
  g.data2 = static_cast<uint16_t>((bytes[4] << 8) | bytes[5]);
  g.data3 = static_cast<uint16_t>((bytes[6] << 8) | bytes[7]);
  std::memcpy(g.data4, bytes + 8, 8);
  return true;
}

// "i=...", "s=...", "g=...", "b=..." after the namespace part.
bool ParseIdentifier(const std::string& s, opcua::NodeId& id) {
  if (s.size() < 2 || s[1] != '=') return false;
  const std::string rest = s.substr(2);
  switch (s[0]) {
    case 'i': {
      uint32_t n = 0;
      const auto r = std::from_chars(rest.data(), rest.data() + rest.size(), n);
      if (rest.empty() || r.ec != std::errc() || r.ptr != rest.data() + rest.size()) return false;
      id.kind = opcua::NodeId::Kind::Numeric;
      id.numeric = n;
      return true;
    }
    case 's':
      id.kind = opcua::NodeId::Kind::String;
      id.text = rest;
      return true;
    case 'g':
      id.kind = opcua::NodeId::Kind::Guid;
      return ParseGuid(rest, id.guid);
    case 'b': {
      if (rest.size() % 2 != 0) return false;
      std::vector<uint8_t> bytes;
      for (size_t i = 0; i < rest.size(); i += 2) {
        const int hi = HexDigit(rest[i]), lo = HexDigit(rest[i + 1]);
        if (hi < 0 || lo < 0) return false;
        bytes.push_back(static_cast<uint8_t>(hi * 16 + lo));
      }
      id.kind = opcua::NodeId::Kind::Opaque;
      id.opaque = opcua::ByteString(std::move(bytes));
      return true;
    }
    default:
      return false;
  }
}

}  // namespace

uint32_t QualityOf(opcua::StatusCode status) {
  if (opcua::IsGood(status)) return 0xC0;
  if (opcua::IsUncertain(status)) return 0x40;
  return 0x00;
}

bool ToVariant(const opcua::Variant& value, VARIANT* out) {
  VariantInit(out);
  if (value.IsNull()) return true;
  if (!value.dimensions().empty() && value.dimensions().size() > 1) return false;
  const bool array = value.IsArray();
  switch (value.type()) {
    case BuiltinType::Boolean: {
      std::vector<VARIANT_BOOL> flags;
      for (bool b : value.Values<BuiltinType::Boolean>()) flags.push_back(b ? VARIANT_TRUE : VARIANT_FALSE);
      return Numbers(flags, array, VT_BOOL, out);
    }
    case BuiltinType::SByte: return Numbers(value.Values<BuiltinType::SByte>(), array, VT_I1, out);
    case BuiltinType::Byte: return Numbers(value.Values<BuiltinType::Byte>(), array, VT_UI1, out);
    case BuiltinType::Int16: return Numbers(value.Values<BuiltinType::Int16>(), array, VT_I2, out);
    case BuiltinType::UInt16: return Numbers(value.Values<BuiltinType::UInt16>(), array, VT_UI2, out);
    case BuiltinType::Int32: return Numbers(value.Values<BuiltinType::Int32>(), array, VT_I4, out);
    case BuiltinType::UInt32: return Numbers(value.Values<BuiltinType::UInt32>(), array, VT_UI4, out);
    case BuiltinType::Int64: return Numbers(value.Values<BuiltinType::Int64>(), array, VT_I8, out);
    case BuiltinType::UInt64: return Numbers(value.Values<BuiltinType::UInt64>(), array, VT_UI8, out);
    case BuiltinType::Float: return Numbers(value.Values<BuiltinType::Float>(), array, VT_R4, out);
    case BuiltinType::Double: return Numbers(value.Values<BuiltinType::Double>(), array, VT_R8, out);
    case BuiltinType::DateTime: {
      std::vector<double> dates;
      for (const opcua::DateTime& t : value.Values<BuiltinType::DateTime>()) dates.push_back(VariantDateFromTicks(t.ticks));
      return Numbers(dates, array, VT_DATE, out);
    }
    case BuiltinType::String: {
      std::vector<std::string> texts;
      for (const opcua::String& s : value.Values<BuiltinType::String>()) texts.push_back(s.str());
      return Texts(texts, array, out);
    }
    case BuiltinType::LocalizedText: {
      std::vector<std::string> texts;
      for (const opcua::LocalizedText& t : value.Values<BuiltinType::LocalizedText>()) texts.push_back(t.text.str());
      return Texts(texts, array, out);
    }
    case BuiltinType::ByteString: {
      if (array) return false;
      const auto& all = value.Values<BuiltinType::ByteString>();
      if (all.size() != 1) return false;
      return Numbers(all[0].bytes(), true, VT_UI1, out);
    }
    default:
      return false;
  }
}

BuiltinType BuiltinOfDataType(const opcua::NodeId& dataType) {
  if (dataType.namespaceIndex != 0 || dataType.kind != opcua::NodeId::Kind::Numeric) return BuiltinType::Null;
  const uint32_t id = dataType.numeric;
  if (id >= 1 && id <= 21 && id != opcua::id::Guid && id != opcua::id::XmlElement && id != opcua::id::NodeId &&
      id != opcua::id::ExpandedNodeId && id != opcua::id::QualifiedName && id != opcua::id::StatusCode)
    return static_cast<BuiltinType>(id);
  switch (id) {
    case opcua::id::Duration: return BuiltinType::Double;
    case opcua::id::UtcTime: return BuiltinType::DateTime;
    case opcua::id::LocaleId: return BuiltinType::String;
    case 288:  // IntegerId
    case 289:  // Counter
      return BuiltinType::UInt32;
    case opcua::id::Enumeration: return BuiltinType::Int32;
    default: return BuiltinType::Null;
  }
}

namespace {

VARTYPE VarTypeOf(BuiltinType type) {
  switch (type) {
    case BuiltinType::Boolean: return VT_BOOL;
    case BuiltinType::SByte: return VT_I1;
    case BuiltinType::Byte: return VT_UI1;
    case BuiltinType::Int16: return VT_I2;
    case BuiltinType::UInt16: return VT_UI2;
    case BuiltinType::Int32: return VT_I4;
    case BuiltinType::UInt32: return VT_UI4;
    case BuiltinType::Int64: return VT_I8;
    case BuiltinType::UInt64: return VT_UI8;
    case BuiltinType::Float: return VT_R4;
    case BuiltinType::Double: return VT_R8;
    case BuiltinType::DateTime: return VT_DATE;
    case BuiltinType::String:
    case BuiltinType::LocalizedText: return VT_BSTR;
    default: return VT_EMPTY;
  }
}

BuiltinType BuiltinOfVarType(VARTYPE vt) {
  switch (vt) {
    case VT_BOOL: return BuiltinType::Boolean;
    case VT_I1: return BuiltinType::SByte;
    case VT_UI1: return BuiltinType::Byte;
    case VT_I2: return BuiltinType::Int16;
    case VT_UI2: return BuiltinType::UInt16;
    case VT_I4: case VT_INT: return BuiltinType::Int32;
    case VT_UI4: case VT_UINT: return BuiltinType::UInt32;
    case VT_I8: return BuiltinType::Int64;
    case VT_UI8: return BuiltinType::UInt64;
    case VT_R4: return BuiltinType::Float;
    case VT_R8: return BuiltinType::Double;
    case VT_DATE: return BuiltinType::DateTime;
    case VT_BSTR: return BuiltinType::String;
    default: return BuiltinType::Null;
  }
}

// Appends one scalar VARIANT already of the type's VARTYPE to `out`.
bool Append(const VARIANT& v, BuiltinType type, opcua::Variant& out) {
  auto& values = out.values();
  switch (type) {
    case BuiltinType::Boolean: std::get<1>(values).push_back(v.boolVal != 0); return true;
    case BuiltinType::SByte: std::get<2>(values).push_back(v.cVal); return true;
    case BuiltinType::Byte: std::get<3>(values).push_back(v.bVal); return true;
    case BuiltinType::Int16: std::get<4>(values).push_back(v.iVal); return true;
    case BuiltinType::UInt16: std::get<5>(values).push_back(v.uiVal); return true;
    case BuiltinType::Int32: std::get<6>(values).push_back(v.lVal); return true;
    case BuiltinType::UInt32: std::get<7>(values).push_back(v.ulVal); return true;
    case BuiltinType::Int64: std::get<8>(values).push_back(v.llVal); return true;
    case BuiltinType::UInt64: std::get<9>(values).push_back(v.ullVal); return true;
    case BuiltinType::Float: std::get<10>(values).push_back(v.fltVal); return true;
    case BuiltinType::Double: std::get<11>(values).push_back(v.dblVal); return true;
    case BuiltinType::String: std::get<12>(values).push_back(opcua::String(BstrToUtf8(v.bstrVal))); return true;
    case BuiltinType::DateTime: {
      int64_t ticks = 0;
      if (!TicksFromVariantDate(v.date, &ticks)) return false;
      std::get<13>(values).push_back(opcua::DateTime{ticks});
      return true;
    }
    case BuiltinType::LocalizedText:
      std::get<21>(values).push_back(opcua::LocalizedText(opcua::String(BstrToUtf8(v.bstrVal))));
      return true;
    default: return false;
  }
}

void Start(opcua::Variant& out, BuiltinType type) {
  out = opcua::Variant();
  switch (type) {
#define PLEXMAR_START(n) \
  case static_cast<BuiltinType>(n): out.values().emplace<n>(); break;
    PLEXMAR_START(1) PLEXMAR_START(2) PLEXMAR_START(3) PLEXMAR_START(4) PLEXMAR_START(5) PLEXMAR_START(6)
    PLEXMAR_START(7) PLEXMAR_START(8) PLEXMAR_START(9) PLEXMAR_START(10) PLEXMAR_START(11) PLEXMAR_START(12)
    PLEXMAR_START(13) PLEXMAR_START(15) PLEXMAR_START(21)
#undef PLEXMAR_START
    default: break;
  }
}

}  // namespace

bool FromVariant(const VARIANT& value, BuiltinType type, opcua::Variant& out) {
  const bool array = (value.vt & VT_ARRAY) != 0;
  const VARTYPE base = value.vt & VT_TYPEMASK;
  if (type == BuiltinType::Null) type = base == VT_UI1 && array ? BuiltinType::ByteString : BuiltinOfVarType(base);
  if (type == BuiltinType::ByteString) {
    if (value.vt != (VT_ARRAY | VT_UI1) || value.parray == nullptr) return false;
    const auto* data = static_cast<const uint8_t*>(value.parray->pvData);
    std::vector<uint8_t> bytes(data, data + value.parray->rgsabound[0].cElements);
    out = opcua::Variant::Scalar<BuiltinType::ByteString>(opcua::ByteString(std::move(bytes)));
    return true;
  }
  const VARTYPE target = VarTypeOf(type);
  if (target == VT_EMPTY) return false;
  Start(out, type);
  if (!array) {
    CVariant converted;
    if (FAILED(VariantChangeType(converted.get(), &value, 0, target))) return false;
    return Append(*converted, type, out);
  }
  SAFEARRAY* a = value.parray;
  if (a == nullptr) return false;
  VARTYPE element = VT_EMPTY;
  SafeArrayGetVartype(a, &element);
  int32_t lower = 0, upper = -1;
  SafeArrayGetLBound(a, 1, &lower);
  SafeArrayGetUBound(a, 1, &upper);
  for (int32_t i = lower; i <= upper; ++i) {
    CVariant item;
    if (element == VT_VARIANT) {
      if (FAILED(SafeArrayGetElement(a, &i, item.get()))) return false;
    } else if (element == VT_BSTR) {
      BSTR text = nullptr;
      if (FAILED(SafeArrayGetElement(a, &i, &text))) return false;
      item->vt = VT_BSTR;
      item->bstrVal = text;
    } else {
      VARIANT raw;
      VariantInit(&raw);
      if (FAILED(SafeArrayGetElement(a, &i, &raw.llVal))) return false;
      raw.vt = element;
      *item = raw;
    }
    CVariant converted;
    if (FAILED(VariantChangeType(converted.get(), item.get(), 0, target))) return false;
    if (!Append(*converted, type, out)) return false;
  }
  out.SetArray(true);
  return true;
}

std::optional<opcua::NodeId> ParseItemId(const std::string& text, const std::vector<std::string>& namespaces) {
  opcua::NodeId id;
  std::string rest = text;
  if (rest.rfind("ns=", 0) == 0) {
    const size_t semi = rest.find(';');
    uint32_t ns = 0;
    if (semi != std::string::npos) {
      const auto r = std::from_chars(rest.data() + 3, rest.data() + semi, ns);
      if (semi > 3 && r.ec == std::errc() && r.ptr == rest.data() + semi && ns <= 0xFFFF) {
        id.namespaceIndex = static_cast<uint16_t>(ns);
        rest = rest.substr(semi + 1);
      }
    }
  } else if (rest.rfind("nsu=", 0) == 0) {
    // The URI ends at the first ';' that an identifier follows.
    for (size_t semi = rest.find(';'); semi != std::string::npos; semi = rest.find(';', semi + 1)) {
      opcua::NodeId probe;
      if (!ParseIdentifier(rest.substr(semi + 1), probe)) continue;
      const std::string uri = rest.substr(4, semi - 4);
      for (size_t i = 0; i < namespaces.size(); ++i) {
        if (namespaces[i] == uri) {
          probe.namespaceIndex = static_cast<uint16_t>(i);
          return probe;
        }
      }
      return std::nullopt;
    }
  }
  if (ParseIdentifier(rest, id)) return id;
  return opcua::NodeId::Text(1, text);
}

}  // namespace clientkit
