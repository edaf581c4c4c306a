"""The Authenticode signature of a Windows program, checked from its bytes (certificate_table finds it and
computes the program's digest): the signed digest, the signer's signature, an RFC 3161 or PKCS#9
timestamp, and optionally the signer against a pinned fingerprint or a file of trust anchors.

asn1crypto reads the PKCS#7 structures and cryptography checks the signatures; only the chain to the
anchors is left to `openssl verify`, which cryptography 38 cannot do. Every finding is a plain sentence
for the vendor who shipped the program, so that a caller can print them as they are.
"""

from __future__ import annotations

import hashlib
import re
import subprocess
import tempfile
from dataclasses import dataclass
from datetime import datetime, timezone
from pathlib import Path

from asn1crypto import algos, cms, core, tsp
from cryptography import x509
from cryptography.exceptions import InvalidSignature, UnsupportedAlgorithm
from cryptography.hazmat.primitives import hashes, serialization
from cryptography.hazmat.primitives.asymmetric import ec, padding, rsa
from cryptography.x509.oid import ExtendedKeyUsageOID

from certificate_table import Layout, Refused, authenticode_digest, der_header, layout, read_table

SPC_INDIRECT_DATA = "1.3.6.1.4.1.311.2.1.4"
# Where a signing tool leaves an RFC 3161 token: an unsigned attribute of the signer.
RFC3161_TIMESTAMP = "1.3.6.1.4.1.311.3.3.1"
# Digests a timestamp authority may use; the program's own digest must be SHA-256.
# The names a signer info gives its signature: rsaEncryption and sha256/384/512WithRSAEncryption; ecdsa-with-SHA256/384/512.
SIGNATURE_ALGORITHMS = {"rsa": {"1.2.840.113549.1.1.1", "1.2.840.113549.1.1.11", "1.2.840.113549.1.1.12",
                                "1.2.840.113549.1.1.13"},
                        "ec": {"1.2.840.10045.4.3.2", "1.2.840.10045.4.3.3", "1.2.840.10045.4.3.4"}}
TIMESTAMP_DIGESTS = {"sha256": hashes.SHA256, "sha384": hashes.SHA384, "sha512": hashes.SHA512}


class SpcAttributeTypeAndOptionalValue(core.Sequence):
    _fields = [("type", core.ObjectIdentifier), ("value", core.Any, {"optional": True})]


class SpcIndirectDataContent(core.Sequence):
    _fields = [("data", SpcAttributeTypeAndOptionalValue), ("message_digest", algos.DigestInfo)]


@dataclass(frozen=True)
class Certificate:
    subject: str  # RFC 4514, e.g. "CN=tarvin test signer"
    issuer: str
    sha256: str  # lowercase hex SHA-256 of the DER
    not_before: datetime  # aware, UTC
    not_after: datetime


@dataclass(frozen=True)
class Examination:
    signed: bool  # the program carries a certificate table at all
    problems: tuple[str, ...]  # one sentence each; empty = intact and, if asked, trusted
    signer: Certificate | None
    signing_time: datetime | None  # the signer's signingTime attribute: its own claim, not proof
    timestamp: datetime | None  # only from a timestamp token that verified
    timestamp_signer: Certificate | None
    signer_check: str  # "pinned" | "chain" | "pinned and chain" | "not checked"
    # Those of the problems that are about where the signature lies in the file (one entry, no hidden
    # padding, nothing appended): rules that a verifier of the signature alone does not apply.
    layout_problems: tuple[str, ...] = ()
    # The timestamp's authority leads to anchors (--ca, else the timestamp authorities given): only then does
    # its time stand for the present in the check of the signer's dates.
    timestamp_anchored: bool = False
    # The signer's certificate is valid at the anchored timestamp's time, not now: the verdict rests on it.
    dated_by_timestamp: bool = False
    # The signer's certificate is valid at the time of a timestamp that nothing anchors, not now: whoever
    # made that timestamp chose its time, so the dates are not checked.
    unanchored_timestamp: bool = False


def fingerprint(certificate: x509.Certificate) -> str:
    """A certificate's SHA-256 fingerprint in the one form that pins are compared in: 64 lowercase hex digits."""
    return certificate.fingerprint(hashes.SHA256()).hex()


