// The application object: lives for the whole run and owns the exchange
// state. Qt-free; the Qt program drives it from its main window.
//
// Ownership, in order of declaration: OPC server links, tags, logic blocks,
// Modbus data blocks, the Modbus write queue. Everything here is touched only
// on the user-interface thread.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/msgwindow.h"
#include "platform/variant.h"
#include "platform/wintypes.h"

class CExchangeTag;
class CModbusDataBlock;
class CLogicBlock;
class COpcServerLink;
class CModbusWriteRequest;
class IHostUi;
class CDataBlockIndex;
class IAppFramework;
class ISystemLibraries;
class IDocumentTemplate;
enum class EStartupOutcome;

// Settings of one serial port COMM1..COMM9, shared by its master and slave use.
struct CommPortSettings {
  int32_t nBaudRate = 9600;
  uint8_t nDataBits = 8;
  uint8_t nStopBits = 0;   // 0 one, 1 one and a half, 2 two
  uint8_t nParity = 0;     // 0 none, 1 odd, 2 even, 3 mark, 4 space
  int32_t nProtocol = 1;   // 1 RTU, anything else ASCII
  int32_t nMasterTimeout = 2000;  // milliseconds
  int32_t hSlave = -1;
  int32_t hMaster = -1;
};

// One of the eighteen Modbus/TCP master connections.
struct TcpMasterSlot {
  int32_t hMaster = -1;
  std::string strHost;
  int32_t nPort = 502;
};

class CPlexmarApp {
 public:
  static constexpr int kCommPorts = 9;
  static constexpr int kTcpMasterSlots = 18;

  CPlexmarApp();
  ~CPlexmarApp();
  CPlexmarApp(const CPlexmarApp&) = delete;
  CPlexmarApp& operator=(const CPlexmarApp&) = delete;

  // The one application object of the process (the last one constructed and
  // not yet destroyed), or null.
  static CPlexmarApp* Current();

  // --- tag table -----------------------------------------------------------
  CExchangeTag* FindTag(const std::string& name) const;
  bool IsTagNameFree(const std::string& name) const;
  CExchangeTag* FindTagByServerHandle(int32_t handle) const;
  COpcServerLink* FindServerLink(const std::string& machine, const std::string& server) const;
  // Takes ownership, appends and binds the tag to its source and the OPC server.
  void AddTag(std::unique_ptr<CExchangeTag> tag);
  // The binding steps of AddTag for a tag already in the table.
  void BindTag(CExchangeTag& tag);
  // Two of those steps on their own: an OPC point's item in its server
  // link's group, read once (quality bad when there is no link or the item
  // cannot be added); and the tag's item in the program's OPC server, made
  // anew with the tag's name, value and quality.
  void ConnectClientItem(CExchangeTag& tag);
  void PublishTag(CExchangeTag& tag);
  bool AddDataBlock(const std::string& location, uint8_t slave, uint8_t pointType,
                    uint16_t address, uint16_t count);
  CModbusDataBlock* FindDataBlock(const std::string& location, uint8_t slave, uint8_t pointType,
                                  uint16_t address, uint16_t count) const;
  void RemoveAllTags();
  // The name a new tag gets: "Exchange.Tag" and the table size + 1.
  std::string DefaultTagName() const;

  // --- exchange engine -----------------------------------------------------
  // Re-reads every tag from its data block, in table order (each tick).
  void RefreshAllTags();
  // The point reader and writer of the value conversions.
  bool ReadPoint(const std::string& location, uint8_t slave, uint8_t pointType, uint16_t address,
                 uint16_t& word) const;
  bool WritePoint(const std::string& location, uint8_t slave, uint8_t pointType, uint16_t address,
                  const uint16_t* words, uint16_t count);
  // Hands the "LOCAL" data blocks to the slave library.
  void DefineLocalBlocks();
  // After the tag table changed: offers every Modbus tag's range to
  // AddDataBlock, then DefineLocalBlocks.
  void RebuildDataBlocks();
  // Call after changing m_dataBlocks other than through AddDataBlock or
  // RemoveAllTags, so that point lookups see the change.
  void DataBlocksChanged();
  // The first block, in list order, holding one point (FindDataBlock for a
  // single point, through an index, as the tick needs it for every tag).
  const CModbusDataBlock* FindPointBlock(std::string_view location, uint8_t slave,
                                         uint8_t pointType, uint16_t address) const;

