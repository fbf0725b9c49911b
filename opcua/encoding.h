// The OPC UA binary encoding.
//
// Encoder appends little-endian bytes to a buffer; Decoder reads them back
// and stops at the first fault (a short buffer, a length past the limits, a
// nesting too deep, an unknown encoding byte), after which every read fails
// and status() tells why. Nothing read from the wire is trusted: lengths are
// checked against what is left and against the limits before anything is
// allocated.
//
// Structures describe their fields once, with OPCUA_FIELDS (see services.h);
// Encode and Decode below walk that description, so a structure's encoder
// and decoder cannot disagree.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <type_traits>
#include <vector>

#include "opcua/statuscodes.h"
#include "opcua/types.h"

namespace opcua {

// What a decoder accepts. The defaults are the stack's own limits; servers
// and clients may lower them.
struct DecodeLimits {
  uint32_t maxStringLength = 1u << 20;       // bytes of a String, ByteString, XmlElement
  uint32_t maxArrayLength = 100000;          // elements of any array
  uint32_t maxDepth = 32;                    // nested Variants, DataValues, ExtensionObjects, DiagnosticInfos
};

class Encoder {
 public:
  Encoder() = default;
  explicit Encoder(std::vector<uint8_t>& out) : m_out(&out) {}

  void U8(uint8_t v) { Buffer().push_back(v); }
  void U16(uint16_t v) { Little(v); }
  void U32(uint32_t v) { Little(v); }
  void U64(uint64_t v) { Little(v); }
  void Raw(const void* data, size_t size) {
    const auto* p = static_cast<const uint8_t*>(data);
    Buffer().insert(Buffer().end(), p, p + size);
  }
  // Overwrites four bytes already written, for lengths known only later.
  void PatchU32(size_t offset, uint32_t v) {
    for (int i = 0; i < 4; ++i) Buffer()[offset + i] = static_cast<uint8_t>(v >> (8 * i));
  }
  size_t size() const { return m_out ? m_out->size() : m_own.size(); }
  std::vector<uint8_t>& Buffer() { return m_out ? *m_out : m_own; }
  std::vector<uint8_t> Take() { return std::move(Buffer()); }

 private:
  template <class T>
  void Little(T v) {
    for (size_t i = 0; i < sizeof(T); ++i) Buffer().push_back(static_cast<uint8_t>(v >> (8 * i)));
  }
  std::vector<uint8_t> m_own;
  std::vector<uint8_t>* m_out = nullptr;
};

class Decoder {
 public:
  Decoder(const uint8_t* data, size_t size, const DecodeLimits& limits = DecodeLimits())
      : m_data(data), m_size(size), m_limits(limits), m_arrayBudget(kArrayMemoryPerByte * size + kArrayMemorySlack) {}
  explicit Decoder(const std::vector<uint8_t>& bytes, const DecodeLimits& limits = DecodeLimits())
      : Decoder(bytes.data(), bytes.size(), limits) {}

  bool ok() const { return m_status == status::Good; }
  StatusCode status() const { return m_status; }
  size_t position() const { return m_pos; }
  size_t remaining() const { return m_size - m_pos; }
  const DecodeLimits& limits() const { return m_limits; }
  // Records the first fault only; returns false for use in `return Fail(...)`.
  bool Fail(StatusCode s) {
    if (m_status == status::Good) m_status = s;
    m_pos = m_size;
    return false;
  }

  bool U8(uint8_t& v) { return Little(v); }
  bool U16(uint16_t& v) { return Little(v); }
  bool U32(uint32_t& v) { return Little(v); }
  bool U64(uint64_t& v) { return Little(v); }
  bool Raw(void* out, size_t size) {
    if (!Need(size)) return false;
    if (size != 0) std::memcpy(out, m_data + m_pos, size);
    m_pos += size;
    return true;
  }
  const uint8_t* Peek() const { return m_data + m_pos; }
  bool Skip(size_t size) {
    if (!Need(size)) return false;
    m_pos += size;
    return true;
  }
  // A length prefix: -1 is null, other negatives and lengths past `max` or
  // past the bytes left (at `minElementSize` each) are faults.
  bool Length(int32_t& length, bool& null, uint32_t max, size_t minElementSize);

