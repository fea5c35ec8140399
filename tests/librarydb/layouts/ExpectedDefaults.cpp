#include "ExpectedDefaults.h"

namespace vez::test {
namespace {

using V = ExpectedSetter;

ExpectedAssignment Make(const std::string& field, V setter, ExpectedKind kind) {
  ExpectedAssignment a;
  a.field = field;
  a.setter = setter;
  a.kind = kind;
  return a;
}

struct List {
  std::vector<ExpectedAssignment> items;

  List& I(const std::string& f, std::int64_t v, V s = V::Value) {
    ExpectedAssignment a = Make(f, s, ExpectedKind::Integer);
    a.integer = v;
    items.push_back(a);
    return *this;
  }
  List& F(const std::string& f, double v, V s = V::Value) {
    ExpectedAssignment a = Make(f, s, ExpectedKind::Float);
    a.number = v;
    items.push_back(a);
    return *this;
  }
  List& B(const std::string& f, bool v, V s = V::Value) {
    ExpectedAssignment a = Make(f, s, ExpectedKind::Boolean);
    a.boolean = v;
    items.push_back(a);
    return *this;
  }
  List& S(const std::string& f, const std::string& v, V s = V::Value) {
    ExpectedAssignment a = Make(f, s, ExpectedKind::Text);
    a.text = v;
    items.push_back(a);
    return *this;
  }
  List& Clock(const std::string& f, ExpectedKind kind, V s) {
    items.push_back(Make(f, s, kind));
    return *this;
  }
  List& Now(V s = V::DateTime) { return Clock("LastChangeDateTime", ExpectedKind::Now, s); }
  List& NowText() { return Clock("LastChangeDateTime", ExpectedKind::NowAsText, V::Text); }
};

// The acoustic element defaults; `code` selects the rows only transmission (2) and attenuation (3) have.
List Element(int code) {
  List l;
  l.S("KennChar1", " ").S("KennChar2", "A").B("Terz", true).I("Lower", 0).I("Upper", 29).I("Values0", -199);
  l.B("Komplett", false);
  for (int n = 1; n <= 30; ++n) l.I("Values" + std::to_string(n), -199);
  if (code == 2) l.I("C", -199).I("Ctr", -199).B("SingleValue", false);
  for (int n = 1; n <= 4; ++n) l.I("Gruppen" + std::to_string(n), 0);
  if (code == 3) l.S("KennNames1", "Costs");
  l.I("RiwiArt", 0).I("OneForAll", 1).NowText();
  return l;
}

std::map<std::int32_t, std::vector<ExpectedAssignment>> Build() {
  std::map<std::int32_t, std::vector<ExpectedAssignment>> m;
  for (int code = 0; code <= 3; ++code) m[code] = Element(code).items;

  List time;
  for (int n = 1; n <= 24; ++n) time.I("Values" + std::to_string(n), 100);
  time.I("Values0", 100).I("Einheit", 3, V::Integer).Now().S("DisplayValue", "0.00", V::Text);
  time.items.back().onlyIfPresent = true;
  m[5] = time.items;

  List riwi;
  riwi.I("Values0", -199);
  for (int n = 1; n <= 36; ++n) riwi.I("Winkel" + std::to_string(n), 400).I("Values" + std::to_string(n), -199);
  riwi.B("Komplett", false).Now();
  m[6] = riwi.items;

  List riwi3d;
  for (int n = 0; n <= 35; ++n) riwi3d.I("Winkelxy" + std::to_string(n), -199);
  for (int n = 0; n <= 18; ++n) riwi3d.I("Winkelyz" + std::to_string(n), -199);
  riwi3d.items.push_back(Make("Values", V::Blob, ExpectedKind::ZeroBytes));
  riwi3d.items.back().integer = 2736;
  riwi3d.B("Komplett", false).Now();
  m[7] = riwi3d.items;

  List wind;
  for (int n = 1; n <= 12; ++n) {
    const auto s = std::to_string(n);
    wind.I("Percentage" + s, 0).I("Speed" + s, 0).I("C0" + s, 0);
  }
  wind.I("Percentage0", 100).Now();
  m[8] = wind.items;

  List stoffe;
  stoffe.B("NOx", false, V::Boolean).F("Sedimentation", 0.0, V::Float).F("Deposition", 0.0, V::Float);
  stoffe.I("Kornfraktion", 0, V::Integer).F("Limit_Mean", 0.0, V::Float).F("Perc", 98.0, V::Float);
  stoffe.B("FromDayMean", false, V::Boolean).F("Limit_Perc", 0.0, V::Float).F("Limit_Scent", 0.0, V::Float);
  stoffe.NowText();
  m[9] = stoffe.items;

  List traffic;
  traffic.Now(V::Value).S("DisplayValue", "0.00", V::Text).B("UseAsIs", false, V::Boolean);
  m[16] = traffic.items;
  traffic.I("StdLibType", 0, V::Integer);
  m[11] = traffic.items;

  m[20] = List().I("SBA", 100).I("Vmax", 100).I("Lzug", 200).I("DFz", 0).I("DAo", 0).items;
  m[21] = List().I("Vc", 100).S("TrainCategory", "1").items;
  m[22] = List().I("H1", 1).I("H2", 35).I("H3", 70).I("H4", 0).I("ftr", 0).items;
  m[23] = List().I("Vmax", 400).I("Lzug", 200).I("DFzme", 0).I("DFzae", 0).items;
  m[24] = List()
              .I("A[dB]", 57).I("B[dB]", 0).I("l[m]", 200).I("lref[m]", 200)
              .I("v[km/h]", 100).I("p[%]", 100).I("Kklow[dB]", 5).I("Kkhigh[dB]", 2)
              .items;
  m[27] = List()
              .I("RawDataVersion", 2).I("AnemometerHeight", 10).I("TCType", 0).I("TCStep", 1).I("TCLower", 1)
              .I("TCCount", 5).I("SectorCount", 36).I("FirstSector", 0).I("CalmenType", 0).I("Calmen", 0)
              .I("SpeedCType", 1).I("SCLower", 1).I("SCStep", 1).I("SCCount", 5).I("PartitionWD", 36)
              .I("FirstPartition", 0).I("UnitSpeed", 0).I("UnitTemperatur", 0).I("OrgTCType", -1)
              .I("Roughness", 0).I("TimeCorrection", 0).I("DSTOffset", 0).S("StoffName", "")
              .S("StoffName2", "").B("WindRoseTitleDefault", true).B("WindHistogramTitleDefault", true)
              .B("PollutantTitleDefault", true)
              .items;
  m[28] = List().I("SBA", 100).I("Vmax", 100).I("Lzug", 200).I("DFz", 0).items;
  m[29] = List()
              .F("AirPressure/mbar", 1013.25, V::Float).F("z0/m", 0.025, V::Float).F("sigmadtdz", 0.0, V::Float)
              .F("sigmau", 0.0, V::Float).F("Cw2", 0.12, V::Float).F("Ct2", 0.008, V::Float).Now()
              .items;
  m[30] = List().B("Locomotive", false, V::Boolean).I("Lpref", 0).I("Cv", 0).I("Vref", 60).I("CrUnwelded", 5).items;
  m[31] = List().Now().items;
  m[32] = List().F("Vmax", 100.0, V::Float).items;
  m[33] = List().F("A", 3.0, V::Float).F("B", 25.0, V::Float).F("L", 18.0, V::Float).items;
  m[90] = List().I("Speed", 100).F("Correction", 14.8).I("EmissionType", 1).items;
  m[91] = List()
              .F("PWLa_Ballast", 95.5).F("PWLa_Concrete", 100.5).I("PWLc", 82).I("GearRatio", 5).I("FanType", 0)
              .I("PWLb_Concrete", 53).I("PWLb_Ballast", 48)
              .items;

  List tg;
  tg.S("Description", "", V::Text);
  for (int n = 1; n <= 24; ++n) tg.I("Value" + std::to_string(n), 0);
  m[97] = tg.Now().items;
  List wg;
  for (int n = 1; n <= 7; ++n) wg.I("Value" + std::to_string(n), 0);
  m[98] = wg.Now().items;
  m[99] = List()
              .Clock("Jahr", ExpectedKind::Year, V::Integer)
              .Clock("Schaltjahr", ExpectedKind::LeapYear, V::Boolean)
              .I("Einheit", 0, V::Integer)
              .Now()
              .items;

  for (int code : {4, 12, 13, 14, 15, 25, 26, 92, 96, 100, 101, 102, 103}) m[code] = {};
  return m;
}

}  // namespace

const std::map<std::int32_t, std::vector<ExpectedAssignment>>& ExpectedDefaults() {
  static const auto expected = Build();
  return expected;
}

}  // namespace vez::test
