// The OPC UA built-in types as plain C++ values.
//
// Nullable texts and byte strings keep "null" apart from "empty", and arrays
// keep a null array apart from an empty one, so that a message decoded and
// encoded again gives the same bytes. Variant holds one built-in type, as a
// scalar or an array (with its dimensions when it has more than one).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "opcua/statuscodes.h"

namespace opcua {

// The built-in type ids, as they appear in a Variant's encoding byte.
enum class BuiltinType : uint8_t {
  Null = 0,
  Boolean = 1,
  SByte = 2,
  Byte = 3,
  Int16 = 4,
  UInt16 = 5,
  Int32 = 6,
  UInt32 = 7,
  Int64 = 8,
  UInt64 = 9,
  Float = 10,
  Double = 11,
  String = 12,
  DateTime = 13,
  Guid = 14,
  ByteString = 15,
  XmlElement = 16,
  NodeId = 17,
  ExpandedNodeId = 18,
  StatusCode = 19,
  QualifiedName = 20,
  LocalizedText = 21,
  ExtensionObject = 22,
  DataValue = 23,
  Variant = 24,
  DiagnosticInfo = 25,
};
constexpr int kBuiltinTypeCount = 26;

// A text that may be null.
class String {
 public:
  String() = default;
  String(std::string text) : m_text(std::move(text)), m_null(false) {}
  String(std::string_view text) : m_text(text), m_null(false) {}
  String(const char* text) : m_null(text == nullptr) {
    if (text != nullptr) m_text = text;
  }
  bool null() const { return m_null; }
  const std::string& str() const { return m_text; }
  bool empty() const { return m_text.empty(); }
  bool operator==(const String&) const = default;

 private:
  std::string m_text;
  bool m_null = true;
};

// A byte string that may be null.
class ByteString {
 public:
  ByteString() = default;
  ByteString(std::vector<uint8_t> bytes) : m_bytes(std::move(bytes)), m_null(false) {}
  static ByteString FromText(std::string_view text) {
    return ByteString(std::vector<uint8_t>(text.begin(), text.end()));
  }
  bool null() const { return m_null; }
  const std::vector<uint8_t>& bytes() const { return m_bytes; }
  size_t size() const { return m_bytes.size(); }
  bool operator==(const ByteString&) const = default;

 private:
  std::vector<uint8_t> m_bytes;
  bool m_null = true;
};

struct XmlElement {
  String text;
  bool operator==(const XmlElement&) const = default;
};

// 100-nanosecond intervals since 1601-01-01 UTC (the FILETIME epoch); 0 is
// "no time".
struct DateTime {
  int64_t ticks = 0;
  static DateTime Now();
  static DateTime FromUnixMillis(int64_t ms) { return {ms * 10000 + 116444736000000000LL}; }
  int64_t UnixMillis() const { return (ticks - 116444736000000000LL) / 10000; }
  bool operator==(const DateTime&) const = default;
  auto operator<=>(const DateTime&) const = default;
};

struct Guid {
  uint32_t data1 = 0;
  uint16_t data2 = 0;
  uint16_t data3 = 0;
  uint8_t data4[8] = {};
  bool operator==(const Guid&) const = default;
};

// A node's identifier: namespace index and a numeric, text, GUID or opaque id.
struct NodeId {
  enum class Kind : uint8_t { Numeric, String, Guid, Opaque };
  uint16_t namespaceIndex = 0;
  Kind kind = Kind::Numeric;
  uint32_t numeric = 0;
  std::string text;      // Kind::String
  ByteString opaque;     // Kind::Opaque
  opcua::Guid guid;      // Kind::Guid

