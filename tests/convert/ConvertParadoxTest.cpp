// End-to-end tests of the Paradox library conversion on generated folders.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <map>
#include <fstream>
#include <regex>
#include <sstream>

#include "TestUtil.h"
#include "convert/ConvertParadox.h"
#include "core/FormatSettings.h"
#include "librarydb/Absmain.h"
#include "librarydb/Layouts.h"
#include "librarydb/OVLibConst.h"
#include "pxwriter/PxWriter.h"

namespace vez {
namespace {

namespace fs = std::filesystem;
using pxw::Writer;
using ::testing::HasSubstr;

// An emission-library table in Paradox form: fields named as in the library layout, plus "Extra", which the
// layout lacks. `names` are the element names in code page 1252.
void WriteEmis(const std::string& path, const std::vector<std::string>& names, std::uint16_t codePage = 1252) {
  std::vector<pxw::Field> fields = {{"Eintrag", 22, 4}, {"ElementName", 1, 80}, {"Values1", 6, 8},
                                    {"Values0", 6, 8},  {"Extra", 4, 4},        {"Kommentar", 12, 11}};
  pxw::TableOptions options;
  options.CodePage = codePage;
  Writer w(fields, options);
  int nr = 0;
  for (const auto& name : names) {
    ++nr;
    w.AddRecord({Writer::Long(nr * 10), Writer::Char(name, 80), Writer::Number(80.5 + nr), Writer::Number(90.0),
                 Writer::Long(nr), w.Blob("Comment " + std::to_string(nr), 11)});
  }
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
void WritePlain(const std::string& path, int records, std::uint8_t secondType = 6) {
  Writer w({{"Name", 1, 20}, {"Wert", secondType, secondType == 6 ? std::uint8_t{8} : std::uint8_t{4}}});
  for (int r = 0; r < records; ++r)
    w.AddRecord({Writer::Char("row" + std::to_string(r), 20),
                 secondType == 6 ? Writer::Number(r * 1.5) : Writer::Long(r)});
  w.Write(path);
}

// Records the view calls that tests look at.
class RecordingView : public TConversionView {
public:
  void ShowMessage(const std::string& text) override { messages.push_back(text); }
  void RunStarted(std::int32_t total) override { totalTables = total; }
  void TableStarted(std::int32_t index, std::int32_t, const std::string& source) override {
    started.push_back(std::to_string(index) + ":" + fs::path(source).filename().string());
  }
  void SetBusy(bool busy) override { busyCalls.push_back(busy); }
  std::vector<std::string> messages, started;
  std::vector<bool> busyCalls;
  std::int32_t totalTables = -1;
};

class ConvertParadox : public ::testing::Test {
protected:
  std::string Dir() const { return dir_.Path().string() + "/"; }
  std::string Path(const std::string& name) const { return Dir() + name; }
  bool Has(const std::string& name) const { return fs::exists(Path(name)); }

  // Converts the folder and gives the lines of this run's log (the whole "Convert.log").
  std::vector<std::string> Convert(bool recursive = false, bool deleteOld = false) {
    ConvertParadoxFiles(Dir(), recursive, deleteOld, &view_, &summary_);
    return test::SplitLines(test::ReadFile(Path("Convert.log")));
  }

  std::int32_t CountRecords(const std::string& file) {
    TMyTable lib(Path(file), true, false);
    lib.Table().Open();
    return lib.Table().RecordCount();
  }

  test::TempDir dir_;
  RecordingView view_;
  TConversionSummary summary_;
};

TEST_F(ConvertParadox, EmissionTableWithItsLayout) {
  WriteEmis(Path("emis.db"), {"Stra\xdf" "e", "M\xfchle"});
  TConvertLog memo;
  TConvertedTable report;
  ASSERT_TRUE(ParadoxToABS(&memo, nullptr, Dir(), Dir(), "emis.db", "emis.abs", &report));
  EXPECT_EQ((std::vector<std::string>{"Converting: \"" + Path("emis.db") + "\"", "Field not found \"Extra\""}),
            memo.Lines().ToVector());
  EXPECT_EQ(ltEmis, report.LibType);
  EXPECT_EQ(2, report.RecordsRead);
  EXPECT_EQ(2, report.RecordsWritten);

  TMyTable lib(Path("emis.abs"), true, false);
  TABSTable& t = lib.Table();
  t.Open();
  ASSERT_EQ(2, t.RecordCount());
  EXPECT_EQ(LibraryLayout(ltEmis)->Fields.size(), static_cast<std::size_t>(t.FieldCount()));
  t.First();
  // Record numbers are kept, text arrives as UTF-8, values and memo contents are copied.
  EXPECT_EQ(10, t.FieldByName("Eintrag").AsInteger());
  EXPECT_EQ("Stra\xC3\x9F" "e", t.FieldByName("ElementName").AsString());
  EXPECT_DOUBLE_EQ(81.5, t.FieldByName("Values1").AsFloat());
  EXPECT_EQ("Comment 1", t.FieldByName("Kommentar").AsString());
  t.Next();
  EXPECT_EQ(20, t.FieldByName("Eintrag").AsInteger());
  EXPECT_EQ("M\xC3\xBChle", t.FieldByName("ElementName").AsString());
}

TEST_F(ConvertParadox, Codepage850TextArrivesIntact) {
  WriteEmis(Path("emis.db"), {"\x8E" "rger \x84"}, 850);  // "Ärger ä" in code page 850
  ASSERT_TRUE(ParadoxToABS(nullptr, nullptr, Dir(), Dir(), "emis.db", "emis.abs"));
  TMyTable lib(Path("emis.abs"), true, false);
  lib.Table().Open();
  EXPECT_EQ("\xC3\x84rger \xC3\xA4", lib.Table().FieldByName("ElementName").AsString());
}

TEST_F(ConvertParadox, ConvertedLibraryIsAPlainSqliteFile) {
  WriteEmis(Path("emis.db"), {"a", "b", "c"});
  ASSERT_TRUE(ParadoxToABS(nullptr, nullptr, Dir(), Dir(), "emis.db", "emis.abs"));
  sqlite3* db = nullptr;
  ASSERT_EQ(SQLITE_OK, sqlite3_open_v2(Path("emis.abs").c_str(), &db, SQLITE_OPEN_READONLY, nullptr));
  sqlite3_stmt* st = nullptr;
  ASSERT_EQ(SQLITE_OK,
            sqlite3_prepare_v2(db, "SELECT \"ElementName\", \"Eintrag\" FROM \"emis.abs\" ORDER BY 2", -1, &st, nullptr));
  std::vector<std::string> names;
  while (sqlite3_step(st) == SQLITE_ROW) names.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)));
  sqlite3_finalize(st);
  sqlite3_close(db);
  EXPECT_EQ((std::vector<std::string>{"a", "b", "c"}), names);
}

