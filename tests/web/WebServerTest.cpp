// vezi serve over HTTP: a server on a free port in this process, its answers compared with what the library and
// the vezi tool give for the same files, and hostile requests that must be refused without changing anything.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/epoll.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <httplib.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <set>
#include <sstream>
#include <thread>
#include <tuple>
#include <utility>

#include "TestUtil.h"
#include "core/CaseFold.h"
#include "core/Exceptions.h"
#include "VeziRunner.h"
#include "convert/ConvertParadox.h"
#include "import/XLS_ASCII_Import.h"
#include "pxwriter/PxWriter.h"
#include "web/WebServer.h"
#include "web/internal/Library.h"
#include "web/internal/RequestLoop.h"
#include "web/internal/ServedFolder.h"

// The server's socket calls as this test program sees them: an accept fails on demand (as when the process or
// the system is out of descriptors or memory), and the address lists that getaddrinfo gives are counted until freed;
// so are the loop's waits for events.
// When set, the accept after the next one that succeeds fails with it (set negative: the next accept fails).
std::atomic<int> g_acceptError{0};
std::atomic<int> g_addressLists{0};
extern "C" int accept4(int fd, sockaddr* address, socklen_t* length, int flags) {
  static thread_local bool failNext = false;
  if (std::exchange(failNext, false) || g_acceptError < 0) {
    errno = std::abs(g_acceptError.exchange(0));
    return -1;
  }
  const int got = static_cast<int>(::syscall(SYS_accept4, fd, address, length, flags));
  failNext = got >= 0 && g_acceptError != 0;
  return got;
}
extern "C" int getaddrinfo(const char* node, const char* service, const addrinfo* hints, addrinfo** found) {
  static const auto real = reinterpret_cast<decltype(&getaddrinfo)>(::dlsym(RTLD_NEXT, "getaddrinfo"));
  const int rc = real(node, service, hints, found);
  g_addressLists += rc == 0;
  return rc;
}
std::atomic<int> g_waits{0};
extern "C" int epoll_wait(int epfd, epoll_event* events, int max, int timeout) {
  static const auto real = reinterpret_cast<decltype(&epoll_wait)>(::dlsym(RTLD_NEXT, "epoll_wait"));
  ++g_waits;
  return real(epfd, events, max, timeout);
}
extern "C" void freeaddrinfo(addrinfo* list) noexcept {
  static const auto real = reinterpret_cast<decltype(&freeaddrinfo)>(::dlsym(RTLD_NEXT, "freeaddrinfo"));
  --g_addressLists;
  real(list);
}

namespace vez {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;
using namespace std::chrono_literals;
using test::TempDir;

const fs::path kSample = fs::path(VEZ_EXAMPLES_DIR) / "paradox-libs";

test::RunResult Vezi(const std::vector<std::string>& args) { return test::RunProgram(VEZI_EXECUTABLE, args); }

// The sample folder converted once by the library; every test works on its own copy.
const fs::path& ConvertedSample() {
  static TempDir dir;
  static const fs::path libs = [] {
    fs::copy(kSample, dir.Path() / "libs", fs::copy_options::recursive);
    ConvertParadoxFiles((dir.Path() / "libs").string(), true, false);
    return dir.Path() / "libs";
  }();
  return libs;
}

// A connection to the server on the loopback address (-1 when it fails), with a receive buffer of that size. A
// read or a send waits 20 s at most: a server that neither answers nor reads fails the test instead of holding it.
int Connect(int port, int receiveBuffer = 0, int fd = ::socket(AF_INET, SOCK_STREAM, 0)) {
  if (receiveBuffer > 0) ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
  const timeval wait{20, 0};
  for (const int option : {SO_RCVTIMEO, SO_SNDTIMEO}) ::setsockopt(fd, SOL_SOCKET, option, &wait, sizeof wait);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) return fd;
  ::close(fd);
  return -1;
}

// A connection to the server on which the request has been sent.
int Send(int port, const std::string& request, int receiveBuffer = 0) {
  const int fd = Connect(port, receiveBuffer);
  ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
  return fd;
}

// What the server sends on the connection until it closes it (marked when it did not close within the read's
// wait); the connection is closed then.
std::string ReadToClose(int fd) {
  std::string answer;
  char buffer[4096];
  ssize_t got;
  while ((got = ::recv(fd, buffer, sizeof buffer, 0)) > 0) answer.append(buffer, static_cast<std::size_t>(got));
  if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) answer += "\n(not closed)";
  ::close(fd);
  return answer;
}

