#ifndef VELMORA_GLFONTDATA_H
#define VELMORA_GLFONTDATA_H

/// One glyph of a built-in bitmap font, in the terms of glBitmap.
struct GLFontGlyph {
    unsigned char width;  ///< bitmap width in pixels (0 for a glyph the font lacks)
    unsigned char height; ///< bitmap height in pixels
    signed char xorig;    ///< pixels from the pen position to the bitmap's left edge, negated
    signed char yorig;    ///< pixels from the baseline down to the bitmap's bottom row
    unsigned char advance; ///< pen movement after the glyph
    unsigned short offset; ///< first byte of the bitmap in the face's bit array
};

/// A bitmap font of characters 0 to 127. Bitmaps are stored bottom row first, each row
/// padded to whole bytes with the leftmost pixel in the most significant bit.
struct GLFontFace {
    int cellWidth;
    int cellHeight;
    int ascent;
    int descent;
    const GLFontGlyph *glyphs; ///< 128 entries
    const unsigned char *bits;
};

namespace glfontdata {
/// 7 x 13 bold fixed-width font (labels, information overlay).
extern const GLFontFace normalFont;
/// 9 x 15 bold fixed-width font (legend titles).
extern const GLFontFace bigFont;
} // namespace glfontdata

#endif
