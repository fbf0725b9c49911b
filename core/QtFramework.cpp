#include "core/QtFramework.h"

#include <QApplication>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMessageBox>
#include <QString>

#include <csignal>
#include <filesystem>
#include <cstdio>

#include "connections/ModbusConnectCommands.h"
#include "connections/OpcConnectCommands.h"
#include "core/MainFrame.h"
#include "core/ModbusPoller.h"
#include "core/PlexmarApp.h"
#include "core/ProjectCommands.h"
#include "core/SignalQuit.h"
#include "forms/FormAutomation.h"
#include "forms/FormItemUi.h"
#include "forms/FormTemplate.h"
#include "forms/FormViewCommands.h"
#include "forms/MMI_Item.h"
#include "forms/PainterDC.h"
#include "logic/LogicCsvCommands.h"
#include "tags/TagCommands.h"
#include "resources/CommandIds.h"

namespace {

bool IsOffscreen() { return QGuiApplication::platformName() == QLatin1String("offscreen"); }

}  // namespace

CQtFramework::CQtFramework(int& argc, char** argv, CPlexmarApp& app)
    : m_argc(argc), m_argv(argv), m_app(app) {}

CQtFramework::~CQtFramework() {
  if (m_app.HostUi() == this) m_app.SetHostUi(nullptr);
  m_automation.clear();
  m_frame.reset();
  m_template.reset();
  m_qapp.reset();
}

bool CQtFramework::InitOle() {
  // The form documents' automation needs no object system of its own here;
  // what must come up at this step is the framework itself.
  if (QApplication::instance() == nullptr) m_qapp = std::make_unique<QApplication>(m_argc, m_argv);
  return QApplication::instance() != nullptr;
}

void CQtFramework::ShowMessage(const std::string& text) {
  // Nobody could close a message box on the offscreen platform.
  if (QApplication::instance() == nullptr || IsOffscreen()) {
    std::fprintf(stderr, "Plexmar: %s\n", text.c_str());
    return;
  }
  QMessageBox::warning(m_frame.get(), QStringLiteral("Plexmar"), QString::fromStdString(text));
}

void CQtFramework::LoadStdProfileSettings(const std::string& registryKey, int recentFiles) {
  QCoreApplication::setOrganizationName(QString::fromStdString(registryKey));
  QCoreApplication::setApplicationName(QStringLiteral("Plexmar"));
  (void)recentFiles;  // the main window's list holds four, as the menus do
}

IDocumentTemplate* CQtFramework::CreateDocumentTemplate() {
  m_template = std::make_unique<CFormTemplate>([this] { return m_frame.get(); },
                                               [this](const std::string& text) { ShowMessage(text); });
  // Every form is reachable by automation for as long as it is open.
  m_template->m_onDocumentCreated = [this](CPlexmarDoc& doc) { m_automation[&doc] = CreateFormAutomation(doc); };
  m_template->m_onDocumentClosing = [this](CPlexmarDoc& doc) { m_automation.erase(&doc); };
  return m_template.get();
}

bool CQtFramework::CreateMainWindow() {
  m_frame = std::make_unique<CMainFrame>(m_app);
  m_frame->RecentFiles().ReadList();
  // The tick's second step and the reply message belong to the request chain.
  InstallModbusPolling(m_frame->Core());
  // The Connect menu's Modbus commands; the window's command table keeps them.
  InstallModbusConnectCommands(*m_frame, m_app);
  // Save All, Restore All and the project reader of start-up; the lock, the
  // tag CSV and the logic block CSV commands.
  InstallProjectCommands(*m_frame, m_app);
  InstallTagCommands(*m_frame, m_app);
  InstallLogicCsvCommands(*m_frame, m_app);
  // Forms: their File commands, the main window's display defaults, and
  // bitmaps read through QImage.
  m_template->InstallCommands(*m_frame);
  InstallFormViewCommands(*m_frame, *m_template);
  SetFormDefaultFontSource(&m_frame->Core().m_logFont);
  InstallQtFormBitmapLoader();
  // The OPC ones, and the hand-over of OPC data changes to this thread.
  InstallOpcConnectCommands(*m_frame, m_app);
  // The items' property dialogs and the operator's writes of tags.
  m_itemUi = std::make_unique<CQtFormItemUi>(m_frame.get());
  SetFormItemUi(m_itemUi.get());
  CMainFrame* frame = m_frame.get();
  m_frame->SetCommandHandler(cmd::ID_APP_ABOUT, [frame] {
    QMessageBox::about(frame, QStringLiteral("About Plexmar"),
                       QStringLiteral("Plexmar\nNorvell Software Plexmar Server"));
  });
  if (!m_frame->Create()) {
    m_frame.reset();
    return false;
  }
  m_app.SetHostUi(this);
  return true;
}

bool CQtFramework::ProcessShellCommand(const CCommandLineInfo& info) {
  if (info.files.empty()) return m_template->NewDocument();
  for (const std::string& file : info.files)
    if (!m_template->OpenDocumentFile(file)) return false;
  return true;
}

void CQtFramework::ShowMainWindow() {
  m_frame->show();
  m_frame->update();
}

void CQtFramework::ReadProject(const std::string& path) { m_frame->Core().ReadProject(path); }

void CQtFramework::ExitFramework() {
  if (m_app.HostUi() == this) m_app.SetHostUi(nullptr);
  SetFormDefaultFontSource(nullptr);
  m_automation.clear();
  SetFormItemUi(nullptr);
  if (m_frame) {
    m_frame->RecentFiles().WriteList();
    m_frame.reset();
  }
}

// A form for the logic blocks: the open one whose title is `name` ignoring
// case; ShowForm otherwise opens the file of that name in the program's
// folder, as it stands (no extension added).
int CQtFramework::ShowForm(const std::string& name) {
  if (!m_template) return 0;
  CPlexmarDoc* doc = m_template->FindDocument(name);
  if (doc == nullptr) {
    const std::string path = QCoreApplication::applicationDirPath().toStdString() + "/" + name;
    if (name.empty() || !m_template->OpenDocumentFile(path)) return 0;
    doc = m_template->FindDocument(std::filesystem::path(path).filename().string());
    if (doc == nullptr) return 0;
  }
  return doc->ShowFormWindow();
}

int CQtFramework::HideForm(const std::string& name) {
  if (!m_template) return 0;
  CPlexmarDoc* doc = m_template->FindDocument(name);
  return doc != nullptr ? doc->HideFormWindow() : 0;
}

int CQtFramework::Run() {
  CSignalQuit onSignal([](int signal) {
    std::fprintf(stderr, "Plexmar: %s received, shutting down\n",
                 signal == SIGTERM ? "SIGTERM" : "SIGINT");
    QCoreApplication::quit();
  });
  const int code = QApplication::exec();
  if (m_frame) m_frame->Core().OnClose();
  return code;
}
