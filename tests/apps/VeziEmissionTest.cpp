// vezi tnm and vezi spectrum end to end: the real executable, its output, files and exit codes.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <cstdio>
#include <string>
#include <vector>

#include "TestUtil.h"
#include "VeziRunner.h"
#include "acoustics/Bands.h"
#include "acoustics/Fgang.h"
#include "acoustics/TNM.h"
#include "emission/LibraryFixtures.h"
#include "emission/SvgCheck.h"
#include "emission/TNMLibrary.h"

namespace vez {
namespace {

using ::testing::HasSubstr;
using test::RunResult;
using test::TempDir;

RunResult Vezi(const std::vector<std::string>& args) { return test::RunProgram(VEZI_EXECUTABLE, args); }

TTNMSpectrum Expected(const TTNMEmisConsts& consts, TFullThrottle t, float kmh, float& sum) {
  TTNMSpectrum bands{};
  consts.CalcSumAndSpectrum(t, kmh, sum, bands);
  return bands;
}

// The options reach the model: vehicle, pavement, throttle and speed choose the constants and the state.
TEST(VeziEmissionTnm, JsonAndSvgOfTheReferenceConstants) {
  TempDir dir;
  const std::string svgPath = dir.File("ht.svg");
  const RunResult r = Vezi({"tnm", "--vehicle", "ht", "--pavement", "ogac", "--full-throttle", "--speed", "80",
                            "--format", "json", "--svg", svgPath});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out.rfind("{\"sum\": ", 0), 0u);
  const auto json = nlohmann::json::parse(r.out);
  ASSERT_EQ(json.size(), 2u);
  ASSERT_EQ(json["bands"].size(), 24u);

  TTNMEmisConsts consts;
  consts.SetTNMConstants(vtHT, ptOGAC, false);
  float sum = 0;
  const TTNMSpectrum bands = Expected(consts, ftYes, 80, sum);
  EXPECT_EQ(json["sum"].get<float>(), sum);
  for (int k = 0; k < 24; ++k) {
    EXPECT_EQ(json["bands"][k]["hz"].get<int>(), terzen[k + 4]);
    EXPECT_EQ(json["bands"][k]["db"].get<float>(), bands[k]) << k;
  }

