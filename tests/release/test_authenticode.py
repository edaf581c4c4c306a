"""The medium tool's signature checks on a small i686 program that osslsigncode signs with the test keys:
what an intact signature tells, and each signature that must not be believed."""

import hashlib
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest
import unittest.mock
from datetime import datetime, timezone
from pathlib import Path

from asn1crypto import cms, core, pem
from asn1crypto import x509 as asn1_x509
from cryptography.hazmat.primitives import hashes, serialization
from cryptography.hazmat.primitives.asymmetric import padding

import signed_programs
from signed_programs import SIGNING_TIME

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "tools" / "medium"))
import authenticode  # noqa: E402
import certificate_table  # noqa: E402
import second_verifier  # noqa: E402
import signature_report  # noqa: E402
from check_report import Report  # noqa: E402

programs: dict[str, bytes] = {}
# Made once: re-encoding the altered signatures takes asn1crypto many seconds.
faults: list = []


def setUpModule():
    global FOLDER
    FOLDER = Path(tempfile.mkdtemp(prefix="authenticode-"))
    programs.update(signed_programs.make_programs(FOLDER))
    faults.extend(make_faults())
    global NOW  # after the test CA came to be
    NOW = datetime.now(timezone.utc)


def tearDownModule():
    shutil.rmtree(FOLDER, True)


def signer_info(program: bytes) -> cms.SignerInfo:
    return cms.ContentInfo.load(certificate_table.signature_der(program))["content"]["signer_infos"][0]


def directories(program: bytes) -> tuple[int, int]:
    """Where the CheckSum field and the certificate table's directory entry of a PE32 program are."""
    header = struct.unpack_from("<I", program, 0x3C)[0] + 24
    return header + 64, header + 96 + 8 * 4


def with_table(program: bytes, table: bytes) -> bytes:
    """The unsigned program followed by table, its directory entry pointing at it."""
    entry = directories(program)[1]
    return program[:entry] + struct.pack("<II", len(program), len(table)) + program[entry + 8:] + table


def entry(der: bytes) -> bytes:
    padding = -len(der) % 8
    return struct.pack("<IHH", 8 + len(der) + padding, 0x200, 2) + der + bytes(padding)


def rebuilt(der: bytes, signer: dict | None = None, **fields) -> bytes:
    """The signature der with fields of its signed data, or of its signer (None: left out), replaced; made
    from the old parts, which keep their encodings."""
    content = cms.ContentInfo.load(der)["content"]
    old = content["signer_infos"][0]
    if signer is not None:
        names = ("version", "sid", "digest_algorithm", "signed_attrs", "signature_algorithm", "signature",
                 "unsigned_attrs")
        parts = {name: signer.get(name, old[name]) for name in names}
        fields["signer_infos"] = [cms.SignerInfo({name: part for name, part in parts.items()
                                                  if part is not None and not isinstance(part, core.Void)})]
    names = ("version", "digest_algorithms", "encap_content_info", "certificates", "signer_infos")
    return cms.ContentInfo({"content_type": "signed_data", "content": cms.SignedData(
        {name: fields.get(name, content[name]) for name in names})}).dump()


def by_key_identifier(der: bytes, identifier: bytes) -> bytes:
    """The signature der with its signer named by a subject key identifier, as CMS allows, in place of
    issuer and serial number: the signed attributes, and so the signature's value, stay as they were."""
    return rebuilt(der, signer={"sid": cms.SignerIdentifier({"subject_key_identifier": identifier})})


def changed(data: bytes, value: bytes) -> bytes:
    """data with one bit flipped in the middle of the first occurrence of value."""
    at = data.index(value) + len(value) // 2
    return data[:at] + bytes([data[at] ^ 1]) + data[at + 1:]


def fingerprint(name: str) -> str:
    output = subprocess.run(["openssl", "x509", "-in", str(FOLDER / "keys" / f"{name}.pem"), "-noout", "-fingerprint",
                             "-sha256"], capture_output=True, text=True, check=True).stdout
    return output.split("=")[1].strip().replace(":", "").lower()


