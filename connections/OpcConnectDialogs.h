// The dialogs of the Connect menu's OPC commands: the machine to connect to
// (139) and the server list of a machine (140).
#pragma once

#include <QDialog>

#include <memory>
#include <string>
#include <vector>

namespace Ui {
class OpcRemoteDlg;
class OpcServerListDlg;
}  // namespace Ui

// Dialog 139, "OPC 2.0 Remote Connection": a machine name or address, which
// may also be host:port or an opc.tcp:// URL. Starts empty.
class COpcRemoteDlg : public QDialog {
  Q_OBJECT

 public:
  explicit COpcRemoteDlg(QWidget* parent = nullptr);
  ~COpcRemoteDlg() override;

  // The text entered, as OK left it.
  std::string Machine() const { return m_strMachine; }
  Ui::OpcRemoteDlg& Form() { return *m_ui; }

  void accept() override;

 private:
  std::unique_ptr<Ui::OpcRemoteDlg> m_ui;
  std::string m_strMachine;
};

// Dialog 140, the server list: the servers of a machine in enumeration order
// with the entry equal to the dialog's server name selected (none for an
// empty name). OK takes the selected entry's name; without a selection the
// name stays as it was. "Force OPC 1.0a connection" is kept but no
// connection looks at it.
class COpcServerListDlg : public QDialog {
  Q_OBJECT

 public:
  COpcServerListDlg(const std::string& machine, const std::vector<std::string>& servers,
                    const std::string& server = std::string(), QWidget* parent = nullptr);
  ~COpcServerListDlg() override;

  std::string Machine() const { return m_strMachine; }
  std::string Server() const { return m_strServer; }
  bool ForceOpc10a() const { return m_bForce10a; }
  Ui::OpcServerListDlg& Form() { return *m_ui; }

  void accept() override;

 private:
  std::unique_ptr<Ui::OpcServerListDlg> m_ui;
  std::string m_strMachine;
  std::string m_strServer;
  bool m_bForce10a = false;
};
