// TMyTable: one library file with the one table inside it; TNewLibraryFile: a new one that appears only complete.
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string_view>
#include <vector>

#include "core/FileMoves.h"
#include "core/FormatSettings.h"
#include "librarydb/OVLibConst.h"

namespace vez {
namespace {

// A number no other live object has: counted up for the life of the process.
std::string NextAliasNumber() {
  static std::atomic<std::uint64_t> next{1};
  return std::to_string(next.fetch_add(1));
}

}  // namespace

TMyTable::TMyTable(const std::string& FileName, bool ReadOnly, bool /*Unused*/)
    : database_(std::make_unique<TABSDatabase>()), table_(std::make_unique<TABSTable>()) {
  const std::string name = ExtractFileName(FileName);
  database_->SetMultiUser(false);
  database_->SetKeepConnection(false);
  database_->SetDatabaseFileName(FileName);
  database_->SetReadOnly(ReadOnly);
  database_->SetDatabaseName(name + "_" + NextAliasNumber());
  table_->SetSessionName("DEFAULT");
  table_->SetDatabaseName(database_->DatabaseName());
  table_->SetReadOnly(ReadOnly);
  table_->SetTableName(name);
}

TMyTable::TMyTable() : database_(std::make_unique<TABSDatabase>()), table_(std::make_unique<TABSTable>()) {
  database_->SetDatabaseName(NextAliasNumber());
  table_->SetSessionName("DEFAULT");
  table_->SetDatabaseName(database_->DatabaseName());
}

TMyTable::~TMyTable() {
  try {
    Close();
  } catch (...) {
    // A file that cannot be inspected (locked, not a library) is left as it is.
  }
}

void TMyTable::InitLib(const std::string& Path, const std::string& Name, bool ReadOnly, bool MultiUser) {
  database_->Close();
  database_->SetDatabaseFileName(Path + Name);
  database_->SetReadOnly(ReadOnly);
  SetMultiUser(MultiUser);
  table_->Close();
  table_->SetSessionName("DEFAULT");
  table_->SetTableName(Name);
  table_->SetReadOnly(ReadOnly);
}

void TMyTable::CreateDBTable() {
  if (!database_->GetExists()) database_->CreateDatabase();
  table_->CreateTable();
}

bool TMyTable::Exists() { return database_->GetExists() && table_->GetTableExists(); }

void TMyTable::Rename(const std::string& Path, const std::string& NewName) {
  const std::string oldName = table_->TableName();
  table_->Close();
  table_->RenameTable(NewName);
  try {
    database_->RenameDatabase(Path + NewName);
  } catch (...) {
    // The file stays where it was: give the table its old name back.
    try {
      table_->RenameTable(oldName);
    } catch (...) {
    }
    throw;
  }
}

void TMyTable::Close() {
  if (!database_) return;
  database_->Close();
  const std::string fileName = database_->DatabaseFileName();
  database_->SetDatabaseFileName("");
  database_->SetDatabaseFileName(fileName);
  if (database_->GetExists()) {
    database_->Close();
    if (database_->GetTablesList().empty()) database_->DeleteDatabase();
  }
  database_->Close();
}

bool TMyTable::ReadOnly() const { return database_->ReadOnly() || table_->ReadOnly(); }

void TMyTable::SetReadOnly(bool value) {
  database_->SetReadOnly(value);
  table_->SetReadOnly(value);
}

bool TMyTable::MultiUser() const { return database_->MultiUser(); }

void TMyTable::SetMultiUser(bool value) {
  database_->SetMultiUser(value);
  database_->SetLockWaitSeconds(5);
}

// ---- new library files ----

namespace {

namespace fs = std::filesystem;

constexpr std::string_view kPassingSuffix = ".new";
constexpr std::string_view kJournalSuffix = "-journal";  // SQLite's rollback journal beside a database

bool AllDigits(std::string_view s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The process number in a passing file's name (".NAME.PID-N.new", or its journal), 0 when the name is none.
pid_t PassingFileOwner(std::string_view entry) {
  if (entry.ends_with(kJournalSuffix)) entry.remove_suffix(kJournalSuffix.size());
  if (entry.size() < 2 || entry[0] != '.' || !entry.ends_with(kPassingSuffix)) return 0;
  entry.remove_suffix(kPassingSuffix.size());
  const std::size_t dot = entry.rfind('.');
  if (dot == 0 || dot == std::string_view::npos) return 0;  // no library name before the number
  const std::string_view number = entry.substr(dot + 1);
  const std::size_t dash = number.find('-');
  if (dash == std::string_view::npos || !AllDigits(number.substr(0, dash)) || !AllDigits(number.substr(dash + 1)))
    return 0;
  try {
    const long pid = std::stol(std::string(number.substr(0, dash)));
    return pid > 0 && pid <= std::numeric_limits<pid_t>::max() ? static_cast<pid_t>(pid) : 0;
  } catch (const std::exception&) {
    return 0;
  }
}

// Whether a process of that number runs: a killed one whose parent has not yet reaped it (a zombie, which holds
// no file and no lock any more) does not.
bool ProcessRuns(pid_t pid) {
  if (::kill(pid, 0) != 0 && errno != EPERM) return false;
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(stat, line)) return true;  // no process file system: it runs
  const std::size_t end = line.rfind(')');    // "pid (name) state ...", the name may hold anything
  return end == std::string::npos || end + 2 >= line.size() || (line[end + 2] != 'Z' && line[end + 2] != 'X');
}

}  // namespace

bool IsPassingLibraryFile(const std::string& fileName) {
  return PassingFileOwner(fs::path(fileName).filename().string()) != 0;
}

std::int32_t RemoveAbandonedLibraryFiles(const std::string& folder) {
  std::error_code ec;
  std::vector<fs::path> found;
  for (fs::directory_iterator it(folder.empty() ? fs::path(".") : fs::path(folder), ec), end; !ec && it != end;
       it.increment(ec)) {
    if (PassingFileOwner(it->path().filename().string()) != 0) found.push_back(it->path());
  }
  std::int32_t removed = 0;
  for (const fs::path& path : found) {
    const std::string name = path.filename().string();
    if (ProcessRuns(PassingFileOwner(name))) continue;  // a live run's, or one just being made
    std::error_code ignored;
    if (name.ends_with(kJournalSuffix)) {
      // A journal whose database is gone; with its database, it goes with the database below.
      const std::string database = path.string().substr(0, path.string().size() - kJournalSuffix.size());
      if (!fs::exists(database, ignored) && fs::remove(path, ignored)) ++removed;
      continue;
    }
    // The maker holds a lock on its passing file while it lives: a free lock and a process that is gone mean a
    // killed run. The lock is kept while the files go, so that no one takes the file meanwhile.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) continue;
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
      // The journal first: a journal left without its database would be rolled into a later file of that name.
      if (fs::remove(path.string() + std::string(kJournalSuffix), ignored)) ++removed;
      if (fs::remove(path, ignored)) ++removed;
    }
    ::close(fd);
  }
  return removed;
}

