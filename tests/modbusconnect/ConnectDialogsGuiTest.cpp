// The dialogs and commands of the Connect menu's Modbus items on Qt's
// offscreen platform: texts and lists as the operator sees them, what OK and
// Cancel store, the enabling of the menu items, and the messages.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include "ConnectTestSupport.h"
#include "connections/ModbusConnectCommands.h"
#include "connections/ModbusConnectDialogs.h"
#include "core/MainFrame.h"
#include "core/PlexmarApp.h"
#include "masterlink/masterlink.h"
#include "resources/CommandIds.h"
#include "slavelink/slavelink.h"
#include "ui_CommPortDlg.h"
#include "ui_TcpServerDlg.h"
#include "ui_TcpSlaveDlg.h"

#include "tests/support/GuiTestApp.h"

namespace {

QApplication& App() { return testsupport::GuiApp(); }

QStringList Entries(const QComboBox* combo) {
  QStringList list;
  for (int i = 0; i < combo->count(); ++i) list << combo->itemText(i);
  return list;
}

void Snapshot(QWidget& widget, const QString& name) { testsupport::SaveSnapshot(widget, name); }

class ConnectGui : public ::testing::Test {
 protected:
  void SetUp() override { App(); }
};

TEST_F(ConnectGui, CommPortDialogShowsItsListsInOrderWithTheStoredValuesSelected) {
  CommPortSettings stored;
  stored.nParity = 2;
  stored.nBaudRate = 19200;
  stored.nStopBits = 1;
  CCommPortDlg dialog(3, true, stored);
  Ui::CommPortDlg& ui = dialog.Form();
  EXPECT_EQ(dialog.windowTitle(), "Setup Comm Port 3 (As Modbus Master)");
  EXPECT_EQ(dialog.property("resourceId").toInt(), 161);
  EXPECT_EQ(ui.groupProtocol->title(), "Protocol");
  EXPECT_EQ(ui.radioAscii->text(), "ASCII");
  EXPECT_EQ(ui.radioRtu->text(), "RTU");
  EXPECT_EQ(ui.radioAscii->property("controlId").toInt(), 1000);
  EXPECT_EQ(ui.radioRtu->property("controlId").toInt(), 1001);
  EXPECT_EQ(ui.labelBaudRate->text(), "Baud Rate:");
  EXPECT_EQ(ui.labelParity->text(), "Parity:");
  EXPECT_EQ(ui.labelDataBits->text(), "Data Bits:");
  EXPECT_EQ(ui.labelStopBits->text(), "Stop Bits:");
  EXPECT_EQ(ui.comboBaudRate->property("controlId").toInt(), 1053);
  EXPECT_EQ(ui.comboParity->property("controlId").toInt(), 1005);
  EXPECT_EQ(ui.comboDataBits->property("controlId").toInt(), 1006);
  EXPECT_EQ(ui.comboStopBits->property("controlId").toInt(), 1007);
  EXPECT_EQ(Entries(ui.comboBaudRate),
            QStringList({"110", "300", "600", "1200", "2400", "4800", "9600", "14400", "19200", "38400",
                         "56000", "57600", "115200", "128000", "256000"}));
  EXPECT_EQ(Entries(ui.comboParity), QStringList({"ODD", "EVEN", "NONE"}));
  EXPECT_EQ(Entries(ui.comboDataBits), QStringList({"7", "8"}));
  EXPECT_EQ(Entries(ui.comboStopBits), QStringList({"1", "1.5", "2"}));

  EXPECT_TRUE(ui.radioRtu->isChecked());
  EXPECT_EQ(ui.comboParity->currentText(), "EVEN");
  EXPECT_EQ(ui.comboBaudRate->currentText(), "19200");
  EXPECT_EQ(ui.comboDataBits->currentText(), "8");
  EXPECT_EQ(ui.comboStopBits->currentText(), "1.5");
  Snapshot(dialog, "dialog161");

  CCommPortDlg slave(7, false, stored);
  EXPECT_EQ(slave.windowTitle(), "Setup Comm Port 7 (As Modbus Slave)");
}

TEST_F(ConnectGui, CommPortDialogTakesTheSelectionsAndTheProtocolClickAtOnce) {
  CommPortSettings stored;
  stored.nParity = 2;
  CCommPortDlg dialog(1, true, stored);
  Ui::CommPortDlg& ui = dialog.Form();
  ui.radioAscii->click();
  EXPECT_EQ(dialog.Settings().nProtocol, 0) << "the click sets the protocol before OK";
  ui.comboParity->setCurrentText("NONE");
  ui.comboBaudRate->setCurrentText("115200");
  ui.comboDataBits->setCurrentText("7");
  ui.comboStopBits->setCurrentText("2");
  EXPECT_EQ(dialog.Settings().nParity, 2) << "lists are taken on OK only";
  ui.buttonBox->button(QDialogButtonBox::Ok)->click();
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_EQ(dialog.Settings().nParity, 0);
  EXPECT_EQ(dialog.Settings().nBaudRate, 115200);
  EXPECT_EQ(dialog.Settings().nDataBits, 7);
  EXPECT_EQ(dialog.Settings().nStopBits, 2);
  ui.radioRtu->click();
  EXPECT_EQ(dialog.Settings().nProtocol, 1);
}

TEST_F(ConnectGui, StoredSettingsMatchingNoEntryStayUnselectedAndAreKept) {
  CommPortSettings odd;
  odd.nBaudRate = 12345;
  odd.nParity = 4;
  odd.nDataBits = 6;
  odd.nStopBits = 9;
  odd.nProtocol = 0;
  CCommPortDlg dialog(2, false, odd);
  Ui::CommPortDlg& ui = dialog.Form();
  EXPECT_EQ(ui.comboBaudRate->currentIndex(), -1);
  EXPECT_EQ(ui.comboParity->currentIndex(), -1);
  EXPECT_EQ(ui.comboDataBits->currentIndex(), -1);
  EXPECT_EQ(ui.comboStopBits->currentIndex(), -1);
  EXPECT_TRUE(ui.radioAscii->isChecked());
  dialog.accept();
  EXPECT_EQ(dialog.Settings().nBaudRate, 12345);
  EXPECT_EQ(dialog.Settings().nParity, 4);
  EXPECT_EQ(dialog.Settings().nDataBits, 6);
  EXPECT_EQ(dialog.Settings().nStopBits, 9);
}

TEST_F(ConnectGui, TcpDialogsShowTheirTextsAndRefuseNonIntegerPorts) {
  CTcpServerDlg server("plc7", 502);
  EXPECT_EQ(server.windowTitle(), "Connect to modbus/TCP Server");
  EXPECT_EQ(server.property("resourceId").toInt(), 165);
  EXPECT_EQ(server.Form().labelHost->text(), "Machine Name or IP Address");
  EXPECT_EQ(server.Form().labelPort->text(), "Service Port");
  EXPECT_EQ(server.Form().editHost->property("controlId").toInt(), 1054);
  EXPECT_EQ(server.Form().editPort->property("controlId").toInt(), 1055);
  EXPECT_EQ(server.Form().editHost->text(), "plc7");
  EXPECT_EQ(server.Form().editPort->text(), "502");
  Snapshot(server, "dialog165");

  QStringList warnings;
  server.m_fnWarn = [&](QWidget*, const QString& text) { warnings << text; };
  server.Form().editHost->setText("10.0.0.9");
  server.Form().editPort->setText("50x");
  server.accept();
  EXPECT_NE(server.result(), QDialog::Accepted);
  server.Form().editPort->setText("70000");
  server.accept();
  EXPECT_NE(server.result(), QDialog::Accepted);
  EXPECT_EQ(warnings, QStringList({"Please enter an integer.", "Please enter an integer between 1 and 65535."}));
  EXPECT_EQ(server.Host(), "plc7") << "nothing is taken from a refused OK";
  server.Form().editPort->setText("1502");
  server.accept();
  EXPECT_EQ(server.result(), QDialog::Accepted);
  EXPECT_EQ(server.Host(), "10.0.0.9");
  EXPECT_EQ(server.Port(), 1502);

  CTcpSlaveDlg slave(502);
  EXPECT_EQ(slave.windowTitle(), "Connect As modbus/TCP Slave");
  EXPECT_EQ(slave.property("resourceId").toInt(), 163);
  EXPECT_EQ(slave.Form().labelPort->text(), "Enter modbus/TCP Service Port");
  EXPECT_EQ(slave.Form().editPort->property("controlId").toInt(), 1004);
  Snapshot(slave, "dialog163");
  slave.m_fnWarn = [&](QWidget*, const QString& text) { warnings << text; };
  slave.Form().editPort->setText("");
  slave.accept();
  EXPECT_NE(slave.result(), QDialog::Accepted);
  EXPECT_EQ(warnings.size(), 3);
}

// The commands through the main window, with the dialogs answered by the test.
class ConnectCommands : public ::testing::Test {
 protected:
  void SetUp() override {
    App();
    m_frame = std::make_unique<CMainFrame>(m_app);
    m_commands = InstallModbusConnectCommands(*m_frame, m_app);
    m_app.SetHostUi(&m_host);
  }
  void TearDown() override {
    for (auto& slot : m_app.m_tcpMasters) {
      if (slot.hMaster > 0) CloseMasterConnection(slot.hMaster);
      slot.hMaster = -1;
    }
    m_frame.reset();
  }
  // Answers the next dialog: fills it in with `fill`, then OK or Cancel.
  void Answer(std::function<void(QDialog&)> fill, bool ok) {
    m_commands->m_fnRunDialog = [this, fill, ok](QDialog& dialog) {
      ++m_dialogs;
      if (fill) fill(dialog);
      if (ok) dialog.accept(); else dialog.reject();
      return dialog.result();
    };
  }

