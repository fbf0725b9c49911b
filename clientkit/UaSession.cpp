#include "clientkit/UaSession.h"

#include <chrono>
#include <deque>
#include <random>

#include "clientkit/ValueMapping.h"
#include "opcua/nodeids.h"

namespace clientkit {

using namespace opcua;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kFirstRetryMs = 500;
constexpr int kLongestRetryMs = 30000;
// Publish requests kept at the server: with only two, a server that answers
// each subscription's interval late found none waiting, its queues of one
// overwrote changes, and about half of them were lost (10,000 items changing
// once a second: 4,800 delivered with 2 outstanding, 9,000 with 8).
constexpr size_t kPublishesOutstanding = 8;
constexpr size_t kItemsPerRequest = 1000;
constexpr double kSessionTimeoutMs = 60000;

std::atomic<int32_t> g_nextHandle{1};

// Faults after which the connection is taken as gone and is built again.
bool IsConnectionFault(StatusCode s) {
  switch (s) {
    case status::BadTimeout:
    case status::BadConnectionClosed:
    case status::BadNotConnected:
    case status::BadSessionIdInvalid:
    case status::BadSessionClosed:
    case status::BadSecureChannelIdInvalid:
      return true;
    default:
      return false;
  }
}

FILETIME FileTimeOf(const DataValue& value) {
  int64_t ticks = value.hasSourceTimestamp ? value.sourceTimestamp.ticks
                  : value.hasServerTimestamp ? value.serverTimestamp.ticks
                                             : DateTime::Now().ticks;
  FILETIME ft;
  ft.dwLowDateTime = static_cast<uint32_t>(static_cast<uint64_t>(ticks) & 0xFFFFFFFFu);
  ft.dwHighDateTime = static_cast<uint32_t>(static_cast<uint64_t>(ticks) >> 32);
  return ft;
}

// A data value as the program takes it: what cannot be mapped is empty and bad.
void MapValue(const DataValue& value, Note& note) {
  note.timestamp = FileTimeOf(value);
  note.quality = QualityOf(value.hasStatus ? value.status : status::Good);
  VARIANT mapped;
  if (!ToVariant(value.value, &mapped)) note.quality = 0;
  note.value = CVariant::Adopt(mapped);
}

std::vector<std::string> SplitPath(const std::string& path) {
  std::vector<std::string> parts;
  if (path.empty()) return parts;
  size_t start = 0;
  for (;;) {
    const size_t dot = path.find('.', start);
    parts.push_back(path.substr(start, dot == std::string::npos ? std::string::npos : dot - start));
    if (dot == std::string::npos) break;
    start = dot + 1;
  }
  return parts;
}

bool EndsWithPart(const std::string& name, const std::string& part) {
  if (name == part) return true;
  return name.size() > part.size() && name.compare(name.size() - part.size(), part.size(), part) == 0 &&
         name[name.size() - part.size() - 1] == '.';
}

}  // namespace

int32_t NextHandle() { return g_nextHandle.fetch_add(1); }

// The program's calls go first: the publish thread only waits for answers,
// and would otherwise take the lock back at once, time after time.
UaSession::CallLock::CallLock(UaSession& session) : m_session(session) {
  ++m_session.m_nCallers;
  m_lock = std::unique_lock<std::timed_mutex>(m_session.m_io, std::chrono::milliseconds(kCallTimeoutMs));
}

UaSession::CallLock::~CallLock() {
  if (m_lock.owns_lock()) m_lock.unlock();
  --m_session.m_nCallers;
}

void UaSession::GiveWay() const {
  for (int i = 0; i < 5000 && m_nCallers.load() > 0 && !m_bStop; ++i)
    std::this_thread::sleep_for(std::chrono::microseconds(200));
}

UaSession::UaSession(int32_t handle, std::string endpointUrl, NoteSink sink)
    : m_handle(handle), m_strUrl(std::move(endpointUrl)), m_sink(std::move(sink)) {}

UaSession::~UaSession() { Close(); }

template <class Request, class Response>
StatusCode UaSession::CallLocked(Request& request, Response& response) {
  const StatusCode s = m_conn.Call(request, response, kCallTimeoutMs);
  if (IsConnectionFault(s)) m_bConnected = false;
  return s;
}

