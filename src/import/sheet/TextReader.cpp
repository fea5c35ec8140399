// The delimited text reader, its separator detection, and the look at a file's first bytes that decides which
// reader takes it.
//
// Bytes in memory and a file take the same way: a ByteSource hands out the raw bytes in chunks, a Decoder turns
// each chunk into UTF-8 (keeping a character cut at the chunk's end back for the next one), and a RecordParser
// takes the text piece by piece, knowing between pieces where it stands (in a field, inside quotes, on a quote,
// after a CR). A field's text is gathered as it comes and handed on at its end, so the only allocation per cell
// is its text. The source is read from its start for the encoding (its first 8 KiB; without byte order mark,
// then all of it for whether it is UTF-8), for the separator sample when no separator is given, and for the
// records.
#include <algorithm>
#include <array>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "core/Exceptions.h"
#include "core/FormatSettings.h"
#include "core/TextEncoding.h"
#include "import/sheet/CompoundFile.h"
#include "import/sheet/SheetReader.h"

namespace vez::detail {

namespace {

constexpr std::size_t kHeadBytes = 8192;             // the bytes judged for control bytes
constexpr std::size_t kMaxSampleText = 4u << 20;     // the separator sample's text at most

std::uint16_t U16(std::string_view b, std::size_t at) {
  return static_cast<std::uint16_t>(static_cast<unsigned char>(b[at]) | static_cast<unsigned char>(b[at + 1]) << 8);
}

bool StartsWith(std::string_view bytes, std::string_view prefix) { return bytes.substr(0, prefix.size()) == prefix; }

std::string ColumnLetters(std::uint32_t col) {
  std::string letters;
  for (std::uint64_t k = col + 1; k > 0; k = (k - 1) / 26) letters.insert(letters.begin(), static_cast<char>('A' + (k - 1) % 26));
  return letters;
}

// Control bytes that text does not hold (tab, line ends, form feed, the DOS end-of-file mark and ESC aside).
bool IsBinaryByte(unsigned char b) { return b < 0x20 && b != '\t' && b != '\n' && b != '\r' && b != '\f' && b != '\v' && b != 0x1A && b != 0x1B; }

// Refuses content with control bytes in more than 1 % of its first 8 KiB (at least two of them): a single
// stray NUL is left to the cell check, which names its line and column.
void CheckText(std::string_view head) {
  head = head.substr(0, kHeadBytes);
  const auto controls = std::count_if(head.begin(), head.end(), [](char c) { return IsBinaryByte(static_cast<unsigned char>(c)); });
  if (controls >= 2 && static_cast<std::size_t>(controls) * 100 > head.size())
    throw Exception("Not a text file: it holds control bytes such as NUL (text in UTF-16 needs a byte order mark)");
}

// The length of the UTF-8 sequence that a byte starts (2 .. 4), or 0 for ASCII and bytes that start none.
std::size_t LeadLength(char c) {
  const auto b = static_cast<unsigned char>(c);
  return b >= 0xC2 && b <= 0xDF ? 2 : b >= 0xE0 && b <= 0xEF ? 3 : b >= 0xF0 && b <= 0xF4 ? 4 : 0;
}

// The first position from `i` on that holds no ASCII byte (eight bytes at a time), or the end.
std::size_t SkipAscii(std::string_view s, std::size_t i) {
  for (std::uint64_t w = 0; i + 8 <= s.size(); i += 8) {
    std::memcpy(&w, s.data() + i, 8);
    if ((w & 0x8080808080808080ull) != 0) break;
  }
  while (i < s.size() && static_cast<unsigned char>(s[i]) < 0x80) ++i;
  return i;
}

// Whether text that comes in pieces is UTF-8 throughout; a sequence cut at a piece's end is completed by the next.
// Once it is not, Bad() is the offset of the first byte of the first sequence that is no UTF-8.
class Utf8Check {
public:
  // False as soon as the text is known not to be UTF-8.
  bool Feed(std::string_view piece) {
    std::size_t i = 0;
    if (valid_ && !cut_.empty()) {
      const std::size_t need = LeadLength(cut_[0]);
      while (cut_.size() < need && i < piece.size()) cut_ += piece[i++];
      if (cut_.size() < need) return Fed(piece);
      valid_ = Utf8SequenceLength(cut_, 0) == need;
      if (!valid_) bad_ = cutAt_;
      cut_.clear();
    }
    while (valid_ && (i = SkipAscii(piece, i)) < piece.size()) {
      ascii_ = false;
      if (const std::size_t n = Utf8SequenceLength(piece, i)) {
        i += n;
      } else if (const std::size_t need = LeadLength(piece[i]); need > 0 && i + need > piece.size()) {
        cut_.assign(piece.substr(i));
        cutAt_ = fed_ + i;
        break;
      } else {
        valid_ = false;
        bad_ = fed_ + i;
      }
    }
    return Fed(piece);
  }
  // At the end of the text.
  bool Valid() const { return valid_ && cut_.empty(); }
  // At the end of a valid text: no byte above 0x7F.
  bool Ascii() const { return ascii_; }
  std::uint64_t Bad() const { return valid_ ? cutAt_ : bad_; }

private:
  bool Fed(std::string_view piece) {
    fed_ += piece.size();
    return valid_;
  }
  std::string cut_;
  bool valid_ = true, ascii_ = true;
  std::uint64_t fed_ = 0, cutAt_ = 0, bad_ = 0;
};

// How a text's bytes become UTF-8.
enum class TextForm { Utf8, Utf8Repaired, Utf16LE, Utf16BE, CodePage };
struct SourceEncoding {
  TextForm Form = TextForm::Utf8;
  int CodePage = 0;
  std::size_t Mark = 0;  // the byte order mark's bytes, passed over
  bool Ascii = false;    // UTF-8 without a byte above 0x7F
};

// The encoding's name as the import reports it: "ASCII" only for text that is ASCII throughout.
std::string EncodingName(const SourceEncoding& e) {
  switch (e.Form) {
    case TextForm::Utf8: return e.Ascii ? "ASCII" : "UTF-8";
    case TextForm::Utf8Repaired: return "UTF-8";
    case TextForm::Utf16LE: return "UTF-16LE";
    case TextForm::Utf16BE: return "UTF-16BE";
    case TextForm::CodePage: break;
  }
  return "code page " + std::to_string(e.CodePage);
}

// Turns raw chunks into UTF-8. A character cut at a chunk's end is kept back for the next chunk: a UTF-8 sequence
// (text with a byte order mark, each invalid byte becoming U+FFFD), half a UTF-16 unit and a high surrogate, and
// in a multi-byte code page the bytes after the last one below 0x40 (such a byte is never part of a two-byte
// character, so the byte after it starts one). What is kept back is bounded by `maxKeep` bytes: beyond, the bytes
// are decoded as they stand.
class Decoder {
public:
  Decoder(const SourceEncoding& encoding, std::size_t maxKeep)
      : encoding_(encoding), skip_(encoding.Mark), maxKeep_(maxKeep) {}

