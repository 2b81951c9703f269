#ifndef VELMORA_READALL_H
#define VELMORA_READALL_H

#include "image/Stream.h"

#include <cstdio>
#include <stdexcept>
#include <vector>

/// Everything left in `f`, read in chunks: for pipes, downloads and files whose size is not
/// asked first. `Byte` is char or unsigned char, as the parser of the bytes wants them.
template <class Byte = char> std::vector<Byte> readAll(FILE *f)
{
    static_assert(sizeof(Byte) == 1, "readAll gives bytes");
    std::vector<Byte> bytes;
    Byte chunk[1 << 16];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, f)) > 0)
        bytes.insert(bytes.end(), chunk, chunk + got);
    return bytes;
}

/// Opens `path` as the viewer opens its files (an address is downloaded first) and returns
/// what `read(FILE *)` makes of it; a file that cannot be opened is refused with "can't read
/// file".
template <class Read> auto readOpened(const char *path, Read read)
{
    Stream stream(path, "rb", true);
    FILE *f = stream;
    if (!f)
        throw std::runtime_error("can't read file\n");
    return read(f);
}

#endif
