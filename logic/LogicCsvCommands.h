// "E&xport Logic Blk" and "I&mport Logic Blk" of the Edit menu, available
// while a form window is active.
#pragma once

#include <functional>
#include <memory>

#include "core/FileDialogs.h"

class QDialog;
class CMainFrame;
class CPlexmarApp;

class CLogicCsvCommands {
 public:
  CLogicCsvCommands(CPlexmarApp& app, CMainFrame& frame);

  void OnExportLogicBlk();
  void OnImportLogicBlk();
  bool IsEnabled() const;

  // Runs a dialog modally; tests fill it in and press its buttons instead.
  std::function<int(QDialog&)> m_fnRunDialog;
  AskFileFn m_fnAskFile = DefaultAskFile();

 private:
  CPlexmarApp& m_app;
  CMainFrame& m_frame;
};

std::shared_ptr<CLogicCsvCommands> InstallLogicCsvCommands(CMainFrame& frame, CPlexmarApp& app);
