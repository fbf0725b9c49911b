// One row of a logic block: an assignment, a conditional jump or a form
// show/hide. Entries name tags, blocks and forms only by name and resolve them
// each time they run, so an entry may refer to things that do not exist (yet).
#pragma once

#include <cstdint>
#include <string>

class CArchive;
class CPlexmarApp;
class CLogicBlock;

// Entry kinds (m_nType).
enum LogicEntryKind : int32_t {
  kLogicAssignment = 1,
  kLogicIfGoto = 2,
  kLogicFormShowHide = 3,
};

// Operator codes of an assignment (m_nOperation of kind 1).
enum LogicOperator : int32_t {
  kLogicOpNone = 0,
  kLogicOpAdd = 1,
  kLogicOpSubtract = 2,
  kLogicOpMultiply = 3,
  kLogicOpDivide = 4,
};

// Comparison codes of a conditional jump (m_nOperation of kind 2), in the
// order of the IF editor's list.
enum LogicComparison : int32_t {
  kLogicCmpEqual = 0,
  kLogicCmpGreater = 1,
  kLogicCmpLess = 2,
  kLogicCmpGreaterEqual = 3,
  kLogicCmpLessEqual = 4,
};

// Failure bits of an entry; a run ORs those of the entries it carried out.
enum LogicFailure : int {
  kLogicFailNoTag = 1,         // a tag the entry names does not exist
  kLogicFailBadCode = 2,       // unknown kind, operator or comparison code
  kLogicFailConversion = 4,    // a value is not numeric, or the target write failed
  kLogicFailNoTarget = 8,      // the GOTO block (or its label) does not exist
  kLogicFailRunaway = 16,      // a run was cut off by the nesting or step bound
};

class CLogicEntry {
 public:
  CLogicEntry() = default;
  virtual ~CLogicEntry() = default;
  CLogicEntry(const CLogicEntry&) = delete;
  CLogicEntry& operator=(const CLogicEntry&) = delete;

  // The entry record of the project file: all nine fields, whatever the kind.
  virtual void Serialize(CArchive& ar);

  // Copies all nine fields; returns 1.
  int CopyFrom(const CLogicEntry& source);
  // Equal label and kind, then the fields that the kind uses. Entries of an
  // unknown kind are never equal, not even to themselves.
  bool IsEqual(const CLogicEntry& other) const;
  bool IsNotEqual(const CLogicEntry& other) const { return !IsEqual(other); }

  // The block editor's Type and Description columns.
  std::string GetTypeName() const;
  std::string GetDescription() const;

  // Carries out the entry against the current application object. Returns 1
  // when the run goes on with the next entry and 0 when the run of the block
  // holding the entry ends; `failure` gets one of the LogicFailure bits, or 0.
  // A true IF runs its target block before returning 0.
  int Execute(int& failure);
  int Execute(CPlexmarApp& app, int& failure);

  std::string m_strLabel;
  int32_t m_nType = kLogicAssignment;
  std::string m_strTag1;
  std::string m_strTag2;
  std::string m_strTag3;
  int32_t m_nOperation = 0;
  std::string m_strGotoBlock;
  std::string m_strGotoLabel;
  std::string m_strFormName;

 private:
  friend class CLogicBlock;

  // Where a true IF sends the run; filled by Step.
  struct Jump {
    CLogicBlock* pBlock = nullptr;
    size_t nStart = 0;
  };
  // Execute without carrying out the jump: a true IF returns 0 with `jump`
  // filled in, so that the block's run can continue there in its own loop.
  int Step(CPlexmarApp& app, int& failure, Jump& jump);
  int Assign(CPlexmarApp& app, int& failure);
  int IfGoto(CPlexmarApp& app, int& failure, Jump& jump);
};
