"""Signed media: make-medium signs setup.exe with a key in a PKCS#12 file or on a PKCS#11 token (SoftHSM2),
optionally timestamped; osslsigncode verifies the result against the test CA; the PE check accepts it;
check-medium matches it against the commit; and every refused key leaves the previous image in place.
All with real keys made by openssl (signing_keys.py), no stand-ins.
"""

import datetime
import os
import shutil
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

import medium_image
import signing_keys
from asn1crypto import cms

import authenticode
import build
from signing_keys import KEY_URI, PASSWORD, PIN, SOFTHSM_MODULE

REPO_ROOT = medium_image.REPO_ROOT
RELEASE_BUILD = Path(os.environ.get("RELEASE_BUILD_DIR", REPO_ROOT / "build" / "win32"))
CHECK_PE = REPO_ROOT / "tests" / "pe" / "check_pe.py"
HARNESS = REPO_ROOT / "tests" / "ui" / "harness.py"
COMMITTED = datetime.datetime.fromtimestamp(int(build.git("log", "-1", "--format=%ct").stdout), datetime.timezone.utc)
TRUST_CHECK = Path(os.environ.get("UI_WINDOWS_BUILD", REPO_ROOT / "build" / "win64")) / "tools" / "trust_check" / "trust_check.exe"


class Keys:
    """The test CA, its certificates and a token, made once for the module."""

    folder: Path
    keys: signing_keys.TestKeys
    token: signing_keys.SoftToken

    @classmethod
    def make(cls) -> None:
        cls.folder = Path(tempfile.mkdtemp(prefix="signing-"))
        cls.keys = signing_keys.make_test_keys(cls.folder / "keys")
        cls.token = signing_keys.SoftToken(cls.folder / "token", cls.keys)


def setUpModule():
    Keys.make()


def tearDownModule():
    shutil.rmtree(Keys.folder, True)


def environment(**extra: str) -> dict:
    env = {k: v for k, v in Keys.token.env.items() if k not in ("SIGNING_PASSWORD", "SIGNING_PIN")}
    # The commit's own time, as check-medium makes the media again.
    env.pop("SOURCE_DATE_EPOCH", None)
    env.update(RELEASE_BUILD_DIR=str(RELEASE_BUILD), **extra)
    return env


def file_key(name: str = "signer") -> list[str]:
    return ["--pkcs12", str(Keys.keys.path(f"{name}.p12")), "--password-file", str(Keys.keys.password_file)]


def token_key(certificate: str = "signer", module: Path = SOFTHSM_MODULE) -> list[str]:
    return ["--pkcs11-module", str(module), "--pkcs11-key", KEY_URI, "--certificate", str(Keys.keys.path(f"{certificate}.pem"))]


def verify(program: Path) -> subprocess.CompletedProcess:
    ca = str(Keys.keys.path("ca.pem"))
    return signing_keys.osslsigncode("verify", "-CAfile", ca, "-TSA-CAfile", ca, "-in", str(program))


def check_pe(program: Path) -> subprocess.CompletedProcess:
    return subprocess.run([sys.executable, str(CHECK_PE), str(program), "--arch", "i686", "--signed"],
                          capture_output=True, text=True)


def check_medium(*arguments: str) -> subprocess.CompletedProcess:
    env = {k: v for k, v in os.environ.items() if k not in ("RELEASE_BUILD_DIR", "SOURCE_DATE_EPOCH")}
    return subprocess.run(["bash", str(REPO_ROOT / "scripts" / "check-medium"), *arguments], env=env,
                          capture_output=True, text=True, timeout=1200)


