// "Plexmar Tag List": every tag with its current value and its source, and
// the Add, Edit and Remove commands that change the tag table in place.
// Closing the list registers the data blocks of the Modbus points.
#pragma once

#include <QDialog>

#include <memory>

#include "tags/TagDialogHooks.h"

class CExchangeTag;
class CPlexmarApp;
class QTreeWidgetItem;
namespace Ui {
class TagListDlg;
}  // namespace Ui

class CTagListDlg : public QDialog {
  Q_OBJECT

 public:
  CTagListDlg(CPlexmarApp& app, const TagDialogHooks& hooks, QWidget* parent = nullptr);
  ~CTagListDlg() override;

  Ui::TagListDlg& Form() { return *m_ui; }
  // The position Edit and Remove act on; -1 for none. It may lie past the
  // last row after a Remove there.
  int SelectedPosition() const { return m_nSelected; }

  // What a click on row `position` (-1: not on a row) does.
  void SelectPosition(int position);
  void OnAdd();
  void OnEdit();
  void OnRemove();
  // Columns at a third, a sixth and a half of the list's width.
  void SizeColumns();

  // However the list is closed, the Modbus points' data blocks are registered.
  void done(int result) override;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  void FillRow(QTreeWidgetItem* row, const CExchangeTag& tag) const;
  // Runs the definition dialog on a new tag until its name is free, or the
  // operator cancels (false).
  bool DefineNewTag(CExchangeTag& tag);
  void ShowDuplicateName(const std::string& name);
  int RunDialog(QDialog& dialog);

  std::unique_ptr<Ui::TagListDlg> m_ui;
  CPlexmarApp& m_app;
  TagDialogHooks m_hooks;
  int m_nSelected = -1;
  bool m_bColumnsSized = false;
  bool m_bSelecting = false;
};
