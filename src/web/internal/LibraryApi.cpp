// The library pages: a library's fields and indexes, its records page by page in the order of an index, the
// search on the name index, one record, and editing, adding and deleting records, each in one transaction.
#include <algorithm>
#include <atomic>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

#include <fmt/compile.h>
#include <fmt/format.h>

#include "core/CaseFold.h"
#include "core/FormatSettings.h"
#include "librarydb/ElementBands.h"
#include "librarydb/LibraryFile.h"
#include "librarydb/OVLibConst.h"
#include "librarydb/RecordRules.h"
#include "output/LibraryExport.h"
#include "output/ValueText.h"
#include "web/internal/Library.h"
#include "web/internal/LibraryCache.h"

namespace vez::web {

namespace fs = std::filesystem;

// ---- TOpenLibrary ----

TOpenLibrary::TOpenLibrary(const fs::path& file, bool writable) {
  static std::atomic<int> counter{0};
  const std::string alias = "web_" + std::to_string(++counter);
  const std::string name = file.filename().string();
  database_.SetDatabaseName(alias);
  database_.SetDatabaseFileName(file.string());
  database_.SetReadOnly(!writable);
  table_.SetDatabaseName(alias);
  table_.SetTableName(name);
  table_.SetReadOnly(!writable);
  bool found = false;
  for (const std::string& t : database_.GetTablesList()) found = found || SameText(t, name);
  if (!found) throw Exception("\"" + name + "\" holds no library table named \"" + name + "\"");
  table_.ReadDefinitions();
  libType_ = LibTypeOfFile(file.string());  // the name's, or the type the file records (a name of the user's)
}

TOpenLibrary::~TOpenLibrary() {
  try {
    table_.Close();
    database_.Close();
  } catch (...) {
    // Nothing is pending here: every change was committed or rolled back by its transaction.
  }
}

void TOpenLibrary::Open(const std::string& index) {
  if (!index.empty() && table_.IndexDefs().IndexOf(index) < 0)
    throw EHttpError(400, "The library has no index \"" + index + "\"");
  table_.SetIndexName(index);
  table_.Open();
}

std::string TOpenLibrary::NameIndex() const { return table_.IndexDefs().IndexOf("EN") >= 0 ? "EN" : ""; }

std::string TOpenLibrary::PrimaryIndex() const {
  const TIndexDefs& defs = table_.IndexDefs();
  for (int i = 0; i < defs.Count(); ++i)
    if ((defs[i].Options & ixPrimary) != 0) return defs[i].Name;
  return {};
}

// ---- records ----

namespace {

// Appends a value's JSON as JsonValue writes it; the kinds a page is made of go straight into the text.
void AppendJsonValue(std::string& out, const Variant& v, ValueStyle style) {
  if (v.IsClear()) {
    out += "null";
    return;
  }
  if (v.Type() == VarType::String && style != ValueStyle::Binary) {
    const std::string& text = v.RawString();
    // Printable ASCII without quote or backslash is its own JSON; anything else is escaped by JsonString.
    if (std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c < 0x7f && c != '"' && c != '\\'; })) {
      out += '"';
      out += text;
      out += '"';
    } else {
      out += JsonString(text);
    }
    return;
  }
  switch (style) {
    case ValueStyle::Integer: {
      char digits[24];
      out.append(digits, std::to_chars(digits, digits + sizeof digits, v.AsInteger()).ptr);
      return;
    }
    case ValueStyle::Float: {
      const double d = v.AsFloat();
      if (std::isfinite(d)) {
        char text[kNumberChars];
        out.append(text, WriteNumber(text, d));
      } else {
        out += "null";
      }
      return;
    }
    case ValueStyle::Boolean: out += v.AsBoolean() ? "true" : "false"; return;
    default: out += JsonValue(v, style);
  }
}

}  // namespace

TRecordJson::TRecordJson(TDataSet& table) : table_(table) {
  for (int i = 0; i < table.FieldCount(); ++i) {
    TField& f = table.Fields(i);
    names_.push_back((i > 0 ? "," : "") + JsonString(f.FieldName()) + ":");
    styles_.push_back(ValueStyleOf(f.DataType()));
  }
}