  // The text of the next chunk as far as its characters are whole; `last` (with an empty chunk): the end of the
  // bytes, where what was kept back is decoded as it stands. Valid until the next call.
  std::string_view Decode(std::string_view raw, bool last) {
    const std::size_t skip = std::min(skip_, raw.size());
    raw.remove_prefix(skip);
    skip_ -= skip;
    if (!kept_.empty()) {
      joined_.assign(kept_);
      joined_.append(raw);
      raw = joined_;
      kept_.clear();
    }
    if (!last) {
      const std::size_t whole = WholeCharacters(raw);
      kept_.assign(raw.substr(whole));
      raw = raw.substr(0, whole);
    }
    switch (encoding_.Form) {
      case TextForm::Utf8: return raw;
      case TextForm::Utf8Repaired: return Repaired(raw);
      case TextForm::Utf16LE:
      case TextForm::Utf16BE: return FromUtf16(raw, last);
      case TextForm::CodePage: break;
    }
    if (raw.empty()) return {};
    out_ = ToUtf8(raw, encoding_.CodePage);
    return out_;
  }

private:
  std::size_t WholeCharacters(std::string_view raw) const {
    switch (encoding_.Form) {
      case TextForm::Utf8Repaired:
        for (std::size_t k = raw.size() > 3 ? raw.size() - 3 : 0; k < raw.size(); ++k)
          if (const std::size_t n = LeadLength(raw[k]); n > 0 && k + n > raw.size()) return k;
        return raw.size();
      case TextForm::Utf16LE:
      case TextForm::Utf16BE: return raw.size() & ~std::size_t{1};
      case TextForm::CodePage: {
        if (!IsMultiByteCodePage(encoding_.CodePage)) return raw.size();
        std::size_t k = raw.size();
        while (k > 0 && static_cast<unsigned char>(raw[k - 1]) >= 0x40) --k;
        return raw.size() - k > maxKeep_ ? raw.size() : k;
      }
      case TextForm::Utf8: break;
    }
    return raw.size();
  }

