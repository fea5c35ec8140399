// The .xls reader: BIFF2, 3, 4, 5 and 8 records of the workbook globals and of one sheet.
//
// The stream is the "Workbook" (BIFF8) or "Book" (BIFF5) stream of a compound document, or the whole file for
// the raw BIFF2 .. BIFF5 files that older programs wrote. The first BOF record tells the version. A workbook
// (BIFF5, BIFF8, BIFF4W) starts with its globals: code page, date system, number formats, cell formats (XF),
// the shared string table and the list of sheets (BOUNDSHEET: name, kind and the offset of the sheet's BOF);
// each sheet's records follow as a substream of their own (BIFF4W: one after the other behind the globals,
// named "Sheet<n>" by their place, since we read no names there). A worksheet file (BIFF2 .. BIFF4) holds the
// same kinds of records and its cells in one stream, as one sheet "Sheet1". Substreams inside a sheet
// (embedded charts) are skipped by BOF/EOF depth. Worksheets and macro sheets hold cells; chart sheets and
// modules hold none.
//
// Cells: NUMBER, RK, MULRK, INTEGER (BIFF2) through their cell format (a date, time or elapsed-time format
// makes a date text); LABEL, RSTRING (text in the file's code page, BIFF8 in UTF-16 or Latin-1), LABELSST; FORMULA
// with its cached result (a number, a string in the STRING record that follows, a Boolean or an error);
// BOOLERR. BLANK and MULBLANK hold no value.
//
// Every length and count is checked against the bytes that are there before it is used; a FILEPASS record
// (an encrypted workbook) is refused.
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>

#include "core/Exceptions.h"
#include "core/FormatSettings.h"
#include "core/TextEncoding.h"
#include "import/sheet/CompoundFile.h"
#include "import/sheet/SheetReader.h"

namespace vez::detail {

namespace {

enum : std::uint16_t {
  kBof2 = 0x0009, kBof3 = 0x0209, kBof4 = 0x0409, kBof = 0x0809, kEof = 0x000A,
  kFilePass = 0x002F, kCodePage = 0x0042, kDateMode = 0x0022, kContinue = 0x003C,
  kFormat2 = 0x001E, kFormat = 0x041E, kXf2 = 0x0043, kXf3 = 0x0243, kXf4 = 0x0443, kXf = 0x00E0,
  kIxfe = 0x0044, kSst = 0x00FC, kBoundSheet = 0x0085,
  kInteger2 = 0x0002, kNumber2 = 0x0003, kLabel2 = 0x0004, kBoolErr2 = 0x0005, kFormula2 = 0x0006,
  kString2 = 0x0007,
  kNumber = 0x0203, kLabel = 0x0204, kBoolErr = 0x0205, kFormula = 0x0006, kFormula3 = 0x0206,
  kFormula4 = 0x0406, kString = 0x0207, kRk = 0x027E, kMulRk = 0x00BD, kLabelSst = 0x00FD, kRString = 0x00D6,
};

enum : std::uint16_t { kGlobals = 0x0005, kWorksheet = 0x0010, kChart = 0x0020, kMacroSheet = 0x0040, kGlobals4 = 0x0100 };

std::uint16_t U16(const char* p) {
  return static_cast<std::uint16_t>(static_cast<unsigned char>(p[0]) | static_cast<unsigned char>(p[1]) << 8);
}
std::uint32_t U32(const char* p) { return static_cast<std::uint32_t>(U16(p)) | static_cast<std::uint32_t>(U16(p + 2)) << 16; }
double F64(const char* p) {
  std::uint64_t bits = static_cast<std::uint64_t>(U32(p)) | static_cast<std::uint64_t>(U32(p + 4)) << 32;
  return std::bit_cast<double>(bits);
}

bool IsBof(std::uint16_t type) { return type == kBof2 || type == kBof3 || type == kBof4 || type == kBof; }

std::string CellRef(std::uint32_t row, std::uint32_t col) {
  std::string letters;
  for (std::uint64_t k = col + 1; k > 0; k = (k - 1) / 26) letters.insert(letters.begin(), static_cast<char>('A' + (k - 1) % 26));
  return letters + std::to_string(row + 1);
}

const char* ErrorText(unsigned code) {
  switch (code) {
    case 0x00: return "#NULL!";
    case 0x07: return "#DIV/0!";
    case 0x0F: return "#VALUE!";
    case 0x17: return "#REF!";
    case 0x1D: return "#NAME?";
    case 0x24: return "#NUM!";
    case 0x2A: return "#N/A";
    case 0x2B: return "#GETTING_DATA";
    default: return "#N/A";
  }
}

double RkValue(std::uint32_t rk) {
  double v = (rk & 2) != 0 ? static_cast<double>(static_cast<std::int32_t>(rk) >> 2)
                           : std::bit_cast<double>(static_cast<std::uint64_t>(rk & 0xFFFFFFFCu) << 32);
  return (rk & 1) != 0 ? v / 100.0 : v;
}

struct Record {
  std::uint16_t Type = 0;
  std::string_view Data;
};

// The records of a stream, one after the other: of a stream in memory, or read from a compound file through a
// window (CompoundFile::StreamWindow). A record's data is valid until the next record is read.
class RecordReader {
public:
  RecordReader(std::string_view stream, bool truncated)
      : stream_(stream), size_(stream.size()), truncated_(truncated) {}
  explicit RecordReader(CompoundFile::StreamWindow& window)
      : window_(&window), size_(window.Size()), truncated_(window.Truncated()) {}

