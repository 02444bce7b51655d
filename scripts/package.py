#!/usr/bin/env python3
"""Packs a built slotward.exe for release into OUT: slotward-<version>.zip, slotward-<version>.msi,
SHA256SUMS and IDENTITY (version, ProductCode and UpgradeCode, for detection rules). scripts/release.sh builds the program and calls this; the Wine bench calls it
with --msi-only to make installers of its own, and adds --no-stopper for an older one that,
like 1.0.0's, ends no running copy.

Both packages are reproducible: they depend only on their inputs and on SOURCE_DATE_EPOCH (the
time of the last commit), which stands in for every date they record. The zip is written by
Python's zipfile, which lets us set each entry's time, attributes and order directly (no
second tool to scrub them afterwards). wixl stamps the installer with a random package code and
the current time: the package code is derived from the inputs instead and the summary's times
are set to SOURCE_DATE_EPOCH afterwards.

The installer also carries its custom actions (packaging/actions/, actions.dll built beside
slotward.exe), which end the running copies before the program is replaced or removed and bring
SLOTWARD back in their sessions afterwards, or after a rollback.

With --sign FILE.pfx the program and the actions' DLL (before they are packed) and the installer are signed with
osslsigncode; the certificate's password comes from SLOTWARD_SIGN_PASSWORD (none if unset), a
time-stamping server's address from SLOTWARD_SIGN_TIMESTAMP (none if unset).
"""

import argparse
import hashlib
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import uuid
import zipfile

# Debian's python3-olefile is installed for the system's python3; the first python3 on PATH
# may be another one.
try:
    import olefile
except ImportError:
    if sys.executable != "/usr/bin/python3" and os.path.exists("/usr/bin/python3"):
        os.execv("/usr/bin/python3", ["/usr/bin/python3"] + sys.argv)
    raise

