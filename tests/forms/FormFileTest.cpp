// The form file and the item records, byte for byte in both directions, and
// files that must not open: truncated at any point, damaged records, unknown
// type codes. A file that does not open leaves the document as it was.
#include <gtest/gtest.h>

#include <cstring>

#include "FormTestSupport.h"
#include "core/MainFrameCore.h"
#include "forms/MMI_Items.h"
#include "forms/MMI_TrendItem.h"
#include "forms/PlexmarDoc.h"
#include "platform/archive.h"

using form_test::Bytes;

namespace {

LOGFONT Arial(int32_t height) {
  LOGFONT f{};
  f.lfHeight = height;
  f.lfWeight = 700;
  f.lfItalic = 1;
  std::strcpy(f.lfFaceName, "Arial");
  return f;
}

std::vector<uint8_t> Record(CMMI_Item& item) {
  CArchive ar;
  item.SerializeItem(ar, 0);
  return ar.Bytes();
}

template <class T>
std::unique_ptr<T> Read(const std::vector<uint8_t>& bytes) {
  auto item = std::make_unique<T>();
  CArchive ar(bytes);
  item->SerializeItem(ar, 0);
  EXPECT_EQ(ar.Remaining(), 0u);
  return item;
}

// The header every record starts with.
Bytes Header(int32_t l, int32_t t, int32_t r, int32_t b, int32_t selected = 0) {
  Bytes bytes;
  bytes.Rect(l, t, r, b).I32(selected);
  return bytes;
}

// One record of every kind, with values unlike the defaults.
std::vector<std::unique_ptr<CMMI_Item>> OneOfEach() {
  std::vector<std::unique_ptr<CMMI_Item>> items;
  auto text = std::make_unique<CMMI_TxtItem>();
  text->m_rect = {10, 20, 80, 33};
  text->m_nType = kItemText;
  text->m_strText = "Boiler 1";
  text->m_bDefaultFont = 0;
  text->m_logFont = Arial(-16);
  items.push_back(std::move(text));
  auto rect = std::make_unique<CMMI_RectItem>();
  rect->m_rect = {0, 0, 300, 200};
  rect->m_nType = kItemRect;
  rect->m_bTransparent = 0;
  rect->m_crFill = 0x00FFEEDD;
  rect->m_nLineWidth = 3;
  items.push_back(std::move(rect));
  auto bmp = std::make_unique<CMMI_BmpItem>();
  bmp->m_rect = {5, 5, 55, 45};
  bmp->m_nType = kItemBitmap;
  bmp->m_strPath = "/nowhere/pump.bmp";
  items.push_back(std::move(bmp));
  auto ellipse = std::make_unique<CMMI_EllipseItem>();
  ellipse->m_rect = {100, 100, 140, 130};
  ellipse->m_nType = kItemEllipse;
  items.push_back(std::move(ellipse));
  auto tag = std::make_unique<CMMI_TagItem>();
  tag->m_rect = {20, 50, 90, 63};
  tag->m_nType = kItemTag;
  tag->m_strTag = "Flow";
  tag->m_vtDisplay = VT_R8;
  tag->m_bWriteEnabled = 1;
  items.push_back(std::move(tag));
  auto bar = std::make_unique<CMMI_BarItem>();
  bar->m_rect = {200, 10, 220, 110};
  bar->m_nType = kItemBar;
  bar->m_strTag = "Level";
  bar->m_fHigh = 100.0f;
  bar->m_bShowScale = 1;
  bar->m_crBorder = 0x000000FF;
  items.push_back(std::move(bar));
  auto hot = std::make_unique<CMMI_HotTxtItem>();
  hot->m_rect = {30, 150, 90, 170};
  hot->m_nType = kItemHotText;
  hot->m_strText = "Start";
  hot->m_nBorderWidth = 2;
  hot->m_strLogicBlock = "StartPump";
  items.push_back(std::move(hot));
  auto trend = std::make_unique<CMMI_TrendItem>();
  trend->m_rect = {320, 10, 520, 210};
  trend->m_nType = kItemTrend;
  trend->m_bShowGrid = 1;
  trend->m_nSpan = 5;
  trend->m_pens[0].m_bEnabled = 1;
  trend->m_pens[0].m_strTag = "Flow";
  trend->m_pens[2].m_crPen = 0x0000FF00;
  items.push_back(std::move(trend));
  return items;
}

TEST(FormRecords, StaticTextRectangleEllipseAndBitmap) {
  CMMI_TxtItem text;
  text.m_rect = {1, 2, 3, 4};
  text.m_nType = kItemText;
  text.m_strText = "Hi";
  text.m_bTransparent = 0;
  text.m_crText = 0x112233;
  text.m_logFont = Arial(-20);
  const LOGFONT font = text.m_logFont;
  Bytes want = Header(1, 2, 3, 4);
  want.I32(1).Str("Hi").I32(1).I32(0).I32(0x112233).I32(0xFFFFFF).Font(font);
  EXPECT_EQ(Record(text), want.get());
  auto back = Read<CMMI_TxtItem>(want.get());
  EXPECT_EQ(back->m_strText, "Hi");
  EXPECT_EQ(back->m_bTransparent, 0);
  EXPECT_EQ(back->m_pFont, nullptr) << "the default font flag makes no font object";
  EXPECT_EQ(Record(*back), want.get());

  CMMI_EllipseItem ellipse;
  ellipse.m_rect = {-5, 6, 70, 80};
  ellipse.m_nType = kItemEllipse;
  ellipse.m_nLineWidth = 4;
  ellipse.m_crLine = 0x0000FF;
  want = Header(-5, 6, 70, 80);
  want.I32(4).I32(1).I32(0x0000FF).I32(0xFFFFFF).I32(4);
  EXPECT_EQ(Record(ellipse), want.get());
  auto rect = Read<CMMI_RectItem>(want.get());
  EXPECT_EQ(rect->m_bEllipse, 0) << "the shape follows from the class, not the record";
  EXPECT_EQ(rect->m_nLineWidth, 4);

  CMMI_BmpItem bmp;
  bmp.m_rect = {0, 0, 10, 10};
  bmp.m_nType = kItemBitmap;
  bmp.m_strPath = "a.bmp";
  want = Header(0, 0, 10, 10);
  want.I32(3).Str("a.bmp");
  EXPECT_EQ(Record(bmp), want.get());
  auto bmpBack = Read<CMMI_BmpItem>(want.get());
  EXPECT_EQ(bmpBack->m_strPath, "a.bmp");
  EXPECT_EQ(bmpBack->m_hBitmap, nullptr) << "no loader, no bitmap: the placeholder";
}

TEST(FormRecords, DataValueBarGraphAndHotText) {
  CMMI_TagItem tag;
  tag.m_rect = {1, 1, 2, 2};
  tag.m_nType = kItemTag;
  tag.m_bWriteEnabled = 1;
  tag.m_strTag = "T";
  tag.m_vtDisplay = VT_I4;
  tag.m_bDefaultFont = 0;
  const LOGFONT font = tag.m_logFont;
  Bytes want = Header(1, 1, 2, 2);
  want.I32(1).I32(5).Str("T").U16(VT_I4).I32(0).I32(1).I32(0).I32(0xFFFFFF).Font(font);
  EXPECT_EQ(Record(tag), want.get());
  auto tagBack = Read<CMMI_TagItem>(want.get());
  EXPECT_EQ(tagBack->m_vtDisplay, VT_I4);
  ASSERT_NE(tagBack->m_pFont, nullptr) << "a record with its own font makes the font object";

  // The bar record holds the write flag twice; the second copy wins.
  Bytes bar = Header(0, 0, 20, 100);
  bar.I32(0).I32(6).Str("Level").U16(0).I32(1).I32(1).I32(0).I32(0xFFFFFF).Font(font);
  bar.I32(1).I32(0).F32(-10.0f).F32(90.5f).I32(2).I32(1).I32(0).I32(0x00FF00);
  auto barBack = Read<CMMI_BarItem>(bar.get());
  EXPECT_EQ(barBack->m_bWriteEnabled, 1);
  EXPECT_EQ(barBack->m_bVertical, 0);
  EXPECT_FLOAT_EQ(barBack->m_fLow, -10.0f);
  EXPECT_FLOAT_EQ(barBack->m_fHigh, 90.5f);
  EXPECT_EQ(barBack->m_nBorderWidth, 2);
  EXPECT_EQ(barBack->m_bShowScale, 1);
  EXPECT_EQ(barBack->m_crBorder, 0x00FF00u);
  // Written back, both copies are the flag as it now stands.
  Bytes rewritten = Header(0, 0, 20, 100);
  rewritten.I32(1).I32(6).Str("Level").U16(0).I32(1).I32(1).I32(0).I32(0xFFFFFF).Font(font);
  rewritten.I32(1).I32(0).F32(-10.0f).F32(90.5f).I32(2).I32(1).I32(0).I32(0x00FF00);
  EXPECT_EQ(Record(*barBack), rewritten.get());

  CMMI_HotTxtItem hot;
  hot.m_rect = {3, 4, 5, 6};
  hot.m_nType = kItemHotText;
  hot.m_strText = "Go";
  hot.m_nBorderWidth = 3;
  hot.m_strLogicBlock = "LB1";
  want = Header(3, 4, 5, 6);
  want.I32(7).Str("Go").I32(1).I32(3).I32(0).I32(0xFFFFFF).I32(0).Font(font).Str("LB1");
  EXPECT_EQ(Record(hot), want.get());
  EXPECT_EQ(Read<CMMI_HotTxtItem>(want.get())->m_strLogicBlock, "LB1");
}

TEST(FormRecords, TrendChartWithoutTheSecondsWordAtVersionZero) {
  CMMI_TrendItem trend;
  trend.m_rect = {0, 0, 500, 200};
  trend.m_nType = kItemTrend;
  trend.m_nSpan = 10;
  trend.m_bSeconds = 1;
  trend.m_pens[1].m_bEnabled = 1;
  trend.m_pens[1].m_strTag = "P2";
  Bytes want = Header(0, 0, 500, 200);
  want.I32(8).I32(0).I32(1).I32(0).I32(0).I32(0).I32(0).I32(10).I32(100);
  for (int i = 0; i < 5; ++i)
    want.I32(i == 1).F32(0).F32(100).I32(0x0000FF).I32(1).F32(0).F32(100).Str(i == 1 ? "P2" : "");
  EXPECT_EQ(Record(trend), want.get());
  auto back = Read<CMMI_TrendItem>(want.get());
  EXPECT_EQ(back->m_bSeconds, 0) << "a version 0 record carries no unit: minutes";
  EXPECT_EQ(back->m_nCountdown, 6000) << "the interval is computed when the record is read";
  EXPECT_EQ(back->m_pens[1].m_strTag, "P2");

  // From version 4 on the unit is in the record, after the point count.
  CArchive ar;
  trend.SerializeItem(ar, CMMI_TrendItem::kSecondsVersion);
  EXPECT_EQ(ar.Bytes().size(), want.get().size() + 4);
  CMMI_TrendItem seconds;
  CArchive in(ar.Bytes());
  seconds.SerializeItem(in, CMMI_TrendItem::kSecondsVersion);
  EXPECT_EQ(seconds.m_bSeconds, 1);
  EXPECT_EQ(seconds.m_nCountdown, 100);
}

TEST(FormFile, EmptyFormIs108Bytes) {
  CPlexmarDoc doc;
  const std::vector<uint8_t> bytes = doc.SaveToBytes();
  Bytes want;
  want.I32(0).I32(1000).I32(0).I32(0).Rect(0, 0, 0, 0).Font(DefaultFormFont());
  want.I32(0x000000).I32(0xC0C0C0).I32(0x0000FF).I32(0);
  ASSERT_EQ(bytes.size(), 108u);
  EXPECT_EQ(bytes, want.get());
  // The Courier record as the file holds it.
  const LOGFONT f = DefaultFormFont();
  EXPECT_EQ(f.lfHeight, -13);
  EXPECT_EQ(f.lfPitchAndFamily, 0x31);
  EXPECT_STREQ(f.lfFaceName, "Courier");
}

TEST(FormFile, WholeFileRoundTripKeepsOrderPlacementAndColours) {
  CPlexmarDoc doc;
  doc.m_items = OneOfEach();
  doc.m_nRefreshRate = 250;
  doc.m_crBackground = 0x00808080;
  CPlexmarDoc placed;
  std::string error;
  // The placement of a document without a view is the one last read.
  Bytes header;
  header.I32(0).I32(500).I32(0).I32(1).Rect(12, 34, 412, 334).Font(Arial(-11));
  header.I32(1).I32(2).I32(3).I32(0);
  ASSERT_TRUE(placed.LoadFromBytes(header.get(), error)) << error;
  EXPECT_EQ(placed.Placement().rect, (CRect{12, 34, 412, 334}));
  EXPECT_EQ(placed.Placement().bMaximized, 1);
  EXPECT_EQ(placed.SaveToBytes(), header.get());

  const std::vector<uint8_t> bytes = doc.SaveToBytes();
  CPlexmarDoc back;
  ASSERT_TRUE(back.LoadFromBytes(bytes, error)) << error;
  ASSERT_EQ(back.m_items.size(), 8u);
  const int32_t order[] = {1, 2, 3, 4, 5, 6, 7, 8};
  for (size_t i = 0; i < 8; ++i) EXPECT_EQ(back.m_items[i]->m_nType, order[i]);
  EXPECT_NE(dynamic_cast<CMMI_EllipseItem*>(back.m_items[3].get()), nullptr);
  EXPECT_NE(dynamic_cast<CMMI_BarItem*>(back.m_items[5].get()), nullptr);
  EXPECT_EQ(back.m_nRefreshRate, 250);
  EXPECT_EQ(back.m_crBackground, 0x00808080u);
  EXPECT_EQ(back.SaveToBytes(), bytes) << "saved back byte for byte";
  // Every item was read dirty, so the first paint draws it.
  for (const auto& item : back.m_items) EXPECT_EQ(item->m_bDirty, 1);
}

// A document that holds one known item, to see that a failed read leaves it.
void ExpectUntouched(const CPlexmarDoc& doc) {
  ASSERT_EQ(doc.m_items.size(), 1u);
  EXPECT_EQ(doc.m_items[0]->m_nType, kItemRect);
  EXPECT_EQ(doc.m_nRefreshRate, 777);
  EXPECT_EQ(doc.m_crBackground, 0x00123456u);
}

CPlexmarDoc& Prepared(CPlexmarDoc& doc) {
  auto rect = std::make_unique<CMMI_RectItem>();
  rect->m_nType = kItemRect;
  doc.m_items.push_back(std::move(rect));
  doc.m_nRefreshRate = 777;
  doc.m_crBackground = 0x00123456;
  return doc;
}

TEST(FormFile, EveryTruncationFailsAndLeavesTheDocument) {
  CPlexmarDoc full;
  full.m_items = OneOfEach();
  const std::vector<uint8_t> bytes = full.SaveToBytes();
  CPlexmarDoc doc;
  Prepared(doc);
  for (size_t length = 0; length < bytes.size(); ++length) {
    std::string error;
    ASSERT_FALSE(doc.LoadFromBytes({bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(length)}, error))
        << "a file cut at " << length << " of " << bytes.size() << " bytes opened";
    EXPECT_FALSE(error.empty());
    ExpectUntouched(doc);
  }
  // Trailing bytes after the last item are ignored.
  std::vector<uint8_t> longer = bytes;
  longer.push_back(0xAB);
  std::string error;
  EXPECT_TRUE(doc.LoadFromBytes(longer, error)) << error;
  EXPECT_EQ(doc.m_items.size(), 8u);
}

TEST(FormFile, UnknownTypeCodesAndDamagedRecordsFail) {
  Bytes head;
  head.I32(0).I32(1000).I32(0).I32(0).Rect(0, 0, 0, 0).Font(DefaultFormFont()).I32(0).I32(0).I32(0);
  CPlexmarDoc doc;
  Prepared(doc);
  std::string error;

  for (int32_t code : {0, 9, -1, 1000}) {
    Bytes file = head;
    file.I32(1).I32(code);
    file.Append(Header(0, 0, 10, 10).get()).I32(code).Str("x");
    EXPECT_FALSE(doc.LoadFromBytes(file.get(), error)) << code;
    EXPECT_NE(error.find("unknown type code"), std::string::npos) << error;
    ExpectUntouched(doc);
  }

  // A rectangle introduced as a rectangle whose record says text.
  Bytes mismatch = head;
  mismatch.I32(1).I32(2).Append(Header(0, 0, 10, 10).get()).I32(1).I32(1).I32(0).I32(0).I32(1);
  EXPECT_FALSE(doc.LoadFromBytes(mismatch.get(), error));
  ExpectUntouched(doc);

  // A count that the file cannot hold, and a negative one.
  for (int32_t count : {1000000, -3}) {
    Bytes file = head;
    file.I32(count);
    EXPECT_FALSE(doc.LoadFromBytes(file.get(), error)) << count;
    ExpectUntouched(doc);
  }

  // A string length that runs past the end.
  Bytes longText = head;
  longText.I32(1).I32(3).Append(Header(0, 0, 10, 10).get()).I32(3).Str("abc");
  std::vector<uint8_t> damaged = longText.get();
  damaged[damaged.size() - 4] = 200;
  EXPECT_FALSE(doc.LoadFromBytes(damaged, error));
  ExpectUntouched(doc);
}

TEST(FormFile, FuzzedBytesNeverHalfRead) {
  CPlexmarDoc full;
  full.m_items = OneOfEach();
  const std::vector<uint8_t> bytes = full.SaveToBytes();
  uint32_t seed = 12345;
  for (int round = 0; round < 2000; ++round) {
    std::vector<uint8_t> damaged = bytes;
    for (int flips = 0; flips < 3; ++flips) {
      seed = seed * 1103515245u + 12345u;
      damaged[(seed >> 8) % damaged.size()] ^= static_cast<uint8_t>(seed >> 24 | 1);
    }
    CPlexmarDoc doc;
    Prepared(doc);
    std::string error;
    if (!doc.LoadFromBytes(damaged, error)) ExpectUntouched(doc);
  }
}

}  // namespace
