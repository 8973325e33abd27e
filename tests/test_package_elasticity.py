"""Splay–bend anisotropy of +1/2 defects: the profile table and its recovery from images."""

import math

import numpy as np
import pytest
from scipy import integrate

import tazmir
from tazmir.elasticity import defect_anisotropy, profile_table, splay_bend_profile
from tazmir.synthetic import anisotropic_defect_tissue


@pytest.mark.parametrize("epsilon", [-0.7, 0.3, 0.6])
def test_profile_table_solves_the_euler_lagrange_equation(epsilon):
    def rhs(phi, y):
        theta, slope = phi / 2 + y[0], 0.5 + y[1]
        twice = 2 * (theta - phi)
        return np.vstack([y[1], epsilon * np.sin(twice) * (slope**2 - 2 * slope)
                          / (1 + epsilon * np.cos(twice))])

    grid = np.linspace(0, 2 * math.pi, 201)
    # theta(0) = 0 (radial along the tail) and theta(2 pi) = pi: u = theta - phi/2 vanishes at both.
    solution = integrate.solve_bvp(rhs, lambda a, b: np.array([a[0], b[0]]), grid,
                                   np.zeros((2, grid.size)), tol=1e-8)
    assert solution.status == 0
    phi = np.linspace(0, 2 * math.pi, 50, endpoint=False)
    expected = phi / 2 + solution.sol(phi)[0]
    np.testing.assert_allclose(splay_bend_profile(phi, epsilon), expected, atol=5e-4)


@pytest.mark.parametrize("epsilon", [-0.9, -0.4, 0.3, 0.9])
def test_profile_table_is_the_solution_of_its_discrete_equations(epsilon):
    # The same central differences on the same grid, solved directly: Newton with a dense
    # Jacobian taken by complex steps (exact to rounding), u_0 = 0 pinning the tail.
    eps, phi, table = profile_table()
    h = phi[1] - phi[0]

    def residual(u):
        up, um = np.roll(u, -1, axis=-1), np.roll(u, 1, axis=-1)
        slope, curvature = 0.5 + (up - um) / (2 * h), (up - 2 * u + um) / h**2
        twice = 2 * u - phi
        return (curvature * (1 + epsilon * np.cos(twice))
                - epsilon * np.sin(twice) * (slope**2 - 2 * slope))[..., 1:]

    u = -0.75 * epsilon * np.sin(phi)
    for _ in range(12):
        jacobian = residual(u + 1e-30j * np.eye(phi.size)[1:]).imag.T / 1e-30
        u[1:] -= np.linalg.solve(jacobian, residual(u))
    row = table[np.argmin(np.abs(eps - epsilon))]
    # |ε| = 0.9 is ill-conditioned: rounding alone moves the solution by about 1e-10.
    np.testing.assert_allclose(row, u, rtol=0, atol=5e-10)


def test_profile_table_is_the_isotropic_defect_at_zero_and_mirror_symmetric():
    eps, phi, table = profile_table()
    assert np.all(table[np.flatnonzero(eps == 0.0)] == 0.0)
    # theta(-phi) = -theta(phi): u is odd about the tail axis.
    np.testing.assert_allclose(table[:, 1:], -table[:, :0:-1], atol=1e-9)
    with pytest.raises(ValueError) as info:
        splay_bend_profile(phi, 0.95)
    assert str(info.value) == "epsilon must lie in [-0.9, 0.9], got 0.95"


@pytest.mark.parametrize("epsilon, angle, seed", [(-0.5, 0.0, 3), (0.0, 4.0, 5), (0.5, 2.0, 4)],
                         ids=["bend-cheap", "isotropic", "splay-cheap"])
def test_anisotropy_is_recovered_within_its_error(epsilon, angle, seed):
    tissue = anisotropic_defect_tissue(192, epsilon=epsilon, angle_rad=angle, seed=seed)
    result = tazmir.analyze_image(tissue.image, pixel_size_um=0.5)
    plus, = [d for d in result.defects if d.charge == 0.5]
    assert 0.0 < plus.anisotropy_err < 0.2
    assert abs(plus.anisotropy - epsilon) <= 2.5 * plus.anisotropy_err


@pytest.mark.parametrize("epsilon", [-0.6, 0.0, 0.6], ids=["bend-cheap", "isotropic", "splay-cheap"])
@pytest.mark.parametrize("radii", [(28.0, 85.0), (60.0, 300.0)], ids=["small-rings", "large-rings"])
def test_planted_profile_is_recovered_from_an_offset_core(epsilon, radii):
    # A director field that follows the profile exactly (plus noise) around (330, 310), tail
    # along 1 rad; the fit starts 3 px and 0.15 rad off, as a detected core does. Rings of
    # 60-300 px hold far more pixels than the fit samples (they are read on a lattice).
    rng = np.random.default_rng(1)
    y, x = np.mgrid[:640, :640]
    theta = splay_bend_profile(np.arctan2(y - 330.0, x - 310.0), epsilon, 1.0)
    theta = theta + rng.normal(0.0, 0.1, theta.shape)
    fit = defect_anisotropy(theta, None, 332.0, 308.0, 1.15, np.linspace(*radii, 5))
    assert abs(fit.epsilon - epsilon) < 0.03
    assert fit.epsilon_err < 0.02
    assert abs(fit.angle_rad - 1.0) < 0.01