  std::string_view Repaired(std::string_view raw) {
    std::size_t i = 0;
    while ((i = SkipAscii(raw, i)) < raw.size()) {
      const std::size_t n = Utf8SequenceLength(raw, i);
      if (n == 0) break;
      i += n;
    }
    if (i == raw.size()) return raw;  // nothing to repair
    out_.assign(raw.substr(0, i));
    while (i < raw.size()) {
      if (const std::size_t n = Utf8SequenceLength(raw, i)) {
        out_.append(raw.substr(i, n));
        i += n;
      } else {
        AppendUtf8(out_, 0xFFFD);
        ++i;
      }
    }
    return out_;
  }

  std::string_view FromUtf16(std::string_view raw, bool last) {
    const std::size_t units = raw.size() / 2;
    auto p = reinterpret_cast<const unsigned char*>(raw.data());
    if (encoding_.Form == TextForm::Utf16BE) {
      swapped_.assign(raw.substr(0, 2 * units));
      for (std::size_t i = 0; i + 1 < swapped_.size(); i += 2) std::swap(swapped_[i], swapped_[i + 1]);
      p = reinterpret_cast<const unsigned char*>(swapped_.data());
    }
    out_.clear();
    AppendUtf16(out_, p, units, &high_);
    if (last) {
      if (high_ != 0) AppendUtf8(out_, 0xFFFD);  // a high surrogate without its low one
      if (raw.size() % 2 != 0) AppendUtf8(out_, 0xFFFD);  // half a unit
      high_ = 0;
    }
    return out_;
  }

  SourceEncoding encoding_;
  std::size_t skip_;
  std::size_t maxKeep_;
  std::string kept_, joined_, swapped_, out_;
  char16_t high_ = 0;
};

// Bytes in chunks, read from their start again as often as needed.
class ByteSource {
public:
  virtual ~ByteSource() = default;
  virtual void Rewind() = 0;
  // The next chunk, empty at the end; valid until the next call.
  std::string_view Next() {
    const std::string_view chunk = Read();
    handed_ += chunk.size();
    return chunk;
  }
  std::uint64_t Handed() const { return handed_; }  // the bytes of every chunk so far, over every pass

private:
  virtual std::string_view Read() = 0;
  std::uint64_t handed_ = 0;
};

class MemorySource final : public ByteSource {
public:
  MemorySource(std::string_view bytes, std::size_t chunk) : bytes_(bytes), chunk_(std::max<std::size_t>(chunk, 1)) {}
  void Rewind() override { pos_ = 0; }
  std::string_view Read() override {
    const std::string_view chunk = bytes_.substr(pos_, chunk_);
    pos_ += chunk.size();
    return chunk;
  }

private:
  std::string_view bytes_;
  std::size_t chunk_;
  std::size_t pos_ = 0;
};

// A regular file. The first reading to its end fixes its size, so every pass reads the same bytes even when the
// file grows meanwhile.
class FileSource final : public ByteSource {
public:
  FileSource(const std::string& fileName, std::size_t chunk)
      : fileName_(fileName), in_(fileName, std::ios::binary), buffer_(std::max<std::size_t>(chunk, 1), '\0') {
    if (!in_) throw EInOutError("Cannot open file \"" + fileName + "\"");
  }
  void Rewind() override {
    in_.clear();
    if (!in_.seekg(0)) Failed();
    pos_ = 0;
  }
  std::string_view Read() override {
    if (pos_ >= size_) return {};
    const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(buffer_.size(), size_ - pos_));
    in_.read(buffer_.data(), static_cast<std::streamsize>(want));
    if (in_.bad()) Failed();
    const auto got = static_cast<std::size_t>(in_.gcount());
    pos_ += got;
    if (got < want) size_ = pos_;
    return {buffer_.data(), got};
  }

private:
  [[noreturn]] void Failed() const { throw EInOutError("Cannot read file \"" + fileName_ + "\""); }

