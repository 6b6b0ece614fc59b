"""The Octave package: the archive installs into a fresh prefix with
`pkg install`, and `pkg load lineharvest` gives working modules with help.
Also the MATLAB-style setup function on the CMake build's MEX folder."""

import shutil
import subprocess

import numpy as np
import pytest

import lineharvest as lh
from conftest import REPO, REQUIRE_MEX, MEX_DIR, mex_available

OCTAVE_CHECK = r"""
pkg prefix {prefix} {prefix}; pkg local_list {prefix}/octave_packages;
pkg install -local {archive}; pkg load lineharvest;
for f = {{'lineharvest', 'coordsift', 'epipolarscreen', 'buildgridcells', 'linematch'}}
  w = which (f{{1}});
  assert (strncmp (w, '{prefix}', numel ('{prefix}')), w);
  assert (numel (help (f{{1}})) > 200);
end
d = '{graf}';
s1 = dlmread (fullfile (d, 'segments1.txt'))'; s2 = dlmread (fullfile (d, 'segments2.txt'))';
recs = dlmread (fullfile (d, 'pair_records.txt'))'; tab = dlmread (fullfile (d, 'pair_index.txt'))';
C = lineharvest (s1, s2, recs, eye (3), columns (s1), columns (s2), columns (recs), 2, 0.1, 0.5, tab,
                 rows (tab), fullfile (d, 'grid_cells.txt'), 10, 0, 640, 0, 800, '');
dlmwrite ('package_C.txt', C', ' ');
buildgridcells ('package_grid.txt', s2, 10, 0, 640, 0, 800, 3);
[g, c, k] = coordsift ([0 0 1 2 0 0, 0 0 3 4 0 0, 0 0 1 2 0 0], 3);
assert (g, [0 1 0]); assert (k, 2);
E = epipolarscreen ([0; 0; 1; 0], [5; -1; 5; 1], [0 0 0; 0 0 -1; 0 1 0], 1);
assert (size (E), [1 1]);
M = linematch (zeros (20, 'uint8'), zeros (20, 'uint8'), 'rounds', 2);
assert (size (M), [2 0]);
try, linematch (zeros (20, 'uint8'), zeros (20, 'uint8'), 'Colour', 1); catch err, disp (err.message); end
disp ('package ok');
"""


@pytest.fixture(scope="module")
def octave_build_tools():
    if shutil.which("octave-cli") is None or shutil.which("mkoctfile") is None:
        if REQUIRE_MEX:
            pytest.fail("octave-cli and mkoctfile are required")
        pytest.skip("no octave-cli / mkoctfile")


def test_package_installs_and_runs(octave_build_tools, tmp_path, graf):
    made = subprocess.run(
        ["bash", str(REPO / "scripts" / "make_octave_package.sh"), str(tmp_path / "dist")],
        capture_output=True, text=True, check=True,
    )
    archive = made.stdout.strip().splitlines()[-1]
    assert archive.endswith(".tar.gz") and f"lineharvest-{lh.__version__}" in archive
    code = OCTAVE_CHECK.format(prefix=tmp_path / "prefix", archive=archive, graf=graf["grid_path"].parent)
    (tmp_path / "prefix").mkdir()
    run = subprocess.run(["octave-cli", "--norc", "--quiet", "--eval", code], cwd=tmp_path,
                         capture_output=True, text=True, timeout=900)
    assert "package ok" in run.stdout, run.stdout + run.stderr
    assert "unknown option 'Colour'" in run.stdout

    grid = lh.GridIndex.load(graf["grid_path"], 10, 0, 640, 0, 800)
    found = lh.add_candidates(graf["segments1"], graf["segments2"], graf["pair_records"], graf["pair_index"], grid)
    assert np.array_equal(np.loadtxt(tmp_path / "package_C.txt", dtype=np.int64, ndmin=2), found)
    assert (tmp_path / "package_grid.txt").read_text() == graf["grid_path"].read_text()
    # Nothing is written into the working folder without an output path.
    assert not (tmp_path / "Addcandidates.txt").exists()


def test_setup_function_puts_modules_and_m_code_on_the_path(tmp_path):
    if not mex_available():
        if REQUIRE_MEX:
            pytest.fail(f"no MEX files in {MEX_DIR}")
        pytest.skip("no MEX files")
    code = (
        f"addpath ('{REPO}'); setup_lineharvest ('{MEX_DIR}');"
        "printf ('%s\\n', which ('lineharvest'), which ('buildgridcells'));"
        "try, setup_lineharvest (tempdir ()); catch err, disp (err.identifier); end"
    )
    run = subprocess.run(["octave-cli", "--norc", "--quiet", "--eval", code], cwd=tmp_path,
                         capture_output=True, text=True, timeout=300)
    lines = run.stdout.split()
    assert lines[0] == str(MEX_DIR / "lineharvest.mex")
    assert lines[1] == str(REPO / "matlab" / "buildgridcells.m")
    assert lines[2] == "setup_lineharvest:noMex"


def test_one_version_everywhere():
    from importlib.metadata import version

    # The module's (compiled from VERSION by CMake) and the installed
    # distribution's (pyproject.toml reads VERSION).
    assert lh.__version__ == version("lineharvest") == (REPO / "VERSION").read_text().strip()