// The answer to a request written as it is, to the server's close (marked when the server did not take all of it).
std::string RawAnswer(int port, const std::string& request, int socket = ::socket(AF_INET, SOCK_STREAM, 0)) {
  const int fd = Connect(port, 0, socket);
  if (fd < 0) return {};
  if (::send(fd, request.data(), request.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(request.size()))
    return ReadToClose(fd);
  ::shutdown(fd, SHUT_RDWR);
  return "(not sent)\n" + ReadToClose(fd);
}

// Options that serve a folder on a free port.
TServeOptions ServeOptions(const fs::path& folder) {
  TServeOptions options;
  options.Folder = folder.string();
  options.Port = 0;
  return options;
}

// The loop of `server` on a thread of its own, until Stop (or the end of scope). A loop still running 30 s after
// its server's Stop fails the run at once, where joining its thread would wait until CTest's time is out.
class TServing {
public:
  explicit TServing(TWebServer& server) : server_(server), thread_([this] { server_.Run(); ended_ = true; }) {}
  ~TServing() { Stop(); }
  pthread_t Thread() { return thread_.native_handle(); }
  void Stop() {
    if (!thread_.joinable()) return;
    server_.Stop();
    for (int i = 0; i < 3000 && !ended_; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (!ended_) {
      std::fputs("The server's loop did not end within 30 s of its Stop\n", stderr);
      std::abort();
    }
    thread_.join();
  }

private:
  TWebServer& server_;
  std::atomic<bool> ended_{false};
  std::thread thread_;
};

// A server running until it goes out of scope (also when an assertion fails), then its jobs end.
struct TRunningServer : TWebServer {
  explicit TRunningServer(const TServeOptions& options) : TWebServer(options), serving(*this) {}
  ~TRunningServer() { serving.Stop(); WaitForJobs(); }
  TServing serving;
};

class WebTest : public ::testing::Test {
protected:
  void SetUp() override {
    fs::copy(ConvertedSample(), dir.Path() / "libs", fs::copy_options::recursive);
    TServeOptions options = ServeOptions(dir.Path());
    options.UploadLimit = 1 << 20;
    server = std::make_unique<TRunningServer>(options);
    client = std::make_unique<httplib::Client>("127.0.0.1", server->Port());
    client->set_read_timeout(30);
    client->set_default_headers({{"X-Vezi-Token", server->Token()}});
  }

  // GET or POST (with a JSON body); the status must be `status`, the answer is the parsed body.
  Json Call(const std::string& target, int status = 200, const Json* body = nullptr) {
    const auto r = body ? client->Post(target, body->dump(), "application/json") : client->Get(target);
    EXPECT_TRUE(r) << target;
    if (!r) return {};
    EXPECT_EQ(r->status, status) << target << ": " << r->body;
    EXPECT_EQ(r->get_header_value("Cache-Control"), "no-store") << target;  // a page never shows an old answer
    return Json::parse(r->body, nullptr, false);
  }
  Json Post(const std::string& target, const Json& body, int status = 200) { return Call(target, status, &body); }

  // Every record of a library through the pages of /api/records (`index` "" = insertion order), those whose name
  // holds `contains` when it is given.
  std::vector<Json> AllRecords(const std::string& path, const std::string& index, int pageSize,
                               const std::string& contains = {}) {
    std::vector<Json> records;
    for (int offset = 0;; offset += pageSize) {
      const Json page = Call("/api/records?path=" + path + "&index=" + index + "&limit=" + std::to_string(pageSize) +
                             "&offset=" + std::to_string(offset) + (contains.empty() ? "" : "&contains=" + contains));
      for (const Json& r : page["records"]) records.push_back(r);
      if (offset + pageSize >= page["total"].get<int>()) return records;
    }
  }

  TempDir dir;
  std::unique_ptr<TRunningServer> server;
  std::unique_ptr<httplib::Client> client;
};

// The first visit trades the token in the address for a cookie; the page then carries it for its requests.
TEST_F(WebTest, TokenBecomesCookieAndPagesAreServed) {
  httplib::Client browser("127.0.0.1", server->Port());
  auto r = browser.Get("/?token=" + server->Token());
  ASSERT_TRUE(r && r->status == 303);
  const std::string cookie = r->get_header_value("Set-Cookie");
  EXPECT_EQ(cookie + " -> " + r->get_header_value("Location"), "vezi_token_" + std::to_string(server->Port()) + "=" +
                                                                  server->Token() + "; Path=/; HttpOnly; SameSite=Strict -> /");
  const std::string pair = cookie.substr(0, cookie.find(';'));
  r = browser.Get("/", {{"Cookie", "a=1;  " + pair.substr(0, pair.find('=')) + "x=0; " + pair}});  // among others
  ASSERT_TRUE(r && r->status == 200);
  std::string headers;  // no frame, referrer, guessed type or cached copy
  for (const char* name : {"X-Frame-Options", "Referrer-Policy", "X-Content-Type-Options", "Cache-Control"})
    headers += r->get_header_value(name) + ";";
  EXPECT_EQ(headers, "DENY;no-referrer;nosniff;no-store;");
  EXPECT_NE(r->body.find("content=\"" + server->Token() + "\""), std::string::npos);
  // Answers go uncompressed whatever the browser accepts (compressing costs more than it saves locally).
  r = browser.Get("/js/app.js", {{"Cookie", pair}, {"Accept-Encoding", "gzip, deflate, br"}});
  ASSERT_TRUE(r && r->status == 200);
  EXPECT_EQ(r->get_header_value("Content-Type").rfind("text/javascript", 0), 0u);
  EXPECT_FALSE(r->has_header("Content-Encoding"));
  // The cookie alone does not change anything.
  r = browser.Post("/api/record/delete", {{"Cookie", pair}}, "{}", "application/json");
  EXPECT_TRUE(r && r->status == 403);
  // A port that is taken: the error says which and why.
  TServeOptions taken = ServeOptions(dir.Path());
  taken.Port = server->Port();
  EXPECT_THROW_MSG(TWebServer{taken}, Exception,
                   "Cannot listen on 127.0.0.1 port " + std::to_string(server->Port()) + ": Address already in use");
  taken.Folder += "/libs/emis.abs";  // a file is no folder to serve
  EXPECT_THROW_MSG(TWebServer{taken}, Exception, "The folder \"" + taken.Folder + "\" does not exist");
  EXPECT_EQ(g_addressLists, 0);  // the listen that failed freed its address list
  taken.Folder = dir.Path().string();
  taken.Port = 0;
  taken.Bind = "nowhere.invalid";  // a name without an address
  try {
    TWebServer{taken};
    ADD_FAILURE();
  } catch (const Exception& e) {
    const std::string shown = e.what(), prefix = "Cannot listen on nowhere.invalid port 0: ";  // no name server: "again"
    EXPECT_TRUE(shown == prefix + ::gai_strerror(EAI_NONAME) || shown == prefix + ::gai_strerror(EAI_AGAIN)) << shown;
  }
  taken.Bind = "127.0.0.1";
  // A server that stopped closes its socket once: the descriptors opened after the stop stay open when it goes.
  auto stopped = std::make_unique<TWebServer>(taken);
  TServing running(*stopped);
  const int waiting = Connect(stopped->Port());  // accepted before the request below, it sends nothing
  httplib::Client before("127.0.0.1", stopped->Port());
  before.set_default_headers({{"X-Vezi-Token", stopped->Token()}});
  fs::copy_file(fs::path(VEZ_EXAMPLES_DIR) / "import" / "spectra.txt", dir.File("libs/spectra.txt"));
  r = before.Post("/api/import/open", R"({"file":"libs/spectra.txt","library":"libs/emis.abs"})", "application/json");
  ASSERT_TRUE(r && r->status == 200);  // it runs
  running.Stop();
  EXPECT_LT(Connect(stopped->Port()), 0);  // its port refuses connections from the stop on
  EXPECT_EQ(ReadToClose(waiting), "");     // and a connection waiting for its request is closed
  // A request that a worker answers as the server stops starts no run: 503 and why (uncompressed, as always).
  const std::string id = std::to_string(Json::parse(r->body)["id"].get<int>());
  for (const auto& [target, body] : {std::pair<std::string, std::string>("convert", R"({"path":"libs"})"),
                                     std::pair<std::string, std::string>("import/start", R"({"id":)" + id + "}")}) {
    const std::string answer = stopped->Answer("POST /api/" + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Vezi-Token: " +
                                               stopped->Token() + "\r\nAccept-Encoding: gzip, br\r\nContent-Length: " +
                                               std::to_string(body.size()) + "\r\n\r\n" + body);
    EXPECT_TRUE(answer.starts_with("HTTP/1.1 503 Service Unavailable\r\n") &&
                answer.find("Connection: close") == std::string::npos &&  // answered as on a kept connection
                answer.ends_with(R"({"error":"The server is stopping"})")) << answer;
  }
  std::vector<int> files;
  for (int i = 0; i < 64; ++i) files.push_back(::open("/dev/null", O_RDONLY | O_CLOEXEC));
  stopped.reset();
  for (const int fd : files) EXPECT_NE(::close(fd), -1) << fd;
}

// Each request is refused with a JSON message and its status; the library and the folder stay as they were.
TEST_F(WebTest, HostileRequestsAreRefusedAndChangeNothing) {
  fs::create_directory_symlink("/", dir.Path() / "root");
  fs::create_symlink("/etc/passwd", dir.Path() / "libs" / "passwd.abs");
  fs::create_symlink("loop", dir.Path() / "loop");
  const fs::path lib = dir.Path() / "libs" / "emis.abs";
  const std::string before = test::ReadFile(lib.string());
  const Json page = Call("/api/records?path=libs/emis.abs&limit=1");
  const Json& rec = page["records"][0];
  const std::string token = server->Token();
  const std::pair<std::string, std::string> fills[] = {{"${key}", std::to_string(rec["key"].get<int>())},
                                                       {"${version}", rec["version"].get<std::string>()},
                                                       {"${token}", token},
                                                       {"${port}", std::to_string(server->Port())}};
  const auto fill = [&](std::string text) {
    for (const auto& [from, to] : fills)
      for (std::size_t at; (at = text.find(from)) != std::string::npos;) text.replace(at, from.size(), to);
    return text == "-" ? std::string() : text;
  };
  int rows = 0;
  for (const std::string& line : test::SplitLines(test::ReadFile(test::DataPath("web/hostile-requests.txt")))) {
    if (line.starts_with("#")) continue;
    ++rows;
    const std::vector<std::string> c = test::SplitTabs(line);  // what, method, target, body, headers, answer
    SCOPED_TRACE(c[0]);
    httplib::Headers headers;
    std::istringstream list(fill(c[4]));
    for (std::string h; std::getline(list, h, ';');)
      headers.emplace(h.substr(0, h.find('=')), h.substr(h.find('=') + 1));
    if (headers.find("X-Vezi-Token") == headers.end()) headers.emplace("X-Vezi-Token", token);
    httplib::Client raw("127.0.0.1", server->Port());
    const auto r = c[1] == "GET" ? raw.Get(fill(c[2]), headers)
                                 : raw.Post(fill(c[2]), headers, fill(c[3]), "application/json");
    ASSERT_TRUE(r);
    const std::string want = c[5] + "\t" + c[6] + "\t" + c[7];
    const std::string got = std::to_string(r->status) + "\t" + r->get_header_value("Content-Type") + "\t" + r->body;
    EXPECT_TRUE(want.ends_with('*') ? got.starts_with(want.substr(0, want.size() - 1)) : got == want) << got;
    if (c.size() < 9) continue;
    std::vector<std::string> args = {"-c", "cd \"$0\" && exec \"$@\"", dir.Path().string(), VEZI_EXECUTABLE};
    std::istringstream words(c[8]);
    for (std::string word; words >> word;) args.push_back(word);
    const test::RunResult cli = test::RunProgram("sh", args);
    const Json answer = Json::parse(r->body, nullptr, false);
    EXPECT_NE(cli.exitCode, 0);
    EXPECT_EQ(cli.err.substr(0, cli.err.find('\n')), "vezi: " + answer.value("error", std::string()));
  }
  EXPECT_EQ(88, rows);
  // 1 MiB of JSON is read; bodies above the limits (one byte above: 1 MiB for JSON, the upload limit and 64 KiB
  // for the multipart frame) are refused from their Content-Length, before they are read. A client that sends
  // the whole body anyway (a browser's upload, 8 MiB: more than the socket buffers hold) may send all of it and
  // then reads the refusal: the server drains the body after its answer instead of resetting the connection.
  EXPECT_EQ(client->Post("/api/record/save", std::string(1048574, ' ') + "{}", "application/json")->status, 400);
  for (const auto& [target, length, error] :
       {std::tuple("/api/record/save", 1048577, "The request body is larger than 1 MiB"),
        std::tuple("/api/upload?folder=libs", 1114113, "The file is larger than the upload limit of 1 MB"),
        std::tuple("/api/upload?folder=libs", 8 << 20, "The file is larger than the upload limit of 1 MB")}) {
    const std::string head = std::string("POST ") + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Vezi-Token: " + token +
                             "\r\nConnection: close\r\nContent-Type: application/json\r\nContent-Length: " +
                             std::to_string(length) + "\r\n\r\n{";
    const std::string answer = RawAnswer(server->Port(), head + std::string(length - 1, ' '));
    EXPECT_TRUE(answer.starts_with("HTTP/1.1 413") && answer.ends_with("{\"error\":\"" + std::string(error) + "\"}"))
        << answer;
  }
  // A header past 64 KiB gets 431 (also when sent whole); a client that expects 100 Continue gets it before it
  // sends its body.
  const std::string get = "GET /api/folder?path=libs HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Vezi-Token: " + token + "\r\n";
  // The next request on a kept connection sent in two parts as the answer arrives (the worker that waits for it
  // reads only the first) is read whole by the loop and answered.
  const int kept = Send(server->Port(), get + "\r\n");
  char first = 0;
  EXPECT_EQ(::recv(kept, &first, 1, 0), 1);
  ::send(kept, get.data(), get.size(), MSG_NOSIGNAL);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  ::send(kept, "Connection: close\r\n\r\n", 21, MSG_NOSIGNAL);
  const std::string split = first + ReadToClose(kept);
  EXPECT_TRUE(split.starts_with("HTTP/1.1 200 ") && split.find("HTTP/1.1 200 ", 1) != std::string::npos) << split;
  for (const int size : {64 << 10, 8 << 20}) {  // 8 MiB: sent whole, drained after the refusal
    const std::string refused = RawAnswer(server->Port(), get + "X-Long: " + std::string(size, 'x') + "\r\n\r\n");
    EXPECT_TRUE(refused.starts_with("HTTP/1.1 431 ") && refused.ends_with("header is larger than 64 KiB\"}")) << size;
  }
  const std::string head = "POST /api/record/save HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Vezi-Token: " + token +
                           "\r\nExpect: 100-continue\r\nContent-Type: application/json\r\nContent-Length: 2\r\n"
                           "Connection: close\r\n\r\n";
  const int expecting = Send(server->Port(), head);
  char go[64] = {};
  EXPECT_EQ(std::string(go, static_cast<std::size_t>(std::max<ssize_t>(0, ::recv(expecting, go, sizeof go, 0)))),
            "HTTP/1.1 100 Continue\r\n\r\n");
  ::send(expecting, "{}", 2, MSG_NOSIGNAL);
  const std::string answered = ReadToClose(expecting);
  EXPECT_TRUE(answered.starts_with("HTTP/1.1 400 ") &&
              answered.ends_with("{\"error\":\"The member \\\"path\\\" is missing\"}")) << answered;
  EXPECT_EQ(test::ReadFile(lib.string()), before);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path() / "libs"), fs::directory_iterator()),
            std::distance(fs::directory_iterator(ConvertedSample()), fs::directory_iterator()) + 1);
}