bool UaSession::Open() {
  {
    std::lock_guard<std::timed_mutex> io(m_io);
    if (!OpenSessionLocked()) {
      m_conn.Close();
      return false;
    }
  }
  m_bConnected = true;
  m_thread = std::thread([this] { PublishLoop(); });
  return true;
}

void UaSession::Close() {
  m_bStop = true;
  m_wake.notify_all();
  if (m_thread.joinable()) m_thread.join();
  CallLock io(*this);
  if (!io.owns()) return;
  if (m_bConnected && m_conn.IsOpen()) {
    CloseSessionRequest request;
    request.deleteSubscriptions = true;
    CloseSessionResponse response;
    m_conn.Call(request, response, 1000);
  }
  m_conn.Close();
  m_bConnected = false;
}

bool UaSession::OpenSessionLocked() {
  if (m_conn.Connect(m_strUrl, kConnectTimeoutMs) != status::Good) return false;
  m_conn.SetAuthenticationToken(NodeId());

  // The anonymous token's policy id of the endpoint without security.
  String policyId("anonymous");
  GetEndpointsRequest endpoints;
  endpoints.endpointUrl = m_strUrl;
  GetEndpointsResponse found;
  if (m_conn.Call(endpoints, found, kCallTimeoutMs) == status::Good) {
    for (const EndpointDescription& e : found.endpoints) {
      if (e.securityMode != MessageSecurityMode::None) continue;
      for (const UserTokenPolicy& p : e.userIdentityTokens)
        if (p.tokenType == UserTokenType::Anonymous) policyId = p.policyId;
    }
  }

  CreateSessionRequest create;
  create.clientDescription.applicationUri = String("urn:plexmar:client");
  create.clientDescription.productUri = String("urn:plexmar");
  create.clientDescription.applicationName = LocalizedText("Plexmar");
  create.clientDescription.applicationType = ApplicationType::Client;
  create.endpointUrl = m_strUrl;
  create.sessionName = String("Plexmar");
  std::vector<uint8_t> nonce(32);
  std::random_device random;
  for (uint8_t& b : nonce) b = static_cast<uint8_t>(random());
  create.clientNonce = ByteString(nonce);
  create.requestedSessionTimeout = kSessionTimeoutMs;
  CreateSessionResponse created;
  if (m_conn.Call(create, created, kCallTimeoutMs) != status::Good) return false;
  m_conn.SetAuthenticationToken(created.authenticationToken);

  ActivateSessionRequest activate;
  activate.userIdentityToken = Pack(AnonymousIdentityToken{policyId});
  ActivateSessionResponse activated;
  if (m_conn.Call(activate, activated, kCallTimeoutMs) != status::Good) return false;

  std::vector<DataValue> values;
  m_namespaces.clear();
  ReadRequest read;
  ReadValueId id;
  id.nodeId = NodeId(0, id::Server_NamespaceArray);
  read.nodesToRead.push_back(id);
  ReadResponse answer;
  if (m_conn.Call(read, answer, kCallTimeoutMs) == status::Good && answer.results.size() == 1 &&
      answer.results[0].value.Holds<BuiltinType::String>()) {
    for (const String& uri : answer.results[0].value.Values<BuiltinType::String>()) m_namespaces.push_back(uri.str());
  }
  return true;
}

bool UaSession::CreateSubscriptionLocked(Group& group) {
  CreateSubscriptionRequest request;
  request.requestedPublishingInterval = kPublishingIntervalMs;
  request.requestedMaxKeepAliveCount = kKeepAliveCount;
  request.requestedLifetimeCount = kKeepAliveCount * 4;
  request.publishingEnabled = true;
  CreateSubscriptionResponse response;
  if (CallLocked(request, response) != status::Good) return false;
  group.subscriptionId = response.subscriptionId;
  return true;
}

