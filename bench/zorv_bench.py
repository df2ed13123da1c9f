#!/usr/bin/python3
"""zorv against the tools a user would otherwise reach for, side by side in
one run: each case runs its commands interleaved, round after round, and
compares medians. Everything is written under /dev/shm, so the disk's noise
stays out.

  bench/zorv_bench.py [--build build/native] [--rounds 7] [--only extract|convert|memory|build|pack]

Each line gives the median wall-clock and CPU time and their ratio to the
last contender (the baseline). Cases:
  extracting 200 entries of 1 MiB       zorv extract   vs  tar -xf of the same files
  extracting 65,535 tiny entries        zorv extract   vs  tar -xf (and zorv without
                                        the temporary name and rename, to price it)
  pictures to PNG                       zorv convert   vs  ImageMagick's convert of the
                                        same plain bitmap (time and PNG size): the generated
                                        2048x2048 pictures, and the photographs and screen
                                        content of bench/png_corpus.py, packed by zorv pack
  peak memory extracting the largest fixture (/usr/bin/time -v)
  building from 65,535 tiny files       zorv build     vs  tar -cf of the same files (a new
                                        archive, and the rebuild of an extraction, whose
                                        files are hashed against its manifest)
  packing the 2048x2048 pictures        zorv pack      vs  zorv pack --fast (time and size)
"""

import argparse
import os
import shutil
import statistics
import subprocess
import sys
import time


def run(command, cwd):
    subprocess.run(command, cwd=cwd, check=True, stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)


def timed(command, cwd, fresh=None):
    """Wall-clock and CPU (user + system) seconds of one run; `fresh` is an
    output folder emptied before it. On a shared machine the CPU time is
    the steadier figure: the wall clock also counts waiting for a core."""
    if fresh:
        shutil.rmtree(os.path.join(cwd, fresh), ignore_errors=True)
        os.makedirs(os.path.join(cwd, fresh))
    started = time.perf_counter()
    process = subprocess.Popen(command, cwd=cwd, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL)
    _, status, usage = os.wait4(process.pid, 0)
    wall = time.perf_counter() - started
    if status != 0:
        raise RuntimeError("%s failed" % command)
    return wall, usage.ru_utime + usage.ru_stime


def compare(title, contenders, cwd, rounds):
    """Runs the contenders interleaved; prints medians and ratios to the last.
    Returns the median wall-clock seconds by contender."""
    wall = {name: [] for name, _, _ in contenders}
    cpu = {name: [] for name, _, _ in contenders}
    for _ in range(rounds):
        for name, command, fresh in contenders:
            w, c = timed(command, cwd, fresh)
            wall[name].append(w)
            cpu[name].append(c)
    base = contenders[-1][0]
    baseWall, baseCpu = statistics.median(wall[base]), statistics.median(cpu[base])
    print(title)
    for name, _, _ in contenders:
        w, c = statistics.median(wall[name]), statistics.median(cpu[name])
        print("  %-34s wall %8.1f ms (%.2fx)   cpu %8.1f ms (%.2fx)" % (name, w * 1000, w / baseWall, c * 1000, c / baseCpu))
    return {name: statistics.median(t) for name, t in wall.items()}