  std::string fileName_;
  std::ifstream in_;
  std::string buffer_;
  std::uint64_t pos_ = 0;
  std::uint64_t size_ = UINT64_MAX;
};

// Refuses a source that is not UTF-8 when no code page was given: names the line and the byte offset (from 0) of
// its first sequence that is no UTF-8, and how to choose a code page. Lines end in LF, CR LF or CR.
[[noreturn]] void NotUtf8(ByteSource& source, std::uint64_t offset) {
  std::uint64_t line = 1, at = 0;
  unsigned char bad = 0;
  bool afterCr = false;
  source.Rewind();
  for (std::string_view chunk; at <= offset && !(chunk = source.Next()).empty();) {
    for (std::size_t i = 0; i < chunk.size() && at <= offset; ++i, ++at) {
      const char c = chunk[i];
      if (at == offset) bad = static_cast<unsigned char>(c);
      else if (c == '\n') line += afterCr ? 0 : 1;
      else if (c == '\r') ++line;
      afterCr = c == '\r';
    }
  }
  throw Exception(Format("The file is not UTF-8: the byte 0x%.2X at byte offset %d (line %d) is not part of a UTF-8 "
                         "character. Choose the code page the file is written in (such as 1252 for Windows Western "
                         "European or 850 for DOS) to import it",
                         static_cast<int>(bad), static_cast<long long>(offset), static_cast<long long>(line)));
}

// How the source's bytes are text: a byte order mark decides; else, once the first 8 KiB pass for text, bytes
// that are UTF-8 throughout are UTF-8 and any others are in `codePage` (0: none was given, and they are refused,
// never taken silently for a code page). That is decided over the whole source in
// a pass of its own (bounded memory, one more reading), so a file whose first umlaut comes late in a code page
// decodes its start alike, as when the bytes were held in memory.
SourceEncoding EncodingOf(ByteSource& source, int codePage) {
  std::string head;
  source.Rewind();
  for (std::string_view chunk; head.size() < kHeadBytes && !(chunk = source.Next()).empty();)
    head.append(chunk.substr(0, kHeadBytes - head.size()));
  if (StartsWith(head, "\xEF\xBB\xBF")) return {TextForm::Utf8Repaired, 0, 3};
  if (StartsWith(head, "\xFF\xFE")) return {TextForm::Utf16LE, 0, 2};
  if (StartsWith(head, "\xFE\xFF")) return {TextForm::Utf16BE, 0, 2};
  CheckText(head);
  if (codePage == kCodePageUtf8) return {};  // the bytes stand as they are
  const SourceEncoding inCodePage{TextForm::CodePage, codePage, 0};
  Utf8Check check;
  source.Rewind();
  for (std::string_view chunk; !(chunk = source.Next()).empty();)
    if (!check.Feed(chunk)) break;
  if (check.Valid()) return {TextForm::Utf8, 0, 0, check.Ascii()};
  if (codePage != 0) return inCodePage;
  NotUtf8(source, check.Bad());
}

// Hands the source's text, from its start, to `take` piece by piece until it returns false.
template <class Take>
void ForEachText(ByteSource& source, const SourceEncoding& encoding, std::size_t maxKeep, Take&& take) {
  source.Rewind();
  Decoder decoder(encoding, maxKeep);
  for (std::string_view raw; !(raw = source.Next()).empty();)
    if (const std::string_view text = decoder.Decode(raw, false); !text.empty() && !take(text)) return;
  if (const std::string_view text = decoder.Decode({}, true); !text.empty()) take(text);
}

}  // namespace

