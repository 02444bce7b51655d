#!/usr/bin/env python3
"""Checks the release packages (scripts/release.sh, scripts/package.py) in WORK:

  reproducible  two release runs, each in a build and output folder of its own, give the same
                slotward.exe, zip and installer byte for byte; the zip holds the program and
                the three texts (UTF-8 with BOM, CRLF), the README files as plain text (see
                texts); SHA256SUMS matches; the installer carries the version, the shortcuts,
                OPTIONS and INSTALLDIR as secure properties and the registry values that
                remember them, the three texts, slotward.exe with its file version, Restart
                Manager left out, the stopper as a deferred action that runs as LocalSystem
                before the files go and the starter after them; IDENTITY names the
                installer's ProductCode and UpgradeCode, and README.md shows them.
  texts         README.txt and README-ja.txt as made from README.md now: no line wider than 80
                columns (a wide character counts two), no Markdown marks, every word of the
                README's user sections in its order, every command indented as written; and
                the plain-text rendering of a table of Markdown cases.
  sign          packages signed with a throwaway self-signed certificate: osslsigncode finds
                the signature, rejects the chain as untrusted, accepts it when told to trust
                that certificate, and rejects a file changed after signing.
"""
import hashlib
import os
import re
import shutil
import subprocess
import sys
import unicodedata
import zipfile

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
sys.path.insert(0, os.path.join(ROOT, "scripts"))
import package  # noqa: E402
import readme_text  # noqa: E402

COLUMNS = 80
MARKDOWN = [(r"^ {0,3}#{1,6}(\s|$)", "a heading mark"), (r"^\s*(```|~~~)", "a code fence"),
            (r"^\s*\|", "a table row"), (r"\*\*", "bold marks"), (r"`", "a code mark"),
            (r"\]\(", "a link"), (r"^ {0,3}([-=*_])\1{2,}\s*$", "a rule or underline"),
            (r"(^|\s)\*[^\s*][^*]*\*", "emphasis marks")]
# Markdown and its plain text (the block's lines; the first heading stays as written).
RENDERED = [
    # A wide character never starts a line with closing punctuation: the one before it goes too.
    ("あ" * 38 + "。続き", ["  " + "あ" * 37, "  あ。続き"]),
    # Japanese lines join without a space, also next to an ASCII word after punctuation.
    ("日本語の\n文章は、\n`/F` と\nEnglish\nwords", ["  日本語の文章は、/F と English words"]),
    # A code span does not break; a word that does not fit goes to the next line.
    ("Run `msiexec /x {PRODUCT} /qn /norestart` to remove it; the log switch is /l*v.",
     ["  Run msiexec /x {PRODUCT} /qn /norestart to remove it; the log switch is",
      "  /l*v."]),
    ("| Option | What |\n|---|:--|\n| `D:` (any drive letter) | also this |\n"
     "| `/X` | *excluded* and **never** [checked](x.md) |",
     ["  Option        What", "  D: (any drive letter)", "                also this",
      '  /X            "excluded" and never checked']),
    ("- one\n  two\n- 三つ目\n\nAfter.", ["  - one two", "  - 三つ目", "", "  After."]),
    ("# Top\n\nText.\n\n## Two words\n\n### Sub\n\n```\ncmd  /a\n```",
     ["Top", "", "  Text.", "", "", "TWO WORDS", "", "", "Sub", "", "      cmd  /a"]),
]
ZIP_NAMES = ["slotward.exe", "README.txt", "README-ja.txt", "LICENSE.txt"]
SHORTCUTS = {("StartupFolder", "SLOTWARD", "/Q [OPTIONS]"),
             ("MenuFolder", "SLOTWARD", "[OPTIONS]"),
             ("MenuFolder", "SLOTWARD test report", "/T"),
             ("MenuFolder", "Stop SLOTWARD", "/R")}
