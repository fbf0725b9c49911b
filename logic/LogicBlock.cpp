// The logic block model: its record, copy, comparison and labels. Running a
// block lives in LogicRun.cpp.
#include "logic/LogicBlock.h"

#include "platform/archive.h"

CLogicBlock::~CLogicBlock() = default;

void CLogicBlock::Serialize(CArchive& ar) {
  ar.Io(m_strName);
  if (ar.IsStoring()) {
    ar.WriteInt32(static_cast<int32_t>(m_entries.size()));
    for (auto& entry : m_entries) entry->Serialize(ar);
    return;
  }
  // An entry record holds at least seven one-byte string lengths and two
  // int32s, so a count the remaining bytes cannot hold is a damaged file,
  // refused before anything is allocated.
  const int32_t count = ar.ReadCount(7 + 2 * 4);
  std::vector<std::unique_ptr<CLogicEntry>> entries;
  entries.reserve(static_cast<size_t>(count));
  for (int32_t i = 0; i < count; ++i) {
    auto entry = std::make_unique<CLogicEntry>();
    entry->Serialize(ar);
    entries.push_back(std::move(entry));
  }
  m_entries = std::move(entries);
}

int CLogicBlock::CopyFrom(const CLogicBlock& source) {
  if (&source == this) return 1;
  m_entries.clear();
  m_strName = source.m_strName;
  m_entries.reserve(source.m_entries.size());
  for (const auto& entry : source.m_entries) {
    auto copy = std::make_unique<CLogicEntry>();
    copy->CopyFrom(*entry);
    m_entries.push_back(std::move(copy));
  }
  return 1;
}

bool CLogicBlock::IsEqual(const CLogicBlock& other) const {
  if (m_strName != other.m_strName || m_entries.size() != other.m_entries.size()) return false;
  for (size_t i = 0; i < m_entries.size(); ++i) {
    if (!m_entries[i]->IsEqual(*other.m_entries[i])) return false;
  }
  return true;
}

bool CLogicBlock::IsLabelUnique(const std::string& label) const {
  if (label.empty()) return true;
  for (const auto& entry : m_entries) {
    if (entry->m_strLabel == label) return false;
  }
  return true;
}

std::optional<size_t> CLogicBlock::FindStart(const std::string& label) const {
  if (label.empty()) return size_t{0};
  for (size_t i = 0; i < m_entries.size(); ++i) {
    if (m_entries[i]->m_strLabel == label) return i;
  }
  return std::nullopt;
}
