// Words to values and back for every point and data type, value comparison
// and display text.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <map>

#include "core/ExchangeTag.h"
#include "core/ValueConversion.h"
#include "tests/core/ToolkitDoubles.h"

namespace {

// A register map standing in for a data block: unknown addresses are invalid.
struct Registers {
  std::map<uint16_t, uint16_t> words;
  std::map<uint16_t, bool> valid;
  std::vector<std::pair<uint16_t, uint16_t>> written;
  int refuseFrom = -1;  // refuse the write with this index (0-based), -1 none

  bool Read(uint16_t address, uint16_t& word) {
    auto it = words.find(address);
    if (it == words.end()) return false;
    word = it->second;
    auto v = valid.find(address);
    return v == valid.end() || v->second;
  }
  bool Write(uint16_t address, const uint16_t* data, uint16_t count) {
    EXPECT_EQ(count, 1) << "conversions hand over one word at a time";
    if (refuseFrom >= 0 && static_cast<int>(written.size()) >= refuseFrom) return false;
    written.emplace_back(address, data[0]);
    return true;
  }
};

std::unique_ptr<CExchangeTag> RegisterTag(int32_t dataType, uint16_t address = 40) {
  auto tag = std::make_unique<CExchangeTag>("T");
  tag->m_nSourceKind = CExchangeTag::kSourceLocal;
  tag->m_nPointType = CExchangeTag::kHoldingRegister;
  tag->m_nDataType = dataType;
  tag->m_nAddress = address;
  return tag;
}

TagReadResult Read(const CExchangeTag& tag, Registers& regs) {
  return ReadTagValue(tag, [&](uint16_t a, uint16_t& w) { return regs.Read(a, w); });
}

bool Write(const CExchangeTag& tag, const VARIANT& value, Registers& regs) {
  return WriteTagValue(tag, value,
                       [&](uint16_t a, const uint16_t* w, uint16_t n) { return regs.Write(a, w, n); });
}

uint32_t FloatBits(float f) {
  uint32_t bits;
  std::memcpy(&bits, &f, sizeof(bits));
  return bits;
}

}  // namespace

TEST(ReadTagValue, BitsReadAsBooleanOneNotMinusOne) {
  for (uint8_t type : {CExchangeTag::kCoilStatus, CExchangeTag::kInputStatus}) {
    auto tag = RegisterTag(CExchangeTag::kFloat, 5);  // data type does not matter for bits
    tag->m_nPointType = type;
    Registers regs;
    regs.words[5] = 7;
    TagReadResult r = Read(*tag, regs);
    ASSERT_TRUE(r.bConverted);
    EXPECT_TRUE(r.bValid);
    EXPECT_EQ(r.value.vt, VT_BOOL);
    EXPECT_EQ(r.value.boolVal, 1);
    regs.words[5] = 0;
    EXPECT_EQ(Read(*tag, regs).value.boolVal, 0);
  }
}

TEST(ReadTagValue, IntegerAndUnsignedBothGiveSignedShort) {
  for (int32_t type : {CExchangeTag::kInteger, CExchangeTag::kUnsigned}) {
    auto tag = RegisterTag(type);
    Registers regs;
    regs.words[40] = 0xFFFF;
    TagReadResult r = Read(*tag, regs);
    EXPECT_EQ(r.value.vt, VT_I2);
    EXPECT_EQ(r.value.iVal, -1);
    regs.words[40] = 32768;
    EXPECT_EQ(Read(*tag, regs).value.iVal, -32768);
  }
}

TEST(ReadTagValue, ScaledTypesUseTheirFullScaleWithoutClamping) {
  auto tag = RegisterTag(CExchangeTag::kScaled4095);
  Registers regs;
  regs.words[40] = 4095;
  TagReadResult r = Read(*tag, regs);
  EXPECT_EQ(r.value.vt, VT_R4);
  EXPECT_FLOAT_EQ(r.value.fltVal, 100.0f);
  regs.words[40] = 2048;
  EXPECT_NEAR(Read(*tag, regs).value.fltVal, 50.012f, 0.001f);
  regs.words[40] = 8190;  // above full scale: twice HL
  EXPECT_FLOAT_EQ(Read(*tag, regs).value.fltVal, 200.0f);

  tag->m_nDataType = CExchangeTag::kScaled9999;
  tag->m_fLowLimit = -50.0f;
  tag->m_fHighLimit = 50.0f;
  regs.words[40] = 0;
  EXPECT_FLOAT_EQ(Read(*tag, regs).value.fltVal, -50.0f);
  regs.words[40] = 9999;
  EXPECT_FLOAT_EQ(Read(*tag, regs).value.fltVal, 50.0f);

  tag->m_nDataType = CExchangeTag::kScaled65535;
  tag->m_fLowLimit = 0.0f;
  tag->m_fHighLimit = 65535.0f;
  regs.words[40] = 0xFFFF;  // unsigned, not -1
  EXPECT_FLOAT_EQ(Read(*tag, regs).value.fltVal, 65535.0f);
}

