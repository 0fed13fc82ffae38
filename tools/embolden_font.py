#!/usr/bin/python3
# Makes the bold face of the window font from its regular face: every outline
# thickened by the given stroke (font units), the advance widths kept, so text
# laid out for the regular face's metrics never grows. Qt's own emboldening of
# a regular face is lost when the window is drawn scaled (QT_SCALE_FACTOR=2);
# a real bold face is drawn bold at every scale.
#
# usage: embolden_font.py REGULAR.ttf BOLD.ttf [STROKE]
import os
import sys

regular, bold = sys.argv[1], sys.argv[2]
stroke = float(sys.argv[3]) if len(sys.argv) > 3 else 100.0
# The font's time stamps come from here: the same input makes the same file.
os.environ.setdefault("SOURCE_DATE_EPOCH", str(int(os.stat(regular).st_mtime)))

import fontforge  # noqa: E402  (reads SOURCE_DATE_EPOCH)

font = fontforge.open(regular)
font.selection.all()
font.changeWeight(stroke, "auto", 0, 0, "squish")
family = font.familyname
font.fontname = family.replace(" ", "") + "-Bold"
font.fullname = family + " Bold"
font.weight = "Bold"
font.os2_weight = 700
font.macstyle = 1
font.os2_stylemap = 0x20
font.sfnt_names = tuple(
    (language, key, "Bold" if key == "SubFamily" else
     family + " Bold" if key in ("UniqueID", "Fullname") else value)
    for language, key, value in font.sfnt_names)
font.generate(bold)
