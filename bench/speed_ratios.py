#!/usr/bin/env python3
"""Whole-process speed of nvlogo against the C yardstick (bench/c_converter), then the in-process figures.

Each case runs nvlogo and the C converter on the same file, interleaved (nvlogo, C, nvlogo, C, ...), RUNS
times each, both writing to standard output (a pipe that the script drains) or, for the preview, to a file
on a memory file system. Printed per case: the median wall time and the median CPU time (user + system of
the child, which a busy machine disturbs less), and the ratios of the medians. Then encoder_bench and
preview_bench run and their medians are printed with the ratios of the targets.

Last the fleet: FLEET virtual printers, each on a loopback port of its own (by default all in one process,
bench/fleet_printers, so that the printers' own work stays off the CPUs the upload is measured on; with
--fleet-printers processes one nvlogo-printer each), are started, and one upload of 5 logos to one of them
is set against the same upload to all of them at once, given as FLEET --port options and as an inventory
(--ports-from) with a --report. Every printer must take it (the report is checked line by line). Target: at
most 1.5 x the one upload.

Usage: bench/speed_ratios.py [BUILD_DIR] [--runs N] [--no-inprocess] [--fleet N | --no-fleet] [--fleet-printers one-process|processes]
       (default build/linux; needs nvlogo, c_converter, encoder_bench, preview_bench and nvlogo-printer built)
"""
import argparse
import json
import os
import resource
import statistics
import struct
import subprocess
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def bmp24(path, w, h):
    """The benchmarks' picture: gradients and a checker pattern, bottom-left pixel not white."""
    stride = (w * 3 + 3) // 4 * 4
    data = bytearray(stride * h)
    for y in range(h):
        row = y * stride
        for x in range(w):
            data[row + 3 * x:row + 3 * x + 3] = bytes((x * 255 // w, y * 255 // h, 200 if (x // 16 + y // 16) % 2 else 40))
    head = b"BM" + struct.pack("<IHHI", 54 + len(data), 0, 0, 54)
    head += struct.pack("<IiiHHIIiiII", 40, w, h, 1, 24, 0, len(data), 2835, 2835, 0, 0)
    with open(path, "wb") as f:
        f.write(head + data)


def timed(args, stdout):
    """Wall seconds and CPU seconds (user + system) of one run."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    t0 = time.perf_counter()
    r = subprocess.run(args, stdout=stdout, stderr=subprocess.PIPE)
    wall = time.perf_counter() - t0
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    if r.returncode != 0:
        raise SystemExit(f"{' '.join(args)} failed: {r.stderr.decode(errors='replace').strip()}")
    return wall, (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)


def run_case(nvlogo_args, c_args, runs, c_to_file=None):
    times = {"nvlogo": [], "c": []}
    for i in range(runs):
        # Alternate who goes first, so that neither always follows the other's cache state.
        order = [("nvlogo", nvlogo_args), ("c", c_args)] if i % 2 == 0 else [("c", c_args), ("nvlogo", nvlogo_args)]
        for who, args in order:
            if who == "c" and c_to_file:
                with open(c_to_file, "wb") as out:
                    times[who].append(timed(args, out))
            else:
                times[who].append(timed(args, subprocess.PIPE))
    med = {who: (statistics.median(t[0] for t in ts), statistics.median(t[1] for t in ts)) for who, ts in times.items()}
    return med


def bench_json(exe, args):
    r = subprocess.run([exe, "--benchmark_format=json", "--benchmark_repetitions=5",
                        "--benchmark_report_aggregates_only=true"] + args, capture_output=True, text=True)
    if r.returncode != 0:
        raise SystemExit(f"{exe} failed: {r.stderr.strip()}")
    out = {}
    for b in json.loads(r.stdout)["benchmarks"]:
        if b.get("aggregate_name") == "median":
            out[b["run_name"]] = (b["real_time"], b["cpu_time"])  # milliseconds (the benchmarks' unit)
    return out


def main():
    parser = argparse.ArgumentParser(description="nvlogo against the C yardstick")
    parser.add_argument("build", nargs="?", default=os.path.join(ROOT, "build", "linux"))
    parser.add_argument("--runs", type=int, default=15, help="runs of each program per case (at least 15)")
    parser.add_argument("--no-inprocess", action="store_true", help="skip encoder_bench and preview_bench")
    parser.add_argument("--fleet", type=int, default=1000, help="virtual printers for the fleet case (default 1000)")
    parser.add_argument("--no-fleet", action="store_true", help="skip the fleet case")
    parser.add_argument("--only-fleet", action="store_true", help="run the fleet case alone")
    parser.add_argument("--fleet-printers", choices=("one-process", "processes"), default="one-process",
                        help="the fleet's printers: bench/fleet_printers (default) or one nvlogo-printer each")
    opts = parser.parse_args()
    if opts.only_fleet:
        fleet_case(opts.build, opts.fleet, opts.fleet_printers)
        return
    build, runs = opts.build, opts.runs
    nvlogo = os.path.join(build, "cli", "nvlogo")
    cconv = os.path.join(build, "bench", "c_converter")
    for exe in (nvlogo, cconv):
        if not os.access(exe, os.X_OK):
            raise SystemExit(f"{exe} is missing: cmake --build --preset linux")

    load = os.getloadavg()
    print(f"load average before: {load[0]:.2f} {load[1]:.2f} {load[2]:.2f} on {os.cpu_count()} CPUs; {runs} runs each")
    shm = "/dev/shm" if os.path.isdir("/dev/shm") else None
    with tempfile.TemporaryDirectory() as work, tempfile.TemporaryDirectory(dir=shm) as out_dir:
        small, large = os.path.join(work, "10x10.bmp"), os.path.join(work, "900x648.bmp")
        bmp24(small, 10, 10)
        bmp24(large, 900, 648)
        pgm, c_pgm = os.path.join(out_dir, "p.pgm"), os.path.join(out_dir, "c.pgm")
        cases = [
            ("save 10 x 10 (start-up)", [nvlogo, "save", "-o", "-", small], [cconv, small], None, 2.0),
            ("save 900 x 648 threshold", [nvlogo, "save", "-o", "-", large], [cconv, large], None, 1.5),
            ("save 900 x 648 indexed order", [nvlogo, "save", "-H", "indexed-order", "-o", "-", large],
             [cconv, large], None, 1.5),
            ("save 900 x 648 error diffusion", [nvlogo, "save", "-H", "error-diffusion", "-o", "-", large],
             [cconv, "--stucki", large], None, 2.0),
            ("preview -H error-diffusion -o p.pgm", [nvlogo, "preview", "-H", "error-diffusion", "-o", pgm, large],
             [cconv, "--stucki", "--pgm", large], c_pgm, 2.0),
        ]
        print(f"{'case':38} {'nvlogo ms':>9} {'C ms':>7} {'ratio':>6}   {'CPU ms':>7} {'C CPU':>7} {'ratio':>6}  target")
        for name, nv_args, c_args, c_file, target in cases:
            m = run_case(nv_args, c_args, runs, c_file)
            (nw, nc), (cw, cc) = m["nvlogo"], m["c"]
            print(f"{name:38} {nw * 1e3:9.2f} {cw * 1e3:7.2f} {nw / cw:6.2f}   {nc * 1e3:7.2f} {cc * 1e3:7.2f} "
                  f"{nc / cc:6.2f}  <= {target}")

    if not opts.no_inprocess:
        inprocess(build)
    if not opts.no_fleet:
        fleet_case(build, opts.fleet, opts.fleet_printers)


def inprocess(build):
    enc = bench_json(os.path.join(build, "bench", "encoder_bench"), [])
    pre = bench_json(os.path.join(build, "bench", "preview_bench"), [])
    cpu = lambda d, k: d[k][1]
    print("\nin-process (Google Benchmark medians of 5, CPU time)")
    c_thr, c_stucki = cpu(enc, "BM_CConverter/stucki:0"), cpu(enc, "BM_CConverter/stucki:1")
    rows = [
        ("encode threshold", cpu(enc, "BM_EncodeLogo/mode:0"), c_thr, "C threshold", 2.0),
        ("encode indexed order", cpu(enc, "BM_EncodeLogo/mode:2"), c_thr, "C threshold", 2.0),
        ("encode error diffusion", cpu(enc, "BM_EncodeLogo/mode:1"), c_stucki, "C Stucki", 1.5),
        ("preview error diffusion", cpu(pre, "BM_PreviewErrorDiffusion"), cpu(pre, "BM_CStucki"), "C Stucki", 1.5),
    ]
    for name, ms, c_ms, against, target in rows:
        print(f"{name:38} {ms:8.2f} ms  {against} {c_ms:.2f} ms  ratio {ms / c_ms:5.2f}  <= {target}")
    print(f"{'preview threshold':38} {cpu(pre, 'BM_PreviewThreshold'):8.2f} ms  target <= 8 ms")
    print(f"{'preview indexed order':38} {cpu(pre, 'BM_PreviewIndexedOrder'):8.2f} ms  target <= 8 ms")
    save = enc["BM_Save255Logos/iterations:3"]
    print(f"{'save 255 logos (one thread)':38} {save[0]:8.1f} ms wall, {save[1]:.1f} ms CPU  target <= 1000 ms")
    load = os.getloadavg()
    print(f"load average after: {load[0]:.2f} {load[1]:.2f} {load[2]:.2f}")


def start_fleet(printer, count, work):
    """count nvlogo-printer processes on 127.0.0.1, free ports; their ports once every one listens."""
    procs = []
    for i in range(count):
        d = os.path.join(work, str(i))
        os.mkdir(d)
        procs.append(subprocess.Popen([printer, "--listen", "127.0.0.1:0", "--nv", os.path.join(d, "nv.bit"), "--out", d,
                                       "--quiet", "--ready-file", os.path.join(d, "ready")],
                                      stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
    ports, deadline = [], time.monotonic() + 120
    for i in range(count):
        ready = os.path.join(work, str(i), "ready")
        while not os.path.exists(ready) or not open(ready).read().endswith("\n"):
            if time.monotonic() > deadline:
                raise SystemExit(f"printer {i} did not start")
            time.sleep(0.01)
        ports.append(open(ready).read().strip())
    return procs, ports


def timed_upload(args, expect):
    """Seconds of one upload that every printer took whole (exit 0), and how many of them confirmed it."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    t0 = time.perf_counter()
    r = subprocess.run(args, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    dt = time.perf_counter() - t0
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    timed_upload.cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    lines = r.stdout.splitlines()
    confirmed = sum(1 for l in lines if l.endswith(", confirmed"))
    if r.returncode != 0 or len(lines) != expect:
        raise SystemExit(f"upload failed ({len(lines)} of {expect} took it): {r.stderr.strip()[-500:]}")
    return dt, confirmed, r.stderr


def start_one_process_fleet(fleet_printers, count, work):
    """bench/fleet_printers: count printers served by one process; its ports once every one listens."""
    ready = os.path.join(work, "ports")
    proc = subprocess.Popen([fleet_printers, str(count), ready], stdout=subprocess.DEVNULL)
    deadline = time.monotonic() + 60
    while not os.path.exists(ready):
        if proc.poll() is not None or time.monotonic() > deadline:
            raise SystemExit("fleet_printers did not start")
        time.sleep(0.01)
    return [proc], open(ready).read().split()


def fleet_case(build, count, printers="one-process"):
    nvlogo = os.path.join(build, "cli", "nvlogo")
    printer = os.path.join(build, "tools", "nvlogo-printer")
    logos = [os.path.join(ROOT, "examples", "badge.bmp")] * 5
    shm = "/dev/shm" if os.path.isdir("/dev/shm") else None
    print(f"\nfleet: {count} virtual printers ({printers}), 5 logos each (median of 3)")
    with tempfile.TemporaryDirectory(dir=shm) as work:
        if printers == "processes":
            procs, ports = start_fleet(printer, count, work)
        else:
            procs, ports = start_one_process_fleet(os.path.join(build, "bench", "fleet_printers"), count, work)
        try:
            inventory, report = os.path.join(work, "fleet.txt"), os.path.join(work, "report.jsonl")
            with open(inventory, "w") as f:
                f.writelines(f"{p}\tprinter {i}\n" for i, p in enumerate(ports))
            one = statistics.median(timed_upload([nvlogo, "upload", "--port", ports[0]] + logos, 1)[0] for _ in range(5))
            # Under a heavy load a printer may answer the first status request after its 500 ms: it still takes
            # the upload, unconfirmed. Counted, and shown, apart.
            unconfirmed, cpu = [], {}
            by_port = [nvlogo, "upload"] + [a for p in ports for a in ("--port", p)] + logos
            by_file = [nvlogo, "upload", "--ports-from", inventory, "--report", report] + logos
            runs = {"--port": [], "--ports-from, --report": []}
            notes = set()
            for _ in range(3):
                for name, args in (("--port", by_port), ("--ports-from, --report", by_file)):
                    dt, confirmed, err = timed_upload(args, count)
                    runs[name].append(dt)
                    cpu.setdefault(name, []).append(timed_upload.cpu)
                    unconfirmed.append(count - confirmed)
                    notes.update(l for l in err.splitlines() if "open-file limit" in l)
                lines = [json.loads(l) for l in open(report)]
                if len(lines) != count or any(l["result"] not in ("confirmed", "not-confirmed") for l in lines):
                    raise SystemExit(f"the report does not have all {count} printers taking the upload")
            print(f"{'one upload':46} {one:8.3f} s")
            for name, times in runs.items():
                m = statistics.median(times)
                print(f"{count} printers at once ({name})".ljust(46) + f" {m:8.3f} s  ratio {m / one:5.2f}  <= 1.5"
                      f"  (runs {', '.join(f'{t:.3f}' for t in times)}; nvlogo CPU {statistics.median(cpu[name]):.2f} s)")
            print(f"  printers not confirmed per run (answered the first request late): {unconfirmed}")
            for n in sorted(notes):
                print(f"  {n}")
        finally:
            for p in procs:
                p.terminate()
            for p in procs:
                p.wait()


if __name__ == "__main__":
    main()
