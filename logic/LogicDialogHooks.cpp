#include "logic/LogicDialogHooks.h"

#include <QDialog>
#include <QMessageBox>

LogicDialogHooks LogicDialogHooks::Default() {
  LogicDialogHooks hooks;
  hooks.run = [](QDialog& dialog) { return dialog.exec(); };
  hooks.message = [](QWidget* parent, const QString& text) {
    // The messages break their line the way the desktop's message boxes
    // want it; a label wants a bare line feed.
    QString shown = text;
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    QMessageBox::warning(parent, QStringLiteral("Plexmar"), shown);
  };
  return hooks;
}

LogicDialogHooks& LogicHooks() {
  static LogicDialogHooks hooks = LogicDialogHooks::Default();
  return hooks;
}
