// Tables converted in jobs of their own: the same libraries and log as one after the other, a failing or killed
// job that costs only its own table, several folders in one run.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <regex>

#include "TestUtil.h"
#include "convert/ConvertParadox.h"
#include "convert/internal/JobPool.h"
#include "core/Exceptions.h"
#include "core/FormatSettings.h"
#include "pxwriter/PxWriter.h"

namespace vez {
namespace {

namespace fs = std::filesystem;
using pxw::Writer;

void WriteEmis(const std::string& path, int records) {
  Writer w({{"Eintrag", 22, 4}, {"ElementName", 1, 40}, {"Values1", 6, 8}, {"Kommentar", 12, 11}});
  for (int r = 1; r <= records; ++r) {
    w.AddRecord({Writer::Long(r), Writer::Char("Quelle " + std::to_string(r), 40), Writer::Number(40.5 + r % 50),
                 w.Blob("Notiz " + std::to_string(r), 11)});
  }
  w.Write(path);
}

void WriteRun(const std::string& path, int records) {
  Writer w({{"No", 4, 4}, {"Name", 1, 20}, {"Calc", 1, 10}, {"CalcType", 1, 10}, {"Results", 1, 10}});
  for (int r = 0; r < records; ++r) {
    w.AddRecord({Writer::Long(r % 3), Writer::Char("run" + std::to_string(r), 20), Writer::Char("c", 10),
                 Writer::Char("Grid", 10), Writer::Char("R", 10)});
  }
  w.Write(path);
}

// A project tree: libraries of several types in three levels, a table that is no library, a never-converted
// one, and a damaged table whose block chain is cut short.
void WriteProject(const fs::path& root) {
  for (const char* sub : {"a", "b", "c/d"}) fs::create_directories(root / sub);
  WriteEmis(root / "emis.db", 30);
  WriteRun(root / "X.run", 20);
  WriteRun(root / "Nolib.db", 2);
  WriteRun(root / "Thumbs.db", 1);
  WriteEmis(root / "a/emis.db", 400);
  WriteEmis(root / "b/emis.db", 400);
  fs::resize_file(root / "b/emis.db", fs::file_size(root / "b/emis.db") / 2);
  WriteRun(root / "b/Y.run", 5);
  WriteEmis(root / "c/d/emis.db", 10);
}

// Every table of a library file, row by row, cell by cell (type and text); the time of today's conversion that
// the new-record defaults give stands as "<now>".
std::vector<std::string> Cells(const fs::path& file) {
  const std::regex now(FormatDateTime("yyyy-mm-dd", Now()) + "T[0-9:.]+");
  sqlite3* db = nullptr;
  std::vector<std::string> cells;
  sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  std::vector<std::string> tables;
  sqlite3_exec(db, "SELECT name FROM sqlite_master WHERE type='table' ORDER BY name",
               [](void* out, int, char** values, char**) {
                 static_cast<std::vector<std::string>*>(out)->push_back(values[0]);
                 return 0;
               },
               &tables, nullptr);
  for (const std::string& table : tables) {
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db, ("SELECT * FROM \"" + table + "\"").c_str(), -1, &st, nullptr);
    while (sqlite3_step(st) == SQLITE_ROW) {
      for (int c = 0; c < sqlite3_column_count(st); ++c) {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(st, c));
        cells.push_back(std::to_string(sqlite3_column_type(st, c)) + ":" +
                        std::regex_replace(text ? text : "", now, "<now>"));
      }
    }
    sqlite3_finalize(st);
  }
  sqlite3_close(db);
  return cells;
}

// The files of a tree by their path inside it, in order.
std::vector<std::string> Files(const fs::path& root) {
  std::vector<std::string> files;
  for (const auto& e : fs::recursive_directory_iterator(root))
    if (e.is_regular_file()) files.push_back(fs::relative(e.path(), root).string());
  std::sort(files.begin(), files.end());
  return files;
}

