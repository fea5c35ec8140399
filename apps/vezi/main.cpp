// vezi: command-line access to the suite's libraries, Paradox tables and settings.
#include <exception>
#include <iostream>

#include "Commands.h"
#include "core/Exceptions.h"

int main(int argc, char** argv) {
  CLI::App app{"vezi - library tables, Paradox conversion and settings of the noise mapping suite", "vezi"};
  app.require_subcommand(1);
  app.set_help_all_flag("--help-all", "Show the help of every command");
  vezi::RegisterAll(app);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e);
    return code == 0 ? vezi::kExitOk : vezi::kExitUsage;
  } catch (const vez::Exception& e) {
    std::cerr << "vezi: " << e.what() << '\n';
    return vezi::kExitError;
  } catch (const std::exception& e) {
    std::cerr << "vezi: " << e.what() << '\n';
    return vezi::kExitError;
  }
  return vezi::ExitCodeValue();
}
