"""The vendor's signing certificates, pinned in the repository: release/signers.sha256 lists the SHA-256
fingerprint of each certificate that may sign setup.exe, one a line (64 hexadecimal digits, colons and
either case allowed), with blank lines and # comments. make-medium refuses to sign with a certificate the
file does not list; check-medium takes the pins from the commit it makes a medium again from, never from
the working tree or the image.

Beside it, release/timestamp-authorities.pem may hold the root certificates (PEM) of the timestamp
authorities that the vendor uses: without --ca, a timestamp counts for the signer's dates only when its
authority leads to one of them."""

from __future__ import annotations

import subprocess
from dataclasses import dataclass
from pathlib import Path

import authenticode
import build

PATH = "release/signers.sha256"
TIMESTAMP_AUTHORITIES = "release/timestamp-authorities.pem"
PEM_CERTIFICATE = b"-----BEGIN CERTIFICATE-----"


class SignersError(Exception):
    pass


@dataclass(frozen=True)
class Pins:
    fingerprints: tuple[str, ...]  # lowercase hex
    source: str  # where they come from, as the output names it

    def lists(self, fingerprint: str) -> bool:
        return authenticode.normal_fingerprint(fingerprint) in self.fingerprints


def parse(content: bytes, source: str) -> Pins:
    try:
        text = content.decode("utf-8")
    except UnicodeDecodeError:
        raise SignersError(f"{source} is not UTF-8 text") from None
    fingerprints = []
    for number, line in enumerate(text.splitlines(), 1):
        entry = line.split("#", 1)[0].strip()
        if not entry:
            continue
        fingerprint = authenticode.normal_fingerprint(entry)
        if fingerprint is None:
            raise SignersError(f"{source}, line {number}: not a SHA-256 fingerprint (64 hexadecimal digits):"
                               f" {line.strip()[:80]}")
        fingerprints.append(fingerprint)
    if not fingerprints:
        raise SignersError(f"{source} lists no fingerprint")
    return Pins(tuple(dict.fromkeys(fingerprints)), source)


def _file_at(commit: str, path: str, repo: Path) -> bytes | None:
    """The content of the commit's file path, or None when it has no such file."""
    source = f"{path} of commit {commit[:12]}"
    kind = build.git("cat-file", "-t", f"{commit}:{path}", repo=repo)
    if kind.returncode != 0:
        return None
    if kind.stdout.strip() != "blob":
        raise SignersError(f"{source} is not a file")
    content = subprocess.run(["git", "-C", str(repo), "cat-file", "blob", f"{commit}:{path}"], capture_output=True,
                             env=build.clean_environment())
    if content.returncode != 0:
        raise SignersError(f"{source} cannot be read: {content.stderr.decode(errors='replace').strip()}")
    return content.stdout


def at_commit(commit: str, repo: Path = build.REPO_ROOT) -> Pins | None:
    """The pins that the commit holds, or None when it has no such file."""
    content = _file_at(commit, PATH, repo)
    return None if content is None else parse(content, f"{PATH} of commit {commit[:12]}")


def timestamp_authorities_at(commit: str, repo: Path | None = None) -> bytes | None:
    """The PEM roots of the timestamp authorities that the commit lists, or None when it lists none. A file
    that holds anything but certificates is refused, not read as fewer anchors."""
    content = _file_at(commit, TIMESTAMP_AUTHORITIES, repo or build.REPO_ROOT)
    if content is None:
        return None
    source = f"{TIMESTAMP_AUTHORITIES} of commit {commit[:12]}"
    blocks = content.split(PEM_CERTIFICATE)
    if len(blocks) < 2 or blocks[0].strip():
        raise SignersError(f"{source} holds no certificate in PEM, or text before the first")
    for number, block in enumerate(blocks[1:], 1):
        end = b"-----END CERTIFICATE-----"
        try:
            if block.count(end) != 1 or block.split(end)[1].strip():
                raise ValueError
            authenticode.load_certificate(PEM_CERTIFICATE + block)
        except ValueError:
            raise SignersError(f"{source}: certificate {number} cannot be read (PEM)") from None
    return content


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
    fingerprint = authenticode.normal_fingerprint(value)
    if fingerprint is not None:
        return fingerprint
    path = Path(value)
    if not path.is_file():
        raise ValueError(f"--signer-sha256 {value}: neither 64 hexadecimal digits (a SHA-256 fingerprint) "
                         "nor a certificate file")
    try:
        certificate = authenticode.load_certificate(path.read_bytes())
    except ValueError as error:
        reason = str(error) if "more than one" in str(error) else "holds no certificate in PEM or DER"
        raise ValueError(f"--signer-sha256 {value}: the file {reason}") from None
    return authenticode.fingerprint(certificate)
