"""The grid index: loading, building, its errors and its round trips."""

import pickle

import numpy as np
import pytest

import lineharvest as lh


def test_built_from_segments_equals_the_committed_grid_file(graf):
    # example/graf/grid_cells.txt was written by buildgridcells (cell 10 px,
    # margin 3 px, the whole of image 2).
    loaded = lh.GridIndex.load(graf["grid_path"], 10, 0, 640, 0, 800)
    built = lh.GridIndex.build(graf["segments2"], 10, 0, 640, 0, 800, margin=3)
    assert built == loaded
    assert built.to_text() == graf["grid_path"].read_text()
    assert lh.GridIndex.build(graf["segments2"], 10, 0, 640, 0, 800, margin=2) != loaded


def test_round_trips(graf, tmp_path):
    grid = lh.GridIndex.load(graf["grid_path"], 10, 0, 640, 0, 800)
    assert pickle.loads(pickle.dumps(grid)) == grid
    grid.write(tmp_path / "grid.txt")
    assert (tmp_path / "grid.txt").read_bytes() == graf["grid_path"].read_bytes()
    again = lh.GridIndex.from_text(grid.to_text(), 10, 0, 640, 0, 800)
    assert again == grid
    assert (grid.cell_size, grid.window, grid.grid_columns) == (10, (0, 640, 0, 800), 81)
    assert len(grid) == grid.num_cells
    assert sum(len(grid.cell(k)) for k in range(len(grid))) == grid.num_entries


def test_cells_and_line_ends():
    grid = lh.GridIndex.from_text("3 1\r\n\n  7   2 \n", 5, 0, 10, 0, 10)
    assert [grid.cell(k).tolist() for k in range(len(grid))] == [[3, 1], [], [7, 2]]
    with pytest.raises(IndexError):
        grid.cell(3)
    with pytest.raises(IndexError):
        grid.cell(-1)


@pytest.mark.parametrize(
    "text, reason, line, token",
    [
        ("0\n1 x7\n", "invalid stoi argument", 2, "x7"),
        ("2147483648\n", "stoi argument out of range", 1, "2147483648"),
        ("\n\n-2147483649 1\n", "stoi argument out of range", 3, "-2147483649"),
        ("1\n2\n+\n", "invalid stoi argument", 3, "+"),
    ],
)
def test_token_errors_carry_text_path_and_line(tmp_path, text, reason, line, token):
    path = tmp_path / "grid.txt"
    path.write_text(text)
    with pytest.raises(lh.GridTokenError) as caught:
        lh.GridIndex.load(path, 10, 0, 100, 0, 100)
    error = caught.value
    assert isinstance(error, ValueError) and error.kind == "gridToken"
    assert (error.reason, error.path, error.line, error.cell, error.token) == (reason, str(path), line, line - 1, token)
    assert str(error).endswith(reason) and f"line {line}" in str(error)
    # The exception survives a trip to another process.
    again = pickle.loads(pickle.dumps(error))
    assert (again.reason, again.path, again.line, again.token) == (reason, str(path), line, token)


@pytest.mark.parametrize(
    "call, kind",
    [
        (lambda: lh.GridIndex.from_text("", 0, 0, 10, 0, 10), "badCellSize"),
        (lambda: lh.GridIndex.build(np.zeros((1, 4)), 10, 0, 10, 0, 10, margin=-1), "badMargin"),
        (lambda: lh.GridIndex.build(np.zeros((1, 4)), 10, 10, 0, 0, 10), "badWindow"),
        (lambda: lh.GridIndex.build(np.array([[0, 0, np.nan, 0]]), 10, 0, 10, 0, 10), "badSegments"),
        (lambda: lh.GridIndex.build(np.array([[0, 0, 2.0**24, 0]]), 10, 0, 10, 0, 10), "badSegments"),
        (lambda: lh.GridIndex.build(np.zeros((1, 4)), 1, 0, 10, -(2**31), 2**31 - 1), "badGrid"),
        (lambda: lh.GridIndex.build(np.zeros((1, 4)), 1, 0, 100000, 0, 100000), "badWindow"),
        # A margin whose widening would visit about 10^10 cells (minutes).
        (lambda: lh.GridIndex.build(np.array([[1.0, 1, 500, 300]]), 10, -(2**31), 640, 0, 800, margin=10**6),
         "badMargin"),
        (lambda: lh.GridIndex.__new__(lh.GridIndex).__setstate__((1, 2)), "badPickle"),
        (lambda: lh.GridIndex.__new__(lh.GridIndex).__setstate__((b"0", 10, 0, 10, 0, 10)), "badPickle"),
    ],
)
def test_layout_errors(call, kind):
    with pytest.raises(lh.InputError) as caught:
        call()
    assert caught.value.kind == kind
