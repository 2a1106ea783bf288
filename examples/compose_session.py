"""Compose a two-channel stimulation session and save it as a protocol file.

    python examples/compose_session.py [session.vora]

Channel A drives its first coil with a 10 Hz sine whose level follows a slow ramp, its second
coil with a constant level, and its modulation with an envelope computed here with NumPy at the
protocol's sampling rate. Channel B is enabled too: its first coil runs a phase-shifted sine and
its second coil follows external input 0. What was composed is printed in the words of the
protocol's text form: each signal at its position, then each channel's routing to its coils and
its modulation. Then the protocol is saved.
"""

import math
import re
import sys

import numpy as np
import numpy.typing as npt

from pyvora import Channel, Coil, Protocol

SESSION_SECONDS = 120.0
FADE_SECONDS = 5.0
BREATHING_HZ = 0.1


def envelope(num_samples: int, sampling_rate: float) -> npt.NDArray[np.float64]:
    """Fade in, a slow swell between 60 % and 100 %, fade out; every value within 0.0..1.0."""
    t = np.arange(num_samples, dtype=np.float64) / sampling_rate
    swell = 0.8 + 0.2 * np.sin(2.0 * math.pi * BREATHING_HZ * t)
    fade = np.minimum(1.0, np.minimum(t, t[-1] - t) / FADE_SECONDS)
    # Clip, since rounding may carry a product a hair outside the range the protocol accepts.
    samples: npt.NDArray[np.float64] = np.clip(swell * fade, 0.0, 1.0)
    return samples


def compose() -> Protocol:
    protocol = Protocol()
    protocol.set_session_duration(SESSION_SECONDS)
    protocol.set_stimulation_intensity(0.25)

    # Every add returns the signal's position, which the routing calls below refer to.
    sine_a = protocol.add_sine_signal(1.0, 10.0)  # phase 0.0, depth 1.0
    sine_b = protocol.add_sine_signal(0.8, 10.0, phase=math.pi, depth=0.6)
    level = protocol.add_constant_signal(0.5)
    ramp = protocol.add_ramp_signal(1.0, 30.0, 30.0)
    ramped_sine = protocol.add_mixed_signal(sine_a, ramp)
    # One sample per sampling period of the whole session, exactly.
    shape = envelope(protocol.get_num_samples(), protocol.get_sampling_rate())
    swell = protocol.add_arbitrary_signal(shape)

    protocol.set_amplitude_source(Coil.A1, ramped_sine)
    protocol.set_amplitude_source(Coil.A2, level)
    protocol.set_modulation_source(Channel.A, swell)

    protocol.enable_channel(Channel.B)
    protocol.set_amplitude_source(Coil.B1, sine_b)
    protocol.set_amplitude_source(Coil.B2, 0, external=True)  # external input 0
    protocol.set_modulation_source(Channel.B, swell)
    return protocol


def indent_of(line: str) -> int:
    return len(line) - len(line.lstrip())


def entries(lines: list[str], name: str) -> dict[str, str]:
    """The entries of the text form's block `name:` (the first one found), each on one line,
    keyed by field name or, in a list, by position."""
    start = next(i for i, line in enumerate(lines) if line.strip().startswith(f"{name}: "))
    depth = indent_of(lines[start]) + 4
    found: dict[str, str] = {}
    i = start + 1
    while indent_of(lines[i]) == depth:
        end = i
        while indent_of(lines[end + 1]) > depth:
            end += 1
        if end > i:
            end += 1  # the entry's closing line
        text = " ".join(line.strip() for line in lines[i:end + 1]).rstrip(",")
        text = re.sub(r",? ([)}\]])", r" \1", text).replace("( ", "(").replace(" )", ")")
        key, colon, value = text.partition(": ")
        if colon and key.isidentifier():
            found[key] = value
        else:
            found[str(len(found))] = text
        i = end + 1
    return found


def describe(protocol: Protocol) -> str:
    lines = protocol._summary_text().splitlines()  # sample lists cut to one line each
    settings = entries(lines, "settings")
    out = [f"{protocol.get_num_samples()} samples at {protocol.get_sampling_rate()} samples/s, "
           f"session_duration: {settings['session_duration']}, intensity: {settings['intensity']}",
           "signals:"]
    out += [f"  {position}: {signal}" for position, signal in entries(lines, "signals").items()]
    for channel in "AB":
        routing = entries(lines, f"channel_{channel.lower()}_settings")
        out.append(f"channel {channel}: enabled: {routing['enabled']}, coil_idx: {routing['coil_idx']}")
        for number, source in ((1, "amplitude1_source"), (2, "amplitude2_source")):
            out.append(f"  coil {channel}{number} {source}: {routing[source]}")
        out.append(f"  channel {channel} modulation_source: {routing['modulation_source']}")
    return "\n".join(out)


def main() -> None:
    path = sys.argv[1] if len(sys.argv) > 1 else "session.vora"
    protocol = compose()
    print(describe(protocol))
    protocol.save(path)
    print(f"saved {path}")


if __name__ == "__main__":
    main()
