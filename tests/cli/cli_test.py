#!/usr/bin/python3
"""zorv end to end, as a user meets it: a golden transcript of commands
(exit code, stdout, stderr), the files extraction writes against the bytes
the fixtures say must be delivered, a hostile archive extracted into a
scratch tree that must stay unchanged outside the output folder, extractions
killed mid-run, and missing plug-ins. The same test runs zorv natively and
zorv.exe under Wine (--wine), against the same transcript."""

import argparse
import hashlib
import json
import os
import random
import shlex
import shutil
import signal
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
GOLDEN = os.path.join(HERE, "golden", "transcript.txt")

# Commands of the transcript, run in order in the fixture folder.
TRANSCRIPT = """
zorv --help
zorv extract --help
zorv info CG24.BMP TOP24.BMP PAL8.BMP SHORT24.BMP plain.dat broken.dat notes.txt missing.bmp
zorv info --json CG24.BMP TOP24.BMP plain.dat
zorv info notes.txt
zorv list plain.dat
zorv list --jsonl broken.dat
zorv list --json plain.dat
zorv list -0 plain.dat
zorv list plain.dat broken.dat notes.txt
zorv extract -v -o t1 plain.dat
zorv extract -o t1 plain.dat *.txt
zorv extract -q --skip-existing -o t1 plain.dat
zorv extract -v --overwrite -o t1 plain.dat --kind audio
zorv extract -v -o t2 plain.dat broken.dat c* *.TXT lost* [ab]* nothing.dat
zorv extract -v --raw -o t3 plain.dat *.pw
zorv extract -v --convert -o t4 plain.dat cg*
zorv extract notes.txt missing.dat
zorv convert -v CG24.BMP SHORT24.BMP notes.txt -o t5
zorv convert -v --format bmp CG24.BMP -o t5/cg.bmp
zorv convert -v --format bmp CG24.BMP -o t5/cg.bmp
zorv convert notes.txt
zorv info 絵.BMP ゾルヴ.dat
zorv extract -v -o 出力 ゾルヴ.dat *.TXT
zorv convert -v 絵.BMP -o 出力/絵.png
zorv
zorv list --json --jsonl plain.dat
zorv extract --raw --convert plain.dat
zorv bogus plain.dat
zorv list
"""


