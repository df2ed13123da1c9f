#!/usr/bin/python3
"""zorv end to end, as a user meets it: a golden transcript of commands
(exit code, stdout, stderr, and digests of the archives written), the files
extraction writes against the bytes the fixtures say must be delivered, the
way back (pictures packed and shown again, WAVE files coded and extracted
again, folders built and archives rebuilt byte for byte, an edited folder
rebuilt), a hostile archive extracted into a scratch tree that must stay
unchanged outside the output folder, extractions killed mid-run, and missing
plug-ins. The same test runs zorv natively and zorv.exe under Wine (--wine),
against the same transcript, so both write the same bytes."""

import argparse
import hashlib
import json
import os
import random
import re
import shlex
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time
import wave

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
zorv list --jsonl wrapped.dat
zorv extract -q -o t7 wrapped.dat
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
zorv pack --help
zorv build --help
zorv pack -v sources/plain8.bmp sources/plain24.bmp sources/rgb.png sources/pal16.png -o packed
zorv pack -v --signature E1 --depth 4 sources/pal16.png -o packed/P4.BMP
zorv info packed/plain8.bmp packed/rgb.bmp packed/P4.BMP
> hash packed/plain8.bmp packed/rgb.bmp packed/pal16.bmp packed/P4.BMP
zorv pack --depth 1 sources/rgb.png sources/rgba.png notes.txt CG24.BMP missing.png -o packed
zorv pack notes.txt
> cut sources/rgb.png cut.png
zorv pack cut.png
zorv pack cut.png sources/rgb.png -o cut-packed
zorv extract -o t6 plain.dat nomatch*
zorv info notes.txt CG24.BMP
zorv extract -v --convert -o rt plain.dat
zorv build --dry-run rt
> copy sources/rgb.png rt/CG01.png
> wave rt/SE01.wav
> remove rt/DATA.BIN
> write rt/ADDED.TXT added by hand
zorv build --dry-run rt
zorv build -v rt -o rt.dat
> hash rt.dat
zorv list rt.dat
zorv build rt -o rt.dat
zorv extract -q -o rt2 odd.dat
zorv build -v rt2 -o rt2.dat
> hash rt2.dat odd.dat
zorv build --dry-run --signature ZRV00 rt2
zorv build --encode-audio -v sources/tone.wav notes.txt -o files.dat
> hash files.dat
zorv list files.dat
> write long/MUCH-TOO-LONG.TXT x
zorv build long -o long.dat
> write names/😀.txt x
zorv build names -o names.dat
zorv extract -q -o rt3 plain.dat
> write rt3/SE01.wav RIFF\\x04\\x00\\x00\\x00WAVE
zorv build rt3 -o rt3.dat
zorv extract -q -o rt4 plain.dat
> replace rt4/zorv-manifest.json "size":20, "size":21,
zorv build rt4 -o rt4.dat
zorv build rt4 sources/tone.wav -o x.dat
zorv build rt4
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

    def run(self, args, cwd, program=None, timeout=300):
        done = subprocess.run(self.command(program or self.zorv, args), cwd=cwd, stdin=subprocess.DEVNULL,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=timeout)
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


def decode_table():
    """The coded-audio table, read from the project's own header."""
    with open(os.path.join(HERE, "..", "..", "frame", "pw_decode_table.h")) as f:
        text = f.read()
    body = text[text.index("{", text.index("PwDecodeTable")) + 1:text.index("};")]
    body = re.sub(r"/\*.*?\*/", "", body)
    table = [eval(value) for value in body.replace("\n", " ").split(",") if value.strip()]
    assert len(table) == 256 and table == sorted(table), "decode table"
    return table


def write_wave(path, samples, channels=1, rate=22050, width=2):
    with wave.open(path, "wb") as w:
        w.setnchannels(channels)
        w.setsampwidth(width)
        w.setframerate(rate)
        if width == 1:
            w.writeframes(bytes(samples))
        else:
            w.writeframes(b"".join(v.to_bytes(width, "little", signed=True) for v in samples))


