// Placeholder OPC client toolkit: it knows no servers. Enumeration finds
// none, every connect and item call fails with -1 or 0, output buffers come
// back as empty text, and the calls that return nothing do nothing. The
// program therefore runs with every "OPC Point" tag unconnected (bad quality)
// until the OPC UA client takes this file's place.
#include "clientkit/clientkit.h"

namespace {

void ClearText(char* buffer, int32_t size) {
  if (buffer != nullptr && size > 0) buffer[0] = '\0';
}

}  // namespace

int32_t ClientCountServers(int32_t, const char*) { return 0; }
void ClientGetServerName(int32_t, char* buffer, int32_t size) { ClearText(buffer, size); }
int32_t ClientConnectServer(const char*, const char*, int32_t) { return -1; }
int32_t ClientAddGroup(int32_t, const char*, int32_t* out1, int32_t* out2) {
  if (out1 != nullptr) *out1 = 0;
  if (out2 != nullptr) *out2 = 0;
  return -1;
}
void ClientSetDataCallback(int32_t, ClientDataCallback) {}
void ClientSetShutdownCallback(int32_t, ClientShutdownCallback) {}
void ClientDisconnectServer(int32_t) {}
void ClientRefreshGroup(int32_t, int32_t, int32_t) {}
int32_t ClientAddItem(int32_t, int32_t, const char*) { return -1; }
int32_t ClientActivateItem(int32_t, int32_t, int32_t, void*) { return 0; }
int32_t ClientReadItem(int32_t, int32_t, int32_t, VARIANT*, FILETIME*, uint32_t*) { return 0; }
void ClientRemoveItem(int32_t, int32_t, int32_t) {}
void ClientWriteItem(int32_t, int32_t, int32_t, VARIANT*, int32_t) {}
int32_t ClientBrowseTo(int32_t, const char*) { return 0; }
int32_t ClientBrowseCount(int32_t, int32_t) { return 0; }
int32_t ClientBrowseName(int32_t, int32_t, char* buffer, int32_t size) {
  ClearText(buffer, size);
  return 0;
}
int32_t ClientGetItemId(int32_t, const char*, char* buffer, int32_t size) {
  ClearText(buffer, size);
  return 0;
}
int32_t ClientGetNamespaceType(int32_t, int32_t* type) {
  if (type != nullptr) *type = 0;
  return 0;
}
void ClientSetNotifyWindow(HWND, UINT) {}
int ClientDispatchNotifications() { return 0; }
