// Modbus/TCP slave throughput: 16 concurrent masters each reading 100
// holding registers as fast as answers come back, first against our slave
// library, then against a libmodbus TCP server serving the same block, in
// the same run. Prints requests per second of both and their ratio.
//
// Usage: bench_slavelink_tcp [seconds per round, default 3] [rounds, default 4]
#include <arpa/inet.h>
#include <modbus.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "platform/modbuswire.h"
#include "slavelink/TcpServer.h"
#include "slavelink/slavelink.h"

namespace {

constexpr int kClients = 16;
constexpr int kRegisters = 100;

int Connect(uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd);
    return -1;
  }
  const int on = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  return fd;
}

// One master on a connected socket: one request in flight, answers checked.
long RunMaster(int fd, std::chrono::steady_clock::time_point until, std::atomic<bool>& failed) {

  const uint8_t pdu[] = {3, 0, 0, 0, kRegisters};
  const size_t answerSize = 9 + 2 * kRegisters;
  std::vector<uint8_t> answer(answerSize);
  long done = 0;
  uint16_t tid = 0;
  while (std::chrono::steady_clock::now() < until) {
    const auto request = modbuswire::BuildMbapFrame(++tid, 0, 1, pdu);
    if (::send(fd, request.data(), request.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(request.size())) break;
    size_t got = 0;
    while (got < answerSize) {
      const ssize_t n = ::recv(fd, answer.data() + got, answerSize - got, 0);
      if (n <= 0) break;
      got += static_cast<size_t>(n);
    }
    if (got != answerSize || modbuswire::GetU16BE(answer.data()) != tid || answer[7] != 3 ||
        modbuswire::GetU16BE(&answer[9 + 2 * 42]) != 42 * 7) {
      failed = true;
      break;
    }
    ++done;
  }
  return done;
}

double Measure(const char* name, uint16_t port, double seconds) {
  std::atomic<bool> failed{false};
  std::vector<long> counts(kClients, 0);
  std::vector<std::thread> masters;
  // Connect everyone before the clock starts: with the server's backlog of
  // one, simultaneous connects are refused and retried by the system for
  // seconds, which says nothing about serving requests.
  std::vector<int> sockets;
  for (int i = 0; i < kClients; ++i) {
    sockets.push_back(Connect(port));
    if (sockets.back() < 0) failed = true;
  }
  const auto start = std::chrono::steady_clock::now();
  const auto until = start + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                 std::chrono::duration<double>(seconds));
  for (int i = 0; i < kClients; ++i) {
    masters.emplace_back([&, i] { counts[i] = sockets[i] < 0 ? 0 : RunMaster(sockets[i], until, failed); });
  }
  long total = 0;
  for (int i = 0; i < kClients; ++i) {
    masters[i].join();
    total += counts[i];
    if (sockets[i] >= 0) ::close(sockets[i]);
  }
  const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const double rate = total / elapsed;
  std::printf("  %-10s %9.0f requests/s (%ld in %.2f s)%s\n", name, rate, total, elapsed,
              failed ? "  [A MASTER SAW A WRONG OR MISSING ANSWER]" : "");
  return failed ? 0.0 : rate;
}

// A libmodbus TCP server for up to 16 masters, one thread, select() over the
// connections: the way libmodbus serves several masters.
class LibmodbusServer {
 public:
  explicit LibmodbusServer(const std::vector<uint16_t>& registers) {
    m_ctx = modbus_new_tcp("127.0.0.1", 0);
    m_mapping = modbus_mapping_new(0, 0, kRegisters, 0);
    for (int i = 0; i < kRegisters; ++i) m_mapping->tab_registers[i] = registers[i];
    m_listen = modbus_tcp_listen(m_ctx, kClients);
    sockaddr_in address{};
    socklen_t length = sizeof address;
    getsockname(m_listen, reinterpret_cast<sockaddr*>(&address), &length);
    m_port = ntohs(address.sin_port);
    m_thread = std::thread([this] { Serve(); });
  }
  ~LibmodbusServer() {
    m_stop = true;
    m_thread.join();
    ::close(m_listen);
    modbus_mapping_free(m_mapping);
    modbus_free(m_ctx);
  }
  uint16_t Port() const { return m_port; }

