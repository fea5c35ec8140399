#include "acoustics/Vocabularies.h"

#include <atomic>
#include <mutex>
#include <optional>
#include <vector>

#include "core/Exceptions.h"

namespace vez {

TVocabularyTexts DefaultVocabularyTexts() {
  TVocabularyTexts t;
  t.AtArray = {"Leq",
               "Lmax-Road-Noise",
               "Lmax-Rail-Noise",
               "Lmax-Industrial-Noise",
               "Lmax-Aircraft-Noise",
               "L10(18h)-Motorways",
               "L10(18h)-None-Motorways",
               "NAT-Aircraft-Noise",
               "Awakening-Aircraft-Noise"};
  t.VehTypesRLS90 = {"Cars", "Trucks"};
  t.VehTypesRVS302 = {"Cars", "trucks light", "trucks light noise reduced", "trucks heavy",
                      "trucks heavy noise reduced"};
  t.VehTypesLightHeavy = {"Light vehicles", "Heavy vehicles"};
  t.VehTypesASJ2003 = {"passenger car - small veh", "light truck - small veh", "medium truck - large veh",
                       "heavy truck - large veh"};
  t.VehTypesASJ2008 = {"passenger car - small veh", "light truck - small veh", "medium truck - large veh",
                       "heavy truck - large veh", "Motor cycles"};
  t.VehTypesHuRoad = {"vehicle category I", "vehicle category II", "vehicle category III"};
  t.VehTypesTNM = {"Automobiles", "Medium trucks", "Heavy trucks", "Buses", "Motorcycles", "Auxiliary Vehicle"};
  t.Total = "Total";
  t.FTStrLang = {"No", "Yes"};
  t.TrainTypesSchall03_2006_Str = {"Regular Train", "Streetcar; Underground Railway"};
  t.TTrainTypesFRA2005_Str = {"high-speed electric train",
                              "high-speed fossil-fuel train",
                              "high-speed electric multiple unit train",
                              "very high-speed electric train",
                              "maglev train",
                              "conventional freight train",
                              "conventional passenger train"};
  t.TVehicleTypesFRA2005_Str = {"engine", "coach"};
  t.VCItems = {"1 - Cars",
               "1a - Passenger cars excluding other light vehicles (4 wheels, 2 axles)",
               "1b - Other light vehicles (4 wheels, 2 axles or 6 wheels, 3 axles)",
               "2 - Dual-axle heavy vehicles",
               "2a - City buses (6 wheels, 2 axles)",
               "2b - Light and medium trucks (4-6 wheels, 2 axles)",
               "3 - Multi-axle heavy vehicles",
               "3a - Large city buses (8-10 wheels, 3 axles)",
               "3b - Medium trucks (8-10 wheels, 3 axles)",
               "3c - Heavy trucks (4-5 axles)",
               "3d - Very heavy trucks (>=6 axles)",
               "4 - Motor cycles",
               "5 - Mopeds"};
  t.RCItems = {"1a - Asph. concr., dense, smooth (<=12-16 mm)",
               "1b - Asph. concr., dense, smooth (<=8-10 mm)",
               "2a - Mastic asphalt (SMA) (max 12-16 mm)",
               "2b - Mastic asphalt (SMA) (max 8-10 mm)",
               "3a - Chipped asphalt (BCS) (\"hot rolled asph.\")",
               "3b - Chip seal, single (Y1), max 16-20 mm",
               "3c - Chip seal, single (Y1), max 10-12 mm",
               "3d - Chip seal, single (Y1), max 6-9 mm",
               "4a - Chip seal, double (Y2), max 16-20 mm",
               "4b - Chip seal, double (Y2), max 10-12 mm",
               "5a - Porous asph., max 14-16 mm (>=20% voids)",
               "5b - Porous asph., max 8-12 mm (>=20% voids)",
               "6a - Cem. concr., dense, smooth, max 20-80 mm",
               "6b - Cem. concr., dense, smooth, max 12-18 mm",
               "6c - Cem. concr., ground (grinding not worn)",
               "7 - Paving stones, cobble stones (older type)",
               "8 - Cement block pavement (interlocking)"};
  t.DCItems = {"1 - Cruising (constant speed and gear)",
               "2 - Acceleration (continous acceleration)",
               "3 - Deceleration (continous deceleration)",
               "4 - Uneven (both acceleration and deceleration)",
               "5 - Uphill (lower gear required to keep speed constant)",
               "6 - Winter (the car is equipped with winter tyres)",
               "6a- Winter (tyres with studs)",
               "6b- Winter (tyres without studs)"};
  t.RailRoughness = "rail roughness";
  t.WheelRoughness = "wheel roughness";
  t.TankWagonRailRoughness = "tank wagon: rail roughness";
  t.TankWagonWheelRoughness = "tank wagon: wheel roughness";
  t.Aerodynamic = "aerodynamic";
  t.AggregatNoise = "aggregat noise";
  t.EngineNoise = "engine noise";
  t.MainVehNamesN2k2005 = {"1 - Light vehicles", "2 - Medium heavy vehicles", "3 - Heavy vehicles"};
  t.Costs = "Costs";
  return t;
}

namespace {

// The texts in force and the vehicle class lists made from them.
struct Tables {
  TVocabularyTexts texts;
  std::vector<std::string> rls90, rvs302, lightHeavy, asj2003, asj2008, n2k, huRoad, tnm;