// The folder page lists what is there; records, page by page, equal `vezi dump`; the search on the name index
// ignores case.
TEST_F(WebTest, FolderAndRecordsAgreeWithTheLibrary) {
  for (const std::string name : {"emis.abs", "TNMVeh.abs"})  // what a page learns of a library, as reviewed
    EXPECT_EQ(test::ReadFile(test::DataPath("web/library-" + name + ".json")), Call("/api/library?path=libs/" + name).dump(1) + "\n");
  // A new library's passing file (a database, being made or left by a killed run) is no library of the folder.
  fs::copy_file(dir.Path() / "libs" / "emis.abs", dir.Path() / "libs" / ".Wind.abs.1-1.new");
  // A library the user may only read is listed like any other: the listing opens none for writing.
  fs::permissions(dir.Path() / "libs" / "Wind.abs", fs::perms::owner_write | fs::perms::group_write |
                  fs::perms::others_write, fs::perm_options::remove);
  const Json folder = Call("/api/folder?path=libs");
  std::map<std::string, int> records;
  for (const Json& l : folder["libraries"]) records[l["file"]] = l["records"];
  EXPECT_EQ(records, (std::map<std::string, int>{{"Absor.abs", 4}, {"RREC0001.tabs", 36}, {"TNMVeh.abs", 2},
                                                 {"Time.abs", 3}, {"Traffic.abs", 3}, {"Wind.abs", 2},
                                                 {"X.runx", 3}, {"emis.abs", 6}}));
  EXPECT_EQ(Call("/api/records?path=libs/Wind.abs&limit=500")["records"].size(), 2u);  // read-only: still shown
  std::vector<std::string> tables;
  bool emisWithCompanion = false;
  for (const Json& t : folder["paradox"]) {
    tables.push_back(t["file"]);
    emisWithCompanion |= t["file"] == "emis.db" && t["companions"] == Json::array({"emis.mb"}) && t["converted"] == true;
  }
  EXPECT_TRUE(emisWithCompanion) << folder["paradox"].dump();
  EXPECT_EQ(tables, (std::vector<std::string>{"Absor.db", "emis.db", "RREC0001.tdb", "Strassen.db", "Thumbs.db", "Time.db",
                                              "TNMVeh.db", "Traffic.db", "Wind.db", "X.run"}));
  EXPECT_EQ(folder["folders"], Json::array({"Projekt Nord"}));

  for (const char* name : {"emis.abs", "RREC0001.tabs", "TNMVeh.abs"}) {
    const test::RunResult dump = Vezi({"dump", (dir.Path() / "libs" / name).string(), "--format", "json"});
    ASSERT_EQ(dump.exitCode, 0) << dump.err;
    std::vector<Json> values;
    for (const Json& r : AllRecords(std::string("libs/") + name, "", 5)) values.push_back(r["values"]);
    EXPECT_EQ(Json(values), Json::parse(dump.out)) << name;
  }
  Post("/api/record/add", {{"path", "libs/emis.abs"}, {"values", {{"ElementName", "Parkplatz"}}}});  // all ASCII
  std::map<std::string, std::vector<std::string>> names;  // by index: "" insertion order, "EN" by name
  for (const char* index : {"", "EN"})
    for (const Json& r : AllRecords("libs/emis.abs", index, 4)) names[index].push_back(r["values"]["ElementName"]);
  const std::vector<std::string>& byName = names["EN"];
  EXPECT_TRUE(std::is_sorted(byName.begin(), byName.end())) << Json(byName).dump();

  // The names that hold a text, letter case ignored, come page by page in the order of the index asked for; a page
  // says whether any name holds it.
  for (const auto& [index, ordered] : names)
    for (const std::string text : {"E", "platz", "zz"}) {
      std::vector<std::string> holding, got;
      for (const std::string& n : ordered)
        if (FoldCase(n).find(FoldCase(text)) != std::string::npos) holding.push_back(n);
      for (const Json& r : AllRecords("libs/emis.abs", index, 1, text)) got.push_back(r["values"]["ElementName"]);
      EXPECT_EQ(got, holding) << index << ": " << text;
      EXPECT_EQ(Call("/api/records?path=libs/emis.abs&limit=1&contains=" + text)["found"], !holding.empty()) << text;
    }
  // Every search finds the first name in index order that starts with the text, letter case ignored.
  std::vector<std::string> texts = {"PARKPLATZ", "parkplatz ö", "P", "a", "Z", "zz", "ö", "0", "~"};
  texts.insert(texts.end(), byName.begin(), byName.end());  // whole names too
  for (const std::string& text : texts) {
    const auto first = std::find_if(byName.begin(), byName.end(),
                                    [&](const std::string& n) { return FoldCase(n).starts_with(FoldCase(text)); });
    const std::string query = httplib::detail::encode_query_param(text);
    const Json found = Call("/api/records?path=libs/emis.abs&limit=1&search=" + query);
    EXPECT_EQ(found["found"], first != byName.end()) << text;
    if (first != byName.end()) {
      EXPECT_EQ(std::pair(found["offset"].get<long>(), found["records"][0]["values"]["ElementName"].get<std::string>()),
                std::pair(first - byName.begin(), *first)) << text;
    }
  }
  // A sheet, a mapping and a damaged library are listed as such; a sheet downloads as it is, its name made safe to
  // quote.
  std::ofstream(dir.File("libs/x\"y.csv")) << "a,b\n";
  std::ofstream(dir.File("libs/m.json")) << "{}";
  std::ofstream(dir.File("libs/broken.abs")) << std::string("SQLite format 3\0", 16) << std::string(100, 'x');
  const Json more = Call("/api/folder?path=libs");
  Json broken;
  for (const Json& l : more["libraries"])
    if (l["file"] == "broken.abs") broken = {l["type"], l["error"]};
  EXPECT_EQ(Json({more["sheets"].size(), more["sheets"][0]["path"], more["mappings"], broken}), Json::parse(R"([1,
      "libs/x\"y.csv", [{"file": "m.json", "path": "libs/m.json"}], [-1,
      "Cannot open \"libs/broken.abs\": the file is not a library database"]])"));
  const auto download = client->Get("/api/download?path=libs/x%22y.csv");
  ASSERT_TRUE(download);
  EXPECT_EQ(download->body + download->get_header_value("Content-Disposition"), "a,b\nattachment; filename=\"x_y.csv\"");
  {  // a value that no JSON number can hold reads as null
    web::TOpenLibrary lib(dir.Path() / "libs" / "emis.abs", true);
    lib.Open();
    lib.Table().Edit();
    lib.Table().FieldByName("Values1").SetAsFloat(std::numeric_limits<double>::infinity());
    lib.Table().Post();
  }
  EXPECT_EQ(Call("/api/records?path=libs/emis.abs&limit=1")["records"][0]["values"]["Values1"], nullptr);
}

// Save, add and delete each commit alone; a stale or refused change leaves the record as it was.
TEST_F(WebTest, EditsAreTransactionsThatRefuseStaleRecords) {
  const Json first = Call("/api/records?path=libs/emis.abs&limit=2");
  const Json a = first["records"][0], b = first["records"][1];
  const Json saved = Post("/api/record/save", {{"path", "libs/emis.abs"}, {"key", a["key"]}, {"version", a["version"]},
                                               {"values", {{"ElementName", "Neuer Name"}, {"Values1", 12.5}}}});
  EXPECT_EQ(Json({saved["values"]["ElementName"], saved["values"]["Values1"]}), Json({"Neuer Name", 12.5}));
  const std::string key = "&key=" + std::to_string(a["key"].get<int>());
  EXPECT_EQ(Call("/api/record?path=libs/emis.abs" + key), saved);
  // The version the page had is stale now; a name another record holds breaks the unique index.
  Post("/api/record/save", {{"path", "libs/emis.abs"}, {"key", a["key"]}, {"version", a["version"]},
                            {"values", {{"Values1", 1}}}}, 409);
  const Json refused = Post("/api/record/save", {{"path", "libs/emis.abs"}, {"key", saved["key"]},
                                                 {"version", saved["version"]},
                                                 {"values", {{"Values1", 1}, {"ElementName", b["values"]["ElementName"]}}}},
                            422);
  EXPECT_FALSE(refused["error"].get<std::string>().empty());
  EXPECT_EQ(Call("/api/record?path=libs/emis.abs" + key), saved);
  // A change of the last value's last digit alone makes the version stale too: with names two letters apart, that
  // digit falls once past the values' last whole eight bytes, which the version reads as well.
  Json w = Call("/api/records?path=libs/Wind.abs&limit=1")["records"][0];
  const auto save = [&](const std::string& name, const std::string& second, int status = 200) {
    const Json values = {{"ElementName", name}, {"LastChangeDateTime", "2004-03-15T09:30:" + second}};
    return Post("/api/record/save", {{"path", "libs/Wind.abs"}, {"key", w["key"]}, {"version", w["version"]},
                                     {"values", values}}, status);
  };
  for (const std::string name : {"W", "Wxy"}) {
    w = save(name, "00");
    const Json changed = save(name, "01");  // w's version is stale now
    save(name, "02", 409);
    w = changed;
  }

  const Json defaults = Call("/api/new-record?path=libs/emis.abs");
  const Json added = Post("/api/record/add", {{"path", "libs/emis.abs"}, {"values", {{"ElementName", "Lüfter"}}}});
  for (const char* field : {"Values1", "Values0", "Terz", "Komplett", "Lower", "Upper"})
    EXPECT_EQ(added["values"][field], defaults["values"][field]) << field;
  EXPECT_EQ(added["values"]["ElementName"], "Lüfter");
  EXPECT_EQ(Call("/api/records?path=libs/emis.abs")["total"], 7);
  Post("/api/record/delete", {{"path", "libs/emis.abs"}, {"key", b["key"]}, {"version", "stale"}}, 409);
  Post("/api/record/delete", {{"path", "libs/emis.abs"}, {"key", b["key"]}, {"version", b["version"]}});
  EXPECT_EQ(Call("/api/records?path=libs/emis.abs")["total"], 6);
  Call("/api/record?path=libs/emis.abs&key=" + std::to_string(b["key"].get<int>()), 404);
  // An export onto a file that exists is refused (the page then asks whether to replace it) and leaves the file.
  const Json exported = Post("/api/export", {{"path", "libs/emis.abs"}, {"file", "libs/out.csv"}});
  EXPECT_EQ(exported["records"], 6);
  const std::string csv = test::ReadFile((dir.Path() / "libs" / "out.csv").string());
  EXPECT_EQ(Post("/api/export", {{"path", "libs/emis.abs"}, {"file", "libs/out.csv"}}, 409),
            (Json{{"error", "'libs/out.csv' exists already"}}));
  EXPECT_EQ(csv, test::ReadFile((dir.Path() / "libs" / "out.csv").string()));
  // With overwrite it is replaced, by the fields and records asked for, as vezi export writes them.
  const Json some = Post("/api/export", {{"path", "libs/emis.abs"}, {"file", "libs/out.csv"}, {"overwrite", true},
                                         {"fields", {"ElementName", "values1"}}, {"where_name", "LÜF"}});
  ASSERT_EQ(0, Vezi({"export", dir.File("libs/emis.abs"), dir.File("cli.csv"), "--fields", "ElementName,values1",
                     "--where-name", "LÜF"}).exitCode);
  EXPECT_EQ(test::ReadFile(dir.File("libs/out.csv")) + some.dump(), test::ReadFile(dir.File("cli.csv")) +
                                                                  R"({"file":"libs/out.csv","format":"csv","records":1})");
  // A library replaced by another file (a copy moved over it) is read from the new file.
  EXPECT_EQ(Call("/api/records?path=libs/emis.abs&limit=1")["records"][0], saved);
  fs::copy_file(ConvertedSample() / "emis.abs", dir.Path() / "libs" / "copy.abs");
  fs::rename(dir.Path() / "libs" / "copy.abs", dir.Path() / "libs" / "emis.abs");
  EXPECT_EQ(Call("/api/records?path=libs/emis.abs&limit=1")["records"][0], a);
}

