// The table engine: definitions, records, cursor, keys, transactions and failures, on temporary files.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <memory>
#include <tuple>
#include <thread>

#include "EngineTestUtil.h"
#include "core/FormatSettings.h"
#include "librarydb/internal/OpenTable.h"

namespace vez {
namespace {

using test::AppendElement;
using test::AppendRecord;
using test::DefineElementTable;
using test::LibraryFile;
using test::TempDir;

// Every element name of the table in cursor order.
std::vector<std::string> Names(TABSTable& table) {
  std::vector<std::string> names;
  for (table.First(); !table.Eof(); table.Next()) names.push_back(table.FieldByName("ElementName").AsString());
  return names;
}

// Posts the table's pending record: "stored", or the refusal's message with the record given up.
std::string PostOutcome(TABSTable& table) {
  try {
    table.Post();
    return "stored";
  } catch (const EDatabaseError& e) {
    table.Cancel();
    return e.what();
  }
}

class EngineTest : public ::testing::Test {
protected:
  void SetUp() override {
    lib.Bind(table);
    DefineElementTable(table);
    table.CreateTable();
    table.Open();
  }
  // Binds `t` to a new file of its own: a library file holds one table.
  void BindOwnFile(TABSTable& t, const std::string& name) {
    files.push_back(std::make_unique<LibraryFile>(dir, name));
    files.back()->Bind(t);
  }
  TempDir dir;
  LibraryFile lib{dir};
  TABSTable table;
  std::vector<std::unique_ptr<LibraryFile>> files;
};

TEST_F(EngineTest, FieldLookupAndTheDefinitionsOfAReopenedTable) {
  EXPECT_EQ(&table.FieldByName("ELEMENTNAME"), &table.Fields(1));
  EXPECT_TRUE(table.FindField("nope") == nullptr && table.FieldCount() == 9);
  EXPECT_THROW_MSG(table.FieldByName("Nope"), EDatabaseError, "Field 'Nope' not found");
  EXPECT_THROW_MSG(table.Fields(9), EListError, "List index out of bounds (9)");
  // An empty table: fields read as without value.
  EXPECT_EQ(std::tuple(true, true, true, 0.0, ""),
            std::tuple(table.Eof(), table.Bof(), table.FieldByName("Value").IsNull(),
                       table.FieldByName("Value").AsFloat(), table.FieldByName("ElementName").AsString()));
  table.Close();
  TABSTable other;
  lib.Bind(other);
  other.Open();
  ASSERT_EQ(other.AdvFieldDefs().Count(), 9);
  const TABSAdvFieldDef& memo = other.AdvFieldDefs()[7];
  EXPECT_EQ(std::tuple("Kommentar", aftMemo, 1, 4, 20, 100),
            std::tuple(memo.Name, memo.DataType, memo.CompressionAlgorithm, memo.CompressionLevel,
                       other.AdvFieldDefs()[1].Size, other.AdvFieldDefs()[8].Size));
  // The classic view of advanced fields.
  ASSERT_EQ(other.FieldDefs().Count(), 9);
  const TFieldType expected[] = {ftAutoInc, ftString, ftFloat,    ftInteger, ftWord,
                                 ftBoolean, ftDateTime, ftMemo, ftBlob};
  for (int i = 0; i < 9; ++i) EXPECT_EQ(other.FieldDefs()[i].DataType, expected[i]) << i;
  ASSERT_EQ(other.IndexDefs().Count(), 2);
  EXPECT_EQ(std::tuple("p", ixPrimary, "ElementName", ixUnique | ixCaseInsensitive, 1, -1),
            std::tuple(other.IndexDefs()[0].Name, other.IndexDefs()[0].Options, other.IndexDefs()[1].Fields,
                       other.IndexDefs()[1].Options, other.FieldDefs().IndexOf("elementname"),
                       other.FieldDefs().IndexOf("Missing")));
}

TEST_F(EngineTest, ClassicDefinitionsWhenThereAreNoAdvancedOnesAndACounterOutsideTheKey) {
  TABSTable classic;
  BindOwnFile(classic, "Assess.abs");
  classic.FieldDefs().Add("BwName", ftString, 40, true);
  classic.FieldDefs().Add("BwNummer", ftAutoInc);
  classic.FieldDefs().Add("Kommentar", ftMemo);
  classic.IndexDefs().Add("p", "Bwname", ixPrimary);
  classic.IndexDefs().Add("Nr", "BwNummer", ixCaseInsensitive);
  classic.CreateTable();
  classic.FieldDefs().Clear();
  classic.IndexDefs().Clear();
  classic.ReadDefinitions();
  ASSERT_EQ(classic.FieldDefs().Count(), 3);
  EXPECT_EQ(std::tuple(40, true, ftAutoInc, 0, "Bwname"),
            std::tuple(classic.FieldDefs()[0].Size, classic.FieldDefs()[0].Required, classic.FieldDefs()[1].DataType,
                       classic.AdvFieldDefs().Count(), classic.IndexDefs()[0].Fields));
  // The counter outside the primary key, which is unique in an ordinary table.
  classic.SetIndexName("p");
  classic.Open();
  for (const char* name : {"Zeta", "Alpha", "Mid"}) AppendRecord(classic, {{"BwName", Variant(name)}});
  classic.First();
  EXPECT_EQ(std::pair(std::string("Alpha"), 2),
            std::pair(classic.FieldByName("BwName").AsString(), classic.FieldByName("BwNummer").AsInteger()));
  classic.Append();
  classic.FieldByName("BwName").SetAsString("Mid");
  EXPECT_EQ(PostOutcome(classic), "Key violation in table 'Assess.abs': index 'p' already holds the key 'Mid'");
}

TEST_F(EngineTest, DefinitionErrors) {
  TFieldDefs defs;
  defs.Add("A", ftInteger);
  EXPECT_THROW_MSG(defs.Add("a", ftFloat), EDatabaseError, "Duplicate field name 'a'");
  EXPECT_THROW_MSG(defs.Add("", ftFloat), EDatabaseError, "Field name must not be empty");
  EXPECT_THROW_MSG(defs.Add("B", ftUnknown), EDatabaseError, "Field 'B' has an unsupported type (0)");
  EXPECT_THROW_MSG(defs.Items(1), EListError, "List index out of bounds (1)");
  TABSAdvFieldDefs adv;
  EXPECT_THROW_MSG(adv.Add("X", 99), EDatabaseError, "Field 'X' has an unknown engine type code 99");
  TIndexDefs indexes;
  indexes.Add("p", "A", ixPrimary);
  EXPECT_THROW_MSG(indexes.Add("q", "B", ixPrimary), EDatabaseError,
                   "Index 'q': the table has a primary index already ('p')");
  EXPECT_THROW_MSG(indexes.Add("P", "A", 0), EDatabaseError,  // the first index's name in other letters
                   "Duplicate index name 'P'");
  TABSTable t;
  BindOwnFile(t, "bad.abs");
  t.FieldDefs().Add("A", ftInteger);
  t.IndexDefs().Add("i", "A;B", 0);
  EXPECT_THROW_MSG(t.CreateTable(), EDatabaseError, "Index 'i' names the unknown field 'B'");
  lib.Bind(t, "LIB.ABS");
  t.IndexDefs().Clear();
  EXPECT_THROW_MSG(t.CreateTable(), EDatabaseError,
                   "Table 'LIB.ABS' exists already in \"" + lib.FileName + "\"");
  lib.Bind(t, "second.abs");
  EXPECT_THROW_MSG(t.CreateTable(), EDatabaseError,
                   "Cannot create table 'second.abs' in \"" + lib.FileName +
                       "\": the file holds the table 'lib.abs' already, and a library file holds one table");
  lib.Bind(t, "vez$fields");
  EXPECT_THROW_MSG(t.CreateTable(), EDatabaseError, "The table name 'vez$fields' is reserved");
}

struct TypeCase {
  TFieldType type;
  std::int32_t size;
  Variant input;
  Variant expected;  // after Post and reopen
  const char* sqlType;  // what a stock SQLite reader sees
};

TEST_F(EngineTest, EveryClassicTypeRoundTripsInNaturalSqliteTypes) {
  const double when = EncodeDateTime(2024, 2, 29, 13, 45, 30, 250);
  const TypeCase cases[] = {
      {ftString, 5, Variant("abcdefg"), Variant("abcde"), "text"},
      {ftSmallint, 0, Variant(-32768), Variant(-32768), "integer"},
      {ftInteger, 0, Variant(2147483647), Variant(2147483647), "integer"},
      {ftWord, 0, Variant(65535), Variant(65535), "integer"},
      {ftBoolean, 0, Variant(true), Variant(true), "integer"},
      {ftFloat, 0, Variant(-199.125), Variant(-199.125), "real"},
      {ftCurrency, 0, Variant(12.34), Variant(12.34), "real"},
      {ftBCD, 0, Variant(1.5), Variant(1.5), "real"},
      {ftDate, 0, Variant::FromDateTime(when), Variant::FromDateTime(EncodeDate(2024, 2, 29)), "text"},
      {ftTime, 0, Variant::FromDateTime(when), Variant::FromDateTime(EncodeTime(13, 45, 30, 250)), "text"},
      {ftDateTime, 0, Variant(when), Variant::FromDateTime(when), "text"},  // a plain number becomes a date
      {ftLargeint, 0, Variant(9000000000LL), Variant(9000000000LL), "integer"},
      {ftBlob, 0, Variant(std::string("a\0b", 3)), Variant(std::string("a\0b", 3)), "blob"},
      {ftMemo, 0, Variant("long text"), Variant("long text"), "text"},
      {ftFmtMemo, 0, Variant("{rtf}"), Variant("{rtf}"), "blob"},
      {ftParadoxOle, 0, Variant("ole"), Variant("ole"), "blob"},
      {ftGraphic, 0, Variant("gif"), Variant("gif"), "blob"},
      {ftBytes, 4, Variant("1234"), Variant("1234"), "blob"},
  };
  TABSTable t;
  BindOwnFile(t, "types.abs");
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    t.FieldDefs().Add("F" + std::to_string(i), cases[i].type, cases[i].size);
  }
  t.CreateTable();
  t.Open();
  t.Append();
  for (std::size_t i = 0; i < std::size(cases); ++i) t.Fields(static_cast<int>(i)).SetValue(cases[i].input);
  t.Post();
  t.Close();
  t.Open();
  ASSERT_EQ(t.RecordCount(), 1);
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const Variant got = t.Fields(static_cast<int>(i)).Value();
    if (cases[i].expected.Type() == VarType::DateTime) {
      EXPECT_NEAR(got.AsDateTime(), cases[i].expected.AsDateTime(), 1e-8) << FieldTypeName(cases[i].type);
    } else {
      EXPECT_EQ(got, cases[i].expected) << FieldTypeName(cases[i].type);
    }
  }
  // A time and a date-time read and take their texts; a Smallint stops at its lower limit.
  TField& time = t.Fields(9);
  EXPECT_EQ(std::pair(TimeToStr(EncodeTime(13, 45, 30, 250)), DateTimeToStr(when)),
            std::pair(time.AsString(), t.Fields(10).AsString()));
  t.Edit();
  time.SetValue(Variant("08:15:00"));
  EXPECT_NEAR(time.AsDateTime(), EncodeTime(8, 15, 0, 0), 1e-9);
  EXPECT_THROW_MSG(t.Fields(1).SetAsInteger(-32769), EDatabaseError,
                   "-32769 is not a valid value for field 'F1'. The allowed range is -32768 to 32767");
  t.Cancel();
  t.Close();
  // One query for what a stock reader sees: the date-time's text, then the type of every column.
  std::string sql = "SELECT F10", expected = "2024-02-29T13:45:30.250";
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    sql += " || ' ' || typeof(\"F" + std::to_string(i) + "\")";
    expected += std::string(" ") + cases[i].sqlType;
  }
  EXPECT_EQ(expected, test::QueryText(files.back()->FileName, sql + " FROM \"types.abs\""));
  // Numbers without value and numbers that are zero read back apart, as do texts and dates without value.
  t.Open();
  t.Append();
  t.Post();
  t.Append();
  for (int i : {1, 2, 3, 4, 5, 6, 7, 11}) t.Fields(i).SetAsInteger(0);
  t.Post();
  t.Close();
  t.Open();
  t.Last();
  for (int i : {1, 2, 3, 4, 5, 6, 7, 11}) {
    const TField& f = t.Fields(i);
    EXPECT_EQ(std::tuple(false, 0.0, false), std::tuple(f.IsNull(), f.AsFloat(), f.AsBoolean()))
        << FieldTypeName(cases[i].type);
  }
  t.Prior();
  for (std::size_t i = 0; i < std::size(cases); ++i)
    EXPECT_TRUE(t.Fields(static_cast<int>(i)).Value().IsNull()) << FieldTypeName(cases[i].type);
}

