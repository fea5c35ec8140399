// Which program of the suite runs, its program and system settings, and the settings of a project.
//
// Program identity: once per process, on first use of anything below, the unit takes the running program's file
// name (from /proc/self/exe; compared without regard to case, with or without ".exe") and decides which product
// runs, under which name and version its settings live (the registry-style path IniFilePath(), e.g.
// "Software\Orvelle\Tessaphon 7.1\"), and reads the program settings into ProgramSettings(). Tests and embedding
// programs can run that initialisation again for a given program path and argument list with
// InitializeIniConsts(); the arguments are what GetIniFile() looks at for the "INI=" switch.
//
// The settings store (see SettingsStore.h) is the per-user store of IniFilePath(), or the INI file next to the
// program (its full file name with ".ini") when one argument begins with "/INI=" or "-INI=". Floating-point
// settings are texts with "." as decimal separator: the readers set the process decimal separator to "." while
// they run and restore it on every path.
//
// Paths: file-system paths built here use "/" as folder separator (SystemPath() is the program's folder +
// "System/", a language folder is program folder + language + "/System/Libs/", the default library folder of the
// global data is GlobdataPath + "libs/"); registry-style key paths keep "\". Project routines take the project
// folder with or without a trailing "/" and read or write the folder's "Project.tp".
//
// Process-wide state, not thread-safe: the identity, ProgramSettings() and the application help file are plain
// globals as they were in the suite; call the initialisation and the setters from one thread.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "settings/SettingsStore.h"

