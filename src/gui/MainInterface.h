#ifndef VELMORA_MAININTERFACE_H
#define VELMORA_MAININTERFACE_H

/// The main window as the rest of the program sees it: the operations that scene elements
/// and the scene manager ask of it. The toolkit stays behind this header (no GTK types
/// here), so everything outside the user interface builds and is tested without a display.
class MainInterface {
public:
    virtual ~MainInterface() = default;

    /// Asks for a redraw of the main view at the next idle moment (`now` draws at once).
    virtual void postRedisplay(bool now) = 0;
    /// Resizes the top-level view window so that the drawing area is width x height.
    virtual void reshapeWindow(int width, int height) = 0;
    /// Draws the main view at once.
    virtual void updateDisplay() = 0;
    /// Shows cursor number `cursor` over the drawing area (3 is the busy cursor).
    virtual void setCursor(int cursor) = 0;
    /// Restores the cursor that was shown before the last override.
    virtual void overrideCursor() = 0;
};

#endif
