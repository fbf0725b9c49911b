#include "core/ProjectFile.h"

#include <sys/stat.h>

#include <cerrno>
#include <functional>

#include "clientkit/clientkit.h"
#include "connections/ModbusConnections.h"
#include "connections/OpcConnect.h"
#include "connections/OpcServerLink.h"
#include "core/AppFramework.h"
#include "core/ExchangeTag.h"
#include "core/HostUi.h"
#include "core/MainFrameCore.h"
#include "core/PlexmarApp.h"
#include "logic/LogicBlock.h"

namespace {

// The smallest records, so that a count the rest of the file cannot hold is
// refused before anything is allocated for it.
constexpr size_t kMinLinkBytes = 2;        // two empty strings
constexpr size_t kMinTagBytes = 46;        // five strings, the value, the numbers
constexpr size_t kMinBlockBytes = 5;       // a name and an entry count
constexpr size_t kMinFormBytes = 1;        // an empty path

void Tell(CPlexmarApp& app, const std::string& text) {
  if (IHostUi* ui = app.HostUi()) ui->MessageBox(text);
}

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

template <class T>
void IoList(CArchive& ar, std::vector<std::unique_ptr<T>>& list, size_t minRecordBytes,
            const std::function<std::unique_ptr<T>()>& make) {
  if (ar.IsStoring()) {
    ar.WriteInt32(static_cast<int32_t>(list.size()));
    for (auto& item : list) item->Serialize(ar);
    return;
  }
  const int32_t count = ar.ReadCount(minRecordBytes);
  list.clear();
  list.reserve(static_cast<size_t>(count));
  for (int32_t i = 0; i < count; ++i) {
    std::unique_ptr<T> item = make();
    item->Serialize(ar);
    list.push_back(std::move(item));
  }
}

}  // namespace

CProjectImage::CProjectImage() : logFont(DefaultFormFont()) {}
CProjectImage::~CProjectImage() = default;
CProjectImage::CProjectImage(CProjectImage&&) noexcept = default;
CProjectImage& CProjectImage::operator=(CProjectImage&&) noexcept = default;

void CProjectImage::Serialize(CArchive& ar) {
  ar.Io(nVersion);                                   // 1
  ar.Io(logFont);                                    // 2
  ar.Io(crForeground);                               // 3
  ar.Io(crBackground);
  ar.Io(crExtra);
  ar.Io(bLocked);                                    // 4
  ar.Io(strPassword);                                // 5
  ar.Io(nTimerPeriod);                               // 6
  for (CommRecord& port : comm) {                    // 7
    ar.Io(port.nBaudRate);
    ar.Io(port.nDataBits);
    ar.Io(port.nStopBits);
    ar.Io(port.nParity);
    ar.Io(port.nProtocol);
    ar.Io(port.nMasterTimeout);
  }
  ar.Io(nTcpMasterTimeout);                          // 8
  ar.Io(nTcpSlavePort);                              // 9
  for (TcpMasterRecord& slot : tcpMasters) {         // 10
    ar.Io(slot.nPort);
    ar.Io(slot.strHost);
  }
  if (ar.IsStoring()) {                              // 11
    ar.WriteInt32(static_cast<int32_t>(links.size()));
  } else {
    links.assign(static_cast<size_t>(ar.ReadCount(kMinLinkBytes)), LinkRecord{});
  }
  for (LinkRecord& link : links) {
    // The record is the link's own: machine name, then server name.
    COpcServerLink record(link.strMachine, link.strServer);
    record.Serialize(ar);
    link.strMachine = record.m_strMachine;
    link.strServer = record.m_strServer;
  }
  for (CommOpen& open : commOpen) {                  // 12
    ar.Io(open.bSlave);
    ar.Io(open.bMaster);
  }
  ar.Io(bTcpSlaveOpen);                              // 13
  for (int32_t& open : tcpMasterOpen) ar.Io(open);   // 14
  IoList<CExchangeTag>(ar, tags, kMinTagBytes,       // 15
                       [] { return std::make_unique<CExchangeTag>(std::string()); });
  IoList<CLogicBlock>(ar, blocks, kMinBlockBytes,    // 16
                      [] { return std::make_unique<CLogicBlock>(); });
  if (ar.IsStoring()) {                              // 17
    ar.WriteInt32(static_cast<int32_t>(forms.size()));
  } else {
    forms.assign(static_cast<size_t>(ar.ReadCount(kMinFormBytes)), std::string());
  }
  for (std::string& path : forms) ar.Io(path);
}

