// Impcnst: the captions, prompts and messages of the suite's data-import wizard, in one place.
//
// TImportTexts holds the 255 texts as members named like the wizard's variables (strMappingsNotDefined ...
// strWMIW_Other), in their declaration order, initialised with the English texts. ImportTexts() is the
// process-wide table every program shows; a program replaces single texts or the whole table at run time
// (ImportTexts() = translated;). The texts keep the platform's conventions: "&" marks the accelerator letter,
// "%s" and "%d" are format placeholders, group box captions have a blank on each side, file filters pair a
// description and a mask after "|".
//
// TImportDialogTexts, beside them, holds the control texts and messages of the column-mapping dialogs (the
// import dialog, the link dialog and the name question of EImport1, EImport2 and NameAlreadyExists), which
// take their texts from it; ImportDialogTexts() is its process-wide table. WriteImportTextsJson gives both
// tables to a front end that is no C++ program (a browser reads them as JSON).
//
// Like the other process-wide settings, the tables are plain unsynchronised state: change them before other
// threads read them. The cell model names new sheets with strSheetName.
#pragma once

#include <array>
#include <cstddef>
#include <ostream>
#include <string>
#include <vector>

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

struct TImportDialogTexts {
#define VEZ_DIALOG_TEXT(name, text) std::string name = text;
#include "import/mapping/ImportDialogTexts.h"
#undef VEZ_DIALOG_TEXT
};

// The process-wide table of the dialogs' texts (created with the English texts on first use).
TImportDialogTexts& ImportDialogTexts();

struct TImportDialogTextEntry {
  const char* Name;
  std::string TImportDialogTexts::*Text;
};
const std::vector<TImportDialogTextEntry>& ImportDialogTextEntries();

// {"dialogs": {name: text, ...}, "wizard": {name: text, ...}}: both tables as they are now, names in
// declaration order.
void WriteImportTextsJson(std::ostream& out);

}  // namespace vez
