#ifndef VELMORA_FILEDROP_H
#define VELMORA_FILEDROP_H

#include <gtk/gtk.h>

#include <string>
#include <vector>

class GLMachine;

/// Files dropped on the program's windows: the local files of a "text/uri-list", registered
/// once the toolkit is idle, as the "open file" dialog registers them.
class FileDrop {
public:
    /// See MainInterface::filesFromUriList().
    static std::vector<std::string> filesFromUriList(const char *uriList);
    /// See MainInterface::openDroppedFiles().
    static void open(GLMachine *machine, const std::vector<std::string> &files);
    /// The "drag-data-received" handler of both windows; `window` is the MainInterface::Impl.
    static void onDragDataReceived(GtkWidget *, GdkDragContext *, gint, gint, GtkSelectionData *data, guint, guint,
                                   gpointer window);
};

#endif