  explicit Tables(TVocabularyTexts t) : texts(std::move(t)) {
    const auto withTotal = [this](const auto& classes) {
      std::vector<std::string> list(classes.begin(), classes.end());
      list.push_back(texts.Total);
      return list;
    };
    rls90 = withTotal(texts.VehTypesRLS90);
    rvs302 = withTotal(texts.VehTypesRVS302);
    lightHeavy = withTotal(texts.VehTypesLightHeavy);
    asj2003 = withTotal(texts.VehTypesASJ2003);
    asj2008 = withTotal(texts.VehTypesASJ2008);
    huRoad = withTotal(texts.VehTypesHuRoad);
    tnm = withTotal(texts.VehTypesTNM);
    // Every entry except the headings of the classes 1, 2 and 3, which have subclasses.
    for (std::size_t i = 0; i < VCItemCodes.size(); ++i) {
      const std::int32_t code = VCItemCodes[i];
      if (code != 10 && code != 20 && code != 30) n2k.push_back(texts.VCItems[i]);
    }
    n2k.push_back(texts.Total);
  }
};

struct Replacement {
  std::mutex mutex;
  std::optional<TVocabularyTexts> pending;
  bool fixed = false;
};

Replacement& PendingTexts() {
  static Replacement r;
  return r;
}

const Tables& Current() {
  static const Tables tables = [] {
    Replacement& r = PendingTexts();
    std::lock_guard lock(r.mutex);
    r.fixed = true;
    return Tables(r.pending ? std::move(*r.pending) : DefaultVocabularyTexts());
  }();
  return tables;
}

template <std::size_t N>
void FillList(StringList& list, const std::array<std::string, N>& texts, const std::array<std::int32_t, N>& codes) {
  list.Clear();
  for (std::size_t i = 0; i < N; ++i) list.AddObject(texts[i], codes[i]);
}

}  // namespace

void SetVocabularyTexts(TVocabularyTexts texts) {
  Replacement& r = PendingTexts();
  std::lock_guard lock(r.mutex);
  if (r.fixed) throw Exception("The vocabulary texts are in use and can no longer be replaced");
  r.pending = std::move(texts);
}

const TVocabularyTexts& VocabularyTexts() { return Current().texts; }

const std::string& AtArray(TAssessmentType Type) { return Current().texts.AtArray.at(Type); }
const std::string& FTStrLang(TFullThrottle FullThrottle) { return Current().texts.FTStrLang.at(FullThrottle); }
const std::string& TrainTypesSchall03_2006_Str(TTrainTypesSchall03_2006 Type) {
  return Current().texts.TrainTypesSchall03_2006_Str.at(Type);
}
const std::string& TTrainTypesFRA2005_Str(TTrainTypesFRA2005 Type) {
  return Current().texts.TTrainTypesFRA2005_Str.at(Type);
}
const std::string& TVehicleTypesFRA2005_Str(TVehicleTypesFRA2005 Type) {
  return Current().texts.TVehicleTypesFRA2005_Str.at(Type);
}

std::span<const std::string> VehTypesRLS90() { return Current().rls90; }
std::span<const std::string> VehTypesRVS302() { return Current().rvs302; }
std::span<const std::string> VehTypesLightHeavy() { return Current().lightHeavy; }
std::span<const std::string> VehTypesASJ2003() { return Current().asj2003; }
std::span<const std::string> VehTypesASJ2008() { return Current().asj2008; }
std::span<const std::string> VehTypesN2k() { return Current().n2k; }
std::span<const std::string> VehTypesHuRoad() { return Current().huRoad; }
std::span<const std::string> VehTypesTNM() { return Current().tnm; }

void VCItems(StringList& List) { FillList(List, Current().texts.VCItems, VCItemCodes); }
void RCItems(StringList& List) { FillList(List, Current().texts.RCItems, RCItemCodes); }
void DCItems(StringList& List) { FillList(List, Current().texts.DCItems, DCItemCodes); }

std::string SrcTypeSchall03_2006(std::int32_t SourceNr, TTrainTypesSchall03_2006 TrainType) {
  const TVocabularyTexts& t = Current().texts;
  if (TrainType == ttStreetCar) {
    switch (SourceNr) {
      case 1: return t.RailRoughness;
      case 2: return t.WheelRoughness;
      case 3: return t.AggregatNoise + " 0m";
      case 4: return t.AggregatNoise + " 4m";
      default: return {};
    }
  }
  if (TrainType != ttRegular) return {};
  switch (SourceNr) {
    case 1: return t.RailRoughness;
    case 2: return t.WheelRoughness;
    case 3: return t.TankWagonRailRoughness;
    case 4: return t.TankWagonWheelRoughness;
    case 5: return t.Aerodynamic + " 5m";
    case 6: return t.Aerodynamic + " 4m";
    case 7: return t.Aerodynamic + " 0m";
    case 8: return t.AggregatNoise + " 4m";
    case 9: return t.AggregatNoise + " 0m";
    case 10: return t.EngineNoise + " 4m";
    case 11: return t.EngineNoise + " 0m";
    default: return {};
  }
}

std::string GetMainVehNamesN2k2005(TMainVehTypeN2k2005 MainType) {
  const int k = static_cast<int>(MainType);
  if (k < 1 || k > 3) return {};
  return Current().texts.MainVehNamesN2k2005[static_cast<std::size_t>(k - 1)];
}

}  // namespace vez
