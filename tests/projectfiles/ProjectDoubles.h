// Recorders for the project file tests: the OPC client toolkit (linked in
// place of the real one), the libraries that close connections, the forms'
// template and the host UI.
#pragma once

#include <string>
#include <vector>

#include "core/AppFramework.h"
#include "core/HostUi.h"

namespace projectdoubles {

// Every call of the OPC client toolkit that a load makes, in order. A server
// named "Down" cannot be connected; "NoGroup" connects but gives no group.
std::vector<std::string>& ClientCalls();
// No calls recorded; server handles count from 70 again.
void ResetClient();

class Libraries : public ISystemLibraries {
 public:
  void SocketsStartup() override {}
  void SocketsCleanup() override {}
  bool RegisterOpcServer(const char*, const char*, const char*, const char*) override { return true; }
  bool UnregisterOpcServer(const char*, const char*) override { return true; }
  bool RegisterOpcServerService(const char*) override { return true; }
  void InitOpcServer(const char*, int32_t) override {}
  void SetWriteCallback(WriteCallback, int32_t) override {}
  void ShutdownOpcServer() override {}
  void CloseSlaveConnection(int32_t h) override { calls.push_back("CloseSlave " + std::to_string(h)); }
  void CloseMasterConnection(int32_t h) override { calls.push_back("CloseMaster " + std::to_string(h)); }
  void ClientDisconnectServer(int32_t s) override { calls.push_back("Disconnect " + std::to_string(s)); }
  std::vector<std::string> calls;
};

class Forms : public IDocumentTemplate {
 public:
  bool NewDocument() override { return true; }
  bool OpenDocumentFile(const std::string& path) override {
    calls.push_back("Open " + path);
    return true;
  }
  int DocumentCount() const override { return static_cast<int>(paths.size()); }
  bool SaveDocument(int index, std::string& path) override {
    calls.push_back("Save " + std::to_string(index));
    path = paths[static_cast<size_t>(index)];
    return !path.empty();
  }
  void CloseAllDocuments() override { calls.push_back("CloseAll"); }
  std::vector<std::string> paths;  // "" = the operator cancels its save
  std::vector<std::string> calls;
};

class Host : public IHostUi {
 public:
  void MessageBox(const std::string& text) override { messages.push_back(text); }
  int ShowForm(const std::string&) override { return 0; }
  int HideForm(const std::string&) override { return 0; }
  std::vector<std::string> messages;
};

}  // namespace projectdoubles
