// The display items other than the trend chart: static text, rectangle,
// ellipse, bitmap, data value, bar graph and hot text.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "forms/MMI_Item.h"
#include "platform/variant.h"

class CExchangeTag;

// Static text, type 1.
class CMMI_TxtItem : public CMMI_Item, public CMMI_FontFields {
 public:
  CMMI_TxtItem();
  void SerializeItem(CArchive& ar, int32_t nVersion) override;
  void Draw(CFormDC& dc, COLORREF crBackground) override;
  void FitToText(CFormDC& dc) override;
  bool EditProperties() override;

  std::string m_strText;
  int32_t m_bTransparent = 1;
  COLORREF m_crText = 0x000000;
  COLORREF m_crBack = 0xFFFFFF;
};

// Rectangle, type 2; with m_bEllipse the ellipse of type 4.
class CMMI_RectItem : public CMMI_Item {
 public:
  CMMI_RectItem();
  void SerializeItem(CArchive& ar, int32_t nVersion) override;
  void Draw(CFormDC& dc, COLORREF crBackground) override;
  // Pass 0 answers only near the outline, so that items lying on a large
  // frame are found first; pass 1 and above use the whole rectangle.
  bool HitTest(int x, int y, int nPass) override;
  // The property dialog, which also gives the "Draw First" box.
  bool EditProperties(int32_t& bDrawFirst);
  using CMMI_Item::EditProperties;

  int32_t m_nLineWidth = 1;
  int32_t m_bTransparent = 1;
  COLORREF m_crLine = 0x000000;
  COLORREF m_crFill = 0xFFFFFF;
  int32_t m_bEllipse = 0;  // not stored: it follows from the type code
};

// Ellipse, type 4: the rectangle item drawn as an ellipse.
class CMMI_EllipseItem : public CMMI_RectItem {
 public:
  CMMI_EllipseItem() { m_bEllipse = 1; }
};

// Bitmap, type 3: a .bmp file stretched over the item.
class CMMI_BmpItem : public CMMI_Item {
 public:
  CMMI_BmpItem();
  void SerializeItem(CArchive& ar, int32_t nVersion) override;
  void Draw(CFormDC& dc, COLORREF crBackground) override;
  bool HitTest(int x, int y, int nPass) override;
  bool EditProperties(int32_t& bDrawFirst);
  using CMMI_Item::EditProperties;
  // Loads m_strPath, releasing the bitmap held before; a file that does not
  // load leaves none, which draws as a hatched placeholder.
  void LoadBitmap();

  std::string m_strPath;
  std::unique_ptr<CFormBitmap> m_hBitmap;
};

// Data value, type 5: a tag's value as text.
class CMMI_TagItem : public CMMI_Item, public CMMI_FontFields {
 public:
  CMMI_TagItem();
  void SerializeItem(CArchive& ar, int32_t nVersion) override;
  void Draw(CFormDC& dc, COLORREF crBackground) override;
  void FitToText(CFormDC& dc) override;
  // Dirty when the display text differs from the one drawn last.
  void OnRefresh(int nElapsedMs) override;
  // The tag's value as a double; 0.0 without the tag or a number.
  double GetValue() override;
  // The operator's write, when the tag exists and writing is enabled.
  void OnDoubleClick() override;
  bool EditProperties() override;

  // "Invalid Tag Name" without the tag, else its value as text for m_vtDisplay.
  std::string DisplayText() const;
  CExchangeTag* FindItemTag() const;

  std::string m_strTag;
  VARTYPE m_vtDisplay = VT_EMPTY;
  std::string m_strShown;  // the text drawn last; not stored
  int32_t m_bTransparent = 1;
  COLORREF m_crText = 0x000000;
  COLORREF m_crBack = 0xFFFFFF;

 protected:
  // The fields of the data value record after the header.
  void SerializeTagFields(CArchive& ar);
};

// Bar graph, type 6: m_crText fills the bar, m_crBack is its empty part.
class CMMI_BarItem : public CMMI_TagItem {
 public:
  CMMI_BarItem();
  void SerializeItem(CArchive& ar, int32_t nVersion) override;
  void Draw(CFormDC& dc, COLORREF crBackground) override;
  void FitToText(CFormDC&) override {}
  bool EditProperties() override;
  // The filled fraction 0..1 of the value `v`.
  float Fraction(float v) const;

  int32_t m_bVertical = 1;
  int32_t m_bShowBorder = 0;
  int32_t m_bShowScale = 0;
  float m_fLow = 0.0f;
  float m_fHigh = 0.0f;
  int32_t m_nBorderWidth = 0;
  COLORREF m_crBorder = 0xFFFFFF;
};

// Hot text, type 7: a button face that runs a logic block when clicked.
class CMMI_HotTxtItem : public CMMI_Item, public CMMI_FontFields {
 public:
  CMMI_HotTxtItem();
  void SerializeItem(CArchive& ar, int32_t nVersion) override;
  void Draw(CFormDC& dc, COLORREF crBackground) override;
  void FitToText(CFormDC& dc) override;
  bool EditProperties() override;

  std::string m_strText;
  COLORREF m_crText = 0x000000;
  COLORREF m_crBack = 0xFFFFFF;
  COLORREF m_crBorder = 0x000000;
  int32_t m_nBorderWidth = 1;
  std::string m_strLogicBlock;
};
