"""The texts of pyvora_cli.plot's picture, made to fit: measured as the Agg canvas lays them out,
wrapped, or shortened with "…" and a note number whose whole text goes under the rows; any
character that the picture's font cannot draw is written `\\u{<hex>}`, as the text form writes
characters it cannot show, so that matplotlib has no glyph to warn about."""

from __future__ import annotations

import functools
from typing import Any

# Measured widths leave this much of the room unused: vector formats lay out glyphs a little
# differently from Agg.
SLACK = 0.985


@functools.cache
def _glyphs() -> frozenset[int]:
    """The characters both weights of the picture's font can draw."""
    from matplotlib.font_manager import FontProperties, findfont, get_font

    maps = [get_font(findfont(FontProperties(weight=weight))).get_charmap() for weight in ("normal", "bold")]
    return frozenset(maps[0]).intersection(maps[1])


def drawable(text: str) -> str:
    """The text with each character the font lacks (and any lone surrogate) written `\\u{<hex>}`."""
    if text.isascii():
        return text
    glyphs = _glyphs()
    return "".join(ch if ch.isascii() or ord(ch) in glyphs else f"\\u{{{ord(ch):x}}}" for ch in text)


class Fit:
    """Widths of texts in inches at one figure's dpi, and the notes of what was shortened."""

    def __init__(self, dpi: float):
        from matplotlib.backends.backend_agg import RendererAgg

        self.renderer = RendererAgg(1, 1, dpi)  # metrics only: the canvas' size plays no part
        self.dpi = dpi
        self.fonts: dict[tuple[Any, ...], Any] = {}
        self.notes: list[str] = []  # whole texts of the shortened ones, note 1 first

    def width(self, text: str, size: float, weight: str = "normal", family: str | None = None) -> float:
        from matplotlib.font_manager import FontProperties

        key = (size, weight, family)
        if key not in self.fonts:
            self.fonts[key] = FontProperties(size=size, weight=weight, family=family)
        return float(self.renderer.get_text_width_height_descent(text, self.fonts[key], False)[0]) / self.dpi

    def fits(self, text: str, room: float, **font: Any) -> bool:
        return self.width(text, **font) <= room * SLACK - 1.0 / self.dpi

    def _longest(self, text: str, room: float, tail: str, font: dict[str, Any], start: int = 0,
                 guess: int = 32) -> int:
        """The length of the longest piece of text from `start` that fits with tail after it (at
        least 0). Searched from a guess (the previous line's length) by steps that double, then
        by bisection: no text measured is much longer than the piece, so a long text's lines
        cost time in proportion to their length, and lines alike cost few measures."""
        def fit(length: int) -> bool:
            return self.fits(text[start:start + length].rstrip() + tail, room, **font)

        size = len(text) - start
        guess, step = min(max(guess, 1), size), 1
        if size == 0:
            return 0
        if fit(guess):  # low fits; high + 1 does not, or is past the end
            low, high = guess, size
            while low + step <= size:
                if not fit(low + step):
                    high = low + step - 1
                    break
                low, step = low + step, 2 * step
        else:
            low, high = 0, guess - 1
            while high - step + 1 > 0:
                if fit(high - step + 1):
                    low = high - step + 1
                    break
                high, step = high - step, 2 * step
        while low < high:
            middle = (low + high + 1) // 2
            if fit(middle):
                low = middle
            else:
                high = middle - 1
        return low

    def wrap(self, text: str, room: float, **font: Any) -> list[str]:
        """The text in lines that each fit: broken at spaces, within a word too wide alone."""
        text = drawable(text)
        lines: list[str] = []
        start = 0  # of the rest, which each line takes from: no copy of the rest is made
        n = 32
        while True:
            n = self._longest(text, room, "", font, start, n)
            # An empty rest ends it too: in a room too narrow for anything, it may not "fit".
            if start + n == len(text) and (start == len(text) or self.fits(text[start:], room, **font)):
                return [*lines, text[start:]]
            n = max(n, 1)
            cut = text.rfind(" ", start, start + n + 1)
            end, after = (cut, cut + 1) if cut > start else (start + n, start + n)
            lines.append(text[start:end].rstrip(" "))
            start = after
            while start < len(text) and text[start] == " ":
                start += 1

    def pieces(self, pieces: list[str], room: float, separator: str = "    ", **font: Any) -> list[str]:
        """The pieces on one line when they fit, else each wrapped on lines of its own."""
        whole = separator.join(pieces)
        if self.fits(drawable(whole), room, **font):
            return [drawable(whole)]
        return [line for piece in pieces for line in self.wrap(piece, room, **font)]

    def shorten(self, text: str, room: float, **font: Any) -> str:
        """The text when it fits, else its longest start that does with "… [n]", note n its whole."""
        text = drawable(text)
        if self.fits(text, room, **font):
            return text
        self.notes.append(text)
        tail = f"… [{len(self.notes)}]"
        return text[:self._longest(text, room, tail, font)].rstrip() + tail
