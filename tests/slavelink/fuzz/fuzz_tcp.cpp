// A Modbus/TCP byte stream, cut into receives, through request assembly and
// processing. Each receive is a length byte followed by that many bytes.
#include "FuzzTable.h"
#include "slavelink/TcpServer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzztable::DefineOnce();
  slavelink::MbapReceiver receiver;
  size_t at = 0;
  while (at < size) {
    size_t length = data[at++];
    if (length > size - at) length = size - at;
    // The first receive may be long: the header announces up to 65535 bytes.
    if (at == 1 && length == 255) length = size - at;
    const size_t take = std::min(length, receiver.Room());
    std::memcpy(receiver.Tail(), data + at, take);
    receiver.Received(take);
    at += length;

    const auto request = receiver.Request();
    if (request.empty()) continue;
    slavelink::Reply reply;
    slavelink::HandleTcpRequest(request, reply);
    receiver.Clear();
    fuzztable::Require(reply.size <= slavelink::kAnswerBufferSize);
    if (reply.size > 0) {
      // Identifiers come back, and the length field tells the truth.
      fuzztable::Require(reply.size >= 9);
      fuzztable::Require(std::memcmp(reply.bytes.data(), request.data(), 4) == 0);
      fuzztable::Require(modbuswire::GetU16BE(&reply.bytes[4]) + 6u == reply.size);
      fuzztable::Require(reply.bytes[6] == request[6]);
    }
  }
  return 0;
}
