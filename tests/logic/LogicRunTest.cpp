// Running logic blocks against real tags: the three entry kinds, failure
// bits, where runs start and end, nesting through tag writes, and the bounds
// that stop runaway programs.
#include <gtest/gtest.h>
#include <pthread.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <string>
#include <vector>

#include "core/ExchangeTag.h"
#include "core/HostUi.h"
#include "core/PlexmarApp.h"
#include "logic/LogicBlock.h"

namespace {

// Stands in for the Qt forms: open form titles (found ignoring case) and a
// record of every show and hide asked for.
class RecordingHost : public IHostUi {
 public:
  void MessageBox(const std::string&) override {}
  int ShowForm(const std::string& name) override { return Record("show " + name, name); }
  int HideForm(const std::string& name) override { return Record("hide " + name, name); }
  std::vector<std::string> open, calls;

 private:
  static std::string Lower(std::string s) {
    for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
  }
  int Record(const std::string& call, const std::string& name) {
    calls.push_back(call);
    return std::any_of(open.begin(), open.end(), [&](const auto& t) { return Lower(t) == Lower(name); });
  }
};

class LogicRun : public ::testing::Test {
 protected:
  void SetUp() override { app.SetHostUi(&host); }

  CExchangeTag& Tag(const std::string& name, const VARIANT& value, const std::string& block = "") {
    app.m_tags.push_back(std::make_unique<CExchangeTag>(name));
    app.m_tags.back()->m_value = value;
    app.m_tags.back()->m_strLogicBlock = block;
    return *app.m_tags.back();
  }
  CExchangeTag& Num(const std::string& name, double value, const std::string& block = "") {
    return Tag(name, MakeVariantR8(value), block);
  }
  void Text(const std::string& name, const std::string& text) {
    VARIANT v = MakeVariantText(text);
    Tag(name, v);
    VariantClear(&v);
  }
  void Set(const std::string& name, double value) { app.FindTag(name)->m_value = MakeVariantR8(value); }
  double Value(const std::string& name) {
    const VARIANT& v = *app.FindTag(name)->m_value;
    EXPECT_EQ(v.vt, VT_R8) << name;
    return v.dblVal;
  }

  CLogicBlock& Block(const std::string& name) {
    app.AddLogicBlock(std::make_unique<CLogicBlock>());
    app.m_logicBlocks.back()->m_strName = name;
    return *app.m_logicBlocks.back();
  }
  // type, op, Tag1, Tag2, Tag3, GOTO block, GOTO label, form, label
  static CLogicEntry& E(CLogicBlock& b, int32_t type, int32_t op, std::string t1 = "", std::string t2 = "",
                        std::string t3 = "", std::string gb = "", std::string gl = "", std::string form = "",
                        std::string label = "") {
    b.m_entries.push_back(std::make_unique<CLogicEntry>());
    CLogicEntry& e = *b.m_entries.back();
    e.m_nType = type;
    e.m_nOperation = op;
    e.m_strTag1 = t1;
    e.m_strTag2 = t2;
    e.m_strTag3 = t3;
    e.m_strGotoBlock = gb;
    e.m_strGotoLabel = gl;
    e.m_strFormName = form;
    e.m_strLabel = label;
    return e;
  }
  // Target = Target + One: counts the runs of an entry.
  static void Count(CLogicBlock& b, const std::string& tag, const std::string& label = "") {
    E(b, 1, 1, tag, tag, "One", "", "", "", label);
  }

