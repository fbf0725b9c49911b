#include "platform/wintypes.h"

#include <ctime>

namespace {
// Seconds from 1601-01-01 (the FILETIME epoch) to 1970-01-01 (the Unix epoch).
constexpr uint64_t kEpochDifferenceSeconds = 11644473600ull;
constexpr uint64_t kTicksPerSecond = 10000000ull;  // 100 ns ticks
}  // namespace

FILETIME GetSystemTimeAsFileTime() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  // A clock set before 1601 cannot happen on a real system; clamp rather than wrap.
  const int64_t seconds = static_cast<int64_t>(now.tv_sec) + static_cast<int64_t>(kEpochDifferenceSeconds);
  const uint64_t ticks = seconds <= 0 ? 0
                                      : static_cast<uint64_t>(seconds) * kTicksPerSecond +
                                            static_cast<uint64_t>(now.tv_nsec) / 100;
  FILETIME result;
  result.dwLowDateTime = static_cast<uint32_t>(ticks);
  result.dwHighDateTime = static_cast<uint32_t>(ticks >> 32);
  return result;
}
