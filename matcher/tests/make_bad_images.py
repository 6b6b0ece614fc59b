#!/usr/bin/env python3
"""Makes the bad-image campaign of the matcher's front ends in OUTDIR and
prints its manifest, one case a line: NAME PATH EXPECTED, where EXPECTED is
"ok" (a valid, possibly empty result) or the error kind every front end
must give (imageFile, damagedImage, imageTooLarge).

    make_bad_images.py OUTDIR DATA_DIR

Standard library only; the damaged files are cut from the OpenCV sample
images in DATA_DIR. The bombs are a few hundred bytes that declare huge
sizes. A case that cannot be made here (an unreadable file when running as
root, who reads every file) is left out with a note on standard error."""

import os
import struct
import sys
import zlib
from pathlib import Path


def png(width, height, rows, colour_type=0, bit_depth=8):
    """A PNG of these rows (bytes each, filter byte included)."""

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    header = struct.pack(">IIBBBBB", width, height, bit_depth, colour_type, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(rows, 9)) +
            chunk(b"IEND", b""))


def grey_rows(width, height, value=lambda x, y: (x * 7 + y * 13) % 256):
    return b"".join(b"\0" + bytes(value(x, y) for x in range(width)) for y in range(height))


def main(out, data):
    out.mkdir(parents=True, exist_ok=True)
    cases = []

    def case(name, expected, content=None):
        path = out / name
        if content is not None:
            path.write_bytes(content)
        cases.append((name, str(path), expected))

    graf = (data / "graf1.png").read_bytes()
    building = (data / "building.jpg").read_bytes()
    case("truncated.png", "damagedImage", graf[: len(graf) // 2])
    corrupt = bytearray(graf)
    corrupt[len(graf) // 2: len(graf) // 2 + 64] = bytes(64)
    case("corrupt.png", "damagedImage", bytes(corrupt))
    case("truncated.jpg", "damagedImage", building[:39859])
    corrupt = bytearray(building)
    corrupt[len(building) // 2: len(building) // 2 + 200] = bytes(range(200))
    case("corrupt.jpg", "damagedImage", bytes(corrupt))
    case("empty.png", "imageFile", b"")
    case("text.png", "imageFile", b"not an image\n")
    case("one.png", "ok", png(1, 1, b"\0\x80"))
    case("three.png", "ok", png(3, 3, grey_rows(3, 3)))
    case("blank.png", "ok", png(64, 48, grey_rows(64, 48, lambda x, y: 128)))
    # 16-bit grey: two bytes a pixel.
    case("deep.png", "ok", png(64, 48, b"".join(
        b"\0" + b"".join(struct.pack(">H", (x * 1000 + y * 300) % 65536) for x in range(64)) for y in range(48)),
        bit_depth=16))
    case("rgba.png", "ok", png(64, 48, b"".join(
        b"\0" + b"".join(bytes((x * 4 % 256, y * 5 % 256, 90, 255 - x)) for x in range(64)) for y in range(48)),
        colour_type=6))
    grey_jpeg = data / "left01.jpg"
    if grey_jpeg.is_file():
        case("grey.jpg", "ok", grey_jpeg.read_bytes())
    case("strip.png", "ok", png(20000, 10, grey_rows(20000, 10, lambda x, y: 255 * ((x // 50) % 2))))
    # Bombs: a valid header, a few bytes of data.
    case("bomb.png", "imageTooLarge", png(32000, 32000, b"\0" * 1000))
    case("huge.png", "imageTooLarge", png(60000, 60000, b"\0" * 1000))
    sof = b"\xff\xc0" + struct.pack(">HBHHB", 11, 8, 60000, 60000, 1) + b"\x01\x11\x00"
    case("huge.jpg", "imageTooLarge", b"\xff\xd8" + sof + b"\xff\xd9")
    # Headers that once went unread, so that the whole file was decoded
    # before its size was known.
    comments = b"\xff\xfe\x00\x04hi" * 10001
    case("comments.jpg", "imageTooLarge", b"\xff\xd8" + comments + sof + b"\xff\xd9")
    dib36 = b"BM" + struct.pack("<IHHII", 50, 0, 0, 50, 36) + struct.pack("<ii", 60000, 60000) + bytes(28)
    case("dib36.bmp", "imageTooLarge", dib36)
    big = b"II+\x00" + struct.pack("<HHQ", 8, 0, 16) + struct.pack("<Q", 2)
    big += struct.pack("<HHQQ", 256, 16, 1, 60000) + struct.pack("<HHQQ", 257, 16, 1, 60000) + bytes(8)
    case("bigtiff.tif", "imageTooLarge", big)
    # Samples that are not 8- or 16-bit integers: refused, not matched as black.
    case("float.exr", "imageFile", b"\x76\x2f\x31\x01\x02\x00\x00\x00" + bytes(64))
    case("float.pfm", "imageFile", b"Pf\n4 3\n-1.0\n" + struct.pack("<12f", *([0.5] * 12)))
    (out / "folder.png").mkdir(exist_ok=True)
    case("directory", "imageFile")
    cases[-1] = ("directory", str(out / "folder.png"), "imageFile")
    fifo = out / "fifo.png"
    if not fifo.exists():
        os.mkfifo(fifo)
    case("fifo.png", "imageFile")
    cases.append(("/dev/zero", "/dev/zero", "imageFile"))
    if os.geteuid() != 0:
        locked = out / "unreadable.png"
        locked.write_bytes(png(3, 3, grey_rows(3, 3)))
        locked.chmod(0)
        cases.append(("unreadable.png", str(locked), "imageFile"))
    else:
        print("make_bad_images: running as root, who reads every file: no unreadable-file case", file=sys.stderr)
    for name, path, expected in cases:
        print(name, path, expected)


if __name__ == "__main__":
    main(Path(sys.argv[1]), Path(sys.argv[2]))