TEST_F(ConvertParadox, FailingPostDropsTheRecordAlone) {
  // The element name index is unique without regard to case: the second "Quelle" cannot be posted.
  WriteEmis(Path("emis.db"), {"Quelle", "QUELLE", "Andere"});
  TConvertLog memo;
  TConvertedTable report;
  ASSERT_TRUE(ParadoxToABS(&memo, nullptr, Dir(), Dir(), "emis.db", "emis.abs", &report));
  EXPECT_EQ(3, report.RecordsRead);
  EXPECT_EQ(2, report.RecordsWritten);
  EXPECT_EQ(1, report.Errors);
  ASSERT_EQ(3, memo.Lines().Count());
  EXPECT_THAT(memo.Lines()[2], ::testing::StartsWith("Error: \""));
  EXPECT_THAT(memo.Lines()[2], ::testing::EndsWith("\""));
  EXPECT_EQ(2, CountRecords("emis.abs"));
}

TEST_F(ConvertParadox, UnknownNamesNoRecordsAndRunTables) {
  WritePlain(Path("Unknown.db"), 3);
  TConvertLog memo;
  EXPECT_FALSE(ParadoxToABS(&memo, nullptr, Dir(), Dir(), "Unknown.db", "Unknown.abs"));
  EXPECT_EQ("Unknown Database Type", memo.Lines()[1]);
  EXPECT_FALSE(Has("Unknown.abs"));

  // No records: no library file at all.
  WriteEmis(Path("emis.db"), {});
  EXPECT_FALSE(ParadoxToABS(nullptr, nullptr, Dir(), Dir(), "emis.db", "emis.abs"));
  EXPECT_FALSE(Has("emis.abs"));

  // A run table takes its fields from the Paradox file and its indexes from its type.
  WriteRun(Path("X.run"), 4);
  TConvertedTable report;
  ASSERT_TRUE(ParadoxToABS(nullptr, nullptr, Dir(), Dir(), "X.run", "X.runx", &report));
  EXPECT_EQ(80, report.LibType);
  TMyTable lib(Path("X.runx"), true, false);
  lib.Table().Open();
  EXPECT_EQ(4, lib.Table().RecordCount());
  EXPECT_EQ(ftString, lib.Table().FieldByName("Name").DataType());
  EXPECT_EQ(20, lib.Table().FieldByName("Name").Size());
  EXPECT_EQ(ftInteger, lib.Table().FieldByName("No").DataType());
  EXPECT_EQ(ftFloat, lib.Table().FieldByName("Wert").DataType());
  lib.Table().Last();
  EXPECT_DOUBLE_EQ(4.5, lib.Table().FieldByName("Wert").AsFloat());
  EXPECT_EQ(LibraryIndexLayout(80)->size(), static_cast<std::size_t>(lib.Table().IndexDefs().Count()));
}

