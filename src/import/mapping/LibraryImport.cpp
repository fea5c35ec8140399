#include "import/mapping/LibraryImport.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>

#include <nlohmann/json.hpp>

#include "core/Exceptions.h"
#include "core/FormatSettings.h"
#include "core/TextEncoding.h"
#include "import/EImport2.h"
#include "import/Impcnst.h"
#include "import/NameAlreadyExists.h"
#include "librarydb/ElementBands.h"
#include "librarydb/RecordRules.h"
#include "librarydb/LibraryFile.h"
#include "librarydb/OVLibConst.h"
#include "output/JsonWriter.h"

namespace vez {

namespace {

namespace fs = std::filesystem;

constexpr const char* kNameIndex = "EN";

// Every field a file's text can give: binary fields take Base64, an auto-increment field its number.
bool Importable(TFieldType t) { return t != ftCursor && t != ftUnknown; }

bool Blank(std::string_view text) { return text.find_first_not_of(" \t\r\n") == std::string_view::npos; }

// The names a run has stored in a library that was empty when it began, as a Bloom filter of fixed size: a name
// it has not seen cannot be on the name index, so the look-up on the index (the name question's first step) is
// left out for it. The filter's key is coarser than the index's comparison (ASCII letters in either case, the
// text as the field stores it); a name with other bytes is never vouched for. A false "maybe" only costs the
// look-up, and the memory stays the same whatever the number of names. Names longer than the field (which the
// look-up would cut) are never vouched for either. A name's three bits lie in one 64-bit word of the filter, so
// that a question and the name's entry after it cost one cache miss, not three each.
class TStoredNames {
public:
  explicit TStoredNames(std::size_t fieldSize) : bits_(kWords, 0), fieldSize_(fieldSize) {}
  bool SurelyAbsent(std::string_view name) const {
    std::uint64_t h = 0;
    if (name.size() > fieldSize_ || !Hash(name, h)) return false;
    return (bits_[Word(h)] & Mask(h)) != Mask(h);
  }
  void Add(std::string_view name) {
    std::uint64_t h = 0;
    if (!Hash(name, h)) return;
    bits_[Word(h)] |= Mask(h);
  }

private:
  static constexpr std::uint64_t kWords = std::uint64_t{1} << 17;  // 1 MiB
  // The word from the hash's low 17 bits, the three bits from three 6-bit pieces above them.
  static std::size_t Word(std::uint64_t h) { return static_cast<std::size_t>(h & (kWords - 1)); }
  static std::uint64_t Mask(std::uint64_t h) {
    return std::uint64_t{1} << ((h >> 17) & 63) | std::uint64_t{1} << ((h >> 23) & 63) | std::uint64_t{1} << ((h >> 29) & 63);
  }
  // FNV-1a over the lower-case ASCII text; false for a text with any other byte.
  static bool Hash(std::string_view name, std::uint64_t& h) {
    h = 14695981039346656037ull;
    for (const char c : name) {
      const auto b = static_cast<unsigned char>(c);
      if (b >= 0x80) return false;
      h = (h ^ static_cast<unsigned char>(b >= 'A' && b <= 'Z' ? b + 32 : b)) * 1099511628211ull;
    }
    h = Next(h);
    return true;
  }
  static std::uint64_t Next(std::uint64_t x) {  // splitmix64's finaliser
    x += 0x9e3779b97f4a7c15ull;
    x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ull;
    x = (x ^ (x >> 27)) * 0x94d049bb133111ebull;
    return x ^ (x >> 31);
  }
  std::vector<std::uint64_t> bits_;
  std::size_t fieldSize_;
};

// One run, in the steps it walks: resolve the type, load the file, read the library's fields, set the lines,
// link, check the links, create the library when missing, store the lines, commit.
class ImportRun {
public:
  ImportRun(const TLibraryImportOptions& options, TImportDialogs& dialogs)
      : options_(options), dialogs_(dialogs), form_(dialogs) {}

  // The run without a dialog: a text file is read once, its header lines first and then its lines while they
  // are stored, so that memory stays that of a line however long the file is. Its extent (the last line and
  // column) is known once the lines have been read; what needs it before (a link to a column past those of the
  // lines read so far) has the extent read at once. A run that finds no line to import at the end stores
  // nothing and gives up the library it began, as one that knows it at the start makes none.
  TLibraryImportResult Run() {
    streaming_ = true;
    Prepare();
    SetLines();
    Link();
    CheckLinks();
    if (result_.LastLine < result_.FirstLine) return result_;  // nothing to import: no library is made
    CreateLibrary();
    StoreLines();
    result_.FileLines = form_.ImportData.RowBound();  // the file's last line (a bound when a stop came early)
    result_.LastLine = std::min(result_.LastLine, result_.FileLines);
    if (result_.LastLine < result_.FirstLine) {
      DiscardNewLibrary();
      result_.Created = false;
      return result_;
    }
    return Finish();
  }

  // The dialog as its user finds it: the file loaded, the library's fields offered.
  void Prepare() {
    CheckPaths();
    ResolveType();
    LoadFile();  // first: a file that cannot be opened leaves the library untouched
    OpenLibrary();
    OfferFields();
  }
  TExcelImportForm& Form() { return form_; }

