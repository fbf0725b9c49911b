#include "masterlink/MasterPdu.h"

#include "platform/modbuswire.h"

namespace masterlink {

using modbuswire::GetU16BE;
using modbuswire::PutU16BE;

namespace {

bool IsBitRead(uint8_t function) { return function == 1 || function == 2; }
bool IsRegisterRead(uint8_t function) { return function == 3 || function == 4; }

uint16_t ProtocolAddress(const ModbusRequestHeader& header) {
  return static_cast<uint16_t>(header.nAddress - 1);
}

size_t ReadDataBytes(const ModbusRequestHeader& header) {
  return IsBitRead(header.nFunction) ? (header.nCount + 7u) / 8u : header.nCount * 2u;
}

}  // namespace

int32_t ValidateRequest(const ModbusRequestHeader& header) {
  // Point 0 has no protocol address, and a run may not wrap past point 65536.
  if (header.nAddress == 0 || header.nCount == 0) return MLERR_BAD_REQUEST;
  if (header.nAddress + header.nCount - 1 > 65536) return MLERR_BAD_REQUEST;
  switch (header.nFunction) {
    case 1:
    case 2:
      if (header.nCount > MASTERLINK_MAX_READ_BITS) return MLERR_BAD_REQUEST;
      break;
    case 3:
    case 4:
      if (header.nCount > MASTERLINK_MAX_READ_REGISTERS) return MLERR_BAD_REQUEST;
      break;
    case 15:
      if (header.nCount > MASTERLINK_MAX_WRITE_BITS) return MLERR_BAD_REQUEST;
      return 0;
    case 16:
      if (header.nCount > MASTERLINK_MAX_WRITE_REGISTERS) return MLERR_BAD_REQUEST;
      return 0;
    default:
      return MLERR_BAD_REQUEST;
  }
  // Nobody answers a broadcast read.
  return header.nSlaveId == 0 ? MLERR_BAD_REQUEST : 0;
}

std::vector<uint8_t> BuildRequestPdu(const ModbusRequestHeader& header, const uint16_t* data) {
  std::vector<uint8_t> pdu(5);
  pdu[0] = header.nFunction;
  PutU16BE(&pdu[1], ProtocolAddress(header));
  PutU16BE(&pdu[3], header.nCount);
  if (header.nFunction == 15) {
    const size_t bytes = (header.nCount + 7u) / 8u;
    pdu.push_back(static_cast<uint8_t>(bytes));
    const size_t first = pdu.size();
    pdu.resize(first + bytes, 0);
    for (uint16_t i = 0; i < header.nCount; ++i) {
      if (data[i] != 0) pdu[first + i / 8] |= static_cast<uint8_t>(1u << (i % 8));
    }
  } else if (header.nFunction == 16) {
    pdu.push_back(static_cast<uint8_t>(header.nCount * 2));
    const size_t first = pdu.size();
    pdu.resize(first + header.nCount * 2u);
    for (uint16_t i = 0; i < header.nCount; ++i) PutU16BE(&pdu[first + 2u * i], data[i]);
  }
  return pdu;
}

size_t ExpectedReplyPduSize(const ModbusRequestHeader& header, std::span<const uint8_t> pdu) {
  if (pdu.empty()) return 0;
  const uint8_t function = pdu[0];
  if (function == (header.nFunction | 0x80)) return 2;
  if (function != header.nFunction) return pdu.size();
  if (function == 15 || function == 16) return 5;
  if (pdu.size() < 2) return 0;
  return 2u + pdu[1];
}

int32_t DecodeReplyPdu(const ModbusRequestHeader& header, std::span<const uint8_t> pdu,
                       std::vector<uint16_t>& words) {
  words.clear();
  if (pdu.size() == 2 && pdu[0] == (header.nFunction | 0x80)) return MLERR_EXCEPTION(pdu[1]);
  if (pdu.empty() || pdu[0] != header.nFunction) return MLERR_MISMATCH;
  if (header.nFunction == 15 || header.nFunction == 16) {
    // The slave echoes where and how much it wrote.
    if (pdu.size() != 5 || GetU16BE(&pdu[1]) != ProtocolAddress(header) ||
        GetU16BE(&pdu[3]) != header.nCount) {
      return MLERR_MISMATCH;
    }
    return 0;
  }
  const size_t dataBytes = ReadDataBytes(header);
  if (pdu.size() != 2 + dataBytes || pdu[1] != dataBytes) return MLERR_MISMATCH;
  const uint8_t* data = &pdu[2];
  words.resize(header.nCount);
  for (uint16_t i = 0; i < header.nCount; ++i) {
    words[i] = IsRegisterRead(header.nFunction) ? GetU16BE(&data[2u * i])
                                                : static_cast<uint16_t>((data[i / 8] >> (i % 8)) & 1u);
  }
  return 0;
}

}  // namespace masterlink
