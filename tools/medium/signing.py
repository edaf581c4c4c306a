"""Signing setup.exe with Authenticode through osslsigncode, with a key in a PKCS#12 file or on a PKCS#11
token. The password or PIN comes from a file's first line (a pipe too) or the environment, never from a
command line, and reaches osslsigncode (and openssl, to open the PKCS#12 file) through a pipe alone."""

from __future__ import annotations

import contextlib
import datetime
import os
import re
import struct
import subprocess
import sys
from dataclasses import dataclass, field
from pathlib import Path

import authenticode
import certificate_table
from cryptography import x509
from build import REPO_ROOT, SECRET_VARIABLES, clean_environment

# The PE checksum as the build's own post-link step computes it.
sys.path.insert(0, str(REPO_ROOT / "cmake"))
import run_from_swap  # noqa: E402

DEFAULT_DESCRIPTION = "tarvin"


class SigningError(Exception):
    pass


class Secret(str):
    """A password or PIN: the text itself wherever it is used, but never in a repr, so that a log of an
    object that holds it, or a traceback that shows local variables, does not print it."""

    __slots__ = ()

    def __repr__(self) -> str:
        return "Secret('***')"


@dataclass
class Key:
    kind: str  # "pkcs12" or "pkcs11"
    pkcs12: Path | None = None
    module: Path | None = None
    key: str | None = None
    certificate: Path | None = None
    secret: Secret | None = field(default=None, repr=False)
    timestamp_urls: list[str] = field(default_factory=list)
    allow_no_timestamp: bool = False
    description: str = DEFAULT_DESCRIPTION
    url: str | None = None


def read_secret(path: str) -> Secret:
    """The first line of a file, a pipe or a process substitution, without its line ending (LF or CR LF)."""
    try:
        with open(path, "rb") as file:
            line = file.readline()
    except OSError as error:
        raise SigningError(f"{path} cannot be read: {error.strerror}") from None
    line = line.rstrip(b"\n").rstrip(b"\r")
    if not line:
        raise SigningError(f"{path} is empty")
    try:
        return Secret(line.decode("utf-8"))
    except UnicodeDecodeError:
        raise SigningError(f"the first line of {path} is not UTF-8 text, which is how a password or PIN is given")\
            from None


def secret_from_environment(secrets: dict[str, Secret], variable: str) -> Secret:
    """A secret of the environment, which must be UTF-8 text as a file's would be."""
    try:
        secrets[variable].encode("utf-8")
    except UnicodeEncodeError:
        raise SigningError(f"{variable} is not UTF-8 text, which is how a password or PIN is given") from None
    return secrets[variable]


def take_secrets() -> dict[str, Secret]:
    """The signing secrets of the environment, taken out of it so that no other program inherits them."""
    return {name: Secret(os.environ.pop(name)) for name in SECRET_VARIABLES if name in os.environ}


@contextlib.contextmanager
def secret_pipe(secret: str):
    """A /dev/fd path from which a child reads the secret once; pass_fds must carry the descriptor."""
    read_end, write_end = os.pipe()
    try:
        os.write(write_end, secret.encode("utf-8"))  # far below a pipe's buffer
        os.close(write_end)
        write_end = -1
        yield read_end, f"/dev/fd/{read_end}"
    finally:
        os.close(read_end)
        if write_end >= 0:
            os.close(write_end)


def _run(command: list[str], secret: str | None, secret_option: str | None, **extra_env: str):
    env = clean_environment(**extra_env)
    if secret is None:
        return subprocess.run(command, capture_output=True, text=True, env=env)
    with secret_pipe(secret) as (descriptor, path):
        return subprocess.run([*command, secret_option, path] if secret_option else command, capture_output=True,
                              text=True, env=env, pass_fds=(descriptor,))


def signer_certificate(key: Key) -> bytes:
    """The signer's certificate (PEM); a wrong password or a file that is no certificate is refused."""
    if key.kind == "pkcs12":
        first_failure = None
        for legacy in ([], ["-legacy"]):  # older PKCS#12 files use ciphers of OpenSSL's legacy provider
            result = _open_pkcs12(key, legacy)
            if result.returncode == 0 and b"BEGIN CERTIFICATE" in result.stdout:
                return result.stdout
            first_failure = first_failure or result
        first = first_failure.stderr.decode(errors="replace").splitlines()
        raise SigningError(f"the password does not open {key.pkcs12}, or it is no PKCS#12 file"
                           f" ({first[0] if first else 'no certificate in it'}); nothing was written")
    for form in ("PEM", "DER"):
        result = subprocess.run(["openssl", "x509", "-inform", form, "-in", str(key.certificate)], capture_output=True,
                                env=clean_environment())
        if result.returncode == 0:
            return result.stdout
    raise SigningError(f"{key.certificate} holds no certificate (PEM or DER); nothing was written")


def _open_pkcs12(key: Key, legacy: list[str]) -> subprocess.CompletedProcess:
    with secret_pipe(key.secret or "") as (descriptor, path):
        return subprocess.run(["openssl", "pkcs12", *legacy, "-in", str(key.pkcs12), "-passin", f"file:{path}",
                               "-nokeys", "-clcerts"], capture_output=True, env=clean_environment(),
                              pass_fds=(descriptor,))


