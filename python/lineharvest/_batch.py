"""lineharvest.match_pairs: the ``linematch`` command over many image pairs
on a Dask cluster, resumable, with a progress bar and a summary table.

Each pair is one Dask task. The task writes the command's files into a
scratch folder ``OUTDIR/.partial/<host>-<pid>-<random>``, adds ``pair.json``
(the checksums of the inputs, the options, the pair's summary row) and
renames the folder to ``OUTDIR/<name>``, so that a pair folder is either
complete or absent. A rerun takes a pair folder as done when its
``pair.json`` names the same input checksums, options and package version
and every output file still has the checksum recorded there.

The batch deletes or replaces only what it made: a pair folder whose
``pair.json`` records the checksums of its outputs and which holds nothing
but the files the batch writes, and its own scratch folders. Anything else
in the way of a pair is that pair's error. No symbolic link is followed out
of OUTDIR, and only regular files are opened (a FIFO would block).
"""

import csv
import errno
import functools
import hashlib
import json
import logging
import multiprocessing
import math
import os
import re
import socket
import stat
import sys
import time
import uuid

from . import __version__ as _version
from . import _core
from ._errors import ArgumentTypeError, FileError, InputError
from ._match import _OPTIONS

SUMMARY = "summary.csv"
RECORD = "pair.json"
SCRATCH = ".partial"
TEXT_OUTPUTS = ("segments1.txt", "segments2.txt", "matches.txt", "confidence.txt", "report.json")
PICTURE = "matches.png"
COLUMNS = ("name", "image1", "image2", "homography", "status", "segments1", "segments2", "matches",
           "precision", "recall", "seconds", "error")
_RESULT_COLUMNS = ("segments1", "segments2", "matches", "precision", "recall", "seconds")
# Every name the batch writes into a pair folder (linematchpairs writes the
# same, without matches.png), and the temporary names the matcher's output
# writer gives them (mkstemp's ".<name>.XXXXXX") until they are renamed.
OWN_FILES = (RECORD,) + TEXT_OUTPUTS + (PICTURE,)
_TEMPORARY = re.compile(r"\.(?:%s)\.[A-Za-z0-9]{6}" % "|".join(re.escape(n) for n in TEXT_OUTPUTS + (PICTURE,)))
_SHA256 = re.compile(r"[0-9a-f]{64}")
RECORD_LIMIT = 1 << 20  # bytes of pair.json read at most
MAX_COUNT = 2**31 - 1  # segments and matches of a pair
MAX_SECONDS = 1e7
# A summary cell starting with one of these would be a formula in a
# spreadsheet (OWASP's CSV injection list): it gets a leading apostrophe.
_FORMULA_START = ("=", "+", "-", "@", "\t", "\r")

# match_images' options (the matcher's one table) and their defaults: the
# options a pair is matched with unless the caller says otherwise. threads
# is the batch's own setting and not recorded: the result does not depend
# on it.
MATCHER_DEFAULTS = {key: default for key, _type, default, *_rest in _OPTIONS if key != "threads"}


class Pair:
    """One pair of the batch: absolute paths and the folder name."""

    __slots__ = ("name", "image1", "image2", "homography")

    def __init__(self, name, image1, image2, homography):
        self.name, self.image1, self.image2, self.homography = name, image1, image2, homography

    def __repr__(self):
        return f"Pair({self.name!r}, {self.image1!r}, {self.image2!r}, {self.homography!r})"

    def row(self):
        row = dict.fromkeys(COLUMNS)
        row.update(name=self.name, image1=self.image1, image2=self.image2, homography=self.homography)
        return row


# --- the pair list -----------------------------------------------------------

_FILE_COLUMNS = ("image1", "image2", "homography", "name")


def _path_text(value, where, base):
    if isinstance(value, bytes):
        value = os.fsdecode(value)
    if not isinstance(value, (str, os.PathLike)):
        raise ArgumentTypeError(f"{where} must be a path, got {type(value).__name__}", "badPairs")
    value = os.fspath(value)
    if not value:
        raise InputError(f"{where} is an empty path", "badPairs")
    return os.path.abspath(os.path.join(base, value))


