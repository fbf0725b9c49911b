#include "tests/projectfiles/ProjectDoubles.h"

#include <cstring>

#include "clientkit/clientkit.h"

namespace projectdoubles {

std::vector<std::string>& ClientCalls() {
  static std::vector<std::string> calls;
  return calls;
}

}  // namespace projectdoubles

using projectdoubles::ClientCalls;

namespace {
int32_t g_nextServer = 70;
std::string g_lastServer;
}  // namespace

void projectdoubles::ResetClient() {
  ClientCalls().clear();
  g_nextServer = 70;
}

int32_t ClientCountServers(int32_t, const char*) { return 0; }
void ClientGetServerName(int32_t, char* buffer, int32_t size) {
  if (size > 0) buffer[0] = '\0';
}
int32_t ClientConnectServer(const char* machine, const char* server, int32_t flags) {
  ClientCalls().push_back(std::string("Connect ") + machine + "|" + server + " " + std::to_string(flags));
  g_lastServer = server;
  if (std::strcmp(server, "Down") == 0) return -1;
  return g_nextServer++;
}
int32_t ClientAddGroup(int32_t server, const char* name, int32_t*, int32_t*) {
  ClientCalls().push_back("AddGroup " + std::to_string(server) + " " + name);
  return g_lastServer == "NoGroup" ? -1 : server + 1000;
}
void ClientSetDataCallback(int32_t server, ClientDataCallback) {
  ClientCalls().push_back("DataCallback " + std::to_string(server));
}
void ClientSetShutdownCallback(int32_t, ClientShutdownCallback) {}
void ClientDisconnectServer(int32_t server) { ClientCalls().push_back("Disconnect " + std::to_string(server)); }
void ClientRefreshGroup(int32_t server, int32_t group, int32_t mode) {
  ClientCalls().push_back("Refresh " + std::to_string(server) + " " + std::to_string(group) + " " +
                          std::to_string(mode));
}
int32_t ClientAddItem(int32_t, int32_t, const char*) { return -1; }
int32_t ClientActivateItem(int32_t, int32_t, int32_t, void*) { return 0; }
int32_t ClientReadItem(int32_t, int32_t, int32_t, VARIANT*, FILETIME*, uint32_t*) { return 0; }
void ClientRemoveItem(int32_t, int32_t, int32_t) {}
void ClientWriteItem(int32_t, int32_t, int32_t, VARIANT*, int32_t) {}
int32_t ClientBrowseTo(int32_t, const char*) { return 0; }
int32_t ClientBrowseCount(int32_t, int32_t) { return 0; }
int32_t ClientBrowseName(int32_t, int32_t, char*, int32_t) { return 0; }
int32_t ClientGetItemId(int32_t, const char*, char*, int32_t) { return 0; }
int32_t ClientGetNamespaceType(int32_t, int32_t*) { return 0; }
