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
  std::string sheet;
  std::vector<std::string> sheets;
  char separator = 0;
  std::vector<std::vector<std::string>> rows;
  std::vector<std::string> columns;
};

void CheckTextLimit(std::int64_t mb) { TextLimitOfNumber(mb); }

void CheckCodePage(const std::optional<int>& codePage) {
  if (codePage) CodePageOfNumber(*codePage);
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
  const SheetContent& Content() const { return content_; }
  const py::list& Rows() const { return rows_; }
  const py::list& Columns() const { return columns_; }

private:
  std::string path_;
  SheetContent content_;
  py::list rows_, columns_;
};

// A separator as Python names it: "tab", "," or ";".
// An option word read by the library's rule; a word it does not know is a ValueError with the library's message.
template <typename Parse>
auto OptionWord(Parse parse, const std::string& text) {
  try {
    return parse(text);
  } catch (const vez::Exception& e) {
    throw py::value_error(e.what());
  }
}

char SeparatorArg(const std::optional<std::string>& text) { return text ? OptionWord(SeparatorOfWord, *text) : 0; }

std::string SheetArg(const py::object& sheet) {
  if (sheet.is_none()) return {};
  if (PyLong_Check(sheet.ptr()) && !PyBool_Check(sheet.ptr())) {
    const long long n = sheet.cast<long long>();
    if (n < 1) throw py::value_error("a sheet number counts from 1");
    return std::to_string(n);
  }
  if (!PyUnicode_Check(sheet.ptr())) throw py::type_error("sheet is a name (str) or a number from 1 (int)");
  return Utf8(sheet);
}

