#include "import/Impcnst.h"

namespace vez {

namespace {
constexpr std::size_t kListed = 0
#define VEZ_IMPORT_TEXT(name, text) +1
#include "import/mapping/ImpcnstTexts.h"
#undef VEZ_IMPORT_TEXT
    ;
static_assert(kListed == kImportTextCount, "every wizard text has its entry");
}  // namespace

TImportTexts& ImportTexts() {
  static TImportTexts texts;
  return texts;
}

const std::array<TImportTextEntry, kImportTextCount>& ImportTextEntries() {
  static const std::array<TImportTextEntry, kImportTextCount> entries{{
#define VEZ_IMPORT_TEXT(name, text) {#name, &TImportTexts::name},
#include "import/mapping/ImpcnstTexts.h"
#undef VEZ_IMPORT_TEXT
  }};
  return entries;
}

}  // namespace vez
