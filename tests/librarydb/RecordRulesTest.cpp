// What the record rules do beyond the cases every front end runs (tests/data/conformance): the C++ caller's
// own paths. The messages and the band rules are pinned by the conformance cases.
#include "librarydb/RecordRules.h"

#include <gtest/gtest.h>

#include <tuple>

#include "../TestUtil.h"
#include "librarydb/LibraryFile.h"
#include "librarydb/Layouts.h"
#include "librarydb/OVLibConst.h"

namespace vez {
namespace {

TEST(RecordRulesTest, NoValueIsTheMinus199OfTheDefaults) {
  EXPECT_EQ(std::tuple(NoValueNumber(ltAbsor, "values8"), NoValueNumber(ltTrans, "Ctr"), NoValueNumber(ltRiwi, "Values36"),
                       NoValueNumber(ltTime, "Values1"), NoValueNumber(ltAbsor, "Lower")),
            std::tuple(std::optional(-199.0), std::optional(-199.0), std::optional(-199.0), std::optional<double>(),
                       std::optional<double>()));
}

TEST(RecordRulesTest, WriterKeepsWhatTheCallerSetsAndNumbersNewRecords) {
  test::TempDir dir;
  TLibraryFile lib(CreateLibraryFile(ltAbsor, dir.Path().string(), false), true);
  TRecordWriter w(lib.Table(), lib.LibType());
  const double when = EncodeDateTime(2020, 2, 29, 12, 0, 0, 0);
  w.Append(when + 1);
  w.Set(w.FieldIndex("ElementName"), Variant("A name cut to eighty characters " + std::string(60, 'x')), true);
  w.SetText(w.FieldIndex("LastChangeDateTime"), "2020-02-29T12:00:00");
  w.SetWholeNumber(w.FieldIndex("Values8"), "42");
  w.SetText(w.FieldIndex("Kennchar2"), "");
  w.Post(when + 2);
  ASSERT_EQ(w.Number(), std::optional<std::int64_t>(1));
  TABSTable& t = lib.Table();
  EXPECT_EQ(std::tuple(t.FieldByName("ElementName").AsString().size(), t.FieldByName("LastChangeDateTime").AsDateTime(),
                       t.FieldByName("Values8").AsFloat(), t.FieldByName("Kennchar2").IsNull(),
                       t.FieldByName("Kennchar2").AsString(), t.FieldByName("Komplett").AsBoolean()),
            std::tuple(std::size_t{80}, when, 42.0, false, std::string(), true));

  // A refused value leaves the table browsing and nothing stored; the next record gets the next number.
  w.Append(when);
  EXPECT_THROW(w.SetWholeNumber(w.FieldIndex("Upper"), "99999999999999999999"), EFieldValueError);
  EXPECT_THROW(w.SetWholeNumber(w.FieldIndex("ElementName"), "99999999999999999999"), EFieldValueError);
  EXPECT_THROW(w.SetText(w.FieldIndex("Graphic"), "bytes"), EFieldValueError);
  w.Cancel();
  EXPECT_EQ(t.State(), TDataSetState::dsBrowse);
  w.Append(when);
  w.SetText(w.FieldIndex("ElementName"), "Second");
  w.Post(when + 3);
  EXPECT_EQ(std::tuple(w.Number(), t.FieldByName("Komplett").AsBoolean(), t.FieldByName("LastChangeDateTime").AsDateTime()),
            std::tuple(std::optional<std::int64_t>(2), false, when + 3));

  // A field the caller promised to set but left unset still gets its default, as do the others.
  TRecordWriter promised(t, lib.LibType());
  promised.SetsInEveryNewRecord({w.FieldIndex("ElementName"), w.FieldIndex("Values8"), w.FieldIndex("Values9")});
  promised.Append(Now());
  promised.SetText(w.FieldIndex("ElementName"), "Third");
  promised.SetText(w.FieldIndex("Values8"), "3");
  promised.Post(Now());
  EXPECT_EQ(std::tuple(t.FieldByName("Values8").AsFloat(), t.FieldByName("Values9").AsFloat(),
                       t.FieldByName("Values10").AsFloat()),
            std::tuple(3.0, -199.0, -199.0));
}

}  // namespace
}  // namespace vez
