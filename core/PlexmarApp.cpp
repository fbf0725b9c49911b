// The application object's construction, the tag table, the data blocks and
// the Modbus write queue.
#include "core/PlexmarApp.h"

#include <cstdio>
#include <utility>

#include "clientkit/clientkit.h"
#include "connections/OpcServerLink.h"
#include "core/DataBlockIndex.h"
#include "core/ExchangeTag.h"
#include "core/ModbusDataBlock.h"
#include "core/ModbusWriteRequest.h"
#include "logic/LogicBlock.h"
#include "serverkit/serverkit.h"

namespace {

CPlexmarApp* g_pCurrentApp = nullptr;

// The port number of "COMM1".."COMM9", or 0 for any other text.
int CommPortOf(std::string_view location) {
  if (location.size() == 5 && location.substr(0, 4) == "COMM" && location[4] >= '1' &&
      location[4] <= '9')
    return location[4] - '0';
  return 0;
}

}  // namespace

CPlexmarApp::CPlexmarApp() { g_pCurrentApp = this; }

CPlexmarApp::~CPlexmarApp() {
  // The shutdown order: blocks (each withdraws its slave block), logic, tags
  // (each withdraws its items, still finding its server link), queued
  // writes, then the links.
  m_dataBlocks.clear();
  m_logicBlocks.clear();
  RemoveAllTags();
  m_writeQueue.clear();
  m_serverLinks.clear();
  if (g_pCurrentApp == this) g_pCurrentApp = nullptr;
}

CPlexmarApp* CPlexmarApp::Current() { return g_pCurrentApp; }

// --- tag table ---------------------------------------------------------------

CExchangeTag* CPlexmarApp::FindTag(const std::string& name) const {
  for (const auto& tag : m_tags)
    if (tag->m_strName == name) return tag.get();
  return nullptr;
}

bool CPlexmarApp::IsTagNameFree(const std::string& name) const { return FindTag(name) == nullptr; }

CExchangeTag* CPlexmarApp::FindTagByServerHandle(int32_t handle) const {
  // -1 marks every unpublished tag; it never names an item.
  if (handle == -1) return nullptr;
  for (const auto& tag : m_tags)
    if (tag->m_hServerTag == handle) return tag.get();
  return nullptr;
}

COpcServerLink* CPlexmarApp::FindServerLink(const std::string& machine,
                                            const std::string& server) const {
  for (const auto& link : m_serverLinks)
    if (link->m_strMachine == machine && link->m_strServer == server) return link.get();
  return nullptr;
}

void CPlexmarApp::AddTag(std::unique_ptr<CExchangeTag> tag) {
  if (!tag) return;
  m_tags.push_back(std::move(tag));
  BindTag(*m_tags.back());
}

void CPlexmarApp::BindTag(CExchangeTag& tag) {
  if (tag.m_nSourceKind == CExchangeTag::kSourceVariable) tag.m_nQuality = CExchangeTag::kQualityGood;
  if (tag.m_nSourceKind == CExchangeTag::kSourceOpc) ConnectClientItem(tag);
  if (tag.IsModbusPoint()) {
    AddDataBlock(tag.GetLocation(), tag.m_nSlaveId, tag.m_nPointType, tag.m_nAddress,
                 static_cast<uint16_t>(tag.GetRegisterCount()));
  }
  PublishTag(tag);
}

void CPlexmarApp::ConnectClientItem(CExchangeTag& tag) {
  COpcServerLink* link = FindServerLink(tag.m_strMachine, tag.m_strServer);
  if (link && tag.m_hClientItem != -1) {
    // Bound before: drop the old item rather than leave it orphaned.
    ClientRemoveItem(link->m_hServer, link->m_hGroup, tag.m_hClientItem);
    tag.m_hClientItem = -1;
  }
  if (!link) {
    tag.m_hClientItem = -1;
    tag.m_nQuality = CExchangeTag::kQualityBad;
    return;
  }
  const int32_t item = ClientAddItem(link->m_hServer, link->m_hGroup, tag.m_strItemId.c_str());
  if (item == -1) {
    tag.m_nQuality = CExchangeTag::kQualityBad;
  } else if (ClientActivateItem(link->m_hServer, link->m_hGroup, item, &tag) == 0) {
    ClientRemoveItem(link->m_hServer, link->m_hGroup, item);
    tag.m_hClientItem = -1;
    tag.m_nQuality = CExchangeTag::kQualityBad;
  } else {
    tag.m_hClientItem = item;
    // Read into a fresh value so a failed read leaves the tag's value whole.
    CVariant value;
    FILETIME timestamp;
    uint32_t quality = 0;
    if (ClientReadItem(link->m_hServer, link->m_hGroup, item, value.get(), &timestamp, &quality) != 0) {
      tag.m_value = *value;
      tag.m_ftTimestamp = timestamp;
      tag.m_nQuality = quality;
    } else {
      tag.m_nQuality = CExchangeTag::kQualityBad;
    }
  }
}

void CPlexmarApp::PublishTag(CExchangeTag& tag) {
  // Binding twice must not leave a second item of the same name behind.
  if (tag.m_hServerTag != -1) RemoveServerTag(tag.m_hServerTag);
  tag.m_hServerTag = CreateServerTag(tag.m_strName.c_str(), *tag.m_value,
                                     static_cast<uint16_t>(tag.m_nQuality & 0xFFFF), 1);
}

