"""The module, its classes and the calling sequence every method shares."""

import copy
import inspect
import multiprocessing
import pickle
import sys

import pytest

import pyvora
from pyvora import Channel, Coil, Protocol

from conftest import run_python
from cpython_texts import float_error, index_error


def panic_type():
    try:
        Protocol().set_session_duration(5000.0)
    except BaseException as error:  # the panic exception is not exported
        return type(error)
    raise AssertionError("expected a refusal")


def test_module_holds_its_three_classes_first():
    public = [name for name in vars(pyvora) if not name.startswith("__")]
    assert public[:3] == ["Protocol", "Channel", "Coil"]
    assert pyvora.__doc__ == ""
    for cls in (Protocol, Channel, Coil):
        assert cls.__module__ == "builtins"
        assert cls.__qualname__ == cls.__name__


def test_version_is_the_installed_distributions():
    from importlib.metadata import version

    assert pyvora.__version__ == version("pyvora")
    assert "importlib.metadata" not in run_python("import sys, pyvora; print(sorted(sys.modules))").stdout


def test_import_leaves_numpy_alone():
    result = run_python("import sys, pyvora; pyvora.Protocol(); print('numpy' in sys.modules)")
    assert result.stdout.strip() == "False", result.stderr


def test_second_import_returns_the_same_module():
    result = run_python(
        "import sys, importlib, pyvora; first = pyvora; del sys.modules['pyvora'];"
        "import pyvora; print(pyvora is first and pyvora.Protocol is first.Protocol)"
    )
    assert result.stdout.strip() == "True", result.stderr


@pytest.mark.parametrize("cls", [Protocol, Channel, Coil])
def test_classes_are_final_and_slotless(cls):
    with pytest.raises(TypeError):
        type("Derived", (cls,), {})
    instance = Protocol() if cls is Protocol else next(iter(m for m in (Coil.A1, Channel.A) if type(m) is cls))
    assert not hasattr(instance, "__dict__")
    with pytest.raises(TypeError):
        import weakref

        weakref.ref(instance)


@pytest.mark.parametrize(
    "member, number, text",
    [(Coil.A1, 0, "Coil.A1"), (Coil.A2, 1, "Coil.A2"), (Coil.B1, 2, "Coil.B1"), (Coil.B2, 3, "Coil.B2"),
     (Channel.A, 0, "Channel.A"), (Channel.B, 1, "Channel.B")],
)
def test_enumeration_members(member, number, text):
    assert int(member) == number
    assert repr(member) == text and str(member) == text
    assert member is getattr(type(member), text.split(".")[1])
    assert member == member and member != number
    with pytest.raises(TypeError):
        [0, 1, 2, 3][member]


@pytest.mark.parametrize("cls", [Coil, Channel])
def test_enumerations_cannot_be_instantiated(cls):
    assert cls.__doc__ is None
    with pytest.raises(TypeError):
        cls()
    assert Coil.A1 != Channel.A


MEMBERS = [Coil.A1, Coil.A2, Coil.B1, Coil.B2, Channel.A, Channel.B]


@pytest.mark.parametrize("member", MEMBERS, ids=repr)
def test_members_pickle_and_copy_as_themselves(member):
    for protocol in range(pickle.HIGHEST_PROTOCOL + 1):
        assert pickle.loads(pickle.dumps(member, protocol)) is member
    assert copy.copy(member) is member and copy.deepcopy({"sweep": [member]})["sweep"][0] is member


def test_a_process_pool_passes_members_both_ways():
    # A fresh interpreter on the other side: the members travel by name, not by position in memory.
    with multiprocessing.get_context("spawn").Pool(2) as pool:
        returned = pool.map(copy.copy, MEMBERS)
    assert all(a is b for a, b in zip(returned, MEMBERS, strict=True))


def test_only_members_are_rebuilt():
    with pytest.raises(ValueError, match="no enumeration member Coil.C1"):
        pyvora._enum_member("Coil", "C1")
    with pytest.raises(ValueError):
        pyvora._enum_member("Protocol", "save")
    for args in (("Coil",), ("Coil", "A1", "A2"), ("Coil", 1)):
        with pytest.raises(TypeError, match=r"^_enum_member\(\) takes two str arguments$"):
            pyvora._enum_member(*args)


