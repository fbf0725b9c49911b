// Baud rates without a termios speed constant. Kept apart because the
// kernel's termios2 header cannot share a translation unit with <termios.h>.
#pragma once

#include <cstdint>

namespace masterlink {
bool SetCustomBaudRate(int fd, uint32_t baud);
}
