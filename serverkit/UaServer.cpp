// The OPC UA server's thread, connections, sessions and services.
//
// Everything here runs on the server thread except three things that other
// threads touch under `tagMutex`: the tag index (name <-> handle) and the
// per-item change counters, both kept up to date by an item table listener,
// and the queue of finished writes that the writer thread hands back.
#include "serverkit/UaServer.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <random>
#include <thread>
#include <unordered_map>

#include "opcua/nodeids.h"
#include "opcua/socket.h"
#include "opcua/transport.h"
#include "serverkit/UaAddressSpace.h"
#include "serverkit/UaMapping.h"
#include "serverkit/serverkit.h"

namespace serverkit::ua {

using namespace opcua;
using Clock = std::chrono::steady_clock;
using B = BuiltinType;

namespace {

constexpr const char* kProductUri = "urn:Norvell:Plexmar";
constexpr const char* kProductName = "Norvell Software Plexmar Server";
constexpr const char* kAnonymousPolicy = "anonymous";
constexpr size_t kRetransmitQueue = 10;
constexpr StatusCode kBadMaxAgeInvalid = 0x80700000;
constexpr uint64_t kUnconnectedSeed = 0x504C584D4152ull;

int64_t MsSince(Clock::time_point t, Clock::time_point now) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(now - t).count();
}

// The writer thread: takes writes one at a time and runs them through the
// item table's write path, which waits for the program. It is detached: a
// program that never answers keeps it, and only it, waiting.
struct WriteJob {
  uint64_t ticket;
  int32_t handle;
  CVariant value;
};
struct WriteDone {
  uint64_t ticket;
  HRESULT result;
};
struct Writer {
  std::mutex mutex;
  std::condition_variable ready;
  std::deque<WriteJob> jobs;
  std::deque<WriteDone> done;
  bool stop = false;
  int wakeFd = -1;  // the server's wake pipe; -1 once the server is gone
};

void RunWriter(std::shared_ptr<Writer> w) {
  std::unique_lock lock(w->mutex);
  for (;;) {
    w->ready.wait(lock, [&] { return w->stop || !w->jobs.empty(); });
    if (w->stop) return;
    WriteJob job = std::move(w->jobs.front());
    w->jobs.pop_front();
    lock.unlock();
    const HRESULT result = serverkit::WriteItem(job.handle, *job.value);
    lock.lock();
    if (w->stop) return;
    w->done.push_back({job.ticket, result});
    if (w->wakeFd >= 0) {
      const char c = 'w';
      [[maybe_unused]] ssize_t n = ::write(w->wakeFd, &c, 1);
    }
  }
}

}  // namespace

// --- the server's state ------------------------------------------------------------
struct MonitoredItem {
  uint32_t id = 0;
  uint32_t clientHandle = 0;
  NodeId node;
  uint32_t attributeId = attr::Value;
  int32_t tagHandle = -1;  // -1: not a tag, sampled every cycle
  // A tag's node: the handle is looked up again by name when tags come and
  // go, so that a tag removed and made anew under its name (an edit in the
  // tag list) goes on reporting on the same monitored item.
  bool tagNode = false;
  uint64_t bindGeneration = 0;
  MonitoringMode mode = MonitoringMode::Reporting;
  DataChangeTrigger trigger = DataChangeTrigger::StatusValue;
  TimestampsToReturn timestamps = TimestampsToReturn::Both;
  double samplingInterval = 0;
  uint64_t seenVersion = 0;
  bool first = true;
  std::vector<uint8_t> lastSent;  // what the last notification said
  bool pending = false;
  DataValue pendingValue;
};

struct Subscription {
  uint32_t id = 0;
  double interval = 1000;
  uint32_t lifetimeCount = 0;
  uint32_t keepAliveCount = 0;
  uint32_t maxNotifications = 0;
  bool enabled = true;
  std::map<uint32_t, MonitoredItem> items;
  uint32_t nextSequence = 1;
  std::deque<NotificationMessage> retransmit;
  Clock::time_point nextDue;
  uint32_t keepAliveCounter = 0;
  uint32_t lifetimeCounter = 0;
  bool sentAny = false;
  bool more = false;  // notifications were left over last time
};

struct PendingPublish {
  uint64_t connection = 0;
  uint32_t requestId = 0;
  uint32_t requestHandle = 0;
  Clock::time_point deadline;
  Array<StatusCode> ackResults;
};

struct Continuation {
  std::vector<ReferenceDescription> rest;
  uint32_t maxPerResult = 0;
};

struct Session {
  uint32_t number = 0;
  NodeId sessionId;
  NodeId token;
  bool activated = false;
  uint64_t connection = 0;
  double timeoutMs = 0;
  Clock::time_point lastActivity;
  std::map<uint32_t, Subscription> subscriptions;
  std::deque<PendingPublish> publishes;
  std::map<std::vector<uint8_t>, Continuation> continuations;
  size_t monitoredItems = 0;
};

struct Connection {
  uint64_t id = 0;
  Socket socket;
  std::unique_ptr<SecureChannel> channel;
  std::vector<uint8_t> out;
  size_t outPos = 0;
  Clock::time_point opened;
  bool dead = false;
};

struct PendingWrite {
  uint64_t connection = 0;
  uint32_t requestId = 0;
  uint32_t requestHandle = 0;
  Clock::time_point deadline;
  Array<StatusCode> results;
  size_t outstanding = 0;
};

struct Server::Impl {
  ServerLimits limits;
  ServerIdentity identity;
  std::unique_ptr<AddressSpace> space;

  Socket listener;
  uint16_t port = 0;
  std::string host;
  std::thread thread;
  int wake[2] = {-1, -1};
  bool running = false;

  std::map<uint64_t, std::unique_ptr<Connection>> connections;
  uint64_t nextConnection = 1;
  uint32_t nextChannelId = 1;
  std::map<uint32_t, Session> sessions;
  uint32_t nextSession = 1;
  uint32_t nextSubscription = 1;

  // Kept by the item table listener; read by the server thread.
  std::mutex tagMutex;
  std::unordered_map<std::string, int32_t> tagByName;
  std::map<int32_t, std::string> tagNames;  // in creation order
  std::unordered_map<int32_t, uint64_t> tagVersion;
  // Counts the tags made and removed, so that monitored items know when to
  // look their tag up again.
  std::atomic<uint64_t> tagBindGeneration{0};
  int listenerId = 0;

  std::shared_ptr<Writer> writer;
  std::map<uint64_t, std::pair<uint64_t, size_t>> ticketOwner;  // ticket -> (write id, index)
  std::map<uint64_t, PendingWrite> writes;
  uint64_t nextTicket = 1;
  uint64_t nextWrite = 1;

  // Session tokens, nonces and continuation points. Seeded from the system,
  // except for a connection fed without a socket (see FeedUnconnected).
  std::mt19937_64 rng{std::random_device{}()};

  explicit Impl(const ServerLimits& l) : limits(l) {}

  std::vector<uint8_t> RandomBytes(size_t n) {
    std::vector<uint8_t> out(n);
    for (auto& b : out) b = static_cast<uint8_t>(rng());
    return out;
  }

  DecodeLimits decodeLimits() const {
    DecodeLimits d;
    d.maxStringLength = limits.maxStringLength;
    d.maxArrayLength = limits.maxArrayLength;
    d.maxDepth = limits.maxNestingDepth;
    return d;
  }

  void BuildAddressSpace() {
    identity.applicationUri = "urn:" + host + ":Norvell:Plexmar";
    identity.productUri = kProductUri;
    identity.productName = kProductName;
    identity.manufacturer = "Norvell Software";
    identity.softwareVersion = "0.1";
    identity.startTime = DateTime::Now();
    identity.maxBrowseContinuationPoints = limits.maxContinuationPointsPerSession;
    identity.maxArrayLength = limits.maxArrayLength;
    identity.maxStringLength = limits.maxStringLength;
    identity.maxNodesPerRead = limits.maxNodesPerRead;
    identity.maxNodesPerWrite = limits.maxNodesPerWrite;
    identity.maxNodesPerBrowse = limits.maxNodesPerBrowse;
    identity.maxNodesPerRegisterNodes = limits.maxNodesPerCall;
    identity.maxNodesPerTranslate = limits.maxNodesPerCall;
    identity.maxMonitoredItemsPerCall = limits.maxNodesPerCall;
    space = std::make_unique<AddressSpace>(identity);
  }

  // --- the tag index -------------------------------------------------------------
  void WatchItems() {
    listenerId = serverkit::AddChangeListener([this](const ItemState& s) {
      std::lock_guard lock(tagMutex);
      ++tagVersion[s.handle];
      const bool bound = tagNames.count(s.handle) != 0;
      if (s.name.empty() == bound) tagBindGeneration.fetch_add(1, std::memory_order_relaxed);
      if (s.name.empty()) {
        auto it = tagNames.find(s.handle);
        if (it != tagNames.end()) {
          auto byName = tagByName.find(it->second);
          if (byName != tagByName.end() && byName->second == s.handle) tagByName.erase(byName);
          tagNames.erase(it);
        }
      } else if (tagNames.emplace(s.handle, s.name).second) {
        tagByName.emplace(s.name, s.handle);
      }
    });
    // Items made before we listened.
    for (const ItemState& s : serverkit::ListItems()) {
      std::lock_guard lock(tagMutex);
      if (tagNames.emplace(s.handle, s.name).second) tagByName.emplace(s.name, s.handle);
    }
  }
  void UnwatchItems() {
    if (listenerId != 0) serverkit::RemoveChangeListener(listenerId);
    listenerId = 0;
  }
  int32_t TagHandle(const NodeId& id) {
    if (id.namespaceIndex != 1 || id.kind != NodeId::Kind::String) return -1;
    std::lock_guard lock(tagMutex);
    auto it = tagByName.find(id.text);
    return it == tagByName.end() ? -1 : it->second;
  }
  uint64_t TagVersion(int32_t handle) {
    std::lock_guard lock(tagMutex);
    auto it = tagVersion.find(handle);
    return it == tagVersion.end() ? 0 : it->second;
  }

