"""The result type of the point grouping."""

from typing import NamedTuple

import numpy as np


class Groups(NamedTuple):
    """Result of :func:`lineharvest.group_points`, unpacked like coordsift's
    three outputs: ``index`` (int64, one group per point), ``coords`` (int32,
    shape (count, 2), x and y of each group) and ``count``."""

    index: np.ndarray
    coords: np.ndarray
    count: int
