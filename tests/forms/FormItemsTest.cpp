// The display items' drawing, sizing, hit tests and refresh, seen through a
// device context that records each operation with the state it was drawn in;
// the trend chart's sampling; finding forms by title.
#include <gtest/gtest.h>

#include "FormTestSupport.h"
#include "core/ExchangeTag.h"
#include "core/PlexmarApp.h"
#include "core/ValueConversion.h"
#include "forms/MMI_Items.h"
#include "forms/MMI_TrendItem.h"
#include "forms/PlexmarDoc.h"

using form_test::DrawOp;
using form_test::kCharWidth;
using form_test::kTextHeight;
using form_test::RecordingDC;

namespace {

class FormItems : public ::testing::Test {
 protected:
  CExchangeTag& AddTag(const std::string& name, const VARIANT& value) {
    auto tag = std::make_unique<CExchangeTag>(name);
    tag->m_value = value;
    CExchangeTag& ref = *tag;
    app.m_tags.push_back(std::move(tag));
    return ref;
  }

  CPlexmarApp app;
  RecordingDC dc;
};

constexpr COLORREF kFormGrey = 0xC0C0C0;

TEST_F(FormItems, BarGraphFillsByFractionAndClampsOutsideItsLimits) {
  CExchangeTag& level = AddTag("Level", MakeVariantR8(150.0));
  CMMI_BarItem bar;
  bar.m_strTag = "Level";
  bar.m_fHigh = 100.0f;
  bar.m_crText = 0x0000FF;
  bar.m_crBack = 0x00FF00;
  bar.m_rect = {10, 20, 30, 60};  // 40 high

  auto splitOf = [&](const VARIANT& value) {
    level.m_value = value;
    dc.ops.clear();
    bar.Draw(dc, kFormGrey);
    EXPECT_EQ(bar.m_bDirty, 0);
    // Filled part first with the fill brush, then the empty part; both with
    // the null pen.
    EXPECT_EQ(dc.ops.size(), 2u);
    EXPECT_EQ(dc.ops[0].brush, CFormBrush::Solid(0x0000FF));
    EXPECT_EQ(dc.ops[0].pen.style, CFormPen::kNull);
    EXPECT_EQ(dc.ops[1].brush, CFormBrush::Solid(0x00FF00));
    EXPECT_EQ(dc.ops[0].rect.bottom, 60);
    EXPECT_EQ(dc.ops[1].rect.top, 20);
    return dc.ops[0].rect.top;
  };
  EXPECT_EQ(splitOf(MakeVariantR8(150.0)), 20) << "above the high limit: full";
  EXPECT_EQ(splitOf(MakeVariantR8(-5.0)), 60) << "below the low limit: empty";
  EXPECT_EQ(splitOf(MakeVariantR8(25.0)), 50) << "25 of 100 on 40 pixels: the lowest 10";

  // Horizontal bars fill to the right.
  bar.m_bVertical = 0;
  bar.m_rect = {0, 0, 200, 10};
  level.m_value = MakeVariantR8(25.0);
  dc.ops.clear();
  bar.Draw(dc, kFormGrey);
  EXPECT_EQ(dc.ops[0].rect, (CRect{0, 0, 50, 10}));
  EXPECT_EQ(dc.ops[1].rect, (CRect{50, 0, 200, 10}));

  // No span: a value at both limits shows empty, never a division by zero.
  bar.m_fLow = bar.m_fHigh = 7.0f;
  EXPECT_FLOAT_EQ(bar.Fraction(7.0f), 0.0f);
  EXPECT_FLOAT_EQ(bar.Fraction(8.0f), 1.0f);

  // A bar whose tag does not exist shows the value 0.0.
  bar.m_strTag = "Nowhere";
  bar.m_fLow = -100.0f;
  bar.m_fHigh = 100.0f;
  EXPECT_DOUBLE_EQ(bar.GetValue(), 0.0);
  EXPECT_FLOAT_EQ(bar.Fraction(static_cast<float>(bar.GetValue())), 0.5f);
}

TEST_F(FormItems, BarGraphScaleLabelsSitOnTheEdgesAndTheBorderComesLast) {
  AddTag("Level", MakeVariantR8(50.0));
  CMMI_BarItem bar;
  bar.m_strTag = "Level";
  bar.m_fHigh = 100.0f;
  bar.m_rect = {10, 20, 30, 60};
  bar.m_bShowScale = 1;
  bar.m_bShowBorder = 1;
  bar.m_nBorderWidth = 2;
  bar.m_crBorder = 0x112233;
  bar.Draw(dc, kFormGrey);
  ASSERT_EQ(dc.ops.size(), 5u);
  EXPECT_EQ(dc.ops[2].text, "0.00");
  EXPECT_EQ(dc.ops[2].rect.left, 30);
  EXPECT_EQ(dc.ops[2].rect.top, 60 - kTextHeight / 2);
  EXPECT_EQ(dc.ops[3].text, "100.00");
  EXPECT_EQ(dc.ops[3].rect.top, 20 - kTextHeight / 2);
  EXPECT_EQ(dc.ops[3].bkMode, TRANSPARENT);
  EXPECT_EQ(dc.ops[3].textColor, 0x112233u);
  EXPECT_EQ(dc.ops[4].pen, CFormPen::Solid(2, 0x112233));
  EXPECT_EQ(dc.ops[4].brush.style, CFormBrush::kNull);
  EXPECT_EQ(dc.Brush(), CFormBrush::Solid(0xFFFFFF)) << "the brush before the bar is selected again";

  // A selected bar draws only its outline and stays dirty.
  bar.m_bSelected = 1;
  dc.ops.clear();
  bar.Draw(dc, kFormGrey);
  ASSERT_EQ(dc.ops.size(), 1u);
  EXPECT_EQ(dc.ops[0].brush.style, CFormBrush::kNull);
  EXPECT_EQ(bar.m_bDirty, 1);
}

TEST_F(FormItems, HitTestPassesAndMargins) {
  CMMI_RectItem rect;
  rect.m_rect = {0, 0, 100, 100};
  EXPECT_FALSE(rect.HitTest(50, 50, 0)) << "pass 0 ignores the inside of a large frame";
  EXPECT_TRUE(rect.HitTest(2, 50, 0)) << "2 pixels inside the left edge";
  EXPECT_TRUE(rect.HitTest(-3, 50, 0));
  EXPECT_FALSE(rect.HitTest(-4, 50, 0));
  EXPECT_FALSE(rect.HitTest(3, 50, 0)) << "the band is 3 wide inside";
  EXPECT_TRUE(rect.HitTest(50, 50, 1));
  EXPECT_FALSE(rect.HitTest(101, 50, 1));
  rect.m_nLineWidth = 8;
  EXPECT_TRUE(rect.HitTest(7, 50, 0)) << "a thick outline widens the band";

  CMMI_RectItem thin;
  thin.m_rect = {10, 10, 15, 200};  // 5 wide
  EXPECT_TRUE(thin.HitTest(12, 100, 0));
  EXPECT_TRUE(thin.HitTest(7, 100, 0));
  EXPECT_TRUE(thin.HitTest(18, 100, 0));
  EXPECT_FALSE(thin.HitTest(19, 100, 0));

  CMMI_BmpItem bmp;
  bmp.m_rect = {0, 0, 100, 100};
  EXPECT_FALSE(bmp.HitTest(50, 50, 0));
  EXPECT_TRUE(bmp.HitTest(98, 50, 0));
  bmp.m_rect = {0, 0, 6, 100};  // narrower than 7: hit anywhere near
  EXPECT_TRUE(bmp.HitTest(3, 50, 0));

  // The document's two passes: a text lying on a big frame wins over it,
  // though the frame comes first in the list; inside the frame away from the
  // text, pass 1 finds the frame.
  CPlexmarDoc doc;
  auto frame = std::make_unique<CMMI_RectItem>();
  frame->m_rect = {0, 0, 300, 300};
  CMMI_Item* framePtr = frame.get();
  auto label = std::make_unique<CMMI_TxtItem>();
  label->m_rect = {100, 100, 150, 113};
  CMMI_Item* labelPtr = label.get();
  doc.m_items.push_back(std::move(frame));
  doc.m_items.push_back(std::move(label));
  EXPECT_EQ(doc.HitTest(120, 105), labelPtr);
  EXPECT_EQ(doc.HitTest(1, 105), framePtr) << "on the frame's edge pass 0 finds the frame first";
  EXPECT_EQ(doc.HitTest(200, 200), framePtr);
  EXPECT_EQ(doc.HitTest(400, 400), nullptr);

  CMMI_TxtItem text;
  text.m_rect = {0, 0, 10, 10};
  EXPECT_TRUE(text.HitTest(10, 10, 0)) << "both edges included";
  EXPECT_TRUE(text.HitTest(5, 5, 0));
  EXPECT_FALSE(text.HitTest(11, 5, 1));
}

TEST_F(FormItems, HotTextInsetPressedColoursAndFitToText) {
  CMMI_HotTxtItem hot;
  hot.m_rect = {10, 10, 200, 40};
  hot.m_strText = "Start";
  hot.m_nBorderWidth = 3;
  hot.m_crText = 0x0000FF;
  hot.m_crBack = 0xFFFF00;
  hot.m_crBorder = 0x00FF00;
  hot.Draw(dc, kFormGrey);
  ASSERT_EQ(dc.ops.size(), 3u);
  EXPECT_EQ(dc.ops[0].brush, CFormBrush::Solid(0xFFFF00)) << "the face";
  EXPECT_EQ(dc.ops[1].pen, CFormPen::Solid(3, 0x00FF00)) << "the border";
  EXPECT_EQ(dc.ops[2].rect.left, 13);
  EXPECT_EQ(dc.ops[2].rect.top, 13);
  EXPECT_EQ(dc.ops[2].textColor, 0x0000FFu);
  EXPECT_EQ(dc.ops[2].bkMode, OPAQUE);
  EXPECT_EQ(hot.m_bDirty, 0);

  hot.m_bSelected = 1;
  dc.ops.clear();
  hot.Draw(dc, kFormGrey);
  EXPECT_EQ(dc.ops[0].brush, CFormBrush::Solid(0x0000FF)) << "pressed, the face takes the text colour";
  EXPECT_EQ(dc.ops[1].pen, CFormPen::Solid(3, 0xFFFF00));
  EXPECT_EQ(dc.ops[2].textColor, 0xFFFF00u);
  EXPECT_EQ(dc.ops[2].bkColor, 0x0000FFu);
  EXPECT_EQ(hot.m_bDirty, 1) << "a pressed hot text is drawn in every paint";

  hot.FitToText(dc);
  EXPECT_EQ(hot.m_rect, (CRect{10, 10, 10 + 5 * kCharWidth + 6, 10 + kTextHeight + 6}));

  CMMI_TxtItem text;
  text.m_rect = {4, 5, 6, 7};
  text.m_strText = "Boiler";
  text.FitToText(dc);
  EXPECT_EQ(text.m_rect, (CRect{4, 5, 4 + 6 * kCharWidth, 5 + kTextHeight}));
}

TEST_F(FormItems, TransparentStaticTextPaintsTheFormBackgroundOverItsRectangle) {
  CMMI_TxtItem text;
  text.m_rect = {0, 0, 50, 13};
  text.m_strText = "Pump";
  text.Draw(dc, kFormGrey);
  ASSERT_EQ(dc.ops.size(), 2u);
  EXPECT_EQ(dc.ops[0].brush, CFormBrush::Solid(kFormGrey)) << "the form's colour, not what lies beneath";
  EXPECT_EQ(dc.ops[0].pen.style, CFormPen::kNull);
  EXPECT_EQ(dc.ops[1].bkMode, TRANSPARENT);
  EXPECT_EQ(dc.ops[1].rect.left, 0);
  EXPECT_EQ(dc.ops[1].font, nullptr) << "the default font flag draws with the system font";

  text.m_bTransparent = 0;
  text.m_crBack = 0x00FFFF;
  text.m_bDefaultFont = 0;
  text.CreateItemFont();
  text.m_bSelected = 1;
  dc.ops.clear();
  text.Draw(dc, kFormGrey);
  EXPECT_EQ(dc.ops[0].brush, CFormBrush::Solid(0x00FFFF));
  EXPECT_EQ(dc.ops[0].pen, CFormPen::Black()) << "a selected text shows a frame";
  EXPECT_EQ(dc.ops[1].bkMode, OPAQUE);
  EXPECT_EQ(dc.ops[1].bkColor, 0x00FFFFu);
  EXPECT_EQ(dc.ops[1].font, text.ItemFont());
  EXPECT_EQ(dc.Font(), nullptr) << "the system font is selected again";
  EXPECT_EQ(text.m_bDirty, 1);
}

TEST_F(FormItems, DataValueRefreshesOnlyOnChangeAndErasesTheLongerText) {
  CExchangeTag& flow = AddTag("Flow", MakeVariantI4(123456));
  CMMI_TagItem value;
  value.m_strTag = "Flow";
  value.m_rect = {10, 10, 11, 11};
  const std::string longText = GetValueString(flow, VT_EMPTY);
  const int32_t longWidth = static_cast<int32_t>(longText.size()) * kCharWidth;
  value.Draw(dc, kFormGrey);
  ASSERT_EQ(dc.ops.size(), 2u);
  EXPECT_EQ(dc.ops[1].text, longText);
  EXPECT_EQ(value.m_rect, (CRect{10, 10, 10 + longWidth, 10 + kTextHeight})) << "sized to its text";
  EXPECT_EQ(value.m_bDirty, 0);

  value.OnRefresh(1000);
  EXPECT_EQ(value.m_bDirty, 0) << "an unchanged value is not drawn again";

  flow.m_value = MakeVariantI4(7);
  value.OnRefresh(1000);
  EXPECT_EQ(value.m_bDirty, 1);
  dc.ops.clear();
  value.Draw(dc, kFormGrey);
  EXPECT_EQ(dc.ops[0].rect, (CRect{10, 10, 10 + longWidth, 10 + kTextHeight}))
      << "the fill covers the previous, longer text";
  const std::string shortText = GetValueString(flow, VT_EMPTY);
  EXPECT_LT(shortText.size(), longText.size());
  EXPECT_EQ(dc.ops[1].text, shortText);
  EXPECT_EQ(value.m_rect.right, 10 + static_cast<int32_t>(shortText.size()) * kCharWidth);

  // The tag goes away: "Invalid Tag Name", and the rectangle follows.
  app.m_tags.clear();
  value.OnRefresh(1000);
  EXPECT_EQ(value.m_bDirty, 0) << "without the tag the refresh leaves the item alone";
  value.m_bDirty = 1;
  dc.ops.clear();
  value.Draw(dc, kFormGrey);
  EXPECT_EQ(dc.ops[1].text, "Invalid Tag Name");
  EXPECT_EQ(value.m_rect.right, 10 + 16 * kCharWidth);
  EXPECT_DOUBLE_EQ(value.GetValue(), 0.0);
}

// Every Draw leaves the item clean unless selected, so an idle form costs
// nothing on the next paint; a selected one is drawn every time.
TEST_F(FormItems, DrawClearsTheDirtyFlagUnlessSelected) {
  std::vector<std::unique_ptr<CMMI_Item>> items;
  for (int32_t type = kItemText; type <= kItemTrend; ++type) items.push_back(CreateFormItem(type));
  for (auto& item : items) {
    EXPECT_EQ(item->m_bDirty, 1) << "new items are dirty";
    item->m_rect = {0, 0, 50, 50};
    item->Draw(dc, kFormGrey);
    EXPECT_EQ(item->m_bDirty, 0) << typeid(*item).name();
    item->m_bSelected = 1;
    item->Draw(dc, kFormGrey);
    EXPECT_EQ(item->m_bDirty, 1) << typeid(*item).name();
  }
  EXPECT_EQ(CreateFormItem(0), nullptr);
  EXPECT_EQ(CreateFormItem(9), nullptr);
}

TEST_F(FormItems, BitmapWithoutAFileDrawsTheHatchedPlaceholder) {
  CMMI_BmpItem bmp;
  bmp.m_rect = {0, 0, 40, 30};
  bmp.m_strPath = "/no/such/file.bmp";
  bmp.LoadBitmap();
  bmp.Draw(dc, kFormGrey);
  ASSERT_EQ(dc.ops.size(), 1u);
  EXPECT_EQ(dc.ops[0].brush, CFormBrush::Hatched(HS_FDIAGONAL, 0x000000));
  EXPECT_EQ(dc.ops[0].pen, CFormPen::Black());
}

TEST_F(FormItems, TrendSamplingIntervalsAndTrimming) {
  CExchangeTag& flow = AddTag("Flow", MakeVariantR8(1.0));
  CMMI_TrendItem trend;
  EXPECT_EQ(trend.m_nCountdown, 6000) << "10 minutes over 100 points";
  trend.m_pens[0].m_bEnabled = 1;
  trend.m_pens[0].m_strTag = "Flow";
  trend.m_pens[1].m_bEnabled = 1;
  trend.m_pens[1].m_strTag = "Missing";
  trend.m_bDirty = 0;
  for (int tick = 1; tick <= 5; ++tick) trend.OnRefresh(1000);
  EXPECT_TRUE(trend.m_pens[0].m_samples.empty()) << "no sample before the 6th tick";
  EXPECT_EQ(trend.m_bDirty, 0);
  trend.OnRefresh(1000);
  EXPECT_EQ(trend.m_pens[0].m_samples.size(), 1u);
  EXPECT_TRUE(trend.m_pens[1].m_samples.empty()) << "a pen without its tag gets nothing";
  EXPECT_EQ(trend.m_bDirty, 1);
  EXPECT_EQ(trend.m_nCountdown, 6000);

  // Seconds: 10 s over 100 points is 100 ms; one sample per 1000 ms tick.
  trend.m_bSeconds = 1;
  EXPECT_EQ(trend.ComputeInterval(), 100);
  for (int tick = 0; tick < 99; ++tick) {
    flow.m_value = MakeVariantR8(tick + 2.0);
    trend.OnRefresh(1000);
    EXPECT_EQ(trend.m_nCountdown, 100) << "the remainder below zero is dropped";
  }
  ASSERT_EQ(trend.m_pens[0].m_samples.size(), 100u);
  EXPECT_FLOAT_EQ(trend.m_pens[0].m_samples.front()->m_fValue, 1.0f);
  flow.m_value = MakeVariantR8(500.0);
  trend.OnRefresh(1000);
  ASSERT_EQ(trend.m_pens[0].m_samples.size(), 100u) << "the 101st sample removes the first";
  EXPECT_FLOAT_EQ(trend.m_pens[0].m_samples.front()->m_fValue, 2.0f);
  EXPECT_FLOAT_EQ(trend.m_pens[0].m_samples.back()->m_fValue, 500.0f);

  // A text that is no number samples as 0.0.
  VARIANT text = MakeVariantText("not a number");
  flow.m_value = text;
  VariantClear(&text);
  trend.OnRefresh(1000);
  EXPECT_FLOAT_EQ(trend.m_pens[0].m_samples.back()->m_fValue, 0.0f);

  // Zero or negative points never reach a division; a smaller count trims.
  for (int32_t points : {0, -5}) {
    trend.m_nMaxPoints = points;
    EXPECT_EQ(trend.ComputeInterval(), 10000);
    trend.OnRefresh(100000);
    EXPECT_EQ(trend.m_pens[0].m_samples.size(), 1u);
    trend.Draw(dc, kFormGrey);
  }
  trend.m_nMaxPoints = 1000;
  EXPECT_EQ(trend.PointsKept(), 200);
}

TEST_F(FormItems, TrendPositionsOfSamplesAndValues) {
  CMMI_TrendItem trend;
  trend.m_rect = {100, 50, 600, 250};  // 500 wide, 200 high
  TrendPen& pen = trend.m_pens[0];
  EXPECT_EQ(trend.ValueY(pen, 50.0f), 150) << "50 of 0..100 is 100 pixels above the bottom";
  EXPECT_EQ(trend.ValueY(pen, 150.0f), 50);
  EXPECT_EQ(trend.ValueY(pen, -1.0f), 250);
  pen.m_fLow = pen.m_fHigh = 3.0f;
  EXPECT_EQ(trend.ValueY(pen, 3.0f), 250) << "no span: the bottom edge";
  pen.m_fHigh = 100.0f;
  pen.m_fLow = 0.0f;

  pen.m_bEnabled = 1;
  for (float v : {10.0f, 20.0f, 30.0f}) pen.m_samples.push_back(std::make_unique<CTrendSample>(v));
  trend.m_bShowGrid = 1;
  trend.m_crBorder = 0x00FF00;
  trend.Draw(dc, kFormGrey);
  std::vector<DrawOp> lines;
  for (const DrawOp& op : dc.ops)
    if (op.kind == DrawOp::kLine) lines.push_back(op);
  ASSERT_EQ(lines.size(), 4u + 3u + 3u);
  // Grid: vertical lines every 100 pixels from the left, horizontal every 50.
  EXPECT_EQ(lines[0].rect, (CRect{200, 50, 200, 250}));
  EXPECT_EQ(lines[3].rect, (CRect{500, 50, 500, 250}));
  EXPECT_EQ(lines[4].rect, (CRect{100, 100, 600, 100}));
  EXPECT_EQ(lines[6].rect, (CRect{100, 200, 600, 200}));
  // Pen: sample j at left + 5 j.
  EXPECT_EQ(lines[7].rect, (CRect{100, 230, 100, 230}));
  EXPECT_EQ(lines[8].rect, (CRect{100, 230, 105, 210}));
  EXPECT_EQ(lines[9].rect, (CRect{105, 210, 110, 190}));
  EXPECT_EQ(lines[9].pen, CFormPen::Solid(1, 0x0000FF));
  EXPECT_EQ(dc.ops[0].pen.style, CFormPen::kNull) << "no border: the null pen";
  EXPECT_EQ(dc.ops[0].brush, CFormBrush::Solid(0x000000));
  EXPECT_EQ(dc.Pen(), CFormPen::Black()) << "the pen before the chart is selected again";

  trend.m_bSelected = 1;
  dc.ops.clear();
  trend.Draw(dc, kFormGrey);
  EXPECT_EQ(dc.ops.size(), 1u) << "a selected chart draws only its outline";
  EXPECT_EQ(trend.m_bDirty, 1);
}

TEST(FormsByTitle, AnyLetterCaseAndAfterATitleChange) {
  CPlexmarDoc a;
  CPlexmarDoc b;
  a.SetTitle("Boiler House");
  b.SetTitle("Plexform1");
  const std::vector<CPlexmarDoc*> open = {&a, &b};
  EXPECT_EQ(FindFormByTitle(open, "boiler HOUSE"), &a);
  EXPECT_EQ(FindFormByTitle(open, "PLEXFORM1"), &b);
  EXPECT_EQ(FindFormByTitle(open, "Boiler"), nullptr);
  b.SetTitle("Pumps");
  EXPECT_EQ(FindFormByTitle(open, "pumps"), &b);
  EXPECT_EQ(FindFormByTitle(open, "Plexform1"), nullptr);
  // The first match wins.
  a.SetTitle("PUMPS");
  EXPECT_EQ(FindFormByTitle(open, "Pumps"), &a);
  // Without a view there is nothing to show or hide.
  EXPECT_EQ(a.ShowFormWindow(), 0);
  EXPECT_EQ(a.HideFormWindow(), 0);
}

TEST(FormAutomation, ReadTagAndWriteTag) {
  CPlexmarApp app;
  auto tag = std::make_unique<CExchangeTag>("Speed");
  tag->m_value = MakeVariantI4(5);
  CExchangeTag& speed = *tag;
  app.m_tags.push_back(std::move(tag));
  CPlexmarDoc doc;

  VARIANT name = MakeVariantText("Speed");
  CVariant read = doc.ReadTag(name);
  EXPECT_EQ(read->vt, VT_I4);
  EXPECT_EQ(read->lVal, 5);
  VARIANT nobody = MakeVariantText("Nobody");
  EXPECT_EQ(doc.ReadTag(nobody)->vt, VT_EMPTY);

  VARIANT text = MakeVariantText("42");
  EXPECT_TRUE(SUCCEEDED(doc.WriteTag(name, text)));
  EXPECT_EQ(speed.m_value->vt, VT_I4) << "converted to the tag's own type";
  EXPECT_EQ(speed.m_value->lVal, 42);
  VARIANT junk = MakeVariantText("forty");
  EXPECT_LT(doc.WriteTag(name, junk), 0);
  EXPECT_EQ(speed.m_value->lVal, 42) << "a value that does not convert writes nothing";
  EXPECT_EQ(doc.WriteTag(nobody, text), CPlexmarDoc::DISP_E_UNKNOWNNAME);
  // A name that is a number is converted to its text.
  VARIANT number = MakeVariantI4(7);
  EXPECT_EQ(doc.ReadTag(number)->vt, VT_EMPTY);
  for (VARIANT* v : {&name, &nobody, &text, &junk, &number}) VariantClear(v);
}

}  // namespace

