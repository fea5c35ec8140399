// End-to-end tests of the Paradox library conversion on generated folders.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <fcntl.h>
#include <iconv.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <tuple>

#include "TestUtil.h"
#include "convert/ConvertParadox.h"
#include "convert/internal/StoredRecords.h"
#include "import/paradox/Sha256.h"
#include "librarydb/Absmain.h"
#include "librarydb/Layouts.h"
#include "librarydb/OVLibConst.h"
#include "pxwriter/PxWriter.h"

namespace vez {
namespace {

namespace fs = std::filesystem;
using pxw::Writer;

// An emission-library table in Paradox form, its fields named as in the library layout. `names` are the element
// names in code page 1252.
void WriteEmis(const std::string& path, const std::vector<std::string>& names, std::uint16_t codePage = 1252) {
  std::vector<pxw::Field> fields = {{"Eintrag", 22, 4}, {"ElementName", 1, 80}, {"Values1", 6, 8},
                                    {"Values0", 6, 8},  {"Gruppen1", 4, 4},     {"Kommentar", 12, 11}};
  pxw::TableOptions options;
  options.CodePage = codePage;
  Writer w(fields, options);
  int nr = 0;
  for (const auto& name : names) {
    ++nr;
    w.AddRecord({Writer::Long(nr * 10), Writer::Char(name, 80), Writer::Number(80.5 + nr), nr == 1 ? Writer::Null(8) : Writer::Number(-0.0),
                 Writer::Long(nr), w.Blob("Comment " + std::to_string(nr), 11)});
  }
  w.Write(path);
}

// A table of one record holding `values` in its fields (Paradox type and size each).
void WriteOne(const std::string& path, const std::vector<pxw::Field>& fields, const std::vector<std::string>& values) {
  Writer w(fields);
  w.AddRecord(values);
  w.Write(path);
}

// A run table: its fields come from the Paradox file, its indexes from its type.
void WriteRun(const std::string& path, int records) {
  Writer w({{"No", 4, 4}, {"Name", 1, 20}, {"Calc", 1, 10}, {"CalcType", 1, 10}, {"Results", 1, 10},
            {"Wert", 6, 8}});
  for (int r = 0; r < records; ++r)
    w.AddRecord({Writer::Long(r % 2), Writer::Char("run" + std::to_string(r), 20), Writer::Char("c", 10),
                 Writer::Char("t", 10), Writer::Char("r", 10), Writer::Number(r * 1.5)});
  w.Write(path);
}

// A table without a layout of its own: two plain fields.
void WritePlain(const std::string& path, int records) {
  Writer w({{"Name", 1, 20}, {"Wert", 6, 8}});
  for (int r = 0; r < records; ++r) w.AddRecord({Writer::Char("row" + std::to_string(r), 20), Writer::Number(r)});
  w.Write(path);
}

// Text of a code page as UTF-8, and back, with the C library's iconv (a reading independent of this system's).
std::string Iconv(const std::string& bytes, const char* from, const char* to) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return "<no iconv>";
  std::string in = bytes, out(bytes.size() * 4 + 4, '\0');
  char* src = in.data();
  char* dst = out.data();
  std::size_t left = in.size(), room = out.size();
  const std::size_t rc = iconv(cd, &src, &left, &dst, &room);
  iconv_close(cd);
  return rc == static_cast<std::size_t>(-1) ? "<not convertible>" : out.substr(0, out.size() - room);
}

// The bytes of an escaped reference text: `\\` and `\xhh`, every other character as it is.
std::string Unescape(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\') {
      out += text[i];
    } else if (text[i + 1] == 'x') {
      out += static_cast<char>(std::stoi(text.substr(i + 2, 2), nullptr, 16));
      i += 3;
    } else {
      out += text[++i];
    }
  }
  return out;
}

// Expects the library table (read with SQLite itself, in the order of its records) to hold the reference cells
// ("paradox-ref-dump" cell format) of the Paradox table it was converted from.
void ExpectLibraryHoldsCells(const std::string& file, const std::string& table, const std::string& reference) {
  std::string codePage = "CP437";
  std::vector<int> types;
  std::vector<std::vector<std::string>> rows;
  for (const std::string& line : test::SplitLines(reference)) {
    const auto cells = test::SplitTabs(line);
    if (cells[0] == "code_page 0") continue;
    if (cells[0].rfind("code_page ", 0) == 0) codePage = "CP" + cells[0].substr(10);
    if (cells[0] == "F") types.push_back(std::stoi(cells[3]));
    if (cells[0] == "C") rows.emplace_back(cells.begin() + 2, cells.end());
  }
  sqlite3* db = nullptr;
  sqlite3_stmt* st = nullptr;
  ASSERT_EQ(SQLITE_OK, sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr));
  ASSERT_EQ(SQLITE_OK, sqlite3_prepare_v2(db, ("SELECT * FROM \"" + table + "\" ORDER BY rowid").c_str(), -1, &st,
                                          nullptr));
  std::size_t row = 0;
  for (; sqlite3_step(st) == SQLITE_ROW; ++row) {
    ASSERT_LT(row, rows.size()) << file;
    for (std::size_t col = 0; col < types.size(); ++col) {
      const std::string& token = rows[row][col];
      const int c = static_cast<int>(col);
      const auto* raw = static_cast<const char*>(sqlite3_column_blob(st, c));
      const std::string bytes(raw ? raw : "", static_cast<std::size_t>(sqlite3_column_bytes(st, c)));
      const bool null = sqlite3_column_type(st, c) == SQLITE_NULL;
      const std::string where = file + " record " + std::to_string(row + 1) + " field " + std::to_string(col + 1);
      if (token == "\\N" || token == "-" || token == "s:\"\"") {
        EXPECT_TRUE(null || (token == "s:\"\"" && bytes.empty())) << where;
      } else if (token.rfind("i:", 0) == 0 || token.rfind("f:", 0) == 0) {
        EXPECT_EQ(std::strtod(token.c_str() + 2, nullptr), sqlite3_column_double(st, c)) << where;
      } else if (token.rfind("b:", 0) == 0) {
        EXPECT_EQ(token == "b:true" ? 1 : 0, sqlite3_column_int(st, c)) << where;
      } else if (token.rfind("dt:", 0) == 0) {
        std::string iso = bytes;  // dates alone, times alone, milliseconds left out when 0
        if (iso.size() == 10) iso += "T00:00:00";
        if (iso[2] == ':') iso = "1899-12-30T" + iso;
        if (iso.size() == 19) iso += ".000";
        EXPECT_EQ(token.substr(3), iso) << where;
      } else if (token.rfind("s:\"", 0) == 0) {
        EXPECT_EQ(Iconv(Unescape(token.substr(3, token.size() - 4)), codePage.c_str(), "UTF-8"), bytes) << where;
      } else if (token.rfind("s:", 0) == 0) {  // a BLOB: its length and SHA-256; memo text in its code page
        const std::string stored = types[col] == 12 ? Iconv(bytes, "UTF-8", codePage.c_str()) : bytes;
        EXPECT_EQ(token.substr(2), std::to_string(stored.size()) + ":" + detail::Sha256Hex(stored)) << where;
      } else {
        ADD_FAILURE() << where << ": a deleted table's cell the library cannot hold: " << token;
      }
    }
  }
  EXPECT_EQ(rows.size(), row) << file;
  sqlite3_finalize(st);
  sqlite3_close(db);
}

