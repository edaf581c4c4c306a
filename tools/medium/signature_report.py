"""The signature of setup.exe on a shipped medium, as each name tree gives it: verified by both verifiers,
its signer checked against --ca, --signer-sha256 or the commit's pins, and told in the report. A timestamp
stands for the present in the check of the signer's dates only when its authority leads to --ca or, without
it, to the roots that the commit lists in release/timestamp-authorities.pem; a signature that holds only at
the time of a timestamp that nothing anchors is not checked (exit 3), never vouched for."""

from __future__ import annotations

from datetime import datetime, timezone
from pathlib import Path

import authenticode
import iso9660
import second_verifier
import signers
from check_report import Report
from payload import LAUNCHER


def examine_launchers(shipped: iso9660.Image, pins: signers.Pins | None, report: Report, ca: Path | None = None,
                      pinned_sha256: str | None = None, timestamp_anchors: Path | None = None,
                      now: datetime | None = None) -> bytes | None:
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
        now = now or datetime.now(timezone.utc)
        anchors = dict(now=now, timestamp_anchors=timestamp_anchors)
        examination = authenticode.examine(program, **anchors)  # who signed, before any signer check
        if not examination.signed:
            for problem in examination.problems:
                report.differs(f"{where}: {problem}")
            asked = [name for name, given in (("--ca", ca), ("--signer-sha256", pinned_sha256),
                                              (pins.source if pins else "", pins)) if given]
            if asked:
                report.differs(f"{where} is unsigned, though a signer was asked for ({', '.join(asked)})")
            elif not examination.problems:
                report.note(f"unsigned: {where}")
                report.signature = f"{where} is unsigned"
            continue
        pin = pinned_sha256
        if pins and examination.signer is not None:
            if pins.lists(examination.signer.sha256):
                pin = examination.signer.sha256
            else:
                report.differs(f"the signature of {where}: its signer ({examination.signer.subject}) is none of those"
                               f" that {pins.source} lists: its certificate's SHA-256 is {examination.signer.sha256}")
        if ca or pin:
            examination = authenticode.examine(program, ca_file=ca, pinned_sha256=pin, **anchors)
        for problem in examination.problems:
            report.differs(f"the signature of {where}: {problem}")
        # Verified only when the independent verifier agrees.
        second = second_verifier.verify(program, ca_file=ca, pinned_sha256=pin, **anchors)
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
            anchored = "" if examination.timestamp_anchored else ("; its authority leads to no anchor (--ca, or the"
                                                                  f" roots in the commit's {signers.TIMESTAMP_AUTHORITIES})")
            report.note(f"  timestamp {examination.timestamp:%Y-%m-%d %H:%M:%S} UTC{by}{anchored}")
        else:
            report.note("  no timestamp: Windows trusts the signature only while the certificate is valid")
        if examination.problems or disagreement:
            continue
        if examination.unanchored_timestamp:
            report.note(f"  the signature of {where} is intact, but its signer's certificate is valid only at the time"
                        " of its timestamp, which nothing anchors: timestamp not anchored (give --ca)")
            # osslsigncode, anchoring no timestamp either, finds the certificate expired and refuses too.
            report.note(f"  {second.words}; it checked {second.covers}")
            report.unchecked.append(f"the dates of the signer of {where}: timestamp not anchored (give --ca)")
            if examination.signer_check != "not checked" or pins:
                continue
        else:
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
