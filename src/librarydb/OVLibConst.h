// OVLibConst: the library unit. Library types and their file names, the library table object TMyTable, the
// table layouts and new-record defaults of every type, and (re-exported from acoustics/Bands.h) the octave and
// third-octave bands and the weighting table, and (from acoustics/TNM.h and acoustics/Vocabularies.h) the TNM
// emission constants and the vocabularies of the standards. The TNM library read/write (emission/TNMLibrary.h)
// is not re-exported here: it sits above this target.
//
// A library type is a code 0 to 103 naming one kind of library table; codes 18, 19, 73 to 79 and 86 to 89
// are unassigned. The registry functions are plain functions over constant tables and never throw.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "acoustics/Bands.h"
#include "acoustics/TNM.h"
#include "acoustics/Vocabularies.h"
#include "librarydb/Absmain.h"
#include "librarydb/Defaults.h"
#include "librarydb/Layouts.h"

namespace vez {

// ---- library types ----

inline constexpr std::int32_t kLibTypeCount = 104;  // codes 0 .. 103

inline constexpr std::int32_t ltEmis = 0;
inline constexpr std::int32_t ltAbsor = 1;
inline constexpr std::int32_t ltTrans = 2;
inline constexpr std::int32_t ltAtten = 3;
inline constexpr std::int32_t ltAssess = 4;
inline constexpr std::int32_t ltTime = 5;
inline constexpr std::int32_t ltRiwi = 6;
inline constexpr std::int32_t ltRiwi3d = 7;
inline constexpr std::int32_t ltWind = 8;
inline constexpr std::int32_t ltStoffe = 9;
inline constexpr std::int32_t ltNMPBMet = 10;
inline constexpr std::int32_t ltTraffic = 11;
inline constexpr std::int32_t ltAirCrafts = 12;
inline constexpr std::int32_t ltNor2kRoad = 13;
inline constexpr std::int32_t ltN2kVehicles = 14;
inline constexpr std::int32_t ltRoadSurf = 15;
inline constexpr std::int32_t ltN2kTraf = 16;
inline constexpr std::int32_t ltProfiles = 17;
inline constexpr std::int32_t ltTS03 = 20;
inline constexpr std::int32_t ltTRMR2002 = 21;
inline constexpr std::int32_t ltTN2KRail = 22;
inline constexpr std::int32_t ltTTrapid = 23;
inline constexpr std::int32_t ltTHURail = 24;
inline constexpr std::int32_t ltTOeAL30TT = 25;
inline constexpr std::int32_t ltTNMVeh = 26;
inline constexpr std::int32_t ltMeteoStat = 27;
inline constexpr std::int32_t ltTSVBUSch = 28;
inline constexpr std::int32_t ltN2kWeather = 29;
inline constexpr std::int32_t ltTIsraeliRail = 30;
inline constexpr std::int32_t ltN2kWind = 31;
inline constexpr std::int32_t ltTSSNCF = 32;
inline constexpr std::int32_t ltTSemibel = 33;
inline constexpr std::int32_t ltEmisGrp = 34;
inline constexpr std::int32_t ltAbsorGrp = 35;
inline constexpr std::int32_t ltTransGrp = 36;
inline constexpr std::int32_t ltAttenGrp = 37;
inline constexpr std::int32_t ltZBDef = 38;
inline constexpr std::int32_t ltGebiete = 39;
inline constexpr std::int32_t ltTOeAl30 = 40;
inline constexpr std::int32_t ltRREC = 41;
inline constexpr std::int32_t ltRFRQ = 42;
inline constexpr std::int32_t ltRPDG = 43;
inline constexpr std::int32_t ltRR24 = 44;
inline constexpr std::int32_t ltRCON = 45;
inline constexpr std::int32_t ltREXP = 46;
inline constexpr std::int32_t ltRGRP = 47;
inline constexpr std::int32_t ltRMND = 48;
inline constexpr std::int32_t ltRMPC = 49;
inline constexpr std::int32_t ltRCFQ = 50;
inline constexpr std::int32_t ltRPAR = 51;
inline constexpr std::int32_t ltRSRC = 52;
inline constexpr std::int32_t ltRSFQ = 53;
inline constexpr std::int32_t ltRS24 = 54;
inline constexpr std::int32_t ltRRAI = 55;
inline constexpr std::int32_t ltRLMS = 56;
inline constexpr std::int32_t ltRREU = 57;
inline constexpr std::int32_t ltRABS = 58;
inline constexpr std::int32_t ltRSAK = 59;
inline constexpr std::int32_t ltRPG = 60;
inline constexpr std::int32_t ltRPF = 61;
inline constexpr std::int32_t ltRTAL = 62;
inline constexpr std::int32_t ltRPRF = 63;
inline constexpr std::int32_t ltRROA = 64;
inline constexpr std::int32_t ltRRO4 = 65;
inline constexpr std::int32_t ltRISM = 66;
inline constexpr std::int32_t ltRISL = 67;
inline constexpr std::int32_t ltRISH = 68;
inline constexpr std::int32_t ltRANC = 69;
inline constexpr std::int32_t ltRIPF = 70;
inline constexpr std::int32_t ltRRAD = 71;
inline constexpr std::int32_t ltRMPA = 72;
inline constexpr std::int32_t ltRunx = 80;
inline constexpr std::int32_t ltGeoDBObjExt = 81;
inline constexpr std::int32_t ltASCII2GeoDB = 82;
inline constexpr std::int32_t ltDBase2GeoDB = 83;
inline constexpr std::int32_t ltSdbx = 84;
inline constexpr std::int32_t ltAddresses = 85;
inline constexpr std::int32_t ltTCRN = 90;
inline constexpr std::int32_t ltTJapRail = 91;
inline constexpr std::int32_t ltTNMT = 92;
inline constexpr std::int32_t ltRTRK = 93;
inline constexpr std::int32_t ltRFLG = 94;
inline constexpr std::int32_t ltRFSG = 95;
inline constexpr std::int32_t ltAttrib = 96;
inline constexpr std::int32_t ltTgLuft = 97;
inline constexpr std::int32_t ltWgLuft = 98;
inline constexpr std::int32_t ltJgLuft = 99;
inline constexpr std::int32_t ltVehCatS03_2006 = 100;
inline constexpr std::int32_t ltTSS03_2006 = 101;
inline constexpr std::int32_t ltVehCatFRA2005 = 102;
inline constexpr std::int32_t ltTSFRA2005 = 103;

// Kind of library folder.
enum TLibPathType : std::uint8_t { lptSystem, lptGlobal, lptProject };
// Kind of import.
enum TImportType : std::uint8_t { itV42, itAsciiExcel, itV64 };
// TStdLibType and the other vocabularies of the standards: acoustics/Vocabularies.h (included above).

// The file name or file-name pattern of a library type ("emis.abs", "RREC????.abs", "*.runx"); "" for an
// unassigned code and for codes outside 0 to 103.
std::string LibName(std::int32_t LibType);
// LibName without its last three characters ("emis." for code 0); "" for an unassigned code.
std::string RegLibName(std::int32_t LibType);
// The library type of a bare file name (case-insensitive mask match against every LibName in ascending
// code order; "x.tabs" is looked up as its first eight characters + ".abs"); -1 when none matches.
std::int32_t GetLibType(std::string_view FileName);
// The constant name of a library type code ("ltEmis" for 0); nullptr for an unassigned code and for codes
// outside 0 to 103.
const char* LibTypeConstantName(std::int32_t LibType);
// Key and name field of a train or vehicle library; "TrainType" and "Name" for every other code.
std::string IdxFieldName(std::int32_t LibType);
std::string NameFieldName(std::int32_t LibType);

// ---- library table object ----

// One library file with the one table inside it, which bears the file's name. Owns its database and table
// objects; the database gets an alias no other live object uses (file name + "_" + a number). Opens nothing
// by itself; every engine failure reaches the caller and leaves the object usable.
class TMyTable {
public:
  // A library file (full path). The third argument has no effect.
  TMyTable(const std::string& FileName, bool ReadOnly, bool Unused = false);
  // No file yet: InitLib must follow before use.
  TMyTable();
  // Close, then frees the engine objects (never throws).
  ~TMyTable();
  TMyTable(const TMyTable&) = delete;
  TMyTable& operator=(const TMyTable&) = delete;

