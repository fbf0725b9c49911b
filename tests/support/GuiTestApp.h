// What the dialog GUI tests share: one QApplication per test program, and a
// widget's picture saved under the build folder's screenshots/ for a person to
// look at against the dialog's captions and layout.
#pragma once

#include <QApplication>
#include <QDir>
#include <QString>
#include <QWidget>

#include <gtest/gtest.h>

namespace testsupport {

inline QApplication& GuiApp() {
  static int argc = 1;
  static char name[] = "plexmar_gui_test";
  static char* argv[] = {name, nullptr};
  static QApplication* app = new QApplication(argc, argv);
  return *app;
}

// Lays the widget out at its natural size, shows it long enough to paint,
// saves <build>/screenshots/<name>.png and hides it again.
inline void SaveSnapshot(QWidget& widget, const QString& name) {
  widget.adjustSize();
  widget.show();
  QApplication::processEvents();
  const QString dir = QStringLiteral(PLEXMAR_BINARY_DIR "/screenshots");
  QDir().mkpath(dir);
  EXPECT_TRUE(widget.grab().save(dir + "/" + name + ".png"));
  widget.hide();
}

}  // namespace testsupport
