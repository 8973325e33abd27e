"""validate_poincare_hopf: the charge sum, added in order from -0.0, against the Euler
characteristic with a strict tolerance."""

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
        pytest.param([1.0], 1, NAN, 1.0, False, id="nan-tolerance"),
        pytest.param([0.5, NAN], 0, INF, NAN, False, id="nan-charge"),
        pytest.param([INF], 1, 1e300, INF, False, id="infinite"),
        pytest.param([0.5, -0.5], 0, 1e-12, 0.0, True, id="pair"),
        pytest.param([0.1] * 10, 1, 1e-15, 0.9999999999999999, True, id="sequential-sum"),
        pytest.param((0.5, 0.5, 0.5, 0.5), 2, 0.01, 2.0, True, id="tuple"),
        pytest.param([], -(2**31), 1.0, -0.0, False, id="chi-min"),
    ],
)
def test_validate(charges, chi, tolerance, charge_sum, is_valid):
    result = _native.validate_poincare_hopf(charges, chi, tolerance)
    assert list(result) == ["charge_sum", "euler_characteristic", "is_valid"]
    assert repr(result["charge_sum"]) == repr(charge_sum)  # exact, sign of zero and NaN too
    assert type(result["euler_characteristic"]) is int and result["euler_characteristic"] == chi
    assert result["is_valid"] is is_valid
