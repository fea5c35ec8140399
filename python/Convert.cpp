// The conversion of folders of Paradox libraries from Python. The conversion runs with the interpreter lock
// released, its tables `jobs` at a time in processes of their own (see ConvertParadoxFolders); the progress
// callable is called with the lock held, in this process, before each table (table, tables done, total) and once
// at the end (None, total, total). An exception raised by the callable stops the run: the tables done so far stay
// converted, nothing is deleted, the log is written, and the exception reaches the caller.
#include <pybind11/stl.h>

#include <algorithm>
#include <exception>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>

#include "Bindings.h"
#include "convert/ConvertParadox.h"
#include "core/Exceptions.h"
#include "librarydb/OVLibConst.h"

namespace vez::python {

namespace {

class ProgressView : public TConversionView {
public:
  explicit ProgressView(const py::object& progress) : progress_(progress.is_none() ? py::object() : progress) {}
  void RunStarted(std::int32_t totalTables) override { total_ = totalTables; }
  void TableStarted(std::int32_t, std::int32_t total, const std::string& source) override {
    total_ = total;
    Call(source, done_, total);
  }
  void RunProgress(const TRunProgress& progress) override { done_ = progress.TablesDone; }
  void ShowMessage(const std::string& text) override { messages_.push_back(text); }

  void Finish(std::int32_t done) {
    try {
      Call(std::nullopt, done, std::max(total_, done));
    } catch (const Exception&) {
      // The failure is kept and raised by the caller.
    }
  }
  std::exception_ptr Failure() const { return failure_; }
  const std::vector<std::string>& Messages() const { return messages_; }

private:
  // Called without the interpreter lock.
  void Call(const std::optional<std::string>& table, std::int32_t done, std::int32_t total) {
    if (!progress_ || failure_) return;
    py::gil_scoped_acquire gil;
    try {
      progress_(table ? TextObjectOf(*table) : py::object(py::none()), done, total);
    } catch (py::error_already_set& e) {
      failure_ = std::current_exception();
      // Leaves the conversion: the run logs it, keeps every file and writes its log.
      throw Exception(std::string("the progress callback raised ") + e.what());
    }
  }

