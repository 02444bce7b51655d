#!/usr/bin/env python3
"""Checks the release packages (scripts/release.sh, scripts/package.py) in WORK:

  reproducible  two release runs, each in a build and output folder of its own, give the same
                slotward.exe, zip and installer byte for byte; the zip holds the program and
                the three texts (UTF-8 with BOM, CRLF); SHA256SUMS matches; the installer
                carries the version, the shortcuts, OPTIONS as a secure property and the
                registry value that remembers it, the three texts, and the stopper as a
                deferred action that runs as LocalSystem before the files go; IDENTITY names
                the installer's ProductCode and UpgradeCode, and README.md shows them.
  sign          packages signed with a throwaway self-signed certificate: osslsigncode finds
                the signature, rejects the chain as untrusted, accepts it when told to trust
                that certificate, and rejects a file changed after signing.
"""
import hashlib
import os
import shutil
import subprocess
import sys
import zipfile

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
ZIP_NAMES = ["slotward.exe", "README.txt", "README-ja.txt", "LICENSE.txt"]
SHORTCUTS = {("StartupFolder", "SLOTWARD", "[OPTIONS]"),
             ("MenuFolder", "SLOTWARD", "[OPTIONS]"),
             ("MenuFolder", "SLOTWARD test report", "/T"),
             ("MenuFolder", "Stop SLOTWARD", "/R")}
# (table, columns, row): the installed texts, the remembered OPTIONS and the stopper, deferred
# (1024) without impersonation (2048) from the Binary table (2), before RemoveFiles (3500).
MSI_ROWS = [("File", (2, 1), (name, component)) for name, component in
            (("slotward.exe", "Program"), ("README.txt", "Documents"),
             ("README-ja.txt", "Documents"), ("LICENSE.txt", "Documents"))] + [
    ("Registry", (1, 2, 3, 4), ("2", r"Software\SLOTWARD", "Options", "[OPTIONS]")),
    ("RegLocator", (1, 2, 3), ("2", r"Software\SLOTWARD", "Options")),
    ("CustomAction", (0, 1, 2), ("StopRunning", "3138", "Stopper")),
    ("InstallExecuteSequence", (0, 2), ("StopRunning", "3490")),
    ("InstallExecuteSequence", (0, 2), ("RemoveExistingProducts", "1401"))]


def run(command, **kw):
    return subprocess.run(command, capture_output=True, text=True, **kw)


def release(work, name):
    out, build = os.path.join(work, name, "dist"), os.path.join(work, name, "build")
    proc = run(["bash", os.path.join(ROOT, "scripts", "release.sh"), "--out", out, "--build",
                build], cwd=ROOT)
    if proc.returncode != 0:
        raise SystemExit("release.sh failed:\n" + proc.stdout + proc.stderr)
    return out, os.path.join(build, "slotward.exe")


def read(path):
    with open(path, "rb") as f:
        return f.read()


def msi_table(msi, table):
    rows = run(["msiinfo", "export", msi, table], check=True).stdout.splitlines()[3:]
    return [row.split("\t") for row in rows]


def check_zip(path, exe, failures):
    with zipfile.ZipFile(path) as archive:
        names = archive.namelist()
        if names != ZIP_NAMES:
            failures.append("zip lists %s, want %s" % (names, ZIP_NAMES))
            return
        if archive.read("slotward.exe") != read(exe):
            failures.append("the zip's slotward.exe is not the one built")
        for name in ZIP_NAMES[1:]:
            data = archive.read(name)
            text = data.decode("utf-8", errors="replace")
            if not data.startswith(b"\xef\xbb\xbf") or data.count(b"\n") != data.count(b"\r\n"):
                failures.append("%s is not UTF-8 with BOM and CRLF line ends" % name)
            if name.startswith("README") and not text[1:].startswith("SLOTWARD 1."):
                failures.append("%s does not start with the version" % name)
        if "インストール" not in archive.read("README-ja.txt").decode("utf-8"):
            failures.append("README-ja.txt lacks the Japanese install section")
        if "msiexec /i" not in archive.read("README.txt").decode("utf-8"):
            failures.append("README.txt lacks the install section")


def check_identity(out, properties, failures):
    """IDENTITY names the installer's own codes, and README.md shows them for this version."""
    with open(os.path.join(out, "IDENTITY"), encoding="ascii") as f:
        identity = dict(line.split(": ", 1) for line in f.read().splitlines())
    want = {"Version": properties.get("ProductVersion"),
            "ProductCode": properties.get("ProductCode"),
            "UpgradeCode": properties.get("UpgradeCode", "").upper()}
    if identity != want:
        failures.append("IDENTITY %s, want %s" % (identity, want))
    with open(os.path.join(ROOT, "README.md"), encoding="utf-8") as f:
        readme = f.read()
    for line in ("msiexec /x %s /qn /norestart" % want["ProductCode"],
                 "UpgradeCode: %s" % want["UpgradeCode"]):
        if readme.count(line) != 2:
            failures.append("README.md shows %r %d times, want 2" % (line, readme.count(line)))


