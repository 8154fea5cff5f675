#!/usr/bin/python3
# Debian's Python 3, with the python3-* packages of debian-packages.txt.
"""Makes a release as a maintainer does, signed with keys made for this run
alone, and checks it as its users do.

Usage:
    tools/check_release.py (in a tree without changes to tracked files)

Every key lives in a temporary folder that goes at the end:

1. With a line added to CONTRIBUTING.md, `make release` must stop, naming
   the file, and leave dist/ as it was.
2. With the line still there and HELLIGKEIT_ALLOW_DIRTY=1 it makes the
   release, signed with an OpenPGP key and a code-signing certificate, and
   timestamped by a time-stamping authority on 127.0.0.1 (an HTTP server
   that hands each request to `openssl ts -reply`, with a certificate of its
   own). Every package in dist/ is named VERSION-dirty (a .deb
   VERSION~dirty), and the program in the zip says so in its version
   resource. The line goes again. The release's addresses stand in for a
   maintainer's; tools/check_packages.py, run next, finds them in the build
   folders this leaves.
3. The downloads are checked as README's "Checking a download" tells a user
   to: its commands, as they stand, in a folder of the downloads with a
   GNUPGHOME of its own. The fingerprint they show is the one `make release`
   printed, the signature is good and every checksum OK.
4. `osslsigncode verify`: the program in the zip and the installer are
   signed with the certificate and countersigned by the authority. Signed
   again without an authority, and with a commit time before the
   certificate's start, the program is dated at that start.
"""

import http.server
import os
import re
import shutil
import subprocess
import tempfile
import threading
import zipfile
from pathlib import Path

from check_packages import check_exe
from tool_support import ROOT, check, configured, output, run

EDITED = ROOT / "CONTRIBUTING.md"
GPG_KEY = "release@helligkeit.invalid"
ADDRESSES = {"HELLIGKEIT_HOMEPAGE": "https://example.org/helligkeit",
             "HELLIGKEIT_SOURCE_URL": "https://example.org/helligkeit/source",
             "HELLIGKEIT_BUG_URL": "https://example.org/helligkeit/bugs"}
# openssl ts -reply's settings: the authority's certificate and key, a
# serial number file, SHA-256.
TSA_CONFIG = """\
[tsa]
default_tsa = ci
[ci]
serial = {work}/tsa-serial
signer_cert = {work}/tsa-cert.pem
signer_key = {work}/tsa-key.pem
signer_digest = sha256
digests = sha256, sha384, sha512
default_policy = 1.3.6.1.4.1.4146.2.2
ess_cert_id_alg = sha256
"""


def make_keys(work):
    """A maintainer's OpenPGP key (in work/gnupg), code-signing certificate
    (cert.p12, password), and a time-stamping authority's certificate, each
    valid for a day."""
    (work / "gnupg").mkdir(mode=0o700)
    run("gpg", "--homedir", work / "gnupg", "--batch", "--passphrase", "", "--quick-gen-key",
        f"helligkeit CI <{GPG_KEY}>", "ed25519", "sign", "1d")
    for name, usage in (("cert", "codeSigning"), ("tsa-cert", "critical,timeStamping")):
        key = work / name.replace("cert", "key")
        run("openssl", "req", "-x509", "-newkey", "rsa:3072", "-nodes", "-days", "1",
            "-subj", f"/CN=helligkeit-ci-{name}", "-addext", f"extendedKeyUsage={usage}",
            "-keyout", f"{key}.pem", "-out", work / f"{name}.pem", stderr=subprocess.DEVNULL)
    (work / "password").write_text("throwaway\n")
    run("openssl", "pkcs12", "-export", "-inkey", work / "key.pem", "-in", work / "cert.pem",
        "-passout", f"file:{work / 'password'}", "-out", work / "cert.p12")
    (work / "tsa-serial").write_text("01\n")
    (work / "tsa.cnf").write_text(TSA_CONFIG.format(work=work))


