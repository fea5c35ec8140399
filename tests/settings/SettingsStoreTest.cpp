#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>

#include "SettingsTestUtil.h"
#include "TestUtil.h"
#include "core/Exceptions.h"
#include "core/FormatSettings.h"
#include "settings/SettingsStore.h"

namespace vez {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;

TEST(SettingsStoreIniFile, ReadsNamesWithoutRegardToCaseAndTakesTheFirstOccurrence) {
  const TIniFile ini(test::DataPath("settings/ini-reads.ini"));  // only read
  for (const auto& c : test::DataRows("settings/ini-reads.txt"))
    EXPECT_EQ(c[2], ini.ReadString(c[0], c[1], "<default>")) << c[0] << "/" << c[1];
  EXPECT_TRUE(ini.SectionExists("Dc") && !ini.SectionExists("d"));
  EXPECT_TRUE(ini.ValueExists("program", "EMPTY") && !ini.ValueExists("dc", "Empty"));
  EXPECT_EQ((std::vector<std::string>{"Program", "none", "dc", "s"}), ini.ReadSections());
  const auto program = ini.ReadSectionValues("program");
  ASSERT_EQ(8u, program.size());
  EXPECT_EQ(TSettingsValue("KEY", "second"), program.back());
}

TEST(SettingsStoreIniFile, TypedReadsFallBackOnTheDefault) {
  const TIniFile ini(test::DataPath("settings/ini-reads.ini"));  // its section [s]
  for (const auto& c : test::DataRows("settings/ini-integers.txt"))
    EXPECT_EQ(std::stoi(c.at(1)), ini.ReadInteger("s", c[0], 99)) << c[0];
  DecimalSeparatorScope dot('.');
  EXPECT_EQ(std::pair(1000.0, -1.0), std::pair(ini.ReadFloat("s", "f2", -1), ini.ReadFloat("s", "fbad", -1)));
  DecimalSeparatorScope comma(',');  // the float reader follows the process decimal separator
  EXPECT_EQ(1.5, ini.ReadFloat("s", "fbad", -1));
  EXPECT_EQ(std::tuple(false, true, false), std::tuple(ini.ReadBool("s", "b0", true), ini.ReadBool("s", "b2", false),
                                                       ini.ReadBool("s", "bword", false)));
}

TEST(SettingsStoreIniFile, WritingChangesOnlyTheLinesConcernedAndKeepsPermissionsAndLinks) {
  TempDir dir;
  const auto file = dir.File("w.ini");
  WriteFile(file,
            "\xEF\xBB\xBF; head\r\n[program]\r\nHelpFile = old.chm\r\nodd line\r\n; end\r\n\r\n[DC]\r\nThreads=2\r\n");
  TIniFile ini(file);
  ini.WriteString("PROGRAM", "helpfile", "new.chm");   // replaced in place, the stored spelling kept
  ini.WriteString("program", "CheckPeriod", "14");     // inserted after the section's last key
  ini.WriteInteger("system", "MaxBmpPrintSize", 2000); // a new section at the end
  ini.WriteBool("dc", "Reconnect", true);
  DecimalSeparatorScope dot('.');
  ini.WriteFloat("dc", "f", 0.25);
  EXPECT_EQ("\xEF\xBB\xBF; head\r\n[program]\r\nHelpFile=new.chm\r\nCheckPeriod=14\r\nodd line\r\n; end\r\n\r\n"
            "[DC]\r\nThreads=2\r\nReconnect=1\r\nf=0.25\r\n\r\n[system]\r\nMaxBmpPrintSize=2000\r\n",
            ReadFile(file));
  ini.DeleteKey("dc", "THREADS");
  ini.EraseSection("Program");
  EXPECT_EQ("\xEF\xBB\xBF; head\r\n[DC]\r\nReconnect=1\r\nf=0.25\r\n\r\n[system]\r\nMaxBmpPrintSize=2000\r\n",
            ReadFile(file));
  // A rewrite keeps the file's permissions and a link to it.
  const auto real = dir.File("real.ini");
  WriteFile(real, "[s]\nk=1\n");
  const auto mode = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_write | fs::perms::others_read;
  fs::permissions(real, mode, fs::perm_options::replace);
  fs::create_symlink(real, dir.File("link.ini"));
  TIniFile(dir.File("link.ini")).WriteString("s", "k", "2");
  EXPECT_EQ(std::tuple(true, std::string("[s]\nk=2\n"), mode),
            std::tuple(fs::is_symlink(dir.File("link.ini")), ReadFile(real), fs::status(real).permissions()));
  TIniFile priv(dir.File("private.ini"));  // a new private file is for its owner only
  priv.SetPrivate(true);
  priv.WriteString("s", "k", "v");
  EXPECT_EQ(fs::perms::owner_read | fs::perms::owner_write, fs::status(dir.File("private.ini")).permissions());
}

TEST(SettingsStoreIniFile, ValuesReadBackExactlyAsWritten) {
  TempDir dir;
  const auto file = dir.File("sub/deeper/v.ini");  // created with its folder by the first write
  const std::string values[] = {"", "  lead", "trail\t", "\"quoted\"", "'q'", "\"half", "a;b", "x=y",
                                "[not a section]", "\xC3\xBC\xE2\x82\xAC", "\"", " \" "};
  TIniFile ini(file);
  EXPECT_EQ((std::pair<std::string, bool>("d", false)), std::pair(ini.ReadString("s", "k0", "d"), fs::exists(file)));
  for (std::size_t i = 0; i < std::size(values); ++i) ini.WriteString("s", "k" + std::to_string(i), values[i]);
  const TIniFile again(file);
  for (std::size_t i = 0; i < std::size(values); ++i)
    EXPECT_EQ(values[i], again.ReadString("s", "k" + std::to_string(i), "<default>")) << i;
  EXPECT_EQ(1u, again.ReadSections().size());
  EXPECT_NE(std::string::npos, ReadFile(file).find("k1=\"  lead\"\n"));
  EXPECT_EQ(1, std::distance(fs::directory_iterator(dir.Path() / "sub/deeper"), fs::directory_iterator()));
}

// A file that cannot be read (a folder, a pipe, a device, more than 16 MiB) makes every read and write throw,
// so nothing is lost by writing over it, and nothing hangs or exhausts memory.
TEST(SettingsStoreIniFile, UnreadableFilesAndFailedOrRefusedWritesLoseNothing) {
  TempDir dir;
  const auto folder = dir.File("folder.ini"), fifo = dir.File("fifo.ini"), zero = dir.File("zero.ini");
  const auto big = dir.File("big.ini");
  fs::create_directory(folder);
  ASSERT_EQ(0, ::mkfifo(fifo.c_str(), 0600));
  fs::create_symlink("/dev/zero", zero);
  WriteFile(big, "[s]\nk=" + std::string(kMaxSettingsFileSize, 'v') + "\n");
  const std::pair<std::string, std::string> cases[] = {
      {fifo, "it is not a regular file"}, {zero, "it is not a regular file"},
      {big, Format("%d bytes exceed the limit of 16777216 bytes", static_cast<int>(kMaxSettingsFileSize) + 7)}};
  for (const auto& [file, reason] : cases)
    EXPECT_THROW_MSG(TIniFile(file).ReadString("s", "k", ""), EInOutError,
                     "Cannot read settings file \"" + file + "\": " + reason);
  for (const auto& file : {folder, fifo, zero, big}) {
    TIniFile ini(file);
    EXPECT_THROW(ini.ReadSectionValues("s"), EInOutError) << file;
    EXPECT_THROW(ini.WriteString("s", "k", "v"), EInOutError) << file;
  }
  EXPECT_TRUE(fs::is_directory(folder));
  const std::string line(kMaxSettingsFileSize - 7, 'v');  // exactly at the limit: read whole
  WriteFile(big, "[s]\nk=" + line + "\n");
  EXPECT_EQ(TIniFile(big).ReadString("s", "k", ""), line);

  // A write that fails or is refused leaves the file and the object as they were.
  const auto file = dir.File("locked.ini");
  WriteFile(file, "[s]\nk=old\n");
  TIniFile ini(file);
  EXPECT_EQ("old", ini.ReadString("s", "k", ""));
  fs::remove(file);
  fs::create_directory(file);  // a folder in the file's place makes the final rename fail
  EXPECT_THROW_MSG(ini.WriteSectionValues("s", {{"k", "a"}, {"m", "b"}}), EInOutError,
                   "Cannot write settings file \"" + file + "\": Is a directory");
  EXPECT_EQ((std::pair<std::string, bool>("old", false)),
            std::pair(ini.ReadString("s", "k", ""), ini.ValueExists("s", "m")));

  TIniFile fresh(dir.File("r.ini"));
  EXPECT_THROW_MSG(fresh.WriteString("s", "k", "a\nb"), Exception, "Settings value of \"k\" contains a line break");
  EXPECT_THROW_MSG(fresh.WriteString("s", "a=b", "v"), Exception, "Invalid settings key name \"a=b\"");
  EXPECT_THROW_MSG(fresh.WriteString("a]b", "k", "v"), Exception, "Invalid settings section name \"a]b\"");
  for (const char* key : {"", " k", ";k"}) EXPECT_THROW(fresh.WriteString("s", key, "v"), Exception) << key;
  EXPECT_THROW_MSG(fresh.WriteSectionValues("s", {{"good", "1"}, {"bad", "x\r"}}), Exception,  // stores none
                   "Settings value of \"bad\" contains a line break");
  EXPECT_FALSE(fresh.ValueExists("s", "good") || fs::exists(dir.File("r.ini")));
}

// ---- the per-user store ----

TEST(SettingsStoreUser, KeyPathBecomesAFileUnderTheRoot) {
  TempDir root;
  test::EnvOverride env;
  env.Set("VEZ_SETTINGS_HOME", root.Path().string());
  const std::string r = root.Path().string();
  const std::pair<const char*, std::string> cases[] = {
      {"SOFTWARE\\Orvelle\\Tessaphon 7.1\\CoreCalc", r + "/Orvelle/Tessaphon 7.1/CoreCalc.ini"},
      {"\\Orvelle\\\\TPLServer 1.0\\", r + "/Orvelle/TPLServer 1.0.ini"},
  };
  for (const auto& [keyPath, expected] : cases) EXPECT_EQ(expected, UserSettingsFileName(keyPath)) << keyPath;
  EXPECT_THROW_MSG(UserSettingsFileName("Software\\"), Exception, "Invalid settings key path \"Software\\\"");
  for (const char* bad : {"", "Software\\..\\x", "a/b"}) EXPECT_THROW(UserSettingsFileName(bad), Exception) << bad;

  // Writes create the folders, privately; existing folders and files match without regard to case.
  TUserSettingsStore store("Software\\Orvelle\\Tessaphon 7.1\\TPLib");
  store.WriteString("window", "Left", "10");
  const auto file = root.Path() / "Orvelle/Tessaphon 7.1/TPLib.ini";
  EXPECT_EQ("[window]\nLeft=10\n", ReadFile(file.string()));
  EXPECT_EQ(fs::perms::owner_read | fs::perms::owner_write, fs::status(file).permissions());
  WriteFile((root.Path() / "Orvelle" / "TESSAPHON 7.1.INI").string(), "[program]\nHistEntries=9\n");
  const TUserSettingsStore upper("Software\\orvelle\\Tessaphon 7.1\\");
  EXPECT_EQ((root.Path() / "Orvelle" / "TESSAPHON 7.1.INI").string(), upper.FileName());
  EXPECT_EQ(9, upper.ReadInteger("Program", "histentries", 5));

  env.Set("VEZ_SETTINGS_HOME", std::nullopt);
  env.Set("HOME", "/home/u");
  const std::pair<std::optional<std::string>, const char*> roots[] = {{"/xdg/conf/", "/xdg/conf"}, {"/", "/"},
      {"relative/ignored", "/home/u/.config"}, {std::nullopt, "/home/u/.config"}};
  for (const auto& [xdg, expected] : roots) {
    env.Set("XDG_CONFIG_HOME", xdg);
    EXPECT_EQ(expected, UserSettingsRoot());
  }
}

}  // namespace
}  // namespace vez
