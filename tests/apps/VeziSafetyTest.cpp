// What protects a user's libraries, end to end with the real executable: a full disk during an import, a copied
// library, names in any letter case, Ctrl-C during a conversion.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "TestUtil.h"
#include "VeziRunner.h"
#include "pxwriter/PxWriter.h"

namespace vez {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

test::RunResult Vezi(const std::vector<std::string>& args) { return test::RunProgram(VEZI_EXECUTABLE, args); }

// One value of a query on a library, read with SQLite itself.
std::string Query(const std::string& file, const std::string& sql) {
  sqlite3* db = nullptr;
  sqlite3_stmt* st = nullptr;
  std::string value = "<error>";
  if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK &&
      sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) == SQLITE_OK && sqlite3_step(st) == SQLITE_ROW)
    value = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
  sqlite3_finalize(st);
  sqlite3_close(db);
  return value;
}

class VeziSafety : public ::testing::Test {
protected:
  std::string Path(const std::string& name) const { return dir_.File(name); }
  // A tab-separated file of element names n1.. with a value each.
  std::string Lines(int count) {
    std::ofstream out(Path("in.txt"), std::ios::binary);
    out << "ElementName\tValues1\n";
    for (int i = 1; i <= count; ++i) out << "n" << i << "\t" << i % 90 << "\n";
    return Path("in.txt");
  }
  test::TempDir dir_;
};

// The disk fills in the middle of a large import into a library that holds records (a file-size limit, which
// vezi meets as a full disk, not as the signal SIGXFSZ): SQLite gives the transaction up; no line may then be
// stored on its own, and the run says that nothing was stored. An import into a new library leaves no file.
TEST_F(VeziSafety, FullDiskDuringAnImportStoresNothing) {
  ASSERT_EQ(0, Vezi({"import", Lines(4), "--into", Path("emis.abs"), "--auto-link"}).exitCode);
  const std::string before = test::ReadFile(Path("emis.abs"));
  const std::string file = Lines(200000);
  for (const std::string library : {"emis.abs", "new/emis.abs"}) {
    const auto r = test::RunProgram("bash", {"-c", "ulimit -f 4096; exec \"$0\" \"$@\"", VEZI_EXECUTABLE, "import",
                                             file, "--into", Path(library), "--auto-link"});
    EXPECT_EQ(1, r.exitCode) << r.out << r.err;
    EXPECT_THAT(r.err, ::testing::AllOf(HasSubstr("the disk is full"), HasSubstr("nothing of it is stored"),
                                        ::testing::Not(HasSubstr("cannot be opened"))));
  }
  EXPECT_EQ(before, test::ReadFile(Path("emis.abs")));
  EXPECT_TRUE(fs::is_empty(Path("new")));
}

// A library the user copied to a new name is that library: found in any letter case, imported into without a
// second table.
TEST_F(VeziSafety, CopiedLibraryIsOneLibrary) {
  ASSERT_EQ(0, Vezi({"import", Lines(6), "--into", Path("emis.abs"), "--auto-link"}).exitCode);
  fs::copy_file(Path("emis.abs"), Path("emis_projektA.abs"));
  const auto r = Vezi({"import", Lines(10), "--into", Path("EMIS_PROJEKTA.ABS"), "--type", "ltEmis", "--auto-link",
                       "--on-exists", "skip"});
  ASSERT_EQ(0, r.exitCode) << r.out << r.err;
  EXPECT_THAT(r.out, HasSubstr("Added:       4"));
  EXPECT_EQ("1", Query(Path("emis_projektA.abs"), "SELECT count(*) FROM sqlite_master WHERE type='table' AND "
                                                  "name NOT LIKE 'vez$%'"));
  EXPECT_THAT(Vezi({"info", Path("Emis_ProjektA.abs")}).out, HasSubstr("Records: 10\n"));
  EXPECT_THAT(Vezi({"dump", Path("EMIS.ABS"), "--format", "csv"}).out, HasSubstr("n6,"));
}

