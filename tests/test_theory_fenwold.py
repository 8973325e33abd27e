"""build_fenwold_params: the simulator's parameter record and its exact JSON text."""

import json
import math
import random
import struct

import numpy as np
import pytest

import _native

INF = math.inf
NAN = math.nan
KEYS = [
    "a_landau",
    "b_landau",
    "c_landau",
    "k_r",
    "zeta_eff",
    "frank_splay",
    "frank_bend",
    "frank_ratio",
]


def number_text(x):
    """The parameter text's number form, laid out independently from Python's repr digits."""
    if not math.isfinite(x):
        return "null"
    sign = "-" if math.copysign(1.0, x) < 0 else ""
    if x == 0:
        return sign + "0.0"
    mantissa, _, exponent = repr(abs(x)).partition("e")
    whole, _, fraction = mantissa.partition(".")
    digits = whole + fraction
    e = int(exponent or 0) + len(whole) - 1
    stripped = digits.lstrip("0")
    e -= len(digits) - len(stripped)
    digits = stripped.rstrip("0")
    n = len(digits)
    if e >= 16 or e <= -6:
        body = digits[0] + ("." + digits[1:] if n >= 2 else "")
        return f"{sign}{body}e{'+' if e >= 0 else '-'}{abs(e)}"
    if e >= n - 1:
        return sign + digits + "0" * (e + 1 - n) + ".0"
    if e < 0:
        return sign + "0." + "0" * (-e - 1) + digits
    return sign + digits[: e + 1] + "." + digits[e + 1 :]


def fenwold(a=0.0, b=0.0, c=1.0, k_elastic=1.0, splay=1.0, bend=1.0, n_defects=0, area=1.0):
    return _native.build_fenwold_params(a, b, c, k_elastic, splay, bend, n_defects, area)


def member_texts(text):
    """The eight (key, value text) pairs of a parameter text, checking its line structure."""
    lines = text.split("\n")
    assert len(lines) == 10
    assert lines[0] == "{" and lines[-1] == "}"
    members = []
    for position, line in enumerate(lines[1:-1]):
        last = position == 7
        assert line.endswith(",") != last
        body = line if last else line[:-1]
        assert body.startswith('  "')
        key, _, value = body[3:].partition('": ')
        members.append((key, value))
    return members


EXAMPLES = [
    (1.0, "1.0"),
    (100.0, "100.0"),
    (1500.0, "1500.0"),
    (1e15, "1000000000000000.0"),
    (1e16, "1e+16"),
    (1.5e16, "1.5e+16"),
    (123.456, "123.456"),
    (0.05, "0.05"),
    (0.00001, "0.00001"),
    (0.000001, "1e-6"),
    (1.5e-7, "1.5e-7"),
    (5e-324, "5e-324"),
    (1.7976931348623157e308, "1.7976931348623157e+308"),
    (0.1, "0.1"),
    (-2.5, "-2.5"),
    (0.0, "0.0"),
    (-0.0, "-0.0"),
    (INF, "null"),
    (-INF, "null"),
    (NAN, "null"),
    (9999999999999998.0, "9999999999999998.0"),
    (1.2345e-5, "0.000012345"),
    (-9.87654321e-6, "-9.87654321e-6"),
    (-9.87654321e-5, "-0.0000987654321"),
    (2.2250738585072014e-308, "2.2250738585072014e-308"),
    (123456789012345680.0, "1.2345678901234568e+17"),
    (0.3, "0.3"),
    (1 / 3, "0.3333333333333333"),
    (-1e100, "-1e+100"),
    (4.35, "4.35"),
    (2**53, "9007199254740992.0"),
]


@pytest.mark.parametrize(("value", "text"), EXAMPLES, ids=[t for _, t in EXAMPLES])
def test_number_form_examples(value, text):
    assert number_text(value) == text  # the test's own formatter agrees with the list
    result = fenwold(a=value)
    assert member_texts(result["json"])[0] == ("a_landau", text)


def random_doubles(count, seed):
    rng = random.Random(seed)
    values = []
    for _ in range(count):
        values.append(struct.unpack("<d", struct.pack("<Q", rng.getrandbits(64)))[0])
        # Near the switches between the layouts and between digit counts.
        values.append(rng.choice([-1, 1]) * 10 ** rng.uniform(-8, 18))
        values.append(round(rng.uniform(-1e4, 1e4), rng.randint(0, 8)))
        values.append(float(rng.randint(-(2**60), 2**60)))
    return [v for v in values if math.isfinite(v)]


