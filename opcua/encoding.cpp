// Wire forms of the built-in types.
#include "opcua/encoding.h"

#include <bit>
#include <chrono>
#include <cstdio>
#include <functional>

namespace opcua {

// --- Decoder ----------------------------------------------------------------
bool Decoder::Length(int32_t& length, bool& null, uint32_t max, size_t minElementSize) {
  uint32_t raw = 0;
  if (!U32(raw)) return false;
  length = static_cast<int32_t>(raw);
  null = length == -1;
  if (length < -1) return Fail(status::BadDecodingError);
  if (length <= 0) return true;
  if (static_cast<uint32_t>(length) > max) return Fail(status::BadEncodingLimitsExceeded);
  if (static_cast<uint64_t>(length) * minElementSize > remaining()) return Fail(status::BadDecodingError);
  return true;
}

// --- types.h helpers ---------------------------------------------------------
DateTime DateTime::Now() {
  using namespace std::chrono;
  const auto since = duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
  return {since * 10 + 116444736000000000LL};
}

std::string NodeId::ToString() const {
  std::string out;
  if (namespaceIndex != 0) out = "ns=" + std::to_string(namespaceIndex) + ";";
  switch (kind) {
    case Kind::Numeric:
      out += "i=" + std::to_string(numeric);
      break;
    case Kind::String:
      out += "s=" + text;
      break;
    case Kind::Guid: {
      char buf[48];
      std::snprintf(buf, sizeof buf, "g=%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X", guid.data1,
                    guid.data2, guid.data3, guid.data4[0], guid.data4[1], guid.data4[2], guid.data4[3],
                    guid.data4[4], guid.data4[5], guid.data4[6], guid.data4[7]);
      out += buf;
      break;
    }
    case Kind::Opaque: {
      out += "b=";
      static const char* digits = "0123456789ABCDEF";
      for (uint8_t b : opaque.bytes()) {
        out += digits[b >> 4];
        out += digits[b & 15];
      }
      break;
    }
  }
  return out;
}

size_t NodeIdHash::operator()(const NodeId& id) const {
  size_t h = std::hash<uint32_t>()(id.namespaceIndex * 31u + static_cast<uint32_t>(id.kind));
  switch (id.kind) {
    case NodeId::Kind::Numeric:
      return h ^ std::hash<uint32_t>()(id.numeric);
    case NodeId::Kind::String:
      return h ^ std::hash<std::string>()(id.text);
    case NodeId::Kind::Guid:
      return h ^ std::hash<uint32_t>()(id.guid.data1);
    case NodeId::Kind::Opaque:
      return h ^ std::hash<size_t>()(id.opaque.size());
  }
  return h;
}

size_t Variant::Length() const {
  return std::visit(
      [](const auto& v) -> size_t {
        if constexpr (std::is_same_v<std::decay_t<decltype(v)>, std::monostate>) return 0;
        else return v.size();
      },
      m_values);
}

bool Variant::operator==(const Variant& o) const {
  return m_array == o.m_array && m_dimensions == o.m_dimensions && m_values == o.m_values;
}

bool DiagnosticInfo::operator==(const DiagnosticInfo& o) const {
  const bool innerSame = (innerDiagnosticInfo == nullptr) == (o.innerDiagnosticInfo == nullptr) &&
                         (innerDiagnosticInfo == nullptr || *innerDiagnosticInfo == *o.innerDiagnosticInfo);
  return hasSymbolicId == o.hasSymbolicId && hasNamespaceUri == o.hasNamespaceUri &&
         hasLocalizedText == o.hasLocalizedText && hasLocale == o.hasLocale &&
         hasAdditionalInfo == o.hasAdditionalInfo && hasInnerStatusCode == o.hasInnerStatusCode &&
         hasInnerDiagnosticInfo == o.hasInnerDiagnosticInfo && symbolicId == o.symbolicId &&
         namespaceUri == o.namespaceUri && localizedText == o.localizedText && locale == o.locale &&
         additionalInfo == o.additionalInfo && innerStatusCode == o.innerStatusCode && innerSame;
}

// --- numbers -------------------------------------------------------------------
void Encode(Encoder& e, bool v) { e.U8(v ? 1 : 0); }
void Encode(Encoder& e, int8_t v) { e.U8(static_cast<uint8_t>(v)); }
void Encode(Encoder& e, uint8_t v) { e.U8(v); }
void Encode(Encoder& e, int16_t v) { e.U16(static_cast<uint16_t>(v)); }
void Encode(Encoder& e, uint16_t v) { e.U16(v); }
void Encode(Encoder& e, int32_t v) { e.U32(static_cast<uint32_t>(v)); }
void Encode(Encoder& e, uint32_t v) { e.U32(v); }
void Encode(Encoder& e, int64_t v) { e.U64(static_cast<uint64_t>(v)); }
void Encode(Encoder& e, uint64_t v) { e.U64(v); }
void Encode(Encoder& e, float v) { e.U32(std::bit_cast<uint32_t>(v)); }
void Encode(Encoder& e, double v) { e.U64(std::bit_cast<uint64_t>(v)); }

bool Decode(Decoder& d, bool& v) {
  uint8_t b = 0;
  if (!d.U8(b)) return false;
  v = b != 0;
  return true;
}
bool Decode(Decoder& d, int8_t& v) {
  uint8_t b = 0;
  if (!d.U8(b)) return false;
  v = static_cast<int8_t>(b);
  return true;
}
bool Decode(Decoder& d, uint8_t& v) { return d.U8(v); }
bool Decode(Decoder& d, int16_t& v) {
  uint16_t x = 0;
  if (!d.U16(x)) return false;
  v = static_cast<int16_t>(x);
  return true;
}
bool Decode(Decoder& d, uint16_t& v) { return d.U16(v); }
bool Decode(Decoder& d, int32_t& v) {
  uint32_t x = 0;
  if (!d.U32(x)) return false;
  v = static_cast<int32_t>(x);
  return true;
}
bool Decode(Decoder& d, uint32_t& v) { return d.U32(v); }
bool Decode(Decoder& d, int64_t& v) {
  uint64_t x = 0;
  if (!d.U64(x)) return false;
  v = static_cast<int64_t>(x);
  return true;
}
bool Decode(Decoder& d, uint64_t& v) { return d.U64(v); }
bool Decode(Decoder& d, float& v) {
  uint32_t x = 0;
  if (!d.U32(x)) return false;
  v = std::bit_cast<float>(x);
  return true;
}
bool Decode(Decoder& d, double& v) {
  uint64_t x = 0;
  if (!d.U64(x)) return false;
  v = std::bit_cast<double>(x);
  return true;
}

bool Decode(Decoder& d, std::vector<bool>& a) {
  int32_t n = 0;
  bool null = false;
  if (!d.Length(n, null, d.limits().maxArrayLength, 1)) return false;
  a.assign(n > 0 ? static_cast<size_t>(n) : 0, false);
  for (size_t i = 0; i < a.size(); ++i) {
    bool b = false;
    if (!Decode(d, b)) return false;
    a[i] = b;
  }
  return true;
}

// --- texts and bytes -----------------------------------------------------------
namespace {

void EncodeBytes(Encoder& e, bool null, const void* data, size_t size) {
  if (null) {
    e.U32(0xFFFFFFFFu);
    return;
  }
  e.U32(static_cast<uint32_t>(size));
  e.Raw(data, size);
}

bool DecodeBytes(Decoder& d, bool& null, std::string& out) {
  int32_t n = 0;
  if (!d.Length(n, null, d.limits().maxStringLength, 1)) return false;
  out.clear();
  if (n > 0) {
    out.resize(static_cast<size_t>(n));
    return d.Raw(out.data(), out.size());
  }
  return true;
}

}  // namespace

void Encode(Encoder& e, const String& v) { EncodeBytes(e, v.null(), v.str().data(), v.str().size()); }
bool Decode(Decoder& d, String& v) {
  bool null = false;
  std::string text;
  if (!DecodeBytes(d, null, text)) return false;
  v = null ? String() : String(std::move(text));
  return true;
}

void Encode(Encoder& e, const ByteString& v) {
  EncodeBytes(e, v.null(), v.bytes().data(), v.bytes().size());
}
bool Decode(Decoder& d, ByteString& v) {
  bool null = false;
  std::string text;
  if (!DecodeBytes(d, null, text)) return false;
  v = null ? ByteString() : ByteString::FromText(text);
  return true;
}

void Encode(Encoder& e, const XmlElement& v) { Encode(e, v.text); }
bool Decode(Decoder& d, XmlElement& v) { return Decode(d, v.text); }

void Encode(Encoder& e, const DateTime& v) { Encode(e, v.ticks); }
bool Decode(Decoder& d, DateTime& v) { return Decode(d, v.ticks); }

void Encode(Encoder& e, const Guid& v) {
  e.U32(v.data1);
  e.U16(v.data2);
  e.U16(v.data3);
  e.Raw(v.data4, 8);
}
bool Decode(Decoder& d, Guid& v) {
  return d.U32(v.data1) && d.U16(v.data2) && d.U16(v.data3) && d.Raw(v.data4, 8);
}

// --- NodeId ------------------------------------------------------------------------
namespace {

constexpr uint8_t kNodeTwoByte = 0, kNodeFourByte = 1, kNodeNumeric = 2, kNodeString = 3, kNodeGuid = 4,
                  kNodeOpaque = 5;
constexpr uint8_t kExpandedUri = 0x80, kExpandedServer = 0x40;

void EncodeNodeId(Encoder& e, const NodeId& v, uint8_t flags) {
  switch (v.kind) {
    case NodeId::Kind::Numeric:
      if (v.namespaceIndex == 0 && v.numeric <= 0xFF) {
        e.U8(kNodeTwoByte | flags);
        e.U8(static_cast<uint8_t>(v.numeric));
      } else if (v.namespaceIndex <= 0xFF && v.numeric <= 0xFFFF) {
        e.U8(kNodeFourByte | flags);
        e.U8(static_cast<uint8_t>(v.namespaceIndex));
        e.U16(static_cast<uint16_t>(v.numeric));
      } else {
        e.U8(kNodeNumeric | flags);
        e.U16(v.namespaceIndex);
        e.U32(v.numeric);
      }
      return;
    case NodeId::Kind::String:
      e.U8(kNodeString | flags);
      e.U16(v.namespaceIndex);
      Encode(e, String(v.text));
      return;
    case NodeId::Kind::Guid:
      e.U8(kNodeGuid | flags);
      e.U16(v.namespaceIndex);
      Encode(e, v.guid);
      return;
    case NodeId::Kind::Opaque:
      e.U8(kNodeOpaque | flags);
      e.U16(v.namespaceIndex);
      Encode(e, v.opaque);
      return;
  }
}

bool DecodeNodeId(Decoder& d, NodeId& v, uint8_t& flags) {
  uint8_t form = 0;
  if (!d.U8(form)) return false;
  flags = form & 0xC0;
  v = NodeId();
  switch (form & 0x3F) {
    case kNodeTwoByte: {
      uint8_t id = 0;
      if (!d.U8(id)) return false;
      v.numeric = id;
      return true;
    }
    case kNodeFourByte: {
      uint8_t ns = 0;
      uint16_t id = 0;
      if (!d.U8(ns) || !d.U16(id)) return false;
      v.namespaceIndex = ns;
      v.numeric = id;
      return true;
    }
    case kNodeNumeric:
      return d.U16(v.namespaceIndex) && d.U32(v.numeric);
    case kNodeString: {
      String text;
      if (!d.U16(v.namespaceIndex) || !Decode(d, text)) return false;
      v.kind = NodeId::Kind::String;
      v.text = text.str();
      return true;
    }
    case kNodeGuid:
      v.kind = NodeId::Kind::Guid;
      return d.U16(v.namespaceIndex) && Decode(d, v.guid);
    case kNodeOpaque:
      v.kind = NodeId::Kind::Opaque;
      return d.U16(v.namespaceIndex) && Decode(d, v.opaque);
    default:
      return d.Fail(status::BadDecodingError);
  }
}

}  // namespace

void Encode(Encoder& e, const NodeId& v) { EncodeNodeId(e, v, 0); }
bool Decode(Decoder& d, NodeId& v) {
  uint8_t flags = 0;
  if (!DecodeNodeId(d, v, flags)) return false;
  if (flags != 0) return d.Fail(status::BadDecodingError);
  return true;
}

void Encode(Encoder& e, const ExpandedNodeId& v) {
  const uint8_t flags = (v.namespaceUri.null() ? 0 : kExpandedUri) | (v.serverIndex != 0 ? kExpandedServer : 0);
  EncodeNodeId(e, v.nodeId, flags);
  if (!v.namespaceUri.null()) Encode(e, v.namespaceUri);
  if (v.serverIndex != 0) e.U32(v.serverIndex);
}
bool Decode(Decoder& d, ExpandedNodeId& v) {
  uint8_t flags = 0;
  v = ExpandedNodeId();
  if (!DecodeNodeId(d, v.nodeId, flags)) return false;
  if ((flags & kExpandedUri) && !Decode(d, v.namespaceUri)) return false;
  if ((flags & kExpandedServer) && !d.U32(v.serverIndex)) return false;
  return true;
}

// --- names and texts -----------------------------------------------------------------
void Encode(Encoder& e, const QualifiedName& v) {
  e.U16(v.namespaceIndex);
  Encode(e, v.name);
}
bool Decode(Decoder& d, QualifiedName& v) { return d.U16(v.namespaceIndex) && Decode(d, v.name); }

void Encode(Encoder& e, const LocalizedText& v) {
  e.U8((v.locale.null() ? 0 : 1) | (v.text.null() ? 0 : 2));
  if (!v.locale.null()) Encode(e, v.locale);
  if (!v.text.null()) Encode(e, v.text);
}
bool Decode(Decoder& d, LocalizedText& v) {
  uint8_t mask = 0;
  if (!d.U8(mask)) return false;
  if (mask & ~0x03) return d.Fail(status::BadDecodingError);
  v = LocalizedText();
  if ((mask & 1) && !Decode(d, v.locale)) return false;
  if ((mask & 2) && !Decode(d, v.text)) return false;
  return true;
}

// --- ExtensionObject -----------------------------------------------------------------
void Encode(Encoder& e, const ExtensionObject& v) {
  Encode(e, v.typeId);
  e.U8(static_cast<uint8_t>(v.encoding));
  if (v.encoding != ExtensionObject::Body::None) {
    e.U32(static_cast<uint32_t>(v.body.size()));
    e.Raw(v.body.data(), v.body.size());
  }
}
bool Decode(Decoder& d, ExtensionObject& v) {
  uint8_t encoding = 0;
  v = ExtensionObject();
  if (!Decode(d, v.typeId) || !d.U8(encoding)) return false;
  if (encoding > 2) return d.Fail(status::BadDecodingError);
  v.encoding = static_cast<ExtensionObject::Body>(encoding);
  if (v.encoding == ExtensionObject::Body::None) return true;
  int32_t n = 0;
  bool null = false;
  // A body may be as large as the message that carries it.
  if (!d.Length(n, null, UINT32_MAX, 1)) return false;
  if (n > 0) {
    v.body.resize(static_cast<size_t>(n));
    return d.Raw(v.body.data(), v.body.size());
  }
  return true;
}

// --- Variant -------------------------------------------------------------------------
namespace {

constexpr uint8_t kVariantArray = 0x80, kVariantDimensions = 0x40;

template <size_t I = 1>
bool EmplaceByType(VariantValues& values, size_t type) {
  if constexpr (I < std::variant_size_v<VariantValues>) {
    if (type == I) {
      values.emplace<I>();
      return true;
    }
    return EmplaceByType<I + 1>(values, type);
  } else {
    return false;
  }
}

}  // namespace

void Encode(Encoder& e, const Variant& v) {
  if (v.IsNull()) {
    e.U8(0);
    return;
  }
  const bool dims = v.IsArray() && !v.dimensions().empty();
  e.U8(static_cast<uint8_t>(static_cast<uint8_t>(v.type()) | (v.IsArray() ? kVariantArray : 0) |
                            (dims ? kVariantDimensions : 0)));
  std::visit(
      [&](const auto& values) {
        using V = std::decay_t<decltype(values)>;
        if constexpr (!std::is_same_v<V, std::monostate>) {
          if (v.IsArray()) {
            Encode(e, static_cast<int32_t>(values.size()));
          }
          for (const auto& x : values) {
            if constexpr (std::is_same_v<V, std::vector<bool>>) Encode(e, static_cast<bool>(x));
            else Encode(e, x);
            if (!v.IsArray()) break;
          }
        }
      },
      v.values());
  if (dims) Encode(e, v.dimensions());
}

bool Decode(Decoder& d, Variant& v) {
  uint8_t mask = 0;
  if (!d.U8(mask)) return false;
  v = Variant();
  const size_t type = mask & 0x3F;
  if (type == 0) {
    // Null carries no value; any array bits with it are nonsense.
    if (mask != 0) return d.Fail(status::BadDecodingError);
    return true;
  }
  if (type >= static_cast<size_t>(kBuiltinTypeCount)) return d.Fail(status::BadDecodingError);
  if ((mask & kVariantDimensions) && !(mask & kVariantArray)) return d.Fail(status::BadDecodingError);
  if (!d.Enter()) return false;
  EmplaceByType(v.values(), type);
  const bool array = (mask & kVariantArray) != 0;
  v.SetArray(array);
  bool ok = std::visit(
      [&](auto& values) -> bool {
        using V = std::decay_t<decltype(values)>;
        if constexpr (std::is_same_v<V, std::monostate>) {
          return d.Fail(status::BadDecodingError);
        } else if constexpr (std::is_same_v<V, std::vector<bool>>) {
          if (array) return Decode(d, values);
          bool b = false;
          if (!Decode(d, b)) return false;
          values.push_back(b);
          return true;
        } else {
          if (array) return Decode(d, values);
          values.emplace_back();
          return Decode(d, values.back());
        }
      },
      v.values());
  if (ok && (mask & kVariantDimensions)) {
    ok = Decode(d, v.dimensions());
    if (ok) {
      // The dimensions must describe exactly the elements sent.
      uint64_t product = v.dimensions().empty() ? 0 : 1;
      for (int32_t n : v.dimensions()) {
        if (n < 0) {
          ok = d.Fail(status::BadDecodingError);
          break;
        }
        product *= static_cast<uint64_t>(n);
        if (product > UINT32_MAX) break;
      }
      if (ok && product != v.Length()) ok = d.Fail(status::BadDecodingError);
    }
  }
  d.Leave();
  return ok && d.ok();
}

// --- DataValue -----------------------------------------------------------------------
void Encode(Encoder& e, const DataValue& v) {
  const uint8_t mask = (v.hasValue ? 0x01 : 0) | (v.hasStatus ? 0x02 : 0) | (v.hasSourceTimestamp ? 0x04 : 0) |
                       (v.hasServerTimestamp ? 0x08 : 0) | (v.hasSourcePicoseconds ? 0x10 : 0) |
                       (v.hasServerPicoseconds ? 0x20 : 0);
  e.U8(mask);
  if (v.hasValue) Encode(e, v.value);
  if (v.hasStatus) e.U32(v.status);
  if (v.hasSourceTimestamp) Encode(e, v.sourceTimestamp);
  if (v.hasSourcePicoseconds) e.U16(v.sourcePicoseconds);
  if (v.hasServerTimestamp) Encode(e, v.serverTimestamp);
  if (v.hasServerPicoseconds) e.U16(v.serverPicoseconds);
}
bool Decode(Decoder& d, DataValue& v) {
  uint8_t mask = 0;
  if (!d.U8(mask)) return false;
  if (mask & 0xC0) return d.Fail(status::BadDecodingError);
  if (!d.Enter()) return false;
  v = DataValue();
  v.hasValue = mask & 0x01;
  v.hasStatus = mask & 0x02;
  v.hasSourceTimestamp = mask & 0x04;
  v.hasServerTimestamp = mask & 0x08;
  v.hasSourcePicoseconds = mask & 0x10;
  v.hasServerPicoseconds = mask & 0x20;
  bool ok = (!v.hasValue || Decode(d, v.value)) && (!v.hasStatus || d.U32(v.status)) &&
            (!v.hasSourceTimestamp || Decode(d, v.sourceTimestamp)) &&
            (!v.hasSourcePicoseconds || d.U16(v.sourcePicoseconds)) &&
            (!v.hasServerTimestamp || Decode(d, v.serverTimestamp)) &&
            (!v.hasServerPicoseconds || d.U16(v.serverPicoseconds));
  d.Leave();
  return ok;
}

// --- DiagnosticInfo --------------------------------------------------------------------
void Encode(Encoder& e, const DiagnosticInfo& v) {
  const bool inner = v.hasInnerDiagnosticInfo && v.innerDiagnosticInfo != nullptr;
  e.U8((v.hasSymbolicId ? 0x01 : 0) | (v.hasNamespaceUri ? 0x02 : 0) | (v.hasLocalizedText ? 0x04 : 0) |
       (v.hasLocale ? 0x08 : 0) | (v.hasAdditionalInfo ? 0x10 : 0) | (v.hasInnerStatusCode ? 0x20 : 0) |
       (inner ? 0x40 : 0));
  if (v.hasSymbolicId) Encode(e, v.symbolicId);
  if (v.hasNamespaceUri) Encode(e, v.namespaceUri);
  if (v.hasLocale) Encode(e, v.locale);
  if (v.hasLocalizedText) Encode(e, v.localizedText);
  if (v.hasAdditionalInfo) Encode(e, v.additionalInfo);
  if (v.hasInnerStatusCode) e.U32(v.innerStatusCode);
  if (inner) Encode(e, *v.innerDiagnosticInfo);
}
bool Decode(Decoder& d, DiagnosticInfo& v) {
  uint8_t mask = 0;
  if (!d.U8(mask)) return false;
  if (mask & 0x80) return d.Fail(status::BadDecodingError);
  if (!d.Enter()) return false;
  v = DiagnosticInfo();
  v.hasSymbolicId = mask & 0x01;
  v.hasNamespaceUri = mask & 0x02;
  v.hasLocalizedText = mask & 0x04;
  v.hasLocale = mask & 0x08;
  v.hasAdditionalInfo = mask & 0x10;
  v.hasInnerStatusCode = mask & 0x20;
  v.hasInnerDiagnosticInfo = mask & 0x40;
  bool ok = (!v.hasSymbolicId || Decode(d, v.symbolicId)) && (!v.hasNamespaceUri || Decode(d, v.namespaceUri)) &&
            (!v.hasLocale || Decode(d, v.locale)) && (!v.hasLocalizedText || Decode(d, v.localizedText)) &&
            (!v.hasAdditionalInfo || Decode(d, v.additionalInfo)) &&
            (!v.hasInnerStatusCode || d.U32(v.innerStatusCode));
  if (ok && v.hasInnerDiagnosticInfo) {
    v.innerDiagnosticInfo = std::make_shared<DiagnosticInfo>();
    ok = Decode(d, *v.innerDiagnosticInfo);
  }
  d.Leave();
  return ok;
}

}  // namespace opcua