SheetFileKind DetectSheetFile(std::string_view bytes) {
  if (IsCompoundFile(bytes)) return SheetFileKind::Xls;
  if (StartsWith(bytes, "PK\x03\x04") || StartsWith(bytes, "PK\x05\x06") || StartsWith(bytes, "PK\x07\x08"))
    return SheetFileKind::Xlsx;
  if (bytes.size() >= 8) {  // a raw BIFF stream starts with its BOF record (4 to 20 bytes of data)
    const std::uint16_t type = U16(bytes, 0), length = U16(bytes, 2);
    if ((type == 0x0009 || type == 0x0209 || type == 0x0409 || type == 0x0809) && length >= 4 && length <= 20)
      return SheetFileKind::Xls;
  }
  return SheetFileKind::Text;
}

namespace {

// The bytes that end an unquoted field: the separator and the line ends.
class FieldStops {
public:
  explicit FieldStops(char separator) {
    stop_[static_cast<unsigned char>(separator)] = true;
    stop_['\n'] = stop_['\r'] = true;
  }
  bool operator()(char c) const { return stop_[static_cast<unsigned char>(c)]; }

private:
  std::array<bool, 256> stop_{};
};

// Where the field that starts at `pos` ends: at its separator, at a line end or at the end of the text. A field
// that starts with a quote runs to its closing quote (a doubled quote is one quote of the text), then on to the
// next stop as it stands; one whose quote is never closed runs to the end.
std::size_t FieldEnd(std::string_view text, std::size_t pos, const FieldStops& stops) {
  if (pos < text.size() && text[pos] == '"') {
    for (std::size_t from = pos + 1;;) {
      const std::size_t quote = text.find('"', from);
      if (quote == std::string_view::npos) return text.size();
      if (quote + 1 < text.size() && text[quote + 1] == '"') {
        from = quote + 2;
        continue;
      }
      pos = quote + 1;
      break;
    }
  }
  while (pos < text.size() && !stops(text[pos])) ++pos;
  return pos;
}

// The position after the line end at `pos` (LF, CR LF or CR), or `pos` at the end of the text.
std::size_t AfterLineEnd(std::string_view text, std::size_t pos) {
  if (pos >= text.size()) return pos;
  return pos + (text[pos] == '\r' && pos + 1 < text.size() && text[pos + 1] == '\n' ? 2 : 1);
}

// A number written with a decimal comma: sign, digits (with '.' grouping), a comma, digits, an exponent.
bool IsDecimalCommaNumber(std::string_view field) {
  const auto first = field.find_first_not_of(' ');
  if (first == std::string_view::npos) return false;
  field = field.substr(first, field.find_last_not_of(' ') - first + 1);
  std::size_t i = field[0] == '-' || field[0] == '+' ? 1 : 0;
  const auto digits = [&](bool grouping) {
    const std::size_t from = i;
    while (i < field.size() && ((field[i] >= '0' && field[i] <= '9') || (grouping && field[i] == '.'))) ++i;
    return i > from;
  };
  if (!digits(true) || i >= field.size() || field[i++] != ',' || !digits(false)) return false;
  if (i < field.size() && (field[i] == 'e' || field[i] == 'E')) {
    ++i;
    if (i < field.size() && (field[i] == '-' || field[i] == '+')) ++i;
    if (!digits(false)) return false;
  }
  return i == field.size();
}

// How the first records split at one separator.
struct SplitSample {
  char Separator = '\t';
  std::vector<std::uint32_t> Fields;  // per non-blank record
  std::uint32_t DecimalCommas = 0, OtherCommas = 0;  // fields holding a comma: numbers, and the rest
  std::uint32_t Mode = 0;  // the count most records have (of equally frequent ones the larger)
  bool Consistent = false;  // Mode > 1 in all records but a tenth
  bool Splits = false;  // more than one field in all records but a tenth
  std::uint32_t Median = 0;
  bool Cut = false;  // the text ended before the sample did: the text that follows may change it
};

SplitSample Sample(std::string_view text, char separator) {
  constexpr std::size_t kSampleBytes = 256 * 1024;  // records that start later are not looked at
  SplitSample s;
  s.Separator = separator;
  const FieldStops stops(separator);
  for (std::size_t pos = 0; s.Fields.size() < kSniffRecords;) {
    if (pos >= text.size()) {
      s.Cut = true;
      break;
    }
    if (pos > kSampleBytes && !s.Fields.empty()) break;
    const std::size_t start = pos;
    std::uint32_t fields = 0;
    for (;;) {
      const std::size_t end = FieldEnd(text, pos, stops);
      ++fields;
      const std::string_view field = text.substr(pos, end - pos);
      if (separator != ',' && field.find(',') != std::string_view::npos)
        ++(field[0] != '"' && IsDecimalCommaNumber(field) ? s.DecimalCommas : s.OtherCommas);
      pos = end;
      if (pos < text.size() && text[pos] == separator) {
        ++pos;
        continue;
      }
      break;
    }
    if (pos + 1 >= text.size()) s.Cut = true;  // the record reaches the end, or a CR there that an LF may follow
    if (pos > start) s.Fields.push_back(fields);  // a blank line is no record to judge by
    pos = AfterLineEnd(text, pos);
  }
  const auto n = static_cast<std::uint32_t>(s.Fields.size());
  if (n == 0) return s;
  const std::uint32_t allowed = n <= 2 ? 0 : std::max<std::uint32_t>(1, n / 10);
  std::uint32_t modeRecords = 0, split = 0;
  for (std::uint32_t count : s.Fields) {
    const auto same = static_cast<std::uint32_t>(std::count(s.Fields.begin(), s.Fields.end(), count));
    if (same > modeRecords || (same == modeRecords && count > s.Mode)) {
      modeRecords = same;
      s.Mode = count;
    }
    split += count > 1 ? 1 : 0;
  }
  s.Consistent = s.Mode > 1 && n - modeRecords <= allowed;
  s.Splits = n - split <= allowed;
  std::vector<std::uint32_t> sorted = s.Fields;
  std::nth_element(sorted.begin(), sorted.begin() + n / 2, sorted.end());
  s.Median = sorted[n / 2];
  return s;
}

// The chosen separator among the samples (in the order tab, ';', ','): the largest key among those that pass,
// ',' standing aside when a passing separator before it holds its commas mostly in numbers.
char Choose(const std::array<SplitSample, 3>& samples, bool SplitSample::*passes, std::uint32_t SplitSample::*key) {
  const SplitSample* best = nullptr;
  for (const SplitSample& s : samples) {
    if (!(s.*passes)) continue;
    if (s.Separator == ',' && best != nullptr && best->DecimalCommas > 0 && best->DecimalCommas >= best->OtherCommas)
      continue;
    if (best == nullptr || s.*key > best->*key) best = &s;
  }
  return best != nullptr ? best->Separator : 0;
}

// DetectSeparator, telling in `cut` whether text after `text` could change the answer.
char Detect(std::string_view text, bool& cut) {
  const std::array<SplitSample, 3> samples{Sample(text, '\t'), Sample(text, ';'), Sample(text, ',')};
  cut = samples[0].Cut || samples[1].Cut || samples[2].Cut;
  // A consistent count first; else a separator that splits nearly every record, by its median count.
  if (const char c = Choose(samples, &SplitSample::Consistent, &SplitSample::Mode)) return c;
  if (const char c = Choose(samples, &SplitSample::Splits, &SplitSample::Median)) return c;
  return '\t';
}

// The separator of the source's text, judged from as much of its start as the sample needs: the text is taken in
// growing steps (each twice the last) until no sample reaches its end, the whole text is read, or it holds
// kMaxSampleText bytes (then judged from those).
char SampleSeparator(ByteSource& source, const SourceEncoding& encoding, std::size_t maxKeep) {
  std::string sample;
  std::size_t judged = 0;  // the sample's size at the last judgement
  bool cut = true;
  char separator = '\t';
  ForEachText(source, encoding, maxKeep, [&](std::string_view text) {
    sample.append(text.substr(0, kMaxSampleText - sample.size()));
    if (sample.size() < 2 * judged && sample.size() < kMaxSampleText) return true;
    separator = Detect(sample, cut);
    judged = sample.size();
    return cut && sample.size() < kMaxSampleText;
  });
  if (sample.size() != judged) separator = Detect(sample, cut);  // the end came before the next judgement
  return separator;
}

// The records of delimited text that comes in pieces. Between pieces it knows where it stands: at the start of a
// record or of a field, in an unquoted field (or in the text after a closing quote, read alike), inside quotes,
// on a quote inside quotes (closing, or the first of a doubled one: the next byte tells), or after a CR (an LF
// there belongs to it).
class RecordParser {
public:
  RecordParser(char separator, SheetSink& sink, const SheetLimits& limits)
      : separator_(separator), stops_(separator), sink_(sink), limits_(limits) {}

