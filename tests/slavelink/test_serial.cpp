// Serial slave links over pseudo-terminal pairs: the library opens the slave
// side through PLEXMAR_COMn, the test is the master on the other side.
#include <gtest/gtest.h>

#include "SlaveTestSupport.h"

using namespace slavetest;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kCom = 3;

class SerialTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetLibrary();
    ASSERT_TRUE(m_pty.Ok());
    m_regs = {0x0102, 0x0304, 5, 6, 7, 8, 9, 10};
    ASSERT_EQ(DefineDataBlock(1, 3, 1, 8, m_regs.data()), 1);
  }
  void TearDown() override {
    if (m_handle > 0) {
      EXPECT_EQ(CloseSlaveConnection(m_handle), 1);
    }
    ResetLibrary();
  }
  void Open(int protocol, uint32_t baud, HWND window = nullptr, int timerId = 0, uint8_t pre = 0,
            uint8_t post = 0) {
    const SlavePortSettings s = Settings(baud, pre, post);
    m_handle = OpenConnection(window, kCom, protocol, timerId, &s);
    ASSERT_GT(m_handle, 0);
  }
  std::pair<int32_t, int32_t> Counts() const {
    int32_t good = -1, bad = -1;
    EXPECT_EQ(SlaveStatus(m_handle, &good, &bad, 0), 0);
    return {good, bad};
  }
  // The counters change on the link's thread; wait for them rather than
  // for a fixed time, so a busy machine does not fail the test.
  bool CountsBecome(int32_t good, int32_t bad) const {
    return WaitFor([&] { return Counts() == std::make_pair(good, bad); }, 5000);
  }

  PtyPair m_pty{kCom};
  std::vector<uint16_t> m_regs;
  int32_t m_handle = -1;
};

const Bytes kReadTwo = B({0x01, 0x03, 0x00, 0x00, 0x00, 0x02, 0xC4, 0x0B});

}  // namespace

TEST_F(SerialTest, RtuFrameIsAnsweredAfterTheGap) {
  Open(1, 19200);  // 50 ms gap
  const auto sent = Clock::now();
  ASSERT_TRUE(m_pty.Write(kReadTwo));
  EXPECT_EQ(m_pty.Read(9), Rtu({1, 3, 4, 1, 2, 3, 4}));
  EXPECT_GE(Clock::now() - sent, std::chrono::milliseconds(45));
  EXPECT_TRUE(CountsBecome(1, 0));

  Bytes wrong = kReadTwo;
  wrong[7] = 0x0C;
  ASSERT_TRUE(m_pty.Write(wrong));
  EXPECT_TRUE(CountsBecome(1, 1));
  EXPECT_TRUE(m_pty.Read(1, 100).empty());
}

TEST_F(SerialTest, RtuCharactersCloserThanTheGapStayInOneFrame) {
  Open(1, 1200);  // 250 ms gap: wide margins for a busy machine
  ASSERT_TRUE(m_pty.Write(Bytes(kReadTwo.begin(), kReadTwo.begin() + 4)));
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  ASSERT_TRUE(m_pty.Write(Bytes(kReadTwo.begin() + 4, kReadTwo.end())));
  EXPECT_EQ(m_pty.Read(9), Rtu({1, 3, 4, 1, 2, 3, 4}));
  EXPECT_TRUE(CountsBecome(1, 0));

  // A pause longer than the gap ends the frame: two halves, two bad frames.
  ASSERT_TRUE(m_pty.Write(Bytes(kReadTwo.begin(), kReadTwo.begin() + 4)));
  EXPECT_TRUE(CountsBecome(1, 1));
  ASSERT_TRUE(m_pty.Write(Bytes(kReadTwo.begin() + 4, kReadTwo.end())));
  EXPECT_TRUE(CountsBecome(1, 2));
  EXPECT_TRUE(m_pty.Read(1, 100).empty());
}

TEST_F(SerialTest, RtuFramesEndedByTheWindowTimerRunOnItsThread) {
  std::atomic<std::thread::id> windowThread{};
  ThreadMessageTarget window([&](HWND, UINT, WPARAM, LPARAM) -> LRESULT { return 0; });
  window.RunSync([&] { windowThread = std::this_thread::get_id(); });
  static std::atomic<std::thread::id> s_callbackThread{};
  EnableCallback([](uint8_t, uint8_t, uint16_t, uint16_t) { s_callbackThread = std::this_thread::get_id(); });

  Open(1, 9600, &window, 77);
  ASSERT_TRUE(m_pty.Write(kReadTwo));
  EXPECT_EQ(m_pty.Read(9), Rtu({1, 3, 4, 1, 2, 3, 4}));
  const Bytes write = Rtu({1, 6, 0, 2, 0xAA, 0x55});
  ASSERT_TRUE(m_pty.Write(write));
  EXPECT_EQ(m_pty.Read(8), write);
  EXPECT_EQ(Peek(m_regs[2]), 0xAA55);
  EXPECT_EQ(s_callbackThread.load(), windowThread.load());
  EXPECT_EQ(Counts(), std::make_pair(2, 0));
  // Closing before the window goes stops the timer with it.
  EXPECT_EQ(CloseSlaveConnection(m_handle), 1);
  m_handle = -1;
}

