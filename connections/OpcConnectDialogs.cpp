#include "connections/OpcConnectDialogs.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>

#include "ui_OpcRemoteDlg.h"
#include "ui_OpcServerListDlg.h"

// --- 139 ------------------------------------------------------------------------

COpcRemoteDlg::COpcRemoteDlg(QWidget* parent) : QDialog(parent), m_ui(std::make_unique<Ui::OpcRemoteDlg>()) {
  m_ui->setupUi(this);
  connect(m_ui->buttonBox, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(m_ui->buttonBox, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

COpcRemoteDlg::~COpcRemoteDlg() = default;

void COpcRemoteDlg::accept() {
  // Blanks around a pasted name would only make the lookup fail.
  m_strMachine = m_ui->editMachine->text().trimmed().toStdString();
  QDialog::accept();
}

// --- 140 ------------------------------------------------------------------------

COpcServerListDlg::COpcServerListDlg(const std::string& machine, const std::vector<std::string>& servers,
                                     const std::string& server, QWidget* parent)
    : QDialog(parent), m_ui(std::make_unique<Ui::OpcServerListDlg>()), m_strMachine(machine), m_strServer(server) {
  m_ui->setupUi(this);
  setWindowTitle(QStringLiteral("OPC ServerList (from OPCENUM)"));
  for (const std::string& name : servers) m_ui->comboServer->addItem(QString::fromStdString(name));
  m_ui->comboServer->setCurrentIndex(server.empty() ? -1 : m_ui->comboServer->findText(QString::fromStdString(server)));
  m_ui->editMachine->setText(QString::fromStdString(machine));
  m_ui->checkForce10a->setChecked(false);
  connect(m_ui->buttonBox, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(m_ui->buttonBox, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

COpcServerListDlg::~COpcServerListDlg() = default;

void COpcServerListDlg::accept() {
  if (m_ui->comboServer->currentIndex() >= 0) m_strServer = m_ui->comboServer->currentText().toStdString();
  m_bForce10a = m_ui->checkForce10a->isChecked();
  QDialog::accept();
}
