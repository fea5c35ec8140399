#include "import/mapping/LibraryImport.h"

#include <cmath>
#include <filesystem>
#include <unordered_map>

#include "core/Exceptions.h"
#include "core/FormatSettings.h"
#include "import/EImport2.h"
#include "import/Impcnst.h"
#include "import/NameAlreadyExists.h"
#include "librarydb/Defaults.h"
#include "librarydb/OVLibConst.h"

namespace vez {

namespace {

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

TLibraryImportResult ImportIntoLibrary(const TLibraryImportOptions& Options, TImportDialogs& Dialogs) {
  TLibraryImportResult result;
  namespace fs = std::filesystem;
  const std::string baseName = fs::path(Options.LibraryFile).filename().string();
  result.LibType = Options.LibType >= 0 ? Options.LibType : GetLibType(baseName);
  if (result.LibType < 0 || LibTypeConstantName(result.LibType) == nullptr)
    throw Exception(Format("The library type of \"%s\" is not known; give it with --type", baseName));
  const std::int32_t libType = result.LibType;

  // The field list outlives the form's links, which count their fields' uses.
  TFieldNameList fields;
  // Load the file first: a file that cannot be opened leaves the library untouched.
  TExcelImportForm form(Dialogs);
  form.SetFileName(Options.FileName);
  result.FileType = form.ImportData.FileType();

  TMyTable lib(Options.LibraryFile, false);
  TABSTable& table = lib.Table();
  const bool existed = lib.Exists();
  if (!existed) {
    if (!SetFieldIndexDefs(table, libType, false))
      throw Exception(Format("Library type %d has no table layout to create \"%s\" with", libType, baseName));
  }
  // Fields from the layout (a new library) or from the file.
  auto offer = [&](const std::string& name, TFieldType type) {
    if (!Importable(type)) return;
    fields.Add(name, name, type == ftMemo || type == ftFmtMemo);
  };
  if (existed) {
    table.ReadDefinitions();
  }
  if (table.AdvFieldDefs().Count() > 0) {
    for (int i = 0; i < table.AdvFieldDefs().Count(); ++i)
      offer(table.AdvFieldDefs()[i].Name, AdvancedFieldTypeToFieldType(table.AdvFieldDefs()[i].DataType));
  } else {
    for (int i = 0; i < table.FieldDefs().Count(); ++i) offer(table.FieldDefs()[i].Name, table.FieldDefs()[i].DataType);
  }
  form.FieldList = &fields;

  auto link = [&](const std::string& field, bool fix, const std::string& value) {
    TSelectColForm dlg;
    dlg.SetImport(&form.ImportData);
    dlg.SetFieldDescrList(&fields);
    dlg.OnApply = [&form](TSelectColForm& s) { form.ApplyConnect(s); };
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
                               form.GetXLSColName(form.ImportData.GetLastCol())));
    }
    dlg.SetDescription(FieldOfOption(fields, field));
    const std::int32_t before = form.Links.Count();
    dlg.OKClick();
    if (form.Links.Count() == before) throw Exception(Format("Field \"%s\" cannot take another link", field));
  };

  // Lines: the start line makes the rows above it the header rows that auto link reads.
  form.SetStartLine(Options.StartLine);
  if (Options.StopLine > 0) {
    form.SetStopChecked(true);
    form.SetStopLine(Options.StopLine);
  }
  for (const auto& [field, col] : Options.Maps) link(field, false, col);
  for (const auto& [field, text] : Options.Fixes) link(field, true, text);
  if (Options.AutoLink) form.AutoLinkButtonClick();
  if (form.Links.Count() == 0)
    throw Exception(Options.AutoLink ? "No header text above the start line names a field of the library"
                                     : "Nothing is linked: give --map FIELD=COLUMN or --auto-link");
  if (Options.StopLine > 0 && Options.StopLine < Options.StartLine)
    throw Exception("Stop line# must be greater than start line#");
  result.Links = form.LinkList.Items;
  result.FirstLine = form.ImportData.MinRow();
  result.LastLine = form.ImportData.MaxRow();

  const std::string nameField = NameFieldOf(table);
  const std::string nameIndex = nameField.empty() ? std::string() : std::string(kNameIndex);
  TFieldNameItem* nameItem = fields.GetFieldItem(nameField);
  if (!nameIndex.empty() && (nameItem == nullptr || nameItem->UseCount == 0))
    throw Exception(Format("The name field \"%s\" must be linked", nameField));
  if (!existed) {
    const fs::path folder = fs::path(Options.LibraryFile).parent_path();
    std::error_code ec;
    if (!folder.empty()) fs::create_directories(folder, ec);
    lib.CreateDBTable();
    result.Created = true;
  }
  struct RemoveIfCreated {
    TMyTable& lib;
    const TLibraryImportResult& r;
    std::string file;
    ~RemoveIfCreated() {
      if (r.Created && !r.Committed) {
        lib.Table().Close();
        lib.Database().Close();
        std::error_code ec;
        fs::remove(file, ec);
      }
    }
  } removeIfCreated{lib, result, Options.LibraryFile};

  table.Open();
  if (!nameIndex.empty()) table.SetIndexName(nameIndex);

  TNewRecordDefaults defaults(table, libType);
  // The fields of the list, looked up once (null: the look-up fails by name when a value arrives).
  std::vector<TField*> targets;
  for (std::int32_t i = 0; i < fields.Count(); ++i) targets.push_back(table.FindField(fields[i].FieldName));
  TABSTransaction transaction(lib.Database());
  const std::int32_t total = result.LastLine - result.FirstLine + 1;
  std::int32_t line = 0;
  form.OnImportLine = [&](TExcelImportForm& f, TneAction& action) {
    ++line;
    const std::int32_t row = f.ImportData.MinRow() + line - 1;
    if (Options.Progress) Options.Progress(line, total);
    if (Options.Interrupted && Options.Interrupted()) {
      result.Interrupted = true;
      action = neCancel;
      return;
    }
    auto fail = [&](std::string column, std::string field, std::string message) {
      ++result.Failed;
      result.Errors.push_back({row, std::move(column), std::move(field), std::move(message)});
    };
    if (!nameIndex.empty()) {
      std::string name = nameItem->Value;
      if (Trim(name).empty()) {
        fail({}, nameField, "the name is empty");
        return;
      }
      bool store = false;
      try {
        store = CheckNameTwice(table, nameIndex, name, action, Dialogs);
      } catch (const std::exception& e) {
        if (table.State() != TDataSetState::dsBrowse) table.Cancel();
        fail({}, nameField, e.what());
        return;
      }
      if (action == neCancel) {
        result.Cancelled = !result.Interrupted;
        return;
      }
      if (!store) {
        ++result.Skipped;
        return;
      }
      nameItem->Value = name;
    } else {
      table.Append();
    }
    const bool isNew = table.State() == TDataSetState::dsInsert;
    try {
      if (isNew) defaults.Apply(Now());
      for (std::int32_t i = 0; i < fields.Count(); ++i) {
        TFieldNameItem& item = fields[i];
        if (item.UseCount == 0 || item.Value.empty()) continue;
        std::string why;
        TField* target = targets[static_cast<std::size_t>(i)];
        if (!StoreValue(target ? *target : table.FieldByName(item.FieldName), item.Value, why)) {
          std::string column;
          for (std::int32_t k = 0; k < f.Links.Count(); ++k)
            if (f.Links[k].FieldName() == item.FieldName && !f.Links[k].Fix()) column = f.Links[k].XLSCol();
          table.Cancel();
          fail(column, item.FieldName, "\"" + item.Value + "\" " + why);
          return;
        }
      }
      table.Post();
    } catch (const std::exception& e) {
      if (table.State() != TDataSetState::dsBrowse) table.Cancel();
      fail({}, {}, e.what());
      return;
    }
    ++(isNew ? result.Added : result.Overwritten);
    ++(isNew ? f.CounterA : f.CounterB);
  };
  form.StartButtonClick();
  if (!result.Cancelled && !result.Interrupted && !Options.DryRun) {
    transaction.Commit();
    result.Committed = true;
  }
  return result;
}

}  // namespace vez
