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

import build
import certificate_table
import payload
import signers
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


def check_medium(*arguments: str, repo: Path = REPO_ROOT) -> subprocess.CompletedProcess:
    env = {k: v for k, v in os.environ.items() if k not in ("RELEASE_BUILD_DIR", "SOURCE_DATE_EPOCH")}
    return subprocess.run(["bash", str(repo / "scripts" / "check-medium"), *arguments], env=env,
                          capture_output=True, text=True, timeout=1200)


def last_line(result: subprocess.CompletedProcess) -> str:
    return result.stdout.rstrip("\n").rsplit("\n", 1)[-1]


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
        signature = certificate_table.signature_der(launcher)
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

    def test_without_a_payload_the_signed_payload_list_vouches_for_every_file(self):
        ca = str(Keys.keys.path("ca.pem"))
        genuine = check_medium("--ca", ca, str(SignedMedia.file_signed))
        self.assertEqual(genuine.returncode, 0, genuine.stdout + genuine.stderr[-3000:])
        self.assertIn("same: vorncopy/Dao350.dll (as the payload list in the signed setup.exe names it, in every name"
                      " tree)", genuine.stdout)
        self.assertNotIn("not checked", genuine.stdout)
        self.assertRegex(last_line(genuine), rf"^{SignedMedia.file_signed}: the same medium as commit \w+ makes"
                         r" \(version 1.00\); setup.exe signed by CN=tarvin test signer \(signer checked: chain\); its 6"
                         r" payload file\(s\) as its signed payload list names them$")

        # A flipped byte in each payload file, and a file added with the image writer: made again from its own
        # files, only the list in the signed program tells them from the vendor's.
        content = SignedMedia.file_signed.read_bytes()
        files = {path: entry for path, entry in medium_image.image(SignedMedia.file_signed).trees[medium_image.ROCK_RIDGE]
                 .items() if path and not entry.is_folder and payload.is_payload_file(path)}
        self.assertEqual(len(files), 6)
        flipped = {}
        for number, (path, entry) in enumerate(sorted(files.items())):
            start, length = entry.extents[0]
            medium = bytearray(content)
            medium[start + length // 2] ^= 0x01
            flipped[path] = medium_image.tampered(self.folder / f"flipped-{number}.iso", bytes(medium))
        extra = self.folder / "extra.dll"
        extra.write_bytes(b"MZ a component the vendor never shipped")
        added = self.folder / "added.iso"
        subprocess.run(["xorriso", "-no_rc", "-indev", str(SignedMedia.file_signed), "-outdev", f"stdio:{added}",
                        "-joliet", "on", "-compliance", "joliet_long_names", "-map", str(extra), "/vorncopy/extra.dll",
                        "-commit"], check=True, capture_output=True)
        medium_image.read_checked(added)
        media = [*flipped.values(), added]
        result = check_medium("--ca", ca, *map(str, media))
        self.assertEqual(result.returncode, 1, result.stdout + result.stderr[-3000:])
        reports = self.verdicts(result.stdout, media)
        for path, image in flipped.items():
            with self.subTest(flipped=path):
                report = reports[image.name]
                self.assertIn(f"differs: {payload.windows_name(path)} holds other bytes than the payload list says",
                              report)
                self.assertIn("(Rock Ridge, Joliet names)", report)
                self.assertRegex(report, r"holds no file that the payload list names .*\(ISO 9660 names\)")
                # The commit's setup.exe lists the changed file as the medium holds it, so it differs too, and
                # says why, through every tree.
                for program in ("setup.exe (Rock Ridge", "setup.exe (Joliet", "SETUP.EXE (ISO 9660"):
                    self.assertIn(f"differs: {program} names, though the commit's was built with a payload list of"
                                  " the shipped medium's own files)", report)
                self.assertRegex(report, rf"{image.name}: \d+ difference\(s\) from the medium commit")
        self.assertIn("differs: vorncopy\\extra.dll is not named by the payload list (Rock Ridge, Joliet names)",
                      reports[added.name])
        self.assertIn("differs: VORNCOPY\\EXTRA.DLL holds no file that the payload list names", reports[added.name])

    def test_without_a_payload_files_are_not_checked_and_another_signer_differs(self):
        result = check_medium("--signer-sha256", str(Keys.keys.path("other.pem")), str(SignedMedia.timestamped))
        self.assertEqual(result.returncode, 1, result.stdout + result.stderr[-3000:])
        self.assertIn("not checked: vorncopy/Dao350.dll (taken from the medium itself; give --payload)", result.stdout)
        self.assertRegex(result.stdout, r"differs: the signature of setup.exe: .*signer")
        self.assertIn("timestamp 20", result.stdout)

    def test_a_signer_that_nothing_checked_is_no_full_pass(self):
        # The commit lists no signers, and neither --ca nor --signer-sha256 is given: the program re-signed
        # with anyone's key would give these same bytes.
        partial = check_medium("--payload", str(SignedMedia.payload), str(SignedMedia.token_signed))
        self.assertEqual(partial.returncode, 3, partial.stdout + partial.stderr[-3000:])
        self.assertIn("same: the whole image, byte for byte", partial.stdout)
        self.assertIn("the signature of setup.exe is intact, but its signer was not checked", partial.stdout)
        self.assertRegex(last_line(partial), rf"^{SignedMedia.token_signed}: the same as commit \w+ makes \(version"
                         r" 1.00\), except what was not checked: the signer of setup.exe \(give --ca FILE or"
                         r" --signer-sha256, or list its certificate in the commit's release/signers.sha256\)$")


class VendorHistory(unittest.TestCase):
    """A clone of the repository whose HEAD commits the test signer's fingerprint to release/signers.sha256,
    and whose object store also holds a commit of a branch deleted since, with a make-medium of its own."""

    @classmethod
    def setUpClass(cls):
        SignedMedia.setUpClass()
        cls.folder = Keys.folder / "history"
        cls.clone = cls.folder / "clone"
        cls.marker = cls.folder / "foreign-code-ran.txt"
        subprocess.run(["git", "clone", "--quiet", "--shared", str(REPO_ROOT), str(cls.clone)], check=True)
        base = cls.git("rev-parse", "HEAD")
        # Someone else's commit, as a fetched pull request leaves it: its make-medium and medium program
        # would copy the shipped image to the output; here they leave a mark and stop.
        cls.git("checkout", "--quiet", "-b", "fetched")
        make_medium = cls.clone / "scripts" / "make-medium"
        make_medium.write_text(f"#!/usr/bin/env bash\necho make-medium >> '{cls.marker}'\nexit 1\n")
        program = cls.clone / "tools" / "medium" / "medium.py"
        program.write_text(f"open({str(cls.marker)!r}, 'a').write('medium.py\\n')\n" + program.read_text())
        cls.git("commit", "--quiet", "--all", "--message", "Copies the shipped image")
        cls.foreign = cls.git("rev-parse", "HEAD")
        cls.git("checkout", "--quiet", "-")
        cls.git("branch", "--quiet", "--delete", "--force", "fetched")
        cls.git("tag", "v9.9.9", cls.foreign)  # a fetch brings a remote's tags along
        # The vendor's pins, committed at the time of the commit below it, so that a medium made below it
        # and a medium made here are alike but for the commit they name and where they name it.
        pins = cls.clone / "release" / "signers.sha256"
        pins.parent.mkdir()
        fingerprint = signers.signer_pin(str(Keys.keys.path("signer.pem")))
        pins.write_text("# The certificates that sign this repository's media: SHA-256, one a line.\n\n"
                        f"{signers.signer_pin(str(Keys.keys.path('tsa.pem')))}\n"
                        f"{':'.join(fingerprint[i:i + 2] for i in range(0, 64, 2)).upper()}  # test signer\n")
        cls.git("add", str(pins))
        date = cls.git("log", "-1", "--format=%cI", base)
        cls.git("commit", "--quiet", "--message", "The signers' fingerprints", GIT_AUTHOR_DATE=date,
                GIT_COMMITTER_DATE=date)
        cls.pinned = cls.git("rev-parse", "HEAD")

    @classmethod
    def git(cls, *args: str, **env: str) -> str:
        identity = dict(GIT_AUTHOR_NAME="tarvin", GIT_AUTHOR_EMAIL="release@tarvin.example",
                        GIT_COMMITTER_NAME="tarvin", GIT_COMMITTER_EMAIL="release@tarvin.example")
        result = subprocess.run(["git", "-C", str(cls.clone), *args], capture_output=True, text=True, check=True,
                                env=dict(os.environ, **identity, **env))
        return result.stdout.strip()

    def at_commit(self, image: Path, commit: str, name: str) -> Path:
        """A copy of the image that names another commit."""
        copy = self.folder / name
        copy.write_bytes(with_application_id(image.read_bytes(), build.Source(commit, (), 0).application_id(False)))
        return copy

    def make(self, output: Path, *options: str) -> subprocess.CompletedProcess:
        env = environment()
        env["RELEASE_BUILD_DIR"] = str(self.clone / "build" / "win32")
        return medium_image.make_medium(SignedMedia.payload, output, *options, repo=self.clone, env=env)

    def test_a_commit_outside_the_vendors_history_is_refused_and_never_run(self):
        image = self.at_commit(SignedMedia.file_signed, self.foreign, "foreign.iso")
        for case, arguments in {"named by the image": [str(image)],
                                "given by hand": ["--commit", "v9.9.9", str(SignedMedia.file_signed)]}.items():
            with self.subTest(case):
                result = check_medium(*arguments, repo=self.clone)
                self.assertEqual(result.returncode, 1, result.stdout + result.stderr[-3000:])
                self.assertIn(f"commit {self.foreign} is not in the vendor's history: it is not reachable from HEAD;",
                              last_line(result))
                self.assertIn("nothing of it was checked out or run", last_line(result))
                self.assertFalse(self.marker.exists(), "the foreign commit's code ran")
        # Trusted by name, the same commit is checked out and its code runs: the mark would have shown it.
        trusted = check_medium("--trust", self.foreign, str(image), repo=self.clone)
        self.assertEqual(trusted.returncode, 1, trusted.stdout + trusted.stderr[-3000:])
        self.assertIn("could not make this medium again", trusted.stdout)
        self.assertEqual(self.marker.read_text(), "make-medium\n")

    def test_the_commits_own_pins_check_the_signer(self):
        refused = self.folder / "other-at-head.iso"
        result = self.make(refused, *file_key("other"))
        self.assertNotEqual(result.returncode, 0, result.stderr)
        other = signers.signer_pin(str(Keys.keys.path("other.pem")))
        self.assertIn(f"the certificate CN=tarvin test other (SHA-256 {other}) is not listed in release/signers.sha256"
                      f" of commit {self.pinned[:12]}", result.stderr)
        self.assertFalse(refused.exists())
        made = self.folder / "made-at-head.iso"
        result = self.make(made, *file_key())
        self.assertEqual(result.returncode, 0, result.stderr)

        result = check_medium("--payload", str(SignedMedia.payload), str(made), repo=self.clone)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr[-3000:])
        self.assertIn(f"the signature of setup.exe verifies; signer checked: pinned, by release/signers.sha256 of"
                      f" commit {self.pinned[:12]}", result.stdout)
        self.assertRegex(last_line(result), rf"^{made}: the same medium as commit {self.pinned[:12]} makes \(version"
                         r" 1.00\); setup.exe signed by CN=tarvin test signer \(signer checked: pinned, by ")

        # Signed with a key the commit does not list (made where no list forbids it), and unsigned.
        unlisted = self.at_commit(SignedMedia.make("other.iso", *file_key("other")), self.pinned, "other.iso")
        unsigned = self.at_commit(SignedMedia.make("unsigned.iso"), self.pinned, "unsigned.iso")
        media = [made, unlisted, unsigned]
        result = check_medium(*map(str, media), repo=self.clone)
        self.assertEqual(result.returncode, 1, result.stdout + result.stderr[-3000:])
        reports = CheckedMedia.verdicts(result.stdout, media)
        # Its payload files are vouched for by the list in the program that the pinned signer signed.
        self.assertRegex(reports[made.name].rsplit("\n", 1)[-1], r"the same medium as commit \w+ makes \(version"
                         r" 1.00\); setup.exe signed by CN=tarvin test signer \(signer checked: pinned, by release/"
                         r"signers.sha256 of commit \w+\); its 6 payload file\(s\) as its signed payload list names them$")
        self.assertIn(f"differs: the signature of setup.exe: its signer (CN=tarvin test other) is none of those that"
                      f" release/signers.sha256 of commit {self.pinned[:12]} lists: its certificate's SHA-256 is {other}",
                      reports[unlisted.name])
        self.assertIn(f"differs: setup.exe is unsigned, though a signer was asked for (release/signers.sha256 of commit"
                      f" {self.pinned[:12]})", reports[unsigned.name])
        for image in (unlisted, unsigned):
            self.assertRegex(reports[image.name], rf"{image.name}: \d+ difference\(s\) from the medium commit")


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
        latin1_secret = self.folder / "latin1.txt"
        latin1_secret.write_bytes("pass phrase é\n".encode("latin-1"))
        cases = {
            "a password file that is no UTF-8": (["--pkcs12", str(Keys.keys.path("signer.p12")), "--password-file",
                                                  str(latin1_secret)], {}, r"the first line of .*latin1\.txt is not UTF-8"),
            "a PIN that is no UTF-8": (token_key(), {"SIGNING_PIN": "\udce9" + PIN}, r"SIGNING_PIN is not UTF-8"),
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