  // False at the end of the stream.
  bool Next(Record& r) {
    if (pos_ + 4 > size_) {
      if (pos_ < size_) Short();
      return false;
    }
    const std::string_view head = Bytes(pos_, 4);
    const std::uint16_t type = U16(head.data()), len = U16(head.data() + 2);
    if (pos_ + 4 + len > size_) Short();
    r.Type = type;
    r.Data = Bytes(pos_ + 4, len);
    pos_ += 4 + static_cast<std::uint64_t>(len);
    return true;
  }
  // The data of `r`, the record just read, and of the CONTINUE records that follow it, one part each. The parts
  // are valid together (r.Data itself may not be any more).
  std::vector<std::string_view> WithContinues(const Record& r) {
    const std::uint64_t start = pos_ - r.Data.size();
    std::vector<std::pair<std::uint64_t, std::size_t>> spans{{start, r.Data.size()}};
    while (pos_ + 4 <= size_) {
      const std::string_view head = Bytes(pos_, 4);
      if (U16(head.data()) != kContinue) break;
      const std::uint16_t len = U16(head.data() + 2);
      if (pos_ + 4 + len > size_) Short();
      spans.emplace_back(pos_ + 4, len);
      pos_ += 4 + static_cast<std::uint64_t>(len);
    }
    const std::string_view all = Bytes(start, static_cast<std::size_t>(pos_ - start));
    std::vector<std::string_view> parts;
    parts.reserve(spans.size());
    for (const auto& [at, len] : spans) parts.push_back(all.substr(static_cast<std::size_t>(at - start), len));
    return parts;
  }
  // The data of the record that comes next when it is a CONTINUE record, which is read (valid until the next
  // record is read); false when the next record is no CONTINUE record.
  bool NextContinue(std::string_view& data) {
    if (pos_ + 4 > size_) return false;
    const std::string_view head = Bytes(pos_, 4);
    if (U16(head.data()) != kContinue) return false;
    const std::uint16_t len = U16(head.data() + 2);
    if (pos_ + 4 + len > size_) Short();
    data = Bytes(pos_ + 4, len);
    pos_ += 4 + static_cast<std::uint64_t>(len);
    return true;
  }
  bool Seek(std::uint64_t offset) {
    if (offset >= size_) return false;
    pos_ = offset;
    return true;
  }
  bool Truncated() const { return truncated_; }
  std::uint64_t Position() const { return pos_; }
  std::uint64_t Size() const { return size_; }

  [[noreturn]] void Short() const {
    if (truncated_) throw Exception("The file is cut short: the workbook stream ends inside a record");
    throw Exception(Format("The workbook stream is damaged: the record at offset %d runs past its end",
                           static_cast<long long>(pos_)));
  }

private:
  std::string_view Bytes(std::uint64_t offset, std::size_t n) {
    return window_ != nullptr ? window_->View(offset, n) : stream_.substr(static_cast<std::size_t>(offset), n);
  }

