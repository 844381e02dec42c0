#!/usr/bin/python3
"""Speed and memory of the Python package (kvd) against one sequential read of the same file.

    /usr/bin/python3 bench/python_bench.py [--seconds S] [--file PATH] [--runs N] [--warm GB] [--keep]

Writes the kvdsynth sample recording (60 electrodes and a digital channel at 25 kHz, a trigger and a spike
stream; the default of 330 s is about 1 GB) unless --file names one, reads it once into the page cache and
times, in each of N runs (default 3), each on the recording opened afresh:

  seq      one sequential read of the whole file (the fastest of pieces of 128 KiB, 1 MiB and 8 MiB into one
           buffer), the unit of the ratios: the same as the C benchmarks'
  file     the whole file read in pieces of 8 MiB into one array of its size, as reads into arrays write
           their data to memory (which the sequential read, its buffer in the processor's caches, does not)
  read     kvd.open(f).stream("elec0001").read(): every channel, whole recording
  read_c   kvd_read_frames alone into an array of the same size (the library's share of `read`)
  scaled   the same with scaled=True (float32)
  block    KvdIO(f).read_block(lazy=False)
  ns       Neo's NeuroshareIO(f, this library).read_segment(), the same data through ns_GetAnalogData
  lazy     KvdIO(f).read_block(lazy=True), then one second (1 s to 2 s) of every signal through its proxy
  dask     s.to_dask().mean(axis=0).compute() on the threaded scheduler
  numpy    s.read().mean(axis=0)

Memory the process has never touched costs here up to seconds a gigabyte at first touch (the machine hands
freed memory back to its host), so the process's memory is warmed first: the allocator is told to keep
what is freed (GLIBC_TUNABLES, set by re-running the script) and --warm GB (default 7) are touched and
freed, so that the arrays of the runs reuse memory already handed out. Peak memory is measured apart, in a
new process per measurement that reads the file once (`block` and `ns`); that process's time (fresh
memory) is given too. Times are medians of the runs; ratios are to the sequential read of the same run,
with their range over the runs.
"""
import argparse
import gc
import os
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
TUNABLES = "glibc.malloc.mmap_max=0:glibc.malloc.trim_threshold=1099511627776"


def seconds(f):
    start = time.perf_counter()
    result = f()
    elapsed = time.perf_counter() - start
    del result
    gc.collect()
    return elapsed


def sequential(path):
    best = float("inf")
    for piece in (128 << 10, 1 << 20, 8 << 20):
        buffer = memoryview(bytearray(piece))

        def read():
            with open(path, "rb", buffering=0) as f:
                while f.readinto(buffer):
                    pass
        best = min(best, seconds(read))
    return best


def measurements(path, library):
    import numpy as np
    import quantities as pq
    from neo.io import NeuroshareIO

    import kvd
    from kvd import _lib
    from kvd.neo import KvdIO

    arrays, files = [], []

    def read_c():
        with kvd.open(path) as rec:
            s = rec.stream("elec0001")
            if not arrays:
                arrays.append(np.ones(s.shape, np.uint16))
            out = arrays[0]
            with rec._handle.use() as handle:
                start = time.perf_counter()
                _lib.lib.kvd_read_frames(handle, s.index, 0, s.n_frames, None, 0, out.ctypes.data)
                return time.perf_counter() - start

    def into_array():
        if not files:  # written once, as the arrays of the reads are (the memory is warm)
            files.append(np.ones(os.path.getsize(path), np.uint8))
        view = memoryview(files[0])
        with open(path, "rb", buffering=0) as f:
            start = time.perf_counter()
            for first in range(0, len(view), 8 << 20):
                f.readinto(view[first:first + (8 << 20)])
            return time.perf_counter() - start

    def lazy():
        block = KvdIO(path).read_block(lazy=True)
        return [p.load(time_slice=(1 * pq.s, 2 * pq.s)) for p in block.segments[0].analogsignals]

    return {
        "seq": lambda: sequential(path),
        "file": into_array,
        "read": lambda: seconds(lambda: kvd.open(path).stream("elec0001").read()),
        "read_c": read_c,
        "scaled": lambda: seconds(lambda: kvd.open(path).stream("elec0001").read(scaled=True)),
        "block": lambda: seconds(lambda: KvdIO(path).read_block(lazy=False)),
        "ns": lambda: seconds(lambda: NeuroshareIO(filename=path, dllname=library).read_segment()),
        "lazy": lambda: seconds(lazy),
        "dask": lambda: seconds(lambda: kvd.open(path).stream("elec0001").to_dask().mean(axis=0).compute(
            scheduler="threads")),
        "numpy": lambda: seconds(lambda: kvd.open(path).stream("elec0001").read().mean(axis=0)),
    }


