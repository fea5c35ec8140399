// The .xlsx reader: libzip opens the package, expat parses its parts as streams.
//
// Parts read: the package relationships (to find the workbook), the workbook (first sheet, date system), its
// relationships (sheet, shared strings and styles targets), the styles (which cell formats are dates), the
// shared strings and the first worksheet. The worksheet is parsed in chunks, so memory grows with the cells
// and not with the size of the XML. Documents with a document type declaration are refused (no entity can
// expand), and no zip entry may inflate beyond XlsxLimits::MaxEntryBytes, whatever its header claims.
#include <expat.h>
#include <zip.h>

#include <charconv>
#include <cmath>
#include <functional>
#include <map>
#include <memory>
#include <vector>

#include "core/Exceptions.h"
#include "core/FormatSettings.h"
#include "import/sheet/SheetReader.h"

namespace vez::detail {

std::string SerialDateText(double serial, bool date1904) {
  double value = date1904 ? serial + 1462.0 : serial;
  if (!date1904 && serial < 61.0 && serial >= 1.0) value += 1.0;  // the 1900 system's phantom 29 February
  if (!(value > -693593.0 && value < 2958466.0)) return FloatToStrShortest(serial);
  value = std::round(value * 86400.0) / 86400.0;  // whole seconds, so 0.5 s of rounding never shows as :59
  const double day = std::floor(value);
  if (value == day) return FormatDateTime("ddddd", value);
  if (day == 0.0 || (!date1904 && serial < 1.0 && serial >= 0.0)) return FormatDateTime("tt", value);
  return FormatDateTime("ddddd tt", value);
}

namespace {

struct ZipCloser {
  void operator()(zip_t* z) const { zip_discard(z); }
};
struct ZipFileCloser {
  void operator()(zip_file_t* f) const { zip_fclose(f); }
};
struct ParserFree {
  void operator()(XML_ParserStruct* p) const { XML_ParserFree(p); }
};

std::string LocalName(const XML_Char* name) {
  std::string_view n(name);
  const auto colon = n.rfind(':');
  return std::string(colon == std::string_view::npos ? n : n.substr(colon + 1));
}

const char* Attr(const XML_Char** attrs, std::string_view local) {
  for (int i = 0; attrs[i] != nullptr; i += 2) {
    std::string_view n(attrs[i]);
    const auto colon = n.rfind(':');
    if ((colon == std::string_view::npos ? n : n.substr(colon + 1)) == local) return attrs[i + 1];
  }
  return nullptr;
}

// One XML part as a stream of element starts, ends and character data.
class XmlHandler {
public:
  virtual ~XmlHandler() = default;
  virtual void Start(const std::string& name, const XML_Char** attrs) = 0;
  virtual void End(const std::string& name) = 0;
  virtual void Text(std::string_view) {}
};

class Package {
public:
  Package(zip_t* zip, const XlsxLimits& limits) : zip_(zip), limits_(limits) {}

  bool Has(const std::string& name) const { return zip_name_locate(zip_.get(), name.c_str(), 0) >= 0; }

