// The grid loader: every fixture against an independent reading (tests/data/spreadsheet/expected-cells.jsonl,
// written by make-fixtures.py, the real workbooks of xlrd-samples/, and the sheets chosen in sheet-cells.jsonl,
// written by make-sheet-fixtures.py), text files (text-files.txt), limits, and the view.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <map>
#include <sstream>
#include <tuple>
#include <variant>

#include <nlohmann/json.hpp>

#include "TestUtil.h"
#include "core/Exceptions.h"
#include "core/FormatSettings.h"
#include "import/EImport2.h"
#include "import/XLS_ASCII_Import.h"
#include "import/mapping/LibraryImport.h"
#include "import/sheet/CompoundFile.h"
#include "import/sheet/SheetReader.h"

namespace vez {
namespace {

std::string Fixture(const std::string& name) { return test::DataPath("spreadsheet/" + name); }

// The grid's cells as "A1=text", row by row.
std::vector<std::string> GridCells(const TXLSASCIIImport& imp) {
  std::vector<std::string> cells;
  for (int r = 1; r <= imp.GetLastRow(); ++r)
    for (int c = 1; c <= imp.GetLastCol(); ++c)
      if (!imp.GetTextRC(c, r).empty()) cells.push_back(GridColumnName(c) + std::to_string(r) + "=" + imp.GetTextRC(c, r));
  return cells;
}

// A number of the reading equals ours when both are the same double; other kinds compare as text.
bool SameCell(const std::string& kind, const std::string& theirs, const std::string& ours) {
  if (kind == "num") {
    double a = 0, b = 0;
    return TryStrToFloat(theirs, a) && TryStrToFloat(ours, b) && a == b;
  }
  return theirs == ours;
}

std::string FileTypeOf(const nlohmann::json& line) {
  if (line.contains("file_type")) return line["file_type"];
  if (line["reader"] == "openpyxl") return "Excel 2007";
  return line["biff"] == 80 ? "Excel 97" : line["biff"] == 40 ? "Excel 4.0" : "?";
}

// A loader sharing the rows of `loaded` tells the same kind, encoding, separator, sheets and text count.
void ExpectSharedLike(TXLSASCIIImport& loaded) {
  TXLSASCIIImport shared;
  TStringGrid view;
  shared.DoImportShared(view, loaded);
  const auto told = [](const TXLSASCIIImport& i) {
    return std::tuple(i.FileType(), i.TextEncoding(), i.Separator(), i.SheetNames(), i.SheetName(), i.GetLastRow(), i.TextBytes());
  };
  EXPECT_EQ(told(loaded), told(shared));
}

// The readings of `jsonl`, a line per file (and chosen sheet) of `folder`; the refusals are ours word for word
// when `exact`, else a file the independent reader refuses we may read, but never crash on.
// The cells of a workbook's sheet as a sink that keeps no shared strings gets them (the reader keeps the table).
std::map<std::pair<int, int>, std::string> PlainCells(const std::string& file, const std::string& sheet) {
  struct Plain : detail::SheetSink {
    std::map<std::pair<int, int>, std::string> cells;
    void Cell(std::uint32_t row, std::uint32_t col, std::string text) override {
      cells[{static_cast<int>(row), static_cast<int>(col)}] = std::move(text);
    }
  } plain;
  detail::SheetChoice choice;
  choice.Sheet = sheet;
  if (file.ends_with(".xlsx")) detail::ReadXlsxSheet(file, plain, choice);
  else detail::ReadXlsFile(file, plain, choice);
  return plain.cells;
}

void CheckReadings(const std::string& jsonl, const std::string& folder, bool exact) {
  std::ifstream in(Fixture(jsonl));
  int files = 0;
  for (std::string text; std::getline(in, text); ++files) {
    const auto line = nlohmann::json::parse(text);
    const std::string file = Fixture(folder + line["file"].get<std::string>());
    SCOPED_TRACE(text.substr(0, 120));
    TXLSASCIIImport imp;
    imp.Sheet = line.value("sheet", "");
    TStringGrid view;
    if (line.contains("error")) {
      if (exact) EXPECT_THROW_MSG(imp.DoImport(view, file), Exception, line["error"]);
      else try { imp.DoImport(view, file); } catch (const Exception&) {}
      continue;
    }
    if (line["cells"].empty()) {  // a sheet without cells is refused as empty, naming the sheets with data
      EXPECT_THROW(imp.DoImport(view, file), Exception);
      continue;
    }
    ASSERT_NO_THROW(imp.DoImport(view, file));
    EXPECT_EQ(FileTypeOf(line), imp.FileType());
    if (line.contains("names")) {
      EXPECT_EQ(std::tuple(line["names"].get<std::vector<std::string>>(), line["sheet_name"].get<std::string>(), '\0'),
                std::tuple(imp.SheetNames(), imp.SheetName(), imp.Separator()));
      EXPECT_EQ(imp.SheetNames(), ListSheetNames(file));
      ExpectSharedLike(imp);
    }
    std::map<std::pair<int, int>, std::string> ours;
    for (int r = 1; r <= imp.GetLastRow(); ++r)
      for (int c = 1; c <= imp.GetLastCol(); ++c)
        if (!imp.GetTextRC(c, r).empty()) ours[{r - 1, c - 1}] = imp.GetTextRC(c, r);
    if (file.ends_with(".xls") || file.ends_with(".xlsx")) {
      EXPECT_EQ(ours, PlainCells(file, imp.Sheet));
    }
    int lastRow = 0, lastCol = 0;  // a cell without text (an empty shared string, say) makes no room
    for (const auto& cell : line["cells"]) {
      const std::pair<int, int> at{cell[0], cell[1]};
      lastRow = std::max(lastRow, at.first + 1);
      lastCol = std::max(lastCol, at.second + 1);
      const auto it = ours.find(at);
      const std::string where = GridColumnName(at.second + 1) + std::to_string(at.first + 1);
      if (it == ours.end()) {
        ADD_FAILURE() << where << " missing, expected " << cell.dump();
        continue;
      }
      EXPECT_TRUE(SameCell(cell[2], cell[3], it->second)) << where << ": " << it->second << " vs " << cell.dump();
      ours.erase(it);
    }
    for (const auto& [at, value] : ours) ADD_FAILURE() << "unexpected cell (" << at.first << ", " << at.second << "): " << value;
    if (exact) {
      EXPECT_EQ(std::pair(lastRow, lastCol), std::pair(imp.GetLastRow(), imp.GetLastCol()));
    }
  }
  EXPECT_GT(files, 10);
}

// Also sheets chosen by name in any letter case or by number; unknown and empty sheets refused with the list.
TEST(SpreadsheetImportCells, EveryFixtureAndChosenSheetAsTheIndependentReaderSeesIt) {
  CheckReadings("expected-cells.jsonl", "", true);
  CheckReadings("xlrd-samples/expected-cells.jsonl", "xlrd-samples/", false);
  CheckReadings("sheet-cells.jsonl", "", true);
  EXPECT_EQ(std::vector<std::string>{}, ListSheetNames(Fixture("make-fixtures.py")));  // a text file has none
}

// Every .xls fixture, damaged and cut ones included, reads from its file through small windows (records and
// continuations straddle them, some are longer than a window) as from memory: the same cells, damage and refusals.
TEST(SpreadsheetImportCells, AnXlsFileReadsThroughAnyWindowAsFromMemory) {
  struct Cells : detail::SheetSink {
    std::vector<std::string> seen;
    void Cell(std::uint32_t row, std::uint32_t col, std::string text) override {
      seen.push_back(std::to_string(row) + "," + std::to_string(col) + "=" + text);
    }
    void CellDamaged(std::uint32_t row, std::uint32_t col, std::string message) override {
      seen.push_back(std::to_string(row) + "," + std::to_string(col) + "!" + message);
    }
  };
  const auto read = [](const auto& reader) {
    Cells cells;
    detail::SheetChoice choice;
    try {
      cells.seen.push_back("version " + std::to_string(reader(cells, choice)));
    } catch (const Exception& e) {
      cells.seen.push_back(e.what());
    }
    return cells.seen;
  };
  int compound = 0;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(Fixture(""))) {
    const std::string file = entry.path().string();
    if (!SameText(entry.path().extension().string(), ".xls")) continue;
    SCOPED_TRACE(file);
    const std::string bytes = test::ReadFile(file);
    compound += bytes.starts_with("\xD0\xCF\x11\xE0") ? 1 : 0;
    const auto inMemory = read([&](Cells& c, detail::SheetChoice& choice) { return detail::ReadXlsSheet(bytes, c, choice); });
    for (const std::size_t window : {std::size_t{1}, std::size_t{700}})
      EXPECT_EQ(inMemory, read([&](Cells& c, detail::SheetChoice& choice) {
                  return detail::ReadXlsFile(file, c, choice, {}, window);
                })) << "window " << window;
  }
  EXPECT_GT(compound, 20);
}

TEST(SpreadsheetImportCells, OneCellInTheLastRowCostsOneCellAndNumbersFollowTheDecimalSeparator) {
  TXLSASCIIImport imp;
  TStringGrid view;
  imp.DoImport(view, Fixture("lastrow.xlsx"));
  EXPECT_EQ(std::tuple(1048576, std::string("last"), std::string("1048576")),
            std::tuple(imp.GetLastRow(), imp.GetTextRC(2, 1048576), view.Cells(0, 1048576)));
  EXPECT_LE(imp.DataGrid().StoredCells(), 4u);  // the cell and the column letters
  DecimalSeparatorScope comma(',');  // the process setting
  imp.DoImport(view, Fixture("offset.xls"));
  EXPECT_EQ("2,5", imp.GetTextRC(5, 6));
}

TEST(SpreadsheetImportCells, NumberFormatsAndSerials) {
  using detail::NumberKind;
  const std::pair<const char*, NumberKind> codes[] = {
      {"yyyy-mm-dd", NumberKind::Date},    {"[h]:mm:ss", NumberKind::Elapsed}, {"[mm]:ss", NumberKind::Elapsed},
      {"0.0 \"dB\"", NumberKind::Number},  {"\\d0", NumberKind::Number},      {"[Red]0.00", NumberKind::Number},
      {"General", NumberKind::Number},     {"mm:ss.0", NumberKind::Date},     {"0;[h]", NumberKind::Number},
      {"[$-407]dd.mm.yy", NumberKind::Date}, {"\"\"yyyy", NumberKind::Date}};
  for (const auto& [code, kind] : codes) EXPECT_EQ(kind, detail::ClassifyFormatCode(code)) << code;
  EXPECT_EQ(std::tuple(NumberKind::Date, NumberKind::Elapsed, NumberKind::Number),
            std::tuple(detail::BuiltinFormatKind(22), detail::BuiltinFormatKind(46), detail::BuiltinFormatKind(49)));
  std::string dates;  // 45351.573263888 rounds to the second
  for (const auto& [serial, from1904] : {std::pair(59.0, false), {61.0, false}, {45351.573263888, false}, {1.0, true},
                                         {0.5, true}, {-1.0, false}})
    dates += detail::SerialDateText(serial, from1904) + "|";
  EXPECT_EQ("1900-02-28|1900-03-01|2024-02-29 13:45:30|1904-01-02|12:00:00|-1|-50:00:00",
            dates + detail::NumberText(-50.0 / 24, NumberKind::Elapsed, false));
  std::string text;  // .xls text in UTF-16: U+10FFFF as a surrogate pair, then a lone low surrogate
  detail::AppendUtf16(text, reinterpret_cast<const unsigned char*>("\xFF\xDB\xFF\xDF\x00\xDC"), 3);
  EXPECT_EQ("\xF4\x8F\xBF\xBF\xEF\xBF\xBD", text);
}

// ---- limits and files that are refused ----

TEST(SpreadsheetImportHostile, LimitsEndInClearErrors) {
  struct Count : detail::SheetSink {
    int n = 0;
    void Cell(std::uint32_t, std::uint32_t, std::string) override { ++n; }
  } sink;
  const std::string xlsx = test::ReadFile(Fixture("quirks.xlsx"));
  const std::string xls = test::ReadFile(Fixture("biff8.xls"));
  detail::SheetLimits small{.MaxEntryBytes = 400};  // the workbook relationships inflate to more
  EXPECT_THROW_MSG(detail::ReadXlsxSheet0(xlsx.data(), xlsx.size(), sink, small), Exception,
                   "The part xl/_rels/workbook.xml.rels inflates beyond 400 bytes");
  small.MaxEntryBytes = 674;  // the size of that part: it just fits
  EXPECT_NO_THROW(detail::ReadXlsxSheet0(xlsx.data(), xlsx.size(), sink, small));
  small = {.MaxSharedStrings = 1};
  EXPECT_THROW_MSG(detail::ReadXlsxSheet0(xlsx.data(), xlsx.size(), sink, small), Exception,
                   "The part xl/strings.xml is not accepted: more than 1 shared strings");
  EXPECT_THROW_MSG(detail::ReadXlsSheet0(xls, sink, small), Exception, "The workbook holds more than 1 shared strings");
  EXPECT_EQ(ListSheetNames(Fixture("biff8.xls")), detail::XlsFileSheetNames(Fixture("biff8.xls"), small));  // not read
  small = {.MaxCellChars = 7};  // " spaced " has 8
  EXPECT_THROW_MSG(detail::ReadXlsxSheet0(xlsx.data(), xlsx.size(), sink, small), Exception,
                   "The part xl/strings.xml is not accepted: a text of more than 7 characters");
  struct Keep : Count {  // keeps the shared strings, as the grid loader does
    std::vector<std::string> texts;
    bool KeepsSharedStrings() const override { return true; }
    void SharedString(std::uint32_t, std::string_view text) override { texts.emplace_back(text); }
    std::string_view KeptSharedString(std::uint32_t i) const override { return texts.at(i); }
  } keep;
  // A1 holds 25 characters in 34 bytes: the limit counts characters, so at 25 the first cell refused is C1.
  for (const auto& [limit, cell] : {std::pair<std::uint32_t, std::string>{7, "A1"}, {25, "C1"}}) {
    small.MaxCellChars = limit;
    const std::string message = "Cell " + cell + " holds more than " + std::to_string(limit) + " characters";
    EXPECT_THROW_MSG(detail::ReadXlsSheet0(xls, sink, small), Exception, message);
    EXPECT_THROW_MSG(detail::ReadXlsSheet0(xls, keep, small), Exception, message);
  }
  // A STRING record (a formula's text) whose CONTINUE record is cut short: refused before its cell is given.
  const std::string cut = std::string("\x09\x08\x10\x00\x00\x06\x10\x00", 8) + std::string(12, '\0') +  // BOF
                          std::string("\x06\x00\x16\x00", 4) + std::string(12, '\0') + "\xFF\xFF" +  // FORMULA A1: a text
                          std::string(8, '\0') + std::string("\x07\x02\x05\x00\x02\x00\x00" "ab\x3C\x00\x05\x00", 13);
  const int given = sink.n;
  EXPECT_THROW_MSG(detail::ReadXlsSheet0(cut, sink), Exception,
                   "The workbook stream is damaged: the record at offset 55 runs past its end");
  EXPECT_EQ(given, sink.n);
  // Sheet "B" is listed past the end of a whole stream: refused, not read from where the globals end (sheet "A").
  const std::string eof("\x0A\x00\x00\x00", 4);
  const auto sheetAt = [](char offset, char name) {
    return std::string("\x85\x00\x09\x00", 4) + offset + std::string("\0\0\0\0\0\x01\0", 7) + name;
  };
  const std::string globals = std::string(cut, 0, 6) + '\x05' + std::string(cut, 7, 13);
  const std::string book = globals + sheetAt(50, 'A') + sheetAt(120, 'B') + eof + cut.substr(0, 20) +
                           std::string("\x03\x02\x0E\x00", 4) + std::string(14, '\0') + eof;
  detail::SheetChoice choice;
  choice.Sheet = "B";
  EXPECT_THROW_MSG(detail::ReadXlsSheet(book, sink, choice), Exception,
                   "The workbook stream is damaged: the sheet \"B\" does not start with a BOF record");
  // Text, in memory and from a file in chunks of 3 bytes; a cell past the limit is still looked through to its end.
  const std::string smile = "\xF0\x9F\x98\x80";  // two UTF-16 units, as the limit counts them
  const detail::SheetLimits chars{.MaxCellChars = 7}, cols{.MaxCol = 2};
  const std::tuple<std::string, char, detail::SheetLimits, std::string> texts[] = {
      {"a\tlong text\n", 0, chars, "Line 1, column B: the cell holds more than 7 characters"},
      {"a;\"long\n;text\"\n", 0, chars, "Line 1, column B: the cell holds more than 7 characters"},
      {smile + smile + smile + smile + "\n", 0, chars, "Line 1, column A: the cell holds more than 7 characters"},
      {smile + smile + smile + "\n", 0, chars, ""},  // 12 bytes, 6 units
      {std::string("a\tlong text and more\0\n", 22), 0, chars, "Line 1, column B: the cell holds a NUL byte"},
      {"a;\"long text", 0, chars, "Line 1, column B: the quote that opens the cell is never closed"},
      {"a\tb\tc\n", 0, cols, "Line 1 has more than 2 columns"},
      {"a,b,\"c\"\n", ',', cols, "Line 1 has more than 2 columns"},
      {"\"a,b\",c,\"\"\n", ',', cols, ""}};  // a quoted ',' and empty cells
  test::TempDir dir;
  for (const auto& [text, separator, limits, message] : texts) {
    SCOPED_TRACE(text);
    std::ofstream(dir.File("t.txt"), std::ios::binary) << text;
    for (const bool inChunks : {false, true}) {
      const auto read = [&] {
        return inChunks ? detail::ReadTextFile(dir.File("t.txt"), 1252, separator, sink, limits, 3)
                        : detail::ReadTextSheet(text, 1252, separator, sink, limits);
      };
      if (message.empty()) EXPECT_NO_THROW(read());
      else EXPECT_THROW_MSG(read(), Exception, message);
    }
  }
  // A file is read whole once: a file in a code page is looked through for UTF-8 up to its first other byte and
  // sampled for its separator over its first records; a sink that has enough ends the reading (here within the first
  // half), counting those begun.
  struct Stops : Count {
    bool Enough() const override { return n > 0 && stop; }
    bool stop = false;
  } stops;
  std::string many = "\xE4;1\n";
  while (many.size() < (64 << 10)) many += many;
  for (const bool utf8 : {false, true}) {
    many[0] = utf8 ? 'a' : '\xE4';
    stops.stop = utf8;
    std::ofstream(dir.File("many.txt"), std::ios::binary) << many;
    const auto read = detail::ReadTextFile(dir.File("many.txt"), 1252, 0, stops, {}, 4095);  // a chunk ends in a record
    const std::uint64_t least = utf8 ? 1 : many.size(), most = utf8 ? many.size() / 2 : 2 * many.size();
    EXPECT_EQ(std::pair(utf8 ? 1024 : 16384, true), std::pair(read.Records, read.BytesRead >= least && read.BytesRead < most))
        << utf8 << " " << read.BytesRead;
  }
}

// A stream read from its file through a window, forward, within the window, back before it, at the stream's end
// and longer than the window, reads as the stream in memory (and not past its end); a header cut short is told as such, a whole header without sectors as the table
// it lacks.
TEST(SpreadsheetImportHostile, CompoundDocumentWindowsAndCutHeaders) {
  const std::string bytes = test::ReadFile(Fixture("biff8.xls"));
  struct Counted : std::stringbuf {  // counts the places read from
    using std::stringbuf::stringbuf;
    int seeks = 0;
    pos_type seekpos(pos_type at, std::ios::openmode mode) override { return ++seeks, std::stringbuf::seekpos(at, mode); }
  } buffer(bytes);
  std::istream file(&buffer);
  file.setstate(std::ios::failbit);  // a stream that failed a read before is read from its start all the same
  const detail::CompoundFile doc(file), inMemory(bytes);
  const std::string stream = inMemory.Read(*inMemory.FindStream({"Workbook"})).Bytes;
  auto window = doc.Window(*doc.FindStream({"Workbook"}), 64);
  ASSERT_GT(stream.size(), 4096u);  // past the mini-stream cutoff: read a window at a time
  const std::size_t end = stream.size() - 8;  // the last bytes, then a range longer than the window and one in it
  for (const auto& [at, n] : {std::pair<std::size_t, std::size_t>{0, 8}, {100, 8}, {120, 8}, {60, 8}, {10, 8},
                              {150, 8}, {140, 8}, {end, 8}, {30, 200}, {40, 8}, {0, 8}})
    EXPECT_EQ(stream.substr(at, n), window.View(at, n)) << at;
  const int seeks = buffer.seeks;  // a range within the window read last, from its start, is not read again
  EXPECT_EQ(stream.substr(0, 64), window.View(0, 64));
  EXPECT_EQ(seeks, buffer.seeks);
  file.setstate(std::ios::failbit | std::ios::eofbit);  // as a read that found the file shorter leaves it
  EXPECT_EQ(stream.substr(100, 8), window.View(100, 8));  // the next window is read all the same
  EXPECT_THROW(window.View(end, 9), Exception);
  for (const auto& [n, what] : {std::pair<std::size_t, std::string>{511, "the compound document header is incomplete"},
                                {512, "the sector table lies beyond its end"}})
    EXPECT_THROW_MSG(detail::CompoundFile(bytes.substr(0, n)), Exception, "The file is cut short: " + what);
  // A stream's sector chain that goes on past the stream's size (here back to its first sector) is read up to
  // that size: what follows is none of the stream's.
  const auto u32 = [&](std::size_t at) {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = v << 8 | static_cast<unsigned char>(bytes[at + static_cast<std::size_t>(i)]);
    return v;
  };
  const std::size_t fat = (u32(76) + 1) << bytes[30];
  const std::uint32_t first = inMemory.FindStream({"Workbook"})->Start;
  std::uint32_t last = first;
  while (u32(fat + 4 * last) != 0xFFFFFFFEu) last = u32(fat + 4 * last);
  const auto put = [](std::string& to, std::size_t where, std::uint32_t v) {
    for (std::size_t i = 0; i < 4; ++i) to[where + i] = static_cast<char>(v >> (8 * i));
  };
  const auto readWith = [&put](std::string changed, std::size_t table, const char* name,
                               std::initializer_list<std::pair<std::uint32_t, std::uint32_t>> nexts) {
    for (const auto& [s, next] : nexts) put(changed, table + 4 * s, next);  // each sector's next as given
    const detail::CompoundFile doc(changed);
    const auto read = doc.Read(*doc.FindStream({name}));
    EXPECT_EQ(read.Truncated, doc.Window(*doc.FindStream({name}), 64).Truncated()) << name;  // as a file is read
    return std::pair(read.Bytes, read.Truncated);
  };
  EXPECT_EQ(std::pair(stream, false), readWith(bytes, fat, "Workbook", {{last, first}}));
  // A chain that steps back to the sector before the one it left is read in the chain's order (512-byte sectors).
  ASSERT_EQ(std::tuple(first + 1, first + 2, first + 3),
            std::tuple(u32(fat + 4 * first), u32(fat + 4 * first + 4), u32(fat + 4 * first + 8)));
  const std::string stepping = stream.substr(0, 512) + stream.substr(1024, 512) + stream.substr(512, 512);
  EXPECT_EQ(std::pair(stepping + stream.substr(1536), false),
            readWith(bytes, fat, "Workbook", {{first, first + 2}, {first + 2, first + 1}, {first + 1, first + 3}}));
  // A chain through a sector past the file's end (120; the file holds 106) ends there, cut short; so does a chain
  // of mini sectors through one past the mini stream's end (100; it holds 12 from sector 1; their table is sector 3).
  EXPECT_EQ(std::pair(stream.substr(0, 512), true),
            readWith(bytes, fat, "Workbook", {{first, 120}, {120, u32(fat + 4 * first)}}));
  const std::string book = test::ReadFile(Fixture("biff5.xls"));
  EXPECT_EQ(std::pair(book.substr(1024, 64), true), readWith(book, 2048, "Book", {{0, 100}, {100, 1}}));
  // A directory sector (the header's, at 48) that no entry of the sector table covers (it has 128) is damaged.
  EXPECT_THROW_MSG(readWith(bytes, 48, "Workbook", {{0, 128}}), Exception,
                   "The compound document is damaged: it has no root entry");
  // A document of 128-byte sectors (0 to 2 lie in the 512-byte header) whose sector table takes sectors 3 to 143:
  // 109 listed in the header, 31 in a first sector of the list (144) and the last in a second (145); after the
  // directory (146, 147), a stream over every other sector reads whole.
  constexpr std::uint32_t kTable = 141, kSectors = kTable * 32, kStream = 3 + kTable + 4;
  const auto at = [](std::uint32_t sector) { return (std::size_t{sector} + 1) * 128; };
  std::string big(at(kSectors), '\0');
  for (std::size_t i = at(kStream); i < big.size(); ++i) big[i] = static_cast<char>(i * 7 % 251);
  for (std::uint32_t s = 0; s < kSectors; ++s)  // each sector's next (the chains' ends set below)
    put(big, at(3 + s / 32) + 4 * (s % 32), s == kStream - 1 || s == kSectors - 1 ? 0xFFFFFFFEu : s + 1);
  for (std::uint32_t k = 0; k < kTable; ++k)
    put(big, k < 109 ? 76 + 4 * k : at(k < 140 ? 144 : 145) + 4 * ((k - 109) % 31), 3 + k);
  for (const auto& [where, v] : {std::pair<std::size_t, std::uint32_t>{30, 7 | 6 << 16}, {44, kTable}, {48, 146},
                                 {56, 4096}, {68, 144}, {at(144) + 124, 145}, {at(146) + 64, 5 << 16 | 4},
                                 {at(146) + 76, 1}, {at(147) + 64, 2 << 16 | 4}, {at(147) + 116, kStream},
                                 {at(147) + 120, static_cast<std::uint32_t>(big.size() - at(kStream))}})
    put(big, where, v);
  big.replace(0, 8, bytes, 0, 8);  // the signature
  big[at(147)] = 'W';  // its name
  const detail::CompoundFile bigDoc(big);
  EXPECT_EQ(big.substr(at(kStream)), bigDoc.Read(*bigDoc.FindStream({"W"})).Bytes);
}

TEST(SpreadsheetImportHostile, TheDialogNamesTheFile) {
  TAnsweringDialogs dialogs(TOnExists::Skip);
  TExcelImportForm form(dialogs);
  EXPECT_THROW_MSG(form.SetFileName(Fixture("encrypted.xlsx")), Exception,
                   "The workbook is encrypted (protected with a password); save it without a password to import it"
                   "\r\nFile \"" + Fixture("encrypted.xlsx") + "\" cannot be opened");
}

// ---- text files and the view ----

class SpreadsheetImportText : public ::testing::Test {
protected:
  void Load(const std::string& content, const std::string& name = "t.txt") {
    std::ofstream(dir_.File(name), std::ios::binary) << content;
    imp_.DoImport(view_, dir_.File(name));
  }
  test::TempDir dir_;
  TXLSASCIIImport imp_;
  TStringGrid view_;
};

// The cells a reader hands on, as "A1=text" in their order.
struct CellList : detail::SheetSink {
  std::vector<std::string> Cells;
  void Cell(std::uint32_t row, std::uint32_t col, std::string text) override {
    Cells.push_back(GridColumnName(static_cast<std::int32_t>(col) + 1) + std::to_string(row + 1) + "=" + text);
  }
};

// The text with the escapes of text-files.txt (\t \r \n \" \\ \xHH) replaced.
std::string Unescape(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      out += text[i];
      continue;
    }
    const char c = text[++i];
    if (c == 'x') {
      out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      out += c == 't' ? '\t' : c == 'r' ? '\r' : c == 'n' ? '\n' : c;
    }
  }
  return out;
}

