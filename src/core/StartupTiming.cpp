#include "core/StartupTiming.h"

#include "math/Messages.h"

#include <GL/gl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <unistd.h>

namespace {

// When the process started, on the monotonic clock, in seconds: field 22 of
// /proc/self/stat counts clock ticks since boot, on the same clock as CLOCK_BOOTTIME.
// Falls back to the first milestone when /proc is not there.
double processStart()
{
    double start = -1;
    if (FILE *f = std::fopen("/proc/self/stat", "r")) {
        char text[1024];
        const size_t n = std::fread(text, 1, sizeof text - 1, f);
        std::fclose(f);
        text[n] = 0;
        // The command name (field 2) may hold blanks: count from after its ')'.
        const char *p = std::strrchr(text, ')');
        for (int field = 2; p && field < 22; ++field)
            p = std::strchr(p + 1, ' ');
        const long ticks = sysconf(_SC_CLK_TCK);
        if (p && ticks > 0) {
            timespec boot {}, mono {};
            clock_gettime(CLOCK_BOOTTIME, &boot);
            clock_gettime(CLOCK_MONOTONIC, &mono);
            const double sinceStart = boot.tv_sec + 1e-9 * boot.tv_nsec - std::strtod(p + 1, nullptr) / ticks;
            start = mono.tv_sec + 1e-9 * mono.tv_nsec - sinceStart;
        }
    }
    return start;
}

double now()
{
    timespec t {};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec + 1e-9 * t.tv_nsec;
}

} // namespace

bool StartupTiming::enabled()
{
    static const bool on = std::getenv("VELMORA_TIMING") != nullptr;
    return on;
}

void StartupTiming::mark(const char *what)
{
    if (!enabled())
        return;
    static double start = processStart();
    const double t = now();
    if (start < 0)
        start = t;
    msg::diagnostic("velmora-timing: %8.1f ms %s\n", 1000 * (t - start), what);
}

void StartupTiming::markFinished(const char *what)
{
    if (!enabled())
        return;
    glFinish();
    mark(what);
}
