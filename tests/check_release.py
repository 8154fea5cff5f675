#!/usr/bin/python3
# Debian's Python 3, with the python3-* packages of debian-packages.txt.
"""Makes a release as a maintainer does, with keys made for this run alone,
and checks it as its users do.

Usage:
    tests/check_release.py (in a tree without changes to tracked files)

1. With a line added to CONTRIBUTING.md, `make release` must stop and name
   the file; with HELLIGKEIT_ALLOW_DIRTY=1 it makes the release, every
   package named VERSION-dirty (a .deb VERSION~dirty, the Python source
   distribution VERSION+dirty), the program's version resource too. The
   line goes again.
2. The release is signed with an OpenPGP key and a code-signing
   certificate, and timestamped by an authority on 127.0.0.1: an HTTP
   server that hands each request to `openssl ts -reply`. Its addresses
   stand in for a maintainer's; tests/check_packages.py, run next, finds
   them in the build folders left.
3. README's commands for checking a download run as they stand, in a folder
   of the downloads with a GNUPGHOME of their own: they show the
   fingerprint that `make release` printed, and find the signature good
   and every checksum OK.
4. osslsigncode verifies the program in the zip, the DLL in the
   developers' zip and the installer, with the authority's timestamp. Signed again without an authority, from a
   commit older than the certificate, the program is dated at its start.
"""

import http.server
import os
import re
import shutil
import subprocess
import sys
import tempfile
import threading
import zipfile
from pathlib import Path

from check_packages import check_exe

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "tools"))
from tool_support import ROOT, check, configured, output, run  # noqa: E402

EDITED = ROOT / "CONTRIBUTING.md"
GPG_KEY = "release@helligkeit.invalid"
ADDRESSES = {"HELLIGKEIT_HOMEPAGE": "https://example.org/helligkeit",
             "HELLIGKEIT_SOURCE_URL": "https://example.org/helligkeit/source",
             "HELLIGKEIT_BUG_URL": "https://example.org/helligkeit/bugs"}
# What openssl ts -reply signs with and how.
TSA_CONFIG = """\
[tsa]
default_tsa = ci
[ci]
serial = {work}/tsa-serial
signer_cert = {work}/tsa-cert.pem
signer_key = {work}/tsa-key.pem
signer_digest = sha256
digests = sha256
default_policy = 1.3.6.1.4.1.4146.2.2
ess_cert_id_alg = sha256
"""


def make_keys(work):
    """An OpenPGP key in work/gnupg, a code-signing certificate (cert.p12,
    its password in password) and the authority's, each valid for a day."""
    (work / "gnupg").mkdir(mode=0o700)
    run("gpg", "--homedir", work / "gnupg", "--batch", "--passphrase", "", "--quick-gen-key",
        f"helligkeit CI <{GPG_KEY}>", "ed25519", "sign", "1d")
    for name, usage in (("", "codeSigning"), ("tsa-", "critical,timeStamping")):
        run("openssl", "req", "-x509", "-newkey", "rsa:3072", "-nodes", "-days", "1",
            "-subj", f"/CN=helligkeit-ci-{name}signer", "-addext", f"extendedKeyUsage={usage}",
            "-keyout", work / f"{name}key.pem", "-out", work / f"{name}cert.pem",
            stderr=subprocess.DEVNULL)
    (work / "password").write_text("throwaway\n")
    run("openssl", "pkcs12", "-export", "-inkey", work / "key.pem", "-in", work / "cert.pem",
        "-passout", f"file:{work / 'password'}", "-out", work / "cert.p12")
    (work / "tsa-serial").write_text("01\n")
    (work / "tsa.cnf").write_text(TSA_CONFIG.format(work=work))


