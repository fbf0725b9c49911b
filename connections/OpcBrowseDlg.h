// Dialog 143: browsing the name space of a connected OPC server to pick an
// item. The tree starts at "Root" and is filled one level ahead of what is
// shown, so that every branch on screen already knows whether it can be
// expanded. Choosing a leaf with "Add Item" gives the item ID the server
// names for it (the text of the edit field, which the operator may change);
// double-clicking a leaf gives its dotted path in the tree instead.
#pragma once

#include <QDialog>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QTreeWidgetItem;
class COpcServerLink;
namespace Ui {
class OpcBrowseDlg;
}  // namespace Ui

class COpcBrowseDlg : public QDialog {
  Q_OBJECT

 public:
  // `server` is the client toolkit's handle of a connected server.
  explicit COpcBrowseDlg(int32_t server, QWidget* parent = nullptr);
  ~COpcBrowseDlg() override;

  // The chosen item ID once the dialog closed with OK; empty otherwise.
  std::string Result() const { return m_strResult; }
  Ui::OpcBrowseDlg& Form() { return *m_ui; }
  QTreeWidgetItem* RootItem() const { return m_pRoot; }

  // The texts of the item and its ancestors below "Root", joined by ".";
  // "" for "Root".
  static std::string DottedPath(const QTreeWidgetItem* item);

 private:
  void FillItem(QTreeWidgetItem* item);
  void OnItemExpanding(QTreeWidgetItem* item);
  void OnSelectionChanged();
  void OnAddItem();
  void OnDoubleClicked(QTreeWidgetItem* item);
  bool IsLeaf(const QTreeWidgetItem* item) const;

  std::unique_ptr<Ui::OpcBrowseDlg> m_ui;
  int32_t m_hServer;
  QTreeWidgetItem* m_pRoot = nullptr;
  std::vector<std::string> m_itemIds;
  std::string m_strResult;
};

// Shows the browse dialog for a link's server; the chosen item ID, or
// nothing when the operator cancelled or the link is not connected.
std::optional<std::string> BrowseServerItem(const COpcServerLink& link, QWidget* parent = nullptr);
