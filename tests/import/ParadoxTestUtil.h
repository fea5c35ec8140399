// Helpers of the Paradox reader tests: tables built in memory and the cells a load reports.
#pragma once

#include <cstdint>
#include <map>
#include <sstream>
#include <string>
#include <utility>

#include "import/SMParadox.h"
#include "pxwriter/PxWriter.h"

namespace vez::test {

// The cells reported through OnCellValue, by (row, column), with their alignment.
struct Reported {
  std::map<std::pair<int, int>, Variant> Cells;
  std::map<std::pair<int, int>, TAlignment> Alignments;
  bool Has(int row, int col) const { return Cells.count({row, col}) != 0; }
  const Variant& At(int row, int col) const { return Cells.at({row, col}); }
};

inline void Capture(TDBParadox& reader, Reported& out) {
  reader.OnCellValue = [&out](TCustomSpreadSheetFile&, std::int32_t, std::int32_t row, std::int32_t col,
                              std::int32_t, const Variant& v, TAlignment a) {
    out.Cells[{row, col}] = v;
    out.Alignments[{row, col}] = a;
  };
}

// Loads table bytes from memory with step loading off and returns the reported cells.
inline Reported LoadBytes(const std::string& db, TDBParadox& reader, const std::string* mb = nullptr) {
  Reported out;
  Capture(reader, out);
  std::istringstream stream(db);
  std::istringstream mbStream(mb ? *mb : std::string());
  if (mb) reader.BlobStream = &mbStream;
  reader.StepLoading = false;
  reader.LoadFromStream(stream);
  reader.BlobStream = nullptr;
  return out;
}

inline Reported LoadBytes(const std::string& db) {
  TDBParadox reader;
  return LoadBytes(db, reader);
}

// Records numbered 1..n (a ShortInt) beside a Char field of 200 bytes: 5 records to a 1 KB block.
inline std::string Numbered(int records) {
  pxw::Writer w({{"N", 3, 2}, {"Pad", 1, 200}}, {1, 12, 1252, 2, "ascii"});
  for (int i = 0; i < records; ++i)
    w.AddRecord({pxw::Writer::Short(static_cast<std::int16_t>(i + 1)), pxw::Writer::Char("x", 200)});
  return w.DbBytes();
}

inline void Put16(std::string& s, std::size_t at, unsigned v) {
  s[at] = static_cast<char>(v & 0xFF);
  s[at + 1] = static_cast<char>((v >> 8) & 0xFF);
}

inline unsigned Get16(const std::string& s, std::size_t at) {
  return static_cast<unsigned char>(s[at]) | (static_cast<unsigned char>(s[at + 1]) << 8);
}

}  // namespace vez::test
