"""The second, independent opinion on a program's Authenticode signature: osslsigncode's `verify`, whose
own PE reader, digest and OpenSSL's PKCS#7 and timestamp checks share no code with authenticode.py. A
signature counts as verified only when both accept it; check-medium names both verdicts when they differ.

Its verdict is its exit status; the last lines of its output are kept for a reader, never interpreted.
It runs with the same facts as authenticode.examine: the trust anchors for the signer and the timestamp
signer (-CAfile, -TSA-CAfile), the pin (-require-leaf-hash sha256:...), and the same present (-time) for a
signature whose timestamp does not verify (a verified timestamp's time takes its place, as in
authenticode.py). CRL distribution points are never fetched: no address that the input names is visited.

Without trust anchors, osslsigncode has nothing to end a chain at and refuses every signature, whatever
its state, so its exit status would say nothing. Two cases remain:
- The signature carries its own self-signed root: that root (with the signature's other self-signed
  certificates) serves as the anchors. The verdict then covers the digest, the signer's signature, the
  timestamp and the chain's consistency, not who the signer is (the pin, if given, still is checked).
- Otherwise osslsigncode computes only the program's Authenticode digest (`extract-data`), which must equal
  the digest that the signature carries as osslsigncode extracts it (`extract-signature`). The signature's
  value and its timestamp are then checked by authenticode.py alone, and `covers` says so.
"""

from __future__ import annotations

import re
import subprocess
import tempfile
from dataclasses import dataclass
from datetime import datetime
from pathlib import Path

from asn1crypto import cms
from cryptography import x509
from cryptography.hazmat.primitives import serialization

import authenticode

PROGRAM = "osslsigncode"
# Lines of osslsigncode's output that a difference quotes.
TAIL_LINES = 4


@dataclass(frozen=True)
class Verdict:
    verifies: bool
    covers: str  # what the verdict rests on, as a phrase: "the digest, the signature, ..."
    status: str  # how osslsigncode answered: "exit 0", "exit 1", "could not run: ..."
    tail: tuple[str, ...] = ()  # its last lines, for a reader
    partial: bool = False  # it checked the program's digest only

    @property
    def words(self) -> str:
        return f"{PROGRAM} {'accepts' if self.verifies else 'refuses'} it ({self.status})"


FULL = "the digest, the signer's signature, the timestamp and the chain to {anchors}"


def _run(command: list[str]) -> tuple[int | None, tuple[str, ...]]:
    try:
        result = subprocess.run(command, capture_output=True, text=True, errors="replace", timeout=120)
    except (OSError, subprocess.TimeoutExpired) as error:
        return None, (str(error),)
    lines = [line.strip() for line in (result.stdout + result.stderr).splitlines() if line.strip()]
    return result.returncode, tuple(lines[-TAIL_LINES:])


def _self_signed_roots(der: bytes) -> bytes:
    """The PEM of the self-signed certificates that the signature (and its timestamp token) carry."""
    roots = []

    def collect(signed_data: cms.SignedData) -> None:
        for choice in signed_data["certificates"] or []:
            if choice.name == "certificate":
                certificate = x509.load_der_x509_certificate(choice.chosen.dump())
                if certificate.issuer == certificate.subject:
                    roots.append(certificate.public_bytes(serialization.Encoding.PEM))

    try:
        signed_data = cms.ContentInfo.load(der)["content"]
        collect(signed_data)
        for info in signed_data["signer_infos"]:
            for attribute in info["unsigned_attrs"] or []:
                if attribute["type"].dotted == authenticode.RFC3161_TIMESTAMP:
                    for token in attribute["values"]:
                        collect(cms.ContentInfo.load(token.dump())["content"])
    except Exception:  # noqa: BLE001 - whatever cannot be read carries no root
        return b"".join(roots)
    return b"".join(roots)


