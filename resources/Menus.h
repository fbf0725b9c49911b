// The main program's two menu bars, built in one place: resource 128, shown
// while no form is open, and resource 129, the menu of a form window. They
// share the Connect and Help menus; each has its own File and Edit menus.
#pragma once

#include <QList>

class QMenu;
class QAction;
class QWidget;

struct CMenuBars {
  QList<QMenu*> noForm;  // 128: &File &Connect &Edit &Help
  QList<QMenu*> form;    // 129: the same titles, the fuller File and Edit
  QMenu* fileNoForm = nullptr;
  QMenu* fileForm = nullptr;
  // In each File menu, recent files go just before this separator (which
  // precedes "E&xit").
  QAction* recentEndNoForm = nullptr;
  QAction* recentEndForm = nullptr;
};

// Builds every menu as a child of `owner`. Each command's QAction carries its
// id (resources/CommandIds.h) as data and starts disabled.
CMenuBars BuildMenuBars(QWidget* owner);

// Set on the disabled "Recent File" line shown while the recent-file list is
// empty: it carries the first recent-file id but never runs it.
inline constexpr const char* kRecentPlaceholderProperty = "plexmarRecentPlaceholder";

// The id a menu action carries, or 0 for separators and submenus.
int CommandIdOf(const QAction* action);
