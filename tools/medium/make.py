"""make-medium: a payload folder and the commit's release setup.exe, signed, into an ISO 9660 image with
Joliet and Rock Ridge names, written over OUTPUT only once it is complete."""

from __future__ import annotations

import datetime
import os
import subprocess
import sys
import tempfile
from dataclasses import dataclass
from pathlib import Path

import authenticode
import build
import certificate_table
import iso9660
import payload as medium_payload
import payload_list
import signers
import signing
import toolchain
from build import BuildError, clean_environment
from payload import AUTORUN, LAUNCHER, PayloadError
from signing import SigningError


@dataclass
class Request:
    payload: Path
    output: Path
    volume_label: str = medium_payload.DEFAULT_VOLUME_LABEL
    autorun_label: str = medium_payload.DEFAULT_AUTORUN_LABEL
    key: signing.Key | None = None
    signature: Path | None = None  # a program whose signature goes onto the rebuilt setup.exe (check-medium)
    uncommitted: bool = False  # build the working tree as it is; the image says so
    release_dir: Path | None = None
    version: str | None = None  # X.Y.Z for the programs' version record; None: a vX.Y.Z tag, else 1.00
    verbose: bool = False


def log(message: str) -> None:
    print(f"==> {message}", file=sys.stderr, flush=True)


def refuse_changes(source: build.Source) -> None:
    if source.changes:
        shown = source.changes[:20]
        more = f"\n  ... and {len(source.changes) - len(shown)} more" if len(source.changes) > len(shown) else ""
        raise BuildError("the working tree differs from its commit, so the medium would hold a program no commit"
                         " makes:\n  " + "\n  ".join(shown) + more +
                         "\ncommit or remove the changes (or give --uncommitted for a development medium, which"
                         " says so and which check-medium never calls the same as a commit's); nothing was written")


def write_image(request: Request, found: medium_payload.Payload, launcher: Path, source: build.Source,
                scratch: Path, log_file: Path, before_replace=lambda: None) -> None:
    autorun = scratch / AUTORUN
    autorun.write_bytes(medium_payload.autorun_inf(request.autorun_label))
    date = datetime.datetime.fromtimestamp(source.date, datetime.timezone.utc).strftime("%Y%m%d%H%M%S00")
    descriptor, name = tempfile.mkstemp(dir=request.output.parent, prefix=f".{request.output.name}.")
    os.close(descriptor)  # xorriso writes it by name
    partial = Path(name)
    try:
        # Startup files are not read, names are UTF-8 on both sides whatever the locale, every date is the
        # source date, owners and modes are fixed, and symbolic links in the payload become the files they
        # name (Joliet has no links).
        command = [
            "xorriso", "-no_rc", "-report_about", "WARNING", "-abort_on", "FAILURE", "-return_with", "WARNING", "32",
            "-local_charset", "UTF-8", "-out_charset", "UTF-8",
            "-outdev", f"stdio:{partial}", "-blank", "as_needed",
            "-joliet", "on", "-rockridge", "on", "-compliance", "joliet_long_names", "-md5", "off", "-acl", "off",
            "-xattr", "off", "-disk_dev_ino", "off", "-follow", "link",
            "-volid", request.volume_label,
            "-application_id", source.application_id(request.uncommitted, request.version),
            "-volume_date", "uuid", date, "-iso_nowtime", f"={source.date}",
            "-map", str(launcher), f"/{LAUNCHER}",
            "-map", str(autorun), f"/{AUTORUN}",
            "-map", str(found.notes), f"/{found.notes.name}",
            "-map", str(found.components), f"/{found.components.name}",
            "-find", "/", "-type", "d", "-exec", "chmod", "0555", "--",
            "-find", "/", "-type", "f", "-exec", "chmod", "0444", "--",
            "-chown_r", "0", "/", "--", "-chgrp_r", "0", "/", "--",
            "-volume_date", "all_file_dates", f"={source.date}",
            "-commit",
        ]
        with open(log_file, "a") as output:
            output.write(f"$ {' '.join(command)}\n")
            output.flush()
            result = subprocess.run(command, stdout=output, stderr=subprocess.PIPE, text=True,
                                    env=clean_environment(SOURCE_DATE_EPOCH=str(source.date)))
            output.write(result.stderr)
        if result.returncode != 0:
            problems = [line for line in result.stderr.splitlines() if "FAILURE" in line or "SORRY" in line or
                        "WARNING" in line]
            raise BuildError("xorriso could not write the image:\n" + "\n".join(problems or result.stderr.splitlines()[-5:]))
        before_replace()
        os.chmod(partial, 0o666 & ~_umask())
        os.replace(partial, request.output)
    finally:
        partial.unlink(missing_ok=True)