def peak_memory_kib(command, cwd):
    done = subprocess.run(["/usr/bin/time", "-v"] + command, cwd=cwd, check=True,
                          stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    for line in done.stderr.splitlines():
        if "Maximum resident set size" in line:
            return int(line.split()[-1])
    return -1


# Writes 65,535 files of 16 bytes into a folder, each under a temporary
# name renamed into place or straight under its name. (zorv's rename also
# refuses a taken name, in the same one call.)
WRITE_TINY_FILES = """
import os, sys
folder, way = sys.argv[1], sys.argv[2]
for i in range(65535):
    name = os.path.join(folder, "%05d.bin" % i)
    temporary = os.path.join(folder, ".zorv-%d.tmp" % i) if way == "rename" else name
    fd = os.open(temporary, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o644)
    os.write(fd, b"0123456789abcdef")
    os.close(fd)
    if way == "rename":
        os.rename(temporary, name)
"""


def extract_cases(zorv, work, rounds):
    compare("extracting 200 entries of 1 MiB", [
        ("zorv extract", [zorv, "extract", "-q", "-o", "out", "large.dat"], "out"),
        ("tar -xf", ["tar", "-xf", "large.tar", "-C", "out"], "out"),
    ], work, rounds)
    tiny = compare("extracting 65,535 tiny entries", [
        ("zorv extract", [zorv, "extract", "-q", "-o", "out", "tiny.dat"], "out"),
        ("tar -xf", ["tar", "-xf", "tiny.tar", "-C", "out"], "out"),
    ], work, rounds)
    # What the temporary name and the rename cost, priced apart from zorv:
    # the same tiny files written both ways by one small program.
    ways = compare("writing 65,535 tiny files, with and without a temporary name renamed into place", [
        ("temporary + rename", [sys.executable, "-c", WRITE_TINY_FILES, "out", "rename"], "out"),
        ("straight under the name", [sys.executable, "-c", WRITE_TINY_FILES, "out", "direct"], "out"),
    ], work, rounds)
    rename = ways["temporary + rename"] - ways["straight under the name"]
    print("  the temporary name and rename: %.2f us per file, about %.0f%% of zorv extract's %.1f ms"
          % (rename / 65535 * 1e6, 100 * rename / tiny["zorv extract"], tiny["zorv extract"] * 1000))


def convert_one(zorv, work, rounds, title, packed, plain):
    stem = os.path.splitext(os.path.basename(plain))[0]
    ours, theirs = stem + "-zorv.png", stem + "-im.png"
    command = [zorv, "convert", "-q", "--overwrite", packed, "-o", ours]
    try:
        run(command, work)
    except subprocess.CalledProcessError as error:
        print("%s: zorv cannot convert it: %s" % (title, error.stderr.decode().strip()))
        return None
    times = compare(title, [
        ("zorv convert (packed)", command, None),
        ("ImageMagick convert (plain)", ["convert", plain, theirs], None),
    ], work, rounds)
    size = lambda file: os.path.getsize(os.path.join(work, file))
    print("  PNG size: zorv %d bytes, ImageMagick %d bytes (%.3f)" % (size(ours), size(theirs), size(ours) / size(theirs)))
    return (stem, times["zorv convert (packed)"], size(ours), times["ImageMagick convert (plain)"], size(theirs))


def convert_cases(zorv, work, rounds):
    rows = []
    for name in ("truecolor", "palette"):
        rows.append(convert_one(zorv, work, rounds, "%s picture (2048x2048) to PNG" % name,
                                name.upper() + ".BMP", name + "-plain.bmp"))
    corpus = os.path.join(work, "corpus")
    listing = subprocess.run([os.path.join(os.path.dirname(os.path.abspath(__file__)), "png_corpus.py"), corpus],
                             check=True, stdout=subprocess.PIPE, text=True).stdout.split()
    for plain in listing:
        packed = os.path.splitext(plain)[0] + ".packed"
        run([zorv, "pack", "-q", "--overwrite", "--fast", plain, "-o", packed], work)
        rows.append(convert_one(zorv, work, rounds, "%s to PNG" % os.path.basename(plain), packed, plain))
    print("\n| Picture | zorv time | zorv PNG bytes | ImageMagick time | ImageMagick PNG bytes | time ratio | size ratio |")
    print("|---|---:|---:|---:|---:|---:|---:|")
    for stem, ours, ourSize, theirs, theirSize in filter(None, rows):
        print("| %s | %.0f ms | %d | %.0f ms | %d | %.2f | %.3f |" % (
            stem, ours * 1000, ourSize, theirs * 1000, theirSize, ours / theirs, ourSize / theirSize))


def build_cases(zorv, work, rounds):
    run([zorv, "extract", "-q", "-o", "extracted", "tiny.dat"], work)
    compare("building an archive of 65,535 tiny files", [
        ("zorv build (a new archive)", [zorv, "build", "-q", "tiny-files", "-o", "bout/new.dat"], "bout"),
        ("zorv build (a rebuild, checked)", [zorv, "build", "-q", "extracted", "-o", "bout/re.dat"], "bout"),
        ("tar -cf", ["tar", "-cf", "bout/tiny.tar", "-C", "tiny-files", "."], "bout"),
    ], work, rounds)
    run([zorv, "build", "-q", "extracted", "-o", "re.dat"], work)
    with open(os.path.join(work, "re.dat"), "rb") as a, open(os.path.join(work, "tiny.dat"), "rb") as b:
        print("  the rebuild is the original archive byte for byte: %s" % (a.read() == b.read()))


def pack_cases(zorv, work, rounds):
    for name in ("truecolor", "palette", "noise"):
        plain = name + "-plain.bmp"
        compare("packing the %s picture (2048x2048)" % name, [
            ("zorv pack (optimal)", [zorv, "pack", "-q", "--overwrite", plain, "-o", name + "-optimal.bmp"], None),
            ("zorv pack --fast (greedy)",
             [zorv, "pack", "-q", "--overwrite", "--fast", plain, "-o", name + "-fast.bmp"], None),
        ], work, rounds)
        size = lambda file: os.path.getsize(os.path.join(work, file))
        print("  size: plain %d bytes, optimal %d bytes (%.3f), --fast %d bytes (%.3f)" % (
            size(plain), size(name + "-optimal.bmp"), size(name + "-optimal.bmp") / size(plain),
            size(name + "-fast.bmp"), size(name + "-fast.bmp") / size(plain)))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default="build/native")
    parser.add_argument("--rounds", type=int, default=7)
    parser.add_argument("--only", choices=["extract", "convert", "memory", "build", "pack"])
    parser.add_argument("--keep", action="store_true", help="keep the work folder under /dev/shm")
    options = parser.parse_args()
    zorv = os.path.abspath(os.path.join(options.build, "cli", "zorv"))
    fixtures = os.path.abspath(os.path.join(options.build, "tests", "zorv_cli_fixtures"))
    work = "/dev/shm/zorv-bench-%d" % os.getpid()
    os.makedirs(work)
    wanted = lambda case: options.only in (None, case)
    try:
        if wanted("extract") or wanted("memory"):
            run([fixtures, "large", ".", "200", "1024"], work)
            run(["tar", "-cf", "large.tar", "-C", "large-files", "."], work)
        if wanted("extract") or wanted("build"):
            run([fixtures, "tiny", "."], work)
        if wanted("extract"):
            run(["tar", "-cf", "tiny.tar", "-C", "tiny-files", "."], work)
            extract_cases(zorv, work, options.rounds)
        if wanted("build"):
            build_cases(zorv, work, options.rounds)
        if wanted("convert") or wanted("pack"):
            run([fixtures, "pictures", "."], work)
        if wanted("convert"):
            convert_cases(zorv, work, options.rounds)
        if wanted("pack"):
            pack_cases(zorv, work, options.rounds)
        if wanted("memory"):
            shutil.rmtree(os.path.join(work, "out"), ignore_errors=True)
            kib = peak_memory_kib([zorv, "extract", "-q", "-o", "out", "large.dat"], work)
            print("peak memory extracting large.dat (200 entries of 1 MiB): %d KiB" % kib)
    finally:
        if options.keep:
            print("work folder: " + work)
        else:
            shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
