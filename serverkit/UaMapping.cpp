#include "serverkit/UaMapping.h"

#include <cmath>

#include "opcua/nodeids.h"
#include "serverkit/serverkit.h"

namespace serverkit::ua {

using opcua::BuiltinType;
using opcua::Variant;

namespace {

// OLE dates count days from 1899-12-30; DateTime counts 100 ns from 1601-01-01.
constexpr double kOleEpochDays = 109205.0;  // days from 1601-01-01 to 1899-12-30
constexpr double kTicksPerDay = 864000000000.0;

int64_t OleDateToTicks(double date) { return static_cast<int64_t>(std::llround((date + kOleEpochDays) * kTicksPerDay)); }
double TicksToOleDate(int64_t ticks) { return static_cast<double>(ticks) / kTicksPerDay - kOleEpochDays; }

// One element of type vt at `p` appended to the values of `out`.
bool AppendElement(VARTYPE vt, const void* p, Variant& out, bool first) {
  auto put = [&](auto tag, auto value) {
    constexpr BuiltinType T = decltype(tag)::value;
    if (first) out.values().emplace<static_cast<size_t>(T)>();
    out.Values<T>().push_back(value);
    return true;
  };
  using B = BuiltinType;
  switch (vt) {
    case VT_I1: return put(std::integral_constant<B, B::SByte>(), *static_cast<const int8_t*>(p));
    case VT_UI1: return put(std::integral_constant<B, B::Byte>(), *static_cast<const uint8_t*>(p));
    case VT_I2: return put(std::integral_constant<B, B::Int16>(), *static_cast<const int16_t*>(p));
    case VT_UI2: return put(std::integral_constant<B, B::UInt16>(), *static_cast<const uint16_t*>(p));
    case VT_I4:
    case VT_INT: return put(std::integral_constant<B, B::Int32>(), *static_cast<const int32_t*>(p));
    case VT_UI4:
    case VT_UINT: return put(std::integral_constant<B, B::UInt32>(), *static_cast<const uint32_t*>(p));
    case VT_I8: return put(std::integral_constant<B, B::Int64>(), *static_cast<const int64_t*>(p));
    case VT_UI8: return put(std::integral_constant<B, B::UInt64>(), *static_cast<const uint64_t*>(p));
    case VT_R4: return put(std::integral_constant<B, B::Float>(), *static_cast<const float*>(p));
    case VT_R8: return put(std::integral_constant<B, B::Double>(), *static_cast<const double*>(p));
    case VT_BOOL: {
      if (first) out.values().emplace<static_cast<size_t>(B::Boolean)>();
      out.Values<B::Boolean>().push_back(*static_cast<const VARIANT_BOOL*>(p) != 0);
      return true;
    }
    case VT_BSTR:
      return put(std::integral_constant<B, B::String>(), opcua::String(BstrToUtf8(*static_cast<const BSTR*>(p))));
    case VT_DATE:
      return put(std::integral_constant<B, B::DateTime>(), opcua::DateTime{OleDateToTicks(*static_cast<const double*>(p))});
    case VT_ERROR:
      return put(std::integral_constant<B, B::StatusCode>(), static_cast<uint32_t>(*static_cast<const HRESULT*>(p)));
    default:
      return false;
  }
}

}  // namespace

bool ToVariant(const VARIANT& in, Variant& out) {
  out = Variant();
  if (in.vt == VT_EMPTY || in.vt == VT_NULL) return true;
  if (in.vt & VT_ARRAY) {
    const VARTYPE vt = in.vt & VT_TYPEMASK;
    SAFEARRAY* a = in.parray;
    if (a == nullptr) return false;
    const uint32_t n = a->rgsabound[0].cElements;
    // An empty array still has its element type.
    static const uint64_t zero = 0;
    if (!AppendElement(vt, &zero, out, true)) return false;
    std::visit([](auto& v) {
      if constexpr (!std::is_same_v<std::decay_t<decltype(v)>, std::monostate>) v.clear();
    }, out.values());
    const auto* base = static_cast<const uint8_t*>(a->pvData);
    const size_t size = a->cbElements;
    for (uint32_t i = 0; i < n; ++i)
      if (!AppendElement(vt, base + i * size, out, false)) return false;
    out.SetArray(true);
    return true;
  }
  return AppendElement(in.vt, &in.llVal, out, true);
}

namespace {

template <class T>
bool FillArray(VARTYPE vt, const std::vector<T>& values, CVariant& out) {
  SAFEARRAY* a = SafeArrayCreateVector(vt, 0, static_cast<uint32_t>(values.size()));
  if (a == nullptr) return false;
  for (int32_t i = 0; i < static_cast<int32_t>(values.size()); ++i) {
    if constexpr (std::is_same_v<T, opcua::String>) {
      BSTR text = Utf8ToBstr(values[static_cast<size_t>(i)].str());
      SafeArrayPutElement(a, &i, text);
      SysFreeString(text);
    } else if constexpr (std::is_same_v<T, bool>) {
      VARIANT_BOOL b = values[static_cast<size_t>(i)] ? VARIANT_TRUE : VARIANT_FALSE;
      SafeArrayPutElement(a, &i, &b);
    } else if constexpr (std::is_same_v<T, opcua::DateTime>) {
      double d = TicksToOleDate(values[static_cast<size_t>(i)].ticks);
      SafeArrayPutElement(a, &i, &d);
    } else {
      T x = values[static_cast<size_t>(i)];
      SafeArrayPutElement(a, &i, &x);
    }
  }
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_ARRAY | vt;
  v.parray = a;
  out = CVariant::Adopt(v);
  return true;
}

}  // namespace

bool FromVariant(const Variant& in, CVariant& out) {
  out = CVariant();
  if (in.IsNull()) return false;
  if (!in.dimensions().empty() && in.dimensions().size() > 1) return false;
  const bool array = in.IsArray();
  if (!array && in.Length() != 1) return false;
  VARIANT v;
  VariantInit(&v);
  auto scalarOr = [&](VARTYPE vt, auto&& values, auto assign) {
    if (array) return FillArray(vt, values, out);
    v.vt = vt;
    assign(values[0]);
    out = CVariant::Adopt(v);
    return true;
  };
  using B = BuiltinType;
  switch (in.type()) {
    case B::Boolean: {
      std::vector<bool> values(in.Values<B::Boolean>().begin(), in.Values<B::Boolean>().end());
      return scalarOr(VT_BOOL, values, [&](bool x) { v.boolVal = x ? VARIANT_TRUE : VARIANT_FALSE; });
    }
    case B::SByte: return scalarOr(VT_I1, in.Values<B::SByte>(), [&](int8_t x) { v.cVal = x; });
    case B::Byte: return scalarOr(VT_UI1, in.Values<B::Byte>(), [&](uint8_t x) { v.bVal = x; });
    case B::Int16: return scalarOr(VT_I2, in.Values<B::Int16>(), [&](int16_t x) { v.iVal = x; });
    case B::UInt16: return scalarOr(VT_UI2, in.Values<B::UInt16>(), [&](uint16_t x) { v.uiVal = x; });
    case B::Int32: return scalarOr(VT_I4, in.Values<B::Int32>(), [&](int32_t x) { v.lVal = x; });
    case B::UInt32: return scalarOr(VT_UI4, in.Values<B::UInt32>(), [&](uint32_t x) { v.ulVal = x; });
    case B::Int64: return scalarOr(VT_I8, in.Values<B::Int64>(), [&](int64_t x) { v.llVal = x; });
    case B::UInt64: return scalarOr(VT_UI8, in.Values<B::UInt64>(), [&](uint64_t x) { v.ullVal = x; });
    case B::Float: return scalarOr(VT_R4, in.Values<B::Float>(), [&](float x) { v.fltVal = x; });
    case B::Double: return scalarOr(VT_R8, in.Values<B::Double>(), [&](double x) { v.dblVal = x; });
    case B::DateTime:
      return scalarOr(VT_DATE, in.Values<B::DateTime>(), [&](opcua::DateTime x) { v.date = TicksToOleDate(x.ticks); });
    case B::String:
      return scalarOr(VT_BSTR, in.Values<B::String>(), [&](const opcua::String& x) { v.bstrVal = Utf8ToBstr(x.str()); });
    default:
      return false;
  }
}

uint32_t DataTypeOf(VARTYPE vt) {
  namespace id = opcua::id;
  switch (vt & VT_TYPEMASK) {
    case VT_I1: return id::SByte;
    case VT_UI1: return id::Byte;
    case VT_I2: return id::Int16;
    case VT_UI2: return id::UInt16;
    case VT_I4:
    case VT_INT: return id::Int32;
    case VT_UI4:
    case VT_UINT: return id::UInt32;
    case VT_I8: return id::Int64;
    case VT_UI8: return id::UInt64;
    case VT_R4: return id::Float;
    case VT_R8: return id::Double;
    case VT_BOOL: return id::Boolean;
    case VT_BSTR: return id::String;
    case VT_DATE: return id::DateTime;
    case VT_ERROR: return id::StatusCode;
    default: return id::BaseDataType;
  }
}

int32_t ValueRankOf(VARTYPE vt) {
  if (vt & VT_ARRAY) return 1;
  // An empty item may take any value later: scalar or array.
  if (vt == VT_EMPTY) return -2;
  return -1;
}

opcua::StatusCode QualityToStatus(uint16_t quality) {
  switch (quality & 0xC0) {
    case 0xC0: return opcua::status::Good;
    case 0x40: return opcua::status::Uncertain;
    default: return opcua::status::Bad;
  }
}

opcua::StatusCode WriteResultToStatus(HRESULT result) {
  namespace st = opcua::status;
  if (SUCCEEDED(result)) return st::Good;
  switch (static_cast<uint32_t>(result)) {
    case 0xC0040001u: return st::BadNodeIdUnknown;   // OPC_E_INVALIDHANDLE
    case 0xC0040006u: return st::BadNotWritable;     // OPC_E_BADRIGHTS
    case 0xC0040007u: return st::BadTypeMismatch;    // OPC_E_UNKNOWNITEMID
    default: return st::BadInternalError;            // E_FAIL and anything else
  }
}

opcua::DateTime ToDateTime(const FILETIME& time) {
  return opcua::DateTime{static_cast<int64_t>(static_cast<uint64_t>(time.dwHighDateTime) << 32 | time.dwLowDateTime)};
}

}  // namespace serverkit::ua