TEST_F(ConvertParadox, ExistingLibraryWithEmptyParadoxTableIsOpenedOnly) {
  WriteEmis(Path("emis.db"), {"one"});
  ASSERT_TRUE(ParadoxToABS(nullptr, nullptr, Dir(), Dir(), "emis.db", "emis.abs"));
  WriteEmis(Path("emis.db"), {});
  EXPECT_TRUE(ParadoxToABS(nullptr, nullptr, Dir(), Dir(), "emis.db", "emis.abs"));
  EXPECT_EQ(1, CountRecords("emis.abs"));
}

TEST_F(ConvertParadox, UnknownParadoxFieldTypeStopsTheTable) {
  // 0x19 is a type the conversion has no column type for.
  Writer w({{"Name", 1, 10}, {"Odd", 0x19, 4}});
  w.AddRecord({Writer::Char("a", 10), Writer::Long(1)});
  w.Write(Path("Y.run"));
  TConvertLog memo;
  EXPECT_FALSE(ParadoxToABS(&memo, nullptr, Dir(), Dir(), "Y.run", "Y.runx"));
  ASSERT_EQ(2, memo.Lines().Count());
  EXPECT_THAT(memo.Lines()[1], ::testing::StartsWith("Error: \""));
  EXPECT_FALSE(Has("Y.runx"));
}

TEST_F(ConvertParadox, FolderRunLogPassesAndRecursion) {
  WriteEmis(Path("emis.db"), {"e1"});
  WriteRun(Path("X.run"), 2);
  WritePlain(Path("Thumbs.db"), 1);
  WritePlain(Path("Nolib.db"), 1);
  fs::create_directory(Path("sub"));
  WriteEmis(Path("sub/emis.db"), {"s1"});

  const auto log = Convert(/*recursive=*/false);
  ASSERT_GE(log.size(), 9u);
  EXPECT_TRUE(std::regex_match(log[0], std::regex(R"(.+ \S+ [0-9.]+/.*: Converting Paradox Tables)"))) << log[0];
  const std::string separator(75, '-');
  EXPECT_EQ(separator, log[1]);
  EXPECT_EQ("Converting Folder \"" + Dir() + "\"", log[2]);
  // The run pass comes first, then the ".db" tables in name order; Thumbs.db is never converted.
  EXPECT_EQ("Converting: \"" + Path("X.run") + "\"", log[3]);
  EXPECT_EQ("Converting: \"" + Path("emis.db") + "\"", log[4]);
  EXPECT_EQ("Field not found \"Extra\"", log[5]);
  EXPECT_EQ("Converting: \"" + Path("Nolib.db") + "\"", log[6]);
  EXPECT_EQ("Unknown Database Type", log[7]);
  EXPECT_EQ(separator, log[8]);
  EXPECT_EQ("", log.back());
  EXPECT_TRUE(Has("emis.abs"));
  EXPECT_TRUE(Has("X.runx"));
  EXPECT_FALSE(Has("Thumbs.abs"));
  EXPECT_FALSE(Has("sub/emis.abs"));
  EXPECT_EQ(3, view_.totalTables);  // X.run, emis.db, Nolib.db, with Thumbs.db skipped at conversion time
  EXPECT_EQ((std::vector<bool>{true, false}), view_.busyCalls);
  EXPECT_EQ(0, summary_.ErrorLines);  // a table that is no library is not an error

  ConvertParadoxFiles(Dir(), /*recursive=*/true, false, &view_, &summary_);
  EXPECT_TRUE(Has("sub/emis.abs"));
  EXPECT_EQ(1, CountRecords("sub/emis.abs"));
}

