// Request processing on the three links, driven frame by frame without ports
// or sockets.
#include <gtest/gtest.h>

#include <numeric>
#include <random>
#include <thread>
#include <atomic>
#include <algorithm>

#include "SlaveTestSupport.h"
#include "slavelink/RequestProcessor.h"

using namespace slavetest;
using slavelink::HandleAsciiFrame;
using slavelink::HandleRtuFrame;
using slavelink::HandleTcpRequest;
using slavelink::Reply;
using slavelink::SlavePort;

namespace {

class Requests : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetLibrary();
    EnableCallback(&WriteRecorder::Callback);
  }
  void TearDown() override { ResetLibrary(); }

  Bytes Answer(const Reply& r) const { return Bytes(r.bytes.begin(), r.bytes.begin() + r.size); }
  Bytes RtuAnswer(const Bytes& frame) {
    Reply r;
    HandleRtuFrame(m_port, frame, r);
    m_notify = r.notify;
    return Answer(r);
  }
  Bytes AsciiAnswer(const Bytes& frame) {
    Reply r;
    HandleAsciiFrame(m_port, frame, r);
    m_notify = r.notify;
    return Answer(r);
  }
  Bytes TcpAnswer(uint8_t unit, const Bytes& pdu, uint16_t tid = 0x0102, uint16_t pid = 0) {
    Reply r;
    HandleTcpRequest(modbuswire::BuildMbapFrame(tid, pid, unit, pdu), r);
    m_notify = r.notify;
    return Answer(r);
  }
  int32_t Good() const { return m_port.m_nGoodMessages.load(); }
  int32_t Bad() const { return m_port.m_nBadMessages.load(); }

  SlavePort m_port;
  bool m_notify = false;
};

}  // namespace

TEST_F(Requests, ReadsRegistersAndAnswersInEachFraming) {
  std::vector<uint16_t> words = {100, 0xBEEF, 3, 4, 5, 6, 7, 8, 9, 10};
  ASSERT_EQ(DefineDataBlock(1, 3, 1, 10, words.data()), 1);

  EXPECT_EQ(RtuAnswer(Rtu({1, 3, 0, 0, 0, 2})), Rtu({1, 3, 4, 0, 100, 0xBE, 0xEF}));
  EXPECT_EQ(AsciiAnswer(Ascii({1, 3, 0, 0, 0, 2})), Ascii({1, 3, 4, 0, 100, 0xBE, 0xEF}));
  EXPECT_EQ(TcpAnswer(1, B({3, 0, 0, 0, 2}), 0x1234, 7),
            B({0x12, 0x34, 0, 7, 0, 7, 1, 3, 4, 0, 100, 0xBE, 0xEF}));
  // Address 9 is point 10, the block's last; address 10 is outside.
  EXPECT_EQ(RtuAnswer(Rtu({1, 3, 0, 9, 0, 1})), Rtu({1, 3, 2, 0, 10}));
  EXPECT_EQ(RtuAnswer(Rtu({1, 3, 0, 10, 0, 1})), Rtu({1, 0x83, 2}));
  EXPECT_EQ(RtuAnswer(Rtu({1, 3, 0, 8, 0, 3})), Rtu({1, 0x83, 2}));
  EXPECT_EQ(AsciiAnswer(Ascii({1, 3, 0, 10, 0, 1})).size(), 11u);
  EXPECT_EQ(TcpAnswer(1, B({3, 0, 10, 0, 1}), 0xAAAA, 9), B({0xAA, 0xAA, 0, 9, 0, 3, 1, 0x83, 2}));
  // Input registers are another type: not found in a holding register block.
  EXPECT_EQ(RtuAnswer(Rtu({1, 4, 0, 0, 0, 1})), Rtu({1, 0x84, 2}));
}

