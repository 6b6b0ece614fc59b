"""Bad calls raise the package's exceptions (TypeError / ValueError /
OSError subclasses) naming the argument, never crash and never read past an
array; good arrays in any layout give the same result."""

import numpy as np
import pytest

import lineharvest as lh

SEG = np.array([[10.0, 50.0, 90.0, 50.0]])
RECORD = np.array([[0, 0, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1]], dtype=np.float64)


@pytest.fixture
def good(tmp_path):
    """A call that finds one correspondence: segment 0 -> image-2 segment 1."""
    grid = lh.GridIndex.from_text("0 1\n", 100, 0, 100, 0, 1000)
    return dict(
        segments1=SEG,
        segments2=np.vstack([SEG, SEG]),
        pair_records=RECORD,
        pair_index=np.zeros((1, 1)),
        grid=grid,
    )


def call(args, **overrides):
    merged = dict(args, **overrides)
    return lh.add_candidates(
        merged.pop("segments1"), merged.pop("segments2"), merged.pop("pair_records"),
        merged.pop("pair_index"), merged.pop("grid"), **merged,
    )


def test_good_call(good):
    found = call(good)
    assert found.dtype == np.int64
    assert found.tolist() == [[0, 1, 0]]


BAD_CALLS = [
    # argument, value, exception, kind, words in the message
    ("segments1", SEG.astype(np.complex128), lh.ArgumentTypeError, "notRealDouble", "segments1"),
    ("segments1", SEG > 0, lh.ArgumentTypeError, "notRealDouble", "segments1"),
    ("segments1", "10 50 90 50", lh.ArgumentTypeError, "notRealDouble", "segments1"),
    ("segments1", [[1, 2, 3, 4], [1, 2]], lh.ArgumentTypeError, "notRealDouble", "segments1"),
    ("segments1", np.array([[object()] * 4]), lh.ArgumentTypeError, "notRealDouble", "segments1"),
    ("segments1", SEG.T, lh.InputError, "badShape", "(N, 4)"),
    ("segments1", SEG.ravel(), lh.InputError, "badShape", "(4,)"),
    ("segments2", np.zeros((2, 4, 1)), lh.InputError, "badShape", "segments2"),
    ("pair_records", np.zeros((1, 13)), lh.InputError, "badShape", "pair_records"),
    ("pair_index", np.zeros((2, 1)), lh.InputError, "badShape", "one row per image-1 segment"),
    ("pair_index", np.array([[1.0]]), lh.InputError, "badPairIndex", ""),
    ("pair_index", np.array([[-1.0]]), lh.InputError, "badPairIndex", ""),
    ("pair_index", np.array([[np.nan]]), lh.InputError, "badPairIndex", ""),
    ("pair_records", np.hstack([[[0, 0, 2]], RECORD[:, 3:]]), lh.InputError, "badPairRecord", ""),
    ("pair_records", np.hstack([[[-1]], RECORD[:, 1:]]), lh.InputError, "badPairRecord", ""),
    ("grid", "grid.txt", lh.ArgumentTypeError, "badGrid", "GridIndex"),
    ("grid", lh.GridIndex.from_text("0 2\n", 100, 0, 100, 0, 1000), lh.InputError, "gridEntry", ""),
    ("max_line_distance", np.nan, lh.InputError, "badScalar", "max_line_distance"),
    ("max_angle_difference", float("nan"), lh.InputError, "badScalar", "max_angle_difference"),
    ("min_overlap_ratio", np.float32("nan"), lh.InputError, "badScalar", "min_overlap_ratio"),
    ("max_line_distance", "2", lh.ArgumentTypeError, "notRealDouble", "max_line_distance"),
    ("max_line_distance", True, lh.ArgumentTypeError, "notRealDouble", "max_line_distance"),
    ("max_line_distance", 1 + 2j, lh.ArgumentTypeError, "notRealDouble", "max_line_distance"),
    ("max_line_distance", np.array([1.0, 2.0]), lh.InputError, "badScalar", "max_line_distance"),
    ("max_line_distance", np.array([]), lh.InputError, "badScalar", "max_line_distance"),
    ("max_line_distance", None, lh.ArgumentTypeError, "notRealDouble", "max_line_distance"),
    ("max_line_distance", 10**400, lh.ArgumentTypeError, "notRealDouble", "max_line_distance"),
    ("threads", 0, lh.InputError, "badThreads", "threads"),
    ("threads", -3, lh.InputError, "badThreads", "threads"),
    ("threads", 2.0, lh.ArgumentTypeError, "badScalar", "threads"),
    ("threads", 2**40, lh.InputError, "badScalar", "threads"),
]


