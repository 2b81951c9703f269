#ifndef VELMORA_RADIXSORT_H
#define VELMORA_RADIXSORT_H

#include "math/NonCopyable.h"

#include <memory>

/// Byte-wise radix sort that computes a permutation (the ranks) instead of moving keys.
///
/// `Sort` leaves in `GetRanks()` the indices of the keys in ascending order: keys[ranks[0]]
/// is the smallest. The order is stable: equal keys keep the order they had in the ranks
/// the call started from, which is the index order on a fresh object. Floats are ordered by
/// value; when the keys have to be sorted, -0.0 comes before +0.0 (their bit patterns
/// differ), while keys already in order by value are left as they are.
///
/// Temporal coherence: when a call sorts as many keys as the previous one, it starts from
/// the previous permutation, and if the keys are already in order through it, it returns
/// at once (counted in `GetHits()`). Depth-sorting the same mesh frame after frame thus
/// costs one pass while the view does not change.
///
/// A call costs one histogram pass and up to four scatter passes, each skipped when all
/// keys share the byte it would sort by. Memory: two index arrays of `capacity` entries.
class RadixSort : NonCopyable
{
  public:
    RadixSort();

    /// Sorts `n` floats. A null array or n = 0 changes nothing.
    RadixSort &Sort(const float *keys, unsigned n);
    /// Sorts `n` 32-bit integers, as two's-complement numbers when `signedValues` is set.
    RadixSort &Sort(const unsigned int *keys, unsigned n, bool signedValues);

    /// The permutation of the last sort, `n` entries; null when nothing was ever sorted or
    /// when the index arrays could not be allocated.
    const unsigned *GetRanks() const { return ranks.get(); }

    /// Releases and reallocates both arrays for `n` entries and resets the ranks to the
    /// identity. Returns false (and leaves no arrays) when allocation fails.
    bool Resize(unsigned n);
    /// ranks[i] := i for every i below the capacity.
    void ResetIndices();

    /// Bytes used by the object and its two index arrays.
    unsigned long GetUsedRam() const;
    unsigned GetTotalCalls() const { return totalCalls; }
    unsigned GetHits() const { return hits; }

  private:
    // How the top byte of a key is ordered.
    enum class TopByte { Plain, TwosComplement, FloatSign };

    // The sort proper; `Keys` gives each key's 32-bit pattern and its order (defined and
    // instantiated in the source file only).
    template <class Keys> RadixSort &sortKeys(const Keys &keys, unsigned n, TopByte top);
    bool prepare(unsigned n);

    std::unique_ptr<unsigned[]> ranks;
    std::unique_ptr<unsigned[]> ranks2;
    unsigned capacity;
    unsigned previousSize;
    unsigned totalCalls;
    unsigned hits;
};

#endif