def normal_fingerprint(text: str) -> str | None:
    """A SHA-256 fingerprint as a vendor writes it (colons, white space and either case allowed) in the form
    that fingerprint gives; None when text is no such fingerprint."""
    digits = re.sub(r"[:\s]", "", text)
    return digits.lower() if re.fullmatch(r"[0-9a-fA-F]{64}", digits) else None


def describe(certificate: x509.Certificate) -> Certificate:
    return Certificate(
        subject=certificate.subject.rfc4514_string(),
        issuer=certificate.issuer.rfc4514_string(),
        sha256=fingerprint(certificate),
        not_before=certificate.not_valid_before.replace(tzinfo=timezone.utc),
        not_after=certificate.not_valid_after.replace(tzinfo=timezone.utc),
    )


def _attribute(signer_info: cms.SignerInfo, name: str, unsigned: bool = False):
    attributes = signer_info["unsigned_attrs" if unsigned else "signed_attrs"]
    if not attributes:
        return []
    return [value for attribute in attributes if attribute["type"].dotted == name or attribute["type"].native == name
            for value in attribute["values"]]


def _signer_certificate(signer_info: cms.SignerInfo, certificates: list[x509.Certificate]) -> x509.Certificate | None:
    """The certificate that the signer info names, by issuer and serial number or by key identifier."""
    sid = signer_info["sid"]
    for certificate in certificates:
        if sid.name == "issuer_and_serial_number":
            if (certificate.serial_number == sid.chosen["serial_number"].native
                    and certificate.issuer.public_bytes() == sid.chosen["issuer"].dump()):
                return certificate
        else:
            try:
                key_id = certificate.extensions.get_extension_for_class(x509.SubjectKeyIdentifier).value.digest
            except x509.ExtensionNotFound:
                continue
            if key_id == sid.chosen.native:
                return certificate
    return None


def _verify_signed_attributes(signer_info: cms.SignerInfo, certificate: x509.Certificate, algorithm) -> bool:
    """Whether the signer's signature value is its key's signature over the DER of its signed attributes."""
    attributes = signer_info["signed_attrs"].dump()
    signed = b"\x31" + attributes[1:]  # signed as a SET OF, stored with the [0] tag
    value = signer_info["signature"].native
    key = certificate.public_key()
    # The signature's algorithm is no signed field: only the names of what the key does are accepted, so
    # that nothing unchecked can be changed in it.
    if signer_info["signature_algorithm"]["algorithm"].dotted not in SIGNATURE_ALGORITHMS[
            "rsa" if isinstance(key, rsa.RSAPublicKey) else "ec"]:
        return False
    try:
        if isinstance(key, rsa.RSAPublicKey):
            key.verify(value, signed, padding.PKCS1v15(), algorithm())
        elif isinstance(key, ec.EllipticCurvePublicKey):
            key.verify(value, signed, ec.ECDSA(algorithm()))
        else:
            return False
    except (InvalidSignature, ValueError):
        return False
    return True


def _certificates(signed_data: cms.SignedData) -> list[x509.Certificate]:
    return [x509.load_der_x509_certificate(choice.chosen.dump()) for choice in signed_data["certificates"] or []
            if choice.name == "certificate"]


