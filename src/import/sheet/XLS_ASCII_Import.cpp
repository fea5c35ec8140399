#include "import/XLS_ASCII_Import.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <unordered_map>

#include "core/Exceptions.h"
#include "core/FormatSettings.h"
#include "import/sheet/SheetReader.h"

namespace vez {

std::string GridColumnName(std::int32_t col) {
  std::string name;
  for (std::int64_t k = col; k > 0; k = (k - 1) / 26) name.insert(name.begin(), static_cast<char>('A' + (k - 1) % 26));
  return name;
}

namespace {

const char* FileTypeName(std::int32_t version) {
  switch (version) {
    case 1: return "???";
    case 2: return "Excel 2.1";
    case 3: return "Excel 3.0";
    case 4: return "Excel 4.0";
    case 5: return "Excel 5.0";
    case 6: return "Excel 97";
    case 7: return "Excel 2007";
    default: return nullptr;
  }
}

}  // namespace

// What a loaded grid's text counts (given back to the budget when the grid is gone) and its damaged cells.
struct TXLSASCIIImport::LoadState {
  std::shared_ptr<TGridTextBudget> Budget;
  std::int64_t Bytes = 0;    // the grid's text as counted
  std::int64_t Charged = 0;  // taken from the budget
  std::unordered_map<std::uint64_t, std::string> Damage;  // by grid row * 2^32 + grid column
  ~LoadState() {
    if (Budget) Budget->Give(Charged);
  }
};

namespace {

std::uint64_t CellKey(std::int64_t col, std::int64_t row) {
  return static_cast<std::uint64_t>(row) << 32 | static_cast<std::uint32_t>(col);
}

// Places cells at (c + 1, r + 1), growing the grid as they come; with keepRows >= 0 only the cells of the first
// keepRows grid rows are kept, the others only counted in the grid's extent. Every kept cell counts its text
// against the limit (and the budget) before it is stored; a shared string counts once, when a cell first shows it.
// The .xls reader hands the workbook's shared strings over as it reads their table, and each becomes a shared
// text of the grid there and then (the reader keeps none); Finish gives up those that no cell shows.
class GridSink : public detail::SheetSink {
public:
  using State = TXLSASCIIImport::LoadState;
  // `stopAfterKept`: the reading may end once a row past the kept ones has begun.
  GridSink(TStringGrid& grid, std::int32_t keepRows, std::int64_t maxBytes, std::int64_t maxCells, State& state,
           bool stopAfterKept)
      : grid_(grid), keepRows_(keepRows), maxBytes_(maxBytes), maxCells_(maxCells), state_(state),
        stopAfterKept_(stopAfterKept) {}
  bool Enough() const override { return stopAfterKept_ && pastKept_; }
  void Cell(std::uint32_t row, std::uint32_t col, std::string text) override {
    if (!Place(row, col, static_cast<std::int64_t>(text.size()))) return;
    grid_.SetCells(static_cast<std::int32_t>(col) + 1, static_cast<std::int32_t>(row) + 1, text);
  }
  void Number(std::uint32_t row, std::uint32_t col, double value) override {
    if (!Place(row, col, static_cast<std::int64_t>(sizeof value))) return;
    grid_.SetNumber(static_cast<std::int32_t>(col) + 1, static_cast<std::int32_t>(row) + 1, value);
  }
  bool KeepsSharedStrings() const override { return true; }
  void SharedStringsAhead(std::uint32_t count) override { grid_.ReserveSharedTexts(count); }
  // Entries come in order, numbered from 0, before the cells that show them.
  void SharedString(std::uint32_t, std::string_view text) override {
    const std::int32_t number = grid_.AddSharedText(text);
    if (kept_ == 0) firstKept_ = number;
    ++kept_;
  }
  std::string_view KeptSharedString(std::uint32_t index) const override {
    return grid_.SharedText(firstKept_ + static_cast<std::int32_t>(index));
  }
  // An entry is a shared text of the grid (its bytes and a header in the grid's store of shared texts), handed
  // over by the reader before the cells; every cell that refers to it shows that one.
  void SharedCell(std::uint32_t row, std::uint32_t col, std::uint32_t index, std::string_view) override {
    if (index >= kept_)
      throw Exception(Format("a cell refers to shared string %d, which was not read", static_cast<long long>(index)));
    const std::int32_t number = firstKept_ + static_cast<std::int32_t>(index);
    const bool first = !grid_.SharedTextShown(number);
    if (!Place(row, col, first ? static_cast<std::int64_t>(grid_.SharedText(number).size()) : 0)) return;
    if (first) ++shown_;
    grid_.SetSharedCell(static_cast<std::int32_t>(col) + 1, static_cast<std::int32_t>(row) + 1, number);
  }
  void CellDamaged(std::uint32_t row, std::uint32_t col, std::string message) override {
    if (keepRows_ >= 0 && static_cast<std::int64_t>(row) + 1 > keepRows_) return;
    state_.Damage[CellKey(static_cast<std::int64_t>(col) + 1, static_cast<std::int64_t>(row) + 1)] = std::move(message);
  }
  // The reading is over (or failed): the entries handed over that no cell shows are given up.
  void Finish() {
    if (shown_ < kept_) grid_.DropUnusedShared(firstKept_);
    kept_ = 0;
    shown_ = 0;
  }

private:
  // Grows the grid for the cell and counts it; false when the cell is not kept.
  bool Place(std::uint32_t row, std::uint32_t col, std::int64_t textBytes) {
    const std::int64_t needCols = static_cast<std::int64_t>(col) + 2;
    const std::int64_t needRows = static_cast<std::int64_t>(row) + 2;
    if (needCols > grid_.ColCount()) grid_.SetColCount(static_cast<std::int32_t>(needCols));
    if (needRows > grid_.RowCount()) grid_.SetRowCount(static_cast<std::int32_t>(needRows));
    if (keepRows_ >= 0 && static_cast<std::int64_t>(row) + 1 > keepRows_) {
      pastKept_ = true;
      return false;
    }
    if (++cells_ > maxCells_)
      throw detail::ESinkRefusal(Format("The file holds more than %d cells", static_cast<long long>(maxCells_)));
    std::int64_t bytes = textBytes + kGridCellBytes;
    if (row != lastRow_) {
      bytes += kGridRowBytes;
      lastRow_ = row;
    }
    state_.Bytes += bytes;
    if (state_.Bytes > maxBytes_)
      throw detail::ESinkRefusal(Format("The cells of the file hold more than %d MB of text, the limit of the import; give a "
                             "larger text limit to import it",
                             static_cast<long long>(maxBytes_ >> 20)));
    if (state_.Budget) {
      if (!state_.Budget->Take(bytes))
        throw detail::ESinkRefusal(Format("The open imports hold %d MB of text, the limit of them all; close one to open "
                               "this file",
                               static_cast<long long>(state_.Budget->Limit() >> 20)));
      state_.Charged += bytes;
    }
    return true;
  }

