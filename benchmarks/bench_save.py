"""Protocol.save on the largest protocol: time against a plain write of as many bytes, and peak memory.

    python benchmarks/bench_save.py [--runs 7] [--dir DIR]

The protocol runs for 1800 s and holds one arbitrary signal of 9,000,000 samples. Saves and plain
writes alternate in one run, so both see the same disk and cache state; the medians are compared.
The extra memory of one save is measured in a separate process, from the resident high-water mark
(VmHWM) reset just before the save.
"""

import argparse
import gc
import json
import os
import statistics
import subprocess
import sys
import tempfile
import time

from common import build, reset_high_water_mark, status_kib


def memory_child(directory):
    """Runs in its own process: peak resident memory around one save, as JSON on stdout."""
    protocol, _ = build()
    gc.collect()
    reset = reset_high_water_mark()
    before_rss, before_hwm = status_kib("VmRSS"), status_kib("VmHWM")
    path = os.path.join(directory, "memory.vora")
    protocol.save(path)
    print(json.dumps({"reset": reset, "rss": before_rss, "hwm_before": before_hwm,
                      "hwm_after": status_kib("VmHWM"), "file": os.path.getsize(path)}))


def measure_memory(directory):
    out = subprocess.run([sys.executable, __file__, "--memory-child", "--dir", directory],
                         check=True, capture_output=True, text=True).stdout
    return json.loads(out)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--runs", type=int, default=7)
    parser.add_argument("--dir", help="directory for the files (default: a new temporary one)")
    parser.add_argument("--memory-child", action="store_true", help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.memory_child:
        memory_child(args.dir)
        return

    with tempfile.TemporaryDirectory(dir=args.dir) as directory:
        protocol, description = build()
        saved_path = os.path.join(directory, "bench.vora")
        plain_path = os.path.join(directory, "plain.bin")
        protocol.save(saved_path)  # also the warm-up: both files exist before the timed runs
        with open(saved_path, "rb") as f:
            data = f.read()
        with open(plain_path, "wb") as f:
            f.write(data)

        save_times, write_times = [], []
        for _ in range(max(args.runs, 1)):
            start = time.perf_counter()
            protocol.save(saved_path)
            save_times.append(time.perf_counter() - start)
            start = time.perf_counter()
            with open(plain_path, "wb") as f:
                f.write(data)
            write_times.append(time.perf_counter() - start)
        del protocol, data
        gc.collect()

        memory = measure_memory(directory)

    save_median, write_median = statistics.median(save_times), statistics.median(write_times)
    size = memory["file"]
    mib = 1024 * 1024
    print(f"protocol: {description}; file {size} bytes ({size / mib:.1f} MiB)")
    print(f"save        median {save_median * 1e3:8.2f} ms over {len(save_times)} runs "
          f"(min {min(save_times) * 1e3:.2f}, max {max(save_times) * 1e3:.2f})")
    print(f"plain write median {write_median * 1e3:8.2f} ms over {len(write_times)} runs "
          f"(min {min(write_times) * 1e3:.2f}, max {max(write_times) * 1e3:.2f})")
    print(f"ratio save / plain write: {save_median / write_median:.2f} (target: at most 1.5)")
    extra = (memory["hwm_after"] - memory["hwm_before"]) * 1024
    how = "high-water mark reset before the save" if memory["reset"] else \
        "high-water mark NOT reset (clear_refs refused): the delta can hide the save's peak"
    print(f"memory: resident {memory['rss'] * 1024 / mib:.1f} MiB with the protocol built; "
          f"peak during save {memory['hwm_after'] * 1024 / mib:.1f} MiB; "
          f"extra {extra / mib:.1f} MiB = {extra / size:.2f} x the encoding ({how})")


if __name__ == "__main__":
    main()