import readme_text  # noqa: E402  (scripts/, beside this file)

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
WXS = os.path.join(ROOT, "packaging", "slotward.wxs")
ZIP_DATE_MIN = 315532800  # 1980-01-01, the first date a zip entry can hold
FILETIME_1970 = 11644473600  # seconds from 1601 (FILETIME's origin) to 1970
PID_CREATE_DTM, PID_LASTSAVE_DTM, VT_FILETIME = 12, 13, 64
TEXT_NAMES = ("README.txt", "README-ja.txt", "LICENSE.txt")
# The installer's custom actions (packaging/actions/, one DLL in the Binary table "Actions"),
# which wixl cannot write with the types they need: (action, type, source, target, sequence,
# condition). Types: 1 a function of a DLL from the Binary table, 51 an action that sets a
# property, 64 its result ignored (the installation goes on whatever a helper could not do),
# 256 run only when the installation is rolled back, 1024 deferred, run from the installation's
# script, 2048 not impersonated: as LocalSystem, which may end and start programs in every
# session.
# - A deferred action sees nothing of the installation but its CustomActionData: the property of
#   its own name, formatted by a type-51 action while the script is written, from the package's
#   own values only: the program by its file key, and the remembered folder and options, which
#   the AppSearch of the installation's own server side found in HKLM (see slotward.wxs).
# - The stopper (StopAndNote) is the script's first action, right after InstallInitialize
#   (1500), run by InstallExecute (1515) before RemoveExistingProducts (1520): an older
#   package's removal then finds no copy running even without a stopper of its own, and
#   RemoveFiles and InstallFiles find none either. It passes once more right before InstallFiles
#   (StopLate), adding to the list. An uninstallation adds to the list too: inside an upgrade it
#   is the old version's removal, whose copies the new version brings back.
# - Its rollback (RestoreEnded) comes before it, as Windows Installer wants a rollback action
#   placed: when the installation fails or is cancelled after the stopper, the old files come
#   back and so does SLOTWARD, with the old folder's program and the old options.
# - The starter brings SLOTWARD back in the noted sessions as the last action of the script,
#   once every file is in place, with /Q and the options, as each session's user; on a plain
#   uninstallation it only forgets the list, and inside an upgrade's removal it does nothing.
# - Where it could not (Windows 2000 has no WTSQueryUserToken), the installing user's own
#   session gets SLOTWARD back after the installation (StartHere, immediate, as that user); not
#   when the system account installs, which has no session of its own.
# - WIXFAILWHENDEFERRED=1 fails the installation once the files are in place, before the
#   starter, so that an administrator can try the rollback.
# - NameUsersGroup gives the lock on the installation folder the Users group's local name.
KEEPS_RUNNING = 'NOT REMOVE~="ALL"'
REMOVES = 'REMOVE~="ALL"'
# InstalledByName: the mark CheckFolder sets where the installed version's folder fails the check.
TARGETS = '"[#slotward.exe]" [InstalledByName] "[INSTALLEDDIR]slotward.exe"'
DEFERRED_SYSTEM = 1 + 64 + 1024 + 2048
HELPER_ACTIONS = [
    ("SetRestoreEnded", 51, "RestoreEnded",
     '[InstalledByName] "[INSTALLEDDIR]slotward.exe" /Q [INSTALLEDOPTIONS]', 1401, "INSTALLEDDIR"),
    ("SetRestoreEndedInPlace", 51, "RestoreEnded", '"[#slotward.exe]" /Q [INSTALLEDOPTIONS]', 1402,
     "NOT INSTALLEDDIR"),
    ("SetStopAndNote", 51, "StopAndNote", TARGETS, 1403, KEEPS_RUNNING),
    ("SetStopAndNoteRemoving", 51, "StopAndNote", "/add " + TARGETS, 1404, REMOVES),
    ("SetStopLate", 51, "StopLate", "/late " + TARGETS, 1405, KEEPS_RUNNING),
    ("SetStartEnded", 51, "StartEnded", '"[#slotward.exe]" /Q [OPTIONS]', 1406, KEEPS_RUNNING),
    ("SetStartHere", 51, "StartHere", '"[#slotward.exe]" /Q [OPTIONS]', 1407, KEEPS_RUNNING),
    ("NameUsersGroup", 1, "Actions", "NameUsersGroup", 1408, KEEPS_RUNNING),
    ("RestoreEnded", 1 + 256 + 1024 + 2048, "Actions", "RestoreEnded", 1505, None),
    ("StopAndNote", DEFERRED_SYSTEM, "Actions", "StopAndNote", 1510, None),
    ("StopLate", DEFERRED_SYSTEM, "Actions", "StopAndNote", 3990, KEEPS_RUNNING),
    ("FailWhenDeferred", 1 + 1024, "Actions", "FailWhenDeferred", 6580,
     "WIXFAILWHENDEFERRED=1"),
    ("StartEnded", DEFERRED_SYSTEM, "Actions", "StartEnded", 6590,
     "NOT (%s AND UPGRADINGPRODUCTCODE)" % REMOVES),
    ("StartHere", 1 + 64, "Actions", "StartHere", 6700,
     KEEPS_RUNNING + ' AND UserSID<>"S-1-5-18"'),
]
# Only an administrator, a deployment service (LocalSystem) or a transform sets these: on the
# installation's server side, a value that a user who is not an administrator gave is dropped
# before anything reads it (an empty value removes a property), whatever way the installation
# was elevated for that user. See slotward.wxs for why this, and not SecureCustomProperties.
ADMIN_ONLY = ("OPTIONS", "INSTALLDIR", "WIXFAILWHENDEFERRED")
DROP_ACTIONS = [("DropGivenOptions", 51, "OPTIONS", "", 40, "NOT AdminUser"),
                ("DropGivenFolder", 51, "INSTALLDIR", "", 41, "NOT AdminUser"),
                ("DropGivenFailure", 51, "WIXFAILWHENDEFERRED", "", 42, "NOT AdminUser")]
