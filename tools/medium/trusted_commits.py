"""The commits check-medium may make again, and their checkouts: only a commit reachable from HEAD or from a
ref that --trust names is run; each one is checked out once into a folder that is kept, so that its
release build is made once."""

from __future__ import annotations

import shutil
import subprocess
import sys
from pathlib import Path

import build

# Where each checked commit's checkout and release build are kept.
CHECKOUT_CACHE = build.REPO_ROOT / "build" / "check-medium"


def commit_id(revision: str) -> str | None:
    result = build.git("rev-parse", "--verify", "--quiet", f"{revision}^{{commit}}")
    return result.stdout.strip() if result.returncode == 0 else None


class Checkouts:
    """Each commit checked out once, and only a commit of the vendor's history (the tips are the refs whose
    history it must be in, as (name, commit id)), into a folder of its own that is kept
    (build/check-medium/COMMIT), so that its release build is made once: the next check of a medium of that
    commit only brings the build up to date. A kept checkout that is no longer the commit's clean tree is
    checked out again."""

    def __init__(self, cache: Path, tips: list[tuple[str, str]]):
        self.cache = cache
        self.tips = tips
        self.folders: dict[str, Path] = {}

    def trusted_by(self, commit: str) -> str | None:
        """The first tip whose history holds the commit, by name; None when none does."""
        for name, tip in self.tips:
            if build.git("merge-base", "--is-ancestor", commit, tip).returncode == 0:
                return name
        return None

    def refusal(self, commit: str) -> str:
        names = " or ".join(name if name == "HEAD" else f"--trust {name}" for name, _ in self.tips)
        return (f"commit {commit} is not in the vendor's history: it is not reachable from"
                f" {names or 'a HEAD (there is none) or a --trust REF'}; a commit that is only in the object store"
                " (a fetched or deleted branch, a remote's tag) is no release, so nothing of it was checked out or"
                " run and nothing was compared (--trust REF trusts another branch of yours)")

    def get(self, commit: str) -> Path:
        if commit not in self.folders:
            self.cache.mkdir(parents=True, exist_ok=True)
            folder = self.cache / commit
            with build.build_lock(folder):
                if not self._clean(folder, commit):
                    shutil.rmtree(folder, ignore_errors=True)
                    print(f"==> Checking out {commit[:12]} into {folder}", file=sys.stderr, flush=True)
                    for step in (["clone", "--quiet", "--shared", "--no-checkout", str(build.REPO_ROOT), str(folder)],
                                 ["-C", str(folder), "checkout", "--quiet", "--detach", commit]):
                        result = subprocess.run(["git", *step], capture_output=True, text=True,
                                                env=build.clean_environment())
                        if result.returncode != 0:
                            raise build.BuildError(f"checking out {commit[:12]} failed: {result.stderr.strip()}")
                else:
                    print(f"==> Using the checkout of {commit[:12]} in {folder}", file=sys.stderr, flush=True)
            self.folders[commit] = folder
        return self.folders[commit]

    @staticmethod
    def _clean(folder: Path, commit: str) -> bool:
        """Whether folder is a checkout of commit without changes (its build folders aside)."""
        if not (folder / ".git").exists():
            return False
        head = build.git("rev-parse", "--verify", "--quiet", "HEAD^{commit}", repo=folder)
        status = build.git("status", "--porcelain=v1", "--untracked-files=all", repo=folder)
        return head.returncode == 0 and head.stdout.strip() == commit and status.returncode == 0 and \
            not status.stdout.strip()
