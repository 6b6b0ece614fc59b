"""The package gives the MEX files' results: the same correspondences, the
same Addcandidates.txt bytes, the same grid cells as buildgridcells, the
same grouping as coordsift."""

import numpy as np
import pytest

import lineharvest as lh
from conftest import random_scene, run_scene, scene_grid, write_mex_inputs

NUM_SCENES = 100


def read_candidates(path):
    values = np.array(path.read_text().split(), dtype=np.int64)
    return values.reshape(-1, 3)


def test_graf_example_matches_mex(mex, graf, tmp_path):
    grid = lh.GridIndex.load(graf["grid_path"], 10, 0, 640, 0, 800)
    found = lh.add_candidates(graf["segments1"], graf["segments2"], graf["pair_records"], graf["pair_index"], grid)
    mex.run(
        "d = '%s'; s1 = dlmread (fullfile (d, 'segments1.txt'))'; s2 = dlmread (fullfile (d, 'segments2.txt'))';"
        " recs = dlmread (fullfile (d, 'pair_records.txt'))'; tab = dlmread (fullfile (d, 'pair_index.txt'))';"
        " lineharvest (s1, s2, recs, eye (3), columns (s1), columns (s2), columns (recs), 2, 0.1, 0.5, tab,"
        " rows (tab), fullfile (d, 'grid_cells.txt'), 10, 0, 640, 0, 800);" % graf["grid_path"].parent,
        cwd=tmp_path,
    )
    lh.write_candidates(tmp_path / "python.txt", found)
    mex_bytes = (tmp_path / "Addcandidates.txt").read_bytes()
    assert (tmp_path / "python.txt").read_bytes() == mex_bytes
    assert len(found) > 600  # the example adds several hundred


def test_random_scenes_match_mex(mex, tmp_path):
    scenes = [random_scene(seed) for seed in range(NUM_SCENES)]
    grids = [scene_grid(s) for s in scenes]
    for scene, grid in zip(scenes, grids):
        write_mex_inputs(tmp_path / f"scene_{scene['seed']:03d}", scene, grid)
    mex.run(f"run_mex_scenes ('{tmp_path}');", cwd=tmp_path)

    total = 0
    for scene, grid in zip(scenes, grids):
        folder = tmp_path / f"scene_{scene['seed']:03d}"
        found = run_scene(scene, grid)
        assert np.array_equal(found, read_candidates(folder / "Addcandidates.txt")), f"seed {scene['seed']}"
        lh.write_candidates(folder / "python.txt", found)
        assert (folder / "python.txt").read_bytes() == (folder / "Addcandidates.txt").read_bytes()
        built = lh.GridIndex.build(scene["segments2"], scene["cell_size"], *scene["window"], margin=scene["margin"])
        assert built.to_text() == (folder / "grid_m.txt").read_text(), f"seed {scene['seed']}"
        total += len(found)
    # The scenes must exercise the transfer, not only its refusals.
    assert total > 200


def coordsift_tables(rng):
    """Point tables whose coordinates collide after truncation, with NaN,
    -0.0, infinities and values beyond the int32 range."""
    specials = np.array([np.nan, -0.0, 0.0, np.inf, -np.inf, 3e9, -3e9, 2147483647.0, -2147483648.0, -2147483649.0])
    for n in (0, 1, 2, 7, 50, 300):
        table = rng.normal(0, 2, size=(n, 6))
        pick = rng.random((n, 2))
        xy = np.where(pick < 0.5, np.trunc(rng.uniform(-3, 3, (n, 2))), rng.uniform(-3, 3, (n, 2)))
        xy = np.where(pick > 0.9, rng.choice(specials, (n, 2)), xy)
        table[:, 2:4] = xy
        yield table


