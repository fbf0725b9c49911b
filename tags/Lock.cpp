#include "tags/Lock.h"

#include "core/HostUi.h"
#include "core/PlexmarApp.h"

namespace {

void Tell(CPlexmarApp& app, const char* text) {
  if (IHostUi* ui = app.HostUi()) ui->MessageBox(text);
}

}  // namespace

void LockConfiguration(CPlexmarApp& app, const AskPasswordFn& ask) {
  const std::optional<std::string> first = ask(kEnterPasswordCaption);
  if (!first || first->empty()) return;
  const std::optional<std::string> second = ask(kReEnterPasswordCaption);
  if (!second) return;
  if (*first != *second) {
    Tell(app, kVerificationFailedText);
    return;
  }
  app.m_bLocked = 1;
  app.m_strPassword = *first;
}

void UnlockConfiguration(CPlexmarApp& app, const AskPasswordFn& ask) {
  const std::optional<std::string> entry = ask(kEnterPasswordCaption);
  if (!entry) return;
  if (*entry == app.m_strPassword)
    app.m_bLocked = 0;
  else
    Tell(app, kIncorrectPasswordText);
}

bool IsLockEnabled(const CPlexmarApp& app) { return app.m_bLocked == 0; }
bool IsUnlockEnabled(const CPlexmarApp& app) { return app.m_bLocked != 0; }
