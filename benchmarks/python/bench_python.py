"""Benchmarks of the Python package (not tests; medians, ratios):

1. call overhead: lineharvest.add_candidates from Python against
   lineharvest::addCandidates called directly from C++ on the same scene
   (target: the Python call within 5 % of the C++ call);
2. no copy of C-contiguous float64 segment arrays: 10^6 segments passed
   as they are and in an order that forces a copy;
3. the GIL is released: two Python threads calling at once against one
   after the other.

Run from the repository root after the CMake build and with the package
importable (e.g. in build/python-venv after scripts/test_python.sh):

    build/python-venv/bin/python benchmarks/python/bench_python.py [--scene graf-like|large] [--runs 7]
"""

import argparse
import statistics
import subprocess
import sys
import tempfile
import threading
import time
from pathlib import Path

import numpy as np

import lineharvest as lh

HERE = Path(__file__).resolve().parent
REPO = HERE.parents[1]
sys.path.insert(0, str(HERE))
from scenes import make_scene  # noqa: E402


def median_seconds(function, runs):
    times = []
    for _ in range(runs):
        start = time.perf_counter()
        function()
        times.append(time.perf_counter() - start)
    return statistics.median(times)


def build_core_call(build_dir, out):
    subprocess.run(["cmake", "--build", str(build_dir), "--target", "lineharvest_core"], check=True,
                   stdout=subprocess.DEVNULL)
    subprocess.run(
        ["g++", "-std=c++17", "-O3", "-ffp-contract=off", "-pthread", f"-I{REPO / 'include'}",
         str(HERE / "core_call.cpp"), str(build_dir / "lineharvest" / "liblineharvest_core.a"),
         "-lopencv_core", "-o", str(out)],
        check=True,
    )


def write_scene(scene, folder):
    y0, y1, x0, x1 = scene["window"]
    params = [len(scene["segments1"]), len(scene["segments2"]), len(scene["pair_records"]),
              scene["pair_index"].shape[1], scene["cell_size"], y0, y1, x0, x1, scene["margin"]]
    np.array(params, dtype=np.float64).tofile(folder / "params.f64")
    for name in ("segments1", "segments2", "pair_records", "pair_index"):
        np.ascontiguousarray(scene[name], dtype=np.float64).tofile(folder / f"{name}.f64")


def call_overhead(scene_name, runs, build_dir, threads):
    scene = make_scene(scene_name)
    grid = lh.GridIndex.build(scene["segments2"], scene["cell_size"], *scene["window"], margin=scene["margin"])
    args = (scene["segments1"], scene["segments2"], scene["pair_records"], scene["pair_index"], grid)
    found = lh.add_candidates(*args, threads=threads)
    with tempfile.TemporaryDirectory() as tmp:
        folder = Path(tmp)
        write_scene(scene, folder)
        build_core_call(build_dir, folder / "core_call")
        # Alternate the two sides so that both see the same machine load.
        cpp, python = [], []
        for _ in range(runs):
            out = subprocess.run([str(folder / "core_call"), str(folder), "5", str(threads)],
                                 check=True, capture_output=True, text=True).stdout.split()
            cpp.append(float(out[0]))
            assert int(out[1]) == len(found), "C++ and Python found different correspondences"
            python.append(median_seconds(lambda: lh.add_candidates(*args, threads=threads), 5))
    c, p = statistics.median(cpp), statistics.median(python)
    print(f"call overhead, scene {scene_name}, {threads} thread(s), {len(found)} correspondences:")
    print(f"  C++ addCandidates   {c * 1e3:9.2f} ms (median)")
    print(f"  Python add_candidates {p * 1e3:7.2f} ms (median)")
    print(f"  ratio Python / C++  {p / c:9.3f}   (target <= 1.05)")


def no_copy(runs):
    n = 1_000_000
    rng = np.random.default_rng(3)
    segments = rng.uniform(0, 1000, size=(n, 4))
    fortran = np.asfortranarray(segments)
    grid = lh.GridIndex.from_text("", 10, 0, 1000, 0, 1000)
    none = np.zeros((0, 14))
    table = np.zeros((n, 0))
    # No pair records to try: the call is argument handling only.
    in_place = median_seconds(lambda: lh.add_candidates(segments, segments[:1], none, table, grid), runs)
    copied = median_seconds(lambda: lh.add_candidates(fortran, segments[:1], none, table, grid), runs)
    same = lh._core._argument_address(segments, 4) == segments.ctypes.data
    print(f"no copy, {n:,} segments ({segments.nbytes / 2**20:.0f} MiB):")
    print(f"  C-contiguous float64  {in_place * 1e3:8.3f} ms  (buffer passed in place: {same})")
    print(f"  Fortran order (copy)  {copied * 1e3:8.3f} ms")


def gil_release(runs):
    scene = make_scene("graf-like")
    grid = lh.GridIndex.build(scene["segments2"], scene["cell_size"], *scene["window"], margin=scene["margin"])
    args = (scene["segments1"], scene["segments2"], scene["pair_records"], scene["pair_index"], grid)

    def two_in_a_row():
        lh.add_candidates(*args)
        lh.add_candidates(*args)

    def two_at_once():
        workers = [threading.Thread(target=lh.add_candidates, args=args) for _ in range(2)]
        for w in workers:
            w.start()
        for w in workers:
            w.join()

    serial = median_seconds(two_in_a_row, runs)
    parallel = median_seconds(two_at_once, runs)

    # Independent of the machine's load: how far the main thread gets while
    # another thread is inside the core (nowhere if the GIL were held).
    done = threading.Event()

    def five_calls():
        for _ in range(5):
            lh.add_candidates(*args)
        done.set()

    worker = threading.Thread(target=five_calls)
    steps = 0
    worker.start()
    while not done.is_set():
        steps += 1
    worker.join()
    print("GIL released while the core runs (graf-like):")
    print(f"  two calls one after the other {serial * 1e3:8.2f} ms, in two Python threads at once"
          f" {parallel * 1e3:8.2f} ms, ratio {parallel / serial:.2f} (about 0.5 on two idle cores)")
    print(f"  main-thread loop steps while another thread made five calls: {steps:,} (0 if the GIL were held)")


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--scene", default="graf-like", choices=["graf-like", "large"])
    parser.add_argument("--runs", type=int, default=7)
    parser.add_argument("--threads", type=int, default=1)
    parser.add_argument("--build-dir", type=Path, default=REPO / "build")
    options = parser.parse_args()
    call_overhead(options.scene, options.runs, options.build_dir, options.threads)
    no_copy(options.runs)
    gil_release(options.runs)


if __name__ == "__main__":
    main()