def test_grouping_matches_coordsift(mex, tmp_path):
    rng = np.random.default_rng(7)
    tables = list(coordsift_tables(rng))
    for k, table in enumerate(tables):
        np.ascontiguousarray(table, dtype="<f8").tofile(tmp_path / f"points_{k}.f64")
    mex.run(
        f"for k = 0:{len(tables) - 1}\n"
        "  fid = fopen (sprintf ('points_%d.f64', k)); t = fread (fid, Inf, 'double', 0, 'ieee-le'); fclose (fid);\n"
        "  [g, c, n] = coordsift (t, numel (t) / 6);\n"
        "  fid = fopen (sprintf ('groups_%d.f64', k), 'w'); fwrite (fid, [n, g, c], 'double', 0, 'ieee-le'); fclose (fid);\n"
        "end",
        cwd=tmp_path,
    )
    for k, table in enumerate(tables):
        out = np.fromfile(tmp_path / f"groups_{k}.f64", dtype="<f8")
        count = int(out[0])
        n = len(table)
        index, coords = out[1 : 1 + n], out[1 + n :]
        groups = lh.group_points(table)
        assert groups.count == count
        assert np.array_equal(groups.index, index)
        assert np.array_equal(groups.coords.ravel(), coords[: 2 * count])
        assert not coords[2 * count :].any()
        # The flat view of the same memory, as the MEX takes it, agrees.
        flat = lh.group_points(table.ravel())
        assert np.array_equal(flat.index, groups.index)


def epipolar_cases(rng):
    """Random segments with a few degenerate ones, random matrices (one
    a true fundamental matrix of a translation), ratios on the edges."""
    for k in range(8):
        n1, n2 = int(rng.integers(0, 40)), int(rng.integers(0, 40))
        s1 = rng.uniform(0, 200, size=(n1, 4))
        s2 = rng.uniform(0, 200, size=(n2, 4))
        if n2 > 2:
            s2[0, 2:] = s2[0, :2]  # zero length
            s2[1, 1] = np.nan
        f = rng.normal(size=(3, 3)) if k % 2 else np.array([[0, 0, 0], [0, 0, -1.0], [0, 1.0, 0]])
        yield s1, s2, f, float(rng.choice([0.0, 0.3, 1.0, np.inf]))


def test_epipolar_screen_matches_mex(mex, tmp_path):
    cases = list(epipolar_cases(np.random.default_rng(11)))
    for k, (s1, s2, f, ratio) in enumerate(cases):
        for name, value in (("s1", s1), ("s2", s2), ("f", f), ("ratio", np.array([ratio]))):
            np.ascontiguousarray(value, dtype="<f8").tofile(tmp_path / f"{name}_{k}.f64")
    mex.run(
        f"for k = 0:{len(cases) - 1}\n"
        "  r = @(n, m) fread (fopen (sprintf ('%s_%d.f64', n, k)), [m, Inf], 'double', 0, 'ieee-le');\n"
        "  s1 = r ('s1', 4); s2 = r ('s2', 4); f = r ('f', 3)'; ratio = r ('ratio', 1);\n"
        "  if (isempty (s1)) s1 = zeros (4, 0); end\n"
        "  if (isempty (s2)) s2 = zeros (4, 0); end\n"
        "  e = epipolarscreen (s1, s2, f, ratio, sprintf ('E_%d.txt', k));\n"
        "  fid = fopen (sprintf ('E_%d.f64', k), 'w'); fwrite (fid, e', 'double', 0, 'ieee-le'); fclose (fid);\n"
        "  fclose ('all');\n"
        "end",
        cwd=tmp_path,
    )
    for k, (s1, s2, f, ratio) in enumerate(cases):
        screen = lh.epipolar_candidates(s1, s2, f, ratio)
        assert screen.shape == (len(s1), len(s2)) and screen.dtype == np.uint8
        expected = np.fromfile(tmp_path / f"E_{k}.f64", dtype="<f8").reshape(len(s1), len(s2))
        assert np.array_equal(screen, expected), k
        lh.write_epipolar_candidates(tmp_path / f"P_{k}.txt", screen)
        assert (tmp_path / f"P_{k}.txt").read_bytes() == (tmp_path / f"E_{k}.txt").read_bytes(), k
