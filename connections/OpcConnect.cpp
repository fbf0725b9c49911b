#include "connections/OpcConnect.h"

#include <memory>

#include "clientkit/clientkit.h"
#include "connections/OpcServerLink.h"
#include "core/HostUi.h"
#include "core/PlexmarApp.h"

namespace opcconn {

namespace {

// Names are kept to the 99 characters the toolkit's name buffers hold.
constexpr size_t kMaxNameChars = 99;

void Tell(CPlexmarApp& app, const char* text) {
  if (IHostUi* ui = app.HostUi()) ui->MessageBox(text);
}

// A server going away needs nothing here: its items simply stop changing.
void OnServerShutdown(int32_t) {}

}  // namespace

bool ConnectServer(CPlexmarApp& app, const std::string& machine, const std::string& server) {
  const std::string machineName = machine.substr(0, kMaxNameChars);
  const std::string serverName = server.substr(0, kMaxNameChars);
  const int32_t hServer = ClientConnectServer(machineName.c_str(), serverName.c_str(), 0);
  if (hServer == -1) {
    Tell(app, "Connection Failed");
    return false;
  }
  int32_t out1 = 0;
  int32_t out2 = 0;
  const int32_t hGroup = ClientAddGroup(hServer, "Group 1", &out1, &out2);
  if (hGroup == -1) {
    ClientDisconnectServer(hServer);
    Tell(app, "Connection Failed to Create Group");
    return false;
  }
  auto link = std::make_unique<COpcServerLink>(machineName, serverName);
  link->m_bConnected = 1;
  link->m_hServer = hServer;
  link->m_hGroup = hGroup;
  app.m_serverLinks.push_back(std::move(link));
  ClientSetDataCallback(hServer, OnClientDataChange);
  ClientSetShutdownCallback(hServer, OnServerShutdown);
  return true;
}

}  // namespace opcconn
