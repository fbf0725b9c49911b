// The OPC server's item table as the program and an OPC client see it.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "serverkit/serverkit.h"

namespace {

uint64_t Ticks(const FILETIME& t) {
  return (static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
}

// What the last write callback saw; the callback is a plain function pointer.
struct WriteSeen {
  int calls = 0;
  int32_t handle = -1;
  CVariant value;
  std::thread::id thread;
  HRESULT answer = S_OK;  // left in the result when not S_OK
};
WriteSeen g_seen;

void RecordingWrite(int32_t handle, VARIANT* value, HRESULT* result) {
  ++g_seen.calls;
  g_seen.handle = handle;
  g_seen.value = *value;
  g_seen.thread = std::this_thread::get_id();
  if (g_seen.answer != S_OK) *result = g_seen.answer;
  // The program republishes what it accepted.
  if (g_seen.answer == S_OK) UpdateServerTag(handle, *value, OPC_QUALITY_GOOD);
}

class ItemTable : public ::testing::Test {
 protected:
  void SetUp() override {
    g_seen = WriteSeen{};
    InitOpcServer(kPlexmarClsid, 250);
  }
  void TearDown() override { ShutdownOpcServer(); }
};

TEST_F(ItemTable, CreateCopiesTheValueAndListsInCreationOrder) {
  VARIANT text = MakeVariantText("pump running");
  const int32_t a = CreateServerTag("Line1.Pump", text, OPC_QUALITY_GOOD, 1);
  VariantClear(&text);  // the item keeps its own copy
  const int32_t b = CreateServerTag("Line1.Speed", MakeVariantR4(12.5f), OPC_QUALITY_BAD, 1);
  ASSERT_NE(a, -1);
  ASSERT_NE(b, -1);
  EXPECT_NE(a, b);

  auto items = serverkit::ListItems();
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[0].name, "Line1.Pump");
  EXPECT_EQ(items[1].name, "Line1.Speed");

  serverkit::ItemState state;
  ASSERT_TRUE(serverkit::ReadItem(a, state));
  ASSERT_EQ(state.value->vt, VT_BSTR);
  EXPECT_EQ(BstrToUtf8(state.value->bstrVal), "pump running");
  EXPECT_EQ(state.quality, OPC_QUALITY_GOOD);
  EXPECT_NE(Ticks(state.timestamp), 0u);

  ASSERT_TRUE(serverkit::FindItem("Line1.Speed", state));
  EXPECT_EQ(state.handle, b);
  EXPECT_EQ(state.value->vt, VT_R4);
  EXPECT_FLOAT_EQ(state.value->fltVal, 12.5f);
  EXPECT_EQ(state.quality, OPC_QUALITY_BAD);
  EXPECT_FALSE(serverkit::FindItem("line1.speed", state)) << "item IDs are case-sensitive";
}

TEST_F(ItemTable, RejectsItemsWithoutAName) {
  EXPECT_EQ(CreateServerTag(nullptr, MakeVariantI2(1), OPC_QUALITY_GOOD, 1), -1);
  EXPECT_EQ(CreateServerTag("", MakeVariantI2(1), OPC_QUALITY_GOOD, 1), -1);
  EXPECT_TRUE(serverkit::ListItems().empty());
}

TEST_F(ItemTable, TimeStampMovesOnlyWhenValueOrQualityChanges) {
  const int32_t h = CreateServerTag("T", MakeVariantI4(5), OPC_QUALITY_GOOD, 1);
  int changes = 0;
  const int id = serverkit::AddChangeListener([&](const serverkit::ItemState&) { ++changes; });
  serverkit::ItemState before, after;
  ASSERT_TRUE(serverkit::ReadItem(h, before));

  std::this_thread::sleep_for(std::chrono::milliseconds(3));
  UpdateServerTag(h, MakeVariantI4(5), OPC_QUALITY_GOOD);
  ASSERT_TRUE(serverkit::ReadItem(h, after));
  EXPECT_EQ(Ticks(after.timestamp), Ticks(before.timestamp));
  EXPECT_EQ(changes, 0);

  UpdateServerTag(h, MakeVariantI4(6), OPC_QUALITY_GOOD);
  ASSERT_TRUE(serverkit::ReadItem(h, after));
  EXPECT_GT(Ticks(after.timestamp), Ticks(before.timestamp));
  EXPECT_EQ(after.value->lVal, 6);
  EXPECT_EQ(changes, 1);

  // Same number, other type: a change a client can see.
  UpdateServerTag(h, MakeVariantR8(6.0), OPC_QUALITY_GOOD);
  EXPECT_EQ(changes, 2);
  // Quality alone is a change too.
  UpdateServerTag(h, MakeVariantR8(6.0), OPC_QUALITY_BAD);
  ASSERT_TRUE(serverkit::ReadItem(h, after));
  EXPECT_EQ(after.quality, OPC_QUALITY_BAD);
  EXPECT_EQ(changes, 3);

  // Texts compare by content, not by pointer.
  VARIANT t1 = MakeVariantText("abc");
  VARIANT t2 = MakeVariantText("abc");
  UpdateServerTag(h, t1, OPC_QUALITY_BAD);
  UpdateServerTag(h, t2, OPC_QUALITY_BAD);
  EXPECT_EQ(changes, 4);
  VariantClear(&t1);
  VariantClear(&t2);
  ASSERT_TRUE(serverkit::ReadItem(h, after));
  EXPECT_EQ(BstrToUtf8(after.value->bstrVal), "abc");
  serverkit::RemoveChangeListener(id);
}

TEST_F(ItemTable, RemovedHandlesAreNeverGivenOutAgain) {
  std::vector<int32_t> seen;
  for (int round = 0; round < 50; ++round) {
    const int32_t h = CreateServerTag("Recycled", MakeVariantI2(static_cast<int16_t>(round)),
                                      OPC_QUALITY_GOOD, 1);
    ASSERT_NE(h, -1);
    for (int32_t old : seen) ASSERT_NE(h, old);
    seen.push_back(h);
    RemoveServerTag(h);
  }
  // A client that kept an old handle reaches nothing, not the newest item.
  const int32_t live = CreateServerTag("Recycled", MakeVariantI2(99), OPC_QUALITY_GOOD, 1);
  SetWriteCallback(RecordingWrite, 1);
  serverkit::ItemState state;
  for (int32_t old : seen) {
    EXPECT_FALSE(serverkit::ReadItem(old, state));
    EXPECT_EQ(serverkit::WriteItem(old, MakeVariantI2(1)), OPC_E_INVALIDHANDLE);
  }
  EXPECT_EQ(g_seen.calls, 0);
  ASSERT_TRUE(serverkit::ReadItem(live, state));
  EXPECT_EQ(state.value->iVal, 99);
  // Removing twice, or a handle never given, leaves the table alone.
  RemoveServerTag(seen.front());
  RemoveServerTag(-1);
  UpdateServerTag(-1, MakeVariantI2(1), OPC_QUALITY_GOOD);
  EXPECT_EQ(serverkit::ListItems().size(), 1u);
}

TEST_F(ItemTable, WriteResultCodes) {
  const int32_t rw = CreateServerTag("Setpoint", MakeVariantR4(0), OPC_QUALITY_GOOD, 1);
  const int32_t ro = CreateServerTag("Status", MakeVariantI2(0), OPC_QUALITY_GOOD, 0);

  // Nobody to hand the write to: not a success.
  EXPECT_EQ(serverkit::WriteItem(rw, MakeVariantR4(1)), serverkit::kWriteNotDelivered);

  SetWriteCallback(RecordingWrite, 1);
  EXPECT_EQ(serverkit::WriteItem(rw, MakeVariantR4(42.5f)), S_OK);
  EXPECT_EQ(g_seen.calls, 1);
  EXPECT_EQ(g_seen.handle, rw);
  EXPECT_EQ(g_seen.value->vt, VT_R4);
  serverkit::ItemState state;
  ASSERT_TRUE(serverkit::ReadItem(rw, state));
  EXPECT_FLOAT_EQ(state.value->fltVal, 42.5f);

  g_seen.answer = DISP_E_TYPEMISMATCH;
  VARIANT oops = MakeVariantText("oops");
  EXPECT_EQ(serverkit::WriteItem(rw, oops), DISP_E_TYPEMISMATCH);
  VariantClear(&oops);
  ASSERT_TRUE(serverkit::ReadItem(rw, state));
  EXPECT_FLOAT_EQ(state.value->fltVal, 42.5f);

  g_seen.answer = S_OK;
  EXPECT_EQ(serverkit::WriteItem(ro, MakeVariantI2(3)), OPC_E_BADRIGHTS);
  EXPECT_EQ(serverkit::WriteItem(12345678, MakeVariantI2(3)), OPC_E_INVALIDHANDLE);
  EXPECT_EQ(g_seen.calls, 2);
}

// A stand-in for the program's user-interface thread: runs posted jobs in
// order, the way the main window's event loop does.
class UiThread {
 public:
  UiThread() : m_thread([this] { Loop(); }) {}
  ~UiThread() {
    {
      std::lock_guard lock(m_mutex);
      m_stop = true;
    }
    m_wake.notify_all();
    m_thread.join();
  }
  std::thread::id Id() const { return m_thread.get_id(); }
  // Runs `job` on the UI thread and waits for it.
  void RunAndWait(const std::function<void()>& job) {
    std::mutex doneMutex;
    std::condition_variable doneCv;
    bool done = false;
    {
      std::lock_guard lock(m_mutex);
      m_jobs.push_back([&] {
        job();
        std::lock_guard d(doneMutex);
        done = true;
        doneCv.notify_all();
      });
    }
    m_wake.notify_all();
    std::unique_lock d(doneMutex);
    doneCv.wait(d, [&] { return done; });
  }