def _verify_timestamp(signer_info: cms.SignerInfo, outer: list[x509.Certificate]
                      ) -> tuple[datetime | None, x509.Certificate | None, list[str]]:
    """The time a timestamp certifies for the signer's signature value, and its signer; or the problems.
    outer (the signature's certificates) gains the token's own, for the chain check of its signer."""
    signature_value = signer_info["signature"].native
    tokens = _attribute(signer_info, RFC3161_TIMESTAMP, unsigned=True)
    countersignatures = _attribute(signer_info, "counter_signature", unsigned=True)
    if len(tokens) + len(countersignatures) == 0:
        return None, None, []
    if len(tokens) + len(countersignatures) > 1:
        return None, None, ["the signature carries more than one timestamp"]
    if tokens:
        token = cms.ContentInfo.load(tokens[0].dump())
        if token["content_type"].native != "signed_data":
            return None, None, ["the timestamp is not a signed token"]
        signed_data = token["content"]
        content = signed_data["encap_content_info"]
        if content["content_type"].native != "tst_info" or len(signed_data["signer_infos"]) != 1:
            return None, None, ["the timestamp token holds no single signed time"]
        tst_bytes = content["content"].contents
        tst_info = tsp.TSTInfo.load(tst_bytes)
        imprint = tst_info["message_imprint"]
        outer += _certificates(signed_data)
        certificates = outer
        countersigner = signed_data["signer_infos"][0]
        when = tst_info["gen_time"].native
        covered = tst_bytes
        imprint_algorithm = TIMESTAMP_DIGESTS.get(imprint["hash_algorithm"]["algorithm"].native)
        if imprint_algorithm is None:
            return None, None, ["the timestamp uses a digest other than SHA-256, SHA-384 or SHA-512"]
        digest = hashes.Hash(imprint_algorithm())
        digest.update(signature_value)
        if digest.finalize() != imprint["hashed_message"].native:
            return None, None, ["the timestamp does not verify: it certifies the time of another signature"]
        expected_type = "tst_info"
    else:
        countersigner = countersignatures[0]
        certificates = outer
        times = _attribute(countersigner, "signing_time")
        when = times[0].native if times else None
        covered, expected_type = signature_value, None
    algorithm = TIMESTAMP_DIGESTS.get(countersigner["digest_algorithm"]["algorithm"].native)
    if algorithm is None:
        return None, None, ["the timestamp uses a digest other than SHA-256, SHA-384 or SHA-512"]
    certificate = _signer_certificate(countersigner, certificates)
    if certificate is None:
        return None, None, ["the timestamp does not verify: its signer's certificate is missing"]
    if not _allows(certificate, ExtendedKeyUsageOID.TIME_STAMPING):
        return None, None, [f"the timestamp's signer ({certificate.subject.rfc4514_string()}) is no timestamp "
                            "authority: its extended key usage lacks Time Stamping"]
    digests = _attribute(countersigner, "message_digest")
    content_types = [value.native for value in _attribute(countersigner, "content_type")]
    digest = hashes.Hash(algorithm())
    digest.update(covered)
    if (len(digests) != 1 or digests[0].native != digest.finalize() or when is None
            or (expected_type and content_types != [expected_type])
            or not _verify_signed_attributes(countersigner, certificate, algorithm)):
        return None, None, ["the timestamp does not verify: its signature does not match its signer's certificate"]
    return when.astimezone(timezone.utc), certificate, []


def _leads_to_anchors(certificate: x509.Certificate, intermediates: list[x509.Certificate], ca_file: Path,
                      when: datetime, purpose: str | None) -> bool:
    """Whether openssl verify leads certificate to the anchors in ca_file at the moment when."""
    with tempfile.TemporaryDirectory() as scratch:
        leaf, others = Path(scratch) / "leaf.pem", Path(scratch) / "others.pem"
        leaf.write_bytes(certificate.public_bytes(serialization.Encoding.PEM))
        command = ["openssl", "verify", "-CAfile", str(ca_file), "-attime", str(int(when.timestamp()))]
        if purpose:
            command += ["-purpose", purpose]
        if intermediates:
            others.write_bytes(b"".join(c.public_bytes(serialization.Encoding.PEM) for c in intermediates))
            command += ["-untrusted", str(others)]
        result = subprocess.run([*command, str(leaf)], capture_output=True, text=True)
    return result.returncode == 0


def _allows(certificate: x509.Certificate, purpose: x509.ObjectIdentifier) -> bool:
    try:
        usage = certificate.extensions.get_extension_for_class(x509.ExtendedKeyUsage).value
    except x509.ExtensionNotFound:
        return False
    return purpose in usage


def allows_code_signing(certificate: x509.Certificate) -> bool:
    return _allows(certificate, ExtendedKeyUsageOID.CODE_SIGNING)


