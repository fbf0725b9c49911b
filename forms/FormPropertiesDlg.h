// "Form Properties": the form's title, refresh rate and colours. The dialog
// keeps its own copies; the view applies them on OK.
#pragma once

#include <QDialog>

#include <memory>
#include <string>

#include "forms/FormDialogHooks.h"

namespace Ui {
class FormPropDlg;
}

class CFormPropDlg : public QDialog {
  Q_OBJECT
 public:
  CFormPropDlg(const std::string& title, int32_t refreshRate, COLORREF foreground, COLORREF background,
               QWidget* parent = nullptr);
  ~CFormPropDlg() override;
  Ui::FormPropDlg& Form() { return *m_ui; }
  FormDialogHooks m_hooks = FormHooks();
  // A refresh rate outside 100..10000 (or no number) is refused with the
  // framework's message and the dialog stays open.
  void accept() override;

  std::string m_strTitle;
  int32_t m_nRefreshRate;
  COLORREF m_crForeground;
  COLORREF m_crBackground;

 private:
  std::unique_ptr<Ui::FormPropDlg> m_ui;
};
