"""str(Protocol) on the largest protocol: time against decoding as many ASCII bytes, and peak memory.

    python benchmarks/bench_text_form.py [--runs 7]

The protocol runs for 1800 s and holds one arbitrary signal of 9,000,000 samples, about 280 MB of
text. Rendering and the baseline, bytes.decode("ascii") of the encoded text (one allocation of a
str of the same length plus one pass over it), alternate in one run and their medians are compared.
The peak memory of each is measured in its own process, from the resident high-water mark (VmHWM)
reset once the protocol is built, and given as a multiple of the text size.
"""

import argparse
import gc
import json
import statistics
import subprocess
import sys
from common import build, reset_high_water_mark, status_kib, timed

TIME_TARGET = 2.0  # render / decode
MEMORY_TARGET = 1.2  # peak above the built protocol / text size


def memory_child(operation):
    """Runs in its own process: the peak resident memory of one operation, as JSON on stdout."""
    protocol, _ = build()
    length = len(str(protocol))
    data = b"x" * length if operation == "decode" else None
    gc.collect()
    reset = reset_high_water_mark()
    base_rss, base_hwm = status_kib("VmRSS"), status_kib("VmHWM")
    text = str(protocol) if operation == "render" else data.decode("ascii")
    peak = status_kib("VmHWM")
    assert len(text) == length
    print(json.dumps({"reset": reset, "rss": base_rss, "hwm_before": base_hwm, "hwm_after": peak,
                      "length": length}))


def measure_memory(operation):
    out = subprocess.run([sys.executable, __file__, "--memory-child", operation],
                         check=True, capture_output=True, text=True).stdout
    return json.loads(out)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--runs", type=int, default=7, help="timed runs of each (at least 7)")
    parser.add_argument("--memory-child", choices=["render", "decode"], help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.memory_child:
        memory_child(args.memory_child)
        return

    protocol, description = build()
    text = str(protocol)  # also the warm-up
    data = text.encode("ascii")
    length = len(text)
    lines = text.count("\n") + 1
    del text
    render_times, decode_times = [], []
    for _ in range(max(args.runs, 7)):
        render_times.append(timed(lambda: str(protocol)))
        decode_times.append(timed(lambda: data.decode("ascii")))
    del protocol, data
    gc.collect()

    memory = {op: measure_memory(op) for op in ("render", "decode")}

    render_median, decode_median = statistics.median(render_times), statistics.median(decode_times)
    mib = 1024 * 1024
    print(f"protocol: {description}; text {length} characters ({length / mib:.1f} MiB), {lines} lines")
    print(f"str(protocol)  median {render_median * 1e3:8.2f} ms over {len(render_times)} runs "
          f"(min {min(render_times) * 1e3:.2f}, max {max(render_times) * 1e3:.2f}), "
          f"{length / render_median / mib:.0f} MiB/s")
    print(f"decode(ascii)  median {decode_median * 1e3:8.2f} ms over {len(decode_times)} runs "
          f"(min {min(decode_times) * 1e3:.2f}, max {max(decode_times) * 1e3:.2f}), "
          f"{length / decode_median / mib:.0f} MiB/s")
    print(f"time ratio str / decode: {render_median / decode_median:.2f} (target: within {TIME_TARGET})")
    for op, m in memory.items():
        extra = (m["hwm_after"] - m["hwm_before"]) * 1024
        how = "high-water mark reset after building" if m["reset"] else \
            "high-water mark NOT reset (clear_refs refused): building's peak may hide this one"
        print(f"memory {op:6}: resident {m['rss'] * 1024 / mib:.1f} MiB before, "
              f"peak {m['hwm_after'] * 1024 / mib:.1f} MiB; extra {extra / mib:.1f} MiB "
              f"= {extra / m['length']:.3f} x the text ({how})")
    render_extra = (memory["render"]["hwm_after"] - memory["render"]["hwm_before"]) * 1024
    print(f"memory ratio str peak / text size: {render_extra / memory['render']['length']:.3f} "
          f"(target: within {MEMORY_TARGET})")


if __name__ == "__main__":
    main()
