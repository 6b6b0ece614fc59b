"""lineharvest.match_images: the two-image line matcher (the ``linematch``
command) from Python, on NumPy images or image files."""

import inspect
import textwrap
from dataclasses import dataclass, field
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
        Empty where the point seeds were enough and LBD was not sought.
    seeds : numpy.ndarray of int64, shape (S, 2)
        The seeds (from points, LBD and ``seed_matches``) the checks kept
        in the first round.
    round_matches : list of numpy.ndarray of int64, shape (A, 2)
        The correspondences each round added, in transfer order.
    rounds : list of dict
        Counts per round, the keys of ``report.json``'s ``rounds``:
        ``seeds``, ``seeds_kept``, ``pair_records``, ``transferred``,
        ``rejected``, ``added``, ``new_seeds``.
    seconds : dict
        Seconds per stage: ``segments``, ``points``, ``descriptors``,
        ``seed_checks``, ``transfer``.
    status : str
        ``"ok"``, or ``"thin_support"`` when no seed survived the checks
        and no plane was verified: no correspondences then
        (``report.json``'s ``status``).
    scores : dict or None
        With a ``homography``: the ``ground_truth`` object of
        ``report.json`` at full precision (``true_correspondences``,
        ``descriptor_alone``, ``point_seeds`` (the point seed candidates),
        ``seeds``, ``rounds`` (``added``, ``so_far``)
        and ``final``, each a dict of ``matches``, ``correct``,
        ``precision``, ``recall``; ``average_precision``, the matches
        ranked by ``confidence`` over ``true_correspondences``, and
        ``confident_half_precision``, the precision of the more confident
        half). None without one.
    confidence : numpy.ndarray of float64, shape (K,)
        Per row of ``matches``, how sure the matcher is of it, 0 to 1
        (the command's ``confidence.txt``). Higher is more often right:
        keeping the more confident ones trades recall for precision.
    geometry : dict
        The models the point matches verified: ``planes``, a list of dicts
        ``homography`` (``(3, 3)`` float64, image 1 -> image 2),
        ``inliers`` (point matches it explains) and ``median_residual``
        (pixels of image 2); and ``fundamental``, a dict ``verified``,
        ``matrix`` (``(3, 3)`` float64 with ``x2' F x1 = 0`` in pixels, None
        unless verified), ``inliers``, ``off_plane_inliers`` (inliers no
        plane explains) and ``median_residual`` (pixels from the epipolar
        line). No planes and an unverified matrix when the point stage is
        off or found nothing.
    seed_sources : dict
        First-round seeds per source (``given``, ``point``, ``lbd``), each a
        dict ``seeds`` (before the checks) and ``kept`` (after them):
        ``report.json``'s ``seed_sources``.
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
    status: str = "ok"
    # Defaults only so that a result built by hand without them still
    # works; match_images always sets them.
    confidence: np.ndarray = field(default_factory=lambda: np.zeros(0))
    geometry: Dict[str, Any] = field(default_factory=dict)
    seed_sources: Dict[str, Dict[str, int]] = field(default_factory=dict)


def match_images(image1, image2, *, homography=None, progress=None, seed_matches=None, point_matches=None,
                 segments1=None, segments2=None, **options):
    found = _core._match_images(image1, image2, options, homography, progress, seed_matches, point_matches,
                                segments1, segments2)
    return MatchResult(**found)


def score_matches(matches, segments1, segments2, homography):
    """score_matches(matches, segments1, segments2, homography) -> dict

    Scores any list of correspondences with the project's ground-truth rule
    (the rule of ``MatchResult.scores`` and of the command's report: the
    image-1 segment mapped by the homography lies within 2 px of the image-2
    segment's line, points the same way, and overlaps it by half of the
    shorter one).

    Parameters
    ----------
    matches : array_like, shape (K, 2)
        0-based index pairs ``i, w`` into ``segments1`` and ``segments2``.
    segments1, segments2 : array_like, shape (N, 4)
        Segments ``x1 y1 x2 y2``.
    homography : array_like, shape (3, 3)
        Image 1 -> image 2, finite and not singular.

    Returns
    -------
    dict
        ``matches`` (distinct pairs scored), ``correct``, ``precision``,
        ``recall`` and ``true_correspondences`` (the pairs of the two
        segment lists that the rule accepts).
    """
    return _core._score_matches(matches, segments1, segments2, homography)


# The options are the matcher's own table (the command's flags and the MEX
# names are in it too): the signature and the help are made from it, so
# that no default or range is written twice.
_OPTIONS = _core._matcher_options()


def _signature():
    parameters = [
        inspect.Parameter("image1", inspect.Parameter.POSITIONAL_OR_KEYWORD),
        inspect.Parameter("image2", inspect.Parameter.POSITIONAL_OR_KEYWORD),
    ]
    for key, _type, default, *_rest in _OPTIONS:
        parameters.append(inspect.Parameter(key, inspect.Parameter.KEYWORD_ONLY, default=default))
    for key in ("homography", "progress", "seed_matches", "point_matches", "segments1", "segments2"):
        parameters.append(inspect.Parameter(key, inspect.Parameter.KEYWORD_ONLY, default=None))
    return inspect.Signature(parameters, return_annotation="MatchResult")


def _option_help():
    lines = []
    for key, type_name, default, value_range, meaning, flag, mex_name in _OPTIONS:
        lines.append(f"{key} : {type_name}, default {default!r}")
        switch = type_name == "bool"
        text = f"{meaning[0].upper()}{meaning[1:]}"
        text += "" if switch else f"; {value_range}"
        text += f" (command ``{flag}``, MEX ``{mex_name}``)."
        lines += textwrap.wrap(text, 72, initial_indent="    ", subsequent_indent="    ", break_on_hyphens=False)
    return "\n    ".join(lines)


match_images.__signature__ = _signature()
match_images.__doc__ = f"""match_images{_signature()}

    Line-segment correspondences between two photographs of a mostly planar
    scene, with no ground truth: what the ``linematch`` command computes.

    LSD segments on both images; seeds from SIFT keypoint matches verified
    by planes, and from LBD descriptors (mutual best match with a ratio
    test) only where the points give few; the two-view geometry the point
    matches verify (the planes, and the fundamental matrix where the scene
    is not planes alone); seed checks against the neighbouring seeds; then
    transfer rounds in which ``add_candidates`` adds correspondences and the
    well-covered ones seed the next round; the correspondences the verified
    planes carry join the answer, and every match gets a confidence in
    [0, 1] (``MatchResult.confidence``).

    Parameters
    ----------
    image1, image2 : numpy.ndarray or path
        A ``uint8`` array, ``(H, W)`` grey, ``(H, W, 3)`` colour in OpenCV's
        BGR order (as ``cv2.imread`` gives it) or ``(H, W, 4)`` BGRA, any
        strides; or a path (``str``, ``bytes``, ``os.PathLike``) of an image
        file, read as grey by OpenCV exactly as the command reads it. A
        colour array is turned to grey by OpenCV's BGR weights, which can
        differ from the file read as grey in the last bit of a few pixels.
        Files are checked before they are decoded: only regular files are
        opened, the size in the header must be within ``max_pixels``, and a
        truncated or corrupt PNG or JPEG is refused as damaged.
    {_option_help()}
        The switches only turn their part off: ``checks=False`` turns the
        three seed checks off whatever ``support``, ``agreement`` and
        ``refit`` say.
    homography : array_like, shape (3, 3), optional
        Ground-truth homography image 1 -> image 2, finite and not singular.
        Only scores the result (``MatchResult.scores``); the matches are
        the same with or without it.
    segments1, segments2 : array_like, shape (N, 4), optional
        The caller's own segments ``x1 y1 x2 y2`` (pixels, the convention
        of ``MatchResult.segments1`` and ``segments2``, finite and below
        2^24 in magnitude), matched instead of the detected ones; both or
        neither. ``min_length`` does
        not apply to them. An earlier result's segments handed back with
        the same options give that result again.
    seed_matches : array_like of int, shape (K, 2), optional
        The caller's own line seeds ``i, w``: 0-based indices into
        ``segments1`` and ``segments2`` when given, otherwise into the
        segments this call detects, which are those of an earlier result on
        the same images with the same ``min_length`` and ``max_pixels``
        (detection is deterministic): ``MatchResult.segments1`` and
        ``segments2``. They join the matcher's own seeds and go through
        the same checks. An index outside the segments is refused
        once they are known.
    point_matches : array_like, shape (M, 4), optional
        The caller's own point matches ``x1 y1 x2 y2`` (pixels, image 1 ->
        image 2, finite). They replace the keypoint matching as the source
        of the point seeds and go through the same checks.
    progress : callable, optional
        Called as ``progress(stage, fraction)`` on the calling thread as
        each stage starts (``"segments"``, none with given segments,
        ``"points"``, ``"descriptors"``, ``"checks"``, ``"transfer"``,
        ``"verification"``, then ``"done"``), ``fraction``
        a rough share of the run done (0 to 1). An exception it raises stops
        the run and leaves ``match_images``.

    Returns
    -------
    MatchResult

    Raises
    ------
    ArgumentTypeError (TypeError)
        An image that is neither a uint8 array nor a path, a switch that is
        not a bool, a whole-number option that is not an integer, an
        unknown option; ``seed_matches``, ``point_matches``, ``segments1``
        or ``segments2`` that are not real numbers.
    InputError (ValueError)
        An image of another shape, an option out of range, a homography
        that is not a finite, non-singular (3, 3) array, ``seed_matches``
        not of shape (K, 2) or not 0-based indices of the segments,
        ``point_matches`` not of shape (M, 4) or not finite, ``segments1``
        or ``segments2`` without the other, not of shape (N, 4) or not
        finite. The message names the argument.
    ImageTooLargeError (InputError, ValueError)
        An image with more than ``max_pixels`` pixels; a file's size is
        taken from its header, before it is decoded.
    FileError (OSError)
        An image file that does not exist, is not a regular file, cannot be
        read (``kind`` ``"imageFile"``) or is damaged (``"damagedImage"``);
        ``.filename`` is the path.
    KeyboardInterrupt
        Ctrl-C: the call returns at once (the matcher runs on a thread of
        its own and stops at its next stage).

    The GIL is released while the matcher runs.
    """
