// The Qt-free half of the main window: its message target, the one timer and
// the tick, the messages of the Modbus libraries, the hand-over of OPC client
// writes to the user-interface thread, and the display defaults that the
// project file keeps.
//
// The Qt main window owns one and calls Pump() on the user-interface thread
// whenever the wake function asks for it and when NextTimerDueMs() has run
// out; tests do the same by hand.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "platform/msgwindow.h"
#include "platform/wintypes.h"

class CPlexmarApp;
class CUiJobQueue;

class CMainFrameCore {
 public:
  // The timer the main window starts when it is created.
  static constexpr UINT_PTR kTickTimerId = 2;
  // Messages posted to the main window by the Modbus libraries.
  static constexpr UINT kMsgSlaveWrite = WM_USER + 1;       // a remote master wrote a local block
  static constexpr UINT kMsgSlaveBindFailed = WM_USER + 2;  // the TCP server cannot listen
  static constexpr UINT kMsgModbusResponse = WM_USER + 3;   // the reply in flight is ready
  static constexpr UINT kMsgModbusResponseTcp = WM_USER + 4;

  CMainFrameCore(CPlexmarApp& app, std::function<void()> wake);
  ~CMainFrameCore();
  CMainFrameCore(const CMainFrameCore&) = delete;
  CMainFrameCore& operator=(const CMainFrameCore&) = delete;

  // Window creation: registers the window with the application, starts the
  // tick timer with the application's period and takes OPC client writes.
  // False when the timer could not be started.
  bool OnCreate();
  // The window is closing: no more ticks or writes; posted messages are
  // dropped from now on.
  void OnClose();

  HWND Window() const;
  // Dispatches what is waiting (OPC writes, posted messages, due timers) on
  // the calling thread, which must be the user-interface thread.
  int Pump();
  // Milliseconds until the next timer is due, -1 for none.
  int NextTimerDueMs() const;

  // The window procedure.
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
  // The tick: refresh every tag from its data block, then, when no Modbus
  // request is outstanding, send the next one. Only while a timer is kept.
  void OnTimer(UINT_PTR id);

  // --- hooks that the exchange and polling code fill ------------------------
  // Step 1 of the tick; by default the application's RefreshAllTags().
  void SetRefreshHook(std::function<void()> refresh) { m_fnRefresh = std::move(refresh); }
  // Step 2 of the tick: one queued write or the first poll of a new cycle.
  void SetSendNextRequestHook(std::function<void()> send) { m_fnSendNextRequest = std::move(send); }
  // WM_USER+3, the master library's reply message.
  void SetModbusResponseHook(std::function<void(WPARAM, LPARAM)> onResponse) {
    m_fnModbusResponse = std::move(onResponse);
  }
  // Any other message number; replaces an earlier handler of the same number.
  void SetMessageHandler(UINT message, std::function<LRESULT(WPARAM, LPARAM)> handler);
  // The project reader of start-up and "&Restore All"; null until the project
  // file code installs it.
  void SetProjectReader(std::function<void(const std::string& path)> reader) {
    m_fnReadProject = std::move(reader);
  }
  // Reads a project through the installed reader; false when none is installed.
  bool ReadProject(const std::string& path);

  CPlexmarApp& App() const { return m_app; }

  // --- state ----------------------------------------------------------------
  // The id SetTimer returned; 0 = no timer, and then ticks do nothing.
  UINT_PTR m_nTimerID = 0;
  // The master connection with a request in flight, -1 = none.
  int32_t m_hOutstandingMaster = -1;
  // Display defaults of new forms, kept in the project header.
  LOGFONT m_logFont;
  COLORREF m_crForeground = 0x000000;
  COLORREF m_crBackground = 0xC0C0C0;
  COLORREF m_crExtra = 0x0000FF;

 private:
  CPlexmarApp& m_app;
  std::shared_ptr<CUiJobQueue> m_jobs;
  std::unique_ptr<QueuedMessageTarget> m_target;
  std::function<void()> m_fnRefresh;
  std::function<void()> m_fnSendNextRequest;
  std::function<void(WPARAM, LPARAM)> m_fnModbusResponse;
  std::function<void(const std::string&)> m_fnReadProject;
  std::map<UINT, std::function<LRESULT(WPARAM, LPARAM)>> m_handlers;
  bool m_bTakingWrites = false;
};

// The default form font: Courier, height -13, weight 400.
LOGFONT DefaultFormFont();
