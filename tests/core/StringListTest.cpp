#include <gtest/gtest.h>

#include <array>

#include "TestUtil.h"
#include "core/DArray.h"
#include "core/Exceptions.h"
#include "core/StringList.h"

namespace vez {
namespace {

TEST(StringList, LookupIsCaseInsensitiveUnlessAskedAndSortedListsKeepOrder) {
  StringList list{"Emis", "Absor", "emis"};
  list.SetSorted(false);  // not sorted already: the order stays
  StringList same{"b", "B", "a"};
  same.Sort();  // names equal but for case keep their order
  EXPECT_EQ((std::vector<std::string>{"a", "b", "B"}), same.ToVector());
  EXPECT_EQ((std::array{3, 0, -1}), (std::array{list.Count(), list.IndexOf("EMIS"), list.IndexOf("Time")}));
  EXPECT_EQ(std::pair(true, false), std::pair(list.Contains("EMIS"), list.Contains("Time")));  // the first one too
  list.SetCaseSensitive(true);
  EXPECT_EQ(std::pair(2, -1), std::pair(list.IndexOf("emis"), list.IndexOf("EMIS")));
  EXPECT_THROW_MSG(list.Strings(3), EListError, "List index out of bounds (3)");
  // A sorted list keeps its order and handles duplicates as asked.
  StringList sorted;
  sorted.SetSorted(true);
  for (const char* s : {"wind", "Absor", "emis", "EMIS", "time"}) sorted.Add(s);
  EXPECT_EQ((std::vector<std::string>{"Absor", "emis", "time", "wind"}), sorted.ToVector());
  EXPECT_EQ(2, sorted.IndexOf("TIME"));
  sorted.SetDuplicates(Duplicates::Error);
  EXPECT_THROW_MSG(sorted.Add("Wind"), EListError, "String list does not allow duplicates");
  sorted.SetDuplicates(Duplicates::Accept);
  sorted.Add("Wind");
  EXPECT_EQ(5, sorted.Count());
  EXPECT_THROW_MSG(sorted.Insert(0, "x"), EListError, "Operation not allowed on sorted list");
  StringList many;
  many.SetSorted(true);
  for (int i = 39; i >= 0; --i) many.Add(std::to_string(100 + i));
  for (int i = 0; i < 40; ++i) EXPECT_EQ(i, many.IndexOf(std::to_string(100 + i)));
}

TEST(StringList, ObjectsNamesValuesTextAndInsertion) {
  StringList list;
  list.AddObject("a.db", 7);
  list.Add("Key=Value=More");
  list.Add("plain");
  EXPECT_EQ(std::pair(7, 0), std::pair(static_cast<int>(list.Objects(0)), list.IndexOfObject(7)));
  EXPECT_EQ("Key|Value=More||Value=More", list.Names(1) + "|" + list.Values("KEY") + "|" + list.Values("plain") +
                                               list.ValueFromIndex(2) + "|" + list.ValueFromIndex(1));
  EXPECT_EQ("a.db\nKey=Value=More\nplain\n", list.Text());
  list.SetText("x\r\ny\rz\n\nw");
  EXPECT_EQ((std::vector<std::string>{"x", "y", "z", "", "w"}), list.ToVector());
  StringList quoted{"a b", "c", "", "say \"hi\""};
  EXPECT_EQ("\"a b\",c,\"\",\"say \"\"hi\"\"\"", quoted.CommaText());
  list.Delete(0);
  EXPECT_EQ("y", list[0]);
  // Insert from the front to the end.
  StringList inserted{"b"};
  inserted.Insert(0, "a");
  inserted.Insert(2, "d");  // at the end: appends
  inserted.Insert(2, "c");
  EXPECT_EQ((std::vector<std::string>{"a", "b", "c", "d"}), inserted.ToVector());
  EXPECT_THROW_MSG(inserted.Insert(5, "x"), EListError, "List index out of bounds (5)");
  EXPECT_THROW_MSG(inserted.Insert(-1, "x"), EListError, "List index out of bounds (-1)");
}

// Arrays that keep the lower bound of their index range.
TEST(DArray, KeepsItsLowerBound) {
  DArray<int, 1, 10> a{31, 63, 125};
  EXPECT_EQ((std::array{31, 125, 0}), (std::array{a.At(1), a[3], a.At(10)}));  // both ends of the range belong to it
  int sum = 0;
  for (int v : a) sum += v;
  EXPECT_EQ(std::pair(std::size_t{10}, 219), std::pair(a.size(), sum));
  EXPECT_THROW_MSG(a.At(0), EListError, "Index 0 out of bounds (1..10)");
  EXPECT_THROW_MSG(a.At(11), EListError, "Index 11 out of bounds (1..10)");
}

}  // namespace
}  // namespace vez
