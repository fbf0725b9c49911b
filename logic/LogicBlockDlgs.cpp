#include "logic/LogicBlockDlgs.h"

#include <QEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QPushButton>
#include <QTreeWidget>

#include <algorithm>

#include "core/PlexmarApp.h"
#include "logic/LogicBlock.h"
#include "logic/LogicBlockEditing.h"
#include "logic/LogicEntryDlgs.h"
#include "ui_LogicBlockDlg.h"
#include "ui_LogicTablesDlg.h"

namespace {

constexpr int kNameChars = 199;
constexpr int kCellChars = 400;

QString Field(const std::string& text) { return QString::fromStdString(text); }

bool LabelTakenByOther(const CLogicBlock& block, const std::string& label, int self) {
  if (label.empty()) return false;
  for (size_t i = 0; i < block.m_entries.size(); ++i) {
    if (static_cast<int>(i) != self && block.m_entries[i]->m_strLabel == label) return true;
  }
  return false;
}

}  // namespace

QString LogicBlockNameRefusal(const CPlexmarApp& app, const std::string& name, const CLogicBlock* self) {
  if (name.empty()) return QStringLiteral("Logic Blocks must have a Name!");
  const bool taken = std::any_of(app.m_logicBlocks.begin(), app.m_logicBlocks.end(), [&](const auto& block) {
    return block.get() != self && block->m_strName == name;
  });
  if (!taken) return QString();
  return QStringLiteral("(") + Field(name) + QStringLiteral(")\r\nA Logic Block with this Name Already Exists!");
}

// --- Plexmar Logic Block Tables ----------------------------------------------------

CLogicBlockTablesDlg::CLogicBlockTablesDlg(CPlexmarApp& app, QWidget* parent)
    : QDialog(parent), m_ui(std::make_unique<Ui::LogicTablesDlg>()), m_app(app) {
  m_ui->setupUi(this);
  for (const auto& block : app.m_logicBlocks) m_ui->listBlocks->addItem(Field(block->m_strName));
  connect(m_ui->listBlocks, &QListWidget::itemSelectionChanged, this,
          [this] { m_ui->buttonModify->setEnabled(Selected() >= 0); });
  connect(m_ui->listBlocks, &QListWidget::itemDoubleClicked, this, [this] { OnModify(); });
  connect(m_ui->buttonNew, &QPushButton::clicked, this, &CLogicBlockTablesDlg::OnNew);
  connect(m_ui->buttonModify, &QPushButton::clicked, this, &CLogicBlockTablesDlg::OnModify);
  connect(m_ui->buttonFinished, &QPushButton::clicked, this, &QDialog::accept);
}

CLogicBlockTablesDlg::~CLogicBlockTablesDlg() = default;

int CLogicBlockTablesDlg::Selected() const {
  const QList<QListWidgetItem*> selected = m_ui->listBlocks->selectedItems();
  return selected.isEmpty() ? -1 : m_ui->listBlocks->row(selected.constFirst());
}

void CLogicBlockTablesDlg::OnNew() {
  CLogicBlock* block = CreateLogicBlock(m_app, this, m_hooks);
  if (block == nullptr) return;
  m_ui->listBlocks->addItem(Field(block->m_strName));
  m_ui->listBlocks->setCurrentRow(m_ui->listBlocks->count() - 1);
}

void CLogicBlockTablesDlg::OnModify() {
  const int row = Selected();
  if (row < 0 || static_cast<size_t>(row) >= m_app.m_logicBlocks.size()) return;
  const CLogicBlock& original = *m_app.m_logicBlocks[static_cast<size_t>(row)];
  auto copy = std::make_unique<CLogicBlock>();
  copy->CopyFrom(original);
  for (;;) {
    CLogicBlockDlg editor(*copy, m_app, this);
    editor.m_hooks = m_hooks;
    if (!m_hooks.run || m_hooks.run(editor) != QDialog::Accepted) return;
    if (copy->IsEqual(original)) return;
    const QString refusal = LogicBlockNameRefusal(m_app, copy->m_strName, &original);
    if (refusal.isEmpty()) break;
    if (m_hooks.message) m_hooks.message(this, refusal);
  }
  // Tags, hot texts and GOTOs keep naming the old name: references are
  // resolved by name when they run.
  const QString name = Field(copy->m_strName);
  m_app.m_logicBlocks[static_cast<size_t>(row)] = std::move(copy);
  m_ui->listBlocks->item(row)->setText(name);
  m_ui->listBlocks->setCurrentRow(row);
}

// --- Plexmar Logic Block ------------------------------------------------------------

CLogicBlockDlg::CLogicBlockDlg(CLogicBlock& block, CPlexmarApp& app, QWidget* parent)
    : QDialog(parent), m_ui(std::make_unique<Ui::LogicBlockDlg>()), m_block(block), m_app(app) {
  m_ui->setupUi(this);
  m_ui->editName->setText(Field(block.m_strName));
  QTreeWidget* list = m_ui->listEntries;
  for (const auto& entry : block.m_entries) {
    auto* row = new QTreeWidgetItem(list);
    FillRow(*row, *entry);
  }
  list->viewport()->installEventFilter(this);
  connect(list, &QTreeWidget::itemSelectionChanged, this, &CLogicBlockDlg::OnSelectionChanged);
  connect(list, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* row) {
    Select(m_ui->listEntries->indexOfTopLevelItem(row));
    OnEditEntry();
  });
  connect(m_ui->buttonAdd, &QPushButton::clicked, this, &CLogicBlockDlg::OnAddEntry);
  connect(m_ui->buttonEdit, &QPushButton::clicked, this, &CLogicBlockDlg::OnEditEntry);
  connect(m_ui->buttonRemove, &QPushButton::clicked, this, &CLogicBlockDlg::OnRemoveEntry);
  connect(m_ui->buttonOk, &QPushButton::clicked, this, &CLogicBlockDlg::accept);
  connect(m_ui->buttonCancel, &QPushButton::clicked, this, &QDialog::reject);
  FitColumns();
}

