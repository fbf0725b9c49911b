#include "tags/TagDialogHooks.h"

#include <QDialog>
#include <QMessageBox>

#include "forms/FormDialogHooks.h"

TagDialogHooks TagDialogHooks::Default() {
  TagDialogHooks hooks;
  hooks.run = [](QDialog& dialog) { return dialog.exec(); };
  hooks.warn = [](QWidget* parent, const QString& text) {
    QMessageBox::warning(parent, QStringLiteral("Plexmar"), text);
  };
  hooks.tell = [](QWidget* parent, const QString& text) {
    QMessageBox::warning(parent, QStringLiteral("Plexmar"), text);
  };
  hooks.createLogicBlock = [](CPlexmarApp& app, QWidget* parent) -> CLogicBlock* {
    const auto& create = FormHooks().createLogicBlock;
    return create ? create(app, parent) : nullptr;
  };
  return hooks;
}
