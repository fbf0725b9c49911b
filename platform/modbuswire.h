// Modbus wire formats shared by the slave library and the master library:
// the RTU check (CRC-16), the ASCII check (LRC) and framing, and the Modbus/TCP
// application header. Small pure functions over byte spans; nothing here
// owns a port or a socket.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace modbuswire {

// ---- byte order -----------------------------------------------------------

inline uint16_t GetU16BE(const uint8_t* p) {
  return static_cast<uint16_t>((static_cast<uint16_t>(p[0]) << 8) | p[1]);
}
inline void PutU16BE(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v >> 8);
  p[1] = static_cast<uint8_t>(v & 0xFF);
}

// ---- RTU --------------------------------------------------------------------

// Modbus CRC-16: start 0xFFFF, reflected polynomial 0xA001. On the wire the
// low byte goes first.
uint16_t Crc16(std::span<const uint8_t> bytes);

// Appends the CRC of everything already in `frame` (low byte, then high byte).
void AppendCrc(std::vector<uint8_t>& frame);

// Slave id, protocol data unit, CRC.
std::vector<uint8_t> BuildRtuFrame(uint8_t slaveId, std::span<const uint8_t> pdu);

// True when the frame is longer than two bytes and its last two bytes are
// the CRC (low byte first) of the bytes before them.
bool CheckRtuFrame(std::span<const uint8_t> frame);

// ---- ASCII ------------------------------------------------------------------

// Two's complement of the 8-bit sum of the bytes.
uint8_t Lrc(std::span<const uint8_t> bytes);

// Value of one hex digit; "0"-"9", "A"-"F", "a"-"f" are digits, any other
// character counts as 0 (lines are read leniently, the LRC catches noise).
uint8_t HexDigitValue(char c);
// Value of the pair of hex digits at p[0], p[1].
uint8_t HexPairValue(const char* p);
// The value of four hex digits, the first pair high.
uint16_t HexWordValue(const char* p);

// Appends the byte as two uppercase hex digits.
void AppendHexPair(std::string& text, uint8_t value);

// ":" + uppercase hex pairs of the bytes + LRC pair + CR LF. The bytes are the
// slave id followed by the data unit.
std::string EncodeAsciiFrame(std::span<const uint8_t> bytes);

enum class AsciiCheck {
  Ok,
  BadFormat,  // no leading ':', too short, or an odd number of hex digits
  BadLrc,
};

// Checks one received line: it begins with ':', is longer than 5 characters,
// ends in two characters taken to be CR LF (not looked at), and the pair just
// before them is the LRC of the hex pairs between ':' and it. On Ok, `bytes`
// holds the decoded slave id and data unit (without the LRC).
AsciiCheck DecodeAsciiFrame(std::span<const char> line, std::vector<uint8_t>& bytes);

// ---- Modbus/TCP ---------------------------------------------------------

constexpr size_t kMbapHeaderSize = 7;  // through the unit identifier

struct MbapHeader {
  uint16_t transactionId = 0;
  uint16_t protocolId = 0;
  uint16_t length = 0;  // bytes after the length field: unit id + data unit
  uint8_t unitId = 0;
};

// False when fewer than 7 bytes are given.
bool ParseMbapHeader(std::span<const uint8_t> bytes, MbapHeader& header);
// Writes the 7 header bytes to `out`.
void WriteMbapHeader(const MbapHeader& header, uint8_t* out);
// The whole frame: header (its length set from the data unit) + data unit.
std::vector<uint8_t> BuildMbapFrame(uint16_t transactionId, uint16_t protocolId, uint8_t unitId,
                                    std::span<const uint8_t> pdu);

// Bytes needed for the complete frame whose header starts `bytes`: 0 while
// fewer than 7 bytes are there, else length + 6.
size_t MbapFrameSize(std::span<const uint8_t> bytes);

}  // namespace modbuswire