def _umask() -> int:
    current = os.umask(0)
    os.umask(current)
    return current


def make(request: Request, repo: Path = build.REPO_ROOT, builder=build.build_release) -> None:
    """Makes the medium of request from the commit of repo, whose release setup.exe builder builds (as
    build.build_release builds REPO_ROOT's; a stand-in gives its own program, made from the same list)."""
    medium_payload.check_volume_label(request.volume_label)
    medium_payload.check_autorun_label(request.autorun_label)
    found = medium_payload.find_payload(request.payload)
    entries = medium_payload.medium_entries(found)
    medium_payload.check_windows_names(found, entries)
    if not request.output.parent.is_dir():
        raise PayloadError(f"the folder of {request.output} does not exist")
    if request.output.is_dir():
        raise PayloadError(f"{request.output} is a folder")
    output = request.output.resolve()
    if any(output.is_relative_to(entry.resolve()) for entry in found.entries):
        raise PayloadError(f"{request.output} lies inside the payload, which would go onto the medium as it is being"
                           " written: write the image elsewhere")
    for entry in found.left_out:
        log(f"Leaving out {entry}: the medium takes only voabc.txt and vorncopy from the payload")
    warning = medium_payload.notes_warning(found.notes.read_bytes())
    if warning:
        log(f"Warning: {warning}")
    listing = list_payload(found, entries)
    source = build.source(repo)
    if request.version is None:
        request.version = build.tagged_version(source.commit, repo)
    elif request.version == build.DEFAULT_VERSION:
        request.version = None  # the record's own version, asked for by name (check-medium does)
    else:
        build.check_version(request.version)
    if not request.uncommitted:
        refuse_changes(source)
    elif source.changes:
        log(f"Building the working tree with {len(source.changes)} uncommitted change(s): the medium says so, and"
            " check-medium will not call it the same as any commit's")
    with tempfile.TemporaryDirectory() as scratch_name:
        scratch = Path(scratch_name)
        signer = signing.check_key(request.key) if request.key else None
        if signer is not None:
            refuse_unlisted(signer, source, repo)
        release_dir = request.release_dir or repo / "build" / "win32"
        with build.build_lock(release_dir):
            _make_locked(request, found, listing, source, scratch, release_dir, signer, builder)


@dataclass
class Listing:
    text: bytes  # the payload list
    files: dict[str, Path]  # what it names, by Windows path
    stamps: dict  # the files' stamps before they were hashed

    def check_unchanged(self) -> None:
        """The image writer read the files after they were hashed: a file changed since then may hold
        other bytes on the medium than the list names, and the launcher would refuse it."""
        changed = payload_list.changed_since(self.files, self.stamps)
        if changed:
            raise BuildError("payload files changed while the medium was made, so the image may not hold what"
                             " setup.exe's payload list names: " + ", ".join(map(payload_list.shown, changed)) +
                             "; nothing was written (make the medium again once they stay as they are)")


def list_payload(found: medium_payload.Payload, entries: list[Path]) -> Listing:
    """The payload list of the payload's files among entries (those whose names were checked), hashed as
    they are now; PayloadError when a name cannot stand in it."""
    log("Hashing the payload for setup.exe's payload list")
    files = payload_list.payload_files(found, entries)
    before = payload_list.stamps(files)
    try:
        return Listing(payload_list.render(payload_list.of_files(files)), files, before)
    except payload_list.Uncarried as error:
        raise PayloadError("\n".join([*(f"the payload list cannot carry the name {line}"
                                        for line in str(error).splitlines()), "rename them; nothing was written"]))


def check_carried_list(launcher: Path, listed: bytes) -> None:
    """The list read back out of the program built, strictly, and compared with the payload's."""
    try:
        carried = payload_list.from_program(launcher.read_bytes())
        if carried is None:
            raise payload_list.DamagedList("the program carries none")
        problems = payload_list.differences(payload_list.parse(listed), payload_list.parse(carried))
    except payload_list.DamagedList as error:
        raise BuildError(f"the payload list of the setup.exe built does not read back: {error}; nothing was"
                         " written") from None
    if problems or carried != listed:
        raise BuildError("\n".join(["the setup.exe built carries another payload list than the payload's:",
                                    *(f"  {line}" for line in problems), "nothing was written"]))


def refuse_unlisted(signer: authenticode.Certificate, source: build.Source, repo: Path = build.REPO_ROOT) -> None:
    """A repository that lists its signing certificates (release/signers.sha256) signs with those alone."""
    try:
        pins = signers.for_source(source, repo)
    except signers.SignersError as error:
        raise SigningError(f"{error}; nothing was written") from None
    if pins is not None and not pins.lists(signer.sha256):
        raise SigningError(f"the certificate {signer.subject} (SHA-256 {signer.sha256}) is not listed in"
                           f" {pins.source}, which names the certificates this repository signs with; nothing"
                           " was written")


