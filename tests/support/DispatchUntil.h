// Hands the client toolkit's notifications to the program's callbacks, as
// the main window's queue does, until `done` says so or `ms` have passed.
#pragma once

#include <chrono>
#include <thread>

#include "clientkit/clientkit.h"

namespace testsupport {

template <class Done>
bool DispatchUntil(int ms, Done done) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (std::chrono::steady_clock::now() < end) {
    ClientDispatchNotifications();
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

}  // namespace testsupport
