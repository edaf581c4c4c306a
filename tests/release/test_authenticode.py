"""The medium tool's signature checks on a small i686 program signed by osslsigncode with the test keys:
an intact signature and what it tells, and each way a shipped program can carry a signature that must
not be believed."""

import hashlib
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest
from datetime import datetime, timezone
from pathlib import Path

from asn1crypto import cms

import signing_keys

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "tools" / "medium"))
import authenticode  # noqa: E402

SIGNING_TIME = 1262349296  # 2010-01-01 12:34:56 UTC


class Signed:
    folder: Path
    keys: signing_keys.TestKeys  # the vendor's CA
    unrelated: signing_keys.TestKeys  # another CA with the same names
    programs: dict[str, bytes]


def setUpModule():
    Signed.folder = folder = Path(tempfile.mkdtemp(prefix="authenticode-"))
    (folder / "tiny.c").write_text("int main(void) { return 0; }\n")
    subprocess.run(["i686-w64-mingw32-gcc", "-O2", "-s", "-o", str(folder / "unsigned.exe"), str(folder / "tiny.c")],
                   check=True)
    Signed.keys = signing_keys.make_test_keys(folder / "keys")
    Signed.unrelated = signing_keys.make_test_keys(folder / "unrelated")

    def sign(name: str, keys: signing_keys.TestKeys, *options: str, time: int = SIGNING_TIME) -> None:
        result = signing_keys.osslsigncode("sign", "-pkcs12", str(keys.path("signer.p12")), "-readpass",
                                           str(keys.password_file), "-h", "sha256", "-time", str(time), *options,
                                           "-in", str(folder / "unsigned.exe"), "-out", str(folder / f"{name}.exe"))
        assert result.returncode == 0, result.stderr

    sign("signed", Signed.keys)
    sign("later", Signed.keys, time=SIGNING_TIME + 1)
    sign("unrelated", Signed.unrelated)
    Signed.start = datetime.now(timezone.utc).replace(microsecond=0)
    with signing_keys.TimestampServer(Signed.keys) as server:
        sign("timestamped", Signed.keys, "-ts", server.url)
    Signed.end = datetime.now(timezone.utc)
    Signed.programs = {path.stem: path.read_bytes() for path in folder.glob("*.exe")}


def tearDownModule():
    shutil.rmtree(Signed.folder, True)


def signer_info(program: bytes) -> cms.SignerInfo:
    return cms.ContentInfo.load(authenticode.signature_der(program))["content"]["signer_infos"][0]


def with_table(program: bytes, table: bytes) -> bytes:
    """The unsigned program followed by table, its directory entry pointing at it."""
    header = struct.unpack_from("<I", program, 0x3C)[0] + 24
    entry = header + 96 + 8 * 4
    start = struct.unpack_from("<I", program, entry)[0] or len(program)
    return program[:entry] + struct.pack("<II", start, len(table)) + program[entry + 8:start] + table


def entry(der: bytes) -> bytes:
    padding = -len(der) % 8
    return struct.pack("<IHH", 8 + len(der) + padding, 0x200, 2) + der + bytes(padding)


def fingerprint(pem: Path) -> str:
    output = subprocess.run(["openssl", "x509", "-in", str(pem), "-noout", "-fingerprint", "-sha256"],
                            capture_output=True, text=True, check=True).stdout
    return output.split("=", 1)[1].strip().replace(":", "").lower()


