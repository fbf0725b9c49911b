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

// type, op, Tag1, Tag2, Tag3, GOTO block, GOTO label, form, label
std::unique_ptr<CLogicEntry> E(int32_t type, int32_t op, std::string t1 = "", std::string t2 = "",
                               std::string t3 = "", std::string gb = "", std::string gl = "",
                               std::string form = "", std::string label = "") {
  auto e = std::make_unique<CLogicEntry>();
  e->m_nType = type;
  e->m_nOperation = op;
  e->m_strTag1 = t1;
  e->m_strTag2 = t2;
  e->m_strTag3 = t3;
  e->m_strGotoBlock = gb;
  e->m_strGotoLabel = gl;
  e->m_strFormName = form;
  e->m_strLabel = label;
  return e;
}

// The expected encodings, written out independently of the archive class.
void PutString(Bytes& out, const std::string& s) {
  out.push_back(static_cast<uint8_t>(s.size()));
  out.insert(out.end(), s.begin(), s.end());
}
void PutInt(Bytes& out, int32_t v) {
  for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<uint8_t>(static_cast<uint32_t>(v) >> shift));
}

Bytes Store(CLogicBlock& block) {
  CArchive ar;
  block.Serialize(ar);
  return ar.Bytes();
}

TEST(LogicRecord, EmptyBlockIsItsNameThenZero) {
  CLogicBlock block;
  block.m_strName = "LB1";
  const Bytes expected = {3, 'L', 'B', '1', 0, 0, 0, 0};
  EXPECT_EQ(Store(block), expected);

  CLogicBlock loaded;
  loaded.m_entries.push_back(E(1, 0));  // replaced by the load
  CArchive ar(expected);
  loaded.Serialize(ar);
  EXPECT_EQ(loaded.m_strName, "LB1");
  EXPECT_TRUE(loaded.m_entries.empty());
}

TEST(LogicRecord, EveryEntryStoresItsNineFieldsWhateverItsKind) {
  CLogicBlock block;
  block.m_strName = "Pumps";
  block.m_entries.push_back(E(1, 3, "Level", "Raw", "Gain", "", "", "", "start"));
  block.m_entries.push_back(E(2, 1, "Level", "Limit", "", "LB2", "Alarm"));
  // A form entry still carrying the operands of an earlier kind.
  block.m_entries.push_back(E(3, 1, "OldT1", "OldT2", "OldT3", "OldB", "OldL", "Overview", "f"));
  block.m_entries.push_back(E(-5, -1));

  Bytes expected;
  PutString(expected, "Pumps");
  PutInt(expected, 4);
  for (const auto& e : block.m_entries) {
    PutString(expected, e->m_strLabel);
    PutInt(expected, e->m_nType);
    for (const auto* s : {&e->m_strTag1, &e->m_strTag2, &e->m_strTag3}) PutString(expected, *s);
    PutInt(expected, e->m_nOperation);
    for (const auto* s : {&e->m_strGotoBlock, &e->m_strGotoLabel, &e->m_strFormName}) PutString(expected, *s);
  }
  const Bytes stored = Store(block);
  ASSERT_EQ(stored, expected);

  CLogicBlock loaded;
  CArchive ar(stored);
  loaded.Serialize(ar);
  EXPECT_EQ(ar.Remaining(), 0u);
  ASSERT_EQ(loaded.m_entries.size(), 4u);
  const CLogicEntry& form = *loaded.m_entries[2];
  EXPECT_EQ(form.m_strLabel + form.m_strTag1 + form.m_strTag2 + form.m_strTag3 + form.m_strGotoBlock +
                form.m_strGotoLabel + form.m_strFormName,
            "fOldT1OldT2OldT3OldBOldLOverview");
  EXPECT_EQ(loaded.m_entries[3]->m_nType, -5);
  EXPECT_EQ(Store(loaded), stored);
}

TEST(LogicRecord, EntriesWithEveryTextEmptyLoadBack) {
  // Seven empty texts and two integers: 15 bytes, the smallest entry record.
  CLogicBlock block;
  for (int i = 0; i < 6; ++i) block.m_entries.push_back(E(1, 0));
  const Bytes stored = Store(block);
  ASSERT_EQ(stored.size(), 1u + 4u + 6u * 15u);

  CLogicBlock loaded;
  CArchive ar(stored);
  ASSERT_NO_THROW(loaded.Serialize(ar));
  EXPECT_EQ(ar.Remaining(), 0u);
  EXPECT_EQ(loaded.m_entries.size(), 6u);
}

