// The built program run as the end-to-end tests run it: a copy in a folder
// of its own (what lies beside build/plexmar is never used), started headless
// with that folder as its home and working directory, standard error kept in
// stderr.log there, and stopped with SIGTERM (SIGKILL after five seconds).
// The OPC UA endpoint is off unless the environment given turns it on.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace testsupport {

class HeadlessProgram {
 public:
  using Environment = std::vector<std::pair<std::string, std::string>>;

  HeadlessProgram() = default;
  HeadlessProgram(const HeadlessProgram&) = delete;
  HeadlessProgram& operator=(const HeadlessProgram&) = delete;
  ~HeadlessProgram() {
    Stop();
    if (!m_dir.empty()) std::filesystem::remove_all(m_dir);
  }

  static std::filesystem::path Built() { return std::filesystem::path(PLEXMAR_BINARY_DIR) / "plexmar"; }

  // Copies the program into a new folder /tmp/<prefix>-XXXXXX; false when the
  // program is not built or the copy fails.
  bool Prepare(const std::string& prefix) {
    if (!std::filesystem::exists(Built())) return false;
    std::string pattern = "/tmp/" + prefix + "-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) return false;
    m_dir = pattern;
    std::error_code error;
    return std::filesystem::copy_file(Built(), Binary(), error);
  }

  void Start(const Environment& environment = {}) {
    m_pid = fork();
    if (m_pid != 0) return;
    const int log = open((m_dir / "stderr.log").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    dup2(log, 2);
    const int devnull = open("/dev/null", O_RDWR);
    dup2(devnull, 0);
    dup2(devnull, 1);
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    unsetenv("QT_QPA_PLATFORM");
    setenv("HOME", m_dir.c_str(), 1);
    setenv("XDG_RUNTIME_DIR", m_dir.c_str(), 1);
    setenv("PLEXMAR_OPCUA_PORT", "0", 1);
    for (const auto& [name, value] : environment) setenv(name.c_str(), value.c_str(), 1);
    if (chdir(m_dir.c_str()) != 0) _exit(126);
    execl(Binary().c_str(), Binary().c_str(), nullptr);
    _exit(127);
  }

  // With its OPC UA endpoint on the loopback port `opcPort`.
  void StartWithEndpoint(uint16_t opcPort, Environment environment = {}) {
    environment.insert(environment.begin(), {{"PLEXMAR_OPCUA_PORT", std::to_string(opcPort)},
                                             {"PLEXMAR_OPCUA_BIND", "127.0.0.1"}});
    Start(environment);
  }

  void Stop() {
    if (m_pid <= 0) return;
    kill(m_pid, SIGTERM);
    int status = 0;
    for (int i = 0; i < 100 && waitpid(m_pid, &status, WNOHANG) == 0; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    if (waitpid(m_pid, &status, WNOHANG) == 0) {
      kill(m_pid, SIGKILL);
      waitpid(m_pid, &status, 0);
    }
    m_pid = -1;
  }

  std::string Log() const {
    std::ifstream in(m_dir / "stderr.log");
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  const std::filesystem::path& Dir() const { return m_dir; }
  std::filesystem::path Binary() const { return m_dir / "plexmar"; }
  pid_t Pid() const { return m_pid; }

 private:
  std::filesystem::path m_dir;
  pid_t m_pid = -1;
};

}  // namespace testsupport
