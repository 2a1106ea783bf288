"""The JSON form of a protocol, as `pyvora export` writes it and `pyvora build` reads it.

The form is Protocol.to_dict() as standard JSON (RFC 8259) in UTF-8: keys in field order, each
sample list an array of integers, floats written with the shortest digits that read back to
the same bits (-0.0 included), and the floats JSON has no number for as the strings "NaN",
"Infinity" and "-Infinity" (a NaN's sign and payload are not kept). protocol.schema.json,
beside this file, describes it; build reads it through that schema, so that "NaN" becomes a
float only where the schema has a float and stays a string in a coil's name.

msgspec does the JSON: its encoder and decoder are written in C, and its floats round-trip
exactly. A sample list, up to _LIMITS["max_samples"] long, is never a list of Python ints:
export writes it through a table of digits, build reads the whole text in one msgspec pass
with a decoder of the form's shape made from the schema, and the extension reads each sample
list's text."""

import json
import math
import re
from functools import cache
from importlib import resources
from typing import Any, Union

from pyvora import _LIMITS, DecodeError, Protocol, _read_sample_list
from pyvora_cli.names import name_text
from pyvora_cli.streams import Trouble

NON_FINITE = {"NaN": math.nan, "Infinity": math.inf, "-Infinity": -math.inf}
FLOAT_REF = "#/$defs/float"
# A \uD800 ... \uDFFF escape (not after an escaped backslash) that is not one of a pair.
LONE_SURROGATE = re.compile(r"(?<!\\)(?:\\\\)*(\\u[dD][89abAB][0-9a-fA-F]{2}(?!\\u[dD][c-fC-F])"
                            r"|(?<!\\u[dD][89abAB][0-9a-fA-F]{2})\\u[dD][c-fC-F][0-9a-fA-F]{2})")


@cache
def schema() -> dict[str, Any]:
    """The JSON Schema of the form, shipped in the package."""
    text = resources.files("pyvora_cli").joinpath("protocol.schema.json").read_text("utf-8")
    loaded: dict[str, Any] = json.loads(text)
    return loaded


# --- writing ---------------------------------------------------------------------------------

def float_value(x: float) -> float | str:
    if math.isfinite(x):
        return x
    return "NaN" if math.isnan(x) else ("Infinity" if x > 0 else "-Infinity")


def is_scalar(value: Any) -> bool:
    return not isinstance(value, (dict, list))


CHUNK = 1 << 16  # samples converted at a time: the work stays in the cache, memory is reused


@cache
def digits_table() -> Any:
    """For each sample value 0 ... max_sample, its decimal digits and a comma, NUL-padded to 8
    bytes (one uint64 each)."""
    import numpy as np

    values = np.arange(_LIMITS["max_sample"] + 1)
    widest = len(str(_LIMITS["max_sample"]))
    length = 1 + sum((values >= 10**k).astype(int) for k in range(1, widest))
    table = np.zeros((len(values), 8), np.uint8)
    for k in range(widest):  # the k-th character from the left
        power = length - 1 - k
        shown = power >= 0
        table[shown, k] = ord("0") + values[shown] // 10 ** power[shown] % 10
    table[values, length] = ord(",")
    return table.view(np.uint64).ravel()


def samples_json(samples: Any, out: list[Any], per_line: int | None = None, indent: str = "") -> None:
    """A sample list (int16 array) as a JSON array: one table look-up per sample, then the
    padding dropped, instead of a Python int per sample. With per_line, the samples go that
    many to a line, each line indented under the list's opening, its closing bracket on a line
    of its own."""
    if len(samples) and per_line is not None:
        sample_lines(samples, per_line, indent, out)
        return
    if len(samples) == 0 or samples.min() < 0:  # never below 0 in a protocol; kept exact anyway
        out.append(bytes(f"[{','.join(map(str, samples.tolist()))}]", "ascii"))
        return
    table = digits_table()
    out.append(b"[")
    for start in range(0, len(samples), CHUNK):
        text = table[samples[start:start + CHUNK]].view("u1")
        out.append(text[text != 0].tobytes())
    out[-1] = out[-1][:-1] + b"]"  # no comma after the last sample


