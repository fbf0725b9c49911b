#include "forms/MMI_TrendItem.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

#include "core/ExchangeTag.h"
#include "core/PlexmarApp.h"
#include "platform/variant.h"

namespace {

std::string LimitLabel(float value) {
  char text[64];
  std::snprintf(text, sizeof text, "%3.2f", static_cast<double>(value));
  return text;
}

}  // namespace

CMMI_TrendItem::CMMI_TrendItem() {
  m_bDirty = 1;
  ComputeInterval();
}

int32_t CMMI_TrendItem::PointsKept() const { return std::clamp(m_nMaxPoints, kMinPoints, kMaxPoints); }

int32_t CMMI_TrendItem::ComputeInterval() {
  const int64_t unit = m_bSeconds ? 1000 : 60000;
  const int64_t interval = static_cast<int64_t>(m_nSpan) * unit / PointsKept();
  m_nCountdown = static_cast<int32_t>(std::clamp<int64_t>(interval, std::numeric_limits<int32_t>::min(),
                                                          std::numeric_limits<int32_t>::max()));
  return m_nCountdown;
}

void CMMI_TrendItem::SerializeItem(CArchive& ar, int32_t nVersion) {
  SerializeHeader(ar);
  ar.Io(m_nType);
  ar.Io(m_bShowBorder);
  ar.Io(m_nBorderWidth);
  ar.Io(m_bShowGrid);
  ar.Io(m_bShowScale);
  ar.Io(m_crBack);
  ar.Io(m_crBorder);
  ar.Io(m_nSpan);
  ar.Io(m_nMaxPoints);
  if (nVersion >= kSecondsVersion) ar.Io(m_bSeconds);
  if (ar.IsLoading()) ComputeInterval();
  for (TrendPen& pen : m_pens) {
    ar.Io(pen.m_bEnabled);
    ar.Io(pen.m_fRawLow);
    ar.Io(pen.m_fRawHigh);
    ar.Io(pen.m_crPen);
    ar.Io(pen.m_nWidth);
    ar.Io(pen.m_fLow);
    ar.Io(pen.m_fHigh);
    ar.Io(pen.m_strTag);
  }
  if (ar.IsLoading()) m_bDirty = 1;
}

void CMMI_TrendItem::OnRefresh(int nElapsedMs) {
  m_nCountdown = Saturate(static_cast<int64_t>(m_nCountdown) - nElapsedMs);
  if (m_nCountdown > 0) return;
  ComputeInterval();

  CPlexmarApp* app = CPlexmarApp::Current();
  const size_t kept = static_cast<size_t>(PointsKept());
  for (TrendPen& pen : m_pens) {
    if (!pen.m_bEnabled) continue;
    const CExchangeTag* tag = app != nullptr ? app->FindTag(pen.m_strTag) : nullptr;
    if (tag == nullptr) continue;
    CVariant copy(*tag->m_value);
    const float value = SUCCEEDED(VariantChangeType(copy.get(), copy.get(), 0, VT_R4)) ? copy->fltVal : 0.0f;
    pen.m_samples.push_back(std::make_unique<CTrendSample>(value));
    if (pen.m_samples.size() > kept)
      pen.m_samples.erase(pen.m_samples.begin(),
                          pen.m_samples.begin() + static_cast<std::ptrdiff_t>(pen.m_samples.size() - kept));
  }
  m_bDirty = 1;
}

int32_t CMMI_TrendItem::ValueY(const TrendPen& pen, float v) const {
  if (v < pen.m_fLow) return m_rect.bottom;
  if (v > pen.m_fHigh) return m_rect.top;
  // A pen without a span, or a value that is not a number, lies on the bottom.
  if (!(pen.m_fHigh > pen.m_fLow)) return m_rect.bottom;
  const float offset = static_cast<float>(m_rect.Height()) * (v - pen.m_fLow) / (pen.m_fHigh - pen.m_fLow);
  if (!std::isfinite(offset)) return m_rect.bottom;
  return AddCoord(m_rect.bottom, -static_cast<int64_t>(TruncCoord(offset)));
}

void CMMI_TrendItem::Draw(CFormDC& dc, COLORREF) {
  if (m_bSelected) {
    DrawSelectedOutline(dc);
    return;
  }
  m_bDirty = 0;
  const CRect& r = m_rect;

  const CFormPen oldPen =
      dc.SelectPen(m_bShowBorder ? CFormPen::Solid(m_nBorderWidth, m_crBorder) : CFormPen::Null());
  const CFormBrush oldBrush = dc.SelectBrush(CFormBrush::Solid(m_crBack));
  dc.Rectangle(r);

  if (m_bShowGrid) {
    dc.SelectPen(CFormPen::Solid(1, m_crBorder));
    int32_t x = r.left;
    for (int i = 0; i < 4; ++i) {
      x = AddCoord(x, r.Width() / 5);
      dc.MoveTo(x, r.top);
      dc.LineTo(x, r.bottom);
    }
    int32_t y = r.top;
    for (int i = 0; i < 3; ++i) {
      y = AddCoord(y, r.Height() / 4);
      dc.MoveTo(r.left, y);
      dc.LineTo(r.right, y);
    }
  }

  if (m_bShowScale) {
    dc.SetTextColor(m_crBorder);
    dc.SetBkMode(TRANSPARENT);
    const std::string low = LimitLabel(m_pens[0].m_fLow);
    const std::string high = LimitLabel(m_pens[0].m_fHigh);
    dc.TextOut(r.right, AddCoord(r.bottom, -(dc.GetTextExtent(low).cy / 2)), low);
    dc.TextOut(r.right, AddCoord(r.top, -(dc.GetTextExtent(high).cy / 2)), high);
  }

  const float dx = static_cast<float>(r.Width()) / static_cast<float>(PointsKept());
  for (const TrendPen& pen : m_pens) {
    if (!pen.m_bEnabled || pen.m_samples.empty()) continue;
    dc.SelectPen(CFormPen::Solid(pen.m_nWidth, pen.m_crPen));
    dc.MoveTo(r.left, ValueY(pen, pen.m_samples[0]->m_fValue));
    for (size_t j = 0; j < pen.m_samples.size(); ++j)
      dc.LineTo(AddCoord(r.left, TruncCoord(static_cast<float>(j) * dx)), ValueY(pen, pen.m_samples[j]->m_fValue));
  }

  dc.SelectPen(oldPen);
  dc.SelectBrush(oldBrush);
}

bool CMMI_TrendItem::EditProperties() {
  m_bDirty = 1;
  IFormItemUi* ui = FormItemUi();
  if (ui == nullptr || !ui->EditItemProperties(*this, nullptr)) return false;
  ComputeInterval();
  return true;
}