// Records the view calls that tests look at.
struct RecordingView : TConversionView {
  void ShowMessage(const std::string& text) override { messages.push_back(text); }
  void RunStarted(std::int32_t total) override { totalTables = total; }
  void SetBusy(bool busy) override { busyCalls.push_back(busy); }
  std::vector<std::string> messages;
  std::vector<bool> busyCalls;
  std::int32_t totalTables = -1;
};

class ConvertParadox : public ::testing::Test {
protected:
  std::string Dir() const { return dir_.Path().string() + "/"; }
  std::string Path(const std::string& name) const { return Dir() + name; }
  bool Has(const std::string& name) const { return fs::exists(Path(name)); }

  // Converts the folder and gives the lines of this run's log (the whole "Convert.log").
  std::vector<std::string> Convert(bool recursive = false, bool deleteOld = false, const TConvertOptions& options = {}) {
    ConvertParadoxFiles(Dir(), recursive, deleteOld, &view_, &summary_, options);
    return test::SplitLines(test::ReadFile(Path("Convert.log")));
  }

  std::int32_t CountRecords(const std::string& file) {
    TMyTable lib(Path(file), true, false);
    lib.Table().Open();
    return lib.Table().RecordCount();
  }

  // The first column of the rows a query gives, read (or a change made) with SQLite itself rather than the engine.
  std::vector<std::string> Column(const std::string& file, const std::string& select) {
    sqlite3* db = nullptr;
    sqlite3_stmt* st = nullptr;
    EXPECT_EQ(SQLITE_OK, sqlite3_open_v2(Path(file).c_str(), &db, SQLITE_OPEN_READWRITE, nullptr));
    EXPECT_EQ(SQLITE_OK, sqlite3_prepare_v2(db, select.c_str(), -1, &st, nullptr));
    std::vector<std::string> values;
    while (st != nullptr && sqlite3_step(st) == SQLITE_ROW)
      values.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)));
    sqlite3_finalize(st);
    sqlite3_close(db);
    return values;
  }

  // Writes `bytes` over the file from `at`, or cuts the file there when bytes is empty.
  void Patch(const std::string& name, std::size_t at, const std::string& bytes) {
    std::string content = test::ReadFile(Path(name));
    content = bytes.empty() ? content.substr(0, at) : content.replace(at, bytes.size(), bytes);
    std::ofstream(Path(name), std::ios::binary | std::ios::trunc) << content;
  }

  test::TempDir dir_;
  RecordingView view_;
  TConversionSummary summary_;
};

TEST_F(ConvertParadox, EmissionTableWithItsLayout) {
  WriteEmis(Path("emis.db"), {"Stra\xdf" "e", "M\xfchle"});
  TConvertLog memo;
  TConvertedTable report;
  const std::int64_t compared = detail::TablesComparedCellByCell();
  ASSERT_TRUE(ParadoxToABS(&memo, nullptr, Dir(), Dir(), "emis.db", "emis.abs", &report));
  EXPECT_EQ((std::vector<std::string>{"Converting: \"" + Path("emis.db") + "\""}), memo.Lines().ToVector());
  EXPECT_EQ(ltEmis, report.LibType);
  EXPECT_EQ(2, report.RecordsWritten);
  EXPECT_TRUE(report.Verified && report.Complete);
  {
    TMyTable lib(Path("emis.abs"), true, false);
    TABSTable& t = lib.Table();
    t.Open();
    EXPECT_EQ(LibraryLayout(ltEmis)->Fields.size(), static_cast<std::size_t>(t.FieldCount()));
    t.Last();
    // Record numbers are kept, text arrives as UTF-8, values and memo contents are copied.
    EXPECT_EQ(20, t.FieldByName("Eintrag").AsInteger());
    EXPECT_DOUBLE_EQ(82.5, t.FieldByName("Values1").AsFloat());
    EXPECT_EQ("Comment 2", t.FieldByName("Kommentar").AsString());
  }
  // A plain SQLite file.
  EXPECT_EQ((std::vector<std::string>{"Stra\xC3\x9F" "e", "M\xC3\xBChle"}),
            Column("emis.abs", "SELECT \"ElementName\" FROM \"emis.abs\" ORDER BY \"Eintrag\""));
  // Made as any new file is: read and write for everyone the umask lets through.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  struct stat st {};
  ASSERT_EQ(0, ::stat(Path("emis.abs").c_str(), &st));
  EXPECT_EQ(0666 & ~mask, st.st_mode & 07777);
  fs::remove(Path("emis.abs"));
  WriteEmis(Path("emis.db"), {"\x8E" "rger \x84"}, 850);  // "Ärger ä" in code page 850
  ASSERT_TRUE(ParadoxToABS(nullptr, nullptr, Dir(), Dir(), "emis.db", "emis.abs"));
  EXPECT_EQ(std::vector<std::string>{"\xC3\x84rger \xC3\xA4"},
            Column("emis.abs", "SELECT \"ElementName\" FROM \"emis.abs\""));
  // An existing library with an empty Paradox table is opened only.
  WriteEmis(Path("emis.db"), {});
  EXPECT_TRUE(ParadoxToABS(nullptr, nullptr, Dir(), Dir(), "emis.db", "emis.abs"));
  EXPECT_EQ(1, CountRecords("emis.abs"));
  // The header's record count bounds the records read, also when the blocks hold more.
  fs::remove(Path("emis.abs"));
  WriteEmis(Path("emis.db"), {"a", "b"});
  Patch("emis.db", 6, std::string("\x01\0\0\0", 4));
  ParadoxToABS(nullptr, nullptr, Dir(), Dir(), "emis.db", "emis.abs");
  EXPECT_EQ(1, CountRecords("emis.abs"));
  // An empty text that a number field refuses leaves the field empty. Every table had equal digests, an empty
  // cell's, an empty text's and -0's too.
  fs::remove(Path("emis.abs"));
  WriteOne(Path("emis.db"), {{"ElementName", 1, 20}, {"Symbol", 1, 8}}, {Writer::Char("e", 20), Writer::Char("", 8)});
  ParadoxToABS(nullptr, nullptr, Dir(), Dir(), "emis.db", "emis.abs");
  EXPECT_EQ(compared, detail::TablesComparedCellByCell());
}

