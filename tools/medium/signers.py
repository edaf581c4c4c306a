"""The vendor's signing certificates, pinned in the repository: release/signers.sha256 lists the SHA-256
fingerprint of each certificate that may sign setup.exe, one a line (64 hexadecimal digits, colons and
either case allowed), with blank lines and # comments. make-medium refuses to sign with a certificate the
file does not list; check-medium takes the pins from the commit it makes a medium again from, never from
the working tree or the image."""

from __future__ import annotations

import re
import subprocess
from dataclasses import dataclass
from pathlib import Path

from cryptography.hazmat.primitives import hashes

import authenticode
import build

PATH = "release/signers.sha256"


class SignersError(Exception):
    pass


@dataclass(frozen=True)
class Pins:
    fingerprints: tuple[str, ...]  # lowercase hex
    source: str  # where they come from, as the output names it

    def lists(self, fingerprint: str) -> bool:
        return fingerprint.lower() in self.fingerprints


def parse(content: bytes, source: str) -> Pins:
    try:
        text = content.decode("utf-8")
    except UnicodeDecodeError:
        raise SignersError(f"{source} is not UTF-8 text") from None
    fingerprints = []
    for number, line in enumerate(text.splitlines(), 1):
        entry = re.sub(r"[:\s]", "", line.split("#", 1)[0])
        if not entry:
            continue
        if not re.fullmatch(r"[0-9a-fA-F]{64}", entry):
            raise SignersError(f"{source}, line {number}: not a SHA-256 fingerprint (64 hexadecimal digits):"
                               f" {line.strip()[:80]}")
        fingerprints.append(entry.lower())
    if not fingerprints:
        raise SignersError(f"{source} lists no fingerprint")
    return Pins(tuple(dict.fromkeys(fingerprints)), source)


def at_commit(commit: str, repo: Path = build.REPO_ROOT) -> Pins | None:
    """The pins that the commit holds, or None when it has no such file."""
    source = f"{PATH} of commit {commit[:12]}"
    kind = build.git("cat-file", "-t", f"{commit}:{PATH}", repo=repo)
    if kind.returncode != 0:
        return None
    if kind.stdout.strip() != "blob":
        raise SignersError(f"{source} is not a file")
    content = subprocess.run(["git", "-C", str(repo), "cat-file", "blob", f"{commit}:{PATH}"], capture_output=True,
                             env=build.clean_environment())
    if content.returncode != 0:
        raise SignersError(f"{source} cannot be read: {content.stderr.decode(errors='replace').strip()}")
    return parse(content.stdout, source)


def in_working_tree(repo: Path = build.REPO_ROOT) -> Pins | None:
    path = repo / PATH
    if not path.exists() and not path.is_symlink():
        return None
    try:
        return parse(path.read_bytes(), PATH)
    except OSError as error:
        raise SignersError(f"{PATH} cannot be read: {error.strerror}") from None


def for_source(source: build.Source, repo: Path = build.REPO_ROOT) -> Pins | None:
    """The pins of what make-medium builds: the commit's, or the working tree's when it builds changes or
    there is no commit."""
    if source.commit is None or source.changes:
        return in_working_tree(repo)
    return at_commit(source.commit, repo)


def signer_pin(value: str) -> str:
    """The SHA-256 fingerprint that --signer-sha256 pins: 64 hex digits (colons and case allowed), or a
    certificate file in PEM or DER."""
    digits = re.sub(r"[:\s]", "", value)
    if re.fullmatch(r"[0-9a-fA-F]{64}", digits):
        return digits.lower()
    path = Path(value)
    if not path.is_file():
        raise ValueError(f"--signer-sha256 {value}: neither 64 hexadecimal digits (a SHA-256 fingerprint) "
                         "nor a certificate file")
    try:
        certificate = authenticode.load_certificate(path.read_bytes())
    except ValueError as error:
        reason = str(error) if "more than one" in str(error) else "holds no certificate in PEM or DER"
        raise ValueError(f"--signer-sha256 {value}: the file {reason}") from None
    return certificate.fingerprint(hashes.SHA256()).hex()
