#include "output/LibraryExport.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <xlsxwriter.h>

#include <atomic>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <memory>
#include <optional>
#include <vector>

#include <fmt/format.h>

#include "core/CaseFold.h"
#include "core/Exceptions.h"
#include "core/FileMoves.h"
#include "core/FormatSettings.h"
#include "core/TextEncoding.h"
#include "librarydb/LibraryFile.h"
#include "output/ValueText.h"

namespace vez {

namespace {

namespace fs = std::filesystem;

enum class TFormat { Xlsx, Csv, Txt };

constexpr std::int64_t kStep = 256;                 // records between progress reports and interrupt questions
constexpr std::int64_t kMaxSheetRecords = 1048575;  // a worksheet's rows below the header
constexpr std::size_t kMaxCellUnits = 32767;        // UTF-16 units of a workbook cell's text
constexpr const char* kPassingSuffix = ".part";

std::string Quoted(const std::string& path) { return "'" + path + "'"; }

[[noreturn]] void CannotWrite(const std::string& outFile, const std::string& why) {
  throw Exception("Cannot write " + Quoted(outFile) + ": " + why);
}

TFormat FormatOf(const std::string& outFile) {
  const std::string ext = LowerCase(fs::path(outFile).extension().string());
  if (ext == ".xlsx") return TFormat::Xlsx;
  if (ext == ".csv") return TFormat::Csv;
  if (ext == ".txt") return TFormat::Txt;
  throw EParameterError("Cannot export to " + Quoted(outFile) + ": the file name must end in .xlsx, .csv or .txt");
}

// ---- the passing file ----

// The passing files of a name: "." + name + "." ... ".part".
bool IsPassingFileOf(const std::string& entry, const std::string& name) {
  const std::string prefix = "." + name + ".";
  const std::size_t suffix = std::strlen(kPassingSuffix);
  return entry.size() > prefix.size() + suffix && entry.compare(0, prefix.size(), prefix) == 0 &&
         entry.compare(entry.size() - suffix, suffix, kPassingSuffix) == 0;
}

// The file being written, under a passing name in the target's folder, locked while this object lives so that the
// next export to the same name can tell a killed writer's file (unlocked) from a running one's. Removed by the
// destructor unless published.
class TPassingFile {
public:
  TPassingFile(const std::string& target, const std::string& given) : target_(target), given_(given) {
    const fs::path path(target);
    folder_ = path.has_parent_path() ? path.parent_path().string() : std::string(".");
    const std::string name = path.filename().string();
    RemoveAbandoned(name);
    static std::atomic<std::uint64_t> next{1};
    for (;;) {
      passing_ = (fs::path(folder_) / ("." + name + "." + std::to_string(::getpid()) + "-" +
                             std::to_string(next.fetch_add(1)) + kPassingSuffix))
                     .string();
      fd_ = ::open(passing_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
      if (fd_ >= 0) break;
      if (errno != EEXIST) CannotWrite(given_, std::strerror(errno));
    }
    ::flock(fd_, LOCK_EX);
  }
  ~TPassingFile() {
    if (!published_) ::unlink(passing_.c_str());
    ::close(fd_);
  }
  TPassingFile(const TPassingFile&) = delete;
  TPassingFile& operator=(const TPassingFile&) = delete;

  const std::string& Path() const { return passing_; }
  const std::string& Folder() const { return folder_; }

  void Write(std::string_view bytes) {
    while (!bytes.empty()) {
      const ssize_t n = ::write(fd_, bytes.data(), bytes.size());
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) CannotWrite(given_, std::strerror(n < 0 ? errno : EIO));
      bytes.remove_prefix(static_cast<std::size_t>(n));
    }
  }

  // Puts the complete file on disk, then gives it its name: replacing an existing file only when asked, and
  // never one that appeared since the export began otherwise.
  void Publish(bool overwrite) {
    if (::fsync(fd_) != 0) CannotWrite(given_, std::strerror(errno));
    if (overwrite) {
      if (::rename(passing_.c_str(), target_.c_str()) != 0) CannotWrite(given_, std::strerror(errno));
    } else {
      PutInPlace();
    }
    published_ = true;
    // The new name on disk too; a folder that cannot be synchronised (some network shares) still holds it.
    const int dir = ::open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
      ::fsync(dir);
      ::close(dir);
    }
  }

private:
  void RemoveAbandoned(const std::string& name) {
    std::error_code ec;
    for (fs::directory_iterator it(folder_, ec), end; !ec && it != end; it.increment(ec)) {
      if (!IsPassingFileOf(it->path().filename().string(), name)) continue;
      const int fd = ::open(it->path().c_str(), O_RDWR | O_CLOEXEC);
      if (fd < 0) continue;
      if (::flock(fd, LOCK_EX | LOCK_NB) == 0) ::unlink(it->path().c_str());
      ::close(fd);
    }
  }

