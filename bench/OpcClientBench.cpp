// Data changes per second from a node-opcua server whose items all change
// once a second, taken by clientkit into "OPC Point" tags on this thread (as
// the main window would), beside a node-opcua client subscribed to the same
// items in the same run; and the latency from the server's change to the
// tag (median and 99th percentile). PLEXMAR_BENCH_ITEMS sets the number of
// items (10000).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "clientkit/clientkit.h"
#include "connections/OpcConnections.h"
#include "connections/OpcServerLink.h"
#include "core/ExchangeTag.h"
#include "core/PlexmarApp.h"
#include "tests/clientkit/UaServerPeer.h"
#include "tests/support/FreePort.h"

namespace {

using Clock = std::chrono::steady_clock;
std::vector<double> g_latencies;
std::map<long, int64_t> g_changedAt;  // tick -> server's unix ms
size_t g_changes = 0;
bool g_counting = false;

int64_t UnixMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

void Counting(int32_t server, int32_t group, void* reference, VARIANT* value, FILETIME stamp, uint32_t quality) {
  if (g_counting && value != nullptr && value->vt == VT_R8) {
    ++g_changes;
    auto it = g_changedAt.find(static_cast<long>(value->dblVal));
    if (it != g_changedAt.end()) g_latencies.push_back(static_cast<double>(UnixMs() - it->second));
  }
  OnClientDataChange(server, group, reference, value, stamp, quality);
}

void ReadChanges(CUaServerPeer& server, size_t& seen) {
  const std::vector<std::string> lines = server.Lines();
  for (; seen < lines.size(); ++seen) {
    long tick = 0;
    long long ms = 0;
    if (std::sscanf(lines[seen].c_str(), "CHANGE %ld %lld", &tick, &ms) == 2) g_changedAt[tick] = ms;
  }
}

}  // namespace

int main() {
  if (!CUaServerPeer::Available()) {
    std::printf("node-opcua is not installed (scripts/setup-deps.sh): nothing measured\n");
    return 0;
  }
  const int items = std::getenv("PLEXMAR_BENCH_ITEMS") ? std::atoi(std::getenv("PLEXMAR_BENCH_ITEMS")) : 10000;
  const int settleS = 5, measureS = 10;
  CUaServerPeer server(testsupport::PickFreePort(), "Plexmar Bench Server", items);
  if (!server.Start()) {
    std::printf("the node-opcua server did not start\n");
    return 1;
  }
  const std::string machine = "localhost:" + std::to_string(server.Port());

  CPlexmarApp app;
  const auto setupStart = Clock::now();
  COpcServerLink* link = opcconn::ConnectServerLink(app, machine, "Plexmar Bench Server");
  if (link == nullptr) {
    std::printf("clientkit could not connect\n");
    return 1;
  }
  ClientSetDataCallback(link->m_hServer, Counting);
  for (int i = 0; i < items; ++i) {
    auto tag = std::make_unique<CExchangeTag>("B" + std::to_string(i));
    tag->m_nSourceKind = CExchangeTag::kSourceOpc;
    tag->m_strMachine = machine;
    tag->m_strServer = "Plexmar Bench Server";
    tag->m_strItemId = "ns=1;s=Bench.B" + std::to_string(i);
    app.AddTag(std::move(tag));
  }
  size_t bound = 0;
  for (const auto& tag : app.m_tags) bound += tag->m_hClientItem != -1;
  const double setupS = std::chrono::duration<double>(Clock::now() - setupStart).count();

  // The node-opcua client subscribes meanwhile and counts over the same window.
  const std::string url = "opc.tcp://localhost:" + std::to_string(server.Port()) + "/UA/Test";
  const std::string command = "NODE_PATH='" + CUaServerPeer::Modules() + "' node '" PLEXMAR_SOURCE_DIR
                              "/bench/opcclient_peer.js' '" + url + "' " + std::to_string(items) + " " +
                              std::to_string(settleS) + " " + std::to_string(measureS) + " 2>/dev/null";
  FILE* peer = ::popen(command.c_str(), "r");
  char line[256];
  // Wait until the peer has subscribed, then both settle and count together.
  while (peer && std::fgets(line, sizeof line, peer) && std::string(line).rfind("SUBSCRIBED", 0) != 0) {
  }
  size_t seen = 0;
  auto pumpFor = [&](int seconds) {
    const auto end = Clock::now() + std::chrono::seconds(seconds);
    while (Clock::now() < end) {
      ReadChanges(server, seen);
      ClientDispatchNotifications();
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  };
  pumpFor(settleS);
  g_counting = true;
  pumpFor(measureS);
  g_counting = false;
  double peerRate = 0;
  while (peer && std::fgets(line, sizeof line, peer))
    if (std::sscanf(line, "RATE %lf", &peerRate) == 1) break;
  if (peer) ::pclose(peer);

  const double ourRate = static_cast<double>(g_changes) / measureS;
  std::sort(g_latencies.begin(), g_latencies.end());
  auto percentile = [&](double p) {
    return g_latencies.empty() ? 0.0 : g_latencies[static_cast<size_t>(p * static_cast<double>(g_latencies.size() - 1))];
  };
  std::printf("items: %d (bound %zu, set up in %.1f s), each changing once a second\n", items, bound, setupS);
  std::printf("clientkit into tags: %.0f changes/s\n", ourRate);
  std::printf("node-opcua client:   %.0f changes/s\n", peerRate);
  std::printf("ratio clientkit / node-opcua: %.2f\n", peerRate > 0 ? ourRate / peerRate : 0.0);
  std::printf("latency server change -> tag: median %.0f ms, 99th percentile %.0f ms (%zu samples)\n",
              percentile(0.5), percentile(0.99), g_latencies.size());
  opcconn::DisconnectServerLinks(app);
  return 0;
}
