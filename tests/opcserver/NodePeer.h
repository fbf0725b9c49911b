// A node-opcua script run as a child process: its standard output read line
// by line with a time-out, its standard input written to.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

class NodePeer {
 public:
  // Runs `node <script> <args...>` with node-opcua from the peer folder.
  explicit NodePeer(const std::vector<std::string>& args) {
    int in[2], out[2];
    if (::pipe(in) != 0 || ::pipe(out) != 0) return;
    m_pid = ::fork();
    if (m_pid == 0) {
      ::dup2(in[0], 0);
      ::dup2(out[1], 1);
      ::close(in[1]);
      ::close(out[0]);
      const std::string modules = std::string(PLEXMAR_SOURCE_DIR) + "/tests/opcua/peer/node_modules";
      ::setenv("NODE_PATH", modules.c_str(), 1);
      std::vector<std::string> all{"node", std::string(PLEXMAR_SOURCE_DIR) + "/tests/opcserver/peer.js"};
      all.insert(all.end(), args.begin(), args.end());
      std::vector<char*> argv;
      for (auto& a : all) argv.push_back(a.data());
      argv.push_back(nullptr);
      ::execvp("node", argv.data());
      ::_exit(127);
    }
    ::close(in[0]);
    ::close(out[1]);
    m_in = in[1];
    m_out = out[0];
  }
  ~NodePeer() {
    if (m_in >= 0) ::close(m_in);
    if (m_out >= 0) ::close(m_out);
    if (m_pid > 0) {
      ::kill(m_pid, SIGKILL);
      ::waitpid(m_pid, nullptr, 0);
    }
  }
  bool started() const { return m_pid > 0; }

  // The next line, or "" after `timeoutMs` or at the end of output.
  std::string Line(int timeoutMs = 30000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
      const size_t nl = m_buffer.find('\n');
      if (nl != std::string::npos) {
        std::string line = m_buffer.substr(0, nl);
        m_buffer.erase(0, nl + 1);
        return line;
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
      if (left <= 0) return std::string();
      pollfd p{m_out, POLLIN, 0};
      if (::poll(&p, 1, static_cast<int>(left)) <= 0) continue;
      char chunk[4096];
      const ssize_t n = ::read(m_out, chunk, sizeof chunk);
      if (n <= 0) return std::string();
      m_buffer.append(chunk, static_cast<size_t>(n));
    }
  }
  // Lines up to the end of output, skipping node-opcua's own chatter.
  std::vector<std::string> Lines(int timeoutMs = 60000) {
    std::vector<std::string> lines;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
      if (left <= 0) break;
      std::string line = Line(static_cast<int>(left));
      if (line.empty() && Finished()) break;
      if (!line.empty()) lines.push_back(line);
    }
    return lines;
  }
  // The next line that starts with `prefix`.
  std::string Expect(const std::string& prefix, int timeoutMs = 30000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
      if (left <= 0) return std::string();
      std::string line = Line(static_cast<int>(left));
      if (line.rfind(prefix, 0) == 0 || line.rfind("error", 0) == 0) return line;
      if (line.empty() && Finished()) return std::string();
    }
  }
  void Send(const std::string& line) {
    const std::string all = line + "\n";
    [[maybe_unused]] ssize_t n = ::write(m_in, all.data(), all.size());
  }

 private:
  bool Finished() {
    pollfd p{m_out, POLLIN, 0};
    if (::poll(&p, 1, 0) <= 0) return false;
    if (!(p.revents & POLLIN)) return (p.revents & POLLHUP) != 0;
    char chunk[4096];
    const ssize_t n = ::read(m_out, chunk, sizeof chunk);
    if (n <= 0) return true;
    m_buffer.append(chunk, static_cast<size_t>(n));
    return false;
  }

  pid_t m_pid = -1;
  int m_in = -1;
  int m_out = -1;
  std::string m_buffer;
};
