#include "logic/LogicEntryDlgs.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include "core/ExchangeTag.h"
#include "core/PlexmarApp.h"
#include "logic/LogicBlock.h"
#include "logic/LogicEntry.h"
#include "ui_LogicAssignDlg.h"
#include "ui_LogicEntryDlg.h"
#include "ui_LogicFormDlg.h"
#include "ui_LogicIfDlg.h"

namespace {

constexpr int kLabelChars = 199;

QString Field(const std::string& text) { return QString::fromStdString(text); }

// Every tag by name, in tag-list order, with the one named `selected`
// chosen; nothing is chosen when no tag has that name.
void FillTagList(QComboBox* list, const CPlexmarApp& app, const std::string& selected) {
  int chosen = -1;
  for (const auto& tag : app.m_tags) {
    if (chosen < 0 && tag->m_strName == selected) chosen = list->count();
    list->addItem(Field(tag->m_strName));
  }
  list->setCurrentIndex(chosen);
}

// The selected tag's name. With nothing selected, a name that no tag has
// (a tag defined later, or one an import brought) stays as it was: the list
// could never show it, and OK must not drop it unseen. A disabled list
// gives an empty name.
std::string ChosenName(const QComboBox* list, const std::string& before) {
  if (list->currentIndex() >= 0) return list->currentText().toStdString();
  if (list->isEnabled() && list->findText(Field(before), Qt::MatchExactly | Qt::MatchCaseSensitive) < 0)
    return before;
  return std::string();
}

// A code shown as the list's position; a code the list does not hold shows
// nothing.
void SelectCode(QComboBox* list, int32_t code) {
  list->setCurrentIndex(code >= 0 && code < list->count() ? code : -1);
}

}  // namespace

// --- Logic Entry Definition ----------------------------------------------------

CLogicEntryDlg::CLogicEntryDlg(CLogicEntry& entry, CPlexmarApp& app, QWidget* parent)
    : QDialog(parent), m_ui(std::make_unique<Ui::LogicEntryDlg>()), m_entry(entry), m_app(app) {
  m_ui->setupUi(this);
  m_ui->editLabel->setText(Field(entry.m_strLabel));
  const bool known = entry.m_nType >= kLogicAssignment && entry.m_nType <= kLogicFormShowHide;
  SelectCode(m_ui->comboType, known ? entry.m_nType - kLogicAssignment : -1);
  ShowDescription();
  // The kind changes at once; the fields of the other kinds stay as they are.
  connect(m_ui->comboType, &QComboBox::currentIndexChanged, this, [this](int index) {
    if (index < 0) return;
    m_entry.m_nType = kLogicAssignment + index;
    ShowDescription();
  });
  connect(m_ui->buttonDetails, &QPushButton::clicked, this, &CLogicEntryDlg::OnDetails);
  connect(m_ui->buttonOk, &QPushButton::clicked, this, &CLogicEntryDlg::accept);
  connect(m_ui->buttonCancel, &QPushButton::clicked, this, &QDialog::reject);
}

CLogicEntryDlg::~CLogicEntryDlg() = default;

void CLogicEntryDlg::ShowDescription() { m_ui->editDescription->setText(Field(m_entry.GetDescription())); }

void CLogicEntryDlg::OnDetails() {
  std::unique_ptr<QDialog> details;
  switch (m_entry.m_nType) {
    case kLogicAssignment:
      details = std::make_unique<CLogicAssignDlg>(m_entry, m_app, this);
      break;
    case kLogicIfGoto:
      details = std::make_unique<CLogicIfDlg>(m_entry, m_app, this);
      break;
    case kLogicFormShowHide:
      details = std::make_unique<CLogicFormDlg>(m_entry, this);
      break;
    default:
      return;
  }
  if (m_hooks.run) m_hooks.run(*details);
  // Some choices of the operation dialog stay even when it was cancelled.
  ShowDescription();
}

void CLogicEntryDlg::accept() {
  m_entry.m_strLabel = m_ui->editLabel->text().left(kLabelChars).toStdString();
  QDialog::accept();
}

// --- Tag Assignment Operation --------------------------------------------------

CLogicAssignDlg::CLogicAssignDlg(CLogicEntry& entry, CPlexmarApp& app, QWidget* parent)
    : QDialog(parent), m_ui(std::make_unique<Ui::LogicAssignDlg>()), m_entry(entry) {
  m_ui->setupUi(this);
  FillTagList(m_ui->comboTag1, app, entry.m_strTag1);
  FillTagList(m_ui->comboTag2, app, entry.m_strTag2);
  FillTagList(m_ui->comboTag3, app, entry.m_strTag3);
  SelectCode(m_ui->comboOperator, entry.m_nOperation);
  ShowOperator(entry.m_nOperation);
  connect(m_ui->comboOperator, &QComboBox::currentIndexChanged, this, [this](int index) {
    if (index < 0) return;
    m_entry.m_nOperation = index;
    ShowOperator(index);
  });
  connect(m_ui->buttonOk, &QPushButton::clicked, this, &CLogicAssignDlg::accept);
  connect(m_ui->buttonCancel, &QPushButton::clicked, this, &QDialog::reject);
}

