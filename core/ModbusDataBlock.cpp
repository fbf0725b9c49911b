#include "core/ModbusDataBlock.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <new>
#include <utility>
#include <vector>

#include "platform/msgwindow.h"
#include "slavelink/slavelink.h"

namespace {

// A fresh zeroed buffer, or null when memory ran out.
std::unique_ptr<uint16_t[]> AllocateWords(uint16_t count) {
  return std::unique_ptr<uint16_t[]>(new (std::nothrow) uint16_t[count == 0 ? 1 : count]());
}

// Buffers taken back from the slave library. RemoveDataBlock stops new
// requests from finding a buffer, but a library thread that found it just
// before may still be storing into it for the moment its request lasts. A
// withdrawn buffer is therefore kept for a grace period, far longer than any
// request takes, before it is freed. Only configuration changes retire
// buffers, so the list stays short.
class RetiredBuffers {
 public:
  static constexpr uint32_t kGraceMs = 5000;

  void Retire(std::unique_ptr<uint16_t[]> buffer) {
    if (!buffer) return;
    const uint32_t now = GetTickCount();
    std::lock_guard lock(m_mutex);
    std::erase_if(m_buffers, [now](const Entry& e) { return now - e.retiredAt > kGraceMs; });
    m_buffers.push_back(Entry{std::move(buffer), now});
  }

 private:
  struct Entry {
    std::unique_ptr<uint16_t[]> buffer;
    uint32_t retiredAt;
  };
  std::mutex m_mutex;
  std::vector<Entry> m_buffers;
};

RetiredBuffers& Retired() {
  static RetiredBuffers retired;
  return retired;
}

}  // namespace

CModbusDataBlock::CModbusDataBlock(std::string location, uint8_t slave, uint8_t pointType,
                                   uint16_t start, uint16_t count)
    : m_strLocation(std::move(location)),
      m_nSlaveId(slave),
      m_nPointType(pointType),
      m_nStartAddress(start),
      m_nCount(count),
      m_pData(AllocateWords(count)) {}

CModbusDataBlock::~CModbusDataBlock() {
  if (m_hSlaveBlock == -1) return;
  ReleaseSlaveBlock();
  Retired().Retire(std::move(m_pData));
}

void CModbusDataBlock::ReleaseSlaveBlock() {
  if (m_hSlaveBlock != -1) {
    RemoveDataBlock(m_hSlaveBlock);
    m_hSlaveBlock = -1;
  }
}

bool CModbusDataBlock::Contains(std::string_view location, uint8_t slave, uint8_t pointType,
                                uint16_t address, uint16_t count) const {
  if (count == 0 || m_nCount == 0) return false;
  if (m_nSlaveId != slave || m_nPointType != pointType || m_strLocation != location) return false;
  const int32_t last = int32_t{address} + count - 1;
  return m_nStartAddress <= address && EndAddress() >= last;
}

bool CModbusDataBlock::Merge(std::string_view location, uint8_t slave, uint8_t pointType,
                             uint16_t address, uint16_t count) {
  if (Contains(location, slave, pointType, address, count)) return true;
  if (count == 0 || m_strLocation != location || m_nSlaveId != slave || m_nPointType != pointType)
    return false;

  const int32_t newStart = std::min<int32_t>(m_nStartAddress, address);
  const int32_t newEnd = std::max<int32_t>(EndAddress(), int32_t{address} + count - 1);
  const int32_t newCount = newEnd - newStart + 1;
  if (newCount > kMaxPoints || newEnd > 0xFFFF) return false;

  std::unique_ptr<uint16_t[]> grown = AllocateWords(static_cast<uint16_t>(newCount));
  if (!grown) return false;

  // The slave library's threads may be serving the old buffer: take it back
  // from the library first, copy what it holds then, and let it go only after
  // the grace period. DefineLocalBlocks lends the new one.
  const bool lent = m_hSlaveBlock != -1;
  ReleaseSlaveBlock();
  const int32_t shift = m_nStartAddress - newStart;
  for (int32_t i = 0; i < m_nCount; ++i)
    grown[shift + i] = std::atomic_ref<uint16_t>(m_pData[i]).load(std::memory_order_relaxed);
  std::swap(m_pData, grown);
  if (lent) Retired().Retire(std::move(grown));
  m_nStartAddress = static_cast<uint16_t>(newStart);
  m_nCount = static_cast<uint16_t>(newCount);
  m_bPolled = false;
  return true;
}
