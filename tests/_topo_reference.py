"""Plain-Python references for the topology tests: the 3x3 frame holonomy scan written
out literally, plaquette winding numbers, and an elder-rule union-find."""

import math


def _dot(a, b):
    return (a[0] * b[0] + a[1] * b[1]) + a[2] * b[2]


def _col(frame, c):
    return frame[3 * c:3 * c + 3]


def _gauge_fix(ref, frame):
    d0 = _dot(_col(ref, 0), _col(frame, 0))
    d1 = _dot(_col(ref, 1), _col(frame, 1))
    d2 = _dot(_col(ref, 2), _col(frame, 2))
    patterns = [((d0 + d1) + d2, (1, 1, 1)), ((-d1 - d0) + d2, (-1, -1, 1)),
                ((d1 - d0) - d2, (-1, 1, -1)), ((d0 - d1) - d2, (1, -1, -1))]
    best, signs = -math.inf, (1, 1, 1)
    for score, pattern in patterns:
        if score > best:
            best, signs = score, pattern
    return [frame[3 * c + r] * signs[c] for c in range(3) for r in range(3)]


def _tmul(a, b):
    return [_dot(_col(a, r), _col(b, c)) for c in range(3) for r in range(3)]


def _mul(a, b):
    return [(a[r] * b[3 * c] + a[3 + r] * b[3 * c + 1]) + a[6 + r] * b[3 * c + 2]
            for c in range(3) for r in range(3)]


def frame_scan(thetas, nx, ny, k, threshold):
    """(row, col, angle) of every plaquette the literal 3x3 scan reports."""
    frames = []
    for theta in thetas:
        phi = (float(theta) * float(k)) * 0.5
        c, s = (math.cos(phi), math.sin(phi)) if math.isfinite(phi) else (math.nan, math.nan)
        frames.append([c, s, 0.0, -s, c, 0.0, 0.0, 0.0, 1.0])
    found = []
    for i in range(nx - 1):
        for j in range(ny - 1):
            f0, f1 = frames[i * ny + j], frames[(i + 1) * ny + j]
            f2, f3 = frames[(i + 1) * ny + j + 1], frames[i * ny + j + 1]
            g1, g2, g3, g0 = (_gauge_fix(f0, f1), _gauge_fix(f1, f2), _gauge_fix(f2, f3),
                              _gauge_fix(f3, f0))
            h = _mul(_mul(_mul(_tmul(f0, g1), _tmul(f1, g2)), _tmul(f2, g3)), _tmul(f3, g0))
            c = (((h[0] + h[4]) + h[8]) + -1.0) * 0.5
            angle = math.acos(min(max(c, -1.0), 1.0)) if c == c else math.nan
            if angle > threshold:
                found.append((i, j, angle))
    return found


def winding_charges(grid, k):
    """{(row, col): charge} of plaquettes whose director winds, each step wrapped into
    (-pi/k, pi/k], walked (i, j) -> (i, j+1) -> (i+1, j+1) -> (i+1, j)."""
    period = 2 * math.pi / k

    def wrap(d):
        return d - period * math.floor(d / period + 0.5)

    nx, ny = len(grid), len(grid[0])
    charges = {}
    for i in range(nx - 1):
        for j in range(ny - 1):
            loop = [grid[i][j], grid[i][j + 1], grid[i + 1][j + 1], grid[i + 1][j]]
            turn = sum(wrap(loop[(n + 1) % 4] - loop[n]) for n in range(4))
            charge = round(turn / (2 * math.pi) * k) / k
            if charge != 0:
                charges[(i, j)] = charge
    return charges


def elder_rule_pairs(values, edges):
    """Finite dimension-0 pairs (birth, death) and the births of the surviving components
    of a graph filtration, by union-find: an edge joining two components kills the younger."""
    order = sorted(range(len(values)), key=lambda v: (values[v], v))
    rank = {v: r for r, v in enumerate(order)}
    parent = list(range(len(values)))

    def find(v):
        while parent[v] != v:
            parent[v] = parent[parent[v]]
            v = parent[v]
        return v

    finite = []
    for a, b, value in sorted(edges, key=lambda e: e[2]):
        ra, rb = find(a), find(b)
        if ra == rb:
            continue
        elder, younger = (ra, rb) if rank[ra] < rank[rb] else (rb, ra)
        parent[younger] = elder
        if abs(value - values[younger]) > 1e-15:
            finite.append((values[younger], value))
    roots = sorted(values[v] for v in range(len(values)) if find(v) == v)
    return sorted(finite), roots


class Cycling(Exception):
    """The literal reduction came back to a column state it had."""


def literal_persistence(vertices, edges, triangles):
    """Persistence pairs (birth, death, dim) by the merge, sort and column rules followed to
    the letter; raises Cycling when a column repeats a state while it is being reduced."""
    simplices = []  # (faces, value, dim)
    vertex_table, edge_table = {}, {}
    for i, (v, value) in enumerate(vertices):
        simplices.append(([], value, 0))
        vertex_table[v] = i
    nv = len(vertices)
    for j, (a, b, value) in enumerate(edges):
        edge_table[(min(a, b), max(a, b))] = nv + j
        simplices.append(([vertex_table.get(a, 0), vertex_table.get(b, 0)], value, 1))
    for a, b, c, value in triangles:
        faces = [edge_table[key] for key in ((min(a, b), max(a, b)), (min(b, c), max(b, c)),
                                             (min(a, c), max(a, c))) if key in edge_table]
        simplices.append((faces, value, 2))
    order = sorted(range(len(simplices)), key=lambda i: (simplices[i][1], simplices[i][2], i))
    rank = {s: r for r, s in enumerate(order)}
    columns = [sorted(rank[f] for f in simplices[s][0]) for s in order]
    low, owner = {}, {}
    for c, column in enumerate(columns):
        seen = set()
        while column:
            r = column[-1]
            if r not in owner:
                low[c], owner[r] = r, c
                break
            state = tuple(column)
            if state in seen:
                raise Cycling
            seen.add(state)
            other, merged, i, j = columns[owner[r]], [], 0, 0
            while i < len(column) and j < len(other):
                if column[i] == other[j]:
                    i, j = i + 1, j + 1
                elif column[i] < other[j]:
                    merged.append(column[i])
                    i += 1
                else:
                    merged.append(other[j])
                    j += 1
            column = merged + column[i:] + other[j:]
        columns[c] = column
    value = [simplices[s][1] for s in order]
    dim = [simplices[s][2] for s in order]
    result, marked = [], set()
    for c in range(len(columns)):
        if c in low:
            r = low[c]
            marked.update((r, c))
            if abs(value[c] - value[r]) > 1e-15:
                result.append((value[r], value[c], dim[r]))
    result += [(value[c], math.inf, 0) for c in range(len(columns))
               if c not in marked and dim[c] == 0]
    return result
