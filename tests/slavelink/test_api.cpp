// The exported interface: the data block table, handles, counters and the
// traffic log.
#include <gtest/gtest.h>

#include <cstddef>

#include "SlaveTestSupport.h"
#include "platform/serialport.h"

using namespace slavetest;

namespace {

class SlaveApi : public ::testing::Test {
 protected:
  void SetUp() override { ResetLibrary(); }
  void TearDown() override { ResetLibrary(); }
};

}  // namespace

TEST_F(SlaveApi, SettingsRecordHasItsNaturalCLayout) {
  EXPECT_EQ(sizeof(SlavePortSettings), 20u);
  EXPECT_EQ(offsetof(SlavePortSettings, dataBits), 4u);
  EXPECT_EQ(offsetof(SlavePortSettings, parity), 5u);
  EXPECT_EQ(offsetof(SlavePortSettings, stopBits), 6u);
  EXPECT_EQ(offsetof(SlavePortSettings, ctsFlow), 8u);
  EXPECT_EQ(offsetof(SlavePortSettings, dsrFlow), 12u);
  EXPECT_EQ(offsetof(SlavePortSettings, preSendDelay), 16u);
  EXPECT_EQ(offsetof(SlavePortSettings, postSendDelay), 17u);
  EXPECT_EQ(DLL_Revision(), 516);
}

TEST_F(SlaveApi, TableFillsReusesAndRefusesBadHandles) {
  uint16_t word = 0;
  for (int i = 1; i <= 250; ++i) ASSERT_EQ(DefineDataBlock(1, 3, static_cast<uint16_t>(i), 1, &word), i);
  EXPECT_EQ(DefineDataBlock(1, 3, 1, 1, &word), 0);
  EXPECT_EQ(RemoveDataBlock(7), 1);
  EXPECT_EQ(DefineDataBlock(2, 4, 1, 1, &word), 7);
  EXPECT_EQ(DefineDataBlock(2, 4, 1, 1, &word), 0);

  for (int bad : {0, 251, -1, 1 << 30}) {
    EXPECT_EQ(RemoveDataBlock(bad), 0) << bad;
    EXPECT_EQ(EnableDoWriteNotification(nullptr, bad, 1, 1025), 0) << bad;
  }
  // Inside the range but free: accepted.
  ResetLibrary();
  EXPECT_EQ(RemoveDataBlock(100), 1);
  EXPECT_EQ(EnableDoWriteNotification(nullptr, 100, 0, 0), 1);
  // A definition keeps the notify window and message of the entry but not
  // its enable flag.
  EXPECT_EQ(DefineDataBlock(1, 3, 1, 1, &word), 1);
  EXPECT_EQ(slavelink::State().m_table[0].m_bNotifyEnabled.load(), 0);
}

TEST_F(SlaveApi, ActivateSlaveIdTouchesOnlyThatId) {
  uint16_t word = 0;
  ASSERT_EQ(DefineDataBlock(5, 3, 1, 1, &word), 1);
  ASSERT_EQ(DefineDataBlock(6, 3, 1, 1, &word), 2);
  ActivateSlaveId(5, 0);
  EXPECT_EQ(slavelink::State().m_table[0].m_nActive.load(), 0);
  EXPECT_EQ(slavelink::State().m_table[1].m_nActive.load(), 1);
  ActivateSlaveId(5, 7);
  EXPECT_EQ(slavelink::State().m_table[0].m_nActive.load(), 7);
}

TEST_F(SlaveApi, UnknownHandlesAreRefusedWithoutSideEffects) {
  int32_t good = 111, bad = 222;
  // Free serial records hold -1; that must not make -1 a handle.
  for (int32_t handle : {-1, 0, 3, 8049, 8051}) {
    EXPECT_EQ(SlaveStatus(handle, &good, &bad, 1), 0x100) << handle;
    EXPECT_EQ(CloseSlaveConnection(handle), 0) << handle;
    EXPECT_EQ(SetProtocolOptions(handle, 1), 0) << handle;
    uint16_t entry = 0;
    EXPECT_EQ(ReadDebugData(handle, &entry, 0, 1), 0) << handle;
  }
  EXPECT_EQ(good, 111);
  EXPECT_EQ(bad, 222);
  // 8050 always names the TCP record, running or not.
  EXPECT_EQ(SlaveStatus(8050, nullptr, nullptr, 0), 0);
  EXPECT_EQ(SetProtocolOptions(8050, 1), 1);
  EXPECT_EQ(CloseSlaveConnection(8050), 1);
}

