import json

import pytest
import veziru
from conftest import expect_error, vezi


@pytest.mark.parametrize("vehicle,pavement,speed,throttle", [
    ("auto", "avg", 100, False), ("ht", "ogac", 55.5, True), ("mc", "pcc", 0, False), ("bus", "dgac", 130, True)])
def test_tnm_equals_the_library(vehicle, pavement, speed, throttle):
    level, bands = veziru.tnm(vehicle, pavement, speed, full_throttle=throttle)
    args = ["tnm", "--vehicle", vehicle, "--pavement", pavement, "--speed", str(speed), "--format", "json"]
    reference = json.loads(vezi(*args, *(["--full-throttle"] if throttle else [])).stdout)
    assert level == pytest.approx(reference["sum"], abs=1e-5)
    assert [b["hz"] for b in reference["bands"]] == list(veziru.TNM_BANDS)
    assert list(bands) == pytest.approx([b["db"] for b in reference["bands"]], abs=1e-5)
    assert veziru.energetic_sum(bands) == pytest.approx(level, abs=0.01)


def test_weighting_and_levels():
    # Published A-weighting corrections (IEC 61672) at the band centres.
    assert list(veziru.a_weighting([31.5, 100, 1000, 4000, 16000])) == pytest.approx([-39.4, -19.1, 0, 1.0, -6.6],
                                                                                      abs=1e-4)
    assert veziru.a_weighting(1000) == 0 and veziru.weighting([1000, 50], "C")[1] == pytest.approx(-1.3, abs=1e-4)
    assert veziru.energetic_sum([60, 60]) == pytest.approx(63.0103, abs=1e-4)
    assert list(veziru.energy_to_level(veziru.level_to_energy([0, 42.5]))) == pytest.approx([0, 42.5])
    assert veziru.third_octave_band(1000) == (17, 1000) and veziru.octave_band(20000) == (10, 16000)


def test_wrong_arguments():
    expect_error(ValueError, 'The pavement must be avg, dgac, ogac or pcc, not "gravel"', veziru.tnm, "auto", "gravel",
                 50)
    assert list(veziru.weighting([100, 31.5], "z")) == [0, 0] and veziru.THIRD_OCTAVE_BANDS[1] == 31.5
    with pytest.raises(ValueError):
        veziru.a_weighting([-5])
