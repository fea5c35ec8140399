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

using test::ReadFile;
using test::TempDir;
using test::WriteFile;

const std::string kSample =
    "; settings of the test\n"
    "[Program]\n"
    "GlobdataPath = /data/glob/ \n"
    "Empty=\n"
    "Quoted=\"  padded  \"\n"
    "Single='x'\n"
    "Half=\"open\n"
    "# not a comment=hash\n"
    "just text\n"
    "key=first\n"
    "KEY=second\n"
    "\n"
    "; before DC\n"
    "[dc]\n"
    "Instances=3\n"
    "[PROGRAM]\n"
    "Late=1\n"
    "key=third\n";

TEST(SettingsStoreIniFile, ReadsNamesWithoutRegardToCaseAndTakesTheFirstOccurrence) {
  TempDir dir;
  const auto file = dir.File("a.ini");
  WriteFile(file, kSample);
  const TIniFile ini(file);
  struct Case {
    const char* section;
    const char* key;
    const char* expected;
  };
  const Case cases[] = {
      {"program", "globdatapath", "/data/glob/"},  // blanks around name and value dropped
      {"PROGRAM", "Empty", ""},                    // present but empty is not the default
      {"program", "Quoted", "  padded  "},         // matching quotes removed, inner blanks kept
      {"program", "Single", "x"},
      {"program", "Half", "\"open"},               // no matching pair: kept as it stands
      {"program", "# not a comment", "hash"},      // only ";" starts a comment
      {"program", "key", "first"},                 // first key of the first section
      {"program", "Late", "<default>"},            // a later section of the same name is not read
      {"DC", "instances", "3"},
      {"program", "just text", "<default>"},
      {"missing", "key", "<default>"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(c.expected, ini.ReadString(c.section, c.key, "<default>")) << c.section << "/" << c.key;
  EXPECT_TRUE(ini.SectionExists("Dc"));
  EXPECT_FALSE(ini.SectionExists("d"));
  EXPECT_TRUE(ini.ValueExists("program", "EMPTY"));
  EXPECT_FALSE(ini.ValueExists("dc", "Empty"));
  EXPECT_EQ((std::vector<std::string>{"Program", "dc"}), ini.ReadSections());
  const std::vector<TSettingsValue> dc = {{"Instances", "3"}};
  EXPECT_EQ(dc, ini.ReadSectionValues("DC"));
  const auto program = ini.ReadSectionValues("program");
  ASSERT_EQ(8u, program.size());
  EXPECT_EQ(TSettingsValue("KEY", "second"), program.back());
  EXPECT_TRUE(ini.ReadSectionValues("none").empty());
}

TEST(SettingsStoreIniFile, TypedReadsFallBackOnTheDefault) {
  TempDir dir;
  const auto file = dir.File("t.ini");
  WriteFile(file,
            "[s]\ndec=42\nneg=-7\nhex=$1F\ncx=0x10\nbad=12a\nempty=\nbig=4294967296\nf1=0.5\nf2=1e3\nfbad=1,5\n"
            "b0=0\nb2=2\nbword=yes\n");
  const TIniFile ini(file);
  struct IntCase {
    const char* key;
    std::int32_t expected;
  };
  const IntCase ints[] = {{"dec", 42}, {"neg", -7}, {"hex", 31}, {"cx", 16}, {"bad", 99},
                          {"empty", 99}, {"big", 99}, {"none", 99}};
  for (const auto& c : ints) EXPECT_EQ(c.expected, ini.ReadInteger("s", c.key, 99)) << c.key;

  DecimalSeparatorScope dot('.');
  EXPECT_DOUBLE_EQ(0.5, ini.ReadFloat("s", "f1", -1));
  EXPECT_DOUBLE_EQ(1000, ini.ReadFloat("s", "f2", -1));
  EXPECT_DOUBLE_EQ(-1, ini.ReadFloat("s", "fbad", -1));
  EXPECT_DOUBLE_EQ(-1, ini.ReadFloat("s", "empty", -1));
  {
    // The float reader follows the process decimal separator, as the platform's did.
    DecimalSeparatorScope comma(',');
    EXPECT_DOUBLE_EQ(1.5, ini.ReadFloat("s", "fbad", -1));
  }
  EXPECT_FALSE(ini.ReadBool("s", "b0", true));
  EXPECT_TRUE(ini.ReadBool("s", "b2", false));
  EXPECT_TRUE(ini.ReadBool("s", "bword", true));
  EXPECT_FALSE(ini.ReadBool("s", "bword", false));
}

TEST(SettingsStoreIniFile, WritingChangesOnlyTheLinesConcerned) {
  TempDir dir;
  const auto file = dir.File("w.ini");
  WriteFile(file,
            "; head comment\r\n"
            "[program]\r\n"
            "HelpFile = old.chm\r\n"
            "odd line\r\n"
            "; end of program\r\n"
            "\r\n"
            "[DC]\r\n"
            "Threads=2\r\n");
  TIniFile ini(file);
  ini.WriteString("PROGRAM", "helpfile", "new.chm");   // replaced in place, the stored spelling kept
  ini.WriteString("program", "CheckPeriod", "14");     // inserted after the section's last key
  ini.WriteInteger("system", "MaxBmpPrintSize", 2000); // a new section at the end
  ini.WriteBool("dc", "Reconnect", true);
  EXPECT_EQ(
      "; head comment\r\n"
      "[program]\r\n"
      "HelpFile=new.chm\r\n"
      "CheckPeriod=14\r\n"
      "odd line\r\n"
      "; end of program\r\n"
      "\r\n"
      "[DC]\r\n"
      "Threads=2\r\n"
      "Reconnect=1\r\n"
      "\r\n"
      "[system]\r\n"
      "MaxBmpPrintSize=2000\r\n",
      ReadFile(file));
  // What was written reads back through a new object.
  const TIniFile again(file);
  EXPECT_EQ("new.chm", again.ReadString("program", "HelpFile", ""));
  EXPECT_EQ(2000, again.ReadInteger("SYSTEM", "maxbmpprintsize", 0));
  EXPECT_TRUE(again.ReadBool("DC", "Reconnect", false));
}

TEST(SettingsStoreIniFile, KeepsByteOrderMarkAndWritesFloatsWithTheProcessSeparator) {
  TempDir dir;
  const auto file = dir.File("bom.ini");
  WriteFile(file, "\xEF\xBB\xBF[a]\nx=1\n");
  TIniFile ini(file);
  EXPECT_EQ("1", ini.ReadString("a", "x", ""));  // the mark does not hide the first section
  {
    DecimalSeparatorScope dot('.');
    ini.WriteFloat("a", "f", 0.25);
  }
  EXPECT_EQ("\xEF\xBB\xBF[a]\nx=1\nf=0.25\n", ReadFile(file));
}

TEST(SettingsStoreIniFile, ValuesReadBackExactlyAsWritten) {
  TempDir dir;
  const auto file = dir.File("v.ini");
  const std::string values[] = {"", "plain", "  lead", "trail\t", "\"quoted\"", "'q'", "\"half", "a;b;c", "x=y",
                                "[not a section]", "\xC3\xBC\xE2\x82\xAC", "\"", " \" "};
  {
    TIniFile ini(file);
    for (std::size_t i = 0; i < std::size(values); ++i) ini.WriteString("s", "k" + std::to_string(i), values[i]);
  }
  const TIniFile ini(file);
  for (std::size_t i = 0; i < std::size(values); ++i)
    EXPECT_EQ(values[i], ini.ReadString("s", "k" + std::to_string(i), "<default>")) << i;
  EXPECT_EQ(1u, ini.ReadSections().size());
  EXPECT_NE(std::string::npos, ReadFile(file).find("k2=\"  lead\"\n"));
}

TEST(SettingsStoreIniFile, MissingFileReadsEmptyAndIsCreatedWithItsFolderOnWrite) {
  TempDir dir;
  const auto file = dir.File("sub/deeper/new.ini");
  TIniFile ini(file);
  EXPECT_EQ("d", ini.ReadString("s", "k", "d"));
  EXPECT_TRUE(ini.ReadSections().empty());
  EXPECT_FALSE(std::filesystem::exists(file));
  ini.WriteString("s", "k", "v");
  ini.WriteString("t", "k", "w");
  EXPECT_EQ("[s]\nk=v\n\n[t]\nk=w\n", ReadFile(file));
  // No temporary file is left behind.
  int entries = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.Path() / "sub/deeper")) ++entries;
  EXPECT_EQ(1, entries);
}