  // --- reading attributes ------------------------------------------------------------
  static void Stamp(DataValue& dv, TimestampsToReturn ts, DateTime source, DateTime server) {
    if (ts == TimestampsToReturn::Source || ts == TimestampsToReturn::Both) {
      dv.sourceTimestamp = source;
      dv.hasSourceTimestamp = source.ticks != 0;
    }
    if (ts == TimestampsToReturn::Server || ts == TimestampsToReturn::Both) {
      dv.serverTimestamp = server;
      dv.hasServerTimestamp = true;
    }
  }
  static DataValue Value(Variant v) {
    DataValue dv;
    dv.value = std::move(v);
    dv.hasValue = true;
    return dv;
  }
  static DataValue Fault(StatusCode s) {
    DataValue dv;
    dv.status = s;
    dv.hasStatus = true;
    return dv;
  }

  DataValue ReadTag(int32_t handle, const std::string& name, uint32_t attribute, TimestampsToReturn ts) {
    ItemState item;
    if (!serverkit::ReadItem(handle, item)) return Fault(status::BadNodeIdUnknown);
    const DateTime now = DateTime::Now();
    const VARTYPE vt = item.value->vt;
    switch (attribute) {
      case attr::NodeId: return Value(Variant::Scalar<B::NodeId>(NodeId::Text(1, name)));
      case attr::NodeClass: return Value(Variant::Scalar<B::Int32>(static_cast<int32_t>(NodeClass::Variable)));
      case attr::BrowseName: return Value(Variant::Scalar<B::QualifiedName>(QualifiedName{1, String(name)}));
      case attr::DisplayName: return Value(Variant::Scalar<B::LocalizedText>(LocalizedText(String(name))));
      case attr::Description: return Value(Variant::Scalar<B::LocalizedText>(LocalizedText(String(""))));
      case attr::WriteMask:
      case attr::UserWriteMask: return Value(Variant::Scalar<B::UInt32>(uint32_t{0}));
      case attr::Value: {
        DataValue dv;
        if (!ToVariant(*item.value, dv.value)) {
          dv = Fault(status::BadDataEncodingUnsupported);
        } else {
          dv.hasValue = true;
          dv.status = QualityToStatus(item.quality);
          dv.hasStatus = dv.status != status::Good;
        }
        Stamp(dv, ts, ToDateTime(item.timestamp), now);
        return dv;
      }
      case attr::DataType: return Value(Variant::Scalar<B::NodeId>(NodeId(0, DataTypeOf(vt))));
      case attr::ValueRank: return Value(Variant::Scalar<B::Int32>(ValueRankOf(vt)));
      case attr::ArrayDimensions:
        if (vt & VT_ARRAY) return Value(Variant::ArrayOf<B::UInt32>(std::vector<uint32_t>{0}));
        return Value(Variant());
      case attr::AccessLevel:
      case attr::UserAccessLevel:
        return Value(Variant::Scalar<B::Byte>(static_cast<uint8_t>(item.writable ? 3 : 1)));
      case attr::AccessLevelEx: return Value(Variant::Scalar<B::UInt32>(uint32_t{item.writable ? 3u : 1u}));
      case attr::MinimumSamplingInterval: return Value(Variant::Scalar<B::Double>(0.0));
      case attr::Historizing: return Value(Variant::Scalar<B::Boolean>(false));
      default: return Fault(status::BadAttributeIdInvalid);
    }
  }

  DataValue ReadNode(const Node& n, uint32_t attribute, TimestampsToReturn ts) {
    const bool variable = n.nodeClass == NodeClass::Variable;
    const bool isType = n.nodeClass == NodeClass::ObjectType || n.nodeClass == NodeClass::VariableType ||
                        n.nodeClass == NodeClass::DataType || n.nodeClass == NodeClass::ReferenceType;
    switch (attribute) {
      case attr::NodeId: return Value(Variant::Scalar<B::NodeId>(n.id));
      case attr::NodeClass: return Value(Variant::Scalar<B::Int32>(static_cast<int32_t>(n.nodeClass)));
      case attr::BrowseName: return Value(Variant::Scalar<B::QualifiedName>(n.browseName));
      case attr::DisplayName: return Value(Variant::Scalar<B::LocalizedText>(n.displayName));
      case attr::Description: return Value(Variant::Scalar<B::LocalizedText>(LocalizedText(String(""))));
      case attr::WriteMask:
      case attr::UserWriteMask: return Value(Variant::Scalar<B::UInt32>(uint32_t{0}));
      case attr::IsAbstract:
        if (!isType) break;
        return Value(Variant::Scalar<B::Boolean>(n.isAbstract));
      case attr::Symmetric:
        if (n.nodeClass != NodeClass::ReferenceType) break;
        return Value(Variant::Scalar<B::Boolean>(n.symmetric));
      case attr::InverseName:
        if (n.nodeClass != NodeClass::ReferenceType) break;
        return Value(Variant::Scalar<B::LocalizedText>(n.inverseName));
      case attr::EventNotifier:
        if (n.nodeClass != NodeClass::Object) break;
        return Value(Variant::Scalar<B::Byte>(n.eventNotifier));
      case attr::Value: {
        if (!variable && n.nodeClass != NodeClass::VariableType) break;
        DataValue dv = Value(n.dynamicValue ? n.dynamicValue() : n.value);
        const DateTime now = DateTime::Now();
        Stamp(dv, ts, now, now);
        return dv;
      }
      case attr::DataType:
        if (!variable && n.nodeClass != NodeClass::VariableType) break;
        return Value(Variant::Scalar<B::NodeId>(NodeId(0, n.dataType)));
      case attr::ValueRank:
        if (!variable && n.nodeClass != NodeClass::VariableType) break;
        return Value(Variant::Scalar<B::Int32>(n.valueRank));
      case attr::ArrayDimensions:
        if (!variable && n.nodeClass != NodeClass::VariableType) break;
        if (n.valueRank == 1) return Value(Variant::ArrayOf<B::UInt32>(std::vector<uint32_t>{0}));
        return Value(Variant());
      case attr::AccessLevel:
      case attr::UserAccessLevel:
        if (!variable) break;
        return Value(Variant::Scalar<B::Byte>(uint8_t{1}));
      case attr::AccessLevelEx:
        if (!variable) break;
        return Value(Variant::Scalar<B::UInt32>(uint32_t{1}));
      case attr::MinimumSamplingInterval:
        if (!variable) break;
        return Value(Variant::Scalar<B::Double>(0.0));
      case attr::Historizing:
        if (!variable) break;
        return Value(Variant::Scalar<B::Boolean>(false));
      default: break;
    }
    return Fault(status::BadAttributeIdInvalid);
  }

  DataValue Read(const ReadValueId& r, TimestampsToReturn ts) {
    if (r.attributeId == 0 || r.attributeId > attr::kLast) return Fault(status::BadAttributeIdInvalid);
    if (!r.indexRange.null() && !r.indexRange.empty()) return Fault(status::BadIndexRangeInvalid);
    if (!r.dataEncoding.name.null() && !r.dataEncoding.name.empty()) return Fault(status::BadDataEncodingInvalid);
    if (const Node* n = space->Find(r.nodeId)) return ReadNode(*n, r.attributeId, ts);
    const int32_t handle = TagHandle(r.nodeId);
    if (handle < 0) return Fault(status::BadNodeIdUnknown);
    return ReadTag(handle, r.nodeId.text, r.attributeId, ts);
  }

  // --- browsing --------------------------------------------------------------------------
  bool TypeMatches(uint32_t type, const BrowseDescription& d) {
    if (d.referenceTypeId.IsNull()) return true;
    if (d.referenceTypeId.namespaceIndex != 0 || d.referenceTypeId.kind != NodeId::Kind::Numeric) return false;
    return d.includeSubtypes ? space->IsSubtypeOf(type, d.referenceTypeId.numeric) : type == d.referenceTypeId.numeric;
  }

  // Describes the target of a reference; false when it matches no class mask.
  bool Describe(const Reference& ref, const BrowseDescription& d, ReferenceDescription& out) {
    out = ReferenceDescription();
    out.referenceTypeId = NodeId(0, ref.type);
    out.isForward = ref.forward;
    out.nodeId.nodeId = ref.target;
    NodeClass cls;
    if (const Node* n = space->Find(ref.target)) {
      cls = n->nodeClass;
      out.browseName = n->browseName;
      out.displayName = n->displayName;
      if (!n->typeDefinition.IsNull()) out.typeDefinition.nodeId = n->typeDefinition;
    } else {
      cls = NodeClass::Variable;
      out.browseName = QualifiedName{1, String(ref.target.text)};
      out.displayName = LocalizedText(String(ref.target.text));
      out.typeDefinition.nodeId = NodeId(0, id::BaseDataVariableType);
    }
    if (d.nodeClassMask != 0 && (d.nodeClassMask & static_cast<uint32_t>(cls)) == 0) return false;
    out.nodeClass = cls;
    const uint32_t m = d.resultMask;
    if (!(m & browsemask::ReferenceType)) out.referenceTypeId = NodeId();
    if (!(m & browsemask::NodeClass)) out.nodeClass = NodeClass::Unspecified;
    if (!(m & browsemask::BrowseName)) out.browseName = QualifiedName();
    if (!(m & browsemask::DisplayName)) out.displayName = LocalizedText();
    if (!(m & browsemask::TypeDefinition)) out.typeDefinition = ExpandedNodeId();
    return true;
  }

