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

The two-image line matcher (the ``linematch`` command) is
``match_images(image1, image2, ...)``, which gives a ``MatchResult``;
``score_matches`` scores any match list against a homography and
``plot_matches`` draws one (with matplotlib). ``match_pairs(pairs, outdir)``
runs the command on many pairs on a Dask cluster. ``HAS_MATCHER`` is False
in a build without the matcher (it needs OpenCV's contrib modules); there
``match_images`` and ``match_pairs`` raise ImportError saying so.
"""

from ._errors import (
    ArgumentTypeError,
    FileError,
    GridTokenError,
    HarvestError,
    ImageTooLargeError,
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

# The file VERSION, compiled into the extension module.
__version__ = _core.__version__

__all__ = [
    "ArgumentTypeError",
    "FileError",
    "GridIndex",
    "GridTokenError",
    "Groups",
    "HarvestError",
    "ImageTooLargeError",
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
HAS_MATCHER = hasattr(_core, "_match_images")
if HAS_MATCHER:
    from ._match import MatchResult, match_images, score_matches
    from ._batch import match_pairs
    from ._collection import load_collection

    __all__ += ["MatchResult", "load_collection", "match_images", "match_pairs", "score_matches"]
else:

    def match_images(*args, **kwargs):
        """Not available: this build of lineharvest has no line matcher."""
        raise ImportError(
            "lineharvest was built without the line matcher (match_images): it needs OpenCV's "
            "line_descriptor (contrib), imgcodecs, imgproc and calib3d; install them "
            "(Debian: libopencv-contrib-dev) and reinstall the package with LINEHARVEST_MATCHER=1"
        )

    score_matches = match_pairs = load_collection = match_images
from ._plot import plot_matches

__all__ += ["HAS_MATCHER", "plot_matches"]