TEST(SettingsStoreIniFile, RewriteKeepsPermissionsAndLinks) {
  namespace fs = std::filesystem;
  TempDir dir;
  const auto real = dir.File("real.ini");
  WriteFile(real, "[s]\nk=1\n");
  fs::permissions(real, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                            fs::perms::group_write | fs::perms::others_read,
                  fs::perm_options::replace);
  const auto before = fs::status(real).permissions();
  fs::create_symlink(real, dir.File("link.ini"));
  TIniFile ini(dir.File("link.ini"));
  ini.WriteString("s", "k", "2");
  EXPECT_TRUE(fs::is_symlink(dir.File("link.ini")));
  EXPECT_EQ("[s]\nk=2\n", ReadFile(real));
  EXPECT_EQ(before, fs::status(real).permissions());

  // A new private file is for its owner only; a new plain one follows the process's file mode.
  TIniFile priv(dir.File("private.ini"));
  priv.SetPrivate(true);
  priv.WriteString("s", "k", "v");
  EXPECT_EQ(fs::perms::owner_read | fs::perms::owner_write, fs::status(dir.File("private.ini")).permissions());
}

TEST(SettingsStoreIniFile, DeleteKeyAndEraseSection) {
  TempDir dir;
  const auto file = dir.File("d.ini");
  WriteFile(file, "[a]\nx=1\ny=2\n[b]\nz=3\n[A]\nw=4\n");
  TIniFile ini(file);
  ini.DeleteKey("A", "X");
  ini.DeleteKey("a", "none");
  EXPECT_EQ("[a]\ny=2\n[b]\nz=3\n[A]\nw=4\n", ReadFile(file));
  ini.EraseSection("a");  // every section of that name
  EXPECT_EQ("[b]\nz=3\n", ReadFile(file));
}

