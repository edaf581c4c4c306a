"""check-medium: whether a shipped image is, byte for byte, the image that a commit makes from the same
labels and payload with the shipped signature, and whether that signature verifies. A difference is named
by file and name tree, or by the part of the image it lies in; what was not compared is said, never
called the same.

Only the vendor's own commits are made again: a commit is checked out and its make-medium run only when it
is reachable from the checkout's HEAD (the branch the vendor releases from) or from a ref that --trust
names. Being in the object store (a fetched or deleted branch) or tagged (a fetch brings a remote's tags
along) is not enough; a commit outside that history is refused, named, and nothing of it is run.

The signer of setup.exe is checked against --ca, --signer-sha256, or else the pins that the commit itself
holds in release/signers.sha256 (the command line's pin replaces the committed ones). A timestamp counts for
the signer's dates only when its authority leads to --ca or, without it, to a root that the commit lists in
release/timestamp-authorities.pem.

Without --payload, the medium is made again from its own files, so those files are vouched for by the
payload list inside setup.exe alone: once setup.exe's signature verifies and its signer is checked, every
payload file of every name tree is checked against that list (SHA-256 and size, and the names).

Exit status: 0 every medium is the same, and each signed one's signer was checked; 1 a medium differs (or
cannot be checked, or names a commit outside the trusted history); 3 the media are the same except for
what was not checked: payload files neither compared with an independent payload (--payload) nor vouched
for by a signed payload list (an unsigned setup.exe, or one without a list), a signer that nothing
checked, or a signer's certificate that is valid only at the time of a timestamp that nothing anchors.
"""

from __future__ import annotations

import shutil
import subprocess
import sys
from dataclasses import dataclass, field
from pathlib import Path

import build
import certificate_table
import iso9660
import signers
import toolchain
from check_report import Report
from image_comparison import compare
from payload import ADDED, AUTORUN, LAUNCHER, autorun_label, is_payload_file, windows_name
from payload_list_check import check_listed_files, listed_by
from signature_report import examine_launchers
from trusted_commits import CHECKOUT_CACHE, Checkouts, commit_id

SAME, DIFFERENT, PARTIAL = 0, 1, 3


@dataclass
class Request:
    media: list[Path]
    commit: str | None = None
    payload: Path | None = None
    ca: Path | None = None
    pinned_sha256: str | None = None
    trusted: list[tuple[str, str]] = field(default_factory=list)  # --trust: (as given, commit id)
    buildinfo: Path | None = None  # the toolchain record of every medium, instead of each one's own


def _launcher_tree(image: iso9660.Image) -> str:
    """The tree whose names make-medium wrote from: Rock Ridge, else the plain names."""
    return iso9660.ROCK_RIDGE if iso9660.ROCK_RIDGE in image.trees else iso9660.ISO_9660


def _remake(shipped: iso9660.Image, version: str | None, checkout: Path, payload: Path, work: Path,
            report: Report) -> iso9660.Image | None:
    tree = shipped.trees[_launcher_tree(shipped)]
    label = autorun_label(shipped.read(tree[AUTORUN]))
    arguments = ["--volume-label", shipped.volume_id, "--version", version or build.DEFAULT_VERSION]
    if label is not None:
        arguments += ["--autorun-label", label]
    launcher = shipped.read(tree[LAUNCHER])
    try:
        signature = certificate_table.signature_der(launcher)
    except certificate_table.Refused:
        signature = None  # nothing to carry over: the comparison and the signature check name the program
    if signature is not None:
        (work / "shipped-setup.exe").write_bytes(launcher)
        arguments += ["--signature-from", str(work / "shipped-setup.exe")]
    rebuilt = work / "rebuilt.iso"
    env = {k: v for k, v in build.clean_environment().items() if k not in ("SOURCE_DATE_EPOCH", "RELEASE_BUILD_DIR")}
    print(f"==> Making {shipped.path.name} again from {checkout.name[:12]} (volume label"
          f" {shipped.volume_id}, autorun label {label})", file=sys.stderr, flush=True)
    result = subprocess.run(["bash", str(checkout / "scripts" / "make-medium"), *arguments, str(payload.resolve()), str(rebuilt)],
                            capture_output=True, text=True, env=env, cwd=checkout)
    (work / "make-medium.log").write_text(result.stdout + result.stderr)
    if result.returncode != 0:
        tail = "\n    ".join((result.stderr.strip().splitlines() or ["(no output)"])[-12:])
        report.differs(f"the commit could not make this medium again, so nothing was compared:\n    {tail}")
        return None
    try:
        return iso9660.read_image(rebuilt)
    except iso9660.ImageError as error:  # the commit's image, not the shipped one, is at fault
        report.differs(f"the commit's make-medium wrote an image that cannot be read, so nothing was compared: {error}")
        return None


