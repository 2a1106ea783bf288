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
