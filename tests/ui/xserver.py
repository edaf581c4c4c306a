"""The private X server: an Xvfb of its own for every session, so that test modules can run side by side
and nothing appears on the user's screen. Each one admits only clients that hold its cookie, from an
authority file of its own: other users of the machine cannot watch or drive the test displays."""

from __future__ import annotations

import os
import secrets
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
    """An Xvfb of its own, on the first free display number of XVFB_DISPLAYS; env holds what its clients
    need (DISPLAY and XAUTHORITY)."""

    def __init__(self, size: tuple[int, int] = SCREEN_SIZE):
        self.size = size
        self.process: subprocess.Popen | None = None
        self.display = ""
        self.authority: Path | None = None

    @property
    def env(self) -> dict:
        return {"DISPLAY": self.display, "XAUTHORITY": str(self.authority)}

    def start(self, folder: Path) -> "XServer":
        """folder: where the authority file goes; it must outlive the server (a session's scratch folder)."""
        self.authority = folder / "Xauthority"
        cookie = secrets.token_hex(16)
        for number in _display_candidates():
            if Path(f"/tmp/.X{number}-lock").exists() or Path(f"/tmp/.X11-unix/X{number}").exists():
                continue
            # The server reads every cookie of the file whatever display it names; clients look theirs up
            # by display number.
            self.authority.unlink(missing_ok=True)
            subprocess.run(["xauth", "-q", "-f", str(self.authority), "add", f":{number}", ".", cookie],
                           check=True, capture_output=True, timeout=30)
            process = subprocess.Popen(
                ["Xvfb", f":{number}", "-auth", str(self.authority), "-screen", "0",
                 f"{self.size[0]}x{self.size[1]}x24", "-nolisten", "tcp", "-noreset"],
                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, preexec_fn=end_with_this_process,
            )
            deadline = time.monotonic() + 10
            while time.monotonic() < deadline and process.poll() is None:
                # Another run may have taken the number at the same moment: the display is ours only
                # when the lock file names our server.
                if self._lock_holder(number) == process.pid and subprocess.run(
                    ["xdpyinfo"], capture_output=True, env={**os.environ, "DISPLAY": f":{number}",
                                                             "XAUTHORITY": str(self.authority)}
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
