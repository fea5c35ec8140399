#include "Commands.h"

namespace vezi {

namespace {
int g_exitCode = kExitOk;
}

void SetExitCode(int code) { g_exitCode = code; }
int ExitCodeValue() { return g_exitCode; }

// One line per command group.
void RegisterAll(CLI::App& app) {
  RegisterVersionCommands(app);
  RegisterSettingsCommands(app);
  RegisterLibraryCommands(app);
  RegisterRecordCommands(app);
  RegisterConvertCommands(app);
  RegisterEmissionCommands(app);
  RegisterImportCommands(app);
  RegisterExportCommands(app);
  RegisterServeCommands(app);
}

}  // namespace vezi
