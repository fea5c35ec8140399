#include <cmath>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "ParadoxTestUtil.h"
#include "TestUtil.h"
#include "core/Exceptions.h"
#include "import/paradox/ParadoxDump.h"
#include "import/paradox/Sha256.h"

namespace vez {
namespace {

using pxw::Writer;

// A small table with the awkward values of each output format, written to a temporary folder.
std::string WriteSample(const test::TempDir& dir) {
  Writer w({{"Id", 22, 4}, {"Name", 1, 12}, {"Wert", 6, 8}, {"Tag", 2, 4}, {"Ok", 9, 1}, {"Bin", 13, 12},
            {"Zeit", 20, 4}},
           {2, 12, 1252, 2, "ascii"});
  w.AddRecord({Writer::Long(1), Writer::Char("a,\"b\"", 12), Writer::Number(0.1), Writer::Long(693596 + 36524),
               Writer::Logical(true), w.Blob("\x01\x02", 12), Writer::Long(43200000)});
  w.AddRecord({Writer::Long(2), Writer::Char("\xc4rger", 12), Writer::Number(HUGE_VAL), Writer::Null(4),
               Writer::Logical(false), Writer::Null(12), Writer::Null(4)});
  const std::string path = dir.File("sample.db");
  w.Write(path);
  return path;
}

TEST(ParadoxDump, CsvAndJsonThatKeepsTextValidAlsoForRawBytes) {
  test::TempDir dir;
  const std::string path = WriteSample(dir);
  std::ostringstream csv, out;
  DumpParadoxTable(path, ParadoxDumpFormat::Csv, csv);
  EXPECT_EQ(csv.str(),
            "Id,Name,Wert,Tag,Ok,Bin,Zeit\n"
            "1,\"a,\"\"b\"\"\",0.1,2000-01-01,true,2:" + detail::Sha256Hex("\x01\x02") + ",12:00:00.000\n"
            "2,\xc3\x84rger,Infinity,,false,,\n");
  DumpParadoxTable(path, ParadoxDumpFormat::Json, out);
  const std::string json = out.str();
  EXPECT_NE(json.find("{\"file\":\"sample.db\",\"fields\":[{\"name\":\"Id\",\"type\":\"AutoInc\",\"size\":4}"),
            std::string::npos) << json;
  EXPECT_NE(json.find("{\"Id\":1,\"Name\":\"a,\\\"b\\\"\",\"Wert\":0.1,\"Tag\":\"2000-01-01\",\"Ok\":true,"
                      "\"Bin\":{\"length\":2,\"sha256\":\""), std::string::npos) << json;
  EXPECT_NE(json.find("\"Name\":\"\xc3\x84rger\",\"Wert\":null"), std::string::npos) << json;  // not a number
  EXPECT_NE(json.find("\"Zeit\":\"12:00:00.000\"}"), std::string::npos) << json;
  std::ostringstream raw;
  DumpParadoxTable(path, ParadoxDumpFormat::Json, raw, true);
  EXPECT_NE(raw.str().find("\"Name\":\"\\u00c4rger\""), std::string::npos) << raw.str();
  EXPECT_EQ(raw.str().back(), '\n');
}

TEST(ParadoxDump, Tokens) {
  EXPECT_EQ(QuoteParadoxBytes("a\"b\\c\t\xff~"), "\"a\\x22b\\\\c\\x09\\xff~\"");
  std::string tokens;
  for (const auto& [value, type] : {std::pair(Variant::Null(), 1), {Variant(-0.0), 6}, {Variant(0.1), 6},
                                    {Variant("90000-01-01"), 2}, {Variant("0001-01-01"), 21}, {Variant(""), 12},
                                    {Variant::FromDateTime(0.5), 20}})
    tokens += ParadoxCellToken(value, type) + " ";
  EXPECT_EQ("\\N f:-0 f:0.10000000000000001 date-text:+90000-01-01 date-text:0001-01-01 "
            "s:0:e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855 dt:1899-12-30T12:00:00.000 ",
            tokens);
  ParadoxDumpFormat f;
  EXPECT_TRUE(ParseParadoxDumpFormat("JSON", f));
  EXPECT_EQ(f, ParadoxDumpFormat::Json);
  EXPECT_FALSE(ParseParadoxDumpFormat("xml", f));
}

TEST(ParadoxDump, Sha256KnownValues) {
  EXPECT_EQ(detail::Sha256Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(detail::Sha256Hex(std::string(1000000, 'a')),
            "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
  EXPECT_EQ(detail::Sha256Hex(std::string(56, 'x')).size(), 64u);
}

TEST(ParadoxDump, DescribeShowsHeaderFieldsAndSortOrder) {
  const std::string text = DescribeParadoxTable(test::DataPath("paradox/paradoxdriver/bcd.db"));
  EXPECT_EQ(text,
            "File type: 2 (non-indexed .DB data file)\n"
            "Table level: 50\n"
            "Records: 3\n"
            "Block size: 2048\n"
            "Code page: 850\n"
            "Encrypted: no\n"
            "Fields: 3\n"
            "  1\tA\tBCD\t2\n"
            "  2\tB\tBCD\t0\n"
            "  3\tC\tBCD\t32\n"
            "Sort order: " + text.substr(text.rfind(": ") + 2));
  EXPECT_THROW(DescribeParadoxTable(test::DataPath("paradox/missing.db")), Exception);
}

// The rows of tests/data/import/paradox-kinds.txt: what the first bytes of a file make of it.
TEST(ParadoxDump, TheFirstBytesTellTablesFromOtherFiles) {
  test::TempDir dir;
  int rows = 0;
  for (const std::string& line : test::SplitLines(test::ReadFile(test::DataPath("import/paradox-kinds.txt")))) {
    if (line.starts_with("#")) continue;
    const auto c = test::SplitTabs(line);
    SCOPED_TRACE(line);
    std::string bytes(std::stoul(c[1]), '\0');
    bytes[0] = 1, bytes[2] = 88, bytes[4] = 2, bytes[5] = 1, bytes[0x39] = 12;
    std::istringstream set(c[3] == "-" ? "" : c[3]);
    for (std::string s; set >> s;) bytes[std::stoul(s, nullptr, 0)] = static_cast<char>(std::stoi(s.substr(s.find('=') + 1)));
    const std::string path = dir.File("t" + std::to_string(++rows) + c[2]);
    std::ofstream(path, std::ios::binary) << bytes;
    std::string what = "table";
    try {
      RequireParadoxTable(path);
    } catch (const Exception& e) {
      what = std::string(e.what()).substr(path.size() + 3);
    }
    EXPECT_TRUE(what.starts_with(c[4])) << what;
  }
  EXPECT_EQ(rows, 28);
}

}  // namespace
}  // namespace vez
