#include "core/RecentFileList.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>

namespace {
const char* const kSection = "Recent File List";
}

void CRecentFileList::ReadList() {
  QSettings settings;
  settings.beginGroup(kSection);
  m_files.clear();
  for (int i = 1; i <= m_nSize; ++i) {
    const QString path = settings.value(QStringLiteral("File%1").arg(i)).toString();
    if (!path.isEmpty() && !m_files.contains(path)) m_files.append(path);
  }
}

void CRecentFileList::WriteList() const {
  QSettings settings;
  settings.remove(kSection);
  settings.beginGroup(kSection);
  for (int i = 0; i < m_files.size(); ++i) settings.setValue(QStringLiteral("File%1").arg(i + 1), m_files[i]);
  settings.endGroup();
  settings.sync();
}

void CRecentFileList::Add(const QString& path) {
  if (path.isEmpty()) return;
  const QString absolute = QFileInfo(path).absoluteFilePath();
  m_files.removeAll(absolute);
  m_files.prepend(absolute);
  while (m_files.size() > m_nSize) m_files.removeLast();
}

void CRecentFileList::Remove(int index) {
  if (index >= 0 && index < m_files.size()) m_files.removeAt(index);
}

QString CRecentFileList::MenuText(int index, const QString& path) {
  // A literal '&' in a file name must not become a mnemonic.
  QString shown = QDir::toNativeSeparators(path);
  shown.replace(QLatin1Char('&'), QStringLiteral("&&"));
  return QStringLiteral("&%1 %2").arg(index + 1).arg(shown);
}
