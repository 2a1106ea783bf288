"""Compose stimulation protocols for two-channel stimulators and save them as .vora files."""

import os
from typing_extensions import Buffer
from typing import Any, ClassVar, SupportsFloat, SupportsIndex, TypeAlias, final

import numpy
import numpy.typing

# Float parameters take anything float() takes apart from text: int, bool, objects with
# __float__ or __index__. Positions take int or any object with __index__ (NumPy integers).
_Float: TypeAlias = SupportsFloat | SupportsIndex
_Position: TypeAlias = SupportsIndex
# The routing flag takes exactly True or False, or a NumPy boolean; not 0 or 1.
_Flag: TypeAlias = bool | numpy.bool_

@final
class Protocol:
    """Protocol()"""

    def __new__(cls) -> Protocol: ...
    def set_stimulation_intensity(self, intensity: _Float) -> None: ...
    def set_session_duration(self, duration: _Float) -> None: ...
    def enable_channel(self, channel: Channel) -> None: ...
    def set_amplitude_source(self, coil: Coil, index: _Position, external: _Flag = False) -> None: ...
    def set_modulation_source(self, channel: Channel, index: _Position, external: _Flag = False) -> None: ...
    def add_constant_signal(self, value: _Float) -> int: ...
    def add_sine_signal(
        self, amplitude: _Float, frequency: _Float, phase: _Float = 0.0, depth: _Float = 1.0
    ) -> int: ...
    def add_ramp_signal(self, peak: _Float, up_duration: _Float, down_duration: _Float) -> int: ...
    def add_mixed_signal(self, a_idx: _Position, b_idx: _Position) -> int: ...
    def add_arbitrary_signal(self, samples: numpy.typing.NDArray[numpy.float64]) -> int: ...
    def get_num_samples(self) -> int: ...
    def get_sampling_rate(self) -> float: ...
    def save(self, filepath: str) -> None: ...
    def __str__(self) -> str: ...
    def to_bytes(self) -> bytes:
        """Return the protocol file's bytes.

        Exactly the bytes that save() would write at this moment. The protocol is not
        changed: when its signal table is empty, the bytes hold the one constant 0.0
        signal that save() would add, but the signal is not added to the protocol.
        """
    @classmethod
    def from_bytes(cls, data: Buffer) -> Protocol:
        """Return a new Protocol decoded from the bytes of a protocol file.

        data is any object with the buffer protocol (bytes, bytearray, memoryview,
        mmap, a contiguous NumPy uint8 array); it is read in place, without a copy.
        The protocol holds exactly the file's content, and to_bytes() gives the same
        bytes back.

        Raises pyvora.DecodeError (a ValueError) when the bytes are not a protocol
        file: they end early or go on after it, a number is malformed or out of its
        range, a coil name is not UTF-8, or a value lies outside what a protocol can
        hold (intensity outside 0.0..1.0, session duration outside 0.01..1800.0
        seconds, a sample outside 0..32767, more than 9,000,000 samples, no signals).
        """
    @classmethod
    def load(cls, filepath: str | bytes | os.PathLike[str] | os.PathLike[bytes]) -> Protocol:
        """Return a new Protocol read from a protocol file.

        filepath is a str, bytes or os.PathLike; any file name is accepted. The file
        is decoded as by from_bytes(), and DecodeError is raised the same way. A file
        that cannot be read raises the OSError subclass for its error, with filename
        set, as open() does (FileNotFoundError, IsADirectoryError, PermissionError...).
        """
    def __reduce__(self) -> tuple[Any, tuple[bytes]]:
        """Helper for pickle and copy: the protocol as its file bytes."""

@final
class Channel:
    A: ClassVar[Channel]
    B: ClassVar[Channel]
    def __int__(self) -> int: ...
    def __repr__(self) -> str: ...

@final
class Coil:
    A1: ClassVar[Coil]
    A2: ClassVar[Coil]
    B1: ClassVar[Coil]
    B2: ClassVar[Coil]
    def __int__(self) -> int: ...
    def __repr__(self) -> str: ...

class DecodeError(ValueError):
    """Bytes that are not a protocol file.

    offset is the byte offset where the problem was found, path the field being
    read (such as 'signals[2].samples[17]'; empty when no field was). The
    message names both.
    """

    offset: int
    path: str

def _protocol_from_bytes(data: Buffer, /) -> Protocol:
    """Rebuild a pickled Protocol from its file bytes."""
