#include "gui/ProgressBar.h"

#include "gui/Delegate0.h"

#include <algorithm>
#include <cstdio>

ProgressBar::ProgressBar(const char *title, bool text)
    : progress(nullptr), maxValue(1.f), dialog(nullptr), showText(text)
{
    dialog = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_title(GTK_WINDOW(dialog), title ? title : "");
    gtk_window_set_position(GTK_WINDOW(dialog), GTK_WIN_POS_CENTER);
    gtk_widget_set_size_request(dialog, 230, -1);
    gtk_container_set_border_width(GTK_CONTAINER(dialog), 4);

    GtkWidget *bar = gtk_progress_bar_new();
    progress = GTK_PROGRESS_BAR(bar);
    gtk_widget_set_size_request(bar, -1, 20);
    gtk_container_add(GTK_CONTAINER(dialog), bar);
    if (showText)
        gtk_progress_bar_set_text(progress, "0%");

    Delegate0::connect(dialog, "destroy", fastdelegate::MakeDelegate(this, &ProgressBar::clean));
    gtk_widget_show_all(dialog);
}

ProgressBar::~ProgressBar()
{
    if (dialog)
        gtk_widget_destroy(dialog);
}

void ProgressBar::clean()
{
    progress = nullptr;
    dialog = nullptr;
}

void ProgressBar::setCurrentValue(float value)
{
    if (!progress)
        return;
    double fraction = maxValue > 0.f ? static_cast<double>(value) / maxValue : 0.0;
    // Also catches a NaN value, which the bar would not take.
    if (!(fraction >= 0.0))
        fraction = 0.0;
    fraction = std::min(fraction, 1.0);
    gtk_progress_bar_set_fraction(progress, fraction);
    if (showText) {
        char text[16];
        std::snprintf(text, sizeof text, "%.0f%%", fraction * 100.0);
        gtk_progress_bar_set_text(progress, text);
    }
    // The computation runs on the main thread: without this the windows would freeze until
    // it ends. A close request handled here destroys the window and runs `clean`.
    while (gtk_events_pending())
        gtk_main_iteration();
}
