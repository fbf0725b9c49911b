#include "forms/MMI_Items.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "core/ExchangeTag.h"
#include "core/PlexmarApp.h"
#include "core/ValueConversion.h"

namespace {

bool EditThroughUi(CMMI_Item& item, int32_t* pbDrawFirst) {
  IFormItemUi* ui = FormItemUi();
  return ui != nullptr && ui->EditItemProperties(item, pbDrawFirst);
}

// Pass 0 of rectangles, ellipses and bitmaps: a hit only within `margin` of
// the outline, or anywhere on an item too small to have an inside.
bool HitNearOutline(const CRect& r, int x, int y, int64_t margin, bool small) {
  const int64_t left = r.left, top = r.top, right = r.right, bottom = r.bottom;
  if (x < left - margin || x > right + margin || y < top - margin || y > bottom + margin) return false;
  if (small) return true;
  return x < left + margin || x > right - margin || y < top + margin || y > bottom - margin;
}

// "%3.2f" of a limit label.
// How a static text or a data value draws: a black frame only while selected (the pen
// stays selected afterwards), the fill over the whole rectangle in the item's colour or,
// when transparent, the form's, and the text at the top-left, opaque or transparent.
// The item's font is left selected.
struct TextFace {
  const CFormFont* font;
  bool selected;
  bool transparent;
  COLORREF crText;
  COLORREF crBack;
  COLORREF crBackground;
};

void DrawTextFace(CFormDC& dc, const TextFace& face, const CRect& rect, const std::string& text) {
  dc.SelectPen(face.selected ? CFormPen::Black() : CFormPen::Null());
  const CFormBrush oldBrush = dc.SelectBrush(CFormBrush::Solid(face.transparent ? face.crBackground : face.crBack));
  dc.Rectangle(rect);
  dc.SelectBrush(oldBrush);

  dc.SelectFont(face.font);
  dc.SetTextColor(face.crText);
  if (face.transparent) {
    dc.SetBkMode(TRANSPARENT);
  } else {
    dc.SetBkMode(OPAQUE);
    dc.SetBkColor(face.crBack);
  }
  dc.TextOut(rect.left, rect.top, text);
}

std::string LimitLabel(float value) {
  char text[64];
  std::snprintf(text, sizeof text, "%3.2f", static_cast<double>(value));
  return text;
}

}  // namespace

// --- static text -------------------------------------------------------------

CMMI_TxtItem::CMMI_TxtItem() { m_bDirty = 1; }

void CMMI_TxtItem::SerializeItem(CArchive& ar, int32_t) {
  if (ar.IsLoading()) m_pFont.reset();
  SerializeHeader(ar);
  ar.Io(m_nType);
  ar.Io(m_strText);
  ar.Io(m_bDefaultFont);
  ar.Io(m_bTransparent);
  ar.Io(m_crText);
  ar.Io(m_crBack);
  ar.Io(m_logFont);
  if (ar.IsLoading()) {
    CreateItemFont();
    m_bDirty = 1;
  }
}

void CMMI_TxtItem::Draw(CFormDC& dc, COLORREF crBackground) {
  m_bDirty = m_bSelected ? 1 : 0;
  DrawTextFace(dc, TextFace{ItemFont(), m_bSelected != 0, m_bTransparent != 0, m_crText, m_crBack, crBackground},
               m_rect, m_strText);
  dc.SelectFont(nullptr);
}

void CMMI_TxtItem::FitToText(CFormDC& dc) {
  dc.SelectFont(ItemFont());
  const CSize extent = dc.GetTextExtent(m_strText);
  m_rect.right = AddCoord(m_rect.left, extent.cx);
  m_rect.bottom = AddCoord(m_rect.top, extent.cy);
  dc.SelectFont(nullptr);
}

bool CMMI_TxtItem::EditProperties() {
  m_bDirty = 1;
  return EditThroughUi(*this, nullptr);
}

// --- rectangle and ellipse -------------------------------------------------------

CMMI_RectItem::CMMI_RectItem() { m_bDirty = 1; }

void CMMI_RectItem::SerializeItem(CArchive& ar, int32_t) {
  SerializeHeader(ar);
  ar.Io(m_nType);
  ar.Io(m_bTransparent);
  ar.Io(m_crLine);
  ar.Io(m_crFill);
  ar.Io(m_nLineWidth);
  if (ar.IsLoading()) m_bDirty = 1;
}

