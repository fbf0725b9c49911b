#include "logic/LogicBlockCsv.h"

#include <string_view>
#include <vector>

#include "logic/LogicBlock.h"
#include "logic/LogicEntry.h"
#include "tags/CsvReader.h"

namespace {

constexpr const char* kOperators[] = {"+", "-", "*", "/"};                // codes 1..4
constexpr const char* kComparisons[] = {"==", ">", "<", ">=", "<="};      // codes 0..4

}  // namespace

std::string LogicEntryCsvLine(const CLogicEntry& entry) {
  std::string line = entry.m_strLabel + ",";
  switch (entry.m_nType) {
    case kLogicAssignment:
      line += entry.m_strTag1 + ",=," + entry.m_strTag2 + ",";
      if (entry.m_nOperation >= kLogicOpAdd && entry.m_nOperation <= kLogicOpDivide)
        line += std::string(kOperators[entry.m_nOperation - 1]) + "," + entry.m_strTag3 + ",";
      break;
    case kLogicIfGoto:
      line += "IF," + entry.m_strTag1 + ",";
      if (entry.m_nOperation >= kLogicCmpEqual && entry.m_nOperation <= kLogicCmpLessEqual)
        line += std::string(kComparisons[entry.m_nOperation]) + ",";
      else
        line += "?";
      line += entry.m_strTag2 + ",THEN GOTO," + entry.m_strGotoBlock + ",";
      if (!entry.m_strGotoLabel.empty()) line += entry.m_strGotoLabel + ",";
      break;
    case kLogicFormShowHide:
      line += entry.m_nOperation != 0 ? "SHOW," : "HIDE,";
      line += entry.m_strFormName + ",";
      break;
    default:
      break;
  }
  line += "\r\n";
  return line;
}

std::string ExportLogicBlockCsv(const CLogicBlock& block) {
  std::string text;
  for (const auto& entry : block.m_entries) text += LogicEntryCsvLine(*entry);
  return text;
}

std::unique_ptr<CLogicEntry> ParseLogicEntryCsvLine(const std::string& line) {
  const std::vector<std::string_view> fields = SplitCsvFields(line);
  auto entry = std::make_unique<CLogicEntry>();
  entry->m_strLabel = std::string(CsvField(fields, 0));
  const std::string_view keyword = CsvField(fields, 1);
  if (keyword == "IF") {
    entry->m_nType = kLogicIfGoto;
    entry->m_strTag1 = std::string(CsvField(fields, 2));
    entry->m_nOperation = kLogicCmpEqual;
    for (int32_t code = 0; code <= kLogicCmpLessEqual; ++code)
      if (CsvField(fields, 3) == kComparisons[code]) entry->m_nOperation = code;
    entry->m_strTag2 = std::string(CsvField(fields, 4));
    entry->m_strGotoBlock = std::string(CsvField(fields, 6));
    entry->m_strGotoLabel = std::string(CsvField(fields, 7));
  } else if (keyword == "SHOW" || keyword == "HIDE") {
    entry->m_nType = kLogicFormShowHide;
    entry->m_nOperation = keyword == "SHOW" ? 1 : 0;
    entry->m_strFormName = std::string(CsvField(fields, 2));
  } else {
    entry->m_nType = kLogicAssignment;
    entry->m_strTag1 = std::string(keyword);
    entry->m_strTag2 = std::string(CsvField(fields, 3));
    entry->m_nOperation = kLogicOpNone;
    for (int32_t code = kLogicOpAdd; code <= kLogicOpDivide; ++code)
      if (CsvField(fields, 4) == kOperators[code - 1]) entry->m_nOperation = code;
    entry->m_strTag3 = std::string(CsvField(fields, 5));
  }
  return entry;
}

std::unique_ptr<CLogicBlock> ParseLogicBlockCsv(std::istream& in, const std::string& name) {
  auto block = std::make_unique<CLogicBlock>();
  block->m_strName = name;
  CCsvLineReader reader(in);
  std::string line;
  while (reader.NextLine(line)) block->m_entries.push_back(ParseLogicEntryCsvLine(line));
  return block;
}
