// Hostile workbooks in bounded memory: many cells of one long shared string (.xlsx and .xls, made here), the
// grid's text limit and the budget loaders share, and BIFF2/3 text cells whose length passes their record.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zip.h>

#include <fstream>
#include <functional>

#include "TestUtil.h"
#include "core/Exceptions.h"
#include "import/XLS_ASCII_Import.h"
#include "import/mapping/LibraryImport.h"

namespace vez {
namespace {

constexpr int kRows = 20000;
const std::string kLong(32760, 'x');

std::string Le(std::uint64_t v, int bytes) {
  std::string out;
  for (int i = 0; i < bytes; ++i) out += static_cast<char>(v >> (8 * i));
  return out;
}
std::string Record(std::uint16_t type, const std::string& data) { return Le(type, 2) + Le(data.size(), 2) + data; }

// Column A the numbers 1 .. kRows, column B the one shared string in every row; a second entry no cell shows.
void WriteXlsx(const std::string& file) {
  std::string sheet = "<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"><sheetData>";
  for (int r = 1; r <= kRows; ++r)
    sheet += "<row r=\"" + std::to_string(r) + "\"><c><v>" + std::to_string(r) + "</v></c><c t=\"s\"><v>0</v></c></row>";
  const std::pair<const char*, std::string> parts[] = {
      {"xl/workbook.xml", "<workbook><sheets><sheet name=\"S\" r:id=\"r1\" xmlns:r=\"x\"/></sheets></workbook>"},
      {"xl/_rels/workbook.xml.rels",
       "<Relationships><Relationship Id=\"r1\" Type=\"x/worksheet\" Target=\"s.xml\"/>"
       "<Relationship Id=\"r2\" Type=\"x/sharedStrings\" Target=\"t.xml\"/></Relationships>"},
      {"xl/t.xml", "<sst><si><t>" + kLong + "</t></si><si><t>unused</t></si></sst>"},
      {"xl/s.xml", sheet + "</sheetData></worksheet>"}};
  int error = 0;
  zip_t* z = zip_open(file.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
  for (const auto& [name, text] : parts)
    zip_file_add(z, name, zip_source_buffer(z, text.data(), text.size(), 0), 0);
  ASSERT_EQ(0, zip_close(z));
}

// A raw BIFF8 stream: globals with the shared strings (Latin-1, over a SST and CONTINUE records) and one sheet.
void WriteXls(const std::string& file) {
  const std::string bof = Le(0x0600, 2) + Le(0x0005, 2) + std::string(12, '\0');
  std::string sst = Le(kRows, 4) + Le(2, 4) + Le(kLong.size(), 2) + '\0';
  std::string continues;
  std::size_t first = 8224 - sst.size();
  sst += kLong.substr(0, first);
  for (std::size_t at = first; at < kLong.size(); at += 8223) continues += Record(0x003C, '\0' + kLong.substr(at, 8223));
  continues += Record(0x003C, Le(6, 2) + '\0' + "unused");
  const std::string sheetName = Le(1, 1) + '\0' + "S";
  const std::size_t globals = 4 + bof.size() + 4 + sst.size() + continues.size() + 4 + 6 + sheetName.size() + 4;
  std::string stream = Record(0x0809, bof) + Record(0x00FC, sst) + continues +
                       Record(0x0085, Le(globals, 4) + Le(0, 2) + sheetName) + Record(0x000A, "");
  ASSERT_EQ(globals, stream.size());
  stream += Record(0x0809, Le(0x0600, 2) + Le(0x0010, 2) + std::string(12, '\0'));
  for (int r = 0; r < kRows; ++r)  // A: an RK record of the whole number r + 1; B: the shared string
    stream += Record(0x027E, Le(r, 2) + Le(0, 4) + Le((r + 1) << 2 | 2, 4)) + Record(0x00FD, Le(r, 2) + Le(1, 4) + Le(0, 4));
  std::ofstream(file, std::ios::binary) << stream + Record(0x000A, "");
}

// The peak resident memory in MiB of a child that runs `work`, and whether it ended with exit code 0.
std::pair<long, bool> ChildPeakMiB(const std::function<bool()>& work) {
  const pid_t pid = fork();
  if (pid == 0) _exit(work() ? 0 : 1);
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  return {usage.ru_maxrss / 1024, WIFEXITED(status) && WEXITSTATUS(status) == 0};
}

// A dry run of column A into ElementName.
TLibraryImportOptions Options(const std::string& file, const std::string& library) {
  TLibraryImportOptions o;
  o.FileName = file;
  o.LibraryFile = library;
  o.Maps = {{"ElementName", "A"}};
  o.DryRun = true;
  return o;
}

// What an import may take above an idle child. AddressSanitizer keeps up to 256 MiB of freed memory in quarantine
// before reusing it; copies of the shared string would still take over 600 MiB more.
#if defined(__SANITIZE_ADDRESS__)
constexpr long kAllowanceMiB = 64 + 256;
#else
constexpr long kAllowanceMiB = 64;
#endif

TEST(SheetMemory, OneSharedStringInManyCellsIsKeptOnce) {
  test::TempDir dir;
  WriteXlsx(dir.File("amp.xlsx"));
  WriteXls(dir.File("amp.xls"));
  const long idle = ChildPeakMiB([] { return true; }).first;
  for (const char* name : {"amp.xlsx", "amp.xls"}) {
    SCOPED_TRACE(name);
    // Held as copies the cells' text would be 655 MB; the grid keeps it once, and the import of every line runs
    // in the memory of the process plus a few MiB.
    const auto [peak, ok] = ChildPeakMiB([&] {
      TLibraryImportOptions o = Options(dir.File(name), dir.File("emis.abs"));
      o.StartLine = 1;
      TAnsweringDialogs dialogs(TOnExists::Skip);
      TXLSASCIIImport grid;
      TStringGrid view;
      grid.DoImport(view, o.FileName);
      return ImportIntoLibrary(o, dialogs).Added == kRows && grid.GetTextRC(2, kRows) == kLong &&
             grid.TextBytes() < 8 << 20;
    });
    EXPECT_TRUE(ok);
    EXPECT_LT(peak, idle + kAllowanceMiB) << "idle " << idle << " MiB";
    TXLSASCIIImport loaded;  // the cells share one text; the entry no cell shows is not kept
    TStringGrid view;
    loaded.DoImport(view, dir.File(name));
    EXPECT_EQ(1u, loaded.DataGrid().SharedTexts());
    loaded.SetTextRC(2, 1, "own");  // a cell set through the grid leaves the others showing the shared text
    EXPECT_EQ(std::tuple(std::string("own"), kLong, kLong),
              std::tuple(loaded.GetTextRC(2, 1), loaded.GetTextRC(2, 2), loaded.GetTextRC(2, kRows)));
  }
  // A cell written over and over gives its old texts back: 300 texts of 1 MiB in turn in one cell; and so do
  // 300 shared texts of 1 MiB that no cell shows, each given up in turn. Rows of one cell below two rows of
  // 1000 take the room of their cell, not of a row of 1000 (about 100 MB more if they did); rows that run on past
  // the columns of those above them take 8 bytes a cell.
  const auto text = [](int i) { return std::string(1 << 20, static_cast<char>('a' + i % 26)); };
  const auto [peak, ok] = ChildPeakMiB([&] {
    TStringGrid grid(2, 2), rows(1000, 420 * 62);
    for (int i = 0; i < 300; ++i) grid.SetCells(1, 1, text(i));
    for (int i = 0; i < 300; ++i) {
      grid.AddSharedText(text(i));
      grid.DropUnusedShared();
    }
    for (std::int32_t r = 0; r < rows.RowCount(); ++r)
      for (std::int32_t c = 0; c < (r % 62 < 2 ? 1000 : 1); ++c) rows.SetNumber(c, r, r);
    TStringGrid wide(300, 5000);  // rows of 300 below two of 10 take their cells' room (not 90 MB more)
    for (std::int32_t r = 0; r < wide.RowCount(); ++r)
      for (std::int32_t c = 0; c < (r < 2 ? 10 : 300); ++c) wide.SetNumber(c, r, c);
    return grid.Cells(1, 1) == text(299) && grid.SharedTexts() == 0 && rows.Cells(0, 26039) == "26039" &&
           wide.Cells(299, 4999) == "299";
  });
  EXPECT_TRUE(ok);
  EXPECT_LT(peak, idle + kAllowanceMiB) << "idle " << idle << " MiB";
}

// The limit of a loader and the budget loaders share; a BIFF2 and a BIFF3 text cut short by its record.
TEST(SheetMemory, LimitsRefuseWhileReadingAndACutTextFailsItsLine) {
  test::TempDir dir;
  WriteXlsx(dir.File("amp.xlsx"));
  const auto budget = std::make_shared<TGridTextBudget>(std::int64_t{5} << 20);
  std::vector<std::unique_ptr<TXLSASCIIImport>> loaders(3);
  for (auto& loader : loaders) (loader = std::make_unique<TXLSASCIIImport>())->TextBudget = budget;
  loaders[2]->MaxTextBytes = 1 << 20;
  TStringGrid view;
  loaders[0]->DoImport(view, dir.File("amp.xlsx"));  // about 3 MB
  EXPECT_THROW_MSG(loaders[2]->DoImport(view, dir.File("amp.xlsx")), Exception,
                   "The cells of the file hold more than 1 MB of text, the limit of the import; give a larger text "
                   "limit to import it");
  EXPECT_EQ(1u, loaders[2]->DataGrid().SharedTexts());  // refused midway: the entry no cell shows is given up
  EXPECT_THROW_MSG(loaders[1]->DoImport(view, dir.File("amp.xlsx")), Exception,
                   "The open imports hold 5 MB of text, the limit of them all; close one to open this file");
  for (const int i : {0, 2}) loaders[i].reset();
  loaders[1]->DoImport(view, dir.File("amp.xlsx"));  // fits once the others are gone
  EXPECT_EQ(budget->Used(), loaders[1]->TextBytes());
  TLibraryImportOptions dialog = Options(dir.File("amp.xlsx"), dir.File("emis.abs"));
  dialog.TextBudget = budget;  // a server's import dialog beside the loader, which holds 3 MB of the budget's 5
  TAnsweringDialogs dialogs(TOnExists::Skip);
  EXPECT_THROW_MSG(ImportIntoLibrary(dialog, dialogs), Exception,
                   "The open imports hold 5 MB of text, the limit of them all; close one to open this file\r\nFile \"" +
                       dialog.FileName + "\" cannot be opened");
  loaders[1]->MaxCells = 3;  // the most cells a loader takes: 3 load, a fourth is refused
  std::ofstream(dir.File("cells.txt"), std::ios::binary) << "a\tb\nc\n";
  loaders[1]->DoImport(view, dir.File("cells.txt"));
  // The file takes 275 bytes (3 cells of 1 byte and 48 for their places, 2 rows of 64): a limit of a loader's own
  // or a budget one byte short refuses it, one of just that many takes it.
  for (const std::int64_t limit : {274, 275}) {
    TXLSASCIIImport own, sharing;
    own.MaxTextBytes = limit;
    sharing.TextBudget = std::make_shared<TGridTextBudget>(limit);
    for (TXLSASCIIImport* loader : {&own, &sharing})
      if (limit < 275) EXPECT_THROW(loader->DoImport(view, dir.File("cells.txt")), Exception);
      else EXPECT_NO_THROW(loader->DoImport(view, dir.File("cells.txt")));
  }
  std::ofstream(dir.File("cells.txt"), std::ios::binary) << "a\tb\nc\td\n";
  EXPECT_THROW_MSG(loaders[1]->DoImport(view, dir.File("cells.txt")), Exception, "The file holds more than 3 cells");
  for (const bool biff3 : {false, true}) {
    const auto label = [&](int row, const std::string& text, std::size_t declared) {
      return Record(biff3 ? 0x0204 : 0x0004, Le(row, 2) + Le(0, 2) + (biff3 ? Le(0, 2) + Le(declared, 2)
                                                                           : std::string(3, '\0') + Le(declared, 1)) + text);
    };
    std::ofstream(dir.File("cut.xls"), std::ios::binary)
        << Record(biff3 ? 0x0209 : 0x0009, Le(0, 2) + Le(0x0010, 2)) + label(0, "Name", 4) + label(1, "Fan", 10) +
               label(2, "Wall", 4) + Record(0x000A, "");
    TLibraryImportOptions o = Options(dir.File("cut.xls"), dir.File("emis.abs"));
    const TLibraryImportResult r = ImportIntoLibrary(o, dialogs);
    ASSERT_EQ(1u, r.Errors.size());
    EXPECT_EQ(std::tuple(1, 2, std::string("A"), std::string("ElementName"),
                         std::string("The text of the cell is cut short: its record holds 3 of the 10 characters it "
                                     "declares")),
              std::tuple(r.Added, r.Errors[0].Line, r.Errors[0].Column, r.Errors[0].Field, r.Errors[0].Message));
  }
}

}  // namespace
}  // namespace vez