// The log of a folder with its path as "<root>/" and the time of its header line left out.
std::vector<std::string> Log(const fs::path& root) {
  std::vector<std::string> lines;
  for (std::string line : test::SplitLines(test::ReadFile((root / "Convert.log").string()))) {
    for (std::size_t at; (at = line.find(root.string() + "/")) != std::string::npos;)
      line.replace(at, root.string().size() + 1, "<root>/");
    lines.push_back(lines.empty() ? line.substr(line.find(' ', line.find(' ') + 1)) : line);
  }
  return lines;
}

TConvertOptions Jobs(int jobs) {
  TConvertOptions options;
  options.Jobs = jobs;
  return options;
}

// The pool itself: messages as they come, and how each job ended (a result, its exception's text, its exit code,
// or no result).
TEST(ConvertJobs, PoolReportsHowEachJobEnded) {
  std::map<std::size_t, std::string> ends;
  detail::TJobHooks hooks;
  hooks.Message = [&](std::size_t job, std::string_view m) { ends[job] += std::string(m) + ";"; };
  hooks.Finished = [&](std::size_t job, detail::TJobEnd end) { ends[job] += end.Finished ? "+" + end.Result : end.Failure; };
  const auto work = [](std::size_t job, detail::TJobChannel& channel) {
    channel.Message("m" + std::to_string(job));
    if (job == 1) throw std::runtime_error("no table");
    if (job == 2) ::_exit(3);
    if (job == 0) channel.Result("done");
    if (job == 4) channel.Result("");  // an empty frame last in the pipe
  };
  detail::RunJobs(5, 2, work, hooks);
  EXPECT_EQ((std::map<std::size_t, std::string>{
                {0, "m0;+done"}, {1, "m1;no table"}, {2, "m2;ended with exit code 3"},
                {3, "m3;ended without a result"}, {4, "m4;+"}}),
            ends);
}

TEST(ConvertJobs, FourJobsGiveTheLibrariesAndTheLogOfOne) {
  test::TempDir dir;
  const fs::path one = dir.Path() / "one", four = dir.Path() / "four";
  WriteProject(one);
  fs::copy(one, four, fs::copy_options::recursive);
  TConversionSummary serial, parallel;
  ConvertParadoxFiles(one.string(), true, true, nullptr, &serial, Jobs(1));
  ConvertParadoxFiles(four.string(), true, true, nullptr, &parallel, Jobs(4));

  EXPECT_EQ(Log(one), Log(four));
  ASSERT_EQ(Files(one), Files(four));
  for (const std::string& file : Files(one)) {
    if (file.ends_with(".abs") || file.ends_with(".runx")) {
      EXPECT_EQ(Cells(one / file), Cells(four / file)) << file;
    }
  }
  ASSERT_EQ(serial.Tables.size(), parallel.Tables.size());
  for (std::size_t i = 0; i < serial.Tables.size(); ++i) {
    const TConvertedTable &s = serial.Tables[i], &p = parallel.Tables[i];
    EXPECT_EQ(std::tie(s.Outcome, s.RecordsWritten, s.Complete, s.Verified, s.Reason, s.Errors),
              std::tie(p.Outcome, p.RecordsWritten, p.Complete, p.Verified, p.Reason, p.Errors)) << s.Source;
    EXPECT_EQ(std::pair(true, true), std::pair(s.PeakMemoryKB == 0, p.PeakMemoryKB > 0));  // 0: the caller's process
  }
  // The damaged table is kept; the tables beside it and after it are complete and deleted.
  for (const TConvertedTable& t : parallel.Tables) {
    const bool damaged = t.Source.ends_with("b/emis.db");
    EXPECT_EQ(!damaged && t.LibType >= 0, t.Complete) << t.Source;
    EXPECT_EQ(damaged || t.LibType < 0, fs::exists(t.Source)) << t.Source;
  }
}