class SignedMedia(unittest.TestCase):
    """Media signed with the file key, with the token (PIN from the environment) and with the file key
    and a timestamp server behind one that does not answer."""

    @classmethod
    def setUpClass(cls):
        if "file_signed" in cls.__dict__:  # made already for CheckedMedia
            return
        cls.folder = Keys.folder / "media"
        cls.payload = cls.folder / "payload"
        medium_image.lay_out_payload(cls.payload)
        # The password through a pipe, as from a password manager (--password-file <(pass show ...)), in a
        # line saved on Windows.
        read_end, write_end = os.pipe()
        os.write(write_end, f"{PASSWORD}\r\n".encode())
        os.close(write_end)
        try:
            cls.file_signed = cls.make("file.iso", "--pkcs12", str(Keys.keys.path("signer.p12")), "--password-file",
                                       f"/dev/fd/{read_end}", pass_fds=(read_end,))
        finally:
            os.close(read_end)
        cls.token_signed = cls.make("token.iso", *token_key(), SIGNING_PIN=PIN)
        with signing_keys.TimestampServer(Keys.keys) as server:
            cls.timestamped = cls.make("timestamped.iso", "--pkcs12", str(Keys.keys.path("signer.p12")),
                                       "--timestamp-url", signing_keys.unused_local_url(), "--timestamp-url", server.url,
                                       "--description", "tarvin 安装程序", "--url", "https://tarvin.example/",
                                       SIGNING_PASSWORD=PASSWORD)
            cls.timestamp_requests = server.requests

    @classmethod
    def make(cls, name: str, *options: str, pass_fds: tuple[int, ...] = (), **env: str) -> Path:
        image = cls.folder / name
        result = medium_image.make_medium(cls.payload, image, *options, env=environment(**env), pass_fds=pass_fds)
        if result.returncode != 0:
            raise AssertionError(f"make-medium {' '.join(options)} failed:\n{result.stderr}")
        return image

    def launcher(self, image: Path) -> Path:
        return medium_image.extract(image, Path(tempfile.mkdtemp(dir=self.folder))) / "setup.exe"

    def test_signatures_verify_against_the_test_ca_with_the_source_date_as_signing_time(self):
        for image in (self.file_signed, self.token_signed, self.timestamped):
            with self.subTest(image=image.name):
                result = verify(self.launcher(image))
                self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
                self.assertIn("Signature verification: ok", result.stdout)
                self.assertRegex(result.stdout, r"Message digest algorithm\s*: SHA256")
                self.assertIn(f"Signing time: {COMMITTED:%b} {COMMITTED.day:2} {COMMITTED:%H:%M:%S %Y} GMT", result.stdout)
                self.assertIn("Subject: /CN=tarvin test signer", result.stdout)
        self.assertIn("Text description: tarvin\n", verify(self.launcher(self.file_signed)).stdout)

    def test_timestamp_comes_from_the_first_server_that_answers_with_the_given_description_and_url(self):
        result = verify(self.launcher(self.timestamped))
        self.assertIn("Timestamp Server Signature verification: ok", result.stdout)
        self.assertIn("Subject: /CN=tarvin test tsa", result.stdout)
        self.assertIn("Text description: tarvin 安装程序", result.stdout)
        self.assertIn("URL description: https://tarvin.example/", result.stdout)
        self.assertEqual(self.timestamp_requests, 1)
        self.assertIn("Timestamp is not available", verify(self.launcher(self.file_signed)).stdout)

    def test_the_same_key_gives_the_same_bytes_from_a_file_or_a_token(self):
        self.assertEqual(self.file_signed.read_bytes(), self.token_signed.read_bytes())

    def test_one_changed_byte_breaks_verification(self):
        program = self.launcher(self.file_signed)
        data = bytearray(program.read_bytes())
        data[0x1000] ^= 0x01  # code, covered by the digest
        program.write_bytes(bytes(data))
        result = verify(program)
        self.assertNotEqual(result.returncode, 0)
        self.assertRegex(result.stdout + result.stderr, r"(?i)message digest mismatch|signature verification: failed")

    def test_pe_check_accepts_the_signed_launcher_and_names_another_digest(self):
        program = self.launcher(self.token_signed)
        result = check_pe(program)
        self.assertEqual(result.returncode, 0, result.stdout)
        self.assertEqual(check_pe(RELEASE_BUILD / "src" / "setup.exe").returncode, 1, "--signed wants a signature")
        sha1 = self.folder / "sha1.exe"
        signed = signing_keys.osslsigncode("sign", "-pkcs12", str(Keys.keys.path("signer.p12")), "-readpass",
                                           str(Keys.keys.password_file), "-h", "sha1", "-in",
                                           str(RELEASE_BUILD / "src" / "setup.exe"), "-out", str(sha1))
        self.assertEqual(signed.returncode, 0, signed.stderr)
        failures = [line for line in check_pe(sha1).stdout.splitlines() if line.startswith("FAIL")]
        self.assertTrue(failures)
        self.assertTrue(all("SHA-1" in line for line in failures), failures)

    def test_windows_trust_check_accepts_the_signed_launcher_and_finds_a_changed_byte(self):
        # Wine's WinVerifyTrust computes the program's digest and checks the signature itself, as Windows
        # does. Its chain policy rejects an untrusted root but not a chain that ends at an unknown issuer,
        # nor expired or non-code-signing certificates, so the test CA's part is left to osslsigncode.
        signed = self.launcher(self.file_signed)
        changed = signed.with_name("changed.exe")
        data = bytearray(signed.read_bytes())
        data[0x1000] ^= 0x01
        changed.write_bytes(bytes(data))
        root = self.folder / "ca.cer"
        subprocess.run(["openssl", "x509", "-in", str(Keys.keys.path("ca.pem")), "-outform", "DER", "-out", str(root)],
                       check=True)

        def windows_path(path: Path) -> str:
            return "Z:" + str(path).replace("/", "\\")

        programs = {"signed": signed, "changed": changed, "unsigned": RELEASE_BUILD / "src" / "setup.exe"}
        result = subprocess.run([sys.executable, str(HARNESS), "run-windows-tests", str(TRUST_CHECK), windows_path(root),
                                 *map(windows_path, programs.values())], capture_output=True, text=True, timeout=300)
        results = dict(line.split(" ", 1)[::-1] for line in result.stdout.splitlines() if " " in line)
        self.assertEqual({name: results.get(windows_path(path)) for name, path in programs.items()},
                         {"signed": "00000000", "changed": "80096010", "unsigned": "800B0100"},
                         result.stdout + result.stderr)  # TRUST_E_BAD_DIGEST, TRUST_E_NOSIGNATURE


