#include "web/internal/ServedFolder.h"

#include "core/Exceptions.h"
#include "web/internal/Http.h"

namespace vez::web {

namespace fs = std::filesystem;

TServedFolder::TServedFolder(const std::string& folder) {
  std::error_code ec;
  root_ = fs::canonical(folder.empty() ? "." : folder, ec);
  if (ec || !fs::is_directory(root_, ec)) throw Exception("The folder \"" + folder + "\" does not exist");
}

bool PathWithin(const fs::path& outer, const fs::path& inner) {
  auto o = outer.begin();
  auto i = inner.begin();
  for (; o != outer.end(); ++o, ++i) {
    if (o->empty() && std::next(o) == outer.end()) break;  // a trailing separator
    if (i == inner.end() || *i != *o) return false;
  }
  return true;
}

fs::path TServedFolder::Resolve(std::string_view relative, bool mustExist) const {
  const std::string text(relative);
  if (text.find('\0') != std::string::npos) throw EHttpError(400, "A path must not hold a NUL character");
  const fs::path rel(text);
  if (rel.is_absolute()) throw EHttpError(403, "\"" + text + "\" is not inside the served folder");
  for (const auto& part : rel)
    if (part == "..") throw EHttpError(403, "\"" + text + "\" leads out of the served folder");
  std::error_code ec;
  const fs::path resolved = fs::weakly_canonical(root_ / rel, ec);
  if (ec) throw EHttpError(404, "\"" + text + "\" cannot be reached: " + ec.message());
  if (!Contains(resolved)) throw EHttpError(403, "\"" + text + "\" leads out of the served folder");
  if (mustExist && !fs::exists(resolved, ec)) throw EHttpError(404, "There is no \"" + text + "\" in the served folder");
  return resolved;
}

std::string TServedFolder::Shown(std::string message) const {
  const std::string root = root_.string();
  if (root == "/") return message;  // every absolute path would lose its slash
  const auto nameChar = [](char ch) { return ch != '"' && ch != '\'' && ch != ' ' && ch != '\n' && ch != '\r'; };
  for (std::size_t at = message.find(root); at != std::string::npos; at = message.find(root, at)) {
    const std::size_t end = at + root.size();
    if (end < message.size() && message[end] != '/' && nameChar(message[end])) {
      at = end;  // "/srv/p2" is not inside "/srv/p"
      continue;
    }
    const bool inside = end + 1 < message.size() && message[end] == '/' && nameChar(message[end + 1]);
    message.replace(at, end - at + (end < message.size() && message[end] == '/' ? 1 : 0), inside ? "" : ".");
  }
  return message;
}

std::string TServedFolder::Relative(const fs::path& inside) const {
  const std::string rel = inside.lexically_relative(root_).generic_string();
  return rel == "." ? std::string() : rel;
}

}  // namespace vez::web
