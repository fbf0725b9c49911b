// What the tag list and the tag definition dialogs ask of the platform:
// running a nested dialog, the framework's validation message, a message
// box, and the logic block editor behind "Add New". The program uses the
// platform's; GUI tests put scripted answers in their place.
#pragma once

#include <QString>

#include <functional>

class CLogicBlock;
class CPlexmarApp;
class QDialog;
class QWidget;

struct TagDialogHooks {
  // Runs a dialog modally; QDialog::Accepted or Rejected.
  std::function<int(QDialog& dialog)> run;
  // A refused field: the framework's validation message; the dialog stays.
  std::function<void(QWidget* parent, const QString& text)> warn;
  // A message box with OK, such as the one for a duplicate tag name.
  std::function<void(QWidget* parent, const QString& text)> tell;
  // A new logic block made in the block editor and already added to the
  // application; null when the operator cancelled (nothing added).
  std::function<CLogicBlock*(CPlexmarApp& app, QWidget* parent)> createLogicBlock;

  // The platform's dialogs; "Add New" goes to the forms' block editor hook
  // as it stands when the operator chooses it.
  static TagDialogHooks Default();
};
