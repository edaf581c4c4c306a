"""The Wine prefix: a template prefix booted once and copied for every session, the private zh_CN
locale that gives Windows programs the ANSI code page 936, and WineSession, one prefix with its
wineserver and the environment that runs Windows programs in it."""

from __future__ import annotations

import contextlib
import os
import shutil
import subprocess
import tempfile
from pathlib import Path

from common import KEEP_SCRATCH, ROAD, Road, end_with_this_process, locked, run_captured


BASE_WINE_ENV = {"WINEDEBUG": "-all", "WINEDLLOVERRIDES": "mscoree,mshtml=d"}


def wine_version(road: Road = ROAD) -> str:
    result = subprocess.run(["wine", "--version"], capture_output=True, text=True, env=clean_env(road=road))
    if result.returncode != 0:
        raise RuntimeError(f"the Wine of the {road.name} road does not run: {result.stderr.strip()}")
    return result.stdout.strip()


def clean_env(extra: dict | None = None, road: Road = ROAD) -> dict:
    """The caller's environment without its Wine settings, display and locale; wine and wineserver are
    the road's."""
    env = {k: v for k, v in os.environ.items() if not k.startswith("WINE") and k not in ("DISPLAY", "LOCPATH")}
    if road.wine_bin:
        env["PATH"] = f"{road.wine_bin}{os.pathsep}{env.get('PATH', os.defpath)}"
    env.update(BASE_WINE_ENV)
    env.update(extra or {})
    return env


# Raised whenever what template_prefix() sets up changes, so that older templates are booted anew.
TEMPLATE_REVISION = 2


def template_prefix(road: Road = ROAD) -> Path:
    """A booted Wine prefix that sessions copy; booted once (about 15 s, 60 s on the i686 road) and kept
    under the road's work folder."""
    if road.wine_bin and not (road.wine_bin / "wine").exists():
        raise RuntimeError(f"the {road.name} road's Wine is not prepared in {road.wine_bin} "
                           "(scripts/test prepares it; see prepare_i386_wine in scripts/i386_road.sh)")
    template = road.work_dir / "wine-template"
    marker = template / ".template-ready"
    version = f"{wine_version(road)} template {TEMPLATE_REVISION}"
    with locked("wine-template", road):
        if marker.is_file() and marker.read_text() == version:
            return template
        shutil.rmtree(template, ignore_errors=True)
        env = clean_env({"WINEPREFIX": str(template)}, road)
        run_captured(["wine", "wineboot", "-i"], env=env, check=True, timeout=300)
        # A crashing program must not leave a dialog on the screen that hides what the test looks at.
        run_captured(
            ["wine", "reg", "add", r"HKCU\Software\Wine\WineDbg", "/v", "ShowCrashDialog", "/t", "REG_DWORD",
             "/d", "0", "/f"],
            env=env, check=True, timeout=120,
        )
        _replace_window_fonts(env, template)
        subprocess.run(["wineserver", "-w"], env=env, check=True, timeout=120)
        marker.write_text(version)
        return template


# The window names "宋体" and "黑体". Left to itself Wine maps both to WenQuanYi Zen Hei, whose 12 px
# bitmap strike loses strokes at 9 pt; a Song (Ming) face and an outline Hei face look like the real ones.
FONT_REPLACEMENTS = {
    "宋体": "AR PL UMing CN",
    "SimSun": "AR PL UMing CN",
    "黑体": "WenQuanYi Micro Hei",
    "SimHei": "WenQuanYi Micro Hei",
}


def _replace_window_fonts(env: dict, prefix: Path) -> None:
    lines = ["Windows Registry Editor Version 5.00", "", r"[HKEY_CURRENT_USER\Software\Wine\Fonts\Replacements]"]
    lines += [f'"{face}"="{replacement}"' for face, replacement in FONT_REPLACEMENTS.items()]
    reg_file = prefix / "drive_c" / "font-replacements.reg"
    # regedit reads UTF-16 LE with a byte order mark, so the Chinese face names survive any Unix locale.
    reg_file.write_bytes(("\r\n".join(lines) + "\r\n").encode("utf-16"))
    run_captured(["wine", "regedit", "/S", r"C:\font-replacements.reg"], env=env, check=True, timeout=120)
    reg_file.unlink()


def zh_locale_dir(road: Road = ROAD) -> Path:
    """A private zh_CN.UTF-8 locale (LOCPATH), so that Wine runs with ANSI code page 936 (GBK). The i386
    root folder reads the one made here: it sees the checkout at the same path."""
    locale_root = road.work_dir / "locale"
    with locked("locale", road):
        if not (locale_root / "zh_CN.UTF-8" / "LC_CTYPE").is_file():
            locale_root.mkdir(parents=True, exist_ok=True)
            subprocess.run(
                ["localedef", "-i", "zh_CN", "-f", "UTF-8", str(locale_root / "zh_CN.UTF-8")],
                check=True, capture_output=True, timeout=300,
            )
    return locale_root


def zh_locale_env(road: Road = ROAD) -> dict:
    return {"LOCPATH": str(zh_locale_dir(road)), "LANG": "zh_CN.UTF-8", "LC_ALL": "zh_CN.UTF-8"}


# Wine's own DLLs are never written to: share them with the template instead of copying 700 MB.
_SHARED_SUFFIXES = {".dll", ".exe", ".drv", ".sys", ".ocx", ".cpl", ".acm", ".ax", ".tlb", ".ds", ".msstyles"}


def _link_or_copy(source: str, destination: str) -> str:
    if Path(source).suffix.lower() in _SHARED_SUFFIXES and "drive_c" in Path(source).parts:
        try:
            os.link(source, destination)
            return destination
        except OSError:
            pass
    return shutil.copy2(source, destination)