CProjectImage CaptureProject(const CPlexmarApp& app, const CMainFrameCore& frame) {
  CProjectImage image;
  image.logFont = frame.m_logFont;
  image.crForeground = frame.m_crForeground;
  image.crBackground = frame.m_crBackground;
  image.crExtra = frame.m_crExtra;
  image.bLocked = app.m_bLocked;
  image.strPassword = app.m_strPassword;
  image.nTimerPeriod = app.m_nTimerPeriod;
  for (size_t i = 0; i < image.comm.size(); ++i) {
    const CommPortSettings& port = app.m_comm[i];
    image.comm[i] = {static_cast<uint32_t>(port.nBaudRate), port.nDataBits, port.nStopBits,
                     port.nParity, port.nProtocol, port.nMasterTimeout};
    image.commOpen[i] = {port.hSlave != -1 ? 1 : 0, port.hMaster != -1 ? 1 : 0};
  }
  image.nTcpMasterTimeout = app.m_nTcpMasterTimeout;
  image.nTcpSlavePort = app.m_nTcpSlavePort;
  for (size_t i = 0; i < image.tcpMasters.size(); ++i) {
    image.tcpMasters[i] = {app.m_tcpMasters[i].nPort, app.m_tcpMasters[i].strHost};
    image.tcpMasterOpen[i] = app.m_tcpMasters[i].hMaster != -1 ? 1 : 0;
  }
  for (const auto& link : app.m_serverLinks) image.links.push_back({link->m_strMachine, link->m_strServer});
  image.bTcpSlaveOpen = app.m_hTcpSlave != -1 ? 1 : 0;
  image.tags.reserve(app.m_tags.size());
  for (const auto& tag : app.m_tags) {
    auto copy = std::make_unique<CExchangeTag>(std::string());
    copy->CopyFrom(*tag);
    image.tags.push_back(std::move(copy));
  }
  image.blocks.reserve(app.m_logicBlocks.size());
  for (const auto& block : app.m_logicBlocks) {
    auto copy = std::make_unique<CLogicBlock>();
    copy->CopyFrom(*block);
    image.blocks.push_back(std::move(copy));
  }
  return image;
}

std::vector<uint8_t> ProjectBytes(CProjectImage& image) {
  CArchive ar;
  image.Serialize(ar);
  return ar.Bytes();
}

bool ParseProject(const std::vector<uint8_t>& bytes, CProjectImage& image, std::string& error) {
  CArchive ar(bytes);
  CProjectImage parsed;
  try {
    parsed.Serialize(ar);
  } catch (const CArchiveException& e) {
    error = "The file is damaged or cut short at byte " + std::to_string(ar.Position()) + " of " +
            std::to_string(bytes.size()) + ": " + e.what() + ".";
    return false;
  }
  if (ar.Remaining() != 0) {
    error = "The file goes on after its list of forms (byte " + std::to_string(ar.Position()) + " of " +
            std::to_string(bytes.size()) + "): it is not a project file, or it is damaged.";
    return false;
  }
  image = std::move(parsed);
  return true;
}

bool SaveProject(CProjectContext& context, const std::string& path) {
  CProjectImage image = CaptureProject(context.app, context.frame);
  if (context.forms != nullptr) {
    const int count = context.forms->DocumentCount();
    for (int i = 0; i < count; ++i) {
      std::string formPath;
      // A form the operator did not save has no file to re-open.
      if (context.forms->SaveDocument(i, formPath) && !formPath.empty()) image.forms.push_back(formPath);
    }
  }
  CArchive ar;
  image.Serialize(ar);
  if (!ar.SaveToFile(path)) {
    Tell(context.app, kFileCreationErrorText);
    return false;
  }
  return true;
}

bool LoadProject(CProjectContext& context, const std::string& path) {
  std::vector<uint8_t> bytes;
  try {
    bytes = CArchive::FromFile(path).Bytes();
  } catch (const CArchiveException& e) {
    struct stat st {};
    const bool missing = stat(path.c_str(), &st) != 0 && errno == ENOENT;
    if (!(missing && EndsWith(path, kDefaultProjectName))) Tell(context.app, kFileOpenErrorText + path);
    return false;
  }
  CProjectImage image;
  std::string error;
  if (!ParseProject(bytes, image, error)) {
    Tell(context.app, kFileOpenErrorText + path + "\n" + error);
    return false;
  }
  ApplyProject(context, image);
  return true;
}

