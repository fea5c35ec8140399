#include "web/WebServer.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/random.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>

#include "core/FormatSettings.h"
#include "web/internal/Assets.h"
#include "web/internal/Http.h"
#include "web/internal/RequestLoop.h"

namespace vez {

namespace {

using web::EHttpError;

std::string NewToken() {
  unsigned char bytes[16];
  std::size_t got = 0;
  while (got < sizeof bytes) {
    const ssize_t n = getrandom(bytes + got, sizeof bytes - got, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw Exception(std::string("No random numbers for the token: ") + std::strerror(errno));
    got += static_cast<std::size_t>(n);
  }
  static const char* const kHex = "0123456789abcdef";
  std::string token;
  for (unsigned char b : bytes) token += {kHex[b >> 4], kHex[b & 15]};
  return token;
}

// Equal texts, in a time that does not tell how much of them matched.
bool SameSecret(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  unsigned char diff = 0;
  for (std::size_t i = 0; i < a.size(); ++i) diff |= static_cast<unsigned char>(a[i] ^ b[i]);
  return diff == 0;
}

bool IsLoopbackAddress(const std::string& address) {
  if (address == "localhost") return true;
  in_addr v4{};
  if (inet_pton(AF_INET, address.c_str(), &v4) == 1) return (ntohl(v4.s_addr) >> 24) == 127;
  in6_addr v6{};
  return inet_pton(AF_INET6, address.c_str(), &v6) == 1 && IN6_IS_ADDR_LOOPBACK(&v6);
}

// The host name of a Host header ("localhost:8080", "[::1]:8080").
std::string HostName(const std::string& header) {
  if (!header.empty() && header.front() == '[') return header.substr(1, header.find(']') - 1);
  return header.substr(0, header.find(':'));
}

std::string CookieValue(const std::string& cookies, const std::string& name) {
  std::size_t pos = 0;
  while (pos < cookies.size()) {
    while (pos < cookies.size() && (cookies[pos] == ' ' || cookies[pos] == ';')) ++pos;
    const std::size_t end = std::min(cookies.find(';', pos), cookies.size());
    const std::string item = cookies.substr(pos, end - pos);
    if (item.size() > name.size() && item.compare(0, name.size(), name) == 0 && item[name.size()] == '=')
      return item.substr(name.size() + 1);
    pos = end;
  }
  return {};
}

// A listening socket (non-blocking) on the address and port; 0 takes a free port. SO_REUSEADDR only, so that a
// restart can take a port whose old connections wait in TIME_WAIT, while a second server on a port in use fails.
int Listen(const std::string& address, int port) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
  addrinfo* found = nullptr;
  if (const int rc = ::getaddrinfo(address.c_str(), std::to_string(port).c_str(), &hints, &found); rc != 0)
    throw Exception(Format("Cannot listen on %s port %d: %s", address, port, ::gai_strerror(rc)));
  int error = 0;
  for (const addrinfo* a = found; a; a = a->ai_next) {
    const int fd = ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
    if (fd < 0) {
      error = errno;
      continue;
    }
    const int yes = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    if (::bind(fd, a->ai_addr, a->ai_addrlen) == 0 && ::listen(fd, SOMAXCONN) == 0) {
      ::freeaddrinfo(found);
      return fd;
    }
    error = errno;
    ::close(fd);
  }
  ::freeaddrinfo(found);
  throw Exception(Format("Cannot listen on %s port %d: %s", address, port, std::strerror(error)));
}

int BoundPort(int fd) {
  sockaddr_storage a{};
  socklen_t length = sizeof a;
  if (::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length) != 0) return -1;
  return ntohs(a.ss_family == AF_INET6 ? reinterpret_cast<const sockaddr_in6&>(a).sin6_port
                                       : reinterpret_cast<const sockaddr_in&>(a).sin_port);
}

std::string_view MimeType(std::string_view path) {
  const auto ends = [&](std::string_view ext) { return path.size() >= ext.size() && path.substr(path.size() - ext.size()) == ext; };
  if (ends(".html")) return "text/html; charset=utf-8";
  if (ends(".css")) return "text/css; charset=utf-8";
  if (ends(".js")) return "text/javascript; charset=utf-8";
  if (ends(".svg")) return "image/svg+xml";
  if (ends(".png")) return "image/png";
  return "application/octet-stream";
}

std::string HtmlEscape(std::string_view text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

}  // namespace

struct TWebServer::Impl {
  explicit Impl(TServeOptions o) : options(std::move(o)), context(options.Folder) {}

