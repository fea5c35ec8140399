// The .xlsx reader: libzip opens the package, expat parses its parts as streams.
//
// Parts read: the package relationships (to find the workbook), the workbook (its sheets' names and
// relationship ids in tab order, the date system), its relationships (sheet, shared strings and styles
// targets), the styles (which cell formats are dates, times or elapsed times), the shared strings and the
// chosen sheet (worksheets and macro sheets hold cells; chart and dialog sheets none). Part names are found without regard to
// case or to "\" written for "/". The worksheet is parsed in chunks, so memory grows with the cells and not
// with the size of the XML; the shared strings are kept in one buffer (or handed to a sink that keeps them) and
// counted against SheetLimits::MaxSharedStrings, and no text grows beyond SheetLimits::MaxCellChars. Documents with a document
// type declaration are refused (no entity can expand), and no zip entry may inflate beyond
// SheetLimits::MaxEntryBytes, whatever its header claims. Texts decode the "_xHHHH_" escapes that spreadsheet
// programs write for characters XML cannot hold.
#include <expat.h>
#include <zip.h>

#include <charconv>
#include <cmath>
#include <cstring>
#include <exception>
#include <functional>
#include <map>
#include <unordered_map>
#include <memory>
#include <vector>

#include "core/Exceptions.h"
#include "core/FormatSettings.h"
#include "core/TextEncoding.h"
#include "import/sheet/SheetReader.h"

namespace vez::detail {

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
  Package(zip_t* zip, const SheetLimits& limits) : zip_(zip), limits_(limits) {
    const zip_int64_t n = zip_get_num_entries(zip_.get(), 0);
    for (zip_int64_t i = 0; i < n; ++i)
      if (const char* name = zip_get_name(zip_.get(), static_cast<zip_uint64_t>(i), 0))
        index_.emplace(Key(name), static_cast<zip_uint64_t>(i));  // the first of two equal names wins
  }

  bool Has(const std::string& name) const { return index_.contains(Key(name)); }

  void Parse(const std::string& name, XmlHandler& handler) {
    const auto found = index_.find(Key(name));
    if (found == index_.end()) throw Exception("The package has no part " + name);
    const zip_uint64_t index = found->second;
    zip_stat_t st;
    zip_stat_init(&st);
    if (zip_stat_index(zip_.get(), index, 0, &st) != 0)
      throw Exception("The part " + name + " cannot be read");
    if ((st.valid & ZIP_STAT_SIZE) != 0 && st.size > limits_.MaxEntryBytes) TooLarge(name);
    std::unique_ptr<zip_file_t, ZipFileCloser> file(zip_fopen_index(zip_.get(), index, 0));
    if (!file) throw Exception("The part " + name + " cannot be read: " + zip_strerror(zip_.get()));

    std::unique_ptr<XML_ParserStruct, ParserFree> parser(XML_ParserCreate("UTF-8"));
    if (!parser) throw Exception("Out of memory for the XML parser");
    struct Ctx {
      XmlHandler* handler;
      XML_Parser parser;
      std::string error;
      bool found = false;  // a probe's first cell: thrown again once out of the parser
      std::exception_ptr refusal;  // a sink's refusal, thrown again as it is
    } ctx{&handler, parser.get(), {}, false, {}};
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
          } catch (const FirstCellFound&) {
            c->found = true;
            XML_StopParser(c->parser, XML_FALSE);
          } catch (const ESinkRefusal&) {
            c->refusal = std::current_exception();
            XML_StopParser(c->parser, XML_FALSE);
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
        if (ctx.found) throw FirstCellFound{};
        if (ctx.refusal) std::rethrow_exception(ctx.refusal);
        if (!ctx.error.empty()) throw Exception("The part " + name + " is not accepted: " + ctx.error);
        throw Exception(Format("The part %s is not well-formed XML (line %d: %s)", name,
                               static_cast<int>(XML_GetCurrentLineNumber(parser.get())),
                               XML_ErrorString(XML_GetErrorCode(parser.get()))));
      }
      if (last) break;
    }
  }