def signing_certificate_problems(certificate_pem: bytes, now: datetime.datetime) -> list[str]:
    """Why a certificate (PEM or DER) cannot sign the program now (aware): Windows would refuse the signature.
    Dates are written as openssl writes them, as the vendor sees them in their certificate's listing."""
    try:
        certificate = authenticode.load_certificate(certificate_pem)
    except ValueError:
        return ["no single certificate to check (PEM or DER)"]
    about = authenticode.describe(certificate)

    def date(moment: datetime.datetime) -> str:
        return f"{moment:%b} {moment.day:2} {moment:%H:%M:%S %Y} GMT"

    problems = []
    if now < about.not_before:
        problems.append(f"the certificate ({about.subject}) is not valid before {date(about.not_before)}")
    if now > about.not_after:
        problems.append(f"the certificate ({about.subject}) expired on {date(about.not_after)}")
    if not authenticode.allows_code_signing(certificate):
        problems.append(f"the certificate ({about.subject}) is not for code signing: its extended key usage lacks "
                        "Code Signing")
    return problems


def check_key(key: Key) -> authenticode.Certificate:
    """Refuses, before anything is built, a key that would sign a program Windows does not accept: a
    certificate not valid now or not for code signing. Returns the signer's certificate."""
    pem = signer_certificate(key)
    problems = signing_certificate_problems(pem, datetime.datetime.now(datetime.timezone.utc))
    if problems:
        raise SigningError(f"{problems[0]}; nothing was written")
    return authenticode.describe(x509.load_pem_x509_certificate(pem))


def signing_time(signer: authenticode.Certificate, source_date: int, log) -> int:
    """The source date, so that the same key gives the same signature; but never before the certificate
    was issued, which would date the signature to a time its own certificate did not exist yet."""
    issued = signer.not_before
    if source_date < issued.timestamp():
        log(f"The commit is older than the certificate: the signing time is the moment the certificate became"
            f" valid, {issued:%Y-%m-%d %H:%M:%S} UTC")
        return int(issued.timestamp())
    return source_date


def pkcs11_engine() -> str:
    result = subprocess.run(["openssl", "version", "-e"], capture_output=True, text=True, env=clean_environment())
    match = re.search(r'ENGINESDIR: "(.*)"', result.stdout)
    engine = Path(match.group(1) if match else "/nonexistent") / "pkcs11.so"
    if not engine.is_file():
        raise SigningError(f"OpenSSL's PKCS#11 engine {engine} is missing (package libengine-pkcs11-openssl)")
    return str(engine)


def _failure(key: Key, log: str) -> str:
    """What went wrong, in the words of the key's owner rather than of OpenSSL's error stack."""
    if "PIN incorrect" in log:
        return "the token refused the PIN"
    if "PIN locked" in log:
        return "the token's PIN is locked"
    if "key values mismatch" in log:
        return f"the certificate {key.certificate or 'in ' + str(key.pkcs12)} does not belong to the key"
    if "Unable to load PKCS#11 module" in log:
        return f"{key.module} cannot be loaded as a PKCS#11 module"
    if any(s in log for s in ("object not found", "private key was not found", "No matching initialized token")):
        return f"no key {key.key} on the tokens of {key.module}"
    lines = "\n".join(line for line in log.splitlines() if not line.startswith("Engine "))
    return f"osslsigncode could not sign setup.exe:\n{lines}"


def sign(program: Path, output: Path, key: Key, signing_time: int, log) -> bool:
    """Signs program into output; returns whether it carries a timestamp. The signing time is the source
    date, so that the same key gives the same signature."""
    base = ["osslsigncode", "sign", "-h", "sha256", "-time", str(signing_time), "-n", key.description]
    if key.url:
        base += ["-i", key.url]
    if key.kind == "pkcs12":
        base += ["-pkcs12", str(key.pkcs12)]
    else:
        base += ["-pkcs11engine", pkcs11_engine(), "-pkcs11module", str(key.module), "-key", key.key,
                 "-certs", str(key.certificate)]

    def attempt(timestamps: list[str]) -> subprocess.CompletedProcess:
        output.unlink(missing_ok=True)
        options = [option for url in timestamps for option in ("-ts", url)]
        command = [*base, *options, "-in", str(program), "-out", str(output)]
        return _run(command, key.secret, "-readpass" if key.secret is not None else None)

    result = attempt(key.timestamp_urls)
    if result.returncode == 0:
        return bool(key.timestamp_urls)
    messages = result.stdout + result.stderr
    if key.timestamp_urls and "timestamping failed" in messages.lower():
        if not key.allow_no_timestamp:
            raise SigningError(f"no timestamp server answered ({' '.join(key.timestamp_urls)}); nothing was written"
                               " (--allow-no-timestamp signs without a timestamp)")
        log(f"No timestamp server answered ({' '.join(key.timestamp_urls)}): signing without a timestamp, as allowed")
        result = attempt([])
        if result.returncode == 0:
            return False
        messages = result.stdout + result.stderr
    raise SigningError(f"{_failure(key, messages)}; nothing was written")


def attach(program: bytes, signature: bytes) -> bytes:
    """An unsigned program with a PKCS#7 signature attached as osslsigncode attaches it: the file padded to
    8 bytes, one certificate table entry padded to 8 bytes, its directory entry and the checksum set. Any
    other layout makes check-medium's comparison report a difference, never a false "same"."""
    where = certificate_table.layout(program)
    if (where.table, where.size) != (0, 0):
        raise SigningError("the program to attach a signature to is signed already")
    body = program + b"\0" * (-len(program) % 8)
    length = 8 + len(signature)
    padded = length + (-length % 8)
    signed = bytearray(body + struct.pack("<IHH", padded, 0x0200, 0x0002) + signature + b"\0" * (padded - length))
    struct.pack_into("<II", signed, where.directory, len(body), padded)
    struct.pack_into("<I", signed, where.checksum, run_from_swap.pe_checksum(signed, where.checksum))
    return bytes(signed)

