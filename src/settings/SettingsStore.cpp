#include "settings/SettingsStore.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "core/Exceptions.h"
#include "core/FormatSettings.h"

namespace vez {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kBom = "\xEF\xBB\xBF";

// Blanks and tabs around INI names and values; other control characters are part of the text.
std::string_view TrimBlanks(std::string_view s) {
  const auto isBlank = [](char c) { return c == ' ' || c == '\t'; };
  while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && isBlank(s.back())) s.remove_suffix(1);
  return s;
}

std::string Unquote(std::string_view value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
    return std::string(value.substr(1, value.size() - 2));
  return std::string(value);
}

bool HasLineBreak(std::string_view s) { return s.find_first_of("\r\n") != std::string_view::npos; }

void CheckSectionName(std::string_view section) {
  const auto t = TrimBlanks(section);
  if (t.empty() || t.size() != section.size() || HasLineBreak(section) ||
      section.find(']') != std::string_view::npos)
    throw Exception(Format("Invalid settings section name \"%s\"", std::string(section)));
}

void CheckKeyName(std::string_view key) {
  const auto t = TrimBlanks(key);
  if (t.empty() || t.size() != key.size() || HasLineBreak(key) || key.find('=') != std::string_view::npos ||
      key.front() == ';' || key.front() == '[')
    throw Exception(Format("Invalid settings key name \"%s\"", std::string(key)));
}

// Folder entry whose name equals `name` without regard to ASCII case; `name` itself when none does.
std::string MatchEntry(const fs::path& folder, const std::string& name) {
  std::error_code ec;
  if (fs::exists(folder / name, ec)) return name;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string entry = it->path().filename().string();
    if (SameText(entry, name)) return entry;
  }
  return name;
}

}  // namespace

// ---- typed reads and writes over the text operations ----

std::int32_t TSettingsStore::ReadInteger(std::string_view section, std::string_view key, std::int32_t def) const {
  std::string text = ReadString(section, key, "");
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) text = "$" + text.substr(2);
  std::int32_t value = 0;
  return TryStrToInt(text, value) ? value : def;
}

double TSettingsStore::ReadFloat(std::string_view section, std::string_view key, double def) const {
  const std::string text = ReadString(section, key, "");
  double value = 0;
  return !text.empty() && TryStrToFloat(text, value) ? value : def;
}

bool TSettingsStore::ReadBool(std::string_view section, std::string_view key, bool def) const {
  return ReadInteger(section, key, def ? 1 : 0) != 0;
}

void TSettingsStore::WriteInteger(std::string_view section, std::string_view key, std::int32_t value) {
  WriteString(section, key, IntToStr(value));
}

void TSettingsStore::WriteFloat(std::string_view section, std::string_view key, double value) {
  WriteString(section, key, FloatToStr(value));
}

void TSettingsStore::WriteBool(std::string_view section, std::string_view key, bool value) {
  WriteString(section, key, value ? "1" : "0");
}

// ---- TIniFile ----

TIniFile::TIniFile(std::string fileName) : fileName_(std::move(fileName)) { Load(); }

TIniFile::~TIniFile() = default;

