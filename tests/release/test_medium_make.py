"""make-medium in-process, with no build: a commit of a small repository of its own, a stand-in setup.exe
that carries the payload list it was given, the image written by xorriso and read back, signing with the
test keys, the signers' pins, the command line, and the release build's steps run against a stand-in
cmake. The keys are made once per process (a second or two); every case then takes well under a second."""

from __future__ import annotations

import atexit
import contextlib
import hashlib
import io
import os
import shutil
import stat
import subprocess
import tempfile
import unittest
from datetime import datetime, timezone
from pathlib import Path
from unittest import mock

import medium_image
import signing_keys
from test_medium_units import program_with_resources

import authenticode
import build
import certificate_table
import iso9660
import make
import medium
import payload
import payload_list
import signers
import signing
import toolchain

DATE = 1262349296  # 2010-01-01 12:34:56 UTC: the commit's date
KEYS: signing_keys.TestKeys | None = None
FOLDER: Path | None = None
REPO: Path | None = None  # a commit tagged v1.2.3, which no case changes
COMMIT: str | None = None


def setUpModule():
    # Once per process: a run that forks for each case finds the keys already made.
    global KEYS, FOLDER, REPO, COMMIT
    if KEYS is None:
        FOLDER = Path(tempfile.mkdtemp(prefix="medium-make-"))
        atexit.register(shutil.rmtree, FOLDER, True)
        KEYS = signing_keys.make_test_keys(FOLDER / "keys")
        REPO = FOLDER / "repo"
        COMMIT = commit_repository(REPO, {"a.txt": b"a"}, "v1.2.3")


def fingerprint(name: str) -> str:
    return authenticode.describe(authenticode.load_certificate(KEYS.path(f"{name}.pem").read_bytes())).sha256


def pkcs12_key(certificate: str = "signer", **fields) -> signing.Key:
    return signing.Key("pkcs12", pkcs12=KEYS.path(f"{certificate}.p12"), **{"secret": signing_keys.PASSWORD, **fields})


def git(repo: Path, *arguments: str) -> str:
    env = {**os.environ, "GIT_COMMITTER_DATE": f"@{DATE} +0000", "GIT_AUTHOR_DATE": f"@{DATE} +0000"}
    return subprocess.run(["git", "-C", str(repo), "-c", "user.name=dev", "-c", "user.email=dev@example.com",
                           *arguments], check=True, capture_output=True, text=True, env=env).stdout.strip()


def commit_repository(repo: Path, files: dict[str, bytes], tag: str | None = None) -> str:
    """A repository whose one commit holds files; its id."""
    repo.mkdir(parents=True)
    git(repo, "init", "-q")
    for name, content in files.items():
        (repo / name).parent.mkdir(parents=True, exist_ok=True)
        (repo / name).write_bytes(content)
    git(repo, "add", "-A")
    git(repo, "commit", "-q", "-m", "one")
    if tag:
        git(repo, "tag", tag)
    return git(repo, "rev-parse", "HEAD")


class StandIn:
    """What build.build_release does for make, without a build: a program that carries the list it is given
    (or the list that carried says), recorded call by call."""

    def __init__(self, carried=None, then=lambda: None):
        self.carried, self.then, self.calls = carried, then, []

    def __call__(self, folder: Path, log: Path, version, verbose, list_file: Path) -> Path:
        self.calls.append((folder, version, verbose, list_file, list_file.read_bytes()))
        listed = list_file.read_bytes() if self.carried is None else self.carried
        resources = {10: {301: {1033: listed}}} if listed else {3: {1: {1033: b"an icon"}}}
        program = folder / "src" / "listed" / "setup.exe"
        program.parent.mkdir(parents=True, exist_ok=True)
        program.write_bytes(program_with_resources(resources))
        self.then()
        return program


class Medium(unittest.TestCase):
    """A payload, a commit tagged v1.2.3 and an earlier image at the output, which a refusal leaves as it was."""

    PREVIOUS = b"an earlier image"

    def setUp(self):
        self.folder = Path(tempfile.mkdtemp(prefix="medium-make-"))
        self.addCleanup(shutil.rmtree, self.folder, True)
        environment = mock.patch.dict(os.environ)
        environment.start()
        self.addCleanup(environment.stop)
        os.environ.pop("SOURCE_DATE_EPOCH", None)
        self.payload = self.folder / "payload"
        self.files = medium_image.lay_out_payload(self.payload)
        (self.payload / "for the vendor.txt").write_bytes(b"stays off the medium")
        self.out = self.folder / "out"
        self.out.mkdir()
        self.output = self.out / "medium.iso"
        self.output.write_bytes(self.PREVIOUS)
        self.release = self.folder / "builds" / "release" / "win32"  # folders made on the way

    def repository(self, files: dict[str, bytes] | None = None, tag: str | None = "v1.2.3", own: bool = False) -> Path:
        """The shared commit, or one of the case's own that it may change."""
        if files is None and tag == "v1.2.3" and not own:
            self.repo, self.commit = REPO, COMMIT
        else:
            self.repo = self.folder / "repo"
            shutil.rmtree(self.repo, True)
            self.commit = commit_repository(self.repo, files or {"a.txt": b"a"}, tag)
        return self.repo

    def request(self, **fields) -> make.Request:
        return make.Request(self.payload, self.output, release_dir=self.release, **fields)

    def make(self, request: make.Request, builder=None, repo: Path | None = None) -> str:
        """make's log."""
        messages = io.StringIO()
        with contextlib.redirect_stderr(messages):
            make.make(request, repo or self.repo, builder or StandIn())
        return messages.getvalue()

    def assertNothingWritten(self):
        self.assertEqual(self.output.read_bytes(), self.PREVIOUS)
        self.assertEqual(os.listdir(self.out), ["medium.iso"], "no partial image is left")

    def assertRefused(self, error, fragment: str, request: make.Request | None = None, builder=None):
        with self.assertRaises(error) as raised:
            self.make(request or self.request(), builder)
        self.assertIn(fragment, str(raised.exception))
        self.assertNothingWritten()
        return raised.exception


