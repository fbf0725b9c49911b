#include "core/FileDialogs.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>

QString EnterProgramFolder() {
  const QString folder = QCoreApplication::applicationDirPath();
  QDir::setCurrent(folder);
  return folder;
}

AskFileFn DefaultAskFile() {
  return [](QWidget* parent, const FileDialogRequest& request) {
    QFileDialog dialog(parent);
    dialog.setDirectory(QDir::current());
    dialog.setAcceptMode(request.bSave ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(request.bSave ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    // Qt's dialog has no read-only box to hide.
    if (!request.bConfirmOverwrite) dialog.setOption(QFileDialog::DontConfirmOverwrite);
    // The pattern as the initial name shows the files it matches.
    dialog.selectFile(request.initialName);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return QString();
    const QString chosen = dialog.selectedFiles().constFirst();
    // The pattern itself, accepted unchanged, names no file.
    if (QFileInfo(chosen).fileName().contains(QLatin1Char('*'))) return QString();
    return chosen;
  };
}
