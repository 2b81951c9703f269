#ifndef VELMORA_INPUTTRANSLATION_H
#define VELMORA_INPUTTRANSLATION_H

// The toolkit's input events of the view and of the light-direction sub-window in the scene's
// terms (its button numbers, wheel buttons and key codes). The handlers of both areas share them.
#include <gtk/gtk.h>

/// A press, release or wheel step: wheel steps become buttons 4 (up) and 5 (down), presses and
/// releases have their buttons mapped (MainInterface::mapButton); `button` is 0 for a sideways
/// wheel step.
void translateClick(GdkEvent *event, int &button, int &type, int &x, int &y, int &state);
/// A motion with a button held: the scene's button and where the pointer is now (asked of the
/// window for a motion hint); false when no button is held.
bool translateDrag(GtkWidget *widget, GdkEventMotion *event, int &button, int &x, int &y, int &state);
/// Maps the key and offers it to the accelerators of the window that received it; true
/// when the key is left for the scene, in `key`. Shift or Control alone are never sent.
bool keyForScene(GtkWidget *widget, GdkEventKey *event, int &key);

#endif
