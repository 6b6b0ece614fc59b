"""Image collections for match_pairs: each image's features computed once,
then many pairs matched from them.

``match_pairs(plan, outdir, images=...)`` takes a set of images (a folder,
a list file, or paths) and a pair plan (``"exhaustive"``,
``"sequential:K"``, a pair file or a list of pairs). One Dask task per
image computes its features (segments and the first keypoint level) into
``OUTDIR/.features/<sha256 of the image>-<hash of the feature settings>.bin``
unless a sound file is there; each pair's task depends on its two images'
tasks and matches from their files. The parts a pair needs beyond them
(keypoints at the detail level and on affine-simulated views, LBD
descriptors) are computed from the images by the first pair that needs
them and stored back, so the other pairs of those images find them. A
features file that cannot be read, is damaged or is of other settings is
computed again, never trusted. The pairs' folders, ``pair.json`` records,
resume and failure rows are match_pairs' own; a pair matched from features
is the pair the ``linematch`` command matches, file for file.

After the run the collection's store is written beside the pair folders:
``OUTDIR/features.h5`` (per image: segments, keypoints, image size) and
``OUTDIR/matches.h5`` (per pair: matches, confidence, status), read back by
:func:`load_collection`.
"""

import hashlib
import os
import socket
import stat
import uuid
import warnings

from . import _batch
from . import _core
from ._errors import ArgumentTypeError, FileError, InputError

FEATURES = ".features"
# The key of the overlap check in a pair's recorded options.
OVERLAP_CHECK = "overlap_check"
STORE_FEATURES = "features.h5"
STORE_MATCHES = "matches.h5"
# What a folder of images holds: the formats OpenCV reads.
IMAGE_SUFFIXES = (".png", ".jpg", ".jpeg", ".jpe", ".ppm", ".pgm", ".pbm", ".pnm", ".bmp", ".dib", ".tif",
                  ".tiff", ".webp", ".jp2", ".sr", ".ras")


# --- the image set and the pair plan -------------------------------------------


def read_images(images):
    """Absolute paths of the collection's images, each once, in the order
    given: a folder (its image files, sorted by name, not its subfolders),
    a list file (one path a line, relative to the file's folder; blank
    lines and lines starting with # skipped), or an iterable of paths."""
    if isinstance(images, bytes):
        images = os.fsdecode(images)
    if isinstance(images, (str, os.PathLike)):
        path = os.path.abspath(os.fspath(images))
        if os.path.isdir(path):
            found = [os.path.join(path, name) for name in sorted(os.listdir(path))
                     if not name.startswith(".") and name.lower().endswith(IMAGE_SUFFIXES)
                     and os.path.isfile(os.path.join(path, name))]
        elif os.path.isfile(path):
            base = os.path.dirname(path)
            with open(path, encoding="utf-8", errors="surrogateescape") as f:
                found = [os.path.abspath(os.path.join(base, line.strip())) for line in f
                         if line.strip() and not line.lstrip().startswith("#")]
        else:
            raise FileError(f"images: '{path}' is neither a folder nor a list file", "imageFile", path)
    else:
        try:
            items = list(images)
        except TypeError:
            raise ArgumentTypeError(f"images must be a folder, a list file or an iterable of paths, got "
                                    f"{type(images).__name__}", "badPairs") from None
        found = [_batch._path_text(item, f"images[{k}]", os.getcwd()) for k, item in enumerate(items)]
    unique = list(dict.fromkeys(found))
    if not unique:
        raise InputError(f"images: no images in {images!r}", "badPairs")
    return unique


def _labels(paths):
    """A short name per image: its path below the images' common folder,
    without the suffix, '/' made '_' (graf/img1.png -> graf_img1)."""
    common = os.path.commonpath([os.path.dirname(p) for p in paths])
    labels = {}
    for p in paths:
        label = _batch._safe_name(os.path.splitext(os.path.relpath(p, common))[0].replace(os.sep, "_"))
        name, repeat = label, 1
        while name in labels.values():
            repeat += 1
            name = f"{label}-{repeat}"
        labels[p] = name
    return labels