TEST(SettingsStoreIniFile, UnreadableFileFailsEveryReadAndWriteInsteadOfLosingIt) {
  TempDir dir;
  const auto file = dir.File("folder.ini");
  std::filesystem::create_directory(file);
  TIniFile ini(file);
  EXPECT_THROW(ini.ReadString("s", "k", ""), EInOutError);
  EXPECT_THROW(ini.ReadInteger("s", "k", 1), EInOutError);
  EXPECT_THROW(ini.ReadSectionValues("s"), EInOutError);
  EXPECT_THROW(ini.WriteString("s", "k", "v"), EInOutError);
}

// Only regular files up to the size limit are read: a pipe, a device or a larger file fails like an unreadable
// file (reads and writes throw, the settings readers keep their defaults) and does not hang or exhaust memory.
TEST(SettingsStoreIniFile, ReadsOnlyRegularFilesOfBoundedSize) {
  TempDir dir;
  const auto fifo = dir.File("fifo.ini");
  ASSERT_EQ(0, ::mkfifo(fifo.c_str(), 0600));
  const auto zero = dir.File("zero.ini");
  std::filesystem::create_symlink("/dev/zero", zero);
  const auto big = dir.File("big.ini");
  WriteFile(big, "[s]\nk=" + std::string(kMaxSettingsFileSize, 'v') + "\n");
  const std::pair<std::string, std::string> cases[] = {
      {fifo, "it is not a regular file"},
      {zero, "it is not a regular file"},
      {big, Format("%d bytes exceed the limit of 16777216 bytes", static_cast<int>(kMaxSettingsFileSize) + 7)},
  };
  for (const auto& [file, reason] : cases) {
    TIniFile ini(file);
    EXPECT_THROW_MSG(ini.ReadString("s", "k", ""), EInOutError,
                     "Cannot read settings file \"" + file + "\": " + reason);
    EXPECT_THROW(ini.WriteString("s", "k", "v"), EInOutError);
  }
  // A file just within the limit, one long line, is read whole.
  const std::string line(kMaxSettingsFileSize - 8, 'v');
  WriteFile(big, "[s]\nk=" + line + "\n");
  EXPECT_EQ(TIniFile(big).ReadString("s", "k", ""), line);
}

TEST(SettingsStoreIniFile, FailedSaveLeavesFileAndObjectAsBefore) {
  TempDir dir;
  const auto file = dir.File("locked.ini");
  WriteFile(file, "[s]\nk=old\n");
  TIniFile ini(file);
  // A folder in the file's place makes the final rename fail.
  std::filesystem::remove(file);
  std::filesystem::create_directory(file);
  EXPECT_THROW(ini.WriteString("s", "k", "new"), EInOutError);
  EXPECT_EQ("old", ini.ReadString("s", "k", ""));
  EXPECT_THROW(ini.WriteSectionValues("s", {{"k", "a"}, {"m", "b"}}), EInOutError);
  EXPECT_EQ("old", ini.ReadString("s", "k", ""));
  EXPECT_FALSE(ini.ValueExists("s", "m"));
}

TEST(SettingsStoreIniFile, RefusesTextsThatWouldBreakTheLineFormat) {
  TempDir dir;
  const auto file = dir.File("r.ini");
  TIniFile ini(file);
  EXPECT_THROW_MSG(ini.WriteString("s", "k", "a\nb"), Exception, "Settings value of \"k\" contains a line break");
  EXPECT_THROW_MSG(ini.WriteString("s", "a=b", "v"), Exception, "Invalid settings key name \"a=b\"");
  EXPECT_THROW(ini.WriteString("s", "", "v"), Exception);
  EXPECT_THROW(ini.WriteString("s", " k", "v"), Exception);
  EXPECT_THROW(ini.WriteString("s", ";k", "v"), Exception);
  EXPECT_THROW_MSG(ini.WriteString("a]b", "k", "v"), Exception, "Invalid settings section name \"a]b\"");
  EXPECT_THROW(ini.WriteString("", "k", "v"), Exception);
  // A batch with one bad value stores none.
  EXPECT_THROW(ini.WriteSectionValues("s", {{"good", "1"}, {"bad", "x\r"}}), Exception);
  EXPECT_FALSE(ini.ValueExists("s", "good"));
  EXPECT_FALSE(std::filesystem::exists(file));
}