# What the installed version left (INSTALLEDDIR, INSTALLEDOPTIONS) comes from HKLM only: a value
# given on the command line is dropped before AppSearch looks, in both sequences.
FORGET_ACTIONS = [("ForgetGivenInstalledFolder", 51, "INSTALLEDDIR", "", 43, None),
                  ("ForgetGivenInstalledOptions", 51, "INSTALLEDOPTIONS", "", 44, None)]
# The lock on the installation folder: Administrators full control (GENERIC_ALL), the Users
# group read and run (FILE_GENERIC_READ | FILE_GENERIC_EXECUTE: the table refuses GENERIC_READ);
# Windows Installer gives LocalSystem full control in every lock it sets. Nobody else may
# replace the program or write a settings file beside it.
LOCK_TABLE = ("CREATE TABLE `LockPermissions` (`LockObject` CHAR(72) NOT NULL, "
              "`Table` CHAR(32) NOT NULL, `Domain` CHAR(255), `User` CHAR(255) NOT NULL, "
              "`Permission` LONG PRIMARY KEY `LockObject`, `Table`, `Domain`, `User`)")
LOCKS = [("INSTALLDIR", "CreateFolder", "Administrators", 0x10000000),
         ("INSTALLDIR", "CreateFolder", "[UsersGroup]", 0x1200A9)]
# The check of the installation folder (folder_guard.c): immediate actions of the DLL (type 1), as
# the installing user. KeepInstalledFolder, before the folders are resolved, in both sequences, in
# place of the command line's INSTALLDIR where an upgrade gives none: it stays in the installed
# version's folder where that folder passes the check, and moves to the default folder where it
# does not (a repair and the removal always stay: StayInInstalledFolder, slotward.wxs). CheckFolder, once the folders are resolved (CostFinalize, 1000) and
# before the helpers' data is formatted (1401-1407) and the script starts (InstallInitialize,
# 1500), so that a refusal ends the installation with nothing changed; on every installation,
# upgrade and repair, and on the removal, where it only judges the installed version's folder for
# the helpers (InstalledByName). Its result counts: a refusal fails the installation (1603).
FOLDER_ACTIONS = [("CheckFolder", 1, "Actions", "CheckFolder", 1300, None)]
KEEP_FOLDER = ("KeepInstalledFolder", 1, "Actions", "KeepInstalledFolder", 53,
               "INSTALLEDDIR AND NOT Installed AND NOT INSTALLDIR")
# The public properties that reach the installation's server side in a managed installation.
SECURE_PROPERTIES = ";".join(ADMIN_ONLY + ("WIX_DOWNGRADE_DETECTED", "WIX_UPGRADE_DETECTED"))
# For the Wine bench only (--start-late COMMAND): a command run right after the stopper's first
# pass, which starts a copy of the installed program as a Start menu click or a logon would
# meanwhile (34: a program run in a folder, here the root, 64: its exit code ignored).
def late_start(command):
    return ("StartLateForTest", 34 + 64 + 1024, "TARGETDIR", command, 1511, KEEPS_RUNNING)


# VS_FIXEDFILEINFO's signature, and the key of the version record's list of languages.
FIXED_FILE_INFO = struct.pack("<I", 0xFEEF04BD)
TRANSLATION = "Translation\0".encode("utf-16-le")

# The user's part of README.md for each text file of the zip: headings, each taken with its
# subsections; the English one starts with the text above the first heading.
README_PARTS = {"README.txt": ("# SLOTWARD", "## Install (Windows)", "## Using SLOTWARD (Windows)"),
                "README-ja.txt": ("## SLOTWARD について（日本語）",)}


