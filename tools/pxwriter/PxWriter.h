// A small writer of Paradox tables (".db" with a ".mb" companion for BLOBs that exceed their leader), for test
// and demo data. It writes what the reader needs and what Paradox 4..7 tables hold: header with the 32-byte
// extension (for versions above 4), field descriptors, names, a block chain filled front to back, BLOBs in
// blocks of their own. Field values are given as their stored bytes; the Encode* helpers produce them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace pxw {

struct Field {
  std::string Name;
  std::uint8_t Type;  // Paradox type code
  std::uint8_t Size;  // descriptor size byte (digits for BCD, whose field takes 17 bytes)
};

struct TableOptions {
  int BlockSizeKB = 4;
  std::uint8_t Version = 12;  // version byte at 0x39
  std::uint16_t CodePage = 1252;
  std::uint8_t FileType = 2;
  std::string SortOrder = "ascii";
};

class Writer {
public:
  Writer(std::vector<Field> fields, TableOptions options = {});

  int FieldWidth(std::size_t i) const;
  int RecordSize() const { return recordSize_; }
  int HeaderSize() const;

  // One record; each value must have the width of its field (Encode* helpers). Throws std::invalid_argument.
  void AddRecord(const std::vector<std::string>& values);
  // The stored bytes of a BLOB-type field of the given width holding `value` (placed in the ".mb" when it
  // exceeds the leader of width - 10 bytes).
  std::string Blob(const std::string& value, int width);

  std::string DbBytes() const;
  std::string MbBytes() const;  // empty when no BLOB needed the ".mb"
  // Writes path (and the ".mb" next to it, same stem, extension ".mb", when needed).
  void Write(const std::string& path) const;

  static std::string Null(int width) { return std::string(static_cast<std::size_t>(width), '\0'); }
  static std::string Char(const std::string& text, int width);
  static std::string Short(std::int16_t v);
  static std::string Long(std::int32_t v);  // LongInt, AutoInc, Date (day number from 0001-01-01 = 1), Time (ms)
  static std::string Number(double v);      // Number, Currency, TimeStamp (ms since 0001-01-01 minus one day)
  static std::string Logical(bool v);
  // 17-byte BCD from a decimal text like "-12.345" with `digitsAfterPoint` places (0..32).
  static std::string Bcd(const std::string& decimal, int digitsAfterPoint);

private:
  std::vector<Field> fields_;
  TableOptions options_;
  int recordSize_ = 0;
  std::vector<std::string> records_;
  std::string mb_;
};

}  // namespace pxw
