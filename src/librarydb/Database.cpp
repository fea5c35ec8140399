// The database object: a library file by name (letter case ignored), its alias among the live database objects,
// its connection (opened when the first table or call needs it, closed when the last lets go), and the file's
// creation, deletion, renaming and table list. Transactions are in Transactions.cpp.
#include <algorithm>
#include <filesystem>
#include <mutex>
#include <system_error>

#include "core/CaseFold.h"
#include "core/FormatSettings.h"
#include "librarydb/Absmain.h"
#include "librarydb/internal/Catalog.h"
#include "librarydb/internal/Sqlite.h"

namespace vez {

using detail::Connection;

namespace {


// Every live database object, for tables to find theirs by session and alias. Guarded so that threads may
// each create and destroy their own database objects.
struct LiveDatabaseList {
  std::mutex mutex;
  std::vector<TABSDatabase*> databases;
};

LiveDatabaseList& LiveDatabases() {
  static LiveDatabaseList list;
  return list;
}

}  // namespace

std::string ResolveFileName(const std::string& fileName) {
  namespace fs = std::filesystem;
  std::error_code ec;
  if (fileName.empty() || fs::exists(fileName, ec)) return fileName;
  const fs::path path(fileName);
  const std::string name = path.filename().string();
  const fs::path folder = path.has_parent_path() ? path.parent_path() : fs::path(".");
  std::vector<std::string> matches;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string candidate = it->path().filename().string();
    if (SameTextFolded(candidate, name)) matches.push_back(candidate);
  }
  if (matches.empty()) return fileName;
  std::sort(matches.begin(), matches.end());
  if (matches.size() > 1) {
    throw EDatabaseError(Format("\"%s\" and \"%s\" differ only in letter case: rename one of them",
                                (path.parent_path() / matches[0]).string(), (path.parent_path() / matches[1]).string()));
  }
  return (path.parent_path() / matches[0]).string();
}

// ---- database ----

TABSDatabase::TABSDatabase() {
  LiveDatabaseList& live = LiveDatabases();
  const std::lock_guard<std::mutex> lock(live.mutex);
  live.databases.push_back(this);
}

TABSDatabase::~TABSDatabase() {
  Close();
  LiveDatabaseList& live = LiveDatabases();
  const std::lock_guard<std::mutex> lock(live.mutex);
  live.databases.erase(std::remove(live.databases.begin(), live.databases.end(), this), live.databases.end());
}

TABSDatabase* TABSDatabase::FindDatabase(std::string_view session, std::string_view alias) {
  if (alias.empty()) return nullptr;
  LiveDatabaseList& live = LiveDatabases();
  const std::lock_guard<std::mutex> lock(live.mutex);
  for (TABSDatabase* db : live.databases) {
    if (SameText(db->alias_, alias) && SameText(db->session_, session)) return db;
  }
  return nullptr;
}

void TABSDatabase::SetDatabaseFileName(std::string fileName) {
  if (fileName == fileName_) return;
  Close();
  fileName_ = std::move(fileName);
}

// Binds the database to a new session and alias; another live database of that pair is an error.
void TABSDatabase::Rebind(std::string session, std::string alias) {
  TABSDatabase* other = FindDatabase(session, alias);
  if (other != nullptr && other != this) {
    throw EDatabaseError(Format("The database alias '%s' is in use by another database", alias));
  }
  Close();
  session_ = std::move(session);
  alias_ = std::move(alias);
}

void TABSDatabase::SetDatabaseName(std::string alias) {
  if (alias != alias_) Rebind(session_, std::move(alias));
}

void TABSDatabase::SetSessionName(std::string session) {
  if (session != session_) Rebind(std::move(session), alias_);
}

void TABSDatabase::SetReadOnly(bool readOnly) {
  if (readOnly == readOnly_) return;
  Close();
  readOnly_ = readOnly;
}

void TABSDatabase::SetKeepConnection(bool keep) {
  keepConnection_ = keep;
  if (!keep && connection_ && users_ == 0) connection_.reset();
}