TEST_F(Requests, PacksBitsLowFirstAndLeavesSpareBitsClear) {
  // Coils 1..10: ON at 1, 3, 9 and 10 (any non-zero word is ON).
  std::vector<uint16_t> coils = {1, 0, 7, 0, 0, 0, 0, 0, 0xFFFF, 1};
  ASSERT_EQ(DefineDataBlock(2, 1, 1, 10, coils.data()), 1);
  EXPECT_EQ(RtuAnswer(Rtu({2, 1, 0, 0, 0, 10})), Rtu({2, 1, 2, 0x05, 0x03}));
  // From address 2 (coil 3) for 8 coils: 3 ON, 4..8 OFF, 9 and 10 ON.
  EXPECT_EQ(RtuAnswer(Rtu({2, 1, 0, 2, 0, 8})), Rtu({2, 1, 1, 0xC1}));

  // A block that covers only 9 of the 10 coils asked for: exception, no data.
  std::vector<uint16_t> inputs(9, 1);
  ASSERT_EQ(DefineDataBlock(2, 2, 1, 9, inputs.data()), 2);
  EXPECT_EQ(RtuAnswer(Rtu({2, 2, 0, 0, 0, 10})), Rtu({2, 0x82, 2}));
  EXPECT_EQ(RtuAnswer(Rtu({2, 2, 0, 0, 0, 9})), Rtu({2, 2, 2, 0xFF, 0x01}));
}

TEST_F(Requests, ByteCountKeepsItsLowEightBitsOnly) {
  std::vector<uint16_t> words(2000);
  std::iota(words.begin(), words.end(), 0);
  ASSERT_EQ(DefineDataBlock(1, 3, 1, 2000, words.data()), 1);
  const Bytes a = RtuAnswer(Rtu({1, 3, 0, 0, 0, 200}));
  ASSERT_EQ(a.size(), 3u + 400u + 2u);
  EXPECT_EQ(a[2], 144);  // 400 modulo 256
  EXPECT_EQ(a[3 + 2 * 199], 0);
  EXPECT_EQ(a[4 + 2 * 199], 199);
  EXPECT_TRUE(modbuswire::CheckRtuFrame(a));
}

TEST_F(Requests, ReadLimitsOfEachLink) {
  std::vector<uint16_t> words(20000, 0x0101);
  ASSERT_EQ(DefineDataBlock(1, 3, 1, 20000, words.data()), 1);
  ASSERT_EQ(DefineDataBlock(1, 1, 1, 20000, words.data()), 2);

  // RTU: 1010 registers fit, 1011 do not.
  EXPECT_EQ(RtuAnswer(Rtu({1, 3, 0, 0, 0x03, 0xF2})).size(), 2025u);
  EXPECT_EQ(RtuAnswer(Rtu({1, 3, 0, 0, 0x03, 0xF3})), Rtu({1, 0x83, 2}));
  // ASCII: 252 and 253.
  EXPECT_EQ(AsciiAnswer(Ascii({1, 3, 0, 0, 0, 252})).size(), 1u + 2u * (3 + 504) + 4u);
  EXPECT_EQ(AsciiAnswer(Ascii({1, 3, 0, 0, 0, 253})), Ascii({1, 0x83, 2}));
  // Bits: RTU up to 2020 data bytes (16160 coils), ASCII up to 1008 (8064).
  EXPECT_EQ(RtuAnswer(Rtu({1, 1, 0, 0, 16160 >> 8, 16160 & 0xFF})).size(), 2025u);
  EXPECT_EQ(RtuAnswer(Rtu({1, 1, 0, 0, 16161 >> 8, 16161 & 0xFF})), Rtu({1, 0x81, 2}));
  EXPECT_EQ(AsciiAnswer(Ascii({1, 1, 0, 0, 8064 >> 8, 8064 & 0xFF})).size(), 1u + 2u * 1011 + 4u);
  EXPECT_EQ(AsciiAnswer(Ascii({1, 1, 0, 0, 8065 >> 8, 8065 & 0xFF})), Ascii({1, 0x81, 2}));
  // TCP: the answer must fit its 2028-byte buffer: 1009 registers, 16152 bits.
  EXPECT_EQ(TcpAnswer(1, B({3, 0, 0, 0x03, 0xF1})).size(), 9u + 2018u);
  EXPECT_EQ(TcpAnswer(1, B({3, 0, 0, 0x03, 0xF2})), B({1, 2, 0, 0, 0, 3, 1, 0x83, 2}));
  EXPECT_EQ(TcpAnswer(1, B({3, 0, 0, 0xFF, 0xFF})), B({1, 2, 0, 0, 0, 3, 1, 0x83, 2}));
  EXPECT_EQ(TcpAnswer(1, B({1, 0, 0, 16152 >> 8, 16152 & 0xFF})).size(), 9u + 2019u);
  EXPECT_EQ(TcpAnswer(1, B({1, 0, 0, 16153 >> 8, 16153 & 0xFF})), B({1, 2, 0, 0, 0, 3, 1, 0x81, 2}));
}