def test_signatures_and_docstrings():
    expected = {
        "set_stimulation_intensity": "(self, /, intensity)",
        "set_session_duration": "(self, /, duration)",
        "enable_channel": "(self, /, channel)",
        "set_amplitude_source": "(self, /, coil, index, external=False)",
        "set_modulation_source": "(self, /, channel, index, external=False)",
        "add_constant_signal": "(self, /, value)",
        "add_sine_signal": "(self, /, amplitude, frequency, phase=0.0, depth=1.0)",
        "add_ramp_signal": "(self, /, peak, up_duration, down_duration)",
        "add_mixed_signal": "(self, /, a_idx, b_idx)",
        "add_arbitrary_signal": "(self, /, samples)",
        "get_num_samples": "(self, /)",
        "get_sampling_rate": "(self, /)",
        "save": "(self, /, filepath)",
    }
    # Members added later come after these.
    methods = [name for name in vars(Protocol) if not name.startswith("__")]
    assert methods[: len(expected)] == list(expected)
    for name, signature in expected.items():
        method = getattr(Protocol, name)
        assert str(inspect.signature(method)) == signature
        assert method.__doc__ is None
    assert str(inspect.signature(Protocol)) == "()"


def test_new_protocol_answers_its_queries(fresh):
    assert fresh.get_num_samples() == 300000 and type(fresh.get_num_samples()) is int
    assert fresh.get_sampling_rate() == 5000.0 and type(fresh.get_sampling_rate()) is float
    assert repr(fresh).startswith("<builtins.Protocol object at 0x")


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda: Protocol(1), "Protocol.__new__() takes 0 positional arguments but 1 was given"),
        (lambda: Protocol(1, 2), "Protocol.__new__() takes 0 positional arguments but 2 were given"),
        (lambda: Protocol(x=1), "Protocol.__new__() got an unexpected keyword argument 'x'"),
        (lambda: Protocol().set_session_duration(),
         "Protocol.set_session_duration() missing 1 required positional argument: 'duration'"),
        (lambda: Protocol().set_session_duration(1.0, 2.0),
         "Protocol.set_session_duration() takes 1 positional arguments but 2 were given"),
        (lambda: Protocol().add_sine_signal(1, 2, 3, 4, 5),
         "Protocol.add_sine_signal() takes from 2 to 4 positional arguments but 5 were given"),
        (lambda: Protocol().add_mixed_signal(),
         "Protocol.add_mixed_signal() missing 2 required positional arguments: 'a_idx' and 'b_idx'"),
        (lambda: Protocol().add_ramp_signal(),
         "Protocol.add_ramp_signal() missing 3 required positional arguments: "
         "'peak', 'up_duration', and 'down_duration'"),
        (lambda: Protocol().add_ramp_signal(1.0, down_duration=2.0),
         "Protocol.add_ramp_signal() missing 1 required positional argument: 'up_duration'"),
        (lambda: Protocol().set_session_duration(duration=1.0, length=2.0),
         "Protocol.set_session_duration() got an unexpected keyword argument 'length'"),
        (lambda: Protocol().set_session_duration(1.0, duration=2.0),
         "Protocol.set_session_duration() got multiple values for argument 'duration'"),
        (lambda: Protocol().set_amplitude_source(Coil.A1, 0, 1),
         "argument 'external': 'int' object cannot be cast as 'bool'"),
        (lambda: Protocol().set_amplitude_source(0, 0), "argument 'coil': 'int' object cannot be cast as 'Coil'"),
        (lambda: Protocol().enable_channel(0), "argument 'channel': 'int' object cannot be cast as 'Channel'"),
        (lambda: Protocol().enable_channel(Coil.A1), "argument 'channel': 'Coil' object cannot be cast as 'Channel'"),
        (lambda: Protocol().save(b"x.vora"), "argument 'filepath': 'bytes' object cannot be cast as 'str'"),
        (lambda: Protocol().add_mixed_signal(1.5, 0), f"argument 'a_idx': {index_error(1.5)}"),
        (lambda: Protocol().set_session_duration("1"), f"argument 'duration': {float_error('1')}"),
        (lambda: Protocol().add_sine_signal(1.0, 2.0, None), f"argument 'phase': {float_error(None)}"),
    ],
)
def test_binding_and_conversion_errors(call, message):
    with pytest.raises(TypeError) as caught:
        call()
    assert str(caught.value) == message


def test_binding_errors_come_before_conversions():
    # Too many positional arguments is reported even when a keyword is also wrong.
    with pytest.raises(TypeError, match=r"takes 1 positional arguments but 2 were given"):
        Protocol().set_session_duration("x", "y", bogus=1)


class _Name(str):
    pass