def _read_pair_file(path):
    """The rows of a CSV or TSV pair file as dicts. A first row naming
    image1 and image2 is a header (columns image1, image2, homography,
    name, in any order); without one the columns are image1, image2 and
    optionally homography. Blank lines and lines starting with # are
    skipped."""
    # surrogateescape: paths in another encoding than UTF-8 come through as
    # the bytes they are. utf-8-sig: a byte-order mark (spreadsheets write
    # one) is not part of the first column's name.
    with open(_open_regular(path, "badPairs"), newline="", encoding="utf-8-sig", errors="surrogateescape") as f:
        lines = [line for line in f if line.strip() and not line.lstrip().startswith("#")]
    if not lines:
        return []
    tab = str(path).lower().endswith(".tsv") or "\t" in lines[0]
    rows = list(csv.reader(lines, delimiter="\t" if tab else ","))
    head = [cell.strip().lower() for cell in rows[0]]
    if "image1" in head and "image2" in head:
        unknown = [c for c in head if c not in _FILE_COLUMNS]
        if unknown:
            raise InputError(f"{path}: unknown column {unknown[0]!r} (expected {', '.join(_FILE_COLUMNS)})",
                             "badPairs")
        columns, rows, first = head, rows[1:], 2
    else:
        columns, first = list(_FILE_COLUMNS[:3]), 1
    found = []
    for number, cells in enumerate(rows, first):
        if len(cells) < 2 or len(cells) > len(columns):
            raise InputError(f"{path}, line {number}: expected {len(columns)} columns "
                             f"({', '.join(columns)}), got {len(cells)}", "badPairs")
        found.append({c: v.strip() or None for c, v in zip(columns, cells)} | {"_where": f"{path}, line {number}"})
    return found


def _entries(pairs):
    """(dict, where, base folder) for each pair given."""
    if isinstance(pairs, (str, bytes, os.PathLike)):
        path = os.fspath(pairs)
        base = os.path.dirname(os.path.abspath(path))
        return [(row, row.pop("_where"), base) for row in _read_pair_file(path)]
    if isinstance(pairs, dict):
        raise ArgumentTypeError("pairs must be an iterable of pairs or a pair file, got dict", "badPairs")
    try:
        items = list(pairs)
    except TypeError:
        raise ArgumentTypeError(f"pairs must be an iterable of pairs or a pair file, got {type(pairs).__name__}",
                                "badPairs") from None
    entries = []
    for k, item in enumerate(items):
        where = f"pairs[{k}]"
        if isinstance(item, dict):
            unknown = set(item) - set(_FILE_COLUMNS)
            if unknown:
                raise InputError(f"{where}: unknown key {sorted(unknown)[0]!r}", "badPairs")
            row = dict(item)
        elif isinstance(item, (tuple, list)) and len(item) in (2, 3):
            row = dict(zip(_FILE_COLUMNS, item))
        else:
            raise InputError(f"{where} must be (image1, image2) or (image1, image2, homography)", "badPairs")
        entries.append((row, where, os.getcwd()))
    return entries


def _safe_name(text):
    kept = "".join(c if c.isalnum() or c in "._+-" else "_" for c in text).lstrip(".")
    return kept or "pair"


def _folder_key(name):
    """Names that are one folder on a case-insensitive file system (a
    shared SMB or macOS folder) have one key: ASCII letters folded, as
    linematchpairs folds them."""
    return name.translate(_ASCII_LOWER)


_ASCII_LOWER = str.maketrans("ABCDEFGHIJKLMNOPQRSTUVWXYZ", "abcdefghijklmnopqrstuvwxyz")


def _check_name(name, where):
    """A given pair name: one folder name in OUTDIR, the same set that
    linematchpairs accepts. Not empty, at most 200 bytes, no '/' or '\\', no
    control character (a NUL would cut the name short), not starting with
    '.', not summary.csv."""
    if isinstance(name, str) and name and not name.startswith(".") and not any(c in name for c in "/\\") \
            and not any(ord(c) < 32 or ord(c) == 127 for c in name) and _folder_key(name) != SUMMARY \
            and len(os.fsencode(name)) <= 200:
        return
    raise InputError(f"{where}: name {name!r} cannot be a folder name here (1 to 200 bytes, no '/', '\\' or "
                     f"control character, not starting with '.', not {SUMMARY!r})", "badPairs")


