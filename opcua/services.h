// The OPC UA service structures: every request and response this stack
// speaks, with the structures they carry. Each lists its fields once with
// OPCUA_FIELDS, in wire order; Encode and Decode (encoding.h) follow from
// that list. kBinaryEncodingId is the NodeId (namespace 0) that names the
// structure's binary encoding in a message body or an ExtensionObject.
//
// A service message body is that NodeId followed by the structure:
// EncodeMessage writes one, PeekMessageType reads which one a body holds and
// DecodeMessage reads it.
#pragma once

#include <cstdint>

#include "opcua/encoding.h"
#include "opcua/types.h"

namespace opcua {

// --- enumerations ------------------------------------------------------------
enum class MessageSecurityMode : int32_t { Invalid = 0, None = 1, Sign = 2, SignAndEncrypt = 3 };
enum class SecurityTokenRequestType : int32_t { Issue = 0, Renew = 1 };
enum class ApplicationType : int32_t { Server = 0, Client = 1, ClientAndServer = 2, DiscoveryServer = 3 };
enum class UserTokenType : int32_t { Anonymous = 0, UserName = 1, Certificate = 2, IssuedToken = 3 };
enum class BrowseDirection : int32_t { Forward = 0, Inverse = 1, Both = 2 };
enum class TimestampsToReturn : int32_t { Source = 0, Server = 1, Both = 2, Neither = 3 };
enum class MonitoringMode : int32_t { Disabled = 0, Sampling = 1, Reporting = 2 };
enum class DataChangeTrigger : int32_t { Status = 0, StatusValue = 1, StatusValueTimestamp = 2 };
enum class ServerState : int32_t { Running = 0, Failed = 1, NoConfiguration = 2, Suspended = 3, Shutdown = 4 };
enum class NodeClass : int32_t {
  Unspecified = 0,
  Object = 1,
  Variable = 2,
  Method = 4,
  ObjectType = 8,
  VariableType = 16,
  ReferenceType = 32,
  DataType = 64,
  View = 128,
};

// Attribute ids.
namespace attr {
constexpr uint32_t NodeId = 1, NodeClass = 2, BrowseName = 3, DisplayName = 4, Description = 5, WriteMask = 6,
                   UserWriteMask = 7, IsAbstract = 8, Symmetric = 9, InverseName = 10, ContainsNoLoops = 11,
                   EventNotifier = 12, Value = 13, DataType = 14, ValueRank = 15, ArrayDimensions = 16,
                   AccessLevel = 17, UserAccessLevel = 18, MinimumSamplingInterval = 19, Historizing = 20,
                   Executable = 21, UserExecutable = 22, DataTypeDefinition = 23, RolePermissions = 24,
                   UserRolePermissions = 25, AccessRestrictions = 26, AccessLevelEx = 27;
constexpr uint32_t kLast = AccessLevelEx;
}  // namespace attr

// BrowseDescription.resultMask bits.
namespace browsemask {
constexpr uint32_t ReferenceType = 1, IsForward = 2, NodeClass = 4, BrowseName = 8, DisplayName = 16,
                   TypeDefinition = 32, All = 63;
}

// --- headers ----------------------------------------------------------------------
struct RequestHeader {
  NodeId authenticationToken;
  DateTime timestamp;
  uint32_t requestHandle = 0;
  uint32_t returnDiagnostics = 0;
  String auditEntryId;
  uint32_t timeoutHint = 0;
  ExtensionObject additionalHeader;
  OPCUA_FIELDS(authenticationToken, timestamp, requestHandle, returnDiagnostics, auditEntryId, timeoutHint,
               additionalHeader)
};

struct ResponseHeader {
  DateTime timestamp;
  uint32_t requestHandle = 0;
  StatusCode serviceResult = status::Good;
  DiagnosticInfo serviceDiagnostics;
  Array<String> stringTable;
  ExtensionObject additionalHeader;
  OPCUA_FIELDS(timestamp, requestHandle, serviceResult, serviceDiagnostics, stringTable, additionalHeader)
};

struct ServiceFault {
  static constexpr uint32_t kBinaryEncodingId = 397;
  ResponseHeader responseHeader;
  OPCUA_FIELDS(responseHeader)
};

// --- secure channel -------------------------------------------------------------------
struct ChannelSecurityToken {
  uint32_t channelId = 0;
  uint32_t tokenId = 0;
  DateTime createdAt;
  uint32_t revisedLifetime = 0;  // milliseconds
  OPCUA_FIELDS(channelId, tokenId, createdAt, revisedLifetime)
};

struct OpenSecureChannelRequest {
  static constexpr uint32_t kBinaryEncodingId = 446;
  RequestHeader requestHeader;
  uint32_t clientProtocolVersion = 0;
  SecurityTokenRequestType requestType = SecurityTokenRequestType::Issue;
  MessageSecurityMode securityMode = MessageSecurityMode::None;
  ByteString clientNonce;
  uint32_t requestedLifetime = 0;
  OPCUA_FIELDS(requestHeader, clientProtocolVersion, requestType, securityMode, clientNonce, requestedLifetime)
};

struct OpenSecureChannelResponse {
  static constexpr uint32_t kBinaryEncodingId = 449;
  ResponseHeader responseHeader;
  uint32_t serverProtocolVersion = 0;
  ChannelSecurityToken securityToken;
  ByteString serverNonce;
  OPCUA_FIELDS(responseHeader, serverProtocolVersion, securityToken, serverNonce)
};

struct CloseSecureChannelRequest {
  static constexpr uint32_t kBinaryEncodingId = 452;
  RequestHeader requestHeader;
  OPCUA_FIELDS(requestHeader)
};

struct CloseSecureChannelResponse {
  static constexpr uint32_t kBinaryEncodingId = 455;
  ResponseHeader responseHeader;
  OPCUA_FIELDS(responseHeader)
};

// --- discovery -------------------------------------------------------------------------
struct ApplicationDescription {
  String applicationUri;
  String productUri;
  LocalizedText applicationName;
  ApplicationType applicationType = ApplicationType::Server;
  String gatewayServerUri;
  String discoveryProfileUri;
  Array<String> discoveryUrls;
  OPCUA_FIELDS(applicationUri, productUri, applicationName, applicationType, gatewayServerUri,
               discoveryProfileUri, discoveryUrls)
};

struct UserTokenPolicy {
  String policyId;
  UserTokenType tokenType = UserTokenType::Anonymous;
  String issuedTokenType;
  String issuerEndpointUrl;
  String securityPolicyUri;
  OPCUA_FIELDS(policyId, tokenType, issuedTokenType, issuerEndpointUrl, securityPolicyUri)
};

struct EndpointDescription {
  String endpointUrl;
  ApplicationDescription server;
  ByteString serverCertificate;
  MessageSecurityMode securityMode = MessageSecurityMode::None;
  String securityPolicyUri;
  Array<UserTokenPolicy> userIdentityTokens;
  String transportProfileUri;
  uint8_t securityLevel = 0;
  OPCUA_FIELDS(endpointUrl, server, serverCertificate, securityMode, securityPolicyUri, userIdentityTokens,
               transportProfileUri, securityLevel)
};

struct GetEndpointsRequest {
  static constexpr uint32_t kBinaryEncodingId = 428;
  RequestHeader requestHeader;
  String endpointUrl;
  Array<String> localeIds;
  Array<String> profileUris;
  OPCUA_FIELDS(requestHeader, endpointUrl, localeIds, profileUris)
};

struct GetEndpointsResponse {
  static constexpr uint32_t kBinaryEncodingId = 431;
  ResponseHeader responseHeader;
  Array<EndpointDescription> endpoints;
  OPCUA_FIELDS(responseHeader, endpoints)
};

struct FindServersRequest {
  static constexpr uint32_t kBinaryEncodingId = 422;
  RequestHeader requestHeader;
  String endpointUrl;
  Array<String> localeIds;
  Array<String> serverUris;
  OPCUA_FIELDS(requestHeader, endpointUrl, localeIds, serverUris)
};

struct FindServersResponse {
  static constexpr uint32_t kBinaryEncodingId = 425;
  ResponseHeader responseHeader;
  Array<ApplicationDescription> servers;
  OPCUA_FIELDS(responseHeader, servers)
};

// --- sessions ---------------------------------------------------------------------------
struct SignatureData {
  String algorithm;
  ByteString signature;
  OPCUA_FIELDS(algorithm, signature)
};

struct SignedSoftwareCertificate {
  ByteString certificateData;
  ByteString signature;
  OPCUA_FIELDS(certificateData, signature)
};

struct CreateSessionRequest {
  static constexpr uint32_t kBinaryEncodingId = 461;
  RequestHeader requestHeader;
  ApplicationDescription clientDescription;
  String serverUri;
  String endpointUrl;
  String sessionName;
  ByteString clientNonce;
  ByteString clientCertificate;
  double requestedSessionTimeout = 0;  // milliseconds
  uint32_t maxResponseMessageSize = 0;
  OPCUA_FIELDS(requestHeader, clientDescription, serverUri, endpointUrl, sessionName, clientNonce,
               clientCertificate, requestedSessionTimeout, maxResponseMessageSize)
};

struct CreateSessionResponse {
  static constexpr uint32_t kBinaryEncodingId = 464;
  ResponseHeader responseHeader;
  NodeId sessionId;
  NodeId authenticationToken;
  double revisedSessionTimeout = 0;
  ByteString serverNonce;
  ByteString serverCertificate;
  Array<EndpointDescription> serverEndpoints;
  Array<SignedSoftwareCertificate> serverSoftwareCertificates;
  SignatureData serverSignature;
  uint32_t maxRequestMessageSize = 0;
  OPCUA_FIELDS(responseHeader, sessionId, authenticationToken, revisedSessionTimeout, serverNonce,
               serverCertificate, serverEndpoints, serverSoftwareCertificates, serverSignature,
               maxRequestMessageSize)
};

struct AnonymousIdentityToken {
  static constexpr uint32_t kBinaryEncodingId = 321;
  String policyId;
  OPCUA_FIELDS(policyId)
};

struct UserNameIdentityToken {
  static constexpr uint32_t kBinaryEncodingId = 324;
  String policyId;
  String userName;
  ByteString password;
  String encryptionAlgorithm;
  OPCUA_FIELDS(policyId, userName, password, encryptionAlgorithm)
};

struct ActivateSessionRequest {
  static constexpr uint32_t kBinaryEncodingId = 467;
  RequestHeader requestHeader;
  SignatureData clientSignature;
  Array<SignedSoftwareCertificate> clientSoftwareCertificates;
  Array<String> localeIds;
  ExtensionObject userIdentityToken;
  SignatureData userTokenSignature;
  OPCUA_FIELDS(requestHeader, clientSignature, clientSoftwareCertificates, localeIds, userIdentityToken,
               userTokenSignature)
};

struct ActivateSessionResponse {
  static constexpr uint32_t kBinaryEncodingId = 470;
  ResponseHeader responseHeader;
  ByteString serverNonce;
  Array<StatusCode> results;
  Array<DiagnosticInfo> diagnosticInfos;
  OPCUA_FIELDS(responseHeader, serverNonce, results, diagnosticInfos)
};

struct CloseSessionRequest {
  static constexpr uint32_t kBinaryEncodingId = 473;
  RequestHeader requestHeader;
  bool deleteSubscriptions = true;
  OPCUA_FIELDS(requestHeader, deleteSubscriptions)
};

struct CloseSessionResponse {
  static constexpr uint32_t kBinaryEncodingId = 476;
  ResponseHeader responseHeader;
  OPCUA_FIELDS(responseHeader)
};

// --- browsing ---------------------------------------------------------------------------
struct ViewDescription {
  NodeId viewId;
  DateTime timestamp;
  uint32_t viewVersion = 0;
  OPCUA_FIELDS(viewId, timestamp, viewVersion)
};

struct BrowseDescription {
  NodeId nodeId;
  BrowseDirection browseDirection = BrowseDirection::Forward;
  NodeId referenceTypeId;
  bool includeSubtypes = true;
  uint32_t nodeClassMask = 0;
  uint32_t resultMask = browsemask::All;
  OPCUA_FIELDS(nodeId, browseDirection, referenceTypeId, includeSubtypes, nodeClassMask, resultMask)
};

struct ReferenceDescription {
  NodeId referenceTypeId;
  bool isForward = true;
  ExpandedNodeId nodeId;
  QualifiedName browseName;
  LocalizedText displayName;
  NodeClass nodeClass = NodeClass::Unspecified;
  ExpandedNodeId typeDefinition;
  OPCUA_FIELDS(referenceTypeId, isForward, nodeId, browseName, displayName, nodeClass, typeDefinition)
};

struct BrowseResult {
  StatusCode statusCode = status::Good;
  ByteString continuationPoint;
  Array<ReferenceDescription> references;
  OPCUA_FIELDS(statusCode, continuationPoint, references)
};

struct BrowseRequest {
  static constexpr uint32_t kBinaryEncodingId = 527;
  RequestHeader requestHeader;
  ViewDescription view;
  uint32_t requestedMaxReferencesPerNode = 0;
  Array<BrowseDescription> nodesToBrowse;
  OPCUA_FIELDS(requestHeader, view, requestedMaxReferencesPerNode, nodesToBrowse)
};

struct BrowseResponse {
  static constexpr uint32_t kBinaryEncodingId = 530;
  ResponseHeader responseHeader;
  Array<BrowseResult> results;
  Array<DiagnosticInfo> diagnosticInfos;
  OPCUA_FIELDS(responseHeader, results, diagnosticInfos)
};

struct BrowseNextRequest {
  static constexpr uint32_t kBinaryEncodingId = 533;
  RequestHeader requestHeader;
  bool releaseContinuationPoints = false;
  Array<ByteString> continuationPoints;
  OPCUA_FIELDS(requestHeader, releaseContinuationPoints, continuationPoints)
};

struct BrowseNextResponse {
  static constexpr uint32_t kBinaryEncodingId = 536;
  ResponseHeader responseHeader;
  Array<BrowseResult> results;
  Array<DiagnosticInfo> diagnosticInfos;
  OPCUA_FIELDS(responseHeader, results, diagnosticInfos)
};

struct RelativePathElement {
  NodeId referenceTypeId;
  bool isInverse = false;
  bool includeSubtypes = true;
  QualifiedName targetName;
  OPCUA_FIELDS(referenceTypeId, isInverse, includeSubtypes, targetName)
};

struct RelativePath {
  Array<RelativePathElement> elements;
  OPCUA_FIELDS(elements)
};

struct BrowsePath {
  NodeId startingNode;
  RelativePath relativePath;
  OPCUA_FIELDS(startingNode, relativePath)
};

struct BrowsePathTarget {
  ExpandedNodeId targetId;
  uint32_t remainingPathIndex = 0xFFFFFFFFu;
  OPCUA_FIELDS(targetId, remainingPathIndex)
};

struct BrowsePathResult {
  StatusCode statusCode = status::Good;
  Array<BrowsePathTarget> targets;
  OPCUA_FIELDS(statusCode, targets)
};

struct TranslateBrowsePathsToNodeIdsRequest {
  static constexpr uint32_t kBinaryEncodingId = 554;
  RequestHeader requestHeader;
  Array<BrowsePath> browsePaths;
  OPCUA_FIELDS(requestHeader, browsePaths)
};

struct TranslateBrowsePathsToNodeIdsResponse {
  static constexpr uint32_t kBinaryEncodingId = 557;
  ResponseHeader responseHeader;
  Array<BrowsePathResult> results;
  Array<DiagnosticInfo> diagnosticInfos;
  OPCUA_FIELDS(responseHeader, results, diagnosticInfos)
};

struct RegisterNodesRequest {
  static constexpr uint32_t kBinaryEncodingId = 560;
  RequestHeader requestHeader;
  Array<NodeId> nodesToRegister;
  OPCUA_FIELDS(requestHeader, nodesToRegister)
};

struct RegisterNodesResponse {
  static constexpr uint32_t kBinaryEncodingId = 563;
  ResponseHeader responseHeader;
  Array<NodeId> registeredNodeIds;
  OPCUA_FIELDS(responseHeader, registeredNodeIds)
};

struct UnregisterNodesRequest {
  static constexpr uint32_t kBinaryEncodingId = 566;
  RequestHeader requestHeader;
  Array<NodeId> nodesToUnregister;
  OPCUA_FIELDS(requestHeader, nodesToUnregister)
};

struct UnregisterNodesResponse {
  static constexpr uint32_t kBinaryEncodingId = 569;
  ResponseHeader responseHeader;
  OPCUA_FIELDS(responseHeader)
};

// --- attributes -------------------------------------------------------------------------
struct ReadValueId {
  NodeId nodeId;
  uint32_t attributeId = attr::Value;
  String indexRange;
  QualifiedName dataEncoding;
  OPCUA_FIELDS(nodeId, attributeId, indexRange, dataEncoding)
};

struct ReadRequest {
  static constexpr uint32_t kBinaryEncodingId = 631;
  RequestHeader requestHeader;
  double maxAge = 0;
  TimestampsToReturn timestampsToReturn = TimestampsToReturn::Both;
  Array<ReadValueId> nodesToRead;
  OPCUA_FIELDS(requestHeader, maxAge, timestampsToReturn, nodesToRead)
};

struct ReadResponse {
  static constexpr uint32_t kBinaryEncodingId = 634;
  ResponseHeader responseHeader;
  Array<DataValue> results;
  Array<DiagnosticInfo> diagnosticInfos;
  OPCUA_FIELDS(responseHeader, results, diagnosticInfos)
};

struct WriteValue {
  NodeId nodeId;
  uint32_t attributeId = attr::Value;
  String indexRange;
  DataValue value;
  OPCUA_FIELDS(nodeId, attributeId, indexRange, value)
};

struct WriteRequest {
  static constexpr uint32_t kBinaryEncodingId = 673;
  RequestHeader requestHeader;
  Array<WriteValue> nodesToWrite;
  OPCUA_FIELDS(requestHeader, nodesToWrite)
};

struct WriteResponse {
  static constexpr uint32_t kBinaryEncodingId = 676;
  ResponseHeader responseHeader;
  Array<StatusCode> results;
  Array<DiagnosticInfo> diagnosticInfos;
  OPCUA_FIELDS(responseHeader, results, diagnosticInfos)
};

// --- subscriptions ---------------------------------------------------------------------
struct CreateSubscriptionRequest {
  static constexpr uint32_t kBinaryEncodingId = 787;
  RequestHeader requestHeader;
  double requestedPublishingInterval = 0;
  uint32_t requestedLifetimeCount = 0;
  uint32_t requestedMaxKeepAliveCount = 0;
  uint32_t maxNotificationsPerPublish = 0;
  bool publishingEnabled = true;
  uint8_t priority = 0;
  OPCUA_FIELDS(requestHeader, requestedPublishingInterval, requestedLifetimeCount, requestedMaxKeepAliveCount,
               maxNotificationsPerPublish, publishingEnabled, priority)
};

struct CreateSubscriptionResponse {
  static constexpr uint32_t kBinaryEncodingId = 790;
  ResponseHeader responseHeader;
  uint32_t subscriptionId = 0;
  double revisedPublishingInterval = 0;
  uint32_t revisedLifetimeCount = 0;
  uint32_t revisedMaxKeepAliveCount = 0;
  OPCUA_FIELDS(responseHeader, subscriptionId, revisedPublishingInterval, revisedLifetimeCount,
               revisedMaxKeepAliveCount)
};

struct ModifySubscriptionRequest {
  static constexpr uint32_t kBinaryEncodingId = 793;
  RequestHeader requestHeader;
  uint32_t subscriptionId = 0;
  double requestedPublishingInterval = 0;
  uint32_t requestedLifetimeCount = 0;
  uint32_t requestedMaxKeepAliveCount = 0;
  uint32_t maxNotificationsPerPublish = 0;
  uint8_t priority = 0;
  OPCUA_FIELDS(requestHeader, subscriptionId, requestedPublishingInterval, requestedLifetimeCount,
               requestedMaxKeepAliveCount, maxNotificationsPerPublish, priority)
};

struct ModifySubscriptionResponse {
  static constexpr uint32_t kBinaryEncodingId = 796;
  ResponseHeader responseHeader;
  double revisedPublishingInterval = 0;
  uint32_t revisedLifetimeCount = 0;
  uint32_t revisedMaxKeepAliveCount = 0;
  OPCUA_FIELDS(responseHeader, revisedPublishingInterval, revisedLifetimeCount, revisedMaxKeepAliveCount)
};

struct SetPublishingModeRequest {
  static constexpr uint32_t kBinaryEncodingId = 799;
  RequestHeader requestHeader;
  bool publishingEnabled = true;
  Array<uint32_t> subscriptionIds;
  OPCUA_FIELDS(requestHeader, publishingEnabled, subscriptionIds)
};

struct SetPublishingModeResponse {
  static constexpr uint32_t kBinaryEncodingId = 802;
  ResponseHeader responseHeader;
  Array<StatusCode> results;
  Array<DiagnosticInfo> diagnosticInfos;
  OPCUA_FIELDS(responseHeader, results, diagnosticInfos)
};

struct DeleteSubscriptionsRequest {
  static constexpr uint32_t kBinaryEncodingId = 847;
  RequestHeader requestHeader;
  Array<uint32_t> subscriptionIds;
  OPCUA_FIELDS(requestHeader, subscriptionIds)
};

struct DeleteSubscriptionsResponse {
  static constexpr uint32_t kBinaryEncodingId = 850;
  ResponseHeader responseHeader;
  Array<StatusCode> results;
  Array<DiagnosticInfo> diagnosticInfos;
  OPCUA_FIELDS(responseHeader, results, diagnosticInfos)
};

struct DataChangeFilter {
  static constexpr uint32_t kBinaryEncodingId = 724;
  DataChangeTrigger trigger = DataChangeTrigger::StatusValue;
  uint32_t deadbandType = 0;  // 0 none, 1 absolute, 2 percent
  double deadbandValue = 0;
  OPCUA_FIELDS(trigger, deadbandType, deadbandValue)
};

struct MonitoringParameters {
  uint32_t clientHandle = 0;
  double samplingInterval = 0;
  ExtensionObject filter;
  uint32_t queueSize = 1;
  bool discardOldest = true;
  OPCUA_FIELDS(clientHandle, samplingInterval, filter, queueSize, discardOldest)
};

struct MonitoredItemCreateRequest {
  ReadValueId itemToMonitor;
  MonitoringMode monitoringMode = MonitoringMode::Reporting;
  MonitoringParameters requestedParameters;
  OPCUA_FIELDS(itemToMonitor, monitoringMode, requestedParameters)
};

struct MonitoredItemCreateResult {
  StatusCode statusCode = status::Good;
  uint32_t monitoredItemId = 0;
  double revisedSamplingInterval = 0;
  uint32_t revisedQueueSize = 0;
  ExtensionObject filterResult;
  OPCUA_FIELDS(statusCode, monitoredItemId, revisedSamplingInterval, revisedQueueSize, filterResult)
};

struct CreateMonitoredItemsRequest {
  static constexpr uint32_t kBinaryEncodingId = 751;
  RequestHeader requestHeader;
  uint32_t subscriptionId = 0;
  TimestampsToReturn timestampsToReturn = TimestampsToReturn::Both;
  Array<MonitoredItemCreateRequest> itemsToCreate;
  OPCUA_FIELDS(requestHeader, subscriptionId, timestampsToReturn, itemsToCreate)
};

struct CreateMonitoredItemsResponse {
  static constexpr uint32_t kBinaryEncodingId = 754;
  ResponseHeader responseHeader;
  Array<MonitoredItemCreateResult> results;
  Array<DiagnosticInfo> diagnosticInfos;
  OPCUA_FIELDS(responseHeader, results, diagnosticInfos)
};

struct MonitoredItemModifyRequest {
  uint32_t monitoredItemId = 0;
  MonitoringParameters requestedParameters;
  OPCUA_FIELDS(monitoredItemId, requestedParameters)
};

struct MonitoredItemModifyResult {
  StatusCode statusCode = status::Good;
  double revisedSamplingInterval = 0;
  uint32_t revisedQueueSize = 0;
  ExtensionObject filterResult;
  OPCUA_FIELDS(statusCode, revisedSamplingInterval, revisedQueueSize, filterResult)
};

struct ModifyMonitoredItemsRequest {
  static constexpr uint32_t kBinaryEncodingId = 763;
  RequestHeader requestHeader;
  uint32_t subscriptionId = 0;
  TimestampsToReturn timestampsToReturn = TimestampsToReturn::Both;
  Array<MonitoredItemModifyRequest> itemsToModify;
  OPCUA_FIELDS(requestHeader, subscriptionId, timestampsToReturn, itemsToModify)
};

struct ModifyMonitoredItemsResponse {
  static constexpr uint32_t kBinaryEncodingId = 766;
  ResponseHeader responseHeader;
  Array<MonitoredItemModifyResult> results;
  Array<DiagnosticInfo> diagnosticInfos;
  OPCUA_FIELDS(responseHeader, results, diagnosticInfos)
};

struct SetMonitoringModeRequest {
  static constexpr uint32_t kBinaryEncodingId = 769;
  RequestHeader requestHeader;
  uint32_t subscriptionId = 0;
  MonitoringMode monitoringMode = MonitoringMode::Reporting;
  Array<uint32_t> monitoredItemIds;
  OPCUA_FIELDS(requestHeader, subscriptionId, monitoringMode, monitoredItemIds)
};

struct SetMonitoringModeResponse {
  static constexpr uint32_t kBinaryEncodingId = 772;
  ResponseHeader responseHeader;
  Array<StatusCode> results;
  Array<DiagnosticInfo> diagnosticInfos;
  OPCUA_FIELDS(responseHeader, results, diagnosticInfos)
};

struct DeleteMonitoredItemsRequest {
  static constexpr uint32_t kBinaryEncodingId = 781;
  RequestHeader requestHeader;
  uint32_t subscriptionId = 0;
  Array<uint32_t> monitoredItemIds;
  OPCUA_FIELDS(requestHeader, subscriptionId, monitoredItemIds)
};

struct DeleteMonitoredItemsResponse {
  static constexpr uint32_t kBinaryEncodingId = 784;
  ResponseHeader responseHeader;
  Array<StatusCode> results;
  Array<DiagnosticInfo> diagnosticInfos;
  OPCUA_FIELDS(responseHeader, results, diagnosticInfos)
};

struct SubscriptionAcknowledgement {
  uint32_t subscriptionId = 0;
  uint32_t sequenceNumber = 0;
  OPCUA_FIELDS(subscriptionId, sequenceNumber)
};

struct MonitoredItemNotification {
  uint32_t clientHandle = 0;
  DataValue value;
  OPCUA_FIELDS(clientHandle, value)
};

struct DataChangeNotification {
  static constexpr uint32_t kBinaryEncodingId = 811;
  Array<MonitoredItemNotification> monitoredItems;
  Array<DiagnosticInfo> diagnosticInfos;
  OPCUA_FIELDS(monitoredItems, diagnosticInfos)
};

struct StatusChangeNotification {
  static constexpr uint32_t kBinaryEncodingId = 820;
  StatusCode status = status::Good;
  DiagnosticInfo diagnosticInfo;
  OPCUA_FIELDS(status, diagnosticInfo)
};

struct NotificationMessage {
  uint32_t sequenceNumber = 0;
  DateTime publishTime;
  Array<ExtensionObject> notificationData;
  OPCUA_FIELDS(sequenceNumber, publishTime, notificationData)
};

struct PublishRequest {
  static constexpr uint32_t kBinaryEncodingId = 826;
  RequestHeader requestHeader;
  Array<SubscriptionAcknowledgement> subscriptionAcknowledgements;
  OPCUA_FIELDS(requestHeader, subscriptionAcknowledgements)
};

struct PublishResponse {
  static constexpr uint32_t kBinaryEncodingId = 829;
  ResponseHeader responseHeader;
  uint32_t subscriptionId = 0;
  Array<uint32_t> availableSequenceNumbers;
  bool moreNotifications = false;
  NotificationMessage notificationMessage;
  Array<StatusCode> results;
  Array<DiagnosticInfo> diagnosticInfos;
  OPCUA_FIELDS(responseHeader, subscriptionId, availableSequenceNumbers, moreNotifications, notificationMessage,
               results, diagnosticInfos)
};

struct RepublishRequest {
  static constexpr uint32_t kBinaryEncodingId = 832;
  RequestHeader requestHeader;
  uint32_t subscriptionId = 0;
  uint32_t retransmitSequenceNumber = 0;
  OPCUA_FIELDS(requestHeader, subscriptionId, retransmitSequenceNumber)
};

struct RepublishResponse {
  static constexpr uint32_t kBinaryEncodingId = 835;
  ResponseHeader responseHeader;
  NotificationMessage notificationMessage;
  OPCUA_FIELDS(responseHeader, notificationMessage)
};

// --- values the server's own nodes hold -------------------------------------------------
struct BuildInfo {
  static constexpr uint32_t kBinaryEncodingId = 340;
  String productUri;
  String manufacturerName;
  String productName;
  String softwareVersion;
  String buildNumber;
  DateTime buildDate;
  OPCUA_FIELDS(productUri, manufacturerName, productName, softwareVersion, buildNumber, buildDate)
};

struct ServerStatusDataType {
  static constexpr uint32_t kBinaryEncodingId = 864;
  DateTime startTime;
  DateTime currentTime;
  ServerState state = ServerState::Running;
  BuildInfo buildInfo;
  uint32_t secondsTillShutdown = 0;
  LocalizedText shutdownReason;
  OPCUA_FIELDS(startTime, currentTime, state, buildInfo, secondsTillShutdown, shutdownReason)
};

// --- message bodies -----------------------------------------------------------------------
template <class T>
std::vector<uint8_t> EncodeMessage(const T& message) {
  Encoder e;
  Encode(e, NodeId(0, T::kBinaryEncodingId));
  Encode(e, message);
  return e.Take();
}

// The binary encoding id a body starts with; 0 when it does not start with a
// namespace-0 numeric NodeId.
uint32_t PeekMessageType(const uint8_t* data, size_t size);
inline uint32_t PeekMessageType(const std::vector<uint8_t>& body) {
  return PeekMessageType(body.data(), body.size());
}

// Decodes a whole body holding a T (type id included).
template <class T>
StatusCode DecodeMessage(const uint8_t* data, size_t size, T& message,
                         const DecodeLimits& limits = DecodeLimits()) {
  Decoder d(data, size, limits);
  NodeId type;
  if (!Decode(d, type)) return d.status();
  if (!type.Is(0, T::kBinaryEncodingId)) return status::BadDataTypeIdUnknown;
  if (!Decode(d, message)) return d.ok() ? status::BadDecodingError : d.status();
  if (d.remaining() != 0) return status::BadDecodingError;
  return status::Good;
}
template <class T>
StatusCode DecodeMessage(const std::vector<uint8_t>& body, T& message,
                         const DecodeLimits& limits = DecodeLimits()) {
  return DecodeMessage(body.data(), body.size(), message, limits);
}

// The request handle of any request body (the RequestHeader follows the type
// id in every request), so that a server can answer even a request it cannot
// decode with a ServiceFault the client can match. False if unreadable.
bool PeekRequestHandle(const uint8_t* data, size_t size, uint32_t& requestHandle);

// A ServiceFault body answering `requestHandle` with `result`.
std::vector<uint8_t> EncodeServiceFault(uint32_t requestHandle, StatusCode result);

}  // namespace opcua
