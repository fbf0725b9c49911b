#include "connections/ModbusConnectDialogs.h"

#include <QComboBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>

#include <array>

#include "ui_CommPortDlg.h"
#include "ui_TcpServerDlg.h"
#include "ui_TcpSlaveDlg.h"

namespace {

// List entries of dialog 161 and the codes they stand for, in list order.
constexpr std::array<int32_t, 15> kBaudRates = {110,   300,   600,   1200,  2400,   4800,   9600,  14400,
                                                19200, 38400, 56000, 57600, 115200, 128000, 256000};
constexpr std::array<uint8_t, 3> kParityCodes = {1, 2, 0};  // "ODD", "EVEN", "NONE"
constexpr std::array<uint8_t, 2> kDataBits = {7, 8};
constexpr std::array<uint8_t, 3> kStopBitsCodes = {0, 1, 2};  // "1", "1.5", "2"

// Selects the entry standing for `value`; none when no entry does.
template <typename T, size_t N>
void SelectValue(QComboBox* combo, const std::array<T, N>& values, T value) {
  combo->setCurrentIndex(-1);
  for (size_t i = 0; i < N; ++i) {
    if (values[i] == value) combo->setCurrentIndex(static_cast<int>(i));
  }
}

// The value of the selected entry, or `stored` when nothing is selected.
template <typename T, size_t N>
T SelectedValue(const QComboBox* combo, const std::array<T, N>& values, T stored) {
  const int index = combo->currentIndex();
  if (index < 0 || static_cast<size_t>(index) >= N) return stored;
  return values[static_cast<size_t>(index)];
}

constexpr int32_t kMinPort = 1;
constexpr int32_t kMaxPort = 65535;

}  // namespace

DialogWarning DefaultDialogWarning() {
  return [](QWidget* parent, const QString& text) {
    QMessageBox::warning(parent, QStringLiteral("Plexmar"), text);
  };
}

bool TakePortField(QLineEdit* edit, int32_t& value, const DialogWarning& warn, QWidget* parent) {
  bool ok = false;
  const qlonglong number = edit->text().trimmed().toLongLong(&ok);
  QString problem;
  if (!ok) {
    problem = QStringLiteral("Please enter an integer.");
  } else if (number < kMinPort || number > kMaxPort) {
    // The libraries take the port as 16 bits: a larger number would quietly
    // become some other port.
    problem = QStringLiteral("Please enter an integer between %1 and %2.").arg(kMinPort).arg(kMaxPort);
  }
  if (!problem.isEmpty()) {
    if (warn) warn(parent, problem);
    edit->setFocus();
    edit->selectAll();
    return false;
  }
  value = static_cast<int32_t>(number);
  return true;
}

// --- 161 ------------------------------------------------------------------------

CCommPortDlg::CCommPortDlg(int port, bool asMaster, const CommPortSettings& settings, QWidget* parent)
    : QDialog(parent), m_ui(std::make_unique<Ui::CommPortDlg>()), m_settings(settings) {
  m_ui->setupUi(this);
  setWindowTitle(asMaster ? QStringLiteral("Setup Comm Port %1 (As Modbus Master)").arg(port)
                          : QStringLiteral("Setup Comm Port %1 (As Modbus Slave)").arg(port));
  m_ui->radioRtu->setChecked(m_settings.nProtocol == 1);
  m_ui->radioAscii->setChecked(m_settings.nProtocol != 1);
  connect(m_ui->radioAscii, &QRadioButton::clicked, this, [this] { m_settings.nProtocol = 0; });
  connect(m_ui->radioRtu, &QRadioButton::clicked, this, [this] { m_settings.nProtocol = 1; });
  SelectValue(m_ui->comboBaudRate, kBaudRates, m_settings.nBaudRate);
  SelectValue(m_ui->comboParity, kParityCodes, m_settings.nParity);
  SelectValue(m_ui->comboDataBits, kDataBits, m_settings.nDataBits);
  SelectValue(m_ui->comboStopBits, kStopBitsCodes, m_settings.nStopBits);
  connect(m_ui->buttonBox, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(m_ui->buttonBox, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

CCommPortDlg::~CCommPortDlg() = default;

void CCommPortDlg::accept() {
  m_settings.nBaudRate = SelectedValue(m_ui->comboBaudRate, kBaudRates, m_settings.nBaudRate);
  m_settings.nParity = SelectedValue(m_ui->comboParity, kParityCodes, m_settings.nParity);
  m_settings.nDataBits = SelectedValue(m_ui->comboDataBits, kDataBits, m_settings.nDataBits);
  m_settings.nStopBits = SelectedValue(m_ui->comboStopBits, kStopBitsCodes, m_settings.nStopBits);
  QDialog::accept();
}

// --- 165 ------------------------------------------------------------------------

CTcpServerDlg::CTcpServerDlg(const std::string& host, int32_t port, QWidget* parent)
    : QDialog(parent), m_ui(std::make_unique<Ui::TcpServerDlg>()), m_strHost(host), m_nPort(port) {
  m_ui->setupUi(this);
  m_ui->editHost->setText(QString::fromStdString(host));
  m_ui->editPort->setText(QString::number(port));
  connect(m_ui->buttonBox, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(m_ui->buttonBox, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

CTcpServerDlg::~CTcpServerDlg() = default;

void CTcpServerDlg::accept() {
  int32_t port = m_nPort;
  if (!TakePortField(m_ui->editPort, port, m_fnWarn, this)) return;
  m_strHost = m_ui->editHost->text().toStdString();
  m_nPort = port;
  QDialog::accept();
}

// --- 163 ------------------------------------------------------------------------

CTcpSlaveDlg::CTcpSlaveDlg(int32_t port, QWidget* parent)
    : QDialog(parent), m_ui(std::make_unique<Ui::TcpSlaveDlg>()), m_nPort(port) {
  m_ui->setupUi(this);
  m_ui->editPort->setText(QString::number(port));
  connect(m_ui->buttonBox, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(m_ui->buttonBox, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

CTcpSlaveDlg::~CTcpSlaveDlg() = default;

void CTcpSlaveDlg::accept() {
  int32_t port = m_nPort;
  if (!TakePortField(m_ui->editPort, port, m_fnWarn, this)) return;
  m_nPort = port;
  QDialog::accept();
}
