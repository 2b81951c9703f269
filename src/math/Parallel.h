#ifndef VELMORA_PARALLEL_H
#define VELMORA_PARALLEL_H

#include <cstddef>
#include <functional>

/// Work shared between the processors, with one rule for every caller: the call returns only
/// once every part it started has ended, also when a part throws, and then raises again the
/// first exception a part threw. A thread is never left running past the call, nor destroyed
/// while it runs (which would end the program).
class Parallel {
public:
    /// The processors the system reports, at least 1.
    static unsigned cores();

    /// part(k) for every k in [0, count): part 0 on the calling thread, each other on a thread
    /// of its own. When the system gives no further thread, the parts left without one run on
    /// the calling thread after its own, so the parts must not wait for one another. Once a
    /// part has thrown, the parts not begun yet are left out.
    static void run(unsigned count, const std::function<void(unsigned)> &part);

    /// The same for parts that wait for one another: all of them run at once, each on a thread
    /// of its own, or none does (the system's error is raised when a thread cannot be had).
    static void together(unsigned count, const std::function<void(unsigned)> &part);

    /// part(k, begin, end) for [0, n) cut into `count` ranges (0: one a core), range k being
    /// [n k / count, n (k + 1) / count). The ranges run as `run` runs parts, or one after the
    /// other on the calling thread when `threads` is false: the ranges, and so what a caller
    /// makes of them, are the same either way.
    static void split(size_t n, unsigned count, const std::function<void(unsigned, size_t, size_t)> &part,
                      bool threads = true);
};

#endif
