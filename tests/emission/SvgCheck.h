// Parses an SVG document with expat and reports what the chart tests look at: whether it is well-formed XML,
// the root element, the bars (<rect class="bar">: position, width, tooltip), the character data of every <text>
// and <title>, and the labelled texts (<text class=...>) with their x position.
#pragma once

#include <expat.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace vez::test {

struct SvgBar {
  double x = 0, width = 0;
  std::string title;  // "<Hz> Hz: <value>"
};

struct SvgLabel {
  std::string cls, text;
  double x = 0;
};

struct SvgSummary {
  bool wellFormed = false;
  std::string error, root;
  std::vector<SvgBar> bars;
  std::vector<std::string> texts;
  std::vector<SvgLabel> labels;
  // While parsing: the depth, and where character data goes.
  int depth = 0;
  std::string* into = nullptr;
  bool inBar = false, inLabel = false;

  std::vector<SvgLabel> Labels(const std::string& cls) const {
    std::vector<SvgLabel> out;
    for (const SvgLabel& l : labels)
      if (l.cls == cls) out.push_back(l);
    return out;
  }
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
        std::string cls;
        double x = 0, width = 0;
        for (int i = 0; attributes[i] != nullptr; i += 2) {
          const std::string key = attributes[i];
          if (key == "class") cls = attributes[i + 1];
          if (key == "x") x = std::atof(attributes[i + 1]);
          if (key == "width") width = std::atof(attributes[i + 1]);
        }
        if (element == "rect" && cls == "bar") s.bars.push_back({x, width, {}}), s.inBar = true;
        if (element == "title" && s.inBar) {
          s.into = &s.bars.back().title;  // the tooltip of a bar
        } else if (element == "text" || element == "title") {
          s.texts.emplace_back();
          s.into = &s.texts.back();
          s.inLabel = element == "text" && !cls.empty();
          if (s.inLabel) s.labels.push_back({cls, {}, x});
        }
      },
      [](void* data, const XML_Char* name) {
        auto& s = *static_cast<SvgSummary*>(data);
        --s.depth;
        const std::string element = name;
        if (element == "text" && s.inLabel) s.labels.back().text = s.texts.back();
        if (element == "text") s.inLabel = false;
        if (element == "rect") s.inBar = false;
        s.into = nullptr;
      });
  XML_SetCharacterDataHandler(parser.get(), [](void* data, const XML_Char* text, int length) {
    auto& s = *static_cast<SvgSummary*>(data);
    if (s.into) s.into->append(text, static_cast<std::size_t>(length));
  });
  s.wellFormed = XML_Parse(parser.get(), document.data(), static_cast<int>(document.size()), 1) == XML_STATUS_OK;
  if (!s.wellFormed) s.error = XML_ErrorString(XML_GetErrorCode(parser.get()));
  return s;
}

}  // namespace vez::test
