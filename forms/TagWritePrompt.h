// The operator's write of a tag from a form (a data value or bar graph
// double-clicked): the tag's PromptAndWrite, with the two write dialogs
// behind an interface so that the rule runs without windows.
#pragma once

#include <string>

class CExchangeTag;

class ITagWritePrompt {
 public:
  virtual ~ITagWritePrompt() = default;
  // "Write String Value to Tag" with `text`; true on OK with the entry in it.
  virtual bool AskString(std::string& text) = 0;
  // "Write Numeric Value to Tag" with `value`; true on OK with the entry in it.
  virtual bool AskNumber(double& value) = 0;
};

// An array value offers nothing. A string value asks for a string and writes
// it as a string. Anything else is offered as a double (nothing when it does
// not convert to one); on OK the tag's quality becomes good and the number is
// written as a double. Cancel writes nothing.
void PromptAndWrite(CExchangeTag& tag, ITagWritePrompt& prompt);