def make_faults() -> list:
    """Each signature that must not be believed: (name, program, checks, problems that examine names)."""
    signed, unsigned, timestamped = programs["signed"], programs["unsigned"], programs["timestamped"]
    der = certificate_table.signature_der(signed)
    # The unrelated key's signature with the vendor's certificate in place of its own.
    swapped = cms.ContentInfo.load(certificate_table.signature_der(programs["unrelated"]))
    swapped["content"]["certificates"] = cms.ContentInfo.load(der)["content"]["certificates"]
    swapped["content"]["signer_infos"][0]["sid"] = signer_info(signed)["sid"]
    # A timestamp taken from another signature of the same program.
    replayed = cms.ContentInfo.load(certificate_table.signature_der(programs["later"]))
    replayed["content"]["signer_infos"][0]["unsigned_attrs"] = signer_info(timestamped)["unsigned_attrs"]
    token = signer_info(timestamped)["unsigned_attrs"][0]["values"][0]["content"]

    def with_unsigned_attribute(size: int) -> bytes:
        info = cms.ContentInfo.load(der)
        info["content"]["signer_infos"][0]["unsigned_attrs"] = [{"type": "message_digest", "values": [bytes(size)]}]
        return info.dump(True)

    odd = next(d for d in map(with_unsigned_attribute, range(1, 9)) if len(d) % 8)  # no multiple of 8 long
    # A changed program whose digest replaces the old one in the signed content; signed attributes as they were.
    program = changed(unsigned, unsigned[0x400:0x410])
    checksum, entry_at = directories(unsigned)
    old, new = (hashlib.sha256(p[:checksum] + p[checksum + 4:entry_at] + p[entry_at + 8:]).digest()
                for p in (unsigned, program))
    ca, other_ca = FOLDER / "keys" / "ca.pem", FOLDER / "unrelated" / "ca.pem"
    cases = [
        ("a flipped byte of the RSA value", changed(signed, signer_info(signed)["signature"].native), {},
         "does not verify: its value was not made by the key"),
        ("a changed byte of the program", changed(signed, signed[0x400:0x410]), {}, "changed after signing"),
        ("a new digest in the signed content", with_table(program, entry(der.replace(old, new))), {},
         "do not cover the program's digest"),
        ("another key's signature, the vendor's certificate", with_table(unsigned, entry(swapped.dump(True))), {},
         "does not verify: its value was not made by the key"),
        ("the SHA-1 digest", programs["sha1"], {}, "only SHA-256 is accepted"),
        ("a flipped byte of the timestamp's signature",
         changed(timestamped, token["signer_infos"][0]["signature"].native), {}, "the timestamp does not verify"),
        ("a changed hour in the timestamp", changed(timestamped, token["encap_content_info"]["content"].parsed[
            "gen_time"].contents[6:12]), {}, "the timestamp does not verify"),
        ("the timestamp of another signature", with_table(unsigned, entry(replayed.dump(True))), {},
         "the timestamp does not verify: it certifies the time of another signature"),
        ("a timestamp from another CA", programs["unrelated_tsa"], {"ca_file": ca},
         "the timestamp's signer (CN=tarvin test tsa) does not lead to the trusted certificates in ca.pem"),
        ("zeros beyond the padding", with_table(unsigned, entry(der + bytes(8))), {},
         "data appended to the certificate table: its entry holds 8 bytes"),
        ("data in the padding, outside the entry's length", with_table(unsigned, struct.pack(
            "<IHH", 8 + len(odd), 0x200, 2) + odd + b"\1" * (-len(odd) % 8)), {}, "data appended to the"),
        ("data after the table", signed + b"tail", {}, "data appended to the certificate table: 4 bytes follow"),
        ("a second entry", with_table(unsigned, entry(der) * 2), {}, "holds more than one entry"),
        ("a table off the 8-byte grid", with_table(unsigned + b"\0" * 4, entry(der)), {},
         "not where Authenticode puts it", "changed after signing"),
        ("a table over the last section", with_table(unsigned[:-16], entry(der)), {},
         "not where Authenticode puts it", "changed after signing"),
        ("an unrelated CA's signer", programs["unrelated"], {"ca_file": ca},
         "(CN=tarvin test signer) does not lead to the trusted certificates in ca.pem"),
        ("the vendor's signer under another CA", signed, {"ca_file": other_ca}, "does not lead to the trusted"),
        ("a certificate without Code Signing", programs["server"], {"ca_file": ca}, "lacks Code Signing"),
        ("a signer other than the pinned one", signed, {"pinned_sha256": fingerprint("other")},
         f"the signer is not the expected one: its certificate's SHA-256 is {fingerprint('signer')}"),
        # Signatures of another shape than Authenticode's.
        ("no signed data", with_table(unsigned, entry(cms.ContentInfo({"content_type": "data",
                                                                        "content": b"MZ"}).dump())), {},
         "cannot be read as PKCS#7 signed data"),
        ("content other than a program's digest", with_table(unsigned, entry(rebuilt(der, encap_content_info={
            "content_type": "data", "content": b"MZ"}))), {}, "is not an Authenticode signature"),
        ("two signers", with_table(unsigned, entry(rebuilt(der, signer_infos=[signer_info(signed)] * 2))), {},
         "has 2 signers instead of one"),
        ("no signed attributes", with_table(unsigned, entry(rebuilt(der, signer={"signed_attrs": None}))), {},
         "has no signed attributes"),
        ("no certificates", with_table(unsigned, entry(rebuilt(der, certificates=[]))), {},
         "does not carry its signer's certificate"),
        ("a key identifier that names no certificate", with_table(unsigned, entry(by_key_identifier(der, bytes(20)))),
         {}, "does not carry its signer's certificate"),
        ("a certificate that leads nowhere", with_table(unsigned, entry(rebuilt(der, certificates=[
            *(choice.chosen for choice in cms.ContentInfo.load(der)["content"]["certificates"]),
            asn1_x509.Certificate.load(pem.unarmor(other_ca.read_bytes())[2])]))), {"ca_file": ca},
         "the signature carries a certificate (CN=tarvin test CA) that does not lead to the trusted certificates"),
        ("two timestamps", with_table(unsigned, entry(rebuilt(certificate_table.signature_der(timestamped), signer={
            "unsigned_attrs": [signer_info(timestamped)["unsigned_attrs"][0]] * 2}))), {},
         "carries more than one timestamp"),
    ]
    return cases


