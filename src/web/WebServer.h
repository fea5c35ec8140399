// The local web application of the suite: one project folder served to a browser on this computer, with the
// folder's libraries, the conversion window, library pages, the spectrum and TNM pictures and the import
// dialog. Handlers are thin: they call the same library functions as the CLI and the Python module and write
// JSON through vez::JsonWriter; the pages (HTML, CSS, JavaScript modules) are compiled into the program.
//
// Security model:
// - The server listens on the loopback address unless told otherwise, and knows one folder: every path a
//   request names is resolved (symbolic links included) and must stay inside it.
// - Every request needs the server's token, a random 128-bit number printed in the address. The first visit
//   with ?token=T turns it into a cookie (HttpOnly, SameSite=Strict) and leaves the address without it;
//   requests that change anything also need the token in the X-Vezi-Token header, which a page of another
//   site cannot send. Without it a request gets 403; on the loopback address the Host header must name the
//   loopback too (no DNS rebinding).
// - Bodies are limited (JSON 1 MiB, uploads the upload limit); errors are JSON {"error": message} with a
//   fitting status. The client sends field names and values, never SQL or shell text.
//
// Connections: one thread accepts them and reads each request whole, within its deadlines (TServeLimits),
// before a worker thread answers it; an idle, slow or stalled client holds a connection, never a worker.
// Connections are capped in all (not per address: every client of a loopback server has the same one), and
// when the cap is reached the one that has waited longest for its request is dropped.
//
// Threads: requests run on a pool of threads, each with its own library objects. Conversions and imports run
// on threads of their own; Stop ends the server, WaitForJobs lets a running conversion finish and rolls an
// import back.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace vez {

// The deadlines and caps that keep slow or hostile clients from holding the server.
struct TServeLimits {
  int MaxConnections = 256;  // open connections in all; at the cap the oldest idle or slow one is dropped
  int Workers = 16;          // threads that answer whole requests
  std::size_t HeaderBytes = 64 << 10;  // a request's line and header fields
  // A connection's request header must arrive within HeaderTime: from its first byte on a kept-alive
  // connection, from the connection's opening for the first request.
  std::chrono::milliseconds HeaderTime{10000};
  // A body within BodyTime plus BodyTimePerMiB for every started MiB of its Content-Length.
  std::chrono::milliseconds BodyTime{30000};
  std::chrono::milliseconds BodyTimePerMiB{1000};
  std::chrono::milliseconds IdleTime{5000};   // a kept-alive connection waits this long for the next request
  std::chrono::milliseconds WriteTime{30000};  // an answer the client takes nothing of for this long is cut off
  // The loop wakes for the events it watches, at each deadline, and after SweepTime at the latest.
  std::chrono::milliseconds SweepTime{1000};
  // Request bodies being received at the same time, together (one body alone may be larger, up to its limit).
  std::int64_t BodyMemory = 256ll << 20;
};

struct TServeOptions {
  std::string Folder = ".";          // the served folder
  std::string Bind = "127.0.0.1";    // address to listen on
  int Port = 8080;                   // 0: any free port
  std::int64_t UploadLimit = 50ll << 20;  // bytes of one uploaded file
  TServeLimits Limits;
};

class TWebServer {
public:
  // Checks the folder, makes the token and binds the port; throws vez::Exception when one of them fails.
  explicit TWebServer(TServeOptions options);
  ~TWebServer();
  TWebServer(const TWebServer&) = delete;
  TWebServer& operator=(const TWebServer&) = delete;

  const std::string& Folder() const;  // the served folder, absolute and without symbolic links
  int Port() const;                   // the bound port
  const std::string& Token() const;   // 32 hexadecimal digits
  // http://ADDR:PORT/?token=T
  std::string Url() const;
  // True when the address is a loopback address.
  bool Loopback() const;

  // Serves requests until Stop is called (from any thread).
  void Run();
  void Stop();
  // After Stop: waits until a running conversion has finished and an import has rolled back.
  void WaitForJobs();
  // Answers one whole request, given as its bytes, as a worker answers it but without a connection: the bytes
  // of the answer. Also after Stop, as a worker answers the request it was given just before the stop.
  std::string Answer(std::string_view request);

private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace vez
