// The dialogs of one logic entry: "Logic Entry Definition" (label and kind)
// and the operation dialog of each kind. They work on the entry they are
// given, which the block editor makes as a new entry or a copy and commits
// only when the definition is confirmed. The operation dialogs write some
// choices into it at once (the operator, the GOTO target, SHOW/HIDE), which
// then stay even when the operation dialog is cancelled.
#pragma once

#include <QDialog>

#include <memory>

#include "logic/LogicDialogHooks.h"

class CLogicEntry;
class CPlexmarApp;
class QComboBox;

namespace Ui {
class LogicEntryDlg;
class LogicAssignDlg;
class LogicIfDlg;
class LogicFormDlg;
}  // namespace Ui

// "Logic Entry Definition": the label, the kind, its description and
// "Details" for the operation dialog of the kind.
class CLogicEntryDlg : public QDialog {
  Q_OBJECT

 public:
  CLogicEntryDlg(CLogicEntry& entry, CPlexmarApp& app, QWidget* parent = nullptr);
  ~CLogicEntryDlg() override;

  Ui::LogicEntryDlg& Form() { return *m_ui; }
  // The operation dialog of the entry's kind; an unknown kind has none.
  void OnDetails();
  // The label, as typed (at most 199 characters, not trimmed).
  void accept() override;

  LogicDialogHooks m_hooks = LogicHooks();

 private:
  void ShowDescription();

  std::unique_ptr<Ui::LogicEntryDlg> m_ui;
  CLogicEntry& m_entry;
  CPlexmarApp& m_app;
};

// "Plexmar Logic Entry (Tag Assignment Operation)": Tag1 = Tag2 [op Tag3].
class CLogicAssignDlg : public QDialog {
  Q_OBJECT

 public:
  CLogicAssignDlg(CLogicEntry& entry, CPlexmarApp& app, QWidget* parent = nullptr);
  ~CLogicAssignDlg() override;

  Ui::LogicAssignDlg& Form() { return *m_ui; }
  void accept() override;

 private:
  // Without an operator there is no Tag3: its list is cleared and disabled.
  void ShowOperator(int code);

  std::unique_ptr<Ui::LogicAssignDlg> m_ui;
  CLogicEntry& m_entry;
};

// "Plexmar Logic Entry (IF Operation)": IF Tag1 cmp Tag2 THEN GOTO block:label.
class CLogicIfDlg : public QDialog {
  Q_OBJECT

 public:
  CLogicIfDlg(CLogicEntry& entry, CPlexmarApp& app, QWidget* parent = nullptr);
  ~CLogicIfDlg() override;

  Ui::LogicIfDlg& Form() { return *m_ui; }
  void accept() override;

 private:
  // The non-empty labels of the GOTO block's entries, in block order, with
  // the GOTO label selected where it is among them.
  void FillLabels();
  void OnBlockChosen(int index);
  void OnLabelChosen(int index);

  std::unique_ptr<Ui::LogicIfDlg> m_ui;
  CLogicEntry& m_entry;
  CPlexmarApp& m_app;
  bool m_bFilling = false;
};

// "Plexmar Logic Entry (Form Load/UnLoad Operation)": SHOW or HIDE a form.
class CLogicFormDlg : public QDialog {
  Q_OBJECT

 public:
  explicit CLogicFormDlg(CLogicEntry& entry, QWidget* parent = nullptr);
  ~CLogicFormDlg() override;

  Ui::LogicFormDlg& Form() { return *m_ui; }
  void accept() override;

 private:
  std::unique_ptr<Ui::LogicFormDlg> m_ui;
  CLogicEntry& m_entry;
};
