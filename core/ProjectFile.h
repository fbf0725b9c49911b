// The project file (".tst"): the whole configuration of a running system,
// written by "Save &All" and read by "&Restore All" and at start-up.
//
// A load reads and checks the whole file before anything is replaced: a
// damaged or truncated file is reported ("File Open Error - " with the path
// and what is wrong) and the running configuration goes on untouched. Only a
// file that parses to its very end tears the running state down and rebuilds
// it from the file. A save writes a temporary file and renames it over the
// old one, so a failed save never destroys the previous project.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/archive.h"
#include "platform/wintypes.h"

class CExchangeTag;
class CLogicBlock;
class CMainFrameCore;
class CPlexmarApp;
class IDocumentTemplate;
class ISystemLibraries;

// Everything one project file holds, in file order. Its Serialize writes and
// reads the fields 1 to 17 of the file.
class CProjectImage {
 public:
  struct CommRecord {
    uint32_t nBaudRate = 9600;
    uint8_t nDataBits = 8;
    uint8_t nStopBits = 0;
    uint8_t nParity = 0;
    int32_t nProtocol = 1;
    int32_t nMasterTimeout = 2000;
  };
  struct TcpMasterRecord {
    int32_t nPort = 502;
    std::string strHost;
  };
  struct LinkRecord {
    std::string strMachine;
    std::string strServer;
  };
  struct CommOpen {
    int32_t bSlave = 0;
    int32_t bMaster = 0;
  };

  CProjectImage();
  ~CProjectImage();
  CProjectImage(CProjectImage&&) noexcept;
  CProjectImage& operator=(CProjectImage&&) noexcept;

  // Loading throws CArchiveException on a short or damaged stream; the image
  // is then incomplete and must not be applied.
  void Serialize(CArchive& ar);

  uint16_t nVersion = 1;
  LOGFONT logFont;
  COLORREF crForeground = 0x000000;
  COLORREF crBackground = 0xC0C0C0;
  COLORREF crExtra = 0x0000FF;
  int32_t bLocked = 0;
  std::string strPassword;
  int32_t nTimerPeriod = 1000;
  std::array<CommRecord, 9> comm{};
  int32_t nTcpMasterTimeout = 2000;
  int32_t nTcpSlavePort = 502;
  std::array<TcpMasterRecord, 18> tcpMasters{};
  std::vector<LinkRecord> links;
  std::array<CommOpen, 9> commOpen{};
  int32_t bTcpSlaveOpen = 0;
  std::array<int32_t, 18> tcpMasterOpen{};
  std::vector<std::unique_ptr<CExchangeTag>> tags;
  std::vector<std::unique_ptr<CLogicBlock>> blocks;
  std::vector<std::string> forms;
};

// The image of the running configuration: the main window's form defaults,
// the application's settings, which connections are open, copies of the
// tags and blocks. The forms are not filled in (SaveProject does that).
CProjectImage CaptureProject(const CPlexmarApp& app, const CMainFrameCore& frame);

// The file's bytes.
std::vector<uint8_t> ProjectBytes(CProjectImage& image);
// Parses a whole file. False, with `error` saying what is wrong, when the
// bytes end early, hold a count or record that cannot be right, or go on
// after the last field.
bool ParseProject(const std::vector<uint8_t>& bytes, CProjectImage& image, std::string& error);

// What a load or save may need besides the application: the main window's
// defaults, the open forms, the calls that close connections.
struct CProjectContext {
  CPlexmarApp& app;
  CMainFrameCore& frame;
  IDocumentTemplate* forms;  // may be null: no forms are saved or opened
  ISystemLibraries& libraries;
};

// "Save &All" once the path is chosen: saves every open form to its own
// file (a form that is not saved is left out of the list), then writes the
// project. Shows "File Creation Error" when the file cannot be written.
bool SaveProject(CProjectContext& context, const std::string& path);

// Reads the project at `path` and, when the whole file is sound, replaces the
// running configuration with it. A file that cannot be opened is reported as
// "File Open Error - " and the path, except a missing default "plexmar.tst",
// which is silent. True when the configuration was replaced.
bool LoadProject(CProjectContext& context, const std::string& path);

// Replaces the running configuration with a parsed image: the tear-down and
// rebuild of a load.
void ApplyProject(CProjectContext& context, CProjectImage& image);

inline constexpr const char* kFileOpenErrorText = "File Open Error - ";
inline constexpr const char* kFileCreationErrorText = "File Creation Error";