TEST_F(EngineTest, SettersConvertAndCheck) {
  EXPECT_TRUE(table.IsEmpty());
  table.Append();
  TField& count = table.FieldByName("count");
  EXPECT_EQ(count.AsLargeInt(), 0);  // no value yet
  count.SetAsBoolean(true);          // an integer field takes True as a Variant converts it
  EXPECT_EQ(count.AsString(), "-1");
  table.FieldByName("Value").SetAsFloat(3);
  const std::string longText(300, 'x');
  table.FieldByName("Kommentar").SetAsString(longText);  // a memo has no size limit
  EXPECT_EQ(std::pair(std::int64_t{3}, longText),
            std::pair(table.FieldByName("Value").AsLargeInt(), table.FieldByName("Kommentar").AsString()));
  for (const auto& [text, value] : {std::pair("42", 42), {"-2147483648", INT32_MIN}, {"2147483647", INT32_MAX}}) {
    count.SetAsString(text);
    EXPECT_EQ(count.AsInteger(), value) << text;
  }
  count.SetAsFloat(2.5);  // rounded half to even
  EXPECT_EQ(count.AsInteger(), 2);
  for (const char* past : {"2147483648", "-2147483649"}) {  // one past the integers: refused, not cut
    table.FieldByName("Value").SetAsString(past);
    EXPECT_THROW_MSG(table.FieldByName("Value").AsInteger(), EConvertError,
                     "Value " + std::string(past) + " of field 'Value' is out of the range of an integer");
  }
  TField& art = table.FieldByName("Art");
  for (const int past : {-1, 65536})
    EXPECT_THROW_MSG(art.SetAsInteger(past), EDatabaseError,
                     std::to_string(past) + " is not a valid value for field 'Art'. The allowed range is 0 to 65535");
  TField& flag = table.FieldByName("Flag");
  flag.SetText("true");
  EXPECT_EQ(std::pair(true, std::string("True")), std::pair(flag.AsBoolean(), flag.AsString()));
  flag.SetAsInteger(0);  // stored as a flag, not as the number
  EXPECT_EQ(flag.AsString(), "False");
  EXPECT_THROW_MSG(flag.SetText("perhaps"), EConvertError, "'perhaps' is not a valid boolean value for field 'Flag'");
  {
    DecimalSeparatorScope comma(',');
    table.FieldByName("Value").SetText("3,25");
    EXPECT_EQ(std::pair(3.25, std::string("3,25")),
              std::pair(table.FieldByName("Value").AsFloat(), table.FieldByName("Value").AsString()));
  }
  TField& when = table.FieldByName("When");
  when.SetText("2023-07-01 08:30:00");
  EXPECT_NEAR(when.AsDateTime(), EncodeDateTime(2023, 7, 1, 8, 30, 0, 0), 1e-9);
  when.SetText("");
  EXPECT_TRUE(when.IsNull() && when.AsDateTime() == 0.0);
  // Text fields keep at most Size characters, counted as characters, not bytes.
  TField& name = table.FieldByName("ElementName");
  name.SetAsString("\xC3\x84" "bcdefghijklmnopqrstuvwxyz");
  EXPECT_EQ(name.AsString(), "\xC3\x84" "bcdefghijklmnopqrst");
  table.Cancel();
  EXPECT_THROW_MSG(table.FieldByName("Value").SetAsFloat(1), EDatabaseError,
                   "Field 'Value': dataset not in edit or insert mode");
}