def timestamp_signed_by(program: bytes, name: str) -> bytes:
    """program with its timestamp token signed again by the test CA's certificate name and its key, the
    token's certificates and its signing-certificate attribute naming it in place of the TSA's. Built from
    fresh parts: asn1crypto's forced re-encoding of a whole token is very slow."""
    keys = FOLDER / "keys"
    der = subprocess.run(["openssl", "x509", "-in", str(keys / f"{name}.pem"), "-outform", "DER"],
                         capture_output=True, check=True).stdout
    certificate = asn1_x509.Certificate.load(der)
    key = serialization.load_pem_private_key((keys / f"{name}.key").read_bytes(), None)
    info = cms.ContentInfo.load(certificate_table.signature_der(program))
    token = info["content"]["signer_infos"][0]["unsigned_attrs"][0]["values"][0]["content"]
    old = token["signer_infos"][0]
    attributes = cms.CMSAttributes([
        {"type": "signing_certificate_v2", "values": [{"certs": [{"cert_hash": hashlib.sha256(der).digest()}]}]}
        if attribute["type"].native == "signing_certificate_v2" else cms.CMSAttribute.load(attribute.dump())
        for attribute in old["signed_attrs"]])
    signed = attributes.dump()
    countersigner = cms.SignerInfo({
        "version": old["version"].native,
        "sid": cms.SignerIdentifier({"issuer_and_serial_number": {
            "issuer": asn1_x509.Name.load(certificate.issuer.dump()), "serial_number": certificate.serial_number}}),
        "digest_algorithm": cms.DigestAlgorithm.load(old["digest_algorithm"].dump()),
        "signed_attrs": attributes,
        "signature_algorithm": cms.SignedDigestAlgorithm.load(old["signature_algorithm"].dump()),
        "signature": key.sign(signed, padding.PKCS1v15(), hashes.SHA256()),
    })
    roots = [asn1_x509.Certificate.load(c.chosen.dump()) for c in token["certificates"] if c.chosen.self_issued]
    signed_data = cms.SignedData({
        "version": token["version"].native,
        "digest_algorithms": cms.DigestAlgorithms.load(token["digest_algorithms"].dump()),
        "encap_content_info": cms.EncapsulatedContentInfo.load(token["encap_content_info"].dump()),
        "certificates": [asn1_x509.Certificate.load(der), *roots],
        "signer_infos": [countersigner],
    })
    new_token = cms.ContentInfo({"content_type": "signed_data", "content": signed_data})
    outer = info["content"]["signer_infos"][0]
    new_outer = cms.SignerInfo({name: outer[name] for name in ("version", "sid", "digest_algorithm", "signed_attrs",
                                                                "signature_algorithm", "signature")})
    new_outer["unsigned_attrs"] = [{"type": authenticode.RFC3161_TIMESTAMP, "values": [new_token]}]
    content = info["content"]
    new_signed_data = cms.SignedData({name: content[name] for name in ("version", "digest_algorithms",
                                                                       "encap_content_info", "certificates")})
    new_signed_data["signer_infos"] = [new_outer]
    return with_table(programs["unsigned"], entry(cms.ContentInfo({"content_type": "signed_data",
                                                                   "content": new_signed_data}).dump()))


