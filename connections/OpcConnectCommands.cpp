#include "connections/OpcConnectCommands.h"

#include "clientkit/clientkit.h"
#include "connections/OpcConnectDialogs.h"
#include "connections/OpcConnections.h"
#include "core/MainFrame.h"
#include "core/PlexmarApp.h"
#include "resources/CommandIds.h"

COpcConnectCommands::COpcConnectCommands(CPlexmarApp& app, QWidget* dialogParent)
    : m_fnRunDialog([](QDialog& dialog) { return dialog.exec(); }), m_app(app), m_pDialogParent(dialogParent) {}

void COpcConnectCommands::OnLocal() { ShowServerList(std::string()); }

void COpcConnectCommands::OnRemote() {
  COpcRemoteDlg dialog(m_pDialogParent);
  if (m_fnRunDialog(dialog) != QDialog::Accepted) return;
  ShowServerList(dialog.Machine());
}

void COpcConnectCommands::ShowServerList(const std::string& machine) {
  const std::vector<std::string> servers = opcconn::EnumerateServers(machine);
  COpcServerListDlg dialog(machine, servers, std::string(), m_pDialogParent);
  if (m_fnRunDialog(dialog) != QDialog::Accepted) return;
  opcconn::ConnectServerLink(m_app, dialog.Machine(), dialog.Server());
}

std::shared_ptr<COpcConnectCommands> InstallOpcConnectCommands(CMainFrame& frame, CPlexmarApp& app) {
  auto commands = std::make_shared<COpcConnectCommands>(app, &frame);
  frame.SetCommandHandler(cmd::ID_CONNECT_OPC_LOCAL, [commands] { commands->OnLocal(); });
  frame.SetCommandHandler(cmd::ID_CONNECT_OPC_REMOTE, [commands] { commands->OnRemote(); });
  // Data changes and lost connections are noted on the toolkit's threads
  // and handed over here, so that tags are only ever touched on this thread.
  CMainFrameCore& core = frame.Core();
  core.SetMessageHandler(kClientNotifyMessage, [](WPARAM, LPARAM) {
    ClientDispatchNotifications();
    return LRESULT{0};
  });
  ClientSetNotifyWindow(core.Window(), kClientNotifyMessage);
  return commands;
}