def plan_pairs(images, plan):
    """The pairs of a plan over the images (read_images' list), as
    match_pairs' Pair objects: ``"exhaustive"`` (every two images once),
    ``"sequential:K"`` (each image with the K after it, for a video or a
    walk), or match_pairs' own pairs (a pair file, a list of path pairs).
    Pairs of the plan are named ``<label1>__<label2>``."""
    if isinstance(plan, str) and (plan == "exhaustive" or plan.startswith("sequential")):
        if plan == "exhaustive":
            window = len(images)
        else:
            text = plan.partition(":")[2] or "1"
            if plan.partition(":")[0] != "sequential" or not text.isdigit() or int(text) < 1:
                raise InputError(f"pairs: {plan!r} is not a plan (exhaustive, sequential:K with K >= 1, or a "
                                 f"pair file)", "badPairs")
            window = int(text)
        labels = _labels(images)
        pairs = [_batch.Pair(f"{labels[a]}__{labels[b]}", a, b, None)
                 for i, a in enumerate(images) for b in images[i + 1:i + 1 + window]]
    else:
        pairs = _batch.read_pairs(plan)
    for p in pairs:
        if p.name in (STORE_FEATURES, STORE_MATCHES):
            raise InputError(f"pairs: the name {p.name!r} is the collection's store's", "badPairs")
    return pairs


# --- on the workers -------------------------------------------------------------


def settings_hash(options):
    """The part of a features file's name that follows the settings."""
    return hashlib.sha256(_core._feature_key(options).encode()).hexdigest()[:16]


def feature_file(outdir, checksum, key):
    return os.path.join(outdir, FEATURES, f"{checksum}-{key}.bin")


def features_root(outdir):
    """OUTDIR/.features, a real folder (see _batch._own_folder)."""
    return _batch._own_folder(outdir, FEATURES, "features files")


def extract_image(image, outdir, options, key, overlap_check):
    """One image (a Dask task): its features file, made unless a sound one
    is there. Never raises: a failure is returned (the image's pairs then
    fail on it with the error of their own)."""
    try:
        checksum = _batch._checksum(image)
        features_root(outdir)
        found = _core._extract_features(image, feature_file(outdir, checksum, key), options,
                                        overlap_check=overlap_check)
        return dict(found, image=image, checksum=checksum, error=None)
    except Exception as error:  # recorded on the image's pairs
        return {"image": image, "error": _batch._error_text(error)}


def _match_cached(outdir, key, image1, image2, folder, options, *, homography_file, picture):
    """_core._match_to_folder's stand-in for match_pairs' run_pair: the
    pair from the images' features files (named after the images' bytes
    as they are now, so that a changed image is never paired with its old
    features)."""
    files = [feature_file(outdir, _batch._checksum(image), key) for image in (image1, image2)]
    features_root(outdir)
    options = dict(options)
    overlap_check = options.pop(OVERLAP_CHECK, False)
    return _core._match_cached_to_folder(image1, image2, folder, options, files[0], files[1],
                                         homography_file=homography_file, picture=picture,
                                         overlap_check=overlap_check)


class _CachedMatcher:
    """_match_cached bound to a collection (picklable for the workers)."""

    def __init__(self, outdir, key):
        self.outdir, self.key = outdir, key

    def __call__(self, *args, **kwargs):
        return _match_cached(self.outdir, self.key, *args, **kwargs)


def collection_pair(pair, _extracted1, _extracted2, outdir, options, picture, threads, key):
    """One pair (a Dask task after its two images' tasks): match_pairs'
    run_pair, matched from the features files."""
    return _batch.run_pair(pair, outdir, options, picture, threads, match=_CachedMatcher(outdir, key))


# --- on the client ----------------------------------------------------------------


