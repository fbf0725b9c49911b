// The exchange engine: values from sources into tags, from writers into tags
// and on to their sources, and from tags to the OPC server and logic blocks.
#include <atomic>
#include <cstdio>

#include "clientkit/clientkit.h"
#include "connections/OpcServerLink.h"
#include "core/ExchangeTag.h"
#include "core/ModbusDataBlock.h"
#include "core/PlexmarApp.h"
#include "core/ValueConversion.h"
#include "serverkit/serverkit.h"
#include "slavelink/slavelink.h"

namespace {

// The slave library's threads store into "LOCAL" buffers while we read and
// write them: every access is one whole aligned word.
uint16_t LoadWord(const uint16_t& word) {
  return std::atomic_ref<uint16_t>(const_cast<uint16_t&>(word)).load(std::memory_order_relaxed);
}

void StoreWord(uint16_t& word, uint16_t value) {
  std::atomic_ref<uint16_t>(word).store(value, std::memory_order_relaxed);
}

// The word of a point the block holds, and whether it is current: "LOCAL"
// words always are, polled ones once a reply has filled them and while the
// block's last poll succeeded.
bool ReadBlockWord(const CModbusDataBlock& block, uint16_t address, uint16_t& word) {
  word = LoadWord(block.m_pData[address - block.m_nStartAddress]);
  return block.IsLocal() || (block.m_nStatus == 0 && block.m_bPolled);
}

// The tag's location without building a string on every tick.
std::string_view LocationOf(const CExchangeTag& tag, char (&scratch)[16]) {
  switch (tag.m_nSourceKind) {
    case CExchangeTag::kSourceLocal: return "LOCAL";
    case CExchangeTag::kSourceComm: {
      const int n = std::snprintf(scratch, sizeof(scratch), "COMM%d", tag.m_nCommPort);
      return std::string_view(scratch, n > 0 ? static_cast<size_t>(n) : 0);
    }
    case CExchangeTag::kSourceTcp: return tag.m_strHost;
    default: return std::string_view();
  }
}

}  // namespace

// --- CExchangeTag --------------------------------------------------------------

void CExchangeTag::PublishValue() const {
  if (m_hServerTag != -1)
    UpdateServerTag(m_hServerTag, *m_value, static_cast<uint16_t>(m_nQuality & 0xFFFF));
}

void CExchangeTag::RunLogicBlock() const {
  if (m_strLogicBlock.empty()) return;
  if (CPlexmarApp* app = CPlexmarApp::Current()) app->RunLogicBlock(m_strLogicBlock);
}

void CExchangeTag::UpdateFromSource(const VARIANT& value, FILETIME timestamp, uint32_t quality) {
  if (IsSameValue(*m_value, value) && m_bForceUpdate == 0) return;
  m_value = value;
  m_ftTimestamp = timestamp;
  m_nQuality = quality;
  PublishValue();
  RunLogicBlock();
  m_bForceUpdate = 0;
}

void CExchangeTag::Write(const VARIANT& value, HRESULT& result) {
  if (IsSameValue(*m_value, value)) return;
  m_value = value;
  PublishValue();

  CPlexmarApp* app = CPlexmarApp::Current();
  if (m_nSourceKind == kSourceOpc) {
    const COpcServerLink* link =
        app && m_hClientItem != -1 ? app->FindServerLink(m_strMachine, m_strServer) : nullptr;
    if (link) {
      CVariant sent(*m_value);
      ClientWriteItem(link->m_hServer, link->m_hGroup, m_hClientItem, sent.get(), 1);
    } else {
      result = kWriteNotDelivered;
    }
  } else if (IsModbusPoint()) {
    const std::string location = GetLocation();
    auto writer = [&](uint16_t address, const uint16_t* words, uint16_t count) {
      return app->WritePoint(location, m_nSlaveId, m_nPointType, address, words, count);
    };
    if (app == nullptr || !WriteTagValue(*this, *m_value, writer)) result = kWriteNotDelivered;
  } else if (m_nSourceKind != kSourceVariable) {
    // A kind with no source cannot take the value anywhere.
    result = kWriteNotDelivered;
  }

  RunLogicBlock();
}

void CExchangeTag::RefreshFromDataBlock() {
  if (!IsModbusPoint()) return;
  const CPlexmarApp* app = CPlexmarApp::Current();
  if (app == nullptr) return;

  char scratch[16];
  const std::string_view location = LocationOf(*this, scratch);
  bool uncovered = false;
  auto reader = [&](uint16_t address, uint16_t& word) {
    const CModbusDataBlock* block = app->FindPointBlock(location, m_nSlaveId, m_nPointType, address);
    if (block == nullptr) {
      uncovered = true;
      return false;
    }
    return ReadBlockWord(*block, address, word);
  };
  const TagReadResult read = ReadTagValue(*this, reader);
  if (!read.bConverted) return;
  // An unchanged value that is already good is no news. One that is bad is:
  // after a failed poll (or before the first one) the same words must still
  // bring the quality back.
  if (read.bValid && m_nQuality == kQualityGood && IsSameValue(*m_value, read.value)) return;

  m_nQuality = read.bValid ? kQualityGood : kQualityBad;
  // Words of a block that failed its poll are the last ones polled; a point
  // that no block holds has no words at all, so the tag keeps its value.
  if (!uncovered) m_value = read.value;
  PublishValue();
  RunLogicBlock();
}

