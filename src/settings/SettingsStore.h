// The settings store: a sectioned key-value store of texts, and its two kinds of file.
//
// The suite keeps its settings in two kinds of store that offer the same operations: an INI file (the "Project.tp"
// of every project, and the program's own INI file when it is started with the "INI=" switch), and the per-user
// store that stands in for the registry under HKEY_CURRENT_USER. Both hold texts only; integers, floating-point
// numbers and Booleans are read from and written as their decimal text.
//
// TIniFile follows the INI files of the platform the suite comes from:
// - section and key names are compared without regard to ASCII case; the first section of a name and the first key
//   of a name in it are the ones read and written;
// - "key=value" lines: blanks around key and value are dropped, and a value enclosed in a matching pair of double
//   or single quotes loses them on reading; lines starting with ";" are comments; lines that are neither a section,
//   a key nor a comment are kept as they stand and otherwise ignored;
// - writing changes only the line of the key (or inserts one after the last key of the section, or appends the
//   section at the end): order, comments, blank lines and unknown lines stay; the file keeps its line ends (CRLF or
//   LF; new files get LF) and a leading UTF-8 byte-order mark;
// - every write goes to disk at once, through a temporary file renamed over the old one, so a failed write leaves
//   the old file whole; the new file keeps the old one's permissions, and a symbolic link keeps pointing at it.
//   Values are bytes, written as given, except that a value with blanks at either end or enclosed in a matching
//   pair of quotes is written within double quotes, so that it reads back unchanged.
// Choices for Linux: a missing file reads as empty and is created by the first write (its folder too); a file that
// exists but cannot be read makes every read and write throw EInOutError, so that nothing is lost by writing over
// it. We read only regular files (a symbolic link is followed) of at most kMaxSettingsFileSize bytes (16 MiB): a
// pipe, a device or a larger file counts as a file that cannot be read, so a hostile settings path can neither
// hang the program nor exhaust its memory, and the settings readers fall back to their defaults. Texts that would break the line format (a line break anywhere, "=" in a key, "]" in a section name, an empty
// key or section name) are refused with vez::Exception.
//
// TUserSettingsStore is the per-user store. A registry key path such as "Software\Orvelle\Tessaphon 7.1\" is one
// INI file: the path's parts become folders under the user's configuration folder, the last part the file name
// with ".ini", and a leading "Software" part is dropped: ~/.config/Orvelle/Tessaphon 7.1.ini. The key's subkeys are
// the sections and their values the keys. The root is $VEZ_SETTINGS_HOME when set (tests point it at a temporary
// folder), else $XDG_CONFIG_HOME when it is an absolute path, else $HOME/.config. Path parts are matched against
// existing folders and files without regard to case, as registry key names are. Its files are created readable
// by their owner only, as the registry keeps a user's settings private.
//
// Nothing here is thread-safe; a store object belongs to one caller for the length of one call.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vez {

// The largest settings or project file that is read.
constexpr std::uintmax_t kMaxSettingsFileSize = 16u * 1024u * 1024u;

// One key and its value, as read from a section.
using TSettingsValue = std::pair<std::string, std::string>;

// The operations every settings store offers. Reads answer the default when the key is absent; a typed read
// answers the default also when the stored text does not convert. Failures of the file throw EInOutError.
class TSettingsStore {
public:
  virtual ~TSettingsStore() = default;
  TSettingsStore(const TSettingsStore&) = delete;
  TSettingsStore& operator=(const TSettingsStore&) = delete;

  virtual std::string ReadString(std::string_view section, std::string_view key, std::string_view def) const = 0;
  virtual void WriteString(std::string_view section, std::string_view key, std::string_view value) = 0;
  virtual bool SectionExists(std::string_view section) const = 0;
  virtual bool ValueExists(std::string_view section, std::string_view key) const = 0;
  // The keys and values of a section in stored order; empty when the section does not exist.
  virtual std::vector<TSettingsValue> ReadSectionValues(std::string_view section) const = 0;
  // The section names in stored order, each once.
  virtual std::vector<std::string> ReadSections() const = 0;
  // Where the store keeps its data (the file name).
  virtual std::string FileName() const = 0;

