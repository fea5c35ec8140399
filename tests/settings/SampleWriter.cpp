// Writes a project file, the per-user store and a program INI file through the settings routines into a folder,
// for a check by an independent INI reader (configparser_check.py).
#include <cstdlib>
#include <exception>
#include <iostream>
#include <string>

#include "core/FormatSettings.h"
#include "settings/IniConsts.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: settings_sample_writer FOLDER\n";
    return 2;
  }
  const std::string folder = argv[1];
  try {
    setenv("VEZ_SETTINGS_HOME", (folder + "/home").c_str(), 1);

    vez::TUsages usages;
    vez::ReadUsages(folder, usages);
    usages[0].Short = "GI-x";
    usages[1].Descr = "Gewerbe; Handel = Büro";
    usages[24].Descr = "  padded  ";
    vez::WriteUsages(folder, usages);
    vez::TTimeSlices slices;
    vez::ReadTimeSlices(folder, slices);
    slices[0].Ident = "6-22";
    slices[2].Ident = "22-24;0-6";
    vez::WriteTimeSlices(folder, slices);

    // The per-user store of Tessaphon 7.1.
    vez::InitializeIniConsts(folder + "/Tessaphon", {});
    vez::SetHelpFileName("manual.pdf");
    vez::SetSystemPathLang("ENG_US");
    vez::SetLibPathLang("DEU");
    {
      vez::DecimalSeparatorScope dot('.');
      auto store = vez::GetIniFile();
      store->WriteFloat("system", "ClipPlane3D", 0.125);
      store->WriteInteger("DC", "ClientSocket", 4711);
      store->WriteBool("DC", "Reconnect", true);
    }
    // The program's own INI file, chosen by the switch.
    vez::InitializeIniConsts(folder + "/TPEssential.exe", {"-INI=yes"});
    vez::SetHelpFileName("essential.pdf");
    std::cout << vez::GetIniFile()->FileName() << '\n';
  } catch (const std::exception& e) {
    std::cerr << "settings_sample_writer: " << e.what() << '\n';
    return 1;
  }
  return 0;
}