def _make_locked(request: Request, found: medium_payload.Payload, listing: Listing, source: build.Source,
                 scratch: Path, release_dir: Path, signer: authenticode.Certificate | None, builder) -> None:
    log_file = release_dir.parent / "make-medium.log"
    log_file.write_text("")
    # The list lives in the build's own folder, which the build reads it from whenever it configures.
    release_dir.mkdir(parents=True, exist_ok=True)
    list_file = release_dir / "medium-payload.list"
    listed = listing.text
    list_file.write_bytes(listed)
    files = len(payload_list.parse(listed))
    log(f"Building the release setup.exe, version {request.version or build.DEFAULT_VERSION}, with the payload"
        f" list of {files} file(s) ({release_dir})")
    launcher = builder(release_dir, log_file, request.version, request.verbose, list_file)
    check_carried_list(launcher, listed)
    if request.key:
        log(f"Signing setup.exe ({signer.subject})")
        signed = scratch / LAUNCHER
        signing_time = signing.signing_time(signer, source.date, log)
        if not signing.sign(launcher, signed, request.key, signing_time, log):
            log("Warning: signed without a timestamp: Windows trusts the signature only until the certificate"
                " expires (--timestamp-url URL keeps it trusted after that)")
        launcher = signed
    elif request.signature:
        # check-medium: the shipped signature on this commit's program, whether or not it fits it (the
        # comparison and the signature check say so).
        signed = scratch / LAUNCHER
        signed.write_bytes(signing.attach(launcher.read_bytes(), _signature_of(request.signature)))
        launcher = signed
    log(f"Writing {request.output}")
    try:
        write_image(request, found, launcher, source, scratch, log_file, listing.check_unchanged)
    except BuildError as error:
        raise BuildError(f"{error}\n(the whole output is in {log_file})") from None
    # The toolchain beside the image, for check-medium to explain a difference with (the image stays as it is).
    try:
        log(f"Writing {toolchain.write_record(request.output, toolchain.installed(), 0o666 & ~_umask())}")
    except (toolchain.RecordError, OSError) as error:
        raise BuildError(f"the image is written, but the record of its toolchain is not: {error}") from None


def _signature_of(program: Path) -> bytes:
    try:
        signature = certificate_table.signature_der(program.read_bytes())
    except certificate_table.Refused as error:
        raise SigningError(f"{program}: {error}") from None
    if signature is None:
        raise SigningError(f"{program} carries no signature to attach")
    return signature


CD_BYTES = 700 * 1024 * 1024
DVD_BYTES = 4_700_000_000


def summary(output: Path) -> list[str]:
    """What a vendor checks before shipping: the files as Windows will list them, the image's size against
    a disc's, the commit and version, and the signature with its timestamp and the certificate's expiry."""
    image = iso9660.read_image(output)
    origin = build.parse_application_id(image.application_id)
    size = image.size
    if size <= CD_BYTES:
        fits = "fits on a CD (700 MB)"
    elif size <= DVD_BYTES:
        fits = "warning: larger than a CD (700 MB); it needs a DVD"
    else:
        fits = "warning: larger than a single-layer DVD (4.7 GB)"
    lines = [f"{output}: {size:,} bytes ({size / 1024 / 1024:.1f} MB), {fits}",
             f"  commit {origin.commit[:12] if origin.commit else 'none (not a git checkout)'}, version"
             f" {origin.version or build.DEFAULT_VERSION}"
             + (", with uncommitted changes: a development medium" if origin.uncommitted else "")]
    files = image.files(iso9660.JOLIET)
    program = image.read(files[LAUNCHER])
    examination = authenticode.examine(program)
    if not examination.signed:
        lines.append("  setup.exe is not signed")
    elif examination.signer is not None:
        stamp = f"timestamped {examination.timestamp:%Y-%m-%d %H:%M} UTC" if examination.timestamp else \
            "not timestamped: trusted only until the certificate expires"
        lines.append(f"  setup.exe signed by {examination.signer.subject}, {stamp}; certificate valid until"
                     f" {examination.signer.not_after:%Y-%m-%d}")
    try:
        carried = payload_list.from_program(program)
        lines.append(f"  setup.exe carries the payload list of {len(payload_list.parse(carried))} file(s)"
                     if carried is not None else "  setup.exe carries no payload list")
    except payload_list.DamagedList as error:
        lines.append(f"  setup.exe carries a damaged payload list: {error}")
    lines.append("  files, as Windows lists them:")
    lines += [f"  {files[path].size:>13,}  {windows_path}" for path, windows_path in
              sorted((path, medium_payload.windows_name(path)) for path in files)]
    return lines