// The files of tests/data/spreadsheet/text-files.txt: encodings, line ends, quoting, separators and refusals.
TEST_F(SpreadsheetImportText, EncodingsQuotingSeparatorsAndRefusals) {
  const auto separator = [](const std::string& name) { return name == "-" ? '\0' : name == "tab" ? '\t' : name[0]; };
  for (const std::string& line : test::SplitLines(test::ReadFile(Fixture("text-files.txt")))) {
    if (line.starts_with("#")) continue;
    const auto c = test::SplitTabs(line);
    SCOPED_TRACE(line);
    const std::string bytes = Unescape(c[0]);
    imp_.TextCodePage = std::stoi(c[1]);
    imp_.TextSeparator = separator(c[2]);
    std::vector<std::string> cells;
    for (auto it = c.begin() + 5; it != c.end(); ++it) cells.push_back(Unescape(*it));
    if (c[5] == "error") EXPECT_THROW_MSG(Load(bytes), Exception, c[6]);
    else {
      Load(bytes);
      EXPECT_EQ(std::tuple("ASCII", std::stoi(c[3]), separator(c[4]), std::vector<std::string>{}, ""),
                std::tuple(imp_.FileType(), imp_.GetLastRow(), imp_.Separator(), imp_.SheetNames(), imp_.SheetName()));
      EXPECT_EQ(cells, GridCells(imp_));
      ExpectSharedLike(imp_);
    }
    // The same file in chunks of 1 to 7 bytes: chunks end inside byte order marks, characters, CR LF and quotes.
    if (detail::DetectSheetFile(bytes) != detail::SheetFileKind::Text) continue;
    for (std::size_t chunk = 1; chunk <= 7; ++chunk) {
      SCOPED_TRACE(chunk);
      CellList sink;
      const auto read = [&] {
        const auto info = detail::ReadTextFile(dir_.File("t.txt"), imp_.TextCodePage, imp_.TextSeparator, sink, {}, chunk);
        return std::tuple(info.Records, info.Separator, sink.Cells);
      };
      if (c[5] == "error") EXPECT_THROW_MSG(read(), Exception, c[6]);
      else EXPECT_EQ(std::tuple(std::stoi(c[3]), separator(c[4]), cells), read());
    }
  }
}

