// A named, ordered table of logic entries, run when a tag's value changes or
// when the operator clicks a hot text that names it.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "logic/LogicEntry.h"

class CArchive;
class CPlexmarApp;

class CLogicBlock {
 public:
  // Runs never nest deeper than this: a run that a deeper write or jump would
  // start is not started. Each level is a tag whose block writes another tag
  // with a block of its own; no plant program chains tags this deep, while a
  // runaway (two tags feeding each other) reaches it at once.
  static constexpr int kMaxRunDepth = 64;
  // Entries carried out for one trigger (the outermost run and everything
  // nested in it). An IF that keeps jumping, or blocks whose writes fan out
  // into each other, stop here: the run in progress and every run around it
  // end at once. A plant program with loops over a few hundred steps stays far
  // below it; at this count a runaway costs well under a second of one tick.
  static constexpr long kMaxStepsPerTrigger = 100000;

  CLogicBlock() = default;
  virtual ~CLogicBlock();
  CLogicBlock(const CLogicBlock&) = delete;
  CLogicBlock& operator=(const CLogicBlock&) = delete;

  // The block record of the project file: name, entry count, entries.
  virtual void Serialize(CArchive& ar);

  // Deep copy of name and entries, replacing the own entries; returns 1.
  int CopyFrom(const CLogicBlock& source);
  bool IsEqual(const CLogicBlock& other) const;
  bool IsNotEqual(const CLogicBlock& other) const { return !IsEqual(other); }
  // True for an empty label, or one that no entry of this block carries.
  bool IsLabelUnique(const std::string& label) const;

  // The position of the first entry carrying `label` exactly; the first
  // entry for an empty label; nothing when no entry carries it.
  std::optional<size_t> FindStart(const std::string& label) const;

  // Runs the block from the entry carrying `label` (the first entry for an
  // empty label) against the current application object. A label that no
  // entry carries runs nothing. Returns the OR of the failure bits of the
  // entries carried out in this block; a failing entry never stops the run.
  int Run(const std::string& label);
  int Run(CPlexmarApp& app, const std::string& label);

  std::string m_strName;
  std::vector<std::unique_ptr<CLogicEntry>> m_entries;
};
