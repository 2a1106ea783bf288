"""Protocols kept in git: `git diff` of a .vora file shows the changed field through the command."""

import shutil
import subprocess
import sysconfig
from pathlib import Path

import pytest

from pyvora import Protocol

COMMAND = str(Path(sysconfig.get_path("scripts")) / "pyvora")


@pytest.mark.skipif(shutil.which("git") is None, reason="needs git")
def test_git_diff_of_a_vora_file_shows_the_changed_field(tmp_path):
    def git(*args: str) -> str:
        return subprocess.run(["git", "-C", str(tmp_path), *args], check=True, capture_output=True, text=True,
                              env={"GIT_CONFIG_NOSYSTEM": "1", "HOME": str(tmp_path), "PATH": "/usr/bin:/bin"}).stdout

    git("init", "-q")
    git("config", "user.email", "lab@example.org")
    git("config", "user.name", "lab")
    git("config", "diff.vora.textconv", f"{COMMAND} show")  # as the README has it, with the command's path
    (tmp_path / ".gitattributes").write_text("*.vora diff=vora\n")
    p = Protocol()
    p.set_stimulation_intensity(0.2)
    p.save(str(tmp_path / "session.vora"))
    git("add", ".")
    git("commit", "-q", "-m", "first")
    p.set_stimulation_intensity(0.25)
    p.save(str(tmp_path / "session.vora"))
    diff = git("diff", "--", "session.vora")
    assert "-        intensity: 0.2,\n+        intensity: 0.25,\n" in diff
    assert "Binary files" not in diff
    # One changed sample changes the sample list's line, though not its count or range.
    import numpy as np

    p.add_arbitrary_signal(np.resize([0.0, 0.5, 1.0], p.get_num_samples()))
    p.save(str(tmp_path / "session.vora"))
    git("commit", "-q", "-am", "second")
    data = p.to_dict()
    data["signals"][-1]["samples"][1000] = 20000
    Protocol.from_dict(data).save(str(tmp_path / "session.vora"))
    [changed] = [line for line in git("diff", "--", "session.vora").splitlines() if line.startswith("+ ")]
    assert changed.replace(" ", "").startswith("+samples:<300000samples,min0,max32767,crc32")
    # The textconv through export shows the sample itself.
    git("config", "diff.vora.textconv", f"{COMMAND} export --samples-per-line 100")
    assert "+20000," in git("diff", "--", "session.vora").replace(" ", "")