void TABSDatabase::SetLockWaitSeconds(std::int32_t seconds) {
  lockWaitSeconds_ = std::max<std::int32_t>(0, seconds);
  if (connection_) connection_->SetLockWait(lockWaitSeconds_);
}

Connection& TABSDatabase::Acquire() {
  if (!connection_) {
    connection_ = std::make_unique<Connection>(ResolveFileName(fileName_), readOnly_, lockWaitSeconds_, false);
  }
  ++users_;
  return *connection_;
}

void TABSDatabase::Release() {
  if (users_ > 0) --users_;
  if (users_ == 0 && !keepConnection_ && connection_ && !connection_->InTransaction()) connection_.reset();
}

void TABSDatabase::AttachTable(TABSTable* table) { openTables_.push_back(table); }

void TABSDatabase::DetachTable(TABSTable* table) {
  openTables_.erase(std::remove(openTables_.begin(), openTables_.end(), table), openTables_.end());
}

void TABSDatabase::Open() {
  if (explicitOpen_) return;
  Acquire();
  explicitOpen_ = true;
}

void TABSDatabase::Close() {
  const std::vector<TABSTable*> tables = openTables_;
  for (TABSTable* table : tables) table->Close();
  openTables_.clear();
  connection_.reset();  // an unfinished transaction is rolled back
  users_ = 0;
  explicitOpen_ = false;
}

bool TABSDatabase::Connected() const { return connection_ != nullptr; }

bool TABSDatabase::GetExists() const {
  std::error_code ec;
  return !fileName_.empty() && std::filesystem::is_regular_file(ResolveFileName(fileName_), ec);
}

void TABSDatabase::CreateDatabase() {
  if (readOnly_) throw EDatabaseError(Format("Cannot create \"%s\": the database is read-only", fileName_));
  const std::string existing = ResolveFileName(fileName_);
  if (existing != fileName_) throw EDatabaseError(Format("Cannot create \"%s\": \"%s\" exists already", fileName_, existing));
  Connection created(fileName_, false, lockWaitSeconds_, true);
}

void TABSDatabase::DeleteDatabase() {
  Close();
  std::error_code ec;
  const std::string file = ResolveFileName(fileName_);
  if (!std::filesystem::remove(file, ec) || ec) {
    throw EDatabaseError(Format("Cannot delete \"%s\": %s", fileName_,
                                ec ? ec.message() : std::string("the file does not exist")));
  }
  std::filesystem::remove(file + "-journal", ec);
}

void TABSDatabase::RenameDatabase(const std::string& newFileName) {
  Close();
  namespace fs = std::filesystem;
  std::error_code ec;
  if (!GetExists()) throw EDatabaseError(Format("Cannot rename \"%s\": the file does not exist", fileName_));
  const std::string source = ResolveFileName(fileName_);
  const std::string target = ResolveFileName(newFileName);
  // A new name that differs only in letter case names the file itself: that rename goes ahead.
  if (fs::exists(target, ec) && !fs::equivalent(source, target, ec)) {
    throw EDatabaseError(Format("Cannot rename \"%s\" to \"%s\": the target exists", fileName_, newFileName));
  }
  if (source == newFileName) {
    fileName_ = newFileName;
    return;
  }
  fs::rename(source, newFileName, ec);
  if (ec) {
    // Another file system: copy, then remove the original.
    std::error_code copyError;
    fs::copy_file(source, newFileName, copyError);
    if (copyError) {
      throw EDatabaseError(
          Format("Cannot rename \"%s\" to \"%s\": %s", fileName_, newFileName, copyError.message()));
    }
    fs::remove(source, copyError);
  }
  fileName_ = newFileName;
}

void TABSDatabase::GetTablesList(StringList& list) {
  list.Clear();
  for (std::string& name : GetTablesList()) list.Add(std::move(name));
}

std::vector<std::string> TABSDatabase::GetTablesList() {
  // Listing needs no write access: without an open connection the file is opened for reading only.
  std::unique_ptr<Connection> reader;
  if (!connection_) reader = std::make_unique<Connection>(ResolveFileName(fileName_), true, lockWaitSeconds_, false);
  return detail::UserTables(reader ? *reader : *connection_);
}

}  // namespace vez
