// The events of a long piece of work (a conversion, an import) as a browser follows them with Server-Sent
// Events: an append-only list that any number of clients read from their own position, so a page opened late
// or reconnected (Last-Event-ID) sees every event from the first.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "web/internal/Http.h"

namespace vez::web {

class TEventLog {
public:
  struct TEvent {
    std::string Type;
    std::string Data;  // one line of JSON
  };

  void Add(std::string type, std::string json);
  // No more events follow; the last one is "end" {}.
  void Close();
  bool Closed() const;
  // Wakes every waiting reader (the server stops).
  void Wake();

  // Waits until there are events after `next`, the log is closed, the server stops or a second passes;
  // copies the new events. True while more may come.
  bool Wait(std::size_t next, std::vector<TEvent>& out, const std::atomic<bool>& stopping);

private:
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<TEvent> events_;
  bool closed_ = false;
};

// Streams the log to the client as text/event-stream, from the event after Last-Event-ID.
void StreamEvents(const httplib::Request& req, httplib::Response& res, std::shared_ptr<TEventLog> log,
                  const std::atomic<bool>& stopping);

// The JSON text that `fill` writes (compact).
std::string JsonText(const std::function<void(JsonWriter&)>& fill);

}  // namespace vez::web
