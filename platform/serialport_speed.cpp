// Rates without a termios speed constant. In a file of their own because the
// kernel's termios2 header cannot share a translation unit with <termios.h>;
// using the kernel's own declaration keeps the ioctl's layout right.
#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <cstdint>

namespace serialport {

bool SetCustomBaudRate(int fd, uint32_t baud) {
  if (baud == 0) return false;
  struct termios2 tio;
  if (::ioctl(fd, TCGETS2, &tio) != 0) return false;
  tio.c_cflag &= ~static_cast<tcflag_t>(CBAUD);
  tio.c_cflag |= BOTHER;
  tio.c_ispeed = baud;
  tio.c_ospeed = baud;
  return ::ioctl(fd, TCSETS2, &tio) == 0;
}

}  // namespace serialport
