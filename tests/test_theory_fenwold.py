"""build_fenwold_params: the simulator's parameter record and its exact JSON text."""

import json
import math
import random
import struct

import pytest

import _native

INF, NAN = math.inf, math.nan
KEYS = "a_landau b_landau c_landau k_r zeta_eff frank_splay frank_bend frank_ratio".split()
PASSED_THROUGH = [key for key in KEYS if key not in ("zeta_eff", "frank_ratio")]


def same(x, y):
    return (math.isnan(x) and math.isnan(y)) or struct.pack("<d", x) == struct.pack("<d", y)


def number_text(x):
    """The text's number form, laid out independently from the digits of Python's repr."""
    if not math.isfinite(x):
        return "null"
    sign = "-" if math.copysign(1.0, x) < 0 else ""
    if x == 0:
        return sign + "0.0"
    mantissa, _, exponent = repr(abs(x)).partition("e")
    whole, _, fraction = mantissa.partition(".")
    digits = (whole + fraction).lstrip("0")
    e = int(exponent or 0) + len(whole) - 1 - (len(whole + fraction) - len(digits))
    digits = digits.rstrip("0")
    n = len(digits)
    if e >= 16 or e <= -6:
        body = digits[0] + ("." + digits[1:] if n > 1 else "")
        return f"{sign}{body}e{'+' if e >= 0 else '-'}{abs(e)}"
    if e >= n - 1:
        return sign + digits + "0" * (e + 1 - n) + ".0"
    if e < 0:
        return sign + "0." + "0" * (-e - 1) + digits
    return sign + digits[: e + 1] + "." + digits[e + 1 :]


def expected_text(record):
    """Ten lines: brace, eight two-space-indented members in key order, brace."""
    return "{\n" + ",\n".join(f'  "{k}": {number_text(record[k])}' for k in KEYS) + "\n}"


EXAMPLES = [
    (1.0, "1.0"), (100.0, "100.0"), (1500.0, "1500.0"), (1e15, "1000000000000000.0"),
    (1e16, "1e+16"), (1.5e16, "1.5e+16"), (123.456, "123.456"), (0.05, "0.05"),
    (0.00001, "0.00001"), (0.000001, "1e-6"), (1.5e-7, "1.5e-7"), (5e-324, "5e-324"),
    (1.7976931348623157e308, "1.7976931348623157e+308"), (0.1, "0.1"), (-2.5, "-2.5"),
    (0.0, "0.0"), (-0.0, "-0.0"), (INF, "null"), (-INF, "null"), (NAN, "null"),
    # Next to the switches between the layouts.
    (9999999999999998.0, "9999999999999998.0"), (2.0**53, "9007199254740992.0"),
    (123456789012345680.0, "1.2345678901234568e+17"), (1.2345e-5, "0.000012345"),
    (-9.87654321e-6, "-9.87654321e-6"), (9.5e-6, "9.5e-6"), (1 / 3, "0.3333333333333333"),
    (2.2250738585072014e-308, "2.2250738585072014e-308"), (-1e100, "-1e+100"),
]


@pytest.mark.parametrize(("value", "text"), EXAMPLES, ids=[t for _, t in EXAMPLES])
def test_number_form_examples(value, text):
    assert number_text(value) == text  # the test's own formatter agrees with the examples
    text_of_a = _native.build_fenwold_params(value, 0.0, 1.0, 1.0, 1.0, 1.0, 0, 1.0)["json"]
    assert text_of_a.startswith('{\n  "a_landau": ' + text + ",\n  ")


def test_random_records_read_back_and_follow_the_layout():
    rng = random.Random(20261206)
    values = [INF, -INF, NAN, -0.0, 0.0, 5e-324]
    for _ in range(3000):
        values += [struct.unpack("<d", rng.randbytes(8))[0],  # any bit pattern
                   rng.choice((-1, 1)) * 10 ** rng.uniform(-8, 18),  # across the layout switches
                   round(rng.uniform(-1e4, 1e4), rng.randint(0, 8)),  # short decimals
                   float(rng.randint(-(2**60), 2**60))]
    for start in range(0, len(values) - 5, 6):
        args = values[start : start + 6]
        result = _native.build_fenwold_params(*args, rng.getrandbits(64), rng.uniform(-1, 1e6))
        assert list(result) == [*KEYS, "json"]
        assert all(same(result[key], v) for key, v in zip(PASSED_THROUGH, args))
        assert result["json"] == expected_text(result), args
        parsed = json.loads(result["json"])  # the digits read back to the same doubles
        assert all(same(parsed[k], result[k]) for k in KEYS if math.isfinite(result[k]))


@pytest.mark.parametrize(
    ("n_defects", "area", "k", "splay", "bend", "zeta", "ratio"),
    [
        (3, 0.0, 2.0, 3.0, 1.5, 0.0, 2.0),
        (3, -5.0, 2.0, 3.0, 0.0, 0.0, INF),
        (3, 1e-16, 2.0, 3.0, 1e-15, 0.0, INF),
        (3, 1e-15, 2.0, 0.0, 2e-15, (3 / 1e-15) * 2.0, 0.0),  # at and just above the thresholds
        (0, 10.0, 2.0, 3.0, -2.0, 0.0, INF),
        (0, 10.0, -2.0, -4.0, 2.0, -0.0, -2.0),
        (7, 3.0, 0.1, 3.0, NAN, (7 / 3.0) * 0.1, INF),  # density first, then times k
        (2**64 - 1, 1.0, 1.0, NAN, 1.0, 18446744073709551616.0, NAN),
        (4, INF, 1.0, 1.0, 1.0, 0.0, 1.0),
        (2, NAN, 1.0, 1.0, 1.0, NAN, 1.0),
        (2, 10.0, NAN, 1.0, 1.0, NAN, 1.0),
        (0, 10.0, INF, 1.0, 1.0, NAN, 1.0),
    ],
    ids=["zero-area", "negative-area+zero-bend", "tiny-area+tiny-bend", "thresholds",
         "no-defects+negative-bend", "negative-k+negative-splay", "order+nan-bend",
         "max-count+nan-splay", "infinite-area", "nan-area", "nan-k", "no-defects+inf-k"],
)
def test_derived_fields(n_defects, area, k, splay, bend, zeta, ratio):
    result = _native.build_fenwold_params(0.0, 0.0, 1.0, k, splay, bend, n_defects, area)
    assert same(result["zeta_eff"], zeta) and same(result["frank_ratio"], ratio)
