// The standard nodes of the server's address space: Root, the Objects, Types
// and Views folders, the Server object with its status and capabilities, and
// the type and reference type nodes that a browsing client walks. The tag
// Variables under ns=1;s=Tags are not stored here; the server makes them up
// from the item table when asked.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "opcua/services.h"

namespace serverkit::ua {

struct Reference {
  uint32_t type;  // a reference type of namespace 0
  bool forward;
  opcua::NodeId target;
};

struct Node {
  opcua::NodeId id;
  opcua::NodeClass nodeClass = opcua::NodeClass::Object;
  opcua::QualifiedName browseName;
  opcua::LocalizedText displayName;
  std::vector<Reference> refs;
  opcua::NodeId typeDefinition;  // for Objects and Variables
  // Variables and VariableTypes.
  uint32_t dataType = 0;
  int32_t valueRank = -1;
  opcua::Variant value;
  std::function<opcua::Variant()> dynamicValue;
  // Types.
  bool isAbstract = false;
  bool symmetric = false;
  opcua::LocalizedText inverseName;
  uint8_t eventNotifier = 0;
};

struct ServerIdentity {
  std::string applicationUri;
  std::string productUri;
  std::string productName;
  std::string manufacturer;
  std::string softwareVersion;
  opcua::DateTime startTime;
  // Values of ServerCapabilities and OperationLimits.
  uint32_t maxBrowseContinuationPoints = 0;
  uint32_t maxArrayLength = 0;
  uint32_t maxStringLength = 0;
  uint32_t maxNodesPerRead = 0;
  uint32_t maxNodesPerWrite = 0;
  uint32_t maxNodesPerBrowse = 0;
  uint32_t maxNodesPerRegisterNodes = 0;
  uint32_t maxNodesPerTranslate = 0;
  uint32_t maxMonitoredItemsPerCall = 0;
};

inline const opcua::NodeId kTagsFolder = opcua::NodeId::Text(1, "Tags");

class AddressSpace {
 public:
  explicit AddressSpace(const ServerIdentity& identity);
  const Node* Find(const opcua::NodeId& id) const;
  // True when `type` is `base` or one of its subtypes.
  bool IsSubtypeOf(uint32_t type, uint32_t base) const;
  // Adds the Tags folder's reference to a tag.
  static Reference TagReference(const std::string& name);

 private:
  Node& Add(opcua::NodeId id, opcua::NodeClass nodeClass, const char* name, uint16_t ns = 0);
  void Link(const opcua::NodeId& from, uint32_t type, const opcua::NodeId& to);
  Node& Variable(uint32_t id, const char* name, uint32_t parent, uint32_t referenceType, uint32_t dataType,
                 opcua::Variant value, uint32_t typeDefinition);
  std::unordered_map<opcua::NodeId, std::unique_ptr<Node>, opcua::NodeIdHash> m_nodes;
  std::unordered_map<uint32_t, uint32_t> m_supertype;
};

}  // namespace serverkit::ua
