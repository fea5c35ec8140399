// EImport1: the target fields of a column-mapping import, the links from file columns (or fixed texts) to
// them, and the link dialog.
//
// The caller lists its target fields (TFieldNameList); each link (TColItem) feeds one field from one file
// column, named by its letter, or with a fixed text. A field counts the links pointing at it and is
// available for another link while it has none or takes several (Multiple: the values are then joined).
// Links keep these counts right when they are made, retargeted and destroyed, so the field list must outlive
// them.
//
// TSelectColForm is the link dialog as a logic class: its controls are plain state (radio choice, the column
// and description drop-down lists, the fixed-text box) and its buttons operations; a front end shows it
// through TImportDialogs::ShowSelectCol and operates it with these calls.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace vez {

class TXLSASCIIImport;
class TFormNameExists;
class TSelectColForm;

enum class TneAction { neCancel, neOverwrite, neOverwriteAll, neSkip, neSkipAll, neNewName };
using enum TneAction;

enum class TModalResult { mrNone, mrOk, mrCancel };

// The window system as the import dialogs use it. The CLI and the tests implement it.
class TImportDialogs {
public:
  virtual ~TImportDialogs() = default;
  virtual void ShowMessage(const std::string& text) = 0;
  // An input box: the entered text, or DefaultText when the user cancels.
  virtual std::string InputBox(const std::string& caption, const std::string& prompt,
                               const std::string& defaultText) = 0;
  // Shows the name-exists dialog modally; the front end operates it and closes it (OKClick / CancelClick).
  virtual void ShowNameExists(TFormNameExists& form) = 0;
  // Shows the link dialog; the front end operates it (its Apply and OK call the dialog's OnApply).
  virtual void ShowSelectCol(TSelectColForm& /*form*/) {}
  virtual void ShowHelp(std::int32_t /*context*/) {}
};

class TFieldNameItem;
using TSetFieldValueEvent = std::function<void(TFieldNameItem& FieldNameItem, const std::string& Value)>;

class TFieldNameItem {
public:
  TSetFieldValueEvent OnSetValue;  // may be unset
  std::int32_t UseCount = 0;       // links that point to this field
  bool Multiple = false;           // several links may feed it; their values are joined
  std::string FieldName;           // the caller's identifier
  std::string Description;         // what the user sees
  std::string Value;               // the value for the current line
  // A field whose owner stores numbers as they are (set by the owner): when its one link is a column and the
  // line's cell there holds a number, the line gives HasNumber and Number instead of a Value text.
  bool TakesNumbers = false;
  bool HasNumber = false;
  double Number = 0;

  bool GetAvailable() const { return UseCount == 0 || Multiple; }
};

class TFieldNameList {
public:
  // Appends a field (use count 0); returns its index.
  std::int32_t Add(const std::string& FieldName, const std::string& Description, bool Multiple,
                   TSetFieldValueEvent OnSetValue = {});
  // The first field whose Description equals the text exactly; nullptr when none.
  TFieldNameItem* GetFieldItem(const std::string& Description);
  std::int32_t Count() const { return static_cast<std::int32_t>(items_.size()); }
  TFieldNameItem& operator[](std::int32_t index) { return *items_.at(static_cast<std::size_t>(index)); }
  const TFieldNameItem& operator[](std::int32_t index) const { return *items_.at(static_cast<std::size_t>(index)); }

private:
  std::vector<std::unique_ptr<TFieldNameItem>> items_;
};

// One link. Making it, retargeting it (SetValue) and destroying it keep the target's use count.
class TColItem {
public:
  TColItem(bool Fix, const std::string& FixStr, const std::string& XLSCol, const std::string& Description,
           const std::string& FieldName, TFieldNameItem* FieldNameItem);
  ~TColItem();
  TColItem(const TColItem&) = delete;
  TColItem& operator=(const TColItem&) = delete;

  void SetValue(bool Fix, const std::string& FixStr, const std::string& XLSCol, const std::string& Description,
                const std::string& FieldName, TFieldNameItem* FieldNameItem);

  TFieldNameItem* FieldNameItem() const { return fieldNameItem_; }
  bool Fix() const { return fix_; }
  const std::string& FixStr() const { return fixStr_; }
  const std::string& XLSCol() const { return xlsCol_; }
  const std::string& Description() const { return description_; }
  const std::string& FieldName() const { return fieldName_; }

private:
  TFieldNameItem* fieldNameItem_ = nullptr;  // not owned
  bool fix_ = false;
  std::string fixStr_, xlsCol_, description_, fieldName_;
};

class TColItemList {
public:
  TColItem& Add(std::unique_ptr<TColItem> item);
  void Delete(std::int32_t index);
  void Clear() { items_.clear(); }
  std::int32_t Count() const { return static_cast<std::int32_t>(items_.size()); }
  TColItem& operator[](std::int32_t index) { return *items_.at(static_cast<std::size_t>(index)); }
  const TColItem& operator[](std::int32_t index) const { return *items_.at(static_cast<std::size_t>(index)); }
  // True when a link's XLSCol equals Name exactly.
  bool XLSColInList(const std::string& Name) const;

private:
  std::vector<std::unique_ptr<TColItem>> items_;
};

// A drop-down list or list box: entries and the selected one (-1 none).
struct TListControl {
  std::vector<std::string> Items;
  std::int32_t ItemIndex = -1;
  bool Enabled = true;
  std::string Selected() const {
    return ItemIndex >= 0 && ItemIndex < static_cast<std::int32_t>(Items.size())
               ? Items[static_cast<std::size_t>(ItemIndex)]
               : std::string();
  }
};

// The link dialog ("Define Link").
class TSelectColForm {
public:
  TSelectColForm();

  std::function<void(TSelectColForm& Sender)> OnApply;
  std::int32_t EditIndex = -1;  // the link being edited, -1 for a new one

  void SetImport(TXLSASCIIImport* Import);
  TXLSASCIIImport* Import() const { return import_; }
  void SetFieldDescrList(TFieldNameList* List);
  TFieldNameList* FieldDescrList() const { return fieldDescrList_; }
  // Refills the description list with the fields now available; the selection is cleared.
  void RefillDescriptions();

  bool GetFix() const { return fix_; }
  void SetFix(bool Fix);  // selects the "fix" (true) or "Col" radio button
  std::string GetXLSCol() const { return ColList.Selected(); }
  void SetXLSCol(const std::string& Col);
  const std::string& GetFixStr() const { return FixEdit; }
  void SetFixStr(const std::string& Text) { FixEdit = Text; }
  std::string GetDescription() const { return DescrList.Selected(); }
  void SetDescription(const std::string& Text);

  void Show();         // re-evaluates which controls are enabled
  void OKClick();      // applies and closes with OK
  void ApplyClick();   // applies and stays open
  void CancelClick();  // closes

  std::string Caption;  // the table's strLinkCaption
  TListControl ColList;    // column letters
  TListControl DescrList;  // descriptions of the available fields
  std::string FixEdit;
  bool FixEditEnabled = false;
  TModalResult ModalResult = TModalResult::mrNone;

private:
  void UpdateEnabled();
  bool fix_ = false;
  TXLSASCIIImport* import_ = nullptr;
  TFieldNameList* fieldDescrList_ = nullptr;
};

}  // namespace vez
