// The import dialog in the browser. The dialog stays the logic class (TExcelImportForm, TSelectColForm,
// TFormNameExists) inside a TLibraryImport, held by a session on the server; the browser shows its state and
// sends what the user does, one operation per request (lines, links, the link dialog's choice, Clear, Auto
// Link, Start Import).
//
// Start Import runs the import on a thread of its own. When a name exists, the name dialog's question travels
// to the browser as an event and the run waits for the answer (a request), which operates the dialog as the
// user did. Ctrl-C, a cancelled session or a browser that goes away answers Cancel (nothing is stored). The run's
// progress and its result (counts and every failed line) are events too.
//
// Uploads: a spreadsheet or text file is written into a folder under a temporary name and linked to its own
// name only when it is complete; an existing file is never replaced.
#include <fcntl.h>
#include <unistd.h>

#include <condition_variable>
#include <map>
#include <mutex>
#include <optional>
#include <sstream>
#include <thread>

#include "core/FileMask.h"
#include "core/TextEncoding.h"
#include "core/FormatSettings.h"
#include "import/EImport2.h"
#include "import/XLS_ASCII_Import.h"
#include "import/NameAlreadyExists.h"
#include "import/mapping/LibraryImport.h"
#include "librarydb/Layouts.h"
#include "librarydb/OVLibConst.h"
#include "web/internal/Events.h"

namespace vez::web {

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kMaxSessions = 8;
constexpr std::int32_t kShownDataRows = 200;

void WriteGrid(JsonWriter& json, const TStringGrid& grid, std::int32_t rowLimit) {
  json.BeginObject().Key("columns").BeginArray();
  for (std::int32_t c = 1; c < grid.ColCount(); ++c) json.String(grid.Cells(c, 0));
  json.EndArray().Key("rows").BeginArray();
  const std::int32_t shown = std::min(grid.RowCount() - 1, rowLimit);
  for (std::int32_t r = 1; r <= shown; ++r) {
    json.BeginArray().String(grid.Cells(0, r));
    for (std::int32_t c = 1; c < grid.ColCount(); ++c) json.String(grid.Cells(c, r));
    json.EndArray();
  }
  json.EndArray().Member("more", std::max(0, grid.RowCount() - 1 - shown)).EndObject();
}

void WriteSpin(JsonWriter& json, const char* name, const TSpinEdit& spin) {
  json.Key(name).BeginObject().Member("value", spin.Value).Member("min", spin.MinValue).Member("max", spin.MaxValue)
      .Member("enabled", spin.Enabled).EndObject();
}

void WriteLinkDialog(JsonWriter& json, const TSelectColForm& f) {
  json.BeginObject()
      .Member("caption", f.Caption)
      .Member("edit_index", f.EditIndex)
      .Member("fix", f.GetFix())
      .Member("fix_text", f.GetFixStr())
      .Member("fix_enabled", f.FixEditEnabled)
      .Member("columns_enabled", f.ColList.Enabled)
      .Member("column", f.GetXLSCol())
      .Member("description", f.GetDescription())
      .Key("columns").BeginArray();
  for (const auto& c : f.ColList.Items) json.String(c);
  json.EndArray().Key("descriptions").BeginArray();
  for (const auto& d : f.DescrList.Items) json.String(d);
  json.EndArray().EndObject();
}

void WriteResult(JsonWriter& json, const TLibraryImportResult& r, const TServedFolder& folder) {
  json.BeginObject()
      .Member("refused", r.Refused)
      .Member("added", r.Added)
      .Member("overwritten", r.Overwritten)
      .Member("skipped", r.Skipped)
      .Member("failed", r.Failed)
      .Member("cancelled", r.Cancelled)
      .Member("interrupted", r.Interrupted)
      .Member("committed", r.Committed)
      .Member("created", r.Created && r.Committed)
      .Member("first_line", r.FirstLine)
      .Member("last_line", r.LastLine)
      .Key("errors").BeginArray();
  for (const auto& e : r.Errors)
    json.BeginObject().Member("line", e.Line).Member("column", e.Column).Member("field", e.Field)
        .Member("message", folder.Shown(e.Message)).EndObject();
  json.EndArray().EndObject();
}

}  // namespace

