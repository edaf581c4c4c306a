"""check-medium: whether a shipped image is, byte for byte, the image that a commit makes from the same
labels and payload with the shipped signature, and whether that signature verifies. A difference is named
by file and name tree, or by the part of the image it lies in; what was not compared is said, never
called the same.

Only the vendor's own commits are made again: a commit is checked out and its make-medium run only when it
is reachable from the checkout's HEAD (the branch the vendor releases from) or from a ref that --trust
names. Being in the object store (a fetched or deleted branch) or tagged (a fetch brings a remote's tags
along) is not enough; a commit outside that history is refused, named, and nothing of it is run.

The signer of setup.exe is checked against --ca, --signer-sha256, or else the pins that the commit itself
holds in release/signers.sha256 (the command line's pin replaces the committed ones).

Without --payload, the medium is made again from its own files, so those files are vouched for by the
payload list inside setup.exe alone: once setup.exe's signature verifies and its signer is checked, every
payload file of every name tree is checked against that list (SHA-256 and size, and the names).

Exit status: 0 every medium is the same, and each signed one's signer was checked; 1 a medium differs (or
cannot be checked, or names a commit outside the trusted history); 3 the media are the same except for
what was not checked: payload files neither compared with an independent payload (--payload) nor vouched
for by a signed payload list (an unsigned setup.exe, or one without a list), or a signer that nothing
checked.
"""

from __future__ import annotations

import bisect
import shutil
import subprocess
import sys
from collections import Counter
from dataclasses import dataclass, field
from datetime import datetime, timezone
from pathlib import Path

import authenticode
import build
import iso9660
import second_verifier
import signers
import payload_list
from payload import ADDED, AUTORUN, LAUNCHER, autorun_label, is_payload_file, windows_name

SAME, DIFFERENT, PARTIAL = 0, 1, 3
# Past this many parts of an image, the rest of the differing parts are counted, not listed.
MAX_REGIONS_LISTED = 12


@dataclass
class Request:
    media: list[Path]
    commit: str | None = None
    payload: Path | None = None
    ca: Path | None = None
    pinned_sha256: str | None = None
    trusted: list[tuple[str, str]] = field(default_factory=list)  # --trust: (as given, commit id)


@dataclass
class Report:
    lines: list[str] = field(default_factory=list)
    differences: int = 0
    differing_paths: set[str] = field(default_factory=set)
    not_checked: list[str] = field(default_factory=list)
    unchecked_signers: list[str] = field(default_factory=list)  # programs signed by someone nobody checked
    signature: str = ""  # setup.exe's signature in a few words, for the verdict
    listed: int = 0  # payload files checked against the signed payload list

    def same(self, text: str) -> None:
        self.lines.append(f"  same: {text}")

    def differs(self, text: str) -> None:
        self.lines.append(f"  differs: {text}")
        self.differences += 1

    def note(self, text: str) -> None:
        self.lines.append(f"  {text}")


def commit_id(revision: str) -> str | None:
    result = build.git("rev-parse", "--verify", "--quiet", f"{revision}^{{commit}}")
    return result.stdout.strip() if result.returncode == 0 else None


