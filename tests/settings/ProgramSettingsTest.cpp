#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
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

// Every test runs with its own per-user store root and without proxy variables.
class ProgramSettingsFile : public ::testing::Test {
protected:
  void SetUp() override {
    env_.Set("VEZ_SETTINGS_HOME", root_.Path().string());
    env_.Set("http_proxy", std::nullopt);
    env_.Set("HTTP_PROXY", std::nullopt);
    InitializeIniConsts(kProgram, {});
  }
  void TearDown() override { InitializeIniConsts(kProgram, {}); }

  std::string StoreFile() const { return (root_.Path() / "Orvelle" / "Tessaphon 7.1.ini").string(); }
  void WriteStore(const std::string& content) const {
    fs::create_directories(root_.Path() / "Orvelle");
    WriteFile(StoreFile(), content);
  }
  TProgramSettings Read(const std::string& store) const {
    WriteStore(store);
    TProgramSettings S;
    ReadProgramSettings(S);
    return S;
  }

  TempDir root_;
  test::EnvOverride env_;
};

TEST_F(ProgramSettingsFile, IdentityFollowsTheProgramName) {
  const std::tuple<const char*, TProduct, const char*, const char*, std::int32_t> cases[] = {
      {"/opt/tp/tpessential", TProduct::proTPessential, "Tessaphon Essential 2.0", "TPEssential.exe", 20071},
      {"/srv/TPLSERVER.EXE", TProduct::proServer, "TPLServer 1.0", "TPLServer.exe", 70},
      {"/usr/bin/vezi", TProduct::proTessaphon, "Tessaphon 7.1", "Tessaphon.exe", 70},
      {"/opt/TPEssential.exe/other", TProduct::proTessaphon, "Tessaphon 7.1", "Tessaphon.exe", 70},
      {"/opt/tp/TPEssential.exe.bak", TProduct::proTessaphon, "Tessaphon 7.1", "Tessaphon.exe", 70},
  };
  for (const auto& [program, product, window, mainProg, prjVersion] : cases) {
    InitializeIniConsts(program, {});
    SCOPED_TRACE(program);
    EXPECT_EQ(std::tuple(product, window, window, mainProg, prjVersion, std::lround(std::stod(VersionKey()) * 10)),
              std::tuple(Product(), ProductName() + " " + VersionKey(), std::string(TessaphonWindowName()),
                         MainProgName(), CurrentPrjVersion(), VersionNr()));
    EXPECT_EQ("Software\\Orvelle\\" + std::string(window) + "\\Chambrix", TPChambrixIniFileName());
    EXPECT_EQ(TPChambrixIniFileName(), IniFilePath() + "Chambrix");
  }
  InitializeIniConsts("/x/TPEssential.exe", {});
  EXPECT_EQ("Tessaphon Doc 2.0", GetProgCaption("Doc", "", "", ""));
  InitializeIniConsts(kProgram, {});
  EXPECT_EQ("Tessaphon Lib 7.1 -  - [Car]", GetProgCaption("Lib", "", "Car", ""));
  EXPECT_EQ("Tessaphon Graph 7.1 (read only) - p.tp", GetProgCaption("Graph", "p.tp", "", "read only"));
}