@pytest.mark.parametrize("seed", range(4))
def test_number_form_of_random_doubles(seed):
    values = random_doubles(1500, seed)
    for start in range(0, len(values) - 5, 6):
        a, b, c, k, splay, bend = values[start : start + 6]
        result = _native.build_fenwold_params(a, b, c, k, splay, bend, 3, 1.0)
        for key, text in member_texts(result["json"]):
            value = result[key]
            assert text == number_text(value), (key, value)
            if math.isfinite(value):
                assert float(text) == value
                assert math.copysign(1.0, float(text)) == math.copysign(1.0, value)


def test_full_text_of_a_typical_record():
    result = _native.build_fenwold_params(-0.125, 0.0, 1.0, 3.5, 1500.0, 0.05, 4, 200.0)
    assert result["json"] == (
        "{\n"
        '  "a_landau": -0.125,\n'
        '  "b_landau": 0.0,\n'
        '  "c_landau": 1.0,\n'
        '  "k_r": 3.5,\n'
        '  "zeta_eff": 0.07,\n'
        '  "frank_splay": 1500.0,\n'
        '  "frank_bend": 0.05,\n'
        '  "frank_ratio": 30000.0\n'
        "}"
    )


def test_full_text_with_non_finite_fields():
    result = _native.build_fenwold_params(NAN, -0.0, 1e-7, INF, 1e16, 0.0, 2, 1e-16)
    assert result["json"] == (
        "{\n"
        '  "a_landau": null,\n'
        '  "b_landau": -0.0,\n'
        '  "c_landau": 1e-7,\n'
        '  "k_r": null,\n'
        '  "zeta_eff": 0.0,\n'
        '  "frank_splay": 1e+16,\n'
        '  "frank_bend": 0.0,\n'
        '  "frank_ratio": null\n'
        "}"
    )
    assert math.isnan(result["a_landau"])
    assert result["k_r"] == INF
    assert result["frank_ratio"] == INF


def test_full_text_of_empty_distribution_coefficients():
    ldg = _native.estimate_ldg_params(np.zeros(0), 5.0, 1.0)
    frank = _native.frank_energy(np.zeros(4), 2, 2, 1.0)
    result = _native.build_fenwold_params(
        ldg["a"], ldg["b"], ldg["c"], ldg["k_elastic"], frank["splay"], frank["bend"], 0, 0.0
    )
    assert result["json"] == (
        '{\n  "a_landau": 0.0,\n  "b_landau": 0.0,\n  "c_landau": 0.0,\n  "k_r": 0.0,\n'
        '  "zeta_eff": 0.0,\n  "frank_splay": 0.0,\n  "frank_bend": 0.0,\n'
        '  "frank_ratio": null\n}'
    )


def test_chained_analysis_record():
    ldg = _native.estimate_ldg_params(np.zeros(3), 2.0, 0.5)
    result = _native.build_fenwold_params(
        ldg["a"], ldg["b"], ldg["c"], ldg["k_elastic"], 2.0, 4.0, 1, 8.0
    )
    assert result["json"].startswith('{\n  "a_landau": -0.0,\n')
    assert result["json"].endswith('"frank_ratio": 0.5\n}')


def test_dict_keys_and_values_come_from_the_record():
    result = _native.build_fenwold_params(-0.3, 0.1, 1.0, 2.0, 6.0, 3.0, 5, 50.0)
    assert list(result) == [*KEYS, "json"]
    assert result == {
        "a_landau": -0.3,
        "b_landau": 0.1,
        "c_landau": 1.0,
        "k_r": 2.0,
        "zeta_eff": (5 / 50.0) * 2.0,
        "frank_splay": 6.0,
        "frank_bend": 3.0,
        "frank_ratio": 2.0,
        "json": result["json"],
    }
    parsed = json.loads(result["json"])
    assert list(parsed) == KEYS
    assert parsed == {key: result[key] for key in KEYS}


