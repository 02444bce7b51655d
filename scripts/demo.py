#!/usr/bin/env python3
"""SLOTWARD guarding a demo machine under Wine.

A private Wine prefix gets a CD-ROM drive D: holding a disc, a removable drive E: holding an
empty formatted disk and a fixed disk F:. SLOTWARD starts resident; Wine's session manager then
asks to end the session, so SLOTWARD shows its question box. With a display (DISPLAY set) you
answer the box yourself; without one the demo runs on a virtual display, saves a screenshot of
the box, answers No itself and says where the picture is. Finally SLOTWARD is ended with /R.
"""

import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "wine"))

import bench  # noqa: E402

# Wine's Japanese dialog fonts are stand-in names; Debian has no such fonts, so the box would
# show empty squares. Any installed CJK font can stand in for them.
JAPANESE_FONTS = ("MS UI Gothic", "MS Gothic", "MS PGothic", "MS Shell Dlg", "Tahoma")
CJK_FONT = "Noto Sans CJK JP"

# Debian 12's Wine 8.0 looks for the fonts it ships in the folder beside its data folder,
# /usr/share/fonts itself (not its subfolders), while fonts-wine puts them in
# /usr/share/wine/fonts: Tahoma and Marlett are missing, the boxes are set in a Linux font and
# the caption's close button shows Marlett's code for its cross, the letter "r". In the prefix's
# Fonts folder Wine finds them, as Windows finds its own.
WINE_FONTS = "/usr/share/wine/fonts"

LAYOUT = {"d": ("cdrom", "files"), "e": ("floppy", "empty"), "f": ("fixed", "files")}


def say(text):
    print("demo: " + text, flush=True)


def usable_display():
    display = os.environ.get("DISPLAY")
    if not display or not shutil.which("xdpyinfo"):
        return display
    ok = subprocess.run(["xdpyinfo"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return display if ok.returncode == 0 else None


def install_wine_fonts(wine):
    if not os.path.isdir(WINE_FONTS):
        say("Wine's own fonts are missing (%s): the boxes use a substitute" % WINE_FONTS)
        return
    fonts = os.path.join(wine.prefix, "drive_c", "windows", "Fonts")
    os.makedirs(fonts, exist_ok=True)
    for name in os.listdir(WINE_FONTS):
        shutil.copy(os.path.join(WINE_FONTS, name), fonts)


def wait_for_box(wine, seconds):
    """Reads the first box some program shows, leaving it open."""
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        record = wine.driver_run(["boxes", "2000", "none", "300"], 30)
        if record.get("boxes", "0") != "0":
            return record
    return None


def screenshot(display, path):
    """The box alone: the virtual screen is black apart from it, so trimming cuts it out."""
    raw = path + ".xwd"
    with open(raw, "wb") as f:
        subprocess.run(["xwd", "-root", "-silent", "-display", display], stdout=f, check=True)
    subprocess.run(["convert", raw, "-trim", "+repage", path], check=True)
    os.remove(raw)


def ask_to_end_session(wine, display, virtual, picture):
    wineboot = wine.start_wineboot()
    box = wait_for_box(wine, 20)
    if box is None:
        wineboot.kill()
        say("no question box appeared")
        return 1
    say('question box "%s": %s' % (box.get("box1.caption"), box.get("box1.text")))
    if virtual:
        screenshot(display, picture)
        say("screenshot of the box: " + picture)
        wine.driver_run(["boxes", "5000", "no", "300"], 30)
        say("answered No")
    else:
        say("answer the box on your screen (Yes lets the session end, No keeps it)")
    rc = wineboot.wait(600)
    if rc == 0:
        say("the session manager was told: the session may end (SLOTWARD consented)")
    else:
        say("the session manager was told: the session must not end (SLOTWARD refused)")
    return 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--driver", required=True)
    parser.add_argument("--program", required=True)
    parser.add_argument("--japanese", action="store_true", help="a Japanese system locale")
    parser.add_argument("--picture", default=os.path.abspath("slotward-question.png"))
    parser.add_argument("--arch", default="32", choices=sorted(bench.FLAVOURS),
                        help="the flavour of Wine, which must match the programs' build")
    args = parser.parse_args()

    display_name = usable_display()
    virtual = display_name is None
    root = tempfile.mkdtemp(prefix="slotward-demo-")
    display = wine = None
    try:
        if virtual:
            display = bench.Display()
            display_name = display.name
            say("no display: running on the virtual display " + display_name)
        say("preparing a private Wine prefix (the first time takes a while)")
        wine = bench.Wine(root, display_name, os.path.abspath(args.driver), args.program, False,
                          arch=args.arch)
        install_wine_fonts(wine)
        if args.japanese:
            for name in JAPANESE_FONTS:
                wine.reg_add("HKCU\\Software\\Wine\\Fonts\\Replacements", name, CJK_FONT)
        wine.set_layout(LAYOUT, "ja" if args.japanese else "en")
        say("drives: D: CD-ROM with a disc, E: removable with an empty disk, F: fixed disk")
        exe = wine.install("slotward")
        wine.driver_run(["start", "5000", "--cmdfile", wine.command_file(exe)], 40)
        say("SLOTWARD is resident (no window, no box)")
        ask_to_end_session(wine, display_name, virtual, args.picture)
        record = wine.driver_run(["run", "8000", "ok", "--cmdfile",
                                  wine.command_file(exe + " /R")], 40)
        say('/R answered: "%s"' % record.get("box1.text", "(no box)"))
        return 0
    except bench.BenchError as e:
        say("failed: %s" % e)
        return 1
    finally:
        if wine:
            wine.close()
        if display:
            display.close()
        shutil.rmtree(root, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