class Checkouts:
    """Each commit checked out once, and only a commit of the vendor's history (the tips are the refs whose
    history it must be in, as (name, commit id)), into a folder of its own that is kept
    (build/check-medium/COMMIT), so that its release build is made once: the next check of a medium of that
    commit only brings the build up to date. A kept checkout that is no longer the commit's clean tree is
    checked out again."""

    def __init__(self, cache: Path, tips: list[tuple[str, str]]):
        self.cache = cache
        self.tips = tips
        self.folders: dict[str, Path] = {}

    def trusted_by(self, commit: str) -> str | None:
        """The first tip whose history holds the commit, by name; None when none does."""
        for name, tip in self.tips:
            if build.git("merge-base", "--is-ancestor", commit, tip).returncode == 0:
                return name
        return None

    def refusal(self, commit: str) -> str:
        names = " or ".join(name if name == "HEAD" else f"--trust {name}" for name, _ in self.tips)
        return (f"commit {commit} is not in the vendor's history: it is not reachable from"
                f" {names or 'a HEAD (there is none) or a --trust REF'}; a commit that is only in the object store"
                " (a fetched or deleted branch, a remote's tag) is no release, so nothing of it was checked out or"
                " run and nothing was compared (--trust REF trusts another branch of yours)")

    def get(self, commit: str) -> Path:
        if commit not in self.folders:
            self.cache.mkdir(parents=True, exist_ok=True)
            folder = self.cache / commit
            with build.build_lock(folder):
                if not self._clean(folder, commit):
                    shutil.rmtree(folder, ignore_errors=True)
                    print(f"==> Checking out {commit[:12]} into {folder}", file=sys.stderr, flush=True)
                    for step in (["clone", "--quiet", "--shared", "--no-checkout", str(build.REPO_ROOT), str(folder)],
                                 ["-C", str(folder), "checkout", "--quiet", "--detach", commit]):
                        result = subprocess.run(["git", *step], capture_output=True, text=True,
                                                env=build.clean_environment())
                        if result.returncode != 0:
                            raise build.BuildError(f"checking out {commit[:12]} failed: {result.stderr.strip()}")
                else:
                    print(f"==> Using the checkout of {commit[:12]} in {folder}", file=sys.stderr, flush=True)
            self.folders[commit] = folder
        return self.folders[commit]

    @staticmethod
    def _clean(folder: Path, commit: str) -> bool:
        """Whether folder is a checkout of commit without changes (its build folders aside)."""
        if not (folder / ".git").exists():
            return False
        head = build.git("rev-parse", "--verify", "--quiet", "HEAD^{commit}", repo=folder)
        status = build.git("status", "--porcelain=v1", "--untracked-files=all", repo=folder)
        return head.returncode == 0 and head.stdout.strip() == commit and status.returncode == 0 and \
            not status.stdout.strip()


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
        signature = authenticode.signature_der(launcher)
    except authenticode.Refused:
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
    return iso9660.read_image(rebuilt)


