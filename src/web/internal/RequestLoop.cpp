#include "web/internal/RequestLoop.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <map>
#include <mutex>
#include <vector>

#include "web/internal/Events.h"

namespace vez::web {

namespace {

using Clock = std::chrono::steady_clock;

bool SameText(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The path of a request target as the handlers see it: without the query, %XX decoded.
std::string DecodedPath(std::string_view target) {
  target = target.substr(0, target.find('?'));
  std::string path;
  for (std::size_t i = 0; i < target.size(); ++i) {
    if (target[i] == '%' && i + 2 < target.size() && HexDigit(target[i + 1]) >= 0 && HexDigit(target[i + 2]) >= 0) {
      path += static_cast<char>(HexDigit(target[i + 1]) * 16 + HexDigit(target[i + 2]));
      i += 2;
    } else {
      path += target[i];
    }
  }
  return path;
}

std::string Seconds(std::chrono::milliseconds time) { return fmt::format("{:g}", time.count() / 1000.0); }

// Removes two kinds of lines from a request's header before the HTTP library reads it:
// - Accept-Encoding, so that the library answers uncompressed: for a browser it would compress pages, scripts and
//   JSON with Brotli at its highest quality, which takes far longer than sending the bytes it saves over a local
//   connection;
// - Range: the library would cut every answer to the range asked for and still send it as the whole answer (200),
//   a JSON page cut to its first bytes. Without the line every answer is whole, as HTTP allows a server to answer
//   a range request.
void DropIgnoredHeaders(std::string& request) {
  constexpr std::string_view kNames[] = {"accept-encoding:", "range:"};
  const auto ignored = [&](std::string_view line) {
    return std::any_of(std::begin(kNames), std::end(kNames), [&](std::string_view name) {
      return line.size() >= name.size() && SameText(line.substr(0, name.size()), name);
    });
  };
  std::size_t headerEnd = request.find("\r\n\r\n");
  if (headerEnd == std::string::npos) return;
  for (std::size_t begin = request.find("\r\n") + 2; begin <= headerEnd;) {  // each header line
    const std::size_t eol = request.find("\r\n", begin);
    if (ignored(std::string_view(request).substr(begin, eol - begin))) {
      request.erase(begin, eol + 2 - begin);
      headerEnd -= eol + 2 - begin;
    } else {
      begin = eol + 2;
    }
  }
}

// The whole request, read by the HTTP library; the answer goes to the socket (or into a text), with a deadline
// on every wait for the client to take more of it.
class TRequestStream : public httplib::Stream {
public:
  TRequestStream(std::string_view request, int fd, std::chrono::milliseconds writeTime, std::string* out)
      : request_(request), fd_(fd), writeTime_(writeTime), out_(out) {}

  bool is_readable() const override { return read_ < request_.size(); }

  bool is_writable() const override {
    if (fd_ < 0) return true;
    if (!WaitWritable()) return false;
    // A client that went away (or shut its side) ends a streamed answer. cpp-httplib 0.11 never asks this on the
    // server's paths (there a failed write() ends the answer); versions that ask before each part get it here.
    char byte;
    const ssize_t n = ::recv(fd_, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    return n > 0 || (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR));
  }

  ssize_t read(char* ptr, std::size_t size) override {
    const std::size_t n = std::min(size, request_.size() - read_);
    std::memcpy(ptr, request_.data() + read_, n);
    read_ += n;
    return static_cast<ssize_t>(n);
  }

  ssize_t write(const char* ptr, std::size_t size) override {
    if (fd_ < 0) {
      out_->append(ptr, size);
      return static_cast<ssize_t>(size);
    }
    for (std::size_t done = 0; done < size;) {
      const ssize_t n = ::send(fd_, ptr + done, size - done, MSG_NOSIGNAL | MSG_DONTWAIT);
      if (n > 0) done += static_cast<std::size_t>(n);
      else if (n < 0 && errno == EINTR) continue;
      else if (!(n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && WaitWritable())) return -1;
    }
    return static_cast<ssize_t>(size);
  }

  void get_remote_ip_and_port(std::string& ip, int& port) const override { Address(::getpeername, ip, port); }
  void get_local_ip_and_port(std::string& ip, int& port) const override { Address(::getsockname, ip, port); }
  // The library refuses sockets that select() cannot watch; this stream never selects on its socket.
  socket_t socket() const override { return fd_ >= 0 && fd_ < FD_SETSIZE ? fd_ : 0; }

private:
  bool WaitWritable() const {
    pollfd p{fd_, POLLOUT, 0};
    int n;
    while ((n = ::poll(&p, 1, static_cast<int>(writeTime_.count()))) < 0 && errno == EINTR) {
    }
    return n > 0 && (p.revents & POLLOUT) != 0;
  }

  void Address(int (*get)(int, sockaddr*, socklen_t*), std::string& ip, int& port) const {
    ip = "127.0.0.1";
    port = 0;
    sockaddr_storage a{};
    socklen_t length = sizeof a;
    if (fd_ < 0 || get(fd_, reinterpret_cast<sockaddr*>(&a), &length) != 0) return;
    char text[INET6_ADDRSTRLEN] = {};
    if (a.ss_family == AF_INET) {
      const auto& v4 = reinterpret_cast<const sockaddr_in&>(a);
      ::inet_ntop(AF_INET, &v4.sin_addr, text, sizeof text);
      port = ntohs(v4.sin_port);
    } else if (a.ss_family == AF_INET6) {
      const auto& v6 = reinterpret_cast<const sockaddr_in6&>(a);
      ::inet_ntop(AF_INET6, &v6.sin6_addr, text, sizeof text);
      port = ntohs(v6.sin6_port);
    }
    ip = text;
  }

  std::string_view request_;
  std::size_t read_ = 0;
  int fd_;
  std::chrono::milliseconds writeTime_;
  std::string* out_;
};

}  // namespace

TRequestScan ScanRequest(std::string_view bytes, std::size_t headerLimit, const TBodyLimit& bodyLimit,
                         std::size_t from) {
  using EState = TRequestScan::EState;
  TRequestScan scan;
  const std::size_t end = bytes.find("\r\n\r\n", from >= 3 ? from - 3 : 0);
  if (end == std::string_view::npos || end + 4 > headerLimit) {
    if (end != std::string_view::npos || bytes.size() >= headerLimit) scan.State = EState::HeaderTooLarge;
    return scan;
  }
  scan.HeaderEnd = end + 4;
  const std::string_view head = bytes.substr(0, end + 2);  // every line with its CRLF
  std::size_t pos = head.find("\r\n");
  const std::string_view requestLine = head.substr(0, pos);
  const std::size_t targetBegin = std::min(requestLine.find(' '), requestLine.size());
  const std::string_view target = requestLine.substr(targetBegin + (targetBegin < requestLine.size()));
  const std::string path = DecodedPath(target.substr(0, target.find(' ')));
  bool lengthGiven = false, lengthValid = true, chunked = false;
  for (pos += 2; pos < head.size();) {
    const std::size_t eol = head.find("\r\n", pos);
    const std::string_view line = head.substr(pos, eol - pos);
    if (const std::size_t colon = line.find(':'); colon != std::string_view::npos) {
      const std::string_view name = line.substr(0, colon), value = Trim(line.substr(colon + 1));
      if (SameText(name, "Content-Length") && !lengthGiven) {
        lengthGiven = true;
        const auto [p, ec] = std::from_chars(value.data(), value.data() + value.size(), scan.BodyLength);
        lengthValid = ec == std::errc() && p == value.data() + value.size() && scan.BodyLength >= 0;
      } else if (SameText(name, "Transfer-Encoding")) {
        chunked = true;
      } else if (SameText(name, "Expect") && SameText(value, "100-continue")) {
        scan.ExpectBegin = pos;
        scan.ExpectEnd = eol + 2;
      }
    }
    pos = eol + 2;
  }
  if (chunked || !lengthValid || scan.BodyLength > bodyLimit(path)) {
    scan.State = EState::HeaderOnly;
    scan.Length = scan.HeaderEnd;
    scan.BodyLength = 0;
    return scan;
  }
  scan.Length = scan.HeaderEnd + static_cast<std::size_t>(scan.BodyLength);
  scan.State = bytes.size() >= scan.Length ? EState::Whole : EState::Incomplete;
  return scan;
}

std::string AnswerRequest(TRequestServer& server, std::string_view request) {
  std::string answer, read(request);
  DropIgnoredHeaders(read);
  TRequestStream stream(read, -1, {}, &answer);
  bool closed = false;
  server.Answer(stream, false, closed);
  return answer;
}

namespace {

struct TConnection {
  enum class EPhase { Header, Body, Idle, Busy, Lingering };
  int Fd = -1;
  EPhase Phase = EPhase::Header;
  std::string In;            // received bytes of this request and the next
  std::size_t Scanned = 0;   // bytes searched for the header's end
  TRequestScan Scan;
  Clock::time_point Since;   // when the wait for the current request began
  Clock::time_point Deadline;
  std::int64_t Reserved = 0;  // of the body memory
};

// What becomes of a connection after its answer.
enum class EAfter { Keep, Linger, Close };

constexpr auto kLingerTime = std::chrono::seconds(2);
constexpr std::size_t kReadChunk = 64 << 10;
constexpr std::chrono::nanoseconds kNextRequestWait = std::chrono::milliseconds(2);

}  // namespace

struct TRequestLoop::Impl {
  Impl(int listen, const TServeLimits& l, TBodyLimit b, TRequestServer& s)
      : listenFd(listen), limits(l), bodyLimit(std::move(b)), server(s) {
    epollFd = ::epoll_create1(EPOLL_CLOEXEC);
    wakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (epollFd < 0 || wakeFd < 0) {
      const int error = errno;
      for (int fd : {epollFd, wakeFd})
        if (fd >= 0) ::close(fd);
      throw Exception(std::string("No event loop for the server: ") + std::strerror(error));
    }
    Watch(listenFd);
    Watch(wakeFd);
  }