  BrowseResult Browse(Session& s, const BrowseDescription& d, uint32_t maxRefs) {
    BrowseResult r;
    if (static_cast<int32_t>(d.browseDirection) < 0 || static_cast<int32_t>(d.browseDirection) > 2) {
      r.statusCode = status::BadBrowseDirectionInvalid;
      return r;
    }
    if (!d.referenceTypeId.IsNull() &&
        (d.referenceTypeId.namespaceIndex != 0 || d.referenceTypeId.kind != NodeId::Kind::Numeric ||
         !space->Find(d.referenceTypeId) ||
         space->Find(d.referenceTypeId)->nodeClass != NodeClass::ReferenceType)) {
      r.statusCode = status::BadReferenceTypeIdInvalid;
      return r;
    }
    std::vector<Reference> refs;
    if (const Node* n = space->Find(d.nodeId)) {
      refs = n->refs;
      if (d.nodeId == kTagsFolder) {
        std::lock_guard lock(tagMutex);
        for (const auto& [handle, name] : tagNames) refs.push_back(AddressSpace::TagReference(name));
      }
    } else if (TagHandle(d.nodeId) >= 0) {
      refs.push_back({id::Organizes, false, kTagsFolder});
      refs.push_back({id::HasTypeDefinition, true, NodeId(0, id::BaseDataVariableType)});
    } else {
      r.statusCode = status::BadNodeIdUnknown;
      return r;
    }
    std::vector<ReferenceDescription> found;
    for (const Reference& ref : refs) {
      if (d.browseDirection == BrowseDirection::Forward && !ref.forward) continue;
      if (d.browseDirection == BrowseDirection::Inverse && ref.forward) continue;
      if (!TypeMatches(ref.type, d)) continue;
      ReferenceDescription rd;
      if (Describe(ref, d, rd)) found.push_back(std::move(rd));
    }
    return Page(s, std::move(found), maxRefs);
  }

  BrowseResult Page(Session& s, std::vector<ReferenceDescription> found, uint32_t maxRefs) {
    BrowseResult r;
    if (found.size() <= maxRefs) {
      r.references = Array<ReferenceDescription>(std::move(found));
      return r;
    }
    if (s.continuations.size() >= limits.maxContinuationPointsPerSession) {
      r.statusCode = status::BadNoContinuationPoints;
      return r;
    }
    Continuation c;
    c.maxPerResult = maxRefs;
    c.rest.assign(std::make_move_iterator(found.begin() + maxRefs), std::make_move_iterator(found.end()));
    found.resize(maxRefs);
    r.references = Array<ReferenceDescription>(std::move(found));
    std::vector<uint8_t> key = RandomBytes(8);
    r.continuationPoint = ByteString(key);
    s.continuations[key] = std::move(c);
    return r;
  }

  bool FollowPath(const NodeId& from, const RelativePathElement& e, std::vector<NodeId>& out) {
    BrowseDescription d;
    d.nodeId = from;
    d.browseDirection = e.isInverse ? BrowseDirection::Inverse : BrowseDirection::Forward;
    d.referenceTypeId = e.referenceTypeId;
    d.includeSubtypes = e.includeSubtypes;
    d.resultMask = browsemask::BrowseName;
    Session scratch;
    BrowseResult r = Browse(scratch, d, UINT32_MAX);
    if (IsBad(r.statusCode)) return false;
    for (const auto& ref : r.references)
      if (ref.browseName == e.targetName) out.push_back(ref.nodeId.nodeId);
    return true;
  }

  // --- sessions ------------------------------------------------------------------------
  Session* FindSession(const NodeId& token) {
    for (auto& [number, s] : sessions)
      if (s.token == token) return &s;
    return nullptr;
  }
  void CloseSession(uint32_t number) { sessions.erase(number); }

  EndpointDescription Endpoint(const std::string& url) {
    EndpointDescription e;
    e.endpointUrl = String(url);
    e.server = Application(url);
    e.securityMode = MessageSecurityMode::None;
    e.securityPolicyUri = String(kSecurityPolicyNone);
    UserTokenPolicy anonymous;
    anonymous.policyId = String(kAnonymousPolicy);
    anonymous.tokenType = UserTokenType::Anonymous;
    e.userIdentityTokens.push_back(anonymous);
    e.transportProfileUri = String(kTransportProfileBinary);
    e.securityLevel = 0;
    return e;
  }
  ApplicationDescription Application(const std::string& url) {
    ApplicationDescription a;
    a.applicationUri = String(identity.applicationUri);
    a.productUri = String(identity.productUri);
    a.applicationName = LocalizedText(String(kProductName));
    a.applicationType = ApplicationType::Server;
    a.discoveryUrls.push_back(String(url));
    return a;
  }
  // The URL a client asked for, when it names this server's port; ours otherwise.
  std::string UrlFor(const String& asked) {
    std::string h, path;
    uint16_t p = 0;
    if (!asked.null() && ParseEndpointUrl(asked.str(), h, p, path) && p == port) return asked.str();
    return "opc.tcp://" + host + ":" + std::to_string(port);
  }

  // --- sending ---------------------------------------------------------------------------
  Connection* FindConnection(uint64_t id) {
    auto it = connections.find(id);
    return it == connections.end() || it->second->dead ? nullptr : it->second.get();
  }
  void Answer(Connection& c, uint32_t requestId, uint32_t requestHandle, const std::vector<uint8_t>& body) {
    const StatusCode s = c.channel->Send(requestId, body);
    if (s == status::BadResponseTooLarge) c.channel->Send(requestId, EncodeServiceFault(requestHandle, s));
    Collect(c);
  }
  void Collect(Connection& c) {
    if (!c.channel->HasOutput()) return;
    auto bytes = c.channel->TakeOutput();
    if (c.outPos == c.out.size()) {
      c.out = std::move(bytes);
      c.outPos = 0;
    } else {
      c.out.insert(c.out.end(), bytes.begin(), bytes.end());
    }
    if (c.out.size() - c.outPos > limits.maxUnsentBytes) c.dead = true;
  }
  template <class Response>
  void Respond(Connection& c, uint32_t requestId, uint32_t handle, Response& r) {
    r.responseHeader.timestamp = DateTime::Now();
    r.responseHeader.requestHandle = handle;
    Answer(c, requestId, handle, EncodeMessage(r));
  }

  // --- dispatch ----------------------------------------------------------------------------
  void OnMessage(Connection& c, SecureChannel::Message& m);
  template <class Request, class Response, class Handler>
  void Serve(Connection& c, SecureChannel::Message& m, bool needsSession, Handler handler);

  // Services; each returns the service result (Good to send `response`).
  StatusCode OnGetEndpoints(Connection&, Session*, GetEndpointsRequest&, GetEndpointsResponse&);
  StatusCode OnFindServers(Connection&, Session*, FindServersRequest&, FindServersResponse&);
  StatusCode OnCreateSession(Connection&, Session*, CreateSessionRequest&, CreateSessionResponse&);
  StatusCode OnActivateSession(Connection&, Session*, ActivateSessionRequest&, ActivateSessionResponse&);
  StatusCode OnCloseSession(Connection&, Session*, CloseSessionRequest&, CloseSessionResponse&);
  StatusCode OnBrowse(Connection&, Session*, BrowseRequest&, BrowseResponse&);
  StatusCode OnBrowseNext(Connection&, Session*, BrowseNextRequest&, BrowseNextResponse&);
  StatusCode OnTranslate(Connection&, Session*, TranslateBrowsePathsToNodeIdsRequest&,
                         TranslateBrowsePathsToNodeIdsResponse&);
  StatusCode OnRegisterNodes(Connection&, Session*, RegisterNodesRequest&, RegisterNodesResponse&);
  StatusCode OnUnregisterNodes(Connection&, Session*, UnregisterNodesRequest&, UnregisterNodesResponse&);
  StatusCode OnRead(Connection&, Session*, ReadRequest&, ReadResponse&);
  StatusCode OnCreateSubscription(Connection&, Session*, CreateSubscriptionRequest&, CreateSubscriptionResponse&);
  StatusCode OnModifySubscription(Connection&, Session*, ModifySubscriptionRequest&, ModifySubscriptionResponse&);
  StatusCode OnSetPublishingMode(Connection&, Session*, SetPublishingModeRequest&, SetPublishingModeResponse&);
  StatusCode OnDeleteSubscriptions(Connection&, Session*, DeleteSubscriptionsRequest&, DeleteSubscriptionsResponse&);
  StatusCode OnCreateMonitoredItems(Connection&, Session*, CreateMonitoredItemsRequest&,
                                    CreateMonitoredItemsResponse&);
  StatusCode OnModifyMonitoredItems(Connection&, Session*, ModifyMonitoredItemsRequest&,
                                    ModifyMonitoredItemsResponse&);
  StatusCode OnSetMonitoringMode(Connection&, Session*, SetMonitoringModeRequest&, SetMonitoringModeResponse&);
  StatusCode OnDeleteMonitoredItems(Connection&, Session*, DeleteMonitoredItemsRequest&,
                                    DeleteMonitoredItemsResponse&);
  StatusCode OnRepublish(Connection&, Session*, RepublishRequest&, RepublishResponse&);
  void OnWrite(Connection& c, Session& s, SecureChannel::Message& m, WriteRequest& request);
  void OnPublish(Connection& c, Session& s, SecureChannel::Message& m, PublishRequest& request);

  // --- subscriptions -------------------------------------------------------------------------
  void Sample(Subscription& sub, MonitoredItem& item);
  bool PublishDue(Session& s, Subscription& sub, Clock::time_point now);
  void SendPublish(Session& s, Subscription& sub, NotificationMessage message, bool more);
  void Tick(Clock::time_point now);

  // --- writes --------------------------------------------------------------------------------
  void FinishWrite(uint64_t writeId);
  void CollectWrites(Clock::time_point now);

  // --- the loop ------------------------------------------------------------------------------
  void Run();
  void Accept();
  void ReadFrom(Connection& c);
  void WriteTo(Connection& c);
  void Drop(Connection& c);
};

