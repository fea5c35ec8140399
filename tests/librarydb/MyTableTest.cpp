// TMyTable: aliases, creation, existence, renaming and the deletion of files without a table.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <array>
#include <fstream>
#include <set>

#include "EngineTestUtil.h"
#include "librarydb/Layouts.h"
#include "librarydb/LibraryFile.h"
#include "librarydb/OVLibConst.h"

namespace vez {
namespace {

using test::TempDir;
namespace fs = std::filesystem;

// Makes a small table in `lib`'s file and, given a name, stores one record of that name in it.
void MakeSmallTable(TMyTable& lib, const char* name = nullptr) {
  TABSTable& table = lib.Table();
  table.FieldDefs().Clear();
  table.FieldDefs().Add("Eintrag", ftAutoInc);
  table.FieldDefs().Add("ElementName", ftString, 40);
  table.IndexDefs().Clear();
  table.IndexDefs().Add("p", "Eintrag", ixPrimary);
  lib.CreateDBTable();
  if (name == nullptr) return;
  table.Open();
  test::AppendRecord(table, {{"ElementName", Variant(name)}});
}

TEST(MyTable, BindsTableToAUniqueAliasAndReopens) {
  TempDir dir;
  TMyTable a(dir.File("Time.abs"), false), b(dir.File("Time.abs"), true), bare;
  EXPECT_NE(a.Alias(), b.Alias());
  EXPECT_TRUE(a.Alias().starts_with("Time.abs_") && bare.Alias().find('_') == std::string::npos) << a.Alias();
  EXPECT_EQ((std::vector<std::string>{a.Alias(), "DEFAULT", "Time.abs", dir.File("Time.abs")}),
            (std::vector<std::string>{a.Table().DatabaseName(), a.Table().SessionName(), a.Table().TableName(),
                                      a.Database().DatabaseFileName()}));
  EXPECT_EQ((std::array{false, false, true}), (std::array{a.Database().KeepConnection(), a.MultiUser(), b.ReadOnly()}));
  EXPECT_FALSE(fs::exists(dir.File("Time.abs")));  // nothing opened or made
  EXPECT_FALSE(a.Exists());
  MakeSmallTable(a, "Day");
  EXPECT_TRUE(a.Exists());
  a.Close();
  EXPECT_TRUE(fs::exists(dir.File("Time.abs")));  // a file with its table survives the object
  b.Table().Open();
  EXPECT_EQ(std::pair(1, std::string("Day")),
            std::pair(b.Table().RecordCount(), b.Table().FieldByName("ElementName").AsString()));
}

TEST(MyTable, ClosingDeletesAFileWithoutTable) {
  TempDir dir;
  const std::string file = dir.File("Wind.abs");
  {
    TMyTable lib(file, false);
    lib.Database().CreateDatabase();
    EXPECT_TRUE(fs::exists(file) && !lib.Exists());  // the file is made, its table not yet
  }
  EXPECT_FALSE(fs::exists(file));
  // A file that is not a database is never deleted.
  std::ofstream(file) << std::string(200, 'x');
  {
    TMyTable lib(file, false);
    EXPECT_THROW(lib.Close(), EDatabaseError);
  }
  EXPECT_TRUE(fs::exists(file));
}

TEST(MyTable, ANewLibraryNeverReplacesAFileMadeMeanwhile) {
  TempDir dir;
  const std::string file = dir.File("Wind.abs");
  TMyTable lib(file, false);
  std::ofstream(dir.File(".Old.abs.2147483647-1.new")) << "x";  // a killed run's, which a new library's making takes away
  {
    TNewLibraryFile fresh(lib);
    MakeSmallTable(lib);
    std::ofstream(file) << "theirs";
    EXPECT_THROW_MSG(fresh.Publish(), EDatabaseError,
                     "Cannot create \"" + file + "\": the file was made by another program meanwhile");
  }
  EXPECT_EQ("theirs", test::ReadFile(file));
  EXPECT_EQ(1, std::distance(fs::directory_iterator(dir.Path()), fs::directory_iterator()));  // no passing file
}

// The passing files of runs that are gone go, with their journals and a journal left without its database; the
// passing files of a live run (this process's) and other files stay, in whatever order the folder lists them.
TEST(MyTable, AbandonedPassingFilesGoAndLiveOnesStay) {
  TempDir dir;
  const pid_t gone = fork();
  if (gone == 0) _exit(0);
  waitpid(gone, nullptr, 0);
  std::set<std::string> kept = {"Wind.abs"}, all = kept;
  for (int n = 1; n <= 4; ++n) {
    const std::string number = "-" + std::to_string(n) + ".new";
    kept.insert(".L" + std::to_string(n) + ".abs." + std::to_string(::getpid()) + number);
    all.insert(".D" + std::to_string(n) + ".abs." + std::to_string(gone) + number);
  }
  all.insert(".D1.abs." + std::to_string(gone) + "-1.new-journal");
  all.insert(".J.abs." + std::to_string(gone) + "-1.new-journal");
  all.insert(kept.begin(), kept.end());
  for (const std::string& name : all) std::ofstream(dir.File(name)) << "x";
  EXPECT_EQ(6, RemoveAbandonedLibraryFiles(dir.Path().string()));
  std::set<std::string> left;
  for (const auto& e : fs::directory_iterator(dir.Path())) left.insert(e.path().filename().string());
  EXPECT_EQ(left, kept);
  // Names that only look like passing files: a number that is none or past every process number.
  for (const char* name : {".X.abs.1a-1.new", ".X.abs.99999999999999999999-1.new", ".X.abs.4294967296-1.new"})
    EXPECT_FALSE(IsPassingLibraryFile(dir.File(name))) << name;
}

TEST(MyTable, InitLibRebindsAndFlagsFollow) {
  TempDir dir;
  TMyTable lib;
  const std::string alias = lib.Alias();
  lib.InitLib(dir.Path().string() + "/", "Riwi.abs", true, true);
  EXPECT_EQ((std::vector<std::string>{alias, dir.File("Riwi.abs"), "Riwi.abs"}),
            (std::vector<std::string>{lib.Alias(), lib.Database().DatabaseFileName(), lib.Table().TableName()}));
  EXPECT_TRUE(lib.ReadOnly() && lib.MultiUser());
  lib.SetReadOnly(false);
  EXPECT_FALSE(lib.ReadOnly() || lib.Database().ReadOnly() || lib.Table().ReadOnly());
  lib.Table().SetReadOnly(true);  // either part read-only makes the library read-only
  EXPECT_TRUE(lib.ReadOnly());
  lib.Database().SetLockWaitSeconds(1);
  lib.SetMultiUser(false);
  EXPECT_EQ(std::pair(false, 5), std::pair(lib.MultiUser(), lib.Database().LockWaitSeconds()));
  EXPECT_FALSE(lib.Exists());
}

TEST(MyTable, RenameMovesTheFileAndTheTable) {
  TempDir dir;
  TempDir other;
  TMyTable lib(dir.File("emis.abs"), false);
  MakeSmallTable(lib, "kept");
  lib.Rename(other.Path().string() + "/", "EmisOld.abs");
  EXPECT_EQ(std::pair(false, true), std::pair(fs::exists(dir.File("emis.abs")), fs::exists(other.File("EmisOld.abs"))));
  EXPECT_EQ(lib.Table().TableName(), "EmisOld.abs");
  EXPECT_EQ(lib.Database().GetTablesList(), std::vector<std::string>{"EmisOld.abs"});
  lib.Table().Open();
  EXPECT_EQ(lib.Table().FieldByName("ElementName").AsString(), "kept");
  // A target that exists already: nothing moves, the table keeps its name.
  lib.Table().Close();
  { std::ofstream(other.File("taken.abs")) << "x"; }
  EXPECT_THROW(lib.Rename(other.Path().string() + "/", "taken.abs"), EDatabaseError);
  EXPECT_EQ(lib.Database().GetTablesList(), std::vector<std::string>{"EmisOld.abs"});
}

// Old libraries carry upper-case names: every look-up finds the file whatever the case of its name.
TEST(MyTable, FindsLibrariesInAnyLetterCaseRenamesByCaseAndOpensCopies) {
  TempDir dir;
  {
    TMyTable lib(dir.File("EMIS.abs"), false);
    MakeSmallTable(lib, "old");
  }
  {
    TMyTable lib(dir.File(LibName(ltEmis)), false);
    EXPECT_TRUE(lib.Exists());
    lib.Table().Open();
    EXPECT_EQ(1, lib.Table().RecordCount());
    lib.Table().Close();
    EXPECT_THROW(lib.CreateDBTable(), EDatabaseError);  // it exists already
    lib.Rename(dir.Path().string() + "/", "Emis.ABS");   // a case-only rename
  }
  EXPECT_TRUE(fs::exists(dir.File("Emis.ABS")));
  EXPECT_FALSE(fs::exists(dir.File("EMIS.abs")));
  {
    TMyTable lib(dir.File("Emis.ABS"), true);
    lib.Table().Open();
    EXPECT_EQ("Emis.ABS", lib.Table().TableName());
  }
  // A copy under another name keeps its table under the old name: it opens as the library it is, and nothing
  // adds a second table to it.
  fs::copy_file(dir.File("Emis.ABS"), dir.File("emis_projektA.abs"));
  TMyTable copy(dir.File("emis_projektA.abs"), false);
  EXPECT_TRUE(copy.Exists());
  EXPECT_THROW_MSG(MakeSmallTable(copy), EDatabaseError,
                   "Cannot create table 'emis_projektA.abs' in \"" + dir.File("emis_projektA.abs") +
                       "\": the file holds the table 'Emis.ABS' already, and a library file holds one table");
  copy.Table().Open();
  EXPECT_EQ(std::pair(1, std::string("Emis.ABS")), std::pair(copy.Table().RecordCount(), copy.Table().TableNameInFile()));
  // Two files that differ only in case: an error naming both.
  fs::copy_file(dir.File("Emis.ABS"), dir.File("EMIS.ABS"));
  TMyTable twin(dir.File("emis.abs"), true);
  EXPECT_THROW_MSG(twin.Exists(), EDatabaseError,
                   "\"" + dir.File("EMIS.ABS") + "\" and \"" + dir.File("Emis.ABS") +
                       "\" differ only in letter case: rename one of them");
}

// A library made under a name of its own records its type, and every copy keeps it; a name of another type is
// refused, not guessed, and a name that tells the type needs no record.
TEST(MyTable, LibraryTypeOfAFileUnderItsOwnName) {
  TempDir dir;
  const std::string own = CreateLibraryFile(ltEmis, dir.Path().string(), false, "New", "imp.abs");
  EXPECT_EQ(RecordedLibType(CreateLibraryFile(ltEmis, dir.Path().string(), false)), -1);  // type 0 by its name
  fs::create_directory(dir.File("copies"));
  for (const char* copy : {"copy.abs", "Absor.abs"}) fs::copy_file(own, dir.File("copies/") + copy);
  std::ofstream(dir.File("copies/emis.abs"));  // an empty file under the name of type 0: the name tells it
  EXPECT_EQ(std::vector<std::int32_t>({RecordedLibType(own), TLibraryFile(own, false).LibType(),
                                       LibTypeOfFile(dir.File("copies/copy.abs")), LibTypeOfFile(dir.File("new.abs")),
                                       LibTypeOfFile(dir.File("copies/emis.abs"))}),
            std::vector<std::int32_t>({ltEmis, ltEmis, ltEmis, -1, ltEmis}));
  // A writer killed in a transaction leaves a hot journal: the type is read once the journal is rolled back.
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    sqlite3* db = nullptr;
    sqlite3_open_v2(dir.File("copies/copy.abs").c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
    sqlite3_exec(db, "PRAGMA cache_size=1; BEGIN; CREATE TABLE filler(x); WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL "
                     "SELECT i+1 FROM n WHERE i<3000) INSERT INTO filler SELECT randomblob(200) FROM n;", nullptr, nullptr, nullptr);
    _exit(0);  // killed before COMMIT
  }
  ASSERT_EQ(waitpid(pid, nullptr, 0), pid);
  ASSERT_TRUE(fs::exists(dir.File("copies/copy.abs-journal")));
  EXPECT_EQ(LibTypeOfFile(dir.File("copies/copy.abs")), ltEmis);
  EXPECT_THROW_MSG(LibTypeOfFile(dir.File("copies/Absor.abs")), Exception,
                   "\"Absor.abs\" records the library type 0 ltEmis, but its name is that of 1 ltAbsor; give it a name "
                   "of its own type, or one that names no type");
  std::ofstream(dir.File("text.abs")) << std::string(1000, 'x');
  EXPECT_THROW_MSG(RecordLibType(dir.File("text.abs"), ltEmis), EDatabaseError,
                   "Cannot record the library type in \"" + dir.File("text.abs") + "\": file is not a database");
}

}  // namespace
}  // namespace vez