TEST_F(ConvertParadox, TablesThatAreNoLibraryOrCannotBeConverted) {
  WritePlain(Path("Unknown.db"), 3);
  TConvertLog memo;
  EXPECT_FALSE(ParadoxToABS(&memo, nullptr, Dir(), Dir(), "Unknown.db", "Unknown.abs"));
  EXPECT_EQ("Unknown Database Type", memo.Lines()[1]);
  WriteEmis(Path("emis.db"), {});  // no records: no library file at all
  EXPECT_FALSE(ParadoxToABS(nullptr, nullptr, Dir(), Dir(), "emis.db", "emis.abs"));
  Writer odd({{"Name", 1, 10}, {"Odd", 0x19, 4}});  // a field type without a column type
  odd.AddRecord({Writer::Char("a", 10), Writer::Long(1)});
  odd.Write(Path("Y.run"));
  TConvertLog oddMemo;
  EXPECT_FALSE(ParadoxToABS(&oddMemo, nullptr, Dir(), Dir(), "Y.run", "Y.runx"));
  EXPECT_THAT(oddMemo.Lines()[1], ::testing::StartsWith("Error: \""));
  for (const char* none : {"Unknown.abs", "emis.abs", "Y.runx"}) EXPECT_FALSE(Has(none)) << none;
  // Nothing else is left: no library, no passing file.
  EXPECT_EQ(3, std::distance(fs::directory_iterator(Dir()), fs::directory_iterator()));
}

// A run table has no field layout: its fields come from the Paradox file (a Currency field keeps its type,
// formatted memo bytes go to a BLOB), its indexes from its type.
TEST_F(ConvertParadox, RunTablesTakeTheirFieldsFromTheParadoxFile) {
  Writer w({{"No", 4, 4}, {"Name", 1, 20}, {"Calc", 1, 4}, {"CalcType", 1, 4}, {"Results", 1, 4},
            {"Preis", 5, 8}, {"Notiz", 14, 11}});
  const std::string c = Writer::Char("c", 4);
  for (int r = 0; r < 2; ++r)
    w.AddRecord({Writer::Long(1), Writer::Char("run", 20), c, c, c, Writer::Number(12.5 + r),
                 w.Blob(std::string("\xff\xfe{rtf}\x80", 8), 11)});
  w.Write(Path("X.run"));
  TConvertedTable report;
  ASSERT_TRUE(ParadoxToABS(nullptr, nullptr, Dir(), Dir(), "X.run", "X.runx", &report));
  EXPECT_EQ(80, report.LibType);
  {
    TMyTable lib(Path("X.runx"), true, false);
    lib.Table().Open();
    EXPECT_EQ(2, lib.Table().RecordCount());  // the primary index allows duplicates
    auto typeAndSize = [&](const char* name) {
      return std::pair(lib.Table().FieldByName(name).DataType(), lib.Table().FieldByName(name).Size());
    };
    EXPECT_EQ((std::array{std::pair(ftString, 20), std::pair(ftInteger, 0), std::pair(ftCurrency, 0)}),
              (std::array{typeAndSize("Name"), typeAndSize("No"), typeAndSize("Preis")}));
    lib.Table().Last();
    EXPECT_DOUBLE_EQ(13.5, lib.Table().FieldByName("Preis").AsFloat());
    EXPECT_EQ(LibraryIndexLayout(80)->size(), static_cast<std::size_t>(lib.Table().IndexDefs().Count()));
  }
  EXPECT_EQ((std::vector<std::string>{"blob", "blob"}), Column("X.runx", "SELECT typeof(\"Notiz\") FROM \"X.runx\""));
}

TEST_F(ConvertParadox, FolderRunLogPassesAndRecursion) {
  WriteEmis(Path("emis.db"), {"e1"});
  WriteRun(Path("X.run"), 2);
  for (const char* plain : {"Thumbs.db", "Nolib.db"}) WritePlain(Path(plain), 1);
  fs::create_directory(Path("sub"));
  fs::create_directory(Path("dir.db"));  // a folder named like a table is no table
  WriteEmis(Path("sub/emis.db"), {"s1"});
  fs::create_directory_symlink("..", Path("sub/loop"));  // never followed

  const auto log = Convert(/*recursive=*/false);
  ASSERT_GE(log.size(), 8u);
  EXPECT_TRUE(std::regex_match(log[0], std::regex(R"(.+ \S+ [0-9.]+/.*)" + std::string(__DATE__).substr(7) +
                                                 R"(.*: Converting Paradox Tables)"))) << log[0];  // the build date
  const std::string separator(75, '-');
  // The run pass comes first, then the ".db" tables in name order; Thumbs.db is never converted.
  const std::vector<std::string> expected = {separator, "Converting Folder \"" + Dir() + "\"",
                                             "Converting: \"" + Path("X.run") + "\"",
                                             "Converting: \"" + Path("emis.db") + "\"",
                                             "Converting: \"" + Path("Nolib.db") + "\"", "Unknown Database Type",
                                             separator};
  EXPECT_EQ(expected, std::vector<std::string>(log.begin() + 1, log.begin() + 8));
  EXPECT_EQ("", log.back());
  EXPECT_FALSE(Has("Thumbs.abs") || Has("sub/emis.abs"));
  // X.run, emis.db and Nolib.db, with Thumbs.db skipped at conversion time; a table that is no library is no error.
  EXPECT_EQ(std::tuple(3, std::vector<bool>{true, false}, 0),
            std::tuple(view_.totalTables, view_.busyCalls, summary_.ErrorLines));

  Convert(/*recursive=*/true);
  EXPECT_EQ(1, CountRecords("sub/emis.abs"));
  EXPECT_EQ(4u, summary_.Tables.size());
}