// The pictures' numbers are the ones `vezi spectrum` and `vezi tnm` print.
TEST_F(WebTest, PicturesEqualTheCli) {
  for (const auto& [nr, option] : {std::pair("1", "log"), std::pair("21", "log"), std::pair("1", "clamp")}) {
    const Json s = Call(std::string("/api/spectrum?path=libs/emis.abs&") + option + "=1&nr=" + nr);
    EXPECT_EQ(s["protocol"], Vezi({"spectrum", dir.File("libs/emis.abs"), nr, std::string("--") + option}).out);
    EXPECT_EQ(s["svg"].get<std::string>().rfind("<?xml", 0), 0u);
  }
  const Json tnm = Call("/api/tnm?vehicle=ht&pavement=ogac&full_throttle=1&speed=80");
  EXPECT_EQ(tnm["result"], Json::parse(Vezi({"tnm", "--vehicle", "ht", "--pavement", "ogac", "--full-throttle",
                                             "--speed", "80", "--format", "json"}).out));
  EXPECT_EQ(Call("/api/tnm?library=libs/TNMVeh.abs&record=1&pavement=dgac&speed=50")["text"],
            Vezi({"tnm", "--library", dir.File("libs/TNMVeh.abs"), "--record", "1", "--pavement", "dgac", "--speed", "50"}).out);
  Call("/api/spectrum?path=libs/emis.abs&nr=999", 422);
  Call("/api/tnm?vehicle=tram&pavement=avg&speed=50", 400);
}

// The events of a stream in the browser's order, to its "end"; `on` sees each as it arrives. The stream writes
// a comment every second while it waits, so a run that never ends would keep the read going: three minutes
// without its "end" fail the test instead (with its name, before CTest's limit of the whole test ends it).
using Events = std::vector<std::pair<std::string, Json>>;
Events ReadEvents(httplib::Client& client, const std::string& target,
                  const std::function<void(const std::string&, const Json&)>& on = {}) {
  std::string text;
  Events events;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(3);
  client.Get(target, [&](const char* data, std::size_t n) {
    if (std::chrono::steady_clock::now() > deadline) {
      ADD_FAILURE() << target << " sent no \"end\" within three minutes";
      return false;
    }
    text.append(data, n);
    for (std::size_t end; (end = text.find("\n\n")) != std::string::npos; text.erase(0, end + 2)) {
      const std::size_t type = text.find("event: "), data = text.find("\ndata: ");
      if (type == std::string::npos || type > end) continue;
      events.emplace_back(text.substr(type + 7, data - type - 7), Json::parse(text.substr(data + 7, end - data - 7)));
      if (on) on(events.back().first, events.back().second);
    }
    return events.empty() || events.back().first != "end";
  });
  return events;
}

// A conversion watched through its events gives the CLI's result and log; a second one of the same folder is
// refused while the first runs.
TEST_F(WebTest, ConversionEqualsTheCliAndRunsOnce) {
  // A table past the conversion's progress step of 1000 records, so that progress is seen before its end.
  pxw::Writer big({{"No", 4, 4}, {"Name", 1, 20}, {"Calc", 1, 4}, {"CalcType", 1, 4}, {"Results", 1, 4}});
  for (int r = 0; r < 2500; ++r)
    big.AddRecord({pxw::Writer::Long(r), pxw::Writer::Char("r" + std::to_string(r), 20), pxw::Writer::Char("c", 4),
                   pxw::Writer::Char("t", 4), pxw::Writer::Char("r", 4)});
  for (const char* copy : {"web", "cli"}) {
    fs::copy(kSample, dir.Path() / copy, fs::copy_options::recursive);
    big.Write((dir.Path() / copy / "Big.run").string());
  }
  const std::string report = dir.File("report.json");
  ASSERT_EQ(Vezi({"convert", (dir.Path() / "cli").string(), "--recursive", "--report", report}).exitCode, 0);

  // The run waits for the folder's lock, which this test holds: it is certainly running when the second comes. So
  // is a run of "cli" when Stop is pressed for it.
  const int lock = ::open((dir.Path() / "web").c_str(), O_RDONLY | O_DIRECTORY);
  const int other = ::open((dir.Path() / "cli").c_str(), O_RDONLY | O_DIRECTORY);
  ASSERT_TRUE(::flock(lock, LOCK_EX) == 0 && ::flock(other, LOCK_EX) == 0);
  const Json start = Post("/api/convert", {{"path", "web"}, {"recursive", true}}, 202);
  EXPECT_EQ(Post("/api/convert", {{"path", "web/Projekt Nord"}}, 409),
            (Json{{"error", "A conversion of \"web\" is running; wait until it has finished, then start this one"}}));
  EXPECT_EQ(Post("/api/convert/stop", {{"job", Post("/api/convert", {{"path", "cli"}}, 202)["job"]}}),
            (Json{{"stopping", true}}));
  ::close(lock);
  ::close(other);

  ASSERT_EQ(1, start["job"].get<int>());  // a server numbers its jobs from 1
  const std::string stream = "/api/convert/events?job=1";
  const auto events = ReadEvents(*client, stream);
  ASSERT_GE(events.size(), 3u);
  EXPECT_EQ(Json({events.front().second["caption"], events.back().first}), Json({"Converting Paradox Tables", "end"}));
  EXPECT_EQ(Post("/api/convert/stop", {{"job", 1}}, 409), (Json{{"error", "The conversion has finished already"}}));
  // A client that comes back with the last id it saw gets the events after it.
  const auto resumed = client->Get(stream, {{"Last-Event-ID", std::to_string(events.size() - 3)}});
  ASSERT_TRUE(resumed);
  EXPECT_TRUE(resumed->body.starts_with("id: " + std::to_string(events.size() - 2) + "\n")) << resumed->body;
  std::vector<std::string> logLines;
  std::set<std::string> files;
  std::vector<std::pair<int, int>> progress;
  Json summary;
  for (const auto& [type, data] : events) {
    if (type == "log") logLines.push_back(data["line"]);
    if (type == "file") files.insert(data["text"].get<std::string>());
    if (type == "records") progress.emplace_back(data["done"], data["total"]);
    if (type == "summary") summary = data;
  }
  // Each table's file line, and its records counted up to its total (the large table before its end too).
  EXPECT_GE(files.size(), summary["tables_converted"].get<std::size_t>());
  EXPECT_TRUE(std::all_of(progress.begin(), progress.end(), [](auto p) { return 0 < p.first && p.first <= p.second; }));
  EXPECT_NE(std::find(progress.begin(), progress.end(), std::pair(1000, 2500)), progress.end());
  EXPECT_NE(std::find(progress.begin(), progress.end(), std::pair(2500, 2500)), progress.end());
  const Json cli = Json::parse(test::ReadFile(report));
  ASSERT_EQ(summary["tables_list"].size(), cli["tables"].size());
  std::map<std::string, long> counts;  // the summary's counts, from the CLI's tables (the sample skips none)
  for (const Json& t : cli["tables"]) {
    ++counts[t["outcome"].get<std::string>()];
    counts["read"] += t["records_in_header"].get<long>();
    counts["written"] += t["records_written"].get<long>();
  }
  EXPECT_EQ((std::array{counts["converted"], counts["no library type"], 0L, counts["read"], counts["written"]}),
            (std::array{summary["tables_converted"].get<long>(), summary["no_library_type"].get<long>(),
                        summary["skipped"].get<long>(), summary["records_read"].get<long>(),
                        summary["records_written"].get<long>()}));
  for (std::size_t i = 0; i < cli["tables"].size(); ++i) {
    const Json& w = summary["tables_list"][i];
    const Json& c = cli["tables"][i];
    EXPECT_EQ(fs::path(w["source"].get<std::string>()).lexically_relative("web"),
              fs::path(c["source"].get<std::string>()).lexically_relative(dir.Path() / "cli"));
    for (const char* m : {"outcome", "reason", "records_written", "complete", "library_type"}) EXPECT_EQ(w[m], c[m]) << m;
  }
  // The log the window showed is the whole of Convert.log, line for line, its paths from the served folder (the
  // file ends a run with an empty line).
  std::string log = test::ReadFile((dir.Path() / "web" / "Convert.log").string());
  for (std::size_t at; (at = log.find(dir.Path().string() + "/")) != std::string::npos;) log.erase(at, dir.Path().string().size() + 1);
  logLines.emplace_back();
  EXPECT_EQ(test::SplitLines(log), logLines);
  for (const char* lib : {"emis.abs", "Projekt Nord/Time.abs", "RREC0001.tabs", "Big.runx"})
    EXPECT_EQ(Vezi({"dump", (dir.Path() / "web" / lib).string()}).out, Vezi({"dump", (dir.Path() / "cli" / lib).string()}).out);
}

