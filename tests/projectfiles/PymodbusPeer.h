// pymodbus as a Modbus/TCP master for the project file's end-to-end tests.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

namespace {

// Runs pymodbus as a TCP master against 127.0.0.1:port; the script's last
// printed line is returned.
inline std::string Pymodbus(uint16_t port, const std::string& body) {
  const std::string script =
      "import sys, time\n"
      "from pymodbus.client import ModbusTcpClient\n"
      "c = ModbusTcpClient('127.0.0.1', port=" + std::to_string(port) + ")\n"
      "ok = False\n"
      "for _ in range(50):\n"
      "    if c.connect():\n"
      "        ok = True\n"
      "        break\n"
      "    time.sleep(0.1)\n"
      "if not ok:\n"
      "    print('no connection'); sys.exit(0)\n"
      "def unit(f, *a, **k):\n"
      "    try:\n"
      "        return f(*a, slave=1, **k)\n"
      "    except TypeError:\n"
      "        return f(*a, device_id=1, **k)\n" + body + "c.close()\n";
  char path[] = "/tmp/plexmar-pymodbus-XXXXXX";
  const int fd = mkstemp(path);
  if (fd < 0) return "no script";
  (void)!write(fd, script.data(), script.size());
  close(fd);
  const std::string command = std::string("/usr/bin/python3 ") + path + " 2>&1 | tail -1";
  std::string out;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char buffer[512];
    while (fgets(buffer, sizeof buffer, pipe)) out = buffer;
    pclose(pipe);
  }
  unlink(path);
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
  return out;
}

}  // namespace
