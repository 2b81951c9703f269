#ifndef VELMORA_OBJECTS_SLICEDREAD_H
#define VELMORA_OBJECTS_SLICEDREAD_H

#include "formats/ByteOrder.h"
#include "formats/LargeArray.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <vector>
#include <utility>

/// Largest number of items of one read call while the array grows with what arrives.
constexpr size_t kSliceItems = size_t(1) << 22;

/// Bytes of one read call when the size is known: small enough that a slice just read is
/// still in the processor's cache when the caller looks at it.
constexpr size_t kCachedSliceBytes = size_t(384) << 10;

/// `count` items of T straight into a new array; with an unknown input size (a download) the
/// array grows slice by slice with what arrives, so that a lying count costs no memory. False
/// when the input ends first. `visit(const T *items, size_t n)` sees every slice once, in
/// order, right after it was read (with an unknown size, the whole array once at the end);
/// every slice but the last starts at a multiple of 12 items.
template <class T, class Visit>
bool readArray(ReadFunction reader, FILE *f, size_t count, bool sizeKnown, LargeArray<T> &out, Visit visit)
{
    LargeArray<T> a;
    if (sizeKnown) {
        a = allocateLargeArray<T>(count);
        const size_t slice = std::max<size_t>(12, kCachedSliceBytes / sizeof(T) / 12 * 12);
        for (size_t done = 0; done < count;) {
            const size_t chunk = std::min(slice, count - done);
            if (reader(a.get() + done, sizeof(T), static_cast<unsigned>(chunk), f) != chunk)
                return false;
            visit(static_cast<const T *>(a.get() + done), chunk);
            done += chunk;
        }
        out = std::move(a);
        return true;
    }
    std::vector<T> grown;
    for (size_t done = 0; done < count;) {
        // Slices start small and double, so that a count larger than what arrives costs at
        // most twice the memory of what did.
        const size_t chunk = std::min(std::min(kSliceItems, std::max<size_t>(4096, done)), count - done);
        grown.resize(done + chunk);
        if (reader(grown.data() + done, sizeof(T), static_cast<unsigned>(chunk), f) != chunk)
            return false;
        done += chunk;
    }
    a = allocateLargeArray<T>(count);
    std::copy(grown.begin(), grown.end(), a.get());
    visit(static_cast<const T *>(a.get()), count);
    out = std::move(a);
    return true;
}

/// As above, without looking at the items.
template <class T>
bool readArray(ReadFunction reader, FILE *f, size_t count, bool sizeKnown, LargeArray<T> &out)
{
    return readArray(reader, f, count, sizeKnown, out, [](const T *, size_t) {});
}

#endif
