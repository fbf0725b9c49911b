// Plexmar's OPC UA server beside a node-opcua server in the same run, both
// holding the Variables ns=1;s=Bench.B0 .. B<n-1> (Doubles that all change
// once a second) and measured by the same node-opcua client
// (opcserver_peer.js), which takes turns between the two:
//   - Read round trips per second, one node each;
//   - nodes per second in Reads of 1000 nodes;
//   - data changes per second for 10,000 monitored items;
//   - the server's resident memory with 10,000 and 50,000 tags.
// The client and the machine's load bound the first three as much as the
// server does (10,000 items changing once a second make at most 10,000
// changes a second), so each is also given per CPU second of the server:
// for the reads its CPU time beyond what it spends idle (the tick), for the
// data changes all of it, the tick that makes the changes included.
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
constexpr int kReadSeconds = 8, kSettleSeconds = 5, kCountSeconds = 10;

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
  double roundTripsPerCpu = 0, batchNodesPerCpu = 0;
  double servingMiB = 0;
  // CPU seconds per second while the client asks nothing: the tick that
  // changes every tag. Taken off the CPU time of the read phases.
  double idleCpuShare = 0;
  // CPU seconds and wall seconds of the two read phases.
  double readCpu[2] = {0, 0}, readWall[2] = {0, 0};
};

// The peer client's run against both servers (Plexmar's first), with each
// server's CPU time sampled over its counting window. False, with `error`,
// when the peer failed.
bool Measure(const std::string urls[2], const pid_t servers[2], int items, Figures figures[2], std::string& error) {
  const std::string command = "NODE_PATH='" + CUaServerPeer::Modules() + "' node '" PLEXMAR_SOURCE_DIR
                              "/bench/opcserver_peer.js' '" + urls[0] + "' '" + urls[1] + "' " +
                              std::to_string(items) + " " + std::to_string(kReadSeconds) + " " +
                              std::to_string(kSettleSeconds) + " " + std::to_string(kCountSeconds) + " 2>&1";
  FILE* peer = ::popen(command.c_str(), "r");
  if (peer == nullptr) {
    error = "the peer did not start";
    return false;
  }
  char line[512];
  double cpuStart = 0;
  Clock::time_point wallStart;
  int k = 0, phase = 0;
  bool rates = false;
  double phaseCpu[2] = {0, 0};
  Clock::time_point phaseStart;
  double count[4] = {0, 0, 0, 0};  // reads of each server, then nodes
  while (std::fgets(line, sizeof line, peer)) {
    const std::string text = line;
    if (text.rfind("BEGIN", 0) == 0) {
      for (int i = 0; i < 2; ++i) phaseCpu[i] = CpuSeconds(servers[i]);
      phaseStart = Clock::now();
    } else if (text.rfind("END", 0) == 0 && phase < 2) {
      for (int i = 0; i < 2; ++i) {
        figures[i].readCpu[phase] = CpuSeconds(servers[i]) - phaseCpu[i];
        figures[i].readWall[phase] = std::chrono::duration<double>(Clock::now() - phaseStart).count();
      }
      ++phase;
    } else if (text.rfind("IDLED", 0) == 0) {
      const double wall = std::chrono::duration<double>(Clock::now() - phaseStart).count();
      for (int i = 0; i < 2; ++i) {
        Figures& f = figures[i];
        f.idleCpuShare = (CpuSeconds(servers[i]) - phaseCpu[i]) / wall;
        auto perCpu = [&](double done, int p) {
          const double busy = f.readCpu[p] - f.idleCpuShare * f.readWall[p];
          return busy > 0 ? done / busy : 0;
        };
        f.roundTripsPerCpu = perCpu(count[i], 0);
        f.batchNodesPerCpu = perCpu(count[2 + i], 1);
      }
    } else if (text.rfind("IDLE", 0) == 0) {
      for (int i = 0; i < 2; ++i) phaseCpu[i] = CpuSeconds(servers[i]);
      phaseStart = Clock::now();
    } else if (std::sscanf(line, "ROUNDTRIPS %lf %lf %lf %lf", &figures[0].roundTrips, &figures[1].roundTrips,
                           &count[0], &count[1]) == 4 ||
               std::sscanf(line, "BATCH %lf %lf %lf %lf", &figures[0].batchNodes, &figures[1].batchNodes, &count[2],
                           &count[3]) == 4) {
    } else if (std::sscanf(line, "COUNTING %d", &k) == 1 && (k == 0 || k == 1)) {
      cpuStart = CpuSeconds(servers[k]);
      wallStart = Clock::now();
    } else if (std::sscanf(line, "COUNTED %d", &k) == 1 && (k == 0 || k == 1)) {
      const double cpu = CpuSeconds(servers[k]) - cpuStart;
      const double wall = std::chrono::duration<double>(Clock::now() - wallStart).count();
      figures[k].cpuShare = wall > 0 ? cpu / wall : 0;
      figures[k].servingMiB = ResidentMiB(servers[k]);
    } else if (std::sscanf(line, "RATE %lf %lf", &figures[0].changes, &figures[1].changes) == 2) {
      rates = true;
      for (int i = 0; i < 2; ++i)
        figures[i].changesPerCpu = figures[i].cpuShare > 0 ? figures[i].changes / figures[i].cpuShare : 0;
    } else if (text.rfind("ERROR", 0) == 0) {
      error = text;
    }
  }
  ::pclose(peer);
  if (!rates && error.empty()) error = "the peer ended early\n";
  return rates;
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

  // Both servers up at once; the peer takes turns between them.
  auto plexmar = std::make_unique<PlexmarServer>(items, testsupport::PickFreePort());
  if (!plexmar->WaitReady()) {
    std::printf("Plexmar's server did not start\n");
    return 1;
  }
  auto node = std::make_unique<CUaServerPeer>(testsupport::PickFreePort(), "Plexmar Bench Server", items);
  if (!node->Start(180000)) {
    std::printf("the node-opcua server did not start\n");
    return 1;
  }
  const std::string urls[2] = {"opc.tcp://127.0.0.1:" + std::to_string(plexmar->Port()),
                               "opc.tcp://127.0.0.1:" + std::to_string(node->Port()) + "/UA/Test"};
  const pid_t pids[2] = {plexmar->Pid(), node->Pid()};
  Figures figures[2];
  std::this_thread::sleep_for(std::chrono::seconds(2));
  std::string error;
  if (!Measure(urls, pids, items, figures, error)) {
    std::printf("the measuring client failed: %s", error.c_str());
    return 1;
  }
  // The memory runs below start servers of their own.
  node.reset();
  plexmar.reset();
  const Figures& ours = figures[0];
  const Figures& theirs = figures[1];

  std::printf("%d tags, each changing once a second; one node-opcua client measures both servers\n", items);
  Row("Read round trips, one node each", ours.roundTrips, theirs.roundTrips, "reads/s");
  Row("Read round trips per CPU second", ours.roundTripsPerCpu, theirs.roundTripsPerCpu, "reads");
  Row("Reads of 1000 nodes", ours.batchNodes, theirs.batchNodes, "nodes/s");
  Row("Nodes read per CPU second", ours.batchNodesPerCpu, theirs.batchNodesPerCpu, "nodes");
  Row("Data changes, all items monitored", ours.changes, theirs.changes, "changes/s");
  Row("Data changes per CPU second of the server", ours.changesPerCpu, theirs.changesPerCpu, "changes");
  std::printf("%-42s Plexmar %9.1f%%  node-opcua %9.1f%%\n", "Server CPU, idle (the tick only)",
              100 * ours.idleCpuShare, 100 * theirs.idleCpuShare);
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
