#include <gtest/gtest.h>

#include <filesystem>
#include <tuple>

#include "SettingsTestUtil.h"
#include "TestUtil.h"
#include "core/Exceptions.h"
#include "core/FormatSettings.h"
#include "settings/IniConsts.h"

namespace vez {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;

const char* const kProgram = "/opt/tp/Tessaphon.exe";

// The fields in the order of tests/data/settings/program-fields.txt, numbers as text.
std::vector<std::string> Fields(const TProgramSettings& s) {
  const auto n = [](double v) { return FloatToStr(v); };
  const auto& d = s.DC;
  return {s.GlobdataPath, s.SystemPathLang, s.LibPathLang, s.RunKernelDll, s.HelpFile, s.SharedGlobdataPath,
          s.GlobLibPath, n(s.HistEntries), n(s.DrivingRightSide), n(s.CheckUpdate), n(s.CheckPeriod),
          n(s.CheckConfrm), n(s.CheckedLast), s.ProxySettings, n(d.ClientSocket), n(d.Priority), n(d.Instances),
          n(d.Threads), n(d.SocketSrvSocket), d.DistribPath, d.PCListFileName, n(d.Reconnect), n(d.ReconnectTime),
          n(s.System.AltBmpPrintOut), n(s.System.MaxBmpPrintSize), n(s.System.ClipPlane3D), s.System.GraphicsPrinter,
          s.System.DefaulFontname};
}

// Every test runs with its own per-user store root and without proxy variables.
class ProgramSettingsFile : public ::testing::Test {
protected:
  void SetUp() override {
    env_.Set("VEZ_SETTINGS_HOME", root_.Path().string());
    env_.Set("http_proxy", std::nullopt);
    env_.Set("HTTP_PROXY", std::nullopt);
    InitializeIniConsts(kProgram, {});
    ASSERT_EQ(Fields(TProgramSettings()).size(), fields_.size());
  }
  void TearDown() override { InitializeIniConsts(kProgram, {}); }

  std::string StoreFile() const { return (root_.Path() / "Orvelle" / "Tessaphon 7.1.ini").string(); }
  // The settings read from the per-user store with the given content.
  TProgramSettings Read(const std::string& store) const {
    fs::create_directories(root_.Path() / "Orvelle");
    WriteFile(StoreFile(), store);
    TProgramSettings S;
    ReadProgramSettings(S);
    return S;
  }
  // A store file holding the value in the given column of the field table for every key.
  std::string ColumnStore(std::size_t column) const {
    TIniFile ini(root_.File("column" + std::to_string(column) + ".ini"));
    for (const auto& f : fields_) ini.WriteString(f[0], f[1], f[column]);
    return ini.FileName();
  }

