// Running logic blocks: the block loop, the three entry kinds and the bounds
// that keep a runaway program from hanging or overflowing the stack.
//
// Nesting. A run nests inside another in two ways:
//  - an assignment writes a tag whose own block then runs inside the write;
//    this needs a real nested call (the writing run goes on afterwards) and
//    is bounded by CLogicBlock::kMaxRunDepth: a run that would start deeper is
//    not started, and the write that asked for it still takes effect;
//  - a true IF runs its target and then ends the current run. Nothing of the
//    current run happens after the target's run, so the block loop simply
//    continues in the target instead of calling it: an IF that loops on its
//    own block uses no stack at all.
// Every entry carried out counts against CLogicBlock::kMaxStepsPerTrigger,
// shared by the outermost run and all runs nested in it. When the count is
// spent, the run in progress and every run around it end before their next
// entry, so a trigger always returns.
//
// A GOTO label that no entry of the target block carries is treated like a
// missing target block (failure 8, the run goes on with the next entry),
// checked before the comparison just like the block itself: the jump has no
// place to land, and starting the block anywhere else would carry out entries
// the program never asked for. A label given to Run that no entry carries
// runs nothing.
#include <cmath>

#include "core/ExchangeTag.h"
#include "core/PlexmarApp.h"
#include "logic/LogicBlock.h"
#include "platform/variant.h"

namespace {

// The state of the trigger in progress on this thread: how deep the runs are
// nested and how many entries were carried out since the outermost run began.
struct TriggerState {
  int nDepth = 0;
  long nSteps = 0;
  bool bExhausted = false;
};

thread_local TriggerState t_trigger;

class DepthGuard {
 public:
  DepthGuard() {
    if (t_trigger.nDepth == 0) t_trigger = TriggerState{};
    ++t_trigger.nDepth;
  }
  ~DepthGuard() { --t_trigger.nDepth; }
  DepthGuard(const DepthGuard&) = delete;
  DepthGuard& operator=(const DepthGuard&) = delete;
};

// The tag's value as a double, the way OLE Automation converts it.
bool ToDouble(const CExchangeTag& tag, double& value) {
  VARIANT converted;
  VariantInit(&converted);
  if (FAILED(VariantChangeType(&converted, tag.m_value.get(), 0, VT_R8))) return false;
  value = converted.dblVal;
  return true;
}

}  // namespace

int CLogicBlock::Run(const std::string& label) {
  CPlexmarApp* app = CPlexmarApp::Current();
  return app ? Run(*app, label) : 0;
}

int CLogicBlock::Run(CPlexmarApp& app, const std::string& label) {
  if (t_trigger.nDepth >= kMaxRunDepth) return kLogicFailRunaway;
  if (t_trigger.nDepth > 0 && t_trigger.bExhausted) return kLogicFailRunaway;
  DepthGuard depth;

  std::optional<size_t> start = FindStart(label);
  if (!start) return 0;

  CLogicBlock* block = this;
  size_t position = *start;
  int result = 0;
  bool jumped = false;
  // The entry count is read before each step: it is the block's own list,
  // and a jump may have moved the run into another block.
  while (position < block->m_entries.size()) {
    if (t_trigger.nSteps >= kMaxStepsPerTrigger) t_trigger.bExhausted = true;
    if (t_trigger.bExhausted) {
      result |= kLogicFailRunaway;
      break;
    }
    ++t_trigger.nSteps;

    int failure = 0;
    CLogicEntry::Jump jump;
    if (block->m_entries[position]->Step(app, failure, jump) == 0) {
      if (!jump.pBlock) break;
      // The target's failures are its own, not this run's.
      block = jump.pBlock;
      position = jump.nStart;
      jumped = true;
      continue;
    }
    if (!jumped) result |= failure;
    ++position;
  }
  return result;
}

int CLogicEntry::Execute(int& failure) {
  if (CPlexmarApp* app = CPlexmarApp::Current()) return Execute(*app, failure);
  // Without an application object there is no tag, block or form to find.
  switch (m_nType) {
    case kLogicAssignment:
    case kLogicIfGoto:
      failure = kLogicFailNoTag;
      return 1;
    case kLogicFormShowHide:
      failure = 0;
      return 0;
    default:
      failure = kLogicFailBadCode;
      return 1;
  }
}