  ~Impl() {
    for (auto& [fd, c] : connections) ::close(fd);
    for (int fd : {listenFd, epollFd, wakeFd})
      if (fd >= 0) ::close(fd);
  }

  int listenFd, epollFd = -1, wakeFd = -1;
  TServeLimits limits;
  TBodyLimit bodyLimit;
  TRequestServer& server;
  std::atomic<bool> stopping{false};
  std::map<int, std::unique_ptr<TConnection>> connections;
  std::int64_t reserved = 0;  // body memory of the requests being received
  bool accepting = true;
  Clock::time_point resumeAccepting;
  std::unique_ptr<httplib::ThreadPool> workers;
  std::mutex returnedMutex;
  std::vector<std::pair<TConnection*, EAfter>> returned;  // by the workers

  void Watch(int fd) {
    epoll_event e{};
    e.events = EPOLLIN | EPOLLRDHUP;
    e.data.fd = fd;
    ::epoll_ctl(epollFd, EPOLL_CTL_ADD, fd, &e);
  }

  void Release(TConnection& c) {
    reserved -= c.Reserved;
    c.Reserved = 0;
  }

  void Close(TConnection& c) {
    Release(c);
    const int fd = c.Fd;
    ::close(fd);  // also leaves the epoll set
    connections.erase(fd);
  }

