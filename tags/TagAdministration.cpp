#include "tags/TagAdministration.h"

#include <algorithm>
#include <utility>

#include "core/ExchangeTag.h"
#include "core/PlexmarApp.h"
#include "core/ValueConversion.h"
#include "serverkit/serverkit.h"

namespace tagadmin {

std::string ValueText(const CExchangeTag& tag) {
  std::string text = GetValueString(tag, VT_EMPTY);
  if (text.size() > kMaxValueChars) text.resize(kMaxValueChars);
  return text;
}

float ValueAsFloat(const CExchangeTag& tag) {
  CVariant converted;
  if (VariantChangeType(converted.get(), tag.m_value.get(), 0, VT_R4) != S_OK) return 0.0f;
  return converted->fltVal;
}

void MakeUserVariable(CExchangeTag& tag) {
  tag.m_nSourceKind = CExchangeTag::kSourceVariable;
  if (tag.m_value->vt == VT_R4) return;
  tag.m_value = MakeVariantR4(ValueAsFloat(tag));
}

void PrepareSource(CPlexmarApp& app, CExchangeTag& tag) {
  if (tag.m_nSourceKind == CExchangeTag::kSourceVariable) {
    tag.m_nQuality = CExchangeTag::kQualityGood;
  } else if (tag.m_nSourceKind == CExchangeTag::kSourceOpc) {
    app.ConnectClientItem(tag);
  } else if (tag.IsModbusPoint()) {
    const bool bFloat = tag.m_nDataType == CExchangeTag::kFloat || tag.m_nDataType == CExchangeTag::kWsFloat;
    tag.m_value = bFloat ? MakeVariantR4(0.0f) : MakeVariantI4(0);
    // Whatever the tag held before, nothing has come from the point yet.
    tag.m_nQuality = CExchangeTag::kQualityBad;
  }
}

bool IsNameTaken(const CPlexmarApp& app, const std::string& name, size_t except) {
  for (size_t i = 0; i < app.m_tags.size(); ++i)
    if (i != except && app.m_tags[i]->m_strName == name) return true;
  return false;
}

size_t InsertTag(CPlexmarApp& app, std::unique_ptr<CExchangeTag> tag, size_t position) {
  position = std::min(position, app.m_tags.size());
  CExchangeTag& placed = *tag;
  // In the table before its OPC item is activated: data changes for it are
  // only taken for tags of the table.
  app.m_tags.insert(app.m_tags.begin() + static_cast<std::ptrdiff_t>(position), std::move(tag));
  PrepareSource(app, placed);
  app.PublishTag(placed);
  return position;
}

bool ReplaceTag(CPlexmarApp& app, size_t position, std::unique_ptr<CExchangeTag> edited) {
  if (position >= app.m_tags.size()) return false;
  // Out of the table first, so that nothing finds it while its items go.
  std::unique_ptr<CExchangeTag> old = std::move(app.m_tags[position]);
  app.m_tags.erase(app.m_tags.begin() + static_cast<std::ptrdiff_t>(position));
  old.reset();
  InsertTag(app, std::move(edited), position);
  return true;
}

void UpdateUserVariable(CExchangeTag& tag, const CExchangeTag& edited) {
  tag.m_value = *edited.m_value;
  tag.m_strLogicBlock = edited.m_strLogicBlock;
  tag.m_nQuality = CExchangeTag::kQualityGood;
  if (tag.m_hServerTag != -1) UpdateServerTag(tag.m_hServerTag, *tag.m_value, OPC_QUALITY_GOOD);
}

bool RemoveTagAt(CPlexmarApp& app, size_t position) {
  if (position >= app.m_tags.size()) return false;
  std::unique_ptr<CExchangeTag> old = std::move(app.m_tags[position]);
  app.m_tags.erase(app.m_tags.begin() + static_cast<std::ptrdiff_t>(position));
  old.reset();
  return true;
}

void RegisterDataBlocks(CPlexmarApp& app) { app.RebuildDataBlocks(); }

}  // namespace tagadmin
