// Item ID texts to NodeIds, UA values to VARIANTs and back, and status codes
// to qualities.
#include <gtest/gtest.h>

#include "clientkit/ValueMapping.h"

using namespace clientkit;
using opcua::BuiltinType;
using opcua::NodeId;
using opcua::Variant;

TEST(ItemIds, StandardFormsAndThePlainTagName) {
  const std::vector<std::string> ns = {"http://opcfoundation.org/UA/", "urn:plexmar", "urn:plant"};
  EXPECT_EQ(*ParseItemId("ns=2;s=Line1.Flow", ns), NodeId::Text(2, "Line1.Flow"));
  EXPECT_EQ(*ParseItemId("ns=3;i=1001", ns), NodeId(3, 1001));
  EXPECT_EQ(*ParseItemId("i=2258", ns), NodeId(0, 2258));
  EXPECT_EQ(*ParseItemId("nsu=urn:plant;s=A;B", ns), NodeId::Text(2, "A;B"));
  EXPECT_FALSE(ParseItemId("nsu=urn:unknown;i=5", ns).has_value());
  const NodeId guid = *ParseItemId("ns=1;g=72962B91-FA75-4AE6-8D28-B404DC7DAF63", ns);
  EXPECT_EQ(guid.kind, NodeId::Kind::Guid);
  EXPECT_EQ(guid.ToString(), "ns=1;g=72962B91-FA75-4AE6-8D28-B404DC7DAF63");
  EXPECT_EQ(ParseItemId("ns=1;b=0AFF", ns)->ToString(), "ns=1;b=0AFF");
  // Anything else is a Plexmar tag name: a string id in namespace 1.
  for (const char* text : {"Exchange.Tag1", "ns=x;s=a", "i=12a", "ns=70000;i=1", "s"})
    EXPECT_EQ(*ParseItemId(text, ns), NodeId::Text(1, text)) << text;
}

TEST(Values, EveryMappedTypeAndTheUnmappable) {
  VARIANT v;
  ASSERT_TRUE(ToVariant(Variant::Scalar<BuiltinType::Int64>(int64_t{-1} << 40), &v));
  EXPECT_EQ(v.vt, VT_I8);
  EXPECT_EQ(v.llVal, int64_t{-1} << 40);
  ASSERT_TRUE(ToVariant(Variant::Scalar<BuiltinType::Boolean>(true), &v));
  EXPECT_EQ(v.boolVal, VARIANT_TRUE);
  ASSERT_TRUE(ToVariant(Variant::Scalar<BuiltinType::DateTime>(opcua::DateTime::FromUnixMillis(0)), &v));
  EXPECT_EQ(v.vt, VT_DATE);
  EXPECT_DOUBLE_EQ(v.date, 25569.0);
  ASSERT_TRUE(ToVariant(Variant::ArrayOf<BuiltinType::String>(std::vector<opcua::String>{"a", "b"}), &v));
  {
    CVariant owned = CVariant::Adopt(v);
    ASSERT_EQ(owned->vt, VT_ARRAY | VT_BSTR);
    EXPECT_EQ(owned->parray->rgsabound[0].cElements, 2u);
  }
  EXPECT_TRUE(ToVariant(Variant(), &v));
  EXPECT_EQ(v.vt, VT_EMPTY);
  EXPECT_FALSE(ToVariant(Variant::Scalar<BuiltinType::NodeId>(NodeId(0, 85)), &v));
  EXPECT_EQ(v.vt, VT_EMPTY);
  Variant matrix = Variant::ArrayOf<BuiltinType::Int32>(std::vector<int32_t>{1, 2, 3, 4});
  matrix.dimensions() = {2, 2};
  EXPECT_FALSE(ToVariant(matrix, &v)) << "a SAFEARRAY here has one dimension";

  EXPECT_EQ(QualityOf(opcua::status::Good), 0xC0u);
  EXPECT_EQ(QualityOf(0x40920000u), 0x40u);
  EXPECT_EQ(QualityOf(opcua::status::BadNodeIdUnknown), 0u);
}

