#ifndef VELMORA_GLFONT_H
#define VELMORA_GLFONT_H

#include "math/Point4.h"

/// Text drawing in OpenGL with two built-in fixed-width bitmap fonts (process-wide).
///
/// Each character 0 to 127 is one display list that calls glBitmap, so text is drawn in
/// window and off-screen contexts alike and shows up in the feedback buffer as one
/// GL_BITMAP_TOKEN per character. Display lists belong to an OpenGL context: the lists are
/// built on first use in every context that prints (or by `createOpenGLFonts`), and
/// `fontListBase` / `bigFontListBase` name those of the context that printed last.
///
/// Characters outside 0 to 127 are drawn as '?'. Control characters draw nothing and do
/// not move the pen; `fprint` is the call that understands line breaks.
class GLFont {
public:
    /// Text colour (default opaque black).
    static Point4 fgColor;
    /// Background colour (default transparent black); kept for the panels, never drawn.
    static Point4 bgColor;
    /// First of the 128 display lists of the normal font in the current context, 0 before any.
    static unsigned int fontListBase;
    /// First of the 128 display lists of the big font in the current context, 0 before any.
    static unsigned int bigFontListBase;

    /// Pixel advance of every printable character of the normal and of the big font.
    static constexpr int charWidth = 7;
    static constexpr int bigCharWidth = 9;
    /// Vertical distance between the lines of `fprint`.
    static constexpr int lineSpacing = 12;

    /// Builds both fonts' display lists in the current context; later text in this context
    /// uses them. Needs a current context and does nothing while a display list is being
    /// compiled. Printing calls it when the context has no fonts yet.
    static void createOpenGLFonts();

    /// Draws `text` with the normal font in `fgColor`, its baseline starting at (x, y) in
    /// the current model-view and projection coordinates. Leaves the current colour and
    /// raster position as they were. Does nothing without a current context or for a null
    /// text.
    static void print(const char *text, int x, int y);
    /// As `print`, with the big font.
    static void printBig(const char *text, int x, int y);
    /// As `print` for a text of several lines separated by '\n': the first line at y, each
    /// further one `lineSpacing` units lower.
    static void fprint(const char *text, int x, int y);
    /// As `print`, with (x, y) in window pixels (origin at the lower left) whatever the
    /// current matrices; lighting, texturing, depth test and clipping planes are off while
    /// it draws, and every state it changes is restored.
    static void printString(const char *text, int x, int y);

    /// Forgets the fonts of an EGL or GLX context that is about to be destroyed, so that a
    /// later context created at the same address does not take another's lists for them.
    static void forgetContext(const void *context);

    static void setFgColor(Point4 colour);
    static Point4 getFgColor();
    /// Accepted for the panels' sake; the built-in fonts have one size each.
    static void setPointSize(float size);

private:
    static bool ensureFonts();
    static void printWith(bool big, const char *text, int length, int x, int y);
};

#endif