TEST_F(SpreadsheetImportText, ContentDecidesNotTheName) {
  EXPECT_EQ(std::pair(1, 1), std::pair(imp_.GetLastCol(), imp_.GetLastRow()));  // nothing loaded: one empty cell
  Load(test::ReadFile(Fixture("biff3.xls")), "old.txt");
  EXPECT_EQ("Excel 3.0", imp_.FileType());
  // A raw BIFF8 stream: BOF, an XF of just its font and format (14, a date), a MULRK of one cell (12 bytes: row,
  // column, XF 0 and RK 5, last column); a LABEL in B1 of `chars` Latin-1 characters (it holds 2); a FORMULA in C1
  // whose text result a STRING record holds, its last 2 characters in a CONTINUE record; EOF.
  const auto biff8 = [](char chars) {
    return std::string("\x09\x08\x08\0\0\x06\x10\0\0\0\0\0\xE0\0\x04\0\0\0\x0E\0\xBD\0\x0C\0\0\0\0\0\0\0\x16\0\0\0\0\0"
                       "\x04\x02\x0B\0\0\0\x01\0\0\0", 46) + chars +
           std::string("\0\0hi\x06\0\x0E\0\0\0\x02\0\0\0\0\0\0\0\0\0\xFF\xFF\x07\x02\x05\0\x04\0\0ab\x3C\0\x03\0\0cd\x0A\0\0\0", 42);
  };
  Load(biff8(2));
  EXPECT_EQ(std::vector<std::string>({"Excel 97", "1900-01-05", "hi", "abcd"}),
            std::vector<std::string>({imp_.FileType(), imp_.GetTextRC(1, 1), imp_.GetTextRC(2, 1), imp_.GetTextRC(3, 1)}));
  EXPECT_THROW_MSG(Load(biff8(5)), Exception, "The workbook stream is damaged: a text cell is cut short");
  Load("Name\n", "text.xlsx");  // one column: A and nothing beyond it
  EXPECT_EQ(std::tuple(std::string("ASCII"), 1, std::string("ASCII")),
            std::tuple(imp_.FileType(), imp_.GetLastCol(), imp_.TextEncoding()));
  // A workbook (named as one with macros) loaded after a text file has no text encoding.
  Load(test::ReadFile(Fixture("offset.xlsx")), "book.xlsm");
  EXPECT_EQ(std::pair(std::string("Excel 2007"), std::string()), std::pair(imp_.FileType(), imp_.TextEncoding()));
  EXPECT_THROW_MSG(Load("PK\x03\x04 not really a zip", "a.txt"), Exception,
                   "Not an Office Open XML package (Not a zip archive)");
}

