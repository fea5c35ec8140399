// The pages of the web application, compiled into the program from src/web/static (EmbedAssets.cmake).
#pragma once

#include <span>
#include <string_view>

namespace vez::web {

struct TAsset {
  std::string_view Path;  // "/index.html", "/js/app.js", ...
  std::string_view Data;
};

std::span<const TAsset> Assets();

}  // namespace vez::web
