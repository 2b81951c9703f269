#include "gui/SelfDeletingDialog.h"

#include "gui/Delegate0.h"

void SelfDeletingDialog::adopt(GtkWidget *d, gpointer widget, gulong handler)
{
    dialog = d;
    watchedWidget = widget;
    watchHandler = handler;
    Delegate0::connect(dialog, "response", fastdelegate::MakeDelegate(this, &SelfDeletingDialog::closeDialog));
    Delegate0::connect(dialog, "destroy", fastdelegate::MakeDelegate(this, &SelfDeletingDialog::clean));
    gtk_widget_show_all(dialog);
}

void SelfDeletingDialog::closeDialog() { gtk_widget_destroy(dialog); }

void SelfDeletingDialog::clean()
{
    g_signal_handler_disconnect(watchedWidget, watchHandler);
    delete this;
}
