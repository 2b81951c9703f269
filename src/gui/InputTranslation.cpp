#include "gui/InputTranslation.h"

#include "gui/MainInterface.h"
#include "gui/MainInterfaceImpl.h"

#include "app/GLMachine.h"
#include "core/KeyCodes.h"
#include "core/StartupTiming.h"

#include <gdk/gdkkeysyms.h>

int MainInterface::mapButton(int button)
{
    // The scene numbers the right button 2 and the middle one 3, the toolkit the reverse.
    if (button == 2)
        return 3;
    if (button == 3)
        return 2;
    return button;
}

int MainInterface::mapKey(unsigned key)
{
    static const struct {
        unsigned toolkit;
        int scene;
    } kCursorKeys[] = {
        {GDK_Left, KeyCode::LEFT}, {GDK_Right, KeyCode::RIGHT}, {GDK_Up, KeyCode::UP},
        {GDK_Down, KeyCode::DOWN}, {GDK_Home, KeyCode::HOME}, {GDK_End, KeyCode::END},
        {GDK_Page_Up, KeyCode::PAGE_UP}, {GDK_Page_Down, KeyCode::PAGE_DOWN},
    };
    for (const auto &k : kCursorKeys)
        if (k.toolkit == key)
            return k.scene;
    return static_cast<int>(key);
}

gboolean MainInterface::Impl::display(GtkWidget *, GdkEventExpose *event, gpointer data)
{
    Impl *self = static_cast<Impl *>(data);
    if (event->count > 0)
        return TRUE;
    if (self->self->makeCurrent(false) && self->machine) {
        StartupTiming::mark("expose");
        self->drawView();
        StartupTiming::mark("expose drawn");
    }
    return TRUE;
}

gboolean MainInterface::Impl::reshape(GtkWidget *widget, GdkEventConfigure *, gpointer data)
{
    Impl *self = static_cast<Impl *>(data);
    self->frameCurrent = false;
    if (self->self->makeCurrent(false) && self->machine)
        self->machine->setWindowSize(widget->allocation.width, widget->allocation.height);
    return TRUE;
}

void translateClick(GdkEvent *event, int &button, int &type, int &x, int &y, int &state)
{
    if (event->type == GDK_SCROLL) {
        // Wheel steps arrive as scroll events in this toolkit; the scene knows them as
        // buttons 4 (up) and 5 (down).
        GdkEventScroll *s = &event->scroll;
        button = s->direction == GDK_SCROLL_UP ? 4 : s->direction == GDK_SCROLL_DOWN ? 5 : 0;
        type = GDK_BUTTON_PRESS;
        x = static_cast<int>(s->x);
        y = static_cast<int>(s->y);
        state = static_cast<int>(s->state);
        return;
    }
    GdkEventButton *b = &event->button;
    type = b->type;
    button = static_cast<int>(b->button);
    if (b->type == GDK_BUTTON_PRESS || b->type == GDK_BUTTON_RELEASE)
        button = MainInterface::mapButton(button);
    x = static_cast<int>(b->x);
    y = static_cast<int>(b->y);
    state = static_cast<int>(b->state);
}

bool translateDrag(GtkWidget *widget, GdkEventMotion *event, int &button, int &x, int &y, int &state)
{
    const guint mask = event->state;
    if (mask & GDK_BUTTON1_MASK)
        button = 1;
    else if (mask & GDK_BUTTON2_MASK)
        button = 3;
    else if (mask & GDK_BUTTON3_MASK)
        button = 2;
    else if (mask & GDK_BUTTON4_MASK)
        button = 4;
    else if (mask & GDK_BUTTON5_MASK)
        button = 5;
    else
        return false;
    if (event->is_hint) {
        GdkModifierType s;
        gdk_window_get_pointer(widget->window, &x, &y, &s);
    } else {
        x = static_cast<int>(event->x);
        y = static_cast<int>(event->y);
    }
    state = static_cast<int>(mask);
    return true;
}

