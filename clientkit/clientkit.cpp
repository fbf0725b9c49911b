// The client toolkit's calls over OPC UA: enumeration through discovery,
// one UaSession per connected server, and the notes of data changes that the
// sessions' threads make and the program's thread delivers.
#include "clientkit/clientkit.h"

#include <dirent.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>

#include "clientkit/UaSession.h"
#include "opcua/client.h"

using clientkit::Note;
using clientkit::UaSession;

namespace {

constexpr uint16_t kDiscoveryPort = 4840;
constexpr int kDiscoveryTimeoutMs = 3000;
// Beyond this many undelivered notes the oldest are dropped: a program that
// no longer dispatches must not make the toolkit grow without bound.
constexpr size_t kMaxNotes = 1000000;

struct ServerEntry {
  std::string name;
  std::string url;
};

struct Callbacks {
  ClientDataCallback data = nullptr;
  ClientShutdownCallback shutdown = nullptr;
};

std::mutex g_mutex;  // everything below
std::map<int32_t, std::shared_ptr<UaSession>> g_sessions;
std::map<int32_t, Callbacks> g_callbacks;
std::vector<ServerEntry> g_enumerated;
std::string g_enumeratedMachine;
std::vector<Note> g_notes;
HWND g_window = nullptr;
UINT g_message = 0;
bool g_posted = false;

std::shared_ptr<UaSession> Session(int32_t server) {
  std::lock_guard<std::mutex> lock(g_mutex);
  auto it = g_sessions.find(server);
  return it == g_sessions.end() ? nullptr : it->second;
}

void TakeNotes(std::vector<Note>&& notes) {
  HWND window = nullptr;
  UINT message = 0;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (g_notes.size() + notes.size() > kMaxNotes) g_notes.clear();
    for (Note& note : notes) g_notes.push_back(std::move(note));
    if (!g_posted && g_window != nullptr) {
      g_posted = true;
      window = g_window;
      message = g_message;
    }
  }
  if (window != nullptr && !PostMessage(window, message, 0, 0)) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_posted = false;
  }
}

void Fill(char* buffer, int32_t size, const std::string& text) {
  if (buffer == nullptr || size <= 0) return;
  const size_t n = std::min(text.size(), static_cast<size_t>(size - 1));
  std::memcpy(buffer, text.data(), n);
  buffer[n] = '\0';
}

// --- machines and discovery ------------------------------------------------------

// "host", "host:port", "[v6]:port" or an opc.tcp:// URL, as a URL; the host
// alone for rewriting what a server reports.
std::string DiscoveryUrl(const std::string& machine, std::string& host) {
  if (machine.rfind("opc.tcp://", 0) == 0) {
    uint16_t port = 0;
    std::string path;
    if (!opcua::ParseEndpointUrl(machine, host, port, path)) return {};
    return machine;
  }
  std::string name = machine.empty() ? std::string("localhost") : machine;
  std::string port = std::to_string(kDiscoveryPort);
  if (name.front() == '[') {
    const size_t close = name.find(']');
    if (close == std::string::npos) return {};
    if (close + 1 < name.size() && name[close + 1] == ':') port = name.substr(close + 2);
    host = name.substr(1, close - 1);
    return "opc.tcp://[" + host + "]:" + port;
  }
  const size_t colon = name.find(':');
  if (colon != std::string::npos && name.find(':', colon + 1) == std::string::npos) {
    port = name.substr(colon + 1);
    name = name.substr(0, colon);
  } else if (colon != std::string::npos) {
    host = name;  // a bare IPv6 address
    return "opc.tcp://[" + name + "]:" + port;
  }
  host = name;
  return "opc.tcp://" + name + ":" + port;
}

// A URL a server reports, with its host replaced by the one we reached it
// by: a server often names itself by a host name that others cannot resolve.
std::string Rehost(const std::string& reported, const std::string& host) {
  std::string reportedHost, path;
  uint16_t port = 0;
  if (!opcua::ParseEndpointUrl(reported, reportedHost, port, path)) return reported;
  const bool v6 = host.find(':') != std::string::npos;
  return "opc.tcp://" + (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port) + path;
}

void AddUnique(std::vector<ServerEntry>& list, const std::string& name, const std::string& url) {
  if (name.empty() || url.empty()) return;
  for (const ServerEntry& e : list)
    if (e.name == name) return;
  list.push_back({name, url});
}