class Examine(unittest.TestCase):
    def examine(self, program: bytes, **checks) -> authenticode.Examination:
        return authenticode.examine(program, **checks)

    def test_an_intact_signature_names_its_signer_and_times_and_what_was_checked(self):
        ca, pin = Signed.keys.path("ca.pem"), fingerprint(Signed.keys.path("signer.pem"))
        for checks, signer_check in (({}, "not checked"), ({"ca_file": ca}, "chain"),
                                     ({"pinned_sha256": pin.upper()}, "pinned"),
                                     ({"ca_file": ca, "pinned_sha256": pin}, "pinned and chain")):
            with self.subTest(checks=checks):
                result = self.examine(Signed.programs["signed"], **checks)
                self.assertEqual((result.signed, result.problems, result.signer_check), (True, (), signer_check))
        self.assertEqual((result.signer.subject, result.signer.issuer, result.signer.sha256),
                         ("CN=tarvin test signer", "CN=tarvin test CA", pin))
        self.assertEqual(result.signing_time, datetime.fromtimestamp(SIGNING_TIME, timezone.utc))
        self.assertIsNone(result.timestamp)

        timestamped = self.examine(Signed.programs["timestamped"], ca_file=ca)
        self.assertEqual(timestamped.problems, ())
        self.assertTrue(Signed.start <= timestamped.timestamp <= Signed.end, timestamped.timestamp)
        self.assertEqual(timestamped.timestamp_signer.sha256, fingerprint(Signed.keys.path("tsa.pem")))

        unsigned = Signed.programs["unsigned"]
        self.assertEqual(self.examine(unsigned, ca_file=ca), authenticode.Examination(
            False, (), None, None, None, None, "chain"))
        self.assertIsNone(authenticode.signature_der(unsigned))
        extracted = Signed.folder / "signature.der"
        signing_keys.osslsigncode("extract-signature", "-in", str(Signed.folder / "signed.exe"), "-out", str(extracted))
        self.assertEqual(authenticode.signature_der(Signed.programs["signed"]), extracted.read_bytes())

    def test_each_signature_that_must_not_be_believed_is_named(self):
        programs = Signed.programs
        signed, unsigned = programs["signed"], programs["unsigned"]
        der = authenticode.signature_der(signed)

        def flipped(data: bytes, value: bytes) -> bytes:
            at = data.index(value) + len(value) // 2
            return data[:at] + bytes([data[at] ^ 1]) + data[at + 1:]

        # The unrelated key's signature with the vendor's certificate in place of its own.
        swapped = cms.ContentInfo.load(authenticode.signature_der(programs["unrelated"]))
        swapped["content"]["certificates"] = cms.ContentInfo.load(der)["content"]["certificates"]
        swapped["content"]["signer_infos"][0]["sid"] = signer_info(signed)["sid"]
        # A timestamp taken from another signature of the same program.
        replayed = cms.ContentInfo.load(authenticode.signature_der(programs["later"]))
        timestamp = signer_info(programs["timestamped"])["unsigned_attrs"]
        replayed["content"]["signer_infos"][0]["unsigned_attrs"] = timestamp
        # A changed program whose new digest replaces the old in the signed content, the signed attributes
        # (and so the signature value) left as they were.
        changed = unsigned[:0x400] + bytes([unsigned[0x400] ^ 1]) + unsigned[0x401:]

        def digest(program: bytes) -> bytes:
            header = struct.unpack_from("<I", program, 0x3C)[0] + 24
            checksum, entry_at = header + 64, header + 96 + 8 * 4
            return hashlib.sha256(program[:checksum] + program[checksum + 4:entry_at] + program[entry_at + 8:]).digest()

        redigested = with_table(changed, entry(der.replace(digest(unsigned), digest(changed))))
        token = timestamp[0]["values"][0]["content"]["signer_infos"][0]
        misaligned = with_table(unsigned + b"\0" * 4, entry(der))
        inside = with_table(unsigned[:-16], entry(der))
        other_ca, other_pin = Signed.unrelated.path("ca.pem"), fingerprint(Signed.keys.path("other.pem"))
        signer_pin = fingerprint(Signed.keys.path("signer.pem"))
        cases = [
            ("a flipped byte of the RSA value", flipped(signed, signer_info(signed)["signature"].native), {},
             "does not verify: its value was not made by the key"),
            ("a changed byte of the program", signed[:0x400] + bytes([signed[0x400] ^ 1]) + signed[0x401:], {},
             "the program changed after signing"),
            ("the program's new digest in the signed content", redigested, {}, "do not cover the program's digest"),
            ("another key's signature with the vendor's certificate", with_table(unsigned, entry(swapped.dump(True))),
             {}, "does not verify: its value was not made by the key"),
            ("a flipped byte of the timestamp's signature", flipped(programs["timestamped"], token["signature"].native),
             {}, "the timestamp does not verify"),
            ("a timestamp of another signature", with_table(unsigned, entry(replayed.dump(True))), {},
             "the timestamp does not verify: it certifies the time of another signature"),
            ("data in the entry after the signature", with_table(unsigned, entry(der + b"appended")), {},
             "data appended to the certificate table: its entry holds 8 bytes"),
            ("data after the table", signed + b"tail", {}, "data appended to the certificate table: 4 bytes follow"),
            ("a second entry", with_table(unsigned, entry(der) * 2), {}, "holds more than one entry"),
            ("a table off the 8-byte grid", misaligned, {}, "not where Authenticode puts it", "changed after signing"),
            ("a table over the last section", inside, {}, "not where Authenticode puts it", "changed after signing"),
            ("an unrelated CA's signer", programs["unrelated"], {"ca_file": Signed.keys.path("ca.pem")},
             "does not lead to the trusted certificates in ca.pem"),
            ("the vendor's signer under another CA", signed, {"ca_file": other_ca}, "does not lead to the trusted"),
            ("a signer other than the pinned one", signed, {"pinned_sha256": other_pin},
             f"the signer is not the expected one: its certificate's SHA-256 is {signer_pin}"),
        ]
        for name, program, checks, *problems in cases:
            with self.subTest(name):
                result = self.examine(program, **checks)
                self.assertTrue(result.signed)
                self.assertEqual(len(result.problems), len(problems), result.problems)
                for problem, found in zip(problems, result.problems):
                    self.assertIn(problem, found)
                if "timestamp" in name:
                    self.assertEqual((result.timestamp, result.timestamp_signer), (None, None))


class Certificates(unittest.TestCase):
    def test_pins_and_signing_certificates(self):
        signer = Signed.keys.path("signer.pem")
        expected = fingerprint(signer)
        der = Signed.folder / "signer.der"
        subprocess.run(["openssl", "x509", "-in", str(signer), "-outform", "DER", "-out", str(der)], check=True)
        colons = ":".join(expected[i:i + 2] for i in range(0, 64, 2)).upper()
        for value in (colons, str(signer), str(der)):
            self.assertEqual(authenticode.signer_pin(value), expected, value)
        for value in (expected[:-1], str(Signed.keys.path("ca.cnf")), str(Signed.folder / "missing.pem")):
            self.assertRaises(ValueError, authenticode.signer_pin, value)

        now = datetime(2026, 1, 1, tzinfo=timezone.utc)
        cases = {("signer", now): [], ("expired", now): ["expired on 2001-01-01"],
                 ("signer", datetime(1999, 12, 31, tzinfo=timezone.utc)): ["is not valid before 2000-01-01"],
                 ("server", now): ["is not for code signing"]}
        for (name, when), fragments in cases.items():
            problems = authenticode.signing_certificate_problems(Signed.keys.path(f"{name}.pem").read_bytes(), when)
            self.assertEqual(len(problems), len(fragments), problems)
            for fragment, problem in zip(fragments, problems):
                self.assertIn(fragment, problem)
