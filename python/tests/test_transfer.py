"""The transfer from Python: thread counts, process pools and Python threads
all give the single-threaded result."""

import concurrent.futures
import threading

import numpy as np

import lineharvest as lh
from conftest import load_graf, random_scene, run_scene, scene_grid


def test_thread_counts_give_identical_results(graf):
    grid = lh.GridIndex.load(graf["grid_path"], 10, 0, 640, 0, 800)
    args = (graf["segments1"], graf["segments2"], graf["pair_records"], graf["pair_index"], grid)
    one = lh.add_candidates(*args)
    for threads in (2, 3, 7, 64):
        assert np.array_equal(lh.add_candidates(*args, threads=threads), one), threads
    for seed in range(20):
        scene = random_scene(seed)
        grid = scene_grid(scene)
        assert np.array_equal(run_scene(scene, grid, threads=7), run_scene(scene, grid)), seed


def solve_scene(seed):
    scene = random_scene(seed)
    return run_scene(scene, scene_grid(scene))


def test_process_pool_gives_the_loop_results():
    seeds = list(range(1, 13))
    loop = [solve_scene(seed) for seed in seeds]
    with concurrent.futures.ProcessPoolExecutor(max_workers=2) as pool:
        pooled = list(pool.map(solve_scene, seeds))
    assert all(np.array_equal(a, b) for a, b in zip(loop, pooled))
    assert sum(len(found) for found in loop) > 0


def solve_with_pickled_grid(args):
    # The grid index itself travels to the worker.
    segments1, segments2, records, table, grid = args
    return lh.add_candidates(segments1, segments2, records, table, grid)


def test_grid_index_travels_to_worker_processes():
    graf = load_graf()
    grid = lh.GridIndex.load(graf["grid_path"], 10, 0, 640, 0, 800)
    args = (graf["segments1"], graf["segments2"], graf["pair_records"], graf["pair_index"], grid)
    with concurrent.futures.ProcessPoolExecutor(max_workers=2) as pool:
        pooled = list(pool.map(solve_with_pickled_grid, [args, args]))
    expected = solve_with_pickled_grid(args)
    assert all(np.array_equal(p, expected) for p in pooled)


def test_python_threads_calling_at_once(graf):
    grid = lh.GridIndex.load(graf["grid_path"], 10, 0, 640, 0, 800)
    args = (graf["segments1"], graf["segments2"], graf["pair_records"], graf["pair_index"], grid)
    expected = lh.add_candidates(*args)
    results = [None] * 4

    def work(k):
        results[k] = lh.add_candidates(*args)

    threads = [threading.Thread(target=work, args=(k,)) for k in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert all(np.array_equal(r, expected) for r in results)


def test_result_is_in_file_order(graf):
    grid = lh.GridIndex.load(graf["grid_path"], 10, 0, 640, 0, 800)
    found = lh.add_candidates(graf["segments1"], graf["segments2"], graf["pair_records"], graf["pair_index"], grid)
    # Increasing i; for one i, records in the order of its pair index row.
    assert np.all(np.diff(found[:, 0]) >= 0)
    for i in np.unique(found[:, 0])[:50]:
        rows = found[found[:, 0] == i]
        order = list(graf["pair_index"][i].astype(int))
        positions = [order.index(r) for r in rows[:, 2]]
        assert positions == sorted(positions)
    # A pair named by a pair record is never added.
    named = {(int(r[a]), int(r[b])) for r in graf["pair_records"] for a, b in ((0, 2), (1, 3))}
    assert not named & {(int(i), int(w)) for i, w, _ in found}
