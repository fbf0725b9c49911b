#include "tags/TagListDlg.h"

#include <QHeaderView>
#include <QMouseEvent>
#include <QPushButton>
#include <QTreeWidget>

#include <string>

#include "core/ExchangeTag.h"
#include "core/PlexmarApp.h"
#include "tags/TagAdministration.h"
#include "tags/TagDefinitionDlgs.h"
#include "ui_TagListDlg.h"

CTagListDlg::CTagListDlg(CPlexmarApp& app, const TagDialogHooks& hooks, QWidget* parent)
    : QDialog(parent), m_ui(std::make_unique<Ui::TagListDlg>()), m_app(app), m_hooks(hooks) {
  m_ui->setupUi(this);
  QTreeWidget* list = m_ui->listTags;
  for (const auto& tag : app.m_tags) FillRow(new QTreeWidgetItem(list), *tag);
  // Clicks are taken here, so that one on no row clears the position.
  list->viewport()->installEventFilter(this);
  connect(list, &QTreeWidget::itemSelectionChanged, this, [this, list] {
    // Moving through the rows with the keyboard moves the position with them.
    if (m_bSelecting) return;
    const QList<QTreeWidgetItem*> rows = list->selectedItems();
    if (!rows.isEmpty()) SelectPosition(list->indexOfTopLevelItem(rows.front()));
  });
  connect(m_ui->buttonOk, &QPushButton::clicked, this, &QDialog::accept);
  connect(m_ui->buttonAdd, &QPushButton::clicked, this, &CTagListDlg::OnAdd);
  connect(m_ui->buttonEdit, &QPushButton::clicked, this, &CTagListDlg::OnEdit);
  connect(m_ui->buttonRemove, &QPushButton::clicked, this, &CTagListDlg::OnRemove);
  SelectPosition(-1);
}

CTagListDlg::~CTagListDlg() = default;

void CTagListDlg::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!m_bColumnsSized) SizeColumns();
}

void CTagListDlg::SizeColumns() {
  const int width = m_ui->listTags->viewport()->width();
  m_ui->listTags->setColumnWidth(0, width / 3);
  m_ui->listTags->setColumnWidth(1, width / 6);
  m_ui->listTags->setColumnWidth(2, width / 2);
  m_bColumnsSized = true;
}

void CTagListDlg::FillRow(QTreeWidgetItem* row, const CExchangeTag& tag) const {
  if (row == nullptr) return;
  row->setText(0, QString::fromStdString(tag.m_strName));
  row->setText(1, QString::fromStdString(tagadmin::ValueText(tag)));
  row->setText(2, QString::fromStdString(tag.GetDescription()));
}

bool CTagListDlg::eventFilter(QObject* watched, QEvent* event) {
  if (watched == m_ui->listTags->viewport() &&
      (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonDblClick)) {
    const auto* mouse = static_cast<QMouseEvent*>(event);
    QTreeWidgetItem* row = m_ui->listTags->itemAt(mouse->position().toPoint());
    m_ui->listTags->setFocus();
    SelectPosition(row ? m_ui->listTags->indexOfTopLevelItem(row) : -1);
    if (event->type() == QEvent::MouseButtonDblClick) OnEdit();
    return true;
  }
  return QDialog::eventFilter(watched, event);
}

void CTagListDlg::SelectPosition(int position) {
  m_nSelected = position < 0 ? -1 : position;
  QTreeWidget* list = m_ui->listTags;
  m_bSelecting = true;
  list->clearSelection();
  if (m_nSelected >= 0 && m_nSelected < list->topLevelItemCount()) {
    QTreeWidgetItem* row = list->topLevelItem(m_nSelected);
    list->setCurrentItem(row);
    row->setSelected(true);
  }
  m_bSelecting = false;
  m_ui->buttonEdit->setEnabled(m_nSelected >= 0);
  m_ui->buttonRemove->setEnabled(m_nSelected >= 0);
}

int CTagListDlg::RunDialog(QDialog& dialog) {
  return m_hooks.run ? m_hooks.run(dialog) : static_cast<int>(QDialog::Rejected);
}

void CTagListDlg::ShowDuplicateName(const std::string& name) {
  const std::string text = "(" + name + ")\r\nA Tag with this Name Already Exists!";
  if (m_hooks.tell) m_hooks.tell(this, QString::fromStdString(text));
}

bool CTagListDlg::DefineNewTag(CExchangeTag& tag) {
  for (;;) {
    CTagDefinitionDlg dialog(m_app, tag, m_hooks, this);
    if (RunDialog(dialog) != QDialog::Accepted) return false;
    if (!tagadmin::IsNameTaken(m_app, tag.m_strName)) return true;
    ShowDuplicateName(tag.m_strName);
  }
}

void CTagListDlg::OnAdd() {
  auto tag = std::make_unique<CExchangeTag>(m_app.DefaultTagName());
  if (!DefineNewTag(*tag)) return;
  const size_t count = m_app.m_tags.size();
  const size_t wanted = m_nSelected >= 0 && static_cast<size_t>(m_nSelected) < count ? m_nSelected + 1 : count;
  const size_t position = tagadmin::InsertTag(m_app, std::move(tag), wanted);
  auto* row = new QTreeWidgetItem();
  FillRow(row, *m_app.m_tags[position]);
  m_bSelecting = true;
  m_ui->listTags->insertTopLevelItem(static_cast<int>(position), row);
  m_bSelecting = false;
  SelectPosition(static_cast<int>(position));
}

void CTagListDlg::OnEdit() {
  if (m_nSelected < 0 || static_cast<size_t>(m_nSelected) >= m_app.m_tags.size()) return;
  const size_t position = static_cast<size_t>(m_nSelected);
  auto copy = std::make_unique<CExchangeTag>(m_app.m_tags[position]->m_strName);
  copy->CopyFrom(*m_app.m_tags[position]);
  for (;;) {
    CTagDefinitionDlg dialog(m_app, *copy, m_hooks, this);
    if (RunDialog(dialog) != QDialog::Accepted) return;
    if (position >= m_app.m_tags.size()) return;
    CExchangeTag& selected = *m_app.m_tags[position];
    if (copy->IsEqual(selected)) return;
    if (copy->m_strName == selected.m_strName && copy->m_nSourceKind == CExchangeTag::kSourceVariable &&
        selected.m_nSourceKind == CExchangeTag::kSourceVariable) {
      tagadmin::UpdateUserVariable(selected, *copy);
      FillRow(m_ui->listTags->topLevelItem(static_cast<int>(position)), selected);
      return;
    }
    if (!tagadmin::IsNameTaken(m_app, copy->m_strName, position)) break;
    ShowDuplicateName(copy->m_strName);
  }
  tagadmin::ReplaceTag(m_app, position, std::move(copy));
  FillRow(m_ui->listTags->topLevelItem(static_cast<int>(position)), *m_app.m_tags[position]);
  SelectPosition(static_cast<int>(position));
}

void CTagListDlg::OnRemove() {
  if (m_nSelected < 0) return;
  const size_t position = static_cast<size_t>(m_nSelected);
  if (!tagadmin::RemoveTagAt(m_app, position)) return;
  // The view picks a row of its own when the selected one goes; the
  // position is ours.
  m_bSelecting = true;
  delete m_ui->listTags->takeTopLevelItem(static_cast<int>(position));
  m_bSelecting = false;
  // The position stays: a second Remove takes the tag that moved up into it.
  SelectPosition(m_nSelected);
}

void CTagListDlg::done(int result) {
  tagadmin::RegisterDataBlocks(m_app);
  QDialog::done(result);
}
