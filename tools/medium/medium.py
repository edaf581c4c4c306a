"""The medium tooling behind scripts/make-medium and scripts/check-medium:

    medium.py make [OPTIONS] PAYLOAD_DIR OUTPUT.iso
    medium.py check [OPTIONS] SHIPPED.iso...

Run with Debian's /usr/bin/python3 (python3-asn1crypto and python3-cryptography read and verify
signatures). Exit status: 0 done (check: the same, signer checked), 1 refused or different, 2 a usage
error, 3 (check) the same except for what was not checked: payload files, or the signer.
"""

from __future__ import annotations

import argparse
import os
import shutil
import sys
import tempfile
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))

import build  # noqa: E402
import check  # noqa: E402
import make  # noqa: E402
import payload  # noqa: E402
import signers  # noqa: E402
import signing  # noqa: E402

MAKE_HELP = """\
Turns a payload folder into a finished installation medium: an ISO 9660 image with Joliet and Rock Ridge
names that holds the 32-bit setup.exe at its root, the payload's voabc.txt and vorncopy folder, and an
autorun.inf that starts setup.exe with its icon and a drive label.

PAYLOAD_DIR must hold voabc.txt and vorncopy/ with Dao350.dll, msjter35.dll and tarvinxp.exe (in any
letter case, as Windows reads them); everything else in vorncopy/ goes onto the medium as it is, other
entries of PAYLOAD_DIR do not.

setup.exe is what the checkout's commit builds: a working tree with changes is refused, naming them
(--uncommitted builds it anyway, for development; the image then says so, and check-medium never calls
it the same as a commit's). The image records the commit in its application identifier. It is the same,
byte for byte, for the same commit and payload (and key, when signed without a timestamp): every date in
it, and the signature's signing time, is the commit's time (SOURCE_DATE_EPOCH when set; outside a git
checkout 2000-01-01 00:00:00 UTC). setup.exe comes from build/win32 (RELEASE_BUILD_DIR names another
build folder of the win32 preset), built first when missing or out of date; build output goes to
build/make-medium.log. An existing OUTPUT is replaced only once the new image is complete. Beside it,
OUTPUT.iso.buildinfo names the exact versions of the Debian packages that made its bytes: keep it with the
release, for check-medium to explain a difference with. Prints the image's SHA-256.

Signing: setup.exe gets an Authenticode signature (SHA-256) made by osslsigncode with a key in a PKCS#12
file or on a PKCS#11 token. The certificate must be valid now and allow code signing. Secrets never go on
a command line: a password or PIN is the first line of a file (a pipe or <(...) too) or comes from
SIGNING_PASSWORD / SIGNING_PIN, and reaches osslsigncode alone. When the commit holds
release/signers.sha256 (the SHA-256 fingerprints of the vendor's signing certificates, one a line), a
certificate it does not list is refused."""

CHECK_HELP = """\
Checks shipped media against the commit they were made from (the one the image names, else HEAD, or
--commit). Only a commit of the vendor's history is used: one reachable from this checkout's HEAD or from
a --trust REF; any other (a fetched or deleted branch, a remote's tag) is refused, and nothing of it is
run. check-medium checks that commit out into a scratch folder, makes each medium again there from the
medium's own labels, its payload (or --payload) and its setup.exe's signature, and compares the two
images byte for byte. A difference is named by file and name tree (Rock Ridge, Joliet, ISO 9660; a UDF
file system is named when present), or by the part of the image that holds it (system area, descriptors,
folders, path tables, gaps, data past the volume's end). The signature of setup.exe is verified and its
signer shown; --ca and --signer-sha256 check who signed it, and without --signer-sha256 so do the
fingerprints that the commit lists in release/signers.sha256. Where the medium's toolchain record
(SHIPPED.iso.buildinfo, or --buildinfo) names other package versions than this machine's, a difference is
explained with them; the verdict rests on the bytes alone.

Exit status: 0 every medium is the same, and every signer was checked; 1 a medium differs, cannot be
checked, or names a commit outside the vendor's history; 2 a usage error; 3 the same except for what was
not checked: payload files (no --payload), or a signer that neither --ca, --signer-sha256 nor the commit's
release/signers.sha256 checked."""


class Parser(argparse.ArgumentParser):
    def error(self, message: str):
        self.print_usage(sys.stderr)
        self.exit(2, f"error: {message}\n(see {self.prog} --help)\n")