  CPlexmarApp app;
  RecordingHost host;
};

// A coil read from a slave holds true as 1: arithmetic on it counts 1, as a
// register fed from it expects, while a client's VARIANT_TRUE counts -1.
TEST_F(LogicRun, ACoilsTrueCountsAsTheOneItHolds) {
  VARIANT coil = MakeVariantBool(true);
  coil.boolVal = 1;
  Tag("Coil", coil);
  Tag("ClientTrue", MakeVariantBool(true));
  Num("Zero", 0);
  Num("R", 5);
  Num("S", 5);
  CLogicBlock& lb = Block("LB");
  E(lb, 1, 1, "R", "Coil", "Zero");
  E(lb, 1, 1, "S", "ClientTrue", "Zero");
  EXPECT_EQ(lb.Run(app, ""), 0);
  EXPECT_EQ(Value("R"), 1.0);
  EXPECT_EQ(Value("S"), -1.0);
}

TEST_F(LogicRun, AssignmentsComputeDoublesAndCopyUnchanged) {
  Text("A", "not a number");
  Tag("B", MakeVariantI2(3));
  Num("C", 0);
  Num("R", 0);
  Text("S", "Pump running");
  CLogicBlock& lb = Block("LB");
  E(lb, 1, 3, "A", "B", "B");        // A = B * B, whatever A held
  E(lb, 1, 2, "R", "C", "B");        // R = C - B
  E(lb, 1, 0, "C", "S", "Nope");     // plain copy: Tag3 not looked at
  EXPECT_EQ(lb.Run(app, ""), 0);
  EXPECT_EQ(Value("A"), 9.0);
  EXPECT_EQ(Value("R"), -3.0);
  const VARIANT& c = *app.FindTag("C")->m_value;
  ASSERT_EQ(c.vt, VT_BSTR);
  EXPECT_EQ(BstrToUtf8(c.bstrVal), "Pump running");
  EXPECT_NE(c.bstrVal, app.FindTag("S")->m_value->bstrVal) << "the target owns its copy";

  Num("One", 1);
  Num("Zero", 0);
  CLogicBlock& div = Block("Div");
  E(div, 1, 4, "A", "One", "Zero");
  E(div, 1, 1, "R", "One", "One");
  EXPECT_EQ(div.Run(app, ""), 0);
  EXPECT_TRUE(std::isinf(Value("A")) && Value("A") > 0);
  EXPECT_EQ(Value("R"), 2.0);
}

TEST_F(LogicRun, EachFailureSkipsOnlyItsEntryAndSetsItsBit) {
  Num("A", 1);
  Num("B", 2);
  Text("S", "abc");
  Num("Done", 0);
  Num("One", 1);
  // An OPC point without a client item: writes to it cannot reach a source.
  CExchangeTag& opc = Num("Opc", 0);
  opc.m_nSourceKind = CExchangeTag::kSourceOpc;
  Block("Other");
  struct Case { int bit; int32_t type, op; const char *t1, *t2, *t3, *gb, *gl; };
  const Case cases[] = {
      {1, 1, 0, "Nope", "A", "", "", ""},       {1, 1, 0, "A", "Nope", "", "", ""},
      {1, 1, 1, "A", "B", "Nope", "", ""},      {2, 1, 5, "A", "B", "B", "", ""},
      {2, 1, -1, "A", "B", "B", "", ""},        {2, 0, 0, "A", "B", "B", "", ""},
      {2, 4, 0, "A", "B", "B", "", ""},         {4, 1, 1, "A", "B", "S", "", ""},
      {4, 1, 1, "A", "S", "B", "", ""},         {4, 1, 1, "Opc", "A", "B", "", ""},
      {1, 2, 0, "A", "Nope", "", "Other", ""},  {8, 2, 2, "A", "B", "", "Nowhere", ""},
      {8, 2, 0, "A", "B", "", "other", ""},     {8, 2, 0, "S", "A", "", "Nowhere", ""},
      {8, 2, 0, "A", "A", "", "Other", "L"},    {4, 2, 0, "S", "A", "", "Other", ""},
      {2, 2, 7, "A", "B", "", "Other", ""},
  };
  int all = 0;
  CLogicBlock& combined = Block("All");
  for (const Case& c : cases) {
    CLogicBlock lb;
    E(lb, c.type, c.op, c.t1, c.t2, c.t3, c.gb, c.gl);
    E(lb, 1, 0, "Done", "One");
    Set("Done", 0);
    Set("Opc", 0);
    EXPECT_EQ(lb.Run(app, ""), c.bit) << c.t1 << " " << c.type << "/" << c.op;
    EXPECT_EQ(Value("Done"), 1.0) << "the run went on";
    EXPECT_EQ(Value("A"), 1.0) << "the failing entry changed nothing";
    Set("Opc", 0);
    int failure = -1;
    EXPECT_EQ(lb.m_entries[0]->Execute(app, failure), 1);
    EXPECT_EQ(failure, c.bit);
    E(combined, c.type, c.op, c.t1, c.t2, c.t3, c.gb, c.gl);
    all |= c.bit;
  }
  Set("Opc", 0);
  EXPECT_EQ(combined.Run(app, ""), all);
  EXPECT_EQ(all, 15);
  int failure = 99;
  E(combined, 1, 0, "A", "B");
  EXPECT_EQ(combined.m_entries.back()->Execute(app, failure), 1);
  EXPECT_EQ(failure, 0) << "success clears the code";
}

TEST_F(LogicRun, ATrueIfRunsItsTargetAndEndsTheRun) {
  Num("A", 0);
  Num("B", 5);
  Num("L", 3);
  Num("C", -1);
  Num("D", -1);
  CLogicBlock& lb = Block("LB");
  E(lb, 1, 0, "A", "B");
  E(lb, 2, 1, "A", "L", "", "LB2");
  E(lb, 1, 0, "C", "A");
  E(Block("LB2"), 1, 0, "D", "B");
  EXPECT_EQ(lb.Run(app, ""), 0);
  EXPECT_EQ(Value("D"), 5.0) << "LB2 ran from its first entry";
  EXPECT_EQ(Value("C"), -1.0) << "nothing after a true IF";
  Set("B", 2);
  Set("D", -1);
  EXPECT_EQ(lb.Run(app, ""), 0);
  EXPECT_EQ(Value("C"), 2.0);
  EXPECT_EQ(Value("D"), -1.0);

  // Comparison codes against equal, greater and less pairs; text that reads
  // as a number compares as that number.
  Num("One", 1);
  Num("Hit", 0);
  Text("Two", " 2 ");
  E(Block("T"), 1, 0, "Hit", "One");
  const bool expected[5][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {1, 1, 0}, {1, 0, 1}};
  const double left[3] = {2, 3, 1};
  for (int cmp = 0; cmp < 5; ++cmp) {
    for (int p = 0; p < 3; ++p) {
      Set("A", left[p]);
      Set("Hit", 0);
      CLogicBlock b;
      E(b, 2, cmp, "A", "Two", "", "T");
      EXPECT_EQ(b.Run(app, ""), 0);
      EXPECT_EQ(Value("Hit") == 1.0, expected[cmp][p]) << "code " << cmp << " left " << left[p];
    }
  }

  // The target's failures are its own, also through Execute.
  CLogicBlock& bad = Block("Bad");
  E(bad, 1, 9, "A", "A", "A");  // bit 2, not the jumping run's
  CLogicBlock jumper;
  E(jumper, 1, 0, "Nope", "A");
  E(jumper, 2, 0, "A", "A", "", "Bad");
  EXPECT_EQ(jumper.Run(app, ""), 1);
  int failure = -1;
  E(bad, 1, 0, "Hit", "L");
  EXPECT_EQ(jumper.m_entries[1]->Execute(app, failure), 0);
  EXPECT_EQ(failure, 0);
  EXPECT_EQ(Value("Hit"), 3.0);
}

TEST_F(LogicRun, RunsStartAtTheFirstEntryCarryingTheLabel) {
  Num("N", 0);
  Num("One", 1);
  Num("Ten", 10);
  CLogicBlock& lb = Block("LB");
  Count(lb, "N");
  Count(lb, "N", "Mid");
  Count(lb, "N", "Mid");
  Count(lb, "N", "End");
  EXPECT_EQ(lb.Run(app, "End"), 0);
  EXPECT_EQ(Value("N"), 1.0);
  EXPECT_EQ(lb.Run(app, "Mid"), 0);
  EXPECT_EQ(Value("N"), 4.0);
  lb.Run(app, "");
  lb.Run(app, "mid");  // a label no entry carries runs nothing
  lb.Run(app, "Nowhere");
  EXPECT_EQ(Value("N"), 8.0);
  EXPECT_EQ(CLogicBlock().Run(app, ""), 0);

  // A GOTO to a label its block lacks is a missing target: bit 8, go on.
  Set("N", 0);
  CLogicBlock jumper;
  E(jumper, 2, 0, "One", "One", "", "LB", "mid");
  Count(jumper, "N");
  EXPECT_EQ(jumper.Run(app, ""), 8);
  EXPECT_EQ(Value("N"), 1.0);

  // A loop back to an earlier label runs until its condition fails.
  Num("Count", 0);
  Num("After", 0);
  CLogicBlock& loop = Block("Loop");
  Count(loop, "Count", "Top");
  E(loop, 2, 2, "Count", "Ten", "", "Loop", "Top");
  E(loop, 1, 0, "After", "Count");
  EXPECT_EQ(loop.Run(app, ""), 0);
  EXPECT_EQ(Value("Count"), 10.0);
  EXPECT_EQ(Value("After"), 10.0);
}

TEST_F(LogicRun, FormEntriesEndTheRunWhenTheFormIsNotFound) {
  Num("Done", 0);
  Num("One", 1);
  host.open = {"Overview", "PLANT2"};
  CLogicBlock& lb = Block("LB");
  E(lb, 3, 1, "", "", "", "", "", "Overview");
  E(lb, 3, 0, "", "", "", "", "", "plant2");
  E(lb, 3, 7, "", "", "", "", "", "OVERVIEW");
  Count(lb, "Done");
  EXPECT_EQ(lb.Run(app, ""), 0);
  EXPECT_EQ(host.calls, (std::vector<std::string>{"show Overview", "hide plant2", "show OVERVIEW"}));
  EXPECT_EQ(Value("Done"), 1.0);

  for (int32_t op : {1, 0}) {
    CLogicBlock b;
    E(b, 3, op, "", "", "", "", "", "Plant");
    Count(b, "Done");
    EXPECT_EQ(b.Run(app, ""), 0);
    int failure = -1;
    EXPECT_EQ(b.m_entries[0]->Execute(app, failure), 0);
    EXPECT_EQ(failure, 0);
  }
  EXPECT_EQ(Value("Done"), 1.0);

  app.SetHostUi(nullptr);  // without a user interface no form is found
  EXPECT_EQ(app.ShowForm("Overview") + app.HideForm("Overview"), 0);
  lb.Run(app, "");
  EXPECT_EQ(Value("Done"), 1.0);
}

TEST_F(LogicRun, TagWritesRunTheirBlockNestedAndDepthFirst) {
  Num("B", 4);
  Num("C", 10);
  Num("D", 0);
  Num("One", 1);
  Num("Hits", 0);
  CExchangeTag& a = Num("A", 0, "OnA");
  E(Block("OnA"), 1, 0, "D", "C");  // sees C before the outer run changes it
  CLogicBlock& lb = Block("LB");
  E(lb, 1, 0, "A", "B");
  E(lb, 1, 0, "C", "A");
  lb.Run(app, "");
  EXPECT_EQ(Value("D"), 10.0);
  EXPECT_EQ(Value("C"), 4.0);
  Set("C", 77);
  lb.Run(app, "");  // A already holds 4: no write, no run
  EXPECT_EQ(Value("D"), 10.0);

  // The reference is resolved by exact name at each change.
  a.m_strLogicBlock = "Later";
  HRESULT hr = S_OK;
  a.Write(MakeVariantR8(1), hr);
  EXPECT_EQ(Value("A"), 1.0);
  Count(Block("Later"), "Hits");
  a.Write(MakeVariantR8(2), hr);
  a.Write(MakeVariantR8(2), hr);
  EXPECT_EQ(Value("Hits"), 1.0);
  a.m_strLogicBlock = "later";
  a.Write(MakeVariantR8(3), hr);
  EXPECT_EQ(Value("Hits"), 1.0);
  EXPECT_EQ(hr, S_OK);
}

TEST_F(LogicRun, ApplicationBlockList) {
  Num("One", 1);
  Num("N", 0);
  CLogicBlock& first = Block("Pump");
  Count(first, "N");
  CLogicBlock& lower = Block("pump");
  Block("Pump");  // a duplicate name, as a CSV import may leave
  EXPECT_EQ(app.FindLogicBlock("Pump"), &first);
  EXPECT_EQ(app.FindLogicBlock("pump"), &lower);
  EXPECT_EQ(app.FindLogicBlock("PUMP"), nullptr);
  EXPECT_FALSE(app.IsLogicBlockNameUnique(""));
  EXPECT_FALSE(app.IsLogicBlockNameUnique("Pump"));
  EXPECT_TRUE(app.IsLogicBlockNameUnique("PUMP"));
  app.RunLogicBlock("Pump");
  app.RunLogicBlock("PUMP");
  app.RunLogicBlock("");
  EXPECT_EQ(Value("N"), 1.0);

  app.RemoveLogicBlock("Pump");  // the first of that name only
  app.RemoveLogicBlock("nothing");
  app.AddLogicBlock(nullptr);
  ASSERT_EQ(app.m_logicBlocks.size(), 2u);
  EXPECT_EQ(app.m_logicBlocks[0]->m_strName, "pump");
  EXPECT_TRUE(app.m_logicBlocks[1]->m_entries.empty());
}

// --- runaway programs -------------------------------------------------------

TEST_F(LogicRun, AnIfThatLoopsForeverEndsAtTheStepBound) {
  Num("N", 0);
  Num("One", 1);
  CLogicBlock& self = Block("Self");
  Count(self, "N");
  E(self, 2, 0, "One", "One", "", "Self");
  EXPECT_EQ(self.Run(app, ""), kLogicFailRunaway);
  EXPECT_EQ(Value("N"), static_cast<double>(CLogicBlock::kMaxStepsPerTrigger / 2));

  CLogicBlock& spin = Block("Spin");
  E(spin, 2, 0, "One", "One", "", "Spin", "S", "", "S");
  EXPECT_EQ(spin.Run(app, ""), kLogicFailRunaway);

  CLogicBlock once;  // the next trigger has a fresh budget
  Count(once, "N");
  EXPECT_EQ(once.Run(app, ""), 0);
  EXPECT_EQ(Value("N"), CLogicBlock::kMaxStepsPerTrigger / 2 + 1.0);
}

TEST_F(LogicRun, TwoTagsFeedingEachOtherStopAtTheDepthBound) {
  Num("One", 1);
  Num("A", 0, "OnA");
  Num("B", 0, "OnB");
  E(Block("OnA"), 1, 1, "B", "A", "One");
  E(Block("OnB"), 1, 1, "A", "B", "One");
  // Run d writes d + 1; the run the write of run kMaxRunDepth asks for is
  // not started, and the runs around it finish normally.
  CLogicBlock outer;
  E(outer, 1, 1, "A", "A", "One");
  Count(outer, "One");
  EXPECT_EQ(outer.Run(app, ""), 0);
  EXPECT_EQ(Value("One"), 2.0);
  EXPECT_EQ(std::max(Value("A"), Value("B")), static_cast<double>(CLogicBlock::kMaxRunDepth));
  EXPECT_EQ(std::abs(Value("A") - Value("B")), 1.0);

  // The bound also fits a thread with 512 KiB of stack, an eighth of the
  // program's own, under the sanitizers too. The count is per thread.
  Set("One", 1);
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  ASSERT_EQ(pthread_attr_setstacksize(&attr, 512 * 1024), 0);
  pthread_t thread;
  const auto body = [](void* arg) -> void* {
    HRESULT hr = S_OK;
    static_cast<CExchangeTag*>(arg)->Write(MakeVariantR8(1000), hr);
    return nullptr;
  };
  ASSERT_EQ(pthread_create(&thread, &attr, body, app.FindTag("A")), 0);
  pthread_join(thread, nullptr);
  pthread_attr_destroy(&attr);
  EXPECT_EQ(std::max(Value("A"), Value("B")), 1000.0 + CLogicBlock::kMaxRunDepth);
}

TEST_F(LogicRun, BlocksThatFanOutIntoEachOtherEndAtTheStepBound) {
  // Each run writes two tags that start the same block again: 2^depth runs
  // without a step bound.
  Num("One", 1);
  Num("Runs", 0);
  Num("A", 0, "Fan");
  Num("B", 0, "Fan");
  CLogicBlock& fan = Block("Fan");
  Count(fan, "Runs");
  Count(fan, "A");
  Count(fan, "B");
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(fan.Run(app, ""), kLogicFailRunaway);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
  EXPECT_GT(Value("Runs"), 1000.0);
  EXPECT_LE(Value("Runs"), static_cast<double>(CLogicBlock::kMaxStepsPerTrigger));
}

}  // namespace
