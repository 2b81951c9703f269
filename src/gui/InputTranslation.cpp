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
        {GDK_Return, KeyCode::RETURN}, {GDK_Escape, KeyCode::ESCAPE},
    };
    for (const auto &k : kCursorKeys)
        if (k.toolkit == key)
            return k.scene;
    // Printable keys are their Latin-1 character; the scene has no use for the others.
    return key < 256 ? static_cast<int>(key) : 0;
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

namespace {

unsigned modifiersOf(guint state)
{
    return ((state & GDK_SHIFT_MASK) ? InputEvent::SHIFT : 0u) | ((state & GDK_CONTROL_MASK) ? InputEvent::CONTROL : 0u);
}

} // namespace

bool translateClick(GdkEvent *event, InputEvent &click, int &x, int &y)
{
    if (event->type == GDK_SCROLL) {
        // Wheel steps arrive as scroll events in this toolkit; the scene knows them as
        // presses of buttons 4 (up) and 5 (down).
        GdkEventScroll *s = &event->scroll;
        const int button = s->direction == GDK_SCROLL_UP ? 4 : s->direction == GDK_SCROLL_DOWN ? 5 : 0;
        click = InputEvent::press(button, modifiersOf(s->state));
        x = static_cast<int>(s->x);
        y = static_cast<int>(s->y);
        return button != 0;
    }
    // The second and third presses of a double or triple click come after a press of their
    // own: they add nothing.
    GdkEventButton *b = &event->button;
    if (b->type != GDK_BUTTON_PRESS && b->type != GDK_BUTTON_RELEASE)
        return false;
    const int button = MainInterface::mapButton(static_cast<int>(b->button));
    click = b->type == GDK_BUTTON_PRESS ? InputEvent::press(button, modifiersOf(b->state))
                                        : InputEvent::release(button, modifiersOf(b->state));
    x = static_cast<int>(b->x);
    y = static_cast<int>(b->y);
    return button != 0;
}

bool translateDrag(GtkWidget *widget, GdkEventMotion *event, InputEvent &drag, int &x, int &y)
{
    const guint mask = event->state;
    int button = 0;
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
    drag = InputEvent::motion(button, modifiersOf(mask));
    return true;
}

gboolean MainInterface::Impl::notifyClick(GtkWidget *, GdkEventButton *event, gpointer data)
{
    Impl *self = static_cast<Impl *>(data);
    InputEvent click;
    int x, y;
    if (translateClick(reinterpret_cast<GdkEvent *>(event), click, x, y) && self->machine)
        self->machine->notifyClick(click, x, y);
    return TRUE;
}

gboolean MainInterface::Impl::notifyDrag(GtkWidget *widget, GdkEventMotion *event, gpointer data)
{
    Impl *self = static_cast<Impl *>(data);
    InputEvent drag;
    int x, y;
    if (translateDrag(widget, event, drag, x, y) && self->machine)
        self->machine->notifyDrag(drag, x, y);
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
    // The cursor keys are no accelerators of the menus; every other key is offered to them
    // under the toolkit's own name.
    if (key >= KeyCode::LEFT && key <= KeyCode::PAGE_DOWN)
        return true;
    GtkWidget *top = gtk_widget_get_toplevel(widget);
    const GdkModifierType mods = static_cast<GdkModifierType>(event->state & gtk_accelerator_get_default_mod_mask());
    if (top && gtk_accel_groups_activate(G_OBJECT(top), event->keyval, mods))
        return false;
    return key != 0;
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

gboolean MainInterface::Impl::displayS(GtkWidget *widget, GdkEventExpose *event, gpointer data)
{
    Impl *self = static_cast<Impl *>(data);
    // The sub-window's context must not be made current inside a frame of the view.
    if (event->count > 0 || !self->machine || self->machine->putOffWhileDrawing())
        return TRUE;
    if (!self->self->makeCurrent(true))
        return TRUE;
    if (self->subResized) {
        self->subResized = false;
        self->machine->getLightWidget().setSize(widget->allocation.width, widget->allocation.height);
    }
    self->machine->getLightWidget().draw();
    return TRUE;
}

gboolean MainInterface::Impl::reshapeS(GtkWidget *widget, GdkEventConfigure *, gpointer data)
{
    Impl *self = static_cast<Impl *>(data);
    if (!self->machine)
        return TRUE;
    if (self->machine->putOffWhileDrawing())
        self->subResized = true;
    else if (self->self->makeCurrent(true))
        self->machine->getLightWidget().setSize(widget->allocation.width, widget->allocation.height);
    return TRUE;
}

gboolean MainInterface::Impl::notifyClickS(GtkWidget *, GdkEventButton *event, gpointer data)
{
    Impl *self = static_cast<Impl *>(data);
    InputEvent click;
    int x, y;
    if (translateClick(reinterpret_cast<GdkEvent *>(event), click, x, y) && self->self->makeCurrent(true) &&
        self->machine)
        self->machine->getLightWidget().notifyClick(click, x, y);
    return TRUE;
}

gboolean MainInterface::Impl::notifyDragS(GtkWidget *widget, GdkEventMotion *event, gpointer data)
{
    Impl *self = static_cast<Impl *>(data);
    InputEvent drag;
    int x, y;
    if (translateDrag(widget, event, drag, x, y) && self->self->makeCurrent(true) && self->machine)
        self->machine->getLightWidget().notifyDrag(drag, x, y);
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