private:
  // Part names compare without regard to ASCII case, and "\\" stands for "/" (written so by some programs).
  static std::string Key(std::string_view name) {
    std::string key(name);
    for (char& c : key) c = c == '\\' ? '/' : static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    return key;
  }
  [[noreturn]] void TooLarge(const std::string& name) const {
    throw Exception(Format("The part %s inflates beyond %d bytes", name,
                           static_cast<long long>(limits_.MaxEntryBytes)));
  }
  std::unique_ptr<zip_t, ZipCloser> zip_;
  const SheetLimits& limits_;
  std::unordered_map<std::string, zip_uint64_t> index_;
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
  std::vector<std::string> Names, SheetRels;  // in the order of the sheet tabs (a missing id: empty)
  bool Date1904 = false;
  void Start(const std::string& name, const XML_Char** a) override {
    if (name == "sheet") {
      const char* sheetName = Attr(a, "name");
      const char* id = Attr(a, "id");
      Names.emplace_back(sheetName != nullptr ? sheetName : "");
      SheetRels.emplace_back(id != nullptr ? id : "");
    } else if (name == "workbookPr") {
      const char* d = Attr(a, "date1904");
      Date1904 = d != nullptr && (std::string_view(d) == "1" || std::string_view(d) == "true");
    }
  }
  void End(const std::string&) override {}
};

struct Styles : XmlHandler {
  std::map<std::uint32_t, NumberKind> Custom;
  std::vector<std::uint32_t> XfNumFmt;
  bool inCellXfs = false;
  static std::uint32_t Id(const char* text) {
    std::uint32_t id = 0;
    if (text != nullptr) std::from_chars(text, text + std::strlen(text), id);
    return id;
  }
  void Start(const std::string& name, const XML_Char** a) override {
    if (name == "numFmt") {
      const char* id = Attr(a, "numFmtId");
      const char* code = Attr(a, "formatCode");
      if (id != nullptr && code != nullptr) Custom[Id(id)] = ClassifyFormatCode(code);
    } else if (name == "cellXfs") inCellXfs = true;
    else if (name == "xf" && inCellXfs) {
      XfNumFmt.push_back(Id(Attr(a, "numFmtId")));
    }
  }
  void End(const std::string& name) override {
    if (name == "cellXfs") inCellXfs = false;
  }
  std::vector<NumberKind> Kinds() const {
    std::vector<NumberKind> out;
    for (std::uint32_t id : XfNumFmt) {
      const auto it = Custom.find(id);
      out.push_back(it != Custom.end() ? it->second : BuiltinFormatKind(id));
    }
    return out;
  }
};

// Text as spreadsheet programs write it: "_xHHHH_" stands for the UTF-16 code unit HHHH (surrogate pairs in two
// escapes), so "_x005F_" is an underscore. Text of more than MaxCellChars characters is refused.
class CellText {
public:
  explicit CellText(const SheetLimits& limits) : limits_(limits) {}
  void Clear() { raw_.clear(); }
  void Append(std::string_view s) {
    raw_.append(s);
    // Four bytes per character at most: beyond that the text is too long whatever its escapes are.
    if (raw_.size() > 4ull * 7 * limits_.MaxCellChars) TooLong();
  }
  bool Empty() const { return raw_.empty(); }
  const std::string& Raw() const { return raw_; }
  std::string Decoded() const {
    std::string out;
    if (raw_.find("_x") == std::string::npos) {
      out = raw_;
    } else {
      out.reserve(raw_.size());
      char16_t pending = 0;
      for (std::size_t i = 0; i < raw_.size();) {
        unsigned unit = 0;
        if (IsEscape(i, unit)) {
          const unsigned char bytes[2] = {static_cast<unsigned char>(unit), static_cast<unsigned char>(unit >> 8)};
          AppendUtf16(out, bytes, 1, &pending);
          i += 7;
          continue;
        }
        if (pending != 0) {
          AppendUtf8(out, 0xFFFD);
          pending = 0;
        }
        out += raw_[i++];
      }
      if (pending != 0) AppendUtf8(out, 0xFFFD);
    }
    if (out.size() > limits_.MaxCellChars && Utf16Units(out) > limits_.MaxCellChars) TooLong();
    return out;
  }

private:
  bool IsEscape(std::size_t i, unsigned& unit) const {
    if (i + 7 > raw_.size() || raw_[i] != '_' || raw_[i + 1] != 'x' || raw_[i + 6] != '_') return false;
    unit = 0;
    for (std::size_t k = i + 2; k < i + 6; ++k) {
      const char c = raw_[k];
      const int v = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
      if (v < 0) return false;
      unit = unit * 16 + static_cast<unsigned>(v);
    }
    return true;
  }
  [[noreturn]] void TooLong() const {
    throw Exception(Format("a text of more than %d characters", static_cast<long long>(limits_.MaxCellChars)));
  }
  const SheetLimits& limits_;
  std::string raw_;
};

