"""Shared fixtures of the Python package tests: the bundled graf inputs,
seeded random scenes, and a runner that calls the MEX files in Octave on
the same inputs."""

import os
import shutil
import subprocess
from pathlib import Path

import numpy as np
import pytest

import lineharvest as lh

REPO = Path(__file__).resolve().parents[2]
GRAF = REPO / "example" / "graf"
MEX_DIR = Path(os.environ.get("LINEHARVEST_MEX_DIR", REPO / "build" / "mex"))
# Set by scripts/test_python.sh, which builds the MEX files first: there a
# missing MEX file or Octave is a failure, not a skipped comparison.
REQUIRE_MEX = os.environ.get("LINEHARVEST_REQUIRE_MEX") == "1"


def mex_available():
    return shutil.which("octave-cli") is not None and (MEX_DIR / "lineharvest.mex").is_file()


@pytest.fixture(scope="session")
def mex():
    if not mex_available():
        if REQUIRE_MEX:
            pytest.fail(f"the MEX files are required but not found in {MEX_DIR} (or octave-cli is missing)")
        pytest.skip(f"no MEX files in {MEX_DIR}")
    return MexRunner()


class MexRunner:
    """Runs Octave code with the MEX folder and the project's m-code on the path."""

    def run(self, code, cwd):
        prelude = f"addpath('{MEX_DIR}'); addpath('{REPO / 'matlab'}'); addpath('{Path(__file__).parent}');"
        result = subprocess.run(
            ["octave-cli", "--norc", "--quiet", "--eval", prelude + code],
            cwd=cwd,
            capture_output=True,
            text=True,
            timeout=600,
        )
        if result.returncode != 0:
            raise AssertionError(f"Octave failed:\n{result.stdout}\n{result.stderr}")
        return result.stdout


# --- the bundled example -------------------------------------------------


def load_graf():
    """The example's prepared inputs as the package takes them."""
    info = dict(line.split(None, 1) for line in (GRAF / "prepare_info.txt").read_text().splitlines() if line.strip())
    return {
        "segments1": np.loadtxt(GRAF / "segments1.txt", ndmin=2),
        "segments2": np.loadtxt(GRAF / "segments2.txt", ndmin=2),
        "pair_records": np.loadtxt(GRAF / "pair_records.txt", ndmin=2),
        "pair_index": np.loadtxt(GRAF / "pair_index.txt", ndmin=2),
        "grid_path": GRAF / "grid_cells.txt",
        "info": info,
    }


@pytest.fixture(scope="session")
def graf():
    return load_graf()


# --- seeded random scenes --------------------------------------------------


def random_homography(rng):
    """A homography near a random similarity, now and then degenerate:
    mirrored, mapping points onto the line at infinity, all zeros, NaN."""
    angle = rng.uniform(-0.3, 0.3)
    scale = rng.uniform(0.8, 1.25)
    h = np.array(
        [
            [scale * np.cos(angle), -scale * np.sin(angle), rng.uniform(-20, 20)],
            [scale * np.sin(angle), scale * np.cos(angle), rng.uniform(-20, 20)],
            [rng.uniform(-2e-4, 2e-4), rng.uniform(-2e-4, 2e-4), 1.0],
        ]
    )
    odd = rng.random()
    if odd < 0.06:
        h[0, :] = -h[0, :]  # mirrored
    elif odd < 0.10:
        h[2, :] = [1e-2, 0.0, -1.0]  # w = 0 along x = 100
    elif odd < 0.12:
        h[:] = 0.0
    elif odd < 0.14:
        h[rng.integers(3), rng.integers(3)] = np.nan
    elif odd < 0.16:
        h[2, 2] = 0.0
    return h


def map_segments(h, segments):
    ends = segments.reshape(-1, 2)
    with np.errstate(all="ignore"):
        homogeneous = np.hstack([ends, np.ones((len(ends), 1))]) @ h.T
        mapped = homogeneous[:, :2] / homogeneous[:, 2:3]
    return mapped.reshape(-1, 4)


