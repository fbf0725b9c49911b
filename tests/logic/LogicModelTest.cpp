// The logic block model: block records byte for byte, copies, comparisons,
// labels and the editor's display strings.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "logic/LogicBlock.h"
#include "platform/archive.h"

namespace {

using Bytes = std::vector<uint8_t>;

// The expected encodings, written out independently of the archive class.
void PutString(Bytes& out, const std::string& text) {
  ASSERT_LT(text.size(), 255u);
  out.push_back(static_cast<uint8_t>(text.size()));
  out.insert(out.end(), text.begin(), text.end());
}

void PutInt(Bytes& out, int32_t value) {
  const auto u = static_cast<uint32_t>(value);
  for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<uint8_t>(u >> shift));
}

std::unique_ptr<CLogicEntry> MakeEntry(int32_t type, const std::string& label, const std::string& tag1,
                                       const std::string& tag2, const std::string& tag3, int32_t op,
                                       const std::string& gotoBlock, const std::string& gotoLabel,
                                       const std::string& form) {
  auto e = std::make_unique<CLogicEntry>();
  e->m_nType = type;
  e->m_strLabel = label;
  e->m_strTag1 = tag1;
  e->m_strTag2 = tag2;
  e->m_strTag3 = tag3;
  e->m_nOperation = op;
  e->m_strGotoBlock = gotoBlock;
  e->m_strGotoLabel = gotoLabel;
  e->m_strFormName = form;
  return e;
}

Bytes Store(CLogicBlock& block) {
  CArchive ar;
  block.Serialize(ar);
  return ar.Bytes();
}

void Load(CLogicBlock& block, const Bytes& bytes) {
  CArchive ar(bytes);
  block.Serialize(ar);
  EXPECT_EQ(ar.Remaining(), 0u);
}

void ExpectSameFields(const CLogicEntry& a, const CLogicEntry& b) {
  EXPECT_EQ(a.m_strLabel, b.m_strLabel);
  EXPECT_EQ(a.m_nType, b.m_nType);
  EXPECT_EQ(a.m_strTag1, b.m_strTag1);
  EXPECT_EQ(a.m_strTag2, b.m_strTag2);
  EXPECT_EQ(a.m_strTag3, b.m_strTag3);
  EXPECT_EQ(a.m_nOperation, b.m_nOperation);
  EXPECT_EQ(a.m_strGotoBlock, b.m_strGotoBlock);
  EXPECT_EQ(a.m_strGotoLabel, b.m_strGotoLabel);
  EXPECT_EQ(a.m_strFormName, b.m_strFormName);
}

TEST(LogicModel, NewEntryAndBlockDefaults) {
  CLogicEntry e;
  EXPECT_EQ(e.m_nType, 1);
  EXPECT_EQ(e.m_nOperation, 0);
  EXPECT_TRUE(e.m_strLabel.empty() && e.m_strTag1.empty() && e.m_strTag2.empty() &&
              e.m_strTag3.empty() && e.m_strGotoBlock.empty() && e.m_strGotoLabel.empty() &&
              e.m_strFormName.empty());
  CLogicBlock b;
  EXPECT_TRUE(b.m_strName.empty());
  EXPECT_TRUE(b.m_entries.empty());
}

TEST(LogicRecord, EmptyBlockIsNameThenZero) {
  CLogicBlock block;
  block.m_strName = "LB1";
  Bytes expected;
  PutString(expected, "LB1");
  PutInt(expected, 0);
  EXPECT_EQ(Store(block), expected);

  CLogicBlock loaded;
  loaded.m_entries.push_back(std::make_unique<CLogicEntry>());  // replaced by the load
  Load(loaded, expected);
  EXPECT_EQ(loaded.m_strName, "LB1");
  EXPECT_TRUE(loaded.m_entries.empty());
}

