// The layouts of every library type, written as rows the way the layout tables write them.
#include "librarydb/layouts/LayoutRows.h"

namespace vez::detail {
namespace {

using K = ColumnKind;

constexpr std::uint8_t P = kIndexPrimary;
constexpr std::uint8_t PU = kIndexPrimary | kIndexUnique;
constexpr std::uint8_t UCI = kIndexUnique | kIndexCaseInsensitive;
constexpr std::uint8_t CI = kIndexCaseInsensitive;
constexpr std::uint8_t NONE = 0;

// ---- indexes shared by many layouts ----

constexpr IndexRow kIdxEintragEN[] = {{"p", "Eintrag", P}, {"EN", "ElementName", UCI}};

// ---- acoustic elements: emission, absorption, transmission, attenuation ----

// Up to and including "Values0"; emission and transmission insert their own rows after it.
constexpr LayoutRow kElementHead[] = {
    Field("Eintrag", K::AutoInc),
    Field("ElementName", K::Text, 80),
    Run("Values", 1, 30, K::Double),
    Field("Values0", K::Double),
};

constexpr LayoutRow kEmisInsert[] = {
    Field("HeightAboveGround", K::Double),
    Run("RichtwirkungenH", 1, 30, K::Int32),
    Run("RichtwirkungenV", 1, 30, K::Int32),
};

constexpr LayoutRow kTransInsert[] = {
    Field("C", K::Double),
    Field("Ctr", K::Double),
    Field("SingleValue", K::Boolean),
};

constexpr LayoutRow kElementTail[] = {
    Run("Gruppen", 1, 4, K::Int32),
    Field("Art", K::UInt16),
    Run("Kennwerte", 1, 4, K::Double),
    Run("Kennchar", 1, 4, K::Text, 1),
    Field("Symbol", K::Int32),
    Run("KennNames", 1, 4, K::Text, 30),
    Field("Lower", K::UInt16),
    Field("Upper", K::UInt16),
    Field("Terz", K::Boolean),
    Field("Komplett", K::Boolean),
    Field("RiwiArt", K::UInt16),
    Field("OneForAll", K::UInt16),
    Run("OLE", 1, 4, K::Text, 120),
    Field("Kommentar", K::Memo).Packed(),
    Field("Graphic", K::Graphic).Packed(),
    Field("LastChangeDateTime", K::DateTime),
};

// ---- assessment, time variation, directivity ----

constexpr LayoutRow kAssess[] = {
    Field("BwName", K::Text, 40),
    Field("BwNummer", K::AutoInc),
    Field("Kommentar", K::Memo),
};
// The primary index names its field with a lower-case n; the engine matches field names without case.
constexpr IndexRow kAssessIdx[] = {{"p", "Bwname", P}, {"Nr", "BwNummer", CI}};

constexpr LayoutRow kTime[] = {
    Field("Eintrag", K::AutoInc),
    Field("ElementName", K::Text, 40),
    Run("Values", 0, 24, K::Double),
    Field("Einheit", K::Int32),
    Field("LastChangeDateTime", K::DateTime),
    Field("Kommentar", K::Memo),
    Field("DisplayValue", K::Text, 30),
};

constexpr LayoutRow kRiwi[] = {
    Field("Eintrag", K::AutoInc),
    Field("ElementName", K::Text, 40),
    Run("Winkel", 1, 36, K::Double),
    Run("Values", 0, 36, K::Double),
    Field("Komplett", K::Boolean),
    Field("Kommentar", K::Memo),
    Field("LastChangeDateTime", K::DateTime),
};

constexpr LayoutRow kRiwi3d[] = {
    Field("Eintrag", K::AutoInc),
    Field("ElementName", K::Text, 40),
    Run("Winkelxy", 0, 35, K::Double),
    Run("Winkelyz", 0, 18, K::Double),
    Field("Values", K::Blob, 2736),
    Field("Komplett", K::Boolean),
    Field("Kommentar", K::Memo),
    Field("LastChangeDateTime", K::DateTime),
};

// ---- groups, assessment definitions, areas ----

constexpr LayoutRow kGroups[] = {
    Field("Eintrag", K::AutoInc),
    Field("GruppenName", K::Text, 40),
};
constexpr IndexRow kGroupsIdx[] = {{"p", "Eintrag", P}, {"EN", "GruppenName", UCI}};

constexpr LayoutRow kZBDef[] = {
    Field("ZbNummer", K::AutoInc),
    Field("AssessmentType", K::Int32),
    Field("ZbName", K::Text, 60),
    Field("Bezeichner", K::Text, 10),
    Field("LimitName", K::Text, 60),
    Field("LimitShort", K::Text, 15),
    Field("BwNummer", K::Int32),
    Run("h", 1, 24, K::Boolean),
    Field("loudestN", K::Int16),
    Field("Tbewert", K::Double),
    Field("Limits", K::Blob),
    Field("withPenalties", K::Boolean),
    Field("NATThreshold", K::Double),
    Field("TransmissionLoss", K::Double),
};
constexpr IndexRow kZBDefIdx[] = {{"p", "ZbNummer", P}, {"Nr", "BwNummer", CI}};

constexpr LayoutRow kGebiete[] = {
    Field("Kzlnummer", K::AutoInc),
    Field("Kzl", K::Text, 3),
    Field("BwNummer", K::Int32),
    Run("Z", 1, 24, K::Double),
};
constexpr IndexRow kGebieteIdx[] = {{"p", "Kzlnummer", P}, {"Nr", "BwNummer", CI}};

// ---- daily, weekly and yearly courses of the air-pollution sources ----

constexpr LayoutRow kTgLuft[] = {
    Field("Eintrag", K::AutoInc),
    Field("ElementName", K::Text, 40),
    Field("Einheit", K::Int32),
    Field("Reference", K::Text, 40),
    Field("Description", K::Text, 40),
    Run("Value", 1, 24, K::Double),
    Field("Kommentar", K::Memo),
    Field("LastChangeDateTime", K::DateTime),
};

constexpr LayoutRow kWgLuft[] = {
    Field("Eintrag", K::AutoInc),
    Field("ElementName", K::Text, 40),
    Field("Einheit", K::Int32),
    InTurn(1, 7, Column{"Tagesgang", K::Int32}, Column{"Value", K::Double}),
    Field("Kommentar", K::Memo),
    Field("LastChangeDateTime", K::DateTime),
};

constexpr LayoutRow kJgLuft[] = {
    Field("Eintrag", K::AutoInc),
    Field("ElementName", K::Text, 40),
    Field("Jahr", K::Int32),
    Field("Schaltjahr", K::Boolean),
    Field("Einheit", K::Int32),
    Field("Wochengaenge", K::Blob),
    Field("Kommentar", K::Memo),
    Field("LastChangeDateTime", K::DateTime),
};

// ---- road traffic, vehicles, aircraft, road surfaces, cross sections ----

constexpr LayoutRow kTraffic[] = {
    Field("Eintrag", K::AutoInc).Req(),
    Field("ElementName", K::Text, 40).Req(),
    Field("StdLibType", K::Int32).Req(),
    Field("Values", K::Blob, 1920),
    Field("DisplayValue", K::Text, 30),
    Field("UseAsIs", K::Boolean).Req(),
    Field("LastChangeDateTime", K::DateTime),
    Field("Kommentar", K::Memo),
};

constexpr LayoutRow kAirCrafts[] = {
    Field("Eintrag", K::AutoInc).Req(),
    Field("ElementName", K::Text, 40).Req(),
    Field("Air_Group", K::Text, 40).Req(),
    Field("Air_Cat", K::Int32),
    Field("Air_Type", K::Int32),
    Field("Aircraft_DATA", K::Memo),
    Field("LastChangeDateTime", K::DateTime),
    Field("Kommentar", K::Memo).Packed(),
    Field("Graphic", K::Graphic).Packed(),
};

constexpr LayoutRow kNor2kRoad[] = {
    Field("Eintrag", K::AutoInc).Req(),
    Field("ElementName", K::Text, 40).Req(),
    Field("VehCat", K::Int32).Req(),
    Field("RoadCat", K::Int32).Req(),
    Field("DrivingCat", K::Int32).Req(),
    Field("LowerSpeed", K::Int32).Req(),
    Field("UpperSpeed", K::Int32).Req(),
    Field("SpeedStep", K::Int32).Req(),
    Field("Values", K::Blob, 4480),
    Field("LastChangeDateTime", K::DateTime),
    Field("Kommentar", K::Memo),
};
constexpr IndexRow kNor2kRoadIdx[] = {
    {"p", "Eintrag", P}, {"EN", "ElementName", UCI}, {"Cat", "VehCat;RoadCat;DrivingCat", UCI}};

constexpr LayoutRow kN2kVehicles[] = {
    Field("Eintrag", K::AutoInc).Req(),
    Field("ElementName", K::Text, 40).Req(),
    Field("VehCat", K::Int32).Req(),
    Field("Axles", K::Int32).Req(),
    Field("CelCoeff", K::Double).Req(),
    Field("Values", K::Blob, 448),
    Field("LastChangeDateTime", K::DateTime),
    Field("Kommentar", K::Memo).Packed(),
    Field("Graphic", K::Graphic).Packed(),
};

constexpr LayoutRow kRoadSurf[] = {
    Field("Eintrag", K::AutoInc).Req(),
    Field("ElementName", K::Text, 40).Req(),
    Field("RS", K::Double).Req(),
    Field("CS", K::Double).Req(),
    Field("TC", K::Double).Req(),
    Field("dLRoad", K::Double).Req(),
    Field("dLRoadCalced", K::Boolean).Req(),
    Field("LastChangeDateTime", K::DateTime),
    Field("Kommentar", K::Memo),
};

constexpr LayoutRow kN2kTraf[] = {
    Field("Eintrag", K::AutoInc).Req(),
    Field("ElementName", K::Text, 40).Req(),
    Field("Values", K::Blob),
    Field("DisplayValue", K::Text, 30),
    Field("UseAsIs", K::Boolean).Req(),
    Field("LastChangeDateTime", K::DateTime),
    Field("Kommentar", K::Memo),
};

constexpr LayoutRow kProfiles[] = {
    Field("Eintrag", K::AutoInc).Req(),
    Field("ElementName", K::Text, 40).Req(),
    Field("TwoLanes", K::Boolean),
    Field("LBorder", K::Double),
    Field("LLane", K::Double),
    Field("Middle", K::Double),
    Field("RLane", K::Double),
    Field("RBorder", K::Double),
    Field("LEmis", K::Double),
    Field("REmis", K::Double),
    Field("Kommentar", K::Memo).Packed(),
    Field("Graphic", K::Graphic).Packed(),
};

// ---- train types of the national rail standards ----

constexpr IndexRow kIdxZugArt[] = {{"p", "ZugArt", P}, {"EN", "Name", UCI}};
constexpr IndexRow kIdxTrainType[] = {{"p", "TrainType", P}, {"EN", "Name", UCI}};
constexpr IndexRow kIdxNo[] = {{"p", "No", P}, {"EN", "Name", UCI}};

constexpr LayoutRow kTS03[] = {
    Field("ZugArt", K::AutoInc).Req(),
    Field("Name", K::Text, 40).Req(),
    Field("SBA", K::Double),
    Field("Vmax", K::Double),
    Field("LZug", K::Double),
    Field("DFz", K::Double),
    Field("DAo", K::Double),
    Field("Kommentar", K::Memo).Packed(),
    Field("Graphic", K::Graphic).Packed(),
};

constexpr LayoutRow kTRMR2002[] = {
    Field("TrainIdx", K::AutoInc).Req(),
    Field("TrainName", K::Text, 40).Req(),
    Field("TrainCategory", K::Text, 10).Req(),
    Field("Vc", K::Double),
    Field("Kommentar", K::Memo).Packed(),
    Field("Graphic", K::Graphic).Packed(),
};
constexpr IndexRow kTRMR2002Idx[] = {{"p", "TrainIdx", P}, {"EN", "TrainName", UCI}};

constexpr LayoutRow kTN2KRail[] = {
    Field("TrainNo", K::AutoInc).Req(),
    Field("Name", K::Text, 80).Req(),
    Run("A", 1, 27, K::Double),
    Run("B", 1, 27, K::Double),
    Run("H", 1, 4, K::Double),
    Field("ftr", K::Int32),
    Field("Kommentar", K::Memo).Packed(),
    Field("Graphic", K::Graphic).Packed(),
};
constexpr IndexRow kTN2KRailIdx[] = {{"p", "TrainNo", P}, {"EN", "Name", UCI}};

constexpr LayoutRow kTTrapid[] = {
    Field("ZugArt", K::AutoInc).Req(),
    Field("Name", K::Text, 40).Req(),
    Field("Vmax", K::Double),
    Field("LZug", K::Double),
    Field("DFzme", K::Double),
    Field("DFzae", K::Double),
    Field("Kommentar", K::Memo).Packed(),
    Field("Graphic", K::Graphic).Packed(),
};

constexpr LayoutRow kTHURail[] = {
    Field("TrainType", K::AutoInc).Req(),
    Field("Name", K::Text, 40).Req(),
    Field("A[dB]", K::Double),
    Field("B[dB]", K::Double),
    Field("l[m]", K::Double),
    Field("lref[m]", K::Double),
    Field("v[km/h]", K::Double),
    Field("p[%]", K::Double),
    Field("Kklow[dB]", K::Double),
    Field("Kkhigh[dB]", K::Double),
    Field("Kommentar", K::Memo).Packed(),
    Field("Graphic", K::Graphic).Packed(),
};

// The key of this one is a plain integer chosen by the user, not an auto-increment.
constexpr LayoutRow kTOeAL30TT[] = {
    Field("TrainType", K::Int32).Req(),
    Field("TrainName", K::Text, 40).Req(),
    Field("Kommentar", K::Memo).Packed(),
    Field("Graphic", K::Graphic).Packed(),
};
constexpr IndexRow kTOeAL30TTIdx[] = {{"p", "TrainType", P}, {"EN", "TrainName", UCI}};

constexpr LayoutRow kTNMVeh[] = {
    Field("Eintrag", K::AutoInc),
    Field("ElementName", K::Text, 40),
    Field("BaseVT", K::Int32),
    TnmCoefficients(K::Double),
    Field("LastChangeDateTime", K::DateTime),
    Field("Kommentar", K::Memo).Packed(),
    Field("Graphic", K::Graphic).Packed(),
};

constexpr LayoutRow kTSVBUSch[] = {
    Field("ZugArt", K::AutoInc).Req(),
    Field("Name", K::Text, 40).Req(),
    Field("SBA", K::Double),
    Field("Vmax", K::Double),
    Field("LZug", K::Double),
    Field("DFz", K::Double),
    Field("Kommentar", K::Memo).Packed(),
    Field("Graphic", K::Graphic).Packed(),
};

constexpr LayoutRow kTIsraeliRail[] = {
    Field("TrainType", K::AutoInc).Req(),
    Field("Name", K::Text, 40).Req(),
    Field("Locomotive", K::Boolean),
    Field("LpRef", K::Double),
    Field("Cv", K::Double),
    Field("Vref", K::Double),
    Field("CrUnwelded", K::Double),
    Field("Kommentar", K::Memo).Packed(),
    Field("Graphic", K::Graphic).Packed(),
};

// The emission runs were added to this layout after "Graphic" and stay there.
constexpr LayoutRow kTSSNCF[] = {
    Field("TrainType", K::AutoInc).Req(),
    Field("Name", K::Text, 40).Req(),
    Field("Vmax", K::Double),
    Field("LTrain", K::Double),
    Field("Kommentar", K::Memo).Packed(),
    Field("Graphic", K::Graphic).Packed(),
    Run("Emis", 3, 8, K::Double),
    Run("EmisHeight", 3, 8, K::Double),
};

constexpr LayoutRow kTSemibel[] = {
    Field("No", K::AutoInc).Req(),
    Field("Name", K::Text, 40).Req(),
    Field("A", K::Double),
    Field("B", K::Double),
    Field("L", K::Double),
    Field("Kommentar", K::Memo).Packed(),
    Field("Graphic", K::Graphic).Packed(),
};

constexpr LayoutRow kTOeAl30[] = {
    Field("No", K::AutoInc).Req(),
    Field("TrainType", K::Int32).Req(),
    Field("Speed", K::Double),
    Run("Freq", 1, 8, K::Double),
};
constexpr IndexRow kTOeAl30Idx[] = {{"p", "No", P}, {"TypeIdx", "TrainType", CI}, {"SpeedIdx", "Speed", CI}};

constexpr LayoutRow kTCRN[] = {
    Field("TrainType", K::AutoInc).Req(),
    Field("TrainCategory", K::Text, 80).Req(),
    Field("TrainName", K::Text, 80).Req(),
    Field("Speed", K::Double),
    Field("Correction", K::Double),
    Field("EmissionType", K::Int32),
    Field("Kommentar", K::Memo).Packed(),
    Field("Graphic", K::Graphic).Packed(),
};
// One train name may occur in several categories.
constexpr IndexRow kTCRNIdx[] = {{"p", "TrainType", P}, {"EN", "TrainCategory;TrainName", UCI}};

constexpr LayoutRow kTJapRail[] = {
    Field("No", K::AutoInc).Req(),
    Field("Name", K::Text, 50).Req(),
    Field("PWLa_Ballast", K::Double),
    Field("PWLa_Concrete", K::Double),
    Field("PWLc", K::Double),
    Field("GearRatio", K::Double),
    Field("FanType", K::Int16),
    Field("PWLb_Ballast", K::Double),
    Field("PWLb_Concrete", K::Double),
    Field("V", K::Double),
    Field("S", K::Double),
    Field("Sm", K::Double),
    Field("Kommentar", K::Memo).Packed(),
    Field("Graphic", K::Graphic).Packed(),
};

constexpr LayoutRow kTNMT[] = {
    Field("TrainNo", K::AutoInc).Req(),
    Field("Type", K::Text, 30),
    Field("Class", K::Text, 10),
    Field("Power", K::Text, 10),
    Field("Sleeper", K::Text, 10),
    InTurn(1, 7, Column{"A", K::Double}, Column{"B", K::Double}),
    Field("Kommentar", K::Memo).Packed(),
    Field("Graphic", K::Graphic).Packed(),
};
constexpr IndexRow kTNMTIdx[] = {{"p", "TrainNo", P}, {"EN", "Type", UCI}};

// The octave bands of the Swiss 2006 rail model, as they appear in its field names.
constexpr std::int32_t kS03Octaves[] = {63, 125, 250, 500, 1000, 2000, 4000, 8000};

constexpr LayoutRow kVehCatS03_2006[] = {
    Field("Eintrag", K::AutoInc),
    Field("ElementName", K::Text, 80),
    Field("TrainType", K::Int32),
    Field("nAchs0", K::Int32),
    Field("Length/m", K::Double),
    Grid("af_", 1, 11, kS03Octaves, K::Double),
    Run("aA", 1, 11, K::Double),
    Field("Kommentar", K::Memo),
    Field("LastChangeDateTime", K::DateTime),
};

constexpr LayoutRow kTSS03_2006[] = {
    Field("Eintrag", K::AutoInc),
    Field("ElementName", K::Text, 80),
    Field("TrainType", K::Int32),
    Field("vMax", K::Double),
    Field("Data", K::Blob),
    Grid("b_", 1, 11, kS03Octaves, K::Double),
    Field("Kommentar", K::Memo),
    Field("LastChangeDateTime", K::DateTime),
};

constexpr LayoutRow kVehCatFRA2005[] = {
    Field("Eintrag", K::AutoInc),
    Field("ElementName", K::Text, 80),
    Field("VehicleCategorie", K::Int32),
    Field("TrainType", K::Int32),
    Field("Unit", K::Int32),
    Field("Data", K::Blob),
    Field("Kommentar", K::Memo),
    Field("LastChangeDateTime", K::DateTime),
};

constexpr LayoutRow kTSFRA2005[] = {
    Field("Eintrag", K::AutoInc),
    Field("ElementName", K::Text, 80),
    Field("vMax", K::Double),
    Field("TrainType", K::Int32),
    Field("Unit", K::Int32),
    Field("Data", K::Blob),
    Field("Kommentar", K::Memo),
    Field("LastChangeDateTime", K::DateTime),
};

// ---- meteorology, pollutants, attribute store ----

// The third run's stem is "C0", so its fields are C01 .. C012.
constexpr LayoutRow kWind[] = {
    Field("Eintrag", K::AutoInc),
    Field("ElementName", K::Text, 40),
    Run("Percentage", 0, 12, K::Double),
    Run("Speed", 1, 12, K::Double),
    Run("C0", 1, 12, K::Double),
    Field("Kommentar", K::Memo),
    Field("LastChangeDateTime", K::DateTime),
};

constexpr LayoutRow kStoffe[] = {
    Field("Eintrag", K::AutoInc).Req(),
    Field("Short", K::Text, 8).Req(),
    Field("StoffName", K::Text, 40).Req(),
    Field("NOx", K::Boolean).Req(),
    Field("Sedimentation", K::Double),
    Field("Deposition", K::Double),
    Field("Kornfraktion", K::Int32),
    Field("Limit_Mean", K::Double),
    Field("Perc", K::Double),
    Field("FromDayMean", K::Boolean),
    Field("Limit_Perc", K::Double),
    Field("Limit_Scent", K::Double),
    Field("LastChangeDateTime", K::DateTime),
    Field("Kommentar", K::Memo),
};
// Pollutants are known by their short name.
constexpr IndexRow kStoffeIdx[] = {{"p", "Eintrag", P}, {"EN", "Short", UCI}};

constexpr LayoutRow kNMPBMet[] = {
    Field("Eintrag", K::AutoInc),
    Field("ElementName", K::Text, 40),
    Field("TimeSliceCount", K::Int32),
    Field("Values", K::Blob, 222),
    Field("Kommentar", K::Memo),
    Field("LastChangeDateTime", K::DateTime),
};

constexpr LayoutRow kMeteoStat[] = {
    Field("Eintrag", K::AutoInc),
    Field("ElementName", K::Text, 40).Req(),
    Field("LastChangeDateTime", K::DateTime),
    Field("Kommentar", K::Memo),
    Field("Easting", K::Double),
    Field("Northing", K::Double),
    Field("Latitude", K::Text, 20),
    Field("Longitude", K::Text, 20),
    Field("UTMZone", K::Text, 32),
    Field("AnemometerHeight", K::Double),
    Run("Graphic", 1, 3, K::Graphic),
    Field("RawDataVersion", K::Int32),
    Field("RawData", K::Blob),
    Field("TCType", K::Int32),
    Field("TCLower", K::Double),
    Field("TCStep", K::Double),
    Field("TCCount", K::Int32),
    Field("SectorCount", K::Int32),
    Field("FirstSector", K::Int32),
    Field("CalmenType", K::Int32),
    Field("Calmen", K::Double),
    Field("SpeedCType", K::Int32),
    Field("SCLower", K::Double),
    Field("SCStep", K::Double),
    Field("SCCount", K::Int32),
    Field("UnitSpeed", K::Int32),
    Field("UnitTemperatur", K::Int32),
    Field("PartitionWD", K::Int32),
    Field("FirstPartition", K::Int32),
    Field("OrgTCType", K::Int32),
    Field("OrgTCLower", K::Double),
    Field("OrgTCStep", K::Double),
    Field("OrgTCCount", K::Int32),
    Field("OrgSectorCount", K::Int32),
    Field("OrgFirstSector", K::Int32),
    Field("OrgSpeedCType", K::Int32),
    Field("OrgCalmenType", K::Int32),
    Field("OrgCalmen", K::Double),
    Field("OrgSCLower", K::Double),
    Field("OrgSCStep", K::Double),
    Field("OrgSCCount", K::Int32),
    Field("OrgUnitSpeed", K::Int32),
    Field("OrgUnitTemperatur", K::Int32),
    Field("OrgPartitionWD", K::Int32),
    Field("OrgFirstPartition", K::Int32),
    Field("Roughness", K::Double),
    Field("TimeCorrection", K::Int32),
    Field("DSTDefined", K::Boolean),
    Field("DSTOffset", K::Int32),
    Field("DSTBegin", K::DateTime),
    Field("DSTEnd", K::DateTime),
    Field("StoffName", K::Text, 40).Req(),
    Field("StoffName2", K::Text, 40).Req(),
    Field("WindRoseTitleDefault", K::Boolean),
    Field("WindRoseTitle", K::Memo),
    Field("WindHistogramTitleDefault", K::Boolean),
    Field("WindHistogramTitle", K::Memo),
    Field("PollutantTitleDefault", K::Boolean),
    Field("PollutantTitle", K::Memo),
};

constexpr LayoutRow kN2kWeather[] = {
    Field("Eintrag", K::AutoInc),
    Field("ElementName", K::Text, 40),
    Field("AirPressure/mbar", K::Double),
    Field("z0/m", K::Double),
    Field("sigmau", K::Double),
    Field("sigmadtdz", K::Double),
    Field("Cw2", K::Double),
    Field("Ct2", K::Double),
    Run("Values", 1, 3, K::Blob, 10800),
    Field("Kommentar", K::Memo).Packed(),
    Field("Graphic", K::Graphic).Packed(),
    Field("LastChangeDateTime", K::DateTime),
};

constexpr LayoutRow kN2kWind[] = {
    Field("Eintrag", K::AutoInc),
    Field("ElementName", K::Text, 40),
    Field("VersionId", K::Int32),
    Field("Values", K::Blob, 81),
    Field("Kommentar", K::Memo).Packed(),
    Field("Graphic", K::Graphic).Packed(),
    Field("LastChangeDateTime", K::DateTime),
};

constexpr LayoutRow kAttrib[] = {
    Field("IDX", K::Int32),
    Field("RECIDENT", K::Int32),
    Field("RECSIZE", K::Int32),
    Field("RECDATA", K::Blob, 200),
};
constexpr IndexRow kAttribIdx[] = {{"idxPrimary", "IDX", PU}};

// ---- index-only definitions of the result, run, import and address tables ----

constexpr IndexRow kRREC[] = {{"p", "RecNo;Floor", PU}};
constexpr IndexRow kRFRQ[] = {{"p", "FrqNo", PU}, {"RecIdx", "RecNo;Floor", NONE}};
constexpr IndexRow kRPDG[] = {{"p", "PDGNo", PU}, {"RecIdx", "RecNo;Floor", NONE}};
constexpr IndexRow kRR24[] = {{"p", "R24No", PU}, {"RecIdx", "RecNo;Floor", NONE}};
constexpr IndexRow kRCON[] = {{"p", "SrcNo;RecNo;Floor", PU}, {"RecIdx", "RecNo;Floor", NONE}};
constexpr IndexRow kRGRP[] = {{"p", "GrpNo", PU}, {"RecIdx", "RecNo;Floor", NONE}};
constexpr IndexRow kRMND[] = {{"p", "SrcNo", PU}};
constexpr IndexRow kRCFQ[] = {{"p", "FrqNo", PU}};
// Results per pollutant carry the pollutant number in their key.
constexpr IndexRow kRS24[] = {{"p", "SrcNo", PU, "StoffNr", "SrcNo;StoffNr"}};
constexpr IndexRow kRRAI[] = {{"p", "IDX", PU}};
constexpr IndexRow kRLMS[] = {{"p", "LMSIdx", PU}};
constexpr IndexRow kRREU[] = {{"p", "RecNo;Floor", PU}};
constexpr IndexRow kRABS[] = {{"p", "AbsNo", PU}};
constexpr IndexRow kRSAK[] = {{"p", "SAKNo", PU}};
constexpr IndexRow kRPG[] = {{"p", "EQNo", PU}, {"RecIdx", "RecNo;Floor", NONE}};
constexpr IndexRow kRPF[] = {{"p", "No", PU}, {"EQNo", "EQNo", NONE}};
constexpr IndexRow kRTAL[] = {{"p", "TALNo", PU}};
constexpr IndexRow kRROA[] = {{"p", "IDX", PU}, {"NameIDX", "Roadname", CI}};
constexpr IndexRow kRRO4[] = {{"p", "IDX;StoffNr", PU}};
constexpr IndexRow kRISM[] = {{"p", "IsoID;IsoNo", PU}};
constexpr IndexRow kRISL[] = {{"p", "IsoID;IsoNo;IsoPNo", PU}};
constexpr IndexRow kRANC[] = {{"p", "ANCIdx", PU}};
constexpr IndexRow kRRAD[] = {{"p", "No", PU}, {"IDX", "IDX", NONE}};
constexpr IndexRow kRMPA[] = {{"p", "IDX", PU}, {"RecIdx", "RecNo;Floor", NONE}};
// Several runs may share a number, so the primary index of the run files is not unique.
constexpr IndexRow kRunx[] = {{"p", "No", P},
                              {"CalcIdx", "Calc", CI},
                              {"NameIdx", "Name", CI},
                              {"CalcTypeIdx", "CalcType", CI},
                              {"ResultsIdx", "Results", CI}};
constexpr IndexRow kAddresses[] = {{"p", "Eintrag", PU}, {"NameSort", "LastName", CI}};
constexpr IndexRow kRTRK[] = {{"p", "TRKNo", PU}};
constexpr IndexRow kRFLG[] = {{"p", "Idx", PU}, {"TRKIdx", "TRKNo", NONE}};
constexpr IndexRow kRFSG[] = {{"p", "Idx", PU}, {"TRKFLGIdx", "TRKNo;FLGNo", NONE}};

// ---- the table of types ----

constexpr LayoutDescription Classic(std::span<const LayoutRow> rows, std::span<const IndexRow> indexes) {
  return LayoutDescription{LayoutFamily::Classic, {rows, {}, {}}, indexes};
}
constexpr LayoutDescription Advanced(std::span<const LayoutRow> rows, std::span<const IndexRow> indexes) {
  return LayoutDescription{LayoutFamily::Advanced, {rows, {}, {}}, indexes};
}

constexpr LayoutDescription kEmisLayout{LayoutFamily::Advanced, {kElementHead, kEmisInsert, kElementTail},
                                        kIdxEintragEN};
constexpr LayoutDescription kAbsorLayout{LayoutFamily::Advanced, {kElementHead, {}, kElementTail}, kIdxEintragEN};
constexpr LayoutDescription kTransLayout{LayoutFamily::Advanced, {kElementHead, kTransInsert, kElementTail},
                                         kIdxEintragEN};

struct TypeLayout {
  std::int32_t code;
  LayoutDescription layout;
};

constexpr TypeLayout kLayouts[] = {
    {0, kEmisLayout},
    {1, kAbsorLayout},
    {2, kTransLayout},
    {3, kAbsorLayout},
    {4, Classic(kAssess, kAssessIdx)},
    {5, Classic(kTime, kIdxEintragEN)},
    {6, Classic(kRiwi, kIdxEintragEN)},
    {7, Classic(kRiwi3d, kIdxEintragEN)},
    {8, Classic(kWind, kIdxEintragEN)},
    {9, Classic(kStoffe, kStoffeIdx)},
    {10, Classic(kNMPBMet, kIdxEintragEN)},
    {11, Classic(kTraffic, kIdxEintragEN)},
    {12, Advanced(kAirCrafts, kIdxEintragEN)},
    {13, Classic(kNor2kRoad, kNor2kRoadIdx)},
    {14, Advanced(kN2kVehicles, kIdxEintragEN)},
    {15, Classic(kRoadSurf, kIdxEintragEN)},
    {16, Classic(kN2kTraf, kIdxEintragEN)},
    {17, Advanced(kProfiles, kIdxEintragEN)},
    {20, Advanced(kTS03, kIdxZugArt)},
    {21, Advanced(kTRMR2002, kTRMR2002Idx)},
    {22, Advanced(kTN2KRail, kTN2KRailIdx)},
    {23, Advanced(kTTrapid, kIdxZugArt)},
    {24, Advanced(kTHURail, kIdxTrainType)},
    {25, Advanced(kTOeAL30TT, kTOeAL30TTIdx)},
    {26, Advanced(kTNMVeh, kIdxEintragEN)},
    {27, Classic(kMeteoStat, kIdxEintragEN)},
    {28, Advanced(kTSVBUSch, kIdxZugArt)},
    {29, Advanced(kN2kWeather, kIdxEintragEN)},
    {30, Advanced(kTIsraeliRail, kIdxTrainType)},
    {31, Advanced(kN2kWind, kIdxEintragEN)},
    {32, Advanced(kTSSNCF, kIdxTrainType)},
    {33, Advanced(kTSemibel, kIdxNo)},
    {34, Classic(kGroups, kGroupsIdx)},
    {35, Classic(kGroups, kGroupsIdx)},
    {36, Classic(kGroups, kGroupsIdx)},
    {37, Classic(kGroups, kGroupsIdx)},
    {38, Classic(kZBDef, kZBDefIdx)},
    {39, Classic(kGebiete, kGebieteIdx)},
    {40, Classic(kTOeAl30, kTOeAl30Idx)},
    {90, Advanced(kTCRN, kTCRNIdx)},
    {91, Advanced(kTJapRail, kIdxNo)},
    {92, Advanced(kTNMT, kTNMTIdx)},
    {96, Classic(kAttrib, kAttribIdx)},
    {97, Classic(kTgLuft, kIdxEintragEN)},
    {98, Classic(kWgLuft, kIdxEintragEN)},
    {99, Classic(kJgLuft, kIdxEintragEN)},
    {100, Classic(kVehCatS03_2006, kIdxEintragEN)},
    {101, Classic(kTSS03_2006, kIdxEintragEN)},
    {102, Classic(kVehCatFRA2005, kIdxEintragEN)},
    {103, Classic(kTSFRA2005, kIdxEintragEN)},
};

struct TypeIndexes {
  std::int32_t code;
  std::span<const IndexRow> indexes;  // empty: the type's tables carry no index
};

constexpr TypeIndexes kIndexOnly[] = {
    {41, kRREC}, {42, kRFRQ}, {43, kRPDG}, {44, kRR24}, {45, kRCON}, {46, kRCON}, {47, kRGRP},
    {48, kRMND}, {49, kRCON}, {50, kRCFQ}, {51, kRMND}, {52, kRMND}, {53, kRMND}, {54, kRS24},
    {55, kRRAI}, {56, kRLMS}, {57, kRREU}, {58, kRABS}, {59, kRSAK}, {60, kRPG},  {61, kRPF},
    {62, kRTAL}, {63, {}},    {64, kRROA}, {65, kRRO4}, {66, kRISM}, {67, kRISL}, {68, kRISL},
    {69, kRANC}, {70, {}},    {71, kRRAD}, {72, kRMPA}, {80, kRunx}, {81, {}},    {82, {}},
    {83, {}},    {84, {}},    {85, kAddresses}, {93, kRTRK}, {94, kRFLG}, {95, kRFSG}, {96, kAttribIdx},
};

constexpr std::string_view kPavementWords[] = {"Avg", "DGAC", "OGAC", "PCC"};
constexpr std::string_view kFullThrottleWords[] = {"No", "Yes"};
constexpr std::string_view kCoefficientLetters[] = {"A",  "B",  "C",  "D1", "D2", "E1", "E2", "F1",
                                                    "F2", "G1", "G2", "H1", "H2", "I1", "I2", "J1",
                                                    "J2", "L",  "M",  "N",  "P",  "Q"};

}  // namespace

const LayoutDescription* FindLayoutDescription(std::int32_t libType) {
  for (const TypeLayout& entry : kLayouts) {
    if (entry.code == libType) return &entry.layout;
  }
  return nullptr;
}

std::span<const IndexRow> FindIndexOnlyDescription(std::int32_t libType, bool& found) {
  for (const TypeIndexes& entry : kIndexOnly) {
    if (entry.code == libType) {
      found = true;
      return entry.indexes;
    }
  }
  found = false;
  return {};
}

std::span<const std::string_view> TnmPavementWords() { return kPavementWords; }
std::span<const std::string_view> TnmFullThrottleWords() { return kFullThrottleWords; }
std::span<const std::string_view> TnmCoefficientLetters() { return kCoefficientLetters; }

}  // namespace vez::detail