// One import dialog of one browser page, and the window system its logic classes talk to.
class TImportSession : public TImportDialogs {
public:
  enum class TState { Editing, Running, Done };

  TImportSession(std::int64_t id, const TLibraryImportOptions& options, std::string file, std::string library,
                 const TServedFolder& folder, std::optional<TOnExists> answer)
      : Id(id), File(std::move(file)), Library(std::move(library)), folder_(folder), fixedAnswer_(answer) {
    TLibraryImportOptions o = options;
    o.Interrupted = [this] { return interrupted_.load(); };
    o.Progress = [this](std::int32_t done, std::int32_t total) { Progress(done, total); };
    import_ = std::make_unique<TLibraryImport>(o, *this);
  }
  ~TImportSession() override { Join(); }

  const std::int64_t Id;
  const std::string File, Library;

  // ---- the window system ----
  void ShowMessage(const std::string& text) override {
    if (state_ == TState::Running) events_->Add("message", TextJson(text));
    else messages_.push_back(text);
  }
  std::string InputBox(const std::string& caption, const std::string& prompt, const std::string& defaultText) override {
    if (fixedAnswer_) return TAnsweringDialogs(*fixedAnswer_).InputBox(caption, prompt, defaultText);
    return answer_ && answer_->NewName ? *answer_->NewName : defaultText;
  }
  // The question goes to the browser; the run waits for the answer, or for a stop (Cancel). With an answer
  // chosen before the start (overwrite, skip, rename) nobody is asked.
  void ShowNameExists(TFormNameExists& form) override {
    if (fixedAnswer_) {
      TAnsweringDialogs(*fixedAnswer_).ShowNameExists(form);
      return;
    }
    std::unique_lock<std::mutex> lock(mutex_);
    answer_.reset();
    waiting_ = true;
    events_->Add("question", JsonText([&](JsonWriter& j) {
                   j.BeginObject().Member("caption", form.Caption).Member("name", form.NewName).Key("items").BeginArray();
                   for (const auto& item : TFormNameExists::Items()) j.String(item);
                   j.EndArray().EndObject();
                 }));
    answered_.wait(lock, [&] { return answer_.has_value() || interrupted_; });
    waiting_ = false;
    if (!answer_ || !answer_->Ok) {
      form.CancelClick();
      return;
    }
    form.RadioGroupClick(answer_->Item);  // "Enter new name" asks InputBox, which gives the entered name
    form.OKClick();
  }
  // The link dialog: the browser's choice, given before EditConnect opens it, operates it.
  void ShowSelectCol(TSelectColForm& form) override {
    if (linkScript_) linkScript_(form);
  }

  // ---- operations of the browser ----
  template <typename Fn>
  void Edit(Fn&& fn) {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (state_ != TState::Editing) throw EHttpError(409, "The import has started; the dialog cannot be changed now");
    messages_.clear();
    fn(import_->Form());
  }

  // "Auto Link" as every front end runs it; what it linked, or could not, is the dialog's message.
  void AutoLink() {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (state_ != TState::Editing) throw EHttpError(409, "The import has started; the dialog cannot be changed now");
    messages_.clear();
    messages_.push_back(AutoLinkText(import_->AutoLink()));
  }

  // "Save links": the dialog's links, lines, sheet and separators as a mapping file.
  TImportMapping Mapping() {
    const std::lock_guard<std::mutex> lock(mutex_);
    return import_->Mapping();
  }
  // "Load links": a mapping's links and lines (the file stays read as the dialog was opened).
  void LoadMapping(const TImportMapping& mapping) {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (state_ != TState::Editing) throw EHttpError(409, "The import has started; the dialog cannot be changed now");
    messages_.clear();
    import_->LoadMapping(mapping);
  }