  std::string_view stream_;
  CompoundFile::StreamWindow* window_ = nullptr;
  std::uint64_t size_ = 0;
  bool truncated_;
  std::uint64_t pos_ = 0;
};

// Bytes of a record and its CONTINUE records as one sequence; BIFF8 strings that cross into a CONTINUE record
// start their remaining characters with a new option byte there.
class Parts {
public:
  explicit Parts(std::vector<std::string_view> parts) : parts_(std::move(parts)) {}
  // The parts after `first` come from `more` one at a time, as the bytes reach them (true with the next part,
  // false when there is none), so that only the part being read needs to be valid.
  Parts(std::string_view first, std::function<bool(std::string_view&)> more) : parts_{first}, more_(std::move(more)) {}
  bool AtEnd() {
    while (part_ < parts_.size() && pos_ >= parts_[part_].size()) NextPart();
    return part_ >= parts_.size();
  }
  bool Byte(unsigned char& b) {
    if (AtEnd()) return false;
    b = static_cast<unsigned char>(parts_[part_][pos_++]);
    return true;
  }
  bool U16(std::uint16_t& v) {
    unsigned char a = 0, b = 0;
    if (!Byte(a) || !Byte(b)) return false;
    v = static_cast<std::uint16_t>(a | b << 8);
    return true;
  }
  bool U32(std::uint32_t& v) {
    std::uint16_t a = 0, b = 0;
    if (!U16(a) || !U16(b)) return false;
    v = a | static_cast<std::uint32_t>(b) << 16;
    return true;
  }
  bool Skip(std::uint64_t n) {
    while (n > 0) {
      if (AtEnd()) return false;
      const std::uint64_t take = std::min<std::uint64_t>(n, parts_[part_].size() - pos_);
      pos_ += static_cast<std::size_t>(take);
      n -= take;
    }
    return true;
  }
  // A BIFF8 string: character count (8 or 16 bits), option byte, rich-text runs and extended data.
  bool Unicode(bool longCount, std::string& out) {
    out.clear();
    std::uint16_t count = 0;
    unsigned char count8 = 0, options = 0;
    if (longCount ? !U16(count) : !Byte(count8)) return false;
    if (!longCount) count = count8;
    if (!Byte(options)) return false;
    std::uint16_t runs = 0;
    std::uint32_t extra = 0;
    if ((options & 0x08) != 0 && !U16(runs)) return false;
    if ((options & 0x04) != 0 && !U32(extra)) return false;
    char16_t pending = 0;
    for (std::uint32_t left = count; left > 0;) {
      if (pos_ >= Current().size()) {
        NextPart();
        if (part_ >= parts_.size() || !Byte(options)) return false;
      }
      const std::size_t width = (options & 0x01) != 0 ? 2 : 1;
      const std::size_t n = std::min<std::size_t>(left, (Current().size() - pos_) / width);
      if (n == 0) return false;  // half a character at the end of a part
      const auto* p = reinterpret_cast<const unsigned char*>(Current().data() + pos_);
      if (width == 2) AppendUtf16(out, p, n, &pending);
      else AppendLatin1(out, p, n);
      pos_ += n * width;
      left -= static_cast<std::uint32_t>(n);
    }
    if (pending != 0) AppendUtf8(out, 0xFFFD);
    return Skip(4ull * runs) && Skip(extra);
  }

private:
  std::string_view Current() const { return part_ < parts_.size() ? parts_[part_] : std::string_view(); }
  void NextPart() {
    ++part_;
    pos_ = 0;
    if (part_ == parts_.size() && more_) {
      std::string_view next;
      if (more_(next)) {
        parts_.back() = next;  // the part read before is done with
        --part_;
      } else {
        more_ = nullptr;
      }
    }
  }
  std::vector<std::string_view> parts_;
  std::size_t part_ = 0, pos_ = 0;
  std::function<bool(std::string_view&)> more_;
};

class BiffBook {
public:
  BiffBook(std::string_view stream, bool truncated, const SheetLimits& limits)
      : records_(stream, truncated), limits_(limits) {}
  BiffBook(CompoundFile::StreamWindow& window, const SheetLimits& limits) : records_(window), limits_(limits) {}

  // Reads the first BOF and, in a workbook, the globals and the list of sheets. A `keeper` that keeps shared
  // strings (SheetSink::KeepsSharedStrings) gets the entries of the table, and the book keeps none of their texts.
  // A book opened for its sheet names alone passes the shared string table over: it can hold most of the file.
  void Open(SheetSink* keeper = nullptr, bool namesOnly = false) {
    keeper_ = keeper != nullptr && keeper->KeepsSharedStrings() ? keeper : nullptr;
    namesOnly_ = namesOnly;
    Record r;
    if (!records_.Next(r) || !IsBof(r.Type) || r.Data.size() < 4)
      throw Exception("Not an Excel workbook: the stream does not start with a BOF record");
    biff_ = VersionOf(r);
    const std::uint16_t type = U16(r.Data.data() + 2);
    workbook_ = (biff_ >= 5 && type == kGlobals) || (biff_ == 4 && type == kGlobals4);
    if (workbook_) {
      ReadGlobals();
      if (biff_ == 4) ListBundledSheets();
      for (const SheetEntry& sheet : sheets_) names_.push_back(SheetName(sheet.RawName));
    } else if (type == kChart) {
      throw Exception("The file holds a chart, no worksheet");
    } else {
      names_.emplace_back();  // a worksheet file: its cells follow
    }
    NameUnnamedSheets(names_);
  }

  const std::vector<std::string>& Names() const { return names_; }