bool AskDiscovery(const std::string& url, const std::string& host, int32_t kind, std::vector<ServerEntry>& out) {
  opcua::ClientConnection conn;
  if (conn.Connect(url, kDiscoveryTimeoutMs) != opcua::status::Good) return false;
  bool ok = false;
  if (kind == 1) {
    opcua::FindServersRequest request;
    request.endpointUrl = url;
    opcua::FindServersResponse response;
    if (conn.Call(request, response, kDiscoveryTimeoutMs) == opcua::status::Good) {
      ok = true;
      for (const opcua::ApplicationDescription& app : response.servers) {
        if (app.applicationType == opcua::ApplicationType::Client ||
            app.applicationType == opcua::ApplicationType::DiscoveryServer)
          continue;
        const std::string reported = app.discoveryUrls.empty() ? url : app.discoveryUrls[0].str();
        AddUnique(out, app.applicationName.text.str(), Rehost(reported, host));
      }
    }
  } else {
    opcua::GetEndpointsRequest request;
    request.endpointUrl = url;
    opcua::GetEndpointsResponse response;
    if (conn.Call(request, response, kDiscoveryTimeoutMs) == opcua::status::Good) {
      ok = true;
      for (const opcua::EndpointDescription& e : response.endpoints) {
        if (e.securityMode != opcua::MessageSecurityMode::None) continue;
        AddUnique(out, e.server.applicationName.text.str(), Rehost(e.endpointUrl.str(), host));
      }
    }
  }
  conn.Close();
  return ok;
}

// The servers registered on this machine that name their endpoint.
void AddRegisteredServers(std::vector<ServerEntry>& out) {
  const char* data = std::getenv("XDG_DATA_HOME");
  std::string folder;
  if (data != nullptr && data[0] == '/') folder = data;
  else if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/') folder = std::string(home) + "/.local/share";
  if (folder.empty()) return;
  folder += "/plexmar/opc-servers";
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) return;
  while (dirent* entry = readdir(dir)) {
    const std::string file = entry->d_name;
    if (file.size() < 8 || file.compare(file.size() - 7, 7, ".server") != 0) continue;
    std::ifstream in(folder + "/" + file);
    std::string line, progId, url;
    while (std::getline(in, line)) {
      if (line.rfind("ProgID=", 0) == 0) progId = line.substr(7);
      if (line.rfind("Endpoint=", 0) == 0) url = line.substr(9);
    }
    AddUnique(out, progId, url);
  }
  closedir(dir);
}

std::vector<ServerEntry> Enumerate(int32_t kind, const std::string& machine) {
  std::vector<ServerEntry> list;
  if (machine.empty() && kind == 1) AddRegisteredServers(list);
  std::string host;
  const std::string url = DiscoveryUrl(machine, host);
  if (!url.empty()) AskDiscovery(url, host, kind, list);
  return list;
}

}  // namespace

// --- enumeration and connection -------------------------------------------------------

int32_t ClientCountServers(int32_t kind, const char* machine) {
  const std::string name = machine != nullptr ? machine : "";
  std::vector<ServerEntry> list = Enumerate(kind, name);
  std::lock_guard<std::mutex> lock(g_mutex);
  g_enumerated = std::move(list);
  g_enumeratedMachine = name;
  return static_cast<int32_t>(g_enumerated.size());
}

void ClientGetServerName(int32_t index, char* buffer, int32_t size) {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (index < 0 || static_cast<size_t>(index) >= g_enumerated.size()) {
    Fill(buffer, size, "");
    return;
  }
  Fill(buffer, size, g_enumerated[static_cast<size_t>(index)].name);
}

int32_t ClientConnectServer(const char* machine, const char* server, int32_t /*flags*/) {
  const std::string machineName = machine != nullptr ? machine : "";
  const std::string serverName = server != nullptr ? server : "";
  if (serverName.empty()) return -1;
  std::string url;
  if (serverName.rfind("opc.tcp://", 0) == 0) {
    url = serverName;
  } else {
    auto lookUp = [&](const std::vector<ServerEntry>& list) {
      for (const ServerEntry& e : list)
        if (e.name == serverName) return e.url;
      return std::string();
    };
    {
      std::lock_guard<std::mutex> lock(g_mutex);
      if (g_enumeratedMachine == machineName) url = lookUp(g_enumerated);
    }
    // A project names the server again after a restart: find it anew.
    if (url.empty()) url = lookUp(Enumerate(1, machineName));
    if (url.empty()) url = lookUp(Enumerate(0, machineName));
  }
  if (url.empty()) return -1;
  const int32_t handle = clientkit::NextHandle();
  auto session = std::make_shared<UaSession>(handle, url, TakeNotes);
  if (!session->Open()) return -1;
  std::lock_guard<std::mutex> lock(g_mutex);
  g_sessions[handle] = session;
  return handle;
}

int32_t ClientAddGroup(int32_t server, const char* /*name*/, int32_t* out1, int32_t* out2) {
  if (out1 != nullptr) *out1 = static_cast<int32_t>(clientkit::kPublishingIntervalMs);
  if (out2 != nullptr) *out2 = 0;
  auto session = Session(server);
  return session ? session->AddGroup() : -1;
}

