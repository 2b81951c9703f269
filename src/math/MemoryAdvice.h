#ifndef VELMORA_MEMORYADVICE_H
#define VELMORA_MEMORYADVICE_H

#include <sys/mman.h>

#include <cstddef>
#include <cstdint>

/// Gives the kernel `advice` (madvise) about the whole pages of `page` bytes (a power of two)
/// that lie inside [p, p + bytes). Only advice: where it is refused, nothing changes.
inline void adviseWholePages(void *p, size_t bytes, size_t page, int advice)
{
    const uintptr_t from = (reinterpret_cast<uintptr_t>(p) + page - 1) & ~(page - 1);
    const uintptr_t to = (reinterpret_cast<uintptr_t>(p) + bytes) & ~(page - 1);
    if (to > from)
        madvise(reinterpret_cast<void *>(from), to - from, advice);
}

#endif
