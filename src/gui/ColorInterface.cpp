#include "gui/ColorInterface.h"

#include "gui/Delegate0.h"

#include <algorithm>
#include <cmath>

namespace {

guint16 toChannel(float v)
{
    // NaN and out-of-range components end up at the nearest end of the scale.
    float clamped = v > 0.f ? std::min(v, 1.f) : 0.f;
    return static_cast<guint16>(std::lround(clamped * 65535.f));
}

float fromChannel(guint16 v)
{
    return v / 65535.f;
}

} // namespace

ColorInterface *ColorInterface::factory(fastdelegate::FastDelegate1<Point4> callback, Point4 initial)
{
    return new ColorInterface(callback, initial);
}

ColorInterface::ColorInterface(fastdelegate::FastDelegate1<Point4> callback, Point4 initial)
    : colorSelection(nullptr), colorChanged(), settingColor(false)
{
    dialog = gtk_dialog_new_with_buttons("select color", nullptr, GTK_DIALOG_NO_SEPARATOR, GTK_STOCK_CLOSE,
                                         GTK_RESPONSE_CLOSE, nullptr);
    gtk_window_set_position(GTK_WINDOW(dialog), GTK_WIN_POS_MOUSE);

    GtkWidget *chooser = gtk_color_selection_new();
    colorSelection = GTK_COLOR_SELECTION(chooser);
    gtk_color_selection_set_has_opacity_control(colorSelection, TRUE);
    gtk_color_selection_set_has_palette(colorSelection, FALSE);
    gtk_container_set_border_width(GTK_CONTAINER(chooser), 6);
    gtk_box_pack_start(GTK_BOX(gtk_dialog_get_content_area(GTK_DIALOG(dialog))), chooser, TRUE, TRUE, 0);

    // The start colour is set before the callable is known, so opening reports nothing.
    setColor(initial);
    colorChanged = callback;

    adopt(dialog, chooser,
          Delegate0::connect(chooser, "color-changed", fastdelegate::MakeDelegate(this, &ColorInterface::colorCallBack)));
}

void ColorInterface::setColor(Point4 colour)
{
    GdkColor c;
    c.pixel = 0;
    c.red = toChannel(colour.x);
    c.green = toChannel(colour.y);
    c.blue = toChannel(colour.z);
    // Colour and alpha are two changes for the widget; the callable sees only the finished one.
    settingColor = true;
    gtk_color_selection_set_current_color(colorSelection, &c);
    gtk_color_selection_set_current_alpha(colorSelection, toChannel(colour.w));
    settingColor = false;
    colorCallBack();
}

Point4 ColorInterface::getColor() const
{
    GdkColor c;
    gtk_color_selection_get_current_color(colorSelection, &c);
    guint16 alpha = gtk_color_selection_get_current_alpha(colorSelection);
    return Point4(fromChannel(c.red), fromChannel(c.green), fromChannel(c.blue), fromChannel(alpha));
}

void ColorInterface::colorCallBack()
{
    if (!settingColor)
        colorChanged(getColor());
}
