// The export of a library to .xlsx, .csv and .txt: every kind of value read back (the workbook by openpyxl, an
// independent reader that also tells the cells' types), the refusals that leave no file, and the import of each
// exported file giving the library back.
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "TestUtil.h"
#include "core/FormatSettings.h"
#include "import/mapping/LibraryImport.h"
#include "librarydb/Layouts.h"
#include "librarydb/LibraryFile.h"
#include "librarydb/OVLibConst.h"
#include "librarydb/RecordRules.h"
#include "output/LibraryExport.h"
#include "output/ValueText.h"

// Faults of the files whose path holds gFaultFile: reads and writes a signal interrupts, writes that take nothing
// (each as many times as asked for).
static const char* gFaultFile = "";
static int gInterruptedReads = 0, gInterruptedWrites = 0, gEmptyWrites = 0;
static bool Faulty(int fd) {
  char link[4096];
  const ssize_t n = readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), link, sizeof link);
  return n > 0 && std::string_view(link, static_cast<size_t>(n)).find(gFaultFile) != std::string_view::npos;
}
extern "C" ssize_t read(int fd, void* data, size_t size) {
  if (gInterruptedReads > 0 && Faulty(fd)) return --gInterruptedReads, errno = EINTR, -1;
  return syscall(SYS_read, fd, data, size);
}
extern "C" ssize_t write(int fd, const void* data, size_t size) {
  if (gInterruptedWrites + gEmptyWrites > 0 && size > 0 && Faulty(fd))
    return gInterruptedWrites > 0 ? (--gInterruptedWrites, errno = EINTR, -1) : (--gEmptyWrites, 0);
  return syscall(SYS_write, fd, data, size);
}

