#include "opcua/services.h"

namespace opcua {

uint32_t PeekMessageType(const uint8_t* data, size_t size) {
  Decoder d(data, size);
  NodeId type;
  if (!Decode(d, type) || type.namespaceIndex != 0 || type.kind != NodeId::Kind::Numeric) return 0;
  return type.numeric;
}

bool PeekRequestHandle(const uint8_t* data, size_t size, uint32_t& requestHandle) {
  Decoder d(data, size);
  NodeId type, token;
  DateTime timestamp;
  return Decode(d, type) && Decode(d, token) && Decode(d, timestamp) && Decode(d, requestHandle);
}

std::vector<uint8_t> EncodeServiceFault(uint32_t requestHandle, StatusCode result) {
  ServiceFault fault;
  fault.responseHeader.timestamp = DateTime::Now();
  fault.responseHeader.requestHandle = requestHandle;
  fault.responseHeader.serviceResult = result;
  return EncodeMessage(fault);
}

}  // namespace opcua
