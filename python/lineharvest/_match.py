"""lineharvest.match_images: the two-image line matcher (the ``linematch``
command) from Python, on NumPy images or image files."""

from dataclasses import dataclass
from typing import Any, Dict, List, Optional

import numpy as np

from . import _core


@dataclass(frozen=True)
class MatchResult:
    """What :func:`match_images` found.

    Attributes
    ----------
    matches : numpy.ndarray of int64, shape (K, 2)
        One correspondence ``i, w`` per row (0-based): image-1 segment ``i``
        is image-2 segment ``w``. The seeds first, then each round's
        additions: the rows of the command's ``matches.txt``.
    segments1, segments2 : numpy.ndarray of float64, shape (N, 4)
        The segments ``x1 y1 x2 y2`` that the indices refer to (the
        command's ``segments1.txt`` and ``segments2.txt``).
    descriptor_matches : numpy.ndarray of int64, shape (D, 2)
        The LBD matches (mutual best match and ratio test, as configured)
        before the seed checks: the plain descriptor matcher's answer.
    seeds : numpy.ndarray of int64, shape (S, 2)
        The seeds the checks kept in the first round.
    round_matches : list of numpy.ndarray of int64, shape (A, 2)
        The correspondences each round added, in transfer order.
    rounds : list of dict
        Counts per round, the keys of ``report.json``'s ``rounds``:
        ``seeds``, ``seeds_kept``, ``pair_records``, ``transferred``,
        ``rejected``, ``added``, ``new_seeds``.
    seconds : dict
        Seconds per stage: ``segments``, ``descriptors``, ``seed_checks``,
        ``transfer``.
    scores : dict or None
        With a ``homography``: the ``ground_truth`` object of
        ``report.json`` at full precision (``true_correspondences``,
        ``descriptor_alone``, ``seeds``, ``rounds`` (``added``, ``so_far``)
        and ``final``, each a dict of ``matches``, ``correct``,
        ``precision``, ``recall``). None without one.
    """

    matches: np.ndarray
    segments1: np.ndarray
    segments2: np.ndarray
    descriptor_matches: np.ndarray
    seeds: np.ndarray
    round_matches: List[np.ndarray]
    rounds: List[Dict[str, int]]
    seconds: Dict[str, float]
    scores: Optional[Dict[str, Any]]


def match_images(
    image1,
    image2,
    *,
    ratio=0.7,
    rounds=3,
    mutual=True,
    checks=True,
    verify=True,
    one_line=True,
    min_length=10.0,
    threads=1,
    homography=None,
):
    """match_images(image1, image2, *, ratio=0.7, rounds=3, mutual=True, checks=True, verify=True, one_line=True, min_length=10.0, threads=1, homography=None) -> MatchResult

    Line-segment correspondences between two photographs of a mostly planar
    scene, with no ground truth: what the ``linematch`` command computes.

    LSD segments on both images, LBD descriptor seeds (mutual best match
    with a ratio test), seed checks against the neighbouring seeds, then
    transfer rounds in which ``add_candidates`` adds correspondences and the
    well-covered ones seed the next round.

    Parameters
    ----------
    image1, image2 : numpy.ndarray or path
        A ``uint8`` array, ``(H, W)`` grey or ``(H, W, 3)`` colour in
        OpenCV's BGR order (as ``cv2.imread`` gives it), any strides; or a
        path (``str``, ``bytes``, ``os.PathLike``) of an image file, read as
        grey by OpenCV exactly as the command reads it. A colour array is
        turned to grey by OpenCV's BGR weights, which can differ from the
        file read as grey in the last bit of a few pixels.
    ratio : float
        Descriptor ratio test, best < ratio * second best; in (0, 1], 1
        switches it off (``--ratio``).
    rounds : int
        Most transfer rounds, 1..100 (``--rounds``).
    mutual : bool
        Seeds must be each other's best descriptor match (``--no-mutual``).
    checks : bool
        The three seed checks: neighbour support, pair agreement, line refit
        (``--no-checks``).
    verify : bool
        Refuse transferred correspondences that their neighbours contradict
        (``--no-verify``).
    one_line : bool
        Refuse correspondences that give a segment partners on two lines
        (``--no-one-line``).
    min_length : float
        Shortest segment kept, pixels, in [1, 1e6] (``--min-length``).
    threads : int
        Threads of the whole matcher, 1..256; the result does not depend on it.
    homography : array_like, shape (3, 3), optional
        Ground-truth homography image 1 -> image 2, finite and not singular.
        Only scores the result (``MatchResult.scores``); the matches are
        the same with or without it.

    Returns
    -------
    MatchResult

    Raises
    ------
    ArgumentTypeError (TypeError)
        An image that is neither a uint8 array nor a path, a flag that is
        not a bool, an integer option that is not an integer.
    InputError (ValueError)
        An image of another shape, an option out of range, a homography
        that is not a finite, non-singular (3, 3) array. The message names
        the argument.
    FileError (OSError)
        An image file that does not exist, is not a regular file or cannot
        be decoded (``.filename`` is the path).

    The GIL is released while the matcher runs.
    """
    found = _core._match_images(
        image1,
        image2,
        min_length=min_length,
        ratio=ratio,
        rounds=rounds,
        mutual=mutual,
        checks=checks,
        verify=verify,
        one_line=one_line,
        threads=threads,
        homography=homography,
    )
    return MatchResult(**found)
