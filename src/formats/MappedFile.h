#ifndef VELMORA_MAPPEDFILE_H
#define VELMORA_MAPPEDFILE_H

#include "formats/ReadRefusal.h"

#include <cstddef>

/// A regular file's bytes mapped read-only for as long as the object lives: a reader that
/// goes through the whole file reads it from the page cache without copying it into memory of
/// its own first. Refused through `refuse` ("can't open <path>", "<path> is no regular file",
/// "can't map <path>"); an empty file has no bytes (base is null).
class MappedFile {
public:
    MappedFile(const char *path, const QuietRefusal &refuse);
    ~MappedFile();
    MappedFile(const MappedFile &) = delete;
    MappedFile &operator=(const MappedFile &) = delete;

    const char *base = nullptr;
    size_t length = 0;
};

#endif
