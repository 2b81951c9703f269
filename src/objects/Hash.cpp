#include "objects/Hash.h"

#include "math/Messages.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <stdexcept>

namespace {
const int kEmpty = -1;
const int kNoFreeEntry = -2;
} // namespace

Hash::Hash() : nBuckets(0), overflowCapacity(0), nOverflow(0), nElements(0), freeList(kNoFreeEntry) {}

Hash::Hash(int n) : Hash()
{
    n = std::max(n, 0);
    if (n > INT_MAX / 2)
        throw std::length_error("Hash: too many buckets");
    nBuckets = n;
    overflowCapacity = n;
    entries.resize(2 * static_cast<size_t>(n));
    clear();
}

void Hash::clear()
{
    nOverflow = 0;
    nElements = 0;
    std::fill(entries.begin(), entries.end(), Entry{kEmpty, kEmpty, kEmpty});
    freeList = kNoFreeEntry;
}

int Hash::newOverflowEntry()
{
    // Entries released by del are taken first, so that a table whose keys come and go
    // keeps its size instead of growing with every add.
    if (freeList >= 0) {
        const int index = freeList;
        freeList = entries[index].next;
        return index;
    }
    if (nOverflow >= overflowCapacity) {
        const int step = std::max(nBuckets / 8, 1);
        if (overflowCapacity > INT_MAX - nBuckets - step)
            throw std::length_error("Hash: overflow area too large");
        overflowCapacity += step;
        entries.resize(static_cast<size_t>(nBuckets) + overflowCapacity, Entry{kEmpty, kEmpty, kEmpty});
    }
    return nBuckets + nOverflow++;
}

int Hash::add(int bucket, int key)
{
    if (!validBucket(bucket) || key == kEmpty)
        return -1;
    if (entries[bucket].key == kEmpty) {
        entries[bucket] = Entry{key, nElements++, kEmpty};
        return -1;
    }
    int last = bucket;
    for (;;) {
        if (entries[last].key == key)
            return entries[last].value;
        if (entries[last].next == kEmpty)
            break;
        last = entries[last].next;
    }
    const int index = newOverflowEntry();
    entries[last].next = index;
    entries[index] = Entry{key, nElements++, kEmpty};
    return -1;
}

int Hash::addE(int bucket, int key)
{
    return add(bucket, key);
}

int Hash::get(int bucket, int key) const
{
    if (!validBucket(bucket) || key == kEmpty)
        return -1;
    for (int i = bucket; i != kEmpty && entries[i].key != kEmpty; i = entries[i].next)
        if (entries[i].key == key)
            return entries[i].value;
    return -1;
}

void Hash::del(int bucket, int key)
{
    if (!validBucket(bucket))
        return;
    // Printed as the wrapped 32-bit difference, never an overflowing subtraction.
    const int difference = static_cast<int>(static_cast<unsigned>(bucket) - static_cast<unsigned>(key));
    if (entries[bucket].key == kEmpty) {
        msg::warning("Element doesn't exist\n");
        msg::warning("1,%d %d\n", difference, key);
        return;
    }
    int found = bucket;
    int previous = kEmpty;
    while (found != kEmpty && entries[found].key != key) {
        previous = found;
        found = entries[found].next;
    }
    if (found == kEmpty) {
        msg::warning("Element doesn't exist\n");
        msg::warning("2,%d %d\n", difference, key);
        return;
    }

    // The chain must stay contiguous from its bucket head, so the entry that disappears is
    // always the last one; a key found earlier is overwritten by the last key, which takes
    // its value along.
    int removed = found;
    if (entries[found].next != kEmpty) {
        previous = found;
        removed = entries[found].next;
        while (entries[removed].next != kEmpty) {
            previous = removed;
            removed = entries[removed].next;
        }
        entries[found].key = entries[removed].key;
        entries[found].value = entries[removed].value;
    }
    if (previous != kEmpty)
        entries[previous].next = kEmpty;
    if (removed >= nBuckets) {
        entries[removed] = Entry{kEmpty, kEmpty, freeList};
        freeList = removed;
    } else {
        entries[removed] = Entry{kEmpty, kEmpty, kEmpty};
    }
}
