"""lineharvest.match_images against the linematch command on graf1 -> graf3
(the same matches and segments, exactly, and the same scores), image arrays
against image files, and the refusal of bad arguments."""

import json
import os
import re
import signal
import subprocess
import sys
import threading
import time
from pathlib import Path

import numpy as np
import pytest

import lineharvest as lh
from conftest import REPO

DATA = Path(os.environ.get("LINEMATCH_DATA_DIR", "/usr/share/doc/opencv-doc/examples/data"))
GRAF1, GRAF3, H13 = DATA / "graf1.png", DATA / "graf3.png", DATA / "H1to3p.xml"
COMMAND = Path(os.environ.get("LINEHARVEST_LINEMATCH", REPO / "build" / "matcher" / "linematch"))
# Set by scripts/test_python.sh, which builds the package with the matcher
# and the command: there a missing one is a failure, not a skip.
REQUIRE_MATCHER = os.environ.get("LINEHARVEST_REQUIRE_MATCHER") == "1"


def require(condition, what):
    if not condition:
        if REQUIRE_MATCHER:
            pytest.fail(f"{what} is required but missing")
        pytest.skip(f"{what} is missing")


@pytest.fixture(scope="module")
def graf_paths():
    require(hasattr(lh, "match_images"), "lineharvest.match_images (the extension without the line matcher)")
    require(GRAF1.is_file() and GRAF3.is_file() and H13.is_file(), f"the graf images in {DATA} (opencv-doc)")
    return GRAF1, GRAF3


def read_opencv_matrix(path):
    numbers = re.search(r"<data>(.*?)</data>", path.read_text(), re.S).group(1).split()
    return np.array([float(v) for v in numbers]).reshape(3, 3)


@pytest.fixture(scope="module")
def graf_result(graf_paths):
    return lh.match_images(*graf_paths, homography=read_opencv_matrix(H13))


@pytest.fixture(scope="module")
def command_output(graf_paths, tmp_path_factory):
    require(COMMAND.is_file(), f"the linematch command ({COMMAND})")
    out = tmp_path_factory.mktemp("linematch")
    subprocess.run(
        [str(COMMAND), str(GRAF1), str(GRAF3), str(out), "--homography", str(H13), "--no-picture", "--quiet"],
        check=True,
        timeout=300,
    )
    return out


def same_result(a, b):
    """The parts of two results that do not depend on timing."""
    np.testing.assert_array_equal(a.matches, b.matches)
    np.testing.assert_array_equal(a.segments1, b.segments1)
    np.testing.assert_array_equal(a.segments2, b.segments2)
    np.testing.assert_array_equal(a.seeds, b.seeds)
    assert a.rounds == b.rounds


# --- the same answer as the command -------------------------------------


def test_matches_and_segments_equal_the_command_files(graf_result, command_output):
    matches = np.loadtxt(command_output / "matches.txt", dtype=np.int64, ndmin=2)
    np.testing.assert_array_equal(graf_result.matches, matches)
    for name in ("segments1", "segments2"):
        # The files hold each coordinate with the digits that read back to
        # the same double, so the comparison is exact.
        np.testing.assert_array_equal(getattr(graf_result, name), np.loadtxt(command_output / f"{name}.txt", ndmin=2))
    assert graf_result.matches.dtype == np.int64 and graf_result.segments1.dtype == np.float64
    assert len(graf_result.matches) > 500  # a real run, not two empty lists agreeing
    assert graf_result.status == json.loads((command_output / "report.json").read_text())["status"] == "ok"
    # One confidence per match, in [0, 1], the file's "%.4f" of it.
    confidence = graf_result.confidence
    assert confidence.dtype == np.float64 and confidence.shape == (len(graf_result.matches),)
    assert np.all((confidence >= 0) & (confidence <= 1))
    np.testing.assert_allclose(confidence, np.loadtxt(command_output / "confidence.txt", ndmin=1), atol=5e-5)


