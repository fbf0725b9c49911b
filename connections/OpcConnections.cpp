#include "connections/OpcConnections.h"

#include <memory>
#include <new>

#include "clientkit/clientkit.h"
#include "connections/OpcServerLink.h"
#include "core/ExchangeTag.h"
#include "core/HostUi.h"
#include "core/PlexmarApp.h"

namespace opcconn {

namespace {

constexpr int32_t kServerNameBuffer = 200;

void Tell(CPlexmarApp& app, const char* text) {
  if (IHostUi* host = app.HostUi()) host->MessageBox(text);
}

std::string Cut(const std::string& name) { return name.substr(0, kMaxNameLength); }

}  // namespace

std::vector<std::string> EnumerateServers(const std::string& machine) {
  int32_t count = ClientCountServers(1, machine.c_str());
  if (count == 0) count = ClientCountServers(0, machine.c_str());
  std::vector<std::string> names;
  for (int32_t i = 0; i < count; ++i) {
    char buffer[kServerNameBuffer] = {};
    ClientGetServerName(i, buffer, kServerNameBuffer);
    buffer[kServerNameBuffer - 1] = '\0';
    names.emplace_back(buffer);
  }
  return names;
}

COpcServerLink* ConnectServerLink(CPlexmarApp& app, const std::string& machine, const std::string& server) {
  const std::string machineName = Cut(machine);
  const std::string serverName = Cut(server);
  const int32_t hServer = ClientConnectServer(machineName.c_str(), serverName.c_str(), 0);
  if (hServer == -1) {
    Tell(app, kConnectFailedText);
    return nullptr;
  }
  int32_t updateRate = 0, revised = 0;
  const int32_t hGroup = ClientAddGroup(hServer, kGroupName, &updateRate, &revised);
  if (hGroup == -1) {
    ClientDisconnectServer(hServer);
    Tell(app, kGroupFailedText);
    return nullptr;
  }
  std::unique_ptr<COpcServerLink> link;
  try {
    link = std::make_unique<COpcServerLink>(machineName, serverName);
    app.m_serverLinks.reserve(app.m_serverLinks.size() + 1);
  } catch (const std::bad_alloc&) {
    ClientDisconnectServer(hServer);
    Tell(app, kOutOfMemoryText);
    return nullptr;
  }
  link->m_bConnected = 1;
  link->m_hServer = hServer;
  link->m_hGroup = hGroup;
  COpcServerLink* added = link.get();
  app.m_serverLinks.push_back(std::move(link));
  ClientSetDataCallback(hServer, OnClientDataChange);
  ClientSetShutdownCallback(hServer, OnClientShutdown);
  return added;
}

bool ConnectServer(CPlexmarApp& app, const std::string& machine, const std::string& server) {
  return ConnectServerLink(app, machine, server) != nullptr;
}

void DisconnectServerLinks(CPlexmarApp& app) {
  // Take the list out first: nothing reached from a disconnect can then find
  // a link that is half gone.
  std::vector<std::unique_ptr<COpcServerLink>> links;
  links.swap(app.m_serverLinks);
  for (const auto& link : links) {
    if (link->m_bConnected) ClientDisconnectServer(link->m_hServer);
    link->m_bConnected = 0;
  }
  // Their items went with the servers: a tag that stays must not name one.
  for (const auto& tag : app.m_tags) {
    if (tag->m_nSourceKind != CExchangeTag::kSourceOpc || tag->m_hClientItem == -1) continue;
    for (const auto& link : links)
      if (link->m_strMachine == tag->m_strMachine && link->m_strServer == tag->m_strServer)
        tag->m_hClientItem = -1;
  }
}

void OnClientShutdown(int32_t /*server*/) {}

}  // namespace opcconn