class MakeMedium(Medium):
    def test_the_image_holds_the_payload_the_program_and_autorun_as_windows_reads_them(self):
        self.repository()
        stand_in = StandIn()
        log_file = self.release.parent / "make-medium.log"
        log_file.parent.mkdir(parents=True)
        log_file.write_text("an earlier run's output\n")
        descriptors = len(os.listdir("/proc/self/fd"))
        previous = os.umask(0o002)
        try:
            log = self.make(self.request(volume_label="TARVIN_2", autorun_label="安装光盘"), stand_in)
            self.assertEqual(os.umask(previous), 0o002, "the umask is left as it was")
        finally:
            os.umask(previous)
        self.assertEqual(stat.S_IMODE(self.output.stat().st_mode), 0o664)
        self.assertEqual(len(os.listdir("/proc/self/fd")), descriptors, "every file make opened is closed")
        self.assertEqual(sorted(os.listdir(self.out)), ["medium.iso", "medium.iso.buildinfo"])
        self.assertEqual(toolchain.read_record(self.out / "medium.iso.buildinfo"), toolchain.installed())
        self.assertEqual(stat.S_IMODE((self.out / "medium.iso.buildinfo").stat().st_mode), 0o664)
        self.assertEqual(log.splitlines(), [
            f"==> Leaving out {self.payload / 'for the vendor.txt'}: the medium takes only voabc.txt and vorncopy"
            " from the payload",
            "==> Hashing the payload for setup.exe's payload list",
            f"==> Building the release setup.exe, version 1.2.3, with the payload list of {len(self.files)} file(s)"
            f" ({self.release})",
            f"==> Writing {self.output}", f"==> Writing {self.output}.buildinfo"])

        (folder, version, verbose, list_file, listed), = stand_in.calls
        self.assertEqual((folder, version, verbose, list_file), (self.release, "1.2.3", False,
                                                                 self.release / "medium-payload.list"))
        self.assertEqual(listed, payload_list.render(payload_list.of_payload(payload.find_payload(self.payload))))

        image = iso9660.read_image(self.output)
        self.assertEqual((image.volume_id, image.joliet_volume_id), ("TARVIN_2", "TARVIN_2"))
        self.assertEqual(image.application_id, f"TARVIN SETUP MEDIUM 1.2.3, COMMIT {self.commit.upper()}")
        self.assertEqual(image.volume_created[:14], "20100101123456")
        expected = {**self.files, "setup.exe": (folder / "src" / "listed" / "setup.exe").read_bytes(),
                    "autorun.inf": payload.autorun_inf("安装光盘")}
        when = datetime.fromtimestamp(DATE, timezone.utc)
        for tree in (iso9660.JOLIET, iso9660.ROCK_RIDGE):
            files = image.files(tree)
            self.assertEqual({path: image.read(entry) for path, entry in files.items()}, expected, tree)
        for path, entry in image.trees[iso9660.ROCK_RIDGE].items():
            if path:  # the root's record holds no Rock Ridge fields
                self.assertEqual((entry.mode, entry.owner, entry.group, entry.modified),
                                 (0o40555 if entry.is_folder else 0o100444, 0, 0, when), path)
        log_file = log_file.read_text()
        self.assertTrue(log_file.startswith("$ xorriso "), log_file[:200])
        # xorriso's own report follows its command, from the environment make gave it
        self.assertIn(f"SOURCE_DATE_EPOCH encountered with value {DATE}", log_file)

    def test_refusals_before_anything_is_built_or_written(self):
        self.repository()
        inside = self.payload / "vorncopy" / "medium.iso"
        cases = [
            ("the volume label must be", payload.PayloadError, dict(volume_label="tarvin")),
            ("the autorun label must be", payload.PayloadError, dict(autorun_label="a\nb")),
            ("does not exist", payload.PayloadError, dict(payload=self.folder / "none")),
            ("the folder of", payload.PayloadError, dict(output=self.folder / "none" / "medium.iso")),
            ("is a folder", payload.PayloadError, dict(output=self.out)),
            ("lies inside the payload", payload.PayloadError, dict(output=inside)),
            ("the version must be X.Y.Z", build.BuildError, dict(version="1.2")),
        ]
        for fragment, error, fields in cases:
            with self.subTest(fragment):
                request = self.request()
                for name, value in fields.items():
                    setattr(request, name, value)
                stand_in = StandIn()
                self.assertRefused(error, fragment, request, stand_in)
                self.assertEqual(stand_in.calls, [])
        self.assertFalse(inside.exists())
        (self.payload / "vorncopy" / "a:b").write_bytes(b"")
        self.assertRefused(payload.PayloadError, "a:b: it holds :")
        (self.payload / "vorncopy" / "a:b").unlink()
        self.assertFalse(self.release.exists(), "nothing was built")

    def test_a_name_the_payload_list_cannot_carry_is_refused(self):
        self.repository()
        (self.payload / "vorncopy" / "\udcff.txt").write_bytes(b"a name that is no UTF-8")
        error = self.assertRefused(payload.PayloadError, "the payload list cannot carry the name")
        self.assertTrue(str(error).endswith("rename them; nothing was written"), error)

    def test_a_program_that_carries_another_list_or_none_is_refused(self):
        self.repository()
        other = payload_list.HEADER + b"0" * 64 + b" " + b"0" * 40 + b" 1 voabc.txt\n"
        error = self.assertRefused(build.BuildError, "carries another payload list", builder=StandIn(other))
        self.assertIn("voabc.txt holds", str(error))
        self.assertRefused(build.BuildError, "does not read back: the program carries none", builder=StandIn(b""))

    def test_payload_files_changed_while_the_medium_is_made_are_refused(self):
        self.repository()
        notes = self.payload / "voabc.txt"
        changed = StandIn(then=lambda: notes.write_bytes(notes.read_bytes() + b"!"))
        error = self.assertRefused(build.BuildError, "payload files changed while the medium was made", builder=changed)
        self.assertIn("voabc.txt", str(error))
        self.assertIn("make-medium.log", str(error))

    def test_a_failing_image_writer_leaves_the_output_as_it_was(self):
        self.repository()
        source = build.source(self.repo)
        found = payload.find_payload(self.payload)
        with self.assertRaises(build.BuildError) as raised:
            make.write_image(self.request(), found, self.folder / "missing.exe", source, self.folder,
                             self.folder / "xorriso.log")
        # xorriso's failure alone, without its banner and notes
        self.assertEqual(str(raised.exception), "xorriso could not write the image:\nxorriso : FAILURE : Cannot"
                         f" determine attributes of source file '{self.folder / 'missing.exe'}' : No such file or"
                         " directory")
        self.assertNothingWritten()

    def test_versions_changes_and_the_identifier_that_names_them(self):
        self.repository(own=True)
        cases = [
            # version asked for, uncommitted, changes: version built, identifier's version, marked
            (None, False, False, "1.2.3", "1.2.3", False),
            ("1.00", False, False, None, "1.00", False),
            ("2.0.1", False, False, "2.0.1", "2.0.1", False),
            (None, True, True, "1.2.3", "1.2.3", True),
        ]
        for asked, uncommitted, changes, built, named, marked in cases:
            with self.subTest(asked=asked, uncommitted=uncommitted, changes=changes):
                (self.repo / "new.txt").unlink(missing_ok=True)
                if changes:
                    (self.repo / "new.txt").write_bytes(b"uncommitted")
                stand_in = StandIn()
                log = self.make(self.request(version=asked, uncommitted=uncommitted), stand_in)
                self.assertEqual(stand_in.calls[0][1], built)
                identifier = iso9660.read_image(self.output).application_id
                self.assertEqual(identifier, f"TARVIN SETUP MEDIUM {named}, COMMIT {self.commit.upper()}"
                                 + (build.UNCOMMITTED_MARK if marked else ""))
                self.assertEqual("uncommitted change(s)" in log, marked)
                self.assertEqual(make.summary(self.output)[1].endswith(
                    ", with uncommitted changes: a development medium"), marked)

    def test_uncommitted_changes_are_refused_and_named(self):
        self.repository(own=True)
        for number in range(21):
            (self.repo / f"change{number:02}.txt").write_bytes(b"x")
        error = self.assertRefused(build.BuildError, "the working tree differs from its commit")
        self.assertIn("change19.txt\n  ... and 1 more\n", str(error))
        self.assertNotIn("change20.txt", str(error))
        (self.repo / "change20.txt").unlink()
        error = self.assertRefused(build.BuildError, "the working tree differs from its commit")
        self.assertIn("  change19.txt\ncommit or remove the changes", str(error))
        self.assertEqual(str(error).count("\n  change"), 20)

    def test_a_notes_file_the_launcher_shows_garbled_is_warned_of(self):
        self.repository()
        (self.payload / "voabc.txt").write_bytes("安装".encode())
        self.assertIn("Warning: voabc.txt is UTF-8 without a byte order mark", self.make(self.request()))
        (self.payload / "voabc.txt").write_bytes("安装".encode("gbk"))
        self.assertNotIn("Warning", self.make(self.request()))

    def test_the_summary_names_size_origin_signature_list_and_files(self):
        self.repository()
        self.make(self.request())
        lines = make.summary(self.output)
        self.assertEqual(lines[1], f"  commit {self.commit[:12]}, version 1.2.3")
        self.assertEqual(lines[2:5], ["  setup.exe is not signed", f"  setup.exe carries the payload list of"
                                      f" {len(self.files)} file(s)", "  files, as Windows lists them:"])
        program = (self.release / "src" / "listed" / "setup.exe").read_bytes()
        sizes = {**{path: len(content) for path, content in self.files.items()}, "setup.exe": len(program),
                 "autorun.inf": len(payload.autorun_inf("tarvin"))}
        self.assertEqual(lines[5:], [f"  {sizes[path]:>13,}  {payload.windows_name(path)}" for path in sorted(sizes)])
        found, source = payload.find_payload(self.payload), build.source(self.repo)
        for resources, told in (({3: {1: {1033: b"an icon"}}}, "  setup.exe carries no payload list$"),
                                ({10: {301: {1033: b"TARVIN PAYLOAD LIST 2\nno line\n"}}},
                                 "  setup.exe carries a damaged payload list: line 2 is not ")):
            program = self.folder / "program.exe"
            program.write_bytes(program_with_resources(resources))
            make.write_image(self.request(), found, program, source, self.folder, self.folder / "log")
            self.assertRegex(make.summary(self.output)[3], f"^{told}")
        size = self.output.stat().st_size
        for cd, dvd, fits in ((size, size, "fits on a CD (700 MB)"),
                              (size - 1, size, "warning: larger than a CD (700 MB); it needs a DVD"),
                              (size - 1, size - 1, "warning: larger than a single-layer DVD (4.7 GB)")):
            with mock.patch.object(make, "CD_BYTES", cd), mock.patch.object(make, "DVD_BYTES", dvd):
                self.assertEqual(make.summary(self.output)[0],
                                 f"{self.output}: {size:,} bytes ({size / 1024 / 1024:.1f} MB), {fits}")


