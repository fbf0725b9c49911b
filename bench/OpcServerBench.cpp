// Plexmar's OPC UA server beside a node-opcua server in the same run, both
// holding the Variables ns=1;s=Bench.B0 .. B<n-1> (Doubles that all change
// once a second) and measured by the same node-opcua client
// (opcserver_peer.js):
//   - Read round trips per second, one node each;
//   - nodes per second in Reads of 1000 nodes;
//   - data changes per second for 10,000 monitored items, and the server's
//     CPU time for them (changes per CPU second);
//   - the server's resident memory with 10,000 and 50,000 tags.
// Each server runs in a process of its own, so that its memory and CPU time
// are its own: Plexmar's is this program started with --serve (the item
// table, the endpoint, and a tick that updates every tag once a second, as
// the program's main thread does), node-opcua's is the tests' ua_server.js.
// PLEXMAR_BENCH_ITEMS sets the tag count of the throughput runs (10000).
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>

#include "serverkit/serverkit.h"
#include "tests/clientkit/UaServerPeer.h"
#include "tests/support/FreePort.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kPhaseSeconds = 5, kSettleSeconds = 5, kCountSeconds = 10;

// --- Plexmar's side, in the child ---------------------------------------------------

std::string BenchName(int i) { return "Bench.B" + std::to_string(i); }

int Serve(int items, uint16_t port) {
  ::prctl(PR_SET_PDEATHSIG, SIGKILL);
  setenv("PLEXMAR_OPCUA_PORT", std::to_string(port).c_str(), 1);
  setenv("PLEXMAR_OPCUA_BIND", "127.0.0.1", 1);
  InitOpcServer(kPlexmarClsid, 250);
  std::vector<int32_t> handles;
  handles.reserve(static_cast<size_t>(items));
  for (int i = 0; i < items; ++i) handles.push_back(CreateServerTag(BenchName(i).c_str(), MakeVariantR8(0), 0xC0, 1));
  if (serverkit::OpcEndpointUrl().empty()) return 1;
  std::printf("READY %u\n", port);
  std::fflush(stdout);
  for (double tick = 1;; ++tick) {
    std::this_thread::sleep_for(std::chrono::seconds(1));
    for (int32_t h : handles) UpdateServerTag(h, MakeVariantR8(tick), 0xC0);
  }
}

class PlexmarServer {
 public:
  PlexmarServer(int items, uint16_t port) : m_port(port) {
    int out[2];
    if (::pipe(out) != 0) return;
    m_pid = ::fork();
    if (m_pid == 0) {
      ::dup2(out[1], 1);
      ::close(out[0]);
      char self[4096];
      const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
      if (n <= 0) ::_exit(127);
      self[n] = '\0';
      const std::string count = std::to_string(items), p = std::to_string(port);
      ::execl(self, self, "--serve", count.c_str(), p.c_str(), nullptr);
      ::_exit(127);
    }
    ::close(out[1]);
    m_out = ::fdopen(out[0], "r");
  }
  ~PlexmarServer() {
    if (m_pid > 0) {
      ::kill(m_pid, SIGKILL);
      ::waitpid(m_pid, nullptr, 0);
    }
    if (m_out) ::fclose(m_out);
  }
  bool WaitReady() {
    char line[128];
    return m_out && std::fgets(line, sizeof line, m_out) && std::strncmp(line, "READY", 5) == 0;
  }
  pid_t Pid() const { return m_pid; }
  uint16_t Port() const { return m_port; }

 private:
  uint16_t m_port;
  pid_t m_pid = -1;
  FILE* m_out = nullptr;
};

// --- measuring ------------------------------------------------------------------------

// Resident memory of `pid` in MiB.
double ResidentMiB(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::atof(line.c_str() + 6) / 1024.0;
  return 0;
}

// User plus system CPU seconds of `pid` so far.
double CpuSeconds(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(in)), {});
  const size_t close = text.rfind(')');
  if (close == std::string::npos) return 0;
  std::istringstream fields(text.substr(close + 2));
  std::string field;
  unsigned long long utime = 0, stime = 0;
  // After the name: state is field 3, utime 14, stime 15.
  for (int i = 3; i <= 15 && fields >> field; ++i) {
    if (i == 14) utime = std::stoull(field);
    if (i == 15) stime = std::stoull(field);
  }
  return static_cast<double>(utime + stime) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

struct Figures {
  double roundTrips = 0, batchNodes = 0, changes = 0, changesPerCpu = 0, cpuShare = 0;
  double idleMiB = 0, servingMiB = 0;
  std::string error;
};

