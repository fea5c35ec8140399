// The run of a conversion: the walk of its folders, the tables converted one after the other or in jobs of their
// own, and the frame of each start folder (its lock, its log's header, deletion and "Convert.log").
//
// A run first plans each start folder: the folder lines and the tables of its walk in the order a run logs them
// (folders in walk order, in each the four passes). Then the tables are converted, Options.Jobs at a time, and
// their results are replayed into each folder's log in plan order as soon as every result before them is in: a
// table's log lines, its place on the delete list, its "Keeping" line and its report. So the log of a run with
// several jobs is the log a run with one job writes.
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>

#include "convert/ConvertParadox.h"
#include "convert/internal/JobPool.h"
#include "convert/internal/Walk.h"
#include "core/CaseFold.h"
#include "core/Exceptions.h"
#include "core/FileMask.h"
#include "core/FormatSettings.h"
#include "librarydb/OVLibConst.h"
#include "settings/IniConsts.h"

namespace vez {

namespace fs = std::filesystem;
using namespace detail;

// ---- the walk's helpers ----

namespace detail {

std::vector<DirEntry> ListFolder(const std::string& folder) {
  std::vector<DirEntry> entries;
  for (const auto& e : fs::directory_iterator(fs::path(folder))) {
    std::error_code ec;
    DirEntry d;
    d.Name = e.path().filename().string();
    d.IsLink = e.is_symlink(ec);
    d.IsDirectory = e.is_directory(ec);
    entries.push_back(std::move(d));
  }
  std::sort(entries.begin(), entries.end(), [](const DirEntry& a, const DirEntry& b) {
    const int c = CompareText(a.Name, b.Name);
    return c != 0 ? c < 0 : a.Name < b.Name;
  });
  return entries;
}

namespace {

// Companion files of a Paradox table, deleted with it.
std::vector<std::string> CompanionExtensions() {
  std::vector<std::string> exts = {".mb", ".px", ".val"};
  for (char d = '0'; d <= '9'; ++d)
    for (const char* stem : {".xg", ".yg", ".x0", ".y0"}) exts.push_back(std::string(stem) + d);
  return exts;
}

}  // namespace

std::vector<std::string> DeleteTableFiles(const std::string& path) {
  const fs::path p(path);
  const std::string stem = p.stem().string();
  std::vector<std::string> wanted = {FoldCase(p.filename().string())};
  for (const auto& ext : CompanionExtensions()) wanted.push_back(FoldCase(stem + ext));
  std::error_code ec;
  std::vector<fs::path> victims;
  for (fs::directory_iterator it(p.parent_path(), ec), end; !ec && it != end; it.increment(ec)) {
    if (std::find(wanted.begin(), wanted.end(), FoldCase(it->path().filename().string())) != wanted.end())
      victims.push_back(it->path());
  }
  std::vector<std::string> deleted;
  for (const auto& v : victims)
    if (fs::remove(v, ec)) deleted.push_back(v.string());
  return deleted;
}

FolderLock::FolderLock(const std::string& folder) {
  fd_ = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd_ < 0) return;  // the walk reports a folder it cannot open
  while (::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
  }
}

FolderLock::~FolderLock() {
  if (fd_ >= 0) ::close(fd_);  // closing releases the lock
}

}  // namespace detail

// ---- the plan of a start folder ----

struct TConvParadox::Plan {
  struct Folder {
    std::string Path;
    std::vector<std::string> NeverConverted;  // delete-list entries of the never-converted names
    std::int32_t Tables = 0;                  // its tables not yet finished (while the run holds its lock)
    std::unique_ptr<FolderLock> Lock;
  };
  struct Table {
    std::size_t Folder = 0;
    std::string Name, Target;
    std::string Precheck;  // why it is not converted at all (names that differ only in letter case)
  };
  enum class StepKind { Folder, Table, WalkError };
  struct Step {
    StepKind Kind = StepKind::Folder;
    std::size_t Index = 0;  // the folder or the table
    std::string Error;      // the failure of the walk, for WalkError
  };
  std::vector<Folder> Folders;
  std::vector<Table> Tables;
  std::vector<Step> Steps;
  std::size_t Replayed = 0;  // steps replayed into the log
  std::string WalkError;     // the failure that ended the walk, once its step is replayed
};

