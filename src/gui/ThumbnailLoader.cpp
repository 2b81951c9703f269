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
    : width(w), height(h), ready(std::move(whenReady)), alive(std::make_shared<ThumbnailLoader *>(this))
{
}

ThumbnailLoader::~ThumbnailLoader()
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        stopping = true;
        waiting.clear();
    }
    wake.notify_all();
    if (worker.joinable())
        worker.join();
    // Deliveries still queued run on this thread, later: they find the loader gone.
    alive.reset();
}

void ThumbnailLoader::request(int view, const std::string &file)
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (working == view)
            return;
        for (const Job &j : waiting)
            if (j.view == view)
                return;
        waiting.push_front({view, file});
        if (waiting.size() > maxWaiting)
            waiting.pop_back();
        if (!worker.joinable())
            worker = std::thread(&ThumbnailLoader::run, this);
    }
    wake.notify_one();
}

bool ThumbnailLoader::isPending(int view) const
{
    std::lock_guard<std::mutex> lock(mutex);
    if (working == view)
        return true;
    for (const Job &j : waiting)
        if (j.view == view)
            return true;
    return false;
}

void ThumbnailLoader::run()
{
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
        wake.wait(lock, [this] { return stopping || !waiting.empty(); });
        if (stopping)
            return;
        Job job = std::move(waiting.front());
        waiting.pop_front();
        working = job.view;
        lock.unlock();
        // Reading a picture touches no display: it may run off the toolkit's thread.
        GError *error = nullptr;
        GdkPixbuf *thumbnail = gdk_pixbuf_new_from_file_at_scale(job.file.c_str(), width, height, TRUE, &error);
        if (error)
            g_error_free(error);
        gdk_threads_add_idle(deliver, new Delivery{alive, job.view, thumbnail});
        lock.lock();
        working = -1;
    }
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
