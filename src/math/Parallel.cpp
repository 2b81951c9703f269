#include "math/Parallel.h"

#include <condition_variable>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace {

// The first exception the parts threw.
class FirstFailure {
public:
    void guard(const std::function<void(unsigned)> &part, unsigned k)
    {
        try {
            part(k);
        } catch (...) {
            const std::lock_guard<std::mutex> hold(lock);
            if (!failed)
                failed = std::current_exception();
        }
    }
    bool any() const
    {
        const std::lock_guard<std::mutex> hold(lock);
        return failed != nullptr;
    }
    void raise() const
    {
        if (failed)
            std::rethrow_exception(failed);
    }

private:
    mutable std::mutex lock;
    std::exception_ptr failed;
};

// Threads that are all joined when the crew goes, whatever ends its scope.
struct Crew {
    explicit Crew(unsigned size) { threads.reserve(size); }
    ~Crew()
    {
        for (std::thread &t : threads)
            if (t.joinable())
                t.join();
    }
    std::vector<std::thread> threads;
};

} // namespace

unsigned Parallel::cores()
{
    const unsigned n = std::thread::hardware_concurrency();
    return n ? n : 1;
}

void Parallel::run(unsigned count, const std::function<void(unsigned)> &part)
{
    if (count == 0)
        return;
    FirstFailure failure;
    {
        Crew crew(count - 1);
        unsigned started = 1;
        try {
            for (; started < count; ++started)
                crew.threads.emplace_back([&failure, &part, k = started] { failure.guard(part, k); });
        } catch (const std::system_error &) {
            // No further thread: the parts left run on this one.
        }
        failure.guard(part, 0);
        for (unsigned k = started; k < count && !failure.any(); ++k)
            failure.guard(part, k);
    }
    failure.raise();
}

void Parallel::together(unsigned count, const std::function<void(unsigned)> &part)
{
    if (count == 0)
        return;
    FirstFailure failure;
    std::exception_ptr noThread;
    {
        // The threads wait at the gate until all of them are there, so that none runs its
        // part when one of the others could not be started.
        std::mutex lock;
        std::condition_variable opened;
        enum { WAITING, GO, BACK } gate = WAITING;
        Crew crew(count - 1);
        try {
            for (unsigned k = 1; k < count; ++k)
                crew.threads.emplace_back([&, k] {
                    {
                        std::unique_lock<std::mutex> hold(lock);
                        opened.wait(hold, [&] { return gate != WAITING; });
                        if (gate == BACK)
                            return;
                    }
                    failure.guard(part, k);
                });
        } catch (const std::system_error &) {
            noThread = std::current_exception();
        }
        {
            const std::lock_guard<std::mutex> hold(lock);
            gate = noThread ? BACK : GO;
        }
        opened.notify_all();
        if (!noThread)
            failure.guard(part, 0);
    }
    if (noThread)
        std::rethrow_exception(noThread);
    failure.raise();
}

void Parallel::split(size_t n, unsigned count, const std::function<void(unsigned, size_t, size_t)> &part,
                     bool threads)
{
    if (count == 0)
        count = cores();
    const auto range = [&](unsigned k) { part(k, n * k / count, n * (k + 1) / count); };
    if (threads) {
        run(count, range);
        return;
    }
    for (unsigned k = 0; k < count; ++k)
        range(k);
}