namespace {

// Counts the candidate tables of a walk (for the progress), as the walk itself will find them.
std::int32_t CountTables(const std::string& folder, bool recursive) {
  std::vector<DirEntry> entries;
  try {
    entries = ListFolder(folder);
  } catch (const std::exception&) {
    return 0;  // the walk itself reports the folder's failure
  }
  std::int32_t count = 0;
  for (const auto& e : entries) {
    for (const Pass& p : kPasses) {
      if (e.IsDirectory || !MatchesMask(e.Name, p.Mask)) continue;
      const bool neverConverted = std::any_of(std::begin(kNeverConverted), std::end(kNeverConverted),
                                              [&](const char* n) { return SameTextFolded(n, e.Name); });
      if (!(p.SkipListed && neverConverted)) ++count;
    }
  }
  if (!recursive) return count;
  for (const auto& e : entries)
    if (e.IsDirectory && !e.IsLink) count += CountTables(folder + e.Name + "/", recursive);
  return count;
}

// Plans a folder and, when recursive, its subfolders (walk order); a folder that cannot be listed ends the walk
// there, as it ends a run. Under its lock, a folder loses what a killed run left in it (the passing files of new
// libraries whose process is gone), unless the run is a dry run, which writes nothing. Gives False when the walk
// ended.
bool PlanFolder(TConvParadox::Plan& plan, const std::string& startFolder, const std::string& folder, bool recursive,
                bool dryRun) {
  using Plan = TConvParadox::Plan;
  std::vector<DirEntry> entries;
  {
    // The start folder is locked by the run itself; a subfolder while it is listed (and again while its tables
    // convert).
    std::unique_ptr<FolderLock> lock;
    if (folder != startFolder) lock = std::make_unique<FolderLock>(folder);
    const std::size_t index = plan.Folders.size();
    plan.Folders.push_back(Plan::Folder{folder, {}, 0, nullptr});
    plan.Steps.push_back(Plan::Step{Plan::StepKind::Folder, index, {}});
    try {
      if (!dryRun) RemoveAbandonedLibraryFiles(folder);
      entries = ListFolder(folder);
    } catch (const std::exception& e) {
      plan.Steps.push_back(Plan::Step{Plan::StepKind::WalkError, 0, e.what()});
      return false;
    }
    // The never-converted tables go on the delete list under the name they have on disk, in whatever case.
    std::vector<std::string> neverConverted;
    for (const char* name : kNeverConverted) {
      const auto found = std::find_if(entries.begin(), entries.end(), [&](const DirEntry& e) {
        return !e.IsDirectory && SameTextFolded(name, e.Name);
      });
      neverConverted.push_back(folder + (found != entries.end() ? found->Name : std::string(name)));
    }
    // Names that differ only in letter case would meet in one library: such tables are left alone.
    std::map<std::string, std::vector<std::string>> byFolded;
    for (const auto& e : entries)
      if (!e.IsDirectory) byFolded[FoldCase(e.Name)].push_back(e.Name);
    for (const Pass& pass : kPasses) {
      for (const auto& e : entries) {
        if (e.IsDirectory || !MatchesMask(e.Name, pass.Mask)) continue;
        const bool listed = std::any_of(neverConverted.begin(), neverConverted.end(),
                                        [&](const std::string& n) { return SameTextFolded(n, folder + e.Name); });
        if (pass.SkipListed && listed) continue;
        Plan::Table table{index, e.Name, ChangeFileExt(e.Name, pass.NewExtension), {}};
        for (const auto* twins : {&byFolded[FoldCase(e.Name)], &byFolded[FoldCase(table.Target)]}) {
          if (twins->size() > 1 && table.Precheck.empty()) {
            table.Precheck = Format("\"%s\" and \"%s\" differ only in letter case", folder + (*twins)[0],
                                    folder + (*twins)[1]);
          }
        }
        plan.Steps.push_back(Plan::Step{Plan::StepKind::Table, plan.Tables.size(), {}});
        plan.Tables.push_back(std::move(table));
        ++plan.Folders[index].Tables;
      }
    }
    plan.Folders[index].NeverConverted = std::move(neverConverted);
  }
  if (!recursive) return true;
  for (const auto& e : entries) {
    if (e.IsDirectory && !e.IsLink && e.Name != "." && e.Name != "..") {
      if (!PlanFolder(plan, startFolder, folder + e.Name + "/", recursive, dryRun)) return false;
    }
  }
  return true;
}

// ---- a table's result, as a job sends it ----

struct TableResult {
  std::vector<std::string> Lines;
  TConvertedTable Report;
};

class Encoder {
public:
  void Int(std::int64_t v) { bytes_.append(reinterpret_cast<const char*>(&v), sizeof v); }
  void Text(const std::string& s) {
    Int(static_cast<std::int64_t>(s.size()));
    bytes_ += s;
  }
  std::string& Bytes() { return bytes_; }

private:
  std::string bytes_;
};

class Decoder {
public:
  explicit Decoder(std::string_view bytes) : bytes_(bytes) {}
  std::int64_t Int() {
    std::int64_t v = 0;
    Need(sizeof v);
    std::memcpy(&v, bytes_.data() + at_, sizeof v);
    at_ += sizeof v;
    return v;
  }
  std::int32_t Int32() { return static_cast<std::int32_t>(Int()); }
  std::string Text() {
    const auto n = static_cast<std::size_t>(Int());
    Need(n);
    std::string s(bytes_.substr(at_, n));
    at_ += n;
    return s;
  }

private:
  void Need(std::size_t n) const {
    if (bytes_.size() - at_ < n) throw Exception("the result of a conversion job is cut short");
  }
  std::string_view bytes_;
  std::size_t at_ = 0;
};

std::string EncodeResult(const TableResult& result) {
  Encoder e;
  e.Int(static_cast<std::int64_t>(result.Lines.size()));
  for (const auto& line : result.Lines) e.Text(line);
  const TConvertedTable& r = result.Report;
  e.Text(r.Source);
  e.Text(r.Target);
  for (std::int64_t v : {std::int64_t{r.LibType}, std::int64_t{r.RecordsInHeader}, std::int64_t{r.RecordsRead},
                         std::int64_t{r.RecordsWritten}, std::int64_t{r.LibraryRecords}, std::int64_t{r.TextCut},
                         std::int64_t{r.Rejected}, std::int64_t{r.Errors}, std::int64_t{r.Converted},
                         static_cast<std::int64_t>(r.Outcome), std::int64_t{r.Verified}, std::int64_t{r.Differences},
                         std::int64_t{r.Complete}})
    e.Int(v);
  e.Int(static_cast<std::int64_t>(r.DroppedFields.size()));
  for (const auto& d : r.DroppedFields) {
    e.Text(d.Name);
    e.Int(d.Values);
  }
  e.Int(static_cast<std::int64_t>(r.FirstDifferences.size()));
  for (const auto& d : r.FirstDifferences) {
    e.Int(d.Record);
    e.Text(d.Field);
    e.Text(d.TableValue);
    e.Text(d.LibraryValue);
  }
  e.Text(r.Reason);
  return std::move(e.Bytes());
}

TableResult DecodeResult(std::string_view bytes) {
  Decoder d(bytes);
  TableResult result;
  for (std::int64_t n = d.Int(); n > 0; --n) result.Lines.push_back(d.Text());
  TConvertedTable& r = result.Report;
  r.Source = d.Text();
  r.Target = d.Text();
  r.LibType = d.Int32();
  r.RecordsInHeader = d.Int32();
  r.RecordsRead = d.Int32();
  r.RecordsWritten = d.Int32();
  r.LibraryRecords = d.Int32();
  r.TextCut = d.Int32();
  r.Rejected = d.Int32();
  r.Errors = d.Int32();
  r.Converted = d.Int() != 0;
  r.Outcome = static_cast<TTableOutcome>(d.Int());
  r.Verified = d.Int() != 0;
  r.Differences = d.Int32();
  r.Complete = d.Int() != 0;
  for (std::int64_t n = d.Int(); n > 0; --n) {
    TDroppedField f;
    f.Name = d.Text();
    f.Values = d.Int32();
    r.DroppedFields.push_back(std::move(f));
  }
  for (std::int64_t n = d.Int(); n > 0; --n) {
    TCellDifference c;
    c.Record = d.Int32();
    c.Field = d.Text();
    c.TableValue = d.Text();
    c.LibraryValue = d.Text();
    r.FirstDifferences.push_back(std::move(c));
  }
  r.Reason = d.Text();
  return result;
}

// The report of a table whose conversion did not give one: its log lines are "Converting" and the error.
TableResult FailedResult(const std::string& folder, const std::string& name, const std::string& target,
                         const std::string& why) {
  TableResult result;
  result.Lines = {Format(kConvertingLine, folder + name), ErrorLine(why)};
  TConvertedTable& r = result.Report;
  r.Source = folder + name;
  r.Target = folder + target;
  r.Errors = 1;
  r.Outcome = TTableOutcome::Failed;
  r.Reason = why;
  return result;
}

// Converts one planned table; its log lines are collected apart, to be replayed into the folder's log.
TableResult ConvertTable(const std::string& folder, const TConvParadox::Plan::Table& t, const TConvertOptions& options,
                         TConversionView* view) {
  if (!t.Precheck.empty()) return FailedResult(folder, t.Name, t.Target, t.Precheck);
  TableResult result;
  TConvertLog memo;
  try {
    ParadoxToABS(&memo, view, folder, folder, t.Name, t.Target, &result.Report, options);
  } catch (const std::exception& ex) {
    TableResult failed = FailedResult(folder, t.Name, t.Target, ex.what());
    for (const auto& item : memo.Lines()) result.Lines.push_back(item.Text);
    result.Lines.push_back(failed.Lines.back());
    result.Report = failed.Report;
    return result;
  }
  for (const auto& item : memo.Lines()) result.Lines.push_back(item.Text);
  return result;
}

// ---- a job's own process ----

volatile std::sig_atomic_t gJobStop = 0;
extern "C" void OnJobStop(int) { gJobStop = 1; }

// The view of a table converted in a job: its record progress goes to the run as a message.
class JobView : public TConversionView {
public:
  explicit JobView(TJobChannel& channel) : channel_(channel) {}
  void RecordProgress(std::int32_t done, std::int32_t) override {
    Encoder e;
    e.Int(done);
    channel_.Message(e.Bytes());
  }

private:
  TJobChannel& channel_;
};

}  // namespace

