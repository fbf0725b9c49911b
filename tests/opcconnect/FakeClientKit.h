// A scripted stand-in for the OPC client toolkit, linked into the connection
// tests in place of the real one: servers to enumerate and connect to, a name
// space to browse, items whose reads and writes it records, and the data
// callbacks the program installed, which a test calls as the toolkit would.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "clientkit/clientkit.h"

namespace fakeclient {

// One node of the browsed name space: a branch with children, or a leaf with
// the item ID the server gives for it.
struct Node {
  std::string name;
  std::string itemId;  // leaves only
  std::vector<Node> children;
  bool IsLeaf() const { return !itemId.empty(); }
};

struct Item {
  int32_t server = -1;
  int32_t group = -1;
  std::string id;
  void* reference = nullptr;
  bool removed = false;
};

struct State {
  // Enumeration answers by machine and kind.
  std::map<std::string, std::vector<std::string>> kind1, kind0;
  std::vector<std::string> enumerated;  // "kind machine" of each count call
  // "machine|server" pairs that connect; everything else fails.
  std::vector<std::string> reachable;
  bool groupFails = false;
  int32_t nextServer = 10;
  int32_t nextGroup = 100;
  int32_t nextItem = 1000;
  std::vector<std::string> connects;  // "machine|server" as passed
  std::vector<int32_t> disconnected;
  std::map<int32_t, ClientDataCallback> dataCallbacks;
  std::map<int32_t, ClientShutdownCallback> shutdownCallbacks;
  std::map<int32_t, int32_t> groups;  // group -> server
  // The name space every server shows, and whether it is flat.
  Node root;
  bool flat = false;
  std::vector<std::string> browsedTo;
  std::map<int32_t, Item> items;
  std::vector<std::pair<int32_t, std::string>> writes;  // item, value as text
  HWND notifyWindow = nullptr;
  UINT notifyMessage = 0;
  int dispatches = 0;
};

State& Kit();
void Reset();

}  // namespace fakeclient
