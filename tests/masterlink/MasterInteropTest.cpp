// The master library against slaves we did not write: pymodbus over
// Modbus/TCP and over RTU and ASCII on a pseudo-terminal pair made by socat,
// and a libmodbus Modbus/TCP slave.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "MasterTestSupport.h"

using namespace mltest;

namespace {

std::vector<uint16_t> Points(int first, int count, uint16_t (*valueOf)(int)) {
  std::vector<uint16_t> v;
  for (int n = first; n < first + count; ++n) v.push_back(valueOf(n));
  return v;
}

// The tables of pymodbus_slave.py.
uint16_t PyCoil(int n) { return n % 3 == 0; }
uint16_t PyInput(int n) { return n % 2; }
uint16_t PyHolding(int n) { return static_cast<uint16_t>(1000 + n); }
uint16_t PyInputRegister(int n) { return static_cast<uint16_t>(2000 + n); }

// Reads of all four point types and a write of each kind read back: the part
// every peer must agree with.
void ExpectReadsAndWritesAgree(CRecordingWindow& window, int32_t h) {
  Outcome out = Transact(window, h, 1, 1, 1, 20);
  ASSERT_EQ(out.status, 0);
  EXPECT_EQ(out.words, Points(1, 20, PyCoil));
  out = Transact(window, h, 1, 2, 7, 11);
  ASSERT_EQ(out.status, 0);
  EXPECT_EQ(out.words, Points(7, 11, PyInput));
  out = Transact(window, h, 1, 3, 1, 100);
  ASSERT_EQ(out.status, 0);
  EXPECT_EQ(out.words, Points(1, 100, PyHolding));
  out = Transact(window, h, 1, 4, 150, 50);
  ASSERT_EQ(out.status, 0);
  EXPECT_EQ(out.words, Points(150, 50, PyInputRegister));

  out = Transact(window, h, 1, 16, 40, 3, {7, 0xFFFF, 0x8000});
  EXPECT_EQ(out.status, 0);
  EXPECT_EQ(out.header.nFunction, 16);
  out = Transact(window, h, 1, 3, 39, 5);
  EXPECT_EQ(out.words, (std::vector<uint16_t>{1039, 7, 0xFFFF, 0x8000, 1043}));

  out = Transact(window, h, 1, 15, 100, 10, {1, 1, 1, 1, 1, 1, 1, 1, 1, 1});
  EXPECT_EQ(out.status, 0);
  out = Transact(window, h, 1, 1, 99, 12);
  EXPECT_EQ(out.words, (std::vector<uint16_t>{1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0}));
}

class PymodbusTcp : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!HavePymodbus()) GTEST_SKIP() << "pymodbus is not installed";
    m_port = PickFreePort();
    StartServer();
    m_handle = ConnectTcpWhenReady(m_port, &m_window, 15000, 600);
    ASSERT_NE(m_handle, -1);
  }
  void TearDown() override {
    if (m_handle != -1) CloseMasterConnection(m_handle);
  }
  void StartServer() {
    ASSERT_TRUE(m_server.Start({"/usr/bin/python3", TestSourceDir() + "/pymodbus_slave.py", "tcp",
                                std::to_string(m_port)}));
  }
  CChildProcess m_server;
  CRecordingWindow m_window;
  uint16_t m_port = 0;
  int32_t m_handle = -1;
};

TEST_F(PymodbusTcp, ReadsAllPointTypesAndWritesBack) {
  ExpectReadsAndWritesAgree(m_window, m_handle);
  ::usleep(100000);
  EXPECT_EQ(m_window.Count(kRspMessage), 8u);
}

TEST_F(PymodbusTcp, ExceptionAndSilentSlaveKeepTheChainMoving) {
  Outcome out = Transact(m_window, m_handle, 1, 3, 195, 10);
  EXPECT_EQ(out.status, MLERR_EXCEPTION(2));
  // Slave 2 does not exist and the server keeps quiet about it.
  out = Transact(m_window, m_handle, 2, 3, 1, 1);
  EXPECT_EQ(out.status, MLERR_TIMEOUT);
  EXPECT_GE(out.elapsedMs, 550);
  out = Transact(m_window, m_handle, 1, 4, 1, 1);
  EXPECT_EQ(out.status, 0);
  EXPECT_EQ(out.words, std::vector<uint16_t>{2001});
  ::usleep(100000);
  EXPECT_EQ(m_window.Count(kRspMessage), 3u);
}

TEST_F(PymodbusTcp, ServerGoingAwayMidRequestAndComingBack) {
  // A reply time-out long enough that the server going away, not the
  // time-out, ends the request even on a busy machine.
  CloseMasterConnection(m_handle);
  m_handle = ConnectTcpWhenReady(m_port, &m_window, 15000, 10000);
  ASSERT_NE(m_handle, -1);
  const ModbusRequestHeader toNobody{2, 3, 1, 1};
  ASSERT_EQ(PollMODBUS(m_handle, &toNobody), 0);
  ::usleep(100000);
  m_server.Stop();
  ASSERT_TRUE(m_window.WaitFor(kRspMessage, 1, 3000));
  ModbusRequestHeader header{};
  EXPECT_EQ(MODBUSResponse(m_handle, &header, nullptr, 0), MLERR_CONNECTION_LOST);
  EXPECT_EQ(header.nSlaveId, 2);

  StartServer();
  Outcome out;
  for (int attempt = 0; attempt < 60; ++attempt) {
    out = Transact(m_window, m_handle, 1, 3, 5, 1);
    if (out.status == 0) break;
    EXPECT_EQ(out.status, MLERR_CONNECTION_LOST);
    ::usleep(250000);
  }
  EXPECT_EQ(out.status, 0);
  EXPECT_EQ(out.words, std::vector<uint16_t>{1005});
}