TEST(ReadTagValue, TwoWordTypesHonourWordOrder) {
  Registers regs;
  auto tag = RegisterTag(CExchangeTag::kFloat);
  regs.words = {{40, 0x0000}, {41, 0x3F80}};
  TagReadResult r = Read(*tag, regs);
  EXPECT_EQ(r.value.vt, VT_R4);
  EXPECT_EQ(r.value.fltVal, 1.0f);

  tag->m_nDataType = CExchangeTag::kWsFloat;
  regs.words = {{40, 0x3F80}, {41, 0x0000}};
  EXPECT_EQ(Read(*tag, regs).value.fltVal, 1.0f);

  tag->m_nDataType = CExchangeTag::kLong;
  regs.words = {{40, 0x0000}, {41, 0x0001}};
  r = Read(*tag, regs);
  EXPECT_EQ(r.value.vt, VT_I4);
  EXPECT_EQ(r.value.lVal, 65536);
  regs.words = {{40, 0xFFFE}, {41, 0xFFFF}};
  EXPECT_EQ(Read(*tag, regs).value.lVal, -2);

  tag->m_nDataType = CExchangeTag::kWsLong;
  regs.words = {{40, 0x0001}, {41, 0x0000}};
  EXPECT_EQ(Read(*tag, regs).value.lVal, 65536);
}

TEST(ReadTagValue, ValidityFollowsEveryWordAndUnknownTypesMakeNothing) {
  Registers regs;
  auto tag = RegisterTag(CExchangeTag::kLong);
  regs.words = {{40, 1}, {41, 2}};
  regs.valid[41] = false;
  TagReadResult r = Read(*tag, regs);
  EXPECT_TRUE(r.bConverted);
  EXPECT_FALSE(r.bValid);
  EXPECT_EQ(r.value.lVal, 0x00020001) << "the value is still made from the words held";

  regs.valid[41] = true;
  regs.valid[40] = false;
  EXPECT_FALSE(Read(*tag, regs).bValid);

  tag->m_nDataType = 9;
  EXPECT_FALSE(Read(*tag, regs).bConverted);
  tag->m_nDataType = CExchangeTag::kInteger;
  tag->m_nPointType = 7;
  EXPECT_FALSE(Read(*tag, regs).bConverted);

  // A pair starting at the last point has no second register.
  auto last = RegisterTag(CExchangeTag::kFloat, 0xFFFF);
  regs.words[0xFFFF] = 0;
  regs.words[0] = 0x3F80;
  EXPECT_FALSE(Read(*last, regs).bValid);
}

TEST(WriteTagValue, UnsignedAndIntegerWords) {
  Registers regs;
  auto tag = RegisterTag(CExchangeTag::kUnsigned);
  EXPECT_TRUE(Write(*tag, MakeVariantI2(-1), regs));
  EXPECT_TRUE(Write(*tag, MakeVariantR8(40000), regs));
  ASSERT_EQ(regs.written.size(), 2u);
  EXPECT_EQ(regs.written[0], std::make_pair(uint16_t{40}, uint16_t{0xFFFF}));
  EXPECT_EQ(regs.written[1].second, 40000);

  regs.written.clear();
  tag->m_nDataType = CExchangeTag::kInteger;
  EXPECT_TRUE(Write(*tag, MakeVariantR8(-2.5), regs));  // banker's rounding: -2
  EXPECT_FALSE(Write(*tag, MakeVariantR8(40000), regs)) << "does not fit a VT_I2";
  ASSERT_EQ(regs.written.size(), 1u);
  EXPECT_EQ(regs.written[0].second, 0xFFFE);
}

TEST(WriteTagValue, TextThatIsNoNumberSendsNothing) {
  Registers regs;
  auto tag = RegisterTag(CExchangeTag::kInteger);
  CVariant text = Text("abc");
  EXPECT_FALSE(Write(*tag, *text, regs));
  EXPECT_TRUE(regs.written.empty());
  CVariant number = Text(" 12 ");
  EXPECT_TRUE(Write(*tag, *number, regs));
  ASSERT_EQ(regs.written.size(), 1u);
  EXPECT_EQ(regs.written[0].second, 12);
}

