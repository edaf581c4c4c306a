"""The private X server: an Xvfb of its own for every session, so that test modules can run side by side
and nothing appears on the user's screen."""

from __future__ import annotations

import os
import subprocess
import time
from pathlib import Path

from common import end_with_this_process

# The screen the tests expect: the design asks for at least 1024 x 768.
SCREEN_SIZE = (1024, 768)


def _display_candidates() -> list[int]:
    ranges = os.environ.get("XVFB_DISPLAYS", "100-163")
    numbers: list[int] = []
    for part in ranges.split(","):
        first, _, last = part.strip().partition("-")
        numbers.extend(range(int(first), int(last or first) + 1))
    return numbers


class XServer:
    """An Xvfb of its own, on the first free display number of XVFB_DISPLAYS."""

    def __init__(self, size: tuple[int, int] = SCREEN_SIZE):
        self.size = size
        self.process: subprocess.Popen | None = None
        self.display = ""

    def start(self) -> "XServer":
        for number in _display_candidates():
            if Path(f"/tmp/.X{number}-lock").exists() or Path(f"/tmp/.X11-unix/X{number}").exists():
                continue
            process = subprocess.Popen(
                ["Xvfb", f":{number}", "-screen", "0", f"{self.size[0]}x{self.size[1]}x24", "-nolisten", "tcp",
                 "-noreset"],
                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, preexec_fn=end_with_this_process,
            )
            deadline = time.monotonic() + 10
            while time.monotonic() < deadline and process.poll() is None:
                # Another run may have taken the number at the same moment: the display is ours only
                # when the lock file names our server.
                if self._lock_holder(number) == process.pid and subprocess.run(
                    ["xdpyinfo", "-display", f":{number}"], capture_output=True
                ).returncode == 0:
                    self.process, self.display = process, f":{number}"
                    return self
                time.sleep(0.05)
            if process.poll() is None:
                process.kill()
                process.wait()
        raise RuntimeError("no free X display among XVFB_DISPLAYS")

    @staticmethod
    def _lock_holder(number: int) -> int | None:
        try:
            return int(Path(f"/tmp/.X{number}-lock").read_text().strip())
        except (OSError, ValueError):
            return None

    def stop(self) -> None:
        if self.process and self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(timeout=5)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self.process = None
