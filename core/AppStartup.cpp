// CPlexmarApp's start-up and shutdown, and the framework's reading of the
// command line.
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstring>

#include "connections/OpcServerLink.h"
#include "core/AppFramework.h"
#include "core/ModbusDataBlock.h"
#include "core/ModbusWriteRequest.h"
#include "core/PlexmarApp.h"
#include "logic/LogicBlock.h"

namespace {

bool EqualsIgnoringCase(const std::string& a, const char* b) {
  size_t i = 0;
  for (; i < a.size() && b[i] != '\0'; ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return i == a.size() && b[i] == '\0';
}

std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

bool IsRegularFile(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

// Flags the framework knows; "/word" is one of these or a file name.
bool IsKnownFlag(const std::string& word) {
  for (const char* known : {"Embedding", "Automation", "RegServer", "UnregServer", "Unregister",
                            "Service"})
    if (EqualsIgnoringCase(word, known)) return true;
  return false;
}

}  // namespace

DisplayChoice ChooseDisplay(const char* display, const char* waylandDisplay, const char* qpaPlatform) {
  auto set = [](const char* value) { return value != nullptr && *value != '\0'; };
  DisplayChoice choice;
  if (set(qpaPlatform)) {
    choice.headless = std::strncmp(qpaPlatform, "offscreen", 9) == 0;
    return choice;
  }
  if (set(display) || set(waylandDisplay)) return choice;
  choice.setOffscreen = true;
  choice.headless = true;
  return choice;
}

std::string RunningProgramPath(const char* argv0) {
  char buffer[PATH_MAX];
  const ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (length > 0) return std::string(buffer, static_cast<size_t>(length));
  if (argv0 != nullptr && realpath(argv0, buffer) != nullptr) return buffer;
  return argv0 != nullptr ? argv0 : "plexmar";
}

bool IsPathArgument(const std::string& argument) {
  return argument.size() > 1 && argument.find('/', 1) != std::string::npos;
}

std::string JoinCommandLine(const std::vector<std::string>& arguments) {
  std::string text;
  for (const std::string& argument : arguments) {
    if (IsPathArgument(argument)) continue;
    if (!text.empty()) text += ' ';
    text += argument;
  }
  return text;
}

std::vector<std::string> TokenizeCommandLine(const std::string& text) {
  std::vector<std::string> tokens;
  std::string current;
  for (char c : text) {
    if (c == '-' || c == '/' || c == ' ') {
      if (!current.empty()) tokens.push_back(std::move(current));
      current.clear();
    } else {
      current += c;
    }
  }
  if (!current.empty()) tokens.push_back(std::move(current));
  return tokens;
}

ERegistrationWord FindRegistrationWord(const std::string& commandLine) {
  for (const std::string& token : TokenizeCommandLine(commandLine)) {
    if (EqualsIgnoringCase(token, "UnregServer")) return ERegistrationWord::kUnregServer;
    if (EqualsIgnoringCase(token, "RegServer")) return ERegistrationWord::kRegServer;
    if (EqualsIgnoringCase(token, "Service")) return ERegistrationWord::kService;
  }
  return ERegistrationWord::kNone;
}

CCommandLineInfo ParseCommandLine(const std::vector<std::string>& arguments) {
  CCommandLineInfo info;
  info.registration = FindRegistrationWord(JoinCommandLine(arguments));
  for (const std::string& argument : arguments) {
    if (argument.empty()) continue;
    const bool dash = argument[0] == '-' && !IsPathArgument(argument);
    const bool slash = argument[0] == '/' && IsKnownFlag(argument.substr(1));
    if (dash || slash) {
      const std::string word = argument.substr(1);
      if (EqualsIgnoringCase(word, "Embedding") || EqualsIgnoringCase(word, "Automation"))
        info.bStartedByCom = true;
      continue;
    }
    // A bare registration word is no file to open.
    if (FindRegistrationWord(argument) != ERegistrationWord::kNone && IsKnownFlag(argument)) continue;
    info.files.push_back(argument);
  }
  return info;
}

EStartupOutcome CPlexmarApp::InitInstance(IAppFramework& framework, ISystemLibraries& libraries,
                                          const std::vector<std::string>& arguments,
                                          const std::string& programPath) {
  // 1. Lock cleared, sockets up (a failure there shows later, when a
  //    Modbus/TCP connection is opened).
  m_bLocked = 0;
  libraries.SocketsStartup();

  // 2. Defaults.
  m_strPassword.clear();
  m_nTimerPeriod = 1000;
  m_comm.fill(CommPortSettings{});
  m_nTcpMasterTimeout = 2000;
  m_nTcpSlavePort = 502;
  m_hTcpSlave = -1;
  m_tcpMasters.fill(TcpMasterSlot{});

  // 3. The registration words, before anything else is started. The record
  //    names the executable actually running: that is what a client starts.
  const CCommandLineInfo info = ParseCommandLine(arguments);
  const char* exe = programPath.c_str();
  // Each of these ends the start-up, so the program exits; its exit status
  // says whether the registration work itself succeeded, for scripts.
  switch (info.registration) {
    case ERegistrationWord::kUnregServer:
      return libraries.UnregisterOpcServer(kPlexmarClsid, kPlexmarProgId)
                 ? EStartupOutcome::kExitSuccess
                 : EStartupOutcome::kExitFailure;
    case ERegistrationWord::kRegServer:
      return libraries.RegisterOpcServer(kPlexmarClsid, kPlexmarProgId, kPlexmarDescription, exe)
                 ? EStartupOutcome::kExitSuccess
                 : EStartupOutcome::kExitFailure;
    case ERegistrationWord::kService: {
      const bool registered =
          libraries.RegisterOpcServer(kPlexmarClsid, kPlexmarProgId, kPlexmarDescription, exe);
      const bool installed = registered && libraries.RegisterOpcServerService(kPlexmarProgId);
      return installed ? EStartupOutcome::kExitSuccess : EStartupOutcome::kExitFailure;
    }
    case ERegistrationWord::kNone:
      break;
  }

  // 4. The object system.
  if (!framework.InitOle()) {
    framework.ShowMessage(kOleInitFailedText);
    return EStartupOutcome::kExitFailure;
  }

  // 5. Settings and the recent-file list.
  framework.LoadStdProfileSettings(kSettingsKey, kRecentFileCount);

  // 6. The forms' template.
  m_pDocTemplate = framework.CreateDocumentTemplate();
  if (m_pDocTemplate == nullptr) return EStartupOutcome::kExitFailure;

  // 7. The main window, whose creation starts the timer.
  if (!framework.CreateMainWindow()) return EStartupOutcome::kExitFailure;

  // 8. Started from outside for a form document: stay hidden, load nothing.
  m_bStartedByCom = info.bStartedByCom;
  if (m_bStartedByCom) return EStartupOutcome::kRun;

  // 9. The shell command: normally a new empty form.
  if (!framework.ProcessShellCommand(info)) return EStartupOutcome::kExitFailure;

  // 10, 11. The OPC server and its write callback. A registration that
  //    cannot be written does not stop the program: the server still serves
  //    this process's clients.
  libraries.RegisterOpcServer(kPlexmarClsid, kPlexmarProgId, kPlexmarDescription, exe);
  libraries.InitOpcServer(kPlexmarClsid, kOpcServerRate);
  libraries.SetWriteCallback(OnServerTagWrite, 1);

  // 12. Show the window.
  framework.ShowMainWindow();

  // 13. The default project beside the program; none there is no error.
  const std::string project = FolderOf(programPath) + "/" + kDefaultProjectName;
  if (IsRegularFile(project)) framework.ReadProject(project);

  return EStartupOutcome::kRun;
}

void CPlexmarApp::ExitInstance(IAppFramework& framework, ISystemLibraries& libraries) {
  // 1. Data blocks (each withdraws its local slave block).
  m_dataBlocks.clear();
  DataBlocksChanged();
  // 2. Logic blocks.
  m_logicBlocks.clear();
  // 3. Tags (each withdraws its OPC items).
  RemoveAllTags();
  // 4. Serial connections, the slave before the master on each port: both may
  //    hold the same device.
  for (CommPortSettings& port : m_comm) {
    if (port.hSlave != -1) libraries.CloseSlaveConnection(port.hSlave);
    port.hSlave = -1;
    if (port.hMaster != -1) libraries.CloseMasterConnection(port.hMaster);
    port.hMaster = -1;
  }
  // 5. Modbus/TCP: the slave server, then the master slots.
  if (m_hTcpSlave != -1) libraries.CloseSlaveConnection(m_hTcpSlave);
  m_hTcpSlave = -1;
  for (TcpMasterSlot& slot : m_tcpMasters) {
    if (slot.hMaster != -1) libraries.CloseMasterConnection(slot.hMaster);
    slot.hMaster = -1;
  }
  // 6. Queued Modbus writes.
  m_writeQueue.clear();
  // 7. OPC server links.
  for (const auto& link : m_serverLinks)
    if (link->m_bConnected) libraries.ClientDisconnectServer(link->m_hServer);
  m_serverLinks.clear();
  // 8. The OPC server toolkit, now that every item is withdrawn.
  libraries.ShutdownOpcServer();
  // 9. Sockets.
  libraries.SocketsCleanup();
  // 10. The framework.
  framework.ExitFramework();
  m_pDocTemplate = nullptr;
}
