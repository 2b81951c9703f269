#ifndef VELMORA_JOININGTHREAD_H
#define VELMORA_JOININGTHREAD_H

#include <thread>
#include <utility>

/// A thread for work in the background (a file read ahead, ...) that is joined when it goes,
/// also when an exception unwinds its owner: a std::thread destroyed while it runs ends the
/// program. Its owner declares it after everything the thread uses, so that the thread is
/// joined before those go.
class JoiningThread {
public:
    JoiningThread() = default;
    /// Starts f on a thread of its own; raises std::system_error when none can be had.
    template <class F> explicit JoiningThread(F &&f) : thread(std::forward<F>(f)) {}
    JoiningThread(JoiningThread &&) = default;
    /// Joins the thread held, then takes the other's.
    JoiningThread &operator=(JoiningThread &&other)
    {
        join();
        thread = std::move(other.thread);
        return *this;
    }
    ~JoiningThread() { join(); }

    /// True from the start until join().
    bool joinable() const { return thread.joinable(); }
    /// Waits for the thread's end; nothing when there is none.
    void join()
    {
        if (thread.joinable())
            thread.join();
    }

private:
    std::thread thread;
};

#endif
