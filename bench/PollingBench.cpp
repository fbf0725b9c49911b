// Polling rate over Modbus/TCP on loopback: data blocks per second through
// the master library and the request chain (tick, reply message, next poll),
// against a libmodbus client reading the same blocks one after another from
// the same libmodbus slave. Both sides do one request at a time, so the
// figures compare the cost per request round trip. Prints both and the ratio.
#include <arpa/inet.h>
#include <modbus/modbus.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>

#include "core/MainFrameCore.h"
#include "core/ModbusDataBlock.h"
#include "core/ModbusPoller.h"
#include "core/PlexmarApp.h"
#include "masterlink/masterlink.h"
#include "tests/support/FreePort.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kRegisterBlocks = 5;
constexpr int kCoilBlocks = 5;
constexpr int kBlockPoints = 100;
constexpr double kRunSeconds = 3.0;

// The slave both clients read: libmodbus in a child process, one client at a
// time, taking the next when one goes.
pid_t StartSlave(uint16_t port) {
  const pid_t pid = ::fork();
  if (pid != 0) return pid;
  modbus_t* ctx = modbus_new_tcp("127.0.0.1", port);
  modbus_mapping_t* map = modbus_mapping_new(1000, 0, 1000, 0);
  for (int i = 0; i < 1000; ++i) {
    map->tab_registers[i] = static_cast<uint16_t>(i);
    map->tab_bits[i] = static_cast<uint8_t>(i % 2);
  }
  int listener = modbus_tcp_listen(ctx, 2);
  for (;;) {
    if (modbus_tcp_accept(ctx, &listener) < 0) ::_exit(1);
    uint8_t query[MODBUS_TCP_MAX_ADU_LENGTH];
    for (;;) {
      const int rc = modbus_receive(ctx, query);
      if (rc > 0) modbus_reply(ctx, query, rc, map);
      else if (rc < 0) break;
    }
    modbus_close(ctx);
  }
}

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// Blocks per second through masterlink and the chain, driven the way the
// main window drives it: a tick starts a cycle, each reply message is pumped
// on this thread as soon as the library posts it.
double PlexmarRate(uint16_t port) {
  CPlexmarApp app;
  std::mutex mutex;
  std::condition_variable woken;
  bool pending = false;
  CMainFrameCore frame(app, [&] {
    {
      std::lock_guard lock(mutex);
      pending = true;
    }
    woken.notify_one();
  });
  InstallModbusPolling(frame);
  if (!frame.OnCreate()) return 0;
  const TcpConnectRecord record{frame.Window(), WM_USER + 3, WM_USER + 4, 1, 2000};
  int32_t h = -1;
  for (int i = 0; i < 100 && h == -1; ++i) {
    h = ConnectTCP2(htonl(INADDR_LOOPBACK), port, &record);
    if (h == -1) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  if (h == -1) return 0;
  app.m_tcpMasters[0] = TcpMasterSlot{h, "127.0.0.1", port};
  for (int b = 0; b < kRegisterBlocks; ++b)
    app.AddDataBlock("127.0.0.1", 1, 3, static_cast<uint16_t>(1 + b * 200), kBlockPoints);
  for (int b = 0; b < kCoilBlocks; ++b)
    app.AddDataBlock("127.0.0.1", 1, 1, static_cast<uint16_t>(1 + b * 200), kBlockPoints);

  long blocks = 0;
  const auto start = Clock::now();
  while (SecondsSince(start) < kRunSeconds) {
    frame.OnTimer(CMainFrameCore::kTickTimerId);
    while (frame.m_hOutstandingMaster != -1) {
      std::unique_lock lock(mutex);
      woken.wait(lock, [&] { return pending; });
      pending = false;
      lock.unlock();
      frame.Pump();
    }
    for (const auto& block : app.m_dataBlocks) blocks += block->m_nStatus == 0;
  }
  const double rate = blocks / SecondsSince(start);
  frame.OnClose();
  CloseMasterConnection(h);
  return rate;
}

// A window that wakes the waiting thread for each posted reply.
class CSignalWindow : public MessageTarget {
 public:
  bool Post(UINT, WPARAM, LPARAM) override {
    {
      std::lock_guard lock(m_mutex);
      ++m_nPosted;
    }
    m_posted.notify_one();
    return true;
  }
  bool StartTimer(UINT_PTR, UINT, TIMERPROC) override { return false; }
  bool StopTimer(UINT_PTR) override { return false; }
  void WaitFor(long count) {
    std::unique_lock lock(m_mutex);
    m_posted.wait(lock, [&] { return m_nPosted >= count; });
  }

 private:
  std::mutex m_mutex;
  std::condition_variable m_posted;
  long m_nPosted = 0;
};

// The library alone: request, reply message, MODBUSResponse, next request,
// without the chain and the main window's queue. Shows where the time goes.
double MasterlinkRate(uint16_t port) {
  CSignalWindow window;
  const TcpConnectRecord record{&window, WM_USER + 3, 0, 1, 2000};
  const int32_t h = ConnectTCP2(htonl(INADDR_LOOPBACK), port, &record);
  if (h == -1) return 0;
  uint16_t words[200];
  long blocks = 0, requests = 0;
  const auto start = Clock::now();
  while (SecondsSince(start) < kRunSeconds) {
    for (int b = 0; b < kRegisterBlocks + kCoilBlocks; ++b) {
      const uint8_t function = b < kRegisterBlocks ? 3 : 1;
      const uint16_t first = static_cast<uint16_t>(1 + (b % kRegisterBlocks) * 200);
      const ModbusRequestHeader header{1, function, first, kBlockPoints};
      if (PollMODBUS(h, &header) != 0) continue;
      window.WaitFor(++requests);
      ModbusRequestHeader got{};
      blocks += MODBUSResponse(h, &got, words, 200) == 0;
    }
  }
  const double rate = blocks / SecondsSince(start);
  CloseMasterConnection(h);
  return rate;
}

double LibmodbusRate(uint16_t port) {
  modbus_t* ctx = modbus_new_tcp("127.0.0.1", port);
  if (ctx == nullptr || modbus_connect(ctx) != 0) return 0;
  uint16_t registers[kBlockPoints];
  uint8_t bits[kBlockPoints];
  long blocks = 0;
  const auto start = Clock::now();
  while (SecondsSince(start) < kRunSeconds) {
    for (int b = 0; b < kRegisterBlocks; ++b)
      blocks += modbus_read_registers(ctx, b * 200, kBlockPoints, registers) == kBlockPoints;
    for (int b = 0; b < kCoilBlocks; ++b)
      blocks += modbus_read_bits(ctx, b * 200, kBlockPoints, bits) == kBlockPoints;
  }
  const double rate = blocks / SecondsSince(start);
  modbus_close(ctx);
  modbus_free(ctx);
  return rate;
}

}  // namespace

int main() {
  const uint16_t port = testsupport::PickFreePort();
  const pid_t slave = StartSlave(port);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  // Alternate the two so that neither always runs on a cold or a warm machine.
  double plexmar = 0, library = 0, peer = 0;
  for (int round = 0; round < 2; ++round) {
    peer += LibmodbusRate(port);
    plexmar += PlexmarRate(port);
    library += MasterlinkRate(port);
  }
  ::kill(slave, SIGTERM);
  ::waitpid(slave, nullptr, 0);
  plexmar /= 2;
  library /= 2;
  peer /= 2;
  std::printf("Modbus/TCP polling on loopback, %d blocks of %d points (registers and coils):\n",
              kRegisterBlocks + kCoilBlocks, kBlockPoints);
  std::printf("  masterlink + request chain : %10.0f blocks/s\n", plexmar);
  std::printf("  libmodbus client           : %10.0f blocks/s\n", peer);
  std::printf("  (masterlink calls alone    : %10.0f blocks/s)\n", library);
  std::printf("  ratio                      : %10.2f\n", peer > 0 ? plexmar / peer : 0.0);
  return plexmar > 0 && peer > 0 ? 0 : 1;
}
