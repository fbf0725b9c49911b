#include "FakeClientKit.h"

#include <algorithm>
#include <cstring>

namespace fakeclient {

State& Kit() {
  static State state;
  return state;
}

void Reset() { Kit() = State(); }

}  // namespace fakeclient

using fakeclient::Kit;
using fakeclient::Node;

namespace {

// The browse position of the one server the dialogs browse at a time.
const Node* g_position = nullptr;

void Fill(char* buffer, int32_t size, const std::string& text) {
  if (buffer == nullptr || size <= 0) return;
  std::strncpy(buffer, text.c_str(), static_cast<size_t>(size - 1));
  buffer[size - 1] = '\0';
}

std::vector<const Node*> Children(bool leaves) {
  std::vector<const Node*> out;
  if (g_position == nullptr) return out;
  for (const Node& child : g_position->children)
    if (child.IsLeaf() == leaves) out.push_back(&child);
  return out;
}

int32_t g_lastBrowseKind = 1;
std::vector<std::string> g_lastEnumeration;

}  // namespace

int32_t ClientCountServers(int32_t kind, const char* machine) {
  Kit().enumerated.push_back(std::to_string(kind) + " " + machine);
  auto& table = kind == 1 ? Kit().kind1 : Kit().kind0;
  auto it = table.find(machine);
  g_lastEnumeration = it == table.end() ? std::vector<std::string>() : it->second;
  return static_cast<int32_t>(g_lastEnumeration.size());
}

void ClientGetServerName(int32_t index, char* buffer, int32_t size) {
  if (index >= 0 && static_cast<size_t>(index) < g_lastEnumeration.size())
    Fill(buffer, size, g_lastEnumeration[static_cast<size_t>(index)]);
}

int32_t ClientConnectServer(const char* machine, const char* server, int32_t) {
  const std::string key = std::string(machine) + "|" + server;
  Kit().connects.push_back(key);
  const auto& ok = Kit().reachable;
  if (std::find(ok.begin(), ok.end(), key) == ok.end()) return -1;
  return Kit().nextServer++;
}

int32_t ClientAddGroup(int32_t server, const char* name, int32_t* out1, int32_t* out2) {
  if (out1) *out1 = 1000;
  if (out2) *out2 = 1000;
  if (Kit().groupFails || std::strcmp(name, "Group 1") != 0) return -1;
  const int32_t group = Kit().nextGroup++;
  Kit().groups[group] = server;
  return group;
}

void ClientSetDataCallback(int32_t server, ClientDataCallback callback) { Kit().dataCallbacks[server] = callback; }
void ClientSetShutdownCallback(int32_t server, ClientShutdownCallback callback) {
  Kit().shutdownCallbacks[server] = callback;
}
void ClientDisconnectServer(int32_t server) { Kit().disconnected.push_back(server); }
void ClientRefreshGroup(int32_t, int32_t, int32_t) {}

int32_t ClientAddItem(int32_t server, int32_t group, const char* itemId) {
  const int32_t item = Kit().nextItem++;
  Kit().items[item] = fakeclient::Item{server, group, itemId, nullptr, false};
  return item;
}

int32_t ClientActivateItem(int32_t, int32_t, int32_t item, void* reference) {
  auto it = Kit().items.find(item);
  if (it == Kit().items.end()) return 0;
  it->second.reference = reference;
  return 1;
}

int32_t ClientReadItem(int32_t, int32_t, int32_t item, VARIANT* value, FILETIME* timestamp, uint32_t* quality) {
  if (Kit().items.count(item) == 0) return 0;
  VARIANT v = MakeVariantR8(12.5);
  VariantCopy(value, &v);
  *timestamp = FILETIME{1, 2};
  *quality = 0xC0;
  return 1;
}

void ClientRemoveItem(int32_t, int32_t, int32_t item) {
  auto it = Kit().items.find(item);
  if (it != Kit().items.end()) it->second.removed = true;
}

void ClientWriteItem(int32_t, int32_t, int32_t item, VARIANT* value, int32_t) {
  CVariant text;
  VariantChangeType(text.get(), value, 0, VT_BSTR);
  Kit().writes.emplace_back(item, text->vt == VT_BSTR ? BstrToUtf8(text->bstrVal) : std::string("?"));
}

int32_t ClientBrowseTo(int32_t, const char* branch) {
  Kit().browsedTo.push_back(branch);
  const Node* at = &Kit().root;
  std::string path = branch;
  size_t start = 0;
  while (!path.empty() && start <= path.size()) {
    const size_t dot = path.find('.', start);
    const std::string part = path.substr(start, dot == std::string::npos ? std::string::npos : dot - start);
    const Node* next = nullptr;
    for (const Node& child : at->children)
      if (!child.IsLeaf() && child.name == part) next = &child;
    if (next == nullptr) return 0;
    at = next;
    if (dot == std::string::npos) break;
    start = dot + 1;
  }
  g_position = at;
  return 1;
}

int32_t ClientBrowseCount(int32_t, int32_t kind) {
  g_lastBrowseKind = kind;
  return static_cast<int32_t>(Children(kind == 2).size());
}

int32_t ClientBrowseName(int32_t, int32_t index, char* buffer, int32_t size) {
  const auto names = Children(g_lastBrowseKind == 2);
  if (index < 0 || static_cast<size_t>(index) >= names.size()) return 0;
  Fill(buffer, size, names[static_cast<size_t>(index)]->name);
  return 1;
}

int32_t ClientGetItemId(int32_t, const char* leaf, char* buffer, int32_t size) {
  for (const Node* node : Children(true)) {
    if (node->name == leaf) {
      Fill(buffer, size, node->itemId);
      return 1;
    }
  }
  return 0;
}

int32_t ClientGetNamespaceType(int32_t, int32_t* type) {
  if (type) *type = Kit().flat ? 2 : 1;
  return 1;
}

void ClientSetNotifyWindow(HWND window, UINT message) {
  Kit().notifyWindow = window;
  Kit().notifyMessage = message;
}

int ClientDispatchNotifications() { return ++Kit().dispatches; }