TEST_F(EngineTest, AutoIncrementNeverReusesAndKeepsGivenNumbers) {
  for (const char* name : {"a", "b", "c"}) AppendElement(table, name);
  EXPECT_EQ(table.FieldByName("Eintrag").AsInteger(), 3);
  table.Delete();  // the last record, number 3
  AppendElement(table, "d");
  EXPECT_EQ(table.FieldByName("Eintrag").AsInteger(), 4);
  // Given numbers are kept, 50 below the counter too; the counter stays.
  for (const auto& [number, name] : {std::pair(100, "kept"), std::pair(50, "fifty")}) {
    AppendRecord(table, {{"Eintrag", Variant(number)}, {"ElementName", Variant(name)}});
    EXPECT_EQ(table.FieldByName("Eintrag").AsInteger(), number);
  }
  ASSERT_TRUE(table.FindKey({Variant(100)}));
  table.Delete();  // the highest number given goes, the counter stays past it
  AppendElement(table, "e");
  EXPECT_EQ(table.FieldByName("Eintrag").AsInteger(), 101);
  // A failed Post does not use up a number.
  table.Append();
  table.FieldByName("ElementName").SetAsString("A");
  EXPECT_THROW_MSG(table.Post(), EDatabaseError,
                   "Key violation in table 'lib.abs': index 'EN' already holds the key 'A'");
  EXPECT_TRUE(table.FieldByName("Eintrag").IsNull());
  table.Cancel();
  table.Close();
  // The counter lives in the file.
  TABSTable again;
  lib.Bind(again);
  again.Open();
  AppendElement(again, "f");
  EXPECT_EQ(again.FieldByName("Eintrag").AsInteger(), 102);
}

TEST_F(EngineTest, RunTablesAllowDuplicatePrimaryKeys) {
  TABSTable run;
  BindOwnFile(run, "calc.runx");
  run.FieldDefs().Add("No", ftInteger);
  run.FieldDefs().Add("Name", ftString, 20);
  run.IndexDefs().Add("p", "No", ixPrimary);
  run.CreateTable();
  run.Open();
  for (int i = 0; i < 2; ++i) AppendRecord(run, {{"No", Variant(7)}});
  EXPECT_EQ(run.RecordCount(), 2);
}

TEST_F(EngineTest, CursorOrderAndPaging) {
  // More records than one page of read-ahead, names in reverse of insertion order.
  table.Database().StartTransaction();
  for (int i = 0; i < 150; ++i) AppendElement(table, Format("n%03d", 149 - i), i);
  table.Database().Commit();
  std::vector<std::string> names = Names(table);
  EXPECT_TRUE(table.RecordCount() == 150 && names.size() == 150 && names.front() == "n149");  // insertion order
  table.SetIndexName("EN");
  names = Names(table);
  EXPECT_TRUE(table.IndexName() == "EN" && names.size() == 150 && std::is_sorted(names.begin(), names.end()));
  // Backwards over page boundaries: 150 names, each below the one before, down to the first.
  table.Last();
  EXPECT_TRUE(table.Eof());
  int seen = 1;
  std::string previous = table.FieldByName("ElementName").AsString();
  for (table.Prior(); !table.Bof(); table.Prior()) {
    const std::string name = table.FieldByName("ElementName").AsString();
    EXPECT_LT(name, previous);
    previous = name;
    ++seen;
  }
  EXPECT_EQ(std::pair(seen, previous), std::pair(150, std::string("n000")));
  table.Next();
  EXPECT_EQ(table.FieldByName("ElementName").AsString(), "n001");
  EXPECT_THROW_MSG(table.SetIndexName("nope"), EDatabaseError, "Index 'nope' not found in table 'lib.abs'");
}

TEST_F(EngineTest, CaseInsensitiveIndexOrdersAndFinds) {
  for (const char* name : {"beta", "Alpha", "gamma", "ALPHA2"}) AppendElement(table, name);
  table.SetIndexName("EN");
  EXPECT_EQ(Names(table), (std::vector<std::string>{"Alpha", "ALPHA2", "beta", "gamma"}));
  EXPECT_TRUE(table.FindKey({Variant("GAMMA")}));
  EXPECT_EQ(table.FieldByName("ElementName").AsString(), "gamma");
  table.Append();
  table.FieldByName("ElementName").SetAsString("BETA");
  EXPECT_EQ(PostOutcome(table), "Key violation in table 'lib.abs': index 'EN' already holds the key 'BETA'");
}