// ---- the run ----

// The tables of every start folder of a run, converted Options.Jobs at a time and replayed into their logs.
struct TConversionRun {
  struct Job {
    TConvParadox* Form = nullptr;
    std::size_t Table = 0;  // in the form's plan
    bool Started = false;
    std::optional<TableResult> Result;
    std::int64_t Records = 0;  // read so far (progress)
  };

  // Plans a start folder: the count of its tables and its walk.
  static void PlanStart(TConvParadox& form) {
    form.plan_ = std::make_unique<TConvParadox::Plan>();
    form.totalTables_ = CountTables(form.Folder, form.Recursive);
    PlanFolder(*form.plan_, form.Folder, form.Folder, form.Recursive, form.Options.DryRun);
  }
  // The failure that ended a start folder's walk ("" when it ended well).
  static std::string WalkError(const TConvParadox& form) { return form.plan_ ? form.plan_->WalkError : std::string(); }

  TConversionRun(std::vector<TConvParadox*> forms, TConversionView* view, const TConvertOptions& options)
      : forms_(std::move(forms)), view_(view), options_(options), start_(std::chrono::steady_clock::now()) {
    for (TConvParadox* form : forms_) {
      for (std::size_t i = 0; i < form->plan_->Tables.size(); ++i) {
        Job job;
        job.Form = form;
        job.Table = i;
        jobs_.push_back(std::move(job));
      }
      total_ += form->totalTables_;
    }
  }

