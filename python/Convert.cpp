// The conversion of a folder of Paradox libraries from Python. The conversion runs with the interpreter lock
// released; the progress callable is called with the lock held, before each table (table, done, total) and
// once at the end (None, total, total). An exception raised by the callable stops the run: the tables done so
// far stay converted, nothing is deleted, the log is written, and the exception reaches the caller.
#include <pybind11/stl.h>

#include <algorithm>
#include <exception>
#include <filesystem>
#include <optional>
#include <string>

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
  void TableStarted(std::int32_t index, std::int32_t total, const std::string& source) override {
    total_ = total;
    Call(source, index - 1, total);
  }
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
  d["errors"] = t.Errors;
  return d;
}

}  // namespace

py::object TextObjectOf(const std::string& text) { return py::reinterpret_steal<py::object>(TextObject(text)); }

void RegisterConvert(py::module_& m) {
  m.def("convert", [](const py::object& folderArg, bool recursive, bool deleteOld, const py::object& progress,
                      const std::string& password) {
        const std::string folder = PathArg(folderArg);
        CheckFolder(folder);
        if (!progress.is_none() && !PyCallable_Check(progress.ptr()))
          throw py::type_error("progress must be a callable(table, done, total) or None");
        TConversionSummary summary;
        ProgressView view(progress);
        {
          py::gil_scoped_release release;
          ConvertParadoxFiles(folder, recursive, deleteOld, &view, &summary, password);
          view.Finish(static_cast<std::int32_t>(summary.Tables.size()));
        }
        if (view.Failure()) std::rethrow_exception(view.Failure());
        py::list tables;
        for (const auto& t : summary.Tables) tables.append(TableDict(t));
        py::dict report;
        report["log"] = TextObjectOf(summary.LogFile);
        report["log_error"] = summary.LogError;
        report["error_lines"] = summary.ErrorLines;
        report["error_text"] = TextObjectOf(summary.ErrorText);
        report["messages"] = view.Messages();
        report["tables"] = tables;
        return report;
      }, py::arg("folder"), py::arg("recursive") = false, py::arg("delete_old") = false,
      py::arg("progress") = py::none(), py::arg("password") = "",
      "Converts the Paradox libraries of a folder (and, with recursive, of its subfolders) into library\n"
      "files and returns the report: the log file, the number of error lines, and per table its source,\n"
      "target, library type, outcome, reason and record counts. A library that exists with records is not\n"
      "filled again; delete_old deletes only tables whose records are all in their library. progress, when\n"
      "given, is called as progress(table, done, total) before each table and progress(None, n, n) at the end.");
}

}  // namespace vez::python
