#include "import/paradox/ParadoxDump.h"

#include <cmath>
#include <cstdio>
#include <fstream>
#include <optional>
#include <string_view>
#include <ostream>
#include <vector>

#include "core/Exceptions.h"
#include "core/FormatSettings.h"
#include "import/SMParadox.h"
#include "import/paradox/DateText.h"
#include "import/paradox/Sha256.h"
#include "output/JsonWriter.h"
#include "output/ValueText.h"

namespace vez {

namespace {

bool IsBlobType(std::int32_t type) { return type >= 13 && type <= 16; }
bool IsDateType(std::int32_t type) { return type == 2 || type == 20 || type == 21; }

std::string G17(double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.17g", v);
  return buf;
}

std::string DateTextToken(const std::string& text) {
  std::size_t digits = 0;
  while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9') ++digits;
  return "date-text:" + (digits > 4 ? "+" + text : text);
}

// The text of a value for csv: dates by field type, BLOBs as length and hash.
std::string PlainValue(const Variant& v, std::int32_t type) {
  switch (v.Type()) {
    case VarType::Empty:
    case VarType::Null: return "";
    case VarType::Boolean: return v.RawBool() ? "true" : "false";
    case VarType::Integer: return std::to_string(v.RawInteger());
    case VarType::Double: return NumberText(v.RawDouble());
    case VarType::DateTime: {
      const std::string iso = detail::IsoMillis(v.RawDateTime());
      if (type == 2) return iso.substr(0, iso.find('T'));
      if (type == 20) return iso.substr(iso.find('T') + 1);
      return iso;
    }
    case VarType::String:
      if (IsBlobType(type)) return std::to_string(v.RawString().size()) + ":" + detail::Sha256Hex(v.RawString());
      return v.RawString();
  }
  return "";
}

std::string JsonValue(const Variant& v, std::int32_t type) {
  switch (v.Type()) {
    case VarType::Empty:
    case VarType::Null: return "null";
    case VarType::Boolean: return v.RawBool() ? "true" : "false";
    case VarType::Integer: return std::to_string(v.RawInteger());
    case VarType::Double: {
      const double d = v.RawDouble();
      return std::isfinite(d) ? NumberText(d) : "null";
    }
    case VarType::DateTime: return JsonString(PlainValue(v, type));
    case VarType::String:
      if (IsBlobType(type))
        return "{\"length\":" + std::to_string(v.RawString().size()) + ",\"sha256\":\"" +
               detail::Sha256Hex(v.RawString()) + "\"}";
      return JsonString(v.RawString());
  }
  return "null";
}

// Walks the table with step loading and hands each record's reported cells to `row`.
template <typename RowFn>
void WalkTable(TDBParadox& reader, const std::string& fileName, RowFn&& row) {
  std::vector<std::optional<Variant>> cells;
  reader.OnCellValue = [&cells](TCustomSpreadSheetFile&, std::int32_t, std::int32_t, std::int32_t column,
                                std::int32_t, const Variant& value, TAlignment) {
    if (column >= 0 && static_cast<std::size_t>(column) < cells.size()) cells[static_cast<std::size_t>(column)] = value;
  };
  reader.OnDimensions = [](TCustomSpreadSheetFile&, std::int32_t, std::int32_t, std::int32_t, std::int32_t,
                           std::int32_t) {};
  reader.StepLoading = true;
  reader.LoadFromFile(fileName);
  const std::int32_t count = reader.RecordCount();
  for (std::int32_t i = 0; i < count && !reader.ChainEnded(); ++i) {
    cells.assign(reader.Fields().size(), std::nullopt);
    reader.LoadRecord(i);
    row(i, cells);
  }
  reader.AfterLoad();
}

void ApplyOptions(TDBParadox& reader, const ParadoxReadOptions& options) {
  reader.RawText = options.RawText;
  reader.Password = options.Password;
  reader.SourceCodePage = options.CodePage;
}

void FillResult(const TDBParadox& reader, ParadoxReadResult* result) {
  if (!result) return;
  result->RecordsPromised = reader.RecordCount();
  result->RecordsRead = reader.RecordsRead();
  result->RecordsMissing = reader.RecordsMissing();
  result->Warnings = reader.Warnings();
  result->WarningCount = reader.WarningCount();
}

}  // namespace

std::string QuoteParadoxBytes(std::string_view bytes) {
  std::string out = "\"";
  for (char ch : bytes) {
    const auto c = static_cast<unsigned char>(ch);
    if (c == '\\') {
      out += "\\\\";
    } else if (c >= 0x20 && c <= 0x7E && c != '"') {
      out += static_cast<char>(c);
    } else {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02x", c);
      out += buf;
    }
  }
  return out + "\"";
}

std::string ParadoxCellToken(const Variant& v, std::int32_t fieldType) {
  switch (v.Type()) {
    case VarType::Empty:
    case VarType::Null: return "\\N";
    case VarType::Boolean: return v.RawBool() ? "b:true" : "b:false";
    case VarType::Integer: return "i:" + std::to_string(v.RawInteger());
    case VarType::Double: return "f:" + G17(v.RawDouble());
    case VarType::DateTime: return "dt:" + detail::IsoMillis(v.RawDateTime());
    case VarType::String:
      if (IsDateType(fieldType)) return DateTextToken(v.RawString());
      if (fieldType >= 12 && fieldType <= 16)
        return "s:" + std::to_string(v.RawString().size()) + ":" + detail::Sha256Hex(v.RawString());
      return "s:" + QuoteParadoxBytes(v.RawString());
  }
  return "-";
}

bool ParseParadoxDumpFormat(std::string_view name, ParadoxDumpFormat& format) {
  if (SameText(name, "csv")) format = ParadoxDumpFormat::Csv;
  else if (SameText(name, "json")) format = ParadoxDumpFormat::Json;
  else if (SameText(name, "cells")) format = ParadoxDumpFormat::Cells;
  else return false;
  return true;
}

void DumpParadoxTable(const std::string& fileName, ParadoxDumpFormat format, std::ostream& out, bool rawText) {
  ParadoxReadOptions options;
  options.RawText = rawText;
  DumpParadoxTable(fileName, format, out, options);
}

void DumpParadoxTable(const std::string& fileName, ParadoxDumpFormat format, std::ostream& out,
                      const ParadoxReadOptions& options, ParadoxReadResult* result) {
  TDBParadox reader;
  ApplyOptions(reader, options);
  const auto& fields = reader.Fields();
  std::int32_t walked = 0;
  bool started = false;
  JsonWriter json(out, JsonWriter::Layout::Compact);
  auto start = [&]() {
    if (started) return;
    started = true;
    const auto& h = reader.Header();
    auto u16 = [&h](std::size_t at) { return static_cast<unsigned>(h[at] | (h[at + 1] << 8)); };
    if (format == ParadoxDumpFormat::Cells) {
      out << "paradox-ref-dump 1\n"
          << "record_count " << reader.RecordCount() << "\n"
          << "field_count " << reader.FieldCount() << "\n"
          << "record_size " << reader.RecordSize() << "\n"
          << "header_size " << reader.HeaderSize() << "\n"
          << "block_size " << reader.GetBlockSize() << "\n"
          << "file_type " << static_cast<unsigned>(reader.FileType()) << "\n"
          << "version_byte " << static_cast<unsigned>(reader.FileVersion()) << "\n"
          << "table_level " << reader.TableLevel() << "\n"
          << "code_page " << reader.TableCodePage() << "\n"
          << "first_block " << u16(0x0E) << "\n"
          << "last_block " << u16(0x10) << "\n"
          << "file_blocks " << u16(0x0C) << "\n";
      for (std::size_t i = 0; i < fields.size(); ++i)
        out << "F\t" << i << "\t" << QuoteParadoxBytes(fields[i].Name) << "\t" << fields[i].FieldType << "\t"
            << fields[i].Size << "\t" << static_cast<unsigned>(fields[i].SizeByte) << "\n";
    } else if (format == ParadoxDumpFormat::Csv) {
      for (std::size_t i = 0; i < fields.size(); ++i) out << (i ? "," : "") << CsvField(fields[i].Name);
      out << "\n";
    } else {
      json.BeginObject().Member("file", ExtractFileName(fileName)).Key("fields").BeginArray();
      for (const auto& f : fields)
        json.BeginObject()
            .Member("name", f.Name)
            .Member("type", TDBParadox::GetStrFieldType(f.FieldType))
            .Member("size", f.Size)
            .EndObject();
      json.EndArray().Key("records").BeginArray();
    }
  };
  WalkTable(reader, fileName, [&](std::int32_t index, const std::vector<std::optional<Variant>>& cells) {
    start();
    ++walked;
    if (format == ParadoxDumpFormat::Cells) {
      out << "C\t" << index;
      for (std::size_t i = 0; i < cells.size(); ++i)
        out << "\t" << (cells[i] ? ParadoxCellToken(*cells[i], fields[i].FieldType) : std::string("-"));
      out << "\n";
    } else if (format == ParadoxDumpFormat::Csv) {
      for (std::size_t i = 0; i < cells.size(); ++i)
        out << (i ? "," : "") << (cells[i] ? CsvField(PlainValue(*cells[i], fields[i].FieldType)) : std::string());
      out << "\n";
    } else {
      json.BeginObject();
      for (std::size_t i = 0; i < cells.size(); ++i)
        json.Key(fields[i].Name).Raw(cells[i] ? JsonValue(*cells[i], fields[i].FieldType) : std::string("null"));
      json.EndObject();
    }
  });
  start();  // a table without records still gets its header
  if (format == ParadoxDumpFormat::Cells) out << "end " << walked << "\n";
  else if (format == ParadoxDumpFormat::Json) {
    json.EndArray().EndObject();
    out << "\n";
  }
  FillResult(reader, result);
}

std::string DescribeParadoxTable(const std::string& fileName, const ParadoxReadOptions& options,
                                 ParadoxReadResult* result) {
  TDBParadox reader;
  ApplyOptions(reader, options);
  reader.OnCellValue = [](TCustomSpreadSheetFile&, std::int32_t, std::int32_t, std::int32_t, std::int32_t,
                          const Variant&, TAlignment) {};
  reader.OnDimensions = [](TCustomSpreadSheetFile&, std::int32_t, std::int32_t, std::int32_t, std::int32_t,
                           std::int32_t) {};
  // Records are walked, not decoded: an empty load range.
  TSMRange none;
  none.FirstRow = 0;
  none.LastRow = 0;
  reader.SetLoadRange(none);
  reader.StepLoading = true;
  reader.LoadFromFile(fileName);
  for (std::int32_t i = 0; i < reader.RecordCount() && !reader.ChainEnded(); ++i) reader.LoadRecord(i);
  std::string out;
  out += "File type: " + std::to_string(reader.FileType()) + " (" + TDBParadox::GetStrFileType(reader.FileType()) + ")\n";
  out += "Table level: " + std::to_string(reader.TableLevel()) + "\n";
  out += "Records: " + std::to_string(reader.RecordCount());
  if (reader.RecordsMissing()) out += " (the blocks hold " + std::to_string(reader.RecordsRead()) + ")";
  out += "\n";
  out += "Block size: " + std::to_string(reader.GetBlockSize()) + "\n";
  out += "Code page: " + std::to_string(reader.TextCodePage()) +
         (reader.TableCodePage() == 0 ? " (none stored)" : "") + "\n";
  out += "Encrypted: " + std::string(reader.IsEncrypted() ? "yes" : "no") + "\n";
  out += "Fields: " + std::to_string(reader.Fields().size()) + "\n";
  for (std::size_t i = 0; i < reader.Fields().size(); ++i) {
    const TParadoxField& f = reader.Fields()[i];
    out += "  " + std::to_string(i + 1) + "\t" + f.Name + "\t" + TDBParadox::GetStrFieldType(f.FieldType) + "\t" +
           std::to_string(f.FieldType == 23 ? f.SizeByte : f.Size) + "\n";
  }
  out += "Sort order: " + reader.SortOrder() + "\n";
  FillResult(reader, result);
  reader.AfterLoad();
  return out;
}

TParadoxFileKind IdentifyParadoxFile(const std::string& fileName, std::uint8_t* fileType) {
  std::ifstream in(fileName, std::ios::binary);
  std::uint8_t h[0x60] = {};
  in.read(reinterpret_cast<char*>(h), sizeof h);
  const auto n = in.gcount();
  constexpr std::string_view kSqlite("SQLite format 3\0", 16);
  if (n >= 16 && std::string_view(reinterpret_cast<const char*>(h), 16) == kSqlite) return TParadoxFileKind::Other;
  if (n == sizeof h) {
    const unsigned recordSize = h[0] | (h[1] << 8);
    const unsigned headerSize = h[2] | (h[3] << 8);
    const unsigned blockKb = h[5];
    const unsigned version = h[0x39];
    const bool blockOk = blockKb == 1 || blockKb == 2 || blockKb == 3 || blockKb == 4 || blockKb == 8 ||
                         blockKb == 16 || blockKb == 32;
    if (blockOk && h[4] <= 8 && version >= 3 && version <= 12 && headerSize >= 88 && recordSize > 0) {
      if (fileType) *fileType = h[4];
      return h[4] == 0 || h[4] == 2 ? TParadoxFileKind::Table : TParadoxFileKind::Index;
    }
  }
  if (SameText(ExtractFileExt(fileName), ".mb")) return TParadoxFileKind::Blob;
  return TParadoxFileKind::Other;
}

void RequireParadoxTable(const std::string& fileName) {
  std::uint8_t type = 0;
  switch (IdentifyParadoxFile(fileName, &type)) {
    case TParadoxFileKind::Table: return;
    case TParadoxFileKind::Index:
      throw Exception("'" + fileName + "' is a Paradox index file (" + TDBParadox::GetStrFileType(type) +
                      "), not a table; give its table (.db) instead");
    case TParadoxFileKind::Blob:
      throw Exception("'" + fileName +
                      "' is the memo and BLOB companion (.mb) of a Paradox table, not a table; give its table (.db) "
                      "instead");
    case TParadoxFileKind::Other: break;
  }
  throw Exception("'" + fileName + "' is not a Paradox table");
}

}  // namespace vez
