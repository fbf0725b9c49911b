// ASCII lines into request processing. With bit 0 of the first byte the
// rest is taken as slave id and data unit and encoded as a correct line;
// otherwise it is fed as received characters.
#include <string>
#include <vector>

#include "FuzzTable.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzztable::DefineOnce();
  if (size == 0) return 0;
  const uint8_t flags = data[0];
  std::vector<uint8_t> line;
  if (flags & 1) {
    const std::string text = modbuswire::EncodeAsciiFrame({data + 1, size - 1});
    line.assign(text.begin(), text.end());
  } else {
    line.assign(data + 1, data + size);
  }
  if (line.size() > 520) line.resize(520);

  slavelink::SlavePort port;
  port.m_nOptions = (flags & 2) ? 1 : 0;
  slavelink::Reply reply;
  slavelink::HandleAsciiFrame(port, line, reply);
  fuzztable::CheckSerialAnswer(reply, false, line.data(), line.size());
  fuzztable::Require(port.m_nGoodMessages + port.m_nBadMessages <= 1);
  return 0;
}
