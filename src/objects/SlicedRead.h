#ifndef VELMORA_OBJECTS_SLICEDREAD_H
#define VELMORA_OBJECTS_SLICEDREAD_H

#include "objects/ByteOrder.h"
#include "objects/LargeArray.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <vector>
#include <utility>

/// Items per read call: one call never takes more than an unsigned count.
constexpr size_t kSliceItems = size_t(1) << 22;

/// `count` items of T into a new array; with an unknown input size (a download) the array
/// grows slice by slice with what arrives, so that a lying count costs no memory. False when
/// the input ends first.
template <class T>
bool readArray(ReadFunction reader, FILE *f, size_t count, bool sizeKnown, LargeArray<T> &out)
{
    std::vector<T> grown;
    LargeArray<T> a;
    if (sizeKnown)
        a = allocateLargeArray<T>(count);
    for (size_t done = 0; done < count;) {
        // Without a known size, slices start small and double, so that a count larger than
        // what arrives costs at most twice the memory of what did.
        const size_t slice = sizeKnown ? kSliceItems : std::min(kSliceItems, std::max<size_t>(4096, done));
        const size_t chunk = std::min(slice, count - done);
        T *to = a.get() + done;
        if (!sizeKnown) {
            grown.resize(done + chunk);
            to = grown.data() + done;
        }
        if (reader(to, sizeof(T), static_cast<unsigned>(chunk), f) != chunk)
            return false;
        done += chunk;
    }
    if (!sizeKnown) {
        a = allocateLargeArray<T>(count);
        std::copy(grown.begin(), grown.end(), a.get());
    }
    out = std::move(a);
    return true;
}

#endif
