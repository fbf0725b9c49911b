#include "core/MainFrameCore.h"

#include <cstring>

#include "core/PlexmarApp.h"
#include "core/UiJobQueue.h"
#include "serverkit/serverkit.h"

LOGFONT DefaultFormFont() {
  LOGFONT font;
  font.lfHeight = -13;
  font.lfWeight = 400;
  font.lfOutPrecision = 1;
  font.lfClipPrecision = 2;
  font.lfQuality = 1;
  font.lfPitchAndFamily = 0x31;
  std::strncpy(font.lfFaceName, "Courier", LF_FACESIZE - 1);
  return font;
}

CMainFrameCore::CMainFrameCore(CPlexmarApp& app, std::function<void()> wake)
    : m_logFont(DefaultFormFont()),
      m_app(app),
      m_jobs(std::make_shared<CUiJobQueue>(wake)),
      m_target(std::make_unique<QueuedMessageTarget>(
          [this](HWND, UINT message, WPARAM wParam, LPARAM lParam) {
            return WindowProc(message, wParam, lParam);
          },
          wake)),
      m_fnRefresh([&app] { app.RefreshAllTags(); }) {}

CMainFrameCore::~CMainFrameCore() {
  OnClose();
  // The target goes first: after this no library can reach our handler.
  m_target.reset();
}

bool CMainFrameCore::OnCreate() {
  m_app.SetMainWindow(m_target.get());
  // Writes from OPC clients run their callback here, on this thread.
  m_bTakingWrites = true;
  serverkit::SetWriteDispatcher(
      [jobs = m_jobs](const std::function<void()>& job) { jobs->RunAndWait(job); });
  m_nTimerID = SetTimer(m_target.get(), kTickTimerId, static_cast<UINT>(m_app.m_nTimerPeriod), nullptr);
  // Without its tick the server would show stale values for good: better not
  // to start than to run like that.
  return m_nTimerID != 0;
}

void CMainFrameCore::OnClose() {
  if (m_bTakingWrites) {
    // Not "no dispatcher": that would run callbacks on the client's thread.
    serverkit::SetWriteDispatcher([](const std::function<void()>&) {});
    m_bTakingWrites = false;
  }
  m_jobs->Close();
  if (m_nTimerID != 0) KillTimer(m_target.get(), m_nTimerID);
  m_nTimerID = 0;
  m_target->Stop();
  if (m_app.MainWindow() == m_target.get()) m_app.SetMainWindow(nullptr);
}

HWND CMainFrameCore::Window() const { return m_target.get(); }

int CMainFrameCore::Pump() {
  // Writes first: a client is blocked on each of them.
  int handled = m_jobs->Drain();
  handled += m_target->Pump();
  return handled;
}

int CMainFrameCore::NextTimerDueMs() const { return m_target->NextTimerDueMs(); }

LRESULT CMainFrameCore::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_TIMER:
      OnTimer(wParam);
      return 0;
    case kMsgSlaveWrite:
      // The next tick's refresh sees what the remote master wrote.
      return 0;
    case kMsgModbusResponse:
      if (m_fnModbusResponse) m_fnModbusResponse(wParam, lParam);
      return 0;
    default:
      break;
  }
  auto it = m_handlers.find(message);
  if (it != m_handlers.end() && it->second) return it->second(wParam, lParam);
  return 0;
}

void CMainFrameCore::OnTimer(UINT_PTR /*id*/) {
  if (m_nTimerID == 0) return;
  if (m_fnRefresh) m_fnRefresh();
  if (m_hOutstandingMaster == -1 && m_fnSendNextRequest) m_fnSendNextRequest();
}

void CMainFrameCore::SetMessageHandler(UINT message, std::function<LRESULT(WPARAM, LPARAM)> handler) {
  m_handlers[message] = std::move(handler);
}

bool CMainFrameCore::ReadProject(const std::string& path) {
  if (!m_fnReadProject) return false;
  m_fnReadProject(path);
  return true;
}