def time_stamping_authority(work):
    """An RFC 3161 authority on 127.0.0.1 (a port of the system's choosing),
    serving in a thread until it is shut down."""
    class Handler(http.server.BaseHTTPRequestHandler):
        def do_POST(self):
            (work / "tsa-query.der").write_bytes(
                self.rfile.read(int(self.headers["Content-Length"])))
            reply = subprocess.run(
                ["openssl", "ts", "-reply", "-config", work / "tsa.cnf",
                 "-queryfile", work / "tsa-query.der", "-out", work / "tsa-reply.der"],
                capture_output=True)
            body = (work / "tsa-reply.der").read_bytes() if reply.returncode == 0 else b""
            self.send_response(200 if body else 500)
            self.send_header("Content-Type", "application/timestamp-reply")
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)

    server = http.server.HTTPServer(("127.0.0.1", 0), Handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server, f"http://127.0.0.1:{server.server_address[1]}/"


def make_release(env):
    """`make release`, its output shown as it comes: (exit code, output)."""
    process = subprocess.Popen(["make", "-C", ROOT, "release"], env=env, text=True,
                               stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    lines = []
    for line in process.stdout:
        print(line, end="", flush=True)
        lines.append(line)
    return process.wait(), "".join(lines)


def snapshot(folder):
    return {path.name: path.read_bytes() for path in folder.glob("*")} if folder.is_dir() else {}


def check_as_user(dist, work, printed):
    """README's commands for checking a download, run in a folder of the
    downloads with a GNUPGHOME of their own."""
    section = (ROOT / "README.md").read_text().split("\n## Checking a download\n")[1]
    section = section.split("\n## ")[0]
    blocks = re.findall(r"```sh\n(.*?)```", section, re.S)
    check(len(blocks) == 2, f"README's Checking a download has {len(blocks)} sh blocks, not 2")
    downloads, home = work / "downloads", work / "user-gnupg"
    shutil.copytree(dist, downloads)
    home.mkdir(mode=0o700)
    env = dict(os.environ, GNUPGHOME=str(home))
    said = []
    for block in blocks:
        print(f"+ (README, in {downloads}) {block.strip()}")
        result = subprocess.run(["bash", "-ec", block], cwd=downloads, env=env, text=True,
                                stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        print(result.stdout)
        check(result.returncode == 0, f"README's commands ended with {result.returncode}")
        said.append(result.stdout)
    shown = re.search(r"fingerprint, to publish on the home page:\n  (.+)\n", printed)
    check(shown and shown[1] in said[0],
          f"the key's fingerprint {shown and shown[1]!r}, which make release printed, "
          "is not the one README's first command shows")
    fingerprint = output("gpg", "--homedir", work / "gnupg", "--with-colons", "--fingerprint",
                         GPG_KEY).split("fpr:::::::::")[1].split(":")[0]
    check(shown[1].replace(" ", "") == fingerprint,
          f"make release printed {shown[1]}, not the key's fingerprint {fingerprint}")
    packages = sorted(path.name for path in dist.glob("helligkeit*") if "key" not in path.name)
    check("Good signature" in said[1]
          and all(f"{name}: OK" in said[1] for name in packages),
          f"gpg or sha256sum did not find every package good: {packages}")


def verify_authenticode(work, signed):
    """osslsigncode verify's report on a signed file, which it must find good."""
    return run("osslsigncode", "verify", "-CAfile", work / "cert.pem",
               "-TSA-CAfile", work / "tsa-cert.pem", "-in", signed,
               capture_output=True, text=True).stdout


def check_authenticode(work, dist, version):
    with zipfile.ZipFile(dist / f"helligkeit-{version}-dirty-win64.zip") as zipped:
        zipped.extractall(work / "zip")
    exe = work / "zip" / f"helligkeit-{version}-dirty-win64" / "helligkeit.exe"
    check_exe(exe, version, work, dirty=True)
    for signed in (exe, dist / f"helligkeit-{version}-dirty-win64.msi"):
        report = verify_authenticode(work, signed)
        print(report)
        check("Timestamp Server Signature verification: ok" in report
              and "Issuer: /CN=helligkeit-ci-tsa-cert" in report,
              f"{signed.name} carries no timestamp of the authority")

    # Without an authority, and a commit older than the certificate.
    script = work / "sign.cmake"
    script.write_text(f"include({ROOT}/cmake/authenticode.cmake)\n"
                      f"helligkeit_sign({exe} https://example.org/helligkeit)\n")
    run("cmake", "-P", script, env=dict(os.environ, SOURCE_DATE_EPOCH="1000000000",
                                         HELLIGKEIT_SIGN_PKCS12=str(work / "cert.p12"),
                                         HELLIGKEIT_SIGN_PASSWORD_FILE=str(work / "password")))
    report = verify_authenticode(work, exe)
    start = re.search(r"notBefore : (.+)", report)[1]
    check(f"Signing time: {start}" in report and "Timestamp Server" not in report,
          f"signed without an authority, {exe.name} is not dated at the certificate's "
          f"start, {start}:\n{report}")
    print(f"{exe.name}, signed without an authority: dated at the certificate's start, {start}")


def main():
    changed = output("git", "-C", ROOT, "status", "--porcelain", "--untracked-files=no")
    check(not changed, f"tracked files have changes; commit or stash them first:\n{changed}")
    work = Path(tempfile.mkdtemp(prefix="helligkeit-release-check."))
    dist = ROOT / "dist"
    original = EDITED.read_bytes()
    server = None
    try:
        make_keys(work)
        server, url = time_stamping_authority(work)
        env = dict(os.environ, GNUPGHOME=str(work / "gnupg"), HELLIGKEIT_GPG_KEY=GPG_KEY,
                   HELLIGKEIT_SIGN_PKCS12=str(work / "cert.p12"),
                   HELLIGKEIT_SIGN_PASSWORD_FILE=str(work / "password"),
                   HELLIGKEIT_SIGN_TIMESTAMP_URL=url, **ADDRESSES)
        env.pop("HELLIGKEIT_ALLOW_DIRTY", None)
        EDITED.write_bytes(original + b"\nA line not committed.\n")
        try:
            before = snapshot(dist)
            code, said = make_release(env)
            check(code != 0 and f" M {EDITED.name}" in said and snapshot(dist) == before,
                  f"make release with {EDITED.name} changed: exit code {code}, or it did "
                  "not name the file, or dist/ changed")
            code, printed = make_release(dict(env, HELLIGKEIT_ALLOW_DIRTY="1"))
            check(code == 0, f"make release with HELLIGKEIT_ALLOW_DIRTY=1 ended with {code}")
        finally:
            EDITED.write_bytes(original)

        version = configured(ROOT / "build-deb")
        names = sorted(path.name for path in dist.iterdir())
        packages = [name for name in names if name.endswith((".deb", ".zip", ".msi"))]
        check(len(packages) >= 4 and all(f"{version}-dirty" in name or f"{version}~dirty" in name
                                          for name in packages),
              f"not every package is named {version}-dirty: {names}")
        check(set(names) - set(packages) == {"SHA256SUMS", "SHA256SUMS.asc",
                                              "helligkeit-release-key.asc"},
              f"dist/ holds {names}")
        check_as_user(dist, work, printed)
        check_authenticode(work, dist, version)
    finally:
        if server:
            server.shutdown()
        for home in ("gnupg", "user-gnupg"):
            if (work / home).is_dir():
                subprocess.run(["gpgconf", "--homedir", work / home, "--kill", "all"])
        shutil.rmtree(work)
    print("release: refused with a change, made with HELLIGKEIT_ALLOW_DIRTY=1 and marked, "
          "signed, timestamped, and checked as README says")


if __name__ == "__main__":
    main()
