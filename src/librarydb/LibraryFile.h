// One library file opened as the front ends open it: its database and its one table, used directly rather than
// through TMyTable, whose closing deletes a file without tables (opening or reading must never remove a file).
// The file is found whatever the letter case of the name; a library copied to another file name opens its one
// table; the library type is the file name's, else the type the file records of itself, else the table's
// (LibTypeOfFile).
#pragma once

#include <cstdint>
#include <string>

#include "librarydb/Absmain.h"

namespace vez {

class TLibraryFile {
public:
  // Opens the table (read-only unless Writable). A missing file throws EInOutError "no such file: '<path>'".
  TLibraryFile(const std::string& Path, bool Writable);
  ~TLibraryFile();
  TLibraryFile(const TLibraryFile&) = delete;
  TLibraryFile& operator=(const TLibraryFile&) = delete;

  const std::string& Path() const { return path_; }
  std::int32_t LibType() const { return libType_; }
  TABSDatabase& Database() { return database_; }
  TABSTable& Table() { return table_; }

  // Moves to the record numbered Nr: the value of the table's auto-increment field ("Eintrag" of the element
  // libraries), else of its primary key when that is one whole-number field. False when no record has it;
  // EDatabaseError when the table has no such numbers.
  bool GotoNumber(std::int64_t Nr);

private:
  std::string path_;
  std::int32_t libType_ = -1;
  TABSDatabase database_;
  TABSTable table_;
};

// The type of a library made under a name of its user's is recorded in its own file: the bookkeeping table
// "vez$library" holds the rows ('type', code) and ('type_name', constant name), see docs/LIBRARY_FORMAT.md.
// The recorded type of the file (-1: none recorded); EDatabaseError when the file cannot be opened.
std::int32_t RecordedLibType(const std::string& Path);
// Records the type in a file that no other connection is writing.
void RecordLibType(const std::string& Path, std::int32_t LibType);
// The type of a library file: its name's and its recorded type, which must agree when both are there (else
// Exception naming both: a file is never taken for a type it may not be); else the type of the name of the
// table inside (a copy under a name of the user's); -1 when nothing tells. A missing file: its name's type.
std::int32_t LibTypeOfFile(const std::string& Path);

}  // namespace vez
