// Links, value assembly, auto link, the line loop and the name check on a real library.
#include <gtest/gtest.h>
#include <zip.h>

#include <algorithm>
#include <array>
#include <bit>
#include <deque>
#include <fstream>
#include <sstream>
#include <tuple>

#include <nlohmann/json.hpp>

#include "TestUtil.h"
#include "core/FormatSettings.h"
#include "import/EImport2.h"
#include "import/Impcnst.h"
#include "import/mapping/LibraryImport.h"
#include "import/NameAlreadyExists.h"
#include "librarydb/LibraryFile.h"
#include "librarydb/OVLibConst.h"

namespace vez {
namespace {

// Answers the name question from a script: an item index (with a name for "Enter new name"), or -1 = Cancel.
struct ScriptedDialogs : TImportDialogs {
  struct Answer {
    int Item;
    std::string NewName;
  };
  std::deque<Answer> answers;
  std::vector<std::string> asked, messages;
  std::vector<std::int32_t> helpTopics;
  std::string pendingName;
  void ShowMessage(const std::string& text) override { messages.push_back(text); }
  void ShowHelp(std::int32_t topic) override { helpTopics.push_back(topic); }
  std::string InputBox(const std::string& caption, const std::string&, const std::string&) override {
    EXPECT_EQ("Enter new name:", caption);
    return pendingName;
  }
  void ShowNameExists(TFormNameExists& form) override {
    asked.push_back(form.Caption);
    const Answer a = answers.front();
    answers.pop_front();
    if (a.Item < 0) return form.CancelClick();
    pendingName = a.NewName;
    form.RadioGroupClick(a.Item);
    form.OKClick();
  }
};

class ColumnMapping : public ::testing::Test {
protected:
  void SetUp() override {
    std::ofstream(dir_.File("data.txt")) << "NAME\tlevel\tnote\textra\n"
                                            "a\t1\tn1\te1\n"
                                            "b\t2\tn2\te2\n"
                                            "c\t3\tn3\te3\n";
    fields_.Add("Name", "Name", false);
    fields_.Add("Level", "Level", false);
    fields_.Add("Memo", "Memo", true);
    form_.FieldList = &fields_;
    form_.SetFileName(dir_.File("data.txt"));
  }
  void Link(bool fix, const std::string& value, const std::string& description) {
    TSelectColForm dlg;
    dlg.SetImport(&form_.ImportData);
    dlg.SetFieldDescrList(&fields_);
    dlg.OnApply = [this](TSelectColForm& s) { form_.ApplyConnect(s); };
    dlg.SetFix(fix);
    if (fix) dlg.SetFixStr(value);
    else dlg.SetXLSCol(value);
    dlg.SetDescription(description);
    dlg.OKClick();
  }
  std::string Value(int row, const std::string& field, bool multiple) {
    std::string v = "stale";
    if (!form_.GetFieldValue(row, field, multiple, v)) return "<none>";
    return v;
  }
  // An import of the folder's `file` into its library emis.abs.
  TLibraryImportOptions Import(const std::string& file) const {
    TLibraryImportOptions o;
    o.FileName = dir_.File(file);
    o.LibraryFile = dir_.File("emis.abs");
    return o;
  }
  test::TempDir dir_;
  ScriptedDialogs dialogs_;
  TFieldNameList fields_;
  TExcelImportForm form_{dialogs_};
};

TEST_F(ColumnMapping, UseCountsFollowLinks) {
  EXPECT_EQ(2, TExcelImportForm(dialogs_).StartLine.Value);  // below the header line before any file
  Link(false, "A", "Name");
  EXPECT_EQ(std::pair(1, false), std::pair(fields_[0].UseCount, fields_[0].GetAvailable()));
  EXPECT_EQ((std::vector<std::string>{"Name <- A"}), form_.LinkList.Items);
  Link(false, "B", "Name");  // no longer offered: the choice has the description, GetFieldItem finds it
  Link(true, "", "Level");   // fixed text empty: ignored
  Link(false, "B", "Nope");  // no such field: ignored
  EXPECT_EQ(2, form_.Links.Count());
  EXPECT_THROW_MSG(form_.Links.Delete(2), EListError, "List index out of bounds (2)");
  form_.Links[1].SetValue(true, "5", "", "Level", "Level", &fields_[1]);
  EXPECT_EQ(std::pair(1, 1), std::pair(fields_[0].UseCount, fields_[1].UseCount));
  EXPECT_EQ("Level <- \"5\"", TExcelImportForm::GetLinkStr(form_.Links[1]));
  form_.LinkList.ItemIndex = 0;
  form_.LinkListDelete();  // the first entry too, and its field is free again
  EXPECT_EQ(std::pair(0, std::vector<std::string>{"Name <- B"}), std::pair(fields_[0].UseCount, form_.LinkList.Items));
  form_.ClearButtonClick();
  EXPECT_EQ(0, fields_[1].UseCount);
}

TEST_F(ColumnMapping, EditingALinkThroughTheDialog) {
  Link(false, "A", "Name");
  struct Editor : ScriptedDialogs {
    std::vector<std::int32_t> edited;
    void ShowSelectCol(TSelectColForm& f) override {
      edited.push_back(f.EditIndex);
      EXPECT_EQ("A", f.GetXLSCol());
      EXPECT_FALSE(f.FixEditEnabled);
      f.SetXLSCol("C");
      f.OKClick();
    }
  } editor;
  TExcelImportForm form(editor);
  form.FieldList = &fields_;
  form.SetFileName(dir_.File("data.txt"));
  form.Links.Add(std::make_unique<TColItem>(false, "", "A", "Name", "Name", &fields_[0]));
  form.LinkList.Items.push_back("Name <- A");
  form.LinkListDblClick();  // nothing selected: a new link to the first field offered ...
  form.LinkList.ItemIndex = 0;
  form.LinkListDblClick();
  EXPECT_EQ(std::pair(std::string("Name <- C"), std::vector<std::int32_t>{-1, 0}), std::pair(form.LinkList.Items[0], editor.edited));
  EXPECT_EQ(2, fields_[0].UseCount);  // Name is also linked by this fixture's own form
}

TEST_F(ColumnMapping, ValueAssemblyOfMultipleFields) {
  for (const auto& [col, field] : {std::pair("C", "Memo"), {"D", "Memo"}, {"A", "Name"}}) Link(false, col, field);
  EXPECT_EQ("n1\r\ne1|n1|<none>",
            Value(2, "Memo", true) + "|" + Value(2, "Memo", false) + "|" + Value(2, "Level", false));
  Link(true, "fixed", "Memo");
  EXPECT_EQ("fixed", Value(3, "Memo", true));
  form_.Links.Add(std::make_unique<TColItem>(false, "", "D", "Memo", "Memo", &fields_[2]));
  EXPECT_EQ("fixed\r\ne2", Value(3, "Memo", true));
}

TEST_F(ColumnMapping, AutoLinkByHeaderText) {
  fields_.Add("Level2", "LEVEL", false);  // a second field of the same text without regard to case
  Link(false, "D", "Memo");
  form_.AutoLinkButtonClick();
  // NAME -> Name (case differs), level -> the first matching field, note: none, D: already linked.
  EXPECT_EQ((std::vector<std::string>{"Memo <- D", "Name <- A", "Level <- B"}), form_.LinkList.Items);
  form_.ImportHeader.DataGrid().SetCells(3, 1, "name");
  form_.AutoLinkButtonClick();  // Name is used up and not Multiple
  EXPECT_EQ(3, form_.Links.Count());
}

TEST_F(ColumnMapping, StartChecksAndLineLoopWithActions) {
  form_.SetLines(2, 0);  // no stop line: the box shows the last line, unchecked
  EXPECT_EQ(std::pair(false, 4), std::pair(form_.StopChecked, form_.StopLine.Value));
  form_.StartButtonClick();
  EXPECT_EQ((std::vector<std::string>{"You have to add columns first"}), dialogs_.messages);
  Link(false, "A", "Name");
  form_.SetStopChecked(true);
  form_.SetStartLine(3);
  EXPECT_EQ(std::pair(3, 4), std::pair(form_.StopLine.MinValue, form_.StopLine.Value));
  form_.StopLine.Value = 2;  // typed below the start line
  form_.StartButtonClick();
  EXPECT_EQ("Stop line# must be greater than start line#", dialogs_.messages.back());
  EXPECT_EQ("StopLine", form_.FocusedControl);
  form_.SetStopLine(3);  // equal lines are accepted
  std::vector<std::string> seen;
  std::vector<TneAction> actions;
  fields_[1].Value = "old";  // a field without a link is empty on every line, whatever it held before
  form_.OnImportLine = [&](TExcelImportForm& f, TneAction& a) {
    seen.push_back(fields_[0].Value + fields_[1].Value);
    actions.push_back(a);
    a = neSkipAll;
    ++f.CounterA;
  };
  form_.StartButtonClick();
  EXPECT_EQ(std::pair(TModalResult::mrOk, std::vector<std::string>{"b"}), std::pair(form_.ModalResult, seen));

  // The whole file; the action carries over, neCancel stops after the line; a value a handler passes over is empty.
  Link(false, "B", "Level");
  fields_[1].OnSetValue = [](TFieldNameItem& item, const std::string& v) { if (v != "2") item.Value = v; };
  form_.SetStopChecked(false);
  form_.SetStartLine(2);
  form_.ImportData.SetMaxRow(4);
  seen.clear();
  actions.clear();
  form_.OnImportLine = [&](TExcelImportForm&, TneAction& a) {
    seen.push_back(fields_[0].Value + fields_[1].Value);
    actions.push_back(a);
    a = seen.size() == 1 ? neOverwriteAll : neCancel;
  };
  form_.DoImport();
  EXPECT_EQ(std::tuple(std::vector<std::string>{"a1", "b"}, std::vector<TneAction>{neOverwrite, neOverwriteAll}, 0),
            std::tuple(seen, actions, form_.CounterA));
}

TEST_F(ColumnMapping, LoadSetsCaptionAndLinesAlsoBeyondTheSpinBoxesAndTextsComeFromTheTable) {
  EXPECT_EQ("ASCII file import definition [" + dir_.File("data.txt") + "]", form_.Caption);
  EXPECT_EQ((std::array{2, 4, 1, 4}), (std::array{form_.ImportData.MinRow(), form_.ImportData.MaxRow(),
                                                  form_.ImportHeader.MaxRow(), form_.StopLine.Value}));
  EXPECT_EQ(std::pair(3, 0), std::pair(form_.GetXLSColNo("C"), form_.GetXLSColNo("Q")));
  form_.SetStartLine(0);  // a file without a header line starts at line 1, no earlier
  EXPECT_EQ(std::pair(1, 1), std::pair(form_.StartLine.Value, form_.ImportData.MinRow()));
  form_.SetLines(3, 0);
  EXPECT_EQ((std::array{3, 4, 2}),
            (std::array{form_.ImportData.MinRow(), form_.ImportData.MaxRow(), form_.ImportHeader.MaxRow()}));
  form_.SetLines(40000, 0);  // past the end: no line to import, every line a header line
  EXPECT_EQ(std::pair(true, 4), std::pair(form_.ImportData.MinRow() > form_.ImportData.MaxRow(), form_.ImportHeader.MaxRow()));

  struct Restore {
    TImportDialogTexts saved = ImportDialogTexts();
    ~Restore() { ImportDialogTexts() = saved; }
  } restore;
  ImportDialogTexts().strNoLinks = "Erst Spalten verkn\xC3\xBCpfen";
  ImportDialogTexts().strAsciiImportCaption = "Textimport [%s]";
  ImportDialogTexts().strLinkCaption = "Verkn\xC3\xBCpfung";
  ImportDialogTexts().strSkip = "Auslassen";
  form_.StartButtonClick();
  EXPECT_EQ("Erst Spalten verkn\xC3\xBCpfen", dialogs_.messages.back());
  form_.SetFileName(dir_.File("data.txt"));
  EXPECT_EQ(std::tuple("Textimport [" + dir_.File("data.txt") + "]", "Verkn\xC3\xBCpfung", "Auslassen"),
            std::tuple(form_.Caption, TSelectColForm().Caption, TFormNameExists::Items()[2]));
  form_.HelpButtonClick();
  EXPECT_EQ(std::vector<std::int32_t>{400014}, dialogs_.helpTopics);  // the import topic of the help file
  std::string renamed;  // the names the rename answer tries
  for (const char* name : {"A (2)", "A (19)", "A", "(1)", "A (0)", "A (x)", "A(2)"})
    renamed += NextFreeName(name) + "|";
  EXPECT_EQ("A (3)|A (20)|A (2)|(1) (2)|A (0) (2)|A (x) (2)|A(2) (2)|", renamed);
}

// Options left at their defaults take the lines from the second to the end of the file.
TEST_F(ColumnMapping, LibraryImportDefaultsToAllLinesBelowTheHeaderAndARefusedStartStartsAgain) {
  TLibraryImportOptions o = Import("data.txt");
  o.LibType = ltEmis;
  o.Maps = {{"ElementName", "A"}};
  TAnsweringDialogs answering(TOnExists::Skip);
  const TLibraryImportResult r = ImportIntoLibrary(o, answering);
  // The name tells the type (0, the first): the new library records none.
  EXPECT_EQ((std::array{2, 4, 3, 1, -1}),
            (std::array{r.FirstLine, r.LastLine, r.Added, int{r.Created}, RecordedLibType(o.LibraryFile)}));
  // The dialog's Start without links is refused with its message (nothing stored), and starts again once linked.
  TLibraryImport dialog(o, answering);
  const TLibraryImportResult refused = dialog.Run();
  EXPECT_EQ(std::vector<std::string>{"You have to add columns first"}, answering.Messages);
  TImportMapping mapping;
  mapping.Links = {{"ElementName", "A", ""}};
  dialog.LoadMapping(mapping);
  const TLibraryImportResult again = dialog.Run();
  EXPECT_EQ((std::array{1, 0, 0, 3}), (std::array{int{refused.Refused}, refused.Added, int{again.Refused}, again.Skipped}));
  // A file longer than the first MiB read, its blank last lines and a last one without a line end counted: its
  // rows read while they are stored, and read for its extent first when the column is first seen past that MiB.
  // Lines ended by a lone CR (as old Mac files end them) bound the progress's total as LF ends do.
  std::string rows;
  for (int i = 0; i < 1100; ++i) rows += std::string(1000, 'x') + "\n";
  o.FileName = dir_.File("wide.txt");
  o.Maps = {{"ElementName", "C"}};
  std::int32_t least = 0;  // the progress's total: the lines below the header from the first line stored on
  o.Progress = [&](std::int32_t, std::int32_t total) { least = std::min(least, total); };
  for (const auto& [header, end] : {std::pair{"Name\t\tC\n", '\n'}, {"Name\n", '\n'}, {"Name\t\tC\n", '\r'}}) {
    std::string text = header + rows + "\t\tfar\n\n\nx";
    std::replace(text.begin(), text.end(), '\n', end);
    std::ofstream(o.FileName, std::ios::binary) << text;
    least = INT32_MAX;
    const TLibraryImportResult w = ImportIntoLibrary(o, answering);
    EXPECT_EQ((std::array{1105, 1105, 1, 1103, 1104}),
              (std::array{w.LastLine, w.FileLines, w.Added + w.Skipped, w.EmptyLines, least}));
  }
  // Header lines past the first MiB read are kept as well: Auto Link finds the header above a start line there.
  std::ofstream(o.FileName, std::ios::binary) << rows + "ElementName\na\n";
  o.StartLine = 1102;
  o.Maps.clear();
  o.AutoLink = true;
  EXPECT_EQ(std::vector<std::string>{"ElementName <- A"}, ImportIntoLibrary(o, answering).AutoLink.Linked);
}

// The dialog's import into a library name that a broken symbolic link holds is refused when the library is to
// take its name: its passing file goes at once, while the dialog stays open, and the link stays as it was.
TEST_F(ColumnMapping, RefusedDialogImportLeavesNoPassingFile) {
  std::filesystem::create_symlink("gone.abs", dir_.File("emis.abs"));
  TLibraryImportOptions o = Import("data.txt");
  TAnsweringDialogs answering(TOnExists::Skip);
  TLibraryImport dialog(o, answering);
  TImportMapping mapping;
  mapping.Links = {{"ElementName", "A", ""}};
  dialog.LoadMapping(mapping);
  EXPECT_THROW(dialog.Run(), EDatabaseError);
  EXPECT_EQ(2, std::distance(std::filesystem::directory_iterator(dir_.Path()), {}));  // data.txt and the link
  EXPECT_TRUE(std::filesystem::is_symlink(dir_.File("emis.abs")));
  // A Start the dialog then refuses is refused: the failed commit's outcome does not carry over to it.
  dialog.LoadMapping(TImportMapping{});
  EXPECT_EQ(std::pair(true, std::vector<std::string>{"You have to add columns first"}),
            std::pair(dialog.Run().Refused, answering.Messages));
  // So does the new library of a dry run, which stores nothing.
  o.LibraryFile = dir_.File("dry/emis.abs");
  o.DryRun = true;
  TLibraryImport dry(o, answering);
  dry.LoadMapping(mapping);
  EXPECT_EQ(3, dry.Run().Added);
  EXPECT_TRUE(std::filesystem::is_empty(dir_.File("dry")));
  // A dry run into a library that exists, started again, counts alike: the first one's transaction ended with it.
  o.Maps = {{"ElementName", "A"}};
  o.DryRun = false;
  ImportIntoLibrary(o, answering);
  o.DryRun = true;
  TLibraryImport again(o, answering);
  again.LoadMapping(mapping);
  for (int start = 0; start < 2; ++start) EXPECT_EQ(3, again.Run().Skipped);
}

// A new library's names repeat in the file in other letter cases (ASCII and beyond), and a name is as long as
// the field: each repeat is found on the name index and answered (here: overwritten), none is refused by it.
TEST_F(ColumnMapping, NamesRepeatedInANewLibraryAreFoundInAnyLetterCase) {
  const std::string longName(80, 'x');  // the field's size
  std::ofstream(dir_.File("names.txt")) << "name\tlevel\n"
                                           "Alpha\t1\n\xc3\x84ther\t2\nALPHA\t3\n\xc3\xa4THER\t4\nalpha\t5\n"
                                        << longName << "\t6\n" << longName << "\t7\nBeta\t8\n";
  TLibraryImportOptions o = Import("names.txt");
  o.Maps = {{"ElementName", "A"}, {"Values1", "B"}};
  o.TextCodePage = 65001;
  TAnsweringDialogs answering(TOnExists::Overwrite);
  const TLibraryImportResult r = ImportIntoLibrary(o, answering);
  EXPECT_EQ((std::array{4, 4, 0}), (std::array{r.Added, r.Overwritten, r.Failed})) << r.Errors.size();
  TMyTable lib(dir_.File("emis.abs"), false);
  lib.Table().Open();
  EXPECT_EQ(4, lib.Table().RecordCount());
}

// Numbers of a workbook reach number fields as the doubles the file holds (no text on the way, -0 as the 0 its
// text reads), and a text field as their shortest text; a text cell (t5) below them is read as its text.
TEST_F(ColumnMapping, WorkbookNumbersReachNumberFieldsAsTheyAreAndTextFieldsAsText) {
  const std::array<std::tuple<const char*, double, const char*, const char*>, 5> rows{
      {{"n1", 0.1 + 0.2, "0.1", "0.1"},
       {"n2", -0.0, "1e21", "1E21"},
       {"n3", 4.9e-324, "-2.5", "-2.5"},
       {"n4", 1.7976931348623157e308, "123456789012", "123456789012"},
       {"t5", 8, "7", "7"}}};
  std::string sheet = "<worksheet><sheetData><row><c t=\"inlineStr\"><is><t>ElementName</t></is></c>"
                      "<c t=\"inlineStr\"><is><t>Values1</t></is></c><c t=\"inlineStr\"><is><t>Kommentar</t></is></c></row>";
  for (const auto& [name, number, comment, text] : rows)
    sheet += Format("<row><c t=\"inlineStr\"><is><t>%s</t></is></c><c%s><v>%.17g</v></c><c><v>%s</v></c></row>", name,
                    name[0] == 't' ? " t=\"str\"" : "", number, comment);
  const std::pair<const char*, std::string> parts[] = {
      {"xl/workbook.xml", "<workbook><sheets><sheet name=\"S\" r:id=\"r1\" xmlns:r=\"x\"/></sheets></workbook>"},
      {"xl/_rels/workbook.xml.rels", "<Relationships><Relationship Id=\"r1\" Type=\"x/worksheet\" Target=\"s.xml\"/></Relationships>"},
      {"xl/s.xml", sheet + "</sheetData></worksheet>"}};
  int error = 0;
  zip_t* z = zip_open(dir_.File("numbers.xlsx").c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
  for (const auto& [part, text] : parts) zip_file_add(z, part, zip_source_buffer(z, text.data(), text.size(), 0), 0);
  ASSERT_EQ(0, zip_close(z));
  TLibraryImportOptions o = Import("numbers.xlsx");
  o.AutoLink = true;
  TAnsweringDialogs answering(TOnExists::Skip);
  ASSERT_EQ(5, ImportIntoLibrary(o, answering).Added);
  TMyTable lib(dir_.File("emis.abs"), false);
  TABSTable& t = lib.Table();
  t.Open();
  std::size_t i = 0;
  for (t.First(); !t.Eof(); t.Next(), ++i) {
    const auto& [name, number, comment, text] = rows.at(i);
    EXPECT_EQ(std::bit_cast<std::uint64_t>(number + 0.0), std::bit_cast<std::uint64_t>(t.FieldByName("Values1").AsFloat())) << name;
    EXPECT_EQ(text, t.FieldByName("Kommentar").AsString()) << name;
  }
  EXPECT_EQ(rows.size(), i);
  o.DecimalSeparator = ',';  // a decimal comma reads their texts (written with a point): those with one fail
  TAnsweringDialogs overwrite(TOnExists::Overwrite);
  const TLibraryImportResult comma = ImportIntoLibrary(o, overwrite);
  EXPECT_EQ(std::tuple(2, 3, 2), std::tuple(comma.Failed, comma.Overwritten, comma.Errors.at(0).Line));
}

// Every text of the dialogs and the wizard as a front end receives it, against a reviewed copy.
TEST(ColumnMappingTexts, AsReviewed) {
  std::ostringstream json;
  WriteImportTextsJson(json);
  EXPECT_EQ(test::ReadFile(test::DataPath("import/import-texts.json")), json.str());
}

// ---- CheckNameTwice on a library table ----

class ColumnMappingNameCheck : public ::testing::Test {
protected:
  void SetUp() override {
    lib_ = std::make_unique<TMyTable>(dir_.File("emis.abs"), false);
    SetFieldIndexDefs(lib_->Table(), ltEmis, true);
    lib_->CreateDBTable();
    TABSTable& t = lib_->Table();
    t.Open();
    for (const char* name : {"Alpha", "Beta", "A name beyond short-string size"}) {
      t.Append();
      t.FieldByName("ElementName").SetAsString(name);
      t.Post();
    }
  }
  bool Check(std::string& name, TneAction& action) { return CheckNameTwice(lib_->Table(), "EN", name, action, dialogs_); }
  std::string Current() { return lib_->Table().FieldByName("ElementName").AsString(); }
  test::TempDir dir_;
  std::unique_ptr<TMyTable> lib_;
  ScriptedDialogs dialogs_;
};

TEST_F(ColumnMappingNameCheck, EveryAnswer) {
  TABSTable& t = lib_->Table();
  struct Case {
    const char* Name;
    TneAction Start;
    std::vector<ScriptedDialogs::Answer> Answers;
    bool Result;
    TneAction End;
    const char* FinalName;
    TDataSetState State;
    int Asked;
  } cases[] = {
      {"Gamma", neOverwrite, {}, true, neOverwrite, "Gamma", TDataSetState::dsInsert, 0},
      {"A name beyond short-string size", neOverwriteAll, {}, true, neOverwriteAll, "A name beyond short-string size",
       TDataSetState::dsEdit, 0},
      {"Alpha", neOverwrite, {{0, ""}}, true, neOverwrite, "Alpha", TDataSetState::dsEdit, 1},
      {"beta", neOverwriteAll, {}, true, neOverwriteAll, "beta", TDataSetState::dsEdit, 0},
      {"Alpha", neSkipAll, {}, false, neSkipAll, "Alpha", TDataSetState::dsBrowse, 0},
      {"Alpha", neCancel, {}, false, neCancel, "Alpha", TDataSetState::dsBrowse, 0},
      {"Alpha", neOverwrite, {{2, ""}}, false, neSkip, "Alpha", TDataSetState::dsBrowse, 1},
      {"Alpha", neOverwrite, {{3, ""}}, false, neSkipAll, "Alpha", TDataSetState::dsBrowse, 1},
      {"Alpha", neOverwrite, {{1, ""}}, true, neOverwriteAll, "Alpha", TDataSetState::dsEdit, 1},
      {"Alpha", neSkip, {{4, "Beta"}, {4, "Delta"}}, true, neNewName, "Delta", TDataSetState::dsInsert, 2},
      {"Alpha", neOverwrite, {{-1, ""}}, false, neCancel, "Alpha", TDataSetState::dsBrowse, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    dialogs_.asked.clear();
    dialogs_.answers.assign(c.Answers.begin(), c.Answers.end());
    std::string name = c.Name;
    TneAction action = c.Start;
    EXPECT_EQ(c.Result, Check(name, action));
    EXPECT_EQ(std::tuple(c.End, c.FinalName, c.State, c.Asked),
              std::tuple(action, name, t.State(), static_cast<int>(dialogs_.asked.size())));
    if (c.Asked > 0) {
      EXPECT_EQ("Element \"" + std::string(c.Name) + "\" already exists", dialogs_.asked[0]);
    }
    if (c.State == TDataSetState::dsEdit) {
      EXPECT_TRUE(SameText(c.Name, Current())) << Current();
    }
    EXPECT_EQ("", t.GetIndexName());  // restored
    if (t.State() != TDataSetState::dsBrowse) t.Cancel();
  }
}

TEST_F(ColumnMappingNameCheck, IndexAlreadyCurrentStaysAndTheFoundRecordIsEdited) {
  TABSTable& t = lib_->Table();
  t.SetIndexName("EN");
  std::string name = "Beta";
  TneAction action = neOverwriteAll;
  ASSERT_TRUE(Check(name, action));
  EXPECT_EQ("Beta", Current());
  t.FieldByName("Kommentar").SetAsString("changed");
  t.Post();
  EXPECT_EQ(std::pair(std::string("EN"), 3), std::pair(t.GetIndexName(), t.RecordCount()));
}

TEST_F(ColumnMappingNameCheck, FoundRecordIsEditedWhenTheNameIndexComesFirst) {
  TMyTable lib(dir_.File("names.abs"), false);
  TABSTable& t = lib.Table();
  t.FieldDefs().Add("Eintrag", ftAutoInc);
  t.FieldDefs().Add("ElementName", ftString, 40);
  t.IndexDefs().Add("EN", "ElementName", ixUnique | ixCaseInsensitive);
  t.IndexDefs().Add("p", "Eintrag", ixPrimary);
  lib.CreateDBTable();
  t.Open();
  for (const char* name : {"Alpha", "Beta"}) {
    t.Append();
    t.FieldByName("ElementName").SetAsString(name);
    t.Post();
  }
  std::string name = "beta";
  TneAction action = neOverwriteAll;
  ASSERT_TRUE(CheckNameTwice(t, "EN", name, action, dialogs_));
  EXPECT_EQ("Beta", t.FieldByName("ElementName").AsString());
}

}  // namespace

// Every member of a saved mapping is read or refused with its own message (tests/data/import/mappings.txt); what
// is read is written back alike.
TEST(ImportMappings, MembersAreReadOrRefusedByName) {
  std::istringstream rows(test::ReadFile(test::DataPath("import/mappings.txt")));
  int cases = 0;
  for (std::string row; std::getline(rows, row);) {
    if (row.empty() || row[0] == '#') continue;
    const std::size_t tab = row.find('\t');
    const std::string text = row.substr(0, tab), want = row.substr(tab + 1);
    std::string got;
    try {
      got = "ok " + nlohmann::json::parse(ImportMappingJson(ParseImportMapping(text))).dump();
    } catch (const Exception& e) {
      got = e.what();
    }
    EXPECT_EQ(want, got) << text;
    ++cases;
  }
  EXPECT_EQ(13, cases);
}

}  // namespace vez
