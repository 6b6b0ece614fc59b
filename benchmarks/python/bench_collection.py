"""The figures of benchmarks/bench_collection.sh (which builds the tools and
calls this): a collection of 20 Oxford images (four scenes, img1..img5),
every two images once (190 pairs), on a LocalCluster of 2 workers.

  python bench_collection.py WORK LINEMATCH [SAMPLE]

With SAMPLE k (default 1), today's batch runs on every k-th pair only (on
a busy machine the 190 pairs take the better part of an hour that way).
Prints, on the same cluster:
- today's batch (match_pairs on a pair file: every pair from its images)
  against the collection (features once per image, pairs from them) on
  the same pairs, and the collection on all 190: wall time and pairs per
  second, and the ratio (target >= 4x);
- whether every batch pair's matches.txt and confidence.txt equal the
  collection's
  (the batch writes what the linematch command writes, byte for byte);
  a pair the collection answered no_overlap counts as equal when the
  command found no correspondences either;
- a pair of different scenes matched from cached features, in this
  process (median of 5; target <= 0.2 s);
- a collection killed at about half way and rerun: how many features
  files and pairs the rerun computed;
- the workers' peak resident memory.
"""

import csv
import json
import os
import resource
import shutil
import signal
import statistics
import subprocess
import sys
import time
from pathlib import Path

import lineharvest as lh
from distributed import Client, LocalCluster

SCENES = ("bikes", "boat", "graf", "wall")


def peak_memory():
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss * 1024


def stamps(out):
    return {p.parent.name: (p.stat().st_ino, p.stat().st_mtime_ns) for p in out.glob("*/pair.json")}


def main():
    work = Path(sys.argv[1])  # argv[2], the command: the batch writes what it writes, byte for byte
    sample = int(sys.argv[3]) if len(sys.argv) > 3 else 1
    data = Path(os.environ.get("OXFORD", "/work/shared/data/oxford"))
    images = [data / scene / f"img{k}.png" for scene in SCENES for k in range(1, 6)]
    listing = work / "images.txt"
    listing.write_text("".join(f"{p}\n" for p in images))
    pairs = lh._collection.plan_pairs(lh._collection.read_images(listing), "exhaustive")
    sampled = pairs[::sample]
    with open(work / "pairs.csv", "w", newline="") as f:
        writer = csv.writer(f)
        writer.writerow(["name", "image1", "image2"])
        for p in sampled:
            writer.writerow([p.name, p.image1, p.image2])
    print(f"{len(images)} images, {len(pairs)} pairs, today's batch on {len(sampled)} of them", flush=True)

    cluster = LocalCluster(n_workers=2, threads_per_worker=1, processes=True, host="127.0.0.1",
                           dashboard_address="127.0.0.1:0")
    client = Client(cluster)
    print(f"load before: {os.getloadavg()}", flush=True)
    started = time.perf_counter()
    table = lh.match_pairs(work / "pairs.csv", work / "batch", client=client, progress=False, picture=False)
    batch = time.perf_counter() - started
    assert (table["status"] == "ok").all()
    print(f"today's batch: {batch:.1f} s, {len(sampled) / batch:.3f} pairs/s", flush=True)
    started = time.perf_counter()
    table = lh.match_pairs(work / "pairs.csv", work / "same", images=listing, client=client, progress=False,
                           picture=False)
    same_pairs = time.perf_counter() - started
    assert (table["status"] == "ok").all()
    print(f"collection on the same {len(sampled)} pairs (features of the {len(images)} images included): "
          f"{same_pairs:.1f} s, {len(sampled) / same_pairs:.3f} pairs/s: {batch / same_pairs:.1f}x", flush=True)
    started = time.perf_counter()
    table = lh.match_pairs("exhaustive", work / "collection", images=listing, client=client, progress=False,
                           picture=False)
    collection = time.perf_counter() - started
    assert (table["status"] == "ok").all()
    rate = len(pairs) / collection
    print(f"collection, all {len(pairs)} pairs: {collection:.1f} s, {rate:.3f} pairs/s: "
          f"{rate / (len(sampled) / batch):.1f}x today's batch's pairs/s (target >= 4x)", flush=True)
    print(f"load after: {os.getloadavg()}", flush=True)
    memory = client.run(peak_memory)
    print("worker peak resident memory: " + ", ".join(f"{v / 2**20:.0f} MiB" for v in memory.values()), flush=True)

    same = no_overlap = 0
    differ = []
    for p in sampled:
        mine, theirs = work / "collection" / p.name, work / "batch" / p.name
        status = json.loads((mine / "report.json").read_text())["status"]
        if status == "no_overlap":
            no_overlap += 1
            if (theirs / "matches.txt").read_text() == "":
                same += 1
            else:
                differ.append(p.name)
            continue
        if all((mine / n).read_bytes() == (theirs / n).read_bytes() for n in ("matches.txt", "confidence.txt")):
            same += 1
        else:
            differ.append(p.name)
    print(f"pairs equal to the single-pair command's: {same} of {len(sampled)} ({no_overlap} answered no_overlap)"
          + (f"; differ: {', '.join(differ)}" if differ else ""), flush=True)

    # A pair of two scenes from the cached features, here.
    graf, wall = data / "graf" / "img1.png", data / "wall" / "img1.png"
    key = lh._collection.settings_hash(dict(lh._batch.MATCHER_DEFAULTS, threads=1))
    files = [str(lh._collection.feature_file(str(work / "collection"), lh._batch._checksum(p), key))
             for p in (graf, wall)]
    times = []
    for _ in range(5):
        folder = work / "single"
        shutil.rmtree(folder, ignore_errors=True)
        folder.mkdir()
        started = time.perf_counter()
        found = lh._core._match_cached_to_folder(graf, wall, folder, dict(lh._batch.MATCHER_DEFAULTS, threads=1),
                                                 files[0], files[1], homography_file=None, picture=False,
                                                 overlap_check=True)
        times.append(time.perf_counter() - started)
    print(f"graf img1 vs wall img1 from cached features: {statistics.median(times):.3f} s (median of 5, status "
          f"{found['status']}; target <= 0.2 s)", flush=True)
    client.close()
    cluster.close()

    # Killed at about half way, then rerun.
    out = work / "killed"
    cli = [sys.executable, "-m", "lineharvest._batch_cli", "--images", str(listing), "--workers", "2", "--quiet",
           "--no-picture", str(out)]
    run = subprocess.Popen(cli, start_new_session=True)
    while len(list(out.glob("*/pair.json"))) < len(pairs) // 2 and run.poll() is None:
        time.sleep(0.2)
    os.killpg(run.pid, signal.SIGKILL)
    run.wait()
    before = stamps(out)
    cached = {p.name: p.stat().st_mtime_ns for p in (out / ".features").glob("*.bin")}
    subprocess.run(cli, check=True)
    after = stamps(out)
    redone = sum(1 for name, stamp in after.items() if before.get(name) != stamp)
    recomputed = sum(1 for p in (out / ".features").glob("*.bin") if cached.get(p.name) != p.stat().st_mtime_ns)
    print(f"killed with {len(before)} of {len(pairs)} pairs and {len(cached)} features files done; the rerun "
          f"matched {redone} pairs (expected {len(pairs) - len(before)}) and wrote {recomputed} features files "
          f"(the ones missing, or completed by a pair)", flush=True)


if __name__ == "__main__":
    main()
