// libFuzzer target of the HTTP handling of the import dialog's requests in vezi serve. Every line of the input
// is one request: its first byte chooses the route (modulo their number), the rest is the JSON body, in which
// "#" stands for the id of the dialog that each input opens first on a small text file. Each request is scanned
// as the server's loop scans it (it must be found whole) and answered through the handlers as a worker answers
// it; the dialogs are closed afterwards and every file the input made is removed.
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "web/internal/Http.h"
#include "web/internal/RequestLoop.h"

namespace {

namespace fs = std::filesystem;

fs::path MakeFolder() {
  const fs::path folder = fs::temp_directory_path() / ("vezi-fuzz-web-" + std::to_string(::getpid()));
  fs::create_directories(folder);
  std::ofstream(folder / "a.txt") << "Material\t125 Hz\t250 Hz\nWool\t0.20\t0.65\nPanel\t0.30\t0.60\nWool\t0.1\t\n";
  return folder;
}

struct TServed {
  TServed() : folder(MakeFolder()), context(folder.string()) {
    context.Token = "0";
    context.UploadLimit = 1 << 20;
    context.Conversions = vez::web::MakeConversions();
    context.Imports = vez::web::MakeImportSessions();
    vez::web::TRoutes routes(server, context);
    vez::web::RegisterImportRoutes(routes);
    server.SetServing(true);
  }
  ~TServed() {
    std::error_code ec;
    fs::remove_all(folder, ec);
  }

  std::string Post(const std::string& route, const std::string& body) {
    const std::string request = "POST /api/import/" + route +
                                " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\nContent-Length: " +
                                std::to_string(body.size()) + "\r\n\r\n" + body;
    const vez::web::TRequestScan scan = vez::web::ScanRequest(
        request, 64 << 10, [](const std::string&) { return vez::web::kJsonBodyLimit; });
    if (scan.State != vez::web::TRequestScan::EState::Whole || scan.Length != request.size()) __builtin_trap();
    return vez::web::AnswerRequest(server, request);
  }

  fs::path folder;
  vez::web::TContext context;
  vez::web::TRequestServer server;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static TServed served;
  static const char* const kRoutes[] = {"open", "dialog", "link", "save-links", "load-links", "start", "answer", "close"};
  // Every dialog an input opens is closed at its end, so that each input starts afresh.
  std::vector<std::string> opened;
  const auto open = [&](const std::string& body) {
    const std::string answer = served.Post("open", body);
    const std::size_t at = answer.find("\"id\":");
    if (at != std::string::npos) opened.push_back(std::to_string(std::stoll(answer.substr(at + 5))));
  };
  open(R"({"file":"a.txt","library":"Absor.abs"})");
  const std::string id = opened.empty() ? "0" : opened.front();
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  for (std::size_t pos = 0; pos < input.size();) {
    const std::size_t end = std::min(input.find('\n', pos), input.size());
    const std::string_view line = input.substr(pos, end - pos);
    pos = end + 1;
    if (line.empty()) continue;
    std::string body;
    for (char c : line.substr(1)) body += c == '#' ? id : std::string(1, c);
    const char* route = kRoutes[static_cast<unsigned char>(line[0]) % std::size(kRoutes)];
    if (route == kRoutes[0]) open(body);
    else served.Post(route, body);
  }
  for (const std::string& dialog : opened) served.Post("close", "{\"id\":" + dialog + "}");
  for (const auto& entry : fs::directory_iterator(served.folder))
    if (entry.path().filename() != "a.txt") fs::remove_all(entry.path());
  return 0;
}
