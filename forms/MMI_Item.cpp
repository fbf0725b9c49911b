#include "forms/MMI_Item.h"

#include <utility>

#include "core/MainFrameCore.h"

namespace {

IFormItemUi* g_pItemUi = nullptr;
const LOGFONT* g_pDefaultFont = nullptr;
FormBitmapLoader g_bitmapLoader;

}  // namespace

void SetFormItemUi(IFormItemUi* ui) { g_pItemUi = ui; }
IFormItemUi* FormItemUi() { return g_pItemUi; }

void SetFormDefaultFontSource(const LOGFONT* font) { g_pDefaultFont = font; }
LOGFONT FormDefaultFont() { return g_pDefaultFont != nullptr ? *g_pDefaultFont : DefaultFormFont(); }

void SetFormBitmapLoader(FormBitmapLoader loader) { g_bitmapLoader = std::move(loader); }
std::unique_ptr<CFormBitmap> LoadFormBitmap(const std::string& path) {
  if (!g_bitmapLoader || path.empty()) return nullptr;
  return g_bitmapLoader(path);
}

// --- CMMI_Item -------------------------------------------------------------------

void CMMI_Item::SerializeItem(CArchive&, int32_t) {}

void CMMI_Item::Draw(CFormDC& dc, COLORREF crBackground) {
  const CFormPen oldPen = dc.SelectPen(CFormPen::Black());
  const CFormBrush oldBrush = dc.SelectBrush(CFormBrush::Solid(crBackground));
  dc.Rectangle(m_rect);
  dc.SelectBrush(oldBrush);
  dc.SelectPen(oldPen);
}

void CMMI_Item::DrawScaled(CFormDC&, int) {}
void CMMI_Item::FitToText(CFormDC&) {}
void CMMI_Item::OnRefresh(int) {}
double CMMI_Item::GetValue() { return 0.0; }
void CMMI_Item::OnDoubleClick() {}

bool CMMI_Item::HitTest(int x, int y, int) {
  return x >= m_rect.left && x <= m_rect.right && y >= m_rect.top && y <= m_rect.bottom;
}

bool CMMI_Item::EditProperties() { return false; }

void CMMI_Item::SerializeHeader(CArchive& ar) {
  ar.Io(m_rect.left);
  ar.Io(m_rect.top);
  ar.Io(m_rect.right);
  ar.Io(m_rect.bottom);
  ar.Io(m_bSelected);
}

void CMMI_Item::DrawSelectedOutline(CFormDC& dc, bool bEllipse) {
  const CFormPen oldPen = dc.SelectPen(CFormPen::Black());
  const CFormBrush oldBrush = dc.SelectBrush(CFormBrush::Null());
  if (bEllipse)
    dc.Ellipse(m_rect);
  else
    dc.Rectangle(m_rect);
  dc.SelectBrush(oldBrush);
  dc.SelectPen(oldPen);
  m_bDirty = 1;
}

// --- CMMI_FontFields -------------------------------------------------------------

CMMI_FontFields::CMMI_FontFields() : m_logFont(FormDefaultFont()) {}

void CMMI_FontFields::CreateItemFont() {
  m_pFont.reset();
  if (m_bDefaultFont == 0) m_pFont = std::make_unique<CFormFont>(m_logFont);
}