  void PutInPlace() {
    const int error = MoveWithoutReplacing(passing_, target_);
    if (error == 0) return;
    if (error == EEXIST) throw EFileExists(Quoted(given_) + " exists already");
    CannotWrite(given_, std::strerror(error));
  }

  std::string target_, given_, passing_, folder_;
  int fd_ = -1;
  bool published_ = false;
};

// ---- cells ----

struct TColumn {
  int Field = 0;
  ValueStyle Style = ValueStyle::Text;
  TField::Kind Kind = TField::Kind::Text;
};

// A text longer than a cell holds; the record loop names the record and field.
struct TTextTooLong {
  std::size_t Units;
};

// Where the cells of the rows go, column by column, every column of a row in order.
class TCellSink {
public:
  virtual ~TCellSink() = default;
  virtual void Empty(std::size_t col) = 0;
  virtual void Text(std::size_t col, std::string_view text) = 0;
  virtual void Number(std::size_t col, double value) = 0;
  virtual void Integer(std::size_t col, std::int64_t value) = 0;
  virtual void Boolean(std::size_t col, bool value) = 0;
  virtual void DateTime(std::size_t col, double value, TField::Kind kind) = 0;
  virtual void EndRow() = 0;
  // Completes the file; the sink writes nothing after it.
  virtual void Finish() = 0;
};

// ISO 8601 as the import reads it exactly: a date field's date, a time field's time, else both, with milliseconds.
std::string IsoText(double value, TField::Kind kind) {
  if (kind == TField::Kind::Date) return DateToISO(value);
  int h = 0, n = 0, s = 0, z = 0;
  DecodeTime(value, h, n, s, z);
  const std::string time = fmt::format("{:02}:{:02}:{:02}.{:03}", h, n, s, z);
  return kind == TField::Kind::Time ? time : DateToISO(value) + "T" + time;
}

// The comma- or tab-separated text formats, buffered into the passing file.
class TTextSink : public TCellSink {
public:
  TTextSink(TPassingFile& file, TFormat format)
      : file_(file), separator_(format == TFormat::Csv ? ',' : '\t'), lineEnd_(format == TFormat::Csv ? "\r\n" : "\n") {
    if (format == TFormat::Csv) buffer_ = "\xEF\xBB\xBF";  // UTF-8, as spreadsheet programs recognise it
  }
  void Empty(std::size_t col) override { Separate(col); }
  void Text(std::size_t col, std::string_view text) override {
    Separate(col);
    AppendCsvField(buffer_, text, separator_);
  }
  void Number(std::size_t col, double value) override {
    Separate(col);
    buffer_ += NumberText(value);
  }
  void Integer(std::size_t col, std::int64_t value) override {
    Separate(col);
    fmt::format_to(std::back_inserter(buffer_), "{}", value);
  }
  void Boolean(std::size_t col, bool value) override {
    Separate(col);
    buffer_ += value ? "True" : "False";
  }
  void DateTime(std::size_t col, double value, TField::Kind kind) override {
    Separate(col);
    buffer_ += IsoText(value, kind);
  }
  void EndRow() override {
    buffer_ += lineEnd_;
    if (buffer_.size() >= (1u << 20)) Flush();
  }
  void Finish() override { Flush(); }

private:
  void Separate(std::size_t col) {
    if (col > 0) buffer_ += separator_;
  }
  void Flush() {
    file_.Write(buffer_);
    buffer_.clear();
  }

