"""Line-segment correspondences through local homographies, on NumPy arrays.

The same computations as the ``lineharvest`` and ``coordsift`` MEX modules,
with Python's conventions: ``(N, 4)`` float64 segment arrays (the memory of
MATLAB's 4xN, used in place), 0-based indices, keyword arguments, no file
written unless asked, exceptions instead of host errors.

>>> import lineharvest as lh
>>> grid = lh.GridIndex.build(segments2, cell_size=10, y_begin=0, y_end=640,
...                           x_begin=0, x_end=800, margin=3)
>>> found = lh.add_candidates(segments1, segments2, pair_records, pair_index, grid)
>>> lh.write_candidates("Addcandidates.txt", found)
"""

from ._errors import (
    ArgumentTypeError,
    FileError,
    GridTokenError,
    HarvestError,
    InputError,
    InternalError,
    OutOfMemoryError,
)
from ._groups import Groups
from . import _core
from ._core import (
    GridIndex,
    add_candidates,
    epipolar_candidates,
    group_coordinates,
    group_points,
    write_candidates,
    write_epipolar_candidates,
)

__version__ = "1.1.0"

__all__ = [
    "ArgumentTypeError",
    "FileError",
    "GridIndex",
    "GridTokenError",
    "Groups",
    "HarvestError",
    "InputError",
    "InternalError",
    "OutOfMemoryError",
    "add_candidates",
    "epipolar_candidates",
    "group_coordinates",
    "group_points",
    "write_candidates",
    "write_epipolar_candidates",
]

# The two-image line matcher is bound only where the extension was built
# with it (it needs OpenCV's contrib modules).
if hasattr(_core, "_match_images"):
    from ._match import MatchResult, match_images
    from ._batch import match_pairs

    __all__ += ["MatchResult", "match_images", "match_pairs"]
