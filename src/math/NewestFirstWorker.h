#ifndef VELMORA_NEWESTFIRSTWORKER_H
#define VELMORA_NEWESTFIRSTWORKER_H

#include "math/JoiningThread.h"
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <utility>

/// One worker thread, started on the first job, that does the jobs asked for last first: only
/// the `limit` newest wait, older ones are dropped (their owner asks again when it still needs
/// them). A user stepping quickly through views gets the view they stopped at, not every view
/// they passed. Each job has a key (a view); a key that waits or is being worked on is not
/// queued twice. The job runs on the worker (with its key), without the queue's lock.
template <class Job>
class NewestFirstWorker {
public:
    NewestFirstWorker(size_t newest, std::function<void(int key, Job &job)> job) : limit(newest), work(std::move(job)) {}
    ~NewestFirstWorker() { stop(); }
    NewestFirstWorker(const NewestFirstWorker &) = delete;
    NewestFirstWorker &operator=(const NewestFirstWorker &) = delete;

    void request(int key, Job job)
    {
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (stopping || isPendingLocked(key))
                return;
            waiting.emplace_front(key, std::move(job));
            if (waiting.size() > limit)
                waiting.pop_back();
            if (!worker.joinable())
                worker = JoiningThread([this] { run(); });
        }
        wake.notify_one();
    }

    /// True while a job of `key` waits or is being worked on.
    bool isPending(int key) const
    {
        std::lock_guard<std::mutex> lock(mutex);
        return isPendingLocked(key);
    }

    /// Drops the waiting jobs and waits for the one under way; nothing runs afterwards.
    void stop()
    {
        {
            std::lock_guard<std::mutex> lock(mutex);
            stopping = true;
            waiting.clear();
        }
        wake.notify_all();
        worker.join();
    }

private:
    bool isPendingLocked(int key) const
    {
        if (working == key)
            return true;
        for (const auto &w : waiting)
            if (w.first == key)
                return true;
        return false;
    }

    void run()
    {
        std::unique_lock<std::mutex> lock(mutex);
        for (;;) {
            wake.wait(lock, [this] { return stopping || !waiting.empty(); });
            if (stopping)
                return;
            std::pair<int, Job> job = std::move(waiting.front());
            waiting.pop_front();
            working = job.first;
            lock.unlock();
            work(job.first, job.second);
            lock.lock();
            working = -1;
        }
    }

    const size_t limit;
    std::function<void(int, Job &)> work;
    mutable std::mutex mutex;
    std::condition_variable wake;
    std::deque<std::pair<int, Job>> waiting;
    int working = -1;
    bool stopping = false;
    JoiningThread worker;
};

#endif