// A folder of old libraries as DOS left them: names and companions in any case.
TEST_F(ConvertParadox, DeleteOldRemovesConvertedTablesWithCompanions) {
  WriteEmis(Path("EMIS.DB"), {"e1", "e2"});
  for (const char* companion : {"EMIS.PX", "emis.val", "EMIS.XG0", "emis.Yg1", "emis.x05"})
    std::ofstream(Path(companion)) << "x";
  for (const char* plain : {"THUMBS.DB", "Nolib.db"}) WritePlain(Path(plain), 1);
  ASSERT_TRUE(Has("EMIS.mb"));
  Convert();  // the second run verifies every library against its table and deletes the table
  const auto log = Convert(false, /*deleteOld=*/true);
  const std::vector<std::string> gone = {"THUMBS.DB", "EMIS.DB",  "EMIS.PX",  "EMIS.XG0",
                                         "EMIS.mb",   "emis.val", "emis.x05", "emis.Yg1"};
  for (const auto& name : gone) EXPECT_FALSE(Has(name)) << name;
  std::vector<std::string> deleted;
  for (const auto& file : summary_.Deleted) deleted.push_back(fs::path(file).filename().string());
  EXPECT_THAT(deleted, ::testing::UnorderedElementsAreArray(gone));
  EXPECT_TRUE(Has("Nolib.db"));  // not converted: kept
  // The library's own look-ups find it under its registered name; the converted table is deleted last.
  EXPECT_EQ(2, CountRecords(LibName(ltEmis)));
  const auto last = std::find_if(log.rbegin(), log.rend(), [](auto& line) { return line.starts_with("Deleting "); });
  ASSERT_NE(last, log.rend());
  EXPECT_EQ("Deleting \"" + Path("EMIS.DB") + "\"", *last);
  EXPECT_NE(std::find(log.begin(), log.end(), "Deleting \"" + Path("THUMBS.DB") + "\""), log.end());
}

// After --delete-old, every table that is gone has all its records in the library, and a second run changes
// nothing: the property over a folder with every kind of trouble.
TEST_F(ConvertParadox, DeleteOldDeletesOnlyCompleteTables) {
  WriteEmis(Path("emis.db"), {"Quelle", "QUELLE", "Andere"});  // unique without regard to case: one Post fails
  for (const auto& [name, records] : {std::pair{"A.run", 300}, {"B.run", 300}, {"C.run", 2}, {"D.run", 0},
                                      {"E.run", 2}})
    WriteRun(Path(name), records);
  for (std::size_t at : {0x25u, 0x40u, 0x44u}) Patch("E.run", at, "\x5A");  // encrypted, no password given
  Patch("B.run", 2048 + 2 * 4096, "");  // cut after its second block: the header still counts 300 records
  Patch("C.run", 5, std::string(1, '\0'));  // unreadable: a block size of 0
  const auto log = Convert(false, /*deleteOld=*/true);
  const std::map<std::string, TTableOutcome> expected = {
      {"emis.db", TTableOutcome::Incomplete}, {"A.run", TTableOutcome::Converted},
      {"B.run", TTableOutcome::Incomplete},   {"C.run", TTableOutcome::Unreadable},
      {"D.run", TTableOutcome::NoRecords},    {"E.run", TTableOutcome::Encrypted}};
  std::map<std::string, TTableOutcome> outcomes;
  for (const auto& t : summary_.Tables) {
    outcomes[fs::path(t.Source).filename().string()] = t.Outcome;
    if (t.Source.ends_with("emis.db")) { EXPECT_EQ(2, t.RecordsWritten); }
  }
  EXPECT_EQ(expected, outcomes);
  for (const auto& [name, outcome] : expected) EXPECT_EQ(outcome != TTableOutcome::Converted, Has(name)) << name;
  EXPECT_EQ(300, CountRecords("A.runx"));
  EXPECT_THAT(log, ::testing::Contains(::testing::StartsWith("Keeping \"" + Path("B.run") + "\": ")));
  EXPECT_THAT(log, ::testing::Contains(::testing::StartsWith("Error: \"Only ")));

  // The second run changes no library and deletes nothing more.
  const std::int32_t emisRecords = CountRecords("emis.abs"), bRecords = CountRecords("B.runx");
  const auto second = Convert(false, true);
  for (const auto& [name, outcome] : expected) EXPECT_EQ(outcome != TTableOutcome::Converted, Has(name)) << name;
  EXPECT_EQ(emisRecords * 1000 + bRecords, CountRecords("emis.abs") * 1000 + CountRecords("B.runx"));
  EXPECT_THAT(second, ::testing::Contains("Library exists already: \"" + Path("emis.abs") + "\" (" +
                                          std::to_string(emisRecords) + " records), not converted again"));
}

// Numbers and texts into flags: 1 and "True" are True, 0 and "False" False, as the comparison after writing finds;
// 2 is no flag's value.
TEST_F(ConvertParadox, NumbersBecomeFlags) {
  WriteOne(Path("emis.db"), {{"ElementName", 1, 20}, {"Terz", 3, 2}, {"Komplett", 1, 5}},
           {Writer::Char("e", 20), Writer::Short(1), Writer::Char("False", 5)});
  fs::create_directory(Path("sub"));
  Writer w({{"ElementName", 1, 20}, {"Terz", 3, 2}, {"Komplett", 3, 2}});
  for (int r = 1; r <= 7; ++r) w.AddRecord({Writer::Char(std::to_string(r), 20), Writer::Short(2), Writer::Short(0)});
  w.Write(Path("sub/emis.db"));
  Convert(true);
  ASSERT_EQ(2u, summary_.Tables.size());
  // Seven differences, of which the first five are named.
  const std::string terz = ", field \"Terz\": 2 in the table, True in the library";
  EXPECT_EQ(std::pair(true, "7 values in the library differ from the table; Record 1" + terz + "; Record 2" + terz +
                                "; Record 3" + terz + "; Record 4" + terz + "; Record 5" + terz),
            std::pair(summary_.Tables[0].Complete, summary_.Tables[1].Reason));
  // A library whose name differs from the table's in its first letter is no copy of the table: the table stays.
  Column("emis.abs", "UPDATE \"emis.abs\" SET \"ElementName\" = 'f'");
  Convert(true, /*deleteOld=*/true);
  EXPECT_TRUE(Has("emis.db"));
}

