// The application framework of the Qt program: what start-up and shutdown of
// CPlexmarApp ask of windows, settings and forms, done with Qt Widgets.
#pragma once

#include <map>
#include <memory>

#include "core/AppFramework.h"
#include "core/HostUi.h"

class QApplication;
class CMainFrame;
class CPlexmarApp;
class CFormTemplate;
class CFormAutomation;
class CPlexmarDoc;
class IFormItemUi;

// It is also the core's user-interface host while the main window exists:
// message boxes, and showing and hiding forms for the logic blocks.
class CQtFramework : public IAppFramework, public IHostUi {
 public:
  // `argc` and `argv` go to QApplication, which is made only when start-up
  // reaches the framework: the registration words need no display.
  CQtFramework(int& argc, char** argv, CPlexmarApp& app);
  ~CQtFramework() override;

  bool InitOle() override;
  void ShowMessage(const std::string& text) override;
  void LoadStdProfileSettings(const std::string& registryKey, int recentFiles) override;
  IDocumentTemplate* CreateDocumentTemplate() override;
  bool CreateMainWindow() override;
  bool ProcessShellCommand(const CCommandLineInfo& info) override;
  void ShowMainWindow() override;
  void ReadProject(const std::string& path) override;
  void ExitFramework() override;

  void MessageBox(const std::string& text) override { ShowMessage(text); }
  int ShowForm(const std::string& name) override;
  int HideForm(const std::string& name) override;

  // The event loop, until the main window closes or SIGTERM or SIGINT
  // arrives; afterwards the main window takes no more messages or writes.
  int Run();

  CMainFrame* MainFrame() const { return m_frame.get(); }
  CFormTemplate* FormTemplate() const { return m_template.get(); }

 private:
  int& m_argc;
  char** m_argv;
  CPlexmarApp& m_app;
  std::unique_ptr<QApplication> m_qapp;
  std::unique_ptr<CFormTemplate> m_template;
  std::unique_ptr<CMainFrame> m_frame;
  // Each open form's object on the session bus.
  std::map<const CPlexmarDoc*, std::unique_ptr<CFormAutomation>> m_automation;
  std::unique_ptr<IFormItemUi> m_itemUi;
};
