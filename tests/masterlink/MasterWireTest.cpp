// The master library against scripted peers: a pseudo-terminal whose other
// end this test plays byte for byte, and a Modbus/TCP peer on loopback.
// Every accepted request must end in exactly one response message.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "MasterTestSupport.h"
#include "platform/modbuswire.h"

using namespace mltest;

namespace {

constexpr int kPort = 7;  // COM7 is pointed at the pseudo-terminal

std::vector<uint8_t> Rtu(std::vector<uint8_t> bytes) {
  modbuswire::AppendCrc(bytes);
  return bytes;
}

bool RtuRequestComplete(const std::vector<uint8_t>& b) {
  if (b.size() < 2) return false;
  if (b[1] == 15 || b[1] == 16) return b.size() >= 7 && b.size() >= 9u + b[6];
  return b.size() >= 8;
}

bool LineComplete(const std::vector<uint8_t>& b) { return !b.empty() && b.back() == '\n'; }

void WriteBytes(int fd, const std::vector<uint8_t>& bytes) {
  ASSERT_EQ(::write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
}

class SerialMasterTest : public ::testing::Test {
 protected:
  void Open(bool ascii, int timeoutMs = 400) {
    ASSERT_TRUE(m_pty.Open());
    ::setenv("PLEXMAR_COM7", m_pty.slavePath.c_str(), 1);
    const MasterPortSettings settings{19200, 2, 0, 8, 0, 0, 0, 0, 0};
    m_handle = ascii ? ConnectASCII(kPort, timeoutMs, &settings) : ConnectRTU(kPort, timeoutMs, &settings);
    ASSERT_NE(m_handle, -1);
    ASSERT_EQ(HookRspNotification(m_handle, &m_window, kRspMessage, 0), 0);
  }
  void TearDown() override {
    if (m_handle != -1) CloseMasterConnection(m_handle);
    ::unsetenv("PLEXMAR_COM7");
  }
  // Plays the slave for one request in the background.
  std::thread Answer(std::function<bool(const std::vector<uint8_t>&)> complete,
                     std::function<std::vector<uint8_t>(const std::vector<uint8_t>&)> reply) {
    return std::thread([this, complete, reply] {
      m_lastRequest = ReadFrame(m_pty.master, complete, 3000);
      const auto bytes = reply(m_lastRequest);
      if (!bytes.empty()) [[maybe_unused]] ssize_t n = ::write(m_pty.master, bytes.data(), bytes.size());
    });
  }

  PtyPair m_pty;
  CRecordingWindow m_window;
  int32_t m_handle = -1;
  std::vector<uint8_t> m_lastRequest;
};

TEST_F(SerialMasterTest, RtuReadSendsProtocolAddressAndReturnsRegisters) {
  Open(false);
  auto slave = Answer(RtuRequestComplete, [](const auto&) { return Rtu({7, 3, 4, 0x12, 0x34, 0xFF, 0xFE}); });
  const Outcome out = Transact(m_window, m_handle, 7, 3, 10, 2);
  slave.join();
  EXPECT_EQ(m_lastRequest, Rtu({7, 3, 0, 9, 0, 2}));
  ASSERT_EQ(out.accepted, 0);
  EXPECT_EQ(out.status, 0);
  EXPECT_EQ(out.header.nSlaveId, 7);
  EXPECT_EQ(out.header.nFunction, 3);
  EXPECT_EQ(out.header.nAddress, 10);
  EXPECT_EQ(out.header.nCount, 2);
  EXPECT_EQ(out.words, (std::vector<uint16_t>{0x1234, 0xFFFE}));
}

TEST_F(SerialMasterTest, RtuCoilsAreUnpackedToOneWordPerPointAndWrittenPacked) {
  Open(false);
  auto slave = Answer(RtuRequestComplete, [](const auto&) { return Rtu({1, 1, 2, 0b10100101, 0b1}); });
  Outcome out = Transact(m_window, m_handle, 1, 1, 1, 9);
  slave.join();
  ASSERT_EQ(out.status, 0);
  EXPECT_EQ(out.words, (std::vector<uint16_t>{1, 0, 1, 0, 0, 1, 0, 1, 1}));

  slave = Answer(RtuRequestComplete, [](const auto&) { return Rtu({1, 15, 0, 19, 0, 10}); });
  out = Transact(m_window, m_handle, 1, 15, 20, 10, {1, 0, 0, 5, 0, 0, 0, 0, 1, 1});
  slave.join();
  EXPECT_EQ(m_lastRequest, Rtu({1, 15, 0, 19, 0, 10, 2, 0b00001001, 0b11}));
  EXPECT_EQ(out.status, 0);
  EXPECT_EQ(out.header.nFunction, 15);
}

TEST_F(SerialMasterTest, RtuFailuresAreTellingCodes) {
  // A long time-out, so that giving up on noise is told apart from it even on
  // a busy machine.
  Open(false, 3000);
  // Exception answer.
  auto slave = Answer(RtuRequestComplete, [](const auto&) { return Rtu({1, 0x83, 2}); });
  Outcome out = Transact(m_window, m_handle, 1, 3, 1, 1);
  slave.join();
  EXPECT_EQ(out.status, MLERR_EXCEPTION(2));
  EXPECT_EQ(out.header.nFunction, 3);

  // Damaged CRC.
  slave = Answer(RtuRequestComplete, [](const auto&) {
    auto frame = Rtu({1, 3, 2, 0, 5});
    frame.back() ^= 0x40;
    return frame;
  });
  out = Transact(m_window, m_handle, 1, 3, 1, 1);
  slave.join();
  EXPECT_EQ(out.status, MLERR_BAD_CHECKSUM);

  // A sound frame from another slave.
  slave = Answer(RtuRequestComplete, [](const auto&) { return Rtu({2, 3, 2, 0, 5}); });
  out = Transact(m_window, m_handle, 1, 3, 1, 1);
  slave.join();
  EXPECT_EQ(out.status, MLERR_MISMATCH);

  // The right function with the wrong byte count.
  slave = Answer(RtuRequestComplete, [](const auto&) { return Rtu({1, 3, 4, 0, 5, 0, 6}); });
  out = Transact(m_window, m_handle, 1, 3, 1, 1);
  slave.join();
  EXPECT_EQ(out.status, MLERR_MISMATCH);

  // Noise: a reply to some other function is given up once the line goes quiet,
  // well before the time-out.
  slave = Answer(RtuRequestComplete, [](const auto&) { return std::vector<uint8_t>{1, 0x2B, 9, 9, 9}; });
  out = Transact(m_window, m_handle, 1, 3, 1, 1);
  slave.join();
  EXPECT_EQ(out.status, MLERR_MISMATCH);
  EXPECT_LT(out.elapsedMs, 1500);

  ::usleep(100000);
  EXPECT_EQ(m_window.Count(kRspMessage), 5u);
}

TEST_F(SerialMasterTest, SilentSlaveTimesOutAndTheNextRequestStillWorks) {
  Open(false, 300);
  auto slave = Answer(RtuRequestComplete, [](const auto&) { return std::vector<uint8_t>{}; });
  Outcome out = Transact(m_window, m_handle, 1, 4, 1, 1);
  slave.join();
  EXPECT_EQ(out.status, MLERR_TIMEOUT);
  EXPECT_GE(out.elapsedMs, 280);
  EXPECT_LT(out.elapsedMs, 1500);

  // A late answer to the timed-out request must not be taken for the next one.
  WriteBytes(m_pty.master, Rtu({1, 4, 2, 0xAA, 0xAA}));
  ::usleep(50000);
  slave = Answer(RtuRequestComplete, [](const auto&) { return Rtu({1, 4, 2, 0, 42}); });
  out = Transact(m_window, m_handle, 1, 4, 1, 1);
  slave.join();
  EXPECT_EQ(out.status, 0);
  EXPECT_EQ(out.words, std::vector<uint16_t>{42});
  ::usleep(100000);
  EXPECT_EQ(m_window.Count(kRspMessage), 2u);
}

TEST_F(SerialMasterTest, OneRequestAtATimeAndClosingStillAnswers) {
  Open(false, 5000);
  const ModbusRequestHeader header{1, 3, 1, 1};
  ASSERT_EQ(PollMODBUS(m_handle, &header), 0);
  EXPECT_EQ(PollMODBUS(m_handle, &header), MLERR_BUSY);
  ReadFrame(m_pty.master, RtuRequestComplete, 2000);

  // Closing with the request unanswered: the message still comes, once, and
  // the outcome can still be taken through the old handle.
  EXPECT_EQ(CloseMasterConnection(m_handle), 0);
  ASSERT_TRUE(m_window.WaitFor(kRspMessage, 1, 2000));
  ModbusRequestHeader got{};
  EXPECT_EQ(MODBUSResponse(m_handle, &got, nullptr, 0), MLERR_CONNECTION_LOST);
  EXPECT_EQ(got.nAddress, 1);
  EXPECT_EQ(MODBUSResponse(m_handle, &got, nullptr, 0), MLERR_NO_RESPONSE);
  EXPECT_EQ(PollMODBUS(m_handle, &header), MLERR_NOT_CONNECTED);
  EXPECT_EQ(CloseMasterConnection(m_handle), MLERR_NOT_CONNECTED);
  ::usleep(100000);
  EXPECT_EQ(m_window.Count(kRspMessage), 1u);
  EXPECT_EQ(m_window.Messages()[0].wParam, static_cast<WPARAM>(m_handle));
  m_handle = -1;
}

double CpuSeconds() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
         (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

TEST_F(SerialMasterTest, ALineThatHungUpNeitherSpinsNorHangsRequests) {
  Open(false, 200);
  ::close(m_pty.master);
  ::close(m_pty.slaveKeepAlive);
  m_pty.master = m_pty.slaveKeepAlive = -1;
  const double before = CpuSeconds();
  ::usleep(300000);
  EXPECT_LT(CpuSeconds() - before, 0.15) << "the idle worker must sleep";
  const Outcome out = Transact(m_window, m_handle, 1, 3, 1, 1);
  EXPECT_EQ(out.accepted, 0);
  EXPECT_NE(out.status, 0);
  EXPECT_NE(out.status, -1) << "the request's message came";
}

TEST_F(SerialMasterTest, RequestsTheProtocolCannotCarryAreRefusedWithoutAMessage) {
  Open(false);
  const ModbusRequestHeader noPoints{1, 3, 1, 0};
  const ModbusRequestHeader pointZero{1, 3, 0, 1};
  const ModbusRequestHeader tooMany{1, 3, 1, 126};
  const ModbusRequestHeader pastTheEnd{1, 3, 65535, 3};  // point 65537 does not exist
  const ModbusRequestHeader broadcastRead{0, 3, 1, 1};
  const ModbusRequestHeader notARead{1, 6, 1, 1};
  for (const auto& h : {noPoints, pointZero, tooMany, pastTheEnd, broadcastRead, notARead}) {
    EXPECT_EQ(PollMODBUS(m_handle, &h), MLERR_BAD_REQUEST) << int(h.nFunction) << " " << h.nAddress;
  }
  const uint16_t data[2] = {1, 2};
  const ModbusRequestHeader readAsWrite{1, 3, 1, 1};
  EXPECT_EQ(WriteMODBUS(m_handle, &readAsWrite, data), MLERR_BAD_REQUEST);
  const ModbusRequestHeader fine{1, 3, 1, 1};
  EXPECT_EQ(PollMODBUS(-1, &fine), MLERR_NOT_CONNECTED);
  EXPECT_EQ(PollMODBUS(123456, &fine), MLERR_NOT_CONNECTED);
  EXPECT_EQ(HookRspNotification(123456, &m_window, kRspMessage, 0), MLERR_NOT_CONNECTED);
  ::usleep(50000);
  EXPECT_EQ(m_window.Count(kRspMessage), 0u);
}

TEST_F(SerialMasterTest, AsciiFramesAndChecksTheLrc) {
  Open(true);
  auto slave = Answer(LineComplete, [](const auto&) {
    const std::vector<uint8_t> body{0x11, 2, 1, 0b101};
    const std::string line = modbuswire::EncodeAsciiFrame(body);
    return std::vector<uint8_t>(line.begin(), line.end());
  });
  Outcome out = Transact(m_window, m_handle, 0x11, 2, 197, 3);
  slave.join();
  EXPECT_EQ(std::string(m_lastRequest.begin(), m_lastRequest.end()), ":110200C4000326\r\n");
  ASSERT_EQ(out.status, 0);
  EXPECT_EQ(out.words, (std::vector<uint16_t>{1, 0, 1}));

  slave = Answer(LineComplete, [](const auto&) {
    std::string line = ":11020105E8\r\n";  // the LRC would be E7
    return std::vector<uint8_t>(line.begin(), line.end());
  });
  out = Transact(m_window, m_handle, 0x11, 2, 197, 3);
  slave.join();
  EXPECT_EQ(out.status, MLERR_BAD_CHECKSUM);

  // Line noise before the colon is skipped.
  slave = Answer(LineComplete, [](const auto&) {
    const std::vector<uint8_t> body{0x11, 16, 0, 9, 0, 1};
    const std::string line = "\x7f\x01" + modbuswire::EncodeAsciiFrame(body);
    return std::vector<uint8_t>(line.begin(), line.end());
  });
  out = Transact(m_window, m_handle, 0x11, 16, 10, 1, {300});
  slave.join();
  EXPECT_EQ(std::string(m_lastRequest.begin(), m_lastRequest.end()), ":11100009000102012CA6\r\n");
  EXPECT_EQ(out.status, 0);
}

TEST(SerialMasterOpen, MissingDeviceAndBadPortGiveMinusOne) {
  ::setenv("PLEXMAR_COM8", "/nonexistent/tty", 1);
  const MasterPortSettings settings{9600, 0, 0, 8, 0, 0, 0, 0, 0};
  EXPECT_EQ(ConnectRTU(8, 2000, &settings), -1);
  EXPECT_EQ(ConnectASCII(0, 2000, &settings), -1);
  EXPECT_EQ(ConnectRTU(10, 2000, &settings), -1);
  EXPECT_EQ(ConnectRTU(1, 2000, nullptr), -1);
  ::unsetenv("PLEXMAR_COM8");
}

// The terminal ends up at exactly the settings asked for, character sizes
// and rates included; settings the line cannot take refuse the connection
// rather than open it at others. The line is ours alone while connected.
TEST(SerialMasterOpen, LineRunsAtTheAskedSettingsOrNotAtAll) {
  PtyPair pty;
  ASSERT_TRUE(pty.Open());
  ::setenv("PLEXMAR_COM8", pty.slavePath.c_str(), 1);
  termios tio{};

  const MasterPortSettings fiveEvenTwo{921600, 2, 2, 5, 0, 0, 0, 0, 0};
  int32_t handle = ConnectRTU(8, 500, &fiveEvenTwo);
  ASSERT_NE(handle, -1);
  // A pseudo-terminal forces eight data bits and clears the parity enable
  // whatever is asked; the rest of the settings it keeps, so those are checked.
  ASSERT_EQ(::tcgetattr(pty.slaveKeepAlive, &tio), 0);
  EXPECT_EQ(tio.c_cflag & (PARODD | CMSPAR), 0u);
  EXPECT_NE(tio.c_iflag & INPCK, 0u) << "a parity error must not pass as data";
  EXPECT_NE(tio.c_cflag & CSTOPB, 0u);
  EXPECT_EQ(::cfgetospeed(&tio), static_cast<speed_t>(B921600));
  EXPECT_EQ(tio.c_iflag & (IXON | IXOFF | IXANY), 0u) << "XON/XOFF bytes are data here";
  EXPECT_EQ(ConnectASCII(8, 500, &fiveEvenTwo), -1) << "a second master on the same line";
  EXPECT_EQ(CloseMasterConnection(handle), 0);

  const MasterPortSettings sevenMarkOne{1200, 3, 0, 7, 0, 0, 0, 0, 0};
  handle = ConnectASCII(8, 500, &sevenMarkOne);
  ASSERT_NE(handle, -1) << "the line is free again once closed";
  ASSERT_EQ(::tcgetattr(pty.slaveKeepAlive, &tio), 0);
  EXPECT_EQ(tio.c_cflag & (PARODD | CMSPAR), static_cast<tcflag_t>(PARODD | CMSPAR));
  EXPECT_NE(tio.c_iflag & INPCK, 0u);
  EXPECT_EQ(tio.c_cflag & CSTOPB, 0u);
  EXPECT_EQ(::cfgetospeed(&tio), static_cast<speed_t>(B1200));
  EXPECT_EQ(CloseMasterConnection(handle), 0);

  for (const MasterPortSettings& bad : {MasterPortSettings{9600, 0, 0, 9, 0, 0, 0, 0, 0},
                                        MasterPortSettings{9600, 0, 0, 0, 0, 0, 0, 0, 0},
                                        MasterPortSettings{9600, 5, 0, 8, 0, 0, 0, 0, 0},
                                        MasterPortSettings{9600, 0, 3, 8, 0, 0, 0, 0, 0},
                                        MasterPortSettings{0, 0, 0, 8, 0, 0, 0, 0, 0}}) {
    EXPECT_EQ(ConnectRTU(8, 500, &bad), -1) << "data bits " << int(bad.byDataBits) << ", parity "
                                            << int(bad.byParity) << ", stop bits " << int(bad.byStopBits)
                                            << ", baud " << bad.dwBaudRate;
  }
  const MasterPortSettings good{9600, 0, 0, 8, 0, 0, 0, 0, 0};
  handle = ConnectRTU(8, 500, &good);
  EXPECT_NE(handle, -1) << "a refused set-up leaves the line free";
  if (handle != -1) CloseMasterConnection(handle);
  ::unsetenv("PLEXMAR_COM8");
}

// ---- Modbus/TCP ---------------------------------------------------------------

std::vector<uint8_t> MbapReply(const std::vector<uint8_t>& request, std::vector<uint8_t> pdu) {
  return modbuswire::BuildMbapFrame(modbuswire::GetU16BE(request.data()), 0, request[6], pdu);
}

TEST(TcpMaster, ReadsAndWritesWithMatchingTransactions) {
  CRecordingWindow window;
  std::vector<uint8_t> seen;
  CScriptedTcpServer server([&](const std::vector<uint8_t>& request, bool&) {
    seen = request;
    if (request[7] == 16) return std::optional(MbapReply(request, {16, 0, 99, 0, 2}));
    return std::optional(MbapReply(request, {4, 4, 0, 1, 0, 2}));
  });
  const int32_t h = ConnectTcpWhenReady(server.Port(), &window, 2000);
  ASSERT_NE(h, -1);
  Outcome out = Transact(window, h, 9, 4, 1, 2);
  EXPECT_EQ(out.status, 0);
  EXPECT_EQ(out.words, (std::vector<uint16_t>{1, 2}));
  EXPECT_EQ(std::vector<uint8_t>(seen.begin() + 2, seen.end()),
            (std::vector<uint8_t>{0, 0, 0, 6, 9, 4, 0, 0, 0, 2}));
  out = Transact(window, h, 9, 16, 100, 2, {0x0102, 0xA0B0});
  EXPECT_EQ(out.status, 0);
  EXPECT_EQ(std::vector<uint8_t>(seen.begin() + 7, seen.end()),
            (std::vector<uint8_t>{16, 0, 99, 0, 2, 4, 1, 2, 0xA0, 0xB0}));
  EXPECT_EQ(CloseMasterConnection(h), 0);
  ::usleep(100000);
  EXPECT_EQ(window.Count(kRspMessage), 2u);
}

TEST(TcpMaster, LateReplyOfATimedOutRequestIsSkipped) {
  CRecordingWindow window;
  std::vector<uint8_t> held;
  CScriptedTcpServer server([&](const std::vector<uint8_t>& request, bool&) -> std::optional<std::vector<uint8_t>> {
    if (held.empty()) {
      held = MbapReply(request, {3, 2, 0xDE, 0xAD});
      return std::nullopt;  // silent this time
    }
    std::vector<uint8_t> both = held;
    const auto fresh = MbapReply(request, {3, 2, 0, 7});
    both.insert(both.end(), fresh.begin(), fresh.end());
    return both;
  });
  const int32_t h = ConnectTcpWhenReady(server.Port(), &window, 2000, 300);
  ASSERT_NE(h, -1);
  Outcome out = Transact(window, h, 1, 3, 5, 1);
  EXPECT_EQ(out.status, MLERR_TIMEOUT);
  EXPECT_GE(out.elapsedMs, 280);
  out = Transact(window, h, 1, 3, 5, 1);
  EXPECT_EQ(out.status, 0);
  EXPECT_EQ(out.words, std::vector<uint16_t>{7});
  CloseMasterConnection(h);
  EXPECT_EQ(server.Accepted(), 1);
}

TEST(TcpMaster, ServerClosingMidRequestIsReportedAndTheLinkComesBack) {
  CRecordingWindow window;
  int calls = 0;
  CScriptedTcpServer server([&](const std::vector<uint8_t>& request, bool& close) {
    if (++calls == 1) close = true;
    return std::optional(MbapReply(request, {1, 1, 1}));
  });
  const int32_t h = ConnectTcpWhenReady(server.Port(), &window, 2000);
  ASSERT_NE(h, -1);
  Outcome out = Transact(window, h, 1, 1, 1, 1);
  EXPECT_EQ(out.status, MLERR_CONNECTION_LOST);
  out = Transact(window, h, 1, 1, 1, 1);
  EXPECT_EQ(out.status, 0);
  EXPECT_EQ(out.words, std::vector<uint16_t>{1});
  EXPECT_EQ(server.Accepted(), 2);
  // The link messages say down, then up again.
  std::vector<LPARAM> link;
  for (const auto& m : window.Messages()) {
    if (m.message == WM_USER + 4) link.push_back(m.lParam);
  }
  EXPECT_EQ(link, (std::vector<LPARAM>{0, 1}));
  CloseMasterConnection(h);
  ::usleep(100000);
  EXPECT_EQ(window.Count(kRspMessage), 2u);
}

TEST(TcpMaster, GarbageStreamIsAMismatchAndTheNextRequestReconnects) {
  CRecordingWindow window;
  int calls = 0;
  CScriptedTcpServer server([&](const std::vector<uint8_t>& request, bool&) {
    if (++calls == 1) return std::optional(std::vector<uint8_t>{'H', 'T', 'T', 'P', '/', '1', '.', '1', ' '});
    return std::optional(MbapReply(request, {2, 1, 0}));
  });
  const int32_t h = ConnectTcpWhenReady(server.Port(), &window, 2000);
  ASSERT_NE(h, -1);
  EXPECT_EQ(Transact(window, h, 1, 2, 1, 1).status, MLERR_MISMATCH);
  const Outcome out = Transact(window, h, 1, 2, 1, 1);
  EXPECT_EQ(out.status, 0);
  EXPECT_EQ(out.words, std::vector<uint16_t>{0});
  EXPECT_EQ(server.Accepted(), 2);
  CloseMasterConnection(h);
}

TEST(TcpMaster, RefusedConnectionGivesMinusOne) {
  const uint16_t port = PickFreePort();
  CRecordingWindow window;
  const TcpConnectRecord record{&window, kRspMessage, 1028, 1, 2000};
  EXPECT_EQ(ConnectTCP2(Loopback(), port, &record), -1);
  EXPECT_EQ(ConnectTCP2(Loopback(), port, nullptr), -1);
}

TEST(TcpMaster, UnreachableServerOnReconnectStillAnswersEveryRequest) {
  CRecordingWindow window;
  int32_t h = -1;
  {
    CScriptedTcpServer server([&](const std::vector<uint8_t>&, bool& close) {
      close = true;
      return std::optional<std::vector<uint8_t>>();
    });
    h = ConnectTcpWhenReady(server.Port(), &window, 2000, 300);
    ASSERT_NE(h, -1);
  }
  // The server is gone: each request is accepted and fails with a message.
  for (int i = 0; i < 3; ++i) EXPECT_EQ(Transact(window, h, 1, 3, 1, 1).status, MLERR_CONNECTION_LOST);
  CloseMasterConnection(h);
  ::usleep(100000);
  EXPECT_EQ(window.Count(kRspMessage), 3u);
}

}  // namespace