  // The dialog's Start Import with the lines and links its user set: the dialog checks them (its message when
  // it refuses), then the run checks the links, makes the library and stores the lines.
  // A run that stored nothing gives up the library it began at once (its passing file goes now, not when the
  // dialog closes), so that a later Start Import makes it anew.
  TLibraryImportResult StartImport() {
    result_.Refused = false;
    form_.ModalResult = TModalResult::mrNone;  // each Start's own outcome: not that of a Start whose commit failed
    form_.OnBeforeImport = [this](TExcelImportForm&) {
      result_.FirstLine = form_.ImportData.MinRow();
      result_.LastLine = form_.ImportData.MaxRow();
      TakeLinks();
      CheckLinks();
      if (result_.LastLine >= result_.FirstLine) CreateLibrary();
    };
    try {
      StoreLines();
      // A refused Start made no library (the dialog refuses before OnBeforeImport): nothing to commit.
      if (form_.ModalResult != TModalResult::mrOk) result_.Refused = true;
      else Finish();
    } catch (...) {
      DiscardNewLibrary();
      throw;
    }
    if (!result_.Committed) DiscardNewLibrary();
    return result_;
  }

private:
  // The file the user named must be a file (a missing one is told when it is opened). First, so that a folder
  // given for it is told as such whatever else is wrong. (A new library's missing folders are made with it.)
  void CheckPaths() const {
    std::error_code ec;
    if (fs::is_directory(options_.FileName, ec))
      throw EParameterError(Format("\"%s\" is not a file", options_.FileName));
  }

  void ResolveType() {
    baseName_ = fs::path(options_.LibraryFile).filename().string();
    // An existing library tells its type (by its name, or as recorded in its file); a type given must agree.
    const std::int32_t known = LibTypeOfFile(options_.LibraryFile);
    if (options_.LibType >= 0 && known >= 0 && options_.LibType != known) {
      throw Exception(Format("\"%s\" is a library of type %d %s, not of the type %d %s given", baseName_, known,
                             LibTypeConstantName(known), options_.LibType, LibTypeConstantName(options_.LibType)));
    }
    result_.LibType = options_.LibType >= 0 ? options_.LibType : known;
    if (result_.LibType < 0 || LibTypeConstantName(result_.LibType) == nullptr)
      throw Exception(Format("The library type of \"%s\" is not known; give it with --type", baseName_));
  }

  void LoadFile() {
    if (streaming_) form_.ImportData.KeepRows = std::max(options_.StartLine - 1, 0);  // the header lines
    form_.ImportData.TextCodePage = options_.TextCodePage == 0 ? 0 : CodePageOfNumber(options_.TextCodePage);
    form_.ImportData.MaxTextBytes = TextLimitOfNumber(options_.TextLimitMB) << 20;
    form_.ImportData.TextBudget = options_.TextBudget;
    form_.ImportData.TextSeparator = options_.Separator;
    form_.ImportData.Sheet = options_.Sheet;
    form_.SetFileName(options_.FileName);
    result_.FileType = form_.ImportData.FileType();
    result_.TextEncoding = form_.ImportData.TextEncoding();
    result_.FileLines = form_.ImportData.GetLastRow();
    result_.Separator = form_.ImportData.Separator();
    result_.Sheet = form_.ImportData.SheetName();
    // A file separated by ';' writes numbers with a decimal comma (the convention of the programs that export
    // such files), unless the caller says otherwise.
    result_.DecimalSeparator = options_.DecimalSeparator != 0 ? options_.DecimalSeparator
                               : result_.Separator == ';' ? ','
                                                          : GlobalFormatSettings().DecimalSeparator;
  }

  void OpenLibrary() {
    lib_ = std::make_unique<TMyTable>(options_.LibraryFile, false);
    existed_ = lib_->Exists();
    if (existed_) lib_->Table().ReadDefinitions();
    else if (!SetFieldIndexDefs(lib_->Table(), result_.LibType, false))
      throw Exception(Format("Library type %d has no table layout to create \"%s\" with", result_.LibType, baseName_));
  }

  // The fields of the layout (a new library) or of the file.
  void OfferFields() {
    TABSTable& table = lib_->Table();
    // A band field is offered under its band ("Values8 (125 Hz)"), every other field under its name.
    auto offer = [&](const std::string& name, TFieldType type) {
      if (Importable(type)) fields_.Add(name, FieldLabel(result_.LibType, name), type == ftMemo || type == ftFmtMemo);
    };
    if (table.AdvFieldDefs().Count() > 0) {
      for (int i = 0; i < table.AdvFieldDefs().Count(); ++i)
        offer(table.AdvFieldDefs()[i].Name, AdvancedFieldTypeToFieldType(table.AdvFieldDefs()[i].DataType));
    } else {
      for (int i = 0; i < table.FieldDefs().Count(); ++i) offer(table.FieldDefs()[i].Name, table.FieldDefs()[i].DataType);
    }
    form_.FieldList = &fields_;
  }

  // The start line makes the rows above it the header rows that auto link reads.
  void SetLines() {
    if (options_.StopLine > 0 && options_.StopLine < options_.StartLine)
      throw Exception(ImportDialogTexts().strStopBeforeStart);
    form_.SetLines(options_.StartLine, options_.StopLine);
    result_.FirstLine = form_.ImportData.MinRow();
    result_.LastLine = form_.ImportData.MaxRow();
    // Before the lines are read, the last line is the stop line, if any.
    if (!form_.ImportData.ExtentKnown()) result_.LastLine = options_.StopLine > 0 ? options_.StopLine : INT32_MAX;
  }