TEST_F(SlaveApi, OpenConnectionRefusesPortsOutsideOneToNine) {
  const SlavePortSettings s = Settings(9600);
  EXPECT_EQ(OpenConnection(nullptr, 0, 1, 1, &s), -1);
  EXPECT_EQ(OpenConnection(nullptr, 10, 1, 1, &s), -1);
  EXPECT_EQ(OpenConnection(nullptr, -3, 1, 1, &s), -1);
  EXPECT_EQ(OpenConnection(nullptr, 1, 1, 1, nullptr), -1);
  // A device that does not exist.
  setenv("PLEXMAR_COM9", "/nonexistent/tty", 1);
  EXPECT_EQ(OpenConnection(nullptr, 9, 1, 1, &s), -1);
  // Not a terminal: a plain file is refused too.
  setenv("PLEXMAR_COM9", "/dev/null", 1);
  EXPECT_EQ(OpenConnection(nullptr, 9, 1, 1, &s), -1);
  unsetenv("PLEXMAR_COM9");
}

TEST_F(SlaveApi, TrafficLogWrapsAndReadsAcrossTheEnd) {
  slavelink::TrafficLog log;
  std::vector<uint8_t> bytes(1020, 0x11);
  EXPECT_EQ(log.Append(bytes.data(), bytes.size(), false), 0);
  const uint8_t received[] = {1, 2, 3, 4, 5, 6, 7, 8};
  EXPECT_EQ(log.Append(received, 8, true), 1020);
  EXPECT_EQ(log.Position(), 4);
  std::vector<uint16_t> out(8, 0xEEEE);
  EXPECT_EQ(log.Read(out.data(), 1020, 8), 8);
  EXPECT_EQ(out, (std::vector<uint16_t>{0x101, 0x102, 0x103, 0x104, 0x105, 0x106, 0x107, 0x108}));
  // The count is not bounded by the ring: reading on wraps again.
  std::vector<uint16_t> lap(2050);
  EXPECT_EQ(log.Read(lap.data(), 0, 2050), 2050);
  EXPECT_EQ(lap[1024 + 1020], 0x101);
  EXPECT_EQ(log.Read(out.data(), 1024, 1), 0);
  EXPECT_EQ(log.Read(out.data(), -1, 1), 0);
  EXPECT_EQ(log.Read(nullptr, 0, 1), 0);
  EXPECT_EQ(log.Read(out.data(), 0, 0), 0);
}

TEST_F(SlaveApi, StatusResetReturnsTheOldCounts) {
  slavelink::State().m_tcp.m_nGoodMessages = 5;
  slavelink::State().m_tcp.m_nBadMessages = 2;
  int32_t good = 0, bad = 0;
  EXPECT_EQ(SlaveStatus(8050, &good, &bad, 1), 0);
  EXPECT_EQ(good, 5);
  EXPECT_EQ(bad, 2);
  EXPECT_EQ(SlaveStatus(8050, &good, &bad, 0), 0);
  EXPECT_EQ(good, 0);
  EXPECT_EQ(bad, 0);
}

TEST_F(SlaveApi, EndOfFrameGapFollowsTheBaudRate) {
  EXPECT_EQ(slavelink::GapForBaudRate(300), 250u);
  EXPECT_EQ(slavelink::GapForBaudRate(1200), 250u);
  EXPECT_EQ(slavelink::GapForBaudRate(4800), 100u);
  EXPECT_EQ(slavelink::GapForBaudRate(19200), 50u);
  EXPECT_EQ(slavelink::GapForBaudRate(14400), 50u);
  EXPECT_EQ(slavelink::GapForBaudRate(256000), 5u);
  EXPECT_EQ(slavelink::GapForBaudRate(7200), 500u);
  EXPECT_EQ(slavelink::GapForBaudRate(0), 500u);
  EXPECT_EQ(serialport::DevicePath(4), "/dev/ttyS3");
  setenv("PLEXMAR_COM4", "/dev/pts/77", 1);
  EXPECT_EQ(serialport::DevicePath(4), "/dev/pts/77");
  unsetenv("PLEXMAR_COM4");
}