// --- dispatch ------------------------------------------------------------------------------
template <class Request, class Response, class Handler>
void Server::Impl::Serve(Connection& c, SecureChannel::Message& m, bool needsSession, Handler handler) {
  Request request;
  const StatusCode decoded = DecodeMessage(m.body, request, decodeLimits());
  if (decoded != status::Good) {
    // A body we cannot read is the client's fault, not a service result.
    c.channel->Abort(decoded, "undecodable request");
    Collect(c);
    c.dead = true;
    return;
  }
  const uint32_t handle = request.requestHeader.requestHandle;
  Session* session = nullptr;
  if (needsSession) {
    session = FindSession(request.requestHeader.authenticationToken);
    StatusCode refused = status::Good;
    if (session == nullptr) refused = status::BadSessionIdInvalid;
    else if (!session->activated) refused = status::BadSessionNotActivated;
    else if (session->connection != c.id) refused = status::BadSecureChannelIdInvalid;
    if (refused != status::Good) {
      Answer(c, m.requestId, handle, EncodeServiceFault(handle, refused));
      return;
    }
    session->lastActivity = Clock::now();
  }
  Response response;
  const StatusCode result = handler(c, session, request, response);
  if (IsBad(result)) {
    Answer(c, m.requestId, handle, EncodeServiceFault(handle, result));
    return;
  }
  Respond(c, m.requestId, handle, response);
}

void Server::Impl::OnMessage(Connection& c, SecureChannel::Message& m) {
  using Self = Server::Impl;
#define OPCUA_SERVE(Req, Resp, session, fn)                                                              \
  case Req::kBinaryEncodingId:                                                                           \
    Serve<Req, Resp>(c, m, session, [this](Connection& cc, Session* s, Req& q, Resp& r) { return fn(cc, s, q, r); }); \
    return;
  switch (PeekMessageType(m.body)) {
    OPCUA_SERVE(GetEndpointsRequest, GetEndpointsResponse, false, OnGetEndpoints)
    OPCUA_SERVE(FindServersRequest, FindServersResponse, false, OnFindServers)
    OPCUA_SERVE(CreateSessionRequest, CreateSessionResponse, false, OnCreateSession)
    OPCUA_SERVE(ActivateSessionRequest, ActivateSessionResponse, false, OnActivateSession)
    OPCUA_SERVE(CloseSessionRequest, CloseSessionResponse, false, OnCloseSession)
    OPCUA_SERVE(BrowseRequest, BrowseResponse, true, OnBrowse)
    OPCUA_SERVE(BrowseNextRequest, BrowseNextResponse, true, OnBrowseNext)
    OPCUA_SERVE(TranslateBrowsePathsToNodeIdsRequest, TranslateBrowsePathsToNodeIdsResponse, true, OnTranslate)
    OPCUA_SERVE(RegisterNodesRequest, RegisterNodesResponse, true, OnRegisterNodes)
    OPCUA_SERVE(UnregisterNodesRequest, UnregisterNodesResponse, true, OnUnregisterNodes)
    OPCUA_SERVE(ReadRequest, ReadResponse, true, OnRead)
    OPCUA_SERVE(CreateSubscriptionRequest, CreateSubscriptionResponse, true, OnCreateSubscription)
    OPCUA_SERVE(ModifySubscriptionRequest, ModifySubscriptionResponse, true, OnModifySubscription)
    OPCUA_SERVE(SetPublishingModeRequest, SetPublishingModeResponse, true, OnSetPublishingMode)
    OPCUA_SERVE(DeleteSubscriptionsRequest, DeleteSubscriptionsResponse, true, OnDeleteSubscriptions)
    OPCUA_SERVE(CreateMonitoredItemsRequest, CreateMonitoredItemsResponse, true, OnCreateMonitoredItems)
    OPCUA_SERVE(ModifyMonitoredItemsRequest, ModifyMonitoredItemsResponse, true, OnModifyMonitoredItems)
    OPCUA_SERVE(SetMonitoringModeRequest, SetMonitoringModeResponse, true, OnSetMonitoringMode)
    OPCUA_SERVE(DeleteMonitoredItemsRequest, DeleteMonitoredItemsResponse, true, OnDeleteMonitoredItems)
    OPCUA_SERVE(RepublishRequest, RepublishResponse, true, OnRepublish)
    case WriteRequest::kBinaryEncodingId:
    case PublishRequest::kBinaryEncodingId: {
      // Answered later: the write when the program has taken it, the publish
      // when there is something to say.
      const bool write = PeekMessageType(m.body) == WriteRequest::kBinaryEncodingId;
      WriteRequest wr;
      PublishRequest pr;
      const StatusCode decoded =
          write ? DecodeMessage(m.body, wr, decodeLimits()) : DecodeMessage(m.body, pr, decodeLimits());
      if (decoded != status::Good) {
        c.channel->Abort(decoded, "undecodable request");
        Collect(c);
        c.dead = true;
        return;
      }
      const RequestHeader& h = write ? wr.requestHeader : pr.requestHeader;
      Session* s = FindSession(h.authenticationToken);
      StatusCode refused = status::Good;
      if (s == nullptr) refused = status::BadSessionIdInvalid;
      else if (!s->activated) refused = status::BadSessionNotActivated;
      else if (s->connection != c.id) refused = status::BadSecureChannelIdInvalid;
      if (refused != status::Good) {
        Answer(c, m.requestId, h.requestHandle, EncodeServiceFault(h.requestHandle, refused));
        return;
      }
      s->lastActivity = Clock::now();
      if (write) OnWrite(c, *s, m, wr);
      else OnPublish(c, *s, m, pr);
      return;
    }
    default: {
      uint32_t handle = 0;
      if (!PeekRequestHandle(m.body.data(), m.body.size(), handle)) {
        c.channel->Abort(status::BadDecodingError, "undecodable request");
        Collect(c);
        c.dead = true;
        return;
      }
      Answer(c, m.requestId, handle, EncodeServiceFault(handle, status::BadServiceUnsupported));
      return;
    }
  }
#undef OPCUA_SERVE
  (void)sizeof(Self);
}

// --- discovery and sessions -------------------------------------------------------------------
StatusCode Server::Impl::OnGetEndpoints(Connection&, Session*, GetEndpointsRequest& q, GetEndpointsResponse& r) {
  bool binary = q.profileUris.empty();
  for (const String& p : q.profileUris) binary = binary || p.str() == kTransportProfileBinary;
  if (binary) r.endpoints.push_back(Endpoint(UrlFor(q.endpointUrl)));
  return status::Good;
}

StatusCode Server::Impl::OnFindServers(Connection&, Session*, FindServersRequest& q, FindServersResponse& r) {
  bool wanted = q.serverUris.empty();
  for (const String& u : q.serverUris) wanted = wanted || u.str() == identity.applicationUri;
  if (wanted) r.servers.push_back(Application(UrlFor(q.endpointUrl)));
  return status::Good;
}

StatusCode Server::Impl::OnCreateSession(Connection& c, Session*, CreateSessionRequest& q, CreateSessionResponse& r) {
  if (sessions.size() >= limits.maxSessions) return status::BadTooManySessions;
  Session s;
  s.number = nextSession++;
  s.sessionId = NodeId(1, s.number);
  s.token.kind = NodeId::Kind::Opaque;
  s.token.namespaceIndex = 1;
  s.token.opaque = ByteString(RandomBytes(32));
  s.connection = c.id;
  s.timeoutMs = std::clamp(q.requestedSessionTimeout, static_cast<double>(limits.minSessionTimeoutMs),
                           static_cast<double>(limits.maxSessionTimeoutMs));
  if (!(s.timeoutMs == s.timeoutMs)) s.timeoutMs = limits.minSessionTimeoutMs;  // NaN
  s.lastActivity = Clock::now();
  r.sessionId = s.sessionId;
  r.authenticationToken = s.token;
  r.revisedSessionTimeout = s.timeoutMs;
  r.serverNonce = ByteString(RandomBytes(32));
  r.serverEndpoints.push_back(Endpoint(UrlFor(q.endpointUrl)));
  r.maxRequestMessageSize = limits.maxMessageSize;
  sessions.emplace(s.number, std::move(s));
  return status::Good;
}

StatusCode Server::Impl::OnActivateSession(Connection& c, Session*, ActivateSessionRequest& q,
                                           ActivateSessionResponse& r) {
  Session* s = FindSession(q.requestHeader.authenticationToken);
  if (s == nullptr) return status::BadSessionIdInvalid;
  // Anonymous only: an empty token or an AnonymousIdentityToken.
  if (q.userIdentityToken.encoding != ExtensionObject::Body::None || !q.userIdentityToken.typeId.IsNull()) {
    AnonymousIdentityToken token;
    if (!Unpack(q.userIdentityToken, token, decodeLimits())) return status::BadIdentityTokenRejected;
  }
  // A session may move to another channel of the same client.
  s->connection = c.id;
  s->activated = true;
  s->lastActivity = Clock::now();
  r.serverNonce = ByteString(RandomBytes(32));
  return status::Good;
}

StatusCode Server::Impl::OnCloseSession(Connection& c, Session*, CloseSessionRequest& q, CloseSessionResponse&) {
  Session* s = FindSession(q.requestHeader.authenticationToken);
  if (s == nullptr || s->connection != c.id) return status::BadSessionIdInvalid;
  // Publish requests still waiting get their answer.
  for (const PendingPublish& p : s->publishes)
    if (Connection* pc = FindConnection(p.connection))
      Answer(*pc, p.requestId, p.requestHandle, EncodeServiceFault(p.requestHandle, status::BadSessionClosed));
  CloseSession(s->number);
  return status::Good;
}