def read_pairs(pairs):
    """The pairs of match_pairs as Pair objects, with absolute paths and
    unique folder names: a given name, else ``<stem1>__<stem2>`` (with
    ``-2``, ``-3``, ... on repeats). Two names that differ only in the case
    of ASCII letters are one folder on some file systems and refused."""
    entries = _entries(pairs)
    given = {}
    for row, where, _ in entries:
        if row.get("name") is not None:
            _check_name(row["name"], where)
            key = _folder_key(row["name"])
            if key in given:
                raise InputError(f"{where}: name {row['name']!r} is also the name of {given[key]} "
                                 f"(one folder, ASCII letters' case aside)", "badPairs")
            given[key] = where
    taken = set(given)
    found = []
    for row, where, base in entries:
        if row.get("image1") is None or row.get("image2") is None:
            raise InputError(f"{where}: needs image1 and image2", "badPairs")
        image1 = _path_text(row["image1"], f"{where} image1", base)
        image2 = _path_text(row["image2"], f"{where} image2", base)
        homography = row.get("homography")
        homography = None if homography is None else _path_text(homography, f"{where} homography", base)
        name = row.get("name")
        if name is None:
            stem = _safe_name(os.path.splitext(os.path.basename(image1))[0] + "__" +
                              os.path.splitext(os.path.basename(image2))[0])
            name, repeat = stem, 1
            while _folder_key(name) in taken or _folder_key(name) == SUMMARY:
                repeat += 1
                name = f"{stem}-{repeat}"
            taken.add(_folder_key(name))
        found.append(Pair(name, image1, image2, homography))
    return found


# --- one pair, on a worker -----------------------------------------------------


def _open_regular(path, kind, follow=True):
    """A descriptor of the regular file at path. Anything else is refused
    before a byte is read: a FIFO would block for good, a device never
    ends. With follow=False a symbolic link is refused too (O_NOFOLLOW)."""
    flags = os.O_RDONLY | os.O_NONBLOCK | os.O_CLOEXEC | (0 if follow else os.O_NOFOLLOW)
    try:
        fd = os.open(path, flags)
    except OSError as error:
        if error.errno == errno.ELOOP and not follow:
            raise FileError(f"'{path}' is a symbolic link, not a file this batch wrote", kind, path) from None
        raise
    try:
        if not stat.S_ISREG(os.fstat(fd).st_mode):
            raise FileError(f"'{path}' is not a regular file", kind, path)
    except BaseException:
        os.close(fd)
        raise
    return fd


def _checksum(path, kind="imageFile", follow=True):
    """SHA-256 of a regular file."""
    with open(_open_regular(path, kind, follow), "rb") as f:
        digest = hashlib.sha256()
        for block in iter(lambda: f.read(1 << 20), b""):
            digest.update(block)
    return digest.hexdigest()


def _inputs(pair):
    return {
        "image1": _checksum(pair.image1),
        "image2": _checksum(pair.image2),
        "homography": None if pair.homography is None else _checksum(pair.homography),
    }


def _outputs(picture):
    return TEXT_OUTPUTS + ((PICTURE,) if picture else ())


def _own_name(name):
    return name in OWN_FILES or _TEMPORARY.fullmatch(name) is not None


def _read_record(folder):
    """The pair.json of folder as a dict, or None when there is none or it
    is not one (not a regular file, too long, not JSON, not an object)."""
    try:
        with open(_open_regular(os.path.join(folder, RECORD), "outputFile", follow=False), "rb") as f:
            text = f.read(RECORD_LIMIT + 1)
        if len(text) > RECORD_LIMIT:
            return None
        record = json.loads(text.decode("utf-8"))
    except (OSError, ValueError, RecursionError):
        return None
    return record if isinstance(record, dict) else None


def _recorded_checksums(record):
    """The record's checksums of the outputs ({file name: SHA-256}) when it
    has them in their form, else None."""
    found = record.get("checksums")
    if not isinstance(found, dict) or not found or not set(found) <= set(TEXT_OUTPUTS + (PICTURE,)) \
            or not all(isinstance(v, str) and _SHA256.fullmatch(v) for v in found.values()):
        return None
    return found