  TPassingFile& file_;
  char separator_;
  const char* lineEnd_;
  std::string buffer_;
};

// Whether a workbook cell, which keeps 16 significant digits, reads back as the same double. The shortest text
// of most numbers has 15 digits or fewer, which always fit; longer ones are tried.
bool FitsWorkbookCell(double value) {
  char text[64];
  const char* end = std::to_chars(text, text + sizeof text, value).ptr;
  int digits = 0, zeros = 0;
  bool started = false;
  for (const char* p = text; p < end && *p != 'e'; ++p) {
    if (*p < '0' || *p > '9' || (*p == '0' && !started)) continue;
    started = true;
    zeros = *p == '0' ? zeros + 1 : 0;
    ++digits;
  }
  if (digits - zeros <= 15) return true;
  std::snprintf(text, sizeof text, "%.16G", value);
  return std::strtod(text, nullptr) == value;
}

// The workbook serial of a library date-time. Both count days from 30 December 1899, but the workbook's 1900
// date system has a 29 February 1900 that never was, so its serials before 1 March 1900 are one lower; a value
// from 0 to 1 is a time of day in both. Nothing for dates a workbook cannot show (before 1 January 1900, after
// 9999).
std::optional<double> WorkbookSerial(double value) {
  if (value >= 0.0 && value < 1.0) return value;
  if (value >= 2.0 && value < 61.0) return value - 1.0;
  if (value >= 61.0 && value < 2958466.0) return value;
  return std::nullopt;
}

// A text as a workbook cell holds it. Spreadsheet programs read "_x" + four hex digits + "_" as the character it
// names (the writer escapes control characters so), so a library text holding that form gets its underscore
// escaped as "_x005F_"; NUL, which the writer's C strings cannot carry, becomes "_x0000_".
bool NeedsCellEscapes(std::string_view text) {
  return text.find("_x") != std::string_view::npos || text.find('\0') != std::string_view::npos;
}
std::string CellEscaped(std::string_view text) {
  auto hex = [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; };
  std::string out;
  out.reserve(text.size() + 16);
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\0') {
      out += "_x0000_";
    } else if (text[i] == '_' && i + 6 < text.size() && text[i + 1] == 'x' && hex(text[i + 2]) && hex(text[i + 3]) &&
               hex(text[i + 4]) && hex(text[i + 5]) && text[i + 6] == '_') {
      out += "_x005F_";
    } else {
      out += text[i];
    }
  }
  return out;
}

// A worksheet name as workbooks allow it: no [ ] : * ? / \, no apostrophe at either end, at most 31 characters.
std::string SheetName(const std::string& table) {
  std::string name = Utf8OrLatin1(table);
  for (char& c : name)
    if (std::strchr("[]:*?/\\", c) != nullptr) c = '_';
  if (!name.empty() && name.front() == '\'') name.front() = '_';
  std::size_t chars = 0, cut = 0;
  for (; cut < name.size(); ++cut)
    if ((static_cast<unsigned char>(name[cut]) & 0xC0) != 0x80 && ++chars > 31) break;
  name.resize(cut);
  if (!name.empty() && name.back() == '\'') name.back() = '_';
  return name.empty() ? "Sheet1" : name;
}

// One worksheet through libxlsxwriter in constant-memory mode: each row goes to the writer's temporary file (in
// the target's folder) when the next begins, so memory stays the same whatever the number of records.
// The writer puts 16 significant digits into a number cell, which do not give every double back (0.1 + 0.2 needs
// 17). The worksheet writes its rows' XML through its stream `file`, which in this mode is its temporary file
// `optimize_tmpfile`; at the close it reads that file back into the sheet's part and closes it. Both are given
// a stream of this class instead, which passes the XML on to the temporary file and, on the way, puts the full
// text into the <v> of each cell noted as needing it: one pass over the XML, no second packing of the sheet.
// A note waits only for the rows the writer has not handed on yet, so memory stays flat; a note the XML never
// meets (a writer that works otherwise) leaves the export failed, never a workbook of rounded numbers.
class TExactNumbers {
public:
  TExactNumbers() = default;
  ~TExactNumbers() {
    if (stream_ != nullptr && !closed_) std::fclose(stream_);  // a workbook freed without its close
  }
  TExactNumbers(const TExactNumbers&) = delete;
  TExactNumbers& operator=(const TExactNumbers&) = delete;

  // Puts the stream between `sheet` (just added, nothing written yet) and its temporary file.
  void Attach(lxw_worksheet* sheet) {
    if (sheet->optimize_tmpfile == nullptr || sheet->file != sheet->optimize_tmpfile) return;  // not streamed
    const cookie_io_functions_t io{&TExactNumbers::Read, &TExactNumbers::Write, &TExactNumbers::Seek,
                                   &TExactNumbers::Close};
    stream_ = fopencookie(this, "w+", io);
    if (stream_ == nullptr) return;
    std::setvbuf(stream_, nullptr, _IOFBF, 1 << 16);
    file_ = sheet->optimize_tmpfile;
    sheet->optimize_tmpfile = stream_;
    sheet->file = stream_;
  }

