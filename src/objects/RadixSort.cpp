#include "objects/RadixSort.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>
#include <utility>

namespace {

struct FloatKeys {
    const float *keys;
    uint32_t bits(unsigned i) const
    {
        uint32_t u;
        std::memcpy(&u, keys + i, sizeof u);
        return u;
    }
    bool less(unsigned a, unsigned b) const { return keys[a] < keys[b]; }
};

struct UnsignedKeys {
    const unsigned *keys;
    uint32_t bits(unsigned i) const { return keys[i]; }
    bool less(unsigned a, unsigned b) const { return keys[a] < keys[b]; }
};

struct SignedKeys {
    const unsigned *keys;
    uint32_t bits(unsigned i) const { return keys[i]; }
    bool less(unsigned a, unsigned b) const
    {
        return static_cast<int32_t>(keys[a]) < static_cast<int32_t>(keys[b]);
    }
};

// Negative floats come out of the sign pass in reverse order of their bit patterns, which is
// ascending by value but also reverses every run of equal keys. Turning those runs back
// keeps the sort stable for negative keys as it is for the others.
template <class Keys> void restoreNegativeTies(const Keys &keys, unsigned *ranks, unsigned nNegative)
{
    unsigned i = 0;
    while (i < nNegative) {
        const uint32_t key = keys.bits(ranks[i]);
        unsigned end = i + 1;
        while (end < nNegative && keys.bits(ranks[end]) == key)
            ++end;
        if (end - i > 1)
            std::reverse(ranks + i, ranks + end);
        i = end;
    }
}

} // namespace

RadixSort::RadixSort() : capacity(0), previousSize(0), totalCalls(0), hits(0) {}

bool RadixSort::Resize(unsigned n)
{
    // Left uninitialised: ResetIndices() fills the ranks, and every pass writes ranks2 before
    // it reads it.
    ranks.reset();
    ranks2.reset();
    ranks.reset(new (std::nothrow) unsigned[n]);
    ranks2.reset(new (std::nothrow) unsigned[n]);
    if (ranks == nullptr || ranks2 == nullptr) {
        ranks.reset();
        ranks2.reset();
        capacity = 0;
        previousSize = 0;
        return false;
    }
    capacity = n;
    ResetIndices();
    return true;
}

void RadixSort::ResetIndices()
{
    for (unsigned i = 0; i < capacity; ++i)
        ranks[i] = i;
}

unsigned long RadixSort::GetUsedRam() const
{
    return sizeof(RadixSort) + 2ul * sizeof(unsigned) * capacity;
}

bool RadixSort::prepare(unsigned n)
{
    if (n != previousSize) {
        if (n > capacity) {
            if (!Resize(n))
                return false;
        } else {
            ResetIndices();
        }
        previousSize = n;
    }
    ++totalCalls;
    return true;
}

RadixSort &RadixSort::Sort(const float *keys, unsigned n)
{
    if (keys == nullptr || n == 0)
        return *this;
    return sortKeys(FloatKeys{keys}, n, TopByte::FloatSign);
}

RadixSort &RadixSort::Sort(const unsigned int *keys, unsigned n, bool signedValues)
{
    if (keys == nullptr || n == 0)
        return *this;
    if (signedValues)
        return sortKeys(SignedKeys{keys}, n, TopByte::TwosComplement);
    return sortKeys(UnsignedKeys{keys}, n, TopByte::Plain);
}

template <class Keys> RadixSort &RadixSort::sortKeys(const Keys &keys, unsigned n, TopByte top)
{
    if (!prepare(n))
        return *this;

    // One pass in the current order builds the four byte histograms and finds out whether
    // the keys are already in order, the usual case when a view has not moved.
    unsigned counts[4][256] = {};
    bool sorted = true;
    unsigned previous = ranks[0];
    for (unsigned i = 0; i < n; ++i) {
        const unsigned index = ranks[i];
        const uint32_t u = keys.bits(index);
        ++counts[0][u & 0xff];
        ++counts[1][(u >> 8) & 0xff];
        ++counts[2][(u >> 16) & 0xff];
        ++counts[3][u >> 24];
        if (sorted && keys.less(index, previous))
            sorted = false;
        previous = index;
    }
    if (sorted) {
        ++hits;
        return *this;
    }

    unsigned nNegative = 0;
    for (unsigned b = 128; b < 256; ++b)
        nNegative += counts[3][b];

    const uint32_t first = keys.bits(0);
    unsigned offsets[256];
    for (unsigned pass = 0; pass < 4; ++pass) {
        const unsigned shift = 8 * pass;
        const unsigned *count = counts[pass];
        const bool signPass = pass == 3 && top != TopByte::Plain;

        if (count[(first >> shift) & 0xff] == n) {
            // One byte value for all keys: the pass would not move anything, except that a
            // set of only negative floats must be turned round.
            if (signPass && top == TopByte::FloatSign && (first >> 31) != 0) {
                std::reverse(ranks.get(), ranks.get() + n);
                restoreNegativeTies(keys, ranks.get(), n);
            }
            continue;
        }

        if (!signPass) {
            offsets[0] = 0;
            for (unsigned b = 1; b < 256; ++b)
                offsets[b] = offsets[b - 1] + count[b - 1];
        } else if (top == TopByte::TwosComplement) {
            // Negative integers first, in the order of their patterns.
            offsets[128] = 0;
            for (unsigned b = 129; b < 256; ++b)
                offsets[b] = offsets[b - 1] + count[b - 1];
            offsets[0] = nNegative;
            for (unsigned b = 1; b < 128; ++b)
                offsets[b] = offsets[b - 1] + count[b - 1];
        } else {
            // Floats: positive keys after the negative ones; negative keys from the most
            // negative top byte (255) down, each filled from the end of its range so that
            // larger patterns (smaller values) come first.
            offsets[0] = nNegative;
            for (unsigned b = 1; b < 128; ++b)
                offsets[b] = offsets[b - 1] + count[b - 1];
            offsets[255] = 0;
            for (unsigned b = 254; b >= 128; --b)
                offsets[b] = offsets[b + 1] + count[b + 1];
            for (unsigned b = 128; b < 256; ++b)
                offsets[b] += count[b];
        }

        if (signPass && top == TopByte::FloatSign) {
            for (unsigned i = 0; i < n; ++i) {
                const unsigned index = ranks[i];
                const unsigned b = keys.bits(index) >> 24;
                if (b < 128)
                    ranks2[offsets[b]++] = index;
                else
                    ranks2[--offsets[b]] = index;
            }
        } else {
            for (unsigned i = 0; i < n; ++i) {
                const unsigned index = ranks[i];
                ranks2[offsets[(keys.bits(index) >> shift) & 0xff]++] = index;
            }
        }
        std::swap(ranks, ranks2);

        if (signPass && top == TopByte::FloatSign)
            restoreNegativeTies(keys, ranks.get(), nNegative);
    }
    return *this;
}