  void Run() {
    if (view_) view_->RunStarted(total_);
    Replay();
    if (options_.Jobs <= 1) {
      RunHere();
    } else {
      RunInJobs();
    }
    for (TConvParadox* form : forms_) {
      form->interrupted_ = form->interrupted_ || form->tableIndex_ < static_cast<std::int32_t>(form->plan_->Tables.size());
      form->plan_->Folders.clear();  // every lock of the walk goes
    }
  }

private:
  const TConvParadox::Plan::Table& TableOf(const Job& job) const { return job.Form->plan_->Tables[job.Table]; }
  const std::string& FolderOf(const Job& job) const {
    return job.Form->plan_->Folders[TableOf(job).Folder].Path;
  }

  // The lock of a job's folder, taken when its first table starts and given back when its last one is done.
  void LockFolder(const Job& job) {
    TConvParadox::Plan::Folder& folder = job.Form->plan_->Folders[TableOf(job).Folder];
    if (folder.Path != job.Form->Folder && !folder.Lock) folder.Lock = std::make_unique<FolderLock>(folder.Path);
  }
  void TableDone(const Job& job) {
    TConvParadox::Plan::Folder& folder = job.Form->plan_->Folders[TableOf(job).Folder];
    if (--folder.Tables == 0) folder.Lock.reset();
  }

