#include "import/EImport2.h"

#include <algorithm>

#include "core/Exceptions.h"
#include "core/FormatSettings.h"
#include "import/Impcnst.h"

namespace vez {

TExcelImportForm::TExcelImportForm(TImportDialogs& dialogs) : dialogs_(dialogs) {}

TExcelImportForm::~TExcelImportForm() { Links.Clear(); }

void TExcelImportForm::SetFileName(const std::string& Name) {
  fileName_ = Name;
  try {
    ImportData.DoImport(DataGrid, Name);
    ImportData.SetMinRow(1);
    ImportData.SetMaxRow(ImportData.GetLastRow());
    ImportHeader.DoImportShared(HeaderGrid, ImportData);
    ImportHeader.SetMaxRow(ImportData.MinRow() - 1);
  } catch (const std::exception& e) {
    throw Exception(std::string(e.what()) + "\r\n" + Format(ImportDialogTexts().strCannotOpen, Name));
  }
  if (ImportData.FileType() == "ASCII") Caption = Format(ImportDialogTexts().strAsciiImportCaption, Name);
  else Caption = Format(ImportDialogTexts().strExcelImportCaption, ImportData.FileType() + "-" + Name);
  const std::int32_t last = ImportData.GetLastRow();
  // The new file changes what the lines mean, so both change handlers run even when a value stays.
  StopLine.MinValue = 1;
  SetSpin(StopLine, last);
  SpinEdit2Change();
  StartLine.MinValue = 1;
  StartLine.MaxValue = last;
  SetSpin(StartLine, 2);
  SpinEdit1Change();
}

bool TExcelImportForm::SetSpin(TSpinEdit& spin, std::int32_t value) {
  if (spin.MaxValue > spin.MinValue) value = std::clamp(value, spin.MinValue, spin.MaxValue);
  if (spin.Value == value) return false;
  spin.Value = value;
  return true;
}

std::int32_t TExcelImportForm::GetXLSColNo(const std::string& Name) const {
  for (std::int32_t c = 1; c <= ImportData.GetLastCol(); ++c)
    if (GetXLSColName(c) == Name) return c;
  return 0;
}

std::string TExcelImportForm::GetLinkStr(const TColItem& Link) {
  if (Link.Fix()) return Link.Description() + " <- \"" + Link.FixStr() + "\"";
  return Link.Description() + " <- " + Link.XLSCol();
}

std::vector<TExcelImportForm::TFieldSource> TExcelImportForm::FieldSources(const std::string& FieldName,
                                                                          bool Multiple) const {
  std::vector<TFieldSource> sources;
  for (std::int32_t i = 0; i < Links.Count(); ++i) {
    const TColItem& link = Links[i];
    if (link.FieldName() != FieldName) continue;
    sources.push_back({&link, link.Fix() ? 0 : GetXLSColNo(link.XLSCol())});
    if (!Multiple) break;
  }
  return sources;
}

bool TExcelImportForm::AssembleValue(std::int32_t Row, const std::vector<TFieldSource>& Sources,
                                     std::string& Value) const {
  Value.clear();
  for (const TFieldSource& source : Sources) {
    if (source.Link->Fix()) {
      Value = source.Link->FixStr();
    } else {
      if (!Value.empty()) Value += "\r\n";
      const TStringGrid& grid = ImportData.DataGrid();
      double number = 0;
      if (grid.CellNumber(source.Col, Row, number)) Value += FloatToStrShortest(number);
      else Value += grid.CellText(source.Col, Row);
    }
  }
  return !Sources.empty();
}

bool TExcelImportForm::GetFieldValue(std::int32_t Row, const std::string& FieldName, bool Multiple,
                                     std::string& Value) const {
  return AssembleValue(Row, FieldSources(FieldName, Multiple), Value);
}

void TExcelImportForm::DoImport() {
  DoImport([this](const std::function<bool(std::int32_t)>& line) {
    for (std::int32_t r = ImportData.MinRow(); r <= ImportData.MaxRow() && line(r); ++r) {
    }
  });
}

void TExcelImportForm::DoImport(const TRowWalk& Rows) {
  TneAction action = neOverwrite;
  CounterA = 0;
  CounterB = 0;
  if (OnBeforeImport) OnBeforeImport(*this);
  if (FieldList == nullptr) return;
  // The links and the field list stay as they are while the lines run: which links feed which field, and
  // their columns, are looked up once.
  // A field without a link stays empty: it is cleared once, and each line goes through the linked fields only.
  std::vector<std::pair<TFieldNameItem*, std::vector<TFieldSource>>> linked;
  for (std::int32_t i = 0; i < FieldList->Count(); ++i) {
    TFieldNameItem& item = (*FieldList)[i];
    item.Value.clear();
    item.HasNumber = false;
    if (auto sources = FieldSources(item.FieldName, item.Multiple); !sources.empty())
      linked.emplace_back(&item, std::move(sources));
  }
  std::string value;
  Rows([&](std::int32_t r) {
    for (auto& [item, sources] : linked) {
      item->Value.clear();
      item->HasNumber = false;
    }
    for (auto& [item, sources] : linked) {
      // A number cell into a field that takes numbers as they are: no text on the way.
      if (item->TakesNumbers && !item->OnSetValue && sources.size() == 1 && !sources[0].Link->Fix() &&
          ImportData.DataGrid().CellNumber(sources[0].Col, r, item->Number)) {
        item->HasNumber = true;
        continue;
      }
      AssembleValue(r, sources, value);
      if (item->OnSetValue) item->OnSetValue(*item, value);
      else item->Value.swap(value);  // `value` is assembled afresh for the next field
    }
    if (OnImportLine) OnImportLine(*this, action);
    return action != neCancel;
  });
}

void TExcelImportForm::AddLink(std::unique_ptr<TColItem> link) {
  LinkList.Items.push_back(GetLinkStr(*link));
  Links.Add(std::move(link));
}

void TExcelImportForm::EditConnect(std::int32_t Index) {
  TSelectColForm form;
  form.SetImport(&ImportData);
  form.SetFieldDescrList(FieldList);
  form.EditIndex = Index < Links.Count() ? Index : -1;
  if (form.EditIndex >= 0) {
    const TColItem& link = Links[form.EditIndex];
    form.SetFix(link.Fix());
    form.SetFixStr(link.FixStr());
    form.SetXLSCol(link.XLSCol());
    form.SetDescription(link.Description());
  }
  form.OnApply = [this](TSelectColForm& sender) { ApplyConnect(sender); };
  form.Show();
  dialogs_.ShowSelectCol(form);
}

void TExcelImportForm::ApplyConnect(TSelectColForm& Sender) {
  if (FieldList == nullptr) return;
  TFieldNameItem* item = FieldList->GetFieldItem(Sender.GetDescription());
  if (item == nullptr) return;
  const bool fix = Sender.GetFix();
  const std::string col = fix ? std::string() : Sender.GetXLSCol();
  if (fix ? Sender.GetFixStr().empty() : col.empty()) return;
  if (Sender.EditIndex >= 0 && Sender.EditIndex < Links.Count()) {
    TColItem& link = Links[Sender.EditIndex];
    link.SetValue(fix, Sender.GetFixStr(), col, item->Description, item->FieldName, item);
    LinkList.Items[static_cast<std::size_t>(Sender.EditIndex)] = GetLinkStr(link);
  } else {
    AddLink(std::make_unique<TColItem>(fix, Sender.GetFixStr(), col, item->Description, item->FieldName, item));
  }
  Sender.EditIndex = -1;
  Sender.RefillDescriptions();
}

void TExcelImportForm::AutoLinkButtonClick() {
  if (FieldList == nullptr) return;
  for (std::int32_t r = 1; r <= ImportHeader.MaxRow(); ++r) {
    for (std::int32_t c = 1; c <= ImportHeader.GetLastCol(); ++c) {
      const std::string& text = ImportHeader.GetTextRC(c, r);
      const std::string letter = GetXLSColName(c);
      if (Links.XLSColInList(letter)) continue;
      TFieldNameItem* match = nullptr;
      for (std::int32_t i = 0; i < FieldList->Count() && match == nullptr; ++i)
        if (SameText((*FieldList)[i].Description, text)) match = &(*FieldList)[i];
      if (match == nullptr) continue;
      TFieldNameItem* item = FieldList->GetFieldItem(match->Description);
      if (item == nullptr || !item->GetAvailable()) continue;
      AddLink(std::make_unique<TColItem>(false, "", letter, item->Description, item->FieldName, item));
    }
  }
}

void TExcelImportForm::StartButtonClick() { StartButtonClick(nullptr); }

void TExcelImportForm::StartButtonClick(const TRowWalk& Rows) {
  if (Links.Count() == 0) {
    dialogs_.ShowMessage(ImportDialogTexts().strNoLinks);
    return;
  }
  if (StopChecked && StopLine.Value < StartLine.Value) {
    dialogs_.ShowMessage(ImportDialogTexts().strStopBeforeStart);
    FocusedControl = "StopLine";
    return;
  }
  if (Rows) DoImport(Rows);
  else DoImport();
  ModalResult = TModalResult::mrOk;
}

void TExcelImportForm::ClearButtonClick() {
  Links.Clear();
  LinkList.Items.clear();
  LinkList.ItemIndex = -1;
}

void TExcelImportForm::LinkListDelete() {
  const std::int32_t i = LinkList.ItemIndex;
  if (i < 0 || i >= Links.Count()) return;
  Links.Delete(i);
  LinkList.Items.erase(LinkList.Items.begin() + i);
  LinkList.ItemIndex = -1;
}

void TExcelImportForm::HeaderGridMouseUp() {
  for (std::int32_t c = 0; c < DataGrid.ColCount() && c < HeaderGrid.ColCount(); ++c)
    DataGrid.SetColWidths(c, HeaderGrid.ColWidths(c));
}

void TExcelImportForm::DataGridMouseUp() {
  for (std::int32_t c = 0; c < DataGrid.ColCount() && c < HeaderGrid.ColCount(); ++c)
    HeaderGrid.SetColWidths(c, DataGrid.ColWidths(c));
}

void TExcelImportForm::SetLines(std::int32_t Start, std::int32_t Stop) {
  const std::int32_t last = ImportData.GetLastRow();
  StartLine.Value = Start;
  StopChecked = Stop > 0;
  StopLine.Enabled = StopChecked;
  StopLine.Value = Stop > 0 ? Stop : last;
  ImportData.SetMinRow(Start);
  ImportData.SetMaxRow(Stop > 0 && Stop < last ? Stop : last);
  ImportHeader.SetMaxRow(std::min(Start, last + 1) - 1);
}

void TExcelImportForm::SetStartLine(std::int32_t Value) {
  if (SetSpin(StartLine, Value)) SpinEdit1Change();
}

void TExcelImportForm::SetStopLine(std::int32_t Value) {
  if (SetSpin(StopLine, Value)) SpinEdit2Change();
}

void TExcelImportForm::SetStopChecked(bool Checked) {
  StopChecked = Checked;
  CheckBox1Click();
}

void TExcelImportForm::SpinEdit1Change() {
  ImportData.SetMinRow(std::min(StartLine.Value, ImportData.MaxRow()));
  ImportHeader.SetMaxRow(ImportData.MinRow() - 1);
  if (StopLine.Value < StartLine.Value) SetStopLine(StartLine.Value);
  StopLine.MinValue = StartLine.Value;
}

void TExcelImportForm::SpinEdit2Change() {
  StopLine.Enabled = StopChecked;
  if (!StopLine.Enabled) return;
  const std::int32_t last = ImportData.GetLastRow();
  ImportData.SetMaxRow(StopLine.Value <= last ? StopLine.Value : last);
}

}  // namespace vez
