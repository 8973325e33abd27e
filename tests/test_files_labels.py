"""Nuclei and cells from label images: known ellipses and a tessellation of known areas."""

import math

import numpy as np
import pytest

pytest.importorskip("skimage")
pd = pytest.importorskip("pandas")

import tazmir
from tazmir.labels import CELL_COLUMNS, NUCLEUS_COLUMNS

from conftest import inside_ellipse

PIXEL_UM = 0.4
# (row, col, semi-major px, semi-minor px, angle from the column axis towards the row axis)
ELLIPSES = [(30, 30, 14, 6, 0.0), (30, 90, 12, 5, 0.6), (90, 30, 15, 9, 2.0),
            (90, 90, 10, 4, math.pi / 2)]


def ellipse_labels(shape=(120, 120)):
    labels = np.zeros(shape, np.int32)
    for label, (r, c, a, b, phi) in enumerate(ELLIPSES, start=1):
        labels[inside_ellipse(shape, (r, c), a, b, phi)] = label
    labels[5, 5:8] = 5  # three pixels: too few to fit
    return labels


@pytest.fixture(scope="module")
def texture():
    return tazmir.synthetic_tissue(120, n_outlined=0, seed=4).image


def test_nucleus_table_gives_the_drawn_ellipses(texture):
    result = tazmir.analyze_image(texture, pixel_size_um=PIXEL_UM, nuclei=ellipse_labels())
    table = result.nuclei_frame()
    assert list(table.columns) == list(NUCLEUS_COLUMNS)
    assert table["label"].tolist() == [1, 2, 3, 4, 5]
    for (r, c, a, b, phi), row in zip(ELLIPSES, table.itertuples()):
        assert (row.centroid_row_px, row.centroid_col_px) == pytest.approx((r, c), abs=0.05)
        assert row.centroid_row_um == pytest.approx(row.centroid_row_px * PIXEL_UM)
        assert row.semi_major_um == pytest.approx(a * PIXEL_UM, rel=0.03)
        assert row.semi_minor_um == pytest.approx(b * PIXEL_UM, rel=0.06)
        assert math.sin(row.orientation_rad - phi) == pytest.approx(0.0, abs=0.03)
        assert row.area_um2 == pytest.approx(math.pi * a * b * PIXEL_UM**2, rel=0.05)
    small = table.iloc[4]
    assert small["reason"] == "only 3 pixels" and small["area_um2"] == pytest.approx(
        3 * PIXEL_UM**2)
    assert small[["semi_major_um", "orientation_rad"]].isna().all()
    assert result.summary()["n_nuclei"] == 4


def test_cell_table_gives_the_tessellation_areas_and_perimeters(texture):
    # Rectangles of w x h pixels tile the image; the 0.5 iso-line around each is the
    # rectangle of its pixel edges with the four corners cut by half-pixel triangles.
    edges_r, edges_c = [0, 40, 70, 120], [0, 30, 75, 120]
    labels = np.zeros((120, 120), np.int32)
    for i, j in np.ndindex(3, 3):
        labels[edges_r[i]:edges_r[i + 1], edges_c[j]:edges_c[j + 1]] = 3 * i + j + 1
    labels[50, 50:52] = 10  # two pixels cut out of the middle cell
    result = tazmir.analyze_image(texture, pixel_size_um=PIXEL_UM, cells=labels)
    table = result.cells_frame()
    assert list(table.columns) == list(CELL_COLUMNS)
    table = table.set_index("label")
    for i, j in np.ndindex(3, 3):
        if (i, j) == (1, 1):
            continue  # the hole makes the middle outline non-rectangular
        row = table.loc[3 * i + j + 1]
        h, w = edges_r[i + 1] - edges_r[i], edges_c[j + 1] - edges_c[j]
        perimeter = 2 * (w + h) - 4 + 2 * math.sqrt(2)
        assert (row["area_um2"], row["perimeter_um"], row["shape_index"]) == pytest.approx(
            ((w * h - 0.5) * PIXEL_UM**2, perimeter * PIXEL_UM,
             perimeter / math.sqrt(w * h - 0.5)), rel=1e-9)
        assert row["elongation_angle_rad"] == pytest.approx(0.0 if w > h else math.pi / 2,
                                                            abs=1e-6)
    assert table["touches_border"].tolist() == [True] * 4 + [False] + [True] * 4 + [False]
    assert table.loc[10, "reason"] == "only 2 pixels" and np.isnan(table.loc[10, "area_um2"])
    assert result.summary()["n_cells"] == 9