def time_stamping_authority(work):
    """An RFC 3161 authority on a free port of 127.0.0.1, in a thread."""
    class Handler(http.server.BaseHTTPRequestHandler):
        def do_POST(self):
            query, reply = work / "tsa-query.der", work / "tsa-reply.der"
            query.write_bytes(self.rfile.read(int(self.headers["Content-Length"])))
            made = subprocess.run(["openssl", "ts", "-reply", "-config", work / "tsa.cnf",
                                   "-queryfile", query, "-out", reply], capture_output=True)
            body = reply.read_bytes() if made.returncode == 0 else b""
            self.send_response(200 if body else 500)
            self.send_header("Content-Type", "application/timestamp-reply")
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)

    server = http.server.HTTPServer(("127.0.0.1", 0), Handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server


def make_release(env):
    """`make release`'s exit code and output, which is shown too."""
    made = subprocess.run(["make", "-C", ROOT, "release"], env=env, text=True,
                          stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    print(made.stdout, flush=True)
    return made.returncode, made.stdout


def check_as_user(dist, work, printed):
    section = (ROOT / "README.md").read_text().split("\n## Checking a download\n")[1]
    blocks = re.findall(r"```sh\n(.*?)```", section.split("\n## ")[0], re.S)
    downloads, home = work / "downloads", work / "user-gnupg"
    shutil.copytree(dist, downloads)
    home.mkdir(mode=0o700)
    said = []
    for block in blocks:
        print(f"+ (README, in {downloads}) {block.strip()}")
        result = subprocess.run(["bash", "-ec", block], cwd=downloads, text=True,
                                env=dict(os.environ, GNUPGHOME=str(home)),
                                stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        print(result.stdout)
        check(result.returncode == 0, f"README's commands ended with {result.returncode}")
        said.append(result.stdout)
    fingerprint = re.search(r"to publish on the home page:\n  (.+)\n", printed)
    check(len(said) == 2 and fingerprint and fingerprint[1] in said[0],
          "README's first commands do not show the fingerprint that make release printed")
    packages = [path.name for path in dist.iterdir()
                if path.suffix in (".deb", ".zip", ".msi", ".gz")]
    check("Good signature" in said[1] and all(f"{name}: OK" in said[1] for name in packages),
          f"gpg or sha256sum did not find every package good: {packages}")


def verify(work, signed):
    """osslsigncode verify's report on a file that it must find good."""
    report = run("osslsigncode", "verify", "-CAfile", work / "cert.pem",
                 "-TSA-CAfile", work / "tsa-cert.pem", "-in", signed,
                 capture_output=True, text=True).stdout
    print(report)
    return report


def check_authenticode(work, dist, version):
    name = f"helligkeit-{version}-dirty-win64"
    for zip_name in (name, f"{name}-dev"):
        with zipfile.ZipFile(dist / f"{zip_name}.zip") as zipped:
            zipped.extractall(work / "zip")
    exe = work / "zip" / name / "helligkeit.exe"
    check_exe(exe, version, work, dirty=True)
    dll = work / "zip" / f"{name}-dev" / "helligkeit.dll"
    for signed in (exe, dll, dist / f"{name}.msi"):
        report = verify(work, signed)
        check("Timestamp Server Signature verification: ok" in report
              and "Issuer: /CN=helligkeit-ci-tsa-signer" in report,
              f"{signed.name} carries no timestamp of the authority")

    script = work / "sign.cmake"
    script.write_text(f"include({ROOT}/cmake/authenticode.cmake)\n"
                      f"helligkeit_sign({exe} https://example.org/helligkeit)\n")
    run("cmake", "-P", script, env=dict(os.environ, SOURCE_DATE_EPOCH="1000000000",
                                         HELLIGKEIT_SIGN_PKCS12=str(work / "cert.p12"),
                                         HELLIGKEIT_SIGN_PASSWORD_FILE=str(work / "password")))
    report = verify(work, exe)
    start = re.search(r"notBefore : (.+)", report)[1]
    check(f"Signing time: {start}" in report and "Timestamp Server" not in report,
          f"signed without an authority, {exe.name} is not dated {start}, its certificate's start")


def main():
    changed = output("git", "-C", ROOT, "status", "--porcelain", "--untracked-files=no")
    check(not changed, f"tracked files have changes; commit or stash them first:\n{changed}")
    work = Path(tempfile.mkdtemp(prefix="helligkeit-release-check."))
    dist, original, server = ROOT / "dist", EDITED.read_bytes(), None
    try:
        make_keys(work)
        server = time_stamping_authority(work)
        env = dict(os.environ, GNUPGHOME=str(work / "gnupg"), HELLIGKEIT_GPG_KEY=GPG_KEY,
                   HELLIGKEIT_SIGN_PKCS12=str(work / "cert.p12"),
                   HELLIGKEIT_SIGN_PASSWORD_FILE=str(work / "password"),
                   HELLIGKEIT_SIGN_TIMESTAMP_URL=f"http://127.0.0.1:{server.server_port}/",
                   **ADDRESSES)
        env.pop("HELLIGKEIT_ALLOW_DIRTY", None)
        EDITED.write_bytes(original + b"\nA line not committed.\n")
        try:
            listed = sorted(dist.glob("*"))
            code, said = make_release(env)
            check(code != 0 and f" M {EDITED.name}" in said and sorted(dist.glob("*")) == listed,
                  f"make release with {EDITED.name} changed ended with {code}, did not name "
                  "it, or changed dist/")
            code, printed = make_release(dict(env, HELLIGKEIT_ALLOW_DIRTY="1"))
            check(code == 0, f"make release with HELLIGKEIT_ALLOW_DIRTY=1 ended with {code}")
        finally:
            EDITED.write_bytes(original)
        version = configured(ROOT / "build-win64-package")
        names = {path.name for path in dist.iterdir()}
        beside = {"SHA256SUMS", "SHA256SUMS.asc", "helligkeit-release-key.asc"}
        check(beside < names and all(re.search(f"{version}[-~+]dirty", name)
                                     for name in names - beside), f"dist/ holds {names}")
        check_as_user(dist, work, printed)
        check_authenticode(work, dist, version)
    finally:
        if server:
            server.shutdown()
        for home in ("gnupg", "user-gnupg"):
            subprocess.run(["gpgconf", "--homedir", work / home, "--kill", "all"])
        shutil.rmtree(work)
    print("release: refused with a change, then made and marked, signed, timestamped, "
          "and checked as README says")


if __name__ == "__main__":
    main()
