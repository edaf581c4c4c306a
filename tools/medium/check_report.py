"""What check-medium found about one medium, line by line: what is the same, what differs (counted for the
verdict), notes, and what was not checked."""

from __future__ import annotations

from dataclasses import dataclass, field


@dataclass
class Report:
    lines: list[str] = field(default_factory=list)
    differences: int = 0
    differing_paths: set[str] = field(default_factory=set)
    not_checked: list[str] = field(default_factory=list)
    unchecked_signers: list[str] = field(default_factory=list)  # programs signed by someone nobody checked
    unchecked: list[str] = field(default_factory=list)  # anything else not checked, for the verdict
    signature: str = ""  # setup.exe's signature in a few words, for the verdict
    listed: int = 0  # payload files checked against the signed payload list

    def same(self, text: str) -> None:
        self.lines.append(f"  same: {text}")

    def differs(self, text: str) -> None:
        self.lines.append(f"  differs: {text}")
        self.differences += 1

    def note(self, text: str) -> None:
        self.lines.append(f"  {text}")
