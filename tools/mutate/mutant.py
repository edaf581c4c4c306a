"""One mutant: a single replacement of a span of a source file."""

from __future__ import annotations

from dataclasses import dataclass


@dataclass(frozen=True)
class Mutant:
    path: str  # relative to the checkout, with forward slashes
    line: int
    description: str
    start: int  # character offsets into the original source
    end: int
    replacement: str

    def apply(self, source: str) -> str:
        return source[:self.start] + self.replacement + source[self.end:]

    def __str__(self) -> str:
        return f"{self.path}:{self.line}: {self.description}"
