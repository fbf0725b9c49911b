// The calls of start-up and shutdown into the libraries the program links.
#include <csignal>

#include "clientkit/clientkit.h"
#include "core/AppFramework.h"
#include "masterlink/masterlink.h"
#include "serverkit/serverkit.h"
#include "slavelink/slavelink.h"

namespace {

class CLinkedLibraries final : public ISystemLibraries {
 public:
  void SocketsStartup() override {
    // A peer that drops a Modbus/TCP connection must cost a failed send, not
    // the process: writes to a closed socket report EPIPE instead.
    std::signal(SIGPIPE, SIG_IGN);
  }
  void SocketsCleanup() override {}
  bool RegisterOpcServer(const char* clsid, const char* progId, const char* description,
                         const char* executablePath) override {
    return serverkit::WriteRegistration(clsid, progId, description, executablePath);
  }
  bool UnregisterOpcServer(const char* clsid, const char* progId) override {
    return serverkit::RemoveRegistration(clsid, progId);
  }
  bool RegisterOpcServerService(const char* progId) override {
    return serverkit::InstallServiceUnit(progId);
  }
  void InitOpcServer(const char* clsid, int32_t rate) override { ::InitOpcServer(clsid, rate); }
  void SetWriteCallback(WriteCallback callback, int32_t mode) override {
    ::SetWriteCallback(callback, mode);
  }
  void ShutdownOpcServer() override { ::ShutdownOpcServer(); }
  void CloseSlaveConnection(int32_t handle) override { ::CloseSlaveConnection(handle); }
  void CloseMasterConnection(int32_t handle) override { ::CloseMasterConnection(handle); }
  void ClientDisconnectServer(int32_t server) override { ::ClientDisconnectServer(server); }
};

}  // namespace

ISystemLibraries& LinkedLibraries() {
  static CLinkedLibraries libraries;
  return libraries;
}