// Letters beyond ASCII fold too, as in field and file names: "Äther" and "äTHER" are one name. Other programs
// read and write the file with plain SQLite; the engine keys their records at its next write.
TEST_F(EngineTest, UniqueCaseInsensitiveIndexFoldsEveryLetter) {
  const auto post = [&](const std::string& name, bool edit = false) {  // a new record or the current one
    edit ? table.Edit() : table.Append();
    table.FieldByName("ElementName").SetAsString(name);
    return PostOutcome(table);
  };
  AppendElement(table, "\xC3\x84ther");  // Äther
  AppendElement(table, "\xC3\x96l");     // Öl
  AppendElement(table, "Kabel");
  EXPECT_EQ("Key violation in table 'lib.abs': index 'EN' already holds the key '\xC3\xA4THER'", post("\xC3\xA4THER"));
  table.SetIndexName("EN");
  ASSERT_TRUE(table.FindKey({Variant("\xC3\xA4ther")}));  // äther
  EXPECT_EQ("stored", post("\xC3\x84THER", true));  // its own name in other letters
  ASSERT_TRUE(table.FindKey({Variant("\xC3\xB6l")}));  // öl
  EXPECT_THAT(post("\xC3\xA4ther", true), ::testing::StartsWith("Key violation"));
  // Another program writes while the table stays open; the next transaction keys its records first.
  ASSERT_EQ(SQLITE_OK, test::ExecSql(lib.FileName,
                                     "INSERT INTO \"lib.abs\"(\"ElementName\") VALUES('\xC3\x9C" "bel');"
                                     "UPDATE \"lib.abs\" SET \"ElementName\"='\xC3\x96lig' WHERE \"ElementName\"='\xC3\x96l';"
                                     "UPDATE \"lib.abs\" SET \"ElementName\"='\xC3\xBC" "ber' WHERE \"ElementName\"='Kabel'"));
  lib.Database.StartTransaction();
  EXPECT_THAT(post("\xC3\xBC" "BEL"), ::testing::StartsWith("Key violation"));  // üBEL
  EXPECT_EQ("stored", post("\xC3\xB6L"));  // öL: the old name is free again
  EXPECT_THAT(post("\xC3\x9C" "BER"), ::testing::StartsWith("Key violation"));  // ÜBER against über, renamed
  // A key the look-up found in no record is checked again once anything was written after the look-up.
  EXPECT_FALSE(table.FindKey({Variant("\xC3\x84rger")}));  // Ärger
  EXPECT_EQ("stored", post("\xC3\x84RGER"));
  EXPECT_THAT(post("\xC3\xA4rger"), ::testing::StartsWith("Key violation"));
  lib.Database.Commit();
  // The transaction's records are covered: the counter of the field "" reached the highest row key at Commit.
  EXPECT_EQ(test::QueryText(lib.FileName, "SELECT max(rowid) FROM \"lib.abs\""),
            test::QueryText(lib.FileName, "SELECT last FROM \"vez$autoinc\" WHERE tbl='lib.abs' AND field=''"));
  const std::string keys = "SELECT count(*) FROM \"vez$keys\"", before = test::QueryText(lib.FileName, keys);
  ASSERT_TRUE(table.FindKey({Variant("\xC3\xA4rger")}));
  table.Delete();  // its folded key goes with it
  EXPECT_EQ(std::stoi(before) - 1, std::stoi(test::QueryText(lib.FileName, keys)));
}

// Two unique case-insensitive indexes and no counter (as a library of type 25 has): each index refuses only its
// own duplicates, and an edit whose folded key cannot be written leaves the record as it was.
TEST_F(EngineTest, TwoFoldedIndexesKeepTheirKeysApart) {
  TABSTable two;
  BindOwnFile(two, "two.abs");
  two.FieldDefs().Add("A", ftString, 20);
  two.FieldDefs().Add("B", ftString, 20);
  two.IndexDefs().Add("IA", "A", ixUnique | ixCaseInsensitive);
  two.IndexDefs().Add("IB", "B", ixUnique | ixCaseInsensitive);
  two.CreateTable();
  two.Open();
  const auto post = [&](const char* a, const char* b) {
    two.Append();
    two.FieldByName("A").SetAsString(a);
    two.FieldByName("B").SetAsString(b);
    return PostOutcome(two);
  };
  EXPECT_EQ("stored", post("\xC3\x84rger", "x"));  // Ärger in A
  EXPECT_EQ("stored", post("y", "\xC3\x84rger"));  // and in B: another index
  EXPECT_THAT(post("z", "\xC3\xA4RGER"), ::testing::HasSubstr("index 'IB' already holds"));
  EXPECT_THAT(post("\xC3\xA4RGER", "w"), ::testing::HasSubstr("index 'IA' already holds"));
  EXPECT_EQ("stored", post("\xC3\x96l", "\xC3\x96l"));  // Öl in both indexes of one record
  // The folded key's entry cannot be written (another program's trigger): the edit is not kept.
  const std::string file = files.back()->FileName;
  ASSERT_EQ(SQLITE_OK, test::ExecSql(file, "CREATE TRIGGER no_keys BEFORE INSERT ON \"vez$keys\" "
                                           "BEGIN SELECT RAISE(ABORT, 'no new keys'); END"));
  two.First();
  two.Edit();
  two.FieldByName("A").SetAsString("\xC3\x9C" "bel");  // Übel
  EXPECT_THROW(two.Post(), Exception);
  two.Cancel();
  EXPECT_EQ("\xC3\x84rger", test::QueryText(file, "SELECT A FROM \"two.abs\" WHERE B = 'x'"));
}

TEST_F(EngineTest, FindKey) {
  for (const char* name : {"a", "b", "c"}) AppendElement(table, name);
  EXPECT_THROW_MSG(table.FindKey({}), EDatabaseError,
                   "FindKey on index 'p' of table 'lib.abs': 0 key values for 1 fields");
  // Without a current index the primary index is searched.
  EXPECT_TRUE(table.FindKey({Variant(2)}));
  EXPECT_EQ(table.FieldByName("ElementName").AsString(), "b");
  EXPECT_FALSE(table.FindKey({Variant(9)}));
  EXPECT_EQ(table.FieldByName("ElementName").AsString(), "b");  // not moved
  table.Next();
  EXPECT_EQ(table.FieldByName("ElementName").AsString(), "c");
  table.SetIndexName("p");
  EXPECT_TRUE(table.FindKey({Variant("1")}));  // converted to the field's type
  EXPECT_EQ(table.FieldByName("ElementName").AsString(), "a");
  table.Prior();
  EXPECT_TRUE(table.Bof());

  TABSTable two;
  BindOwnFile(two, "two.abs");
  two.FieldDefs().Add("RecNo", ftInteger);
  two.FieldDefs().Add("Floor", ftInteger);
  two.IndexDefs().Add("p", "RecNo;Floor", ixPrimary | ixUnique);
  two.CreateTable();
  two.SetIndexName("p");
  two.Open();
  for (int rec : {2, 1})
    for (int floor : {3, 1}) AppendRecord(two, {{"RecNo", Variant(rec)}, {"Floor", Variant(floor)}});
  EXPECT_TRUE(two.FindKey({Variant(2)}));  // leading field only: the first in index order
  EXPECT_EQ(two.FieldByName("Floor").AsInteger(), 1);
  EXPECT_TRUE(two.FindKey({Variant(1), Variant(3)}));
  EXPECT_EQ(two.FieldByName("Floor").AsInteger(), 3);
  EXPECT_FALSE(two.FindKey({Variant(1), Variant(2)}));
}

