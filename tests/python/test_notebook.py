"""The notebook summary, Protocol._repr_html_()."""

import html
import html.parser

import pytest

from pyvora import Channel, Coil, Protocol
from helpers import Needed

np = Needed("numpy")


class Texts(html.parser.HTMLParser):
    """The text of a document, and whether its tags are the summary's own."""

    def __init__(self) -> None:
        super().__init__()
        self.texts: list[str] = []
        self.tags: set[str] = set()

    def handle_starttag(self, tag, attrs):
        self.tags.add(tag)

    def handle_data(self, data):
        self.texts.append(data)


def test_the_summary_is_small_escaped_and_says_what_runs():
    p = Protocol()
    p.set_session_duration(1800.0)
    p.set_stimulation_intensity(0.5)
    p.add_arbitrary_signal(np.linspace(0.0, 1.0, p.get_num_samples()))
    p.add_ramp_signal(1.0, 0.5, 2.0)
    data = p.to_dict()
    data["machine_config"]["coils"][0]["name"] = "<script>alert('x')</script> & \u0301"
    p = Protocol.from_dict(data)
    p.set_amplitude_source(Coil.A2, 1)
    p.set_modulation_source(Channel.B, 4, external=True)
    summary = p._repr_html_()
    assert len(summary) < 4000
    parser = Texts()
    parser.feed(summary)
    assert parser.tags <= {"div", "table", "caption", "b", "tr", "th", "td", "p", "ul", "li"}
    text = "|".join(parser.texts)
    for expected in ("0.5 (above the machine's limit max_intensity_setpoint 0.3)",
                     "1800.0 s, 9000000 samples at 5000.0 samples/s",
                     "arbitrary #0: 9000000 samples, min 0, max 32767",
                     "ramp #1: peak 1.0, up_duration 0.5, down_duration 2.0",
                     "A2|ramp #1: peak 1.0", "B modulation (disabled)|external input 4",
                     "coil \"<script>alert('x')</script> & \\u{301}\"",
                     "intensity: 0.5 is above machine_config.max_intensity_setpoint 0.3"):
        assert expected in text


def test_a_review_marks_a_labs_findings_in_the_summary():
    from pyvora_cli import rules

    p = Protocol()
    p.add_constant_signal(0.0)  # what the other rows show
    p.set_amplitude_source(Coil.A1, p.add_mixed_signal(p.add_ramp_signal(1.0, 0.1, 1.0), 0))
    review = rules.review(p, rules.parse('[[rule]]\nname = "r"\npath = "signals[*].up_duration"\nmin = 0.5\n'))
    (finding,) = review.findings
    summary = review._repr_html_()
    assert summary == p._summary_html([(finding.path, str(finding), False)])
    parser = Texts()
    parser.feed(summary)
    assert f"ramp #1: peak 1.0, up_duration 0.1, down_duration 1.0|constant #0: value 0.0|{finding}" in "|".join(
        parser.texts)
    assert summary.count(html.escape(str(finding))) == 2  # in A1's cell, and listed below
