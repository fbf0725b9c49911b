// The password dialog of "&Lock" and "&Unlock": one masked edit field that
// starts empty, "OK" and "Cancel"; its caption is set by the command.
#pragma once

#include <QDialog>

#include <memory>

namespace Ui {
class PasswordDlg;
}

class CPasswordDlg : public QDialog {
  Q_OBJECT

 public:
  CPasswordDlg(const QString& caption, QWidget* parent = nullptr);
  ~CPasswordDlg() override;

  QString Password() const;
  Ui::PasswordDlg& Form() { return *m_ui; }

 private:
  std::unique_ptr<Ui::PasswordDlg> m_ui;
};
