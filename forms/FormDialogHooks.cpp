#include "forms/FormDialogHooks.h"

#include <QApplication>
#include <QColorDialog>
#include <QDialog>
#include <QFileDialog>
#include <QFontDialog>
#include <QFontInfo>
#include <QMessageBox>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "forms/PainterDC.h"
#include "logic/LogicBlockEditing.h"

void LogFontFromFont(const QFont& font, LOGFONT& logFont) {
  // The character height in pixels, negative as a LOGFONT has it.
  int pixels = font.pixelSize();
  if (pixels <= 0) pixels = static_cast<int>(std::lround(font.pointSizeF() * 96.0 / 72.0));
  logFont.lfHeight = -std::max(pixels, 1);
  logFont.lfWidth = 0;
  logFont.lfWeight = std::clamp(static_cast<int32_t>(font.weight()), 100, 900);
  logFont.lfItalic = font.italic() ? 1 : 0;
  logFont.lfUnderline = font.underline() ? 1 : 0;
  logFont.lfStrikeOut = font.strikeOut() ? 1 : 0;
  const QByteArray face = font.family().toLatin1();
  std::memset(logFont.lfFaceName, 0, sizeof logFont.lfFaceName);
  std::memcpy(logFont.lfFaceName, face.constData(),
              std::min<size_t>(face.size(), sizeof logFont.lfFaceName - 1));
}

FormDialogHooks FormDialogHooks::Default() {
  FormDialogHooks hooks;
  hooks.run = [](QDialog& dialog) { return dialog.exec(); };
  hooks.warn = [](QWidget* parent, const QString& text) {
    QMessageBox::warning(parent, QStringLiteral("Plexmar"), text);
  };
  hooks.chooseColor = [](QWidget* parent, COLORREF& color) {
    const QColor chosen = QColorDialog::getColor(ColorFromRef(color), parent);
    if (!chosen.isValid()) return false;
    color = RefFromColor(chosen);
    return true;
  };
  hooks.chooseFont = [](QWidget* parent, LOGFONT& font) {
    bool ok = false;
    // Only fonts the system has can be chosen, as the font must exist.
    const QFont chosen = QFontDialog::getFont(&ok, FontFromLogFont(font), parent, QString(),
                                              QFontDialog::DontUseNativeDialog);
    if (ok) LogFontFromFont(chosen, font);
    return ok;
  };
  hooks.browseBitmap = [](QWidget* parent) {
    return QFileDialog::getOpenFileName(parent, QString(), QStringLiteral("*.bmp"),
                                        QStringLiteral("BMP Files (*.bmp);;All Files (*.*)"), nullptr,
                                        QFileDialog::DontConfirmOverwrite | QFileDialog::ReadOnly);
  };
  hooks.askYesNo = [](QWidget* parent, const QString& text) {
    return QMessageBox::question(parent, QStringLiteral("Plexmar"), text, QMessageBox::Yes | QMessageBox::No) ==
           QMessageBox::Yes;
  };
  hooks.createLogicBlock = [](CPlexmarApp& app, QWidget* parent) { return CreateLogicBlock(app, parent); };
  return hooks;
}

FormDialogHooks& FormHooks() {
  static FormDialogHooks hooks = FormDialogHooks::Default();
  return hooks;
}