  TempDir root_;
  test::EnvOverride env_;
  // Section, key, a value to store, the default, a value held before a failing read: one row per field.
  const std::vector<std::vector<std::string>> fields_ = test::DataRows("settings/program-fields.txt");
};

TEST_F(ProgramSettingsFile, IdentityFollowsTheProgramName) {
  for (const auto& c : test::DataRows("settings/program-identity.txt")) {
    InitializeIniConsts(c[0], {});
    SCOPED_TRACE(c[0]);
    EXPECT_EQ(std::tuple(std::stoi(c[1]), c[2], c[2], c[3], std::stoi(c[4]), std::lround(std::stod(VersionKey()) * 10)),
              std::tuple(int(Product()), ProductName() + " " + VersionKey(), std::string(TessaphonWindowName()),
                         MainProgName(), CurrentPrjVersion(), VersionNr()));
    EXPECT_EQ("Software\\Orvelle\\" + c[2] + "\\Chambrix", TPChambrixIniFileName());
    EXPECT_EQ(TPChambrixIniFileName(), IniFilePath() + "Chambrix");
    if (c.size() > 5) { EXPECT_EQ(c.at(9), GetProgCaption(c[5], c[6], c[7], c[8])); }
  }
}

TEST_F(ProgramSettingsFile, DefaultsDerivedFoldersAndValuesAsRead) {
  TProgramSettings S;
  ReadProgramSettings(S, TIniFile(ColumnStore(2)));  // every field away from its default
  ReadProgramSettings(S);  // nothing stored: every field takes its default
  EXPECT_FALSE(fs::exists(StoreFile()));  // reading creates nothing
  EXPECT_EQ("/opt/tp/System/|/opt/tp/System/Libs/", S.BaseLangSystemPath + "|" + S.LangLibPath);
  for (std::size_t i = 0; i < fields_.size(); ++i)
    EXPECT_TRUE(fields_[i][3] == "*" || fields_[i][3] == Fields(S)[i]) << fields_[i][1] << ": " << Fields(S)[i];

  // The folders derived from the global data folder and the languages: tests/data/settings/folders.txt.
  for (const auto& c : test::DataRows("settings/folders.txt")) {
    if (c[0] == "globdata") {
      S = Read("[program]\nGlobdataPath=" + c[1] + "\n");
      EXPECT_EQ(c[1] + "|" + c[1] + "libs/|" + c[2] + "distrib/|" + c[2] + "PCList.vrl",
                S.SharedGlobdataPath + "|" + S.GlobLibPath + "|" + S.DC.DistribPath + "|" + S.DC.PCListFileName);
    } else {
      S = Read("[program]\nSystemPathLang=" + c[1] + "\nLIBPATHLANG=" + c[2] + "\n");
      EXPECT_EQ(c[3], S.LangSystemPath + " " + S.BaseLangSystemPath + " " + S.LangLibPath + " " + S.BaseLangLibPath);
    }
  }
  // Booleans hold the low byte; ClipPlane3D reads with a dot.
  DecimalSeparatorScope comma(',');
  S = Read("[program]\nDrivingRightSide=256\nCheckConfrm=3\n[DC]\nReconnect=257\n[system]\nClipPlane3D=0.5\n");
  EXPECT_TRUE(!S.DrivingRightSide && S.CheckConfrm && S.DC.Reconnect);
  // Read with a dot whatever the separator, which is then restored.
  EXPECT_EQ(std::pair(0.5, ','), std::pair(S.System.ClipPlane3D, GlobalFormatSettings().DecimalSeparator));
  for (const char* text : {"abc", "0,5"})
    EXPECT_DOUBLE_EQ(0.01, Read(std::string("[system]\nClipPlane3D=") + text + "\n").System.ClipPlane3D) << text;
  // A store that cannot be read: every field keeps its value or fallback, the separator is restored.
  fs::remove(StoreFile());
  fs::create_directories(StoreFile());
  S.GlobdataPath = "kept";
  S.HistEntries = 12;
  ReadProgramSettings(S);
  EXPECT_EQ(std::tuple("kept", 5, ','),
            std::tuple(S.GlobdataPath, S.HistEntries, GlobalFormatSettings().DecimalSeparator));
}

// An INI file whose reads of one key fail.
struct FailingStore : TIniFile {
  FailingStore(const std::string& file, std::string key) : TIniFile(file), failingKey(std::move(key)) {}
  std::string ReadString(std::string_view section, std::string_view key, std::string_view def) const override {
    if (SameText(key, failingKey)) throw EInOutError("read failed");
    return TIniFile::ReadString(section, key, def);
  }
  std::string failingKey;
};

// Each key is read on its own: when one read fails, that field keeps its value (or its fallback, here the same)
// and every other field is still read.
TEST_F(ProgramSettingsFile, EveryReadIsGuardedOnItsOwn) {
  TProgramSettings before;  // the values of the fifth column (HistEntries and ClipPlane3D: their fallbacks)
  ReadProgramSettings(before, TIniFile(ColumnStore(4)));
  const std::string file = ColumnStore(2);
  DecimalSeparatorScope dot('.');
  for (std::size_t failing = 0; failing <= fields_.size(); ++failing) {
    const FailingStore store(file, failing < fields_.size() ? fields_[failing][1] : "no such key");
    TProgramSettings S = before;
    ReadProgramSettings(S, store);
    for (std::size_t i = 0; i < fields_.size(); ++i)
      EXPECT_EQ(fields_[i][i == failing ? 4 : 2], Fields(S)[i]) << fields_[i][1] << " with " << failing << " failing";
  }
  EXPECT_EQ("help.chm", ApplicationHelpFile());
}

TEST_F(ProgramSettingsFile, IniSwitchSelectsTheFileNextToTheProgram) {
  const std::pair<std::vector<std::string>, bool> cases[] = {
      {{"-INI=x"}, true}, {{"a", "/ini="}, true}, {{"/INI"}, false}, {{"INI=x"}, false}, {{"--INI=x"}, false}};
  for (const auto& [args, ini] : cases) EXPECT_EQ(ini, HasIniSwitch(args)) << args.back();

  TempDir dir;
  const std::string program = dir.File("TPEssential.exe");
  WriteFile(dir.File("TPEssential.ini"), "[program]\nHistEntries=11\n");
  InitializeIniConsts(program, {"/INI="});
  EXPECT_EQ(std::pair(dir.File("TPEssential.ini"), 11),
            std::pair(GetIniFile()->FileName(), ProgramSettings().HistEntries));
  InitializeIniConsts(program, {});
  EXPECT_EQ(std::pair((root_.Path() / "Orvelle" / "Tessaphon Essential 2.0.ini").string(), 5),
            std::pair(GetIniFile()->FileName(), ProgramSettings().HistEntries));
}

TEST_F(ProgramSettingsFile, SettersWriteAndReread) {
  SetHelpFileName("manual.pdf");
  SetSystemPathLang("ENG_GB");
  SetLibPathLang("DEU");
  EXPECT_EQ("manual.pdf|manual.pdf", ProgramSettings().HelpFile + "|" + ApplicationHelpFile());
  EXPECT_EQ("/opt/tp/ENG/System/", ProgramSettings().BaseLangSystemPath);
  EXPECT_EQ("/opt/tp/DEU/System/Libs/", ProgramSettings().LangLibPath);
  EXPECT_EQ("[program]\nHelpFile=manual.pdf\nSystemPathLang=ENG_GB\nLIBPATHLANG=DEU\n", ReadFile(StoreFile()));
  // A store that cannot be written: the setters complete, the value set in memory stays until the re-read.
  fs::remove(StoreFile());
  fs::create_directories(StoreFile());
  SetHelpFileName("other.pdf");
  EXPECT_EQ("other.pdf", ApplicationHelpFile());
  SetSystemPathLang("ITA");
  SetLibPathLang("FRA");
  EXPECT_EQ("ITA|DEU", ProgramSettings().SystemPathLang + "|" + ProgramSettings().LibPathLang);
  EXPECT_TRUE(fs::is_directory(StoreFile()));
}

// The cases of tests/data/settings/proxy.txt: how a setting splits, then the system proxy.
TEST_F(ProgramSettingsFile, ProxySettings) {
  fs::create_directories(root_.Path() / "Microsoft" / "Windows");
  for (auto c : test::DataRows("settings/proxy.txt")) {
    SCOPED_TRACE(c[0] + " " + c[1]);
    for (std::size_t at; (at = c[1].find("\\n")) != std::string::npos;) c[1].replace(at, 2, "\n");
    if (c[0] == "env") env_.Set(c[1], c[2] == "-" ? std::nullopt : std::optional<std::string>(c[2]));
    if (c[0] == "key")
      WriteFile((root_.Path() / "Microsoft/Windows/CurrentVersion.ini").string(), "[Internet settings]\n" + c[1]);
    TProxyUse use = TProxyUse::puOwn;
    std::string host = "x", port, f4, f5;
    std::int32_t number = -1;
    if (c[0] == "split") {
      GetProxySettings(c[1], use, host, port, f4, f5);
      EXPECT_EQ(c[2], std::to_string(int(use)) + "|" + host + "|" + port + "|" + f4 + "|" + f5);
    } else if (c[0] == "env" || c[0] == "key") {
      const bool enabled = GetWindowsProxySettings(host, number);
      EXPECT_EQ(c.back(), std::to_string(enabled) + " " + host + ":" + std::to_string(number));
    }
  }
  std::string s;
  SetProxySettings(s, TProxyUse::puOwn, "h", "3128", "u", "p");
  EXPECT_EQ("2;h;3128;u;p", s);
  // Filled from the system when the store has none, and not written back.
  EXPECT_EQ("0;;;;", Read("").ProxySettings);
  fs::remove(root_.Path() / "Microsoft/Windows/CurrentVersion.ini");
  EXPECT_EQ((std::pair<std::string, std::string>("1;upper;2;;", "")),
            (std::pair{Read("").ProxySettings, ReadFile(StoreFile())}));
  EXPECT_EQ("2;own;1;;", Read("[program]\nProxySettings=2;own;1;;\n").ProxySettings);
}

TEST_F(ProgramSettingsFile, SpecialFoldersMapToXdgFolders) {
  const std::string config = root_.File("conf");
  fs::create_directories(config);
  env_.Set("XDG_CONFIG_HOME", config);
  env_.Set("XDG_DATA_HOME", "/home/u/data/");
  env_.Set("XDG_DATA_DIRS", "relative:/usr/share/:/opt/share");
  env_.Set("HOME", "/");
  EXPECT_EQ("/", GetSpecialFolder(0, CSIDL_PERSONAL));  // no user-dirs file
  env_.Set("HOME", "/home/u");
  EXPECT_EQ("/home/u", GetSpecialFolder(0, CSIDL_PERSONAL));
  WriteFile(config + "/user-dirs.dirs",
            "# generated\nXDG_DESKTOP_DIR=\"$HOME/Desk\"\nXDG_DOCUMENTS_DIR=\"$HOME/Doks\"\n");
  const std::pair<std::int32_t, std::string> set[] = {{CSIDL_PERSONAL, "/home/u/Doks"}, {CSIDL_APPDATA, config},
                                                      {CSIDL_LOCAL_APPDATA, "/home/u/data"},
                                                      {CSIDL_COMMON_APPDATA, "/usr/share"}, {0x0027, ""}};
  for (const auto& [folder, expected] : set) EXPECT_EQ(expected, GetSpecialFolder(0, folder)) << folder;
  for (const char* name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_DATA_DIRS"}) env_.Set(name, std::nullopt);
  EXPECT_EQ("/home/u/.config|/home/u/.local/share|/usr/local/share",
            GetSpecialFolder(0, CSIDL_APPDATA) + "|" + GetSpecialFolder(0, CSIDL_LOCAL_APPDATA) + "|" +
                GetSpecialFolder(0, CSIDL_COMMON_APPDATA));
}

}  // namespace
}  // namespace vez
