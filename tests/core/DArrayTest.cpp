// Arrays that keep the lower bound of their index range.
#include <gtest/gtest.h>

#include "core/DArray.h"
#include "core/Exceptions.h"

namespace vez {
namespace {

TEST(DArray, KeepsItsLowerBound) {
  DArray<int, 1, 10> a{31, 63, 125};
  EXPECT_EQ(31, a[1]);
  EXPECT_EQ(125, a[3]);
  EXPECT_EQ(0, a[10]);
  EXPECT_EQ(10u, a.size());
  int sum = 0;
  for (int v : a) sum += v;
  EXPECT_EQ(219, sum);
  EXPECT_THROW(a.At(0), EListError);
  EXPECT_THROW(a.At(11), EListError);
  DArray<double, 0, 23> hours;
  hours[23] = 1.5;
  EXPECT_EQ(1.5, hours.At(23));
}

}  // namespace
}  // namespace vez
