// Text renderings of a Paradox table for people and for comparison with reference dumps.
//
// DumpParadoxTable walks the table record by record (step loading: one block in memory, nothing stored) and
// writes it as
// - Csv: a header line of field names, then one line per record; fields separated by ",", quoted with '"' (a
//   quote doubled) when they hold ",", '"', CR or LF; Null and "no cell" as an empty field; numbers in their
//   shortest exact form with "."; Booleans "true"/"false"; dates "yyyy-mm-dd", times "hh:nn:ss.zzz" and
//   date-times "yyyy-mm-ddThh:nn:ss.zzz"; BLOB-type values (BLOB, formatted memo, OLE, graphic) as
//   "LENGTH:SHA256". Lines end with "\n".
// - Json: one object {"file":..., "fields":[{"name","type","size"}...], "records":[{name: value, ...}...]};
//   Null as null, numbers as numbers (non-finite ones as null), text as strings (bytes that are not UTF-8,
//   as with raw text, escaped as \u00XX of their Latin-1 reading), BLOB-type values as {"length","sha256"}.
// - Cells: the reference cell format: the header lines, one "F" line per field, one "C" line per record walked
//   and "end N". A date reported as text is written "date-text:" + the text, with a "+" before years of more than
//   four digits.
// rawText keeps Char and MEMO text in the table's bytes instead of UTF-8. Memory stays bounded whatever the
// table's size: one record's cells at a time.
//
// DescribeParadoxTable: the header (file type text, table level, record count, block size, code page), the
// fields (number, name, type text, size) and the sort order, one item per line. It walks the block chain
// (without decoding the records) to count them: when the blocks hold fewer records than the header promises,
// the record line gives both counts.
//
// Both take the reader's options (password, code page, raw text) and fill a ParadoxReadResult when given one:
// the promised and the walked record counts and the reader's warnings.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

#include "core/Variant.h"

namespace vez {

enum class ParadoxDumpFormat { Csv, Json, Cells };

struct ParadoxReadOptions {
  bool RawText = false;
  std::string Password;  // for encrypted tables
  int CodePage = 0;      // source code page of the text; 0: the table's own
};

struct ParadoxReadResult {
  std::int32_t RecordsPromised = 0;  // the header's record count
  std::int32_t RecordsRead = 0;      // records the block chain held
  bool RecordsMissing = false;       // the chain ended before the promised count
  std::vector<std::string> Warnings;  // the first warnings of the reader
  std::int64_t WarningCount = 0;      // all of them
};

// What a file is, by its first bytes (and, for a ".mb", by its extension): a Paradox table (whatever its
// extension: ".db", ".run", ".sdb", ".tdb"), a Paradox index or other companion with a Paradox header, the memo
// and BLOB companion (".mb"), or anything else (an SQLite library among them). FileType receives the header's
// file type byte of a table or index. A file that cannot be read is Other.
enum class TParadoxFileKind { Other, Table, Index, Blob };
TParadoxFileKind IdentifyParadoxFile(const std::string& fileName, std::uint8_t* fileType = nullptr);

// Throws vez::Exception unless the file is a Paradox table, saying what it is instead: "'<file>' is not a
// Paradox table", "... is a Paradox index file (<type>), not a table; give its table (.db) instead", "... is the
// memo and BLOB companion (.mb) of a Paradox table, not a table; give its table (.db) instead".
void RequireParadoxTable(const std::string& fileName);

// Throws vez::Exception for an unreadable table.
void DumpParadoxTable(const std::string& fileName, ParadoxDumpFormat format, std::ostream& out,
                      const ParadoxReadOptions& options, ParadoxReadResult* result = nullptr);
void DumpParadoxTable(const std::string& fileName, ParadoxDumpFormat format, std::ostream& out, bool rawText = false);
std::string DescribeParadoxTable(const std::string& fileName, const ParadoxReadOptions& options = {},
                                 ParadoxReadResult* result = nullptr);

// "csv", "json" or "cells" (case ignored); false for anything else.
bool ParseParadoxDumpFormat(std::string_view name, ParadoxDumpFormat& format);

// One cell of the reference cell format for a value reported in a field of the given type.
std::string ParadoxCellToken(const Variant& value, std::int32_t fieldType);
// Bytes in the reference quoting: '"' ... '"', 0x20-0x7E literal except '"' and '\', '\' as "\\", others \xhh.
std::string QuoteParadoxBytes(std::string_view bytes);

}  // namespace vez
