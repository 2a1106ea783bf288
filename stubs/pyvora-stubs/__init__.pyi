"""Compose stimulation protocols for two-channel stimulators and save them as .vora files.

A ``Protocol`` holds one protocol for a stimulator with two channels, A and B, each driving two
coils (A1 and A2 on channel A, B1 and B2 on channel B): a global intensity, a session duration,
a table of signals, and for each channel whether it is enabled and which signal or external
input drives each coil's amplitude and the channel's modulation. ``Coil`` and ``Channel`` name
the coils and channels. ``str(protocol)`` shows the whole protocol as text and
``protocol.save("name.vora")`` writes the file the stimulator runs.

Units fixed by the module: intensity and arbitrary samples are fractions 0.0 to 1.0, the
session duration is in seconds (0.01 to 1800.0), the sampling rate is 5000 samples per second.
Sine, ramp and constant parameters carry no unit of the module's own; they are stored as given.

Refusals. Every value is checked where it enters. A value outside its limits, an arbitrary
signal that does not fit, a file name without ".vora" and a file that cannot be written raise
``PanicException`` (type name ``pyo3_runtime.PanicException``), whose message is the failed
condition, for example ``assertion failed: duration >= 0.01``; a line naming the failed check
goes to standard error first. It derives from ``BaseException``, not from ``Exception``, and it
is not importable: catch it with ``except BaseException`` and re-raise what is not a refusal::

    try:
        protocol.set_session_duration(seconds)
    except BaseException as error:
        if type(error).__name__ != "PanicException":
            raise  # KeyboardInterrupt, SystemExit, ...
        print("refused:", error)

Wrong arguments raise ``TypeError`` or ``OverflowError``, a protocol used from inside one of
its own calls ``RuntimeError``, exhausted memory ``MemoryError``. A refused call changes
nothing: the protocol stays as it was and usable. Reading files back (``Protocol.load``,
``Protocol.from_bytes``) raises ``OSError`` and ``DecodeError``, ordinary exceptions.
"""

import os
from collections.abc import Mapping, Sequence
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

__version__: str
"""The version of the installed pyvora distribution, for example ``"0.1.0"``."""