  // The answer of the loop itself (a refusal or a deadline): sent as far as the socket takes it at once.
  static void SendRefusal(int fd, int status, const char* reason, const std::string& message) {
    const std::string body = JsonText([&](JsonWriter& j) { j.BeginObject().Member("error", message).EndObject(); });
    const std::string text = fmt::format(
        "HTTP/1.1 {} {}\r\nContent-Type: application/json\r\nContent-Length: {}\r\nConnection: close\r\n\r\n{}",
        status, reason, body.size(), body);
    [[maybe_unused]] const ssize_t n = ::send(fd, text.data(), text.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
  }

  // Closes the sending side and discards what the client still sends for a while, so that it reads the
  // answer before the connection closes (a close with unread bytes would reset it).
  void Linger(TConnection& c, bool watched) {
    Release(c);
    ::shutdown(c.Fd, SHUT_WR);
    c.Phase = TConnection::EPhase::Lingering;
    c.In.clear();
    c.In.shrink_to_fit();
    c.Deadline = Clock::now() + kLingerTime;
    if (!watched) Watch(c.Fd);
  }

  void Refuse(TConnection& c, int status, const char* reason, const std::string& message) {
    SendRefusal(c.Fd, status, reason, message);
    Linger(c, true);
  }

  // Drops the connection that has waited longest for its request (lingering ones first); false when every
  // connection is being answered.
  bool DropOldest() {
    TConnection* oldest = nullptr;
    for (auto& [fd, c] : connections) {
      if (c->Phase == TConnection::EPhase::Busy) continue;
      const auto rank = [](const TConnection& x) { return x.Phase != TConnection::EPhase::Lingering; };
      if (!oldest || std::pair(rank(*c), c->Since) < std::pair(rank(*oldest), oldest->Since)) oldest = c.get();
    }
    if (oldest) Close(*oldest);
    return oldest != nullptr;
  }

  void Accept() {
    while (accepting) {
      const int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
      if (fd < 0) {
        if (errno == EINTR || errno == ECONNABORTED) continue;
        if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
          // Out of descriptors: make room, or stop accepting for a moment (the kernel keeps the backlog).
          if (DropOldest()) continue;
          ::epoll_ctl(epollFd, EPOLL_CTL_DEL, listenFd, nullptr);
          accepting = false;
          resumeAccepting = Clock::now() + std::chrono::milliseconds(100);
        }
        return;
      }
      if (static_cast<int>(connections.size()) >= limits.MaxConnections && !DropOldest()) {
        SendRefusal(fd, 503, "Service Unavailable", "The server is answering as many connections as it takes");
        ::close(fd);
        continue;
      }
      const int yes = 1;
      ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
      auto c = std::make_unique<TConnection>();
      c->Fd = fd;
      c->Since = Clock::now();
      c->Deadline = c->Since + limits.HeaderTime;
      Watch(fd);
      connections.emplace(fd, std::move(c));
    }
  }

