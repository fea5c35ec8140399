// vezi convert: converts a folder of old Paradox libraries into library files, with progress, a summary and an
// optional JSON report.
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>

#include <nlohmann/json.hpp>

#include "Commands.h"
#include "convert/ConvertParadox.h"
#include "librarydb/OVLibConst.h"

namespace vezi {

namespace {

// Shows the run on a terminal: one status line on standard error, rewritten in place. Silent when standard
// error is not a terminal.
class TerminalView : public vez::TConversionView {
public:
  explicit TerminalView(bool enabled) : enabled_(enabled) {}

  void SetFolderText(const std::string& text) override { folder_ = text; }
  void RunStarted(std::int32_t totalTables) override { total_ = totalTables; }
  void TableStarted(std::int32_t index, std::int32_t total, const std::string& source) override {
    index_ = index;
    total_ = total;
    source_ = source;
    done_ = 0;
    records_ = 0;
    Draw();
  }
  void RecordProgress(std::int32_t done, std::int32_t total) override {
    done_ = done;
    records_ = total;
    Draw();
  }
  void ShowMessage(const std::string& text) override { messages_.push_back(text); }
  void Hide() override {
    if (enabled_ && drawn_) std::fprintf(stderr, "\r\033[K");
  }
  const std::vector<std::string>& Messages() const { return messages_; }

private:
  void Draw() {
    if (!enabled_) return;
    std::string line = "table " + std::to_string(index_) + " of " + std::to_string(total_) + ": " + source_;
    if (records_ > 0) line += "  records " + std::to_string(done_) + "/" + std::to_string(records_);
    std::fprintf(stderr, "\r\033[K%s", line.c_str());
    std::fflush(stderr);
    drawn_ = true;
  }

  bool enabled_;
  bool drawn_ = false;
  std::string folder_, source_;
  std::int32_t index_ = 0, total_ = 0, done_ = 0, records_ = 0;
  std::vector<std::string> messages_;
};

nlohmann::json ReportJson(const vez::TConversionSummary& summary) {
  nlohmann::json tables = nlohmann::json::array();
  for (const auto& t : summary.Tables) {
    tables.push_back({{"source", t.Source},
                      {"target", t.Target},
                      {"library_type", t.LibType},
                      {"library_type_name", t.LibType >= 0 && vez::LibTypeConstantName(t.LibType)
                                                ? vez::LibTypeConstantName(t.LibType)
                                                : ""},
                      {"converted", t.Converted},
                      {"records_read", t.RecordsRead},
                      {"records_written", t.RecordsWritten},
                      {"errors", t.Errors}});
  }
  return {{"log", summary.LogFile}, {"error_lines", summary.ErrorLines}, {"tables", tables}};
}

}  // namespace

void RegisterConvertCommands(CLI::App& app) {
  struct Options {
    std::string folder;
    bool recursive = false;
    bool deleteOld = false;
    std::string report;
  };
  auto opts = std::make_shared<Options>();
  auto* cmd = app.add_subcommand("convert", "Convert the Paradox libraries of a folder into library files");
  cmd->add_option("FOLDER", opts->folder, "Folder holding the Paradox tables (.db, .run, .sdb, .tdb)")
      ->required();
  cmd->add_flag("-r,--recursive", opts->recursive, "Also convert the subfolders");
  cmd->add_flag("--delete-old", opts->deleteOld,
                "Delete the converted Paradox tables and their companion files afterwards");
  cmd->add_option("--report", opts->report, "Write a JSON report of every table to this file");
  cmd->footer("The log of every run is appended to Convert.log in FOLDER. The exit code is 1 when an error was "
              "logged.");
  cmd->callback([opts] {
    std::error_code ec;
    if (!std::filesystem::is_directory(opts->folder, ec)) {
      std::cerr << "vezi: the folder \"" << opts->folder << "\" does not exist\n";
      SetExitCode(kExitError);
      return;
    }
    TerminalView view(isatty(fileno(stderr)) != 0);
    vez::TConversionSummary summary;
    vez::ConvertParadoxFiles(opts->folder, opts->recursive, opts->deleteOld, &view, &summary);

    std::int64_t read = 0, written = 0;
    int converted = 0, noLibrary = 0;
    for (const auto& t : summary.Tables) {
      read += t.RecordsRead;
      written += t.RecordsWritten;
      converted += t.Converted ? 1 : 0;
      noLibrary += t.LibType < 0 ? 1 : 0;
    }
    std::cout << "Tables converted: " << converted << " of " << summary.Tables.size() << '\n'
              << "Not a library:    " << noLibrary << " (left as they are)\n"
              << "Records written:  " << written << " of " << read << '\n'
              << "Errors logged:    " << summary.ErrorLines << '\n'
              << "Log:              " << summary.LogFile << '\n';
    for (const auto& m : view.Messages()) std::cerr << "vezi: " << m << '\n';
    if (!opts->report.empty()) {
      std::ofstream out(opts->report);
      if (!out) {
        std::cerr << "vezi: cannot write the report " << opts->report << '\n';
        SetExitCode(kExitError);
        return;
      }
      out << ReportJson(summary).dump(2) << '\n';
    }
    SetExitCode(summary.ErrorLines > 0 || !summary.ErrorText.empty() ? kExitError : kExitOk);
  });
}

}  // namespace vezi
