// "Write Numeric Value to Tag" and "Write String Value to Tag", and the
// prompt that shows them for a tag's PromptAndWrite.
#pragma once

#include <QDialog>

#include <memory>
#include <string>

#include "forms/FormDialogHooks.h"
#include "forms/TagWritePrompt.h"

namespace Ui {
class WriteNumericDlg;
class WriteStringDlg;
}  // namespace Ui

class CWriteNumericDlg : public QDialog {
  Q_OBJECT
 public:
  explicit CWriteNumericDlg(double value, QWidget* parent = nullptr);
  ~CWriteNumericDlg() override;
  Ui::WriteNumericDlg& Form() { return *m_ui; }
  FormDialogHooks m_hooks = FormHooks();
  // Text that is not a number is refused with the framework's message.
  void accept() override;
  double m_fValue;

 private:
  std::unique_ptr<Ui::WriteNumericDlg> m_ui;
};

class CWriteStringDlg : public QDialog {
  Q_OBJECT
 public:
  explicit CWriteStringDlg(const std::string& text, QWidget* parent = nullptr);
  ~CWriteStringDlg() override;
  Ui::WriteStringDlg& Form() { return *m_ui; }
  void accept() override;
  std::string m_strValue;

 private:
  std::unique_ptr<Ui::WriteStringDlg> m_ui;
};

// The two dialogs as the tag's write prompt.
class CDialogWritePrompt : public ITagWritePrompt {
 public:
  explicit CDialogWritePrompt(QWidget* parent, const FormDialogHooks& hooks = FormHooks())
      : m_parent(parent), m_hooks(hooks) {}
  bool AskString(std::string& text) override;
  bool AskNumber(double& value) override;

 private:
  QWidget* m_parent;
  FormDialogHooks m_hooks;
};
