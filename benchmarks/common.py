"""Helpers shared by the benchmark scripts: the largest protocol, timing (in process and of child processes) and peak memory."""

import argparse
import resource
import shutil
import subprocess
import sysconfig
import time

MAX_DURATION = 1800.0


def runs_and_directory(doc, written="the files are written"):
    """The --runs (at least 7) and --dir options every end-to-end benchmark takes."""
    parser = argparse.ArgumentParser(description=doc.splitlines()[0])
    parser.add_argument("--runs", type=int, default=7, help="timed runs of each (at least 7)")
    parser.add_argument("--dir", help=f"where {written} (default: a temporary directory)")
    args = parser.parse_args()
    return max(args.runs, 7), args.dir


def build():
    """A protocol of the longest session holding one arbitrary signal, and a description of it."""
    import numpy as np
    from pyvora import Protocol

    protocol = Protocol()
    protocol.set_session_duration(MAX_DURATION)
    n = protocol.get_num_samples()
    protocol.add_arbitrary_signal(np.random.default_rng(0).random(n))
    return protocol, f"one arbitrary signal of {n} samples"


def timed(operation):
    """Seconds one call takes; its result is freed outside the timing."""
    start = time.perf_counter()
    result = operation()
    elapsed = time.perf_counter() - start
    del result
    return elapsed


def pyvora_command():
    """The installed `pyvora` command of the interpreter that runs the benchmark."""
    return shutil.which("pyvora", path=sysconfig.get_path("scripts")) or "pyvora"


def child_seconds(argv, statuses=(0,)):
    """Wall-clock seconds of one child process, and the processor seconds (user + system) it
    used: on a machine shared with other work the second is the steadier figure. The child must
    exit with one of `statuses`."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.perf_counter()
    status = subprocess.run(argv, stdout=subprocess.DEVNULL).returncode
    if status not in statuses:
        raise subprocess.CalledProcessError(status, argv)
    wall = time.perf_counter() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    return wall, (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)


def status_kib(field):
    """A field of /proc/self/status in KiB (VmRSS, VmHWM)."""
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith(field + ":"):
                return int(line.split()[1])
    raise LookupError(field)


def reset_high_water_mark():
    """Sets VmHWM to the current resident size; False where the kernel refuses."""
    try:
        with open("/proc/self/clear_refs", "w") as clear:
            clear.write("5")
        return True
    except OSError:
        return False


def alternating(runs_of, runs, statuses=(0,)):
    """{name: [(wall, cpu), ...]}: each command of `runs_of` run `runs` times, in turn, after one
    warm-up run each (files in the page cache)."""
    for argv in runs_of.values():
        child_seconds(argv, statuses)
    times = {name: [] for name in runs_of}
    for _ in range(runs):
        for name, argv in runs_of.items():
            times[name].append(child_seconds(argv, statuses))
    return times


def print_against(times, reference, short):
    """One line per command: median wall and processor time, and their ratios to `reference`'s."""
    import statistics

    base_wall, base_cpu = (statistics.median(t[i] for t in times[reference]) for i in (0, 1))
    width = max(map(len, times)) + 2
    for name, pairs in times.items():
        wall, cpu = (statistics.median(t[i] for t in pairs) for i in (0, 1))
        print(f"{name:{width}} wall median {wall * 1e3:8.1f} ms ({wall / base_wall:5.2f} x {short})   "
              f"cpu median {cpu * 1e3:8.1f} ms ({cpu / base_cpu:5.2f} x)   over {len(pairs)} runs")