// An uploaded file imported through the dialog stores what `vezi import` stores; the name question travels to
// the client and its answer back while the run waits.
TEST_F(WebTest, ImportDialogRunsTheLibraryImport) {
  const std::string text = test::ReadFile(std::string(VEZ_EXAMPLES_DIR) + "/import/spectra.txt");
  const httplib::MultipartFormDataItems upload = {{"file", text, "spectra.txt", "text/plain"}};
  const auto answer = [&](const httplib::Result& r) { return std::pair(r->status, Json::parse(r->body)["error"]); };
  ASSERT_EQ(client->Post("/api/upload?folder=libs", upload)->status, 201);
  EXPECT_EQ(answer(client->Post("/api/upload?folder=libs", upload)),
            std::pair(409, Json("A file \"spectra.txt\" is in the folder already")));
  EXPECT_EQ(client->Post("/api/upload?folder=..", upload)->status, 403);
  EXPECT_EQ(answer(client->Post("/api/upload?folder=libs", {{"file", text, "run.sh", "text/plain"}})),
            std::pair(400, Json("Only spreadsheets and text files (.xls, .xlsx, .txt, .tsv, .tab, .asc, .csv, .prn) "
                                "with a plain name can be uploaded")));
  // Plain names of up to 200 characters: not hidden, without control characters or backslashes.
  for (const auto& [name, status] : std::vector<std::pair<std::string, int>>{
           {std::string(196, 'n') + ".txt", 201}, {std::string(197, 'n') + ".txt", 400}, {".hidden.txt", 400},
           {"tab\t.txt", 400}, {"back\\slash.txt", 400}})
    EXPECT_EQ(client->Post("/api/upload?folder=libs", {{"file", text, name, ""}})->status, status) << name;
  EXPECT_EQ(test::ReadFile(dir.File("libs/spectra.txt")), text);

  const auto open = [&] {
    return Post("/api/import/open", {{"file", "libs/spectra.txt"}, {"library", "libs/emis.abs"}});
  };
  const auto run = [&](const Json& dialog, const std::function<void(const std::string&, const Json&)>& on = {}) {
    Post("/api/import/start", {{"id", dialog["id"]}}, 202);
    return ReadEvents(*client, "/api/import/events?id=" + std::to_string(dialog["id"].get<int>()), on);
  };
  Json dialog = open();
  EXPECT_EQ(dialog["caption"].get<std::string>().rfind("ASCII file import definition [", 0), 0u);
  EXPECT_EQ(Json({dialog["start_line"]["value"], dialog["header"]["rows"][0][1]}), Json({2, "ElementName"}));
  // Start without links: the dialog's message, and the dialog stays open.
  Events events = run(dialog);
  EXPECT_EQ(events[0].second["text"], "You have to add columns first");
  const Json& refusal = events[1].second;  // no line is read
  EXPECT_EQ(Json({true, 0, 0}), Json({refusal["refused"], refusal["first_line"], refusal["last_line"]}));
  // The link dialog offers what is available and takes nothing else.
  const Json link = Post("/api/import/link", {{"id", dialog["id"]}, {"index", -1}})["link"];
  EXPECT_EQ(Json({link["caption"], link["columns"].size()}), Json({"Define Link", 34}));
  const Json choice = {{"id", dialog["id"]}, {"index", -1}, {"button", "OK"}, {"column", "A"}, {"description", "ElementName"}};
  const auto but = [&](const char* key, const char* value) { Json j = choice; j[key] = value; return j; };
  const auto op = [&](const char* name, int index) { return Json{{"id", dialog["id"]}, {"op", name}, {"index", index}}; };
  const auto refused = [&](const char* target, const Json& body, int status, const std::string& error) {
    EXPECT_EQ(Post(target, body, status), (Json{{"error", error}})) << body.dump();
  };
  using Refusal = std::tuple<const char*, Json, int, std::string>;
  for (const auto& [target, body, status, error] : std::vector<Refusal>{
           {"/api/import/link", but("column", "ZZ"), 400, "The file has no column \"ZZ\""},
           {"/api/import/link", {{"id", dialog["id"]}, {"index", -2}}, 400,
            "The member \"index\" must be a whole number from -1 to 30000"},
           {"/api/import/link", {{"id", dialog["id"]}, {"index", 0}}, 400, "There is no such link"},
           {"/api/import/link", but("description", "Nope"), 400, "The field \"Nope\" is not offered"},
           {"/api/import/link", but("button", "Cancel"), 400, "The link dialog has no button \"Cancel\""},
           {"/api/import/dialog", op("delete_link", 0), 400, "There is no link to delete"},
           {"/api/import/dialog", op("nope", 0), 400, "The import dialog has no operation \"nope\""},
           {"/api/import/save-links", {{"id", dialog["id"]}, {"file", "libs/links.txt"}}, 400,
            "A mapping file's name ends in .json"},
           {"/api/import/save-links", {{"id", dialog["id"]}, {"file", "nope/links.json"}}, 400,
            "The mapping's folder does not exist"},
           {"/api/import/answer", {{"id", dialog["id"]}, {"ok", true}, {"item", 0}}, 409,
            "No question is waiting for an answer"},
           {"/api/import/stop", {{"id", dialog["id"]}}, 409, "No import is running"}})
    refused(target, body, status, error);
  EXPECT_EQ(Post("/api/import/link", choice)["dialog"]["links"], Json::array({"ElementName <- A"}));
  refused("/api/import/dialog", op("delete_link", 1), 400, "The member \"index\" must be a whole number from 0 to 0");
  EXPECT_EQ(Post("/api/import/dialog", op("delete_link", 0))["links"], Json::array());
  dialog = Post("/api/import/dialog", {{"id", dialog["id"]}, {"op", "auto_link"}});
  EXPECT_EQ(dialog["links"].size(), 34u);
  events = run(dialog);
  EXPECT_EQ(events.back().first, "end");
  const Json& added = events[events.size() - 2].second;
  // Four added and committed; none created, as the library was there before.
  EXPECT_EQ(Json({4, true, false}), Json({added["added"], added["committed"], added["created"]}));
  const auto progress = std::find_if(events.rbegin(), events.rend(), [](const auto& e) { return e.first == "progress"; });
  EXPECT_EQ(progress->second.dump(), R"({"done":4,"total":4})");  // the last line is always reported
  // A dialog that has run takes neither a second start nor a change.
  refused("/api/import/start", {{"id", dialog["id"]}}, 409, "The import has started already");
  refused("/api/import/dialog", op("auto_link", 0), 409, "The import has started; the dialog cannot be changed now");
  EXPECT_TRUE(Post("/api/import/close", {{"id", dialog["id"]}})["closed"].get<bool>());
  Post("/api/import/dialog", op("clear", 0), 404);

  // The same file through `vezi import` into a copy of the library gives the same records (but the time of
  // the change).
  fs::create_directory(dir.Path() / "cli");
  fs::copy(ConvertedSample() / "emis.abs", dir.File("cli/emis.abs"));
  const test::RunResult cli = Vezi({"import", dir.File("libs/spectra.txt"), "--into", dir.File("cli/emis.abs"), "--auto-link"});
  ASSERT_EQ(cli.exitCode, 0) << cli.err;
  const auto records = [&](const std::string& file) {
    Json all = Json::parse(Vezi({"dump", file, "--format", "json"}).out);
    for (Json& r : all) r.erase("LastChangeDateTime");
    return all;
  };
  EXPECT_EQ(records(dir.File("libs/emis.abs")), records(dir.File("cli/emis.abs")));

  // Again: the closed dialog's links come back; the first name is asked about, "Skip all" answers the others too.
  dialog = open();
  EXPECT_EQ(dialog["links"].size(), 34u);
  Post("/api/import/dialog", {{"id", dialog["id"]}, {"op", "auto_link"}});
  int questions = 0;
  events = run(dialog, [&](const std::string& type, const Json& data) {
    if (type != "question") return;
    ++questions;
    EXPECT_EQ(data["caption"], "Element \"Fan 400 mm\" already exists");
    httplib::Client answer("127.0.0.1", server->Port());
    answer.set_default_headers({{"X-Vezi-Token", server->Token()}});
    EXPECT_EQ(answer.Post("/api/import/answer", Json{{"id", dialog["id"]}, {"ok", true}, {"item", 3}}.dump(),
                          "application/json")->status, 200);
  });
  EXPECT_EQ(Json({questions, events[events.size() - 2].second["skipped"]}), Json({1, 4}));
  EXPECT_EQ(records(dir.File("libs/emis.abs")), records(dir.File("cli/emis.abs")));

  // A file past the server's read chunk several times over arrives whole; the dialog shows its first 200 data rows
  // and counts the others; every row is imported, its long text whole.
  const std::vector<std::string> lines = test::SplitLines(text);
  std::string big = lines[0] + "\n";
  const auto comment = [](int row) { return std::to_string(row) + std::string(1200, 'c'); };
  for (int row = 1; row <= 250; ++row)
    big += "Big " + std::to_string(1000 + row) + "\t" + comment(row) + lines[1].substr(lines[1].find("\tTrue")) + "\n";
  ASSERT_EQ(client->Post("/api/upload?folder=libs", {{"file", big, "big.txt", "text/plain"}})->status, 201);
  EXPECT_EQ(test::ReadFile(dir.File("libs/big.txt")), big);
  dialog = Post("/api/import/open", {{"file", "libs/big.txt"}, {"library", "libs/emis.abs"}});
  EXPECT_EQ(Json({dialog["data"]["rows"].size(), dialog["data"]["more"], dialog["data"]["rows"][199][1]}),
            Json({200, 50, "Big 1200"}));
  Post("/api/import/dialog", {{"id", dialog["id"]}, {"op", "auto_link"}});
  events = run(dialog);
  EXPECT_EQ(events[events.size() - 2].second["added"], 250);
  const Json last = Call("/api/records?path=libs/emis.abs&limit=1&search=Big%201250");
  EXPECT_EQ(last["records"][0]["values"]["Kommentar"], comment(250));
  // Links remembered for a file that no longer has their columns are dropped: the dialog opens without links.
  Post("/api/import/close", {{"id", dialog["id"]}});
  std::ofstream(dir.File("libs/big.txt"), std::ios::trunc) << "Name\nA\n";
  dialog = Post("/api/import/open", {{"file", "libs/big.txt"}, {"library", "libs/emis.abs"}});
  EXPECT_EQ(dialog["links"], Json::array());

  // Eight dialogs at most: the oldest idle one makes way for a new one.
  for (int i = 0; i < 8; ++i) open();
  Post("/api/import/dialog", {{"id", dialog["id"]}, {"op", "auto_link"}}, 404);

  // The dialog reads the file within the text limit it is given: 1.2 MB of header text passes 1 MB.
  std::string wide;
  for (int i = 0; i < 60; ++i) wide += std::string(20000, 'w') + "\t";
  std::ofstream(dir.File("libs/wide.txt"), std::ios::binary) << wide + "\nA\t1\n";
  const Json tooMuch =
      Post("/api/import/open", {{"file", "libs/wide.txt"}, {"library", "libs/emis.abs"}, {"text_limit", 1}}, 422);
  EXPECT_TRUE(tooMuch["error"].get<std::string>().starts_with("The cells of the file hold more than 1 MB of text"))
      << tooMuch.dump();
  // Together the open dialogs of a server hold at most what one import may hold by default.
  EXPECT_EQ(web::ImportTextLimit(*web::MakeImportSessions()), kDefaultMaxGridTextMB << 20);
  // A dialog draws on that budget besides its own limit: with 1 MB for all, the 1.2 MB its own 2 MB take is refused.
  web::TRequestServer bare;
  web::TContext context(dir.Path().string());
  context.Imports = web::MakeImportSessions(1 << 20);
  web::TRoutes routes(bare, context);
  web::RegisterImportRoutes(routes);
  const std::string wider = R"({"file":"libs/wide.txt","library":"libs/emis.abs","text_limit":2})";
  const std::string shared = web::AnswerRequest(
      bare, "POST /api/import/open HTTP/1.1\r\nContent-Length: " + std::to_string(wider.size()) + "\r\n\r\n" + wider);
  EXPECT_TRUE(shared.starts_with("HTTP/1.1 422 ") && shared.find("The open imports hold 1 MB of text") != std::string::npos)
      << shared;

  // Eight imports run at once at most (each waits here at the question about its first name): a ninth is refused.
  for (int i = 0; i < 8; ++i) {
    const std::string into = "libs/q" + std::to_string(i);
    fs::create_directory(dir.File(into));
    fs::copy_file(dir.File("libs/emis.abs"), dir.File(into + "/emis.abs"));
    dialog = Post("/api/import/open", {{"file", "libs/spectra.txt"}, {"library", into + "/emis.abs"}});
    Post("/api/import/dialog", {{"id", dialog["id"]}, {"op", "auto_link"}});
    Post("/api/import/start", {{"id", dialog["id"]}}, 202);
  }
  refused("/api/import/open", {{"file", "libs/spectra.txt"}, {"library", "libs/emis.abs"}}, 429,
          "Too many imports are running");
  // Stop ends a run at its question with nothing stored; the dialog, no longer running, then makes room.
  EXPECT_EQ(Post("/api/import/stop", {{"id", dialog["id"]}}), (Json{{"stopping", true}}));
  const Events stoppedRun = ReadEvents(*client, "/api/import/events?id=" + std::to_string(dialog["id"].get<int>()));
  ASSERT_GE(stoppedRun.size(), 2u);
  const Json stopped = stoppedRun.end()[-2].second;
  EXPECT_EQ(Json({stopped["interrupted"], stopped["committed"], stopped["added"]}), Json({true, false, 0}));
  EXPECT_EQ(records(dir.File("libs/q7/emis.abs")), records(dir.File("libs/emis.abs")));
  open();
}