  // A reader's refusal of the file, as the loading of the file gives it.
  Exception CannotOpen(const std::exception& e) const {
    return Exception(std::string(e.what()) + "\r\n" + Format(ImportDialogTexts().strCannotOpen, options_.FileName));
  }

  std::string FieldOfOption(const std::string& name, const std::string& source) {
    for (std::int32_t i = 0; i < fields_.Count(); ++i)
      if (SameText(fields_[i].FieldName, name)) return fields_[i].Description;
    std::string known;
    for (std::int32_t i = 0; i < fields_.Count() && i < 12; ++i) known += (i > 0 ? ", " : "") + fields_[i].FieldName;
    if (fields_.Count() > 12) known += ", ...";
    throw Exception(Format("The library has no field \"%s\" to import %s into (fields: %s)", name, source, known));
  }

  // One link through the link dialog, as a user makes it.
  void LinkOne(const std::string& field, bool fix, const std::string& value) {
    TSelectColForm dlg;
    dlg.SetImport(&form_.ImportData);
    dlg.SetFieldDescrList(&fields_);
    dlg.OnApply = [this](TSelectColForm& s) { form_.ApplyConnect(s); };
    dlg.SetFix(fix);
    if (fix) {
      if (value.empty()) throw Exception(Format("The fixed text for field \"%s\" is empty", field));
      dlg.SetFixStr(value);
    } else {
      const std::string col = UpperCase(value);
      if (form_.GetXLSColNo(col) == 0 && !form_.ImportData.ExtentKnown()) {
        try {  // a column past those of the lines read so far: the file's own extent decides
          form_.ImportData.ReadExtent();
        } catch (const std::exception& e) {
          throw CannotOpen(e);
        }
        dlg.SetImport(&form_.ImportData);
      }
      dlg.SetXLSCol(col);
      if (dlg.GetXLSCol() != col)
        throw Exception(Format("The file has no column \"%s\" for the field \"%s\" (its columns are A to %s)", value,
                               field, form_.GetXLSColName(form_.ImportData.GetLastCol())));
    }
    dlg.SetDescription(FieldOfOption(field, fix ? "the fixed text \"" + value + "\"" : "column \"" + value + "\""));
    const std::int32_t before = form_.Links.Count();
    dlg.OKClick();
    if (form_.Links.Count() == before) throw Exception(Format("Field \"%s\" cannot take another link", field));
  }

  // The caller's columns and fixed texts first, then auto link for what is left.
  void Link() {
    for (const auto& [field, col] : options_.Maps) LinkOne(field, false, col);
    for (const auto& [field, text] : options_.Fixes) LinkOne(field, true, text);
    if (options_.AutoLink) result_.AutoLink = AutoLink();
    if (form_.Links.Count() == 0)
      throw Exception(options_.AutoLink ? "No header text above the start line names a field of the library"
                                        : "Nothing is linked: give --map FIELD=COLUMN or --auto-link");
    TakeLinks();
  }

public:
  // Auto Link: the dialog's own (a header text equal to a field's description), then a header text naming a
  // field, for the columns still free. Says what it linked and which columns with a header it could not link.
  TAutoLinkReport AutoLink() {
    const std::size_t before = form_.LinkList.Items.size();
    form_.AutoLinkButtonClick();
    const std::int32_t lastCol = form_.ImportData.GetLastCol();
    for (std::int32_t r = 1; r <= form_.ImportHeader.MaxRow(); ++r) {
      for (std::int32_t c = 1; c <= lastCol; ++c) {
        const std::string text = Trim(form_.ImportHeader.GetTextRC(c, r));
        const std::string letter = form_.GetXLSColName(c);
        if (text.empty() || form_.Links.XLSColInList(letter)) continue;
        for (std::int32_t i = 0; i < fields_.Count(); ++i)
          if (SameText(fields_[i].FieldName, text) && fields_[i].GetAvailable()) {
            LinkOne(fields_[i].FieldName, false, letter);
            break;
          }
      }
    }
    TAutoLinkReport report;
    report.Linked.assign(form_.LinkList.Items.begin() + static_cast<std::ptrdiff_t>(before), form_.LinkList.Items.end());
    for (std::int32_t c = 1; c <= lastCol; ++c) {
      const std::string letter = form_.GetXLSColName(c);
      if (form_.Links.XLSColInList(letter)) continue;
      for (std::int32_t r = 1; r <= form_.ImportHeader.MaxRow(); ++r)
        if (const std::string text = Trim(form_.ImportHeader.GetTextRC(c, r)); !text.empty()) {
          report.Unlinked.push_back(letter + " (" + text + ")");
          break;
        }
    }
    return report;
  }

  // The dialog's links by field name.
  std::vector<TImportLink> Links() const {
    std::vector<TImportLink> out;
    for (std::int32_t k = 0; k < form_.Links.Count(); ++k) {
      const TColItem& l = form_.Links[k];
      out.push_back(l.Fix() ? TImportLink{l.FieldName(), "", l.FixStr()} : TImportLink{l.FieldName(), l.XLSCol(), ""});
    }
    return out;
  }

