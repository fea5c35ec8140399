// NameAlreadyExists: what to do with an element whose name is already in the target library table.
//
// CheckNameTwice looks the name up on the table's name index and, when it is there, asks the user (unless an
// earlier answer holds for all: Overwrite all, Skip all, or Cancel) whether to overwrite the record, skip the
// element or give it a new name, which is checked again. It then positions the table: the found record in edit
// state to be overwritten, or a new appended record. The question is the dialog TFormNameExists, a logic class
// that a front end shows through TImportDialogs::ShowNameExists and operates with the calls below.
//
// Our choice: the input box for a new name is captioned "Enter new name:" with an empty prompt; cancelling it
// keeps the old name, which is then found again and asked about again. The texts come from
// ImportDialogTexts() (Impcnst.h).
#pragma once

#include <string>
#include <vector>

#include "import/EImport1.h"

namespace vez {

class TABSTable;

class TFormNameExists {
public:
  TFormNameExists(TImportDialogs& dialogs, const std::string& Name);

  // The radio group: "Overwrite", "Overwrite all", "Skip", "Skip all", "Enter new name" (from
  // ImportDialogTexts()).
  static std::vector<std::string> Items();
  std::int32_t ItemIndex = 0;
  std::string Caption;
  std::string NewName;  // the entered new name (the old name until one is entered)
  TModalResult ModalResult = TModalResult::mrNone;

  // Selecting an item; "Enter new name" (4) opens the input box.
  void RadioGroupClick(std::int32_t Index);
  // The ">>" button: selects "Enter new name" and asks for the name.
  void NewNameButtonClick();
  void OKClick() { ModalResult = TModalResult::mrOk; }
  void CancelClick() { ModalResult = TModalResult::mrCancel; }

private:
  void AskName();
  TImportDialogs& dialogs_;
};

// Shows the dialog for Name: neCancel when cancelled, otherwise the chosen action; for neNewName, Name becomes
// the entered name.
TneAction NameExistsAction(std::string& Name, TImportDialogs& dialogs);

// True when the caller should store the element (the table is then in edit state on the found record, or
// in insert state on a new one); false to skip it. The table's index name is restored before it returns.
bool CheckNameTwice(TABSTable& Table, const std::string& IndexName, std::string& Name, TneAction& Action,
                    TImportDialogs& dialogs);

}  // namespace vez
