"""Prints the sanitizer logs of one run and fails when there is any report in them.

    python check_reports.py LOG_DIR [--stderr FILE]

Every process of the run, subprocesses of the tests included, writes its AddressSanitizer and
LeakSanitizer reports to its own file under LOG_DIR (log_path=LOG_DIR/asan). A memory error, a
fatal signal, a sanitizer CHECK or an unsuppressed leak all fail. LeakSanitizer's list of
suppressions that matched (see lsan.supp) is shown, and fails nothing by itself.

UndefinedBehaviorSanitizer, linked next to ASan, writes its message to standard error; it is
told to abort (abort_on_error=1), which ASan logs as an ABRT report whose stack runs through
the check (__ubsan::ScopedReport, __ubsan_handle_*) to the offending line. The message itself
is looked for in FILE, the standard error of the main test process, when given.

Exit status 0 when the logs hold no report, 1 otherwise.
"""

import argparse
import os
import re
import sys

# "-----\nSuppressions used:\n  count bytes template\n  ...\n-----"
SUPPRESSIONS = re.compile(r"^-+\nSuppressions used:\n.*?^-+\n?", re.M | re.S)
# A UBSan message and the stack frames after it.
UBSAN_MESSAGE = re.compile(r"^(?:\S+:\d+:\d+|<unknown>): runtime error: .*\n(?:^ +#\d+ .*\n?)*", re.M)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("log_dir")
    parser.add_argument("--stderr", help="standard error of the main test process")
    args = parser.parse_args()
    log_dir = args.log_dir
    reports = []
    if args.stderr and os.path.exists(args.stderr):
        with open(args.stderr, encoding="utf-8", errors="replace") as err:
            for m in UBSAN_MESSAGE.finditer(err.read()):
                reports.append((args.stderr, m.group(0).rstrip()))
    suppressed = []
    for name in sorted(os.listdir(log_dir)):
        path = os.path.join(log_dir, name)
        with open(path, encoding="utf-8", errors="replace") as log:
            text = log.read()
        suppressed.extend(m.group(0) for m in SUPPRESSIONS.finditer(text))
        rest = SUPPRESSIONS.sub("", text).strip()
        if rest:
            reports.append((path, rest))

    for block in suppressed:
        print("-- leaks suppressed by lsan.supp (the interpreter's own):")
        print(block.rstrip())
    if reports:
        print(f"-- {len(reports)} sanitizer report(s):")
        for path, text in reports:
            print(f"==== {path}")
            print(text)
        return 1
    print("-- no sanitizer reports")
    return 0


if __name__ == "__main__":
    sys.exit(main())