TEST_F(EngineTest, EditPostCancelDelete) {
  for (const char* name : {"a", "b", "c"}) AppendElement(table, name);
  table.First();
  table.Edit();
  EXPECT_EQ(table.State(), TDataSetState::dsEdit);
  table.FieldByName("ElementName").SetAsString("changed");
  table.Cancel();
  EXPECT_EQ(table.FieldByName("ElementName").AsString(), "a");
  table.Edit();
  table.FieldByName("ElementName").SetAsString("A1");
  table.Post();
  EXPECT_EQ(Names(table), (std::vector<std::string>{"A1", "b", "c"}));
  // A record found by its bookmark and edited is read anew when the cursor comes back to it, not as First read
  // it ahead.
  table.First();
  ASSERT_TRUE(table.GotoBookmark(table.GetBookmark() + 1));
  table.Edit();
  table.FieldByName("ElementName").SetAsString("B1");
  table.Post();
  table.Next();
  table.Prior();
  EXPECT_EQ(table.FieldByName("ElementName").AsString(), "B1");
  // Delete of an unposted new record drops it.
  table.Append();
  table.FieldByName("ElementName").SetAsString("never");
  table.Delete();
  EXPECT_EQ(std::pair(table.State(), table.RecordCount()), std::pair(TDataSetState::dsBrowse, 3));
  // Delete moves to the next record, or the previous one at the end.
  table.First();
  table.Next();
  table.Edit();  // a record being edited is deleted without its changes
  table.FieldByName("ElementName").SetAsString("edited");
  table.Delete();
  EXPECT_EQ(table.State(), TDataSetState::dsBrowse);
  EXPECT_EQ(table.FieldByName("ElementName").AsString(), "c");
  table.Delete();
  EXPECT_EQ(table.FieldByName("ElementName").AsString(), "A1");
  table.Delete();
  EXPECT_TRUE(table.Eof() && table.Bof() && table.RecordCount() == 0);
  EXPECT_THROW_MSG(table.Delete(), EDatabaseError,
                   "Table 'lib.abs': cannot perform this operation on an empty dataset");
  // Edit of an empty dataset starts a new record.
  table.Edit();
  EXPECT_EQ(table.State(), TDataSetState::dsInsert);
  table.FieldByName("ElementName").SetAsString("x");
  // Navigation posts the pending record.
  table.First();
  EXPECT_EQ(table.RecordCount(), 1);
  AppendElement(table, "y");
  // A delete whose move to the next record fails (no query allowed after the delete) leaves no record current,
  // not the deleted one.
  sqlite3* db = detail::TableProbe::Of(table)->conn->Handle();
  bool deleted = false;
  sqlite3_set_authorizer(db, [](void* done, int what, auto...) {
    *static_cast<bool*>(done) = *static_cast<bool*>(done) || what == SQLITE_DELETE;
    return what == SQLITE_SELECT && *static_cast<bool*>(done) ? SQLITE_DENY : SQLITE_OK;
  }, &deleted);
  EXPECT_THROW_MSG(table.Delete(), EDatabaseError, "Cannot read \"" + lib.FileName + "\": not authorized");
  sqlite3_set_authorizer(db, nullptr, nullptr);
  EXPECT_TRUE(table.FieldByName("ElementName").IsNull());
}

TEST_F(EngineTest, RequiredFieldAndBlobStream) {
  TABSTable t;
  BindOwnFile(t, "req.abs");
  t.FieldDefs().Add("Name", ftString, 10, true);
  t.FieldDefs().Add("Values", ftBlob, 2736);
  t.CreateTable();
  t.Open();
  t.Append();
  EXPECT_THROW_MSG(t.Post(), EDatabaseError, "Field 'Name' must have a value");
  EXPECT_EQ(t.State(), TDataSetState::dsInsert);  // the record stays for correction
  t.FieldByName("Name").SetAsString("n");
  {
    TABSBLOBStream old(t.FieldByName("Values"), TBlobStreamMode::bmWrite);
    old.Write("old content that is long");
    old.Seek(3);
    old.Truncate();
    EXPECT_EQ("old", t.FieldByName("Values").AsString());
    old.Seek(0);  // back to the first byte, which is written over
    old.Write("b");
    EXPECT_EQ("bld", t.FieldByName("Values").AsString());
    EXPECT_THROW_MSG(old.Seek(-1), EDatabaseError, "BLOB stream: negative position");
  }
  {
    TABSBLOBStream stream(t.FieldByName("Values"), TBlobStreamMode::bmWrite);
    const std::string zeros(2736, '\0');
    stream.Write(zeros.data(), zeros.size());
  }
  t.Post();
  t.Close();
  t.Open();
  const std::string content = t.FieldByName("Values").AsString();
  EXPECT_EQ(content, std::string(2736, '\0'));
  TABSBLOBStream reader(t.FieldByName("Values"), TBlobStreamMode::bmRead);
  EXPECT_EQ(reader.Size(), 2736);
  char buffer[8] = {1};
  EXPECT_EQ(reader.Read(buffer, sizeof buffer), sizeof buffer);
  EXPECT_EQ(buffer[0], 0);
  EXPECT_THROW_MSG(reader.Write("x"), EDatabaseError, "Field 'Values': the BLOB stream is open for reading only");
  EXPECT_THROW_MSG(reader.Truncate(), EDatabaseError, "Field 'Values': the BLOB stream is open for reading only");
}

TEST_F(EngineTest, TransactionsCommitRollbackAndFailOnlyTheBadRecord) {
  table.Database().StartTransaction();
  AppendElement(table, "one");
  table.Database().Rollback();
  table.First();
  EXPECT_EQ(table.RecordCount(), 0);

  table.Database().StartTransaction();
  AppendElement(table, "one");
  table.Append();
  table.FieldByName("ElementName").SetAsString("ONE");
  EXPECT_EQ(PostOutcome(table), "Key violation in table 'lib.abs': index 'EN' already holds the key 'ONE'");
  AppendElement(table, "two");
  table.Database().Commit();
  EXPECT_EQ(Names(table), (std::vector<std::string>{"one", "two"}));
  EXPECT_THROW_MSG(table.Database().Commit(), EDatabaseError,
                   "No transaction is running on \"" + lib.FileName + "\"");
}

TEST_F(EngineTest, ReadOnlyRefusesChanges) {
  AppendElement(table, "a");
  table.SetReadOnly(true);
  const std::string refused = "Table 'lib.abs': cannot modify a read-only dataset";
  EXPECT_THROW_MSG(table.Append(), EDatabaseError, refused);
  EXPECT_THROW_MSG(table.Edit(), EDatabaseError, refused);
  EXPECT_THROW_MSG(table.Delete(), EDatabaseError, refused);
  table.Close();
  // A read-only database opens its file for reading only.
  LibraryFile reader(dir, "lib.abs", false);
  reader.Database.SetReadOnly(true);
  TABSTable t;
  reader.Bind(t);
  t.Open();
  EXPECT_EQ(t.RecordCount(), 1);
  EXPECT_THROW_MSG(t.Append(), EDatabaseError, refused);
  t.Close();
  // Permission bits bind the superuser too (tests run as root in CI): a read-only file opens for reading only.
  ::chmod(lib.FileName.c_str(), 0444);
  table.SetReadOnly(false);
  EXPECT_THROW_MSG(table.Open(), EDatabaseError,
                   "Cannot open \"" + lib.FileName + "\" for writing: the file is read-only");
  lib.Database.SetReadOnly(true);
  EXPECT_NO_THROW(table.Open());
}

