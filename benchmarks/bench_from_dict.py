"""Protocol.from_dict on the largest protocol: times against Protocol.load of its file.

    python benchmarks/bench_from_dict.py [--runs 9] [--dir DIR]

The protocol runs for 1800 s and holds one arbitrary signal of 9,000,000 samples. In one run,
alternating: Protocol.from_dict(protocol.to_dict()) (both ways, as an edit of a loaded file
takes them) against Protocol.load of the saved file; from_dict alone of the prepared dict;
and, for information, from_dict of the same dict with the samples as a list of ints. The
medians are compared.
"""

import argparse
import os
import statistics
import tempfile

from common import build, timed


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--runs", type=int, default=9)
    parser.add_argument("--dir", help="directory for the file (default: a new temporary one)")
    args = parser.parse_args()

    from pyvora import Protocol

    with tempfile.TemporaryDirectory(dir=args.dir) as directory:
        protocol, description = build()
        path = os.path.join(directory, "bench.vora")
        protocol.save(path)
        data = protocol.to_dict()
        listed = protocol.to_dict()
        listed["signals"][0]["samples"] = listed["signals"][0]["samples"].tolist()
        assert Protocol.from_dict(data).to_bytes() == Protocol.load(path).to_bytes() == protocol.to_bytes()
        assert Protocol.from_dict(listed).to_bytes() == protocol.to_bytes()

        both, alone, lists, loads = [], [], [], []
        for _ in range(max(args.runs, 1)):
            both.append(timed(lambda: Protocol.from_dict(protocol.to_dict())))
            loads.append(timed(lambda: Protocol.load(path)))
            alone.append(timed(lambda: Protocol.from_dict(data)))
            lists.append(timed(lambda: Protocol.from_dict(listed)))

    load = statistics.median(loads)
    print(f"protocol: {description}; {args.runs} runs each; Protocol.load median {load * 1e3:.2f} ms")
    for name, times, target in [("from_dict(to_dict())", both, "at most 1"),
                                ("from_dict(dict)", alone, "-"),
                                ("from_dict(samples list)", lists, "-")]:
        m = statistics.median(times)
        print(f"{name:<24} median {m * 1e3:8.2f} ms | ratio to load {m / load:.2f} (target: {target})")


if __name__ == "__main__":
    main()
