"""lineharvest.match_pairs and linematch-batch on a LocalCluster of two
worker processes (127.0.0.1 only): the command's own files for each pair,
an unreadable image recorded while the others complete, a rerun that
redoes only what changed, a batch killed part-way and resumed, a worker
killed mid-batch, and what a careless or hostile user puts in the way
(folders of their own, links, FIFOs, edited records) refused or matched
again without a byte of theirs lost."""

import csv
import json
import os
import shutil
import signal
import socket
import ssl
import subprocess
import sys
import threading
import time
from pathlib import Path

import pytest

import lineharvest as lh
from test_match_images import COMMAND, DATA, require
from conftest import REPO

WARP = Path(os.environ.get("LINEHARVEST_WARP_IMAGE", REPO / "build" / "matcher" / "warp_image"))
# Five small photographs' warps (each pair well under a second) and an image
# file that cannot be decoded.
SOURCES = [("box.png", 1), ("box.png", 2), ("blox.jpg", 1), ("blox.jpg", 2), ("box.png", 3)]
BROKEN = "broken__pair"


@pytest.fixture(scope="module")
def pairs(tmp_path_factory):
    require(lh.HAS_MATCHER, "lineharvest.match_pairs (the extension without the line matcher)")
    require(WARP.is_file() and COMMAND.is_file(), f"warp_image and linematch ({WARP.parent})")
    require(all((DATA / name).is_file() for name, _ in SOURCES), f"the opencv-doc photographs in {DATA}")
    pytest.importorskip("distributed")
    folder = tmp_path_factory.mktemp("pairs")
    rows = []
    for k, (name, seed) in enumerate(SOURCES):
        warped, homography = folder / f"warp{k}.png", folder / f"warp{k}.txt"
        subprocess.run([str(WARP), str(DATA / name), str(warped), str(homography), "--seed", str(seed)], check=True)
        rows.append({"name": f"pair{k}", "image1": str(DATA / name), "image2": warped.name,
                     "homography": homography.name})
    (folder / "broken.png").write_bytes(b"\x89PNG\r\n\x1a\n but not an image")
    rows.append({"name": BROKEN, "image1": str(DATA / "box.png"), "image2": "broken.png", "homography": ""})
    with open(folder / "pairs.csv", "w", newline="") as f:
        writer = csv.DictWriter(f, fieldnames=["name", "image1", "image2", "homography"])
        writer.writeheader()
        writer.writerows(rows)
    # What the command writes for each good pair.
    for k, row in enumerate(rows[:-1]):
        subprocess.run([str(COMMAND), row["image1"], str(folder / row["image2"]), str(folder / "command" / row["name"]),
                        "--homography", str(folder / row["homography"]), "--quiet"], check=True, timeout=120)
    return folder


@pytest.fixture(scope="module")
def client(pairs):
    from distributed import Client, LocalCluster

    cluster = LocalCluster(n_workers=2, threads_per_worker=1, processes=True, host="127.0.0.1",
                           dashboard_address="127.0.0.1:0")
    with Client(cluster) as c:
        yield c
    cluster.close()


def without_timings(report):
    found = json.loads(report.read_text())
    del found["seconds"]
    return found


def assert_command_files(out, pairs):
    for k in range(len(SOURCES)):
        mine, theirs = out / f"pair{k}", pairs / "command" / f"pair{k}"
        for name in ("matches.txt", "confidence.txt", "segments1.txt", "segments2.txt", "matches.png"):
            assert (mine / name).read_bytes() == (theirs / name).read_bytes(), f"pair{k}/{name}"
        assert without_timings(mine / "report.json") == without_timings(theirs / "report.json"), f"pair{k}"
    assert not (out / ".partial").exists()


def summary(out, timings=True):
    with open(out / "summary.csv", newline="") as f:
        rows = list(csv.DictReader(f))
    if not timings:
        for row in rows:
            row.pop("seconds")
    return rows


def stamps(out):
    """Each pair folder's record, as (inode, modification time): a pair
    matched again gets a new one."""
    return {p.parent.name: (p.stat().st_ino, p.stat().st_mtime_ns) for p in out.glob("*/pair.json")}


