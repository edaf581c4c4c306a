"""Real keys for the signing tests, made with openssl: a test certificate authority, a code-signing
certificate in PKCS#12 files and on a SoftHSM2 token, certificates that must be refused, and an RFC 3161
timestamp server on the loopback address (openssl ts behind Python's HTTP server).
"""

from __future__ import annotations

import http.server
import socket
import os
import subprocess
import tempfile
import threading
from dataclasses import dataclass
from pathlib import Path

SOFTHSM_MODULE = Path("/usr/lib/softhsm/libsofthsm2.so")
PASSWORD = "pass phrase of the test key"
PIN = "246810"
TOKEN_LABEL = "tarvin signing"
KEY_LABEL = "code signing key"
KEY_URI = f"pkcs11:token={TOKEN_LABEL.replace(' ', '%20')};object={KEY_LABEL.replace(' ', '%20')}"

CA_CONFIG = """
[ca]
default_ca = test_ca
[test_ca]
database = {folder}/index.txt
new_certs_dir = {folder}
serial = {folder}/serial
default_md = sha256
policy = any_name
unique_subject = no
[any_name]
commonName = supplied
[code_signing]
basicConstraints = critical,CA:false
keyUsage = critical,digitalSignature
extendedKeyUsage = codeSigning
[server]
basicConstraints = critical,CA:false
keyUsage = critical,digitalSignature,keyEncipherment
extendedKeyUsage = serverAuth
[time_stamping]
basicConstraints = critical,CA:false
keyUsage = critical,digitalSignature
extendedKeyUsage = critical,timeStamping
[tsa]
default_tsa = test_tsa
[test_tsa]
serial = {folder}/tsa-serial
signer_cert = {folder}/tsa.pem
certs = {folder}/ca.pem
signer_key = {folder}/tsa.key
signer_digest = sha256
default_policy = 1.3.6.1.4.1.99999.1
digests = sha1, sha256, sha384, sha512
ess_cert_id_alg = sha256
"""


def openssl(*args: str) -> None:
    result = subprocess.run(["openssl", *args], capture_output=True, text=True)
    if result.returncode != 0:
        raise RuntimeError(f"openssl {' '.join(args)} failed: {result.stderr}")


@dataclass
class TestKeys:
    """folder holds ca.pem, and for each certificate NAME: NAME.pem, and NAME.p12 with PASSWORD."""

    folder: Path

    def path(self, name: str) -> Path:
        return self.folder / name

    @property
    def password_file(self) -> Path:
        return self.folder / "password.txt"


def make_test_keys(folder: Path) -> TestKeys:
    """A test CA that issues: signer (code signing, valid 2000-2099), other (code signing, another key),
    server (TLS only), expired (code signing, 2000-2001) and tsa (time stamping)."""
    folder.mkdir(parents=True, exist_ok=True)
    (folder / "ca.cnf").write_text(CA_CONFIG.format(folder=folder))
    (folder / "index.txt").write_text("")
    (folder / "serial").write_text("1000\n")
    openssl("req", "-x509", "-new", "-newkey", "rsa:2048", "-nodes", "-keyout", str(folder / "ca.key"),
            "-out", str(folder / "ca.pem"), "-subj", "/CN=tarvin test CA", "-days", "36500",
            "-addext", "keyUsage=critical,keyCertSign,cRLSign")
    certificates = {
        "signer": ("signer", "code_signing", "20000101000000Z", "20991231000000Z"),
        "other": ("other", "code_signing", "20000101000000Z", "20991231000000Z"),
        "server": ("signer", "server", "20000101000000Z", "20991231000000Z"),
        "expired": ("signer", "code_signing", "20000101000000Z", "20010101000000Z"),
        "tsa": ("tsa", "time_stamping", "20000101000000Z", "20991231000000Z"),
    }
    for name, (key, extensions, start, end) in certificates.items():
        if not (folder / f"{key}.key").exists():
            openssl("genpkey", "-algorithm", "RSA", "-pkeyopt", "rsa_keygen_bits:2048", "-out", str(folder / f"{key}.key"))
        openssl("req", "-new", "-key", str(folder / f"{key}.key"), "-subj", f"/CN=tarvin test {name}",
                "-out", str(folder / f"{name}.csr"))
        openssl("ca", "-batch", "-config", str(folder / "ca.cnf"), "-cert", str(folder / "ca.pem"),
                "-keyfile", str(folder / "ca.key"), "-in", str(folder / f"{name}.csr"), "-out", str(folder / f"{name}.pem"),
                "-extensions", extensions, "-startdate", start, "-enddate", end, "-notext")
        openssl("pkcs12", "-export", "-in", str(folder / f"{name}.pem"), "-inkey", str(folder / f"{key}.key"),
                "-out", str(folder / f"{name}.p12"), "-passout", f"pass:{PASSWORD}")
    (folder / "password.txt").write_text(PASSWORD + "\n")
    return TestKeys(folder)