def read_wave(path):
    with wave.open(path, "rb") as w:
        assert w.getsampwidth() == 2
        data = w.readframes(w.getnframes())
        return w.getnchannels(), w.getframerate(), list(struct.unpack("<%dh" % (len(data) // 2), data))


def file_action(line, work):
    """A step of the transcript done by the test itself: editing files as a
    user would, and showing digests of what zorv wrote (the same golden
    lines for zorv and zorv.exe: the same bytes)."""
    words = line.split(" ", 2)
    what, path = words[0], os.path.join(work, words[1])
    rest = words[2] if len(words) > 2 else ""
    if what == "copy":
        shutil.copy(os.path.join(work, words[1]), os.path.join(work, rest))
    elif what == "cut":
        data = read(path)
        with open(os.path.join(work, rest), "wb") as f:
            f.write(data[:len(data) // 2])
    elif what == "remove":
        os.remove(path)
    elif what == "write":
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(rest.encode("utf-8").decode("unicode_escape").encode("latin-1"))
    elif what == "replace":
        old, new = rest.split(" ")
        text = read(path).decode("utf-8")
        assert old in text, line
        with open(path, "w", encoding="utf-8") as f:
            f.write(text.replace(old, new, 1))
    elif what == "wave":
        table = decode_table()
        write_wave(path, [table[(i * 37) % 256] for i in range(777)], rate=11025)
    elif what == "hash":
        return "".join("%s  %s\n" % (hashlib.sha256(read(os.path.join(work, name))).hexdigest(), name)
                       for name in line.split(" ")[1:])
    else:
        raise AssertionError("unknown step " + line)
    return ""


def transcript(zorv, work):
    lines = []
    for line in TRANSCRIPT.strip().splitlines():
        if line.startswith("> "):
            lines.append("%s\n%s" % (line, file_action(line[2:], work)))
            continue
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
                if os.path.islink(path) or relative == "zorv-manifest.json":
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
            elif name == "zorv-manifest.json":
                pass  # a run that ended before its signal: written last, renamed into place like the rest
            else:
                assert name.startswith(".zorv-") and name.endswith(".tmp"), "stray file " + name
                assert sig == signal.SIGKILL, "temporary left after %s: %s (exit %s, %d files)" % (
                    sig.name, name, process.returncode, len(names))
    assert interrupted > 0, "no run was interrupted mid-way"


def make_sources(work):
    """Pictures and sounds for zorv pack and zorv build, made with Pillow and
    Python's own wave module (the plain bitmaps come from the fixtures)."""
    from PIL import Image
    folder = os.path.join(work, "sources")
    rng = random.Random(5)

    def picture(mode, colours, name, size=(13, 9), palette=None):
        image = Image.new(mode, size)
        image.putdata([colours[rng.randrange(len(colours))] for _ in range(size[0] * size[1])])
        if palette:
            image.putpalette(palette)
        image.save(os.path.join(folder, name))

    rgb = [(rng.randrange(256), rng.randrange(256), rng.randrange(256)) for _ in range(300)]
    picture("RGB", rgb, "rgb.png", (40, 30))
    picture("RGBA", [c + (rng.choice([0, 128, 255]),) for c in rgb], "rgba.png", (40, 30))
    picture("L", list(range(0, 256, 3)), "grey.png")
    palette = [rng.randrange(256) for _ in range(768)]
    picture("P", [0, 1], "pal2.png", palette=palette)
    picture("P", list(range(16)), "pal16.png", palette=palette)
    picture("P", list(range(256)), "pal256.png", (40, 30), palette=palette)
    table = decode_table()
    write_wave(os.path.join(folder, "tone.wav"), [table[(i * 11) % 256] for i in range(500)])


def pixels(path):
    from PIL import Image
    with Image.open(path) as image:
        return list(image.convert("RGB").getdata())


def check_pack_pixels(zorv, work):
    """picture -> zorv pack -> zorv convert shows the source's pixels, at every
    depth and with both signatures; a depth a picture does not fit is refused."""
    sources = {"pal2.png": {1, 4, 8, 24, 32}, "pal16.png": {4, 8, 24, 32}, "pal256.png": {8, 24, 32},
               "grey.png": {8, 24, 32}, "rgb.png": {24, 32}, "rgba.png": {32}}
    plain = ["plain%d.bmp" % depth for depth in (1, 4, 8, 24, 32)]
    for signature in ("B1", "E1"):
        for depth in (None, 1, 4, 8, 24, 32):
            out = "packed-%s-%s" % (signature, depth)
            inputs = list(sources) + (plain if depth is None else [])
            args = ["pack", "-q", "--signature", signature, "-o", out] + (["--depth", str(depth)] if depth else [])
            code, _, err = zorv.run(args + ["sources/" + name for name in inputs], work)
            fits = [name for name in inputs if depth is None or name in plain or depth in sources[name]]
            assert code == (0 if len(fits) == len(inputs) else 1), (args, code, err)
            written = sorted(os.listdir(os.path.join(work, out)))
            assert written == sorted(name[:-4] + ".bmp" for name in fits), (out, written, err)
            code, infos, err = zorv.run(["info", "--json"] + [out + "/" + name for name in written], work)
            assert code == 0 and all(d["signature"] == signature for d in json.loads(infos)), (out, err)
            if depth:
                assert all(d["bit_count"] == depth for d in json.loads(infos)), (out, infos)
            code, _, err = zorv.run(["convert", "-q", "-o", out + "-png/"] + [out + "/" + name for name in written], work)
            assert code == 0, err
            for name in fits:
                shown = pixels(os.path.join(work, out + "-png", name[:-4] + ".png"))
                assert shown == pixels(os.path.join(work, "sources", name)), (out, name)


def nearest(table, sample):
    """The code a sample takes: the nearest table value, on a tie the one
    nearer to zero."""
    return min(range(256), key=lambda code: (abs(table[code] - sample), abs(table[code])))


def check_audio_encoding(zorv, work):
    """WAVE -> zorv build --encode-audio -> zorv extract gives the samples
    back: exactly the table values, the nearest table value for any other,
    after 8- and 24-bit samples are first brought to 16 bits."""
    table = decode_table()
    rng = random.Random(6)
    folder = os.path.join(work, "waves")
    os.makedirs(folder)
    exact = [table[rng.randrange(256)] for _ in range(1000)]
    noise = [rng.randrange(-32768, 32768) for _ in range(2000)]
    eight = [rng.randrange(256) for _ in range(300)]
    wide = [rng.randrange(-(1 << 23), 1 << 23) for _ in range(300)]
    waves = {"EXACT.wav": (exact, 1, 2, exact), "NOISE.wav": (noise, 2, 2, noise),
             "EIGHT.wav": (eight, 1, 1, [(v - 128) * 256 for v in eight]),
             "WIDE.wav": (wide, 2, 3, [max(-32768, min(32767, int(abs(v) / 256 + 0.5) * (1 if v >= 0 else -1)))
                                       for v in wide])}
    for name, (samples, channels, width, _) in waves.items():
        write_wave(os.path.join(folder, name), samples, channels, 8000 + channels, width)
    code, _, err = zorv.run(["build", "--encode-audio", "-o", "waves.dat"] +
                            ["waves/" + name for name in waves], work)
    assert code == 0 and b"converted" in err, err
    code, _, err = zorv.run(["extract", "-q", "-o", "waves-out", "waves.dat"], work)
    assert code == 0, err
    for name, (_, channels, _, wanted) in waves.items():
        got_channels, rate, got = read_wave(os.path.join(work, "waves-out", name))
        assert (got_channels, rate) == (channels, 8000 + channels), name
        assert got == [table[nearest(table, v)] for v in wanted], name
    assert read_wave(os.path.join(work, "waves-out", "EXACT.wav"))[2] == exact


def tree(root):
    """Every file under root, by its relative path, with its bytes."""
    files = {}
    for folder, _, names in os.walk(root):
        for name in names:
            path = os.path.join(folder, name)
            files[os.path.relpath(path, root).replace(os.sep, "/")] = read(path)
    return files


def check_folder_build(zorv, work):
    """folder -> zorv build -> zorv list and extract gives the same files."""
    rng = random.Random(7)
    folder = os.path.join(work, "tree")
    files = {"A.TXT": b"alpha\n", "EMPTY": b"", "SUB/B.BIN": bytes(rng.randrange(256) for _ in range(70000)),
             "S/D/C.WAV": read(os.path.join(work, "sources", "tone.wav")), "Z/EMPTY2": b"",
             "CG.BMP": read(os.path.join(work, "CG24.BMP"))}
    for name, data in files.items():
        os.makedirs(os.path.dirname(os.path.join(folder, name)), exist_ok=True)
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)
    code, _, err = zorv.run(["build", "tree", "-o", "tree.dat"], work)
    assert code == 0, err
    names = [entry["name"] for entry in listing(zorv, work, "tree.dat")]
    assert names == [name.replace("/", "\\") for name in sorted(files)], names
    code, _, err = zorv.run(["extract", "-q", "-o", "tree-out", "tree.dat"], work)
    assert code == 0, err
    got = tree(os.path.join(work, "tree-out"))
    del got["zorv-manifest.json"]
    assert got == files, sorted(got)


def check_build_leaves_out(zorv, work):
    """A folder build leaves out hidden paths at any depth and never follows
    a link, saying each with -v. Wine shows a Unix link to a folder to
    Windows programs as a reparse point, and a link to a file as the file
    itself, so only the folder link is sure to be seen as one there."""
    folder = os.path.join(work, "leave-out")
    outside = os.path.join(work, "leave-out-outside")
    for path in ("A.TXT", ".top", ".git/config", "SUB/.cache/X", "SUB/B.TXT"):
        os.makedirs(os.path.dirname(os.path.join(folder, path)), exist_ok=True)
        with open(os.path.join(folder, path), "wb") as f:
            f.write(path.encode())
    os.makedirs(os.path.join(outside, "deep"))
    with open(os.path.join(outside, "deep", "SECRET.TXT"), "wb") as f:
        f.write(b"not to be packed")
    os.symlink(os.path.join(outside, "deep", "SECRET.TXT"), os.path.join(folder, "LINK.TXT"))
    os.symlink(outside, os.path.join(folder, "LINKDIR"))
    code, out, err = zorv.run(["build", "-v", "leave-out", "-o", "leave-out.dat"], work)
    assert code == 0, err
    names = [entry["name"] for entry in listing(zorv, work, "leave-out.dat")]
    file_link_followed = zorv.wine and "LINK.TXT" in names
    assert names == ["A.TXT"] + (["LINK.TXT"] if file_link_followed else []) + ["SUB\\B.TXT"], names
    said = err.decode("utf-8", errors="replace")
    for ignored in ("'.top': a hidden file", "'.git/config': in a hidden folder", "'SUB/.cache/X': in a hidden folder",
                    "'LINKDIR': a symbolic link, never followed"):
        assert ignored in said, (ignored, said)
    assert file_link_followed or "'LINK.TXT': a symbolic link, never followed" in said, said


def check_round_trips(zorv, work):
    """archive -> zorv extract -> zorv build gives the archive back byte for
    byte, whatever the archive holds and however it was extracted."""
    for archive in ("plain.dat", "hostile.dat", "odd.dat"):
        for mode in ([], ["--raw"], ["--convert"]):
            out = "round-%s%s" % (archive[:-4], "".join(mode))
            code, _, err = zorv.run(["extract", "-q"] + mode + ["-o", out, archive], work)
            # An entry that only looks like a picture has no PNG; its file is still there.
            lookalike = archive == "odd.dat" and mode == ["--convert"]
            assert code == (1 if lookalike else 0) and (b"LOOKALIKE" in err) == lookalike, (archive, mode, err)
            code, _, err = zorv.run(["build", out, "-o", out + ".dat"], work)
            assert code == 0 and b"byte for byte" in err, (archive, mode, err)
            assert read(os.path.join(work, out + ".dat")) == read(os.path.join(work, archive)), (archive, mode)


def check_transcript_outputs(zorv, work):
    """What the transcript's builds left: the edited archive holds the edits
    and reads back through the plug-ins; refused builds left nothing."""
    code, _, err = zorv.run(["extract", "-q", "-o", "rt-out", "rt.dat"], work)
    assert code == 0, err
    got = tree(os.path.join(work, "rt-out"))
    assert "DATA.BIN" not in got and got["ADDED.TXT"] == b"added by hand", sorted(got)
    assert read_wave(os.path.join(work, "rt-out", "SE01.wav"))[2] == read_wave(os.path.join(work, "rt", "SE01.wav"))[2]
    code, _, err = zorv.run(["convert", "-q", "rt-out/CG01.BMP", "-o", "rt-out/CG01-shown.png"], work)
    assert code == 0 and pixels(os.path.join(work, "rt-out", "CG01-shown.png")) == pixels(
        os.path.join(work, "sources", "rgb.png")), err
    for refused in ("long.dat", "names.dat", "rt3.dat", "rt4.dat", "x.dat"):
        assert not os.path.exists(os.path.join(work, refused)), refused
    leftovers = [name for folder, _, names in os.walk(work) for name in names if name.startswith(".zorv-")]
    assert not leftovers, leftovers


def check_named_pipes(zorv, work):
    """A named pipe given to any command is refused at once, by name: nothing
    waits for a writer that never comes."""
    if zorv.wine:
        return  # no FIFOs through Wine's file system
    folder = os.path.join(work, "pipes")
    os.makedirs(os.path.join(folder, "tree"))
    for name in ("pipe.dat", "pipe.bmp", "pipe.png", "tree/pipe.txt"):
        os.mkfifo(os.path.join(folder, name))
    runs = [["info", "pipe.dat"], ["list", "pipe.dat"], ["extract", "-o", "out", "pipe.dat"],
            ["convert", "pipe.bmp"], ["pack", "pipe.png"], ["build", "pipe.dat", "-o", "x.dat"],
            ["build", "tree", "-o", "y.dat"]]
    for args in runs:
        try:
            code, _, err = zorv.run(args, folder, timeout=20)
        except subprocess.TimeoutExpired:
            raise AssertionError("zorv %s waited on a named pipe" % " ".join(args))
        assert code == 2 and b"pipe" in err and b"not a regular file" in err, (args, code, err)
    assert not os.path.exists(os.path.join(folder, "x.dat")) and not os.path.exists(os.path.join(folder, "y.dat"))


def archive_bytes(entries, data_size=None):
    """A ZRV01 archive: each entry (name, stored size, first bytes) with its
    first bytes at its position, the rest left as a hole, then the
    directory. `data_size` places the directory (default: right after the
    bytes given)."""
    data = b"".join(head for _, _, head in entries)
    directory_at = 16 + (len(data) if data_size is None else data_size)
    header = b"ZRV01\x1a\x00\x00" + struct.pack("<HI", len(entries), directory_at) + b"\x00\x00"
    directory = b"".join(name.ljust(12, b"\x00") + struct.pack("<I", size) for name, size, _ in entries)
    return header, data, directory_at, directory


def write_archive(path, entries, data_size=None):
    header, data, directory_at, directory = archive_bytes(entries, data_size)
    with open(path, "wb") as f:
        f.write(header + data)
        f.seek(directory_at)  # a sparse hole up to the directory
        f.write(directory)


def pw_head(codes):
    return (b"PW10" + struct.pack("<I", 38 + codes) + b"PCM1fmt " + struct.pack("<IHHIIHHH", 18, 1, 1, 22050, 22050, 1, 8, 0)
            + b"data" + struct.pack("<I", codes))


# Runs a command and prints its peak resident memory. A small process of
# its own: a child's peak counts the pages it shared with its parent
# before exec, and this test's own process holds large files by now.
MEASURE = """
import os, subprocess, sys
process = subprocess.Popen(sys.argv[1:], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL)
_, status, usage = os.wait4(process.pid, 0)
print(usage.ru_maxrss * 1024, os.waitstatus_to_exitcode(status))
"""


def peak_memory(zorv, args, cwd):
    """Exit code, stderr and the peak resident memory (bytes) of one run."""
    done = subprocess.run([sys.executable, "-c", MEASURE] + zorv.command(zorv.zorv, args), cwd=cwd,
                          stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=300)
    peak, code = done.stdout.split()
    return int(code), done.stderr, int(peak)


def check_raw_memory(zorv, work):
    """--raw copies stored bytes in pieces: an entry whose directory claims
    4 GiB in a 78-byte archive is refused by name without taking memory, and
    a real 160 MiB entry is copied with far less memory than its size."""
    if zorv.wine:
        return  # the peak of the process under Wine is not zorv's
    folder = os.path.join(work, "raw-memory")
    os.makedirs(folder)
    # What zorv itself takes (more in a sanitizer build), measured on a small archive.
    shutil.copy(os.path.join(work, "plain.dat"), folder)
    code, err, baseline = peak_memory(zorv, ["extract", "--raw", "-o", "small", "plain.dat"], folder)
    assert code == 0, err
    write_archive(os.path.join(folder, "claims.dat"), [(b"HUGE.PW", 0xFFFFFFF0, pw_head(100))])
    assert os.path.getsize(os.path.join(folder, "claims.dat")) == 78
    code, err, peak = peak_memory(zorv, ["extract", "--raw", "-o", "out", "claims.dat"], folder)
    assert code == 2 and b"HUGE.PW: its 4294967280 stored bytes at position 16 reach past the end" in err, (code, err)
    assert peak < baseline + (32 << 20), "peak %d MiB, %d MiB for a small archive" % (peak >> 20, baseline >> 20)

    size = 160 << 20
    write_archive(os.path.join(folder, "large.dat"), [(b"LONG.PW", size, pw_head(size - 46))], data_size=size)
    code, err, peak = peak_memory(zorv, ["extract", "--raw", "-o", "large", "large.dat"], folder)
    assert code == 0, err
    assert os.path.getsize(os.path.join(folder, "large", "LONG.PW")) == size
    assert peak < baseline + (64 << 20), "peak %d MiB for a %d MiB entry, %d MiB for a small archive" % (
        peak >> 20, size >> 20, baseline >> 20)
    shutil.rmtree(os.path.join(folder, "large"))


def check_hostile_file_names(zorv, work):
    """A file name's bytes that are not UTF-8 or are control characters (an
    8-bit control sequence introducer, 0x9B, among them) reach stderr only
    as %XX escapes: in every command's messages and in the progress line."""
    if zorv.wine:
        return  # Windows names are UTF-16: no such bytes reach zorv.exe
    folder = os.path.join(work, "bad-names")
    os.makedirs(folder)
    stem = b"x\x9b2J\x1b[31m\xff\xc3(\xe2\x82"
    names = {".dat": read(os.path.join(work, "plain.dat")), ".bmp": read(os.path.join(work, "CG24.BMP")),
             ".png": read(os.path.join(work, "sources", "rgb.png")), ".txt": b"not a picture\n"}
    for extension, data in names.items():
        with open(os.path.join(folder.encode(), stem + extension.encode()), "wb") as f:
            f.write(data)
    name = lambda extension: os.fsdecode(stem + extension.encode())
    runs = [["info", name(".dat"), name(".txt")], ["list", name(".dat"), name(".txt")],
            ["extract", "-o", "out", name(".dat"), name(".txt")], ["convert", name(".bmp"), name(".txt")],
            ["pack", name(".png"), name(".txt")], ["pack", name(".png")], ["build", name(".txt"), "-o", "out.dat"],
            ["build", "--dry-run", name(".txt"), name(".txt")]]
    for args in runs:
        code, out, err = zorv.run(["--progress=always"] + args, folder)
        for stream in (out, err):
            assert b"\x9b" not in stream and b"\x1b" not in stream and b"\xff" not in stream, (args, stream)
        stream = out + err
        assert b"x%9B2J%1B[31m%FF%C3(%E2%82" in stream, (args, stream)
        stream.decode("utf-8")  # every byte shown is UTF-8

    # The progress line names the input at hand once packing the one before
    # took long enough for the line to be drawn (a tenth of a second; noise
    # of 1600x1600 takes several times that).
    from PIL import Image
    rng = random.Random(9)
    side = 1600
    Image.frombytes("RGB", (side, side), rng.randbytes(side * side * 3)).save(os.path.join(folder, "noise.png"))
    code, _, err = zorv.run(["--progress=always", "pack", "-o", "packed/", "noise.png", name(".png")], folder)
    line = re.search(rb"\r1/2[^\r]*  (x[^\r]*\.png)\r", err)
    assert code == 0 and line and line.group(1) == b"x%9B2J%1B[31m%FF%C3(%E2%82.png", err
    assert b"\x9b" not in err and b"\x1b" not in err, err


def check_entry_past_2_gib(zorv, work):
    """Slow, and only with ZORV_SLOW_TESTS=1 (it needs about 9 GB of memory
    and disk): native zorv extracts a 3 GiB entry, which the 32-bit DLLs
    could not hold. The archive is sparse; the file written is checked
    at its head, its tail and its size."""
    if zorv.wine or os.environ.get("ZORV_SLOW_TESTS") != "1":
        return
    folder = os.path.join(work, "past-2-gib")
    os.makedirs(folder)
    size = 3 << 30
    head, tail = b"first bytes of a large entry", b"last bytes"
    write_archive(os.path.join(folder, "huge.dat"), [(b"HUGE.BIN", size, head)], data_size=size)
    with open(os.path.join(folder, "huge.dat"), "r+b") as f:
        f.seek(16 + size - len(tail))
        f.write(tail)
    try:
        code, _, err = zorv.run(["extract", "-o", "out", "huge.dat"], folder)
        assert code == 0, err
        written = os.path.join(folder, "out", "HUGE.BIN")
        assert os.path.getsize(written) == size
        with open(written, "rb") as f:
            assert f.read(len(head)) == head
            f.seek(size - len(tail))
            assert f.read() == tail
    finally:
        shutil.rmtree(folder)


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
    parser.add_argument("--only", help="run only the checks whose names hold this text")
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
    chosen = []
    failures = 0
    try:
        zorv.make_fixtures(work, "fixtures", ".")
        # Paths beyond ASCII, which the plug-ins on Windows get in short form.
        shutil.copy(os.path.join(work, "plain.dat"), os.path.join(work, "ゾルヴ.dat"))
        shutil.copy(os.path.join(work, "CG24.BMP"), os.path.join(work, "絵.BMP"))
        make_sources(work)
        checks = [lambda: check_transcript(zorv, work, options.update), lambda: check_files_and_json(zorv, work),
                  lambda: check_transcript_outputs(zorv, work), lambda: check_round_trips(zorv, work),
                  lambda: check_pack_pixels(zorv, work), lambda: check_audio_encoding(zorv, work),
                  lambda: check_folder_build(zorv, work), lambda: check_build_leaves_out(zorv, work),
                  lambda: check_hostile(zorv, work),
                  lambda: check_interrupted(zorv, work), lambda: check_missing_plugins(zorv, work),
                  lambda: check_named_pipes(zorv, work), lambda: check_raw_memory(zorv, work),
                  lambda: check_hostile_file_names(zorv, work), lambda: check_entry_past_2_gib(zorv, work)]
        names = ["transcript", "files and JSON", "edited rebuild and refusals", "round trips", "pack pixels",
                 "audio encoding", "folder build", "hidden paths and links left out", "hostile archive",
                 "interrupted extraction", "missing plug-ins", "named pipes",
                 "raw extraction memory", "hostile file names",
                 "entry past 2 GiB (ZORV_SLOW_TESTS=1)"]
        chosen = [(name, check) for name, check in zip(names, checks) if not options.only or options.only in name]
        for name, check in chosen:
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
    print("%d passed, %d failed" % (len(chosen) - failures, failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
