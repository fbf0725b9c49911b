// The OPC commands of the Connect menu and their dialogs on Qt's offscreen
// platform, against a scripted client toolkit: captions, labels and control
// ids, what OK and Cancel pass on, the browse tree's filling, selection,
// "Add Item" and double-click, and the hand-over of data changes through
// the main window's message queue.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>

#include "FakeClientKit.h"
#include "connections/OpcBrowseDlg.h"
#include "connections/OpcConnectCommands.h"
#include "connections/OpcConnectDialogs.h"
#include "connections/OpcServerLink.h"
#include "core/MainFrame.h"
#include "core/PlexmarApp.h"
#include "resources/CommandIds.h"
#include "tests/modbusconnect/ConnectTestSupport.h"
#include "ui_OpcBrowseDlg.h"
#include "ui_OpcRemoteDlg.h"
#include "ui_OpcServerListDlg.h"

#include "tests/support/GuiTestApp.h"

namespace {

QApplication& App() { return testsupport::GuiApp(); }

void Snapshot(QWidget& widget, const QString& name) { testsupport::SaveSnapshot(widget, name); }

fakeclient::Node Leaf(const std::string& name, const std::string& id) { return {name, id, {}}; }
fakeclient::Node Branch(const std::string& name, std::vector<fakeclient::Node> children) {
  return {name, "", std::move(children)};
}

// Line1 holds a leaf whose browse name has three dotted parts and a branch
// Pump with one leaf; Empty is a branch with nothing in it.
void HierarchicalSpace() {
  fakeclient::Kit().root = Branch("", {Leaf("Top", "ns=1;s=Top"),
                                       Branch("Line1", {Leaf("Plant.Line1.Flow", "ns=2;s=Line1.Flow"),
                                                        Branch("Pump", {Leaf("Speed", "ns=2;i=1001")})}),
                                       Branch("Empty", {})});
}

QStringList Texts(const QTreeWidgetItem* item) {
  QStringList texts;
  for (int i = 0; i < item->childCount(); ++i) texts << item->child(i)->text(0);
  return texts;
}

QTreeWidgetItem* Child(QTreeWidgetItem* item, const QString& text) {
  for (int i = 0; i < item->childCount(); ++i)
    if (item->child(i)->text(0) == text) return item->child(i);
  return nullptr;
}

class OpcGui : public ::testing::Test {
 protected:
  void SetUp() override {
    App();
    fakeclient::Reset();
  }
};

}  // namespace

TEST_F(OpcGui, RemoteAndServerListDialogsShowTheirTextsAndPassOnTheChoice) {
  COpcRemoteDlg remote;
  EXPECT_EQ(remote.windowTitle(), "OPC 2.0 Remote Connection");
  EXPECT_EQ(remote.property("resourceId").toInt(), 139);
  EXPECT_EQ(remote.Form().labelMachine->text(), "Enter Machine Name or IP Address:");
  EXPECT_EQ(remote.Form().editMachine->property("controlId").toInt(), 1004);
  EXPECT_TRUE(remote.Form().editMachine->text().isEmpty());
  Snapshot(remote, "dialog139");
  remote.Form().editMachine->setText(" opc.tcp://plc7:48400 ");
  remote.accept();
  EXPECT_EQ(remote.Machine(), "opc.tcp://plc7:48400");

  COpcServerListDlg list("plc7", {"Beta", "Alpha", "Gamma"});
  auto& ui = list.Form();
  EXPECT_EQ(list.windowTitle(), "OPC ServerList (from OPCENUM)");
  EXPECT_EQ(list.property("resourceId").toInt(), 140);
  EXPECT_EQ(ui.groupServer->title(), "OPC Server");
  EXPECT_EQ(ui.labelServer->text(), "Server Name:");
  EXPECT_EQ(ui.labelMachine->text(), "Machine Name:");
  EXPECT_EQ(ui.checkForce10a->text(), "Force OPC 1.0a connection");
  EXPECT_EQ(ui.comboServer->property("controlId").toInt(), 1021);
  EXPECT_EQ(ui.editMachine->property("controlId").toInt(), 1001);
  EXPECT_EQ(ui.checkForce10a->property("controlId").toInt(), 1000);
  EXPECT_FALSE(ui.comboServer->isEditable()) << "a drop-down list";
  EXPECT_FALSE(ui.editMachine->isEnabled());
  EXPECT_EQ(ui.editMachine->text(), "plc7");
  EXPECT_FALSE(ui.checkForce10a->isChecked());
  ASSERT_EQ(ui.comboServer->count(), 3);
  EXPECT_EQ(ui.comboServer->itemText(0), "Beta") << "enumeration order, not sorted";
  EXPECT_EQ(ui.comboServer->currentIndex(), -1) << "an empty name selects nothing";
  Snapshot(list, "dialog140");
  list.accept();
  EXPECT_EQ(list.Server(), "") << "OK without a selection keeps the name empty";

  COpcServerListDlg chosen("", {"Beta", "Alpha"}, "Alpha");
  EXPECT_EQ(chosen.Form().comboServer->currentText(), "Alpha");
  chosen.Form().comboServer->setCurrentIndex(0);
  chosen.Form().checkForce10a->setChecked(true);
  chosen.accept();
  EXPECT_EQ(chosen.Server(), "Beta");
  EXPECT_TRUE(chosen.ForceOpc10a());
}

