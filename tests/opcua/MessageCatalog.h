// Every service structure the stack knows, by binary encoding id: decode a
// whole message body and encode it again. Shared by the fixture test and the
// fuzz target.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "opcua/services.h"
#include "opcua/transport.h"

namespace opcuatest {

struct CatalogEntry {
  const char* name;
  // Decodes `body`; on success sets `reencoded` to the body encoded again.
  std::function<opcua::StatusCode(const std::vector<uint8_t>& body, std::vector<uint8_t>& reencoded)> roundTrip;
};

template <class T>
CatalogEntry Entry(const char* name) {
  return {name, [](const std::vector<uint8_t>& body, std::vector<uint8_t>& reencoded) {
            T message;
            const opcua::StatusCode s = opcua::DecodeMessage(body, message);
            if (s == opcua::status::Good) reencoded = opcua::EncodeMessage(message);
            return s;
          }};
}

inline const std::map<uint32_t, CatalogEntry>& Catalog() {
  using namespace opcua;
  static const std::map<uint32_t, CatalogEntry> catalog = [] {
    std::map<uint32_t, CatalogEntry> c;
#define OPCUA_CATALOG(T) c.emplace(T::kBinaryEncodingId, Entry<T>(#T));
    OPCUA_CATALOG(ServiceFault)
    OPCUA_CATALOG(OpenSecureChannelRequest)
    OPCUA_CATALOG(OpenSecureChannelResponse)
    OPCUA_CATALOG(CloseSecureChannelRequest)
    OPCUA_CATALOG(CloseSecureChannelResponse)
    OPCUA_CATALOG(GetEndpointsRequest)
    OPCUA_CATALOG(GetEndpointsResponse)
    OPCUA_CATALOG(FindServersRequest)
    OPCUA_CATALOG(FindServersResponse)
    OPCUA_CATALOG(CreateSessionRequest)
    OPCUA_CATALOG(CreateSessionResponse)
    OPCUA_CATALOG(ActivateSessionRequest)
    OPCUA_CATALOG(ActivateSessionResponse)
    OPCUA_CATALOG(CloseSessionRequest)
    OPCUA_CATALOG(CloseSessionResponse)
    OPCUA_CATALOG(BrowseRequest)
    OPCUA_CATALOG(BrowseResponse)
    OPCUA_CATALOG(BrowseNextRequest)
    OPCUA_CATALOG(BrowseNextResponse)
    OPCUA_CATALOG(TranslateBrowsePathsToNodeIdsRequest)
    OPCUA_CATALOG(TranslateBrowsePathsToNodeIdsResponse)
    OPCUA_CATALOG(RegisterNodesRequest)
    OPCUA_CATALOG(RegisterNodesResponse)
    OPCUA_CATALOG(UnregisterNodesRequest)
    OPCUA_CATALOG(UnregisterNodesResponse)
    OPCUA_CATALOG(ReadRequest)
    OPCUA_CATALOG(ReadResponse)
    OPCUA_CATALOG(WriteRequest)
    OPCUA_CATALOG(WriteResponse)
    OPCUA_CATALOG(CreateSubscriptionRequest)
    OPCUA_CATALOG(CreateSubscriptionResponse)
    OPCUA_CATALOG(ModifySubscriptionRequest)
    OPCUA_CATALOG(ModifySubscriptionResponse)
    OPCUA_CATALOG(SetPublishingModeRequest)
    OPCUA_CATALOG(SetPublishingModeResponse)
    OPCUA_CATALOG(DeleteSubscriptionsRequest)
    OPCUA_CATALOG(DeleteSubscriptionsResponse)
    OPCUA_CATALOG(CreateMonitoredItemsRequest)
    OPCUA_CATALOG(CreateMonitoredItemsResponse)
    OPCUA_CATALOG(ModifyMonitoredItemsRequest)
    OPCUA_CATALOG(ModifyMonitoredItemsResponse)
    OPCUA_CATALOG(SetMonitoringModeRequest)
    OPCUA_CATALOG(SetMonitoringModeResponse)
    OPCUA_CATALOG(DeleteMonitoredItemsRequest)
    OPCUA_CATALOG(DeleteMonitoredItemsResponse)
    OPCUA_CATALOG(PublishRequest)
    OPCUA_CATALOG(PublishResponse)
    OPCUA_CATALOG(RepublishRequest)
    OPCUA_CATALOG(RepublishResponse)
#undef OPCUA_CATALOG
    return c;
  }();
  return catalog;
}

}  // namespace opcuatest
