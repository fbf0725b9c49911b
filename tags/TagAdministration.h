// What the tag list does to the tag table when the operator adds, edits or
// removes a tag: the steps that prepare a tag for its source, put it into the
// table at a position and publish it, and the texts of its row. Qt-free; the
// dialogs in TagListDlg drive it.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

class CExchangeTag;
class CPlexmarApp;

namespace tagadmin {

// A tag name holds at most this many characters; longer input is cut.
inline constexpr size_t kMaxNameChars = 199;
// The value column shows at most this many characters.
inline constexpr size_t kMaxValueChars = 400;

// The row's "Current Value" text.
std::string ValueText(const CExchangeTag& tag);
// The value as the user variable dialog shows it; 0 when it is no number.
float ValueAsFloat(const CExchangeTag& tag);
// Kind 0 with the value as a 4-byte float (0 when it does not convert).
void MakeUserVariable(CExchangeTag& tag);

// Readies a tag that the tag list is about to publish: a user variable is
// good; an OPC point gets its item in its server link (bad without one); a
// Modbus point starts from 0 (a float for the two floating point data types,
// a 4-byte integer otherwise), bad until its first poll. Its data block is
// registered when the tag list closes (RegisterDataBlocks).
void PrepareSource(CPlexmarApp& app, CExchangeTag& tag);

// Whether a tag other than the one at `except` (none for npos) has `name`.
bool IsNameTaken(const CPlexmarApp& app, const std::string& name, size_t except = std::string::npos);

// Puts the tag into the table at `position` (the end when beyond it),
// prepares it and publishes it in the program's OPC server. Returns the
// position it took.
size_t InsertTag(CPlexmarApp& app, std::unique_ptr<CExchangeTag> tag, size_t position);

// The tag at `position` gives way to `edited`: the old tag is deleted (which
// withdraws its items) before the new one is prepared and published under
// what may be the same name. False, and `edited` dropped, when no tag is at
// that position.
bool ReplaceTag(CPlexmarApp& app, size_t position, std::unique_ptr<CExchangeTag> edited);

// An edit of a user variable's value or logic block that keeps its name: the
// tag stays where it is with its OPC item, which takes the new value as good.
void UpdateUserVariable(CExchangeTag& tag, const CExchangeTag& edited);

// Deletes the tag at `position`; false when there is none.
bool RemoveTagAt(CPlexmarApp& app, size_t position);

// The data block of every Modbus point, and the local ones lent to the slave
// library: what closing the tag list does.
void RegisterDataBlocks(CPlexmarApp& app);

}  // namespace tagadmin