TEST_F(SerialTest, AsciiLinesEndAtLineFeed) {
  Open(2, 9600);
  ASSERT_TRUE(m_pty.Write(AsBytes(":010300000002FA\r\n")));
  EXPECT_EQ(m_pty.Read(19), Ascii({1, 3, 4, 1, 2, 3, 4}));
  ASSERT_TRUE(m_pty.Write(AsBytes(":010300000002fa\r\n")));
  EXPECT_EQ(m_pty.Read(19), Ascii({1, 3, 4, 1, 2, 3, 4}));
  EXPECT_TRUE(CountsBecome(2, 0));

  ASSERT_TRUE(m_pty.Write(AsBytes(":010300000002FB\r\n")));
  EXPECT_TRUE(CountsBecome(2, 1));
  EXPECT_TRUE(m_pty.Read(1, 50).empty());

  // Without its line feed a line is never processed ...
  ASSERT_TRUE(m_pty.Write(AsBytes("xy:010300000002FA\r")));
  EXPECT_TRUE(m_pty.Read(1, 300).empty());
  EXPECT_EQ(Counts(), std::make_pair(2, 1));
  // ... and with leading noise it is bad once the line feed comes.
  ASSERT_TRUE(m_pty.Write(AsBytes("\n")));
  EXPECT_TRUE(CountsBecome(2, 2));
  EXPECT_TRUE(m_pty.Read(1, 50).empty());

  // Two requests in one read make one frame that fails its check.
  ASSERT_TRUE(m_pty.Write(AsBytes(":010300000002FA\r\n:010300000002FA\r\n")));
  EXPECT_TRUE(CountsBecome(2, 3));
  EXPECT_TRUE(m_pty.Read(1, 50).empty());
}

TEST_F(SerialTest, OverlongFrameOverwritesItsLastByteAndFails) {
  Open(2, 9600);
  Bytes noise(700, '0');
  noise.insert(noise.begin(), ':');
  ASSERT_TRUE(m_pty.Write(noise));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  ASSERT_TRUE(m_pty.Write(AsBytes("\r\n")));
  EXPECT_TRUE(CountsBecome(0, 1));
  EXPECT_TRUE(m_pty.Read(1, 50).empty());
  // The link is collecting afresh afterwards.
  ASSERT_TRUE(m_pty.Write(AsBytes(":010300000002FA\r\n")));
  EXPECT_EQ(m_pty.Read(19), Ascii({1, 3, 4, 1, 2, 3, 4}));
}

TEST_F(SerialTest, TrafficLogAndBufferCallbackCarryTheHandle) {
  static std::atomic<int32_t> s_handle{0};
  static std::atomic<int> s_total{0};
  EnableBufferCallback([](int32_t handle, uint16_t, uint16_t length) {
    s_handle = handle;
    s_total += length;
  });
  Open(1, 115200);
  ASSERT_TRUE(m_pty.Write(kReadTwo));
  const Bytes answer = m_pty.Read(9);
  ASSERT_EQ(answer.size(), 9u);
  ASSERT_TRUE(WaitFor([] { return s_total.load() == 17; }));
  EXPECT_EQ(s_handle.load(), m_handle);
  std::vector<uint16_t> log(17);
  ASSERT_EQ(ReadDebugData(m_handle, log.data(), 0, 17), 17);
  for (size_t i = 0; i < 8; ++i) EXPECT_EQ(log[i], kReadTwo[i] + 0x100);
  for (size_t i = 0; i < 9; ++i) EXPECT_EQ(log[8 + i], answer[i]);
  EnableBufferCallback(nullptr);
}

TEST_F(SerialTest, PreSendDelayHoldsTheAnswerBack) {
  Open(1, 115200, nullptr, 0, 120, 5);  // 5 ms gap, 120 ms before sending
  const auto sent = Clock::now();
  ASSERT_TRUE(m_pty.Write(kReadTwo));
  EXPECT_EQ(m_pty.Read(9), Rtu({1, 3, 4, 1, 2, 3, 4}));
  EXPECT_GE(Clock::now() - sent, std::chrono::milliseconds(120));
}

