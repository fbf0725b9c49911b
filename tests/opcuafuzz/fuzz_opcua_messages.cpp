// Any bytes through the stack's decoders: as a message body (its type id
// picks the structure), the same bytes without a type id as every request,
// response and carried structure, and as each built-in type that nests
// (Variant, DataValue, ExtensionObject, DiagnosticInfo, NodeId ...). A value
// that decodes encodes again, those bytes decode, and encode once more to
// the very same bytes: the encoder never writes what the decoder refuses.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "opcua/MessageCatalog.h"
#include "opcua/services.h"
#include "opcua/transport.h"

using namespace opcua;

namespace {

void Require(bool condition) {
  if (!condition) std::abort();
}

template <class T>
void RoundTrip(const uint8_t* data, size_t size) {
  T value;
  Decoder d(data, size);
  if (!Decode(d, value)) return;
  const std::vector<uint8_t> once = EncodeToBytes(value);
  T again;
  Require(DecodeFromBytes(once.data(), once.size(), again) == status::Good);
  Require(EncodeToBytes(again) == once);
}

// A structure carried in an ExtensionObject, unpacked when its type id says so.
template <class T>
void Carried(const ExtensionObject& x) {
  T value;
  if (!Unpack(x, value)) return;
  const ExtensionObject packed = Pack(value);
  T again;
  Require(Unpack(packed, again));
  Require(EncodeToBytes(again) == packed.body);
}

void Unpacked(const uint8_t* data, size_t size) {
  ExtensionObject x;
  Decoder d(data, size);
  if (!Decode(d, x)) return;
  Carried<AnonymousIdentityToken>(x);
  Carried<UserNameIdentityToken>(x);
  Carried<DataChangeFilter>(x);
  Carried<DataChangeNotification>(x);
  Carried<StatusChangeNotification>(x);
  Carried<BuildInfo>(x);
  Carried<ServerStatusDataType>(x);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<uint8_t> body(data, data + size);
  const auto& catalog = opcuatest::Catalog();
  auto entry = catalog.find(PeekMessageType(body));
  if (entry != catalog.end()) {
    std::vector<uint8_t> once;
    if (entry->second.roundTrip(body, once) == status::Good) {
      std::vector<uint8_t> twice;
      Require(entry->second.roundTrip(once, twice) == status::Good);
      Require(twice == once);
    }
  }

  // Without the type id, as each structure.
  Decoder typeId(data, size);
  NodeId skipped;
  const size_t from = Decode(typeId, skipped) ? typeId.position() : 0;
  const uint8_t* rest = data + from;
  const size_t left = size - from;
#define OPCUA_EACH(T) RoundTrip<T>(rest, left);
  OPCUA_EACH(ServiceFault)
  OPCUA_EACH(OpenSecureChannelRequest)
  OPCUA_EACH(OpenSecureChannelResponse)
  OPCUA_EACH(CloseSecureChannelRequest)
  OPCUA_EACH(GetEndpointsRequest)
  OPCUA_EACH(GetEndpointsResponse)
  OPCUA_EACH(FindServersRequest)
  OPCUA_EACH(FindServersResponse)
  OPCUA_EACH(CreateSessionRequest)
  OPCUA_EACH(CreateSessionResponse)
  OPCUA_EACH(ActivateSessionRequest)
  OPCUA_EACH(ActivateSessionResponse)
  OPCUA_EACH(CloseSessionRequest)
  OPCUA_EACH(BrowseRequest)
  OPCUA_EACH(BrowseResponse)
  OPCUA_EACH(BrowseNextRequest)
  OPCUA_EACH(BrowseNextResponse)
  OPCUA_EACH(TranslateBrowsePathsToNodeIdsRequest)
  OPCUA_EACH(TranslateBrowsePathsToNodeIdsResponse)
  OPCUA_EACH(RegisterNodesRequest)
  OPCUA_EACH(RegisterNodesResponse)
  OPCUA_EACH(UnregisterNodesRequest)
  OPCUA_EACH(ReadRequest)
  OPCUA_EACH(ReadResponse)
  OPCUA_EACH(WriteRequest)
  OPCUA_EACH(WriteResponse)
  OPCUA_EACH(CreateSubscriptionRequest)
  OPCUA_EACH(CreateSubscriptionResponse)
  OPCUA_EACH(ModifySubscriptionRequest)
  OPCUA_EACH(ModifySubscriptionResponse)
  OPCUA_EACH(SetPublishingModeRequest)
  OPCUA_EACH(SetPublishingModeResponse)
  OPCUA_EACH(DeleteSubscriptionsRequest)
  OPCUA_EACH(DeleteSubscriptionsResponse)
  OPCUA_EACH(CreateMonitoredItemsRequest)
  OPCUA_EACH(CreateMonitoredItemsResponse)
  OPCUA_EACH(ModifyMonitoredItemsRequest)
  OPCUA_EACH(ModifyMonitoredItemsResponse)
  OPCUA_EACH(SetMonitoringModeRequest)
  OPCUA_EACH(SetMonitoringModeResponse)
  OPCUA_EACH(DeleteMonitoredItemsRequest)
  OPCUA_EACH(DeleteMonitoredItemsResponse)
  OPCUA_EACH(PublishRequest)
  OPCUA_EACH(PublishResponse)
  OPCUA_EACH(RepublishRequest)
  OPCUA_EACH(RepublishResponse)
  OPCUA_EACH(AnonymousIdentityToken)
  OPCUA_EACH(UserNameIdentityToken)
  OPCUA_EACH(DataChangeFilter)
  OPCUA_EACH(DataChangeNotification)
  OPCUA_EACH(StatusChangeNotification)
  OPCUA_EACH(ServerStatusDataType)
  OPCUA_EACH(tcp::Hello)
  OPCUA_EACH(tcp::Acknowledge)
  OPCUA_EACH(tcp::ErrorMessage)
#undef OPCUA_EACH

  // The whole input as each built-in type that has structure of its own.
  RoundTrip<Variant>(data, size);
  RoundTrip<DataValue>(data, size);
  RoundTrip<ExtensionObject>(data, size);
  RoundTrip<DiagnosticInfo>(data, size);
  RoundTrip<NodeId>(data, size);
  RoundTrip<ExpandedNodeId>(data, size);
  RoundTrip<LocalizedText>(data, size);
  RoundTrip<QualifiedName>(data, size);
  RoundTrip<Array<Variant>>(data, size);
  RoundTrip<std::vector<bool>>(data, size);
  Unpacked(data, size);
  Unpacked(rest, left);
  return 0;
}
