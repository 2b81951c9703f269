#ifndef VELMORA_FUZZ_FUZZFILES_H
#define VELMORA_FUZZ_FUZZFILES_H

// What the harnesses share: the fuzz input as a stream in memory for readers that take a
// FILE *, and as files in a folder of the process's own for readers that take a path.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <set>
#include <string>
#include <unistd.h>

namespace fuzz {

namespace detail {

// Never destroyed: the folder is removed by an exit handler, after static destructors may
// have run.
inline std::set<std::string> &written()
{
    static auto *names = new std::set<std::string>;
    return *names;
}

inline void removeFolder();

inline const std::string &folder()
{
    // One folder per process, reused by every run: creating files anew for each input would
    // cost more than the readers themselves.
    static const std::string &dir = *[] {
        const char *base = std::getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/velmora-fuzz-XXXXXX";
        if (!mkdtemp(&pattern[0])) {
            std::perror("mkdtemp");
            std::abort();
        }
        std::atexit(removeFolder);
        return new std::string(pattern);
    }();
    return dir;
}

inline void removeFolder()
{
    for (const std::string &name : written())
        unlink((folder() + "/" + name).c_str());
    rmdir(folder().c_str());
}

} // namespace detail

/// Writes `size` bytes as the file `name` of the process's folder and returns its path.
inline std::string writeFile(const std::string &name, const uint8_t *data, size_t size)
{
    const std::string path = detail::folder() + "/" + name;
    detail::written().insert(name);
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) {
        std::perror(path.c_str());
        std::abort();
    }
    while (size > 0) {
        const ssize_t n = write(fd, data, size);
        if (n <= 0) {
            std::perror(path.c_str());
            std::abort();
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
    close(fd);
    return path;
}

/// The bytes as a read-only stream; the caller closes it. An empty input is an empty stream
/// (fmemopen refuses a zero size).
inline FILE *memoryStream(const uint8_t *data, size_t size)
{
    FILE *f = size ? fmemopen(const_cast<uint8_t *>(data), size, "rb") : std::fopen("/dev/null", "rb");
    if (!f) {
        std::perror("fmemopen");
        std::abort();
    }
    return f;
}

/// Splits an input that stands for two files: its first byte gives the length of the first
/// file's bytes (cut short at the end of the input), the rest is the second file.
struct TwoFiles {
    const uint8_t *first = nullptr, *second = nullptr;
    size_t firstSize = 0, secondSize = 0;

    TwoFiles(const uint8_t *data, size_t size)
    {
        if (size == 0)
            return;
        first = data + 1;
        firstSize = data[0] < size - 1 ? data[0] : size - 1;
        second = first + firstSize;
        secondSize = size - 1 - firstSize;
    }
};

} // namespace fuzz

#endif
