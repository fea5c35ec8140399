#include "import/NameAlreadyExists.h"

#include "core/FormatSettings.h"
#include "import/Impcnst.h"
#include "librarydb/Absmain.h"

namespace vez {

TFormNameExists::TFormNameExists(TImportDialogs& dialogs, const std::string& Name)
    : Caption(Format(ImportDialogTexts().strElementExists, Name)), NewName(Name), dialogs_(dialogs) {}

std::vector<std::string> TFormNameExists::Items() {
  const TImportDialogTexts& t = ImportDialogTexts();
  return {t.strOverwrite, t.strOverwriteAll, t.strSkip, t.strSkipAll, t.strEnterNewName};
}

void TFormNameExists::RadioGroupClick(std::int32_t Index) {
  ItemIndex = Index;
  if (Index == 4) AskName();
}

void TFormNameExists::NewNameButtonClick() {
  ItemIndex = 4;
  AskName();
}

void TFormNameExists::AskName() { NewName = dialogs_.InputBox(ImportDialogTexts().strNewNamePrompt, "", NewName); }

TneAction NameExistsAction(std::string& Name, TImportDialogs& dialogs) {
  TFormNameExists form(dialogs, Name);
  dialogs.ShowNameExists(form);
  if (form.ModalResult != TModalResult::mrOk || form.ItemIndex < 0 || form.ItemIndex > 4) return neCancel;
  const auto action = static_cast<TneAction>(form.ItemIndex + 1);
  if (action == neNewName) Name = form.NewName;
  return action;
}

namespace {

// Our engine starts the cursor over when the index changes; this finds the record with the key again under the
// restored index, by the first field of the name index (exact match first, then without regard to case).
void Reposition(TABSTable& Table, const std::string& IndexName, const std::string& Name) {
  const int i = Table.IndexDefs().IndexOf(IndexName);
  if (i < 0) return;
  const std::string& fields = Table.IndexDefs()[i].Fields;
  TField& field = Table.FieldByName(fields.substr(0, fields.find(';')));
  for (int pass = 0; pass < 2; ++pass)
    for (Table.First(); !Table.Eof(); Table.Next())
      if (pass == 0 ? field.AsString() == Name : SameText(field.AsString(), Name)) return;
  throw EDatabaseError(Format("Record \"%s\" vanished from table '%s'", Name, Table.TableName()));
}

}  // namespace

bool CheckNameTwice(TABSTable& Table, const std::string& IndexName, std::string& Name, TneAction& Action,
                    TImportDialogs& dialogs) {
  // Switching the index restarts our engine's cursor, so an index that is already current stays untouched.
  const std::string oldIndex = Table.GetIndexName();
  const bool switched = !SameText(oldIndex, IndexName);
  if (switched) Table.SetIndexName(IndexName);
  bool found = false;
  bool result = true;
  try {
    while (Table.FindKey({Variant(Name)})) {
      found = true;
      if (Action != neCancel && Action != neOverwriteAll && Action != neSkipAll) Action = NameExistsAction(Name, dialogs);
      if (Action != neNewName) break;
    }
  } catch (...) {
    if (switched) Table.SetIndexName(oldIndex);
    throw;
  }
  if (switched) Table.SetIndexName(oldIndex);
  if (found && (Action == neCancel || Action == neSkip || Action == neSkipAll)) result = false;
  if (result) {
    if (found && (Action == neOverwrite || Action == neOverwriteAll)) {
      if (switched) Reposition(Table, IndexName, Name);
      Table.Edit();
    } else {
      Table.Append();
    }
  }
  return result;
}

}  // namespace vez
