// Any bytes as what one client sends the OPC UA server: Hello, OpenSecureChannel
// and MSG chunks, in pieces, through the server's connection without a socket.
// The item table holds tags of the types a plant has (the names the recorded
// node-opcua session reads and writes), and writes reach a write callback
// that takes numbers and refuses texts. Nothing may crash or leak, and
// whatever the server answers must be frames of the sizes it agreed to.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "platform/variant.h"
#include "serverkit/UaServer.h"
#include "serverkit/serverkit.h"

namespace {

void Require(bool condition) {
  if (!condition) std::abort();
}

void OnWrite(int32_t, VARIANT* value, HRESULT* result) {
  *result = value->vt == VT_BSTR ? OPC_E_UNKNOWNITEMID : S_OK;
}

void MakeTags() {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_BOOL;
  v.boolVal = VARIANT_TRUE;
  CreateServerTag("Flag", v, 0xC0, 1);
  v.vt = VT_I2;
  v.iVal = -12;
  CreateServerTag("Small", v, 0x40, 1);
  v.vt = VT_I4;
  v.lVal = 123456;
  CreateServerTag("Count", v, 0xC0, 1);
  v.vt = VT_R4;
  v.fltVal = 2.5f;
  CreateServerTag("Level", v, 0xC0, 0);
  v.vt = VT_R8;
  v.dblVal = 1013.25;
  CreateServerTag("Pressure", v, 0x00, 1);
  v.vt = VT_UI1;
  v.bVal = 200;
  CreateServerTag("Raw", v, 0xC0, 1);
  const OLECHAR text[] = {'P', 'u', 'm', 'p', ' ', '1', 0};
  v.vt = VT_BSTR;
  v.bstrVal = SysAllocString(text);
  CreateServerTag("Label", v, 0xC0, 1);
  VariantClear(&v);
  v.vt = VT_ARRAY | VT_R8;
  v.parray = SafeArrayCreateVector(VT_R8, 0, 4);
  for (int32_t i = 0; i < 4; ++i) {
    double x = i + 1;
    SafeArrayPutElement(v.parray, &i, &x);
  }
  CreateServerTag("Curve", v, 0xC0, 1);
  VariantClear(&v);
}

// The server's answers are whole frames, none larger than the 65536 bytes
// of a chunk either way.
void CheckFrames(const std::vector<uint8_t>& out) {
  size_t pos = 0;
  while (pos + 8 <= out.size()) {
    const uint32_t size = out[pos + 4] | out[pos + 5] << 8 | out[pos + 6] << 16 | static_cast<uint32_t>(out[pos + 7]) << 24;
    Require(size >= 8 && size <= 65536);
    Require(std::memcmp(&out[pos], "ACK", 3) == 0 || std::memcmp(&out[pos], "ERR", 3) == 0 ||
            std::memcmp(&out[pos], "OPN", 3) == 0 || std::memcmp(&out[pos], "MSG", 3) == 0);
    pos += size;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static serverkit::ua::Server* server = [] {
    setenv("PLEXMAR_OPCUA_PORT", "0", 1);
    MakeTags();
    SetWriteCallback(OnWrite, 0);
    return new serverkit::ua::Server();
  }();
  // The answers are kept up to a bound, as a check that costs little.
  const std::vector<uint8_t> answers = server->FeedUnconnected(data, size, 1u << 20);
  if (answers.size() < (1u << 20)) CheckFrames(answers);
  return 0;
}