class SignedMedium(Medium):
    def program(self) -> bytes:
        return iso9660.read_image(self.output).read(iso9660.read_image(self.output).files(iso9660.JOLIET)["setup.exe"])

    def test_signed_with_the_commit_date_by_a_listed_certificate(self):
        pins = f"# the vendor's certificate\n{fingerprint('other')}\n{fingerprint('signer').upper()}\n".encode()
        self.repository({"release/signers.sha256": pins})
        stand_in = StandIn()
        with signing_keys.TimestampServer(KEYS) as server:
            self.make(self.request(key=pkcs12_key(timestamp_urls=[server.url])), stand_in)
        program = self.program()
        examination = authenticode.examine(program, pinned_sha256=fingerprint("signer"))
        self.assertTrue(examination.signed)
        self.assertEqual(examination.problems, ())
        self.assertEqual(examination.signing_time, datetime.fromtimestamp(DATE, timezone.utc))
        self.assertIsNotNone(examination.timestamp)
        self.assertEqual(certificate_table.layout(program).table, len(stand_in.calls[0][0].joinpath(
            "src", "listed", "setup.exe").read_bytes()))
        lines = make.summary(self.output)
        self.assertTrue(lines[2].startswith("  setup.exe signed by CN=tarvin test signer, timestamped "), lines[2])
        self.assertTrue(lines[2].endswith("; certificate valid until 2099-12-31"), lines[2])

    def test_without_a_timestamp_the_summary_and_the_log_say_so(self):
        self.repository()
        log = self.make(self.request(key=pkcs12_key()))
        self.assertIn("Warning: signed without a timestamp", log)
        self.assertIn("Signing setup.exe (CN=tarvin test signer)", log)
        self.assertIn("not timestamped: trusted only until the certificate expires", make.summary(self.output)[2])

    def test_a_certificate_the_commit_does_not_list_is_refused(self):
        self.repository({"release/signers.sha256": f"{fingerprint('other')}\n".encode()})
        error = self.assertRefused(signing.SigningError, "is not listed in release/signers.sha256 of commit",
                                   self.request(key=pkcs12_key()))
        self.assertIn(fingerprint("signer"), str(error))
        self.assertFalse(self.release.exists(), "nothing was built")
        self.repository({"release/signers.sha256": b"no fingerprint\n"})
        self.assertRefused(signing.SigningError, "not a SHA-256 fingerprint", self.request(key=pkcs12_key()))
        self.repository()
        self.assertRefused(signing.SigningError, "expired on", self.request(key=pkcs12_key("expired")))

    def test_a_shipped_signature_goes_onto_the_program_built(self):
        self.repository()
        self.make(self.request(key=pkcs12_key()))
        shipped = self.folder / "shipped.exe"
        shipped.write_bytes(self.program())
        self.output.unlink()
        self.make(self.request(signature=shipped))
        self.assertEqual(self.program(), shipped.read_bytes())
        unsigned = self.folder / "unsigned.exe"
        unsigned.write_bytes(program_with_resources({3: {1: {1033: b"an icon"}}}))
        self.output.write_bytes(self.PREVIOUS)
        toolchain.record_path(self.output).unlink()  # the earlier medium's, which a refusal leaves as it is
        self.assertRefused(signing.SigningError, "carries no signature to attach", self.request(signature=unsigned))
        unsigned.write_bytes(b"MZ no program")
        self.assertRefused(signing.SigningError, f"{unsigned}: ", self.request(signature=unsigned))


