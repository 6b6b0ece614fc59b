"""The figures of benchmarks/bench_batch.sh (which builds the tools and
calls this): lineharvest.match_pairs on 24 warp_image pairs.

  python bench_batch.py WORK LINEMATCH ROUNDS

WORK holds pairs.csv and the pairs (made by the shell script). Prints:
- pairs per second with 1 and 2 workers, measured alternately, medians,
  and in the same rounds the linematch command on every pair in one
  process at a time against two at once (what the machine allowed then,
  without Dask);
- Dask's overhead per pair: the batch's wall time less the pairs' own task
  times, per pair (1 worker), and an empty task's round trip, both next to
  the matching time of graf1 -> graf3;
- whether every pair's files equal the linematch command's;
- a batch killed at about half way and rerun: how many pairs the rerun
  matched, and whether its summary.csv equals an uninterrupted run's apart
  from the timings.
"""

import csv
import json
import os
import shutil
import signal
import statistics
import subprocess
import sys
import threading
import time
from pathlib import Path

import lineharvest as lh
from distributed import Client, LocalCluster

DATA = Path("/usr/share/doc/opencv-doc/examples/data")


def cluster(workers):
    c = LocalCluster(n_workers=workers, threads_per_worker=1, processes=True, host="127.0.0.1",
                     dashboard_address="127.0.0.1:0")
    return c, Client(c)


def batch(client, pairs, out):
    shutil.rmtree(out, ignore_errors=True)
    started = time.perf_counter()
    table = lh.match_pairs(pairs, out, client=client, progress=False)
    wall = time.perf_counter() - started
    assert (table["status"] == "ok").all(), table[table["status"] != "ok"]
    return wall, float(table["seconds"].sum()), len(table)


def commands(command, work, rows, streams):
    """Seconds for the linematch command on every pair, in this many
    processes at once, each taking every streams-th pair in turn."""
    def stream(k):
        for row in rows[k::streams]:
            subprocess.run([command, row["image1"], str(work / row["image2"]), str(work / "plain" / row["name"]),
                            "--homography", str(work / row["homography"]), "--quiet"], check=True)

    started = time.perf_counter()
    threads = [threading.Thread(target=stream, args=(k,)) for k in range(streams)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    return time.perf_counter() - started


def noop(x):
    return x


def summary(path, timings=True):
    with open(path, newline="") as f:
        rows = list(csv.DictReader(f))
    for row in rows:
        if not timings:
            row.pop("seconds")
    return rows


def stamps(out):
    return {p.parent.name: (p.stat().st_ino, p.stat().st_mtime_ns) for p in out.glob("*/pair.json")}


def without_timings(path):
    found = json.loads(path.read_text())
    del found["seconds"]
    return found


def main():
    work, command, rounds = Path(sys.argv[1]), sys.argv[2], int(sys.argv[3])
    pairs = work / "pairs.csv"
    rows = summary(pairs)
    n = len(rows)

    # 1 vs 2 workers, alternately; the clusters are started before the clock.
    clusters = {k: cluster(k) for k in (1, 2)}
    rates, overheads, per_pair = {1: [], 2: []}, [], {1: [], 2: []}
    plain = {1: [], 2: []}
    for r in range(rounds):
        for k in (1, 2):
            wall, tasks, count = batch(clusters[k][1], pairs, work / f"out{k}")
            rates[k].append(count / wall)
            per_pair[k].append(tasks / count)
            if k == 1:
                overheads.append((wall - tasks) / count)
            print(f"round {r + 1}, {k} worker(s): {wall:.2f} s, {count / wall:.3f} pairs/s; the pairs' own time "
                  f"{tasks:.2f} s ({tasks / wall:.2f} pairs at a time)", flush=True)
        for k in (1, 2):
            wall = commands(command, work, rows, k)
            plain[k].append(n / wall)
            print(f"round {r + 1}, the linematch command in {k} stream(s): {wall:.2f} s, {n / wall:.3f} pairs/s",
                  flush=True)
    one, two = statistics.median(rates[1]), statistics.median(rates[2])
    print(f"pairs/s: 1 worker {one:.3f}, 2 workers {two:.3f}: {two / one:.2f}x (target >= 1.7x)")
    c1, c2 = statistics.median(plain[1]), statistics.median(plain[2])
    print(f"what the machine allowed without Dask: the command in 1 stream {c1:.3f} pairs/s, in 2 streams at once "
          f"{c2:.3f}: {c2 / c1:.2f}x")
    print(f"a pair's own time: {statistics.median(per_pair[1]):.3f} s with 1 worker, "
          f"{statistics.median(per_pair[2]):.3f} s with 2 (medians)")

    client = clusters[1][1]
    trips = []
    for _ in range(3):
        started = time.perf_counter()
        client.gather(client.map(noop, range(200), pure=False))
        trips.append((time.perf_counter() - started) / 200)
    graf = []
    for _ in range(3):
        folder = work / "graf"
        shutil.rmtree(folder, ignore_errors=True)
        folder.mkdir()
        started = time.perf_counter()
        lh._core._match_to_folder(DATA / "graf1.png", DATA / "graf3.png", folder,
                                  dict(lh._batch.MATCHER_DEFAULTS, threads=1), homography_file=None, picture=True)
        graf.append(time.perf_counter() - started)
    g = statistics.median(graf)
    o, t = statistics.median(overheads), statistics.median(trips)
    print(f"graf1 -> graf3 matched and written: {g:.3f} s (median of 3)")
    print(f"Dask overhead per pair (1 worker, batch wall time less the tasks' own): {o * 1000:.1f} ms = "
          f"{100 * o / g:.1f} % of graf (target < 5 %)")
    print(f"an empty task's round trip: {t * 1000:.2f} ms = {100 * t / g:.2f} % of graf")

    # The command on each pair alone.
    same = 0
    for row in rows:
        folder = work / "command" / row["name"]
        subprocess.run([command, row["image1"], str(work / row["image2"]), str(folder), "--homography",
                        str(work / row["homography"]), "--quiet"], check=True)
        mine = work / "out2" / row["name"]
        same += all((mine / f).read_bytes() == (folder / f).read_bytes()
                    for f in ("matches.txt", "confidence.txt", "segments1.txt", "segments2.txt", "matches.png")) and \
            without_timings(mine / "report.json") == without_timings(folder / "report.json")
    print(f"identical to the linematch command: {same} of {n} pairs")

    # Killed at about half way (the command, 2 workers), then rerun.
    out = work / "killed"
    shutil.rmtree(out, ignore_errors=True)
    killed = subprocess.Popen([sys.executable, "-m", "lineharvest._batch_cli", str(pairs), str(out), "--workers", "2",
                               "--quiet"], start_new_session=True, stderr=subprocess.DEVNULL)
    while len(stamps(out)) < n // 2 and killed.poll() is None:
        time.sleep(0.01)
    os.killpg(killed.pid, signal.SIGKILL)
    killed.wait()
    done = stamps(out)
    lh.match_pairs(pairs, out, client=clusters[2][1], progress=False)
    after = stamps(out)
    redone = sum(after[name] != done.get(name) for name in after)
    kept = all(after[name] == done[name] for name in done)
    equal = summary(out / "summary.csv", timings=False) == summary(work / "out2" / "summary.csv", timings=False)
    print(f"killed with {len(done)} of {n} pairs done; the rerun matched {redone} "
          f"(pairs done before kept: {kept}); summary.csv equals an uninterrupted run's apart from timings: {equal}")

    for c, client in clusters.values():
        client.close()
        c.close()


if __name__ == "__main__":
    main()