  void Feed(std::string_view text) {
    const char* p = text.data();
    const char* const end = p + text.size();
    while (p < end) {
      switch (place_) {
        case Place::AfterCr:
          place_ = Place::RecordStart;
          if (*p == '\n') ++p;
          break;
        case Place::RecordStart:
          if (line_ >= 0x7FFFFFFE) throw Exception("The file has more than 2147483645 lines");
          col_ = 0;
          place_ = Place::FieldStart;
          break;
        case Place::FieldStart:
          if (*p == '"') {
            ++p;
            place_ = Place::Quoted;
          } else {
            place_ = Place::Unquoted;
          }
          break;
        case Place::Unquoted: {
          const char* stop = p;
          while (stop < end && !stops_(*stop)) ++stop;
          Append(p, stop);
          if ((p = stop) == end) break;
          const char c = *p++;
          if (c == separator_) {
            EndField(true);
            ++col_;
            place_ = Place::FieldStart;
          } else {
            EndField(false);
            ++line_;
            place_ = c == '\r' ? Place::AfterCr : Place::RecordStart;
          }
          break;
        }
        case Place::Quoted: {
          const auto* quote = static_cast<const char*>(std::memchr(p, '"', static_cast<std::size_t>(end - p)));
          Append(p, quote != nullptr ? quote : end);
          p = quote != nullptr ? quote + 1 : end;
          if (quote != nullptr) place_ = Place::QuoteInQuotes;
          break;
        }
        case Place::QuoteInQuotes:
          if (*p == '"') {
            Append(p, p + 1);
            ++p;
            place_ = Place::Quoted;
          } else {
            place_ = Place::Unquoted;
          }
          break;
      }
    }
  }