  NodeId() = default;
  NodeId(uint16_t ns, uint32_t id) : namespaceIndex(ns), numeric(id) {}
  static NodeId Numeric(uint16_t ns, uint32_t id) { return NodeId(ns, id); }
  static NodeId Text(uint16_t ns, std::string id) {
    NodeId n;
    n.namespaceIndex = ns;
    n.kind = Kind::String;
    n.text = std::move(id);
    return n;
  }
  bool IsNull() const { return namespaceIndex == 0 && kind == Kind::Numeric && numeric == 0; }
  bool Is(uint16_t ns, uint32_t id) const {
    return kind == Kind::Numeric && namespaceIndex == ns && numeric == id;
  }
  bool operator==(const NodeId&) const = default;
  // "ns=1;s=Tags", "i=85", "ns=2;g=...", "ns=3;b=<base64>".
  std::string ToString() const;
};

struct NodeIdHash {
  size_t operator()(const NodeId& id) const;
};

struct ExpandedNodeId {
  NodeId nodeId;
  String namespaceUri;
  uint32_t serverIndex = 0;
  bool operator==(const ExpandedNodeId&) const = default;
};

struct QualifiedName {
  uint16_t namespaceIndex = 0;
  String name;
  bool operator==(const QualifiedName&) const = default;
};

struct LocalizedText {
  String locale;
  String text;
  LocalizedText() = default;
  LocalizedText(String t) : text(std::move(t)) {}
  LocalizedText(const char* t) : text(t) {}
  bool operator==(const LocalizedText&) const = default;
};

// A structure carried by reference to its encoding: the body stays encoded
// until the receiver unpacks it (see Unpack in encoding.h).
struct ExtensionObject {
  enum class Body : uint8_t { None = 0, Binary = 1, Xml = 2 };
  NodeId typeId;
  Body encoding = Body::None;
  std::vector<uint8_t> body;
  bool operator==(const ExtensionObject&) const = default;
};

// An array that knows whether it was null (length -1) on the wire.
template <class T>
struct Array : std::vector<T> {
  using std::vector<T>::vector;
  Array() = default;
  Array(std::vector<T> v) : std::vector<T>(std::move(v)) {}
  bool null = false;
  bool operator==(const Array& o) const {
    return null == o.null && static_cast<const std::vector<T>&>(*this) == o;
  }
};

struct DataValue;
struct DiagnosticInfo;
class Variant;

// Alternative i holds values of built-in type i.
using VariantValues =
    std::variant<std::monostate, std::vector<bool>, std::vector<int8_t>, std::vector<uint8_t>,
                 std::vector<int16_t>, std::vector<uint16_t>, std::vector<int32_t>,
                 std::vector<uint32_t>, std::vector<int64_t>, std::vector<uint64_t>,
                 std::vector<float>, std::vector<double>, std::vector<String>,
                 std::vector<DateTime>, std::vector<Guid>, std::vector<ByteString>,
                 std::vector<XmlElement>, std::vector<NodeId>, std::vector<ExpandedNodeId>,
                 std::vector<StatusCode>, std::vector<QualifiedName>, std::vector<LocalizedText>,
                 std::vector<ExtensionObject>, std::vector<DataValue>, std::vector<Variant>,
                 std::vector<DiagnosticInfo>>;

class Variant {
 public:
  // Out of line: the alternatives hold DataValue and DiagnosticInfo, which
  // are complete only below, and some compilers define inline special
  // members where they are first named.
  Variant();
  ~Variant();
  Variant(const Variant&);
  Variant(Variant&&) noexcept;
  Variant& operator=(const Variant&);
  Variant& operator=(Variant&&) noexcept;

  template <BuiltinType T, class V>
  static Variant Scalar(V value) {
    Variant v;
    v.m_values.template emplace<static_cast<size_t>(T)>();
    std::get<static_cast<size_t>(T)>(v.m_values).push_back(std::move(value));
    return v;
  }
  template <BuiltinType T, class V>
  static Variant ArrayOf(std::vector<V> values) {
    Variant v;
    v.m_values.template emplace<static_cast<size_t>(T)>(std::move(values));
    v.m_array = true;
    return v;
  }

  BuiltinType type() const { return static_cast<BuiltinType>(m_values.index()); }
  bool IsNull() const { return m_values.index() == 0; }
  bool IsArray() const { return m_array; }
  bool IsScalar() const { return !m_array && !IsNull(); }
  size_t Length() const;

  // The values as a vector of built-in type T (one element for a scalar).
  template <BuiltinType T>
  auto& Values() {
    return std::get<static_cast<size_t>(T)>(m_values);
  }
  template <BuiltinType T>
  const auto& Values() const {
    return std::get<static_cast<size_t>(T)>(m_values);
  }
  template <BuiltinType T>
  bool Holds() const {
    return m_values.index() == static_cast<size_t>(T);
  }

  VariantValues& values() { return m_values; }
  const VariantValues& values() const { return m_values; }
  void SetArray(bool array) { m_array = array; }
  // Dimensions, for an array of more than one dimension; empty otherwise.
  std::vector<int32_t>& dimensions() { return m_dimensions; }
  const std::vector<int32_t>& dimensions() const { return m_dimensions; }

  bool operator==(const Variant& o) const;

 private:
  VariantValues m_values;
  bool m_array = false;
  std::vector<int32_t> m_dimensions;
};

struct DataValue {
  Variant value;
  StatusCode status = status::Good;
  DateTime sourceTimestamp;
  DateTime serverTimestamp;
  uint16_t sourcePicoseconds = 0;
  uint16_t serverPicoseconds = 0;
  // Which fields are on the wire; set by the decoder, and by whoever fills
  // the value in (Encode writes a field when its flag is set).
  bool hasValue = false;
  bool hasStatus = false;
  bool hasSourceTimestamp = false;
  bool hasServerTimestamp = false;
  bool hasSourcePicoseconds = false;
  bool hasServerPicoseconds = false;
  bool operator==(const DataValue&) const = default;
};

struct DiagnosticInfo {
  // A field is on the wire when its flag is set.
  bool hasSymbolicId = false, hasNamespaceUri = false, hasLocalizedText = false,
       hasLocale = false, hasAdditionalInfo = false, hasInnerStatusCode = false,
       hasInnerDiagnosticInfo = false;
  int32_t symbolicId = 0;
  int32_t namespaceUri = 0;
  int32_t localizedText = 0;
  int32_t locale = 0;
  String additionalInfo;
  StatusCode innerStatusCode = 0;
  std::shared_ptr<DiagnosticInfo> innerDiagnosticInfo;
  bool operator==(const DiagnosticInfo& o) const;
};

}  // namespace opcua
