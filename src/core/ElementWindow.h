#ifndef VELMORA_ELEMENTWINDOW_H
#define VELMORA_ELEMENTWINDOW_H

/// What a scene element may ask of the window that shows it: a redraw, a frame drawn at
/// once, a new size, a busy cursor. The window layer implements it; the elements never see
/// the toolkit, and tests stand in for the window with a recording implementation.
class ElementWindow {
public:
    /// Cursor shapes: the default arrow, the four-way arrow of panning, zoom, busy.
    enum Cursor { DEFAULT_CURSOR = 0, PAN_CURSOR = 1, ZOOM_CURSOR = 2, BUSY_CURSOR = 3 };

    virtual ~ElementWindow() = default;

    /// Asks for a redraw of the view (sub false) or of the light sub-window (sub true) once
    /// the program is idle. Does nothing where nothing is shown.
    virtual void postRedisplay(bool sub = false) = 0;
    /// Makes the view current and draws a frame at once.
    virtual void updateDisplay() = 0;
    /// The same, but the frame drawn as a capture draws it (everything whole, what it shows read
    /// first), and not shown: a film's frame. False when the user cancelled the reading. Where
    /// nothing but frames are drawn, an ordinary frame.
    virtual bool updateDisplayWhole()
    {
        updateDisplay();
        return true;
    }
    /// Resizes the view so that its drawing area is width x height.
    virtual void reshapeWindow(int width, int height) = 0;
    /// One of Cursor.
    virtual void setCursor(int id) = 0;
    /// Back to the default cursor.
    virtual void overrideCursor() = 0;
};

#endif
