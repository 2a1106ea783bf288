"""Compose a two-channel stimulation session and save it as a protocol file.

    python examples/compose_session.py [session.vora]

Channel A drives its first coil with a 10 Hz sine whose level follows a slow ramp, its second
coil with a constant level, and its modulation with an envelope computed here with NumPy at the
protocol's sampling rate. Channel B is enabled too: its first coil runs a phase-shifted sine and
its second coil follows external input 0. What was composed is printed from the protocol's own
data (to_dict()): each signal at its position, what drives each coil and each channel's
modulation, then the problems find_problems() reports. Then the protocol is saved.
"""

import math
import sys
from typing import Any

import numpy as np
import numpy.typing as npt

from pyvora import Channel, Coil, Protocol

SESSION_SECONDS = 120.0
FADE_SECONDS = 5.0
BREATHING_HZ = 0.1
FULL_SCALE = 32767  # the stored sample of 1.0


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


def signal_text(signal: dict[str, Any]) -> str:
    """A signal of to_dict() as one line: its kind and parameters; a sample list as its count
    and range, as a fraction of full scale."""
    kind, names = signal["kind"], [name for name in signal if name != "kind"]
    if kind == "Arbitrary":
        samples = signal["samples"]
        return (f"Arbitrary: {len(samples)} samples from {samples.min() / FULL_SCALE:.2f} "
                f"to {samples.max() / FULL_SCALE:.2f} of full scale")
    return f"{kind}: " + ", ".join(f"{name} {signal[name]}" for name in names)


def source_text(source: dict[str, Any]) -> str:
    if source["external_selected"]:
        return f"external input {source['external']}"
    return f"signal {source['internal']}"


def describe(protocol: Protocol) -> str:
    data = protocol.to_dict()
    out = [f"session {data['session_duration']} s ({protocol.get_num_samples()} samples at "
           f"{protocol.get_sampling_rate()} per second), intensity {data['intensity']}",
           "signals:"]
    out += [f"  {position}: {signal_text(signal)}" for position, signal in enumerate(data["signals"])]
    for channel in "A", "B":
        settings = data[f"channel_{channel.lower()}_settings"]
        out.append(f"channel {channel} ({'enabled' if settings['enabled'] else 'disabled'}):")
        for number in 1, 2:
            out.append(f"  coil {channel}{number}: {source_text(settings[f'amplitude{number}_source'])}")
        out.append(f"  modulation: {source_text(settings['modulation_source'])}")
    problems = protocol.find_problems()
    out.append("problems: " + ("none" if not problems else ""))
    out += [f"  {problem}" for problem in problems]
    return "\n".join(out)


def main() -> None:
    path = sys.argv[1] if len(sys.argv) > 1 else "session.vora"
    protocol = compose()
    print(describe(protocol))
    protocol.save(path)
    print(f"written: {path}")


if __name__ == "__main__":
    main()
