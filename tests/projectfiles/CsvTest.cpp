// The CSV line reader and the tag and logic block CSV files: exported lines
// byte for byte, and the import of every awkward line.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include "core/ExchangeTag.h"
#include "core/ModbusDataBlock.h"
#include "core/PlexmarApp.h"
#include "logic/LogicBlock.h"
#include "logic/LogicBlockCsv.h"
#include "tags/CsvReader.h"
#include "tags/TagCsv.h"
#include "tests/core/ToolkitDoubles.h"

namespace {

std::vector<std::string> Lines(const std::string& data) {
  std::istringstream in(data);
  CCsvLineReader reader(in);
  std::vector<std::string> lines;
  std::string line;
  while (reader.NextLine(line)) lines.push_back(line);
  return lines;
}

std::unique_ptr<CExchangeTag> Modbus(const std::string& name, int kind, uint8_t pointType,
                                     int32_t dataType) {
  auto tag = std::make_unique<CExchangeTag>(name);
  tag->m_nSourceKind = kind;
  tag->m_nPointType = pointType;
  tag->m_nDataType = dataType;
  return tag;
}

std::unique_ptr<CLogicEntry> Entry(int32_t kind, const std::string& label, const std::string& tag1,
                                   const std::string& tag2, int32_t op, const std::string& tag3) {
  auto entry = std::make_unique<CLogicEntry>();
  entry->m_nType = kind;
  entry->m_strLabel = label;
  entry->m_strTag1 = tag1;
  entry->m_strTag2 = tag2;
  entry->m_nOperation = op;
  entry->m_strTag3 = tag3;
  return entry;
}

}  // namespace

