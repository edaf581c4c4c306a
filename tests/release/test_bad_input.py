"""Malformed input gets a verdict, never a traceback: signed programs with mutated signatures or bytes, fed
to both signature verifiers, and mutated images, fed to the image reader. Mutations are drawn by
hypothesis, derandomized, so that every run tries the same ones."""

import re
import shutil
import subprocess
import sys
import tempfile
import unittest
from datetime import datetime, timezone
from pathlib import Path

from asn1crypto import cms
from hypothesis import HealthCheck, given, settings, strategies as st

import test_authenticode
from test_authenticode import programs

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "tools" / "medium"))
import authenticode  # noqa: E402
import certificate_table  # noqa: E402
import iso9660  # noqa: E402
import second_verifier  # noqa: E402

SETTINGS = settings(derandomize=True, deadline=None, database=None, max_examples=60,
                    suppress_health_check=[HealthCheck.too_slow])
IMAGE_SETTINGS = settings(SETTINGS, max_examples=300)


def setUpModule():
    test_authenticode.setUpModule()
    global NOW
    NOW = datetime.now(timezone.utc)


def tearDownModule():
    test_authenticode.tearDownModule()


def mutated(data: bytes, start: int, end: int, kind: str, at: float, value: int, span: int) -> bytes:
    """data with its bytes from start to end changed: one byte flipped, a run overwritten, cut short there,
    or bytes put in."""
    position = start + int(at * (end - start - 1))
    if kind == "flip":
        return data[:position] + bytes([data[position] ^ value]) + data[position + 1:]
    if kind == "overwrite":
        return data[:position] + bytes([value]) * span + data[position + span:]
    if kind == "cut":
        return data[:position]
    return data[:position] + bytes([value]) * span + data[position:]


MUTATIONS = dict(kind=st.sampled_from(["flip", "overwrite", "cut", "insert"]), at=st.floats(0, 1),
                 value=st.integers(1, 255), span=st.integers(1, 12))


class Signatures(unittest.TestCase):
    def verdicts(self, program: bytes, genuine: bytes) -> None:
        """Both verifiers read program without raising; with the vendor's anchors and pin, a changed program
        is never accepted by both."""
        checks = {"ca_file": test_authenticode.FOLDER / "keys" / "ca.pem",
                  "pinned_sha256": test_authenticode.fingerprint("signer")}
        examination = authenticode.examine(program, now=NOW, **checks)
        verdict = second_verifier.verify(program, now=NOW, **checks)
        disagreement = second_verifier.disagreement(examination, verdict)
        if not examination.problems and not disagreement:
            self.assertEqual(program, genuine, "a changed program verified")

    @SETTINGS
    @given(name=st.sampled_from(["signed", "timestamped"]), **MUTATIONS)
    def test_mutated_signatures(self, name, kind, at, value, span):
        genuine = programs[name]
        where = certificate_table.layout(genuine)
        self.verdicts(mutated(genuine, where.table, where.table + where.size, kind, at, value, span), genuine)

    @SETTINGS
    @given(**MUTATIONS)
    def test_mutated_programs(self, kind, at, value, span):
        genuine = programs["signed"]
        where = certificate_table.layout(genuine)
        program = mutated(genuine, 0, where.table, kind, at, value, span)
        if program[where.checksum:where.checksum + 4] != genuine[where.checksum:where.checksum + 4] and \
                len(program) == len(genuine) and program[:where.checksum] + program[where.checksum + 4:] == \
                genuine[:where.checksum] + genuine[where.checksum + 4:]:
            return  # the CheckSum field lies outside the signed digest by design, as Windows has it
        self.verdicts(program, genuine)


    def test_a_certificate_with_an_extension_twice(self):
        signed = programs["signed"]
        info = cms.ContentInfo.load(certificate_table.signature_der(signed))
        extensions = info["content"]["certificates"][0].chosen["tbs_certificate"]["extensions"]
        info["content"]["certificates"][0].chosen["tbs_certificate"]["extensions"] = [*extensions, extensions[0]]
        program = test_authenticode.with_table(programs["unsigned"], test_authenticode.entry(info.dump(True)))
        examination = authenticode.examine(program, ca_file=test_authenticode.FOLDER / "keys" / "ca.pem", now=NOW)
        self.assertIn("a certificate in the signature cannot be read: it has the 2.5.29.19 extension twice",
                      examination.problems)


class Images(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = Path(tempfile.mkdtemp(prefix="bad-images-"))
        tree = cls.folder / "tree"
        (tree / "vorncopy" / "数据库组件").mkdir(parents=True)
        (tree / "setup.exe").write_bytes(b"MZ" * 5000)
        (tree / "vorncopy" / "数据库组件" / "安装说明.txt").write_text("x" * 3000)
        (tree / "vorncopy" / ("long name " * 9 + ".txt")).write_text("y")
        subprocess.run(["xorriso", "-as", "mkisofs", "-quiet", "-R", "-J", "-joliet-long", "-V", "TARVIN", "-o",
                        str(cls.folder / "image.iso"), str(tree)], check=True)
        cls.genuine = (cls.folder / "image.iso").read_bytes()
        cls.path = cls.folder / "mutated.iso"
        # What the reader parses: the descriptors, path tables, folders and Rock Ridge continuation areas.
        cls.parsed = sorted((region.start, region.end) for region in iso9660.read_image(cls.folder / "image.iso").regions
                            if region.end > region.start and "system area" not in region.what)
        # Where the names are, in each form that the trees and path tables hold them in.
        cls.names = [(found.start(), found.end())
                     for text in ("long name " * 9, "数据库组件", "安装说明", "setup", "vorncopy")
                     for form in (text.encode(), text.upper().encode(), text.encode("utf-16-be"))
                     for found in re.finditer(re.escape(form), cls.genuine)]

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.folder, True)

    @IMAGE_SETTINGS
    @given(region=st.integers(0, 1000), **MUTATIONS)
    def test_mutated_images_are_read_or_refused_as_images(self, region, kind, at, value, span):
        """Descriptors, path tables and folders changed: the reader names what it cannot read (ImageError),
        and every file of what it reads can be read or is refused the same way."""
        start, end = self.parsed[region % len(self.parsed)]
        self.path.write_bytes(mutated(self.genuine, start, end, kind, at, value, span))
        try:
            image = iso9660.read_image(self.path)
            for tree in image.trees:
                for entry in image.files(tree).values():
                    image.read(entry)
        except iso9660.ImageError:
            pass

    @IMAGE_SETTINGS
    @given(name=st.integers(0, 1000), whole=st.booleans(), at=st.floats(0, 1), value=st.integers(0, 255),
           span=st.integers(1, 255))
    def test_mutated_names_are_refused_where_they_are_read_or_written_out(self, name, whole, at, value, span):
        """Names overwritten in part or whole, with NUL too, or longer than 255 bytes as UTF-8: an image the
        reader reads has every file of every tree written out."""
        start, end = self.names[name % len(self.names)]
        at, span = (0, end - start) if whole else (at, min(span, end - start))
        self.path.write_bytes(mutated(self.genuine, start, end + 1, "overwrite", at, value, span))
        try:
            image = iso9660.read_image(self.path)
        except iso9660.ImageError:
            return
        for tree in image.trees:
            with tempfile.TemporaryDirectory(dir=self.folder) as destination:
                image.extract(tree, Path(destination))


if __name__ == "__main__":
    unittest.main()