class Signing(unittest.TestCase):
    def setUp(self):
        self.folder = Path(tempfile.mkdtemp(prefix="medium-signing-"))
        self.addCleanup(shutil.rmtree, self.folder, True)
        self.program = self.folder / "setup.exe"
        self.program.write_bytes(program_with_resources({3: {1: {1033: b"an icon" * 50}}}))
        self.signed = self.folder / "signed.exe"
        self.messages = []

    def test_secrets_are_the_first_line_of_a_file_as_utf8_text(self):
        secret = self.folder / "secret"
        for content, expected in ((b"pass word\n", "pass word"), (b"pass\r\nsecond\n", "pass"), (b"pass", "pass"),
                                  ("密码\n".encode(), "密码"), (b"\r\n", None), (b"", None), (b"\xff\n", None)):
            with self.subTest(content):
                secret.write_bytes(content)
                if expected is None:
                    self.assertRaises(signing.SigningError, signing.read_secret, str(secret))
                else:
                    self.assertEqual(signing.read_secret(str(secret)), expected)
        read_end, write_end = os.pipe()
        os.write(write_end, b"from a pipe\n")
        os.close(write_end)
        self.assertEqual(signing.read_secret(f"/dev/fd/{read_end}"), "from a pipe")
        os.close(read_end)
        self.assertRaisesRegex(signing.SigningError, "cannot be read", signing.read_secret, str(self.folder / "none"))

    def test_secrets_of_the_environment_are_taken_out_of_it(self):
        with mock.patch.dict(os.environ, {"SIGNING_PASSWORD": "p", "SIGNING_PIN": "1", "OTHER": "o"}):
            self.assertEqual(signing.take_secrets(), {"SIGNING_PASSWORD": "p", "SIGNING_PIN": "1"})
            self.assertNotIn("SIGNING_PASSWORD", os.environ)
            self.assertNotIn("SIGNING_PIN", os.environ)
            self.assertEqual(os.environ["OTHER"], "o")
            self.assertEqual(signing.take_secrets(), {})
        self.assertEqual(signing.secret_from_environment({"SIGNING_PIN": "246810"}, "SIGNING_PIN"), "246810")
        self.assertRaisesRegex(signing.SigningError, "SIGNING_PIN is not UTF-8", signing.secret_from_environment,
                               {"SIGNING_PIN": "\udcff"}, "SIGNING_PIN")

    def test_a_secret_pipe_is_read_once_and_closed(self):
        with signing.secret_pipe("密码") as (descriptor, path):
            self.assertEqual(path, f"/dev/fd/{descriptor}")
            os.set_blocking(descriptor, False)
            self.assertEqual(os.read(descriptor, 100), "密码".encode())
            self.assertEqual(os.read(descriptor, 100), b"", "the write end is closed")
        self.assertRaises(OSError, os.fstat, descriptor)

    def test_the_signers_certificate_opens_with_its_password_alone(self):
        pem = signing.signer_certificate(pkcs12_key())
        self.assertEqual(authenticode.load_certificate(pem).fingerprint(authenticode.hashes.SHA256()).hex(),
                         fingerprint("signer"))
        self.assertRaisesRegex(signing.SigningError, "the password does not open", signing.signer_certificate,
                               pkcs12_key(secret="wrong"))
        legacy = self.folder / "legacy.p12"
        subprocess.run(["openssl", "pkcs12", "-export", "-legacy", "-in", str(KEYS.path("signer.pem")), "-inkey",
                        str(KEYS.path("signer.key")), "-out", str(legacy), "-passout", "pass:legacy"], check=True)
        self.assertEqual(signing.signer_certificate(signing.Key("pkcs12", pkcs12=legacy, secret="legacy")), pem)
        pem = KEYS.path("signer.pem").read_bytes()
        der = self.folder / "signer.der"
        subprocess.run(["openssl", "x509", "-in", str(KEYS.path("signer.pem")), "-outform", "DER", "-out", str(der)],
                       check=True)
        for certificate in (KEYS.path("signer.pem"), der):
            self.assertEqual(signing.signer_certificate(signing.Key("pkcs11", certificate=certificate)), pem)
        self.assertRaisesRegex(signing.SigningError, "holds no certificate", signing.signer_certificate,
                               signing.Key("pkcs11", certificate=KEYS.password_file))

    def test_only_a_code_signing_certificate_valid_now_is_taken(self):
        self.assertEqual(signing.check_key(pkcs12_key()).sha256, fingerprint("signer"))
        for certificate in ("expired", "server"):
            with self.subTest(certificate):
                with self.assertRaises(signing.SigningError) as raised:
                    signing.check_key(pkcs12_key(certificate))
                self.assertTrue(str(raised.exception).endswith("; nothing was written"))
        # The dates as openssl writes them. Expired and TLS-only certificates are named in test_signing.
        signer = KEYS.path("signer.pem").read_bytes()
        for year, problems in ((2026, []), (1999, ["the certificate (CN=tarvin test signer) is not valid before "
                                                   "Jan  1 00:00:00 2000 GMT"])):
            when = datetime(year, 1, 1, tzinfo=timezone.utc)
            self.assertEqual(signing.signing_certificate_problems(signer, when), problems)
        self.assertEqual(signing.signing_certificate_problems(signer + signer, when),
                         ["no single certificate to check (PEM or DER)"])

    def test_the_signing_time_is_the_source_date_but_never_before_the_certificate(self):
        signer = signing.check_key(pkcs12_key())
        issued = int(signer.not_before.timestamp())
        for date, expected, told in ((issued - 1, issued, True), (issued, issued, False), (DATE, DATE, False)):
            with self.subTest(date):
                self.messages.clear()
                self.assertEqual(signing.signing_time(signer, date, self.messages.append), expected)
                self.assertEqual(len(self.messages), int(told))
        self.messages.clear()
        signing.signing_time(signer, 0, self.messages.append)
        self.assertIn("the signing time is the moment the certificate became valid, 2000-01-01 00:00:00 UTC",
                      self.messages[0])

    def test_a_signature_with_its_description_url_and_time(self):
        key = pkcs12_key(description="tarvin 安装", url="https://example.com/tarvin")
        self.assertFalse(signing.sign(self.program, self.signed, key, DATE, self.messages.append))
        signed = self.signed.read_bytes()
        examination = authenticode.examine(signed)
        self.assertEqual((examination.signed, examination.problems, examination.timestamp), (True, (), None))
        self.assertEqual(examination.signing_time, datetime.fromtimestamp(DATE, timezone.utc))
        self.assertIn(b"https://example.com/tarvin", signed)
        self.assertIn("tarvin 安装".encode(), signed)
        self.assertEqual(self.messages, [])

    def test_timestamps_and_the_servers_that_do_not_answer(self):
        silent = signing_keys.unused_local_url()
        with signing_keys.TimestampServer(KEYS) as server:
            self.assertTrue(signing.sign(self.program, self.signed, pkcs12_key(timestamp_urls=[silent, server.url]),
                                         DATE, self.messages.append))
        self.assertIsNotNone(authenticode.examine(self.signed.read_bytes()).timestamp)
        with self.assertRaises(signing.SigningError) as raised:
            signing.sign(self.program, self.signed, pkcs12_key(timestamp_urls=[silent]), DATE, self.messages.append)
        self.assertIn(f"no timestamp server answered ({silent})", str(raised.exception))
        self.assertFalse(signing.sign(self.program, self.signed, pkcs12_key(timestamp_urls=[silent],
                                                                          allow_no_timestamp=True),
                                      DATE, self.messages.append))
        self.assertEqual(self.messages, [f"No timestamp server answered ({silent}): signing without a timestamp,"
                                         " as allowed"])
        examination = authenticode.examine(self.signed.read_bytes())
        self.assertEqual((examination.signed, examination.timestamp), (True, None))

    def test_a_refused_signature_says_why_in_the_owners_words(self):
        for timestamps in ([], [signing_keys.unused_local_url()]):  # a wrong password is not a silent server
            with self.assertRaises(signing.SigningError) as raised:
                signing.sign(self.program, self.signed, pkcs12_key(secret="wrong", timestamp_urls=timestamps), DATE,
                             self.messages.append)
            self.assertTrue(str(raised.exception).startswith("osslsigncode could not sign setup.exe:\n"),
                            raised.exception)
            self.assertTrue(str(raised.exception).endswith("; nothing was written"))
        key = signing.Key("pkcs11", module=Path("/module.so"), key="01", certificate=Path("cert.pem"))
        for log, told in (("x PIN incorrect", "the token refused the PIN"), ("PIN locked", "the token's PIN is locked"),
                          ("key values mismatch", "the certificate cert.pem does not belong to the key"),
                          ("Unable to load PKCS#11 module", "/module.so cannot be loaded as a PKCS#11 module"),
                          ("object not found", "no key 01 on the tokens of /module.so"),
                          ("private key was not found", "no key 01 on the tokens of /module.so"),
                          ("No matching initialized token", "no key 01 on the tokens of /module.so"),
                          ("Engine \"pkcs11\" set.\nfailed", "osslsigncode could not sign setup.exe:\nfailed")):
            self.assertEqual(signing._failure(key, log), told, log)
        self.assertEqual(signing._failure(pkcs12_key(), "key values mismatch"),
                         f"the certificate in {KEYS.path('signer.p12')} does not belong to the key")

    def test_a_key_on_a_token(self):
        token = signing_keys.SoftToken(self.folder / "token", KEYS)
        with mock.patch.dict(os.environ, SOFTHSM2_CONF=str(token.config)):
            key = signing.Key("pkcs11", module=signing_keys.SOFTHSM_MODULE, key=signing_keys.KEY_URI,
                              certificate=KEYS.path("signer.pem"), secret=signing_keys.PIN)
            self.assertFalse(signing.sign(self.program, self.signed, key, DATE, self.messages.append))
            self.assertEqual(authenticode.examine(self.signed.read_bytes()).signer.sha256, fingerprint("signer"))
            key.secret = "000000"
            self.assertRaisesRegex(signing.SigningError, "^the token refused the PIN; nothing was written$",
                                   signing.sign, self.program, self.signed, key, DATE, self.messages.append)
        with mock.patch.object(signing.subprocess, "run", return_value=subprocess.CompletedProcess([], 0, "", "")):
            self.assertRaisesRegex(signing.SigningError, "engine /nonexistent/pkcs11.so is missing",
                                   signing.pkcs11_engine)

    def test_a_signature_attached_is_the_program_signed_byte_for_byte(self):
        for padding in (b"", b"\0" * 3):  # tables that need padding of the program, and of the entry
            with self.subTest(len(padding)):
                self.program.write_bytes(self.program.read_bytes() + padding)
                signing.sign(self.program, self.signed, pkcs12_key(url="https://e.example/" + "x" * len(padding)),
                             DATE, self.messages.append)
                signed = self.signed.read_bytes()
                der = certificate_table.signature_der(signed)
                self.assertEqual(signing.attach(self.program.read_bytes(), der), signed)
        self.assertRaisesRegex(signing.SigningError, "signed already", signing.attach, signed, der)


