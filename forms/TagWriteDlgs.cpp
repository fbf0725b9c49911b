#include "forms/TagWriteDlgs.h"

#include <QLineEdit>

#include "ui_WriteNumericDlg.h"
#include "ui_WriteStringDlg.h"

CWriteNumericDlg::CWriteNumericDlg(double value, QWidget* parent)
    : QDialog(parent), m_fValue(value), m_ui(std::make_unique<Ui::WriteNumericDlg>()) {
  m_ui->setupUi(this);
  // As the framework shows a double: up to 15 significant digits.
  m_ui->editValue->setText(QString::number(value, 'g', 15));
  connect(m_ui->buttonBox, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(m_ui->buttonBox, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

CWriteNumericDlg::~CWriteNumericDlg() = default;

void CWriteNumericDlg::accept() {
  bool ok = false;
  const double value = m_ui->editValue->text().trimmed().toDouble(&ok);
  if (!ok) {
    if (m_hooks.warn) m_hooks.warn(this, QStringLiteral("Please enter a number."));
    m_ui->editValue->setFocus();
    m_ui->editValue->selectAll();
    return;
  }
  m_fValue = value;
  QDialog::accept();
}

CWriteStringDlg::CWriteStringDlg(const std::string& text, QWidget* parent)
    : QDialog(parent), m_strValue(text), m_ui(std::make_unique<Ui::WriteStringDlg>()) {
  m_ui->setupUi(this);
  m_ui->editValue->setText(QString::fromStdString(text));
  connect(m_ui->buttonBox, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(m_ui->buttonBox, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

CWriteStringDlg::~CWriteStringDlg() = default;

void CWriteStringDlg::accept() {
  m_strValue = m_ui->editValue->text().toStdString();
  QDialog::accept();
}

bool CDialogWritePrompt::AskString(std::string& text) {
  CWriteStringDlg dialog(text, m_parent);
  if (!m_hooks.run || m_hooks.run(dialog) != QDialog::Accepted) return false;
  text = dialog.m_strValue;
  return true;
}

bool CDialogWritePrompt::AskNumber(double& value) {
  CWriteNumericDlg dialog(value, m_parent);
  dialog.m_hooks = m_hooks;
  if (!m_hooks.run || m_hooks.run(dialog) != QDialog::Accepted) return false;
  value = dialog.m_fValue;
  return true;
}
