#ifndef VELMORA_NAMEDVALUES_H
#define VELMORA_NAMEDVALUES_H

#include <cstddef>
#include <string>

/// A word of a file's text and the value it stands for: a row of the tables readers look up
/// the keywords of a header in.
template <class T> struct NamedValue {
    const char *name;
    T value;
};

/// Sets `value` to what `word` names in `table` (exact, case and all); false, and `value`
/// untouched, when no row names it.
template <class T, size_t N> bool findNamed(const NamedValue<T> (&table)[N], const std::string &word, T &value)
{
    for (const NamedValue<T> &row : table)
        if (word == row.name) {
            value = row.value;
            return true;
        }
    return false;
}

#endif