TEST_F(EngineTest, SecondConnectionSeesPostedRecordsAndIsNotBlockedByReaders) {
  table.Database().StartTransaction();
  for (int i = 0; i < 600; ++i) AppendElement(table, Format("r%03d", i));
  table.Database().Commit();
  LibraryFile other(dir, "lib.abs", false);
  TABSTable theirs;
  other.Bind(theirs);
  theirs.Open();
  EXPECT_EQ(theirs.RecordCount(), 600);
  // Half way through a cursor (records read ahead, no lock held) the other program commits.
  table.First();
  for (int i = 0; i < 10; ++i) table.Next();
  AppendElement(theirs, "theirs");
  theirs.First();
  theirs.Edit();
  theirs.FieldByName("ElementName").SetAsString("edited");
  theirs.Post();
  EXPECT_EQ(Names(table).size(), 601u);
  table.First();
  EXPECT_EQ(table.FieldByName("ElementName").AsString(), "edited");
  EXPECT_TRUE(table.FindKey({Variant(601)}));
  EXPECT_EQ(table.FieldByName("ElementName").AsString(), "theirs");
  // A record the other program deletes after the cursor started, beyond the records read ahead, is skipped.
  table.First();
  ASSERT_TRUE(theirs.FindKey({Variant(500)}));
  const std::string gone = theirs.FieldByName("ElementName").AsString();
  theirs.Delete();
  std::vector<std::string> seen;
  for (; !table.Eof(); table.Next()) seen.push_back(table.FieldByName("ElementName").AsString());
  EXPECT_EQ(seen.size(), 600u);
  EXPECT_EQ(std::count(seen.begin(), seen.end(), gone), 0);
}

TEST_F(EngineTest, RefreshAndIndexChangeStartTheCursorOver) {
  for (const char* name : {"b", "a"}) AppendElement(table, name);
  LibraryFile other(dir, "lib.abs", false);
  TABSTable theirs;
  other.Bind(theirs);
  theirs.Open();
  AppendElement(theirs, "c");
  table.First();
  table.Next();
  EXPECT_EQ(table.FieldByName("ElementName").AsString(), "a");
  table.Refresh();  // stays on its record, and sees the new one after it
  EXPECT_EQ(table.FieldByName("ElementName").AsString(), "a");
  table.Next();
  EXPECT_EQ(std::pair(table.Eof(), table.FieldByName("ElementName").AsString()), std::pair(false, std::string("c")));
  table.SetIndexName("EN");
  EXPECT_EQ(table.FieldByName("ElementName").AsString(), "a");
  table.SetIndexName("");
  EXPECT_EQ(table.FieldByName("ElementName").AsString(), "b");
  // In insert state the new record is not counted until posted.
  table.Append();
  EXPECT_EQ(std::pair(3, false), std::pair(table.RecordCount(), table.IsEmpty()));
  table.Cancel();
}

// MoveBy skips pages it does not read and stops at the ends; a bookmark finds its record in any order and
// fails for one deleted meanwhile.
TEST_F(EngineTest, MoveByAndBookmarks) {
  lib.Database.StartTransaction();
  for (int i = 0; i < 700; ++i) AppendElement(table, "n" + std::to_string(1000 + i));
  lib.Database.Commit();
  table.SetIndexName("EN");
  EXPECT_EQ(table.MoveBy(600), 600);
  EXPECT_EQ(table.FieldByName("ElementName").AsString(), "n1600");
  const TABSTable::TBookmark mark = table.GetBookmark();
  table.Append();  // a record being added has no bookmark yet
  EXPECT_EQ(table.GetBookmark(), 0);
  table.Cancel();
  // Back to the last position whose page read backward starts at the first record; to the end, where a move on
  // stays; to the first record, not before it; before it.
  for (const auto& [by, moved, name, bof, eof] :
       {std::tuple(-346, -346, "n1254", false, false), {1000, 445, "n1699", false, true}, {5, 0, "n1699", false, true},
        {-699, -699, "n1000", false, false}, {-1000, 0, "n1000", true, false}}) {
    const int got = table.MoveBy(by);
    EXPECT_EQ(std::tuple(moved, std::string(name), bof, eof),
              std::tuple(got, table.FieldByName("ElementName").AsString(), table.Bof(), table.Eof()))
        << "by " << by;
  }
  table.SetIndexName("");
  ASSERT_TRUE(table.GotoBookmark(mark));
  EXPECT_EQ(table.FieldByName("ElementName").AsString(), "n1600");
  table.Next();  // the cursor goes on from the bookmarked record
  EXPECT_EQ(table.FieldByName("ElementName").AsString(), "n1601");
  ASSERT_TRUE(table.GotoBookmark(mark));
  table.Delete();
  EXPECT_FALSE(table.GotoBookmark(mark));
  EXPECT_EQ(table.FieldByName("ElementName").AsString(), "n1601");
  table.First();
  table.Delete();  // the record of row key 1
  EXPECT_FALSE(table.GotoBookmark(1));
}

// Without time to wait a second writer fails at once; with it, it waits for the holder to commit.
TEST_F(EngineTest, WriterOnALockedFileFailsOrWaits) {
  LibraryFile other(dir, "lib.abs", false);
  other.Database.SetLockWaitSeconds(-1);  // counts as 0
  ASSERT_EQ(0, other.Database.LockWaitSeconds());
  TABSTable theirs;
  other.Bind(theirs);
  theirs.Open();
  table.Database().StartTransaction();  // holds the write lock
  AppendElement(table, "mine");
  theirs.Append();
  theirs.FieldByName("ElementName").SetAsString("theirs");
  EXPECT_THROW_MSG(theirs.Post(), EDatabaseError,
                   "Cannot write to \"" + lib.FileName + "\": the file is locked by another program");
  other.Database.SetLockWaitSeconds(5);
  // The holder commits a little later, on another thread.
  std::thread holder([this] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    table.Database().Commit();
  });
  const auto start = std::chrono::steady_clock::now();
  EXPECT_NO_THROW(theirs.Post());
  const auto waited = std::chrono::steady_clock::now() - start;
  holder.join();
  EXPECT_GE(waited, std::chrono::milliseconds(200));
  EXPECT_EQ(theirs.RecordCount(), 2);
  // A run of reads cannot begin while another program holds the file's exclusive lock; it fails leaving nothing
  // begun, so that the next run begins once the lock is gone, and the file closes with the last table.
  sqlite3* exclusive = nullptr;
  sqlite3_open(lib.FileName.c_str(), &exclusive);
  ASSERT_EQ(SQLITE_OK, sqlite3_exec(exclusive, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr));
  other.Database.SetLockWaitSeconds(0);
  EXPECT_THROW(other.Database.StartReading(), EDatabaseError);
  sqlite3_close(exclusive);  // rolls back
  EXPECT_NO_THROW(TABSReadScope{other.Database});
  theirs.Close();
  EXPECT_FALSE(other.Database.Connected());
}