void TIniFile::Load() {
  std::error_code ec;
  const fs::path path(fileName_);
  // status follows a symbolic link: a link to a device or a pipe is refused like the thing itself.
  const fs::file_status status = fs::status(path, ec);
  if (!fs::exists(status)) {
    if (ec && ec != std::errc::no_such_file_or_directory && ec != std::errc::not_a_directory)
      loadError_ = Format("Cannot read settings file \"%s\": %s", fileName_, ec.message());
    return;
  }
  if (fs::is_directory(status)) {
    loadError_ = Format("Cannot read settings file \"%s\": it is a folder", fileName_);
    return;
  }
  if (!fs::is_regular_file(status)) {
    loadError_ = Format("Cannot read settings file \"%s\": it is not a regular file", fileName_);
    return;
  }
  const std::uintmax_t size = fs::file_size(path, ec);
  if (ec || size > kMaxSettingsFileSize) {
    loadError_ = ec ? Format("Cannot read settings file \"%s\": %s", fileName_, ec.message())
                    : Format("Cannot read settings file \"%s\": %s bytes exceed the limit of %s bytes", fileName_,
                             std::to_string(size), std::to_string(kMaxSettingsFileSize));
    return;
  }
  std::ifstream in(path, std::ios::binary);
  std::string content;
  if (in) {
    // At most one byte past the limit is read, so a file that grows meanwhile cannot make the read unbounded.
    content.resize(static_cast<std::size_t>(size) + 1);
    in.read(content.data(), static_cast<std::streamsize>(content.size()));
    content.resize(static_cast<std::size_t>(in.gcount()));
    if (in.eof()) in.clear();
  }
  if (!in || in.bad()) {
    loadError_ = Format("Cannot read settings file \"%s\": %s", fileName_, std::strerror(errno));
    return;
  }
  if (content.size() > kMaxSettingsFileSize) {
    loadError_ = Format("Cannot read settings file \"%s\": it exceeds the limit of %s bytes", fileName_,
                        std::to_string(kMaxSettingsFileSize));
    return;
  }
  std::string_view rest(content);
  if (rest.substr(0, kBom.size()) == kBom) {
    bom_ = true;
    rest.remove_prefix(kBom.size());
  }
  bool firstLine = true;
  while (!rest.empty()) {
    const auto eol = rest.find_first_of("\r\n");
    std::string_view text = rest.substr(0, eol);
    std::size_t next = rest.size();
    if (eol != std::string_view::npos) {
      const bool crlf = rest[eol] == '\r' && eol + 1 < rest.size() && rest[eol + 1] == '\n';
      if (firstLine) lineEnd_ = crlf ? "\r\n" : std::string(1, rest[eol]);
      next = eol + (crlf ? 2 : 1);
    }
    firstLine = false;
    Line line;
    line.text = std::string(text);
    const auto t = TrimBlanks(text);
    if (!t.empty() && t.front() == '[') {
      const auto close = t.find(']');
      line.kind = Line::Kind::Section;
      line.name = std::string(TrimBlanks(t.substr(1, close == std::string_view::npos ? t.npos : close - 1)));
    } else if (!t.empty() && t.front() != ';') {
      const auto eq = t.find('=');
      if (eq != std::string_view::npos && eq > 0) {
        line.kind = Line::Kind::Key;
        line.name = std::string(TrimBlanks(t.substr(0, eq)));
        line.value = std::string(TrimBlanks(t.substr(eq + 1)));
      }
    }
    lines_.push_back(std::move(line));
    rest.remove_prefix(next);
  }
}

void TIniFile::CheckLoaded() const {
  if (!loadError_.empty()) throw EInOutError(loadError_);
}

std::ptrdiff_t TIniFile::FindSection(std::string_view section) const {
  const auto wanted = TrimBlanks(section);
  for (std::size_t i = 0; i < lines_.size(); ++i)
    if (lines_[i].kind == Line::Kind::Section && SameText(lines_[i].name, wanted))
      return static_cast<std::ptrdiff_t>(i);
  return -1;
}

std::size_t TIniFile::SectionEnd(std::size_t header) const {
  std::size_t i = header + 1;
  while (i < lines_.size() && lines_[i].kind != Line::Kind::Section) ++i;
  return i;
}

std::ptrdiff_t TIniFile::FindKey(std::string_view section, std::string_view key) const {
  const auto header = FindSection(section);
  if (header < 0) return -1;
  const auto wanted = TrimBlanks(key);
  const auto end = SectionEnd(static_cast<std::size_t>(header));
  for (auto i = static_cast<std::size_t>(header) + 1; i < end; ++i)
    if (lines_[i].kind == Line::Kind::Key && SameText(lines_[i].name, wanted)) return static_cast<std::ptrdiff_t>(i);
  return -1;
}

std::string TIniFile::ReadString(std::string_view section, std::string_view key, std::string_view def) const {
  CheckLoaded();
  const auto i = FindKey(section, key);
  return i < 0 ? std::string(def) : Unquote(lines_[static_cast<std::size_t>(i)].value);
}