@pytest.fixture(scope="module")
def first_run(pairs, client, tmp_path_factory):
    out = tmp_path_factory.mktemp("batch")
    table = lh.match_pairs(pairs / "pairs.csv", out, client=client, progress=False)
    return out, table


def test_each_pair_gets_the_command_files_and_a_bad_image_is_recorded(pairs, first_run):
    out, table = first_run
    assert_command_files(out, pairs)
    rows = summary(out)
    assert [r["name"] for r in rows] == [f"pair{k}" for k in range(len(SOURCES))] + [BROKEN]
    assert [r["status"] for r in rows] == ["ok"] * len(SOURCES) + ["failed"]
    assert "broken.png" in rows[-1]["error"] and not (out / BROKEN).exists()
    assert list(table["status"]) == [r["status"] for r in rows]
    assert list(table["matches"].fillna(-1)) == [int(r["matches"] or -1) for r in rows]
    assert 0 < float(rows[0]["precision"]) <= 1 and 0 < float(rows[0]["recall"]) <= 1


def test_a_rerun_redoes_only_the_pair_whose_input_changed(pairs, first_run, client):
    out, _ = first_run
    before, rows_before = stamps(out), summary(out)
    # The same homography written another way: another checksum.
    homography = pairs / "warp3.txt"
    original = homography.read_text()
    homography.write_text(original.replace("\n", " \n"))
    try:
        lh.match_pairs(pairs / "pairs.csv", out, client=client, progress=False)
    finally:
        homography.write_text(original)
    after = stamps(out)
    assert [name for name in before if after[name] != before[name]] == ["pair3"]
    assert summary(out, timings=False) == [{k: v for k, v in r.items() if k != "seconds"} for r in rows_before]
    assert_command_files(out, pairs)


def test_a_killed_batch_resumes_with_the_pairs_left(pairs, first_run, client, tmp_path):
    out = tmp_path / "out"
    # The command in a session of its own, one worker, so that the pairs
    # are done one by one; killed with its cluster as soon as one is done.
    batch = subprocess.Popen(
        [sys.executable, "-m", "lineharvest._batch_cli", str(pairs / "pairs.csv"), str(out), "--workers", "1",
         "--quiet"], start_new_session=True, stderr=subprocess.DEVNULL)
    try:
        deadline = time.monotonic() + 60
        while not list(out.glob("*/pair.json")) and batch.poll() is None and time.monotonic() < deadline:
            time.sleep(0.005)
    finally:
        os.killpg(batch.pid, signal.SIGKILL)
        batch.wait()
    done = stamps(out)
    assert 1 <= len(done) < len(SOURCES) and not (out / "summary.csv").exists()
    lh.match_pairs(pairs / "pairs.csv", out, client=client, progress=False)
    after = stamps(out)
    assert all(after[name] == done[name] for name in done) and len(after) == len(SOURCES)
    assert summary(out, timings=False) == summary(first_run[0], timings=False)
    assert_command_files(out, pairs)


def test_a_fifo_or_a_device_fails_its_pair_without_blocking_the_worker(pairs, tmp_path):
    os.mkfifo(tmp_path / "fifo.png")
    found = []
    for image in (tmp_path / "fifo.png", Path("/dev/zero")):
        pair = lh._batch.read_pairs([(DATA / "box.png", image)])[0]
        run = threading.Thread(target=lambda: found.append(
            lh._batch.run_pair(pair, str(tmp_path), lh._batch.MATCHER_DEFAULTS, True, 1)), daemon=True)
        run.start()
        run.join(30)
        assert not run.is_alive(), f"{image} blocked the pair"
    assert [(row["status"], "not a regular file" in row["error"]) for row, _ in found] == [("failed", True)] * 2