  // Memory for decoded array elements. Each element is checked against the
  // bytes left, but one byte on the wire (a DataValue with nothing in it) can
  // be a hundred in memory, so all arrays of one message together may take at
  // most 32 times its size (and 4 MiB): a message cannot make the decoder
  // allocate many times what it carries. Legitimate messages stay well below
  // (a Browse result of references, the largest ratio, about 28).
  static constexpr size_t kArrayMemoryPerByte = 32;
  static constexpr size_t kArrayMemorySlack = 4u << 20;
  bool ChargeArray(size_t count, size_t elementSize) {
    if (elementSize != 0 && count > m_arrayBudget / elementSize) return Fail(status::BadEncodingLimitsExceeded);
    m_arrayBudget -= count * elementSize;
    return true;
  }

  // Nesting guard for recursive types.
  bool Enter() {
    if (++m_depth > m_limits.maxDepth) return Fail(status::BadEncodingLimitsExceeded);
    return true;
  }
  void Leave() { --m_depth; }

 private:
  bool Need(size_t size) {
    if (!ok()) return false;
    if (size > m_size - m_pos) return Fail(status::BadDecodingError);
    return true;
  }
  template <class T>
  bool Little(T& v) {
    if (!Need(sizeof(T))) return false;
    T x = 0;
    for (size_t i = 0; i < sizeof(T); ++i) x |= static_cast<T>(static_cast<T>(m_data[m_pos + i]) << (8 * i));
    v = x;
    m_pos += sizeof(T);
    return true;
  }