TEST_F(OpcGui, BrowseFillsOneLevelAheadAndShowsLeavesByTheirLastPart) {
  HierarchicalSpace();
  COpcBrowseDlg dialog(10);
  auto& ui = dialog.Form();
  EXPECT_EQ(dialog.property("resourceId").toInt(), 143);
  EXPECT_EQ(ui.labelTagList->text(), "Server Tag List:");
  EXPECT_EQ(ui.treeTags->property("controlId").toInt(), 1004);
  EXPECT_EQ(ui.editItemId->property("controlId").toInt(), 1014);
  EXPECT_EQ(ui.buttonAddItem->text(), "Add Item");
  EXPECT_EQ(ui.buttonAddItem->property("controlId").toInt(), 1005);
  EXPECT_TRUE(ui.buttonAddItem->isDefault());
  EXPECT_FALSE(ui.buttonAddItem->isEnabled());
  EXPECT_EQ(ui.buttonCancel->text(), "Cancel");
  EXPECT_EQ(fakeclient::Kit().browsedTo, (std::vector<std::string>{"", "", ""}));

  QTreeWidgetItem* root = dialog.RootItem();
  ASSERT_EQ(ui.treeTags->topLevelItemCount(), 1);
  EXPECT_EQ(root->text(0), "Root");
  EXPECT_EQ(Texts(root), (QStringList{"Top", "Line1", "Empty"})) << "leaves first, then branches";

  QTreeWidgetItem* line1 = Child(root, "Line1");
  EXPECT_EQ(line1->childCount(), 0) << "not asked for before Root opens";
  ui.treeTags->expandItem(root);
  EXPECT_EQ(Texts(line1), (QStringList{"Flow", "Pump"}));
  ui.treeTags->expandItem(line1);
  QTreeWidgetItem* pump = Child(line1, "Pump");
  EXPECT_EQ(Texts(pump), QStringList{"Speed"});
  EXPECT_EQ(COpcBrowseDlg::DottedPath(Child(pump, "Speed")), "Line1.Pump.Speed");
  EXPECT_EQ(COpcBrowseDlg::DottedPath(root), "");

  // Opening again asks for nothing twice.
  ui.treeTags->collapseItem(line1);
  ui.treeTags->expandItem(line1);
  ui.treeTags->collapseItem(root);
  ui.treeTags->expandItem(root);
  EXPECT_EQ(Texts(line1), (QStringList{"Flow", "Pump"}));
  EXPECT_EQ(Texts(pump), QStringList{"Speed"});
  Snapshot(dialog, "dialog143");
}