void CMMI_RectItem::Draw(CFormDC& dc, COLORREF) {
  if (m_bSelected) {
    DrawSelectedOutline(dc, m_bEllipse != 0);
    return;
  }
  const CFormPen oldPen = dc.SelectPen(CFormPen::Solid(m_nLineWidth, m_crLine));
  const CFormBrush oldBrush =
      dc.SelectBrush(m_bTransparent ? CFormBrush::Null() : CFormBrush::Solid(m_crFill));
  if (m_bEllipse)
    dc.Ellipse(m_rect);
  else
    dc.Rectangle(m_rect);
  dc.SelectPen(oldPen);
  dc.SelectBrush(oldBrush);
  m_bDirty = 0;
}

bool CMMI_RectItem::HitTest(int x, int y, int nPass) {
  if (nPass >= 1) return CMMI_Item::HitTest(x, y, nPass);
  const int64_t m = std::max(m_nLineWidth, 3);
  const bool small = m_rect.Width() <= 2 * m || m_rect.Height() <= 2 * m;
  return HitNearOutline(m_rect, x, y, m, small);
}

bool CMMI_RectItem::EditProperties(int32_t& bDrawFirst) {
  m_bDirty = 1;
  return EditThroughUi(*this, &bDrawFirst);
}

// --- bitmap ----------------------------------------------------------------------

CMMI_BmpItem::CMMI_BmpItem() { m_bDirty = 1; }

void CMMI_BmpItem::SerializeItem(CArchive& ar, int32_t) {
  SerializeHeader(ar);
  ar.Io(m_nType);
  ar.Io(m_strPath);
  if (ar.IsLoading()) {
    if (m_nType == kItemBitmap) LoadBitmap();
    m_bDirty = 1;
  }
}

void CMMI_BmpItem::LoadBitmap() { m_hBitmap = LoadFormBitmap(m_strPath); }

void CMMI_BmpItem::Draw(CFormDC& dc, COLORREF) {
  if (m_bSelected) {
    DrawSelectedOutline(dc);
    return;
  }
  m_bDirty = 0;
  if (!m_hBitmap) {
    const CFormPen oldPen = dc.SelectPen(CFormPen::Black());
    const CFormBrush oldBrush = dc.SelectBrush(CFormBrush::Hatched(HS_FDIAGONAL, 0x000000));
    dc.Rectangle(m_rect);
    dc.SelectBrush(oldBrush);
    dc.SelectPen(oldPen);
    return;
  }
  dc.StretchBlt(m_rect, *m_hBitmap);
}

bool CMMI_BmpItem::HitTest(int x, int y, int nPass) {
  if (nPass >= 1) return CMMI_Item::HitTest(x, y, nPass);
  const bool small = m_rect.Width() < 7 || m_rect.Height() < 7;
  return HitNearOutline(m_rect, x, y, 3, small);
}

bool CMMI_BmpItem::EditProperties(int32_t& bDrawFirst) {
  m_bDirty = 1;
  return EditThroughUi(*this, &bDrawFirst);
}

// --- data value ------------------------------------------------------------------

CMMI_TagItem::CMMI_TagItem() { m_bDirty = 1; }

void CMMI_TagItem::SerializeTagFields(CArchive& ar) {
  ar.Io(m_bWriteEnabled);
  ar.Io(m_nType);
  ar.Io(m_strTag);
  ar.Io(m_vtDisplay);
  ar.Io(m_bDefaultFont);
  ar.Io(m_bTransparent);
  ar.Io(m_crText);
  ar.Io(m_crBack);
  ar.Io(m_logFont);
}

void CMMI_TagItem::SerializeItem(CArchive& ar, int32_t) {
  if (ar.IsLoading()) m_pFont.reset();
  SerializeHeader(ar);
  SerializeTagFields(ar);
  if (ar.IsLoading()) {
    CreateItemFont();
    m_bDirty = 1;
  }
}

CExchangeTag* CMMI_TagItem::FindItemTag() const {
  CPlexmarApp* app = CPlexmarApp::Current();
  return app != nullptr ? app->FindTag(m_strTag) : nullptr;
}

