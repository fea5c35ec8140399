// Layouts, index definitions and new-record defaults of every library type through real library files: create,
// reopen, and compare with tests/data/layouts, which lists every field, index and default assignment written out
// from the published layout tables without the library's own row descriptions.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>

#include "TestUtil.h"
#include "core/FormatSettings.h"
#include "librarydb/Defaults.h"
#include "librarydb/OVLibConst.h"

namespace vez {
namespace {

using test::TempDir;

// The blocks of expected_layouts.txt by their heading ("layout 7", "indexonly 60"), with the family as the first
// line of a layout; the assignments of expected_defaults.txt by code (a code with "none" has an empty list).
struct Expected {
  std::map<std::string, std::vector<std::string>> blocks;
  std::map<std::int32_t, std::vector<std::vector<std::string>>> defaults;
};
const Expected& Load() {
  static const Expected expected = [] {
    Expected e;
    std::vector<std::string>* block = nullptr;
    for (const std::string& line : test::SplitLines(test::ReadFile(test::DataPath("layouts/expected_layouts.txt")))) {
      const auto cells = test::SplitTabs(line);
      if (line.starts_with("#")) continue;
      if (cells[0] == "layout" || cells[0] == "indexonly") {
        block = &e.blocks[cells[0] + " " + cells[1]];
        if (cells.size() == 3) block->push_back(cells[2]);
      } else if (cells[0] == "end") {
        block = nullptr;
      } else {
        block->push_back(line);
      }
    }
    for (const std::string& line : test::SplitLines(test::ReadFile(test::DataPath("layouts/expected_defaults.txt")))) {
      if (line.starts_with("#")) continue;
      auto cells = test::SplitTabs(line);
      auto& list = e.defaults[std::stoi(cells[0])];
      if (cells[1] != "none") list.push_back(cells);
    }
    return e;
  }();
  return expected;
}

// The stored definitions in the lines of the data file; engine type codes as the layout tables label them.
std::vector<std::string> Stored(TABSTable& table, bool withFields) {
  std::map<std::int32_t, std::string> labels;
  for (int k = 0; k <= static_cast<int>(ColumnKind::Memo); ++k)
    labels[EngineTypeCode(ColumnKind(k))] = ColumnKindLabel(ColumnKind(k), LayoutFamily::Advanced);
  std::vector<std::string> out;
  const auto field = [&](const std::string& name, const std::string& type, std::int32_t size, bool required,
                         std::int32_t algorithm, std::int32_t level) {
    out.push_back("field\t" + name + "\t" + type + "\t" + std::to_string(size) + "\t" + (required ? "1" : "0") +
                  "\t" + std::to_string(algorithm) + "/" + std::to_string(level));
  };
  if (withFields && table.AdvFieldDefs().Count() == 0) {
    out.push_back("classic");
    for (int i = 0; i < table.FieldDefs().Count(); ++i) {
      const auto& d = table.FieldDefs()[i];
      field(d.Name, FieldTypeName(d.DataType), d.Size, d.Required, 0, 0);
    }
  } else if (withFields) {
    out.push_back("advanced");
    for (int i = 0; i < table.AdvFieldDefs().Count(); ++i) {
      const auto& d = table.AdvFieldDefs()[i];
      const auto label = labels.find(d.DataType);
      field(d.Name, label == labels.end() ? "code " + std::to_string(d.DataType) : label->second, d.Size,
            d.Required, d.CompressionAlgorithm, d.CompressionLevel);
    }
  }
  for (int i = 0; i < table.IndexDefs().Count(); ++i) {
    const auto& d = table.IndexDefs()[i];
    std::string options;
    for (const auto& [bit, name] : {std::pair{ixPrimary, "primary"}, {ixUnique, "unique"},
                                    {ixDescending, "descending"}, {ixCaseInsensitive, "case-insensitive"}})
      if (d.Options & bit) options += (options.empty() ? "" : ",") + std::string(name);
    out.push_back("index\t" + d.Name + "\t" + d.Fields + "\t" + (options.empty() ? "none" : options));
  }
  return out;
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

void CreateLibrary(const std::string& path, std::int32_t code) {
  TMyTable lib(path, false);
  ASSERT_TRUE(SetFieldIndexDefs(lib.Table(), code, true));
  lib.CreateDBTable();
}

// The last assignment of a field is the one that counts.
void ExpectDefaultsStored(std::int32_t code, TABSTable& table, double now) {
  std::map<std::string, std::vector<std::string>> last;
  for (const auto& a : Load().defaults.at(code)) last[UpperCase(a[1])] = a;
  int year, month, day;
  DecodeDate(now, year, month, day);
  for (const auto& [key, a] : last) {
    const std::string& kind = a[2];
    const std::string value = a.size() > 3 ? a[3] : "";
    SCOPED_TRACE(a[1] + " " + kind + " " + value);
    TField& f = table.FieldByName(a[1]);
    if (kind == "integer" || kind == "number") EXPECT_TRUE(!f.IsNull() && std::stod(value) == f.AsFloat()) << f.AsString();
    else if (kind == "boolean") EXPECT_EQ(value == "true", f.AsBoolean());
    else if (kind == "text") EXPECT_EQ("\"" + f.AsString() + "\"", value);
    else if (kind == "now" || kind == "now-as-text") EXPECT_NEAR(now, f.AsDateTime(), 1.0 / 86400000.0);
    else if (kind == "year") EXPECT_EQ(year, f.AsInteger());
    else if (kind == "leap-year") EXPECT_EQ(IsLeapYearGregorian(year), f.AsBoolean());
    else if (kind == "zero-bytes") EXPECT_EQ(std::string(std::stoul(value), '\0'), f.AsString());
    else ADD_FAILURE() << "unknown kind in the test data";
  }
}

class LibraryLayoutsByCode : public ::testing::TestWithParam<std::int32_t> {};

TEST_P(LibraryLayoutsByCode, CreateReopenCompareAndStoreDefaults) {
  const std::int32_t code = GetParam();
  const auto expected = Load().blocks.find("layout " + std::to_string(code));
  TempDir dir;
  if (expected == Load().blocks.end()) {  // no layout: the definitions stay exactly as they were
    TMyTable lib(dir.File("x.abs"), false);
    lib.Table().FieldDefs().Add("Marker", ftInteger);
    lib.Table().IndexDefs().Add("p", "Marker", ixPrimary);
    EXPECT_FALSE(SetFieldIndexDefs(lib.Table(), code, false));
    EXPECT_THROW_MSG(SetFieldIndexDefs(lib.Table(), code, true), Exception,
                     "SetFieldIndexDefs not defined for LibType");
    EXPECT_EQ((std::vector<std::string>{"classic", "field\tMarker\tftInteger\t0\t0\t0/0", "index\tp\tMarker\tprimary"}),
              Stored(lib.Table(), true));
    return;
  }
  const std::string path = dir.File(LibName(code));
  {
    TMyTable lib(path, false);
    ASSERT_TRUE(SetFieldIndexDefs(lib.Table(), code, true));  // twice: each call starts from empty definitions
    ASSERT_TRUE(SetFieldIndexDefs(lib.Table(), code, false));
    lib.CreateDBTable();
  }
  const double now = TestNow();
  const bool hasDefaults = Load().defaults.count(code) != 0;
  EXPECT_EQ(hasDefaults, HasNewRecordDefaults(code));
  {
    TMyTable lib(path, false);
    lib.Table().Open();
    EXPECT_EQ(expected->second, Stored(lib.Table(), true));
    lib.Table().Append();
    if (hasDefaults) {
      OnNewRecord(lib.Table(), code, true, now);
    } else {
      EXPECT_THROW_MSG(OnNewRecord(lib.Table(), code, true, now), Exception, "OnNewRecord not defined for LibType");
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
  }
  TMyTable lib(path, true);
  lib.Table().Open();
  ASSERT_EQ(hasDefaults ? 3 : 1, lib.Table().RecordCount());
  for (lib.Table().First(); hasDefaults && !lib.Table().Eof(); lib.Table().Next()) {
    ExpectDefaultsStored(code, lib.Table(), now);
  }
}

// Index definitions alone, on tables whose fields come from elsewhere (one integer field per indexed field).
TEST_P(LibraryLayoutsByCode, IndexesAloneSurviveCreateAndReopen) {
  const std::int32_t code = GetParam();
  const auto expected = Load().blocks.find("indexonly " + std::to_string(code));
  TempDir dir;
  TMyTable keep(dir.File("x.abs"), false);
  keep.Table().IndexDefs().Add("keep", "A", 0);
  if (expected == Load().blocks.end()) {
    EXPECT_FALSE(SetIndexDefs(keep.Table(), code, false));
    EXPECT_THROW_MSG(SetIndexDefs(keep.Table(), code, true), Exception, "SetIndexDefs not defined for LibType");
    EXPECT_EQ(std::vector<std::string>{"index\tkeep\tA\tnone"}, Stored(keep.Table(), false));
    return;
  }
  // A file name of the type: the patterns' wildcards replaced by characters they accept.
  std::string name = LibName(code);
  std::replace(name.begin(), name.end(), '?', '7');
  if (const auto bracket = name.find('['); bracket != std::string::npos) name.replace(bracket, 6, "S");
  if (name[0] == '*') name = "run" + name.substr(1);
  const std::string path = dir.File(name);
  {
    TMyTable lib(path, false);
    for (const std::string& line : expected->second) {
      std::string fields = test::SplitTabs(line)[2] + ";";
      for (std::size_t start = 0, end; (end = fields.find(';', start)) != std::string::npos; start = end + 1)
        if (lib.Table().FieldDefs().IndexOf(fields.substr(start, end - start)) < 0)
          lib.Table().FieldDefs().Add(fields.substr(start, end - start), ftInteger);
    }
    if (lib.Table().FieldDefs().Count() == 0) lib.Table().FieldDefs().Add("Value", ftFloat);
    lib.Table().IndexDefs().Add("stale", lib.Table().FieldDefs()[0].Name, 0);
    ASSERT_TRUE(SetIndexDefs(lib.Table(), code, true));
    lib.CreateDBTable();
  }
  TMyTable lib(path, true);
  lib.Table().Open();
  EXPECT_EQ(expected->second, Stored(lib.Table(), false));
}

INSTANTIATE_TEST_SUITE_P(AllCodes, LibraryLayoutsByCode, ::testing::Range<std::int32_t>(-2, 106),
                         [](const auto& info) {
                           const std::int32_t code = info.param;
                           return code < 0 ? "minus" + std::to_string(-code) : "code" + std::to_string(code);
                         });

// Only the pollutant results (54) key on StoffNr when the table has it, in either definition family.
TEST(LibraryLayouts, PollutantResultsKeyFollowsTheFieldDefinitions) {
  const std::tuple<std::int32_t, bool, bool, const char*> cases[] = {
      {ltRS24, true, true, "SrcNo;StoffNr"},  {ltRS24, true, false, "SrcNo"}, {ltRS24, false, true, "SrcNo;StoffNr"},
      {ltRS24, false, false, "SrcNo"},        {53, true, true, "SrcNo"}};
  for (const auto& [code, classic, withStoffNr, key] : cases) {
    TABSTable table;
    if (classic) table.FieldDefs().Add("SrcNo", ftInteger);
    if (classic && withStoffNr) table.FieldDefs().Add("stoffnr", ftInteger);
    if (!classic) table.AdvFieldDefs().Add("SrcNo", aftInteger);
    if (!classic && withStoffNr) table.AdvFieldDefs().Add("StoffNr", aftInteger);
    ASSERT_TRUE(SetIndexDefs(table, code, true));
    EXPECT_EQ(std::vector<std::string>{std::string("index\tp\t") + key + "\tprimary,unique"}, Stored(table, false))
        << code << " classic " << classic << " StoffNr " << withStoffNr;
  }
}

// Unique indexes refuse a record whose key repeats one in another letter case; records that differ are posted
// (tests/data/layouts/unique_keys.txt).
TEST(LibraryLayouts, UniqueIndexesRefuseDuplicates) {
  std::map<std::int32_t, std::vector<std::vector<std::string>>> byCode;
  for (const std::string& line : test::SplitLines(test::ReadFile(test::DataPath("layouts/unique_keys.txt"))))
    if (!line.starts_with("#")) byCode[std::stoi(line)].push_back(test::SplitTabs(line));
  for (const auto& [code, records] : byCode) {
    TempDir dir;
    CreateLibrary(dir.File(LibName(code)), code);
    TMyTable lib(dir.File(LibName(code)), false);
    TABSTable& t = lib.Table();
    t.Open();
    int posted = 0;
    for (const auto& record : records) {
      SCOPED_TRACE(record[0] + " " + record[2]);
      t.Append();
      OnNewRecord(t, code, false, TestNow());
      for (std::size_t start = 0, end = 0; end != std::string::npos; start = end + 1) {
        end = record[2].find(';', start);
        const std::string field = record[2].substr(start, end - start);
        t.FieldByName(field.substr(0, field.find('='))).SetAsString(field.substr(field.find('=') + 1));
      }
      FillRequired(t, posted + 1);
      bool stored = true;
      try {
        t.Post();
      } catch (const EDatabaseError&) {
        t.Cancel();
        stored = false;
      }
      EXPECT_EQ(record[1] == "posted", stored);
      posted += stored ? 1 : 0;
    }
    EXPECT_EQ(posted, t.RecordCount()) << code;
  }
}

// Defaults on unusual tables: a missing field of a time library is skipped, one of another train standard fails;
// without defaults the call only makes sure of an edit state; without a clock argument the current time counts;
// the year and leap-year flag of the calendar type (99) follow the Gregorian rule.
TEST(LibraryLayouts, DefaultsOnUnusualTables) {
  TempDir dir;
  {
    TMyTable lib(dir.File("Time.abs"), false);
    const std::map<ColumnKind, TFieldType> types = {
        {ColumnKind::AutoInc, ftAutoInc}, {ColumnKind::Text, ftString},       {ColumnKind::Int32, ftInteger},
        {ColumnKind::Double, ftFloat},    {ColumnKind::DateTime, ftDateTime}, {ColumnKind::Memo, ftMemo}};
    const auto layout = LibraryLayout(ltTime);
    for (const auto& f : layout->Fields)
      if (f.Name != "DisplayValue") lib.Table().FieldDefs().Add(f.Name, types.at(f.Kind), f.Size);
    lib.CreateDBTable();
    lib.Table().Open();
    lib.Table().Append();
    EXPECT_NO_THROW(OnNewRecord(lib.Table(), ltTime, true, TestNow()));
    EXPECT_EQ(3, lib.Table().FieldByName("Einheit").AsInteger());  // the other assignments were made
  }
  for (const std::int32_t code : {ltTRMR2002, ltProfiles, ltWind, 99}) CreateLibrary(dir.File(LibName(code)), code);
  TMyTable trmr(dir.File(LibName(ltTRMR2002)), false), profiles(dir.File(LibName(ltProfiles)), false),
      wind(dir.File("Wind.abs"), false), calendar(dir.File(LibName(99)), false);
  for (TMyTable* lib : {&trmr, &profiles, &wind, &calendar}) lib->Table().Open(), lib->Table().Append();
  EXPECT_THROW(OnNewRecord(trmr.Table(), ltTS03, true, TestNow()), EDatabaseError);
  EXPECT_THROW_MSG(OnNewRecord(profiles.Table(), ltProfiles, true), Exception, "OnNewRecord not defined for LibType");
  EXPECT_EQ(TDataSetState::dsInsert, profiles.Table().State());
  profiles.Table().Fields(1).SetAsString("first");
  profiles.Table().Post();
  OnNewRecord(profiles.Table(), ltProfiles, false);
  EXPECT_EQ(TDataSetState::dsEdit, profiles.Table().State());
  profiles.Table().Cancel();
  const double before = Now();
  OnNewRecord(wind.Table(), ltWind, true);
  const double stamp = wind.Table().FieldByName("LastChangeDateTime").AsDateTime();
  EXPECT_TRUE(stamp >= before - 1.0 / 86400 && stamp <= Now() + 1.0 / 86400) << stamp;
  for (const auto& [year, leap] : {std::pair{2100, false}, std::pair{2000, true}, std::pair{2023, false}}) {
    OnNewRecord(calendar.Table(), 99, true, EncodeDateTime(year, 12, 31, 23, 59, 59, 0));
    EXPECT_EQ(std::pair(year, leap), std::pair(calendar.Table().FieldByName("Jahr").AsInteger(),
                                               calendar.Table().FieldByName("Schaltjahr").AsBoolean()));
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
  const std::tuple<const char*, char, const char*> settings[] = {
      {"dd/mm/yyyy", '.', "hh:nn:ss"}, {"m/d/yyyy", '/', "h:nn:ss AM/PM"}, {"yyyy-mm-dd", '-', "hh:nn:ss"}};
  for (const auto& [shortDate, separator, longTime] : settings) {
    SCOPED_TRACE(shortDate);
    fs.ShortDateFormat = shortDate;
    fs.DateSeparator = separator;
    fs.LongTimeFormat = longTime;
    TempDir dir;
    CreateLibrary(dir.File("Atten.abs"), ltAtten);
    TMyTable lib(dir.File("Atten.abs"), false);
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