  // Runs the link dialog for link `index` (-1 a new one) with a script, and writes what it showed.
  void LinkDialog(JsonWriter& json, std::int32_t index, std::function<void(TSelectColForm&)> script) {
    Edit([&](TExcelImportForm& form) {
      if (index >= form.Links.Count()) throw EHttpError(400, "There is no such link");
      linkScript_ = [&](TSelectColForm& f) {
        if (script) script(f);
        WriteLinkDialog(json, f);
      };
      try {
        form.EditConnect(index);
      } catch (...) {
        linkScript_ = nullptr;
        throw;
      }
      linkScript_ = nullptr;
    });
  }

  void Start(const std::atomic<bool>& stopping) {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (state_ != TState::Editing) throw EHttpError(409, "The import has started already");
    if (stopping) throw EHttpError(503, "The server is stopping");
    Join();
    messages_.clear();
    events_ = std::make_shared<TEventLog>();
    state_ = TState::Running;
    interrupted_ = false;
    worker_ = std::thread([this] {
      std::optional<TLibraryImportResult> result;
      std::string error;
      try {
        result = import_->Run();
      } catch (const std::exception& e) {
        error = e.what();
      }
      const std::lock_guard<std::mutex> lock(mutex_);
      // A refused Start or a run that could not begin leaves the dialog open for another try.
      state_ = result && !result->Refused && error.empty() ? TState::Done : TState::Editing;
      if (!error.empty()) events_->Add("message", TextJson(error));
      events_->Add("finished", JsonText([&](JsonWriter& j) {
                     if (result) WriteResult(j, *result, folder_);
                     else j.BeginObject().Member("refused", true).EndObject();
                   }));
      events_->Close();
    });
  }

  void Answer(bool ok, std::int32_t item, std::optional<std::string> newName) {
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      if (!waiting_) throw EHttpError(409, "No question is waiting for an answer");
      answer_ = TAnswer{ok, item, std::move(newName)};
    }
    answered_.notify_all();
  }

  // Stops a run at its next line, or at its question (answered Cancel); nothing is stored.
  void Interrupt() {
    {
      const std::lock_guard<std::mutex> lock(mutex_);  // a run about to wait sees the flag
      interrupted_ = true;
    }
    answered_.notify_all();
    if (const auto log = Events()) log->Wake();
  }
  void Join() {
    if (worker_.joinable() && worker_.get_id() != std::this_thread::get_id()) worker_.join();
  }
  bool Running() const { return state_ == TState::Running; }
  std::shared_ptr<TEventLog> Events() {
    const std::lock_guard<std::mutex> lock(mutex_);
    return events_;
  }

  void WriteState(JsonWriter& json) {
    const std::lock_guard<std::mutex> lock(mutex_);
    TExcelImportForm& f = import_->Form();
    static const char* const kStates[] = {"editing", "running", "done"};
    json.BeginObject()
        .Member("id", Id)
        .Member("state", kStates[static_cast<int>(state_.load())])
        .Member("caption", Shorter(f.Caption))
        .Member("file", File)
        .Member("library", Library)
        .Member("sheet", f.ImportData.SheetName())
        .Member("separator", f.ImportData.Separator() == '\t' ? std::string("tab")
                             : f.ImportData.Separator() != 0 ? std::string(1, f.ImportData.Separator())
                                                             : std::string())
        .Member("on_exists", fixedAnswer_ ? kAnswers[static_cast<int>(*fixedAnswer_)] : "ask")
        .Key("header");
    WriteGrid(json, f.HeaderGrid, kShownDataRows);
    json.Key("data");
    WriteGrid(json, f.DataGrid, kShownDataRows);
    WriteSpin(json, "start_line", f.StartLine);
    json.Member("stop_checked", f.StopChecked);
    WriteSpin(json, "stop_line", f.StopLine);
    json.Key("links").BeginArray();
    for (const auto& l : f.LinkList.Items) json.String(l);
    json.EndArray().Member("focused", f.FocusedControl).Key("messages").BeginArray();
    for (const auto& m : messages_) json.String(folder_.Shown(m));
    json.EndArray().EndObject();
  }