TEST_F(OpcGui, SelectionAddItemAndDoubleClick) {
  HierarchicalSpace();
  {
    COpcBrowseDlg dialog(10);
    auto& ui = dialog.Form();
    ui.treeTags->expandItem(dialog.RootItem());
    QTreeWidgetItem* line1 = Child(dialog.RootItem(), "Line1");
    ui.treeTags->expandItem(line1);
    QTreeWidgetItem* flow = Child(line1, "Flow");

    ui.treeTags->setCurrentItem(flow);
    EXPECT_EQ(ui.editItemId->text(), "ns=2;s=Line1.Flow") << "the server's ID, not the tree path";
    EXPECT_TRUE(ui.buttonAddItem->isEnabled());
    ui.treeTags->setCurrentItem(line1);
    EXPECT_TRUE(ui.editItemId->text().isEmpty());
    EXPECT_FALSE(ui.buttonAddItem->isEnabled());
    ui.treeTags->setCurrentItem(Child(dialog.RootItem(), "Empty"));
    EXPECT_FALSE(ui.buttonAddItem->isEnabled()) << "an empty branch has no item ID";
    ui.treeTags->clearSelection();
    EXPECT_FALSE(ui.buttonAddItem->isEnabled());

    ui.treeTags->setCurrentItem(flow);
    ui.treeTags->setCurrentItem(flow);
    ui.buttonAddItem->click();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.Result(), "ns=2;s=Line1.Flow");
  }
  {
    COpcBrowseDlg dialog(10);
    auto& ui = dialog.Form();
    ui.treeTags->expandItem(dialog.RootItem());
    QTreeWidgetItem* flow = Child(Child(dialog.RootItem(), "Line1"), "Flow");
    ui.treeTags->setCurrentItem(flow);
    // The operator may change the ID before adding it; a long one is kept whole.
    const QString edited = QStringLiteral("nsu=http://example.org/plant/lines/with/a/long/namespace/uri/");
    ui.editItemId->setText(edited + QString(60, QChar('x')));
    ui.buttonAddItem->click();
    EXPECT_EQ(QString::fromStdString(dialog.Result()), edited + QString(60, QChar('x')));
  }
  {
    COpcBrowseDlg dialog(10);
    auto& ui = dialog.Form();
    ui.treeTags->expandItem(dialog.RootItem());
    QTreeWidgetItem* line1 = Child(dialog.RootItem(), "Line1");
    emit ui.treeTags->itemDoubleClicked(line1, 0);
    EXPECT_NE(dialog.result(), QDialog::Accepted) << "a branch only opens or closes";
    emit ui.treeTags->itemDoubleClicked(Child(line1, "Flow"), 0);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.Result(), "Line1.Flow") << "the dotted tree path";
  }
}

TEST_F(OpcGui, FlatSpaceShowsOnlyLeavesUnderRoot) {
  HierarchicalSpace();
  fakeclient::Kit().flat = true;
  COpcBrowseDlg dialog(10);
  EXPECT_EQ(Texts(dialog.RootItem()), QStringList{"Top"});
  dialog.Form().treeTags->expandItem(dialog.RootItem());
  EXPECT_EQ(Texts(dialog.RootItem()), QStringList{"Top"});
}

TEST_F(OpcGui, BrowseServerItemNeedsAConnectedLink) {
  COpcServerLink link("", "S");
  EXPECT_FALSE(BrowseServerItem(link).has_value());
  EXPECT_TRUE(fakeclient::Kit().browsedTo.empty());
}

// The commands through the main window, with the dialogs answered here.
class OpcCommands : public ::testing::Test {
 protected:
  void SetUp() override {
    App();
    fakeclient::Reset();
    m_frame = std::make_unique<CMainFrame>(m_app);
    m_commands = InstallOpcConnectCommands(*m_frame, m_app);
    m_app.SetHostUi(&m_host);
  }
  void TearDown() override {
    m_app.SetHostUi(nullptr);
    m_frame.reset();
  }
  // Answers every dialog: `fill` fills it in, then OK or Cancel.
  void Answer(std::function<void(QDialog&)> fill, bool ok) {
    m_commands->m_fnRunDialog = [this, fill, ok](QDialog& dialog) {
      m_titles << dialog.windowTitle();
      if (fill) fill(dialog);
      if (ok) dialog.accept(); else dialog.reject();
      return dialog.result();
    };
  }

