// Writes the first input of the form file fuzzer: a form that holds one item
// of each of the eight kinds, with their fields away from the defaults.
#include <cstdio>
#include <cstring>

#include "forms/MMI_Items.h"
#include "forms/MMI_TrendItem.h"
#include "forms/PlexmarDoc.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUTPUT\n", argv[0]);
    return 2;
  }
  CPlexmarDoc doc;
  for (int32_t type = kItemText; type <= kItemTrend; ++type) {
    std::unique_ptr<CMMI_Item> item = CreateFormItem(type);
    item->m_nType = type;
    item->m_rect = {10 * type, 20, 10 * type + 60, 80};
    doc.m_items.push_back(std::move(item));
  }
  static_cast<CMMI_TxtItem&>(*doc.m_items[0]).m_strText = "Boiler";
  static_cast<CMMI_TxtItem&>(*doc.m_items[0]).m_bDefaultFont = 0;
  static_cast<CMMI_BmpItem&>(*doc.m_items[2]).m_strPath = "pump.bmp";
  static_cast<CMMI_TagItem&>(*doc.m_items[4]).m_strTag = "Flow";
  static_cast<CMMI_TagItem&>(*doc.m_items[4]).m_vtDisplay = VT_R8;
  auto& bar = static_cast<CMMI_BarItem&>(*doc.m_items[5]);
  bar.m_fHigh = 100.0f;
  bar.m_bShowScale = bar.m_bShowBorder = 1;
  static_cast<CMMI_HotTxtItem&>(*doc.m_items[6]).m_strLogicBlock = "Start";
  auto& trend = static_cast<CMMI_TrendItem&>(*doc.m_items[7]);
  trend.m_bShowGrid = trend.m_bShowScale = 1;
  trend.m_pens[0].m_bEnabled = 1;
  trend.m_pens[0].m_strTag = "Flow";
  const std::vector<uint8_t> bytes = doc.SaveToBytes();
  FILE* out = std::fopen(argv[1], "wb");
  if (out == nullptr || std::fwrite(bytes.data(), 1, bytes.size(), out) != bytes.size()) return 1;
  return std::fclose(out) == 0 ? 0 : 1;
}
