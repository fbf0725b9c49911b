// Words to values and back for every point and data type, value comparison
// and display text.
#include <gtest/gtest.h>

#include <cmath>
#include <map>

#include "core/ExchangeTag.h"
#include "core/ValueConversion.h"
#include "tests/core/ToolkitDoubles.h"

namespace {

constexpr uint8_t kCoil = 1, kInput = 2, kHolding = 3;

// Registers standing in for a data block: addresses not set are invalid.
struct Registers {
  std::map<uint16_t, uint16_t> words;
  std::map<uint16_t, bool> invalid;
  std::vector<std::pair<uint16_t, uint16_t>> written;
  int refuseFrom = -1;  // refuse the write with this index, -1 none

  TagReadResult Read(const CExchangeTag& tag) {
    return ReadTagValue(tag, [this](uint16_t a, uint16_t& w) {
      if (!words.count(a)) return false;
      w = words[a];
      return !invalid[a];
    });
  }
  bool Write(const CExchangeTag& tag, const VARIANT& value) {
    return WriteTagValue(tag, value, [this](uint16_t a, const uint16_t* w, uint16_t n) {
      EXPECT_EQ(n, 1) << "one word at a time";
      if (refuseFrom >= 0 && static_cast<int>(written.size()) >= refuseFrom) return false;
      written.emplace_back(a, w[0]);
      return true;
    });
  }
};

std::unique_ptr<CExchangeTag> Point(int32_t dataType, uint8_t pointType = kHolding,
                                    uint16_t address = 40, float low = 0, float high = 100) {
  auto tag = std::make_unique<CExchangeTag>("T");
  tag->m_nSourceKind = CExchangeTag::kSourceLocal;
  tag->m_nPointType = pointType;
  tag->m_nDataType = dataType;
  tag->m_nAddress = address;
  tag->m_fLowLimit = low;
  tag->m_fHighLimit = high;
  return tag;
}

double AsDouble(const VARIANT& v) {
  switch (v.vt) {
    case VT_BOOL: return v.boolVal;
    case VT_I2: return v.iVal;
    case VT_I4: return v.lVal;
    case VT_R4: return v.fltVal;
    default: return NAN;
  }
}

}  // namespace

TEST(ReadTagValue, EveryPointAndDataType) {
  struct Case {
    uint8_t pointType;
    int32_t dataType;
    uint16_t a, b;
    VARTYPE vt;
    double value;
  } cases[] = {
      {kCoil, CExchangeTag::kFloat, 7, 0, VT_BOOL, 1},  // bits ignore the data type; true is 1
      {kInput, CExchangeTag::kInteger, 0, 0, VT_BOOL, 0},
      {kHolding, CExchangeTag::kInteger, 0xFFFF, 0, VT_I2, -1},
      {kHolding, CExchangeTag::kUnsigned, 0xFFFF, 0, VT_I2, -1},
      {kHolding, CExchangeTag::kUnsigned, 32768, 0, VT_I2, -32768},
      {kHolding, CExchangeTag::kScaled4095, 4095, 0, VT_R4, 100.0},
      {kHolding, CExchangeTag::kScaled4095, 2048, 0, VT_R4, 50.012210},
      {kHolding, CExchangeTag::kScaled4095, 8190, 0, VT_R4, 200.0},  // no clamping
      {kHolding, CExchangeTag::kScaled9999, 9999, 0, VT_R4, 100.0},
      {kHolding, CExchangeTag::kScaled65535, 0xFFFF, 0, VT_R4, 100.0},  // unsigned word
      {kHolding, CExchangeTag::kFloat, 0x0000, 0x3F80, VT_R4, 1.0},
      {kHolding, CExchangeTag::kWsFloat, 0x3F80, 0x0000, VT_R4, 1.0},
      {kHolding, CExchangeTag::kLong, 0x0000, 0x0001, VT_I4, 65536},
      {kHolding, CExchangeTag::kLong, 0xFFFE, 0xFFFF, VT_I4, -2},
      {kHolding, CExchangeTag::kWsLong, 0x0001, 0x0000, VT_I4, 65536},
  };
  for (const Case& c : cases) {
    auto tag = Point(c.dataType, c.pointType);
    Registers regs;
    regs.words = {{40, c.a}, {41, c.b}};
    const TagReadResult r = regs.Read(*tag);
    ASSERT_TRUE(r.bConverted);
    EXPECT_TRUE(r.bValid);
    EXPECT_EQ(r.value.vt, c.vt) << "data type " << c.dataType;
    EXPECT_NEAR(AsDouble(r.value), c.value, 1e-4) << "data type " << c.dataType << " word " << c.a;
  }
  auto offset = Point(CExchangeTag::kScaled9999, kHolding, 40, -50, 50);
  Registers regs;
  regs.words[40] = 0;
  EXPECT_FLOAT_EQ(regs.Read(*offset).value.fltVal, -50.0f);
}

