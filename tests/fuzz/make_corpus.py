"""Writes the decoder fuzzer's seed corpus: small files of the kinds the tests save.

Run with the module installed: python tests/fuzz/make_corpus.py
"""

import pathlib

import numpy as np

from pyvora import Channel, Coil, Protocol

here = pathlib.Path(__file__).parent / "corpus"


def every_kind():
    p = Protocol()
    p.set_session_duration(0.01)
    p.set_stimulation_intensity(0.25)
    p.add_constant_signal(0.5)
    p.add_sine_signal(1.0, 10.0, 0.25, 0.5)
    p.add_ramp_signal(1.0, 2.0, 3.0)
    p.add_mixed_signal(0, 1)
    p.add_arbitrary_signal(np.linspace(0.0, 1.0, p.get_num_samples()))
    p.set_amplitude_source(Coil.B1, 2, external=True)
    p.set_modulation_source(Channel.A, 3)
    p.enable_channel(Channel.B)
    return p


def many_signals():
    p = Protocol()
    for i in range(130):
        p.add_mixed_signal(i, 129 - i)
    return p


def long_arbitrary():
    p = Protocol()
    p.set_session_duration(0.2)
    p.add_arbitrary_signal(np.random.default_rng(1).random(p.get_num_samples()))
    return p


def halved_arbitrary():
    """A run long enough (5000 samples) to be read in two halves by the way that splits runs."""
    p = Protocol()
    p.set_session_duration(1.0)
    p.add_arbitrary_signal(np.random.default_rng(2).random(p.get_num_samples()))
    return p


if __name__ == "__main__":
    here.mkdir(exist_ok=True)
    for name, p in [("default", Protocol()), ("every_kind", every_kind()),
                    ("many_signals", many_signals()), ("long_arbitrary", long_arbitrary()),
                    ("halved_arbitrary", halved_arbitrary())]:
        (here / f"{name}.vora").write_bytes(p.to_bytes())