bool UaSession::CreateMonitoredItemsLocked(uint32_t subscriptionId, const std::vector<int32_t>& items) {
  bool all = true;
  for (size_t first = 0; first < items.size(); first += kItemsPerRequest) {
    CreateMonitoredItemsRequest request;
    request.subscriptionId = subscriptionId;
    request.timestampsToReturn = TimestampsToReturn::Both;
    std::vector<int32_t> batch(items.begin() + static_cast<long>(first),
                               items.begin() + static_cast<long>(std::min(items.size(), first + kItemsPerRequest)));
    {
      std::lock_guard<std::mutex> state(m_state);
      for (int32_t handle : batch) {
        MonitoredItemCreateRequest create;
        create.itemToMonitor.nodeId = m_items[handle].node;
        create.itemToMonitor.attributeId = attr::Value;
        create.monitoringMode = MonitoringMode::Reporting;
        create.requestedParameters.clientHandle = static_cast<uint32_t>(handle);
        create.requestedParameters.samplingInterval = kPublishingIntervalMs;
        create.requestedParameters.queueSize = 1;
        create.requestedParameters.discardOldest = true;
        request.itemsToCreate.push_back(create);
      }
    }
    CreateMonitoredItemsResponse response;
    if (CallLocked(request, response) != status::Good || response.results.size() != batch.size()) return false;
    std::lock_guard<std::mutex> state(m_state);
    for (size_t i = 0; i < batch.size(); ++i) {
      auto it = m_items.find(batch[i]);
      if (it == m_items.end()) continue;
      if (IsBad(response.results[i].statusCode)) {
        all = false;
        it->second.monitoredId = 0;
      } else {
        it->second.monitoredId = response.results[i].monitoredItemId;
      }
    }
  }
  return all;
}

bool UaSession::ReadLocked(const std::vector<ReadValueId>& ids, std::vector<DataValue>& out) {
  ReadRequest request;
  request.timestampsToReturn = TimestampsToReturn::Both;
  for (const ReadValueId& id : ids) request.nodesToRead.push_back(id);
  ReadResponse response;
  if (CallLocked(request, response) != status::Good || response.results.size() != ids.size()) return false;
  out.assign(response.results.begin(), response.results.end());
  return true;
}

void UaSession::RestoreLocked() {
  std::vector<std::pair<int32_t, std::vector<int32_t>>> plan;
  {
    std::lock_guard<std::mutex> state(m_state);
    for (auto& [handle, item] : m_items) {
      // Namespace indexes may have moved while the server was away.
      if (auto node = ParseItemId(item.idText, m_namespaces)) item.node = *node;
      item.monitoredId = 0;
    }
    for (auto& [handle, group] : m_groups) {
      group.subscriptionId = 0;
      std::vector<int32_t> active;
      for (const auto& [itemHandle, item] : m_items)
        if (item.group == handle && item.active) active.push_back(itemHandle);
      plan.emplace_back(handle, std::move(active));
    }
  }
  for (auto& [handle, active] : plan) {
    Group group;
    if (!CreateSubscriptionLocked(group)) return;
    {
      std::lock_guard<std::mutex> state(m_state);
      auto it = m_groups.find(handle);
      if (it == m_groups.end()) continue;
      it->second = group;
    }
    CreateMonitoredItemsLocked(group.subscriptionId, active);
  }
}

// --- the program's calls -----------------------------------------------------------

int32_t UaSession::AddGroup() {
  if (!m_bConnected) return -1;
  CallLock io(*this);
  if (!io.owns()) return -1;
  Group group;
  if (!CreateSubscriptionLocked(group)) return -1;
  const int32_t handle = NextHandle();
  std::lock_guard<std::mutex> state(m_state);
  m_groups[handle] = group;
  {
    // The publish thread starts on the new subscription at once.
    std::lock_guard<std::mutex> wake(m_wakeMutex);
    m_bWoken = true;
  }
  m_wake.notify_all();
  return handle;
}

