// What the request handlers of the web application share: the error with its HTTP status, reading query
// parameters and JSON bodies, writing JSON replies, and the route table that turns every failure into a JSON
// error with a fitting status.
#pragma once

#include <httplib.h>

#include <nlohmann/json.hpp>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "core/Exceptions.h"
#include "output/JsonWriter.h"
#include "web/internal/ServedFolder.h"

namespace vez::web {

using Json = nlohmann::json;

// A request that cannot be served as asked: the status and the message the page shows.
class EHttpError : public Exception {
public:
  EHttpError(int status, const std::string& message) : Exception(message), status_(status) {}
  int Status() const { return status_; }

private:
  int status_;
};

class TConversions;
class TImportSessions;
class TOpenLibraries;

// The state every handler sees.
struct TContext {
  explicit TContext(const std::string& folder) : Folder(folder) {}
  TServedFolder Folder;
  std::string Token;
  std::int64_t UploadLimit = 0;
  std::atomic<bool> Stopping{false};
  // Kept by the modules that define them (shared_ptr: the types are complete only there).
  std::shared_ptr<TConversions> Conversions;
  std::shared_ptr<TImportSessions> Imports;
  std::shared_ptr<TOpenLibraries> Libraries;  // kept open between requests (LibraryCache.h)
};

inline constexpr std::int64_t kJsonBodyLimit = 1 << 20;

// A query parameter; 400 when it is missing and required.
std::string Query(const httplib::Request& req, const char* name, bool required = true);
// A whole-number query parameter in [lo, hi]; `fallback` when it is missing.
std::int64_t QueryInt(const httplib::Request& req, const char* name, std::int64_t fallback, std::int64_t lo,
                      std::int64_t hi);
bool QueryBool(const httplib::Request& req, const char* name);

// The body as a JSON object; 400 when it is not one.
Json Body(const httplib::Request& req);
// Members of a JSON object; 400 when a required one is missing or of another kind.
std::string StringMember(const Json& object, const char* name, bool required = true);
bool BoolMember(const Json& object, const char* name);
std::int64_t IntMember(const Json& object, const char* name, std::int64_t lo, std::int64_t hi);
// Any whole number: its range is the library's to judge.
std::int64_t IntMember(const Json& object, const char* name);

// Writes the reply: the function fills the writer (compact JSON).
void Reply(httplib::Response& res, const std::function<void(JsonWriter&)>& fill, int status = 200);
// Writes a reply already in JSON form.
void ReplyJson(httplib::Response& res, std::string json, int status = 200);
void ReplyError(httplib::Response& res, int status, const std::string& message);

using THandler = std::function<void(const httplib::Request&, httplib::Response&)>;

// Registers handlers; each runs inside a guard that answers a failure with its message: EHttpError with its
// status, an engine or library error 422, anything else 500.
class TRoutes {
public:
  TRoutes(httplib::Server& server, TContext& context) : server_(server), context_(context) {}
  void Get(const std::string& pattern, THandler handler);
  void Post(const std::string& pattern, THandler handler);
  TContext& Context() { return context_; }

private:
  THandler Guard(THandler handler);
  httplib::Server& server_;
  TContext& context_;
};

void RegisterFolderRoutes(TRoutes& routes);
void RegisterLibraryRoutes(TRoutes& routes);
void RegisterConvertRoutes(TRoutes& routes);
void RegisterPictureRoutes(TRoutes& routes);
void RegisterImportRoutes(TRoutes& routes);
void RegisterTextRoutes(TRoutes& routes);

// Made and stopped with the server (ConvertApi.cpp, ImportApi.cpp).
std::shared_ptr<TConversions> MakeConversions();
std::shared_ptr<TImportSessions> MakeImportSessions();  // the server's: the text limit of one import, for them all
// Import dialogs that hold at most `textBytes` of text together.
std::shared_ptr<TImportSessions> MakeImportSessions(std::int64_t textBytes);
// Stop: wakes everything that waits for a client; Wait: joins the worker threads.
void StopConversions(TConversions& conversions);
void WaitForConversions(TConversions& conversions);
void StopImports(TImportSessions& imports);
void WaitForImports(TImportSessions& imports);
// The most text in bytes that the open import dialogs of a server hold together (for tests).
std::int64_t ImportTextLimit(const TImportSessions& imports);

}  // namespace vez::web