  TServeOptions options;
  web::TContext context;
  web::TRequestServer server;
  std::unique_ptr<web::TRequestLoop> loop;
  int port = 0;
  bool loopback = true;
  std::string cookieName;

  // The largest body a request to the path may have.
  std::int64_t BodyLimit(const std::string& path) const {
    return path == "/api/upload" ? context.UploadLimit + (64 << 10) : web::kJsonBodyLimit;
  }
  httplib::Server::HandlerResponse Admit(const httplib::Request& req, httplib::Response& res);
  void ServeAsset(const httplib::Request& req, httplib::Response& res);
};

// Every request passes here before its handler, and before its body is read.
httplib::Server::HandlerResponse TWebServer::Impl::Admit(const httplib::Request& req, httplib::Response& res) {
  using R = httplib::Server::HandlerResponse;
  const bool api = req.path.rfind("/api/", 0) == 0;
  const auto refuse = [&](int status, const std::string& message) {
    if (api) web::ReplyError(res, status, message);
    else {
      res.status = status;
      res.set_content(message + "\n", "text/plain; charset=utf-8");
    }
    return R::Handled;
  };
  if (loopback && !IsLoopbackAddress(HostName(req.get_header_value("Host"))))
    return refuse(403, "This server answers only requests for the loopback address");
  if (req.path == "/" && req.has_param("token")) {
    if (!SameSecret(req.get_param_value("token"), context.Token))
      return refuse(403, "The token in this address is not the one of this server; open the address that "
                         "vezi serve printed");
    res.status = 303;
    res.set_header("Set-Cookie", cookieName + "=" + context.Token + "; Path=/; HttpOnly; SameSite=Strict");
    res.set_header("Location", "/");
    return R::Handled;
  }
  const std::string header = req.get_header_value("X-Vezi-Token");
  const bool byHeader = SameSecret(header, context.Token);
  if (!byHeader && !SameSecret(CookieValue(req.get_header_value("Cookie"), cookieName), context.Token))
    return refuse(403, "This request has no valid token; open the address that vezi serve printed");
  if (req.method != "GET" && req.method != "HEAD" && !byHeader)
    return refuse(403, "A request that changes something needs the token in the X-Vezi-Token header");
  if (req.has_header("Transfer-Encoding")) return refuse(411, "A request body needs a Content-Length");
  const std::int64_t limit = BodyLimit(req.path);
  const std::string length = req.get_header_value("Content-Length");
  std::int64_t bytes = 0;
  if (!length.empty() && (std::from_chars(length.data(), length.data() + length.size(), bytes).ec != std::errc() || bytes > limit))
    return refuse(413, req.path == "/api/upload"
                           ? Format("The file is larger than the upload limit of %d MB", context.UploadLimit >> 20)
                           : std::string("The request body is larger than 1 MiB"));
  return R::Unhandled;
}

void TWebServer::Impl::ServeAsset(const httplib::Request& req, httplib::Response& res) {
  const std::string path = req.path == "/" ? "/index.html" : req.path;
  for (const web::TAsset& asset : web::Assets()) {
    if (asset.Path != path) continue;
    std::string body(asset.Data);
    if (path == "/index.html") {
      // The page carries the token for the X-Vezi-Token header of its requests (the cookie is HttpOnly).
      const auto put = [&](const std::string& key, const std::string& value) {
        for (std::size_t at; (at = body.find(key)) != std::string::npos;) body.replace(at, key.size(), value);
      };
      put("{{TOKEN}}", context.Token);
      put("{{FOLDER}}", HtmlEscape(context.Folder.Root().filename().string()));
    }
    res.set_header("Cache-Control", "no-store");
    res.set_header("X-Content-Type-Options", "nosniff");
    res.set_content(body, std::string(MimeType(path)));
    return;
  }
  web::ReplyError(res, 404, "There is no page \"" + req.path + "\"");
}

TWebServer::TWebServer(TServeOptions options) : impl_(std::make_unique<Impl>(std::move(options))) {
  Impl& d = *impl_;
  d.context.Token = NewToken();
  d.context.UploadLimit = d.options.UploadLimit;
  d.context.Conversions = web::MakeConversions();
  d.context.Imports = web::MakeImportSessions();
  d.loopback = IsLoopbackAddress(d.options.Bind);

  web::TRequestServer& s = d.server;
  s.set_keep_alive_timeout(std::max<std::int64_t>(1, d.options.Limits.IdleTime.count() / 1000));
  s.set_keep_alive_max_count(1000);  // the loop does not count a connection's requests
  s.set_payload_max_length(static_cast<std::size_t>(d.options.UploadLimit + (64 << 10)));
  s.set_pre_routing_handler([&d](const httplib::Request& req, httplib::Response& res) { return d.Admit(req, res); });
  s.set_error_handler([](const httplib::Request& req, httplib::Response& res) {
    if (!res.body.empty()) return;
    web::ReplyError(res, res.status, res.status == 404 ? "There is no page \"" + req.path + "\""
                                                       : "The request cannot be served (HTTP " + std::to_string(res.status) + ")");
  });
  s.set_default_headers({{"X-Frame-Options", "DENY"}, {"Referrer-Policy", "no-referrer"}});

  web::TRoutes routes(s, d.context);
  web::RegisterTextRoutes(routes);
  web::RegisterFolderRoutes(routes);
  web::RegisterLibraryRoutes(routes);
  web::RegisterConvertRoutes(routes);
  web::RegisterPictureRoutes(routes);
  web::RegisterImportRoutes(routes);
  s.Get(R"(/|/[A-Za-z0-9_-]+\.(html|css|js)|/js/[A-Za-z0-9_-]+\.js)",
        [&d](const httplib::Request& req, httplib::Response& res) { d.ServeAsset(req, res); });

  const int listenFd = Listen(d.options.Bind, d.options.Port);
  d.port = BoundPort(listenFd);
  try {
    d.loop = std::make_unique<web::TRequestLoop>(listenFd, d.options.Limits,
                                                 [&d](const std::string& path) { return d.BodyLimit(path); }, s);
  } catch (...) {
    ::close(listenFd);
    throw;
  }
  s.SetServing(true);
  d.cookieName = "vezi_token_" + std::to_string(d.port);
}

TWebServer::~TWebServer() {
  Stop();
  WaitForJobs();
}

const std::string& TWebServer::Folder() const { return impl_->context.Folder.Root().native(); }
int TWebServer::Port() const { return impl_->port; }
const std::string& TWebServer::Token() const { return impl_->context.Token; }
bool TWebServer::Loopback() const { return impl_->loopback; }

std::string TWebServer::Url() const {
  const std::string& a = impl_->options.Bind;
  const std::string host = a.find(':') != std::string::npos ? "[" + a + "]" : a;
  return "http://" + host + ":" + std::to_string(impl_->port) + "/?token=" + impl_->context.Token;
}

void TWebServer::Run() {
  if (!impl_->context.Stopping) impl_->loop->Run();
}

void TWebServer::Stop() {
  Impl& d = *impl_;
  d.context.Stopping = true;
  web::StopConversions(*d.context.Conversions);
  web::StopImports(*d.context.Imports);
  d.loop->Stop();
}

std::string TWebServer::Answer(std::string_view request) { return web::AnswerRequest(impl_->server, request); }

void TWebServer::WaitForJobs() {
  web::WaitForConversions(*impl_->context.Conversions);
  web::WaitForImports(*impl_->context.Imports);
}

}  // namespace vez