  TStringGrid& grid_;
  std::int32_t keepRows_;
  std::int64_t maxBytes_, maxCells_;
  State& state_;
  bool stopAfterKept_, pastKept_ = false;
  std::int64_t cells_ = 0;
  std::uint32_t lastRow_ = UINT32_MAX;
  // Entries the reader handed over: entry i is the grid's shared text firstKept_ + i, which the grid marks as
  // shown once a cell shows it (SharedTextShown), when its text is counted; shown_ counts those.
  std::size_t kept_ = 0;
  std::int32_t firstKept_ = 0;
  std::size_t shown_ = 0;
};

// Hands the rows of a reading to a visitor one at a time (cells come row by row, rows in order). With `grow`, the
// grid's extent grows with the cells as they come, and the reading goes on past the last row for it.
class RowSink : public detail::SheetSink {
public:
  struct Stop {};
  RowSink(TStringGrid& grid, std::int32_t first, std::int32_t last, const std::function<bool(std::int32_t)>& visit,
          bool grow)
      : grid_(grid), current_(first), last_(last), visit_(visit), grow_(grow) {}
  void Cell(std::uint32_t row, std::uint32_t col, std::string text) override {
    const std::int64_t g = static_cast<std::int64_t>(row) + 1;
    if (grow_) Reach(static_cast<std::int64_t>(col) + 1, g);
    if (g < current_ || current_ > last_) return;  // a header line, a row the visitor has had, a row past the last
    while (g > current_)
      if (!Next()) return;
    grid_.SetCells(static_cast<std::int32_t>(col) + 1, current_, text);
  }
  // The rows up to the last (at most `lastOfFile`), also those without cells at the end of the file.
  void Finish(std::int32_t lastOfFile) {
    last_ = std::min(last_, lastOfFile);
    while (current_ <= last_) Next();
  }

private:
  // Visits the current row and moves on; false once past the last row.
  bool Next() {
    const bool go = visit_(current_);
    grid_.ClearRow(current_);
    if (!go) throw Stop{};
    if (++current_ <= last_) return true;
    if (!grow_) throw Stop{};
    return false;
  }
  void Reach(std::int64_t col, std::int64_t row) {
    if (col + 1 > grid_.ColCount()) grid_.SetColCount(static_cast<std::int32_t>(col + 1));
    if (row + 1 > grid_.RowCount()) grid_.SetRowCount(static_cast<std::int32_t>(row + 1));
  }
  TStringGrid& grid_;
  std::int32_t current_;
  std::int32_t last_;
  const std::function<bool(std::int32_t)>& visit_;
  bool grow_;
};

// Counts the cells' extent only.
class ExtentSink : public detail::SheetSink {
public:
  explicit ExtentSink(TStringGrid& grid) : grid_(grid) {}
  void Cell(std::uint32_t row, std::uint32_t col, std::string) override {
    if (static_cast<std::int64_t>(col) + 2 > grid_.ColCount()) grid_.SetColCount(static_cast<std::int32_t>(col) + 2);
    if (static_cast<std::int64_t>(row) + 2 > grid_.RowCount()) grid_.SetRowCount(static_cast<std::int32_t>(row) + 2);
  }

private:
  TStringGrid& grid_;
};

// A bound on the records of a text file from its bytes: its line ends (LF, CR LF, CR; those inside quotes too),
// and one more for text after the last. A UTF-16 file's other characters may hold such bytes too: the bound
// only grows by them.
std::int32_t LineEndBound(const std::string& fileName) {
  std::ifstream in(fileName, std::ios::binary);
  std::vector<char> buffer(1 << 20);
  std::int64_t ends = 0;
  char last = '\n';
  for (std::size_t n; in.read(buffer.data(), static_cast<std::streamsize>(buffer.size())), (n = static_cast<std::size_t>(in.gcount())) > 0;) {
    const char* const begin = buffer.data();
    const char* const end = begin + n;
    ends += std::count(begin, end, '\n');
    // A CR not followed by LF (one at the chunk's end counts whatever follows: a bound may be one too high).
    for (const char* cr = begin; (cr = static_cast<const char*>(std::memchr(cr, '\r', static_cast<std::size_t>(end - cr)))) != nullptr; ++cr)
      if (cr + 1 == end || cr[1] != '\n') ++ends;
    last = end[-1];
  }
  if (last != '\n' && last != '\r') ++ends;
  return static_cast<std::int32_t>(std::min<std::int64_t>(ends, INT32_MAX - 1));
}

// The first `limit` bytes of the file (all of it when it is shorter).
std::string ReadFileBytes(const std::string& fileName, std::size_t limit) {
  std::ifstream in(fileName, std::ios::binary);
  if (!in) throw EInOutError("Cannot open file \"" + fileName + "\"");
  std::string bytes(limit, '\0');
  in.read(bytes.data(), static_cast<std::streamsize>(limit));
  bytes.resize(static_cast<std::size_t>(in.gcount()));
  if (in.bad()) throw EInOutError("Cannot read file \"" + fileName + "\"");
  return bytes;
}

}  // namespace

std::vector<std::string> ListSheetNames(const std::string& fileName) {
  // The first bytes tell the kind (a compound document's signature, a zip's, a BOF record: 8 bytes).
  switch (detail::DetectSheetFile(ReadFileBytes(fileName, 8))) {
    case detail::SheetFileKind::Xls: return detail::XlsFileSheetNames(fileName);
    case detail::SheetFileKind::Xlsx: return detail::XlsxSheetNames(fileName);
    case detail::SheetFileKind::Text: break;
  }
  return {};
}

bool TGridTextBudget::Take(std::int64_t bytes) {
  if (used_.fetch_add(bytes) + bytes <= limit_) return true;
  used_.fetch_sub(bytes);
  return false;
}

TXLSASCIIImport::TXLSASCIIImport() = default;
TXLSASCIIImport::~TXLSASCIIImport() = default;

void TXLSASCIIImport::Attach(TStringGrid& Grid) {
  viewGrid_ = &Grid;
  viewGrid_->SetWindow(nullptr, 1);
  // The handler does nothing once this loader is gone.
  viewGrid_->OnDrawCell = [this, alive = std::weak_ptr<int>(alive_)](TStringGrid& g, std::int32_t c,
                                                                      std::int32_t r, const TRect& rect) {
    if (!alive.expired()) GridDrawCell(g, c, r, rect);
  };
}

void TXLSASCIIImport::DoImportShared(TStringGrid& Grid, TXLSASCIIImport& Loaded) {
  Attach(Grid);
  dataGrid_ = Loaded.dataGrid_;
  fileType_ = Loaded.fileType_;
  TextSeparator = Loaded.TextSeparator;
  Sheet = Loaded.Sheet;
  separator_ = Loaded.separator_;
  textEncoding_ = Loaded.textEncoding_;
  sheetNames_ = Loaded.sheetNames_;
  sheetName_ = Loaded.sheetName_;
  state_ = Loaded.state_;
  // The rows are those of the shared grid, walked as they are: a file this loader streamed before is not read.
  streamable_ = false;
  extentKnown_ = true;
  minRow_ = 1;
  maxRow_ = GetLastRow();
  SetMinMaxRow();
}

void TXLSASCIIImport::DoImport(TStringGrid& Grid, const std::string& FileName) {
  Attach(Grid);
  state_.reset();  // the grid a loader held before is given back first
  dataGrid_ = std::make_shared<TStringGrid>(2, 2);
  Load(FileName);
  minRow_ = 1;
  maxRow_ = GetLastRow();
  SetMinMaxRow();
}

void TXLSASCIIImport::Load(const std::string& fileName) {
  separator_ = 0;
  textEncoding_.clear();
  sheetNames_.clear();
  sheetName_.clear();
  detail::CheckTextSeparator(TextSeparator);
  // The first bytes tell the kind (see ListSheetNames): a text file is read in chunks, a workbook whole.
  const detail::SheetFileKind kind = detail::DetectSheetFile(ReadFileBytes(fileName, 8));
  fileName_ = fileName;
  // Only text is read while its rows are used: a workbook's XML is read whole, into the grid.
  streamable_ = kind == detail::SheetFileKind::Text;
  state_ = std::make_shared<LoadState>();
  state_->Budget = TextBudget;
  const bool oneReading = streamable_ && KeepRows >= 0;
  GridSink sink(*dataGrid_, streamable_ ? KeepRows : -1, MaxTextBytes, MaxCells, *state_, oneReading);
  extentKnown_ = true;
  if (kind == detail::SheetFileKind::Text) {
    fileType_ = "ASCII";
    const detail::TextSheetInfo text = detail::ReadTextFile(fileName, TextCodePage, TextSeparator, sink);
    separator_ = text.Separator;
    textEncoding_ = text.Encoding;
    dataGrid_->SetRowCount(std::max(dataGrid_->RowCount(), text.Records + 1));
    if (sink.Enough()) {  // the header lines are in; the rest is read with the rows
      extentKnown_ = false;
      rowBound_ = LineEndBound(fileName);
    }
    return;
  }
  detail::SheetChoice choice;
  choice.Sheet = Sheet;
  std::int32_t version = detail::kVersionXlsx;
  try {
    if (kind == detail::SheetFileKind::Xls) version = detail::ReadXlsFile(fileName, sink, choice);
    else detail::ReadXlsxSheet(fileName, sink, choice);  // the package from the file, part by part
  } catch (...) {
    sink.Finish();
    throw;
  }
  sink.Finish();
  if (const char* name = FileTypeName(version)) fileType_ = name;
  sheetNames_ = std::move(choice.Names);
  if (choice.Index < sheetNames_.size()) sheetName_ = sheetNames_[choice.Index];
}

std::int64_t TXLSASCIIImport::TextBytes() const { return state_ ? state_->Bytes : 0; }

const std::string* TXLSASCIIImport::CellDamage(std::int32_t Col, std::int32_t Row) const {
  if (!state_ || state_->Damage.empty()) return nullptr;
  const auto it = state_->Damage.find(CellKey(Col, Row));
  return it == state_->Damage.end() ? nullptr : &it->second;
}

void TXLSASCIIImport::SetTextRC(std::int32_t Col, std::int32_t Row, const std::string& Text) {
  dataGrid_->SetCells(Col, Row, Text);  // the view is a window onto the data
}

void TXLSASCIIImport::SetMinRow(std::int32_t N) {
  minRow_ = N;
  SetMinMaxRow();
}

void TXLSASCIIImport::SetMaxRow(std::int32_t N) {
  maxRow_ = N;
  SetMinMaxRow();
}

void TXLSASCIIImport::ColRowCheck(std::int32_t Col, std::int32_t Row) {
  if (dataGrid_->ColCount() < Col + 1) dataGrid_->SetColCount(Col + 1);
  if (dataGrid_->RowCount() < Row + 1) dataGrid_->SetRowCount(Row + 1);
}

void TXLSASCIIImport::SetMinMaxRow() {
  const std::int32_t cols = dataGrid_->ColCount();
  for (std::int32_t j = 1; j < cols; ++j) dataGrid_->SetCells(j, 0, GridColumnName(j));
  if (viewGrid_ == nullptr) return;
  TStringGrid& view = *viewGrid_;
  view.SetColCount(cols);
  if (maxRow_ >= minRow_) {
    view.SetWindow(dataGrid_, minRow_);
    view.SetRowCount(maxRow_ - minRow_ + 2);
  } else {
    view.SetRowCount(2);
    view.SetWindow(nullptr, 1);
    for (std::int32_t j = 1; j < cols; ++j) {
      view.SetCells(j, 1, {});
      view.SetObjects(j, 1, 0);
    }
  }
  for (std::int32_t j = 1; j < cols; ++j) view.SetCells(j, 0, GridColumnName(j));
  view.NumberRows(minRow_);
}

void TXLSASCIIImport::GridDrawCell(TStringGrid& grid, std::int32_t Col, std::int32_t Row, const TRect& Rect) {
  TGridCanvas* canvas = grid.Canvas;
  if (canvas == nullptr) return;
  const std::string text = grid.Cells(Col, Row);
  if (Col > 0 && Row > 0) {
    if (grid.Objects(Col, Row) < 0) {
      canvas->SetBrushColor(clWhite);
      canvas->SetFontColor(clBlack);
    } else {
      if (canvas->BrushColor() == clBlack) canvas->SetBrushColor(clWhite);
      const std::int32_t height = canvas->TextHeight("Åj") + 2;
      if (grid.RowHeights(Row) < height) grid.SetRowHeights(Row, height);
    }
    canvas->FillRect(Rect);
    canvas->TextRect(Rect, Rect.Left + 2, Rect.Top + 2, text);
  } else {
    canvas->SetBrushColor(grid.FixedColor);
    canvas->SetFontColor(clBlack);
    canvas->FillRect(Rect);
    const std::int32_t x = Rect.Left + Rect.Width() / 2 - canvas->TextWidth(text) / 2;
    canvas->TextRect(Rect, x, Rect.Top + 2, text);
  }
}

void TXLSASCIIImport::StreamRows(std::int32_t First, std::int32_t Last,
                                 const std::function<bool(std::int32_t)>& Visit) {
  First = std::max(First, 1);
  if (extentKnown_) Last = std::min(Last, GetLastRow());
  if (First > Last) return;
  if (!streamable_ || KeepRows < 0) {  // the grid holds every row
    for (std::int32_t r = First; r <= Last && Visit(r); ++r) {
    }
    return;
  }
  RowSink rows(*dataGrid_, First, Last, Visit, !extentKnown_);
  try {
    const detail::TextSheetInfo text = detail::ReadTextFile(fileName_, TextCodePage, separator_, rows);
    if (!extentKnown_) {
      dataGrid_->SetRowCount(std::max(dataGrid_->RowCount(), text.Records + 1));
      extentKnown_ = true;
    }
    rows.Finish(GetLastRow());
  } catch (const RowSink::Stop&) {
    // the visitor has had its rows, or wants no more
  }
}

void TXLSASCIIImport::ReadExtent() {
  if (extentKnown_) return;
  ExtentSink extent(*dataGrid_);
  const detail::TextSheetInfo text = detail::ReadTextFile(fileName_, TextCodePage, separator_, extent);
  dataGrid_->SetRowCount(std::max(dataGrid_->RowCount(), text.Records + 1));
  extentKnown_ = true;
  SetMinMaxRow();
}

}  // namespace vez