@final
class Protocol:
    """One stimulation protocol, built by method calls and saved with ``save``.

    ``Protocol()`` takes no arguments and starts from the default protocol: intensity 0.0,
    session duration 60.0 seconds (300000 samples), channel A enabled, channel B disabled,
    every amplitude and modulation source selecting signal position 0, and an empty signal
    table, so the first signal added takes position 0. It describes the default machine: a
    coil named "Default" tuned to a 22.62 kHz carrier, 6 external inputs. When the environment
    variable ``VORA_TARGET_MACHINE`` is set (to any UTF-8 value, even empty) at construction,
    the protocol is marked as composed on the stimulator itself.

    Positions and external input numbers are stored unchecked: a position may name a signal
    added later, or none at all; an external input number is not compared with the machine's.

    Errors every method shares:

    - ``TypeError`` for arguments that do not bind, for example
      ``Protocol.set_session_duration() missing 1 required positional argument: 'duration'``,
      ``Protocol.add_sine_signal() takes from 2 to 4 positional arguments but 5 were given``,
      ``Protocol.save() got an unexpected keyword argument 'path'``,
      ``Protocol.add_ramp_signal() got multiple values for argument 'peak'``,
      ``Protocol.__new__() takes 0 positional arguments but 1 was given``.
    - ``TypeError`` for an argument of the wrong type, named by its parameter, for example
      ``argument 'duration': must be real number, not str``.
    - ``RuntimeError`` ``Already borrowed`` or ``Already mutably borrowed`` when the protocol
      is used from inside one of its own calls (an argument's ``__float__`` calling back into
      the same protocol). Calls never wait for each other.
    - ``MemoryError`` when memory runs out; the protocol is unchanged.
    """

    def __new__(cls) -> Protocol:
        """A new protocol with the defaults described on the class.

        Raises:
            TypeError: ``Protocol.__new__() takes 0 positional arguments but 1 was given``
                (any positional argument), ``Protocol.__new__() got an unexpected keyword
                argument 'x'`` (any keyword).
        """

    def set_stimulation_intensity(self, intensity: _Float) -> None:
        """Set the global stimulation intensity, a fraction from 0.0 to 1.0 inclusive.

        Args:
            intensity: 0.0 (none) to 1.0 (full); ints are taken as floats.

        Raises:
            PanicException: ``assertion failed: intensity >= 0.0 && intensity <= 1.0`` for a
                value below 0.0, above 1.0, or NaN. The intensity keeps its previous value.
            TypeError: ``argument 'intensity': must be real number, not str`` (any non-number).
            OverflowError: ``int too large to convert to float``.
        """

    def set_session_duration(self, duration: _Float) -> None:
        """Set the session length in seconds, 0.01 to 1800.0 inclusive (default 60.0).

        The sample count ``get_num_samples()`` follows the new duration. Arbitrary signals
        added earlier keep the number of samples they had.

        Args:
            duration: seconds, 0.01 to 1800.0.

        Raises:
            PanicException: ``assertion failed: duration <= config::MAX_SESSION_DURATION`` for
                a value above 1800.0, infinity or NaN; ``assertion failed: duration >= 0.01``
                for a value below 0.01. The duration keeps its previous value.
            TypeError: ``argument 'duration': must be real number, not str`` (any non-number).
            OverflowError: ``int too large to convert to float``.
        """

    def enable_channel(self, channel: Channel) -> None:
        """Enable a channel. Channel A starts enabled, channel B disabled.

        There is no way to disable a channel again; enabling twice is the same as once.

        Args:
            channel: ``Channel.A`` or ``Channel.B``.

        Raises:
            TypeError: ``argument 'channel': 'int' object cannot be cast as 'Channel'`` for
                anything but a ``Channel`` member (the type name varies).
        """

    def set_amplitude_source(self, coil: Coil, index: _Position, external: _Flag = False) -> None:
        """Choose what drives a coil's amplitude: a signal, or an external input.

        With ``external=False`` (the default), ``index`` is the position of a signal in this
        protocol's signal table, as returned by the ``add_*_signal`` methods. With
        ``external=True`` it is the number of an external signal input of the stimulator,
        counted from 0 (the default machine has 6: 0 to 5). Neither is checked: a position may
        name a signal that is added later. Each call replaces the coil's source completely.

        Args:
            coil: ``Coil.A1``, ``Coil.A2`` (channel A), ``Coil.B1`` or ``Coil.B2`` (channel B).
            index: a signal position or an external input number, 0 to 2**64 - 1.
            external: exactly ``True`` or ``False`` (or a NumPy boolean); not 0 or 1.

        Raises:
            TypeError: ``argument 'coil': 'int' object cannot be cast as 'Coil'``;
                ``argument 'index': 'float' object cannot be interpreted as an integer``;
                ``argument 'external': 'int' object cannot be cast as 'bool'`` (the type
                names vary with the argument given).
            OverflowError: ``can't convert negative int to unsigned`` for a negative index,
                ``int too big to convert`` for 2**64 and above.
        """

    def set_modulation_source(self, channel: Channel, index: _Position, external: _Flag = False) -> None:
        """Choose what drives a channel's modulation: a signal, or an external input.

        ``index`` and ``external`` mean what they mean for ``set_amplitude_source``: a signal
        position, or with ``external=True`` an external input number counted from 0; neither
        is checked. Each call replaces the channel's modulation source completely.

        Args:
            channel: ``Channel.A`` or ``Channel.B``.
            index: a signal position or an external input number, 0 to 2**64 - 1.
            external: exactly ``True`` or ``False`` (or a NumPy boolean); not 0 or 1.

        Raises:
            TypeError: ``argument 'channel': 'int' object cannot be cast as 'Channel'``;
                ``argument 'index': 'float' object cannot be interpreted as an integer``;
                ``argument 'external': 'int' object cannot be cast as 'bool'`` (the type
                names vary with the argument given).
            OverflowError: ``can't convert negative int to unsigned`` for a negative index,
                ``int too big to convert`` for 2**64 and above.
        """

    def add_constant_signal(self, value: _Float) -> int:
        """Append a constant signal and return its position in the signal table.

        The value is stored exactly as given; no range is checked.

        Args:
            value: the signal's level.

        Returns:
            The new signal's position: the number of signals the table held before.

        Raises:
            TypeError: ``argument 'value': must be real number, not str`` (any non-number).
            OverflowError: ``int too large to convert to float``.
        """

    def add_sine_signal(
        self, amplitude: _Float, frequency: _Float, phase: _Float = 0.0, depth: _Float = 1.0
    ) -> int:
        """Append a sine signal and return its position in the signal table.

        The four values are stored exactly as given: the module fixes no unit for them and
        checks no range (negative values, infinities and NaN are kept as they are).

        Args:
            amplitude: the sine's amplitude.
            frequency: the sine's frequency.
            phase: the sine's phase; 0.0 when omitted.
            depth: the sine's modulation depth; 1.0 when omitted.

        Returns:
            The new signal's position: the number of signals the table held before.

        Raises:
            TypeError: ``argument 'frequency': must be real number, not str`` (any
                non-number, ``None`` included, named by its parameter).
            OverflowError: ``int too large to convert to float``.
        """

    def add_ramp_signal(self, peak: _Float, up_duration: _Float, down_duration: _Float) -> int:
        """Append a ramp signal and return its position in the signal table.

        The three values are stored exactly as given: the module fixes no unit for them and
        checks no range.

        Args:
            peak: the level the ramp reaches.
            up_duration: how long it rises.
            down_duration: how long it falls.

        Returns:
            The new signal's position: the number of signals the table held before.

        Raises:
            TypeError: ``argument 'peak': must be real number, not str`` (any non-number,
                named by its parameter).
            OverflowError: ``int too large to convert to float``.
        """

    def add_mixed_signal(self, a_idx: _Position, b_idx: _Position) -> int:
        """Append a signal that mixes two others, given by their positions; return its position.

        The positions are stored unchecked: they may point past the end of the table, at the
        new signal itself, or at signals added later.

        Args:
            a_idx: position of the first signal, 0 to 2**64 - 1.
            b_idx: position of the second signal, 0 to 2**64 - 1.

        Returns:
            The new signal's position: the number of signals the table held before.

        Raises:
            TypeError: ``argument 'a_idx': 'float' object cannot be interpreted as an integer``
                (any non-integer, named by its parameter).
            OverflowError: ``can't convert negative int to unsigned`` for a negative position,
                ``int too big to convert`` for 2**64 and above.
        """

    def add_arbitrary_signal(self, samples: numpy.typing.NDArray[numpy.float64]) -> int:
        """Append a signal of arbitrary samples, one per sampling period of the whole session.

        The array must have exactly ``get_num_samples()`` elements, ceil(duration * 5000), and
        every element must be a fraction from 0.0 to 1.0. Each is stored as the 16-bit value
        round(s * 32767), halves away from zero, so 1.0 is full scale 32767. The signal keeps
        its length when the session duration changes later. NumPy is imported on the first
        call, not with the module; the array is read in place, never kept or changed.

        Args:
            samples: a one-dimensional NumPy array of ``float64`` in native byte order, in any
                memory layout (strided and reversed views are read in index order).

        Returns:
            The new signal's position: the number of signals the table held before.

        Raises:
            TypeError: ``argument 'samples': 'list' object cannot be cast as 'ndarray'``; the
                same with ``'ndarray'`` for an array of another element type or of zero or
                more than one dimension.
            PanicException: ``assertion failed: samples.len() == self.get_num_samples()`` for
                an array of another length; ``assertion failed: *sample >= 0.0`` for the
                first sample below 0.0 or NaN; ``assertion failed: *sample <= 1.0`` for the
                first sample above 1.0; ``Failed to access NumPy array API capsule:
                ModuleNotFoundError: No module named 'numpy'`` when NumPy is not installed
                (``pip install "pyvora[numpy]"``). The table is unchanged.
        """

    def get_num_samples(self) -> int:
        """The number of samples of the session: ceil(duration in seconds * 5000).

        It is computed afresh from the current session duration: 300000 for the default 60.0
        seconds, between 50 and 9000000 within the duration limits. An arbitrary signal must
        have exactly this many samples when it is added.

        Raises:
            TypeError: ``Protocol.get_num_samples() takes no arguments (1 given)``.
        """

    def get_sampling_rate(self) -> float:
        """The sampling rate of arbitrary signals, always 5000.0 samples per second.

        Raises:
            TypeError: ``Protocol.get_sampling_rate() takes no arguments (1 given)``.
        """

    def save(self, filepath: str) -> None:
        """Write the protocol to a ``.vora`` file, creating or overwriting it.

        The name must end in ".vora" (lower case). A relative name is relative to the current
        directory; no directory is created; an existing file is overwritten in place. A
        protocol with an empty signal table first gets one constant 0.0 signal, at position 0,
        which the sources of a new protocol select; the protocol keeps it. Saving twice without
        a change in between writes identical files.

        Args:
            filepath: the file name as a ``str``; for a ``pathlib.Path`` pass ``str(path)``.

        Raises:
            PanicException: ``assertion failed: filepath.ends_with(".vora")`` when the name
                does not end in ".vora" (nothing is touched). A file that cannot be opened or
                written: ``called `Result::unwrap()` on an `Err` value:`` followed by the
                system's error, for example ``Os { code: 2, kind: NotFound, message: "No such
                file or directory" }`` (a missing directory), ``Os { code: 13, kind:
                PermissionDenied, message: "Permission denied" }``, ``Os { code: 28, kind:
                StorageFull, message: "No space left on device" }``, or ``Error { kind:
                InvalidInput, message: "file name contained an unexpected NUL byte" }``.
                After a failed write the file holds what was written before the failure.
            TypeError: ``argument 'filepath': 'PosixPath' object cannot be cast as 'str'``
                for anything but a ``str`` (the type name varies).
            UnicodeEncodeError: for a name holding lone surrogates, which have no UTF-8 form.
        """

    def __str__(self) -> str:
        """The whole protocol as multi-line text, every field and every sample included."""

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
    def to_dict(self) -> dict[str, Any]:
        """Return the whole protocol as plain Python data.

        A dict of the Settings fields in declaration order, keyed by the field names
        of the text form. Records become dicts, lists lists, counts and positions int,
        measured values float, flags bool and coil names str; monitor_trace_visible is
        a list of 16 bools. A signal becomes a dict whose first key "kind" holds
        "Constant", "Sine", "Ramp", "MixedSignal" or "Arbitrary", followed by its
        parameters; arbitrary samples become a new NumPy int16 array (NumPy is
        imported on first need; ImportError without it).

        The protocol is not changed: an empty signal table gives an empty list.
        """
    def find_problems(self) -> list[str]:
        """Return what a protocol about to run almost certainly should not hold.

        A list of "<path>: <what is wrong>" strings in field order, with paths as in
        to_dict(), e.g. "channel_a_settings.amplitude2_source.internal: signal 3 does
        not exist; the table has 2 signals"; empty when nothing was found. Reported,
        though the methods accept them: a source of an enabled channel that selects a
        signal or an external input that does not exist; a mixed signal that names a
        signal that does not exist, or refers to itself directly or through other
        mixed signals; an arbitrary signal whose sample count differs from
        get_num_samples(); an enabled channel's coil_idx or coil_setting_idx outside
        the machine's coils or that coil's tuning table; an intensity above
        machine_config.max_intensity_setpoint; a float field of a signal or of the
        machine description that is NaN or infinite; a negative sine frequency or
        ramp up_duration or down_duration; a tuning entry whose carrier_frequency or
        clk_ticks_per_sample is not what its capacitance on its coil tunes to, or
        whose capacitor_bank_setting is 0; a coil whose max_carrier_frequency is
        above the machine's; an enabled channel whose tuning entry runs above its
        coil's or the machine's max_carrier_frequency; safety_checks_enabled false.
        An empty signal table counts as the one constant 0.0 signal that save()
        adds. Other signal parameters, whose units the system does not fix, are not
        judged.
        """
    def _summary_text(self) -> str:
        """Return the text form with each arbitrary sample list cut to one line.

        The list becomes "<300000 samples, min 0, max 32767, crc32 8a1c04f3>", with the
        CRC-32 of the samples as 16-bit little-endian integers (zlib.crc32 of their
        bytes); everything else is as str() writes it. This is what `pyvora show` prints.
        """
    @classmethod
    def from_dict(cls, data: Mapping[str, Any]) -> Protocol:
        """Return a new Protocol built from plain data, the inverse of to_dict().

        data is a mapping with exactly the keys that to_dict() gives, in any order, and
        each nested record likewise; a signal is a mapping with "kind" ("Constant",
        "Sine", "Ramp", "MixedSignal" or "Arbitrary") and exactly that kind's fields.
        Lists may be any sequence. Samples are a sequence of ints or a 1-D NumPy (or
        other buffer) integer array, read in one pass. Measured values take float or
        int, counts and positions int from 0 to 2**64 - 1, flags bool only, coil names
        str; bool is refused where a number is due. Values are judged as loading a
        file judges them (intensity 0.0..1.0, session duration 0.01..1800.0 seconds,
        samples 0..32767 and at most 9,000,000 of them, 16 monitor flags); everything
        else is taken as it is. An empty signal table is taken as Protocol() holds
        one: to_bytes() and save() add the constant 0.0 signal. So
        Protocol.from_dict(p.to_dict()).to_bytes() == p.to_bytes() for every protocol.

        Raises pyvora.DecodeError (a ValueError) for a missing or unknown key, a
        value of the wrong type or out of its range, with path naming the field in
        to_dict() notation ('signals[2].samples[17]') and offset None; the message
        is "<what is wrong> for <path>".
        """
    def _repr_html_(self) -> str:
        """Return a compact HTML summary of the protocol, for notebooks.

        The duration and sample count, the intensity against the machine's limit,
        the signal table with each signal's parameters (sample lists as their count,
        minimum and maximum), what drives each coil and each channel's modulation,
        and find_problems(). Every text is escaped; the summary stays a few
        kilobytes whatever the number of samples.
        """
    def _to_dict_buffers(self) -> dict[str, Any]:
        """Return to_dict() with each sample list as a memoryview of int16 (format 'h').

        The same data as to_dict(), with each arbitrary signal's samples in a new
        read-only memoryview instead of a NumPy array, so that NumPy is not needed.
        For the command's checks.
        """
    def _overview(self, findings: Sequence[tuple[str, str, bool]] = ()) -> dict[str, Any]:
        """Return what the picture, the notebook summary and diff show, as plain data.

        A dict: "facts" (the header's lines by what they are about: "intensity",
        "session", "channel A", "channel B"), "intensity_above", "signals" (each
        signal's "kind", one-line "text" and "note"), "rows" (A1, A2, A modulation,
        B1, B2, B modulation: "label", "path", "enabled", "external", "position",
        "exists", "text", "drive", every signal the source reaches through mixes of
        any depth, each once, and "marks"), "marks" (find_problems(), then the
        findings given, each with its "path", "text" and "warning") and
        "problem_count". A mark is in a row's "marks" when its path names the row's
        source or a signal of its drive, and in "intensity_marks" when it names the
        intensity. findings is a sequence of (path, text, warning) tuples, a lab's
        findings; the protocol is not changed.
        """
    def _summary_html(self, findings: Sequence[tuple[str, str, bool]] = ()) -> str:
        """Return the notebook summary with a lab's findings marked.

        _repr_html_() with findings, a sequence of (path, text, warning) tuples,
        marked in the rows they concern and listed under the problems.
        """
    def to_json(self, samples_per_line: int | None = None) -> bytes:
        """Return the protocol's JSON form as UTF-8 bytes, as `pyvora export` writes it.

        to_dict() as standard JSON (RFC 8259): keys in field order, indented by two
        spaces a level, lists of numbers and flags on one line, floats in the fewest
        digits that read back to the same value, NaN and the infinities as the
        strings "NaN", "Infinity" and "-Infinity" (a NaN's sign and payload are not
        kept), and a line feed at the end. Each sample list is on one line, or with
        samples_per_line (an int of at least 1) that many samples to a line, so that
        a one-sample edit is a one-line diff. Like to_bytes(), an empty signal table
        is written with the one constant 0.0 signal that save() would add, and the
        protocol is not changed. from_json() reads the form back to the same file
        bytes, but for the sign and payload of a NaN.
        """
    @classmethod
    def from_json(cls, data: str | Buffer) -> Protocol:
        """Return a new Protocol read from its JSON form, as `pyvora build` reads it.

        data is bytes, a str or any other object with the buffer protocol, holding
        UTF-8 JSON as to_json() writes it, in any spacing and key order. The data is
        taken as from_dict() takes the same values, with "NaN", "Infinity" and
        "-Infinity" read as floats where a float is due; values are judged as
        loading a file judges them.

        Raises pyvora.DecodeError (a ValueError): for a text that is not JSON, with
        the message "not JSON: <reason> (line L, column C)", offset the byte where
        it was found and path ''; for a key given twice in one object, "duplicate
        key '<key>' for <path of the object>"; otherwise as from_dict() does, with
        path naming the field and offset the byte where its value starts. Nesting
        deeper than a protocol's layout, a number too large for a float, and an int
        too large for its field, however long, are refused too.
        """

