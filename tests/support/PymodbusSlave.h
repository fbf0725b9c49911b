// tests/masterlink/pymodbus_slave.py as a Modbus/TCP slave on a loopback
// port, in a child process that ends with the object. Point n of each table
// holds what that script's head says (holding register n: 1000 + n).
#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

namespace testsupport {

class PymodbusSlave {
 public:
  static bool Available() { return std::system("/usr/bin/python3 -c 'import pymodbus' 2>/dev/null") == 0; }

  explicit PymodbusSlave(uint16_t port) {
    const std::string script = std::string(PLEXMAR_SOURCE_DIR) + "/tests/masterlink/pymodbus_slave.py";
    const std::string portText = std::to_string(port);
    m_pid = fork();
    if (m_pid == 0) {
      execl("/usr/bin/python3", "python3", script.c_str(), "tcp", portText.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
  }
  PymodbusSlave(const PymodbusSlave&) = delete;
  PymodbusSlave& operator=(const PymodbusSlave&) = delete;
  ~PymodbusSlave() {
    if (m_pid <= 0) return;
    kill(m_pid, SIGTERM);
    waitpid(m_pid, nullptr, 0);
  }
  bool Started() const { return m_pid > 0; }

 private:
  pid_t m_pid = -1;
};

}  // namespace testsupport