bool WaitForPath(const std::string& path) {
  for (int i = 0; i < 100; ++i) {
    if (std::filesystem::exists(path)) return true;
    ::usleep(50000);
  }
  return false;
}

class PymodbusSerial : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    if (!HavePymodbus()) GTEST_SKIP() << "pymodbus is not installed";
    if (::access("/usr/bin/socat", X_OK) != 0) GTEST_SKIP() << "socat is not installed";
    char dir[] = "/tmp/mlptyXXXXXX";
    ASSERT_NE(::mkdtemp(dir), nullptr);
    m_dir = dir;
    // With wait-slave, socat makes the second terminal only once the first has
    // been opened, and relays only when both are: open ours first.
    ASSERT_TRUE(m_socat.Start({"/usr/bin/socat", "pty,raw,echo=0,wait-slave,link=" + m_dir + "/master",
                               "pty,raw,echo=0,wait-slave,link=" + m_dir + "/slave"}));
    ASSERT_TRUE(WaitForPath(m_dir + "/master"));
    const bool ascii = GetParam();
    ::setenv("PLEXMAR_COM3", (m_dir + "/master").c_str(), 1);
    // Pseudo-terminals refuse a parity setting through pyserial: no parity.
    const MasterPortSettings settings{19200, 0, 0, 8, 0, 0, 0, 0, 0};
    m_handle = ascii ? ConnectASCII(3, 700, &settings) : ConnectRTU(3, 700, &settings);
    ASSERT_NE(m_handle, -1);
    ASSERT_TRUE(WaitForPath(m_dir + "/slave"));
    ASSERT_TRUE(m_server.Start({"/usr/bin/python3", TestSourceDir() + "/pymodbus_slave.py",
                                ascii ? "ascii" : "rtu", m_dir + "/slave"}));
    ASSERT_EQ(HookRspNotification(m_handle, &m_window, kRspMessage, 0), 0);
    ASSERT_TRUE(WaitUntilLineCarries(m_window, m_handle, 1, 40)) << "the pymodbus slave never answered";
    m_before = m_window.Count(kRspMessage);
  }
  void TearDown() override {
    if (m_handle != -1) CloseMasterConnection(m_handle);
    m_server.Stop();
    m_socat.Stop();
    ::unsetenv("PLEXMAR_COM3");
    if (!m_dir.empty()) std::filesystem::remove_all(m_dir);
  }
  CChildProcess m_socat;
  CChildProcess m_server;
  CRecordingWindow m_window;
  std::string m_dir;
  int32_t m_handle = -1;
  size_t m_before = 0;
};

TEST_P(PymodbusSerial, ReadsAllPointTypesAndWritesBack) {
  ExpectReadsAndWritesAgree(m_window, m_handle);
  ::usleep(100000);
  EXPECT_EQ(m_window.Count(kRspMessage), m_before + 8);
}

TEST_P(PymodbusSerial, ExceptionAndSilentSlave) {
  EXPECT_EQ(Transact(m_window, m_handle, 1, 1, 199, 5).status, MLERR_EXCEPTION(2));
  const Outcome out = Transact(m_window, m_handle, 5, 3, 1, 1);
  EXPECT_EQ(out.status, MLERR_TIMEOUT);
  EXPECT_GE(out.elapsedMs, 650);
  EXPECT_EQ(Transact(m_window, m_handle, 1, 2, 3, 1).words, std::vector<uint16_t>{1});
}

INSTANTIATE_TEST_SUITE_P(Framing, PymodbusSerial, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Ascii" : "Rtu"; });

TEST(LibmodbusTcp, ReadsWritesAndExceptions) {
  const uint16_t port = PickFreePort();
  CChildProcess server;
  ASSERT_TRUE(server.Start({LIBMODBUS_SLAVE_PATH, std::to_string(port)}));
  CRecordingWindow window;
  const int32_t h = ConnectTcpWhenReady(port, &window, 10000);
  ASSERT_NE(h, -1);
  Outcome out = Transact(window, h, 1, 1, 1, 16);
  EXPECT_EQ(out.words, Points(1, 16, [](int n) -> uint16_t { return n % 2; }));
  out = Transact(window, h, 1, 2, 1, 9);
  EXPECT_EQ(out.words, Points(1, 9, [](int n) -> uint16_t { return n % 4 == 0; }));
  out = Transact(window, h, 1, 3, 200, 101);
  EXPECT_EQ(out.words, Points(200, 101, [](int n) -> uint16_t { return static_cast<uint16_t>(3000 + n); }));
  out = Transact(window, h, 1, 4, 300, 1);
  EXPECT_EQ(out.words, std::vector<uint16_t>{4300});

  EXPECT_EQ(Transact(window, h, 1, 16, 2, 2, {11, 22}).status, 0);
  EXPECT_EQ(Transact(window, h, 1, 3, 1, 4).words, (std::vector<uint16_t>{3001, 11, 22, 3004}));
  EXPECT_EQ(Transact(window, h, 1, 15, 1, 3, {0, 0, 1}).status, 0);
  EXPECT_EQ(Transact(window, h, 1, 1, 1, 4).words, (std::vector<uint16_t>{0, 0, 1, 0}));

  EXPECT_EQ(Transact(window, h, 1, 4, 300, 2).status, MLERR_EXCEPTION(2));
  EXPECT_EQ(CloseMasterConnection(h), 0);
  ::usleep(100000);
  EXPECT_EQ(window.Count(kRspMessage), 9u);
}

}  // namespace