TEST(WriteTagValue, ScaledClampsAndTruncates) {
  Registers regs;
  auto tag = RegisterTag(CExchangeTag::kScaled4095);
  for (double v : {50.0, 150.0, -5.0, 100.0, 0.0, 0.01})
    EXPECT_TRUE(Write(*tag, MakeVariantR8(v), regs));
  ASSERT_EQ(regs.written.size(), 6u);
  EXPECT_EQ(regs.written[0].second, 2047);
  EXPECT_EQ(regs.written[1].second, 4095);
  EXPECT_EQ(regs.written[2].second, 0);
  EXPECT_EQ(regs.written[3].second, 4095);
  EXPECT_EQ(regs.written[4].second, 0);
  EXPECT_EQ(regs.written[5].second, 0);  // 0.4095 truncated

  regs.written.clear();
  EXPECT_TRUE(Write(*tag, MakeVariantR4(std::nanf("")), regs));
  tag->m_fLowLimit = tag->m_fHighLimit = 10.0f;  // no span: never divides
  EXPECT_TRUE(Write(*tag, MakeVariantR4(10.0f), regs));
  EXPECT_TRUE(Write(*tag, MakeVariantR4(11.0f), regs));
  ASSERT_EQ(regs.written.size(), 3u);
  EXPECT_EQ(regs.written[0].second, 0);
  EXPECT_EQ(regs.written[1].second, 0);
  EXPECT_EQ(regs.written[2].second, 4095);

  regs.written.clear();
  tag->m_nDataType = CExchangeTag::kScaled65535;
  tag->m_fLowLimit = 0;
  tag->m_fHighLimit = 1;
  EXPECT_TRUE(Write(*tag, MakeVariantR4(0.5f), regs));
  EXPECT_EQ(regs.written[0].second, 32767);
}

TEST(WriteTagValue, TwoWordTypesWriteAThenB) {
  struct Case {
    int32_t type;
    VARIANT value;
    uint16_t a, b;
  } cases[] = {
      {CExchangeTag::kLong, MakeVariantI4(65536), 0, 1},
      {CExchangeTag::kWsLong, MakeVariantI4(65536), 1, 0},
      {CExchangeTag::kLong, MakeVariantI4(-2), 0xFFFE, 0xFFFF},
      {CExchangeTag::kFloat, MakeVariantR8(1.0), 0x0000, 0x3F80},
      {CExchangeTag::kWsFloat, MakeVariantR8(1.0), 0x3F80, 0x0000},
      {CExchangeTag::kFloat, MakeVariantR4(-2.5f), static_cast<uint16_t>(FloatBits(-2.5f) & 0xFFFF),
       static_cast<uint16_t>(FloatBits(-2.5f) >> 16)},
  };
  for (const Case& c : cases) {
    Registers regs;
    auto tag = RegisterTag(c.type);
    ASSERT_TRUE(Write(*tag, c.value, regs));
    ASSERT_EQ(regs.written.size(), 2u);
    EXPECT_EQ(regs.written[0], std::make_pair(uint16_t{40}, c.a)) << "type " << c.type;
    EXPECT_EQ(regs.written[1], std::make_pair(uint16_t{41}, c.b)) << "type " << c.type;
  }
}

TEST(WriteTagValue, RefusedWordsFailTheWrite) {
  auto tag = RegisterTag(CExchangeTag::kLong);
  Registers first;
  first.refuseFrom = 0;
  EXPECT_FALSE(Write(*tag, MakeVariantI4(1), first));
  EXPECT_TRUE(first.written.empty()) << "B is not tried once A is refused";

  Registers second;
  second.refuseFrom = 1;
  EXPECT_FALSE(Write(*tag, MakeVariantI4(1), second));
  EXPECT_EQ(second.written.size(), 1u);

  Registers none;
  tag->m_nDataType = 42;
  EXPECT_FALSE(Write(*tag, MakeVariantI4(1), none));
  tag->m_nDataType = CExchangeTag::kFloat;
  tag->m_nAddress = 0xFFFF;
  EXPECT_FALSE(Write(*tag, MakeVariantI4(1), none)) << "no point after 65535";
  EXPECT_TRUE(none.written.empty());
}

TEST(WriteTagValue, BitsFromAnyTruthyValue) {
  Registers regs;
  auto tag = RegisterTag(CExchangeTag::kFloat, 3);
  tag->m_nPointType = CExchangeTag::kCoilStatus;
  EXPECT_TRUE(Write(*tag, MakeVariantR8(2.0), regs));
  EXPECT_TRUE(Write(*tag, MakeVariantBool(false), regs));
  CVariant yes = Text("True");
  EXPECT_TRUE(Write(*tag, *yes, regs));
  ASSERT_EQ(regs.written.size(), 3u);
  EXPECT_EQ(regs.written[0].second, 1);
  EXPECT_EQ(regs.written[1].second, 0);
  EXPECT_EQ(regs.written[2].second, 1);
}

