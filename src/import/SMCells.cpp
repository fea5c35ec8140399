#include "import/SMCells.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <filesystem>

#include "core/Exceptions.h"
#include "core/FormatSettings.h"
#include "import/Impcnst.h"

namespace vez {

// ---- columns, rows, grid ----

const TSMICell* TSpreadSheetCols::Cell(std::int32_t i) const {
  if (i < 0 || i >= Count()) return nullptr;
  const auto& c = cells_[static_cast<std::size_t>(i)];
  return c ? &*c : nullptr;
}

TSMICell* TSpreadSheetCols::Cell(std::int32_t i) {
  if (i < 0 || i >= Count()) return nullptr;
  auto& c = cells_[static_cast<std::size_t>(i)];
  return c ? &*c : nullptr;
}

TSMICell& TSpreadSheetCols::Ensure(std::int32_t i) {
  if (i < 0) throw EListError(Format("List index out of bounds (%d)", i));
  if (i >= Count()) cells_.resize(static_cast<std::size_t>(i) + 1);
  auto& c = cells_[static_cast<std::size_t>(i)];
  if (!c) c.emplace();
  return *c;
}

TSMICell& TSpreadSheetCols::SetCell(std::int32_t i, const TSMICell& cell) {
  TSMICell& target = Ensure(i);
  target.Assign(cell);
  return target;
}

TSpreadSheetRow* TSpreadSheetCells::Row(std::int32_t i) {
  if (i < 0 || i >= Count()) return nullptr;
  return rows_[static_cast<std::size_t>(i)].get();
}

const TSpreadSheetRow* TSpreadSheetCells::Row(std::int32_t i) const {
  if (i < 0 || i >= Count()) return nullptr;
  return rows_[static_cast<std::size_t>(i)].get();
}

std::int32_t TSpreadSheetCells::AddRow(std::int32_t row) {
  if (row < 0) throw EListError(Format("List index out of bounds (%d)", row));
  while (Count() <= row) {
    auto r = std::make_unique<TSpreadSheetRow>();
    r->Index = Count();
    r->OrigIndex = Count();
    rows_.push_back(std::move(r));
  }
  return row;
}

void TSpreadSheetCells::RemoveRow(std::int32_t i) {
  if (i < 0 || i >= Count()) throw EListError(Format("List index out of bounds (%d)", i));
  rows_.erase(rows_.begin() + i);
}

void TSpreadSheetCells::Clear() {
  rows_.clear();
  DimCols = DimRows = ColCount = RowCount = 0;
}

Variant TSpreadSheetCells::GetValue(std::int32_t col, std::int32_t row) const {
  const TSpreadSheetRow* r = Row(row);
  if (!r) return Variant::Null();
  const TSMICell* c = r->Cols.Cell(col);
  return c ? c->Value : Variant::Null();
}

void TSpreadSheetCells::SetValue(std::int32_t col, std::int32_t row, const Variant& value, TAlignment alignment,
                                 std::int32_t formatIndex) {
  if (value.IsClear()) return;
  if (col < 0) throw EListError(Format("List index out of bounds (%d)", col));
  AddRow(row);
  TSpreadSheetCols& cols = rows_[static_cast<std::size_t>(row)]->Cols;
  if (cols.Count() == 0) cols.Reserve(std::max({col + 1, ColCount, DimCols}));  // a row's cells grow in one step
  TSMICell& cell = cols.Ensure(col);
  cell.Value = value;
  cell.Alignment = alignment;
  cell.FormatIndex = formatIndex;
  if (AutoExtent) {
    if (ColCount < col + 1) ColCount = col + 1;
    if (RowCount < row + 1) RowCount = row + 1;
  }
}

void TSpreadSheetCells::SortByColumn(std::int32_t col, bool descending) {
  auto compare = [col](const TSpreadSheetRow& a, const TSpreadSheetRow& b) {
    const TSMICell* ca = a.Cols.Cell(col);
    const TSMICell* cb = b.Cols.Cell(col);
    if (ca == cb) return 0;
    if (!ca) return -1;
    if (!cb) return 1;
    const int c = Variant::Compare(ca->Value, cb->Value);
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
  };
  std::stable_sort(rows_.begin(), rows_.end(), [&](const auto& a, const auto& b) {
    const int c = compare(*a, *b);
    return descending ? c > 0 : c < 0;
  });
}

void TSpreadSheetCells::ClearSort() {
  std::stable_sort(rows_.begin(), rows_.end(), [](const auto& a, const auto& b) { return a->Index > b->Index; });
}

// ---- sheets ----

std::string TSpreadSheet::PlainText() const {
  std::string out;
  for (std::int32_t r = 0; r <= Cells.RowCount; ++r) {
    const TSpreadSheetRow* row = Cells.Row(r);
    for (std::int32_t c = 0; c <= Cells.ColCount; ++c) {
      out += '\t';
      const TSMICell* cell = row ? row->Cols.Cell(c) : nullptr;
      if (!cell) continue;
      if (cell->Value.Type() == VarType::Boolean) out += cell->Value.RawBool() ? "True" : "False";
      else out += cell->Value.AsString();
    }
    out += "\r\n";
  }
  return out;
}

TSpreadSheet& TSpreadSheets::operator[](std::int32_t i) {
  if (i < 0 || i >= Count()) throw EListError(Format("List index out of bounds (%d)", i));
  return *sheets_[static_cast<std::size_t>(i)];
}

const TSpreadSheet& TSpreadSheets::operator[](std::int32_t i) const {
  if (i < 0 || i >= Count()) throw EListError(Format("List index out of bounds (%d)", i));
  return *sheets_[static_cast<std::size_t>(i)];
}

std::int32_t TSpreadSheets::Add() {
  auto sheet = std::make_unique<TSpreadSheet>();
  sheet->Caption = ImportTexts().strSheetName + std::to_string(Count() + 1);
  sheets_.push_back(std::move(sheet));
  return Count() - 1;
}

TSpreadSheet& TSpreadSheets::Spreadsheet(std::int32_t i) {
  if (i < 0) i = 0;
  while (Count() <= i) Add();
  return *sheets_[static_cast<std::size_t>(i)];
}

void TSpreadSheets::Remove(std::int32_t i) {
  if (i < 0 || i >= Count()) throw EListError(Format("List index out of bounds (%d)", i));
  sheets_.erase(sheets_.begin() + i);
}

void TSpreadSheets::Clear() { sheets_.clear(); }

TSpreadSheet* TSpreadSheets::SheetByName(const std::string& name) {
  const std::int32_t i = SheetIndexByName(name);
  return i < 0 ? nullptr : sheets_[static_cast<std::size_t>(i)].get();
}

std::int32_t TSpreadSheets::SheetIndexByName(const std::string& name) const {
  for (std::size_t i = 0; i < sheets_.size(); ++i)
    if (sheets_[i]->Caption == name) return static_cast<std::int32_t>(i);
  return -1;
}

// ---- the file object ----

void TSpreadSheetFile::ApplyEvents() {
  sheets_.Clear();
  if (!OnDimensions)
    OnDimensions = [this](TCustomSpreadSheetFile&, std::int32_t s, std::int32_t fr, std::int32_t lr,
                          std::int32_t fc, std::int32_t lc) { DefaultDimensions(s, fr, lr, fc, lc); };
  if (!OnCellValue)
    OnCellValue = [this](TCustomSpreadSheetFile&, std::int32_t s, std::int32_t r, std::int32_t c, std::int32_t f,
                         const Variant& v, TAlignment a) { DefaultCellValue(s, r, c, f, v, a); };
  if (!OnGetCellValue)
    OnGetCellValue = [this](TCustomSpreadSheetFile&, std::int32_t s, std::int32_t r, std::int32_t c, Variant& v) {
      DefaultGetCellValue(s, r, c, v);
    };
  if (!OnSheet)
    OnSheet = [this](TCustomSpreadSheetFile&, const std::string& caption, std::int32_t index, bool& skip) {
      DefaultSheet(caption, index, skip);
    };
  if (!OnColumnWidth)
    OnColumnWidth = [this](TCustomSpreadSheetFile&, std::int32_t s, std::int32_t c, std::int32_t w) {
      DefaultColumnWidth(s, c, w);
    };
}

void TSpreadSheetFile::ReadBLOBValue(std::int32_t, std::int32_t, std::string& value) { value.clear(); }

void TSpreadSheetFile::LoadFromFile(const std::string& fileName) {
  if (Trim(fileName).empty()) throw Exception("File is not defined.");
  std::error_code ec;
  if (!std::filesystem::is_regular_file(fileName, ec)) throw Exception("File is not exists.");
  FileName = fileName;
  ApplyEvents();
}

void TSpreadSheetFile::LoadFromStream(std::istream&) { ApplyEvents(); }

void TSpreadSheetFile::UpdateProgress(std::int32_t position, std::int32_t total) {
  if (ProgressProc) ProgressProc(position, total);
  if (OnLoadProgress) OnLoadProgress(*this, position, total);
}

void TSpreadSheetFile::SetRowStatus(std::int32_t sheetNo, std::int32_t row, TSMIRowStatus status) {
  TSpreadSheetCells& cells = sheets_.Spreadsheet(sheetNo).Cells;
  if (row >= cells.RowCount) return;
  if (TSpreadSheetRow* r = cells.Row(row)) r->Status = status;
}

void TSpreadSheetFile::DefaultDimensions(std::int32_t sheetNo, std::int32_t, std::int32_t lastRow, std::int32_t,
                                         std::int32_t lastColumn) {
  TSpreadSheetCells& cells = sheets_.Spreadsheet(sheetNo).Cells;
  cells.DimRows = lastRow;
  cells.DimCols = std::min(lastColumn, LoadRange().LastCol);
  if (!cells.AutoExtent) {
    cells.RowCount = cells.DimRows;
    cells.ColCount = cells.DimCols;
  }
}

void TSpreadSheetFile::DefaultCellValue(std::int32_t sheetNo, std::int32_t row, std::int32_t column,
                                        std::int32_t formatIndex, const Variant& value, TAlignment alignment) {
  if (column > LoadRange().LastCol || row > LoadRange().LastRow) return;
  try {
    sheets_.Spreadsheet(sheetNo).Cells.SetValue(column, row, value, alignment, formatIndex);
  } catch (const std::exception&) {
    // A cell that cannot be stored is skipped; loading goes on.
  }
}

void TSpreadSheetFile::DefaultGetCellValue(std::int32_t sheetNo, std::int32_t row, std::int32_t column,
                                           Variant& value) {
  value = sheets_.Spreadsheet(sheetNo).Cells.GetValue(column, row);
}

void TSpreadSheetFile::DefaultSheet(const std::string& caption, std::int32_t index, bool& skip) {
  if (SheetIndexToLoad >= 0) skip = index != SheetIndexToLoad;
  sheets_[sheets_.Add()].Caption = caption;
}

void TSpreadSheetFile::DefaultColumnWidth(std::int32_t sheetNo, std::int32_t columnNo, std::int32_t width) {
  if (columnNo < 0) return;
  auto& widths = sheets_.Spreadsheet(sheetNo).ColWidths;
  if (static_cast<std::int32_t>(widths.size()) <= columnNo) widths.resize(static_cast<std::size_t>(columnNo) + 1, 0);
  widths[static_cast<std::size_t>(columnNo)] = width;
}

// ---- free routines ----

bool IsNan(double x) {
  const auto bits = std::bit_cast<std::uint64_t>(x);
  return ((bits >> 52) & 0x7FF) == 0x7FF && (bits & 0xFFFFFFFFFFFFFull) != 0;
}

std::int32_t GetSpreadSheetColID(const std::string& name, std::int32_t maxCols) {
  if (name.empty()) return maxCols >= 1 ? 0 : -1;
  std::int64_t n = 0;
  for (char ch : name) {
    int letter;
    if (ch >= 'A' && ch <= 'Z') letter = ch - 'A' + 1;
    else if (ch >= 'a' && ch <= 'z') letter = ch - 'a' + 1;
    else return -1;
    n = n * 26 + letter;
    if (n > maxCols) return -1;  // also keeps n far from overflow
  }
  return static_cast<std::int32_t>(n - 1);
}

std::string GetSpreadSheetColByID(std::int32_t n) {
  std::string out;
  while (n > 0) {
    const std::int32_t m = n - 1;
    out.insert(out.begin(), static_cast<char>('A' + m % 26));
    n = m / 26;
  }
  return out;
}

double Julian2DMY(std::int32_t j) {
  std::int64_t l = static_cast<std::int64_t>(j) + 68569;
  const std::int64_t n = 4 * l / 146097;
  l = l - (146097 * n + 3) / 4;
  const std::int64_t i = 4000 * (l + 1) / 1461001;
  l = l - 1461 * i / 4 + 31;
  const std::int64_t k = 80 * l / 2447;
  const std::int64_t day = l - 2447 * k / 80;
  l = k / 11;
  const std::int64_t month = k + 2 - 12 * l;
  const std::int64_t year = 100 * (n - 49) + i + l;
  if (year < 1 || year > 9999) throw EConvertError(Format("Julian day %d is outside the supported dates", j));
  return EncodeDate(static_cast<int>(year), static_cast<int>(month), static_cast<int>(day));
}

double DMY2Julian(double d) {
  int y, m, day;
  DecodeDate(d, y, m, day);
  const std::int64_t a = (m - 14) / 12;
  const std::int64_t jd = day - 32075 + 1461 * (y + 4800 + a) / 4 + 367 * (m - 2 - a * 12) / 12 -
                          3 * ((y + 4900 + a) / 100) / 4;
  const double time = std::fabs(d - std::trunc(d));
  return static_cast<double>(jd) - 0.5 + time;
}

bool BCDToCurr(const TBCD& bcd, std::int64_t& value) {
  const int digits = bcd.Precision;
  if (digits == 0) return false;
  if (digits > 64) return false;
  const int places = bcd.SignSpecialPlaces & 0x3F;
  const bool negative = (bcd.SignSpecialPlaces & 0x80) != 0;
  std::string text;
  for (int k = 0; k < digits; ++k) {
    const std::uint8_t byte = bcd.Fraction[static_cast<std::size_t>(k / 2)];
    const int nibble = (k % 2 == 0) ? byte >> 4 : byte & 0x0F;
    if (nibble > 9) return false;
    text += static_cast<char>('0' + nibble);
  }
  // Digits kept as ten-thousandths, and the rest that decides rounding.
  std::string kept = text;
  std::string rest;
  if (places <= 4) {
    kept.append(static_cast<std::size_t>(4 - places), '0');
  } else {
    const std::size_t drop = static_cast<std::size_t>(places - 4);
    if (drop >= kept.size()) {
      rest = std::string(drop - kept.size(), '0') + kept;
      kept = "0";
    } else {
      rest = kept.substr(kept.size() - drop);
      kept.resize(kept.size() - drop);
    }
  }
  std::uint64_t n = 0;
  for (char ch : kept) {
    const auto digit = static_cast<std::uint64_t>(ch - '0');
    if (n > (UINT64_MAX - digit) / 10) return false;
    n = n * 10 + digit;
  }
  if (!rest.empty()) {
    const int first = rest[0] - '0';
    const bool beyondHalf = rest.find_first_not_of('0', 1) != std::string::npos;
    if (first > 5 || (first == 5 && (beyondHalf || (n & 1) != 0))) {
      if (n == UINT64_MAX) return false;
      ++n;
    }
  }
  const auto maxPositive = static_cast<std::uint64_t>(INT64_MAX);
  if (negative) {
    if (n > maxPositive + 1) return false;
    value = n == maxPositive + 1 ? INT64_MIN : -static_cast<std::int64_t>(n);
  } else {
    if (n > maxPositive) return false;
    value = static_cast<std::int64_t>(n);
  }
  return true;
}

bool SMBCDToCurr(const TSMIBCD& bcd, std::int32_t digits, double& value) {
  if (digits < 0) return false;
  std::string text = "+" + std::string(static_cast<std::size_t>(digits), '0');
  const bool negative = (bcd[0] & 0x40) != 0 && (bcd[0] & 0x80) == 0;
  if (negative) text[0] = '-';
  for (std::size_t k = 0; k < 16; ++k) {
    const std::uint8_t byte = negative ? static_cast<std::uint8_t>(~bcd[1 + k]) : bcd[1 + k];
    const std::size_t hi = 1 + 2 * k, lo = 2 + 2 * k;  // 0-based positions of 2 + 2k and 3 + 2k
    if (hi < text.size()) text[hi] = static_cast<char>('0' + (byte >> 4));
    if (lo < text.size()) text[lo] = static_cast<char>('0' + (byte & 0x0F));
  }
  const std::int64_t scale = bcd[0] & 0x3F;
  const std::int64_t position = static_cast<std::int64_t>(digits) + 2 - scale;  // 1-based
  if (position >= 1 && position <= static_cast<std::int64_t>(text.size()))
    text.insert(static_cast<std::size_t>(position - 1), 1, '.');
  // Plain decimal conversion of the whole text: sign, digits, at most one point.
  std::size_t start = 0;
  bool minus = false;
  if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
    minus = text[0] == '-';
    start = 1;
  }
  std::string_view body(text.data() + start, text.size() - start);
  if (body.empty() || body.find_first_not_of("0123456789.") != std::string_view::npos) return false;
  if (std::count(body.begin(), body.end(), '.') > 1 || body == ".") return false;
  std::string normalized(body);
  if (normalized.front() == '.') normalized.insert(normalized.begin(), '0');
  double v = 0;
  const auto res = std::from_chars(normalized.data(), normalized.data() + normalized.size(), v,
                                   std::chars_format::fixed);
  if (res.ec != std::errc() || res.ptr != normalized.data() + normalized.size()) return false;
  value = minus ? -v : v;
  return true;
}

}  // namespace vez