def _remove_dead_scratch(outdir):
    """Features files a killed process of this host left half written
    (saveFeatures' <file>.tmp-<host>-<pid>-<n>, regular files only)."""
    folder = os.path.join(outdir, FEATURES)
    host = socket.gethostname()
    try:
        names = os.listdir(folder)
    except OSError:
        return
    for name in names:
        stem, _, tail = name.partition(".bin.tmp-")
        parts = tail.rsplit("-", 2)
        if not stem or len(parts) != 3 or parts[0] != host or not parts[1].isdigit() or _batch._alive(int(parts[1])):
            continue
        path = os.path.join(folder, name)
        try:
            if stat.S_ISREG(os.lstat(path).st_mode):
                os.remove(path)
        except OSError:
            pass


def run(client, pairs, outdir, options, picture, threads, progress, overlap_check=True):
    """match_pairs' run of a collection: extraction tasks feeding pair
    tasks. Rows as match_pairs' _run gives them. With overlap_check, pairs
    whose features show no overlap are answered "no_overlap" (see
    linematch::mayOverlap); the pairs' records say so, so that a run
    without the check matches them in full."""

    key = settings_hash(dict(options, threads=threads))
    features_root(outdir)  # a linked .features is refused before any image or pair runs
    _remove_dead_scratch(outdir)
    token = uuid.uuid4().hex[:8]
    images = list(dict.fromkeys(image for p in pairs for image in (p.image1, p.image2)))
    # The settings hash goes by position: client.submit's key= is the task's.
    extracted = [client.submit(extract_image, image, outdir, dict(options, threads=threads), key, overlap_check,
                               key=f"linematch-image-{k}-{token}", pure=False)
                 for k, image in enumerate(images)]
    by_image = dict(zip(images, extracted))
    pair_options = dict(options, **{OVERLAP_CHECK: True}) if overlap_check else options
    futures = [client.submit(collection_pair, p, by_image[p.image1], by_image[p.image2], outdir, pair_options, picture,
                             threads, key, key=f"linematch-pair-{k}-{token}", pure=False)
               for k, p in enumerate(pairs)]
    rows = _batch._gather(client, pairs, futures, progress, others=extracted)
    try:
        write_store(outdir, images, pairs, rows, key)
    except ImportError:
        pass  # no h5py: the pair folders are the whole result
    except (OSError, ValueError) as error:
        # The pairs are done and recorded; the store can be written again.
        warnings.warn(f"match_pairs: the collection's store was not written: {error}", RuntimeWarning,
                      stacklevel=3)
    return rows


# --- the store ----------------------------------------------------------------------


def _read_table(path, columns, kind):
    import numpy as np

    with open(path, encoding="utf-8") as f:
        values = [line.split() for line in f if line.strip()]
    return np.array(values, dtype=kind).reshape(len(values), columns) if columns > 1 else \
        np.array([v[0] for v in values], dtype=kind)


MADE_BY = "lineharvest.match_pairs collection store"


def _replaceable(path):
    """Raises unless path is missing or a store file this program wrote
    (a regular file whose attribute made_by says so)."""
    import h5py

    try:
        mode = os.lstat(path).st_mode
    except FileNotFoundError:
        return
    if stat.S_ISREG(mode):
        try:
            with h5py.File(path, "r") as h5:
                if h5.attrs.get("made_by") == MADE_BY:
                    return
        except OSError:
            pass
    raise FileExistsError(f"{path} is not a store match_pairs wrote; left as it is")


