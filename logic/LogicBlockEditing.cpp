#include "logic/LogicBlockEditing.h"

#include <QDialog>

#include <memory>
#include <string>

#include "core/PlexmarApp.h"
#include "logic/LogicBlock.h"
#include "logic/LogicBlockDlgs.h"

CLogicBlock* CreateLogicBlock(CPlexmarApp& app, QWidget* parent) {
  return CreateLogicBlock(app, parent, LogicHooks());
}

CLogicBlock* CreateLogicBlock(CPlexmarApp& app, QWidget* parent, const LogicDialogHooks& hooks) {
  auto block = std::make_unique<CLogicBlock>();
  block->m_strName = "LB" + std::to_string(app.m_logicBlocks.size() + 1);
  // Each round reopens the editor on what the operator typed in the last.
  for (;;) {
    CLogicBlockDlg editor(*block, app, parent);
    editor.m_hooks = hooks;
    if (!hooks.run || hooks.run(editor) != QDialog::Accepted) return nullptr;
    const QString refusal = LogicBlockNameRefusal(app, block->m_strName, nullptr);
    if (refusal.isEmpty()) break;
    if (hooks.message) hooks.message(parent, refusal);
  }
  CLogicBlock* made = block.get();
  app.AddLogicBlock(std::move(block));
  return made;
}

void OpenLogicBlockTables(CPlexmarApp& app, QWidget* parent) {
  const LogicDialogHooks& hooks = LogicHooks();
  CLogicBlockTablesDlg table(app, parent);
  table.m_hooks = hooks;
  if (hooks.run) hooks.run(table);
}