void ApplyProject(CProjectContext& context, CProjectImage& image) {
  CPlexmarApp& app = context.app;
  CMainFrameCore& frame = context.frame;
  ISystemLibraries& libraries = context.libraries;

  // The header and the settings.
  frame.m_logFont = image.logFont;
  frame.m_crForeground = image.crForeground;
  frame.m_crBackground = image.crBackground;
  frame.m_crExtra = image.crExtra;
  app.m_bLocked = image.bLocked;
  app.m_strPassword = image.strPassword;
  // The tick keeps the period it was started with; the value is kept for the
  // next save.
  app.m_nTimerPeriod = image.nTimerPeriod;
  for (size_t i = 0; i < image.comm.size(); ++i) {
    CommPortSettings& port = app.m_comm[i];
    const CProjectImage::CommRecord& record = image.comm[i];
    port.nBaudRate = static_cast<int32_t>(record.nBaudRate);
    port.nDataBits = record.nDataBits;
    port.nStopBits = record.nStopBits;
    port.nParity = record.nParity;
    port.nProtocol = record.nProtocol;
    port.nMasterTimeout = record.nMasterTimeout;
  }
  app.m_nTcpMasterTimeout = image.nTcpMasterTimeout;
  app.m_nTcpSlavePort = image.nTcpSlavePort;
  for (size_t i = 0; i < image.tcpMasters.size(); ++i) {
    app.m_tcpMasters[i].nPort = image.tcpMasters[i].nPort;
    app.m_tcpMasters[i].strHost = image.tcpMasters[i].strHost;
  }

  // Tear down. A request in flight on a connection closed here can never be
  // answered: the request chain must not wait for it.
  const auto closeMaster = [&](int32_t& handle) {
    if (handle == -1) return;
    libraries.CloseMasterConnection(handle);
    if (frame.m_hOutstandingMaster == handle) frame.m_hOutstandingMaster = -1;
    handle = -1;
  };
  for (const auto& link : app.m_serverLinks)
    if (link->m_bConnected) libraries.ClientDisconnectServer(link->m_hServer);
  app.m_serverLinks.clear();
  for (CommPortSettings& port : app.m_comm) {
    if (port.hSlave != -1) libraries.CloseSlaveConnection(port.hSlave);
    port.hSlave = -1;
    closeMaster(port.hMaster);
  }
  if (app.m_hTcpSlave != -1) libraries.CloseSlaveConnection(app.m_hTcpSlave);
  app.m_hTcpSlave = -1;
  for (TcpMasterSlot& slot : app.m_tcpMasters) closeMaster(slot.hMaster);
  app.RemoveAllTags();
  app.m_logicBlocks.clear();

  // Rebuild: links, connections, tags with their blocks, logic, forms.
  for (const CProjectImage::LinkRecord& link : image.links)
    opcconn::ConnectServer(app, link.strMachine, link.strServer);
  for (int port = 1; port <= CPlexmarApp::kCommPorts; ++port) {
    const CProjectImage::CommOpen& open = image.commOpen[static_cast<size_t>(port - 1)];
    if (open.bSlave == 1) modbusconn::OpenCommSlave(app, port);
    if (open.bMaster == 1) modbusconn::OpenCommMaster(app, port);
  }
  if (image.bTcpSlaveOpen == 1) modbusconn::OpenTcpSlave(app);
  for (int slot = 0; slot < CPlexmarApp::kTcpMasterSlots; ++slot)
    if (image.tcpMasterOpen[static_cast<size_t>(slot)] == 1) modbusconn::ConnectTcpMaster(app, slot);
  for (auto& tag : image.tags) app.AddTag(std::move(tag));
  image.tags.clear();
  app.DefineLocalBlocks();
  for (auto& block : image.blocks) app.AddLogicBlock(std::move(block));
  image.blocks.clear();
  if (context.forms != nullptr) {
    context.forms->CloseAllDocuments();
    for (const std::string& form : image.forms) context.forms->OpenDocumentFile(form);
  }
  for (const auto& tag : app.m_tags) tag->m_bForceUpdate = 1;
  for (const auto& link : app.m_serverLinks)
    if (link->m_bConnected) ClientRefreshGroup(link->m_hServer, link->m_hGroup, 1);
}
