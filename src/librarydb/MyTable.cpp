// TMyTable: one library file with the one table inside it; TNewLibraryFile: a new one that appears only complete.
#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>

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

constexpr const char* kPassingSuffix = ".new";

// The passing files of a library name: "." + name + "." ... ".new".
bool IsPassingFileOf(const std::string& entry, const std::string& name) {
  const std::string prefix = "." + name + ".";
  return entry.size() > prefix.size() + 4 && entry.compare(0, prefix.size(), prefix) == 0 &&
         entry.compare(entry.size() - 4, 4, kPassingSuffix) == 0;
}

// Removes the passing files of `name` in `folder` that no live object holds (a killed program's).
void RemoveAbandonedPassingFiles(const fs::path& folder, const std::string& name) {
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string entry = it->path().filename().string();
    if (!IsPassingFileOf(entry, name)) continue;
    const int fd = ::open(it->path().c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) continue;
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
      std::error_code ignored;
      fs::remove(it->path().string() + "-journal", ignored);
      fs::remove(it->path(), ignored);
    }
    ::close(fd);
  }
}

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
  RemoveAbandonedPassingFiles(dir, name);
  static std::atomic<std::uint64_t> next{1};
  for (;;) {
    passing_ = (dir / ("." + name + "." + std::to_string(::getpid()) + "-" + std::to_string(next.fetch_add(1)) +
                       kPassingSuffix))
                   .string();
    lockFd_ = ::open(passing_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (lockFd_ >= 0) break;
    if (errno != EEXIST) {
      throw EDatabaseError(Format("Cannot create \"%s\" in \"%s\": %s", name, dir.string(), std::strerror(errno)));
    }
  }
  ::flock(lockFd_, LOCK_EX);
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
    fs::remove(passing_ + "-journal", ec);
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