TEST_F(ConvertParadox, DeleteOldRemovesConvertedTablesWithCompanions) {
  WriteEmis(Path("emis.db"), {"e1"});
  for (const char* ext : {".px", ".val", ".xg0", ".yg9", ".x05", ".y01"})
    std::ofstream(Path(std::string("emis") + ext)) << "x";
  WritePlain(Path("Thumbs.db"), 1);
  WritePlain(Path("Nolib.db"), 1);
  ASSERT_TRUE(Has("emis.mb"));

  const auto log = Convert(false, /*deleteOld=*/true);
  for (const char* gone : {"emis.db", "emis.mb", "emis.px", "emis.val", "emis.xg0", "emis.yg9", "emis.x05",
                           "emis.y01", "Thumbs.db"})
    EXPECT_FALSE(Has(gone)) << gone;
  EXPECT_TRUE(Has("emis.abs"));
  EXPECT_TRUE(Has("Nolib.db"));  // not converted: kept
  // The delete list: the never-converted names first (missing ones skipped silently), then the converted.
  std::vector<std::string> deleting;
  for (const auto& line : log)
    if (line.rfind("Deleting ", 0) == 0) deleting.push_back(line);
  ASSERT_EQ(6u, deleting.size());
  EXPECT_EQ("Deleting \"" + Path("TmpRun.db") + "\"", deleting[0]);
  EXPECT_EQ("Deleting \"" + Path("Thumbs.db") + "\"", deleting[2]);
  EXPECT_EQ("Deleting \"" + Path("emis.db") + "\"", deleting[5]);
}

TEST_F(ConvertParadox, RepeatedRunAppendsToTheLogAndSkipsExistingLibraries) {
  WriteEmis(Path("emis.db"), {"e1", "e2"});
  WriteRun(Path("X.run"), 3);
  Convert();
  const auto log = Convert();
  int headers = 0;
  for (const auto& line : log)
    if (line.find(": Converting Paradox Tables") != std::string::npos) ++headers;
  EXPECT_EQ(2, headers);
  // Nothing is appended a second time, not even to the run table whose primary index allows duplicates.
  EXPECT_EQ(2, CountRecords("emis.abs"));
  EXPECT_EQ(3, CountRecords("X.runx"));
  EXPECT_EQ(0, summary_.ErrorLines);
  for (const auto& t : summary_.Tables) {
    if (t.LibType < 0) continue;
    EXPECT_EQ(TTableOutcome::Skipped, t.Outcome) << t.Source;
    EXPECT_EQ(0, t.RecordsWritten);
  }
  EXPECT_THAT(log, ::testing::Contains("Library exists already: \"" + Path("X.runx") +
                                       "\" (3 records), not converted again"));
}

// A folder of old libraries as DOS left them: upper-case names, companions in any case.
TEST_F(ConvertParadox, UpperCaseNamesAreFoundAndDeletedWithTheirCompanions) {
  WriteEmis(Path("EMIS.DB"), {"e1", "e2"});
  for (const char* companion : {"EMIS.PX", "EMIS.XG0", "emis.Yg1"}) std::ofstream(Path(companion)) << "x";
  WritePlain(Path("THUMBS.DB"), 1);
  ASSERT_TRUE(Has("EMIS.mb"));
  Convert(false, /*deleteOld=*/true);
  for (const char* gone : {"EMIS.DB", "EMIS.mb", "EMIS.PX", "EMIS.XG0", "emis.Yg1", "THUMBS.DB"})
    EXPECT_FALSE(Has(gone)) << gone;
  ASSERT_TRUE(Has("EMIS.abs"));
  // The library's own look-ups find it under its registered name.
  EXPECT_EQ(2, CountRecords("emis.abs"));
  EXPECT_EQ(2, CountRecords(LibName(ltEmis)));
}

