// Paradox tables from Python: the fields and every record, read as `vezi dump` reads them, with the reader's
// warnings. The whole table is read with the interpreter lock released, then turned into Python values.
#include <pybind11/stl.h>

#include <optional>
#include <string>
#include <vector>

#include "Bindings.h"
#include "core/FormatSettings.h"
#include "core/TextEncoding.h"
#include "import/paradox/ParadoxDump.h"
#include "import/SMParadox.h"
#include "output/ValueText.h"

namespace vez::python {

namespace {

struct ParadoxColumn {
  std::string name;
  std::string type;
  std::int32_t size = 0;
  PyKind kind = PyKind::Text;
};

// What the reader delivered: fields, records and the warnings.
struct ParadoxContent {
  std::vector<ParadoxColumn> columns;
  std::vector<std::vector<Variant>> rows;
  std::vector<std::string> warnings;
  std::int64_t warningCount = 0;
  std::int32_t recordsPromised = 0;
  bool recordsMissing = false;
  std::int32_t codePage = 0;
  bool encrypted = false;
};

void ReadParadox(const std::string& path, const std::string& password, int codePage, bool rawText,
                 ParadoxContent& content) {
  TDBParadox reader;
  reader.RawText = rawText;
  reader.Password = password;
  reader.SourceCodePage = codePage;
  std::vector<Variant> current;
  reader.OnDimensions = [](TCustomSpreadSheetFile&, std::int32_t, std::int32_t, std::int32_t, std::int32_t,
                           std::int32_t) {};
  reader.OnCellValue = [&current](TCustomSpreadSheetFile&, std::int32_t, std::int32_t, std::int32_t column,
                                  std::int32_t, const Variant& value, TAlignment) {
    if (column >= 0 && static_cast<std::size_t>(column) < current.size()) current[static_cast<std::size_t>(column)] = value;
  };
  reader.StepLoading = true;
  reader.LoadFromFile(path);
  for (const TParadoxField& f : reader.Fields()) {
    ParadoxColumn c;
    c.name = f.Name;
    c.type = TDBParadox::GetStrFieldType(f.FieldType);
    c.size = f.Size;
    c.kind = PyKindOfField(ParadoxColumnType(f.FieldType));
    if (rawText && (f.FieldType == 1 || f.FieldType == 12)) c.kind = PyKind::Bytes;
    content.columns.push_back(std::move(c));
  }
  for (std::int32_t row = 0; row < reader.RecordCount() && !reader.ChainEnded(); ++row) {
    current.assign(content.columns.size(), Variant::Null());
    reader.LoadRecord(row);
    content.rows.push_back(std::move(current));
  }
  content.recordsPromised = reader.RecordCount();
  content.recordsMissing = reader.RecordsMissing();
  content.warnings = reader.Warnings();
  content.warningCount = reader.WarningCount();
  content.codePage = reader.TextCodePage();
  content.encrypted = reader.IsEncrypted();
  reader.AfterLoad();
}

class ParadoxTable {
public:
  ParadoxTable(py::object path, ParadoxContent content) : path_(std::move(path)), content_(std::move(content)) {
    for (const ParadoxColumn& c : content_.columns) names_.append(py::reinterpret_steal<py::object>(TextObject(c.name)));
    for (const auto& values : content_.rows) {
      py::list row;
      for (std::size_t i = 0; i < values.size(); ++i) {
        PyObject* value = VariantObject(values[i], content_.columns[i].kind);
        if (value == nullptr) throw py::error_already_set();
        row.append(py::reinterpret_steal<py::object>(value));
      }
      rows_.append(py::tuple(row));
    }
    content_.rows.clear();
  }

  py::list Fields() const {
    py::object field = py::module_::import("veziru").attr("Field");
    py::list out;
    for (const ParadoxColumn& c : content_.columns) out.append(field(names_[out.size()], c.type, c.size, false));
    return out;
  }
  py::list Records() const {
    py::list out;
    for (const py::handle row : rows_) {
      py::dict record;
      const py::tuple values = row.cast<py::tuple>();
      for (std::size_t i = 0; i < values.size(); ++i) record[names_[i]] = values[i];
      out.append(record);
    }
    return out;
  }

  const py::object& Path() const { return path_; }
  const py::list& Rows() const { return rows_; }
  const py::list& Names() const { return names_; }
  const ParadoxContent& Content() const { return content_; }

private:
  py::object path_;
  ParadoxContent content_;
  py::list names_;
  py::list rows_;
};

}  // namespace

void RegisterParadox(py::module_& m) {
  py::class_<ParadoxTable>(m, "ParadoxTable", "The fields and records of a Paradox table.")
      .def_property_readonly("path", &ParadoxTable::Path)
      .def_property_readonly("fields", &ParadoxTable::Fields,
                             "Field(name, type, size, required) of every field; type is the Paradox type name.")
      .def_property_readonly("names", &ParadoxTable::Names, "The field names.")
      .def_property_readonly("rows", &ParadoxTable::Rows, "Every record as a tuple of values, in field order.")
      .def_property_readonly("warnings", [](const ParadoxTable& t) { return t.Content().warnings; },
                             "The reader's first warnings (damaged BLOBs, missing records).")
      .def_property_readonly("warning_count", [](const ParadoxTable& t) { return t.Content().warningCount; })
      .def_property_readonly("records_missing", [](const ParadoxTable& t) { return t.Content().recordsMissing; },
                             "True when the blocks hold fewer records than the header promises.")
      .def_property_readonly("records_in_header", [](const ParadoxTable& t) { return t.Content().recordsPromised; })
      .def_property_readonly("code_page", [](const ParadoxTable& t) { return t.Content().codePage; },
                             "The code page the text was read in.")
      .def_property_readonly("encrypted", [](const ParadoxTable& t) { return t.Content().encrypted; })
      .def("__len__", [](const ParadoxTable& t) { return py::len(t.Rows()); })
      .def("__iter__", [](const ParadoxTable& t) { return py::iter(t.Records()); }, "The records as dicts.")
      .def("to_records", &ParadoxTable::Records, "Every record as a dict, in a list.")
      .def("to_pandas", [](const ParadoxTable& t) { return DataFrame(t.Records(), t.Names()); },
           "The records as a pandas DataFrame (needs pandas).")
      .def("__repr__", [](const ParadoxTable& t) {
        return "<veziru.ParadoxTable " + py::repr(t.Path()).cast<std::string>() + ", " +
               std::to_string(py::len(t.Rows())) + " records>";
      });

  m.def("read_paradox", [](const py::object& pathArg, std::optional<std::string> password,
                           std::optional<int> codePage, bool rawText) {
        if (codePage) CodePageOfNumber(*codePage);
        const std::string path = PathArg(pathArg);
        CheckFile(path);
        RequireParadoxTable(path);
        ParadoxContent content;
        {
          py::gil_scoped_release release;
          ReadParadox(path, password.value_or(std::string()), codePage.value_or(0), rawText, content);
        }
        return std::make_unique<ParadoxTable>(PathObject(path), std::move(content));
      }, py::arg("path"), py::arg("password") = py::none(), py::arg("code_page") = py::none(),
      py::arg("raw_text") = false,
      "Reads a Paradox table (.db, .run, .sdb, .tdb with its .mb; str or os.PathLike); another file raises\n"
      "veziru.Error \"... is not a Paradox table\". password: for encrypted tables;\n"
      "code_page: the text's code page when the header's is wrong; raw_text: Char and memo text as bytes\n"
      "in the table's code page instead of str.");
}

}  // namespace vez::python