TEST_F(Requests, OverlappingBlocksReadFirstAndWriteAll) {
  std::vector<uint16_t> first = {11, 12, 13, 14};
  std::vector<uint16_t> second = {21, 22, 23, 24};
  ASSERT_EQ(DefineDataBlock(1, 3, 1, 4, first.data()), 1);
  ASSERT_EQ(DefineDataBlock(1, 3, 3, 4, second.data()), 2);  // points 3..6
  EXPECT_EQ(RtuAnswer(Rtu({1, 3, 0, 2, 0, 4})), Rtu({1, 3, 8, 0, 13, 0, 14, 0, 23, 0, 24}));

  EXPECT_EQ(RtuAnswer(Rtu({1, 6, 0, 3, 0x12, 0x34})), Rtu({1, 6, 0, 3, 0x12, 0x34}));
  EXPECT_EQ(Peek(first[3]), 0x1234);
  EXPECT_EQ(Peek(second[1]), 0x1234);
  EXPECT_EQ(WriteRecorder::Instance().Take(),
            (std::vector<WriteRecord>{{1, 3, 4, 0x1234}, {1, 3, 4, 0x1234}}));
}

TEST_F(Requests, SerialAcceptanceAndCounting) {
  std::vector<uint16_t> words(4, 7);
  ASSERT_EQ(DefineDataBlock(5, 3, 1, 4, words.data()), 1);

  // RTU counts a good CRC before acceptance; ASCII only accepted frames.
  EXPECT_TRUE(RtuAnswer(Rtu({17, 3, 0, 0, 0, 1})).empty());
  EXPECT_EQ(Good(), 1);
  EXPECT_TRUE(AsciiAnswer(Ascii({17, 3, 0, 0, 0, 1})).empty());
  EXPECT_EQ(Good(), 1);
  EXPECT_EQ(Bad(), 0);

  EXPECT_FALSE(RtuAnswer(Rtu({5, 3, 0, 0, 0, 1})).empty());
  EXPECT_FALSE(AsciiAnswer(Ascii({5, 3, 0, 0, 0, 1})).empty());
  EXPECT_EQ(Good(), 3);

  // A deactivated slave id is silent on serial links; TCP still answers it.
  ActivateSlaveId(5, 0);
  EXPECT_TRUE(RtuAnswer(Rtu({5, 3, 0, 0, 0, 1})).empty());
  EXPECT_TRUE(AsciiAnswer(Ascii({5, 3, 0, 0, 0, 1})).empty());
  EXPECT_EQ(TcpAnswer(5, B({3, 0, 0, 0, 1})), B({1, 2, 0, 0, 0, 5, 5, 3, 2, 0, 7}));
  ActivateSlaveId(5, 1);
  EXPECT_FALSE(RtuAnswer(Rtu({5, 3, 0, 0, 0, 1})).empty());

  // A removed block no longer makes its slave id answer.
  RemoveDataBlock(1);
  EXPECT_TRUE(RtuAnswer(Rtu({5, 3, 0, 0, 0, 1})).empty());

  // Broken checks count as bad and are not answered.
  Bytes broken = Rtu({5, 3, 0, 0, 0, 1});
  broken.back() ^= 0x40;
  EXPECT_TRUE(RtuAnswer(broken).empty());
  EXPECT_TRUE(RtuAnswer(B({5, 3})).empty());
  EXPECT_TRUE(AsciiAnswer(AsBytes(":050300000001F6\r\n")).empty());
  EXPECT_TRUE(AsciiAnswer(AsBytes("xx:050300000001F7\r\n")).empty());
  EXPECT_EQ(Bad(), 4);
}

TEST_F(Requests, AsciiCheckAcceptsLowercaseAndRejectsWrongLrc) {
  std::vector<uint16_t> words = {0x0A0B, 0x0C0D};
  ASSERT_EQ(DefineDataBlock(1, 3, 1, 2, words.data()), 1);
  const Bytes expected = Ascii({1, 3, 4, 0x0A, 0x0B, 0x0C, 0x0D});
  EXPECT_EQ(AsciiAnswer(AsBytes(":010300000002FA\r\n")), expected);
  EXPECT_EQ(AsciiAnswer(AsBytes(":010300000002fa\r\n")), expected);
  EXPECT_TRUE(AsciiAnswer(AsBytes(":010300000002FB\r\n")).empty());
  EXPECT_EQ(Bad(), 1);
  EXPECT_EQ(Good(), 2);
}