  // Decimal, "$" or "0x" hexadecimal; the default when absent or not a 32-bit integer.
  virtual std::int32_t ReadInteger(std::string_view section, std::string_view key, std::int32_t def) const;
  // The text read with the process decimal separator; the default when absent, empty or not a number.
  virtual double ReadFloat(std::string_view section, std::string_view key, double def) const;
  // An integer other than 0 is true; the default when absent or not an integer.
  virtual bool ReadBool(std::string_view section, std::string_view key, bool def) const;
  void WriteInteger(std::string_view section, std::string_view key, std::int32_t value);
  // Written with the process decimal separator, 15 significant digits.
  void WriteFloat(std::string_view section, std::string_view key, double value);
  // Written as "1" or "0".
  void WriteBool(std::string_view section, std::string_view key, bool value);

protected:
  TSettingsStore() = default;
};

// An INI file with the semantics described above. The file is read when the object is made.
class TIniFile : public TSettingsStore {
public:
  explicit TIniFile(std::string fileName);
  ~TIniFile() override;

  std::string ReadString(std::string_view section, std::string_view key, std::string_view def) const override;
  void WriteString(std::string_view section, std::string_view key, std::string_view value) override;
  bool SectionExists(std::string_view section) const override;
  bool ValueExists(std::string_view section, std::string_view key) const override;
  std::vector<TSettingsValue> ReadSectionValues(std::string_view section) const override;
  std::vector<std::string> ReadSections() const override;
  std::string FileName() const override { return fileName_; }

  // Writes several keys of one section with one save of the file; all or none of them are stored.
  void WriteSectionValues(std::string_view section, const std::vector<TSettingsValue>& values);
  // Removes the key's line; nothing happens when it is absent.
  void DeleteKey(std::string_view section, std::string_view key);
  // Removes every section of that name with its lines.
  void EraseSection(std::string_view section);
  // A private file that does not exist yet is created readable and writable by its owner only; an existing file
  // keeps its permissions either way.
  void SetPrivate(bool isPrivate) { privateFile_ = isPrivate; }

private:
  struct Line {
    enum class Kind : std::uint8_t { Other, Section, Key };
    std::string text;  // the line as read or written, without its line end
    Kind kind = Kind::Other;
    std::string name;   // section or key name, trimmed
    std::string value;  // key value, trimmed, as stored (quotes kept)
  };

  void Load();
  void Save() const;
  // Sets one value in memory (checked first); the caller saves.
  void SetValue(std::string_view section, std::string_view key, std::string_view value);
  // Saves, or restores `saved` and rethrows when saving fails.
  void SaveOrRestore(std::vector<Line> saved);
  void CheckLoaded() const;
  // Index of the first section line of that name, or -1.
  std::ptrdiff_t FindSection(std::string_view section) const;
  // Index past the last line of the section that starts at `header`.
  std::size_t SectionEnd(std::size_t header) const;
  std::ptrdiff_t FindKey(std::string_view section, std::string_view key) const;

  std::string fileName_;
  std::vector<Line> lines_;
  std::string lineEnd_ = "\n";
  bool bom_ = false;
  bool privateFile_ = false;
  std::string loadError_;  // not empty when the file exists but could not be read
};

// The per-user store of a registry key path under HKEY_CURRENT_USER.
class TUserSettingsStore : public TIniFile {
public:
  explicit TUserSettingsStore(std::string_view keyPath);
  const std::string& KeyPath() const { return keyPath_; }

private:
  std::string keyPath_;
};

// The root folder of the per-user stores (see above), without a trailing "/".
std::string UserSettingsRoot();
// The file that holds the store of a registry key path ("Software\A\B\" -> root + "/A/B.ini"). An empty path or
// one that names no part throws vez::Exception "Invalid settings key path ""<path>""".
std::string UserSettingsFileName(std::string_view keyPath);

}  // namespace vez