// A library that stores a text other than the one written, in any one byte (another program's trigger here), is
// found incomplete, whichever word of the comparison's digest the byte falls in; so is a NUL byte more at its end
// (the tail word padded with zeros is the same word).
TEST_F(ConvertParadox, ATextStoredOtherwiseInAnyByteIsFound) {
  const std::string name = "Strassenverkehr Nord 12";  // two whole words of 8 bytes and a tail of 7
  WriteOne(Path("emis.db"), {{"ElementName", 1, 40}}, {Writer::Char(name, 40)});
  for (std::size_t at = 1; at <= name.size() + 1; ++at) {
    fs::remove(Path("emis.abs"));
    CreateLibraryFile(ltEmis, Dir(), false);
    Column("emis.abs", "CREATE TRIGGER garble AFTER INSERT ON \"emis.abs\" BEGIN UPDATE \"emis.abs\" SET "
                       "ElementName = substr(ElementName, 1, " + std::to_string(at - 1) + ") || " +
                       (at > name.size() ? "char(0)" : "'_'") + " || "
                       "substr(ElementName, " + std::to_string(at + 1) + ") WHERE rowid = NEW.rowid; END");
    Convert();
    ASSERT_EQ(1u, summary_.Tables.size());
    EXPECT_FALSE(summary_.Tables[0].Complete) << at;
  }
}

// A library that differs from its table in one value is found wherever the value lies: in a record far past the
// first pages, inside a long memo that fills pages of its own, or in the last record; so is a record less.
TEST_F(ConvertParadox, ADifferenceAnywhereInALargeTableIsFound) {
  Writer w({{"ElementName", 1, 20}, {"Values1", 6, 8}, {"Kommentar", 12, 10}});
  const auto memo = [](int r) {
    return r % 500 == 8 ? std::string(9000, static_cast<char>('a' + r % 26)) : "c" + std::to_string(r);
  };
  for (int r = 1; r <= 3000; ++r)
    w.AddRecord({Writer::Char("e" + std::to_string(r), 20), Writer::Number(r * 0.5), w.Blob(memo(r), 10)});
  w.Write(Path("emis.db"));
  const std::vector<std::pair<std::string, std::string>> changes = {
      {"", ""},
      {"UPDATE \"emis.abs\" SET Values1 = Values1 + 1e-9 WHERE rowid = 2900", "Record 2900, field \"Values1\""},
      {"UPDATE \"emis.abs\" SET Kommentar = substr(Kommentar, 1, 8000) || '_' || substr(Kommentar, 8002) "
       "WHERE rowid = 2508", "Record 2508, field \"Kommentar\""},
      {"UPDATE \"emis.abs\" SET ElementName = 'x' WHERE rowid = 3000", "Record 3000, field \"ElementName\""},
      {"DELETE FROM \"emis.abs\" WHERE rowid = 3000", "2999 of 3000 records written"}};
  for (const auto& [change, why] : changes) {
    fs::remove(Path("emis.abs"));
    CreateLibraryFile(ltEmis, Dir(), false);
    if (!change.empty())
      Column("emis.abs", "CREATE TRIGGER change AFTER INSERT ON \"emis.abs\" WHEN NEW.rowid = 3000 BEGIN " + change +
                             "; END");
    const std::int64_t compared = detail::TablesComparedCellByCell();
    Convert();
    ASSERT_EQ(1u, summary_.Tables.size());
    EXPECT_EQ(change.empty(), summary_.Tables[0].Complete) << change;
    EXPECT_EQ(change.empty(), compared == detail::TablesComparedCellByCell()) << change;  // cell by cell if it differs
    if (change.empty()) {  // the file reader itself reads every record whole, not the engine it falls back on
      TMyTable lib(Path("emis.abs"), true, false);
      lib.Table().ReadDefinitions();
      const std::vector<std::string> fields = {"ElementName", "Values1", "Kommentar", "Eintrag"};
      std::vector<TFieldType> types;
      const TFieldDefs& defs = lib.Table().FieldDefs();
      for (const auto& f : fields) types.push_back(defs[defs.IndexOf(f)].DataType);
      int r = 0;
      EXPECT_TRUE(detail::ReadStoredRecords(Path("emis.abs"), lib.Table().TableName(), fields, types,
                                            [&](const std::vector<VariantView>& v, bool understood) {
        ++r;
        return understood && v[0].text == "e" + std::to_string(r) && v[1].number == r * 0.5 && v[2].text == memo(r) &&
               v[3].integer == r;
      }));
      EXPECT_EQ(3000, r);
      sqlite3* db = nullptr;  // a table whose row id is a column of its own
      ASSERT_EQ(SQLITE_OK, sqlite3_open(Path("ids.sqlite").c_str(), &db));
      // and a table of more levels of small pages, some inner ones among the leaves the reader has read at once,
      // all of them past page 65536 (page numbers of three bytes)
      sqlite3_exec(db, "PRAGMA page_size = 512; CREATE TABLE t(id INTEGER PRIMARY KEY, name TEXT); "
                       "INSERT INTO t VALUES (-3, 'minus'), (7, 'seven'), (9, 'nine'); CREATE TABLE pad(b); "
                       "INSERT INTO pad VALUES (zeroblob(33600000)); CREATE TABLE deep(n, s); "
                       "WITH RECURSIVE c(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM c WHERE n < 20000) "
                       "INSERT INTO deep SELECT n, printf('%020d', n) FROM c; CREATE TABLE late(a, b, c, d, e, f, g, "
                       "h); INSERT INTO late (a) VALUES (char(1)); CREATE TABLE f(x, n); "
                       "INSERT INTO f VALUES (1.5, 1), (2.5, 2)", nullptr, nullptr, nullptr);
      sqlite3_close(db);
      std::string seen;
      const auto read = [&](const char* table, const std::vector<std::string>& fields) {
        return detail::ReadStoredRecords(Path("ids.sqlite"), table, fields, {ftString, ftInteger},
                                         [&](const std::vector<VariantView>& v, bool understood) {
          seen += std::string(v[0].text) + std::to_string(v[1].integer) + (understood ? ";" : "?");
          return true;
        });
      };
      EXPECT_TRUE(read("t", {"NAME", "id"}));  // a field in another letter case than its column
      EXPECT_EQ("minus-3;seven7;nine9;", seen);  // a negative row id takes 9 bytes in its cell
      EXPECT_FALSE(read("t", {"name", "nope"}));  // a field the table lacks
      // A real in a text field is left to the engine; a NaN (2.5 made one) reads as SQLite reads it: as NULL.
      const std::string twoAndAHalf("\x0C\x02\x03\x07\x01\x40\x04", 7);  // its cell: sizes, row id 2, types, 2.5
      Patch("ids.sqlite", test::ReadFile(Path("ids.sqlite")).rfind(twoAndAHalf) + 5, "\x7F\xF8");
      seen.clear();
      EXPECT_TRUE(read("f", {"x", "n"}));
      EXPECT_EQ("1?2;", seen);
      ASSERT_EQ(SQLITE_OK, sqlite3_open(Path("utf16.sqlite").c_str(), &db));  // a file of UTF-16 texts: left to SQL
      sqlite3_exec(db, "PRAGMA encoding = 'UTF-16'; CREATE TABLE t(a)", nullptr, nullptr, nullptr);
      sqlite3_close(db);
      EXPECT_FALSE(detail::ReadStoredRecords(Path("utf16.sqlite"), "t", {"a"}, {ftString},
                                             [](auto&, bool) { return true; }));
      EXPECT_THROW(detail::ReadStoredRecords(Path("ids.sqlite"), "t", {"id"}, {ftInteger},
                                             [](auto&, bool) -> bool { throw std::runtime_error("stop"); }),
                   std::runtime_error);
      // The types of a record's header as one 9-byte number that ends past the header: refused as SQL refuses it.
      const std::string record("\x0A\x01\x09\x0F\0\0\0\0\0\0\0\x01", 12);
      Patch("ids.sqlite", test::ReadFile(Path("ids.sqlite")).find(record) + 3, std::string(8, '\x80'));
      EXPECT_FALSE(detail::ReadStoredRecords(Path("ids.sqlite"), "late", {"a"}, {ftInteger},
                                             [](auto&, bool) { return true; }));
      r = 0;
      EXPECT_TRUE(detail::ReadStoredRecords(Path("ids.sqlite"), "deep", {"n", "s"}, {ftInteger, ftString},
                                            [&](const std::vector<VariantView>& v, bool understood) {
        ++r;
        const std::string n = std::to_string(r);
        return understood && v[0].integer == r && v[1].text == std::string(20 - n.size(), '0') + n;
      }));
      EXPECT_EQ(20000, r);
    }
    EXPECT_THAT(summary_.Tables[0].Reason, ::testing::HasSubstr(why)) << change;
  }
}

