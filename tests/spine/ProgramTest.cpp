// The plexmar program as a process: registration words, a headless start and
// shutdown on SIGTERM.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

struct Outcome {
  int exitCode = -1;  // -1: killed or still running at the deadline
  std::string err;
};

class Program : public ::testing::Test {
 protected:
  void SetUp() override {
    m_binary = fs::path(PLEXMAR_BINARY_DIR) / "plexmar";
    if (!fs::exists(m_binary)) GTEST_SKIP() << "plexmar is not built";
    char pattern[] = "/tmp/plexmar-proc-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    m_home = pattern;
  }
  void TearDown() override {
    if (!m_home.empty()) fs::remove_all(m_home);
  }

  // Runs the program with a private home and no display. With `termAfterMs`
  // >= 0 it gets SIGTERM that long after it wrote `readyText` (or started).
  Outcome Run(const std::vector<std::string>& args, int termAfterMs = -1,
              const std::string& readyText = "") {
    int errPipe[2];
    if (pipe2(errPipe, O_CLOEXEC) != 0) return {};
    const pid_t pid = fork();
    if (pid == 0) {
      dup2(errPipe[1], 2);
      const int devnull = open("/dev/null", O_RDWR);
      dup2(devnull, 0);
      dup2(devnull, 1);
      unsetenv("DISPLAY");
      unsetenv("WAYLAND_DISPLAY");
      unsetenv("QT_QPA_PLATFORM");
      setenv("HOME", m_home.c_str(), 1);
      unsetenv("XDG_DATA_HOME");
      unsetenv("XDG_CONFIG_HOME");
      setenv("XDG_RUNTIME_DIR", m_home.c_str(), 1);
      std::vector<char*> argv{const_cast<char*>(m_binary.c_str())};
      for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      execv(m_binary.c_str(), argv.data());
      _exit(127);
    }
    close(errPipe[1]);
    Outcome outcome;
    const auto start = Clock::now();
    auto readyAt = readyText.empty() ? start : Clock::time_point::max();
    bool termSent = false;
    int status = 0;
    bool exited = false;
    while (!exited) {
      const auto now = Clock::now();
      if (now - start > std::chrono::seconds(30)) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        close(errPipe[0]);
        outcome.exitCode = -1;
        return outcome;
      }
      if (termAfterMs >= 0 && !termSent && now >= readyAt &&
          now - readyAt >= std::chrono::milliseconds(termAfterMs)) {
        kill(pid, SIGTERM);
        termSent = true;
      }
      pollfd p{errPipe[0], POLLIN, 0};
      if (poll(&p, 1, 20) > 0) {
        char buffer[4096];
        const ssize_t n = read(errPipe[0], buffer, sizeof buffer);
        if (n > 0) outcome.err.append(buffer, static_cast<size_t>(n));
        if (!readyText.empty() && readyAt == Clock::time_point::max() &&
            outcome.err.find(readyText) != std::string::npos)
          readyAt = Clock::now();
      }
      exited = waitpid(pid, &status, WNOHANG) == pid;
    }
    char buffer[4096];
    ssize_t n;
    while ((n = read(errPipe[0], buffer, sizeof buffer)) > 0) outcome.err.append(buffer, static_cast<size_t>(n));
    close(errPipe[0]);
    outcome.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return outcome;
  }

  fs::path Record() const {
    return m_home / ".local/share/plexmar/opc-servers/Norvell.Plexmar_Server.server";
  }
  std::string RecordText() const {
    std::ifstream in(Record());
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

  fs::path m_binary;
  fs::path m_home;
};

TEST_F(Program, RegServerRegistersAndExitsWithoutStartingTheWindowSystem) {
  for (const char* word : {"/regserver", "-REGSERVER"}) {
    fs::remove(Record());
    const Outcome outcome = Run({word});
    EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
    ASSERT_TRUE(fs::exists(Record())) << word;
    EXPECT_NE(RecordText().find("Executable=" + fs::canonical(m_binary).string() + "\n"),
              std::string::npos);
    // Qt never came up: no platform, no window.
    EXPECT_EQ(outcome.err.find("offscreen"), std::string::npos) << outcome.err;
  }
}

TEST_F(Program, UnregServerBeforeRegServerOnlyUnregisters) {
  ASSERT_EQ(Run({"-RegServer"}).exitCode, 0);
  ASSERT_TRUE(fs::exists(Record()));
  const Outcome outcome = Run({"UnregServer", "RegServer"});
  EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
  EXPECT_FALSE(fs::exists(Record()));
}

TEST_F(Program, ServiceInstallsAHeadlessUserUnit) {
  const Outcome outcome = Run({"-service"});
  EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
  const fs::path unit = m_home / ".config/systemd/user/plexmar.service";
  ASSERT_TRUE(fs::exists(unit));
  std::ifstream in(unit);
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_NE(text.str().find("ExecStart=\"" + fs::canonical(m_binary).string() + "\""), std::string::npos)
      << text.str();
  EXPECT_NE(text.str().find("QT_QPA_PLATFORM=offscreen"), std::string::npos);
}

TEST_F(Program, HeadlessStartRunsUntilSigtermAndShutsDownCleanly) {
  const Outcome outcome = Run({}, 1500, "running headless");
  EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
  EXPECT_NE(outcome.err.find("no display found; running headless on Qt's offscreen platform"),
            std::string::npos)
      << outcome.err;
  EXPECT_NE(outcome.err.find("SIGTERM received, shutting down"), std::string::npos) << outcome.err;
  // Start-up registered the server as it always does.
  EXPECT_TRUE(fs::exists(Record()));
}

}  // namespace