@pytest.mark.parametrize("name, value, exception, kind, words", BAD_CALLS, ids=[f"{c[0]}-{c[3]}-{i}" for i, c in enumerate(BAD_CALLS)])
def test_bad_argument(good, name, value, exception, kind, words):
    with pytest.raises(exception) as caught:
        call(good, **{name: value})
    assert caught.value.kind == kind
    assert words in str(caught.value)
    # Every package error is also the built-in exception callers expect.
    assert isinstance(caught.value, (TypeError, ValueError))


def test_refused_calls_leave_the_module_usable(good):
    for name, value, exception, _, _ in BAD_CALLS:
        with pytest.raises(exception):
            call(good, **{name: value})
    assert call(good).tolist() == [[0, 1, 0]]


def test_infinite_thresholds_switch_tests_off(good):
    far = np.array([[10.0, 90.0, 90.0, 90.0]])  # 40 px from the candidate's line
    args = dict(good, segments2=np.vstack([SEG, far]))
    assert call(args).size == 0
    assert call(args, max_line_distance=np.inf).tolist() == [[0, 1, 0]]


# --- layouts and dtypes that are converted, not refused --------------------


def test_layouts_and_dtypes_give_the_same_result(graf):
    grid = lh.GridIndex.load(graf["grid_path"], 10, 0, 640, 0, 800)
    s1, s2, rec, tab = graf["segments1"], graf["segments2"], graf["pair_records"], graf["pair_index"]
    expected = lh.add_candidates(s1, s2, rec, tab, grid)
    variants = [
        (np.asfortranarray(s1), s2, rec, tab),
        (s1, np.ascontiguousarray(s2[::-1])[::-1], rec, tab),  # negative strides
        (np.hstack([s1, s1])[:, :4], s2, rec, tab),  # strided view
        (s1.astype(">f8"), s2, rec, tab),  # byte-swapped
        (s1.tolist(), s2.tolist(), rec.tolist(), tab.tolist()),
        (s1, s2, rec, tab.astype(np.int32)),  # integer index table
        (s1, s2, rec, tab.astype(np.uint64)),
    ]
    for k, (a, b, c, d) in enumerate(variants):
        assert np.array_equal(lh.add_candidates(a, b, c, d, grid), expected), k


def test_unaligned_memory_is_copied_not_misread():
    raw = np.zeros(4 * 8 + 1, dtype=np.uint8)
    unaligned = np.frombuffer(raw.data, dtype=np.float64, count=4, offset=1).reshape(1, 4)
    assert not unaligned.flags.aligned
    assert lh._core._argument_address(unaligned, 4) != unaligned.ctypes.data


def test_c_contiguous_float64_segments_are_not_copied():
    segments = np.random.default_rng(0).uniform(0, 100, size=(1000, 4))
    assert lh._core._argument_address(segments, 4) == segments.ctypes.data
    view = np.asfortranarray(segments)
    assert lh._core._argument_address(view, 4) != view.ctypes.data


def test_empty_inputs():
    grid = lh.GridIndex.from_text("", 10, 0, 10, 0, 10)
    empty = lh.add_candidates(np.zeros((0, 4)), np.zeros((0, 4)), np.zeros((0, 14)), np.zeros((0, 3)), grid)
    assert empty.shape == (0, 3) and empty.dtype == np.int64


# --- paths ------------------------------------------------------------------


@pytest.mark.parametrize(
    "path, exception, kind",
    [
        (42, lh.ArgumentTypeError, "badPath"),
        ("grid\0.txt", lh.InputError, "badPath"),
        ("no/such/grid.txt", lh.FileError, "gridFile"),
        (".", lh.FileError, "gridFile"),
    ],
)
def test_bad_grid_paths(path, exception, kind):
    with pytest.raises(exception) as caught:
        lh.GridIndex.load(path, 10, 0, 100, 0, 100)
    assert caught.value.kind == kind
    if exception is lh.FileError:
        assert caught.value.filename == path


