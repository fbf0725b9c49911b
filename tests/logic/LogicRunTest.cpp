// Running logic blocks against real tags: the three entry kinds, failure
// bits, where runs start and end, nesting through tag writes, and the bounds
// that stop runaway programs.
#include <gtest/gtest.h>
#include <pthread.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "core/ExchangeTag.h"
#include "core/HostUi.h"
#include "core/PlexmarApp.h"
#include "logic/LogicBlock.h"

namespace {

bool SameIgnoringCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

// Stands in for the Qt forms: a list of open form titles, and a record of
// every show and hide asked for.
class RecordingHost : public IHostUi {
 public:
  void MessageBox(const std::string& text) override { messages.push_back(text); }
  int ShowForm(const std::string& name) override {
    calls.push_back("show " + name);
    return IsOpen(name) ? 1 : 0;
  }
  int HideForm(const std::string& name) override {
    calls.push_back("hide " + name);
    return IsOpen(name) ? 1 : 0;
  }
  bool IsOpen(const std::string& name) const {
    return std::any_of(open.begin(), open.end(), [&](const std::string& t) { return SameIgnoringCase(t, name); });
  }

  std::vector<std::string> open;
  std::vector<std::string> calls;
  std::vector<std::string> messages;
};

class LogicRun : public ::testing::Test {
 protected:
  void SetUp() override { app.SetHostUi(&host); }
  void TearDown() override { app.SetHostUi(nullptr); }

  CExchangeTag& Tag(const std::string& name, const VARIANT& value, const std::string& block = "") {
    auto tag = std::make_unique<CExchangeTag>(name);
    tag->m_value = value;
    tag->m_strLogicBlock = block;
    CExchangeTag& ref = *tag;
    app.m_tags.push_back(std::move(tag));
    return ref;
  }
  CExchangeTag& Num(const std::string& name, double value, const std::string& block = "") {
    return Tag(name, MakeVariantR8(value), block);
  }
  CExchangeTag& Text(const std::string& name, const std::string& text) {
    VARIANT v = MakeVariantText(text);
    CExchangeTag& tag = Tag(name, v);
    VariantClear(&v);
    return tag;
  }

  CLogicBlock& Block(const std::string& name) {
    auto block = std::make_unique<CLogicBlock>();
    block->m_strName = name;
    CLogicBlock& ref = *block;
    app.AddLogicBlock(std::move(block));
    return ref;
  }
  static CLogicEntry& Add(CLogicBlock& block, int32_t type, int32_t op = 0, const std::string& label = "") {
    block.m_entries.push_back(std::make_unique<CLogicEntry>());
    CLogicEntry& e = *block.m_entries.back();
    e.m_nType = type;
    e.m_nOperation = op;
    e.m_strLabel = label;
    return e;
  }
  static CLogicEntry& Assign(CLogicBlock& block, const std::string& t1, const std::string& t2, int32_t op = 0,
                             const std::string& t3 = "", const std::string& label = "") {
    CLogicEntry& e = Add(block, 1, op, label);
    e.m_strTag1 = t1;
    e.m_strTag2 = t2;
    e.m_strTag3 = t3;
    return e;
  }
  static CLogicEntry& If(CLogicBlock& block, const std::string& t1, int32_t cmp, const std::string& t2,
                         const std::string& gotoBlock, const std::string& gotoLabel = "",
                         const std::string& label = "") {
    CLogicEntry& e = Add(block, 2, cmp, label);
    e.m_strTag1 = t1;
    e.m_strTag2 = t2;
    e.m_strGotoBlock = gotoBlock;
    e.m_strGotoLabel = gotoLabel;
    return e;
  }
  static CLogicEntry& Form(CLogicBlock& block, int32_t op, const std::string& form) {
    CLogicEntry& e = Add(block, 3, op);
    e.m_strFormName = form;
    return e;
  }

  double Value(const std::string& name) {
    CExchangeTag* tag = app.FindTag(name);
    EXPECT_NE(tag, nullptr) << name;
    if (!tag) return std::nan("");
    EXPECT_EQ(tag->m_value->vt, VT_R8) << name;
    return tag->m_value->dblVal;
  }