TEST_F(Requests, ProtocolOptionDoublesAbovePoint5000OnSerialOnly) {
  std::vector<uint16_t> words(20, 0x1111);
  ASSERT_EQ(DefineDataBlock(1, 3, 4990, 20, words.data()), 1);
  m_port.m_nOptions = 1;
  // Address 5000 is point 5001: 2 registers become 4.
  EXPECT_EQ(RtuAnswer(Rtu({1, 3, 0x13, 0x88, 0, 2})).size(), 3u + 8u + 2u);
  // Address 4999 is point 5000: not above 5000.
  EXPECT_EQ(RtuAnswer(Rtu({1, 3, 0x13, 0x87, 0, 2})).size(), 3u + 4u + 2u);
  EXPECT_EQ(AsciiAnswer(Ascii({1, 3, 0x13, 0x88, 0, 2})).size(), 1u + 2u * (3 + 8) + 4u);
  // The TCP server never doubles.
  EXPECT_EQ(TcpAnswer(1, B({3, 0x13, 0x88, 0, 2})).size(), 9u + 4u);

  // Function 16 doubles too: 1 register announced, 2 written, answer says 1.
  const Bytes write = Rtu({1, 16, 0x13, 0x88, 0, 1, 2, 0xAB, 0xCD, 0x12, 0x34});
  EXPECT_EQ(RtuAnswer(write), Rtu({1, 16, 0x13, 0x88, 0, 1}));
  EXPECT_EQ(Peek(words[11]), 0xABCD);
  EXPECT_EQ(Peek(words[12]), 0x1234);
  // Without the second register's data, nothing is written.
  Poke(words[11], 0);
  EXPECT_EQ(RtuAnswer(Rtu({1, 16, 0x13, 0x88, 0, 1, 2, 0xAB, 0xCD})), Rtu({1, 0x90, 2}));
  EXPECT_EQ(Peek(words[11]), 0);

  // Without options nothing doubles.
  m_port.m_nOptions = 0;
  EXPECT_EQ(RtuAnswer(Rtu({1, 3, 0x13, 0x88, 0, 2})).size(), 3u + 4u + 2u);
}

TEST_F(Requests, DoubledQuantityDoesNotWrapToZero) {
  std::vector<uint16_t> words(20, 0);
  ASSERT_EQ(DefineDataBlock(1, 3, 5001, 20, words.data()), 1);
  m_port.m_nOptions = 1;
  // 0x8000 doubled is 65536: far over the limit, not an empty read.
  EXPECT_EQ(RtuAnswer(Rtu({1, 3, 0x13, 0x88, 0x80, 0})), Rtu({1, 0x83, 2}));
}

TEST_F(Requests, SingleCoilValuesDifferBetweenSerialAndTcp) {
  std::vector<uint16_t> coils(4, 0);
  ASSERT_EQ(DefineDataBlock(1, 1, 1, 4, coils.data()), 1);
  EXPECT_EQ(RtuAnswer(Rtu({1, 5, 0, 0, 0x00, 0xFF})), Rtu({1, 5, 0, 0, 0x00, 0xFF}));
  EXPECT_EQ(Peek(coils[0]), 1);
  EXPECT_EQ(TcpAnswer(1, B({5, 0, 0, 0x00, 0xFF})), B({1, 2, 0, 0, 0, 6, 1, 5, 0, 0, 0x00, 0xFF}));
  EXPECT_EQ(Peek(coils[0]), 0);
  EXPECT_EQ(TcpAnswer(1, B({5, 0, 1, 0xFF, 0x00})).size(), 12u);
  EXPECT_EQ(Peek(coils[1]), 1);
  EXPECT_FALSE(AsciiAnswer(Ascii({1, 5, 0, 1, 0, 0})).empty());
  EXPECT_EQ(Peek(coils[1]), 0);
  EXPECT_EQ(RtuAnswer(Rtu({1, 5, 0, 9, 0xFF, 0})), Rtu({1, 0x85, 2}));
}