// Tables whose cells do not all arrive in their library are converted as far as they go and kept; the log, the
// report and the summary name what is missing. So are tables whose library exists, empty (filled now) or with
// records (only compared), and tables whose names differ only in letter case (not converted at all).
TEST_F(ConvertParadox, IncompleteTablesAreKeptAndTheirDifferencesNamed) {
  // Fields the layout lacks, with values, and a name the library cuts; the library refuses the second record (its
  // unique name again): the records written meet their own, and only their values are counted.
  Writer emis({{"ElementName", 1, 120}, {"Nr", 4, 4}, {"Name", 1, 20}});
  for (const std::string& name : {std::string("a"), std::string("A"), std::string(100, 'b')})
    emis.AddRecord({Writer::Char(name, 120), Writer::Long(7), Writer::Char("x", 20)});
  emis.Write(Path("emis.db"));
  // A value the unsigned field refuses, into an empty library that exists.
  CreateLibraryFile(ltAbsor, Dir(), false);
  WriteOne(Path("Absor.db"), {{"ElementName", 1, 20}, {"Art", 3, 2}}, {Writer::Char("a", 20), Writer::Short(-5)});
  // A text longer than its field.
  WriteOne(Path("Trans.db"), {{"ElementName", 1, 120}}, {Writer::Char(std::string(100, 'x'), 120)});
  // No field in the layout: the records hold the defaults of their type (and the table is kept).
  WriteOne(Path("Time.db"), {{"Foo", 4, 4}}, {Writer::Long(3)});
  // No field in common with a library that holds records already.
  CreateLibraryFile(ltAtten, Dir(), true);
  WriteOne(Path("Atten.db"), {{"Foo", 4, 4}}, {Writer::Long(3)});
  // Names that differ only in letter case, which would meet in one library.
  for (const char* twin : {"Wind.db", "WIND.DB"}) WriteOne(Path(twin), {{"Foo", 4, 4}}, {Writer::Long(3)});

  const auto log = Convert(false, /*deleteOld=*/true);
  const std::string x40(40, 'x');
  const std::string twins = "\"" + Path("WIND.DB") + "\" and \"" + Path("Wind.db") + "\" differ only in letter case";
  const std::map<std::string, std::pair<TTableOutcome, std::string>> expected = {
      {"emis.db", {TTableOutcome::Incomplete, "Fields not in the library hold values: Nr, Name (non-empty cells: 4)"}},
      {"Absor.db", {TTableOutcome::Incomplete, "Record 1, field \"Art\": -5 in the table, empty in the library"}},
      {"Trans.db",
       {TTableOutcome::Incomplete, "Record 1, field \"ElementName\": \"" + x40 + "...\" (100 characters) in the table, \"" +
                                       x40 + "...\" (80 characters) in the library"}},
      {"Time.db", {TTableOutcome::Incomplete, "Fields not in the library hold values: Foo (non-empty cells: 1)"}},
      {"Atten.db", {TTableOutcome::Skipped, "Fields not in the library hold values: Foo (non-empty cells: 1)"}},
      {"Wind.db", {TTableOutcome::Failed, twins}}, {"WIND.DB", {TTableOutcome::Failed, twins}}};
  const std::string emisWhy = "2 of 3 records written; " + expected.at("emis.db").second + "; 1 values in the library "
                           "differ from the table; Record 3, field \"ElementName\": \"" + std::string(40, 'b') +
                           "...\" (100 characters) in the table, \"" + std::string(40, 'b') + "...\" (80 characters) in the library";
  ASSERT_EQ(expected.size(), summary_.Tables.size());
  for (const auto& t : summary_.Tables) {
    const std::string name = fs::path(t.Source).filename().string();
    const auto& [outcome, why] = expected.at(name);
    EXPECT_EQ(outcome, t.Outcome) << name;
    EXPECT_FALSE(t.Complete) << name;
    EXPECT_TRUE(Has(name)) << name;
    EXPECT_THAT(t.Reason, ::testing::HasSubstr(why)) << name;
    EXPECT_THAT(log, ::testing::Contains("Error: \"" + why + "\"")) << name;
    EXPECT_THAT(log, ::testing::Contains("Keeping \"" + t.Source + "\": " + t.Reason)) << name;
    EXPECT_TRUE(name != "emis.db" || t.Reason == emisWhy) << t.Reason;
  }
  for (const char* made : {"emis.abs", "Absor.abs", "Trans.abs", "Time.abs", "Atten.abs"})
    EXPECT_EQ(made == std::string("emis.abs") ? 2 : 1, CountRecords(made)) << made;
}

