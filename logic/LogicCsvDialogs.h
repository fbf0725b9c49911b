// The dialogs of the logic block CSV commands: "Select Logic Block Table"
// (which block to export), "Import Logic Blk" (the new block's name) and
// "Logic Block Already Exists" (overwrite or not).
#pragma once

#include <QDialog>

#include <memory>
#include <string>
#include <vector>

namespace Ui {
class SelectLogicBlockDlg;
class ImportLogicBlkDlg;
class LogicBlockExistsDlg;
}  // namespace Ui

class CSelectLogicBlockDlg : public QDialog {
  Q_OBJECT

 public:
  CSelectLogicBlockDlg(const std::vector<std::string>& names, QWidget* parent = nullptr);
  ~CSelectLogicBlockDlg() override;

  // The selected position in the list, -1 for none.
  int Selected() const;
  Ui::SelectLogicBlockDlg& Form() { return *m_ui; }

 private:
  std::unique_ptr<Ui::SelectLogicBlockDlg> m_ui;
};

class CImportLogicBlkDlg : public QDialog {
  Q_OBJECT

 public:
  explicit CImportLogicBlkDlg(QWidget* parent = nullptr);
  ~CImportLogicBlkDlg() override;

  std::string Name() const;
  Ui::ImportLogicBlkDlg& Form() { return *m_ui; }

 private:
  std::unique_ptr<Ui::ImportLogicBlkDlg> m_ui;
};

// Accepted by "YES", rejected by "Cancel".
class CLogicBlockExistsDlg : public QDialog {
  Q_OBJECT

 public:
  explicit CLogicBlockExistsDlg(QWidget* parent = nullptr);
  ~CLogicBlockExistsDlg() override;

  Ui::LogicBlockExistsDlg& Form() { return *m_ui; }

 private:
  std::unique_ptr<Ui::LogicBlockExistsDlg> m_ui;
};
