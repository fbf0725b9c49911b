#include "serverkit/UaAddressSpace.h"

#include "opcua/nodeids.h"

namespace serverkit::ua {

using namespace opcua;
using B = BuiltinType;

Node& AddressSpace::Add(NodeId id, NodeClass nodeClass, const char* name, uint16_t ns) {
  auto node = std::make_unique<Node>();
  node->id = id;
  node->nodeClass = nodeClass;
  node->browseName = QualifiedName{ns, String(name)};
  node->displayName = LocalizedText(String(name));
  Node& ref = *node;
  m_nodes[id] = std::move(node);
  return ref;
}

void AddressSpace::Link(const NodeId& from, uint32_t type, const NodeId& to) {
  m_nodes.at(from)->refs.push_back({type, true, to});
  m_nodes.at(to)->refs.push_back({type, false, from});
  if (type == id::HasSubtype && from.namespaceIndex == 0 && to.namespaceIndex == 0) m_supertype[to.numeric] = from.numeric;
  if (type == id::HasTypeDefinition) m_nodes.at(from)->typeDefinition = to;
}

Node& AddressSpace::Variable(uint32_t nid, const char* name, uint32_t parent, uint32_t referenceType,
                             uint32_t dataType, Variant value, uint32_t typeDefinition) {
  Node& n = Add(NodeId(0, nid), NodeClass::Variable, name);
  n.dataType = dataType;
  n.value = std::move(value);
  n.valueRank = n.value.IsArray() ? 1 : -1;
  Link(NodeId(0, parent), referenceType, n.id);
  Link(n.id, id::HasTypeDefinition, NodeId(0, typeDefinition));
  return n;
}

bool AddressSpace::IsSubtypeOf(uint32_t type, uint32_t base) const {
  for (int guard = 0; guard < 32; ++guard) {
    if (type == base) return true;
    auto it = m_supertype.find(type);
    if (it == m_supertype.end()) return false;
    type = it->second;
  }
  return false;
}

const Node* AddressSpace::Find(const NodeId& nid) const {
  auto it = m_nodes.find(nid);
  return it == m_nodes.end() ? nullptr : it->second.get();
}

Reference AddressSpace::TagReference(const std::string& name) { return {id::Organizes, true, NodeId::Text(1, name)}; }

AddressSpace::AddressSpace(const ServerIdentity& who) {
  // --- type nodes first, so that other nodes can point at them ---------------
  struct TypeEntry {
    uint32_t id;
    const char* name;
    uint32_t super;
    bool isAbstract;
  };
  const TypeEntry referenceTypes[] = {
      {id::References, "References", 0, true},
      {id::HierarchicalReferences, "HierarchicalReferences", id::References, true},
      {id::NonHierarchicalReferences, "NonHierarchicalReferences", id::References, true},
      {id::HasChild, "HasChild", id::HierarchicalReferences, true},
      {id::Organizes, "Organizes", id::HierarchicalReferences, false},
      {id::HasEventSource, "HasEventSource", id::HierarchicalReferences, false},
      {id::HasNotifier, "HasNotifier", id::HasEventSource, false},
      {id::Aggregates, "Aggregates", id::HasChild, true},
      {id::HasSubtype, "HasSubtype", id::HasChild, false},
      {id::HasComponent, "HasComponent", id::Aggregates, false},
      {id::HasProperty, "HasProperty", id::Aggregates, false},
      {id::HasOrderedComponent, "HasOrderedComponent", id::HasComponent, false},
      {id::HasTypeDefinition, "HasTypeDefinition", id::NonHierarchicalReferences, false},
      {id::HasModellingRule, "HasModellingRule", id::NonHierarchicalReferences, false},
      {id::HasEncoding, "HasEncoding", id::NonHierarchicalReferences, false},
      {id::HasDescription, "HasDescription", id::NonHierarchicalReferences, false},
      {id::GeneratesEvent, "GeneratesEvent", id::NonHierarchicalReferences, false},
  };
  const char* inverseNames[][2] = {{"Organizes", "OrganizedBy"}, {"HasEventSource", "EventSourceOf"},
                                   {"HasNotifier", "NotifierOf"}, {"HasChild", "ChildOf"},
                                   {"Aggregates", "AggregatedBy"}, {"HasSubtype", "SubtypeOf"},
                                   {"HasComponent", "ComponentOf"}, {"HasProperty", "PropertyOf"},
                                   {"HasOrderedComponent", "OrderedComponentOf"},
                                   {"HasTypeDefinition", "TypeDefinitionOf"}, {"HasModellingRule", "ModellingRuleOf"},
                                   {"HasEncoding", "EncodingOf"}, {"HasDescription", "DescriptionOf"},
                                   {"GeneratesEvent", "GeneratedBy"}, {"HierarchicalReferences", "InverseHierarchicalReferences"}};
  for (const auto& t : referenceTypes) {
    Node& n = Add(NodeId(0, t.id), NodeClass::ReferenceType, t.name);
    n.isAbstract = t.isAbstract;
    n.symmetric = t.id == id::References || t.id == id::NonHierarchicalReferences;
    for (const auto& pair : inverseNames)
      if (std::string(pair[0]) == t.name) n.inverseName = LocalizedText(String(pair[1]));
  }
  for (const auto& t : referenceTypes)
    if (t.super != 0) Link(NodeId(0, t.super), id::HasSubtype, NodeId(0, t.id));

  const TypeEntry dataTypes[] = {
      {id::BaseDataType, "BaseDataType", 0, true},
      {id::Boolean, "Boolean", id::BaseDataType, false},
      {id::Number, "Number", id::BaseDataType, true},
      {id::Integer, "Integer", id::Number, true},
      {id::UInteger, "UInteger", id::Number, true},
      {id::SByte, "SByte", id::Integer, false},
      {id::Int16, "Int16", id::Integer, false},
      {id::Int32, "Int32", id::Integer, false},
      {id::Int64, "Int64", id::Integer, false},
      {id::Byte, "Byte", id::UInteger, false},
      {id::UInt16, "UInt16", id::UInteger, false},
      {id::UInt32, "UInt32", id::UInteger, false},
      {id::UInt64, "UInt64", id::UInteger, false},
      {id::Float, "Float", id::Number, false},
      {id::Double, "Double", id::Number, false},
      {id::Duration, "Duration", id::Double, false},
      {id::String, "String", id::BaseDataType, false},
      {id::LocaleId, "LocaleId", id::String, false},
      {id::DateTime, "DateTime", id::BaseDataType, false},
      {id::UtcTime, "UtcTime", id::DateTime, false},
      {id::Guid, "Guid", id::BaseDataType, false},
      {id::ByteString, "ByteString", id::BaseDataType, false},
      {id::XmlElement, "XmlElement", id::BaseDataType, false},
      {id::NodeId, "NodeId", id::BaseDataType, false},
      {id::ExpandedNodeId, "ExpandedNodeId", id::BaseDataType, false},
      {id::StatusCode, "StatusCode", id::BaseDataType, false},
      {id::QualifiedName, "QualifiedName", id::BaseDataType, false},
      {id::LocalizedText, "LocalizedText", id::BaseDataType, false},
      {id::Structure, "Structure", id::BaseDataType, true},
      {id::DataValue, "DataValue", id::BaseDataType, false},
      {id::DiagnosticInfo, "DiagnosticInfo", id::BaseDataType, false},
      {id::Enumeration, "Enumeration", id::BaseDataType, true},
      {id::ServerState, "ServerState", id::Enumeration, false},
      {id::BuildInfo, "BuildInfo", id::Structure, false},
      {id::ServerStatusDataType, "ServerStatusDataType", id::Structure, false},
  };
  for (const auto& t : dataTypes) Add(NodeId(0, t.id), NodeClass::DataType, t.name).isAbstract = t.isAbstract;
  for (const auto& t : dataTypes)
    if (t.super != 0) Link(NodeId(0, t.super), id::HasSubtype, NodeId(0, t.id));

  const TypeEntry objectTypes[] = {
      {id::BaseObjectType, "BaseObjectType", 0, false},
      {id::FolderType, "FolderType", id::BaseObjectType, false},
      {id::ServerType, "ServerType", id::BaseObjectType, false},
      {id::ServerCapabilitiesType, "ServerCapabilitiesType", id::BaseObjectType, false},
      {id::OperationLimitsType, "OperationLimitsType", id::FolderType, false},
  };
  for (const auto& t : objectTypes) Add(NodeId(0, t.id), NodeClass::ObjectType, t.name);
  for (const auto& t : objectTypes)
    if (t.super != 0) Link(NodeId(0, t.super), id::HasSubtype, NodeId(0, t.id));

  const TypeEntry variableTypes[] = {
      {id::BaseVariableType, "BaseVariableType", 0, true},
      {id::BaseDataVariableType, "BaseDataVariableType", id::BaseVariableType, false},
      {id::PropertyType, "PropertyType", id::BaseVariableType, false},
      {id::ServerStatusType, "ServerStatusType", id::BaseDataVariableType, false},
      {id::BuildInfoType, "BuildInfoType", id::BaseDataVariableType, false},
  };
  for (const auto& t : variableTypes) {
    Node& n = Add(NodeId(0, t.id), NodeClass::VariableType, t.name);
    n.isAbstract = t.isAbstract;
    n.dataType = t.id == id::ServerStatusType ? id::ServerStatusDataType
                 : t.id == id::BuildInfoType  ? id::BuildInfo
                                              : id::BaseDataType;
    n.valueRank = -2;
  }
  for (const auto& t : variableTypes)
    if (t.super != 0) Link(NodeId(0, t.super), id::HasSubtype, NodeId(0, t.id));

  // --- folders -------------------------------------------------------------------
  auto folder = [&](uint32_t nid, const char* name, uint32_t parent) {
    Add(NodeId(0, nid), NodeClass::Object, name);
    if (parent != 0) Link(NodeId(0, parent), id::Organizes, NodeId(0, nid));
    Link(NodeId(0, nid), id::HasTypeDefinition, NodeId(0, id::FolderType));
  };
  folder(id::RootFolder, "Root", 0);
  folder(id::ObjectsFolder, "Objects", id::RootFolder);
  folder(id::TypesFolder, "Types", id::RootFolder);
  folder(id::ViewsFolder, "Views", id::RootFolder);
  folder(id::ObjectTypesFolder, "ObjectTypes", id::TypesFolder);
  folder(id::VariableTypesFolder, "VariableTypes", id::TypesFolder);
  folder(id::DataTypesFolder, "DataTypes", id::TypesFolder);
  folder(id::ReferenceTypesFolder, "ReferenceTypes", id::TypesFolder);
  Link(NodeId(0, id::ObjectTypesFolder), id::Organizes, NodeId(0, id::BaseObjectType));
  Link(NodeId(0, id::VariableTypesFolder), id::Organizes, NodeId(0, id::BaseVariableType));
  Link(NodeId(0, id::DataTypesFolder), id::Organizes, NodeId(0, id::BaseDataType));
  Link(NodeId(0, id::ReferenceTypesFolder), id::Organizes, NodeId(0, id::References));

  Node& tags = Add(kTagsFolder, NodeClass::Object, "Tags", 1);
  (void)tags;
  Link(NodeId(0, id::ObjectsFolder), id::Organizes, kTagsFolder);
  Link(kTagsFolder, id::HasTypeDefinition, NodeId(0, id::FolderType));

  // --- the Server object -----------------------------------------------------------
  Add(NodeId(0, id::Server), NodeClass::Object, "Server");
  Link(NodeId(0, id::ObjectsFolder), id::Organizes, NodeId(0, id::Server));
  Link(NodeId(0, id::Server), id::HasTypeDefinition, NodeId(0, id::ServerType));

  Variable(id::Server_ServerArray, "ServerArray", id::Server, id::HasProperty, id::String,
           Variant::ArrayOf<B::String>(std::vector<String>{String(who.applicationUri)}), id::PropertyType);
  Variable(id::Server_NamespaceArray, "NamespaceArray", id::Server, id::HasProperty, id::String,
           Variant::ArrayOf<B::String>(
               std::vector<String>{String("http://opcfoundation.org/UA/"), String(who.applicationUri)}),
           id::PropertyType);
  Variable(id::Server_ServiceLevel, "ServiceLevel", id::Server, id::HasProperty, id::Byte,
           Variant::Scalar<B::Byte>(uint8_t{255}), id::PropertyType);

  const DateTime start = who.startTime;
  BuildInfo build;
  build.productUri = String(who.productUri);
  build.manufacturerName = String(who.manufacturer);
  build.productName = String(who.productName);
  build.softwareVersion = String(who.softwareVersion);
  build.buildNumber = String(who.softwareVersion);
  build.buildDate = start;
  Node& status = Variable(id::Server_ServerStatus, "ServerStatus", id::Server, id::HasComponent,
                          id::ServerStatusDataType, Variant(), id::ServerStatusType);
  status.dynamicValue = [start, build] {
    ServerStatusDataType s;
    s.startTime = start;
    s.currentTime = DateTime::Now();
    s.state = ServerState::Running;
    s.buildInfo = build;
    return Variant::Scalar<B::ExtensionObject>(Pack(s));
  };
  Variable(id::Server_ServerStatus_StartTime, "StartTime", id::Server_ServerStatus, id::HasComponent, id::UtcTime,
           Variant::Scalar<B::DateTime>(start), id::BaseDataVariableType);
  Variable(id::Server_ServerStatus_CurrentTime, "CurrentTime", id::Server_ServerStatus, id::HasComponent,
           id::UtcTime, Variant(), id::BaseDataVariableType)
      .dynamicValue = [] { return Variant::Scalar<B::DateTime>(DateTime::Now()); };
  Variable(id::Server_ServerStatus_State, "State", id::Server_ServerStatus, id::HasComponent, id::ServerState,
           Variant::Scalar<B::Int32>(int32_t{0}), id::BaseDataVariableType);
  Node& bi = Variable(id::Server_ServerStatus_BuildInfo, "BuildInfo", id::Server_ServerStatus, id::HasComponent,
                      id::BuildInfo, Variant::Scalar<B::ExtensionObject>(Pack(build)), id::BuildInfoType);
  (void)bi;
  const uint32_t biParent = id::Server_ServerStatus_BuildInfo;
  Variable(id::Server_ServerStatus_BuildInfo_ProductUri, "ProductUri", biParent, id::HasComponent, id::String,
           Variant::Scalar<B::String>(build.productUri), id::BaseDataVariableType);
  Variable(id::Server_ServerStatus_BuildInfo_ManufacturerName, "ManufacturerName", biParent, id::HasComponent,
           id::String, Variant::Scalar<B::String>(build.manufacturerName), id::BaseDataVariableType);
  Variable(id::Server_ServerStatus_BuildInfo_ProductName, "ProductName", biParent, id::HasComponent, id::String,
           Variant::Scalar<B::String>(build.productName), id::BaseDataVariableType);
  Variable(id::Server_ServerStatus_BuildInfo_SoftwareVersion, "SoftwareVersion", biParent, id::HasComponent,
           id::String, Variant::Scalar<B::String>(build.softwareVersion), id::BaseDataVariableType);
  Variable(id::Server_ServerStatus_BuildInfo_BuildNumber, "BuildNumber", biParent, id::HasComponent, id::String,
           Variant::Scalar<B::String>(build.buildNumber), id::BaseDataVariableType);
  Variable(id::Server_ServerStatus_BuildInfo_BuildDate, "BuildDate", biParent, id::HasComponent, id::UtcTime,
           Variant::Scalar<B::DateTime>(build.buildDate), id::BaseDataVariableType);
  Variable(id::Server_ServerStatus_SecondsTillShutdown, "SecondsTillShutdown", id::Server_ServerStatus,
           id::HasComponent, id::UInt32, Variant::Scalar<B::UInt32>(uint32_t{0}), id::BaseDataVariableType);
  Variable(id::Server_ServerStatus_ShutdownReason, "ShutdownReason", id::Server_ServerStatus, id::HasComponent,
           id::LocalizedText, Variant::Scalar<B::LocalizedText>(LocalizedText(String(""))), id::BaseDataVariableType);

  Add(NodeId(0, id::Server_ServerCapabilities), NodeClass::Object, "ServerCapabilities");
  Link(NodeId(0, id::Server), id::HasComponent, NodeId(0, id::Server_ServerCapabilities));
  Link(NodeId(0, id::Server_ServerCapabilities), id::HasTypeDefinition, NodeId(0, id::ServerCapabilitiesType));
  const uint32_t caps = id::Server_ServerCapabilities;
  Variable(id::Server_ServerCapabilities_ServerProfileArray, "ServerProfileArray", caps, id::HasProperty, id::String,
           Variant::ArrayOf<B::String>(
               std::vector<String>{String("http://opcfoundation.org/UA-Profile/Server/MicroEmbeddedDevice")}),
           id::PropertyType);
  Variable(id::Server_ServerCapabilities_LocaleIdArray, "LocaleIdArray", caps, id::HasProperty, id::LocaleId,
           Variant::ArrayOf<B::String>(std::vector<String>{String("en")}), id::PropertyType);
  Variable(id::Server_ServerCapabilities_MinSupportedSampleRate, "MinSupportedSampleRate", caps, id::HasProperty,
           id::Duration, Variant::Scalar<B::Double>(50.0), id::PropertyType);
  Variable(id::Server_ServerCapabilities_MaxBrowseContinuationPoints, "MaxBrowseContinuationPoints", caps,
           id::HasProperty, id::UInt16,
           Variant::Scalar<B::UInt16>(static_cast<uint16_t>(who.maxBrowseContinuationPoints)), id::PropertyType);
  Variable(id::Server_ServerCapabilities_MaxArrayLength, "MaxArrayLength", caps, id::HasProperty, id::UInt32,
           Variant::Scalar<B::UInt32>(who.maxArrayLength), id::PropertyType);
  Variable(id::Server_ServerCapabilities_MaxStringLength, "MaxStringLength", caps, id::HasProperty, id::UInt32,
           Variant::Scalar<B::UInt32>(who.maxStringLength), id::PropertyType);

  Add(NodeId(0, id::Server_ServerCapabilities_OperationLimits), NodeClass::Object, "OperationLimits");
  Link(NodeId(0, caps), id::HasComponent, NodeId(0, id::Server_ServerCapabilities_OperationLimits));
  Link(NodeId(0, id::Server_ServerCapabilities_OperationLimits), id::HasTypeDefinition,
       NodeId(0, id::OperationLimitsType));
  const uint32_t ol = id::Server_ServerCapabilities_OperationLimits;
  const std::pair<uint32_t, std::pair<const char*, uint32_t>> limits[] = {
      {id::OperationLimits_MaxNodesPerRead, {"MaxNodesPerRead", who.maxNodesPerRead}},
      {id::OperationLimits_MaxNodesPerWrite, {"MaxNodesPerWrite", who.maxNodesPerWrite}},
      {id::OperationLimits_MaxNodesPerBrowse, {"MaxNodesPerBrowse", who.maxNodesPerBrowse}},
      {id::OperationLimits_MaxNodesPerRegisterNodes, {"MaxNodesPerRegisterNodes", who.maxNodesPerRegisterNodes}},
      {id::OperationLimits_MaxNodesPerTranslateBrowsePathsToNodeIds,
       {"MaxNodesPerTranslateBrowsePathsToNodeIds", who.maxNodesPerTranslate}},
      {id::OperationLimits_MaxMonitoredItemsPerCall, {"MaxMonitoredItemsPerCall", who.maxMonitoredItemsPerCall}},
  };
  for (const auto& [nid, entry] : limits)
    Variable(nid, entry.first, ol, id::HasProperty, id::UInt32, Variant::Scalar<B::UInt32>(entry.second),
             id::PropertyType);
}

}  // namespace serverkit::ua
