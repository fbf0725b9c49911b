// The tag administration commands of the main window: "&Lock" and "&Unlock"
// on the File menu, "&TagList", "&Import Tags" and "&Export Tags" on the Edit
// menu.
#pragma once

#include <functional>
#include <memory>

#include "core/FileDialogs.h"
#include "tags/TagDialogHooks.h"

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
  void OnTagList();

  // Runs a dialog modally; tests fill it in and press its buttons instead.
  std::function<int(QDialog&)> m_fnRunDialog;
  AskFileFn m_fnAskFile = DefaultAskFile();
  // The tag list and the dialogs it opens.
  TagDialogHooks m_tagHooks = TagDialogHooks::Default();

 private:
  CPlexmarApp& m_app;
  CMainFrame& m_frame;
};

std::shared_ptr<CTagCommands> InstallTagCommands(CMainFrame& frame, CPlexmarApp& app);