private:
  struct TAnswer {
    bool Ok = false;
    std::int32_t Item = 0;
    std::optional<std::string> NewName;
  };
  // The caption names the file as it was opened; the page names it from the served folder.
  std::string Shorter(const std::string& caption) const { return folder_.Shown(caption); }
  std::string TextJson(const std::string& text) const {
    return JsonText([&](JsonWriter& j) { j.BeginObject().Member("text", folder_.Shown(text)).EndObject(); });
  }
  void Progress(std::int32_t done, std::int32_t total) {
    const auto now = std::chrono::steady_clock::now();
    if (done < total && now - lastProgress_ < std::chrono::milliseconds(100)) return;
    lastProgress_ = now;
    events_->Add("progress", JsonText([&](JsonWriter& j) { j.BeginObject().Member("done", done).Member("total", total).EndObject(); }));
  }

  static constexpr const char* kAnswers[] = {"overwrite", "skip", "rename"};  // by TOnExists
  const TServedFolder& folder_;
  const std::optional<TOnExists> fixedAnswer_;
  std::mutex mutex_;
  std::condition_variable answered_;
  std::unique_ptr<TLibraryImport> import_;
  std::atomic<TState> state_{TState::Editing};
  std::vector<std::string> messages_;
  std::function<void(TSelectColForm&)> linkScript_;
  std::shared_ptr<TEventLog> events_ = std::make_shared<TEventLog>();
  std::thread worker_;
  std::atomic<bool> interrupted_{false};
  bool waiting_ = false;
  std::optional<TAnswer> answer_;
  std::chrono::steady_clock::time_point lastProgress_{};
};

// The open dialogs, and the links of the last dialog of each file and library, so that a dialog opened again
// in the same server session starts with the links its user made (kept in memory only).
class TImportSessions {
public:
  explicit TImportSessions(std::int64_t textBytes) : budget_(std::make_shared<TGridTextBudget>(textBytes)) {}
  std::shared_ptr<TImportSession> Open(const TLibraryImportOptions& options, const std::string& file,
                                       const std::string& library, const TServedFolder& folder,
                                       std::optional<TOnExists> answer) {
    std::int64_t id = 0;
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      // The oldest dialogs that are not running make room.
      for (auto it = sessions_.begin(); sessions_.size() >= kMaxSessions && it != sessions_.end();)
        it = it->second->Running() ? std::next(it) : sessions_.erase(it);
      if (sessions_.size() >= kMaxSessions) throw EHttpError(429, "Too many imports are running");
      id = ++lastId_;
    }
    // Every dialog's grid draws on the server's one text budget besides its own limit.
    TLibraryImportOptions drawing = options;
    drawing.TextBudget = budget_;
    auto session = std::make_shared<TImportSession>(id, drawing, file, library, folder, answer);  // reads the file
    const std::lock_guard<std::mutex> lock(mutex_);
    sessions_[id] = session;
    return session;
  }
  // The links last made in a dialog of `file` into `library`, if any.
  std::optional<TImportMapping> Remembered(const std::string& file, const std::string& library) {
    const std::lock_guard<std::mutex> lock(mutex_);
    const auto it = remembered_.find(file + '\n' + library);
    if (it == remembered_.end()) return std::nullopt;
    return it->second;
  }
  void Remember(const TImportSession& session, const TImportMapping& mapping) {
    if (mapping.Links.empty()) return;
    const std::lock_guard<std::mutex> lock(mutex_);
    remembered_[session.File + '\n' + session.Library] = mapping;
  }
  std::shared_ptr<TImportSession> Find(std::int64_t id) {
    const std::lock_guard<std::mutex> lock(mutex_);
    const auto it = sessions_.find(id);
    if (it == sessions_.end()) throw EHttpError(404, "This import dialog is closed; open it again");
    return it->second;
  }
  void Close(std::int64_t id) {
    std::shared_ptr<TImportSession> session;
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      const auto it = sessions_.find(id);
      if (it == sessions_.end()) return;
      session = it->second;
      sessions_.erase(it);
    }
    session->Interrupt();
    session->Join();
    Remember(*session, session->Mapping());
  }
  std::int64_t TextLimit() const { return budget_->Limit(); }
  std::vector<std::shared_ptr<TImportSession>> All() {
    const std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::shared_ptr<TImportSession>> all;
    for (const auto& [id, s] : sessions_) all.push_back(s);
    return all;
  }

