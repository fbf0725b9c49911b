#include "core/ProjectCommands.h"

#include "core/AppFramework.h"
#include "core/MainFrame.h"
#include "core/PlexmarApp.h"
#include "core/ProjectFile.h"
#include "resources/CommandIds.h"

CProjectCommands::CProjectCommands(CPlexmarApp& app, CMainFrame& frame) : m_app(app), m_frame(frame) {}

bool CProjectCommands::Load(const std::string& path) {
  CProjectContext context{m_app, m_frame.Core(), m_app.m_pDocTemplate, LinkedLibraries()};
  const bool loaded = LoadProject(context, path);
  m_frame.UpdateMenus();
  return loaded;
}

bool CProjectCommands::Save(const std::string& path) {
  CProjectContext context{m_app, m_frame.Core(), m_app.m_pDocTemplate, LinkedLibraries()};
  return SaveProject(context, path);
}

void CProjectCommands::OnSaveAll() {
  EnterProgramFolder();
  const QString path = m_fnAskFile(&m_frame, {true, true, QStringLiteral("*.tst")});
  if (!path.isEmpty()) Save(path.toStdString());
}

void CProjectCommands::OnRestoreAll() {
  EnterProgramFolder();
  const QString path = m_fnAskFile(&m_frame, {false, false, QStringLiteral("*.tst")});
  if (!path.isEmpty()) Load(path.toStdString());
}

std::shared_ptr<CProjectCommands> InstallProjectCommands(CMainFrame& frame, CPlexmarApp& app) {
  auto commands = std::make_shared<CProjectCommands>(app, frame);
  frame.SetCommandHandler(cmd::ID_FILE_SAVE_ALL, [commands] { commands->OnSaveAll(); });
  frame.SetCommandHandler(cmd::ID_FILE_RESTORE_ALL, [commands] { commands->OnRestoreAll(); });
  frame.Core().SetProjectReader([commands](const std::string& path) { commands->Load(path); });
  return commands;
}
