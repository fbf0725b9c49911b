// The OPC UA server over the item table: one thread that listens on
// opc.tcp, serves every connection from a poll() loop, and answers the
// discovery, session, view, attribute, subscription and monitored item
// services. It reads items under the table's own lock and never touches
// the program's tags; writes go through serverkit::WriteItem on a thread of
// their own, so that a user-interface thread that does not answer costs a
// BadTimeout and never a wedged server.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace serverkit::ua {

// What no client can push past. Each is enforced where the request arrives.
struct ServerLimits {
  uint32_t maxConnections = 100;
  uint32_t receiveBufferSize = 65536;       // bytes of one chunk, each way
  uint32_t maxMessageSize = 16u << 20;      // bytes of one request body
  uint32_t maxChunkCount = 512;             // chunks of one request
  uint32_t maxStringLength = 1u << 20;      // bytes of one String or ByteString
  uint32_t maxArrayLength = 100000;         // elements of one array
  uint32_t maxNestingDepth = 32;            // nested Variants, DataValues, ExtensionObjects
  uint32_t maxSessions = 100;
  uint32_t maxSubscriptionsPerSession = 20;
  uint32_t maxMonitoredItemsPerSession = 100000;
  uint32_t maxPublishRequestsPerSession = 20;
  uint32_t maxContinuationPointsPerSession = 10;
  uint32_t maxReferencesPerNode = 1000;     // in one Browse result before a continuation point
  uint32_t maxNodesPerRead = 10000;
  uint32_t maxNodesPerWrite = 1000;
  uint32_t maxNodesPerBrowse = 1000;
  uint32_t maxNodesPerCall = 10000;         // RegisterNodes, TranslateBrowsePaths, monitored item calls
  uint32_t maxUnsentBytes = 32u << 20;      // a client that stops reading is dropped past this
  uint32_t helloTimeoutMs = 10000;          // a client that never speaks is dropped after this
  uint32_t writeTimeoutMs = 5000;           // the longest wait for the program to take a write
  uint32_t minSessionTimeoutMs = 10000;
  uint32_t maxSessionTimeoutMs = 3600000;
  uint32_t minPublishingIntervalMs = 50;
};

// The host an endpoint URL names for a listen address: the machine's host
// name when it listens on all interfaces ("", "0.0.0.0", "::"), else the
// address itself (in brackets for IPv6), which is the only one that reaches
// it.
std::string AdvertisedHost(const std::string& bindAddress);

class Server {
 public:
  explicit Server(const ServerLimits& limits = ServerLimits());
  ~Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // Listens on `bindAddress` ("" for all interfaces) and `port` (0 picks a free
  // one) and starts the server thread. False, with the reason in `error`, when
  // the port cannot be bound.
  bool Start(const std::string& bindAddress, uint16_t port, std::string* error = nullptr);
  void Stop();
  bool IsRunning() const;
  uint16_t Port() const;
  // opc.tcp://<AdvertisedHost(bind address)>:<port>
  std::string EndpointUrl() const;

  // For the fuzz target and its seeds: a connection without a socket, fed
  // `data` as if it came from the network, on the caller's thread (the server
  // must not be started). Writes run through the item table's write path on
  // this thread too, and the clock reads a second ahead after each piece of
  // input and two hours ahead at the end. Session tokens, continuation points
  // and subscription ids are the same on every call. Returns the first `keepAnswers` bytes the
  // server sent back.
  std::vector<uint8_t> FeedUnconnected(const uint8_t* data, size_t size, size_t keepAnswers = 0);

  struct Impl;

 private:
  std::unique_ptr<Impl> m_impl;
};

}  // namespace serverkit::ua