// Text of <si> items: the <t> elements, phonetic runs (<rPh>) left out. A `keeper` that keeps shared strings
// (SheetSink::KeepsSharedStrings) gets each entry as it is read and the reader keeps none of their texts, so that
// a text lives once; otherwise the reader keeps them in one buffer.
class SharedStrings : public XmlHandler {
public:
  SharedStrings(const SheetLimits& limits, SheetSink& sink)
      : limits_(limits), keeper_(sink.KeepsSharedStrings() ? &sink : nullptr), current_(limits) {}
  std::size_t Size() const { return count_; }
  bool Kept() const { return keeper_ != nullptr; }
  std::string_view operator[](std::size_t i) const {
    return keeper_ != nullptr ? keeper_->KeptSharedString(static_cast<std::uint32_t>(i)) : items_[i];
  }
  // Gives back the room that growing left unused, once the table is read (before the cells are).
  void Shrink() { items_.Shrink(); }

  void Start(const std::string& name, const XML_Char** a) override {
    if (name == "si") {
      inSi_ = true;
      current_.Clear();
    } else if (name == "rPh") ++inPhonetic_;
    else if (name == "t") ++inT_;
    else if (name == "sst" && keeper_ != nullptr) {
      // The table's own count of its entries: room for them is kept ahead, up to a bound a wrong count cannot pass.
      const char* unique = Attr(a, "uniqueCount");
      std::uint32_t count = 0;
      if (unique != nullptr) std::from_chars(unique, unique + std::strlen(unique), count);
      if (count > 0) keeper_->SharedStringsAhead(std::min({count, kSharedStringsAhead, limits_.MaxSharedStrings}));
    }
  }
  void End(const std::string& name) override {
    if (name == "si") {
      if (count_ >= limits_.MaxSharedStrings)
        throw Exception(Format("more than %d shared strings", static_cast<long long>(limits_.MaxSharedStrings)));
      if (keeper_ != nullptr) keeper_->SharedString(static_cast<std::uint32_t>(count_), current_.Decoded());
      else items_.Add(current_.Decoded());
      ++count_;
      current_.Clear();
      inSi_ = false;
    } else if (name == "rPh") --inPhonetic_;
    else if (name == "t") --inT_;
  }
  void Text(std::string_view s) override {
    if (inSi_ && inT_ > 0 && inPhonetic_ == 0) current_.Append(s);
  }

private:
  const SheetLimits& limits_;
  SheetSink* keeper_;
  StringTable items_;  // the entries' texts when no keeper keeps them
  std::size_t count_ = 0;
  CellText current_;
  int inT_ = 0, inPhonetic_ = 0;
  bool inSi_ = false;
};

struct Worksheet : XmlHandler {
  Worksheet(SheetSink& sink, const SheetLimits& limits, const SharedStrings& strings,
            const std::vector<NumberKind>& styles, bool date1904)
      : sink_(sink), limits_(limits), strings_(strings), styles_(styles), date1904_(date1904), value_(limits),
        inline_(limits) {}

