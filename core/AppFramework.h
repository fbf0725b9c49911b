// What start-up and shutdown of CPlexmarApp ask of the world outside the
// exchange core: the application framework (windows, settings, forms) and the
// libraries the program links. The Qt program implements the first, the
// linked libraries the second; tests implement both with recorders, which is
// how the order of start-up and shutdown is checked.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "serverkit/serverkit.h"

// The three registration words of the command line.
enum class ERegistrationWord { kNone, kUnregServer, kRegServer, kService };

// How start-up ended.
enum class EStartupOutcome {
  kRun,          // enter the event loop
  kExitSuccess,  // a registration word was carried out: exit with 0
  kExitFailure,  // something failed: exit with 1
};

// The framework's reading of the command line: the registration word, a start
// by the object system (a form document requested from outside), and the
// files to open.
struct CCommandLineInfo {
  ERegistrationWord registration = ERegistrationWord::kNone;
  bool bStartedByCom = false;
  std::vector<std::string> files;
};

// The command-line text searched for the registration words: the arguments
// after the program name, joined with blanks. An argument with a '/' after its
// first character is a file path and is left out: here '/' separates folders,
// and a form file in a folder named "Service" must not install a service.
std::string JoinCommandLine(const std::vector<std::string>& arguments);
bool IsPathArgument(const std::string& argument);
// Splits at '-', '/' and blank; empty tokens are dropped.
std::vector<std::string> TokenizeCommandLine(const std::string& text);
// The first token that is one of the three words, compared ignoring case,
// decides; every other token is skipped.
ERegistrationWord FindRegistrationWord(const std::string& commandLine);
// The framework's own parse: flags are "-word", or "/word" for the words it
// knows ("/home/..." is a file on this platform, not a flag).
CCommandLineInfo ParseCommandLine(const std::vector<std::string>& arguments);

// Where the program shows its windows. With no display (neither DISPLAY nor
// WAYLAND_DISPLAY set) and no platform chosen through QT_QPA_PLATFORM, it
// runs on Qt's offscreen platform; `headless` is true whenever it runs
// offscreen, chosen or not.
struct DisplayChoice {
  bool setOffscreen = false;
  bool headless = false;
};
DisplayChoice ChooseDisplay(const char* display, const char* waylandDisplay, const char* qpaPlatform);

// The full path of the running program (argv[0] made absolute when the
// system cannot tell).
std::string RunningProgramPath(const char* argv0);

// The forms' MDI document template, as start-up and the core see it.
class IDocumentTemplate {
 public:
  virtual ~IDocumentTemplate() = default;
  // A new empty form; false when none could be made.
  virtual bool NewDocument() = 0;
  // Opens a form file; false (after telling the operator) when it cannot.
  virtual bool OpenDocumentFile(const std::string& path) = 0;

  // What the project file needs of the open forms. A template that keeps no
  // form files has none to save or close.
  // The number of open form documents.
  virtual int DocumentCount() const { return 0; }
  // Saves the open form at `index` (the framework's order) to its own file,
  // asking for a name when it has none, and gives its full path. False when
  // the operator cancelled or the file could not be written.
  virtual bool SaveDocument(int index, std::string& path) {
    (void)index;
    path.clear();
    return false;
  }
  // Closes every open form through the framework's close command, which asks
  // to save a modified one; answering Cancel asks again, until none is open.
  virtual void CloseAllDocuments() {}
};

class IAppFramework {
 public:
  virtual ~IAppFramework() = default;
  // The object system behind the form documents' automation; false when it
  // cannot start.
  virtual bool InitOle() = 0;
  virtual void ShowMessage(const std::string& text) = 0;
  // Settings under `registryKey`, with a recent-file list of `recentFiles`.
  virtual void LoadStdProfileSettings(const std::string& registryKey, int recentFiles) = 0;
  // The forms' template; null when it cannot be made.
  virtual IDocumentTemplate* CreateDocumentTemplate() = 0;
  // Creating the main window starts its timer. False on failure.
  virtual bool CreateMainWindow() = 0;
  // Normally a new empty form, or the files named on the command line.
  virtual bool ProcessShellCommand(const CCommandLineInfo& info) = 0;
  virtual void ShowMainWindow() = 0;
  // The main window's project reader; a file that cannot be read is reported
  // by the reader itself.
  virtual void ReadProject(const std::string& path) = 0;
  // The framework's own exit: settings are saved, windows are gone.
  virtual void ExitFramework() = 0;
};

// The calls into the linked libraries that start-up and shutdown make.
class ISystemLibraries {
 public:
  virtual ~ISystemLibraries() = default;
  virtual void SocketsStartup() = 0;
  virtual void SocketsCleanup() = 0;
  // The registration calls report whether the record could be written.
  virtual bool RegisterOpcServer(const char* clsid, const char* progId, const char* description,
                                 const char* executablePath) = 0;
  virtual bool UnregisterOpcServer(const char* clsid, const char* progId) = 0;
  virtual bool RegisterOpcServerService(const char* progId) = 0;
  virtual void InitOpcServer(const char* clsid, int32_t rate) = 0;
  virtual void SetWriteCallback(WriteCallback callback, int32_t mode) = 0;
  virtual void ShutdownOpcServer() = 0;
  virtual void CloseSlaveConnection(int32_t handle) = 0;
  virtual void CloseMasterConnection(int32_t handle) = 0;
  virtual void ClientDisconnectServer(int32_t server) = 0;
};

// The libraries themselves.
ISystemLibraries& LinkedLibraries();

// The file name of the default project, beside the program.
inline constexpr const char* kDefaultProjectName = "plexmar.tst";
inline constexpr const char* kSettingsKey = "Local AppWizard-Generated Applications";
inline constexpr int kRecentFileCount = 4;
inline constexpr int32_t kOpcServerRate = 250;
inline constexpr const char* kOleInitFailedText =
    "OLE initialization failed.  Make sure that the OLE libraries are the correct version.";