def _why_not_ours(folder):
    """None when folder is a pair folder this batch (or linematchpairs)
    wrote: a real folder (not a link to one) whose pair.json records its
    outputs' checksums, holding nothing but the files the batch writes.
    Otherwise the reason it is left alone."""
    try:
        mode = os.lstat(folder).st_mode
    except FileNotFoundError:
        return None
    if stat.S_ISLNK(mode):
        return "it is a symbolic link"
    if not stat.S_ISDIR(mode):
        return "it is not a folder"
    record = _read_record(folder)
    if record is None or _recorded_checksums(record) is None:
        return f"it holds no {RECORD} of this batch (with the checksums of its outputs)"
    try:
        with os.scandir(folder) as entries:
            foreign = sorted(e.name for e in entries if not _own_name(e.name) or e.is_dir(follow_symlinks=False))
    except OSError as error:
        return f"it cannot be listed ({error.strerror})"
    if foreign:
        return f"it holds {foreign[0]!r}, which the batch does not write"
    return None


def _refuse_foreign(folder, why):
    raise FileError(f"'{folder}' is in the way and left as it is: {why}. The batch replaces only pair folders "
                    f"it wrote; move it away or give the pair another name", "outputFile", folder)


def _valid_result(result):
    """The summary figures of a record, checked one by one (a record is a
    file anyone can edit), as plain ints and floats; None if one is off."""
    if not isinstance(result, dict) or set(result) != set(_RESULT_COLUMNS):
        return None

    def number(value):
        return isinstance(value, (int, float)) and not isinstance(value, bool) and math.isfinite(value)

    clean = {}
    for name in ("segments1", "segments2", "matches"):
        value = result[name]
        if isinstance(value, bool) or not isinstance(value, int) or not 0 <= value <= MAX_COUNT:
            return None
        clean[name] = value
    for name in ("precision", "recall"):
        value = result[name]
        if value is not None and not (number(value) and 0 <= value <= 1):
            return None
        clean[name] = None if value is None else float(value)
    if (clean["precision"] is None) != (clean["recall"] is None):
        return None
    if not (number(result["seconds"]) and 0 <= result["seconds"] <= MAX_SECONDS):
        return None
    clean["seconds"] = float(result["seconds"])
    return clean


def _recorded_result(folder, inputs, options, picture):
    """The summary figures of a pair folder made from these inputs with
    these options whose outputs are still the ones recorded, else None
    (the pair is matched again)."""
    record = _read_record(folder)
    if record is None or record.get("inputs") != inputs or record.get("version") != _version \
            or record.get("options") != dict(options, picture=picture):
        return None
    checksums = _recorded_checksums(record)
    if checksums is None or set(checksums) != set(_outputs(picture)):
        return None
    result = _valid_result(record.get("result"))
    if result is None:
        return None
    for name, digest in checksums.items():
        try:
            if _checksum(os.path.join(folder, name), "outputFile", follow=False) != digest:
                return None
        except OSError:
            return None
    return result


def _own_folder(outdir, name, what):
    """OUTDIR/name, made if missing. It must be a real folder: through a
    symbolic link the batch would write, replace and remove its files
    outside OUTDIR."""
    folder = os.path.join(outdir, name)
    try:
        os.mkdir(folder)
    except FileExistsError:
        pass
    if not stat.S_ISDIR(os.lstat(folder).st_mode):
        raise FileError(f"'{folder}' is a symbolic link or not a folder: the batch keeps its {what} only in a "
                        f"folder of its own; remove it", "outputFile", folder)
    return folder


def _scratch_root(outdir):
    """OUTDIR/.partial (see _own_folder)."""
    return _own_folder(outdir, SCRATCH, "scratch files")


def _scratch_folder(outdir):
    """A fresh name in OUTDIR/.partial after this host and process."""
    return os.path.join(_scratch_root(outdir), f"{socket.gethostname()}-{os.getpid()}-{uuid.uuid4().hex}")


def _remove_own(folder):
    """Removes the files the batch writes (OWN_FILES, their temporaries)
    from folder, then folder if that empties it. Never follows a link: a
    folder that is a link is left, entries are unlinked (a link named
    matches.txt goes, not what it points at); anything else stays."""
    try:
        fd = os.open(folder, os.O_RDONLY | os.O_DIRECTORY | os.O_NOFOLLOW | os.O_CLOEXEC)
    except OSError:
        return False
    try:
        for name in os.listdir(fd):
            if _own_name(name):
                try:
                    os.unlink(name, dir_fd=fd)
                except OSError:
                    pass  # a folder by that name, say: left with the folder
    finally:
        os.close(fd)
    try:
        os.rmdir(folder)
    except OSError:
        return False
    return True