int32_t UaSession::AddItem(int32_t group, const std::string& itemId) {
  if (!m_bConnected) return -1;
  {
    std::lock_guard<std::mutex> state(m_state);
    if (m_groups.count(group) == 0) return -1;
  }
  CallLock io(*this);
  if (!io.owns()) return -1;
  const std::optional<NodeId> node = ParseItemId(itemId, m_namespaces);
  if (!node) return -1;
  // The node must exist; its data type decides how writes are converted.
  ReadValueId dataType;
  dataType.nodeId = *node;
  dataType.attributeId = attr::DataType;
  std::vector<DataValue> answer;
  if (!ReadLocked({dataType}, answer) || IsBad(answer[0].status)) return -1;
  Item item;
  item.group = group;
  item.idText = itemId;
  item.node = *node;
  if (answer[0].value.Holds<BuiltinType::NodeId>() && answer[0].value.IsScalar())
    item.type = BuiltinOfDataType(answer[0].value.Values<BuiltinType::NodeId>()[0]);
  const int32_t handle = NextHandle();
  std::lock_guard<std::mutex> state(m_state);
  m_items[handle] = item;
  return handle;
}

bool UaSession::ActivateItem(int32_t group, int32_t item, void* reference) {
  uint32_t subscriptionId = 0;
  {
    std::lock_guard<std::mutex> state(m_state);
    auto it = m_items.find(item);
    auto g = m_groups.find(group);
    if (it == m_items.end() || g == m_groups.end() || it->second.group != group) return false;
    it->second.reference = reference;
    it->second.active = true;
    subscriptionId = g->second.subscriptionId;
  }
  bool ok = false;
  if (m_bConnected && subscriptionId != 0) {
    CallLock io(*this);
    if (io.owns()) ok = CreateMonitoredItemsLocked(subscriptionId, {item});
  }
  if (!ok) {
    std::lock_guard<std::mutex> state(m_state);
    auto it = m_items.find(item);
    if (it != m_items.end()) it->second.active = false;
  }
  return ok;
}

bool UaSession::ReadItem(int32_t group, int32_t item, VARIANT* value, FILETIME* timestamp, uint32_t* quality) {
  ReadValueId id;
  {
    std::lock_guard<std::mutex> state(m_state);
    auto it = m_items.find(item);
    if (it == m_items.end() || it->second.group != group) return false;
    id.nodeId = it->second.node;
  }
  if (!m_bConnected) return false;
  CallLock io(*this);
  if (!io.owns()) return false;
  std::vector<DataValue> answer;
  if (!ReadLocked({id}, answer)) return false;
  Note note;
  MapValue(answer[0], note);
  if (value != nullptr) VariantCopy(value, note.value.get());
  if (timestamp != nullptr) *timestamp = note.timestamp;
  if (quality != nullptr) *quality = note.quality;
  return true;
}

void UaSession::WriteItem(int32_t group, int32_t item, const VARIANT& value) {
  WriteValue write;
  BuiltinType type = BuiltinType::Null;
  {
    std::lock_guard<std::mutex> state(m_state);
    auto it = m_items.find(item);
    if (it == m_items.end() || it->second.group != group) return;
    write.nodeId = it->second.node;
    type = it->second.type;
  }
  if (!FromVariant(value, type, write.value.value)) return;
  write.value.hasValue = true;
  if (!m_bConnected) return;
  CallLock io(*this);
  if (!io.owns()) return;
  WriteRequest request;
  request.nodesToWrite.push_back(write);
  WriteResponse response;
  CallLocked(request, response);
}

void UaSession::RemoveItem(int32_t group, int32_t item) {
  uint32_t monitoredId = 0, subscriptionId = 0;
  {
    std::lock_guard<std::mutex> state(m_state);
    auto it = m_items.find(item);
    if (it == m_items.end() || it->second.group != group) return;
    monitoredId = it->second.monitoredId;
    auto g = m_groups.find(group);
    if (g != m_groups.end()) subscriptionId = g->second.subscriptionId;
    m_items.erase(it);
  }
  if (monitoredId == 0 || subscriptionId == 0 || !m_bConnected) return;
  CallLock io(*this);
  if (!io.owns()) return;
  DeleteMonitoredItemsRequest request;
  request.subscriptionId = subscriptionId;
  request.monitoredItemIds.push_back(monitoredId);
  DeleteMonitoredItemsResponse response;
  CallLocked(request, response);
}

