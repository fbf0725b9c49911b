// What the tag dialog tests share: the application on the offscreen
// platform, hooks that answer the nested dialogs and message boxes as a
// script says, scripted steps for the definition dialog, and screenshots.
#pragma once

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QString>
#include <QStringList>
#include <QTreeWidget>

#include <deque>
#include <functional>
#include <memory>
#include <string>

#include "core/ExchangeTag.h"
#include "core/PlexmarApp.h"
#include "serverkit/serverkit.h"
#include "tags/TagDefinitionDlgs.h"
#include "tags/TagDialogHooks.h"
#include "tags/TagListDlg.h"
#include "ui_ModbusPointDlg.h"
#include "ui_TagDefinitionDlg.h"
#include "ui_TagListDlg.h"
#include "ui_UserVariableDlg.h"

namespace tagdialogs_test {

inline QApplication& App() {
  static int argc = 1;
  static char name[] = "tagdialogs_gui_test";
  static char* argv[] = {name, nullptr};
  static QApplication* app = new QApplication(argc, argv);
  return *app;
}

inline QString ShotDir() { return QStringLiteral(PLEXMAR_BINARY_DIR "/screenshots/tagdialogs"); }

// Saves what a dialog looks like, for a person to look at.
inline bool Snapshot(QWidget& widget, const QString& name) {
  widget.adjustSize();
  widget.show();
  QApplication::processEvents();
  QDir().mkpath(ShotDir());
  return widget.grab().save(ShotDir() + "/" + name + ".png");
}

// Scripted answers: each nested dialog, in the order it opens, is handed to
// the next step; without a step it is cancelled.
struct Script {
  using Step = std::function<int(QDialog&)>;
  std::deque<Step> steps;
  QStringList opened;    // captions of the dialogs run, in order
  QStringList warnings;  // validation messages
  QStringList told;      // message boxes
  std::function<CLogicBlock*(CPlexmarApp&, QWidget*)> createLogicBlock;
  int blockEditorRuns = 0;

  TagDialogHooks Hooks() {
    TagDialogHooks hooks;
    hooks.run = [this](QDialog& dialog) {
      opened << dialog.windowTitle();
      if (steps.empty()) return static_cast<int>(QDialog::Rejected);
      Step step = std::move(steps.front());
      steps.pop_front();
      return step(dialog);
    };
    hooks.warn = [this](QWidget*, const QString& text) { warnings << text; };
    hooks.tell = [this](QWidget*, const QString& text) { told << text; };
    hooks.createLogicBlock = [this](CPlexmarApp& app, QWidget* parent) -> CLogicBlock* {
      ++blockEditorRuns;
      return createLogicBlock ? createLogicBlock(app, parent) : nullptr;
    };
    return hooks;
  }
};

inline int Cancel(QDialog&) { return QDialog::Rejected; }

inline int PressOk(QDialog& dialog, QDialogButtonBox* box) {
  box->button(QDialogButtonBox::Ok)->click();
  return dialog.result();
}

// A combo box entry chosen as the operator does it.
inline void Choose(QComboBox* combo, int index) {
  combo->setCurrentIndex(index);
  emit combo->activated(index);
}

inline QStringList Entries(const QComboBox* combo) {
  QStringList list;
  for (int i = 0; i < combo->count(); ++i) list << combo->itemText(i);
  return list;
}

// The definition dialog's step: `fill` does what the operator does, then OK.
inline Script::Step Define(std::function<void(CTagDefinitionDlg&)> fill) {
  return [fill](QDialog& dialog) {
    auto& definition = dynamic_cast<CTagDefinitionDlg&>(dialog);
    if (fill) fill(definition);
    return PressOk(dialog, definition.Form().buttonBox);
  };
}

inline Script::Step Named(const std::string& name) {
  return Define([name](CTagDefinitionDlg& d) { d.Form().editName->setText(QString::fromStdString(name)); });
}

inline Script::Step ModbusDetails(std::function<void(Ui::ModbusPointDlg&)> fill) {
  return [fill](QDialog& dialog) {
    auto& details = dynamic_cast<CModbusPointDlg&>(dialog);
    if (fill) fill(details.Form());
    return PressOk(dialog, details.Form().buttonBox);
  };
}

inline Script::Step UserValue(const QString& text) {
  return [text](QDialog& dialog) {
    auto& value = dynamic_cast<CUserVariableDlg&>(dialog);
    value.Form().editValue->setText(text);
    return PressOk(dialog, value.Form().buttonBox);
  };
}

inline QStringList Row(const CTagListDlg& list, int row) {
  QStringList texts;
  const QTreeWidgetItem* item = const_cast<CTagListDlg&>(list).Form().listTags->topLevelItem(row);
  if (item == nullptr) return texts;
  for (int c = 0; c < 3; ++c) texts << item->text(c);
  return texts;
}

inline QStringList Names(const CPlexmarApp& app) {
  QStringList names;
  for (const auto& tag : app.m_tags) names << QString::fromStdString(tag->m_strName);
  return names;
}

inline QStringList ItemNames() {
  QStringList names;
  for (const serverkit::ItemState& item : serverkit::ListItems()) names << QString::fromStdString(item.name);
  return names;
}

// A tag bound as the project load binds it.
inline CExchangeTag& AddBound(CPlexmarApp& app, const std::string& name, int32_t kind,
                              std::function<void(CExchangeTag&)> fill = {}) {
  auto tag = std::make_unique<CExchangeTag>(name);
  tag->m_nSourceKind = kind;
  if (fill) fill(*tag);
  CExchangeTag& ref = *tag;
  app.AddTag(std::move(tag));
  return ref;
}

}  // namespace tagdialogs_test