  CPlexmarApp m_app;
  CRecordingHost m_host;
  std::unique_ptr<CMainFrame> m_frame;
  std::shared_ptr<CModbusConnectCommands> m_commands;
  int m_dialogs = 0;
};

TEST_F(ConnectCommands, BusyPortsDisableBothOfTheirItems) {
  EXPECT_EQ(cmd::ID_CONNECT_MASTER_COMM1, 32793);
  EXPECT_EQ(cmd::ID_CONNECT_MASTER_TCP, 32802);
  EXPECT_EQ(cmd::ID_CONNECT_SLAVE_COMM1, 32803);
  EXPECT_EQ(cmd::ID_CONNECT_SLAVE_TCP, 32792);
  m_app.m_comm[2].hSlave = 4;  // COMM3 open as slave
  EXPECT_FALSE(m_frame->IsCommandEnabled(cmd::ID_CONNECT_MASTER_COMM1 + 2));
  EXPECT_FALSE(m_frame->IsCommandEnabled(cmd::ID_CONNECT_SLAVE_COMM1 + 2));
  EXPECT_TRUE(m_frame->IsCommandEnabled(cmd::ID_CONNECT_MASTER_COMM1 + 3));
  EXPECT_TRUE(m_frame->IsCommandEnabled(cmd::ID_CONNECT_SLAVE_COMM1 + 3));

  EXPECT_TRUE(m_frame->IsCommandEnabled(cmd::ID_CONNECT_SLAVE_TCP));
  m_app.m_hTcpSlave = 8050;
  EXPECT_FALSE(m_frame->IsCommandEnabled(cmd::ID_CONNECT_SLAVE_TCP));

  EXPECT_TRUE(m_frame->IsCommandEnabled(cmd::ID_CONNECT_MASTER_TCP));
  for (auto& slot : m_app.m_tcpMasters) slot.hMaster = 0;
  EXPECT_FALSE(m_frame->IsCommandEnabled(cmd::ID_CONNECT_MASTER_TCP));
  Answer({}, true);
  m_commands->OnMasterTcp();  // all 18 in use: no dialog
  EXPECT_EQ(m_dialogs, 0);
  for (auto& slot : m_app.m_tcpMasters) slot.hMaster = -1;
}

TEST_F(ConnectCommands, SlaveCommandStoresTheChosenSettingsAndMasterCancelStoresNothing) {
  ::setenv("PLEXMAR_COM6", "/nonexistent/tty", 1);
  m_app.m_comm[5].nParity = 2;
  Answer([](QDialog& d) { static_cast<CCommPortDlg&>(d).Form().comboParity->setCurrentText("NONE"); }, false);
  ASSERT_TRUE(m_frame->RunCommand(cmd::ID_CONNECT_MASTER_COMM1 + 5));
  EXPECT_EQ(m_app.m_comm[5].nParity, 2);

  Answer([](QDialog& d) {
    auto& ui = static_cast<CCommPortDlg&>(d).Form();
    EXPECT_EQ(d.windowTitle(), "Setup Comm Port 6 (As Modbus Slave)");
    ui.comboParity->setCurrentText("NONE");
    ui.radioAscii->click();
  }, true);
  ASSERT_TRUE(m_frame->RunCommand(cmd::ID_CONNECT_SLAVE_COMM1 + 5));
  EXPECT_EQ(m_app.m_comm[5].nParity, 0);
  EXPECT_EQ(m_app.m_comm[5].nProtocol, 0);
  EXPECT_EQ(m_app.m_comm[5].hSlave, -1) << "the device does not exist; silently not connected";
  EXPECT_TRUE(m_host.m_messages.empty());
  EXPECT_TRUE(m_frame->IsCommandEnabled(cmd::ID_CONNECT_SLAVE_COMM1 + 5));
  ::unsetenv("PLEXMAR_COM6");
}

TEST_F(ConnectCommands, MasterTcpCommandConnectsOrSaysWhy) {
  // Cancel: the slot stays free and nothing is said.
  Answer([](QDialog& d) { static_cast<CTcpServerDlg&>(d).Form().editHost->setText("10.1.1.1"); }, false);
  ASSERT_TRUE(m_frame->RunCommand(cmd::ID_CONNECT_MASTER_TCP));
  EXPECT_EQ(m_app.m_tcpMasters[0].hMaster, -1);
  EXPECT_EQ(m_app.m_tcpMasters[0].strHost, "");
  EXPECT_TRUE(m_host.m_messages.empty());

  auto enter = [this](std::string host, uint16_t port) {
    Answer([host, port](QDialog& d) {
      auto& ui = static_cast<CTcpServerDlg&>(d).Form();
      ui.editHost->setText(QString::fromStdString(host));
      ui.editPort->setText(QString::number(port));
    }, true);
    m_frame->RunCommand(cmd::ID_CONNECT_MASTER_TCP);
  };
  enter("no-such-host.invalid", 502);
  EXPECT_EQ(m_host.m_messages, std::vector<std::string>{"Invalid IP Address"});
  EXPECT_EQ(m_app.m_tcpMasters[0].strHost, "no-such-host.invalid") << "host and port are kept in the slot";

  enter("127.0.0.1", UnusedPort());
  EXPECT_EQ(m_host.m_messages.back(), "modbus/TCP Connection Failed");
  EXPECT_EQ(m_app.m_tcpMasters[0].hMaster, -1);

  CLoopbackListener listener;
  enter("127.0.0.1", listener.Port());
  EXPECT_EQ(m_host.m_messages.size(), 2u);
  EXPECT_NE(m_app.m_tcpMasters[0].hMaster, -1);
  EXPECT_EQ(m_app.m_tcpMasters[0].nPort, listener.Port());
  // The next command offers the next free slot, with its own stored values.
  Answer([](QDialog& d) {
    EXPECT_EQ(static_cast<CTcpServerDlg&>(d).Form().editPort->text(), "502");
  }, false);
  m_frame->RunCommand(cmd::ID_CONNECT_MASTER_TCP);
  EXPECT_EQ(m_dialogs, 5);
}

TEST_F(ConnectCommands, SlaveTcpCommandStartsTheServerOnTheEnteredPort) {
  const uint16_t port = UnusedPort();
  Answer([port](QDialog& d) {
    static_cast<CTcpSlaveDlg&>(d).Form().editPort->setText(QString::number(port));
  }, true);
  ASSERT_TRUE(m_frame->RunCommand(cmd::ID_CONNECT_SLAVE_TCP));
  EXPECT_EQ(m_app.m_nTcpSlavePort, port);
  EXPECT_EQ(m_app.m_hTcpSlave, 8050);
  EXPECT_FALSE(m_frame->IsCommandEnabled(cmd::ID_CONNECT_SLAVE_TCP));
  CloseSlaveConnection(8050);
}

}  // namespace