void UaSession::RefreshGroup(int32_t group) {
  std::vector<int32_t> handles;
  std::vector<ReadValueId> ids;
  std::vector<void*> references;
  {
    std::lock_guard<std::mutex> state(m_state);
    for (const auto& [handle, item] : m_items) {
      if (item.group != group || !item.active) continue;
      handles.push_back(handle);
      references.push_back(item.reference);
      ReadValueId id;
      id.nodeId = item.node;
      ids.push_back(id);
    }
  }
  if (ids.empty() || !m_bConnected) return;
  CallLock io(*this);
  if (!io.owns()) return;
  std::vector<DataValue> answer;
  if (!ReadLocked(ids, answer)) return;
  io.release();
  std::vector<Note> notes(ids.size());
  for (size_t i = 0; i < ids.size(); ++i) {
    notes[i].server = m_handle;
    notes[i].group = group;
    notes[i].item = handles[i];
    notes[i].reference = references[i];
    MapValue(answer[i], notes[i]);
  }
  m_sink(std::move(notes));
}

bool UaSession::IsCurrent(int32_t item, void* reference) const {
  std::lock_guard<std::mutex> state(m_state);
  auto it = m_items.find(item);
  return it != m_items.end() && it->second.active && it->second.reference == reference;
}

// --- browsing ------------------------------------------------------------------------

bool UaSession::BrowseChildrenLocked(const NodeId& node, std::vector<ReferenceDescription>& out) {
  out.clear();
  BrowseRequest request;
  BrowseDescription what;
  what.nodeId = node;
  what.browseDirection = BrowseDirection::Forward;
  what.referenceTypeId = NodeId(0, id::HierarchicalReferences);
  what.includeSubtypes = true;
  what.nodeClassMask = static_cast<uint32_t>(NodeClass::Object) | static_cast<uint32_t>(NodeClass::Variable);
  what.resultMask = browsemask::All;
  request.nodesToBrowse.push_back(what);
  BrowseResponse response;
  if (CallLocked(request, response) != status::Good || response.results.size() != 1) return false;
  if (IsBad(response.results[0].statusCode)) return false;
  out.assign(response.results[0].references.begin(), response.results[0].references.end());
  ByteString next = response.results[0].continuationPoint;
  for (int rounds = 0; !next.null() && next.size() > 0 && rounds < 1000; ++rounds) {
    BrowseNextRequest more;
    more.continuationPoints.push_back(next);
    BrowseNextResponse answer;
    if (CallLocked(more, answer) != status::Good || answer.results.size() != 1) return false;
    out.insert(out.end(), answer.results[0].references.begin(), answer.results[0].references.end());
    next = answer.results[0].continuationPoint;
  }
  return true;
}

bool UaSession::BrowseTo(const std::string& path) {
  if (!m_bConnected) return false;
  CallLock io(*this);
  if (!io.owns()) return false;
  const std::vector<std::string> parts = SplitPath(path);
  NodeId at(0, id::ObjectsFolder);
  std::vector<ReferenceDescription> children;
  size_t i = 0;
  while (i < parts.size()) {
    if (!BrowseChildrenLocked(at, children)) return false;
    bool found = false;
    // A browse name may hold dots itself: the longest run of parts that
    // names a child wins, then a child shown by its last part.
    for (size_t k = parts.size() - i; k >= 1 && !found; --k) {
      std::string joined = parts[i];
      for (size_t j = 1; j < k; ++j) joined += "." + parts[i + j];
      for (const ReferenceDescription& child : children) {
        if (child.nodeClass == NodeClass::Object && child.browseName.name.str() == joined) {
          at = child.nodeId.nodeId;
          i += k;
          found = true;
          break;
        }
      }
    }
    if (!found) {
      for (const ReferenceDescription& child : children) {
        if (child.nodeClass == NodeClass::Object && EndsWithPart(child.browseName.name.str(), parts[i])) {
          at = child.nodeId.nodeId;
          ++i;
          found = true;
          break;
        }
      }
    }
    if (!found) return false;
  }
  if (!BrowseChildrenLocked(at, children)) return false;
  m_branches.clear();
  m_leaves.clear();
  std::vector<const ReferenceDescription*> objects;
  for (const ReferenceDescription& child : children) {
    if (child.nodeId.serverIndex != 0) continue;
    if (child.nodeClass == NodeClass::Variable)
      m_leaves.push_back({child.browseName.name.str(), child.nodeId.nodeId});
    else if (child.nodeClass == NodeClass::Object)
      objects.push_back(&child);
  }
  // Objects count as branches only when they hold something to show.
  if (!objects.empty()) {
    BrowseRequest probe;
    probe.requestedMaxReferencesPerNode = 1;
    for (const ReferenceDescription* object : objects) {
      BrowseDescription what;
      what.nodeId = object->nodeId.nodeId;
      what.referenceTypeId = NodeId(0, id::HierarchicalReferences);
      what.nodeClassMask = static_cast<uint32_t>(NodeClass::Object) | static_cast<uint32_t>(NodeClass::Variable);
      what.resultMask = 0;
      probe.nodesToBrowse.push_back(what);
    }
    BrowseResponse answer;
    const bool probed = CallLocked(probe, answer) == status::Good && answer.results.size() == objects.size();
    BrowseNextRequest release;
    release.releaseContinuationPoints = true;
    for (size_t k = 0; k < objects.size(); ++k) {
      if (!probed || !answer.results[k].references.empty())
        m_branches.push_back({objects[k]->browseName.name.str(), objects[k]->nodeId.nodeId});
      if (probed && !answer.results[k].continuationPoint.null() && answer.results[k].continuationPoint.size() > 0)
        release.continuationPoints.push_back(answer.results[k].continuationPoint);
    }
    if (!release.continuationPoints.empty()) {
      BrowseNextResponse released;
      CallLocked(release, released);
    }
  }
  return true;
}