// The peer client's run against `url`, with the server's CPU time sampled
// over the counting window.
Figures Measure(const std::string& url, int items, pid_t server) {
  Figures f;
  f.idleMiB = ResidentMiB(server);
  const std::string command = "NODE_PATH='" + CUaServerPeer::Modules() + "' node '" PLEXMAR_SOURCE_DIR
                              "/bench/opcserver_peer.js' '" + url + "' " + std::to_string(items) + " " +
                              std::to_string(kPhaseSeconds) + " " + std::to_string(kSettleSeconds) + " " +
                              std::to_string(kCountSeconds) + " 2>&1";
  FILE* peer = ::popen(command.c_str(), "r");
  if (peer == nullptr) {
    f.error = "the peer did not start";
    return f;
  }
  char line[512];
  double cpuStart = 0;
  Clock::time_point wallStart;
  while (std::fgets(line, sizeof line, peer)) {
    const std::string text = line;
    if (text.rfind("COUNTING", 0) == 0) {
      cpuStart = CpuSeconds(server);
      wallStart = Clock::now();
    } else if (text.rfind("COUNTED", 0) == 0) {
      const double cpu = CpuSeconds(server) - cpuStart;
      const double wall = std::chrono::duration<double>(Clock::now() - wallStart).count();
      f.cpuShare = wall > 0 ? cpu / wall : 0;
      f.servingMiB = ResidentMiB(server);
    } else if (std::sscanf(line, "ROUNDTRIPS %lf", &f.roundTrips) == 1 ||
               std::sscanf(line, "BATCH %lf", &f.batchNodes) == 1) {
    } else if (std::sscanf(line, "RATE %lf", &f.changes) == 1) {
      f.changesPerCpu = f.cpuShare > 0 ? f.changes / f.cpuShare : 0;
    } else if (text.rfind("ERROR", 0) == 0) {
      f.error = text;
    }
  }
  ::pclose(peer);
  return f;
}

void Row(const char* what, double ours, double theirs, const char* unit, bool lowerIsBetter = false) {
  const double ratio = theirs > 0 ? ours / theirs : 0;
  std::printf("%-42s Plexmar %10.1f  node-opcua %10.1f  %-9s ratio %.2f%s\n", what, ours, theirs, unit, ratio,
              lowerIsBetter ? " (lower is better)" : "");
}

// Resident memory of both servers holding `items` tags, a few ticks after
// they are up.
void MemoryOnly(int items, double& ours, double& theirs) {
  {
    PlexmarServer plexmar(items, testsupport::PickFreePort());
    if (plexmar.WaitReady()) {
      std::this_thread::sleep_for(std::chrono::seconds(3));
      ours = ResidentMiB(plexmar.Pid());
    }
  }
  CUaServerPeer node(testsupport::PickFreePort(), "Plexmar Bench Server", items);
  if (node.Start(180000)) {
    std::this_thread::sleep_for(std::chrono::seconds(3));
    theirs = ResidentMiB(node.Pid());
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "--serve") == 0)
    return Serve(std::atoi(argv[2]), static_cast<uint16_t>(std::atoi(argv[3])));
  if (!CUaServerPeer::Available()) {
    std::printf("node-opcua is not installed (scripts/setup-deps.sh): nothing measured\n");
    return 0;
  }
  const int items = std::getenv("PLEXMAR_BENCH_ITEMS") ? std::atoi(std::getenv("PLEXMAR_BENCH_ITEMS")) : 10000;

  Figures ours, theirs;
  {
    PlexmarServer plexmar(items, testsupport::PickFreePort());
    if (!plexmar.WaitReady()) {
      std::printf("Plexmar's server did not start\n");
      return 1;
    }
    std::this_thread::sleep_for(std::chrono::seconds(2));
    ours = Measure("opc.tcp://127.0.0.1:" + std::to_string(plexmar.Port()), items, plexmar.Pid());
  }
  {
    CUaServerPeer node(testsupport::PickFreePort(), "Plexmar Bench Server", items);
    if (!node.Start(180000)) {
      std::printf("the node-opcua server did not start\n");
      return 1;
    }
    std::this_thread::sleep_for(std::chrono::seconds(2));
    theirs = Measure("opc.tcp://127.0.0.1:" + std::to_string(node.Port()) + "/UA/Test", items, node.Pid());
  }
  if (!ours.error.empty()) std::printf("Plexmar run: %s", ours.error.c_str());
  if (!theirs.error.empty()) std::printf("node-opcua run: %s", theirs.error.c_str());

  std::printf("%d tags, each changing once a second; one node-opcua client measures both servers\n", items);
  Row("Read round trips, one node each", ours.roundTrips, theirs.roundTrips, "reads/s");
  Row("Reads of 1000 nodes", ours.batchNodes, theirs.batchNodes, "nodes/s");
  Row("Data changes, all items monitored", ours.changes, theirs.changes, "changes/s");
  Row("Data changes per CPU second of the server", ours.changesPerCpu, theirs.changesPerCpu, "changes");
  std::printf("%-42s Plexmar %9.1f%%  node-opcua %9.1f%%\n", "Server CPU while publishing", 100 * ours.cpuShare,
              100 * theirs.cpuShare);
  Row("Resident memory, serving the client", ours.servingMiB, theirs.servingMiB, "MiB", true);
  for (int count : {10000, 50000}) {
    double mine = 0, node = 0;
    MemoryOnly(count, mine, node);
    const std::string what = "Resident memory, " + std::to_string(count) + " tags";
    Row(what.c_str(), mine, node, "MiB", true);
  }
  return 0;
}