  void Start(const std::string& name, const XML_Char** a) override {
    if (name == "row") {
      const char* r = Attr(a, "r");
      row_ = r != nullptr ? ParseRow(r) : row_ + 1;
      col_ = 0;
    } else if (name == "c") {
      inCell_ = true;
      value_.Clear();
      inline_.Clear();
      type_ = Attr(a, "t") != nullptr ? Attr(a, "t") : "n";
      const char* s = Attr(a, "s");
      style_ = 0;
      if (s != nullptr) std::from_chars(s, s + std::strlen(s), style_);
      const char* ref = Attr(a, "r");
      if (ref != nullptr) ParseRef(ref);
      else ++col_;
      if (row_ == 0) row_ = 1;
    } else if (inCell_ && name == "v") {
      inValue_ = true;
    } else if (inCell_ && name == "is") {
      inInline_ = true;
    } else if (inInline_ && name == "t") {
      inInlineText_ = true;
    } else if (inCell_ && name == "rPh") {
      ++inPhonetic_;
    }
  }
  void End(const std::string& name) override {
    if (name == "v") inValue_ = false;
    else if (name == "t") inInlineText_ = false;
    else if (name == "is") inInline_ = false;
    else if (name == "rPh") --inPhonetic_;
    else if (name == "c") {
      inCell_ = false;
      Emit();
    }
  }
  void Text(std::string_view s) override {
    if (inPhonetic_ != 0) return;
    if (inValue_) value_.Append(s);
    else if (inInlineText_) inline_.Append(s);
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
    for (; i < ref.size() && ((ref[i] >= 'A' && ref[i] <= 'Z') || (ref[i] >= 'a' && ref[i] <= 'z')); ++i) {
      col = col * 26 + static_cast<std::uint32_t>((ref[i] & ~0x20) - 'A' + 1);
      if (col > limits_.MaxCol) throw Exception("bad cell reference \"" + std::string(ref) + "\"");
    }
    if (i == 0) throw Exception("bad cell reference \"" + std::string(ref) + "\"");
    col_ = col;
    if (i < ref.size()) row_ = ParseRow(ref.substr(i));
  }
  void Emit() {
    if (col_ == 0 || col_ > limits_.MaxCol) throw Exception("a cell beyond the last column");
    const std::string& v = value_.Raw();
    std::string text;
    if (type_ == "inlineStr") {
      text = inline_.Decoded();  // a <v> beside the <is> is not the cell's text
    } else if (v.empty()) {
      return;  // <v/> or no <v>: the cell holds no value
    } else if (type_ == "s") {
      std::size_t index = 0;
      const auto res = std::from_chars(v.data(), v.data() + v.size(), index);
      if (res.ec != std::errc() || res.ptr != v.data() + v.size() || index >= strings_.Size())
        throw Exception("bad shared string index \"" + v + "\"");
      // The entry's length was checked when it was read; the cell refers to it rather than copying it. The entry
      // is kept once, whatever refers to it: by the sink that keeps the entries (which has its text), or here.
      const std::string_view entry = strings_[index];
      if (entry.empty()) return;
      return sink_.SharedCell(row_ - 1, col_ - 1, static_cast<std::uint32_t>(index),
                              strings_.Kept() ? std::string_view() : entry);
    } else if (type_ == "b") {
      text = v == "1" || v == "true" ? "True" : "False";
    } else if (type_ == "str" || type_ == "e") {
      text = value_.Decoded();
    } else if (type_ == "d") {
      double d = 0;
      text = TryISOToDateTime(v, d) ? SerialDateText(d, false) : v;
    } else {
      double d = 0;
      const auto res = std::from_chars(v.data(), v.data() + v.size(), d);
      if (res.ec != std::errc() || res.ptr != v.data() + v.size()) throw Exception("bad number \"" + v + "\"");
      const NumberKind kind = style_ < styles_.size() ? styles_[style_] : NumberKind::Number;
      if (kind == NumberKind::Number && std::isfinite(d)) return sink_.Number(row_ - 1, col_ - 1, d);
      text = std::isfinite(d) ? NumberText(d, kind, date1904_) : std::string("#NUM!");
    }
    if (text.empty()) return;
    if (text.size() > limits_.MaxCellChars && Utf16Units(text) > limits_.MaxCellChars)
      throw Exception(Format("a text of more than %d characters", static_cast<long long>(limits_.MaxCellChars)));
    sink_.Cell(row_ - 1, col_ - 1, std::move(text));
  }

