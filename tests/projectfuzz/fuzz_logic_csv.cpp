// Any bytes as a logic block CSV file: every complete line gives one entry,
// and each entry exports, reads back and copies without harm.
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "logic/LogicBlock.h"
#include "logic/LogicBlockCsv.h"
#include "logic/LogicEntry.h"

namespace {

void Require(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  size_t lineEnds = 0;
  for (char c : text) lineEnds += (c == '\r' || c == '\n') ? 1 : 0;

  std::istringstream in(text);
  const auto block = ParseLogicBlockCsv(in, "Fuzz");
  Require(block != nullptr && block->m_strName == "Fuzz");
  Require(block->m_entries.size() <= lineEnds);
  const std::string exported = ExportLogicBlockCsv(*block);
  std::istringstream back(exported);
  const auto again = ParseLogicBlockCsv(back, "Again");
  Require(again->m_entries.size() == block->m_entries.size());
  CLogicBlock copy;
  copy.CopyFrom(*block);
  Require(copy.m_entries.size() == block->m_entries.size());
  return 0;
}
