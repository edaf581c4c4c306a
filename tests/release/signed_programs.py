"""A tiny i686 program signed with the test keys in the ways the signature checks tell apart, made once
per test module that needs them (keys of two test CAs and three timestamps: about 20 s)."""

from __future__ import annotations

import subprocess
from datetime import datetime, timezone
from pathlib import Path

import signing_keys

SIGNING_TIME = datetime(2010, 1, 1, 12, 34, 56, tzinfo=timezone.utc)


def sign(folder: Path, source: Path, name: str, keys: signing_keys.TestKeys, certificate: str = "signer",
         digest: str = "sha256", *options: str, later: int = 0) -> Path:
    """source signed by keys' certificate at SIGNING_TIME (plus later seconds), as folder/NAME.exe."""
    signed = signing_keys.osslsigncode(
        "sign", "-pkcs12", str(keys.path(f"{certificate}.p12")), "-readpass", str(keys.password_file), "-h", digest,
        "-time", str(int(SIGNING_TIME.timestamp()) + later), *options, "-in", str(source), "-out",
        str(folder / f"{name}.exe"))
    assert signed.returncode == 0, signed.stderr
    return folder / f"{name}.exe"


def make_programs(folder: Path) -> dict[str, bytes]:
    """The programs by name: unsigned; signed (and later, a second later), sha1, sha512, server (a TLS
    certificate) and rooted (carrying the CA's certificate too) by the keys of folder/keys; unrelated by
    those of folder/unrelated; timestamped, unrelated_tsa (the other CA's timestamp) and
    expired_timestamped (an expired signer's)."""
    (folder / "tiny.c").write_text("int main(void) { return 0; }\n")
    unsigned = folder / "unsigned.exe"
    subprocess.run(["i686-w64-mingw32-gcc", "-s", "-o", str(unsigned), str(folder / "tiny.c")], check=True)
    keys, unrelated = (signing_keys.make_test_keys(folder / name) for name in ("keys", "unrelated"))

    def signed(name, keys, certificate="signer", digest="sha256", *options, later=0):
        sign(folder, unsigned, name, keys, certificate, digest, *options, later=later)

    signed("signed", keys), signed("later", keys, later=1), signed("sha1", keys, digest="sha1")
    signed("sha512", keys, digest="sha512"), signed("server", keys, "server"), signed("unrelated", unrelated)
    signed("rooted", keys, "signer", "sha256", "-ac", str(keys.path("ca.pem")))
    for name, tsa, certificate in (("timestamped", keys, "signer"), ("unrelated_tsa", unrelated, "signer"),
                                   ("expired_timestamped", keys, "expired")):
        with signing_keys.TimestampServer(tsa) as server:
            signed(name, keys, certificate, "sha256", "-ts", server.url)
    return {path.stem: path.read_bytes() for path in folder.glob("*.exe")}