def test_output_that_cannot_be_written(tmp_path):
    (tmp_path / "Addcandidates.txt").mkdir()
    with pytest.raises(lh.FileError) as caught:
        lh.write_candidates(tmp_path / "Addcandidates.txt", np.zeros((1, 3), dtype=int))
    assert isinstance(caught.value, OSError) and caught.value.kind == "outputFile"
    assert caught.value.filename == str(tmp_path / "Addcandidates.txt")


@pytest.mark.parametrize(
    "rows, words",
    [([[0, 1, -1]], "[0, 2]"), ([[0.5, 1, 1]], "[0, 0]"), ([[0, 2**31, 0]], "[0, 1]"), ([[np.nan, 0, 0]], "nan")],
)
def test_write_candidates_refuses_non_indices(tmp_path, rows, words):
    with pytest.raises(lh.InputError) as caught:
        lh.write_candidates(tmp_path / "out.txt", np.array(rows, dtype=float))
    assert words in str(caught.value)
    assert not (tmp_path / "out.txt").exists()


@pytest.mark.parametrize(
    "args, exception, kind",
    [
        ((SEG, SEG, np.eye(3), np.nan), lh.InputError, "badScalar"),
        ((SEG, SEG, np.eye(2), 1.0), lh.InputError, "badShape"),
        ((SEG, SEG, np.eye(4)[:, :3], 1.0), lh.InputError, "badShape"),
        ((SEG, SEG.T, np.eye(3), 1.0), lh.InputError, "badShape"),
        ((SEG, SEG, np.eye(3, dtype=complex), 1.0), lh.ArgumentTypeError, "notRealDouble"),
    ],
)
def test_bad_epipolar_calls(args, exception, kind):
    with pytest.raises(exception) as caught:
        lh.epipolar_candidates(*args)
    assert caught.value.kind == kind


def test_epipolar_writer_takes_only_zeros_and_ones(tmp_path):
    lh.write_epipolar_candidates(tmp_path / "E.txt", np.array([[True, False], [False, True]]))
    assert (tmp_path / "E.txt").read_text() == "1 0 \n0 1 \n"
    with pytest.raises(lh.InputError):
        lh.write_epipolar_candidates(tmp_path / "E.txt", np.array([[0, 2]]))


def test_fifo_grid_path_is_refused_without_blocking(tmp_path):
    import os
    import threading

    fifo = tmp_path / "grid.fifo"
    os.mkfifo(fifo)
    outcome = []

    def load():
        try:
            lh.GridIndex.load(fifo, 10, 0, 100, 0, 100)
        except Exception as error:  # noqa: BLE001 - the outcome is checked below
            outcome.append(error)

    # A daemon thread: should the open block, the test fails instead of hanging.
    worker = threading.Thread(target=load, daemon=True)
    worker.start()
    worker.join(timeout=20)
    assert not worker.is_alive(), "loading a FIFO blocked"
    assert isinstance(outcome[0], lh.FileError) and outcome[0].kind == "gridFile"


def test_allocation_failure_is_a_memory_error():
    import os

    # A 10^12-byte result: refused at once by the kernel's overcommit
    # heuristic (mode 0) or strict accounting (mode 2) on machines below
    # 250 GB; with overcommit always on, it would be granted and filled.
    mode = open("/proc/sys/vm/overcommit_memory").read().strip() if os.path.exists("/proc/sys/vm/overcommit_memory") else ""
    total = os.sysconf("SC_PAGE_SIZE") * os.sysconf("SC_PHYS_PAGES")
    if mode not in ("0", "2") or total > 2.5e11:
        pytest.skip("the allocation might be granted here")
    if "asan" in os.environ.get("LD_PRELOAD", ""):
        pytest.skip("AddressSanitizer's allocator takes the request past the kernel's heuristic")
    segments = np.zeros((10**6, 4))
    with pytest.raises(lh.OutOfMemoryError) as caught:
        lh.epipolar_candidates(segments, segments, np.eye(3), 1.0)
    assert isinstance(caught.value, MemoryError) and caught.value.kind == "outOfMemory"
