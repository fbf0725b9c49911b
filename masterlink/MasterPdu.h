// The master's side of the Modbus data unit: building read and write
// requests and checking and unpacking the replies. Framing (RTU, ASCII,
// MBAP) is platform/modbuswire's business; this layer sees only the bytes
// from the function code on.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "masterlink/masterlink.h"

namespace masterlink {

// 0 when the header names a request this library sends, else MLERR_BAD_REQUEST.
int32_t ValidateRequest(const ModbusRequestHeader& header);

// The request data unit. Writes take nCount words from `data`.
std::vector<uint8_t> BuildRequestPdu(const ModbusRequestHeader& header, const uint16_t* data);

// Length of the complete reply data unit for the request, judged from the
// bytes received so far: 0 while more bytes are needed to tell. An exception
// reply is 2 bytes; a reply with a different function code is reported as
// its bytes so far (the caller finds the mismatch when it decodes).
size_t ExpectedReplyPduSize(const ModbusRequestHeader& header, std::span<const uint8_t> pdu);

// Checks a reply data unit against its request. Returns 0, MLERR_EXCEPTION(n)
// or MLERR_MISMATCH. On success of a read, `words` receives nCount values.
int32_t DecodeReplyPdu(const ModbusRequestHeader& header, std::span<const uint8_t> pdu,
                       std::vector<uint16_t>& words);

}  // namespace masterlink