  TABSTable& Table() { return *table_; }
  TABSDatabase& Database() { return *database_; }

  // Rebinds the object to Path + Name (Path ends with the folder separator); closes database and table first.
  void InitLib(const std::string& Path, const std::string& Name, bool ReadOnly, bool MultiUser);
  // Creates the file when missing, then the table from the definitions the table holds.
  void CreateDBTable();
  // True when the file exists and holds the table; the table is not asked when the file is missing.
  bool Exists();
  // Moves the file to Path + NewName and gives the table the name NewName.
  void Rename(const std::string& Path, const std::string& NewName);
  // Closes database and table; a file that holds no table is deleted.
  void Close();

  // True when the database or the table is read-only; setting sets both.
  bool ReadOnly() const;
  void SetReadOnly(bool value);
  // The database's multi-user switch; setting it also sets the lock wait to 5 seconds.
  bool MultiUser() const;
  void SetMultiUser(bool value);

  // The alias of this object's database.
  const std::string& Alias() const { return database_->DatabaseName(); }

private:
  std::unique_ptr<TABSDatabase> database_;
  std::unique_ptr<TABSTable> table_;
};

// A new library file that appears under its name only complete. The constructor binds the library object's
// database to a passing file in the same folder (".NAME.PID-N.new": the making process's number, a count, and
// SQLite's journal beside it as ".NAME.PID-N.new-journal"), locked (flock) by this object while it lives, where
// CreateDBTable makes the file and the caller fills it; Publish moves it to the library's name. Unpublished, the
// destructor removes the passing file, so a failed or interrupted creation leaves no library behind. A killed
// program cannot remove its own: the constructor first removes every passing file of the folder whose lock is
// free and whose process is gone (RemoveAbandonedLibraryFiles), so the next library made there, or the next
// conversion of the folder, clears what a killed run left. The object must not outlive the TMyTable it is given.
// Whether a file name is a new library's passing file or its journal: such a file is never a library, and the
// folder listings leave it out.
bool IsPassingLibraryFile(const std::string& fileName);
// Removes the passing files of `folder` that a killed process left: those whose process no longer runs and whose
// lock is free (a live run's files, also of another process, are never touched). Gives the number of files
// removed.
std::int32_t RemoveAbandonedLibraryFiles(const std::string& folder);

class TNewLibraryFile {
public:
  // `folder` puts the passing file elsewhere (a dry run builds its scratch library in a temporary folder).
  explicit TNewLibraryFile(TMyTable& lib, const std::string& folder = std::string());
  ~TNewLibraryFile();
  TNewLibraryFile(const TNewLibraryFile&) = delete;
  TNewLibraryFile& operator=(const TNewLibraryFile&) = delete;

  const std::string& PassingFileName() const { return passing_; }
  const std::string& FileName() const { return target_; }
  // Closes the library object and moves the passing file to the library's name, which the object is bound to
  // again. A file of that name that appeared meanwhile is never replaced: EDatabaseError, and the passing file
  // stays until the destructor removes it.
  void Publish();
  bool Published() const { return published_; }

private:
  TMyTable& lib_;
  std::string target_;
  std::string passing_;
  int lockFd_ = -1;
  bool published_ = false;
};

}  // namespace vez
