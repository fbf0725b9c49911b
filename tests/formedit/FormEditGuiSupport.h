// What the forms' editing GUI tests share: the application on the offscreen
// platform, dialog hooks that answer the colour, font and file dialogs and
// the nested dialogs as a script says, and screenshots.
#pragma once

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QString>
#include <QStringList>

#include <cstdlib>
#include <deque>
#include <functional>
#include <memory>

#include "core/ExchangeTag.h"
#include "core/PlexmarApp.h"
#include "forms/FormDialogHooks.h"
#include "forms/PainterDC.h"

namespace formedit_test {

inline QApplication& App() {
  static int argc = 1;
  static char name[] = "formedit_gui_test";
  static char* argv[] = {name, nullptr};
  static QApplication* app = [] {
    auto* a = new QApplication(argc, argv);
    InstallQtFormBitmapLoader();
    return a;
  }();
  return *app;
}

inline QString ShotDir() {
  const char* dir = std::getenv("PLEXMAR_SCREENSHOT_DIR");
  return dir != nullptr ? QString::fromUtf8(dir) : QStringLiteral("/tmp");
}

// Saves what a widget looks like, for a person to look at.
inline bool Snapshot(QWidget& widget, const QString& name) {
  widget.adjustSize();
  widget.show();
  QApplication::processEvents();
  QDir().mkpath(ShotDir());
  const bool saved = widget.grab().save(ShotDir() + "/" + name + ".png");
  return saved;
}

// Scripted answers for the forms' dialogs.
struct ScriptedHooks {
  // Colours the colour dialog returns, in order; empty: cancelled.
  std::deque<COLORREF> colors;
  // What the font dialog does to the LOGFONT; null: cancelled.
  std::function<void(LOGFONT&)> font;
  QString bitmapPath;
  // The nested dialogs, in the order they open: each is filled in and its
  // result returned. Without a script a dialog is cancelled.
  std::deque<std::function<int(QDialog&)>> dialogs;
  bool yes = false;
  std::function<CLogicBlock*(CPlexmarApp&, QWidget*)> createLogicBlock;

  QStringList warnings;
  QStringList questions;
  QStringList opened;  // captions of the dialogs run, in order

  FormDialogHooks Hooks() {
    FormDialogHooks hooks;
    hooks.run = [this](QDialog& dialog) {
      opened << dialog.windowTitle();
      if (dialogs.empty()) return static_cast<int>(QDialog::Rejected);
      auto step = std::move(dialogs.front());
      dialogs.pop_front();
      return step(dialog);
    };
    hooks.warn = [this](QWidget*, const QString& text) { warnings << text; };
    hooks.chooseColor = [this](QWidget*, COLORREF& color) {
      if (colors.empty()) return false;
      color = colors.front();
      colors.pop_front();
      return true;
    };
    hooks.chooseFont = [this](QWidget*, LOGFONT& f) {
      if (!font) return false;
      font(f);
      return true;
    };
    hooks.browseBitmap = [this](QWidget*) { return bitmapPath; };
    hooks.askYesNo = [this](QWidget*, const QString& text) {
      questions << text;
      return yes;
    };
    hooks.createLogicBlock = [this](CPlexmarApp& app, QWidget* parent) -> CLogicBlock* {
      return createLogicBlock ? createLogicBlock(app, parent) : nullptr;
    };
    return hooks;
  }
};

class TagTable {
 public:
  CExchangeTag& AddTag(const std::string& name, const VARIANT& value) {
    auto tag = std::make_unique<CExchangeTag>(name);
    tag->m_value = value;
    CExchangeTag& ref = *tag;
    app.m_tags.push_back(std::move(tag));
    return ref;
  }
  CPlexmarApp app;
};

}  // namespace formedit_test
