// Serial port set-up shared by the Modbus libraries: which device "COMn"
// names, opening and claiming it, and putting it into raw mode at the line
// settings a link asks for. Free functions on a file descriptor; the caller
// owns the descriptor and closes it.
#pragma once

#include <cstdint>
#include <string>

namespace serialport {

// The device that "COMn" names: $PLEXMAR_COMn when set, else /dev/ttyS<n-1>.
std::string DevicePath(int port);

// Opens the device read-write and non-blocking, close-on-exec, without making
// it our controlling terminal. -1 on failure.
int OpenDevice(const std::string& path);

// Takes the line for ourselves: refuses a device that is no terminal or that
// another process holds (advisory lock), keeps later opens out, and discards
// whatever was pending. False when the line cannot be had; the descriptor is
// then left as it was.
bool ClaimLine(int fd);

// Undoes ClaimLine before the descriptor is closed: drops pending input and
// output (so the close does not wait for a stuck line) and lifts the
// exclusive-open flag, which would otherwise outlive us on a line others
// hold open.
void ReleaseLine(int fd);

struct LineSettings {
  uint32_t baudRate = 9600;  // any rate; those without a speed constant go through the driver directly
  uint8_t dataBits = 8;      // 5..8
  uint8_t parity = 0;        // 0 none, 1 odd, 2 even, 3 mark, 4 space
  uint8_t stopBits = 0;      // 0 one, 1 one and a half, 2 two
  bool ctsFlow = false;      // output waits for CTS
};

// Raw binary mode (no echo, no translation, no software flow control, reads
// that return at once) at the given settings, with DTR raised. False when
// the line does not take them or a value is out of range: a link must not
// run at settings other than those asked for.
bool ConfigureLine(int fd, const LineSettings& settings);

// Sets a rate that has no termios speed constant (14400, 56000, 128000 ...)
// through the kernel's termios2. False for 0 or when the driver refuses.
bool SetCustomBaudRate(int fd, uint32_t baud);

}  // namespace serialport
