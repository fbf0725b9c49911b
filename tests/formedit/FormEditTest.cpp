// What the forms' editing rests on without windows: how the property
// dialogs read their number fields, the trend chart's limits, and the
// operator's write of a tag with scripted answers in place of the dialogs.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/ExchangeTag.h"
#include "core/PlexmarApp.h"
#include "forms/DialogFields.h"
#include "forms/TagWritePrompt.h"
#include "platform/variant.h"

namespace {

TEST(DialogFields, IntegerFieldsReadAsPercentDAndKeepTheirValueOnText) {
  int32_t v = 77;
  EXPECT_TRUE(ScanIntField("  120", kDimensionChars, v));
  EXPECT_EQ(v, 120);
  EXPECT_TRUE(ScanIntField("-15px", kDimensionChars, v)) << "the digits that lead count";
  EXPECT_EQ(v, -15);
  EXPECT_TRUE(ScanIntField("+8", kDimensionChars, v));
  EXPECT_EQ(v, 8);
  for (const char* text : {"", "abc", "  ", "-", "+-3", "x12", "99999999999"}) {
    v = 77;
    EXPECT_FALSE(ScanIntField(text, kDimensionChars, v)) << text;
    EXPECT_EQ(v, 77) << "'" << text << "' leaves the old value";
  }
  // Only the first 40 characters are read.
  v = 5;
  EXPECT_FALSE(ScanIntField(std::string(40, ' ') + "12", kDimensionChars, v));
  EXPECT_EQ(v, 5);
  EXPECT_TRUE(ScanIntField(std::string(38, ' ') + "123", kDimensionChars, v));
  EXPECT_EQ(v, 12);
}

TEST(DialogFields, FloatFieldsReadAsPercentFWhateverTheLocale) {
  float f = 3.0f;
  EXPECT_TRUE(ScanFloatField("12.5", kLimitChars, f));
  EXPECT_FLOAT_EQ(f, 12.5f);
  EXPECT_TRUE(ScanFloatField(" -0.25 bar", kLimitChars, f));
  EXPECT_FLOAT_EQ(f, -0.25f);
  EXPECT_TRUE(ScanFloatField("1e3", kLimitChars, f));
  EXPECT_FLOAT_EQ(f, 1000.0f);
  EXPECT_TRUE(ScanFloatField("+4", kLimitChars, f));
  EXPECT_FLOAT_EQ(f, 4.0f);
  EXPECT_TRUE(ScanFloatField("1,5", kLimitChars, f)) << "a comma ends the number";
  EXPECT_FLOAT_EQ(f, 1.0f);
  for (const char* text : {"", "high", "nan", "inf", "1e999", "+-2"}) {
    f = 3.0f;
    EXPECT_FALSE(ScanFloatField(text, kLimitChars, f)) << text;
    EXPECT_FLOAT_EQ(f, 3.0f) << text;
  }
  EXPECT_EQ(FormatLimitField(100.0f), "100.00");
  EXPECT_EQ(FormatLimitField(-2.5f), "-2.50");
  EXPECT_EQ(FormatLimitField(0.0f), "0.00");
}

TEST(DialogFields, TrendSpanAndPointsStayWithinTheirUnitsLimits) {
  EXPECT_EQ(LimitTrendSpan(5000, false), 1440);
  EXPECT_EQ(LimitTrendSpan(0, false), 1);
  EXPECT_EQ(LimitTrendSpan(60, false), 60);
  EXPECT_EQ(LimitTrendSpan(5, true), 10);
  EXPECT_EQ(LimitTrendSpan(100000, true), 86400);
  EXPECT_EQ(LimitTrendSpan(-3, true), 10);
  EXPECT_EQ(LimitTrendPoints(500), 200);
  EXPECT_EQ(LimitTrendPoints(0), 1);
  EXPECT_EQ(LimitTrendPoints(-40), 1);
  EXPECT_EQ(LimitTrendPoints(100), 100);
}

// Answers the write dialogs as scripted and records what was asked.
class ScriptedPrompt : public ITagWritePrompt {
 public:
  bool AskString(std::string& text) override {
    asked.push_back("string:" + text);
    if (!answer) return false;
    text = stringAnswer;
    return true;
  }
  bool AskNumber(double& value) override {
    asked.push_back("number:" + std::to_string(value));
    if (!answer) return false;
    value = numberAnswer;
    return true;
  }
  bool answer = true;
  std::string stringAnswer;
  double numberAnswer = 0.0;
  std::vector<std::string> asked;
};

class PromptWrite : public ::testing::Test {
 protected:
  // The tag takes a copy; the value handed in is cleared here, so a text made for the call
  // does not leak.
  CExchangeTag& AddTag(const std::string& name, VARIANT value) {
    auto tag = std::make_unique<CExchangeTag>(name);
    tag->m_value = value;
    VariantClear(&value);
    CExchangeTag& ref = *tag;
    app.m_tags.push_back(std::move(tag));
    return ref;
  }
  CPlexmarApp app;
  ScriptedPrompt prompt;
};

TEST_F(PromptWrite, NumbersAreOfferedAsDoublesAndWrittenGoodAsDoubles) {
  CExchangeTag& tag = AddTag("Setpoint", MakeVariantI2(42));
  tag.m_nQuality = CExchangeTag::kQualityBad;
  prompt.numberAnswer = 17.5;
  PromptAndWrite(tag, prompt);
  ASSERT_EQ(prompt.asked, std::vector<std::string>{"number:42.000000"});
  EXPECT_EQ(tag.m_value->vt, VT_R8);
  EXPECT_DOUBLE_EQ(tag.m_value->dblVal, 17.5);
  EXPECT_EQ(tag.m_nQuality, CExchangeTag::kQualityGood);
}

TEST_F(PromptWrite, CancelWritesNothingAndLeavesTheQuality) {
  CExchangeTag& tag = AddTag("Setpoint", MakeVariantR4(1.5f));
  tag.m_nQuality = CExchangeTag::kQualityBad;
  prompt.answer = false;
  PromptAndWrite(tag, prompt);
  EXPECT_EQ(prompt.asked.size(), 1u);
  EXPECT_EQ(tag.m_value->vt, VT_R4);
  EXPECT_EQ(tag.m_nQuality, CExchangeTag::kQualityBad);
}

TEST_F(PromptWrite, StringsGoThroughTheStringDialogEvenWhenTheyLookLikeNumbers) {
  CExchangeTag& tag = AddTag("Batch", MakeVariantText("123"));
  prompt.answer = false;
  PromptAndWrite(tag, prompt);
  EXPECT_EQ(prompt.asked, std::vector<std::string>{"string:123"}) << "no second, numeric dialog";
  EXPECT_EQ(BstrToUtf8(tag.m_value->bstrVal), "123");

  prompt.answer = true;
  prompt.asked.clear();
  prompt.stringAnswer = "B-7";
  PromptAndWrite(tag, prompt);
  EXPECT_EQ(tag.m_value->vt, VT_BSTR);
  EXPECT_EQ(BstrToUtf8(tag.m_value->bstrVal), "B-7");
}

TEST_F(PromptWrite, ArraysAndValuesWithoutANumberOfferNothing) {
  CExchangeTag& list = AddTag("List", VARIANT{});
  VARIANT array;
  VariantInit(&array);
  array.vt = VT_ARRAY | VT_I2;
  array.parray = SafeArrayCreateVector(VT_I2, 0, 3);
  list.m_value = array;
  VariantClear(&array);
  PromptAndWrite(list, prompt);
  EXPECT_TRUE(prompt.asked.empty());

  // A value that converts to no double offers nothing.
  CExchangeTag& odd = AddTag("Odd", VARIANT{});
  odd.m_value->vt = VT_ERROR;
  PromptAndWrite(odd, prompt);
  EXPECT_TRUE(prompt.asked.empty());
}

}  // namespace
