// The front of the web server: one thread with an event loop (epoll, non-blocking sockets) accepts the
// connections and reads every request whole, within its deadlines, before a worker thread sees it. A worker
// then answers it through the HTTP library's handlers and writes the answer straight to the socket (so event
// streams and downloads flow as they are made), and hands the connection back to the loop to wait for the next
// request. Idle, slow and stalled clients therefore hold a connection at most, never a worker; connections
// are capped in all, and the oldest idle or slow one is dropped first when the cap is reached.
#pragma once

#include <httplib.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "web/WebServer.h"

namespace vez::web {

// The HTTP library's server, fed with whole requests instead of listening itself.
class TRequestServer : public httplib::Server {
public:
  // Reads one request from the stream, runs its handlers and writes the answer. `closeConnection`: the answer
  // says the connection closes; `connectionClosed` is set when the client asked for that.
  bool Answer(httplib::Stream& stream, bool closeConnection, bool& connectionClosed) {
    return process_request(stream, closeConnection, connectionClosed, nullptr);
  }
  // The library ends the answers it streams when it sees no listening socket: true while the server serves.
  void SetServing(bool serving) { svr_sock_ = serving ? 0 : INVALID_SOCKET; }
};

// What the bytes received on a connection hold so far.
struct TRequestScan {
  enum class EState {
    Incomplete,   // the header or the body has not fully arrived
    Whole,        // header and body: the first Length bytes
    HeaderOnly,   // a body the server does not read (over its limit, without a Content-Length, or chunked): the
                  // header goes to the handlers alone (they refuse it) and the connection closes after the answer
    HeaderTooLarge,
  };
  EState State = EState::Incomplete;
  std::size_t HeaderEnd = 0;  // bytes of the header with its blank line (0 while incomplete)
  std::size_t Length = 0;     // bytes of the whole request (Whole), of the header (HeaderOnly)
  std::int64_t BodyLength = 0;
  // The "Expect: 100-continue" line, [ExpectBegin, ExpectEnd): the loop answers it itself and removes it.
  std::size_t ExpectBegin = 0, ExpectEnd = 0;
};

// The limit of a request body by the request's path (percent-decoded, without the query).
using TBodyLimit = std::function<std::int64_t(const std::string& path)>;

// Scans received bytes; `from` is where the search for the header's end may start (bytes before it were
// scanned already and held no blank line).
TRequestScan ScanRequest(std::string_view bytes, std::size_t headerLimit, const TBodyLimit& bodyLimit,
                         std::size_t from = 0);

// Answers one whole request given as its bytes, as a worker answers it: the bytes of the answer.
std::string AnswerRequest(TRequestServer& server, std::string_view request);

class TRequestLoop {
public:
  // Takes the listening socket (non-blocking). `server` answers the requests.
  TRequestLoop(int listenFd, const TServeLimits& limits, TBodyLimit bodyLimit, TRequestServer& server);
  ~TRequestLoop();
  TRequestLoop(const TRequestLoop&) = delete;
  TRequestLoop& operator=(const TRequestLoop&) = delete;

  // Serves until Stop; returns when every worker has finished. Returns at once after a Stop.
  void Run();
  // From any thread, also before Run.
  void Stop();

private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace vez::web
