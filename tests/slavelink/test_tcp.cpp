// The Modbus/TCP server over real loopback sockets.
#include <gtest/gtest.h>

#include <cstring>

#include "SlaveTestSupport.h"

using namespace slavetest;

namespace {

std::atomic<uint32_t> g_fakeNow{0};
uint32_t FakeNow() { return g_fakeNow.load(); }

class TcpServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetLibrary();
    m_regs.assign(100, 0);
    for (size_t i = 0; i < m_regs.size(); ++i) m_regs[i] = static_cast<uint16_t>(i * 3);
    ASSERT_EQ(DefineDataBlock(1, 3, 1, 100, m_regs.data()), 1);
  }
  void TearDown() override {
    CloseSlaveConnection(8050);
    slavelink::SetTickSource(nullptr);
    ResetLibrary();
  }

  static Bytes ReadTwo(uint16_t tid = 1) { return modbuswire::BuildMbapFrame(tid, 0, 1, B({3, 0, 0, 0, 2})); }
  static Bytes ReadTwoAnswer(uint16_t tid = 1) {
    return modbuswire::BuildMbapFrame(tid, 0, 1, B({3, 4, 0, 0, 0, 3}));
  }
  static bool Answers(const TcpClient& client, uint16_t tid = 1, int timeoutMs = 2000) {
    if (!client.Send(ReadTwo(tid))) return false;
    return client.Receive(13, timeoutMs) == ReadTwoAnswer(tid);
  }

  std::vector<uint16_t> m_regs;
};

}  // namespace

TEST_F(TcpServerTest, AnswersSplitRequestOnlyWhenComplete) {
  const uint16_t port = StartTcpServer();
  ASSERT_NE(port, 0);
  TcpClient client(port);
  ASSERT_TRUE(client.Connected());
  const Bytes request = ReadTwo(0x4455);
  for (int part = 0; part < 3; ++part) {
    ASSERT_TRUE(client.Send(Bytes(request.begin() + 4 * part, request.begin() + 4 * part + 4)));
    if (part < 2) {
      EXPECT_TRUE(client.Receive(1, 100).empty()) << "answered after part " << part;
    }
  }
  EXPECT_EQ(client.Receive(13), ReadTwoAnswer(0x4455));

  int32_t good = -1, bad = -1;
  EXPECT_EQ(SlaveStatus(8050, &good, &bad, 0), 0);
  EXPECT_EQ(good, 1);
  EXPECT_EQ(bad, 0);
}

TEST_F(TcpServerTest, BackToBackRequestsInOneSegmentAnswerTheFirst) {
  const uint16_t port = StartTcpServer();
  TcpClient client(port);
  Bytes both = ReadTwo(1);
  const Bytes second = ReadTwo(2);
  both.insert(both.end(), second.begin(), second.end());
  ASSERT_TRUE(client.Send(both));
  EXPECT_EQ(client.Receive(13), ReadTwoAnswer(1));
  EXPECT_TRUE(client.Receive(1, 200).empty());
  // The connection goes on with the next request.
  EXPECT_TRUE(Answers(client, 3));
}

TEST_F(TcpServerTest, IdentifiersComeBackUnchanged) {
  const uint16_t port = StartTcpServer();
  TcpClient client(port);
  ASSERT_TRUE(client.Send(modbuswire::BuildMbapFrame(0x1234, 7, 1, B({3, 0, 1, 0, 1}))));
  EXPECT_EQ(client.Receive(11), B({0x12, 0x34, 0, 7, 0, 5, 1, 3, 2, 0, 3}));
  ASSERT_TRUE(client.Send(modbuswire::BuildMbapFrame(0xFFFF, 0xFFFF, 1, B({3, 0, 200, 0, 1}))));
  EXPECT_EQ(client.Receive(9), B({0xFF, 0xFF, 0xFF, 0xFF, 0, 3, 1, 0x83, 2}));
}

TEST_F(TcpServerTest, SeventeenthClientWaitsForAFreeSlot) {
  const uint16_t port = StartTcpServer();
  std::vector<std::unique_ptr<TcpClient>> clients;
  for (int i = 0; i < 16; ++i) {
    clients.push_back(std::make_unique<TcpClient>(port));
    ASSERT_TRUE(Answers(*clients.back(), static_cast<uint16_t>(i))) << "client " << i;
  }
  TcpClient late(port);  // the system queues it; the server does not take it
  ASSERT_TRUE(late.Connected());
  ASSERT_TRUE(late.Send(ReadTwo(99)));
  EXPECT_TRUE(late.Receive(1, 300).empty());
  clients[5]->Close();
  EXPECT_EQ(late.Receive(13), ReadTwoAnswer(99));
  EXPECT_TRUE(Answers(*clients[0], 100));
}

