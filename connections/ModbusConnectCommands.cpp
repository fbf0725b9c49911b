#include "connections/ModbusConnectCommands.h"

#include "connections/ModbusConnectDialogs.h"
#include "connections/ModbusConnections.h"
#include "core/MainFrame.h"
#include "core/PlexmarApp.h"
#include "resources/CommandIds.h"

CModbusConnectCommands::CModbusConnectCommands(CPlexmarApp& app, QWidget* dialogParent)
    : m_fnRunDialog([](QDialog& dialog) { return dialog.exec(); }), m_app(app), m_pDialogParent(dialogParent) {}

void CModbusConnectCommands::OnComm(int port, bool asMaster) {
  if (port < 1 || port > CPlexmarApp::kCommPorts) return;
  CommPortSettings& settings = m_app.m_comm[static_cast<size_t>(port - 1)];
  CCommPortDlg dialog(port, asMaster, settings, m_pDialogParent);
  if (m_fnRunDialog(dialog) != QDialog::Accepted) return;
  const CommPortSettings& chosen = dialog.Settings();
  settings.nProtocol = chosen.nProtocol;
  settings.nBaudRate = chosen.nBaudRate;
  settings.nDataBits = chosen.nDataBits;
  settings.nStopBits = chosen.nStopBits;
  settings.nParity = chosen.nParity;
  if (asMaster)
    modbusconn::OpenCommMaster(m_app, port);
  else
    modbusconn::OpenCommSlave(m_app, port);
}

void CModbusConnectCommands::OnMasterComm(int port) { OnComm(port, true); }
void CModbusConnectCommands::OnSlaveComm(int port) { OnComm(port, false); }

void CModbusConnectCommands::OnMasterTcp() {
  const int slot = modbusconn::FirstFreeTcpMasterSlot(m_app);
  if (slot < 0) return;
  TcpMasterSlot& entry = m_app.m_tcpMasters[static_cast<size_t>(slot)];
  CTcpServerDlg dialog(entry.strHost, entry.nPort, m_pDialogParent);
  if (m_fnRunDialog(dialog) != QDialog::Accepted) return;
  entry.strHost = dialog.Host();
  entry.nPort = dialog.Port();
  modbusconn::ConnectTcpMaster(m_app, slot);
}

void CModbusConnectCommands::OnSlaveTcp() {
  CTcpSlaveDlg dialog(m_app.m_nTcpSlavePort, m_pDialogParent);
  if (m_fnRunDialog(dialog) != QDialog::Accepted) return;
  m_app.m_nTcpSlavePort = dialog.Port();
  modbusconn::OpenTcpSlave(m_app);
}

bool CModbusConnectCommands::IsCommEnabled(int port) const { return modbusconn::IsCommPortFree(m_app, port); }
bool CModbusConnectCommands::IsMasterTcpEnabled() const {
  return modbusconn::FirstFreeTcpMasterSlot(m_app) >= 0;
}
bool CModbusConnectCommands::IsSlaveTcpEnabled() const { return modbusconn::IsTcpSlaveStartable(m_app); }

std::shared_ptr<CModbusConnectCommands> InstallModbusConnectCommands(CMainFrame& frame, CPlexmarApp& app) {
  auto commands = std::make_shared<CModbusConnectCommands>(app, &frame);
  // The handlers share the commands; the frame's command table keeps them alive.
  for (int port = 1; port <= CPlexmarApp::kCommPorts; ++port) {
    frame.SetCommandHandler(
        cmd::ID_CONNECT_MASTER_COMM1 + port - 1, [commands, port] { commands->OnMasterComm(port); },
        [commands, port] { return commands->IsCommEnabled(port); });
    frame.SetCommandHandler(
        cmd::ID_CONNECT_SLAVE_COMM1 + port - 1, [commands, port] { commands->OnSlaveComm(port); },
        [commands, port] { return commands->IsCommEnabled(port); });
  }
  frame.SetCommandHandler(cmd::ID_CONNECT_MASTER_TCP, [commands] { commands->OnMasterTcp(); },
                          [commands] { return commands->IsMasterTcpEnabled(); });
  frame.SetCommandHandler(cmd::ID_CONNECT_SLAVE_TCP, [commands] { commands->OnSlaveTcp(); },
                          [commands] { return commands->IsSlaveTcpEnabled(); });
  return commands;
}