class Pins(unittest.TestCase):
    A, B = "ab" * 32, "0123456789abcdef" * 4

    def test_a_pin_given_as_a_fingerprint_or_a_certificate_file(self):
        signer, expected, der = KEYS.path("signer.pem"), fingerprint("signer"), FOLDER / "signer.der"
        subprocess.run(["openssl", "x509", "-in", str(signer), "-outform", "DER", "-out", str(der)], check=True)
        for value in (":".join(expected[i:i + 2] for i in range(0, 64, 2)).upper(), str(signer), str(der)):
            self.assertEqual(signers.signer_pin(value), expected, value)
        two = FOLDER / "two.pem"
        two.write_bytes(signer.read_bytes() * 2)
        for value, reason in ((expected[:-1], "neither 64 hexadecimal digits"), (str(KEYS.path("ca.cnf")),
                              "the file holds no certificate in PEM or DER"), (str(FOLDER / "missing.pem"),
                              "nor a certificate file"), (str(two), "the file holds more than one certificate")):
            self.assertRaisesRegex(ValueError, reason, signers.signer_pin, value)

    def test_fingerprints_one_a_line_with_comments_colons_and_either_case(self):
        colons = ":".join(self.B[i:i + 2] for i in range(0, 64, 2)).upper()
        pins = signers.parse(f"# vendor\n\n  {self.A}  # current\n{colons}\n{self.A.upper()}\n".encode(), "pins")
        self.assertEqual(pins, signers.Pins((self.A, self.B), "pins"))
        self.assertTrue(pins.lists(self.B.upper()))
        self.assertFalse(pins.lists("cd" * 32))
        for content, told in ((b"# none\n\n", "pins lists no fingerprint"), (b"\xff\n", "pins is not UTF-8 text"),
                              (f"{self.A}\n{self.A[1:]}\n".encode(), "pins, line 2: not a SHA-256 fingerprint"),
                              (f"{self.A}0\n".encode(), "pins, line 1"), (b"fingerprint 1\n", "pins, line 1"),
                              (b"  " + b"x" * 99 + b"\n", f"pins, line 1: .*: {'x' * 80}$")):
            with self.subTest(content):
                self.assertRaisesRegex(signers.SignersError, f"^{told}", signers.parse, content, "pins")

    def test_the_commits_pins_or_the_working_trees(self):
        folder = Path(tempfile.mkdtemp(prefix="medium-pins-"))
        self.addCleanup(shutil.rmtree, folder)
        repo = folder / "repo"
        commit = commit_repository(repo, {signers.PATH: f"{self.A}\n".encode()})
        self.assertEqual(signers.for_source(build.Source(commit, (), 0), repo),
                         signers.Pins((self.A,), f"{signers.PATH} of commit {commit[:12]}"))
        (repo / signers.PATH).write_text(f"{self.B}\n")
        self.assertEqual(signers.for_source(build.Source(commit, ("M x",), 0), repo),
                         signers.Pins((self.B,), signers.PATH))
        self.assertEqual(signers.for_source(build.Source(None, (), 0), repo).fingerprints, (self.B,))
        self.assertEqual(signers.for_source(build.Source(commit, (), 0), repo).fingerprints, (self.A,))
        (repo / signers.PATH).unlink()
        self.assertIsNone(signers.in_working_tree(repo))
        (repo / signers.PATH).symlink_to(folder / "none")
        self.assertRaisesRegex(signers.SignersError, "cannot be read", signers.in_working_tree, repo)
        bare = folder / "bare"
        other = commit_repository(bare, {"release/signers.sha256/inside": b"a folder"})
        self.assertRaisesRegex(signers.SignersError, "is not a file", signers.at_commit, other, bare)
        none = folder / "none"
        self.assertIsNone(signers.at_commit(commit_repository(none, {"a.txt": b"a"}), none))

    def test_the_commits_timestamp_authorities_are_certificates_alone(self):
        roots = KEYS.path("ca.pem").read_bytes() + KEYS.path("tsa.pem").read_bytes()
        for content, refused in ((roots, ""), (b"", "holds no certificate"), (b"#\n" + roots, "text before"),
                                 (roots + b"x", "certificate 2 cannot"), (roots.replace(b"M", b"m", 9), "certificate 1")):
            with self.subTest(refused):
                repo = Path(tempfile.mkdtemp(prefix="medium-authorities-", dir=FOLDER)) / "repo"
                commit = commit_repository(repo, {signers.TIMESTAMP_AUTHORITIES: content})
                with self.assertRaisesRegex(signers.SignersError, f"pem of commit {commit[:12]}.*{refused}") if refused \
                        else contextlib.nullcontext():
                    self.assertEqual(signers.timestamp_authorities_at(commit, repo), content)


