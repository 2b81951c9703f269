#ifndef VELMORA_CURSORINTERFACE_H
#define VELMORA_CURSORINTERFACE_H

#include <gtk/gtk.h>

/// The cursors shown over the view: 0 default, 1 four-way arrow (panning), 2 zoom (a
/// two-colour picture built here), 3 watch (busy).
class CursorInterface {
public:
    static GdkCursor *cursor[4];

    /// Builds the cursors once per process (needs an open display).
    static void init();
    /// Shows cursor `id` on the widget's window; ids outside 1..3 give the default cursor.
    static void setCursor(GtkWidget *widget, int id);
    static void overrideCursor(GtkWidget *widget);
    /// A cursor from a one-character-per-pixel picture: `c2` pixels are image and mask
    /// (drawn in col2), `c1` pixels mask only (drawn in col1); hot spot at the centre.
    /// Width and height must be multiples of 8; null when the picture breaks that rule.
    static GdkCursor *newCursorFromXPM(const char *const *xpm, char c1, GdkColor *col1, char c2, GdkColor *col2);
};

#endif
