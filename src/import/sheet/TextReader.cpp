// The tab-separated text reader and the look at a file's first bytes that decides which reader takes it.
#include <algorithm>

#include "core/Exceptions.h"
#include "core/FormatSettings.h"
#include "core/TextEncoding.h"
#include "import/sheet/CompoundFile.h"
#include "import/sheet/SheetReader.h"

namespace vez::detail {

namespace {

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
void CheckText(std::string_view bytes) {
  const std::string_view head = bytes.substr(0, 8192);
  const auto controls = std::count_if(head.begin(), head.end(), [](char c) { return IsBinaryByte(static_cast<unsigned char>(c)); });
  if (controls >= 2 && static_cast<std::size_t>(controls) * 100 > head.size())
    throw Exception("Not a text file: it holds control bytes such as NUL (text in UTF-16 needs a byte order mark)");
}

// UTF-8 with every invalid sequence replaced by U+FFFD.
std::string RepairedUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (std::size_t i = 0; i < bytes.size();) {
    std::size_t len = 1;
    const auto b = static_cast<unsigned char>(bytes[i]);
    if (b >= 0xC2 && b <= 0xDF) len = 2;
    else if (b >= 0xE0 && b <= 0xEF) len = 3;
    else if (b >= 0xF0 && b <= 0xF4) len = 4;
    else if (b >= 0x80) len = 0;
    if (len > 0 && i + len <= bytes.size() && IsValidUtf8(bytes.substr(i, len))) {
      out.append(bytes.substr(i, len));
      i += len;
    } else {
      AppendUtf8(out, 0xFFFD);
      ++i;
    }
  }
  return out;
}

std::string FromUtf16(std::string_view bytes, bool bigEndian) {
  std::string units(bytes.substr(0, bytes.size() & ~std::size_t{1}));
  if (bigEndian)
    for (std::size_t i = 0; i + 1 < units.size(); i += 2) std::swap(units[i], units[i + 1]);
  std::string out;
  out.reserve(units.size());
  AppendUtf16(out, reinterpret_cast<const unsigned char*>(units.data()), units.size() / 2);
  if (bytes.size() % 2 != 0) AppendUtf8(out, 0xFFFD);
  return out;
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

std::int32_t ReadTextSheet(std::string_view bytes, int codePage, SheetSink& sink, const SheetLimits& limits) {
  std::string decoded;
  std::string_view text;
  if (StartsWith(bytes, "\xEF\xBB\xBF")) {
    text = bytes.substr(3);
    if (!IsValidUtf8(text)) text = decoded = RepairedUtf8(text);
  } else if (StartsWith(bytes, "\xFF\xFE") || StartsWith(bytes, "\xFE\xFF")) {
    text = decoded = FromUtf16(bytes.substr(2), bytes[0] == '\xFE');
  } else {
    CheckText(bytes);
    text = bytes;
    if (!IsValidUtf8(text)) text = decoded = ToUtf8(bytes, codePage);
  }

  std::uint32_t line = 0;
  for (std::size_t pos = 0; pos < text.size(); ++line) {
    if (line >= 0x7FFFFFFE) throw Exception("The file has more than 2147483645 lines");
    const std::size_t end = std::min(text.find_first_of("\r\n", pos), text.size());
    const std::string_view content = text.substr(pos, end - pos);
    std::uint32_t col = 0;
    for (std::size_t start = 0;; ++col) {
      const std::size_t tab = std::min(content.find('\t', start), content.size());
      const std::string_view field = content.substr(start, tab - start);
      if (col >= limits.MaxCol && (!field.empty() || tab < content.size()))
        throw Exception(Format("Line %d has more than %d columns", static_cast<long long>(line) + 1,
                               static_cast<long long>(limits.MaxCol)));
      if (!field.empty()) {
        if (field.find('\0') != std::string_view::npos)
          throw Exception(Format("Line %d, column %s: the cell holds a NUL byte", static_cast<long long>(line) + 1,
                                 ColumnLetters(col)));
        if (field.size() > limits.MaxCellChars && Utf16Units(field) > limits.MaxCellChars)
          throw Exception(Format("Line %d, column %s: the cell holds more than %d characters",
                                 static_cast<long long>(line) + 1, ColumnLetters(col),
                                 static_cast<long long>(limits.MaxCellChars)));
        sink.Cell(line, col, std::string(field));
      }
      if (tab >= content.size()) break;
      start = tab + 1;
    }
    pos = end + (end + 1 < text.size() && text[end] == '\r' && text[end + 1] == '\n' ? 2 : 1);
  }
  return static_cast<std::int32_t>(line);
}

}  // namespace vez::detail
