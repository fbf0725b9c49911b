// The trend chart, type 8: the recent history of up to five tags as line
// graphs, sampled at an interval that spreads m_nMaxPoints samples over the
// time span. Samples live only in memory; a reopened form starts empty.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "forms/MMI_Item.h"

class CTrendSample {
 public:
  explicit CTrendSample(float value) : m_fValue(value) {}
  float m_fValue;
};

struct TrendPen {
  int32_t m_bEnabled = 0;
  std::string m_strTag;
  float m_fRawLow = 0.0f;  // carried through the pen dialog; not used otherwise
  float m_fRawHigh = 100.0f;
  COLORREF m_crPen = 0x0000FF;
  int32_t m_nWidth = 1;
  float m_fLow = 0.0f;     // drawn at the bottom edge
  float m_fHigh = 100.0f;  // drawn at the top edge
  std::vector<std::unique_ptr<CTrendSample>> m_samples;  // oldest first
};

class CMMI_TrendItem : public CMMI_Item {
 public:
  static constexpr int kPens = 5;
  // The number of samples a pen keeps is held to 1..200, whatever the record
  // says, so that no division by it fails and no history grows without end.
  static constexpr int32_t kMinPoints = 1;
  static constexpr int32_t kMaxPoints = 200;
  // The first record version that carries the span unit. Form files are
  // written at version 0, so their charts always read back in minutes.
  static constexpr int32_t kSecondsVersion = 4;

  CMMI_TrendItem();
  void SerializeItem(CArchive& ar, int32_t nVersion) override;
  void Draw(CFormDC& dc, COLORREF crBackground) override;
  void DrawScaled(CFormDC&, int) override {}
  void OnRefresh(int nElapsedMs) override;
  bool EditProperties() override;

  // The sampling interval in ms, also stored in m_nCountdown.
  int32_t ComputeInterval();
  int32_t PointsKept() const;
  // The y of value `v` for `pen` on this chart.
  int32_t ValueY(const TrendPen& pen, float v) const;

  int32_t m_bShowBorder = 0;
  int32_t m_bShowGrid = 0;
  int32_t m_bShowScale = 0;
  COLORREF m_crBack = 0x000000;
  COLORREF m_crBorder = 0x000000;
  int32_t m_nBorderWidth = 1;
  int32_t m_nSpan = 10;
  int32_t m_nMaxPoints = 100;
  int32_t m_bSeconds = 0;
  int32_t m_nCountdown = 0;
  std::array<TrendPen, kPens> m_pens;
};