def child(what, path, library):
    """Runs one measurement in this new process and prints its time and the process's peak memory."""
    elapsed = measurements(path, library)[what]()
    with open("/proc/self/status") as status:  # the peak of this process (ru_maxrss counts the parent's too)
        peak = next(int(line.split()[1]) * 1024 for line in status if line.startswith("VmHWM:"))
    print(elapsed, peak)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--seconds", type=float, default=330)
    parser.add_argument("--file")
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--warm", type=float, default=7.0, help="gigabytes of memory to warm")
    parser.add_argument("--keep", action="store_true", help="keep the recording written")
    parser.add_argument("--child", help=argparse.SUPPRESS)
    args = parser.parse_args()
    sys.path.insert(0, str(ROOT / "python"))
    library = os.environ.setdefault("KVD_LIBRARY", str(ROOT / "build" / "nsKVDLibrary.so.1"))
    if args.child:
        return child(args.child, args.file, library)
    if os.environ.get("GLIBC_TUNABLES") != TUNABLES:
        os.execve(sys.executable, [sys.executable] + sys.argv, dict(os.environ, GLIBC_TUNABLES=TUNABLES))

    folder = tempfile.mkdtemp(prefix="kvd_python_bench_")
    path = args.file or os.path.join(folder, "sample.kvd")
    if not args.file:
        subprocess.run([str(ROOT / "build" / "tools" / "kvdsynth"), "--seconds", str(args.seconds), path], check=True)
    size = os.path.getsize(path)
    sequential(path)  # into the page cache

    import numpy as np
    warm = np.ones(int(args.warm * (1 << 30)), np.uint8)
    del warm
    bench = measurements(path, library)
    runs = {name: [] for name in bench}
    for _ in range(args.runs):
        for name, measure in bench.items():
            runs[name].append(measure())
    memory = {}
    for what in ("block", "ns"):
        env = {k: v for k, v in os.environ.items() if k != "GLIBC_TUNABLES"}
        out = subprocess.run([sys.executable, __file__, "--child", what, "--file", path], env=env, check=True,
                             capture_output=True, text=True).stdout.split()
        memory[what] = (float(out[0]), int(out[1]))
    if not args.keep and not args.file:
        os.remove(path)
        os.rmdir(folder)

    def ratios(name, unit="seq"):
        values = [a / b for a, b in zip(runs[name], runs[unit])]
        return f"{statistics.median(values):.2f} ({min(values):.2f} to {max(values):.2f})"

    print(f"recording: {size / 1e6:.1f} MB; {args.runs} runs; sequential read {statistics.median(runs['seq']):.3f} s"
          f" ({min(runs['seq']):.3f} to {max(runs['seq']):.3f})")
    print(f"{'measurement':58} {'time':>8}  ratio to seq (range)")
    rows = [("file", "the file read into one array of its size"),
            ("read", "s.read(), every channel, whole recording"),
            ("read_c", "  of which kvd_read_frames"),
            ("scaled", "s.read(scaled=True), every channel"),
            ("block", "KvdIO(f).read_block(lazy=False)"),
            ("ns", "NeuroshareIO(f).read_segment()"),
            ("lazy", "KvdIO(f).read_block(lazy=True), 1 s of every signal"),
            ("dask", "s.to_dask().mean(axis=0).compute(), threads"),
            ("numpy", "s.read().mean(axis=0)")]
    for name, text in rows:
        print(f"{text:58} {statistics.median(runs[name]):7.3f}s  {ratios(name)}")
    print(f"NeuroshareIO over read_block(lazy=False): {ratios('ns', 'block')}")
    print(f"dask over numpy:                           {ratios('dask', 'numpy')}")
    for what, (elapsed, peak) in memory.items():
        print(f"new process, {what}: {elapsed:.3f} s, peak memory {peak / 1e9:.2f} GB = {peak / size:.2f} x the file")


if __name__ == "__main__":
    sys.exit(main())
