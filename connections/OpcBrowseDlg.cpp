#include "connections/OpcBrowseDlg.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>

#include <algorithm>

#include "clientkit/clientkit.h"
#include "connections/OpcServerLink.h"
#include "ui_OpcBrowseDlg.h"

namespace {

constexpr int32_t kNameBuffer = 200;
constexpr int32_t kBrowseBranches = 1;
constexpr int32_t kBrowseLeaves = 2;
constexpr int32_t kFlatNamespace = 2;
// Item data: the index of a leaf's ID in the dialog's list (-1 for a branch),
// and whether the item's own children have been asked for.
constexpr int kIdIndexRole = Qt::UserRole;
constexpr int kFilledRole = Qt::UserRole + 1;

// A name as the tree shows it: what follows its last '.'.
QString ShownName(const std::string& name) {
  const size_t dot = name.rfind('.');
  return QString::fromStdString(dot == std::string::npos ? name : name.substr(dot + 1));
}

QTreeWidgetItem* AddChild(QTreeWidgetItem* parent, const std::string& name, int idIndex) {
  auto* child = new QTreeWidgetItem(parent);
  child->setText(0, ShownName(name));
  child->setData(0, kIdIndexRole, idIndex);
  child->setData(0, kFilledRole, false);
  return child;
}

}  // namespace

COpcBrowseDlg::COpcBrowseDlg(int32_t server, QWidget* parent)
    : QDialog(parent), m_ui(std::make_unique<Ui::OpcBrowseDlg>()), m_hServer(server) {
  m_ui->setupUi(this);
  m_ui->buttonAddItem->setEnabled(false);
  connect(m_ui->buttonAddItem, &QPushButton::clicked, this, &COpcBrowseDlg::OnAddItem);
  connect(m_ui->buttonCancel, &QPushButton::clicked, this, &QDialog::reject);
  connect(m_ui->treeTags, &QTreeWidget::itemExpanded, this, &COpcBrowseDlg::OnItemExpanding);
  connect(m_ui->treeTags, &QTreeWidget::itemSelectionChanged, this, &COpcBrowseDlg::OnSelectionChanged);
  connect(m_ui->treeTags, &QTreeWidget::itemDoubleClicked, this,
          [this](QTreeWidgetItem* item, int) { OnDoubleClicked(item); });

  ClientBrowseTo(m_hServer, "");
  m_pRoot = new QTreeWidgetItem(m_ui->treeTags);
  m_pRoot->setText(0, QStringLiteral("Root"));
  m_pRoot->setData(0, kIdIndexRole, -1);
  ClientBrowseTo(m_hServer, "");
  FillItem(m_pRoot);
}

COpcBrowseDlg::~COpcBrowseDlg() = default;

std::string COpcBrowseDlg::DottedPath(const QTreeWidgetItem* item) {
  std::vector<std::string> parts;
  // The top item is "Root" itself, which the path leaves out.
  for (const QTreeWidgetItem* at = item; at != nullptr && at->parent() != nullptr; at = at->parent())
    parts.push_back(at->text(0).toStdString());
  std::string path;
  for (auto it = parts.rbegin(); it != parts.rend(); ++it) {
    if (!path.empty()) path += '.';
    path += *it;
  }
  return path;
}

void COpcBrowseDlg::FillItem(QTreeWidgetItem* item) {
  // Asking twice would list the children twice.
  if (item->data(0, kFilledRole).toBool()) return;
  item->setData(0, kFilledRole, true);
  if (IsLeaf(item)) return;
  const std::string path = DottedPath(item);
  if (ClientBrowseTo(m_hServer, path.c_str()) == 0) return;

  const int32_t leaves = ClientBrowseCount(m_hServer, kBrowseLeaves);
  for (int32_t i = 0; i < leaves; ++i) {
    char name[kNameBuffer] = {};
    if (ClientBrowseName(m_hServer, i, name, kNameBuffer) == 0) continue;
    name[kNameBuffer - 1] = '\0';
    char id[kNameBuffer] = {};
    // A leaf whose ID the server does not give stays visible but cannot be
    // added.
    if (ClientGetItemId(m_hServer, name, id, kNameBuffer) == 0) id[0] = '\0';
    id[kNameBuffer - 1] = '\0';
    m_itemIds.emplace_back(id);
    AddChild(item, name, static_cast<int>(m_itemIds.size() - 1));
  }

  int32_t type = 0;
  ClientGetNamespaceType(m_hServer, &type);
  if (type == kFlatNamespace) return;
  const int32_t branches = ClientBrowseCount(m_hServer, kBrowseBranches);
  for (int32_t i = 0; i < branches; ++i) {
    char name[kNameBuffer] = {};
    if (ClientBrowseName(m_hServer, i, name, kNameBuffer) == 0) continue;
    name[kNameBuffer - 1] = '\0';
    AddChild(item, name, -1);
  }
}

bool COpcBrowseDlg::IsLeaf(const QTreeWidgetItem* item) const {
  return item != nullptr && item->childCount() == 0 && item->data(0, kIdIndexRole).toInt() >= 0;
}

void COpcBrowseDlg::OnItemExpanding(QTreeWidgetItem* item) {
  QApplication::setOverrideCursor(Qt::WaitCursor);
  for (int i = 0; i < item->childCount(); ++i) FillItem(item->child(i));
  QApplication::restoreOverrideCursor();
}

void COpcBrowseDlg::OnSelectionChanged() {
  const QList<QTreeWidgetItem*> selected = m_ui->treeTags->selectedItems();
  QTreeWidgetItem* item = selected.isEmpty() ? nullptr : selected.front();
  if (IsLeaf(item)) {
    const size_t index = static_cast<size_t>(item->data(0, kIdIndexRole).toInt());
    const std::string& id = m_itemIds[index];
    m_ui->editItemId->setText(QString::fromStdString(id));
    m_ui->buttonAddItem->setEnabled(!id.empty());
  } else {
    m_ui->editItemId->clear();
    m_ui->buttonAddItem->setEnabled(false);
  }
}

void COpcBrowseDlg::OnAddItem() {
  m_strResult = m_ui->editItemId->text().toStdString();
  accept();
}

void COpcBrowseDlg::OnDoubleClicked(QTreeWidgetItem* item) {
  // A branch only opens or closes, which the tree does by itself.
  if (!IsLeaf(item)) return;
  m_strResult = DottedPath(item);
  accept();
}

std::optional<std::string> BrowseServerItem(const COpcServerLink& link, QWidget* parent) {
  if (!link.m_bConnected) return std::nullopt;
  COpcBrowseDlg dialog(link.m_hServer, parent);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return dialog.Result();
}
