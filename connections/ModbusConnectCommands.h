// The Modbus commands of the Connect menu: master and slave on COMM1..COMM9,
// master to a Modbus/TCP server and slave as a Modbus/TCP server, with their
// enabling rules.
#pragma once

#include <functional>
#include <memory>

class QDialog;
class QWidget;
class CPlexmarApp;
class CMainFrame;

class CModbusConnectCommands {
 public:
  CModbusConnectCommands(CPlexmarApp& app, QWidget* dialogParent);

  void OnMasterComm(int port);
  void OnSlaveComm(int port);
  void OnMasterTcp();
  void OnSlaveTcp();

  bool IsCommEnabled(int port) const;
  bool IsMasterTcpEnabled() const;
  bool IsSlaveTcpEnabled() const;

  // Runs a dialog modally and gives its result; tests fill the dialog in and
  // press its buttons instead.
  std::function<int(QDialog&)> m_fnRunDialog;

 private:
  void OnComm(int port, bool asMaster);

  CPlexmarApp& m_app;
  QWidget* m_pDialogParent;
};

// Registers the commands with the main window under their menu ids.
std::shared_ptr<CModbusConnectCommands> InstallModbusConnectCommands(CMainFrame& frame, CPlexmarApp& app);