TEST(Values, DatesAtTheEndsOfTheTickRangeKeepTheirOrder) {
  // A server may send any 64-bit tick count; the extremes once overflowed
  // and both came out near the year 30828.
  double dates[4];
  const int64_t ticks[4] = {INT64_MIN, 0, opcua::DateTime::FromUnixMillis(0).ticks, INT64_MAX};
  for (int i = 0; i < 4; ++i) {
    VARIANT v;
    ASSERT_TRUE(ToVariant(Variant::Scalar<BuiltinType::DateTime>(opcua::DateTime{ticks[i]}), &v));
    ASSERT_EQ(v.vt, VT_DATE);
    dates[i] = v.date;
  }
  EXPECT_DOUBLE_EQ(dates[1], -109205.0);  // 1601-01-01
  EXPECT_DOUBLE_EQ(dates[2], 25569.0);    // 1970-01-01
  // The year -27627; a date before 1899 counts days back in its whole part
  // and the time of day in its fraction.
  EXPECT_LT(dates[0], -10784405.0);
  EXPECT_GT(dates[0], -10784406.0);
  EXPECT_GT(dates[3], 10565994.0);  // 30828-09-14
  EXPECT_LT(dates[3], 10565995.0);
}

TEST(Values, WritesTakeTheNodesTypeAndRefuseWhatDoesNotConvert) {
  Variant out;
  ASSERT_TRUE(FromVariant(MakeVariantI2(7), BuiltinType::Double, out));
  EXPECT_EQ(out, Variant::Scalar<BuiltinType::Double>(7.0));
  ASSERT_TRUE(FromVariant(MakeVariantR8(2.5), BuiltinType::Int32, out));
  EXPECT_EQ(out, Variant::Scalar<BuiltinType::Int32>(int32_t{2})) << "half to even";
  EXPECT_FALSE(FromVariant(MakeVariantR8(1e10), BuiltinType::Int16, out));
  VARIANT textRaw = MakeVariantText("on");
  CVariant text(textRaw);
  VariantClear(&textRaw);
  EXPECT_FALSE(FromVariant(*text, BuiltinType::Float, out));
  VARIANT dateRaw = MakeVariantText("2026-12-08T12:00:00Z");
  CVariant date(dateRaw);
  VariantClear(&dateRaw);
  ASSERT_TRUE(FromVariant(*date, BuiltinType::DateTime, out));
  EXPECT_EQ(out.Values<BuiltinType::DateTime>()[0].UnixMillis(), 1796731200000);
  ASSERT_TRUE(FromVariant(MakeVariantR4(1.5f), BuiltinType::Null, out)) << "no type known: the value's own";
  EXPECT_EQ(out, Variant::Scalar<BuiltinType::Float>(1.5f));
  ASSERT_TRUE(FromVariant(MakeVariantR8(3), BuiltinType::LocalizedText, out));
  EXPECT_EQ(out.Values<BuiltinType::LocalizedText>()[0].text.str(), "3");

  VARIANT array;
  VariantInit(&array);
  array.vt = VT_ARRAY | VT_I2;
  array.parray = SafeArrayCreateVector(VT_I2, 0, 2);
  const int16_t values[] = {5, -6};
  for (int32_t i = 0; i < 2; ++i) SafeArrayPutElement(array.parray, &i, &values[i]);
  CVariant owned = CVariant::Adopt(array);
  ASSERT_TRUE(FromVariant(*owned, BuiltinType::Double, out));
  EXPECT_TRUE(out.IsArray());
  EXPECT_EQ(out.Values<BuiltinType::Double>(), (std::vector<double>{5.0, -6.0}));
  EXPECT_EQ(BuiltinOfDataType(NodeId(0, 290)), BuiltinType::Double);
  EXPECT_EQ(BuiltinOfDataType(NodeId(2, 11)), BuiltinType::Null);
}
