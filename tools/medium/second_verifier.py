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
  certificates, but not its timestamp token's) serves as the anchors for the signer. The verdict then
  covers the digest, the signer's signature and the chain's consistency, not who the signer is (the pin,
  if given, still is checked), and a timestamp only where the listed authorities anchor it.
- Otherwise the same facts are checked without a chain, by osslsigncode and openssl: osslsigncode
  computes the program's Authenticode digest (`extract-data`), which must equal the digest in the signed
  content that osslsigncode extracts (`extract-signature`); `openssl smime -verify -noverify` checks that
  the signed attributes cover that content and that the signer's key made the signature's value, and
  names the signer, whose certificate must be the pinned one when a pin is given; a timestamp token must
  pass `openssl cms -verify -noverify` and certify this signature's value. Neither the chain nor the
  certificates' dates and usages are checked there: without anchors, authenticode.py alone judges those,
  and `covers` says so.
Without --ca, only the timestamp authorities' roots that the commit lists anchor a timestamp: osslsigncode
gets them as -TSA-CAfile (without them it trusts no timestamp and checks the signer at -time), and `openssl
cms -verify` checks the token's chain to them at the token's time; `timestamp_anchored` tells whether it
led there, so that a verdict without a chain still judges whether the timestamp may stand for the present.
"""

from __future__ import annotations

import hashlib
import os
import subprocess
import tempfile
from dataclasses import dataclass
from datetime import datetime
from pathlib import Path

from asn1crypto import cms, tsp
from cryptography import x509
from cryptography.hazmat.primitives import serialization

import authenticode
import certificate_table

PROGRAM = "osslsigncode"
# Lines of osslsigncode's output that a difference quotes.
TAIL_LINES = 4


@dataclass(frozen=True)
class Verdict:
    verifies: bool
    covers: str  # what the verdict rests on, as a phrase: "the digest, the signature, ..."
    status: str  # how osslsigncode answered: "exit 0", "exit 1", "could not run: ..."
    tail: tuple[str, ...] = ()  # its last lines, for a reader
    partial: bool = False  # it checked without a chain to anchors
    with_openssl: bool = False  # openssl checked the signature's value and timestamp
    timestamp_anchored: bool = False  # openssl led the timestamp token to the timestamp authorities' roots

    @property
    def by(self) -> str:
        return f"{PROGRAM} with openssl" if self.with_openssl else PROGRAM

    @property
    def words(self) -> str:
        return f"{self.by} {'accepts' if self.verifies else 'refuses'} it ({self.status})"


# osslsigncode verifies a timestamp only where the signature carries one.
FULL = "the digest, the signer's signature, any timestamp it carries and the chain to {anchors}"


def _run(command: list[str]) -> tuple[int | None, tuple[str, ...]]:
    try:
        result = subprocess.run(command, capture_output=True, text=True, errors="replace", timeout=120)
    except (OSError, subprocess.TimeoutExpired) as error:
        return None, (str(error),)
    lines = [line.strip() for line in (result.stdout + result.stderr).splitlines() if line.strip()]
    return result.returncode, tuple(lines[-TAIL_LINES:])


def _self_signed_roots(der: bytes) -> bytes:
    """The PEM of the self-signed certificates that the signature carries. Those of its timestamp token are
    left out: the root of whoever made the timestamp anchors neither the signer nor the timestamp."""
    roots = []
    try:
        for choice in cms.ContentInfo.load(der)["content"]["certificates"] or []:
            if choice.name == "certificate":
                certificate = x509.load_der_x509_certificate(choice.chosen.dump())
                if certificate.issuer == certificate.subject:
                    roots.append(certificate.public_bytes(serialization.Encoding.PEM))
    except Exception:  # noqa: BLE001 - whatever cannot be read carries no root
        return b"".join(roots)
    return b"".join(roots)


ANCHORLESS = ("the digest, the signer's signature{timestamp}{pin}, without a chain (no --ca: the chain and the"
              " certificates' dates and usages were judged by authenticode.py alone)")


def _indirect_data(signature: bytes) -> tuple[bytes, bytes] | None:
    """The signed content of an Authenticode signature, as the signed attributes' digest covers it (the
    SpcIndirectDataContent's contents, without its own tag and length), and the SHA-256 program digest
    that it carries; None when it holds no such content."""
    try:
        content = cms.ContentInfo.load(signature)["content"]["encap_content_info"]
        if content["content_type"].dotted != authenticode.SPC_INDIRECT_DATA:
            return None
        explicit = content["content"].dump()  # the [0] EXPLICIT wrapper around the indirect data
        header, _ = certificate_table.der_header(explicit)
        indirect_der = explicit[header:]
        indirect = authenticode.SpcIndirectDataContent.load(indirect_der)
        if indirect["message_digest"]["digest_algorithm"]["algorithm"].native != "sha256":
            return None
        inner, _ = certificate_table.der_header(indirect_der)
        return indirect_der[inner:], indirect["message_digest"]["digest"].native
    except Exception:  # noqa: BLE001 - a part it cannot read is no content
        return None


def _timestamp_tokens(signature: bytes) -> list[bytes] | None:
    """The RFC 3161 tokens among the signer's unsigned attributes, with the signature value they must
    certify first; None when they cannot be read."""
    try:
        info = cms.ContentInfo.load(signature)["content"]["signer_infos"][0]
        tokens = [token.dump() for attribute in info["unsigned_attrs"] or []
                  if attribute["type"].dotted == authenticode.RFC3161_TIMESTAMP for token in attribute["values"]]
        return [info["signature"].native, *tokens]
    except Exception:  # noqa: BLE001 - what cannot be read is refused
        return None


def _without_anchors(path: Path, scratch: Path, pinned: str | None, timestamp_anchors: Path | None) -> Verdict:
    def refused(status: str, tail: tuple[str, ...] = ()) -> Verdict:
        return Verdict(False, covers, status, tail, partial=True, with_openssl=True)

    covers = ANCHORLESS.format(timestamp="", pin="")
    steps = (["extract-data", "-h", "sha256", "-in", str(path), "-out", str(scratch / "data.p7")],
             ["extract-signature", "-in", str(path), "-out", str(scratch / "signature.p7")])
    for step in steps:
        status, tail = _run([PROGRAM, *step])
        if status != 0:
            return refused(f"{step[0]}: " + ("could not run" if status is None else f"exit {status}"), tail)
    signature = (scratch / "signature.p7").read_bytes()
    computed, carried = _indirect_data((scratch / "data.p7").read_bytes()), _indirect_data(signature)
    if computed is None or carried is None:
        return refused("exit 0, but no SHA-256 digest could be read from what it extracted")
    if computed[1] != carried[1]:
        return refused(f"exit 0: its digest {computed[1].hex()} is not the {carried[1].hex()} signed")
    # The signed attributes and the signer's value, over the content as signed; the signer it names.
    (scratch / "content.bin").write_bytes(carried[0])
    status, tail = _run(["openssl", "smime", "-verify", "-noverify", "-binary", "-inform", "DER", "-in",
                         str(scratch / "signature.p7"), "-content", str(scratch / "content.bin"), "-signer",
                         str(scratch / "signer.pem"), "-out", os.devnull])
    if status != 0:
        return refused("openssl smime -verify: " + ("could not run" if status is None else f"exit {status}"), tail)
    tokens = _timestamp_tokens(signature)
    if tokens is None:
        return refused("exit 0, but the signer's unsigned attributes could not be read")
    value, tokens = tokens[0], tokens[1:]
    anchored = False
    for number, token in enumerate(tokens):
        (scratch / f"token{number}.der").write_bytes(token)
        status, tail = _run(["openssl", "cms", "-verify", "-noverify", "-binary", "-inform", "DER", "-in",
                             str(scratch / f"token{number}.der"), "-out", str(scratch / f"tstinfo{number}.der")])
        if status != 0:
            return refused("openssl cms -verify of the timestamp: " +
                           ("could not run" if status is None else f"exit {status}"), tail)
        try:
            tst_info = tsp.TSTInfo.load((scratch / f"tstinfo{number}.der").read_bytes())
            imprint, when = tst_info["message_imprint"], tst_info["gen_time"].native
            certified = (imprint["hash_algorithm"]["algorithm"].native == "sha256"
                         and imprint["hashed_message"].native == hashlib.sha256(value).digest())
        except Exception:  # noqa: BLE001 - a token it cannot read certifies nothing
            certified = False
        if not certified:
            return refused("the timestamp token verifies, but it does not certify this signature's value")
        if timestamp_anchors is not None:
            # Its authority's chain, at the time it certifies: an authority's certificate may expire later.
            status, _ = _run(["openssl", "cms", "-verify", "-binary", "-inform", "DER", "-in",
                              str(scratch / f"token{number}.der"), "-CAfile", str(timestamp_anchors), "-purpose",
                              "timestampsign", "-attime", str(int(when.timestamp())), "-out", os.devnull])
            anchored = status == 0 and len(tokens) == 1
    try:
        signer = x509.load_pem_x509_certificate((scratch / "signer.pem").read_bytes())
        fingerprint = authenticode.fingerprint(signer)
    except (OSError, ValueError):
        return refused("openssl smime -verify: exit 0, but it named no signer certificate")
    pin = ""
    if pinned is not None:
        pin = ", and the pinned signer"
        if fingerprint != pinned:
            return refused(f"exit 0, but its signer's certificate has the SHA-256 {fingerprint}, not the pinned one")
    timestamp = ", the timestamp's signature and what it certifies" if tokens else ""
    if anchored:
        timestamp += f", the timestamp's authority up to {timestamp_anchors.name}"
    covers = ANCHORLESS.format(timestamp=timestamp, pin=pin)
    return Verdict(True, covers, "exit 0", partial=True, with_openssl=True, timestamp_anchored=anchored)


def verify(program: bytes, *, ca_file: Path | None = None, pinned_sha256: str | None = None,
           now: datetime, timestamp_anchors: Path | None = None) -> Verdict:
    """The second verdict on a signed program, with the same anchors, pin and present as authenticode.py."""
    pinned = None if pinned_sha256 is None else authenticode.normal_fingerprint(pinned_sha256)
    if pinned_sha256 is not None and pinned is None:
        return Verdict(False, "nothing", f"not run: the pin {pinned_sha256!r} is no SHA-256 fingerprint")
    with tempfile.TemporaryDirectory(prefix="second-verifier-") as folder:
        scratch = Path(folder)
        path = scratch / "program.exe"
        path.write_bytes(program)
        anchorless = None
        if ca_file is not None:
            anchors, covers = ca_file, FULL.format(anchors=ca_file.name)
            timestamp_options = ["-TSA-CAfile", str(ca_file)]
        else:
            # The checks without a chain always run here; a root that the signature carries adds
            # osslsigncode's own verification along the chain to it, which treats a timestamp that does not
            # verify as none and so cannot stand alone.
            anchorless = _without_anchors(path, scratch, pinned, timestamp_anchors)
            try:
                der = certificate_table.signature_der(program)
            except ValueError:
                der = None
            roots = _self_signed_roots(der) if der else b""
            if not roots or not anchorless.verifies:
                return anchorless
            anchors = scratch / "roots.pem"
            anchors.write_bytes(roots)
            covers = FULL.format(anchors="the root that the signature itself carries (no trust: no --ca)")
            # A timestamp whose authority leads to no listed root is none: the signer is checked at -time.
            timestamp_options = ["-TSA-CAfile", str(timestamp_anchors)] if timestamp_anchors else []
            covers += f", its timestamp's authority up to {timestamp_anchors.name}" if timestamp_anchors else \
                ", no timestamp (no authority is anchored)"
        command = [PROGRAM, "verify", "-in", str(path), "-CAfile", str(anchors), *timestamp_options,
                   "-ignore-crl", "-time", str(int(now.timestamp()))]
        if pinned is not None:
            command += ["-require-leaf-hash", "sha256:" + pinned]
            covers += ", and the pinned signer"
        status, tail = _run(command)
    status_words = "could not run" if status is None else f"exit {status}"
    if anchorless is None:
        return Verdict(status == 0, covers, status_words, tail)
    return Verdict(status == 0, f"{covers}; and {anchorless.covers}", status_words, tail,
                   with_openssl=True, timestamp_anchored=anchorless.timestamp_anchored)


def disagreement(examination: authenticode.Examination, second: Verdict) -> str | None:
    """The sentence that names both verdicts when the two verifiers differ on the signature itself (the
    layout rules that only authenticode.py applies are left out of the comparison), else None."""
    own = [problem for problem in examination.problems if problem not in examination.layout_problems]
    if examination.unanchored_timestamp:  # the signer's certificate has expired, and so osslsigncode finds
        own.append("the signer's certificate is valid only at a timestamp that nothing anchors")
    if second.partial and second.verifies and examination.dated_by_timestamp and not second.timestamp_anchored:
        return (f"the two verifiers disagree: authenticode.py accepts it, as the signer's certificate was valid at"
                f" its anchored timestamp; {second.words}, but found no anchor for that timestamp")
    if (not own) == second.verifies or (examination.problems and not own):
        return None  # agreed, or refused for the layout alone, which osslsigncode may or may not read
    if second.partial and second.verifies:
        return None  # it vouched without a chain: authenticode.py's findings may lie beyond it
    mine = "refuses it: " + "; ".join(own) if own else "accepts it"
    tail = "".join(f"\n    {line}" for line in second.tail) if not second.verifies else ""
    return f"the two verifiers disagree: authenticode.py {mine}; {second.words}{tail}"