TEST_F(ConvertParadox, FailedCommitWritesNothingAndKeepsTheTable) {
  WriteRun(Path("big.run"), 3000);
  // Files may not grow beyond 64 KiB: the commit of the table's records fails as on a full disk.
  struct rlimit old {};
  getrlimit(RLIMIT_FSIZE, &old);
  auto* oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = old;
  small.rlim_cur = 64 * 1024;
  setrlimit(RLIMIT_FSIZE, &small);
  Convert(false, /*deleteOld=*/true);
  setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, oldHandler);
  ASSERT_EQ(1u, summary_.Tables.size());
  EXPECT_EQ(TTableOutcome::Failed, summary_.Tables[0].Outcome);
  EXPECT_EQ(0, summary_.Tables[0].RecordsWritten);
  EXPECT_TRUE(Has("big.run"));
  EXPECT_GT(summary_.ErrorLines, 0);
  if (Has("big.runx")) { EXPECT_EQ(0, CountRecords("big.runx")); }
}

TEST_F(ConvertParadox, TwoRunsAtOnceFillEachTableOnce) {
  for (int i = 0; i < 6; ++i) WriteRun(Path("R" + std::to_string(i) + ".run"), 200);
  std::vector<pid_t> children;
  for (int k = 0; k < 2; ++k) {
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      ConvertParadoxFiles(Dir(), false, false);
      _exit(0);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status));
  }
  for (int i = 0; i < 6; ++i) EXPECT_EQ(200, CountRecords("R" + std::to_string(i) + ".runx"));
}

// A run of two jobs killed as a whole in the middle of a new library leaves no library, and its leftovers (the
// passing files and journals of its jobs) are no library of the listings and go with the next run in the folder,
// whatever it converts; the passing file of a run still going (this process's) stays.
TEST_F(ConvertParadox, KilledRunLeavesNoLibrary) {
  WriteRun(Path("big.run"), 40000);
  TMyTable live(Path("Wind.abs"), false);
  TNewLibraryFile liveFile(live);
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    setpgid(0, 0);
    TConvertOptions options;
    options.Jobs = 2;
    ConvertParadoxFiles(Dir(), false, false, nullptr, nullptr, options);
    _exit(0);
  }
  setpgid(pid, pid);
  // The files of the table's library: with `withContent`, only those that hold something.
  const auto leftovers = [&](bool withContent) {
    std::vector<std::string> found;
    for (const auto& e : fs::directory_iterator(Dir())) {
      std::error_code ec;
      const std::string name = e.path().filename().string();
      if (name.find("big.runx") != std::string::npos && (!withContent || fs::file_size(e.path(), ec) > 0))
        found.push_back(name);
    }
    return found;
  };
  // The passing file has content from the first page a job writes until the verified library takes its name;
  // its journal has content only while a commit or a spill of the page cache runs, so it may or may not be caught.
  const auto written = [&] {
    const auto found = leftovers(true);
    return std::any_of(found.begin(), found.end(), [](const std::string& n) { return n != "big.runx"; });
  };
  for (int i = 0; i < 60000 && !written(); ++i) usleep(1000);
  kill(-pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  ASSERT_THAT(leftovers(true), ::testing::AllOf(::testing::Not(::testing::IsEmpty()),
                                                ::testing::Not(::testing::Contains("big.runx"))));
  // A job is not this process's child: it is gone once the process table shows it no more or as a zombie (its
  // lock is free a moment before that, while it still counts as running).
  for (const std::string& name : leftovers(false)) {
    std::smatch owner;
    ASSERT_TRUE(std::regex_search(name, owner, std::regex(R"(\.big\.runx\.(\d+)-)"))) << name;
    const auto running = [stat = "/proc/" + owner[1].str() + "/stat"] {
      std::string line;
      std::getline(std::ifstream(stat), line);
      const std::size_t end = line.rfind(") ");
      return end != std::string::npos && end + 2 < line.size() && line[end + 2] != 'Z' && line[end + 2] != 'X';
    };
    for (int i = 0; i < 10000 && running(); ++i) usleep(1000);
  }
  for (const std::string& name : leftovers(true)) EXPECT_TRUE(IsPassingLibraryFile(name)) << name;
  fs::rename(Path("big.run"), Path("other.run"));
  Convert();
  EXPECT_EQ(40000, CountRecords("other.runx"));
  EXPECT_EQ(std::vector<std::string>{}, leftovers(false));
  EXPECT_TRUE(fs::exists(liveFile.PassingFileName()));
}