@dataclass
class Comparison:
    """Where two images differ, from one pass over both: the blocks that differ, and how many differing
    bytes each piece of the shipped image's layout holds (a piece lies in the same files and regions
    throughout)."""

    size: int = 0
    differing_blocks: set[int] = field(default_factory=set)
    differing_bytes: int = 0
    pieces: list[tuple[int, int, tuple]] = field(default_factory=list)  # (start, end, owners)
    counts: Counter = field(default_factory=Counter)  # differing bytes by piece index

    @property
    def same(self) -> bool:
        return not self.differing_bytes

    def touches(self, extents: list[tuple[int, int]]) -> bool:
        return any(block in self.differing_blocks for start, length in extents
                   for block in range(start // BLOCK, -(-(start + length) // BLOCK)))


BLOCK = iso9660.BLOCK


def _layout(image: iso9660.Image) -> list[tuple[int, int, tuple]]:
    """The image cut into pieces, each with what it belongs to: regions by name, files as (tree, path)."""
    owners: list[tuple[int, int, object]] = [(r.start, r.end, r.what) for r in image.regions]
    owners += [(start, start + length, (tree, path)) for tree, entries in image.trees.items()
               for path, entry in entries.items() if not entry.is_folder for start, length in entry.extents if length]
    cuts = sorted({0, image.size, *(point for start, end, _ in owners for point in (start, end))})
    cuts = [point for point in cuts if 0 <= point <= image.size]
    pieces = []
    by_start = sorted(owners, key=lambda owner: owner[0])
    active: list[tuple[int, int, object]] = []
    next_owner = 0
    for start, end in zip(cuts, cuts[1:]):
        while next_owner < len(by_start) and by_start[next_owner][0] <= start:
            active.append(by_start[next_owner])
            next_owner += 1
        active = [owner for owner in active if owner[1] > start]
        pieces.append((start, end, tuple(owner for _, _, owner in active)))
    return pieces


def _differing(ours: bytes, theirs: bytes) -> bytes:
    """A byte string as long as ours, nonzero wherever theirs differs (or has no byte)."""
    common = min(len(ours), len(theirs))
    mask = int.from_bytes(ours[:common], "little") ^ int.from_bytes(theirs[:common], "little")
    return mask.to_bytes(common, "little") + b"\xff" * (len(ours) - common)


def _compare_images(shipped: iso9660.Image, rebuilt: iso9660.Image) -> Comparison:
    """Both images read once, block by block: which blocks differ, and how many bytes in each piece."""
    comparison = Comparison(size=shipped.size)
    pieces = None
    with open(shipped.path, "rb") as ours, open(rebuilt.path, "rb") as theirs:
        offset = 0
        while True:
            a, b = ours.read(BLOCK), theirs.read(BLOCK)
            if not a:
                break
            if a != b:
                if pieces is None:
                    pieces = comparison.pieces = _layout(shipped)
                    starts = [piece[0] for piece in pieces]
                comparison.differing_blocks.add(offset // BLOCK)
                mask = _differing(a, b)
                comparison.differing_bytes += len(mask) - mask.count(0)
                index = max(bisect.bisect_right(starts, offset) - 1, 0)
                while index < len(pieces) and pieces[index][0] < offset + len(a):
                    low, high = max(pieces[index][0], offset) - offset, min(pieces[index][1], offset + len(a)) - offset
                    count = (high - low) - mask.count(0, low, high)
                    if count:
                        comparison.counts[index] += count
                    index += 1
            offset += len(a)
    if rebuilt.size > shipped.size:
        comparison.differing_bytes += rebuilt.size - shipped.size
    return comparison


def _same_content(shipped: iso9660.Image, ours: iso9660.Entry, rebuilt: iso9660.Image, theirs: iso9660.Entry) -> bool:
    """Whether two files hold the same bytes, read side by side in blocks."""
    if ours.size != theirs.size:
        return False
    left, right = shipped.blocks(ours), rebuilt.blocks(theirs)
    a = b = memoryview(b"")
    while True:
        if not a:
            a = memoryview(next(left, b""))
        if not b:
            b = memoryview(next(right, b""))
        if not a or not b:
            return not a and not b
        length = min(len(a), len(b))
        if a[:length] != b[:length]:
            return False
        a, b = a[length:], b[length:]


def _compare_trees(shipped: iso9660.Image, rebuilt: iso9660.Image, comparison: Comparison, checked_payload: bool,
                   report: Report) -> set[tuple[str, str]]:
    """Each name tree's files, named where they differ; returns them as (tree, path). A file whose extents
    are where the commit's are, in blocks that do not differ, is the same without being read again."""
    differing: set[tuple[str, str]] = set()
    for tree in (iso9660.ROCK_RIDGE, iso9660.JOLIET, iso9660.ISO_9660):
        if tree not in shipped.trees and tree not in rebuilt.trees:
            continue
        if tree not in rebuilt.trees:
            report.differs(f"the shipped image has {tree} names, which the commit's has not")
            continue
        if tree not in shipped.trees:
            report.differs(f"the shipped image lacks the {tree} names that the commit's has")
            continue
        ours, theirs = shipped.trees[tree], rebuilt.trees[tree]
        for path in sorted(set(ours) - set(theirs)):
            report.differs(f"{path} is only on the shipped medium ({tree} names)")
            differing.add((tree, path))
        for path in sorted(set(theirs) - set(ours)):
            report.differs(f"{path} is missing from the shipped medium ({tree} names)")
        for path in sorted(set(ours) & set(theirs)):
            if ours[path].is_folder != theirs[path].is_folder:
                report.differs(f"{path} is a {'folder' if ours[path].is_folder else 'file'} on the shipped medium"
                               f" ({tree} names)")
                differing.add((tree, path))
            elif ours[path].is_folder:
                continue
            elif ours[path].extents == theirs[path].extents and not comparison.touches(ours[path].extents):
                continue
            elif not _same_content(shipped, ours[path], rebuilt, theirs[path]):
                plain = path.lower() if tree == iso9660.ISO_9660 else path  # that tree's names are capitals
                note = ""
                if checked_payload:
                    pass
                elif is_payload_file(plain):
                    note = ", though the commit's medium was made from the shipped one's files"
                elif plain == LAUNCHER:
                    note = ", though the commit's was built with a payload list of the shipped medium's own files"
                report.differs(f"{path} ({tree} names{note})")
                report.differing_paths.add(path)
                differing.add((tree, path))
    if shipped.udf and not rebuilt.udf:
        report.differs("the shipped image carries a UDF file system, which Windows may read instead of the Joliet"
                       " names and which the commit's media do not have (its files were not read)")
    return differing


def _compare_regions(shipped: iso9660.Image, rebuilt: iso9660.Image, comparison: Comparison,
                     differing_files: set[tuple[str, str]], report: Report) -> None:
    """The differing bytes of the shipped image that lie in no differing file: which part of the image
    holds them, and how many bytes nothing explains (in no part, or in a file whose content is the same
    as the commit's)."""
    if shipped.size != rebuilt.size:
        report.differs(f"the shipped image is {shipped.size} bytes, the commit's {rebuilt.size}")
    parts: Counter[str] = Counter()
    unexplained = 0
    for index, count in comparison.counts.items():
        owners = comparison.pieces[index][2]
        regions = [owner for owner in owners if isinstance(owner, str)]
        if any(owner in differing_files for owner in owners):
            continue  # named with its file
        for region in regions:
            parts[region] += count
        if not regions:
            unexplained += count
    for number, (part, count) in enumerate(sorted(parts.items())):
        if number == MAX_REGIONS_LISTED:
            report.differs(f"{len(parts) - number} more parts of the image outside any file")
            break
        report.differs(f"{part}: {count} byte(s), outside any file")
    if unexplained:
        report.differs(f"{unexplained} bytes differ that no file, folder or descriptor explains")


def _compare(shipped: iso9660.Image, rebuilt: iso9660.Image, checked_payload: bool, report: Report) -> None:
    """The verdict rests on equal bytes: an image that is not the commit's byte for byte differs, and the
    naming of files and parts only says where."""
    comparison = _compare_images(shipped, rebuilt)
    if comparison.same and shipped.size == rebuilt.size:
        report.same(f"the whole image, byte for byte ({shipped.size} bytes)")
        return
    before = report.differences
    differing_files = _compare_trees(shipped, rebuilt, comparison, checked_payload, report)
    _compare_regions(shipped, rebuilt, comparison, differing_files, report)
    if report.differences == before:
        report.differs(f"{comparison.differing_bytes} bytes of the image differ from the commit's")


def _examine_launchers(shipped: iso9660.Image, request: Request, pins: signers.Pins | None,
                       report: Report) -> bytes | None:
    """The signature of setup.exe as each name tree gives it (they are the same program on a sound medium),
    its signer checked against --ca and the pins: a signer that no pin names is a difference. Returns the
    program when every tree gives this one program and its signature verifies with its signer checked."""
    programs: dict[bytes, list[str]] = {}
    vouched = None
    for tree, entries in shipped.trees.items():
        entry = next((e for path, e in entries.items() if path.lower() == LAUNCHER and not e.is_folder), None)
        if entry is not None:
            programs.setdefault(shipped.read(entry), []).append(tree)
    for program, trees in programs.items():
        where = f"setup.exe ({', '.join(trees)} names)" if len(programs) > 1 else "setup.exe"
        now = datetime.now(timezone.utc)
        examination = authenticode.examine(program, now=now)  # who signed, before any signer check
        if not examination.signed:
            for problem in examination.problems:
                report.differs(f"{where}: {problem}")
            asked = [name for name, given in (("--ca", request.ca), ("--signer-sha256", request.pinned_sha256),
                                              (pins.source if pins else "", pins)) if given]
            if asked:
                report.differs(f"{where} is unsigned, though a signer was asked for ({', '.join(asked)})")
            elif not examination.problems:
                report.note(f"unsigned: {where}")
                report.signature = f"{where} is unsigned"
            continue
        pin = request.pinned_sha256
        if pins and examination.signer is not None:
            if pins.lists(examination.signer.sha256):
                pin = examination.signer.sha256
            else:
                report.differs(f"the signature of {where}: its signer ({examination.signer.subject}) is none of those"
                               f" that {pins.source} lists: its certificate's SHA-256 is {examination.signer.sha256}")
        if request.ca or pin:
            examination = authenticode.examine(program, ca_file=request.ca, pinned_sha256=pin, now=now)
        for problem in examination.problems:
            report.differs(f"the signature of {where}: {problem}")
        # Verified only when the independent verifier agrees.
        second = second_verifier.verify(program, ca_file=request.ca, pinned_sha256=pin, now=now)
        disagreement = second_verifier.disagreement(examination, second)
        if disagreement:
            report.differs(f"the signature of {where}: {disagreement}")
        signer = examination.signer
        if signer is not None:
            report.note(f"signer of {where}: {signer.subject}")
            report.note(f"  issued by {signer.issuer}; certificate SHA-256 {signer.sha256}")
        if examination.signing_time:
            report.note(f"  signing time {examination.signing_time:%Y-%m-%d %H:%M:%S} UTC")
        if examination.timestamp:
            by = f" by {examination.timestamp_signer.subject}" if examination.timestamp_signer else ""
            report.note(f"  timestamp {examination.timestamp:%Y-%m-%d %H:%M:%S} UTC{by}")
        else:
            report.note("  no timestamp: Windows trusts the signature only while the certificate is valid")
        if examination.problems or disagreement:
            continue
        report.note(f"  {second.by} agrees; it checked {second.covers}")
        if examination.signer_check == "not checked":
            if not pins:  # with pins, a signer that none names is a difference already
                report.note(f"  the signature of {where} is intact, but its signer was not checked (give --ca FILE"
                            f" or --signer-sha256, or list it in the commit's {signers.PATH})")
                report.unchecked_signers.append(where)
        else:
            checked = examination.signer_check + (f", by {pins.source}" if pins and pin else "")
            report.note(f"  the signature of {where} verifies; signer checked: {checked}")
            report.signature = f"{where} signed by {signer.subject} (signer checked: {checked})"
            vouched = program if len(programs) == 1 else None
    return vouched


def _listed_by(program: bytes | None, report: Report) -> dict[str, payload_list.Listed] | None:
    """The payload list of a verified setup.exe whose signer was checked; None when there is none to go by
    (a damaged list is a difference)."""
    if program is None:
        if report.unchecked_signers:
            report.note("setup.exe's payload list was not used: it vouches for nothing while its signer is unchecked")
        return None
    try:
        carried = payload_list.from_program(program)
        if carried is None:
            report.note("setup.exe carries no payload list")
            return None
        return payload_list.parse(carried)
    except payload_list.DamagedList as error:
        report.differs(f"the payload list of setup.exe is damaged: {error}")
        return None


def _check_listed_files(shipped: iso9660.Image, listed: dict[str, payload_list.Listed], report: Report) -> set[str]:
    """Every payload file of every name tree against the signed payload list: the Rock Ridge and Joliet
    names must be the list's, the plain ISO 9660 names (shortened as that tree shortens them) must hold the
    list's files one for one, and each file the bytes the list gives. Each extent is read once, streamed.
    Returns the Windows paths found different."""
    hashed: dict[tuple, payload_list.Listed] = {}

    def content(entry: iso9660.Entry) -> payload_list.Listed:
        key = tuple(entry.extents)
        if key not in hashed:
            hashed[key] = payload_list.hash_blocks(shipped.blocks(entry))
        return hashed[key]

    problems: dict[str, list[str]] = {}  # a difference: the trees it is found in
    differing: set[str] = set()
    for tree in (iso9660.ROCK_RIDGE, iso9660.JOLIET, iso9660.ISO_9660):
        if tree not in shipped.trees:
            continue
        entries = {path: entry for path, entry in shipped.trees[tree].items() if path and not entry.is_folder
                   and is_payload_file(path.lower() if tree == iso9660.ISO_9660 else path)}
        if tree != iso9660.ISO_9660:
            found = {windows_name(path): content(entry) for path, entry in entries.items()}
            for line in payload_list.differences(listed, found):
                problems.setdefault(line, []).append(tree)
            differing.update(path for path in set(found) | set(listed) if found.get(path) != listed.get(path))
            continue
        # Shortened names: the files must still be the list's, one for one.
        remaining = Counter(listed.values())
        for path in sorted(entries):
            held = content(entries[path])
            if remaining[held]:
                remaining[held] -= 1
            else:
                problems.setdefault(f"{windows_name(path)} holds no file that the payload list names"
                                    f" (SHA-256 {held.sha256}, {held.size} bytes)", []).append(tree)
                differing.add(windows_name(path))
        for path in sorted(listed):
            if remaining[listed[path]]:
                remaining[listed[path]] -= 1
                problems.setdefault(f"{path}: no file holds what the payload list names for it", []).append(tree)
                differing.add(path)
    for line, trees in problems.items():
        report.differs(f"{line} ({', '.join(trees)} names)")
    return differing


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
    payload = request.payload
    if payload is None:
        payload = work / "payload"
        shipped.extract(_launcher_tree(shipped), payload, leave_out=ADDED)

    rebuilt = _remake(shipped, origin.version, checkout, payload, work, report)
    if rebuilt is not None:
        _compare(shipped, rebuilt, request.payload is not None, report)
    vouched = _examine_launchers(shipped, request, pins, report)
    # Without an independent payload, the payload files are checked against the list inside the verified
    # setup.exe: the remake was made from the medium's own files, so only the list vouches for them.
    listed = _listed_by(vouched, report) if request.payload is None else None
    off_list = _check_listed_files(shipped, listed, report) if listed is not None else set()
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

    version = origin.version or build.DEFAULT_VERSION
    print(f"{medium} against commit {commit[:12]} ({source}), version {version}:")
    print("\n".join(report.lines))
    if report.differences:
        print(f"{medium}: {report.differences} difference(s) from the medium commit {commit[:12]} makes (version"
              f" {version})")
        return DIFFERENT
    unchecked = [f"{len(report.not_checked)} payload file(s) (give --payload)"] if report.not_checked else []
    unchecked += [f"the signer of {where} (give --ca FILE or --signer-sha256, or list its certificate in the"
                  f" commit's {signers.PATH})" for where in report.unchecked_signers]
    if unchecked:
        print(f"{medium}: the same as commit {commit[:12]} makes (version {version}), except what was not"
              f" checked: {'; '.join(unchecked)}")
        return PARTIAL
    signature = f"; {report.signature}" if report.signature else ""
    if report.listed:
        signature += f"; its {report.listed} payload file(s) as its signed payload list names them"
    print(f"{medium}: the same medium as commit {commit[:12]} makes (version {version}){signature}")
    return SAME


# Where each checked commit's checkout and release build are kept.
CHECKOUT_CACHE = build.REPO_ROOT / "build" / "check-medium"


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