  // The records begun so far, for a reading that ends before the text does.
  TextSheetInfo SoFar() const {
    const bool inRecord = place_ != Place::RecordStart && place_ != Place::AfterCr;
    return {static_cast<std::int32_t>(line_ + (inRecord ? 1 : 0)), separator_, {}};
  }

  // The end of the text.
  TextSheetInfo Finish() {
    switch (place_) {
      case Place::RecordStart:
      case Place::AfterCr: break;
      case Place::Quoted: throw Exception(Where() + "the quote that opens the cell is never closed");
      case Place::FieldStart:
      case Place::Unquoted:
      case Place::QuoteInQuotes:
        EndField(false);
        ++line_;
        break;
    }
    return {static_cast<std::int32_t>(line_), separator_, {}};
  }

private:
  enum class Place { RecordStart, FieldStart, Unquoted, Quoted, QuoteInQuotes, AfterCr };

  std::string Where() const {
    return Format("Line %d, column %s: ", static_cast<long long>(line_) + 1, ColumnLetters(col_));
  }

  // Adds to the field's text. A text past the cell limit will be refused, so the rest of it is only looked
  // through for a NUL (which is named first): a quote that is never closed does not take the file into memory.
  void Append(const char* begin, const char* end) {
    if (begin == end) return;
    if (tooLong_) {
      nul_ = nul_ || std::memchr(begin, '\0', static_cast<std::size_t>(end - begin)) != nullptr;
      return;
    }
    field_.append(begin, end);
    if (field_.size() <= limits_.MaxCellChars) return;
    units_ += Utf16Units(std::string_view(field_).substr(counted_));
    counted_ = field_.size();
    if (units_ <= limits_.MaxCellChars) return;
    tooLong_ = true;
    nul_ = field_.find('\0') != std::string::npos;
    std::string().swap(field_);
  }

