"""Seeded synthetic scenes for the Python benchmarks: image-1 segments spread
over an image, image-2 segments that are their images under a few local
homographies (with noise) plus clutter, pair records naming matched pairs,
and for every image-1 segment the records whose seeds lie nearest."""

import numpy as np

# name: (image-1 segments, image-2 segments, pair records, records per segment, image width, height)
SCENES = {
    "graf-like": (2000, 2300, 1500, 20, 800, 640),
    "large": (20000, 20000, 10000, 30, 4000, 3000),
}


def make_scene(name, seed=1):
    n1, n2, num_records, per_segment, width, height = SCENES[name]
    rng = np.random.default_rng(seed)
    starts = rng.uniform([0, 0], [width, height], size=(n1, 2))
    lengths = rng.uniform(10, 80, size=(n1, 1))
    angles = rng.uniform(-np.pi, np.pi, size=(n1, 1))
    segments1 = np.hstack([starts, starts + lengths * np.hstack([np.cos(angles), np.sin(angles)])])

    # A mild global homography, plus a small local perturbation per record.
    base = np.array([[0.95, 0.05, 12.0], [-0.04, 1.02, -8.0], [1e-5, -2e-5, 1.0]])
    ends = np.hstack([segments1.reshape(-1, 2), np.ones((2 * n1, 1))]) @ base.T
    mapped = (ends[:, :2] / ends[:, 2:]).reshape(-1, 4)
    matched = min(n1, n2)
    segments2 = rng.uniform(0, 1, size=(n2, 4)) * [width, height, width, height]
    segments2[:matched] = mapped[:matched] + rng.normal(0, 0.7, size=(matched, 4))
    order = rng.permutation(n2)
    segments2 = segments2[order]
    partner = np.empty(n2, dtype=np.int64)
    partner[order] = np.arange(n2)  # image-2 index of image-1 segment k (k < matched)

    records = np.zeros((num_records, 14))
    seeds = rng.integers(0, matched, size=(num_records, 2))
    records[:, 0:2] = seeds
    records[:, 2] = partner[seeds[:, 0]]
    records[:, 3] = partner[seeds[:, 1]]
    local = base[None, :, :] * (1 + rng.normal(0, 2e-3, size=(num_records, 3, 3)))
    records[:, 5:] = local.reshape(num_records, 9)

    # Records whose first seed's midpoint lies nearest to the segment's.
    mids1 = (segments1[:, :2] + segments1[:, 2:]) / 2
    seed_mids = mids1[seeds[:, 0]]
    cell = 100.0
    buckets = {}
    for r, (x, y) in enumerate(seed_mids):
        buckets.setdefault((int(x // cell), int(y // cell)), []).append(r)
    table = np.empty((n1, per_segment))
    for i, (x, y) in enumerate(mids1):
        cx, cy = int(x // cell), int(y // cell)
        near = [r for dx in (-1, 0, 1) for dy in (-1, 0, 1) for r in buckets.get((cx + dx, cy + dy), [])]
        if len(near) < per_segment:
            near = near + list(rng.integers(0, num_records, size=per_segment - len(near)))
        near = np.array(near)
        distance = np.hypot(*(seed_mids[near] - (x, y)).T)
        table[i] = near[np.argsort(distance, kind="stable")[:per_segment]]
    return {
        "segments1": segments1,
        "segments2": segments2,
        "pair_records": records,
        "pair_index": table,
        "window": (0, height, 0, width),
        "cell_size": 10,
        "margin": 3,
    }
