"""Differences between two Protocol.to_dict() values, one line each, with paths in the same form
as find_problems() (`channel_b_settings.modulation_source.external`, `signals[3].a_idx`) and
values written as the module writes them: leaves as the text form writes them, signals as
their one-line text in the protocol's overview (Protocol._overview()), which the picture and
the notebook summary show too."""

from collections.abc import Iterator, Mapping
from typing import Any

from pyvora import Protocol, _value_text


def signal_texts(protocol: Protocol) -> dict[str, str]:
    """Each signal's one-line text by its path ("signals[2]"), as the module writes it."""
    return {f"signals[{i}]": signal["text"] for i, signal in enumerate(protocol._overview()["signals"])}


def is_samples(value: Any) -> bool:
    return hasattr(value, "dtype")  # a NumPy array; NumPy itself need not be imported here


def only_in(side: str, value: Any) -> str:
    if isinstance(value, dict):
        return f"only in {side} ({value['kind']})" if "kind" in value else f"only in {side}"
    return f"only in {side} ({_value_text(value)})"


def sample_difference(a: Any, b: Any) -> str | None:
    common = min(len(a), len(b))
    differ = a[:common] != b[:common]
    count = int(differ.sum())
    parts = []
    if len(a) != len(b):
        parts.append(f"{len(a)} -> {len(b)} samples")
    if count:
        first = int(differ.argmax())
        scope = f"the first {common}" if len(a) != len(b) else f"{common} samples"
        parts.append(f"{count} of {scope} differ, first at index {first}: {int(a[first])} -> {int(b[first])}")
    elif parts:
        parts.append(f"the first {common} are equal")
    return "; ".join(parts) or None


def differences(a: Any, b: Any, texts: tuple[Mapping[str, str], Mapping[str, str]], path: str = "") -> Iterator[str]:
    """One line per differing leaf, list element present on one side only, or pair of sample
    lists, in field order; `texts` holds each side's signal texts (signal_texts())."""
    if isinstance(a, dict) and isinstance(b, dict):
        if a.get("kind") != b.get("kind"):  # two signals of different kinds differ as a whole
            yield f"{path}: {texts[0][path]} -> {texts[1][path]}"
            return
        for key in a:  # the same record on both sides: the same keys in the same order
            yield from differences(a[key], b[key], texts, f"{path}.{key}" if path else key)
    elif isinstance(a, list) and isinstance(b, list):
        for i in range(min(len(a), len(b))):
            yield from differences(a[i], b[i], texts, f"{path}[{i}]")
        for i in range(len(b), len(a)):
            yield f"{path}[{i}]: {only_in('A', a[i])}"
        for i in range(len(a), len(b)):
            yield f"{path}[{i}]: {only_in('B', b[i])}"
    elif is_samples(a) and is_samples(b):
        line = sample_difference(a, b)
        if line is not None:
            yield f"{path}: {line}"
    elif _value_text(a) != _value_text(b):  # by text: -0.0 differs from 0.0, NaN equals NaN
        yield f"{path}: {_value_text(a)} -> {_value_text(b)}"
