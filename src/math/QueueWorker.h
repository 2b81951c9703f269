#ifndef VELMORA_QUEUEWORKER_H
#define VELMORA_QUEUEWORKER_H

#include "math/JoiningThread.h"

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <utility>

/// One worker thread, started with the first job, that takes the jobs of a queue front first
/// and runs each without the queue's lock. Its owner says where a job joins the queue and
/// which jobs leave it unrun, and may keep more under the same lock (what the jobs gave back).
/// The functions that look at the queue are handed it and the job under way (null when none;
/// only what its run leaves alone may be read), under the lock.
template <class Job>
class QueueWorker {
public:
    /// `work` runs a job on the worker, without the lock; `finished`, when given, follows it
    /// under the lock.
    explicit QueueWorker(std::function<void(Job &)> work, std::function<void(Job &)> finished = {})
        : run(std::move(work)), done(std::move(finished))
    {
    }
    ~QueueWorker() { stop(); }
    QueueWorker(const QueueWorker &) = delete;
    QueueWorker &operator=(const QueueWorker &) = delete;

    /// `change(queue, underWay)`, which may add jobs, then the worker (started if need be) is
    /// woken; nothing once stopped.
    template <class F>
    void add(F change)
    {
        {
            std::lock_guard<std::mutex> hold(mutex);
            if (stopping)
                return;
            change(waiting, underWay);
            if (!worker.joinable())
                worker = JoiningThread([this] { serve(); });
        }
        wake.notify_all();
    }

    /// What `look(queue, underWay)` returns.
    template <class F>
    auto locked(F look) const
    {
        std::lock_guard<std::mutex> hold(mutex);
        return look(waiting, static_cast<const Job *>(underWay));
    }

    /// Waits until `test(queue, underWay)` holds, asked at once, after every add and after
    /// every job; or until the worker is stopped.
    template <class F>
    void waitUntil(F test)
    {
        std::unique_lock<std::mutex> hold(mutex);
        wake.wait(hold, [&] {
            const Job *current = underWay;
            return stopping || test(std::as_const(waiting), current);
        });
    }

    /// Drops the waiting jobs and waits for the one under way; nothing runs afterwards.
    void stop()
    {
        {
            std::lock_guard<std::mutex> hold(mutex);
            stopping = true;
            waiting.clear();
        }
        wake.notify_all();
        worker.join();
    }

private:
    void serve()
    {
        std::unique_lock<std::mutex> hold(mutex);
        for (;;) {
            wake.wait(hold, [this] { return stopping || !waiting.empty(); });
            if (stopping)
                return;
            Job job = std::move(waiting.front());
            waiting.pop_front();
            underWay = &job;
            hold.unlock();
            run(job);
            hold.lock();
            underWay = nullptr;
            if (done)
                done(job);
            wake.notify_all();
        }
    }

    std::function<void(Job &)> run;
    std::function<void(Job &)> done;
    mutable std::mutex mutex;
    std::condition_variable wake;
    std::deque<Job> waiting;
    Job *underWay = nullptr;
    bool stopping = false;
    JoiningThread worker;
};

#endif