  // Reads the chosen sheet into `sink`; returns the format version (2 .. 6).
  std::int32_t Read(SheetSink& sink, SheetChoice& choice) {
    choice.Names = names_;
    std::size_t index = 0;
    bool cells = true;  // the sheet is a worksheet or macro sheet
    if (!workbook_) {
      if (!choice.Sheet.empty()) index = FindSheet(names_, choice.Sheet);
    } else if (choice.Sheet.empty()) {
      if (!FindFirstWorksheet(index)) throw Exception("The workbook has no worksheet");
    } else {
      index = FindSheet(names_, choice.Sheet);
      const int type = EnterSheet(index);
      if (type < 0)
        throw Exception(Format("The workbook stream is damaged: the sheet \"%s\" does not start with a BOF record",
                               names_[index]));
      cells = type == kWorksheet || type == kMacroSheet;
    }
    choice.Index = index;
    sink_ = &sink;
    emitted_ = 0;
    if (cells) ReadSheet(names_[index]);
    if (emitted_ == 0)  // an empty sheet, chosen or the first: say so, and which sheets hold data
      RefuseEmptySheet(names_, index, [this](std::size_t i) { return HoldsData(i); });
    return biff_ == 8 ? 6 : biff_;
  }

private:
  struct SheetEntry {
    std::uint32_t Offset = 0;  // of the sheet's BOF in the stream
    unsigned char Type = 0;    // BOUNDSHEET's kind: 0 worksheet (or dialog), 1 macro sheet, 2 chart, 6 module
    std::string RawName;       // as the record holds it
  };

  int VersionOf(const Record& bof) const {
    switch (bof.Type) {
      case kBof2: return 2;
      case kBof3: return 3;
      case kBof4: return 4;
      default: break;
    }
    switch (U16(bof.Data.data())) {
      case 0x0600: return 8;
      case 0x0500: return 5;
      default: return bof.Data.size() >= 16 ? 8 : 5;
    }
  }

  void ReadGlobals() {
    Record r;
    while (records_.Next(r)) {
      if (r.Type == kEof) return;
      if (r.Type == kBoundSheet && r.Data.size() >= 6)
        sheets_.push_back({U32(r.Data.data()), static_cast<unsigned char>(r.Data[5]), std::string(r.Data.substr(6))});
      else Global(r);
    }
    throw Exception(records_.Truncated() ? "The file is cut short: the workbook globals are incomplete"
                                         : "The workbook stream ends inside the workbook globals");
  }

  // BIFF4W: the sheets follow the globals, each a substream from its BOF to its EOF.
  void ListBundledSheets() {
    if (!sheets_.empty()) return;
    Record r;
    int depth = 0;
    for (std::size_t at = records_.Position(); records_.Next(r); at = records_.Position()) {
      if (IsBof(r.Type)) {
        const bool worksheet = r.Data.size() >= 4 && U16(r.Data.data() + 2) == kWorksheet;
        if (depth++ == 0) sheets_.push_back({static_cast<std::uint32_t>(at), static_cast<unsigned char>(worksheet ? 0 : 2), {}});
      } else if (r.Type == kEof && depth > 0) {
        --depth;
      }
    }
  }

  // A BOUNDSHEET name: BIFF8 a Unicode string of 8-bit length, BIFF5 bytes in the code page.
  std::string SheetName(std::string_view raw) const {
    std::string name;
    if (biff_ == 8) {
      Parts p({raw});
      if (!p.Unicode(false, name)) name.clear();
    } else if (!raw.empty()) {
      name = Bytes(raw.substr(1, static_cast<unsigned char>(raw[0])));
    }
    return name;
  }

  // Positions the reader after the BOF of sheet `index`; returns the BOF's substream type, or -1 when the
  // sheet's offset holds no BOF. A sheet that lies past the end of a file cut short is lost with the cut: told
  // as such, not as a damaged sheet or a workbook without one.
  int EnterSheet(std::size_t index) {
    if (records_.Truncated() && sheets_[index].Offset >= records_.Size())
      throw Exception(Format("The file is cut short: the sheet \"%s\" is missing", names_[index]));
    Record r;
    if (!records_.Seek(sheets_[index].Offset) || !records_.Next(r) || !IsBof(r.Type) || r.Data.size() < 4) return -1;
    return U16(r.Data.data() + 2);
  }

  // Positions the reader after the BOF of the first worksheet.
  bool FindFirstWorksheet(std::size_t& index) {
    for (index = 0; index < sheets_.size(); ++index)
      if (sheets_[index].Type == 0 && EnterSheet(index) == kWorksheet) return true;
    return false;
  }

  // Whether sheet `index` holds a cell (a damaged sheet counts as none). The sheets of a workbook do not
  // overlap, so all probes together read the stream at most once: a file whose sheets share their records is
  // read no further than that.
  bool HoldsData(std::size_t index) {
    sink_ = &probe_;
    probing_ = true;
    try {
      const int type = EnterSheet(index);
      if (type == kWorksheet || type == kMacroSheet) ReadSheet(names_[index]);
    } catch (const FirstCellFound&) {
      return true;
    } catch (const Exception&) {
    }
    return false;
  }

