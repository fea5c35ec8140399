// Parses an SVG document with expat and reports what the chart tests look at: whether it is well-formed XML,
// the root element, the number of bars (<rect class="bar">) and the character data of every <text> and <title>.
#pragma once

#include <expat.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace vez::test {

struct SvgSummary {
  bool wellFormed = false;
  std::string error;
  std::string root;
  int bars = 0;
  std::vector<std::string> texts;
};

inline SvgSummary ParseSvg(const std::string& document) {
  struct State {
    SvgSummary summary;
    int depth = 0;
    bool inText = false;
  } state;
  std::unique_ptr<XML_ParserStruct, decltype(&XML_ParserFree)> parser(XML_ParserCreate("UTF-8"), XML_ParserFree);
  XML_SetUserData(parser.get(), &state);
  XML_SetElementHandler(
      parser.get(),
      [](void* data, const XML_Char* name, const XML_Char** attributes) {
        auto& s = *static_cast<State*>(data);
        if (s.depth++ == 0) s.summary.root = name;
        if (std::strcmp(name, "text") == 0 || std::strcmp(name, "title") == 0) {
          s.inText = true;
          s.summary.texts.emplace_back();
        }
        if (std::strcmp(name, "rect") != 0) return;
        for (int i = 0; attributes[i] != nullptr; i += 2) {
          if (std::strcmp(attributes[i], "class") == 0 && std::strcmp(attributes[i + 1], "bar") == 0) ++s.summary.bars;
        }
      },
      [](void* data, const XML_Char*) {
        auto& s = *static_cast<State*>(data);
        --s.depth;
        s.inText = false;
      });
  XML_SetCharacterDataHandler(parser.get(), [](void* data, const XML_Char* text, int length) {
    auto& s = *static_cast<State*>(data);
    if (s.inText) s.summary.texts.back().append(text, static_cast<std::size_t>(length));
  });
  if (XML_Parse(parser.get(), document.data(), static_cast<int>(document.size()), 1) == XML_STATUS_OK) {
    state.summary.wellFormed = true;
  } else {
    state.summary.error = XML_ErrorString(XML_GetErrorCode(parser.get()));
  }
  return state.summary;
}

}  // namespace vez::test