void CPlexmarApp::RemoveAllTags() {
  // Take the table out first: item withdrawals may call back into the
  // application, which then sees an empty table, never a half-destroyed one.
  std::vector<std::unique_ptr<CExchangeTag>> tags = std::move(m_tags);
  m_tags.clear();
  tags.clear();
  std::vector<std::unique_ptr<CModbusDataBlock>> blocks = std::move(m_dataBlocks);
  m_dataBlocks.clear();
  DataBlocksChanged();
  blocks.clear();
}

std::string CPlexmarApp::DefaultTagName() const {
  char name[48];
  std::snprintf(name, sizeof(name), "Exchange.Tag%zu", m_tags.size() + 1);
  return name;
}

// --- data blocks -------------------------------------------------------------

bool CPlexmarApp::AddDataBlock(const std::string& location, uint8_t slave, uint8_t pointType,
                               uint16_t address, uint16_t count) {
  // A block holds 1..100 points, all with 16-bit point numbers.
  if (count == 0 || count > CModbusDataBlock::kMaxPoints || int32_t{address} + count - 1 > 0xFFFF)
    return false;
  for (auto& block : m_dataBlocks) {
    const uint16_t oldStart = block->m_nStartAddress;
    const uint16_t oldCount = block->m_nCount;
    if (block->Merge(location, slave, pointType, address, count)) {
      if (block->m_nStartAddress != oldStart || block->m_nCount != oldCount) DataBlocksChanged();
      return true;
    }
  }
  auto block = std::make_unique<CModbusDataBlock>(location, slave, pointType, address, count);
  if (!block->IsAllocated()) return false;
  m_dataBlocks.push_back(std::move(block));
  DataBlocksChanged();
  return true;
}

CModbusDataBlock* CPlexmarApp::FindDataBlock(const std::string& location, uint8_t slave,
                                             uint8_t pointType, uint16_t address,
                                             uint16_t count) const {
  for (const auto& block : m_dataBlocks)
    if (block->Contains(location, slave, pointType, address, count)) return block.get();
  return nullptr;
}

void CPlexmarApp::DataBlocksChanged() { ++m_nBlockGeneration; }

const CModbusDataBlock* CPlexmarApp::FindPointBlock(std::string_view location, uint8_t slave,
                                                    uint8_t pointType, uint16_t address) const {
  if (!m_pBlockIndex || m_nIndexedGeneration != m_nBlockGeneration ||
      m_nIndexedBlocks != m_dataBlocks.size()) {
    if (!m_pBlockIndex) m_pBlockIndex = std::make_unique<CDataBlockIndex>();
    m_pBlockIndex->Build(m_dataBlocks);
    m_nIndexedGeneration = m_nBlockGeneration;
    m_nIndexedBlocks = m_dataBlocks.size();
  }
  const int32_t position = m_pBlockIndex->Find(location, slave, pointType, address);
  if (position < 0 || static_cast<size_t>(position) >= m_dataBlocks.size()) return nullptr;
  const CModbusDataBlock* block = m_dataBlocks[position].get();
  // A block list changed behind our back shows up here: fall back to a scan.
  if (!block->Contains(location, slave, pointType, address, 1)) {
    for (const auto& candidate : m_dataBlocks)
      if (candidate->Contains(location, slave, pointType, address, 1)) return candidate.get();
    return nullptr;
  }
  return block;
}

// --- Modbus write-back -------------------------------------------------------

int32_t CPlexmarApp::GetMasterHandle(const std::string& location) const {
  if (location == "LOCAL") return -1;
  if (const int port = CommPortOf(location)) return m_comm[port - 1].hMaster;
  // A closed slot may still carry its host name; only an open one counts.
  for (const TcpMasterSlot& slot : m_tcpMasters)
    if (slot.hMaster != -1 && slot.strHost == location) return slot.hMaster;
  return -1;
}

std::string CPlexmarApp::GetConnectionName(int32_t handle) const {
  // Free slots hold -1, so -1 names no connection.
  if (handle == -1) return "UNKNOWN";
  for (int port = 1; port <= kCommPorts; ++port) {
    if (m_comm[port - 1].hMaster == handle) {
      char name[16];
      std::snprintf(name, sizeof(name), "COMM%d", port);
      return name;
    }
  }
  for (const TcpMasterSlot& slot : m_tcpMasters)
    if (slot.hMaster == handle) return slot.strHost;
  return "UNKNOWN";
}

bool CPlexmarApp::QueueWrite(const std::string& location, uint8_t slave, uint8_t pointType,
                             uint16_t address, const uint16_t* words, uint16_t count) {
  uint8_t function = 0;
  if (pointType == CExchangeTag::kCoilStatus)
    function = CModbusWriteRequest::kWriteCoils;
  else if (pointType == CExchangeTag::kHoldingRegister)
    function = CModbusWriteRequest::kWriteRegisters;
  else
    return false;
  if (words == nullptr || count == 0 || count > CModbusWriteRequest::kMaxWords) return false;
  const int32_t handle = GetMasterHandle(location);
  if (handle == -1) return false;

  CModbusWriteRequest* request = nullptr;
  for (auto& queued : m_writeQueue) {
    if (queued->IsSameTarget(handle, slave, function, address, count)) {
      request = queued.get();
      break;
    }
  }
  if (request == nullptr) {
    auto added = std::make_unique<CModbusWriteRequest>();
    added->m_hMaster = handle;
    added->m_nSlaveId = slave;
    added->m_nFunction = function;
    added->m_nAddress = address;
    added->m_nCount = count;
    request = added.get();
    m_writeQueue.push_back(std::move(added));
  }
  std::copy(words, words + count, request->m_data.begin());
  return true;
}
