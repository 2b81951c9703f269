// ctest-label: thread
#include "math/QueueWorker.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <vector>

namespace {

// Jobs run front first and without the queue's lock: while the first waits at its gate, the
// queue and the job under way can be looked at and a job put in front. Each end is kept under
// the lock, and a wait for the queue to empty sees all of them; a stopped worker takes no job.
TEST(QueueWorker, RunsFrontFirstWithoutTheLockAndKeepsEachEnd)
{
    std::mutex m;
    std::condition_variable cv;
    bool started = false, open = false;
    std::vector<int> ended; // under the worker's lock
    QueueWorker<int> worker(
        [&](int &job) {
            if (job != 1)
                return;
            std::unique_lock<std::mutex> hold(m);
            started = true;
            cv.notify_all();
            cv.wait(hold, [&] { return open; });
        },
        [&](int &job) { ended.push_back(job); });
    worker.add([](auto &queue, const auto *) { queue.insert(queue.end(), {1, 2, 3}); });
    {
        std::unique_lock<std::mutex> hold(m);
        cv.wait(hold, [&] { return started; });
    }
    // Job 1 under way, two behind it.
    EXPECT_EQ(worker.locked([](const auto &queue, const int *underWay) {
        return underWay ? *underWay * 10 + int(queue.size()) : 0;
    }),
              12);
    worker.add([](auto &queue, const auto *) { queue.push_front(4); });
    {
        std::lock_guard<std::mutex> hold(m);
        open = true;
    }
    cv.notify_all();
    worker.waitUntil([](const auto &queue, const int *underWay) { return queue.empty() && !underWay; });
    EXPECT_EQ(worker.locked([&](const auto &, const auto *) { return ended; }), (std::vector<int>{1, 4, 2, 3}));
    worker.stop();
    worker.add([](auto &queue, const auto *) { queue.push_back(5); });
    EXPECT_EQ(worker.locked([](const auto &queue, const auto *) { return queue.size(); }), 0u);
}

} // namespace
