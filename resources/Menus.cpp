#include "resources/Menus.h"

#include <QAction>
#include <QKeySequence>
#include <QMenu>
#include <QString>

#include "resources/CommandIds.h"

namespace {

QAction* AddCommand(QMenu* menu, const char* text, int id,
                    QKeySequence shortcut = QKeySequence()) {
  QAction* action = menu->addAction(QString::fromUtf8(text));
  action->setData(id);
  action->setEnabled(false);
  if (!shortcut.isEmpty()) action->setShortcut(shortcut);
  return action;
}

// "As Modbus &Master" and "As Modbus &Slave" list the same ports.
void AddPortMenu(QMenu* connect, const char* title, int firstComm, int tcp) {
  QMenu* ports = connect->addMenu(QString::fromUtf8(title));
  for (int n = 1; n <= 9; ++n) {
    const QByteArray text = "COMM &" + QByteArray::number(n);
    AddCommand(ports, text.constData(), firstComm + n - 1);
  }
  AddCommand(ports, "modbus/TCP", tcp);
}

QMenu* BuildConnectMenu(QWidget* owner) {
  auto* connect = new QMenu(QStringLiteral("&Connect"), owner);
  AddPortMenu(connect, "As Modbus &Master", cmd::ID_CONNECT_MASTER_COMM1, cmd::ID_CONNECT_MASTER_TCP);
  AddPortMenu(connect, "As Modbus &Slave", cmd::ID_CONNECT_SLAVE_COMM1, cmd::ID_CONNECT_SLAVE_TCP);
  QMenu* opc = connect->addMenu(QStringLiteral("OPC"));
  AddCommand(opc, "&Local", cmd::ID_CONNECT_OPC_LOCAL);
  AddCommand(opc, "&Remote", cmd::ID_CONNECT_OPC_REMOTE);
  return connect;
}

QMenu* BuildEditMenu(QWidget* owner, bool formWindow) {
  auto* edit = new QMenu(QStringLiteral("&Edit"), owner);
  AddCommand(edit, "&TagList", cmd::ID_EDIT_TAGLIST);
  AddCommand(edit, "&Import Tags", cmd::ID_EDIT_IMPORT_TAGS);
  AddCommand(edit, "&Export Tags", cmd::ID_EDIT_EXPORT_TAGS);
  edit->addSeparator();
  AddCommand(edit, "&Logic Blks", cmd::ID_EDIT_LOGIC_BLKS);
  AddCommand(edit, "I&mport Logic Blk", cmd::ID_EDIT_IMPORT_LOGIC_BLK);
  AddCommand(edit, "E&xport Logic Blk", cmd::ID_EDIT_EXPORT_LOGIC_BLK);
  if (formWindow) {
    edit->addSeparator();
    AddCommand(edit, "Form &Properties", cmd::ID_EDIT_FORM_PROPERTIES);
    AddCommand(edit, "test", cmd::ID_EDIT_TEST);
  }
  return edit;
}

QMenu* BuildHelpMenu(QWidget* owner) {
  auto* help = new QMenu(QStringLiteral("&Help"), owner);
  AddCommand(help, "&Help Topics", cmd::ID_HELP_FINDER);
  help->addSeparator();
  AddCommand(help, "&About Plexmar...", cmd::ID_APP_ABOUT);
  return help;
}

QMenu* BuildFileMenu(QWidget* owner, bool formWindow, QAction*& recentEnd) {
  auto* file = new QMenu(QStringLiteral("&File"), owner);
  AddCommand(file, "&New", cmd::ID_FILE_NEW, QKeySequence::New);
  AddCommand(file, "&Open...", cmd::ID_FILE_OPEN, QKeySequence::Open);
  if (formWindow) {
    AddCommand(file, "&Close", cmd::ID_FILE_CLOSE);
    AddCommand(file, "&Save", cmd::ID_FILE_SAVE, QKeySequence::Save);
    AddCommand(file, "Save As...", cmd::ID_FILE_SAVE_AS);
    file->addSeparator();
    AddCommand(file, "Save &All", cmd::ID_FILE_SAVE_ALL);
  }
  AddCommand(file, "&Restore All", cmd::ID_FILE_RESTORE_ALL);
  file->addSeparator();
  if (formWindow) AddCommand(file, "&Lock", cmd::ID_FILE_LOCK);
  AddCommand(file, "&Unlock", cmd::ID_FILE_UNLOCK);
  file->addSeparator();
  if (formWindow) {
    AddCommand(file, "&Print...", cmd::ID_FILE_PRINT, QKeySequence::Print);
    AddCommand(file, "Print Pre&view", cmd::ID_FILE_PRINT_PREVIEW);
  }
  AddCommand(file, "P&rint Setup...", cmd::ID_FILE_PRINT_SETUP);
  file->addSeparator();
  // The recent-file entries are inserted before this separator when the menu
  // opens; with none, the framework shows one disabled "Recent File".
  AddCommand(file, "Recent File", cmd::ID_FILE_MRU_FILE1)
      ->setProperty(kRecentPlaceholderProperty, true);
  recentEnd = file->addSeparator();
  AddCommand(file, "E&xit", cmd::ID_APP_EXIT);
  return file;
}

}  // namespace

CMenuBars BuildMenuBars(QWidget* owner) {
  CMenuBars bars;
  QMenu* connect = BuildConnectMenu(owner);
  QMenu* help = BuildHelpMenu(owner);
  bars.fileNoForm = BuildFileMenu(owner, false, bars.recentEndNoForm);
  bars.fileForm = BuildFileMenu(owner, true, bars.recentEndForm);
  bars.noForm = {bars.fileNoForm, connect, BuildEditMenu(owner, false), help};
  bars.form = {bars.fileForm, connect, BuildEditMenu(owner, true), help};
  return bars;
}

int CommandIdOf(const QAction* action) {
  if (action == nullptr || action->isSeparator() || action->menu() != nullptr) return 0;
  bool ok = false;
  const int id = action->data().toInt(&ok);
  return ok ? id : 0;
}
