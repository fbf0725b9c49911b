#include "forms/FormPropertiesDlg.h"

#include <QPushButton>

#include "forms/DialogFields.h"
#include "ui_FormPropDlg.h"

CFormPropDlg::CFormPropDlg(const std::string& title, int32_t refreshRate, COLORREF foreground,
                           COLORREF background, QWidget* parent)
    : QDialog(parent),
      m_strTitle(title),
      m_nRefreshRate(refreshRate),
      m_crForeground(foreground),
      m_crBackground(background),
      m_ui(std::make_unique<Ui::FormPropDlg>()) {
  m_ui->setupUi(this);
  m_ui->editName->setText(QString::fromStdString(title));
  m_ui->editRefresh->setText(QString::number(refreshRate));
  connect(m_ui->buttonBox, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(m_ui->buttonBox, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(m_ui->buttonForeground, &QPushButton::clicked, this, [this] {
    COLORREF color = m_crForeground;
    if (m_hooks.chooseColor && m_hooks.chooseColor(this, color)) m_crForeground = color;
  });
  connect(m_ui->buttonBackground, &QPushButton::clicked, this, [this] {
    COLORREF color = m_crBackground;
    if (m_hooks.chooseColor && m_hooks.chooseColor(this, color)) m_crBackground = color;
  });
}

CFormPropDlg::~CFormPropDlg() = default;

void CFormPropDlg::accept() {
  bool ok = false;
  const int rate = m_ui->editRefresh->text().trimmed().toInt(&ok);
  if (!ok || rate < kMinRefreshRate || rate > kMaxRefreshRate) {
    const QString text = ok || !m_ui->editRefresh->text().trimmed().isEmpty()
                             ? QStringLiteral("Please enter an integer between %1 and %2.")
                                   .arg(kMinRefreshRate)
                                   .arg(kMaxRefreshRate)
                             : QStringLiteral("Please enter an integer.");
    if (m_hooks.warn) m_hooks.warn(this, text);
    m_ui->editRefresh->setFocus();
    m_ui->editRefresh->selectAll();
    return;
  }
  m_strTitle = m_ui->editName->text().toStdString();
  m_nRefreshRate = rate;
  QDialog::accept();
}
