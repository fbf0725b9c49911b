// Any bytes as a form file. A file is taken only when it reads to its last
// item; a refused file leaves the document it was to fill untouched. A taken
// one saves to bytes that load back to the very same bytes, and every item
// it holds draws, refreshes and hit-tests without fault.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/PlexmarApp.h"
#include "forms/FormDC.h"
#include "forms/MMI_Items.h"
#include "forms/PlexmarDoc.h"

namespace {

void Require(bool condition) {
  if (!condition) std::abort();
}

// Draws nothing; measures every character 8 by 16.
class NullDC : public CFormDC {
 public:
  void Rectangle(int32_t, int32_t, int32_t, int32_t) override {}
  void Ellipse(int32_t, int32_t, int32_t, int32_t) override {}
  void TextOut(int32_t, int32_t, const std::string&) override {}
  CSize GetTextExtent(const std::string& text) override { return {static_cast<int32_t>(text.size()) * 8, 16}; }
  void StretchBlt(const CRect&, const CFormBitmap&) override {}

 protected:
  void DrawLine(CPoint, CPoint) override {}
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static CPlexmarApp* app = new CPlexmarApp;  // the tags items look up: none
  (void)app;
  CPlexmarDoc doc;
  auto marker = std::make_unique<CMMI_RectItem>();
  marker->m_nType = kItemRect;
  doc.m_items.push_back(std::move(marker));
  doc.m_nRefreshRate = 777;
  std::string error;
  if (!doc.LoadFromBytes(std::vector<uint8_t>(data, data + size), error)) {
    Require(!error.empty());
    Require(doc.m_items.size() == 1 && doc.m_items[0]->m_nType == kItemRect && doc.m_nRefreshRate == 777);
    return 0;
  }
  const std::vector<uint8_t> saved = doc.SaveToBytes();
  CPlexmarDoc again;
  Require(again.LoadFromBytes(saved, error));
  Require(again.SaveToBytes() == saved);

  NullDC dc;
  for (int round = 0; round < 3; ++round) {
    for (auto& item : doc.m_items) {
      item->OnRefresh(doc.m_nRefreshRate);
      item->Draw(dc, doc.m_crBackground);
      item->FitToText(dc);
      const CRect r = item->m_rect;
      item->HitTest(r.left, r.top, 0);
      item->HitTest(r.right, r.bottom, 1);
    }
  }
  return 0;
}
