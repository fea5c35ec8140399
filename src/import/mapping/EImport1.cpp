#include "import/EImport1.h"

#include <algorithm>

#include "core/Exceptions.h"
#include "core/FormatSettings.h"
#include "import/Impcnst.h"
#include "import/XLS_ASCII_Import.h"

namespace vez {

std::int32_t TFieldNameList::Add(const std::string& FieldName, const std::string& Description, bool Multiple,
                                 TSetFieldValueEvent OnSetValue) {
  auto item = std::make_unique<TFieldNameItem>();
  item->FieldName = FieldName;
  item->Description = Description;
  item->Multiple = Multiple;
  item->OnSetValue = std::move(OnSetValue);
  items_.push_back(std::move(item));
  return Count() - 1;
}

TFieldNameItem* TFieldNameList::GetFieldItem(const std::string& Description) {
  for (auto& item : items_)
    if (item->Description == Description) return item.get();
  return nullptr;
}

TColItem::TColItem(bool Fix, const std::string& FixStr, const std::string& XLSCol, const std::string& Description,
                   const std::string& FieldName, TFieldNameItem* FieldNameItem) {
  SetValue(Fix, FixStr, XLSCol, Description, FieldName, FieldNameItem);
}

TColItem::~TColItem() {
  if (fieldNameItem_ != nullptr) --fieldNameItem_->UseCount;
}

void TColItem::SetValue(bool Fix, const std::string& FixStr, const std::string& XLSCol,
                        const std::string& Description, const std::string& FieldName, TFieldNameItem* FieldNameItem) {
  if (fieldNameItem_ != nullptr) --fieldNameItem_->UseCount;
  fieldNameItem_ = FieldNameItem;
  if (fieldNameItem_ != nullptr) ++fieldNameItem_->UseCount;
  fix_ = Fix;
  fixStr_ = FixStr;
  xlsCol_ = XLSCol;
  description_ = Description;
  fieldName_ = FieldName;
}

TColItem& TColItemList::Add(std::unique_ptr<TColItem> item) {
  items_.push_back(std::move(item));
  return *items_.back();
}

void TColItemList::Delete(std::int32_t index) {
  if (index < 0 || index >= Count()) throw EListError(Format("List index out of bounds (%d)", index));
  items_.erase(items_.begin() + index);
}

bool TColItemList::XLSColInList(const std::string& Name) const {
  return std::any_of(items_.begin(), items_.end(), [&](const auto& i) { return i->XLSCol() == Name; });
}

// ---- link dialog ----

TSelectColForm::TSelectColForm() : Caption(ImportDialogTexts().strLinkCaption) { UpdateEnabled(); }

void TSelectColForm::SetImport(TXLSASCIIImport* Import) {
  import_ = Import;
  ColList.Items.clear();
  if (import_ != nullptr)
    for (std::int32_t c = 1; c <= import_->GetLastCol(); ++c) ColList.Items.push_back(import_->GetTextRC(c, 0));
  ColList.ItemIndex = ColList.Items.empty() ? -1 : 0;
}

void TSelectColForm::SetFieldDescrList(TFieldNameList* List) {
  fieldDescrList_ = List;
  RefillDescriptions();
  DescrList.ItemIndex = DescrList.Items.empty() ? -1 : 0;
}

void TSelectColForm::RefillDescriptions() {
  DescrList.Items.clear();
  DescrList.ItemIndex = -1;
  if (fieldDescrList_ == nullptr) return;
  for (std::int32_t i = 0; i < fieldDescrList_->Count(); ++i)
    if ((*fieldDescrList_)[i].GetAvailable()) DescrList.Items.push_back((*fieldDescrList_)[i].Description);
}

void TSelectColForm::SetFix(bool Fix) {
  fix_ = Fix;
  UpdateEnabled();
}

void TSelectColForm::SetXLSCol(const std::string& Col) {
  const auto it = std::find(ColList.Items.begin(), ColList.Items.end(), Col);
  ColList.ItemIndex = it == ColList.Items.end() ? -1 : static_cast<std::int32_t>(it - ColList.Items.begin());
}

void TSelectColForm::SetDescription(const std::string& Text) {
  auto it = std::find(DescrList.Items.begin(), DescrList.Items.end(), Text);
  if (it == DescrList.Items.end()) {
    DescrList.Items.push_back(Text);
    it = DescrList.Items.end() - 1;
  }
  DescrList.ItemIndex = static_cast<std::int32_t>(it - DescrList.Items.begin());
}

void TSelectColForm::Show() { UpdateEnabled(); }

void TSelectColForm::UpdateEnabled() {
  FixEditEnabled = fix_;
  ColList.Enabled = !fix_;
}

void TSelectColForm::ApplyClick() {
  if (OnApply) OnApply(*this);
}

void TSelectColForm::OKClick() {
  ApplyClick();
  ModalResult = TModalResult::mrOk;
}

void TSelectColForm::CancelClick() { ModalResult = TModalResult::mrCancel; }

}  // namespace vez
