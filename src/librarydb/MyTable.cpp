// TMyTable: one library file with the one table inside it.
#include <atomic>

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

}  // namespace vez