def _alive(pid):
    """Whether process pid runs. A killed worker whose parent died too can
    stay a zombie for good where nothing reaps orphans (a container's
    first process): that counts as gone."""
    try:
        with open(f"/proc/{pid}/stat", encoding="ascii", errors="replace") as f:
            return f.read().rsplit(")", 1)[-1].split()[0] not in ("Z", "X")
    except (OSError, IndexError):
        pass
    try:
        os.kill(pid, 0)
    except ProcessLookupError:
        return False
    except PermissionError:
        pass
    return True


def _remove_leftovers(outdir):
    """The scratch folders and summary files of processes of this host that
    are gone (a killed worker's or client's), with the temporaries in
    them. Other hosts' are left to their own workers. Nothing through a
    link: a linked .partial is not looked into."""
    scratch = os.path.join(outdir, SCRATCH)
    host = socket.gethostname()
    try:
        if not stat.S_ISDIR(os.lstat(scratch).st_mode):
            return
        names = os.listdir(scratch)
    except OSError:
        return
    for name in names:
        parts = name.rsplit("-", 2)
        if len(parts) != 3 or parts[0] != host or not parts[1].isdigit() or _alive(int(parts[1])):
            continue
        path = os.path.join(scratch, name)
        try:
            mode = os.lstat(path).st_mode
        except OSError:
            continue
        if stat.S_ISDIR(mode):
            _remove_own(path)
        elif stat.S_ISREG(mode) and name.endswith(".csv"):
            try:
                os.unlink(path)
            except OSError:
                pass


def _move_into_place(folder, target, outdir):
    """Renames the complete folder to target. An older pair folder of this
    batch is moved aside and removed; anything else there is refused. If
    another writer puts a pair folder there meanwhile, the last rename wins
    (both are complete)."""
    for _ in range(8):
        try:
            os.rename(folder, target)
            return
        except OSError as e:
            if e.errno == errno.ENOTDIR or (os.path.lexists(target) and not os.path.isdir(target)) \
                    or os.path.islink(target):
                _refuse_foreign(target, "it is not a folder")
            if e.errno not in (errno.ENOTEMPTY, errno.EEXIST):
                raise
        why = _why_not_ours(target)
        if why is not None:
            _refuse_foreign(target, why)
        aside = _scratch_folder(outdir)
        try:
            os.rename(target, aside)
        except FileNotFoundError:
            continue
        if not _remove_own(aside):
            # Something not the batch's came in between the look and the
            # rename: it stays, out of the way, with a name that says why.
            kept = f"{target}.kept-{uuid.uuid4().hex[:8]}"
            os.rename(aside, kept)
            _refuse_foreign(target, f"it changed while it was replaced; it is now '{kept}'")
    raise OSError(errno.EBUSY, "other writers keep replacing it", target)


def _error_text(error):
    return f"{type(error).__name__}: {error}".replace("\n", " ")


def run_pair(pair, outdir, options, picture, threads, match=None):
    """One pair (a Dask task): reuses a complete, up-to-date pair folder or
    matches the pair into a new one. Returns (summary row, reused). Never
    raises for a failing pair: the row says status "failed" and the error.
    match stands in for _core._match_to_folder (a collection matches from
    cached features, _collection.py); it must write the same files."""
    started = time.perf_counter()
    row = pair.row()
    try:
        inputs = _inputs(pair)
        target = os.path.join(outdir, pair.name)
        # Before the pair is matched: what is in the way stays in the way.
        why = _why_not_ours(target)
        if why is not None:
            _refuse_foreign(target, why)
        recorded = _recorded_result(target, inputs, options, picture)
        if recorded is not None:
            row.update(recorded, status="ok")
            return row, True
        _remove_leftovers(outdir)
        folder = _scratch_folder(outdir)
        os.mkdir(folder)
        try:
            found = (match or _core._match_to_folder)(pair.image1, pair.image2, folder,
                                                      dict(options, threads=threads),
                                                      homography_file=pair.homography, picture=picture)
            result = {name: found[name] for name in _RESULT_COLUMNS}
            result["seconds"] = time.perf_counter() - started
            checksums = {name: _checksum(os.path.join(folder, name), "outputFile", follow=False)
                         for name in _outputs(picture)}
            record = {"version": _version, "inputs": inputs, "options": dict(options, picture=picture),
                      "image1": pair.image1, "image2": pair.image2, "homography": pair.homography,
                      "result": result, "checksums": checksums}
            with open(os.path.join(folder, RECORD), "x", encoding="utf-8") as f:
                json.dump(record, f, indent=1)
            _move_into_place(folder, target, outdir)
        finally:
            _remove_own(folder)
        row.update(result, status="ok")
    except Exception as error:  # the pair's failure, recorded; the batch goes on
        row.update(status="failed", error=_error_text(error), seconds=time.perf_counter() - started)
    return row, False