# Names written in a call are interned and found by identity; these are not, and are found by text.
@pytest.mark.parametrize("name", [lambda text: "".join(list(text)), _Name], ids=["built", "str-subclass"])
def test_keywords_bind_by_text_too(name):
    p, expected = Protocol(), Protocol()
    p.set_amplitude_source(**{name("coil"): Coil.B1, name("index"): 3, name("external"): True})
    expected.set_amplitude_source(Coil.B1, 3, True)
    assert p.to_bytes() == expected.to_bytes()
    # A written keyword first, then one found by text only.
    mixed = Protocol()
    mixed.set_amplitude_source(coil=Coil.B1, **{name("index"): 3, "external": True})
    assert mixed.to_bytes() == expected.to_bytes()
    with pytest.raises(TypeError, match=r"^Protocol.set_amplitude_source\(\) got multiple values for argument 'coil'$"):
        p.set_amplitude_source(Coil.A1, **{name("coil"): Coil.A1})
    with pytest.raises(TypeError, match=r"got an unexpected keyword argument 'coils'$"):
        p.set_amplitude_source(Coil.A1, 0, **{name("coils"): Coil.A1})


@pytest.mark.parametrize("index", [-1, 2**64, -(2**70)])
def test_index_overflow_is_raised_unchanged(index):
    with pytest.raises(OverflowError) as caught:
        Protocol().set_amplitude_source(Coil.A1, index)
    assert "index" not in str(caught.value)


def test_float_overflow_is_raised_unchanged():
    with pytest.raises(OverflowError):
        Protocol().add_constant_signal(10**400)


def test_conversion_type_error_keeps_its_cause():
    class Bad:
        def __float__(self):
            try:
                raise KeyError("inner")
            except KeyError as inner:
                raise TypeError("no float here") from inner

    with pytest.raises(TypeError) as caught:
        Protocol().add_constant_signal(Bad())
    assert str(caught.value) == "argument 'value': no float here"
    assert isinstance(caught.value.__cause__, KeyError)


def test_conversion_errors_of_other_kinds_pass_unchanged():
    class Bad:
        def __float__(self):
            raise ValueError("nope")

    class Subclassed(TypeError):
        pass

    class Worse:
        def __index__(self):
            raise Subclassed("sub")

    with pytest.raises(ValueError, match="^nope$"):
        Protocol().add_constant_signal(Bad())
    with pytest.raises(Subclassed, match="^sub$"):
        Protocol().add_mixed_signal(Worse(), 0)


def test_conversion_hooks_returning_wrong_types():
    class WrongFloat:
        def __float__(self):
            return "not a float"

    class WrongIndex:
        def __index__(self):
            return 1.5

    with pytest.raises(TypeError, match=r"^argument 'value': "):
        Protocol().add_constant_signal(WrongFloat())
    with pytest.raises(TypeError, match=r"^argument 'b_idx': "):
        Protocol().add_mixed_signal(0, WrongIndex())


def test_reentrant_call_from_a_conversion_hook_is_refused():
    protocol = Protocol()
    seen = []

    class Sneaky:
        def __float__(self):
            try:
                protocol.get_num_samples()
            except RuntimeError as error:
                seen.append(str(error))
                raise
            return 1.0

    with pytest.raises(RuntimeError, match="^Already borrowed$"):
        protocol.set_session_duration(Sneaky())
    assert seen == ["Already borrowed"]
    assert protocol.get_num_samples() == 300000

    class Reader:
        def __float__(self):
            str(protocol)
            return 0.5

    with pytest.raises(RuntimeError, match="^Already mutably borrowed$"):
        protocol.set_stimulation_intensity(Reader())

    class SharedReader:
        def __float__(self):
            return protocol.get_sampling_rate() / 10000.0

    with pytest.raises(RuntimeError, match="^Already mutably borrowed$"):
        protocol.set_stimulation_intensity(SharedReader())
    protocol.set_stimulation_intensity(0.5)


def test_index_hooks_and_numpy_style_integers_are_accepted(fresh):
    class Number:
        def __index__(self):
            return 7

    assert fresh.add_mixed_signal(Number(), True) == 0


def test_panic_exception_shape(capfd):
    protocol = Protocol()
    with pytest.raises(BaseException) as caught:
        protocol.set_session_duration(5000.0)
    error = caught.value
    assert not isinstance(error, Exception)
    assert type(error).__name__ == "PanicException"
    assert type(error).__module__ == "pyo3_runtime"
    assert type(error).__bases__ == (BaseException,)
    assert error.args == ("assertion failed: duration <= config::MAX_SESSION_DURATION",)
    assert panic_type() is type(error)
    err = capfd.readouterr().err
    assert "assertion failed: duration <= config::MAX_SESSION_DURATION" in err
    assert "configure.cpp" in err
    assert protocol.get_num_samples() == 300000