def examine(program: bytes, *, ca_file: Path | None = None, pinned_sha256: str | None = None,
            now: datetime | None = None, timestamp_anchors: Path | None = None) -> Examination:
    """Everything that is wrong with the program's signature; with ca_file or pinned_sha256, also with its
    signer. now (aware) stands for the present in the chain check of a signature without an anchored
    timestamp. An RFC 3161 timestamp is anchored by ca_file, or without it by timestamp_anchors (PEM roots of
    the timestamp authorities); a legacy countersignature only by ca_file, as the second verifier judges
    it only there."""
    checks = " and ".join(name for name, given in (("pinned", pinned_sha256), ("chain", ca_file)) if given)
    found: dict = dict(signer=None, signing_time=None, timestamp=None, timestamp_signer=None, dates={})
    problems: list[str] = []
    signed = False
    try:
        where = layout(program)
        signed = bool(where.table or where.size)
        if signed:
            where, der = read_table(program, problems)
            found["layout"] = len(problems)
            _examine_signature(program, where, der, problems, found, ca_file, pinned_sha256,
                               now or datetime.now(timezone.utc), timestamp_anchors)
    except Refused as refusal:
        problems.append(str(refusal))
    except UnsupportedAlgorithm as error:
        problems.append(f"the signature uses a key or algorithm that cannot be checked ({error})")
    except x509.DuplicateExtension as error:
        problems.append(f"a certificate in the signature cannot be read: it has the {error.oid.dotted_string} "
                        "extension twice")
    except (ValueError, TypeError, KeyError, IndexError, OverflowError):
        # asn1crypto parses lazily: a malformed part shows late
        problems.append("the signature in the certificate table cannot be read as PKCS#7 signed data")
    except Exception as error:  # noqa: BLE001 - whatever else stops the reading is a refusal, not a success
        problems.append(f"the signature in the certificate table cannot be read ({type(error).__name__}: {error})")
    layout_problems = tuple(problems[:found.get("layout", 0)])
    try:
        signer, timestamp_signer = (found[name] and describe(found[name]) for name in ("signer", "timestamp_signer"))
    except Exception:  # noqa: BLE001 - a certificate whose dates cannot be read is shown as no certificate
        signer = timestamp_signer = None
        problems.append("the signer's certificate cannot be read")
    return Examination(signed=signed, problems=tuple(problems), signer_check=checks or "not checked",
                       signer=signer, signing_time=found["signing_time"], timestamp=found["timestamp"],
                       timestamp_signer=timestamp_signer, layout_problems=layout_problems, **found["dates"])


