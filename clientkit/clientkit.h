// clientkit: Plexmar's OPC client toolkit, the calls the program makes to
// reach items of other OPC servers. Handles are 32-bit; -1 means failure.
#pragma once

#include <cstdint>

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