// --- view services ----------------------------------------------------------------------------
StatusCode Server::Impl::OnBrowse(Connection&, Session* s, BrowseRequest& q, BrowseResponse& r) {
  if (q.nodesToBrowse.empty()) return status::BadNothingToDo;
  if (q.nodesToBrowse.size() > limits.maxNodesPerBrowse) return status::BadTooManyOperations;
  if (!q.view.viewId.IsNull()) return status::BadViewIdUnknown;
  uint32_t maxRefs = q.requestedMaxReferencesPerNode == 0 ? limits.maxReferencesPerNode
                                                          : std::min(q.requestedMaxReferencesPerNode, limits.maxReferencesPerNode);
  for (const BrowseDescription& d : q.nodesToBrowse) r.results.push_back(Browse(*s, d, maxRefs));
  return status::Good;
}

StatusCode Server::Impl::OnBrowseNext(Connection&, Session* s, BrowseNextRequest& q, BrowseNextResponse& r) {
  if (q.continuationPoints.empty()) return status::BadNothingToDo;
  if (q.continuationPoints.size() > limits.maxNodesPerBrowse) return status::BadTooManyOperations;
  for (const ByteString& cp : q.continuationPoints) {
    BrowseResult result;
    auto it = s->continuations.find(cp.bytes());
    if (it == s->continuations.end()) {
      result.statusCode = status::BadContinuationPointInvalid;
    } else if (!q.releaseContinuationPoints) {
      Continuation c = std::move(it->second);
      s->continuations.erase(it);
      result = Page(*s, std::move(c.rest), c.maxPerResult);
    } else {
      s->continuations.erase(it);
    }
    r.results.push_back(std::move(result));
  }
  return status::Good;
}

StatusCode Server::Impl::OnTranslate(Connection&, Session*, TranslateBrowsePathsToNodeIdsRequest& q,
                                     TranslateBrowsePathsToNodeIdsResponse& r) {
  if (q.browsePaths.empty()) return status::BadNothingToDo;
  if (q.browsePaths.size() > limits.maxNodesPerCall) return status::BadTooManyOperations;
  for (const BrowsePath& path : q.browsePaths) {
    BrowsePathResult result;
    if (path.relativePath.elements.empty()) {
      result.statusCode = status::BadNothingToDo;
    } else if (!space->Find(path.startingNode) && TagHandle(path.startingNode) < 0) {
      result.statusCode = status::BadNodeIdUnknown;
    } else {
      std::vector<NodeId> current{path.startingNode};
      for (const RelativePathElement& e : path.relativePath.elements) {
        if (e.targetName.name.null() || e.targetName.name.empty()) {
          result.statusCode = status::BadBrowseNameInvalid;
          break;
        }
        std::vector<NodeId> next;
        for (const NodeId& n : current) FollowPath(n, e, next);
        current = std::move(next);
        if (current.empty()) break;
      }
      if (result.statusCode == status::Good) {
        if (current.empty()) result.statusCode = status::BadNoMatch;
        for (const NodeId& n : current) result.targets.push_back(BrowsePathTarget{ExpandedNodeId{n, String(), 0}, 0xFFFFFFFFu});
      }
    }
    r.results.push_back(std::move(result));
  }
  return status::Good;
}

StatusCode Server::Impl::OnRegisterNodes(Connection&, Session*, RegisterNodesRequest& q, RegisterNodesResponse& r) {
  if (q.nodesToRegister.empty()) return status::BadNothingToDo;
  if (q.nodesToRegister.size() > limits.maxNodesPerCall) return status::BadTooManyOperations;
  // Our node ids are already the fastest way in; a registered id is the id itself.
  r.registeredNodeIds = q.nodesToRegister;
  return status::Good;
}

StatusCode Server::Impl::OnUnregisterNodes(Connection&, Session*, UnregisterNodesRequest& q, UnregisterNodesResponse&) {
  if (q.nodesToUnregister.empty()) return status::BadNothingToDo;
  if (q.nodesToUnregister.size() > limits.maxNodesPerCall) return status::BadTooManyOperations;
  return status::Good;
}

// --- attribute services -------------------------------------------------------------------------
StatusCode Server::Impl::OnRead(Connection&, Session*, ReadRequest& q, ReadResponse& r) {
  if (q.nodesToRead.empty()) return status::BadNothingToDo;
  if (q.nodesToRead.size() > limits.maxNodesPerRead) return status::BadTooManyOperations;
  if (static_cast<int32_t>(q.timestampsToReturn) < 0 || static_cast<int32_t>(q.timestampsToReturn) > 3)
    return status::BadTimestampsToReturnInvalid;
  if (q.maxAge < 0) return kBadMaxAgeInvalid;
  r.results.reserve(q.nodesToRead.size());
  for (const ReadValueId& id : q.nodesToRead) r.results.push_back(Read(id, q.timestampsToReturn));
  return status::Good;
}

void Server::Impl::OnWrite(Connection& c, Session&, SecureChannel::Message& m, WriteRequest& q) {
  const uint32_t handle = q.requestHeader.requestHandle;
  if (q.nodesToWrite.empty() || q.nodesToWrite.size() > limits.maxNodesPerWrite) {
    Answer(c, m.requestId, handle,
           EncodeServiceFault(handle, q.nodesToWrite.empty() ? status::BadNothingToDo : status::BadTooManyOperations));
    return;
  }
  const uint64_t writeId = nextWrite++;
  PendingWrite& w = writes[writeId];
  w.connection = c.id;
  w.requestId = m.requestId;
  w.requestHandle = handle;
  w.deadline = Clock::now() + std::chrono::milliseconds(limits.writeTimeoutMs);
  w.results.assign(q.nodesToWrite.size(), status::Good);
  std::vector<WriteJob> jobs;
  for (size_t i = 0; i < q.nodesToWrite.size(); ++i) {
    const WriteValue& v = q.nodesToWrite[i];
    StatusCode& result = w.results[i];
    const int32_t tag = TagHandle(v.nodeId);
    if (tag < 0) {
      result = space->Find(v.nodeId) ? status::BadNotWritable : status::BadNodeIdUnknown;
      continue;
    }
    if (v.attributeId != attr::Value) {
      result = v.attributeId == 0 || v.attributeId > attr::kLast ? status::BadAttributeIdInvalid : status::BadNotWritable;
      continue;
    }
    if (!v.indexRange.null() && !v.indexRange.empty()) {
      result = status::BadWriteNotSupported;
      continue;
    }
    ItemState item;
    if (!serverkit::ReadItem(tag, item)) {
      result = status::BadNodeIdUnknown;
      continue;
    }
    if (!item.writable) {
      result = status::BadNotWritable;
      continue;
    }
    CVariant value;
    if (!v.value.hasValue || !FromVariant(v.value.value, value)) {
      result = status::BadTypeMismatch;
      continue;
    }
    const uint64_t ticket = nextTicket++;
    ticketOwner[ticket] = {writeId, i};
    jobs.push_back({ticket, tag, std::move(value)});
    ++w.outstanding;
  }
  if (!jobs.empty()) {
    std::lock_guard lock(writer->mutex);
    for (auto& j : jobs) writer->jobs.push_back(std::move(j));
    writer->ready.notify_one();
  }
  if (w.outstanding == 0) FinishWrite(writeId);
}

void Server::Impl::FinishWrite(uint64_t writeId) {
  auto it = writes.find(writeId);
  if (it == writes.end()) return;
  PendingWrite& w = it->second;
  if (Connection* c = FindConnection(w.connection)) {
    WriteResponse r;
    r.results = w.results;
    Respond(*c, w.requestId, w.requestHandle, r);
  }
  writes.erase(it);
}

void Server::Impl::CollectWrites(Clock::time_point now) {
  std::deque<WriteDone> done;
  {
    std::lock_guard lock(writer->mutex);
    done.swap(writer->done);
  }
  for (const WriteDone& d : done) {
    auto owner = ticketOwner.find(d.ticket);
    if (owner == ticketOwner.end()) continue;  // answered with BadTimeout already
    const auto [writeId, index] = owner->second;
    ticketOwner.erase(owner);
    auto w = writes.find(writeId);
    if (w == writes.end()) continue;
    w->second.results[index] = WriteResultToStatus(d.result);
    if (--w->second.outstanding == 0) FinishWrite(writeId);
  }
  // Writes the program did not take in time.
  std::vector<uint64_t> late;
  for (auto& [id, w] : writes)
    if (now >= w.deadline) late.push_back(id);
  for (uint64_t id : late) {
    for (auto it = ticketOwner.begin(); it != ticketOwner.end();) {
      if (it->second.first == id) {
        writes[id].results[it->second.second] = status::BadTimeout;
        it = ticketOwner.erase(it);
      } else {
        ++it;
      }
    }
    FinishWrite(id);
  }
}

// --- subscriptions ---------------------------------------------------------------------------------
StatusCode Server::Impl::OnCreateSubscription(Connection&, Session* s, CreateSubscriptionRequest& q,
                                              CreateSubscriptionResponse& r) {
  if (s->subscriptions.size() >= limits.maxSubscriptionsPerSession) return status::BadTooManySubscriptions;
  Subscription sub;
  sub.id = nextSubscription++;
  double interval = q.requestedPublishingInterval;
  if (!(interval == interval) || interval < limits.minPublishingIntervalMs) interval = limits.minPublishingIntervalMs;
  sub.interval = std::min(interval, 3600000.0);
  sub.keepAliveCount = std::clamp<uint32_t>(q.requestedMaxKeepAliveCount, 1, 10000);
  sub.lifetimeCount = std::max<uint32_t>(q.requestedLifetimeCount, sub.keepAliveCount * 3);
  sub.lifetimeCount = std::min<uint32_t>(sub.lifetimeCount, 100000);
  sub.maxNotifications = q.maxNotificationsPerPublish == 0 ? 0 : q.maxNotificationsPerPublish;
  sub.enabled = q.publishingEnabled;
  sub.nextDue = Clock::now() + std::chrono::milliseconds(static_cast<int64_t>(sub.interval));
  r.subscriptionId = sub.id;
  r.revisedPublishingInterval = sub.interval;
  r.revisedLifetimeCount = sub.lifetimeCount;
  r.revisedMaxKeepAliveCount = sub.keepAliveCount;
  s->subscriptions.emplace(sub.id, std::move(sub));
  return status::Good;
}

