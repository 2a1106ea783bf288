"""Protocol.load and to_bytes on the largest protocol: times against a plain read and save, peak memory.

    python benchmarks/bench_read_back.py [--runs 9] [--dir DIR]

The protocol runs for 1800 s and holds one arbitrary signal of 9,000,000 samples. In one run,
alternating: Protocol.load against open(path, "rb").read() of the same file, Protocol.from_bytes
of the file's bytes already in memory (the decoding alone), and to_bytes() against save(). Each
run gives a ratio; the medians of the runs are compared. Peak memory of one load is measured in a separate
process from the resident high-water mark (VmHWM) reset just before it, against the file size
plus the loaded protocol's own memory (resident growth kept after the load, once freed memory
is handed back).
"""

import argparse
import gc
import json
import os
import statistics
import subprocess
import sys
import tempfile

from common import build, reset_high_water_mark, status_kib, timed


def memory_child(path):
    """Runs in its own process: peak and kept resident memory around one load, as JSON."""
    import ctypes

    from pyvora import Protocol

    Protocol.load(path)  # warm-up: the module and its first allocations settle
    trim = ctypes.CDLL(None).malloc_trim  # hands freed heap memory back, so RSS shows what is kept
    gc.collect()
    trim(0)
    reset = reset_high_water_mark()
    before = status_kib("VmRSS")
    protocol = Protocol.load(path)
    gc.collect()
    trim(0)
    print(json.dumps({"reset": reset, "before": before, "peak": status_kib("VmHWM"),
                      "kept": status_kib("VmRSS"), "file": os.path.getsize(path)}))
    del protocol


def ratio_line(name, other, a, b, target):
    ratios = [x / y for x, y in zip(a, b)]
    print(f"{name:<10} median {statistics.median(a) * 1e3:8.2f} ms | {other:<14} median "
          f"{statistics.median(b) * 1e3:8.2f} ms | ratio {statistics.median(ratios):.2f} "
          f"(runs {min(ratios):.2f}..{max(ratios):.2f}; target: {target})")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--runs", type=int, default=9)
    parser.add_argument("--dir", help="directory for the files (default: a new temporary one)")
    parser.add_argument("--memory-child", help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.memory_child:
        memory_child(args.memory_child)
        return

    from pyvora import Protocol

    with tempfile.TemporaryDirectory(dir=args.dir) as directory:
        protocol, description = build()
        path = os.path.join(directory, "bench.vora")
        protocol.save(path)
        assert Protocol.load(path).to_bytes() == protocol.to_bytes()

        def plain_read():
            with open(path, "rb") as f:
                return f.read()

        data = plain_read()
        loads, reads, decodes, to_bytes, saves = [], [], [], [], []
        for _ in range(max(args.runs, 1)):
            loads.append(timed(lambda: Protocol.load(path)))
            reads.append(timed(plain_read))
            decodes.append(timed(lambda: Protocol.from_bytes(data)))
            to_bytes.append(timed(protocol.to_bytes))
            saves.append(timed(lambda: protocol.save(path)))
        del protocol, data
        gc.collect()
        memory = json.loads(subprocess.run([sys.executable, __file__, "--memory-child", path],
                                           check=True, capture_output=True, text=True).stdout)

    mib = 1024 * 1024
    size = memory["file"]
    print(f"protocol: {description}; file {size} bytes ({size / mib:.1f} MiB); {args.runs} runs each")
    ratio_line("load", "plain read", loads, reads, "at most 3, goal 2")
    ratio_line("from_bytes", "plain read", decodes, reads, "none: the decoding alone")
    ratio_line("to_bytes", "save", to_bytes, saves, "at most 1")
    peak = (memory["peak"] - memory["before"]) * 1024
    kept = (memory["kept"] - memory["before"]) * 1024
    note = "" if memory["reset"] else " (high-water mark NOT reset: clear_refs refused)"
    print(f"memory of one load: peak {peak / mib:.1f} MiB; file {size / mib:.1f} MiB + protocol "
          f"{kept / mib:.1f} MiB = {(size + kept) / mib:.1f} MiB; ratio {peak / (size + kept):.2f} "
          f"(target: at most 1.10){note}")


if __name__ == "__main__":
    main()
