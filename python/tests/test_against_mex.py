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
