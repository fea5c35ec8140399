// vezi convert: converts a folder of old Paradox libraries into library files, with progress, a summary and an
// optional JSON report.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <thread>

#include "Commands.h"
#include "Conventions.h"
#include "convert/ConvertParadox.h"
#include "core/CaseFold.h"
#include "core/Exceptions.h"
#include "core/TextEncoding.h"
#include "librarydb/OVLibConst.h"
#include "output/JsonWriter.h"

namespace vezi {

namespace {

// Shows the run on a terminal: one status line on standard error, rewritten in place at most ten times a second.
// Silent when standard error is not a terminal.
class TerminalView : public vez::TConversionView {
public:
  explicit TerminalView(bool enabled) : enabled_(enabled) {}

  void TableStarted(std::int32_t, std::int32_t, const std::string& source) override { source_ = source; }
  void RunProgress(const vez::TRunProgress& p) override {
    if (!enabled_) return;
    const auto now = std::chrono::steady_clock::now();
    if (drawn_ && now - last_ < std::chrono::milliseconds(100) && p.TablesDone < p.TablesTotal) return;
    last_ = now;
    std::string line = "tables " + std::to_string(p.TablesDone) + " of " + std::to_string(p.TablesTotal);
    if (p.TablesRunning > 1) line += " (" + std::to_string(p.TablesRunning) + " running)";
    line += ", " + std::to_string(p.Records) + " records";
    if (p.Seconds > 0.5) line += ", " + std::to_string(static_cast<long long>(p.Records / p.Seconds)) + " records/s";
    if (p.TablesRunning == 1) line += ": " + source_;
    std::fprintf(stderr, "\r\033[K%s", line.c_str());
    std::fflush(stderr);
    drawn_ = true;
  }
  void ShowMessage(const std::string& text) override { messages_.push_back(text); }
  void Hide() override {
    if (enabled_ && drawn_) std::fprintf(stderr, "\r\033[K");
  }
  const std::vector<std::string>& Messages() const { return messages_; }

private:
  bool enabled_;
  bool drawn_ = false;
  std::chrono::steady_clock::time_point last_;
  std::string source_;
  std::vector<std::string> messages_;
};

// The report, members in name order. Names that are not valid UTF-8 keep each such byte as the character of
// the same number, so the report stays whole and readable.
void WriteReport(vez::JsonWriter& json, const vez::TConversionSummary& summary) {
  json.BeginObject().Key("deleted").BeginArray();
  for (const auto& file : summary.Deleted) json.String(file);
  json.EndArray()
      .Member("dry_run", summary.DryRun)
      .Member("error_lines", summary.ErrorLines)
      .Member("interrupted", summary.Interrupted)
      .Member("log", summary.LogFile)
      .Member("log_error", summary.LogError)
      .Key("tables")
      .BeginArray();
  for (const auto& t : summary.Tables) {
    const char* typeName = t.LibType >= 0 ? vez::LibTypeConstantName(t.LibType) : nullptr;
    json.BeginObject()
        .Member("complete", t.Complete)
        .Member("converted", t.Outcome == vez::TTableOutcome::Converted)
        .Member("differences", t.Differences)
        .Key("dropped_fields")
        .BeginArray();
    for (const auto& d : t.DroppedFields) json.BeginObject().Member("field", d.Name).Member("values", d.Values).EndObject();
    json.EndArray().Member("errors", t.Errors).Key("first_differences").BeginArray();
    for (const auto& d : t.FirstDifferences) {
      json.BeginObject()
          .Member("field", d.Field)
          .Member("library", d.LibraryValue)
          .Member("record", d.Record)
          .Member("table", d.TableValue)
          .EndObject();
    }
    json.EndArray()
        .Member("library_type", t.LibType)
        .Member("library_type_name", typeName ? typeName : "")
        .Member("outcome", vez::OutcomeText(t.Outcome))
        .Member("reason", t.Reason)
        .Member("records_in_header", t.RecordsInHeader)
        .Member("records_read", t.RecordsRead)
        .Member("records_written", t.RecordsWritten)
        .Member("rejected", t.Rejected)
        .Member("source", t.Source)
        .Member("target", t.Target)
        .Member("text_cut", t.TextCut)
        .Member("verified", t.Verified)
        .EndObject();
  }
  json.EndArray().EndObject();
}

// The report of a run: the folder's report, or {"folders": [...]} with one per folder.
void WriteReport(std::ostream& out, const std::vector<vez::TConversionSummary>& summaries) {
  vez::JsonWriter json(out, vez::JsonWriter::Layout::Indented);
  if (summaries.size() == 1) {
    WriteReport(json, summaries.front());
  } else {
    json.BeginObject().Key("folders").BeginArray();
    for (const auto& summary : summaries) WriteReport(json, summary);
    json.EndArray().EndObject();
  }
  out << '\n';
}

// The number of processors, the default number of jobs.
int Processors() { return std::max(1u, std::thread::hardware_concurrency()); }

// What a dry run found for one table: its library, what would be lost, and whether it could be deleted.
void PrintDryRunTable(const vez::TConvertedTable& t) {
  const char* typeName = t.LibType >= 0 ? vez::LibTypeConstantName(t.LibType) : nullptr;
  std::cout << "  " << t.Source;
  if (typeName) std::cout << " -> " << t.Target << " (" << typeName << ")";
  std::cout << ": " << vez::OutcomeText(t.Outcome);
  if (!t.DroppedFields.empty()) {
    std::cout << "; fields dropped:";
    for (std::size_t i = 0; i < t.DroppedFields.size(); ++i) std::cout << (i ? ", " : " ") << t.DroppedFields[i].Name;
  }
  if (t.Rejected > 0) std::cout << "; values rejected: " << t.Rejected;
  if (t.TextCut > 0) std::cout << "; texts cut: " << t.TextCut;
  if (t.Differences > 0) std::cout << "; values that would differ: " << t.Differences;
  std::cout << "; could be deleted: " << (t.Complete ? "yes" : "no") << '\n';
}

}  // namespace

void RegisterConvertCommands(CLI::App& app) {
  struct Options {
    std::vector<std::string> folders;
    int jobs = Processors();
    bool recursive = false;
    bool deleteOld = false;
    std::string report;
    std::string password;
    bool dryRun = false;
  };
  auto opts = std::make_shared<Options>();
  auto* cmd = app.add_subcommand("convert", "Convert the Paradox libraries of folders into library files");
  cmd->add_option("FOLDER", opts->folders, "Folders holding the Paradox tables (.db, .run, .sdb, .tdb)")
      ->required();
  cmd->add_option("-j,--jobs", opts->jobs,
                  "Tables converted at once, each in a process of its own, across all folders given (default: the "
                  "number of processors); 1 converts them one after the other")
      ->check(CLI::PositiveNumber);
  cmd->add_flag("-r,--recursive", opts->recursive, "Also convert the subfolders");
  cmd->add_flag("--delete-old", opts->deleteOld,
                "Delete the converted Paradox tables and their companion files afterwards");
  cmd->add_option("--report", opts->report, "Write a JSON report of every table to this file");
  cmd->add_option("--password", opts->password, "Password of encrypted Paradox tables");
  cmd->add_flag("--dry-run", opts->dryRun,
                "Show what a run would do to each table (its library, fields dropped, values rejected, whether it "
                "could be deleted) without writing or deleting anything");
  cmd->footer("The log of every run is appended to Convert.log in each FOLDER; it reads the same with any number "
              "of jobs, apart from times. Every library is read back and compared "
              "with its Paradox table cell for cell; --delete-old deletes a Paradox table only when every record "
              "and every non-empty cell is in its library. A library that exists already with records is not "
              "converted again, only compared; an empty one is filled. Ctrl-C stops the run after rolling back the "
              "current table (exit code 130). The exit code is 1 when an error was logged or the log cannot be "
              "written.");
  cmd->callback([opts] {
    std::error_code ec;
    for (const std::string& folder : opts->folders) {
      if (!std::filesystem::is_directory(folder, ec)) {
        if (std::filesystem::exists(folder, ec)) throw vez::Exception("\"" + folder + "\" is a file, not a folder");
        throw vez::Exception("the folder \"" + folder + "\" does not exist");
      }
    }
    TerminalView view(isatty(fileno(stderr)) != 0);
    std::vector<vez::TConversionSummary> summaries;
    vez::TConvertOptions options;
    options.Password = opts->password;
    options.DryRun = opts->dryRun;
    options.Jobs = opts->jobs;
    options.Interrupted = [] { return InterruptScope::Interrupted(); };
    try {
      InterruptScope interrupts;
      vez::ConvertParadoxFolders(opts->folders, opts->recursive, opts->deleteOld, &view, &summaries, options);
    } catch (const vez::Exception& e) {  // folders given twice or inside each other
      PrintError(e.what());
      SetExitCode(kExitUsage);
      return;
    }
    vez::TConversionSummary summary;  // the whole run
    for (const auto& s : summaries) {
      summary.Tables.insert(summary.Tables.end(), s.Tables.begin(), s.Tables.end());
      summary.Deleted.insert(summary.Deleted.end(), s.Deleted.begin(), s.Deleted.end());
      summary.ErrorLines += s.ErrorLines;
      summary.DryRun = s.DryRun;
      summary.Interrupted = summary.Interrupted || s.Interrupted;
      if (summary.ErrorText.empty()) summary.ErrorText = s.ErrorText;
      if (summary.LogError.empty()) summary.LogError = s.LogError;
    }

    std::int64_t read = 0, written = 0;
    int converted = 0, noLibrary = 0, skipped = 0;
    for (const auto& t : summary.Tables) {
      if (t.Outcome == vez::TTableOutcome::Skipped) {
        ++skipped;
        continue;
      }
      read += t.RecordsInHeader;
      written += t.RecordsWritten;
      converted += t.Outcome == vez::TTableOutcome::Converted ? 1 : 0;
      noLibrary += t.Outcome == vez::TTableOutcome::NoLibraryType ? 1 : 0;
    }
    if (summary.DryRun) std::cout << "Dry run: nothing was written or deleted; the figures are what a run would do.\n";
    std::cout << "Tables converted: " << converted << " of " << summary.Tables.size() << '\n'
              << "Skipped:          " << skipped << " (library exists)\n"
              << "Not a library:    " << noLibrary << " (left as they are)\n"
              << "Records written:  " << written << " of " << read << '\n'
              << "Errors logged:    " << summary.ErrorLines << '\n';
    for (const auto& s : summaries)
      std::cout << "Log:              " << (s.DryRun ? std::string("not written (dry run)") : s.LogFile) << '\n';
    if (summary.DryRun) {
      std::cout << "Tables:\n";
      for (const auto& t : summary.Tables) PrintDryRunTable(t);
    } else {
      // Tables whose library exists are listed apart: nothing went wrong with them.
      for (const bool listSkipped : {true, false}) {
        bool heading = false;
        for (const auto& t : summary.Tables) {
          if (t.Outcome == vez::TTableOutcome::Converted || (t.Outcome == vez::TTableOutcome::Skipped) != listSkipped)
            continue;
          if (!heading) std::cout << (listSkipped ? "Skipped:\n" : "Not converted:\n");
          heading = true;
          // A reason that begins with the outcome ("failed: ...") is the whole text.
          const std::string outcome = vez::OutcomeText(t.Outcome);
          std::cout << "  " << t.Source << ": "
                    << (t.Reason.rfind(outcome, 0) == 0 ? t.Reason
                        : t.Reason.empty()              ? outcome
                                                        : outcome + " (" + t.Reason + ")")
                    << '\n';
        }
      }
    }
    if (!summary.Deleted.empty()) {
      std::cout << "Deleted:\n";
      for (const auto& file : summary.Deleted) std::cout << "  " << file << '\n';
    }
    if (summary.Interrupted)
      std::cout << "Interrupted: the tables after the last one listed were not converted; nothing was deleted.\n";
    for (const auto& m : view.Messages()) PrintError(m);
    if (!opts->report.empty()) {
      const std::string error = WriteReportFile(opts->report, [&](std::ostream& out) { WriteReport(out, summaries); });
      if (!error.empty()) throw vez::Exception(error);
    }
    const bool failed = summary.ErrorLines > 0 || !summary.ErrorText.empty() || !summary.LogError.empty();
    SetExitCode(summary.Interrupted ? kExitInterrupted : failed ? kExitError : kExitOk);
  });
}

}  // namespace vezi
