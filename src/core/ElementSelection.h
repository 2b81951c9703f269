#ifndef VELMORA_ELEMENTSELECTION_H
#define VELMORA_ELEMENTSELECTION_H

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <vector>

/// A set of the elements of one kind of an object (its points, splats, or a mesh's vertices
/// or faces), by their indices 0 .. size() - 1 in the order of the object's file. An object
/// that draws its elements in another order (a point cloud's level-of-detail hierarchy)
/// selects an element by the index it has in the file, so that a selection means the same
/// whatever order the arrays are in.
///
/// One bit an element and a running count: testing, adding, removing and counting take
/// constant time; ranges, inversion and clearing go 64 elements at a time, so that a
/// selection of 100 million elements takes 12.5 MB and inverts in milliseconds. Indices at
/// or beyond size() are outside the set: they test false, and adding or removing them
/// changes nothing.
class ElementSelection {
public:
    ElementSelection() = default;
    /// n elements, none selected.
    explicit ElementSelection(size_t elements) { resize(elements); }
    /// n elements, element i selected when bit i % 64 of words[i / 64] is set (words holds
    /// (n + 63) / 64 of them; bits beyond n are ignored).
    static ElementSelection fromWords(std::vector<uint64_t> words, size_t elements);

    size_t size() const { return n; }
    /// The number of selected elements.
    size_t count() const { return selected; }
    bool empty() const { return selected == 0; }

    /// n elements: those kept keep their state, new ones are not selected.
    void resize(size_t elements);
    /// The bits of elements 64 w .. 64 w + 63 (w < (size() + 63) / 64), element 64 w + b
    /// selected when bit b is set; none beyond size().
    uint64_t word(size_t w) const { return words[w]; }
    bool contains(size_t i) const { return i < n && (words[i / 64] >> (i % 64) & 1u) != 0; }
    void add(size_t i);
    void remove(size_t i);
    /// Adds elements first .. last - 1 (as far as there are elements).
    void addRange(size_t first, size_t last);
    /// Every element selected becomes unselected and every other one selected.
    void invert();
    /// Nothing selected; the size stays.
    void clear();
    /// Adds, or removes, every element `other` holds (within this size), 64 at a time.
    void addAll(const ElementSelection &other);
    void removeAll(const ElementSelection &other);

    /// The first selected index at or after i; size() when there is none.
    size_t next(size_t i) const;
    /// The selected index reached from i on once `skip` selected ones are passed (next(i) for
    /// 0); size() when there is none. Whole words are passed by counting their bits.
    size_t nextAfterSkipping(size_t i, size_t skip) const;
    /// The number of selected indices below i.
    size_t countBelow(size_t i) const;

    /// The selected indices in increasing order (`for (size_t i : selection)`).
    class Iterator {
    public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = size_t;
        using difference_type = std::ptrdiff_t;
        using pointer = const size_t *;
        using reference = size_t;

        Iterator(const ElementSelection &s, size_t at) : set(&s), index(at) {}
        size_t operator*() const { return index; }
        Iterator &operator++()
        {
            index = set->next(index + 1);
            return *this;
        }
        bool operator==(const Iterator &o) const { return index == o.index; }
        bool operator!=(const Iterator &o) const { return index != o.index; }

    private:
        const ElementSelection *set;
        size_t index;
    };
    Iterator begin() const { return Iterator(*this, next(0)); }
    Iterator end() const { return Iterator(*this, n); }

private:
    /// Clears the bits of the last word beyond the size, which invert() sets.
    void trimLastWord();

    std::vector<uint64_t> words;
    size_t n = 0;
    size_t selected = 0;
};

#endif
