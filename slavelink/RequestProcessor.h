// The slave's application layer: one complete request in, at most one answer
// out, framed for the link it came from. Links differ in acceptance, limits,
// coil values, echoes and counting; those differences are kept here in one
// place so the three links share everything else.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "slavelink/SlaveState.h"

namespace slavelink {

enum class LinkKind { Rtu, Ascii, Tcp };

// Every answer fits in 2028 bytes; reads that would not are refused.
constexpr size_t kAnswerBufferSize = 2028;

enum : uint8_t { kIllegalFunction = 1, kIllegalDataAddress = 2 };

struct Reply {
  std::array<uint8_t, kAnswerBufferSize> bytes;  // only the first `size` are meaningful
  size_t size = 0;      // 0 = no answer
  bool notify = false;  // a write was carried out: post notifications after sending
};

// Checks and answers a frame of a serial link: the RTU frame with its CRC, or
// the ASCII line from ':' to LF. Raises the port's counters as each link
// counts them.
void HandleRtuFrame(SlavePort& port, std::span<const uint8_t> frame, Reply& reply);
void HandleAsciiFrame(SlavePort& port, std::span<const uint8_t> frame, Reply& reply);

// Answers one complete Modbus/TCP request (header and data unit). The caller
// has counted it.
void HandleTcpRequest(std::span<const uint8_t> request, Reply& reply);

// Serial acceptance: a slave id is answered while one of its blocks is
// active; broadcasts (slave id 0) are taken for the write functions only.
bool AcceptsSerialRequest(uint8_t slaveId, uint8_t functionCode);

}  // namespace slavelink
