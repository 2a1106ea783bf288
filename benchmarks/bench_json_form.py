"""`pyvora export` and `pyvora build` against `pyvora show --full`, end to end, on the largest file.

    python benchmarks/bench_json_form.py [--runs 7] [--dir DIR]

The protocol runs for 1800 s and holds one arbitrary signal of 9,000,000 samples. The three
commands alternate, as a user runs them: `show --full FILE` and `export FILE` with their output
going to /dev/null, `build JSON -o OUT` reading the exported JSON and writing the protocol file
into the same directory. Each includes starting the interpreter and loading its input. Medians
of wall-clock and of processor time are compared with show --full's.
"""

import os
import statistics
import subprocess
import sys
import tempfile

from common import build, child_seconds, pyvora_command, runs_and_directory


def main():
    runs, directory_option = runs_and_directory(__doc__)

    protocol, description = build()
    with tempfile.TemporaryDirectory(dir=directory_option) as directory:
        path, json_path, built = (os.path.join(directory, name) for name in ("bench.vora", "bench.json", "built.vora"))
        protocol.save(path)
        del protocol
        subprocess.run([sys.executable, "-m", "pyvora_cli", "export", path, "-o", json_path], check=True)
        commands = {"pyvora show --full FILE": ["show", "--full", path],
                    "pyvora export FILE": ["export", path],
                    "pyvora build JSON -o OUT": ["build", json_path, "-o", built]}
        times = {name: [] for name in commands}
        for _ in range(runs):
            for name, command in commands.items():
                times[name].append(child_seconds([pyvora_command(), *command]))
        with open(path, "rb") as a, open(built, "rb") as b:
            assert a.read() == b.read(), "build did not give back the exported file"
        json_size = os.path.getsize(json_path)

    print(f"protocol: {description}; JSON form {json_size / 1e6:.1f} MB; {runs} runs of each")
    for index, kind in enumerate(("wall clock", "processor")):
        reference = statistics.median(run[index] for run in times["pyvora show --full FILE"])
        for name, runs_of_it in times.items():
            values = [run[index] for run in runs_of_it]
            median = statistics.median(values)
            print(f"{kind:10}  {name:26} median {median * 1e3:8.1f} ms (min {min(values) * 1e3:.1f}, "
                  f"max {max(values) * 1e3:.1f})  {median / reference:.3f} x show --full")


if __name__ == "__main__":
    sys.exit(main())
