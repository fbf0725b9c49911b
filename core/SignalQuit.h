// SIGTERM and SIGINT end the program through the same shutdown as closing
// the main window. The handler only writes a byte into a pipe; the event loop
// watches the pipe and runs `onSignal` as ordinary code on its own thread.
#pragma once

#include <QObject>

#include <functional>

class QSocketNotifier;

class CSignalQuit : public QObject {
 public:
  // One instance at a time; it installs the handlers and restores the
  // previous ones when destroyed.
  explicit CSignalQuit(std::function<void(int signal)> onSignal, QObject* parent = nullptr);
  ~CSignalQuit() override;
  bool IsInstalled() const { return m_notifier != nullptr; }

 private:
  void OnReadable();
  std::function<void(int)> m_onSignal;
  QSocketNotifier* m_notifier = nullptr;
};