TEST(ReadTagValue, ValidityFollowsEveryWordAndUnknownTypesMakeNothing) {
  Registers regs;
  auto tag = Point(CExchangeTag::kLong);
  regs.words = {{40, 1}, {41, 2}};
  regs.invalid[41] = true;
  TagReadResult r = regs.Read(*tag);
  EXPECT_TRUE(r.bConverted);
  EXPECT_FALSE(r.bValid);
  EXPECT_EQ(r.value.lVal, 0x00020001) << "still made from the words held";
  regs.invalid = {{40, true}};
  EXPECT_FALSE(regs.Read(*tag).bValid);

  EXPECT_FALSE(regs.Read(*Point(9)).bConverted);
  EXPECT_FALSE(regs.Read(*Point(CExchangeTag::kInteger, 7)).bConverted);
  // A pair starting at the last point has no second register.
  regs.words = {{0xFFFF, 0}, {0, 0x3F80}};
  EXPECT_FALSE(regs.Read(*Point(CExchangeTag::kFloat, kHolding, 0xFFFF)).bValid);
}

TEST(WriteTagValue, EveryPointAndDataType) {
  struct Case {
    uint8_t pointType;
    int32_t dataType;
    VARIANT value;
    std::vector<uint16_t> words;
  } cases[] = {
      {kHolding, CExchangeTag::kUnsigned, MakeVariantI2(-1), {0xFFFF}},
      {kHolding, CExchangeTag::kUnsigned, MakeVariantR8(40000), {40000}},
      {kHolding, CExchangeTag::kInteger, MakeVariantR8(-2.5), {0xFFFE}},  // half to even
      {kHolding, CExchangeTag::kScaled4095, MakeVariantR8(50), {2047}},    // truncated
      {kHolding, CExchangeTag::kScaled4095, MakeVariantR8(150), {4095}},
      {kHolding, CExchangeTag::kScaled4095, MakeVariantR8(100), {4095}},
      {kHolding, CExchangeTag::kScaled4095, MakeVariantR8(-5), {0}},
      {kHolding, CExchangeTag::kScaled4095, MakeVariantR4(std::nanf("")), {0}},
      {kHolding, CExchangeTag::kScaled65535, MakeVariantR4(50), {32767}},
      {kHolding, CExchangeTag::kLong, MakeVariantI4(65536), {0, 1}},
      {kHolding, CExchangeTag::kWsLong, MakeVariantI4(65536), {1, 0}},
      {kHolding, CExchangeTag::kLong, MakeVariantI4(-2), {0xFFFE, 0xFFFF}},
      {kHolding, CExchangeTag::kFloat, MakeVariantR8(1.0), {0x0000, 0x3F80}},
      {kHolding, CExchangeTag::kWsFloat, MakeVariantR8(1.0), {0x3F80, 0x0000}},
      {kCoil, CExchangeTag::kFloat, MakeVariantR8(2.0), {1}},
      {kCoil, CExchangeTag::kInteger, MakeVariantBool(false), {0}},
  };
  for (const Case& c : cases) {
    Registers regs;
    ASSERT_TRUE(regs.Write(*Point(c.dataType, c.pointType), c.value)) << "data type " << c.dataType;
    ASSERT_EQ(regs.written.size(), c.words.size());
    for (size_t i = 0; i < c.words.size(); ++i) {
      EXPECT_EQ(regs.written[i].first, 40 + i);
      EXPECT_EQ(regs.written[i].second, c.words[i]) << "data type " << c.dataType << " word " << i;
    }
  }
  // Equal limits never divide: at or below is 0, above is full scale.
  Registers flat;
  auto noSpan = Point(CExchangeTag::kScaled4095, kHolding, 40, 10, 10);
  EXPECT_TRUE(flat.Write(*noSpan, MakeVariantR4(10)));
  EXPECT_TRUE(flat.Write(*noSpan, MakeVariantR4(11)));
  EXPECT_EQ(flat.written[0].second, 0);
  EXPECT_EQ(flat.written[1].second, 4095);
}