  void Parse(const std::string& name, XmlHandler& handler) {
    const zip_int64_t index = zip_name_locate(zip_.get(), name.c_str(), 0);
    if (index < 0) throw Exception("The package has no part " + name);
    zip_stat_t st;
    zip_stat_init(&st);
    if (zip_stat_index(zip_.get(), static_cast<zip_uint64_t>(index), 0, &st) != 0)
      throw Exception("The part " + name + " cannot be read");
    if ((st.valid & ZIP_STAT_SIZE) != 0 && st.size > limits_.MaxEntryBytes) TooLarge(name);
    std::unique_ptr<zip_file_t, ZipFileCloser> file(zip_fopen_index(zip_.get(), static_cast<zip_uint64_t>(index), 0));
    if (!file) throw Exception("The part " + name + " cannot be read: " + zip_strerror(zip_.get()));

    std::unique_ptr<XML_ParserStruct, ParserFree> parser(XML_ParserCreate("UTF-8"));
    if (!parser) throw Exception("Out of memory for the XML parser");
    struct Ctx {
      XmlHandler* handler;
      XML_Parser parser;
      std::string error;
    } ctx{&handler, parser.get(), {}};
    XML_SetUserData(parser.get(), &ctx);
    XML_SetElementHandler(
        parser.get(),
        [](void* ud, const XML_Char* n, const XML_Char** a) {
          auto* c = static_cast<Ctx*>(ud);
          try {
            c->handler->Start(LocalName(n), a);
          } catch (const std::exception& e) {
            c->error = e.what();
            XML_StopParser(c->parser, XML_FALSE);
          }
        },
        [](void* ud, const XML_Char* n) {
          auto* c = static_cast<Ctx*>(ud);
          try {
            c->handler->End(LocalName(n));
          } catch (const std::exception& e) {
            c->error = e.what();
            XML_StopParser(c->parser, XML_FALSE);
          }
        });
    XML_SetCharacterDataHandler(parser.get(), [](void* ud, const XML_Char* s, int len) {
      auto* c = static_cast<Ctx*>(ud);
      c->handler->Text(std::string_view(s, static_cast<std::size_t>(len)));
    });
    // No document type declarations: no entity can be declared, so none can expand.
    XML_SetStartDoctypeDeclHandler(parser.get(),
                                   [](void* ud, const XML_Char*, const XML_Char*, const XML_Char*, int) {
                                     auto* c = static_cast<Ctx*>(ud);
                                     c->error = "document type declarations are not accepted";
                                     XML_StopParser(c->parser, XML_FALSE);
                                   });

    std::vector<char> buffer(1 << 16);
    std::uint64_t total = 0;
    for (;;) {
      const zip_int64_t n = zip_fread(file.get(), buffer.data(), buffer.size());
      if (n < 0) throw Exception("The part " + name + " cannot be read: " + zip_file_strerror(file.get()));
      total += static_cast<std::uint64_t>(n);
      if (total > limits_.MaxEntryBytes) TooLarge(name);
      const bool last = n == 0;
      if (XML_Parse(parser.get(), buffer.data(), static_cast<int>(n), last ? XML_TRUE : XML_FALSE) != XML_STATUS_OK) {
        if (!ctx.error.empty()) throw Exception("The part " + name + " is not accepted: " + ctx.error);
        throw Exception(Format("The part %s is not well-formed XML (line %d: %s)", name,
                               static_cast<int>(XML_GetCurrentLineNumber(parser.get())),
                               XML_ErrorString(XML_GetErrorCode(parser.get()))));
      }
      if (last) break;
    }
  }

private:
  [[noreturn]] void TooLarge(const std::string& name) const {
    throw Exception(Format("The part %s inflates beyond %d bytes", name,
                           static_cast<long long>(limits_.MaxEntryBytes)));
  }
  std::unique_ptr<zip_t, ZipCloser> zip_;
  const XlsxLimits& limits_;
};

// A relationships part: Id -> (Type, Target).
struct Relationships : XmlHandler {
  struct Rel {
    std::string Type, Target;
  };
  std::map<std::string, Rel> ById;
  void Start(const std::string& name, const XML_Char** a) override {
    if (name != "Relationship") return;
    const char* id = Attr(a, "Id");
    const char* type = Attr(a, "Type");
    const char* target = Attr(a, "Target");
    if (id != nullptr && target != nullptr) ById[id] = {type != nullptr ? type : "", target};
  }
  void End(const std::string&) override {}
  std::string TargetOfType(std::string_view suffix) const {
    for (const auto& [id, rel] : ById)
      if (rel.Type.size() >= suffix.size() && rel.Type.compare(rel.Type.size() - suffix.size(), suffix.size(), suffix) == 0)
        return rel.Target;
    return {};
  }
};

// A target relative to the folder of the part that names it ("/..." is relative to the package root).
std::string Resolve(const std::string& base, const std::string& target) {
  if (target.empty()) return {};
  if (target[0] == '/') return target.substr(1);
  std::string folder = base.substr(0, base.rfind('/') == std::string::npos ? 0 : base.rfind('/') + 1);
  std::string rest = target;
  while (rest.rfind("../", 0) == 0) {
    rest = rest.substr(3);
    if (!folder.empty()) folder.pop_back();
    folder = folder.substr(0, folder.rfind('/') == std::string::npos ? 0 : folder.rfind('/') + 1);
  }
  return folder + rest;
}

std::string RelsOf(const std::string& part) {
  const auto slash = part.rfind('/');
  if (slash == std::string::npos) return "_rels/" + part + ".rels";
  return part.substr(0, slash + 1) + "_rels/" + part.substr(slash + 1) + ".rels";
}

struct Workbook : XmlHandler {
  std::string FirstSheetRel;
  bool Date1904 = false;
  void Start(const std::string& name, const XML_Char** a) override {
    if (name == "sheet" && FirstSheetRel.empty()) {
      if (const char* id = Attr(a, "id")) FirstSheetRel = id;
    } else if (name == "workbookPr") {
      const char* d = Attr(a, "date1904");
      Date1904 = d != nullptr && (std::string_view(d) == "1" || std::string_view(d) == "true");
    }
  }
  void End(const std::string&) override {}
};

// Whether a number format code shows a date or time: d, m, y, h or s outside quotes, brackets and escapes
// (elapsed-time codes like [h] count as time too).
bool IsDateFormatCode(std::string_view code) {
  bool quoted = false;
  for (std::size_t i = 0; i < code.size(); ++i) {
    const char c = code[i];
    if (quoted) {
      quoted = c != '"';
      continue;
    }
    if (c == '"') quoted = true;
    else if (c == '\\' || c == '_' || c == '*') ++i;
    else if (c == '[') {
      const auto end = code.find(']', i);
      const std::string_view inner = code.substr(i + 1, end == std::string_view::npos ? 0 : end - i - 1);
      if (inner == "h" || inner == "hh" || inner == "m" || inner == "mm" || inner == "s" || inner == "ss") return true;
      if (end == std::string_view::npos) return false;
      i = end;
    } else if (c == ';') return false;  // only the first section decides
    else {
      const char l = static_cast<char>(c | 0x20);
      if (l == 'd' || l == 'm' || l == 'y' || l == 'h' || l == 's') return true;
    }
  }
  return false;
}

bool IsBuiltinDateFormat(int id) { return (id >= 14 && id <= 22) || (id >= 45 && id <= 47) || (id >= 27 && id <= 36) || (id >= 50 && id <= 58); }

struct Styles : XmlHandler {
  std::map<int, bool> CustomIsDate;
  std::vector<int> XfNumFmt;
  bool inCellXfs = false;
  void Start(const std::string& name, const XML_Char** a) override {
    if (name == "numFmt") {
      const char* id = Attr(a, "numFmtId");
      const char* code = Attr(a, "formatCode");
      if (id != nullptr && code != nullptr) CustomIsDate[std::atoi(id)] = IsDateFormatCode(code);
    } else if (name == "cellXfs") inCellXfs = true;
    else if (name == "xf" && inCellXfs) {
      const char* id = Attr(a, "numFmtId");
      XfNumFmt.push_back(id != nullptr ? std::atoi(id) : 0);
    }
  }
  void End(const std::string& name) override {
    if (name == "cellXfs") inCellXfs = false;
  }
  std::vector<bool> DateStyles() const {
    std::vector<bool> out;
    for (int id : XfNumFmt) {
      const auto it = CustomIsDate.find(id);
      out.push_back(it != CustomIsDate.end() ? it->second : IsBuiltinDateFormat(id));
    }
    return out;
  }
};

// Text of <si> items: the <t> elements, phonetic runs (<rPh>) left out.
struct SharedStrings : XmlHandler {
  std::vector<std::string> Items;
  std::string current;
  int inT = 0, inPhonetic = 0;
  bool inSi = false;
  void Start(const std::string& name, const XML_Char**) override {
    if (name == "si") {
      inSi = true;
      current.clear();
    } else if (name == "rPh") ++inPhonetic;
    else if (name == "t") ++inT;
  }
  void End(const std::string& name) override {
    if (name == "si") {
      Items.push_back(std::move(current));
      current.clear();
      inSi = false;
    } else if (name == "rPh") --inPhonetic;
    else if (name == "t") --inT;
  }
  void Text(std::string_view s) override {
    if (inSi && inT > 0 && inPhonetic == 0) current.append(s);
  }
};

struct Worksheet : XmlHandler {
  Worksheet(SheetSink& sink, const XlsxLimits& limits, const std::vector<std::string>& strings,
            const std::vector<bool>& dateStyles, bool date1904)
      : sink_(sink), limits_(limits), strings_(strings), dateStyles_(dateStyles), date1904_(date1904) {}