// Streaming (KeepRows): a text file's rows come in order while it is read, each with its cells, until the visitor
// stops or the file ends; a loader that shows another's rows (DoImportShared) reads no file and walks the rows it
// shares.
TEST_F(SpreadsheetImportText, StreamedRowsComeInOrderAndASharedLoaderWalksItsGrid) {
  const auto walk = [](TXLSASCIIImport& imp, std::int32_t last) {
    std::string seen;
    imp.StreamRows(2, INT32_MAX, [&](std::int32_t r) {
      seen += imp.GetTextRC(1, r) + imp.GetTextRC(2, r) + ";";
      return r < last;
    });
    return seen;
  };
  TXLSASCIIImport shared;  // before a load it walks the rows of its own grid, and reads no file
  TStringGrid view;
  shared.KeepRows = 1;
  shared.ColRowCheck(2, 2);
  imp_.KeepRows = 1;
  Load("Name\tValue\na\t1\nb\t2\nc\t3\tx\n");  // the last line reaches column C
  EXPECT_EQ((std::tuple{std::string("a1;b2;c3;"), std::string("a1;b2;"), 3, std::string(";")}),
            (std::tuple{walk(imp_, 9), walk(imp_, 3), imp_.GetLastCol(), walk(shared, 9)}));
  // A loader that shares another's rows walks those, not a file it streamed before.
  shared.DoImport(view, dir_.File("t.txt"));
  shared.StreamRows(2, 2, [](std::int32_t) { return true; });  // a first walk that ends before the file does
  EXPECT_EQ(std::tuple(std::string(), true, 4, 3),  // no cell of the row after its last; the extent read to the end
            std::tuple(shared.GetTextRC(1, 3), shared.ExtentKnown(), shared.GetLastRow(), shared.GetLastCol()));
  imp_.KeepRows = -1;
  Load("Name\tValue\nd\t4\n", "u.txt");
  shared.DoImportShared(view, imp_);
  EXPECT_EQ("d4;", walk(shared, 9));
}