// The values' JSON, each after its field's name, into values_; the version is a hash (64 bits) of that text,
// taken eight bytes at a time (a multiply and a fold of the high half per word: a page hashes its values in
// a fraction of the time a byte at a time would take). The names and commas between the values keep the
// values apart, so moving text from one value to the next changes the version too.
std::uint64_t TRecordJson::WriteValues() {
  values_.clear();
  for (std::size_t i = 0; i < names_.size(); ++i) {
    values_ += names_[i];
    AppendJsonValue(values_, table_.Fields(static_cast<int>(i)).Value(), styles_[i]);
  }
  constexpr std::uint64_t kMultiplier = 0x9e3779b97f4a7c15ull;
  std::uint64_t h = 14695981039346656037ull ^ values_.size();
  const auto mix = [&](std::uint64_t word) {
    h = (h ^ word) * kMultiplier;
    h ^= h >> 29;
  };
  std::size_t at = 0;
  for (; at + 8 <= values_.size(); at += 8) {
    std::uint64_t word;
    std::memcpy(&word, values_.data() + at, 8);
    mix(word);
  }
  std::uint64_t last = 0;
  std::memcpy(&last, values_.data() + at, values_.size() - at);
  mix(last);
  return h;
}

std::string TRecordJson::Version() { return fmt::format(FMT_COMPILE("{:016x}"), WriteValues()); }

void TRecordJson::Append(std::string& out) {
  const std::uint64_t version = WriteValues();
  out += "{\"key\":";
  char digits[24];
  out.append(digits, std::to_chars(digits, digits + sizeof digits, table_.GetBookmark()).ptr);
  fmt::format_to(std::back_inserter(out), FMT_COMPILE(",\"version\":\"{:016x}\",\"values\":{{"), version);
  out += values_;
  out += "}}";
}

std::string RecordVersion(TDataSet& table) { return TRecordJson(table).Version(); }

void WriteRecord(JsonWriter& json, TDataSet& table) {
  std::string text;
  TRecordJson(table).Append(text);
  json.Raw(text);
}

void StoreJson(TRecordWriter& writer, int field, const Json& value) {
  switch (value.type()) {
    case Json::value_t::null: return writer.Set(field, Variant::Null());
    case Json::value_t::boolean: return writer.Set(field, Variant(value.get<bool>()));
    case Json::value_t::number_integer: return writer.Set(field, Variant(static_cast<long long>(value.get<std::int64_t>())));
    case Json::value_t::number_unsigned: return writer.SetWholeNumber(field, value.dump());
    case Json::value_t::number_float: return writer.Set(field, Variant(value.get<double>()));
    case Json::value_t::string: return writer.SetText(field, value.get<std::string>());  // as the person typed it
    default: break;
  }
  throw EHttpError(400, "A field value is a text, a number, true, false or null");
}

