// The vezi library commands end to end: the real executable, its output and its exit codes.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "TestUtil.h"
#include "VeziRunner.h"
#include "librarydb/OVLibConst.h"

namespace vez {
namespace {

using test::TempDir;

using test::RunResult;
using test::SplitLines;

RunResult Vezi(const std::vector<std::string>& args) { return test::RunProgram(VEZI_EXECUTABLE, args); }

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST(VeziLibraryLibType, NamesAndExitCodes) {
  // Which name is which type is the registry's business; here the lines and the exit codes.
  const auto known = Vezi({"libtype", "some/folder/RREC0001.abs", "run.runx"});
  EXPECT_EQ(0, known.exitCode) << known.err;
  EXPECT_EQ((std::vector<std::string>{"some/folder/RREC0001.abs: 41 ltRREC", "run.runx: 80 ltRunx"}),
            SplitLines(known.out));

  const auto mixed = Vezi({"libtype", "notes.txt", "TNMVeh.abs"});
  EXPECT_EQ(1, mixed.exitCode);
  EXPECT_EQ((std::vector<std::string>{"notes.txt: not a library file", "TNMVeh.abs: 26 ltTNMVeh"}),
            SplitLines(mixed.out));

  EXPECT_EQ(2, Vezi({"libtype"}).exitCode);
}

TEST(VeziLibraryHelp, EveryCommandHasHelp) {
  for (const char* command : {"libtype", "create", "info", "dump", "settings", "version", "convert"}) {
    const auto r = Vezi({command, "--help"});
    EXPECT_EQ(0, r.exitCode) << command;
    EXPECT_TRUE(Contains(r.out, "Usage")) << command << ": " << r.out;
  }
}

TEST(VeziLibraryCreate, ByNameOrCodeThenInfo) {
  TempDir dir;
  const auto created = Vezi({"create", "lttnmveh", dir.Path().string()});
  ASSERT_EQ(0, created.exitCode) << created.err;
  EXPECT_EQ(dir.File("TNMVeh.abs") + "\n", created.out);

  const auto info = Vezi({"info", dir.File("TNMVeh.abs")});
  ASSERT_EQ(0, info.exitCode) << info.err;
  EXPECT_TRUE(Contains(info.out, "Type: 26 ltTNMVeh\n"));
  EXPECT_TRUE(Contains(info.out, "Table: TNMVeh.abs\n"));
  EXPECT_TRUE(Contains(info.out, "Layout: advanced\n"));
  EXPECT_TRUE(Contains(info.out, "Fields: 182\n"));
  EXPECT_TRUE(Contains(info.out, "Indexes: 2\n"));
  EXPECT_TRUE(Contains(info.out, "  p  Eintrag  primary\n"));
  EXPECT_TRUE(Contains(info.out, "  EN  ElementName  unique,case-insensitive\n"));
  EXPECT_TRUE(Contains(info.out, "Records: 0\n"));
  // One line per field, in layout order, with type, size and required flag.
  const auto lines = SplitLines(info.out);
  const auto first = std::find(lines.begin(), lines.end(), "Fields: 182");
  const auto last = std::find(lines.begin(), lines.end(), "Indexes: 2");
  ASSERT_LT(first, last);
  EXPECT_EQ(182 + 2, last - first);  // the count line, the heading line, one line per field
  std::vector<std::string> fieldLines;
  for (auto it = first; it != last; ++it) {
    const std::string& line = *it;
    if (Contains(line, "A(FTNo,PTAvg)") || Contains(line, "Q(FTYes,PTPCC)") || Contains(line, " ElementName ")) {
      fieldLines.push_back(line);
    }
  }
  ASSERT_EQ(3u, fieldLines.size());
  EXPECT_TRUE(Contains(fieldLines[0], "   2  ElementName")) << fieldLines[0];
  EXPECT_TRUE(Contains(fieldLines[0], "text")) << fieldLines[0];
  EXPECT_TRUE(Contains(fieldLines[1], "   4  A(FTNo,PTAvg)")) << fieldLines[1];
  EXPECT_TRUE(Contains(fieldLines[2], " 179  Q(FTYes,PTPCC)")) << fieldLines[2];

  // Numeric type, classic layout.
  const auto byCode = Vezi({"create", "4", dir.Path().string()});
  ASSERT_EQ(0, byCode.exitCode) << byCode.err;
  const auto assess = Vezi({"info", dir.File("Assess.abs")});
  EXPECT_TRUE(Contains(assess.out, "Layout: classic\n"));
  EXPECT_TRUE(Contains(assess.out, "ftAutoInc")) << assess.out;
}

TEST(VeziLibraryCreate, Failures) {
  TempDir dir;
  const std::string folder = dir.Path().string();
  struct Case {
    std::vector<std::string> args;
    int exitCode;
    const char* message;
  };
  const Case cases[] = {
      {{"create", "ltNoSuchType", folder}, 2, "unknown library type 'ltNoSuchType'"},
      {{"create", "18", folder}, 2, "unknown library type '18'"},
      {{"create", "104", folder}, 2, "unknown library type '104'"},
      {{"create", "ltRREC", folder}, 1, "has no table layout"},
      {{"create", "ltEmis", dir.File("missing")}, 1, "folder does not exist"},
      {{"create", "ltEmis"}, 2, "FOLDER"},
  };
  for (const Case& c : cases) {
    const auto r = Vezi(c.args);
    EXPECT_EQ(c.exitCode, r.exitCode) << c.args[1];
    EXPECT_TRUE(Contains(r.err, c.message)) << r.err;
  }
  EXPECT_TRUE(std::filesystem::is_empty(dir.Path()));

  ASSERT_EQ(0, Vezi({"create", "ltEmis", folder}).exitCode);
  const auto again = Vezi({"create", "ltEmis", folder, "--with-defaults"});
  EXPECT_EQ(1, again.exitCode);
  EXPECT_TRUE(Contains(again.err, "already exists"));
  // The first library is untouched: still empty.
  EXPECT_TRUE(Contains(Vezi({"info", dir.File("emis.abs")}).out, "Records: 0\n"));
}

TEST(VeziLibraryDump, CsvAndJsonOfDefaults) {
  TempDir dir;
  ASSERT_EQ(0, Vezi({"create", "ltWind", dir.Path().string(), "--with-defaults"}).exitCode);
  const std::string lib = dir.File("Wind.abs");

  const auto csv = Vezi({"dump", lib});
  ASSERT_EQ(0, csv.exitCode) << csv.err;
  const auto lines = SplitLines(csv.out);
  ASSERT_EQ(2u, lines.size());
  EXPECT_EQ(0u, lines[0].rfind("Eintrag,ElementName,Percentage0,Percentage1,", 0));
  EXPECT_TRUE(Contains(lines[0], ",C012,Kommentar,LastChangeDateTime"));
  // Key 1, no name (NULL: empty field), Percentage0 100, the rest 0, no comment, a date-time in ISO form.
  EXPECT_EQ(0u, lines[1].rfind("1,,100,0,0,", 0)) << lines[1];
  const std::string tail = lines[1].substr(lines[1].rfind(',', lines[1].size() - 1));
  // ",yyyy-mm-ddThh:nn:ss" with or without ".zzz"
  EXPECT_TRUE(tail.size() == 20u || tail.size() == 24u) << tail;
  EXPECT_EQ('T', tail[11]) << tail;

  const auto json = Vezi({"dump", lib, "--format", "json"});
  ASSERT_EQ(0, json.exitCode) << json.err;
  EXPECT_EQ(0u, json.out.rfind("[\n  {\"Eintrag\": 1, \"ElementName\": null, \"Percentage0\": 100, ", 0)) << json.out;
  EXPECT_TRUE(Contains(json.out, "\"Kommentar\": null, \"LastChangeDateTime\": \""));
  EXPECT_EQ("}\n]\n", json.out.substr(json.out.size() - 4));

  const auto none = Vezi({"dump", lib, "--limit", "0", "--format", "json"});
  EXPECT_EQ("[]\n", none.out);
  const auto header = Vezi({"dump", lib, "--limit", "0"});
  EXPECT_EQ(1u, SplitLines(header.out).size());
}

TEST(VeziLibraryDump, QuotingBlobsAndLimit) {
  TempDir dir;
  ASSERT_EQ(0, Vezi({"create", "ltRiwi3d", dir.Path().string(), "--with-defaults", "--name", "unused"}).exitCode);
  const std::string lib = dir.File("Riwi3d.abs");
  {
    TMyTable t(lib, false);
    t.Table().Open();
    t.Table().First();
    t.Table().Edit();
    t.Table().FieldByName("ElementName").SetAsString("Fan, \"big\"");
    t.Table().FieldByName("Kommentar").SetAsString("line 1\nline 2");
    t.Table().Post();
    t.Table().Append();
    OnNewRecord(t.Table(), ltRiwi3d, true);
    t.Table().FieldByName("ElementName").SetAsString("second");
    t.Table().Post();
    t.Table().Close();
  }
  const auto csv = Vezi({"dump", lib});
  ASSERT_EQ(0, csv.exitCode) << csv.err;
  EXPECT_TRUE(Contains(csv.out, "1,\"Fan, \"\"big\"\"\",-199,")) << csv.out.substr(0, 80);
  EXPECT_TRUE(Contains(csv.out, ",\"line 1\nline 2\","));
  // 2736 zero bytes are 3648 base64 "A"s.
  EXPECT_TRUE(Contains(csv.out, "," + std::string(3648, 'A') + ","));
  EXPECT_FALSE(Contains(csv.out, std::string(3649, 'A')));

  const auto json = Vezi({"dump", lib, "--format", "json", "--limit", "1"});
  ASSERT_EQ(0, json.exitCode);
  EXPECT_TRUE(Contains(json.out, "\"ElementName\": \"Fan, \\\"big\\\"\""));
  EXPECT_TRUE(Contains(json.out, "\"Kommentar\": \"line 1\\nline 2\""));
  EXPECT_TRUE(Contains(json.out, "\"Komplett\": false"));
  EXPECT_FALSE(Contains(json.out, "second"));

  const auto limited = Vezi({"dump", lib, "--limit", "1"});
  EXPECT_EQ(3u, SplitLines(limited.out).size());  // header, the record with its two-line comment
}

TEST(VeziLibraryDump, Failures) {
  TempDir dir;
  EXPECT_EQ(1, Vezi({"dump", dir.File("emis.abs")}).exitCode);
  EXPECT_EQ(1, Vezi({"info", dir.File("emis.abs")}).exitCode);
  ASSERT_EQ(0, Vezi({"create", "ltEmis", dir.Path().string()}).exitCode);
  EXPECT_EQ(2, Vezi({"dump", dir.File("emis.abs"), "--format", "xml"}).exitCode);
  EXPECT_EQ(2, Vezi({"dump", dir.File("emis.abs"), "--limit", "-3"}).exitCode);
  // A file that is not a library is reported, and left in place.
  const std::string text = dir.File("notes.abs");
  std::ofstream(text) << "not a database";
  const auto r = Vezi({"info", text});
  EXPECT_EQ(1, r.exitCode);
  EXPECT_FALSE(r.err.empty());
  EXPECT_TRUE(std::filesystem::exists(text));
}

TEST(VeziLibraryParadox, InfoAndDumpDispatchOnTheExtension) {
  const std::string table = test::DataPath("paradox/generated/alltypes.db");
  const auto info = Vezi({"info", table});
  ASSERT_EQ(0, info.exitCode) << info.err;
  EXPECT_EQ(0u, info.out.rfind("File: " + table + "\nType: - (not a library file name)\nLayout: Paradox\n", 0))
      << info.out;

  const auto csv = Vezi({"dump", table});
  ASSERT_EQ(0, csv.exitCode) << csv.err;
  EXPECT_GE(SplitLines(csv.out).size(), 2u);
  const auto json = Vezi({"dump", table, "--format", "json"});
  ASSERT_EQ(0, json.exitCode) << json.err;
  EXPECT_EQ('[', json.out.front());  // the same conventions as for libraries

  const auto limited = Vezi({"dump", table, "--limit", "1"});
  EXPECT_EQ(0, limited.exitCode) << limited.err;
  EXPECT_EQ(2u, SplitLines(limited.out).size());

  // The cells format in raw text is the reference cell file, byte for byte.
  const auto cells = Vezi({"dump", test::DataPath("paradox/paradoxdriver/CUSTOMER.DB"), "--format", "cells",
                           "--raw-text"});
  ASSERT_EQ(0, cells.exitCode) << cells.err;
  EXPECT_EQ(test::ReadFile(test::DataPath("paradox/paradoxdriver/CUSTOMER.DB.cells.txt")), cells.out);
  EXPECT_EQ(1, Vezi({"dump", "--format", "cells", test::DataPath("layouts/expected_layouts.txt")}).exitCode);

  TempDir dir;
  EXPECT_EQ(1, Vezi({"info", dir.File("emis.db")}).exitCode);
  // A Paradox table is reported with the library type it becomes when converted.
  std::filesystem::copy_file(table, dir.File("emis.db"));
  std::filesystem::copy_file(test::DataPath("paradox/generated/alltypes.mb"), dir.File("emis.mb"));
  const auto emis = Vezi({"info", dir.File("emis.db")});
  EXPECT_EQ(0, emis.exitCode) << emis.err;
  EXPECT_TRUE(Contains(emis.out, "\nType: 0 ltEmis\n")) << emis.out;
}

// Copies a file, keeping at most `keep` bytes.
void CopyCut(const std::string& from, const std::string& to, std::size_t keep = std::string::npos) {
  std::ifstream in(from, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::ofstream(to, std::ios::binary) << bytes.substr(0, keep);
}

TEST(VeziLibraryParadox, EncryptedTableTakesItsPassword) {
  const std::string table = test::DataPath("paradox/generated/multiblock_enc.db");
  const auto right = Vezi({"dump", table, "--password", "vez-secret"});
  ASSERT_EQ(0, right.exitCode) << right.err;
  EXPECT_EQ(1001u, SplitLines(right.out).size());
  EXPECT_EQ(Vezi({"dump", test::DataPath("paradox/generated/multiblock.db")}).out, right.out);
  const auto info = Vezi({"info", table, "--password", "vez-secret"});
  EXPECT_EQ(0, info.exitCode) << info.err;
  EXPECT_TRUE(Contains(info.out, "\nEncrypted: yes\n")) << info.out;
  const std::pair<std::vector<std::string>, std::string> refused[] = {
      {{"dump", table}, "No password was given."},
      {{"info", table}, "No password was given."},
      {{"dump", table, "--password", "vez"}, "The password given is wrong."},
  };
  for (const auto& [args, reason] : refused) {
    const auto r = Vezi(args);
    EXPECT_EQ(1, r.exitCode);
    EXPECT_EQ("vezi: " + table + ": This file is encrypted but valid password is not specified. " + reason + "\n",
              r.err);
  }
}

TEST(VeziLibraryParadox, DamagedTablesAreReadAsFarAsTheyGo) {
  TempDir dir;
  // multiblock: 2 KB header and blocks of 78 records; cut inside block 4 after 10 whole records.
  const std::string db = dir.File("cut.db");
  CopyCut(test::DataPath("paradox/generated/multiblock.db"), db, 2048 + 3 * 2048 + 6 + 10 * 26 + 5);
  const auto dump = Vezi({"dump", db});
  EXPECT_EQ(1, dump.exitCode);
  EXPECT_EQ(1u + 3 * 78 + 10, SplitLines(dump.out).size());
  EXPECT_TRUE(Contains(dump.err, "vezi: warning: " + db + ": the header promises 1000 records, the blocks hold 244\n"))
      << dump.err;
  const auto info = Vezi({"info", db});
  EXPECT_EQ(1, info.exitCode);
  EXPECT_TRUE(Contains(info.out, "\nRecords: 1000 (the blocks hold 244)\n")) << info.out;

  // A truncated ".mb": the BLOBs past its end are empty and named on stderr; the table is whole.
  CopyCut(test::DataPath("paradox/generated/alltypes.db"), dir.File("blobs.db"));
  CopyCut(test::DataPath("paradox/generated/alltypes.mb"), dir.File("blobs.mb"), 8192);
  const auto blobs = Vezi({"dump", dir.File("blobs.db"), "--format", "json"});
  EXPECT_EQ(0, blobs.exitCode) << blobs.err;
  EXPECT_TRUE(Contains(blobs.err, "lies past the end of the .mb file (8192 bytes); the value is left empty\n"))
      << blobs.err;
  EXPECT_EQ(SplitLines(Vezi({"dump", test::DataPath("paradox/generated/alltypes.db"), "--format", "json"}).out).size(),
            SplitLines(blobs.out).size());
}

TEST(VeziLibraryParadox, ContentDecidesTheReaderAndOldNamesHaveTypes) {
  TempDir dir;
  const std::string table = test::DataPath("paradox/generated/multiblock.db");
  for (const char* name : {"X.run", "X.sdb", "RREC0001.tdb"}) {
    CopyCut(table, dir.File(name));
    const auto info = Vezi({"info", dir.File(name)});
    EXPECT_EQ(0, info.exitCode) << name << info.err;
    EXPECT_TRUE(Contains(info.out, "\nLayout: Paradox\n")) << name;
  }
  CopyCut(test::DataPath("paradox/generated/alltypes.mb"), dir.File("X.mb"));
  std::string index;
  {
    std::ifstream in(table, std::ios::binary);
    index.assign((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    index[4] = 1;  // primary index
  }
  std::ofstream(dir.File("X.px"), std::ios::binary) << index;
  const std::pair<std::string, std::string> refused[] = {
      {dir.File("X.mb"), "' is the memo and BLOB companion (.mb) of a Paradox table, not a table; give its table "
                         "(.db) instead\n"},
      {dir.File("X.px"), "' is a Paradox index file (primary index .PX file), not a table; give its table (.db) "
                         "instead\n"},
  };
  for (const auto& [file, what] : refused) {
    const auto r = Vezi({"dump", file});
    EXPECT_EQ(1, r.exitCode);
    EXPECT_EQ("vezi: '" + file + what, r.err);
  }
  const auto types = Vezi({"libtype", "old/emis.db", "RREC0001.tdb", "X.run", "notes.db"});
  EXPECT_EQ(1, types.exitCode);
  EXPECT_EQ((std::vector<std::string>{"old/emis.db: 0 ltEmis", "RREC0001.tdb: 41 ltRREC", "X.run: 80 ltRunx",
                                      "notes.db: not a library file"}),
            SplitLines(types.out));
}

TEST(VeziLibraryParadox, BadOptionValuesAreUsageErrors) {
  const std::string table = test::DataPath("paradox/generated/multiblock.db");
  const std::vector<std::string> bad[] = {
      {"dump", table, "--limit", "abc"},          {"dump", table, "--limit", "1.5"},
      {"dump", table, "--limit", "-1"},           {"dump", table, "--limit", "99999999999999999999"},
      {"dump", table, "--limit", "0x10"},         {"dump", table, "--limit", " 3"},
      {"dump", table, "--limit", "2", "--format", "cells"}, {"dump", table, "--code-page", "4242"},
      {"info", table, "--code-page", "-5"},
  };
  for (const auto& args : bad) EXPECT_EQ(2, Vezi(args).exitCode) << args[2] << " " << args[3];
  const auto cp = Vezi({"dump", test::DataPath("paradox/generated/alltypes.db"), "--code-page", "866"});
  EXPECT_EQ(0, cp.exitCode) << cp.err;
  EXPECT_NE(Vezi({"dump", test::DataPath("paradox/generated/alltypes.db")}).out, cp.out);
}

TEST(VeziLibraryDump, TextThatIsNotUtf8StaysVisibleInJson) {
  TempDir dir;
  ASSERT_EQ(0, Vezi({"create", "ltGebiete", dir.Path().string()}).exitCode);
  {
    TMyTable t(dir.File("Gebiete.abs"), false);
    t.Table().Open();
    t.Table().Append();
    t.Table().FieldByName("Kzl").SetAsString("G\xE4\x01");  // a Windows code-page letter and a control byte
    t.Table().Post();
    t.Table().Close();
  }
  const auto json = Vezi({"dump", dir.File("Gebiete.abs"), "--format", "json"});
  ASSERT_EQ(0, json.exitCode) << json.err;
  EXPECT_TRUE(Contains(json.out, "\"Kzl\": \"G\\u00e4\\u0001\"")) << json.out;
  const auto utf8 = Vezi({"dump", dir.File("Gebiete.abs")});
  EXPECT_TRUE(Contains(utf8.out, ",G\xE4\x01,")) << utf8.out;
}

}  // namespace
}  // namespace vez
