#include "tags/TagDefinitionDlgs.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>

#include "connections/OpcBrowseDlg.h"
#include "connections/OpcServerLink.h"
#include "core/ExchangeTag.h"
#include "core/PlexmarApp.h"
#include "logic/LogicBlock.h"
#include "tags/TagAdministration.h"
#include "ui_ModbusPointDlg.h"
#include "ui_OpcBrowseDlg.h"
#include "ui_TagDefinitionDlg.h"
#include "ui_UserVariableDlg.h"

namespace {

// A float as the shortest text that reads back as the same float, so that
// opening a dialog and pressing OK changes nothing.
QString FloatText(float value) {
  char buffer[32];
  const auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, value);
  if (error != std::errc()) return QStringLiteral("0");
  return QString::fromLatin1(buffer, static_cast<int>(end - buffer));
}

// The framework's field exchange reads the whole text of an edit (blanks
// around it aside); a number followed by anything else is no number. An
// address of "4O001" must not quietly become point 4.
bool ReadWholeInt(const QLineEdit* edit, qlonglong& value) {
  bool ok = false;
  value = edit->text().trimmed().toLongLong(&ok);
  return ok;
}

bool ReadWholeFloat(const QLineEdit* edit, float& value) {
  bool ok = false;
  const double number = edit->text().trimmed().toDouble(&ok);
  if (!ok || !std::isfinite(number) || std::fabs(number) > std::numeric_limits<float>::max()) return false;
  value = static_cast<float>(number);
  return true;
}

QString Formatted(const char* format, double value) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, format, value);
  return QString::fromLatin1(buffer);
}

}  // namespace

std::string TagNameFromText(const QString& text) {
  qsizetype length = std::min<qsizetype>(text.size(), static_cast<qsizetype>(tagadmin::kMaxNameChars));
  if (length > 0 && length < text.size() && text.at(length - 1).isHighSurrogate()) --length;
  return text.left(length).toStdString();
}

// --- User Variable Tag -----------------------------------------------------------

