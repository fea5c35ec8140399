#include "librarydb/LibraryFile.h"

#include <atomic>
#include <filesystem>

#include "core/Exceptions.h"
#include "core/FormatSettings.h"
#include "librarydb/OVLibConst.h"

namespace vez {

TLibraryFile::TLibraryFile(const std::string& Path, bool Writable) : path_(ResolveFileName(Path)) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path_, ec)) throw EInOutError("no such file: '" + Path + "'");
  static std::atomic<int> counter{0};
  const std::string alias = "library_file_" + std::to_string(++counter);
  database_.SetDatabaseName(alias);
  database_.SetDatabaseFileName(path_);
  database_.SetReadOnly(!Writable);
  table_.SetDatabaseName(alias);
  table_.SetTableName(ExtractFileName(path_));
  table_.SetReadOnly(!Writable);
  table_.Open();
  libType_ = LibTypeOfFile(path_);
  if (libType_ < 0) libType_ = GetLibType(table_.TableNameInFile());
}

TLibraryFile::~TLibraryFile() {
  try {
    table_.Close();
    database_.Close();
  } catch (...) {
    // Nothing is pending: every post is on disk, and a transaction's guard has rolled back what it did not commit.
  }
}

bool TLibraryFile::GotoNumber(std::int64_t Nr) {
  std::string index, field;
  for (int i = 0; i < table_.FieldCount() && field.empty(); ++i)
    if (table_.Fields(i).DataType() == ftAutoInc) field = table_.Fields(i).FieldName();
  const TIndexDefs& defs = table_.IndexDefs();
  for (int i = 0; i < defs.Count(); ++i) {
    if ((defs[i].Options & ixPrimary) == 0) continue;
    const TField* key = defs[i].Fields.find(';') == std::string::npos ? table_.FindField(defs[i].Fields) : nullptr;
    if (key != nullptr && key->ValueKind() == TField::Kind::Integer && (field.empty() || SameText(field, key->FieldName()))) {
      index = defs[i].Name;
      field = key->FieldName();
    }
  }
  if (field.empty()) throw EDatabaseError("The records of \"" + ExtractFileName(path_) + "\" have no numbers");
  if (!index.empty()) {
    table_.SetIndexName(index);
    return table_.FindKey({Variant(static_cast<long long>(Nr))});
  }
  TField& number = table_.FieldByName(field);
  for (table_.First(); !table_.Eof(); table_.Next())
    if (!number.IsNull() && number.AsLargeInt() == Nr) return true;
  return false;
}

}  // namespace vez