int32_t UaSession::BrowseCount(int32_t kind) {
  m_nLastBrowseKind = kind;
  return static_cast<int32_t>(kind == 2 ? m_leaves.size() : m_branches.size());
}

bool UaSession::BrowseName(int32_t index, std::string& name) const {
  const auto& list = m_nLastBrowseKind == 2 ? m_leaves : m_branches;
  if (index < 0 || static_cast<size_t>(index) >= list.size()) return false;
  name = list[static_cast<size_t>(index)].name;
  return true;
}

bool UaSession::GetItemId(const std::string& leaf, std::string& itemId) const {
  for (const BrowseEntry& entry : m_leaves) {
    if (entry.name == leaf) {
      itemId = entry.node.ToString();
      return true;
    }
  }
  return false;
}

// --- the publish thread ------------------------------------------------------------------

void UaSession::Deliver(const PublishResponse& response) {
  std::vector<Note> notes;
  for (const ExtensionObject& data : response.notificationMessage.notificationData) {
    DataChangeNotification change;
    if (!Unpack(data, change)) continue;
    std::lock_guard<std::mutex> state(m_state);
    for (const MonitoredItemNotification& n : change.monitoredItems) {
      const int32_t handle = static_cast<int32_t>(n.clientHandle);
      auto it = m_items.find(handle);
      if (it == m_items.end() || !it->second.active) continue;
      Note note;
      note.server = m_handle;
      note.group = it->second.group;
      note.item = handle;
      note.reference = it->second.reference;
      MapValue(n.value, note);
      notes.push_back(std::move(note));
    }
  }
  if (!notes.empty()) m_sink(std::move(notes));
}

void UaSession::ConnectionLost() {
  {
    std::lock_guard<std::timed_mutex> io(m_io);
    m_conn.Close();
  }
  std::vector<Note> notes;
  {
    std::lock_guard<std::mutex> state(m_state);
    for (auto& [handle, group] : m_groups) group.subscriptionId = 0;
    for (auto& [handle, item] : m_items) {
      item.monitoredId = 0;
      if (!item.active) continue;
      // Empty and bad, once: no value stays good while the server is away.
      Note note;
      note.server = m_handle;
      note.group = item.group;
      note.item = handle;
      note.reference = item.reference;
      note.timestamp = FileTimeOf(DataValue());
      note.quality = 0;
      notes.push_back(std::move(note));
    }
  }
  Note shutdown;
  shutdown.server = m_handle;
  notes.push_back(std::move(shutdown));
  m_sink(std::move(notes));
}

