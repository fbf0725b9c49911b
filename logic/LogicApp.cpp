// The application object's logic block list and the form operations that
// logic entries call.
#include <algorithm>

#include "core/HostUi.h"
#include "core/PlexmarApp.h"
#include "logic/LogicBlock.h"

CLogicBlock* CPlexmarApp::FindLogicBlock(const std::string& name) const {
  for (const auto& block : m_logicBlocks) {
    if (block->m_strName == name) return block.get();
  }
  return nullptr;
}

bool CPlexmarApp::IsLogicBlockNameUnique(const std::string& name) const {
  return !name.empty() && FindLogicBlock(name) == nullptr;
}

void CPlexmarApp::RemoveLogicBlock(const std::string& name) {
  auto it = std::find_if(m_logicBlocks.begin(), m_logicBlocks.end(),
                         [&](const auto& block) { return block->m_strName == name; });
  if (it != m_logicBlocks.end()) m_logicBlocks.erase(it);
}

void CPlexmarApp::RunLogicBlock(const std::string& name) {
  if (name.empty()) return;
  if (CLogicBlock* block = FindLogicBlock(name)) block->Run(*this, std::string());
}

int CPlexmarApp::ShowForm(const std::string& name) {
  return m_pHostUi ? m_pHostUi->ShowForm(name) : 0;
}

int CPlexmarApp::HideForm(const std::string& name) {
  return m_pHostUi ? m_pHostUi->HideForm(name) : 0;
}

void CPlexmarApp::AddLogicBlock(std::unique_ptr<CLogicBlock> block) {
  if (block) m_logicBlocks.push_back(std::move(block));
}