TEST_F(SpreadsheetImportText, ViewShowsTheWindowWithLettersAndRowNumbers) {
  std::string text;
  for (int i = 1; i <= 30; ++i) text += "r" + std::to_string(i) + std::string(static_cast<std::size_t>(i), '\t') + "x\n";
  Load(text);
  EXPECT_EQ("Z AA AD ZZ AAA", view_.Cells(26, 0) + " " + view_.Cells(27, 0) + " " + imp_.GetTextRC(30, 0) + " " +
                                 GridColumnName(702) + " " + GridColumnName(703));
  imp_.SetMinRow(5);
  imp_.SetMaxRow(7);
  EXPECT_EQ(std::tuple(4, "5", "r6", ""),  // the data's row 8 lies below the window
            std::tuple(view_.RowCount(), view_.Cells(0, 1), view_.Cells(1, 2), view_.CellText(1, 4)));
  imp_.SetTextRC(1, 6, "changed");
  view_.SetObjects(1, 3, -1);  // the view's rows are the data's rows from MinRow on
  view_.SetCells(2, 3, "via view");
  view_.SetNumber(3, 3, 2.5);
  EXPECT_EQ(std::tuple("changed", -1, -1, "via view", "2.5"), std::tuple(view_.Cells(1, 2), view_.Objects(1, 3),
            imp_.DataGrid().Objects(1, 7), imp_.GetTextRC(2, 7), imp_.GetTextRC(3, 7)));
  imp_.SetMaxRow(4);  // below MinRow: one empty data row
  EXPECT_EQ(std::pair(2, std::string()), std::pair(view_.RowCount(), view_.Cells(1, 1)));
  imp_.ColRowCheck(40, 35);  // grows the data to hold the cell, never shrinks it
  imp_.ColRowCheck(2, 2);
  EXPECT_EQ(std::pair(40, 35), std::pair(imp_.GetLastCol(), imp_.GetLastRow()));
  // A marker goes with its cell: a grid that shrinks and grows again starts the cell over.
  TStringGrid grid(3, 3);
  grid.SetObjects(2, 2, 5);
  grid.SetCells(2, 2, "gone");
  grid.SetRowCount(2);
  grid.SetRowCount(3);
  EXPECT_EQ(std::pair(0, std::string()), std::pair(grid.Objects(2, 2), grid.Cells(2, 2)));
  // A window narrower than its data shows none of the data's further columns.
  auto data = std::make_shared<TStringGrid>(3, 3);
  data->SetCells(2, 1, "beyond");
  grid.SetColCount(2);
  grid.SetWindow(data, 1);
  EXPECT_THROW(grid.SetCells(2, 1, "x"), EListError);  // nor writes one of them
  EXPECT_EQ(std::pair(std::string(""), std::string("beyond")), std::pair(grid.Cells(2, 1), data->Cells(2, 1)));
  // Its rows from 1 on are the data's rows from the first one shown, through every way of reading a cell.
  data->SetCells(1, 1, "t");
  data->SetNumber(1, 2, 2.5);
  double number = 0;
  EXPECT_TRUE(grid.CellText(1, 1) == "t" && grid.CellNumber(1, 2, number) && number == 2.5 && !grid.CellNumber(1, 1, number));
}

