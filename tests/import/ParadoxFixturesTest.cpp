// Every cell of every reference table, compared with the independent readings next to the tables.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "TestUtil.h"
#include "core/Exceptions.h"
#include "import/paradox/ParadoxDump.h"
#include "import/SMParadox.h"

namespace vez {
namespace {

using test::SplitLines;
using test::SplitTabs;

std::string DumpCells(const std::string& db) {
  std::ostringstream out;
  DumpParadoxTable(test::DataPath("paradox/" + db), ParadoxDumpFormat::Cells, out, true);
  return out.str();
}

// Every table with a cell file next to it (but the encrypted one, refused without its hooks below): the reading of
// the table as it stands.
std::vector<std::string> Tables() {
  std::vector<std::string> tables;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(test::DataPath("paradox"))) {
    std::string table = std::filesystem::relative(entry.path(), test::DataPath("paradox")).string();
    if (!table.ends_with(".cells.txt") || table.ends_with("encrypted.db.cells.txt")) continue;
    table.resize(table.size() - 10);
    tables.push_back(std::filesystem::exists(test::DataPath("paradox/" + table)) ? table : table + ".db");
  }
  std::sort(tables.begin(), tables.end());
  return tables;
}

// The cell file of a table: NAME.db.cells.txt or, for the generated tables, NAME.cells.txt.
std::string CellFile(const std::string& table) {
  const std::string next = test::DataPath("paradox/" + table + ".cells.txt");
  const std::string generated = test::DataPath("paradox/" + table.substr(0, table.size() - 3) + ".cells.txt");
  return std::filesystem::exists(next) ? next : generated;
}

// Cells where the reference reading and the reader's definition differ; the definition holds.
// - Bytes fields never report a cell; the reference gives Null for all-zero bytes.
// - Negative stored day numbers are decoded as the inverted 32-bit value without the LongInt correction, so
//   -1, -129 and -32769 become dates millions of years back (reported as date text), not -1 or Null.
// - A date before 0001-01-01 with a time of day: the date part is truncated toward zero (0001-01-01), the
//   reference floors it (0000-12-31).
struct Disagreement {
  int Row;
  int Column;
  const char* Token;
};
constexpr Disagreement kAllTypesDisagreements[] = {
    {6, 2, "date-text:-5879610-06-22"},
    {7, 2, "date-text:-5879610-10-28"},
    {8, 2, "date-text:-5879520-03-09"},
    {6, 14, "date-text:0001-01-01"},
};

std::vector<std::string> ApplyDisagreements(const std::string& table, std::vector<std::string> lines) {
  std::vector<int> bytesColumns;
  for (auto& line : lines) {
    auto p = SplitTabs(line);
    if (p[0] == "F" && p.size() >= 4 && p[3] == "24") bytesColumns.push_back(std::stoi(p[1]));
    if (p[0] != "C") continue;
    const int row = std::stoi(p[1]);
    for (int c : bytesColumns)
      if (p[static_cast<std::size_t>(c) + 2] == "\\N") p[static_cast<std::size_t>(c) + 2] = "-";
    if (table.rfind("generated/alltypes", 0) == 0)
      for (const auto& d : kAllTypesDisagreements)
        if (d.Row == row) p[static_cast<std::size_t>(d.Column) + 2] = d.Token;
    line = p[0];
    for (std::size_t i = 1; i < p.size(); ++i) line += "\t" + p[i];
  }
  return lines;
}

class ParadoxFixtures : public testing::TestWithParam<std::string> {};

TEST_P(ParadoxFixtures, EveryCellMatchesTheReference) {
  const auto expected = SplitLines(test::ReadFile(CellFile(GetParam())));
  ASSERT_GT(expected.size(), 14u) << GetParam();
  EXPECT_EQ(ApplyDisagreements(GetParam(), expected), SplitLines(DumpCells(GetParam())));
}

INSTANTIATE_TEST_SUITE_P(All, ParadoxFixtures, testing::ValuesIn(Tables()), [](const auto& info) {
  std::string name = info.param;
  for (char& c : name)
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  return name;
});

TEST(ParadoxFixtures, EncryptedTableWithoutHooksIsRefused) {
  const std::string path = test::DataPath("paradox/paradoxdriver/encrypted.db");
  std::ostringstream out;
  EXPECT_THROW_MSG(DumpParadoxTable(path, ParadoxDumpFormat::Cells, out, true), Exception,
                   path + ": This file is encrypted but valid password is not specified. No password was given.");
  // Its header and fields are still read before the refusal.
  TDBParadox reader;
  reader.StepLoading = false;
  EXPECT_THROW(reader.LoadFromFile(path), Exception);
  ASSERT_EQ(reader.Fields().size(), 2u);
  EXPECT_EQ(std::tuple("Text", true, 0x0A25E09Au), std::tuple(reader.Fields()[1].Name, reader.IsEncrypted(),
                                                             static_cast<std::uint32_t>(reader.GetEncryptionCheckSum())));
}

// A real encrypted table (checksum behind 0xFF00FF00, zeros at 0x40 and 0x44): with its password it reads as its
// plain twin; a wrong or missing password is an error naming the table.
TEST(ParadoxFixtures, EncryptedTableReadsWithItsPassword) {
  const std::string path = test::DataPath("paradox/generated/multiblock_enc.db");
  ParadoxReadOptions options;
  options.RawText = true;
  options.Password = "vez-secret";
  std::ostringstream out;
  ParadoxReadResult result;
  DumpParadoxTable(path, ParadoxDumpFormat::Cells, out, options, &result);
  EXPECT_EQ(SplitLines(test::ReadFile(test::DataPath("paradox/generated/multiblock.cells.txt"))), SplitLines(out.str()));
  EXPECT_EQ(result.RecordsRead, 1000);
  EXPECT_FALSE(result.RecordsMissing);
  const std::pair<const char*, const char*> refused[] = {{"", "No password was given."},
                                                         {"vez-secret ", "The password given is wrong."}};
  for (const auto& [password, reason] : refused) {
    options.Password = password;
    EXPECT_THROW_MSG(DumpParadoxTable(path, ParadoxDumpFormat::Cells, out, options), Exception,
                     path + ": This file is encrypted but valid password is not specified. " + reason);
  }
}

// The emptied block has no cell file: its values are the written ones of the dump (Id AutoInc, Code Char,
// Wert Number, Klasse ShortInt), which the reader must give back without the deleted data of the empty block.
TEST(ParadoxFixtures, EmptiedBlockInTheChainIsSkipped) {
  const auto dump = SplitLines(test::ReadFile(test::DataPath("paradox/generated/emptyblock.pxlib-dump.txt")));
  std::vector<std::string> expected;
  for (const auto& line : dump) {
    if (line.rfind("R\t", 0) != 0) continue;
    const auto p = SplitTabs(line);
    ASSERT_EQ(p.size(), 6u) << line;
    auto num = [](const std::string& v, const char* prefix) { return v == "\\N" ? v : prefix + v; };
    expected.push_back("C\t" + p[1] + "\t" + num(p[2], "i:") + "\t" + (p[3] == "\\N" ? "s:\"\"" : "s:" + p[3]) +
                       "\t" + num(p[4], "f:") + "\t" + num(p[5], "i:"));
  }
  ASSERT_EQ(expected.size(), 218u);
  std::vector<std::string> actual;
  for (const auto& line : SplitLines(DumpCells("generated/emptyblock.db")))
    if (line.rfind("C\t", 0) == 0) actual.push_back(line);
  EXPECT_EQ(expected, actual);
}

}  // namespace
}  // namespace vez
