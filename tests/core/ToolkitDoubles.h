// Recording stand-ins for the OPC client toolkit and the slave library's data
// block calls, linked into the core unit tests in place of the real ones.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/variant.h"

// A text value owned by the caller (the builder's text is adopted, not copied).
inline CVariant Text(std::string_view utf8) {
  VARIANT value = MakeVariantText(utf8);
  return CVariant::Adopt(value);
}

namespace doubles {

struct ClientKit {
  // Answers the next calls give.
  int32_t nextItem = 500;
  int32_t activateResult = 1;
  int32_t readResult = 1;
  VARIANT readValue = MakeVariantI4(42);
  uint32_t readQuality = 0xC0;
  // What was called.
  std::vector<std::string> calls;
  std::vector<int32_t> removedItems;
  void* lastReference = nullptr;
  int writes = 0;
};

struct SlaveLink {
  int32_t nextHandle = 1;
  std::vector<int32_t> removed;
  std::vector<int32_t> defined;
  std::vector<uint16_t*> definedBuffers;
  std::vector<int32_t> notified;
};

ClientKit& Client();
SlaveLink& Slave();
// Back to the answers above with nothing recorded.
void Reset();

}  // namespace doubles