// The grid's cells: numbers as doubles that read as their shortest text, texts in its store, rows dense or
// (past a larger gap) sparse, and texts given back as rows are cleared (a text file streamed row by row).
TEST(TextGrid, NumbersTextsGapsAndClearedRows) {
  TStringGrid grid(2000, 4);
  const std::string big(3 << 20, 'b');  // longer than a block of the text store
  struct Case {
    std::int32_t col;
    std::variant<double, std::string> value;
    std::string text;  // as Cells reads it
  };
  const Case cases[] = {{1, 0.1, "0.1"},          {2, -0.0, "0"},       {3, 1e300, "1E300"},
                        {4, 12345678.5, "12345678.5"}, {6, std::numeric_limits<double>::infinity(), "INF"},
                        {1000, std::string("far"), "far"}, {5, std::string(""), ""},  {1500, big, big},
                        {999, std::string("label"), "label"}, {0, 2.5, "2.5"}};  // column 0 too
  for (const Case& c : cases) {
    if (const double* d = std::get_if<double>(&c.value)) grid.SetNumber(c.col, 1, *d);
    else grid.SetCells(c.col, 1, std::get<std::string>(c.value));
  }
  const std::size_t lookups = grid.RunLookups();  // the row's cells read one by one find its run once at most
  for (const Case& c : cases) {
    SCOPED_TRACE(c.col);
    EXPECT_EQ(c.text, grid.Cells(c.col, 1));
    double number = 1;
    const bool finite = std::holds_alternative<double>(c.value) && std::isfinite(std::get<double>(c.value));
    EXPECT_EQ(finite, grid.CellNumber(c.col, 1, number));
    if (finite) {
      EXPECT_EQ(std::bit_cast<std::uint64_t>(std::get<double>(c.value) + 0.0), std::bit_cast<std::uint64_t>(number));
    }
    EXPECT_EQ(finite ? "" : c.text, grid.CellText(c.col, 1));
  }
  EXPECT_EQ("", grid.Cells(7, 1) + grid.Cells(998, 1) + grid.Cells(1001, 1));
  EXPECT_GE(lookups + 1, grid.RunLookups());
  double outside = 0;  // past the grid's last column or row, or before the first, no cell holds anything
  EXPECT_FALSE(grid.CellNumber(2000, 1, outside) || grid.CellNumber(1, 4, outside) || grid.CellNumber(-1, 1, outside));
  EXPECT_EQ("", grid.Cells(2000, 1) + grid.Cells(1, 4) + grid.Cells(-1, 1) + std::string(grid.CellText(1, 4)));
  EXPECT_EQ(10u, grid.StoredCells());
  grid.SetCells(1, 1, grid.CellText(1000, 1));  // a number cell made text from the grid's own text
  grid.SetNumber(1000, 1, 7);
  EXPECT_EQ(std::pair(std::string("far"), std::string("7")), std::pair(grid.Cells(1, 1), grid.Cells(1000, 1)));
  // Rows written and cleared many times: the store gives their texts back, and the other rows and the shared
  // texts keep theirs.
  grid.SetCells(3, 2, "kept");
  grid.SetSharedCell(4, 2, grid.AddSharedText("shared"));
  for (int round = 0; round < 40; ++round) {
    for (std::int32_t c = 1; c < 200; ++c) grid.SetCells(c, 3, std::string(1000, static_cast<char>('a' + round % 26)));
    EXPECT_EQ(std::string(1000, static_cast<char>('a' + round % 26)), grid.Cells(199, 3));
    grid.ClearRow(3);
  }
  EXPECT_EQ(std::tuple(std::string("kept"), std::string("shared"), big, std::string("far"), std::string("")),
            std::tuple(grid.Cells(3, 2), grid.Cells(4, 2), grid.Cells(1500, 1), grid.Cells(1, 1), grid.Cells(5, 3)));
  grid.SetColCount(1001), grid.SetColCount(2000);  // drops column 1500, which stays empty when the grid widens again
  EXPECT_EQ(std::pair(std::string(""), std::string("far")), std::pair(grid.Cells(1500, 1), grid.Cells(1, 1)));
  grid.SetColCount(1001);  // a window keeps only its own column 0 and row 0
  grid.SetWindow(std::make_shared<TStringGrid>(2000, 4), 1);
  EXPECT_EQ(std::pair(std::size_t{1}, std::string("2.5")), std::pair(grid.StoredCells(), grid.Cells(0, 1)));
}

