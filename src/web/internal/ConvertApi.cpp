// The conversion window: a run of ConvertParadoxFiles on a thread of its own, shown to the browser through a
// TConversionView whose every call becomes an event (the folder and file lines, the log lines as they are
// written, progress, message boxes) and, at the end, the summary. One run per folder at a time: a second one
// for the same folder, or for a folder inside or around it, is refused with a message.
#include <chrono>
#include <thread>

#include "convert/ConvertParadox.h"
#include "librarydb/OVLibConst.h"
#include "web/internal/Events.h"

namespace vez::web {

namespace fs = std::filesystem;

namespace {

// The events: "show" {caption}, "folder" {text}, "file" {text}, "log" {line}, "run" {tables},
// "table" {index, total, source}, "records" {done, total}, "finished" {source, outcome}, "message" {text},
// "summary" {...}.
class TWebConversionView : public TConversionView {
public:
  // Texts name paths from the served folder, as every message of the pages does.
  TWebConversionView(TEventLog& log, const TServedFolder& folder) : log_(log), folder_(folder) {}

  void Show(const std::string& caption) override { Text("show", "caption", caption); }
  void SetFolderText(const std::string& text) override { Text("folder", "text", text); }
  void SetFileText(const std::string& text) override { Text("file", "text", text); }
  void ShowMessage(const std::string& text) override { Text("message", "text", text); }
  void LogLine(const std::string& line) override { Text("log", "line", line); }
  void RunStarted(std::int32_t totalTables) override {
    log_.Add("run", JsonText([&](JsonWriter& j) { j.BeginObject().Member("tables", totalTables).EndObject(); }));
  }
  void TableStarted(std::int32_t index, std::int32_t total, const std::string& source) override {
    log_.Add("table", JsonText([&](JsonWriter& j) {
               j.BeginObject().Member("index", index).Member("total", total).Member("source", folder_.Shown(source)).EndObject();
             }));
  }
  // At most ten a second: the page shows a bar, not every record.
  void RecordProgress(std::int32_t done, std::int32_t total) override {
    const auto now = std::chrono::steady_clock::now();
    if (done < total && now - last_ < std::chrono::milliseconds(100)) return;
    last_ = now;
    log_.Add("records", JsonText([&](JsonWriter& j) { j.BeginObject().Member("done", done).Member("total", total).EndObject(); }));
  }
  void TableFinished(const TConvertedTable& t) override {
    log_.Add("finished", JsonText([&](JsonWriter& j) {
               j.BeginObject().Member("source", folder_.Shown(t.Source)).Member("outcome", OutcomeText(t.Outcome)).EndObject();
             }));
  }

private:
  void Text(const char* type, const char* member, const std::string& text) {
    log_.Add(type, JsonText([&](JsonWriter& j) { j.BeginObject().Member(member, folder_.Shown(text)).EndObject(); }));
  }
  TEventLog& log_;
  const TServedFolder& folder_;
  std::chrono::steady_clock::time_point last_{};
};

void WriteSummary(JsonWriter& json, const TConversionSummary& summary, const TServedFolder& folder) {
  int converted = 0, skipped = 0, noLibrary = 0;
  std::int64_t read = 0, written = 0;
  for (const auto& t : summary.Tables) {
    if (t.Outcome == TTableOutcome::Skipped) {
      ++skipped;
      continue;
    }
    read += t.RecordsInHeader;
    written += t.RecordsWritten;
    converted += t.Outcome == TTableOutcome::Converted ? 1 : 0;
    noLibrary += t.Outcome == TTableOutcome::NoLibraryType ? 1 : 0;
  }
  json.BeginObject()
      .Member("tables_converted", converted)
      .Member("tables", static_cast<std::int64_t>(summary.Tables.size()))
      .Member("skipped", skipped)
      .Member("no_library_type", noLibrary)
      .Member("records_read", read)
      .Member("records_written", written)
      .Member("error_lines", summary.ErrorLines)
      .Member("error_text", folder.Shown(summary.ErrorText))
      .Member("log", folder.Relative(summary.LogFile))
      .Member("log_error", folder.Shown(summary.LogError))
      .Member("interrupted", summary.Interrupted)
      .Key("tables_list")
      .BeginArray();
  for (const auto& t : summary.Tables) {
    const char* typeName = t.LibType >= 0 ? LibTypeConstantName(t.LibType) : nullptr;
    json.BeginObject()
        .Member("source", folder.Relative(t.Source))
        .Member("target", folder.Relative(t.Target))
        .Member("library_type", t.LibType)
        .Member("library_type_name", typeName ? typeName : "")
        .Member("outcome", OutcomeText(t.Outcome))
        .Member("converted", t.Outcome == TTableOutcome::Converted)
        .Member("skipped", t.Outcome == TTableOutcome::Skipped)
        .Member("complete", t.Complete)
        .Member("reason", folder.Shown(t.Reason))
        .Member("records_in_header", t.RecordsInHeader)
        .Member("records_read", t.RecordsRead)
        .Member("records_written", t.RecordsWritten)
        .Member("errors", t.Errors)
        .Member("text_cut", t.TextCut)
        .EndObject();
  }
  json.EndArray().EndObject();
}

}  // namespace

class TConversions {
public:
  struct TJob {
    std::int64_t Id = 0;
    fs::path Folder;
    bool Recursive = false;
    std::shared_ptr<TEventLog> Log = std::make_shared<TEventLog>();
    std::thread Worker;
    std::atomic<bool> Running{true};
    std::atomic<bool> StopAsked{false};  // "Stop": the run ends as Ctrl-C ends `vezi convert`
  };