namespace {

// Moves `from` to `to` unless `to` exists.
void PutInPlace(const std::string& from, const std::string& to) {
  const int error = MoveWithoutReplacing(from, to);
  if (error == 0) return;
  if (error == EEXIST) {
    throw EDatabaseError(Format("Cannot create \"%s\": the file was made by another program meanwhile", to));
  }
  throw EDatabaseError(Format("Cannot create \"%s\": %s", to, std::strerror(error)));
}

}  // namespace

TNewLibraryFile::TNewLibraryFile(TMyTable& lib, const std::string& folder) : lib_(lib) {
  target_ = lib_.Database().DatabaseFileName();
  const fs::path targetPath(target_);
  const fs::path dir = !folder.empty() ? fs::path(folder)
                       : targetPath.has_parent_path() ? targetPath.parent_path()
                                                      : fs::path(".");
  const std::string name = targetPath.filename().string();
  RemoveAbandonedLibraryFiles(dir.string());
  static std::atomic<std::uint64_t> next{1};
  for (;;) {
    passing_ = (dir / ("." + name + "." + std::to_string(::getpid()) + "-" + std::to_string(next.fetch_add(1)) +
                       std::string(kPassingSuffix)))
                   .string();
    lockFd_ = ::open(passing_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (lockFd_ >= 0) break;
    if (errno != EEXIST) {
      throw EDatabaseError(Format("Cannot create \"%s\" in \"%s\": %s", name, dir.string(), std::strerror(errno)));
    }
  }
  ::flock(lockFd_, LOCK_EX);
  // A journal of this name can only be an earlier process's of the same number: it must not be rolled into
  // the new file.
  std::error_code stale;
  fs::remove(passing_ + std::string(kJournalSuffix), stale);
  lib_.Table().Close();
  lib_.Database().SetDatabaseFileName(passing_);
}

TNewLibraryFile::~TNewLibraryFile() {
  if (!published_) {
    try {
      lib_.Table().Close();
      lib_.Database().Close();
    } catch (...) {
    }
    std::error_code ec;
    fs::remove(passing_ + std::string(kJournalSuffix), ec);
    fs::remove(passing_, ec);
    lib_.Database().SetDatabaseFileName(target_);
  }
  if (lockFd_ >= 0) ::close(lockFd_);
}

void TNewLibraryFile::Publish() {
  if (published_) return;
  lib_.Table().Close();
  lib_.Database().Close();
  PutInPlace(passing_, target_);
  published_ = true;
  lib_.Database().SetDatabaseFileName(target_);
}

}  // namespace vez