def _examine_signature(program: bytes, where: Layout, der: bytes, problems: list[str], found: dict,
                       ca_file: Path | None, pinned_sha256: str | None, now: datetime,
                       timestamp_anchors: Path | None) -> None:
    try:
        info = cms.ContentInfo.load(der, strict=True)
        if info["content_type"].native != "signed_data":
            raise ValueError
        signed_data = info["content"]
        signer_infos = signed_data["signer_infos"]
        content = signed_data["encap_content_info"]
        certificates = _certificates(signed_data)
        if content["content_type"].dotted != SPC_INDIRECT_DATA:
            raise Refused("the signature is not an Authenticode signature: it signs no program digest")
        explicit = content["content"].dump()
        header, _ = der_header(explicit)
        indirect_der = explicit[header:]
        inner, _ = der_header(indirect_der)
        indirect = SpcIndirectDataContent.load(indirect_der)
        algorithm = indirect["message_digest"]["digest_algorithm"]["algorithm"].native
        carried = indirect["message_digest"]["digest"].native
    except Refused:
        raise
    except (ValueError, TypeError, KeyError):
        raise Refused("the signature in the certificate table cannot be read as PKCS#7 signed data") from None
    if len(signer_infos) != 1:
        raise Refused(f"the signature has {len(signer_infos)} signers instead of one")
    signer_info = signer_infos[0]

    for used in (algorithm, signer_info["digest_algorithm"]["algorithm"].native):
        if used != "sha256":
            raise Refused(f"the signature uses the {used} digest; only SHA-256 is accepted")
    actual = authenticode_digest(program, where)
    if carried != actual:
        problems.append(f"the program changed after signing: its Authenticode digest is {actual.hex()}, "
                        f"the signature carries {carried.hex()}")

    if not signer_info["signed_attrs"]:
        raise Refused("the signature has no signed attributes, so it does not cover the program's digest")
    digests = _attribute(signer_info, "message_digest")
    content_types = [value.dotted for value in _attribute(signer_info, "content_type")]
    if len(digests) != 1 or digests[0].native != hashlib.sha256(indirect_der[inner:]).digest():
        problems.append("the signature does not verify: its signed attributes do not cover the program's digest")
    if content_types != [SPC_INDIRECT_DATA]:
        problems.append("the signature does not verify: its signed attributes name another kind of content")
    times = _attribute(signer_info, "signing_time")
    found["signing_time"] = times[0].native.astimezone(timezone.utc) if times else None

    certificate = _signer_certificate(signer_info, certificates)
    if certificate is None:
        raise Refused("the signature does not carry its signer's certificate")
    found["signer"] = certificate
    if not _verify_signed_attributes(signer_info, certificate, hashes.SHA256):
        problems.append("the signature does not verify: its value was not made by the key of the certificate "
                        f"it names ({certificate.subject.rfc4514_string()})")

    when, timestamp_signer, timestamp_problems = _verify_timestamp(signer_info, certificates)
    problems += timestamp_problems
    others = [c for c in certificates if c is not certificate]
    # A timestamp authority outside the anchors could certify any time: its time is no time then.
    if ca_file is not None and timestamp_signer is not None and not _leads_to_anchors(
            timestamp_signer, others, ca_file, when, "timestampsign"):
        problems.append(f"the timestamp's signer ({timestamp_signer.subject.rfc4514_string()}) does not lead "
                        f"to the trusted certificates in {ca_file.name}")
        when = timestamp_signer = None
    found["timestamp"], found["timestamp_signer"] = when, timestamp_signer
    anchored = timestamp_signer is not None and (ca_file is not None or (
        timestamp_anchors is not None and bool(_attribute(signer_info, RFC3161_TIMESTAMP, unsigned=True))
        and _leads_to_anchors(timestamp_signer, others, timestamp_anchors, when, "timestampsign")))

    signer = fingerprint(certificate)
    pinned = normal_fingerprint(pinned_sha256 or "") or pinned_sha256
    if pinned_sha256 is not None and signer != pinned:
        problems.append(f"the signer is not the expected one: its certificate's SHA-256 is {signer}, "
                        f"expected {pinned}")

    def valid_at(moment: datetime) -> bool:
        return certificate.not_valid_before <= moment.replace(tzinfo=None) <= certificate.not_valid_after

    moment = when if anchored else now
    found["dates"] = dict(timestamp_anchored=anchored, dated_by_timestamp=anchored and not valid_at(now),
                          unanchored_timestamp=bool(when) and not anchored and not valid_at(now) and valid_at(when))
    if ca_file is None and not valid_at(moment) and not found["dates"]["unanchored_timestamp"]:
        # The chain check names this when anchors are given; without them the dates still count.
        about = describe(certificate)
        problems.append(f"the signer's certificate was not valid at {moment:%Y-%m-%d %H:%M:%S} UTC, "
                        f"{'the timestamp' if anchored else 'now'}: it is valid from {about.not_before:%Y-%m-%d} "
                        f"to {about.not_after:%Y-%m-%d}")
    if ca_file is not None:
        if not _leads_to_anchors(certificate, others, ca_file, moment, None):
            problems.append(f"the signer's certificate ({certificate.subject.rfc4514_string()}) does not lead to "
                            f"the trusted certificates in {ca_file.name} (checked at {moment:%Y-%m-%d %H:%M:%S} UTC)")
        if not allows_code_signing(certificate):
            problems.append("the signer's certificate does not allow code signing: its extended key usage lacks "
                            "Code Signing")
        # Every other certificate that the signature carries must lead to the anchors too: one that leads
        # nowhere is bytes that nothing checked (a changed copy of the root, say). Named last, when all
        # else holds, since a fault named above leaves its certificates without a chain anyway.
        for carried in [] if problems else [c for c in others if c is not timestamp_signer]:
            if not _leads_to_anchors(carried, [c for c in others if c is not carried], ca_file, moment, None):
                problems.append(f"the signature carries a certificate ({carried.subject.rfc4514_string()}) that "
                                f"does not lead to the trusted certificates in {ca_file.name}")


def load_certificate(data: bytes) -> x509.Certificate:
    """One certificate in PEM or DER; ValueError for anything else."""
    if b"-----BEGIN CERTIFICATE-----" in data:
        if data.count(b"-----BEGIN CERTIFICATE-----") > 1:
            raise ValueError("holds more than one certificate")
        return x509.load_pem_x509_certificate(data)
    return x509.load_der_x509_certificate(data)