  void Note(lxw_row_t row, lxw_col_t col, double value) {
    if (stream_ == nullptr) throw Exception("The workbook's numbers cannot be written in full");
    TNote note;
    note.Pattern = "<c r=\"" + GridCellName(col, row) + "\"";
    note.Text.assign(text_, std::to_chars(text_, text_ + sizeof text_, value).ptr);
    notes_.push_back(std::move(note));
  }

  // After the workbook's close: whether every noted number went into the sheet in full.
  bool Complete() const { return !failed_ && notes_.empty() && (stream_ == nullptr || closed_); }

private:
  struct TNote {
    std::string Pattern;  // the cell's start, <c r="B7"
    std::string Text;     // its value's shortest exact text
  };

  static std::string GridCellName(lxw_col_t col, lxw_row_t row) {
    std::string name;
    for (std::uint32_t k = col + 1u; k > 0; k = (k - 1) / 26) name.insert(name.begin(), static_cast<char>('A' + (k - 1) % 26));
    return name + std::to_string(row + 1u);
  }

  bool Put(std::string_view bytes) {
    const int fd = fileno(file_);
    while (!bytes.empty()) {
      const ssize_t n = ::write(fd, bytes.data(), bytes.size());
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
  }

  // Passes `bytes` on, each noted cell's <v> replaced by its full text. Bytes that may hold the start of the next
  // noted cell, or a noted cell whose value is not complete yet, wait in held_ for the next bytes.
  bool Pass(std::string_view bytes) {
    if (notes_.empty() && held_.empty()) return Put(bytes);
    held_.append(bytes);
    const std::string_view xml = held_;
    constexpr auto npos = std::string_view::npos;
    std::size_t copied = 0, keep = xml.size();  // handed on into out_; from where the bytes wait
    out_.clear();
    while (!notes_.empty()) {
      const TNote& note = notes_.front();
      const std::size_t start = xml.find(note.Pattern, copied);
      if (start == npos) {  // not written yet, or its start cut off at the end
        keep = std::max(copied, xml.size() - std::min(xml.size(), note.Pattern.size() - 1));
        break;
      }
      const std::size_t end = xml.find("</c>", start);
      if (end == npos) {
        keep = start;
        break;
      }
      const std::size_t v = xml.find("<v>", start), vEnd = xml.find("</v>", start);
      if (v == npos || vEnd == npos || vEnd > end) return false;  // the cell holds no value: not the writer's form
      out_.append(xml.substr(copied, v + 3 - copied));
      out_ += note.Text;
      copied = vEnd;
      notes_.pop_front();
    }
    if (notes_.empty()) keep = xml.size();
    out_.append(xml.substr(copied, keep - copied));
    held_.erase(0, keep);
    return Put(out_);
  }

  static ssize_t Write(void* cookie, const char* data, std::size_t size) {
    auto& self = *static_cast<TExactNumbers*>(cookie);
    if (!self.Pass({data, size})) {
      self.failed_ = true;
      return -1;
    }
    return static_cast<ssize_t>(size);
  }
  static ssize_t Read(void* cookie, char* data, std::size_t size) {
    auto& self = *static_cast<TExactNumbers*>(cookie);
    ssize_t n = 0;
    do n = ::read(fileno(self.file_), data, size);
    while (n < 0 && errno == EINTR);
    if (n < 0) self.failed_ = true;  // the writer would take it for the end of its rows
    return n;
  }
  static int Seek(void* cookie, off64_t* offset, int whence) {
    auto& self = *static_cast<TExactNumbers*>(cookie);
    if (!self.PutHeld()) return -1;
    const off64_t at = ::lseek64(fileno(self.file_), *offset, whence);
    if (at < 0) return -1;
    *offset = at;
    return 0;
  }
  static int Close(void* cookie) {
    auto& self = *static_cast<TExactNumbers*>(cookie);
    const bool held = self.PutHeld();
    self.closed_ = true;
    const bool closed = std::fclose(self.file_) == 0;
    return held && closed ? 0 : -1;
  }
  // The held bytes go on as they are: the writer has written everything (a seek or the close).
  bool PutHeld() {
    const bool ok = Put(held_);
    held_.clear();
    failed_ = failed_ || !ok;
    return ok;
  }

  std::FILE* file_ = nullptr;    // the writer's temporary file
  std::FILE* stream_ = nullptr;  // the stream the writer writes through
  bool closed_ = false, failed_ = false;
  std::deque<TNote> notes_;
  std::string held_, out_;
  char text_[32];
};

class TXlsxSink : public TCellSink {
public:
  TXlsxSink(TPassingFile& file, const std::string& given, const std::string& table, bool zip64)
      : given_(given), tmpdir_(file.Folder()) {
    lxw_workbook_options options{};
    options.constant_memory = LXW_TRUE;
    options.tmpdir = tmpdir_.data();
    options.use_zip64 = zip64 ? LXW_TRUE : LXW_FALSE;
    workbook_ = workbook_new_opt(file.Path().c_str(), &options);
    if (workbook_ == nullptr) CannotWrite(given_, "the workbook cannot be made");
    sheet_ = workbook_add_worksheet(workbook_, SheetName(table).c_str());
    if (sheet_ == nullptr) CannotWrite(given_, "the worksheet cannot be made");
    exact_.Attach(sheet_);
    worksheet_freeze_panes(sheet_, 1, 0);
    const std::pair<TField::Kind, const char*> formats[] = {{TField::Kind::Date, "yyyy-mm-dd"},
                                                            {TField::Kind::Time, "hh:mm:ss"},
                                                            {TField::Kind::DateTime, "yyyy-mm-dd hh:mm:ss"}};
    for (const auto& [kind, code] : formats) {
      lxw_format* format = workbook_add_format(workbook_);
      format_set_num_format(format, code);
      dateFormats_[static_cast<int>(kind)] = format;
    }
  }
  ~TXlsxSink() override {
    if (workbook_ != nullptr) lxw_workbook_free(workbook_);  // an unfinished workbook writes nothing
  }
  TXlsxSink(const TXlsxSink&) = delete;
  TXlsxSink& operator=(const TXlsxSink&) = delete;