// A message names the paths inside the served folder from it, the folder itself ".", and leaves a neighbour whose
// name starts with the folder's alone.
TEST(ServedFolder, MessagesNamePathsFromTheFolder) {
  test::TempDir dir;
  fs::create_directory(dir.Path() / "p");
  const web::TServedFolder folder((dir.Path() / "p").string());
  const std::string r = folder.Root().string();
  const std::pair<std::string, std::string> cases[] = {
      {"'" + r + "/emis.abs' has no record 9", "'emis.abs' has no record 9"},
      {"cannot write \"" + r + "/\" or " + r + "/a b", "cannot write \".\" or a b"},
      {"in " + r + "/", "in ."},
      {"in " + r, "in ."},
      {r + "2/x and " + r + "/f3/x.db", r + "2/x and f3/x.db"}};
  for (const auto& [message, shown] : cases) EXPECT_EQ(shown, folder.Shown(message)) << message;
}

// Out of descriptors, a server that cannot start says why (no room for its socket, or for its epoll set once the
// socket has one), and none that failed kept a descriptor. No server runs meanwhile: one that closed an idle
// connection would free a lower descriptor than the test made room for.
TEST(WebLimits, AServerThatCannotStartKeepsNoDescriptor) {
  test::TempDir dir;
  TServeOptions taken = ServeOptions(dir.Path());
  const auto descriptors = [] { return std::distance(fs::directory_iterator("/proc/self/fd"), {}); };
  // The sanitizers check an object's type the first time they meet its kind, through a pipe that a process out of
  // descriptors cannot make: a start and a refused start meet those kinds first, with room to spare.
  const TWebServer started{taken};  // never run, so nothing of it opens or closes a descriptor meanwhile
  TServeOptions busy = taken;
  busy.Port = started.Port();
  EXPECT_THROW(TWebServer{busy}, Exception);
  const auto opened = descriptors();
  const int free1 = ::open("/dev/null", O_RDONLY | O_CLOEXEC), free2 = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  ::close(free1);
  ::close(free2);
  rlimit limit{};
  ::getrlimit(RLIMIT_NOFILE, &limit);
  for (const auto& [room, error] : {std::pair(free1, "Cannot listen on 127.0.0.1 port 0: Too many open files"),
                                    std::pair(free2 + 1, "No event loop for the server: Too many open files")}) {
    const rlimit low{static_cast<rlim_t>(room), limit.rlim_max};
    ::setrlimit(RLIMIT_NOFILE, &low);
    EXPECT_THROW_MSG(TWebServer{taken}, Exception, error);
  }
  ::setrlimit(RLIMIT_NOFILE, &limit);
  EXPECT_EQ(descriptors(), opened);
}

// Where the loop finds a request's end, which bodies it leaves unread (over the path's limit, chunked, without a
// number), and the header's limit; "|" marks the end of the request in the bytes. The limit is the one of the
// path with its %XX decoded.
TEST(RequestScan, FindsWholeRequests) {
  using S = web::TRequestScan::EState;
  const web::TBodyLimit limit = [](const std::string& path) { return path == "/up" ? 100 : 10; };
  const std::pair<std::string, S> cases[] = {
      {"GET / HTTP/1.1\r\nHost: x\r\n", S::Incomplete},
      {"GET / HTTP/1.1\r\n\r\n|GET / HTTP/1.1", S::Whole},
      {"POST /a HTTP/1.1\r\ncontent-length: 3\r\n\r\nab", S::Incomplete},
      {"POST /a HTTP/1.1\r\nContent-Length:  3 \r\n\r\nabc|GET", S::Whole},
      {"POST /a HTTP/1.1\r\nContent-Length: 10\r\n\r\n0123456789|", S::Whole},  // at the limit
      {"POST /a HTTP/1.1\r\nContent-Length: 11\r\n\r\n|{", S::HeaderOnly},
      {"POST %2Fu%70?a=/a HTTP/1.1\r\nContent-Length: 11\r\n\r\n0123456789a|", S::Whole},
      {"POST %2fup HTTP/1.1\r\nContent-Length: 11\r\n\r\n0123456789a|", S::Whole},
      {"POST /u%7g HTTP/1.1\r\nContent-Length: 11\r\n\r\n|0", S::HeaderOnly},  // no hex digit: left as it is
      {"POST /a HTTP/1.1\r\nTransfer-Encoding: chunked\r\nContent-Length: 2\r\n\r\n|{}", S::HeaderOnly},
      {"POST /a HTTP/1.1\r\nContent-Length: 1x\r\n\r\n|1x", S::HeaderOnly},
      {"POST /a HTTP/1.1\r\nContent-Length: -1\r\n\r\n|", S::HeaderOnly},
      {"POST /a HTTP/1.1\r\nContent-Length: 2\r\ncontent-length: 5\r\n\r\nab|cde", S::Whole},  // the first, as the server reads it
      {"POST /a HTTP/1.1\r\nContent-Length: 99999999999999999999\r\n\r\n|", S::HeaderOnly},  // past 64 bits
      {"GET /" + std::string(80, 'a') + " HTTP/1.1\r\n", S::HeaderTooLarge},  // 96 bytes and no end yet
      {"GET /" + std::string(78, 'a') + " HTTP/1.1\r\n\r\n|", S::Whole},  // 96 bytes: at the limit
      {"GET /" + std::string(79, 'a') + " HTTP/1.1\r\n\r\n", S::HeaderTooLarge},
  };
  for (const auto& [marked, state] : cases) {
    SCOPED_TRACE(marked);
    std::string bytes = marked;
    const std::size_t end = bytes.find('|');
    if (end != std::string::npos) bytes.erase(end, 1);
    const web::TRequestScan scan = web::ScanRequest(bytes, 96, limit);
    EXPECT_EQ(scan.State, state);
    if (end != std::string::npos) {
      EXPECT_EQ(scan.Length, end);
    }
    // Bytes arriving one at a time, each scan going on where the last stopped, come to the same end.
    web::TRequestScan part;
    for (std::size_t from = 0, n = 1; n <= bytes.size() && part.HeaderEnd == 0 && part.State == S::Incomplete; from = n++)
      part = web::ScanRequest(std::string_view(bytes).substr(0, n), 96, limit, from);
    EXPECT_EQ(part.HeaderEnd, scan.HeaderEnd);
  }
  const std::string expecting = "PUT /a HTTP/1.1\r\nExpect: 100-Continue\r\nContent-Length: 1\r\n\r\n";
  const web::TRequestScan scan = web::ScanRequest(expecting, 96, limit);
  EXPECT_EQ(expecting.substr(scan.ExpectBegin, scan.ExpectEnd - scan.ExpectBegin), "Expect: 100-Continue\r\n");
}

