// The recent-file list of the File menus, kept in the settings under
// "Recent File List" as File1..FileN, newest first.
#pragma once

#include <QString>
#include <QStringList>

class CRecentFileList {
 public:
  explicit CRecentFileList(int size = 4) : m_nSize(size) {}

  // Reads and writes the application's QSettings (organisation and
  // application name must be set).
  void ReadList();
  void WriteList() const;

  // Moves or puts `path` at the top; the oldest falls off.
  void Add(const QString& path);
  void Remove(int index);
  const QStringList& Files() const { return m_files; }
  int Size() const { return m_nSize; }

  // "&1 name" as a menu shows it.
  static QString MenuText(int index, const QString& path);

 private:
  int m_nSize;
  QStringList m_files;
};