  void ReadSheet(const std::string& name) {
    Record r;
    int depth = 1;
    pending_ = false;
    while (records_.Next(r)) {
      probed_ += probing_ ? 4 + r.Data.size() : 0;
      if (probed_ > records_.Size()) throw Exception("The sheets overlap");
      if (IsBof(r.Type)) {
        ++depth;
      } else if (r.Type == kEof) {
        if (--depth == 0) return;
      } else if (depth == 1) {
        Cell(r);
      }
    }
    // A stream that simply ends is accepted; one that the file cuts short has lost cells.
    if (records_.Truncated()) throw Exception(Format("The file is cut short: the sheet \"%s\" is incomplete", name));
  }

  // Records of the globals (and of BIFF2 .. BIFF4 worksheets, which hold them too).
  void Global(const Record& r) {
    const std::string_view d = r.Data;
    switch (r.Type) {
      case kFilePass:
        throw Exception("The workbook is encrypted (protected with a password); save it without a password to import it");
      case kCodePage:
        if (d.size() >= 2) SetCodePage(U16(d.data()));
        break;
      case kDateMode:
        if (d.size() >= 2) date1904_ = U16(d.data()) != 0;
        break;
      case kFormat2:
      case kFormat: NumberFormat(r); break;
      case kXf2:
        if (d.size() >= 3) AddXf(static_cast<unsigned char>(d[2]) & 0x3F);
        break;
      case kXf3:
      case kXf4:
        if (d.size() >= 2) AddXf(static_cast<unsigned char>(d[1]));
        break;
      case kXf:
        if (d.size() >= 4) AddXf(U16(d.data() + 2));
        break;
      case kSst:
        if (!namesOnly_) SharedStrings(r);
        break;
      default: break;
    }
  }

  void SetCodePage(std::uint16_t value) {
    int cp = value;
    if (value == 367) cp = 20127;
    else if (value == 0x8000) cp = 10000;
    else if (value == 0x8001 || value == 1200) cp = 1252;
    codePage_ = CodePageSupported(cp) ? cp : 1252;
  }

  void NumberFormat(const Record& r) {
    const std::string_view d = r.Data;
    std::string code;
    std::uint32_t index = 0;
    if (biff_ >= 5) {
      if (d.size() < 3) return;
      index = U16(d.data());
      if (biff_ == 8) {
        Parts p({d.substr(2)});
        if (!p.Unicode(true, code)) return;
      } else {
        code = Bytes(d.substr(3, static_cast<unsigned char>(d[2])));
      }
    } else {
      const std::size_t at = biff_ == 4 ? 2 : 0;  // BIFF4 has two unused bytes first
      if (d.size() < at + 1) return;
      index = formatCount_++;
      code = Bytes(d.substr(at + 1, static_cast<unsigned char>(d[at])));
    }
    formats_[index] = ClassifyFormatCode(code);
    kindsDirty_ = true;
  }

  void AddXf(std::uint32_t format) {
    xfFormat_.push_back(format);
    kindsDirty_ = true;
  }

  NumberKind KindOfFormat(std::uint32_t format) const {
    if (const auto it = formats_.find(format); it != formats_.end()) return it->second;
    return biff_ >= 5 ? BuiltinFormatKind(format) : NumberKind::Number;
  }

  NumberKind KindOfXf(std::uint32_t xf) {
    if (kindsDirty_) {
      xfKind_.clear();
      for (std::uint32_t f : xfFormat_) xfKind_.push_back(KindOfFormat(f));
      kindsDirty_ = false;
    }
    return xf < xfKind_.size() ? xfKind_[xf] : NumberKind::Number;
  }

  // BIFF2 cells carry their attributes: the XF index (63: the IXFE record before says it) and, for files
  // without XF records, the number format itself.
  NumberKind KindOfAttributes(std::string_view attrs) {
    const unsigned xf = static_cast<unsigned char>(attrs[0]) & 0x3F;
    if (xfFormat_.empty()) return KindOfFormat(static_cast<unsigned char>(attrs[1]) & 0x3F);
    return KindOfXf(xf == 63 ? ixfe_ : xf);
  }

  std::string Bytes(std::string_view raw) const { return ToUtf8(raw, codePage_); }

