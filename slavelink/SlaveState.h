// The slave library's process-wide state: the data block table, the nine
// serial records, the TCP record and the traffic logs.
//
// Library threads and the host touch the table and the lent words without a
// common lock. Every field that crosses threads is an atomic (relaxed unless
// an entry is being published), and the host's words are loaded and stored
// whole through std::atomic_ref, so concurrent use is defined behaviour.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include "platform/msgwindow.h"
#include "slavelink/slavelink.h"

namespace slavelink {

constexpr int kTableSize = 250;
constexpr int kSerialPorts = 9;
constexpr int kLogEntries = 1024;
constexpr int32_t kTcpHandle = SLAVELINK_TCP_HANDLE;
constexpr uint16_t kRevision = 516;

struct DataBlock {
  std::atomic<int32_t> m_nActive{0};
  std::atomic<uint8_t> m_nSlaveId{0};
  std::atomic<uint8_t> m_nPointType{0};  // 0 = free; published last on define
  std::atomic<uint16_t> m_nStartPoint{0};
  std::atomic<uint16_t> m_nCount{0};
  std::atomic<HWND> m_hNotifyWnd{nullptr};
  std::atomic<int32_t> m_bNotifyEnabled{0};
  std::atomic<uint32_t> m_nNotifyMessage{0};
  std::atomic<int32_t> m_bWritePending{0};
  std::atomic<uint16_t*> m_pData{nullptr};
  // Odd while the host redefines or frees the entry; every change moves it
  // on. A link thread's view of an entry is taken between two equal, even
  // readings, so a count is never paired with another definition's words.
  std::atomic<uint32_t> m_nGeneration{0};

  struct View {
    uint8_t slaveId = 0;
    uint8_t type = 0;  // 0 = free
    uint16_t start = 0;
    uint16_t count = 0;
    uint16_t* data = nullptr;
  };
  View Snapshot() const;
  // Host side, under the host mutex: brackets a change of the fields.
  void BeginChange();
  void EndChange();

  // Whether the entry holds `point` of `type` for `slaveId` (slave id 0 with
  // anySlave: for every slave id, writes only); `view` is the entry as it was.
  bool Covers(uint8_t slaveId, bool anySlave, uint8_t type, uint16_t point, View& view) const;
};

// 1024 entries of 16 bits: byte + 0x100 for received bytes, the byte alone
// for sent ones. Shared between a connection's thread and the host, and kept
// alive by whoever still uses it (the TCP server thread may outlive its close).
class TrafficLog {
 public:
  // Appends a run and returns the position where it starts.
  uint16_t Append(const uint8_t* bytes, size_t length, bool received);
  int32_t Read(uint16_t* destination, int32_t start, int32_t count) const;
  int32_t Position() const { return m_nPosition.load(std::memory_order_relaxed); }

 private:
  std::array<std::atomic<uint16_t>, kLogEntries> m_entries{};
  std::atomic<int32_t> m_nPosition{0};
};

// What every connection has: counters, options and the traffic log.
struct SlavePort {
  std::atomic<int32_t> m_hHandle{-1};  // -1 = free
  std::atomic<uint32_t> m_nOptions{0};
  std::atomic<int32_t> m_nGoodMessages{0};
  std::atomic<int32_t> m_nBadMessages{0};

  std::shared_ptr<TrafficLog> GetLog() const;
  void SetLog(std::shared_ptr<TrafficLog> log);

  // Logs the run and tells the host through the buffer callback.
  void LogBytes(TrafficLog* log, const uint8_t* bytes, size_t length, bool received) const;

 private:
  mutable std::mutex m_logMutex;
  std::shared_ptr<TrafficLog> m_pLog;
};

class SerialLink;
class TcpServer;

struct LibraryState {
  std::array<DataBlock, kTableSize> m_table;
  std::array<SlavePort, kSerialPorts> m_serial;  // COMn uses m_serial[n-1]
  SlavePort m_tcp;
  // Shared so that an RTU timer firing on the host's thread keeps its link
  // alive while a close runs on another thread.
  std::array<std::shared_ptr<SerialLink>, kSerialPorts> m_serialLinks;
  std::mutex m_linksMutex;
  std::unique_ptr<TcpServer> m_tcpServer;
  std::atomic<bool> m_bTcpRunning{false};
  std::atomic<uint16_t> m_nTcpPort{502};
  std::atomic<SlaveWriteCallback> m_pWriteCallback{nullptr};
  std::atomic<SlaveBufferCallback> m_pBufferCallback{nullptr};

  // Serialises the host's own calls that change the table or open and close
  // connections; library threads never take it.
  std::mutex m_hostMutex;

  ~LibraryState();
};

LibraryState& State();

// Finds the record of a connection handle: 8050 first, then the open serial
// records. Null when the handle names nothing.
SlavePort* FindPort(int32_t handle);

// ---- lent words ------------------------------------------------------------

inline uint16_t LoadWord(uint16_t* word) {
  return std::atomic_ref<uint16_t>(*word).load(std::memory_order_relaxed);
}
inline void StoreWord(uint16_t* word, uint16_t value) {
  std::atomic_ref<uint16_t>(*word).store(value, std::memory_order_relaxed);
}

// ---- point access ---------------------------------------------------------

// The word of the first entry (table order) of this slave id and type that
// covers the point; false when none does. The active flag is not consulted.
bool ReadPoint(uint8_t slaveId, uint8_t type, uint16_t point, uint16_t& value);

// Reads `count` consecutive points from `point` on (16-bit point numbers),
// each from the first entry that covers it, as ReadPoint would, a run of
// points at a time. Returns how many were read before the first point that
// no entry covers.
size_t ReadPoints(uint8_t slaveId, uint8_t type, uint16_t point, size_t count, uint16_t* values);

// Stores the value in every entry of the type that covers the point and
// whose slave id matches (slave id 0: any slave id), marking notified
// entries pending and calling the write callback with `slaveId`. False when
// no entry took it.
bool WritePoint(uint8_t slaveId, uint8_t type, uint16_t point, uint16_t value);

// Posts the notification of every pending entry, in table order.
void PostNotifications();

// Milliseconds for the TCP idle check; replaceable so tests need not wait.
using TickSource = uint32_t (*)();
void SetTickSource(TickSource source);
uint32_t Now();

}  // namespace slavelink
