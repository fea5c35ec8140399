// The expanded layout descriptions against the expected layouts kept as test data, for every type code.
#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <string>

#include "ExpectedLayouts.h"
#include "core/FormatSettings.h"
#include "librarydb/Layouts.h"

namespace vez {
namespace {

using test::ExpectedIndex;
using test::LoadExpectedLayouts;

std::string Describe(const ExpectedIndex& e) {
  std::ostringstream out;
  out << e.name << " [" << e.fields << "]" << (e.primary ? " primary" : "") << (e.unique ? " unique" : "")
      << (e.caseInsensitive ? " case-insensitive" : "");
  return out.str();
}

std::string Describe(const IndexLayout& ix) {
  ExpectedIndex e{ix.Name, ix.Fields, (ix.Options & kIndexPrimary) != 0, (ix.Options & kIndexUnique) != 0,
                  (ix.Options & kIndexCaseInsensitive) != 0};
  return Describe(e);
}

void ExpectSameIndexes(const std::vector<ExpectedIndex>& expected, const std::vector<IndexLayout>& actual) {
  ASSERT_EQ(expected.size(), actual.size());
  for (std::size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(Describe(expected[i]), Describe(actual[i])) << "index " << i;
  // No option bits beyond the three the engine knows.
  for (const auto& ix : actual) EXPECT_EQ(ix.Options & ~(kIndexPrimary | kIndexUnique | kIndexCaseInsensitive), 0);
}

class LayoutByCode : public ::testing::TestWithParam<std::int32_t> {};

TEST_P(LayoutByCode, MatchesExpectedLayout) {
  const std::int32_t code = GetParam();
  const auto& expected = LoadExpectedLayouts().layouts;
  const auto layout = LibraryLayout(code);
  const auto it = expected.find(code);
  if (it == expected.end()) {
    EXPECT_FALSE(layout.has_value());
    return;
  }
  ASSERT_TRUE(layout.has_value());
  const auto& want = it->second;
  const LayoutFamily family = want.family == "classic" ? LayoutFamily::Classic : LayoutFamily::Advanced;
  EXPECT_EQ(family, layout->Family);
  ASSERT_EQ(want.fields.size(), layout->Fields.size());
  for (std::size_t i = 0; i < want.fields.size(); ++i) {
    const auto& w = want.fields[i];
    const auto& f = layout->Fields[i];
    SCOPED_TRACE("field #" + std::to_string(i + 1) + " " + w.name);
    EXPECT_EQ(w.name, f.Name);
    EXPECT_EQ(w.type, ColumnKindLabel(f.Kind, layout->Family));
    EXPECT_EQ(w.size, f.Size);
    EXPECT_EQ(w.required, f.Required);
    EXPECT_EQ(w.compressionAlgorithm, f.CompressionAlgorithm);
    EXPECT_EQ(w.compressionLevel, f.CompressionLevel);
  }
  ExpectSameIndexes(want.indexes, layout->Indexes);
}

TEST_P(LayoutByCode, IndexOnlyDefinitionsMatchExpected) {
  const std::int32_t code = GetParam();
  const auto& expected = LoadExpectedLayouts().indexOnly;
  const auto indexes = LibraryIndexLayout(code);
  const auto it = expected.find(code);
  if (it == expected.end()) {
    EXPECT_FALSE(indexes.has_value());
    return;
  }
  ASSERT_TRUE(indexes.has_value());
  ExpectSameIndexes(it->second, *indexes);
}

// Invariants the engine depends on: field names unique without regard to case, every index field defined,
// exactly one primary index and it comes first.
TEST_P(LayoutByCode, FieldNamesUniqueAndIndexesResolvable) {
  const auto layout = LibraryLayout(GetParam());
  if (!layout) return;  // covered by MatchesExpectedLayout
  std::set<std::string> names;
  for (const auto& f : layout->Fields) EXPECT_TRUE(names.insert(UpperCase(f.Name)).second) << f.Name;
  int primaries = 0;
  for (const auto& ix : layout->Indexes) {
    if (ix.Options & kIndexPrimary) ++primaries;
    std::istringstream fields(ix.Fields);
    std::string field;
    while (std::getline(fields, field, ';')) EXPECT_EQ(1u, names.count(UpperCase(field))) << ix.Name << ": " << field;
  }
  EXPECT_EQ(1, primaries);
  ASSERT_FALSE(layout->Indexes.empty());
  EXPECT_TRUE(layout->Indexes.front().Options & kIndexPrimary);
}

std::vector<std::int32_t> AllCodesAndSomeOutside() {
  std::vector<std::int32_t> codes = {-100, -1, 104, 105, 1000};
  for (std::int32_t c = 0; c <= 103; ++c) codes.push_back(c);
  return codes;
}

std::string CodeName(const ::testing::TestParamInfo<std::int32_t>& info) {
  return info.param < 0 ? "minus" + std::to_string(-info.param) : "code" + std::to_string(info.param);
}

INSTANTIATE_TEST_SUITE_P(AllCodes, LayoutByCode, ::testing::ValuesIn(AllCodesAndSomeOutside()), CodeName);

// Landmarks of the layouts that are easy to get wrong, checked by position. They hold for the test data as
// much as for the library, so a slip in either shows here.
TEST(LayoutLandmarks, FieldAtPosition) {
  struct Case {
    std::int32_t code;
    std::size_t position;  // 1-based
    const char* name;
  };
  const Case cases[] = {
      {1, 32, "Values30"},           {1, 33, "Values0"},           {3, 33, "Values0"},
      {0, 34, "HeightAboveGround"},  {0, 65, "RichtwirkungenV1"},  {2, 34, "C"},
      {2, 36, "SingleValue"},        {2, 37, "Gruppen1"},          {8, 3, "Percentage0"},
      {8, 16, "Speed1"},             {8, 28, "C01"},               {8, 39, "C012"},
      {26, 4, "A(FTNo,PTAvg)"},      {26, 25, "Q(FTNo,PTAvg)"},    {26, 26, "A(FTYes,PTAvg)"},
      {26, 48, "A(FTNo,PTDGAC)"},    {26, 179, "Q(FTYes,PTPCC)"},  {26, 182, "Graphic"},
      {98, 4, "Tagesgang1"},         {98, 5, "Value1"},            {98, 17, "Value7"},
      {92, 6, "A1"},                 {92, 7, "B1"},                {92, 19, "B7"},
      {32, 6, "Graphic"},            {32, 7, "Emis3"},             {32, 18, "EmisHeight8"},
      {100, 6, "af_1_63"},           {100, 13, "af_1_8000"},       {100, 14, "af_2_63"},
      {100, 93, "af_11_8000"},       {100, 94, "aA1"},             {101, 6, "b_1_63"},
      {7, 57, "Winkelyz18"},         {7, 58, "Values"},            {5, 3, "Values0"},
  };
  for (const Case& c : cases) {
    const auto layout = LibraryLayout(c.code);
    ASSERT_TRUE(layout.has_value()) << c.code;
    ASSERT_GE(layout->Fields.size(), c.position) << c.code;
    EXPECT_EQ(c.name, layout->Fields[c.position - 1].Name) << "code " << c.code << " #" << c.position;
    const auto& expectedFields = LoadExpectedLayouts().layouts.at(c.code).fields;
    ASSERT_GE(expectedFields.size(), c.position);
    EXPECT_EQ(c.name, expectedFields[c.position - 1].name) << "test data, code " << c.code;
  }
}

TEST(LayoutLandmarks, SharedLayoutsAreIdentical) {
  const std::pair<std::int32_t, std::int32_t> pairs[] = {{1, 3}, {34, 35}, {34, 36}, {34, 37}};
  for (const auto& [a, b] : pairs) {
    const auto la = LibraryLayout(a);
    const auto lb = LibraryLayout(b);
    ASSERT_TRUE(la && lb);
    ASSERT_EQ(la->Fields.size(), lb->Fields.size());
    for (std::size_t i = 0; i < la->Fields.size(); ++i) EXPECT_EQ(la->Fields[i].Name, lb->Fields[i].Name);
  }
}

TEST(IndexOnlyLayouts, PollutantResultsKeyDependsOnStoffNr) {
  const auto without = LibraryIndexLayout(54, false);
  const auto with = LibraryIndexLayout(54, true);
  ASSERT_TRUE(without && with);
  ASSERT_EQ(1u, without->size());
  ASSERT_EQ(1u, with->size());
  EXPECT_EQ("SrcNo", without->front().Fields);
  EXPECT_EQ("SrcNo;StoffNr", with->front().Fields);
  // Only code 54 reacts to the field.
  EXPECT_EQ("IDX;StoffNr", LibraryIndexLayout(65, false)->front().Fields);
  EXPECT_EQ("SrcNo", LibraryIndexLayout(53, true)->front().Fields);
}

TEST(IndexOnlyLayouts, AttributeStoreSameAsItsFieldLayout) {
  const auto viaLayout = LibraryLayout(96);
  const auto viaIndexes = LibraryIndexLayout(96);
  ASSERT_TRUE(viaLayout && viaIndexes);
  ASSERT_EQ(viaLayout->Indexes.size(), viaIndexes->size());
  EXPECT_EQ(Describe(viaLayout->Indexes[0]), Describe((*viaIndexes)[0]));
}

TEST(ColumnKinds, EngineCodesAreDistinctAndKnown) {
  const std::pair<ColumnKind, std::int32_t> codes[] = {
      {ColumnKind::Text, 2},     {ColumnKind::Int16, 6},     {ColumnKind::Int32, 7},    {ColumnKind::UInt16, 10},
      {ColumnKind::AutoInc, 12}, {ColumnKind::Double, 21},   {ColumnKind::Boolean, 23}, {ColumnKind::DateTime, 27},
      {ColumnKind::Blob, 31},    {ColumnKind::Graphic, 32},  {ColumnKind::Memo, 33},
  };
  for (const auto& [kind, code] : codes) EXPECT_EQ(code, EngineTypeCode(kind));
}

}  // namespace
}  // namespace vez
