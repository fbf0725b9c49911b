// "Save &All" and "&Restore All", and the main window's project reader that
// start-up uses for the default project.
#pragma once

#include <memory>
#include <string>

#include "core/FileDialogs.h"

class CMainFrame;
class CPlexmarApp;

class CProjectCommands {
 public:
  CProjectCommands(CPlexmarApp& app, CMainFrame& frame);

  void OnSaveAll();
  void OnRestoreAll();
  // LoadProject with the forms of the application's template.
  bool Load(const std::string& path);
  bool Save(const std::string& path);

  AskFileFn m_fnAskFile = DefaultAskFile();

 private:
  CPlexmarApp& m_app;
  CMainFrame& m_frame;
};

std::shared_ptr<CProjectCommands> InstallProjectCommands(CMainFrame& frame, CPlexmarApp& app);
