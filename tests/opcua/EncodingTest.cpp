// The binary encoding: exact bytes of the built-in types, round trips of
// nested values, and the decoder's refusals of damaged or hostile input.
#include <gtest/gtest.h>

#include "opcua/encoding.h"
#include "opcua/services.h"

using namespace opcua;

namespace {

template <class T>
std::vector<uint8_t> Bytes(const T& v) {
  return EncodeToBytes(v);
}

template <class T>
T RoundTrip(const T& v) {
  const auto bytes = EncodeToBytes(v);
  T back{};
  EXPECT_EQ(DecodeFromBytes(bytes.data(), bytes.size(), back), status::Good);
  EXPECT_EQ(EncodeToBytes(back), bytes);
  return back;
}

std::vector<uint8_t> V(std::initializer_list<int> l) {
  std::vector<uint8_t> v;
  for (int x : l) v.push_back(static_cast<uint8_t>(x));
  return v;
}

}  // namespace

TEST(OpcuaEncoding, NodeIdPicksTheShortestForm) {
  EXPECT_EQ(Bytes(NodeId(0, 85)), V({0x00, 85}));
  EXPECT_EQ(Bytes(NodeId(1, 1000)), V({0x01, 1, 0xE8, 0x03}));
  EXPECT_EQ(Bytes(NodeId(0, 70000)), V({0x02, 0, 0, 0x70, 0x11, 0x01, 0x00}));
  EXPECT_EQ(Bytes(NodeId(300, 5)), V({0x02, 0x2C, 0x01, 5, 0, 0, 0}));
  EXPECT_EQ(Bytes(NodeId::Text(1, "Tags")), V({0x03, 1, 0, 4, 0, 0, 0, 'T', 'a', 'g', 's'}));
  NodeId g;
  g.kind = NodeId::Kind::Guid;
  g.namespaceIndex = 2;
  g.guid.data1 = 0x01020304;
  g.guid.data4[7] = 9;
  EXPECT_EQ(RoundTrip(g), g);
  NodeId b;
  b.kind = NodeId::Kind::Opaque;
  b.opaque = ByteString(V({1, 2, 3}));
  EXPECT_EQ(RoundTrip(b), b);
  EXPECT_EQ(NodeId::Text(1, "Tags").ToString(), "ns=1;s=Tags");
  EXPECT_EQ(NodeId(0, 85).ToString(), "i=85");
}

TEST(OpcuaEncoding, ExpandedNodeIdFlagsAndPlainNodeIdRefusesThem) {
  ExpandedNodeId x;
  x.nodeId = NodeId(0, 5);
  x.namespaceUri = String("urn:x");
  x.serverIndex = 3;
  const auto bytes = Bytes(x);
  EXPECT_EQ(bytes[0], 0xC0);
  EXPECT_EQ(RoundTrip(x), x);
  NodeId plain;
  EXPECT_NE(DecodeFromBytes(bytes.data(), bytes.size(), plain), status::Good);
  const auto unknownForm = V({0x06, 0, 0});
  EXPECT_NE(DecodeFromBytes(unknownForm.data(), unknownForm.size(), plain), status::Good);
}