TEST_F(Requests, EchoesOfWritesOnSerialLinks) {
  std::vector<uint16_t> regs(20, 0);
  std::vector<uint16_t> coils(20, 0);
  ASSERT_EQ(DefineDataBlock(1, 3, 1, 20, regs.data()), 1);
  ASSERT_EQ(DefineDataBlock(1, 1, 1, 20, coils.data()), 2);

  // Function 15: 10 coils from coil 2, bits 0x0F 0x02; byte count as sent.
  EXPECT_EQ(RtuAnswer(Rtu({1, 15, 0, 1, 0, 10, 2, 0x0F, 0x02})), Rtu({1, 15, 0, 1, 0, 10}));
  const std::vector<uint16_t> expect = {0, 1, 1, 1, 1, 0, 0, 0, 0, 0, 1, 0};
  for (size_t i = 0; i < expect.size(); ++i) EXPECT_EQ(Peek(coils[i]), expect[i]) << i;

  // ASCII echo of function 16: the 12 hex digits as received (lowercase
  // kept), then a new LRC in uppercase.
  const uint8_t lrc16 = modbuswire::Lrc(B({1, 16, 0, 10, 0, 1, 2, 1, 2}));
  Bytes line = AsBytes(":0110000a0001020102");
  line.push_back("0123456789ABCDEF"[lrc16 >> 4]);
  line.push_back("0123456789ABCDEF"[lrc16 & 15]);
  line.push_back('\r');
  line.push_back('\n');
  Bytes echo = AsBytes(":0110000a0001");
  const uint8_t lrcHead = modbuswire::Lrc(B({1, 16, 0, 10, 0, 1}));
  echo.push_back("0123456789ABCDEF"[lrcHead >> 4]);
  echo.push_back("0123456789ABCDEF"[lrcHead & 15]);
  echo.push_back('\r');
  echo.push_back('\n');
  EXPECT_EQ(AsciiAnswer(line), echo);
  EXPECT_EQ(Peek(regs[10]), 0x0102);

  // Function 6 on ASCII: the first 17 characters, unchanged.
  Bytes six = AsBytes(":01060003abcd");
  const uint8_t lrc = modbuswire::Lrc(B({1, 6, 0, 3, 0xAB, 0xCD}));
  six.push_back("0123456789ABCDEF"[lrc >> 4]);
  six.push_back("0123456789ABCDEF"[lrc & 15]);
  six.push_back('\r');
  six.push_back('\n');
  EXPECT_EQ(AsciiAnswer(six), six);
  EXPECT_EQ(Peek(regs[3]), 0xABCD);
}

TEST_F(Requests, PartialMultipleWriteKeepsEarlierPointsAndPostsLater) {
  std::vector<uint16_t> regs(2, 0);
  ASSERT_EQ(DefineDataBlock(1, 3, 1, 2, regs.data()), 1);
  std::vector<std::pair<UINT, LPARAM>> posted;
  QueuedMessageTarget recorder([&](HWND, UINT m, WPARAM w, LPARAM l) -> LRESULT {
    EXPECT_EQ(w, 0u);
    posted.emplace_back(m, l);
    return 0;
  });
  ASSERT_EQ(EnableDoWriteNotification(&recorder, 1, 1, 1025), 1);

  // Three registers, the third not covered.
  EXPECT_EQ(RtuAnswer(Rtu({1, 16, 0, 0, 0, 3, 6, 0, 1, 0, 2, 0, 3})), Rtu({1, 0x90, 2}));
  EXPECT_FALSE(m_notify);
  EXPECT_EQ(Peek(regs[0]), 1);
  EXPECT_EQ(Peek(regs[1]), 2);
  slavelink::PostNotifications();  // what a link does only after a success
  recorder.Pump();
  // The pending flag stayed set, so the next post carries it.
  EXPECT_EQ(posted, (std::vector<std::pair<UINT, LPARAM>>{{1025, 1}}));

  posted.clear();
  EXPECT_EQ(RtuAnswer(Rtu({1, 6, 0, 0, 0, 9})).size(), 8u);
  EXPECT_TRUE(m_notify);
  slavelink::PostNotifications();
  slavelink::PostNotifications();  // cleared: nothing twice
  recorder.Pump();
  EXPECT_EQ(posted, (std::vector<std::pair<UINT, LPARAM>>{{1025, 1}}));
}

