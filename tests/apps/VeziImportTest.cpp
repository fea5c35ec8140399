// vezi import end to end: the real executable on the example spectra and small text files.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include <nlohmann/json.hpp>

#include "TestUtil.h"
#include "VeziRunner.h"
#include "librarydb/OVLibConst.h"

namespace vez {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

test::RunResult Vezi(const std::vector<std::string>& args) { return test::RunProgram(VEZI_EXECUTABLE, args); }

std::string Example(const std::string& name) { return std::string(VEZ_EXAMPLES_DIR) + "/import/" + name; }

std::string Summary(int added, int overwritten, int skipped, int failed) {
  return "Added:       " + std::to_string(added) + "\nOverwritten: " + std::to_string(overwritten) +
         "\nSkipped:     " + std::to_string(skipped) + "\nFailed:      " + std::to_string(failed) + "\n";
}

// ElementName -> "field=value;..." of the requested fields.
std::map<std::string, std::string> Records(const std::string& lib, const std::vector<std::string>& fields) {
  std::map<std::string, std::string> out;
  TMyTable t(lib, true);
  t.Table().Open();
  for (t.Table().First(); !t.Table().Eof(); t.Table().Next()) {
    std::string v;
    for (const auto& f : fields) v += f + "=" + t.Table().FieldByName(f).AsString() + ";";
    out[t.Table().FieldByName("ElementName").AsString()] = v;
  }
  return out;
}

class VeziImport : public ::testing::Test {
protected:
  std::string Lib() const { return dir_.File("libs/emis.abs"); }
  std::string Text(const std::string& content) {
    const std::string file = dir_.File("in.txt");
    std::ofstream(file, std::ios::binary) << content;
    return file;
  }
  test::TempDir dir_;
};

TEST_F(VeziImport, EveryExampleIntoANewLibraryAndARerunThatAddsNothing) {
  for (const char* file : {"spectra.xlsx", "spectra.xls", "spectra.txt"}) {
    SCOPED_TRACE(file);
    fs::remove_all(dir_.File("libs"));
    auto r = Vezi({"import", Example(file), "--into", Lib(), "--auto-link"});
    ASSERT_EQ(0, r.exitCode) << r.out << r.err;
    EXPECT_THAT(r.out, HasSubstr(Summary(4, 0, 0, 0)));
    const auto recs = Records(Lib(), {"Values0", "Values12", "Kommentar", "Terz", "Values30"});
    ASSERT_EQ(4u, recs.size());
    EXPECT_EQ("Values0=87.6;Values12=80;Kommentar=Axial fan, free field;Terz=True;Values30=53;", recs.at("Fan 400 mm"));
    EXPECT_THAT(recs.at("Cooling tower"), HasSubstr("Kommentar=Grüne Halle, Nordseite;"));
    r = Vezi({"import", Example(file), "--into", Lib(), "--auto-link", "--on-exists", "skip"});
    ASSERT_EQ(0, r.exitCode) << r.err;
    EXPECT_THAT(r.out, HasSubstr(Summary(0, 0, 4, 0)));
    EXPECT_EQ(recs, Records(Lib(), {"Values0", "Values12", "Kommentar", "Terz", "Values30"}));
  }
}

TEST_F(VeziImport, FailedLinesFailAloneWithLineColumnAndField) {
  // Blank cells are empty, a line of blanks is skipped and counted, "2.5" is no integer, the engine's range
  // check names its column and field.
  const std::string in = Text("ElementName\tValues0\tTerz\tRichtwirkungenH1\nA\t1,5\tTrue\t \nB\tloud\tTrue\n"
                              "C\t2\tmaybe\n\t3\tTrue\n \t \nD\t \t\t2.5\nE\t\t\t3000000000\n");
  const std::string report = dir_.File("r.json");
  auto r = Vezi({"import", in, "--into", Lib(), "--auto-link", "--decimal-separator", ",", "--report", report});
  EXPECT_EQ(1, r.exitCode);
  EXPECT_THAT(r.out, HasSubstr(Summary(1, 0, 0, 5) + "Empty lines skipped: 1\n"));
  EXPECT_EQ("vezi: line 3, column B: The field \"Values0\" takes a number, not \"loud\"\n"
            "vezi: line 4, column C: The field \"Terz\" takes True or False, not \"maybe\"\n"
            "vezi: line 5, column A: The field \"ElementName\" must not be empty\n"
            "vezi: line 7, column D: The field \"RichtwirkungenH1\" takes a whole number, not \"2.5\"\n"
            "vezi: line 8, column D: The field \"RichtwirkungenH1\" takes a whole number from -2147483648 to "
            "2147483647, not 3000000000\n",
            r.err);
  EXPECT_EQ((std::map<std::string, std::string>{{"A", "Values0=1.5;"}}), Records(Lib(), {"Values0"}));
  const auto j = nlohmann::json::parse(std::ifstream(report));
  EXPECT_EQ(nlohmann::json({5, 1, "tab", "ASCII"}),
            nlohmann::json({j["failed"], j["empty_lines"], j["separator"], j["text_encoding"]}));
  EXPECT_EQ(3, j["errors"][0]["line"]);
  EXPECT_EQ("B", j["errors"][0]["column"]);
}

TEST_F(VeziImport, LinesOfTheWholeFileAndMapBeforeAutoLink) {
  // Past the dialog's 30000 lines; --map takes column B, auto link the rest; start = stop imports one line.
  const std::string in = Text("Values0\tName\tValues1\n" + std::string(30000, '\n') + "1\tFar\t2\n");
  auto r = Vezi({"import", in, "--into", Lib(), "--map", "ElementName=B", "--auto-link", "--start", "30002", "--stop",
                 "30002"});
  ASSERT_EQ(0, r.exitCode) << r.err;
  EXPECT_THAT(r.out, HasSubstr("Lines:       30002 to 30002 of "));
  EXPECT_THAT(r.out, HasSubstr(Summary(1, 0, 0, 0)));
  EXPECT_EQ((std::map<std::string, std::string>{{"Far", "Values0=1;Values1=2;"}}), Records(Lib(), {"Values0", "Values1"}));
  fs::remove_all(dir_.File("libs"));
  r = Vezi({"import", in, "--into", Lib(), "--auto-link", "--map", "ElementName=B", "--start", "30003"});
  EXPECT_EQ(0, r.exitCode);
  EXPECT_THAT(r.out, HasSubstr("none: the start line 30003 is past the last line 30002 of "));
  EXPECT_FALSE(fs::exists(Lib()));
}

TEST_F(VeziImport, TheSummaryNamesTheEncodingRead) {
  // "ASCII" only for ASCII throughout; the same names with an umlaut in UTF-8, UTF-16 and code page 1252.
  for (const auto& [name, extra, shown] : std::vector<std::tuple<std::string, std::vector<std::string>, std::string>>{
           {"Laerm", {}, "(ASCII)"}, {"L\xc3\xa4rm", {}, "(text, UTF-8)"}, {std::string("\xff\xfeL\0\xe4\0", 6), {}, "(text, UTF-16LE)"},
           {"L\xe4rm", {"--code-page", "1252"}, "(text, code page 1252)"}}) {
    std::vector<std::string> args{"import", Text(name), "--into", Lib(), "--map", "ElementName=A", "--start", "1", "--dry-run"};
    args.insert(args.end(), extra.begin(), extra.end());
    const auto r = Vezi(args);
    EXPECT_THAT(r.out, HasSubstr(shown + "\n")) << r.err;
  }
}

// A run's links, lines and separators saved as a mapping serve the next file of the same form alone.
TEST_F(VeziImport, ASavedMappingImportsNextMonthsFile) {
  const std::string march = Text("Quelle;Pegel\nA;70,5\nB;71\n");
  const std::string mapping = dir_.File("survey.json");
  auto r = Vezi({"import", march, "--into", Lib(), "--map", "ElementName=A", "--map", "Values8=B", "--fix",
                 "Kommentar=Umfrage", "--separator", ";", "--save-mapping", mapping});
  ASSERT_EQ(0, r.exitCode) << r.err;
  EXPECT_THAT(r.out, HasSubstr("Mapping saved to " + mapping));
  std::ofstream(dir_.File("april.txt")) << "Quelle;Pegel\nC;69,5\n";
  r = Vezi({"import", dir_.File("april.txt"), "--into", Lib(), "--mapping", mapping});
  ASSERT_EQ(0, r.exitCode) << r.err;
  EXPECT_EQ((std::map<std::string, std::string>{{"A", "Values8=70.5;Kommentar=Umfrage;"},
                                                {"B", "Values8=71;Kommentar=Umfrage;"},
                                                {"C", "Values8=69.5;Kommentar=Umfrage;"}}),
            Records(Lib(), {"Values8", "Kommentar"}));
}

TEST_F(VeziImport, OnExistsChoices) {
  const std::string first = Text("ElementName\tValues0\nA\t1\nB\t2\n");
  ASSERT_EQ(0, Vezi({"import", first, "--into", Lib(), "--auto-link"}).exitCode);
  const std::string second = Text("ElementName\tValues0\nA\t10\nNew\t20\n");
  // ask without a terminal: the existing name is an error of its line, the rest is stored.
  auto r = Vezi({"import", second, "--into", Lib(), "--auto-link"});
  EXPECT_EQ(1, r.exitCode);
  EXPECT_THAT(r.err, HasSubstr("line 2, field ElementName: Element \"A\" already exists; standard input is not a "
                               "terminal to ask on"));
  EXPECT_THAT(r.out, HasSubstr(Summary(1, 0, 0, 1)));
  r = Vezi({"import", second, "--into", Lib(), "--map", "ElementName=A", "--map", "values0=b", "--on-exists",
            "overwrite"});
  EXPECT_THAT(r.out, HasSubstr(Summary(0, 2, 0, 0)));
  r = Vezi({"import", second, "--into", Lib(), "--auto-link", "--on-exists", "rename", "--fix", "Kommentar=x"});
  EXPECT_THAT(r.out, HasSubstr(Summary(2, 0, 0, 0)));
  EXPECT_EQ((std::map<std::string, std::string>{{"A", "Values0=10;Kommentar=;"},
                                                {"A (2)", "Values0=10;Kommentar=x;"},
                                                {"B", "Values0=2;Kommentar=;"},
                                                {"New", "Values0=20;Kommentar=;"},
                                                {"New (2)", "Values0=20;Kommentar=x;"}}),
            Records(Lib(), {"Values0", "Kommentar"}));
}

TEST_F(VeziImport, NothingIsCreatedOrChangedWhenTheRunStoresNothing) {
  const std::string in = Text("ElementName\tValues0\nA\t1\n");
  auto r = Vezi({"import", in, "--into", Lib(), "--auto-link", "--dry-run"});
  EXPECT_EQ(0, r.exitCode) << r.err;
  EXPECT_THAT(r.out, HasSubstr("Added:       1 (dry run: nothing stored)"));
  EXPECT_FALSE(fs::exists(Lib()));
  const std::string report = dir_.File("r.json");
  r = Vezi({"import", dir_.File("missing.xlsx"), "--into", Lib(), "--auto-link", "--report", report});
  EXPECT_EQ(1, r.exitCode);
  EXPECT_THAT(r.err, HasSubstr("cannot be opened"));
  EXPECT_THAT(nlohmann::json::parse(std::ifstream(report))["error"].get<std::string>(), HasSubstr("cannot be opened"));
  EXPECT_FALSE(fs::exists(Lib()));
  // A folder given for the file is told as such before anything else wrong (here a library of no known type).
  r = Vezi({"import", dir_.Path().string(), "--into", dir_.File("new/x.abs"), "--auto-link"});
  EXPECT_EQ(std::pair(2, "vezi: \"" + dir_.Path().string() + "\" is not a file\n"),
            std::pair(r.exitCode, r.err.substr(0, r.err.find("Run"))));
  // The fields are named, the first 12 of them (emis.abs has more; TJapRail.abs 13; AbsorGrp.abs offers 2).
  r = Vezi({"import", in, "--into", Lib(), "--map", "Nope=A"});
  EXPECT_EQ(1, r.exitCode);
  EXPECT_EQ("vezi: The library has no field \"Nope\" to import column \"A\" into (fields: Eintrag, ElementName, "
            "Values1, Values2, Values3, Values4, Values5, Values6, Values7, Values8, Values9, Values10, ...)\n", r.err);
  EXPECT_THAT(Vezi({"import", in, "--into", dir_.File("TJapRail.abs"), "--map", "Nope=A"}).err,
              HasSubstr("PWLb_Concrete, V, S, Sm, ...)\n"));
  EXPECT_THAT(Vezi({"import", in, "--into", dir_.File("AbsorGrp.abs"), "--map", "Nope=A"}).err,
              HasSubstr("into (fields: Eintrag, GruppenName)\n"));
  r = Vezi({"import", in, "--into", Lib(), "--map", "ElementName=Q"});
  EXPECT_THAT(r.err, HasSubstr("The file has no column \"Q\" for the field \"ElementName\" (its columns are A to B)"));
  r = Vezi({"import", in, "--into", Lib(), "--auto-link", "--text-limit", "0"});
  EXPECT_EQ(2, r.exitCode);
  EXPECT_THAT(r.err, HasSubstr("The text limit must be a number of MB from 1 to 1073741824, not 0"));
  EXPECT_EQ(2, Vezi({"import", in, "--into", Lib()}).exitCode);
  EXPECT_FALSE(fs::exists(Lib()));
  // Only the header lines are held at the load: a line below them with more text than the limit passes it.
  std::string heavy = "ElementName\nA";
  for (int i = 0; i < 11000; ++i) heavy += "\t" + std::string(100, 'x');
  r = Vezi({"import", Text(heavy + "\n"), "--into", Lib(), "--map", "ElementName=A", "--text-limit", "1", "--dry-run"});
  EXPECT_THAT(r.out, HasSubstr("Added:       1 (dry run: nothing stored)\nOverwritten: 0\nSkipped:     0\nFailed:      0"))
      << r.err;
  // A library of classic definitions offers its fields as well.
  r = Vezi({"import", in, "--into", dir_.File("libs/NMPBMet.abs"), "--auto-link"});
  EXPECT_THAT(r.out, HasSubstr(Summary(1, 0, 0, 0))) << r.err;
  // A column that only a line far below the header holds (past the first MiB the import reads before it links)
  // is the file's all the same, and the file's last column is named.
  std::string far = "ElementName\nW\n";
  for (int i = 0; i < 600000; ++i) far += "x\n";
  const std::string wide = Text(far + "Z\t\t\t9\n");
  r = Vezi({"import", wide, "--into", Lib(), "--map", "ElementName=A", "--map", "Values1=D", "--stop", "2"});
  EXPECT_THAT(r.out, HasSubstr(Summary(1, 0, 0, 0))) << r.err;
  EXPECT_THAT(r.out, HasSubstr("Lines:       2 to 2 of "));
  EXPECT_THAT(Vezi({"import", wide, "--into", Lib(), "--map", "Values1=E"}).err, HasSubstr("(its columns are A to D)"));
  // Such a file's start line past its last line is known once its lines are read: the library begun goes again.
  r = Vezi({"import", wide, "--into", dir_.File("new/emis.abs"), "--map", "ElementName=A", "--start", "700000"});
  EXPECT_THAT(r.out, HasSubstr("none: the start line 700000 is past the last line 600003 of ")) << r.err;
  // A fault of the file past the lines read before it links is told as the file's: for a column past those
  // lines, or as the lines are stored (which then store nothing).
  const std::string open = Text(far + "\"never closed\n");
  for (const char* column : {"ElementName=E", "ElementName=A"})
    EXPECT_THAT(Vezi({"import", open, "--into", dir_.File("new/emis.abs"), "--map", column}).err,
                HasSubstr("never closed\nvezi: File \"" + open + "\" cannot be opened"));
  EXPECT_TRUE(fs::is_empty(dir_.File("new")));
}

// On a terminal the name question is asked until it gets an answer it knows; a new name is then asked for, and
// the line count is drawn in place, and cleared before a message. Cancelling stores nothing.
TEST_F(VeziImport, TheNameQuestionOnATerminal) {
  ASSERT_EQ(0, Vezi({"import", Text("ElementName\tValues1\nn1\t1\n"), "--into", Lib(), "--auto-link"}).exitCode);
  const std::vector<std::string> ask = {"import", Text("ElementName\tValues1\nn1\t5\n"), "--into", Lib(),
                                        "--auto-link", "--on-exists", "ask"};
  const std::string question = "Element \"n1\" already exists: [o]verwrite, overwrite [a]ll, [s]kip, skip a[l]l, "
                               "[n]ew name, [c]ancel? ";
  const std::string linked = "Auto Link linked 2 columns: ElementName <- A, Values1 (25 Hz) <- B\r\n";  // a terminal's line end
  EXPECT_THAT(test::RunOnTerminal(VEZI_EXECUTABLE, ask, "c\n"), HasSubstr("Added:       0 (cancelled: nothing stored)"));
  EXPECT_THAT(test::RunOnTerminal(VEZI_EXECUTABLE, ask, ""), HasSubstr(question + "\r\033[K" + linked + "Lines:"));  // input ends
  // A blank name keeps the old one, and the question comes again.
  EXPECT_THAT(test::RunOnTerminal(VEZI_EXECUTABLE, ask, "x\nn\n \nn\n  n9 \n"),
              HasSubstr("\r\033[Kline 1 of 1\r\033[K" + question + question + "Enter new name: [n1] \r\033[K" + question +
                        "Enter new name: [n1] \r\033[K" + linked + "Lines:"));
  EXPECT_EQ((std::map<std::string, std::string>{{"n1", "Values1=1;"}, {"n9", "Values1=5;"}}), Records(Lib(), {"Values1"}));
  EXPECT_THAT(test::RunOnTerminal(VEZI_EXECUTABLE, {"import", dir_.File("none.txt"), "--into", Lib(), "--auto-link"}, ""),
              ::testing::StartsWith("\r\033[Kvezi: Cannot open file"));
}

}  // namespace
}  // namespace vez
