"""Draw docs/images/session.png, the picture that the README and the guide show: what
`pyvora plot session.vora` draws for the file that examples/compose_session.py writes; and
docs/images/review.png, what `pyvora plot --rules docs/study-rules.toml review.vora` draws for
that session spoilt for a review (see review_protocol()).

    python scripts/make_plot_picture.py            # draws the picture again
    python scripts/make_plot_picture.py --check    # exit status 1 when it is out of date

Pixels are no test of currency: they change with matplotlib's version, its fonts and its
antialiasing, none of which the picture is about. What makes the picture current is what it
was drawn from: the example's file bytes (and the rules') and the code that draws
(pyvora_cli/plot.py, pyvora_cli/plot_text.py and this script). Each picture keeps the SHA-256 of those inputs in a PNG text chunk; the docs test
recomputes it, so any change to the example or to the drawing asks for the picture to be drawn
again.
"""

import hashlib
import pathlib
import runpy
import sys

ROOT = pathlib.Path(__file__).resolve().parents[1]
PICTURE = ROOT / "docs" / "images" / "session.png"
REVIEW = ROOT / "docs" / "images" / "review.png"
EXAMPLE = ROOT / "examples" / "compose_session.py"
RULES = ROOT / "docs" / "study-rules.toml"
DRAWING_CODE = [ROOT / "pyvora_cli" / "plot.py", ROOT / "pyvora_cli" / "plot_text.py", pathlib.Path(__file__).resolve()]
KEY = "pyvora-inputs-sha256"


def example_protocol():
    """The protocol that examples/compose_session.py saves as session.vora."""
    return runpy.run_path(str(EXAMPLE))["compose"]()


def review_protocol():
    """The example's session with what a review should catch: its ramp steepened to 0.2 s (a
    warning of the study's rules), channel B's sine at 150 Hz (beyond the study's frequencies)
    and the session cut to 100 s after its envelope was computed (a problem: the envelope is
    longer than the session). Its intensity, 0.25, is above the study's approval too."""
    from pyvora import Protocol

    settings = example_protocol().to_dict()
    settings["signals"][3].update(up_duration=0.2, down_duration=0.2)
    settings["signals"][1]["frequency"] = 150.0
    protocol = Protocol.from_dict(settings)
    protocol.set_session_duration(100.0)
    return protocol


def inputs_digest(file_bytes: bytes, picture: pathlib.Path = PICTURE) -> str:
    digest = hashlib.sha256(file_bytes)
    if picture == REVIEW:
        digest.update(RULES.read_bytes())
    for path in DRAWING_CODE:
        digest.update(path.read_bytes())
    return digest.hexdigest()


def recorded_digest(picture: pathlib.Path = PICTURE) -> str | None:
    """The digest that the picture on disk was drawn from, or None without one."""
    from PIL import Image  # installed with matplotlib

    if not picture.exists():
        return None
    with Image.open(picture) as image:
        return image.text.get(KEY)  # type: ignore[attr-defined]


def main() -> int:
    status = 0
    for picture, protocol, name in ((PICTURE, example_protocol(), "session.vora"),
                                    (REVIEW, review_protocol(), "review.vora")):
        digest = inputs_digest(protocol.to_bytes(), picture)
        if sys.argv[1:] == ["--check"]:
            current = recorded_digest(picture) == digest
            print(f"{picture.relative_to(ROOT)}: {'current' if current else 'out of date'}")
            status = status or (0 if current else 1)
            continue
        from pyvora_cli import rules
        from pyvora_cli.plot import figure

        findings = rules.check(protocol, rules.load(str(RULES))) if picture == REVIEW else None
        # As the command records the rules file it was given.
        checked = [("docs/study-rules.toml", hashlib.sha256(RULES.read_bytes()).hexdigest())] if findings else None
        picture.parent.mkdir(parents=True, exist_ok=True)
        figure(protocol, name, findings=findings, rules=checked).savefig(
            picture, metadata={"Software": None, KEY: digest})
        print(f"wrote {picture.relative_to(ROOT)}")
    return status


if __name__ == "__main__":
    sys.path.insert(0, str(ROOT))  # draw with this tree's pyvora_cli, the code the digest covers
    sys.exit(main())
