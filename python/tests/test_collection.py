"""match_pairs over an image collection (images=...): every pair matched
from the images' cached features gives the linematch command's files, a
damaged features file is computed again, and the store loads back."""

import subprocess

import pytest

import lineharvest as lh
from test_batch import WARP, without_timings
from test_match_images import COMMAND, DATA, require

SOURCES = [("box.png", 1), ("box.png", 2), ("blox.jpg", 1)]


def assert_command_files_of(out, command, names):
    for name in names:
        for part in ("matches.txt", "confidence.txt", "segments1.txt", "segments2.txt", "matches.png"):
            assert (out / name / part).read_bytes() == (command / name / part).read_bytes(), f"{name}/{part}"
        assert without_timings(out / name / "report.json") == without_timings(command / name / "report.json"), name
    assert not (out / ".partial").exists()


@pytest.fixture(scope="module")
def collection(tmp_path_factory):
    require(lh.HAS_MATCHER, "lineharvest.match_pairs (the extension without the line matcher)")
    require(WARP.is_file() and COMMAND.is_file(), f"warp_image and linematch ({WARP.parent})")
    require(all((DATA / name).is_file() for name, _ in SOURCES), f"the opencv-doc photographs in {DATA}")
    pytest.importorskip("distributed")
    pytest.importorskip("h5py")
    folder = tmp_path_factory.mktemp("collection")
    images = folder / "images"
    images.mkdir()
    (images / "a0.png").write_bytes((DATA / "box.png").read_bytes())
    for k, (name, seed) in enumerate(SOURCES, 1):
        subprocess.run([str(WARP), str(DATA / name), str(images / f"a{k}.png"), str(folder / f"h{k}.txt"),
                        "--seed", str(seed)], check=True)
    names = sorted(p.name for p in images.iterdir())
    # What the command writes for each pair of the exhaustive plan.
    for i, a in enumerate(names):
        for b in names[i + 1:]:
            name = f"{a[:-4]}__{b[:-4]}"
            subprocess.run([str(COMMAND), str(images / a), str(images / b), str(folder / "command" / name),
                            "--quiet"], check=True, timeout=120)
    return folder


def test_a_collection_gives_the_command_files_and_recomputes_a_damaged_entry(collection, tmp_path):
    out = tmp_path / "out"
    table = lh.match_pairs("exhaustive", out, images=collection / "images", overlap_check=False, workers=2,
                           progress=False)
    assert list(table["status"]) == ["ok"] * 6
    names = list(table["name"])
    assert_command_files_of(out, collection / "command", names)
    features = sorted((out / ".features").iterdir())
    assert len(features) == 4

    # One features file damaged and one pair to be matched again: the file
    # is refused, computed again, and the pair is the command's still.
    damaged = bytearray(features[0].read_bytes())
    damaged[len(damaged) // 2] ^= 0xFF
    features[0].write_bytes(bytes(damaged))
    for name in names:
        for part in (out / name).iterdir():
            part.unlink()
        (out / name).rmdir()
    lh.match_pairs("exhaustive", out, images=collection / "images", overlap_check=False, workers=2, progress=False)
    assert_command_files_of(out, collection / "command", names)
    lh._core._feature_arrays(features[0])  # sound again

    store = lh.load_collection(out)
    assert sorted(store["images"]) == ["a0", "a1", "a2", "a3"]
    for name in names:
        pair = store["pairs"][name]
        matches = (out / name / "matches.txt").read_text().split()
        assert pair["matches"].shape == (len(matches) // 2, 2)
        assert pair["matches"].ravel().tolist() == [int(v) for v in matches]
        assert len(pair["confidence"]) == len(pair["matches"])
        segments = store["images"][pair["image1"]]["segments"]
        assert segments.shape == (len((out / name / "segments1.txt").read_text().splitlines()), 4)

    # A .features that links out of OUTDIR is refused before any image is
    # read: the features files there, leftovers of a dead run included, stay.
    linked, outside = tmp_path / "linked", tmp_path / "outside"
    outside.mkdir()
    leftover = outside / f"x.bin.tmp-{lh._collection.socket.gethostname()}-999999999-1"
    leftover.write_text("mine\n")
    linked.mkdir()
    (linked / ".features").symlink_to(outside)
    with pytest.raises(lh.FileError, match="symbolic link"):
        lh.match_pairs("exhaustive", linked, images=collection / "images", workers=1, progress=False)
    assert [p.name for p in outside.iterdir()] == [leftover.name] and leftover.read_text() == "mine\n"