void UaSession::PublishLoop() {
  int retryMs = kFirstRetryMs;
  bool wasUp = true;
  std::deque<uint32_t> outstanding;
  std::vector<SubscriptionAcknowledgement> acks;
  auto lastAnswer = Clock::now();
  auto lastRequest = Clock::now();
  const auto silenceLimit =
      std::chrono::milliseconds(static_cast<int>(kPublishingIntervalMs * kKeepAliveCount * 2) + 5000);

  auto pause = [this](int ms) {
    std::unique_lock<std::mutex> lock(m_wakeMutex);
    m_wake.wait_for(lock, std::chrono::milliseconds(ms), [this] { return m_bStop.load() || m_bWoken; });
    m_bWoken = false;
  };

  while (!m_bStop) {
    if (!m_bConnected) {
      if (wasUp) {
        ConnectionLost();
        wasUp = false;
        outstanding.clear();
        acks.clear();
      }
      pause(retryMs);
      if (m_bStop) break;
      bool up = false;
      {
        std::lock_guard<std::timed_mutex> io(m_io);
        if (OpenSessionLocked()) {
          // Marked up first: the calls that re-create the subscriptions
          // take a fault as the connection going down again.
          m_bConnected = true;
          RestoreLocked();
          up = m_bConnected;
        }
        if (!up) m_conn.Close();
      }
      if (up) {
        wasUp = true;
        retryMs = kFirstRetryMs;
        lastAnswer = lastRequest = Clock::now();
      } else {
        m_bConnected = false;
        retryMs = std::min(retryMs * 2, kLongestRetryMs);
      }
      continue;
    }

    bool subscribed = false;
    {
      std::lock_guard<std::mutex> state(m_state);
      for (const auto& [handle, group] : m_groups) subscribed = subscribed || group.subscriptionId != 0;
    }
    if (!subscribed) {
      // Without publishing the session still needs a request now and then.
      if (Clock::now() - lastRequest > std::chrono::seconds(15)) {
        std::unique_lock<std::timed_mutex> io(m_io, std::chrono::milliseconds(200));
        if (io.owns_lock()) {
          ReadValueId state;
          state.nodeId = NodeId(0, id::Server_ServerStatus_State);
          std::vector<DataValue> ignored;
          ReadLocked({state}, ignored);
          lastRequest = Clock::now();
        }
      }
      outstanding.clear();
      pause(100);
      continue;
    }

    while (outstanding.size() < kPublishesOutstanding && m_bConnected) {
      GiveWay();
      std::unique_lock<std::timed_mutex> io(m_io, std::chrono::milliseconds(200));
      if (!io.owns_lock()) break;
      PublishRequest request;
      for (const SubscriptionAcknowledgement& ack : acks) request.subscriptionAcknowledgements.push_back(ack);
      request.requestHeader.timeoutHint = static_cast<uint32_t>(silenceLimit.count());
      const uint32_t id = m_conn.Post(request);
      if (id == 0) {
        m_bConnected = false;
        break;
      }
      acks.clear();
      outstanding.push_back(id);
      lastRequest = Clock::now();
    }
    if (outstanding.empty() || !m_bConnected) {
      pause(50);
      continue;
    }

    std::vector<uint8_t> body;
    StatusCode waited = status::BadTimeout;
    {
      GiveWay();
      std::unique_lock<std::timed_mutex> io(m_io, std::chrono::milliseconds(200));
      if (!io.owns_lock()) continue;
      // Short waits with the lock let go between them keep the program's
      // calls from queueing behind a Publish the server holds back.
      waited = m_conn.Wait(outstanding.front(), body, 2);
    }
    if (waited == status::BadTimeout) {
      if (Clock::now() - lastAnswer > silenceLimit) m_bConnected = false;
      pause(3);
      continue;
    }
    if (waited != status::Good) {
      m_bConnected = false;
      continue;
    }
    outstanding.pop_front();
    lastAnswer = Clock::now();
    PublishResponse response;
    const StatusCode decoded = ClientConnection::DecodeResponse(body, response);
    if (decoded == status::Good) {
      if (!response.notificationMessage.notificationData.empty())
        acks.push_back({response.subscriptionId, response.notificationMessage.sequenceNumber});
      Deliver(response);
    } else if (IsConnectionFault(decoded)) {
      m_bConnected = false;
    } else {
      // No subscription yet, or too many requests out: ask again a little later.
      pause(100);
    }
  }
}

}  // namespace clientkit