def test_counts_and_scores_equal_the_command_report(graf_result, command_output):
    report = json.loads((command_output / "report.json").read_text())
    assert report["stages"] == {
        "descriptor_matches": len(graf_result.descriptor_matches),
        "seeds_kept": len(graf_result.seeds),
        "matches": len(graf_result.matches),
    }
    assert [{k: v for k, v in r.items() if k != "round"} for r in report["rounds"]] == graf_result.rounds
    assert [len(m) for m in graf_result.round_matches] == [r["added"] for r in graf_result.rounds]
    # Every stage the command times, the total apart.
    assert set(graf_result.seconds) == set(report["seconds"]) - {"total"}
    assert graf_result.seed_sources == report["seed_sources"]

    truth, scores = report["ground_truth"], graf_result.scores

    def same_score(ours, theirs):
        assert (ours["matches"], ours["correct"]) == (theirs["matches"], theirs["correct"])
        assert ours["precision"] == pytest.approx(theirs["precision"], abs=5e-5)
        assert ours["recall"] == pytest.approx(theirs["recall"], abs=5e-5)

    assert scores["true_correspondences"] == truth["true_correspondences"]
    for key in ("descriptor_alone", "point_seeds", "seeds", "final"):
        same_score(scores[key], truth[key])
    assert len(scores["rounds"]) == len(truth["rounds"])
    for ours, theirs in zip(scores["rounds"], truth["rounds"]):
        same_score(ours["added"], theirs["added"])
        same_score(ours["so_far"], theirs["so_far"])
    for key in ("average_precision", "confident_half_precision"):
        assert scores[key] == pytest.approx(truth[key], abs=5e-5)
    assert 0 <= scores["average_precision"] <= scores["final"]["recall"]

    # The geometry: the report's counts and residuals, the models as arrays.
    ours, theirs = graf_result.geometry, report["geometry"]
    assert [(p["inliers"], pytest.approx(p["median_residual"], abs=5e-5)) for p in ours["planes"]] == [
        (p["inliers"], p["median_residual_px"]) for p in theirs["planes"]
    ]
    assert all(p["homography"].shape == (3, 3) for p in ours["planes"])
    f, g = ours["fundamental"], theirs["fundamental"]
    assert (f["verified"], f["inliers"], f["off_plane_inliers"]) == (g["verified"], g["inliers"], g["off_plane_inliers"])
    assert f["median_residual"] == pytest.approx(g["median_residual_px"], abs=5e-5)
    if f["verified"]:
        np.testing.assert_array_equal(f["matrix"].ravel(), g["matrix"])
    else:
        assert f["matrix"] is None and "matrix" not in g


@pytest.mark.parametrize(
    "flags, options",
    [
        (["--no-checks", "--rounds", "2", "--ratio", "0.8"], {"checks": False, "rounds": 2, "ratio": 0.8}),
        (["--no-mutual", "--no-verify", "--min-length", "15"], {"mutual": False, "verify": False, "min_length": 15}),
        (["--no-one-line", "--threads", "2"], {"one_line": False, "threads": 2}),
        (["--no-support", "--no-refit", "--verify-distance", "3"], {"support": False, "refit": False, "verify_distance": 3}),
    ],
    ids=["checks, rounds, ratio", "mutual, verify, min_length", "one_line, threads", "support, refit, verify_distance"],
)
def test_options_mean_what_the_command_flags_mean(graf_paths, graf_result, tmp_path, flags, options):
    require(COMMAND.is_file(), f"the linematch command ({COMMAND})")
    subprocess.run([str(COMMAND), *map(str, graf_paths), str(tmp_path), "--no-picture", "--quiet", *flags],
                   check=True, timeout=300)
    ours = lh.match_images(*graf_paths, **options)
    np.testing.assert_array_equal(ours.matches, np.loadtxt(tmp_path / "matches.txt", dtype=np.int64, ndmin=2))
    np.testing.assert_array_equal(ours.segments1, np.loadtxt(tmp_path / "segments1.txt", ndmin=2))
    # Each group changes the answer, so an option that is dropped or wired
    # to another setting shows.
    assert not np.array_equal(ours.matches, graf_result.matches)


def test_the_homography_only_scores(graf_paths, graf_result):
    plain = lh.match_images(*graf_paths)
    assert plain.scores is None
    same_result(plain, graf_result)


def test_the_documented_example_runs_as_written(graf_paths):
    marker = "<!-- python-matcher-example -->"
    docs = (REPO / "README.md", *sorted((REPO / "docs").glob("*.md")))
    doc = next(d for d in docs if d.is_file() and marker in d.read_text())
    code = re.search(r"```python\n(.*?)```", doc.read_text().split(marker, 1)[1], re.S).group(1)
    printed = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True).stdout
    # The comment in the example states what it prints.
    stated = re.search(r"# (\d+ \{'matches'.*)", code).group(1).replace("...", "")
    assert printed.startswith(stated.split(", 'precision'")[0]), printed