TEST_F(Requests, BroadcastWritesEverySlaveSilently) {
  std::vector<uint16_t> one(4, 0), two(4, 0);
  ASSERT_EQ(DefineDataBlock(1, 3, 1, 4, one.data()), 1);
  ASSERT_EQ(DefineDataBlock(2, 3, 1, 4, two.data()), 2);
  EXPECT_TRUE(RtuAnswer(Rtu({0, 6, 0, 1, 0x55, 0xAA})).empty());
  EXPECT_TRUE(m_notify);
  EXPECT_EQ(Peek(one[1]), 0x55AA);
  EXPECT_EQ(Peek(two[1]), 0x55AA);
  EXPECT_EQ(WriteRecorder::Instance().Take(),
            (std::vector<WriteRecord>{{0, 3, 2, 0x55AA}, {0, 3, 2, 0x55AA}}));

  // Broadcast failures and broadcast reads stay silent too.
  EXPECT_TRUE(RtuAnswer(Rtu({0, 6, 0, 9, 0, 1})).empty());
  EXPECT_FALSE(m_notify);
  EXPECT_TRUE(RtuAnswer(Rtu({0, 3, 0, 0, 0, 1})).empty());
  EXPECT_TRUE(RtuAnswer(Rtu({0, 16, 0, 0, 0, 2, 4, 0, 1})).empty());
  EXPECT_TRUE(AsciiAnswer(Ascii({0, 15, 0, 0, 0, 2, 1, 3})).empty());

  // On TCP unit 0 is no broadcast: it is answered, and writes every slave id.
  EXPECT_EQ(TcpAnswer(0, B({6, 0, 2, 0, 9})).size(), 12u);
  EXPECT_EQ(Peek(one[2]), 9);
  EXPECT_EQ(Peek(two[2]), 9);
  EXPECT_EQ(TcpAnswer(0, B({3, 0, 0, 0, 1})), B({1, 2, 0, 0, 0, 3, 0, 0x83, 2}));
}

TEST_F(Requests, UnknownFunctionsAndDiagnostics) {
  std::vector<uint16_t> words(2, 0);
  ASSERT_EQ(DefineDataBlock(3, 3, 1, 2, words.data()), 1);
  EXPECT_EQ(RtuAnswer(Rtu({3, 7})), Rtu({3, 0x87, 1}));
  EXPECT_EQ(RtuAnswer(Rtu({3, 0, 1, 2})), Rtu({3, 0x80, 1}));
  EXPECT_EQ(AsciiAnswer(Ascii({3, 7})), Ascii({3, 0x87, 1}));
  EXPECT_EQ(TcpAnswer(3, B({7})), B({1, 2, 0, 0, 0, 3, 3, 0x87, 1}));
  EXPECT_EQ(TcpAnswer(3, B({0})), B({1, 2, 0, 0, 0, 3, 3, 0x80, 1}));
  // A serial link adds 0x80, TCP sets the bit.
  EXPECT_EQ(RtuAnswer(Rtu({3, 0x87})), Rtu({3, 0x07, 1}));
  EXPECT_EQ(TcpAnswer(3, B({0x87})), B({1, 2, 0, 0, 0, 3, 3, 0x87, 1}));
  // Not accepted slave ids hear nothing, whatever the function.
  EXPECT_TRUE(RtuAnswer(Rtu({4, 7})).empty());

  // Function 8: serial links send the frame back as it came.
  const Bytes diag = Rtu({3, 8, 0, 0, 0xA5, 0x37, 0x99});
  EXPECT_EQ(RtuAnswer(diag), diag);
  const Bytes asciiDiag = Ascii({3, 8, 0, 1, 2, 3});
  EXPECT_EQ(AsciiAnswer(asciiDiag), asciiDiag);
  EXPECT_EQ(TcpAnswer(3, B({8, 0, 0, 0xA5, 0x37, 0x99})), B({1, 2, 0, 0, 0, 6, 3, 8, 0, 0, 0xA5, 0x37}));
  EXPECT_EQ(Peek(words[0]), 0);
}