def test_the_gil_is_released_while_a_pair_is_matched(pairs, tmp_path):
    steps, done = 0, threading.Event()

    def run():
        lh._core._match_to_folder(DATA / "box.png", pairs / "warp0.png", tmp_path, lh._batch.MATCHER_DEFAULTS,
                                  homography_file=None, picture=True)
        done.set()

    worker = threading.Thread(target=run)
    worker.start()
    while not done.is_set():
        steps += 1
    worker.join()
    assert steps > 10000, steps


def tree(folder):
    """Every path under folder (links not followed) with its bytes, its
    link target or None for a folder."""
    found = {}
    for root, dirs, files in os.walk(folder):
        for name in dirs + files:
            path = Path(root) / name
            found[str(path.relative_to(folder))] = (os.readlink(path) if path.is_symlink() else
                                                    path.read_bytes() if path.is_file() else None)
    return found


def edited_record(change):
    def setup(out, good):
        shutil.copytree(good, out / "=p")
        record = json.loads((out / "=p" / "pair.json").read_text())
        change(record)
        (out / "=p" / "pair.json").write_text(json.dumps(record))
    return setup


def dead_pid():
    child = subprocess.Popen(["true"])
    child.wait()
    return child.pid


def killed_scratch(out):
    """A scratch folder of a killed process of this host, with a temporary
    the matcher's writer left in it."""
    folder = out / ".partial" / f"{socket.gethostname()}-{dead_pid()}-x"
    folder.mkdir(parents=True)
    (folder / ".matches.txt.Ab12Cd").write_text("0 0\n")


# What is in the way of pair "=p" and what the batch must do: "refused" = a
# failed row naming the folder, which keeps every byte; "again" = matched
# again with the true figures into a folder of the batch.
HOSTILE = [
    ("a folder of the user's", lambda out, good: (out / "=p").mkdir() or (out / "=p" / "notes.txt").write_text("n"),
     "refused"),
    ("a user's folder in a pair folder, named as an output",
     lambda out, good: shutil.copytree(good, out / "=p", ignore=shutil.ignore_patterns("matches.png")) and
     (out / "=p" / "matches.png").mkdir() or (out / "=p" / "matches.png" / "thesis.tex").write_text("t"), "refused"),
    ("a link to a pair folder", lambda out, good: shutil.copytree(good, out / "elsewhere") and
     (out / "=p").symlink_to(out / "elsewhere"), "refused"),
    ("a FIFO as pair.json", lambda out, good: (out / "=p").mkdir() or os.mkfifo(out / "=p" / "pair.json"), "refused"),
    ("a record without output checksums", edited_record(lambda r: r.pop("checksums")), "refused"),
    ("a damaged output", lambda out, good: shutil.copytree(good, out / "=p") and
     (out / "=p" / "matches.txt").write_text("0 0\n"), "again"),
    ("seconds as text", edited_record(lambda r: r["result"].update(seconds="abc")), "again"),
    ("a count beyond any int", edited_record(lambda r: r["result"].update(matches=10**30)), "again"),
    ("a formula as a count", edited_record(lambda r: r["result"].update(matches='=HYPERLINK("x")')), "again"),
    ("an extra figure", edited_record(lambda r: r["result"].update(extra=1)), "again"),
    ("a killed run's scratch folder", lambda out, good: killed_scratch(out), "again"),
]


