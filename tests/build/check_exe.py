#!/usr/bin/env python3
"""Checks the footprint of slotward.exe: a PE32 i386 GUI program of at most 17 KiB whose entry
point is ProgramEntry, which imports from KERNEL32.dll and USER32.dll only, which is marked
terminal-server aware, and which carries its resources: the icon in 16, 32 and 48 pixels, the
version record in English and Japanese (each naming the installer's Manufacturer as
CompanyName), and a well-formed application manifest."""
import os
import re
import struct
import subprocess
import sys
import xml.etree.ElementTree as ET

# 16 KiB until the drives were surveyed on a thread of their own within a time limit: that, the
# wait for a terminated copy and the settings file by the module's wide path took one step of
# 512 bytes more than the room the shared code and data section and a frame-pointer-less build
# made (scripts/measure.py shows each section's room).
MAX_SIZE = 17 * 1024
WXS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "packaging",
                   "slotward.wxs")
BITMAP, PNG = b"\x28\0\0\0", b"\x89PNG"
# Windows 2000 and XP read bitmaps only; PNG saves space in the larger images from Vista on.
ICON_FORMATS = {16: BITMAP, 32: BITMAP, 48: PNG}
RT_ICON, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 14, 16, 24
ASM1, ASM3 = "{urn:schemas-microsoft-com:asm.v1}", "{urn:schemas-microsoft-com:asm.v3}"
COMPAT = "{urn:schemas-microsoft-com:compatibility.v1}"
WINDOWS_SETTINGS = ("{http://schemas.microsoft.com/SMI/2005/WindowsSettings}",
                    "{http://schemas.microsoft.com/SMI/2016/WindowsSettings}")
# Vista, 7, 8, 8.1, 10 and 11.
SUPPORTED_OS = {"{e2011457-1546-43c5-a5fe-008deee3d3f0}", "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",
                "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}", "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",
                "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"}


def resources(image):
    """{(type, id): data} from the resource section of a PE image (one language each)."""
    pe = struct.unpack_from("<I", image, 0x3C)[0]
    count, _, _, _, optional_size = struct.unpack_from("<HIIIH", image, pe + 6)
    found = {}
    for i in range(count):
        name, _, rva, raw_size, raw = struct.unpack_from("<8sIIII", image, pe + 24 + optional_size
                                                         + 40 * i)
        if name.rstrip(b"\0") == b".rsrc":
            section = image[raw:raw + raw_size]

            def entries(offset):
                named, numbered = struct.unpack_from("<HH", section, offset + 12)
                return [struct.unpack_from("<II", section, offset + 16 + 8 * n)
                        for n in range(named + numbered)]

            for kind, names in entries(0):
                for ident, languages in entries(names & 0x7FFFFFFF):
                    _, leaf = entries(languages & 0x7FFFFFFF)[0]
                    data_rva, size = struct.unpack_from("<II", section, leaf)
                    found[kind, ident] = section[data_rva - rva:data_rva - rva + size]
    return found


def check_icon(found):
    group = found.get((RT_GROUP_ICON, 1))
    if not group:
        return ["no icon group 1"]
    sizes, failures = [], []
    for n in range(struct.unpack_from("<H", group, 4)[0]):
        width, _, _, _, _, _, _, ident = struct.unpack_from("<BBBBHHIH", group, 6 + 14 * n)
        sizes.append(width or 256)
        image = found.get((RT_ICON, ident), b"")
        if not image.startswith(ICON_FORMATS.get(width, b"?")):
            failures.append("icon image %d (%d px) missing or in the wrong format" % (ident, width))
    if sorted(sizes) != sorted(ICON_FORMATS):
        failures.append("icon sizes %s, want 16, 32 and 48" % sizes)
    return failures


def string_table(record, table):
    """{key: value} of one StringTable of a version record: entries of wLength, wValueLength
    (in characters), wType, a UTF-16 key and the value, each aligned to 4 bytes."""
    key = (table + "\0").encode("utf-16-le")
    start = record.find(key) - 6
    if start < 0:
        return None
    end = start + struct.unpack_from("<H", record, start)[0]
    strings, at = {}, (start + 6 + len(key) + 3) & ~3
    while at + 6 < end:
        length, value_length = struct.unpack_from("<HH", record, at)
        text = record[at + 6:at + length].decode("utf-16-le")
        name = text.split("\0")[0]
        value_at = (at + 6 + 2 * len(name) + 2 + 3) & ~3
        strings[name] = record[value_at:value_at + 2 * value_length].decode(
            "utf-16-le").rstrip("\0")
        at = (at + length + 3) & ~3
    return strings


