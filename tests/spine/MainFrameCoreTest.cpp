// The main window's message target, tick and write hand-over, without Qt:
// the test thread plays the user-interface thread and pumps by hand.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "core/MainFrameCore.h"
#include "core/PlexmarApp.h"
#include "core/UiJobQueue.h"
#include "serverkit/serverkit.h"

using namespace std::chrono_literals;

namespace {

// Pumps until `done` holds or two seconds pass.
template <typename Pred>
bool PumpUntil(CMainFrameCore& frame, Pred done) {
  const auto deadline = std::chrono::steady_clock::now() + 2s;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    frame.Pump();
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

class FrameCore : public ::testing::Test {
 protected:
  CPlexmarApp m_app;
  std::atomic<int> m_wakes{0};
  CMainFrameCore m_frame{m_app, [this] { ++m_wakes; }};
  std::vector<std::string> m_log;

  void HookTick() {
    m_frame.SetRefreshHook([this] { m_log.push_back("refresh"); });
    m_frame.SetSendNextRequestHook([this] { m_log.push_back("send"); });
  }
};

TEST_F(FrameCore, CreationStartsTimerTwoWithTheApplicationsPeriod) {
  EXPECT_EQ(m_frame.m_nTimerID, 0u);
  EXPECT_EQ(m_frame.NextTimerDueMs(), -1);
  ASSERT_TRUE(m_frame.OnCreate());
  EXPECT_EQ(m_frame.m_nTimerID, 2u);
  EXPECT_EQ(m_app.MainWindow(), m_frame.Window());
  // Well above the 20 ms of the other test, with room for a pause here.
  const int due = m_frame.NextTimerDueMs();
  EXPECT_GT(due, 500);
  EXPECT_LE(due, 1000);
  m_frame.OnClose();
  EXPECT_EQ(m_app.MainWindow(), nullptr);
  EXPECT_EQ(m_frame.m_nTimerID, 0u);
}

TEST_F(FrameCore, TimerDrivesTheTickAtItsPeriod) {
  m_app.m_nTimerPeriod = 20;
  HookTick();
  // The clock starts before the timer does, so a pause of this thread after
  // arming it cannot shorten what is measured.
  const auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(m_frame.OnCreate());
  EXPECT_LE(m_frame.NextTimerDueMs(), 20);
  ASSERT_TRUE(PumpUntil(m_frame, [&] { return m_log.size() >= 6; }));
  const auto elapsed = std::chrono::steady_clock::now() - start;
  // Three ticks of 20 ms cannot come sooner than about 60 ms.
  EXPECT_GE(elapsed, 55ms);
}

TEST_F(FrameCore, TickRefreshesThenSendsOnlyWhenNothingIsOutstanding) {
  HookTick();
  ASSERT_TRUE(m_frame.OnCreate());
  m_frame.WindowProc(WM_TIMER, 2, 0);
  EXPECT_EQ(m_log, (std::vector<std::string>{"refresh", "send"}));

  m_log.clear();
  m_frame.m_hOutstandingMaster = 3;
  m_frame.WindowProc(WM_TIMER, 2, 0);
  EXPECT_EQ(m_log, (std::vector<std::string>{"refresh"}));

  // Any timer id ticks ...
  m_log.clear();
  m_frame.m_hOutstandingMaster = -1;
  m_frame.WindowProc(WM_TIMER, 77, 0);
  EXPECT_EQ(m_log, (std::vector<std::string>{"refresh", "send"}));

  // ... but not without a kept timer.
  m_log.clear();
  m_frame.m_nTimerID = 0;
  m_frame.WindowProc(WM_TIMER, 2, 0);
  EXPECT_TRUE(m_log.empty());
}

TEST_F(FrameCore, SlaveWriteMessageIsIgnoredAndResponseReachesItsHook) {
  HookTick();
  WPARAM gotW = 0;
  LPARAM gotL = 0;
  int responses = 0;
  m_frame.SetModbusResponseHook([&](WPARAM w, LPARAM l) {
    ++responses;
    gotW = w;
    gotL = l;
  });
  ASSERT_TRUE(m_frame.OnCreate());
  EXPECT_EQ(m_frame.WindowProc(0x401, 0, 5), 0);
  EXPECT_TRUE(m_log.empty()) << "a slave write waits for the next tick";
  EXPECT_EQ(responses, 0);
  m_frame.WindowProc(0x403, 17, 99);
  EXPECT_EQ(responses, 1);
  EXPECT_EQ(gotW, 17u);
  EXPECT_EQ(gotL, 99);
  // Messages without a handler are answered with 0.
  EXPECT_EQ(m_frame.WindowProc(0x402, 0, 0), 0);
  EXPECT_EQ(m_frame.WindowProc(1028, 0, 0), 0);
  m_frame.SetMessageHandler(1028, [](WPARAM, LPARAM) -> LRESULT { return 7; });
  EXPECT_EQ(m_frame.WindowProc(1028, 0, 0), 7);
}

TEST_F(FrameCore, MessagesPostedFromOtherThreadsAreHandledOnThePumpingThread) {
  std::vector<std::thread::id> handledOn;
  std::vector<LPARAM> order;
  m_frame.SetModbusResponseHook([&](WPARAM, LPARAM l) {
    handledOn.push_back(std::this_thread::get_id());
    order.push_back(l);
  });
  ASSERT_TRUE(m_frame.OnCreate());
  const int wakesBefore = m_wakes.load();
  std::thread poster([&] {
    for (LPARAM i = 0; i < 20; ++i) ASSERT_TRUE(PostMessage(m_app.MainWindow(), 0x403, 1, i));
  });
  poster.join();
  EXPECT_GT(m_wakes.load(), wakesBefore) << "the owner is told to pump";
  EXPECT_TRUE(handledOn.empty()) << "nothing runs until the owner pumps";
  ASSERT_TRUE(PumpUntil(m_frame, [&] { return order.size() == 20; }));
  for (LPARAM i = 0; i < 20; ++i) EXPECT_EQ(order[i], i);
  for (auto id : handledOn) EXPECT_EQ(id, std::this_thread::get_id());
}

TEST_F(FrameCore, ClosedWindowTakesNoMoreMessages) {
  int responses = 0;
  m_frame.SetModbusResponseHook([&](WPARAM, LPARAM) { ++responses; });
  ASSERT_TRUE(m_frame.OnCreate());
  HWND window = m_frame.Window();
  m_frame.OnClose();
  EXPECT_FALSE(PostMessage(window, 0x403, 0, 0));
  m_frame.Pump();
  EXPECT_EQ(responses, 0);
}

TEST_F(FrameCore, DefaultProjectDisplaySettings) {
  EXPECT_EQ(m_frame.m_logFont.lfHeight, -13);
  EXPECT_EQ(m_frame.m_logFont.lfWeight, 400);
  EXPECT_EQ(m_frame.m_logFont.lfOutPrecision, 1);
  EXPECT_EQ(m_frame.m_logFont.lfClipPrecision, 2);
  EXPECT_EQ(m_frame.m_logFont.lfQuality, 1);
  EXPECT_EQ(m_frame.m_logFont.lfPitchAndFamily, 0x31);
  EXPECT_STREQ(m_frame.m_logFont.lfFaceName, "Courier");
  EXPECT_EQ(m_frame.m_crForeground, 0x000000u);
  EXPECT_EQ(m_frame.m_crBackground, 0xC0C0C0u);
  EXPECT_EQ(m_frame.m_crExtra, 0x0000FFu);
  EXPECT_EQ(m_frame.m_hOutstandingMaster, -1);
  EXPECT_FALSE(m_frame.ReadProject("/nowhere/plexmar.tst")) << "no reader installed yet";
  std::string read;
  m_frame.SetProjectReader([&](const std::string& path) { read = path; });
  EXPECT_TRUE(m_frame.ReadProject("/x/plexmar.tst"));
  EXPECT_EQ(read, "/x/plexmar.tst");
}

// --- OPC client writes -------------------------------------------------------

std::thread::id g_callbackThread;
int g_callbackCalls = 0;
void NoteWrite(int32_t, VARIANT*, HRESULT*) {
  g_callbackThread = std::this_thread::get_id();
  ++g_callbackCalls;
}

TEST_F(FrameCore, ClientWritesRunOnTheUiThreadAndStopWithTheWindow) {
  g_callbackCalls = 0;
  InitOpcServer(kPlexmarClsid, 250);
  SetWriteCallback(NoteWrite, 1);
  const int32_t item = CreateServerTag("Frame.Write", MakeVariantI2(0), OPC_QUALITY_GOOD, 1);
  ASSERT_TRUE(m_frame.OnCreate());

  std::atomic<HRESULT> result{-1};
  std::thread client([&] { result = serverkit::WriteItem(item, MakeVariantI2(5)); });
  ASSERT_TRUE(PumpUntil(m_frame, [&] { return result.load() != -1; }));
  client.join();
  EXPECT_EQ(result.load(), S_OK);
  EXPECT_EQ(g_callbackCalls, 1);
  EXPECT_EQ(g_callbackThread, std::this_thread::get_id());

  // A write that is waiting when the window closes is released, not run.
  result = -1;
  std::thread late([&] { result = serverkit::WriteItem(item, MakeVariantI2(6)); });
  while (m_wakes.load() == 0) std::this_thread::sleep_for(1ms);
  std::this_thread::sleep_for(20ms);
  m_frame.OnClose();
  late.join();
  EXPECT_EQ(result.load(), serverkit::kWriteNotDelivered);
  // And later writes are refused rather than run on the client's thread.
  std::thread after([&] { result = serverkit::WriteItem(item, MakeVariantI2(7)); });
  after.join();
  EXPECT_EQ(result.load(), serverkit::kWriteNotDelivered);
  EXPECT_EQ(g_callbackCalls, 1);
  ShutdownOpcServer();
}

TEST(UiJobQueue, RunsOnTheUiThreadOrNotAtAll) {
  std::atomic<int> wakes{0};
  CUiJobQueue queue([&] { ++wakes; });
  // On the UI thread itself: at once.
  int ran = 0;
  EXPECT_TRUE(queue.RunAndWait([&] { ++ran; }));
  EXPECT_EQ(ran, 1);
  EXPECT_EQ(wakes.load(), 0);

  std::thread::id where;
  std::atomic<bool> ok{false};
  std::thread worker([&] { ok = queue.RunAndWait([&] { where = std::this_thread::get_id(); }); });
  while (wakes.load() == 0) std::this_thread::sleep_for(1ms);
  while (queue.Drain() == 0) std::this_thread::sleep_for(1ms);
  worker.join();
  EXPECT_TRUE(ok.load());
  EXPECT_EQ(where, std::this_thread::get_id());

  queue.Close();
  bool lateRan = false;
  std::thread refused([&] { ok = queue.RunAndWait([&] { lateRan = true; }); });
  refused.join();
  EXPECT_FALSE(ok.load());
  EXPECT_EQ(queue.Drain(), 0);
  EXPECT_FALSE(lateRan);
  EXPECT_FALSE(queue.RunAndWait([&] { lateRan = true; })) << "closed for the UI thread too";
}

}  // namespace
