#include "formats/ByteOrder.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace {

// The byte count of `count` items of `size` bytes, or false when it cannot describe a buffer
// (zero size or more bytes than the address space holds).
bool byteCount(unsigned size, unsigned count, size_t &bytes)
{
    if (size == 0)
        return false;
    const uint64_t total = static_cast<uint64_t>(size) * count;
    if (total > SIZE_MAX)
        return false;
    bytes = static_cast<size_t>(total);
    return true;
}

// zlib reads at most INT_MAX bytes per call (it reports an error beyond that), so large
// records are read in slices well below the limit.
const unsigned kGzSlice = 1u << 30;

unsigned gzreadItems(void *p, unsigned size, unsigned count, gzFile f)
{
    size_t bytes = 0;
    if (p == nullptr || f == nullptr || !byteCount(size, count, bytes))
        return 0;
    unsigned char *out = static_cast<unsigned char *>(p);
    size_t done = 0;
    while (done < bytes) {
        const unsigned want = static_cast<unsigned>(std::min<size_t>(bytes - done, kGzSlice));
        const int got = ::gzread(f, out + done, want);
        if (got <= 0)
            break;
        done += static_cast<size_t>(got);
        if (static_cast<unsigned>(got) < want)
            break;
    }
    return static_cast<unsigned>(done / size);
}

unsigned gzreadAdapter(void *p, unsigned size, unsigned count, void *handle)
{
    return DATAITEM_UTILS::gzread(p, size, count, static_cast<gzFile>(handle));
}

unsigned gzreadbeAdapter(void *p, unsigned size, unsigned count, void *handle)
{
    return DATAITEM_UTILS::gzreadbe(p, size, count, static_cast<gzFile>(handle));
}

} // namespace

bool hostIsLittleEndian()
{
    const uint16_t one = 1;
    unsigned char first;
    std::memcpy(&first, &one, 1);
    return first == 1;
}

void swapBytes(void *p, unsigned size, unsigned count)
{
    size_t bytes = 0;
    if (p == nullptr || size < 2 || !byteCount(size, count, bytes))
        return;
    unsigned char *item = static_cast<unsigned char *>(p);
    for (unsigned i = 0; i < count; ++i, item += size)
        std::reverse(item, item + size);
}

unsigned readbe(void *p, unsigned size, unsigned count, FILE *f)
{
    const unsigned n = freadItems(p, size, count, f);
    swapBytes(p, size, n);
    return n;
}

unsigned freadItems(void *p, unsigned size, unsigned count, void *handle)
{
    size_t bytes = 0;
    if (p == nullptr || handle == nullptr || !byteCount(size, count, bytes))
        return 0;
    return static_cast<unsigned>(std::fread(p, size, count, static_cast<FILE *>(handle)));
}

unsigned readbeItems(void *p, unsigned size, unsigned count, void *handle)
{
    return readbe(p, size, count, static_cast<FILE *>(handle));
}

namespace MESH_UTILS {

unsigned gzread(void *, unsigned, unsigned, void *)
{
    return 0;
}

unsigned gzreadbe(void *, unsigned, unsigned, void *)
{
    return 0;
}

ReadFunction readerForMode(int mode)
{
    switch (mode) {
    case 1:
        return readbeItems;
    case 2:
        return gzread;
    case 3:
        return gzreadbe;
    default:
        return freadItems;
    }
}

} // namespace MESH_UTILS

namespace DATAITEM_UTILS {

void swapBytes(void *p, unsigned size, unsigned count)
{
    ::swapBytes(p, size, count);
}

unsigned readbe(void *p, unsigned size, unsigned count, FILE *f)
{
    return ::readbe(p, size, count, f);
}

unsigned gzread(void *p, unsigned size, unsigned count, gzFile f)
{
    return gzreadItems(p, size, count, f);
}

unsigned gzreadbe(void *p, unsigned size, unsigned count, gzFile f)
{
    const unsigned n = gzreadItems(p, size, count, f);
    ::swapBytes(p, size, n);
    return n;
}

ReadFunction readerForMode(int mode)
{
    switch (mode) {
    case 1:
        return readbeItems;
    case 2:
        return gzreadAdapter;
    case 3:
        return gzreadbeAdapter;
    default:
        return freadItems;
    }
}

} // namespace DATAITEM_UTILS