// 100 clients that send their header a line at a time, and two idle kept-alive ones, hold connections but no
// worker: with two workers a normal client is answered, request after request, well before their header
// deadline (6 s) could free one; a bound of half of it leaves room for a loaded machine. At the cap of 64
// connections the oldest slow ones are dropped; the header deadline cuts off the others with 408. Two clients
// that take nothing of a download hold the workers only until the write deadline (1 s): without it the normal
// client would not be answered at all.
TEST(WebLimits, SlowClientsHoldNoWorkers) {
  TempDir dir;
  TServeOptions options = ServeOptions(dir.Path());
  options.Limits.Workers = 2;
  options.Limits.MaxConnections = 64;
  options.Limits.HeaderTime = std::chrono::seconds(6);
  options.Limits.WriteTime = std::chrono::seconds(1);
  options.Limits.SweepTime = std::chrono::seconds(60);  // only events and deadlines wake the loop
  options.Limits.IdleTime = std::chrono::seconds(60);  // a connection kept after an answer cut off outlasts a read
  TRunningServer server(options);
  // Two requests sent at once on the first connection get two answers and the close at once: the worker that
  // answered hands the connection back and wakes the loop to take it (for the next request, then to close it).
  // A loop that missed the wake-up would take it only after its sweep of 60 s, as no other connection has a
  // deadline, and the read would end at its 20 s without the close. A signal caught while the loop waits for them
  // (its handler does nothing) leaves the loop reading as before.
  const std::string get = "GET /api/folder HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Vezi-Token: " + server.Token() + "\r\n";
  const std::string both = get + "\r\n" + get + "Connection: close\r\n\r\n";
  const int first = Connect(server.Port());
  std::this_thread::sleep_for(100ms);  // accepted
  ::signal(SIGUSR1, [](int) {});
  ::pthread_kill(server.serving.Thread(), SIGUSR1);
  std::this_thread::sleep_for(100ms);
  ::send(first, both.data(), both.size(), MSG_NOSIGNAL);
  const std::string twice = ReadToClose(first);
  EXPECT_TRUE(twice.starts_with("HTTP/1.1 200 ") && twice.find("HTTP/1.1 200 ", 1) != std::string::npos &&
              twice.ends_with("}")) << twice;
  const auto client = [&] {
    auto c = std::make_unique<httplib::Client>("127.0.0.1", server.Port());
    c->set_default_headers({{"X-Vezi-Token", server.Token()}});
    c->set_keep_alive(true);
    return c;
  };
  std::vector<int> slow;
  for (int i = 0; i < 100; ++i) slow.push_back(Send(server.Port(), "GET /api/folder HTTP/1.1\r\n"));
  std::atomic<bool> done{false};
  std::thread trickle([&] {
    while (!done) {
      for (int fd : slow) ::send(fd, "X-Slow: 1\r\n", 11, MSG_NOSIGNAL);
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
  });
  const auto end = [&](std::thread* t) { done = true; t->join(); };
  std::unique_ptr<std::thread, decltype(end)> trickling(&trickle, end);
  auto idle1 = client(), idle2 = client(), normal = client();
  ASSERT_TRUE(idle1->Get("/api/folder") && idle2->Get("/api/folder"));
  for (int i = 0; i < 3; ++i) {
    const auto start = std::chrono::steady_clock::now();
    const auto r = normal->Get("/api/folder");
    ASSERT_TRUE(r && r->status == 200);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
  }
  trickling.reset();
  int dropped = 0, cut = 0;
  for (int fd : slow) {
    const std::string answer = ReadToClose(fd);
    dropped += answer.empty();
    cut += answer.starts_with("HTTP/1.1 408 Request Timeout") &&
           answer.ends_with("{\"error\":\"The request's header did not arrive within 6 s\"}");
  }
  EXPECT_GE(dropped, 100 + 3 - 64);
  EXPECT_EQ(dropped + cut, 100);

  const std::size_t size = 16 << 20;
  std::ofstream(dir.Path() / "big.txt") << std::string(size, 'x');
  const std::string download = "GET /api/download?path=big.txt HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Vezi-Token: " +
                               server.Token() + "\r\n\r\n";
  // A request sent while the last answer is still going out (then the client's end) is read by the worker after
  // that answer, and answered once. So is one whose header ends only after that answer: the worker, which finds
  // part of a header after its answer, leaves it to the loop to read the rest.
  for (const bool split : {false, true}) {
    const int next = Send(server.Port(), download, 4096);
    std::string both(split ? size : 1, '\0');
    EXPECT_EQ(::recv(next, both.data(), 1, 0), 1);
    ::send(next, (get + "\r\n").data(), get.size() + (split ? 0 : 2), MSG_NOSIGNAL);
    if (split) {
      EXPECT_EQ(::recv(next, both.data() + 1, size - 1, MSG_WAITALL), static_cast<ssize_t>(size - 1));
      std::this_thread::sleep_for(std::chrono::milliseconds(100));  // for the worker to look for a next request
      ::send(next, "\r\n", 2, MSG_NOSIGNAL);
    }
    ::shutdown(next, SHUT_WR);
    both += ReadToClose(next);
    EXPECT_EQ(both.find("HTTP/1.1 200 ", both.find("HTTP/1.1 200 ", size) + 1), std::string::npos);
    EXPECT_TRUE(both.size() > size && both.ends_with("}")) << split << " " << both.size();
  }
  std::vector<int> stalled;
  for (int i = 0; i < 2; ++i) stalled.push_back(Send(server.Port(), download, 4096));
  // The second one asks again while its first answer goes out, takes that answer whole and stalls on the next:
  // the worker that answers both closes the connection at the write deadline, and the client sees the close.
  char byte;
  std::string header;
  ::recv(stalled[1], &byte, 1, 0);
  ::send(stalled[1], download.data(), download.size(), MSG_NOSIGNAL);
  while (!header.ends_with("\r\n\r\n") && ::recv(stalled[1], &byte, 1, 0) == 1) header += byte;
  std::string body(size, '\0');
  EXPECT_EQ(::recv(stalled[1], body.data(), size, MSG_WAITALL), static_cast<ssize_t>(size));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(normal->Get("/api/folder"));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));  // the later one's deadline passes too
  for (int fd : stalled) {
    const std::string rest = ReadToClose(fd);
    EXPECT_TRUE(rest.size() < size && !rest.ends_with("(not closed)")) << rest.size();
  }
}

