#include "tags/PasswordDlg.h"

#include "ui_PasswordDlg.h"

CPasswordDlg::CPasswordDlg(const QString& caption, QWidget* parent)
    : QDialog(parent), m_ui(std::make_unique<Ui::PasswordDlg>()) {
  m_ui->setupUi(this);
  setWindowTitle(caption);
  connect(m_ui->buttonBox, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(m_ui->buttonBox, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

CPasswordDlg::~CPasswordDlg() = default;

QString CPasswordDlg::Password() const { return m_ui->editPassword->text(); }
