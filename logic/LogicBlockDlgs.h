// "Plexmar Logic Block Tables" (every block by name) and "Plexmar Logic
// Block" (one block's name and entries). The table acts on the application's
// list; the block editor works on the block it is given, which its caller
// makes as a new block or a copy and commits only when the editor is
// confirmed and the name is acceptable.
#pragma once

#include <QDialog>

#include <memory>
#include <string>

#include "logic/LogicDialogHooks.h"

class CLogicBlock;
class CLogicEntry;
class CPlexmarApp;
class QTreeWidgetItem;

namespace Ui {
class LogicTablesDlg;
class LogicBlockDlg;
}  // namespace Ui

class CLogicBlockTablesDlg : public QDialog {
  Q_OBJECT

 public:
  explicit CLogicBlockTablesDlg(CPlexmarApp& app, QWidget* parent = nullptr);
  ~CLogicBlockTablesDlg() override;

  Ui::LogicTablesDlg& Form() { return *m_ui; }
  // The selected row, -1 for none.
  int Selected() const;

  // A new block "LB<count + 1>" through the block editor; a valid name
  // appends it to the application and to the table, selected.
  void OnNew();
  // The block editor on a copy of the selected block; a changed copy with a
  // valid name takes the block's place in the application and the table.
  void OnModify();

  LogicDialogHooks m_hooks = LogicHooks();

 private:
  std::unique_ptr<Ui::LogicTablesDlg> m_ui;
  CPlexmarApp& m_app;
};

class CLogicBlockDlg : public QDialog {
  Q_OBJECT

 public:
  CLogicBlockDlg(CLogicBlock& block, CPlexmarApp& app, QWidget* parent = nullptr);
  ~CLogicBlockDlg() override;

  Ui::LogicBlockDlg& Form() { return *m_ui; }
  // The selected position in the entry list, -1 for none.
  int Selected() const { return m_nSelected; }

  // A new assignment entry through the entry definition, inserted after the
  // selected row (at the end without one) and selected.
  void OnAddEntry();
  // The entry definition on a copy of the selected entry; a changed copy
  // with an acceptable label takes the entry's place.
  void OnEditEntry();
  // Deletes the selected entry without asking; the position stays selected,
  // now on the entry that moved into it.
  void OnRemoveEntry();
  // The name as typed, at most 199 characters; the caller tests it.
  void accept() override;

  LogicDialogHooks m_hooks = LogicHooks();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Select(int position);
  void OnSelectionChanged();
  void FillRow(QTreeWidgetItem& row, const CLogicEntry& entry) const;
  // Label, Type and Description at a sixth, a sixth and two thirds.
  void FitColumns();
  // Runs the entry definition on `entry` until its label is acceptable
  // among the entries other than position `self`; false when cancelled,
  // and also when the definition came back without a change to `original`.
  bool DefineEntry(CLogicEntry& entry, int self, const CLogicEntry* original);

  std::unique_ptr<Ui::LogicBlockDlg> m_ui;
  CLogicBlock& m_block;
  CPlexmarApp& m_app;
  int m_nSelected = -1;
};

// Why `name` cannot name a block: empty, or carried by a block of the
// application other than `self`. Empty when the name is acceptable.
QString LogicBlockNameRefusal(const CPlexmarApp& app, const std::string& name, const CLogicBlock* self);