def section(markdown, heading):
    """The text from the heading line to the next heading of the same or a higher level
    (lines in code blocks are not headings); for a level 1 heading, up to the next heading."""
    lines = markdown.split("\n")
    if heading not in lines:
        raise SystemExit("package: README.md has no heading %r" % heading)
    start = lines.index(heading)
    level = len(heading) - len(heading.lstrip("#"))
    depth = 2 if level == 1 else level
    in_code = False
    for end in range(start + 1, len(lines)):
        in_code ^= lines[end].startswith("```")
        hashes = len(lines[end]) - len(lines[end].lstrip("#"))
        if not in_code and 0 < hashes <= depth and lines[end][hashes:hashes + 1] == " ":
            break
    else:
        end = len(lines)
    return "\n".join(lines[start:end]).strip() + "\n"


def windows_text(text):
    """UTF-8 with a byte order mark and CRLF line ends: every Notepad shows it right."""
    return ("\ufeff" + text.replace("\r\n", "\n").replace("\n", "\r\n")).encode("utf-8")


def text_files(version):
    with open(os.path.join(ROOT, "README.md"), encoding="utf-8") as f:
        readme = f.read()
    files = {}
    for name, headings in README_PARTS.items():
        body = "\n".join(section(readme, h) for h in headings)
        # The version takes the place of the bare product name as the first heading.
        body = re.sub(r"\A# SLOTWARD\n", "", body)
        files[name] = windows_text(readme_text.render("# SLOTWARD %s\n\n%s" % (version, body)))
    with open(os.path.join(ROOT, "LICENSE"), encoding="utf-8") as f:
        files["LICENSE.txt"] = windows_text(f.read())
    return files


def write_zip(path, exe_bytes, texts, epoch):
    stamp = time.gmtime(max(epoch, ZIP_DATE_MIN))[:6]
    entries = [("slotward.exe", exe_bytes)] + [(name, texts[name]) for name in TEXT_NAMES]
    with zipfile.ZipFile(path, "w") as archive:
        for name, data in entries:
            info = zipfile.ZipInfo(name, stamp)
            info.compress_type = zipfile.ZIP_DEFLATED
            info.create_system = 0  # MS-DOS: no Unix permissions from the build machine
            info.external_attr = 0
            archive.writestr(info, data, compresslevel=9)


def upgrade_code():
    with open(WXS, encoding="utf-8") as f:
        return uuid.UUID(re.search(r'UpgradeCode="([^"]+)"', f.read()).group(1))


def set_summary_times(msi, epoch):
    """Sets the summary information's creation and last-save times (wixl writes the current
    time) to epoch. The stream keeps its size, so it is rewritten in place."""
    filetime = (epoch + FILETIME_1970) * 10 ** 7
    ole = olefile.OleFileIO(msi, write_mode=True)
    try:
        stream = "\x05SummaryInformation"
        data = bytearray(ole.openstream(stream).read())
        section_at = struct.unpack_from("<I", data, 44)[0]
        count = struct.unpack_from("<I", data, section_at + 4)[0]
        for n in range(count):
            pid, offset = struct.unpack_from("<II", data, section_at + 8 + 8 * n)
            if pid in (PID_CREATE_DTM, PID_LASTSAVE_DTM):
                at = section_at + offset
                if struct.unpack_from("<I", data, at)[0] != VT_FILETIME:
                    raise SystemExit("package: unexpected summary property %d" % pid)
                struct.pack_into("<Q", data, at + 4, filetime)
        ole.write_stream(stream, bytes(data))
    finally:
        ole.close()


def product_code(version):
    """Derived from the version: every version has its own, and a rebuild keeps it."""
    return uuid.uuid5(upgrade_code(), "product " + version)


def guid(code):
    return "{%s}" % str(code).upper()


def write_identity(out, version):
    """What a detection rule or a silent uninstallation needs, beside SHA256SUMS."""
    with open(os.path.join(out, "IDENTITY"), "w", encoding="ascii", newline="\n") as f:
        f.write("Version: %s\nProductCode: %s\nUpgradeCode: %s\n"
                % (version, guid(product_code(version)), guid(upgrade_code())))