  // Whole numbers beyond 2^53 that no double holds, and so no cell.
  std::int64_t NumbersRounded() const { return rounded_; }

  void Empty(std::size_t) override {}
  void Text(std::size_t col, std::string_view text) override {
    if (text.empty()) return;
    if (text.size() > kMaxCellUnits) {  // UTF-16 units never outnumber UTF-8 bytes
      std::size_t units = 0;
      for (char c : text) {
        const auto b = static_cast<unsigned char>(c);
        if ((b & 0xC0) != 0x80) units += b >= 0xF0 ? 2 : 1;
      }
      if (units > kMaxCellUnits) throw TTextTooLong{units};
    }
    if (NeedsCellEscapes(text)) {
      Check(worksheet_write_string(sheet_, row_, Col(col), CellEscaped(text).c_str(), nullptr));
    } else {
      text_.assign(text);
      Check(worksheet_write_string(sheet_, row_, Col(col), text_.c_str(), nullptr));
    }
  }
  void Number(std::size_t col, double value) override {
    if (!std::isfinite(value)) return Text(col, NumberText(value));
    if (!FitsWorkbookCell(value)) exact_.Note(row_, Col(col), value);
    Check(worksheet_write_number(sheet_, row_, Col(col), value, nullptr));
  }
  void Integer(std::size_t col, std::int64_t value) override {
    constexpr std::int64_t kExact = std::int64_t{1} << 53;  // beyond, not every whole number is a double
    if (value > kExact || value < -kExact) ++rounded_;
    Check(worksheet_write_number(sheet_, row_, Col(col), static_cast<double>(value), nullptr));
  }
  void Boolean(std::size_t col, bool value) override {
    Check(worksheet_write_boolean(sheet_, row_, Col(col), value ? 1 : 0, nullptr));
  }
  void DateTime(std::size_t col, double value, TField::Kind kind) override {
    const std::optional<double> serial = WorkbookSerial(value);
    if (!serial) return Text(col, IsoText(value, kind));
    Check(worksheet_write_number(sheet_, row_, Col(col), *serial, dateFormats_[static_cast<int>(kind)]));
  }
  void EndRow() override {
    if (row_ >= kMaxSheetRecords)
      throw Exception(fmt::format("More than {} records to export; an .xlsx worksheet holds {} below its header "
                                  "(export to .csv or .txt)",
                                  kMaxSheetRecords, kMaxSheetRecords));
    ++row_;
  }
  void Finish() override {
    const lxw_error error = workbook_close(workbook_);
    workbook_ = nullptr;
    if (error != LXW_NO_ERROR) CannotWrite(given_, lxw_strerror(error));
    if (!exact_.Complete()) CannotWrite(given_, "the workbook's numbers cannot be written in full");
  }

private:
  static lxw_col_t Col(std::size_t col) { return static_cast<lxw_col_t>(col); }
  void Check(lxw_error error) const {
    if (error != LXW_NO_ERROR) CannotWrite(given_, lxw_strerror(error));
  }