def test_what_is_in_the_way_is_refused_or_matched_again_never_lost(pairs, client, tmp_path):
    # A byte-order mark before the header, as spreadsheets write, and a
    # name a spreadsheet would take for a formula.
    listed = tmp_path / "pairs.csv"
    listed.write_text(f"\ufeffname,image1,image2,homography\n=p,{DATA / 'box.png'},{pairs / 'warp0.png'},"
                      f"{pairs / 'warp0.txt'}\n", encoding="utf-8")
    good = tmp_path / "good"
    lh.match_pairs(listed, good, client=client, progress=False)
    expected = summary(good)
    assert expected[0]["name"] == "'=p" and expected[0]["status"] == "ok", expected
    record = json.loads((good / "=p" / "pair.json").read_text())
    assert set(record["checksums"]) == {"matches.txt", "confidence.txt", "segments1.txt", "segments2.txt", "matches.png",
                                         "report.json"}
    for what, setup, outcome in HOSTILE:
        out = tmp_path / what.replace(" ", "_").replace("'", "").replace(",", "")
        out.mkdir()
        setup(out, good / "=p")
        before = tree(out)
        lh.match_pairs(listed, out, client=client, progress=False)
        row = summary(out)[0]
        if outcome == "refused":
            assert row["status"] == "failed" and "in the way" in row["error"], (what, row)
            assert {k: v for k, v in tree(out).items() if k != "summary.csv"} == before, what
        else:
            assert {k: v for k, v in row.items() if k != "seconds"} == \
                {k: v for k, v in expected[0].items() if k != "seconds"}, what
            assert (out / "=p" / "matches.txt").read_bytes() == (good / "=p" / "matches.txt").read_bytes(), what
            assert not (out / ".partial").exists(), what
    # Refused before any pair runs: a .partial that links out of OUTDIR (its
    # target's look-alike leftovers stay), a FIFO as the pair list, names
    # that are not one folder each.
    out, outside = tmp_path / "linked", tmp_path / "outside"
    stale = outside / f"{socket.gethostname()}-{dead_pid()}-x"
    stale.mkdir(parents=True)
    (stale / "matches.txt").write_text("mine\n")
    out.mkdir()
    (out / ".partial").symlink_to(outside)
    with pytest.raises(lh.FileError, match="symbolic link"):
        lh.match_pairs(listed, out, client=client, progress=False)
    assert (stale / "matches.txt").read_text() == "mine\n" and not (out / "=p").exists()
    os.mkfifo(tmp_path / "fifo.csv")
    with pytest.raises(lh.FileError, match="not a regular file"):
        lh.match_pairs(tmp_path / "fifo.csv", tmp_path / "fifo_out", client=client, progress=False)
    image = str(DATA / "box.png")
    for names in (["a\0b"], ["a\\b"], ["a\tb"], ["Box", "box"], ["SUMMARY.CSV"], [".p"], ["x" * 201]):
        with pytest.raises(lh.InputError, match="name"):
            lh._batch.read_pairs([{"image1": image, "image2": image, "name": n} for n in names])
    # The cluster match_pairs starts: TLS on the loopback address; a peer
    # without its certificate gets the handshake refused, not a word.
    own, cluster = lh._batch._local_client(1)
    try:
        address = cluster.scheduler_address
        assert address.startswith("tls://127.0.0.1:") and own.submit(sum, [1, 2]).result() == 3, address
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_CLIENT)
        context.check_hostname, context.verify_mode = False, ssl.CERT_NONE
        with socket.create_connection(("127.0.0.1", int(address.rsplit(":", 1)[1])), timeout=60) as raw:
            try:
                with context.wrap_socket(raw) as tls:
                    tls.sendall(b"\0" * 8)
                    answer = tls.recv(1)
            except (ssl.SSLError, ConnectionError):
                answer = b""
        assert answer == b""
    finally:
        own.close()
        cluster.close()

def test_a_worker_killed_mid_batch_is_survived(pairs, client, tmp_path):
    # Last in this file: the cluster restarts the worker, but runs on with
    # one fewer for a moment.
    out = tmp_path / "out"
    pids = client.run(os.getpid)
    found = {}
    batch = threading.Thread(target=lambda: found.update(
        table=lh.match_pairs(pairs / "pairs.csv", out, client=client, progress=False)))
    batch.start()
    killed = None
    deadline = time.monotonic() + 60
    while killed is None and batch.is_alive() and time.monotonic() < deadline:
        busy = [address for address, keys in client.processing().items() if keys and address in pids]
        if busy and list(out.glob(".partial/*")):
            killed = pids[busy[0]]
            os.kill(killed, signal.SIGKILL)
        time.sleep(0.002)
    batch.join(120)
    assert killed is not None and not batch.is_alive()
    assert killed not in client.run(os.getpid).values()
    assert [r["status"] for r in summary(out)] == ["ok"] * len(SOURCES) + ["failed"]
    assert_command_files(out, pairs)