def write_msi(path, files, version, epoch, stopper=True, start_late=None):
    """Builds the installer with wixl in a folder of its own (wixl takes relative sources).
    files: name in the stage (slotward.exe, actions.dll, the texts) -> contents.
    Without the helpers' rows the installer ends and starts no copy itself, as 1.0.0's did not;
    start_late: the bench's command that starts a copy right after the stopper's first pass."""
    code = upgrade_code()
    product = product_code(version)
    with open(WXS, "rb") as g:
        inputs = hashlib.sha256(b"".join(files[n] for n in sorted(files)) + g.read()).hexdigest()
    package = uuid.uuid5(code, "package %s %s" % (version, inputs))
    with tempfile.TemporaryDirectory(prefix="slotward-msi-") as stage:
        for name, data in files.items():
            with open(os.path.join(stage, name), "wb") as f:
                f.write(data)
            # The cabinet inside records the file's time.
            os.utime(os.path.join(stage, name), (epoch, epoch))
        out = os.path.join(stage, "out.msi")
        run(["wixl", "-a", "x86", "-D", "Version=" + version, "-D", "Exe=slotward.exe",
             "-D", "ProductCode=%s" % product, "-o", out, WXS], cwd=stage)
        # wixl fills SecureCustomProperties with its upgrade properties only.
        sql(out, "UPDATE Property SET Value = '%s' WHERE Property = 'SecureCustomProperties'"
            % SECURE_PROPERTIES)
        # wixl writes no version for a file: Windows Installer would take slotward.exe for an
        # unversioned file, whose replacement follows dates and hashes instead of versions.
        version, languages = file_version(files["slotward.exe"])
        sql(out, "UPDATE File SET Version = '%s', Language = '%s' WHERE File = 'slotward.exe'"
            % (version, languages))
        sql(out, "DELETE FROM MsiFileHash WHERE File_ = 'slotward.exe'")  # unversioned files only
        for row in DROP_ACTIONS:
            add_action(out, *row)
        for row in FORGET_ACTIONS:
            add_action(out, *row, sequences=("InstallUISequence", "InstallExecuteSequence"))
        sql(out, LOCK_TABLE)
        for lock_object, table, user, permission in LOCKS:
            sql(out, "INSERT INTO `LockPermissions` (`LockObject`, `Table`, `User`, `Permission`) "
                "VALUES ('%s', '%s', '%s', %d)" % (lock_object, table, user, permission))
        if stopper:
            add_action(out, *KEEP_FOLDER, sequences=("InstallUISequence", "InstallExecuteSequence"))
            late = [late_start(start_late)] if start_late else []
            for row in FOLDER_ACTIONS + HELPER_ACTIONS + late:
                add_action(out, *row)
        run(["msibuild", out, "-s", "SLOTWARD " + version, "SLOTWARD developers", "Intel;1033",
             "{%s}" % str(package).upper()])
        set_summary_times(out, epoch)
        shutil.copyfile(out, path)


def sql(msi, query):
    run(["msibuild", msi, "-q", query])


def add_action(msi, action, kind, source, target, sequence, condition,
               sequences=("InstallExecuteSequence",)):
    """A CustomAction row and its place in the sequences."""
    sql(msi, "INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) "
        "VALUES ('%s', %d, '%s', '%s')" % (action, kind, source, target))
    for table in sequences:
        sql(msi, "INSERT INTO `%s` (`Action`, `Condition`, `Sequence`) VALUES ('%s', '%s', %d)"
            % (table, action, condition or "", sequence))


