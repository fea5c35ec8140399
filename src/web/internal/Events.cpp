#include "web/internal/Events.h"

#include <charconv>
#include <chrono>
#include <sstream>

namespace vez::web {

std::string JsonText(const std::function<void(JsonWriter&)>& fill) {
  std::ostringstream out;
  JsonWriter json(out, JsonWriter::Layout::Compact);
  fill(json);
  return out.str();
}

void TEventLog::Add(std::string type, std::string json) {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    events_.push_back({std::move(type), std::move(json)});
  }
  changed_.notify_all();
}

void TEventLog::Close() {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (closed_) return;
    events_.push_back({"end", "{}"});
    closed_ = true;
  }
  changed_.notify_all();
}

bool TEventLog::Closed() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return closed_;
}

void TEventLog::Wake() { changed_.notify_all(); }

bool TEventLog::Wait(std::size_t next, std::vector<TEvent>& out, const std::atomic<bool>& stopping) {
  std::unique_lock<std::mutex> lock(mutex_);
  // A short slice: the stream then writes a comment, which tells a client that went away, and sees a stop.
  changed_.wait_for(lock, std::chrono::seconds(1),
                    [&] { return next < events_.size() || closed_ || stopping.load(); });
  for (std::size_t i = next; i < events_.size(); ++i) out.push_back(events_[i]);
  return !(closed_ && next + out.size() >= events_.size()) && !stopping.load();
}

void StreamEvents(const httplib::Request& req, httplib::Response& res, std::shared_ptr<TEventLog> log,
                  const std::atomic<bool>& stopping) {
  std::size_t next = 0;
  const std::string last = req.get_header_value("Last-Event-ID");
  if (std::size_t id = 0; !last.empty() && std::from_chars(last.data(), last.data() + last.size(), id).ec == std::errc())
    next = id + 1;
  res.set_header("Cache-Control", "no-store");
  res.set_chunked_content_provider(
      "text/event-stream", [log = std::move(log), next, &stopping](std::size_t, httplib::DataSink& sink) mutable {
        std::vector<TEventLog::TEvent> batch;
        const bool more = log->Wait(next, batch, stopping);
        std::string text;
        for (const auto& e : batch)
          text += "id: " + std::to_string(next++) + "\nevent: " + e.Type + "\ndata: " + e.Data + "\n\n";
        if (batch.empty() && more) text = ": waiting\n\n";
        if (!text.empty() && !sink.write(text.data(), text.size())) return false;
        if (!more) sink.done();
        return true;
      });
}

}  // namespace vez::web
