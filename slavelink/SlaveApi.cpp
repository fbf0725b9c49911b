// The library's exported operations.
#include <mutex>

#include "slavelink/SerialLink.h"
#include "slavelink/SlaveState.h"
#include "slavelink/TcpServer.h"
#include "slavelink/slavelink.h"

using namespace slavelink;

namespace {

DataBlock* BlockOf(int32_t handle) {
  if (handle < 1 || handle > kTableSize) return nullptr;
  return &State().m_table[handle - 1];
}

}  // namespace

extern "C" {

uint16_t DLL_Revision(void) { return kRevision; }

int32_t OpenConnection(MessageTarget* window, int32_t port, int32_t protocol, int32_t timerId,
                       const SlavePortSettings* settings) {
  if (port < 1 || port > kSerialPorts || settings == nullptr) return -1;
  LibraryState& state = State();
  std::lock_guard lock(state.m_hostMutex);
  return SerialLink::Open(window, port, protocol, timerId, *settings);
}

int32_t OpenTCPConnection(MessageTarget* window, uint32_t failureMessage) {
  LibraryState& state = State();
  std::lock_guard lock(state.m_hostMutex);
  if (state.m_bTcpRunning.load()) return -1;
  // A previous server may still be finishing its close or its failed start;
  // let it release its port before the new one binds.
  state.m_tcpServer.reset();
  state.m_tcp.m_hHandle.store(kTcpHandle);
  auto log = std::make_shared<TrafficLog>();
  state.m_tcp.SetLog(log);
  state.m_bTcpRunning.store(true);
  state.m_tcpServer = std::make_unique<TcpServer>(window, failureMessage, state.m_nTcpPort.load(), std::move(log));
  return kTcpHandle;
}

int32_t SetTCPServicePort(uint16_t port) {
  State().m_nTcpPort.store(port);
  return 1;
}

int32_t CloseSlaveConnection(int32_t handle) {
  LibraryState& state = State();
  std::lock_guard lock(state.m_hostMutex);
  if (handle == kTcpHandle) {
    if (state.m_bTcpRunning.exchange(false) && state.m_tcpServer) {
      state.m_tcpServer->RequestClose();
      // The server thread may be in the middle of a request that will post
      // to the host's windows or call its callbacks. Waiting (bounded, so a
      // callback that blocks on the caller cannot hang it) lets the host
      // destroy its windows once this returns.
      state.m_tcpServer->WaitClosed(std::chrono::seconds(2));
    }
    // The server thread keeps its own reference to the log for the bytes it
    // may still handle; the host's view of it ends here.
    state.m_tcp.SetLog(nullptr);
    return 1;
  }
  return SerialLink::Close(handle) ? 1 : 0;
}

int32_t SetProtocolOptions(int32_t handle, uint32_t options) {
  SlavePort* port = FindPort(handle);
  if (port == nullptr) return 0;
  port->m_nOptions.store(options, std::memory_order_relaxed);
  return 1;
}

int32_t DefineDataBlock(uint8_t slaveId, uint8_t pointType, uint16_t startPoint, uint16_t count, uint16_t* data) {
  LibraryState& state = State();
  std::lock_guard lock(state.m_hostMutex);
  for (int i = 0; i < kTableSize; ++i) {
    DataBlock& block = state.m_table[i];
    if (block.m_nPointType.load(std::memory_order_relaxed) != 0) continue;
    block.BeginChange();
    block.m_nActive.store(1, std::memory_order_relaxed);
    block.m_nSlaveId.store(slaveId, std::memory_order_release);
    block.m_nStartPoint.store(startPoint, std::memory_order_release);
    block.m_nCount.store(count, std::memory_order_release);
    block.m_pData.store(data, std::memory_order_release);
    block.m_bNotifyEnabled.store(0, std::memory_order_relaxed);
    block.m_bWritePending.store(0, std::memory_order_relaxed);
    // A type of 0 would leave the entry free, as the table reads it.
    block.m_nPointType.store(pointType, std::memory_order_release);
    block.EndChange();
    return i + 1;
  }
  return 0;
}

int32_t RemoveDataBlock(int32_t handle) {
  DataBlock* block = BlockOf(handle);
  if (block == nullptr) return 0;
  std::lock_guard lock(State().m_hostMutex);
  block->BeginChange();
  block->m_nPointType.store(0, std::memory_order_release);
  block->EndChange();
  return 1;
}

void ActivateSlaveId(uint8_t slaveId, int32_t active) {
  LibraryState& state = State();
  std::lock_guard lock(state.m_hostMutex);
  for (DataBlock& block : state.m_table) {
    if (block.m_nSlaveId.load(std::memory_order_relaxed) == slaveId) {
      block.m_nActive.store(active, std::memory_order_relaxed);
    }
  }
}

int32_t EnableDoWriteNotification(MessageTarget* window, int32_t handle, int32_t enable, uint32_t message) {
  DataBlock* block = BlockOf(handle);
  if (block == nullptr) return 0;
  std::lock_guard lock(State().m_hostMutex);
  block->m_hNotifyWnd.store(window, std::memory_order_relaxed);
  if (enable != 0) {
    block->m_nNotifyMessage.store(message, std::memory_order_relaxed);
    block->m_bWritePending.store(0, std::memory_order_relaxed);
  }
  block->m_bNotifyEnabled.store(enable, std::memory_order_relaxed);
  return 1;
}

int32_t EnableCallback(SlaveWriteCallback callback) {
  State().m_pWriteCallback.store(callback, std::memory_order_release);
  return 1;
}

int32_t EnableBufferCallback(SlaveBufferCallback callback) {
  State().m_pBufferCallback.store(callback, std::memory_order_release);
  return 1;
}

uint16_t SlaveStatus(int32_t handle, int32_t* goodMessages, int32_t* badMessages, int32_t reset) {
  SlavePort* port = FindPort(handle);
  if (port == nullptr) return 0x100;
  // With reset, the counts are taken and zeroed in one step so that no
  // request counted in between is lost.
  const int32_t good = reset ? port->m_nGoodMessages.exchange(0) : port->m_nGoodMessages.load();
  const int32_t bad = reset ? port->m_nBadMessages.exchange(0) : port->m_nBadMessages.load();
  if (goodMessages != nullptr) *goodMessages = good;
  if (badMessages != nullptr) *badMessages = bad;
  return 0;
}

int32_t ReadDebugData(int32_t handle, uint16_t* destination, int32_t start, int32_t count) {
  SlavePort* port = FindPort(handle);
  if (port == nullptr || start < 0 || start >= kLogEntries) return 0;
  std::shared_ptr<TrafficLog> log = port->GetLog();
  if (!log) return 0;
  return log->Read(destination, start, count);
}

}  // extern "C"
