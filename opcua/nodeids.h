// Well-known numeric node ids of namespace 0 that the server and client use.
#pragma once

#include <cstdint>

namespace opcua::id {
// data types
constexpr uint32_t Boolean = 1, SByte = 2, Byte = 3, Int16 = 4, UInt16 = 5, Int32 = 6, UInt32 = 7, Int64 = 8,
                   UInt64 = 9, Float = 10, Double = 11, String = 12, DateTime = 13, Guid = 14, ByteString = 15,
                   XmlElement = 16, NodeId = 17, ExpandedNodeId = 18, StatusCode = 19, QualifiedName = 20,
                   LocalizedText = 21, Structure = 22, DataValue = 23, BaseDataType = 24, DiagnosticInfo = 25,
                   Number = 26, Integer = 27, UInteger = 28, Enumeration = 29, Duration = 290, UtcTime = 294,
                   LocaleId = 295, ServerStatusDataType = 862, BuildInfo = 338, ServerState = 852;
// reference types
constexpr uint32_t References = 31, NonHierarchicalReferences = 32, HierarchicalReferences = 33, HasChild = 34,
                   Organizes = 35, HasEventSource = 36, HasModellingRule = 37, HasEncoding = 38,
                   HasDescription = 39, HasTypeDefinition = 40, GeneratesEvent = 41, Aggregates = 44,
                   HasSubtype = 45, HasProperty = 46, HasComponent = 47, HasNotifier = 48,
                   HasOrderedComponent = 49;
// object and variable types
constexpr uint32_t BaseObjectType = 58, FolderType = 61, BaseVariableType = 62, BaseDataVariableType = 63,
                   PropertyType = 68, ServerType = 2004, ServerCapabilitiesType = 2013,
                   ServerStatusType = 2138, BuildInfoType = 3051, OperationLimitsType = 11564;
// folders and the server object
constexpr uint32_t RootFolder = 84, ObjectsFolder = 85, TypesFolder = 86, ViewsFolder = 87,
                   ObjectTypesFolder = 88, VariableTypesFolder = 89, DataTypesFolder = 90,
                   ReferenceTypesFolder = 91, Server = 2253, Server_ServerArray = 2254,
                   Server_NamespaceArray = 2255, Server_ServerStatus = 2256, Server_ServerStatus_StartTime = 2257,
                   Server_ServerStatus_CurrentTime = 2258, Server_ServerStatus_State = 2259,
                   Server_ServerStatus_BuildInfo = 2260, Server_ServerStatus_BuildInfo_ProductName = 2261,
                   Server_ServerStatus_BuildInfo_ProductUri = 2262,
                   Server_ServerStatus_BuildInfo_ManufacturerName = 2263,
                   Server_ServerStatus_BuildInfo_SoftwareVersion = 2264,
                   Server_ServerStatus_BuildInfo_BuildNumber = 2265, Server_ServerStatus_BuildInfo_BuildDate = 2266,
                   Server_ServiceLevel = 2267, Server_ServerCapabilities = 2268,
                   Server_ServerCapabilities_ServerProfileArray = 2269,
                   Server_ServerCapabilities_LocaleIdArray = 2271,
                   Server_ServerCapabilities_MinSupportedSampleRate = 2272,
                   Server_ServerCapabilities_MaxBrowseContinuationPoints = 2735,
                   Server_ServerStatus_SecondsTillShutdown = 2992, Server_ServerStatus_ShutdownReason = 2993,
                   Server_ServerCapabilities_MaxArrayLength = 11702,
                   Server_ServerCapabilities_MaxStringLength = 11703,
                   Server_ServerCapabilities_OperationLimits = 11704,
                   OperationLimits_MaxNodesPerRead = 11705, OperationLimits_MaxNodesPerWrite = 11707,
                   OperationLimits_MaxNodesPerBrowse = 11710, OperationLimits_MaxNodesPerRegisterNodes = 11711,
                   OperationLimits_MaxNodesPerTranslateBrowsePathsToNodeIds = 11712,
                   OperationLimits_MaxMonitoredItemsPerCall = 11714;
}  // namespace opcua::id