  const test::SvgSummary svg = test::ParseSvg(test::ReadFile(svgPath));
  ASSERT_TRUE(svg.wellFormed) << svg.error;
  EXPECT_EQ(svg.bars.size(), 24u);
  char sumText[32];
  std::snprintf(sumText, sizeof sumText, "sum %.1f dB(A)", sum);
  EXPECT_EQ(svg.texts.at(0), "TNM emission of Heavy trucks, open-graded asphaltic concrete (OGAC), full throttle, "
                             "80 km/h: " + std::string(sumText));
  // The drawing itself, as a person checked it once: layout, axes, ticks and bars.
  EXPECT_EQ(test::ReadFile(test::DataPath("apps/tnm-ht.svg")), test::ReadFile(svgPath));
}

TEST(VeziEmissionTnm, ConstantsFromALibraryRecord) {
  TempDir dir;
  const RunResult created = Vezi({"create", "ltTNMVeh", dir.Path().string()});
  ASSERT_EQ(created.exitCode, 0) << created.err;
  const std::string path = dir.File("TNMVeh.abs");
  TTNMEmisConsts consts;
  consts.SetTNMConstants(vtBus, ptPCC, false);
  consts.BaseVT = vtBus;
  consts.Coef(tcC, ftNo) = 70.5f;  // a user's own idle level
  {
    TMyTable lib(path, false);
    lib.Table().Open();
    lib.Table().Append();
    lib.Table().FieldByName("ElementName").SetAsString("City bus");
    WriteToDataSet(consts, lib.Table());
    lib.Table().Post();
  }
  const RunResult r = Vezi({"tnm", "--library", path, "--record", "1", "--pavement", "pcc", "--speed", "0",
                            "--format", "json"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  float sum = 0;
  Expected(consts, ftNo, 0, sum);
  EXPECT_EQ(nlohmann::json::parse(r.out)["sum"].get<float>(), sum);

  const RunResult text = Vezi({"tnm", "--library", path, "--record", "1", "--pavement", "pcc", "--speed", "30"});
  EXPECT_THAT(text.out, HasSubstr("City bus (record 1, Buses), Portland cement concrete (PCC), cruise, 30 km/h"));

  const RunResult wrongType =
      Vezi({"tnm", "--library", path, "--record", "1", "--vehicle", "mc", "--pavement", "pcc", "--speed", "30"});
  EXPECT_EQ(wrongType.exitCode, 1);
  EXPECT_THAT(wrongType.err, HasSubstr("record 1 holds Buses, not Motorcycles"));
  const RunResult missing = Vezi({"tnm", "--library", path, "--record", "2", "--pavement", "pcc", "--speed", "30"});
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_EQ(missing.err, "vezi: '" + path + "' has no record 2\n");
}

TEST(VeziEmissionSpectrum, ProtocolChartAndErrors) {
  TempDir dir;
  ASSERT_EQ(Vezi({"create", "ltEmis", dir.Path().string()}).exitCode, 0);
  const std::string path = dir.File("emis.abs");
  test::AppendElement(path, {4, 6, false, true, 90, [](int n) { return n == 17 ? 2.0 : 0.5; }});
  test::AppendElement(path, {0, 29, true, false, 90, {}});

  const RunResult r = Vezi({"spectrum", path, "1", "--log"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out,
            "fu =       500 fo =      2000 in Oktaven\n"
            "   500Hz \t  -3.01030\n"
            "  1000Hz \t   3.01030\n"
            "  2000Hz \t  -3.01030\n");
  const RunResult clamped = Vezi({"spectrum", path, "1", "--clamp"});
  EXPECT_THAT(clamped.out, HasSubstr("  1000Hz \t   0.99900\n"));

  const std::string svgPath = dir.File("s.svg");
  ASSERT_EQ(Vezi({"spectrum", path, "1", "--svg", svgPath}).exitCode, 0);
  const test::SvgSummary svg = test::ParseSvg(test::ReadFile(svgPath));
  ASSERT_TRUE(svg.wellFormed) << svg.error;
  EXPECT_EQ(svg.bars.size(), 3u);
  EXPECT_EQ(svg.Labels("title").at(0).text, "\"element 1\" (record 1 of emis.abs)");
  EXPECT_THAT(test::ReadFile(svgPath), HasSubstr(">Octave bands 500 to 2000 Hz, single value "));

  // What is missing is named, with what to do about it.
  EXPECT_EQ(Vezi({"spectrum", path, "7"}).err,
            "vezi: '" + path + "' has no record 7 (the numbers are those of the field Eintrag, which `vezi dump` "
            "shows)\n");
  const RunResult incomplete = Vezi({"spectrum", path, "2"});
  EXPECT_EQ(incomplete.exitCode, 1);
  EXPECT_THAT(incomplete.err, HasSubstr("record 2 (\"element 2\") of '" + path + "' is not complete: "));
  EXPECT_EQ(Vezi({"spectrum", dir.File("none.abs"), "1"}).exitCode, 1);
}

// An imported octave spectrum gets its band range and completeness from the mapped fields: the spectrum that
// is read back is the one imported.
TEST(VeziEmissionSpectrum, ImportedOctaveBandsReadBackAsImported) {
  TempDir dir;
  const std::string lib = dir.File("Absor.abs");
  std::vector<std::string> args = {"import", std::string(VEZ_EXAMPLES_DIR) + "/import/absorption.txt", "--into", lib,
                                   "--map", "ElementName=A"};
  const char* columns = "BCDEFG";
  for (int k = 0; k < 6; ++k) args.insert(args.end(), {"--map", "Values" + std::to_string(8 + 3 * k) + "=" + columns[k]});
  const RunResult imported = Vezi(args);
  ASSERT_EQ(imported.exitCode, 0) << imported.err;
  const RunResult r = Vezi({"spectrum", lib, "1"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out,
            "fu =       125 fo =      4000 in Oktaven\n"
            "   125Hz \t   0.20000\n   250Hz \t   0.65000\n   500Hz \t   0.95000\n"
            "  1000Hz \t   1.00000\n  2000Hz \t   0.95000\n  4000Hz \t   0.90000\n");
}

}  // namespace
}  // namespace vez