def joliet_swap(image: bytes, program: bytes) -> bytes:
    """The image with other bytes appended and the Joliet record of setup.exe (what Windows runs) pointing
    at them, while the Rock Ridge and ISO 9660 records still point at the signed program."""
    medium = bytearray(image)
    medium += bytes(-len(medium) % 2048)
    sector = len(medium) // 2048
    medium += program + bytes(-len(program) % 2048)
    with tempfile.NamedTemporaryFile() as file:
        file.write(image)
        file.flush()
        root_start, root_length = medium_image.image(Path(file.name)).trees[medium_image.JOLIET][""].extents[0]
    record = medium.index("setup.exe".encode("utf-16-be"), root_start, root_start + root_length) - 33
    medium[record + 2 : record + 10] = sector.to_bytes(4, "little") + sector.to_bytes(4, "big")
    return bytes(medium)


def with_application_id(image: bytes, application_id: str) -> bytes:
    """The image with another application identifier in its primary volume descriptor."""
    medium = bytearray(image)
    medium[16 * 2048 + 574 : 16 * 2048 + 702] = application_id.encode("ascii").ljust(128)
    return bytes(medium)


class CheckedMedia(unittest.TestCase):
    """check-medium against the genuine signed media of SignedMedia and copies tampered as an attacker
    would: each is named as different, by file and name tree, and a genuine one is the same."""

    @classmethod
    def setUpClass(cls):
        SignedMedia.setUpClass()
        cls.media = SignedMedia
        cls.folder = Keys.folder / "checked"
        cls.folder.mkdir()
        genuine = SignedMedia.file_signed.read_bytes()
        program = medium_image.image(SignedMedia.file_signed)
        launcher = program.read(program.trees[medium_image.JOLIET]["setup.exe"])
        other = bytearray(launcher)
        other[0x1000] ^= 0x01  # code, covered by the digest
        signature = authenticode.signature_der(launcher)
        value = cms.ContentInfo.load(signature)["content"]["signer_infos"][0]["signature"].native
        damaged = bytearray(genuine)
        damaged[genuine.index(value) + 10] ^= 0x01
        commit = build.parse_application_id(program.application_id).commit
        cls.tampered = {
            "joliet-swap.iso": joliet_swap(genuine, bytes(other)),
            "damaged-signature.iso": bytes(damaged),
            "uncommitted.iso": with_application_id(genuine, build.Source(commit, ("x",), 0).application_id(True)),
        }
        for name, content in cls.tampered.items():
            medium_image.tampered(cls.folder / name, content)

    @staticmethod
    def verdicts(output: str, media: list[Path]) -> dict[str, str]:
        """Each medium's report, from its heading to its verdict, by file name."""
        reports = {}
        for medium in media:
            start = output.index(f"{medium} against commit")
            end = output.index("\n", output.index(f"\n{medium}: ", start) + 1)
            reports[medium.name] = output[start:end]
        return reports

    def test_genuine_media_are_the_same_and_tampered_ones_are_named(self):
        media = [SignedMedia.file_signed, *(self.folder / name for name in self.tampered)]
        result = check_medium("--payload", str(SignedMedia.payload), "--ca", str(Keys.keys.path("ca.pem")),
                              *map(str, media))
        self.assertEqual(result.returncode, 1, result.stdout + result.stderr[-3000:])
        reports = self.verdicts(result.stdout, media)
        genuine = reports[SignedMedia.file_signed.name]
        self.assertIn(f"{SignedMedia.file_signed}: the same medium as commit", genuine)
        self.assertIn("same: the whole image, byte for byte", genuine)
        self.assertIn("signer of setup.exe: CN=tarvin test signer", genuine)
        self.assertIn("signature of setup.exe verifies; signer checked: chain", genuine)
        swapped = reports["joliet-swap.iso"]
        self.assertIn("differs: setup.exe (Joliet names)", swapped)
        self.assertNotIn("differs: setup.exe (Rock Ridge names)", swapped)
        self.assertIn("the signature of setup.exe (Joliet names): the program changed after signing", swapped)
        self.assertRegex(reports["damaged-signature.iso"], r"differs: the signature of setup.exe: .*does not verify")
        self.assertIn("uncommitted changes: no commit makes it", reports["uncommitted.iso"])
        for name in self.tampered:
            self.assertRegex(reports[name], rf"{name}: \d+ difference\(s\) from the medium commit")

    def test_without_a_payload_files_are_not_checked_and_another_signer_differs(self):
        result = check_medium("--signer-sha256", str(Keys.keys.path("other.pem")), str(SignedMedia.timestamped))
        self.assertEqual(result.returncode, 1, result.stdout + result.stderr[-3000:])
        self.assertIn("not checked: vorncopy/Dao350.dll (taken from the medium itself; give --payload)", result.stdout)
        self.assertRegex(result.stdout, r"differs: the signature of setup.exe: .*signer")
        self.assertIn("timestamp 20", result.stdout)
        partial = check_medium(str(SignedMedia.token_signed))
        self.assertEqual(partial.returncode, 3, partial.stdout + partial.stderr[-3000:])
        self.assertIn("the signature of setup.exe is intact, but its signer was not checked", partial.stdout)
        self.assertRegex(partial.stdout, r"the same as commit \w+ makes \(version 1.00\), except 6 payload file\(s\) not checked")


