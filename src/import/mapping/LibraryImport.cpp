#include "import/mapping/LibraryImport.h"

#include <cmath>
#include <filesystem>
#include <unordered_map>

#include "core/Exceptions.h"
#include "core/FormatSettings.h"
#include "import/EImport2.h"
#include "import/EImport1.h"
#include "import/Impcnst.h"
#include "import/NameAlreadyExists.h"
#include "librarydb/Defaults.h"
#include "librarydb/OVLibConst.h"

namespace vez {

namespace {

namespace fs = std::filesystem;

constexpr const char* kNameIndex = "EN";

bool Importable(TFieldType t) {
  switch (t) {
    case ftAutoInc:
    case ftBlob:
    case ftGraphic:
    case ftBytes:
    case ftVarBytes:
    case ftParadoxOle:
    case ftDBaseOle:
    case ftTypedBinary:
    case ftCursor:
    case ftUnknown: return false;
    default: return true;
  }
}

bool IsText(TFieldType t) {
  return t == ftString || t == ftMemo || t == ftFmtMemo || t == ftFixedChar || t == ftWideString;
}

// Converts text to the field's type and stores it; false with a reason when it does not convert.
bool StoreValue(TField& field, const std::string& text, std::string& why) {
  const TFieldType t = field.DataType();
  if (IsText(t)) {
    field.SetAsString(text);
    return true;
  }
  const std::string v = Trim(text);
  switch (t) {
    case ftSmallint:
    case ftInteger:
    case ftWord:
    case ftLargeint: {
      std::int64_t i = 0;
      double d = 0;
      if (TryStrToInt64(v, i)) {
      } else if (TryStrToFloat(v, d, GlobalFormatSettings()) && std::isfinite(d) && d == std::trunc(d) &&
                 std::fabs(d) < 9.2e18) {
        i = static_cast<std::int64_t>(d);
      } else {
        why = "is not an integer";
        return false;
      }
      field.SetAsLargeInt(i);
      return true;
    }
    case ftFloat:
    case ftCurrency:
    case ftBCD: {
      double d = 0;
      if (!TryStrToFloat(v, d, GlobalFormatSettings()) || !std::isfinite(d)) {
        why = "is not a number";
        return false;
      }
      field.SetAsFloat(d);
      return true;
    }
    case ftBoolean: {
      const TImportTexts& texts = ImportTexts();
      if (SameText(v, texts.strTrue) || SameText(v, "True") || v == "1" || SameText(v, "yes")) field.SetAsBoolean(true);
      else if (SameText(v, texts.strFalse) || SameText(v, "False") || v == "0" || SameText(v, "no")) field.SetAsBoolean(false);
      else {
        why = "is not a Boolean";
        return false;
      }
      return true;
    }
    case ftDate:
    case ftTime:
    case ftDateTime: {
      double d = 0;
      if (!TryStrToDateTime(v, d, GlobalFormatSettings()) && !TryISOToDateTime(v, d)) {
        why = "is not a date";
        return false;
      }
      field.SetAsDateTime(d);
      return true;
    }
    default: why = "cannot be stored in this field"; return false;
  }
}

// The first field of the library's name index "EN"; "" when it has none.
std::string NameFieldOf(TABSTable& table) {
  const int i = table.IndexDefs().IndexOf(kNameIndex);
  if (i < 0) return {};
  const std::string& fields = table.IndexDefs()[i].Fields;
  return fields.substr(0, fields.find(';'));
}

std::string FieldOfOption(TFieldNameList& list, const std::string& name) {
  for (std::int32_t i = 0; i < list.Count(); ++i)
    if (SameText(list[i].FieldName, name)) return list[i].Description;
  std::string known;
  for (std::int32_t i = 0; i < list.Count() && i < 12; ++i) known += (i > 0 ? ", " : "") + list[i].FieldName;
  if (list.Count() > 12) known += ", ...";
  throw Exception(Format("The library has no field \"%s\" to import into (fields: %s)", name, known));
}

}  // namespace

// One run, in the steps it walks: resolve the type, load the file, read the library's fields (the dialog is
// ready for its user here), then at Start: check the links, create the library when missing, store the lines,
// commit.
class TLibraryImport::Impl {
public:
  Impl(const TLibraryImportOptions& options, TImportDialogs& dialogs)
      : options_(options), dialogs_(dialogs), form_(dialogs) {
    const std::string baseName = fs::path(options_.LibraryFile).filename().string();
    result_.LibType = options_.LibType >= 0 ? options_.LibType : GetLibType(baseName);
    if (result_.LibType < 0 || LibTypeConstantName(result_.LibType) == nullptr)
      throw Exception(Format("The library type of \"%s\" is not known; give it with --type", baseName));
    // Load the file first: a file that cannot be opened leaves the library untouched.
    form_.SetFileName(options_.FileName);
    result_.FileType = form_.ImportData.FileType();
    lib_ = std::make_unique<TMyTable>(options_.LibraryFile, false);
    TABSTable& table = lib_->Table();
    existed_ = lib_->Exists();
    if (existed_) table.ReadDefinitions();
    else if (!SetFieldIndexDefs(table, result_.LibType, false))
      throw Exception(Format("Library type %d has no table layout to create \"%s\" with", result_.LibType, baseName));
    // Fields from the layout (a new library) or from the file.
    auto offer = [&](const std::string& name, TFieldType type) {
      if (Importable(type)) fields_.Add(name, name, type == ftMemo || type == ftFmtMemo);
    };
    if (table.AdvFieldDefs().Count() > 0) {
      for (int i = 0; i < table.AdvFieldDefs().Count(); ++i)
        offer(table.AdvFieldDefs()[i].Name, AdvancedFieldTypeToFieldType(table.AdvFieldDefs()[i].DataType));
    } else {
      for (int i = 0; i < table.FieldDefs().Count(); ++i) offer(table.FieldDefs()[i].Name, table.FieldDefs()[i].DataType);
    }
    form_.FieldList = &fields_;
  }