  py::object progress_;
  std::int32_t total_ = 0;
  std::int32_t done_ = 0;
  std::exception_ptr failure_;
  std::vector<std::string> messages_;
};

py::dict TableDict(const TConvertedTable& t) {
  py::dict d;
  const char* typeName = t.LibType >= 0 ? LibTypeConstantName(t.LibType) : nullptr;
  d["source"] = TextObjectOf(t.Source);
  d["target"] = TextObjectOf(t.Target);
  d["library_type"] = t.LibType;
  d["library_type_name"] = typeName ? typeName : "";
  d["converted"] = t.Outcome == TTableOutcome::Converted;
  d["outcome"] = OutcomeText(t.Outcome);
  d["reason"] = TextObjectOf(t.Reason);
  d["complete"] = t.Complete;
  d["records_in_header"] = t.RecordsInHeader;
  d["records_read"] = t.RecordsRead;
  d["records_written"] = t.RecordsWritten;
  d["text_cut"] = t.TextCut;
  d["rejected"] = t.Rejected;
  d["errors"] = t.Errors;
  d["verified"] = t.Verified;
  py::list dropped;
  for (const auto& f : t.DroppedFields) {
    py::dict field;
    field["field"] = TextObjectOf(f.Name);
    field["values"] = f.Values;
    dropped.append(field);
  }
  d["dropped_fields"] = dropped;
  d["differences"] = t.Differences;
  py::list first;
  for (const auto& c : t.FirstDifferences) {
    py::dict cell;
    cell["record"] = c.Record;
    cell["field"] = TextObjectOf(c.Field);
    cell["table"] = TextObjectOf(c.TableValue);
    cell["library"] = TextObjectOf(c.LibraryValue);
    first.append(cell);
  }
  d["first_differences"] = first;
  return d;
}

}  // namespace

py::object TextObjectOf(const std::string& text) { return py::reinterpret_steal<py::object>(TextObject(text)); }

namespace {

py::dict ReportDict(const TConversionSummary& summary, const std::vector<std::string>& messages) {
  py::list tables;
  for (const auto& t : summary.Tables) tables.append(TableDict(t));
  py::dict report;
  report["log"] = TextObjectOf(summary.LogFile);
  report["log_error"] = summary.LogError;
  report["error_lines"] = summary.ErrorLines;
  report["error_text"] = TextObjectOf(summary.ErrorText);
  report["messages"] = messages;
  report["tables"] = tables;
  py::list deleted;
  for (const auto& file : summary.Deleted) deleted.append(TextObjectOf(file));
  report["deleted"] = deleted;
  report["dry_run"] = summary.DryRun;
  return report;
}

}  // namespace

void RegisterConvert(py::module_& m) {
  m.def("convert", [](const py::object& folders, bool recursive, bool deleteOld, const py::object& progress,
                      const std::string& password, bool dryRun, const py::object& jobs) {
        const bool single = py::isinstance<py::str>(folders) || py::isinstance<py::bytes>(folders) ||
                            py::hasattr(folders, "__fspath__");
        std::vector<std::string> paths;
        if (single) {
          paths.push_back(PathArg(folders));
        } else {
          for (const py::handle folder : folders) paths.push_back(PathArg(folder));
        }
        for (const std::string& folder : paths) CheckFolder(folder);
        if (!progress.is_none() && !PyCallable_Check(progress.ptr()))
          throw py::type_error("progress must be a callable(table, done, total) or None");
        TConvertOptions options;
        options.Password = password;
        options.DryRun = dryRun;
        options.Jobs = jobs.is_none() ? static_cast<std::int32_t>(std::max(1u, std::thread::hardware_concurrency()))
                                      : jobs.cast<std::int32_t>();
        if (options.Jobs < 1) throw py::value_error("jobs must be at least 1");
        std::vector<TConversionSummary> summaries;
        ProgressView view(progress);
        {
          py::gil_scoped_release release;
          ConvertParadoxFolders(paths, recursive, deleteOld, &view, &summaries, options);
          std::int32_t tables = 0;
          for (const auto& summary : summaries) tables += static_cast<std::int32_t>(summary.Tables.size());
          view.Finish(tables);
        }
        if (view.Failure()) std::rethrow_exception(view.Failure());
        if (single) return py::object(ReportDict(summaries.front(), view.Messages()));
        py::list reports;
        for (const auto& summary : summaries) reports.append(ReportDict(summary, view.Messages()));
        return py::object(reports);
      }, py::arg("folders"), py::arg("recursive") = false, py::arg("delete_old") = false,
      py::arg("progress") = py::none(), py::arg("password") = "", py::arg("dry_run") = false,
      py::arg("jobs") = py::none(),
      "Converts the Paradox libraries of a folder, or of a list of folders (and, with recursive, of their\n"
      "subfolders) into library files and returns the report (a list of reports, one per folder, for a list):\n"
      "the log file, the number of error lines, the files deleted, and per table its source, target, library\n"
      "type, outcome, reason, record counts and what the comparison of the library with the table found\n"
      "(dropped fields, differing cells). Every library is read back and compared with its table cell for cell;\n"
      "delete_old deletes only tables whose every record and non-empty cell is in their library. A library that\n"
      "exists with records is not filled again, only compared. dry_run converts into scratch libraries and\n"
      "writes nothing in the folder: the report says what a run would do, 'complete' whether a table could be\n"
      "deleted. jobs tables are converted at once, each in a process of its own, across all folders (default:\n"
      "the number of processors; 1 converts them one after the other in this process); each folder's log reads\n"
      "the same with any number. progress, when given, is called as progress(table, done, total) as each table\n"
      "starts (done: the tables finished so far) and progress(None, n, n) at the end.");
}

}  // namespace vez::python
