// Impcnst: the captions, prompts and messages of the suite's data-import wizard, in one place.
//
// TImportTexts holds the 255 texts as members named like the wizard's variables (strMappingsNotDefined ...
// strWMIW_Other), in their declaration order, initialised with the English texts. ImportTexts() is the
// process-wide table every program shows; a program replaces single texts or the whole table at run time
// (ImportTexts() = translated;). The texts keep the platform's conventions: "&" marks the accelerator letter,
// "%s" and "%d" are format placeholders, group box captions have a blank on each side, file filters pair a
// description and a mask after "|".
//
// Like the other process-wide settings, the table is plain unsynchronised state: change it before other
// threads read it. The cell model names new sheets with strSheetName.
#pragma once

#include <array>
#include <cstddef>
#include <string>

namespace vez {

struct TImportTexts {
#define VEZ_IMPORT_TEXT(name, text) std::string name = text;
#include "import/mapping/ImpcnstTexts.h"
#undef VEZ_IMPORT_TEXT
};

inline constexpr std::size_t kImportTextCount = 255;

// The process-wide table (created with the English texts on first use).
TImportTexts& ImportTexts();

// The variables by name, in declaration order, for programs that load translations by name.
struct TImportTextEntry {
  const char* Name;
  std::string TImportTexts::*Text;
};
const std::array<TImportTextEntry, kImportTextCount>& ImportTextEntries();

}  // namespace vez