  void Started(Job& job) {
    job.Started = true;
    ++running_;
    TConvParadox& form = *job.Form;
    ++form.tableIndex_;
    ++started_;
    if (view_) view_->TableStarted(started_, std::max(total_, started_), FolderOf(job) + TableOf(job).Name);
    Progress();
  }

  void Finished(Job& job, TableResult result) {
    --running_;
    ++done_;
    Count(job, std::max<std::int64_t>(job.Records, result.Report.RecordsRead));
    if (result.Report.Outcome == TTableOutcome::Interrupted) interrupted_ = true;
    job.Result = std::move(result);
    TableDone(job);
    Replay();
    Progress();
  }

  // The records read so far of a job's table.
  void Count(Job& job, std::int64_t records) {
    records_ += records - job.Records;
    job.Records = records;
  }

  void Progress() {
    if (!view_) return;
    TRunProgress p;
    p.TablesDone = done_;
    p.TablesRunning = running_;
    p.TablesTotal = std::max(total_, started_);
    p.Records = records_;
    p.Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    view_->RunProgress(p);
  }

  // One table after the other, in this process: the view sees each table as it converts.
  void RunHere() {
    // Forwards the view's calls and counts the records of the running table for the run's progress.
    struct CountingView : TConversionView {
      CountingView(TConversionRun& run, Job& job) : run_(run), job_(job) {}
      void SetFileText(const std::string& text) override {
        if (run_.view_) run_.view_->SetFileText(text);
      }
      void ProcessMessages() override {
        if (run_.view_) run_.view_->ProcessMessages();
      }
      void RecordProgress(std::int32_t done, std::int32_t total) override {
        run_.Count(job_, done);
        if (run_.view_) run_.view_->RecordProgress(done, total);
        run_.Progress();
      }
      TConversionRun& run_;
      Job& job_;
    };
    for (Job& job : jobs_) {
      if (interrupted_) break;
      LockFolder(job);
      Started(job);
      CountingView view(*this, job);
      Finished(job, ConvertTable(FolderOf(job), TableOf(job), job.Form->Options, &view));
    }
  }

  // Options.Jobs tables at a time, each in a process of its own.
  void RunInJobs() {
    TJobHooks hooks;
    hooks.Starting = [this](std::size_t i) { LockFolder(jobs_[i]); };
    hooks.Started = [this](std::size_t i, pid_t pid) {
      Started(jobs_[i]);
      if (view_) view_->JobStarted(FolderOf(jobs_[i]) + TableOf(jobs_[i]).Name, static_cast<int>(pid));
    };
    hooks.Message = [this](std::size_t i, std::string_view message) {
      Count(jobs_[i], Decoder(message).Int());
      Progress();
    };
    hooks.Finished = [this](std::size_t i, TJobEnd end) {
      Job& job = jobs_[i];
      const auto& t = TableOf(job);
      TableResult result;
      if (end.Finished) {
        try {
          result = DecodeResult(end.Result);
        } catch (const std::exception& e) {
          result = FailedResult(FolderOf(job), t.Name, t.Target, e.what());
        }
      } else {
        // The job's process ended without its result (it crashed or was killed): its transaction never
        // committed, so nothing of the table is stored, and the passing file of a new library it left goes now.
        result = FailedResult(FolderOf(job), t.Name, t.Target, "the conversion's process " + end.Failure);
        if (!options_.DryRun) RemoveAbandonedLibraryFiles(FolderOf(job));
      }
      result.Report.PeakMemoryKB = end.PeakMemoryKB;
      if (!job.Started) Started(job);  // a job that could not be forked counts as started and failed
      Finished(job, std::move(result));
    };
    hooks.Cancelled = [this] { return interrupted_ || (options_.Interrupted && options_.Interrupted()); };
    RunJobs(jobs_.size(), options_.Jobs,
            [this](std::size_t i, TJobChannel& channel) {
              // The job stops on SIGTERM (the run was interrupted) and SIGINT (Ctrl-C reaches the whole process
              // group) alike: its table is rolled back. The caller's own interruption test stays in the caller.
              struct sigaction stop {};
              stop.sa_handler = OnJobStop;
              sigemptyset(&stop.sa_mask);
              sigaction(SIGTERM, &stop, nullptr);
              sigaction(SIGINT, &stop, nullptr);
              Job& job = jobs_[i];
              TConvertOptions options = job.Form->Options;
              options.Interrupted = [] { return gJobStop != 0; };
              options.Jobs = 1;
              JobView view(channel);
              channel.Result(EncodeResult(ConvertTable(FolderOf(job), TableOf(job), options, &view)));
            },
            hooks);
  }