namespace {

// Rectangles, widths and limits from a damaged file far beyond any screen:
// sizes and positions saturate instead of overflowing.
TEST(FormItemsFromDamagedFiles, CoordinatesSaturate) {
  RecordingDC dc;
  CMMI_HotTxtItem hot;
  hot.m_strText = "Go";
  hot.m_nBorderWidth = 2019778399;
  hot.m_rect = {INT32_MAX - 5, INT32_MIN, 0, 0};
  hot.FitToText(dc);
  EXPECT_EQ(hot.m_rect.right, INT32_MAX);
  hot.Draw(dc, 0);
  EXPECT_EQ(dc.ops.back().rect.left, INT32_MAX);

  CMMI_BarItem bar;
  bar.m_fHigh = 1.0f;
  bar.m_rect = {INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX};
  EXPECT_EQ(bar.m_rect.Height(), INT32_MAX);
  bar.m_bShowScale = 1;
  bar.Draw(dc, 0);

  CMMI_RectItem rect;
  rect.m_nLineWidth = INT32_MAX;
  rect.m_rect = {INT32_MIN, 0, INT32_MAX, 10};
  EXPECT_TRUE(rect.HitTest(0, 5, 0));

  CMMI_TrendItem trend;
  trend.m_rect = {INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX};
  trend.m_bShowGrid = trend.m_bShowScale = 1;
  trend.m_nSpan = INT32_MIN;
  trend.ComputeInterval();
  trend.OnRefresh(1000);
  trend.m_pens[0].m_bEnabled = 1;
  trend.m_pens[0].m_samples.push_back(std::make_unique<CTrendSample>(50.0f));
  trend.m_pens[0].m_samples.push_back(std::make_unique<CTrendSample>(1e30f));
  trend.Draw(dc, 0);
  EXPECT_EQ(trend.ValueY(trend.m_pens[0], 50.0f), INT32_MAX - INT32_MAX / 2 - 1);
}

}  // namespace