# (table, columns, row): the installed texts, slotward.exe with its version and languages, the
# remembered OPTIONS and INSTALLDIR, Restart Manager left out, the folder's lock, and the custom
# actions (package.py): each deferred one (1024) gets its data from a type-51 action of its own
# name, formatted before InstallInitialize from the file key and the remembered values; the
# stopper without impersonation (2048) from the DLL in the Binary table (1) run by InstallExecute
# before the older version's removal, its rollback (256) before it, its second pass right before
# InstallFiles; the starter as the script's last action and again as the installing user after
# it; the failure on request once the files are in place, before the starter; the check of the
# installation folder before the helpers' data is formatted, its result counted (type 1 without
# 64), and the choice of the installed folder before the folders are resolved, in both sequences.
STOP_DATA = '"[#slotward.exe]" [InstalledByName] "[INSTALLEDDIR]slotward.exe"'
START_DATA = '"[#slotward.exe]" /Q [OPTIONS]'
MSI_ROWS = [("File", (2, 1), (name, component)) for name, component in
            (("slotward.exe", "Program"), ("README.txt", "Documents"),
             ("README-ja.txt", "Documents"), ("LICENSE.txt", "Documents"))] + [
    ("File", (0, 4, 5), ("slotward.exe", "VERSION", "1033,1041")),
    ("Registry", (1, 2, 3, 4), ("2", r"Software\SLOTWARD", "Options", "[OPTIONS]")),
    ("Registry", (1, 2, 3, 4), ("2", r"Software\SLOTWARD", "InstallDir", "[INSTALLDIR]")),
    ("RegLocator", (1, 2, 3), ("2", r"Software\SLOTWARD", "Options")),
    ("RegLocator", (1, 2, 3), ("2", r"Software\SLOTWARD", "InstallDir")),
    ("Property", (0, 1), ("MSIRESTARTMANAGERCONTROL", "Disable")),
    ("Property", (0, 1), ("MSIUSEREALADMINDETECTION", "1")),
    ("Property", (0, 1), ("UsersGroup", "Users")),
    ("CreateFolder", (0, 1), ("INSTALLDIR", "Program")),
    ("LockPermissions", (0, 1, 2, 3, 4), ("INSTALLDIR", "CreateFolder", "", "Administrators",
                                          "268435456")),
    ("LockPermissions", (0, 1, 2, 3, 4), ("INSTALLDIR", "CreateFolder", "", "[UsersGroup]",
                                          "1179817")),
    ("Binary", (0,), ("Actions",)),
    ("CustomAction", (0, 1, 2, 3), ("SetRestoreEnded", "51", "RestoreEnded",
                                    '[InstalledByName] "[INSTALLEDDIR]slotward.exe" /Q '
                                    '[INSTALLEDOPTIONS]')),
    ("CustomAction", (0, 1, 2, 3), ("SetRestoreEndedInPlace", "51", "RestoreEnded",
                                    '"[#slotward.exe]" /Q [INSTALLEDOPTIONS]')),
    ("CustomAction", (0, 1, 2, 3), ("SetStopAndNote", "51", "StopAndNote", STOP_DATA)),
    ("CustomAction", (0, 1, 2, 3), ("SetStopAndNoteRemoving", "51", "StopAndNote",
                                    "/add " + STOP_DATA)),
    ("CustomAction", (0, 1, 2, 3), ("SetStopLate", "51", "StopLate", "/late " + STOP_DATA)),
    ("CustomAction", (0, 1, 2, 3), ("SetStartEnded", "51", "StartEnded", START_DATA)),
    ("CustomAction", (0, 1, 2, 3), ("SetStartHere", "51", "StartHere", START_DATA)),
    ("CustomAction", (0, 1, 2, 3), ("RestoreEnded", "3329", "Actions", "RestoreEnded")),
    ("CustomAction", (0, 1, 2, 3), ("StopAndNote", "3137", "Actions", "StopAndNote")),
    ("CustomAction", (0, 1, 2, 3), ("StopLate", "3137", "Actions", "StopAndNote")),
    ("CustomAction", (0, 1, 2, 3), ("FailWhenDeferred", "1025", "Actions", "FailWhenDeferred")),
    ("CustomAction", (0, 1, 2, 3), ("StartEnded", "3137", "Actions", "StartEnded")),
    ("CustomAction", (0, 1, 2, 3), ("StartHere", "65", "Actions", "StartHere")),
    ("CustomAction", (0, 1, 2, 3), ("NameUsersGroup", "1", "Actions", "NameUsersGroup")),
    ("CustomAction", (0, 1, 2, 3), ("CheckFolder", "1", "Actions", "CheckFolder")),
    ("CustomAction", (0, 1, 2, 3), ("KeepInstalledFolder", "1", "Actions",
                                    "KeepInstalledFolder")),
    ("CustomAction", (0, 1, 2, 3), ("DropGivenOptions", "51", "OPTIONS", "")),
    ("CustomAction", (0, 1, 2, 3), ("DropGivenFolder", "51", "INSTALLDIR", "")),
    ("CustomAction", (0, 1, 2, 3), ("DropGivenFailure", "51", "WIXFAILWHENDEFERRED", "")),
    ("CustomAction", (0, 1, 2, 3), ("ForgetGivenInstalledFolder", "51", "INSTALLEDDIR", "")),
    ("CustomAction", (0, 1, 2, 3), ("ForgetGivenInstalledOptions", "51", "INSTALLEDOPTIONS", "")),
    ("InstallExecuteSequence", (0, 1, 2), ("DropGivenOptions", "NOT AdminUser", "40")),
    ("InstallExecuteSequence", (0, 1, 2), ("DropGivenFolder", "NOT AdminUser", "41")),
    ("InstallExecuteSequence", (0, 1, 2), ("DropGivenFailure", "NOT AdminUser", "42")),
    ("InstallExecuteSequence", (0, 1, 2), ("KeepGivenOptions", "OPTIONS", "49")),
    ("InstallExecuteSequence", (0, 1, 2), ("PutBackGivenOptions", "GivenOptions AND AdminUser",
                                           "51")),
    ("InstallExecuteSequence", (0, 2), ("ForgetGivenInstalledFolder", "43")),
    ("InstallExecuteSequence", (0, 2), ("ForgetGivenInstalledOptions", "44")),
    ("InstallUISequence", (0, 2), ("ForgetGivenInstalledFolder", "43")),
    ("InstallUISequence", (0, 2), ("ForgetGivenInstalledOptions", "44")),
    ("InstallExecuteSequence", (0, 2), ("AppSearch", "50")),
    ("InstallExecuteSequence", (0, 1, 2), ("StayInInstalledFolder", "INSTALLEDDIR AND Installed",
                                           "52")),
    ("InstallUISequence", (0, 1, 2), ("StayInInstalledFolder", "INSTALLEDDIR AND Installed",
                                      "52")),
    ("InstallExecuteSequence", (0, 1, 2), ("KeepInstalledFolder",
                                           "INSTALLEDDIR AND NOT Installed AND NOT INSTALLDIR",
                                           "53")),
    ("InstallUISequence", (0, 1, 2), ("KeepInstalledFolder",
                                      "INSTALLEDDIR AND NOT Installed AND NOT INSTALLDIR", "53")),
    ("InstallExecuteSequence", (0, 2), ("CostFinalize", "1000")),
    ("InstallExecuteSequence", (0, 1, 2), ("SetRestoreEnded", "INSTALLEDDIR", "1401")),
    ("InstallExecuteSequence", (0, 1, 2), ("SetRestoreEndedInPlace", "NOT INSTALLEDDIR", "1402")),
    ("InstallExecuteSequence", (0, 1, 2), ("SetStopAndNote", 'NOT REMOVE~="ALL"', "1403")),
    ("InstallExecuteSequence", (0, 1, 2), ("SetStopAndNoteRemoving", 'REMOVE~="ALL"', "1404")),
    ("InstallExecuteSequence", (0, 1, 2), ("SetStopLate", 'NOT REMOVE~="ALL"', "1405")),
    ("InstallExecuteSequence", (0, 1, 2), ("SetStartEnded", 'NOT REMOVE~="ALL"', "1406")),
    ("InstallExecuteSequence", (0, 1, 2), ("SetStartHere", 'NOT REMOVE~="ALL"', "1407")),
    ("InstallExecuteSequence", (0, 1, 2), ("NameUsersGroup", 'NOT REMOVE~="ALL"', "1408")),
    ("InstallExecuteSequence", (0, 1, 2), ("CheckFolder", "", "1300")),
    ("InstallExecuteSequence", (0, 2), ("InstallInitialize", "1500")),
    ("InstallExecuteSequence", (0, 1, 2), ("RestoreEnded", "", "1505")),
    ("InstallExecuteSequence", (0, 1, 2), ("StopAndNote", "", "1510")),
    ("InstallExecuteSequence", (0, 2), ("InstallExecute", "1515")),
    ("InstallExecuteSequence", (0, 2), ("RemoveExistingProducts", "1520")),
    ("InstallExecuteSequence", (0, 2), ("RemoveFiles", "3500")),
    ("InstallExecuteSequence", (0, 2), ("CreateFolders", "3700")),
    ("InstallExecuteSequence", (0, 1, 2), ("StopLate", 'NOT REMOVE~="ALL"', "3990")),
    ("InstallExecuteSequence", (0, 2), ("InstallFiles", "4000")),
    ("InstallExecuteSequence", (0, 1, 2), ("FailWhenDeferred", "WIXFAILWHENDEFERRED=1", "6580")),
    ("InstallExecuteSequence", (0, 1, 2), ("StartEnded",
                                           'NOT (REMOVE~="ALL" AND UPGRADINGPRODUCTCODE)', "6590")),
    ("InstallExecuteSequence", (0, 2), ("InstallFinalize", "6600")),
    ("InstallExecuteSequence", (0, 1, 2), ("StartHere",
                                           'NOT REMOVE~="ALL" AND UserSID<>"S-1-5-18"', "6700"))]
