// What the tag list's changes look like from outside: an OPC UA client of
// the program's own endpoint sees a user variable's edited value on the node
// it already watches, and a Modbus/TCP point defined in the dialogs gets its
// value from a pymodbus slave on the next poll and shows it when the list is
// opened again.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QElapsedTimer>

#include <chrono>
#include <thread>

#include "TagDialogsGuiSupport.h"
#include "connections/ModbusConnections.h"
#include "core/HostUi.h"
#include "core/MainFrame.h"
#include "core/ModbusPoller.h"
#include "opcua/client.h"
#include "resources/CommandIds.h"
#include "serverkit/UaServer.h"
#include "tags/TagCommands.h"
#include "tests/opcconnect/FakeClientKit.h"
#include "tests/support/PymodbusSlave.h"

using namespace tagdialogs_test;
using namespace opcua;
using B = BuiltinType;

namespace {

// A loopback port of this test's range that nothing listens on now.
uint16_t FreePortInRange() {
  for (uint16_t port = 25100 + static_cast<uint16_t>(getpid() % 50); port < 25200; ++port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(port);
    const bool free = ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    ::close(fd);
    if (free) return port;
  }
  return 0;
}

bool Listens(uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(port);
  const bool up = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
  ::close(fd);
  return up;
}

template <typename Pred>
bool ProcessUntil(Pred done, int timeoutMs) {
  QElapsedTimer timer;
  timer.start();
  while (!done()) {
    if (timer.elapsed() > timeoutMs) return false;
    QApplication::processEvents(QEventLoop::AllEvents, 20);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

// An anonymous session with one subscription on one node.
struct Watcher {
  ClientConnection connection;
  uint32_t subscription = 0;
  uint32_t acknowledge = 0;

  bool Open(const std::string& url, const NodeId& node) {
    if (connection.Connect(url, 3000) != status::Good) return false;
    CreateSessionRequest create;
    create.endpointUrl = String(url);
    create.sessionName = String("tagdialogs");
    create.requestedSessionTimeout = 60000;
    CreateSessionResponse created;
    if (connection.Call(create, created) != status::Good) return false;
    connection.SetAuthenticationToken(created.authenticationToken);
    ActivateSessionRequest activate;
    activate.userIdentityToken = Pack(AnonymousIdentityToken{String("anonymous")});
    ActivateSessionResponse activated;
    if (connection.Call(activate, activated) != status::Good) return false;
    CreateSubscriptionRequest cs;
    cs.requestedPublishingInterval = 50;
    cs.requestedMaxKeepAliveCount = 10;
    cs.requestedLifetimeCount = 100;
    cs.publishingEnabled = true;
    CreateSubscriptionResponse sub;
    if (connection.Call(cs, sub) != status::Good) return false;
    subscription = sub.subscriptionId;
    CreateMonitoredItemsRequest cm;
    cm.subscriptionId = subscription;
    MonitoredItemCreateRequest item;
    item.itemToMonitor.nodeId = node;
    item.requestedParameters.clientHandle = 7;
    item.requestedParameters.samplingInterval = 50;
    cm.itemsToCreate.push_back(item);
    CreateMonitoredItemsResponse made;
    return connection.Call(cm, made) == status::Good && made.results.size() == 1 &&
           made.results[0].statusCode == status::Good;
  }
  // The next float the node reports, waiting up to `timeoutMs`.
  bool NextFloat(float& value, int timeoutMs) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < timeoutMs) {
      PublishRequest p;
      p.requestHeader.timeoutHint = 3000;
      if (acknowledge != 0) p.subscriptionAcknowledgements.push_back({subscription, acknowledge});
      PublishResponse r;
      if (connection.Call(p, r, 3000) != status::Good) return false;
      if (!r.notificationMessage.notificationData.empty()) acknowledge = r.notificationMessage.sequenceNumber;
      for (const ExtensionObject& x : r.notificationMessage.notificationData) {
        DataChangeNotification dc;
        if (!Unpack(x, dc)) continue;
        for (const MonitoredItemNotification& n : dc.monitoredItems) {
          if (n.clientHandle == 7 && n.value.value.Holds<B::Float>()) {
            value = n.value.value.Values<B::Float>()[0];
            return true;
          }
        }
      }
    }
    return false;
  }
  DataValue Read(const NodeId& node) {
    ReadRequest q;
    ReadValueId id;
    id.nodeId = node;
    id.attributeId = attr::Value;
    q.nodesToRead.push_back(id);
    ReadResponse r;
    if (connection.Call(q, r) != status::Good || r.results.size() != 1) return {};
    return r.results[0];
  }
};

class Host : public IHostUi {
 public:
  void MessageBox(const std::string& text) override { messages.push_back(text); }
  int ShowForm(const std::string&) override { return 0; }
  int HideForm(const std::string&) override { return 0; }
  std::vector<std::string> messages;
};

}  // namespace