TEST(EngineFiles, OpenFailures) {
  TempDir dir;
  LibraryFile missing(dir, "missing.abs", false);
  TABSTable t;
  missing.Bind(t);
  EXPECT_THROW_MSG(t.Open(), EDatabaseError,
                   "Cannot open \"" + missing.FileName + "\": the file does not exist");
  EXPECT_FALSE(t.GetTableExists());

  {
    std::ofstream out(dir.File("text.abs"));
    out << "This is a plain text file and by no means a database, however long it is made to be.\n";
    for (int i = 0; i < 50; ++i) out << "padding line " << i << "\n";
  }
  LibraryFile text(dir, "text.abs", false);
  text.Bind(t);
  EXPECT_THROW_MSG(t.Open(), EDatabaseError,
                   "Cannot open \"" + text.FileName + "\": the file is not a library database");

  LibraryFile empty(dir, "empty.abs");
  empty.Bind(t);
  EXPECT_THROW_MSG(t.Open(), EDatabaseError,
                   "Table 'empty.abs' does not exist in \"" + empty.FileName + "\"");
  EXPECT_THROW_MSG(empty.Database.CreateDatabase(), EDatabaseError,
                   "Cannot create \"" + empty.FileName + "\": the file exists already");

  LibraryFile nobody(dir, "x.abs", false);
  TABSTable unbound;
  unbound.SetDatabaseName("no such alias");
  unbound.SetTableName("x.abs");
  EXPECT_THROW_MSG(unbound.Open(), EDatabaseError,
                   "Table 'x.abs': no database with the alias 'no such alias' in session 'DEFAULT'");
}

// A killed writer leaves a hot journal; a reader recovers it when the file is writable.
TEST_F(EngineTest, HotJournalIsRolledBackByAReader) {
  AppendElement(table, "kept");
  table.Close();
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    sqlite3* db = nullptr;
    sqlite3_open_v2(lib.FileName.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
    sqlite3_exec(db, "PRAGMA cache_size=1; BEGIN; DELETE FROM \"lib.abs\";"
                     "CREATE TABLE filler(x); WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i+1 FROM n WHERE i<3000)"
                     " INSERT INTO filler SELECT randomblob(200) FROM n;", nullptr, nullptr, nullptr);
    _exit(0);  // killed before COMMIT
  }
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_GT(std::filesystem::file_size(lib.FileName + "-journal"), 0u);
  lib.Database.SetReadOnly(true);
  table.Open();
  EXPECT_EQ(1, table.RecordCount());
  EXPECT_EQ("kept", table.FieldByName("ElementName").AsString());
}

// The disk fills in the middle of a large transaction (a file-size limit in a child): SQLite abandons the
// transaction when its page cache spills; no later record may then reach the file on its own, and the commit
// fails, and so does a rename of the table. The library keeps exactly what it held before.
TEST_F(EngineTest, FullDiskInATransactionStoresNothing) {
  for (const char* name : {"a", "b", "c", "d"}) AppendElement(table, name);
  table.Close();
  const auto limit = static_cast<rlim_t>(std::filesystem::file_size(lib.FileName) + 1024 * 1024);
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    std::signal(SIGXFSZ, SIG_IGN);
    const rlimit small{limit, limit};
    setrlimit(RLIMIT_FSIZE, &small);
    int lost = 0;
    table.Open();
    table.Database().StartTransaction();
    for (int i = 0; i < 4000; ++i) {  // 10 KB each: the 16 MB page cache spills after about 1600
      try {
        AppendRecord(table, {{"ElementName", Variant("n" + std::to_string(i))},
                             {"Kommentar", Variant(std::string(10000, 'x'))}});
      } catch (const ETransactionLost&) {
        ++lost;
        table.Cancel();
      } catch (const std::exception&) {
        table.Cancel();
      }
    }
    // A change of the table's definition, made on its own, is refused as well.
    bool renameRefused = false, commitFailed = false;
    table.Close();
    try {
      table.RenameTable("renamed");
    } catch (const ETransactionLost&) {
      renameRefused = true;
    }
    try {
      table.Database().Commit();
    } catch (const ETransactionLost&) {
      commitFailed = true;
    }
    _exit(lost > 0 && renameRefused && commitFailed ? 0 : 1);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  table.Open();
  EXPECT_EQ(Names(table), (std::vector<std::string>{"a", "b", "c", "d"}));
}

TEST(EngineFields, RowKeyNamedFieldsAndFoldedNames) {
  // Fields named like SQLite's row key do not change which record Edit and Delete touch.
  TempDir dir;
  LibraryFile lib(dir);
  TABSTable t;
  lib.Bind(t);
  t.FieldDefs().Add("ROWID", ftInteger);
  t.FieldDefs().Add("oid", ftInteger);
  t.FieldDefs().Add("Gr\xC3\xB6\xC3\x9F" "e", ftInteger);
  t.CreateTable();
  t.Open();
  for (int i = 0; i < 3; ++i)  // non-ASCII letters fold too
    AppendRecord(t, {{"rowid", Variant(7)}, {"OID", Variant(7)}, {"GR\xC3\x96\xC3\x9F" "E", Variant(i)}});
  t.First();
  t.Edit();
  t.FieldByName("rowid").SetAsInteger(8);
  t.Post();
  t.Next();
  t.Delete();
  t.Close();
  t.Open();
  ASSERT_EQ(2, t.RecordCount());
  t.First();
  EXPECT_EQ(8, t.FieldByName("rowid").AsInteger());
  t.Next();
  EXPECT_EQ(7, t.FieldByName("rowid").AsInteger());
  EXPECT_EQ(2, t.FieldByName("gr\xC3\xB6\xC3\x9F" "e").AsInteger());
}

TEST_F(EngineTest, AutoIncrementCountersAndOutsideInserts) {
  // Inside a transaction the counter is written at Commit; a rollback gives nothing out.
  lib.Database.StartTransaction();
  AppendElement(table, "a");
  AppendElement(table, "b");
  lib.Database.Commit();
  lib.Database.StartTransaction();
  AppendElement(table, "lost");
  lib.Database.Rollback();
  table.Close();
  // The counter itself says 2 (numbers are not reused after a delete), and another client inserts number 10
  // without moving it.
  EXPECT_EQ("2", test::QueryText(lib.FileName, "SELECT last FROM \"vez$autoinc\""));
  ASSERT_EQ(SQLITE_OK,
            test::ExecSql(lib.FileName, "INSERT INTO \"lib.abs\"(\"Eintrag\", \"ElementName\") VALUES(10, 'x')"));
  table.Open();
  AppendElement(table, "c");
  EXPECT_EQ(11, table.FieldByName("Eintrag").AsInteger());
  lib.Database.StartTransaction();
  AppendElement(table, "d");
  AppendElement(table, "e");
  lib.Database.Commit();
  table.Last();
  EXPECT_EQ(13, table.FieldByName("Eintrag").AsInteger());
}