CLogicBlockDlg::~CLogicBlockDlg() = default;

bool CLogicBlockDlg::eventFilter(QObject* watched, QEvent* event) {
  if (watched == m_ui->listEntries->viewport()) {
    if (event->type() == QEvent::Resize) FitColumns();
    // A click below the last row, or beside the rows, clears the selection.
    if (event->type() == QEvent::MouseButtonPress) {
      const auto* mouse = static_cast<QMouseEvent*>(event);
      if (m_ui->listEntries->itemAt(mouse->position().toPoint()) == nullptr) Select(-1);
    }
  }
  return QDialog::eventFilter(watched, event);
}

void CLogicBlockDlg::FitColumns() {
  QTreeWidget* list = m_ui->listEntries;
  const int width = list->viewport()->width();
  list->setColumnWidth(0, width / 6);
  list->setColumnWidth(1, width / 6);
  list->setColumnWidth(2, width * 2 / 3);
}

void CLogicBlockDlg::FillRow(QTreeWidgetItem& row, const CLogicEntry& entry) const {
  row.setText(0, Field(entry.m_strLabel).left(kCellChars));
  row.setText(1, Field(entry.GetTypeName()).left(kCellChars));
  row.setText(2, Field(entry.GetDescription()).left(kCellChars));
}

void CLogicBlockDlg::Select(int position) {
  QTreeWidget* list = m_ui->listEntries;
  QTreeWidgetItem* row = position >= 0 ? list->topLevelItem(position) : nullptr;
  if (row == nullptr) {
    list->clearSelection();
  } else {
    list->setCurrentItem(row);
    row->setSelected(true);
  }
  OnSelectionChanged();
}

void CLogicBlockDlg::OnSelectionChanged() {
  const QList<QTreeWidgetItem*> selected = m_ui->listEntries->selectedItems();
  m_nSelected = selected.isEmpty() ? -1 : m_ui->listEntries->indexOfTopLevelItem(selected.constFirst());
  m_ui->buttonEdit->setEnabled(m_nSelected >= 0);
  m_ui->buttonRemove->setEnabled(m_nSelected >= 0);
}

bool CLogicBlockDlg::DefineEntry(CLogicEntry& entry, int self, const CLogicEntry* original) {
  for (;;) {
    CLogicEntryDlg definition(entry, m_app, this);
    definition.m_hooks = m_hooks;
    if (!m_hooks.run || m_hooks.run(definition) != QDialog::Accepted) return false;
    if (original != nullptr && entry.IsEqual(*original)) return false;
    if (!LabelTakenByOther(m_block, entry.m_strLabel, self)) return true;
    if (m_hooks.message)
      m_hooks.message(this, QStringLiteral("(") + Field(entry.m_strLabel) +
                                QStringLiteral(")\r\nAn Entry with this Label Already Exists!"));
  }
}

void CLogicBlockDlg::OnAddEntry() {
  auto entry = std::make_unique<CLogicEntry>();
  if (!DefineEntry(*entry, -1, nullptr)) return;
  const int count = static_cast<int>(m_block.m_entries.size());
  const int position = m_nSelected >= 0 && m_nSelected < count ? m_nSelected + 1 : count;
  auto* row = new QTreeWidgetItem;
  FillRow(*row, *entry);
  m_block.m_entries.insert(m_block.m_entries.begin() + position, std::move(entry));
  m_ui->listEntries->insertTopLevelItem(position, row);
  Select(position);
}

void CLogicBlockDlg::OnEditEntry() {
  const int position = m_nSelected;
  if (position < 0 || static_cast<size_t>(position) >= m_block.m_entries.size()) return;
  const CLogicEntry& current = *m_block.m_entries[static_cast<size_t>(position)];
  auto copy = std::make_unique<CLogicEntry>();
  copy->CopyFrom(current);
  if (!DefineEntry(*copy, position, &current)) return;
  if (QTreeWidgetItem* row = m_ui->listEntries->topLevelItem(position)) FillRow(*row, *copy);
  m_block.m_entries[static_cast<size_t>(position)] = std::move(copy);
}

void CLogicBlockDlg::OnRemoveEntry() {
  const int position = m_nSelected;
  if (position < 0 || static_cast<size_t>(position) >= m_block.m_entries.size()) return;
  m_block.m_entries.erase(m_block.m_entries.begin() + position);
  delete m_ui->listEntries->takeTopLevelItem(position);
  // The entry that moved up takes the place; after the last one there is none.
  Select(position);
}

void CLogicBlockDlg::accept() {
  m_block.m_strName = m_ui->editName->text().left(kNameChars).toStdString();
  QDialog::accept();
}
