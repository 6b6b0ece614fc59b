# Type stubs of the lineharvest._core extension module.
import os
from typing import Any, Dict, List, Optional, SupportsIndex, Tuple, Union

import numpy as np
import numpy.typing as npt

from ._groups import Groups

_Path = Union[str, bytes, os.PathLike]
_Real = Union[float, int, np.floating, np.integer]
_Int = SupportsIndex

__version__: str

class GridIndex:
    @staticmethod
    def load(path: _Path, cell_size: _Int, y_begin: _Int, y_end: _Int, x_begin: _Int, x_end: _Int) -> GridIndex: ...
    @staticmethod
    def from_text(
        text: str, cell_size: _Int, y_begin: _Int, y_end: _Int, x_begin: _Int, x_end: _Int, name: str = ...
    ) -> GridIndex: ...
    @staticmethod
    def build(
        segments2: npt.ArrayLike,
        cell_size: _Int,
        y_begin: _Int,
        y_end: _Int,
        x_begin: _Int,
        x_end: _Int,
        margin: _Int = ...,
    ) -> GridIndex: ...
    @property
    def cell_size(self) -> int: ...
    @property
    def window(self) -> Tuple[int, int, int, int]: ...
    @property
    def grid_columns(self) -> int: ...
    @property
    def num_cells(self) -> int: ...
    @property
    def num_entries(self) -> int: ...
    def __len__(self) -> int: ...
    def cell(self, index: _Int) -> npt.NDArray[np.int64]: ...
    def to_text(self) -> str: ...
    def write(self, path: _Path) -> None: ...
    def __eq__(self, other: object) -> bool: ...

def add_candidates(
    segments1: npt.ArrayLike,
    segments2: npt.ArrayLike,
    pair_records: npt.ArrayLike,
    pair_index: npt.ArrayLike,
    grid: GridIndex,
    *,
    max_line_distance: _Real = ...,
    max_angle_difference: _Real = ...,
    min_overlap_ratio: _Real = ...,
    threads: _Int = ...,
) -> npt.NDArray[np.int64]: ...
def write_candidates(path: _Path, correspondences: npt.ArrayLike) -> None: ...
def epipolar_candidates(
    segments1: npt.ArrayLike, segments2: npt.ArrayLike, epipolar_matrix: npt.ArrayLike, ratio_threshold: _Real
) -> npt.NDArray[np.uint8]: ...
def write_epipolar_candidates(path: _Path, matrix: npt.ArrayLike) -> None: ...
def group_points(point_table: npt.ArrayLike, count: Optional[_Int] = ...) -> Groups: ...
def group_coordinates(coordinates: npt.ArrayLike) -> Groups: ...
def _argument_address(array: npt.ArrayLike, columns: int) -> int: ...

# Present only in a build with the line matcher; lineharvest.match_images
# wraps it.
def _match_images(
    image1: Any,
    image2: Any,
    options: Dict[str, Any],
    homography: Any,
    progress: Any,
    seed_matches: Any,
    point_matches: Any,
    segments1: Any,
    segments2: Any,
) -> Dict[str, Any]: ...
def _score_matches(matches: Any, segments1: Any, segments2: Any, homography: Any) -> Dict[str, Any]: ...
def _matcher_options() -> List[Tuple[str, str, Any, str, str, str, str]]: ...
def _read_image(path: _Path, colour: bool) -> npt.NDArray[np.uint8]: ...