TEST(CsvLineReader, LineEndsPairsCapAndUnendedLastLine) {
  EXPECT_EQ(Lines("a\r\nb\r\n"), (std::vector<std::string>{"a", "b"}));
  // One CR or LF after a line end belongs to it: a blank line needs three.
  EXPECT_EQ(Lines("a\n\nb\n"), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(Lines("a\r\n\r\nb\r\n"), (std::vector<std::string>{"a", "", "b"}));
  EXPECT_EQ(Lines("a\rb\n\rc\r"), (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_EQ(Lines("a\r\nno end"), (std::vector<std::string>{"a"}));
  EXPECT_TRUE(Lines("").empty());
  EXPECT_EQ(Lines("\r\n"), (std::vector<std::string>{""}));

  const std::string longLine(2000, 'x');
  const auto cut = Lines(longLine + "\r\nnext\r\n");
  ASSERT_EQ(cut.size(), 2u);
  EXPECT_EQ(cut[0], std::string(499, 'x'));
  EXPECT_EQ(cut[1], "next");
}

TEST(CsvLineReader, FieldsByPositionWithoutTrimming) {
  const auto fields = SplitCsvFields(" a,,b ,");
  ASSERT_EQ(fields.size(), 4u);
  EXPECT_EQ(fields[0], " a");
  EXPECT_EQ(fields[1], "");
  EXPECT_EQ(fields[2], "b ");
  EXPECT_EQ(CsvField(fields, 3), "");
  EXPECT_EQ(CsvField(fields, 40), "");
  EXPECT_EQ(SplitCsvFields("no commas").size(), 1u);
}

TEST(CsvLineReader, NumbersAsTheCLibraryReadsThemInAnyLocale) {
  float f = 7.0f;
  EXPECT_TRUE(ParseCsvFloat(" 2.5xyz", f));
  EXPECT_FLOAT_EQ(f, 2.5f);
  EXPECT_TRUE(ParseCsvFloat("+1e3", f));
  EXPECT_FLOAT_EQ(f, 1000.0f);
  EXPECT_TRUE(ParseCsvFloat("-0.25", f));
  EXPECT_FLOAT_EQ(f, -0.25f);
  f = 7.0f;
  EXPECT_FALSE(ParseCsvFloat("abc", f));
  EXPECT_FALSE(ParseCsvFloat("", f));
  EXPECT_FALSE(ParseCsvFloat("+-1", f));
  EXPECT_FLOAT_EQ(f, 7.0f) << "a field without a number leaves the value";
  EXPECT_TRUE(ParseCsvFloat("1e999", f));
  EXPECT_TRUE(std::isinf(f));

  long long n = 5;
  EXPECT_TRUE(ParseCsvInt("  42,", n));
  EXPECT_EQ(n, 42);
  EXPECT_TRUE(ParseCsvInt("-3", n));
  EXPECT_EQ(n, -3);
  EXPECT_TRUE(ParseCsvInt("99999999999999999999999", n));
  EXPECT_GT(n, 0xFFFF) << "saturates, never wraps to a small number";
  EXPECT_FALSE(ParseCsvInt("x1", n));

  EXPECT_EQ(FormatCsvFixed(2.5, 4), "2.5000");
  EXPECT_EQ(FormatCsvFixed(-0.005, 2), "-0.01");
  EXPECT_EQ(FormatCsvFixed(100, 2), "100.00");
}

TEST(TagCsv, ExportedLinesAsTheFileGivesThem) {
  auto variable = std::make_unique<CExchangeTag>("Exchange.Tag1");
  EXPECT_EQ(TagCsvLine(*variable), "Exchange.Tag1,LB(Not Used),Variable,1.0000,\r\n");
  *variable->m_value = MakeVariantR4(2.5f);
  EXPECT_EQ(TagCsvLine(*variable), "Exchange.Tag1,LB(Not Used),Variable,2.5000,\r\n");

  auto pump = Modbus("Pump", CExchangeTag::kSourceComm, CExchangeTag::kHoldingRegister,
                     CExchangeTag::kScaled4095);
  pump->m_nCommPort = 2;
  pump->m_nAddress = 100;
  pump->m_strLogicBlock = "LB1";
  EXPECT_EQ(TagCsvLine(*pump),
            "Pump,LB(LB1),Modbus Point,COMM2,1,HOLDING REGISTER,100,Scaled 0-4095,0.00,100.00,\r\n");

  auto flow = std::make_unique<CExchangeTag>("Flow");
  flow->m_nSourceKind = CExchangeTag::kSourceOpc;
  flow->m_strServer = "Some.Server";
  flow->m_strItemId = "Channel1.Flow";
  EXPECT_EQ(TagCsvLine(*flow), "Flow,LB(Not Used),OPC Point,Local,Some.Server,Channel1.Flow,\r\n");
  flow->m_strMachine = "plc-host";
  EXPECT_EQ(TagCsvLine(*flow), "Flow,LB(Not Used),OPC Point,plc-host,Some.Server,Channel1.Flow,\r\n");

  auto coil = Modbus("Run", CExchangeTag::kSourceLocal, CExchangeTag::kCoilStatus, CExchangeTag::kLong);
  coil->m_nAddress = 7;
  EXPECT_EQ(TagCsvLine(*coil), "Run,LB(Not Used),Modbus Point,Local,1,COIL STATUS,7,\r\n");

  auto input = Modbus("Total", CExchangeTag::kSourceTcp, CExchangeTag::kInputRegister, CExchangeTag::kLong);
  input->m_strHost = "10.0.0.5";
  input->m_nSlaveId = 3;
  EXPECT_EQ(TagCsvLine(*input), "Total,LB(Not Used),Modbus Point,10.0.0.5,3,INPUT REGISTER,1,Long,\r\n");

  auto odd = Modbus("Odd", CExchangeTag::kSourceLocal, 9, 42);
  EXPECT_EQ(TagCsvLine(*odd), "Odd,LB(Not Used),Modbus Point,Local,1,1,\r\n")
      << "no word for a point type outside 1..4";
}

TEST(TagCsv, TextValueExportsAsZeroAndNumericTextAsItsNumber) {
  auto tag = std::make_unique<CExchangeTag>("T");
  tag->m_value = *Text("not a number");
  EXPECT_EQ(TagCsvLine(*tag), "T,LB(Not Used),Variable,0.0000,\r\n");
  tag->m_value = *Text("3.25");
  EXPECT_EQ(TagCsvLine(*tag), "T,LB(Not Used),Variable,3.2500,\r\n");
}

TEST(TagCsv, ImportOfAwkwardLines) {
  std::istringstream in(
      "\r\n"                                                     // empty line: empty name
      "A,LB,Variable,abc,\r\n"                                   // short reference, no number
      "B,LB(Not Used),Variable,-4.5\r\n"                         // no trailing comma
      "C,LB(X),Modbus Point,COMM10,2,HOLDING REGISTER,5,WS_Float,\r\n"
      "C,LB(),Modbus Point,COMM9,300,BOGUS,70000,\r\n"           // duplicate name, out of range
      "D,LB(Y),Modbus Point,Local,1,INPUT REGISTER,9,Scaled 0-9999,x,50,\r\n"
      "E,LB(Not Used),Something Else,1,2,3\r\n"
      "F,LB(Z),OPC Point,Local,Srv,Item\r\n"
      "last line without an end");
  const auto tags = ParseTagCsv(in);
  ASSERT_EQ(tags.size(), 8u);
  EXPECT_EQ(tags[0]->m_strName, "");
  EXPECT_EQ(tags[0]->m_strLogicBlock, "");
  EXPECT_EQ(tags[0]->m_nSourceKind, CExchangeTag::kSourceVariable);

  EXPECT_EQ(tags[1]->m_strLogicBlock, "");
  EXPECT_EQ(tags[1]->m_value->vt, VT_R4);
  EXPECT_FLOAT_EQ(tags[1]->m_value->fltVal, 1.0f) << "no number keeps the default value";
  EXPECT_FLOAT_EQ(tags[2]->m_value->fltVal, -4.5f);

  EXPECT_EQ(tags[3]->m_nSourceKind, CExchangeTag::kSourceTcp);
  EXPECT_EQ(tags[3]->m_strHost, "COMM10");
  EXPECT_EQ(tags[3]->m_strLogicBlock, "X");
  EXPECT_EQ(tags[3]->m_nSlaveId, 2);
  EXPECT_EQ(tags[3]->m_nDataType, CExchangeTag::kWsFloat);

  EXPECT_EQ(tags[4]->m_strName, "C");
  EXPECT_EQ(tags[4]->m_strLogicBlock, "");
  EXPECT_EQ(tags[4]->m_nSourceKind, CExchangeTag::kSourceComm);
  EXPECT_EQ(tags[4]->m_nCommPort, 9);
  EXPECT_EQ(tags[4]->m_nSlaveId, 1) << "300 is no slave id: the default stays";
  EXPECT_EQ(tags[4]->m_nPointType, CExchangeTag::kHoldingRegister);
  EXPECT_EQ(tags[4]->m_nAddress, 1);

  EXPECT_EQ(tags[5]->m_nSourceKind, CExchangeTag::kSourceLocal);
  EXPECT_EQ(tags[5]->m_nPointType, CExchangeTag::kInputRegister);
  EXPECT_EQ(tags[5]->m_nDataType, CExchangeTag::kScaled9999);
  EXPECT_FLOAT_EQ(tags[5]->m_fLowLimit, 0.0f);
  EXPECT_FLOAT_EQ(tags[5]->m_fHighLimit, 50.0f);

  EXPECT_EQ(tags[6]->m_nSourceKind, CExchangeTag::kSourceVariable);
  EXPECT_EQ(tags[7]->m_nSourceKind, CExchangeTag::kSourceOpc);
  EXPECT_EQ(tags[7]->m_strMachine, "");
  EXPECT_EQ(tags[7]->m_strServer, "Srv");
  EXPECT_EQ(tags[7]->m_strItemId, "Item");
}

TEST(TagCsv, ExportThenImportGivesTheSameTable) {
  doubles::Reset();
  CPlexmarApp app;
  auto var = std::make_unique<CExchangeTag>("V");
  *var->m_value = MakeVariantR4(12.3456f);
  var->m_strLogicBlock = "Calc";
  app.AddTag(std::move(var));
  auto ws = Modbus("W", CExchangeTag::kSourceComm, CExchangeTag::kInputRegister, CExchangeTag::kWsFloat);
  ws->m_nCommPort = 4;
  ws->m_nAddress = 65000;
  ws->m_nSlaveId = 247;
  app.AddTag(std::move(ws));
  auto scaled = Modbus("S", CExchangeTag::kSourceLocal, CExchangeTag::kHoldingRegister,
                       CExchangeTag::kScaled65535);
  scaled->m_fLowLimit = -10.5f;
  scaled->m_fHighLimit = 99.25f;
  app.AddTag(std::move(scaled));

  const std::string text = ExportTagCsv(app.m_tags);
  std::istringstream in(text);
  ImportTagCsv(app, in);
  ASSERT_EQ(app.m_tags.size(), 3u);
  EXPECT_EQ(app.m_tags[0]->m_strName, "V");
  EXPECT_EQ(app.m_tags[0]->m_strLogicBlock, "Calc");
  EXPECT_NEAR(app.m_tags[0]->m_value->fltVal, 12.3456f, 1e-4);
  EXPECT_EQ(app.m_tags[1]->m_nDataType, CExchangeTag::kWsFloat);
  EXPECT_EQ(app.m_tags[1]->m_nAddress, 65000);
  EXPECT_EQ(app.m_tags[1]->m_nSlaveId, 247);
  EXPECT_EQ(app.m_tags[1]->m_nCommPort, 4);
  EXPECT_FLOAT_EQ(app.m_tags[2]->m_fLowLimit, -10.5f);
  EXPECT_FLOAT_EQ(app.m_tags[2]->m_fHighLimit, 99.25f);
  EXPECT_EQ(ExportTagCsv(app.m_tags), text);
  // Imported tags are bound: published, with data blocks, the local one lent.
  for (const auto& tag : app.m_tags) EXPECT_NE(tag->m_hServerTag, -1);
  EXPECT_EQ(app.m_dataBlocks.size(), 2u);
  EXPECT_FALSE(doubles::Slave().defined.empty()) << "the imported LOCAL block is served";

  std::istringstream empty("");
  ImportTagCsv(app, empty);
  EXPECT_TRUE(app.m_tags.empty());
  EXPECT_TRUE(app.m_dataBlocks.empty());
}

TEST(LogicBlockCsv, ExportedLinesAsTheFileGivesThem) {
  EXPECT_EQ(LogicEntryCsvLine(*Entry(kLogicAssignment, "", "Level", "Raw", kLogicOpMultiply, "Gain")),
            ",Level,=,Raw,*,Gain,\r\n");
  EXPECT_EQ(LogicEntryCsvLine(*Entry(kLogicAssignment, "", "A", "B", kLogicOpNone, "unused")),
            ",A,=,B,\r\n");
  EXPECT_EQ(LogicEntryCsvLine(*Entry(kLogicAssignment, "", "A", "B", 9, "C")), ",A,=,B,\r\n");
  auto check = Entry(kLogicIfGoto, "Check", "Level", "Limit", kLogicCmpGreater, "");
  check->m_strGotoBlock = "LB2";
  check->m_strGotoLabel = "Alarm";
  EXPECT_EQ(LogicEntryCsvLine(*check), "Check,IF,Level,>,Limit,THEN GOTO,LB2,Alarm,\r\n");
  check->m_strGotoLabel.clear();
  EXPECT_EQ(LogicEntryCsvLine(*check), "Check,IF,Level,>,Limit,THEN GOTO,LB2,\r\n");
  check->m_nOperation = 7;
  EXPECT_EQ(LogicEntryCsvLine(*check), "Check,IF,Level,?Limit,THEN GOTO,LB2,\r\n");
  auto show = Entry(kLogicFormShowHide, "", "", "", 1, "");
  show->m_strFormName = "Overview";
  EXPECT_EQ(LogicEntryCsvLine(*show), ",SHOW,Overview,\r\n");
  show->m_nOperation = 0;
  EXPECT_EQ(LogicEntryCsvLine(*show), ",HIDE,Overview,\r\n");
  EXPECT_EQ(LogicEntryCsvLine(*Entry(5, "L", "A", "B", 0, "")), "L,\r\n");
}

TEST(LogicBlockCsv, RoundTripAndKeywordTargets) {
  CLogicBlock block;
  block.m_strName = "Original";
  block.m_entries.push_back(Entry(kLogicAssignment, "", "Level", "Raw", kLogicOpDivide, "Gain"));
  block.m_entries.push_back(Entry(kLogicAssignment, "Copy", "A", "B", kLogicOpNone, "dropped"));
  auto jump = Entry(kLogicIfGoto, "", "X", "Y", kLogicCmpLessEqual, "");
  jump->m_strGotoBlock = "Other";
  block.m_entries.push_back(std::move(jump));
  auto hide = Entry(kLogicFormShowHide, "", "", "", 0, "");
  hide->m_strFormName = "Plexform1";
  block.m_entries.push_back(std::move(hide));

  std::istringstream in(ExportLogicBlockCsv(block));
  const auto loaded = ParseLogicBlockCsv(in, "Copy of it");
  EXPECT_EQ(loaded->m_strName, "Copy of it");
  ASSERT_EQ(loaded->m_entries.size(), 4u);
  EXPECT_EQ(loaded->m_entries[1]->m_strTag3, "") << "an unused field comes back empty";
  block.m_strName = loaded->m_strName;
  block.m_entries[1]->m_strTag3.clear();
  EXPECT_TRUE(loaded->IsEqual(block));
  EXPECT_EQ(loaded->m_entries[2]->m_strGotoLabel, "");

  // A target tag named like a keyword reads back as that keyword's entry.
  std::istringstream keywords(",IF,=,B,\r\n,SHOW,=,B,\r\n,HIDE,=,B,\r\n");
  const auto odd = ParseLogicBlockCsv(keywords, "");
  ASSERT_EQ(odd->m_entries.size(), 3u);
  EXPECT_EQ(odd->m_entries[0]->m_nType, kLogicIfGoto);
  EXPECT_EQ(odd->m_entries[1]->m_nType, kLogicFormShowHide);
  EXPECT_EQ(odd->m_entries[1]->m_nOperation, 1);
  EXPECT_EQ(odd->m_entries[2]->m_nOperation, 0);
}

TEST(LogicBlockCsv, AwkwardLines) {
  std::istringstream in("\r\n\r\nno commas at all\r\nL,T,=,A,%,B\r\n,IF,a,=>,b\r\nunended,line");
  const auto block = ParseLogicBlockCsv(in, "");
  ASSERT_EQ(block->m_entries.size(), 5u) << "two empty lines; the last line has no line end";
  EXPECT_EQ(block->m_entries[0]->m_nType, kLogicAssignment);
  EXPECT_EQ(block->m_entries[1]->m_strTag1, "");
  EXPECT_EQ(block->m_entries[2]->m_strLabel, "no commas at all");
  EXPECT_EQ(block->m_entries[3]->m_nOperation, kLogicOpNone) << "unknown operator";
  EXPECT_EQ(block->m_entries[3]->m_strTag3, "B");
  EXPECT_EQ(block->m_entries[4]->m_nOperation, kLogicCmpEqual) << "unknown comparison";
  EXPECT_EQ(block->m_entries[4]->m_strGotoBlock, "");

  std::istringstream empty("");
  EXPECT_TRUE(ParseLogicBlockCsv(empty, "E")->m_entries.empty());
}