# --- arrays and files ------------------------------------------------------


def bgr_to_grey(bgr):
    """OpenCV's 8-bit BGR -> grey conversion (fixed point, 15 bits)."""
    b, g, r = (bgr[..., k].astype(np.int64) for k in range(3))
    return ((b * 3735 + g * 19235 + r * 9798 + (1 << 14)) >> 15).astype(np.uint8)


@pytest.fixture(scope="module")
def grey_arrays(graf_paths):
    return [lh._core._read_image(p, False) for p in graf_paths]


@pytest.mark.parametrize(
    "layout",
    [
        pytest.param(lambda g: g, id="grey"),
        pytest.param(np.asfortranarray, id="grey, Fortran order"),
        pytest.param(lambda g: np.repeat(g[:, :, None], 3, axis=2), id="colour, equal channels"),
        pytest.param(lambda g: np.dstack([g, g, g, np.full_like(g, 255)]), id="BGRA, equal channels"),
        pytest.param(lambda g: np.pad(g, ((0, 0), (0, 3)))[:, : g.shape[1]], id="grey, row padding"),
    ],
)
def test_arrays_give_what_the_files_give(graf_result, grey_arrays, layout):
    same_result(lh.match_images(*(layout(g) for g in grey_arrays)), graf_result)


def test_colour_is_taken_in_bgr_order(graf_paths):
    colour = [lh._core._read_image(p, True) for p in graf_paths]
    assert not np.array_equal(colour[0][..., 0], colour[0][..., 2]), "graf1 should be a colour image"
    as_bgr = lh.match_images(*colour)
    same_result(as_bgr, lh.match_images(*(bgr_to_grey(c) for c in colour)))
    # The same pixels taken as RGB are other grey values and another result.
    as_rgb = lh.match_images(*(bgr_to_grey(c[..., ::-1]) for c in colour))
    assert not np.array_equal(as_rgb.matches, as_bgr.matches)


def test_path_types_agree(graf_paths, graf_result):
    same_result(lh.match_images(str(graf_paths[0]), os.fsencode(graf_paths[1])), graf_result)


def test_a_scene_without_segments_gives_empty_arrays():
    blank = np.zeros((40, 50), np.uint8)
    require(hasattr(lh, "match_images"), "lineharvest.match_images")
    r = lh.match_images(blank, blank, homography=np.eye(3))
    assert r.matches.shape == (0, 2) and r.segments1.shape == (0, 4) and r.segments2.shape == (0, 4)
    assert r.confidence.shape == (0,) and r.confidence.dtype == np.float64
    assert r.geometry["planes"] == [] and not r.geometry["fundamental"]["verified"]
    assert r.scores["final"]["matches"] == 0 and r.scores["average_precision"] == 0


def test_the_gil_is_released(graf_paths):
    steps, done = 0, threading.Event()

    def run():
        lh.match_images(*graf_paths)
        done.set()

    worker = threading.Thread(target=run)
    start = time.perf_counter()
    worker.start()
    while not done.is_set():
        steps += 1
    worker.join()
    # Holding the GIL, the worker would let the loop run only at the
    # interpreter's switch interval (a few hundred steps per 5 ms).
    assert steps > 10000, f"{steps} steps in {time.perf_counter() - start:.2f} s"


# --- bad arguments -----------------------------------------------------------

SMALL = np.zeros((20, 20), np.uint8)


@pytest.mark.parametrize(
    "image1, image2, error, name",
    [
        (SMALL.astype(np.float32), SMALL, lh.ArgumentTypeError, "image1"),
        (SMALL, SMALL.astype(np.int16), lh.ArgumentTypeError, "image2"),
        (SMALL, SMALL.astype(bool), lh.ArgumentTypeError, "image2"),
        (SMALL.tolist(), SMALL, lh.ArgumentTypeError, "image1"),
        (None, SMALL, lh.ArgumentTypeError, "image1"),
        (np.zeros((20, 20, 2), np.uint8), SMALL, lh.InputError, "image1"),
        (np.zeros((20, 20, 1), np.uint8), SMALL, lh.InputError, "image1"),
        (np.zeros(400, np.uint8), SMALL, lh.InputError, "image1"),
        (np.zeros((2, 20, 20, 3), np.uint8), SMALL, lh.InputError, "image1"),
        (SMALL, np.zeros((0, 20), np.uint8), lh.InputError, "image2"),
        (SMALL, np.zeros((20, 0, 3), np.uint8), lh.InputError, "image2"),
    ],
)
def test_bad_images_are_refused(image1, image2, error, name):
    require(hasattr(lh, "match_images"), "lineharvest.match_images")
    with pytest.raises(error, match=name):
        lh.match_images(image1, image2)