TEST(WriteTagValue, FailedConversionsAndRefusedWordsSendNothingMore) {
  Registers regs;
  EXPECT_FALSE(regs.Write(*Point(CExchangeTag::kInteger), *Text("abc")));
  EXPECT_FALSE(regs.Write(*Point(CExchangeTag::kInteger), MakeVariantR8(40000))) << "overflow";
  EXPECT_FALSE(regs.Write(*Point(42), MakeVariantI4(1)));
  EXPECT_FALSE(regs.Write(*Point(CExchangeTag::kFloat, kHolding, 0xFFFF), MakeVariantI4(1)));
  EXPECT_TRUE(regs.written.empty());
  EXPECT_TRUE(regs.Write(*Point(CExchangeTag::kInteger), *Text(" 12 ")));
  EXPECT_EQ(regs.written.back().second, 12);

  Registers first, second;
  first.refuseFrom = 0;
  second.refuseFrom = 1;
  EXPECT_FALSE(first.Write(*Point(CExchangeTag::kLong), MakeVariantI4(1)));
  EXPECT_TRUE(first.written.empty()) << "B is not tried once A is refused";
  EXPECT_FALSE(second.Write(*Point(CExchangeTag::kLong), MakeVariantI4(1)));
  EXPECT_EQ(second.written.size(), 1u);
}

namespace {

template <class T>
CVariant Array(VARTYPE vt, std::vector<T> values, int32_t lowerBound = 0) {
  SAFEARRAY* array = SafeArrayCreateVector(vt, lowerBound, static_cast<uint32_t>(values.size()));
  for (int32_t i = 0; i < static_cast<int32_t>(values.size()); ++i) {
    const int32_t index = lowerBound + i;
    if constexpr (std::is_same_v<T, const char*>) {
      CVariant text = Text(values[i]);
      SafeArrayPutElement(array, &index, text->bstrVal);
    } else {
      SafeArrayPutElement(array, &index, &values[i]);
    }
  }
  VARIANT value;
  VariantInit(&value);
  value.vt = VT_ARRAY | vt;
  value.parray = array;
  return CVariant::Adopt(value);
}

CVariant Shorts(std::vector<int16_t> values, int32_t lowerBound = 0) {
  return Array<int16_t>(VT_I2, std::move(values), lowerBound);
}

}  // namespace

TEST(IsSameValue, ComparesInTheCurrentType) {
  EXPECT_TRUE(IsSameValue(MakeVariantI2(5), MakeVariantR8(5.4)));
  EXPECT_FALSE(IsSameValue(MakeVariantI2(5), MakeVariantR8(5.6)));
  EXPECT_FALSE(IsSameValue(MakeVariantI2(5), MakeVariantR8(1e9))) << "overflow is a change";
  EXPECT_FALSE(IsSameValue(MakeVariantR4(1.0f), MakeVariantR4(1.0000001f)));
  EXPECT_TRUE(IsSameValue(MakeVariantR4(std::nanf("")), MakeVariantR4(std::nanf(""))));
  VARIANT one = MakeVariantBool(true);
  one.boolVal = 1;  // as a read makes it
  EXPECT_TRUE(IsSameValue(one, one));
  EXPECT_FALSE(IsSameValue(one, MakeVariantBool(true))) << "1 and VARIANT_TRUE differ as doubles";
  EXPECT_TRUE(IsSameValue(MakeVariantBool(true), MakeVariantBool(true)));
  EXPECT_FALSE(IsSameValue(one, MakeVariantBool(false)));
  // The 1 becomes VARIANT_TRUE in the coil's type, and -1 is not the coil's 1.
  EXPECT_FALSE(IsSameValue(one, MakeVariantI2(1)));
  EXPECT_TRUE(IsSameValue(MakeVariantBool(true), MakeVariantI2(1)));
  EXPECT_TRUE(IsSameValue(*Text("abc"), *Text("abc")));
  EXPECT_FALSE(IsSameValue(*Text("abc"), *Text("ABC")));
  EXPECT_TRUE(IsSameValue(*Text("5"), MakeVariantI2(5)));
  EXPECT_FALSE(IsSameValue(MakeVariantI2(5), *Text("abc")));
  // A tag holding nothing would otherwise never take a value again.
  VARIANT empty;
  VariantInit(&empty);
  EXPECT_FALSE(IsSameValue(empty, MakeVariantI2(3)));
  EXPECT_TRUE(IsSameValue(empty, empty));
}