class CommandLine(Medium):
    def options(self, *arguments: str):
        return medium.make_parser("make-medium").parse_args(["payload", "out.iso", *arguments])

    def test_no_printout_of_what_holds_a_secret_shows_it(self):
        p12 = str(KEYS.path("signer.p12"))
        with mock.patch.dict(os.environ, {"SIGNING_PASSWORD": "pass phrase of the environment", "SIGNING_PIN": "97531"}):
            secrets = signing.take_secrets()
        from_file = medium.signing_key(self.options("--pkcs12", p12, "--password-file", str(KEYS.password_file)), {})
        token = medium.signing_key(self.options("--pkcs11-module", p12, "--pkcs11-key", "01", "--certificate", p12), secrets)
        for holder in (secrets, from_file, token, make.Request(Path("payload"), Path("out.iso"), key=from_file),
                       signing.Key("pkcs12", secret="a secret given as text")):
            self.assertFalse(any(text in repr([holder]) for text in ("pass phrase", "97531", "a secret")), holder)
        self.assertEqual((from_file.secret, token.secret), (signing_keys.PASSWORD, "97531"))

    def test_which_key_signs_and_the_secret_that_opens_it(self):
        p12, module, certificate = str(KEYS.path("signer.p12")), str(KEYS.path("ca.pem")), str(KEYS.path("signer.pem"))
        token = ["--pkcs11-module", module, "--pkcs11-key", "01", "--certificate", certificate]
        refused = [
            (["--password-file", "f"], {}, "the signing options need a key"),
            (["--timestamp-url", "http://t"], {}, "the signing options need a key"),
            (["--url", "http://u"], {}, "the signing options need a key"),
            (["--allow-no-timestamp"], {}, "the signing options need a key"),
            (["--description", "d"], {}, "the signing options need a key"),
            (["--pkcs12", p12, "--pkcs11-module", module], {}, "--pkcs12 signs with a file key"),
            (["--pkcs12", p12, "--pin-file", "f"], {}, "--pkcs12 signs with a file key"),
            (["--pkcs12", str(self.folder / "none.p12")], {}, "does not exist"),
            (["--pkcs12", p12], {"SIGNING_PIN": "1"}, "the password of"),
            (["--pkcs12", p12, "--description", ""], {"SIGNING_PASSWORD": "p"}, "the description must be"),
            (["--pkcs12", p12, "--description", "a\tb"], {"SIGNING_PASSWORD": "p"}, "the description must be"),
            (["--pkcs12", p12, "--description", "a\x1fb"], {"SIGNING_PASSWORD": "p"}, "the description must be"),
            (token[:4], {}, "needs --pkcs11-module, --pkcs11-key and --certificate"),
            (token[2:], {}, "needs --pkcs11-module, --pkcs11-key and --certificate"),
            ([*token[:2], *token[4:]], {}, "needs --pkcs11-module, --pkcs11-key and --certificate"),
            ([*token, "--password-file", "f"], {}, "--password-file is for --pkcs12"),
            ([*token[:3], "pkcs11:object=k;PIN-VALUE=1", *token[4:]], {}, "carries the PIN"),
            ([*token[:1], str(self.folder / "none.so"), *token[2:]], {}, "the PKCS#11 module"),
            ([*token[:5], str(self.folder / "none.pem")], {}, "the certificate"),
        ]
        for arguments, secrets, told in refused:
            with self.subTest(arguments):
                with self.assertRaises(signing.SigningError) as raised:
                    medium.signing_key(self.options(*arguments), dict(secrets))
                self.assertIn(told, str(raised.exception))
        self.assertIsNone(medium.signing_key(self.options(), {"SIGNING_PASSWORD": "p"}))
        secret = self.folder / "secret"
        secret.write_text("from the file\n")
        key = medium.signing_key(self.options("--pkcs12", p12, "--password-file", str(secret), "--timestamp-url", "t1",
                                              "--timestamp-url", "t2", "--url", "u"), {"SIGNING_PASSWORD": "p"})
        self.assertEqual(key, signing.Key("pkcs12", pkcs12=Path(p12), secret="from the file",
                                          timestamp_urls=["t1", "t2"], url="u"))
        key = medium.signing_key(self.options("--pkcs12", p12, "--allow-no-timestamp", "--description", "tarvin 2"),
                                 {"SIGNING_PASSWORD": "p"})
        self.assertEqual((key.secret, key.allow_no_timestamp, key.description), ("p", True, "tarvin 2"))
        self.assertEqual(medium.signing_key(self.options(*token), {}),
                         signing.Key("pkcs11", module=Path(module), key="01", certificate=Path(certificate)))
        self.assertEqual(medium.signing_key(self.options(*token), {"SIGNING_PIN": "1"}).secret, "1")
        self.assertEqual(medium.signing_key(self.options(*token, "--pin-file", str(secret)), {}).secret,
                         "from the file")

    def main(self, *arguments: str, environment: dict | None = None) -> tuple[int, str, str]:
        out, err = io.StringIO(), io.StringIO()
        with contextlib.redirect_stdout(out), contextlib.redirect_stderr(err), \
                mock.patch.dict(os.environ, environment or {}):
            try:
                code = medium.main(["medium.py", *arguments])
            except SystemExit as exit:
                code = exit.code
        return code, out.getvalue(), err.getvalue()

    def test_make_medium_writes_signs_and_prints_the_images_digest(self):
        self.repository()
        password = self.folder / "password"
        password.write_text(signing_keys.PASSWORD)
        real = make.make
        with mock.patch.object(make, "make", lambda request: real(request, self.repo, StandIn())):
            code, out, err = self.main("make", str(self.payload), str(self.output), "--pkcs12",
                                       str(KEYS.path("signer.p12")), "--volume-label", "LABEL", "--version", "3.2.1",
                                       environment={"RELEASE_BUILD_DIR": str(self.release),
                                                    "SIGNING_PASSWORD": signing_keys.PASSWORD})
            self.assertNotIn("SIGNING_PASSWORD", os.environ)
        self.assertEqual(code, 0, err)
        self.assertTrue(out.endswith(f"{hashlib.sha256(self.output.read_bytes()).hexdigest()}  {self.output}\n"), out)
        self.assertEqual(out.splitlines()[:-1], make.summary(self.output))
        image = iso9660.read_image(self.output)
        self.assertEqual((image.volume_id, build.parse_application_id(image.application_id).version),
                         ("LABEL", "3.2.1"))
        self.assertTrue((self.release / "medium-payload.list").is_file())
        self.assertTrue(authenticode.examine(image.read(image.files(iso9660.JOLIET)["setup.exe"])).signed)

    def test_exit_statuses_and_errors(self):
        for arguments in ((), ("sign",)):
            code, out, err = self.main(*arguments)
            self.assertEqual((code, out), (2, ""))
            self.assertTrue(err.startswith("The medium tooling behind scripts/make-medium"), err)
        code, out, err = self.main("make", "only-one")
        self.assertEqual((code, out), (2, ""))
        self.assertTrue(err.startswith("usage: make-medium "), err)
        self.assertTrue(err.endswith("error: the following arguments are required: OUTPUT.iso\n"
                                     "(see make-medium --help)\n"), err)
        code, out, err = self.main("make", str(self.folder / "none"), str(self.output))
        self.assertEqual((code, out), (1, ""))
        self.assertTrue(err.startswith(f"error: the payload folder {self.folder / 'none'} does not exist"), err)
        for error in (build.BuildError("b"), signing.SigningError("s"), payload.PayloadError("p")):
            with mock.patch.object(medium, "run_make", side_effect=error):
                self.assertEqual(self.main("make"), (1, "", f"error: {error}\n"))
        with mock.patch.object(medium, "run_check", side_effect=KeyboardInterrupt):
            self.assertEqual(self.main("check")[0], 130)
        with mock.patch.object(medium, "run_check", return_value=3) as run, \
                mock.patch.dict(os.environ, MEDIUM_PROGRAM_NAME="scripts/check-medium"):
            self.assertEqual(self.main("check", "a.iso")[0], 3)
        run.assert_called_once_with(["a.iso"], "scripts/check-medium")

    def test_check_medium_refuses_what_it_cannot_read_before_checking(self):
        self.make(self.request(), repo=self.repository())
        ca, media = str(KEYS.path("ca.pem")), str(self.output)
        for arguments, told in (([str(self.folder / "none.iso")], "none.iso does not exist"),
                                ([media, "--payload", str(self.output)], "the payload folder"),
                                ([media, "--ca", str(self.folder / "none.pem")], "the trust anchors"),
                                ([media, "--signer-sha256", "12ab"], "--signer-sha256 12ab: neither"),
                                ([media, "--trust", "no-such-branch-anywhere"], "--trust no-such-branch-anywhere")):
            with self.subTest(arguments), mock.patch.object(medium.check, "check") as check:
                code, out, err = self.main("check", *arguments)
                self.assertEqual(code, 1)
                self.assertIn(told, err)
                check.assert_not_called()
        scratch = []

        def check(request, folder):
            scratch.append(folder)
            self.assertTrue(folder.is_dir())
            self.assertEqual(request, medium.check.Request([self.output], "HEAD", self.payload, Path(ca),
                                                           fingerprint("signer"), [("HEAD", head)]))
            return 3

        head = medium.check.commit_id("HEAD")
        with mock.patch.object(medium.check, "check", check):
            self.assertEqual(self.main("check", media, "--commit", "HEAD", "--payload", str(self.payload), "--ca", ca,
                                       "--signer-sha256", fingerprint("signer").upper(), "--trust", "HEAD")[0], 3)
        self.assertFalse(scratch[0].exists())