TEST(IsSameValue, ComparesInTheCurrentType) {
  EXPECT_TRUE(IsSameValue(MakeVariantI2(5), MakeVariantR8(5.4)));
  EXPECT_FALSE(IsSameValue(MakeVariantI2(5), MakeVariantR8(5.6)));
  EXPECT_FALSE(IsSameValue(MakeVariantI2(5), MakeVariantR8(1e9))) << "overflow is a change";
  EXPECT_TRUE(IsSameValue(MakeVariantR4(1.0f), MakeVariantI4(1)));
  EXPECT_FALSE(IsSameValue(MakeVariantR4(1.0f), MakeVariantR4(1.0000001f)));
  EXPECT_TRUE(IsSameValue(MakeVariantR4(std::nanf("")), MakeVariantR4(std::nanf(""))));
  // A VT_BOOL made by a read holds 1, one made by a conversion -1: both true.
  VARIANT one = MakeVariantBool(true);
  one.boolVal = 1;
  EXPECT_TRUE(IsSameValue(one, MakeVariantBool(true)));
  EXPECT_FALSE(IsSameValue(one, MakeVariantBool(false)));
}

TEST(IsSameValue, TextsCompareExactly) {
  CVariant a = Text("abc"), b = Text("abc"), c = Text("ABC");
  EXPECT_TRUE(IsSameValue(*a, *b));
  EXPECT_FALSE(IsSameValue(*a, *c));
  EXPECT_TRUE(IsSameValue(*Text("5"), MakeVariantI2(5)));
  EXPECT_FALSE(IsSameValue(MakeVariantI2(5), *a)) << "text that is no number is a change";
}

TEST(IsSameValue, EmptyCurrentValueStillTakesNewValues) {
  VARIANT empty;
  VariantInit(&empty);
  EXPECT_FALSE(IsSameValue(empty, MakeVariantI2(3)));
  EXPECT_TRUE(IsSameValue(empty, empty));
}

namespace {

CVariant ShortArray(std::initializer_list<int16_t> values, int32_t lowerBound = 0) {
  SAFEARRAY* array = SafeArrayCreateVector(VT_I2, lowerBound, static_cast<uint32_t>(values.size()));
  int32_t i = lowerBound;
  for (int16_t v : values) {
    SafeArrayPutElement(array, &i, &v);
    ++i;
  }
  VARIANT value;
  VariantInit(&value);
  value.vt = VT_ARRAY | VT_I2;
  value.parray = array;
  return CVariant::Adopt(value);
}

CVariant TextArray(std::initializer_list<const char*> texts) {
  SAFEARRAY* array = SafeArrayCreateVector(VT_BSTR, 0, static_cast<uint32_t>(texts.size()));
  int32_t i = 0;
  for (const char* t : texts) {
    BSTR text = Utf8ToBstr(t);
    SafeArrayPutElement(array, &i, text);
    SysFreeString(text);
    ++i;
  }
  VARIANT value;
  VariantInit(&value);
  value.vt = VT_ARRAY | VT_BSTR;
  value.parray = array;
  return CVariant::Adopt(value);
}

}  // namespace

TEST(IsSameValue, ArraysCompareElementsWithinBounds) {
  EXPECT_TRUE(IsSameValue(*ShortArray({1, -2, 3}), *ShortArray({1, -2, 3})));
  EXPECT_FALSE(IsSameValue(*ShortArray({1, -2, 3}), *ShortArray({1, -2, 4})));
  EXPECT_FALSE(IsSameValue(*ShortArray({1, -2, 3}), *ShortArray({1, -2})));
  // Same upper bound, different lower bound: never read outside either array.
  EXPECT_FALSE(IsSameValue(*ShortArray({1, 2, 3}, 0), *ShortArray({2, 3}, 1)));
  EXPECT_FALSE(IsSameValue(*ShortArray({1}), MakeVariantI2(1)));
  EXPECT_TRUE(IsSameValue(*TextArray({"a", "bc"}), *TextArray({"a", "bc"})));
  EXPECT_FALSE(IsSameValue(*TextArray({"a", "bc"}), *TextArray({"a", "bd"})));
}