  // Ends the field (`more`: at a separator): the column limit, a NUL and the cell limit are checked, in that
  // order, and a field with text is handed on.
  void EndField(bool more) {
    const bool empty = field_.empty() && !tooLong_;
    if (col_ >= limits_.MaxCol && (!empty || more))
      throw Exception(Format("Line %d has more than %d columns", static_cast<long long>(line_) + 1,
                             static_cast<long long>(limits_.MaxCol)));
    if (!empty) {
      if (nul_ || field_.find('\0') != std::string::npos) throw Exception(Where() + "the cell holds a NUL byte");
      if (tooLong_)
        throw Exception(Where() + Format("the cell holds more than %d characters",
                                         static_cast<long long>(limits_.MaxCellChars)));
      sink_.Cell(line_, col_, std::move(field_));
    }
    field_.clear();
    units_ = counted_ = 0;
  }

  char separator_;
  FieldStops stops_;
  SheetSink& sink_;
  const SheetLimits& limits_;
  Place place_ = Place::RecordStart;
  std::uint32_t line_ = 0, col_ = 0;
  std::string field_;             // the field's text so far
  std::size_t units_ = 0, counted_ = 0;  // its UTF-16 units, counted over its first `counted_` bytes
  bool tooLong_ = false, nul_ = false;   // past the cell limit (its text no longer kept), and a NUL in that part
};

TextSheetInfo ReadText(ByteSource& source, int codePage, char separator, SheetSink& sink, const SheetLimits& limits) {
  CheckTextSeparator(separator);
  const SourceEncoding encoding = EncodingOf(source, codePage);
  // So many bytes of a multi-byte code page without a separator, quote or line end make one field too long for
  // the cell limit (a character is at most two bytes), so a cut there changes no cell that is kept.
  const std::size_t maxKeep = 2 * (static_cast<std::size_t>(limits.MaxCellChars) + 1);
  if (separator == 0) separator = SampleSeparator(source, encoding, maxKeep);
  RecordParser parser(separator, sink, limits);
  bool enough = false;
  ForEachText(source, encoding, maxKeep, [&](std::string_view text) {
    parser.Feed(text);
    return !(enough = sink.Enough());
  });
  TextSheetInfo info = enough ? parser.SoFar() : parser.Finish();
  info.Encoding = EncodingName(encoding);
  info.BytesRead = source.Handed();
  return info;
}

}  // namespace

void CheckTextSeparator(char separator) {
  if (separator == 0 || separator == '\t' || separator == ',' || separator == ';') return;
  const auto byte = static_cast<unsigned char>(separator);
  throw Exception(Format("The field separator must be a tab, \",\" or \";\", not %s",
                         byte > 0x20 && byte < 0x7F ? "\"" + std::string(1, separator) + "\""
                                                    : Format("the byte 0x%.2X", static_cast<int>(byte))));
}

char DetectSeparator(std::string_view text) {
  bool cut = false;
  return Detect(text, cut);
}

TextSheetInfo ReadTextSheet(std::string_view bytes, int codePage, char separator, SheetSink& sink,
                            const SheetLimits& limits) {
  MemorySource source(bytes, kTextChunkBytes);
  return ReadText(source, codePage, separator, sink, limits);
}

TextSheetInfo ReadTextFile(const std::string& fileName, int codePage, char separator, SheetSink& sink,
                           const SheetLimits& limits, std::size_t chunkBytes) {
  CheckTextSeparator(separator);
  std::error_code error;
  if (std::filesystem::exists(fileName, error) && !std::filesystem::is_regular_file(fileName, error)) {
    // A pipe or a device cannot be read from its start again: it is read whole.
    std::ifstream in(fileName, std::ios::binary);
    if (!in) throw EInOutError("Cannot open file \"" + fileName + "\"");
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) throw EInOutError("Cannot read file \"" + fileName + "\"");
    MemorySource source(bytes, chunkBytes);
    return ReadText(source, codePage, separator, sink, limits);
  }
  FileSource source(fileName, chunkBytes);
  return ReadText(source, codePage, separator, sink, limits);
}

}  // namespace vez::detail
