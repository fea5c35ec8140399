// vezi add and edit: one record of a library from the command line, under the record rules every front end
// shares (librarydb/RecordRules.h).
//
// add   LIBRARY FIELD=VALUE...      a new record: the type's defaults, then the values; prints its number
// edit  LIBRARY NR FIELD=VALUE...   changes fields of the record numbered NR ("Eintrag")
//
// Values are texts as a person types them; an empty value stores "no value". Exit codes: 0 stored, 1 refused
// (the rules' message names the field; nothing is stored), 2 bad arguments.
#include <iostream>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "Commands.h"
#include "Conventions.h"
#include "core/Exceptions.h"
#include "core/FormatSettings.h"
#include "librarydb/LibraryFile.h"
#include "librarydb/RecordRules.h"

namespace vezi {

namespace {

struct RecordOptions {
  std::string library;
  std::int64_t number = 0;
  std::vector<std::string> values;
  bool truncate = false;
};

std::vector<std::pair<std::string, std::string>> Assignments(const std::vector<std::string>& texts) {
  std::vector<std::pair<std::string, std::string>> out;
  for (const std::string& text : texts) {
    const auto eq = text.find('=');
    if (eq == std::string::npos || vez::Trim(text.substr(0, eq)).empty())
      throw UsageError("\"" + text + "\" is not FIELD=VALUE");
    out.emplace_back(vez::Trim(text.substr(0, eq)), text.substr(eq + 1));
  }
  return out;
}

// Sets the values and posts; the record's number, or its position from 1 in a library without numbers.
std::string Store(vez::TLibraryFile& lib, vez::TRecordWriter& writer, const RecordOptions& o,
                  const std::vector<std::pair<std::string, std::string>>& values, double now) {
  try {
    for (const auto& [field, text] : values) writer.SetText(writer.FieldIndex(field), text, o.truncate);
  } catch (...) {
    writer.Cancel();
    throw;
  }
  writer.Post(now);
  if (writer.Number()) return std::to_string(*writer.Number());
  return "at position " + std::to_string(lib.Table().RecordCount());
}

}  // namespace

void RegisterRecordCommands(CLI::App& app) {
  // The options of both commands: NR goes between LIBRARY and the values when `numbered`.
  const auto add = [&app](const char* name, const char* description, bool numbered) {
    auto o = std::make_shared<RecordOptions>();
    auto* cmd = app.add_subcommand(name, description);
    cmd->add_option("LIBRARY", o->library, "The library file")->required();
    if (numbered) cmd->add_option("NR", o->number, "The record's number (\"Eintrag\", as vezi dump shows it)")->required();
    cmd->add_option("VALUES", o->values,
                    "Field values FIELD=VALUE, as a person writes them (numbers with '.', True/False, dates as "
                    "2024-05-31 14:30); FIELD= stores no value")
        ->required();
    cmd->add_flag("--truncate", o->truncate, "Cut texts longer than their field instead of refusing them");
    cmd->footer(
        "The record rules of every front end apply: a name must not be empty nor hold control characters, the\n"
        "bands of an element library give Terz, Lower, Upper and Komplett unless they are given, and\n"
        "LastChangeDateTime is the time of the change unless it is given. A refused value or record stores\n"
        "nothing; the message names the field.\n");
    return std::pair(cmd, o);
  };
  {
    auto [cmd, o] = add("add", "Add a record to a library: the type's defaults, then the values given", false);
    cmd->callback([o] {
      const auto values = Assignments(o->values);
      vez::TLibraryFile lib(o->library, true);
      vez::TRecordWriter writer(lib.Table(), lib.LibType());
      const double now = vez::Now();
      writer.Append(now);
      const std::string number = Store(lib, writer, *o, values, now);
      std::cout << "Added record " << number << " to " << vez::ExtractFileName(lib.Path()) << '\n';
      SetExitCode(kExitOk);
    });
  }
  {
    auto [cmd, o] = add("edit", "Change fields of a library record", true);
    cmd->callback([o] {
      const auto values = Assignments(o->values);
      vez::TLibraryFile lib(o->library, true);
      if (!lib.GotoNumber(o->number))
        throw vez::Exception("'" + o->library + "' has no record " + std::to_string(o->number));
      vez::TRecordWriter writer(lib.Table(), lib.LibType());
      writer.Edit();
      const std::string number = Store(lib, writer, *o, values, vez::Now());
      std::cout << "Changed record " << number << " of " << vez::ExtractFileName(lib.Path()) << '\n';
      SetExitCode(kExitOk);
    });
  }
}

}  // namespace vezi