  // Brings every form's log up to the first table whose result is not in yet.
  void Replay() {
    using Plan = TConvParadox::Plan;
    for (TConvParadox* form : forms_) {
      Plan& plan = *form->plan_;
      while (plan.Replayed < plan.Steps.size()) {
        const Plan::Step& step = plan.Steps[plan.Replayed];
        if (step.Kind == Plan::StepKind::Table) {
          Job& job = JobOf(form, step.Index);
          if (!job.Result) break;
          ReplayTable(*form, *job.Result);
        } else if (step.Kind == Plan::StepKind::Folder) {
          // After an interruption, a folder's line comes only before a table that was converted.
          if (interrupted_ && !NextTableHasResult(form, plan.Replayed)) break;
          const Plan::Folder& folder = plan.Folders[step.Index];
          form->Memo1.Add(Format(kFolderLine, folder.Path));
          if (view_) view_->SetFolderText(Format(kFolderLine, folder.Path));
          for (const std::string& entry : folder.NeverConverted) form->DeleteList.Add(entry);
        } else {
          // The walk's failure ends this folder's run: the frame logs it, and nothing is deleted.
          plan.WalkError = step.Error;
          plan.Replayed = plan.Steps.size();
          break;
        }
        ++plan.Replayed;
      }
    }
  }

  void ReplayTable(TConvParadox& form, TableResult& result) {
    for (const std::string& line : result.Lines) form.Memo1.Add(line);
    TConvertedTable& report = result.Report;
    if (report.Complete) {
      form.DeleteList.Add(report.Source);
    } else if (form.DeleteOld && report.Outcome != TTableOutcome::NoLibraryType &&
               report.Outcome != TTableOutcome::Interrupted) {
      form.Memo1.Add(Format(kKeepingLine, report.Source, report.Reason));
    }
    form.Tables.push_back(report);
    if (view_) view_->TableFinished(report);
    if (report.Outcome == TTableOutcome::Interrupted) form.interrupted_ = true;
  }

  Job& JobOf(const TConvParadox* form, std::size_t table) {
    std::size_t offset = 0;
    for (TConvParadox* f : forms_) {
      if (f == form) break;
      offset += f->plan_->Tables.size();
    }
    return jobs_[offset + table];
  }

  bool NextTableHasResult(TConvParadox* form, std::size_t from) {
    const auto& steps = form->plan_->Steps;
    for (std::size_t i = from; i < steps.size(); ++i) {
      if (steps[i].Kind == TConvParadox::Plan::StepKind::Table) return JobOf(form, steps[i].Index).Result.has_value();
    }
    return false;
  }

  std::vector<TConvParadox*> forms_;
  TConversionView* view_;
  const TConvertOptions& options_;
  std::chrono::steady_clock::time_point start_;
  std::vector<Job> jobs_;
  std::int32_t total_ = 0, started_ = 0, done_ = 0, running_ = 0;
  std::int64_t records_ = 0;
  bool interrupted_ = false;
};

TConvParadox::TConvParadox(TConversionView* view) : DeleteList(), Memo1(view), view_(view) {
  DeleteList.SetCaseSensitive(false);
}

TConvParadox::~TConvParadox() = default;

void TConvParadox::ConvertLibs(const std::string& folder, bool recursive) {
  plan_ = std::make_unique<Plan>();
  totalTables_ = CountTables(folder, recursive);
  PlanFolder(*plan_, Folder, folder, recursive, Options.DryRun);
  TConversionRun({this}, view_, Options).Run();
  if (!plan_->WalkError.empty()) throw Exception(plan_->WalkError);
}

// ---- the frame of a start folder ----

