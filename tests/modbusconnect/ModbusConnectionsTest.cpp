// Opening Modbus connections from the stored settings, host conversion,
// messages and the menu enabling rules, against the real libraries.
#include <gtest/gtest.h>

#include <pty.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>
#include <vector>

#include <chrono>
#include <cstddef>
#include <thread>

#include "ConnectTestSupport.h"
#include "connections/ModbusConnections.h"
#include "core/PlexmarApp.h"

using namespace modbusconn;

namespace {

// A window that only counts what it is sent.
class CCountingWindow : public MessageTarget {
 public:
  bool Post(UINT message, WPARAM, LPARAM) override {
    if (message == WM_USER + 3) ++m_responses;
    return true;
  }
  bool StartTimer(UINT_PTR, UINT, TIMERPROC) override { return true; }
  bool StopTimer(UINT_PTR) override { return true; }
  std::atomic<int> m_responses{0};
};

TEST(ModbusConnections, RecordsCarryTheSettingsInTheirOwnFieldOrders) {
  CommPortSettings s;
  s.nBaudRate = 19200;
  s.nParity = 2;
  s.nStopBits = 1;
  s.nDataBits = 7;
  const MasterPortSettings master = MasterRecordOf(s);
  const auto* bytes = reinterpret_cast<const uint8_t*>(&master);
  EXPECT_EQ(offsetof(MasterPortSettings, byParity), 4u);
  EXPECT_EQ(bytes[4], 2);  // parity, stop bits, data bits
  EXPECT_EQ(bytes[5], 1);
  EXPECT_EQ(bytes[6], 7);
  EXPECT_EQ(master.dwBaudRate, 19200u);
  EXPECT_EQ(master.dwReserved1 | master.dwReserved2 | master.byReserved3 | master.byReserved4, 0u);
  const SlavePortSettings slave = SlaveRecordOf(s);
  EXPECT_EQ(slave.dataBits, 7);  // the slave record has data bits first
  EXPECT_EQ(slave.parity, 2);
  EXPECT_EQ(slave.stopBits, 1);
  EXPECT_EQ(slave.ctsFlow | slave.dsrFlow | slave.preSendDelay | slave.postSendDelay, 0u);
}

TEST(ModbusConnections, HostTextIsADottedAddressOrANameLookup) {
  uint32_t address = 0;
  EXPECT_EQ(ResolveHost("192.168.1.20", address), EHostLookup::kFound);
  EXPECT_EQ(address, htonl(0xC0A80114));
  EXPECT_EQ(ResolveHost("255.255.255.255", address), EHostLookup::kFound);
  EXPECT_EQ(address, 0xFFFFFFFFu);
  EXPECT_EQ(ResolveHost("localhost", address), EHostLookup::kFound);
  EXPECT_EQ(address, htonl(INADDR_LOOPBACK));
  EXPECT_EQ(ResolveHost("no-such-host.invalid", address), EHostLookup::kLookupFailed);
  EXPECT_EQ(ResolveHost("", address), EHostLookup::kLookupFailed);
}

class TcpMasterConnect : public ::testing::Test {
 protected:
  void SetUp() override {
    m_app.SetHostUi(&m_host);
    m_app.SetMainWindow(&m_window);
  }
  void TearDown() override {
    for (auto& slot : m_app.m_tcpMasters) {
      if (slot.hMaster != -1) CloseMasterConnection(slot.hMaster);
      slot.hMaster = -1;
    }
  }
  CPlexmarApp m_app;
  CRecordingHost m_host;
  CCountingWindow m_window;
};

TEST_F(TcpMasterConnect, DottedAddressConnectsAndHooksTheMainWindow) {
  CLoopbackListener listener;
  m_app.m_tcpMasters[3] = TcpMasterSlot{-1, "127.0.0.1", listener.Port()};
  ASSERT_TRUE(ConnectTcpMaster(m_app, 3));
  EXPECT_NE(m_app.m_tcpMasters[3].hMaster, -1);
  EXPECT_TRUE(m_host.m_messages.empty());
  EXPECT_EQ(m_app.GetMasterHandle("127.0.0.1"), m_app.m_tcpMasters[3].hMaster);
  // The reply message of a request goes to the main window (the listener
  // never answers; closing ends the request).
  const ModbusRequestHeader header{1, 3, 1, 1};
  ASSERT_EQ(PollMODBUS(m_app.m_tcpMasters[3].hMaster, &header), 0);
  CloseMasterConnection(m_app.m_tcpMasters[3].hMaster);
  EXPECT_EQ(m_window.m_responses.load(), 1);
  m_app.m_tcpMasters[3].hMaster = -1;
}

TEST_F(TcpMasterConnect, PortBeyondSixteenBitsIsNotCutToAnotherPort) {
  CLoopbackListener listener;
  // Cut to 16 bits this would be the listener's port.
  m_app.m_tcpMasters[0] = TcpMasterSlot{-1, "127.0.0.1", 65536 + listener.Port()};
  EXPECT_FALSE(ConnectTcpMaster(m_app, 0));
  EXPECT_EQ(m_app.m_tcpMasters[0].hMaster, -1);
  EXPECT_EQ(m_host.m_messages, std::vector<std::string>{"modbus/TCP Connection Failed"});
}

TEST(ModbusConnections, SerialMasterOpensTheConfiguredDeviceAndHooksTheWindow) {
  int master = -1, slave = -1;
  char name[128] = {};
  ASSERT_EQ(::openpty(&master, &slave, name, nullptr, nullptr), 0);
  ::setenv("PLEXMAR_COM4", name, 1);
  CPlexmarApp app;
  CCountingWindow window;
  app.SetMainWindow(&window);
  app.m_comm[3].nProtocol = 0;  // ASCII
  app.m_comm[3].nMasterTimeout = 100;
  OpenCommMaster(app, 4);
  ASSERT_NE(app.m_comm[3].hMaster, -1);
  const ModbusRequestHeader header{1, 3, 1, 1};
  ASSERT_EQ(PollMODBUS(app.m_comm[3].hMaster, &header), 0);
  // ASCII framing on the line, and the time-out reply reaches the window.
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  char line[64] = {};
  const ssize_t n = ::read(master, line, sizeof line - 1);
  EXPECT_GT(n, 0);
  EXPECT_EQ(line[0], ':');
  for (int i = 0; i < 100 && window.m_responses.load() == 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(window.m_responses.load(), 1);
  CloseMasterConnection(app.m_comm[3].hMaster);

  // A port that cannot be opened leaves the handle at -1, silently.
  ::setenv("PLEXMAR_COM5", "/nonexistent/tty", 1);
  OpenCommMaster(app, 5);
  EXPECT_EQ(app.m_comm[4].hMaster, -1);
  ::unsetenv("PLEXMAR_COM4");
  ::unsetenv("PLEXMAR_COM5");
  ::close(master);
  ::close(slave);
}

TEST(ModbusConnections, TcpSlaveListensOnTheStoredPortOnce) {
  CPlexmarApp app;
  app.m_nTcpSlavePort = UnusedPort();
  EXPECT_TRUE(IsTcpSlaveStartable(app));
  OpenTcpSlave(app);
  ASSERT_EQ(app.m_hTcpSlave, 8050);
  EXPECT_FALSE(IsTcpSlaveStartable(app));
  // It is our slave that listens there: it answers a read of a word it lends.
  uint16_t word = 4242;
  const int32_t block = DefineDataBlock(1, SLAVELINK_HOLDING_REGISTER, 1, 1, &word);
  ASSERT_GT(block, 0);
  int fd = -1;
  for (int i = 0; i < 100 && fd < 0; ++i) {
    fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(app.m_nTcpSlavePort));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
      ::close(fd);
      fd = -1;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  ASSERT_GE(fd, 0) << "nothing listens on the stored port";
  const uint8_t request[] = {0x12, 0x34, 0, 0, 0, 6, 1, 3, 0, 0, 0, 1};
  ASSERT_EQ(::send(fd, request, sizeof request, MSG_NOSIGNAL), static_cast<ssize_t>(sizeof request));
  timeval wait{5, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
  uint8_t answer[11] = {};
  size_t got = 0;
  while (got < sizeof answer) {
    const ssize_t n = ::recv(fd, answer + got, sizeof answer - got, 0);
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  ::close(fd);
  const uint8_t expected[] = {0x12, 0x34, 0, 0, 0, 5, 1, 3, 2, 4242 >> 8, 4242 & 0xFF};
  EXPECT_EQ(std::vector<uint8_t>(answer, answer + got), std::vector<uint8_t>(expected, expected + sizeof expected));
  CloseSlaveConnection(8050);
  RemoveDataBlock(block);
}

}  // namespace
