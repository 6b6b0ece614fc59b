# Type stubs of lineharvest.match_images (present when the extension was
# built with the line matcher).
import os
from typing import Any, Callable, Dict, List, Optional, SupportsIndex, Union

import numpy as np
import numpy.typing as npt

_Image = Union[npt.NDArray[np.uint8], str, bytes, os.PathLike]

class MatchResult:
    matches: npt.NDArray[np.int64]
    segments1: npt.NDArray[np.float64]
    segments2: npt.NDArray[np.float64]
    descriptor_matches: npt.NDArray[np.int64]
    seeds: npt.NDArray[np.int64]
    round_matches: List[npt.NDArray[np.int64]]
    rounds: List[Dict[str, int]]
    seconds: Dict[str, float]
    scores: Optional[Dict[str, Any]]
    status: str
    confidence: npt.NDArray[np.float64]
    geometry: Dict[str, Any]
    seed_sources: Dict[str, Dict[str, int]]

def match_images(
    image1: _Image,
    image2: _Image,
    *,
    min_length: float = ...,
    ratio: float = ...,
    mutual: bool = ...,
    checks: bool = ...,
    support: bool = ...,
    agreement: bool = ...,
    refit: bool = ...,
    rounds: SupportsIndex = ...,
    verify: bool = ...,
    verify_distance: float = ...,
    one_line: bool = ...,
    threads: SupportsIndex = ...,
    points: bool = ...,
    lbd: bool = ...,
    lbd_below: SupportsIndex = ...,
    affine: bool = ...,
    keypoint_side: float = ...,
    point_line_distance: float = ...,
    plane_distance: float = ...,
    carried: bool = ...,
    local_points: SupportsIndex = ...,
    plane_answer: bool = ...,
    fundamental: bool = ...,
    epipolar_share: float = ...,
    min_seeds: SupportsIndex = ...,
    scale_with_image: bool = ...,
    max_pixels: SupportsIndex = ...,
    homography: Optional[npt.ArrayLike] = ...,
    progress: Optional[Callable[[str, float], Any]] = ...,
    seed_matches: Optional[npt.ArrayLike] = ...,
    point_matches: Optional[npt.ArrayLike] = ...,
    segments1: Optional[npt.ArrayLike] = ...,
    segments2: Optional[npt.ArrayLike] = ...,
) -> MatchResult: ...
def score_matches(
    matches: npt.ArrayLike, segments1: npt.ArrayLike, segments2: npt.ArrayLike, homography: npt.ArrayLike
) -> Dict[str, Any]: ...
