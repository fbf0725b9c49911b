// Masters we did not write against our slave: libmodbus (C), pymodbus and
// mbpoll, over Modbus/TCP and over serial lines made of pseudo-terminals.
#include <gtest/gtest.h>

#include <cstdio>
#include <sys/wait.h>

#include "SlaveTestSupport.h"

extern "C" int libmodbus_master_tcp(int port);
extern "C" int libmodbus_master_rtu(const char* device);

using namespace slavetest;

namespace {

// Two pseudo-terminals joined back to back: what is written to one's device
// comes out of the other's, as on a null-modem cable. The slave library gets
// one device (through PLEXMAR_COMn), the peer the other.
class NullModem {
 public:
  explicit NullModem(int comPort) : m_libSide(comPort), m_peerSide(0) {
    m_thread = std::thread([this] { Run(); });
  }
  ~NullModem() {
    m_stop = true;
    m_thread.join();
  }
  const std::string& PeerDevice() const { return m_peerSide.Device(); }

 private:
  void Run() {
    const int a = MasterFd(m_libSide), b = MasterFd(m_peerSide);
    while (!m_stop) {
      pollfd fds[2] = {{a, POLLIN, 0}, {b, POLLIN, 0}};
      if (poll(fds, 2, 20) <= 0) continue;
      Forward(fds[0], b);
      Forward(fds[1], a);
    }
  }
  static void Forward(const pollfd& from, int to) {
    if (!(from.revents & POLLIN)) {
      // Nobody holds the other end open at the moment.
      if (from.revents & (POLLHUP | POLLERR)) std::this_thread::sleep_for(std::chrono::milliseconds(5));
      return;
    }
    uint8_t buffer[4096];
    const ssize_t n = ::read(from.fd, buffer, sizeof buffer);
    if (n > 0) {
      [[maybe_unused]] const ssize_t written = ::write(to, buffer, static_cast<size_t>(n));
    }
  }
  static int MasterFd(const PtyPair& pair) { return pair.MasterFd(); }

  PtyPair m_libSide;
  PtyPair m_peerSide;
  std::atomic<bool> m_stop{false};
  std::thread m_thread;
};

struct CommandResult {
  int status = -1;
  std::string output;
};

CommandResult RunCommand(const std::string& command) {
  CommandResult result;
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return result;
  char buffer[512];
  while (fgets(buffer, sizeof buffer, pipe) != nullptr) result.output += buffer;
  const int status = pclose(pipe);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

const std::string kPyMaster = std::string(PLEXMAR_SOURCE_DIR) + "/tests/slavelink/pymodbus_master.py";

class Interop : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetLibrary();
    m_holding.resize(10);
    m_input.resize(4);
    m_coils.resize(16);
    m_discrete.resize(8);
    for (int i = 0; i < 10; ++i) m_holding[i] = static_cast<uint16_t>(100 + i);
    for (int i = 0; i < 4; ++i) m_input[i] = static_cast<uint16_t>(200 + i);
    for (int i = 0; i < 16; ++i) m_coils[i] = i % 2 == 0;
    for (int i = 0; i < 8; ++i) m_discrete[i] = i % 2 == 0;
    ASSERT_EQ(DefineDataBlock(1, 3, 1, 10, m_holding.data()), 1);
    ASSERT_EQ(DefineDataBlock(1, 4, 1, 4, m_input.data()), 2);
    ASSERT_EQ(DefineDataBlock(1, 1, 1, 16, m_coils.data()), 3);
    ASSERT_EQ(DefineDataBlock(1, 2, 1, 8, m_discrete.data()), 4);
  }
  void TearDown() override {
    CloseSlaveConnection(8050);
    if (m_serial > 0) CloseSlaveConnection(m_serial);
    ResetLibrary();
  }
  void OpenSerial(int protocol) {
    const SlavePortSettings s = Settings(115200);
    m_serial = OpenConnection(nullptr, 4, protocol, 0, &s);
    ASSERT_GT(m_serial, 0);
  }
  void ExpectWritesLanded() {
    EXPECT_EQ(Peek(m_holding[2]), 0xBEEF);
    EXPECT_EQ(Peek(m_holding[7]), 9);
    EXPECT_EQ(Peek(m_coils[1]), 1);
    EXPECT_EQ(Peek(m_coils[9]), 0);
  }

