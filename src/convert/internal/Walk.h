// What the conversion of one table and the walk of a run share: the log's texts, the folder listing, the passes,
// the deletion of a table's files and the folder lock.
#pragma once

#include <string>
#include <vector>

namespace vez::detail {

inline constexpr const char* kConvertingLine = "Converting: \"%s\"";
inline constexpr const char* kFolderLine = "Converting Folder \"%s\"";
inline constexpr const char* kDeletingLine = "Deleting \"%s\"";
inline constexpr const char* kKeepingLine = "Keeping \"%s\": %s";
inline constexpr const char* kInterruptedRunLine =
    "Interrupted: the conversion stopped before its end (tables not reached: %d)";
inline constexpr const char* kNothingDeletedLine = "Nothing deleted: the conversion was interrupted";

inline std::string ErrorLine(const std::string& message) { return "Error: \"" + message + "\""; }

// A log line that reports an error (counted for the caller's summary). A table whose name has no library type
// is not an error: it is simply no library and stays as it is.
inline bool IsErrorLine(const std::string& line) { return line.rfind("Error:", 0) == 0; }

struct DirEntry {
  std::string Name;
  bool IsDirectory = false;
  bool IsLink = false;
};

// The entries of a folder in name order (case-insensitive, then by bytes).
std::vector<DirEntry> ListFolder(const std::string& folder);

struct Pass {
  const char* Mask;
  const char* NewExtension;
  bool SkipListed;
};
inline constexpr Pass kPasses[] = {
    {"*.run", ".runx", false},
    {"*.sdb", ".sdbx", false},
    {"*.db", ".abs", true},
    {"*.tdb", ".tabs", false},
};

inline constexpr const char* kNeverConverted[] = {"TmpRun.db", "Attrib.db", "Thumbs.db", "AtWall.db", "AtCalc.db"};

// Deletes a Paradox table and its companions, each found in any letter case ("EMIS.DB" with "EMIS.MB",
// "emis.Px"); a missing file is skipped. Gives the files deleted.
std::vector<std::string> DeleteTableFiles(const std::string& path);

// An exclusive lock on a folder's conversion (flock), held while the object lives. Another run waits for it.
class FolderLock {
public:
  explicit FolderLock(const std::string& folder);
  ~FolderLock();
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;

private:
  int fd_ = -1;
};

}  // namespace vez::detail