# --- the batch, on the client --------------------------------------------------


def _local_client(workers):
    """A LocalCluster of worker processes that only this user can reach:
    TLS on 127.0.0.1 with a throw-away certificate and key that only this
    process and its workers hold (Security.temporary), so that no other
    local account can hand the scheduler code to run; no dashboard. One task
    at a time per worker."""
    try:
        from distributed import Client, LocalCluster
        from distributed.security import Security
    except ImportError as error:
        raise ImportError("match_pairs needs Dask's distributed scheduler (Debian: python3-distributed)") from error
    # Worker processes start by importing the caller's main module: a script
    # that calls match_pairs at its top level without the
    # `if __name__ == "__main__":` guard would start a cluster in every
    # worker, and the first one would wait for its workers for ever.
    # (A spawned process runs that module under the name "__mp_main__".)
    if getattr(sys.modules.get("__mp_main__"), "__name__", None) == "__mp_main__" or \
            multiprocessing.current_process().name != "MainProcess":
        raise RuntimeError("match_pairs started its local cluster from one of its own worker processes: in a "
                           "script, call it under 'if __name__ == \"__main__\":' (the workers import the script), "
                           "or pass client=")
    try:
        security = Security.temporary()
    except ImportError as error:
        raise ImportError("match_pairs' local cluster needs the cryptography package for its TLS certificate "
                          "(Debian: python3-cryptography)") from error

    cluster = LocalCluster(n_workers=workers, threads_per_worker=1, processes=True, host="127.0.0.1",
                           protocol="tls://", security=security, dashboard_address=None,
                           silence_logs=logging.ERROR)
    try:
        return Client(cluster, security=security), cluster
    except BaseException:
        cluster.close()
        raise


class _Progress:
    """tqdm's bar (pairs done / total, rate, time left) with the failures and
    reused pairs so far; nothing when switched off or tqdm is missing."""

    def __init__(self, total, enabled):
        self.failed = self.reused = 0
        self.bar = None
        if enabled:
            try:
                from tqdm import tqdm
            except ImportError:
                print("match_pairs: no progress bar (tqdm is not installed)", file=sys.stderr)
            else:
                self.bar = tqdm(total=total, unit="pair", desc="linematch", dynamic_ncols=True, file=sys.stderr)

    def done(self, row, reused):
        self.failed += row["status"] != "ok"
        self.reused += reused
        if self.bar is not None:
            self.bar.set_postfix(failed=self.failed, reused=self.reused, refresh=False)
            self.bar.update()

    def close(self):
        if self.bar is not None:
            self.bar.close()


def _run(client, pairs, outdir, options, picture, threads, progress):
    token = uuid.uuid4().hex[:8]
    keys = [f"linematch-pair-{k}-{token}" for k in range(len(pairs))]
    futures = client.map(run_pair, pairs, key=keys, pure=False, outdir=outdir, options=options, picture=picture,
                         threads=threads)
    return _gather(client, pairs, futures, progress)


def _gather(client, pairs, futures, progress, others=()):
    """The rows of the pairs' futures (futures[k] matches pairs[k]) as they
    finish, with the progress bar; a task the cluster gave up on is a failed
    row. An interruption cancels the futures and the others they need."""
    from distributed import as_completed

    position = {f.key: k for k, f in enumerate(futures)}
    rows = [None] * len(pairs)
    bar = _Progress(len(pairs), progress)
    try:
        for future in as_completed(futures):
            k = position[future.key]
            try:
                row, reused = future.result()
            except Exception as error:  # a task the cluster gave up on (KilledWorker), or lost
                row, reused = pairs[k].row(), False
                row.update(status="failed", error=_error_text(error))
            rows[k] = row
            bar.done(row, reused)
    except BaseException:
        client.cancel(list(futures) + list(others))
        raise
    finally:
        bar.close()
    return rows