TEST_F(SerialTest, PortsOpenOnceAndReopenAfterClose) {
  Open(1, 19200);
  const SlavePortSettings s = Settings(19200);
  EXPECT_EQ(OpenConnection(nullptr, kCom, 1, 0, &s), -1);
  // The first connection is untouched.
  ASSERT_TRUE(m_pty.Write(kReadTwo));
  EXPECT_EQ(m_pty.Read(9).size(), 9u);

  EXPECT_EQ(CloseSlaveConnection(m_handle), 1);
  EXPECT_EQ(CloseSlaveConnection(m_handle), 0);
  EXPECT_EQ(SlaveStatus(m_handle, nullptr, nullptr, 0), 0x100);
  m_handle = -1;
  // A rate without a termios constant still opens and picks its gap.
  Open(2, 7200);
  {
    std::lock_guard lock(slavelink::State().m_linksMutex);
    ASSERT_TRUE(slavelink::State().m_serialLinks[kCom - 1]);
    EXPECT_EQ(slavelink::State().m_serialLinks[kCom - 1]->Gap(), 500u);
  }
  EXPECT_EQ(Counts(), std::make_pair(0, 0));
  ASSERT_TRUE(m_pty.Write(AsBytes(":010300000002FA\r\n")));
  EXPECT_EQ(m_pty.Read(19).size(), 19u);
}

TEST_F(SerialTest, BadSettingsAreRefused) {
  SlavePortSettings s = Settings(9600);
  s.dataBits = 9;
  EXPECT_EQ(OpenConnection(nullptr, kCom, 1, 0, &s), -1);
  s = Settings(9600);
  s.parity = 5;
  EXPECT_EQ(OpenConnection(nullptr, kCom, 1, 0, &s), -1);
  s = Settings(9600);
  s.stopBits = 3;
  EXPECT_EQ(OpenConnection(nullptr, kCom, 1, 0, &s), -1);
  // Nothing was left half open.
  s = Settings(9600);
  m_handle = OpenConnection(nullptr, kCom, 1, 0, &s);
  EXPECT_GT(m_handle, 0);
}

TEST_F(SerialTest, BroadcastIsCarriedOutSilentlyAndNotified) {
  std::atomic<int> notified{0};
  QueuedMessageTarget host([&](HWND, UINT message, WPARAM, LPARAM block) -> LRESULT {
    if (message == 1025 && block == 1) ++notified;
    return 0;
  });
  ASSERT_EQ(EnableDoWriteNotification(&host, 1, 1, 1025), 1);
  Open(1, 57600);
  ASSERT_TRUE(m_pty.Write(Rtu({0, 6, 0, 7, 0x12, 0x34})));
  EXPECT_TRUE(WaitFor([&] {
    host.Pump();
    return notified.load() == 1;
  }));
  EXPECT_EQ(Peek(m_regs[7]), 0x1234);
  EXPECT_TRUE(m_pty.Read(1, 100).empty());
  // The host closes its connections before its window goes.
  EXPECT_EQ(CloseSlaveConnection(m_handle), 1);
  m_handle = -1;
}

TEST_F(SerialTest, HungUpLineCountsNothingAndStillCloses) {
  Open(1, 19200);
  ASSERT_TRUE(m_pty.Write(Bytes(kReadTwo.begin(), kReadTwo.begin() + 3)));
  EXPECT_TRUE(CountsBecome(0, 1));
  m_pty.CloseMaster();
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  // The hang-up itself is no frame at all.
  EXPECT_EQ(Counts(), std::make_pair(0, 1));
  const auto start = Clock::now();
  EXPECT_EQ(CloseSlaveConnection(m_handle), 1);
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(1));
  m_handle = -1;
}

TEST_F(SerialTest, AsciiLinkLeavesTheHostsTimerAlone) {
  std::atomic<int> ticks{0};
  ThreadMessageTarget window([&](HWND, UINT message, WPARAM id, LPARAM) -> LRESULT {
    if (message == WM_TIMER && id == 5) ++ticks;
    return 0;
  });
  ASSERT_TRUE(window.StartTimer(5, 10, nullptr));
  Open(2, 9600, &window, 5);
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(m_pty.Write(AsBytes(":010300000002FA\r\n")));
    EXPECT_EQ(m_pty.Read(19).size(), 19u);
  }
  const int before = ticks.load();
  EXPECT_TRUE(WaitFor([&] { return ticks.load() > before + 2; }));
  EXPECT_EQ(CloseSlaveConnection(m_handle), 1);
  m_handle = -1;
}

TEST_F(SerialTest, UnloadWithOpenPortsDoesNotReachTheHostsGoneWindow) {
  // The process ends with an RTU link still open and its timer window
  // already destroyed: unloading closes the link without touching the window.
  EXPECT_EXIT(
      {
        auto window = std::make_unique<ThreadMessageTarget>([](HWND, UINT, WPARAM, LPARAM) -> LRESULT { return 0; });
        const SlavePortSettings s = Settings(9600);
        if (OpenConnection(window.get(), kCom, 1, 9, &s) <= 0) std::_Exit(3);
        m_pty.Write(kReadTwo);
        m_pty.Read(9);
        window.reset();
        std::exit(0);
      },
      ::testing::ExitedWithCode(0), "");
}