// Ctrl-C in the middle of a large table: the table is rolled back, the log says so, the summary so far is
// printed, and the exit code is 130.
TEST_F(VeziSafety, InterruptedConversion) {
  pxw::Writer w({{"No", 4, 4}, {"Name", 1, 20}, {"Calc", 1, 4}, {"CalcType", 1, 4}, {"Results", 1, 4}});
  for (int r = 0; r < 200000; ++r)
    w.AddRecord({pxw::Writer::Long(r), pxw::Writer::Char("run", 20), pxw::Writer::Char("c", 4),
                 pxw::Writer::Char("t", 4), pxw::Writer::Char("r", 4)});
  w.Write(Path("big.run"));
  int out[2];
  ASSERT_EQ(0, pipe(out));
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    dup2(out[1], STDOUT_FILENO);
    close(out[0]);
    execl(VEZI_EXECUTABLE, VEZI_EXECUTABLE, "convert", "--delete-old", dir_.Path().c_str(), nullptr);
    _exit(127);
  }
  close(out[1]);
  // Interrupted once the library is being written (its passing file holds data).
  const auto writing = [&] {
    for (const auto& e : fs::directory_iterator(dir_.Path())) {
      std::error_code ec;
      if (e.path().filename().string().ends_with(".new") && fs::file_size(e.path(), ec) > 0) return true;
    }
    return false;
  };
  for (int i = 0; i < 30000 && !writing(); ++i) usleep(1000);
  kill(pid, SIGINT);
  std::string printed;
  char buffer[4096];
  for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) > 0;) printed.append(buffer, static_cast<std::size_t>(n));
  close(out[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status)) << WTERMSIG(status) << printed;
  EXPECT_EQ(130, WEXITSTATUS(status)) << printed;
  EXPECT_THAT(printed, HasSubstr("big.run: interrupted"));
  EXPECT_THAT(printed, HasSubstr("Interrupted: "));
  EXPECT_THAT(test::ReadFile(Path("Convert.log")), HasSubstr("Interrupted: nothing of this table was written"));
  EXPECT_TRUE(fs::exists(Path("big.run")));
  EXPECT_FALSE(fs::exists(Path("big.runx")));
}

// Every output that cannot be written (a full device, a file-size limit) is reported, and the command fails:
// the report of an import or a conversion, the printed records, an export, the conversion's log.
TEST_F(VeziSafety, OutputsThatCannotBeWrittenFailTheCommand) {
  ASSERT_EQ(0, Vezi({"import", Lines(300), "--into", Path("emis.abs"), "--auto-link"}).exitCode);
  fs::copy(std::string(VEZ_EXAMPLES_DIR) + "/paradox-libs", Path("px"), fs::copy_options::recursive);
  std::ofstream(Path("px/Convert.log"), std::ios::binary) << std::string(1024 * 1024, '-') << '\n';
  const struct {
    const char* command;
    const char* message;
  } cases[] = {
      {"\"$0\" import in.txt --into emis.abs --auto-link --on-exists skip --report /dev/full",
       "vezi: cannot write the report /dev/full: No space left on device\n"},
      {"\"$0\" convert px --dry-run --report no/r.txt", "vezi: cannot write the report no/r.txt: No such file or directory\n"},
      {"\"$0\" dump emis.abs --format csv >/dev/full", "vezi: cannot write the output\n"},  // no stale reason
      {"\"$0\" version >/dev/full", "vezi: cannot write the output: No space left on device\n"},
      {"ulimit -f 4; \"$0\" export emis.abs out.csv", "vezi: Cannot write 'out.csv': File too large\n"},
      {"ulimit -f 4; \"$0\" export emis.abs out.xlsx", "vezi: Cannot write 'out.xlsx'"},
      {"ulimit -f 1024; \"$0\" convert px", "vezi: Error writing to px/Convert.log\nvezi: File too large\n"},
  };
  for (const auto& c : cases) {
    const auto r = test::RunProgram("bash", {"-c", std::string("cd \"$1\" && trap '' XFSZ && ") + c.command,
                                             VEZI_EXECUTABLE, dir_.Path().string()});
    EXPECT_EQ(1, r.exitCode) << c.command << "\n" << r.out << r.err;
    EXPECT_THAT(r.err, HasSubstr(c.message)) << c.command;
  }
  EXPECT_FALSE(fs::exists(Path("out.csv")));
  EXPECT_FALSE(fs::exists(Path("out.xlsx")));
  EXPECT_EQ(std::string(1024 * 1024, '-') + '\n', test::ReadFile(Path("px/Convert.log")).substr(0, 1024 * 1024 + 1));
}

}  // namespace
}  // namespace vez
