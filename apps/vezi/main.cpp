// vezi: command-line access to the suite's libraries, Paradox tables and settings.
#include <csignal>

#include "Commands.h"
#include "Conventions.h"
#include "core/Version.h"

int main(int argc, char** argv) {
  // A write beyond the file-size limit (ulimit -f) then fails with EFBIG, which the library reports as a full
  // disk and rolls back, instead of killing the process in the middle of a write (as Python does too).
  std::signal(SIGXFSZ, SIG_IGN);
  CLI::App app{"vezi - library tables, Paradox conversion and settings of the noise mapping suite", "vezi"};
  app.require_subcommand(1);
  app.set_help_all_flag("--help-all", "Show the help of every command");
  app.set_version_flag("--version", std::string("vezi (") + vez::kLibraryName + ") " + vez::kVersionString,
                       "Print the version and exit");
  vezi::UseHelpFormatter(app);
  vezi::RegisterAll(app);
  vezi::CheckNumbers(app);
  return vezi::Run(app, argc, argv);
}