void ClientSetDataCallback(int32_t server, ClientDataCallback callback) {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (g_sessions.count(server) != 0) g_callbacks[server].data = callback;
}

void ClientSetShutdownCallback(int32_t server, ClientShutdownCallback callback) {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (g_sessions.count(server) != 0) g_callbacks[server].shutdown = callback;
}

void ClientDisconnectServer(int32_t server) {
  std::shared_ptr<UaSession> session;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    auto it = g_sessions.find(server);
    if (it == g_sessions.end()) return;
    session = it->second;
    g_sessions.erase(it);
    g_callbacks.erase(server);
  }
  session->Close();
}

// --- items ------------------------------------------------------------------------------

void ClientRefreshGroup(int32_t server, int32_t group, int32_t /*mode*/) {
  if (auto session = Session(server)) session->RefreshGroup(group);
}

int32_t ClientAddItem(int32_t server, int32_t group, const char* itemId) {
  auto session = Session(server);
  if (!session || itemId == nullptr || itemId[0] == '\0') return -1;
  return session->AddItem(group, itemId);
}

int32_t ClientActivateItem(int32_t server, int32_t group, int32_t item, void* reference) {
  auto session = Session(server);
  return session && session->ActivateItem(group, item, reference) ? 1 : 0;
}

int32_t ClientReadItem(int32_t server, int32_t group, int32_t item, VARIANT* value, FILETIME* timestamp,
                       uint32_t* quality) {
  auto session = Session(server);
  return session && session->ReadItem(group, item, value, timestamp, quality) ? 1 : 0;
}

void ClientRemoveItem(int32_t server, int32_t group, int32_t item) {
  if (auto session = Session(server)) session->RemoveItem(group, item);
}

void ClientWriteItem(int32_t server, int32_t group, int32_t item, VARIANT* value, int32_t /*mode*/) {
  auto session = Session(server);
  if (session && value != nullptr) session->WriteItem(group, item, *value);
}

// --- browsing ---------------------------------------------------------------------------

int32_t ClientBrowseTo(int32_t server, const char* branch) {
  auto session = Session(server);
  return session && session->BrowseTo(branch != nullptr ? branch : "") ? 1 : 0;
}

int32_t ClientBrowseCount(int32_t server, int32_t kind) {
  auto session = Session(server);
  return session ? session->BrowseCount(kind) : 0;
}

int32_t ClientBrowseName(int32_t server, int32_t index, char* buffer, int32_t size) {
  auto session = Session(server);
  std::string name;
  if (!session || !session->BrowseName(index, name) || buffer == nullptr ||
      name.size() >= static_cast<size_t>(std::max(size, 0))) {
    Fill(buffer, size, "");
    return 0;
  }
  Fill(buffer, size, name);
  return 1;
}

int32_t ClientGetItemId(int32_t server, const char* leaf, char* buffer, int32_t size) {
  auto session = Session(server);
  std::string id;
  // An ID cut to fit would name another node: no ID rather than a wrong one.
  if (!session || leaf == nullptr || !session->GetItemId(leaf, id) || buffer == nullptr ||
      id.size() >= static_cast<size_t>(std::max(size, 0))) {
    Fill(buffer, size, "");
    return 0;
  }
  Fill(buffer, size, id);
  return 1;
}

int32_t ClientGetNamespaceType(int32_t server, int32_t* type) {
  if (type != nullptr) *type = 1;
  return Session(server) ? 1 : 0;
}

// --- delivery -----------------------------------------------------------------------------

void ClientSetNotifyWindow(HWND window, UINT message) {
  bool post = false;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_window = window;
    g_message = message;
    g_posted = false;
    post = window != nullptr && !g_notes.empty();
    g_posted = post;
  }
  if (post) PostMessage(window, message, 0, 0);
}

int ClientDispatchNotifications() {
  std::vector<Note> notes;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    notes.swap(g_notes);
    g_posted = false;
  }
  int calls = 0;
  for (Note& note : notes) {
    std::shared_ptr<UaSession> session;
    Callbacks callbacks;
    {
      std::lock_guard<std::mutex> lock(g_mutex);
      auto it = g_sessions.find(note.server);
      if (it == g_sessions.end()) continue;
      session = it->second;
      callbacks = g_callbacks[note.server];
    }
    if (note.item == -1) {
      if (callbacks.shutdown != nullptr) callbacks.shutdown(note.server), ++calls;
      continue;
    }
    // An item removed since the note was made reaches nobody.
    if (callbacks.data == nullptr || !session->IsCurrent(note.item, note.reference)) continue;
    callbacks.data(note.server, note.group, note.reference, note.value.get(), note.timestamp, note.quality);
    ++calls;
  }
  return calls;
}
