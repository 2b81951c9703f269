#ifndef VELMORA_SELFDELETINGDIALOG_H
#define VELMORA_SELFDELETINGDIALOG_H

#include "math/NonCopyable.h"

#include <gtk/gtk.h>

/// A dialog object made with `new` that lives as long as its GTK dialog: any response closes
/// the dialog, and the dialog's destruction deletes the object.
class SelfDeletingDialog : NonCopyable {
public:
    GtkWidget *getDialog() const { return dialog; }

protected:
    SelfDeletingDialog() = default;
    virtual ~SelfDeletingDialog() = default;

    /// Ties the object to `dialog` and shows it. `handler` is the object's handler on
    /// `widget`, a widget inside the dialog: such a widget goes after the dialog's "destroy"
    /// handlers have run, that is after the object, so the handler is disconnected first.
    void adopt(GtkWidget *dialog, gpointer widget, gulong handler);
    /// Closes the dialog, which deletes the object.
    void closeDialog();

    GtkWidget *dialog = nullptr;

private:
    void clean();

    gpointer watchedWidget = nullptr;
    gulong watchHandler = 0;
};

#endif
