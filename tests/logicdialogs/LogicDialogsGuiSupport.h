// What the logic editors' GUI tests share: the application on the offscreen
// platform, hooks that answer the nested dialogs as a script says and record
// the messages, a small block builder, and screenshots.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFontMetrics>
#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <deque>
#include <functional>
#include <memory>
#include <string>

#include "core/ExchangeTag.h"
#include "core/PlexmarApp.h"
#include "logic/LogicBlock.h"
#include "logic/LogicDialogHooks.h"

namespace logicdialogs_test {

inline QApplication& App() {
  static int argc = 1;
  static char name[] = "logicdialogs_gui_test";
  static char* argv[] = {name, nullptr};
  static QApplication* app = new QApplication(argc, argv);
  return *app;
}

// Saves what a dialog looks like, for a person to look at, under the build
// folder's screenshots/logicdialogs. The offscreen platform draws no window
// frame, so the caption is painted above the dialog as a title bar would be.
inline bool Snapshot(QWidget& widget, const QString& name) {
  widget.adjustSize();
  widget.show();
  QApplication::processEvents();
  const QPixmap client = widget.grab();
  const QFontMetrics metrics(widget.font());
  const int bar = metrics.height() + 10;
  QImage shot(std::max(client.width(), metrics.horizontalAdvance(widget.windowTitle()) + 20),
              client.height() + bar, QImage::Format_RGB32);
  shot.fill(QColor(0xd6, 0xd6, 0xd6));
  QPainter painter(&shot);
  painter.fillRect(0, 0, shot.width(), bar, QColor(0x1c, 0x3f, 0x8c));
  painter.setPen(Qt::white);
  painter.setFont(widget.font());
  painter.drawText(QRect(8, 0, shot.width() - 8, bar), Qt::AlignVCenter | Qt::AlignLeft, widget.windowTitle());
  painter.drawPixmap(0, bar, client);
  painter.end();
  const QString dir = QStringLiteral(PLEXMAR_BINARY_DIR "/screenshots/logicdialogs");
  QDir().mkpath(dir);
  const bool saved = shot.save(dir + "/" + name + ".png");
  widget.hide();
  return saved;
}

// Scripted answers for the dialogs the editors open, in the order they open.
// Each step fills its dialog in and presses a button; what the dialog's
// result then is goes back to the editor. A dialog without a step is
// cancelled.
struct ScriptedLogicHooks {
  using Step = std::function<void(QDialog&)>;
  std::deque<Step> steps;
  QStringList opened;    // captions of the dialogs run, in order
  QStringList messages;  // refusals, as the editors word them

  template <class Dialog>
  void Then(std::function<void(Dialog&)> fill) {
    steps.push_back([fill](QDialog& dialog) {
      auto* typed = dynamic_cast<Dialog*>(&dialog);
      ASSERT_NE(typed, nullptr) << "unexpected dialog " << dialog.windowTitle().toStdString();
      fill(*typed);
    });
  }

  LogicDialogHooks Hooks() {
    LogicDialogHooks hooks;
    hooks.run = [this](QDialog& dialog) {
      opened << dialog.windowTitle();
      if (steps.empty()) return static_cast<int>(QDialog::Rejected);
      Step step = std::move(steps.front());
      steps.pop_front();
      dialog.setResult(QDialog::Rejected);
      step(dialog);
      return dialog.result();
    };
    hooks.message = [this](QWidget*, const QString& text) { messages << text; };
    return hooks;
  }
};

// Puts the scripted hooks in place of the program's for one test.
class HooksInPlace {
 public:
  explicit HooksInPlace(ScriptedLogicHooks& script) : m_saved(LogicHooks()) { LogicHooks() = script.Hooks(); }
  ~HooksInPlace() { LogicHooks() = m_saved; }

 private:
  LogicDialogHooks m_saved;
};

class Project {
 public:
  CExchangeTag& AddTag(const std::string& name, double value = 0) {
    app.m_tags.push_back(std::make_unique<CExchangeTag>(name));
    app.m_tags.back()->m_value = MakeVariantR8(value);
    return *app.m_tags.back();
  }
  CLogicBlock& AddBlock(const std::string& name) {
    auto block = std::make_unique<CLogicBlock>();
    block->m_strName = name;
    CLogicBlock& ref = *block;
    app.AddLogicBlock(std::move(block));
    return ref;
  }
  static CLogicEntry& AddEntry(CLogicBlock& block, int32_t kind, const std::string& label = "") {
    auto entry = std::make_unique<CLogicEntry>();
    entry->m_nType = kind;
    entry->m_strLabel = label;
    block.m_entries.push_back(std::move(entry));
    return *block.m_entries.back();
  }
  static CLogicEntry& Assign(CLogicBlock& block, const std::string& to, const std::string& from,
                             const std::string& label = "") {
    CLogicEntry& entry = AddEntry(block, kLogicAssignment, label);
    entry.m_strTag1 = to;
    entry.m_strTag2 = from;
    return entry;
  }
  double Value(const std::string& tag) const { return app.FindTag(tag)->m_value->dblVal; }

  CPlexmarApp app;
};

}  // namespace logicdialogs_test