class SoftToken:
    """A SoftHSM2 token of its own (SOFTHSM2_CONF names its folder) holding the signer's key."""

    def __init__(self, folder: Path, keys: TestKeys):
        tokens = folder / "tokens"
        tokens.mkdir(parents=True)
        self.config = folder / "softhsm2.conf"
        self.config.write_text(f"directories.tokendir = {tokens}\nobjectstore.backend = file\nlog.level = ERROR\n")
        self.env = dict(os.environ, SOFTHSM2_CONF=str(self.config))
        self.util("--init-token", "--free", "--label", TOKEN_LABEL, "--pin", PIN, "--so-pin", "13579")
        pkcs8 = folder / "signer.pk8"
        openssl("pkcs8", "-topk8", "-nocrypt", "-in", str(keys.path("signer.key")), "-out", str(pkcs8))
        self.util("--import", str(pkcs8), "--token", TOKEN_LABEL, "--label", KEY_LABEL, "--id", "01", "--pin", PIN)
        pkcs8.unlink()

    def util(self, *args: str) -> None:
        subprocess.run(["softhsm2-util", *args], env=self.env, check=True, capture_output=True)


class TimestampServer:
    """An RFC 3161 timestamp server on 127.0.0.1: openssl ts answers each request with a token signed by
    the test CA's time-stamping certificate. Use it in a with statement; url is its address."""

    def __init__(self, keys: TestKeys):
        self.keys = keys
        self.requests = 0
        (keys.folder / "tsa-serial").write_text("01\n")
        server = self

        class Handler(http.server.BaseHTTPRequestHandler):
            def do_POST(self):
                query = self.rfile.read(int(self.headers["Content-Length"]))
                with tempfile.TemporaryDirectory() as scratch:
                    (Path(scratch) / "query.tsq").write_bytes(query)
                    openssl("ts", "-reply", "-config", str(keys.path("ca.cnf")), "-queryfile",
                            str(Path(scratch) / "query.tsq"), "-out", str(Path(scratch) / "reply.tsr"))
                    reply = (Path(scratch) / "reply.tsr").read_bytes()
                server.requests += 1
                self.send_response(200)
                self.send_header("Content-Type", "application/timestamp-reply")
                self.send_header("Content-Length", str(len(reply)))
                self.end_headers()
                self.wfile.write(reply)

            def log_message(self, *args):
                pass

        self.server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.url = f"http://127.0.0.1:{self.server.server_address[1]}/"

    def __enter__(self) -> TimestampServer:
        threading.Thread(target=self.server.serve_forever, daemon=True).start()
        return self

    def __exit__(self, *exc) -> None:
        self.server.shutdown()
        self.server.server_close()


def unused_local_url() -> str:
    """The address of a port on 127.0.0.1 that nothing listens on."""
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return f"http://127.0.0.1:{probe.getsockname()[1]}/"


def osslsigncode(*args: str) -> subprocess.CompletedProcess:
    return subprocess.run(["osslsigncode", *args], capture_output=True, text=True, timeout=120)
