#include "core/SignalQuit.h"

#include <fcntl.h>
#include <unistd.h>

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>

namespace {

int g_pipe[2] = {-1, -1};
struct sigaction g_oldTerm {};
struct sigaction g_oldInt {};

void OnSignal(int signal) {
  const int saved = errno;
  const unsigned char byte = static_cast<unsigned char>(signal);
  // Non-blocking: a full pipe already holds a wake-up.
  [[maybe_unused]] ssize_t written = write(g_pipe[1], &byte, 1);
  errno = saved;
}

}  // namespace

CSignalQuit::CSignalQuit(std::function<void(int)> onSignal, QObject* parent)
    : QObject(parent), m_onSignal(std::move(onSignal)) {
  if (g_pipe[0] != -1 || pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
    g_pipe[0] = g_pipe[1] = -1;
    return;
  }
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGTERM, &action, &g_oldTerm);
  sigaction(SIGINT, &action, &g_oldInt);
  m_notifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, this);
  connect(m_notifier, &QSocketNotifier::activated, this, &CSignalQuit::OnReadable);
}

CSignalQuit::~CSignalQuit() {
  if (m_notifier == nullptr) return;
  sigaction(SIGTERM, &g_oldTerm, nullptr);
  sigaction(SIGINT, &g_oldInt, nullptr);
  delete m_notifier;
  m_notifier = nullptr;
  close(g_pipe[0]);
  close(g_pipe[1]);
  g_pipe[0] = g_pipe[1] = -1;
}

void CSignalQuit::OnReadable() {
  unsigned char bytes[16];
  ssize_t n;
  int last = 0;
  while ((n = read(g_pipe[0], bytes, sizeof bytes)) > 0) last = bytes[n - 1];
  if (last != 0 && m_onSignal) m_onSignal(last);
}
