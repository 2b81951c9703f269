#ifndef VELMORA_FILEDIALOG_H
#define VELMORA_FILEDIALOG_H

#include "gui/FastDelegate.h"
#include "math/NonCopyable.h"

#include <gtk/gtk.h>

#include <string>
#include <vector>

/// The files of a multiple choice in the order the user picked them: the chooser only lists
/// them in its own order. Fed with the chosen names at every change of the choice.
class PickOrder {
public:
    /// The choice now: names no longer chosen drop out, new ones follow in the given order.
    void update(const std::vector<std::string> &chosen);
    /// `chosen` in the order of picking (names never seen by update() last, as given).
    std::vector<std::string> ordered(const std::vector<std::string> &chosen) const;
    /// The chooser's names now.
    static std::vector<std::string> namesOf(GtkFileChooser *chooser);
    /// Keeps `order` up to date with the choice of `chooser` (order must outlive it).
    static void follow(GtkFileChooser *chooser, PickOrder *order);

private:
    std::vector<std::string> picked;
};

/// A one-shot dialog that asks for a file name and hands it to a callable.
///
/// Made with `new`; it opens at once at the mouse pointer and deletes itself when it closes.
/// On "OK" the dialog closes first and the callable then receives the chosen name (in
/// multiple-selection mode: each chosen name in turn, in the order the user picked them);
/// a choice of no file calls nothing. Cancelling or closing the window calls nothing.
class FileDialog : NonCopyable {
public:
    /// `pattern`, when given (for example "*.rgb"), limits the files shown.
    FileDialog(const char *title, fastdelegate::FastDelegate1<const char *> callback, bool multiple = false,
               const char *pattern = nullptr);
    /// A chooser of a file to write: a name field, and a question before an existing file is
    /// replaced.
    static FileDialog *saveAs(const char *title, fastdelegate::FastDelegate1<const char *> callback,
                              const char *pattern = nullptr);

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
    FileDialog(const char *title, fastdelegate::FastDelegate1<const char *> callback, bool multiple,
               const char *pattern, GtkFileChooserAction action);
    ~FileDialog() = default;

    void response(GtkWidget *widget, int id);
    void clean();

    GtkFileChooser *dialog;
    fastdelegate::FastDelegate1<const char *> fileChosen;
    PickOrder order;
};

#endif