StatusCode Server::Impl::OnModifySubscription(Connection&, Session* s, ModifySubscriptionRequest& q,
                                              ModifySubscriptionResponse& r) {
  auto it = s->subscriptions.find(q.subscriptionId);
  if (it == s->subscriptions.end()) return status::BadSubscriptionIdInvalid;
  Subscription& sub = it->second;
  double interval = q.requestedPublishingInterval;
  if (!(interval == interval) || interval < limits.minPublishingIntervalMs) interval = limits.minPublishingIntervalMs;
  sub.interval = std::min(interval, 3600000.0);
  sub.keepAliveCount = std::clamp<uint32_t>(q.requestedMaxKeepAliveCount, 1, 10000);
  sub.lifetimeCount = std::min<uint32_t>(std::max<uint32_t>(q.requestedLifetimeCount, sub.keepAliveCount * 3), 100000);
  sub.maxNotifications = q.maxNotificationsPerPublish;
  r.revisedPublishingInterval = sub.interval;
  r.revisedLifetimeCount = sub.lifetimeCount;
  r.revisedMaxKeepAliveCount = sub.keepAliveCount;
  return status::Good;
}

namespace {
// Runs `act` on each subscription of the session that `ids` names, with a
// result per id: Good, or BadSubscriptionIdInvalid for one it does not have.
template <class Ids, class Results, class Act>
StatusCode ForEachSubscription(std::map<uint32_t, Subscription>& subscriptions, const Ids& ids, Results& results,
                               Act act) {
  if (ids.empty()) return status::BadNothingToDo;
  for (uint32_t id : ids) {
    auto it = subscriptions.find(id);
    if (it == subscriptions.end()) {
      results.push_back(status::BadSubscriptionIdInvalid);
      continue;
    }
    act(it);
    results.push_back(status::Good);
  }
  return status::Good;
}
}  // namespace

StatusCode Server::Impl::OnSetPublishingMode(Connection&, Session* s, SetPublishingModeRequest& q,
                                             SetPublishingModeResponse& r) {
  return ForEachSubscription(s->subscriptions, q.subscriptionIds, r.results,
                             [&](auto it) { it->second.enabled = q.publishingEnabled; });
}

StatusCode Server::Impl::OnDeleteSubscriptions(Connection&, Session* s, DeleteSubscriptionsRequest& q,
                                               DeleteSubscriptionsResponse& r) {
  return ForEachSubscription(s->subscriptions, q.subscriptionIds, r.results, [&](auto it) {
    s->monitoredItems -= it->second.items.size();
    s->subscriptions.erase(it);
  });
}

namespace {
// Reads a DataChangeFilter; false when the filter is one we do not offer.
StatusCode ReadFilter(const ExtensionObject& filter, DataChangeTrigger& trigger, const DecodeLimits& limits) {
  trigger = DataChangeTrigger::StatusValue;
  if (filter.encoding == ExtensionObject::Body::None && filter.typeId.IsNull()) return status::Good;
  DataChangeFilter f;
  if (!Unpack(filter, f, limits)) return status::BadMonitoredItemFilterUnsupported;
  if (f.deadbandType != 0) return status::BadMonitoredItemFilterUnsupported;
  if (static_cast<int32_t>(f.trigger) < 0 || static_cast<int32_t>(f.trigger) > 2)
    return status::BadMonitoredItemFilterInvalid;
  trigger = f.trigger;
  return status::Good;
}
}  // namespace

StatusCode Server::Impl::OnCreateMonitoredItems(Connection&, Session* s, CreateMonitoredItemsRequest& q,
                                                CreateMonitoredItemsResponse& r) {
  auto it = s->subscriptions.find(q.subscriptionId);
  if (it == s->subscriptions.end()) return status::BadSubscriptionIdInvalid;
  if (q.itemsToCreate.empty()) return status::BadNothingToDo;
  if (q.itemsToCreate.size() > limits.maxNodesPerCall) return status::BadTooManyOperations;
  if (static_cast<int32_t>(q.timestampsToReturn) < 0 || static_cast<int32_t>(q.timestampsToReturn) > 3)
    return status::BadTimestampsToReturnInvalid;
  Subscription& sub = it->second;
  for (const MonitoredItemCreateRequest& c : q.itemsToCreate) {
    MonitoredItemCreateResult result;
    const ReadValueId& target = c.itemToMonitor;
    MonitoredItem item;
    const Node* node = space->Find(target.nodeId);
    item.bindGeneration = tagBindGeneration.load(std::memory_order_relaxed);
    item.tagHandle = node ? -1 : TagHandle(target.nodeId);
    item.tagNode = !node;
    if (s->monitoredItems >= limits.maxMonitoredItemsPerSession) {
      result.statusCode = status::BadTooManyMonitoredItems;
    } else if (!node && item.tagHandle < 0) {
      result.statusCode = status::BadNodeIdUnknown;
    } else if (target.attributeId == 0 || target.attributeId > attr::kLast) {
      result.statusCode = status::BadAttributeIdInvalid;
    } else if (!target.indexRange.null() && !target.indexRange.empty()) {
      result.statusCode = status::BadIndexRangeInvalid;
    } else if (static_cast<int32_t>(c.monitoringMode) < 0 || static_cast<int32_t>(c.monitoringMode) > 2) {
      result.statusCode = status::BadMonitoringModeInvalid;
    } else if (IsBad(Read(target, TimestampsToReturn::Neither).status) &&
               Read(target, TimestampsToReturn::Neither).status == status::BadAttributeIdInvalid) {
      result.statusCode = status::BadAttributeIdInvalid;
    } else {
      result.statusCode = ReadFilter(c.requestedParameters.filter, item.trigger, decodeLimits());
    }
    if (result.statusCode == status::Good) {
      item.id = sub.items.empty() ? 1 : sub.items.rbegin()->first + 1;
      item.clientHandle = c.requestedParameters.clientHandle;
      item.node = target.nodeId;
      item.attributeId = target.attributeId;
      item.mode = c.monitoringMode;
      item.timestamps = q.timestampsToReturn;
      double sampling = c.requestedParameters.samplingInterval;
      if (!(sampling == sampling) || sampling < 0) sampling = sub.interval;
      item.samplingInterval = std::max(sampling, static_cast<double>(limits.minPublishingIntervalMs));
      result.monitoredItemId = item.id;
      result.revisedSamplingInterval = item.samplingInterval;
      result.revisedQueueSize = 1;
      sub.items.emplace(item.id, std::move(item));
      ++s->monitoredItems;
    }
    r.results.push_back(std::move(result));
  }
  return status::Good;
}

StatusCode Server::Impl::OnModifyMonitoredItems(Connection&, Session* s, ModifyMonitoredItemsRequest& q,
                                                ModifyMonitoredItemsResponse& r) {
  auto it = s->subscriptions.find(q.subscriptionId);
  if (it == s->subscriptions.end()) return status::BadSubscriptionIdInvalid;
  if (q.itemsToModify.empty()) return status::BadNothingToDo;
  if (q.itemsToModify.size() > limits.maxNodesPerCall) return status::BadTooManyOperations;
  for (const MonitoredItemModifyRequest& m : q.itemsToModify) {
    MonitoredItemModifyResult result;
    auto item = it->second.items.find(m.monitoredItemId);
    if (item == it->second.items.end()) {
      result.statusCode = status::BadMonitoredItemIdInvalid;
    } else {
      DataChangeTrigger trigger;
      result.statusCode = ReadFilter(m.requestedParameters.filter, trigger, decodeLimits());
      if (result.statusCode == status::Good) {
        item->second.trigger = trigger;
        item->second.clientHandle = m.requestedParameters.clientHandle;
        item->second.timestamps = q.timestampsToReturn;
        double sampling = m.requestedParameters.samplingInterval;
        if (!(sampling == sampling) || sampling < 0) sampling = it->second.interval;
        item->second.samplingInterval = std::max(sampling, static_cast<double>(limits.minPublishingIntervalMs));
        result.revisedSamplingInterval = item->second.samplingInterval;
        result.revisedQueueSize = 1;
      }
    }
    r.results.push_back(std::move(result));
  }
  return status::Good;
}

StatusCode Server::Impl::OnSetMonitoringMode(Connection&, Session* s, SetMonitoringModeRequest& q,
                                             SetMonitoringModeResponse& r) {
  auto it = s->subscriptions.find(q.subscriptionId);
  if (it == s->subscriptions.end()) return status::BadSubscriptionIdInvalid;
  if (q.monitoredItemIds.empty()) return status::BadNothingToDo;
  if (static_cast<int32_t>(q.monitoringMode) < 0 || static_cast<int32_t>(q.monitoringMode) > 2)
    return status::BadMonitoringModeInvalid;
  for (uint32_t id : q.monitoredItemIds) {
    auto item = it->second.items.find(id);
    if (item == it->second.items.end()) {
      r.results.push_back(status::BadMonitoredItemIdInvalid);
      continue;
    }
    // Back to reporting: the client hears the current value again.
    if (item->second.mode != MonitoringMode::Reporting && q.monitoringMode == MonitoringMode::Reporting)
      item->second.first = true;
    item->second.mode = q.monitoringMode;
    r.results.push_back(status::Good);
  }
  return status::Good;
}

StatusCode Server::Impl::OnDeleteMonitoredItems(Connection&, Session* s, DeleteMonitoredItemsRequest& q,
                                                DeleteMonitoredItemsResponse& r) {
  auto it = s->subscriptions.find(q.subscriptionId);
  if (it == s->subscriptions.end()) return status::BadSubscriptionIdInvalid;
  if (q.monitoredItemIds.empty()) return status::BadNothingToDo;
  for (uint32_t id : q.monitoredItemIds) {
    if (it->second.items.erase(id) == 0) {
      r.results.push_back(status::BadMonitoredItemIdInvalid);
      continue;
    }
    --s->monitoredItems;
    r.results.push_back(status::Good);
  }
  return status::Good;
}

