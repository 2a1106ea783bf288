"""add_arbitrary_signal: accepted arrays, sample counts, range checks, quantisation, layouts,
lazy loading of NumPy and reference counts. Also NumPy booleans as routing flags."""

import math
import sys

import pytest

from conftest import run_python
from pyvora import Coil, Channel, Protocol
from helpers import panic_message, Needed
from test_signals import saved_table_follows_duration, stored_signals

np = Needed("numpy")

LENGTH = "assertion failed: samples.len() == self.get_num_samples()"
BELOW = "assertion failed: *sample >= 0.0"
ABOVE = "assertion failed: *sample <= 1.0"


def quantised(values):
    """round(x * 32767) with halves away from zero, computed exactly."""
    out = []
    for x in values:
        y = float(x) * 32767.0
        whole = math.floor(y)
        out.append(whole + (1 if y - whole >= 0.5 else 0))
    return out


def samples_of(protocol, position=-1):
    kind, fields = stored_signals(protocol)[position]
    assert kind == "Arbitrary"
    return fields["samples"]


@pytest.fixture
def short(fresh):
    """A protocol of 0.01 s: 50 samples."""
    fresh.set_session_duration(0.01)
    return fresh


@pytest.mark.parametrize("duration, count", [(0.01, 50), (0.07, 351), (0.0123, 62), (1.0, 5000)])
def test_length_must_match_the_sample_count(fresh, duration, count):
    fresh.set_session_duration(duration)
    assert fresh.get_num_samples() == count
    for wrong in (count - 1, count + 1, 0):
        assert panic_message(lambda: fresh.add_arbitrary_signal(np.zeros(wrong))) == LENGTH
    assert fresh.add_arbitrary_signal(np.zeros(count)) == 0
    assert samples_of(fresh) == [0] * count
    assert fresh.add_constant_signal(0.0) == 1


def test_quantisation(short, tmp_path):
    head = [0.0, 0.5, 1.0, 0.1, 0.5 / 32767, math.nextafter(0.5 / 32767, 0.0), 1.5 / 32767, 2.5 / 32767,
            -0.0, 5e-324, 0.25, 0.75, math.nextafter(1.0, 0.0)]
    values = np.array(head + [0.0] * (50 - len(head)))
    assert short.add_arbitrary_signal(values) == 0
    expected = [0, 16384, 32767, 3277, 1, 0, 2, 3, 0, 0, 8192, 24575, 32767] + [0] * (50 - len(head))
    assert samples_of(short) == expected
    assert saved_table_follows_duration(short, tmp_path, [("Arbitrary", {"samples": expected})], duration=0.01)


def test_quantisation_of_many_values_matches_exact_rounding(fresh):
    # 5000 samples: several full blocks of the fast path and a short last one.
    fresh.set_session_duration(1.0)
    rng = np.random.default_rng(7)
    values = rng.random(5000)
    values[::7] = (rng.integers(0, 32767, values[::7].size) + 0.5) / 32767.0  # near halfway points
    values[0], values[-1] = 1.0, 0.0
    fresh.add_arbitrary_signal(values)
    assert samples_of(fresh) == quantised(values)


def refused_arrays():
    ones = np.full(50, 0.5)
    return [
        pytest.param(ones.tolist(), "list", id="list"),
        pytest.param(tuple(ones), "tuple", id="tuple"),
        pytest.param(None, "NoneType", id="None"),
        pytest.param(np.float64(0.5), "float64", id="numpy-scalar"),
        pytest.param(ones.astype(np.float32), "ndarray", id="float32"),
        pytest.param(ones.astype(np.int64), "ndarray", id="int64"),
        pytest.param(ones.astype(np.complex128), "ndarray", id="complex128"),
        pytest.param(ones.astype(np.longdouble), "ndarray", id="longdouble",
                     marks=pytest.mark.skipif(np.dtype(np.longdouble).itemsize == 8, reason="same as float64")),
        pytest.param(ones.astype(object), "ndarray", id="object"),
        pytest.param(ones.astype(">f8" if sys.byteorder == "little" else "<f8"), "ndarray", id="byte-swapped"),
        pytest.param(np.array(0.5), "ndarray", id="0-d"),
        pytest.param(ones.reshape(50, 1), "ndarray", id="2-d"),
        pytest.param(ones.reshape(1, 50), "ndarray", id="2-d-row"),
        pytest.param(memoryview(ones), "memoryview", id="memoryview"),
    ]


@pytest.mark.parametrize("samples, type_name", refused_arrays())
def test_refused_arrays(short, samples, type_name):
    short.add_constant_signal(0.0)
    before = str(short)
    with pytest.raises(TypeError) as caught:
        short.add_arbitrary_signal(samples)
    assert str(caught.value) == f"argument 'samples': '{type_name}' object cannot be cast as 'ndarray'"
    assert str(short) == before
    assert short.add_constant_signal(0.0) == 1