  std::shared_ptr<TJob> Start(TContext& c, const fs::path& folder, bool recursive, bool deleteOld) {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (stopped_) throw EHttpError(503, "The server is stopping");
    for (const auto& job : jobs_) {
      if (!job->Running) continue;
      const bool overlaps = job->Folder == folder || (job->Recursive && PathWithin(job->Folder, folder)) ||
                            (recursive && PathWithin(folder, job->Folder));
      if (overlaps)
        throw EHttpError(409, "A conversion of \"" + c.Folder.Relative(job->Folder) +
                                  "\" is running; wait until it has finished, then start this one");
    }
    auto job = std::make_shared<TJob>();
    job->Id = ++lastId_;
    job->Folder = folder;
    job->Recursive = recursive;
    job->Worker = std::thread([job, &c, recursive, deleteOld] {
      TWebConversionView view(*job->Log, c.Folder);
      TConversionSummary summary;
      TConvertOptions options;
      // Asked once per record: the current table is rolled back, no further table is converted, nothing deleted.
      options.Interrupted = [&job = *job] { return job.StopAsked.load(); };
      try {
        ConvertParadoxFiles(job->Folder.string(), recursive, deleteOld, &view, &summary, options);
        job->Log->Add("summary", JsonText([&](JsonWriter& j) { WriteSummary(j, summary, c.Folder); }));
      } catch (const std::exception& e) {
        job->Log->Add("message", JsonText([&](JsonWriter& j) { j.BeginObject().Member("text", c.Folder.Shown(e.what())).EndObject(); }));
      }
      job->Running = false;
      job->Log->Close();
    });
    jobs_.push_back(job);
    return job;
  }

  std::shared_ptr<TJob> Find(std::int64_t id) {
    const std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& job : jobs_)
      if (job->Id == id) return job;
    return nullptr;
  }

  void Stop() {
    const std::lock_guard<std::mutex> lock(mutex_);
    stopped_ = true;
    for (const auto& job : jobs_) job->Log->Wake();
  }

  void Wait() {
    std::vector<std::shared_ptr<TJob>> jobs;
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      jobs = jobs_;
    }
    for (const auto& job : jobs)
      if (job->Worker.joinable()) job->Worker.join();
  }

private:
  std::mutex mutex_;
  std::vector<std::shared_ptr<TJob>> jobs_;
  std::int64_t lastId_ = 0;
  bool stopped_ = false;
};

std::shared_ptr<TConversions> MakeConversions() { return std::make_shared<TConversions>(); }
void StopConversions(TConversions& conversions) { conversions.Stop(); }
void WaitForConversions(TConversions& conversions) { conversions.Wait(); }

void RegisterConvertRoutes(TRoutes& routes) {
  TContext& c = routes.Context();

  // {path, recursive, delete_old, confirm_delete}: starts a run; 202 with the job's id.
  routes.Post("/api/convert", [&c](const httplib::Request& req, httplib::Response& res) {
    const Json body = Body(req);
    const std::string path = StringMember(body, "path", false);
    const fs::path folder = c.Folder.Resolve(path);
    if (!fs::is_directory(folder)) throw EHttpError(400, "\"" + path + "\" is not a folder");
    const bool deleteOld = BoolMember(body, "delete_old");
    if (deleteOld && !BoolMember(body, "confirm_delete"))
      throw EHttpError(400, "Deleting the converted Paradox tables needs a confirmation");
    const auto job = c.Conversions->Start(c, folder, BoolMember(body, "recursive"), deleteOld);
    Reply(res, [&](JsonWriter& json) { json.BeginObject().Member("job", job->Id).EndObject(); }, 202);
  });

  // {job}: "Stop" in the conversion window.
  routes.Post("/api/convert/stop", [&c](const httplib::Request& req, httplib::Response& res) {
    const auto job = c.Conversions->Find(IntMember(Body(req), "job", 1, std::numeric_limits<std::int64_t>::max()));
    if (!job) throw EHttpError(404, "There is no such conversion");
    if (!job->Running) throw EHttpError(409, "The conversion has finished already");
    job->StopAsked = true;
    Reply(res, [&](JsonWriter& json) { json.BeginObject().Member("stopping", true).EndObject(); });
  });

  routes.Get("/api/convert/events", [&c](const httplib::Request& req, httplib::Response& res) {
    const auto job = c.Conversions->Find(QueryInt(req, "job", 0, 1, std::numeric_limits<std::int64_t>::max()));
    if (!job) throw EHttpError(404, "There is no such conversion");
    StreamEvents(req, res, job->Log, c.Stopping);
  });
}

}  // namespace vez::web
