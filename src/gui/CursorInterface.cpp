#include "gui/CursorInterface.h"

#include <cstdio>
#include <cstring>
#include <vector>

GdkCursor *CursorInterface::cursor[4] = {nullptr, nullptr, nullptr, nullptr};

namespace {

// The zoom cursor: '.' transparent, '+' outline (white), 'X' fill (black).
const char *const kZoomCursor[] = {
    "16 16 3 1",
    ". c None",
    "+ c #FFFFFF",
    "X c #000000",
    ".......++.......",
    "......+XX+......",
    ".....+XXXX+.....",
    "....++XXXX++....",
    "......+XX+......",
    "......+XX+......",
    "......+XX+......",
    ".....+XXXX+.....",
    ".....+XXXX+.....",
    ".....+XXXX+.....",
    "..++++XXXX++++..",
    "...+XXXXXXXX+...",
    "....+XXXXXX+....",
    ".....+XXXX+.....",
    "......+XX+......",
    ".......++.......",
};

} // namespace

GdkCursor *CursorInterface::newCursorFromXPM(const char *const *xpm, char c1, GdkColor *col1, char c2,
                                             GdkColor *col2)
{
    int width = 0, height = 0, colours = 0, perPixel = 0;
    if (std::sscanf(xpm[0], "%d %d %d %d", &width, &height, &colours, &perPixel) != 4 || width <= 0 ||
        height <= 0 || width % 8 || height % 8 || perPixel != 1 || colours < 0)
        return nullptr;
    const int rowBytes = width / 8;
    std::vector<char> image(static_cast<size_t>(rowBytes) * height, 0), mask(image.size(), 0);
    for (int y = 0; y < height; ++y) {
        const char *row = xpm[1 + colours + y];
        for (int x = 0; x < width && row[x]; ++x) {
            const size_t byte = static_cast<size_t>(y) * rowBytes + x / 8;
            const char bit = static_cast<char>(1 << (x % 8));
            if (row[x] == c2) {
                image[byte] |= bit;
                mask[byte] |= bit;
            } else if (row[x] == c1) {
                mask[byte] |= bit;
            }
        }
    }
    GdkPixmap *source = gdk_bitmap_create_from_data(nullptr, image.data(), width, height);
    GdkPixmap *maskMap = gdk_bitmap_create_from_data(nullptr, mask.data(), width, height);
    GdkCursor *c = gdk_cursor_new_from_pixmap(source, maskMap, col2, col1, width / 2, height / 2);
    g_object_unref(source);
    g_object_unref(maskMap);
    return c;
}

void CursorInterface::init()
{
    if (cursor[1])
        return;
    cursor[0] = nullptr;
    cursor[1] = gdk_cursor_new(GDK_FLEUR);
    GdkColor white = {0, 0xFFFF, 0xFFFF, 0xFFFF};
    GdkColor black = {0, 0, 0, 0};
    cursor[2] = newCursorFromXPM(kZoomCursor, '+', &white, 'X', &black);
    cursor[3] = gdk_cursor_new(GDK_WATCH);
}

void CursorInterface::setCursor(GtkWidget *widget, int id)
{
    if (!widget || !widget->window)
        return;
    gdk_window_set_cursor(widget->window, id >= 1 && id <= 3 ? cursor[id] : nullptr);
    gdk_flush();
}

void CursorInterface::overrideCursor(GtkWidget *widget) { setCursor(widget, 0); }
