#include "platform/modbuswire.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

using namespace modbuswire;

namespace {
std::vector<uint8_t> Bytes(std::initializer_list<int> list) {
  std::vector<uint8_t> v;
  for (int b : list) v.push_back(static_cast<uint8_t>(b));
  return v;
}
std::span<const char> Text(const std::string& s) { return {s.data(), s.size()}; }
}  // namespace

TEST(ModbusWireRtu, CrcMatchesKnownFrames) {
  // Read two holding registers from slave 1: the CRC goes out as C4 0B.
  EXPECT_EQ(Crc16(Bytes({0x01, 0x03, 0x00, 0x00, 0x00, 0x02})), 0x0BC4);
  const char* check = "123456789";
  EXPECT_EQ(Crc16({reinterpret_cast<const uint8_t*>(check), 9}), 0x4B37);
  EXPECT_EQ(Crc16({}), 0xFFFF);
}

TEST(ModbusWireRtu, BuildAndCheck) {
  const auto frame = BuildRtuFrame(0x01, Bytes({0x03, 0x00, 0x00, 0x00, 0x02}));
  EXPECT_EQ(frame, Bytes({0x01, 0x03, 0x00, 0x00, 0x00, 0x02, 0xC4, 0x0B}));
  EXPECT_TRUE(CheckRtuFrame(frame));

  auto bad = frame;
  bad[7] ^= 0x01;
  EXPECT_FALSE(CheckRtuFrame(bad));
  bad = frame;
  bad[3] = 0x01;  // a data byte changed under an intact CRC
  EXPECT_FALSE(CheckRtuFrame(bad));

  // Too short to hold anything besides a CRC: never valid, even when the two
  // bytes happen to be the CRC of nothing (FF FF).
  EXPECT_FALSE(CheckRtuFrame(Bytes({0xFF, 0xFF})));
  EXPECT_FALSE(CheckRtuFrame(Bytes({0x01})));
  EXPECT_FALSE(CheckRtuFrame({}));
  // Three bytes: one byte plus its CRC is checkable.
  std::vector<uint8_t> one = {0x07};
  AppendCrc(one);
  EXPECT_TRUE(CheckRtuFrame(one));
}

TEST(ModbusWireAscii, LrcAndEncoding) {
  const auto pdu = Bytes({0x01, 0x03, 0x00, 0x00, 0x00, 0x02});
  EXPECT_EQ(Lrc(pdu), 0xFA);
  EXPECT_EQ(Lrc({}), 0x00);
  EXPECT_EQ(Lrc(Bytes({0x80, 0x80})), 0x00);  // the sum wraps at 8 bits
  EXPECT_EQ(EncodeAsciiFrame(pdu), ":010300000002FA\r\n");
  EXPECT_EQ(EncodeAsciiFrame(Bytes({0xAB, 0xCD})), ":ABCD88\r\n");
}

TEST(ModbusWireAscii, HexDigitsAreLenient) {
  EXPECT_EQ(HexPairValue("fA"), 0xFA);
  EXPECT_EQ(HexPairValue("09"), 0x09);
  EXPECT_EQ(HexPairValue("G1"), 0x01);  // not a digit: counts as 0
  EXPECT_EQ(HexPairValue("  "), 0x00);
  EXPECT_EQ(HexWordValue("1388"), 5000);
}

TEST(ModbusWireAscii, DecodeChecksTheLine) {
  std::vector<uint8_t> bytes;
  EXPECT_EQ(DecodeAsciiFrame(Text(":010300000002FA\r\n"), bytes), AsciiCheck::Ok);
  EXPECT_EQ(bytes, Bytes({0x01, 0x03, 0x00, 0x00, 0x00, 0x02}));
  EXPECT_EQ(DecodeAsciiFrame(Text(":010300000002fa\r\n"), bytes), AsciiCheck::Ok);
  // The last two characters are not looked at.
  EXPECT_EQ(DecodeAsciiFrame(Text(":010300000002FAxy"), bytes), AsciiCheck::Ok);

  EXPECT_EQ(DecodeAsciiFrame(Text(":010300000002FB\r\n"), bytes), AsciiCheck::BadLrc);
  EXPECT_TRUE(bytes.empty());
  EXPECT_EQ(DecodeAsciiFrame(Text("x:010300000002FA\r\n"), bytes), AsciiCheck::BadFormat);
  EXPECT_EQ(DecodeAsciiFrame(Text(":00\r\n"), bytes), AsciiCheck::BadFormat);  // 5 chars
  EXPECT_EQ(DecodeAsciiFrame(Text(":0103000000020FA\r\n"), bytes), AsciiCheck::BadFormat);
  EXPECT_EQ(DecodeAsciiFrame({}, bytes), AsciiCheck::BadFormat);
  // Six characters can never hold whole pairs; seven hold one byte.
  EXPECT_EQ(DecodeAsciiFrame(Text(":00\r\n\n"), bytes), AsciiCheck::BadFormat);
  EXPECT_EQ(DecodeAsciiFrame(Text(":0000\r\n"), bytes), AsciiCheck::Ok);
  EXPECT_EQ(bytes, Bytes({0x00}));
}

TEST(ModbusWireAscii, RoundTripsEveryByteValue) {
  std::vector<uint8_t> all(256);
  for (int i = 0; i < 256; ++i) all[i] = static_cast<uint8_t>(i);
  const std::string line = EncodeAsciiFrame(all);
  std::vector<uint8_t> back;
  ASSERT_EQ(DecodeAsciiFrame(Text(line), back), AsciiCheck::Ok);
  EXPECT_EQ(back, all);
}

TEST(ModbusWireTcp, HeaderParseBuildAndSize) {
  const auto frame = BuildMbapFrame(0x1234, 7, 0x11, Bytes({0x03, 0x00, 0x00, 0x00, 0x02}));
  EXPECT_EQ(frame, Bytes({0x12, 0x34, 0x00, 0x07, 0x00, 0x06, 0x11, 0x03, 0x00, 0x00, 0x00, 0x02}));
  MbapHeader h;
  ASSERT_TRUE(ParseMbapHeader(frame, h));
  EXPECT_EQ(h.transactionId, 0x1234);
  EXPECT_EQ(h.protocolId, 7);
  EXPECT_EQ(h.length, 6);
  EXPECT_EQ(h.unitId, 0x11);
  EXPECT_EQ(MbapFrameSize(frame), frame.size());

  uint8_t out[7];
  WriteMbapHeader(h, out);
  EXPECT_EQ(0, std::memcmp(out, frame.data(), 7));

  EXPECT_FALSE(ParseMbapHeader(std::span(frame).first(6), h));
  EXPECT_EQ(MbapFrameSize(std::span(frame).first(6)), 0u);
  // Length fields below 1 still need the whole 7-byte header; the largest
  // length asks for 65541 bytes.
  EXPECT_EQ(MbapFrameSize(Bytes({0, 0, 0, 0, 0, 0, 1})), 7u);
  EXPECT_EQ(MbapFrameSize(Bytes({0, 0, 0, 0, 0xFF, 0xFF, 1})), 65541u);
}
