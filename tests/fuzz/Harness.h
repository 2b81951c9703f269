#ifndef VELMORA_FUZZ_HARNESS_H
#define VELMORA_FUZZ_HARNESS_H

// The one shape of every harness. A harness file says how one input is read and what the
// result must hold; the entry points libFuzzer calls, the quiet standard output and the
// handling of refused inputs are here:
//
//   VELMORA_FUZZ_HARNESS(std::runtime_error, fuzz::QuietOutput)
//   {
//       check(Reader::read(data, size));
//   }
//
// An exception of the named kind is the reader refusing the input, which is its job; any
// other escapes to libFuzzer and counts as a finding.

#include "FuzzFiles.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <type_traits>

namespace fuzz {

/// What a harness does with what the code under test prints.
enum Output {
    KeepOutput,
    /// The readers report on standard output as the viewer does; libFuzzer reports on
    /// standard error, so only the readers' lines are silenced.
    QuietOutput
};

/// The refusal of harnesses whose code refuses by its result, never by an exception.
struct NoRefusal {
};

inline void silenceStandardOutput()
{
    const int null = open("/dev/null", O_WRONLY);
    if (null >= 0) {
        dup2(null, 1);
        close(null);
    }
}

/// Runs `run`; an exception of the kind `Refusal` ends it quietly.
template <class Refusal, class Run> void refusing(Run run)
{
    if constexpr (std::is_same_v<Refusal, NoRefusal>) {
        run();
    } else {
        try {
            run();
        } catch (const Refusal &) {
        }
    }
}

/// A stream that closes itself, so that a refusal thrown past it leaks nothing.
using Stream = std::unique_ptr<FILE, int (*)(FILE *)>;

/// The bytes as a read-only stream (see memoryStream).
inline Stream stream(const uint8_t *data, size_t size)
{
    return Stream(memoryStream(data, size), std::fclose);
}

} // namespace fuzz

#define VELMORA_FUZZ_HARNESS(Refusal, output)                                                                      \
    static void fuzzOneInput(const uint8_t *data, size_t size);                                                    \
    extern "C" int LLVMFuzzerInitialize(int *, char ***)                                                           \
    {                                                                                                              \
        if ((output) == fuzz::QuietOutput)                                                                         \
            fuzz::silenceStandardOutput();                                                                         \
        return 0;                                                                                                  \
    }                                                                                                              \
    extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)                                        \
    {                                                                                                              \
        fuzz::refusing<Refusal>([&] { fuzzOneInput(data, size); });                                                \
        return 0;                                                                                                  \
    }                                                                                                              \
    static void fuzzOneInput(const uint8_t *data, size_t size)

#endif