def random_scene(seed):
    """Segments over a window that does not start at 0, image-2 segments that
    are (noisy, sometimes reversed) images of image-1 segments under a few
    homographies plus clutter, pair records naming matched pairs, and
    thresholds drawn from values that sit on the tests' edges."""
    rng = np.random.default_rng(seed)
    n1 = int(rng.integers(0, 120)) if seed % 17 else 0
    x_begin, y_begin = int(rng.integers(-50, 60)), int(rng.integers(-50, 60))
    width, height = int(rng.integers(150, 500)), int(rng.integers(150, 500))
    starts = rng.uniform([x_begin, y_begin], [x_begin + width, y_begin + height], size=(n1, 2))
    lengths = rng.uniform(2, 80, size=(n1, 1))
    angles = rng.uniform(-np.pi, np.pi, size=(n1, 1))
    segments1 = np.hstack([starts, starts + lengths * np.hstack([np.cos(angles), np.sin(angles)])])
    if n1:
        segments1[rng.random(n1) < 0.03, rng.integers(4)] = rng.choice([np.nan, np.inf, -np.inf])
        # Coordinates on whole pixels and half pixels hit raster ties.
        snapped = rng.random(n1) < 0.2
        segments1[snapped] = np.round(segments1[snapped] * 2) / 2

    homographies = [random_homography(rng) for _ in range(int(rng.integers(1, 6)))]
    images = []
    for h in homographies:
        mapped = map_segments(h, segments1) + rng.normal(0, rng.choice([0.0, 0.5, 2.0]), size=segments1.shape)
        flip = rng.random(len(mapped)) < 0.1
        mapped[flip] = mapped[flip][:, [2, 3, 0, 1]]
        images.append(mapped)
    clutter = rng.uniform(min(x_begin, y_begin) - 20, max(x_begin + width, y_begin + height) + 20, size=(int(rng.integers(0, 60)), 4))
    segments2 = np.vstack(images + [clutter])
    segments2 = segments2[np.isfinite(segments2).all(axis=1) & (np.abs(segments2) < 1e6).all(axis=1)]
    segments2 = segments2[rng.permutation(len(segments2))]
    n2 = len(segments2)

    num_records = int(rng.integers(1, 12)) if n1 and n2 else 0
    records = np.zeros((num_records, 14))
    for r in range(num_records):
        records[r, 0:2] = rng.integers(0, n1, size=2)
        records[r, 2:4] = rng.integers(0, n2, size=2)
        records[r, 5:] = homographies[r % len(homographies)].ravel()
    per_segment = int(rng.integers(0, 5)) if num_records else 0
    pair_index = rng.integers(0, max(num_records, 1), size=(n1, per_segment)).astype(np.float64)

    cell = int(rng.choice([1, 3, 10, 25]))
    margin = int(rng.choice([0, 1, 3]))
    window = (y_begin, y_begin + height, x_begin, x_begin + width)
    return {
        "seed": seed,
        "segments1": segments1,
        "segments2": segments2,
        "pair_records": records,
        "pair_index": pair_index,
        "cell_size": cell,
        "margin": margin,
        "window": window,
        # Cells beyond the file's last line are empty: now and then the file
        # stops early.
        "grid_lines": None if rng.random() < 0.8 else int(rng.integers(0, 50)),
        "max_line_distance": float(rng.choice([0.0, 1.0, 2.0, 5.0, np.inf])),
        "max_angle_difference": float(rng.choice([0.0, 0.05, 0.1, np.pi, 4.0, np.inf])),
        "min_overlap_ratio": float(rng.choice([-np.inf, 0.0, 0.5, 1.0])),
    }


def scene_grid(scene):
    grid = lh.GridIndex.build(scene["segments2"], scene["cell_size"], *scene["window"], margin=scene["margin"])
    if scene["grid_lines"] is None:
        return grid
    text = "".join(grid.to_text().splitlines(keepends=True)[: scene["grid_lines"]])
    return lh.GridIndex.from_text(text, scene["cell_size"], *scene["window"])


def run_scene(scene, grid, threads=1):
    return lh.add_candidates(
        scene["segments1"],
        scene["segments2"],
        scene["pair_records"],
        scene["pair_index"],
        grid,
        max_line_distance=scene["max_line_distance"],
        max_angle_difference=scene["max_angle_difference"],
        min_overlap_ratio=scene["min_overlap_ratio"],
        threads=threads,
    )


def write_mex_inputs(folder, scene, grid):
    """The scene as raw float64 files that the Octave runner reads into
    MATLAB's layout (4xN, 14xP, TxN1), plus the grid cell file."""
    folder.mkdir(parents=True)
    for name in ("segments1", "segments2", "pair_records", "pair_index"):
        np.ascontiguousarray(scene[name], dtype="<f8").tofile(folder / f"{name}.f64")
    y0, y1, x0, x1 = scene["window"]
    params = [
        len(scene["segments1"]), len(scene["segments2"]), len(scene["pair_records"]), scene["pair_index"].shape[1],
        scene["max_line_distance"], scene["max_angle_difference"], scene["min_overlap_ratio"],
        scene["cell_size"], y0, y1, x0, x1, scene["margin"],
    ]
    np.array(params, dtype="<f8").tofile(folder / "params.f64")
    grid.write(folder / "grid.txt")