TEST(LogicRecord, DamagedRecordsThrowAndKeepTheOldEntries) {
  CLogicBlock block;
  block.m_strName = "B";
  block.m_entries.push_back(E(1, 0, "A", "B"));
  const Bytes good = Store(block);
  for (size_t cut = 0; cut < good.size(); ++cut) {
    CLogicBlock loaded;
    CArchive ar(Bytes(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(cut)));
    EXPECT_THROW(loaded.Serialize(ar), CArchiveException) << "cut at " << cut;
  }
  // A count the bytes cannot hold is refused before anything is allocated.
  for (int32_t count : {INT32_MAX, 1000000, -1}) {
    Bytes bad = {1, 'B'};
    PutInt(bad, count);
    bad.insert(bad.end(), 20, 0);
    CLogicBlock loaded;
    loaded.m_entries.push_back(E(3, 1, "", "", "", "", "", "F", "keep"));
    CArchive ar(bad);
    EXPECT_THROW(loaded.Serialize(ar), CArchiveException) << count;
    ASSERT_EQ(loaded.m_entries.size(), 1u);
    EXPECT_EQ(loaded.m_entries[0]->m_strLabel, "keep");
  }
}

TEST(LogicModel, CopyFromIsDeepAndReplacesEntries) {
  CLogicBlock source;
  source.m_strName = "Src";
  source.m_entries.push_back(E(1, 2, "T1", "T2", "T3", "gb", "gl", "fm", "a"));
  CLogicBlock copy;
  for (int i = 0; i < 3; ++i) copy.m_entries.push_back(E(2, 0));
  EXPECT_EQ(copy.CopyFrom(source), 1);
  EXPECT_EQ(copy.m_strName, "Src");
  ASSERT_EQ(copy.m_entries.size(), 1u);
  EXPECT_EQ(Store(copy), Store(source)) << "all nine fields copied";
  EXPECT_NE(copy.m_entries[0].get(), source.m_entries[0].get());
  copy.m_entries[0]->m_strTag3 = "changed";
  EXPECT_EQ(source.m_entries[0]->m_strTag3, "T3");
  EXPECT_TRUE(copy.IsNotEqual(source));

  EXPECT_EQ(source.CopyFrom(source), 1);
  ASSERT_EQ(source.m_entries.size(), 1u) << "copying onto itself keeps the block";
}

// Each field changed on its own: the entries stay equal exactly when their
// kind does not use that field.
TEST(LogicModel, EntryEqualityLooksOnlyAtTheFieldsOfItsKind) {
  std::string CLogicEntry::*texts[] = {&CLogicEntry::m_strLabel, &CLogicEntry::m_strTag1,
                                       &CLogicEntry::m_strTag2, &CLogicEntry::m_strTag3,
                                       &CLogicEntry::m_strGotoBlock, &CLogicEntry::m_strGotoLabel,
                                       &CLogicEntry::m_strFormName};
  // Per kind, which of the fields above count, then whether the operation does.
  const std::vector<std::vector<bool>> used = {{true, true, true, true, false, false, false},
                                               {true, true, true, false, true, true, false},
                                               {true, false, false, false, false, false, true}};
  for (int32_t kind = 1; kind <= 3; ++kind) {
    for (size_t f = 0; f <= 7; ++f) {
      auto a = E(kind, 1, "A", "B", "C", "G", "H", "F", "L");
      auto b = E(kind, 1, "A", "B", "C", "G", "H", "F", "L");
      ASSERT_TRUE(a->IsEqual(*b));
      const bool counts = f == 7 ? true : used[static_cast<size_t>(kind - 1)][f];
      if (f == 7) b->m_nOperation = 2; else (*b).*texts[f] += "x";
      EXPECT_EQ(a->IsEqual(*b), !counts) << "kind " << kind << " field " << f;
      EXPECT_EQ(a->IsNotEqual(*b), counts);
    }
    EXPECT_FALSE(E(kind, 1)->IsEqual(*E(kind % 3 + 1, 1))) << "kinds differ";
  }
  EXPECT_FALSE(E(1, 0, "A", "B", "", "", "", "", "Go")->IsEqual(*E(1, 0, "A", "B", "", "", "", "", "go")));
  // An entry of unknown kind is never equal, not even to itself.
  auto odd = E(9, 0);
  EXPECT_FALSE(odd->IsEqual(*odd));

  CLogicBlock a, b;
  EXPECT_TRUE(a.IsEqual(b));
  a.m_entries.push_back(E(3, 1, "t", "", "", "", "", "F"));
  b.m_entries.push_back(E(3, 1, "other", "", "", "", "", "F"));
  EXPECT_TRUE(a.IsEqual(b));
  b.m_entries.push_back(E(3, 1, "", "", "", "", "", "F"));
  EXPECT_FALSE(a.IsEqual(b));
  EXPECT_FALSE(b.IsEqual(a));
  b.m_entries.pop_back();
  b.m_strName = "x";
  EXPECT_FALSE(a.IsEqual(b));
}