def _digest_only(program: Path, scratch: Path) -> Verdict:
    covers = ("the program's digest only (without --ca, osslsigncode checks a signature's value and timestamp"
              " only along a chain to trust anchors)")
    steps = (["extract-data", "-h", "sha256", "-in", str(program), "-out", str(scratch / "data.p7")],
             ["extract-signature", "-in", str(program), "-out", str(scratch / "signature.p7")])
    for step in steps:
        status, tail = _run([PROGRAM, *step])
        if status != 0:
            return Verdict(False, covers, f"{step[0]}: " + ("could not run" if status is None else f"exit {status}"),
                           tail, partial=True)

    def carried_digest(path: Path) -> bytes | None:
        try:
            content = cms.ContentInfo.load(path.read_bytes())["content"]["encap_content_info"]
            if content["content_type"].dotted != authenticode.SPC_INDIRECT_DATA:
                return None
            explicit = content["content"].dump()  # the [0] EXPLICIT wrapper around the indirect data
            header, _ = authenticode.der_header(explicit)
            indirect = authenticode.SpcIndirectDataContent.load(explicit[header:])
            if indirect["message_digest"]["digest_algorithm"]["algorithm"].native != "sha256":
                return None
            return indirect["message_digest"]["digest"].native
        except Exception:  # noqa: BLE001 - a part it cannot read is no digest
            return None

    computed, carried = carried_digest(scratch / "data.p7"), carried_digest(scratch / "signature.p7")
    if computed is None or carried is None:
        return Verdict(False, covers, "exit 0, but no SHA-256 digest could be read from what it extracted",
                       partial=True)
    if computed != carried:
        return Verdict(False, covers, f"exit 0: its digest {computed.hex()} is not the {carried.hex()} signed",
                       partial=True)
    return Verdict(True, covers, "exit 0", partial=True)


def verify(program: bytes, *, ca_file: Path | None = None, pinned_sha256: str | None = None,
           now: datetime) -> Verdict:
    """osslsigncode's verdict on a signed program, with the same anchors, pin and present as authenticode.py."""
    with tempfile.TemporaryDirectory(prefix="second-verifier-") as folder:
        scratch = Path(folder)
        path = scratch / "program.exe"
        path.write_bytes(program)
        if ca_file is not None:
            anchors, covers = ca_file, FULL.format(anchors=ca_file.name)
        else:
            try:
                der = authenticode.signature_der(program)
            except ValueError:
                der = None
            roots = _self_signed_roots(der) if der else b""
            if not roots:
                return _digest_only(path, scratch)
            anchors = scratch / "roots.pem"
            anchors.write_bytes(roots)
            covers = FULL.format(anchors="the root that the signature itself carries (no trust: no --ca)")
        command = [PROGRAM, "verify", "-in", str(path), "-CAfile", str(anchors), "-TSA-CAfile", str(anchors),
                   "-ignore-crl", "-time", str(int(now.timestamp()))]
        if pinned_sha256 is not None:
            command += ["-require-leaf-hash", "sha256:" + re.sub(r"[:\s]", "", pinned_sha256).lower()]
            covers += ", and the pinned signer"
        status, tail = _run(command)
    return Verdict(status == 0, covers, "could not run" if status is None else f"exit {status}", tail)


def disagreement(examination: authenticode.Examination, second: Verdict) -> str | None:
    """The sentence that names both verdicts when the two verifiers differ on the signature itself (the
    layout rules that only authenticode.py applies are left out of the comparison), else None."""
    own = [problem for problem in examination.problems if problem not in examination.layout_problems]
    if (not examination.problems) == second.verifies or (examination.problems and not own):
        return None  # agreed, or refused for the layout alone, which osslsigncode may or may not read
    if second.partial and second.verifies:
        return None  # it vouched for the digest alone: authenticode.py's findings lie beyond it
    mine = "refuses it: " + "; ".join(own) if own else "accepts it"
    tail = "".join(f"\n    {line}" for line in second.tail) if not second.verifies else ""
    return f"the two verifiers disagree: authenticode.py {mine}; {second.words}{tail}"
