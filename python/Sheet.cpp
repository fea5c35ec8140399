// Spreadsheets and text files from Python: the grid the import reads (read_sheet), the import into a library
// (import_file, with the counts and errors of `vezi import --report`), and the import dialogs' texts.
#include <pybind11/stl.h>

#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "Bindings.h"
#include "core/FormatSettings.h"
#include "core/TextEncoding.h"
#include "import/Impcnst.h"
#include "import/XLS_ASCII_Import.h"
#include "import/mapping/LibraryImport.h"

namespace vez::python {

namespace {

struct SheetContent {
  std::string fileType;
  std::vector<std::vector<std::string>> rows;
  std::vector<std::string> columns;
};

void CheckCodePage(const std::optional<int>& codePage) {
  if (codePage && (*codePage <= 0 || !CodePageSupported(*codePage)))
    throw py::value_error("code page " + std::to_string(*codePage) +
                          " cannot be converted (give a Windows code page number such as 1252, 850 or 1251)");
}

py::object JsonValue(const std::string& text) { return py::module_::import("json").attr("loads")(text); }

class Sheet {
public:
  Sheet(std::string path, SheetContent content) : path_(std::move(path)), content_(std::move(content)) {
    for (const auto& values : content_.rows) {
      py::list row;
      for (const std::string& v : values) row.append(TextObjectOf(v));
      rows_.append(row);
    }
    content_.rows.clear();
    for (const std::string& c : content_.columns) columns_.append(TextObjectOf(c));
  }
  const std::string& Path() const { return path_; }
  const std::string& FileType() const { return content_.fileType; }
  const py::list& Rows() const { return rows_; }
  const py::list& Columns() const { return columns_; }

private:
  std::string path_;
  SheetContent content_;
  py::list rows_, columns_;
};

SheetContent ReadSheet(const std::string& path, int codePage) {
  TXLSASCIIImport loader;
  loader.TextCodePage = codePage;
  TStringGrid view;
  loader.DoImport(view, path);
  SheetContent content;
  content.fileType = loader.FileType();
  for (std::int32_t c = 1; c <= loader.GetLastCol(); ++c) content.columns.push_back(loader.GetTextRC(c, 0));
  for (std::int32_t r = 1; r <= loader.GetLastRow(); ++r) {
    std::vector<std::string> row;
    row.reserve(content.columns.size());
    for (std::int32_t c = 1; c <= loader.GetLastCol(); ++c) row.push_back(loader.GetTextRC(c, r));
    content.rows.push_back(std::move(row));
  }
  return content;
}

std::vector<std::pair<std::string, std::string>> Pairs(const std::optional<std::map<std::string, std::string>>& map) {
  std::vector<std::pair<std::string, std::string>> out;
  if (map) out.assign(map->begin(), map->end());
  return out;
}

}  // namespace

void RegisterSheet(py::module_& m) {
  py::class_<Sheet>(m, "Sheet", "The first worksheet of a workbook, or a tab-separated text file, as texts.")
      .def_property_readonly("path", &Sheet::Path)
      .def_property_readonly("file_type", &Sheet::FileType,
                             "\"Excel 2.1\" .. \"Excel 97\", \"Excel 2007\" or \"ASCII\" for text.")
      .def_property_readonly("rows", &Sheet::Rows,
                             "Every row from the first (line 1, A1) to the last used one, as a list of texts, one "
                             "per column from A to the last used column ('' for an empty cell).")
      .def_property_readonly("columns", &Sheet::Columns, "The column letters.")
      .def("__len__", [](const Sheet& s) { return py::len(s.Rows()); })
      .def("__iter__", [](const Sheet& s) { return py::iter(s.Rows()); })
      .def("to_pandas", [](const Sheet& s) {
        return py::module_::import("pandas").attr("DataFrame")(s.Rows(), py::arg("columns") = s.Columns());
      }, "The rows as a pandas DataFrame of texts with the column letters as columns (needs pandas).")
      .def("__repr__", [](const Sheet& s) {
        return "<veziru.Sheet '" + s.Path() + "', " + s.FileType() + ", " + std::to_string(py::len(s.Rows())) + " rows>";
      });

  m.def("read_sheet", [](const py::object& pathArg, std::optional<int> codePage) {
        const std::string path = PathArg(pathArg);
        CheckCodePage(codePage);
        CheckFile(path);
        SheetContent content;
        {
          py::gil_scoped_release release;
          content = ReadSheet(path, codePage.value_or(1252));
        }
        return std::make_unique<Sheet>(path, std::move(content));
      }, py::arg("path"), py::arg("code_page") = py::none(),
      "Reads the first worksheet of an .xls or .xlsx workbook, or a tab-separated text file (the content\n"
      "decides), as the import sees it: cells as texts. code_page: of a text file that is neither UTF-8 nor\n"
      "starts with a byte order mark (default 1252).");

  m.def("import_file", [](const py::object& pathArg, const py::object& libraryArg, const py::object& type,
                          std::optional<std::map<std::string, std::string>> map,
                          std::optional<std::map<std::string, std::string>> fix, bool autoLink, int start,
                          std::optional<int> stop, const std::string& onExists, bool dryRun,
                          std::optional<int> codePage) {
        const std::string path = PathArg(pathArg);
        TLibraryImportOptions o;
        o.FileName = path;
        o.LibraryFile = PathArg(libraryArg);
        if (!type.is_none()) {
          const std::optional<std::int32_t> code = LibTypeArg(type);
          if (!code) throw py::value_error("unknown library type " + py::str(type).cast<std::string>());
          o.LibType = *code;
        }
        o.Maps = Pairs(map);
        o.Fixes = Pairs(fix);
        o.AutoLink = autoLink;
        if (!autoLink && o.Maps.empty()) throw py::value_error("give map={field: column} or auto_link=True");
        if (start < 1) throw py::value_error("start is a line number from 1");
        if (stop && *stop < 1) throw py::value_error("stop is a line number from 1");
        o.StartLine = start;
        o.StopLine = stop.value_or(0);
        o.DryRun = dryRun;
        CheckCodePage(codePage);
        o.TextCodePage = codePage.value_or(1252);
        TOnExists answer = TOnExists::Skip;
        if (onExists == "overwrite") answer = TOnExists::Overwrite;
        else if (onExists == "rename") answer = TOnExists::Rename;
        else if (onExists != "skip") throw py::value_error("on_exists is \"skip\", \"overwrite\" or \"rename\"");
        CheckFile(path);
        std::ostringstream report;
        {
          py::gil_scoped_release release;
          TAnsweringDialogs dialogs(answer);
          const TLibraryImportResult r = ImportIntoLibrary(o, dialogs);
          WriteImportReport(report, r, o);
        }
        return JsonValue(report.str());
      }, py::arg("path"), py::arg("library"), py::arg("type") = py::none(), py::arg("map") = py::none(),
      py::arg("fix") = py::none(), py::arg("auto_link") = false, py::arg("start") = 2, py::arg("stop") = py::none(),
      py::arg("on_exists") = "skip", py::arg("dry_run") = false, py::arg("code_page") = py::none(),
      "Imports the lines of a workbook or text file into a library (created with its type's layout when\n"
      "missing), as `vezi import` does: map {field: column letter} and fix {field: text} link first, auto_link\n"
      "then links the remaining columns whose header text (the lines above start) names a field; lines start\n"
      "to stop (default: to the end); on_exists: skip, overwrite or rename (Name (2)). Returns the report of\n"
      "`vezi import --report` as a dict (added, overwritten, skipped, failed, empty_lines, errors, ...). A run\n"
      "that cannot start raises veziru.Error.");

  m.def("import_texts", [] {
        std::ostringstream out;
        WriteImportTextsJson(out);
        return JsonValue(out.str());
      }, "The texts of the import dialogs and of the import wizard: {\"dialogs\": {...}, \"wizard\": {...}}.");
}

}  // namespace vez::python
