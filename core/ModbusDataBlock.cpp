#include "core/ModbusDataBlock.h"

#include <algorithm>
#include <new>
#include <utility>

#include "slavelink/slavelink.h"

namespace {

// A fresh zeroed buffer, or null when memory ran out.
std::unique_ptr<uint16_t[]> AllocateWords(uint16_t count) {
  return std::unique_ptr<uint16_t[]>(new (std::nothrow) uint16_t[count == 0 ? 1 : count]());
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

CModbusDataBlock::~CModbusDataBlock() { ReleaseSlaveBlock(); }

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
  // from the library before the buffer goes. DefineLocalBlocks lends the new
  // one.
  ReleaseSlaveBlock();
  const int32_t shift = m_nStartAddress - newStart;
  for (int32_t i = 0; i < m_nCount; ++i) grown[shift + i] = m_pData[i];
  m_pData = std::move(grown);
  m_nStartAddress = static_cast<uint16_t>(newStart);
  m_nCount = static_cast<uint16_t>(newCount);
  return true;
}