  TImportMapping Mapping() const {
    TImportMapping m;
    m.Links = Links();
    m.StartLine = form_.ImportData.MinRow();
    m.StopLine = form_.StopChecked ? form_.ImportData.MaxRow() : 0;
    m.Sheet = form_.ImportData.SheetName();
    m.Separator = form_.ImportData.Separator();
    m.DecimalSeparator = result_.DecimalSeparator;
    m.CodePage = form_.ImportData.FileType() == "ASCII" ? options_.TextCodePage : 0;
    return m;
  }

  void LoadMapping(const TImportMapping& m) {
    form_.ClearButtonClick();
    if (m.StartLine > 0) form_.SetStartLine(m.StartLine);
    form_.SetStopChecked(m.StopLine > 0);
    if (m.StopLine > 0) form_.SetStopLine(m.StopLine);
    for (const TImportLink& l : m.Links) LinkOne(l.Field, l.Column.empty(), l.Column.empty() ? l.Text : l.Column);
  }

private:
  void TakeLinks() {
    result_.Links = form_.LinkList.Items;
    result_.LinkList = Links();
    linkedColumns_.clear();
    linkedLinks_.clear();
    columns_.clear();
    for (std::int32_t k = 0; k < form_.Links.Count(); ++k)
      if (!form_.Links[k].Fix()) {
        linkedColumns_.push_back(form_.GetXLSColNo(form_.Links[k].XLSCol()));
        linkedLinks_.push_back(k);
      }
    for (std::int32_t i = 0; i < fields_.Count(); ++i) columns_.push_back(ColumnOf(fields_[i].FieldName));
  }

  TLibraryImportResult Finish() {
    if (transaction_ && !result_.Cancelled && !result_.Interrupted && !options_.DryRun) {
      transaction_->Commit();  // a failed commit (a full disk) stores nothing and says so
      if (newFile_) newFile_->Publish();
      result_.Committed = true;
    }
    return result_;
  }

  // Rolls back and closes what the run opened; a new library that was not published goes with its passing file.
  void DiscardNewLibrary() {
    writer_.reset();
    transaction_.reset();
    if (newFile_ && !newFile_->Published()) newFile_.reset();
  }

  void CheckLinks() {
    TABSTable& table = lib_->Table();
    const int i = table.IndexDefs().IndexOf(kNameIndex);
    if (i < 0) return;
    const std::string& indexFields = table.IndexDefs()[i].Fields;
    nameField_ = indexFields.substr(0, indexFields.find(';'));
    nameItem_ = fields_.GetFieldItem(nameField_);
    if (nameItem_ == nullptr || nameItem_->UseCount == 0)
      throw Exception(Format("The name field \"%s\" must be linked", nameField_));
  }

  void CreateLibrary() {
    if (!existed_) {
      const fs::path folder = fs::path(options_.LibraryFile).parent_path();
      std::error_code ec;
      if (!folder.empty()) fs::create_directories(folder, ec);
      // Made under a passing name and moved to its own at the commit: a new library appears complete or not at
      // all, and one the run does not fill goes again with its passing file.
      newFile_ = std::make_unique<TNewLibraryFile>(*lib_);
      lib_->CreateDBTable();
      // A name of the user's does not tell the type: the library records it in its file.
      if (GetLibType(baseName_) < 0) RecordLibType(newFile_->PassingFileName(), result_.LibType);
      result_.Created = true;
    }
    TABSTable& table = lib_->Table();
    table.Open();
    if (!nameField_.empty()) table.SetIndexName(kNameIndex);
    writer_ = std::make_unique<TRecordWriter>(table, result_.LibType);
    FormatSettings settings = writer_->Settings();
    settings.DecimalSeparator = result_.DecimalSeparator;
    writer_->SetFormatSettings(settings);
    // The fields of the list, looked up once, and the linked ones.
    used_.clear();
    targets_.clear();
    textTarget_.clear();
    for (std::int32_t i = 0; i < fields_.Count(); ++i) {
      if (fields_[i].UseCount > 0) used_.push_back(i);
      targets_.push_back(writer_->FieldIndex(fields_[i].FieldName));
      const TField& f = table.Fields(targets_.back());
      textTarget_.push_back(f.ValueKind() == TField::Kind::Text || f.DataType() == ftMemo);
      // A number field takes a number cell as it is when its text would be read back with the same decimal
      // separator it is written with (the shortest text gives the same double back).
      fields_[i].TakesNumbers = f.ValueKind() == TField::Kind::Float && f.DataType() != ftMemo &&
                                settings.DecimalSeparator == GlobalFormatSettings().DecimalSeparator;
    }
    // Every linked field is set in every new record (an empty cell empties it): its default is not written first.
    std::vector<int> linkedTargets;
    for (const std::int32_t i : used_) linkedTargets.push_back(targets_[static_cast<std::size_t>(i)]);
    writer_->SetsInEveryNewRecord(linkedTargets);
    transaction_ = std::make_unique<TABSTransaction>(lib_->Database());
    if (!nameField_.empty() && table.IsEmpty()) {
      nameTarget_ = writer_->FieldIndex(nameField_);
      storedNames_.emplace(static_cast<std::size_t>(std::max(table.Fields(nameTarget_).Size(), 0)));
    }
  }