bool TIniFile::SectionExists(std::string_view section) const {
  CheckLoaded();
  return FindSection(section) >= 0;
}

bool TIniFile::ValueExists(std::string_view section, std::string_view key) const {
  CheckLoaded();
  return FindKey(section, key) >= 0;
}

std::vector<TSettingsValue> TIniFile::ReadSectionValues(std::string_view section) const {
  CheckLoaded();
  std::vector<TSettingsValue> result;
  const auto header = FindSection(section);
  if (header < 0) return result;
  const auto end = SectionEnd(static_cast<std::size_t>(header));
  for (auto i = static_cast<std::size_t>(header) + 1; i < end; ++i)
    if (lines_[i].kind == Line::Kind::Key) result.emplace_back(lines_[i].name, Unquote(lines_[i].value));
  return result;
}

std::vector<std::string> TIniFile::ReadSections() const {
  CheckLoaded();
  std::vector<std::string> result;
  for (const auto& line : lines_) {
    if (line.kind != Line::Kind::Section) continue;
    bool seen = false;
    for (const auto& name : result) seen = seen || SameText(name, line.name);
    if (!seen) result.push_back(line.name);
  }
  return result;
}

void TIniFile::SetValue(std::string_view section, std::string_view key, std::string_view value) {
  CheckSectionName(section);
  CheckKeyName(key);
  if (HasLineBreak(value))
    throw Exception(Format("Settings value of \"%s\" contains a line break", std::string(key)));
  // Blanks at either end, or a matching pair of quotes, would be lost on reading: such a value is written quoted.
  std::string stored(value);
  if (TrimBlanks(value).size() != value.size() || Unquote(value).size() != value.size()) stored = "\"" + stored + "\"";
  value = stored;
  const auto existing = FindKey(section, key);
  if (existing >= 0) {
    auto& line = lines_[static_cast<std::size_t>(existing)];
    line.value = std::string(value);
    line.text = line.name + "=" + line.value;
    return;
  }
  Line line;
  line.kind = Line::Kind::Key;
  line.name = std::string(key);
  line.value = std::string(value);
  line.text = line.name + "=" + line.value;
  const auto header = FindSection(section);
  if (header >= 0) {
    // After the section's last key, so that comments and blank lines before the next section stay with it.
    auto pos = static_cast<std::size_t>(header) + 1;
    const auto end = SectionEnd(static_cast<std::size_t>(header));
    for (auto i = pos; i < end; ++i)
      if (lines_[i].kind == Line::Kind::Key) pos = i + 1;
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(pos), std::move(line));
    return;
  }
  if (!lines_.empty() && !TrimBlanks(lines_.back().text).empty()) lines_.push_back(Line{});
  Line head;
  head.kind = Line::Kind::Section;
  head.name = std::string(section);
  head.text = "[" + head.name + "]";
  lines_.push_back(std::move(head));
  lines_.push_back(std::move(line));
}

void TIniFile::SaveOrRestore(std::vector<Line> saved) {
  try {
    Save();
  } catch (...) {
    lines_ = std::move(saved);
    throw;
  }
}

void TIniFile::WriteString(std::string_view section, std::string_view key, std::string_view value) {
  CheckLoaded();
  auto saved = lines_;
  try {
    SetValue(section, key, value);
  } catch (...) {
    lines_ = std::move(saved);
    throw;
  }
  SaveOrRestore(std::move(saved));
}

void TIniFile::WriteSectionValues(std::string_view section, const std::vector<TSettingsValue>& values) {
  CheckLoaded();
  auto saved = lines_;
  try {
    for (const auto& [key, value] : values) SetValue(section, key, value);
  } catch (...) {
    lines_ = std::move(saved);
    throw;
  }
  SaveOrRestore(std::move(saved));
}

void TIniFile::DeleteKey(std::string_view section, std::string_view key) {
  CheckLoaded();
  const auto i = FindKey(section, key);
  if (i < 0) return;
  auto saved = lines_;
  lines_.erase(lines_.begin() + i);
  SaveOrRestore(std::move(saved));
}

