// clientkit: Plexmar's OPC client toolkit, the calls the program makes to
// reach items of other OPC servers, over OPC UA (opc.tcp, binary encoding,
// SecurityPolicy None, anonymous sessions). Handles are 32-bit and unique in
// the process; -1 means failure.
//
// Machines. A machine text is a host name or address, "host:port", or an
// opc.tcp:// URL. "" is this machine: the servers whose registration record
// on this machine names an endpoint, and whatever answers FindServers at
// localhost:4840.
//
// Enumeration. ClientCountServers with kind 1 asks FindServers at the
// machine's discovery endpoint (port 4840 unless given); kind 0 asks
// GetEndpoints there, so that a server without discovery lists itself (its
// endpoints without security). A listed name is the server's application
// name; the URL it reports is used with its host replaced by the machine's.
// ClientConnectServer takes such a name (and enumerates again to find it when
// the last listing was of another machine, as after a project load) or an
// opc.tcp:// URL; the third argument is not used.
//
// Groups and items. A group is a subscription (publishing interval 250 ms;
// ClientAddGroup's first output gets the interval, the second 0). An item ID
// takes the NodeId text forms "ns=2;s=Line1.Flow", "ns=3;i=1001",
// "nsu=<uri>;s=...", "i=2258", "ns=1;g=<guid>", "ns=1;b=<hex>"; a text in no
// such form is a string identifier in namespace 1, so that a Plexmar server's
// tag name is its item ID. ClientAddItem fails for a node the server does
// not know. ClientActivateItem makes a monitored item on the Value attribute
// (sampling 250 ms, queue 1) whose client handle stands for the item and so
// for the reference given. ClientReadItem is a Read; ClientWriteItem a Write
// of the value converted to the node's DataType first (not written when it
// does not convert; its last argument is not used); ClientRemoveItem deletes
// the monitored item; ClientRefreshGroup reads every active item of the group
// and delivers each as a data change.
//
// Browsing. ClientBrowseTo takes a dotted path of browse names below the
// Objects folder (a browse name that holds dots may be given whole or by its
// last part). At that position the branches are the Objects (folders among
// them) that have children, the leaves the Variables; ClientBrowseName names
// entry `index` of the kind last counted with ClientBrowseCount (1 branches,
// 2 leaves); ClientGetItemId gives a leaf's NodeId text, and fails rather than
// cut an ID that does not fit the buffer. ClientGetNamespaceType reports 1,
// a hierarchical space.
//
// Values (see ValueMapping.h for the full table): numbers map to their VT_
// types, 64-bit integers to VT_I8 and VT_UI8, DateTime to VT_DATE (UTC),
// String and LocalizedText (its text) to VT_BSTR, ByteString to an array of
// VT_UI1, one-dimensional arrays to SAFEARRAYs; anything else is VT_EMPTY
// with bad quality. Quality: Good 0xC0, Uncertain 0x40, Bad 0.
//
// Threads. Each server has a thread that keeps Publish requests out and
// notes data changes; the callbacks run only from ClientDispatchNotifications
// on the program's thread (see the end of this file). Every call that talks
// to a server waits at most about three seconds (five to connect), and fails
// at once while the server is away.
//
// A dropped connection (a closed socket, a fault, or no answer for twice the
// keep-alive time) is re-established in the background: the first attempt
// after 0.5 s, each further one after twice the delay before, at most 30 s
// apart, until it succeeds; then the session, the subscriptions and the
// monitored items are made again and bring current values. When the
// connection drops, every active item delivers once VT_EMPTY with quality 0,
// so that no value stays good, and the shutdown callback is called.
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
