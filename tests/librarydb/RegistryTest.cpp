// The library type registry against tests/data/librarydb/registry.txt: names, patterns, constant names, the key
// and name fields of every code, and the type of sample file names.
#include <gtest/gtest.h>

#include "TestUtil.h"
#include "librarydb/OVLibConst.h"

namespace vez {
namespace {

TEST(Registry, EveryCodeAndSampleFileNames) {
  int codes = 0, files = 0;
  for (const std::string& line : test::SplitLines(test::ReadFile(test::DataPath("librarydb/registry.txt")))) {
    if (line.starts_with("#")) continue;
    const std::vector<std::string> cells = test::SplitTabs(line);
    if (cells[0] == "file") {
      EXPECT_EQ(std::stoi(cells[2]), GetLibType(cells[1])) << cells[1];
      ++files;
      continue;
    }
    const std::int32_t code = std::stoi(cells[0]);
    const std::string& name = cells[2];
    EXPECT_EQ(name, LibName(code)) << code;
    EXPECT_EQ(name.empty() ? "" : name.substr(0, name.size() - 3), RegLibName(code)) << code;
    const char* constant = LibTypeConstantName(code);
    EXPECT_EQ(cells[1], constant ? constant : "-") << code;
    EXPECT_EQ(cells[3] + " " + cells[4], IdxFieldName(code) + " " + NameFieldName(code)) << code;
    if (!name.empty() && name.find_first_of("*?[") == std::string::npos) {
      EXPECT_EQ(code, GetLibType(name)) << name;
    }
    ++codes;
  }
  EXPECT_EQ(108, codes);
  EXPECT_GT(files, 20);
}

}  // namespace
}  // namespace vez
