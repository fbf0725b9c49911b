// The Plexmar program.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/AppFramework.h"
#include "core/PlexmarApp.h"
#include "core/QtFramework.h"
#include "serverkit/serverkit.h"

int main(int argc, char** argv) {
  const DisplayChoice display =
      ChooseDisplay(std::getenv("DISPLAY"), std::getenv("WAYLAND_DISPLAY"), std::getenv("QT_QPA_PLATFORM"));
  // Before QApplication exists: it reads the variable when it starts.
  if (display.setOffscreen) setenv("QT_QPA_PLATFORM", "offscreen", 1);

  const std::vector<std::string> arguments(argv + 1, argv + argc);
  const std::string program = RunningProgramPath(argv[0]);
  const ERegistrationWord word = FindRegistrationWord(JoinCommandLine(arguments));
  if (display.headless && word == ERegistrationWord::kNone)
    std::fprintf(stderr, "Plexmar: no display found; running headless on Qt's offscreen platform\n");

  CPlexmarApp app;
  CQtFramework framework(argc, argv, app);
  ISystemLibraries& libraries = LinkedLibraries();
  const EStartupOutcome outcome = app.InitInstance(framework, libraries, arguments, program);

  int code = 0;
  switch (outcome) {
    case EStartupOutcome::kRun:
      code = framework.Run();
      break;
    case EStartupOutcome::kExitSuccess:
      if (word == ERegistrationWord::kUnregServer)
        std::fprintf(stderr, "Plexmar: OPC server %s unregistered\n", kPlexmarProgId);
      else
        std::fprintf(stderr, "Plexmar: OPC server %s registered in %s\n", kPlexmarProgId,
                     serverkit::RegistrationRecordPath(kPlexmarProgId).c_str());
      if (word == ERegistrationWord::kService)
        std::fprintf(stderr,
                     "Plexmar: service unit installed as %s; start it with "
                     "'systemctl --user daemon-reload && systemctl --user enable --now plexmar.service'\n",
                     serverkit::ServiceUnitPath().c_str());
      break;
    case EStartupOutcome::kExitFailure:
      if (word != ERegistrationWord::kNone)
        std::fprintf(stderr, "Plexmar: the OPC server registration could not be changed\n");
      code = 1;
      break;
  }
  app.ExitInstance(framework, libraries);
  return code;
}
