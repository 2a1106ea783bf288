"""On a free-threaded interpreter the module declares that it needs the interpreter lock: the lock
is off until the module is imported and on after it, unless PYTHON_GIL=0 keeps it off. The
`pyvora` command keeps the warning about that off its standard error; importing the module
elsewhere still warns."""

import os
import subprocess
import sys
import sysconfig

import pytest

pytestmark = pytest.mark.skipif(not sysconfig.get_config_var("Py_GIL_DISABLED"),
                                reason="the interpreter is not a free-threaded build")

LOCK_AROUND_IMPORT = """
import sys, warnings
before = sys._is_gil_enabled()
with warnings.catch_warnings(record=True) as caught:
    warnings.simplefilter("always")
    import pyvora
print(before, sys._is_gil_enabled(), [w.category.__name__ for w in caught])
"""


def run(*args: str, gil: str | None = None) -> subprocess.CompletedProcess:
    env = {name: value for name, value in os.environ.items() if name != "PYTHON_GIL"}
    if gil is not None:
        env["PYTHON_GIL"] = gil
    return subprocess.run([sys.executable, *args], capture_output=True, text=True, env=env)


@pytest.mark.parametrize("gil, expected", [(None, "False True ['RuntimeWarning']"), ("0", "False False []")],
                         ids=["declared", "PYTHON_GIL=0"])
def test_import_turns_the_lock_on_unless_kept_off(gil, expected):
    result = run("-c", LOCK_AROUND_IMPORT, gil=gil)
    assert result.returncode == 0, result.stderr
    assert result.stdout.strip() == expected


COMMANDS = {"python -m pyvora_cli": [sys.executable, "-m", "pyvora_cli"],
            "pyvora": [os.path.join(os.path.dirname(sys.executable), "pyvora")]}


@pytest.mark.parametrize("command", COMMANDS.values(), ids=COMMANDS.keys())
def test_command_messages_stay_one_line(tmp_path, command):
    missing = str(tmp_path / "missing.vora")
    result = subprocess.run([*command, "check", missing], capture_output=True, text=True)
    assert result.returncode == 2
    assert result.stderr.count("\n") == 1 and result.stderr.startswith(f"{missing}: ")