def clone_prefix(destination: Path, road: Road = ROAD) -> None:
    shutil.copytree(template_prefix(road), destination, symlinks=True, copy_function=_link_or_copy)


class WineSession:
    """A Wine prefix of its own, with a wineserver that stays up, and the environment (env) that runs
    Windows programs in it on an X display. The scratch folder (folder) holds a copy of the template
    prefix unless a lasting prefix is given, and whatever else the session lays out.

    dpi: the screen's logical resolution (the prefix's LogPixels); code_page_936: run every Windows
    program with a private zh_CN.UTF-8 locale, so that the ANSI code page is 936 (GBK); unix_locale:
    otherwise, the LANG and LC_ALL to run Wine with (e.g. "C.UTF-8", code page 1252), instead of the
    caller's; prefix: a lasting Wine prefix to use (made from the template when missing); road: which
    build runs, under which Wine (common.Road).
    """

    def __init__(self, dpi: int = 96, code_page_936: bool = False, prefix: Path | None = None,
                 unix_locale: str | None = None, road: Road = ROAD):
        self.road = road
        self.dpi = dpi
        self.code_page_936 = code_page_936
        self.unix_locale = unix_locale
        self.lasting_prefix = prefix
        self.folder: Path | None = None
        self.prefix: Path | None = None
        self.env: dict = {}

    def _make_folder(self) -> None:
        self.road.work_dir.mkdir(parents=True, exist_ok=True)
        self.folder = Path(tempfile.mkdtemp(prefix="session-", dir=self.road.work_dir))
        # Whoever cleans up after killed runs leaves the folder of a living session alone.
        (self.folder / "owner.pid").write_text(f"{os.getpid()}\n")

    def _open_prefix(self, x_env: dict) -> None:
        """The prefix, ready for Windows programs on the X display that x_env names (DISPLAY, and
        XAUTHORITY when the display's own cookie is not the caller's); the scratch folder exists already."""
        if self.lasting_prefix:
            self.prefix = self.lasting_prefix
            if not (self.prefix / "system.reg").is_file():
                shutil.rmtree(self.prefix, ignore_errors=True)
                clone_prefix(self.prefix, self.road)
        else:
            self.prefix = self.folder / "prefix"
            clone_prefix(self.prefix, self.road)
        self.env = clean_env({"WINEPREFIX": str(self.prefix), **x_env}, self.road)
        if self.code_page_936:
            self.env.update(zh_locale_env(self.road))
        elif self.unix_locale:
            self.env.update({"LANG": self.unix_locale, "LC_ALL": self.unix_locale})
        if self.dpi != 96:
            self._set_dpi(self.dpi)
        self._start_wineserver()

    def _close_prefix(self) -> None:
        """Ends every Windows program of the prefix and its wineserver."""
        if self.prefix and self.prefix.exists():
            env = clean_env({"WINEPREFIX": str(self.prefix)}, self.road)
            subprocess.run(["wineserver", "-k"], env=self.env or env, capture_output=True, timeout=60)
            with contextlib.suppress(subprocess.TimeoutExpired):
                subprocess.run(["wineserver", "-w"], env=env, timeout=self.road.seconds(30))

    def _remove_folder(self) -> None:
        if self.folder and not KEEP_SCRATCH:
            shutil.rmtree(self.folder, ignore_errors=True)

    def _set_dpi(self, dpi: int) -> None:
        # Wine 8 reads HKCU\Control Panel\Desktop\LogPixels first and falls back to the hardware profile's
        # value; both are set so that either reading sees the same resolution. Programs read it at start.
        for key in (r"HKCU\Control Panel\Desktop",
                    r"HKLM\System\CurrentControlSet\Hardware Profiles\Current\Software\Fonts"):
            self.run_wine("reg", "add", key, "/v", "LogPixels", "/t", "REG_DWORD", "/d", str(dpi), "/f")
        self._stop_wineserver()  # which writes the registry out

    def _start_wineserver(self) -> None:
        # Debian's wineserver ends the moment the last program does (-p0); a program started just then
        # would meet a server on its way out. This one stays up until the session ends it.
        run_captured(["wineserver", "-p"], env=self.env, timeout=60)

    def _stop_wineserver(self) -> None:
        subprocess.run(["wineserver", "-k"], env=self.env, capture_output=True, timeout=60)
        with contextlib.suppress(subprocess.TimeoutExpired):
            subprocess.run(["wineserver", "-w"], env=self.env, timeout=self.road.seconds(30))

    def restart_wine(self) -> None:
        """Ends every Windows process of the prefix (an installer the launcher started, for instance)."""
        self._stop_wineserver()
        self._start_wineserver()

    def wine(self, *args: str, detached: bool = False, **popen_args) -> subprocess.Popen:
        """Starts a Windows program (a Windows or a Unix path) in this session's prefix and display.
        detached: the program may outlive this process (else it ends with it); env: another environment
        than the session's."""
        popen_args.setdefault("stdout", subprocess.DEVNULL)
        popen_args.setdefault("stderr", subprocess.DEVNULL)
        if detached:
            popen_args["start_new_session"] = True
        else:
            popen_args["preexec_fn"] = end_with_this_process
        popen_args.setdefault("env", self.env)
        return subprocess.Popen(["wine", *args], **popen_args)

    def run_wine(self, *args: str, timeout: float = 120, check: bool = True) -> subprocess.CompletedProcess:
        return run_captured(["wine", *args], env=self.env, timeout=timeout, check=check)

    @property
    def drive_c(self) -> Path:
        return self.prefix / "drive_c"

    def windows_path(self, path: Path) -> str:
        """A path of this machine as Windows programs in the prefix see it (drive Z: is the root)."""
        return "Z:" + str(Path(path).resolve()).replace("/", "\\")