  // The shared string table, entry by entry: its CONTINUE records are read as its strings reach them, so that
  // the table's bytes are not held whole (only a window of the stream, and a record).
  void SharedStrings(const Record& r) {
    // The table's count of its entries: room for them is kept ahead, up to a bound a damaged count cannot pass.
    if (keeper_ != nullptr && r.Data.size() >= 8)
      keeper_->SharedStringsAhead(std::min<std::uint32_t>({U32(r.Data.data() + 4), kSharedStringsAhead,
                                                           static_cast<std::uint32_t>(limits_.MaxSharedStrings)}));
    Parts p(r.Data.substr(std::min<std::size_t>(8, r.Data.size())),
            [this](std::string_view& next) { return records_.NextContinue(next); });
    std::string text;
    while (!p.AtEnd() && p.Unicode(true, text)) {
      const std::size_t index = sstCount_;
      if (index >= limits_.MaxSharedStrings)
        throw Exception(Format("The workbook holds more than %d shared strings",
                               static_cast<long long>(limits_.MaxSharedStrings)));
      if (keeper_ != nullptr) keeper_->SharedString(static_cast<std::uint32_t>(index), text);
      else sst_.Add(text);
      ++sstCount_;
      if (text.size() > limits_.MaxCellChars && Utf16Units(text) > limits_.MaxCellChars) sstTooLong_.push_back(index);
    }
    for (std::string_view rest; records_.NextContinue(rest);) {
    }  // those after a string that breaks off belong to the table too
    sst_.Shrink();
    sstTooLong_.shrink_to_fit();
  }

  void Emit(std::uint32_t row, std::uint32_t col, std::string text) {
    pending_ = false;
    if (text.empty()) return;
    if (text.size() > limits_.MaxCellChars && Utf16Units(text) > limits_.MaxCellChars)
      throw Exception(Format("Cell %s holds more than %d characters", CellRef(row, col),
                             static_cast<long long>(limits_.MaxCellChars)));
    ++emitted_;
    sink_->Cell(row, col, std::move(text));
  }

  void Number(std::uint32_t row, std::uint32_t col, double value, NumberKind kind) {
    if (kind == NumberKind::Number && std::isfinite(value)) {
      pending_ = false;
      ++emitted_;
      return sink_->Number(row, col, value);
    }
    Emit(row, col, std::isfinite(value) ? NumberText(value, kind, date1904_) : std::string("#NUM!"));
  }

  // A formula's cached result: a number, or (marked by 0xFFFF in its last two bytes) a string that the next
  // STRING record holds, a Boolean, an error or an empty string.
  void FormulaResult(std::uint32_t row, std::uint32_t col, const char* result, NumberKind kind) {
    if (U16(result + 6) != 0xFFFF) return Number(row, col, F64(result), kind);
    switch (result[0]) {
      case 0:
        pending_ = true;
        pendingRow_ = row;
        pendingCol_ = col;
        break;
      case 1: Emit(row, col, result[2] != 0 ? "True" : "False"); break;
      case 2: Emit(row, col, ErrorText(static_cast<unsigned char>(result[2]))); break;
      default: pending_ = false; break;
    }
  }

  void Need(const Record& r, std::size_t size) const {
    if (r.Data.size() < size)
      throw Exception(Format("The workbook stream is damaged: a cell record (type 0x%.4X) of %d bytes",
                             static_cast<int>(r.Type), static_cast<int>(r.Data.size())));
  }

  void Cell(const Record& r) {
    if (biff_ == 2) return Cell2(r);
    const std::string_view d = r.Data;
    const auto cell = [&](std::size_t size) {
      Need(r, size);
      row_ = U16(d.data());
      col_ = U16(d.data() + 2);
      return U16(d.data() + 4);
    };
    switch (r.Type) {
      case kNumber: {
        const std::uint16_t xf = cell(14);
        return Number(row_, col_, F64(d.data() + 6), KindOfXf(xf));
      }
      case kRk: {
        const std::uint16_t xf = cell(10);
        return Number(row_, col_, RkValue(U32(d.data() + 6)), KindOfXf(xf));
      }
      case kMulRk: {
        Need(r, 12);
        const std::uint32_t row = U16(d.data()), first = U16(d.data() + 2);
        const std::size_t n = (d.size() - 6) / 6;
        for (std::size_t i = 0; i < n; ++i)
          Number(row, first + static_cast<std::uint32_t>(i), RkValue(U32(d.data() + 6 + 6 * i)),
                 KindOfXf(U16(d.data() + 4 + 6 * i)));
        return;
      }
      case kLabel:
      case kRString: {
        cell(8);
        if (biff_ != 8) return CountedText(row_, col_, d, 8, U16(d.data() + 6));
        return Emit(row_, col_, Text(d.substr(6)));
      }
      case kLabelSst: {
        cell(10);
        const std::uint32_t index = U32(d.data() + 6);
        if (index >= sstCount_)
          throw Exception(Format("Cell %s refers to shared string %d, but the workbook holds %d", CellRef(row_, col_),
                                 static_cast<long long>(index), static_cast<long long>(sstCount_)));
        pending_ = false;
        const std::string_view text = keeper_ != nullptr ? keeper_->KeptSharedString(index) : sst_[index];
        if (text.empty()) return;
        if (text.size() > limits_.MaxCellChars && std::binary_search(sstTooLong_.begin(), sstTooLong_.end(), index))
          throw Exception(Format("Cell %s holds more than %d characters", CellRef(row_, col_),
                                 static_cast<long long>(limits_.MaxCellChars)));
        ++emitted_;
        // The entry is kept once, whatever refers to it: by the keeper (which has its text), or here.
        return sink_->SharedCell(row_, col_, index, keeper_ != nullptr ? std::string_view() : text);
      }
      case kBoolErr: {
        cell(8);
        return Emit(row_, col_, BoolErr(d[6], d[7]));
      }
      case kFormula:
      case kFormula3:
      case kFormula4: {
        const std::uint16_t xf = cell(14);
        pending_ = false;
        return FormulaResult(row_, col_, d.data() + 6, KindOfXf(xf));
      }
      case kString: {
        if (!pending_) return;
        std::string text;
        if (biff_ == 8) {
          Parts p(records_.WithContinues(r));
          if (!p.Unicode(true, text)) throw Exception("The workbook stream is damaged: a STRING record is cut short");
        } else {
          Need(r, 2);
          return CountedText(pendingRow_, pendingCol_, d, 2, U16(d.data()));
        }
        return Emit(pendingRow_, pendingCol_, std::move(text));
      }
      default: return Global(r);
    }
  }