def test_panic_is_not_caught_by_exception_handlers():
    with pytest.raises(BaseException):
        try:
            Protocol().set_stimulation_intensity(2.0)
        except Exception:  # noqa: BLE001 - must not catch it
            pytest.fail("the panic exception must not derive from Exception")


def test_methods_refuse_foreign_receivers():
    with pytest.raises(TypeError):
        Protocol.get_num_samples(5)
    with pytest.raises(TypeError):
        Protocol.set_session_duration(5, 1.0)


NULL_RECEIVER_SNIPPET = """
import ctypes
from pyvora import Protocol

P = ctypes.c_void_p
size = ctypes.sizeof(P)
calls = {
    "get_num_samples": (ctypes.PYFUNCTYPE(ctypes.py_object, P, P), (None, None)),
    "set_session_duration": (
        ctypes.PYFUNCTYPE(ctypes.py_object, P, ctypes.POINTER(ctypes.py_object), ctypes.c_ssize_t, P),
        (None, (ctypes.py_object * 1)(1.0), 1, None)),
}
for name, (prototype, args) in calls.items():
    descriptor = Protocol.__dict__[name]
    # A method descriptor ends with its PyMethodDef pointer and its vectorcall slot.
    definition = P.from_address(id(descriptor) + type(descriptor).__basicsize__ - 2 * size).value
    function = prototype(P.from_address(definition + size).value)  # ml_meth follows ml_name
    try:
        function(*args)
    except TypeError as e:
        print(e)
"""


def test_methods_called_from_c_without_a_receiver_raise_type_error():
    result = run_python(NULL_RECEIVER_SNIPPET)
    assert result.returncode == 0, result.stderr
    assert result.stdout.splitlines() == ["a Protocol method was called without a receiver"] * 2


def test_subinterpreter_import_is_refused():
    pytest.importorskip("_testcapi")
    code = (
        "import pyvora, _testcapi\n"
        "r = _testcapi.run_in_subinterp('import pyvora')\n"
        "print(r)\n"
    )
    result = run_python(code)
    assert result.stdout.strip() == "-1", result.stderr
    assert "ImportError" in result.stderr


RETRIED_INITIALISATION = r"""
import ctypes, gc, importlib.util, typing, _testcapi  # typing has a Protocol class of its own
init = ctypes.PyDLL(importlib.util.find_spec("pyvora").origin).PyInit_pyvora
init.restype = ctypes.c_void_p
failed = 0
for n in range(1, 2000):  # from the n-th allocation of the call on, every one fails
    _testcapi.set_nomemory(n, 0)
    try:
        if init() is not None:
            break
    except MemoryError:
        failed += 1
    finally:
        _testcapi.remove_mem_hooks()
import pyvora
names = ("Protocol", "Coil", "Channel")
gc.collect()  # classes half made by a failed PyType_FromSpec
classes = [o for o in gc.get_objects()
           if isinstance(o, type) and getattr(o, '__module__', None) == pyvora.Protocol.__module__
           and o.__qualname__ in names]
print(failed > 10, sorted(c.__qualname__ for c in classes) == sorted(names)
      and all(getattr(pyvora, c.__qualname__) is c for c in classes))
"""


def test_initialisation_retried_after_running_out_of_memory_keeps_the_classes_it_made():
    testcapi = pytest.importorskip("_testcapi")
    if not hasattr(testcapi, "set_nomemory"):
        pytest.skip("no _testcapi.set_nomemory in this interpreter")
    result = run_python(RETRIED_INITIALISATION)
    assert result.returncode == 0, result.stderr
    assert result.stdout.split() == ["True", "True"]


def test_target_machine_flag_read_at_construction(monkeypatch):
    import os

    probe = "from pyvora import Protocol; print(str(Protocol()).splitlines()[2])"
    for value, expected in [(None, "false"), (b"", "true"), (b"1", "true"), (b"\xff", "false")]:
        env = {k: v for k, v in os.environb.items() if k != b"VORA_TARGET_MACHINE"}
        if value is not None:
            env[b"VORA_TARGET_MACHINE"] = value
        import subprocess

        out = subprocess.run([sys.executable, "-c", probe], env=env, capture_output=True, text=True)
        assert out.stdout.strip() == f"running_on_target_machine: {expected},"


@pytest.mark.parametrize("cls, name, value", [(Coil, "A1", "B1"), (Channel, "B", "A"), (Protocol, "save", None)])
def test_classes_cannot_be_rebound(cls, name, value):
    original = getattr(cls, name)
    replacement = getattr(cls, value) if isinstance(value, str) else value
    with pytest.raises(TypeError):
        setattr(cls, name, replacement)
    with pytest.raises(TypeError):
        setattr(cls, "extra", 1)
    assert getattr(cls, name) is original