TEST(TagExchange, UserVariableEditedInTheListKeepsTheNodeAnOpcUaClientWatches) {
  App();
  fakeclient::Reset();
  InitOpcServer(kPlexmarClsid, 250);
  {
    CPlexmarApp app;
    Script script;
    serverkit::ua::Server server;
    const uint16_t port = FreePortInRange();
    ASSERT_NE(port, 0);
    std::string error;
    ASSERT_TRUE(server.Start("127.0.0.1", port, &error)) << error;
    const std::string url = "opc.tcp://127.0.0.1:" + std::to_string(port);

    CTagListDlg list(app, script.Hooks());
    script.steps = {Define([](CTagDefinitionDlg& d) {
                      d.Form().editName->setText("Setpoint");
                      d.Form().buttonDetails->click();
                    }),
                    UserValue("5")};
    list.OnAdd();
    ASSERT_EQ(app.m_tags.size(), 1u);
    const int32_t handle = app.m_tags[0]->m_hServerTag;

    Watcher watcher;
    const NodeId node = NodeId::Text(1, "Setpoint");
    ASSERT_TRUE(watcher.Open(url, node));
    float seen = 0;
    ASSERT_TRUE(watcher.NextFloat(seen, 3000));
    EXPECT_EQ(seen, 5.0f);

    // Two edits of the value: a node that had been made anew would leave the
    // subscription on the withdrawn one, which reports no second change.
    for (const float value : {7.5f, 9.25f}) {
      list.SelectPosition(0);
      script.steps = {Define([](CTagDefinitionDlg& d) { d.Form().buttonDetails->click(); }),
                      UserValue(QString::number(value))};
      list.OnEdit();
      EXPECT_EQ(app.m_tags[0]->m_hServerTag, handle);
      ASSERT_TRUE(watcher.NextFloat(seen, 3000)) << value;
      EXPECT_EQ(seen, value);
    }
    const DataValue read = watcher.Read(node);
    EXPECT_EQ(read.status, status::Good);
    ASSERT_TRUE(read.value.Holds<B::Float>());
    EXPECT_EQ(read.value.Values<B::Float>()[0], 9.25f);
    EXPECT_EQ(serverkit::ListItems().size(), 1u);

    // A rename is a new tag, and a new node: the old one is gone.
    script.steps = {Named("Setpoint2")};
    list.OnEdit();
    EXPECT_NE(app.m_tags[0]->m_hServerTag, handle);
    EXPECT_EQ(watcher.Read(node).status, status::BadNodeIdUnknown);
    EXPECT_EQ(watcher.Read(NodeId::Text(1, "Setpoint2")).status, status::Good);
    watcher.connection.Close();
    server.Stop();
  }
  ShutdownOpcServer();
}