  void StoreLines() {
    form_.OnImportLine = [this](TExcelImportForm&, TneAction& action) { StoreLine(action); };
    if (!streaming_) return form_.StartButtonClick();
    // The file's rows are read here: a refusal of the reader's is the file's (the transaction goes unstored),
    // what the storing of a line throws passes as it is.
    bool storing = false;
    try {
      form_.StartButtonClick([this, &storing](const std::function<bool(std::int32_t)>& line) {
        form_.ImportData.StreamRows(result_.FirstLine, result_.LastLine, [&](std::int32_t row) {
          storing = true;
          const bool go = line(row);
          storing = false;
          return go;
        });
      });
    } catch (const std::exception& e) {
      if (storing) throw;
      throw CannotOpen(e);
    }
  }

  void Fail(std::int32_t row, std::string column, std::string field, std::string message) {
    ++result_.Failed;
    result_.Errors.push_back({row, std::move(column), std::move(field), std::move(message)});
  }

  // The column letter of a field's first column link ("" for a fixed text).
  std::string ColumnOf(const std::string& fieldName) const {
    for (std::int32_t k = 0; k < form_.Links.Count(); ++k)
      if (form_.Links[k].FieldName() == fieldName && !form_.Links[k].Fix()) return form_.Links[k].XLSCol();
    return {};
  }

  void StoreLine(TneAction& action) {
    ++line_;
    const std::int32_t row = result_.FirstLine + line_ - 1;
    if (options_.Progress) {
      // While the file is read, its last line is bounded by its line ends (exact for the last line stored).
      const std::int32_t last = streaming_ ? std::min(result_.LastLine, form_.ImportData.RowBound()) : result_.LastLine;
      options_.Progress(line_, last - result_.FirstLine + 1);
    }
    if (options_.Interrupted && options_.Interrupted()) {
      result_.Interrupted = true;
      action = neCancel;
      return;
    }
    // A linked cell that the reader found damaged fails its line: its text is not what the file meant.
    for (std::size_t k = 0; k < linkedColumns_.size(); ++k)
      if (const std::string* damage = form_.ImportData.CellDamage(linkedColumns_[k], row)) {
        const TColItem& link = form_.Links[linkedLinks_[k]];
        return Fail(row, link.XLSCol(), link.FieldName(), *damage);
      }
    bool empty = true;
    double number = 0;
    const TStringGrid& grid = form_.ImportData.DataGrid();
    for (std::int32_t col : linkedColumns_)
      empty = empty && !grid.CellNumber(col, row, number) && Blank(grid.CellText(col, row));
    if (empty) {
      ++result_.EmptyLines;
      return;
    }
    TABSTable& table = lib_->Table();
    if (nameItem_ != nullptr && !Blank(nameItem_->Value)) {
      std::string name = nameItem_->Value;
      bool store = false;
      try {
        if (storedNames_ && storedNames_->SurelyAbsent(name)) {
          table.Append();
          store = true;
        } else {
          store = CheckNameTwice(table, kNameIndex, name, action, dialogs_);
        }
      } catch (const std::exception& e) {
        if (table.State() != TDataSetState::dsBrowse) table.Cancel();
        return Fail(row, {}, nameField_, e.what());
      }
      if (action == neCancel) {
        // The name question ends the run by Cancel, or by an interrupt while it waits for the answer.
        result_.Interrupted = result_.Interrupted || (options_.Interrupted && options_.Interrupted());
        result_.Cancelled = !result_.Interrupted;
        return;
      }
      if (!store) {
        ++result_.Skipped;
        return;
      }
      nameItem_->Value = name;
    } else {
      table.Append();
    }
    const bool isNew = table.State() == TDataSetState::dsInsert;
    const double now = Now();
    std::int32_t at = -1;  // the field being set, for the message of a refusal
    try {
      writer_->Begin(now);
      for (const std::int32_t i : used_) {
        at = i;
        const TFieldNameItem& item = fields_[i];
        const int target = targets_[static_cast<std::size_t>(i)];
        // An empty cell: the empty text in a text field and an empty field in any other of a new record, the
        // old value in an overwritten one. Blanks are text in a text field and empty in any other.
        if (item.HasNumber) {
          writer_->Set(target, Variant(item.Number));
          continue;
        }
        const bool text = textTarget_[static_cast<std::size_t>(i)];
        const bool empty = item.Value.empty() || (Blank(item.Value) && !text);
        if (!empty) writer_->SetText(target, item.Value);
        else if (isNew && text) writer_->SetText(target, "");
        else if (isNew) writer_->Clear(target);
      }
      at = -1;
      std::string stored;  // the name as the field holds it
      if (storedNames_) stored = table.Fields(nameTarget_).AsString();
      writer_->Post(now);
      if (storedNames_) storedNames_->Add(stored);
    } catch (const ETransactionLost&) {
      throw;  // SQLite gave the transaction up (a full disk): nothing is stored, and the run ends here
    } catch (const EFieldValueError& e) {
      // A value, or a rule of the record (an empty name): the field's column.
      writer_->Cancel();
      return Fail(row, ColumnOf(e.Field()), e.Field(), e.what());
    } catch (const std::exception& e) {
      writer_->Cancel();
      if (at < 0) return Fail(row, {}, {}, e.what());
      return Fail(row, columns_[static_cast<std::size_t>(at)], fields_[at].FieldName, e.what());
    }
    ++(isNew ? result_.Added : result_.Overwritten);
    ++(isNew ? form_.CounterA : form_.CounterB);
  }

