#!/usr/bin/python3
"""Compares every pixel of our PNGs with an independent reader.

For each picture in FIXTURES/plain (a plain bitmap file; FIXTURES/packed holds
the same picture packed), runs the converter, then compares each pixel of its
PNG with what Pillow reads from the plain file, or ImageMagick for the kinds
where Pillow's reading differs from a Windows viewer's (it scales 5- and
6-bit fields differently, reads few bit-field layouts, and mis-steps on RLE
deltas). Where a viewer's rules go beyond both readers (indices past the
colour table, bits that end early) the reader gives the indices or colours
and this script applies the rule.

  check_pixels.py --fixtures 'pixel_driver fixtures {dir}' \\
                  --convert 'pixel_driver convert {in} {out}'
  check_pixels.py --fixtures '...' --packed --convert 'zorv convert {in} -o {out}'

The converter must answer 0 for a complete picture, and 1 with a message on
stderr for one whose bits end early (still written) or that cannot be
drawn at all (refused-* pictures: nothing written).
"""
import argparse
import io
import os
import shlex
import struct
import subprocess
import sys
import tempfile

from PIL import Image

BLACK = (0, 0, 0)


class Bmp:
    """The fields of a plain bitmap file a viewer uses, split as GetPicture splits it."""

    def __init__(self, data):
        self.data = data
        width, height, _, self.bit_count, self.compression = struct.unpack_from("<iiHHI", data, 18)
        colours_used = struct.unpack_from("<I", data, 46)[0]
        self.width, self.height, self.top_down = width, abs(height), height < 0
        if self.bit_count in (1, 4, 8):
            entries = colours_used or 1 << self.bit_count
            quads = data[54:54 + 4 * min(entries, 1 << self.bit_count)]
            self.table = [(quads[i + 2], quads[i + 1], quads[i]) for i in range(0, len(quads), 4)]
            info_size = 40 + 4 * entries
        else:
            self.table = []
            info_size = 52 if self.compression == 3 else 40
        self.bits_at = 14 + info_size
        self.bits = data[self.bits_at:]
        self.stride = (width * self.bit_count + 31) // 32 * 4
        self.rle = self.compression in (1, 2)

    def missing(self):
        """Pixels (top row first) whose bytes are not all in the bits."""
        if self.rle:
            return set()
        gone = set()
        for stored in range(self.height):
            row = stored if self.top_down else self.height - 1 - stored
            for x in range(self.width):
                end = stored * self.stride + ((x + 1) * self.bit_count + 7) // 8
                if end > len(self.bits):
                    gone.add(row * self.width + x)
        return gone

    def padded(self):
        """The file with its bits made whole with zero bytes, for the readers."""
        short = 0 if self.rle else max(0, self.stride * self.height - len(self.bits))
        whole = bytearray(self.data + bytes(short))
        struct.pack_into("<I", whole, 2, len(whole))
        return bytes(whole)


def read_with_imagemagick(path):
    out = subprocess.run(["convert", path, "-depth", "8", "rgb:-"], capture_output=True, check=True).stdout
    return [tuple(out[i:i + 3]) for i in range(0, len(out), 3)]


def expected_pixels(bmp, scratch):
    """What a viewer draws, top row first, as RGB tuples."""
    padded = os.path.join(scratch, "padded.bmp")
    with open(padded, "wb") as f:
        f.write(bmp.padded())
    if bmp.rle or bmp.bit_count == 16 or bmp.compression == 3:
        # RLE fixtures keep entry 0 black, so ImageMagick's fill of skipped
        # pixels with entry 0 agrees with a viewer's black.
        pixels = read_with_imagemagick(padded)
    elif bmp.table:
        image = Image.open(padded)
        assert image.mode == "P", f"Pillow read the fixture as {image.mode}"
        pixels = [bmp.table[i] if i < len(bmp.table) else BLACK for i in image.getdata()]
    else:
        pixels = list(Image.open(padded).convert("RGB").getdata())
    for i in bmp.missing():
        pixels[i] = BLACK
    return pixels


def expected_form(bmp):
    """PNG colour type and bit depth: palette pictures stay indexed at their
    depth, unless pixels must be black and a full table has no black."""
    if not bmp.table:
        return (2, 8)
    full = len(bmp.table) == 1 << bmp.bit_count
    if bmp.missing() and full and BLACK not in bmp.table:
        return {1: (3, 2), 4: (3, 8), 8: (2, 8)}[bmp.bit_count]
    return (3, bmp.bit_count)


def check_one(name, plain, source, convert, scratch, refused_exit):
    out = os.path.join(scratch, name + ".png")
    command = [part.replace("{in}", source).replace("{out}", out) for part in convert]
    run = subprocess.run(command, capture_output=True)
    with open(plain, "rb") as f:
        bmp = Bmp(f.read())
    if name.startswith("refused-"):
        if run.returncode != refused_exit or not run.stderr.strip() or os.path.exists(out):
            return [f"exit {run.returncode} (wanted {refused_exit}, a message, nothing written)"]
        return []
    want_exit = 1 if bmp.missing() else 0
    problems = []
    if run.returncode != want_exit:
        return [f"exit {run.returncode} (wanted {want_exit}): {run.stderr.decode(errors='replace').strip()}"]
    if want_exit and not run.stderr.strip():
        problems.append("no warning on stderr")
    with open(out, "rb") as f:
        png = f.read()
    form = (png[25], png[24])
    if form != expected_form(bmp):
        problems.append(f"PNG colour type/bit depth {form}, wanted {expected_form(bmp)}")
    image = Image.open(io.BytesIO(png))
    if image.size != (bmp.width, bmp.height):
        return problems + [f"size {image.size}, wanted {(bmp.width, bmp.height)}"]
    got = list(image.convert("RGB").getdata())
    want = expected_pixels(bmp, scratch)
    wrong = [i for i in range(len(want)) if got[i] != want[i]]
    for i in wrong[:5]:
        problems.append(f"pixel ({i % bmp.width}, {i // bmp.width}): {got[i]}, wanted {want[i]}")
    if len(wrong) > 5:
        problems.append(f"... {len(wrong)} pixels differ")
    return problems


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--fixtures", required=True, help="command writing the fixtures into {dir}")
    parser.add_argument("--convert", required=True, help="command converting {in} into the PNG {out}")
    parser.add_argument("--packed", action="store_true", help="give the converter the packed pictures")
    parser.add_argument("--refused-exit", type=int, default=1,
                        help="the converter's exit code for a picture it refuses (zorv: 2, nothing was done)")
    args = parser.parse_args()

    with tempfile.TemporaryDirectory(prefix="zorv-pixels-") as scratch:
        fixtures = os.path.join(scratch, "fixtures")
        subprocess.run([p.replace("{dir}", fixtures) for p in shlex.split(args.fixtures)], check=True)
        convert = shlex.split(args.convert)
        names = sorted(n[:-4] for n in os.listdir(os.path.join(fixtures, "plain")) if n.endswith(".bmp"))
        failed = 0
        for name in names:
            plain = os.path.join(fixtures, "plain", name + ".bmp")
            source = os.path.join(fixtures, "packed" if args.packed else "plain", name + ".bmp")
            problems = check_one(name, plain, source, convert, scratch, args.refused_exit)
            print(f"{'FAIL' if problems else 'ok  '} {name}")
            for p in problems:
                print(f"     {p}")
            failed += bool(problems)
        print(f"{len(names) - failed} of {len(names)} pictures match")
        return 1 if failed or not names else 0


if __name__ == "__main__":
    sys.exit(main())