 private:
  void Loop() {
    std::unique_lock lock(m_mutex);
    while (true) {
      m_wake.wait(lock, [&] { return m_stop || !m_jobs.empty(); });
      if (m_jobs.empty()) return;
      auto job = std::move(m_jobs.front());
      m_jobs.pop_front();
      lock.unlock();
      job();
      lock.lock();
    }
  }
  std::mutex m_mutex;
  std::condition_variable m_wake;
  std::deque<std::function<void()>> m_jobs;
  bool m_stop = false;
  std::thread m_thread;
};

TEST_F(ItemTable, ClientWritesRunTheCallbackOnTheUiThread) {
  UiThread ui;
  int32_t h = -1;
  ui.RunAndWait([&] { h = CreateServerTag("Valve", MakeVariantBool(false), OPC_QUALITY_GOOD, 1); });
  SetWriteCallback(RecordingWrite, 1);
  serverkit::SetWriteDispatcher([&](const std::function<void()>& job) { ui.RunAndWait(job); });

  // Several clients at once; each gets its own answer.
  std::atomic<int> ok{0};
  std::vector<std::thread> clients;
  for (int i = 0; i < 4; ++i)
    clients.emplace_back([&] {
      for (int n = 0; n < 25; ++n)
        if (serverkit::WriteItem(h, MakeVariantBool(n % 2 == 0)) == S_OK) ++ok;
    });
  for (auto& c : clients) c.join();
  EXPECT_EQ(ok.load(), 100);
  EXPECT_EQ(g_seen.calls, 100);
  EXPECT_EQ(g_seen.thread, ui.Id());
  serverkit::SetWriteDispatcher(nullptr);
  ui.RunAndWait([&] { RemoveServerTag(h); });
}

TEST_F(ItemTable, DispatcherThatDropsTheJobReportsFailure) {
  const int32_t h = CreateServerTag("Dropped", MakeVariantI2(0), OPC_QUALITY_GOOD, 1);
  SetWriteCallback(RecordingWrite, 1);
  // The main window refuses jobs once it is closing.
  serverkit::SetWriteDispatcher([](const std::function<void()>&) {});
  EXPECT_EQ(serverkit::WriteItem(h, MakeVariantI2(1)), serverkit::kWriteNotDelivered);
  EXPECT_EQ(g_seen.calls, 0);
  serverkit::SetWriteDispatcher(nullptr);
}

TEST_F(ItemTable, ListenersSeeCreateChangeAndRemoveInOrder) {
  std::vector<std::string> log;
  const int id = serverkit::AddChangeListener([&](const serverkit::ItemState& s) {
    if (s.name.empty())
      log.push_back("removed " + std::to_string(s.handle));
    else
      log.push_back(s.name + "=" + std::to_string(s.value->lVal));
  });
  const int32_t h = CreateServerTag("Level", MakeVariantI4(1), OPC_QUALITY_GOOD, 1);
  UpdateServerTag(h, MakeVariantI4(2), OPC_QUALITY_GOOD);
  RemoveServerTag(h);
  serverkit::RemoveChangeListener(id);
  CreateServerTag("Unheard", MakeVariantI4(3), OPC_QUALITY_GOOD, 1);
  ASSERT_EQ(log.size(), 3u);
  EXPECT_EQ(log[0], "Level=1");
  EXPECT_EQ(log[1], "Level=2");
  EXPECT_EQ(log[2], "removed " + std::to_string(h));
}

TEST_F(ItemTable, ListenerMayUnsubscribeAndReadDuringItsCall) {
  int first = 0, second = 0;
  int selfId = 0;
  selfId = serverkit::AddChangeListener([&](const serverkit::ItemState& s) {
    ++first;
    serverkit::ItemState again;
    EXPECT_TRUE(s.name.empty() || serverkit::ReadItem(s.handle, again));
    serverkit::RemoveChangeListener(selfId);
  });
  const int other = serverkit::AddChangeListener([&](const serverkit::ItemState&) { ++second; });
  const int32_t h = CreateServerTag("Once", MakeVariantI4(1), OPC_QUALITY_GOOD, 1);
  UpdateServerTag(h, MakeVariantI4(2), OPC_QUALITY_GOOD);
  EXPECT_EQ(first, 1);
  EXPECT_EQ(second, 2);
  serverkit::RemoveChangeListener(other);
}

TEST_F(ItemTable, ShutdownWithdrawsEverythingAndForgetsTheCallback) {
  const int32_t h = CreateServerTag("Left", MakeVariantI4(1), OPC_QUALITY_GOOD, 1);
  SetWriteCallback(RecordingWrite, 1);
  int removed = 0;
  const int id = serverkit::AddChangeListener([&](const serverkit::ItemState& s) {
    if (s.name.empty() && s.handle == h) ++removed;
  });
  EXPECT_TRUE(serverkit::IsRunning());
  ShutdownOpcServer();
  EXPECT_FALSE(serverkit::IsRunning());
  EXPECT_EQ(removed, 1);
  EXPECT_TRUE(serverkit::ListItems().empty());

  InitOpcServer(kPlexmarClsid, 250);
  const int32_t next = CreateServerTag("Left", MakeVariantI4(1), OPC_QUALITY_GOOD, 1);
  EXPECT_GT(next, h) << "a restart does not hand out old handles again";
  EXPECT_EQ(serverkit::WriteItem(next, MakeVariantI4(2)), serverkit::kWriteNotDelivered);
  EXPECT_EQ(g_seen.calls, 0);
  serverkit::RemoveChangeListener(id);
}

TEST_F(ItemTable, ConcurrentReadersSeeWholeValues) {
  VARIANT first = MakeVariantText("aaaa");
  const int32_t h = CreateServerTag("Text", first, OPC_QUALITY_GOOD, 1);
  VariantClear(&first);
  std::atomic<bool> stop{false};
  std::atomic<int> torn{0};
  std::thread reader([&] {
    serverkit::ItemState s;
    while (!stop) {
      if (!serverkit::ReadItem(h, s)) continue;
      const std::string text = BstrToUtf8(s.value->bstrVal);
      if (text != "aaaa" && text != "bbbbbbbb") ++torn;
    }
  });
  for (int i = 0; i < 2000; ++i) {
    VARIANT v = MakeVariantText(i % 2 ? "aaaa" : "bbbbbbbb");
    UpdateServerTag(h, v, OPC_QUALITY_GOOD);
    VariantClear(&v);
  }
  stop = true;
  reader.join();
  EXPECT_EQ(torn.load(), 0);
}

}  // namespace
