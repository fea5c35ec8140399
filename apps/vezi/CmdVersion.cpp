// vezi version: the library's name and version.
#include <iostream>

#include "Commands.h"
#include "core/Version.h"

namespace vezi {

void RegisterVersionCommands(CLI::App& app) {
  auto* cmd = app.add_subcommand("version", "Print the library name and version");
  cmd->callback([] { std::cout << vez::kLibraryName << ' ' << vez::kVersionString << '\n'; });
}

}  // namespace vezi
