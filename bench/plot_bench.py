#!/usr/bin/python3
"""Time and memory of the pictures of kvd.plot, against one sequential read of the same file.

    /usr/bin/python3 bench/plot_bench.py [--seconds S] [--runs R] [--dir DIR] [--keep]

Writes the kvdsynth sample (60 electrodes, S seconds, default 330: about 1 GB) and a recording of 256
electrodes (build/bench/kvd_wide_recording, 10 s) into DIR (default a temporary folder), then for each:
one sequential read of the whole file in 1 MB blocks (page cache warm); plot_array of one second from the
middle of the recording saved as a PNG; the same through the command line (python3 -m kvd plot, a new
interpreter each time); plot_raster saved as a PNG; and how far the array picture raises the peak resident
memory above what an interpreter holds once it has imported matplotlib and kvd.plot (in a child process).
Times are the median of R runs (default 5) with their range, in seconds and as ratios to the median
sequential read.
"""
import argparse
import os
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
BUILD = ROOT / "build"
sys.path.insert(0, str(ROOT / "python"))

import kvd  # noqa: E402
import kvd.plot  # noqa: E402

MEMORY = """
import os, resource, sys
import kvd, kvd.plot
before = int(open("/proc/self/statm").read().split()[1]) * os.sysconf("SC_PAGE_SIZE") // 1024  # resident now
with kvd.open(sys.argv[1]) as rec:
    if sys.argv[2] == "array":
        kvd.plot.plot_array(rec, rec.duration / 2, 1.0).savefig(sys.argv[3], dpi=100)
print(resource.getrusage(resource.RUSAGE_SELF).ru_maxrss - before)
"""


def timed(runs, f):
    times = []
    for _ in range(runs):
        t0 = time.perf_counter()
        f()
        times.append(time.perf_counter() - t0)
    return statistics.median(times), min(times), max(times)


def read_sequentially(path):
    with open(path, "rb", buffering=0) as f:
        while f.read(1 << 20):
            pass


def array_picture(path, out):
    with kvd.open(path) as rec:
        kvd.plot.plot_array(rec, rec.duration / 2, 1.0).savefig(out, dpi=100)


def raster_picture(path, out):
    with kvd.open(path) as rec:
        kvd.plot.plot_raster(rec).savefig(out, dpi=100)


def command_line(path, out):
    subprocess.run([sys.executable, "-m", "kvd", "plot", str(path), "--start", "1", "-o", str(out)], check=True,
                   stdout=subprocess.DEVNULL, env=dict(os.environ, PYTHONPATH=str(ROOT / "python")))


def peak_kb(path, out):
    result = subprocess.run([sys.executable, "-c", MEMORY, str(path), "array", str(out)], check=True,
                            capture_output=True, text=True, env=dict(os.environ, PYTHONPATH=str(ROOT / "python")))
    return int(result.stdout)


def main():
    options = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    options.add_argument("--seconds", type=float, default=330.0)
    options.add_argument("--runs", type=int, default=5)
    options.add_argument("--dir")
    options.add_argument("--keep", action="store_true")
    args = options.parse_args()
    folder = Path(args.dir or tempfile.mkdtemp(prefix="kvd_plot_bench."))
    files = {"sample, 60 electrodes": folder / "sample.kvd", "256 electrodes": folder / "wide.kvd"}
    subprocess.run([str(BUILD / "tools" / "kvdsynth"), "--seconds", str(args.seconds),
                    str(files["sample, 60 electrodes"])], check=True)
    subprocess.run([str(BUILD / "bench" / "kvd_wide_recording"), "256", "10", str(files["256 electrodes"])],
                   check=True)
    print(f"load average {os.getloadavg()[0]:.2f}; median of {args.runs} runs (range), seconds and x sequential read")
    try:
        for what, path in files.items():
            out = folder / f"{path.stem}.png"
            read_sequentially(path)
            array_picture(path, out)  # the first figure loads fonts and caches
            read = timed(args.runs, lambda: read_sequentially(path))
            print(f"\n{what}: {path.stat().st_size / 1e6:.1f} MB, sequential read {read[0]:.3f} s "
                  f"({read[1]:.3f} to {read[2]:.3f})")
            for name, f in [("plot_array, 1 s, PNG", lambda: array_picture(path, out)),
                            ("python3 -m kvd plot, 1 s", lambda: command_line(path, out)),
                            ("plot_raster, PNG", lambda: raster_picture(path, out))]:
                t = timed(args.runs, f)
                print(f"  {name:<26}{t[0]:7.3f} s ({t[1]:.3f} to {t[2]:.3f})  "
                      f"{t[0] / read[0]:6.2f}x ({t[1] / read[0]:.2f} to {t[2] / read[0]:.2f})")
            kb = peak_kb(path, out)
            print(f"  {'peak memory, array':<26}{kb / 1024:7.1f} MB added ({kb * 1024 / path.stat().st_size:.3f}x "
                  "the file)")
    finally:
        if not args.keep and not args.dir:
            for path in list(files.values()) + list(folder.glob("*.png")):
                path.unlink(missing_ok=True)
            folder.rmdir()


if __name__ == "__main__":
    main()
