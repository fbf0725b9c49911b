// The data blocks every fuzz target serves, and the checks that each
// answer is well formed. A failed check aborts, so the fuzzer reports it.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/modbuswire.h"
#include "slavelink/RequestProcessor.h"
#include "slavelink/slavelink.h"

namespace fuzztable {

inline void Require(bool condition) {
  if (!condition) std::abort();
}

// Blocks of slave ids 1 and 2, every type, overlapping, one at the top of
// the point range, one far above point 5000.
inline void DefineOnce() {
  static bool done = false;
  if (done) return;
  done = true;
  static uint16_t coils[64], inputs[64], regs[200], inregs[50], high[3000], top[8], other[16];
  for (int i = 0; i < 200; ++i) regs[i] = static_cast<uint16_t>(i * 257);
  DefineDataBlock(1, 1, 1, 64, coils);
  DefineDataBlock(1, 2, 1, 64, inputs);
  DefineDataBlock(1, 3, 1, 200, regs);
  DefineDataBlock(1, 4, 1, 50, inregs);
  DefineDataBlock(1, 3, 4990, 3000, high);
  DefineDataBlock(1, 3, 65530, 6, top);
  DefineDataBlock(2, 3, 50, 16, other);
  DefineDataBlock(2, 1, 1, 16, other);
}

// Every RTU answer carries a valid CRC. Every ASCII answer is a line with
// a valid LRC, except the echo of function 8, which is the frame as it came.
inline void CheckSerialAnswer(const slavelink::Reply& reply, bool rtu, const uint8_t* frame, size_t length) {
  Require(reply.size <= slavelink::kAnswerBufferSize);
  if (reply.size == 0) return;
  if (rtu) {
    Require(modbuswire::CheckRtuFrame({reply.bytes.data(), reply.size}));
    return;
  }
  if (reply.size == length && std::memcmp(reply.bytes.data(), frame, length) == 0) return;
  Require(reply.size >= 11);
  Require(reply.bytes[reply.size - 2] == '\r' && reply.bytes[reply.size - 1] == '\n');
  std::vector<uint8_t> bytes;
  const auto text = reinterpret_cast<const char*>(reply.bytes.data());
  Require(modbuswire::DecodeAsciiFrame({text, reply.size}, bytes) == modbuswire::AsciiCheck::Ok);
}

}  // namespace fuzztable
