// vezi export: writes the records of a library to an .xlsx workbook, a CSV file or a tab-separated text file
// (output/LibraryExport.h), with progress on a terminal.
//
// export  LIBRARY FILE [--fields F,G,...] [--where-name TEXT] [--overwrite]
//
// Exit codes: 0 written, 1 refused or failed (an existing FILE without --overwrite, an unknown field, a value the
// format cannot hold, a file that cannot be written; no FILE then), 2 bad arguments (an extension other than
// .xlsx, .csv and .txt, a field given twice), 130 interrupted by Ctrl-C or SIGTERM (no FILE).
#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "Commands.h"
#include "Conventions.h"
#include "core/Exceptions.h"
#include "output/LibraryExport.h"

namespace vezi {

namespace {

struct ExportOptions {
  std::string library, file, whereName;
  std::vector<std::string> fields;
  bool overwrite = false;
};

}  // namespace

void RegisterExportCommands(CLI::App& app) {
  auto o = std::make_shared<ExportOptions>();
  auto* cmd = app.add_subcommand("export", "Write the records of a library to an .xlsx, .csv or .txt file");
  cmd->add_option("LIBRARY", o->library, "The library file")->required();
  cmd->add_option("FILE", o->file,
                  "The file to write; its extension chooses the format: .xlsx (a workbook of one sheet), .csv "
                  "(comma-separated, UTF-8 with byte order mark) or .txt (tab-separated, UTF-8)")
      ->required();
  cmd->add_option("--fields", o->fields,
                  "Only these fields, in this order: names in any letter case, separated by commas (a comma "
                  "inside parentheses belongs to the name, as in A(FTNo,PTAvg))")
      ->type_name("F,G,...")
      ->expected(1)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  cmd->add_option("--where-name", o->whereName, "Only the records whose name holds TEXT, in any letter case")
      ->type_name("TEXT");
  cmd->add_flag("--overwrite", o->overwrite, "Replace FILE when it exists");
  cmd->footer(
      "One header row of the field names, then one row per record in the order the records were added.\n"
      "Numbers are numbers ('.' as decimal point in the text files), Booleans True/False, dates and times dates\n"
      "(ISO 8601 in the text files), binary fields Base64, an empty field an empty cell. An .xlsx cell keeps 16\n"
      "significant digits; a number that needs 17 is rounded, and the export says how many were.\n"
      "FILE appears only complete: it is written under a passing name beside it and renamed when done; Ctrl-C\n"
      "leaves no file (exit code 130). vezi import FILE --into LIBRARY --auto-link reads the file back.\n");
  cmd->callback([o] {
    vez::TExportOptions options;
    for (const std::string& text : o->fields)
      for (const std::string& name : vez::SplitFieldList(text))
        if (!name.empty()) options.Fields.push_back(name);
    options.WhereName = o->whereName;
    options.Overwrite = o->overwrite;
    const bool tty = isatty(fileno(stderr)) != 0;
    options.Progress = [tty](std::int64_t done, std::int64_t total) {
      using ll = long long;
      if (tty) std::fprintf(stderr, "\r\033[Krecord %lld of %lld", static_cast<ll>(done), static_cast<ll>(total));
    };
    options.Interrupted = [] { return InterruptScope::Interrupted(); };
    InterruptScope interrupts;
    vez::TExportResult r;
    try {
      r = vez::ExportLibrary(o->library, o->file, options);
    } catch (const vez::EFileExists& e) {
      if (tty) std::fprintf(stderr, "\r\033[K");
      throw vez::Exception(std::string(e.what()) + "; give --overwrite to replace it");
    } catch (...) {
      if (tty) std::fprintf(stderr, "\r\033[K");
      throw;  // reported as every failure is
    }
    if (tty) std::fprintf(stderr, "\r\033[K");
    if (r.Interrupted) {
      std::cout << "Interrupted: nothing written to " << o->file << '\n';
      SetExitCode(kExitInterrupted);
      return;
    }
    if (r.NumbersRounded > 0)
      std::cerr << "vezi: note: " << r.NumbersRounded
                << " whole numbers beyond 2^53 are rounded in the .xlsx cells (a .csv or .txt keeps every digit)\n";
    std::cout << "Exported " << r.Records << " records of " << o->library << " to " << o->file << '\n';
    SetExitCode(kExitOk);
  });
}

}  // namespace vezi
