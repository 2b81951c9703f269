// ctest-label: thread
#include "math/Parallel.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>

namespace {

// A part that throws, on the calling thread or on another, while the other parts are still
// at work: the call raises that part's exception, and only once every other part has ended.
TEST(Parallel, AThrowingPartIsRaisedOnceEveryPartHasEnded)
{
    for (unsigned thrower : {0u, 1u, 2u}) {
        SCOPED_TRACE(thrower);
        std::atomic<bool> thrown{false};
        std::atomic<int> ended{0};
        const auto part = [&](unsigned k, size_t, size_t) {
            if (k == thrower) {
                thrown = true;
                throw std::runtime_error("part " + std::to_string(k));
            }
            // The others go on after the throw: the call must wait for them.
            while (!thrown)
                std::this_thread::yield();
            ++ended;
        };
        try {
            Parallel::split(3000, 3, part);
            ADD_FAILURE() << "nothing raised";
        } catch (const std::runtime_error &e) {
            EXPECT_EQ(std::string(e.what()), "part " + std::to_string(thrower));
        }
        EXPECT_EQ(ended.load(), 2);
    }
}

// Parts that wait for one another finish only when all of them run at once.
TEST(Parallel, TogetherRunsEveryPartAtOnce)
{
    std::mutex lock;
    std::condition_variable arrived;
    unsigned here = 0;
    Parallel::together(4, [&](unsigned) {
        std::unique_lock<std::mutex> hold(lock);
        ++here;
        arrived.notify_all();
        arrived.wait(hold, [&] { return here == 4; });
    });
    EXPECT_EQ(here, 4u);
    EXPECT_THROW(Parallel::together(3, [](unsigned k) {
                     if (k == 2)
                         throw std::logic_error("two");
                 }),
                 std::logic_error);
}

} // namespace
