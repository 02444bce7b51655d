"""SLOTWARD's icon, as drawing code: a disc standing out of a drive's slot, and a red "stop"
badge, because the program stops the session from ending while a medium is still inserted.
scripts/make_icon.py renders it at 16, 32 and 48 pixels into slotward.ico; change the shapes
or colours here and the next build of slotward.exe and of the installer picks them up.

Coordinates are on a 48 x 48 grid whatever the size drawn; PALETTE is every colour the icon may
use, since the small images are stored with 16 colours (see make_icon.py).
"""

from PIL import ImageDraw

OUTLINE = (64, 64, 64)
BODY = (192, 192, 192)
SLOT = (0, 0, 0)
DISC = (224, 232, 248)
DISC_EDGE = (96, 112, 160)
STOP = (208, 0, 0)
STOP_EDGE = (128, 0, 0)
WHITE = (255, 255, 255)

# At most 15 colours (make_icon.py adds "transparent"); the greys, the light blue-grey and the
# pink in between catch the smoothed edges.
PALETTE = [SLOT, WHITE, OUTLINE, BODY, DISC, DISC_EDGE, STOP, STOP_EDGE,
           (128, 128, 128), (160, 168, 200), (232, 128, 128), (160, 160, 160)]


def draw(image, scale):
    """Draws the icon on an RGBA image of 48 * scale pixels."""
    pen = ImageDraw.Draw(image)

    def box(x0, y0, x1, y1):
        return [x0 * scale, y0 * scale, x1 * scale - 1, y1 * scale - 1]

    # The disc first: the drive's front covers its lower half, as if it sat in the slot.
    pen.ellipse(box(7, 2, 41, 36), fill=DISC, outline=DISC_EDGE, width=2 * scale)
    pen.ellipse(box(20, 15, 28, 23), fill=DISC_EDGE)
    pen.ellipse(box(22, 17, 26, 21), fill=(0, 0, 0, 0))
    pen.rounded_rectangle(box(1, 22, 47, 44), radius=4 * scale, fill=BODY, outline=OUTLINE,
                          width=2 * scale)
    pen.rectangle(box(6, 26, 38, 30), fill=SLOT)
    # The badge: a red disc with a white bar, the sign for "no entry".
    pen.ellipse(box(27, 27, 48, 48), fill=STOP, outline=STOP_EDGE, width=2 * scale)
    pen.rectangle(box(31, 36, 44, 40), fill=WHITE)
