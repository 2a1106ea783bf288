"""to_dict() and `pyvora show` on the largest protocol, against str() of it.

    python benchmarks/bench_overview.py [--runs 7] [--dir DIR]

The protocol runs for 1800 s and holds one arbitrary signal of 9,000,000 samples. In one process,
str(), to_dict() and what `show` computes (_summary_text() and find_problems()) alternate and
their medians are compared with str()'s. Then the command itself runs on the saved file, as a
user runs it with its output going to /dev/null: `pyvora show FILE` against
`pyvora show --full FILE`, which prints str() of the same protocol; both include starting the
interpreter and loading the file.
"""

import os
import shutil
import statistics
import subprocess
import sys
import sysconfig
import tempfile
import time

from common import build, runs_and_directory, timed


def command_seconds(args):
    command = shutil.which("pyvora", path=sysconfig.get_path("scripts")) or "pyvora"
    start = time.perf_counter()
    subprocess.run([command, *args], check=True, stdout=subprocess.DEVNULL)
    return time.perf_counter() - start


def line(name, times, reference):
    median = statistics.median(times)
    ratio = f"{median / reference:7.4f} x str()" if reference else ""
    return (f"{name:34} median {median * 1e3:9.2f} ms over {len(times)} runs "
            f"(min {min(times) * 1e3:.2f}, max {max(times) * 1e3:.2f})  {ratio}")


def main():
    runs, directory_option = runs_and_directory(__doc__, "the protocol file is written")

    protocol, description = build()
    protocol.to_dict(), str(protocol)  # warm-up: NumPy loaded, allocator primed
    in_process = {"str()": [], "to_dict()": [], "_summary_text() + find_problems()": []}
    for _ in range(runs):
        in_process["str()"].append(timed(lambda: str(protocol)))
        in_process["to_dict()"].append(timed(protocol.to_dict))
        in_process["_summary_text() + find_problems()"].append(
            timed(lambda: (protocol._summary_text(), protocol.find_problems())))

    print(f"protocol: {description}")
    reference = statistics.median(in_process["str()"])
    for name, times in in_process.items():
        print(line(name, times, reference))

    with tempfile.TemporaryDirectory(dir=directory_option) as directory:
        path = os.path.join(directory, "bench.vora")
        protocol.save(path)
        del protocol
        commands = {"pyvora show FILE": [], "pyvora show --full FILE": []}
        for _ in range(runs):
            commands["pyvora show FILE"].append(command_seconds(["show", path]))
            commands["pyvora show --full FILE"].append(command_seconds(["show", "--full", path]))
    full = statistics.median(commands["pyvora show --full FILE"])
    print(line("pyvora show FILE", commands["pyvora show FILE"], None)
          + f"  {statistics.median(commands['pyvora show FILE']) / full:.4f} x show --full")
    print(line("pyvora show --full FILE", commands["pyvora show --full FILE"], None))


if __name__ == "__main__":
    sys.exit(main())
