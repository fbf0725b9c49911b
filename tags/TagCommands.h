// The tag administration commands of the main window that live outside the
// tag list: "&Lock" and "&Unlock" on the File menu, "&Import Tags" and
// "&Export Tags" on the Edit menu.
#pragma once

#include <functional>
#include <memory>

#include "core/FileDialogs.h"

class QDialog;
class CMainFrame;
class CPlexmarApp;

class CTagCommands {
 public:
  CTagCommands(CPlexmarApp& app, CMainFrame& frame);

  void OnLock();
  void OnUnlock();
  void OnImportTags();
  void OnExportTags();

  // Runs a dialog modally; tests fill it in and press its buttons instead.
  std::function<int(QDialog&)> m_fnRunDialog;
  AskFileFn m_fnAskFile = DefaultAskFile();

 private:
  CPlexmarApp& m_app;
  CMainFrame& m_frame;
};

std::shared_ptr<CTagCommands> InstallTagCommands(CMainFrame& frame, CPlexmarApp& app);