# Who may set what: an administrator's values reach the server side in every elevated
# installation, and the server drops the others'; what the installed version left is never taken
# from a command line.
SECURE = {"OPTIONS", "INSTALLDIR", "WIXFAILWHENDEFERRED"}
NEVER_SECURE = {"INSTALLEDDIR", "INSTALLEDOPTIONS", "GivenOptions", "UsersGroup",
                "InstalledByName"}
# What the installed version left, read from HKLM only (a command line's value is dropped).
FROM_HKLM = {"INSTALLEDDIR", "INSTALLEDOPTIONS"}
# What the installer's helper DLL may import: what Windows Installer's own process has loaded.
HELPER_IMPORTS = {"KERNEL32.dll", "msi.dll"}


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


def columns(line):
    return sum(2 if unicodedata.east_asian_width(c) in "WFA" else 1 for c in line)


def words(markdown):
    """The letters and digits of a text in their order, link targets and code fences left out."""
    text = re.sub(r"\]\([^)]*\)", "", re.sub(r"(?m)^\s*```.*$", "", markdown))
    return "".join(re.findall(r"\w", text)).casefold()


def check_readme_text(name, text, failures):
    """A README text file against README.md's user sections."""
    readme = read(os.path.join(ROOT, "README.md")).decode("utf-8")
    source = "\n".join(package.section(readme, h) for h in package.README_PARTS[name])
    lines = text.lstrip("\ufeff").replace("\r\n", "\n").split("\n")
    for number, line in enumerate(lines, 1):
        if columns(line) > COLUMNS:
            failures.append("%s:%d: %d columns: %s" % (name, number, columns(line), line))
        failures += ["%s:%d: %s: %s" % (name, number, what, line)
                     for pattern, what in MARKDOWN if re.search(pattern, line)]
    # The first line is the title with the version; it stands for the bare name's heading.
    if words("\n".join(lines[1:])) != words(re.sub(r"\A# SLOTWARD\n", "", source)):
        failures.append("%s does not hold the words of the README's user sections in order"
                        % name)
    for code in re.findall(r"(?ms)^```[^\n]*\n(.*?)^```", source):
        for command in filter(None, code.split("\n")):
            if not any(line.startswith("    ") and line.strip() == command for line in lines):
                failures.append("%s: the command %r is not indented as written" % (name, command))