CUserVariableDlg::CUserVariableDlg(float value, QWidget* parent)
    : QDialog(parent), m_ui(std::make_unique<Ui::UserVariableDlg>()), m_fValue(value) {
  m_ui->setupUi(this);
  m_ui->editValue->setText(FloatText(value));
  connect(m_ui->buttonBox, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(m_ui->buttonBox, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

CUserVariableDlg::~CUserVariableDlg() = default;

void CUserVariableDlg::accept() {
  float value = 0.0f;
  if (!ReadWholeFloat(m_ui->editValue, value)) {
    if (m_hooks.warn) m_hooks.warn(this, QStringLiteral("Please enter a number."));
    m_ui->editValue->setFocus();
    m_ui->editValue->selectAll();
    return;
  }
  m_fValue = value;
  QDialog::accept();
}

// --- Modbus Point Details ----------------------------------------------------------

ModbusPointFields ModbusPointFields::Of(const CExchangeTag& tag) {
  ModbusPointFields f;
  f.nKind = tag.m_nSourceKind;
  f.nCommPort = tag.m_nCommPort;
  f.strHost = tag.m_strHost;
  f.nSlaveId = tag.m_nSlaveId;
  f.nPointType = tag.m_nPointType;
  f.nAddress = tag.m_nAddress;
  f.nDataType = tag.m_nDataType;
  f.fLowLimit = tag.m_fLowLimit;
  f.fHighLimit = tag.m_fHighLimit;
  return f;
}

void ModbusPointFields::ApplyTo(CExchangeTag& tag) const {
  tag.m_nSourceKind = nKind;
  tag.m_nCommPort = nCommPort;
  tag.m_strHost = strHost;
  tag.m_nSlaveId = nSlaveId;
  tag.m_nPointType = nPointType;
  tag.m_nAddress = nAddress;
  tag.m_nDataType = nDataType;
  tag.m_fLowLimit = fLowLimit;
  tag.m_fHighLimit = fHighLimit;
}

CModbusPointDlg::CModbusPointDlg(const ModbusPointFields& fields, QWidget* parent)
    : QDialog(parent), m_ui(std::make_unique<Ui::ModbusPointDlg>()), m_fields(fields) {
  m_ui->setupUi(this);
  m_ui->editSlaveId->setText(QString::number(fields.nSlaveId));
  m_ui->editAddress->setText(QString::number(fields.nAddress));
  const int pointType = fields.nPointType >= 1 && fields.nPointType <= 4 ? fields.nPointType : 3;
  m_ui->comboPointType->setCurrentIndex(pointType - 1);
  const int port = fields.nCommPort >= 1 && fields.nCommPort <= 9 ? fields.nCommPort : 1;
  m_ui->comboCommPort->setCurrentIndex(port - 1);
  const int dataType = fields.nDataType >= 0 && fields.nDataType <= 8 ? fields.nDataType : 0;
  m_ui->comboDataType->setCurrentIndex(dataType);
  m_ui->radioSerial->setChecked(fields.nKind == CExchangeTag::kSourceComm);
  m_ui->radioTcp->setChecked(fields.nKind == CExchangeTag::kSourceTcp);
  m_ui->radioLocal->setChecked(fields.nKind != CExchangeTag::kSourceComm && fields.nKind != CExchangeTag::kSourceTcp);
  m_ui->editHost->setText(QString::fromStdString(fields.strHost));
  m_ui->editLowLimit->setText(FloatText(fields.fLowLimit));
  m_ui->editHighLimit->setText(FloatText(fields.fHighLimit));

  for (QRadioButton* radio : {m_ui->radioLocal, m_ui->radioSerial, m_ui->radioTcp})
    connect(radio, &QRadioButton::toggled, this, [this] { UpdateEnabling(); });
  for (QComboBox* combo : {m_ui->comboPointType, m_ui->comboDataType, m_ui->comboCommPort})
    connect(combo, &QComboBox::currentIndexChanged, this, [this] { UpdateEnabling(); });
  connect(m_ui->buttonBox, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(m_ui->buttonBox, &QDialogButtonBox::rejected, this, &QDialog::reject);
  UpdateEnabling();
}

CModbusPointDlg::~CModbusPointDlg() = default;

int32_t CModbusPointDlg::ChosenKind() const {
  if (m_ui->radioSerial->isChecked()) return CExchangeTag::kSourceComm;
  if (m_ui->radioTcp->isChecked()) return CExchangeTag::kSourceTcp;
  return CExchangeTag::kSourceLocal;
}

void CModbusPointDlg::UpdateEnabling() {
  const int32_t kind = ChosenKind();
  m_ui->labelCommPort->setEnabled(kind == CExchangeTag::kSourceComm);
  m_ui->comboCommPort->setEnabled(kind == CExchangeTag::kSourceComm);
  m_ui->labelHost->setEnabled(kind == CExchangeTag::kSourceTcp);
  m_ui->editHost->setEnabled(kind == CExchangeTag::kSourceTcp);

  const int pointType = m_ui->comboPointType->currentIndex() + 1;
  const bool bRegister = pointType == CExchangeTag::kHoldingRegister || pointType == CExchangeTag::kInputRegister;
  const int dataType = m_ui->comboDataType->currentIndex();
  const bool bScaled = bRegister && dataType >= CExchangeTag::kScaled4095 && dataType <= CExchangeTag::kScaled65535;
  m_ui->groupDataType->setEnabled(bRegister);
  m_ui->comboDataType->setEnabled(bRegister);
  for (QWidget* w : {static_cast<QWidget*>(m_ui->labelLowLimit), static_cast<QWidget*>(m_ui->editLowLimit),
                     static_cast<QWidget*>(m_ui->labelHighLimit), static_cast<QWidget*>(m_ui->editHighLimit)})
    w->setEnabled(bScaled);
}

bool CModbusPointDlg::Refuse(QLineEdit* edit, const QString& text) {
  if (m_hooks.warn) m_hooks.warn(this, text);
  edit->setFocus();
  edit->selectAll();
  return false;
}

void CModbusPointDlg::accept() {
  const auto readRanged = [this](QLineEdit* edit, qlonglong low, qlonglong high, qlonglong& value) {
    if (!ReadWholeInt(edit, value)) return Refuse(edit, QStringLiteral("Please enter an integer."));
    if (value < low || value > high)
      return Refuse(edit, QStringLiteral("Please enter an integer between %1 and %2.").arg(low).arg(high));
    return true;
  };
  qlonglong slave = 0;
  qlonglong address = 0;
  if (!readRanged(m_ui->editSlaveId, 1, 255, slave)) return;
  if (!readRanged(m_ui->editAddress, 1, 65535, address)) return;
  float low = 0.0f;
  float high = 0.0f;
  if (!ReadWholeFloat(m_ui->editLowLimit, low)) {
    Refuse(m_ui->editLowLimit, QStringLiteral("Please enter a number."));
    return;
  }
  if (!ReadWholeFloat(m_ui->editHighLimit, high)) {
    Refuse(m_ui->editHighLimit, QStringLiteral("Please enter a number."));
    return;
  }
  m_fields.nKind = ChosenKind();
  m_fields.nSlaveId = static_cast<uint8_t>(slave);
  m_fields.nAddress = static_cast<uint16_t>(address);
  m_fields.nPointType = static_cast<uint8_t>(m_ui->comboPointType->currentIndex() + 1);
  m_fields.nCommPort = m_ui->comboCommPort->currentIndex() + 1;
  m_fields.strHost = m_ui->editHost->text().toStdString();
  m_fields.nDataType = m_ui->comboDataType->currentIndex();
  m_fields.fLowLimit = low;
  m_fields.fHighLimit = high;
  QDialog::accept();
}

// --- Tag Definition --------------------------------------------------------------

CTagDefinitionDlg::CTagDefinitionDlg(CPlexmarApp& app, CExchangeTag& tag, const TagDialogHooks& hooks,
                                     QWidget* parent)
    : QDialog(parent), m_ui(std::make_unique<Ui::TagDefinitionDlg>()), m_app(app), m_tag(tag), m_hooks(hooks) {
  m_ui->setupUi(this);
  m_strShownName = QString::fromStdString(tag.m_strName);
  m_ui->editName->setText(m_strShownName);

  QComboBox* types = m_ui->comboType;
  types->addItem(QStringLiteral("User Variable, (Global)"));
  types->addItem(QStringLiteral("Modbus Data Point (Local Slave Variable on this Machine)"));
  types->addItem(QStringLiteral("Modbus Data Point (Connected via COMM Port)"));
  types->addItem(QStringLiteral("Modbus Data Point (Connected via modbus/TCP Port)"));
  int selected = -1;
  if (tag.m_nSourceKind >= CExchangeTag::kSourceVariable && tag.m_nSourceKind <= CExchangeTag::kSourceTcp)
    selected = tag.m_nSourceKind;
  for (const auto& link : app.m_serverLinks) {
    if (selected < 0 && tag.m_nSourceKind == CExchangeTag::kSourceOpc && link->m_strMachine == tag.m_strMachine &&
        link->m_strServer == tag.m_strServer)
      selected = types->count();
    m_links.push_back(link.get());
    types->addItem(QString::fromStdString(link->GetDescription()));
  }
  types->setCurrentIndex(selected);

  QComboBox* blocks = m_ui->comboLogicBlock;
  blocks->addItem(QStringLiteral("None"));
  int block = tag.m_strLogicBlock.empty() ? 0 : -1;
  for (const auto& b : app.m_logicBlocks) {
    if (block < 0 && b->m_strName == tag.m_strLogicBlock) block = blocks->count();
    m_blockNames.push_back(b->m_strName);
    blocks->addItem(QString::fromStdString(b->m_strName));
  }
  blocks->addItem(QStringLiteral("Add New"));
  // A reference to a block that is gone shows no entry and stays as it is
  // until the operator chooses one.
  blocks->setCurrentIndex(block);

  ShowSourceDetails();
  connect(types, &QComboBox::activated, this, &CTagDefinitionDlg::OnTypeChosen);
  connect(blocks, &QComboBox::activated, this, &CTagDefinitionDlg::OnLogicBlockChosen);
  connect(m_ui->buttonDetails, &QPushButton::clicked, this, &CTagDefinitionDlg::OnDetails);
  connect(m_ui->buttonBox, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(m_ui->buttonBox, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

CTagDefinitionDlg::~CTagDefinitionDlg() = default;

void CTagDefinitionDlg::ShowSourceDetails() {
  QString text;
  switch (m_tag.m_nSourceKind) {
    case CExchangeTag::kSourceVariable:
      text = Formatted("value = %3.2f", tagadmin::ValueAsFloat(m_tag));
      break;
    case CExchangeTag::kSourceOpc:
      text = m_tag.m_strItemId.empty() ? QStringLiteral("Item Undefined!") : QString::fromStdString(m_tag.m_strItemId);
      break;
    default:
      text = QString::fromStdString(m_tag.GetDescription());
      break;
  }
  m_ui->editDetails->setText(text);
}

void CTagDefinitionDlg::OnTypeChosen(int index) {
  if (index < 0) return;
  if (index == 0) {
    tagadmin::MakeUserVariable(m_tag);
    m_ui->editDetails->setText(Formatted("value = %3.2f", m_tag.m_value->fltVal));
  } else if (index < kFixedTypeEntries) {
    m_tag.m_nSourceKind = index;
    m_ui->editDetails->setText(QString::fromStdString(m_tag.GetDescription()));
  } else if (static_cast<size_t>(index - kFixedTypeEntries) < m_links.size()) {
    const COpcServerLink* link = m_links[static_cast<size_t>(index - kFixedTypeEntries)];
    // Only an OPC server connection makes the tag an OPC point.
    if (link->m_nLinkType != COpcServerLink::kOpcServerLinkType) return;
    m_tag.m_nSourceKind = CExchangeTag::kSourceOpc;
    m_tag.m_strMachine = link->m_strMachine;
    m_tag.m_strServer = link->m_strServer;
    m_ui->editDetails->setText(QStringLiteral("Item Not Defined!"));
  }
}

void CTagDefinitionDlg::OnLogicBlockChosen(int index) {
  QComboBox* blocks = m_ui->comboLogicBlock;
  const int addNew = blocks->count() - 1;
  if (index <= 0) {
    m_tag.m_strLogicBlock.clear();
  } else if (index < addNew) {
    m_tag.m_strLogicBlock = m_blockNames[static_cast<size_t>(index - 1)];
  } else {
    CLogicBlock* block = m_hooks.createLogicBlock ? m_hooks.createLogicBlock(m_app, this) : nullptr;
    if (block == nullptr) {
      m_tag.m_strLogicBlock.clear();
      blocks->setCurrentIndex(0);
      return;
    }
    m_tag.m_strLogicBlock = block->m_strName;
    m_blockNames.push_back(block->m_strName);
    blocks->insertItem(addNew, QString::fromStdString(block->m_strName));
    blocks->setCurrentIndex(addNew);
  }
}

void CTagDefinitionDlg::OnDetails() {
  const auto run = [this](QDialog& dialog) {
    return m_hooks.run ? m_hooks.run(dialog) : static_cast<int>(QDialog::Rejected);
  };
  if (m_tag.m_nSourceKind == CExchangeTag::kSourceVariable) {
    CUserVariableDlg dialog(tagadmin::ValueAsFloat(m_tag), this);
    dialog.m_hooks = m_hooks;
    if (run(dialog) != QDialog::Accepted) return;
    m_tag.m_value = MakeVariantR4(dialog.Value());
    m_ui->editDetails->setText(Formatted("value = %5.4f", dialog.Value()));
  } else if (m_tag.m_nSourceKind == CExchangeTag::kSourceOpc) {
    const COpcServerLink* link = m_app.FindServerLink(m_tag.m_strMachine, m_tag.m_strServer);
    // A link that never came up has no server to browse.
    if (link == nullptr || !link->m_bConnected) return;
    COpcBrowseDlg dialog(link->m_hServer, this);
    dialog.Form().editItemId->setText(QString::fromStdString(m_tag.m_strItemId));
    if (run(dialog) != QDialog::Accepted) return;
    m_tag.m_strItemId = dialog.Result();
    m_ui->editDetails->setText(m_tag.m_strItemId.empty() ? QStringLiteral("Item Undefined!")
                                                         : QString::fromStdString(m_tag.m_strItemId));
  } else if (m_tag.IsModbusPoint()) {
    CModbusPointDlg dialog(ModbusPointFields::Of(m_tag), this);
    dialog.m_hooks = m_hooks;
    if (run(dialog) != QDialog::Accepted) return;
    dialog.Fields().ApplyTo(m_tag);
    m_ui->editDetails->setText(QString::fromStdString(m_tag.GetDescription()));
  }
}

void CTagDefinitionDlg::accept() {
  const QString text = m_ui->editName->text();
  // Left as shown, the name keeps the bytes it came with.
  if (text != m_strShownName || m_tag.m_strName.size() > tagadmin::kMaxNameChars) m_tag.m_strName = TagNameFromText(text);
  QDialog::accept();
}