  // --- Modbus write-back ---------------------------------------------------
  // The master connection of a location ("LOCAL" has none), -1 = none.
  int32_t GetMasterHandle(const std::string& location) const;
  // "COMM%d", a TCP slot's host, or "UNKNOWN".
  std::string GetConnectionName(int32_t handle) const;
  // Queues a write of `count` words to a remote point (function 15 for coils,
  // 16 for holding registers), replacing the data of an equal queued request.
  bool QueueWrite(const std::string& location, uint8_t slave, uint8_t pointType, uint16_t address,
                  const uint16_t* words, uint16_t count);

  // --- logic blocks --------------------------------------------------------
  CLogicBlock* FindLogicBlock(const std::string& name) const;
  // Takes ownership and appends: list order is the editor's and the file's.
  void AddLogicBlock(std::unique_ptr<CLogicBlock> block);
  bool IsLogicBlockNameUnique(const std::string& name) const;
  void RemoveLogicBlock(const std::string& name);
  // Runs the block of that name from its first entry; nothing when the name
  // is empty or no block has it.
  void RunLogicBlock(const std::string& name);
  // Form show/hide for logic entries, through the host UI; 0 without one.
  int ShowForm(const std::string& name);
  int HideForm(const std::string& name);

  // --- start-up and shutdown (AppStartup.cpp) --------------------------------
  // Brings the program up in its fixed order; `arguments` are the words after
  // the program name, `programPath` the running executable (its folder holds
  // the default project). ExitInstance runs afterwards whatever the outcome.
  EStartupOutcome InitInstance(IAppFramework& framework, ISystemLibraries& libraries,
                               const std::vector<std::string>& arguments,
                               const std::string& programPath);
  // Takes everything down in its fixed order (slave before master on a port).
  void ExitInstance(IAppFramework& framework, ISystemLibraries& libraries);
  // The forms' MDI template, made in start-up and owned by the framework.
  IDocumentTemplate* m_pDocTemplate = nullptr;
  // Started by the object system: no window shown, no project loaded.
  bool m_bStartedByCom = false;

  // --- user interface ------------------------------------------------------
  void SetHostUi(IHostUi* host) { m_pHostUi = host; }
  IHostUi* HostUi() const { return m_pHostUi; }
  // The main window's message target, where the Modbus libraries post.
  void SetMainWindow(HWND window) { m_hMainWnd = window; }
  HWND MainWindow() const { return m_hMainWnd; }

  // --- owned state ---------------------------------------------------------
  std::vector<std::unique_ptr<COpcServerLink>> m_serverLinks;
  std::vector<std::unique_ptr<CExchangeTag>> m_tags;
  std::vector<std::unique_ptr<CLogicBlock>> m_logicBlocks;
  std::vector<std::unique_ptr<CModbusDataBlock>> m_dataBlocks;
  std::vector<std::unique_ptr<CModbusWriteRequest>> m_writeQueue;

  // --- settings ------------------------------------------------------------
  int32_t m_bLocked = 0;
  std::string m_strPassword;
  int32_t m_nTimerPeriod = 1000;
  std::array<CommPortSettings, kCommPorts> m_comm{};  // index 0 is COMM1
  int32_t m_nTcpMasterTimeout = 2000;
  int32_t m_nTcpSlavePort = 502;
  int32_t m_hTcpSlave = -1;
  std::array<TcpMasterSlot, kTcpMasterSlots> m_tcpMasters{};

 private:
  IHostUi* m_pHostUi = nullptr;
  HWND m_hMainWnd = nullptr;
  // Point lookup of the tick; rebuilt when the block list has changed.
  mutable std::unique_ptr<CDataBlockIndex> m_pBlockIndex;
  mutable uint64_t m_nIndexedGeneration = 0;
  mutable size_t m_nIndexedBlocks = 0;
  uint64_t m_nBlockGeneration = 1;
};

// The OPC server's write callback: start-up installs it with
// SetWriteCallback(OnServerTagWrite, 1). Finds the tag by item handle
// (OPC_E_INVALIDHANDLE when none) and writes it; the result is changed only on
// failure.
void OnServerTagWrite(int32_t handle, VARIANT* value, HRESULT* result);
// The OPC client data-change callback, given to ClientSetDataCallback for
// each server link. Changes for a reference that is no longer a tag of the
// current application are dropped.
void OnClientDataChange(int32_t server, int32_t group, void* reference, VARIANT* value,
                        FILETIME timestamp, uint32_t quality);
