#include "connections/ModbusConnections.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include "core/HostUi.h"
#include "core/PlexmarApp.h"

namespace modbusconn {

namespace {

CommPortSettings& Port(CPlexmarApp& app, int port) { return app.m_comm.at(static_cast<size_t>(port - 1)); }

void Tell(CPlexmarApp& app, const char* text) {
  if (IHostUi* ui = app.HostUi()) ui->MessageBox(text);
}

}  // namespace

MasterPortSettings MasterRecordOf(const CommPortSettings& settings) {
  MasterPortSettings record{};
  record.dwBaudRate = static_cast<uint32_t>(settings.nBaudRate);
  record.byParity = settings.nParity;
  record.byStopBits = settings.nStopBits;
  record.byDataBits = settings.nDataBits;
  return record;
}

SlavePortSettings SlaveRecordOf(const CommPortSettings& settings) {
  SlavePortSettings record{};
  record.baudRate = static_cast<uint32_t>(settings.nBaudRate);
  record.dataBits = settings.nDataBits;
  record.parity = settings.nParity;
  record.stopBits = settings.nStopBits;
  return record;
}

void OpenCommSlave(CPlexmarApp& app, int port) {
  if (port < 1 || port > CPlexmarApp::kCommPorts) return;
  CommPortSettings& settings = Port(app, port);
  const SlavePortSettings record = SlaveRecordOf(settings);
  settings.hSlave = OpenConnection(app.MainWindow(), port, settings.nProtocol,
                                   kFirstSlaveTimerId + port - 1, &record);
}

void OpenCommMaster(CPlexmarApp& app, int port) {
  if (port < 1 || port > CPlexmarApp::kCommPorts) return;
  CommPortSettings& settings = Port(app, port);
  const MasterPortSettings record = MasterRecordOf(settings);
  settings.hMaster = settings.nProtocol == 1 ? ConnectRTU(port, settings.nMasterTimeout, &record)
                                             : ConnectASCII(port, settings.nMasterTimeout, &record);
  // Hooked whatever the connect gave; the library refuses an unknown handle.
  HookRspNotification(settings.hMaster, app.MainWindow(), kMsgMasterResponse, 0);
}

void OpenTcpSlave(CPlexmarApp& app) {
  SetTCPServicePort(static_cast<uint16_t>(app.m_nTcpSlavePort));
  app.m_hTcpSlave = OpenTCPConnection(app.MainWindow(), kMsgTcpSlaveBindFailed);
}

EHostLookup ResolveHost(const std::string& host, uint32_t& addressNetOrder) {
  in_addr dotted{};
  // Strict dotted quads only: the older conversion also took "10.1" or
  // "0x7f.1", and could not tell 255.255.255.255 from a failure.
  if (inet_pton(AF_INET, host.c_str(), &dotted) == 1) {
    addressNetOrder = dotted.s_addr;
    return EHostLookup::kFound;
  }
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const int rc = getaddrinfo(host.c_str(), nullptr, &hints, &found);
  if (rc == EAI_NODATA || rc == EAI_ADDRFAMILY) return EHostLookup::kNoAddress;
  if (rc != 0) return EHostLookup::kLookupFailed;
  EHostLookup result = EHostLookup::kNoAddress;
  for (const addrinfo* ai = found; ai != nullptr; ai = ai->ai_next) {
    if (ai->ai_family == AF_INET && ai->ai_addr != nullptr) {
      addressNetOrder = reinterpret_cast<const sockaddr_in*>(ai->ai_addr)->sin_addr.s_addr;
      result = EHostLookup::kFound;
      break;
    }
  }
  freeaddrinfo(found);
  return result;
}

bool ConnectTcpMaster(CPlexmarApp& app, int slot) {
  if (slot < 0 || slot >= CPlexmarApp::kTcpMasterSlots) return false;
  TcpMasterSlot& entry = app.m_tcpMasters[static_cast<size_t>(slot)];
  uint32_t address = 0;
  switch (ResolveHost(entry.strHost, address)) {
    case EHostLookup::kLookupFailed:
      Tell(app, "Invalid IP Address");
      return false;
    case EHostLookup::kNoAddress:
      Tell(app, "Invalid Machine Name");
      return false;
    case EHostLookup::kFound:
      break;
  }
  // A port outside 1..65535 would be cut to 16 bits and reach some other
  // service; it cannot be connected.
  if (entry.nPort >= 1 && entry.nPort <= 65535) {
    const TcpConnectRecord record{app.MainWindow(), kMsgMasterResponse, kMsgMasterLink, 1,
                                  static_cast<uint32_t>(app.m_nTcpMasterTimeout)};
    entry.hMaster = ConnectTCP2(address, static_cast<uint16_t>(entry.nPort), &record);
  } else {
    entry.hMaster = -1;
  }
  if (entry.hMaster == -1) {
    Tell(app, "modbus/TCP Connection Failed");
    return false;
  }
  return true;
}

bool IsCommPortFree(const CPlexmarApp& app, int port) {
  if (port < 1 || port > CPlexmarApp::kCommPorts) return false;
  const CommPortSettings& settings = app.m_comm[static_cast<size_t>(port - 1)];
  return settings.hSlave == -1 && settings.hMaster == -1;
}

bool IsTcpSlaveStartable(const CPlexmarApp& app) { return app.m_hTcpSlave == -1; }

int FirstFreeTcpMasterSlot(const CPlexmarApp& app) {
  for (int i = 0; i < CPlexmarApp::kTcpMasterSlots; ++i) {
    if (app.m_tcpMasters[static_cast<size_t>(i)].hMaster == -1) return i;
  }
  return -1;
}

}  // namespace modbusconn