def _cell(column, value):
    """A summary cell: a number as such, text as it is unless a spreadsheet
    would take it for a formula (starting with = + - @, a tab or a carriage
    return): then it gets a leading apostrophe, OWASP's defence against
    CSV injection. The csv module quotes cells holding commas, quotes or
    line breaks."""
    if value is None:
        return ""
    if column == "seconds":
        return f"{value:.3f}"
    if isinstance(value, float):
        return repr(value)
    text = str(value)
    return "'" + text if text.startswith(_FORMULA_START) else text


def _write_summary(outdir, rows):
    """OUTDIR/summary.csv, written in OUTDIR/.partial under this host's and
    process's name (removed by a later run if this one is killed) and
    renamed into place."""
    path = os.path.join(outdir, SUMMARY)
    scratch = _scratch_folder(outdir) + ".csv"
    try:
        with open(scratch, "x", newline="", encoding="utf-8", errors="surrogateescape") as f:
            writer = csv.writer(f)
            writer.writerow(COLUMNS)
            for row in rows:
                writer.writerow([_cell(c, row[c]) for c in COLUMNS])
        os.replace(scratch, path)
    finally:
        if os.path.lexists(scratch):
            os.remove(scratch)


def _table(rows):
    try:
        import pandas
    except ImportError:
        return rows
    table = pandas.DataFrame(rows, columns=list(COLUMNS))
    for column in ("segments1", "segments2", "matches"):
        table[column] = table[column].astype("Int64")  # counts stay whole numbers next to failed pairs
    return table


def _whole(value, name, lo, hi):
    if isinstance(value, bool) or not isinstance(value, int):
        raise ArgumentTypeError(f"{name} must be an int, got {type(value).__name__}", "badOptions")
    if not lo <= value <= hi:
        raise InputError(f"{name} must lie in {lo}..{hi}, got {value}", "badOptions")
    return value