  CPlexmarApp app;
  RecordingHost host;
};

TEST_F(LogicRun, ArithmeticWritesADoubleWhateverTheTargetHeld) {
  Text("A", "not a number");
  Tag("B", MakeVariantI2(3));
  CLogicBlock& lb = Block("LB");
  Assign(lb, "A", "B", 3, "B");
  EXPECT_EQ(lb.Run(app, ""), 0);
  EXPECT_EQ(app.FindTag("A")->m_value->vt, VT_R8);
  EXPECT_EQ(Value("A"), 9.0);

  Num("One", 1);
  Num("Two", 2);
  const std::vector<std::pair<int32_t, double>> results = {{1, 3.0}, {2, -1.0}, {3, 2.0}, {4, 0.5}};
  for (const auto& [op, expected] : results) {
    CLogicBlock& b = Block("Op" + std::to_string(op));
    Assign(b, "R", "One", op, "Two");
    Num("R", -99);
    EXPECT_EQ(b.Run(app, ""), 0);
    EXPECT_EQ(Value("R"), expected) << "operator " << op;
    app.m_tags.pop_back();
  }
}

TEST_F(LogicRun, PlainCopyKeepsTheSourceType) {
  Num("A", 1);
  Text("B", "Pump running");
  CLogicBlock& lb = Block("LB");
  Assign(lb, "A", "B", 0, "NoSuchTag");  // Tag3 is not looked at without an operator
  EXPECT_EQ(lb.Run(app, ""), 0);
  const VARIANT& a = *app.FindTag("A")->m_value;
  ASSERT_EQ(a.vt, VT_BSTR);
  EXPECT_EQ(BstrToUtf8(a.bstrVal), "Pump running");
  // The target holds its own copy of the text.
  EXPECT_NE(a.bstrVal, app.FindTag("B")->m_value->bstrVal);
}

TEST_F(LogicRun, DivisionByZeroIsWrittenAsInfinity) {
  Num("A", 5);
  Num("B", 1);
  Num("C", 0);
  CLogicBlock& lb = Block("LB");
  Assign(lb, "A", "B", 4, "C");
  EXPECT_EQ(lb.Run(app, ""), 0);
  EXPECT_TRUE(std::isinf(Value("A")));
  EXPECT_GT(Value("A"), 0);
}

TEST_F(LogicRun, AFailingEntryChangesNothingAndTheRunGoesOn) {
  Num("A", 7);
  Num("B", 2);
  Text("C", "abc");
  Num("Done", 0);
  Num("One", 1);
  CLogicBlock& lb = Block("LB");
  Assign(lb, "A", "B", 1, "C");     // 4: C is not a number
  Assign(lb, "A", "C", 1, "B");     // 4: the first operand is not either
  Assign(lb, "Done", "One");
  EXPECT_EQ(lb.Run(app, ""), 4);
  EXPECT_EQ(Value("A"), 7.0);
  EXPECT_EQ(Value("Done"), 1.0);
}

TEST_F(LogicRun, FailureBitsOfEachKindAreCombined) {
  Num("A", 1);
  Num("B", 2);
  Num("Done", 0);
  Num("One", 1);
  // A tag whose writes cannot reach its source: an OPC point without a
  // client item.
  CExchangeTag& opc = Num("Opc", 0);
  opc.m_nSourceKind = CExchangeTag::kSourceOpc;
  Block("Other");

  struct Case {
    const char* what;
    int expected;
    std::function<void(CLogicBlock&)> build;
  };
  const std::vector<Case> cases = {
      {"missing target tag", 1, [](CLogicBlock& b) { Assign(b, "Nope", "A"); }},
      {"missing source tag", 1, [](CLogicBlock& b) { Assign(b, "A", "Nope"); }},
      {"missing Tag3", 1, [](CLogicBlock& b) { Assign(b, "A", "B", 1, "Nope"); }},
      {"unknown operator", 2, [](CLogicBlock& b) { Assign(b, "A", "B", 5, "B"); }},
      {"negative operator", 2, [](CLogicBlock& b) { Assign(b, "A", "B", -1, "B"); }},
      {"unknown kind", 2, [](CLogicBlock& b) { Add(b, 0); }},
      {"kind 4", 2, [](CLogicBlock& b) { Add(b, 4); }},
      {"write not delivered", 4, [](CLogicBlock& b) { Assign(b, "Opc", "A", 1, "B"); }},
      {"IF missing tag", 1, [](CLogicBlock& b) { If(b, "A", 0, "Nope", "Other"); }},
      {"IF missing block", 8, [](CLogicBlock& b) { If(b, "A", 0, "B", "Nowhere"); }},
      {"IF block name case", 8, [](CLogicBlock& b) { If(b, "A", 0, "B", "other"); }},
      {"IF unknown comparison", 2, [](CLogicBlock& b) { If(b, "A", 7, "B", "Other"); }},
  };
  for (const auto& c : cases) {
    app.m_logicBlocks.erase(app.m_logicBlocks.begin() + 1, app.m_logicBlocks.end());
    CLogicBlock& lb = Block("LB");
    c.build(lb);
    Assign(lb, "Done", "One");
    app.FindTag("Done")->m_value = MakeVariantR8(0);
    opc.m_value = MakeVariantR8(0);
    EXPECT_EQ(lb.Run(app, ""), c.expected) << c.what;
    EXPECT_EQ(Value("Done"), 1.0) << c.what << ": the run went on";
    EXPECT_EQ(Value("A"), 1.0) << c.what;

    // Execute on its own reports the same bit and asks to go on.
    opc.m_value = MakeVariantR8(0);
    int failure = -1;
    EXPECT_EQ(lb.m_entries[0]->Execute(app, failure), 1) << c.what;
    EXPECT_EQ(failure, c.expected) << c.what;
  }

  // The bits of a run are the OR of its entries'.
  app.m_logicBlocks.erase(app.m_logicBlocks.begin() + 1, app.m_logicBlocks.end());
  CLogicBlock& all = Block("All");
  Assign(all, "Nope", "A");
  Add(all, 9);
  Assign(all, "Opc", "A", 3, "B");
  If(all, "A", 0, "B", "Nowhere");
  Assign(all, "A", "B");
  EXPECT_EQ(all.Run(app, ""), 15);
  EXPECT_EQ(Value("A"), 2.0);

  // A successful entry reports 0 in a failure code that held something.
  int failure = 99;
  EXPECT_EQ(all.m_entries[4]->Execute(app, failure), 1);
  EXPECT_EQ(failure, 0);
}

TEST_F(LogicRun, AFalseIfGoesOnATrueIfEndsTheRunAfterItsTarget) {
  Num("A", 0);
  Num("B", 5);
  Num("L", 3);
  Num("C", -1);
  Num("D", -1);
  CLogicBlock& lb = Block("LB");
  Assign(lb, "A", "B");
  If(lb, "A", 1, "L", "LB2");
  Assign(lb, "C", "A");
  CLogicBlock& lb2 = Block("LB2");
  Assign(lb2, "D", "B");

  EXPECT_EQ(lb.Run(app, ""), 0);
  EXPECT_EQ(Value("A"), 5.0);
  EXPECT_EQ(Value("D"), 5.0) << "LB2 ran from its first entry";
  EXPECT_EQ(Value("C"), -1.0) << "the entry after a true IF is not carried out";

  app.FindTag("B")->m_value = MakeVariantR8(2);
  app.FindTag("D")->m_value = MakeVariantR8(-1);
  EXPECT_EQ(lb.Run(app, ""), 0);
  EXPECT_EQ(Value("C"), 2.0);
  EXPECT_EQ(Value("D"), -1.0);
}

TEST_F(LogicRun, EveryComparisonCode) {
  Num("X", 0);
  Num("Y", 0);
  Num("Hit", 0);
  Num("One", 1);
  CLogicBlock& target = Block("T");
  Assign(target, "Hit", "One");
  const double pairs[][2] = {{1, 1}, {2, 1}, {1, 2}};
  // Expected outcome per comparison code for equal, greater and less.
  const bool expected[5][3] = {
      {true, false, false}, {false, true, false}, {false, false, true},
      {true, true, false}, {true, false, true}};
  for (int cmp = 0; cmp < 5; ++cmp) {
    for (int p = 0; p < 3; ++p) {
      app.FindTag("X")->m_value = MakeVariantR8(pairs[p][0]);
      app.FindTag("Y")->m_value = MakeVariantR8(pairs[p][1]);
      app.FindTag("Hit")->m_value = MakeVariantR8(0);
      CLogicBlock lb;
      If(lb, "X", cmp, "Y", "T");
      EXPECT_EQ(lb.Run(app, ""), 0);
      EXPECT_EQ(Value("Hit") == 1.0, expected[cmp][p]) << "code " << cmp << " pair " << p;
    }
  }
  // Text that reads as a number compares as that number.
  Text("S", " 2 ");
  app.FindTag("X")->m_value = MakeVariantR8(2);
  app.FindTag("Hit")->m_value = MakeVariantR8(0);
  CLogicBlock lb;
  If(lb, "X", 0, "S", "T");
  EXPECT_EQ(lb.Run(app, ""), 0);
  EXPECT_EQ(Value("Hit"), 1.0);
}

TEST_F(LogicRun, AMissingGotoTargetFailsBeforeTheComparison) {
  Text("S", "abc");
  Num("A", 1);
  Num("Done", 0);
  Num("One", 1);
  CLogicBlock& target = Block("T");
  Assign(target, "A", "One", 1, "One", "Here");
  CLogicBlock& lb = Block("LB");
  If(lb, "A", 2, "One", "Missing");     // false condition, still 8
  If(lb, "S", 0, "A", "Missing");       // not numeric, but the target comes first
  If(lb, "A", 0, "One", "T", "There");  // a label the target does not carry
  If(lb, "A", 0, "One", "T", "here");   // labels are case-sensitive
  Assign(lb, "Done", "One");
  EXPECT_EQ(lb.Run(app, ""), 8);
  EXPECT_EQ(Value("Done"), 1.0);
  EXPECT_EQ(Value("A"), 1.0) << "nothing of T ran";

  // With the label spelled right the jump lands on it.
  lb.m_entries[3]->m_strGotoLabel = "Here";
  app.FindTag("Done")->m_value = MakeVariantR8(0);
  EXPECT_EQ(lb.Run(app, ""), 8);
  EXPECT_EQ(Value("A"), 2.0);
  EXPECT_EQ(Value("Done"), 0.0);
}

TEST_F(LogicRun, RunStartsAtTheFirstEntryCarryingTheLabel) {
  Num("N", 0);
  Num("One", 1);
  CLogicBlock& lb = Block("LB");
  Assign(lb, "N", "N", 1, "One");
  Assign(lb, "N", "N", 1, "One", "Mid");
  Assign(lb, "N", "N", 1, "One", "Mid");
  Assign(lb, "N", "N", 1, "One", "End");

  EXPECT_EQ(lb.Run(app, "End"), 0);
  EXPECT_EQ(Value("N"), 1.0);
  EXPECT_EQ(lb.Run(app, "Mid"), 0);
  EXPECT_EQ(Value("N"), 4.0);
  EXPECT_EQ(lb.Run(app, ""), 0);
  EXPECT_EQ(Value("N"), 8.0);
  // A label that no entry carries runs nothing.
  EXPECT_EQ(lb.Run(app, "mid"), 0);
  EXPECT_EQ(lb.Run(app, "Nowhere"), 0);
  EXPECT_EQ(Value("N"), 8.0);

  CLogicBlock empty;
  EXPECT_EQ(empty.Run(app, ""), 0);
  EXPECT_EQ(empty.Run(app, "x"), 0);
}

TEST_F(LogicRun, FailuresOfTheJumpTargetAreNotThisRuns) {
  Num("A", 1);
  Block("Bad").m_entries.push_back(std::make_unique<CLogicEntry>());  // assignment of nothing: 1
  Assign(*app.FindLogicBlock("Bad"), "A", "A", 9, "A");              // 2
  CLogicBlock& lb = Block("LB");
  Assign(lb, "A", "Nope");
  If(lb, "A", 0, "A", "Bad");
  EXPECT_EQ(lb.Run(app, ""), 1);

  // Execute on the IF itself runs the target and ends the run.
  int failure = -1;
  Num("Hit", 0);
  Num("One", 1);
  CLogicBlock& t = Block("T");
  Assign(t, "Hit", "One");
  CLogicEntry& jump = If(lb, "A", 0, "A", "T");
  EXPECT_EQ(jump.Execute(app, failure), 0);
  EXPECT_EQ(failure, 0);
  EXPECT_EQ(Value("Hit"), 1.0);
}

TEST_F(LogicRun, ALoopBackToAnEarlierLabelRunsUntilItsConditionFails) {
  Num("Count", 0);
  Num("One", 1);
  Num("Ten", 10);
  Num("After", 0);
  CLogicBlock& lb = Block("Loop");
  Assign(lb, "Count", "Count", 1, "One", "Top");
  If(lb, "Count", 2, "Ten", "Loop", "Top");
  Assign(lb, "After", "Count");
  lb.Run(app, "");
  EXPECT_EQ(Value("Count"), 10.0);
  EXPECT_EQ(Value("After"), 10.0) << "the false IF lets the last entry run once";
}

TEST_F(LogicRun, FormEntriesShowHideAndEndTheRunWhenNotFound) {
  Num("Done", 0);
  Num("One", 1);
  host.open = {"Overview", "PLANT2"};
  CLogicBlock& lb = Block("LB");
  Form(lb, 1, "Overview");
  Form(lb, 0, "plant2");
  Form(lb, 7, "OVERVIEW");  // any nonzero code shows
  Assign(lb, "Done", "One");
  EXPECT_EQ(lb.Run(app, ""), 0);
  EXPECT_EQ(host.calls, (std::vector<std::string>{"show Overview", "hide plant2", "show OVERVIEW"}));
  EXPECT_EQ(Value("Done"), 1.0);

  // A form that is neither open nor openable ends the run, with no failure.
  for (int32_t op : {1, 0}) {
    host.calls.clear();
    app.FindTag("Done")->m_value = MakeVariantR8(0);
    CLogicBlock b;
    Form(b, op, "Plant");
    Assign(b, "Done", "One");
    EXPECT_EQ(b.Run(app, ""), 0);
    EXPECT_EQ(host.calls.size(), 1u);
    EXPECT_EQ(Value("Done"), 0.0) << "op " << op;
    int failure = -1;
    EXPECT_EQ(b.m_entries[0]->Execute(app, failure), 0);
    EXPECT_EQ(failure, 0);
  }

  // Without a user interface no form can be found.
  app.SetHostUi(nullptr);
  EXPECT_EQ(app.ShowForm("Overview"), 0);
  EXPECT_EQ(app.HideForm("Overview"), 0);
  app.FindTag("Done")->m_value = MakeVariantR8(0);
  EXPECT_EQ(lb.Run(app, ""), 0);
  EXPECT_EQ(Value("Done"), 0.0);
}

TEST_F(LogicRun, TagWritesRunTheTagsBlockNestedAndDepthFirst) {
  Num("B", 4);
  Num("C", 10);
  Num("D", 0);
  Num("A", 0, "OnA");
  CLogicBlock& onA = Block("OnA");
  Assign(onA, "D", "C");  // sees C before the outer run changes it
  CLogicBlock& lb = Block("LB");
  Assign(lb, "A", "B");
  Assign(lb, "C", "A");
  lb.Run(app, "");
  EXPECT_EQ(Value("A"), 4.0);
  EXPECT_EQ(Value("D"), 10.0);
  EXPECT_EQ(Value("C"), 4.0);

  // Writing the value the tag already holds runs nothing.
  app.FindTag("C")->m_value = MakeVariantR8(77);
  lb.Run(app, "");
  EXPECT_EQ(Value("D"), 10.0);
}

TEST_F(LogicRun, TagsReachTheirBlocksByNameAtEachChange) {
  Num("One", 1);
  Num("Hits", 0);
  CExchangeTag& a = Num("A", 0, "Missing");
  HRESULT hr = S_OK;
  a.Write(MakeVariantR8(1), hr);  // a missing block is silently ignored
  EXPECT_EQ(Value("A"), 1.0);
  EXPECT_EQ(hr, S_OK);

  // The block appears later under that name and runs from then on.
  Assign(Block("Missing"), "Hits", "Hits", 1, "One");
  a.Write(MakeVariantR8(2), hr);
  EXPECT_EQ(Value("Hits"), 1.0);
  a.Write(MakeVariantR8(2), hr);
  EXPECT_EQ(Value("Hits"), 1.0) << "the same value twice runs the block once";

  // A lookup by name is exact.
  a.m_strLogicBlock = "missing";
  a.Write(MakeVariantR8(3), hr);
  EXPECT_EQ(Value("Hits"), 1.0);
}

TEST_F(LogicRun, ApplicationBlockList) {
  Num("One", 1);
  Num("N", 0);
  CLogicBlock& first = Block("Pump");
  Assign(first, "N", "N", 1, "One");
  CLogicBlock& lower = Block("pump");
  Block("Pump");  // a duplicate name, as a CSV import may leave
  EXPECT_EQ(app.FindLogicBlock("Pump"), &first);
  EXPECT_EQ(app.FindLogicBlock("pump"), &lower);
  EXPECT_EQ(app.FindLogicBlock("PUMP"), nullptr);
  EXPECT_EQ(app.FindLogicBlock(""), nullptr);

  EXPECT_FALSE(app.IsLogicBlockNameUnique(""));
  EXPECT_FALSE(app.IsLogicBlockNameUnique("Pump"));
  EXPECT_TRUE(app.IsLogicBlockNameUnique("PUMP"));

  app.RunLogicBlock("Pump");
  EXPECT_EQ(Value("N"), 1.0);
  app.RunLogicBlock("PUMP");
  app.RunLogicBlock("");
  EXPECT_EQ(Value("N"), 1.0);

  // Removing takes the first of that name only; an unknown name does nothing.
  app.RemoveLogicBlock("Pump");
  ASSERT_EQ(app.m_logicBlocks.size(), 2u);
  EXPECT_EQ(app.m_logicBlocks[0]->m_strName, "pump");
  EXPECT_EQ(app.m_logicBlocks[1]->m_strName, "Pump");
  EXPECT_TRUE(app.m_logicBlocks[1]->m_entries.empty());
  app.RemoveLogicBlock("nothing");
  app.RemoveLogicBlock("");
  EXPECT_EQ(app.m_logicBlocks.size(), 2u);

  // Appending keeps order; nothing is appended for a null block.
  app.AddLogicBlock(nullptr);
  EXPECT_EQ(app.m_logicBlocks.size(), 2u);
  Block("Last");
  EXPECT_EQ(app.m_logicBlocks.back()->m_strName, "Last");
}

// --- runaway programs -------------------------------------------------------

TEST_F(LogicRun, AnIfThatLoopsForeverEndsAtTheStepBound) {
  Num("Count", 0);
  Num("One", 1);
  CLogicBlock& lb = Block("Self");
  Assign(lb, "Count", "Count", 1, "One");
  If(lb, "One", 0, "One", "Self");
  const auto start = std::chrono::steady_clock::now();
  const int result = lb.Run(app, "");
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(result, kLogicFailRunaway);
  EXPECT_EQ(Value("Count"), static_cast<double>(CLogicBlock::kMaxStepsPerTrigger / 2));
  EXPECT_LT(elapsed, std::chrono::seconds(20));

  // The next trigger has a fresh budget.
  app.FindTag("Count")->m_value = MakeVariantR8(0);
  CLogicBlock once;
  Assign(once, "Count", "Count", 1, "One");
  EXPECT_EQ(once.Run(app, ""), 0);
  EXPECT_EQ(Value("Count"), 1.0);

  // An IF that jumps to its own label, with nothing else to do.
  CLogicBlock& spin = Block("Spin");
  If(spin, "One", 0, "One", "Spin", "S", "S");
  EXPECT_EQ(spin.Run(app, ""), kLogicFailRunaway);
}

TEST_F(LogicRun, TwoTagsFeedingEachOtherStopAtTheDepthBound) {
  Num("One", 1);
  Num("A", 0, "OnA");
  Num("B", 0, "OnB");
  Assign(Block("OnA"), "B", "A", 1, "One");
  Assign(Block("OnB"), "A", "B", 1, "One");
  HRESULT hr = S_OK;
  app.FindTag("A")->Write(MakeVariantR8(1), hr);
  // Runs 1..kMaxRunDepth each wrote one more than they saw; the run the last
  // write asked for was not started.
  const double top = std::max(Value("A"), Value("B"));
  EXPECT_EQ(top, static_cast<double>(CLogicBlock::kMaxRunDepth + 1));
  EXPECT_EQ(std::abs(Value("A") - Value("B")), 1.0);

  // Started as a run of its own, the cut-off shows in the result.
  CLogicBlock& outer = Block("Outer");
  Assign(outer, "A", "A", 1, "One");
  Assign(outer, "One", "One");
  EXPECT_EQ(outer.Run(app, ""), 0) << "the nested cut-off is the nested run's";
  EXPECT_EQ(std::max(Value("A"), Value("B")), top + CLogicBlock::kMaxRunDepth);
}

// The depth bound keeps a runaway inside a small stack: the ping-pong runs on
// a thread with 512 KiB of stack, an eighth of what the program's own thread
// has, and the runaway state is per thread, so this thread starts afresh.
TEST_F(LogicRun, TheDepthBoundFitsASmallStack) {
  Num("One", 1);
  Num("A", 0, "OnA");
  Num("B", 0, "OnB");
  Assign(Block("OnA"), "B", "A", 1, "One");
  Assign(Block("OnB"), "A", "B", 1, "One");

  pthread_attr_t attr;
  ASSERT_EQ(pthread_attr_init(&attr), 0);
  ASSERT_EQ(pthread_attr_setstacksize(&attr, 512 * 1024), 0);
  pthread_t thread;
  const auto body = [](void* arg) -> void* {
    HRESULT hr = S_OK;
    static_cast<CExchangeTag*>(arg)->Write(MakeVariantR8(1), hr);
    return nullptr;
  };
  ASSERT_EQ(pthread_create(&thread, &attr, body, app.FindTag("A")), 0);
  ASSERT_EQ(pthread_join(thread, nullptr), 0);
  pthread_attr_destroy(&attr);
  EXPECT_EQ(std::max(Value("A"), Value("B")), static_cast<double>(CLogicBlock::kMaxRunDepth + 1));
}

TEST_F(LogicRun, BlocksThatFanOutIntoEachOtherEndAtTheStepBound) {
  // Each run writes two tags that both start the same block again: without a
  // step bound this grows as 2^depth.
  Num("One", 1);
  Num("Runs", 0);
  Num("A", 0, "Fan");
  Num("B", 0, "Fan");
  CLogicBlock& fan = Block("Fan");
  Assign(fan, "Runs", "Runs", 1, "One");
  Assign(fan, "A", "A", 1, "One");
  Assign(fan, "B", "B", 1, "One");
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(fan.Run(app, ""), kLogicFailRunaway);
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_LT(elapsed, std::chrono::seconds(20));
  EXPECT_GT(Value("Runs"), 1000.0);
  EXPECT_LE(Value("Runs"), static_cast<double>(CLogicBlock::kMaxStepsPerTrigger));

  // A hot text click after it runs normally again.
  app.FindTag("Runs")->m_value = MakeVariantR8(0);
  app.FindTag("A")->m_strLogicBlock.clear();
  app.FindTag("B")->m_strLogicBlock.clear();
  app.RunLogicBlock("Fan");
  EXPECT_EQ(Value("Runs"), 1.0);
}

}  // namespace