  const uint8_t* m_data;
  size_t m_size;
  size_t m_pos = 0;
  uint32_t m_depth = 0;
  DecodeLimits m_limits;
  size_t m_arrayBudget;
  StatusCode m_status = status::Good;
};

// --- built-in types ----------------------------------------------------------
void Encode(Encoder& e, bool v);
void Encode(Encoder& e, int8_t v);
void Encode(Encoder& e, uint8_t v);
void Encode(Encoder& e, int16_t v);
void Encode(Encoder& e, uint16_t v);
void Encode(Encoder& e, int32_t v);
void Encode(Encoder& e, uint32_t v);
void Encode(Encoder& e, int64_t v);
void Encode(Encoder& e, uint64_t v);
void Encode(Encoder& e, float v);
void Encode(Encoder& e, double v);
void Encode(Encoder& e, const String& v);
void Encode(Encoder& e, const DateTime& v);
void Encode(Encoder& e, const Guid& v);
void Encode(Encoder& e, const ByteString& v);
void Encode(Encoder& e, const XmlElement& v);
void Encode(Encoder& e, const NodeId& v);
void Encode(Encoder& e, const ExpandedNodeId& v);
void Encode(Encoder& e, const QualifiedName& v);
void Encode(Encoder& e, const LocalizedText& v);
void Encode(Encoder& e, const ExtensionObject& v);
void Encode(Encoder& e, const DataValue& v);
void Encode(Encoder& e, const Variant& v);
void Encode(Encoder& e, const DiagnosticInfo& v);

bool Decode(Decoder& d, bool& v);
bool Decode(Decoder& d, int8_t& v);
bool Decode(Decoder& d, uint8_t& v);
bool Decode(Decoder& d, int16_t& v);
bool Decode(Decoder& d, uint16_t& v);
bool Decode(Decoder& d, int32_t& v);
bool Decode(Decoder& d, uint32_t& v);
bool Decode(Decoder& d, int64_t& v);
bool Decode(Decoder& d, uint64_t& v);
bool Decode(Decoder& d, float& v);
bool Decode(Decoder& d, double& v);
bool Decode(Decoder& d, String& v);
bool Decode(Decoder& d, DateTime& v);
bool Decode(Decoder& d, Guid& v);
bool Decode(Decoder& d, ByteString& v);
bool Decode(Decoder& d, XmlElement& v);
bool Decode(Decoder& d, NodeId& v);
bool Decode(Decoder& d, ExpandedNodeId& v);
bool Decode(Decoder& d, QualifiedName& v);
bool Decode(Decoder& d, LocalizedText& v);
bool Decode(Decoder& d, ExtensionObject& v);
bool Decode(Decoder& d, DataValue& v);
bool Decode(Decoder& d, Variant& v);
bool Decode(Decoder& d, DiagnosticInfo& v);

// --- structures, enumerations and arrays -----------------------------------
// A structure lists its fields with OPCUA_FIELDS(a, b, c): one member
// template that hands every field, in wire order, to a visitor.
#define OPCUA_FIELDS(...)                  \
  template <class Visitor>                 \
  void Fields(Visitor&& visit) {           \
    visit(__VA_ARGS__);                    \
  }                                        \
  template <class Visitor>                 \
  void Fields(Visitor&& visit) const {     \
    visit(__VA_ARGS__);                    \
  }

template <class T>
concept Described = requires(T& t) { t.Fields([](auto&...) {}); };

template <class T>
  requires std::is_enum_v<T>
void Encode(Encoder& e, T v) {
  Encode(e, static_cast<int32_t>(v));
}
template <class T>
  requires std::is_enum_v<T>
bool Decode(Decoder& d, T& v) {
  int32_t raw = 0;
  if (!Decode(d, raw)) return false;
  v = static_cast<T>(raw);
  return true;
}

template <Described T>
void Encode(Encoder& e, const T& s);
template <Described T>
bool Decode(Decoder& d, T& s);

template <class T>
void Encode(Encoder& e, const std::vector<T>& a) {
  Encode(e, static_cast<int32_t>(a.size()));
  for (const T& x : a) Encode(e, x);
}
template <class T>
void Encode(Encoder& e, const Array<T>& a) {
  if (a.null && a.empty()) {
    Encode(e, int32_t{-1});
    return;
  }
  Encode(e, static_cast<const std::vector<T>&>(a));
}

// The least number of bytes one element of T takes on the wire, so that an
// array length can be checked against the bytes left before allocating.
template <class T>
constexpr size_t MinWireSize() {
  if constexpr (std::is_arithmetic_v<T> || std::is_enum_v<T>) return std::is_same_v<T, bool> ? 1 : sizeof(T) > 8 ? 8 : (std::is_enum_v<T> ? 4 : sizeof(T));
  else if constexpr (std::is_same_v<T, DateTime>) return 8;
  else if constexpr (std::is_same_v<T, Guid>) return 16;
  else if constexpr (std::is_same_v<T, String> || std::is_same_v<T, ByteString> || std::is_same_v<T, XmlElement>) return 4;
  else return 1;
}

template <class T>
bool DecodeElements(Decoder& d, std::vector<T>& a, bool& null) {
  int32_t n = 0;
  if (!d.Length(n, null, d.limits().maxArrayLength, MinWireSize<T>())) return false;
  a.clear();
  if (n <= 0) return true;
  if (!d.ChargeArray(static_cast<size_t>(n), sizeof(T))) return false;
  a.resize(static_cast<size_t>(n));
  for (auto& x : a) {
    if (!Decode(d, x)) return false;
  }
  return true;
}
template <class T>
bool Decode(Decoder& d, std::vector<T>& a) {
  bool null = false;
  return DecodeElements(d, a, null);
}
template <class T>
bool Decode(Decoder& d, Array<T>& a) {
  return DecodeElements(d, static_cast<std::vector<T>&>(a), a.null);
}
// std::vector<bool> hands out proxies, not references.
bool Decode(Decoder& d, std::vector<bool>& a);

template <Described T>
void Encode(Encoder& e, const T& s) {
  s.Fields([&e](const auto&... field) { (Encode(e, field), ...); });
}
template <Described T>
bool Decode(Decoder& d, T& s) {
  bool ok = true;
  s.Fields([&](auto&... field) { ok = (Decode(d, field) && ...); });
  return ok && d.ok();
}

// --- whole values ------------------------------------------------------------
template <class T>
std::vector<uint8_t> EncodeToBytes(const T& value) {
  Encoder e;
  Encode(e, value);
  return e.Take();
}
// Decodes `value` from all of `bytes`; trailing bytes are a fault.
template <class T>
StatusCode DecodeFromBytes(const uint8_t* data, size_t size, T& value,
                           const DecodeLimits& limits = DecodeLimits()) {
  Decoder d(data, size, limits);
  if (!Decode(d, value)) return d.ok() ? status::BadDecodingError : d.status();
  if (d.remaining() != 0) return status::BadDecodingError;
  return status::Good;
}

// Structures inside ExtensionObjects. T names its binary encoding id with
// `static constexpr uint32_t kBinaryEncodingId`.
template <class T>
ExtensionObject Pack(const T& value) {
  ExtensionObject x;
  x.typeId = NodeId(0, T::kBinaryEncodingId);
  x.encoding = ExtensionObject::Body::Binary;
  x.body = EncodeToBytes(value);
  return x;
}
// False when `x` does not hold a T or its body is damaged.
template <class T>
bool Unpack(const ExtensionObject& x, T& value, const DecodeLimits& limits = DecodeLimits()) {
  if (x.encoding != ExtensionObject::Body::Binary || !x.typeId.Is(0, T::kBinaryEncodingId)) return false;
  return DecodeFromBytes(x.body.data(), x.body.size(), value, limits) == status::Good;
}

}  // namespace opcua