def test_unreadable_image_files_are_refused(tmp_path):
    require(hasattr(lh, "match_images"), "lineharvest.match_images")
    text = tmp_path / "notes.png"
    text.write_text("not an image\n")
    fifo = tmp_path / "fifo.png"
    os.mkfifo(fifo)  # with no writer: opening it would block
    for bad in (tmp_path / "missing.png", tmp_path, text, fifo):
        with pytest.raises(OSError) as caught:
            lh.match_images(SMALL, bad)
        assert isinstance(caught.value, lh.FileError) and caught.value.kind == "imageFile"
        assert caught.value.filename == str(bad) and "image2" in str(caught.value)


@pytest.mark.parametrize(
    "options, error, name",
    [
        ({"ratio": 0}, lh.InputError, "ratio"),
        ({"ratio": 1.5}, lh.InputError, "ratio"),
        ({"ratio": float("nan")}, lh.InputError, "ratio"),
        ({"ratio": "0.7"}, lh.ArgumentTypeError, "ratio"),
        ({"rounds": 0}, lh.InputError, "rounds"),
        ({"rounds": 101}, lh.InputError, "rounds"),
        ({"rounds": 2.0}, lh.ArgumentTypeError, "rounds"),
        ({"threads": 0}, lh.InputError, "threads"),
        ({"min_length": 0.5}, lh.InputError, "min_length"),
        ({"min_length": float("inf")}, lh.InputError, "min_length"),
        ({"mutual": 1}, lh.ArgumentTypeError, "mutual"),
        ({"checks": "no"}, lh.ArgumentTypeError, "checks"),
        ({"verify": None}, lh.ArgumentTypeError, "verify"),
        ({"one_line": 0}, lh.ArgumentTypeError, "one_line"),
        ({"homography": np.eye(3)[:2]}, lh.InputError, "homography"),
        ({"homography": np.eye(4)}, lh.InputError, r"homography must have shape \(3, 3\)"),
        ({"homography": np.eye(3).ravel()}, lh.InputError, r"homography must have shape \(3, 3\)"),
        ({"homography": np.eye(3) * np.nan}, lh.InputError, "homography"),
        ({"homography": np.diag([1.0, 1.0, np.inf])}, lh.InputError, "homography"),
        ({"homography": np.zeros((3, 3))}, lh.InputError, "homography"),
        ({"homography": np.eye(3, dtype=complex)}, lh.ArgumentTypeError, "homography"),
        ({"seed_matches": [[0, 1, 2]]}, lh.InputError, "seed_matches"),
        ({"seed_matches": [0, 1]}, lh.InputError, "seed_matches"),
        ({"seed_matches": [[0.5, 1]]}, lh.InputError, "seed_matches"),
        ({"seed_matches": [[-1, 0]]}, lh.InputError, "seed_matches"),
        ({"seed_matches": [[np.nan, 0]]}, lh.InputError, "seed_matches"),
        ({"seed_matches": [[2**31, 0]]}, lh.InputError, "seed_matches"),
        ({"seed_matches": np.array([[True, False]])}, lh.ArgumentTypeError, "seed_matches"),
        ({"point_matches": np.zeros((2, 3))}, lh.InputError, "point_matches"),
        ({"point_matches": [[1, 2, 3, np.inf]]}, lh.InputError, "point_matches"),
        ({"point_matches": [["1", "2", "3", "4"]]}, lh.ArgumentTypeError, "point_matches"),
        ({"segments1": np.zeros((2, 4))}, lh.InputError, "segments2 is missing"),
        ({"segments2": np.zeros((2, 4))}, lh.InputError, "segments1 is missing"),
        ({"segments1": np.zeros((2, 4)), "segments2": np.zeros((2, 4)).T}, lh.InputError, "segments2"),
        ({"segments1": [[0, 0, 1, np.nan]], "segments2": np.zeros((2, 4))}, lh.InputError, "segments1"),
        ({"segments1": np.zeros((2, 4)), "segments2": [[0, 0, 2.0**24, 0]]}, lh.InputError, "segments2"),
        ({"segments1": np.zeros((2, 4)), "segments2": [["0", "0", "1", "1"]]}, lh.ArgumentTypeError, "segments2"),
    ],
)
def test_bad_options_are_refused_before_any_file_is_read(options, error, name, tmp_path):
    require(hasattr(lh, "match_images"), "lineharvest.match_images")
    with pytest.raises(error, match=name):
        lh.match_images(tmp_path / "missing1.png", tmp_path / "missing2.png", **options)