def sample_lines(samples: Any, per_line: int, indent: str, out: list[Any]) -> None:
    """The samples per_line to a line: the table entries of a line side by side in one row,
    after the row of its line break; the padding dropped from many rows at once."""
    import numpy as np

    feed = np.frombuffer(f"\n{indent}  ".encode(), np.uint8)
    per_line = min(per_line, len(samples))  # rows no longer than the list
    step = max(1, CHUNK // per_line) * per_line  # whole lines at a time
    out.append(b"[")
    for start in range(0, len(samples), step):
        part = samples[start:start + step]
        if part.min() < 0:  # as for one line
            cells = np.array([list(f"{x},".encode().ljust(8, b"\0")) for x in part.tolist()], np.uint8)
        else:
            cells = digits_table()[part].view("u1")
        lines = -(-len(part) // per_line)
        rows = np.zeros((lines, per_line * 8), np.uint8)
        rows.reshape(-1)[:cells.size] = cells.reshape(-1)
        text = np.concatenate([np.broadcast_to(feed, (lines, len(feed))), rows], axis=1).reshape(-1)
        out.append(text[text != 0].tobytes())
    out[-1] = out[-1][:-1] + f"\n{indent}]".encode()  # no comma after the last sample


def emit(value: Any, indent: str, out: list[Any], encode: Any, per_line: int | None = None) -> None:
    """Two-space indentation for the records; a list of numbers or flags (a sample list
    included, unless it is to have per_line samples to a line) on one line, encoded in one
    call."""
    inner = indent + "  "
    if isinstance(value, dict) and value:
        out.append(b"{")
        for i, (key, item) in enumerate(value.items()):
            out.append(f'{"," if i else ""}\n{inner}'.encode() + encode(key) + b": ")
            emit(item, inner, out, encode, per_line)
        out.append(f"\n{indent}}}".encode())
    elif isinstance(value, list) and value and not all(map(is_scalar, value)):
        out.append(b"[")
        for i, item in enumerate(value):
            out.append(f'{"," if i else ""}\n{inner}'.encode())
            emit(item, inner, out, encode, per_line)
        out.append(f"\n{indent}]".encode())
    elif isinstance(value, float):
        out.append(encode(float_value(value)))
    elif hasattr(value, "dtype"):
        samples_json(value, out, per_line, indent)
    elif isinstance(value, list):
        out.append(encode([float_value(x) if isinstance(x, float) else x for x in value]))
    else:
        out.append(encode(value))


def to_json(protocol: Protocol, samples_per_line: int | None = None) -> list[Any]:
    """The protocol's JSON form, ending in a line feed, as pieces to write one after the other
    (bytes, and NumPy arrays of bytes for the sample lists); each sample list on one line, or
    samples_per_line samples to a line."""
    import msgspec

    encode = msgspec.json.Encoder().encode
    out: list[Any] = []
    emit(protocol.to_dict(), "", out, encode, samples_per_line)
    out.append(b"\n")
    return out


# --- reading ---------------------------------------------------------------------------------

def resolve(node: dict[str, Any]) -> dict[str, Any]:
    while "$ref" in node and node["$ref"] != FLOAT_REF:
        node = schema()["$defs"][node["$ref"].rpartition("/")[2]]
    return node


def with_floats(value: Any, node: dict[str, Any]) -> Any:
    """The decoded JSON with "NaN", "Infinity" and "-Infinity" turned into floats where the
    schema has a float; everything else is left as it is, for from_dict to judge."""
    node = resolve(node)
    if node.get("$ref") == FLOAT_REF:
        return NON_FINITE.get(value, value) if isinstance(value, str) else value
    if "oneOf" in node and isinstance(value, dict):  # a signal: the branch of its kind
        for branch in map(resolve, node["oneOf"]):
            if branch["properties"]["kind"]["const"] == value.get("kind"):
                return with_floats(value, branch)
        return value
    if "properties" in node and isinstance(value, dict):
        fields = node["properties"]
        for key, item in value.items():
            if key in fields:
                value[key] = with_floats(item, fields[key])
        return value
    if "items" in node and isinstance(value, list):
        items = resolve(node["items"])
        if items.get("type") in ("integer", "boolean"):  # sample lists: nothing to turn
            return value
        return [with_floats(item, items) for item in value]
    return value


# JSON's tokens, as far as the refusals below need them: strings (whose brackets and digits are
# no tokens), brackets and braces, numbers with a fraction or an exponent (the only ones that can
# be too large for a float), white space, and any other number or literal.
STRING = r'"(?:[^"\\]|\\.)*"'
CONTAINERS = re.compile(STRING + r"|[\[\]{}]")
FLOATS = re.compile(STRING + r"|-?\d+(?:\.\d+(?:[eE][+-]?\d+)?|[eE][+-]?\d+)")
SPACE = re.compile(rb"[ \t\n\r]*")
KEY = re.compile(STRING.encode())
SCALAR = re.compile(rb'[^ \t\n\r,:\[\]{}"]+')


def end_of(pattern: re.Pattern[bytes], data: bytes, start: int) -> int:
    """Where the pattern's match at start ends (SPACE matches everywhere; the text is JSON)."""
    match = pattern.match(data, start)
    return start + 1 if match is None else match.end()


def deepest(text: str) -> int:
    """Where the text's nesting first reaches its greatest depth: the offset of that bracket."""
    depth = greatest = at = 0
    for token in CONTAINERS.finditer(text):
        mark = token.group()
        if mark in "[{":
            depth += 1
            if depth > greatest:
                greatest, at = depth, token.start()
        elif mark in "]}":
            depth -= 1
    return at


def out_of_range(text: str) -> int | None:
    """The offset of the first number too large for a float, if there is one."""
    for token in FLOATS.finditer(text):
        if token.group()[0] != '"' and math.isinf(float(token.group())):
            return token.start()
    return None


def flat_array_end(data: bytes, start: int) -> int | None:
    """Where the array at start ends when it holds no string, array or object (a sample list):
    nothing in it can be a key."""
    if data[end_of(SPACE, data, start + 1)] in b'"[{':  # not one, and no search to its end
        return None
    end = data.find(b"]", start)
    if all(data.find(mark, start + 1, end) < 0 for mark in (b'"', b"[", b"{")):
        return end + 1
    return None


@cache
def sample_keys() -> frozenset[str]:
    """The keys under which the form has a sample list (an array of integers)."""
    nodes = [schema(), *schema()["$defs"].values()]
    return frozenset(key for node in nodes for key, item in node.get("properties", {}).items()
                     if resolve(resolve(item).get("items", {})).get("type") == "integer")


def sample_texts(value: Any, key: str = "", out: dict[str, list[Any]] | None = None) -> dict[str, list[Any]]:
    """The sample lists that form_decoder() left as texts, by their key, in the order of the
    text (an array of integers holds no key, whatever it holds: from_dict refuses anything
    else in it)."""
    import msgspec

    out = {} if out is None else out
    if isinstance(value, msgspec.Raw):
        if key in sample_keys():
            out.setdefault(key, []).append(memoryview(value))
    elif isinstance(value, list):
        for item in value:
            sample_texts(item, key, out)
    else:
        for field in value.__struct_fields__:
            sample_texts(getattr(value, field), field, out)
    return out


def duplicate_key(data: bytes, samples: dict[str, list[Any]]) -> str | None:
    """For valid JSON: the first key that an object holds twice, written as "'key'" followed by
    " for <path of the object>" as from_dict writes paths (nothing more at the top level); None
    when no object has a key twice. A sample list is passed over in a byte search or two: one
    of `samples` (see sample_texts) found where it stands, or an array with no string and no
    array in it."""
    # Each open container: its path, its keys so far (None for an array), and the key being
    # read (True while a key is awaited) or the number of the item being read.
    frames: list[list[Any]] = []
    start = 0
    while True:
        start = end_of(SPACE, data, start)
        if start == len(data):
            return None
        mark = data[start]
        if mark in b"{[":
            path = ""
            if frames:
                outer, keys, at = frames[-1]
                path = f"{outer}[{at}]" if keys is None else f"{outer}.{at}" if outer else at
            end = None
            if mark == ord("[") and frames and samples.get(frames[-1][2]):
                text = samples[frames[-1][2]][0]
                if data.startswith(text, start):
                    end = start + len(text)
                    samples[frames[-1][2]].pop(0)
            if mark == ord("[") and end is None:
                end = flat_array_end(data, start)
            if end is None:
                frames.append([path, set(), True] if mark == ord("{") else [path, None, 0])
                end = start + 1
        elif mark in b"]}":
            frames.pop()
            end = start + 1
        elif mark == ord(","):
            frames[-1][2] = True if frames[-1][1] is not None else frames[-1][2] + 1
            end = start + 1
        elif mark == ord('"'):
            end = end_of(KEY, data, start)
            if frames and frames[-1][2] is True:
                token = data[start + 1:end - 1]
                key = json.loads(data[start:end]) if b"\\" in token else token.decode()
                path, keys, _ = frames[-1]
                if key in keys:
                    return f"{key!r} for {path}" if path else repr(key)
                keys.add(key)
                frames[-1][2] = key
        else:  # a colon, a number, true, false or null
            end = start + 1 if mark == ord(":") else end_of(SCALAR, data, start)
        start = end


def position(text: str, offset: int) -> str:
    line = text.count("\n", 0, offset) + 1
    column = offset - (text.rfind("\n", 0, offset) + 1) + 1
    return f"(line {line}, column {column})"


def json_error(data: bytes, error: Exception) -> str:
    """Why data is not JSON, with where: the standard library's json module words it; what
    only msgspec refuses keeps msgspec's words."""
    try:
        text = data.decode("utf-8")
    except UnicodeDecodeError as bad:
        prefix = data[:bad.start].decode("utf-8")
        return f"not UTF-8 {position(prefix, len(prefix))}"
    try:
        json.loads(text, parse_constant=lambda name: None)
    except json.JSONDecodeError as refused:
        return f"{refused.msg} (line {refused.lineno}, column {refused.colno})"
    except RecursionError:  # deeper than the standard library reads: msgspec's words
        pass
    lone = LONE_SURROGATE.search(text)  # JSON's grammar allows one; no UTF-8 text holds it
    if lone:
        return f"{lone.group(1)} is half of a surrogate pair {position(text, lone.start(1))}"
    if str(error).startswith("Number out of range"):  # msgspec names only the value's path
        at = out_of_range(text)
        if at is not None:
            return f"Number out of range {position(text, at)}"
    words, _, rest = str(error).removeprefix("JSON is malformed: ").partition(" (byte ")
    if rest.rstrip(")").isdigit():  # msgspec counts bytes; the position counts characters
        prefix = data[:int(rest.rstrip(")"))].decode("utf-8", "replace")
        return f"{words} {position(prefix, len(prefix))}"
    return words


def integer_array(raw: memoryview) -> memoryview | None:
    """A long JSON array of integers in a form export writes (digits and commas, with or without
    the line breaks of samples so many to a line) as a buffer of int16, read in C++ in one pass; None for any other spelling, which then takes the
    general road to the same samples or the same refusal."""
    if len(raw) < 64:
        return None
    samples = _read_sample_list(raw)
    return None if samples is None else memoryview(samples).cast("h")


def holds_samples(node: dict[str, Any]) -> bool:
    """Whether a schema node is, or leads to, an array of integers (a sample list)."""
    node = resolve(node)
    if node.get("$ref") == FLOAT_REF:
        return False
    if "items" in node:
        items = resolve(node["items"])
        return items.get("type") == "integer" or holds_samples(items)
    return any(map(holds_samples, [*node.get("properties", {}).values(), *node.get("oneOf", [])]))


@cache
def form_decoder() -> Any:
    """A msgspec decoder of the form's shape, made from the schema: the records and lists that
    lead to a sample list become Structs and lists (a signal a Struct tagged by its kind), every
    other member, the sample lists included, a msgspec.Raw text. One pass over the JSON checks
    it and finds the sample lists; a text of any other shape fails it and takes the general
    road."""
    import msgspec

    def type_of(node: dict[str, Any], name: str) -> Any:
        if "$ref" in node and node["$ref"] != FLOAT_REF:
            name = node["$ref"].rpartition("/")[2]
        node = resolve(node)
        if not holds_samples(node) or resolve(node.get("items", {})).get("type") == "integer":
            return msgspec.Raw
        if "items" in node:
            return list[type_of(node["items"], name)]  # type: ignore[misc]
        if "oneOf" in node:
            return Union[tuple(struct(resolve(branch), branch["$ref"].rpartition("/")[2], True)
                               for branch in node["oneOf"])]
        return struct(node, name, False)

    def struct(node: dict[str, Any], name: str, tagged: bool) -> Any:
        fields = [(key, type_of(item, key)) for key, item in node["properties"].items()
                  if not (tagged and key == "kind")]
        tag = {"tag_field": "kind", "tag": node["properties"]["kind"]["const"]} if tagged else {}
        return msgspec.defstruct(name, fields, forbid_unknown_fields=True, **tag)  # type: ignore[arg-type]

    return msgspec.json.Decoder(type_of(schema(), "Settings"))


def plain(value: Any, node: dict[str, Any]) -> Any:
    """What form_decoder() gave, as from_dict takes it: Structs as dicts, texts decoded, a
    sample list read by the extension where it has the form export writes."""
    import msgspec

    node = resolve(node)
    if isinstance(value, msgspec.Raw):
        if resolve(node.get("items", {})).get("type") == "integer":
            samples = integer_array(memoryview(value))
            if samples is not None:
                return samples
        return with_floats(msgspec.json.decode(value), node)
    if isinstance(value, list):
        return [plain(item, node["items"]) for item in value]
    record = {}
    if "oneOf" in node:  # a signal: its kind, then the fields of that kind
        kind = type(value).__struct_config__.tag
        record["kind"] = kind
        node = next(branch for branch in map(resolve, node["oneOf"]) if branch["properties"]["kind"]["const"] == kind)
    fields = node["properties"]
    record.update((key, plain(getattr(value, key), fields[key])) for key in value.__struct_fields__)
    return record


def from_json(data: bytes, name: str) -> Protocol:
    """The protocol of a JSON form; raises Trouble with the line that says why not."""
    import msgspec

    samples: dict[str, list[Any]] = {}
    try:
        try:
            tree = form_decoder().decode(data)
            value = plain(tree, schema())
            samples = sample_texts(tree)
        except msgspec.ValidationError:  # not of the form's shape: from_dict will say why
            value = with_floats(msgspec.json.decode(data), schema())
    except (msgspec.DecodeError, msgspec.ValidationError) as error:
        raise Trouble(f"{name_text(name)}: not JSON: {json_error(data, error)}") from None
    except RecursionError:  # msgspec, and the standard library's json, stop at the stack's depth
        text = data.decode("utf-8", "replace")
        raise Trouble(f"{name_text(name)}: not JSON: nested too deeply {position(text, deepest(text))}") from None
    duplicate = duplicate_key(data, samples)
    if duplicate is not None:
        raise Trouble(f"{name_text(name)}: duplicate key {duplicate}")
    try:
        return Protocol.from_dict(value)
    except DecodeError as error:
        raise Trouble(f"{name_text(name)}: {error}") from None

