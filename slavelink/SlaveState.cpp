#include "slavelink/SlaveState.h"

#include <algorithm>
#include <thread>

#include "slavelink/SerialLink.h"
#include "slavelink/TcpServer.h"

namespace slavelink {

namespace {
std::atomic<TickSource> g_tickSource{nullptr};
}  // namespace

LibraryState& State() {
  static LibraryState state;
  return state;
}

LibraryState::~LibraryState() {
  // Unloading with connections still open: end their threads before the
  // table they use goes away.
  for (auto& link : m_serialLinks) link.reset();
  m_tcpServer.reset();
}

DataBlock::View DataBlock::Snapshot() const {
  for (;;) {
    const uint32_t before = m_nGeneration.load(std::memory_order_acquire);
    if ((before & 1) != 0) {
      // The host is between the two halves of a change: a few stores.
      std::this_thread::yield();
      continue;
    }
    // Acquire loads keep the second reading of the generation after them.
    View view;
    view.type = m_nPointType.load(std::memory_order_acquire);
    view.slaveId = m_nSlaveId.load(std::memory_order_acquire);
    view.start = m_nStartPoint.load(std::memory_order_acquire);
    view.count = m_nCount.load(std::memory_order_acquire);
    view.data = m_pData.load(std::memory_order_acquire);
    if (m_nGeneration.load(std::memory_order_relaxed) == before) return view;
  }
}

// Between the two, the host stores the fields with release, which keeps the
// odd generation ahead of every one of them.
void DataBlock::BeginChange() {
  m_nGeneration.store(m_nGeneration.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
}

void DataBlock::EndChange() {
  m_nGeneration.store(m_nGeneration.load(std::memory_order_relaxed) + 1, std::memory_order_release);
}

bool DataBlock::Covers(uint8_t slaveId, bool anySlave, uint8_t type, uint16_t point, View& view) const {
  if (type == 0 || m_nPointType.load(std::memory_order_relaxed) != type) return false;
  view = Snapshot();
  if (view.type != type) return false;
  if (!anySlave && view.slaveId != slaveId) return false;
  // Unsigned offset: a point below the start wraps far beyond any count.
  const uint32_t offset = static_cast<uint16_t>(point - view.start);
  return point >= view.start && offset < view.count && view.data != nullptr;
}

uint16_t TrafficLog::Append(const uint8_t* bytes, size_t length, bool received) {
  const int32_t start = m_nPosition.load(std::memory_order_relaxed);
  const uint16_t mark = received ? 0x100 : 0;
  int32_t pos = start;
  for (size_t i = 0; i < length; ++i) {
    m_entries[pos].store(static_cast<uint16_t>(bytes[i] | mark), std::memory_order_relaxed);
    if (++pos == kLogEntries) pos = 0;
  }
  m_nPosition.store(pos, std::memory_order_relaxed);
  return static_cast<uint16_t>(start);
}

int32_t TrafficLog::Read(uint16_t* destination, int32_t start, int32_t count) const {
  if (destination == nullptr || start < 0 || start >= kLogEntries || count <= 0) return 0;
  int32_t pos = start;
  for (int32_t i = 0; i < count; ++i) {
    destination[i] = m_entries[pos].load(std::memory_order_relaxed);
    pos = (pos + 1) % kLogEntries;
  }
  return count;
}

std::shared_ptr<TrafficLog> SlavePort::GetLog() const {
  std::lock_guard lock(m_logMutex);
  return m_pLog;
}

void SlavePort::SetLog(std::shared_ptr<TrafficLog> log) {
  std::lock_guard lock(m_logMutex);
  m_pLog = std::move(log);
}

void SlavePort::LogBytes(TrafficLog* log, const uint8_t* bytes, size_t length, bool received) const {
  if (log == nullptr || length == 0) return;
  const uint16_t start = log->Append(bytes, length, received);
  if (auto callback = State().m_pBufferCallback.load(std::memory_order_acquire)) {
    callback(m_hHandle.load(std::memory_order_relaxed), start, static_cast<uint16_t>(length));
  }
}

SlavePort* FindPort(int32_t handle) {
  LibraryState& state = State();
  if (handle == kTcpHandle) return &state.m_tcp;
  // A free record holds -1; that value never names a connection.
  if (handle == -1) return nullptr;
  for (auto& port : state.m_serial) {
    if (port.m_hHandle.load(std::memory_order_acquire) == handle) return &port;
  }
  return nullptr;
}

bool ReadPoint(uint8_t slaveId, uint8_t type, uint16_t point, uint16_t& value) {
  return ReadPoints(slaveId, type, point, 1, &value) == 1;
}

size_t ReadPoints(uint8_t slaveId, uint8_t type, uint16_t point, size_t count, uint16_t* values) {
  const auto& table = State().m_table;
  size_t done = 0;
  while (done < count) {
    const uint16_t first = static_cast<uint16_t>(point + done);
    int owner = -1;
    DataBlock::View view;
    for (int i = 0; i < kTableSize && owner < 0; ++i) {
      if (table[i].Covers(slaveId, false, type, first, view)) owner = i;
    }
    if (owner < 0) return done;

    // The owner serves the points after `first` up to its end, the end of the
    // point range, or the start of an entry earlier in the table, which takes
    // them over from there on. All of it from the one view of the owner.
    uint16_t* word = view.data + static_cast<uint16_t>(first - view.start);
    const uint32_t blockEnd = static_cast<uint32_t>(view.start) + view.count;
    const uint32_t wanted = static_cast<uint32_t>(std::min<size_t>(count - done, 65536));
    uint32_t runEnd = std::min<uint32_t>({blockEnd, 65536u, first + wanted});
    for (int i = 0; i < owner; ++i) {
      if (table[i].m_nPointType.load(std::memory_order_relaxed) != type) continue;
      const DataBlock::View earlier = table[i].Snapshot();
      if (earlier.type != type || earlier.slaveId != slaveId || earlier.count == 0) continue;
      const uint32_t start = earlier.start;
      if (start > first && start < runEnd) runEnd = start;
    }
    const size_t run = runEnd - first;
    for (size_t k = 0; k < run; ++k) values[done + k] = LoadWord(word + k);
    done += run;
  }
  return done;
}

bool WritePoint(uint8_t slaveId, uint8_t type, uint16_t point, uint16_t value) {
  LibraryState& state = State();
  const bool anySlave = slaveId == 0;
  bool stored = false;
  for (DataBlock& block : state.m_table) {
    DataBlock::View view;
    if (!block.Covers(slaveId, anySlave, type, point, view)) continue;
    StoreWord(view.data + static_cast<uint16_t>(point - view.start), value);
    stored = true;
    if (block.m_bNotifyEnabled.load(std::memory_order_relaxed) != 0) {
      block.m_bWritePending.store(1, std::memory_order_relaxed);
    }
    if (auto callback = state.m_pWriteCallback.load(std::memory_order_acquire)) {
      callback(slaveId, type, point, value);
    }
  }
  return stored;
}

void PostNotifications() {
  LibraryState& state = State();
  for (int i = 0; i < kTableSize; ++i) {
    DataBlock& block = state.m_table[i];
    if (block.m_bNotifyEnabled.load(std::memory_order_relaxed) == 0) continue;
    if (block.m_bWritePending.exchange(0, std::memory_order_relaxed) == 0) continue;
    // The host's window may live in another copy of the platform layer than
    // ours, so the target is called directly rather than through PostMessage.
    if (HWND window = block.m_hNotifyWnd.load(std::memory_order_relaxed)) {
      window->Post(block.m_nNotifyMessage.load(std::memory_order_relaxed), 0, i + 1);
    }
  }
}

void SetTickSource(TickSource source) { g_tickSource.store(source, std::memory_order_release); }

uint32_t Now() {
  if (TickSource source = g_tickSource.load(std::memory_order_acquire)) return source();
  return GetTickCount();
}

}  // namespace slavelink