TEST(SettingsStoreIniFile, ReadsTheHandMadeProjectFile) {
  const TIniFile ini(test::DataPath("settings/Project.tp"));
  EXPECT_EQ("1", ini.ReadString("Graphics", "unitlengthscale", ""));
  EXPECT_EQ("Industriegebiet", ini.ReadString("usages", "GI.Descr", ""));
  EXPECT_EQ("6-22", ini.ReadString("Time Slices DEN", "DayIdent", ""));
  EXPECT_EQ(4u, ini.ReadSectionValues("EnabledStandards").size());
}

// ---- the per-user store ----

class SettingsStoreUser : public ::testing::Test {
protected:
  void SetUp() override { env_.Set("VEZ_SETTINGS_HOME", root_.Path().string()); }
  TempDir root_;
  test::EnvOverride env_;
};

TEST_F(SettingsStoreUser, KeyPathBecomesAFileUnderTheRoot) {
  const std::string root = root_.Path().string();
  struct Case {
    const char* keyPath;
    std::string expected;
  };
  const Case cases[] = {
      {"Software\\Orvelle\\Tessaphon 7.1\\", root + "/Orvelle/Tessaphon 7.1.ini"},
      {"SOFTWARE\\Orvelle\\Tessaphon 7.1\\CoreCalc", root + "/Orvelle/Tessaphon 7.1/CoreCalc.ini"},
      {"\\Orvelle\\\\TPLServer 1.0", root + "/Orvelle/TPLServer 1.0.ini"},
      {"Software\\Microsoft\\Windows\\CurrentVersion", root + "/Microsoft/Windows/CurrentVersion.ini"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.expected, UserSettingsFileName(c.keyPath)) << c.keyPath;
  EXPECT_THROW_MSG(UserSettingsFileName("Software\\"), Exception, "Invalid settings key path \"Software\\\"");
  EXPECT_THROW(UserSettingsFileName(""), Exception);
  EXPECT_THROW(UserSettingsFileName("Software\\..\\x"), Exception);
  EXPECT_THROW(UserSettingsFileName("a/b"), Exception);
}

TEST_F(SettingsStoreUser, ExistingFoldersAndFilesMatchWithoutRegardToCase) {
  std::filesystem::create_directories(root_.Path() / "orvelle");
  WriteFile((root_.Path() / "orvelle" / "TESSAPHON 7.1.INI").string(), "[program]\nHistEntries=9\n");
  const TUserSettingsStore store("Software\\Orvelle\\Tessaphon 7.1\\");
  EXPECT_EQ((root_.Path() / "orvelle" / "TESSAPHON 7.1.INI").string(), store.FileName());
  EXPECT_EQ(9, store.ReadInteger("Program", "histentries", 5));
}

TEST_F(SettingsStoreUser, RootFollowsTheEnvironment) {
  test::EnvOverride env;
  env.Set("VEZ_SETTINGS_HOME", std::nullopt);
  env.Set("XDG_CONFIG_HOME", "/xdg/conf/");
  env.Set("HOME", "/home/u");
  EXPECT_EQ("/xdg/conf", UserSettingsRoot());
  env.Set("XDG_CONFIG_HOME", "relative/ignored");
  EXPECT_EQ("/home/u/.config", UserSettingsRoot());
  env.Set("XDG_CONFIG_HOME", std::nullopt);
  EXPECT_EQ("/home/u/.config", UserSettingsRoot());
  env.Set("VEZ_SETTINGS_HOME", "/own/root");
  EXPECT_EQ("/own/root", UserSettingsRoot());
}

TEST_F(SettingsStoreUser, WritesCreateTheFoldersOfTheKeyPath) {
  TUserSettingsStore store("Software\\Orvelle\\Tessaphon 7.1\\TPLib");
  store.WriteString("window", "Left", "10");
  const auto file = root_.Path() / "Orvelle/Tessaphon 7.1/TPLib.ini";
  EXPECT_EQ("[window]\nLeft=10\n", ReadFile(file.string()));
  EXPECT_EQ(std::filesystem::perms::owner_read | std::filesystem::perms::owner_write,
            std::filesystem::status(file).permissions());
  EXPECT_EQ("Software\\Orvelle\\Tessaphon 7.1\\TPLib", store.KeyPath());
}

}  // namespace
}  // namespace vez