  SheetSink& sink_;
  const SheetLimits& limits_;
  const SharedStrings& strings_;
  const std::vector<NumberKind>& styles_;
  bool date1904_;
  std::uint32_t row_ = 0, col_ = 0;
  bool inCell_ = false, inValue_ = false, inInline_ = false, inInlineText_ = false;
  int inPhonetic_ = 0;
  std::uint32_t style_ = 0;
  std::string type_;
  CellText value_, inline_;
};

// The package's workbook part and the workbook it holds.
std::string OpenWorkbook(Package& pkg, Workbook& wb) {
  std::string workbookPart = "xl/workbook.xml";
  if (pkg.Has("_rels/.rels")) {
    Relationships root;
    pkg.Parse("_rels/.rels", root);
    const std::string t = Resolve("", root.TargetOfType("/officeDocument"));
    if (!t.empty()) workbookPart = t;
  }
  if (!pkg.Has(workbookPart)) {
    if (pkg.Has("mimetype"))
      throw Exception("Not a text file: an OpenDocument file (save it as .xlsx or as tab-separated text to import it)");
    throw Exception("Not a text file: a zip archive that holds no workbook");
  }
  const std::string partName = workbookPart.substr(workbookPart.rfind('/') + 1);
  if (partName.size() > 4 && SameText(partName.substr(partName.size() - 4), ".bin"))
    throw Exception("The workbook is in the binary format (.xlsb); save it as .xlsx to import it");
  if (!SameText(partName.substr(0, 8), "workbook"))
    throw Exception("Not a text file: an Office document that holds no workbook (" + workbookPart + ")");
  pkg.Parse(workbookPart, wb);
  NameUnnamedSheets(wb.Names);
  return workbookPart;
}