TEST_F(TcpServerTest, IdleConnectionsCloseAfterFiveMinutesAcrossTheWrap) {
  // Start just before the millisecond counter wraps.
  g_fakeNow = 0xFFFFFFFFu - 1000;
  slavelink::SetTickSource(&FakeNow);
  const uint16_t port = StartTcpServer();
  TcpClient quiet(port), busy(port);
  ASSERT_TRUE(Answers(busy));
  HWND window = slavelink::TcpServerWindow();
  ASSERT_NE(window, nullptr);

  g_fakeNow += 299000;
  ASSERT_TRUE(PostMessage(window, WM_TIMER, 1, 0));
  ASSERT_TRUE(Answers(busy, 2));  // a request after the check: the check is done
  EXPECT_FALSE(quiet.PeerClosed(50));
  ASSERT_TRUE(Answers(busy, 3));  // busy's last request is now

  g_fakeNow += 2000;  // quiet: 301 s since its accept
  ASSERT_TRUE(PostMessage(window, WM_TIMER, 1, 0));
  EXPECT_TRUE(quiet.PeerClosed(2000));
  EXPECT_TRUE(Answers(busy, 4));
}

TEST_F(TcpServerTest, SecondOpenFailsAndServicePortIsReadAtStart) {
  const uint16_t port = StartTcpServer();
  ASSERT_NE(port, 0);
  EXPECT_EQ(OpenTCPConnection(nullptr, 0), -1);
  // Changing the port now does not move the running server.
  EXPECT_EQ(SetTCPServicePort(static_cast<uint16_t>(port == 65535 ? 65534 : port + 1)), 1);
  TcpClient client(port);
  EXPECT_TRUE(Answers(client));

  EXPECT_EQ(CloseSlaveConnection(8050), 1);
  EXPECT_TRUE(client.PeerClosed(2000));
  // Closed and started again: a new port, the old one is free.
  const uint16_t again = StartTcpServer();
  ASSERT_NE(again, 0);
  TcpClient second(again);
  EXPECT_TRUE(Answers(second));
}

