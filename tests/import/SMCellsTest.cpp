#include <array>
#include <cmath>
#include <limits>
#include <tuple>

#include <gtest/gtest.h>

#include "TestUtil.h"
#include "core/Exceptions.h"
#include "core/FormatSettings.h"
#include "import/SMCells.h"

namespace vez {
namespace {

// The grid grows with the cells set (unless AutoExtent is off); reads outside it give Null.
TEST(SMCells, CellsGrid) {
  TSpreadSheetCells cells;
  cells.SetValue(2, 2, Variant::Null(), taLeftJustify, 0);  // clear values make no cell
  cells.SetValue(2, 2, Variant(), taLeftJustify, 0);
  EXPECT_EQ((std::array{0, 0, 0}), (std::array{cells.Count(), cells.RowCount, cells.ColCount}));
  cells.SetValue(1, 1, Variant(5), taRightJustify, 3);
  cells.SetValue(5, 3, Variant("x"), taLeftJustify, 0);
  EXPECT_EQ((std::array{4, 4, 6}), (std::array{cells.Count(), cells.RowCount, cells.ColCount}));
  for (const auto& [col, row] : {std::pair{1, 7}, {9, 1}, {0, 1}, {0, -1}})
    EXPECT_TRUE(cells.GetValue(col, row).IsNull()) << col << " " << row;
  EXPECT_EQ(cells.GetValue(1, 1), Variant(5));
  const TSMICell* c = cells.Row(1)->Cols.Cell(1);
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(std::pair(taRightJustify, 3), std::pair(c->Alignment, c->FormatIndex));
  for (int r = 0; r < 3; ++r) {
    const TSpreadSheetRow& row = *cells.Row(r);
    EXPECT_EQ(std::tuple(r == 1 ? 2 : 0, r, r, true),
              std::tuple(row.Cols.Count(), row.Index, row.OrigIndex, row.RowFlag));
  }
  cells.SetValue(0, 0, Variant(1), taLeftJustify, 0);  // a smaller cell does not shrink the counts
  cells.AutoExtent = false;
  cells.SetValue(10, 10, Variant(1), taLeftJustify, 0);
  EXPECT_EQ((std::array{4, 6}), (std::array{cells.RowCount, cells.ColCount}));
  EXPECT_EQ(cells.GetValue(10, 10), Variant(1));
  cells.RemoveRow(0);
  EXPECT_EQ(cells.GetValue(1, 0), Variant(5));
  EXPECT_THROW_MSG(cells.RemoveRow(50), EListError, "List index out of bounds (50)");
  EXPECT_THROW_MSG(cells.SetValue(-1, 0, Variant(1), taLeftJustify, 0), EListError, "List index out of bounds (-1)");
  EXPECT_THROW_MSG(cells.AddRow(-1), EListError, "List index out of bounds (-1)");
  cells.Clear();
  EXPECT_EQ(0, cells.Count() + cells.DimCols + cells.DimRows + cells.ColCount + cells.RowCount);
}

std::vector<std::string> ColumnTexts(const TSpreadSheetCells& cells, int col) {
  std::vector<std::string> out;
  for (int r = 0; r < cells.Count(); ++r) {
    const TSMICell* c = cells.Row(r)->Cols.Cell(col);
    out.push_back(c ? c->Value.AsString() : "-");
  }
  return out;
}

TEST(SMCells, CellsSortByColumnPutsMissingCellsFirstAndComparesNumbersByValue) {
  TSpreadSheetCells cells;
  const char* values[] = {"b", nullptr, "a", "c", nullptr, "a"};
  for (int r = 0; r < 6; ++r) {
    cells.AddRow(r);
    if (values[r]) cells.SetValue(1, r, Variant(values[r]), taLeftJustify, 0);
    cells.SetValue(0, r, Variant(r), taLeftJustify, 0);
  }
  cells.SortByColumn(1, false);
  EXPECT_EQ(ColumnTexts(cells, 1), (std::vector<std::string>{"-", "-", "a", "a", "b", "c"}));
  EXPECT_EQ(ColumnTexts(cells, 0), (std::vector<std::string>{"1", "4", "2", "5", "0", "3"}));
  cells.SortByColumn(1, true);
  EXPECT_EQ(ColumnTexts(cells, 1), (std::vector<std::string>{"c", "b", "a", "a", "-", "-"}));
  // ClearSort orders by creation index, highest first.
  cells.ClearSort();
  EXPECT_EQ(ColumnTexts(cells, 0), (std::vector<std::string>{"5", "4", "3", "2", "1", "0"}));
  // Numbers compare by value; the plain text has one extra row and column.
  TSpreadSheet sheet;
  const double numbers[] = {10, 9.5, -1, 100};
  for (int r = 0; r < 4; ++r) sheet.Cells.SetValue(0, r, Variant(numbers[r]), taLeftJustify, 0);
  sheet.Cells.SortByColumn(0, false);
  EXPECT_EQ(ColumnTexts(sheet.Cells, 0), (std::vector<std::string>{"-1", "9.5", "10", "100"}));
  sheet.Cells.Clear();
  sheet.Cells.SetValue(0, 0, Variant(true), taLeftJustify, 0);
  EXPECT_EQ(sheet.PlainText(), "\tTrue\t\r\n\t\t\r\n");
  sheet.Cells.SetValue(1, 1, Variant(false), taLeftJustify, 0);
  sheet.Cells.SetValue(0, 1, Variant("x y"), taLeftJustify, 0);
  EXPECT_EQ(sheet.PlainText(), "\tTrue\t\t\r\n\tx y\tFalse\t\r\n\t\t\t\r\n");
}

TEST(SMCells, SpreadsheetCreatesEverySheetUpToTheIndex) {
  TSpreadSheets sheets;
  TSpreadSheet& s3 = sheets.Spreadsheet(3);
  ASSERT_EQ(sheets.Count(), 4);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(sheets[i].Caption, "Sheet" + std::to_string(i + 1));
  EXPECT_EQ(std::tuple(&s3, &sheets[0], 4), std::tuple(&sheets[3], &sheets.Spreadsheet(-5), sheets.Count()));
  sheets[1].Caption = "Data";
  EXPECT_EQ(std::tuple(1, -1, &sheets[2], &sheets[0], nullptr),
            std::tuple(sheets.SheetIndexByName("Data"), sheets.SheetIndexByName("data"), sheets.SheetByName("Sheet3"),
                       sheets.SheetByName("Sheet1"), sheets.SheetByName("nope")));
  sheets.Remove(0);
  EXPECT_EQ(std::tuple(3, "Data"), std::tuple(sheets.Count(), sheets[0].Caption));
  EXPECT_EQ(3, sheets.Add());
  EXPECT_EQ(sheets[3].Caption, "Sheet4");
  EXPECT_THROW_MSG(sheets[7], EListError, "List index out of bounds (7)");
  sheets.Clear();
  EXPECT_EQ(sheets.Count(), 0);
}

// A reader that reports a fixed workbook through the events, as a derived reader does.
class FakeReader : public TSpreadSheetFile {
public:
  void LoadFromStream(std::istream& stream) override {
    TSpreadSheetFile::LoadFromStream(stream);
    BeforeLoad();
    for (int s = 0; s < 3; ++s) {
      bool skip = false;
      OnSheet(*this, "S" + std::to_string(s), s, skip);
      skipped.push_back(skip);
    }
    OnDimensions(*this, 0, 0, 5, 0, 9);
    OnColumnWidth(*this, 0, 3, 12);
    OnCellValue(*this, 0, 0, 0, 0, Variant(1), taLeftJustify);
    OnCellValue(*this, 0, 2, 0, 0, Variant(2), taLeftJustify);   // row beyond LastRow 1 (0-based 2 > 1)
    OnCellValue(*this, 0, 1, 2, 0, Variant(3), taLeftJustify);   // column beyond LastCol 1
    OnCellValue(*this, 0, 1, 1, 0, Variant(4), taLeftJustify);   // one extra row and column pass
    OnCellValue(*this, 0, -1, 0, 0, Variant(5), taLeftJustify);  // cannot be stored: skipped
    AfterLoad();
  }
  std::vector<bool> skipped;
};

TEST(SMCells, FileDefaultHandlersBuildTheWorkbook) {
  FakeReader reader;
  reader.SheetIndexToLoad = 1;
  TSMRange range;
  range.LastRow = 1;
  range.LastCol = 1;
  reader.SetLoadRange(range);
  std::istringstream none;
  reader.LoadFromStream(none);
  EXPECT_EQ(reader.skipped, (std::vector<bool>{true, false, true}));
  // Three sheets were appended by the sheet event (captions kept, also for skipped ones).
  ASSERT_EQ(reader.Sheets().Count(), 3);
  EXPECT_EQ(reader.Sheets()[2].Caption, "S2");
  const TSpreadSheet& s = reader.Sheets()[0];
  EXPECT_EQ(std::tuple(5, 1), std::tuple(s.Cells.DimRows, s.Cells.DimCols));  // columns capped by LoadRange.LastCol
  EXPECT_EQ(s.ColWidths, (std::vector<std::int32_t>{0, 0, 0, 12}));
  EXPECT_EQ(std::tuple(Variant(1), Variant::Null(), Variant::Null(), Variant(4)),
            std::tuple(s.Cells.GetValue(0, 0), s.Cells.GetValue(0, 2), s.Cells.GetValue(2, 1), s.Cells.GetValue(1, 1)));
  Variant v;
  reader.OnGetCellValue(reader, 0, 1, 1, v);
  EXPECT_EQ(v, Variant(4));
  reader.OnGetCellValue(reader, 0, 7, 7, v);
  EXPECT_TRUE(v.IsNull());
  // A caller's own handler is kept; the next load clears the sheets.
  int calls = 0;
  FakeReader second;
  second.SheetIndexToLoad = 0;
  second.OnCellValue = [&calls](TCustomSpreadSheetFile&, std::int32_t, std::int32_t, std::int32_t, std::int32_t,
                                const Variant&, TAlignment) { ++calls; };
  second.LoadFromStream(none);
  second.LoadFromStream(none);
  EXPECT_EQ(calls, 10);
  EXPECT_EQ(second.Sheets().Count(), 3);
  EXPECT_EQ(second.skipped, (std::vector<bool>{false, true, true, false, true, true}));
  EXPECT_TRUE(second.Sheets()[0].Cells.GetValue(0, 0).IsNull());
}

TEST(SMCells, FileRowStatusProgressAndChecks) {
  TSpreadSheetFile file;
  std::istringstream none;
  file.LoadFromStream(none);
  TSpreadSheetCells& cells = file.Sheets().Spreadsheet(0).Cells;
  cells.SetValue(0, 1, Variant(1), taLeftJustify, 0);
  file.SetRowStatus(0, 1, rsDeleted);
  EXPECT_EQ(cells.Row(1)->Status, rsDeleted);
  cells.AutoExtent = false;
  cells.SetValue(0, 2, Variant(2), taLeftJustify, 0);
  file.SetRowStatus(0, 2, rsError);  // a row from RowCount on takes no status
  EXPECT_EQ(cells.Row(2)->Status, rsNormal);
  EXPECT_FALSE(TSMIRowStatuses().Contains(rsNormal));  // an empty set holds no status
  std::vector<std::pair<int, int>> progress;
  file.ProgressProc = [&](std::int32_t p, std::int32_t t) { progress.emplace_back(p, t); };
  file.OnLoadProgress = [&](TCustomSpreadSheetFile&, std::int32_t p, std::int32_t t) { progress.emplace_back(-p, -t); };
  file.UpdateProgress(3, 9);
  EXPECT_EQ(progress, (std::vector<std::pair<int, int>>{{3, 9}, {-3, -9}}));
  EXPECT_THROW_MSG(file.LoadFromFile(" \t"), Exception, "File is not defined.");
  EXPECT_THROW_MSG(file.LoadFromFile("/no/such/file.xls"), Exception, "File is not exists.");
}

TEST(SMCells, ColumnNamesAndIds) {
  const std::tuple<const char*, std::int32_t, std::int32_t> ids[] = {
      {"A", 256, 0},   {"z", 256, 25},    {"AA", 256, 26}, {"iv", 256, 255}, {"IW", 256, -1},
      {"A1", 256, -1}, {"AAA", 1000, 702}, {"", 1, 0},      {"", 0, -1},      {"ZZZZZZZZZZZZ", 2147483647, -1}};
  for (const auto& [name, max, id] : ids) EXPECT_EQ(GetSpreadSheetColID(name, max), id) << name << " " << max;
  const std::pair<int, const char*> names[] = {{1, "A"}, {26, "Z"}, {27, "AA"}, {52, "AZ"}, {703, "AAA"}, {0, ""}, {-3, ""}};
  for (auto [n, name] : names) EXPECT_EQ(GetSpreadSheetColByID(n), name) << n;
  for (int n = 1; n < 20000; n += 37) EXPECT_EQ(GetSpreadSheetColID(GetSpreadSheetColByID(n), 1 << 30), n - 1);
}

TEST(SMCells, NanAndJulianDays) {
  const double nan = std::numeric_limits<double>::quiet_NaN(), inf = std::numeric_limits<double>::infinity();
  for (const double v : {nan, -nan, inf, -inf, 0.0, 1e308}) EXPECT_EQ(std::isnan(v), IsNan(v)) << v;
  // Julian day 2451545 is 1 January 2000; 2415019 is 30 December 1899.
  EXPECT_EQ(Julian2DMY(2451545), EncodeDate(2000, 1, 1));
  EXPECT_EQ(Julian2DMY(2415019), 0.0);
  EXPECT_DOUBLE_EQ(DMY2Julian(EncodeDate(2000, 1, 1)), 2451544.5);
  EXPECT_DOUBLE_EQ(DMY2Julian(EncodeDate(2000, 1, 1) + 0.25), 2451544.75);
  for (int j = 2299161; j < 2600000; j += 997) EXPECT_DOUBLE_EQ(DMY2Julian(Julian2DMY(j)), j - 0.5) << j;
  EXPECT_EQ(Julian2DMY(1721426), EncodeDate(1, 1, 1));  // the first and the last day there are
  EXPECT_EQ(Julian2DMY(5373484), EncodeDate(9999, 12, 31));
  EXPECT_THROW_MSG(Julian2DMY(1721425), EConvertError, "Julian day 1721425 is outside the supported dates");
  EXPECT_THROW_MSG(Julian2DMY(5373485), EConvertError, "Julian day 5373485 is outside the supported dates");
}

}  // namespace
}  // namespace vez