class ReleaseBuild(unittest.TestCase):
    """build_release's steps against a stand-in cmake that says what it was given and does what it is told."""

    CMAKE = """#!/bin/sh
echo "cmake given $* password=${SIGNING_PASSWORD:-none}"
[ -n "$FAIL_AT" ] && case "$*" in *"$FAIL_AT"*) exit 1;; esac
case "$1" in --build) mkdir -p "$2/src/listed" && touch "$2/src/$LEAVE";; esac
"""

    def setUp(self):
        self.folder = Path(tempfile.mkdtemp(prefix="medium-build-"))
        self.addCleanup(shutil.rmtree, self.folder, True)
        (self.folder / "bin").mkdir()
        cmake = self.folder / "bin" / "cmake"
        cmake.write_text(self.CMAKE)
        cmake.chmod(0o755)
        environment = mock.patch.dict(os.environ, PATH=f"{self.folder / 'bin'}:{os.environ['PATH']}", JOBS="3",
                                      SIGNING_PASSWORD="secret")
        environment.start()
        self.addCleanup(environment.stop)
        self.release, self.log = self.folder / "win32", self.folder / "make-medium.log"

    def build(self, leave: str, fail_at: str = "", **arguments) -> Path:
        shutil.rmtree(self.release, True)
        with mock.patch.dict(os.environ, LEAVE=leave, FAIL_AT=fail_at):
            return build.build_release(self.release, self.log, **arguments)

    def test_configured_with_version_and_list_then_built(self):
        listed = self.folder / "medium-payload.list"
        err = io.StringIO()
        with contextlib.redirect_stderr(err):
            program = self.build("listed/setup.exe", version="1.2.3", payload_list=listed, verbose=True)
        self.assertEqual(program, self.release / "src" / "listed" / "setup.exe")
        configure = f"cmake --preset win32 -B {self.release} -DMEDIUM_VERSION=1.2.3 -DMEDIUM_PAYLOAD_LIST={listed}"
        steps = [configure, f"cmake --build {self.release} -j 3"]
        given = [f"cmake given {step[6:]} password=none" for step in steps]
        self.assertEqual(self.log.read_text().splitlines(), [f"$ {steps[0]}", given[0], f"$ {steps[1]}", given[1]])
        self.assertEqual(err.getvalue().splitlines(), given)
        self.log.write_text("")
        with contextlib.redirect_stderr(err):
            err.truncate(0)
            self.assertEqual(self.build("setup.exe"), self.release / "src" / "setup.exe")
        self.assertEqual(err.getvalue(), "")
        self.assertIn("-DMEDIUM_VERSION= -DMEDIUM_PAYLOAD_LIST= password=none", self.log.read_text())

    def test_a_failing_step_or_a_missing_program_is_an_error(self):
        with self.assertRaisesRegex(build.BuildError, f"failed \\(see {self.log}\\)"):
            self.build("setup.exe", fail_at="--preset")
        self.assertNotIn("--build", self.log.read_text(), "no build after a failed configuration")
        self.assertRaisesRegex(build.BuildError, "failed", self.build, "setup.exe", fail_at="--build")
        self.assertRaisesRegex(build.BuildError, "left no .*listed/setup.exe", self.build, "setup.exe",
                               payload_list=self.log)
        self.assertRaisesRegex(build.BuildError, "left no .*src/setup.exe", self.build, "listed/setup.exe")
        with mock.patch.dict(os.environ, JOBS=""), mock.patch.object(build.os, "cpu_count", return_value=None):
            self.build("setup.exe")
        self.assertIn("-j 1\n", self.log.read_text())


if __name__ == "__main__":
    unittest.main()
