// A library file as the web handlers use it: opened through the engine's database and table objects (not
// TMyTable, whose closing deletes a file without a table: looking at a file must never remove it), its
// records written as JSON with the values of `vezi dump --format json`, and the version of a record, which a
// save compares to refuse overwriting a record that changed since the page showed it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "librarydb/Absmain.h"
#include "librarydb/RecordRules.h"
#include "output/ValueText.h"
#include "web/internal/Http.h"

namespace vez::web {

class TOpenLibrary {
public:
  // Binds the table named like the file and reads its definitions; 422 when the file holds no such table.
  TOpenLibrary(const std::filesystem::path& file, bool writable);
  // Opens the table in the order of an index ("" insertion order); 400 for an index the table lacks.
  void Open(const std::string& index = std::string());
  ~TOpenLibrary();
  TOpenLibrary(const TOpenLibrary&) = delete;
  TOpenLibrary& operator=(const TOpenLibrary&) = delete;

  TABSTable& Table() { return table_; }
  TABSDatabase& Database() { return database_; }
  std::int32_t LibType() const { return libType_; }  // -1 for a name without a library type
  // The index "EN" of the element names, "" when the table has none.
  std::string NameIndex() const;
  // The primary index, "" when there is none.
  std::string PrimaryIndex() const;

private:
  TABSDatabase database_;
  TABSTable table_;
  std::int32_t libType_ = -1;
};

// The JSON of the current record of a table, written straight into a text (the field names quoted once):
// {"key": bookmark, "version": ..., "values": {field: value, ...}}, values as `vezi dump --format json`.
class TRecordJson {
public:
  explicit TRecordJson(TDataSet& table);
  void Append(std::string& out);
  // A short text that changes whenever a value of the current record changes.
  std::string Version();

private:
  std::uint64_t WriteValues();
  TDataSet& table_;
  std::vector<std::string> names_;  // the quoted field names with their colon, from the second on after a comma
  std::vector<ValueStyle> styles_;
  std::string values_;
};

// TRecordJson(table).Version().
std::string RecordVersion(TDataSet& table);
// {"key": bookmark, "version": ..., "values": {field: value, ...}} of the current record.
void WriteRecord(JsonWriter& json, TDataSet& table);
// Sets a field of the record being written from a JSON value: null stores no value, a text is read as a person
// typed it (so no text goes into a binary field), true/false and numbers go to the record rules as they are (their refusals: 422); arrays and objects
// are 400.
void StoreJson(TRecordWriter& writer, int field, const Json& value);

}  // namespace vez::web