def match_pairs(pairs, outdir, *, images=None, overlap_check=True, client=None, workers=None, threads=1, progress=True,
                picture=True, **matcher_options):
    """match_pairs(pairs, outdir, *, images=None, overlap_check=True, client=None, workers=None, threads=1, progress=True, picture=True, **matcher_options) -> table

    Runs the ``linematch`` command's matching on many image pairs, one Dask
    task per pair, and writes each pair's files into ``outdir/<name>/``
    exactly as the command writes them: ``matches.txt``, ``segments1.txt``,
    ``segments2.txt``, ``matches.png`` (unless ``picture=False``) and
    ``report.json`` (the same apart from its timings), plus ``pair.json``,
    the record that makes a rerun skip the pair.

    Parameters
    ----------
    pairs : iterable or path
        ``(image1, image2)`` or ``(image1, image2, homography)`` paths (or
        dicts with those keys and ``name``), or a CSV/TSV file of the
        columns ``image1, image2[, homography]``, or with a header naming
        ``image1``, ``image2``, ``homography``, ``name`` in any order.
        Relative paths in a file are relative to the file's folder. A
        homography file (as the command's ``--homography``) only scores the
        result: precision and recall in the summary.
        With ``images``: the pair plan over those images, ``"exhaustive"``
        (every two once), ``"sequential:K"`` (each image with the K after
        it), or pairs as above.
    outdir : path
        Made if missing. Must be the same folder for every worker.
    images : path or iterable, optional
        A collection: a folder (its image files), a list file (one path a
        line) or paths. Each image's features are computed once (one task
        per image, cached in ``outdir/.features`` for reruns) and every
        pair is matched from them, with the same result as alone. The
        collection's store ``outdir/features.h5`` and ``matches.h5`` is
        written at the end (with h5py; see :func:`load_collection`).
    overlap_check : bool
        With ``images``: a pair whose cached keypoints share no plane (an
        approximate match of the first level and the affine views) is
        answered at once with status ``no_overlap`` in ``report.json`` and
        no correspondences, instead of the point stage's retries. Such a
        pair gets no answer from the points in full either; False matches
        every pair exactly as alone (an LBD-only answer included).
    client : distributed.Client, optional
        The cluster to run on. Without one, a ``LocalCluster`` of
        ``workers`` processes is started and closed again: TLS on 127.0.0.1
        with a throw-away certificate, so only this user can reach it.
    workers : int, optional
        Worker processes of that LocalCluster (default: CPU count //
        threads).
    threads : int
        Threads of the matcher in each task, 1..256. The results do not
        depend on it, so a rerun with other threads reuses the pairs done.
    progress : bool
        A progress bar on standard error (tqdm): pairs done / total, rate,
        time left, failures and reused pairs so far.
    picture : bool
        Write ``matches.png`` (the command's ``--no-picture`` is False).
    **matcher_options
        The options of :func:`match_images` under its keywords
        (``ratio``, ``rounds``, ``checks``, ``verify``, ``max_pixels``, ...;
        the command's flags), with its defaults and ranges.

    Returns
    -------
    pandas.DataFrame (a list of dicts without pandas)
        One row per pair in the order given, as ``outdir/summary.csv``:
        name, image1, image2, homography, status (``ok`` or ``failed``),
        segments1, segments2, matches, precision, recall (with a
        homography), seconds (of the pair's task, recorded when it was
        matched) and error (for a failed pair).

    A pair whose folder is complete and whose ``pair.json`` records the
    same input checksums (SHA-256 of the image and homography files), the
    same options and the same package version, and the checksums its
    outputs still have, is not matched again. A pair folder is replaced
    only when the batch wrote it (its ``pair.json`` with the outputs'
    checksums, nothing in it but the batch's files); anything else of that
    name fails the pair and is left as it is. Text cells of the summary
    that a spreadsheet would take for a formula (starting with ``=``,
    ``+``, ``-``, ``@``, a tab or a carriage return) get a leading
    apostrophe. A pair
    that fails (an image that cannot be read, a full disk) is recorded in
    the summary with its error and leaves its folder as it was; the others
    go on, and a rerun tries it again. A worker process that dies is
    replaced and its tasks run again (Dask's
    ``distributed.scheduler.allowed-failures``, 3 by default; a pair whose
    task was on more workers that died is recorded as failed).

    Bad arguments (unknown option, option out of range, a bad pair list)
    raise before any pair runs, as match_images raises them.
    """
    unknown = sorted(set(matcher_options) - set(MATCHER_DEFAULTS))
    if unknown:
        raise TypeError(f"match_pairs() got an unexpected keyword argument {unknown[0]!r}")
    options = dict(MATCHER_DEFAULTS, **matcher_options)
    _core._check_matcher_options(dict(options, threads=threads))
    # Plain Python values (numpy.int64(3) is a valid rounds) for pair.json.
    options = {name: type(MATCHER_DEFAULTS[name])(value) for name, value in options.items()}
    for name, value in (("picture", picture), ("progress", progress)):
        if not isinstance(value, bool):
            raise ArgumentTypeError(f"{name} must be a bool, got {type(value).__name__}", "badOptions")
    if client is not None and workers is not None:
        raise InputError("workers is for the LocalCluster match_pairs starts; with a client its cluster decides",
                         "badOptions")
    if workers is not None:
        _whole(workers, "workers", 1, 4096)
    runner = _run
    if images is None:
        pair_list = read_pairs(pairs)
    else:
        from . import _collection

        if not isinstance(overlap_check, bool):
            raise ArgumentTypeError(f"overlap_check must be a bool, got {type(overlap_check).__name__}",
                                    "badOptions")
        pair_list = _collection.plan_pairs(_collection.read_images(images), pairs)
        runner = functools.partial(_collection.run, overlap_check=overlap_check)
    outdir = os.path.abspath(os.fspath(outdir))
    os.makedirs(outdir, exist_ok=True)
    _scratch_root(outdir)  # a linked .partial is refused before any pair runs

    if not pair_list:
        rows = []
    elif client is not None:
        rows = runner(client, pair_list, outdir, options, picture, threads, progress)
    else:
        own_client, cluster = _local_client(workers or max(1, (os.cpu_count() or 1) // threads))
        try:
            rows = runner(own_client, pair_list, outdir, options, picture, threads, progress)
        finally:
            own_client.close()
            cluster.close()
    _write_summary(outdir, rows)
    _remove_leftovers(outdir)  # a worker of this host killed on its last pair
    try:
        os.rmdir(os.path.join(outdir, SCRATCH))
    except OSError:
        pass  # not there, or another batch's scratch folders are in it
    return _table(rows)