  void OnReadable(TConnection& c) {
    if (c.Phase == TConnection::EPhase::Lingering) {
      char scratch[16 << 10];
      ssize_t n = 1;
      for (int round = 0; round < 4 && n > 0; ++round) n = ::recv(c.Fd, scratch, sizeof scratch, 0);
      if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) Close(c);
      return;
    }
    // At most a few chunks at a time, so that one fast client does not keep the loop from the others.
    for (int round = 0; round < 4; ++round) {
      const std::size_t wanted =
          c.Phase == TConnection::EPhase::Body ? c.Scan.Length - c.In.size() : limits.HeaderBytes + 1 - std::min(c.In.size(), limits.HeaderBytes);
      const std::size_t chunk = std::min(wanted, kReadChunk);
      const std::size_t had = c.In.size();
      c.In.resize(had + chunk);
      const ssize_t n = ::recv(c.Fd, c.In.data() + had, chunk, 0);
      c.In.resize(had + static_cast<std::size_t>(std::max<ssize_t>(n, 0)));
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
      if (n <= 0) return Close(c);  // the client went away (or failed) before its request was whole
      if (c.Phase == TConnection::EPhase::Idle) {
        c.Phase = TConnection::EPhase::Header;
        c.Deadline = Clock::now() + limits.HeaderTime;
      }
      if (!Progress(c) || static_cast<std::size_t>(n) < chunk) return;
    }
  }