def file_version(exe):
    """The file version of a program's version record ("1.2.0.0") and its languages as Windows
    Installer lists them ("1033,1041")."""
    at = exe.find(FIXED_FILE_INFO)
    if at < 0:
        raise SystemExit("package: slotward.exe has no version record")
    high, low = struct.unpack_from("<II", exe, at + 8)
    version = "%d.%d.%d.%d" % (high >> 16, high & 0xFFFF, low >> 16, low & 0xFFFF)
    key = exe.find(TRANSLATION, at)
    if key < 0:
        raise SystemExit("package: slotward.exe's version record names no language")
    value = (key + len(TRANSLATION) + 3) & ~3  # the value follows the key, 32-bit aligned
    length = struct.unpack_from("<H", exe, key - 4)[0]  # the Var's wValueLength, in bytes
    pairs = struct.unpack_from("<%dH" % (length // 2), exe, value)
    return version, ",".join(str(language) for language in pairs[0::2])


def sign(path, pfx):
    signed = path + ".signed"
    command = ["osslsigncode", "sign", "-pkcs12", pfx, "-readpass", "-", "-h", "sha256",
               "-n", "SLOTWARD", "-in", path, "-out", signed]
    if os.environ.get("SLOTWARD_SIGN_TIMESTAMP"):
        command[2:2] = ["-ts", os.environ["SLOTWARD_SIGN_TIMESTAMP"]]
    # The password goes through a pipe: never on a command line that other users can read.
    run(command, stdin_text=os.environ.get("SLOTWARD_SIGN_PASSWORD", ""))
    os.replace(signed, path)


def run(command, cwd=None, stdin_text=None):
    proc = subprocess.run(command, cwd=cwd, input=stdin_text, capture_output=True, text=True)
    if proc.returncode != 0:
        raise SystemExit("package: %s failed (%d):\n%s%s" % (command[0], proc.returncode,
                                                            proc.stdout, proc.stderr))


def write_sums(out, names):
    lines = []
    for name in sorted(names):
        with open(os.path.join(out, name), "rb") as f:
            lines.append("%s  %s\n" % (hashlib.sha256(f.read()).hexdigest(), name))
    with open(os.path.join(out, "SHA256SUMS"), "w", encoding="ascii", newline="\n") as f:
        f.writelines(lines)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--exe", required=True, help="the built slotward.exe")
    parser.add_argument("--helpers", help="the folder of the built actions.dll "
                        "(default: beside --exe)")
    parser.add_argument("--version", required=True)
    parser.add_argument("--out", required=True, help="folder for the packages")
    parser.add_argument("--sign", metavar="PFX", help="sign with this PKCS#12 certificate")
    parser.add_argument("--msi-only", action="store_true", help="only the installer, unsigned")
    parser.add_argument("--no-stopper", action="store_true",
                        help="an installer that ends and starts no copy, like 1.0.0's (for tests)")
    parser.add_argument("--start-late", metavar="COMMAND",
                        help="an installer that runs this command, which starts a copy, right "
                        "after the stopper's first pass (for tests)")
    args = parser.parse_args()
    epoch = int(os.environ.get("SOURCE_DATE_EPOCH") or time.time())
    os.makedirs(args.out, exist_ok=True)
    msi = os.path.join(args.out, "slotward-%s.msi" % args.version)
    helpers = args.helpers or os.path.dirname(args.exe)
    texts = text_files(args.version)
    with tempfile.TemporaryDirectory(prefix="slotward-package-") as stage:
        programs = {}
        for name, source in (("slotward.exe", args.exe),
                             ("actions.dll", os.path.join(helpers, "actions.dll"))):
            shutil.copyfile(source, os.path.join(stage, name))
            if args.sign and not args.msi_only:
                sign(os.path.join(stage, name), args.sign)
            with open(os.path.join(stage, name), "rb") as f:
                programs[name] = f.read()
        write_msi(msi, dict(programs, **texts), args.version, epoch, not args.no_stopper,
                  args.start_late)
        if args.msi_only:
            return 0
        archive = "slotward-%s.zip" % args.version
        write_zip(os.path.join(args.out, archive), programs["slotward.exe"], texts, epoch)
    if args.sign:
        sign(msi, args.sign)
    write_sums(args.out, [archive, os.path.basename(msi)])
    write_identity(args.out, args.version)
    return 0


if __name__ == "__main__":
    sys.exit(main())
