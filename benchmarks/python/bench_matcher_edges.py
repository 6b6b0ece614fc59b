#!/usr/bin/env python3
"""The matcher's edges, measured: how fast and with how little memory a
decompression bomb is refused, and how soon Ctrl-C ends a long
match_images call.

    python bench_matcher_edges.py [--runs 20] [--long-seconds 20]

Run with the package installed (build/python-venv/bin/python). Each
measure runs in a fresh subprocess, so that peak memory (ru_maxrss) is the
call's own. The long call matches a mosaic of opencv-doc photographs sized
to take about --long-seconds; SIGINT comes a quarter of the way in."""

import argparse
import json
import os
import statistics
import subprocess
import sys
import tempfile
from pathlib import Path

HERE = Path(__file__).resolve().parent
MAKE_BAD = HERE.parents[1] / "matcher" / "tests" / "make_bad_images.py"
DATA = Path(os.environ.get("LINEMATCH_DATA_DIR", "/usr/share/doc/opencv-doc/examples/data"))

BOMB = r"""
import json, resource, sys, time
import numpy as np
import lineharvest as lh
small = np.zeros((20, 20), np.uint8)
before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
times = []
for _ in range(int(sys.argv[2])):
    start = time.perf_counter()
    try:
        lh.match_images(sys.argv[1], small)
    except lh.ImageTooLargeError:
        pass
    times.append(time.perf_counter() - start)
after = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
print(json.dumps({"times": times, "extra_kb": after - before}))
"""

INTERRUPT = r"""
import json, os, signal, sys, threading, time
import numpy as np
import lineharvest as lh
tile = lh._core._read_image(sys.argv[1], False)
k = int(sys.argv[2])
big = np.tile(tile, (k, k))
delay = float(sys.argv[3])
sent = {}
def interrupt():
    sent["at"] = time.perf_counter()
    os.kill(os.getpid(), signal.SIGINT)
threading.Timer(delay, interrupt).start()
start = time.perf_counter()
try:
    lh.match_images(big, big[:, ::-1])
    print(json.dumps({"finished": time.perf_counter() - start}))
except KeyboardInterrupt:
    print(json.dumps({"latency": time.perf_counter() - sent["at"], "pixels": big.size}))
"""


def run(code, *args):
    out = subprocess.run([sys.executable, "-c", code, *map(str, args)], capture_output=True, text=True, check=True)
    return json.loads(out.stdout)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--runs", type=int, default=20)
    parser.add_argument("--long-seconds", type=float, default=20)
    options = parser.parse_args()
    with tempfile.TemporaryDirectory() as work:
        subprocess.run([sys.executable, str(MAKE_BAD), work, str(DATA)], check=True, capture_output=True)
        for name in ("bomb.png", "huge.png", "huge.jpg"):
            r = run(BOMB, Path(work) / name, options.runs)
            print(f"{name}: refused in {1000 * statistics.median(r['times']):.2f} ms (median of {options.runs}, "
                  f"first {1000 * r['times'][0]:.2f} ms), peak memory +{r['extra_kb'] / 1024:.1f} MB")
    # building.jpg (868 x 600) tiled k x k and matched with its mirror: 3 x 3
    # takes about 15 s here. Above 5 x 5 (over 30,000 segments an image)
    # OpenCV's LBD (BinaryDescriptor::computeImpl) crashes; see the README.
    k = min(4, max(1, round(3 * (options.long_seconds / 15) ** 0.5)))
    full = run(INTERRUPT, DATA / "building.jpg", k, 10 ** 6)
    r = run(INTERRUPT, DATA / "building.jpg", k, full["finished"] / 4)
    print(f"{k}x{k} mosaic of building.jpg: the whole call {full['finished']:.1f} s; SIGINT at a quarter "
          f"raised KeyboardInterrupt after {1000 * r['latency']:.0f} ms")


if __name__ == "__main__":
    main()