TEST_F(EngineTest, AutoIncrementAfterRollbacksOnTheOpenTable) {
  AppendElement(table, "a");
  AppendElement(table, "b");
  // The open table keeps the connection, and with it whatever the engine remembers of the counter.
  for (const char* lost : {"lost", "lost again"}) {
    lib.Database.StartTransaction();
    AppendElement(table, lost);
    EXPECT_EQ(table.FieldByName("Eintrag").AsInteger(), 3);
    lib.Database.Rollback();
  }
  lib.Database.StartTransaction();
  AppendElement(table, "c");
  lib.Database.Commit();
  AppendElement(table, "d");
  EXPECT_EQ(table.FieldByName("Eintrag").AsInteger(), 4);
  std::vector<std::string> backwards;
  for (; !table.Bof(); table.Prior()) backwards.push_back(table.FieldByName("ElementName").AsString());
  EXPECT_EQ(backwards, (std::vector<std::string>{"d", "c", "b", "a"}));
}

TEST(EngineFiles, HostileNamesAreQuoted) {
  TempDir dir;
  const std::string tableName = "we\"ird'; DROP TABLE x; --.abs";
  LibraryFile lib(dir, "hostile.abs");
  TABSTable t;
  lib.Bind(t, tableName);
  const char* const names[] = {"v[km/h]", "p[%]", "A(FTNo,PTAvg)", "Length/m", "quote\"d", "select", "rowid",
                               "a;b"};
  for (const char* name : names) t.FieldDefs().Add(name, ftFloat);
  t.IndexDefs().Add("p\"x", "v[km/h]", ixPrimary);
  t.IndexDefs().Add("second", "A(FTNo,PTAvg);Length/m", ixCaseInsensitive);
  t.CreateTable();
  t.SetIndexName("p\"x");
  t.Open();
  for (int r = 0; r < 3; ++r) {
    t.Append();
    for (std::size_t i = 0; i < std::size(names); ++i) t.FieldByName(names[i]).SetAsFloat(r * 10.0 + i);
    t.Post();
  }
  EXPECT_TRUE(t.FindKey({Variant(10.0)}));
  EXPECT_EQ(t.FieldByName("rowid").AsFloat(), 16.0);
  EXPECT_EQ(t.FieldByName("quote\"d").AsFloat(), 14.0);
  t.Edit();  // the record found is the one changed (its row key is not its first field's value)
  t.FieldByName("quote\"d").SetAsFloat(-1);
  t.Post();
  EXPECT_TRUE(t.FindKey({Variant(10.0)}) && t.FieldByName("quote\"d").AsFloat() == -1.0);
  EXPECT_EQ(lib.Database.GetTablesList(), std::vector<std::string>{tableName});
  t.Close();
  for (const char* bad : {" ", "vez$keys"})
    EXPECT_THROW_MSG(t.RenameTable(bad), EDatabaseError,
                     "Cannot rename table '" + tableName + "' to '" + bad + "': invalid name");
  t.RenameTable("renamed \"again\"");
  t.Open();
  EXPECT_EQ(t.RecordCount(), 3);
  EXPECT_EQ(t.IndexDefs().Count(), 2);
}

TEST(EngineFiles, ConnectionsDeletionAndRenaming) {
  TempDir dir;
  LibraryFile lib(dir);
  TABSTable t;
  lib.Bind(t);
  DefineElementTable(t);
  t.CreateTable();
  EXPECT_FALSE(lib.Database.Connected());
  t.Open();
  EXPECT_TRUE(lib.Database.Connected());
  t.Close();
  EXPECT_FALSE(lib.Database.Connected());
  EXPECT_EQ(lib.Database.GetTablesList(), std::vector<std::string>{"lib.abs"});
  // KeepConnection holds the file between uses; clearing it closes the file only when no table needs it.
  lib.Database.SetKeepConnection(true);
  t.Open();
  t.Close();
  EXPECT_TRUE(lib.Database.Connected());
  lib.Database.SetKeepConnection(false);
  EXPECT_FALSE(lib.Database.Connected());
  lib.Database.SetKeepConnection(true);
  t.Open();
  lib.Database.SetKeepConnection(false);
  EXPECT_EQ(std::pair(true, 0), std::pair(lib.Database.Connected(), t.RecordCount()));
  t.Close();
  EXPECT_FALSE(lib.Database.Connected());
  // Deleting a table takes its bookkeeping along: the same name made again starts empty, its old keys gone.
  t.Open();
  AppendElement(t, "Kept");
  EXPECT_THROW_MSG(t.DeleteTable(), EDatabaseError, "Table 'lib.abs' is open and cannot be deleted");
  t.Close();
  std::string rows = "SELECT 0";
  for (const char* meta : {"fields", "indexes", "autoinc", "keys"})
    rows += std::string(" + (SELECT count(*) FROM \"vez$") + meta + "\" WHERE tbl = 'lib.abs')";
  EXPECT_EQ("13", test::QueryText(lib.FileName, rows));  // 9 fields, 2 indexes, a counter, a key
  t.DeleteTable();
  EXPECT_EQ(std::pair(std::string("0"), true),
            std::pair(test::QueryText(lib.FileName, rows), lib.Database.GetTablesList().empty()));
  EXPECT_THROW_MSG(t.DeleteTable(), EDatabaseError, "Table 'lib.abs' does not exist in \"" + lib.FileName + "\"");
  t.CreateTable();
  t.Open();
  AppendElement(t, "KEPT");
  EXPECT_EQ(std::pair(1, 1), std::pair(t.RecordCount(), t.FieldByName("Eintrag").AsInteger()));
  // Renaming closes open tables first and moves the file.
  const std::string moved = dir.File("moved.abs");
  lib.Database.RenameDatabase(moved);
  EXPECT_EQ(std::tuple(false, true, false, moved),
            std::tuple(t.Active(), std::filesystem::exists(moved), std::filesystem::exists(lib.FileName),
                       lib.Database.DatabaseFileName()));
  t.Open();
  lib.Database.DeleteDatabase();
  EXPECT_EQ(std::tuple(false, false, false),
            std::tuple(t.Active(), std::filesystem::exists(moved), lib.Database.GetExists()));
  // A database that goes closes the tables still open on it.
  TABSTable other;
  {
    LibraryFile second(dir, "second.abs");
    second.Bind(other);
    DefineElementTable(other);
    other.CreateTable();
    other.Open();
  }
  EXPECT_FALSE(other.Active());
}

TEST(EngineFiles, AliasesAreUniqueAmongLiveDatabases) {
  TABSDatabase a;
  a.SetDatabaseName("shared-alias");
  {
    TABSDatabase b;
    EXPECT_THROW_MSG(b.SetDatabaseName("SHARED-ALIAS"), EDatabaseError,
                     "The database alias 'SHARED-ALIAS' is in use by another database");
    b.SetSessionName("other session");
    EXPECT_NO_THROW(b.SetDatabaseName("shared-alias"));
  }
  EXPECT_EQ(TABSDatabase::FindDatabase("DEFAULT", "shared-alias"), &a);
  EXPECT_EQ(TABSDatabase::FindDatabase("other session", "shared-alias"), nullptr);
}

}  // namespace
}  // namespace vez
