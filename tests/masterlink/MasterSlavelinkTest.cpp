// The master library against our own slave library over a serial line: the
// two ends of a socat pseudo-terminal pair, RTU and ASCII. Points read and
// written here are the slave's lent words.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "MasterTestSupport.h"
#include "slavelink/slavelink.h"

using namespace mltest;

namespace {

bool WaitForPath(const std::string& path) {
  for (int i = 0; i < 100; ++i) {
    if (std::filesystem::exists(path)) return true;
    ::usleep(50000);
  }
  return false;
}

class SlavelinkSerial : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    if (::access("/usr/bin/socat", X_OK) != 0) GTEST_SKIP() << "socat is not installed";
    char dir[] = "/tmp/mlslvXXXXXX";
    ASSERT_NE(::mkdtemp(dir), nullptr);
    m_dir = dir;
    ASSERT_TRUE(m_socat.Start({"/usr/bin/socat", "pty,raw,echo=0,wait-slave,link=" + m_dir + "/a",
                               "pty,raw,echo=0,wait-slave,link=" + m_dir + "/b"}));
    for (int i = 0; i < 40; ++i) {
      m_holding[i] = static_cast<uint16_t>(7000 + i);
      m_coils[i] = i % 5 == 0;
    }
    m_hHolding = DefineDataBlock(3, SLAVELINK_HOLDING_REGISTER, 1, 40, m_holding);
    m_hCoils = DefineDataBlock(3, SLAVELINK_COIL_STATUS, 1, 40, m_coils);
    ASSERT_GT(m_hHolding, 0);

    const bool ascii = GetParam();
    ASSERT_TRUE(WaitForPath(m_dir + "/a"));
    ::setenv("PLEXMAR_COM1", (m_dir + "/a").c_str(), 1);
    const MasterPortSettings master{38400, 0, 0, 8, 0, 0, 0, 0, 0};
    m_hMaster = ascii ? ConnectASCII(1, 1000, &master) : ConnectRTU(1, 1000, &master);
    ASSERT_NE(m_hMaster, -1);
    ASSERT_EQ(HookRspNotification(m_hMaster, &m_window, kRspMessage, 0), 0);

    ASSERT_TRUE(WaitForPath(m_dir + "/b"));
    ::setenv("PLEXMAR_COM2", (m_dir + "/b").c_str(), 1);
    const SlavePortSettings slave{38400, 8, 0, 0, 0, 0, 0, 0};
    m_hSlave = OpenConnection(nullptr, 2, ascii ? 0 : 1, 101, &slave);
    ASSERT_NE(m_hSlave, -1);
    // A request sent before socat relays or before the slave has flushed its
    // freshly opened port is lost.
    ASSERT_TRUE(WaitUntilLineCarries(m_window, m_hMaster, 3, 20)) << "the line never carried a request";
    m_nBefore = m_window.Count(kRspMessage);
  }
  void TearDown() override {
    if (m_hMaster != -1) CloseMasterConnection(m_hMaster);
    if (m_hSlave != -1) CloseSlaveConnection(m_hSlave);
    if (m_hHolding > 0) RemoveDataBlock(m_hHolding);
    if (m_hCoils > 0) RemoveDataBlock(m_hCoils);
    m_socat.Stop();
    ::unsetenv("PLEXMAR_COM1");
    ::unsetenv("PLEXMAR_COM2");
    if (!m_dir.empty()) std::filesystem::remove_all(m_dir);
  }

  CChildProcess m_socat;
  CRecordingWindow m_window;
  std::string m_dir;
  uint16_t m_holding[40] = {};
  uint16_t m_coils[40] = {};
  int32_t m_hHolding = 0, m_hCoils = 0;
  int32_t m_hMaster = -1, m_hSlave = -1;
  size_t m_nBefore = 0;
};

TEST_P(SlavelinkSerial, ReadsWritesAndASilentSlaveId) {
  Outcome out = Transact(m_window, m_hMaster, 3, 3, 1, 40);
  ASSERT_EQ(out.status, 0);
  EXPECT_EQ(out.words[0], 7000);
  EXPECT_EQ(out.words[39], 7039);
  out = Transact(m_window, m_hMaster, 3, 1, 1, 11);
  ASSERT_EQ(out.status, 0);
  EXPECT_EQ(out.words, (std::vector<uint16_t>{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}));

  EXPECT_EQ(Transact(m_window, m_hMaster, 3, 16, 20, 2, {1, 0xFFFF}).status, 0);
  EXPECT_EQ(m_holding[19], 1);
  EXPECT_EQ(m_holding[20], 0xFFFF);
  EXPECT_EQ(Transact(m_window, m_hMaster, 3, 15, 2, 3, {1, 1, 0}).status, 0);
  EXPECT_EQ(m_coils[1], 1);
  EXPECT_EQ(m_coils[2], 1);
  EXPECT_EQ(m_coils[3], 0);

  // Points the slave does not have, and a slave id it does not answer.
  EXPECT_EQ(Transact(m_window, m_hMaster, 3, 3, 39, 5).status, MLERR_EXCEPTION(2));
  out = Transact(m_window, m_hMaster, 4, 3, 1, 1);
  EXPECT_EQ(out.status, MLERR_TIMEOUT);
  EXPECT_GE(out.elapsedMs, 950);
  EXPECT_EQ(Transact(m_window, m_hMaster, 3, 3, 1, 1).words, std::vector<uint16_t>{7000});
  ::usleep(100000);
  EXPECT_EQ(m_window.Count(kRspMessage), m_nBefore + 7);
}

INSTANTIATE_TEST_SUITE_P(Framing, SlavelinkSerial, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Ascii" : "Rtu"; });

}  // namespace
