#ifndef VELMORA_THUMBNAILLOADER_H
#define VELMORA_THUMBNAILLOADER_H

#include <gdk-pixbuf/gdk-pixbuf.h>

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

/// Reads small pictures of photographs (at most width x height, the photograph's proportions
/// kept) on a worker thread and hands each to `ready` on the toolkit's thread, view by view, as
/// they come. Only the few asked for last wait: a list scrolled quickly reads the rows it
/// stopped at. A photograph that cannot be read is handed over as null. Nothing is handed over
/// once the loader is gone.
class ThumbnailLoader {
public:
    /// Called on the toolkit's thread with the view and its picture (owned by the caller of
    /// request: a reference is taken for the call only; null for an unreadable file).
    using Ready = std::function<void(int view, GdkPixbuf *thumbnail)>;
    /// Requests that wait at most; older ones are dropped.
    static constexpr size_t maxWaiting = 64;

    ThumbnailLoader(int width, int height, Ready ready);
    ~ThumbnailLoader();
    ThumbnailLoader(const ThumbnailLoader &) = delete;
    ThumbnailLoader &operator=(const ThumbnailLoader &) = delete;

    /// Queues view `view`'s photograph `file` unless it waits or is being read already.
    void request(int view, const std::string &file);
    /// True while view v waits or is being read.
    bool isPending(int view) const;

private:
    struct Job {
        int view;
        std::string file;
    };
    void run();
    static gboolean deliver(gpointer delivery);

    const int width, height;
    Ready ready;
    mutable std::mutex mutex;
    std::condition_variable wake;
    std::deque<Job> waiting;
    int working = -1;
    bool stopping = false;
    std::thread worker;
    /// What the deliveries hold: expired once the loader is gone.
    std::shared_ptr<ThumbnailLoader *> alive;
};

#endif
