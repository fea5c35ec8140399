// The one folder the web application serves. Every path a request names is taken relative to it, resolved
// with its symbolic links, and refused unless it stays inside: an absolute path, a ".." component and a link
// that leads out give 403, whatever their spelling (query parameters arrive decoded once; a text that still
// holds "%2e" after that names a file of that name, which does not exist).
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace vez::web {

// Whether `inner` is `outer` or lies below it, comparing the paths' elements (no file system access).
bool PathWithin(const std::filesystem::path& outer, const std::filesystem::path& inner);

class TServedFolder {
public:
  // The folder must exist; it is kept absolute and without symbolic links.
  explicit TServedFolder(const std::string& folder);

  const std::filesystem::path& Root() const { return root_; }

  // The path inside the folder named by `relative` ("" and "." are the folder itself). 403 when it leads out,
  // 404 when it must exist and does not.
  std::filesystem::path Resolve(std::string_view relative, bool mustExist = true) const;
  // A path inside the folder as the client names it: relative, "/"-separated, "" for the folder.
  std::string Relative(const std::filesystem::path& inside) const;
  // A message of the library as the page shows it: every path inside the folder relative to it, the folder
  // itself as "." ("'/srv/p/emis.abs' has no record 9" -> "'emis.abs' has no record 9").
  std::string Shown(std::string message) const;
  // Whether a resolved path (no symbolic links) lies in the folder.
  bool Contains(const std::filesystem::path& resolved) const { return PathWithin(root_, resolved); }

private:
  std::filesystem::path root_;
};

}  // namespace vez::web
