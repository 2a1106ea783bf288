"""Draw docs/images/session.png, the picture that the README and the guide show: what
`pyvora plot session.vora` draws for the file that examples/compose_session.py writes.

    python scripts/make_plot_picture.py            # draws the picture again
    python scripts/make_plot_picture.py --check    # exit status 1 when it is out of date

Pixels are no test of currency: they change with matplotlib's version, its fonts and its
antialiasing, none of which the picture is about. What makes the picture current is what it
was drawn from: the example's file bytes and the code that draws (pyvora_cli/plot.py and this
script). The picture keeps the SHA-256 of those inputs in a PNG text chunk; the docs test
recomputes it, so any change to the example or to the drawing asks for the picture to be drawn
again.
"""

import hashlib
import pathlib
import runpy
import sys

ROOT = pathlib.Path(__file__).resolve().parents[1]
PICTURE = ROOT / "docs" / "images" / "session.png"
EXAMPLE = ROOT / "examples" / "compose_session.py"
DRAWING_CODE = [ROOT / "pyvora_cli" / "plot.py", pathlib.Path(__file__).resolve()]
KEY = "pyvora-inputs-sha256"


def example_protocol():
    """The protocol that examples/compose_session.py saves as session.vora."""
    return runpy.run_path(str(EXAMPLE))["compose"]()


def inputs_digest(file_bytes: bytes) -> str:
    digest = hashlib.sha256(file_bytes)
    for path in DRAWING_CODE:
        digest.update(path.read_bytes())
    return digest.hexdigest()


def recorded_digest() -> str | None:
    """The digest that the picture on disk was drawn from, or None without one."""
    from PIL import Image  # installed with matplotlib

    with Image.open(PICTURE) as picture:
        return picture.text.get(KEY)  # type: ignore[attr-defined]


def main() -> int:
    protocol = example_protocol()
    digest = inputs_digest(protocol.to_bytes())
    if sys.argv[1:] == ["--check"]:
        current = PICTURE.exists() and recorded_digest() == digest
        print(f"{PICTURE.relative_to(ROOT)}: {'current' if current else 'out of date'}")
        return 0 if current else 1
    from pyvora_cli.plot import figure

    PICTURE.parent.mkdir(parents=True, exist_ok=True)
    figure(protocol, "session.vora").savefig(PICTURE, metadata={"Software": None, KEY: digest})
    print(f"wrote {PICTURE.relative_to(ROOT)}")
    return 0


if __name__ == "__main__":
    sys.path.insert(0, str(ROOT))  # draw with this tree's pyvora_cli, the code the digest covers
    sys.exit(main())
