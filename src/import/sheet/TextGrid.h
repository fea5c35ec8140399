// TextGrid: the string grid the import dialogs show, without a window system.
//
// A TStringGrid is a rectangle of texts, each cell with a 32-bit marker (the grid's per-cell object slot; 0 is
// "no marker"), column widths and row heights in pixels, and a draw handler that the owner installs. Drawing
// goes through TGridCanvas, a small port that a front end implements (a terminal, an image, a test recorder);
// the grid itself never draws. Column 0 and row 0 are the fixed header cells, as in the platform's grid.
//
// Cells outside the grid read as empty text and marker 0; writing one raises EListError. Shrinking the grid
// drops the cells outside; growing it adds empty ones.
//
// Storage is sparse and compact: only cells that were written, markers and row heights other than the default
// take memory, so a grid of a million rows with two cells in it costs two cells. A cell is 8 bytes: a number
// (SetNumber) as its double, a text as the place of its bytes in the grid's text store, which keeps them back to
// back. Rows whose cells run without larger gaps keep no column per cell, and rows written one below the other
// over the same columns (a sheet's rows, as a reader gives them) share one block of cells and no bookkeeping of
// their own, so that a sheet costs its cells and a fixed amount. A text that many cells
// show (a workbook's shared string) is kept once (AddSharedText) and its cells refer to it (SetSharedCell), so
// twenty thousand cells of one long string cost the string once and a slot per cell. The shared texts lie in
// the order of their numbers in blocks of their own, and a table of bounded size holds the place of every K-th
// one (K doubles whenever the table is full), so that a text is found by a walk over at most K - 1 others and a
// workbook's shared strings cost their bytes and a fixed amount, however many there are. A number cell reads as the
// shortest text that gives the same double back (process decimal separator), as a spreadsheet reader writes it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace vez {

// Colours as 0x00BBGGRR, as the platform stored them.
using TColor = std::uint32_t;
inline constexpr TColor clBlack = 0x000000;
inline constexpr TColor clWhite = 0xFFFFFF;
inline constexpr TColor clBtnFace = 0xF0F0F0;

struct TRect {
  std::int32_t Left = 0, Top = 0, Right = 0, Bottom = 0;
  std::int32_t Width() const { return Right - Left; }
  std::int32_t Height() const { return Bottom - Top; }
};

// The drawing surface of a grid.
class TGridCanvas {
public:
  virtual ~TGridCanvas() = default;
  virtual TColor BrushColor() const = 0;
  virtual void SetBrushColor(TColor color) = 0;
  virtual void SetFontColor(TColor color) = 0;
  virtual void FillRect(const TRect& rect) = 0;
  virtual std::int32_t TextWidth(std::string_view text) = 0;
  virtual std::int32_t TextHeight(std::string_view text) = 0;
  // Draws text with its top-left corner at (x, y), clipped to clip.
  virtual void TextRect(const TRect& clip, std::int32_t x, std::int32_t y, std::string_view text) = 0;
};

class TStringGrid {
public:
  using DrawCellEvent = std::function<void(TStringGrid& grid, std::int32_t col, std::int32_t row, const TRect& rect)>;

  TStringGrid(std::int32_t cols = 5, std::int32_t rows = 5);

  std::int32_t ColCount() const { return colCount_; }
  std::int32_t RowCount() const { return rowCount_; }
  void SetColCount(std::int32_t count);
  void SetRowCount(std::int32_t count);

  // The text of a cell (a number cell as its shortest text).
  std::string Cells(std::int32_t col, std::int32_t row) const;
  void SetCells(std::int32_t col, std::int32_t row, std::string_view text);
  // A number cell: a finite number is kept as it is (-0 as 0, as its text reads), any other as its text.
  void SetNumber(std::int32_t col, std::int32_t row, double value);
  // True, with the number, when the cell holds a number; false for text and empty cells.
  bool CellNumber(std::int32_t col, std::int32_t row, double& value) const;
  // The text of a text cell, valid until the grid changes; empty for number and empty cells.
  std::string_view CellText(std::int32_t col, std::int32_t row) const;
  // Keeps a text that cells may share and answers its number; SetSharedCell makes a cell show it. Shared texts
  // live as long as the grid (a cell set again with SetCells holds its own text) or until DropUnusedShared.
  std::int32_t AddSharedText(std::string_view text);
  // Keeps room for the index of `count` more shared texts (the index is bounded: this never takes more than it).
  void ReserveSharedTexts(std::size_t count);
  void SetSharedCell(std::int32_t col, std::int32_t row, std::int32_t shared);
  std::string_view SharedText(std::int32_t shared) const;  // the text of a shared text kept
  // True once a cell has been made to show the shared text (SetSharedCell), even if that cell holds another
  // value since (DropUnusedShared makes it say again whether a cell shows it).
  bool SharedTextShown(std::int32_t shared) const;
  std::size_t SharedTexts() const { return sharedLive_; }  // the shared texts kept
  std::size_t SharedTextBytes() const;  // the memory the shared texts' blocks take (used or not)
  std::size_t TextGarbage() const { return garbage_; }  // bytes of the texts given up and not yet given back
  std::size_t TextBlockBytes() const { return blockBytes_; }  // the memory the cells' own texts' blocks take
  // How often the shared texts were copied to give back those given up (copying them with none given up only costs).
  std::size_t SharedCompactions() const { return sharedCompactions_; }
  // Gives up the shared texts numbered `from` and on that no cell shows (a number no cell shows may be given again).
  void DropUnusedShared(std::int32_t from = 0);
  std::int32_t Objects(std::int32_t col, std::int32_t row) const;
  void SetObjects(std::int32_t col, std::int32_t row, std::int32_t marker);

