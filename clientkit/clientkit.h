// clientkit: Plexmar's OPC client toolkit, the calls the program makes to
// reach items of other OPC servers. Handles are 32-bit; -1 means failure.
#pragma once

#include <cstdint>

#include "platform/msgwindow.h"
#include "platform/variant.h"
#include "platform/wintypes.h"

class CExchangeTag;

// (server, group, the reference given to ClientActivateItem, new value,
// time stamp, quality)
using ClientDataCallback = void (*)(int32_t server, int32_t group, void* reference, VARIANT* value,
                                    FILETIME timestamp, uint32_t quality);
using ClientShutdownCallback = void (*)(int32_t server);

int32_t ClientCountServers(int32_t kind, const char* machine);
void ClientGetServerName(int32_t index, char* buffer, int32_t size);
int32_t ClientConnectServer(const char* machine, const char* server, int32_t flags);
int32_t ClientAddGroup(int32_t server, const char* name, int32_t* out1, int32_t* out2);
void ClientSetDataCallback(int32_t server, ClientDataCallback callback);
void ClientSetShutdownCallback(int32_t server, ClientShutdownCallback callback);
void ClientDisconnectServer(int32_t server);
void ClientRefreshGroup(int32_t server, int32_t group, int32_t mode);
int32_t ClientAddItem(int32_t server, int32_t group, const char* itemId);
int32_t ClientActivateItem(int32_t server, int32_t group, int32_t item, void* reference);
int32_t ClientReadItem(int32_t server, int32_t group, int32_t item, VARIANT* value,
                       FILETIME* timestamp, uint32_t* quality);
void ClientRemoveItem(int32_t server, int32_t group, int32_t item);
void ClientWriteItem(int32_t server, int32_t group, int32_t item, VARIANT* value, int32_t mode);
int32_t ClientBrowseTo(int32_t server, const char* branch);
int32_t ClientBrowseCount(int32_t server, int32_t kind);
int32_t ClientBrowseName(int32_t server, int32_t index, char* buffer, int32_t size);
int32_t ClientGetItemId(int32_t server, const char* leaf, char* buffer, int32_t size);
int32_t ClientGetNamespaceType(int32_t server, int32_t* type);

// --- delivery on the program's thread --------------------------------------
// The toolkit notes data changes and lost connections on its own threads and
// calls the program's callbacks only from ClientDispatchNotifications, which
// the program calls on its user-interface thread. Whenever something is
// waiting, the toolkit posts `message` to `window` (once until the next
// dispatch); the window's handler dispatches. Without a window nothing is
// delivered until the program dispatches by itself.
inline constexpr UINT kClientNotifyMessage = WM_USER + 5;
void ClientSetNotifyWindow(HWND window, UINT message);
// Calls the callbacks for everything noted so far; returns how many calls.
int ClientDispatchNotifications();