TEST(LogicRecord, EveryEntryStoresAllNineFieldsInOrder) {
  CLogicBlock block;
  block.m_strName = "Pumps";
  block.m_entries.push_back(MakeEntry(1, "start", "Level", "Raw", "Gain", 3, "", "", ""));
  block.m_entries.push_back(MakeEntry(2, "", "Level", "Limit", "", 1, "LB2", "Alarm", ""));
  // A form entry that still carries operands from an earlier kind.
  block.m_entries.push_back(MakeEntry(3, "f", "OldT1", "OldT2", "OldT3", 1, "OldB", "OldL", "Overview"));
  block.m_entries.push_back(MakeEntry(-5, "", "", "", "", -1, "", "", ""));

  Bytes expected;
  PutString(expected, "Pumps");
  PutInt(expected, 4);
  for (const auto& e : block.m_entries) {
    PutString(expected, e->m_strLabel);
    PutInt(expected, e->m_nType);
    PutString(expected, e->m_strTag1);
    PutString(expected, e->m_strTag2);
    PutString(expected, e->m_strTag3);
    PutInt(expected, e->m_nOperation);
    PutString(expected, e->m_strGotoBlock);
    PutString(expected, e->m_strGotoLabel);
    PutString(expected, e->m_strFormName);
  }
  const Bytes stored = Store(block);
  ASSERT_EQ(stored, expected);

  CLogicBlock loaded;
  Load(loaded, stored);
  EXPECT_EQ(loaded.m_strName, "Pumps");
  ASSERT_EQ(loaded.m_entries.size(), 4u);
  for (size_t i = 0; i < 4; ++i) ExpectSameFields(*loaded.m_entries[i], *block.m_entries[i]);
  // The unused fields of the form entry survive the trip.
  EXPECT_EQ(loaded.m_entries[2]->m_strTag1, "OldT1");
  EXPECT_EQ(loaded.m_entries[2]->m_strGotoLabel, "OldL");
  // And storing again gives the same bytes.
  EXPECT_EQ(Store(loaded), stored);
}

TEST(LogicRecord, DamagedRecordsThrowAndLeaveEntriesAlone) {
  CLogicBlock block;
  block.m_strName = "B";
  block.m_entries.push_back(MakeEntry(1, "", "A", "B", "", 0, "", "", ""));
  Bytes good = Store(block);

  // Cut anywhere inside the record.
  for (size_t cut = 0; cut < good.size(); ++cut) {
    CLogicBlock loaded;
    Bytes shortBytes(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(cut));
    CArchive ar(shortBytes);
    EXPECT_THROW(loaded.Serialize(ar), CArchiveException) << "cut at " << cut;
  }

  // A huge or negative entry count is refused before anything is allocated.
  for (int32_t count : {INT32_MAX, 1000000, -1}) {
    Bytes bad;
    PutString(bad, "B");
    PutInt(bad, count);
    PutString(bad, "");
    CLogicBlock loaded;
    loaded.m_entries.push_back(MakeEntry(3, "keep", "", "", "", 1, "", "", "F"));
    CArchive ar(bad);
    EXPECT_THROW(loaded.Serialize(ar), CArchiveException) << count;
    ASSERT_EQ(loaded.m_entries.size(), 1u);
    EXPECT_EQ(loaded.m_entries[0]->m_strLabel, "keep");
  }
}

TEST(LogicModel, CopyFromIsDeepAndReplacesEntries) {
  CLogicBlock source;
  source.m_strName = "Src";
  source.m_entries.push_back(MakeEntry(1, "a", "T1", "T2", "T3", 2, "gb", "gl", "fm"));
  source.m_entries.push_back(MakeEntry(3, "b", "", "", "", 0, "", "", "Form"));

  CLogicBlock copy;
  copy.m_strName = "Old";
  copy.m_entries.push_back(MakeEntry(2, "x", "", "", "", 0, "", "", ""));
  copy.m_entries.push_back(MakeEntry(2, "y", "", "", "", 0, "", "", ""));
  copy.m_entries.push_back(MakeEntry(2, "z", "", "", "", 0, "", "", ""));
  EXPECT_EQ(copy.CopyFrom(source), 1);
  EXPECT_EQ(copy.m_strName, "Src");
  ASSERT_EQ(copy.m_entries.size(), 2u);
  ExpectSameFields(*copy.m_entries[0], *source.m_entries[0]);
  ExpectSameFields(*copy.m_entries[1], *source.m_entries[1]);
  EXPECT_NE(copy.m_entries[0].get(), source.m_entries[0].get());
  EXPECT_TRUE(copy.IsEqual(source));

  copy.m_entries[0]->m_strTag3 = "changed";
  EXPECT_EQ(source.m_entries[0]->m_strTag3, "T3");
  EXPECT_TRUE(copy.IsNotEqual(source));

  // Copying a block onto itself keeps it whole.
  EXPECT_EQ(source.CopyFrom(source), 1);
  ASSERT_EQ(source.m_entries.size(), 2u);
  EXPECT_EQ(source.m_entries[1]->m_strFormName, "Form");
}

