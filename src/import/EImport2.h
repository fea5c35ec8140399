// EImport2: the import dialog of the column-mapping import, as a logic class.
//
// The dialog loads a spreadsheet or tab-separated file into two loaders (ImportData for the data rows,
// ImportHeader for the header rows above the start line; they share the rows, the file is read once), keeps the links from file columns to the caller's fields, and walks
// the chosen lines: for every line each field gets its value and the caller's line handler stores the record
// (checking names with CheckNameTwice, which may change the action that carries over to the next line).
//
// The controls are plain state (the two grids, the start and stop spin boxes, the stop check box, the link
// list, the caption, the focused control); a front end drives the dialog through the operations named after
// the controls' events, and sees messages and the link dialog through TImportDialogs.
//
// Our choices: the spin boxes clamp a value to their range as the platform's did (when the range is not
// empty) and call their change handler when the value changes; a program that is not bound to the spin
// boxes' range (1 .. 30000) sets the lines with SetLines. The Delete key is LinkListDelete. Captions and
// messages come from ImportDialogTexts() (Impcnst.h).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "import/EImport1.h"
#include "import/sheet/TextGrid.h"
#include "import/XLS_ASCII_Import.h"

namespace vez {

inline constexpr std::int32_t kImportHelpContext = 400014;

struct TSpinEdit {
  std::int32_t Value = 0;
  std::int32_t MinValue = 0;
  std::int32_t MaxValue = 0;
  bool Enabled = true;
};

class TExcelImportForm;
using TImportLineEvent = std::function<void(TExcelImportForm& Sender, TneAction& neAction)>;

class TExcelImportForm {
public:
  // dialogs: the window system (not owned; must outlive the dialog).
  explicit TExcelImportForm(TImportDialogs& dialogs);
  ~TExcelImportForm();
  TExcelImportForm(const TExcelImportForm&) = delete;
  TExcelImportForm& operator=(const TExcelImportForm&) = delete;

  TStringGrid HeaderGrid;
  TStringGrid DataGrid;
  TColItemList Links;
  TFieldNameList* FieldList = nullptr;  // set by the caller, not owned
  std::function<void(TExcelImportForm& Sender)> OnBeforeImport;
  TImportLineEvent OnImportLine;
  TXLSASCIIImport ImportData;
  TXLSASCIIImport ImportHeader;
  std::int32_t CounterA = 0;
  std::int32_t CounterB = 0;

  // Loads the file into both grids and sets caption and spin boxes. A loading error is raised again as
  // vez::Exception: its message, CR LF, "File "<name>" cannot be opened".
  void SetFileName(const std::string& Name);
  const std::string& FileName() const { return fileName_; }

  std::string GetXLSColName(std::int32_t Col) const { return ImportData.GetTextRC(Col, 0); }
  std::int32_t GetXLSColNo(const std::string& Name) const;
  static std::string GetLinkStr(const TColItem& Link);
  bool GetFieldValue(std::int32_t Row, const std::string& FieldName, bool Multiple, std::string& Value) const;
  // The line loop.
  void DoImport();
  // The same line loop over rows another reader supplies (an import that reads its file while it stores): Rows
  // calls Line(r) for each grid row in order, with that row's cells in ImportData while Line runs, and stops
  // when Line answers false. DoImport() walks MinRow .. MaxRow of the loaded grid.
  using TRowWalk = std::function<void(const std::function<bool(std::int32_t)>& Line)>;
  void DoImport(const TRowWalk& Rows);

  // Opens the link dialog for link Index (a new link when Index < 0).
  void EditConnect(std::int32_t Index);
  void ApplyConnect(TSelectColForm& Sender);
  void AutoLinkButtonClick();
  void StartButtonClick();
  void StartButtonClick(const TRowWalk& Rows);  // Start Import with the rows Rows supplies
  void ClearButtonClick();
  void CancelButtonClick() { ModalResult = TModalResult::mrCancel; }
  void HelpButtonClick() { dialogs_.ShowHelp(kImportHelpContext); }
  void LinkListDblClick() { EditConnect(LinkList.ItemIndex); }
  void LinkListDelete();  // the Delete key on the link list
  void HeaderGridMouseUp();
  void DataGridMouseUp();

  // The lines to import as a program sets them, beyond the spin boxes' range: data rows Start .. Stop (0: to
  // the last row), the rows above Start the header rows. A start past the last row leaves no line to import.
  void SetLines(std::int32_t Start, std::int32_t Stop);

  // Spin boxes and check box, as the user sets them (the change handlers run as on the platform).
  void SetStartLine(std::int32_t Value);
  void SetStopLine(std::int32_t Value);
  void SetStopChecked(bool Checked);
  void SpinEdit1Change();
  void SpinEdit2Change();
  void CheckBox1Click() { SpinEdit2Change(); }

  std::string Caption;  // set when a file is loaded
  TSpinEdit StartLine{2, 1, 30000, true};
  TSpinEdit StopLine{1, 1, 30000, false};
  bool StopChecked = false;
  TListControl LinkList;
  std::string FocusedControl;  // "StopLine" after the stop line was refused
  TModalResult ModalResult = TModalResult::mrNone;

private:
  static bool SetSpin(TSpinEdit& spin, std::int32_t value);
  void AddLink(std::unique_ptr<TColItem> link);

  TImportDialogs& dialogs_;
  std::string fileName_;
  // A link that feeds a field, with the column its letter names (0 for a fixed text).
  struct TFieldSource {
    const TColItem* Link;
    std::int32_t Col;
  };
  // The links of FieldName in link order (the first only unless Multiple), their columns looked up.
  std::vector<TFieldSource> FieldSources(const std::string& FieldName, bool Multiple) const;
  // The value of a field in line Row from its sources; False when it has none.
  bool AssembleValue(std::int32_t Row, const std::vector<TFieldSource>& Sources, std::string& Value) const;
};

}  // namespace vez