TEST_F(Requests, ShortMultipleWritesNeverReadPastTheFrame) {
  std::vector<uint16_t> regs(10, 0), coils(40, 0);
  ASSERT_EQ(DefineDataBlock(1, 3, 1, 10, regs.data()), 1);
  ASSERT_EQ(DefineDataBlock(1, 1, 1, 40, coils.data()), 2);

  // 3 registers announced, one register of data sent: nothing written.
  EXPECT_EQ(RtuAnswer(Rtu({1, 16, 0, 0, 0, 3, 6, 0x11, 0x11})), Rtu({1, 0x90, 2}));
  EXPECT_EQ(TcpAnswer(1, B({16, 0, 0, 0, 3, 6, 0x11, 0x11})), B({1, 2, 0, 0, 0, 3, 1, 0x90, 2}));
  EXPECT_EQ(AsciiAnswer(Ascii({1, 16, 0, 0, 0, 2, 4, 1})), Ascii({1, 0x90, 2}));
  EXPECT_EQ(Peek(regs[0]), 0);
  // 17 coils need 3 data bytes.
  EXPECT_EQ(RtuAnswer(Rtu({1, 15, 0, 0, 0, 17, 3, 0xFF, 0xFF})), Rtu({1, 0x8F, 2}));
  EXPECT_EQ(TcpAnswer(1, B({15, 0, 0, 0xFF, 0xFF, 0})), B({1, 2, 0, 0, 0, 3, 1, 0x8F, 2}));
  for (auto& c : coils) EXPECT_EQ(Peek(c), 0);
  EXPECT_TRUE(WriteRecorder::Instance().Take().empty());

  // The byte count is not compared with anything: a wrong one with all the
  // data is carried out.
  EXPECT_EQ(RtuAnswer(Rtu({1, 16, 0, 0, 0, 2, 99, 0, 5, 0, 6})), Rtu({1, 16, 0, 0, 0, 2}));
  EXPECT_EQ(Peek(regs[1]), 6);
}

TEST_F(Requests, TruncatedRequestsAreDropped) {
  std::vector<uint16_t> regs(10, 0);
  ASSERT_EQ(DefineDataBlock(1, 3, 1, 10, regs.data()), 1);
  EXPECT_TRUE(RtuAnswer(Rtu({1, 3, 0, 0})).empty());
  EXPECT_TRUE(RtuAnswer(Rtu({1, 6, 0})).empty());
  EXPECT_TRUE(RtuAnswer(Rtu({1})).empty());
  EXPECT_TRUE(TcpAnswer(1, B({3, 0, 0})).empty());
  EXPECT_TRUE(TcpAnswer(1, B({})).empty());
  EXPECT_TRUE(TcpAnswer(1, B({8, 0})).empty());
  // A header whose length field claims fewer bytes than arrived: only the
  // announced ones count.
  Reply r;
  HandleTcpRequest(B({0, 1, 0, 0, 0, 2, 1, 3, 0, 0, 0, 1}), r);
  EXPECT_EQ(r.size, 0u);
  EXPECT_EQ(Peek(regs[0]), 0);
}

TEST_F(Requests, ZeroQuantityReadGivesAnEmptyAnswer) {
  std::vector<uint16_t> regs(2, 0);
  ASSERT_EQ(DefineDataBlock(1, 3, 1, 2, regs.data()), 1);
  EXPECT_EQ(RtuAnswer(Rtu({1, 3, 0, 0, 0, 0})), Rtu({1, 3, 0}));
}

TEST_F(Requests, PointArithmeticWrapsAt16Bits) {
  // Address 0xFFFF is point 0 after the 16-bit add; a block at point 65535
  // ends there and a read over its end does not reach beyond it.
  std::vector<uint16_t> regs(1, 42);
  ASSERT_EQ(DefineDataBlock(1, 3, 65535, 1, regs.data()), 1);
  EXPECT_EQ(RtuAnswer(Rtu({1, 3, 0xFF, 0xFE, 0, 1})), Rtu({1, 3, 2, 0, 42}));
  EXPECT_EQ(RtuAnswer(Rtu({1, 3, 0xFF, 0xFE, 0, 2})), Rtu({1, 0x83, 2}));
  EXPECT_EQ(RtuAnswer(Rtu({1, 3, 0xFF, 0xFF, 0, 1})), Rtu({1, 0x83, 2}));
}

TEST_F(Requests, SingleWriteEchoOfALongerFrameKeepsAValidCheck) {
  std::vector<uint16_t> regs(4, 0);
  ASSERT_EQ(DefineDataBlock(1, 3, 1, 4, regs.data()), 1);
  // A byte after the value, covered by the CRC: the first 8 bytes would not
  // carry a valid CRC, so the head goes back with a new one.
  EXPECT_EQ(RtuAnswer(Rtu({1, 6, 0, 1, 0, 0x8F, 0})), Rtu({1, 6, 0, 1, 0, 0x8F}));
  EXPECT_EQ(Peek(regs[1]), 0x8F);
  EXPECT_EQ(AsciiAnswer(Ascii({1, 6, 0, 2, 0, 0x8F, 0})), Ascii({1, 6, 0, 2, 0, 0x8F}));
  EXPECT_EQ(Peek(regs[2]), 0x8F);
}

