// vezi import: imports the rows of a spreadsheet or tab-separated text file into a library table, with column
// links, the name check, progress on a terminal, a summary and an optional JSON report.
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <fstream>
#include <iostream>


#include "Commands.h"
#include "core/Exceptions.h"
#include "core/FormatSettings.h"
#include "import/mapping/LibraryImport.h"
#include "import/NameAlreadyExists.h"
#include "librarydb/OVLibConst.h"
#include "output/JsonWriter.h"

namespace vezi {

namespace {

volatile std::sig_atomic_t gInterrupted = 0;
extern "C" void OnInterrupt(int) { gInterrupted = 1; }

// Sets SIGINT and SIGTERM to stop the run after the current line; restores the old handlers.
class InterruptScope {
public:
  InterruptScope() {
    gInterrupted = 0;
    oldInt_ = std::signal(SIGINT, OnInterrupt);
    oldTerm_ = std::signal(SIGTERM, OnInterrupt);
  }
  ~InterruptScope() {
    std::signal(SIGINT, oldInt_);
    std::signal(SIGTERM, oldTerm_);
  }

private:
  void (*oldInt_)(int);
  void (*oldTerm_)(int);
};

enum class OnExists { Ask, Overwrite, Skip, Rename };

// "Name" -> "Name (2)", "Name (2)" -> "Name (3)".
std::string NextName(const std::string& name) {
  if (name.size() > 3 && name.back() == ')') {
    const auto open = name.rfind(" (");
    std::int32_t n = 0;
    if (open != std::string::npos && vez::TryStrToInt(name.substr(open + 2, name.size() - open - 3), n) && n > 0)
      return name.substr(0, open) + " (" + std::to_string(n + 1) + ")";
  }
  return name + " (2)";
}

// The import's windows on the command line: the name question answered by the --on-exists choice, or asked
// on the terminal.
class CliDialogs : public vez::TImportDialogs {
public:
  explicit CliDialogs(OnExists mode) : mode_(mode) {}

  void ShowMessage(const std::string& text) override { std::cerr << "vezi: " << text << '\n'; }

  std::string InputBox(const std::string& caption, const std::string&, const std::string& defaultText) override {
    if (mode_ == OnExists::Rename) return NextName(defaultText);
    std::cerr << caption << " [" << defaultText << "] " << std::flush;
    std::string line;
    if (!std::getline(std::cin, line) || vez::Trim(line).empty()) return defaultText;
    return vez::Trim(line);
  }

