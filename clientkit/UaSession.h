// One connected OPC UA server: a session on a secure channel (SecurityPolicy
// None, anonymous), its subscriptions (the program's groups) and monitored
// items, the browse position, and a thread that keeps Publish requests out,
// notes data changes, and re-creates everything after a dropped connection.
//
// The program's calls run on its own thread and share the connection with
// the publish thread under one lock; each waits at most kCallTimeoutMs for
// the lock and as long again for its answer. While the connection is down
// they fail at once.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "opcua/client.h"
#include "platform/variant.h"
#include "platform/wintypes.h"

namespace clientkit {

inline constexpr int kCallTimeoutMs = 3000;
inline constexpr int kConnectTimeoutMs = 5000;
inline constexpr double kPublishingIntervalMs = 250;
inline constexpr uint32_t kKeepAliveCount = 10;

// What the publish thread hands to the program's thread.
struct Note {
  int32_t server = -1;
  int32_t group = -1;
  int32_t item = -1;  // -1 for a lost connection (the shutdown callback)
  void* reference = nullptr;
  CVariant value;
  FILETIME timestamp;
  uint32_t quality = 0;
};
using NoteSink = std::function<void(std::vector<Note>&&)>;

class UaSession {
 public:
  UaSession(int32_t handle, std::string endpointUrl, NoteSink sink);
  ~UaSession();
  UaSession(const UaSession&) = delete;
  UaSession& operator=(const UaSession&) = delete;

  // Connects and opens the session; then starts the publish thread. False
  // when the server cannot be reached within the time-out.
  bool Open();
  // Ends the thread, deletes the subscriptions and closes the session.
  void Close();

  int32_t AddGroup();
  int32_t AddItem(int32_t group, const std::string& itemId);
  bool ActivateItem(int32_t group, int32_t item, void* reference);
  bool ReadItem(int32_t group, int32_t item, VARIANT* value, FILETIME* timestamp, uint32_t* quality);
  void WriteItem(int32_t group, int32_t item, const VARIANT& value);
  void RemoveItem(int32_t group, int32_t item);
  // Reads every active item of the group and notes each as a data change.
  void RefreshGroup(int32_t group);
  // Whether `item` is still an active item with that reference (a note made
  // before it was removed is not delivered).
  bool IsCurrent(int32_t item, void* reference) const;

  bool BrowseTo(const std::string& path);
  int32_t BrowseCount(int32_t kind);
  bool BrowseName(int32_t index, std::string& name) const;
  bool GetItemId(const std::string& leaf, std::string& itemId) const;

  bool IsConnected() const { return m_bConnected.load(); }
  int32_t Handle() const { return m_handle; }

 private:
  struct Item {
    int32_t group = -1;
    std::string idText;
    opcua::NodeId node;
    opcua::BuiltinType type = opcua::BuiltinType::Null;
    void* reference = nullptr;
    bool active = false;
    uint32_t monitoredId = 0;
  };
  struct Group {
    uint32_t subscriptionId = 0;
  };
  struct BrowseEntry {
    std::string name;
    opcua::NodeId node;
  };

  // All with m_io held.
  bool OpenSessionLocked();
  bool CreateSubscriptionLocked(Group& group);
  bool CreateMonitoredItemsLocked(uint32_t subscriptionId, const std::vector<int32_t>& items);
  bool ReadLocked(const std::vector<opcua::ReadValueId>& ids, std::vector<opcua::DataValue>& out);
  bool BrowseChildrenLocked(const opcua::NodeId& node, std::vector<opcua::ReferenceDescription>& out);
  void RestoreLocked();
  template <class Request, class Response>
  opcua::StatusCode CallLocked(Request& request, Response& response);

  // The lock of one of the program's calls, taken ahead of the publish thread.
  class CallLock {
   public:
    explicit CallLock(UaSession& session);
    ~CallLock();
    bool owns() const { return m_lock.owns_lock(); }
    void release() { m_lock.unlock(); }

   private:
    UaSession& m_session;
    std::unique_lock<std::timed_mutex> m_lock;
  };
  void GiveWay() const;

  void PublishLoop();
  void ConnectionLost();
  void Deliver(const opcua::PublishResponse& response);

  const int32_t m_handle;
  const std::string m_strUrl;
  NoteSink m_sink;

  std::timed_mutex m_io;  // the connection, the session and the browse position
  opcua::ClientConnection m_conn;
  std::vector<std::string> m_namespaces;
  std::vector<BrowseEntry> m_branches, m_leaves;
  int32_t m_nLastBrowseKind = 1;

  mutable std::mutex m_state;  // items and groups
  std::map<int32_t, Item> m_items;
  std::map<int32_t, Group> m_groups;

  std::atomic<int> m_nCallers{0};
  std::atomic<bool> m_bConnected{false};
  std::atomic<bool> m_bStop{false};
  std::mutex m_wakeMutex;
  std::condition_variable m_wake;
  bool m_bWoken = false;  // with m_wakeMutex: a new group wants publishing
  std::thread m_thread;
};

// The handles of groups and items, unique in the process.
int32_t NextHandle();

}  // namespace clientkit