class Zorv:
    """Runs zorv (or a helper program) natively or through Wine."""

    def __init__(self, zorv, fixtures, wine):
        self.zorv, self.fixtures, self.wine = zorv, fixtures, wine

    def command(self, program, args):
        return (["wine"] if self.wine else []) + [program] + list(args)

    def run(self, args, cwd, program=None):
        done = subprocess.run(self.command(program or self.zorv, args), cwd=cwd, stdin=subprocess.DEVNULL,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=300)
        return done.returncode, done.stdout, done.stderr

    def start(self, args, cwd):
        return subprocess.Popen(self.command(self.zorv, args), cwd=cwd, stdin=subprocess.DEVNULL,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def make_fixtures(self, cwd, *args):
        code, out, err = self.run(list(args), cwd, program=self.fixtures)
        assert code == 0, err.decode(errors="replace")


def shown(data):
    text = data.decode("utf-8", errors="backslashreplace").replace("\0", "\\0")
    return text if text.endswith("\n") or not text else text + "\\ (no newline)\n"


def transcript(zorv, work):
    lines = []
    for line in TRANSCRIPT.strip().splitlines():
        code, out, err = zorv.run(shlex.split(line)[1:], work)
        lines.append("$ %s\nexit %d\n--- stdout\n%s--- stderr\n%s" % (line, code, shown(out), shown(err)))
    return "\n".join(lines)


def check_transcript(zorv, work, update):
    text = transcript(zorv, work)
    if update:
        os.makedirs(os.path.dirname(GOLDEN), exist_ok=True)
        with open(GOLDEN, "w", encoding="utf-8") as f:
            f.write(text)
        return
    with open(GOLDEN, encoding="utf-8") as f:
        golden = f.read()
    if text != golden:
        import difflib
        diff = difflib.unified_diff(golden.splitlines(), text.splitlines(), "golden", "now", lineterm="")
        raise AssertionError("transcript differs:\n" + "\n".join(list(diff)[:80]))


def read(path):
    with open(path, "rb") as f:
        return f.read()


def listing(zorv, work, archive):
    code, out, err = zorv.run(["list", "--json", archive], work)
    assert code == 0, err
    document = json.loads(out)
    return document[0]["entries"]


def check_files_and_json(zorv, work):
    """What the transcript's extractions wrote is what the plug-in delivers,
    and every JSON output parses back."""
    entries = listing(zorv, work, "plain.dat")
    for entry in entries:
        name = bytes.fromhex(entry["name_hex"]).decode("ascii")
        assert name == entry["name"], entry
        expected = read(os.path.join(work, "expected", "plain", "%d.bin" % entry["index"]))
        assert read(os.path.join(work, "t1", entry["output"])) == expected, entry["output"]
        assert len(expected) == entry["delivered_size"], entry
    assert read(os.path.join(work, "t3", "SE01.PW")) == read(os.path.join(work, "expected", "plain", "1.raw"))
    png = read(os.path.join(work, "t4", "CG01.png"))
    assert png[:8] == b"\x89PNG\r\n\x1a\n" and png[16:24] == bytes.fromhex("0000000d00000009"), "CG01.png"
    assert read(os.path.join(work, "t5", "cg.bmp")) == read(os.path.join(work, "expected", "CG24.bmp"))
    assert not [f for f in os.listdir(os.path.join(work, "t1")) if f.startswith(".zorv")], "temporaries left"

    code, out, _ = zorv.run(["info", "--json", "CG24.BMP", "TOP24.BMP", "plain.dat"], work)
    info = json.loads(out)
    assert [d["type"] for d in info] == ["picture", "picture", "archive"] and info[1]["top_down"], info
    assert info[2]["entries"] == len(entries) and info[2]["delivered_total"] == sum(e["delivered_size"] for e in entries)
    code, out, _ = zorv.run(["list", "--jsonl", "plain.dat", "hostile.dat"], work)
    lines = [json.loads(line) for line in out.decode("utf-8").splitlines()]
    assert len(lines) == len(entries) + len(listing(zorv, work, "hostile.dat")), "jsonl lines"
    code, out, _ = zorv.run(["list", "-0", "hostile.dat"], work)
    assert out.count(b"\0") == len(listing(zorv, work, "hostile.dat")), "one NUL per name"


def snapshot(root, skip):
    """Every path under root (links not followed) with its kind and content."""
    state = {}
    for folder, dirs, files in os.walk(root):
        if os.path.abspath(folder) == os.path.abspath(skip):
            dirs[:] = []
            continue
        for name in dirs + files:
            path = os.path.join(folder, name)
            if os.path.islink(path):
                state[path] = "link:" + os.readlink(path)
            elif os.path.isfile(path):
                state[path] = hashlib.sha256(read(path)).hexdigest()
            else:
                state[path] = "folder"
    return state


def printable(name):
    """The form zorv shows a name in on stderr."""
    out = ""
    for ch in name:
        code = ord(ch)
        if code < 0x20 or code == 0x7F:
            out += "%%%02X" % code
        elif 0x80 <= code < 0xA0:
            out += "%%C2%%%02X" % code
        else:
            out += ch
    return out


def check_hostile(zorv, work):
    """Unsafe names never reach outside the output folder, links standing in
    it are neither followed nor replaced, and every entry is either written
    with its delivered bytes or named on stderr."""
    scratch = os.path.join(work, "scratch")
    out = os.path.join(scratch, "work", "out")
    os.makedirs(os.path.join(scratch, "outside", "deep"))
    os.makedirs(out)
    with open(os.path.join(scratch, "outside", "secret.txt"), "w") as f:
        f.write("keep me\n")
    os.symlink("../../outside/secret.txt", os.path.join(out, "LINK.TXT"))
    os.symlink("../../outside", os.path.join(out, "linkdir"))
    shutil.copy(os.path.join(work, "hostile.dat"), os.path.join(scratch, "work"))
    before = snapshot(scratch, out)
    links = {name: os.readlink(os.path.join(out, name)) for name in ("LINK.TXT", "linkdir")}

    entries = listing(zorv, work, "hostile.dat")
    for args in (["extract", "-o", "out", "hostile.dat"], ["extract", "--overwrite", "-o", "out", "hostile.dat"]):
        code, _, err = zorv.run(args, os.path.join(scratch, "work"))
        assert code == 1, (args, code, err)
        stderr = err.decode("utf-8")
        assert snapshot(scratch, out) == before, "something outside the output folder changed"
        for name, target in links.items():
            path = os.path.join(out, name)
            # Wine shows a link to a file as a plain file, so zorv.exe may
            # replace it (never follow it) there; Windows shows it as a link.
            replaced = zorv.wine and os.path.isfile(path) and not os.path.islink(path)
            assert replaced or os.readlink(path) == target, "the link %s changed" % name

        first = {}
        for entry in entries:
            output = entry["output"]
            parts = output.split("/")
            assert not output.startswith("/") and "\\" not in output, output
            assert all(part not in ("", ".", "..") for part in parts), output
            first.setdefault(output.lower(), entry)
        written = set()
        for folder, dirs, files in os.walk(out):
            for name in files:
                path = os.path.join(folder, name)
                relative = os.path.relpath(path, out).replace(os.sep, "/")
                if os.path.islink(path):
                    continue
                assert relative.lower() in first, "unlisted file " + relative
                entry = first[relative.lower()]
                assert read(path) == read(os.path.join(work, "expected", "hostile", "%d.bin" % entry["index"])), relative
                written.add(relative.lower())
        for entry in entries:
            if first[entry["output"].lower()] is entry and entry["output"].lower() in written:
                continue
            assert "hostile.dat: " + printable(entry["name"]) + ": " in stderr, "silently lost: %r" % entry["name"]


def check_interrupted(zorv, work):
    """An extraction killed at any moment leaves no partial file under an
    entry's name; after SIGTERM or SIGINT it leaves no temporary either."""
    big = os.path.join(work, "big")
    os.makedirs(big)
    zorv.make_fixtures(work, "large", "big", "40", "4096")
    complete = {name: read(os.path.join(big, "large-files", name)) for name in os.listdir(os.path.join(big, "large-files"))}
    signals = [signal.SIGKILL] * 3 if zorv.wine else [signal.SIGTERM, signal.SIGINT, signal.SIGKILL] * 2
    interrupted = 0
    rng = random.Random(8)
    for attempt, sig in enumerate(signals):
        out = os.path.join(big, "out%d" % attempt)
        process = zorv.start(["extract", "-o", os.path.basename(out), "large.dat"], big)
        deadline = time.time() + 120
        while not (os.path.isdir(out) and os.listdir(out)) and process.poll() is None and time.time() < deadline:
            time.sleep(0.001)
        time.sleep(rng.uniform(0, 0.05))
        process.send_signal(sig)
        process.wait(timeout=120)
        names = os.listdir(out) if os.path.isdir(out) else []
        entries = [n for n in names if n in complete]
        if process.returncode != 0 and len(entries) < len(complete):
            interrupted += 1
        for name in names:
            if name in complete:
                assert read(os.path.join(out, name)) == complete[name], "partial file " + name
            else:
                assert name.startswith(".zorv-") and name.endswith(".tmp"), "stray file " + name
                assert sig == signal.SIGKILL, "temporary left after %s: %s (exit %s, %d files)" % (
                    sig.name, name, process.returncode, len(names))
    assert interrupted > 0, "no run was interrupted mid-way"


def check_missing_plugins(zorv, work):
    """Without its plug-ins zorv says which one is missing and where it looked."""
    lonely = os.path.join(work, "lonely")
    os.makedirs(lonely)
    program = os.path.join(lonely, os.path.basename(zorv.zorv))
    shutil.copy(zorv.zorv, program)
    if not zorv.wine:  # the stand-in zorv links against stays
        os.makedirs(os.path.join(lonely, "native"))
        shutil.copy(os.path.join(os.path.dirname(zorv.zorv), "native", "libzorvplatform.so"),
                    os.path.join(lonely, "native"))
    code, out, err = zorv.run(["info", "CG24.BMP"], work, program=program)
    missing = "ZORVPICT.SPI" if zorv.wine else "libzorvpict.so"
    assert code == 2 and not out and ("the plug-in %s is missing" % missing) in err.decode(), (code, err)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--zorv", required=True)
    parser.add_argument("--fixtures", required=True)
    parser.add_argument("--wine", action="store_true")
    parser.add_argument("--update", action="store_true", help="rewrite the golden transcript")
    parser.add_argument("--keep", action="store_true", help="keep the work folder")
    options = parser.parse_args()
    zorv = Zorv(os.path.abspath(options.zorv), os.path.abspath(options.fixtures), options.wine)

    if zorv.wine:
        # One server, with its services, for all the runs, started with no
        # pipe of ours: a run that starts them would wait for them to quit,
        # since they keep its stdout and stderr open.
        quiet = dict(stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        subprocess.run(["wineserver", "-p30"], **quiet)
        subprocess.run(["wine", zorv.zorv, "--help"], **quiet)
    work = tempfile.mkdtemp(prefix="zorv-cli-")
    failures = 0
    try:
        zorv.make_fixtures(work, "fixtures", ".")
        # Paths beyond ASCII, which the plug-ins on Windows get in short form.
        shutil.copy(os.path.join(work, "plain.dat"), os.path.join(work, "ゾルヴ.dat"))
        shutil.copy(os.path.join(work, "CG24.BMP"), os.path.join(work, "絵.BMP"))
        checks = [lambda: check_transcript(zorv, work, options.update), lambda: check_files_and_json(zorv, work),
                  lambda: check_hostile(zorv, work), lambda: check_interrupted(zorv, work),
                  lambda: check_missing_plugins(zorv, work)]
        names = ["transcript", "files and JSON", "hostile archive", "interrupted extraction", "missing plug-ins"]
        for name, check in zip(names, checks):
            started = time.time()
            try:
                check()
                print("ok    %s (%.1f s)" % (name, time.time() - started))
            except AssertionError as error:
                failures += 1
                print("FAIL  %s: %s" % (name, error))
            sys.stdout.flush()
    finally:
        if options.keep:
            print("work folder: " + work)
        else:
            shutil.rmtree(work, ignore_errors=True)
    print("%d passed, %d failed" % (5 - failures, failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
