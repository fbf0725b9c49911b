#include "platform/serialport.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>

namespace serialport {

namespace {

// 0 for a rate without a speed constant.
speed_t StandardSpeed(uint32_t baud) {
  switch (baud) {
    case 50: return B50;
    case 75: return B75;
    case 110: return B110;
    case 134: return B134;
    case 150: return B150;
    case 200: return B200;
    case 300: return B300;
    case 600: return B600;
    case 1200: return B1200;
    case 1800: return B1800;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    case 230400: return B230400;
    case 460800: return B460800;
    case 500000: return B500000;
    case 576000: return B576000;
    case 921600: return B921600;
    case 1000000: return B1000000;
    default: return 0;
  }
}

}  // namespace

std::string DevicePath(int port) {
  const std::string variable = "PLEXMAR_COM" + std::to_string(port);
  if (const char* device = std::getenv(variable.c_str()); device != nullptr && *device != '\0') {
    return device;
  }
  return "/dev/ttyS" + std::to_string(port - 1);
}

int OpenDevice(const std::string& path) {
  return ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
}

bool ClaimLine(int fd) {
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) return false;
  if (!::isatty(fd)) {
    ::flock(fd, LOCK_UN);
    return false;
  }
  ::ioctl(fd, TIOCEXCL);
  ::tcflush(fd, TCIOFLUSH);
  return true;
}

void ReleaseLine(int fd) {
  ::tcflush(fd, TCIOFLUSH);
  ::ioctl(fd, TIOCNXCL);
}

bool ConfigureLine(int fd, const LineSettings& settings) {
  termios tio{};
  if (::tcgetattr(fd, &tio) != 0) return false;
  ::cfmakeraw(&tio);  // binary: no line editing, no translation, no echo
  tio.c_cflag |= CLOCAL | CREAD;

  tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE);
  switch (settings.dataBits) {
    case 5: tio.c_cflag |= CS5; break;
    case 6: tio.c_cflag |= CS6; break;
    case 7: tio.c_cflag |= CS7; break;
    case 8: tio.c_cflag |= CS8; break;
    default: return false;
  }

  tio.c_cflag &= ~static_cast<tcflag_t>(PARENB | PARODD | CMSPAR);
  tio.c_iflag &= ~static_cast<tcflag_t>(INPCK | IGNPAR | PARMRK);
  switch (settings.parity) {
    case 0: break;
    case 1: tio.c_cflag |= PARENB | PARODD; break;
    case 2: tio.c_cflag |= PARENB; break;
    case 3: tio.c_cflag |= PARENB | CMSPAR | PARODD; break;
    case 4: tio.c_cflag |= PARENB | CMSPAR; break;
    default: return false;
  }
  if (settings.parity != 0) tio.c_iflag |= INPCK;

  // Linux has no one-and-a-half stop bits; the nearest is two.
  switch (settings.stopBits) {
    case 0: tio.c_cflag &= ~static_cast<tcflag_t>(CSTOPB); break;
    case 1:
    case 2: tio.c_cflag |= CSTOPB; break;
    default: return false;
  }

  // Output waits for CTS; there is no DSR output flow control on Linux.
  if (settings.ctsFlow) {
    tio.c_cflag |= CRTSCTS;
  } else {
    tio.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS);
  }
  tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
  tio.c_cc[VMIN] = 0;
  tio.c_cc[VTIME] = 0;

  const speed_t speed = StandardSpeed(settings.baudRate);
  const bool custom = speed == 0;
  if (::cfsetispeed(&tio, custom ? B38400 : speed) != 0 || ::cfsetospeed(&tio, custom ? B38400 : speed) != 0) {
    return false;
  }
  if (::tcsetattr(fd, TCSANOW, &tio) != 0) return false;
  if (custom && !SetCustomBaudRate(fd, settings.baudRate)) return false;

  // DTR on while open; a pseudo-terminal has no modem lines, which is fine.
  int dtr = TIOCM_DTR;
  ::ioctl(fd, TIOCMBIS, &dtr);
  return true;
}

}  // namespace serialport