// After --delete-old, every table that is gone has all its records in the library, and a second run changes
// nothing: the property over a folder with every kind of trouble.
TEST_F(ConvertParadox, DeleteOldDeletesOnlyCompleteTables) {
  WriteEmis(Path("emis.db"), {"Quelle", "QUELLE", "Andere"});  // one Post fails
  WriteRun(Path("A.run"), 300);
  WriteRun(Path("B.run"), 300);
  WriteRun(Path("C.run"), 2);
  WriteRun(Path("D.run"), 0);
  WriteRun(Path("E.run"), 2);
  {
    // E.run marked encrypted (checksum and encryption words set), and no password given.
    std::string e = test::ReadFile(Path("E.run"));
    for (std::size_t at : {0x25u, 0x40u, 0x44u}) e[at] = 0x5A;
    std::ofstream(Path("E.run"), std::ios::binary | std::ios::trunc) << e;
    // B.run cut after its second block: the header still counts 300 records.
    const std::string bytes = test::ReadFile(Path("B.run"));
    std::ofstream(Path("B.run"), std::ios::binary | std::ios::trunc) << bytes.substr(0, 2048 + 2 * 4096);
    // C.run unreadable: a block size of 0.
    std::string c = test::ReadFile(Path("C.run"));
    c[5] = 0;
    std::ofstream(Path("C.run"), std::ios::binary | std::ios::trunc) << c;
  }
  std::map<std::string, std::int32_t> headerCounts = {{"emis.db", 3}, {"A.run", 300}, {"B.run", 300},
                                                      {"C.run", 2}, {"D.run", 0}, {"E.run", 2}};
  const auto log = Convert(false, /*deleteOld=*/true);
  EXPECT_TRUE(Has("emis.db"));
  EXPECT_FALSE(Has("A.run"));
  EXPECT_TRUE(Has("B.run"));
  EXPECT_TRUE(Has("C.run"));
  EXPECT_TRUE(Has("D.run"));
  EXPECT_TRUE(Has("E.run"));
  std::map<std::string, TTableOutcome> outcomes;
  for (const auto& t : summary_.Tables) outcomes[fs::path(t.Source).filename().string()] = t.Outcome;
  EXPECT_EQ(TTableOutcome::Incomplete, outcomes["emis.db"]);
  EXPECT_EQ(TTableOutcome::Converted, outcomes["A.run"]);
  EXPECT_EQ(TTableOutcome::Incomplete, outcomes["B.run"]);
  EXPECT_EQ(TTableOutcome::Unreadable, outcomes["C.run"]);
  EXPECT_EQ(TTableOutcome::NoRecords, outcomes["D.run"]);
  EXPECT_EQ(TTableOutcome::Encrypted, outcomes["E.run"]);
  EXPECT_THAT(log, ::testing::Contains(::testing::StartsWith("Keeping \"" + Path("B.run") + "\": ")));
  EXPECT_THAT(log, ::testing::Contains(::testing::StartsWith("Error: \"Only ")));
  for (const auto& [name, count] : headerCounts) {
    if (!Has(name)) {
      EXPECT_EQ(count, CountRecords(ChangeFileExt(name, name.ends_with(".run") ? ".runx" : ".abs")));
    }
  }

  // The second run changes no library and deletes nothing more.
  const std::int32_t emisRecords = CountRecords("emis.abs");
  const std::int32_t bRecords = CountRecords("B.runx");
  Convert(false, true);
  EXPECT_TRUE(Has("emis.db"));
  EXPECT_TRUE(Has("B.run"));
  EXPECT_EQ(emisRecords, CountRecords("emis.abs"));
  EXPECT_EQ(bRecords, CountRecords("B.runx"));
  EXPECT_EQ(300, CountRecords("A.runx"));
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
  if (Has("big.runx")) {
    EXPECT_EQ(0, CountRecords("big.runx"));
  }
}