CLogicAssignDlg::~CLogicAssignDlg() = default;

void CLogicAssignDlg::ShowOperator(int code) {
  const bool third = code != kLogicOpNone;
  if (!third) m_ui->comboTag3->setCurrentIndex(-1);
  m_ui->comboTag3->setEnabled(third);
  m_ui->labelTag3->setEnabled(third);
}

void CLogicAssignDlg::accept() {
  m_entry.m_strTag1 = ChosenName(m_ui->comboTag1, m_entry.m_strTag1);
  m_entry.m_strTag2 = ChosenName(m_ui->comboTag2, m_entry.m_strTag2);
  m_entry.m_strTag3 = ChosenName(m_ui->comboTag3, m_entry.m_strTag3);
  QDialog::accept();
}

// --- IF Operation ----------------------------------------------------------------

CLogicIfDlg::CLogicIfDlg(CLogicEntry& entry, CPlexmarApp& app, QWidget* parent)
    : QDialog(parent), m_ui(std::make_unique<Ui::LogicIfDlg>()), m_entry(entry), m_app(app) {
  m_ui->setupUi(this);
  FillTagList(m_ui->comboTag1, app, entry.m_strTag1);
  FillTagList(m_ui->comboTag2, app, entry.m_strTag2);
  SelectCode(m_ui->comboCompare, entry.m_nOperation);
  int chosen = -1;
  for (const auto& block : app.m_logicBlocks) {
    if (chosen < 0 && block->m_strName == entry.m_strGotoBlock) chosen = m_ui->comboBlock->count();
    m_ui->comboBlock->addItem(Field(block->m_strName));
  }
  m_ui->comboBlock->setCurrentIndex(chosen);
  FillLabels();
  connect(m_ui->comboBlock, &QComboBox::currentIndexChanged, this, &CLogicIfDlg::OnBlockChosen);
  connect(m_ui->comboLabel, &QComboBox::currentIndexChanged, this, &CLogicIfDlg::OnLabelChosen);
  connect(m_ui->buttonOk, &QPushButton::clicked, this, &CLogicIfDlg::accept);
  connect(m_ui->buttonCancel, &QPushButton::clicked, this, &QDialog::reject);
}

CLogicIfDlg::~CLogicIfDlg() = default;

void CLogicIfDlg::FillLabels() {
  m_bFilling = true;
  QComboBox* list = m_ui->comboLabel;
  list->clear();
  int chosen = -1;
  if (const CLogicBlock* target = m_app.FindLogicBlock(m_entry.m_strGotoBlock)) {
    for (const auto& entry : target->m_entries) {
      if (entry->m_strLabel.empty()) continue;
      if (chosen < 0 && entry->m_strLabel == m_entry.m_strGotoLabel) chosen = list->count();
      list->addItem(Field(entry->m_strLabel));
    }
  }
  list->setCurrentIndex(chosen);
  m_bFilling = false;
}

void CLogicIfDlg::OnBlockChosen(int index) {
  if (index < 0) return;
  m_entry.m_strGotoBlock = m_ui->comboBlock->itemText(index).toStdString();
  FillLabels();
  // The new block may not carry the label; then the run starts at its top.
  OnLabelChosen(m_ui->comboLabel->currentIndex());
}

void CLogicIfDlg::OnLabelChosen(int index) {
  if (m_bFilling) return;
  if (index < 0)
    m_entry.m_strGotoLabel.clear();
  else
    m_entry.m_strGotoLabel = m_ui->comboLabel->itemText(index).toStdString();
}

void CLogicIfDlg::accept() {
  m_entry.m_strTag1 = ChosenName(m_ui->comboTag1, m_entry.m_strTag1);
  m_entry.m_strTag2 = ChosenName(m_ui->comboTag2, m_entry.m_strTag2);
  if (m_ui->comboCompare->currentIndex() >= 0) m_entry.m_nOperation = m_ui->comboCompare->currentIndex();
  QDialog::accept();
}

// --- Form Load/UnLoad Operation ----------------------------------------------------

CLogicFormDlg::CLogicFormDlg(CLogicEntry& entry, QWidget* parent)
    : QDialog(parent), m_ui(std::make_unique<Ui::LogicFormDlg>()), m_entry(entry) {
  m_ui->setupUi(this);
  m_ui->editFormName->setText(Field(entry.m_strFormName));
  m_ui->radioShow->setChecked(entry.m_nOperation != 0);
  m_ui->radioHide->setChecked(entry.m_nOperation == 0);
  connect(m_ui->radioShow, &QRadioButton::clicked, this, [this] { m_entry.m_nOperation = 1; });
  connect(m_ui->radioHide, &QRadioButton::clicked, this, [this] { m_entry.m_nOperation = 0; });
  connect(m_ui->buttonOk, &QPushButton::clicked, this, &CLogicFormDlg::accept);
  connect(m_ui->buttonCancel, &QPushButton::clicked, this, &QDialog::reject);
}

CLogicFormDlg::~CLogicFormDlg() = default;

void CLogicFormDlg::accept() {
  m_entry.m_strFormName = m_ui->editFormName->text().toStdString();
  QDialog::accept();
}
