#ifndef VELMORA_INPUTTRANSLATION_H
#define VELMORA_INPUTTRANSLATION_H

// The toolkit's input events of the view and of the light-direction sub-window in the scene's
// terms (its button numbers, wheel buttons and key codes). The handlers of both areas share them.
#include "core/InputEvent.h"

#include <gtk/gtk.h>

/// A press, release or wheel step: wheel steps become presses of buttons 4 (up) and 5 (down),
/// presses and releases have their buttons mapped (MainInterface::mapButton). False for what
/// the scene takes no click of (a sideways wheel step, the extra presses of a double click).
bool translateClick(GdkEvent *event, InputEvent &click, int &x, int &y);
/// A motion with a button held: the scene's button and where the pointer is now (asked of the
/// window for a motion hint); false when no button is held.
bool translateDrag(GtkWidget *widget, GdkEventMotion *event, InputEvent &drag, int &x, int &y);
/// Maps the key and offers it to the accelerators of the window that received it; true
/// when the key is left for the scene, in `key`. Shift or Control alone are never sent.
bool keyForScene(GtkWidget *widget, GdkEventKey *event, int &key);

#endif