  void Start(const std::string& name, const XML_Char** a) override {
    if (name == "row") {
      const char* r = Attr(a, "r");
      row_ = r != nullptr ? ParseRow(r) : row_ + 1;
      col_ = 0;
    } else if (name == "c") {
      inCell_ = true;
      value_.clear();
      type_ = Attr(a, "t") != nullptr ? Attr(a, "t") : "n";
      const char* s = Attr(a, "s");
      style_ = s != nullptr ? std::atoi(s) : 0;
      const char* ref = Attr(a, "r");
      if (ref != nullptr) ParseRef(ref);
      else ++col_;
      if (row_ == 0) row_ = 1;
    } else if (inCell_ && (name == "v" || name == "t")) {
      inValue_ = true;
    } else if (inCell_ && name == "rPh") {
      ++inPhonetic_;
    }
  }
  void End(const std::string& name) override {
    if (name == "v" || name == "t") inValue_ = false;
    else if (name == "rPh") --inPhonetic_;
    else if (name == "c") {
      inCell_ = false;
      Emit();
    }
  }
  void Text(std::string_view s) override {
    if (inValue_ && inPhonetic_ == 0) value_.append(s);
  }

private:
  std::uint32_t ParseRow(std::string_view digits) {
    std::uint32_t r = 0;
    const auto res = std::from_chars(digits.data(), digits.data() + digits.size(), r);
    if (res.ec != std::errc() || res.ptr != digits.data() + digits.size() || r == 0 || r > limits_.MaxRow)
      throw Exception("bad row number \"" + std::string(digits) + "\"");
    return r;
  }
  void ParseRef(std::string_view ref) {
    std::uint32_t col = 0;
    std::size_t i = 0;
    for (; i < ref.size() && ref[i] >= 'A' && ref[i] <= 'Z'; ++i) {
      col = col * 26 + static_cast<std::uint32_t>(ref[i] - 'A' + 1);
      if (col > limits_.MaxCol) throw Exception("bad cell reference \"" + std::string(ref) + "\"");
    }
    if (i == 0) throw Exception("bad cell reference \"" + std::string(ref) + "\"");
    col_ = col;
    if (i < ref.size()) row_ = ParseRow(ref.substr(i));
  }
  void Emit() {
    if (col_ == 0 || col_ > limits_.MaxCol) throw Exception("a cell beyond the last column");
    std::string text;
    if (type_ == "s") {
      std::size_t index = 0;
      const auto res = std::from_chars(value_.data(), value_.data() + value_.size(), index);
      if (value_.empty() || res.ec != std::errc() || index >= strings_.size())
        throw Exception("bad shared string index \"" + value_ + "\"");
      text = strings_[index];
    } else if (type_ == "b") {
      if (value_.empty()) return;
      text = value_ == "1" || value_ == "true" ? "True" : "False";
    } else if (type_ == "inlineStr" || type_ == "str" || type_ == "e") {
      text = std::move(value_);
    } else if (type_ == "d") {
      double v = 0;
      if (value_.empty()) return;
      text = TryISOToDateTime(value_, v) ? SerialDateText(v, false) : value_;
    } else {
      if (value_.empty()) return;
      double v = 0;
      const char* begin = value_.data();
      const char* end = begin + value_.size();
      const auto res = std::from_chars(begin, end, v);
      if (res.ec != std::errc() || res.ptr != end) throw Exception("bad number \"" + value_ + "\"");
      const bool isDate = style_ >= 0 && static_cast<std::size_t>(style_) < dateStyles_.size() &&
                          dateStyles_[static_cast<std::size_t>(style_)];
      text = isDate ? SerialDateText(v, date1904_) : FloatToStrShortest(v);
    }
    if (!text.empty()) sink_.Cell(row_ - 1, col_ - 1, std::move(text));
  }

