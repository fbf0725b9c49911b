// What the logic block editors ask of the platform: running the nested modal
// dialogs and showing the refusal messages. The program uses exec() and a
// message box; GUI tests put scripted answers in their place.
#pragma once

#include <QString>

#include <functional>

class QDialog;
class QWidget;

struct LogicDialogHooks {
  // Runs a dialog modally; QDialog::Accepted or Rejected.
  std::function<int(QDialog& dialog)> run;
  // A refused name or label; returns once the operator has read it.
  std::function<void(QWidget* parent, const QString& text)> message;

  // The platform's dialogs.
  static LogicDialogHooks Default();
};

// The hooks the editors use unless they are given others.
LogicDialogHooks& LogicHooks();
