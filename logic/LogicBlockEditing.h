// The logic block editors as the rest of the program opens them: the block
// table of the Edit menu's "&Logic Blks", and a new block made in the block
// editor (the "Add New" of the tag definition and hot text dialogs).
#pragma once

#include "logic/LogicDialogHooks.h"

class CLogicBlock;
class CPlexmarApp;
class QWidget;

// A new block named "LB<count + 1>" opened in the block editor. Its name must
// be unique and not empty: a refused name is told and the editor opens again
// with what the operator typed. On OK the block is appended to the
// application's list and returned; on Cancel (at any round) it is deleted and
// the result is null.
CLogicBlock* CreateLogicBlock(CPlexmarApp& app, QWidget* parent);
CLogicBlock* CreateLogicBlock(CPlexmarApp& app, QWidget* parent, const LogicDialogHooks& hooks);

// "Plexmar Logic Block Tables" on the application's blocks, until Finished.
void OpenLogicBlockTables(CPlexmarApp& app, QWidget* parent);
