#include "platform/modbuswire.h"

#include <algorithm>

namespace modbuswire {

uint16_t Crc16(std::span<const uint8_t> bytes) {
  uint16_t crc = 0xFFFF;
  for (uint8_t b : bytes) {
    crc ^= b;
    for (int bit = 0; bit < 8; ++bit) {
      const bool carry = (crc & 1) != 0;
      crc >>= 1;
      if (carry) crc ^= 0xA001;
    }
  }
  return crc;
}

void AppendCrc(std::vector<uint8_t>& frame) {
  const uint16_t crc = Crc16(frame);
  frame.push_back(static_cast<uint8_t>(crc & 0xFF));
  frame.push_back(static_cast<uint8_t>(crc >> 8));
}

std::vector<uint8_t> BuildRtuFrame(uint8_t slaveId, std::span<const uint8_t> pdu) {
  std::vector<uint8_t> frame;
  frame.reserve(pdu.size() + 3);
  frame.push_back(slaveId);
  frame.insert(frame.end(), pdu.begin(), pdu.end());
  AppendCrc(frame);
  return frame;
}

bool CheckRtuFrame(std::span<const uint8_t> frame) {
  if (frame.size() <= 2) return false;
  const size_t n = frame.size() - 2;
  const uint16_t crc = Crc16(frame.first(n));
  return frame[n] == (crc & 0xFF) && frame[n + 1] == (crc >> 8);
}

uint8_t Lrc(std::span<const uint8_t> bytes) {
  uint8_t sum = 0;
  for (uint8_t b : bytes) sum = static_cast<uint8_t>(sum + b);
  return static_cast<uint8_t>(-sum);
}

uint8_t HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return static_cast<uint8_t>(c - '0');
  if (c >= 'A' && c <= 'F') return static_cast<uint8_t>(c - 'A' + 10);
  if (c >= 'a' && c <= 'f') return static_cast<uint8_t>(c - 'a' + 10);
  return 0;
}

uint8_t HexPairValue(const char* p) {
  return static_cast<uint8_t>((HexDigitValue(p[0]) << 4) | HexDigitValue(p[1]));
}

uint16_t HexWordValue(const char* p) {
  return static_cast<uint16_t>((HexPairValue(p) << 8) | HexPairValue(p + 2));
}

void AppendHexPair(std::string& text, uint8_t value) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  text.push_back(kDigits[value >> 4]);
  text.push_back(kDigits[value & 0x0F]);
}

std::string EncodeAsciiFrame(std::span<const uint8_t> bytes) {
  std::string text;
  text.reserve(bytes.size() * 2 + 5);
  text.push_back(':');
  for (uint8_t b : bytes) AppendHexPair(text, b);
  AppendHexPair(text, Lrc(bytes));
  text += "\r\n";
  return text;
}

AsciiCheck DecodeAsciiFrame(std::span<const char> line, std::vector<uint8_t>& bytes) {
  bytes.clear();
  if (line.size() <= 5 || line[0] != ':') return AsciiCheck::BadFormat;
  // ':' + pairs + LRC pair + CR LF: the pairs fill line[1 .. size-5].
  const size_t lrcAt = line.size() - 4;
  const size_t digits = lrcAt - 1;
  if (digits % 2 != 0) return AsciiCheck::BadFormat;
  bytes.reserve(digits / 2);
  for (size_t i = 1; i < lrcAt; i += 2) bytes.push_back(HexPairValue(&line[i]));
  if (HexPairValue(&line[lrcAt]) != Lrc(bytes)) {
    bytes.clear();
    return AsciiCheck::BadLrc;
  }
  return AsciiCheck::Ok;
}

bool ParseMbapHeader(std::span<const uint8_t> bytes, MbapHeader& header) {
  if (bytes.size() < kMbapHeaderSize) return false;
  header.transactionId = GetU16BE(&bytes[0]);
  header.protocolId = GetU16BE(&bytes[2]);
  header.length = GetU16BE(&bytes[4]);
  header.unitId = bytes[6];
  return true;
}

void WriteMbapHeader(const MbapHeader& header, uint8_t* out) {
  PutU16BE(out, header.transactionId);
  PutU16BE(out + 2, header.protocolId);
  PutU16BE(out + 4, header.length);
  out[6] = header.unitId;
}

std::vector<uint8_t> BuildMbapFrame(uint16_t transactionId, uint16_t protocolId, uint8_t unitId,
                                    std::span<const uint8_t> pdu) {
  std::vector<uint8_t> frame(kMbapHeaderSize + pdu.size());
  MbapHeader header;
  header.transactionId = transactionId;
  header.protocolId = protocolId;
  header.length = static_cast<uint16_t>(pdu.size() + 1);
  header.unitId = unitId;
  WriteMbapHeader(header, frame.data());
  std::copy(pdu.begin(), pdu.end(), frame.begin() + kMbapHeaderSize);
  return frame;
}

size_t MbapFrameSize(std::span<const uint8_t> bytes) {
  MbapHeader header;
  if (!ParseMbapHeader(bytes, header)) return 0;
  return std::max<size_t>(kMbapHeaderSize, static_cast<size_t>(header.length) + 6);
}

}  // namespace modbuswire
