#include "gui/DisplayProbe.h"

#include <X11/Xlib.h>

bool DisplayProbe::reachable()
{
    Display *display = XOpenDisplay(nullptr);
    if (!display)
        return false;
    XCloseDisplay(display);
    return true;
}