// Shared texts are found from the places of every K-th one (K doubling as they grow) by a walk over those between:
// past two doublings, across blocks (one text longer than a block), among cells' own texts, after texts given up
// (in the middle; at the end, whose numbers come again) and after the compaction that giving up 2 MiB makes.
TEST(TextGrid, SharedTextsReadAsAddedPastStridesDropsAndCompaction) {
  TStringGrid grid(4, 4);
  const auto text = [](std::int32_t i) {  // 62 and 63 bytes among them: the longest with a one-byte header, and one more
    if (i == 20000) return std::string(2 << 20, 'L');
    return i % 11 == 0 ? std::string() : std::string(i % 7 == 0 ? 58 : 0, '_') + std::to_string(i);
  };
  std::map<std::int32_t, std::string> kept;
  for (std::int32_t i = 0; i < 40000; ++i) {
    if (grid.AddSharedText(text(i)) != i) ADD_FAILURE() << i;
    kept[i] = text(i);
    if (i % 1000 == 0) grid.SetCells(2, 2, text(i));  // the cells' own texts lie elsewhere
  }
  grid.SetSharedCell(1, 1, 6);
  EXPECT_EQ(std::pair(false, true), std::pair(grid.SharedTextShown(5), grid.SharedTextShown(6)));
  const std::pair<std::int32_t, std::int32_t> shown[] = {{1, 5}, {2, 16384}, {3, 39990}};  // row, text
  for (const auto& [row, n] : shown) grid.SetSharedCell(1, row, n);
  EXPECT_TRUE(grid.SharedTextShown(6));  // shown once, though no cell shows it now
  struct Step {
    const char* name;
    std::int32_t dropFrom;  // -1: none
    std::int32_t next;      // the number the next text gets
  };
  for (const Step& step : {Step{"added", -1, 40000}, Step{"given up from 30000", 30000, 39991},
                           Step{"given up and compacted", 0, 39991}}) {
    SCOPED_TRACE(step.name);
    if (step.dropFrom >= 0) {
      grid.DropUnusedShared(step.dropFrom);
      std::erase_if(kept, [&](const auto& k) {
        return k.first >= step.dropFrom && k.first != 5 && k.first != 16384 && k.first != 39990;
      });
    }
    EXPECT_EQ(kept.size(), grid.SharedTexts());
    int wrong = 0;  // backwards (each from its checkpoint) and in order (each from the one before)
    for (auto k = kept.rbegin(); k != kept.rend(); ++k) wrong += grid.SharedText(k->first) != k->second;
    for (const auto& [n, t] : kept) wrong += grid.SharedText(n) != t;
    EXPECT_EQ(0, wrong);
    for (const auto& [row, n] : shown) EXPECT_EQ(text(n), grid.Cells(1, row));
    EXPECT_EQ(text(39000), grid.Cells(2, 2));
    EXPECT_THROW(grid.SharedText(step.next), EListError);
    EXPECT_THROW(grid.SetSharedCell(2, 1, step.next + 1), EListError);
    EXPECT_TRUE(step.dropFrom != 0 || grid.SharedTextBytes() < std::size_t{1} << 20) << "compacted: the 2 MiB text went";
    EXPECT_EQ(step.next, grid.AddSharedText("again"));
    kept[step.next] = "again";
  }
  EXPECT_THROW(grid.SetSharedCell(2, 1, 6), EListError);  // given up
  for (const auto& [row, n] : shown) grid.SetCells(1, row, "own");
  grid.DropUnusedShared();  // all: the numbers start again
  EXPECT_EQ(0u, grid.SharedTexts());
  EXPECT_EQ(0, grid.AddSharedText("one"));
  for (std::int32_t i = 1; i <= 1023; ++i) grid.AddSharedText("abc");  // 4 bytes each: 0 .. 1023 fill 4 KiB
  EXPECT_EQ(4096u, grid.SharedTextBytes());  // one block, filled to its end
  grid.AddSharedText(std::string(9000, 'l'));  // longer than the next block (8 KiB): one of less than twice it
  EXPECT_LT(grid.SharedTextBytes(), 4096u + 2 * 9000);
  grid.SetSharedCell(1, 1, 1023);
  grid.DropUnusedShared(1);  // the texts kept end where their block ends
  EXPECT_EQ(1024, grid.AddSharedText("new"));
  EXPECT_EQ(std::tuple(std::string_view("one"), std::string_view("abc"), std::string_view("new")),
            std::tuple(grid.SharedText(0), grid.SharedText(1023), grid.SharedText(1024)));
  // Past 16384 texts (a checkpoint every other one): texts given up in the middle, then the last one kept, whose
  // number the walk stopped at; its number, given again to a text of another length, reads as that text, also
  // once a compaction has moved the texts.
  for (std::int32_t i = 1025; i < 20000; ++i) grid.AddSharedText("abcd");
  grid.SetSharedCell(1, 2, 19999);
  grid.DropUnusedShared(1025);
  grid.SetCells(1, 2, "own");
  grid.DropUnusedShared(19999);
  for (std::int32_t i = 1025; i < 20000; ++i) grid.AddSharedText("x");
  EXPECT_EQ("x", grid.SharedText(19999));
  grid.SetCells(2, 2, std::string(2 << 20, 'c'));
  grid.SetCells(2, 2, "y");  // compacted: the texts given up before (1 .. 1022) become headers, the others move
  EXPECT_EQ("x", grid.SharedText(19999));
}

// Texts given up are garbage until there is more of it than of live text (and 1 MiB at least); the change that
// makes it so gives it back, and the counts start again from what the compaction kept.
TEST(TextGrid, GarbageIsGivenBackOnceItOutweighsTheLiveText) {
  TStringGrid grid(3, 3);
  const std::string mib(1 << 20, 'm');
  grid.SetSharedCell(2, 1, grid.AddSharedText(mib + "live"));
  for (const bool compacts : {false, true}) {  // 1 MiB given up, less than the live text; then 2 MiB
    grid.AddSharedText(mib);
    grid.SetSharedCell(compacts ? 2 : 1, 2, grid.AddSharedText("shown"));
    grid.AddSharedText("end");  // given up at the end: it goes at once, and is no garbage
    const std::size_t bytes = grid.SharedTextBytes();
    grid.DropUnusedShared();
    EXPECT_EQ(std::tuple(compacts, std::size_t{compacts}, compacts ? 0 : mib.size() + 5),  // 5: the length's bytes
              std::tuple(grid.SharedTextBytes() < bytes, grid.SharedCompactions(), grid.TextGarbage()));
  }
  // Each way a text leaves a cell (here one of 2 MiB) gives the garbage back once it outweighs the live text (those
  // that drop cells first: a text they left counted live would hold the others' back); the shared texts stay.
  const std::function<void()> giveUps[] = {
      [&] { grid.ClearRow(2); }, [&] { grid.SetRowCount(2), grid.SetRowCount(3); }, [&] { grid.NumberRows(1); },
      [&] { grid.SetCells(0, 2, "x"); }, [&] { grid.SetNumber(0, 2, 1); }, [&] { grid.SetSharedCell(0, 2, 0); }};
  for (const auto& giveUp : giveUps) {
    grid.SetCells(0, 2, mib + mib);
    giveUp();
    EXPECT_EQ(0u, grid.TextGarbage());
  }
  grid.SetCells(1, 1, std::string(255, 'g')), grid.SetNumber(1, 1, 0);  // from 255 bytes on: 5 bytes of length
  EXPECT_EQ(std::tuple(mib + "live", std::size_t{1}, std::size_t{255 + 5}),
            std::tuple(grid.Cells(2, 1), grid.SharedCompactions(), grid.TextGarbage()));
  grid.SetCells(0, 1, mib + mib);  // put back first by the compaction, in a block of its own: "x" goes elsewhere
  grid.SetCells(0, 2, mib + mib + mib + mib);
  grid.SetCells(0, 2, "x");
  EXPECT_TRUE(grid.Cells(0, 1) == mib + mib && grid.Cells(0, 2) == "x");
  // The shared texts still count live after a compaction: 1.5 MiB given up then does not outweigh 2 MiB of them.
  TStringGrid shared(2, 3);
  shared.SetSharedCell(1, 1, shared.AddSharedText(mib + mib));
  for (const std::size_t size : {3 << 20, 3 << 19}) shared.SetCells(0, 2, std::string(size, 'g')), shared.SetNumber(0, 2, 0);
  EXPECT_EQ((3u << 19) + 5, shared.TextGarbage());
  // After a compaction the next block has the size of the last (a grid that streams its rows compacts again and
  // again): 4 KiB here, the first block's, once a text of 2 MiB in a block of its own is given up.
  TStringGrid own(2, 3);
  own.SetCells(0, 1, "x"), own.SetCells(1, 2, mib + mib);
  EXPECT_EQ((4u << 10) + (2u << 20) + 5, own.TextBlockBytes());
  own.SetCells(1, 2, "y");
  EXPECT_EQ(std::tuple(std::size_t{4} << 10, std::size_t{0}, std::string("y")),
            std::tuple(own.TextBlockBytes(), own.TextGarbage(), own.Cells(1, 2)));
}

