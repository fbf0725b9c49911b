// The in-process item table behind the OPC server calls, and its client side.
//
// Two locks: `changeMutex` orders every change together with the listener
// calls it causes (so listeners see changes in the order they happened, and a
// removed listener is never called again once RemoveChangeListener returns);
// `itemsMutex` guards the table itself and is never held while foreign code
// (a listener, the write callback, the dispatcher) runs. The change lock is
// recursive because listeners may read, update or unsubscribe.
#include <atomic>
#include <climits>
#include <map>
#include <memory>
#include <mutex>

#include "serverkit/VariantEquality.h"
#include "serverkit/serverkit.h"

namespace serverkit {
namespace {

struct Listener {
  int id;
  ChangeListener notify;
};

struct Toolkit {
  std::recursive_mutex changeMutex;
  std::vector<Listener> listeners;  // under changeMutex
  int nextListenerId = 1;

  std::mutex itemsMutex;
  // Handles only ever grow, so the map's order is the order of creation.
  std::map<int32_t, ItemState> items;
  int32_t lastHandle = 0;

  std::mutex configMutex;
  WriteCallback writeCallback = nullptr;
  Dispatcher dispatcher;

  std::atomic<bool> running{false};
};

Toolkit& Kit() {
  static Toolkit kit;
  return kit;
}

// Caller holds changeMutex (and not itemsMutex).
void Notify(Toolkit& kit, const ItemState& state) {
  // A listener may add or remove listeners; walk a copy of the ids and look
  // each one up again so a listener removed meanwhile is skipped.
  std::vector<int> ids;
  ids.reserve(kit.listeners.size());
  for (const Listener& l : kit.listeners) ids.push_back(l.id);
  for (int id : ids) {
    for (const Listener& l : kit.listeners) {
      if (l.id == id) {
        ChangeListener notify = l.notify;  // the entry may vanish during the call
        notify(state);
        break;
      }
    }
  }
}

bool ItemExists(Toolkit& kit, int32_t handle) {
  std::lock_guard items(kit.itemsMutex);
  return kit.items.count(handle) != 0;
}

}  // namespace

std::vector<ItemState> ListItems() {
  Toolkit& kit = Kit();
  std::lock_guard items(kit.itemsMutex);
  std::vector<ItemState> list;
  list.reserve(kit.items.size());
  for (const auto& entry : kit.items) list.push_back(entry.second);
  return list;
}

bool ReadItem(int32_t handle, ItemState& state) {
  Toolkit& kit = Kit();
  std::lock_guard items(kit.itemsMutex);
  auto it = kit.items.find(handle);
  if (it == kit.items.end()) return false;
  state = it->second;
  return true;
}

bool FindItem(const std::string& name, ItemState& state) {
  Toolkit& kit = Kit();
  std::lock_guard items(kit.itemsMutex);
  for (const auto& entry : kit.items) {
    if (entry.second.name == name) {
      state = entry.second;
      return true;
    }
  }
  return false;
}

HRESULT WriteItem(int32_t handle, const VARIANT& value) {
  Toolkit& kit = Kit();
  {
    std::lock_guard items(kit.itemsMutex);
    auto it = kit.items.find(handle);
    if (it == kit.items.end()) return OPC_E_INVALIDHANDLE;
    if (!it->second.writable) return OPC_E_BADRIGHTS;
  }
  Dispatcher dispatcher;
  {
    std::lock_guard config(kit.configMutex);
    if (kit.writeCallback == nullptr) return kWriteNotDelivered;
    dispatcher = kit.dispatcher;
  }

  // Shared with the job, so that even a dispatcher that broke its promise and
  // ran the job late would touch nothing of this stack frame.
  struct Pending {
    CVariant value;
    HRESULT result = kWriteNotDelivered;
  };
  auto pending = std::make_shared<Pending>();
  pending->value = value;

  auto job = [pending, handle, &kit] {
    // The item may have been removed while the write waited for its turn.
    if (!ItemExists(kit, handle)) {
      pending->result = OPC_E_INVALIDHANDLE;
      return;
    }
    WriteCallback callback;
    {
      std::lock_guard config(kit.configMutex);
      callback = kit.writeCallback;
    }
    if (callback == nullptr) return;  // uninstalled meanwhile: not delivered
    // The callback gets its own copy: it may change or clear what it is given.
    CVariant written(*pending->value);
    HRESULT result = S_OK;
    callback(handle, written.get(), &result);
    pending->result = result;
  };
  if (dispatcher)
    dispatcher(job);
  else
    job();
  return pending->result;
}

void SetWriteDispatcher(Dispatcher dispatcher) {
  Toolkit& kit = Kit();
  std::lock_guard config(kit.configMutex);
  kit.dispatcher = std::move(dispatcher);
}

int AddChangeListener(ChangeListener listener) {
  Toolkit& kit = Kit();
  std::lock_guard change(kit.changeMutex);
  const int id = kit.nextListenerId++;
  kit.listeners.push_back({id, std::move(listener)});
  return id;
}

void RemoveChangeListener(int id) {
  Toolkit& kit = Kit();
  std::lock_guard change(kit.changeMutex);
  std::erase_if(kit.listeners, [id](const Listener& l) { return l.id == id; });
}

bool IsRunning() { return Kit().running.load(); }

}  // namespace serverkit