// Each field changed on its own: the entries stay equal exactly when the
// entry's kind does not use that field.
TEST(LogicModel, EntryEqualityLooksOnlyAtTheFieldsOfItsKind) {
  enum Field { kLabel, kTag1, kTag2, kTag3, kOp, kGotoBlock, kGotoLabel, kForm, kFieldCount };
  const auto change = [](CLogicEntry& e, int field) {
    switch (field) {
      case kLabel: e.m_strLabel += "x"; break;
      case kTag1: e.m_strTag1 += "x"; break;
      case kTag2: e.m_strTag2 += "x"; break;
      case kTag3: e.m_strTag3 += "x"; break;
      case kOp: e.m_nOperation += 1; break;
      case kGotoBlock: e.m_strGotoBlock += "x"; break;
      case kGotoLabel: e.m_strGotoLabel += "x"; break;
      case kForm: e.m_strFormName += "x"; break;
    }
  };
  const std::vector<std::vector<int>> used = {
      {kLabel, kTag1, kTag2, kTag3, kOp},                     // kind 1
      {kLabel, kTag1, kTag2, kOp, kGotoBlock, kGotoLabel},    // kind 2
      {kLabel, kOp, kForm},                                   // kind 3
  };
  for (int32_t kind = 1; kind <= 3; ++kind) {
    for (int field = 0; field < kFieldCount; ++field) {
      auto a = MakeEntry(kind, "L", "A", "B", "C", 1, "G", "H", "F");
      auto b = MakeEntry(kind, "L", "A", "B", "C", 1, "G", "H", "F");
      ASSERT_TRUE(a->IsEqual(*b));
      change(*b, field);
      const auto& u = used[static_cast<size_t>(kind - 1)];
      const bool expectEqual = std::find(u.begin(), u.end(), field) == u.end();
      EXPECT_EQ(a->IsEqual(*b), expectEqual) << "kind " << kind << " field " << field;
      EXPECT_EQ(a->IsNotEqual(*b), !expectEqual);
    }
    auto a = MakeEntry(kind, "L", "A", "B", "C", 1, "G", "H", "F");
    auto b = MakeEntry(kind == 1 ? 2 : 1, "L", "A", "B", "C", 1, "G", "H", "F");
    EXPECT_FALSE(a->IsEqual(*b)) << "kind differs";
  }
  // Labels are compared exactly.
  EXPECT_FALSE(MakeEntry(1, "Go", "A", "B", "", 0, "", "", "")
                   ->IsEqual(*MakeEntry(1, "go", "A", "B", "", 0, "", "", "")));
  // An entry of unknown kind is never equal, not even to its twin or itself.
  auto odd = MakeEntry(9, "", "", "", "", 0, "", "", "");
  EXPECT_FALSE(odd->IsEqual(*MakeEntry(9, "", "", "", "", 0, "", "", "")));
  EXPECT_FALSE(odd->IsEqual(*odd));
}

TEST(LogicModel, BlockEquality) {
  CLogicBlock a;
  a.m_strName = "LB";
  a.m_entries.push_back(MakeEntry(3, "", "t", "", "", 1, "", "", "F"));
  CLogicBlock b;
  b.CopyFrom(a);
  b.m_entries[0]->m_strTag1 = "other";  // unused by kind 3
  EXPECT_TRUE(a.IsEqual(b));
  b.m_strName = "lb";
  EXPECT_FALSE(a.IsEqual(b));
  b.m_strName = "LB";
  b.m_entries.push_back(MakeEntry(3, "", "", "", "", 1, "", "", "F"));
  EXPECT_FALSE(a.IsEqual(b)) << "entry counts differ";
  EXPECT_FALSE(b.IsEqual(a));

  CLogicBlock emptyA, emptyB;
  EXPECT_TRUE(emptyA.IsEqual(emptyB));
}

TEST(LogicModel, LabelsAndStartPositions) {
  CLogicBlock b;
  b.m_entries.push_back(MakeEntry(1, "", "", "", "", 0, "", "", ""));
  b.m_entries.push_back(MakeEntry(1, "Loop", "", "", "", 0, "", "", ""));
  b.m_entries.push_back(MakeEntry(1, "Loop", "", "", "", 0, "", "", ""));  // imported duplicate
  b.m_entries.push_back(MakeEntry(1, "", "", "", "", 0, "", "", ""));
  EXPECT_TRUE(b.IsLabelUnique(""));
  EXPECT_FALSE(b.IsLabelUnique("Loop"));
  EXPECT_TRUE(b.IsLabelUnique("loop"));
  EXPECT_TRUE(b.IsLabelUnique("Loop "));

  EXPECT_EQ(b.FindStart(""), 0u);
  EXPECT_EQ(b.FindStart("Loop"), 1u) << "the first entry carrying the label";
  EXPECT_FALSE(b.FindStart("loop").has_value());

  CLogicBlock empty;
  EXPECT_TRUE(empty.IsLabelUnique("x"));
  EXPECT_EQ(empty.FindStart(""), 0u);
}