TEST(OpcuaEncoding, NullAndEmptyStringsStayApart) {
  EXPECT_EQ(Bytes(String()), V({0xFF, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(Bytes(String("")), V({0, 0, 0, 0}));
  EXPECT_TRUE(RoundTrip(String()).null());
  EXPECT_FALSE(RoundTrip(String("")).null());
  Array<int32_t> nullArray;
  nullArray.null = true;
  EXPECT_EQ(Bytes(nullArray), V({0xFF, 0xFF, 0xFF, 0xFF}));
  EXPECT_TRUE(RoundTrip(nullArray).null);
  LocalizedText t;
  t.text = String("hi");
  EXPECT_EQ(Bytes(t), V({0x02, 2, 0, 0, 0, 'h', 'i'}));
  EXPECT_EQ(RoundTrip(t), t);
}

TEST(OpcuaEncoding, ScalarsAndArraysOfEveryBuiltinTypeRoundTrip) {
  std::vector<Variant> values = {
      Variant::Scalar<BuiltinType::Boolean>(true),
      Variant::Scalar<BuiltinType::SByte>(int8_t{-5}),
      Variant::Scalar<BuiltinType::Byte>(uint8_t{200}),
      Variant::Scalar<BuiltinType::Int16>(int16_t{-300}),
      Variant::Scalar<BuiltinType::UInt16>(uint16_t{60000}),
      Variant::Scalar<BuiltinType::Int32>(int32_t{-70000}),
      Variant::Scalar<BuiltinType::UInt32>(uint32_t{4000000000u}),
      Variant::Scalar<BuiltinType::Int64>(int64_t{-1} << 40),
      Variant::Scalar<BuiltinType::UInt64>(uint64_t{1} << 63),
      Variant::Scalar<BuiltinType::Float>(1.5f),
      Variant::Scalar<BuiltinType::Double>(-2.25),
      Variant::Scalar<BuiltinType::String>(String("Größe")),
      Variant::Scalar<BuiltinType::DateTime>(DateTime{132000000000000000LL}),
      Variant::Scalar<BuiltinType::Guid>(Guid{1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}}),
      Variant::Scalar<BuiltinType::ByteString>(ByteString(V({0, 1, 255}))),
      Variant::Scalar<BuiltinType::XmlElement>(XmlElement{String("<a/>")}),
      Variant::Scalar<BuiltinType::NodeId>(NodeId::Text(1, "x")),
      Variant::Scalar<BuiltinType::ExpandedNodeId>(ExpandedNodeId{NodeId(0, 1), String("u"), 0}),
      Variant::Scalar<BuiltinType::StatusCode>(status::BadNodeIdUnknown),
      Variant::Scalar<BuiltinType::QualifiedName>(QualifiedName{1, String("n")}),
      Variant::Scalar<BuiltinType::LocalizedText>(LocalizedText("t")),
      Variant::Scalar<BuiltinType::ExtensionObject>(Pack(AnonymousIdentityToken{String("anon")})),
      Variant::ArrayOf<BuiltinType::Double>(std::vector<double>{1, 2, 3}),
      Variant::ArrayOf<BuiltinType::Boolean>(std::vector<bool>{true, false}),
      Variant::ArrayOf<BuiltinType::String>(std::vector<String>{String("a"), String()}),
  };
  DataValue inner;
  inner.hasValue = inner.hasStatus = inner.hasSourceTimestamp = inner.hasServerPicoseconds = true;
  inner.value = Variant::Scalar<BuiltinType::Int16>(int16_t{7});
  inner.status = status::Uncertain;
  inner.sourceTimestamp = DateTime{5};
  inner.serverPicoseconds = 9;
  values.push_back(Variant::Scalar<BuiltinType::DataValue>(inner));
  values.push_back(Variant::ArrayOf<BuiltinType::Variant>(std::vector<Variant>{values[0], values[22]}));
  DiagnosticInfo diag;
  diag.hasSymbolicId = diag.hasLocale = diag.hasAdditionalInfo = diag.hasInnerDiagnosticInfo = true;
  diag.symbolicId = 4;
  diag.locale = 2;
  diag.additionalInfo = String("more");
  diag.innerDiagnosticInfo = std::make_shared<DiagnosticInfo>();
  diag.innerDiagnosticInfo->hasInnerStatusCode = true;
  diag.innerDiagnosticInfo->innerStatusCode = status::BadTimeout;
  values.push_back(Variant::Scalar<BuiltinType::DiagnosticInfo>(diag));

  for (const Variant& v : values) {
    SCOPED_TRACE(static_cast<int>(v.type()));
    const Variant back = RoundTrip(v);
    EXPECT_EQ(back, v);
    EXPECT_EQ(back.type(), v.type());
  }
  EXPECT_EQ(Bytes(values[4]), V({0x05, 0x60, 0xEA}));
  EXPECT_EQ(Bytes(values[22])[0], 0x80 | 11);
}

TEST(OpcuaEncoding, MultiDimensionalArraysCarryTheirDimensions) {
  Variant m = Variant::ArrayOf<BuiltinType::Int32>(std::vector<int32_t>{1, 2, 3, 4, 5, 6});
  m.dimensions() = {2, 3};
  auto bytes = Bytes(m);
  EXPECT_EQ(bytes[0], 0xC6);
  EXPECT_EQ(RoundTrip(m), m);
  // Dimensions that do not describe the elements sent are refused.
  bytes[bytes.size() - 4] = 4;
  Variant back;
  EXPECT_EQ(DecodeFromBytes(bytes.data(), bytes.size(), back), status::BadDecodingError);
}

TEST(OpcuaEncoding, DecoderRefusesHostileLengthsDepthAndTruncation) {
  Variant back;
  // An Int32 array claiming 2^31-1 elements in six bytes.
  auto huge = V({0x86, 0xFF, 0xFF, 0xFF, 0x7F, 0});
  EXPECT_NE(DecodeFromBytes(huge.data(), huge.size(), back), status::Good);
  // Length -2 is no length at all; -1 is a null array.
  auto minus2 = V({0x86, 0xFE, 0xFF, 0xFF, 0xFF});
  EXPECT_EQ(DecodeFromBytes(minus2.data(), minus2.size(), back), status::BadDecodingError);
  auto minus1 = V({0x86, 0xFF, 0xFF, 0xFF, 0xFF});
  EXPECT_EQ(DecodeFromBytes(minus1.data(), minus1.size(), back), status::Good);
  EXPECT_EQ(back.Length(), 0u);
  // Past the string limit.
  DecodeLimits tight;
  tight.maxStringLength = 4;
  String s;
  auto five = Bytes(String("12345"));
  EXPECT_EQ(DecodeFromBytes(five.data(), five.size(), s, tight), status::BadEncodingLimitsExceeded);
  // Variants nested past the depth limit.
  std::vector<uint8_t> nested;
  for (int i = 0; i < 100; ++i) {
    nested.push_back(0x17);  // DataValue scalar
    nested.push_back(0x01);  // that has a value
  }
  nested.push_back(0);
  EXPECT_EQ(DecodeFromBytes(nested.data(), nested.size(), back), status::BadEncodingLimitsExceeded);
  // Unknown built-in type id and every truncation of a good value.
  auto unknown = V({0x1F, 0});
  EXPECT_NE(DecodeFromBytes(unknown.data(), unknown.size(), back), status::Good);
  ReadRequest r;
  r.nodesToRead.push_back({NodeId::Text(1, "a"), attr::Value, String(), {}});
  const auto full = EncodeMessage(r);
  for (size_t cut = 0; cut < full.size(); ++cut) {
    ReadRequest partial;
    EXPECT_NE(DecodeMessage(full.data(), cut, partial), status::Good) << cut;
  }
  ReadRequest whole;
  EXPECT_EQ(DecodeMessage(full, whole), status::Good);
  EXPECT_EQ(whole.nodesToRead[0].nodeId, NodeId::Text(1, "a"));
}

// Arrays of elements that are one byte on the wire and many in memory: each
// array passes the bytes-left check, but together the arrays of one message
// may not take more than a small multiple of its size.
TEST(OpcuaEncoding, ArraysOfTinyElementsCannotMultiplyTheMessageInMemory) {
  static_assert(sizeof(DataValue) > 64, "the test needs elements larger in memory than on the wire");
  // A Variant array of 100,000 empty DataValues: 100,005 bytes that would be
  // 100,000 x sizeof(DataValue) in memory.
  auto empties = [](int32_t n) {
    std::vector<uint8_t> bytes = V({0x97});  // DataValue array
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<uint8_t>(static_cast<uint32_t>(n) >> (8 * i)));
    bytes.insert(bytes.end(), static_cast<size_t>(n), 0x00);
    return bytes;
  };
  Variant back;
  const auto many = empties(100000);
  EXPECT_EQ(DecodeFromBytes(many.data(), many.size(), back), status::BadEncodingLimitsExceeded);
  // A thousand of them is an ordinary message.
  const auto some = empties(1000);
  ASSERT_EQ(DecodeFromBytes(some.data(), some.size(), back), status::Good);
  EXPECT_EQ(back.Length(), 1000u);
}

TEST(OpcuaEncoding, StructuresFollowTheirFieldList) {
  CreateSubscriptionRequest req;
  req.requestHeader.requestHandle = 7;
  req.requestedPublishingInterval = 100;
  req.priority = 3;
  const auto body = EncodeMessage(req);
  EXPECT_EQ(PeekMessageType(body), CreateSubscriptionRequest::kBinaryEncodingId);
  uint32_t handle = 0;
  ASSERT_TRUE(PeekRequestHandle(body.data(), body.size(), handle));
  EXPECT_EQ(handle, 7u);
  CreateSubscriptionRequest back;
  ASSERT_EQ(DecodeMessage(body, back), status::Good);
  EXPECT_EQ(back.requestedPublishingInterval, 100);
  EXPECT_EQ(back.priority, 3);
  // A body holding another type is not taken for this one.
  ReadRequest other;
  EXPECT_EQ(DecodeMessage(body, other), status::BadDataTypeIdUnknown);

  DataChangeFilter filter;
  filter.deadbandType = 1;
  filter.deadbandValue = 0.5;
  DataChangeFilter unpacked;
  ASSERT_TRUE(Unpack(Pack(filter), unpacked));
  EXPECT_EQ(unpacked.deadbandValue, 0.5);
  AnonymousIdentityToken wrong;
  EXPECT_FALSE(Unpack(Pack(filter), wrong));
}
