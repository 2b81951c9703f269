#!/usr/bin/env python3
"""Writes src/render/GLFontData.cpp, the glyph tables of GLFont's two built-in bitmap fonts.

The glyphs come from the public-domain misc-fixed fonts of X.Org (Debian package
xfonts-base): 7x13B for the normal font, 9x15B for the big one. The PCF files are turned
into BDF text with pcf2bdf (Debian package pcf2bdf), which is only needed when the tables
are regenerated; the generated file is committed.

Usage: tools/make_font_tables.py [--font-dir DIR] [--output FILE]
"""

import argparse
import gzip
import os
import subprocess
import sys
import tempfile

FONTS = [
    # (C++ name, PCF file, description)
    ("normal", "7x13B.pcf.gz", "misc-fixed bold 7x13"),
    ("big", "9x15B.pcf.gz", "misc-fixed bold 9x15"),
]

FIRST_CHAR = 0
N_CHARS = 128


def pcf_to_bdf(path):
    """Returns the BDF text of a (possibly gzip-compressed) PCF font."""
    with tempfile.TemporaryDirectory() as tmp:
        pcf = os.path.join(tmp, "font.pcf")
        bdf = os.path.join(tmp, "font.bdf")
        opener = gzip.open if path.endswith(".gz") else open
        with opener(path, "rb") as src, open(pcf, "wb") as dst:
            dst.write(src.read())
        subprocess.run(["pcf2bdf", "-o", bdf, pcf], check=True)
        with open(bdf, encoding="latin-1") as f:
            return f.read()


def parse_bdf(text):
    """Returns (properties, glyphs by code) of a BDF font; only codes below N_CHARS are kept."""
    props = {}
    glyphs = {}
    lines = iter(text.splitlines())
    for line in lines:
        words = line.split()
        if not words:
            continue
        key = words[0]
        if key in ("FONT_ASCENT", "FONT_DESCENT"):
            props[key] = int(words[1])
        elif key == "FONTBOUNDINGBOX":
            props[key] = [int(w) for w in words[1:5]]
        elif key == "STARTCHAR":
            glyph = {"rows": []}
            for line2 in lines:
                w2 = line2.split()
                if not w2:
                    continue
                if w2[0] == "ENCODING":
                    glyph["code"] = int(w2[1])
                elif w2[0] == "DWIDTH":
                    glyph["advance"] = int(w2[1])
                elif w2[0] == "BBX":
                    glyph["bbx"] = [int(w) for w in w2[1:5]]
                elif w2[0] == "BITMAP":
                    for line3 in lines:
                        if line3.strip() == "ENDCHAR":
                            break
                        glyph["rows"].append(line3.strip())
                    break
            code = glyph.get("code", -1)
            if FIRST_CHAR <= code < FIRST_CHAR + N_CHARS:
                glyphs[code] = glyph
    return props, glyphs


def glyph_bytes(glyph):
    """The glyph's bitmap as glBitmap wants it: rows bottom first, each padded to whole bytes,
    leftmost pixel in the most significant bit (BDF stores the same bits top row first)."""
    width, height = glyph["bbx"][0], glyph["bbx"][1]
    row_bytes = (width + 7) // 8
    out = []
    for row in reversed(glyph["rows"][:height]):
        value = bytes.fromhex(row.ljust(row_bytes * 2, "0")[: row_bytes * 2])
        out.extend(value)
    return out


def emit_font(name, description, props, glyphs):
    bits = []
    entries = []
    for code in range(FIRST_CHAR, FIRST_CHAR + N_CHARS):
        g = glyphs.get(code)
        # Codes the font lacks (the control characters) get an empty glyph that draws and
        # advances nothing.
        if g is None:
            entries.append((0, 0, 0, 0, 0, len(bits), code))
            continue
        w, h, xoff, yoff = g["bbx"]
        data = glyph_bytes(g)
        entries.append((w, h, -xoff, -yoff, g["advance"], len(bits), code))
        bits.extend(data)

    cell_w, cell_h = props["FONTBOUNDINGBOX"][0], props["FONTBOUNDINGBOX"][1]
    out = []
    out.append(f"// {description}")
    out.append(f"const unsigned char {name}Bits[] = {{")
    for i in range(0, len(bits), 16):
        out.append("    " + ", ".join(f"0x{b:02x}" for b in bits[i : i + 16]) + ",")
    out.append("};")
    out.append("")
    out.append(f"const GLFontGlyph {name}Glyphs[{N_CHARS}] = {{")
    for w, h, xo, yo, adv, off, code in entries:
        shown = chr(code) if 32 < code < 127 and chr(code) not in "\\'" else ""
        comment = f" // {code}" + (f" '{shown}'" if shown else "")
        out.append(f"    {{{w}, {h}, {xo}, {yo}, {adv}, {off}}},{comment}")
    out.append("};")
    out.append("")
    face = (f"const GLFontFace {name}Font = {{{cell_w}, {cell_h}, {props['FONT_ASCENT']}, "
            f"{props['FONT_DESCENT']}, {name}Glyphs, {name}Bits}};")
    return out, face


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--font-dir", default="/usr/share/fonts/X11/misc",
                        help="folder holding the misc-fixed PCF files (xfonts-base)")
    parser.add_argument("--output", default=os.path.join(root, "src", "render", "GLFontData.cpp"))
    args = parser.parse_args()

    body = []
    faces = []
    for name, filename, description in FONTS:
        props, glyphs = parse_bdf(pcf_to_bdf(os.path.join(args.font_dir, filename)))
        lines, face = emit_font(name, description, props, glyphs)
        body.extend(lines)
        faces.append(face)

    text = []
    text.append("// Generated by tools/make_font_tables.py from the public-domain misc-fixed fonts")
    text.append("// of X.Org (7x13B, 9x15B). Do not edit; rerun the script instead.")
    text.append("")
    text.append('#include "render/GLFontData.h"')
    text.append("")
    text.append("namespace glfontdata {")
    text.append("")
    text.append("namespace {")
    text.append("")
    text.extend(body)
    text.append("} // namespace")
    text.append("")
    text.extend(faces)
    text.append("")
    text.append("} // namespace glfontdata")
    text.append("")
    with open(args.output, "w", encoding="ascii") as f:
        f.write("\n".join(text))
    print(f"wrote {args.output}", file=sys.stderr)


if __name__ == "__main__":
    main()