def make_parser(prog: str) -> argparse.ArgumentParser:
    parser = Parser(prog=prog, description=MAKE_HELP, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("payload", metavar="PAYLOAD_DIR", type=Path)
    parser.add_argument("output", metavar="OUTPUT.iso", type=Path)
    parser.add_argument("--volume-label", default=payload.DEFAULT_VOLUME_LABEL, metavar="NAME",
                        help="the disc's volume name: 1 to 16 of A-Z, 0-9 and _ (default %(default)s)")
    parser.add_argument("--autorun-label", default=payload.DEFAULT_AUTORUN_LABEL, metavar="TEXT",
                        help="the drive's name in Explorer, from autorun.inf (default %(default)s); any printable"
                             " text, Chinese too")
    parser.add_argument("--version", metavar="X.Y.Z", help="the programs' version record (default: the commit's"
                        " tag vX.Y.Z, else 1.00); the same commit and version give the same bytes")
    parser.add_argument("--verbose", action="store_true", help="show the build's output (otherwise it goes to"
                        " build/make-medium.log)")
    parser.add_argument("--uncommitted", action="store_true",
                        help="build the working tree with its changes (a development medium, marked as such)")
    keys = parser.add_argument_group("signing")
    keys.add_argument("--pkcs12", type=Path, metavar="FILE", help="the key and its certificate (chain) in a PKCS#12"
                      " file; the password is the first line of --password-file FILE, else $SIGNING_PASSWORD")
    keys.add_argument("--password-file", metavar="FILE")
    keys.add_argument("--pkcs11-module", type=Path, metavar="PATH", help="the token's PKCS#11 module")
    keys.add_argument("--pkcs11-key", metavar="KEY", help="the key on it: a PKCS#11 URI or its hex id")
    keys.add_argument("--certificate", type=Path, metavar="FILE", help="the key's certificate, PEM or DER (PEM"
                      " may add the chain); the PIN is the first line of --pin-file FILE, else $SIGNING_PIN")
    keys.add_argument("--pin-file", metavar="FILE")
    keys.add_argument("--timestamp-url", action="append", default=[], metavar="URL",
                      help="an RFC 3161 timestamp server; repeat it for more, tried in order")
    keys.add_argument("--allow-no-timestamp", action="store_true",
                      help="sign without a timestamp when no timestamp server answers")
    keys.add_argument("--description", metavar="TEXT", help="the signature's description (default: tarvin)")
    keys.add_argument("--url", metavar="URL", help="the signature's web address (default: none)")
    parser.add_argument("--signature-from", type=Path, metavar="PROGRAM", help=argparse.SUPPRESS)
    return parser


def check_parser(prog: str) -> argparse.ArgumentParser:
    parser = Parser(prog=prog, description=CHECK_HELP, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("media", metavar="SHIPPED.iso", nargs="+", type=Path)
    parser.add_argument("--commit", metavar="REV", help="the commit the media were made from (default: the one"
                        " each image names, else HEAD; uncommitted changes are never part of it); it too must be"
                        " in the vendor's history")
    parser.add_argument("--trust", action="append", default=[], metavar="REF", help="a branch (or any commit) of"
                        " the vendor's own besides HEAD: commits reachable from it are made again too; repeat it for"
                        " more")
    parser.add_argument("--payload", type=Path, metavar="DIR", help="the payload folder the media were made from,"
                        " so that its files are compared too (without it they are reported as not checked)")
    parser.add_argument("--ca", type=Path, metavar="FILE", help="the vendor's trust anchors (PEM): the signer's"
                        " chain must lead to them")
    parser.add_argument("--buildinfo", type=Path, metavar="FILE", help="the toolchain record that make-medium"
                        " wrote beside the image (default: SHIPPED.iso.buildinfo, when there): where this machine's"
                        " toolchain differs from it, a difference is explained by it")
    parser.add_argument("--signer-sha256", metavar="HEX|FILE", help="the expected signer: its certificate's"
                        " SHA-256 fingerprint, or the certificate as a file (instead of the fingerprints that the"
                        " commit lists in release/signers.sha256)")
    return parser


def signing_key(options: argparse.Namespace, secrets: dict[str, signing.Secret]) -> signing.Key | None:
    """Which key signs setup.exe, if any, and the secret that opens it."""
    token = [options.pkcs11_module, options.pkcs11_key, options.certificate, options.pin_file]
    if options.pkcs12:
        if any(token):
            raise signing.SigningError("--pkcs12 signs with a file key: --pkcs11-module, --pkcs11-key, --certificate"
                                       " and --pin-file are for a token")
        if not options.pkcs12.is_file():
            raise signing.SigningError(f"the PKCS#12 file {options.pkcs12} does not exist")
        key = signing.Key("pkcs12", pkcs12=options.pkcs12)
        secret_file, variable = options.password_file, "SIGNING_PASSWORD"
    elif any(token):
        if not (options.pkcs11_module and options.pkcs11_key and options.certificate):
            raise signing.SigningError("signing with a token needs --pkcs11-module, --pkcs11-key and --certificate")
        if options.password_file:
            raise signing.SigningError("--password-file is for --pkcs12; a token's PIN comes from --pin-file")
        if "pin-value=" in options.pkcs11_key.lower():
            raise signing.SigningError("the PKCS#11 URI carries the PIN (pin-value=), which would put it on a command"
                                       " line: leave it out and give --pin-file FILE or SIGNING_PIN")
        if not options.pkcs11_module.is_file():
            raise signing.SigningError(f"the PKCS#11 module {options.pkcs11_module} does not exist")
        if not options.certificate.is_file():
            raise signing.SigningError(f"the certificate {options.certificate} does not exist")
        key = signing.Key("pkcs11", module=options.pkcs11_module, key=options.pkcs11_key,
                          certificate=options.certificate)
        secret_file, variable = options.pin_file, "SIGNING_PIN"
    else:
        if options.password_file or options.timestamp_url or options.url or options.allow_no_timestamp or \
                options.description is not None:
            raise signing.SigningError("the signing options need a key: --pkcs12 FILE, or --pkcs11-module,"
                                       " --pkcs11-key and --certificate")
        return None
    description = options.description if options.description is not None else signing.DEFAULT_DESCRIPTION
    if not description or any(ord(c) < 32 for c in description):
        raise signing.SigningError("the description must be non-empty printable text on one line")
    key.description, key.url = description, options.url
    key.timestamp_urls, key.allow_no_timestamp = options.timestamp_url, options.allow_no_timestamp
    if secret_file:
        key.secret = signing.read_secret(secret_file)
    elif variable in secrets:
        key.secret = signing.secret_from_environment(secrets, variable)
    elif key.kind == "pkcs12":
        raise signing.SigningError(f"the password of {options.pkcs12}: give --password-file FILE or set"
                                   " SIGNING_PASSWORD")
    return key


def run_make(arguments: list[str], prog: str) -> int:
    secrets = signing.take_secrets()
    options = make_parser(prog).parse_args(arguments)
    key = signing_key(options, secrets)
    release_dir = os.environ.get("RELEASE_BUILD_DIR")
    request = make.Request(options.payload, options.output, options.volume_label, options.autorun_label, key,
                           options.signature_from, options.uncommitted, Path(release_dir) if release_dir else None,
                           options.version, options.verbose)
    make.make(request)
    print("\n".join(make.summary(options.output)))
    import hashlib

    digest = hashlib.sha256()
    with open(options.output, "rb") as image:
        for block in iter(lambda: image.read(1 << 20), b""):
            digest.update(block)
    print(f"{digest.hexdigest()}  {options.output}")
    return 0


def run_check(arguments: list[str], prog: str) -> int:
    options = check_parser(prog).parse_args(arguments)
    for medium in options.media:
        if not medium.is_file():
            raise payload.PayloadError(f"{medium} does not exist")
    if options.payload is not None and not options.payload.is_dir():
        raise payload.PayloadError(f"the payload folder {options.payload} does not exist")
    if options.ca is not None and not options.ca.is_file():
        raise payload.PayloadError(f"the trust anchors {options.ca} do not exist")
    if options.buildinfo is not None and not options.buildinfo.is_file():
        raise payload.PayloadError(f"the toolchain record {options.buildinfo} does not exist")
    pinned = None
    if options.signer_sha256:
        try:
            pinned = signers.signer_pin(options.signer_sha256)
        except ValueError as error:
            raise payload.PayloadError(str(error)) from None
    trusted = []
    for ref in options.trust:
        commit = check.commit_id(ref)
        if commit is None:
            raise payload.PayloadError(f"--trust {ref} names no commit of this repository")
        trusted.append((ref, commit))
    request = check.Request(options.media, options.commit, options.payload, options.ca, pinned, trusted)
    request.buildinfo = options.buildinfo
    scratch = Path(tempfile.mkdtemp(prefix="check-medium-"))
    try:
        return check.check(request, scratch)
    finally:
        shutil.rmtree(scratch, ignore_errors=True)


def main(argv: list[str]) -> int:
    commands = {"make": (run_make, "make-medium"), "check": (run_check, "check-medium")}
    if len(argv) < 2 or argv[1] not in commands:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    run, prog = commands[argv[1]]
    try:
        return run(argv[2:], os.environ.get("MEDIUM_PROGRAM_NAME", prog))
    except (payload.PayloadError, build.BuildError, signing.SigningError) as error:
        print(f"error: {error}", file=sys.stderr)
        return 1
    except KeyboardInterrupt:
        return 130


if __name__ == "__main__":
    sys.exit(main(sys.argv))
