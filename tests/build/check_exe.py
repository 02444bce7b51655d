#!/usr/bin/env python3
"""Checks the footprint of slotward.exe: a PE32 i386 GUI program whose entry point is
ProgramEntry and which imports from KERNEL32.dll and USER32.dll only."""
import re
import subprocess
import sys


def main(exe, link_map, objdump):
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
    image_base = int(re.search(r"^ImageBase\s+(\S+)", headers, re.M).group(1), 16)
    entry_rva = int(re.search(r"^AddressOfEntryPoint\s+(\S+)", headers, re.M).group(1), 16)
    symbol = re.search(r"^\s+0x([0-9a-f]+)\s+_?ProgramEntry\s*$", open(link_map).read(), re.M)
    if not symbol:
        failures.append("ProgramEntry not found in the link map")
    elif int(symbol.group(1), 16) != image_base + entry_rva:
        failures.append(f"entry point {image_base + entry_rva:#x} is not ProgramEntry "
                        f"{int(symbol.group(1), 16):#x}")
    size = len(open(exe, "rb").read())
    print(f"slotward.exe: {size} bytes, imports {', '.join(dlls)}, "
          f"entry {image_base + entry_rva:#x}")
    for failure in failures:
        print("FAIL:", failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:4]))