SheetContent ReadSheet(const std::string& path, int codePage, char separator, const std::string& sheet,
                       std::int64_t textLimitMB) {
  TXLSASCIIImport loader;
  loader.TextCodePage = codePage;
  loader.MaxTextBytes = textLimitMB << 20;
  loader.TextSeparator = separator;
  loader.Sheet = sheet;
  TStringGrid view;
  loader.DoImport(view, path);
  SheetContent content;
  content.fileType = loader.FileType();
  content.sheet = loader.SheetName();
  content.sheets = loader.SheetNames();
  content.separator = loader.Separator();
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
      .def_property_readonly("sheet", [](const Sheet& s) { return s.Content().sheet; },
                             "The name of the sheet read ('' for a text file).")
      .def_property_readonly("sheets", [](const Sheet& s) { return s.Content().sheets; },
                             "The names of the workbook's sheets, in order ([] for a text file).")
      .def_property_readonly("separator", [](const Sheet& s) -> py::object {
        const char c = s.Content().separator;
        return c == 0 ? py::object(py::none()) : py::object(py::str(c == '\t' ? "tab" : std::string(1, c)));
      }, "The field separator of a text file (\"tab\", \",\" or \";\"), None for a workbook.")
      .def("__len__", [](const Sheet& s) { return py::len(s.Rows()); })
      .def("__iter__", [](const Sheet& s) { return py::iter(s.Rows()); })
      .def("to_pandas", [](const Sheet& s) {
        return py::module_::import("pandas").attr("DataFrame")(s.Rows(), py::arg("columns") = s.Columns());
      }, "The rows as a pandas DataFrame of texts with the column letters as columns (needs pandas).")
      .def("__repr__", [](const Sheet& s) {
        return "<veziru.Sheet '" + s.Path() + "', " + s.FileType() + ", " + std::to_string(py::len(s.Rows())) + " rows>";
      });

  m.def("read_sheet", [](const py::object& pathArg, std::optional<int> codePage, const py::object& sheetArg,
                         std::optional<std::string> separatorArg, std::int64_t textLimit) {
        const std::string path = PathArg(pathArg);
        CheckCodePage(codePage);
        CheckTextLimit(textLimit);
        const std::string sheet = SheetArg(sheetArg);
        const char separator = SeparatorArg(separatorArg);
        CheckFile(path);
        SheetContent content;
        {
          py::gil_scoped_release release;
          content = ReadSheet(path, codePage.value_or(0), separator, sheet, textLimit);
        }
        return std::make_unique<Sheet>(path, std::move(content));
      }, py::arg("path"), py::arg("code_page") = py::none(), py::kw_only(), py::arg("sheet") = py::none(),
      py::arg("separator") = py::none(), py::arg("text_limit") = kDefaultMaxGridTextMB,
      "Reads a worksheet of an .xls or .xlsx workbook (sheet: its name or number from 1; default the first), or a\n"
      "text file separated by tabs, commas or semicolons (separator: \"tab\", \",\" or \";\"; default detected),\n"
      "as the import sees it: cells as texts. The content decides which. code_page: of a text file that is\n"
      "neither UTF-8 nor starts with a byte order mark (without it such a file raises veziru.Error naming its\n"
      "first byte that is no UTF-8); text_limit: the most text in MB the cells may hold (default 1024).");

  m.def("import_file", [](const py::object& pathArg, const py::object& libraryArg, const py::object& type,
                          std::optional<std::map<std::string, std::string>> map,
                          std::optional<std::map<std::string, std::string>> fix, bool autoLink,
                          std::optional<int> start,
                          std::optional<int> stop, const std::string& onExists, bool dryRun,
                          std::optional<int> codePage, const py::object& sheetArg,
                          std::optional<std::string> separatorArg, std::optional<std::string> decimalArg,
                          const py::object& mappingArg, std::int64_t textLimit) {
        const std::string path = PathArg(pathArg);
        TLibraryImportOptions o;
        o.FileName = path;
        o.LibraryFile = PathArg(libraryArg);
        if (!type.is_none()) {
          o.LibType = LibTypeArg(type);
        }
        o.Maps = Pairs(map);
        o.Fixes = Pairs(fix);
        o.AutoLink = autoLink;
        if (!mappingArg.is_none()) {
          // A mapping: a file (str or os.PathLike) or its content as a dict; the other arguments given win.
          const TImportMapping mapping =
              PyDict_Check(mappingArg.ptr())
                  ? ParseImportMapping(py::module_::import("json").attr("dumps")(mappingArg).cast<std::string>())
                  : ReadImportMapping(PathArg(mappingArg));
          ApplyImportMapping(o, mapping);
          if (!start && mapping.StartLine > 0) start = mapping.StartLine;
          if (!stop && mapping.StopLine > 0) stop = mapping.StopLine;
          if (!codePage && mapping.CodePage > 0) codePage = mapping.CodePage;
        }
        if (!autoLink && o.Maps.empty() && mappingArg.is_none())
          throw py::value_error("give map={field: column}, auto_link=True or mapping=");
        if (start && *start < 1) throw py::value_error("start is a line number from 1");
        if (stop && *stop < 1) throw py::value_error("stop is a line number from 1");
        o.StartLine = start.value_or(2);
        o.StopLine = stop.value_or(0);
        o.DryRun = dryRun;
        CheckCodePage(codePage);
        o.TextCodePage = codePage.value_or(0);
        CheckTextLimit(textLimit);
        o.TextLimitMB = textLimit;
        if (!sheetArg.is_none()) o.Sheet = SheetArg(sheetArg);
        if (separatorArg) o.Separator = SeparatorArg(separatorArg);
        if (decimalArg) o.DecimalSeparator = OptionWord(DecimalSeparatorOfWord, *decimalArg);
        const std::optional<TOnExists> word = OptionWord(OnExistsOfWord, onExists);
        if (!word) throw py::value_error("on_exists \"ask\" needs someone to ask: give \"overwrite\", \"skip\" or \"rename\"");
        const TOnExists answer = *word;
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
      py::arg("fix") = py::none(), py::arg("auto_link") = false, py::arg("start") = py::none(), py::arg("stop") = py::none(),
      py::arg("on_exists") = "skip", py::arg("dry_run") = false, py::arg("code_page") = py::none(), py::kw_only(),
      py::arg("sheet") = py::none(), py::arg("separator") = py::none(), py::arg("decimal_separator") = py::none(),
      py::arg("mapping") = py::none(), py::arg("text_limit") = kDefaultMaxGridTextMB,
      "Imports the lines of a workbook or text file into a library (created with its type's layout when\n"
      "missing), as `vezi import` does: map {field: column letter} and fix {field: text} link first, auto_link\n"
      "then links the remaining columns whose header text (the lines above start) names a field; lines start\n"
      "to stop (default: to the end); on_exists: skip, overwrite or rename (Name (2)); sheet (name or number\n"
      "from 1), separator (\"tab\", \",\", \";\"; detected), decimal_separator (\",\" in a \";\" file, else \".\"),\n"
      "code_page, text_limit (MB of text the file's cells may hold, default 1024); mapping: a saved mapping (file or dict) whose links and options the other arguments\n"
      "override. Returns the report of\n"
      "`vezi import --report` as a dict (added, overwritten, skipped, failed, empty_lines, errors, ...). A run\n"
      "that cannot start raises veziru.Error.");

  m.def("import_texts", [] {
        std::ostringstream out;
        WriteImportTextsJson(out);
        return JsonValue(out.str());
      }, "The texts of the import dialogs and of the import wizard: {\"dialogs\": {...}, \"wizard\": {...}}.");
}

}  // namespace vez::python
