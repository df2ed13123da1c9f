#!/usr/bin/python3
"""GetPicture in the viewer's WebAssembly against the same plug-in code
native: MB/s of delivered bits on the 2048x2048 benchmark pictures.

Both run the export on the packed file's bytes in memory: the native build
(libzorvpict.so through ctypes) and the WebAssembly module
(web/build/wasm/node, under node: V8, the engine of Chromium's workers).
Rounds interleave the two, and each figure is a median of processor time
(the machine is shared: wall time would count other programs' turns).

  bench/web_decode_bench.py [--build build/native] [--rounds 7] [--count 3]
                            [--also web/build/wasm-nosimd/node] [--chromium]

--chromium runs the WebAssembly in a worker of headless Chromium instead of
node (needs web/node_modules: cd web && npm ci); both sides are then timed
by the clock, not by processor time, as a worker cannot read its own.

--also adds a column for another build of the node modules, measured in the
same rounds: ZORV_WASM_SIMD= web/build-wasm.sh web/build/wasm-nosimd builds
them without WebAssembly SIMD.
"""
import argparse
import ctypes
import os
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default=os.path.join(ROOT, "build", "native"))
    parser.add_argument("--rounds", type=int, default=7)
    parser.add_argument("--count", type=int, default=3)
    parser.add_argument("--also", help="another folder of node modules to measure beside")
    parser.add_argument("--chromium", action="store_true", help="the WebAssembly in headless Chromium's worker")
    options = parser.parse_args()

    # The WebAssembly module keeps the memory it grew, so its blocks land on
    # pages already there. glibc would hand each 12 MB block back to the
    # system and fault fresh pages in on every call, which costs more than
    # the decoding on a virtual machine: keep them natively too, so that
    # both measure the plug-in's work.
    libc = ctypes.CDLL(None)
    libc.mallopt(-3, 1 << 30)  # M_MMAP_THRESHOLD
    libc.mallopt(-1, 1 << 30)  # M_TRIM_THRESHOLD
    folder = tempfile.mkdtemp(dir="/dev/shm" if os.path.isdir("/dev/shm") else None)
    subprocess.run([os.path.join(options.build, "tests", "zorv_cli_fixtures"), "pictures", folder],
                   check=True, stdout=subprocess.DEVNULL)
    platform = ctypes.CDLL(os.path.join(options.build, "platform", "libzorvplatform.so"), mode=ctypes.RTLD_GLOBAL)
    plugin = ctypes.CDLL(os.path.join(options.build, "picture", "libzorvpict.so"))
    plugin.GetPicture.argtypes = [ctypes.c_char_p, ctypes.c_int32, ctypes.c_uint32, ctypes.POINTER(ctypes.c_void_p),
                                  ctypes.POINTER(ctypes.c_void_p), ctypes.c_void_p, ctypes.c_void_p]
    platform.GlobalSize.argtypes = platform.GlobalFree.argtypes = [ctypes.c_void_p]
    platform.GlobalSize.restype = ctypes.c_size_t

    def native(data):
        info, bits = ctypes.c_void_p(), ctypes.c_void_p()
        clock = time.perf_counter if options.chromium else time.thread_time
        start = clock()
        result = plugin.GetPicture(data, len(data), 1, ctypes.byref(info), ctypes.byref(bits), None, None)
        seconds = clock() - start
        size = platform.GlobalSize(bits)
        platform.GlobalFree(info)
        platform.GlobalFree(bits)
        if result != 0:
            sys.exit(f"native GetPicture failed: {result}")
        return seconds, size

    def start_wasm(folder):
        environment = dict(os.environ)
        if folder:
            environment["ZORV_WASM_NODE"] = os.path.abspath(folder)
        script = "web_decode_chromium.mjs" if options.chromium else "web_decode_wasm.mjs"
        return subprocess.Popen(["node", os.path.join(ROOT, "bench", script)], env=environment,
                                stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)

    def wasm_round(child, path):
        child.stdin.write(f"{path} {options.count}\n")
        child.stdin.flush()
        return [float(t) for t in child.stdout.readline().split()]

    children = [start_wasm(None)] + ([start_wasm(options.also)] if options.also else [])
    also = f"{'also MB/s':>10} {'also/native':>12}" if options.also else ""
    print(f"{'picture':16} {'native MB/s':>12} {'wasm MB/s':>10} {'wasm/native':>12} {also}")
    try:
        for name in ("TRUECOLOR.BMP", "PALETTE.BMP"):
            path = os.path.join(folder, name)
            data = open(path, "rb").read()
            native_times, wasm_times, size = [], [[] for _ in children], 0
            for _ in range(options.rounds):
                for _ in range(options.count):
                    seconds, size = native(data)
                    native_times.append(seconds)
                for child, times in zip(children, wasm_times):
                    times += wasm_round(child, path)
            native_speed = size / statistics.median(native_times) / 1e6
            line = f"{name:16} {native_speed:12.0f}"
            for times in wasm_times:
                speed = size / statistics.median(times) / 1e6
                line += f" {speed:10.0f} {speed / native_speed:11.2f}x"
            print(line)
    finally:
        for child in children:
            child.stdin.close()
            child.wait()
        for item in os.listdir(folder):
            os.remove(os.path.join(folder, item))
        os.rmdir(folder)


if __name__ == "__main__":
    main()