TEST(TagExchange, ModbusTcpPointDefinedInTheDialogsIsPolledFromPymodbusAndShownWhenTheListOpensAgain) {
  if (std::system("/usr/bin/python3 -c 'import pymodbus' 2>/dev/null") != 0)
    GTEST_SKIP() << "pymodbus is not installed";
  App();
  fakeclient::Reset();
  const uint16_t port = FreePortInRange();
  ASSERT_NE(port, 0);
  testsupport::PymodbusSlave slave(port);
  ASSERT_TRUE(slave.Started());
  ASSERT_TRUE(ProcessUntil([&] { return Listens(port); }, 15000)) << "pymodbus did not start";

  CPlexmarApp app;
  Host host;
  app.SetHostUi(&host);
  CMainFrame frame{app};
  InstallModbusPolling(frame.Core());
  auto commands = InstallTagCommands(frame, app);
  ASSERT_TRUE(frame.Create());
  app.m_tcpMasters[0].strHost = "127.0.0.1";
  app.m_tcpMasters[0].nPort = port;
  ASSERT_TRUE(modbusconn::ConnectTcpMaster(app, 0)) << (host.messages.empty() ? "" : host.messages[0]);

  // Holding register 40 of pymodbus's slave 1 holds 1040; input register 7 as
  // a word-swapped long over 7 and 8 holds 2007 << 16 | 2008.
  Script answers;
  commands->m_tagHooks = answers.Hooks();
  const auto tcpPoint = [](const char* name) {
    return Define([name](CTagDefinitionDlg& d) {
      d.Form().editName->setText(name);
      Choose(d.Form().comboType, 3);
      d.Form().buttonDetails->click();
    });
  };
  answers.steps = {[&](QDialog& d) {
                     auto& list = dynamic_cast<CTagListDlg&>(d);
                     list.OnAdd();
                     list.OnAdd();
                     list.Form().buttonOk->click();
                     return d.result();
                   },
                   tcpPoint("Level"), ModbusDetails([](Ui::ModbusPointDlg& f) {
                     f.editHost->setText("127.0.0.1");
                     f.editAddress->setText("40");
                   }),
                   tcpPoint("Counter"), ModbusDetails([](Ui::ModbusPointDlg& f) {
                     f.editHost->setText("127.0.0.1");
                     f.comboPointType->setCurrentIndex(3);
                     f.editAddress->setText("7");
                     f.comboDataType->setCurrentIndex(6);
                   })};
  ASSERT_TRUE(frame.RunCommand(cmd::ID_EDIT_TAGLIST));
  ASSERT_EQ(app.m_tags.size(), 2u);
  EXPECT_EQ(app.m_dataBlocks.size(), 2u) << "the list registered the points' blocks as it closed";
  const CExchangeTag& level = *app.m_tags[0];
  const CExchangeTag& counter = *app.m_tags[1];
  ASSERT_TRUE(ProcessUntil([&] { return level.m_nQuality == 0xC0 && counter.m_nQuality == 0xC0; }, 10000))
      << "no poll brought the values";
  EXPECT_EQ(level.m_value->vt, VT_I2);
  EXPECT_EQ(level.m_value->iVal, 1040);
  EXPECT_EQ(counter.m_value->vt, VT_I4);
  EXPECT_EQ(counter.m_value->lVal, (2007 << 16) | 2008);

  QStringList levelRow, counterRow;
  answers.steps = {[&](QDialog& d) {
    auto& list = dynamic_cast<CTagListDlg&>(d);
    levelRow = Row(list, 0);
    counterRow = Row(list, 1);
    EXPECT_TRUE(Snapshot(list, "tag-list-polled"));
    list.Form().buttonOk->click();
    return d.result();
  }};
  ASSERT_TRUE(frame.RunCommand(cmd::ID_EDIT_TAGLIST));
  EXPECT_EQ(levelRow, QStringList({"Level", "1040 ", "Modbus Data Point (127.0.0.1) (SlaveId:1, HOLDING "
                                                      "REGISTER:0040, As INTEGER)"}));
  EXPECT_EQ(counterRow[1], QString::number((2007 << 16) | 2008) + " ");
  EXPECT_TRUE(host.messages.empty());

  CloseMasterConnection(app.m_tcpMasters[0].hMaster);
  app.m_tcpMasters[0].hMaster = -1;
  app.SetHostUi(nullptr);
  app.RemoveAllTags();
}
