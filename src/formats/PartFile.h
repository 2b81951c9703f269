#ifndef VELMORA_PARTFILE_H
#define VELMORA_PARTFILE_H

#include <cstddef>
#include <cstdio>
#include <string>

/// A file being written under the temporary name `path`.part: it takes its final name only
/// once every byte is on disk (commit()), so that a write that fails part way never leaves a
/// truncated file, nor spoils one that was there, under the final name. A file that was
/// never committed is removed when the object goes.
class PartFile {
public:
    /// Raises a `std::runtime_error` ("cannot write PATH: reason") when the file cannot be made.
    explicit PartFile(const std::string &path);
    ~PartFile();
    PartFile(const PartFile &) = delete;
    PartFile &operator=(const PartFile &) = delete;

    void write(const void *bytes, size_t n);
    void write(const std::string &text) { write(text.data(), text.size()); }
    /// The byte position where the next write goes.
    long long position() const { return written; }
    /// Writes `n` bytes at `at` (before position()), then goes on at the end.
    void writeAt(long long at, const void *bytes, size_t n);
    /// Closes the file and gives it its final name; raises the error of a failed write.
    void commit();

private:
    [[noreturn]] void fail();

    std::string path, part;
    FILE *file = nullptr;
    long long written = 0;
};

#endif
