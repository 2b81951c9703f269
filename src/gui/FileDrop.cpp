#include "gui/FileDrop.h"

#include "app/GLMachine.h"
#include "gui/MainInterfaceImpl.h"
#include "math/Messages.h"

#include <cstdio>
#include <memory>

std::vector<std::string> FileDrop::filesFromUriList(const char *uriList)
{
    std::vector<std::string> files;
    if (!uriList)
        return files;
    gchar **uris = g_uri_list_extract_uris(uriList);
    for (gchar **uri = uris; uri && *uri; ++uri) {
        gchar *file = g_filename_from_uri(*uri, nullptr, nullptr);
        if (file) {
            files.emplace_back(file);
            g_free(file);
        } else {
            msg::warning("MainInterface: %s is not a local file, not opened\n", *uri);
        }
    }
    g_strfreev(uris);
    return files;
}

namespace {

struct DroppedFiles {
    GLMachine *machine;
    std::vector<std::string> files;
};

gboolean registerDroppedFiles(gpointer data)
{
    // A frame that reads while the windows answer (a capture of a large cloud) keeps its
    // scene: the files wait for its end, asking again now and then (an idle source would keep
    // the toolkit's loop in that frame busy).
    if (static_cast<DroppedFiles *>(data)->machine->drawingFrame()) {
        gdk_threads_add_timeout(100, registerDroppedFiles, data);
        return FALSE;
    }
    std::unique_ptr<DroppedFiles> drop(static_cast<DroppedFiles *>(data));
    for (const std::string &file : drop->files)
        drop->machine->openFile(file.c_str());
    return FALSE;
}

} // namespace

void FileDrop::open(GLMachine *machine, const std::vector<std::string> &files)
{
    if (files.empty() || !machine)
        return;
    // Loading waits for the drop to end: the source application is not kept waiting for
    // files that may take long to read.
    // Under the toolkit's lock: loading shows a progress bar, which runs the toolkit's loop.
    gdk_threads_add_idle(registerDroppedFiles, new DroppedFiles{machine, files});
}

void FileDrop::onDragDataReceived(GtkWidget *, GdkDragContext *, gint, gint, GtkSelectionData *data, guint, guint,
                                  gpointer window)
{
    if (!data || data->length <= 0 || data->format != 8)
        return;
    const std::string text(reinterpret_cast<const char *>(data->data), static_cast<size_t>(data->length));
    MainInterface::Impl *impl = static_cast<MainInterface::Impl *>(window);
    impl->self->openDroppedFiles(filesFromUriList(text.c_str()));
}