def test_conversion_errors_come_before_the_length_check(short):
    with pytest.raises(TypeError):
        short.add_arbitrary_signal(np.zeros(49, dtype=np.float32))
    with pytest.raises(TypeError, match="missing 1 required positional argument: 'samples'"):
        short.add_arbitrary_signal()


@pytest.mark.parametrize(
    "make",
    [
        pytest.param(lambda v: v.view(type("Sub", (np.ndarray,), {})), id="subclass"),
        pytest.param(lambda v: v.astype("=f8"), id="native-order-spelled-out"),
        pytest.param(lambda v: np.ma.masked_array(v, mask=np.zeros(50, bool)), id="masked"),
        pytest.param(lambda v: np.frombuffer(v.tobytes(), dtype=np.float64), id="read-only"),
    ],
)
def test_accepted_array_kinds(short, make):
    values = np.linspace(0.0, 1.0, 50)
    assert short.add_arbitrary_signal(make(values)) == 0
    assert samples_of(short) == quantised(values)


def layouts():
    base = np.linspace(0.0, 1.0, 100)
    unaligned = np.frombuffer(b"\0" + np.linspace(0.0, 1.0, 50).tobytes(), dtype=np.float64, offset=1)
    assert not unaligned.flags.aligned
    columns = np.linspace(0.0, 1.0, 150).reshape(50, 3)
    return [
        pytest.param(base[::2], id="every-other"),
        pytest.param(base[1::2][::-1], id="reversed-strided"),
        pytest.param(base[:50][::-1], id="reversed"),
        pytest.param(unaligned, id="unaligned"),
        pytest.param(unaligned[::-1], id="unaligned-reversed"),
        pytest.param(columns[:, 1], id="column-of-2-d"),
        pytest.param(np.broadcast_to(np.float64(0.3), (50,)), id="zero-stride"),
    ]


@pytest.mark.parametrize("view", layouts())
def test_views_are_read_in_view_order(short, view):
    assert view.ndim == 1 and view.size == 50
    assert short.add_arbitrary_signal(view) == 0
    assert samples_of(short) == quantised(view.tolist())


def test_reversed_view_stores_last_element_first(short):
    values = np.linspace(0.0, 1.0, 50)
    short.add_arbitrary_signal(values[::-1])
    stored = samples_of(short)
    assert stored[0] == 32767 and stored[-1] == 0
    assert stored == quantised(values)[::-1]


@pytest.mark.parametrize(
    "placed, message",
    [
        ({10: 1.5, 20: -1.0}, ABOVE),
        ({10: -1.0, 20: 1.5}, BELOW),
        ({3: math.nan}, BELOW),
        ({3: -math.nan}, BELOW),
        ({0: -5e-324}, BELOW),
        ({49: math.nextafter(1.0, 2.0)}, ABOVE),
        ({25: math.inf}, ABOVE),
        ({25: -math.inf}, BELOW),
        ({1: -0.0, 2: math.nan, 3: 2.0}, BELOW),
    ],
)
@pytest.mark.parametrize("layout", ["contiguous", "strided", "reversed"])
def test_first_offending_sample_decides_and_nothing_changes(short, placed, message, layout):
    values = np.full(50, 0.5)
    for position, value in placed.items():
        values[position] = value
    if layout == "strided":
        spread = np.zeros(100)
        spread[::2] = values
        samples = spread[::2]
    elif layout == "reversed":
        samples = values[::-1].copy()[::-1]
    else:
        samples = values
    short.add_constant_signal(0.0)
    before = str(short)
    assert panic_message(lambda: short.add_arbitrary_signal(samples)) == message
    assert str(short) == before
    assert short.add_constant_signal(0.0) == 1


def test_offender_far_into_a_long_array(fresh):
    fresh.set_session_duration(1.0)
    values = np.full(5000, 0.5)
    values[4321] = -0.0  # in range
    values[4999] = 1.0000001
    assert panic_message(lambda: fresh.add_arbitrary_signal(values)) == ABOVE
    values[3000] = math.nan
    assert panic_message(lambda: fresh.add_arbitrary_signal(values)) == BELOW
    assert stored_signals(fresh) == []


def test_negative_zero_ending_the_array_is_in_range(fresh):
    # The quick range test of the last block reports -0.0, so the exact test runs over that
    # block, which ends where the array's memory does: a sanitizer run sees any read past it.
    fresh.set_session_duration(1.0)
    values = np.full(5000, 0.5)
    values[-1] = -0.0
    assert fresh.add_arbitrary_signal(values) == 0
    assert samples_of(fresh)[-2:] == [16384, 0]