  std::string given_;
  std::string tmpdir_;
  TExactNumbers exact_;
  lxw_workbook* workbook_ = nullptr;
  lxw_worksheet* sheet_ = nullptr;
  lxw_format* dateFormats_[static_cast<int>(TField::Kind::Other) + 1] = {};
  lxw_row_t row_ = 0;
  std::int64_t rounded_ = 0;
  std::string text_;  // room for the NUL-terminated copy of a text
};

// Writes one cell of the current record by the style of its column; a value its column's type cannot hold (text
// another program stored in a number column) is written as the text it is.
void WriteCell(TCellSink& sink, std::size_t col, const TColumn& column, const Variant& value) {
  if (value.IsClear()) return sink.Empty(col);
  const auto text = [&](const std::string& t) { sink.Text(col, IsValidUtf8(t) ? t : Utf8OrLatin1(t)); };
  if (value.Type() == VarType::String && column.Style != ValueStyle::Binary) return text(value.RawString());
  switch (column.Style) {
    case ValueStyle::Integer: return sink.Integer(col, value.AsInteger());
    case ValueStyle::Float: return sink.Number(col, value.AsFloat());
    case ValueStyle::Boolean: return sink.Boolean(col, value.AsBoolean());
    case ValueStyle::DateTime: return sink.DateTime(col, value.AsDateTime(), column.Kind);
    case ValueStyle::Binary:
      return sink.Text(col, Base64(value.Type() == VarType::String ? value.RawString() : value.AsString()));
    case ValueStyle::Text: break;
  }
  text(value.AsString());
}

// The columns of the export: the fields named, in their order, or every field.
std::vector<TColumn> Columns(TABSTable& table, const std::vector<std::string>& names) {
  std::vector<TColumn> columns;
  auto add = [&](TField& f) {
    columns.push_back({f.Index(), ValueStyleOf(f.DataType()), f.ValueKind()});
  };
  if (names.empty()) {
    for (int i = 0; i < table.FieldCount(); ++i) add(table.Fields(i));
    return columns;
  }
  for (const std::string& name : names) {
    TField* f = table.FindField(Trim(name));
    if (f == nullptr) {
      std::string all;
      for (int i = 0; i < table.FieldCount(); ++i) all += (i > 0 ? ", " : "") + table.Fields(i).FieldName();
      throw Exception("The library has no field \"" + Trim(name) + "\" (its fields: " + all + ")");
    }
    for (const TColumn& c : columns)
      if (c.Field == f->Index()) throw EParameterError("The field \"" + f->FieldName() + "\" is given twice");
    add(*f);
  }
  return columns;
}

// The record's name field: the first field of the unique index "EN"; nullptr when the library has none.
TField* NameField(TABSTable& table) {
  const int i = table.IndexDefs().IndexOf("EN");
  if (i < 0 || (table.IndexDefs()[i].Options & (ixUnique | ixPrimary)) == 0) return nullptr;
  const std::string& fields = table.IndexDefs()[i].Fields;
  return table.FindField(fields.substr(0, fields.find(';')));
}

// "record 12 ("Pump 3")": its number ("Eintrag", as `vezi edit` takes it), else its place, and its name.
std::string RecordText(TABSTable& table, std::int64_t place, const TField* name) {
  std::string text = "record " + std::to_string(place);
  for (int i = 0; i < table.FieldCount(); ++i)
    if (table.Fields(i).DataType() == ftAutoInc && !table.Fields(i).IsNull())
      text = "record " + std::to_string(table.Fields(i).AsLargeInt());
  if (name != nullptr && !name->IsNull()) text += " (\"" + Utf8OrLatin1(name->AsString()) + "\")";
  return text;
}

}  // namespace

