#ifndef VELMORA_NEWESTFIRSTWORKER_H
#define VELMORA_NEWESTFIRSTWORKER_H

#include "math/QueueWorker.h"

#include <cstddef>
#include <deque>
#include <functional>
#include <utility>

/// One worker thread, started on the first job, that does the jobs asked for last first: only
/// the `limit` newest wait, older ones are dropped (their owner asks again when it still needs
/// them). A user stepping quickly through views gets the view they stopped at, not every view
/// they passed. Each job has a key (a view); a key that waits or is being worked on is not
/// queued twice. The job runs on the worker (with its key), without the queue's lock.
template <class Job>
class NewestFirstWorker {
    using Keyed = std::pair<int, Job>;

public:
    NewestFirstWorker(size_t newest, std::function<void(int key, Job &job)> job)
        : limit(newest), queue([work = std::move(job)](Keyed &k) { work(k.first, k.second); })
    {
    }

    void request(int key, Job job)
    {
        queue.add([&](std::deque<Keyed> &waiting, const Keyed *underWay) {
            if (pending(waiting, underWay, key))
                return;
            waiting.emplace_front(key, std::move(job));
            if (waiting.size() > limit)
                waiting.pop_back();
        });
    }

    /// True while a job of `key` waits or is being worked on.
    bool isPending(int key) const
    {
        return queue.locked([key](const std::deque<Keyed> &waiting, const Keyed *underWay) {
            return pending(waiting, underWay, key);
        });
    }

    /// Drops the waiting jobs and waits for the one under way; nothing runs afterwards.
    void stop() { queue.stop(); }

private:
    static bool pending(const std::deque<Keyed> &waiting, const Keyed *underWay, int key)
    {
        if (underWay && underWay->first == key)
            return true;
        for (const auto &w : waiting)
            if (w.first == key)
                return true;
        return false;
    }

    const size_t limit;
    QueueWorker<Keyed> queue;
};

#endif