  CPlexmarApp m_app;
  CRecordingHost m_host;
  std::unique_ptr<CMainFrame> m_frame;
  std::shared_ptr<COpcConnectCommands> m_commands;
  QStringList m_titles;
};

TEST_F(OpcCommands, LocalListsThisMachineAndConnectsTheChosenServer) {
  EXPECT_EQ(cmd::ID_CONNECT_OPC_LOCAL, 32785);
  EXPECT_EQ(cmd::ID_CONNECT_OPC_REMOTE, 32786);
  EXPECT_TRUE(m_frame->IsCommandEnabled(cmd::ID_CONNECT_OPC_LOCAL));
  EXPECT_TRUE(m_frame->IsCommandEnabled(cmd::ID_CONNECT_OPC_REMOTE));
  auto& kit = fakeclient::Kit();
  kit.kind1[""] = {"Plexmar", "Other"};
  kit.reachable = {"|Other"};
  Answer([](QDialog& d) {
    auto& list = static_cast<COpcServerListDlg&>(d);
    EXPECT_EQ(list.Form().editMachine->text(), "");
    list.Form().comboServer->setCurrentText("Other");
  }, true);
  ASSERT_TRUE(m_frame->RunCommand(cmd::ID_CONNECT_OPC_LOCAL));
  EXPECT_EQ(m_titles, QStringList{"OPC ServerList (from OPCENUM)"});
  ASSERT_EQ(m_app.m_serverLinks.size(), 1u);
  EXPECT_EQ(m_app.m_serverLinks[0]->GetDescription(), "Local Machine--Other");
  EXPECT_TRUE(m_host.m_messages.empty());

  // Cancel on the list connects nothing.
  Answer({}, false);
  m_frame->RunCommand(cmd::ID_CONNECT_OPC_LOCAL);
  EXPECT_EQ(m_app.m_serverLinks.size(), 1u);
  EXPECT_EQ(kit.connects.size(), 1u);
}

TEST_F(OpcCommands, RemoteAsksForTheMachineAndReportsAFailedConnect) {
  auto& kit = fakeclient::Kit();
  kit.kind0["plc7:48400"] = {"PLC Server"};
  Answer([](QDialog& d) {
    if (auto* remote = qobject_cast<COpcRemoteDlg*>(&d)) {
      remote->Form().editMachine->setText("plc7:48400");
    } else {
      auto& list = static_cast<COpcServerListDlg&>(d);
      EXPECT_EQ(list.Form().editMachine->text(), "plc7:48400");
      list.Form().comboServer->setCurrentIndex(0);
    }
  }, true);
  ASSERT_TRUE(m_frame->RunCommand(cmd::ID_CONNECT_OPC_REMOTE));
  EXPECT_EQ(m_titles, (QStringList{"OPC 2.0 Remote Connection", "OPC ServerList (from OPCENUM)"}));
  EXPECT_EQ(kit.enumerated, (std::vector<std::string>{"1 plc7:48400", "0 plc7:48400"}));
  EXPECT_EQ(kit.connects, std::vector<std::string>{"plc7:48400|PLC Server"});
  EXPECT_EQ(m_host.m_messages, std::vector<std::string>{"Connection Failed"});
  EXPECT_TRUE(m_app.m_serverLinks.empty());

  // Cancel on the machine ends the command.
  m_titles.clear();
  Answer({}, false);
  m_frame->RunCommand(cmd::ID_CONNECT_OPC_REMOTE);
  EXPECT_EQ(m_titles, QStringList{"OPC 2.0 Remote Connection"});
}

TEST_F(OpcCommands, DataChangesAreDispatchedFromTheMainWindowsQueue) {
  auto& kit = fakeclient::Kit();
  ASSERT_EQ(kit.notifyWindow, m_frame->Core().Window());
  EXPECT_EQ(kit.notifyMessage, kClientNotifyMessage);
  ASSERT_TRUE(PostMessage(kit.notifyWindow, kit.notifyMessage, 0, 0));
  EXPECT_EQ(kit.dispatches, 0) << "nothing runs on the posting thread";
  m_frame->Core().Pump();
  EXPECT_EQ(kit.dispatches, 1);
}
