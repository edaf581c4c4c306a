"""Two builds of the same commit, checked out in folders of different names and built one after the
other with another time zone and umask, must give the same bytes: the release setup.exe, pathcheck.exe
and the medium that scripts/make-medium writes from the same payload and version, with setup.exe signed
by the same key. This is what a vendor does to check a shipped medium (see the README), so the test does it the same
way: clone, make-medium, compare.

The commit is HEAD of this checkout (RELEASE_COMMIT names another); uncommitted changes are not part
of it. Settings: REPRODUCIBLE_WORK_DIR (where the two checkouts go; default: the system's temp folder).
"""

import datetime
import os
import shutil
import subprocess
import tempfile
import unittest
from pathlib import Path

import medium_image
import pefile
import signing_keys

import build

REPO_ROOT = medium_image.REPO_ROOT
# A vendor's own version for the programs' version record, which must come out the same twice as well.
VERSION = "2.3.4"


def git(*args: str, cwd: Path = REPO_ROOT) -> str:
    return subprocess.run(["git", *args], cwd=cwd, check=True, capture_output=True, text=True).stdout.strip()


def built_program(build: Path, name: str) -> Path | None:
    found = sorted(p for p in build.rglob(name) if "CMakeFiles" not in p.parts)
    return found[0] if found else None


class Build:
    """One checkout of the commit and what make-medium made in it."""

    def __init__(self, checkout: Path, image: Path):
        self.checkout = checkout
        self.image = image
        self.release = checkout / "build" / "win32"

    def program(self, name: str) -> Path | None:
        return built_program(self.release, name)


@unittest.skipUnless((REPO_ROOT / ".git").exists(), "not a git checkout: nothing to check out twice")
class TwoBuildsOfOneCommit(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.commit = os.environ.get("RELEASE_COMMIT") or git("rev-parse", "HEAD")
        work = os.environ.get("REPRODUCIBLE_WORK_DIR")
        if work:
            Path(work).mkdir(parents=True, exist_ok=True)
        cls.folder = Path(tempfile.mkdtemp(prefix="reproducible-", dir=work))
        cls.addClassCleanup(shutil.rmtree, cls.folder, True)
        payload = cls.folder / "payload"
        medium_image.lay_out_payload(payload)
        cls.keys = signing_keys.make_test_keys(cls.folder / "keys")
        # Folder names of different lengths, so that a leaked path also shifts everything after it.
        cls.first = cls.build(cls.folder / "a" / "tarvin", payload, time_zone="UTC", umask=0o022)
        cls.second = cls.build(cls.folder / "second-checkout" / "elsewhere" / "tarvin-setup", payload,
                               time_zone="Asia/Shanghai", umask=0o027)

    @classmethod
    def build(cls, checkout: Path, payload: Path, time_zone: str, umask: int) -> Build:
        checkout.parent.mkdir(parents=True)
        git("clone", "--quiet", "--shared", "--no-checkout", str(REPO_ROOT), str(checkout))
        git("checkout", "--quiet", "--detach", cls.commit, cwd=checkout)
        image = checkout.parent / "medium.iso"
        env = {k: v for k, v in os.environ.items() if k not in ("RELEASE_BUILD_DIR", "SOURCE_DATE_EPOCH")}
        env["TZ"] = time_zone
        result = subprocess.run(
            ["bash", str(checkout / "scripts" / "make-medium"), "--version", VERSION, "--pkcs12", str(cls.keys.path("signer.p12")),
             "--password-file", str(cls.keys.password_file), str(payload), str(image)],
            env=env, cwd=checkout, capture_output=True, text=True, timeout=1500,
            preexec_fn=lambda: os.umask(umask),
        )
        if result.returncode != 0:
            raise AssertionError(f"make-medium in {checkout} failed ({result.returncode}):\n"
                                 f"{result.stdout[-4000:]}\n{result.stderr[-4000:]}")
        return Build(checkout, image)

    def assertSameBytes(self, first: Path, second: Path) -> None:
        a, b = first.read_bytes(), second.read_bytes()
        if a != b:
            offset = next((i for i, (x, y) in enumerate(zip(a, b)) if x != y), min(len(a), len(b)))
            self.fail(f"{first.name} differs between the builds: {len(a)} and {len(b)} bytes, "
                      f"first difference at offset {offset:#x}")

    def assertNoBuildFolderInside(self, program: Path, build: Build) -> None:
        content = program.read_bytes()
        for folder in (build.checkout, build.checkout.parent):
            for encoding in ("utf-8", "utf-16-le"):
                self.assertNotIn(str(folder).encode(encoding), content, f"{program.name} names {folder}")

    def test_release_launcher_is_the_same_and_names_no_build_folder(self):
        first, second = self.first.program("setup.exe"), self.second.program("setup.exe")
        self.assertIsNotNone(first)
        self.assertIsNotNone(second)
        self.assertSameBytes(first, second)
        self.assertNoBuildFolderInside(first, self.first)

    def test_path_check_program_is_the_same_and_names_no_build_folder(self):
        first, second = self.first.program("pathcheck.exe"), self.second.program("pathcheck.exe")
        if first is None and second is None:
            self.skipTest(f"pathcheck.exe is not built at {self.commit[:12]} yet: nothing to compare")
        self.assertIsNotNone(first, "only the second build has pathcheck.exe")
        self.assertIsNotNone(second, "only the first build has pathcheck.exe")
        self.assertSameBytes(first, second)
        self.assertNoBuildFolderInside(first, self.first)

    def test_media_are_the_same(self):
        self.assertSameBytes(self.first.image, self.second.image)

    def test_medium_carries_the_commits_time_and_the_launcher_it_built_signed_at_that_time(self):
        committed = datetime.datetime.fromtimestamp(int(git("log", "-1", "--format=%ct", self.commit)),
                                                    datetime.timezone.utc)
        medium = medium_image.image(self.first.image)
        self.assertEqual(medium.volume_created, committed.strftime("%Y%m%d%H%M%S00"))
        self.assertEqual(build.parse_application_id(medium.application_id), build.Origin(self.commit, VERSION, False))
        program = pefile.PE(str(self.first.program("setup.exe")))
        strings = {key.decode(): value.decode() for info in program.FileInfo[0] if hasattr(info, "StringTable")
                   for table in info.StringTable for key, value in table.entries.items()}
        self.assertEqual((strings["FileVersion"], strings["ProductVersion"]), (VERSION, VERSION))
        fixed = program.VS_FIXEDFILEINFO[0]
        self.assertEqual((fixed.FileVersionMS, fixed.FileVersionLS), (0x20003, 0x40000))
        extracted = medium_image.extract(self.first.image, self.folder / "extracted")
        verified = signing_keys.osslsigncode("verify", "-CAfile", str(self.keys.path("ca.pem")), "-in",
                                             str(extracted / "setup.exe"))
        self.assertIn("Signature verification: ok", verified.stdout, verified.stderr)
        signing_time = f"{committed:%b} {committed.day:2} {committed:%H:%M:%S %Y} GMT"
        self.assertIn(f"Signing time: {signing_time}", verified.stdout)
        unsigned = self.folder / "unsigned.exe"
        removed = signing_keys.osslsigncode("remove-signature", "-in", str(extracted / "setup.exe"), "-out", str(unsigned))
        self.assertEqual(removed.returncode, 0, removed.stderr)
        self.assertSameBytes(unsigned, self.first.program("setup.exe"))


if __name__ == "__main__":
    unittest.main()