  SheetSink& sink_;
  const XlsxLimits& limits_;
  const std::vector<std::string>& strings_;
  const std::vector<bool>& dateStyles_;
  bool date1904_;
  std::uint32_t row_ = 0, col_ = 0;
  bool inCell_ = false, inValue_ = false;
  int inPhonetic_ = 0;
  int style_ = 0;
  std::string type_, value_;
};

void ReadPackage(Package& pkg, SheetSink& sink, const XlsxLimits& limits) {
  std::string workbookPart = "xl/workbook.xml";
  if (pkg.Has("_rels/.rels")) {
    Relationships root;
    pkg.Parse("_rels/.rels", root);
    const std::string t = Resolve("", root.TargetOfType("/officeDocument"));
    if (!t.empty()) workbookPart = t;
  }
  Workbook wb;
  pkg.Parse(workbookPart, wb);
  Relationships rels;
  if (pkg.Has(RelsOf(workbookPart))) pkg.Parse(RelsOf(workbookPart), rels);
  std::string sheetPart;
  if (const auto it = rels.ById.find(wb.FirstSheetRel); it != rels.ById.end())
    sheetPart = Resolve(workbookPart, it->second.Target);
  if (sheetPart.empty()) throw Exception("The workbook names no worksheet");

  std::vector<bool> dateStyles;
  const std::string stylesPart = Resolve(workbookPart, rels.TargetOfType("/styles"));
  if (!stylesPart.empty() && pkg.Has(stylesPart)) {
    Styles styles;
    pkg.Parse(stylesPart, styles);
    dateStyles = styles.DateStyles();
  }
  SharedStrings strings;
  const std::string stringsPart = Resolve(workbookPart, rels.TargetOfType("/sharedStrings"));
  if (!stringsPart.empty() && pkg.Has(stringsPart)) pkg.Parse(stringsPart, strings);

  Worksheet sheet(sink, limits, strings.Items, dateStyles, wb.Date1904);
  pkg.Parse(sheetPart, sheet);
}

[[noreturn]] void ZipError(zip_error_t& err) {
  const std::string text = zip_error_strerror(&err);
  zip_error_fini(&err);
  throw Exception("Not an Office Open XML package (" + text + ")");
}

}  // namespace

void ReadXlsxSheet0(const std::string& fileName, SheetSink& sink, const XlsxLimits& limits) {
  int code = 0;
  zip_t* z = zip_open(fileName.c_str(), ZIP_RDONLY | ZIP_CHECKCONS, &code);
  if (z == nullptr) {
    zip_error_t err;
    zip_error_init_with_code(&err, code);
    ZipError(err);
  }
  Package pkg(z, limits);
  ReadPackage(pkg, sink, limits);
}

void ReadXlsxSheet0(const void* data, std::size_t size, SheetSink& sink, const XlsxLimits& limits) {
  zip_error_t err;
  zip_error_init(&err);
  zip_source_t* src = zip_source_buffer_create(data, size, 0, &err);
  if (src == nullptr) ZipError(err);
  zip_t* z = zip_open_from_source(src, ZIP_RDONLY | ZIP_CHECKCONS, &err);
  if (z == nullptr) {
    zip_source_free(src);
    ZipError(err);
  }
  zip_error_fini(&err);
  Package pkg(z, limits);
  ReadPackage(pkg, sink, limits);
}

}  // namespace vez::detail
