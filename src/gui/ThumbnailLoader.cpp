#include "gui/ThumbnailLoader.h"

#include <gdk/gdk.h>

namespace {

struct Delivery {
    std::weak_ptr<ThumbnailLoader *> loader;
    int view;
    GdkPixbuf *thumbnail;
};

} // namespace

ThumbnailLoader::ThumbnailLoader(int w, int h, Ready whenReady)
    : width(w), height(h), ready(std::move(whenReady)), alive(std::make_shared<ThumbnailLoader *>(this)),
      worker(maxWaiting, [this](int view, std::string &file) { read(view, file); })
{
}

ThumbnailLoader::~ThumbnailLoader()
{
    worker.stop();
    // Deliveries still queued run on this thread, later: they find the loader gone.
    alive.reset();
}

void ThumbnailLoader::read(int view, const std::string &file)
{
    // Reading a picture touches no display: it may run off the toolkit's thread.
    GError *error = nullptr;
    GdkPixbuf *thumbnail = gdk_pixbuf_new_from_file_at_scale(file.c_str(), width, height, TRUE, &error);
    if (error)
        g_error_free(error);
    gdk_threads_add_idle(deliver, new Delivery{alive, view, thumbnail});
}

gboolean ThumbnailLoader::deliver(gpointer data)
{
    std::unique_ptr<Delivery> d(static_cast<Delivery *>(data));
    if (std::shared_ptr<ThumbnailLoader *> self = d->loader.lock())
        (*self)->ready(d->view, d->thumbnail);
    if (d->thumbnail)
        g_object_unref(d->thumbnail);
    return FALSE;
}