def check_msi(msi, failures):
    properties = dict(row[:2] for row in msi_table(msi, "Property"))
    if "OPTIONS" not in properties.get("SecureCustomProperties", "").split(";"):
        failures.append("OPTIONS is not a secure property")
    if properties.get("ALLUSERS") != "1":
        failures.append("the installer is not per machine")
    version = read(os.path.join(os.path.dirname(os.path.dirname(msi)), "build", "version.txt"))
    if properties.get("ProductVersion") != version.decode().strip():
        failures.append("ProductVersion %s" % properties.get("ProductVersion"))
    shortcuts = {(row[1], row[2], row[5]) for row in msi_table(msi, "Shortcut")}
    if shortcuts != SHORTCUTS:
        failures.append("shortcuts %s, want %s" % (sorted(shortcuts), sorted(SHORTCUTS)))
    # Rows as msiinfo prints them: what each table must hold, among its other rows.
    for table, columns, want in MSI_ROWS:
        rows = {tuple(row[c] for c in columns) for row in msi_table(msi, table)}
        if want not in rows:
            failures.append("%s has no row %s" % (table, want))
    return properties


def reproducible(work):
    failures = []
    (out_a, exe_a), (out_b, exe_b) = release(work, "a"), release(work, "b")
    names = sorted(os.listdir(out_a))
    for a, b in [(exe_a, exe_b)] + [(os.path.join(out_a, n), os.path.join(out_b, n))
                                    for n in names]:
        if read(a) != read(b):
            failures.append("%s differs between the two runs" % os.path.basename(a))
    sums = read(os.path.join(out_a, "SHA256SUMS")).decode().splitlines()
    want = ["%s  %s" % (hashlib.sha256(read(os.path.join(out_a, n))).hexdigest(), n)
            for n in names if n not in ("SHA256SUMS", "IDENTITY")]
    if sums != want:
        failures.append("SHA256SUMS %s, want %s" % (sums, want))
    for name in names:
        print("%s: %d bytes" % (name, os.path.getsize(os.path.join(out_a, name))))
        if name.endswith(".zip"):
            check_zip(os.path.join(out_a, name), exe_a, failures)
        elif name.endswith(".msi"):
            check_identity(out_a, check_msi(os.path.join(out_a, name), failures), failures)
    return failures


def verify(path, trusted=None):
    command = ["osslsigncode", "verify", "-in", path] + (["-CAfile", trusted] if trusted else [])
    proc = run(command)
    return proc.returncode, proc.stdout + proc.stderr


def sign(work, exe):
    key, cert, pfx = (os.path.join(work, n) for n in ("key.pem", "cert.pem", "test.pfx"))
    run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj",
         "/CN=SLOTWARD test signing", "-keyout", key, "-out", cert], check=True)
    run(["openssl", "pkcs12", "-export", "-inkey", key, "-in", cert, "-out", pfx,
         "-passout", "pass:throwaway"], check=True)
    out = os.path.join(work, "signed")
    env = dict(os.environ, SLOTWARD_SIGN_PASSWORD="throwaway")
    proc = run([sys.executable, os.path.join(ROOT, "scripts", "package.py"), "--exe", exe,
                "--version", "1.0.0", "--out", out, "--sign", pfx], env=env)
    if proc.returncode != 0:
        return ["package.py --sign failed:\n" + proc.stdout + proc.stderr]
    signed_exe = os.path.join(work, "slotward.exe")
    with zipfile.ZipFile(os.path.join(out, "slotward-1.0.0.zip")) as archive:
        with open(signed_exe, "wb") as f:
            f.write(archive.read("slotward.exe"))
    tampered = os.path.join(work, "tampered.exe")
    data = bytearray(read(signed_exe))
    data[0x300] ^= 1  # a byte of the headers' padding: covered by the signature's digest
    with open(tampered, "wb") as f:
        f.write(data)
    failures = []
    for path in (signed_exe, os.path.join(out, "slotward-1.0.0.msi")):
        name = os.path.basename(path)
        rc, text = verify(path)
        if "Subject: /CN=SLOTWARD test signing" not in text:
            failures.append("%s: no signature by the test certificate\n%s" % (name, text))
        elif rc == 0 or "self-signed certificate" not in text:
            failures.append("%s: an untrusted chain was accepted\n%s" % (name, text))
        rc, text = verify(path, cert)
        if rc != 0 or "Signature verification: ok" not in text:
            failures.append("%s: the signature does not verify\n%s" % (name, text))
    rc, text = verify(tampered, cert)
    if rc == 0:
        failures.append("a file changed after signing still verifies")
    return failures


def main():
    mode, work = sys.argv[1], os.path.abspath(sys.argv[2])
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    failures = reproducible(work) if mode == "reproducible" else sign(work, sys.argv[3])
    for failure in failures:
        print("FAIL:", failure)
    if not failures:
        shutil.rmtree(work, ignore_errors=True)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
