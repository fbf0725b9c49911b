#include "logic/LogicCsvCommands.h"

#include <QMdiArea>
#include <QMdiSubWindow>

#include <filesystem>
#include <fstream>

#include "core/HostUi.h"
#include "core/MainFrame.h"
#include "core/PlexmarApp.h"
#include "logic/LogicBlock.h"
#include "logic/LogicBlockCsv.h"
#include "logic/LogicCsvDialogs.h"
#include "resources/CommandIds.h"
#include "tags/CsvReader.h"

namespace {

void Tell(CPlexmarApp& app, const char* text) {
  if (IHostUi* ui = app.HostUi()) ui->MessageBox(text);
}

}  // namespace

CLogicCsvCommands::CLogicCsvCommands(CPlexmarApp& app, CMainFrame& frame)
    : m_fnRunDialog([](QDialog& dialog) { return dialog.exec(); }), m_app(app), m_frame(frame) {}

// As the form view's own commands: a form window that logic has hidden is
// no longer the active one, though the MDI area still calls it current.
bool CLogicCsvCommands::IsEnabled() const {
  const QMdiSubWindow* window = m_frame.MdiArea()->currentSubWindow();
  return window != nullptr && !window->isHidden();
}

void CLogicCsvCommands::OnExportLogicBlk() {
  std::vector<std::string> names;
  for (const auto& block : m_app.m_logicBlocks) names.push_back(block->m_strName);
  CSelectLogicBlockDlg select(names, &m_frame);
  if (m_fnRunDialog(select) != QDialog::Accepted) return;
  const int chosen = select.Selected();
  if (chosen < 0 || static_cast<size_t>(chosen) >= m_app.m_logicBlocks.size()) return;
  const QString path = m_fnAskFile(&m_frame, {true, true, QStringLiteral("*.csv")});
  if (path.isEmpty()) return;
  const std::string text = ExportLogicBlockCsv(*m_app.m_logicBlocks[static_cast<size_t>(chosen)]);
  if (!SaveCsvFile(path.toStdString(), text)) Tell(m_app, "File Creation Error");
}

void CLogicCsvCommands::OnImportLogicBlk() {
  CImportLogicBlkDlg nameDialog(&m_frame);
  if (m_fnRunDialog(nameDialog) != QDialog::Accepted) return;
  const std::string name = nameDialog.Name();
  bool overwrite = false;
  if (m_app.FindLogicBlock(name) != nullptr) {
    CLogicBlockExistsDlg exists(&m_frame);
    if (m_fnRunDialog(exists) != QDialog::Accepted) return;
    overwrite = true;
  }
  const QString path = m_fnAskFile(&m_frame, {true, false, QStringLiteral("*.csv")});
  if (path.isEmpty()) return;
  std::error_code ec;
  std::ifstream in;
  if (!std::filesystem::is_directory(path.toStdString(), ec)) in.open(path.toStdString(), std::ios::binary);
  if (!in.is_open()) {
    Tell(m_app, "File Open Error");
    return;
  }
  std::unique_ptr<CLogicBlock> block = ParseLogicBlockCsv(in, name);
  if (overwrite) m_app.RemoveLogicBlock(name);
  m_app.AddLogicBlock(std::move(block));
}

std::shared_ptr<CLogicCsvCommands> InstallLogicCsvCommands(CMainFrame& frame, CPlexmarApp& app) {
  auto commands = std::make_shared<CLogicCsvCommands>(app, frame);
  frame.SetCommandHandler(cmd::ID_EDIT_EXPORT_LOGIC_BLK, [commands] { commands->OnExportLogicBlk(); },
                          [commands] { return commands->IsEnabled(); });
  frame.SetCommandHandler(cmd::ID_EDIT_IMPORT_LOGIC_BLK, [commands] { commands->OnImportLogicBlk(); },
                          [commands] { return commands->IsEnabled(); });
  return commands;
}
