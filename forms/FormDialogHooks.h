// What the forms' dialogs ask of the platform: the colour, font and file
// dialogs, nested modal dialogs, the framework's validation message, and the
// block editor that the hot text dialog's "Add New" opens. The program uses
// the platform's dialogs; GUI tests put scripted answers in their place.
#pragma once

#include <QString>

#include <functional>

#include "platform/wintypes.h"

class CLogicBlock;
class CPlexmarApp;
class QDialog;
class QWidget;

struct FormDialogHooks {
  // Runs a dialog modally; QDialog::Accepted or Rejected.
  std::function<int(QDialog& dialog)> run;
  // A refused field: the framework's validation message; the dialog stays.
  std::function<void(QWidget* parent, const QString& text)> warn;
  // The colour dialog on `color` (initial colour set); true and the choice
  // in `color` when confirmed.
  std::function<bool(QWidget* parent, COLORREF& color)> chooseColor;
  // The font dialog on `font`, changed in place when confirmed.
  std::function<bool(QWidget* parent, LOGFONT& font)> chooseFont;
  // The bitmap file-open dialog; the chosen full path, empty when cancelled.
  std::function<QString(QWidget* parent)> browseBitmap;
  // A question with Yes and No; true for Yes.
  std::function<bool(QWidget* parent, const QString& text)> askYesNo;
  // A new logic block made in the block editor and added to the
  // application; null when the operator cancelled (nothing added).
  std::function<CLogicBlock*(CPlexmarApp& app, QWidget* parent)> createLogicBlock;

  // The platform's dialogs.
  static FormDialogHooks Default();
};

// The hooks the forms' dialogs use unless they are given others.
FormDialogHooks& FormHooks();

// The font dialog's flags as the item dialogs ask for them: screen fonts,
// initialised from the LOGFONT, no simulations, the font must exist.
inline constexpr uint32_t kItemFontDialogFlags = 0x12041;

// LOGFONT and the platform's font: the font dialog's result written back
// into the 60-byte record, keeping what the dialog has no say in.
class QFont;
void LogFontFromFont(const QFont& font, LOGFONT& logFont);