TEST_F(ProgramSettingsFile, DefaultsAndDerivedFolders) {
  TProgramSettings S = Read("");
  EXPECT_EQ("libs/|distrib/|PCList.vrl|0;;;;", S.GlobLibPath + "|" + S.DC.DistribPath + "|" +
                                                   S.DC.PCListFileName + "|" + S.ProxySettings);
  EXPECT_EQ("/opt/tp/System/|/opt/tp/System/Libs/", S.BaseLangSystemPath + "|" + S.LangLibPath);
  fs::remove(StoreFile());
  S.HistEntries = S.CheckPeriod = S.CheckedLast = S.DC.ClientSocket = S.DC.SocketSrvSocket = S.DC.Priority = -1;
  S.DC.Instances = S.DC.Threads = S.DC.ReconnectTime = S.System.MaxBmpPrintSize = -1;
  S.DrivingRightSide = S.CheckUpdate = S.CheckConfrm = !(S.DC.Reconnect = S.System.AltBmpPrintOut = true);
  S.RunKernelDll = S.System.DefaulFontname = "x";
  ReadProgramSettings(S);  // nothing stored: every field takes its default
  EXPECT_FALSE(fs::exists(StoreFile()));  // reading creates nothing
  EXPECT_EQ((std::vector<std::int64_t>{5, 7, 0, 55555, 55557, 0, 1, 0, 10, 3000, 1, 1, 1, 0, 0}),
            (std::vector<std::int64_t>{S.HistEntries, S.CheckPeriod, S.CheckedLast, S.DC.ClientSocket,
                                       S.DC.SocketSrvSocket, S.DC.Priority, S.DC.Instances, S.DC.Threads,
                                       S.DC.ReconnectTime, S.System.MaxBmpPrintSize, S.DrivingRightSide,
                                       S.CheckUpdate, S.CheckConfrm, S.DC.Reconnect, S.System.AltBmpPrintOut}));
  EXPECT_EQ("CoreCalc6.dll Arial 0.01", S.RunKernelDll + " " + S.System.DefaulFontname + " " +
                                            FloatToStr(S.System.ClipPlane3D));

  // The folders derived from the global data folder and the languages: tests/data/settings/folders.txt.
  for (const std::string& line : test::SplitLines(ReadFile(test::DataPath("settings/folders.txt")))) {
    if (line.starts_with("#")) continue;
    const auto c = test::SplitTabs(line);
    if (c[0] == "globdata") {
      S = Read("[program]\nGlobdataPath=" + c[1] + "\n");
      EXPECT_EQ(c[1] + "|" + c[1] + "libs/|" + c[2] + "distrib/|" + c[2] + "PCList.vrl",
                S.SharedGlobdataPath + "|" + S.GlobLibPath + "|" + S.DC.DistribPath + "|" + S.DC.PCListFileName);
    } else {
      S = Read("[program]\nSystemPathLang=" + c[1] + "\nLIBPATHLANG=" + c[2] + "\n");
      EXPECT_EQ(c[3], S.LangSystemPath + " " + S.BaseLangSystemPath + " " + S.LangLibPath + " " + S.BaseLangLibPath);
    }
  }
}

TEST_F(ProgramSettingsFile, BooleansHoldTheLowByteAndClipPlaneReadsWithDot) {
  DecimalSeparatorScope comma(',');
  TProgramSettings S = Read("[program]\nDrivingRightSide=256\nCheckConfrm=3\n[DC]\nReconnect=257\n"
                            "[system]\nClipPlane3D=0.5\n");
  EXPECT_TRUE(!S.DrivingRightSide && S.CheckConfrm && S.DC.Reconnect);
  EXPECT_DOUBLE_EQ(0.5, S.System.ClipPlane3D);
  EXPECT_EQ(',', GlobalFormatSettings().DecimalSeparator);  // restored
  for (const char* text : {"abc", "0,5"}) {
    EXPECT_DOUBLE_EQ(0.01, Read(std::string("[system]\nClipPlane3D=") + text + "\n").System.ClipPlane3D) << text;
  }
  // A store that cannot be read: every field keeps its value or fallback, the separator is restored.
  fs::remove(StoreFile());
  fs::create_directories(StoreFile());
  S.GlobdataPath = "kept";
  S.HistEntries = 12;
  ReadProgramSettings(S);
  EXPECT_EQ("kept", S.GlobdataPath);
  EXPECT_EQ(5, S.HistEntries);
  EXPECT_EQ(',', GlobalFormatSettings().DecimalSeparator);
}

// A store that fails to read one key and reads every other one from its INI file.
class FailingStore : public TSettingsStore {
public:
  FailingStore(const std::string& file, std::string failingKey) : ini_(file), failingKey_(std::move(failingKey)) {}
  std::string ReadString(std::string_view section, std::string_view key, std::string_view def) const override {
    if (SameText(key, failingKey_)) throw EInOutError("read failed");
    return ini_.ReadString(section, key, def);
  }
  void WriteString(std::string_view, std::string_view, std::string_view) override { throw EInOutError("no"); }
  bool SectionExists(std::string_view section) const override { return ini_.SectionExists(section); }
  bool ValueExists(std::string_view s, std::string_view k) const override { return ini_.ValueExists(s, k); }
  std::vector<TSettingsValue> ReadSectionValues(std::string_view s) const override { return ini_.ReadSectionValues(s); }
  std::vector<std::string> ReadSections() const override { return ini_.ReadSections(); }
  std::string FileName() const override { return ini_.FileName(); }

private:
  TIniFile ini_;
  std::string failingKey_;
};

