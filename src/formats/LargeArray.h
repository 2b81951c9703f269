#ifndef VELMORA_LARGEARRAY_H
#define VELMORA_LARGEARRAY_H

#include <cstddef>
#include <cstdlib>
#include <memory>
#include <new>
#include <sys/mman.h>

/// Arrays of mesh size (vertices, triangles, normals, file text): uninitialised storage
/// that, from a few megabytes on, is laid out in 2 MiB pages where the system offers them.
/// Touching the memory of a freshly read mesh the first time otherwise costs one page
/// fault per 4 KiB, which on virtual machines can take longer than reading the file.
struct LargeArrayFree {
    void operator()(void *p) const { std::free(p); }
};

template <class T>
using LargeArray = std::unique_ptr<T[], LargeArrayFree>;

/// Room for n items of T, not initialised; raises std::bad_alloc when there is none.
template <class T>
LargeArray<T> allocateLargeArray(size_t n)
{
    constexpr size_t kHugePage = size_t(2) << 20;
    const size_t bytes = n > 0 ? n * sizeof(T) : 1;
    void *p = nullptr;
    if (bytes >= 4 * kHugePage) {
        const size_t rounded = (bytes + kHugePage - 1) / kHugePage * kHugePage;
        p = std::aligned_alloc(kHugePage, rounded);
        // Only advice: without huge pages the array simply uses ordinary ones.
        if (p)
            madvise(p, rounded, MADV_HUGEPAGE);
    } else {
        p = std::malloc(bytes);
    }
    if (!p)
        throw std::bad_alloc();
    return LargeArray<T>(static_cast<T *>(p));
}

#endif
