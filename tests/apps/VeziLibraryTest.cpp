// The vezi library commands end to end: the real executable, its output and its exit codes.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "TestUtil.h"
#include "VeziRunner.h"
#include "librarydb/OVLibConst.h"

namespace vez {
namespace {

using test::SplitLines;
using test::TempDir;

test::RunResult Vezi(const std::vector<std::string>& args) { return test::RunProgram(VEZI_EXECUTABLE, args); }
bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }
std::string Data(const std::string& name) { return test::DataPath("paradox/" + name); }

// Copies a file, keeping at most `keep` bytes.
void CopyCut(const std::string& from, const std::string& to, std::size_t keep = std::string::npos) {
  std::ofstream(to, std::ios::binary) << test::ReadFile(from).substr(0, keep);
}

// Calls that need no set-up beyond an empty folder, and the usage errors, from tests/data/apps/vezi-calls.txt.
TEST(VeziLibrary, ExitCodesAndMessages) {
  TempDir dir;
  const std::pair<std::string, std::string> places[] = {
      {"<dir>", dir.Path().string()}, {"<table>", Data("generated/multiblock.db")}, {"<data>", test::DataPath("")}};
  for (const std::string& line : SplitLines(test::ReadFile(test::DataPath("apps/vezi-calls.txt")))) {
    if (line.starts_with("#")) continue;
    const auto cells = test::SplitTabs(line);
    std::vector<std::string> args(cells.begin() + 3, cells.end());
    for (std::string& arg : args)
      for (const auto& [from, to] : places)
        if (arg.starts_with(from)) arg = to + arg.substr(from.size());
    std::string out = cells[1];
    for (std::size_t at; (at = out.find("\\n")) != std::string::npos;) out.replace(at, 2, "\n");
    SCOPED_TRACE(line);
    const auto r = Vezi(args);
    EXPECT_EQ(std::stoi(cells[0]), r.exitCode);
    EXPECT_TRUE(out == "*" || out == r.out) << r.out;
    const bool first = cells[2].starts_with("^");
    EXPECT_TRUE(first ? cells[2].substr(1) == r.err.substr(0, r.err.find('\n')) : Has(r.err, cells[2])) << r.err;
  }
  EXPECT_TRUE(std::filesystem::is_empty(dir.Path()));
}

// What a user reads: every command's help and the band table, word for word as tests/data/apps/help.txt holds
// them (after a deliberate change of a text, write the file anew from the output this test prints).
TEST(VeziLibrary, HelpTexts) {
  std::string all = Vezi({"--help"}).out + Vezi({"bands"}).out;
  const std::string helpAll = Vezi({"--help-all"}).out;
  for (const char* command : {"version", "settings", "libtype", "create", "info", "dump", "add", "edit", "convert",
                              "bands", "tnm", "spectrum", "import", "export", "serve"}) {
    const auto r = Vezi({command, "--help"});
    EXPECT_EQ(0, r.exitCode) << command;
    all += r.out;
    // The help of all commands, which the manual page is made from, carries each one's closing text too, every
    // line indented.
    const std::string text = r.out.substr(0, r.out.find_last_not_of('\n') + 1);
    std::istringstream closing(text.substr(text.rfind("\n\n") + 2));
    if (closing.str().starts_with("Options:")) continue;  // no closing text
    for (std::string line; std::getline(closing, line);)
      EXPECT_TRUE(Has(helpAll, "\n  " + line + "\n")) << command << ": " << line;
  }
  EXPECT_EQ(test::ReadFile(test::DataPath("apps/help.txt")), all) << all;
}

TEST(VeziLibrary, CreateInfoAndDump) {
  TempDir dir;
  ASSERT_EQ(dir.File("TNMVeh.abs") + "\n", Vezi({"create", "lttnmveh", dir.Path().string()}).out);
  const auto info = Vezi({"info", dir.File("TNMVeh.abs")});
  ASSERT_EQ(0, info.exitCode) << info.err;
  for (const char* part : {"Type: 26 ltTNMVeh\nTable: TNMVeh.abs\nLayout: advanced\nFields: 182\n"
                           "     #  Name                Type       Size  Required\n"
                           "     1  Eintrag             autoinc       0  no\n     2  ElementName         text         40  no\n",
                           "\nIndexes: 2\n  p  Eintrag  primary\n  EN  ElementName  unique,case-insensitive\n",
                           "Records: 0\n", "   2  ElementName", "   4  A(FTNo,PTAvg)", " 179  Q(FTYes,PTPCC)"})
    EXPECT_TRUE(Has(info.out, part)) << part;
  ASSERT_EQ(0, Vezi({"create", "4", dir.Path().string()}).exitCode);
  const auto assess = Vezi({"info", dir.File("Assess.abs")});
  EXPECT_EQ("File: " + dir.File("Assess.abs") + "\nType: 4 ltAssess\nTable: Assess.abs\nLayout: classic\nFields: 3\n"
            "     #  Name       Type        Size  Required\n     1  BwName     ftString      40  no\n"
            "     2  BwNummer   ftAutoInc      0  no\n     3  Kommentar  ftMemo         0  no\nIndexes: 2\n"
            "  p  Bwname  primary\n  Nr  BwNummer  case-insensitive\nRecords: 0\n",
            assess.out);
  // A second creation leaves the first library as it was.
  const auto again = Vezi({"create", "ltAssess", dir.Path().string(), "--with-defaults"});
  EXPECT_TRUE(again.exitCode == 1 && Has(again.err, "already exists")) << again.err;
  EXPECT_TRUE(Has(Vezi({"info", dir.File("Assess.abs")}).out, "Records: 0\n"));

  ASSERT_EQ(0, Vezi({"create", "ltWind", dir.Path().string(), "--with-defaults"}).exitCode);
  const std::string wind = dir.File("Wind.abs");
  const auto lines = SplitLines(Vezi({"dump", wind}).out);
  ASSERT_EQ(2u, lines.size());
  EXPECT_TRUE(lines[0].starts_with("Eintrag,ElementName,Percentage0,Percentage1,")) << lines[0];
  EXPECT_TRUE(lines[0].ends_with(",C012,Kommentar,LastChangeDateTime")) << lines[0];
  // Key 1, no name (NULL: empty field), Percentage0 100, the rest 0, no comment, a date-time in ISO form.
  EXPECT_TRUE(lines[1].starts_with("1,,100,0,0,")) << lines[1];
  const std::string stamp = lines[1].substr(lines[1].rfind(',') + 1);
  EXPECT_TRUE((stamp.size() == 19u || stamp.size() == 23u) && stamp[10] == 'T') << stamp;
  const auto json = Vezi({"dump", wind, "--format", "json"}).out;
  EXPECT_TRUE(json.starts_with("[\n  {\"Eintrag\": 1, \"ElementName\": null, \"Percentage0\": 100, ")) << json;
  EXPECT_TRUE(Has(json, "\"Kommentar\": null, \"LastChangeDateTime\": \"") && json.ends_with("}\n]\n")) << json;
  EXPECT_EQ("[]\n", Vezi({"dump", wind, "--limit", "0", "--format", "json"}).out);
  EXPECT_EQ(1u, SplitLines(Vezi({"dump", wind, "--limit", "0"}).out).size());
  // add and edit name the record they stored; --truncate cuts a text to its field's 40 characters.
  EXPECT_EQ("Added record 2 to Wind.abs\n", Vezi({"add", wind, "ElementName=" + std::string(45, 'o'), "--truncate"}).out);
  EXPECT_TRUE(SplitLines(Vezi({"dump", wind}).out).at(2).starts_with("2," + std::string(40, 'o') + ",100,"));
  EXPECT_EQ("Changed record 2 of Wind.abs\n", Vezi({"edit", wind, "2", "ElementName=" + std::string(50, 'x'), "--truncate"}).out);
  EXPECT_TRUE(SplitLines(Vezi({"dump", wind}).out).at(2).starts_with("2," + std::string(40, 'x') + ",100,"));

  // The settings of another program file: its folders, and with --ini the INI file next to it.
  const auto settings = nlohmann::json::parse(Vezi({"settings", "--program", dir.File("Ozon.exe"), "--format", "json"}).out);
  EXPECT_EQ(dir.File("System/"), settings["identity"]["SystemPath"]);
  EXPECT_TRUE(Has(Vezi({"settings", "--program", dir.File("Ozon.exe"), "--ini"}).out,
                  "\n  SettingsFile: " + dir.File("Ozon.ini\n")));
}

// An export never replaces a file unless told to; told to, it does. It writes the fields and records asked for.
TEST(VeziLibrary, ExportLeavesAFileThatExists) {
  test::TempDir dir;
  ASSERT_EQ(0, Vezi({"create", "ltWind", dir.Path().string(), "--with-defaults"}).exitCode);
  std::ofstream(dir.File("out.csv")) << "keep";
  auto r = Vezi({"export", dir.File("Wind.abs"), dir.File("out.csv")});
  EXPECT_EQ(1, r.exitCode);
  EXPECT_EQ("vezi: '" + dir.File("out.csv") + "' exists already; give --overwrite to replace it\n", r.err);
  EXPECT_EQ("keep", test::ReadFile(dir.File("out.csv")));
  r = Vezi({"export", dir.File("Wind.abs"), dir.File("out.csv"), "--overwrite"});
  EXPECT_EQ(0, r.exitCode) << r.err;
  EXPECT_TRUE(Has(test::ReadFile(dir.File("out.csv")), "ElementName"));
  // The fields given, in any letter case and over several --fields, in their order; the names that hold a text.
  for (const char* name : {"ElementName=Ost", "ElementName=West"}) Vezi({"add", dir.File("Wind.abs"), name});
  r = Vezi({"export", dir.File("Wind.abs"), dir.File("some.csv"), "--fields", "percentage0,ElementName", "--fields",
            "kommentar", "--where-name", "OS"});
  EXPECT_EQ("Exported 1 records of " + dir.File("Wind.abs") + " to " + dir.File("some.csv") + "\n", r.out);
  EXPECT_EQ("\xEF\xBB\xBFPercentage0,ElementName,Kommentar\r\n100,Ost,\r\n", test::ReadFile(dir.File("some.csv")));
}

TEST(VeziLibrary, DumpQuotesTextBlobsAndBytesThatAreNotUtf8) {
  TempDir dir;
  ASSERT_EQ(0, Vezi({"create", "ltRiwi3d", dir.Path().string(), "--with-defaults", "--name", "unused"}).exitCode);
  const std::string lib = dir.File("Riwi3d.abs");
  {
    TMyTable t(lib, false);
    t.Table().Open();
    t.Table().Edit();
    t.Table().FieldByName("ElementName").SetAsString("Fan, \"big\"");
    t.Table().FieldByName("Kommentar").SetAsString("G\xE4\x01 line 1\nline 2");  // a code-page letter, a control byte
    t.Table().Post();
    t.Table().Append();
    OnNewRecord(t.Table(), ltRiwi3d, true);
    t.Table().FieldByName("ElementName").SetAsString("second");
    t.Table().Post();
  }
  const auto csv = Vezi({"dump", lib});
  ASSERT_EQ(0, csv.exitCode) << csv.err;
  EXPECT_TRUE(Has(csv.out, "1,\"Fan, \"\"big\"\"\",-199,")) << csv.out.substr(0, 80);
  EXPECT_TRUE(Has(csv.out, ",\"G\xE4\x01 line 1\nline 2\","));
  // 2736 zero bytes are 3648 base64 "A"s.
  EXPECT_TRUE(Has(csv.out, "," + std::string(3648, 'A') + ",") && !Has(csv.out, std::string(3649, 'A')));
  const auto json = Vezi({"dump", lib, "--format", "json", "--limit", "1"}).out;
  for (const char* part : {"\"ElementName\": \"Fan, \\\"big\\\"\"", "\"Komplett\": false",
                           "\"Kommentar\": \"G\\u00e4\\u0001 line 1\\nline 2\""})
    EXPECT_TRUE(Has(json, part)) << part << "\n" << json;
  EXPECT_FALSE(Has(json, "second"));
  EXPECT_EQ(3u, SplitLines(Vezi({"dump", lib, "--limit", "1"}).out).size());  // header, a record of two lines
  // A file that is not a library is reported and left in place.
  std::ofstream(dir.File("notes.abs")) << "not a database";
  const auto notes = Vezi({"info", dir.File("notes.abs")});
  EXPECT_TRUE(notes.exitCode == 1 && !notes.err.empty() && std::filesystem::exists(dir.File("notes.abs")));
}

TEST(VeziLibrary, ParadoxTables) {
  const std::string table = Data("generated/alltypes.db");
  const auto info = Vezi({"info", table});
  EXPECT_TRUE(info.out.starts_with("File: " + table + "\nType: - (not a library file name)\nLayout: Paradox\n"))
      << info.out;
  EXPECT_TRUE(Vezi({"dump", table, "--limit", "2"}).out.ends_with("\n,,,,,,,,,,,,,,,0,\n2,0,,0,0,0,0,false,x,,,,,,,0,\n"));
  EXPECT_EQ(50u + 2, SplitLines(Vezi({"dump", table, "--format", "json"}).out).size());  // a record a line
  EXPECT_NE(Vezi({"dump", table}).out, Vezi({"dump", table, "--code-page", "866"}).out);
  // The cells format in raw text is the reference cell file, byte for byte.
  EXPECT_EQ(test::ReadFile(Data("paradoxdriver/CUSTOMER.DB.cells.txt")),
            Vezi({"dump", Data("paradoxdriver/CUSTOMER.DB"), "--format", "cells", "--raw-text"}).out);
  // The content decides the reader; a table is reported with the type it becomes when converted.
  TempDir dir;
  for (const char* name : {"X.run", "X.sdb", "RREC0001.tdb"}) {
    CopyCut(Data("generated/multiblock.db"), dir.File(name));
    EXPECT_TRUE(Has(Vezi({"info", dir.File(name)}).out, "\nLayout: Paradox\n")) << name;
  }
  CopyCut(table, dir.File("emis.db"));
  CopyCut(Data("generated/alltypes.mb"), dir.File("emis.mb"));
  EXPECT_TRUE(Has(Vezi({"info", dir.File("emis.db")}).out, "\nType: 0 ltEmis\n"));
  std::string index = test::ReadFile(Data("generated/multiblock.db"));
  index[4] = 1;  // primary index
  std::ofstream(dir.File("X.px"), std::ios::binary) << index;
  EXPECT_EQ("vezi: '" + dir.File("X.px") + "' is a Paradox index file (primary index .PX file), not a table; give its "
            "table (.db) instead\n", Vezi({"dump", dir.File("X.px")}).err);
}

TEST(VeziLibrary, EncryptedAndDamagedParadoxTables) {
  const std::string table = Data("generated/multiblock_enc.db");
  const auto right = Vezi({"dump", table, "--password", "vez-secret", "--format", "cells", "--raw-text"});
  ASSERT_EQ(0, right.exitCode) << right.err;
  EXPECT_EQ(test::ReadFile(Data("generated/multiblock.cells.txt")), right.out);  // the cells of its plain twin
  EXPECT_TRUE(Has(Vezi({"info", table, "--password", "vez-secret"}).out, "\nEncrypted: yes\n"));
  // multiblock: 2 KB header and blocks of 78 records; cut inside block 4 after 10 whole records.
  TempDir dir;
  const std::string cut = dir.File("cut.db");
  CopyCut(Data("generated/multiblock.db"), cut, 2048 + 3 * 2048 + 6 + 10 * 26 + 5);
  const auto dump = Vezi({"dump", cut});
  EXPECT_EQ(1, dump.exitCode);
  EXPECT_EQ(1u + 3 * 78 + 10, SplitLines(dump.out).size());
  EXPECT_EQ("vezi: warning: " + cut + ": data block 4 is cut short by the end of the file (271 of 2048 bytes)\n" +
                "vezi: warning: " + cut + ": the header promises 1000 records, the blocks hold 244\n",
            dump.err);
  const auto info = Vezi({"info", cut});
  EXPECT_TRUE(info.exitCode == 1 && Has(info.out, "\nRecords: 1000 (the blocks hold 244)\n")) << info.out;
  // A truncated ".mb": the BLOBs past its end are empty and named on stderr, the first 100 of 113 of them; the
  // table is whole.
  CopyCut(Data("generated/alltypes.db"), dir.File("blobs.db"));
  CopyCut(Data("generated/alltypes.mb"), dir.File("blobs.mb"), 4096);
  const auto blobs = Vezi({"dump", dir.File("blobs.db"), "--format", "json"});
  EXPECT_EQ(0, blobs.exitCode) << blobs.err;
  EXPECT_TRUE(Has(blobs.err, "lies past the end of the .mb file (4096 bytes); the value is left empty\n")) << blobs.err;
  EXPECT_EQ(101u, SplitLines(blobs.err).size());
  EXPECT_TRUE(blobs.err.ends_with("the value is left empty\nvezi: warning: 13 more warnings not shown\n"));
  EXPECT_EQ(50u + 2, SplitLines(blobs.out).size());
}

}  // namespace
}  // namespace vez