void ReadPackage(Package& pkg, SheetSink& sink, SheetChoice& choice, const SheetLimits& limits) {
  Workbook wb;
  const std::string workbookPart = OpenWorkbook(pkg, wb);
  choice.Names = wb.Names;
  Relationships rels;
  if (pkg.Has(RelsOf(workbookPart))) pkg.Parse(RelsOf(workbookPart), rels);
  // The part of sheet i, and whether it holds cells (a worksheet or a macro sheet) or not (chart and dialog
  // sheets); empty when the workbook names no part for it.
  const auto partOf = [&](std::size_t i, bool& cells) {
    const auto it = rels.ById.find(wb.SheetRels[i]);
    if (it == rels.ById.end()) return std::string();
    cells = it->second.Type.ends_with("/worksheet") || it->second.Type.ends_with("/xlMacrosheet");
    return Resolve(workbookPart, it->second.Target);
  };
  std::string sheetPart;
  bool cells = false;
  std::size_t index = 0;
  if (choice.Sheet.empty()) {
    // The first sheet that is a worksheet (chart and dialog sheets hold no cells).
    for (; index < wb.Names.size(); ++index) {
      const auto it = rels.ById.find(wb.SheetRels[index]);
      if (it == rels.ById.end() || !it->second.Type.ends_with("/worksheet")) continue;
      sheetPart = partOf(index, cells);
      break;
    }
    if (sheetPart.empty()) throw Exception("The workbook names no worksheet");
  } else {
    index = FindSheet(wb.Names, choice.Sheet);
    sheetPart = partOf(index, cells);
    if (sheetPart.empty()) throw Exception(Format("The workbook names no part for the sheet \"%s\"", wb.Names[index]));
  }
  choice.Index = index;

  std::vector<NumberKind> styles;
  const std::string stylesPart = Resolve(workbookPart, rels.TargetOfType("/styles"));
  if (!stylesPart.empty() && pkg.Has(stylesPart)) {
    Styles parsed;
    pkg.Parse(stylesPart, parsed);
    styles = parsed.Kinds();
  }
  SharedStrings strings(limits, sink);
  const std::string stringsPart = Resolve(workbookPart, rels.TargetOfType("/sharedStrings"));
  if (!stringsPart.empty() && pkg.Has(stringsPart)) pkg.Parse(stringsPart, strings);
  strings.Shrink();

  CountingSink counted(sink);
  if (cells) {
    Worksheet sheet(counted, limits, strings, styles, wb.Date1904);
    pkg.Parse(sheetPart, sheet);
  }
  if (counted.Count > 0) return;  // an empty sheet, chosen or the first: say so, and which sheets hold data
  std::map<std::string, bool> probed{{sheetPart, false}};  // each part is read once, whatever names it
  RefuseEmptySheet(wb.Names, index, [&](std::size_t i) {
    bool holds = false;
    const std::string part = partOf(i, holds);
    if (!holds || !pkg.Has(part)) return false;
    const auto [known, added] = probed.try_emplace(part, false);
    if (!added) return known->second;
    ProbeSink probe;
    Worksheet sheet(probe, limits, strings, styles, wb.Date1904);
    try {
      pkg.Parse(part, sheet);
    } catch (const FirstCellFound&) {
      known->second = true;
    } catch (const Exception&) {  // a damaged sheet holds no data to point to
    }
    return known->second;
  });
}

[[noreturn]] void ZipError(zip_error_t& err) {
  const std::string text = zip_error_strerror(&err);
  zip_error_fini(&err);
  throw Exception("Not an Office Open XML package (" + text + ")");
}

// The package of a file, or of bytes in memory.
Package OpenPackage(const std::string& fileName, const SheetLimits& limits) {
  int code = 0;
  zip_t* z = zip_open(fileName.c_str(), ZIP_RDONLY | ZIP_CHECKCONS, &code);
  if (z == nullptr) {
    zip_error_t err;
    zip_error_init_with_code(&err, code);
    ZipError(err);
  }
  return Package(z, limits);
}

Package OpenPackage(const void* data, std::size_t size, const SheetLimits& limits) {
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
  return Package(z, limits);
}

std::vector<std::string> SheetNamesOf(Package pkg) {
  Workbook wb;
  OpenWorkbook(pkg, wb);
  return wb.Names;
}

}  // namespace

void ReadXlsxSheet(const std::string& fileName, SheetSink& sink, SheetChoice& choice, const SheetLimits& limits) {
  Package pkg = OpenPackage(fileName, limits);
  ReadPackage(pkg, sink, choice, limits);
}

void ReadXlsxSheet(const void* data, std::size_t size, SheetSink& sink, SheetChoice& choice,
                   const SheetLimits& limits) {
  Package pkg = OpenPackage(data, size, limits);
  ReadPackage(pkg, sink, choice, limits);
}

void ReadXlsxSheet0(const std::string& fileName, SheetSink& sink, const SheetLimits& limits) {
  SheetChoice first;
  ReadXlsxSheet(fileName, sink, first, limits);
}

void ReadXlsxSheet0(const void* data, std::size_t size, SheetSink& sink, const SheetLimits& limits) {
  SheetChoice first;
  ReadXlsxSheet(data, size, sink, first, limits);
}

std::vector<std::string> XlsxSheetNames(const std::string& fileName, const SheetLimits& limits) {
  return SheetNamesOf(OpenPackage(fileName, limits));
}

std::vector<std::string> XlsxSheetNames(const void* data, std::size_t size, const SheetLimits& limits) {
  return SheetNamesOf(OpenPackage(data, size, limits));
}

}  // namespace vez::detail
