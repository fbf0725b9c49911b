// masterlink: the Modbus master library. Opens serial (RTU, ASCII) and
// Modbus/TCP master connections and carries out one read or write at a time
// on each, in a worker thread per connection. Every accepted request ends in
// exactly one notification message to the hooked window, whatever happened
// on the wire; MODBUSResponse then hands over the outcome.
//
// Point numbers in request headers are 1-based; the protocol address sent is
// the point number minus 1.
#pragma once

#include <cstdint>

#include "platform/msgwindow.h"

extern "C" {

// Serial settings passed to ConnectRTU / ConnectASCII. Field order and widths
// are fixed by the callers; the reserved fields are passed as 0.
struct MasterPortSettings {
  uint32_t dwBaudRate;
  uint8_t byParity;    // 0 none, 1 odd, 2 even, 3 mark, 4 space
  uint8_t byStopBits;  // 0 one, 1 one and a half, 2 two
  uint8_t byDataBits;  // 7 or 8
  uint8_t byUnused;    // left unset by callers
  uint32_t dwReserved1;
  uint32_t dwReserved2;
  uint8_t byReserved3;
  uint8_t byReserved4;
};

// Connect record of ConnectTCP2.
struct TcpConnectRecord {
  HWND hNotifyWnd;        // receives the response message
  uint32_t nRspMessage;   // posted once per accepted request
  uint32_t nLinkMessage;  // posted when the connection drops (lParam 0) or is
                          // re-established (lParam 1); 0 = never
  uint16_t wMaxPending;   // requests that may be in flight; only 1 is supported
  uint32_t dwTimeout;     // milliseconds to wait for a reply or a connect
};

// Request header, 6 bytes. nAddress is the 1-based point number.
struct ModbusRequestHeader {
  uint8_t nSlaveId;
  uint8_t nFunction;  // 1..4 read, 15 write coils, 16 write registers
  uint16_t nAddress;
  uint16_t nCount;
};
static_assert(sizeof(ModbusRequestHeader) == 6, "the request header is 6 bytes");

// Largest point counts of one request, as the protocol allows.
#define MASTERLINK_MAX_READ_BITS 2000
#define MASTERLINK_MAX_READ_REGISTERS 125
#define MASTERLINK_MAX_WRITE_BITS 1968
#define MASTERLINK_MAX_WRITE_REGISTERS 123

// Failure codes. 0 is success. None of them is 256, which the exchange core
// uses for "no master connection".
#define MLERR_TIMEOUT 1          // no complete reply within the time value
#define MLERR_BAD_CHECKSUM 2     // reply failed its CRC (RTU) or LRC (ASCII)
#define MLERR_MISMATCH 3         // a reply that does not belong to the request
#define MLERR_CONNECTION_LOST 4  // port or socket closed or dropped meanwhile
#define MLERR_NOT_CONNECTED 5    // unknown or closed handle
#define MLERR_BUSY 6             // a request is already in flight on the handle
#define MLERR_BAD_REQUEST 7      // function, count or slave id not allowed
#define MLERR_NO_RESPONSE 8      // MODBUSResponse with no outcome waiting
#define MLERR_EXCEPTION_BASE 0x1000  // + exception code sent by the slave
#define MLERR_EXCEPTION(code) (MLERR_EXCEPTION_BASE + (code))

// Opens COMn (1..9) as RTU or ASCII master. nTimeout is the reply time-out in
// milliseconds (<= 0 means 2000). Returns the connection handle or -1.
int32_t ConnectRTU(int32_t nPort, int32_t nTimeout, const MasterPortSettings* pSettings);
int32_t ConnectASCII(int32_t nPort, int32_t nTimeout, const MasterPortSettings* pSettings);

// Connects to a Modbus/TCP server. nAddress is the IPv4 address in network
// byte order, nPort the service port. Returns the handle or -1 when the server
// cannot be reached within the record's time-out.
int32_t ConnectTCP2(uint32_t nAddress, uint16_t nPort, const TcpConnectRecord* pRecord);

// Sets where the response message of a connection goes: message nMessage is
// posted to hWnd with the handle as wParam and lParam as given. 0 on success,
// MLERR_NOT_CONNECTED for an unknown handle.
int32_t HookRspNotification(int32_t hConnection, HWND hWnd, UINT nMessage, LPARAM lParam);

// Starts a read (functions 1..4). 0 = accepted, the message will follow;
// anything else is a failure code and no message follows.
int32_t PollMODBUS(int32_t hConnection, const ModbusRequestHeader* pHeader);

// Starts a write (15 or 16) of pHeader->nCount words (bits as 0 / non-zero).
// Same results as PollMODBUS. A write to slave 0 is a broadcast: it completes
// as soon as it has been sent.
int32_t WriteMODBUS(int32_t hConnection, const ModbusRequestHeader* pHeader, const uint16_t* pData);

// Takes the oldest outcome of the connection: the header of its request, for a
// successful read up to nWords values (one word per point, bits as 0/1), and
// the result: 0 or a failure code. MLERR_NO_RESPONSE (header zeroed) when
// nothing is waiting. Outcomes of a closed connection stay available here
// until taken.
int32_t MODBUSResponse(int32_t hConnection, ModbusRequestHeader* pHeader, uint16_t* pWords,
                       int32_t nWords);

// Closes the connection. A request in flight completes with
// MLERR_CONNECTION_LOST and still posts its message. 0, or MLERR_NOT_CONNECTED.
int32_t CloseMasterConnection(int32_t hConnection);

}  // extern "C"
