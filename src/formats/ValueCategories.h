#ifndef VELMORA_VALUECATEGORIES_H
#define VELMORA_VALUECATEGORIES_H

#include <cstddef>
#include <string>
#include <vector>

/// Whether the values of a data item are categories rather than measures: a class, a return
/// number, any item of whole numbers that takes few values. Categories get a legend of one
/// colour per value present, not a ramp with fractional ticks.
struct ValueCategories {
    /// At most this many distinct values make an unnamed item of whole numbers categorical.
    static constexpr size_t kFewValues = 16;
    /// An item named as a category (see isCategoryName) may take up to this many.
    static constexpr size_t kNamedValues = 256;

    /// "classification", "return number", "number of returns", "SH degree" and the like
    /// (case and spaces or underscores aside).
    static bool isCategoryName(const std::string &name);

    /// An item's name as names are compared: lower case without spaces, dashes and
    /// underscores ("Return Number", "return_number" and "ReturnNumber" are one).
    static std::string foldedName(const std::string &name);

    /// The distinct values of v[0..n) in increasing order when every value that is not NaN is
    /// a whole number and there are at most `limit` of them; false otherwise (and for no
    /// value at all). Stops at the first value that rules the item out.
    static bool distinctWholeValues(const float *v, size_t n, size_t limit, std::vector<int> &values);

    /// The categories of the item named `name`: distinctWholeValues with the limit its name
    /// gives it.
    static bool of(const std::string &name, const float *v, size_t n, std::vector<int> &values);

    /// The label of `value` in the legend of the item `name`: the number, and for a LAS
    /// classification the ASPRS class name ("2 ground").
    static std::string label(const std::string &name, int value);

    /// The ASPRS name of LAS classification `value` (0 to 18; "reserved" up to 63, "user
    /// defined" above).
    static const char *asprsClassName(int value);
};

#endif
