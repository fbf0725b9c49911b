// The file dialogs of the program's own file commands (project, tag CSV,
// logic block CSV): a name typed or picked, starting in the program's folder
// with a pattern such as "*.tst" as the initial name and no filter list.
#pragma once

#include <QString>

#include <functional>

class QWidget;

struct FileDialogRequest {
  bool bSave = false;             // the save kind (a new name may be typed)
  bool bConfirmOverwrite = false; // ask before an existing file is replaced
  QString initialName;            // "*.tst", "*.csv"
};

// The chosen path, or an empty string when the operator cancelled. Tests
// replace it with a function that answers at once.
using AskFileFn = std::function<QString(QWidget* parent, const FileDialogRequest& request)>;
AskFileFn DefaultAskFile();

// The folder of the running program, made the current directory as the file
// commands do before they ask.
QString EnterProgramFolder();
