// One queued write to a remote Modbus point. The application keeps them in a
// first-in, first-out queue; the poll chain sends them before its next cycle.
#pragma once

#include <array>
#include <cstdint>

class CModbusWriteRequest {
 public:
  static constexpr int kMaxWords = 100;
  // Write multiple coils / write multiple registers.
  static constexpr uint8_t kWriteCoils = 15;
  static constexpr uint8_t kWriteRegisters = 16;

  // Whether the request writes the same points on the same connection, so a
  // newer write can take its place in the queue.
  bool IsSameTarget(int32_t hMaster, uint8_t slave, uint8_t function, uint16_t address,
                    uint16_t count) const {
    return m_hMaster == hMaster && m_nSlaveId == slave && m_nFunction == function &&
           m_nAddress == address && m_nCount == count;
  }

  int32_t m_hMaster = -1;
  uint8_t m_nSlaveId = 0;
  uint8_t m_nFunction = 0;
  // First point, 1-based as the data blocks count them.
  uint16_t m_nAddress = 0;
  uint16_t m_nCount = 0;
  // The first m_nCount words are sent.
  std::array<uint16_t, kMaxWords> m_data{};
};
