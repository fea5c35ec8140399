// Layouts, index definitions and new-record defaults of every library type through real library files:
// create, reopen, compare with the expected layouts and defaults kept as test data.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>

#include "ExpectedLayouts.h"
#include "TestUtil.h"
#include "core/FormatSettings.h"
#include "librarydb/Defaults.h"
#include "librarydb/OVLibConst.h"

namespace vez {
namespace {

using test::TempDir;

// Engine type codes as the layout tables label them.
std::string AdvancedLabel(std::int32_t code) {
  static const std::map<std::int32_t, std::string> labels = {
      {2, "text"},     {6, "int16"},     {7, "int32"},    {10, "uint16"}, {12, "autoinc"}, {21, "double"},
      {23, "boolean"}, {27, "datetime"}, {31, "blob"},    {32, "graphic"}, {33, "memo"}};
  const auto it = labels.find(code);
  return it == labels.end() ? "code " + std::to_string(code) : it->second;
}

// An index or a field in one line, from the test data or from the stored definitions.
std::string Describe(const std::string& name, const std::string& fields, bool primary, bool unique, bool noCase) {
  return name + " [" + fields + "]" + (primary ? " primary" : "") + (unique ? " unique" : "") +
         (noCase ? " case-insensitive" : "");
}

std::string Describe(const std::string& name, const std::string& type, std::int32_t size, bool required,
                     std::int32_t algorithm, std::int32_t level) {
  return name + " " + type + " " + std::to_string(size) + (required ? " required " : " ") +
         std::to_string(algorithm) + "/" + std::to_string(level);
}

void ExpectIndexes(const std::vector<test::ExpectedIndex>& want, const TIndexDefs& defs) {
  ASSERT_EQ(static_cast<int>(want.size()), defs.Count());
  for (int i = 0; i < defs.Count(); ++i) {
    const auto& w = want[static_cast<std::size_t>(i)];
    const TIndexOptions o = defs[i].Options;
    EXPECT_EQ(Describe(w.name, w.fields, w.primary, w.unique, w.caseInsensitive),
              Describe(defs[i].Name, defs[i].Fields, o & ixPrimary, o & ixUnique, o & ixCaseInsensitive));
  }
}

void ExpectFields(const test::ExpectedLayout& want, TABSTable& table) {
  std::vector<std::string> stored;
  if (want.family == "classic") {
    EXPECT_EQ(0, table.AdvFieldDefs().Count());
    for (int i = 0; i < table.FieldDefs().Count(); ++i) {
      const auto& d = table.FieldDefs()[i];
      stored.push_back(Describe(d.Name, FieldTypeName(d.DataType), d.Size, d.Required, 0, 0));
    }
  } else {
    for (int i = 0; i < table.AdvFieldDefs().Count(); ++i) {
      const auto& d = table.AdvFieldDefs()[i];
      stored.push_back(Describe(d.Name, AdvancedLabel(d.DataType), d.Size, d.Required, d.CompressionAlgorithm,
                                d.CompressionLevel));
    }
  }
  ASSERT_EQ(want.fields.size(), stored.size());
  for (std::size_t i = 0; i < stored.size(); ++i) {
    const auto& w = want.fields[i];
    EXPECT_EQ(Describe(w.name, w.type, w.size, w.required, w.compressionAlgorithm, w.compressionLevel), stored[i])
        << "field #" << i + 1;
  }
}

// Gives every required field that is still without value one, so that the record can be posted; the values
// the defaults assigned stay as they are.
void FillRequired(TABSTable& table, int salt) {
  for (int i = 0; i < table.FieldCount(); ++i) {
    TField& f = table.Fields(i);
    if (!f.Required() || !f.IsNull() || f.DataType() == ftAutoInc) continue;
    if (f.DataType() == ftString) f.SetAsString("name " + std::to_string(salt));
    else if (f.DataType() == ftBoolean) f.SetAsBoolean(true);
    else f.SetAsInteger(salt);
  }
}

// The clock reading given to OnNewRecord: a leap day, whole seconds.
double TestNow() { return EncodeDateTime(2024, 2, 29, 13, 45, 30, 0); }

// Creates the library file of `code` at `path` with the type's layout.
void CreateLibrary(const std::string& path, std::int32_t code) {
  TMyTable lib(path, false);
  ASSERT_TRUE(SetFieldIndexDefs(lib.Table(), code, true));
  lib.CreateDBTable();
}

void ExpectDefaultsStored(std::int32_t code, TABSTable& table, double now) {
  // The last assignment of a field is the one that counts.
  std::map<std::string, test::ExpectedDefault> last;
  for (const auto& a : test::LoadExpectedLayouts().defaults.at(code)) last[UpperCase(a.field)] = a;
  int year, month, day;
  DecodeDate(now, year, month, day);
  for (const auto& [key, a] : last) {
    SCOPED_TRACE(a.field + " " + a.kind + " " + a.value);
    TField* f = table.FindField(a.field);
    ASSERT_NE(nullptr, f);
    if (a.kind == "integer" || a.kind == "number") EXPECT_DOUBLE_EQ(std::stod(a.value), f->AsFloat());
    else if (a.kind == "boolean") EXPECT_EQ(a.value == "true", f->AsBoolean());
    else if (a.kind == "text") EXPECT_EQ(a.value, f->AsString());
    else if (a.kind == "now" || a.kind == "now-as-text") EXPECT_NEAR(now, f->AsDateTime(), 1.0 / 86400000.0);
    else if (a.kind == "year") EXPECT_EQ(year, f->AsInteger());
    else if (a.kind == "leap-year") EXPECT_EQ(IsLeapYearGregorian(year), f->AsBoolean());
    else if (a.kind == "zero-bytes") EXPECT_EQ(std::string(std::stoul(a.value), '\0'), f->AsString());
    else ADD_FAILURE() << "unknown kind in the test data";
  }
}

class LibraryLayoutsByCode : public ::testing::TestWithParam<std::int32_t> {};

TEST_P(LibraryLayoutsByCode, CreateReopenCompareAndStoreDefaults) {
  const std::int32_t code = GetParam();
  const auto& layouts = test::LoadExpectedLayouts().layouts;
  const auto expected = layouts.find(code);
  TempDir dir;

  if (expected == layouts.end()) {
    // No layout: the definitions stay exactly as they were.
    TMyTable lib(dir.File("x.abs"), false);
    lib.Table().FieldDefs().Add("Marker", ftInteger);
    lib.Table().IndexDefs().Add("p", "Marker", ixPrimary);
    EXPECT_FALSE(SetFieldIndexDefs(lib.Table(), code, false));
    EXPECT_THROW_MSG(SetFieldIndexDefs(lib.Table(), code, true), Exception, "SetFieldIndexDefs not defined for LibType");
    ASSERT_EQ(1, lib.Table().FieldDefs().Count());
    EXPECT_EQ("Marker", lib.Table().FieldDefs()[0].Name);
    EXPECT_EQ(0, lib.Table().AdvFieldDefs().Count());
    EXPECT_EQ(1, lib.Table().IndexDefs().Count());
    return;
  }

  const std::string path = dir.File(LibName(code));
  {
    TMyTable lib(path, false);
    // Twice: each call starts from empty definitions.
    ASSERT_TRUE(SetFieldIndexDefs(lib.Table(), code, true));
    ASSERT_TRUE(SetFieldIndexDefs(lib.Table(), code, false));
    lib.CreateDBTable();
  }
  const double now = TestNow();
  {
    TMyTable lib(path, false);
    ASSERT_TRUE(lib.Exists());
    lib.Table().Open();
    ExpectFields(expected->second, lib.Table());
    ExpectIndexes(expected->second.indexes, lib.Table().IndexDefs());
    lib.Table().Append();
    const bool hasDefaults = test::LoadExpectedLayouts().defaults.count(code) != 0;
    EXPECT_EQ(hasDefaults, HasNewRecordDefaults(code));
    if (hasDefaults) {
      OnNewRecord(lib.Table(), code, true, now);
    } else {
      EXPECT_THROW_MSG(OnNewRecord(lib.Table(), code, true, now), Exception, "OnNewRecord not defined for LibType");
      OnNewRecord(lib.Table(), code, false, now);
    }
    EXPECT_EQ(TDataSetState::dsInsert, lib.Table().State());
    FillRequired(lib.Table(), 1);
    lib.Table().Post();
    // The defaults bound to the table once give every later record the same values (the first Apply assigns
    // step by step, the later ones store the values the first one made).
    TNewRecordDefaults bound(lib.Table(), code);
    for (int salt = 2; hasDefaults && salt <= 3; ++salt) {
      lib.Table().Append();
      bound.Apply(now);
      FillRequired(lib.Table(), salt);
      lib.Table().Post();
    }
    lib.Table().Close();
  }
  TMyTable lib(path, true);
  lib.Table().Open();
  const bool hasDefaults = test::LoadExpectedLayouts().defaults.count(code) != 0;
  ASSERT_EQ(hasDefaults ? 3 : 1, lib.Table().RecordCount());
  for (lib.Table().First(); hasDefaults && !lib.Table().Eof(); lib.Table().Next()) {
    ExpectDefaultsStored(code, lib.Table(), now);
  }
}

std::vector<std::int32_t> AllCodesAndSomeOutside() {
  std::vector<std::int32_t> codes = {-7, -1, 104, 255};
  for (std::int32_t c = 0; c <= 103; ++c) codes.push_back(c);
  return codes;
}

std::string CodeName(const ::testing::TestParamInfo<std::int32_t>& info) {
  return info.param < 0 ? "minus" + std::to_string(-info.param) : "code" + std::to_string(info.param);
}

INSTANTIATE_TEST_SUITE_P(AllCodes, LibraryLayoutsByCode, ::testing::ValuesIn(AllCodesAndSomeOutside()), CodeName);

// ---- index-only definitions on tables whose fields come from elsewhere ----

// Defines an integer field for every field an index of the type names, as a writer of such a table would.
void DefineIndexedFields(TABSTable& table, const std::vector<test::ExpectedIndex>& indexes) {
  for (const auto& index : indexes) {
    std::string fields = index.fields + ";";
    for (std::size_t start = 0, end; (end = fields.find(';', start)) != std::string::npos; start = end + 1) {
      const std::string name = fields.substr(start, end - start);
      if (table.FieldDefs().IndexOf(name) < 0) table.FieldDefs().Add(name, ftInteger);
    }
  }
  if (table.FieldDefs().Count() == 0) table.FieldDefs().Add("Value", ftFloat);
}

class LibraryLayoutsIndexOnlyByCode : public ::testing::TestWithParam<std::int32_t> {};

TEST_P(LibraryLayoutsIndexOnlyByCode, IndexesSurviveCreateAndReopen) {
  const std::int32_t code = GetParam();
  const auto& all = test::LoadExpectedLayouts().indexOnly;
  const auto expected = all.find(code);
  TempDir dir;
  if (expected == all.end()) {
    TMyTable lib(dir.File("x.abs"), false);
    lib.Table().IndexDefs().Add("keep", "A", 0);
    EXPECT_FALSE(SetIndexDefs(lib.Table(), code, false));
    EXPECT_THROW_MSG(SetIndexDefs(lib.Table(), code, true), Exception, "SetIndexDefs not defined for LibType");
    ASSERT_EQ(1, lib.Table().IndexDefs().Count());
    EXPECT_EQ("keep", lib.Table().IndexDefs()[0].Name);
    return;
  }
  // A file name of the type: the patterns' wildcards replaced by characters they accept.
  std::string name = LibName(code);
  std::replace(name.begin(), name.end(), '?', '7');
  if (const auto bracket = name.find('['); bracket != std::string::npos) name.replace(bracket, 6, "S");
  if (name[0] == '*') name = "run" + name.substr(1);
  ASSERT_EQ(code, GetLibType(name)) << name;
  const std::string path = dir.File(name);
  {
    TMyTable lib(path, false);
    DefineIndexedFields(lib.Table(), expected->second);
    lib.Table().IndexDefs().Add("stale", lib.Table().FieldDefs()[0].Name, 0);
    ASSERT_TRUE(SetIndexDefs(lib.Table(), code, true));
    ExpectIndexes(expected->second, lib.Table().IndexDefs());
    lib.CreateDBTable();
  }
  TMyTable lib(path, true);
  lib.Table().Open();
  ExpectIndexes(expected->second, lib.Table().IndexDefs());
}

INSTANTIATE_TEST_SUITE_P(AllCodes, LibraryLayoutsIndexOnlyByCode, ::testing::ValuesIn(AllCodesAndSomeOutside()), CodeName);

// Only the pollutant results (54) key on StoffNr when the table has it, in either definition family.
TEST(LibraryLayouts, PollutantResultsKeyFollowsTheFieldDefinitions) {
  struct Case {
    std::int32_t code;
    bool classic;
    bool withStoffNr;
    const char* key;
  };
  const Case cases[] = {{ltRS24, true, true, "SrcNo;StoffNr"},  {ltRS24, true, false, "SrcNo"},
                        {ltRS24, false, true, "SrcNo;StoffNr"}, {ltRS24, false, false, "SrcNo"},
                        {53, true, true, "SrcNo"}};
  for (const Case& c : cases) {
    TABSTable table;
    if (c.classic) {
      table.FieldDefs().Add("SrcNo", ftInteger);
      if (c.withStoffNr) table.FieldDefs().Add("stoffnr", ftInteger);
    } else {
      table.AdvFieldDefs().Add("SrcNo", aftInteger);
      if (c.withStoffNr) table.AdvFieldDefs().Add("StoffNr", aftInteger);
    }
    ASSERT_TRUE(SetIndexDefs(table, c.code, true));
    ASSERT_EQ(1, table.IndexDefs().Count());
    EXPECT_EQ(c.key, table.IndexDefs()[0].Fields) << c.code << " classic " << c.classic << " StoffNr " << c.withStoffNr;
  }
}

// ---- unique indexes refuse duplicates ----

class LibraryLayoutsUniqueIndexes : public ::testing::Test {
protected:
  void Create(std::int32_t code) {
    path_ = dir_.File(LibName(code));
    CreateLibrary(path_, code);
    lib_ = std::make_unique<TMyTable>(path_, false);
    lib_->Table().Open();
    code_ = code;
  }
  // Appends a record with the defaults and the given values; the result of Post.
  bool Add(const std::vector<std::pair<std::string, Variant>>& values) {
    TABSTable& t = lib_->Table();
    t.Append();
    OnNewRecord(t, code_, false, TestNow());
    for (const auto& [name, value] : values) t.FieldByName(name).SetValue(value);
    FillRequired(t, ++salt_);
    try {
      t.Post();
      return true;
    } catch (const EDatabaseError&) {
      t.Cancel();
      return false;
    }
  }
  TempDir dir_;
  std::string path_;
  std::unique_ptr<TMyTable> lib_;
  std::int32_t code_ = 0;
  int salt_ = 0;
};

TEST_F(LibraryLayoutsUniqueIndexes, RoadCategoriesOfNord2000AreUniqueAsATriple) {
  Create(ltNor2kRoad);
  EXPECT_TRUE(Add({{"ElementName", "a"}, {"VehCat", 1}, {"RoadCat", 2}, {"DrivingCat", 3}}));
  EXPECT_FALSE(Add({{"ElementName", "b"}, {"VehCat", 1}, {"RoadCat", 2}, {"DrivingCat", 3}}));
  EXPECT_TRUE(Add({{"ElementName", "c"}, {"VehCat", 1}, {"RoadCat", 2}, {"DrivingCat", 4}}));
  EXPECT_TRUE(Add({{"ElementName", "d"}, {"VehCat", 2}, {"RoadCat", 2}, {"DrivingCat", 3}}));
  EXPECT_FALSE(Add({{"ElementName", "A"}, {"VehCat", 9}, {"RoadCat", 9}, {"DrivingCat", 9}}));
  EXPECT_EQ(3, lib_->Table().RecordCount());
}

TEST_F(LibraryLayoutsUniqueIndexes, TrainNamesOfCRNAreUniquePerCategory) {
  Create(ltTCRN);
  EXPECT_TRUE(Add({{"TrainCategory", "Freight"}, {"TrainName", "Class 66"}}));
  EXPECT_TRUE(Add({{"TrainCategory", "Passenger"}, {"TrainName", "Class 66"}}));
  EXPECT_FALSE(Add({{"TrainCategory", "freight"}, {"TrainName", "CLASS 66"}}));
  EXPECT_EQ(2, lib_->Table().RecordCount());
}

TEST_F(LibraryLayoutsUniqueIndexes, ElementNamesDifferingOnlyInCaseCollide) {
  for (std::int32_t code : {ltEmis, ltTime, ltTraffic}) {
    SCOPED_TRACE(code);
    lib_.reset();
    Create(code);
    EXPECT_TRUE(Add({{"ElementName", "Motorway A1"}}));
    EXPECT_FALSE(Add({{"ElementName", "MOTORWAY a1"}}));
    EXPECT_TRUE(Add({{"ElementName", "Motorway A2"}}));
  }
}

// ---- defaults on unusual tables ----

TEST(LibraryLayouts, TimeLibraryWithoutDisplayValue) {
  TempDir dir;
  const std::string path = dir.File("Time.abs");
  {
    TMyTable lib(path, false);
    const auto layout = LibraryLayout(ltTime);
    ASSERT_TRUE(layout.has_value());
    const std::map<ColumnKind, TFieldType> types = {
        {ColumnKind::AutoInc, ftAutoInc}, {ColumnKind::Text, ftString},     {ColumnKind::Int32, ftInteger},
        {ColumnKind::Double, ftFloat},    {ColumnKind::DateTime, ftDateTime}, {ColumnKind::Memo, ftMemo}};
    for (const auto& f : layout->Fields) {
      if (f.Name != "DisplayValue") lib.Table().FieldDefs().Add(f.Name, types.at(f.Kind), f.Size);
    }
    lib.CreateDBTable();
  }
  TMyTable lib(path, false);
  lib.Table().Open();
  lib.Table().Append();
  EXPECT_NO_THROW(OnNewRecord(lib.Table(), ltTime, true, TestNow()));
  EXPECT_EQ(3, lib.Table().FieldByName("Einheit").AsInteger());  // the other assignments were made
  lib.Table().Post();
}

TEST(LibraryLayouts, MissingFieldFailsAndIsNotCaught) {
  TempDir dir;
  const std::string path = dir.File("TRMR2002.abs");
  CreateLibrary(path, ltTRMR2002);
  TMyTable lib(path, false);
  lib.Table().Open();
  lib.Table().Append();
  // The defaults of another train standard name fields this table does not have.
  EXPECT_THROW(OnNewRecord(lib.Table(), ltTS03, true, TestNow()), EDatabaseError);
}

// Without defaults OnNewRecord only makes sure of an edit state (the sweep covers a new record): a failed call
// leaves the insert state, and on a posted record the call leaves Edit behind.
TEST(LibraryLayouts, TypeWithoutDefaultsOnlyEntersAnEditState) {
  TempDir dir;
  const std::string path = dir.File(LibName(ltProfiles));
  CreateLibrary(path, ltProfiles);
  TMyTable lib(path, false);
  lib.Table().Open();
  lib.Table().Append();
  EXPECT_THROW_MSG(OnNewRecord(lib.Table(), ltProfiles, true), Exception, "OnNewRecord not defined for LibType");
  EXPECT_EQ(TDataSetState::dsInsert, lib.Table().State());
  lib.Table().Fields(1).SetAsString("first");
  lib.Table().Post();
  OnNewRecord(lib.Table(), ltProfiles, false);
  EXPECT_EQ(TDataSetState::dsEdit, lib.Table().State());
  lib.Table().Cancel();
}

TEST(LibraryLayouts, WithoutClockArgumentUsesTheCurrentTime) {
  TempDir dir;
  const std::string path = dir.File("Wind.abs");
  CreateLibrary(path, ltWind);
  TMyTable lib(path, false);
  lib.Table().Open();
  lib.Table().Append();
  const double before = Now();
  OnNewRecord(lib.Table(), ltWind, true);
  const double after = Now();
  const double stamp = lib.Table().FieldByName("LastChangeDateTime").AsDateTime();
  EXPECT_GE(stamp, before - 1.0 / 86400.0);
  EXPECT_LE(stamp, after + 1.0 / 86400.0);
}

// The clock's year and leap-year flag of the calendar type (99) follow the Gregorian rule.
TEST(LibraryLayouts, YearAndLeapYearFollowTheClock) {
  TempDir dir;
  const std::string path = dir.File(LibName(99));
  CreateLibrary(path, 99);
  TMyTable lib(path, false);
  lib.Table().Open();
  for (const auto& [year, leap] : {std::pair{2100, false}, std::pair{2000, true}, std::pair{2023, false}}) {
    lib.Table().Append();
    OnNewRecord(lib.Table(), 99, true, EncodeDateTime(year, 12, 31, 23, 59, 59, 0));
    EXPECT_EQ(year, lib.Table().FieldByName("Jahr").AsInteger());
    EXPECT_EQ(leap, lib.Table().FieldByName("Schaltjahr").AsBoolean()) << year;
    lib.Table().Cancel();
  }
}

// "Now as text" is written in whole seconds and read back with the same process settings, also when they are
// not ISO.
TEST(LibraryLayouts, NowAsTextRoundTripsInWholeSecondsUnderOtherDateSettings) {
  FormatSettings& fs = GlobalFormatSettings();
  struct Restore {
    FormatSettings& target;
    FormatSettings value;
    ~Restore() { target = value; }
  } restore{fs, fs};
  const struct {
    const char* shortDate;
    char dateSeparator;
    const char* longTime;
  } settings[] = {{"dd/mm/yyyy", '.', "hh:nn:ss"}, {"m/d/yyyy", '/', "h:nn:ss AM/PM"}, {"yyyy-mm-dd", '-', "hh:nn:ss"}};
  for (const auto& s : settings) {
    SCOPED_TRACE(s.shortDate);
    fs.ShortDateFormat = s.shortDate;
    fs.DateSeparator = s.dateSeparator;
    fs.LongTimeFormat = s.longTime;
    TempDir dir;
    const std::string path = dir.File("Atten.abs");
    CreateLibrary(path, ltAtten);
    TMyTable lib(path, false);
    lib.Table().Open();
    lib.Table().Append();
    OnNewRecord(lib.Table(), ltAtten, true, EncodeDateTime(2025, 11, 3, 21, 7, 9, 987));
    lib.Table().Post();
    lib.Table().First();
    EXPECT_NEAR(EncodeDateTime(2025, 11, 3, 21, 7, 9, 0), lib.Table().FieldByName("LastChangeDateTime").AsDateTime(),
                1.0 / 86400000.0);
    EXPECT_EQ("Costs", lib.Table().FieldByName("KennNames1").AsString());
  }
}

}  // namespace
}  // namespace vez