StatusCode Server::Impl::OnRepublish(Connection&, Session* s, RepublishRequest& q, RepublishResponse& r) {
  auto it = s->subscriptions.find(q.subscriptionId);
  if (it == s->subscriptions.end()) return status::BadSubscriptionIdInvalid;
  for (const NotificationMessage& m : it->second.retransmit) {
    if (m.sequenceNumber == q.retransmitSequenceNumber) {
      r.notificationMessage = m;
      return status::Good;
    }
  }
  return status::BadMessageNotAvailable;
}

void Server::Impl::OnPublish(Connection& c, Session& s, SecureChannel::Message& m, PublishRequest& q) {
  PendingPublish p;
  p.connection = c.id;
  p.requestId = m.requestId;
  p.requestHandle = q.requestHeader.requestHandle;
  const uint32_t hint = q.requestHeader.timeoutHint;
  p.deadline = hint == 0 ? Clock::time_point::max() : Clock::now() + std::chrono::milliseconds(hint);
  for (const SubscriptionAcknowledgement& a : q.subscriptionAcknowledgements) {
    StatusCode result = status::BadSubscriptionIdInvalid;
    auto it = s.subscriptions.find(a.subscriptionId);
    if (it != s.subscriptions.end()) {
      auto& queue = it->second.retransmit;
      auto found = std::find_if(queue.begin(), queue.end(),
                                [&](const NotificationMessage& n) { return n.sequenceNumber == a.sequenceNumber; });
      result = found == queue.end() ? status::BadSequenceNumberUnknown : status::Good;
      if (found != queue.end()) queue.erase(found);
    }
    p.ackResults.push_back(result);
  }
  if (s.subscriptions.empty()) {
    PublishResponse r;
    r.results = p.ackResults;
    r.responseHeader.serviceResult = status::BadNoSubscription;
    Respond(c, m.requestId, p.requestHandle, r);
    return;
  }
  if (s.publishes.size() >= limits.maxPublishRequestsPerSession) {
    // The oldest waiting request makes room, answered so the client can count.
    PendingPublish old = std::move(s.publishes.front());
    s.publishes.pop_front();
    if (Connection* oc = FindConnection(old.connection))
      Answer(*oc, old.requestId, old.requestHandle, EncodeServiceFault(old.requestHandle, status::BadTooManyPublishRequests));
  }
  s.publishes.push_back(std::move(p));
}

// Looks at one monitored item and queues a notification when it changed.
void Server::Impl::Sample(Subscription&, MonitoredItem& item) {
  if (item.mode == MonitoringMode::Disabled) return;
  if (item.tagNode) {
    const uint64_t generation = tagBindGeneration.load(std::memory_order_relaxed);
    if (generation != item.bindGeneration) {
      item.bindGeneration = generation;
      const int32_t handle = TagHandle(item.node);
      if (handle != item.tagHandle) {
        // Another item under the node's name, or none: look at it now.
        item.tagHandle = handle;
        item.seenVersion = ~uint64_t{0};
      }
    }
  }
  if (item.tagHandle >= 0) {
    const uint64_t version = TagVersion(item.tagHandle);
    if (!item.first && version == item.seenVersion) return;
    item.seenVersion = version;
  }
  ReadValueId r;
  r.nodeId = item.node;
  r.attributeId = item.attributeId;
  DataValue dv = Read(r, item.timestamps);
  // What counts as a change: status, value and (when asked) the source time.
  DataValue key;
  key.value = dv.value;
  key.hasValue = dv.hasValue && item.trigger != DataChangeTrigger::Status;
  key.status = dv.status;
  key.hasStatus = true;
  if (item.trigger == DataChangeTrigger::StatusValueTimestamp) {
    key.sourceTimestamp = dv.sourceTimestamp;
    key.hasSourceTimestamp = true;
  }
  std::vector<uint8_t> bytes = EncodeToBytes(key);
  if (!item.first && bytes == item.lastSent) return;
  item.first = false;
  item.lastSent = std::move(bytes);
  if (item.mode != MonitoringMode::Reporting) return;
  item.pending = true;
  item.pendingValue = std::move(dv);
}

void Server::Impl::SendPublish(Session& s, Subscription& sub, NotificationMessage message, bool more) {
  PendingPublish p = std::move(s.publishes.front());
  s.publishes.pop_front();
  PublishResponse r;
  r.subscriptionId = sub.id;
  r.moreNotifications = more;
  r.results = p.ackResults;
  for (const NotificationMessage& kept : sub.retransmit) r.availableSequenceNumbers.push_back(kept.sequenceNumber);
  r.notificationMessage = std::move(message);
  if (Connection* c = FindConnection(p.connection)) Respond(*c, p.requestId, p.requestHandle, r);
  sub.sentAny = true;
  sub.keepAliveCounter = 0;
  sub.lifetimeCounter = 0;
}

// One publishing cycle of `sub`; false when the subscription has expired.
bool Server::Impl::PublishDue(Session& s, Subscription& sub, Clock::time_point now) {
  for (auto& [id, item] : sub.items) Sample(sub, item);
  std::vector<MonitoredItem*> ready;
  if (sub.enabled)
    for (auto& [id, item] : sub.items)
      if (item.pending) ready.push_back(&item);
  if (!ready.empty()) {
    if (s.publishes.empty()) {
      // Nobody to tell: the changes wait, and the lifetime runs down.
      if (++sub.lifetimeCounter > sub.lifetimeCount) return false;
      return true;
    }
    const size_t count = sub.maxNotifications == 0 ? ready.size() : std::min<size_t>(ready.size(), sub.maxNotifications);
    DataChangeNotification change;
    change.monitoredItems.reserve(count);
    for (size_t i = 0; i < count; ++i) {
      MonitoredItem& item = *ready[i];
      change.monitoredItems.push_back(MonitoredItemNotification{item.clientHandle, std::move(item.pendingValue)});
      item.pending = false;
      item.pendingValue = DataValue();
    }
    NotificationMessage message;
    message.sequenceNumber = sub.nextSequence++;
    if (sub.nextSequence == 0) sub.nextSequence = 1;
    message.publishTime = DateTime::Now();
    message.notificationData.push_back(Pack(change));
    sub.retransmit.push_back(message);
    if (sub.retransmit.size() > kRetransmitQueue) sub.retransmit.pop_front();
    SendPublish(s, sub, std::move(message), count < ready.size());
    (void)now;
    return true;
  }
  // Nothing new: a keep-alive when it is due (and right after creation).
  ++sub.keepAliveCounter;
  if (!sub.sentAny || sub.keepAliveCounter >= sub.keepAliveCount) {
    if (s.publishes.empty()) {
      if (++sub.lifetimeCounter > sub.lifetimeCount) return false;
      return true;
    }
    NotificationMessage keepAlive;
    keepAlive.sequenceNumber = sub.nextSequence;  // the next one, not used up
    keepAlive.publishTime = DateTime::Now();
    SendPublish(s, sub, std::move(keepAlive), false);
  }
  return true;
}

void Server::Impl::Tick(Clock::time_point now) {
  std::vector<uint32_t> expiredSessions;
  for (auto& [number, s] : sessions) {
    if (MsSince(s.lastActivity, now) > static_cast<int64_t>(s.timeoutMs)) {
      expiredSessions.push_back(number);
      continue;
    }
    // Publish requests whose client gave up waiting.
    while (!s.publishes.empty() && now >= s.publishes.front().deadline) {
      PendingPublish p = std::move(s.publishes.front());
      s.publishes.pop_front();
      if (Connection* c = FindConnection(p.connection))
        Answer(*c, p.requestId, p.requestHandle, EncodeServiceFault(p.requestHandle, status::BadTimeout));
    }
    std::vector<uint32_t> expired;
    for (auto& [id, sub] : s.subscriptions) {
      if (now < sub.nextDue) continue;
      const auto step = std::chrono::milliseconds(static_cast<int64_t>(sub.interval));
      sub.nextDue += step;
      if (sub.nextDue < now) sub.nextDue = now + step;  // we fell behind: do not race to catch up
      if (!PublishDue(s, sub, now)) expired.push_back(id);
    }
    for (uint32_t id : expired) {
      s.monitoredItems -= s.subscriptions[id].items.size();
      s.subscriptions.erase(id);
    }
    if (s.activated && !s.publishes.empty()) {
      // A live session keeps its publish requests alive.
      s.lastActivity = std::max(s.lastActivity, now - std::chrono::milliseconds(static_cast<int64_t>(s.timeoutMs / 2)));
    }
  }
  for (uint32_t n : expiredSessions) CloseSession(n);
}

// --- the loop ---------------------------------------------------------------------------------------
void Server::Impl::Accept() {
  for (;;) {
    Socket peer = listener.Accept();
    if (!peer.valid()) return;
    if (connections.size() >= limits.maxConnections) {
      // Told why, then closed.
      SecureChannel refuse(SecureChannel::Role::Server);
      refuse.Abort(status::BadTcpServerTooBusy, "too many connections");
      const auto bytes = refuse.TakeOutput();
      peer.SendSome(bytes.data(), bytes.size());
      continue;
    }
    auto c = std::make_unique<Connection>();
    c->id = nextConnection++;
    c->socket = std::move(peer);
    TransportLimits t;
    t.receiveBufferSize = t.sendBufferSize = limits.receiveBufferSize;
    t.maxMessageSize = limits.maxMessageSize;
    t.maxChunkCount = limits.maxChunkCount;
    c->channel = std::make_unique<SecureChannel>(SecureChannel::Role::Server, t, nextChannelId++);
    if (nextChannelId == 0) nextChannelId = 1;
    c->opened = Clock::now();
    connections.emplace(c->id, std::move(c));
  }
}

