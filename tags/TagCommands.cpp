#include "tags/TagCommands.h"

#include <filesystem>
#include <fstream>

#include "core/HostUi.h"
#include "core/MainFrame.h"
#include "core/PlexmarApp.h"
#include "resources/CommandIds.h"
#include "tags/CsvReader.h"
#include "tags/Lock.h"
#include "tags/PasswordDlg.h"
#include "tags/TagListDlg.h"
#include "tags/TagCsv.h"

namespace {

void Tell(CPlexmarApp& app, const char* text) {
  if (IHostUi* ui = app.HostUi()) ui->MessageBox(text);
}

}  // namespace

CTagCommands::CTagCommands(CPlexmarApp& app, CMainFrame& frame)
    : m_fnRunDialog([](QDialog& dialog) { return dialog.exec(); }), m_app(app), m_frame(frame) {}

void CTagCommands::OnLock() {
  LockConfiguration(m_app, [this](const char* caption) -> std::optional<std::string> {
    CPasswordDlg dialog(QString::fromUtf8(caption), &m_frame);
    if (m_fnRunDialog(dialog) != QDialog::Accepted) return std::nullopt;
    return dialog.Password().toStdString();
  });
  m_frame.UpdateCommandStates();
}

void CTagCommands::OnUnlock() {
  UnlockConfiguration(m_app, [this](const char* caption) -> std::optional<std::string> {
    CPasswordDlg dialog(QString::fromUtf8(caption), &m_frame);
    if (m_fnRunDialog(dialog) != QDialog::Accepted) return std::nullopt;
    return dialog.Password().toStdString();
  });
  m_frame.UpdateCommandStates();
}

void CTagCommands::OnExportTags() {
  const QString path = m_fnAskFile(&m_frame, {true, true, QStringLiteral("*.csv")});
  if (path.isEmpty()) return;
  if (!SaveCsvFile(path.toStdString(), ExportTagCsv(m_app.m_tags))) Tell(m_app, "File Creation Error");
}

void CTagCommands::OnImportTags() {
  const QString path = m_fnAskFile(&m_frame, {true, false, QStringLiteral("*.csv")});
  if (path.isEmpty()) return;
  std::error_code ec;
  std::ifstream in;
  // A folder opens for reading here but holds no lines: it must not empty the table.
  if (!std::filesystem::is_directory(path.toStdString(), ec)) in.open(path.toStdString(), std::ios::binary);
  if (!in.is_open()) {
    Tell(m_app, "File Open Error");
    return;
  }
  ImportTagCsv(m_app, in);
}

void CTagCommands::OnTagList() {
  CTagListDlg dialog(m_app, m_tagHooks, &m_frame);
  if (m_tagHooks.run) m_tagHooks.run(dialog);
}

std::shared_ptr<CTagCommands> InstallTagCommands(CMainFrame& frame, CPlexmarApp& app) {
  auto commands = std::make_shared<CTagCommands>(app, frame);
  frame.SetCommandHandler(cmd::ID_FILE_LOCK, [commands] { commands->OnLock(); },
                          [&app] { return IsLockEnabled(app); });
  frame.SetCommandHandler(cmd::ID_FILE_UNLOCK, [commands] { commands->OnUnlock(); },
                          [&app] { return IsUnlockEnabled(app); });
  frame.SetCommandHandler(cmd::ID_EDIT_TAGLIST, [commands] { commands->OnTagList(); });
  frame.SetCommandHandler(cmd::ID_EDIT_IMPORT_TAGS, [commands] { commands->OnImportTags(); });
  frame.SetCommandHandler(cmd::ID_EDIT_EXPORT_TAGS, [commands] { commands->OnExportTags(); });
  return commands;
}