def test_the_callers_own_seeds(graf_paths):
    # A known shift: the given point matches as the only seed source give
    # true correspondences; line seeds index the segments detected before.
    g = lh._core._read_image(DATA / "building.jpg", False)
    dx, dy = 9, 6
    h = np.zeros_like(g)
    h[dy:, dx:] = g[:-dy, :-dx]
    x, y = np.meshgrid(np.linspace(40, g.shape[1] - 60, 8), np.linspace(40, g.shape[0] - 60, 8))
    points = np.column_stack([x.ravel(), y.ravel(), x.ravel() + dx, y.ravel() + dy])
    only = dict(points=False, lbd=False, rounds=1, homography=[[1, 0, dx], [0, 1, dy], [0, 0, 1]])
    assert len(lh.match_images(g, h, **only).matches) == 0
    r = lh.match_images(g, h, point_matches=points, **only)
    assert r.status == "ok" and len(r.matches) > 50 and r.scores["final"]["precision"] > 0.9
    again = lh.match_images(g, h, seed_matches=r.matches[:20].tolist(), **only)
    assert len(again.seeds) > 0
    # The kind the MEX file gives for the same seed (linematch:badOptions).
    with pytest.raises(lh.InputError, match="seed_matches") as caught:
        lh.match_images(g, h, seed_matches=[[len(r.segments1), 0]], **only)
    assert caught.value.kind == "badOptions"


def test_given_segments_reproduce_the_run_they_come_from(graf_paths, graf_result):
    # min_length would change detected segments: given ones are used as
    # they are, so the answer is the run's they came from.
    again = lh.match_images(*graf_paths, homography=read_opencv_matrix(H13), min_length=50,
                            segments1=graf_result.segments1.tolist(), segments2=graf_result.segments2)
    same_result(again, graf_result)
    assert again.scores == graf_result.scores
    with pytest.raises(lh.InputError, match="seed_matches.*given segments1"):
        lh.match_images(*graf_paths, segments1=graf_result.segments1[:5], segments2=graf_result.segments2[:5],
                        seed_matches=[[5, 0]])


def test_accepted_option_types():
    require(hasattr(lh, "match_images"), "lineharvest.match_images")
    r = lh.match_images(
        SMALL,
        SMALL,
        ratio=np.float32(1),
        rounds=np.int64(1),
        mutual=np.bool_(False),
        checks=False,
        threads=np.int32(2),
        min_length=1,
        homography=np.eye(3, dtype=np.float32).tolist(),
    )
    assert r.scores is not None


# --- the cases every front end shares --------------------------------------

CASES = REPO / "matcher" / "tests"
WHOLE = {"rounds", "threads", "max_pixels", "lbd_below", "local_points", "min_seeds"}


def option_cases():
    for line in (CASES / "option_cases.txt").read_text().splitlines():
        fields = line.split()
        if fields and not fields[0].startswith("#"):
            yield pytest.param(*fields, id=f"{fields[0]}={fields[3]}")


@pytest.mark.parametrize("key, mex_name, flag, value, verdict", option_cases())
def test_option_cases_of_every_front_end(key, mex_name, flag, value, verdict):
    require(hasattr(lh, "match_images"), "lineharvest.match_images")
    if value == "false":
        value = False
    else:
        value = float(value)
        if key in WHOLE and value.is_integer():
            value = int(value)
    blank = np.zeros((20, 20), np.uint8)
    if verdict == "accept":
        assert lh.match_images(blank, blank, **{key: value}).matches.shape == (0, 2)
    elif verdict == "imageTooLarge":
        with pytest.raises(lh.ImageTooLargeError, match="max_pixels"):
            lh.match_images(blank, blank, **{key: value})
    else:
        with pytest.raises((lh.InputError, lh.ArgumentTypeError), match=key) as caught:
            lh.match_images(blank, blank, **{key: value})
        assert caught.value.kind == "badOptions"