def check_version(found, version):
    record = found.get((RT_VERSION, 1), b"")
    fixed = record.find(struct.pack("<I", 0xFEEF04BD))
    if fixed < 0:
        return ["no version record"]
    ms, ls = struct.unpack_from("<II", record, fixed + 8)
    got = "%d.%d.%d.%d" % (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)
    failures = [] if got == version + ".0" else ["file version %s, want %s.0" % (got, version)]
    manufacturer = re.search(r'Manufacturer="([^"]+)"', open(WXS, encoding="utf-8").read())
    for table in ("040904B0", "041104B0"):
        strings = string_table(record, table)
        if strings is None:
            failures.append("no string table " + table)
        elif strings.get("CompanyName") != manufacturer.group(1):
            failures.append("%s: CompanyName %r, want the installer's Manufacturer %r"
                            % (table, strings.get("CompanyName"), manufacturer.group(1)))
    return failures


def check_manifest(found, version):
    text = found.get((RT_MANIFEST, 1))
    if not text:
        return ["no manifest (RT_MANIFEST 1)"]
    try:
        root = ET.fromstring(text)
    except ET.ParseError as e:
        return ["manifest is not well-formed XML: %s" % e]
    failures = []

    def want(condition, what):
        if not condition:
            failures.append("manifest: " + what)

    want(root.tag == ASM1 + "assembly", "root is not an asm.v1 assembly")
    identity = root.find(ASM1 + "assemblyIdentity")
    want(identity is not None and identity.get("version") == version + ".0",
         "its identity does not carry version %s.0" % version)
    levels = [e.get("level") for e in root.iter(ASM3 + "requestedExecutionLevel")]
    want(levels == ["asInvoker"], "execution level %s, want asInvoker" % levels)
    want({e.get("Id") for e in root.iter(COMPAT + "supportedOS")} == SUPPORTED_OS,
         "supportedOS is not Vista, 7, 8, 8.1 and 10/11")
    dependencies = [(e.get("name"), e.get("version")) for e in root.iter(ASM1 + "assemblyIdentity")
                    if e is not identity]
    want(dependencies == [("Microsoft.Windows.Common-Controls", "6.0.0.0")],
         "dependencies %s, want Common Controls 6" % dependencies)
    dpi_aware = [e.text for e in root.iter(WINDOWS_SETTINGS[0] + "dpiAware")]
    dpi_awareness = [e.text for e in root.iter(WINDOWS_SETTINGS[1] + "dpiAwareness")]
    want(dpi_aware == ["true/pm"], "dpiAware %s, want true/pm" % dpi_aware)
    want(len(dpi_awareness) == 1 and dpi_awareness[0].split(",")[0] == "PerMonitorV2",
         "dpiAwareness %s, want PerMonitorV2 first" % dpi_awareness)
    # The texts are ANSI in the system's code page: a UTF-8 code page would garble them.
    want(not any(e.tag.endswith("activeCodePage") for e in root.iter()), "has an activeCodePage")
    return failures


def main(exe, link_map, objdump, version):
    headers = subprocess.run([objdump, "-p", exe], capture_output=True, text=True, check=True).stdout
    failures = []
    dlls = sorted(set(re.findall(r"DLL Name: (\S+)", headers)), key=str.upper)
    if [d.upper() for d in dlls] != ["KERNEL32.DLL", "USER32.DLL"]:
        failures.append(f"imports from {dlls}, want KERNEL32.dll and USER32.dll only")
    if "file format pei-i386" not in headers:
        failures.append("not a PE32 i386 image")
    subsystem = re.search(r"^Subsystem\s+(\S+)", headers, re.M)
    if not subsystem or int(subsystem.group(1), 16) != 2:
        failures.append("not a Windows GUI subsystem program")
    if "TERMINAL_SERVICE_AWARE" not in headers:
        failures.append("not marked terminal-server aware")
    image_base = int(re.search(r"^ImageBase\s+(\S+)", headers, re.M).group(1), 16)
    entry_rva = int(re.search(r"^AddressOfEntryPoint\s+(\S+)", headers, re.M).group(1), 16)
    symbol = re.search(r"^\s+0x([0-9a-f]+)\s+_?ProgramEntry\s*$", open(link_map).read(), re.M)
    if not symbol:
        failures.append("ProgramEntry not found in the link map")
    elif int(symbol.group(1), 16) != image_base + entry_rva:
        failures.append(f"entry point {image_base + entry_rva:#x} is not ProgramEntry "
                        f"{int(symbol.group(1), 16):#x}")
    image = open(exe, "rb").read()
    if len(image) > MAX_SIZE:
        failures.append(f"{len(image)} bytes, more than {MAX_SIZE}")
    found = resources(image)
    failures += check_icon(found) + check_version(found, version) + check_manifest(found, version)
    print(f"slotward.exe: {len(image)} bytes, imports {', '.join(dlls)}, "
          f"entry {image_base + entry_rva:#x}, resources {sum(map(len, found.values()))} bytes")
    for failure in failures:
        print("FAIL:", failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:5]))
