// A new library file of a type, with its layout and optionally one record of its defaults.
#include <filesystem>
#include <string>

#include "core/Exceptions.h"
#include "core/FormatSettings.h"
#include "librarydb/Absmain.h"
#include "librarydb/Defaults.h"
#include "librarydb/Layouts.h"
#include "librarydb/LibraryFile.h"
#include "librarydb/OVLibConst.h"

namespace vez {
namespace fs = std::filesystem;

namespace {

// Required fields the defaults leave without value: text gets the element name, numbers 0, Booleans False;
// other kinds (dates, bytes) stay empty, and Post then names the field.
void FillRequiredFields(TABSTable& table, const std::string& elementName) {
  for (int i = 0; i < table.FieldCount(); ++i) {
    TField& f = table.Fields(i);
    if (!f.Required() || !f.IsNull()) continue;
    switch (f.DataType()) {
      case ftString:
      case ftFixedChar:
      case ftWideString:
      case ftMemo:
      case ftFmtMemo: f.SetAsString(elementName); break;
      case ftBoolean: f.SetAsBoolean(false); break;
      case ftSmallint:
      case ftInteger:
      case ftWord:
      case ftLargeint:
      case ftFloat:
      case ftCurrency:
      case ftBCD: f.SetAsInteger(0); break;
      default: break;
    }
  }
}

}  // namespace

std::optional<std::int32_t> ParseLibType(std::string_view text) {
  std::int32_t code = 0;
  const std::string trimmed = Trim(text);
  if (TryStrToInt(trimmed, code) && trimmed.find('$') == std::string::npos) {
    if (LibTypeConstantName(code) != nullptr) return code;
    return std::nullopt;
  }
  for (std::int32_t c = 0; c < kLibTypeCount; ++c) {
    const char* name = LibTypeConstantName(c);
    if (name != nullptr && SameText(name, trimmed)) return c;
  }
  return std::nullopt;
}

std::int32_t LibTypeOfWord(std::string_view text) {
  if (const std::optional<std::int32_t> code = ParseLibType(text)) return *code;
  throw EParameterError("unknown library type '" + std::string(text) + "' (give a code 0 to " +
                        std::to_string(kLibTypeCount - 1) + " or a constant name such as ltEmis)");
}

std::string CreateLibraryFile(std::int32_t LibType, const std::string& Folder, bool WithDefaults,
                              const std::string& ElementName, const std::string& FileName) {
  const char* constant = LibTypeConstantName(LibType);
  if (constant == nullptr) throw Exception("unknown library type " + std::to_string(LibType));
  if (!LibraryLayout(LibType)) {
    throw Exception("library type " + std::to_string(LibType) + " " + constant +
                    " has no table layout of its own; its tables are made by the programs that write them");
  }
  std::error_code ec;
  if (!fs::is_directory(Folder, ec)) throw EInOutError("folder does not exist: '" + Folder + "'");
  const std::string name = FileName.empty() ? LibName(LibType) : FileName;
  if (name.find('/') != std::string::npos || name == "." || name == "..")
    throw Exception("The library's file name must name no folder, not '" + name + "'");
  if (const std::int32_t byName = GetLibType(name); byName >= 0 && byName != LibType) {
    throw Exception("'" + name + "' is the name of library type " + std::to_string(byName) + " " +
                    LibTypeConstantName(byName) + ", not of " + std::to_string(LibType) + " " + constant);
  }
  const std::string path = (fs::path(Folder) / name).string();
  if (fs::exists(ResolveFileName(path), ec)) throw Exception("'" + path + "' already exists; it is left as it is");
  TMyTable lib(path, false);
  // The file appears complete or not at all.
  TNewLibraryFile file(lib);
  SetFieldIndexDefs(lib.Table(), LibType, true);
  lib.CreateDBTable();
  if (WithDefaults) {
    TABSTable& table = lib.Table();
    table.Open();
    table.Append();
    OnNewRecord(table, LibType, false);
    FillRequiredFields(table, ElementName);
    table.Post();
    table.Close();
  }
  if (GetLibType(name) < 0) RecordLibType(file.PassingFileName(), LibType);  // the name does not tell it
  file.Publish();
  return path;
}

}  // namespace vez