// Each key is read on its own: when one read fails, that field keeps its value (or its fallback, here the same)
// and every other field is still read.
TEST_F(ProgramSettingsFile, EveryReadIsGuardedOnItsOwn) {
  using Get = std::function<std::string(const TProgramSettings&)>;
  const auto num = [](auto member) {
    return Get([member](const TProgramSettings& s) { return FloatToStr(member(s)); });
  };
  const auto text = [](auto member) { return Get([member](const TProgramSettings& s) { return member(s); }); };
  const std::tuple<const char*, const char*, const char*, Get> fields[] = {
      {"program", "GlobdataPath", "/g/data/", text([](auto& s) { return s.GlobdataPath; })},
      {"program", "SystemPathLang", "DEU_CH", text([](auto& s) { return s.SystemPathLang; })},
      {"program", "LIBPATHLANG", "ENG_US", text([](auto& s) { return s.LibPathLang; })},
      {"program", "RunKernelDll", "kernel.so", text([](auto& s) { return s.RunKernelDll; })},
      {"program", "HelpFile", "help.chm", text([](auto& s) { return s.HelpFile; })},
      {"program", "SharedGlobdataPath", "/shared/", text([](auto& s) { return s.SharedGlobdataPath; })},
      {"program", "GlobLibPath", "/libs/", text([](auto& s) { return s.GlobLibPath; })},
      {"program", "HistEntries", "9", num([](auto& s) { return s.HistEntries; })},
      {"program", "DrivingRightSide", "0", num([](auto& s) { return s.DrivingRightSide; })},
      {"program", "CheckUpdate", "0", num([](auto& s) { return s.CheckUpdate; })},
      {"program", "CheckPeriod", "1008", num([](auto& s) { return s.CheckPeriod; })},
      {"program", "CheckConfrm", "0", num([](auto& s) { return s.CheckConfrm; })},
      {"program", "CheckedLast", "1009", num([](auto& s) { return s.CheckedLast; })},
      {"program", "ProxySettings", "2;h;1;a;b", text([](auto& s) { return s.ProxySettings; })},
      {"DC", "ClientSocket", "1001", num([](auto& s) { return s.DC.ClientSocket; })},
      {"DC", "PRIORITY", "1002", num([](auto& s) { return s.DC.Priority; })},
      {"DC", "Instances", "1003", num([](auto& s) { return s.DC.Instances; })},
      {"DC", "Threads", "1004", num([](auto& s) { return s.DC.Threads; })},
      {"DC", "SocketSrvSocket", "1005", num([](auto& s) { return s.DC.SocketSrvSocket; })},
      {"DC", "DistribPath", "/d/", text([](auto& s) { return s.DC.DistribPath; })},
      {"DC", "PCListFileName", "/pc.vrl", text([](auto& s) { return s.DC.PCListFileName; })},
      {"DC", "Reconnect", "1", num([](auto& s) { return s.DC.Reconnect; })},
      {"DC", "ReconnectTime", "1006", num([](auto& s) { return s.DC.ReconnectTime; })},
      {"system", "AltBmpPrintOut", "1", num([](auto& s) { return s.System.AltBmpPrintOut; })},
      {"system", "MaxBmpPrintSize", "1007", num([](auto& s) { return s.System.MaxBmpPrintSize; })},
      {"system", "ClipPlane3D", "0.25", num([](auto& s) { return s.System.ClipPlane3D; })},
      {"system", "GraphicsPrinter", "plotter", text([](auto& s) { return s.System.GraphicsPrinter; })},
      {"system", "DefaulFontname", "Sans", text([](auto& s) { return s.System.DefaulFontname; })},
  };
  TempDir dir;
  const auto file = dir.File("all.ini");
  for (const auto& [section, key, stored, get] : fields) TIniFile(file).WriteString(section, key, stored);
  TProgramSettings before;  // HistEntries and ClipPlane3D keep their defaults: they are also the fallbacks
  before.GlobdataPath = before.SystemPathLang = before.LibPathLang = before.RunKernelDll = before.HelpFile = "old";
  before.SharedGlobdataPath = before.GlobLibPath = before.DC.DistribPath = before.DC.PCListFileName = "old";
  before.System.GraphicsPrinter = before.System.DefaulFontname = before.ProxySettings = "old";
  before.DC.ClientSocket = before.DC.Priority = before.DC.Instances = before.DC.Threads = -1;
  before.DC.SocketSrvSocket = before.DC.ReconnectTime = before.System.MaxBmpPrintSize = -1;
  before.CheckPeriod = before.CheckedLast = -1;
  before.DrivingRightSide = before.CheckUpdate = before.CheckConfrm = true;
  DecimalSeparatorScope dot('.');
  for (std::size_t failing = 0; failing <= std::size(fields); ++failing) {
    const FailingStore store(file, failing < std::size(fields) ? std::get<1>(fields[failing]) : "no such key");
    TProgramSettings S = before;
    ReadProgramSettings(S, store);
    for (std::size_t i = 0; i < std::size(fields); ++i) {
      const auto& [section, key, stored, get] = fields[i];
      EXPECT_EQ(i == failing ? get(before) : stored, get(S)) << key << " with " << failing << " failing";
    }
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
  EXPECT_EQ(dir.File("TPEssential.ini"), GetIniFile()->FileName());
  EXPECT_EQ(11, ProgramSettings().HistEntries);
  InitializeIniConsts(program, {});
  EXPECT_EQ((root_.Path() / "Orvelle" / "Tessaphon Essential 2.0.ini").string(), GetIniFile()->FileName());
  EXPECT_EQ(5, ProgramSettings().HistEntries);
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
  for (const std::string& line : test::SplitLines(ReadFile(test::DataPath("settings/proxy.txt")))) {
    if (line.starts_with("#")) continue;
    auto c = test::SplitTabs(line);
    SCOPED_TRACE(line);
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
  EXPECT_EQ("1;upper;2;;", Read("").ProxySettings);
  EXPECT_EQ("", ReadFile(StoreFile()));
  EXPECT_EQ("2;own;1;;", Read("[program]\nProxySettings=2;own;1;;\n").ProxySettings);
}

TEST(ProgramSettingsSpecialFolder, MapsTheShellFoldersToXdgFolders) {
  TempDir dir;
  const std::string config = dir.File("conf");
  fs::create_directories(config);
  test::EnvOverride env;
  env.Set("HOME", "/home/u");
  env.Set("XDG_CONFIG_HOME", config);
  env.Set("XDG_DATA_HOME", "/home/u/data/");
  env.Set("XDG_DATA_DIRS", "relative:/usr/share/:/opt/share");
  env.Set("HOME", "/");
  EXPECT_EQ("/", GetSpecialFolder(0, CSIDL_PERSONAL));  // no user-dirs file
  env.Set("HOME", "/home/u");
  EXPECT_EQ("/home/u", GetSpecialFolder(0, CSIDL_PERSONAL));
  WriteFile(config + "/user-dirs.dirs",
            "# generated\nXDG_DESKTOP_DIR=\"$HOME/Desk\"\nXDG_DOCUMENTS_DIR=\"$HOME/Doks\"\n");
  const std::pair<std::int32_t, std::string> set[] = {{CSIDL_PERSONAL, "/home/u/Doks"}, {CSIDL_APPDATA, config},
                                                      {CSIDL_LOCAL_APPDATA, "/home/u/data"},
                                                      {CSIDL_COMMON_APPDATA, "/usr/share"}, {0x0027, ""}};
  for (const auto& [folder, expected] : set) EXPECT_EQ(expected, GetSpecialFolder(0, folder)) << folder;
  for (const char* name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_DATA_DIRS"}) env.Set(name, std::nullopt);
  EXPECT_EQ("/home/u/.config|/home/u/.local/share|/usr/local/share",
            GetSpecialFolder(0, CSIDL_APPDATA) + "|" + GetSpecialFolder(0, CSIDL_LOCAL_APPDATA) + "|" +
                GetSpecialFolder(0, CSIDL_COMMON_APPDATA));
}

}  // namespace
}  // namespace vez