  ~Impl() {
    // A library this run created and did not fill goes again.
    if (result_.Created && !result_.Committed) {
      transaction_.reset();
      lib_->Table().Close();
      lib_->Database().Close();
      std::error_code ec;
      fs::remove(options_.LibraryFile, ec);
    }
  }

  TExcelImportForm& Form() { return form_; }

  // The options' links and lines, as a user would make them in the dialog.
  void LinkFromOptions() {
    // Lines: the start line makes the rows above it the header rows that auto link reads.
    form_.SetStartLine(options_.StartLine);
    if (options_.StopLine > 0) {
      form_.SetStopChecked(true);
      form_.SetStopLine(options_.StopLine);
    }
    for (const auto& [field, col] : options_.Maps) LinkOne(field, false, col);
    for (const auto& [field, text] : options_.Fixes) LinkOne(field, true, text);
    if (options_.AutoLink) form_.AutoLinkButtonClick();
    if (form_.Links.Count() == 0)
      throw Exception(options_.AutoLink ? "No header text above the start line names a field of the library"
                                        : "Nothing is linked: give --map FIELD=COLUMN or --auto-link");
    if (options_.StopLine > 0 && options_.StopLine < options_.StartLine)
      throw Exception("Stop line# must be greater than start line#");
  }

  // The dialog's Start: it checks the links and lines (and shows its message when it refuses); the library is
  // made and opened just before the first line.
  TLibraryImportResult Run() {
    result_.Refused = false;  // a refused Start may be followed by another
    form_.OnBeforeImport = [this](TExcelImportForm&) { BeforeLines(); };
    form_.OnImportLine = [this](TExcelImportForm&, TneAction& action) { StoreLine(action); };
    form_.StartButtonClick();
    if (form_.ModalResult != TModalResult::mrOk) {
      result_.Refused = true;
      return result_;
    }
    if (!result_.Cancelled && !result_.Interrupted && !options_.DryRun) {
      transaction_->Commit();
      result_.Committed = true;
    }
    return result_;
  }

private:
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
      std::string col = value;
      for (auto& c : col) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
      dlg.SetXLSCol(col);
      if (dlg.GetXLSCol() != col)
        throw Exception(Format("The file has no column \"%s\" (its columns are A to %s)", value,
                               form_.GetXLSColName(form_.ImportData.GetLastCol())));
    }
    dlg.SetDescription(FieldOfOption(fields_, field));
    const std::int32_t before = form_.Links.Count();
    dlg.OKClick();
    if (form_.Links.Count() == before) throw Exception(Format("Field \"%s\" cannot take another link", field));
  }

  void BeforeLines() {
    result_.Links = form_.LinkList.Items;
    result_.FirstLine = form_.ImportData.MinRow();
    result_.LastLine = form_.ImportData.MaxRow();
    TABSTable& table = lib_->Table();
    nameField_ = NameFieldOf(table);
    nameItem_ = fields_.GetFieldItem(nameField_);
    if (!nameField_.empty() && (nameItem_ == nullptr || nameItem_->UseCount == 0))
      throw Exception(Format("The name field \"%s\" must be linked", nameField_));
    if (!existed_) {
      const fs::path folder = fs::path(options_.LibraryFile).parent_path();
      std::error_code ec;
      if (!folder.empty()) fs::create_directories(folder, ec);
      lib_->CreateDBTable();
      result_.Created = true;
    }
    table.Open();
    if (!nameField_.empty()) table.SetIndexName(kNameIndex);
    defaults_ = std::make_unique<TNewRecordDefaults>(table, result_.LibType);
    // The fields of the list, looked up once (null: the look-up fails by name when a value arrives).
    for (std::int32_t i = 0; i < fields_.Count(); ++i) targets_.push_back(table.FindField(fields_[i].FieldName));
    transaction_ = std::make_unique<TABSTransaction>(lib_->Database());
  }

  void Fail(std::int32_t row, std::string column, std::string field, std::string message) {
    ++result_.Failed;
    result_.Errors.push_back({row, std::move(column), std::move(field), std::move(message)});
  }

  void StoreLine(TneAction& action) {
    ++line_;
    const std::int32_t row = result_.FirstLine + line_ - 1;
    if (options_.Progress) options_.Progress(line_, result_.LastLine - result_.FirstLine + 1);
    if (options_.Interrupted && options_.Interrupted()) {
      result_.Interrupted = true;
      action = neCancel;
      return;
    }
    TABSTable& table = lib_->Table();
    if (!nameField_.empty()) {
      std::string name = nameItem_->Value;
      if (Trim(name).empty()) return Fail(row, {}, nameField_, "the name is empty");
      bool store = false;
      try {
        store = CheckNameTwice(table, kNameIndex, name, action, dialogs_);
      } catch (const std::exception& e) {
        if (table.State() != TDataSetState::dsBrowse) table.Cancel();
        return Fail(row, {}, nameField_, e.what());
      }
      if (action == neCancel) {
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
    try {
      if (isNew) defaults_->Apply(Now());
      for (std::int32_t i = 0; i < fields_.Count(); ++i) {
        TFieldNameItem& item = fields_[i];
        if (item.UseCount == 0 || item.Value.empty()) continue;
        std::string why;
        TField* target = targets_[static_cast<std::size_t>(i)];
        if (!StoreValue(target ? *target : table.FieldByName(item.FieldName), item.Value, why)) {
          std::string column;
          for (std::int32_t k = 0; k < form_.Links.Count(); ++k)
            if (form_.Links[k].FieldName() == item.FieldName && !form_.Links[k].Fix()) column = form_.Links[k].XLSCol();
          table.Cancel();
          return Fail(row, column, item.FieldName, "\"" + item.Value + "\" " + why);
        }
      }
      table.Post();
    } catch (const std::exception& e) {
      if (table.State() != TDataSetState::dsBrowse) table.Cancel();
      return Fail(row, {}, {}, e.what());
    }
    ++(isNew ? result_.Added : result_.Overwritten);
    ++(isNew ? form_.CounterA : form_.CounterB);
  }

  const TLibraryImportOptions options_;
  TImportDialogs& dialogs_;
  TLibraryImportResult result_;
  // The field list outlives the form's links, which count their fields' uses.
  TFieldNameList fields_;
  TExcelImportForm form_;
  std::unique_ptr<TMyTable> lib_;
  bool existed_ = false;
  std::string nameField_;
  TFieldNameItem* nameItem_ = nullptr;
  std::unique_ptr<TNewRecordDefaults> defaults_;
  std::vector<TField*> targets_;
  std::unique_ptr<TABSTransaction> transaction_;
  std::int32_t line_ = 0;
};

TLibraryImport::TLibraryImport(const TLibraryImportOptions& Options, TImportDialogs& Dialogs)
    : impl_(std::make_unique<Impl>(Options, Dialogs)) {}
TLibraryImport::~TLibraryImport() = default;
TExcelImportForm& TLibraryImport::Form() { return impl_->Form(); }
TLibraryImportResult TLibraryImport::Run() { return impl_->Run(); }

TLibraryImportResult ImportIntoLibrary(const TLibraryImportOptions& Options, TImportDialogs& Dialogs) {
  TLibraryImport::Impl run(Options, Dialogs);
  run.LinkFromOptions();
  return run.Run();
}

}  // namespace vez