// A job killed while it converts costs its own table only: the others go on, the summary names it with its signal,
// nothing of it is left (its new library's passing file goes too), and the next run completes it.
TEST(ConvertJobs, KilledJobCostsOnlyItsTable) {
  test::TempDir dir;
  fs::create_directory(dir.Path() / "a");
  WriteEmis(dir.File("emis.db"), 20);
  WriteEmis(dir.File("a/emis.db"), 20000);
  WriteRun(dir.File("X.run"), 10);
  struct Killer : TConversionView {  // kills the large job at its first records (the small table has 20): its library is begun
    int pid = 0;
    void JobStarted(const std::string& source, int started) override { if (source.ends_with("a/emis.db")) pid = started; }
    void RunProgress(const TRunProgress& p) override { if (pid && p.Records > 20) kill(std::exchange(pid, 0), SIGKILL); }
  } killer;
  TConversionSummary summary;
  ConvertParadoxFiles(dir.Path().string(), true, true, &killer, &summary, Jobs(2));
  ASSERT_EQ(3u, summary.Tables.size());
  const TConvertedTable& killed = summary.Tables[2];
  EXPECT_EQ(std::pair(TTableOutcome::Failed, 1), std::pair(killed.Outcome, killed.Errors));
  for (const std::string& text : {killed.Reason, test::ReadFile(dir.File("Convert.log"))})
    EXPECT_THAT(text, ::testing::HasSubstr("killed by signal 9"));
  EXPECT_TRUE(summary.Tables[0].Complete && summary.Tables[1].Complete);
  EXPECT_EQ((std::vector<std::string>{"Convert.log", "X.runx", "a/emis.db", "a/emis.mb", "emis.abs"}), Files(dir.Path()));

  ConvertParadoxFiles(dir.Path().string(), true, true, nullptr, &summary, Jobs(2));
  ASSERT_EQ(1u, summary.Tables.size());
  EXPECT_TRUE(summary.Tables[0].Complete);
  EXPECT_EQ((std::vector<std::string>{"Convert.log", "X.runx", "a/emis.abs", "emis.abs"}), Files(dir.Path()));
}

// Two folders in one run: both converted, each with its own log, both locked against other runs, and each
// subfolder while its tables convert; folders given twice or inside a folder converted with its subfolders are refused.
TEST(ConvertJobs, TwoFoldersAtOnceAreBothConvertedAndLocked) {
  test::TempDir dir;
  const fs::path a = dir.Path() / "a", b = dir.Path() / "b";
  for (const fs::path& folder : {a, b}) {
    fs::create_directories(folder / "sub");
    WriteEmis(folder / "emis.db", 50);
    WriteEmis(folder / "sub/emis.db", 50);
  }
  struct LockProbe : TConversionView {
    void JobStarted(const std::string& source, int) override {
      for (const fs::path& folder : {folders[0], folders[1], fs::path(source).parent_path()}) {
        const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY);
        locked.push_back(::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK);
        ::close(fd);
      }
    }
    std::vector<fs::path> folders;
    std::vector<bool> locked;
  } probe;
  probe.folders = {a, b};
  std::vector<TConversionSummary> summaries;
  ConvertParadoxFolders({a.string(), b.string()}, true, false, &probe, &summaries, Jobs(2));
  ASSERT_EQ(2u, summaries.size());
  for (const auto& summary : summaries) {
    ASSERT_EQ(2u, summary.Tables.size());
    for (const auto& t : summary.Tables) EXPECT_TRUE(t.Complete) << t.Source;
    EXPECT_TRUE(fs::exists(summary.LogFile));
  }
  EXPECT_EQ(12u, probe.locked.size());
  EXPECT_THAT(probe.locked, ::testing::Each(true));
  EXPECT_THROW_MSG(ConvertParadoxFolders({a.string(), (a / "sub").string()}, true, false, nullptr, nullptr, Jobs(2)),
                   Exception,
                   "\"" + (a / "sub").string() + "\" lies inside \"" + a.string() +
                       "\", whose subfolders are converted with it");
  EXPECT_THROW(ConvertParadoxFolders({a.string(), a.string() + "/"}, false, false, nullptr, nullptr, Jobs(2)),
               Exception);
}

}  // namespace
}  // namespace vez