TEST(LogicModel, LabelsAreExactAndTheFirstCarrierIsTheStart) {
  CLogicBlock b;
  for (const char* label : {"", "Loop", "Loop", ""}) b.m_entries.push_back(E(1, 0, "", "", "", "", "", "", label));
  EXPECT_TRUE(b.IsLabelUnique(""));
  EXPECT_FALSE(b.IsLabelUnique("Loop"));
  EXPECT_TRUE(b.IsLabelUnique("loop"));
  EXPECT_EQ(b.FindStart(""), 0u);
  EXPECT_EQ(b.FindStart("Loop"), 1u);
  EXPECT_FALSE(b.FindStart("loop").has_value());
  EXPECT_EQ(CLogicBlock().FindStart(""), 0u);
}

TEST(LogicModel, TypeNamesAndDescriptions) {
  const std::vector<std::pair<int32_t, std::string>> names = {
      {1, "ASSIGNMENT OPERATION"}, {2, "IF: THEN GOTO: OPERATION"}, {3, "FORM SHOW/HIDE OPERATION"},
      {0, "UNDEFINED"}, {4, "UNDEFINED"}, {-1, "UNDEFINED"}};
  for (const auto& [type, name] : names) EXPECT_EQ(E(type, 0)->GetTypeName(), name);

  const std::vector<std::pair<std::unique_ptr<CLogicEntry>, std::string>> cases = [] {
    std::vector<std::pair<std::unique_ptr<CLogicEntry>, std::string>> v;
    v.emplace_back(E(1, 3, "Level", "Raw", "Gain"), "Level = Raw * Gain");
    v.emplace_back(E(1, 1, "A", "B", "C"), "A = B + C");
    v.emplace_back(E(1, 2, "A", "B", "C"), "A = B - C");
    v.emplace_back(E(1, 4, "A", "B", "C"), "A = B / C");
    v.emplace_back(E(1, 0, "A", "B", "C"), "A = B");
    v.emplace_back(E(1, 5, "A", "B", "C"), "A = B");
    v.emplace_back(E(1, -1, "A", "B", "C"), "A = B");
    v.emplace_back(E(1, 1, "A", "B", ""), "A = B + ");
    v.emplace_back(E(1, 1, "", "B", "C"), "undefined");
    v.emplace_back(E(1, 1, "A", "", "C"), "undefined");
    v.emplace_back(E(2, 1, "Level", "Limit", "", "LB2", "Alarm"), "IF Level > Limit THEN GOTO: LB2:Alarm");
    v.emplace_back(E(2, 0, "A", "B", "", "G"), "IF A == B THEN GOTO: G:");
    v.emplace_back(E(2, 2, "A", "B", "", "G"), "IF A < B THEN GOTO: G:");
    v.emplace_back(E(2, 3, "A", "B", "", "G"), "IF A >= B THEN GOTO: G:");
    v.emplace_back(E(2, 4, "A", "B", "", "G"), "IF A <= B THEN GOTO: G:");
    v.emplace_back(E(2, 7, "A", "B", "", "G", "H"), "IF A undefined!");
    v.emplace_back(E(2, -1, "A", "B", "", "G", "H"), "IF A undefined!");
    v.emplace_back(E(2, 1, "A", "", "", "G", "H"), "undefined");
    v.emplace_back(E(2, 7, "", "B", "", "G", "H"), "undefined");
    v.emplace_back(E(3, 1, "", "", "", "", "", "Overview"), "SHOW FORM:(Overview)");
    v.emplace_back(E(3, -3, "", "", "", "", "", "Overview"), "SHOW FORM:(Overview)");
    v.emplace_back(E(3, 0, "", "", "", "", "", "Overview"), "HIDE FORM:(Overview)");
    v.emplace_back(E(3, 1, "A", "B"), "undefined");
    v.emplace_back(E(0, 1, "A", "B", "C", "G", "H", "F"), "");
    v.emplace_back(E(4, 1, "A", "B", "C", "G", "H", "F"), "");
    return v;
  }();
  for (const auto& [entry, text] : cases) EXPECT_EQ(entry->GetDescription(), text) << text;
}

}  // namespace