def test_arbitrary_signal_keeps_its_length_after_the_duration_changes(fresh):
    fresh.set_session_duration(1.0)
    assert fresh.add_arbitrary_signal(np.full(5000, 0.5)) == 0
    fresh.set_session_duration(2.0)
    assert len(samples_of(fresh, 0)) == 5000
    assert panic_message(lambda: fresh.add_arbitrary_signal(np.full(5000, 0.5))) == LENGTH
    assert fresh.add_arbitrary_signal(np.zeros(10000)) == 1
    assert [len(fields["samples"]) for _, fields in stored_signals(fresh)] == [5000, 10000]


def test_the_array_is_not_kept(short):
    samples = np.full(50, 0.5)
    bad = np.full(50, 2.0)
    wrong_type = np.full(50, 0.5, dtype=np.float32)
    counts = [sys.getrefcount(a) for a in (samples, bad, wrong_type)]
    for _ in range(3):
        short.add_arbitrary_signal(samples)
        panic_message(lambda: short.add_arbitrary_signal(bad))
        panic_message(lambda: short.add_arbitrary_signal(samples[:-1]))
        with pytest.raises(TypeError):
            short.add_arbitrary_signal(wrong_type)
    assert [sys.getrefcount(a) for a in (samples, bad, wrong_type)] == counts
    samples[:] = 1.0  # the stored signal is a copy of the values, not a view of the array
    assert samples_of(short, 0) == [16384] * 50


def test_numpy_is_loaded_by_the_first_arbitrary_signal_only():
    code = "\n".join([
        "import sys, pyvora",
        "p = pyvora.Protocol()",
        "p.add_sine_signal(1.0, 2.0); str(p)",
        "print('numpy' in sys.modules)",
        "try:",
        "    p.add_arbitrary_signal([0.0])",
        "except TypeError as e:",
        "    print(e)",
        "print('numpy' in sys.modules)",
        "import numpy",
        "p.set_session_duration(0.01)",
        "print(p.add_arbitrary_signal(numpy.zeros(50)))",
    ])
    result = run_python(code)
    assert result.returncode == 0, result.stderr
    assert result.stdout.splitlines() == [
        "False",
        "argument 'samples': 'list' object cannot be cast as 'ndarray'",
        "True",
        "1",
    ]


def test_numpy_that_cannot_be_loaded_is_a_panic_and_is_retried():
    code = "\n".join([
        "import sys, pyvora",
        "p = pyvora.Protocol()",
        "p.set_session_duration(0.01)",
        "sys.modules['numpy'] = None  # makes every import of numpy fail",
        "try:",
        "    p.add_arbitrary_signal([0.0] * 50)",
        "except BaseException as e:",
        "    print(type(e).__name__)",
        "    print(str(e).startswith('Failed to access NumPy array API capsule'))",
        "    print(sys.exc_info()[1] is e and e.__context__ is None)",
        "del sys.modules['numpy']",
        "import numpy",
        "print(p.add_arbitrary_signal(numpy.zeros(50)))",
    ])
    result = run_python(code)
    assert result.returncode == 0, result.stderr
    assert result.stdout.splitlines() == ["PanicException", "True", "True", "0"]


def test_numpy_import_error_without_a_message_is_named_alone():
    code = "\n".join([
        "import sys, pyvora",
        "class Refuse:  # every import of numpy raises an ImportError without a message",
        "    def find_spec(self, name, path=None, target=None):",
        "        if name.partition('.')[0] == 'numpy':",
        "            raise ImportError()",
        "sys.meta_path.insert(0, Refuse())",
        "p = pyvora.Protocol()",
        "p.set_session_duration(0.01)",
        "try:",
        "    p.add_arbitrary_signal([0.0] * 50)",
        "except BaseException as e:",
        "    print(e)",
    ])
    result = run_python(code)
    assert result.returncode == 0, result.stderr
    assert result.stdout == f"Failed to access NumPy array API capsule: {ImportError.__name__}\n"


@pytest.mark.parametrize("flag, selected", [(lambda: np.True_, True), (lambda: np.False_, False),
                                             (lambda: np.bool_(1), True)], ids=["True_", "False_", "bool_(1)"])
def test_numpy_booleans_select_external_sources(flag, selected):
    flag = flag()
    with_numpy, with_python = Protocol(), Protocol()
    with_numpy.set_amplitude_source(Coil.B2, 3, flag)
    with_numpy.set_modulation_source(Channel.A, 4, external=flag)
    with_python.set_amplitude_source(Coil.B2, 3, selected)
    with_python.set_modulation_source(Channel.A, 4, external=selected)
    assert str(with_numpy) == str(with_python)
    assert "external_selected: true" in str(with_numpy) or not selected


def test_numpy_integers_are_positions(fresh):
    assert fresh.add_mixed_signal(np.int64(7), np.uint8(9)) == 0
    assert stored_signals(fresh) == [("MixedSignal", {"a_idx": 7, "b_idx": 9})]
