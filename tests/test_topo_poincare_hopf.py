"""validate_poincare_hopf: the charge sum against the Euler characteristic."""

import math

import pytest

import _native

NAN, INF = math.nan, math.inf


@pytest.mark.parametrize(
    "charges, chi, tolerance, charge_sum, is_valid",
    [
        pytest.param([], 0, 0.1, -0.0, True, id="empty"),
        pytest.param([], 0, 0.0, -0.0, False, id="empty-zero-tolerance"),
        pytest.param([0.5, 0.5], 1, 1e-9, 1.0, True, id="disk"),
        pytest.param([0.5, 0.5], 2, 1e-9, 1.0, False, id="sphere-short"),
        pytest.param([1.0], 1, 0.0, 1.0, False, id="strict"),
        pytest.param([1.0], 1, -1.0, 1.0, False, id="negative-tolerance"),
        pytest.param([INF], 1, 1e300, INF, False, id="infinite"),
        pytest.param([0.5, -0.5], 0, 1e-12, 0.0, True, id="pair"),
        pytest.param([0.1] * 10, 1, 1e-15, 0.9999999999999999, True, id="sequential-sum"),
        pytest.param((0.5, 0.5, 0.5, 0.5), 2, 0.01, 2.0, True, id="tuple"),
    ],
)
def test_validate(charges, chi, tolerance, charge_sum, is_valid):
    result = _native.validate_poincare_hopf(charges, chi, tolerance)
    assert list(result) == ["charge_sum", "euler_characteristic", "is_valid"]
    assert result == {"charge_sum": charge_sum, "euler_characteristic": chi, "is_valid": is_valid}
    assert math.copysign(1.0, result["charge_sum"]) == math.copysign(1.0, charge_sum)
    assert type(result["euler_characteristic"]) is int and type(result["is_valid"]) is bool


@pytest.mark.parametrize("tolerance", [0.0, 1.0, INF, NAN])
def test_nan_charge_is_never_valid(tolerance):
    result = _native.validate_poincare_hopf([0.5, NAN], 0, tolerance)
    assert math.isnan(result["charge_sum"]) and result["is_valid"] is False


def test_nan_tolerance_is_never_valid():
    assert _native.validate_poincare_hopf([1.0], 1, NAN)["is_valid"] is False


@pytest.mark.parametrize("chi", [-(2**31), 2**31 - 1])
def test_euler_characteristic_range(chi):
    assert _native.validate_poincare_hopf([], chi, 1.0)["euler_characteristic"] == chi


@pytest.mark.parametrize(
    "args, exc, message",
    [
        pytest.param(("ab", 0, 1.0), TypeError, "argument 'charges': Can't extract `str` to `Vec`",
                     id="str"),
        pytest.param(([], 2**31, 1.0), OverflowError, None, id="chi-too-large"),
        pytest.param(([], 0.0, 1.0), TypeError, None, id="chi-float"),
        pytest.param((["x"], 0, 1.0), TypeError, None, id="charge-not-a-number"),
    ],
)
def test_argument_errors(args, exc, message):
    with pytest.raises(exc) as info:
        _native.validate_poincare_hopf(*args)
    if message is not None:
        assert str(info.value) == message
