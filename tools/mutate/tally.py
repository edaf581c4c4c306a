"""The verdicts on mutants: each printed as it comes, and the tally per folder."""

from __future__ import annotations

import sys
import threading
from collections import Counter
from dataclasses import dataclass

from mutant import Mutant

KILLED, SURVIVED, NOT_VIABLE = "killed", "survived", "not viable"


@dataclass
class Outcome:
    mutant: Mutant
    verdict: str
    detail: str = ""


class Report:
    """Prints each verdict as it comes and keeps the tally per folder."""

    def __init__(self, out=sys.stdout, quiet_killed: bool = False):
        self.out = out
        self.quiet_killed = quiet_killed
        self.tally: dict[str, Counter] = {}
        self.survivors: list[Mutant] = []
        self.lock = threading.Lock()

    def add(self, folder: str, outcome: Outcome) -> None:
        with self.lock:
            self.tally.setdefault(folder, Counter())[outcome.verdict] += 1
            if outcome.verdict == SURVIVED:
                self.survivors.append(outcome.mutant)
            if outcome.verdict == KILLED and self.quiet_killed:
                return
            detail = f" ({outcome.detail})" if outcome.detail else ""
            print(f"{outcome.verdict:<10} {outcome.mutant}{detail}", file=self.out, flush=True)

    def summary(self) -> list[str]:
        lines = []
        for folder, counts in sorted(self.tally.items()):
            viable = counts[KILLED] + counts[SURVIVED]
            score = f"{100 * counts[KILLED] / viable:.1f}%" if viable else "-"
            lines.append(f"{folder}: {counts[KILLED]} killed of {viable} viable ({score}), "
                         f"{counts[SURVIVED]} survived, {counts[NOT_VIABLE]} not viable")
        return lines
