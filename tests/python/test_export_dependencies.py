import subprocess
import sys

from pyvora import Protocol


def test_export_without_msgspec_names_it(tmp_path):
    path = str(tmp_path / "p.vora")
    Protocol().save(path)
    code = ("import sys; sys.modules['msgspec'] = None; from pyvora_cli.entry import main; "
            "sys.exit(main(sys.argv[1:]))")
    result = subprocess.run([sys.executable, "-c", code, "export", path], capture_output=True, text=True)
    assert result.returncode == 2 and result.stderr.count("\n") == 1
    assert result.stderr.startswith(f"{path}: msgspec is needed to export: ")