@pytest.mark.parametrize(
    "values",
    [(NAN, 0.0, 1.0, 1.0, 1.0, 0.0), (INF, -INF, 1.0, NAN, 1.0, 1.0), (1.0,) * 6],
    ids=["nan-and-zero-bend", "infinities", "finite"],
)
def test_standard_readers_accept_the_text(values):
    result = _native.build_fenwold_params(*values, 1, 1.0)
    parsed = json.loads(result["json"])
    for key in KEYS:
        expected = result[key]
        assert parsed[key] == (expected if math.isfinite(expected) else None)


@pytest.mark.parametrize(
    ("n_defects", "area", "k", "expected"),
    [
        (3, 0.0, 2.0, 0.0),
        (3, -5.0, 2.0, 0.0),
        (3, 1e-16, 2.0, 0.0),
        (3, 1e-15, 2.0, (3 / 1e-15) * 2.0),  # the threshold itself counts as an area
        (0, 10.0, 2.0, 0.0),
        (0, 10.0, -2.0, -0.0),
        (7, 3.0, 0.1, (7 / 3.0) * 0.1),  # density first, then times k
        (2**64 - 1, 1.0, 1.0, 18446744073709551616.0),
        (4, INF, 1.0, 0.0),
    ],
    ids=["zero-area", "negative-area", "tiny-area", "threshold", "no-defects",
         "negative-k", "order", "max-count", "infinite-area"],
)
def test_zeta_eff(n_defects, area, k, expected):
    result = fenwold(k_elastic=k, n_defects=n_defects, area=area)
    assert np.float64(result["zeta_eff"]).tobytes() == np.float64(expected).tobytes()


@pytest.mark.parametrize(
    ("area", "k"), [(NAN, 1.0), (10.0, NAN), (10.0, INF)], ids=["nan-area", "nan-k", "inf-k"]
)
def test_zeta_eff_non_finite(area, k):
    result = fenwold(k_elastic=k, n_defects=0 if k == INF else 2, area=area)
    assert math.isnan(result["zeta_eff"])
    assert member_texts(result["json"])[4] == ("zeta_eff", "null")


@pytest.mark.parametrize(
    ("splay", "bend", "expected"),
    [
        (3.0, 1.5, 2.0),
        (3.0, 0.0, INF),
        (3.0, 1e-15, INF),
        (3.0, -2.0, INF),
        (3.0, NAN, INF),
        (0.0, 2e-15, 0.0),
        (-4.0, 2.0, -2.0),
    ],
    ids=["plain", "zero", "threshold", "negative", "nan", "just-above", "negative-splay"],
)
def test_frank_ratio_is_recomputed(splay, bend, expected):
    result = fenwold(splay=splay, bend=bend)
    assert result["frank_ratio"] == expected
    assert member_texts(result["json"])[7] == ("frank_ratio", number_text(expected))


def test_keywords_in_any_order_match_positional_call():
    positional = _native.build_fenwold_params(-0.5, 0.0, 1.0, 2.0, 3.0, 4.0, 5, 6.0)
    keywords = _native.build_fenwold_params(
        image_area_um2=6.0, bend=4.0, n_defects=5, a=-0.5, k_elastic=2.0, splay=3.0, c=1.0, b=0.0
    )
    assert positional == keywords


def test_numpy_and_integer_scalars_are_accepted():
    result = _native.build_fenwold_params(
        np.float64(1.5), 2, True, np.float32(0.5), 1.0, 2.0, np.int64(3), np.uint8(6)
    )
    assert [result[key] for key in KEYS] == [1.5, 2.0, 1.0, 0.5, 0.25, 1.0, 2.0, 0.5]


@pytest.mark.parametrize(
    ("n_defects", "kind", "message"),
    [
        (3.0, TypeError, "argument 'n_defects': 'float' object cannot be interpreted as an integer"),
        (-1, OverflowError, "can't convert negative int to unsigned"),
        (2**64, OverflowError, "int too big to convert"),
    ],
    ids=["float", "negative", "too-big"],
)
def test_bad_defect_count(n_defects, kind, message):
    with pytest.raises(kind) as info:
        _native.build_fenwold_params(1.0, 0.0, 1.0, 1.0, 1.0, 1.0, n_defects, 1.0)
    assert type(info.value) is kind
    assert str(info.value) == message


def test_first_bad_float_is_reported():
    with pytest.raises(TypeError) as info:
        _native.build_fenwold_params(1.0, 0.0, 1.0, 1.0, "x", None, -1, 1.0)
    assert str(info.value) == "argument 'splay': must be real number, not str"
