// The logic entry model: its record, copy, comparison and display strings.
// Carrying an entry out lives in LogicRun.cpp.
#include "logic/LogicEntry.h"

#include "platform/archive.h"

namespace {

// Texts between the operands, indexed by operator code 1..4.
const char* OperatorText(int32_t code) {
  switch (code) {
    case kLogicOpAdd: return " + ";
    case kLogicOpSubtract: return " - ";
    case kLogicOpMultiply: return " * ";
    case kLogicOpDivide: return " / ";
    default: return nullptr;
  }
}

const char* ComparisonText(int32_t code) {
  switch (code) {
    case kLogicCmpEqual: return " == ";
    case kLogicCmpGreater: return " > ";
    case kLogicCmpLess: return " < ";
    case kLogicCmpGreaterEqual: return " >= ";
    case kLogicCmpLessEqual: return " <= ";
    default: return nullptr;
  }
}

}  // namespace

void CLogicEntry::Serialize(CArchive& ar) {
  // Every field goes to the file whatever the kind, so that an entry whose
  // kind is changed back in the editor finds its old operands again.
  ar.Io(m_strLabel);
  ar.Io(m_nType);
  ar.Io(m_strTag1);
  ar.Io(m_strTag2);
  ar.Io(m_strTag3);
  ar.Io(m_nOperation);
  ar.Io(m_strGotoBlock);
  ar.Io(m_strGotoLabel);
  ar.Io(m_strFormName);
}

int CLogicEntry::CopyFrom(const CLogicEntry& source) {
  if (&source == this) return 1;
  m_strLabel = source.m_strLabel;
  m_nType = source.m_nType;
  m_strTag1 = source.m_strTag1;
  m_strTag2 = source.m_strTag2;
  m_strTag3 = source.m_strTag3;
  m_nOperation = source.m_nOperation;
  m_strGotoBlock = source.m_strGotoBlock;
  m_strGotoLabel = source.m_strGotoLabel;
  m_strFormName = source.m_strFormName;
  return 1;
}

bool CLogicEntry::IsEqual(const CLogicEntry& other) const {
  if (m_strLabel != other.m_strLabel || m_nType != other.m_nType) return false;
  switch (m_nType) {
    case kLogicAssignment:
      return m_strTag1 == other.m_strTag1 && m_strTag2 == other.m_strTag2 &&
             m_strTag3 == other.m_strTag3 && m_nOperation == other.m_nOperation;
    case kLogicIfGoto:
      return m_strTag1 == other.m_strTag1 && m_strTag2 == other.m_strTag2 &&
             m_nOperation == other.m_nOperation && m_strGotoBlock == other.m_strGotoBlock &&
             m_strGotoLabel == other.m_strGotoLabel;
    case kLogicFormShowHide:
      return m_strFormName == other.m_strFormName && m_nOperation == other.m_nOperation;
    default:
      // An entry of unknown kind does nothing, so the editor always treats it
      // as changed.
      return false;
  }
}

std::string CLogicEntry::GetTypeName() const {
  switch (m_nType) {
    case kLogicAssignment: return "ASSIGNMENT OPERATION";
    case kLogicIfGoto: return "IF: THEN GOTO: OPERATION";
    case kLogicFormShowHide: return "FORM SHOW/HIDE OPERATION";
    default: return "UNDEFINED";
  }
}

std::string CLogicEntry::GetDescription() const {
  switch (m_nType) {
    case kLogicAssignment: {
      if (m_strTag1.empty() || m_strTag2.empty()) return "undefined";
      std::string text = m_strTag1 + " = " + m_strTag2;
      if (const char* op = OperatorText(m_nOperation)) text += op + m_strTag3;
      return text;
    }
    case kLogicIfGoto: {
      if (m_strTag1.empty() || m_strTag2.empty()) return "undefined";
      std::string text = "IF " + m_strTag1;
      const char* cmp = ComparisonText(m_nOperation);
      if (!cmp) return text + " undefined!";
      return text + cmp + m_strTag2 + " THEN GOTO: " + m_strGotoBlock + ":" + m_strGotoLabel;
    }
    case kLogicFormShowHide:
      if (m_strFormName.empty()) return "undefined";
      return (m_nOperation != 0 ? "SHOW FORM:(" : "HIDE FORM:(") + m_strFormName + ")";
    default:
      return std::string();
  }
}
