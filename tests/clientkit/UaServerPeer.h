// A node-opcua server (ua_server.js) run by a test: started on a port, its
// stdout lines collected on a thread of their own, stopped with the object.
#pragma once

#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class CUaServerPeer {
 public:
  static std::string Modules() { return std::string(PLEXMAR_SOURCE_DIR) + "/tests/opcua/peer/node_modules"; }
  static bool Available() { return ::access((Modules() + "/node-opcua").c_str(), R_OK) == 0; }

  CUaServerPeer(uint16_t port, std::string name = "Plexmar Test Server", int benchItems = 0)
      : m_port(port), m_name(std::move(name)), m_bench(benchItems) {}
  ~CUaServerPeer() { Stop(); }

  // True once the server says it listens (node-opcua may first make its
  // certificate, which takes a while).
  bool Start(int timeoutMs = 60000) {
    int out[2], in[2];
    if (::pipe(out) != 0 || ::pipe(in) != 0) return false;
    m_pid = ::fork();
    if (m_pid == 0) {
      ::prctl(PR_SET_PDEATHSIG, SIGKILL);
      ::dup2(out[1], 1);
      ::dup2(in[0], 0);
      ::close(out[0]);
      ::close(in[1]);
      ::setenv("NODE_PATH", Modules().c_str(), 1);
      const std::string script = std::string(PLEXMAR_SOURCE_DIR) + "/tests/clientkit/ua_server.js";
      const std::string port = std::to_string(m_port), bench = std::to_string(m_bench);
      ::execlp("node", "node", script.c_str(), port.c_str(), m_name.c_str(), bench.c_str(), nullptr);
      ::_exit(127);
    }
    ::close(out[1]);
    ::close(in[0]);
    m_stdin = in[1];
    m_reader = std::thread([this, fd = out[0]] {
      std::string pending;
      char buffer[4096];
      for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0) break;
        pending.append(buffer, static_cast<size_t>(n));
        size_t nl;
        while ((nl = pending.find('\n')) != std::string::npos) {
          std::lock_guard<std::mutex> lock(m_mutex);
          m_lines.push_back(pending.substr(0, nl));
          pending.erase(0, nl + 1);
          m_changed.notify_all();
        }
      }
      ::close(fd);
    });
    return WaitFor("READY", timeoutMs);
  }

  void Stop() {
    if (m_pid > 0) {
      ::kill(m_pid, SIGKILL);
      ::waitpid(m_pid, nullptr, 0);
      m_pid = -1;
    }
    if (m_stdin >= 0) ::close(m_stdin), m_stdin = -1;
    if (m_reader.joinable()) m_reader.join();
  }

  void Send(const std::string& line) {
    const std::string text = line + "\n";
    if (m_stdin >= 0) (void)!::write(m_stdin, text.data(), text.size());
  }

  // Waits for a line starting with `prefix` that was not waited for before.
  bool WaitFor(const std::string& prefix, int timeoutMs, std::string* line = nullptr) {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
      m_used.resize(m_lines.size());
      for (size_t i = 0; i < m_lines.size(); ++i) {
        if (!m_used[i] && m_lines[i].rfind(prefix, 0) == 0) {
          if (line) *line = m_lines[i];
          m_used[i] = true;
          return true;
        }
      }
      return false;
    });
  }
  std::vector<std::string> Lines() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_lines;
  }
  uint16_t Port() const { return m_port; }
  pid_t Pid() const { return m_pid; }

 private:
  uint16_t m_port;
  std::string m_name;
  int m_bench;
  pid_t m_pid = -1;
  int m_stdin = -1;
  std::thread m_reader;
  std::mutex m_mutex;
  std::condition_variable m_changed;
  std::vector<std::string> m_lines;
  std::vector<bool> m_used;
};
