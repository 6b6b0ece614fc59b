"""coordsift's grouping from Python: the point table, its flat memory and a
plain (n, 2) coordinate array."""

import numpy as np
import pytest

import lineharvest as lh


def table_of(xy):
    table = np.zeros((len(xy), 6))
    table[:, 2:4] = xy
    return table


@pytest.mark.parametrize(
    "xy, index, coords",
    [
        ([[1, 2], [3, 4], [1, 2]], [0, 1, 0], [[1, 2], [3, 4]]),
        # 1.5 opens group (1, 2); 1.7 does not equal it and opens its own
        # group, which 1.0 then joins: the last group to claim keeps it.
        ([[1.5, 2], [1.7, 2], [1, 2]], [0, 1, 1], [[1, 2], [1, 2]]),
        ([[-0.0, 0], [0, 0]], [0, 0], [[0, 0]]),
        ([[np.nan, 1], [np.nan, 1]], [0, 1], [[-(2**31), 1], [-(2**31), 1]]),
        ([[-2147483648.0, 1], [np.nan, 1]], [0, 1], [[-(2**31), 1], [-(2**31), 1]]),
        ([[3e9, 1], [-(2**31), 1]], [0, 0], [[-(2**31), 1]]),
        ([[np.inf, -np.inf]], [0], [[-(2**31), -(2**31)]]),
    ],
)
def test_grouping_rules(xy, index, coords):
    xy = np.array(xy, dtype=float)
    groups = lh.group_points(table_of(xy))
    assert groups.index.tolist() == index
    assert groups.coords.tolist() == coords
    assert groups.count == len(coords)
    assert groups.index.dtype == np.int64 and groups.coords.dtype == np.int32
    same = lh.group_coordinates(xy)
    assert same.index.tolist() == index and same.coords.tolist() == coords


def test_count_and_flat_memory():
    table = table_of(np.array([[1, 2], [3, 4], [1, 2]], dtype=float))
    assert lh.group_points(table, count=2).index.tolist() == [0, 1]
    flat = table.ravel()[:-2]  # the last point may stop after its y
    assert lh.group_points(flat).index.tolist() == [0, 1, 0]
    empty = lh.group_points(np.zeros((0, 6)))
    assert empty.count == 0 and empty.index.shape == (0,) and empty.coords.shape == (0, 2)


@pytest.mark.parametrize(
    "call, exception, kind",
    [
        (lambda: lh.group_points(np.zeros((2, 6)), count=3), lh.InputError, "badCount"),
        (lambda: lh.group_points(np.zeros(9), count=2), lh.InputError, "badCount"),
        (lambda: lh.group_points(np.zeros((2, 6)), count=-1), lh.InputError, "badCount"),
        (lambda: lh.group_points(np.zeros((2, 6)), count=1.0), lh.ArgumentTypeError, "badScalar"),
        (lambda: lh.group_points(np.zeros((2, 5))), lh.InputError, "badShape"),
        (lambda: lh.group_points(np.zeros((2, 6), dtype=complex)), lh.ArgumentTypeError, "notRealDouble"),
        (lambda: lh.group_coordinates(np.zeros((2, 3))), lh.InputError, "badShape"),
    ],
)
def test_bad_calls(call, exception, kind):
    with pytest.raises(exception) as caught:
        call()
    assert caught.value.kind == kind
