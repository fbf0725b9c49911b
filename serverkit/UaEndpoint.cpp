// The OPC UA endpoint's place in the toolkit's life: started by InitOpcServer
// from the environment, stopped by ShutdownOpcServer.
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>

#include "opcua/socket.h"
#include "serverkit/UaServer.h"
#include "serverkit/serverkit.h"

namespace serverkit {
namespace {

std::mutex g_endpointMutex;
std::unique_ptr<ua::Server> g_endpoint;
uint32_t g_writeTimeoutMs = ua::ServerLimits().writeTimeoutMs;

}  // namespace

bool OpcEndpointPort(uint16_t& port) {
  port = kDefaultOpcUaPort;
  const char* text = std::getenv("PLEXMAR_OPCUA_PORT");
  if (text == nullptr || *text == '\0') return true;
  char* end = nullptr;
  const long value = std::strtol(text, &end, 10);
  if (*end != '\0' || value < 0 || value > 65535) return false;
  port = static_cast<uint16_t>(value);
  return true;
}

std::string ConfiguredOpcEndpointUrl() {
  uint16_t port = 0;
  if (!OpcEndpointPort(port) || port == 0) return std::string();
  const char* bind = std::getenv("PLEXMAR_OPCUA_BIND");
  return "opc.tcp://" + ua::AdvertisedHost(bind ? bind : "") + ":" + std::to_string(port);
}

std::string OpcEndpointUrl() {
  std::lock_guard lock(g_endpointMutex);
  return g_endpoint ? g_endpoint->EndpointUrl() : std::string();
}

void SetOpcWriteTimeout(uint32_t milliseconds) {
  std::lock_guard lock(g_endpointMutex);
  g_writeTimeoutMs = milliseconds;
}

void StartOpcEndpoint() {
  std::lock_guard lock(g_endpointMutex);
  if (g_endpoint) return;
  uint16_t port = 0;
  if (!OpcEndpointPort(port)) {
    std::fprintf(stderr, "plexmar: PLEXMAR_OPCUA_PORT=\"%s\" is not a port number; the OPC UA endpoint is off\n",
                 std::getenv("PLEXMAR_OPCUA_PORT"));
    return;
  }
  if (port == 0) return;
  const char* bind = std::getenv("PLEXMAR_OPCUA_BIND");
  ua::ServerLimits limits;
  limits.writeTimeoutMs = g_writeTimeoutMs;
  auto server = std::make_unique<ua::Server>(limits);
  std::string error;
  if (!server->Start(bind ? bind : "", port, &error)) {
    std::fprintf(stderr, "plexmar: the OPC UA endpoint cannot listen on %s port %u (%s); running without it\n",
                 bind && *bind ? bind : "all interfaces,", static_cast<unsigned>(port), error.c_str());
    return;
  }
  g_endpoint = std::move(server);
}

void StopOpcEndpoint() {
  std::unique_ptr<ua::Server> server;
  {
    std::lock_guard lock(g_endpointMutex);
    server = std::move(g_endpoint);
  }
  server.reset();
}

}  // namespace serverkit