TEST_F(TcpServerTest, BusyPortReportsTheFailureMessage) {
  // Someone else listens on the port.
  const int other = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  ASSERT_EQ(::bind(other, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::listen(other, 1), 0);
  socklen_t length = sizeof address;
  getsockname(other, reinterpret_cast<sockaddr*>(&address), &length);

  std::atomic<int> failures{0};
  QueuedMessageTarget host([&](HWND, UINT message, WPARAM w, LPARAM l) -> LRESULT {
    if (message == 2000 && w == 0 && l == 0) ++failures;
    return 0;
  });
  SetTCPServicePort(ntohs(address.sin_port));
  EXPECT_EQ(OpenTCPConnection(&host, 2000), 8050);  // the failure comes later
  EXPECT_TRUE(WaitFor([&] {
    host.Pump();
    return failures.load() == 1;
  }));
  ::close(other);
  // Not running any more: a new start is allowed and succeeds.
  EXPECT_TRUE(WaitFor([] { return OpenTCPConnection(nullptr, 0) == 8050; }));
  CloseSlaveConnection(8050);
}

TEST_F(TcpServerTest, TrafficLogCallbacksAndNotifications) {
  static std::atomic<int> s_runs{0};
  static std::atomic<int> s_bytes{0};
  EnableBufferCallback([](int32_t handle, uint16_t, uint16_t length) {
    if (handle == 8050) {
      ++s_runs;
      s_bytes += length;
    }
  });
  EnableCallback(&WriteRecorder::Callback);
  std::atomic<int> notified{0};
  QueuedMessageTarget host([&](HWND, UINT message, WPARAM, LPARAM block) -> LRESULT {
    if (message == 1025 && block == 1) ++notified;
    return 0;
  });
  ASSERT_EQ(EnableDoWriteNotification(&host, 1, 1, 1025), 1);

  const uint16_t port = StartTcpServer();
  TcpClient client(port);
  const Bytes request = modbuswire::BuildMbapFrame(9, 0, 1, B({6, 0, 4, 0xCA, 0xFE}));
  ASSERT_TRUE(client.Send(request));
  ASSERT_EQ(client.Receive(12), request);
  EXPECT_EQ(Peek(m_regs[4]), 0xCAFE);
  EXPECT_EQ(WriteRecorder::Instance().Take(), (std::vector<WriteRecord>{{1, 3, 5, 0xCAFE}}));
  EXPECT_TRUE(WaitFor([&] {
    host.Pump();
    return notified.load() == 1;
  }));

  // Received bytes are logged + 256, the answer as sent.
  std::vector<uint16_t> log(24);
  ASSERT_TRUE(WaitFor([] { return s_bytes.load() == 24; }));
  EXPECT_EQ(s_runs.load(), 2);
  ASSERT_EQ(ReadDebugData(8050, log.data(), 0, 24), 24);
  for (size_t i = 0; i < 12; ++i) {
    EXPECT_EQ(log[i], request[i] + 0x100) << i;
    EXPECT_EQ(log[12 + i], request[i]) << i;
  }
  EnableBufferCallback(nullptr);
  // Once the close has returned, the server no longer reaches the host's
  // window, which may now go.
  EXPECT_EQ(CloseSlaveConnection(8050), 1);
}

TEST_F(TcpServerTest, OverlongLengthIsHeldUntilIdleWithoutHurtingOthers) {
  g_fakeNow = 1000;
  slavelink::SetTickSource(&FakeNow);
  const uint16_t port = StartTcpServer();
  TcpClient greedy(port), other(port);
  // A length of 3000 can never be completed; 2100 bytes fill the buffer.
  Bytes flood = B({0, 1, 0, 0, 0x0B, 0xB8, 1, 3});
  flood.resize(2100, 0x55);
  ASSERT_TRUE(greedy.Send(flood));
  EXPECT_TRUE(greedy.Receive(1, 200).empty());
  EXPECT_TRUE(Answers(other));
  EXPECT_FALSE(greedy.PeerClosed(50));
  g_fakeNow += 300001;
  ASSERT_TRUE(PostMessage(slavelink::TcpServerWindow(), WM_TIMER, 1, 0));
  EXPECT_TRUE(greedy.PeerClosed(2000));
}

TEST_F(TcpServerTest, CloseWhileClientsTalkIsClean) {
  const uint16_t port = StartTcpServer();
  std::atomic<bool> stop{false};
  std::vector<std::thread> talkers;
  for (int t = 0; t < 4; ++t) {
    talkers.emplace_back([&, t] {
      TcpClient client(port);
      uint16_t tid = 0;
      while (!stop && client.Send(ReadTwo(static_cast<uint16_t>(t * 1000 + tid++)))) {
        if (client.Receive(13, 500).size() != 13) break;
      }
    });
  }
  // Close while they are talking: once some answers have gone out.
  int32_t answered = 0;
  for (int i = 0; i < 500 && answered == 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    SlaveStatus(8050, &answered, nullptr, 0);
  }
  EXPECT_GT(answered, 0) << "no client got through";
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(CloseSlaveConnection(8050), 1);
  // The host's view of the log is gone at once; the server thread may still
  // be logging into its own reference.
  uint16_t entry;
  EXPECT_EQ(ReadDebugData(8050, &entry, 0, 1), 0);
  stop = true;
  for (auto& t : talkers) t.join();
  int32_t good = 0;
  EXPECT_EQ(SlaveStatus(8050, &good, nullptr, 1), 0);
  EXPECT_GT(good, 0);
  EXPECT_EQ(SlaveStatus(8050, &good, nullptr, 0), 0);
  EXPECT_EQ(good, 0);
}

TEST_F(TcpServerTest, HostWritesWhileMastersReadAreWholeWords) {
  const uint16_t port = StartTcpServer();
  for (auto& w : m_regs) Poke(w, 0);
  std::atomic<bool> stop{false};
  std::thread writer([&] {
    uint8_t b = 0;
    while (!stop) {
      // Both bytes of every word always equal: a torn word would show.
      for (auto& w : m_regs) Poke(w, static_cast<uint16_t>(b * 0x0101));
      ++b;
    }
  });
  TcpClient client(port);
  for (int i = 0; i < 200; ++i) {
    ASSERT_TRUE(client.Send(modbuswire::BuildMbapFrame(1, 0, 1, B({3, 0, 0, 0, 100}))));
    const Bytes answer = client.Receive(9 + 200);
    ASSERT_EQ(answer.size(), 209u);
    for (size_t k = 9; k < answer.size(); k += 2) ASSERT_EQ(answer[k], answer[k + 1]);
  }
  stop = true;
  writer.join();
}

TEST(MbapReceiverTest, CompletesOnTheAnnouncedLengthAndHoldsAtMost2025Bytes) {
  slavelink::MbapReceiver receiver;
  const auto feed = [&](const Bytes& bytes) {
    const size_t take = std::min(bytes.size(), receiver.Room());
    std::memcpy(receiver.Tail(), bytes.data(), take);
    receiver.Received(take);
  };
  feed(B({0, 1, 0, 0, 0}));
  EXPECT_TRUE(receiver.Request().empty());  // no length yet
  feed(B({6, 1, 3, 0, 0, 0}));
  EXPECT_TRUE(receiver.Request().empty());  // 11 of 12 bytes
  feed(B({2, 0xEE, 0xEE}));
  EXPECT_EQ(receiver.Request().size(), 12u);  // the trailing bytes are not part of it
  receiver.Clear();

  // A length of 0 or 1: the 7-byte header alone is the request.
  feed(B({0, 1, 0, 0, 0, 0, 9}));
  EXPECT_EQ(receiver.Request().size(), 7u);
  receiver.Clear();

  // The largest length never completes; the buffer stops at 2025 bytes.
  feed(B({0, 1, 0, 0, 0xFF, 0xFF, 1}));
  feed(Bytes(5000, 0));
  EXPECT_TRUE(receiver.Full());
  EXPECT_EQ(receiver.Count(), 2025u);
  EXPECT_EQ(receiver.Room(), 0u);
  EXPECT_TRUE(receiver.Request().empty());
  // 2019 bytes after the length field is the most that can complete.
  receiver.Clear();
  feed(B({0, 1, 0, 0, 2019 >> 8, 2019 & 0xFF, 1}));
  feed(Bytes(2018, 0));
  EXPECT_EQ(receiver.Request().size(), 2025u);
}
