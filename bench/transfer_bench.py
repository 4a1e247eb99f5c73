#!/usr/bin/env python3
"""Upload timing over loopback against the virtual printer, as ratios to the protocol's own floor.

The floor of one upload of N logos is N x 50 ms (the pause between each image header and its raster), plus the
finishing exchange with a printer that sends no status (5 polls, 100 ms apart) and the 100 ms pause after
closing. Every upload is confirmed (the printer answers), which adds two round trips and nothing to the floor.
Targets: one upload within 0.97 .. 1.10 of its floor; 20 printers at once within 1.5 x one upload.

Usage: bench/transfer_bench.py [BUILD_DIR]   (default build/linux; needs nvlogo and nvlogo-printer built)
"""
import os
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build", "linux")
NVLOGO = os.path.join(BUILD, "cli", "nvlogo")
PRINTER = os.path.join(BUILD, "tools", "nvlogo-printer")
LOGO = os.path.join(ROOT, "examples", "badge.bmp")
RUNS = 5


def start_printer(work):
    d = tempfile.mkdtemp(dir=work)
    p = subprocess.Popen([PRINTER, "--listen", "127.0.0.1:0", "--nv", os.path.join(d, "nv.bit"), "--out", d,
                          "--capacity", str(64 << 20)],
                         stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    line = p.stdout.readline().strip()
    if not line.startswith("listening on "):
        raise SystemExit(f"nvlogo-printer did not start: {line!r}")
    # Keep draining its log so that it never blocks on a full pipe.
    import threading
    threading.Thread(target=lambda: [None for _ in p.stdout], daemon=True).start()
    return p, line[len("listening on "):]


def timed_upload(targets, n):
    args = [NVLOGO, "upload"]
    for t in targets:
        args += ["--port", t]
    args += [LOGO] * n
    t0 = time.perf_counter()
    r = subprocess.run(args, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    dt = time.perf_counter() - t0
    if r.returncode != 0:
        raise SystemExit(f"upload failed: {r.stderr.strip()}")
    lines = r.stdout.splitlines()
    if len(lines) != len(targets) or not all(l.endswith(", confirmed") for l in lines):
        raise SystemExit(f"upload not confirmed: {r.stdout.strip()}")
    return dt


def main():
    for exe in (NVLOGO, PRINTER):
        if not os.access(exe, os.X_OK):
            raise SystemExit(f"{exe} is missing: cmake --build --preset linux")
    with tempfile.TemporaryDirectory() as work:
        printers = [start_printer(work) for _ in range(20)]
        try:
            ok = True
            print(f"{'logos':>5} {'median s':>9} {'floor s':>8} {'ratio':>6}")
            for n in (1, 5, 20, 100):
                floor = n * 0.050 + 0.500 + 0.100
                median = statistics.median(timed_upload([printers[0][1]], n) for _ in range(RUNS))
                ratio = median / floor
                ok &= 0.97 <= ratio <= 1.10
                print(f"{n:>5} {median:>9.3f} {floor:>8.3f} {ratio:>6.3f}")
            one = statistics.median(timed_upload([printers[0][1]], 5) for _ in range(RUNS))
            many = statistics.median(timed_upload([p[1] for p in printers], 5) for _ in range(RUNS))
            fleet = many / one
            ok &= fleet <= 1.5
            print(f"20 printers at once, 5 logos: {many:.3f} s against {one:.3f} s for one: ratio {fleet:.3f}")
            print("targets met" if ok else "targets NOT met")
            return 0 if ok else 1
        finally:
            for p, _ in printers:
                p.terminate()
                p.wait(timeout=10)


if __name__ == "__main__":
    sys.exit(main())
