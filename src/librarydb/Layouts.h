// Table layouts of the library types: fields, indexes, and the routines that give them to a library table.
//
// Every library type with a layout belongs to one of two families. A classic layout is handed to the dataset
// layer's field definitions (TFieldType), an advanced layout to the engine's advanced field definitions (engine
// type codes with a compression setting). Both are described here by one neutral column kind; the family
// decides how a kind reaches the engine.
//
// SetFieldIndexDefs gives a table that is not yet created (or not yet opened) the fields and indexes of its
// type; SetIndexDefs gives the indexes alone to the result, run, geo-database import and address tables whose
// fields are defined by the program that writes them. Both answer False for a type they do not handle and
// leave the table untouched; with RaiseIfUndefined they throw vez::Exception with a fixed message instead.
//
// LibraryLayout and LibraryIndexLayout expose the same descriptions as plain values, for tools that print or
// compare layouts without a table at hand.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vez {

class TABSTable;

enum class LayoutFamily : std::uint8_t { Classic, Advanced };

// The column kinds of both families. UInt16 exists only in advanced layouts.
enum class ColumnKind : std::uint8_t {
  Text,      // at most Size characters; classic ftString, engine code 2
  Int16,     // classic ftSmallint, engine code 6
  Int32,     // classic ftInteger, engine code 7
  UInt16,    // engine code 10
  AutoInc,   // classic ftAutoInc, engine code 12
  Double,    // classic ftFloat, engine code 21
  Boolean,   // classic ftBoolean, engine code 23
  DateTime,  // classic ftDateTime, engine code 27
  Blob,      // Size, where not 0, is handed to the engine; classic ftBlob, engine code 31
  Graphic,   // classic ftGraphic, engine code 32
  Memo,      // classic ftMemo, engine code 33
};

// The engine type code of a kind in an advanced layout.
std::int32_t EngineTypeCode(ColumnKind kind);
// The label of a kind as the layout tables write it: "ftString" ... for classic, "text" ... for advanced.
const char* ColumnKindLabel(ColumnKind kind, LayoutFamily family);

// Index option bits: primary (bit 0), unique (bit 1), case-insensitive (bit 3).
enum IndexOptionBits : std::uint8_t {
  kIndexPrimary = 1u << 0,
  kIndexUnique = 1u << 1,
  kIndexCaseInsensitive = 1u << 3,
};

struct FieldLayout {
  std::string Name;
  ColumnKind Kind = ColumnKind::Double;
  std::int32_t Size = 0;  // 0 where the layout gives none
  bool Required = false;
  std::int32_t CompressionAlgorithm = 0;  // advanced layouts only; 0/0 means none
  std::int32_t CompressionLevel = 0;
};

struct IndexLayout {
  std::string Name;
  std::string Fields;  // ";"-separated
  std::uint8_t Options = 0;
};

struct TableLayout {
  LayoutFamily Family = LayoutFamily::Classic;
  std::vector<FieldLayout> Fields;
  std::vector<IndexLayout> Indexes;
};

// The field layout of a library type, or nothing for a type without one (18, 19, 41 to 89, 93 to 95, and
// codes outside 0 to 103).
std::optional<TableLayout> LibraryLayout(std::int32_t libType);

// The indexes SetIndexDefs gives a library type, or nothing for a type it does not handle. `hasStoffNr` tells
// whether the table defines a field "StoffNr" (it changes the primary index of the RS24 results).
std::optional<std::vector<IndexLayout>> LibraryIndexLayout(std::int32_t libType, bool hasStoffNr = false);

// Clears the table's field definitions of the layout's family and its index definitions, then adds those of
// LibType. False (and nothing changed) for a type without layout; raises "SetFieldIndexDefs not defined for
// LibType" instead when RaiseIfUndefined.
bool SetFieldIndexDefs(TABSTable& Table, std::int32_t LibType, bool RaiseIfUndefined);

// Clears the index definitions and adds those of LibType. False (and nothing changed) for a type without index
// definitions; raises "SetIndexDefs not defined for LibType" instead when RaiseIfUndefined. Whether a field
// "StoffNr" exists is asked of the table's classic and advanced field definitions, so define the fields first.
bool SetIndexDefs(TABSTable& Table, std::int32_t LibType, bool RaiseIfUndefined);

// A library type given as its decimal code or as its constant name ("ltEmis", any case, blanks around
// ignored); nullopt for anything else, codes without a type included.
std::optional<std::int32_t> ParseLibType(std::string_view text);
// The same, for a type a user gives: EParameterError "unknown library type '...' (give a code 0 to 103 or a
// constant name such as ltEmis)" for anything else. Every front end reads a user's type through it, so that
// they refuse a wrong one with the same message.
std::int32_t LibTypeOfWord(std::string_view text);

// Creates the library file of LibType in Folder, under the type's file name (or FileName, a name of the user's,
// in which case the file records its type: LibTypeOfFile in LibraryFile.h), with the type's layout, and
// returns its path. A FileName whose name is that of another type is refused. With WithDefaults one record is appended holding the new-record defaults; required fields
// they leave without value get ElementName (text), 0 (numbers) or False. An existing file is never replaced,
// and a file that could not be made completely is removed again. Raises Exception for a type without layout or
// an existing file, EInOutError for a folder that does not exist.
std::string CreateLibraryFile(std::int32_t LibType, const std::string& Folder, bool WithDefaults,
                              const std::string& ElementName = "New", const std::string& FileName = "");

}  // namespace vez
