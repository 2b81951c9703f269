#ifndef VELMORA_LISTDIALOG_H
#define VELMORA_LISTDIALOG_H

#include "gui/FastDelegate.h"
#include "gui/SelfDeletingDialog.h"

#include <gtk/gtk.h>

#include <string>
#include <vector>

/// A dialog that offers a list of names; choosing one hands its index to a callable at once.
///
/// Made with `new`; it opens at once and stays open, so the user may change the choice,
/// until "OK" or the window's close box closes it; it then deletes itself.
class ListDialog : public SelfDeletingDialog {
public:
    ListDialog(const char *title, const std::vector<std::string> &items,
               fastdelegate::FastDelegate1<int> callback);

    /// Closes the dialog, which deletes the dialog object.
    void destructor() { closeDialog(); }

    GtkTreeView *getList() const { return list; }

private:
    ~ListDialog() override = default;

    void selectionCallback();

    GtkTreeView *list;
    fastdelegate::FastDelegate1<int> rowChosen;
};

#endif
