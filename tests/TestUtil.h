// Helpers shared by the test suites.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

// Expects `statement` to throw `exception_type` whose what() equals `message` exactly.
#define EXPECT_THROW_MSG(statement, exception_type, message)                 \
  do {                                                                       \
    try {                                                                    \
      statement;                                                             \
      ADD_FAILURE() << "no exception thrown, expected: " << (message);       \
    } catch (const exception_type& e) {                                      \
      EXPECT_EQ(std::string(message), std::string(e.what()));                \
    } catch (const std::exception& e) {                                     \
      ADD_FAILURE() << "other exception thrown: " << e.what();               \
    }                                                                        \
  } while (0)

namespace vez::test {

// A fresh folder under the system's temporary folder, removed with its content at destruction.
class TempDir {
public:
  TempDir() {
    std::random_device rd;
    const auto base = std::filesystem::temp_directory_path();
    for (;;) {
      path_ = base / ("vez-test-" + std::to_string(rd()));
      if (std::filesystem::create_directory(path_)) break;
    }
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& Path() const { return path_; }
  std::string File(const std::string& name) const { return (path_ / name).string(); }

private:
  std::filesystem::path path_;
};

inline std::string DataPath(const std::string& relative) { return std::string(VEZ_TEST_DATA_DIR) + "/" + relative; }

// The bytes of a file; empty when it cannot be read.
inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

// The lines of a text, without their line ends ("\r" stays); no entry after a final line end.
inline std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The tab-separated cells of a line; a line without tabs is one cell, an empty line one empty cell.
inline std::vector<std::string> SplitTabs(const std::string& line) {
  std::vector<std::string> cells;
  for (std::size_t start = 0;;) {
    const std::size_t tab = line.find('\t', start);
    cells.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
    if (tab == std::string::npos) return cells;
    start = tab + 1;
  }
}

// The tab-separated rows of a file under tests/data, without the comment lines (starting with "#").
inline std::vector<std::vector<std::string>> DataRows(const std::string& relative) {
  std::vector<std::vector<std::string>> rows;
  for (const std::string& line : SplitLines(ReadFile(DataPath(relative))))
    if (!line.starts_with("#")) rows.push_back(SplitTabs(line));
  if (rows.empty()) ADD_FAILURE() << "no rows in " << relative;
  return rows;
}

}  // namespace vez::test