  const TLibraryImportOptions& options_;
  TImportDialogs& dialogs_;
  TLibraryImportResult result_;
  std::string baseName_;
  // The field list outlives the form's links, which count their fields' uses.
  TFieldNameList fields_;
  TExcelImportForm form_;
  std::unique_ptr<TMyTable> lib_;
  std::unique_ptr<TNewLibraryFile> newFile_;  // a library this run creates (goes before lib_)
  bool existed_ = false;
  std::string nameField_;
  TFieldNameItem* nameItem_ = nullptr;
  std::vector<std::int32_t> linkedColumns_;  // grid columns of the column links
  std::vector<std::int32_t> linkedLinks_;    // and the places of those links in the link list
  std::vector<std::string> columns_;         // per field: the letter of its first column link
  std::unique_ptr<TRecordWriter> writer_;
  std::vector<std::int32_t> used_;  // the fields of the list that links feed
  std::vector<int> targets_;  // per field of the list: its index in the table
  std::vector<bool> textTarget_;  // per field of the list: a text field
  std::unique_ptr<TABSTransaction> transaction_;
  std::optional<TStoredNames> storedNames_;  // when the library was empty at the start
  int nameTarget_ = -1;
  std::int32_t line_ = 0;
  bool streaming_ = false;  // the lines are read while they are stored (no dialog shows the grid)
};

}  // namespace

TLibraryImportResult ImportIntoLibrary(const TLibraryImportOptions& Options, TImportDialogs& Dialogs) {
  return ImportRun(Options, Dialogs).Run();
}

namespace {
// The run keeps a reference to its options; the dialog's copy is made before the run (the first base).
struct TOptionsCopy {
  TLibraryImportOptions Options;
};
}  // namespace
class TLibraryImport::Impl : private TOptionsCopy, public ImportRun {
public:
  Impl(const TLibraryImportOptions& options, TImportDialogs& dialogs)
      : TOptionsCopy{options}, ImportRun(Options, dialogs) {}
};

TLibraryImport::TLibraryImport(const TLibraryImportOptions& Options, TImportDialogs& Dialogs)
    : impl_(std::make_unique<Impl>(Options, Dialogs)) {
  impl_->Prepare();
}
TLibraryImport::~TLibraryImport() = default;
TExcelImportForm& TLibraryImport::Form() { return impl_->Form(); }
TAutoLinkReport TLibraryImport::AutoLink() { return impl_->AutoLink(); }
TImportMapping TLibraryImport::Mapping() { return impl_->Mapping(); }
void TLibraryImport::LoadMapping(const TImportMapping& Mapping) { impl_->LoadMapping(Mapping); }
TLibraryImportResult TLibraryImport::Run() { return impl_->StartImport(); }

std::string AutoLinkText(const TAutoLinkReport& r) {
  constexpr std::size_t kNamed = 4;  // the link list shows them all; the message names the first few
  if (r.Linked.empty()) {
    std::string text = "Auto Link linked no column: no header text above the start line names a field";
    for (std::size_t i = 0; i < r.Unlinked.size(); ++i) text += (i > 0 ? ", " : " (columns: ") + r.Unlinked[i];
    return r.Unlinked.empty() ? text : text + ")";
  }
  std::string text = Format("Auto Link linked %d column%s: ", static_cast<int>(r.Linked.size()),
                            r.Linked.size() == 1 ? "" : "s");
  for (std::size_t i = 0; i < r.Linked.size() && i < kNamed; ++i) text += (i > 0 ? ", " : "") + r.Linked[i];
  if (r.Linked.size() > kNamed) text += Format(" and %d more", static_cast<int>(r.Linked.size() - kNamed));
  for (std::size_t i = 0; i < r.Unlinked.size(); ++i) text += (i > 0 ? ", " : "; no field for ") + r.Unlinked[i];
  return text;
}

namespace {
std::string SeparatorName(char c) { return c == '\t' ? "tab" : std::string(1, c); }
}  // namespace

void WriteImportReport(std::ostream& out, const TLibraryImportResult& r, const TLibraryImportOptions& o) {
  JsonWriter json(out, JsonWriter::Layout::Indented);
  const char* typeName = r.LibType >= 0 ? LibTypeConstantName(r.LibType) : nullptr;
  json.BeginObject()
      .Member("added", r.Added)
      .Key("auto_link")
      .BeginObject()
      .Key("linked")
      .BeginArray();
  for (const auto& l : r.AutoLink.Linked) json.String(l);
  json.EndArray().Key("unlinked").BeginArray();
  for (const auto& u : r.AutoLink.Unlinked) json.String(u);
  json.EndArray()
      .EndObject()
      .Member("cancelled", r.Cancelled)
      .Member("committed", r.Committed)
      .Member("created", r.Created && r.Committed)
      .Member("decimal_separator", r.DecimalSeparator != 0 ? std::string(1, r.DecimalSeparator) : std::string())
      .Member("dry_run", o.DryRun)
      .Member("empty_lines", r.EmptyLines)
      .Member("error", r.Error)
      .Key("errors")
      .BeginArray();
  for (const auto& e : r.Errors)
    json.BeginObject()
        .Member("column", e.Column)
        .Member("field", e.Field)
        .Member("line", e.Line)
        .Member("message", e.Message)
        .EndObject();
  json.EndArray()
      .Member("failed", r.Failed)
      .Member("file", o.FileName)
      .Member("file_lines", r.FileLines)
      .Member("file_type", r.FileType)
      .Member("first_line", r.FirstLine)
      .Member("interrupted", r.Interrupted)
      .Member("last_line", r.LastLine)
      .Member("library", o.LibraryFile)
      .Member("library_type", r.LibType)
      .Member("library_type_name", typeName != nullptr ? typeName : "")
      .Key("links")
      .BeginArray();
  for (const auto& link : r.Links) json.String(link);
  json.EndArray()
      .Member("overwritten", r.Overwritten)
      .Member("separator", r.Separator != 0 ? SeparatorName(r.Separator) : std::string())
      .Member("sheet", r.Sheet)
      .Member("skipped", r.Skipped)
      .Member("text_encoding", r.TextEncoding)
      .EndObject();
  out << '\n';
}

std::string ShownFileType(const TLibraryImportResult& r) {
  if (r.TextEncoding.empty() || r.TextEncoding == "ASCII") return r.FileType;
  return "text, " + r.TextEncoding;
}

// ---- mappings ----

std::string ImportMappingJson(const TImportMapping& m) {
  std::ostringstream out;
  JsonWriter json(out, JsonWriter::Layout::Indented);
  json.BeginObject().Key("links").BeginArray();
  for (const TImportLink& l : m.Links) {
    json.BeginObject().Member("field", l.Field);
    if (l.Column.empty()) json.Member("text", l.Text);
    else json.Member("column", l.Column);
    json.EndObject();
  }
  json.EndArray();
  if (m.StartLine > 0) json.Member("start", m.StartLine);
  if (m.StopLine > 0) json.Member("stop", m.StopLine);
  if (!m.Sheet.empty()) json.Member("sheet", m.Sheet);
  if (m.Separator != 0) json.Member("separator", SeparatorName(m.Separator));
  if (m.DecimalSeparator != 0) json.Member("decimal_separator", std::string(1, m.DecimalSeparator));
  if (m.CodePage > 0) json.Member("code_page", m.CodePage);
  json.EndObject();
  out << '\n';
  return out.str();
}

TImportMapping ParseImportMapping(std::string_view text) {
  using Json = nlohmann::json;
  const Json j = Json::parse(text, nullptr, false);
  if (j.is_discarded() || !j.is_object()) throw Exception("The mapping is no JSON object");
  const auto wrong = [](const std::string& what) { throw Exception("The mapping's " + what); };
  TImportMapping m;
  for (const auto& item : j.items()) {
    const std::string& key = item.key();
    const Json& value = item.value();
    if (value.is_null()) continue;
    const auto line = [&] {
      if (!value.is_number_integer() || value.get<std::int64_t>() < 1 || value.get<std::int64_t>() > (1 << 30))
        wrong("\"" + key + "\" is a line number from 1");
      return static_cast<std::int32_t>(value.get<std::int64_t>());
    };
    const auto text = [&] {
      if (!value.is_string()) wrong("\"" + key + "\" is a text");
      return value.get<std::string>();
    };
    if (key == "links") {
      if (!value.is_array()) wrong("\"links\" is a list");
      for (const Json& link : value) {
        if (!link.is_object() || !link.contains("field") || !link["field"].is_string() ||
            link.contains("column") == link.contains("text") || link.size() != 2 ||
            !(link.contains("column") ? link["column"] : link["text"]).is_string())
          wrong("links are {\"field\": name, \"column\": letter} or {\"field\": name, \"text\": fixed text}, not " +
                link.dump());
        m.Links.push_back(link.contains("column")
                              ? TImportLink{link["field"].get<std::string>(), link["column"].get<std::string>(), ""}
                              : TImportLink{link["field"].get<std::string>(), "", link["text"].get<std::string>()});
      }
    } else if (key == "start") {
      m.StartLine = line();
    } else if (key == "stop") {
      m.StopLine = line();
    } else if (key == "sheet") {
      m.Sheet = text();
    } else if (key == "separator") {
      const std::string s = text();
      if (s != "tab" && s != "," && s != ";") wrong("\"separator\" is \"tab\", \",\" or \";\", not \"" + s + "\"");
      m.Separator = s == "tab" ? '\t' : s[0];
    } else if (key == "decimal_separator") {
      const std::string s = text();
      if (s != "." && s != ",") wrong("\"decimal_separator\" is \".\" or \",\", not \"" + s + "\"");
      m.DecimalSeparator = s[0];
    } else if (key == "code_page") {
      if (!value.is_number_integer() || value.get<std::int64_t>() < 1 || value.get<std::int64_t>() > 65535)
        wrong("\"code_page\" is a code page number such as 1252");
      m.CodePage = static_cast<std::int32_t>(value.get<std::int64_t>());
    } else {
      wrong("member \"" + key + "\" is not known (its members: links, start, stop, sheet, separator, decimal_separator, "
            "code_page)");
    }
  }
  return m;
}

TImportMapping ReadImportMapping(const std::string& FileName) {
  // A mapping is a few hundred bytes: anything far larger, or no regular file, is not one.
  constexpr std::uintmax_t kMaxMappingBytes = 1u << 20;
  std::error_code ec;
  const bool regular = fs::is_regular_file(FileName, ec);
  if (regular && fs::file_size(FileName, ec) > kMaxMappingBytes)
    throw Exception("\"" + FileName + "\" is no mapping: it is larger than 1 MiB");
  std::ifstream in(FileName, std::ios::binary);
  if (!regular || !in) throw EInOutError("Cannot read the mapping \"" + FileName + "\"");
  std::ostringstream text;
  text << in.rdbuf();
  try {
    return ParseImportMapping(text.str());
  } catch (const Exception& e) {
    throw Exception(std::string(e.what()) + " (in \"" + FileName + "\")");
  }
}

void WriteImportMapping(const std::string& FileName, const TImportMapping& Mapping, bool Overwrite) {
  std::error_code ec;
  if (!Overwrite && fs::exists(FileName, ec)) throw Exception("\"" + FileName + "\" exists already; it is left as it is");
  const std::string partial = FileName + ".part";
  {
    std::ofstream out(partial, std::ios::binary | std::ios::trunc);
    out << ImportMappingJson(Mapping);
    out.close();
    if (!out) {
      fs::remove(partial, ec);
      throw EInOutError("Cannot write the mapping \"" + FileName + "\"");
    }
  }
  fs::rename(partial, FileName, ec);
  if (ec) {
    fs::remove(partial, ec);
    throw EInOutError("Cannot write the mapping \"" + FileName + "\"");
  }
}

TImportMapping MappingOfRun(const TLibraryImportOptions& o, const TLibraryImportResult& r) {
  TImportMapping m;
  m.Links = r.LinkList;
  m.StartLine = r.FirstLine > 0 ? r.FirstLine : o.StartLine;
  m.StopLine = o.StopLine;
  m.Sheet = r.Sheet;
  m.Separator = r.Separator;
  m.DecimalSeparator = r.DecimalSeparator;
  m.CodePage = r.FileType == "ASCII" ? o.TextCodePage : 0;
  return m;
}

void ApplyImportMapping(TLibraryImportOptions& o, const TImportMapping& m) {
  const auto linked = [&](const std::string& field) {
    const auto same = [&](const auto& p) { return SameText(p.first, field); };
    return std::any_of(o.Maps.begin(), o.Maps.end(), same) || std::any_of(o.Fixes.begin(), o.Fixes.end(), same);
  };
  std::vector<std::pair<std::string, std::string>> maps, fixes;
  for (const TImportLink& l : m.Links) {
    if (linked(l.Field)) continue;
    (l.Column.empty() ? fixes : maps).emplace_back(l.Field, l.Column.empty() ? l.Text : l.Column);
  }
  o.Maps.insert(o.Maps.begin(), maps.begin(), maps.end());
  o.Fixes.insert(o.Fixes.begin(), fixes.begin(), fixes.end());
  if (m.StartLine > 0) o.StartLine = m.StartLine;
  if (m.StopLine > 0) o.StopLine = m.StopLine;
  if (!m.Sheet.empty()) o.Sheet = m.Sheet;
  if (m.Separator != 0) o.Separator = m.Separator;
  if (m.DecimalSeparator != 0) o.DecimalSeparator = m.DecimalSeparator;
  if (m.CodePage > 0) o.TextCodePage = m.CodePage;
}

std::string NextFreeName(const std::string& name) {
  if (name.size() > 3 && name.back() == ')') {
    const auto open = name.rfind(" (");
    std::int32_t n = 0;
    if (open != std::string::npos && TryStrToInt(name.substr(open + 2, name.size() - open - 3), n) && n > 0)
      return name.substr(0, open) + " (" + std::to_string(n + 1) + ")";
  }
  return name + " (2)";
}

std::string TAnsweringDialogs::InputBox(const std::string&, const std::string&, const std::string& defaultText) {
  return answer_ == TOnExists::Rename ? NextFreeName(defaultText) : defaultText;
}

void TAnsweringDialogs::ShowNameExists(TFormNameExists& form) {
  switch (answer_) {
    case TOnExists::Overwrite: form.RadioGroupClick(1); break;
    case TOnExists::Skip: form.RadioGroupClick(3); break;
    case TOnExists::Rename: form.RadioGroupClick(4); break;
  }
  form.OKClick();
}

char SeparatorOfWord(std::string_view word) {
  if (word == "tab" || word == "\t") return '\t';
  if (word == "," || word == ";") return word[0];
  throw EParameterError("The separator is \"tab\", \",\" or \";\", not \"" + std::string(word) + "\"");
}

char DecimalSeparatorOfWord(std::string_view word) {
  if (word == "." || word == ",") return word[0];
  throw EParameterError("The decimal separator is \".\" or \",\", not \"" + std::string(word) + "\"");
}

std::int64_t TextLimitOfNumber(std::int64_t mb) {
  constexpr std::int64_t kMost = std::int64_t{1} << 30;
  if (mb < 1 || mb > kMost)
    throw EParameterError("The text limit must be a number of MB from 1 to " + std::to_string(kMost) + ", not " +
                          std::to_string(mb));
  return mb;
}

std::optional<TOnExists> OnExistsOfWord(std::string_view word) {
  if (word == "ask") return std::nullopt;
  if (word == "overwrite") return TOnExists::Overwrite;
  if (word == "skip") return TOnExists::Skip;
  if (word == "rename") return TOnExists::Rename;
  throw EParameterError("The answer to a name that exists is \"ask\", \"overwrite\", \"skip\" or \"rename\", not \"" +
                  std::string(word) + "\"");
}

}  // namespace vez