private:
  std::mutex mutex_;
  std::map<std::int64_t, std::shared_ptr<TImportSession>> sessions_;
  std::map<std::string, TImportMapping> remembered_;
  std::int64_t lastId_ = 0;
  std::shared_ptr<TGridTextBudget> budget_;
};

std::shared_ptr<TImportSessions> MakeImportSessions() { return MakeImportSessions(kDefaultMaxGridTextMB << 20); }
std::shared_ptr<TImportSessions> MakeImportSessions(std::int64_t textBytes) {
  return std::make_shared<TImportSessions>(textBytes);
}
std::int64_t ImportTextLimit(const TImportSessions& imports) { return imports.TextLimit(); }
void StopImports(TImportSessions& imports) {
  for (const auto& s : imports.All()) s->Interrupt();
}
void WaitForImports(TImportSessions& imports) {
  for (const auto& s : imports.All()) s->Join();
}

namespace {

bool IsSheetName(const std::string& name) {
  static const char* const kMasks[] = {"*.xls", "*.xlsx", "*.txt", "*.tsv", "*.tab", "*.asc", "*.csv", "*.prn"};
  return std::any_of(std::begin(kMasks), std::end(kMasks), [&](const char* m) { return MatchesMask(name, m); });
}

// Writes the bytes into folder/name: a temporary file first, linked to the name when complete.
void WriteNewFile(const fs::path& folder, const std::string& name, const std::string& bytes) {
  std::string temp = (folder / ".vezi-upload-XXXXXX").string();
  const int fd = ::mkstemp(temp.data());
  if (fd < 0) throw Exception("The file cannot be written into \"" + folder.filename().string() + "\"");
  bool ok = true;
  for (std::size_t done = 0; ok && done < bytes.size();) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    ok = n > 0;
    if (ok) done += static_cast<std::size_t>(n);
  }
  ok = ok && ::fsync(fd) == 0;
  ::close(fd);
  const bool linked = ok && ::link(temp.c_str(), (folder / name).c_str()) == 0;
  const int linkError = errno;
  ::unlink(temp.c_str());
  if (!ok) throw Exception("The file \"" + name + "\" could not be written completely");
  if (!linked && linkError == EEXIST) throw EHttpError(409, "A file \"" + name + "\" is in the folder already");
  if (!linked) throw Exception("The file \"" + name + "\" could not be written");
}

std::shared_ptr<TImportSession> SessionOf(TContext& c, const Json& body) {
  return c.Imports->Find(IntMember(body, "id", 1, std::numeric_limits<std::int64_t>::max()));
}

}  // namespace