  void Cell2(const Record& r) {
    const std::string_view d = r.Data;
    const auto cell = [&](std::size_t size) {
      Need(r, size);
      row_ = U16(d.data());
      col_ = U16(d.data() + 2);
      return KindOfAttributes(d.substr(4, 3));
    };
    switch (r.Type) {
      case kInteger2: {
        const NumberKind kind = cell(9);
        return Number(row_, col_, U16(d.data() + 7), kind);
      }
      case kNumber2: {
        const NumberKind kind = cell(15);
        return Number(row_, col_, F64(d.data() + 7), kind);
      }
      case kLabel2: {
        cell(8);
        return CountedText(row_, col_, d, 8, static_cast<unsigned char>(d[7]));
      }
      case kBoolErr2: {
        cell(9);
        return Emit(row_, col_, BoolErr(d[7], d[8]));
      }
      case kFormula2: {
        const NumberKind kind = cell(15);
        pending_ = false;
        return FormulaResult(row_, col_, d.data() + 7, kind);
      }
      case kString2: {
        if (!pending_ || d.empty()) return;
        return CountedText(pendingRow_, pendingCol_, d, 1, static_cast<unsigned char>(d[0]));
      }
      case kIxfe:
        if (d.size() >= 2) ixfe_ = U16(d.data());
        return;
      default: return Global(r);
    }
  }

  std::string BoolErr(char value, char isError) const {
    if (isError != 0) return ErrorText(static_cast<unsigned char>(value));
    return value != 0 ? "True" : "False";
  }

  // LABEL and RSTRING text of BIFF8: a Unicode string.
  std::string Text(std::string_view d) const {
    std::string text;
    Parts p({d});
    if (!p.Unicode(true, text)) throw Exception("The workbook stream is damaged: a text cell is cut short");
    return text;
  }

  // A text of bytes in the code page whose length the record declares before it (BIFF2 .. BIFF5), from `at`.
  // A length that passes the record's end leaves the cell with the bytes that are there, and the cell damaged:
  // the text is not what the file meant, so what imports it must not take it silently.
  void CountedText(std::uint32_t row, std::uint32_t col, std::string_view d, std::size_t at, std::size_t declared) {
    const std::size_t there = d.size() > at ? d.size() - at : 0;
    Emit(row, col, Bytes(d.substr(std::min(at, d.size()), declared)));
    if (declared > there)
      sink_->CellDamaged(row, col, Format("The text of the cell is cut short: its record holds %d of the %d "
                                          "characters it declares",
                                          static_cast<long long>(there), static_cast<long long>(declared)));
  }