TEST_F(Requests, RunReadsMatchPointByPointLookupOnRandomTables) {
  // Runs of points are read a block at a time; the result must equal asking
  // the table for every point on its own (first covering entry wins).
  std::mt19937 random(12345);
  std::vector<std::vector<uint16_t>> arrays;
  for (int round = 0; round < 40; ++round) {
    ResetLibrary();
    arrays.clear();
    const int blocks = 1 + static_cast<int>(random() % 12);
    for (int b = 0; b < blocks; ++b) {
      const uint16_t start = static_cast<uint16_t>(random() % 2 == 0 ? 1 + random() % 60 : 65500 + random() % 36);
      const uint16_t count = static_cast<uint16_t>(random() % 40);
      arrays.emplace_back(count + 1);
      for (auto& w : arrays.back()) w = static_cast<uint16_t>(random());
      ASSERT_EQ(DefineDataBlock(static_cast<uint8_t>(1 + random() % 2), 3, start, count, arrays.back().data()), b + 1);
    }
    if (random() % 3 == 0) RemoveDataBlock(1 + static_cast<int>(random() % blocks));
    for (int probe = 0; probe < 50; ++probe) {
      const uint16_t point = static_cast<uint16_t>(random() % 2 == 0 ? random() % 100 : 65480 + random() % 56);
      const size_t count = 1 + random() % 80;
      std::vector<uint16_t> got(count, 0xDEAD);
      const size_t read = slavelink::ReadPoints(1, 3, point, count, got.data());
      // The reference: each point on its own.
      size_t expected = 0;
      for (; expected < count; ++expected) {
        const uint16_t at = static_cast<uint16_t>(point + expected);
        const uint16_t* word = nullptr;
        for (const auto& block : slavelink::State().m_table) {
          slavelink::DataBlock::View view;
          if (block.Covers(1, false, 3, at, view)) {
            word = view.data + static_cast<uint16_t>(at - view.start);
            break;
          }
        }
        if (word == nullptr) break;
        ASSERT_EQ(got[expected], *word) << "round " << round << " point " << at;
      }
      ASSERT_EQ(read, expected) << "round " << round << " from " << point;
    }
  }
}

// The host frees and redefines an entry while a link thread serves it: the
// thread sees one definition or the other, never the new count with the old
// words. The short definition's array is long, with a sentinel beyond its
// count, so that a mixed view shows even without AddressSanitizer.
TEST_F(Requests, RedefinitionWhileALinkServesTheEntryIsNeverMixed) {
  std::vector<uint16_t> small(100, 0xDEAD);
  std::fill(small.begin(), small.begin() + 10, 0x1111);
  std::vector<uint16_t> big(100, 0x2222);
  ASSERT_EQ(DefineDataBlock(1, 3, 1, 10, small.data()), 1);
  std::atomic<bool> stop{false};
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(300);
  std::thread host([&] {
    for (int i = 0; std::chrono::steady_clock::now() < until; ++i) {
      RemoveDataBlock(1);
      const bool longOne = i % 2 == 0;
      if (DefineDataBlock(1, 3, 1, longOne ? 100 : 10, longOne ? big.data() : small.data()) != 1) break;
    }
    stop.store(true);
  });
  size_t reads = 0, mixed = 0;
  while (!stop.load()) {
    uint16_t got[100];
    const size_t n = slavelink::ReadPoints(1, 3, 1, 100, got);
    if (n == 0) continue;
    ++reads;
    // One read may take its first ten points from the short definition and
    // the rest from the long one that replaced it; never the sentinel.
    mixed += static_cast<size_t>(std::count(got, got + n, 0xDEAD));
    // Writing what the long definition holds leaves every array as it was,
    // unless a write lands beyond the short one's count.
    slavelink::WritePoint(1, 3, 60, 0x2222);
  }
  host.join();
  EXPECT_GT(reads, 0u);
  EXPECT_EQ(mixed, 0u);
  EXPECT_EQ(std::count(small.begin() + 10, small.end(), 0xDEAD), 90);
}