gboolean MainInterface::Impl::notifyClick(GtkWidget *, GdkEventButton *event, gpointer data)
{
    Impl *self = static_cast<Impl *>(data);
    int button, type, x, y, state;
    translateClick(reinterpret_cast<GdkEvent *>(event), button, type, x, y, state);
    if (button && self->machine)
        self->machine->notifyClick(button, type, x, y, state);
    return TRUE;
}

gboolean MainInterface::Impl::notifyDrag(GtkWidget *widget, GdkEventMotion *event, gpointer data)
{
    Impl *self = static_cast<Impl *>(data);
    int button, x, y, state;
    if (translateDrag(widget, event, button, x, y, state) && self->machine)
        self->machine->notifyDrag(x, y, button, state);
    return TRUE;
}

static bool isModifierAlone(guint key)
{
    return key == GDK_Shift_L || key == GDK_Shift_R || key == GDK_Control_L || key == GDK_Control_R;
}

bool keyForScene(GtkWidget *widget, GdkEventKey *event, int &key)
{
    if (isModifierAlone(event->keyval))
        return false;
    key = MainInterface::mapKey(event->keyval);
    GtkWidget *top = gtk_widget_get_toplevel(widget);
    const GdkModifierType mods = static_cast<GdkModifierType>(event->state & gtk_accelerator_get_default_mod_mask());
    return !(top && gtk_accel_groups_activate(G_OBJECT(top), static_cast<guint>(key), mods));
}

gboolean MainInterface::Impl::notifyKey(GtkWidget *widget, GdkEventKey *event, gpointer data)
{
    Impl *self = static_cast<Impl *>(data);
    int key = 0;
    if (keyForScene(widget, event, key) && self->machine) {
        StartupTiming::mark("key");
        self->machine->notifyCommand(key);
        self->refreshPanels();
    }
    return TRUE;
}

gboolean MainInterface::Impl::displayS(GtkWidget *, GdkEventExpose *event, gpointer data)
{
    Impl *self = static_cast<Impl *>(data);
    if (event->count > 0)
        return TRUE;
    if (self->self->makeCurrent(true) && self->machine)
        self->machine->getLightWidget().draw();
    return TRUE;
}

gboolean MainInterface::Impl::reshapeS(GtkWidget *widget, GdkEventConfigure *, gpointer data)
{
    Impl *self = static_cast<Impl *>(data);
    if (self->self->makeCurrent(true) && self->machine)
        self->machine->getLightWidget().setSize(widget->allocation.width, widget->allocation.height);
    return TRUE;
}

gboolean MainInterface::Impl::notifyClickS(GtkWidget *, GdkEventButton *event, gpointer data)
{
    Impl *self = static_cast<Impl *>(data);
    int button, type, x, y, state;
    translateClick(reinterpret_cast<GdkEvent *>(event), button, type, x, y, state);
    if (button && self->self->makeCurrent(true) && self->machine)
        self->machine->getLightWidget().notifyClick(button, type, x, y, state);
    return TRUE;
}

gboolean MainInterface::Impl::notifyDragS(GtkWidget *widget, GdkEventMotion *event, gpointer data)
{
    Impl *self = static_cast<Impl *>(data);
    int button, x, y, state;
    if (translateDrag(widget, event, button, x, y, state) && self->self->makeCurrent(true) && self->machine)
        self->machine->getLightWidget().notifyDrag(x, y, button, state);
    return TRUE;
}

gboolean MainInterface::Impl::notifyKeyS(GtkWidget *widget, GdkEventKey *event, gpointer data)
{
    Impl *self = static_cast<Impl *>(data);
    int key = 0;
    if (keyForScene(widget, event, key) && self->self->makeCurrent(true) && self->machine)
        self->machine->getLightWidget().notifyCommand(key);
    return TRUE;
}
