#include "core/ModbusPoller.h"

#include <algorithm>
#include <memory>

#include "core/MainFrameCore.h"
#include "core/ModbusDataBlock.h"
#include "core/ModbusWriteRequest.h"
#include "core/PlexmarApp.h"

namespace {

class CLinkedMasterLibrary final : public IMasterLink {
 public:
  int32_t PollMODBUS(int32_t hConnection, const ModbusRequestHeader& header) override {
    return ::PollMODBUS(hConnection, &header);
  }
  int32_t WriteMODBUS(int32_t hConnection, const ModbusRequestHeader& header, const uint16_t* data) override {
    return ::WriteMODBUS(hConnection, &header, data);
  }
  int32_t MODBUSResponse(int32_t hConnection, ModbusRequestHeader& header, uint16_t* words,
                         int32_t nWords) override {
    return ::MODBUSResponse(hConnection, &header, words, nWords);
  }
};

}  // namespace

IMasterLink& MasterLinkLibrary() {
  static CLinkedMasterLibrary library;
  return library;
}

CModbusPoller::CModbusPoller(CPlexmarApp& app, IMasterLink& link, int32_t& hOutstanding)
    : m_app(app), m_link(link), m_hOutstanding(hOutstanding) {}

int32_t CModbusPoller::PollBlock(CModbusDataBlock& block) {
  if (block.IsLocal()) return -1;
  const int32_t handle = m_app.GetMasterHandle(block.m_strLocation);
  if (handle == -1) {
    block.m_nStatus = CModbusDataBlock::kStatusNoConnection;
    return -1;
  }
  // The point type is the number of the read function that reads it.
  const ModbusRequestHeader header{block.m_nSlaveId, block.m_nPointType, block.m_nStartAddress,
                                   block.m_nCount};
  block.m_nStatus = m_link.PollMODBUS(handle, header);
  return block.m_nStatus == 0 ? handle : -1;
}

int32_t CModbusPoller::PollFrom(size_t first) {
  // By index: a block may be added while the cycle runs, and then it is
  // polled in this cycle too.
  for (size_t i = first; i < m_app.m_dataBlocks.size(); ++i) {
    const int32_t handle = PollBlock(*m_app.m_dataBlocks[i]);
    if (handle != -1) return handle;
  }
  return -1;
}

void CModbusPoller::SendNextRequest() {
  auto& queue = m_app.m_writeQueue;
  while (!queue.empty()) {
    const std::unique_ptr<CModbusWriteRequest> request = std::move(queue.front());
    queue.erase(queue.begin());
    m_hOutstanding = request->m_hMaster;
    const ModbusRequestHeader header{request->m_nSlaveId, request->m_nFunction, request->m_nAddress,
                                     request->m_nCount};
    // A refused write is dropped; the next poll of the point corrects the tag.
    if (m_link.WriteMODBUS(request->m_hMaster, header, request->m_data.data()) == 0) return;
  }
  m_hOutstanding = PollFrom(0);
}

void CModbusPoller::OnModbusResponse() {
  // A reply message while nothing is outstanding is a stray (say, for a
  // request of a connection the chain gave up on): taking it must not start
  // a second chain beside the one a tick starts.
  if (m_hOutstanding == -1) return;

  ModbusRequestHeader header{};
  uint16_t words[kResponseWords] = {};
  const int32_t status = m_link.MODBUSResponse(m_hOutstanding, header, words, kResponseWords);

  if (header.nFunction > 4) {
    // A write reply; its status is not reported anywhere.
    SendNextRequest();
    return;
  }

  const std::string name = m_app.GetConnectionName(m_hOutstanding);
  CModbusDataBlock* block =
      m_app.FindDataBlock(name, header.nSlaveId, header.nFunction, header.nAddress, header.nCount);
  if (block == nullptr) {
    // Nothing to continue from: the cycle ends and the next tick starts one.
    m_hOutstanding = -1;
    return;
  }
  block->m_nStatus = status;
  if (status == 0) {
    // The reply carries the request's range. The block may have grown while
    // the request was out (the tag list was edited), so the words go to the
    // points they belong to rather than to the start of the block.
    const size_t offset = static_cast<size_t>(header.nAddress - block->m_nStartAddress);
    const size_t count = std::min<size_t>(header.nCount, kResponseWords);
    std::copy_n(words, count, block->m_pData.get() + offset);
    // A reply for only part of a block that grew meanwhile leaves the new
    // points unpolled; the whole block is asked for again next cycle.
    block->m_bPolled = offset == 0 && count >= block->m_nCount;
  }

  const auto& blocks = m_app.m_dataBlocks;
  const auto found = std::find_if(blocks.begin(), blocks.end(),
                                  [block](const auto& b) { return b.get() == block; });
  m_hOutstanding = PollFrom(static_cast<size_t>(found - blocks.begin()) + 1);
}

void InstallModbusPolling(CMainFrameCore& frame, IMasterLink& link) {
  auto poller = std::make_shared<CModbusPoller>(frame.App(), link, frame.m_hOutstandingMaster);
  frame.SetSendNextRequestHook([poller] { poller->SendNextRequest(); });
  frame.SetModbusResponseHook([poller](WPARAM, LPARAM) { poller->OnModbusResponse(); });
}