namespace {

const std::string kSeparator(75, '-');

void LogHeader(TConvParadox& form) {
  std::int32_t d, m, y;
  DateToDMY(ProgramDate(), d, m, y);
  double programDate = 0;
  const std::string dateText = TryEncodeDate(y, m, d, programDate) ? DateToStr(programDate) : std::string();
  form.Memo1.Add(DateTimeToStr(Now()) + " " + ProductName() + " " + VersionKey() + "/" + dateText + ": " +
                 TConvParadox::Caption);
  form.Memo1.Add(kSeparator);
}

// Ends a start folder's run: its last lines, the deletion, "Convert.log" and the summary.
void EndFolder(TConvParadox& form, std::string errorText, TConversionView* view, TConversionSummary* summary,
               const TConvertOptions& options) {
  if (errorText.empty()) {
    if (form.Interrupted()) form.Memo1.Add(Format(kInterruptedRunLine, form.TablesNotReached()));
    form.Memo1.Add(kSeparator);
  } else {
    form.Memo1.Add(errorText);
    form.Memo1.Add(kSeparator);
    form.DeleteOld = false;
  }
  std::vector<std::string> deleted;
  if (form.DeleteOld && form.Interrupted()) {
    form.Memo1.Add(kNothingDeletedLine);
    form.Memo1.Add(kSeparator);
  } else if (form.DeleteOld) {
    for (int i = 0; i < form.DeleteList.Count(); ++i) {
      const std::string& entry = form.DeleteList[i];
      form.Memo1.Add(Format(kDeletingLine, entry));
      for (std::string& file : DeleteTableFiles(entry)) deleted.push_back(std::move(file));
    }
    form.Memo1.Add(kSeparator);
  }
  const std::string logFile = form.Folder + "Convert.log";
  std::string logError;
  if (!options.DryRun) {
    errno = 0;
    std::ofstream out(logFile, std::ios::binary | std::ios::app);
    const bool opened = static_cast<bool>(out);
    if (opened) {
      out << form.Memo1.Text() << '\n';
      out.close();  // a full disk or a file-size limit shows only when the buffer reaches the file
    }
    if (!out) {
      logError = errno != 0 ? std::strerror(errno)
                 : opened   ? "the log could not be written completely"
                            : "the file cannot be opened";
      if (view) view->ShowMessage("Error writing to " + logFile + "\r\n" + logError);
    }
  }
  if (!errorText.empty() && view) view->ShowMessage(errorText);
  if (summary) {
    summary->Tables = form.Tables;
    summary->Deleted = std::move(deleted);
    summary->DryRun = options.DryRun;
    summary->Interrupted = form.Interrupted();
    summary->LogFile = logFile;
    summary->ErrorText = errorText;
    summary->LogError = logError;
    summary->ErrorLines = 0;
    for (const auto& item : form.Memo1.Lines())
      if (IsErrorLine(item.Text)) ++summary->ErrorLines;
  }
}

// The folder as the file system names it, for telling folders given twice or inside each other.
std::string CanonicalFolder(const std::string& folder) {
  std::error_code ec;
  const fs::path canonical = fs::weakly_canonical(fs::path(folder), ec);
  return IncludeTrailingPathDelimiter((ec ? fs::path(folder) : canonical).lexically_normal().string());
}

}  // namespace