class Authenticode(unittest.TestCase):
    def test_an_intact_signature_names_its_signer_its_times_and_what_was_checked(self):
        ca, pin = FOLDER / "keys" / "ca.pem", fingerprint("signer")
        for checks, signer_check in (({}, "not checked"), ({"ca_file": ca}, "chain"), ({"pinned_sha256": pin.upper()},
                                     "pinned"), ({"ca_file": ca, "pinned_sha256": pin}, "pinned and chain")):
            result = authenticode.examine(programs["signed"], **checks)
            self.assertEqual((result.signed, result.problems, result.signer_check), (True, (), signer_check))
        self.assertEqual((result.signer.subject, result.signer.issuer, result.signer.sha256, result.signing_time,
                          result.timestamp), ("CN=tarvin test signer", "CN=tarvin test CA", pin, SIGNING_TIME, None))
        self.assertEqual(authenticode.examine(programs["unsigned"], ca_file=ca),
                         authenticode.Examination(False, (), None, None, None, None, "chain"))
        # The signer named by its key identifier.
        der = certificate_table.signature_der(programs["signed"])
        identifier = next(choice.chosen.key_identifier for choice in cms.ContentInfo.load(der)["content"]["certificates"]
                          if choice.chosen.subject.native["common_name"] == "tarvin test signer")
        by_key = authenticode.examine(with_table(programs["unsigned"], entry(by_key_identifier(der, identifier))),
                                      ca_file=ca, pinned_sha256=pin)
        self.assertEqual((by_key.problems, by_key.signer.sha256), ((), pin))
        # A directory entry with a size and no place is a signature that cannot be read, not none.
        entry_at = directories(programs["unsigned"])[1]
        placeless = programs["unsigned"][:entry_at] + struct.pack("<II", 0, 16) + programs["unsigned"][entry_at + 8:]
        result = authenticode.examine(placeless)
        self.assertTrue(result.signed)
        self.assertIn("holds no Authenticode signature", result.problems[-1])

        # The chain holds at the verified timestamp's time, after the signer's certificate has expired.
        after = datetime(2100, 1, 1, tzinfo=timezone.utc)
        timestamped = authenticode.examine(programs["timestamped"], ca_file=ca, now=after)
        self.assertEqual(timestamped.problems, ())
        token = signer_info(programs["timestamped"])["unsigned_attrs"][0]["values"][0]["content"]
        self.assertEqual(timestamped.timestamp, token["encap_content_info"]["content"].parsed["gen_time"].native)
        self.assertEqual(timestamped.timestamp_signer.sha256, fingerprint("tsa"))
        self.assertIn("does not lead", authenticode.examine(programs["signed"], ca_file=ca, now=after).problems[0])

    def test_each_signature_that_must_not_be_believed_is_named(self):
        for name, program, checks, *problems in faults:
            with self.subTest(name):
                result = authenticode.examine(program, **checks)
                self.assertEqual(len(result.problems), len(problems), result.problems)
                for problem, found in zip(problems, result.problems):
                    self.assertIn(problem, found)
                self.assertTrue(result.signed)
                if "timestamp" in name:
                    self.assertEqual((result.timestamp, result.timestamp_signer), (None, None))

    def test_the_second_verifier_on_intact_signatures_and_each_fault(self):
        ca, pin = FOLDER / "keys" / "ca.pem", fingerprint("signer")
        for name, checks, covers in (("signed", {}, "the signer's signature, without a chain"), ("signed", {"ca_file": ca}, "chain to ca.pem"),
                                     ("signed", {"ca_file": ca, "pinned_sha256": pin}, "the pinned signer"),
                                     ("timestamped", {}, "the timestamp's signature and what it certifies, without"),
                                     ("rooted", {}, "the root that the signature itself carries")):
            with self.subTest(f"intact: {name} {sorted(checks)}"):
                verdict = second_verifier.verify(programs[name], now=NOW, **checks)
                self.assertTrue(verdict.verifies, verdict)
                self.assertIn(covers, verdict.covers)
        # With anchors it checks everything that it can; it treats a timestamp that does not verify as none
        # (the signature then holds at the present) and takes other digests than SHA-256.
        # A timestamp twice over, and a certificate carried that leads nowhere, are what only authenticode.py
        # refuses.
        accepted = {"two timestamps", "a certificate that leads nowhere", "the SHA-1 digest", "a flipped byte of the timestamp's signature",
                    "a changed hour in the "
                    "timestamp", "the timestamp of another signature", "a timestamp from another CA"}
        layout_only = {"zeros beyond the padding", "data in the padding, outside the entry's length"}
        for name, program, checks, *_ in faults:
            with self.subTest(name):
                checks = {"ca_file": ca, **checks}
                examination = authenticode.examine(program, now=NOW, **checks)
                verdict = second_verifier.verify(program, now=NOW, **checks)
                self.assertEqual(verdict.verifies, name in accepted | layout_only, verdict)
                disagreement = second_verifier.disagreement(examination, verdict)
                if name in accepted:
                    self.assertIn(f"authenticode.py refuses it: {examination.problems[0]}", disagreement)
                    self.assertTrue(disagreement.endswith("; osslsigncode accepts it (exit 0)"), disagreement)
                else:
                    self.assertIsNone(disagreement)

    def test_without_anchors_the_second_verifier_still_checks_value_timestamp_and_pin(self):
        # A committed pin and no --ca is the routine check: osslsigncode has no chain to end at, so the
        # signature's value, its timestamp and the signer must still get a second opinion there.
        # Without a chain, a signature that is sound but for its chain or its shape (each signer and each
        # timestamp verifies) is vouched for: authenticode.py's refusal stands, and is no disagreement.
        vouched_without_chain = {"the vendor's signer under another CA", "two signers", "two timestamps",
                                 "a timestamp from another CA"}
        layout_only = {"zeros beyond the padding", "data in the padding, outside the entry's length",
                       "data after the table", "a second entry"}
        for name, program, checks, *_ in faults:
            if name in layout_only:
                continue
            checks = {"pinned_sha256": fingerprint("signer"), **checks}
            checks.pop("ca_file", None)
            with self.subTest(name):
                verdict = second_verifier.verify(program, now=NOW, **checks)
                self.assertEqual(verdict.verifies, name in vouched_without_chain, verdict)
                self.assertTrue(verdict.with_openssl, verdict)
                # The step that refused is named.
                for fault, step in (("a flipped byte of the RSA value", "openssl smime -verify: exit [1-9]"),
                                    ("a flipped byte of the timestamp's signature",
                                     "openssl cms -verify of the timestamp: exit [1-9]")):
                    if name == fault:
                        self.assertRegex(verdict.status, f"^{step}", verdict)
        # Without a chain it cannot judge a certificate's dates: its vouching is no disagreement with
        # authenticode.py's refusal of a signer whose certificate has expired.
        after = datetime(2100, 1, 1, tzinfo=timezone.utc)
        examination = authenticode.examine(programs["signed"], now=after)
        self.assertIn("was not valid at", examination.problems[0])
        verdict = second_verifier.verify(programs["signed"], now=after)
        self.assertTrue(verdict.verifies, verdict)
        self.assertIsNone(second_verifier.disagreement(examination, verdict))

    def test_where_the_two_verifiers_could_part(self):
        ca = FOLDER / "keys" / "ca.pem"
        no_tsa = timestamp_signed_by(programs["timestamped"], "signer")
        cases = [
            # A certificate that had expired when the timestamp was taken: refused, with anchors or without.
            ("expired at the timestamp", programs["expired_timestamped"], {}, "was not valid at", False),
            ("expired at the timestamp, anchors", programs["expired_timestamped"], {"ca_file": ca},
             "does not lead to the trusted certificates", False),
            # A timestamp signed by a code-signing certificate: osslsigncode drops it and checks at the present.
            ("a timestamp signer without Time Stamping", no_tsa, {}, "is no timestamp authority", False),
            ("a timestamp signer without Time Stamping, anchors", no_tsa, {"ca_file": ca}, "is no timestamp authority",
             True),
            ("the SHA-512 digest", programs["sha512"], {"ca_file": ca}, "only SHA-256 is accepted", True),
        ]
        for name, program, checks, problem, disagree in cases:
            with self.subTest(name):
                examination = authenticode.examine(program, now=NOW, **checks)
                self.assertEqual(len(examination.problems), 1, examination.problems)
                self.assertIn(problem, examination.problems[0])
                verdict = second_verifier.verify(program, now=NOW, **checks)
                self.assertEqual(verdict.verifies, disagree or not checks, verdict)
                self.assertEqual(second_verifier.disagreement(examination, verdict) is not None, disagree)
        # The same signature, timestamp signed again by the real authority, is sound to both: the fault above
        # is the signer's usage alone.
        resigned = timestamp_signed_by(programs["timestamped"], "tsa")
        self.assertEqual(authenticode.examine(resigned, ca_file=ca, now=NOW).problems, ())

    def test_a_timestamp_stands_for_the_present_only_where_both_verifiers_anchor_its_authority(self):
        # After the signer's certificate expired, with a timestamp from the unrelated CA's authority.
        after, program = datetime(2100, 1, 1, tzinfo=timezone.utc), programs["unrelated_tsa"]
        for roots, anchored in ((None, False), ("keys", False), ("unrelated", True)):
            with self.subTest(roots):
                anchors = roots and FOLDER / roots / "ca.pem"
                examination = authenticode.examine(program, now=after, timestamp_anchors=anchors)
                self.assertEqual((examination.problems, examination.dated_by_timestamp, examination.unanchored_timestamp),
                                 ((), anchored, not anchored))
                verdict = second_verifier.verify(program, now=after, timestamp_anchors=anchors)
                self.assertEqual((verdict.verifies, verdict.timestamp_anchored), (True, anchored), verdict)
                self.assertIsNone(second_verifier.disagreement(examination, verdict))
                alone = second_verifier.Verdict(**{**vars(verdict), "timestamp_anchored": False})  # by one alone
                self.assertEqual(second_verifier.disagreement(examination, alone) is not None, anchored)

    def test_a_disagreement_names_both_verdicts_in_check_mediums_report(self):
        """osslsigncode swapped for a program that refuses everything, on an intact signature."""
        refuser = FOLDER / "refuser"
        refuser.write_text("#!/bin/sh\necho one; echo two; echo three\necho 'Signature verification: failed'\n"
                           "echo Failed\nexit 1\n")
        refuser.chmod(0o755)
        ca = FOLDER / "keys" / "ca.pem"

        class Shipped:  # an image with setup.exe in one name tree
            trees = {"Joliet": {"setup.exe": unittest.mock.Mock(is_folder=False)}}
            read = staticmethod(lambda entry: programs["signed"])

        report = Report()
        with unittest.mock.patch.object(second_verifier, "PROGRAM", str(refuser)):
            signature_report.examine_launchers(Shipped, None, report, ca=ca)
        self.assertEqual(report.differences, 1, report.lines)
        self.assertIn(f"  differs: the signature of setup.exe: the two verifiers disagree: authenticode.py accepts it;"
                      f" {refuser} refuses it (exit 1)\n    two\n    three\n    Signature verification: failed"
                      "\n    Failed", report.lines)  # its last four lines
        self.assertFalse(any("verifies" in line for line in report.lines), report.lines)
        # A verifier that cannot be run refuses, and says so.
        with unittest.mock.patch.object(second_verifier, "PROGRAM", str(FOLDER / "missing")):
            for checks, status in (({"ca_file": ca}, "could not run"), ({}, "extract-data: could not run")):
                verdict = second_verifier.verify(programs["signed"], now=NOW, **checks)
                self.assertEqual((verdict.verifies, verdict.status[:len(status)]), (False, status), verdict)
