// One contiguous range of Modbus points of one location, slave and point type,
// with a word per point holding the latest raw values.
//
// Remote blocks ("COMM1".."COMM9", a Modbus/TCP host) are filled by polling;
// "LOCAL" blocks are the memory of our own Modbus slave: their buffer is lent
// to the slave library, whose threads read and write it one aligned word at a
// time while the block lives. Only the user-interface thread creates, grows
// or deletes blocks.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

class CModbusDataBlock {
 public:
  // The most points one block may span after a merge.
  static constexpr int kMaxPoints = 100;
  // Status of a block whose location has no master connection.
  static constexpr int32_t kStatusNoConnection = 256;

  // A block over [start, start + count - 1] with a zeroed buffer. Check
  // IsAllocated(): the buffer is null when memory ran out.
  CModbusDataBlock(std::string location, uint8_t slave, uint8_t pointType, uint16_t start,
                   uint16_t count);
  // Withdraws the buffer from the slave library when it is lent, and then
  // frees it only after the same grace period as a merge.
  ~CModbusDataBlock();
  CModbusDataBlock(const CModbusDataBlock&) = delete;
  CModbusDataBlock& operator=(const CModbusDataBlock&) = delete;

  bool IsAllocated() const { return m_pData != nullptr; }
  bool IsLocal() const { return m_strLocation == "LOCAL"; }

  // True when the block lies on (location, slave, pointType) and holds every
  // point of [address, address + count - 1]. A count of 0 is never contained.
  bool Contains(std::string_view location, uint8_t slave, uint8_t pointType, uint16_t address,
                uint16_t count) const;

  // Offers a range to the block. Accepts it unchanged when already contained;
  // refuses it for another location, slave or point type, or when covering
  // both ranges would span more than kMaxPoints; otherwise grows to the
  // smallest range covering both, keeping the values at their points and
  // zeroing the new ones. A lent buffer is withdrawn from the slave library
  // (m_hSlaveBlock becomes -1) and freed only after a grace period, since a
  // library thread may be finishing a request in it; the block is served
  // again once DefineLocalBlocks lends the new buffer. On allocation failure
  // the block is left as it was and the range refused.
  bool Merge(std::string_view location, uint8_t slave, uint8_t pointType, uint16_t address,
             uint16_t count);

  // Removes the block from the slave library when it is lent there.
  void ReleaseSlaveBlock();

  // Last point of the block (start + count - 1), as a wide integer.
  int32_t EndAddress() const { return int32_t{m_nStartAddress} + m_nCount - 1; }

  // 0 = the buffer holds fresh values; kStatusNoConnection; anything else is
  // the failure code of the Modbus master library.
  int32_t m_nStatus = 0;
  // A polled block's words are only worth reading once a poll reply has filled
  // them: until then they are the zeros of creation (or, after growing, of the
  // new points), not values of the plant. Set by a successful read reply,
  // cleared when a remote block is created or grows.
  bool m_bPolled = false;
  std::string m_strLocation;
  uint8_t m_nSlaveId = 0;
  uint8_t m_nPointType = 0;
  uint16_t m_nStartAddress = 0;
  uint16_t m_nCount = 0;
  // The block's handle in the slave library ("LOCAL" only); -1 = not lent.
  int32_t m_hSlaveBlock = -1;
  // m_nCount words, one per point; a bit point holds 0 or 1.
  std::unique_ptr<uint16_t[]> m_pData;
};