  void ShowNameExists(vez::TFormNameExists& form) override {
    switch (mode_) {
      case OnExists::Overwrite: form.RadioGroupClick(1); break;
      case OnExists::Skip: form.RadioGroupClick(3); break;
      case OnExists::Rename: form.RadioGroupClick(4); break;
      case OnExists::Ask: Ask(form); return;
    }
    form.OKClick();
  }

private:
  void Ask(vez::TFormNameExists& form) {
    if (isatty(fileno(stdin)) == 0)
      throw vez::Exception(form.Caption + "; standard input is not a terminal to ask on (give --on-exists "
                                          "overwrite, skip or rename)");
    ClearProgress();
    for (;;) {
      std::cerr << form.Caption
                << ": [o]verwrite, overwrite [a]ll, [s]kip, skip a[l]l, [n]ew name, [c]ancel? " << std::flush;
      std::string line;
      if (!std::getline(std::cin, line)) {
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
  static void ClearProgress() {
    if (isatty(fileno(stderr)) != 0) std::fprintf(stderr, "\r\033[K");
  }

  OnExists mode_;
};

// The report, members in name order.
void WriteReport(std::ostream& out, const vez::TLibraryImportResult& r, const std::string& file,
                 const std::string& library, bool dryRun) {
  vez::JsonWriter json(out, vez::JsonWriter::Layout::Indented);
  json.BeginObject()
      .Member("added", r.Added)
      .Member("cancelled", r.Cancelled)
      .Member("committed", r.Committed)
      .Member("created", r.Created && r.Committed)
      .Member("dry_run", dryRun)
      .Key("errors")
      .BeginArray();
  for (const auto& e : r.Errors)
    json.BeginObject()
        .Member("column", e.Column)
        .Member("field", e.Field)
        .Member("line", e.Line)
        .Member("message", e.Message)
        .EndObject();
  json.EndArray()
      .Member("failed", r.Failed)
      .Member("file", file)
      .Member("file_type", r.FileType)
      .Member("first_line", r.FirstLine)
      .Member("interrupted", r.Interrupted)
      .Member("last_line", r.LastLine)
      .Member("library", library)
      .Member("library_type", r.LibType)
      .Member("library_type_name", vez::LibTypeConstantName(r.LibType) ? vez::LibTypeConstantName(r.LibType) : "")
      .Key("links")
      .BeginArray();
  for (const auto& link : r.Links) json.String(link);
  json.EndArray()
      .Member("overwritten", r.Overwritten)
      .Member("skipped", r.Skipped)
      .EndObject();
  out << '\n';
}

bool SplitAssignment(const std::string& text, std::pair<std::string, std::string>& out) {
  const auto eq = text.find('=');
  if (eq == std::string::npos || eq == 0) return false;
  out = {vez::Trim(text.substr(0, eq)), text.substr(eq + 1)};
  return true;
}

std::optional<std::int32_t> ParseType(const std::string& text) {
  std::int32_t code = 0;
  if (vez::TryStrToInt(text, code)) return vez::LibTypeConstantName(code) != nullptr ? std::optional(code) : std::nullopt;
  for (std::int32_t c = 0; c < vez::kLibTypeCount; ++c)
    if (const char* name = vez::LibTypeConstantName(c); name != nullptr && vez::SameText(name, vez::Trim(text)))
      return c;
  return std::nullopt;
}

}  // namespace

void RegisterImportCommands(CLI::App& app) {
  struct Options {
    std::string file, library, type, onExists = "ask", report, decimal;
    std::vector<std::string> maps, fixes;
    bool autoLink = false, dryRun = false;
    std::int32_t start = 2, stop = 0;
  };
  auto opts = std::make_shared<Options>();
  auto* cmd = app.add_subcommand("import", "Import the rows of a spreadsheet or tab-separated text file into a library");
  cmd->add_option("FILE", opts->file, "The .xls or .xlsx workbook (first sheet) or tab-separated text file")
      ->required();
  cmd->add_option("--into", opts->library, "The library file; created with the layout of its type when missing")
      ->required();
  cmd->add_option("--type", opts->type, "Library type as code or constant name (default: from the file name)");
  auto* map = cmd->add_option("--map", opts->maps, "Link column COL (a letter as A, B, AA) to FIELD: FIELD=COL");
  auto* autoLink = cmd->add_flag("--auto-link", opts->autoLink,
                                 "Link each column whose header text (a line above the start line) names a field");
  map->excludes(autoLink);
  cmd->add_option("--fix", opts->fixes, "Give FIELD the same text in every record: FIELD=TEXT");
  cmd->add_option("--start", opts->start, "First line to import; the lines above it are the header (default 2)")
      ->check(CLI::Range(1, 1 << 30));
  cmd->add_option("--stop", opts->stop, "Last line to import (default: the last line)")->check(CLI::Range(1, 1 << 30));
  cmd->add_option("--on-exists", opts->onExists,
                  "When a record of that name exists: ask (on a terminal), overwrite, skip or rename (Name (2))")
      ->check(CLI::IsMember({"ask", "overwrite", "skip", "rename"}));
  cmd->add_flag("--dry-run", opts->dryRun, "Check every line and report, but change nothing");
  cmd->add_option("--report", opts->report, "Write a JSON report of the run to this file");
  cmd->add_option("--decimal-separator", opts->decimal,
                  "Decimal separator of the numbers in the file, as the process format setting (default \".\")")
      ->check(CLI::IsMember({".", ","}));
  cmd->footer("The run is one transaction: it stores every line that converts, or nothing when it is cancelled or "
              "interrupted.\nA line that fails is reported with its line number; the exit code is then 1.");
  cmd->callback([opts] {
    if (opts->maps.empty() && !opts->autoLink) {
      std::cerr << "vezi import: give --map FIELD=COL or --auto-link\n";
      SetExitCode(kExitUsage);
      return;
    }
    vez::TLibraryImportOptions o;
    o.FileName = opts->file;
    o.LibraryFile = opts->library;
    o.AutoLink = opts->autoLink;
    o.StartLine = opts->start;
    o.StopLine = opts->stop;
    o.DryRun = opts->dryRun;
    for (const auto& [list, target] : {std::pair{&opts->maps, &o.Maps}, std::pair{&opts->fixes, &o.Fixes}})
      for (const auto& m : *list) {
        std::pair<std::string, std::string> kv;
        if (!SplitAssignment(m, kv)) {
          std::cerr << "vezi import: \"" << m << "\" is not FIELD=VALUE\n";
          SetExitCode(kExitUsage);
          return;
        }
        target->push_back(kv);
      }
    if (!opts->type.empty()) {
      const auto code = ParseType(opts->type);
      if (!code) {
        std::cerr << "vezi import: unknown library type \"" << opts->type << "\"\n";
        SetExitCode(kExitUsage);
        return;
      }
      o.LibType = *code;
    }
    if (!opts->decimal.empty()) vez::GlobalFormatSettings().DecimalSeparator = opts->decimal[0];
    const OnExists mode = opts->onExists == "overwrite" ? OnExists::Overwrite
                          : opts->onExists == "skip"    ? OnExists::Skip
                          : opts->onExists == "rename"  ? OnExists::Rename
                                                        : OnExists::Ask;
    const bool tty = isatty(fileno(stderr)) != 0;
    o.Progress = [tty](std::int32_t done, std::int32_t total) {
      if (tty && (done % 500 == 0 || done == total)) std::fprintf(stderr, "\r\033[Kline %d of %d", done, total);
    };
    o.Interrupted = [] { return gInterrupted != 0; };

    CliDialogs dialogs(mode);
    InterruptScope interrupts;
    vez::TLibraryImportResult r;
    try {
      r = vez::ImportIntoLibrary(o, dialogs);
    } catch (const std::exception& e) {
      if (tty) std::fprintf(stderr, "\r\033[K");
      std::cerr << "vezi import: " << e.what() << '\n';
      SetExitCode(kExitError);
      return;
    }
    if (tty) std::fprintf(stderr, "\r\033[K");
    for (const auto& e : r.Errors) {
      std::cerr << "line " << e.Line;
      if (!e.Column.empty()) std::cerr << ", column " << e.Column;
      if (!e.Field.empty()) std::cerr << ", field " << e.Field;
      std::cerr << ": " << e.Message << '\n';
    }
    const char* state = r.Committed ? "" : r.Interrupted ? " (interrupted: nothing stored)"
                                       : r.Cancelled     ? " (cancelled: nothing stored)"
                                                         : " (dry run: nothing stored)";
    std::cout << "Lines:       " << r.FirstLine << " to " << r.LastLine << " of " << opts->file << " (" << r.FileType
              << ")\n"
              << "Added:       " << r.Added << state << '\n'
              << "Overwritten: " << r.Overwritten << '\n'
              << "Skipped:     " << r.Skipped << '\n'
              << "Failed:      " << r.Failed << '\n';
    if (!opts->report.empty()) {
      std::ofstream out(opts->report);
      if (!out) {
        std::cerr << "vezi import: cannot write the report " << opts->report << '\n';
        SetExitCode(kExitError);
        return;
      }
      WriteReport(out, r, opts->file, opts->library, opts->dryRun);
    }
    SetExitCode(r.Failed > 0 || r.Cancelled || r.Interrupted ? kExitError : kExitOk);
  });
}

}  // namespace vezi
