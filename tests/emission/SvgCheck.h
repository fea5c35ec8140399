// Parses an SVG document with expat and reports what the chart tests look at: whether it is well-formed XML,
// the root element, the number of bars (<rect class="bar">) and the character data of every <text> and <title>.
#pragma once

#include <expat.h>

#include <memory>
#include <string>
#include <vector>

namespace vez::test {

struct SvgSummary {
  bool wellFormed = false;
  std::string error, root;
  int bars = 0;
  std::vector<std::string> texts;
  int depth = 0;        // while parsing
  bool inText = false;  // while parsing
};

inline SvgSummary ParseSvg(const std::string& document) {
  SvgSummary s;
  std::unique_ptr<XML_ParserStruct, decltype(&XML_ParserFree)> parser(XML_ParserCreate("UTF-8"), XML_ParserFree);
  XML_SetUserData(parser.get(), &s);
  XML_SetElementHandler(
      parser.get(),
      [](void* data, const XML_Char* name, const XML_Char** attributes) {
        auto& s = *static_cast<SvgSummary*>(data);
        const std::string element = name;
        if (s.depth++ == 0) s.root = element;
        if (element == "text" || element == "title") s.inText = true, s.texts.emplace_back();
        for (int i = 0; element == "rect" && attributes[i] != nullptr; i += 2)
          s.bars += std::string(attributes[i]) == "class" && std::string(attributes[i + 1]) == "bar";
      },
      [](void* data, const XML_Char*) {
        auto& s = *static_cast<SvgSummary*>(data);
        --s.depth;
        s.inText = false;
      });
  XML_SetCharacterDataHandler(parser.get(), [](void* data, const XML_Char* text, int length) {
    auto& s = *static_cast<SvgSummary*>(data);
    if (s.inText) s.texts.back().append(text, static_cast<std::size_t>(length));
  });
  s.wellFormed = XML_Parse(parser.get(), document.data(), static_cast<int>(document.size()), 1) == XML_STATUS_OK;
  if (!s.wellFormed) s.error = XML_ErrorString(XML_GetErrorCode(parser.get()));
  return s;
}

}  // namespace vez::test
