#ifndef VELMORA_RANGEFILE_H
#define VELMORA_RANGEFILE_H

#include "formats/HttpRangeReader.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

/// One file read by byte ranges, the same way whether it is on a disk (a path) or on a web
/// server (an `http://` or `https://` address, through HttpRangeReader). The files of one
/// point hierarchy share one connection pool. Reads may come from several threads at once.
/// Every failure raises std::runtime_error with a text that names the file.
class RangeFile {
public:
    /// `pool` serves a remote file (null: one of its own). A local file is opened for each read
    /// and closed after it: a hierarchy may have a file for each of its many nodes.
    explicit RangeFile(std::string path, std::shared_ptr<HttpRangeReader::Pool> pool = nullptr);
    ~RangeFile();
    RangeFile(const RangeFile &) = delete;
    RangeFile &operator=(const RangeFile &) = delete;

    bool isRemote() const { return remote != nullptr; }
    const std::string &path() const { return name; }
    uint64_t size();
    /// Bytes [offset, offset + bytes) exactly.
    std::string read(uint64_t offset, size_t bytes);
    /// The whole file, refused when it has more than `most` bytes.
    std::string readAll(uint64_t most);

    /// A read-only stream over the file (reads ahead 64 KB at a time), for readers that take a
    /// FILE *; it uses this object, which must outlive it. The caller closes it.
    FILE *stream();

    /// The folder of a path or address ("." for a bare name), without the last '/'.
    static std::string folderOf(const std::string &path);

private:
    std::string name;
    std::unique_ptr<HttpRangeReader> remote;
};

#endif
