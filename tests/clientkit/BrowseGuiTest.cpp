// The OPC commands and the browse dialog on Qt's offscreen platform against
// a node-opcua server, through the real client toolkit: "&Remote" lists the
// server of a machine, connects, and the browse dialog shows its folders.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>

#include "UaServerPeer.h"
#include "clientkit/clientkit.h"
#include "connections/OpcBrowseDlg.h"
#include "connections/OpcConnectCommands.h"
#include "connections/OpcConnectDialogs.h"
#include "connections/OpcServerLink.h"
#include "core/MainFrame.h"
#include "core/PlexmarApp.h"
#include "resources/CommandIds.h"
#include "tests/modbusconnect/ConnectTestSupport.h"
#include "tests/support/FreePort.h"
#include "tests/support/GuiTestApp.h"
#include "ui_OpcBrowseDlg.h"
#include "ui_OpcRemoteDlg.h"
#include "ui_OpcServerListDlg.h"

namespace {

QApplication& App() { return testsupport::GuiApp(); }

void Snapshot(QWidget& widget, const QString& name) { testsupport::SaveSnapshot(widget, name); }

QTreeWidgetItem* Child(QTreeWidgetItem* item, const QString& text) {
  for (int i = 0; i < item->childCount(); ++i)
    if (item->child(i)->text(0) == text) return item->child(i);
  return nullptr;
}

}  // namespace

TEST(OpcBrowseGui, RemoteConnectAndBrowseANodeOpcuaServer) {
  if (!CUaServerPeer::Available()) GTEST_SKIP() << "node-opcua is not installed";
  App();
  CUaServerPeer server(testsupport::PickFreePort());
  ASSERT_TRUE(server.Start());
  const QString machine = QStringLiteral("localhost:%1").arg(server.Port());

  CPlexmarApp app;
  CRecordingHost host;
  app.SetHostUi(&host);
  auto frame = std::make_unique<CMainFrame>(app);
  auto commands = InstallOpcConnectCommands(*frame, app);
  commands->m_fnRunDialog = [&](QDialog& dialog) {
    if (auto* remote = qobject_cast<COpcRemoteDlg*>(&dialog)) {
      remote->Form().editMachine->setText(machine);
      Snapshot(dialog, "live_dialog139");
    } else {
      auto& list = static_cast<COpcServerListDlg&>(dialog);
      EXPECT_EQ(list.Form().comboServer->count(), 1);
      EXPECT_EQ(list.Form().comboServer->itemText(0), "Plexmar Test Server");
      EXPECT_EQ(list.Form().editMachine->text(), machine);
      list.Form().comboServer->setCurrentIndex(0);
      Snapshot(dialog, "live_dialog140");
    }
    dialog.accept();
    return dialog.result();
  };
  ASSERT_TRUE(frame->RunCommand(cmd::ID_CONNECT_OPC_REMOTE));
  EXPECT_TRUE(host.m_messages.empty());
  ASSERT_EQ(app.m_serverLinks.size(), 1u);
  const COpcServerLink& link = *app.m_serverLinks[0];
  EXPECT_EQ(link.GetDescription(), machine.toStdString() + "--Plexmar Test Server");

  {
    COpcBrowseDlg browse(link.m_hServer);
    auto& ui = browse.Form();
    QTreeWidgetItem* line1 = Child(browse.RootItem(), "Line1");
    ASSERT_NE(line1, nullptr);
    ui.treeTags->expandItem(browse.RootItem());
    ui.treeTags->expandItem(line1);
    QTreeWidgetItem* flow = Child(line1, "Flow");
    ASSERT_NE(flow, nullptr) << "the three-part browse name is shown by its last part";
    EXPECT_NE(Child(line1, "Pump"), nullptr);
    ui.treeTags->setCurrentItem(flow);
    EXPECT_EQ(ui.editItemId->text(), "ns=1;s=Line1.Flow");
    Snapshot(browse, "live_dialog143");
    ui.buttonAddItem->click();
    EXPECT_EQ(browse.Result(), "ns=1;s=Line1.Flow");
  }
  {
    COpcBrowseDlg browse(link.m_hServer);
    browse.Form().treeTags->expandItem(browse.RootItem());
    QTreeWidgetItem* line1 = Child(browse.RootItem(), "Line1");
    browse.Form().treeTags->expandItem(line1);
    QTreeWidgetItem* pump = Child(line1, "Pump");
    ASSERT_NE(pump, nullptr);
    browse.Form().treeTags->expandItem(pump);
    QTreeWidgetItem* speed = Child(pump, "Speed");
    ASSERT_NE(speed, nullptr);
    emit browse.Form().treeTags->itemDoubleClicked(speed, 0);
    EXPECT_EQ(browse.Result(), "Line1.Pump.Speed");
  }

  // A machine nobody serves: the empty list, then "Connection Failed".
  host.m_messages.clear();
  commands->m_fnRunDialog = [&](QDialog& dialog) {
    if (auto* remote = qobject_cast<COpcRemoteDlg*>(&dialog))
      remote->Form().editMachine->setText(QStringLiteral("localhost:%1").arg(testsupport::PickFreePort()));
    else
      EXPECT_EQ(static_cast<COpcServerListDlg&>(dialog).Form().comboServer->count(), 0);
    dialog.accept();
    return dialog.result();
  };
  frame->RunCommand(cmd::ID_CONNECT_OPC_REMOTE);
  EXPECT_EQ(host.m_messages, std::vector<std::string>{"Connection Failed"});

  for (const auto& l : app.m_serverLinks) ClientDisconnectServer(l->m_hServer);
  app.m_serverLinks.clear();
  app.SetHostUi(nullptr);
}
