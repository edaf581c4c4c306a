"""What scripts/mutate mutates: the configured folders, the files named or changed since a base, and
the mutants of each file."""

from __future__ import annotations

import fnmatch
import subprocess
import tomllib
from dataclasses import dataclass, field
from pathlib import Path

import cpp_mutants
import py_mutants
from mutant import Mutant

REPO_ROOT = Path(__file__).resolve().parents[2]
CONFIG = Path(__file__).resolve().parent / "mutate.toml"


class MutateError(Exception):
    pass


@dataclass
class Language:
    name: str
    folders: list[str]
    include: list[str]
    exclude: list[str]
    settings: dict = field(default_factory=dict)

    def owns(self, path: str) -> bool:
        name = path.rsplit("/", 1)[-1]
        return (any(path.startswith(folder.rstrip("/") + "/") for folder in self.folders)
                and any(fnmatch.fnmatch(name, pattern) for pattern in self.include)
                and not any(fnmatch.fnmatch(name, pattern) for pattern in self.exclude))

    def folder_of(self, path: str) -> str:
        return next(folder for folder in self.folders if path.startswith(folder.rstrip("/") + "/"))


def load_config(path: Path = CONFIG) -> dict[str, Language]:
    with open(path, "rb") as file:
        raw = tomllib.load(file)
    languages = {}
    for name in ("cpp", "python"):
        section = dict(raw.get(name, {}))
        languages[name] = Language(name, section.pop("folders", []), section.pop("include", []),
                                   section.pop("exclude", []), section)
    return languages


def git(*arguments: str, root: Path = REPO_ROOT) -> str:
    done = subprocess.run(["git", "-C", str(root), *arguments], capture_output=True, text=True)
    if done.returncode != 0:
        raise MutateError(f"git {' '.join(arguments)}: {done.stderr.strip()}")
    return done.stdout


def checkout_files(root: Path = REPO_ROOT) -> list[str]:
    """The files of the working tree as a commit of it would hold them: tracked and untracked ones, not
    ignored ones, not deleted ones."""
    names = git("ls-files", "-z", "--cached", "--others", "--exclude-standard", root=root).split("\0")
    return sorted(name for name in set(names) if name and (root / name).is_file())


def changed_files(base: str, root: Path = REPO_ROOT) -> list[str]:
    """The files the branch changed since it left base, committed or not (renamed ones under their new
    name, deleted ones left out), and new untracked ones."""
    merge_base = git("merge-base", base, "HEAD", root=root).strip()
    names = set(git("diff", "-z", "--name-only", "--diff-filter=d", merge_base, root=root).split("\0"))
    names |= set(git("ls-files", "-z", "--others", "--exclude-standard", root=root).split("\0"))
    return sorted(name for name in names if name)


def select_files(languages: dict[str, Language], files: list[str], named: list[str],
                 changed: list[str] | None) -> dict[str, list[str]]:
    """The files to mutate, per language: those of the configured folders, narrowed to the named files
    and folders and to the changed files when given."""
    wanted = {}
    for name, language in languages.items():
        chosen = [path for path in files if language.owns(path)]
        if named:
            # In the order named: the first files named are judged first.
            prefixes = [entry.rstrip("/") for entry in named]
            ranks = {path: next((rank for rank, prefix in enumerate(prefixes)
                                 if path == prefix or path.startswith(prefix + "/")), None) for path in chosen}
            chosen = sorted((path for path in chosen if ranks[path] is not None), key=lambda path: ranks[path])
        if changed is not None:
            chosen = [path for path in chosen if path in set(changed)]
        wanted[name] = chosen
    return wanted


# Only the mutants whose line as printed ("file:line: mutant") holds one of these texts, when any is given.
MATCHES: list[str] = []


def mutants_of(language: str, root: Path, path: str) -> list[Mutant]:
    source = (root / path).read_text(encoding="utf-8")
    generator = cpp_mutants if language == "cpp" else py_mutants
    found = generator.mutants(source, path)
    if MATCHES:
        found = [mutant for mutant in found if any(text in str(mutant) for text in MATCHES)]
    return found