def check_medium(medium: Path, request: Request, checkouts: Checkouts, work: Path) -> int:
    report = Report()
    try:
        shipped = iso9660.read_image(medium)
    except iso9660.ImageError as error:
        print(f"{medium}: cannot be read as an image: {error}")
        return DIFFERENT
    tree = shipped.trees[_launcher_tree(shipped)]
    if AUTORUN not in tree or LAUNCHER not in tree:
        print(f"{medium}: no medium of this product: it holds no {AUTORUN if AUTORUN not in tree else LAUNCHER}")
        return DIFFERENT

    origin = build.parse_application_id(shipped.application_id)
    named, uncommitted = origin.commit, origin.uncommitted
    revision, source = (request.commit, "as given") if request.commit else \
        (named, "as the image names it") if named else ("HEAD", "HEAD: the image names no commit")
    commit = commit_id(revision)
    if commit is None:
        print(f"{medium}: {revision} ({source}) is no commit of this repository; nothing was compared")
        return DIFFERENT
    trusted_by = checkouts.trusted_by(commit)
    if trusted_by is None:
        print(f"{medium}: {checkouts.refusal(commit)}")
        return DIFFERENT
    source += f", in the history of {trusted_by if trusted_by == 'HEAD' else '--trust ' + trusted_by}"
    try:
        # The command line's pin replaces the commit's own.
        pins = None if request.pinned_sha256 else signers.at_commit(commit)
        authorities = signers.timestamp_authorities_at(commit)
    except signers.SignersError as error:
        print(f"{medium}: {error}, so no signer can be checked against it; nothing was compared")
        return DIFFERENT
    if uncommitted:
        report.differs("the image says it was made from a working tree with uncommitted changes: no commit makes it")
    if named and named != commit:
        report.differs(f"the image names commit {named[:12]}, not {commit[:12]}")

    checkout = checkouts.get(commit)
    if not (checkout / "tools" / "medium" / "medium.py").is_file():
        print(f"{medium}: commit {commit[:12]} predates this check; check the medium with that commit's"
              " scripts/check-medium")
        return DIFFERENT
    # The verdict rests on the bytes alone: the record only explains a difference that its toolchain may.
    record = request.buildinfo or toolchain.record_path(medium)
    toolchain_notes = toolchain.compare_with_record(record) if record.is_file() else []
    for line in toolchain_notes:
        print(f"==> {line}", file=sys.stderr, flush=True)
    payload, rebuilt = request.payload, None
    try:
        if payload is None:
            payload = work / "payload"
            shipped.extract(_launcher_tree(shipped), payload, leave_out=ADDED)
    except iso9660.ExtractError as error:
        for path, why in error.failures:
            report.differs(f"{path} cannot be written out of the medium to make it again ({why}), so nothing was"
                           " compared")
    else:
        rebuilt = _remake(shipped, origin.version, checkout, payload, work, report)
    if rebuilt is not None:
        compare(shipped, rebuilt, request.payload is not None, report)
    timestamp_anchors = work / "timestamp-authorities.pem" if authorities else None
    if timestamp_anchors:
        timestamp_anchors.write_bytes(authorities)
    vouched = examine_launchers(shipped, pins, report, request.ca, request.pinned_sha256, timestamp_anchors)
    # Without an independent payload, the payload files are checked against the list inside the verified
    # setup.exe: the remake was made from the medium's own files, so only the list vouches for them.
    listed = listed_by(vouched, report) if request.payload is None else None
    off_list = check_listed_files(shipped, listed, report) if listed is not None else set()
    files = sorted(path for path, entry in tree.items() if path and not entry.is_folder)
    for path in files:
        if request.payload is None and is_payload_file(path):
            if listed is None:
                report.not_checked.append(path)
                report.note(f"not checked: {path} (taken from the medium itself; give --payload)")
            elif windows_name(path) not in off_list:
                report.listed += 1
                report.same(f"{path} (as the payload list in the signed setup.exe names it, in every name tree)")
        elif rebuilt is not None and path not in report.differing_paths:
            report.same(path)

    if report.differences:
        for line in toolchain_notes:
            report.note(f"toolchain: {line}")
    version = origin.version or build.DEFAULT_VERSION
    print(f"{medium} against commit {commit[:12]} ({source}), version {version}:")
    print("\n".join(report.lines))
    if report.differences:
        print(f"{medium}: {report.differences} difference(s) from the medium commit {commit[:12]} makes (version"
              f" {version})")
        return DIFFERENT
    unchecked = [f"{len(report.not_checked)} payload file(s) (give --payload)"] if report.not_checked else []
    unchecked += [f"the signer of {where} (give --ca FILE or --signer-sha256, or list its certificate in the"
                  f" commit's {signers.PATH})" for where in report.unchecked_signers] + report.unchecked
    if unchecked:
        print(f"{medium}: the same as commit {commit[:12]} makes (version {version}), except what was not"
              f" checked: {'; '.join(unchecked)}")
        return PARTIAL
    signature = f"; {report.signature}" if report.signature else ""
    if report.listed:
        signature += f"; its {report.listed} payload file(s) as its signed payload list names them"
    print(f"{medium}: the same medium as commit {commit[:12]} makes (version {version}){signature}")
    return SAME


def check(request: Request, scratch: Path, cache: Path = CHECKOUT_CACHE) -> int:
    head = commit_id("HEAD")
    checkouts = Checkouts(cache, ([("HEAD", head)] if head else []) + request.trusted)
    status = SAME
    for number, medium in enumerate(request.media, 1):
        work = scratch / f"medium-{number}"
        work.mkdir()
        try:
            result = check_medium(medium, request, checkouts, work)
        except iso9660.ImageError as error:  # a part of it that only shows when it is read
            print(f"{medium}: cannot be read as an image: {error}")
            result = DIFFERENT
        status = DIFFERENT if DIFFERENT in (status, result) else max(status, result)
        shutil.rmtree(work, ignore_errors=True)
    return status

