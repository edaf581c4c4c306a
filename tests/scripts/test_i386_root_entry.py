"""The way into the 32-bit road's root folder (scripts/i386-root), taken by an ordinary user: no root
rights and the PATH that Debian gives such a user, without /usr/sbin and /sbin. Needs the root folder that
prepare_i386_wine made (label i686).

As root, the test stands in for that user with setpriv, as the unprivileged user 65534. That user may not
be able to reach the checkout (it may lie in root's home), so it gets a scratch copy of scripts/ in a
folder of its own, with the real build/wine-i386 bound into it in a mount namespace that ends with the
test; the root folder itself is not changed (the mount point of the copy sits on a private tmpfs)."""

import os
import shlex
import subprocess
import tempfile
import unittest
from pathlib import Path

REPO = Path(__file__).resolve().parents[2]
I386_DIR = REPO / "build" / "wine-i386"
ORDINARY_PATH = "/usr/local/bin:/usr/bin:/bin"
NOBODY = 65534


def as_nobody_in_scratch_copy(scratch: Path, command: list[str]) -> list[str]:
    """The user's own checkout holds scripts/ and build/wine-i386 (the user's, but for the root folder
    inside, which is root's): so does the copy."""
    steps = f"""
        cp -r {shlex.quote(str(REPO / 'scripts'))} scratch/scripts
        mkdir -p scratch/build/wine-i386/root scratch/build/wine-i386/home
        cp {shlex.quote(str(I386_DIR / 'root.recipe'))} scratch/build/wine-i386/
        chown -R {NOBODY}:{NOBODY} scratch
        mount --bind {shlex.quote(str(I386_DIR / 'root'))} scratch/build/wine-i386/root
        mount -t tmpfs -o mode=1777 tmpfs scratch/build/wine-i386/root/tmp
        mkdir -p "scratch/build/wine-i386/root$PWD/scratch" scratch/build/wine-i386/root/tmp/.X11-unix
        cd scratch
        exec setpriv --reuid={NOBODY} --regid={NOBODY} --clear-groups -- \\
            env -i PATH={ORDINARY_PATH} HOME=/ LANG=C.UTF-8 bash scripts/i386-root {shlex.join(command)}
    """
    (scratch / "scratch").mkdir(mode=0o755)
    return ["unshare", "--mount", "--propagation", "private", "--", "bash", "-euc", steps]


class EnteredAsAnOrdinaryUser(unittest.TestCase):
    def test_wine_runs_with_an_ordinary_users_path_and_rights(self):
        self.assertTrue((I386_DIR / "root" / "usr" / "bin" / "wine").exists(),
                        "the i386 root folder is not prepared (scripts/test prepares it)")
        # The same check that prepare_i386_wine makes of the road, by the same way in.
        command = ["wine", "--version"]
        if os.geteuid() == 0:
            # Under /tmp: the mount point of the copy goes on the tmpfs laid over the root folder's /tmp.
            scratch = Path(tempfile.mkdtemp(prefix="i386-entry-", dir="/tmp"))
            scratch.chmod(0o755)
            # The mounts belong to the namespace, which is gone by the time this runs.
            self.addCleanup(subprocess.run, ["rm", "-rf", "--one-file-system", str(scratch)])
            argv, cwd, env = as_nobody_in_scratch_copy(scratch, command), scratch, None
        else:
            argv = ["bash", str(REPO / "scripts" / "i386-root"), *command]
            cwd, env = REPO, {"PATH": ORDINARY_PATH, "HOME": os.environ.get("HOME", "/"), "LANG": "C.UTF-8"}
        result = subprocess.run(argv, cwd=cwd, env=env, capture_output=True, text=True, timeout=300)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertRegex(result.stdout, r"^wine-\d+\.\d+")


if __name__ == "__main__":
    unittest.main()
