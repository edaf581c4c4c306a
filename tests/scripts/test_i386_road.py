"""The 32-bit road (scripts/i386_road.sh, through scripts/lib.sh): qemu only where the kernel cannot run i386 programs; binfmt_misc entries
of others left alone. In the stand-in binfmt_misc folder, "-1" written to an entry removes it."""

import os
import subprocess
import tempfile
import unittest
from pathlib import Path

LIB = Path(__file__).resolve().parents[2] / "scripts" / "lib.sh"
FAKE_ROOT = 'as_root() { [ "$1" = tee ] || { "$@"; return; }; t=$(cat); [ "$t" = -1 ] && rm "$2" || echo "$t" >"$2"; }'


def entry(interpreter, state="enabled", machine="03"):
    return (f"{state}\ninterpreter {interpreter}\nflags: F\noffset 0\n"
            f"magic 7f454c460101010000000000000000000200{machine}00\nmask fffffffffffefe00fffffffffffffffffeffffff\n")


class Road(unittest.TestCase):
    def bash(self, command, entries=None, path=os.environ["PATH"]):
        folder = Path(tempfile.mkdtemp(prefix="i386-road-"))
        self.addCleanup(subprocess.run, ["rm", "-rf", str(folder)])
        (folder / "binfmt").mkdir()
        (folder / "binfmt" / "register").touch()
        (folder / "wine-i386").mkdir()
        (folder / "linked").symlink_to(folder / "wine-i386")  # the same qemu, through a link
        script = (f'source "{LIB}"; {FAKE_ROOT}; I386_BINFMT_DIR=binfmt; I386_DIR=$PWD/wine-i386; '
                  f'I386_QEMU=$I386_DIR/qemu-i386; touch $I386_QEMU; I386_WORK_DIR=$PWD/work; ' + "".join(
                      f'printf %s "{text}" >binfmt/{name}; ' for name, text in (entries or {}).items()))
        result = subprocess.run(["bash", "-c", script + command], capture_output=True, text=True, cwd=folder,
                                env=dict(os.environ, PATH=path), timeout=60)
        self.assertEqual(result.returncode, 0, result.stderr)
        return {p.name: p.read_text() for p in (folder / "binfmt").iterdir()}, result.stderr, folder

    def test_qemu_only_where_arch_test_with_emulators_off_fails(self):
        fake = Path(tempfile.mkdtemp(prefix="arch-test-"))
        self.addCleanup(subprocess.run, ["rm", "-rf", str(fake)])
        (fake / "arch-test").write_text('#!/bin/sh\n[ "$1" = -n ] && exit "$KERNEL"\nexit 0\n')  # ok through qemu
        (fake / "arch-test").chmod(0o755)
        for status, runner in (("0", "native"), ("1", "qemu"), ("2", "qemu")):
            log = self.bash(f"KERNEL={status} i386_runner >&2", path=f"{fake}:{os.environ['PATH']}")[1]
            self.assertEqual(log.strip(), runner, f"arch-test -n exits with {status}")

    def test_registers_only_where_no_entry_of_another_sends_i386_programs_elsewhere(self):
        others = {"qemu-arm": entry("/usr/bin/qemu-arm", machine="28"), "x": entry("/usr/bin/x", "disabled")}
        files, _, folder = self.bash("i386_register_binfmt keep", others)
        self.assertEqual(files["register"].split(":")[1::5], ["tarvin-i386", f"{folder}/wine-i386/qemu-i386"])
        ours = {"tarvin-i386": entry("$PWD/linked/qemu-i386")}
        self.assertEqual(self.bash("i386_register_binfmt keep", ours)[0]["register"], "")
        self.assertIn(":tarvin-i386:", self.bash("i386_register_binfmt renew", ours)[0]["register"])
        foreign = {"qemu-i386": entry("/usr/libexec/qemu-binfmt/i386-binfmt-P")}
        files, log, _ = self.bash("i386_register_binfmt renew", foreign)
        self.assertEqual(files, {"register": "", **foreign})
        self.assertIn("qemu-i386, which this project did not make, sends i386 programs to /usr/libexec/", log)

    def test_remove_takes_only_what_the_road_made(self):
        foreign = {"qemu-i386-static": entry("/usr/bin/qemu-i386-static")}
        files, _, folder = self.bash("i386_remove", {**foreign, "qemu-i386": entry("$PWD/wine-i386/qemu-i386")})
        self.assertEqual((files, (folder / "wine-i386").exists()), ({"register": "", **foreign}, False))


class WithoutRootRights(unittest.TestCase):
    def test_a_refused_sudo_stops_the_root_folder_before_mmdebstrap_and_names_the_way_on(self):
        folder = Path(tempfile.mkdtemp(prefix="i386-road-"))
        self.addCleanup(subprocess.run, ["rm", "-rf", str(folder)])
        # An ordinary user whom sudo refuses; mmdebstrap (behind unshare) leaves a mark if it runs at all.
        script = (f'source "{LIB}"; I386_DIR=$PWD; I386_ROOT=$PWD/root; debian_mirror() {{ echo mirror; }}; '
                  'id() { [ "$1" = -u ] && echo 1000 || command id "$@"; }; sudo() { return 1; }; '
                  'unshare() { touch ran; }; i386_make_root native')
        result = subprocess.run(["bash", "-c", script], capture_output=True, text=True, cwd=folder, timeout=60)
        self.assertFalse((folder / "ran").exists(), "mmdebstrap ran without root rights")
        self.assertNotEqual(result.returncode, 0)
        self.assertIn("TEST_32BIT=0 scripts/test leaves the 32-bit road out", result.stderr)