// Ctrl-C in the middle of a table: that table is rolled back, no later table is converted, nothing is deleted,
// and the log says that the run was interrupted; a folder none of whose tables was reached is not logged.
TEST_F(ConvertParadox, InterruptedRunRollsBackTheCurrentTable) {
  WriteRun(Path("A.run"), 10);
  WriteRun(Path("B.run"), 3000);
  fs::create_directory(Path("later"));
  WriteRun(Path("later/C.run"), 10);
  int asked = 0;
  TConvertOptions options;
  options.Interrupted = [&] { return ++asked > 20 + 1500; };  // A: 10 records written and 10 compared
  const auto log = Convert(true, /*deleteOld=*/true, options);
  ASSERT_EQ(2u, summary_.Tables.size());
  EXPECT_EQ(std::tuple(true, TTableOutcome::Interrupted, true, std::size_t{0}),
            std::tuple(summary_.Tables[0].Complete, summary_.Tables[1].Outcome, summary_.Interrupted,
                       summary_.Deleted.size()));
  EXPECT_TRUE(Has("A.runx") && Has("A.run") && Has("B.run") && !Has("B.runx") && !Has("later/C.runx"));
  EXPECT_THAT(log, ::testing::Not(::testing::Contains(::testing::HasSubstr("later"))));
  for (const char* line : {"Interrupted: nothing of this table was written",
                           "Interrupted: the conversion stopped before its end (tables not reached: 1)",
                           "Nothing deleted: the conversion was interrupted"})
    EXPECT_THAT(log, ::testing::Contains(line));
}

// A dry run writes nothing in the folder and tells of every table what a real run then does.
TEST_F(ConvertParadox, DryRunWritesNothingAndForeseesTheRun) {
  WriteEmis(Path("emis.db"), {"e1", "e2"});
  WriteOne(Path("Absor.db"), {{"ElementName", 1, 20}, {"Art", 3, 2}}, {Writer::Char("a", 20), Writer::Short(-5)});
  CreateLibraryFile(ltTrans, Dir(), false);  // empty: filled
  WriteOne(Path("Trans.db"), {{"ElementName", 1, 20}}, {Writer::Char("t", 20)});
  WritePlain(Path("Nolib.db"), 1);
  auto snapshot = [&] {
    std::map<std::string, std::string> files;
    for (const auto& e : fs::directory_iterator(Dir())) files[e.path().string()] = test::ReadFile(e.path().string());
    return files;
  };
  const auto before = snapshot();
  TConvertOptions dry;
  dry.DryRun = true;
  TConversionSummary foreseen;
  ConvertParadoxFiles(Dir(), false, true, &view_, &foreseen, dry);
  EXPECT_EQ(before, snapshot());
  EXPECT_TRUE(foreseen.DryRun && foreseen.Deleted.empty());
  TConvParadox form;  // the form's own run of a folder, dry as its options say
  form.Options = dry;
  form.Folder = Dir();
  form.ConvertLibs(Dir(), false);
  EXPECT_EQ(before, snapshot());
  EXPECT_EQ(form.Tables.size(), foreseen.Tables.size());
  // Unverified, a table is converted but not complete.
  dry.Verify = false;
  TConversionSummary unverified;
  ConvertParadoxFiles(Dir(), false, true, &view_, &unverified, dry);
  const auto emis = std::find_if(unverified.Tables.begin(), unverified.Tables.end(),
                                 [](const TConvertedTable& t) { return t.Source.ends_with("emis.db"); });
  ASSERT_NE(emis, unverified.Tables.end());
  EXPECT_TRUE(emis->Outcome == TTableOutcome::Converted && !emis->Complete && emis->Reason == "not verified");
  Convert(false, /*deleteOld=*/true);
  ASSERT_EQ(summary_.Tables.size(), foreseen.Tables.size());
  const auto told = [](const auto& t) { return std::tuple(t.Outcome, t.Complete, t.Reason, t.RecordsWritten); };
  for (std::size_t i = 0; i < foreseen.Tables.size(); ++i) {
    const TConvertedTable& t = summary_.Tables[i];
    EXPECT_EQ(told(t), told(foreseen.Tables[i])) << t.Source;
    EXPECT_EQ(t.Complete, !Has(fs::path(t.Source).filename().string())) << t.Source;
  }
}

// The held-out check: after a run with DeleteOld, every Paradox table that is gone equals its library cell for
// cell, by an independent reading of the tables (the reference cells next to the fixtures, read with pxlib).
TEST_F(ConvertParadox, DeletedTablesEqualTheirLibrariesCellForCell) {
  std::map<std::string, std::string> references;  // table stem -> reference cells
  for (const char* sub : {"generated", "paradoxdriver", "paradoxReader"}) {
    for (const auto& e : fs::directory_iterator(test::DataPath("paradox/") + sub)) {
      const std::string name = e.path().filename().string();
      if (!name.ends_with(".cells.txt") || name.find("encrypted") != std::string::npos) continue;
      const std::string table = name.substr(0, name.size() - 10);
      const fs::path db = e.path().parent_path() / (fs::path(table).extension().empty() ? table + ".db" : table);
      const std::string stem = sub + std::string("_") + fs::path(table).stem().string();
      // As ".sdb" tables: their libraries take every field of the table.
      fs::copy_file(db, Path(stem + ".sdb"));
      for (const char* mb : {".mb", ".MB"})
        if (fs::exists(fs::path(db).replace_extension(mb))) fs::copy_file(fs::path(db).replace_extension(mb), Path(stem + ".mb"));
      references[stem] = test::ReadFile(e.path().string());
    }
  }
  Convert(false, /*deleteOld=*/true);
  int checked = 0;
  for (const auto& [stem, cells] : references) {
    if (Has(stem + ".sdb")) continue;  // kept: nothing to check
    ++checked;
    ExpectLibraryHoldsCells(Path(stem + ".sdbx"), stem + ".sdbx", cells);
  }
  EXPECT_GE(checked, 12);
}

TEST_F(ConvertParadox, MissingFolderIsAWalkError) {
  const std::string missing = Path("nowhere");
  ConvertParadoxFiles(missing, false, true, &view_, &summary_);
  EXPECT_THAT(summary_.ErrorText, ::testing::StartsWith("Error: "));
  EXPECT_EQ(0, view_.totalTables);
  ASSERT_EQ(2u, view_.messages.size());  // the log cannot be written, then the walk error
  EXPECT_THAT(view_.messages[0], ::testing::StartsWith("Error writing to " + missing + "/Convert.log\r\n"));
  EXPECT_EQ(summary_.ErrorText, view_.messages[1]);
}

}  // namespace
}  // namespace vez
