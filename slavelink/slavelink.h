/* slavelink: a Modbus slave in a shared library.
 *
 * The host lends the library arrays of 16-bit words (data blocks), each mapped
 * onto a range of 1-based Modbus point numbers of one point type for one
 * slave id. Remote masters read and write those words over serial ports
 * COM1..COM9 (RTU or ASCII) and over one Modbus/TCP server.
 *
 * Plain C: usable from C, C++ and Python's ctypes with this header alone.
 * Library threads (serial readers, the TCP server) load and store each lent
 * word whole; the host keeps every lent array alive until its block is
 * removed, and closes every connection before it frees the arrays.
 */
#ifndef SLAVELINK_SLAVELINK_H
#define SLAVELINK_SLAVELINK_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(__GNUC__)
#define SLAVELINK_API __attribute__((visibility("default")))
#else
#define SLAVELINK_API
#endif

/* A window: where the library posts notifications and owns RTU end-of-frame
 * timers. Opaque here; a null window means "no window". */
struct MessageTarget;

/* Point types, named by the Modbus function code that reads them. */
enum {
  SLAVELINK_COIL_STATUS = 1,
  SLAVELINK_INPUT_STATUS = 2,
  SLAVELINK_HOLDING_REGISTER = 3,
  SLAVELINK_INPUT_REGISTER = 4
};

enum { SLAVELINK_PROTOCOL_RTU = 1, SLAVELINK_PROTOCOL_ASCII = 2 };

/* The Modbus/TCP server's connection handle. */
enum { SLAVELINK_TCP_HANDLE = 8050 };

/* Serial port settings for OpenConnection, read once. Natural alignment:
 * 20 bytes, offsets 0, 4, 5, 6, 8, 12, 16, 17. */
typedef struct SlavePortSettings {
  uint32_t baudRate;      /* bits per second; also selects the RTU end-of-frame gap */
  uint8_t dataBits;       /* 5 to 8 */
  uint8_t parity;         /* 0 none, 1 odd, 2 even, 3 mark, 4 space */
  uint8_t stopBits;       /* 0 one, 1 one and a half, 2 two */
  uint32_t ctsFlow;       /* bit 0: output waits for CTS */
  uint32_t dsrFlow;       /* bit 0: output waits for DSR */
  uint8_t preSendDelay;   /* ms between raising RTS and sending */
  uint8_t postSendDelay;  /* ms between the end of sending and dropping RTS */
} SlavePortSettings;

/* (slave id, point type, 1-based point number, new value), once per block a
 * remote master wrote into, on the library thread that handled the request. */
typedef void (*SlaveWriteCallback)(uint8_t slaveId, uint8_t pointType, uint16_t point, uint16_t value);
/* (connection handle, log position where the run starts, run length), after
 * every run of bytes appended to a connection's traffic log. */
typedef void (*SlaveBufferCallback)(int32_t handle, uint16_t start, uint16_t length);

/* 516. */
SLAVELINK_API uint16_t DLL_Revision(void);

/* Opens COM<port> (1..9) as a slave link; protocol 1 = RTU, other = ASCII.
 * With a window, RTU frames are ended by timer `timerId` of that window;
 * without one, by the reader thread. Returns the connection handle or -1. */
SLAVELINK_API int32_t OpenConnection(struct MessageTarget* window, int32_t port, int32_t protocol,
                                     int32_t timerId, const SlavePortSettings* settings);

/* Starts the Modbus/TCP server: 8050, or -1 when it is already running. A
 * failure to listen is posted to `window` as `failureMessage` (0, 0). */
SLAVELINK_API int32_t OpenTCPConnection(struct MessageTarget* window, uint32_t failureMessage);

/* The TCP port of the next OpenTCPConnection (502 by default). Returns 1. */
SLAVELINK_API int32_t SetTCPServicePort(uint16_t port);

/* 1, or 0 when the handle is not recognised. */
SLAVELINK_API int32_t CloseSlaveConnection(int32_t handle);

/* Non-zero options make serial links double the quantity of functions 3, 4
 * and 16 above point 5000. 1, or 0 when the handle is not recognised. */
SLAVELINK_API int32_t SetProtocolOptions(int32_t handle, uint32_t options);

/* Block handle 1..250, or 0 when the table is full. `data` holds `count`
 * words and stays the host's. */
SLAVELINK_API int32_t DefineDataBlock(uint8_t slaveId, uint8_t pointType, uint16_t startPoint,
                                      uint16_t count, uint16_t* data);

/* 1, or 0 when the handle is outside 1..250. */
SLAVELINK_API int32_t RemoveDataBlock(int32_t block);

/* Sets the active flag of every entry of the slave id. Serial links answer a
 * slave id only while one of its blocks is active. */
SLAVELINK_API void ActivateSlaveId(uint8_t slaveId, int32_t active);

/* Posts `message` (0, block handle) to `window` after a remote write into the
 * block. 1, or 0 when the handle is outside 1..250. */
SLAVELINK_API int32_t EnableDoWriteNotification(struct MessageTarget* window, int32_t block,
                                                int32_t enable, uint32_t message);

/* Both return 1; a null function switches the callback off. */
SLAVELINK_API int32_t EnableCallback(SlaveWriteCallback callback);
SLAVELINK_API int32_t EnableBufferCallback(SlaveBufferCallback callback);

/* Stores the good and bad message counts (null pointers are skipped); a
 * non-zero reset zeroes them afterwards. 0, or 256 for an unknown handle. */
SLAVELINK_API uint16_t SlaveStatus(int32_t handle, int32_t* goodMessages, int32_t* badMessages,
                                   int32_t reset);

/* Copies `count` traffic log entries from `start` (0..1023) on, wrapping at
 * 1024: a received byte is its value + 256, a sent byte its value. Returns
 * the number copied, or 0. */
SLAVELINK_API int32_t ReadDebugData(int32_t handle, uint16_t* destination, int32_t start,
                                    int32_t count);

/* The window procedure of the TCP server's hidden window; the host does not
 * call it. */
SLAVELINK_API intptr_t MBAPWndProc(struct MessageTarget* window, uint32_t message, uintptr_t wParam,
                                   intptr_t lParam);

#ifdef __cplusplus
}
#endif

#endif /* SLAVELINK_SLAVELINK_H */
