"""pytest plugin for the sanitized run (loaded with `-p pytest_sanitizer` by scripts/sanitize.sh).

- Makes sure the tests exercise the sanitized build: the `pyvora` they imported must be the
  file named by PYVORA_SANITIZED_MODULE, else the run stops.
- Turns off resident-set growth checks: under AddressSanitizer the resident set follows its
  allocator (quarantine of freed blocks, shadow memory, stack traces), not our allocations.
  Leaks of native memory are LeakSanitizer's job here; reference-count checks still run.
- Runs LeakSanitizer once at the end of the session, while the interpreter is still intact.
  At exit the interpreter and NumPy leave much unfreed, so the exit-time check is off (it would
  also change the exit status of every subprocess the tests start). The report goes to the
  sanitizer log, which scripts/sanitize.sh checks afterwards.
"""

import ctypes
import gc
import os
import sys

import pytest

_EXPECTED = os.environ.get("PYVORA_SANITIZED_MODULE", "")
_neutralised = []


def _wrong_module():
    """A description of what is wrong with the imported pyvora, or None."""
    module = sys.modules.get("pyvora")
    if module is None:
        return "no test imported pyvora"
    actual = os.path.realpath(getattr(module, "__file__", "") or "")
    if actual != os.path.realpath(_EXPECTED):
        return f"tests imported {actual!r}, not the sanitized {_EXPECTED!r}"
    return None


def pytest_configure(config):
    if not _EXPECTED:
        raise pytest.UsageError("PYVORA_SANITIZED_MODULE is not set")
    try:
        ctypes.CDLL(None).__lsan_do_recoverable_leak_check
    except AttributeError:
        raise pytest.UsageError("the AddressSanitizer runtime is not loaded (LD_PRELOAD)")


def pytest_report_header(config):
    return f"sanitized pyvora: {_EXPECTED}"


def pytest_collection_finish(session):
    import pyvora  # the tests import it anyway; fail before running anything if it is the wrong one

    del pyvora
    problem = _wrong_module()
    if problem:
        pytest.exit(problem, returncode=3)
    for item in session.items:
        module = getattr(item, "module", None)
        if module is not None and callable(getattr(module, "resident_bytes", None)):
            if module.__name__ not in _neutralised:
                module.resident_bytes = lambda: 0
                _neutralised.append(module.__name__)


def pytest_terminal_summary(terminalreporter):
    if _neutralised:
        terminalreporter.write_line(
            "sanitized run: resident-set checks off in " + ", ".join(sorted(_neutralised)))


@pytest.hookimpl(trylast=True)
def pytest_sessionfinish(session, exitstatus):
    problem = _wrong_module()
    if problem:
        sys.stderr.write(f"sanitized run: {problem}\n")
        session.exitstatus = 3
    for _ in range(3):
        gc.collect()
    leaked = ctypes.CDLL(None).__lsan_do_recoverable_leak_check()
    if leaked:
        sys.stderr.write("LeakSanitizer found leaks; see the sanitizer reports below\n")