std::string CMMI_TagItem::DisplayText() const {
  const CExchangeTag* tag = FindItemTag();
  if (tag == nullptr) return "Invalid Tag Name";
  return GetValueString(*tag, m_vtDisplay);
}

void CMMI_TagItem::Draw(CFormDC& dc, COLORREF crBackground) {
  const std::string text = DisplayText();
  if (m_bSelected) {
    m_bDirty = 1;
  } else {
    m_strShown = text;
    m_bDirty = 0;
  }
  // The fill covers the previous text's rectangle, which erases it.
  DrawTextFace(dc, TextFace{ItemFont(), m_bSelected != 0, m_bTransparent != 0, m_crText, m_crBack, crBackground},
               m_rect, text);
  const CSize extent = dc.GetTextExtent(text);
  m_rect.right = AddCoord(m_rect.left, extent.cx);
  m_rect.bottom = AddCoord(m_rect.top, extent.cy);
  dc.SelectFont(nullptr);
}

void CMMI_TagItem::FitToText(CFormDC& dc) {
  dc.SelectFont(ItemFont());
  const CSize extent = dc.GetTextExtent(DisplayText());
  m_rect.right = AddCoord(m_rect.left, extent.cx);
  m_rect.bottom = AddCoord(m_rect.top, extent.cy);
  dc.SelectFont(nullptr);
}

void CMMI_TagItem::OnRefresh(int) {
  if (FindItemTag() == nullptr) return;
  if (DisplayText() != m_strShown) m_bDirty = 1;
}

double CMMI_TagItem::GetValue() {
  const CExchangeTag* tag = FindItemTag();
  if (tag == nullptr) return 0.0;
  CVariant copy(*tag->m_value);
  if (FAILED(VariantChangeType(copy.get(), copy.get(), 0, VT_R8))) return 0.0;
  return copy->dblVal;
}

void CMMI_TagItem::OnDoubleClick() {
  CExchangeTag* tag = FindItemTag();
  if (tag == nullptr || !m_bWriteEnabled) return;
  if (IFormItemUi* ui = FormItemUi()) ui->PromptAndWrite(*tag);
}

bool CMMI_TagItem::EditProperties() {
  m_bDirty = 1;
  return EditThroughUi(*this, nullptr);
}

// --- bar graph -------------------------------------------------------------------

CMMI_BarItem::CMMI_BarItem() {
  m_crText = 0x000000;
  m_crBack = 0xFFFFFF;
}

void CMMI_BarItem::SerializeItem(CArchive& ar, int32_t) {
  SerializeHeader(ar);
  SerializeTagFields(ar);
  // The record holds the write flag a second time; read in order, this one wins.
  ar.Io(m_bWriteEnabled);
  ar.Io(m_bVertical);
  ar.Io(m_fLow);
  ar.Io(m_fHigh);
  ar.Io(m_nBorderWidth);
  ar.Io(m_bShowScale);
  ar.Io(m_bShowBorder);
  ar.Io(m_crBorder);
  // Bars draw no text, so they hold no font.
  if (ar.IsLoading()) m_bDirty = 1;
}

float CMMI_BarItem::Fraction(float v) const {
  if (v < m_fLow) return 0.0f;
  if (v > m_fHigh) return 1.0f;
  // A value equal to both limits of a bar with no span shows empty, like any
  // value at the low limit. A NaN value or limit shows empty too.
  if (!(m_fHigh > m_fLow)) return 0.0f;
  const float f = (v - m_fLow) / (m_fHigh - m_fLow);
  return f >= 0.0f && f <= 1.0f ? f : 0.0f;
}