 private:
  void Serve() {
    fd_set all;
    FD_ZERO(&all);
    FD_SET(m_listen, &all);
    int highest = m_listen;
    uint8_t query[MODBUS_TCP_MAX_ADU_LENGTH];
    while (!m_stop) {
      fd_set ready = all;
      timeval timeout{0, 100000};
      if (select(highest + 1, &ready, nullptr, nullptr, &timeout) <= 0) continue;
      for (int fd = 0; fd <= highest; ++fd) {
        if (!FD_ISSET(fd, &ready)) continue;
        if (fd == m_listen) {
          const int client = ::accept(m_listen, nullptr, nullptr);
          if (client >= 0) {
            const int on = 1;
            setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
            FD_SET(client, &all);
            if (client > highest) highest = client;
          }
          continue;
        }
        modbus_set_socket(m_ctx, fd);
        const int rc = modbus_receive(m_ctx, query);
        if (rc > 0) {
          modbus_reply(m_ctx, query, rc, m_mapping);
        } else if (rc == -1) {
          ::close(fd);
          FD_CLR(fd, &all);
        }
      }
    }
    for (int fd = 0; fd <= highest; ++fd) {
      if (fd != m_listen && FD_ISSET(fd, &all)) ::close(fd);
    }
  }

  modbus_t* m_ctx = nullptr;
  modbus_mapping_t* m_mapping = nullptr;
  int m_listen = -1;
  uint16_t m_port = 0;
  std::atomic<bool> m_stop{false};
  std::thread m_thread;
};

}  // namespace

int main(int argc, char** argv) {
  const double seconds = argc > 1 ? std::atof(argv[1]) : 3.0;
  const int rounds = std::max(1, argc > 2 ? std::atoi(argv[2]) : 4);

  std::vector<uint16_t> registers(kRegisters);
  for (int i = 0; i < kRegisters; ++i) registers[i] = static_cast<uint16_t>(i * 7);
  if (DefineDataBlock(1, 3, 1, kRegisters, registers.data()) != 1) return 1;
  SetTCPServicePort(0);
  if (OpenTCPConnection(nullptr, 0) != 8050) return 1;
  uint16_t ours = 0;
  for (int i = 0; i < 200 && (ours = slavelink::TcpListeningPort()) == 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  if (ours == 0) {
    std::fprintf(stderr, "slavelink did not start listening\n");
    return 1;
  }
  LibmodbusServer peer(registers);

  std::printf("Modbus/TCP, %d masters each reading %d holding registers, %.1f s per round\n", kClients,
              kRegisters, seconds);
  double oursBest = 0, peerBest = 0, oursSum = 0, peerSum = 0;
  for (int round = 1; round <= rounds; ++round) {
    std::printf("round %d\n", round);
    // Alternate the order so neither always runs on a warmer machine.
    double a = 0, b = 0;
    if (round % 2 == 1) {
      a = Measure("slavelink", ours, seconds);
      b = Measure("libmodbus", peer.Port(), seconds);
    } else {
      b = Measure("libmodbus", peer.Port(), seconds);
      a = Measure("slavelink", ours, seconds);
    }
    std::printf("  ratio      %9.2f\n", b > 0 ? a / b : 0.0);
    oursBest = std::max(oursBest, a);
    peerBest = std::max(peerBest, b);
    oursSum += a;
    peerSum += b;
  }
  CloseSlaveConnection(8050);
  std::printf("mean: slavelink %.0f requests/s, libmodbus %.0f requests/s, ratio %.2f\n", oursSum / rounds,
              peerSum / rounds, peerSum > 0 ? oursSum / peerSum : 0.0);
  std::printf("best: slavelink %.0f requests/s, libmodbus %.0f requests/s, ratio %.2f\n", oursBest, peerBest,
              peerBest > 0 ? oursBest / peerBest : 0.0);
  return oursBest > 0 && peerBest > 0 ? 0 : 1;
}