TEST(FormatValue, ScalarFormats) {
  EXPECT_EQ(FormatValue(MakeVariantI2(-12)), "-12 ");
  EXPECT_EQ(FormatValue(MakeVariantI4(123456)), "123456 ");
  EXPECT_EQ(FormatValue(MakeVariantR4(3.14159f)), " 3.14 ");
  EXPECT_EQ(FormatValue(MakeVariantR8(2.5)), "   2.5000 ");
  EXPECT_EQ(FormatValue(*Text("Pump 1")), "Pump 1 ");
  EXPECT_EQ(FormatValue(MakeVariantBool(true)), "TRUE");
  EXPECT_EQ(FormatValue(MakeVariantBool(false)), "FALSE");
  VARIANT v;
  VariantInit(&v);
  EXPECT_EQ(FormatValue(v), "");
  v.vt = VT_UI1;
  v.bVal = 200;
  EXPECT_EQ(FormatValue(v), "200 ");
  v.vt = VT_I1;
  v.cVal = -3;
  EXPECT_EQ(FormatValue(v), "-3 ");
  v.vt = VT_UI2;
  v.uiVal = 65535;
  EXPECT_EQ(FormatValue(v), "65535 ");
  v.vt = VT_UI4;
  v.ulVal = 4000000000u;
  EXPECT_EQ(FormatValue(v), "4000000000 ");
  v.vt = VT_INT;
  v.intVal = -7;
  EXPECT_EQ(FormatValue(v), "-7 ");
  v.vt = VT_DATE;
  EXPECT_EQ(FormatValue(v), "");
}

TEST(FormatValue, ArraysEndInACommaOrEtc) {
  EXPECT_EQ(FormatValue(*ShortArray({1, -2, 3})), "1,-2,3,");
  EXPECT_EQ(FormatValue(*ShortArray({})), "");

  CVariant many = ShortArray({1000, 1000, 1000, 1000, 1000, 1000, 1000, 1000, 1000, 1000});
  // 5 characters each: with 20 characters of room the fourth would leave no
  // space for ".etc" and the terminator (15 + 4 + 5 >= 20).
  EXPECT_EQ(FormatValue(*many, 20), "1000,1000,1000,.etc");
  const std::string longText = FormatValue(*many, 200);
  EXPECT_EQ(longText.size(), 50u);

  std::vector<int16_t> big(100, -30000);
  SAFEARRAY* array = SafeArrayCreateVector(VT_I2, 0, 100);
  for (int32_t i = 0; i < 100; ++i) SafeArrayPutElement(array, &i, &big[i]);
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_ARRAY | VT_I2;
  v.parray = array;
  CVariant owned = CVariant::Adopt(v);
  const std::string text = FormatValue(*owned, 200);
  EXPECT_LT(text.size(), 200u) << "never longer than the buffer";
  EXPECT_EQ(text.substr(text.size() - 4), ".etc");
  for (size_t size : {0u, 1u, 3u, 5u}) EXPECT_LT(FormatValue(*owned, size).size(), size + 1);
}

TEST(FormatValue, BoolAndFloatArrays) {
  SAFEARRAY* bools = SafeArrayCreateVector(VT_BOOL, 0, 2);
  VARIANT_BOOL t = VARIANT_TRUE, f = VARIANT_FALSE;
  int32_t i = 0;
  SafeArrayPutElement(bools, &i, &t);
  i = 1;
  SafeArrayPutElement(bools, &i, &f);
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_ARRAY | VT_BOOL;
  v.parray = bools;
  CVariant owned = CVariant::Adopt(v);
  EXPECT_EQ(FormatValue(*owned), "true,false,");

  SAFEARRAY* reals = SafeArrayCreateVector(VT_R4, 0, 1);
  float x = 1.5f;
  i = 0;
  SafeArrayPutElement(reals, &i, &x);
  VariantInit(&v);
  v.vt = VT_ARRAY | VT_R4;
  v.parray = reals;
  CVariant ownedReals = CVariant::Adopt(v);
  EXPECT_EQ(FormatValue(*ownedReals), " 1.50,");
}

TEST(GetValueString, ConvertsFirstOrSaysInvalid) {
  CExchangeTag tag("T");
  tag.m_value = MakeVariantR4(2.5f);
  EXPECT_EQ(GetValueString(tag, VT_EMPTY), " 2.50 ");
  EXPECT_EQ(GetValueString(tag, VT_I2), "2 ");
  EXPECT_EQ(GetValueString(tag, VT_BSTR), "2.5 ");
  tag.m_value = *Text("abc");
  EXPECT_EQ(GetValueString(tag, VT_I2), "Invalid VariantType");
  EXPECT_EQ(BstrToUtf8(tag.m_value->bstrVal), "abc") << "the tag's value is untouched";
}
