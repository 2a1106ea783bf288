import os
import subprocess
import sys

import pytest


@pytest.fixture
def fresh(monkeypatch):
    """A new protocol created with VORA_TARGET_MACHINE unset."""
    monkeypatch.delenv("VORA_TARGET_MACHINE", raising=False)
    from pyvora import Protocol

    return Protocol()


def run_python(code: str, env: dict | None = None) -> subprocess.CompletedProcess:
    """Runs a snippet in a new interpreter (for import-time and environment behaviour)."""
    full_env = dict(os.environ)
    if env is not None:
        full_env.update(env)
    return subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, env=full_env)
