"""The launcher where it really runs: at the root of a CD-ROM drive. scripts/make-medium writes an image
of the sample payload; its files, as Windows reads them (the Joliet names), become drive D: of type
CD-ROM, read-only.
Started as D:\\setup.exe, the launcher's base directory is the drive root D:\\ (the short path that gets
no second backslash): the picture button shows D:\\voabc.txt, "确认" starts D:\\vorncopy\\tarvinxp.exe,
and nothing is ever written to the disc.

Only the x86-64 launcher runs here, so it takes the place of the image's 32-bit one on the drive."""

import hashlib
import os
import shutil
import stat
import sys
import unittest
from pathlib import Path

import harness
from harness import Id

sys.path.insert(0, str(harness.REPO_ROOT / "tests" / "release"))
import medium_image  # noqa: E402  (tests/release, found through the path above)

DRIVE_CDROM = 5  # GetDriveType's DRIVE_CDROM, as Win32_LogicalDisk reports it


def panel_text(notes: bytes) -> str:
    """What the text panel shows for notes in code page 936 with CR LF line ends."""
    lines = notes.decode("gbk").split("\r\n")
    if lines[-1] == "":
        lines.pop()
    return "".join("\r\n" + line for line in lines)


def snapshot(folder: Path) -> dict[str, tuple]:
    """Every entry below folder with its type, mode, modification time and content hash."""
    entries = {}
    for path in [folder, *sorted(folder.rglob("*"))]:
        info = path.lstat()
        digest = hashlib.sha256(path.read_bytes()).hexdigest() if stat.S_ISREG(info.st_mode) else None
        entries[str(path.relative_to(folder))] = (stat.S_IFMT(info.st_mode), stat.S_IMODE(info.st_mode),
                                                 info.st_mtime_ns, digest)
    return entries


def make_read_only(folder: Path, read_only: bool) -> None:
    for path in [folder, *folder.rglob("*")]:
        mode = path.stat().st_mode
        os.chmod(path, mode & ~0o222 if read_only else mode | stat.S_IWUSR)


class LauncherOnCdRom(harness.LauncherTestCase):
    code_page_936 = True
    launch_on_setup = False

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        session = cls.session
        payload = session.folder / "payload"
        harness.lay_out_medium(payload)
        (payload / "setup.exe").unlink()  # the medium's launcher is make-medium's business
        cls.notes = (payload / "voabc.txt").read_bytes()
        image = session.folder / "medium.iso"
        result = medium_image.make_medium(payload, image)
        if result.returncode != 0:
            raise AssertionError(f"make-medium failed ({result.returncode}):\n{result.stderr}")

        cls.disc = medium_image.extract(image, session.folder / "disc", medium_image.JOLIET)
        cls.image_tree = medium_image.file_tree(image)
        shutil.copyfile(harness.setup_exe(), cls.disc / "setup.exe")
        # Read-only as a disc is; root ignores modes, so the snapshots before and after are what count.
        make_read_only(cls.disc, True)
        cls.addClassCleanup(make_read_only, cls.disc, False)  # before the session removes its folder

        drive = session.prefix / "dosdevices" / "d:"
        if drive.is_symlink() or drive.exists():
            drive.unlink()
        drive.symlink_to(cls.disc)
        session.run_wine("reg", "add", r"HKLM\Software\Wine\Drives", "/v", "d:", "/t", "REG_SZ", "/d", "cdrom", "/f")
        session.restart_wine()  # the mount manager reads the drive types when it starts

    def setUp(self):
        super().setUp()
        self.record = self.record_installer_starts()

    def drive_types(self) -> dict[str, int]:
        output = self.session.run_wine("wmic", "logicaldisk", "get", "DeviceID,DriveType").stdout
        rows = [line.split() for line in output.decode("utf-16").splitlines()[1:]]
        return {row[0]: int(row[1]) for row in rows if len(row) == 2}

    def test_drive_d_is_a_cd_rom_with_the_images_files(self):
        self.assertEqual(self.drive_types().get("D:"), DRIVE_CDROM)
        on_drive = sorted("/" + str(p.relative_to(self.disc)) for p in self.disc.rglob("*"))
        self.assertEqual(on_drive, self.image_tree)

    def test_from_the_drive_root_notes_and_confirm_reach_the_disc_and_nothing_is_written(self):
        before = snapshot(self.disc)
        medium = harness.Medium(self.disc, "D:\\")
        self.launcher = self.session.launch(medium)
        state = self.session.state()

        self.session.mouse_click(*state.control(Id.COMMAND4).rect.centre)

        def notes_shown():
            now = self.session.state()
            return now if now.control(Id.TEXT2).visible and now.control(Id.CMD_CONTINUE).enabled else None

        state = self.eventually(notes_shown, timeout=10, message="the notes panel did not show with 确认 enabled")
        self.assertEqual(state.control(Id.TEXT2).text, panel_text(self.notes))

        self.session.mouse_click(*state.control(Id.CMD_CONTINUE).rect.centre)
        self.assertLauncherEnds()
        starts = self.eventually(lambda: harness.installer_starts(self.record), timeout=15,
                                 message="the installer did not start")
        self.assertEqual([start.program for start in starts], ["D:\\vorncopy\\tarvinxp.exe"])
        self.assertEqual(snapshot(self.disc), before)


if __name__ == "__main__":
    unittest.main()
