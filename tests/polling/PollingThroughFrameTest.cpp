// The request chain installed in the main window: driven by the tick and by
// the reply message posted to the window. First with the scripted library,
// then with the real master library polling our own slave library's
// Modbus/TCP server over loopback.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "ScriptedMasterLink.h"
#include "core/MainFrameCore.h"
#include "core/ModbusDataBlock.h"
#include "core/PlexmarApp.h"
#include "masterlink/masterlink.h"
#include "slavelink/slavelink.h"
#include "tests/support/FreePort.h"

using namespace std::chrono_literals;

namespace {

template <typename Pred>
bool PumpUntil(CMainFrameCore& frame, Pred done, std::chrono::milliseconds limit = 5s) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    frame.Pump();
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

TEST(PollingThroughFrame, TickStartsTheChainAndReplyMessagesCarryIt) {
  CPlexmarApp app;
  CMainFrameCore frame(app, [] {});
  CScriptedMasterLink link;
  InstallModbusPolling(frame, link);
  ASSERT_TRUE(frame.OnCreate());
  app.m_comm[2].hMaster = 33;
  ASSERT_TRUE(app.AddDataBlock("COMM3", 1, 3, 1, 4));
  ASSERT_TRUE(app.AddDataBlock("COMM3", 1, 4, 1, 4));

  frame.OnTimer(CMainFrameCore::kTickTimerId);
  EXPECT_EQ(frame.m_hOutstandingMaster, 33);
  // Ticks while a reply is awaited send nothing.
  frame.OnTimer(CMainFrameCore::kTickTimerId);
  EXPECT_EQ(link.Calls('P').size(), 1u);

  ASSERT_TRUE(PostMessage(frame.Window(), WM_USER + 3, 33, 0));
  frame.Pump();
  EXPECT_EQ(link.Calls('P').size(), 2u);
  ASSERT_TRUE(PostMessage(frame.Window(), WM_USER + 3, 33, 0));
  frame.Pump();
  EXPECT_EQ(frame.m_hOutstandingMaster, -1);
  EXPECT_EQ(app.m_dataBlocks[1]->m_pData[3], 1004);
  frame.OnClose();
}

TEST(PollingThroughFrame, RealMasterLibraryPollsAndWritesOurOwnSlave) {
  // The slave side: holding registers 1..20 and coils 1..8 of slave 1.
  uint16_t registers[20];
  uint16_t coils[8] = {1, 0, 0, 1, 0, 0, 0, 1};
  for (int i = 0; i < 20; ++i) registers[i] = static_cast<uint16_t>(500 + i);
  const int32_t hRegisters = DefineDataBlock(1, 3, 1, 20, registers);
  const int32_t hCoils = DefineDataBlock(1, 1, 1, 8, coils);
  ASSERT_GT(hRegisters, 0);
  const uint16_t port = testsupport::PickFreePort();
  SetTCPServicePort(port);
  ASSERT_EQ(OpenTCPConnection(nullptr, WM_USER + 2), 8050);

  CPlexmarApp app;
  CMainFrameCore frame(app, [] {});
  InstallModbusPolling(frame);
  ASSERT_TRUE(frame.OnCreate());
  const TcpConnectRecord record{frame.Window(), WM_USER + 3, WM_USER + 4, 1, 2000};
  int32_t h = -1;
  for (int i = 0; i < 50 && h == -1; ++i) {
    h = ConnectTCP2(htonl(INADDR_LOOPBACK), port, &record);
    if (h == -1) std::this_thread::sleep_for(20ms);
  }
  ASSERT_NE(h, -1);
  app.m_tcpMasters[0] = TcpMasterSlot{h, "127.0.0.1", port};
  ASSERT_TRUE(app.AddDataBlock("127.0.0.1", 1, 3, 3, 18));
  ASSERT_TRUE(app.AddDataBlock("127.0.0.1", 1, 1, 1, 8));
  ASSERT_TRUE(app.AddDataBlock("127.0.0.1", 1, 3, 150, 5));  // no such points there

  frame.OnTimer(CMainFrameCore::kTickTimerId);
  ASSERT_TRUE(PumpUntil(frame, [&] { return frame.m_hOutstandingMaster == -1; }));
  const CModbusDataBlock& held = *app.m_dataBlocks[0];
  EXPECT_EQ(held.m_nStatus, 0);
  EXPECT_EQ(held.m_pData[0], 502);
  EXPECT_EQ(held.m_pData[17], 519);
  const CModbusDataBlock& bits = *app.m_dataBlocks[1];
  EXPECT_EQ(bits.m_nStatus, 0);
  EXPECT_EQ(std::vector<uint16_t>(bits.m_pData.get(), bits.m_pData.get() + 8),
            (std::vector<uint16_t>{1, 0, 0, 1, 0, 0, 0, 1}));
  EXPECT_EQ(app.m_dataBlocks[2]->m_nStatus, MLERR_EXCEPTION(2));

  // Write-back: the writes go out first, and the cycle after them reads the
  // new values back into the blocks.
  const uint16_t value = 4242, on = 1;
  ASSERT_TRUE(app.QueueWrite("127.0.0.1", 1, 3, 10, &value, 1));
  ASSERT_TRUE(app.QueueWrite("127.0.0.1", 1, 1, 2, &on, 1));
  frame.OnTimer(CMainFrameCore::kTickTimerId);
  ASSERT_TRUE(PumpUntil(frame, [&] { return frame.m_hOutstandingMaster == -1; }));
  EXPECT_EQ(registers[9], 4242);
  EXPECT_EQ(coils[1], 1);
  EXPECT_EQ(held.m_pData[7], 4242);
  EXPECT_EQ(bits.m_pData[1], 1);

  frame.OnClose();
  CloseMasterConnection(h);
  CloseSlaveConnection(8050);
  RemoveDataBlock(hRegisters);
  RemoveDataBlock(hCoils);
}

}  // namespace