@final
class Channel:
    """A stimulation channel: ``Channel.A`` (coils A1 and A2) or ``Channel.B`` (B1 and B2).

    The two members are the only instances; ``Channel()`` raises ``TypeError`` ``cannot create
    'builtins.Channel' instances``. Members compare by identity: ``Channel.A != 0``, but
    ``int(Channel.A) == 0``.
    """

    A: ClassVar[Channel]
    """Channel A, number 0: coils A1 and A2. Enabled in a new protocol."""
    B: ClassVar[Channel]
    """Channel B, number 1: coils B1 and B2. Disabled in a new protocol."""
    def __int__(self) -> int:
        """The channel's number: 0 for A, 1 for B."""

    def __repr__(self) -> str:
        """``"Channel.A"`` or ``"Channel.B"``."""

    def __reduce__(self) -> tuple[Any, tuple[str, str]]:
        """Helper for pickle and copy: the member by its name."""

@final
class Coil:
    """A coil output: ``Coil.A1`` and ``Coil.A2`` on channel A, ``Coil.B1`` and ``Coil.B2`` on B.

    The four members are the only instances; ``Coil()`` raises ``TypeError`` ``cannot create
    'builtins.Coil' instances``. Members compare by identity: ``Coil.B1 != 2``, but
    ``int(Coil.B1) == 2``.
    """

    A1: ClassVar[Coil]
    """The first coil of channel A, number 0."""
    A2: ClassVar[Coil]
    """The second coil of channel A, number 1."""
    B1: ClassVar[Coil]
    """The first coil of channel B, number 2."""
    B2: ClassVar[Coil]
    """The second coil of channel B, number 3."""
    def __int__(self) -> int:
        """The coil's number: 0 for A1, 1 for A2, 2 for B1, 3 for B2."""

    def __repr__(self) -> str:
        """``"Coil.A1"``, ``"Coil.A2"``, ``"Coil.B1"`` or ``"Coil.B2"``."""

    def __reduce__(self) -> tuple[Any, tuple[str, str]]:
        """Helper for pickle and copy: the member by its name."""