namespace {

// The object member "values" of a request body: field name to value.
const Json* ValuesMember(const Json& body) {
  const auto values = body.find("values");
  if (values == body.end() || !values->is_object()) throw EHttpError(400, "The member \"values\" must be an object");
  return &*values;
}

// Moves to the record of the body's "key", which must still have the body's "version": else 409 with `gone` or
// `changed`, and nothing is written.
void GoToUnchangedRecord(TABSTable& t, const Json& body, const char* gone, const char* changed) {
  if (!t.GotoBookmark(IntMember(body, "key", 1, std::numeric_limits<std::int64_t>::max())))
    throw EHttpError(409, gone);
  if (RecordVersion(t) != StringMember(body, "version")) throw EHttpError(409, changed);
}

// Stores the given values in the record being written and posts it under the record rules.
void StoreValues(TRecordWriter& writer, const Json& values) {
  try {
    for (const auto& [name, value] : values.items()) StoreJson(writer, writer.FieldIndex(name), value);
  } catch (...) {
    writer.Cancel();
    throw;
  }
  writer.Post(Now());
}

std::string AsciiFold(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

// The first record, in the order of the name index, whose name starts with `text` without regard to case:
// its position, or that of the first name not below `text` when none does (found false). A case-insensitive
// index orders by names folded in their ASCII letters, so the names that share the search text's leading
// ASCII part, folded, stand together: a binary search finds that group and a walk through it compares the
// fully folded names. An index that is not case-insensitive is walked from the start.
std::int64_t SeekName(TABSTable& table, TField& name, const std::string& text, bool caseInsensitive,
                      std::int64_t total, bool& found) {
  const std::string wanted = FoldCase(text);
  const auto matches = [&] { return FoldCase(name.AsString()).compare(0, wanted.size(), wanted) == 0; };
  found = false;
  std::int64_t at = 0;
  if (!caseInsensitive) {
    for (; at < total; table.Next(), ++at)
      if ((found = matches())) return at;
    return total;
  }
  std::size_t ascii = 0;
  while (ascii < text.size() && static_cast<unsigned char>(text[ascii]) < 0x80) ++ascii;
  const std::string group = AsciiFold(text.substr(0, ascii));
  const auto moveTo = [&](std::int64_t pos) { at += table.MoveBy(static_cast<std::int32_t>(pos - at)); };
  std::int64_t lo = 0, hi = total;
  while (lo < hi) {
    const std::int64_t mid = lo + (hi - lo) / 2;
    moveTo(mid);
    if (AsciiFold(name.AsString()) < group) lo = mid + 1;
    else hi = mid;
  }
  if (lo >= total) return total;
  moveTo(lo);
  for (; at < total && AsciiFold(name.AsString()).compare(0, group.size(), group) == 0; moveTo(at + 1)) {
    if ((found = matches())) return at;
    if (at + 1 == total) break;
  }
  moveTo(lo);
  return lo;
}

void WriteFields(JsonWriter& json, TOpenLibrary& lib) {
  TABSTable& t = lib.Table();
  json.Key("fields").BeginArray();
  for (int i = 0; i < t.FieldCount(); ++i) {
    TField& f = t.Fields(i);
    const int adv = t.AdvFieldDefs().IndexOf(f.FieldName());
    const ValueStyle style = ValueStyleOf(f.DataType());
    static const char* const kStyles[] = {"text", "integer", "float", "boolean", "datetime", "binary"};
    json.BeginObject()
        .Member("name", f.FieldName())
        .Member("label", FieldLabel(lib.LibType(), f.FieldName()))
        .Member("band", HasElementBands(lib.LibType()) ? BandOfValuesField(f.FieldName()) : -1)
        .Member("type", adv >= 0 ? EngineTypeLabel(t.AdvFieldDefs()[adv].DataType) : std::string(FieldTypeName(f.DataType())))
        .Member("size", f.Size())
        .Member("required", f.Required())
        .Member("style", kStyles[static_cast<int>(style)])
        .Member("editable", style != ValueStyle::Binary && f.DataType() != ftAutoInc)
        .EndObject();
  }
  json.EndArray();
}

// The start of a records page, up to the opening bracket of "records".
std::string PageHead(std::int64_t total, std::int64_t offset, const std::string& index, bool found) {
  return fmt::format(FMT_COMPILE("{{\"total\":{},\"offset\":{},\"index\":{},\"found\":{},\"records\":["), total,
                     offset, JsonString(index), found);
}

// The page of /api/records?contains=TEXT: the records of the name field that holds the text, read through once.
void NamesContaining(TOpenLibrary& lib, const httplib::Request& req, httplib::Response& res) {
  const std::string nameIndex = lib.NameIndex();
  if (nameIndex.empty()) throw EHttpError(400, "This library has no name index to search on");
  const std::string index = req.has_param("index") ? req.get_param_value("index") : lib.PrimaryIndex();
  const std::int64_t limit = QueryInt(req, "limit", 50, 1, 500);
  const std::int64_t offset = QueryInt(req, "offset", 0, 0, std::numeric_limits<std::int32_t>::max());
  lib.Open(index);
  TABSTable& t = lib.Table();
  const std::string& fields = t.IndexDefs()[t.IndexDefs().IndexOf(nameIndex)].Fields;
  TField& name = t.FieldByName(fields.substr(0, fields.find(';')));
  const std::string wanted = FoldCase(Query(req, "contains"));
  TRecordJson record(t);
  std::string records;
  std::int64_t total = 0;
  for (t.First(); !t.Eof(); t.Next()) {
    if (FoldCase(name.AsString()).find(wanted) == std::string::npos) continue;
    if (total >= offset && total < offset + limit) {
      if (!records.empty()) records += ',';
      record.Append(records);
    }
    ++total;
  }
  std::string page = PageHead(total, std::min(offset, total), index, total > 0);
  page += records;
  page += "]}";
  ReplyJson(res, std::move(page));
}

fs::path LibraryPath(TContext& c, const std::string& relative) {
  const fs::path p = c.Folder.Resolve(relative);
  if (!fs::is_regular_file(p)) throw EHttpError(400, "\"" + relative + "\" is not a library file");
  return p;
}

// One change of a record in a transaction of its own: the body's library opened for writing, `change` (which
// answers whether the record is to be shown), the commit, then the record or {"deleted": true}. A failure
// anywhere rolls the change back.
template <typename Change>
void ChangeRecord(TContext& c, const httplib::Request& req, httplib::Response& res, Change change) {
  const Json body = Body(req);
  TOpenLibrary lib(LibraryPath(c, StringMember(body, "path")), true);
  lib.Open();
  TABSTransaction transaction(lib.Database());
  const bool showRecord = change(lib, body);
  transaction.Commit();
  if (showRecord) Reply(res, [&](JsonWriter& json) { WriteRecord(json, lib.Table()); });
  else Reply(res, [](JsonWriter& json) { json.BeginObject().Member("deleted", true).EndObject(); });
}

}  // namespace

void RegisterLibraryRoutes(TRoutes& routes) {
  TContext& c = routes.Context();

  routes.Get("/api/library", [&c](const httplib::Request& req, httplib::Response& res) {
    const std::string path = Query(req, "path");
    TOpenLibrary lib(LibraryPath(c, path), false);
    lib.Open();
    TABSTable& t = lib.Table();
    const char* typeName = lib.LibType() >= 0 ? LibTypeConstantName(lib.LibType()) : nullptr;
    const bool spectrum = t.FindField("Komplett") && t.FindField("Lower") && t.FindField("Upper") &&
                          t.FindField("Terz") && t.FindField("Values0") && !lib.PrimaryIndex().empty();
    Reply(res, [&](JsonWriter& json) {
      json.BeginObject()
          .Member("path", path)
          .Member("type", lib.LibType())
          .Member("type_name", typeName ? typeName : "")
          .Member("records", t.RecordCount())
          .Member("name_index", lib.NameIndex())
          .Member("primary_index", lib.PrimaryIndex())
          .Member("spectrum", spectrum)
          .Member("tnm", lib.LibType() == ltTNMVeh);
      WriteFields(json, lib);
      json.Key("indexes").BeginArray();
      for (int i = 0; i < t.IndexDefs().Count(); ++i) {
        const TIndexDef& d = t.IndexDefs()[i];
        json.BeginObject().Member("name", d.Name).Member("fields", d.Fields).Member("options", IndexOptionsText(d.Options)).EndObject();
      }
      json.EndArray().EndObject();
    });
  });

  // A page of records in the order of `index` (default the primary index; empty: insertion order), from
  // `offset`, or from the first record whose name starts at `search` on the name index. With `contains`, only
  // the records whose name holds that text anywhere, without regard to case, in the order of `index`; `total`
  // and `offset` then count those records.
  routes.Get("/api/records", [&c](const httplib::Request& req, httplib::Response& res) {
    const TLibraryLease lease = OpenLibraries(c).Borrow(LibraryPath(c, Query(req, "path")));
    TOpenLibrary& lib = *lease;
    // The page's queries share one read transaction: the file's lock is taken and its changes are looked for
    // once, and the count, the positions and the records are of one state of the file.
    const TABSReadScope reading(lib.Database());
    if (req.has_param("contains")) return NamesContaining(lib, req, res);
    const bool searching = req.has_param("search");
    std::string index = req.has_param("index") ? req.get_param_value("index") : lib.PrimaryIndex();
    if (searching) {
      index = lib.NameIndex();
      if (index.empty()) throw EHttpError(400, "This library has no name index to search on");
    }
    const std::int64_t limit = QueryInt(req, "limit", 50, 1, 500);
    std::int64_t offset = QueryInt(req, "offset", 0, 0, std::numeric_limits<std::int32_t>::max());
    lib.Open(index);
    TABSTable& t = lib.Table();
    const std::int64_t total = t.RecordCount();
    bool found = false;
    if (searching) {
      const int ix = t.IndexDefs().IndexOf(index);
      const std::string& fields = t.IndexDefs()[ix].Fields;
      TField& name = t.FieldByName(fields.substr(0, fields.find(';')));
      const std::string text = Query(req, "search");
      offset = SeekName(t, name, text, (t.IndexDefs()[ix].Options & ixCaseInsensitive) != 0, total, found);
    } else if (offset > 0 && offset < total) {
      t.MoveBy(static_cast<std::int32_t>(offset));
    }
    // Written straight into the answer's text: a page is most of what a browsing client asks for.
    std::string page = PageHead(total, offset, index, found);
    TRecordJson record(t);
    for (std::int64_t n = 0; n < limit && offset < total && !t.Eof(); ++n) {
      if (n > 0) {
        t.Next();
        if (t.Eof()) break;
        page += ',';
      }
      record.Append(page);
    }
    page += "]}";
    ReplyJson(res, std::move(page));
  });

  routes.Get("/api/record", [&c](const httplib::Request& req, httplib::Response& res) {
    TOpenLibrary lib(LibraryPath(c, Query(req, "path")), false);
    lib.Open();
    if (!lib.Table().GotoBookmark(QueryInt(req, "key", 0, 1, std::numeric_limits<std::int64_t>::max())))
      throw EHttpError(404, "The record is not in the library (any more)");
    Reply(res, [&](JsonWriter& json) { WriteRecord(json, lib.Table()); });
  });

  // The values a new record starts with: the type's defaults, shown before anything is stored.
  routes.Get("/api/new-record", [&c](const httplib::Request& req, httplib::Response& res) {
    TOpenLibrary lib(LibraryPath(c, Query(req, "path")), true);
    lib.Open();
    TABSTable& t = lib.Table();
    t.Append();
    OnNewRecord(t, lib.LibType(), false);
    Reply(res, [&](JsonWriter& json) { WriteRecord(json, t); });
    t.Cancel();
  });

  // Saves changed values of one record, unless it changed since the page loaded it (409).
  routes.Post("/api/record/save", [&c](const httplib::Request& req, httplib::Response& res) {
    ChangeRecord(c, req, res, [](TOpenLibrary& lib, const Json& body) {
      const Json* values = ValuesMember(body);
      TABSTable& t = lib.Table();
      GoToUnchangedRecord(t, body, "The record was deleted since the page was loaded; nothing was saved",
                          "The record was changed since the page was loaded; nothing was saved. Load it again to "
                          "see the changes, then make yours");
      TRecordWriter writer(t, lib.LibType());
      writer.Edit();
      StoreValues(writer, *values);
      return true;
    });
  });

  // Adds a record: the type's defaults, then the given values.
  routes.Post("/api/record/add", [&c](const httplib::Request& req, httplib::Response& res) {
    ChangeRecord(c, req, res, [](TOpenLibrary& lib, const Json& body) {
      const Json* values = ValuesMember(body);
      TRecordWriter writer(lib.Table(), lib.LibType());
      writer.Append(Now());
      StoreValues(writer, *values);
      return true;
    });
  });

  // {path, file, fields?, where_name?, overwrite?}: the records into a spreadsheet or text file of the folder
  // (.xlsx, .csv, .txt), as `vezi export` writes it; an existing file is replaced only with overwrite.
  routes.Post("/api/export", [&c](const httplib::Request& req, httplib::Response& res) {
    const Json body = Body(req);
    const fs::path library = LibraryPath(c, StringMember(body, "path"));
    const fs::path file = c.Folder.Resolve(StringMember(body, "file"), false);
    TExportOptions options;
    if (body.contains("fields")) {
      if (!body["fields"].is_array()) throw EHttpError(400, "The member \"fields\" must be a list of field names");
      for (const Json& f : body["fields"]) {
        if (!f.is_string()) throw EHttpError(400, "The member \"fields\" must be a list of field names");
        options.Fields.push_back(f.get<std::string>());
      }
    }
    options.WhereName = StringMember(body, "where_name", false);
    options.Overwrite = body.contains("overwrite") && BoolMember(body, "overwrite");
    const TExportResult r = ExportLibrary(library.string(), file.string(), options);
    Reply(res, [&](JsonWriter& json) {
      json.BeginObject().Member("file", c.Folder.Relative(file)).Member("records", r.Records)
          .Member("format", r.Format).EndObject();
    });
  });

  routes.Post("/api/record/delete", [&c](const httplib::Request& req, httplib::Response& res) {
    ChangeRecord(c, req, res, [](TOpenLibrary& lib, const Json& body) {
      GoToUnchangedRecord(lib.Table(), body, "The record was deleted already",
                          "The record was changed since the page was loaded; it was not deleted. Load it again "
                          "to see the changes");
      lib.Table().Delete();
      return false;
    });
  });
}

}  // namespace vez::web
