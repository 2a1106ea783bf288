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

    def _longest(self, text: str, room: float, tail: str, font: dict[str, Any]) -> int:
        """The longest prefix of text that fits with tail after it, by bisection (at least 0)."""
        low, high = 0, len(text)
        while low < high:
            middle = (low + high + 1) // 2
            if self.fits(text[:middle].rstrip() + tail, room, **font):
                low = middle
            else:
                high = middle - 1
        return low

    def wrap(self, text: str, room: float, **font: Any) -> list[str]:
        """The text in lines that each fit: broken at spaces, within a word too wide alone."""
        text = drawable(text)
        lines = []
        while not self.fits(text, room, **font):
            n = max(self._longest(text, room, "", font), 1)
            cut = text.rfind(" ", 0, n + 1)
            end, start = (cut, cut + 1) if cut > 0 else (n, n)
            lines.append(text[:end].rstrip(" "))
            text = text[start:].lstrip(" ")
        return [*lines, text]

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
