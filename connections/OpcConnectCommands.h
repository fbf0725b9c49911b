// The OPC commands of the Connect menu: "&Local" lists the servers of this
// machine, "&Remote" asks for a machine first; choosing a server from the
// list connects to it. Also where the client toolkit's data changes come in:
// they are posted to the main window and delivered on its thread.
#pragma once

#include <functional>
#include <memory>
#include <string>

class QDialog;
class QWidget;
class CPlexmarApp;
class CMainFrame;

class COpcConnectCommands {
 public:
  COpcConnectCommands(CPlexmarApp& app, QWidget* dialogParent);

  void OnLocal();
  void OnRemote();
  // The server list step: enumerates `machine`, shows the list and, on OK,
  // connects to the chosen server.
  void ShowServerList(const std::string& machine);

  // Runs a dialog modally and gives its result; tests answer it instead.
  std::function<int(QDialog&)> m_fnRunDialog;

 private:
  CPlexmarApp& m_app;
  QWidget* m_pDialogParent;
};

// Registers the commands under their menu ids and routes the client
// toolkit's notifications through the main window's message queue.
std::shared_ptr<COpcConnectCommands> InstallOpcConnectCommands(CMainFrame& frame, CPlexmarApp& app);