  std::vector<uint16_t> m_holding, m_input, m_coils, m_discrete;
  int32_t m_serial = -1;
};

}  // namespace

TEST_F(Interop, LibmodbusOverTcp) {
  const uint16_t port = StartTcpServer();
  ASSERT_NE(port, 0);
  EXPECT_EQ(libmodbus_master_tcp(port), 0);
  ExpectWritesLanded();
}

TEST_F(Interop, LibmodbusOverRtu) {
  NullModem line(4);
  OpenSerial(1);
  EXPECT_EQ(libmodbus_master_rtu(line.PeerDevice().c_str()), 0);
  ExpectWritesLanded();
  int32_t good = 0, bad = 0;
  SlaveStatus(m_serial, &good, &bad, 0);
  EXPECT_EQ(good, 13);  // every request of the master's run, exceptions included
  EXPECT_EQ(bad, 0);
}

TEST_F(Interop, PymodbusOverTcp) {
  const uint16_t port = StartTcpServer();
  const CommandResult r = RunCommand("/usr/bin/python3 " + kPyMaster + " tcp " + std::to_string(port));
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("PASS"), std::string::npos) << r.output;
  ExpectWritesLanded();
}

TEST_F(Interop, PymodbusOverRtu) {
  NullModem line(4);
  OpenSerial(1);
  const CommandResult r = RunCommand("/usr/bin/python3 " + kPyMaster + " rtu " + line.PeerDevice());
  EXPECT_EQ(r.status, 0) << r.output;
  ExpectWritesLanded();
}

TEST_F(Interop, PymodbusOverAscii) {
  NullModem line(4);
  OpenSerial(2);
  const CommandResult r = RunCommand("/usr/bin/python3 " + kPyMaster + " ascii " + line.PeerDevice());
  EXPECT_EQ(r.status, 0) << r.output;
  ExpectWritesLanded();
}

TEST_F(Interop, MbpollOverTcp) {
  const uint16_t port = StartTcpServer();
  const std::string base = "mbpoll -m tcp -p " + std::to_string(port) + " -a 1 -1 -o 2 ";

  CommandResult r = RunCommand(base + "-t 4 -r 1 -c 4 127.0.0.1");
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("[1]: \t100"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("[4]: \t103"), std::string::npos) << r.output;

  r = RunCommand(base + "-t 4 -r 3 127.0.0.1 4321 4322");
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(Peek(m_holding[2]), 4321);
  EXPECT_EQ(Peek(m_holding[3]), 4322);

  r = RunCommand(base + "-t 0 -r 2 127.0.0.1 1");
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(Peek(m_coils[1]), 1);
  r = RunCommand(base + "-t 0 -r 1 -c 3 127.0.0.1");
  EXPECT_NE(r.output.find("[2]: \t1"), std::string::npos) << r.output;

  r = RunCommand(base + "-t 3 -r 1 -c 2 127.0.0.1");
  EXPECT_NE(r.output.find("[2]: \t201"), std::string::npos) << r.output;

  // Past the block: the slave's exception 2 reaches mbpoll.
  r = RunCommand(base + "-t 4 -r 11 -c 1 127.0.0.1");
  EXPECT_NE(r.output.find("Illegal data address"), std::string::npos) << r.output;
}

TEST_F(Interop, MbpollOverRtu) {
  NullModem line(4);
  OpenSerial(1);
  const std::string base = "mbpoll -m rtu -b 115200 -P none -a 1 -1 -o 2 ";
  CommandResult r = RunCommand(base + "-t 4 -r 1 -c 3 " + line.PeerDevice());
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("[3]: \t102"), std::string::npos) << r.output;
  r = RunCommand(base + "-t 4 -r 10 " + line.PeerDevice() + " 777");
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(Peek(m_holding[9]), 777);
  r = RunCommand(base + "-t 1 -r 9 -c 1 " + line.PeerDevice());
  EXPECT_NE(r.output.find("Illegal data address"), std::string::npos) << r.output;
}