  RecordReader records_;
  SheetSink* sink_ = nullptr;  // the caller's, or probe_ while HoldsData looks
  ProbeSink probe_;
  std::uint64_t emitted_ = 0;  // cells handed to sink_
  bool probing_ = false;
  std::uint64_t probed_ = 0;  // bytes of records the probes read
  const SheetLimits& limits_;
  int biff_ = 8;
  bool workbook_ = false;  // globals and sheets, not a worksheet file
  std::vector<SheetEntry> sheets_;
  std::vector<std::string> names_;
  int codePage_ = 1252;
  bool date1904_ = false;
  std::map<std::uint32_t, NumberKind> formats_;
  std::uint32_t formatCount_ = 0;  // BIFF2 .. BIFF4 number their formats in record order
  std::vector<std::uint32_t> xfFormat_;
  std::vector<NumberKind> xfKind_;
  bool kindsDirty_ = false;
  std::uint32_t ixfe_ = 0;
  SheetSink* keeper_ = nullptr;  // keeps the shared strings' texts, when not sst_
  bool namesOnly_ = false;       // opened to list the sheets: the shared strings are passed over
  StringTable sst_;               // the shared strings' texts (none with a keeper)
  std::uint32_t sstCount_ = 0;    // entries of the table (an empty one makes a cell that shows it hold no value)
  // The entries longer than a cell may be, ascending: each holds more than MaxCellChars bytes of the file, so
  // that this stays a small part of what the file holds.
  std::vector<std::uint32_t> sstTooLong_;
  std::uint32_t row_ = 0, col_ = 0;
  bool pending_ = false;  // a formula whose string result the next STRING record holds
  std::uint32_t pendingRow_ = 0, pendingCol_ = 0;
};

}  // namespace

namespace {

// The workbook stream's entry of a compound document.
const CompoundFile::Entry& WorkbookEntry(const CompoundFile& doc) {
  const CompoundFile::Entry* entry = doc.FindStream({"Workbook", "Book"});
  if (entry == nullptr) {
    if (doc.FindStream({"EncryptedPackage"}) != nullptr)
      throw Exception("The workbook is encrypted (protected with a password); save it without a password to import it");
    throw Exception("The compound document holds no workbook (no stream \"Workbook\" or \"Book\")");
  }
  return *entry;
}

template <typename Use>
auto WithStream(std::string_view stream, bool truncated, const SheetLimits& limits, SheetSink* keeper, Use use,
                bool namesOnly = false) {
  BiffBook book(stream, truncated, limits);
  book.Open(keeper, namesOnly);
  return use(book);
}

// Runs `use` on the workbook stream of an .xls file in memory, opened (with `keeper` for the shared strings:
// the sink that reads the cells, or null).
template <typename Use>
auto WithBook(std::string_view bytes, const SheetLimits& limits, SheetSink* keeper, Use use) {
  if (!IsCompoundFile(bytes)) return WithStream(bytes, false, limits, keeper, use);
  const CompoundFile doc(bytes);
  const CompoundFile::Stream stream = doc.Read(WorkbookEntry(doc));
  return WithStream(stream.Bytes, stream.Truncated, limits, keeper, use);
}

// The same for an .xls file: a compound document's workbook stream is read from the file through a window, so
// that neither the file nor the stream is held whole; a raw BIFF file (an old, small worksheet file) is read whole.
template <typename Use>
auto WithBookFile(const std::string& fileName, const SheetLimits& limits, std::size_t windowBytes, SheetSink* keeper,
                  Use use, bool namesOnly = false) {
  std::ifstream in(fileName, std::ios::binary);
  if (!in) throw EInOutError("Cannot open file \"" + fileName + "\"");
  char signature[8] = {};
  in.read(signature, sizeof signature);
  if (IsCompoundFile(std::string_view(signature, static_cast<std::size_t>(in.gcount())))) {
    CompoundFile doc(in);
    CompoundFile::StreamWindow window = doc.Window(WorkbookEntry(doc), windowBytes);
    doc.DropTables();  // the window reads through the file alone
    BiffBook book(window, limits);
    book.Open(keeper, namesOnly);
    return use(book);
  }
  in.clear();
  in.seekg(0, std::ios::end);
  const std::streamoff size = in.tellg();
  in.seekg(0);
  std::string bytes(size > 0 ? static_cast<std::size_t>(size) : 0, '\0');
  in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!in) throw EInOutError("Cannot read file \"" + fileName + "\"");
  return WithStream(bytes, false, limits, keeper, use, namesOnly);
}

}  // namespace

std::int32_t ReadXlsSheet(std::string_view bytes, SheetSink& sink, SheetChoice& choice, const SheetLimits& limits) {
  return WithBook(bytes, limits, &sink, [&](BiffBook& book) { return book.Read(sink, choice); });
}

std::int32_t ReadXlsFile(const std::string& fileName, SheetSink& sink, SheetChoice& choice, const SheetLimits& limits,
                         std::size_t windowBytes) {
  return WithBookFile(fileName, limits, windowBytes, &sink, [&](BiffBook& book) { return book.Read(sink, choice); });
}

std::int32_t ReadXlsSheet0(std::string_view bytes, SheetSink& sink, const SheetLimits& limits) {
  SheetChoice first;
  return ReadXlsSheet(bytes, sink, first, limits);
}

std::vector<std::string> XlsFileSheetNames(const std::string& fileName, const SheetLimits& limits) {
  return WithBookFile(
      fileName, limits, kXlsWindowBytes, nullptr, [](BiffBook& book) { return book.Names(); }, true);
}

}  // namespace vez::detail