class RefusedKeys(medium_image.OverPreviousImage):
    """Each failure is named, and neither an image nor a scratch file is written."""

    def make(self, *options: str, **env: str):
        return medium_image.make_medium(self.payload, self.output, *options, env=environment(**env))

    def assertRefused(self, result, message: str) -> None:
        self.assertNothingWritten(result)
        self.assertRegex(result.stderr, message)

    def test_each_refused_key_is_named(self):
        wrong_secret = self.folder / "wrong.txt"
        wrong_secret.write_text("not the secret\n")
        cases = {
            "wrong password": (["--pkcs12", str(Keys.keys.path("signer.p12")), "--password-file", str(wrong_secret)],
                               {}, r"the password does not open .*signer\.p12"),
            "wrong PIN": (token_key(), {"SIGNING_PIN": "111111"}, r"the token refused the PIN"),
            "missing module": (token_key(module=self.folder / "missing-pkcs11.so"), {"SIGNING_PIN": PIN},
                               r"the PKCS#11 module .*missing-pkcs11\.so does not exist"),
            "certificate of another key": (token_key(certificate="other"), {"SIGNING_PIN": PIN},
                                           r"the certificate .*other\.pem does not belong to the key"),
            "certificate for TLS only": (file_key("server"), {}, r"not for code signing"),
            "expired certificate": (file_key("expired"), {}, r"expired on Jan  1 00:00:00 2001 GMT"),
            "unreachable timestamp server": ([*file_key(), "--timestamp-url", signing_keys.unused_local_url()], {},
                                             r"no timestamp server answered .*--allow-no-timestamp"),
        }
        for case, (options, env, message) in cases.items():
            with self.subTest(case):
                self.assertRefused(self.make(*options, **env), message)

    def test_without_an_answering_timestamp_server_the_vendor_may_allow_an_untimestamped_signature(self):
        result = self.make(*file_key(), "--timestamp-url", signing_keys.unused_local_url(), "--allow-no-timestamp")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn("signing without a timestamp", result.stderr)
        program = medium_image.extract(self.output, self.folder / "extracted") / "setup.exe"
        verified = verify(program)
        self.assertIn("Signature verification: ok", verified.stdout)
        self.assertIn("Timestamp is not available", verified.stdout)


if __name__ == "__main__":
    unittest.main()