class DecodeError(ValueError):
    """Bytes that are not a protocol file.

    offset is the byte offset where the problem was found, path the field being
    read (such as 'signals[2].samples[17]'; empty when no field was). The
    message names both.
    """

    offset: int | None
    """The byte offset where the problem was found; None for a refusal of from_dict()."""
    path: str
    """The field being read, such as 'signals[2].samples[17]'; empty when no field was."""

def _protocol_from_bytes(data: Buffer, /) -> Protocol:
    """Rebuild a pickled Protocol from its file bytes."""

def _enum_member(enumeration: str, member: str, /) -> Coil | Channel:
    """The member of Coil or Channel with that name, for pickle."""

def _value_text(value: bool | int | float | str, /) -> str:
    """The text of a bool, int, float or str as the text form writes it. For the command."""

# The protocol's limits by name: min_session_duration, max_session_duration, min_intensity,
# max_intensity, sampling_rate, min_sample, max_sample, max_samples.
_LIMITS: dict[str, float | int]

def _json_schema() -> str:
    """The JSON Schema of the JSON form of a protocol, as a str. For the command's shipped schema."""

def _largest_step(samples: Buffer, /) -> tuple[int, int]:
    """(i, step): the largest difference between neighbouring samples of a contiguous buffer
    of native int16 samples, and the first i where it occurs (between i and i + 1);
    (0, 0) for fewer than two. For a lab's rules.
    """

def _layout() -> dict[str, str]:
    """The layout of a protocol: {path: kind} in field order, with [*] for any list position
    and kinds 'number', 'text', 'flag', 'samples', 'list' and 'record'. For the command's rules.
    """