  // Acts on the bytes received; false when the connection has left the reading (answered, refused, closed).
  bool Progress(TConnection& c) {
    using EState = TRequestScan::EState;
    if (c.Phase == TConnection::EPhase::Body) {
      if (c.In.size() < c.Scan.Length) return true;
      Dispatch(c);
      return false;
    }
    c.Scan = ScanRequest(c.In, limits.HeaderBytes, bodyLimit, c.Scanned);
    if (c.Scan.State == EState::Incomplete && c.Scan.HeaderEnd == 0) {
      c.Scanned = c.In.size();
      return true;
    }
    if (c.Scan.State == EState::HeaderTooLarge) {
      Refuse(c, 431, "Request Header Fields Too Large",
             fmt::format("The request's header is larger than {} KiB", limits.HeaderBytes >> 10));
      return false;
    }
    if (c.Scan.ExpectEnd > 0) {
      // The loop tells the client to send its body (unless it is refused anyway); the handlers never see it.
      c.In.erase(c.Scan.ExpectBegin, c.Scan.ExpectEnd - c.Scan.ExpectBegin);
      c.Scan = ScanRequest(c.In, limits.HeaderBytes, bodyLimit);
      static constexpr std::string_view kContinue = "HTTP/1.1 100 Continue\r\n\r\n";
      if (c.Scan.State == EState::Incomplete)
        [[maybe_unused]] const ssize_t n = ::send(c.Fd, kContinue.data(), kContinue.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    }
    if (c.Scan.State != EState::Incomplete) {
      Dispatch(c);
      return false;
    }
    if (reserved > 0 && reserved + c.Scan.BodyLength > limits.BodyMemory) {
      Refuse(c, 503, "Service Unavailable", "The server is receiving too many request bodies at once; try again");
      return false;
    }
    c.Reserved = c.Scan.BodyLength;
    reserved += c.Reserved;
    c.Phase = TConnection::EPhase::Body;
    c.Deadline = Clock::now() + BodyWait(c.Scan.BodyLength);
    return true;
  }

  // The time a body of that length has to arrive: BodyTime, and BodyTimePerMiB for every started MiB.
  std::chrono::milliseconds BodyWait(std::int64_t length) const {
    return limits.BodyTime + limits.BodyTimePerMiB * ((length + (1 << 20) - 1) >> 20);
  }

  // Hands the whole request to a worker; the connection comes back to the loop after the answer.
  void Dispatch(TConnection& c) {
    Release(c);
    const bool headerOnly = c.Scan.State == TRequestScan::EState::HeaderOnly;
    std::string request = c.In.substr(0, c.Scan.Length);
    c.In.erase(0, headerOnly ? c.In.size() : c.Scan.Length);  // a body that is not read is not a next request
    c.Scanned = 0;
    c.Phase = TConnection::EPhase::Busy;
    ::epoll_ctl(epollFd, EPOLL_CTL_DEL, c.Fd, nullptr);
    workers->enqueue([this, &c, request = std::move(request), headerOnly = headerOnly]() mutable {
      EAfter after = EAfter::Close;
      do {
        after = EAfter::Close;
        try {
          DropIgnoredHeaders(request);
          TRequestStream stream(request, c.Fd, limits.WriteTime, nullptr);
          bool clientCloses = false;
          if (server.Answer(stream, headerOnly, clientCloses))
            after = headerOnly || clientCloses ? EAfter::Linger : EAfter::Keep;
        } catch (...) {
        }
        headerOnly = false;
      } while (after == EAfter::Keep && NextRequestSoon(c, request));
      // A connection kept open with nothing more received is watched again from here, so the loop wakes only
      // for its next request and takes it back then (it takes returned connections after every wait, before it
      // reads). The lock keeps the loop from closing it, and its descriptor from being reused, meanwhile.
      const bool watchHere = after == EAfter::Keep && c.In.empty() && !stopping;
      c.Since = Clock::now();  // the wait for the next request begins (the loop reads it once it has taken c)
      {
        const std::lock_guard<std::mutex> lock(returnedMutex);
        returned.emplace_back(&c, after);
        if (watchHere) Watch(c.Fd);
      }
      if (!watchHere) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = ::write(wakeFd, &one, sizeof one);
      }
    });
  }

  // After an answer on a kept connection, the worker waits a moment for the client's next request: a client
  // that asks again at once (a page loading its parts, a list paged through) is then answered without the
  // loop waking and handing the request over to a worker again. Only a request that arrives whole in the
  // first bytes read is taken here (into `request`); anything else (part of a request, a body the server
  // does not read, an Expect line, the client gone) stays in c.In or on the socket for the loop, as does a
  // connection that sends nothing in time. The wait is short beside the loop's deadlines.
  bool NextRequestSoon(TConnection& c, std::string& request) {
    if (!c.In.empty() || stopping) return false;
    pollfd p{c.Fd, POLLIN, 0};
    const timespec wait{0, static_cast<long>(kNextRequestWait.count())};
    if (::ppoll(&p, 1, &wait, nullptr) <= 0 || (p.revents & POLLIN) == 0 || stopping) return false;
    c.In.resize(std::min(limits.HeaderBytes + 1, kReadChunk));
    const ssize_t n = ::recv(c.Fd, c.In.data(), c.In.size(), MSG_DONTWAIT);
    c.In.resize(static_cast<std::size_t>(std::max<ssize_t>(n, 0)));
    if (n <= 0) return false;  // the loop sees the close or the error when it watches the socket again
    const TRequestScan scan = ScanRequest(c.In, limits.HeaderBytes, bodyLimit);
    if (scan.State != TRequestScan::EState::Whole || scan.ExpectEnd > 0) return false;
    request.assign(c.In, 0, scan.Length);
    c.In.erase(0, scan.Length);
    return true;
  }

