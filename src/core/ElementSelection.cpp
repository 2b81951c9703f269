#include "core/ElementSelection.h"

#include <algorithm>

namespace {

size_t bitsIn(uint64_t w) { return static_cast<size_t>(__builtin_popcountll(w)); }

// Bits from..to-1 of a word (0 <= from < to <= 64).
uint64_t bitRange(size_t from, size_t to)
{
    const uint64_t upTo = to == 64 ? ~uint64_t(0) : (uint64_t(1) << to) - 1;
    return upTo & ~((uint64_t(1) << from) - 1);
}

} // namespace

ElementSelection ElementSelection::fromWords(std::vector<uint64_t> bits, size_t elements)
{
    ElementSelection s;
    s.n = elements;
    s.words = std::move(bits);
    s.words.resize((elements + 63) / 64, 0);
    s.trimLastWord();
    for (uint64_t w : s.words)
        s.selected += bitsIn(w);
    return s;
}

void ElementSelection::resize(size_t elements)
{
    if (elements < n) {
        // The elements that go take their selection with them.
        n = elements;
        words.resize((n + 63) / 64);
        trimLastWord();
        selected = 0;
        for (uint64_t w : words)
            selected += bitsIn(w);
        return;
    }
    n = elements;
    words.resize((n + 63) / 64, 0);
}

void ElementSelection::add(size_t i)
{
    if (i >= n)
        return;
    uint64_t &w = words[i / 64];
    const uint64_t bit = uint64_t(1) << (i % 64);
    selected += (w & bit) == 0;
    w |= bit;
}

void ElementSelection::remove(size_t i)
{
    if (i >= n)
        return;
    uint64_t &w = words[i / 64];
    const uint64_t bit = uint64_t(1) << (i % 64);
    selected -= (w & bit) != 0;
    w &= ~bit;
}

void ElementSelection::addRange(size_t first, size_t last)
{
    last = std::min(last, n);
    while (first < last) {
        const size_t word = first / 64, from = first % 64;
        const size_t to = std::min<size_t>(64, from + (last - first));
        uint64_t &w = words[word];
        const uint64_t bits = bitRange(from, to);
        selected += bitsIn(bits & ~w);
        w |= bits;
        first += to - from;
    }
}

void ElementSelection::invert()
{
    for (uint64_t &w : words)
        w = ~w;
    trimLastWord();
    selected = n - selected;
}

void ElementSelection::clear()
{
    std::fill(words.begin(), words.end(), 0);
    selected = 0;
}

size_t ElementSelection::next(size_t i) const
{
    if (i >= n)
        return n;
    size_t word = i / 64;
    uint64_t w = words[word] & ~((uint64_t(1) << (i % 64)) - 1);
    while (w == 0) {
        if (++word == words.size())
            return n;
        w = words[word];
    }
    return 64 * word + static_cast<size_t>(__builtin_ctzll(w));
}

size_t ElementSelection::nextAfterSkipping(size_t i, size_t skip) const
{
    if (i >= n)
        return n;
    size_t word = i / 64;
    uint64_t w = words[word] & ~((uint64_t(1) << (i % 64)) - 1);
    for (;;) {
        const size_t here = bitsIn(w);
        if (skip < here) {
            for (; skip > 0; --skip)
                w &= w - 1;
            return 64 * word + static_cast<size_t>(__builtin_ctzll(w));
        }
        skip -= here;
        if (++word == words.size())
            return n;
        w = words[word];
    }
}

size_t ElementSelection::countBelow(size_t i) const
{
    i = std::min(i, n);
    size_t below = 0;
    for (size_t w = 0; w < i / 64; ++w)
        below += bitsIn(words[w]);
    if (i % 64 != 0)
        below += bitsIn(words[i / 64] & bitRange(0, i % 64));
    return below;
}

void ElementSelection::trimLastWord()
{
    if (n % 64 != 0)
        words.back() &= bitRange(0, n % 64);
}

void ElementSelection::addAll(const ElementSelection &other)
{
    const size_t k = std::min(words.size(), other.words.size());
    for (size_t w = 0; w < k; ++w) {
        uint64_t added = other.words[w] & ~words[w];
        // A larger set's bits beyond this size stay out.
        if (w + 1 == words.size() && n % 64 != 0)
            added &= bitRange(0, n % 64);
        words[w] |= added;
        selected += static_cast<size_t>(__builtin_popcountll(added));
    }
}

void ElementSelection::removeAll(const ElementSelection &other)
{
    const size_t k = std::min(words.size(), other.words.size());
    for (size_t w = 0; w < k; ++w) {
        const uint64_t gone = other.words[w] & words[w];
        words[w] &= ~gone;
        selected -= static_cast<size_t>(__builtin_popcountll(gone));
    }
}
