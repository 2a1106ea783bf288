"""Proves an installed pyvora with its extras (a wheel or an sdist just installed): the module
imports, a protocol with an arbitrary signal is composed, saved and loaded back unchanged, and
the `pyvora` command installed beside the interpreter checks the saved file, exports it as JSON,
builds the same bytes from that and plots it.

    python tests/wheel/installed.py DIRECTORY     # DIRECTORY receives the saved file
"""

import math
import os
import subprocess
import sys

import numpy as np

import pyvora
from pyvora import Channel, Coil, Protocol

directory = sys.argv[1]
here = os.path.dirname(os.path.abspath(__file__))
checkout = os.path.dirname(os.path.dirname(here))
assert not os.path.abspath(pyvora.__file__).startswith(checkout + os.sep), pyvora.__file__

protocol = Protocol()
protocol.set_session_duration(2.0)
protocol.set_stimulation_intensity(0.25)
sine = protocol.add_sine_signal(1.0, 10.0, phase=math.pi / 2, depth=0.5)
ramp = protocol.add_ramp_signal(1.0, 0.5, 0.5)
protocol.set_amplitude_source(Coil.A1, protocol.add_mixed_signal(sine, ramp))
protocol.set_amplitude_source(Coil.A2, protocol.add_constant_signal(0.5))
protocol.enable_channel(Channel.B)
protocol.set_amplitude_source(Coil.B2, 0, external=True)
protocol.set_amplitude_source(Coil.B1, protocol.add_arbitrary_signal(np.linspace(0.0, 1.0, protocol.get_num_samples())))
assert protocol.find_problems() == [], protocol.find_problems()

path = os.path.join(directory, "installed.vora")
protocol.save(path)
loaded = Protocol.load(path)
with open(path, "rb") as saved:
    assert saved.read() == protocol.to_bytes() == loaded.to_bytes()
assert str(loaded) == str(protocol)

command = os.path.join(os.path.dirname(sys.executable), "pyvora")


def run(*args: str) -> str:
    result = subprocess.run([command, *args], capture_output=True, text=True)
    assert (result.returncode, result.stderr) == (0, ""), result
    return result.stdout


assert run("check", path) == f"{path}: ok\n"
exported, rebuilt, picture = (os.path.join(directory, name) for name in ("p.json", "p.vora", "p.png"))
run("export", path, "-o", exported)
run("build", exported, "-o", rebuilt)
with open(rebuilt, "rb") as built:
    assert built.read() == protocol.to_bytes()
run("plot", path, "-o", picture)
with open(picture, "rb") as drawn:
    assert drawn.read(8) == b"\x89PNG\r\n\x1a\n"
print(f"pyvora {pyvora.__version__} from {os.path.dirname(pyvora.__file__)}: composed, saved, "
      f"loaded, checked, exported, built, plotted")
