#include "ExpectedLayouts.h"

#include <fstream>
#include <sstream>
#include <stdexcept>

#include "TestUtil.h"

namespace vez::test {
namespace {

ExpectedIndex ParseIndex(const std::vector<std::string>& cells, const std::string& line) {
  if (cells.size() != 4) throw std::runtime_error("bad index line: " + line);
  ExpectedIndex index;
  index.name = cells[1];
  index.fields = cells[2];
  std::istringstream options(cells[3]);
  std::string option;
  while (std::getline(options, option, ',')) {
    if (option == "primary") index.primary = true;
    else if (option == "unique") index.unique = true;
    else if (option == "case-insensitive") index.caseInsensitive = true;
    else if (option != "none") throw std::runtime_error("bad index option: " + line);
  }
  return index;
}

void LoadDefaults(std::map<std::int32_t, std::vector<ExpectedDefault>>& defaults) {
  const std::string path = DataPath("layouts/expected_defaults.txt");
  std::ifstream in(path);
  if (!in) throw std::runtime_error("cannot open " + path);
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    const auto cells = SplitTabs(line);
    auto& list = defaults[std::stoi(cells[0])];
    if (cells.size() == 2 && cells[1] == "none") continue;
    if (cells.size() != 3 && cells.size() != 4) throw std::runtime_error("bad defaults line: " + line);
    std::string value = cells.size() == 4 ? cells[3] : "";
    if (cells[2] == "text") {
      if (value.size() < 2 || value.front() != '"' || value.back() != '"') throw std::runtime_error("bad text: " + line);
      value = value.substr(1, value.size() - 2);
    }
    list.push_back({cells[1], cells[2], value});
  }
}

ExpectedLayouts Load() {
  const std::string path = DataPath("layouts/expected_layouts.txt");
  std::ifstream in(path);
  if (!in) throw std::runtime_error("cannot open " + path);
  ExpectedLayouts result;
  LoadDefaults(result.defaults);
  ExpectedLayout* layout = nullptr;
  std::vector<ExpectedIndex>* indexes = nullptr;
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    const auto cells = SplitTabs(line);
    const std::string& tag = cells[0];
    if (tag == "layout" && cells.size() == 3) {
      layout = &result.layouts[std::stoi(cells[1])];
      layout->family = cells[2];
      indexes = &layout->indexes;
    } else if (tag == "indexonly" && cells.size() == 2) {
      layout = nullptr;
      indexes = &result.indexOnly[std::stoi(cells[1])];
    } else if (tag == "field" && cells.size() == 6 && layout != nullptr) {
      ExpectedField field;
      field.name = cells[1];
      field.type = cells[2];
      field.size = std::stoi(cells[3]);
      field.required = cells[4] == "1";
      const auto slash = cells[5].find('/');
      if (slash == std::string::npos) throw std::runtime_error("bad compression: " + line);
      field.compressionAlgorithm = std::stoi(cells[5].substr(0, slash));
      field.compressionLevel = std::stoi(cells[5].substr(slash + 1));
      layout->fields.push_back(field);
    } else if (tag == "index" && indexes != nullptr) {
      indexes->push_back(ParseIndex(cells, line));
    } else if (tag == "end") {
      layout = nullptr;
      indexes = nullptr;
    } else {
      throw std::runtime_error("unexpected line: " + line);
    }
  }
  return result;
}

}  // namespace

const ExpectedLayouts& LoadExpectedLayouts() {
  static const ExpectedLayouts expected = Load();
  return expected;
}

}  // namespace vez::test