int CLogicEntry::Execute(CPlexmarApp& app, int& failure) {
  Jump jump;
  const int goOn = Step(app, failure, jump);
  if (jump.pBlock) {
    // Run the target from the found position through its label: the label
    // was just found there, so the run starts at the same entry.
    jump.pBlock->Run(app, m_strGotoLabel);
  }
  return goOn;
}

int CLogicEntry::Step(CPlexmarApp& app, int& failure, Jump& jump) {
  failure = 0;
  switch (m_nType) {
    case kLogicAssignment:
      return Assign(app, failure);
    case kLogicIfGoto:
      return IfGoto(app, failure, jump);
    case kLogicFormShowHide: {
      const int shown = m_nOperation != 0 ? app.ShowForm(m_strFormName) : app.HideForm(m_strFormName);
      return shown != 0 ? 1 : 0;
    }
    default:
      failure = kLogicFailBadCode;
      return 1;
  }
}

int CLogicEntry::Assign(CPlexmarApp& app, int& failure) {
  CExchangeTag* target = app.FindTag(m_strTag1);
  CExchangeTag* source = app.FindTag(m_strTag2);
  if (!target || !source) {
    failure = kLogicFailNoTag;
    return 1;
  }

  if (m_nOperation == kLogicOpNone) {
    // A copy, not the source's own value: the write runs the target's block,
    // which may change the source while the write still passes the value on.
    CVariant value(source->m_value);
    HRESULT ignored = S_OK;
    target->Write(*value, ignored);
    return 1;
  }

  CExchangeTag* operand = app.FindTag(m_strTag3);
  if (!operand) {
    failure = kLogicFailNoTag;
    return 1;
  }
  double value2 = 0.0;
  double value3 = 0.0;
  if (!ToDouble(*source, value2) || !ToDouble(*operand, value3)) {
    failure = kLogicFailConversion;
    return 1;
  }

  double result = 0.0;
  switch (m_nOperation) {
    case kLogicOpAdd: result = value2 + value3; break;
    case kLogicOpSubtract: result = value2 - value3; break;
    case kLogicOpMultiply: result = value2 * value3; break;
    // Division by zero is left to IEEE arithmetic: an infinity or NaN is
    // written like any other result.
    case kLogicOpDivide: result = value2 / value3; break;
    default:
      failure = kLogicFailBadCode;
      return 1;
  }

  VARIANT written = MakeVariantR8(result);
  HRESULT hr = S_OK;
  target->Write(written, hr);
  if (FAILED(hr)) failure = kLogicFailConversion;
  return 1;
}

int CLogicEntry::IfGoto(CPlexmarApp& app, int& failure, Jump& jump) {
  CExchangeTag* left = app.FindTag(m_strTag1);
  CExchangeTag* right = app.FindTag(m_strTag2);
  if (!left || !right) {
    failure = kLogicFailNoTag;
    return 1;
  }
  // The target is looked up before the comparison, so a missing target shows
  // as a failure whatever the values are.
  CLogicBlock* target = app.FindLogicBlock(m_strGotoBlock);
  std::optional<size_t> start;
  if (target) start = target->FindStart(m_strGotoLabel);
  if (!start) {
    failure = kLogicFailNoTarget;
    return 1;
  }

  double value1 = 0.0;
  double value2 = 0.0;
  if (!ToDouble(*left, value1) || !ToDouble(*right, value2)) {
    failure = kLogicFailConversion;
    return 1;
  }

  bool condition = false;
  switch (m_nOperation) {
    case kLogicCmpEqual: condition = value1 == value2; break;
    case kLogicCmpGreater: condition = value1 > value2; break;
    case kLogicCmpLess: condition = value1 < value2; break;
    case kLogicCmpGreaterEqual: condition = value1 >= value2; break;
    case kLogicCmpLessEqual: condition = value1 <= value2; break;
    default:
      failure = kLogicFailBadCode;
      return 1;
  }
  if (!condition) return 1;

  jump.pBlock = target;
  jump.nStart = *start;
  return 0;
}