def texts():
    failures = []
    for name, data in package.text_files("1.0.0").items():
        if name.startswith("README"):
            check_readme_text(name, data.decode("utf-8"), failures)
    for markdown, want in RENDERED:
        got = readme_text.render(markdown).split("\n")[:-1]
        if got != want:
            failures.append("rendered %r\n as %r,\nwant %r" % (markdown, got, want))
    return failures


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
            if name.startswith("README"):
                check_readme_text(name, text, failures)
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
    secure = properties.get("SecureCustomProperties", "").split(";")
    if not SECURE <= set(secure) or NEVER_SECURE & set(secure):
        failures.append("secure properties %s: want %s among them and none of %s"
                        % (secure, sorted(SECURE), sorted(NEVER_SECURE)))
    check_helpers(msi, failures)
    check_admin_only(msi, failures)
    if any(row[0] == "slotward.exe" for row in msi_table(msi, "MsiFileHash")):
        failures.append("slotward.exe has a hash: Windows Installer takes it for unversioned")
    # Rows as msiinfo prints them: what each table must hold, among its other rows; the file
    # version is the one in the program's version record.
    for table, columns, row in MSI_ROWS:
        want = tuple(version.decode().strip() + ".0" if cell == "VERSION" else cell
                     for cell in row)
        rows = {tuple(row[c] for c in columns) for row in msi_table(msi, table)}
        if want not in rows:
            failures.append("%s has no row %s" % (table, want))
    return properties