// --- CPlexmarApp -------------------------------------------------------------

void CPlexmarApp::RefreshAllTags() {
  // By position: a logic block run from one refresh must not invalidate the
  // walk over the table.
  for (size_t i = 0; i < m_tags.size(); ++i) m_tags[i]->RefreshFromDataBlock();
}

bool CPlexmarApp::ReadPoint(const std::string& location, uint8_t slave, uint8_t pointType,
                            uint16_t address, uint16_t& word) const {
  const CModbusDataBlock* block = FindPointBlock(location, slave, pointType, address);
  return block != nullptr && ReadBlockWord(*block, address, word);
}

bool CPlexmarApp::WritePoint(const std::string& location, uint8_t slave, uint8_t pointType,
                             uint16_t address, const uint16_t* words, uint16_t count) {
  if (words == nullptr || count == 0) return false;
  CModbusDataBlock* block = FindDataBlock(location, slave, pointType, address, count);
  if (block == nullptr) return false;
  if (block->IsLocal()) {
    // The slave library serves this buffer: remote masters see it at once.
    uint16_t* target = &block->m_pData[address - block->m_nStartAddress];
    for (uint16_t i = 0; i < count; ++i) StoreWord(target[i], words[i]);
    return true;
  }
  if (pointType == CExchangeTag::kInputStatus || pointType == CExchangeTag::kInputRegister)
    return false;
  return QueueWrite(location, slave, pointType, address, words, count);
}

void CPlexmarApp::DefineLocalBlocks() {
  for (auto& block : m_dataBlocks) {
    block->ReleaseSlaveBlock();
    if (!block->IsLocal()) continue;
    const int32_t handle = DefineDataBlock(block->m_nSlaveId, block->m_nPointType,
                                           block->m_nStartAddress, block->m_nCount,
                                           block->m_pData.get());
    // 0: the library's table is full and the block stays unserved.
    if (handle <= 0) continue;
    block->m_hSlaveBlock = handle;
    EnableDoWriteNotification(m_hMainWnd, handle, 1, WM_USER + 1);
  }
}

void CPlexmarApp::RebuildDataBlocks() {
  for (const auto& tag : m_tags) {
    if (!tag->IsModbusPoint()) continue;
    AddDataBlock(tag->GetLocation(), tag->m_nSlaveId, tag->m_nPointType, tag->m_nAddress,
                 static_cast<uint16_t>(tag->GetRegisterCount()));
  }
  DefineLocalBlocks();
}

// --- toolkit callbacks -------------------------------------------------------

void OnServerTagWrite(int32_t handle, VARIANT* value, HRESULT* result) {
  if (result == nullptr) return;
  CPlexmarApp* app = CPlexmarApp::Current();
  CExchangeTag* tag = app ? app->FindTagByServerHandle(handle) : nullptr;
  if (tag == nullptr) {
    *result = OPC_E_INVALIDHANDLE;
    return;
  }
  if (value == nullptr) {
    *result = E_INVALIDARG;
    return;
  }
  // Copy first: the value may belong to the toolkit's item that the write
  // republishes.
  const CVariant written(*value);
  tag->Write(*written, *result);
}

void OnClientDataChange(int32_t /*server*/, int32_t /*group*/, void* reference, VARIANT* value,
                        FILETIME timestamp, uint32_t quality) {
  CPlexmarApp* app = CPlexmarApp::Current();
  if (app == nullptr || reference == nullptr || value == nullptr) return;
  // Tags can be deleted at any time; the toolkit may still hold the pointer,
  // and a new tag may since have been made at the same address. Only a tag
  // whose OPC item is active can be the toolkit's reference.
  for (const auto& tag : app->m_tags) {
    if (tag.get() == reference) {
      if (tag->m_nSourceKind != CExchangeTag::kSourceOpc || tag->m_hClientItem == -1) return;
      // An empty value with bad quality is the client toolkit's word for a
      // lost server. It must land even when the tag holds 0, which an empty
      // value compares equal to: a value must never stay good by accident.
      if (value->vt == VT_EMPTY && (quality & 0xC0) == 0) tag->m_bForceUpdate = 1;
      const CVariant changed(*value);
      tag->UpdateFromSource(*changed, timestamp, quality);
      return;
    }
  }
}
