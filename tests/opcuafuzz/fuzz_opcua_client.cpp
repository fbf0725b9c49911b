// Server answers to the client toolkit: the input is a ScriptedServer script
// (Acknowledge and OpenSecureChannel frames, response bodies, stray bytes).
// The program's calls run as a program makes them: discovery of both kinds,
// a connection, browsing, a group with items that are activated, read,
// written, refreshed and removed, the notes dispatched, and the disconnect.
// Nothing may crash, leak or hang; what the toolkit hands the program must
// be sound (texts that fit their buffers, valid VARIANTs).
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "ScriptedServer.h"
#include "clientkit/clientkit.h"

namespace {

void Require(bool condition) {
  if (!condition) std::abort();
}

int g_references[4];
int g_data = 0;

void OnData(int32_t, int32_t, void* reference, VARIANT* value, FILETIME, uint32_t quality) {
  Require(reference >= static_cast<void*>(&g_references[0]) && reference <= static_cast<void*>(&g_references[3]));
  Require(quality == 0 || quality == 0x40 || quality == 0xC0);
  CVariant copy(*value);  // a VARIANT the program can copy and clear
  ++g_data;
}
void OnShutdown(int32_t) {}

void Names(int32_t server, int32_t kind) {
  const int32_t count = ClientBrowseCount(server, kind);
  Require(count >= 0);
  for (int32_t i = 0; i < count && i < 50; ++i) {
    char name[64];
    ClientBrowseName(server, i, name, sizeof name);
    Require(std::strlen(name) < sizeof name);
    if (kind == 2) {
      char id[64];
      ClientGetItemId(server, name, id, sizeof id);
      Require(std::strlen(id) < sizeof id);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  opcuatest::ScriptedServer server(opcuatest::ScriptedServer::Parse(data, size));

  char name[128];
  const int32_t found = ClientCountServers(1, "opc.tcp://fuzz.invalid:4840");
  for (int32_t i = 0; i < found && i < 20; ++i) {
    ClientGetServerName(i, name, sizeof name);
    Require(std::strlen(name) < sizeof name);
  }
  ClientCountServers(0, "fuzz.invalid:4841");

  const int32_t h = ClientConnectServer("", "opc.tcp://fuzz.invalid:4840", 0);
  if (h >= 0) {
    ClientSetDataCallback(h, OnData);
    ClientSetShutdownCallback(h, OnShutdown);
    if (ClientBrowseTo(h, "")) {
      Names(h, 1);
      Names(h, 2);
    }
    if (ClientBrowseTo(h, "Tags.Line1")) Names(h, 2);
    int32_t rate = 0, unused = 0;
    const int32_t g = ClientAddGroup(h, "fuzz", &rate, &unused);
    const int32_t a = ClientAddItem(h, g, "ns=1;s=Count");
    const int32_t b = ClientAddItem(h, g, "Curve");
    ClientActivateItem(h, g, a, &g_references[0]);
    ClientActivateItem(h, g, b, &g_references[1]);
    // The publish thread takes the publish answers; give it a moment.
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(30);
    while (server.PublishAnswersLeft() != 0 && std::chrono::steady_clock::now() < until)
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    VARIANT value;
    VariantInit(&value);
    FILETIME stamp{};
    uint32_t quality = 0;
    if (ClientReadItem(h, g, a, &value, &stamp, &quality)) Require(quality == 0 || quality == 0x40 || quality == 0xC0);
    VariantClear(&value);
    value.vt = VT_R8;
    value.dblVal = 12.5;
    ClientWriteItem(h, g, a, &value, 0);
    ClientWriteItem(h, g, b, &value, 0);
    ClientRefreshGroup(h, g, 0);
    ClientDispatchNotifications();
    ClientRemoveItem(h, g, a);
    ClientDisconnectServer(h);
  }
  ClientDispatchNotifications();
  return 0;
}