def test_the_bad_image_campaign(tmp_path):
    """Each file is refused with its kind or gives a valid result."""
    require(hasattr(lh, "match_images"), "lineharvest.match_images")
    manifest = subprocess.run([sys.executable, str(CASES / "make_bad_images.py"), str(tmp_path), str(DATA)],
                              capture_output=True, text=True, check=True).stdout
    classes = {"imageFile": lh.FileError, "damagedImage": lh.FileError, "imageTooLarge": lh.ImageTooLargeError}
    for line in manifest.splitlines():
        name, path, expected = line.split()
        if expected == "ok":
            r = lh.match_images(path, SMALL)
            assert r.matches.shape[1] == 2 and r.segments1.shape[1] == 4, name
            continue
        with pytest.raises(classes[expected]) as caught:
            lh.match_images(path, SMALL)
        assert caught.value.kind == expected, (name, str(caught.value))
        assert "image1" in str(caught.value), name


# --- progress and interrupts -----------------------------------------------


def test_progress_tells_the_stages_in_order(graf_paths, graf_result):
    told = []
    r = lh.match_images(*graf_paths, progress=lambda stage, fraction: told.append((stage, fraction)))
    same_result(r, graf_result)
    stages = [s for s, _ in told]
    # The point seeds come between the segments and the descriptors.
    assert list(dict.fromkeys(stages))[:3] == ["segments", "points", "descriptors"] and told[-1] == ("done", 1.0)
    assert {"checks", "transfer", "verification"} <= set(stages)
    fractions = [f for _, f in told]
    assert fractions == sorted(fractions) and 0 <= fractions[0] and fractions[-1] == 1


def test_an_exception_from_progress_stops_the_run(graf_paths):
    class Stop(Exception):
        pass

    def stop_at_checks(stage, fraction):
        if stage == "checks":
            raise Stop(stage)

    with pytest.raises(Stop, match="checks"):
        lh.match_images(*graf_paths, progress=stop_at_checks)
    with pytest.raises(lh.ArgumentTypeError, match="progress"):
        lh.match_images(SMALL, SMALL, progress=3)


def test_ctrl_c_interrupts_a_long_call(grey_arrays):
    """SIGINT during the detection of a large image raises KeyboardInterrupt
    in the caller while the matcher is still working."""
    big = np.tile(grey_arrays[0], (3, 3))
    told = []
    # The signal goes once the matcher tells its first stage, not after a
    # fixed time (which a busy machine may spend before the call starts),
    # from another thread, as a terminal's Ctrl-C comes from outside; the
    # callback waits until it is sent, so that a matcher that a busy
    # machine lets finish meanwhile cannot outrun it.
    sender = threading.Thread(target=lambda: os.kill(os.getpid(), signal.SIGINT))

    def progress(stage, fraction):
        told.append(stage)
        if len(told) == 1:
            sender.start()
            sender.join()

    try:
        with pytest.raises(KeyboardInterrupt):
            lh.match_images(big, big[:, ::-1], progress=progress)
    finally:
        if told:
            sender.join()
    assert told and "done" not in told
    # The cancelled run does not disturb the next call.
    assert len(lh.match_images(SMALL, SMALL).matches) == 0


# --- the package around it -------------------------------------------------


def test_score_matches_gives_the_rule_of_the_scores(graf_result):
    h = read_opencv_matrix(H13)
    got = lh.score_matches(graf_result.matches, graf_result.segments1, graf_result.segments2, h)
    assert got == {**graf_result.scores["final"], "true_correspondences": graf_result.scores["true_correspondences"]}
    with pytest.raises(lh.InputError, match="matches"):
        lh.score_matches([[0, len(graf_result.segments2)]], graf_result.segments1, graf_result.segments2, h)


def test_the_package_names_the_matcher_and_plots_a_result(graf_result, grey_arrays):
    assert "match_images" in lh.__doc__ and "score_matches" in lh.__doc__
    matplotlib = pytest.importorskip("matplotlib")
    matplotlib.use("Agg")
    ax = lh.plot_matches(*grey_arrays, graf_result.matches, graf_result.segments1, graf_result.segments2,
                         max_lines=100)
    assert len(ax.collections) == 3 and len(ax.collections[2].get_segments()) == 100