  void TakeReturned() {
    std::vector<std::pair<TConnection*, EAfter>> batch;
    {
      const std::lock_guard<std::mutex> lock(returnedMutex);
      batch.swap(returned);
    }
    for (auto [c, after] : batch) {
      if (after == EAfter::Close || stopping) {
        Close(*c);
      } else if (after == EAfter::Linger) {
        Linger(*c, false);
      } else {
        c->Phase = TConnection::EPhase::Idle;
        c->Deadline = c->Since + limits.IdleTime;
        Watch(c->Fd);  // unless the worker did
        if (!c->In.empty()) {  // the next request came with the last one
          c->Phase = TConnection::EPhase::Header;
          c->Deadline = c->Since + limits.HeaderTime;
          Progress(*c);
        }
      }
    }
  }

  // Cuts off the connections whose deadline has passed; the time until the next one (ms, at most SweepTime).
  int Sweep() {
    const auto now = Clock::now();
    std::vector<TConnection*> due;
    auto next = now + limits.SweepTime;
    for (auto& [fd, c] : connections) {
      if (c->Phase == TConnection::EPhase::Busy) continue;
      if (c->Deadline <= now) due.push_back(c.get());
      else next = std::min(next, c->Deadline);
    }
    for (TConnection* c : due) {
      const int fd = c->Fd;
      // A connection that has sent nothing of a request (a browser's spare one) closes without an answer.
      switch (c->In.empty() ? TConnection::EPhase::Idle : c->Phase) {
        case TConnection::EPhase::Header:
          Refuse(*c, 408, "Request Timeout",
                 "The request's header did not arrive within " + Seconds(limits.HeaderTime) + " s");
          break;
        case TConnection::EPhase::Body:
          Refuse(*c, 408, "Request Timeout",
                 "The request's body did not arrive within " + Seconds(BodyWait(c->Scan.BodyLength)) + " s");
          break;
        default:
          Close(*c);
      }
      if (const auto it = connections.find(fd); it != connections.end()) next = std::min(next, it->second->Deadline);
    }
    if (!accepting) next = std::min(next, resumeAccepting);
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(next - now).count();
    return static_cast<int>(std::max<std::int64_t>(wait, 0));
  }

  void Run() {
    workers = std::make_unique<httplib::ThreadPool>(static_cast<std::size_t>(std::max(1, limits.Workers)));
    std::array<epoll_event, 64> events;  // indexed through the array, which the checked builds bound
    while (!stopping) {
      const int n = ::epoll_wait(epollFd, events.data(), static_cast<int>(events.size()), Sweep());
      for (int i = 0; i < n && !stopping; ++i) {
        const int fd = events[static_cast<std::size_t>(i)].data.fd;
        if (fd == listenFd) {
          Accept();
        } else if (fd == wakeFd) {
          std::uint64_t count;
          [[maybe_unused]] const ssize_t got = ::read(wakeFd, &count, sizeof count);
        } else if (const auto it = connections.find(fd);
                   it != connections.end() && it->second->Phase != TConnection::EPhase::Busy) {
          OnReadable(*it->second);
        }
      }
      TakeReturned();
      if (!accepting && Clock::now() >= resumeAccepting) {
        accepting = true;
        Watch(listenFd);
      }
    }
    // Stop: no new connections; the waiting ones close; the workers finish their answers (streams end when
    // the server stops, writes at their deadline), then their connections close.
    ::close(listenFd);
    listenFd = -1;
    std::vector<TConnection*> waiting;
    for (auto& [fd, c] : connections)
      if (c->Phase != TConnection::EPhase::Busy) waiting.push_back(c.get());
    for (TConnection* c : waiting) Close(*c);
    workers->shutdown();
    TakeReturned();
  }
};

TRequestLoop::TRequestLoop(int listenFd, const TServeLimits& limits, TBodyLimit bodyLimit, TRequestServer& server)
    : impl_(std::make_unique<Impl>(listenFd, limits, std::move(bodyLimit), server)) {}

TRequestLoop::~TRequestLoop() = default;

void TRequestLoop::Run() {
  if (!impl_->stopping) impl_->Run();
}

void TRequestLoop::Stop() {
  impl_->stopping = true;
  impl_->server.SetServing(false);
  const std::uint64_t one = 1;
  [[maybe_unused]] const ssize_t n = ::write(impl_->wakeFd, &one, sizeof one);
}

}  // namespace vez::web