namespace vez {

// ---------------------------------------------------------------------------------------------------------------
// Program and system settings
// ---------------------------------------------------------------------------------------------------------------

enum class TProduct : std::uint8_t { proTessaphon, proServer, proTPessential };

enum class TProxyUse : std::uint8_t { puNone, puSystem, puOwn };

// Distributed calculation (section "DC").
struct TDCSettings {
  std::int32_t ClientSocket = 55555;
  std::int32_t SocketSrvSocket = 55557;
  std::int32_t Priority = 0;
  std::int32_t Instances = 1;
  std::int32_t Threads = 0;
  std::string DistribPath;     // default: parent folder of GlobdataPath + "distrib/"
  std::string PCListFileName;  // default: parent folder of GlobdataPath + "PCList.vrl"
  bool Reconnect = false;
  std::int32_t ReconnectTime = 10;
};

// Printing and 3-D display (section "system").
struct TSystemSettings {
  bool AltBmpPrintOut = false;
  std::int32_t MaxBmpPrintSize = 3000;
  double ClipPlane3D = 0.01;
  std::string GraphicsPrinter;
  std::string DefaulFontname = "Arial";
};

// The program settings (section "program" unless noted). The member initialisers are the defaults of an empty
// store as far as they do not depend on other fields. Booleans are read as integers and hold their low byte
// (a low byte other than 0 is true).
struct TProgramSettings {
  std::string GlobdataPath;
  std::string SharedGlobdataPath;  // default: GlobdataPath
  std::string GlobLibPath;         // default: GlobdataPath + "libs/"
  std::string HelpFile;
  std::string SystemPathLang;
  std::string LibPathLang;  // key "LIBPATHLANG"
  std::string LangLibPath;
  std::string BaseLangLibPath;
  std::string LangSystemPath;
  std::string BaseLangSystemPath;
  std::int32_t HistEntries = 5;
  TDCSettings DC;
  TSystemSettings System;
  bool DrivingRightSide = true;
  bool CheckUpdate = true;
  std::int32_t CheckPeriod = 7;
  bool CheckConfrm = true;
  std::int32_t CheckedLast = 0;
  std::string ProxySettings;  // see GetProxySettings; filled from the system when the store has none
  std::string RunKernelDll = "CoreCalc6.dll";
};

// ---- product identity (fixed once the initialisation has run) ----

TProduct Product();
const std::string& VersionKey();  // "7.1"
std::int32_t VersionNr();         // version x 10
const std::string& ProductName();
const std::string& MainProgName();  // "Tessaphon.exe"
std::int32_t CurrentPrjVersion();
const std::string& IniFilePath();  // "Software\Orvelle\" + ProductName + " " + VersionKey + "\"
const std::string& TessaphonWindowNameS();
const char* TessaphonWindowName();  // the characters of TessaphonWindowNameS(), valid while the identity stands
const std::string& SystemPath();    // program folder + "System/"
const std::string& SystemLibPathDefault();  // SystemPath + "Libs/"
// The process's program settings, read at initialisation and again by the language setters.
TProgramSettings& ProgramSettings();
// The application's help file, as set by ReadProgramSettings and SetHelpFileName.
const std::string& ApplicationHelpFile();

// ---- the settings paths of the suite's modules: IniFilePath + the module word ----

const std::string& CoreCalcIniFileName();
const std::string& TPLibIniFileName();
const std::string& TPManIniFileName();
const std::string& TPGraphIniFileName();
const std::string& TPGeoDBIniFileName();
const std::string& TPWallIniFileName();
const std::string& TPExpTabIniFileName();
const std::string& TPDocIniFileName();
const std::string& TPLgsIniFileName();
const std::string& TPLksIniFileName();
const std::string& TPIndExpIniFileName();
const std::string& TPAirNoiseIniFileName();
const std::string& SktSrvIniFileName();
const std::string& TPKontiIniFileName();
const std::string& TPChambrixIniFileName();

// Runs the initialisation (again) as if the program `programPath` had been started with `arguments` (without the
// program itself): identity, module paths, system folders, then ReadProgramSettings(ProgramSettings()).
void InitializeIniConsts(std::string_view programPath, std::vector<std::string> arguments);
// The program path and arguments the identity was taken from.
const std::string& ProgramFileName();
const std::vector<std::string>& ProgramArguments();

// ---- the settings store ----

// A new settings store, owned by the caller: the program's INI file with the "INI=" switch, else the per-user
// store of IniFilePath().
std::unique_ptr<TSettingsStore> GetIniFile();
// True when one of the arguments begins with "/" or "-" followed by "INI=" (case-insensitive).
bool HasIniSwitch(const std::vector<std::string>& arguments);

// Reads every field, each under its own guard: a key whose read fails leaves its field as it was (HistEntries
// becomes 5, ClipPlane3D 0.01) and reading goes on. Then derives the language folders and, when no proxy is
// stored, fills ProxySettings from the system proxy (not written back).
void ReadProgramSettings(TProgramSettings& S);
// The same with a given store (the caller keeps it).
void ReadProgramSettings(TProgramSettings& S, const TSettingsStore& store);

// Setters of ProgramSettings(). A store that cannot be written leaves the value unstored; the call completes.
void SetHelpFileName(std::string_view name);
void SetSystemPathLang(std::string_view lang);  // writes, then re-reads all program settings
void SetLibPathLang(std::string_view lang);     // writes, then re-reads all program settings

// ---- proxy ----

// Splits "use;host;port;field4;field5". A text shorter than 5 characters counts as "0;;;;". The first character
// "1" is puSystem, "2" puOwn, anything else puNone; Field5 is everything after the fourth ";".
void GetProxySettings(std::string_view S, TProxyUse& Use, std::string& Host, std::string& Port, std::string& Field4,
                      std::string& Field5);
void SetProxySettings(std::string& S, TProxyUse Use, std::string_view Host, std::string_view Port,
                      std::string_view Field4, std::string_view Field5);
// The system proxy. First the per-user key "Software\Microsoft\Windows\CurrentVersion\Internet settings" (values
// "ProxyEnable", an integer or binary "hex:01,00,00,00", and "ProxyServer" "host:port"); when that key is absent,
// the environment variables http_proxy, then HTTP_PROXY ("http://host:port/" or "host:port", an optional
// "user:password@" dropped), a non-empty one counting as enabled. Host and Port: the part before the first ":"
// and the decimal number after it; without ":" or with no number after it the whole value and 0. Never throws;
// returns the enabled flag.
bool GetWindowsProxySettings(std::string& Host, std::int32_t& Port);

// ---- special folders ----

// The shell folder identifiers the suite asks for.
inline constexpr std::int32_t CSIDL_PERSONAL = 0x0005;          // documents: XDG_DOCUMENTS_DIR, else $HOME
inline constexpr std::int32_t CSIDL_APPDATA = 0x001A;           // $XDG_CONFIG_HOME, else $HOME/.config
inline constexpr std::int32_t CSIDL_LOCAL_APPDATA = 0x001C;     // $XDG_DATA_HOME, else $HOME/.local/share
inline constexpr std::int32_t CSIDL_COMMON_APPDATA = 0x0023;    // first of $XDG_DATA_DIRS, else /usr/local/share
// The folder's path without a trailing "/"; empty for an identifier not listed above. The owner window is unused
// on Linux.
std::string GetSpecialFolder(std::uintptr_t Owner, std::int32_t Folder);

// "Tessaphon " + Module + " " + VersionKey, then " (" + Extra + ")", " - " + Document and " - [" + Item + "]"
// for those given (with a further " - " before the item when there is no document).
std::string GetProgCaption(std::string_view Module, std::string_view Document, std::string_view Item,
                           std::string_view Extra);

// ---------------------------------------------------------------------------------------------------------------
// Project settings ("Project.tp" in the project folder; a missing file reads as empty)
// ---------------------------------------------------------------------------------------------------------------

enum class TUnitLengthScale : std::uint8_t { ulsCm, ulsFeet };
enum class TGridSeed : std::uint8_t { gsHalfHalf, gsZeroZero };
enum class THouseNoRoadAlign : std::uint8_t { hrHouseNoRoad, hrRoadHouseNo };

// Each field holds the low byte of the integer stored, also when it names no enumeration value.
struct TGraphicsSettings {
  TUnitLengthScale UnitLengthScale = TUnitLengthScale::ulsCm;
  TGridSeed GridSeed = TGridSeed::gsHalfHalf;
};

struct TGeoDBSettings {
  double BldgHeight = 6;
  double RelHeightEFH = 6;
  double FloorHeight = 2.4;
  double RecFacDist = 0.01;
  THouseNoRoadAlign RoadHouseNoAlignment = THouseNoRoadAlign::hrHouseNoRoad;
  std::int32_t UsageArea = 7;
};

struct TNumberingSettings {
  std::string RecFmtIdent = "0000";
  std::string RecSrtIdent = "1234";
  std::string SrcFmtIdent = "0000";
  std::string SrcSrtIdent = "1234";
  std::string PhotoFmtIdent = "0000";
  std::string PhotoSrtIdent = "1234";
  std::string AlphaPattern = "AA";  // not stored
  std::string DigitPattern = "00";  // not stored
  char ListSeparator = ';';         // not stored
  char ExtraFlag = '\0';            // not stored; the character 0
};

struct TUsage {
  std::string Id;  // not touched by the routines here
  std::string Short;
  std::string Descr;
};
inline constexpr int kUsageCount = 25;
using TUsages = std::array<TUsage, kUsageCount>;

// The identifiers and default descriptions of the area usages, index 0..24.
inline constexpr std::array<const char*, kUsageCount> UsageIds = {
    "GI", "GE", "MK", "MI", "MD", "WB", "WA", "WS", "WR", "AU", "SOK", "SOS", "EG",
    "EW", "EP", "ES", "EF", "EC", "Z1", "Z2", "Z3", "Z4", "Z5", "Z6", "Z7"};
inline constexpr std::array<const char*, kUsageCount> UsageDescrs = {
    "Industrial area",     "Business destrict",   "Inner city",          "Mixed area",
    "Village area",        "Special residential", "General residential", "Residential scattered",
    "Pure residential",    "Residential outside area", "Hospitals",      "Schools",
    "Garden areas",        "Weekend housing",     "Public parks",        "Sport facilities",
    "Cemetary",            "Campgrounds",         "Additional area",     "Additional area",
    "Additional area",     "Additional area",     "Additional area",     "Additional area",
    "Additional area"};

// Hour flags: entry h is the hour that starts at h o'clock.
using THours = std::array<bool, 24>;

struct TTimeSlice {
  std::string Ident;  // hour ranges, e.g. "7-19" or "23-7" or "7-19;20-22"
  std::int32_t HourCount = 0;
  THours Hours{};
};
// Day, evening, night.
using TTimeSlices = std::array<TTimeSlice, 3>;

struct TStandardEnabledItem {
  TStandardEnabledItem(std::int32_t standardId, bool enabled) : StandardId(standardId), Enabled(enabled) {}
  std::int32_t StandardId;
  bool Enabled;
};

// The enabled state of the assessment standards; the list owns its items.
class TStandardEnabledList {
public:
  void Add(std::int32_t standardId, bool enabled) { items_.emplace_back(standardId, enabled); }
  int Count() const { return static_cast<int>(items_.size()); }
  // Throws EListError "List index out of bounds (%d)" outside 0..Count-1.
  const TStandardEnabledItem& Items(int index) const;
  // The flag of the first item with that identifier; true when none has it.
  bool GetEnabled(std::int32_t id) const;
  std::vector<TStandardEnabledItem>::const_iterator begin() const { return items_.begin(); }
  std::vector<TStandardEnabledItem>::const_iterator end() const { return items_.end(); }

private:
  std::vector<TStandardEnabledItem> items_;
};

// The project's settings file: the folder + "Project.tp" (a "/" put between when the folder has none).
std::string ProjectFileName(std::string_view folder);

// "graphics" / "UnitLengthScale" and "GridSeed", integers with default 0. Errors of the file pass to the caller.
void ReadGraphicsSettings(std::string_view folder, TGraphicsSettings& S);
// Section "GeoDB", each key under its own guard with the fallbacks of the record's defaults; a failing
// "roadhousenoAlignment" leaves the field unchanged.
void ReadGeoDBSettings(std::string_view folder, TGeoDBSettings& S);
// Section "numbering": the six identifiers, then the four fixed values.
void ReadNumberingSettings(std::string_view folder, TNumberingSettings& S);
// Section "usages": Id + ".Short" (default the Id) and Id + ".Descr" (default the description) for every usage.
void ReadUsages(std::string_view folder, TUsages& Usages);
void WriteUsages(std::string_view folder, const TUsages& Usages);
// Section "time slices DEN": "DayIdent" ("7-19"), "EveningIdent" ("19-23"), "NightIdent" ("23-7"); each slice's
// hours and count from its ident (an ident that does not parse gives no hour).
void ReadTimeSlices(std::string_view folder, TTimeSlices& Slices);
// Writes the three idents only.
void WriteTimeSlices(std::string_view folder, const TTimeSlices& Slices);

// Parses hour ranges "a-b;c-d" (a, b in 0..24; a > b wraps past midnight; only digits count in each part) into
// the hour flags. False, with every hour off, when a range does not parse.
bool SetBereich(std::string_view Text, THours& Hours);
// The hour flags as ranges, a range over midnight as one ("23-7"); "0-0" when no hour is set.
std::string GetBereich(const THours& Hours);

// Section "EnabledStandards": "id=value" pairs, enabled when the value is greater than 0; pairs whose key or
// value is not a decimal integer are skipped.
TStandardEnabledList ReadStdEnabledState(std::string_view folder);

}  // namespace vez