namespace vez {
namespace {

namespace fs = std::filesystem;
using Grid = std::vector<std::vector<std::string>>;

const std::vector<std::string> kFields = {"ElementName", "kommentar", "VALUES1", "Lower",
                                          "Terz", "LastChangeDateTime", "Graphic"};

// An emission library of three records holding texts with quotes, separators and line breaks, empty fields, both
// Booleans, dates with milliseconds, before the workbooks' phantom 29 February 1900 and before any date a workbook
// shows, a BLOB, and numbers of 1, 3 and 17 digits.
std::string MakeLibrary(const test::TempDir& dir, const std::string& longComment = "") {
  const std::string path = CreateLibraryFile(ltEmis, dir.Path().string(), false);
  TLibraryFile lib(path, true);
  TRecordWriter w(lib.Table(), ltEmis);
  const std::vector<std::vector<std::string>> records = {
      {"Quote \"q\", comma", "line1\nline2\tTab", "0.1", "3", "True", "2024-05-31T14:30:15.250"},
      {"\xc3\x84ther", longComment, "1e-300", "0", "False", "1900-01-01T12:00:00"},
      {"plain _x0041_", "", "0.30000000000000004", "1", "True", "1899-12-31T12:00:00"}};
  for (const auto& r : records) {
    w.Append(Now());
    for (std::size_t i = 0; i < r.size(); ++i) w.SetText(w.FieldIndex(kFields[i]), r[i]);
    w.Post(Now());
  }
  lib.Table().First();
  lib.Table().Edit();
  lib.Table().FieldByName("Graphic").SetValue(Variant(std::string("\x00\x01\xff", 3)));
  lib.Table().Post();
  return path;
}

// Delimited text as RFC 4180 reads it: quoted fields may hold separators, doubled quotes and line breaks.
Grid ParseDelimited(const std::string& text, char sep) {
  Grid rows(1, std::vector<std::string>(1));
  bool quoted = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    std::string& cell = rows.back().back();
    if (quoted && c == '"' && i + 1 < text.size() && text[i + 1] == '"') cell += text[i++];
    else if (c == '"') quoted = !quoted;
    else if (quoted || (c != sep && c != '\n' && c != '\r')) cell += c;
    else if (c == sep) rows.back().emplace_back();
    else if (c == '\n') rows.emplace_back(1);
  }
  if (rows.back() == std::vector<std::string>(1)) rows.pop_back();
  return rows;
}

// The sheet's title and rows as openpyxl reads them: Python literals, dates as ISO text to the millisecond.
Grid ReadWorkbook(const std::string& path) {
  std::ofstream(path + ".py")
      << "import sys, datetime, openpyxl\n"
         "ws = openpyxl.load_workbook(sys.argv[1]).worksheets[0]\nprint(ws.title)\n"
         "v = lambda c: (c + datetime.timedelta(microseconds=500)).isoformat(timespec='milliseconds') "
         "if isinstance(c, datetime.datetime) else repr(c)\n"
         "for row in ws.iter_rows(values_only=True): print('\\t'.join(v(c) for c in row))\n";
  FILE* p = popen(("PYTHONIOENCODING=utf-8 /usr/bin/python3 '" + path + ".py' '" + path + "'").c_str(), "r");
  std::string out;
  for (char buf[4096]; std::size_t n = std::fread(buf, 1, sizeof buf, p);) out.append(buf, n);
  EXPECT_EQ(0, pclose(p)) << "openpyxl (Debian python3-openpyxl) could not read " << path;
  fs::remove(path + ".py");
  Grid rows;
  for (const std::string& line : test::SplitLines(out)) rows.push_back(test::SplitTabs(line));
  return rows;
}

// The records as `vezi dump` prints them, an empty field as an empty text; date-times to the second when asked.
Grid Dump(const std::string& path, bool seconds) {
  TLibraryFile lib(path, false);
  Grid rows;
  for (lib.Table().First(); !lib.Table().Eof(); lib.Table().Next()) {
    rows.emplace_back();
    for (int i = 0; i < lib.Table().FieldCount(); ++i) {
      const TField& f = lib.Table().Fields(i);
      Variant v = f.Value();
      if (seconds && f.ValueKind() == TField::Kind::DateTime && !v.IsClear())
        v = Variant::FromDateTime(std::round(v.AsDateTime() * 86400.0) / 86400.0);
      rows.back().push_back(PlainText(v, ValueStyleOf(f.DataType())).value_or(""));
    }
  }
  return rows;
}

// Each format read back as written, then imported with auto link into a new library: the library comes back.
TEST(LibraryExport, EveryFormatHoldsEveryValueAndImportsBack) {
  test::TempDir dir;
  const std::string lib = MakeLibrary(dir);
  const Grid text = {{"ElementName", "Kommentar", "Values1", "Lower", "Terz", "LastChangeDateTime", "Graphic"},
                     {"Quote \"q\", comma", "line1\nline2\tTab", "0.1", "3", "True", "2024-05-31T14:30:15.250", "AAH/"},
                     {"\xc3\x84ther", "", "1e-300", "0", "False", "1900-01-01T12:00:00.000", ""},
                     {"plain _x0041_", "", "0.30000000000000004", "1", "True", "1899-12-31T12:00:00.000", ""}};
  // The workbook (tests/data/output/export-book.txt): typed cells with every digit, a date before 1900 as text, and
  // "_x0041_" escaped as spreadsheet programs read it (openpyxl shows inline strings undecoded, the import decodes).
  const Grid book = test::DataRows("output/export-book.txt");
  for (const std::string format : {"csv", "TXT", "xlsx"}) {
    const std::string name = "out." + format;
    SCOPED_TRACE(name);
    TExportOptions o;
    o.Fields = kFields;
    std::vector<std::int64_t> progress;
    o.Progress = [&](std::int64_t done, std::int64_t total) { progress.push_back(done * 10 + total); };
    const TExportResult r = ExportLibrary(lib, dir.File(name), o);
    EXPECT_EQ(std::tuple(3, std::vector<std::int64_t>{33}, LowerCase(format), 0),
              std::tuple(r.Records, progress, r.Format, r.NumbersRounded));
    const std::string bytes = test::ReadFile(dir.File(name));
    const bool csv = r.Format == "csv", xlsx = r.Format == "xlsx";
    if (xlsx) {
      EXPECT_EQ(book, ReadWorkbook(dir.File(name)));
    } else {
      // CSV as spreadsheet programs write "CSV UTF-8" (byte order mark, CR LF); tab-separated text with LF only.
      EXPECT_EQ(csv, bytes.starts_with("\xEF\xBB\xBF" "ElementName,Kommentar,"));
      EXPECT_EQ(csv, bytes.find('\r') != std::string::npos);
      EXPECT_EQ(text, ParseDelimited(bytes.substr(csv ? 3 : 0), csv ? ',' : '\t'));
    }
    ASSERT_EQ(3, ExportLibrary(lib, dir.File("all." + format), {}).Records);
    TLibraryImportOptions io;
    io.FileName = dir.File("all." + format);
    io.LibraryFile = dir.File(format + "/emis.abs");
    io.AutoLink = true;
    TAnsweringDialogs dialogs(TOnExists::Skip);
    const TLibraryImportResult back = ImportIntoLibrary(io, dialogs);
    ASSERT_EQ(3, back.Added) << (back.Errors.empty() ? "" : back.Errors[0].Message);
    // A cell shows an empty text and an empty field alike; a workbook's date format shows seconds.
    EXPECT_EQ(Dump(lib, xlsx), Dump(io.LibraryFile, false));
  }
  // Only the records whose name holds the text, in any letter case; every field in the table's order.
  TExportOptions o;
  o.WhereName = "\xc3\xa4THER";
  ASSERT_EQ(1, ExportLibrary(lib, dir.File("one.txt"), o).Records);
  const Grid one = ParseDelimited(test::ReadFile(dir.File("one.txt")), '\t');
  ASSERT_EQ(2u, one.size());
  EXPECT_EQ((Grid{{"Eintrag", "ElementName", "Values1"}, {"2", "\xc3\x84ther", "1e-300"}}),
            (Grid{{one[0].begin(), one[0].begin() + 3}, {one[1].begin(), one[1].begin() + 3}}));
}

// Computed doubles (most with 17 significant digits) in every number field of a few thousand records: the
// workbook's XML passes its writer's buffers many times over, each value cut at any place of them, and every
// double comes back exactly.
TEST(LibraryExport, ComputedDoublesComeBackExactFromALargeWorkbook) {
  test::TempDir dir;
  const std::string lib = CreateLibraryFile(ltEmis, dir.Path().string(), false);
  {
    TLibraryFile file(lib, true);
    TABSTable& t = file.Table();
    TABSTransaction transaction(file.Database());
    for (int r = 0; r < 3000; ++r) {
      t.Append();
      t.FieldByName("ElementName").SetAsString("n" + std::to_string(r));
      for (int i = 0; i < t.FieldCount(); ++i)
        if (t.Fields(i).ValueKind() == TField::Kind::Float) t.Fields(i).SetAsFloat(40.0 + (r * 7 + i) / 3.0);
      t.Post();
    }
    transaction.Commit();
  }
  ASSERT_EQ(3000, ExportLibrary(lib, dir.File("big.xlsx"), {}).Records);
  TLibraryImportOptions io;
  io.FileName = dir.File("big.xlsx");
  io.LibraryFile = dir.File("back/emis.abs");
  io.AutoLink = true;
  TAnsweringDialogs dialogs(TOnExists::Skip);
  ASSERT_EQ(3000, ImportIntoLibrary(io, dialogs).Added);
  EXPECT_EQ(Dump(lib, true), Dump(io.LibraryFile, false));
}

TEST(LibraryExport, RefusalsAndInterruptsLeaveNoFile) {
  test::TempDir dir;
  const std::string lib = MakeLibrary(dir, std::string(32768, 'x'));
  const std::string old = dir.File("old.xlsx");
  std::ofstream(old) << "keep";
  auto with = [](std::vector<std::string> fields, bool overwrite = false) {
    TExportOptions o;
    o.Fields = std::move(fields);
    o.Overwrite = overwrite;
    return o;
  };
  TExportOptions stop;
  stop.Interrupted = [] { return true; };  // asked once more before the file would appear
  const struct {
    std::string out;
    TExportOptions options;
    std::string message;  // its beginning; empty: interrupted
  } cases[] = {
      {old, {}, "'" + old + "' exists already"},
      {dir.File("a.ods"), {}, "Cannot export to '" + dir.File("a.ods") + "': the file name must end in .xlsx, .csv"},
      {dir.File("a.csv"), with({"Values1", "Colour"}), "The library has no field \"Colour\" (its fields: Eintrag, "},
      {dir.File("a.csv"), with({"lower", "LOWER"}), "The field \"Lower\" is given twice"},
      {old, with({"Kommentar"}, true),
       "The text of record 2 (\"\xc3\x84ther\"), field \"Kommentar\", has 32768 characters; an .xlsx cell holds"},
      {dir.File("new.csv"), stop, ""},
  };
  // A failed export also leaves no file open (the workbook's temporary file among them).
  const auto open = [] { return std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator()); };
  const auto openBefore = open();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.out + " " + c.message);
    try {
      EXPECT_TRUE(ExportLibrary(lib, c.out, c.options).Interrupted && c.message.empty());
    } catch (const Exception& e) {
      EXPECT_TRUE(!c.message.empty() && std::string(e.what()).starts_with(c.message)) << e.what();
    }
    EXPECT_EQ("keep", test::ReadFile(old));
    std::vector<std::string> files;
    for (const auto& entry : fs::directory_iterator(dir.Path())) files.push_back(entry.path().filename().string());
    std::sort(files.begin(), files.end());
    EXPECT_EQ((std::vector<std::string>{"emis.abs", "old.xlsx"}), files);
    EXPECT_EQ(openBefore, open());
  }
  ASSERT_EQ(3, ExportLibrary(lib, old, with({"Eintrag"}, true)).Records);
  EXPECT_TRUE(test::ReadFile(old).starts_with("PK"));
  // The workbook's temporary file (unnamed) or the file a .csv is written into before it takes its name: one that
  // takes nothing fails the export at once (no file, nothing spins); a read or write a signal interrupts is made
  // again.
  for (const auto& [out, file, reads] : {std::tuple("w.xlsx", " (deleted)", 1), std::tuple("w.csv", ".part", 0)}) {
    gFaultFile = file;
    gEmptyWrites = 3;
    EXPECT_THROW(ExportLibrary(lib, dir.File(out), with({"Eintrag"})), Exception) << out;
    EXPECT_EQ(std::pair(2, false), std::pair(std::exchange(gEmptyWrites, 0), fs::exists(dir.File(out)))) << out;
    gInterruptedReads = reads;
    gInterruptedWrites = 1;
    ASSERT_EQ(3, ExportLibrary(lib, dir.File(out), with({"Eintrag"})).Records) << out;
    EXPECT_EQ(std::pair(0, 0), std::pair(gInterruptedReads, gInterruptedWrites)) << out;
  }
}

}  // namespace
}  // namespace vez