TEST(IsSameValue, ArraysCompareElementsWithinBothBounds) {
  EXPECT_TRUE(IsSameValue(*Shorts({1, -2, 3}), *Shorts({1, -2, 3})));
  EXPECT_FALSE(IsSameValue(*Shorts({1, -2, 3}), *Shorts({1, -2, 4})));
  EXPECT_FALSE(IsSameValue(*Shorts({1, -2, 3}), *Shorts({1, -2})));
  EXPECT_FALSE(IsSameValue(*Shorts({1, 2, 3}, 0), *Shorts({2, 3}, 1))) << "same upper bound only";
  EXPECT_FALSE(IsSameValue(*Shorts({1}), MakeVariantI2(1)));
  using Texts = std::vector<const char*>;
  EXPECT_TRUE(IsSameValue(*Array(VT_BSTR, Texts{"a", "bc"}), *Array(VT_BSTR, Texts{"a", "bc"})));
  EXPECT_FALSE(IsSameValue(*Array(VT_BSTR, Texts{"a", "bc"}), *Array(VT_BSTR, Texts{"a", "bd"})));
}

TEST(FormatValue, EveryType) {
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
  const std::pair<VARTYPE, int64_t> others[] = {
      {VT_UI1, 200}, {VT_UI2, 65535}, {VT_UI4, 4000000000}, {VT_INT, -7}};
  for (auto [vt, n] : others) {
    VariantInit(&v);
    v.vt = vt;
    v.llVal = n;
    EXPECT_EQ(FormatValue(v), std::to_string(n) + " ") << "type " << vt;
  }
  VariantInit(&v);
  v.vt = VT_I1;
  v.cVal = -3;
  EXPECT_EQ(FormatValue(v), "253 ") << "a byte prints unsigned";
  v.vt = VT_DATE;
  EXPECT_EQ(FormatValue(v), "");

  // A number longer than the buffer is cut at the buffer, not before.
  const std::string huge = FormatValue(MakeVariantR8(1e300), 200);
  EXPECT_EQ(huge.size(), 199u);
  EXPECT_EQ(huge.substr(0, 4), "1000");
  EXPECT_EQ(FormatValue(MakeVariantR4(-3.0e38f), 200).size(), 44u);  // "%5.2f " of 39 digits
}

TEST(FormatValue, ArraysEndInACommaOrEtcAndNeverOverrunTheBuffer) {
  EXPECT_EQ(FormatValue(*Shorts({1, -2, 3})), "1,-2,3,");
  EXPECT_EQ(FormatValue(*Shorts({})), "");
  EXPECT_EQ(FormatValue(*Array<float>(VT_R4, {1.5f})), " 1.50,");
  EXPECT_EQ(FormatValue(*Array<VARIANT_BOOL>(VT_BOOL, {VARIANT_TRUE, 0})), "true,false,");
  // 5 characters each: a fourth would leave no room for ".etc" and the
  // terminator in 20 (15 + 4 + 5 >= 20).
  EXPECT_EQ(FormatValue(*Shorts(std::vector<int16_t>(10, 1000)), 20), "1000,1000,1000,.etc");
  const CVariant big = Shorts(std::vector<int16_t>(100, -30000));
  const std::string text = FormatValue(*big, 200);
  EXPECT_EQ(text.size(), 27u * 7 + 4);
  EXPECT_EQ(text.substr(text.size() - 4), ".etc");
  for (size_t size : {0u, 1u, 3u, 5u}) EXPECT_LT(FormatValue(*big, size).size(), size + 1);
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