TEST(LogicModel, TypeNames) {
  const std::vector<std::pair<int32_t, std::string>> names = {
      {1, "ASSIGNMENT OPERATION"},
      {2, "IF: THEN GOTO: OPERATION"},
      {3, "FORM SHOW/HIDE OPERATION"},
      {0, "UNDEFINED"},
      {4, "UNDEFINED"},
      {-1, "UNDEFINED"},
  };
  for (const auto& [type, name] : names) {
    CLogicEntry e;
    e.m_nType = type;
    EXPECT_EQ(e.GetTypeName(), name) << type;
  }
}

TEST(LogicModel, AssignmentDescriptions) {
  EXPECT_EQ(MakeEntry(1, "", "Level", "Raw", "Gain", 3, "", "", "")->GetDescription(), "Level = Raw * Gain");
  EXPECT_EQ(MakeEntry(1, "", "A", "B", "C", 1, "", "", "")->GetDescription(), "A = B + C");
  EXPECT_EQ(MakeEntry(1, "", "A", "B", "C", 2, "", "", "")->GetDescription(), "A = B - C");
  EXPECT_EQ(MakeEntry(1, "", "A", "B", "C", 4, "", "", "")->GetDescription(), "A = B / C");
  // No operator, or one the system does not know: Tag3 is left out.
  EXPECT_EQ(MakeEntry(1, "", "A", "B", "C", 0, "", "", "")->GetDescription(), "A = B");
  EXPECT_EQ(MakeEntry(1, "", "A", "B", "C", 5, "", "", "")->GetDescription(), "A = B");
  EXPECT_EQ(MakeEntry(1, "", "A", "B", "C", -1, "", "", "")->GetDescription(), "A = B");
  // An operator with an empty Tag3 still shows the operator.
  EXPECT_EQ(MakeEntry(1, "", "A", "B", "", 1, "", "", "")->GetDescription(), "A = B + ");
  EXPECT_EQ(MakeEntry(1, "", "", "B", "C", 1, "", "", "")->GetDescription(), "undefined");
  EXPECT_EQ(MakeEntry(1, "", "A", "", "C", 1, "", "", "")->GetDescription(), "undefined");
}

TEST(LogicModel, IfDescriptions) {
  EXPECT_EQ(MakeEntry(2, "", "Level", "Limit", "", 1, "LB2", "Alarm", "")->GetDescription(),
            "IF Level > Limit THEN GOTO: LB2:Alarm");
  const std::vector<std::pair<int32_t, std::string>> texts = {
      {0, " == "}, {1, " > "}, {2, " < "}, {3, " >= "}, {4, " <= "}};
  for (const auto& [code, text] : texts) {
    EXPECT_EQ(MakeEntry(2, "", "A", "B", "", code, "G", "", "")->GetDescription(),
              "IF A" + text + "B THEN GOTO: G:");
  }
  EXPECT_EQ(MakeEntry(2, "", "A", "B", "", 7, "G", "H", "")->GetDescription(), "IF A undefined!");
  EXPECT_EQ(MakeEntry(2, "", "A", "B", "", -1, "G", "H", "")->GetDescription(), "IF A undefined!");
  EXPECT_EQ(MakeEntry(2, "", "A", "", "", 1, "G", "H", "")->GetDescription(), "undefined");
  EXPECT_EQ(MakeEntry(2, "", "", "B", "", 7, "G", "H", "")->GetDescription(), "undefined");
}

TEST(LogicModel, FormAndOtherDescriptions) {
  EXPECT_EQ(MakeEntry(3, "", "", "", "", 1, "", "", "Overview")->GetDescription(), "SHOW FORM:(Overview)");
  EXPECT_EQ(MakeEntry(3, "", "", "", "", -3, "", "", "Overview")->GetDescription(), "SHOW FORM:(Overview)");
  EXPECT_EQ(MakeEntry(3, "", "", "", "", 0, "", "", "Overview")->GetDescription(), "HIDE FORM:(Overview)");
  EXPECT_EQ(MakeEntry(3, "", "A", "B", "", 1, "", "", "")->GetDescription(), "undefined");
  EXPECT_EQ(MakeEntry(0, "", "A", "B", "C", 1, "G", "H", "F")->GetDescription(), "");
  EXPECT_EQ(MakeEntry(4, "", "A", "B", "C", 1, "G", "H", "F")->GetDescription(), "");
}

}  // namespace