// Past a cap a connection gets 503 and is closed: a body announced beyond the memory that bodies being received
// may take, and a connection beyond the cap while every open one is being answered (two stalled downloads, one of
// them waiting for the only worker). A body that does not arrive in time gets 408 with the time it had: 1 s,
// and 1 s for each started MiB (an upload of exactly 1 MiB has 2 s).
TEST(WebLimits, RefusalsPastTheCapsCloseTheConnection) {
  TempDir dir;
  std::ofstream(dir.Path() / "big.txt") << std::string(16 << 20, 'x');
  TServeOptions options = ServeOptions(dir.Path());
  options.Limits.Workers = 1;
  options.Limits.MaxConnections = 2;
  options.Limits.BodyMemory = 1000;
  options.Limits.HeaderBytes = 1024;
  options.Limits.WriteTime = std::chrono::milliseconds(2000);
  options.Limits.BodyTime = std::chrono::seconds(1);  // and 1 s for each started MiB
  options.Limits.IdleTime = std::chrono::milliseconds(500);
  options.Limits.HeaderTime = std::chrono::seconds(2);
  TRunningServer server(options);
  const TServeLimits d;  // the defaults the README gives
  EXPECT_EQ(std::tuple(d.MaxConnections, d.Workers, d.HeaderBytes, d.BodyMemory, d.HeaderTime, d.BodyTime,
                       d.BodyTimePerMiB, d.IdleTime, d.WriteTime),
            std::tuple(256, 16, std::size_t{64 << 10}, 256ll << 20, 10s, 30s, 1s, 5s, 30s));
  const std::string head = "HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Vezi-Token: " + server.Token() + "\r\n";
  const std::string post = "POST /api/upload?folder=. " + head + "Content-Length: 1048576\r\n\r\n-";
  // The next request on a kept connection has the header time (2 s) from its first byte, whatever was left of
  // the idle time (0.5 s) when it began, and one that stalls gets 408 like a first request. A request read whole
  // after a longer one read in parts is found at once.
  const int kept = Connect(server.Port());
  const std::string ask = "GET /api/folder " + head + "\r\n", rest = head + "\r\n";
  std::string first = server.Answer(ask);
  const std::string longer = "GET /api/folder " + head + "X-Long: " + std::string(100, 'x');
  for (const std::string& part : {longer, std::string("\r\n\r\n"), ask}) {
    EXPECT_TRUE(part != ask || ::recv(kept, first.data(), first.size(), MSG_WAITALL) == static_cast<ssize_t>(first.size()));
    std::this_thread::sleep_for(100ms);  // each part read on its own, the last one by the loop
    ::send(kept, part.data(), part.size(), MSG_NOSIGNAL);
  }
  EXPECT_EQ(::recv(kept, first.data(), first.size(), MSG_WAITALL), static_cast<ssize_t>(first.size()));
  std::this_thread::sleep_for(100ms);  // past the worker's look for a next request: the loop reads it
  ::send(kept, "GET /api/folder ", 16, MSG_NOSIGNAL);
  std::this_thread::sleep_for(1s);
  ::send(kept, rest.data(), rest.size(), MSG_NOSIGNAL);
  EXPECT_EQ(ReadToClose(kept), first);  // the same answer; kept, then closed once idle for 0.5 s
  const int stalls = Connect(server.Port());
  ::send(stalls, ask.data(), ask.size(), MSG_NOSIGNAL);
  EXPECT_EQ(::recv(stalls, first.data(), first.size(), MSG_WAITALL), static_cast<ssize_t>(first.size()));
  std::this_thread::sleep_for(100ms);
  ::send(stalls, "GET /api/folder ", 16, MSG_NOSIGNAL);
  const std::string cutOff = ReadToClose(stalls);
  EXPECT_TRUE(cutOff.starts_with("HTTP/1.1 408 ") && cutOff.ends_with("header did not arrive within 2 s\"}")) << cutOff;
  const auto refused = [](const std::string& answer, const std::string& error) {
    return answer.starts_with("HTTP/1.1 503 ") && answer.ends_with("{\"error\":\"" + error + "\"}");
  };
  // The bytes after a refused request are no request: an upload after its first 1025 bytes (one read) makes no
  // file; the folder is listed after it by the only worker. Here after a header too large, below after a body.
  const auto upload = [&](std::string request, const std::string& name) {
    const std::string file = "--b\r\nContent-Disposition: form-data; name=\"file\"; filename=\"" + name + "\"\r\n\r\nx\r\n--b--\r\n";
    return request + std::string(1025 - request.size(), ' ') + "POST /api/upload?folder=. " + head +
           "Content-Type: multipart/form-data; boundary=b\r\nContent-Length: " + std::to_string(file.size()) + "\r\n\r\n" + file;
  };
  const auto listed = [&](const std::string& name) {
    const std::string folder = RawAnswer(server.Port(), "GET /api/folder " + head + "Connection: close\r\n\r\n");
    return folder.find("big.txt") != std::string::npos && folder.find(name) == std::string::npos;
  };
  EXPECT_TRUE(RawAnswer(server.Port(), upload("GET / " + head + "X-Long: x", "u.txt")).starts_with("HTTP/1.1 431 "));
  EXPECT_TRUE(listed("u.txt"));
  // A body that arrives in parts holds its memory until its answer, then gives it back once: the same request is
  // read again on the kept connection, and while it arrives a body that does not fit beside it is refused.
  const std::string busy = "The server is receiving too many request bodies at once; try again";
  const std::string save = "POST /api/record/save " + head, length = "Content-Length: 800\r\n\r\n{";
  const std::string close = save + "Connection: close\r\n" + length;
  const std::string other = "POST /a " + head + "Content-Length: 300\r\n\r\n{";
  const int fd = Connect(server.Port());
  for (const std::string& request : {save + length, close}) {
    for (const std::string& part : {request, std::string(400, ' '), std::string(398, ' ') + "}"}) {
      ::send(fd, part.data(), part.size(), MSG_NOSIGNAL);
      std::this_thread::sleep_for(std::chrono::milliseconds(200));  // each part read on its own
      EXPECT_TRUE(part != request || refused(RawAnswer(server.Port(), other), busy)) << request;
    }
  }
  const std::string answers = ReadToClose(fd);
  EXPECT_TRUE(answers.starts_with("HTTP/1.1 400 ") && answers.find("HTTP/1.1 400 ", 1) != std::string::npos) << answers;
  // And a client that goes away in the middle of its body gives its memory back; while it sends, the answered
  // bodies above have given theirs back once only, so a body that does not fit beside its body is refused.
  const int gone = Send(server.Port(), close);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_TRUE(refused(RawAnswer(server.Port(), other), busy));
  ::close(gone);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  const std::string after = RawAnswer(server.Port(), other);  // its body never comes
  EXPECT_TRUE(after.starts_with("HTTP/1.1 408 ")) << after;
  const int sending = Send(server.Port(), post);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const std::string second = RawAnswer(server.Port(), upload("POST /api/record/save " + head + "Content-Length: 5000\r\n\r\n{", "v.txt"));
  EXPECT_TRUE(refused(second, busy)) << second;
  EXPECT_TRUE(listed("v.txt"));
  const std::string late = ReadToClose(sending);  // the rest of its body never came
  EXPECT_TRUE(late.starts_with("HTTP/1.1 408 ") && late.ends_with("did not arrive within 2 s\"}")) << late;
  std::vector<int> stalled;
  for (int i = 0; i < 2; ++i) {
    stalled.push_back(Send(server.Port(), "GET /api/download?path=big.txt " + head + "\r\n", 4096));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
  }
  const std::string third = ReadToClose(Connect(server.Port()));  // sends nothing, so the close resets nothing
  EXPECT_TRUE(refused(third, "The server is answering as many connections as it takes")) << third;
  pollfd waiting{stalled[1], POLLIN, 0};
  EXPECT_EQ(::poll(&waiting, 1, 0), 0);  // nothing of its answer yet: the only worker is held by the first
  for (const int fd : stalled) ::close(fd);
}

// Out of descriptors or memory (the process's or the system's), the loop drops its oldest waiting connection
// to take a new one: a connection that sent nothing closes at once, long before its header deadline (10 s). With
// none to drop, it stops accepting for a moment, then takes the waiting ones. A process without a standard input
// (a daemon) gives its loop descriptor 0 like any other, and has it back when the loop ends.
TEST(WebLimits, OutOfDescriptorsDropsTheOldestConnection) {
  TempDir dir;
  TServeOptions options = ServeOptions(dir.Path());
  const std::string get = "GET / HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n";
  for (const int error : {EMFILE, ENFILE, ENOBUFS, ENOMEM}) {
    TRunningServer server(options);
    g_acceptError = error;
    const int waiting = Connect(server.Port());
    pollfd closed{waiting, POLLIN, 0};
    char byte;
    EXPECT_TRUE(::poll(&closed, 1, 5000) == 1 && ::recv(waiting, &byte, 1, 0) == 0) << std::strerror(error);
    ::close(waiting);
  }
  {  // a lingering connection goes before one that has waited longer for its request
    TRunningServer server(options);
    const int idle = Connect(server.Port()), lingering = Send(server.Port(), get);
    char byte;
    while (::recv(lingering, &byte, 1, 0) > 0) {}  // the whole answer: the server lingers on it now
    g_acceptError = EMFILE;
    const bool answered = RawAnswer(server.Port(), get).starts_with("HTTP/1.1 ");  // its accept is followed by the failing one
    ::send(idle, get.data(), get.size(), MSG_NOSIGNAL);
    EXPECT_TRUE(answered && ReadToClose(idle).starts_with("HTTP/1.1 "));  // an answer, not a dropped connection
    ::close(lingering);
  }
  {  // more requests ready at once than one wait of the loop takes (64): the loop is held while 70 clients send
    TRunningServer server(options);
    static std::atomic<int> held{0};  // 2 holds the loop
    std::vector<int> clients(70);
    for (int& fd : clients) fd = Connect(server.Port());
    std::this_thread::sleep_for(200ms);  // all accepted
    ::signal(SIGUSR2, [](int) { for (held = 2; held == 2;) std::this_thread::sleep_for(1ms); });
    ::pthread_kill(server.serving.Thread(), SIGUSR2);
    while (held != 2) std::this_thread::sleep_for(1ms);
    for (int fd : clients) ::send(fd, get.data(), get.size(), MSG_NOSIGNAL);
    std::this_thread::sleep_for(200ms);  // all arrived
    held = 0;
    for (int fd : clients) EXPECT_TRUE(ReadToClose(fd).starts_with("HTTP/1.1 "));
  }
  const int listening = ::socket(AF_INET, SOCK_STREAM, 0), in = ::dup(0);
  ::close(0);
  web::TRequestServer unused;
  EXPECT_NO_THROW(web::TRequestLoop(listening, {}, [](const std::string&) { return 0; }, unused));
  EXPECT_EQ(::dup(in), 0);  // the loop closed its descriptor 0: the lowest free one again
  ::close(0);  // a server started without standard input, as a daemon is, listens on descriptor 0
  EXPECT_NO_THROW(TWebServer{options});
  EXPECT_EQ(::dup(in), 0);
  {  // a connection the loop accepts as descriptor 0, after an accept that failed with none to drop, is answered
    TWebServer server(options);
    TServing serving(server);
    const int client = ::socket(AF_INET, SOCK_STREAM, 0);
    ::close(0);
    g_acceptError = -EMFILE;
    g_waits = 0;
    const std::string answer = RawAnswer(server.Port(), get, client);
    serving.Stop();
    ::dup2(in, 0);
    // The listening socket leaves the loop's watch for the pause: kept, it would wake the loop again and again.
    EXPECT_TRUE(answer.starts_with("HTTP/1.1 ") && g_acceptError == 0 && g_waits < 100) << answer << g_waits;
  }
  ::close(in);
}

}  // namespace
}  // namespace vez
