// OPC client connections to other servers: the server list that the Connect
// menu's OPC commands offer, the connect step that makes a server link (also
// run by the project restore for every saved link), the callbacks each link
// installs, and taking the links down. Qt-free; messages go through the
// application's host UI.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class CPlexmarApp;
class COpcServerLink;

namespace opcconn {

inline constexpr const char* kConnectFailedText = "Connection Failed";
inline constexpr const char* kGroupFailedText = "Connection Failed to Create Group";
inline constexpr const char* kOutOfMemoryText = "Connection Failed (Out of Memory)";
// The name of every link's one group.
inline constexpr const char* kGroupName = "Group 1";
// The connect step takes at most this many characters of each name.
inline constexpr size_t kMaxNameLength = 99;

// The servers of `machine` ("" = this machine) in enumeration order: those
// of enumeration kind 1, or of kind 0 when kind 1 finds none.
std::vector<std::string> EnumerateServers(const std::string& machine);

// Connects to `server` on `machine`, creates the group "Group 1", appends a
// connected link to the application's list and installs the link's data
// change and shutdown callbacks. A failure shows its message and leaves no
// link. Connecting to a server that already has a link makes a second one.
COpcServerLink* ConnectServerLink(CPlexmarApp& app, const std::string& machine, const std::string& server);
// The same, true when the link was added.
bool ConnectServer(CPlexmarApp& app, const std::string& machine, const std::string& server);

// Disconnects every connected link and deletes all of them; at exit and
// before a project is restored.
void DisconnectServerLinks(CPlexmarApp& app);

// The shutdown callback of a link: a server that goes away is reconnected by
// the client toolkit on its own, so there is nothing to do here.
void OnClientShutdown(int32_t server);

}  // namespace opcconn