  std::int32_t ColWidths(std::int32_t col) const;
  void SetColWidths(std::int32_t col, std::int32_t width);
  std::int32_t RowHeights(std::int32_t row) const;
  void SetRowHeights(std::int32_t row, std::int32_t height);
  std::int32_t DefaultColWidth = 64;
  std::int32_t DefaultRowHeight = 18;
  TColor FixedColor = clBtnFace;

  // The draw handler and the surface it draws on (not owned; may be null).
  DrawCellEvent OnDrawCell;
  TGridCanvas* Canvas = nullptr;
  // Calls the draw handler for one cell with the cell's rectangle; nothing without handler or canvas.
  void DrawCell(std::int32_t col, std::int32_t row);
  TRect CellRect(std::int32_t col, std::int32_t row) const;

  // Shows rows of another grid: cell (c, r) with c, r >= 1 reads and writes cell (c, r - 1 + firstRow) of
  // source (shared, so it lives as long as the view shows it), and a view of a large file costs no copy. Row 0
  // and column 0 stay the view's own. nullptr ends the window.
  void SetWindow(std::shared_ptr<TStringGrid> source, std::int32_t firstRow);
  // Column 0 of rows 1 and on reads as the numbers first, first + 1, ... (unless a text was set there).
  void NumberRows(std::int32_t first);
  // Number of cells that hold a text.
  std::size_t StoredCells() const;
  // The slots of 8 bytes the cells take, empty ones among them (a row's or a run's gaps): what the cells cost.
  std::size_t Slots() const;
  // How often a row's run was looked up in the map of runs (a row read or written cell by cell takes one).
  std::size_t RunLookups() const { return runLookups_; }
  // Forgets the texts of a row's cells (the grid's own; a window's source keeps its rows).
  void ClearRow(std::int32_t row);

private:
  // A cell's value in 8 bytes: a finite double stands for itself; patterns of a NaN, which no stored number
  // has, carry an empty slot, a text (its place in the text store) and a shared text (its number).
  using Value = std::uint64_t;
  // Rows of cells, kept by their first row. A single row (Rows == 1) is dense (Cols empty: Values[i] is column
  // First + i, gaps held as empty slots) or, once a cell would leave a larger gap, sparse (Cols[i] the column of
  // Values[i], ascending). A run of rows (Rows > 1) is dense with the same columns in every row: row k of the run
  // holds Values[k * Width() ...], empty cells as empty slots; its size is bounded (kRunSlots), so that growing
  // or splitting one copies a bounded amount.
  struct Run {
    std::int32_t Rows = 1;
    std::int32_t First = 0;
    std::vector<Value> Values;
    std::vector<std::int32_t> Cols;
    std::size_t Span = 0;  // a run's columns (kept, since every cell looked up needs them)
    std::size_t Width() const { return Rows == 1 ? Values.size() : Span; }
  };
  using Runs = std::map<std::int32_t, Run>;
  Value& At(std::int32_t col, std::int32_t row);  // a cell's slot, made empty when new (the source's, in a window)
  const Value* Find(std::int32_t col, std::int32_t row) const;  // null for absent and empty cells
  // The run that holds `row` and its first row (key), or null.
  Run* RunOf(std::int32_t row, std::int32_t& key) const;
  // A row written last (lastRow_) and left for another: it joins the run above it when it fits there, or, the
  // last row of a run whose columns it leaves mostly empty, becomes a row of its own.
  void Settle();
  // Makes the last row of `run` a single row of its own (its empty slots at both ends left out).
  Run& DetachLast(Runs::iterator run);
  bool Own(std::int32_t col, std::int32_t row) const { return source_ == nullptr || col == 0 || row == 0; }
  // Empties the cells for which `drop(col, row)` says true, among rows [from, to) (all rows: 0, INT32_MAX).
  template <class Pred>
  void DropCells(std::int32_t from, std::int32_t to, Pred drop);
  // Drops the cells and markers outside the grid, and in a window those it no longer stores itself.
  void DropOutside();
  // The text store: each text as its length (a byte; 255 and four bytes from 255 bytes on) and its bytes, in
  // blocks that never move. Texts that are overwritten or dropped leave garbage, which is given back by copying
  // the live texts once it outweighs them.
  Value StoreText(std::string_view text);
  std::string_view TextAt(Value v) const;
  void Release(Value v);  // counts the value's text as garbage (the store is not changed)
  void CompactIfWasteful();  // at the end of a change, when no value given up is looked at any more
  void Compact();
  // The shared texts: each as a header (its length and state, see TextGrid.cpp) and its bytes, in the order of
  // their numbers, back to back in blocks that hold nothing else (a block's first `Used` bytes hold texts). A
  // place is block * 2^32 + offset. A text given up stays, as garbage, until a compaction makes it a header alone;
  // those at the end go at once, so that their numbers are given again.
  struct SharedBlock {
    std::unique_ptr<char[]> Bytes;
    std::size_t Size = 0, Used = 0;
  };
  static std::uint64_t NextShared(const std::vector<SharedBlock>& blocks, std::uint64_t place);
  char* SharedAt(std::uint64_t place) const { return sharedBlocks_[place >> 32].Bytes.get() + (place & 0xFFFF'FFFFu); }
  std::uint64_t SharedRoom(std::size_t need);  // the place of `need` more bytes at the end
  // The place of a shared text (numbered below sharedCount_): from the checkpoint before it, or from the text
  // looked up last when that is nearer, so that texts looked up in order cost a step each.
  std::uint64_t SharedPlace(std::size_t number) const;
  // The place of a shared text kept (not given up); throws for any other number.
  std::uint64_t LiveShared(std::int32_t shared) const;
  void PlaceShared(std::string_view text, unsigned state);  // adds a text at the end (and its checkpoint)
  void CompactShared();  // the texts given up become headers alone

  std::int32_t colCount_ = 0, rowCount_ = 0;
  Runs runs_;
  // The few cells that a run's row holds beyond the run's columns (and cells of rows that a run held before),
  // by row * 2^32 + column; a cell is never both here and in a run.
  std::map<std::uint64_t, Value> outside_;
  std::vector<std::unique_ptr<char[]>> blocks_;
  std::size_t fill_ = SIZE_MAX;                // the block being filled (none: past the end)
  std::size_t blockUsed_ = 0, blockSize_ = 0;  // of that block
  std::size_t blockBytes_ = 0;                 // the sizes of all blocks
  std::size_t liveText_ = 0, garbage_ = 0;     // bytes of the store (length fields included)
  std::vector<SharedBlock> sharedBlocks_;
  std::vector<std::uint64_t> checkpoints_;  // the place of shared text k * sharedStride_ (at most kCheckpoints)
  std::size_t sharedStride_ = 1;
  std::size_t sharedCount_ = 0;                      // numbers given, those given up among them
  std::size_t sharedLive_ = 0;                       // texts kept
  std::size_t sharedText_ = 0, sharedGarbage_ = 0;  // bytes of the texts kept and given up (in liveText_, garbage_)
  std::size_t sharedCompactions_ = 0;
  mutable std::size_t walkNumber_ = SIZE_MAX;        // the shared text looked up last (SIZE_MAX: none) and its place
  mutable std::uint64_t walkPlace_ = 0;
  // The few cells with a marker, by row * 2^32 + column: kept apart, so a cell of a large sheet is one slot.
  std::unordered_map<std::uint64_t, std::int32_t> markers_;
  std::vector<std::int32_t> colWidths_;
  std::unordered_map<std::int32_t, std::int32_t> rowHeights_;  // those that differ from the default
  std::shared_ptr<TStringGrid> source_;
  std::int32_t firstRow_ = 1;
  std::int32_t firstNumber_ = 0;  // 0: rows are not numbered
  // The run looked up last, so that a row read or written cell by cell is found once. Runs stay where they are
  // in the map until erased, which clears this.
  mutable std::int32_t cachedKey_ = 0;
  mutable Run* cachedRun_ = nullptr;
  mutable std::size_t runLookups_ = 0;
  std::int32_t lastRow_ = -1;  // the row written last (-1: none to settle)
  std::size_t widthHint_ = 0;  // cells of the row written last, at its end (see At)
};

}  // namespace vez
