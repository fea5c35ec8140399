// vezi convert end to end: the real executable on a copy of the sample Paradox libraries.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include <nlohmann/json.hpp>

#include "TestUtil.h"
#include "VeziRunner.h"
#include "pxwriter/PxWriter.h"

namespace vez {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

test::RunResult Vezi(const std::vector<std::string>& args) { return test::RunProgram(VEZI_EXECUTABLE, args); }

class VeziConvert : public ::testing::Test {
protected:
  void SetUp() override {
    fs::copy(std::string(VEZ_EXAMPLES_DIR) + "/paradox-libs", Dir(), fs::copy_options::recursive);
  }
  std::string Dir() const { return dir_.Path().string() + "/libs"; }
  bool Has(const std::string& name) const { return fs::exists(Dir() + "/" + name); }
  test::TempDir dir_;
};

TEST_F(VeziConvert, ConvertsTheSampleFolderWithReport) {
  const std::string report = dir_.File("report.json");
  const auto r = Vezi({"convert", "--recursive", "--report", report, Dir()});
  ASSERT_EQ(0, r.exitCode) << r.out << r.err;
  EXPECT_EQ("", r.err);  // no progress output when standard error is no terminal
  for (const std::string& part : std::initializer_list<std::string>{
           "Tables converted: 10 of 11\n", "Not a library:    1", "Errors logged:    0\n",
           "Not converted:\n  " + Dir() + "/Strassen.db: no library type\n", "Log:              " + Dir() + "/Convert.log"})
    EXPECT_THAT(r.out, HasSubstr(part));
  for (const char* made : {"emis.abs", "Absor.abs", "Time.abs", "Wind.abs", "Traffic.abs", "TNMVeh.abs",
                           "RREC0001.tabs", "X.runx", "Projekt Nord/emis.abs", "Projekt Nord/Time.abs"})
    EXPECT_TRUE(Has(made)) << made;
  EXPECT_FALSE(Has("Strassen.abs") || Has("Thumbs.abs"));

  // The whole report, with the paths taken relative to the folder and the tables in name order (64 records).
  std::ifstream in(report);
  auto json = nlohmann::json::parse(in);
  std::sort(json["tables"].begin(), json["tables"].end(), [](auto& a, auto& b) { return a["source"] < b["source"]; });
  std::string text = json.dump();
  for (std::size_t p; (p = text.find(Dir() + "/")) != std::string::npos;) text.erase(p, Dir().size() + 1);
  const auto expected = nlohmann::json::parse(test::ReadFile(test::DataPath("apps/convert-report.json")));
  EXPECT_EQ(expected.dump(1), nlohmann::json::parse(text).dump(1));
}

TEST_F(VeziConvert, DeleteOldKeepsWhatWasNotConverted) {
  const auto r = Vezi({"convert", "--delete-old", Dir()});
  ASSERT_EQ(0, r.exitCode) << r.err;
  EXPECT_FALSE(Has("emis.db") || Has("emis.mb") || Has("Thumbs.db"));
  EXPECT_TRUE(Has("Strassen.db") && Has("emis.abs"));
  EXPECT_TRUE(Has("Projekt Nord/emis.db"));  // not recursive: the subfolder is untouched
}

TEST_F(VeziConvert, ASecondRunConvertsNothingAgain) {
  // A second run converts nothing again: every library exists with its records.
  ASSERT_EQ(0, Vezi({"convert", Dir()}).exitCode);
  const auto again = Vezi({"convert", Dir()});
  EXPECT_EQ(0, again.exitCode) << again.out;
  EXPECT_THAT(again.out, HasSubstr("Skipped:          8 (library exists)"));
  EXPECT_THAT(again.out, HasSubstr("Records written:  0 of 0"));
  EXPECT_THAT(again.out, HasSubstr("  " + Dir() + "/X.run: skipped because the library exists"));
  EXPECT_THAT(again.out, HasSubstr("  " + Dir() + "/Strassen.db: no library type"));
}

// Several folders in one run, their tables in jobs: one report per folder, logs and summary for all.
TEST_F(VeziConvert, FoldersInJobs) {
  const std::string other = dir_.File("other");
  fs::copy(Dir() + "/Projekt Nord", other);
  const std::string report = dir_.File("report.json");
  const auto r = Vezi({"convert", Dir(), other, "--jobs", "3", "--report", report});
  ASSERT_EQ(0, r.exitCode) << r.out << r.err;
  EXPECT_THAT(r.out, HasSubstr("Tables converted: 10 of 11\n"));
  EXPECT_THAT(r.out, HasSubstr("Log:              " + other + "/Convert.log"));
  std::ifstream in(report);
  const auto json = nlohmann::json::parse(in);
  ASSERT_EQ(2u, json["folders"].size());
  EXPECT_EQ(2u, json["folders"][1]["tables"].size());
  for (const char* jobs : {"0", "-2", "x"}) {
    const auto bad = Vezi({"convert", Dir(), "--jobs", jobs});
    EXPECT_EQ(2, bad.exitCode) << jobs;
    EXPECT_THAT(bad.err, HasSubstr("--jobs")) << jobs;
  }
  // Forty tables two at a time under a limit of 30 open files: nothing a job opened stays open after it.
  const std::string many = dir_.File("many");
  fs::create_directory(many);
  for (int i = 0; i < 40; ++i) fs::copy_file(Dir() + "/X.run", many + "/X" + std::to_string(i) + ".run");
  const auto limited = test::RunProgram("bash", {"-c", "ulimit -n 30 && exec \"$0\" convert \"$1\" --jobs 2",
                                                 VEZI_EXECUTABLE, many});
  EXPECT_EQ(0, limited.exitCode) << limited.out << limited.err;
  EXPECT_THAT(limited.out, HasSubstr("Tables converted: 40 of 40\n"));
  const auto nested = Vezi({"convert", "-r", Dir(), Dir() + "/Projekt Nord"});
  EXPECT_EQ(2, nested.exitCode);
  EXPECT_THAT(nested.err, HasSubstr("lies inside"));
}

TEST_F(VeziConvert, UnwritableLogAndNonUtf8NamesInTheReport) {
  // Convert.log is a folder here: the log cannot be written, and the exit code says so.
  fs::create_directory(Dir() + "/Convert.log");
  EXPECT_EQ(1, Vezi({"convert", Dir()}).exitCode);
  fs::remove(Dir() + "/Convert.log");

  const std::string odd = Dir() + "/alt\xE4";  // a Latin-1 folder name
  fs::create_directory(odd);
  fs::copy_file(Dir() + "/Time.db", odd + "/Time.db");
  fs::copy_file(Dir() + "/Time.mb", odd + "/Time.mb");
  const std::string report = dir_.File("report.json");
  const auto r = Vezi({"convert", "--report", report, odd});
  EXPECT_EQ(0, r.exitCode) << r.err;
  std::ifstream in(report);
  const auto json = nlohmann::json::parse(in);
  ASSERT_EQ(1u, json["tables"].size());
  EXPECT_EQ(Dir() + "/alt\xC3\xA4/Time.db", json["tables"][0]["source"]);
  EXPECT_EQ("converted", json["tables"][0]["outcome"]);
}

// The dry run lists what a run would do to each table, word for word (tests/data/apps/convert-dry-run.txt). Over
// a library whose cells differ from its table it names the first difference, and the table may not be deleted.
TEST_F(VeziConvert, DryRunListsEveryTable) {
  using pxw::Writer;  // two fields the layout lacks; a text longer than its field
  Writer dropped({{"Foo", 4, 4}, {"Bar", 1, 8}}), cut({{"ElementName", 1, 120}});
  dropped.AddRecord({Writer::Long(3), Writer::Char("b", 8)});
  cut.AddRecord({Writer::Char(std::string(100, 'x'), 120)});
  dropped.Write(Dir() + "/Atten.db");
  cut.Write(Dir() + "/Trans.db");
  auto r = Vezi({"convert", "--dry-run", "--recursive", Dir()});
  EXPECT_EQ(1, r.exitCode) << r.err;  // the two are incomplete
  for (std::size_t at; (at = r.out.find(Dir())) != std::string::npos;) r.out.replace(at, Dir().size(), "DIR");
  EXPECT_EQ(test::ReadFile(test::DataPath("apps/convert-dry-run.txt")), r.out);
  EXPECT_FALSE(Has("emis.abs"));
  for (const char* added : {"/Atten.db", "/Trans.db"}) fs::remove(Dir() + added);

  ASSERT_EQ(0, Vezi({"convert", Dir()}).exitCode);
  sqlite3* db = nullptr;
  ASSERT_EQ(SQLITE_OK, sqlite3_open((Dir() + "/emis.abs").c_str(), &db));
  EXPECT_EQ(SQLITE_OK, sqlite3_exec(db, "UPDATE \"emis.abs\" SET Values1 = 99.5 WHERE Eintrag = 21", 0, 0, 0));
  sqlite3_close(db);
  const std::string report = dir_.File("report.json");
  r = Vezi({"convert", "--dry-run", "--report", report, Dir()});
  EXPECT_THAT(r.out, HasSubstr("/emis.abs (ltEmis): skipped because the library exists; values that would differ: 1; "
                               "could be deleted: no\n"));
  std::ifstream in(report);
  const auto json = nlohmann::json::parse(in);
  EXPECT_EQ(R"([{"field":"Values1","library":"99.5","record":3,"table":"76.3"}])",
            json["tables"][2]["first_differences"].dump());
}

// On a terminal one status line is drawn in place: the first at once with the table being read, the last with
// every table done; it is cleared before the summary.
TEST_F(VeziConvert, ProgressOnATerminal) {
  const std::string shown = test::RunOnTerminal(VEZI_EXECUTABLE, {"convert", "--jobs", "1", Dir()}, "");
  EXPECT_THAT(shown, ::testing::StartsWith("\r\033[Ktables 0 of 9, 0 records: " + Dir() + "/X.run\r\033[K"));
  EXPECT_THAT(shown, ::testing::ContainsRegex("\r\033\\[Ktables 9 of 9, 59 records(, [0-9]+ records/s)?\r\033\\[K"
                                              "Tables converted: 8 of 9\r\n"));
}

}  // namespace
}  // namespace vez
