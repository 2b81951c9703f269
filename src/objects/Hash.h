#ifndef VELMORA_HASH_H
#define VELMORA_HASH_H

#include <vector>

/// Chained hash table of integer keys with caller-chosen buckets: each key receives a
/// value, the number of keys added before it, so values are dense indices 0, 1, 2, ...
/// The simplicial mesh uses it to number shared edges (bucket from one vertex of an edge,
/// key from the other).
///
/// The first `nBuckets` entries are the bucket heads; chains continue in an overflow area
/// that grows whenever it is full. Bucket indices must lie in 0..nBuckets-1: others are
/// refused (add and get return -1, del does nothing). The key -1 marks empty entries and
/// cannot be stored.
class Hash
{
  public:
    /// No storage: every bucket index is out of range.
    Hash();
    /// `n` buckets and as many initial overflow entries (a negative n counts as 0).
    explicit Hash(int n);

    /// Forgets every key; values start from 0 again.
    void clear();

    /// The value of `key` in `bucket` if it is there; otherwise stores it with the next
    /// value and returns -1.
    int add(int bucket, int key);
    int addE(int bucket, int key);
    /// The value of `key` in `bucket`, or -1.
    int get(int bucket, int key) const;
    /// Removes `key` from `bucket`, printing a diagnostic when it is not there. The other
    /// keys keep their values, and values are never handed out twice.
    void del(int bucket, int key);
    /// Number of values handed out since the last clear (del does not lower it, so that
    /// the next value stays unique).
    int getNElements() const { return nElements; }

    int getNBuckets() const { return nBuckets; }
    /// Size of the overflow area; it grows by nBuckets / 8 entries (at least 1) when full.
    int getOverflowCapacity() const { return overflowCapacity; }

  private:
    struct Entry {
        int key;
        int value;
        int next;
    };

    bool validBucket(int bucket) const { return bucket >= 0 && bucket < nBuckets; }
    int newOverflowEntry();

    int nBuckets;
    int overflowCapacity;
    int nOverflow; // overflow entries ever taken from the area (not from the free list)
    int nElements;
    int freeList; // head of the released overflow entries, -2 when there is none
    std::vector<Entry> entries;
};

#endif