// Rows written one below the other share a run of cells. Whatever is written around the runs (shorter, longer
// and shifted rows, cells anywhere, columns filled top to bottom), cleared rows and a shrinking grid: every cell
// reads as a plain map of the cells written says.
TEST(TextGrid, RunsOfRowsReadAsTheCellsWritten) {
  // A row below rows of 10 (its cells every `step` columns) stays in their run when it leaves at most 4 of its
  // columns empty at its ends, whatever the gaps between (and the row after it then begins in the run too), else, or
  // when the run would pass 64 Ki slots, it keeps only its cells (and the row after it, of one cell, its one slot).
  for (const auto& [rows, first, last, step, stays] :
       {std::tuple(2, 1, 6, 1, true), {2, 1, 5, 1, false}, {2, 1, 1, 1, false}, {2, 3, 8, 1, true}, {2, 3, 7, 1, false},
        {2, 5, 10, 1, true}, {2, 6, 10, 1, false}, {2, 1, 11, 1, false}, {2, 1, 10, 9, true}, {6553, 1, 9, 1, false}}) {
    TStringGrid third(12, rows + 4);
    for (std::int32_t r = 1; r <= rows; ++r)
      for (std::int32_t c = 1; c <= 10; ++c) third.SetNumber(c, r, c);
    for (std::int32_t c = first; c <= last; c += step) third.SetNumber(c, rows + 1, c);
    third.SetNumber(1, rows + 2, 1);
    const std::size_t below = stays ? 20 : 2 + static_cast<std::size_t>((last - first) / step);  // the last two rows' slots
    EXPECT_EQ(std::pair(static_cast<std::size_t>(rows) * 10 + below, static_cast<std::size_t>(rows) + 2),
              std::pair(third.Slots(), third.RunLookups())) << rows << ": " << first << "-" << last;  // a look-up a row
  }
  TStringGrid grid(40, 3000);
  std::map<std::pair<std::int32_t, std::int32_t>, std::string> cells;  // by (row, col)
  std::uint32_t seed = 1;
  const auto next = [&](std::uint32_t n) {
    seed = seed * 1664525u + 1013904223u;
    return static_cast<std::int32_t>((seed >> 8) % n);
  };
  const auto set = [&](std::int32_t c, std::int32_t r, std::int32_t value) {
    if (value % 3 == 0) grid.SetNumber(c, r, value);
    else grid.SetCells(c, r, std::to_string(value));
    cells[{r, c}] = std::to_string(value);
  };
  for (std::int32_t r = 1; r < 2500; ++r) {
    const std::int32_t first = next(10) == 0 ? 3 : 1;
    const std::int32_t last = 20 + (next(8) == 0 ? next(15) : 0) - (next(8) == 0 ? next(18) : 0);
    for (std::int32_t c = first; c <= last; ++c) set(c, r, r * 100 + c);
  }
  for (std::int32_t i = 0; i < 3000; ++i) set(next(40), 1 + next(2999), -i);
  for (std::int32_t c = 25; c < 28; ++c)
    for (std::int32_t r = 100; r < 400; ++r) set(c, r, r * 1000 + c);
  for (std::int32_t i = 0; i < 200; ++i) {
    const std::int32_t r = 1 + next(2999);
    grid.ClearRow(r);
    std::erase_if(cells, [r](const auto& cell) { return cell.first.first == r; });
  }
  std::size_t numbered = 0;  // cells of column 0 that read as row numbers, which the grid does not store
  const auto check = [&](const char* step) {
    SCOPED_TRACE(step);
    int wrong = 0;
    for (std::int32_t r = 0; r < grid.RowCount(); ++r)
      for (std::int32_t c = 0; c < grid.ColCount(); ++c) {
        const auto it = cells.find({r, c});
        if (grid.Cells(c, r) != (it == cells.end() ? "" : it->second) && wrong++ == 0) ADD_FAILURE() << c << ", " << r;
      }
    EXPECT_EQ(std::pair(0, cells.size() - numbered), std::pair(wrong, grid.StoredCells()));
  };
  check("written");
  grid.SetRowCount(1800);
  grid.SetColCount(22);
  std::erase_if(cells, [](const auto& cell) { return cell.first.first >= 1800 || cell.first.second >= 22; });
  check("shrunk");
  for (std::int32_t r = 1; r < 1800; r += 7) set(8, r, r);  // writes into what the shrinking left
  check("written again");
  set(0, 1, 1);  // the first numbered row's cell goes too
  grid.NumberRows(5);  // column 0 below row 0 reads as 5, 6, ...: the cells written there go, the others stay
  for (std::int32_t r = 1; r < 1800; ++r) cells[{r, 0}] = std::to_string(r + 4);
  numbered = 1799;
  check("numbered");
}

TEST_F(SpreadsheetImportText, DrawHandlerGoesThroughTheCanvasPort) {
  struct Recorder : TGridCanvas {
    TColor brush = clBlack, font = clWhite;
    std::vector<std::string> log;
    TColor BrushColor() const override { return brush; }
    void SetBrushColor(TColor c) override { brush = c; }
    void SetFontColor(TColor c) override { font = c; }
    void FillRect(const TRect&) override {}
    std::int32_t TextWidth(std::string_view t) override { return 6 * static_cast<std::int32_t>(t.size()); }
    std::int32_t TextHeight(std::string_view) override { return 20; }
    void TextRect(const TRect&, std::int32_t x, std::int32_t y, std::string_view t) override {
      log.push_back(std::to_string(x) + "," + std::to_string(y) + " " + std::string(t) + " " +
                    std::to_string(brush) + "/" + std::to_string(font));
    }
  } canvas;
  Load("ab\tc\n");
  view_.Canvas = &canvas;
  imp_.DataGrid().SetObjects(2, 1, -1);
  view_.DrawCell(1, 1);  // black background becomes white; the row grows to the sample text height + 2
  view_.DrawCell(2, 1);  // negative marker: white on black text
  view_.DrawCell(1, 0);  // header: fixed colour, black, centred
  EXPECT_EQ((std::vector<std::string>{"67,21 ab 16777215/16777215", "132,21 c 16777215/0", "94,2 A 15790320/0"}),
            canvas.log);
  EXPECT_EQ(22, view_.RowHeights(1));
}

}  // namespace
}  // namespace vez
