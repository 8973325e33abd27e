"""The typical analysis chain on a synthetic tissue, from image to simulator parameters.

The tissue is generated here (nothing is downloaded): elongated cells whose long axes follow a
nematic director field with one +1/2 and one -1/2 defect. The script measures the orientation
field, finds the defects and checks their total charge, measures orientational order over
distance, fits the nuclei, describes the cell shapes, and ends with the parameter set (and its
JSON text) for the downstream fenwold simulator.
"""

import numpy as np

import _native as nt

SIZE = 192  # pixels
PIXEL_UM = 0.5  # micrometres per pixel
STEP = 8  # pixels per block of the coarse director grid
PLUS, MINUS = (SIZE / 2, SIZE / 3), (SIZE / 2, 2 * SIZE / 3)  # planted defects (row, col)


def director(rows, cols):
    """Long-axis angle of the planted field: +1/2 around PLUS, -1/2 around MINUS."""
    return 0.5 * np.arctan2(rows - PLUS[0], cols - PLUS[1]) - 0.5 * np.arctan2(
        rows - MINUS[0], cols - MINUS[1]
    )


def synthetic_tissue(seed=7):
    """Image of elongated cells, their nucleus mask, outlines and centres."""
    rng = np.random.default_rng(seed)
    half = 7
    # Drawn on a margin of `half` pixels all round so that cells cross the image border.
    canvas = rng.normal(0.0, 0.02, (SIZE + 2 * half, SIZE + 2 * half))
    labels = np.zeros(canvas.shape, np.int32)
    dy, dx = np.mgrid[-half : half + 1, -half : half + 1].astype(float)
    centres = rng.uniform(0, SIZE, (SIZE * SIZE // 10, 2))
    outlines = []
    for label, (r, c) in enumerate(centres, start=1):
        d = director(r, c)
        u = np.cos(d) * dx + np.sin(d) * dy
        v = -np.sin(d) * dx + np.cos(d) * dy
        r0, c0 = int(r) + half, int(c) + half
        window = (slice(r0 - half, r0 + half + 1), slice(c0 - half, c0 + half + 1))
        canvas[window] += np.exp(-(u**2 / (2 * 3.5**2) + v**2 / (2 * 1.0**2)))
        if label <= 400:  # a nucleus and an outline for a subset of cells
            nucleus = (u / 3.0) ** 2 + (v / 1.2) ** 2 <= 1.0
            labels[window][nucleus & (labels[window] == 0)] = label
            t = np.linspace(0.0, 2 * np.pi, 24, endpoint=False)
            x = c + 5.0 * np.cos(t) * np.cos(d) - 2.0 * np.sin(t) * np.sin(d)
            y = r + 5.0 * np.cos(t) * np.sin(d) + 2.0 * np.sin(t) * np.cos(d)
            outlines.append(np.column_stack([x, y]) * PIXEL_UM)
    crop = (slice(half, half + SIZE), slice(half, half + SIZE))
    return canvas[crop], np.ascontiguousarray(labels[crop]), outlines


def block_director(theta, coherence):
    """Coarse director per block: the coherence-weighted mean of the nematic tensor."""
    n = theta.shape[0] // STEP, theta.shape[1] // STEP

    def block_mean(values):
        blocks = values[: n[0] * STEP, : n[1] * STEP].reshape(n[0], STEP, n[1], STEP)
        return blocks.mean(axis=(1, 3))

    q_cos = block_mean(coherence * np.cos(2 * theta))
    q_sin = block_mean(coherence * np.sin(2 * theta))
    return (0.5 * np.arctan2(q_sin, q_cos)) % np.pi, np.hypot(q_cos, q_sin)


def main():
    image, mask, outlines = synthetic_tissue()
    print(f"synthetic tissue: {SIZE}x{SIZE} px at {PIXEL_UM} um/px, {len(outlines)} outlines")

    field = nt.compute_structure_tensor(image, 3.0)
    grid, order = block_director(field["theta"], field["coherence"])
    ny, nx = grid.shape
    thetas = np.ascontiguousarray(grid).ravel()
    print(f"orientation field: mean coherence {field['coherence'].mean():.3f}, "
          f"director grid {ny}x{nx} blocks of {STEP} px")

    defects = nt.detect_defects(thetas, nx, ny, 2, 1.0)
    for defect in defects:
        row, col = (np.array(defect["position"]) + 0.5) * STEP - 0.5
        print(f"  defect {defect['charge']:+.1f} at pixel (row {row:.1f}, col {col:.1f})")
    print(f"planted: +1/2 at {PLUS}, -1/2 at {MINUS}")
    charges = [d["charge"] for d in defects]
    check = nt.validate_poincare_hopf(charges, 0, 0.25)
    print(f"Poincare-Hopf: charge sum {check['charge_sum']:+.1f}, valid: {check['is_valid']}")

    rows, cols = np.mgrid[0:ny, 0:nx]
    centres = (np.column_stack([cols.ravel(), rows.ravel()]) + 0.5) * STEP
    corr = nt.orientational_correlation(centres, thetas, 2, SIZE / 2, 12)
    xi = corr["correlation_length"]
    print(f"G_2(r): {np.round(corr['g_values'][:6], 3)} ...; correlation length {xi:.1f} px")

    nuclei = nt.fit_nuclear_ellipses(mask)
    aspect = np.median([n["aspect_ratio"] for n in nuclei])
    points = np.array([[n["centroid_col"], n["centroid_row"]] for n in nuclei])
    ripley = nt.ripley_k(points, [0, 0, SIZE, SIZE], np.array([5.0, 10.0, 20.0]))
    print(f"nuclei: {len(nuclei)}, median aspect ratio {aspect:.2f}; "
          f"Ripley L(r)-r at 5/10/20 px: {np.round(ripley['l_values'], 2)}")

    shapes = nt.analyze_shapes_batch(outlines)
    index = np.array([s["shape_index"] for s in shapes])
    left = np.array([o[:, 0].mean() < SIZE * PIXEL_UM / 2 for o in outlines])
    test = nt.permutation_test(index[left], index[~left], 999, 42)
    print(f"cell shape index {index.mean():.3f}; left vs right p = {test['p_value']:.3f}")

    coherence_values = np.ascontiguousarray(order).ravel()
    ldg = nt.estimate_ldg_params(coherence_values, xi, PIXEL_UM * STEP)
    frank = nt.frank_energy(thetas, nx, ny, PIXEL_UM * STEP)
    params = nt.build_fenwold_params(
        ldg["a"], ldg["b"], ldg["c"], ldg["k_elastic"], frank["splay"], frank["bend"],
        len(defects), SIZE * SIZE * PIXEL_UM**2,
    )
    print("fenwold parameters:")
    print(params["json"])


if __name__ == "__main__":
    main()
