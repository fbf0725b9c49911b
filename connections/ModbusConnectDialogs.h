// The three dialogs of the Connect menu's Modbus commands: the serial port
// settings (161), the Modbus/TCP server to connect to as master (165) and the
// service port of our own Modbus/TCP server (163). Each works on copies of the
// settings and hands them back after OK.
#pragma once

#include <QDialog>

#include <functional>
#include <memory>
#include <string>

#include "core/PlexmarApp.h"

class QLineEdit;
namespace Ui {
class CommPortDlg;
class TcpServerDlg;
class TcpSlaveDlg;
}  // namespace Ui

// Shows a validation message while a dialog stays open. Tests replace it.
using DialogWarning = std::function<void(QWidget* parent, const QString& text)>;
DialogWarning DefaultDialogWarning();

// Dialog 161: protocol, baud rate, parity, data bits and stop bits of COMMn.
class CCommPortDlg : public QDialog {
  Q_OBJECT

 public:
  CCommPortDlg(int port, bool asMaster, const CommPortSettings& settings, QWidget* parent = nullptr);
  ~CCommPortDlg() override;

  // The settings as the dialog leaves them: the protocol follows the radio
  // buttons at once; the lists are taken on OK, and a list without a
  // selection keeps the stored value.
  const CommPortSettings& Settings() const { return m_settings; }
  Ui::CommPortDlg& Form() { return *m_ui; }

  void accept() override;

 private:
  std::unique_ptr<Ui::CommPortDlg> m_ui;
  CommPortSettings m_settings;
};

// Dialog 165: host and service port of a Modbus/TCP server.
class CTcpServerDlg : public QDialog {
  Q_OBJECT

 public:
  CTcpServerDlg(const std::string& host, int32_t port, QWidget* parent = nullptr);
  ~CTcpServerDlg() override;

  std::string Host() const { return m_strHost; }
  int32_t Port() const { return m_nPort; }
  Ui::TcpServerDlg& Form() { return *m_ui; }
  DialogWarning m_fnWarn = DefaultDialogWarning();

  void accept() override;

 private:
  std::unique_ptr<Ui::TcpServerDlg> m_ui;
  std::string m_strHost;
  int32_t m_nPort;
};

// Dialog 163: the service port of our Modbus/TCP server.
class CTcpSlaveDlg : public QDialog {
  Q_OBJECT

 public:
  explicit CTcpSlaveDlg(int32_t port, QWidget* parent = nullptr);
  ~CTcpSlaveDlg() override;

  int32_t Port() const { return m_nPort; }
  Ui::TcpSlaveDlg& Form() { return *m_ui; }
  DialogWarning m_fnWarn = DefaultDialogWarning();

  void accept() override;

 private:
  std::unique_ptr<Ui::TcpSlaveDlg> m_ui;
  int32_t m_nPort;
};

// The integer exchange of the dialogs: a whole number within [min, max], or
// a message and the focus back on the field. False when refused.
bool TakePortField(QLineEdit* edit, int32_t& value, const DialogWarning& warn, QWidget* parent);