void TIniFile::EraseSection(std::string_view section) {
  CheckLoaded();
  auto saved = lines_;
  bool changed = false;
  for (auto header = FindSection(section); header >= 0; header = FindSection(section)) {
    const auto end = SectionEnd(static_cast<std::size_t>(header));
    lines_.erase(lines_.begin() + header, lines_.begin() + static_cast<std::ptrdiff_t>(end));
    changed = true;
  }
  if (changed) SaveOrRestore(std::move(saved));
}

void TIniFile::Save() const {
  fs::path path(fileName_);
  std::error_code ec;
  // A settings file kept as a link elsewhere stays a link: the file it points to is replaced.
  if (fs::is_symlink(path, ec)) {
    const auto target = fs::canonical(path, ec);
    if (!ec) path = target;
  }
  ec.clear();
  if (path.has_parent_path()) fs::create_directories(path.parent_path(), ec);
  if (ec) throw EInOutError(Format("Cannot write settings file \"%s\": %s", fileName_, ec.message()));
  // The new file gets the old one's permissions; a new private file is for its owner only.
  const auto oldStatus = fs::status(path, ec);
  const bool hadFile = !ec && fs::is_regular_file(oldStatus);
  ec.clear();

  std::string content;
  if (bom_) content += kBom;
  for (const auto& line : lines_) {
    content += line.text;
    content += lineEnd_;
  }
  std::random_device rd;
  const std::string temp = path.string() + ".tmp" + std::to_string(rd());
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    if (out) out.write(content.data(), static_cast<std::streamsize>(content.size()));
    out.close();
    if (!out) {
      const int err = errno;
      fs::remove(temp, ec);
      throw EInOutError(Format("Cannot write settings file \"%s\": %s", fileName_, std::strerror(err)));
    }
  }
  if (hadFile)
    fs::permissions(temp, oldStatus.permissions(), fs::perm_options::replace, ec);
  else if (privateFile_)
    fs::permissions(temp, fs::perms::owner_read | fs::perms::owner_write, fs::perm_options::replace, ec);
  ec.clear();
  fs::rename(temp, path, ec);
  if (ec) {
    std::error_code ignored;
    fs::remove(temp, ignored);
    throw EInOutError(Format("Cannot write settings file \"%s\": %s", fileName_, ec.message()));
  }
}

// ---- the per-user store ----

std::string UserSettingsRoot() {
  std::string root;
  if (const char* own = std::getenv("VEZ_SETTINGS_HOME"); own != nullptr && *own != '\0') {
    root = own;
  } else if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && xdg[0] == '/') {
    root = xdg;
  } else {
    const char* home = std::getenv("HOME");
    root = std::string(home != nullptr ? home : "") + "/.config";
  }
  while (root.size() > 1 && root.back() == '/') root.pop_back();
  return root;
}

std::string UserSettingsFileName(std::string_view keyPath) {
  std::vector<std::string> parts;
  std::string_view rest = keyPath;
  while (!rest.empty()) {
    const auto sep = rest.find('\\');
    const auto part = rest.substr(0, sep);
    if (!part.empty()) {
      if (part == "." || part == ".." || part.find('/') != std::string_view::npos ||
          part.find('\0') != std::string_view::npos)
        throw Exception(Format("Invalid settings key path \"%s\"", std::string(keyPath)));
      parts.emplace_back(part);
    }
    if (sep == std::string_view::npos) break;
    rest.remove_prefix(sep + 1);
  }
  if (!parts.empty() && SameText(parts.front(), "Software")) parts.erase(parts.begin());
  if (parts.empty()) throw Exception(Format("Invalid settings key path \"%s\"", std::string(keyPath)));

  fs::path path(UserSettingsRoot());
  for (std::size_t i = 0; i + 1 < parts.size(); ++i) path /= MatchEntry(path, parts[i]);
  path /= MatchEntry(path, parts.back() + ".ini");
  return path.string();
}

TUserSettingsStore::TUserSettingsStore(std::string_view keyPath)
    : TIniFile(UserSettingsFileName(keyPath)), keyPath_(keyPath) {
  SetPrivate(true);
}

}  // namespace vez