TEST_F(ConvertParadox, TextCutIsCountedAndNoFieldInLayoutIsReported) {
  Writer w({{"Eintrag", 22, 4}, {"ElementName", 1, 120}});
  w.AddRecord({Writer::Long(1), Writer::Char(std::string(100, 'x'), 120)});
  w.AddRecord({Writer::Long(2), Writer::Char("short", 120)});
  w.Write(Path("emis.db"));
  TConvertLog memo;
  TConvertedTable report;
  ASSERT_TRUE(ParadoxToABS(&memo, nullptr, Dir(), Dir(), "emis.db", "emis.abs", &report));
  EXPECT_EQ(1, report.TextCut);
  EXPECT_THAT(memo.Lines().ToVector(), ::testing::Contains("Text cut to the field size: 1 values"));

  Writer other({{"Foo", 1, 10}, {"Bar", 4, 4}});
  other.AddRecord({Writer::Char("a", 10), Writer::Long(1)});
  other.Write(Path("Absor.db"));
  TConvertLog memo2;
  EXPECT_FALSE(ParadoxToABS(&memo2, nullptr, Dir(), Dir(), "Absor.db", "Absor.abs", &report));
  EXPECT_EQ(TTableOutcome::NoFieldInLayout, report.Outcome);
  EXPECT_FALSE(Has("Absor.abs"));
}

TEST_F(ConvertParadox, ColumnTypesWithoutLayoutAndTextStaysUtf8) {
  // A run table has no field layout: a Currency field keeps its type, formatted memo bytes go to a BLOB.
  Writer w({{"No", 4, 4}, {"Name", 1, 4}, {"Calc", 1, 4}, {"CalcType", 1, 4}, {"Results", 1, 4},
            {"Preis", 5, 8}, {"Notiz", 14, 11}});
  const std::string c = Writer::Char("c", 4);
  w.AddRecord({Writer::Long(1), c, c, c, c, Writer::Number(12.5), w.Blob(std::string("\xff\xfe{rtf}\x80", 8), 11)});
  w.Write(Path("X.run"));
  TConvertLog memo;
  ASSERT_TRUE(ParadoxToABS(&memo, nullptr, Dir(), Dir(), "X.run", "X.runx")) << memo.Text();
  TMyTable lib(Path("X.runx"), true, false);
  lib.Table().Open();
  EXPECT_EQ(ftCurrency, lib.Table().FieldByName("Preis").DataType());
  EXPECT_DOUBLE_EQ(12.5, lib.Table().FieldByName("Preis").AsFloat());
  lib.Table().Close();
  sqlite3* db = nullptr;
  ASSERT_EQ(SQLITE_OK, sqlite3_open_v2(Path("X.runx").c_str(), &db, SQLITE_OPEN_READONLY, nullptr));
  sqlite3_stmt* st = nullptr;
  ASSERT_EQ(SQLITE_OK, sqlite3_prepare_v2(db, "SELECT typeof(\"Notiz\") FROM \"X.runx\"", -1, &st, nullptr));
  ASSERT_EQ(SQLITE_ROW, sqlite3_step(st));
  EXPECT_STREQ("blob", reinterpret_cast<const char*>(sqlite3_column_text(st, 0)));
  sqlite3_finalize(st);
  sqlite3_close(db);
}

TEST_F(ConvertParadox, SymbolicLinkLoopIsNotFollowed) {
  fs::create_directory(Path("sub"));
  WriteRun(Path("sub/X.run"), 2);
  fs::create_directory_symlink("..", Path("sub/loop"));
  Convert(/*recursive=*/true);
  ASSERT_EQ(1u, summary_.Tables.size());
  EXPECT_EQ(2, CountRecords("sub/X.runx"));
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

TEST_F(ConvertParadox, MissingFolderIsAWalkError) {
  const std::string missing = Path("nowhere");
  ConvertParadoxFiles(missing, false, true, &view_, &summary_);
  EXPECT_THAT(summary_.ErrorText, ::testing::StartsWith("Error: "));
  ASSERT_EQ(2u, view_.messages.size());  // the log cannot be written, then the walk error
  EXPECT_THAT(view_.messages[0], ::testing::StartsWith("Error writing to " + missing + "/Convert.log\r\n"));
  EXPECT_EQ(summary_.ErrorText, view_.messages[1]);
}

}  // namespace
}  // namespace vez
