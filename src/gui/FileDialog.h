#ifndef VELMORA_FILEDIALOG_H
#define VELMORA_FILEDIALOG_H

#include "gui/FastDelegate.h"

#include <gtk/gtk.h>

/// A one-shot dialog that asks for a file name and hands it to a callable.
///
/// Made with `new`; it opens at once at the mouse pointer and deletes itself when it closes.
/// On "OK" the dialog closes first and the callable then receives the chosen name (in
/// multiple-selection mode: each chosen name in turn, in the order the chooser lists them);
/// a choice of no file calls nothing. Cancelling or closing the window calls nothing.
class FileDialog {
public:
    /// `pattern`, when given (for example "*.rgb"), limits the files shown.
    FileDialog(const char *title, fastdelegate::FastDelegate1<const char *> callback, bool multiple = false,
               const char *pattern = nullptr);

    FileDialog(const FileDialog &) = delete;
    FileDialog &operator=(const FileDialog &) = delete;

    /// Opens the chooser in `folder` (ignored when null or empty).
    void setFolder(const char *folder);
    /// Acts on "OK" as the button does: closes the dialog, calls the callable, deletes the dialog object.
    void fileSelectionCallback();
    /// Closes the dialog without choosing, which deletes the dialog object.
    void close();

    GtkFileChooser *getDialog() const { return dialog; }

    /// The filters of "open file": "All files" (selected), "Viewer files" (the loader's own
    /// extensions) and "Meshes and point clouds of other programs" (what the importer reads),
    /// each extension in lower and upper case.
    static void addModelFilters(GtkFileChooser *chooser);

private:
    ~FileDialog() = default;

    void response(GtkWidget *widget, int id);
    void clean();

    GtkFileChooser *dialog;
    fastdelegate::FastDelegate1<const char *> fileChosen;
};

#endif
