#include "tests/core/ToolkitDoubles.h"

#include "clientkit/clientkit.h"
#include "slavelink/slavelink.h"

namespace doubles {

ClientKit& Client() {
  static ClientKit kit;
  return kit;
}

SlaveLink& Slave() {
  static SlaveLink link;
  return link;
}

void Reset() {
  Client() = ClientKit();
  Slave() = SlaveLink();
}

}  // namespace doubles

using doubles::Client;

int32_t ClientCountServers(int32_t, const char*) { return 0; }
void ClientGetServerName(int32_t, char*, int32_t) {}
int32_t ClientConnectServer(const char*, const char*, int32_t) { return -1; }
int32_t ClientAddGroup(int32_t, const char*, int32_t*, int32_t*) { return -1; }
void ClientSetDataCallback(int32_t, ClientDataCallback) {}
void ClientSetShutdownCallback(int32_t, ClientShutdownCallback) {}
void ClientDisconnectServer(int32_t) {}
void ClientRefreshGroup(int32_t, int32_t, int32_t) {}
int32_t ClientAddItem(int32_t server, int32_t group, const char* itemId) {
  Client().calls.push_back("add " + std::to_string(server) + "/" + std::to_string(group) + " " +
                           itemId);
  return Client().nextItem;
}
int32_t ClientActivateItem(int32_t, int32_t, int32_t item, void* reference) {
  Client().calls.push_back("activate " + std::to_string(item));
  Client().lastReference = reference;
  return Client().activateResult;
}
int32_t ClientReadItem(int32_t, int32_t, int32_t item, VARIANT* value, FILETIME* timestamp,
                       uint32_t* quality) {
  Client().calls.push_back("read " + std::to_string(item));
  if (Client().readResult == 0) return 0;
  VariantCopy(value, &Client().readValue);
  timestamp->dwLowDateTime = 7;
  *quality = Client().readQuality;
  return 1;
}
void ClientRemoveItem(int32_t server, int32_t group, int32_t item) {
  Client().calls.push_back("remove " + std::to_string(server) + "/" + std::to_string(group) + " " +
                           std::to_string(item));
  Client().removedItems.push_back(item);
}
void ClientWriteItem(int32_t, int32_t, int32_t, VARIANT*, int32_t) { ++Client().writes; }
int32_t ClientBrowseTo(int32_t, const char*) { return 0; }
int32_t ClientBrowseCount(int32_t, int32_t) { return 0; }
int32_t ClientBrowseName(int32_t, int32_t, char*, int32_t) { return 0; }
int32_t ClientGetItemId(int32_t, const char*, char*, int32_t) { return 0; }
int32_t ClientGetNamespaceType(int32_t, int32_t*) { return 0; }
void ClientSetNotifyWindow(HWND, UINT) {}
int ClientDispatchNotifications() { return 0; }

extern "C" {
int32_t DefineDataBlock(uint8_t, uint8_t, uint16_t, uint16_t, uint16_t* data) {
  const int32_t handle = doubles::Slave().nextHandle++;
  doubles::Slave().defined.push_back(handle);
  doubles::Slave().definedBuffers.push_back(data);
  return handle;
}
int32_t RemoveDataBlock(int32_t block) {
  doubles::Slave().removed.push_back(block);
  return 1;
}
int32_t EnableDoWriteNotification(struct MessageTarget*, int32_t block, int32_t, uint32_t) {
  doubles::Slave().notified.push_back(block);
  return 1;
}
}
