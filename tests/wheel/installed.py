"""Proves an installed pyvora (a wheel or an sdist just installed): the module imports, a
protocol is composed, saved and loaded back unchanged, and the `pyvora` command installed beside
the interpreter checks the saved file. NumPy is not needed.

    python tests/wheel/installed.py DIRECTORY     # DIRECTORY receives the saved file
"""

import math
import os
import subprocess
import sys

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
assert protocol.find_problems() == [], protocol.find_problems()

path = os.path.join(directory, "installed.vora")
protocol.save(path)
loaded = Protocol.load(path)
with open(path, "rb") as saved:
    assert saved.read() == protocol.to_bytes() == loaded.to_bytes()
assert str(loaded) == str(protocol)

command = os.path.join(os.path.dirname(sys.executable), "pyvora")
result = subprocess.run([command, "check", path], capture_output=True, text=True)
assert (result.returncode, result.stdout, result.stderr) == (0, f"{path}: ok\n", ""), result
print(f"pyvora {pyvora.__version__} from {os.path.dirname(pyvora.__file__)}: composed, saved, "
      f"loaded, checked")
