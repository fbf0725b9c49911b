#include "slavelink/RequestProcessor.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/modbuswire.h"

namespace slavelink {

using modbuswire::GetU16BE;
using modbuswire::PutU16BE;

namespace {

struct Request {
  LinkKind link;
  uint8_t unit;                    // slave id or unit identifier
  std::span<const uint8_t> pdu;    // function code onward, without check characters
  std::span<const uint8_t> raw;    // the frame as received (serial echoes)
  uint32_t options = 0;            // serial only
  uint16_t transactionId = 0;      // TCP only
  uint16_t protocolId = 0;
};

bool IsSerial(const Request& rq) { return rq.link != LinkKind::Tcp; }

constexpr char kHex[] = "0123456789ABCDEF";

// ':' + hex pairs + LRC + CR LF, written straight into the reply.
void WriteAsciiLine(std::span<const uint8_t> head, std::span<const uint8_t> body, Reply& reply) {
  uint8_t* out = reply.bytes.data();
  size_t n = 0;
  uint8_t sum = 0;
  out[n++] = ':';
  for (auto part : {head, body}) {
    for (uint8_t b : part) {
      out[n++] = static_cast<uint8_t>(kHex[b >> 4]);
      out[n++] = static_cast<uint8_t>(kHex[b & 0x0F]);
      sum = static_cast<uint8_t>(sum + b);
    }
  }
  const uint8_t lrc = static_cast<uint8_t>(-sum);
  out[n++] = static_cast<uint8_t>(kHex[lrc >> 4]);
  out[n++] = static_cast<uint8_t>(kHex[lrc & 0x0F]);
  out[n++] = '\r';
  out[n++] = '\n';
  reply.size = n;
}

// A normal answer carrying the data unit `pdu` (function code onward).
void FrameAnswer(const Request& rq, std::span<const uint8_t> pdu, Reply& reply) {
  uint8_t* out = reply.bytes.data();
  switch (rq.link) {
    case LinkKind::Rtu: {
      out[0] = rq.unit;
      std::memcpy(out + 1, pdu.data(), pdu.size());
      const size_t n = pdu.size() + 1;
      const uint16_t crc = modbuswire::Crc16({out, n});
      out[n] = static_cast<uint8_t>(crc & 0xFF);
      out[n + 1] = static_cast<uint8_t>(crc >> 8);
      reply.size = n + 2;
      break;
    }
    case LinkKind::Ascii: {
      const uint8_t unit[1] = {rq.unit};
      WriteAsciiLine(unit, pdu, reply);
      break;
    }
    case LinkKind::Tcp: {
      modbuswire::MbapHeader header;
      header.transactionId = rq.transactionId;
      header.protocolId = rq.protocolId;
      header.length = static_cast<uint16_t>(pdu.size() + 1);
      header.unitId = rq.unit;
      modbuswire::WriteMbapHeader(header, out);
      std::memcpy(out + modbuswire::kMbapHeaderSize, pdu.data(), pdu.size());
      reply.size = modbuswire::kMbapHeaderSize + pdu.size();
      break;
    }
  }
}

void FrameException(const Request& rq, uint8_t code, Reply& reply) {
  // The serial links add 0x80 (so function 0x87 comes back as 0x07); TCP sets
  // the bit. Masters have seen both for decades; keep each as it is.
  const uint8_t function = rq.pdu[0];
  const uint8_t pdu[2] = {
      static_cast<uint8_t>(IsSerial(rq) ? function + 0x80 : function | 0x80), code};
  FrameAnswer(rq, pdu, reply);
}

// The first `n` units of the received frame, unchanged.
void EchoRaw(const Request& rq, size_t n, Reply& reply) {
  n = std::min(n, rq.raw.size());
  std::memcpy(reply.bytes.data(), rq.raw.data(), n);
  reply.size = n;
}

// Slave id, function and the four bytes after it as received, with a new
// check: the answer to functions 15 and 16, and to 5 and 6 when the frame
// cannot be echoed whole.
void EchoWriteHead(const Request& rq, Reply& reply) {
  switch (rq.link) {
    case LinkKind::Rtu:
      EchoRaw(rq, 6, reply);
      {
        const uint16_t crc = modbuswire::Crc16({reply.bytes.data(), 6});
        reply.bytes[6] = static_cast<uint8_t>(crc & 0xFF);
        reply.bytes[7] = static_cast<uint8_t>(crc >> 8);
        reply.size = 8;
      }
      break;
    case LinkKind::Ascii: {
      // ':' and the 12 hex digits as received, a new LRC over their bytes.
      EchoRaw(rq, 13, reply);
      uint8_t sum = rq.unit;
      for (int i = 0; i < 5; ++i) sum = static_cast<uint8_t>(sum + rq.pdu[i]);
      const uint8_t lrc = static_cast<uint8_t>(-sum);
      reply.bytes[13] = static_cast<uint8_t>(kHex[lrc >> 4]);
      reply.bytes[14] = static_cast<uint8_t>(kHex[lrc & 0x0F]);
      reply.bytes[15] = '\r';
      reply.bytes[16] = '\n';
      reply.size = 17;
      break;
    }
    case LinkKind::Tcp:
      FrameAnswer(rq, rq.pdu.first(5), reply);
      break;
  }
}

// Quantity of a request, doubled above point 5000 for functions 3, 4 and 16
// on a serial link whose options are set. Wider than 16 bits on purpose: a
// doubled 0x8000 must stay too large rather than wrap to 0.
uint32_t EffectiveQuantity(const Request& rq, uint16_t point) {
  uint32_t quantity = GetU16BE(&rq.pdu[3]);
  const uint8_t function = rq.pdu[0];
  if (IsSerial(rq) && rq.options != 0 && point > 5000 &&
      (function == 3 || function == 4 || function == 16)) {
    quantity *= 2;
  }
  return quantity;
}

void HandleRead(const Request& rq, Reply& reply) {
  if (rq.pdu.size() < 5) return;  // no address or quantity: not a request
  const uint8_t function = rq.pdu[0];
  const uint16_t point = static_cast<uint16_t>(GetU16BE(&rq.pdu[1]) + 1);
  const uint32_t quantity = EffectiveQuantity(rq, point);
  const bool bits = function <= 2;
  const uint32_t dataBytes = bits ? (quantity + 7) / 8 : 2 * quantity;

  bool tooLong = false;
  switch (rq.link) {
    case LinkKind::Rtu: tooLong = dataBytes + 5 > 2025; break;
    // The ASCII register limit counts 8 characters a register (252 at most),
    // stricter than the answer needs; masters are configured around it.
    case LinkKind::Ascii: tooLong = (bits ? 2 * dataBytes : 8 * quantity) + 9 > 2025; break;
    case LinkKind::Tcp: tooLong = modbuswire::kMbapHeaderSize + 2 + dataBytes > kAnswerBufferSize; break;
  }
  if (tooLong) return FrameException(rq, kIllegalDataAddress, reply);

  std::array<uint8_t, kAnswerBufferSize> pdu;
  pdu[0] = function;
  pdu[1] = static_cast<uint8_t>(dataBytes & 0xFF);
  uint8_t* data = pdu.data() + 2;
  // Every answerable quantity fits in the answer buffer, so the words fit too.
  std::array<uint16_t, 8 * kAnswerBufferSize> words;
  if (ReadPoints(rq.unit, function, point, quantity, words.data()) != quantity) {
    return FrameException(rq, kIllegalDataAddress, reply);
  }
  if (bits) {
    std::memset(data, 0, dataBytes);  // spare high bits of the last byte stay 0
    for (uint32_t i = 0; i < quantity; ++i) {
      if (words[i] != 0) data[i / 8] = static_cast<uint8_t>(data[i / 8] | (1u << (i % 8)));
    }
  } else {
    for (uint32_t i = 0; i < quantity; ++i) PutU16BE(data + 2 * i, words[i]);
  }
  FrameAnswer(rq, std::span<const uint8_t>(pdu.data(), 2 + dataBytes), reply);
}

void HandleSingleWrite(const Request& rq, Reply& reply) {
  if (rq.pdu.size() < 5) return;
  const uint8_t function = rq.pdu[0];
  const uint16_t point = static_cast<uint16_t>(GetU16BE(&rq.pdu[1]) + 1);
  const uint16_t raw = GetU16BE(&rq.pdu[3]);
  const bool broadcast = IsSerial(rq) && rq.unit == 0;
  uint16_t value = raw;
  uint8_t type = 3;
  if (function == 5) {
    type = 1;
    // The serial links take any non-zero value as ON, the TCP server only
    // the high byte; 0xFF00 and 0x0000 mean the same on both.
    value = IsSerial(rq) ? (raw != 0) : ((raw >> 8) != 0);
  }
  if (!WritePoint(rq.unit, type, point, value)) {
    if (!broadcast) FrameException(rq, kIllegalDataAddress, reply);
    return;
  }
  if (!broadcast) {
    // A serial echo is the received frame itself. A frame with bytes beyond
    // the value would leave its first 8 bytes (17 characters) without a
    // valid check, so such a frame gets its head with a fresh one.
    const size_t whole = rq.link == LinkKind::Rtu ? 8 : 17;
    if (IsSerial(rq) && rq.raw.size() == whole) {
      EchoRaw(rq, whole, reply);
    } else {
      EchoWriteHead(rq, reply);
    }
  }
  reply.notify = true;
}

void HandleMultipleWrite(const Request& rq, Reply& reply) {
  if (rq.pdu.size() < 5) return;
  const uint8_t function = rq.pdu[0];
  const uint16_t point = static_cast<uint16_t>(GetU16BE(&rq.pdu[1]) + 1);
  const uint32_t quantity = EffectiveQuantity(rq, point);
  const bool broadcast = IsSerial(rq) && rq.unit == 0;
  const bool coils = function == 15;

  // The byte count field is not trusted; what counts is what arrived. A
  // request short of data writes nothing rather than reading past the frame.
  const size_t needed = coils ? (quantity + 7) / 8 : 2 * static_cast<size_t>(quantity);
  const size_t available = rq.pdu.size() > 6 ? rq.pdu.size() - 6 : 0;
  if (available < needed) {
    if (!broadcast) FrameException(rq, kIllegalDataAddress, reply);
    return;
  }
  const uint8_t* data = rq.pdu.data() + 6;
  for (uint32_t i = 0; i < quantity; ++i) {
    const uint16_t value = coils ? static_cast<uint16_t>((data[i / 8] >> (i % 8)) & 1)
                                 : GetU16BE(data + 2 * i);
    if (!WritePoint(rq.unit, coils ? 1 : 3, static_cast<uint16_t>(point + i), value)) {
      if (!broadcast) FrameException(rq, kIllegalDataAddress, reply);
      return;
    }
  }
  if (!broadcast) EchoWriteHead(rq, reply);
  reply.notify = true;
}

void HandleDiagnostics(const Request& rq, Reply& reply) {
  if (IsSerial(rq)) return EchoRaw(rq, rq.raw.size(), reply);
  if (rq.pdu.size() < 5) return;
  FrameAnswer(rq, rq.pdu.first(5), reply);
}

void Process(const Request& rq, Reply& reply) {
  reply.size = 0;
  reply.notify = false;
  if (rq.pdu.empty()) return;  // a unit id without a function code
  switch (rq.pdu[0]) {
    case 1: case 2: case 3: case 4: return HandleRead(rq, reply);
    case 5: case 6: return HandleSingleWrite(rq, reply);
    case 15: case 16: return HandleMultipleWrite(rq, reply);
    case 8: return HandleDiagnostics(rq, reply);
    default: return FrameException(rq, kIllegalFunction, reply);
  }
}

}  // namespace

bool AcceptsSerialRequest(uint8_t slaveId, uint8_t functionCode) {
  if (slaveId == 0) {
    return functionCode == 5 || functionCode == 6 || functionCode == 15 || functionCode == 16;
  }
  for (const DataBlock& block : State().m_table) {
    // Only defined entries are blocks; a removed one no longer speaks for its id.
    if (block.m_nPointType.load(std::memory_order_acquire) != 0 &&
        block.m_nSlaveId.load(std::memory_order_relaxed) == slaveId &&
        block.m_nActive.load(std::memory_order_relaxed) != 0) {
      return true;
    }
  }
  return false;
}

void HandleRtuFrame(SlavePort& port, std::span<const uint8_t> frame, Reply& reply) {
  reply.size = 0;
  reply.notify = false;
  if (!modbuswire::CheckRtuFrame(frame)) {
    port.m_nBadMessages.fetch_add(1, std::memory_order_relaxed);
    return;
  }
  port.m_nGoodMessages.fetch_add(1, std::memory_order_relaxed);
  if (frame.size() < 4) return;  // a slave id and its CRC, nothing to do
  if (!AcceptsSerialRequest(frame[0], frame[1])) return;
  Request rq{LinkKind::Rtu, frame[0], frame.subspan(1, frame.size() - 3), frame};
  rq.options = port.m_nOptions.load(std::memory_order_relaxed);
  Process(rq, reply);
}

void HandleAsciiFrame(SlavePort& port, std::span<const uint8_t> frame, Reply& reply) {
  reply.size = 0;
  reply.notify = false;
  std::vector<uint8_t> bytes;
  const auto text = std::span<const char>(reinterpret_cast<const char*>(frame.data()), frame.size());
  if (modbuswire::DecodeAsciiFrame(text, bytes) != modbuswire::AsciiCheck::Ok) {
    port.m_nBadMessages.fetch_add(1, std::memory_order_relaxed);
    return;
  }
  if (bytes.size() < 2) return;  // no function code: nothing to accept
  if (!AcceptsSerialRequest(bytes[0], bytes[1])) return;
  port.m_nGoodMessages.fetch_add(1, std::memory_order_relaxed);
  Request rq{LinkKind::Ascii, bytes[0], std::span<const uint8_t>(bytes).subspan(1), frame};
  rq.options = port.m_nOptions.load(std::memory_order_relaxed);
  Process(rq, reply);
}

void HandleTcpRequest(std::span<const uint8_t> request, Reply& reply) {
  reply.size = 0;
  reply.notify = false;
  modbuswire::MbapHeader header;
  if (!modbuswire::ParseMbapHeader(request, header)) return;
  const size_t end = std::min(request.size(), static_cast<size_t>(header.length) + 6);
  Request rq{LinkKind::Tcp, header.unitId,
             request.subspan(modbuswire::kMbapHeaderSize, end > 7 ? end - 7 : 0), request};
  rq.transactionId = header.transactionId;
  rq.protocolId = header.protocolId;
  Process(rq, reply);
}

}  // namespace slavelink
