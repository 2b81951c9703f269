#ifndef VELMORA_THUMBNAILLOADER_H
#define VELMORA_THUMBNAILLOADER_H

#include "math/NewestFirstWorker.h"

#include <gdk-pixbuf/gdk-pixbuf.h>

#include <functional>
#include <memory>
#include <string>

/// Reads small pictures of photographs (at most width x height, the photograph's proportions
/// kept) on a worker thread and hands each to `ready` on the toolkit's thread, view by view, as
/// they come; only the few asked for last wait (NewestFirstWorker): a list scrolled quickly
/// reads the rows it stopped at. A photograph that cannot be read is handed over as null.
/// Nothing is handed over once the loader is gone.
class ThumbnailLoader {
public:
    /// Called on the toolkit's thread with the view and its picture (a reference is held for
    /// the call only; null for an unreadable file).
    using Ready = std::function<void(int view, GdkPixbuf *thumbnail)>;
    /// Requests that wait at most; older ones are dropped.
    static constexpr size_t maxWaiting = 64;

    ThumbnailLoader(int width, int height, Ready ready);
    ~ThumbnailLoader();
    ThumbnailLoader(const ThumbnailLoader &) = delete;
    ThumbnailLoader &operator=(const ThumbnailLoader &) = delete;

    /// Queues view `view`'s photograph `file` unless it waits or is being read already.
    void request(int view, const std::string &file) { worker.request(view, file); }
    /// True while view v waits or is being read.
    bool isPending(int view) const { return worker.isPending(view); }

private:
    void read(int view, const std::string &file);
    static gboolean deliver(gpointer delivery);

    const int width, height;
    Ready ready;
    /// What the deliveries hold: expired once the loader is gone.
    std::shared_ptr<ThumbnailLoader *> alive;
    NewestFirstWorker<std::string> worker;
};

#endif
