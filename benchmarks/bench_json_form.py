"""The JSON form against the text form on the largest protocol: in process, to_json() and
from_json() against str(); end to end, `pyvora export` and `pyvora build` against `pyvora show --full`.

    python benchmarks/bench_json_form.py [--runs 7] [--dir DIR] [--before PYTHON]

The protocol runs for 1800 s and holds one arbitrary signal of 9,000,000 samples. In process,
str(), to_json() and from_json() of its text alternate in one child interpreter. End to end, the
three commands alternate, as a user runs them: `show --full FILE` and `export FILE` with their
output going to /dev/null, `build JSON -o OUT` reading the exported JSON and writing the protocol
file into the same directory; each includes starting the interpreter and loading its input.
Medians are compared with str()'s and show --full's. With --before, the interpreter of another
installation (an earlier one, whose command wrote the JSON form in Python) is measured in the
same run, its figures beside these.
"""

import argparse
import json
import os
import statistics
import subprocess
import sys
import tempfile

from common import MAX_DURATION, child_seconds

# Run in a child interpreter: medians of str(), to_json() and from_json(), in seconds. An
# installation without to_json() has the command's former JSON library.
IN_PROCESS = r"""
import json, statistics, sys, time
import numpy as np
from pyvora import Protocol
p = Protocol()
p.set_session_duration(MAX_DURATION)
p.add_arbitrary_signal(np.random.default_rng(0).random(p.get_num_samples()))
if hasattr(Protocol, "to_json"):
    to_json, from_json = p.to_json, Protocol.from_json
else:
    from pyvora_cli import json_form
    to_json = lambda: b"".join(bytes(piece) for piece in json_form.to_json(p))
    from_json = lambda text: json_form.from_json(text, "bench.json")
text = to_json()
assert from_json(text).to_bytes() == p.to_bytes()
times = {"str()": [], "to_json()": [], "from_json()": []}
for _ in range(RUNS):
    for name, call in (("str()", lambda: str(p)), ("to_json()", to_json), ("from_json()", lambda: from_json(text))):
        start, cpu = time.perf_counter(), time.process_time()
        result = call()
        times[name].append((time.perf_counter() - start, time.process_time() - cpu))
        del result
print(json.dumps([{name: statistics.median(v[k] for v in values) for name, values in times.items()} for k in (0, 1)]))
"""


def in_process(python, runs):
    code = IN_PROCESS.replace("MAX_DURATION", repr(MAX_DURATION)).replace("RUNS", str(runs))
    return json.loads(subprocess.run([python, "-c", code], check=True, capture_output=True, text=True).stdout)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--runs", type=int, default=7, help="timed runs of each (at least 7)")
    parser.add_argument("--dir", help="where the files are written (default: a temporary directory)")
    parser.add_argument("--before", metavar="PYTHON", help="the interpreter of another installation, measured beside")
    args = parser.parse_args()
    runs = max(args.runs, 7)
    pythons = {"now": sys.executable}
    if args.before:
        pythons["before"] = args.before

    print(f"in process, one arbitrary signal of {int(MAX_DURATION * 5000)} samples, {runs} runs of each:")
    results = {label: in_process(python, runs) for label, python in pythons.items()}
    for index, kind in enumerate(("wall clock", "processor")):
        for label, both in results.items():
            medians = both[index]
            reference = medians["str()"]
            print(f"{kind:10}  {label:6} " + "  ".join(
                f"{name} {seconds * 1e3:7.1f} ms ({seconds / reference:.3f} x str())" for name, seconds in medians.items()))

    from common import build

    protocol, description = build()
    with tempfile.TemporaryDirectory(dir=args.dir) as directory:
        path = os.path.join(directory, "bench.vora")
        protocol.save(path)
        del protocol
        commands = {}
        for label, python in pythons.items():
            json_path, built = (os.path.join(directory, f"{label}.{name}") for name in ("json", "built.vora"))
            command = [python, "-m", "pyvora_cli"]
            subprocess.run([*command, "export", path, "-o", json_path], check=True)
            commands[label] = {"pyvora show --full FILE": [*command, "show", "--full", path],
                               "pyvora export FILE": [*command, "export", path],
                               "pyvora build JSON -o OUT": [*command, "build", json_path, "-o", built]}
        times = {(label, name): [] for label, named in commands.items() for name in named}
        for _ in range(runs):
            for label, named in commands.items():
                for name, argv in named.items():
                    times[label, name].append(child_seconds(argv))
        for label in commands:
            with open(path, "rb") as a, open(os.path.join(directory, f"{label}.built.vora"), "rb") as b:
                assert a.read() == b.read(), f"{label}: build did not give back the exported file"
        json_size = os.path.getsize(os.path.join(directory, "now.json"))

    print(f"end to end: {description}; JSON form {json_size / 1e6:.1f} MB; {runs} runs of each")
    for index, kind in enumerate(("wall clock", "processor")):
        for label in commands:
            reference = statistics.median(run[index] for run in times[label, "pyvora show --full FILE"])
            for name in commands[label]:
                values = [run[index] for run in times[label, name]]
                median = statistics.median(values)
                print(f"{kind:10}  {label:6} {name:26} median {median * 1e3:8.1f} ms (min {min(values) * 1e3:.1f}, "
                      f"max {max(values) * 1e3:.1f})  {median / reference:.3f} x show --full")


if __name__ == "__main__":
    sys.exit(main())