std::vector<std::string> SplitFieldList(const std::string& Text) {
  std::vector<std::string> names;
  std::string current;
  int depth = 0;
  for (char c : Text) {
    if (c == '(' || c == '[') ++depth;
    if ((c == ')' || c == ']') && depth > 0) --depth;
    if (c == ',' && depth == 0) {
      names.push_back(Trim(current));
      current.clear();
    } else {
      current += c;
    }
  }
  names.push_back(Trim(current));
  return names;
}

TExportResult ExportLibrary(const std::string& LibraryFile, const std::string& OutFile, const TExportOptions& Options) {
  TExportResult result;
  const TFormat format = FormatOf(OutFile);
  result.Format = format == TFormat::Xlsx ? "xlsx" : format == TFormat::Csv ? "csv" : "txt";
  std::error_code ec;
  const fs::path folder = fs::path(OutFile).parent_path();
  if (!folder.empty() && !fs::is_directory(folder, ec)) throw EParameterError("The export's folder does not exist");
  const bool exists = fs::symlink_status(OutFile, ec).type() != fs::file_type::not_found;
  if (exists && !Options.Overwrite) throw EFileExists(Quoted(OutFile) + " exists already");

  TLibraryFile lib(LibraryFile, false);
  TABSTable& table = lib.Table();
  if (exists && fs::equivalent(OutFile, lib.Path(), ec))
    throw Exception(Quoted(OutFile) + " is the library itself; give another file name");
  const std::vector<TColumn> columns = Columns(table, Options.Fields);
  TField* name = NameField(table);
  const std::string where = FoldCase(Options.WhereName);
  if (!where.empty() && name == nullptr)
    throw Exception("The records of \"" + ExtractFileName(lib.Path()) +
                    "\" have no names to select by (the library has no unique index \"EN\")");
  if (!table.IndexName().empty()) table.SetIndexName("");  // insertion order

  TPassingFile file(OutFile, OutFile);
  std::unique_ptr<TCellSink> sink;
  TXlsxSink* xlsx = nullptr;
  const std::int64_t total = table.RecordCount();
  if (format == TFormat::Xlsx) {
    // The zip needs its 64-bit extensions when the sheet's XML may pass 4 GiB (some 40 bytes a cell beside the
    // values, which the library file's size bounds); a smaller workbook keeps the form every program reads.
    const auto estimate = static_cast<std::uintmax_t>(total) * columns.size() * 48 + fs::file_size(lib.Path(), ec);
    const bool zip64 = estimate > (std::uintmax_t{3} << 30);
    auto x = std::make_unique<TXlsxSink>(file, OutFile, table.TableNameInFile(), zip64);
    xlsx = x.get();
    sink = std::move(x);
  } else {
    sink = std::make_unique<TTextSink>(file, format);
  }
  for (std::size_t c = 0; c < columns.size(); ++c)
    sink->Text(c, Utf8OrLatin1(table.Fields(columns[c].Field).FieldName()));
  sink->EndRow();

  std::int64_t done = 0;
  auto interrupted = [&] { return Options.Interrupted && Options.Interrupted(); };
  for (table.First(); !table.Eof(); table.Next()) {
    if (++done % kStep == 0) {
      if (Options.Progress) Options.Progress(done, total);
      if (interrupted()) {
        result.Interrupted = true;
        return result;  // the sink and the passing file go without leaving a file
      }
    }
    if (!where.empty() && FoldCase(name->AsString()).find(where) == std::string::npos) continue;
    for (std::size_t c = 0; c < columns.size(); ++c) {
      try {
        WriteCell(*sink, c, columns[c], table.Fields(columns[c].Field).Value());
      } catch (const TTextTooLong& e) {
        throw Exception(fmt::format("The {} of {}, field \"{}\", has {} characters; an .xlsx cell holds at most {} "
                                    "(export to .csv or .txt, or leave the field out)",
                                    columns[c].Style == ValueStyle::Binary ? "Base64 text" : "text",
                                    RecordText(table, done, name), table.Fields(columns[c].Field).FieldName(),
                                    e.Units, kMaxCellUnits));
      }
    }
    sink->EndRow();
    ++result.Records;
  }
  sink->Finish();
  if (xlsx != nullptr) result.NumbersRounded = xlsx->NumbersRounded();
  if (Options.Progress) Options.Progress(done, total);
  // Asked once more before the file appears, so that an interrupt during the last records or the packing of the
  // workbook leaves no file either.
  if (interrupted()) {
    result.Interrupted = true;
    return result;
  }
  file.Publish(Options.Overwrite);
  return result;
}

}  // namespace vez