def check_admin_only(msi, failures):
    """On the server side nothing gives an admin-only property a value again after its drop
    unless AdminUser: a put-back from another property would undo the drop for a standard user."""
    # Type 51 in the low six bits (wixl adds the 2048 of an immediate action to some).
    actions = [row for row in msi_table(msi, "CustomAction") if int(row[1]) & 0x3F == 51]
    setters = {row[0]: row[2] for row in actions}
    values = {row[0]: row[3] for row in actions}
    steps = msi_table(msi, "InstallExecuteSequence")
    drops = {setters[a]: int(n) for a, c, n in steps if c == "NOT AdminUser" and a in setters}
    for action, condition, number in steps:
        target = setters.get(action)
        given = set(re.findall(r"\[(\w+)\]", values.get(action, ""))) - FROM_HKLM
        if target in SECURE and int(number) > drops.get(target, 0) and given and \
                "AdminUser" not in condition:
            failures.append("%s sets %s after its drop without AdminUser (%r)"
                            % (action, target, condition))
    if set(drops) != SECURE:
        failures.append("dropped unless AdminUser: %s, want %s" % (sorted(drops), sorted(SECURE)))


def check_helpers(msi, failures):
    """The installer runs no helper of its own as a program (none could be started by a user, nor
    be virtualised): every stream of its Binary table is the actions' DLL, which imports only
    what Windows Installer's process has and exports the entries the CustomAction table names."""
    binaries = [row[0] for row in msi_table(msi, "Binary")]
    if binaries != ["Actions"]:
        failures.append("Binary table %s, want only the actions' DLL" % binaries)
        return
    dll = subprocess.run(["msiinfo", "extract", msi, "Binary.Actions"],
                         capture_output=True).stdout
    path = msi + ".actions.dll"
    with open(path, "wb") as f:
        f.write(dll)
    dump = run(["i686-w64-mingw32-objdump", "-p", path]).stdout
    os.remove(path)
    imports = set(re.findall(r"DLL Name: (\S+)", dump))
    if not dll.startswith(b"MZ") or not re.search(r"^\s+DLL$", dump, re.M):
        failures.append("the Actions stream is no DLL")
    if imports != HELPER_IMPORTS:
        failures.append("the actions' DLL imports %s, want %s" % (sorted(imports),
                                                                  sorted(HELPER_IMPORTS)))
    entries = {row[3] for row in msi_table(msi, "CustomAction") if row[2] == "Actions"}
    exported = set(re.findall(r"^\s+\[\s*\d+\] (\w+)$", dump, re.M))
    if not entries <= exported:
        failures.append("the DLL does not export %s" % sorted(entries - exported))


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
    modes = {"reproducible": lambda: reproducible(work), "texts": texts,
             "sign": lambda: sign(work, sys.argv[3])}
    failures = modes[mode]()
    for failure in failures:
        print("FAIL:", failure)
    if not failures:
        shutil.rmtree(work, ignore_errors=True)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
