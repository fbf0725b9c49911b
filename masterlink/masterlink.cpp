// The exported calls and the table of connections behind the handles.
//
// Handles count up from 1 and are never reused within a process, so that a
// caller holding the handle of a closed connection can never reach a newer
// one. A closed connection stays in the table until its last outcome has
// been taken, because its caller is still owed that reply.
#include "masterlink/masterlink.h"

#include <map>
#include <memory>
#include <mutex>

#include "masterlink/MasterConnection.h"
#include "masterlink/MasterTransport.h"

using masterlink::CMasterConnection;

namespace {

std::mutex g_tableMutex;
std::map<int32_t, std::shared_ptr<CMasterConnection>> g_connections;
int32_t g_nextHandle = 1;

int32_t ReserveHandle() {
  std::lock_guard lock(g_tableMutex);
  const int32_t handle = g_nextHandle;
  g_nextHandle = g_nextHandle == INT32_MAX ? 1 : g_nextHandle + 1;
  return handle;
}

void Register(int32_t handle, std::shared_ptr<CMasterConnection> connection) {
  std::lock_guard lock(g_tableMutex);
  g_connections[handle] = std::move(connection);
}

std::shared_ptr<CMasterConnection> Find(int32_t handle) {
  std::lock_guard lock(g_tableMutex);
  const auto it = g_connections.find(handle);
  return it == g_connections.end() ? nullptr : it->second;
}

// Forgets a closed connection once nobody is owed an outcome from it.
void ForgetIfDone(int32_t handle) {
  std::shared_ptr<CMasterConnection> connection;
  {
    std::lock_guard lock(g_tableMutex);
    const auto it = g_connections.find(handle);
    if (it == g_connections.end() || !it->second->IsClosed() || it->second->HasOutcomes()) return;
    connection = std::move(it->second);
    g_connections.erase(it);
  }
  // The last reference may go here, outside the table lock.
}

int32_t ConnectSerial(int32_t port, int32_t timeout, const MasterPortSettings* settings,
                      masterlink::SerialFraming framing) {
  if (port < 1 || port > 9 || settings == nullptr) return -1;
  auto transport = masterlink::OpenSerialTransport(port, framing, *settings);
  if (!transport) return -1;
  const int32_t handle = ReserveHandle();
  Register(handle, std::make_shared<CMasterConnection>(handle, std::move(transport), timeout));
  return handle;
}

}  // namespace

extern "C" {

int32_t ConnectRTU(int32_t nPort, int32_t nTimeout, const MasterPortSettings* pSettings) {
  return ConnectSerial(nPort, nTimeout, pSettings, masterlink::SerialFraming::Rtu);
}

int32_t ConnectASCII(int32_t nPort, int32_t nTimeout, const MasterPortSettings* pSettings) {
  return ConnectSerial(nPort, nTimeout, pSettings, masterlink::SerialFraming::Ascii);
}

int32_t ConnectTCP2(uint32_t nAddress, uint16_t nPort, const TcpConnectRecord* pRecord) {
  if (pRecord == nullptr) return -1;
  const int timeout = pRecord->dwTimeout > 0 && pRecord->dwTimeout < 600000
                          ? static_cast<int>(pRecord->dwTimeout)
                          : 2000;
  const int32_t handle = ReserveHandle();
  const UINT linkMessage = pRecord->nLinkMessage;
  auto linkChanged = [handle, linkMessage](bool up) {
    if (auto connection = Find(handle)) connection->Notify(linkMessage, up ? 1 : 0);
  };
  auto transport = masterlink::OpenTcpTransport(nAddress, nPort, timeout, linkChanged);
  if (!transport) return -1;
  auto connection = std::make_shared<CMasterConnection>(handle, std::move(transport), timeout);
  connection->Hook(pRecord->hNotifyWnd, pRecord->nRspMessage, 0);
  Register(handle, std::move(connection));
  return handle;
}

int32_t HookRspNotification(int32_t hConnection, HWND hWnd, UINT nMessage, LPARAM lParam) {
  const auto connection = Find(hConnection);
  if (!connection || connection->IsClosed()) return MLERR_NOT_CONNECTED;
  connection->Hook(hWnd, nMessage, lParam);
  return 0;
}

int32_t PollMODBUS(int32_t hConnection, const ModbusRequestHeader* pHeader) {
  if (pHeader == nullptr) return MLERR_BAD_REQUEST;
  if (pHeader->nFunction < 1 || pHeader->nFunction > 4) return MLERR_BAD_REQUEST;
  const auto connection = Find(hConnection);
  if (!connection) return MLERR_NOT_CONNECTED;
  return connection->Submit(*pHeader, nullptr);
}

int32_t WriteMODBUS(int32_t hConnection, const ModbusRequestHeader* pHeader, const uint16_t* pData) {
  if (pHeader == nullptr || pData == nullptr) return MLERR_BAD_REQUEST;
  if (pHeader->nFunction != 15 && pHeader->nFunction != 16) return MLERR_BAD_REQUEST;
  const auto connection = Find(hConnection);
  if (!connection) return MLERR_NOT_CONNECTED;
  return connection->Submit(*pHeader, pData);
}

int32_t MODBUSResponse(int32_t hConnection, ModbusRequestHeader* pHeader, uint16_t* pWords,
                       int32_t nWords) {
  const auto connection = Find(hConnection);
  if (!connection) {
    if (pHeader != nullptr) *pHeader = ModbusRequestHeader{};
    return MLERR_NO_RESPONSE;
  }
  const int32_t status = connection->TakeOutcome(pHeader, pWords, nWords);
  ForgetIfDone(hConnection);
  return status;
}

int32_t CloseMasterConnection(int32_t hConnection) {
  const auto connection = Find(hConnection);
  if (!connection || connection->IsClosed()) return MLERR_NOT_CONNECTED;
  connection->Close();
  ForgetIfDone(hConnection);
  return 0;
}

}  // extern "C"