void CMMI_BarItem::Draw(CFormDC& dc, COLORREF) {
  if (m_bSelected) {
    DrawSelectedOutline(dc);
    return;
  }
  m_bDirty = 0;
  const float f = Fraction(static_cast<float>(GetValue()));
  const CRect& r = m_rect;

  dc.SelectPen(CFormPen::Null());
  const CFormBrush oldBrush = dc.SelectBrush(CFormBrush::Solid(m_crText));
  if (m_bVertical) {
    const int32_t split = AddCoord(r.bottom, -static_cast<int64_t>(TruncCoord(static_cast<float>(r.Height()) * f)));
    dc.Rectangle(r.left, split, r.right, r.bottom);
    dc.SelectBrush(CFormBrush::Solid(m_crBack));
    dc.Rectangle(r.left, r.top, r.right, split);
  } else {
    const int32_t split = AddCoord(r.left, TruncCoord(static_cast<float>(r.Width()) * f));
    dc.Rectangle(r.left, r.top, split, r.bottom);
    dc.SelectBrush(CFormBrush::Solid(m_crBack));
    dc.Rectangle(split, r.top, r.right, r.bottom);
  }

  if (m_bShowScale) {
    dc.SetTextColor(m_crBorder);
    dc.SetBkMode(TRANSPARENT);
    const std::string low = LimitLabel(m_fLow);
    const std::string high = LimitLabel(m_fHigh);
    const CSize lowSize = dc.GetTextExtent(low);
    const CSize highSize = dc.GetTextExtent(high);
    if (m_bVertical) {
      dc.TextOut(r.right, AddCoord(r.bottom, -(lowSize.cy / 2)), low);
      dc.TextOut(r.right, AddCoord(r.top, -(highSize.cy / 2)), high);
    } else {
      dc.TextOut(AddCoord(r.left, -(lowSize.cx / 2)), r.bottom, low);
      dc.TextOut(AddCoord(r.right, -(highSize.cx / 2)), r.bottom, high);
    }
  }

  if (m_bShowBorder) {
    const CFormPen oldPen = dc.SelectPen(CFormPen::Solid(m_nBorderWidth, m_crBorder));
    dc.SelectBrush(CFormBrush::Null());
    dc.Rectangle(r);
    dc.SelectPen(oldPen);
  }
  dc.SelectBrush(oldBrush);
}

bool CMMI_BarItem::EditProperties() {
  m_bDirty = 1;
  return EditThroughUi(*this, nullptr);
}

// --- hot text --------------------------------------------------------------------

CMMI_HotTxtItem::CMMI_HotTxtItem() { m_bDirty = 1; }

void CMMI_HotTxtItem::SerializeItem(CArchive& ar, int32_t) {
  if (ar.IsLoading()) m_pFont.reset();
  SerializeHeader(ar);
  ar.Io(m_nType);
  ar.Io(m_strText);
  ar.Io(m_bDefaultFont);
  ar.Io(m_nBorderWidth);
  ar.Io(m_crText);
  ar.Io(m_crBack);
  ar.Io(m_crBorder);
  ar.Io(m_logFont);
  ar.Io(m_strLogicBlock);
  if (ar.IsLoading()) {
    CreateItemFont();
    m_bDirty = 1;
  }
}

void CMMI_HotTxtItem::Draw(CFormDC& dc, COLORREF) {
  const bool pressed = m_bSelected != 0;
  const COLORREF face = pressed ? m_crText : m_crBack;
  const CFormPen border = CFormPen::Solid(m_nBorderWidth, pressed ? m_crBack : m_crBorder);
  m_bDirty = pressed ? 1 : 0;

  // The face with whatever pen the context holds, then the border over it.
  const CFormBrush oldBrush = dc.SelectBrush(CFormBrush::Solid(face));
  dc.Rectangle(m_rect);
  const CFormPen oldPen = dc.SelectPen(border);
  dc.SelectBrush(CFormBrush::Null());
  dc.Rectangle(m_rect);
  dc.SelectPen(oldPen);
  dc.SelectBrush(oldBrush);

  dc.SelectFont(ItemFont());
  dc.SetTextColor(pressed ? m_crBack : m_crText);
  dc.SetBkMode(OPAQUE);
  dc.SetBkColor(face);
  dc.TextOut(AddCoord(m_rect.left, m_nBorderWidth), AddCoord(m_rect.top, m_nBorderWidth), m_strText);
  dc.SelectFont(nullptr);
}

void CMMI_HotTxtItem::FitToText(CFormDC& dc) {
  dc.SelectFont(ItemFont());
  const CSize extent = dc.GetTextExtent(m_strText);
  m_rect.right = AddCoord(m_rect.left, extent.cx + 2 * static_cast<int64_t>(m_nBorderWidth));
  m_rect.bottom = AddCoord(m_rect.top, extent.cy + 2 * static_cast<int64_t>(m_nBorderWidth));
  dc.SelectFont(nullptr);
}

bool CMMI_HotTxtItem::EditProperties() {
  m_bDirty = 1;
  return EditThroughUi(*this, nullptr);
}
