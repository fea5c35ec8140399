// The folder page: the libraries of a folder with their type, records, size and last change, the Paradox
// tables a conversion would take with their companion files, the spreadsheet and text files an import can
// read, and the subfolders.
#include <algorithm>
#include <chrono>
#include <ctime>
#include <fstream>
#include <sstream>

#include "convert/ConvertParadox.h"
#include "core/CaseFold.h"
#include "core/FileMask.h"
#include "core/FormatSettings.h"
#include "librarydb/OVLibConst.h"
#include "web/internal/Library.h"

namespace vez::web {

namespace fs = std::filesystem;

namespace {

bool IsSqliteFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  char head[16] = {};
  in.read(head, sizeof head);
  return in.gcount() == 16 && std::string_view(head, 16) == std::string_view("SQLite format 3\0", 16);
}

bool IsSheetFile(const std::string& name) {
  static const char* const kMasks[] = {"*.xls", "*.xlsx", "*.txt", "*.tsv", "*.tab", "*.asc", "*.csv", "*.prn"};
  return std::any_of(std::begin(kMasks), std::end(kMasks), [&](const char* m) { return MatchesMask(name, m); });
}

// Local time as "2024-05-31 14:30:00".
std::string ChangeTime(const fs::path& p) {
  std::error_code ec;
  const auto when = fs::last_write_time(p, ec);
  if (ec) return {};
  const std::time_t t = std::chrono::system_clock::to_time_t(
      std::chrono::time_point_cast<std::chrono::system_clock::duration>(std::chrono::file_clock::to_sys(when)));
  std::tm local{};
  localtime_r(&t, &local);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  return text;
}

void WriteType(JsonWriter& json, std::int32_t type) {
  const char* name = type >= 0 ? LibTypeConstantName(type) : nullptr;
  json.Member("type", type).Member("type_name", name ? name : "");
}

}  // namespace

void RegisterFolderRoutes(TRoutes& routes) {
  TContext& c = routes.Context();
  // The library types a new library can have: code, constant name and file name (a pattern for some).
  routes.Get("/api/types", [](const httplib::Request&, httplib::Response& res) {
    Reply(res, [](JsonWriter& json) {
      json.BeginArray();
      for (std::int32_t code = 0; code < kLibTypeCount; ++code) {
        if (const char* name = LibTypeConstantName(code))
          json.BeginObject().Member("code", code).Member("name", name).Member("file", LibName(code)).EndObject();
      }
      json.EndArray();
    });
  });
  routes.Get("/api/folder", [&c](const httplib::Request& req, httplib::Response& res) {
    const std::string path = Query(req, "path", false);
    const fs::path folder = c.Folder.Resolve(path);
    if (!fs::is_directory(folder)) throw EHttpError(400, "\"" + path + "\" is not a folder");
    std::vector<fs::directory_entry> entries;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) entries.push_back(*it);
    if (ec) throw Exception("The folder \"" + path + "\" cannot be listed: " + ec.message());
    std::sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) {
      const std::string x = a.path().filename().string(), y = b.path().filename().string();
      const std::string fx = FoldCase(x), fy = FoldCase(y);
      return fx != fy ? fx < fy : x < y;
    });
    const std::string prefix = path.empty() || path == "." ? std::string() : c.Folder.Relative(folder) + "/";
    Reply(res, [&](JsonWriter& json) {
      json.BeginObject().Member("path", c.Folder.Relative(folder)).Member("name", folder.filename().string());
      json.Key("libraries").BeginArray();
      std::vector<const fs::directory_entry*> paradox, sheets, mappings, folders;
      for (const auto& e : entries) {
        const std::string name = e.path().filename().string();
        std::error_code ec2;
        // Links that lead out of the served folder are not shown.
        if (!c.Folder.Contains(fs::weakly_canonical(e.path(), ec2)) || ec2) continue;
        if (e.is_directory(ec2)) {
          folders.push_back(&e);
          continue;
        }
        // A new library's passing file (being made, or left by a killed run) is no library.
        if (!e.is_regular_file(ec2) || IsPassingLibraryFile(name)) continue;
        if (!ConvertedFileName(name).empty() && !IsSqliteFile(e.path())) paradox.push_back(&e);
        else if (IsSheetFile(name)) sheets.push_back(&e);
        else if (MatchesMask(name, "*.json")) mappings.push_back(&e);
        if (!IsSqliteFile(e.path())) continue;
        json.BeginObject().Member("file", name).Member("path", prefix + name);
        json.Member("size", static_cast<std::int64_t>(e.file_size(ec2))).Member("modified", ChangeTime(e.path()));
        try {
          TOpenLibrary lib(e.path(), false);  // its type: the name's, or the one the file records
          lib.Open();
          WriteType(json, lib.LibType());
          json.Member("records", lib.Table().RecordCount());
        } catch (const std::exception& ex) {
          WriteType(json, -1);
          json.Member("error", c.Folder.Shown(ex.what()));
        }
        json.EndObject();
      }
      json.EndArray().Key("paradox").BeginArray();
      for (const auto* e : paradox) {
        const std::string name = e->path().filename().string();
        const std::string target = ConvertedFileName(name);
        std::error_code ec2;
        json.BeginObject().Member("file", name).Member("path", prefix + name).Member("library", target);
        WriteType(json, GetLibType(target));
        json.Member("converted", fs::exists(folder / target, ec2))
            .Member("never_converted", NeverConverted(name))
            .Member("size", static_cast<std::int64_t>(e->file_size(ec2)))
            .Member("modified", ChangeTime(e->path()));
        json.Key("companions").BeginArray();
        for (const std::string& companion : CompanionFiles(e->path().string())) json.String(companion);
        json.EndArray().EndObject();
      }
      json.EndArray().Key("sheets").BeginArray();
      for (const auto* e : sheets) {
        std::error_code ec2;
        const std::string name = e->path().filename().string();
        json.BeginObject()
            .Member("file", name)
            .Member("path", prefix + name)
            .Member("size", static_cast<std::int64_t>(e->file_size(ec2)))
            .Member("modified", ChangeTime(e->path()))
            .EndObject();
      }
      json.EndArray().Key("mappings").BeginArray();  // saved links of imports ("Load links")
      for (const auto* e : mappings) {
        const std::string name = e->path().filename().string();
        json.BeginObject().Member("file", name).Member("path", prefix + name).EndObject();
      }
      json.EndArray().Key("folders").BeginArray();
      for (const auto* e : folders) json.String(e->path().filename().string());
      json.EndArray().EndObject();
    });
  });

  // A spreadsheet or text file of the folder to save in the browser (an export, say).
  routes.Get("/api/download", [&c](const httplib::Request& req, httplib::Response& res) {
    const std::string path = Query(req, "path");
    const fs::path file = c.Folder.Resolve(path);
    const std::string name = file.filename().string();
    if (!fs::is_regular_file(file) || !(IsSheetFile(name) || MatchesMask(name, "*.json")))
      throw EHttpError(400, "\"" + path + "\" is no spreadsheet, text or mapping file of the folder");
    std::ifstream in(file, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    if (!in && !in.eof()) throw Exception("\"" + path + "\" cannot be read");
    std::string quoted;
    for (const char ch : name) quoted += ch == '"' || ch == '\\' || static_cast<unsigned char>(ch) < 0x20 ? '_' : ch;
    res.set_header("Content-Disposition", "attachment; filename=\"" + quoted + "\"");
    res.set_header("Cache-Control", "no-store");
    res.set_content(bytes.str(), "application/octet-stream");
  });
}

}  // namespace vez::web
