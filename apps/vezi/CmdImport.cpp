// vezi import: imports the rows of a spreadsheet or tab-separated text file into a library table, with column
// links, the name check, progress on a terminal, a summary and an optional JSON report.
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <iostream>


#include "Commands.h"
#include "Conventions.h"
#include "core/Exceptions.h"
#include "core/FormatSettings.h"
#include "core/TextEncoding.h"
#include "import/mapping/LibraryImport.h"
#include "import/NameAlreadyExists.h"
#include "librarydb/Layouts.h"
#include "librarydb/OVLibConst.h"

namespace vezi {

namespace {

// Reads a line typed on standard input. Reads byte by byte from the descriptor, without a buffer, and waits in
// short polls, so that an interrupt ends the wait at once (also one that arrives just before the wait begins).
// False at the end of the input and after an interrupt.
bool ReadAnswer(std::string& line) {
  line.clear();
  for (;;) {
    if (InterruptScope::Interrupted()) return false;
    pollfd p{STDIN_FILENO, POLLIN, 0};
    const int ready = poll(&p, 1, 200);
    if (ready < 0 && errno != EINTR) return false;
    if (ready <= 0) continue;
    char c = 0;
    const ssize_t n = read(STDIN_FILENO, &c, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return !line.empty();
    if (c == '\n') return true;
    line += c;
  }
}

// The import's windows on the command line: the name question answered by the --on-exists choice, or asked
// on the terminal (ask); messages on stderr.
class CliDialogs : public vez::TAnsweringDialogs {
public:
  CliDialogs(bool ask, vez::TOnExists answer) : TAnsweringDialogs(answer), ask_(ask) {}

  void ShowMessage(const std::string& text) override { PrintError(text); }

  std::string InputBox(const std::string& caption, const std::string& prompt, const std::string& defaultText) override {
    if (!ask_) return TAnsweringDialogs::InputBox(caption, prompt, defaultText);
    std::cerr << caption << " [" << defaultText << "] " << std::flush;
    std::string line;
    if (!ReadAnswer(line) || vez::Trim(line).empty()) return defaultText;
    return vez::Trim(line);
  }

  void ShowNameExists(vez::TFormNameExists& form) override {
    if (!ask_) return TAnsweringDialogs::ShowNameExists(form);
    if (isatty(fileno(stdin)) == 0)
      throw vez::Exception(form.Caption + "; standard input is not a terminal to ask on (give --on-exists "
                                          "overwrite, skip or rename)");
    ClearProgress();
    for (;;) {
      std::cerr << form.Caption
                << ": [o]verwrite, overwrite [a]ll, [s]kip, skip a[l]l, [n]ew name, [c]ancel? " << std::flush;
      std::string line;
      if (!ReadAnswer(line)) {
        // End of input, or Ctrl-C / SIGTERM while waiting: the run ends (the import tells the two apart).
        if (InterruptScope::Interrupted()) std::cerr << '\n';
        form.CancelClick();
        return;
      }
      const std::string answer = vez::Trim(line);
      static const std::string keys = "oasln";
      if (answer.size() == 1 && answer[0] == 'c') {
        form.CancelClick();
        return;
      }
      if (answer.size() == 1 && keys.find(answer[0]) != std::string::npos) {
        form.RadioGroupClick(static_cast<std::int32_t>(keys.find(answer[0])));
        form.OKClick();
        return;
      }
    }
  }

private:
  static void ClearProgress() {
    if (isatty(fileno(stderr)) != 0) std::fprintf(stderr, "\r\033[K");
  }
  bool ask_;
};

// Writes the report when one is asked for; false when the file cannot be written.
bool Report(const std::string& path, const vez::TLibraryImportResult& r, const vez::TLibraryImportOptions& o) {
  if (path.empty()) return true;
  const std::string error = WriteReportFile(path, [&](std::ostream& out) { vez::WriteImportReport(out, r, o); });
  if (error.empty()) return true;
  PrintError(error);
  return false;
}

bool SplitAssignment(const std::string& text, std::pair<std::string, std::string>& out) {
  const auto eq = text.find('=');
  if (eq == std::string::npos || eq == 0) return false;
  out = {vez::Trim(text.substr(0, eq)), text.substr(eq + 1)};
  return true;
}

}  // namespace

void RegisterImportCommands(CLI::App& app) {
  struct Options {
    std::string file, library, type, onExists = "ask", report, decimal, sheet, separator, mapping, saveMapping;
    std::vector<std::string> maps, fixes;
    bool autoLink = false, dryRun = false;
    std::int32_t start = 2, stop = 0;
    std::int64_t codePage = 0, textLimit = vez::kDefaultMaxGridTextMB;
  };
  auto opts = std::make_shared<Options>();
  auto* cmd = app.add_subcommand("import", "Import the rows of a spreadsheet or text file into a library");
  cmd->add_option("FILE", opts->file, "The .xls or .xlsx workbook or the text file (tab, comma or semicolon separated)")
      ->required();
  cmd->add_option("--into", opts->library, "The library file; created with the layout of its type when missing")
      ->required();
  cmd->add_option("--type", opts->type, "Library type as code or constant name (default: from the file name)");
  cmd->add_option("--map", opts->maps, "Link column COL (a letter as A, B, AA) to FIELD: FIELD=COL");
  cmd->add_flag("--auto-link", opts->autoLink,
                "Link each column whose header text (a line above the start line) names a field; with --map, "
                "the columns and fields --map leaves free");
  cmd->add_option("--fix", opts->fixes, "Give FIELD the same text in every record: FIELD=TEXT");
  cmd->add_option("--start", opts->start, "First line to import; the lines above it are the header (default 2)")
      ->check(Range(1, 1 << 30));
  cmd->add_option("--stop", opts->stop, "Last line to import (default: the last line)")->check(Range(1, 1 << 30));
  cmd->add_option("--on-exists", opts->onExists,
                  "When a record of that name exists: ask (on a terminal), overwrite, skip or rename (Name (2))")
      ->type_name("TEXT:{ask,overwrite,skip,rename}");  // the words are read by the library's rule
  cmd->add_flag("--dry-run", opts->dryRun, "Check every line and report, but change nothing");
  cmd->add_option("--report", opts->report, "Write a JSON report of the run to this file");
  cmd->add_option("--code-page", opts->codePage,
                  "Code page of a text file that is neither UTF-8 nor starts with a byte order mark (such as 1252; "
                  "without it such a file is refused, naming its first byte that is no UTF-8)")
      ->type_name("INT:NUMBER in 1 to 65535");  // the number is read by the library's rule
  cmd->add_option("--text-limit", opts->textLimit,
                  "The most text in MB that the file's cells may hold in memory (default 1024); a file with more "
                  "is refused while it is read")
      ->type_name("INT:NUMBER in 1 to 1073741824");
  cmd->add_option("--decimal-separator", opts->decimal,
                  "Decimal separator of the numbers in the file (default \",\" in a file separated by \";\", else \".\")")
      ->type_name("TEXT:{.,,}");
  cmd->add_option("--separator", opts->separator, "Field separator of a text file: tab, , or ; (default: detected)")
      ->type_name("TEXT:{tab,,,;}");
  cmd->add_option("--sheet", opts->sheet, "The sheet of a workbook: its name or its number from 1 (default: the first)");
  cmd->add_option("--mapping", opts->mapping,
                  "Take links, lines, sheet and separators from this mapping (JSON); options given here win");
  cmd->add_option("--save-mapping", opts->saveMapping,
                  "Write the links, lines, sheet and separators of this import to this file (JSON), for --mapping");
  cmd->footer("The content decides how FILE is read: an .xls or .xlsx workbook whatever its name, else text (UTF-8, "
              "UTF-16 with byte order mark, or the --code-page) with fields separated by tabs, commas or semicolons "
              "and quoted as in CSV.\nThe run is one transaction: it stores every line that converts, or nothing when "
              "it is cancelled or interrupted (Ctrl-C: exit code 130).\nA line whose linked cells are all empty is "
              "skipped; a line that fails is reported with its line number, and the exit code is then 1.");
  cmd->callback([opts, cmd] {
    vez::TLibraryImportOptions o;
    o.FileName = opts->file;
    o.LibraryFile = opts->library;
    o.AutoLink = opts->autoLink;
    o.StartLine = opts->start;
    o.StopLine = opts->stop;
    o.DryRun = opts->dryRun;
    // A usage error ends the run before it starts; the report says why all the same.
    auto usage = [&](const std::string& message) {
      vez::TLibraryImportResult r;
      r.Error = message;
      Report(opts->report, r, o);
      return UsageError(message);
    };
    if (opts->maps.empty() && !opts->autoLink && opts->mapping.empty())
      throw usage("give --map FIELD=COL, --auto-link or --mapping FILE");
    // The option words and numbers and the library type, read as every front end reads them.
    std::optional<vez::TOnExists> answer;
    char separator = 0, decimal = 0;
    try {
      answer = vez::OnExistsOfWord(opts->onExists);
      if (!opts->separator.empty()) separator = vez::SeparatorOfWord(opts->separator);
      if (!opts->decimal.empty()) decimal = vez::DecimalSeparatorOfWord(opts->decimal);
      if (cmd->count("--code-page") > 0) o.TextCodePage = vez::CodePageOfNumber(opts->codePage);
      o.TextLimitMB = vez::TextLimitOfNumber(opts->textLimit);
      if (!opts->type.empty()) o.LibType = vez::LibTypeOfWord(opts->type);
    } catch (const vez::Exception& e) {
      throw usage(e.what());
    }
    for (const auto& [list, target] : {std::pair{&opts->maps, &o.Maps}, std::pair{&opts->fixes, &o.Fixes}})
      for (const auto& m : *list) {
        std::pair<std::string, std::string> kv;
        if (!SplitAssignment(m, kv)) throw usage("\"" + m + "\" is not FIELD=VALUE");
        target->push_back(kv);
      }
    if (!opts->mapping.empty()) {
      // The mapping first; what the command line gives wins.
      vez::TLibraryImportOptions given = o;
      vez::ApplyImportMapping(o, vez::ReadImportMapping(opts->mapping));
      if (cmd->count("--start") > 0) o.StartLine = given.StartLine;
      if (cmd->count("--stop") > 0) o.StopLine = given.StopLine;
      if (cmd->count("--code-page") > 0) o.TextCodePage = given.TextCodePage;
    }
    if (decimal != 0) o.DecimalSeparator = decimal;
    if (separator != 0) o.Separator = separator;
    if (!opts->sheet.empty()) o.Sheet = opts->sheet;
    const bool tty = isatty(fileno(stderr)) != 0;
    o.Progress = [tty](std::int32_t done, std::int32_t total) {
      if (tty && (done % 500 == 0 || done == total)) std::fprintf(stderr, "\r\033[Kline %d of %d", done, total);
    };
    o.Interrupted = [] { return InterruptScope::Interrupted(); };

    CliDialogs dialogs(!answer, answer.value_or(vez::TOnExists::Skip));
    InterruptScope interrupts;
    vez::TLibraryImportResult r;
    try {
      r = vez::ImportIntoLibrary(o, dialogs);
    } catch (const std::exception& e) {
      if (tty) std::fprintf(stderr, "\r\033[K");
      r.Error = e.what();
      Report(opts->report, r, o);
      throw;  // reported as every failure is
    }
    if (tty) std::fprintf(stderr, "\r\033[K");
    for (const auto& e : r.Errors) {
      // The rules' messages name their field; others get it named here.
      std::cerr << "vezi: line " << e.Line;
      if (!e.Column.empty()) std::cerr << ", column " << e.Column;
      if (!e.Field.empty() && e.Message.find("\"" + e.Field + "\"") == std::string::npos) std::cerr << ", field " << e.Field;
      std::cerr << ": " << e.Message << '\n';
    }
    if (o.AutoLink) std::cout << vez::AutoLinkText(r.AutoLink) << '\n';
    if (!opts->saveMapping.empty()) {
      vez::WriteImportMapping(opts->saveMapping, vez::MappingOfRun(o, r), true);
      std::cout << "Mapping saved to " << opts->saveMapping << '\n';
    }
    if (r.LastLine < r.FirstLine) {
      std::cout << "Lines:       none: the start line " << r.FirstLine << " is past the last line " << r.FileLines
                << " of " << opts->file << " (" << vez::ShownFileType(r) << "); nothing imported\n";
      SetExitCode(Report(opts->report, r, o) ? kExitOk : kExitError);
      return;
    }
    const char* state = r.Committed ? "" : r.Interrupted ? " (interrupted: nothing stored)"
                                       : r.Cancelled     ? " (cancelled: nothing stored)"
                                                         : " (dry run: nothing stored)";
    std::cout << "Lines:       " << r.FirstLine << " to " << r.LastLine << " of " << opts->file << " (" << vez::ShownFileType(r)
              << ")\n"
              << "Added:       " << r.Added << state << '\n'
              << "Overwritten: " << r.Overwritten << '\n'
              << "Skipped:     " << r.Skipped << '\n'
              << "Failed:      " << r.Failed << '\n'
              << "Empty lines skipped: " << r.EmptyLines << '\n';
    if (!Report(opts->report, r, o)) {
      SetExitCode(kExitError);
      return;
    }
    SetExitCode(r.Interrupted ? kExitInterrupted : r.Failed > 0 || r.Cancelled ? kExitError : kExitOk);
  });
}

}  // namespace vezi