void Server::Impl::ReadFrom(Connection& c) {
  std::vector<uint8_t> in;
  for (int round = 0; round < 16; ++round) {
    in.clear();
    const long n = c.socket.ReceiveSome(in, 65536, 0);
    if (n < 0) {
      c.dead = true;
      return;
    }
    if (n == 0) break;
    c.channel->Receive(in.data(), in.size());
    SecureChannel::Message m;
    while (!c.dead && c.channel->NextMessage(m)) OnMessage(c, m);
    Collect(c);
    if (c.channel->IsClosed()) {
      c.dead = true;
      return;
    }
    if (static_cast<size_t>(n) < 65536) break;
  }
}

void Server::Impl::WriteTo(Connection& c) {
  while (c.outPos < c.out.size()) {
    const long n = c.socket.SendSome(c.out.data() + c.outPos, c.out.size() - c.outPos);
    if (n < 0) {
      c.dead = true;
      return;
    }
    if (n == 0) return;
    c.outPos += static_cast<size_t>(n);
  }
  c.out.clear();
  c.outPos = 0;
}

void Server::Impl::Drop(Connection& c) {
  // A session outlives its channel until it times out, so a client can come
  // back; its waiting publish requests cannot be answered any more.
  for (auto& [n, s] : sessions)
    std::erase_if(s.publishes, [&](const PendingPublish& p) { return p.connection == c.id; });
  std::vector<uint64_t> orphaned;
  for (auto& [id, w] : writes)
    if (w.connection == c.id) orphaned.push_back(id);
  for (uint64_t id : orphaned) {
    std::erase_if(ticketOwner, [&](const auto& t) { return t.second.first == id; });
    writes.erase(id);
  }
}

void Server::Impl::Run() {
  std::vector<pollfd> fds;
  std::vector<uint64_t> ids;
  for (;;) {
    const auto now = Clock::now();
    // Drop the dead and the silent.
    for (auto it = connections.begin(); it != connections.end();) {
      Connection& c = *it->second;
      if (!c.dead && !c.channel->IsOpen() && MsSince(c.opened, now) > limits.helloTimeoutMs) c.dead = true;
      if (!c.dead && c.channel->IsOpen()) {
        c.channel->Tick();
        Collect(c);
        if (c.channel->IsClosed()) c.dead = true;
      }
      if (c.dead) {
        if (c.outPos < c.out.size()) WriteTo(c);  // a last Error message, if the socket takes it
        Drop(c);
        it = connections.erase(it);
      } else {
        ++it;
      }
    }
    CollectWrites(now);
    Tick(now);

    fds.clear();
    ids.clear();
    fds.push_back({wake[0], POLLIN, 0});
    fds.push_back({listener.fd(), POLLIN, 0});
    for (auto& [id, c] : connections) {
      short events = POLLIN;
      if (c->outPos < c->out.size()) events |= POLLOUT;
      fds.push_back({c->socket.fd(), events, 0});
      ids.push_back(id);
    }
    int timeout = 50;
    for (auto& [n, s] : sessions)
      for (auto& [id, sub] : s.subscriptions)
        timeout = std::min<int64_t>(timeout, std::max<int64_t>(0, std::chrono::duration_cast<std::chrono::milliseconds>(sub.nextDue - now).count()));
    if (!writes.empty()) timeout = std::min(timeout, 20);
    ::poll(fds.data(), fds.size(), timeout);
    if (fds[0].revents & POLLIN) {
      char buf[64];
      const ssize_t n = ::read(wake[0], buf, sizeof buf);
      bool stop = false;
      for (ssize_t i = 0; i < n; ++i) stop = stop || buf[i] == 'q';
      if (stop) return;
    }
    if (fds[1].revents & POLLIN) Accept();
    for (size_t i = 0; i < ids.size(); ++i) {
      auto it = connections.find(ids[i]);
      if (it == connections.end()) continue;
      Connection& c = *it->second;
      const short ev = fds[i + 2].revents;
      if (ev & (POLLIN | POLLHUP | POLLERR)) ReadFrom(c);
      if (!c.dead && (ev & POLLOUT)) WriteTo(c);
      if (!c.dead && c.outPos < c.out.size()) WriteTo(c);
    }
  }
}

// --- Server -----------------------------------------------------------------------------------------
std::string AdvertisedHost(const std::string& bindAddress) {
  if (bindAddress.empty() || bindAddress == "0.0.0.0" || bindAddress == "::") return LocalHostName();
  if (bindAddress.find(':') != std::string::npos && bindAddress.front() != '[') return "[" + bindAddress + "]";
  return bindAddress;
}

Server::Server(const ServerLimits& limits) : m_impl(std::make_unique<Impl>(limits)) {}
Server::~Server() {
  Stop();
  m_impl->UnwatchItems();
}

bool Server::Start(const std::string& bindAddress, uint16_t port, std::string* error) {
  Stop();
  Impl& s = *m_impl;
  s.listener = Socket::Listen(bindAddress, port, error);
  if (!s.listener.valid()) return false;
  s.port = s.listener.LocalPort();
  s.host = AdvertisedHost(bindAddress);
  if (::pipe2(s.wake, O_CLOEXEC | O_NONBLOCK) != 0) {
    if (error) *error = "no pipe";
    s.listener.Close();
    return false;
  }
  s.BuildAddressSpace();
  s.WatchItems();
  s.writer = std::make_shared<Writer>();
  s.writer->wakeFd = s.wake[1];
  std::thread(RunWriter, s.writer).detach();
  s.running = true;
  s.thread = std::thread([&s] { s.Run(); });
  return true;
}

void Server::Stop() {
  Impl& s = *m_impl;
  if (!s.running) return;
  const char q = 'q';
  [[maybe_unused]] ssize_t n = ::write(s.wake[1], &q, 1);
  s.thread.join();
  s.UnwatchItems();
  {
    std::lock_guard lock(s.writer->mutex);
    s.writer->stop = true;
    s.writer->wakeFd = -1;
    s.writer->ready.notify_all();
  }
  s.writer.reset();
  s.connections.clear();
  s.sessions.clear();
  s.writes.clear();
  s.ticketOwner.clear();
  s.listener.Close();
  ::close(s.wake[0]);
  ::close(s.wake[1]);
  s.wake[0] = s.wake[1] = -1;
  s.running = false;
}

bool Server::IsRunning() const { return m_impl->running; }
uint16_t Server::Port() const { return m_impl->port; }
std::string Server::EndpointUrl() const {
  return m_impl->running ? "opc.tcp://" + m_impl->host + ":" + std::to_string(m_impl->port) : std::string();
}

std::vector<uint8_t> Server::FeedUnconnected(const uint8_t* data, size_t size, size_t keepAnswers) {
  Impl& s = *m_impl;
  std::vector<uint8_t> answers;
  if (s.running) return answers;
  if (!s.space) {
    s.host = "fuzz";
    s.port = 4840;
    s.BuildAddressSpace();
    s.WatchItems();
    s.writer = std::make_shared<Writer>();
  }
  // The same tokens and ids every time, so that recorded requests can carry them.
  s.rng.seed(kUnconnectedSeed);
  s.nextSession = 1;
  s.nextSubscription = 1;
  // Listed among the connections, so that answers given later (writes,
  // publishing) find it.
  auto owned = std::make_unique<Connection>();
  Connection& c = *owned;
  c.id = s.nextConnection++;
  s.connections.emplace(c.id, std::move(owned));
  TransportLimits t;
  t.receiveBufferSize = t.sendBufferSize = s.limits.receiveBufferSize;
  t.maxMessageSize = s.limits.maxMessageSize;
  t.maxChunkCount = s.limits.maxChunkCount;
  c.channel = std::make_unique<SecureChannel>(SecureChannel::Role::Server, t, 1);
  auto keep = [&] {
    s.Collect(c);
    const size_t room = keepAnswers - std::min(keepAnswers, answers.size());
    answers.insert(answers.end(), c.out.begin() + static_cast<std::ptrdiff_t>(c.outPos),
                   c.out.begin() + static_cast<std::ptrdiff_t>(c.outPos + std::min(room, c.out.size() - c.outPos)));
    c.out.clear();
    c.outPos = 0;
  };
  // The writer's work, done here: the write path runs on this thread.
  auto write = [&] {
    std::deque<WriteJob> jobs;
    {
      std::lock_guard lock(s.writer->mutex);
      jobs.swap(s.writer->jobs);
    }
    for (WriteJob& job : jobs) {
      const HRESULT result = serverkit::WriteItem(job.handle, *job.value);
      std::lock_guard lock(s.writer->mutex);
      s.writer->done.push_back({job.ticket, result});
    }
  };
  // In pieces, as a network would deliver them; after each piece the clock
  // reads a second ahead, so that publishing intervals come due.
  auto now = Clock::now();
  size_t pos = 0;
  while (pos < size && !c.dead && !c.channel->IsClosed()) {
    const size_t piece = std::min<size_t>(size - pos, 1 + (data[pos] % 200));
    c.channel->Receive(data + pos, piece);
    pos += piece;
    SecureChannel::Message m;
    while (!c.dead && c.channel->NextMessage(m)) {
      s.OnMessage(c, m);
      keep();
    }
    write();
    now = std::max(now, Clock::now() + std::chrono::seconds(1));
    s.CollectWrites(now);
    s.Tick(now);
    keep();
  }
  // Much later: the writes and sessions left over run out.
  write();
  now = Clock::now() + std::chrono::hours(2);
  s.CollectWrites(now);
  s.Tick(now);
  keep();
  s.Drop(c);
  s.connections.erase(c.id);
  {
    std::lock_guard lock(s.writer->mutex);
    s.writer->jobs.clear();
    s.writer->done.clear();
  }
  s.sessions.clear();
  s.writes.clear();
  s.ticketOwner.clear();
  return answers;
}

}  // namespace serverkit::ua