def write_store(outdir, images, pairs, rows, key):
    """OUTDIR/features.h5 and OUTDIR/matches.h5 from the features files and
    the pair folders, each written under another name and renamed into
    place. Groups are named after the images' labels and the pairs' names;
    a group's attributes (and, for Octave's load, small text datasets) say
    what it was made from."""
    import h5py
    import json
    import numpy as np

    labels = _labels(images)
    scratch = f".{uuid.uuid4().hex}"
    features = os.path.join(outdir, STORE_FEATURES)
    matches = os.path.join(outdir, STORE_MATCHES)
    _replaceable(features)
    _replaceable(matches)
    try:
        with h5py.File(features + scratch, "x") as h5:
            h5.attrs["made_by"] = MADE_BY
            h5.attrs["settings"] = key
            for image in images:
                group = h5.create_group(labels[image])
                group.attrs["path"] = image
                # Text as fixed-length byte strings too: Octave's load reads
                # datasets (not attributes), and these as char arrays.
                group["path"] = np.bytes_(os.fsencode(image))
                try:
                    checksum = _batch._checksum(image)
                    found = _core._feature_arrays(feature_file(outdir, checksum, key))
                except (OSError, ValueError) as error:
                    group.attrs["error"] = _batch._error_text(error)
                    continue
                group.attrs["sha256"] = checksum
                group["segments"] = found["segments"]
                group["keypoints"] = found["keypoints"]
                group["image_size"] = np.array(found["size"], dtype=np.int64)
        os.replace(features + scratch, features)
    finally:
        if os.path.exists(features + scratch):
            os.remove(features + scratch)
    by_path = {image: labels.get(image) for image in images}
    try:
        with h5py.File(matches + scratch, "x") as h5:
            h5.attrs["made_by"] = MADE_BY
            for pair, row in zip(pairs, rows):
                group = h5.create_group(pair.name)
                group.attrs["image1"] = by_path.get(pair.image1) or pair.image1
                group.attrs["image2"] = by_path.get(pair.image2) or pair.image2
                folder = os.path.join(outdir, pair.name)
                status = "failed"
                found = np.zeros((0, 2), dtype=np.int64), np.zeros(0)
                if row is not None and row["status"] == "ok":
                    try:
                        with open(os.path.join(folder, "report.json"), encoding="utf-8") as f:
                            status = json.load(f)["status"]
                        found = (_read_table(os.path.join(folder, "matches.txt"), 2, np.int64),
                                 _read_table(os.path.join(folder, "confidence.txt"), 1, np.float64))
                    except (OSError, ValueError, KeyError) as error:
                        status = "failed"
                        group.attrs["error"] = _batch._error_text(error)
                elif row is not None:
                    group.attrs["error"] = row["error"] or ""
                group.attrs["status"] = status
                for name in ("image1", "image2", "status"):
                    group[name] = np.bytes_(os.fsencode(str(group.attrs[name])))
                group["matches"] = found[0]
                group["confidence"] = found[1]
        os.replace(matches + scratch, matches)
    finally:
        if os.path.exists(matches + scratch):
            os.remove(matches + scratch)


def load_collection(outdir):
    """load_collection(outdir) -> dict

    A collection's store (written by ``match_pairs(plan, outdir,
    images=...)``) as NumPy arrays::

        {"images": {label: {"path", "segments" (N, 4) float64,
                            "keypoints" (K, 2) float64, "image_size" (width, height)}},
         "pairs": {name: {"image1", "image2" (labels), "status",
                          "matches" (M, 2) int64 (0-based rows of the two images' segments),
                          "confidence" (M,) float64}}}

    ``status`` is the matcher's (``ok``, ``thin_support``) or ``failed``.
    Needs h5py (Debian: python3-h5py)."""
    try:
        import h5py
    except ImportError as error:
        raise ImportError("load_collection needs h5py (Debian: python3-h5py)") from error
    outdir = os.fspath(outdir)
    found = {"images": {}, "pairs": {}}
    with h5py.File(os.path.join(outdir, STORE_FEATURES), "r") as h5:
        for label, group in h5.items():
            entry = {"path": group.attrs["path"]}
            for name in ("segments", "keypoints", "image_size"):
                if name in group:
                    entry[name] = group[name][()]
            found["images"][label] = entry
    with h5py.File(os.path.join(outdir, STORE_MATCHES), "r") as h5:
        for name, group in h5.items():
            found["pairs"][name] = {"image1": group.attrs["image1"], "image2": group.attrs["image2"],
                                    "status": group.attrs["status"], "matches": group["matches"][()],
                                    "confidence": group["confidence"][()]}
    return found