void RegisterImportRoutes(TRoutes& routes) {
  TContext& c = routes.Context();

  routes.Post("/api/upload", [&c](const httplib::Request& req, httplib::Response& res) {
    const fs::path folder = c.Folder.Resolve(Query(req, "folder", false));
    if (!fs::is_directory(folder)) throw EHttpError(400, "The upload must go into a folder");
    if (!req.has_file("file")) throw EHttpError(400, "The request holds no file");
    const httplib::MultipartFormData file = req.get_file_value("file");
    const std::string name = fs::path(file.filename).filename().string();
    const bool plain = !name.empty() && name.front() != '.' && name.size() <= 200 &&
                       std::none_of(name.begin(), name.end(), [](char ch) {
                         return static_cast<unsigned char>(ch) < 0x20 || ch == '/' || ch == '\\';
                       });
    if (!plain || !IsSheetName(name))
      throw EHttpError(400, "Only spreadsheets and text files (.xls, .xlsx, .txt, .tsv, .tab, .asc, .csv, .prn) with a "
                            "plain name can be uploaded");
    if (static_cast<std::int64_t>(file.content.size()) > c.UploadLimit)
      throw EHttpError(413, Format("The file is larger than the upload limit of %d MB", c.UploadLimit >> 20));
    WriteNewFile(folder, name, file.content);
    Reply(res, [&](JsonWriter& json) {
      json.BeginObject().Member("path", c.Folder.Relative(folder / name)).EndObject();
    }, 201);
  });

  // {file, library, type, sheet, separator, decimal_separator, code_page, text_limit, on_exists, mapping}: the dialog for a
  // file of the folder into a library (existing, or new of `type`), read as `vezi import` reads it with the same
  // options; a mapping (a JSON file of the folder) gives its options, links and lines, the members given win.
  routes.Post("/api/import/open", [&c](const httplib::Request& req, httplib::Response& res) {
    const Json body = Body(req);
    const std::string file = StringMember(body, "file"), library = StringMember(body, "library");
    TLibraryImportOptions options;
    options.FileName = c.Folder.Resolve(file).string();
    const fs::path target = c.Folder.Resolve(library, false);
    options.LibraryFile = target.string();
    // The library type (a code or a constant name) and the numbers below are the library's to judge, with the
    // message every front end gives; here only whether the member is of the right kind.
    if (body.contains("type")) {
      const Json& type = body["type"];
      if (!type.is_string() && !type.is_number_integer())
        throw EHttpError(400, "The member \"type\" must be a library type code or constant name");
      options.LibType = LibTypeOfWord(type.is_string() ? type.get<std::string>() : std::to_string(type.get<std::int64_t>()));
    }
    std::optional<TImportMapping> mapping;
    if (const std::string m = StringMember(body, "mapping", false); !m.empty()) {
      mapping = ReadImportMapping(c.Folder.Resolve(m).string());
      ApplyImportMapping(options, *mapping);
    }
    if (const std::string sheet = StringMember(body, "sheet", false); !sheet.empty()) options.Sheet = sheet;
    // An option word the library does not know is the request's fault: 400 with the library's message.
    const auto word = [](const auto& parse, const std::string& text) {
      try {
        return parse(text);
      } catch (const Exception& e) {
        throw EHttpError(400, e.what());
      }
    };
    if (const std::string s = StringMember(body, "separator", false); !s.empty())
      options.Separator = word(SeparatorOfWord, s);
    if (const std::string d = StringMember(body, "decimal_separator", false); !d.empty())
      options.DecimalSeparator = word(DecimalSeparatorOfWord, d);
    if (body.contains("code_page")) options.TextCodePage = CodePageOfNumber(IntMember(body, "code_page"));
    if (body.contains("text_limit")) options.TextLimitMB = TextLimitOfNumber(IntMember(body, "text_limit"));
    std::optional<TOnExists> answer;
    if (const std::string a = StringMember(body, "on_exists", false); !a.empty()) answer = word(OnExistsOfWord, a);
    const std::string relative = c.Folder.Relative(target);
    const auto session = c.Imports->Open(options, file, relative, c.Folder, answer);
    if (mapping) {
      session->LoadMapping(*mapping);
    } else if (const auto last = c.Imports->Remembered(file, relative)) {
      try {
        session->LoadMapping(*last);  // the links of the last dialog of this file and library
      } catch (const Exception&) {
        session->Edit([](TExcelImportForm& f) { f.ClearButtonClick(); });  // they no longer fit: start afresh
      }
    }
    Reply(res, [&](JsonWriter& json) { session->WriteState(json); });
  });

  // {id, file, overwrite}: "Save links" into a JSON file of the folder; an existing file only with overwrite (409).
  routes.Post("/api/import/save-links", [&c](const httplib::Request& req, httplib::Response& res) {
    const Json body = Body(req);
    const auto session = SessionOf(c, body);
    const fs::path file = c.Folder.Resolve(StringMember(body, "file"), false);
    if (!MatchesMask(file.filename().string(), "*.json")) throw EHttpError(400, "A mapping file's name ends in .json");
    if (!fs::is_directory(file.parent_path())) throw EHttpError(400, "The mapping's folder does not exist");
    const bool overwrite = body.contains("overwrite") && BoolMember(body, "overwrite");
    std::error_code ec;
    if (!overwrite && fs::exists(file, ec)) throw EHttpError(409, "\"" + file.filename().string() + "\" exists already");
    WriteImportMapping(file.string(), session->Mapping(), overwrite);
    Reply(res, [&](JsonWriter& json) { json.BeginObject().Member("file", c.Folder.Relative(file)).EndObject(); });
  });

  // {id, file}: "Load links" from a mapping file of the folder.
  routes.Post("/api/import/load-links", [&c](const httplib::Request& req, httplib::Response& res) {
    const Json body = Body(req);
    const auto session = SessionOf(c, body);
    session->LoadMapping(ReadImportMapping(c.Folder.Resolve(StringMember(body, "file")).string()));
    Reply(res, [&](JsonWriter& json) { session->WriteState(json); });
  });

  // The sheets of a workbook of the folder, for the choice before the dialog opens ([] for a text file).
  routes.Get("/api/sheets", [&c](const httplib::Request& req, httplib::Response& res) {
    const std::vector<std::string> names = ListSheetNames(c.Folder.Resolve(Query(req, "path")).string());
    Reply(res, [&](JsonWriter& json) {
      json.BeginObject().Key("sheets").BeginArray();
      for (const std::string& n : names) json.String(n);
      json.EndArray().EndObject();
    });
  });

  routes.Get("/api/import/state", [&c](const httplib::Request& req, httplib::Response& res) {
    const auto session = c.Imports->Find(QueryInt(req, "id", 0, 1, std::numeric_limits<std::int64_t>::max()));
    Reply(res, [&](JsonWriter& json) { session->WriteState(json); });
  });

  // The dialog's controls: {id, op, value, checked, index}.
  routes.Post("/api/import/dialog", [&c](const httplib::Request& req, httplib::Response& res) {
    const Json body = Body(req);
    const auto session = SessionOf(c, body);
    const std::string op = StringMember(body, "op");
    if (op == "auto_link") session->AutoLink();
    else session->Edit([&](TExcelImportForm& f) {
      if (op == "start_line") f.SetStartLine(static_cast<std::int32_t>(IntMember(body, "value", 1, 30000)));
      else if (op == "stop_line") f.SetStopLine(static_cast<std::int32_t>(IntMember(body, "value", 1, 30000)));
      else if (op == "stop_checked") f.SetStopChecked(BoolMember(body, "checked"));
      else if (op == "clear") f.ClearButtonClick();
      else if (op == "delete_link") {
        if (f.LinkList.Items.empty()) throw EHttpError(400, "There is no link to delete");
        const auto index = static_cast<std::int32_t>(
            IntMember(body, "index", 0, static_cast<std::int64_t>(f.LinkList.Items.size()) - 1));
        f.LinkList.ItemIndex = index;
        f.LinkListDelete();
      } else throw EHttpError(400, "The import dialog has no operation \"" + op + "\"");
    });
    Reply(res, [&](JsonWriter& json) { session->WriteState(json); });
  });

  // The link dialog for link `index` (-1: a new one) as it opens; with `button` ("OK" or "Apply") the user's
  // choice {fix, column, fix_text, description} operates it first. Only offered entries can be chosen.
  routes.Post("/api/import/link", [&c](const httplib::Request& req, httplib::Response& res) {
    const Json body = Body(req);
    const auto session = SessionOf(c, body);
    const auto index = static_cast<std::int32_t>(IntMember(body, "index", -1, 30000));
    const std::string button = StringMember(body, "button", false);
    if (!button.empty() && button != "OK" && button != "Apply") throw EHttpError(400, "The link dialog has no button \"" + button + "\"");
    std::ostringstream out;
    JsonWriter json(out, JsonWriter::Layout::Compact);
    session->LinkDialog(json, index, button.empty() ? std::function<void(TSelectColForm&)>() : [&](TSelectColForm& f) {
      const auto offered = [](const TListControl& list, const std::string& text) {
        return std::find(list.Items.begin(), list.Items.end(), text) != list.Items.end();
      };
      const bool fix = BoolMember(body, "fix");
      const std::string description = StringMember(body, "description");
      if (!offered(f.DescrList, description)) throw EHttpError(400, "The field \"" + description + "\" is not offered");
      f.SetFix(fix);
      if (fix) f.SetFixStr(StringMember(body, "fix_text"));
      else {
        const std::string column = StringMember(body, "column");
        if (!offered(f.ColList, column)) throw EHttpError(400, "The file has no column \"" + column + "\"");
        f.SetXLSCol(column);
      }
      f.SetDescription(description);
      if (button == "OK") f.OKClick();
      else f.ApplyClick();
    });
    res.set_header("Cache-Control", "no-store");
    res.set_content("{\"link\":" + out.str() + ",\"dialog\":" + JsonText([&](JsonWriter& j) { session->WriteState(j); }) + "}",
                    "application/json");
  });

  routes.Post("/api/import/start", [&c](const httplib::Request& req, httplib::Response& res) {
    const auto session = SessionOf(c, Body(req));
    session->Start(c.Stopping);
    Reply(res, [&](JsonWriter& json) { json.BeginObject().Member("started", true).EndObject(); }, 202);
  });

  routes.Get("/api/import/events", [&c](const httplib::Request& req, httplib::Response& res) {
    const auto session = c.Imports->Find(QueryInt(req, "id", 0, 1, std::numeric_limits<std::int64_t>::max()));
    StreamEvents(req, res, session->Events(), c.Stopping);
  });

  // {id, ok, item, new_name}: the name dialog's answer (item 0..4 of its radio group).
  routes.Post("/api/import/answer", [&c](const httplib::Request& req, httplib::Response& res) {
    const Json body = Body(req);
    const auto session = SessionOf(c, body);
    const bool ok = BoolMember(body, "ok");
    const auto item = ok ? static_cast<std::int32_t>(IntMember(body, "item", 0, 4)) : 0;
    std::optional<std::string> newName;
    if (body.contains("new_name")) newName = StringMember(body, "new_name");
    session->Answer(ok, item, newName);
    Reply(res, [&](JsonWriter& json) { json.BeginObject().Member("answered", true).EndObject(); });
  });

  // "Stop" in the progress: the run ends as Ctrl-C ends `vezi import` (rolled back, nothing stored); its result
  // arrives as the "finished" event. The dialog stays open until it is closed.
  routes.Post("/api/import/stop", [&c](const httplib::Request& req, httplib::Response& res) {
    const auto session = SessionOf(c, Body(req));
    if (!session->Running()) throw EHttpError(409, "No import is running");
    session->Interrupt();
    Reply(res, [&](JsonWriter& json) { json.BeginObject().Member("stopping", true).EndObject(); });
  });

  // Cancel: closes the dialog; a run stops and stores nothing.
  routes.Post("/api/import/close", [&c](const httplib::Request& req, httplib::Response& res) {
    c.Imports->Close(IntMember(Body(req), "id", 1, std::numeric_limits<std::int64_t>::max()));
    Reply(res, [&](JsonWriter& json) { json.BeginObject().Member("closed", true).EndObject(); });
  });
}

}  // namespace vez::web
