#include "gui/MessageLine.h"

MessageLine::MessageLine(GtkWidget *box) : label(gtk_label_new(""))
{
    gtk_widget_set_name(label, "messageLine");
    gtk_misc_set_alignment(GTK_MISC(label), 0, 0.5);
    gtk_label_set_ellipsize(GTK_LABEL(label), PANGO_ELLIPSIZE_END);
    // Left out of the window's show_all until there is something to say.
    gtk_widget_set_no_show_all(label, TRUE);
    gtk_box_pack_end(GTK_BOX(box), label, FALSE, FALSE, 2);
}

void MessageLine::show(const std::string &text)
{
    std::string line = text;
    while (!line.empty() && line.back() == '\n')
        line.pop_back();
    const size_t start = line.rfind('\n');
    if (start != std::string::npos)
        line.erase(0, start + 1);
    gtk_label_set_text(GTK_LABEL(label), line.c_str());
    gtk_widget_set_tooltip_text(label, text.c_str());
    gtk_widget_show(label);
}

std::string MessageLine::text() const
{
    return gtk_widget_get_visible(label) ? gtk_label_get_text(GTK_LABEL(label)) : std::string();
}

void MessageLine::clear()
{
    gtk_label_set_text(GTK_LABEL(label), "");
    gtk_widget_set_tooltip_text(label, nullptr);
    gtk_widget_hide(label);
}
