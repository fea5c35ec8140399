#include "convert/ConvertParadox.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>

#include "core/Exceptions.h"
#include "core/FileMask.h"
#include "core/FormatSettings.h"
#include "import/SMParadox.h"
#include "librarydb/Absmain.h"
#include "librarydb/Defaults.h"
#include "librarydb/Layouts.h"
#include "librarydb/OVLibConst.h"
#include "settings/IniConsts.h"

namespace vez {

namespace fs = std::filesystem;

namespace {

// Message texts of the conversion.
constexpr const char* kConvertingLine = "Converting: \"%s\"";
constexpr const char* kFieldMissingLine = "Field not found \"%s\"";
constexpr const char* kUnknownType = "Unknown Database Type";
constexpr const char* kNoDefinitions = "Error: Neither Field- nor Index definitions";
constexpr const char* kUnknownFieldType = "Unknown FieldType";
constexpr const char* kFolderLine = "Converting Folder \"%s\"";
constexpr const char* kDeletingLine = "Deleting \"%s\"";

std::string ErrorLine(const std::string& message) { return "Error: \"" + message + "\""; }

// A log line that reports an error (counted for the caller's summary). A table whose name has no library type
// is not an error: it is simply no library and stays as it is.
bool IsErrorLine(const std::string& line) { return line.rfind("Error:", 0) == 0; }

// The day number of the date this library was built (__DATE__ is "Mmm dd yyyy").
Date BuildDate() {
  static const char* const months = "JanFebMarAprMayJunJulAugSepOctNovDec";
  const std::string d = __DATE__;
  const int month = static_cast<int>(std::string(months).find(d.substr(0, 3)) / 3) + 1;
  const int day = std::atoi(d.substr(4, 2).c_str());
  const int year = std::atoi(d.substr(7, 4).c_str());
  return DMYtoDate(day, month, year);
}

Date& ProgramDateRef() {
  static Date date = BuildDate();
  return date;
}

// The column type of a Paradox field type for tables without a layout of their own.
bool ColumnTypeOf(std::int32_t paradoxType, std::int32_t paradoxSize, TFieldType& type, std::int32_t& size) {
  size = 0;
  switch (paradoxType) {
    case 1: type = ftString; size = std::max(paradoxSize, 0); return true;
    case 2: type = ftDate; return true;
    case 3: type = ftSmallint; return true;
    case 4: type = ftInteger; return true;
    case 5: type = ftCurrency; return true;
    case 6: type = ftFloat; return true;
    case 9: type = ftBoolean; return true;
    case 12: type = ftMemo; return true;
    case 13: type = ftBlob; return true;
    case 14: type = ftFmtMemo; return true;
    case 15: type = ftParadoxOle; return true;
    case 16: type = ftGraphic; return true;
    case 20: type = ftTime; return true;
    case 21: type = ftDateTime; return true;
    case 22: type = ftAutoInc; return true;
    case 23: type = ftBCD; return true;
    case 24: type = ftBytes; return true;
    default: return false;
  }
}

// Commits the table's transaction on every path: what was posted stays, as it would without a transaction, and
// appears in the file at once.
class TransactionScope {
public:
  explicit TransactionScope(TABSDatabase& db) : db_(db) {
    db_.StartTransaction();
    active_ = true;
  }
  ~TransactionScope() {
    if (!active_) return;
    try {
      db_.Commit();
    } catch (...) {
      try {
        db_.Rollback();
      } catch (...) {
      }
    }
  }
  void Commit() {
    active_ = false;
    db_.Commit();
  }
  TransactionScope(const TransactionScope&) = delete;
  TransactionScope& operator=(const TransactionScope&) = delete;

private:
  TABSDatabase& db_;
  bool active_ = false;
};

struct DirEntry {
  std::string Name;
  bool IsDirectory = false;
  bool IsLink = false;
};

// The entries of a folder in name order (case-insensitive, then by bytes).
std::vector<DirEntry> ListFolder(const std::string& folder) {
  std::vector<DirEntry> entries;
  for (const auto& e : fs::directory_iterator(fs::path(folder))) {
    std::error_code ec;
    DirEntry d;
    d.Name = e.path().filename().string();
    d.IsLink = e.is_symlink(ec);
    d.IsDirectory = e.is_directory(ec);
    entries.push_back(std::move(d));
  }
  std::sort(entries.begin(), entries.end(), [](const DirEntry& a, const DirEntry& b) {
    const int c = CompareText(a.Name, b.Name);
    return c != 0 ? c < 0 : a.Name < b.Name;
  });
  return entries;
}

struct Pass {
  const char* Mask;
  const char* NewExtension;
  bool SkipListed;
};
constexpr Pass kPasses[] = {
    {"*.run", ".runx", false},
    {"*.sdb", ".sdbx", false},
    {"*.db", ".abs", true},
    {"*.tdb", ".tabs", false},
};

constexpr const char* kNeverConverted[] = {"TmpRun.db", "Attrib.db", "Thumbs.db", "AtWall.db", "AtCalc.db"};

// Companion files of a Paradox table, deleted with it.
std::vector<std::string> CompanionExtensions() {
  std::vector<std::string> exts = {".mb", ".px", ".val"};
  for (char d = '0'; d <= '9'; ++d)
    for (const char* stem : {".xg", ".yg", ".x0", ".y0"}) exts.push_back(std::string(stem) + d);
  return exts;
}

void RemoveIfExists(const std::string& path) {
  std::error_code ec;
  fs::remove(fs::path(path), ec);
}

}  // namespace

void TConvertLog::Add(const std::string& line) {
  lines_.Add(line);
  if (view_) view_->LogLine(line);
}

void SetProgramDate(Date programDate) { ProgramDateRef() = programDate; }
Date ProgramDate() { return ProgramDateRef(); }

bool ParadoxToABS(TConvertLog* Memo, TConversionView* View, const std::string& SrcDir, const std::string& DestDir,
                  const std::string& ParadoxName, const std::string& DestName, TConvertedTable* report) {
  TConvertedTable local;
  TConvertedTable& r = report ? *report : local;
  r = TConvertedTable{};
  r.Source = SrcDir + ParadoxName;
  r.Target = DestDir + DestName;
  auto log = [&](const std::string& line) {
    if (IsErrorLine(line)) ++r.Errors;
    if (Memo) Memo->Add(line);
  };

  bool result = false;
  auto reader = std::make_unique<TDBParadox>();
  reader->StepLoading = false;
  log(Format(kConvertingLine, SrcDir + ParadoxName));
  if (View) {
    View->SetFileText(ParadoxName);
    View->ProcessMessages();
  }
  auto lib = std::make_unique<TMyTable>(DestDir + DestName, false, false);
  const std::int32_t libType = GetLibType(DestName);
  r.LibType = libType;
  if (libType < 0) {
    log(kUnknownType);
  } else {
    try {
      reader->LoadFromFile(SrcDir + ParadoxName);
      TABSTable& table = lib->Table();
      // Records the block chain really holds: a header that promises more gives no empty records.
      const std::int32_t recordCount = reader->RecordsRead();
      const auto& fields = reader->Fields();
      // A library left by an earlier run is kept: its records stay, and records whose keys exist fail alone.
      if (recordCount > 0 && !lib->Exists()) {
        if (SetFieldIndexDefs(table, libType, false)) {
          lib->CreateDBTable();
        } else {
          table.FieldDefs().Clear();
          for (const auto& f : fields) {
            TFieldType type;
            std::int32_t size;
            if (!ColumnTypeOf(f.FieldType, f.Size, type, size)) throw Exception(kUnknownFieldType);
            table.FieldDefs().Add(f.Name, type, size, false);
          }
          if (SetIndexDefs(table, libType, false)) lib->CreateDBTable();
          else log(kNoDefinitions);
        }
      }
      if (lib->Exists()) {
        result = true;
        table.Open();
        if (reader->Sheets().Count() > 0) {
          const TSpreadSheet& sheet = reader->Sheets()[0];
          std::vector<TField*> targets(fields.size(), nullptr);
          for (std::size_t i = 0; i < fields.size(); ++i) {
            targets[i] = table.FindField(fields[i].Name);
            if (!targets[i]) log(Format(kFieldMissingLine, fields[i].Name));
          }
          TransactionScope transaction(lib->Database());
          for (std::int32_t row = 0; row < recordCount; ++row) {
            ++r.RecordsRead;
            table.Append();
            OnNewRecord(table, libType, false);  // a failure here ends this table
            for (std::size_t i = 0; i < fields.size(); ++i) {
              if (!targets[i]) continue;
              try {
                targets[i]->SetValue(sheet.Cells.GetValue(static_cast<std::int32_t>(i), row));
              } catch (const std::exception& e) {
                log(ErrorLine(e.what()));
              }
            }
            try {
              table.Post();
              ++r.RecordsWritten;
            } catch (const std::exception& e) {
              log(ErrorLine(e.what()));
              table.Delete();
            }
            if (View && ((row + 1) % 1000 == 0 || row + 1 == recordCount)) View->RecordProgress(row + 1, recordCount);
          }
          transaction.Commit();
        }
        table.Close();
      }
    } catch (const std::exception& e) {
      log(ErrorLine(e.what()));
    }
  }
  try {
    lib.reset();  // closes the library; a file without a table is removed
  } catch (const std::exception& e) {
    log(ErrorLine(e.what()));
  }
  reader.reset();
  r.Converted = result;
  return result;
}

TConvParadox::TConvParadox(TConversionView* view) : DeleteList(), Memo1(view), view_(view) {
  DeleteList.SetCaseSensitive(false);
}

void TConvParadox::CountTables(const std::string& folder, bool recursive) {
  std::error_code ec;
  std::vector<DirEntry> entries;
  try {
    entries = ListFolder(folder);
  } catch (const std::exception&) {
    return;  // the walk itself reports the folder's failure
  }
  for (const auto& e : entries) {
    for (const Pass& p : kPasses) {
      if (!MatchesMask(e.Name, p.Mask)) continue;
      const bool neverConverted = std::any_of(std::begin(kNeverConverted), std::end(kNeverConverted),
                                              [&](const char* n) { return SameText(n, e.Name); });
      if (!(p.SkipListed && neverConverted)) ++totalTables_;
    }
  }
  if (!recursive) return;
  for (const auto& e : entries)
    if (e.IsDirectory && !e.IsLink) CountTables(folder + e.Name + "/", recursive);
}

void TConvParadox::ConvertLibs(const std::string& folder, bool recursive) {
  if (tableIndex_ == 0 && totalTables_ == 0) {
    CountTables(folder, recursive);
    if (view_) view_->RunStarted(totalTables_);
  }
  Memo1.Add(Format(kFolderLine, folder));
  for (const char* name : kNeverConverted) DeleteList.Add(folder + name);
  if (view_) view_->SetFolderText(Format(kFolderLine, folder));

  const std::vector<DirEntry> entries = ListFolder(folder);
  for (const Pass& pass : kPasses) {
    for (const auto& e : entries) {
      if (!MatchesMask(e.Name, pass.Mask)) continue;
      const std::string source = folder + e.Name;
      if (pass.SkipListed && DeleteList.IndexOf(source) >= 0) continue;
      ++tableIndex_;
      if (view_) view_->TableStarted(tableIndex_, std::max(totalTables_, tableIndex_), source);
      TConvertedTable report;
      try {
        if (ParadoxToABS(&Memo1, view_, folder, folder, e.Name, ChangeFileExt(e.Name, pass.NewExtension), &report))
          DeleteList.Add(source);
      } catch (const std::exception& ex) {
        Memo1.Add(ErrorLine(ex.what()));
        ++report.Errors;
      }
      Tables.push_back(report);
      if (view_) view_->TableFinished(report);
    }
  }
  if (!recursive) return;
  for (const auto& e : entries)
    if (e.IsDirectory && !e.IsLink && e.Name != "." && e.Name != "..") ConvertLibs(folder + e.Name + "/", recursive);
}

bool ConvertParadoxFiles(const std::string& Folder, bool Recursive, bool DeleteOld) {
  return ConvertParadoxFiles(Folder, Recursive, DeleteOld, nullptr, nullptr);
}

bool ConvertParadoxFiles(const std::string& Folder, bool Recursive, bool DeleteOld, TConversionView* view,
                         TConversionSummary* summary) {
  TConvParadox form(view);
  form.Recursive = Recursive;
  form.DeleteOld = DeleteOld;
  form.Folder = IncludeTrailingPathDelimiter(Folder);
  if (view) {
    view->Show(TConvParadox::Caption);
    view->SetFolderText(Format(kFolderLine, form.Folder));
    view->SetFileText("");
    view->SetBusy(true);
  }
  const std::string separator(75, '-');
  std::string errorText;
  try {
    std::int32_t d, m, y;
    DateToDMY(ProgramDate(), d, m, y);
    double programDate = 0;
    const std::string dateText = TryEncodeDate(y, m, d, programDate) ? DateToStr(programDate) : std::string();
    form.Memo1.Add(DateTimeToStr(Now()) + " " + ProductName() + " " + VersionKey() + "/" + dateText + ": " +
                   TConvParadox::Caption);
    form.Memo1.Add(separator);
    form.ConvertLibs(form.Folder, form.Recursive);
    form.Memo1.Add(separator);
  } catch (const std::exception& e) {
    errorText = std::string("Error: ") + e.what();
    form.Memo1.Add(errorText);
    form.Memo1.Add(separator);
    form.DeleteOld = false;
  }
  if (form.DeleteOld) {
    const std::vector<std::string> companions = CompanionExtensions();
    for (int i = 0; i < form.DeleteList.Count(); ++i) {
      const std::string& entry = form.DeleteList[i];
      form.Memo1.Add(Format(kDeletingLine, entry));
      RemoveIfExists(entry);
      for (const auto& ext : companions) RemoveIfExists(ChangeFileExt(entry, ext));
    }
    form.Memo1.Add(separator);
  }
  const std::string logFile = form.Folder + "Convert.log";
  {
    errno = 0;
    std::ofstream out(logFile, std::ios::binary | std::ios::app);
    if (!out) {
      const std::string reason = errno != 0 ? std::strerror(errno) : "the file cannot be opened";
      if (view) view->ShowMessage("Error writing to " + logFile + "\r\n" + reason);
    } else {
      out << form.Memo1.Text() << '\n';
    }
  }
  if (!errorText.empty() && view) view->ShowMessage(errorText);
  if (view) {
    view->SetBusy(false);
    view->Hide();
  }
  if (summary) {
    summary->Tables = form.Tables;
    summary->LogFile = logFile;
    summary->ErrorText = errorText;
    summary->ErrorLines = 0;
    for (const auto& item : form.Memo1.Lines())
      if (IsErrorLine(item.Text)) ++summary->ErrorLines;
  }
  return true;
}

}  // namespace vez
