#include "tags/TagCsv.h"

#include <string_view>

#include "core/ExchangeTag.h"
#include "core/PlexmarApp.h"
#include "tags/CsvReader.h"

namespace {

constexpr const char* kPointTypeWords[] = {"COIL STATUS", "INPUT STATUS", "HOLDING REGISTER",
                                           "INPUT REGISTER"};
constexpr const char* kDataTypeWords[] = {"Integer", "Unsigned", "Scaled 0-4095", "Scaled 0-9999",
                                          "Scaled 0-65535", "Long", "WS Long", "Float", "WS Float"};

bool IsScaled(int32_t dataType) {
  return dataType == CExchangeTag::kScaled4095 || dataType == CExchangeTag::kScaled9999 ||
         dataType == CExchangeTag::kScaled65535;
}

bool IsRegister(uint8_t pointType) {
  return pointType == CExchangeTag::kHoldingRegister || pointType == CExchangeTag::kInputRegister;
}

// A user variable's value as the file carries it: a 4-byte float.
float VariableValue(const CExchangeTag& tag) {
  VARIANT converted;
  VariantInit(&converted);
  float value = 0.0f;
  if (SUCCEEDED(VariantChangeType(&converted, tag.m_value.get(), 0, VT_R4))) value = converted.fltVal;
  VariantClear(&converted);
  return value;
}

}  // namespace

const char* PointTypeWord(int pointType) {
  return pointType >= 1 && pointType <= 4 ? kPointTypeWords[pointType - 1] : nullptr;
}

const char* DataTypeWord(int dataType) {
  return dataType >= 0 && dataType <= 8 ? kDataTypeWords[dataType] : nullptr;
}

std::string TagCsvLine(const CExchangeTag& tag) {
  std::string line = tag.m_strName;
  line += ",LB(";
  line += tag.m_strLogicBlock.empty() ? std::string("Not Used") : tag.m_strLogicBlock;
  line += "),";
  switch (tag.m_nSourceKind) {
    case CExchangeTag::kSourceLocal:
      line += "Modbus Point,Local,";
      break;
    case CExchangeTag::kSourceComm:
      line += "Modbus Point,COMM" + std::to_string(tag.m_nCommPort) + ",";
      break;
    case CExchangeTag::kSourceTcp:
      line += "Modbus Point," + tag.m_strHost + ",";
      break;
    case CExchangeTag::kSourceOpc:
      line += "OPC Point,";
      line += tag.m_strMachine.empty() ? std::string("Local") : tag.m_strMachine;
      line += "," + tag.m_strServer + "," + tag.m_strItemId + ",";
      break;
    default:
      line += "Variable," + FormatCsvFixed(VariableValue(tag), 4) + ",";
      break;
  }
  if (tag.m_nSourceKind >= CExchangeTag::kSourceLocal && tag.m_nSourceKind <= CExchangeTag::kSourceTcp) {
    line += std::to_string(tag.m_nSlaveId) + ",";
    if (const char* word = PointTypeWord(tag.m_nPointType)) line += std::string(word) + ",";
    line += std::to_string(tag.m_nAddress) + ",";
    if (IsRegister(tag.m_nPointType)) {
      if (const char* word = DataTypeWord(tag.m_nDataType)) {
        line += std::string(word) + ",";
        if (IsScaled(tag.m_nDataType))
          line += FormatCsvFixed(tag.m_fLowLimit, 2) + "," + FormatCsvFixed(tag.m_fHighLimit, 2) + ",";
      }
    }
  }
  line += "\r\n";
  return line;
}

std::string ExportTagCsv(const std::vector<std::unique_ptr<CExchangeTag>>& tags) {
  std::string text;
  for (const auto& tag : tags) text += TagCsvLine(*tag);
  return text;
}

std::unique_ptr<CExchangeTag> ParseTagCsvLine(const std::string& line) {
  const std::vector<std::string_view> fields = SplitCsvFields(line);
  auto tag = std::make_unique<CExchangeTag>(std::string(CsvField(fields, 0)));

  const std::string_view reference = CsvField(fields, 1);
  if (reference.size() >= 4) {
    const std::string_view inner = reference.substr(3, reference.size() - 4);
    if (inner != "Not Used") tag->m_strLogicBlock = std::string(inner);
  }

  const std::string_view source = CsvField(fields, 2);
  if (source == "OPC Point") {
    tag->m_nSourceKind = CExchangeTag::kSourceOpc;
    const std::string_view machine = CsvField(fields, 3);
    if (machine != "Local") tag->m_strMachine = std::string(machine);
    tag->m_strServer = std::string(CsvField(fields, 4));
    tag->m_strItemId = std::string(CsvField(fields, 5));
  } else if (source == "Variable") {
    tag->m_nSourceKind = CExchangeTag::kSourceVariable;
    float value = 0.0f;
    if (ParseCsvFloat(CsvField(fields, 3), value)) {
      VariantClear(tag->m_value.get());
      *tag->m_value = MakeVariantR4(value);
    }
  } else if (source == "Modbus Point") {
    const std::string_view location = CsvField(fields, 3);
    if (location == "Local") {
      tag->m_nSourceKind = CExchangeTag::kSourceLocal;
    } else if (location.size() == 5 && location.substr(0, 4) == "COMM" && location[4] >= '1' &&
               location[4] <= '9') {
      tag->m_nSourceKind = CExchangeTag::kSourceComm;
      tag->m_nCommPort = location[4] - '0';
    } else {
      tag->m_nSourceKind = CExchangeTag::kSourceTcp;
      tag->m_strHost = std::string(location);
    }
    // A number that does not fit its field is not cut down to another slave
    // or point: the default stays.
    long long number = 0;
    if (ParseCsvInt(CsvField(fields, 4), number) && number >= 0 && number <= 255)
      tag->m_nSlaveId = static_cast<uint8_t>(number);
    for (uint8_t type = 1; type <= 4; ++type)
      if (CsvField(fields, 5) == PointTypeWord(type)) tag->m_nPointType = type;
    if (ParseCsvInt(CsvField(fields, 6), number) && number >= 0 && number <= 0xFFFF)
      tag->m_nAddress = static_cast<uint16_t>(number);
    if (IsRegister(tag->m_nPointType)) {
      const std::string_view word = CsvField(fields, 7);
      for (int32_t type = 0; type <= 8; ++type)
        if (word == DataTypeWord(type)) tag->m_nDataType = type;
      if (word == "WS_Float") tag->m_nDataType = CExchangeTag::kWsFloat;
      if (IsScaled(tag->m_nDataType)) {
        ParseCsvFloat(CsvField(fields, 8), tag->m_fLowLimit);
        ParseCsvFloat(CsvField(fields, 9), tag->m_fHighLimit);
      }
    }
  }
  return tag;
}

std::vector<std::unique_ptr<CExchangeTag>> ParseTagCsv(std::istream& in) {
  std::vector<std::unique_ptr<CExchangeTag>> tags;
  CCsvLineReader reader(in);
  std::string line;
  while (reader.NextLine(line)) tags.push_back(ParseTagCsvLine(line));
  return tags;
}

void ImportTagCsv(CPlexmarApp& app, std::istream& in) {
  app.RemoveAllTags();
  CCsvLineReader reader(in);
  std::string line;
  while (reader.NextLine(line)) app.AddTag(ParseTagCsvLine(line));
  app.DefineLocalBlocks();
}
