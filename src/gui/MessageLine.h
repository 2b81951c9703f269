#ifndef VELMORA_MESSAGELINE_H
#define VELMORA_MESSAGELINE_H

#include <gtk/gtk.h>

#include <string>

/// The control window's line for messages the user should see (a file that could not be
/// loaded, the file a capture was written to): the last one stays until the next, with its
/// whole text as the tooltip. The line takes no room before the first message and never
/// takes the focus.
class MessageLine {
public:
    /// Packs the (hidden) line at the end of `box`, which owns it.
    explicit MessageLine(GtkWidget *box);

    /// Shows the last line of `text`, without its line end.
    void show(const std::string &text);
    /// Nothing to say any more: the line goes.
    void clear();
    /// What the line shows; empty before the first message.
    std::string text() const;

private:
    GtkWidget *label;
};

#endif
