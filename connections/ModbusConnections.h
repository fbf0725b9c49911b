// Opening Modbus connections as master and slave with the settings that the
// application keeps: what the Connect menu commands do once their dialog has
// been confirmed, and what the project restore does without a dialog. Also
// the menu enabling rules. Qt-free.
#pragma once

#include <cstdint>
#include <string>

#include "masterlink/masterlink.h"
#include "slavelink/slavelink.h"

class CPlexmarApp;
struct CommPortSettings;

namespace modbusconn {

// Message number of the master library's reply, and the second number given
// with Modbus/TCP connections (not handled by the main window).
constexpr UINT kMsgMasterResponse = WM_USER + 3;
constexpr UINT kMsgMasterLink = WM_USER + 4;
// Posted by the slave library when its Modbus/TCP server cannot listen.
constexpr UINT kMsgTcpSlaveBindFailed = WM_USER + 2;
// The slave library's RTU end-of-frame timer of COMn is 100 + n - 1.
constexpr int kFirstSlaveTimerId = 100;

// The records the two libraries take for a port, in their own field orders.
MasterPortSettings MasterRecordOf(const CommPortSettings& settings);
SlavePortSettings SlaveRecordOf(const CommPortSettings& settings);

// COMn (1..9) as slave / as master with the port's stored settings; the
// handle (or -1) is stored. Failures are silent.
void OpenCommSlave(CPlexmarApp& app, int port);
void OpenCommMaster(CPlexmarApp& app, int port);
// The Modbus/TCP server on the stored service port.
void OpenTcpSlave(CPlexmarApp& app);

// Host text to IPv4 address (network byte order).
enum class EHostLookup { kFound, kLookupFailed, kNoAddress };
EHostLookup ResolveHost(const std::string& host, uint32_t& addressNetOrder);

// Connects TCP master slot `slot` (0..17) to its stored host and port. Tells
// the operator through the application's host UI when the host is not valid
// ("Invalid IP Address", "Invalid Machine Name") or the connection fails
// ("modbus/TCP Connection Failed"). True when connected.
bool ConnectTcpMaster(CPlexmarApp& app, int slot);

// Enabling of the Connect menu items.
bool IsCommPortFree(const CPlexmarApp& app, int port);
bool IsTcpSlaveStartable(const CPlexmarApp& app);
// The lowest free TCP master slot, -1 when all 18 are in use.
int FirstFreeTcpMasterSlot(const CPlexmarApp& app);

}  // namespace modbusconn
