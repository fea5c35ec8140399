// The command groups of the vezi tool. Each Register* function adds its subcommands to the application; the
// subcommand's callback does the work through library calls and sets the exit code.
#pragma once

#include <CLI/CLI.hpp>

namespace vezi {

// Exit codes of every command.
// 130: interrupted by Ctrl-C or SIGTERM, as a shell reports a program ended by Ctrl-C.
enum ExitCode : int { kExitOk = 0, kExitError = 1, kExitUsage = 2, kExitInterrupted = 130 };

// Set by a command's callback; main returns it.
void SetExitCode(int code);
int ExitCodeValue();

void RegisterAll(CLI::App& app);

void RegisterVersionCommands(CLI::App& app);
void RegisterSettingsCommands(CLI::App& app);
void RegisterLibraryCommands(CLI::App& app);
void RegisterRecordCommands(CLI::App& app);
void RegisterConvertCommands(CLI::App& app);
void RegisterEmissionCommands(CLI::App& app);
void RegisterImportCommands(CLI::App& app);
void RegisterExportCommands(CLI::App& app);
void RegisterServeCommands(CLI::App& app);

}  // namespace vezi