void ConvertParadoxFolders(const std::vector<std::string>& folders, bool Recursive, bool DeleteOld,
                           TConversionView* view, std::vector<TConversionSummary>* summaries,
                           const TConvertOptions& options) {
  // Folders given twice, or inside one converted with its subfolders, would convert their tables twice at once.
  std::vector<std::string> canonical;
  for (const std::string& folder : folders) canonical.push_back(CanonicalFolder(folder));
  for (std::size_t i = 0; i < folders.size(); ++i) {
    for (std::size_t j = 0; j < folders.size(); ++j) {
      if (i == j) continue;
      if (canonical[i] == canonical[j]) throw Exception(Format("\"%s\" and \"%s\" are one folder", folders[i], folders[j]));
      if (Recursive && canonical[i].rfind(canonical[j], 0) == 0) {
        throw Exception(Format("\"%s\" lies inside \"%s\", whose subfolders are converted with it", folders[i],
                               folders[j]));
      }
    }
  }
  std::vector<std::unique_ptr<TConvParadox>> forms;
  for (const std::string& folder : folders) {
    auto form = std::make_unique<TConvParadox>(view);
    form->Recursive = Recursive;
    form->DeleteOld = DeleteOld && !options.DryRun;
    form->Options = options;
    form->Folder = IncludeTrailingPathDelimiter(folder);
    forms.push_back(std::move(form));
  }
  // One run at a time per folder, deletion included. The locks are taken in the order of the folders' names, so
  // that two runs given the same folders in another order do not wait for each other.
  std::vector<std::size_t> lockOrder(folders.size());
  for (std::size_t i = 0; i < lockOrder.size(); ++i) lockOrder[i] = i;
  std::sort(lockOrder.begin(), lockOrder.end(), [&](std::size_t a, std::size_t b) { return canonical[a] < canonical[b]; });
  std::vector<std::unique_ptr<FolderLock>> locks;
  for (std::size_t i : lockOrder) locks.push_back(std::make_unique<FolderLock>(forms[i]->Folder));

  if (view) {
    view->Show(TConvParadox::Caption);
    if (!forms.empty()) view->SetFolderText(Format(kFolderLine, forms.front()->Folder));
    view->SetFileText("");
    view->SetBusy(true);
  }
  std::vector<std::string> errorTexts(forms.size());
  std::vector<TConvParadox*> running;
  for (std::size_t i = 0; i < forms.size(); ++i) {
    TConvParadox& form = *forms[i];
    try {
      LogHeader(form);
      TConversionRun::PlanStart(form);
      running.push_back(&form);
    } catch (const std::exception& e) {
      errorTexts[i] = std::string("Error: ") + e.what();
    }
  }
  try {
    TConversionRun(running, view, options).Run();
  } catch (const std::exception& e) {
    // A failure of the run itself (a view that raised) ends every folder's run as a failing walk does: what was
    // converted stays, nothing is deleted, and the logs say why.
    for (std::size_t i = 0; i < forms.size(); ++i)
      if (errorTexts[i].empty()) errorTexts[i] = std::string("Error: ") + e.what();
  }
  if (summaries) summaries->assign(forms.size(), TConversionSummary{});
  for (std::size_t i = 0; i < forms.size(); ++i) {
    TConvParadox& form = *forms[i];
    const std::string walkError = TConversionRun::WalkError(form);
    if (errorTexts[i].empty() && !walkError.empty()) errorTexts[i] = "Error: " + walkError;
    EndFolder(form, errorTexts[i], view, summaries ? &(*summaries)[i] : nullptr, options);
  }
  if (view) {
    view->SetBusy(false);
    view->Hide();
  }
}

bool ConvertParadoxFiles(const std::string& Folder, bool Recursive, bool DeleteOld) {
  return ConvertParadoxFiles(Folder, Recursive, DeleteOld, nullptr, nullptr);
}

bool ConvertParadoxFiles(const std::string& Folder, bool Recursive, bool DeleteOld, TConversionView* view,
                         TConversionSummary* summary, const std::string& password) {
  TConvertOptions options;
  options.Password = password;
  return ConvertParadoxFiles(Folder, Recursive, DeleteOld, view, summary, options);
}

bool ConvertParadoxFiles(const std::string& Folder, bool Recursive, bool DeleteOld, TConversionView* view,
                         TConversionSummary* summary, const TConvertOptions& options) {
  std::vector<TConversionSummary> summaries;
  ConvertParadoxFolders({Folder}, Recursive, DeleteOld, view, &summaries, options);
  if (summary) *summary = std::move(summaries.front());
  return true;
}

std::string ConvertedFileName(const std::string& ParadoxName) {
  for (const Pass& pass : kPasses)
    if (MatchesMask(ParadoxName, pass.Mask)) return ChangeFileExt(ParadoxName, pass.NewExtension);
  return {};
}

bool NeverConverted(const std::string& ParadoxName) {
  return std::any_of(std::begin(kNeverConverted), std::end(kNeverConverted),
                     [&](const char* n) { return SameTextFolded(n, ParadoxName); });
}

std::vector<std::string> CompanionFiles(const std::string& TablePath) {
  const fs::path p(TablePath);
  std::vector<std::string> wanted;
  for (const auto& ext : CompanionExtensions()) wanted.push_back(FoldCase(p.stem().string() + ext));
  std::vector<std::string> found;
  std::error_code ec;
  for (fs::directory_iterator it(p.parent_path(), ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (std::find(wanted.begin(), wanted.end(), FoldCase(name)) != wanted.end()) found.push_back(name);
  }
  std::sort(found.begin(), found.end());
  return found;
}

}  // namespace vez