using serverkit::ItemState;
using serverkit::Kit;

void InitOpcServer(const char* /*clsid*/, int32_t /*updateRateMs*/) {
  // Clients read the table directly and are told of every change at once, so
  // the update rate has nothing to pace.
  Kit().running = true;
  serverkit::StartOpcEndpoint();
}

void SetWriteCallback(WriteCallback callback, int32_t /*mode*/) {
  auto& kit = Kit();
  std::lock_guard config(kit.configMutex);
  kit.writeCallback = callback;
}

int32_t CreateServerTag(const char* name, VARIANT value, uint16_t quality, int32_t writable) {
  if (name == nullptr || *name == '\0') return -1;
  auto& kit = Kit();
  std::lock_guard change(kit.changeMutex);
  ItemState state;
  {
    std::lock_guard items(kit.itemsMutex);
    // Handles are not recycled; after two thousand million items there are
    // simply no more.
    if (kit.lastHandle == INT32_MAX) return -1;
    state.handle = ++kit.lastHandle;
    state.name = name;
    state.value = value;
    state.quality = quality;
    state.timestamp = GetSystemTimeAsFileTime();
    state.writable = writable != 0;
    kit.items.emplace(state.handle, state);
  }
  serverkit::Notify(kit, state);
  return state.handle;
}

void UpdateServerTag(int32_t handle, VARIANT value, uint16_t quality) {
  auto& kit = Kit();
  std::lock_guard change(kit.changeMutex);
  ItemState state;
  {
    std::lock_guard items(kit.itemsMutex);
    auto it = kit.items.find(handle);
    if (it == kit.items.end()) return;
    ItemState& item = it->second;
    if (item.quality == quality && serverkit::SameVariant(*item.value, value)) return;
    item.value = value;
    item.quality = quality;
    item.timestamp = GetSystemTimeAsFileTime();
    state = item;
  }
  serverkit::Notify(kit, state);
}

void RemoveServerTag(int32_t handle) {
  auto& kit = Kit();
  std::lock_guard change(kit.changeMutex);
  {
    std::lock_guard items(kit.itemsMutex);
    if (kit.items.erase(handle) == 0) return;
  }
  ItemState removed;
  removed.handle = handle;
  serverkit::Notify(kit, removed);
}

void ShutdownOpcServer() {
  // The endpoint goes first: its clients must not see the items vanish one
  // by one, and its listener must be gone before the table empties.
  serverkit::StopOpcEndpoint();
  auto& kit = Kit();
  std::lock_guard change(kit.changeMutex);
  std::vector<int32_t> withdrawn;
  {
    std::lock_guard items(kit.itemsMutex);
    for (const auto& entry : kit.items) withdrawn.push_back(entry.first);
    kit.items.clear();
    kit.running = false;
  }
  for (int32_t handle : withdrawn) {
    ItemState removed;
    removed.handle = handle;
    serverkit::Notify(kit, removed);
  }
  // The callback and the dispatcher point into the program that is going away.
  std::lock_guard config(kit.configMutex);
  kit.writeCallback = nullptr;
  kit.dispatcher = nullptr;
}
