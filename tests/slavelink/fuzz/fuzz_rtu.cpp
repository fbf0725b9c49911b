// RTU frames into request processing. The first input byte selects the
// protocol option and whether the frame gets a correct CRC appended, so that
// the fuzzer reaches the handlers behind the check as well as the check.
#include <vector>

#include "FuzzTable.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzztable::DefineOnce();
  if (size == 0) return 0;
  const uint8_t flags = data[0];
  std::vector<uint8_t> frame(data + 1, data + size);
  if (frame.size() > 520) frame.resize(520);  // the link's buffer
  if (flags & 1) modbuswire::AppendCrc(frame);

  slavelink::SlavePort port;
  port.m_nOptions = (flags & 2) ? 1 : 0;
  slavelink::Reply reply;
  slavelink::HandleRtuFrame(port, frame, reply);
  fuzztable::CheckSerialAnswer(reply, true, frame.data(), frame.size());
  // A frame is counted once, as good or as bad.
  fuzztable::Require(port.m_nGoodMessages + port.m_nBadMessages == 1);
  return 0;
}
