#include "formats/ValueCategories.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <set>

std::string ValueCategories::foldedName(const std::string &name)
{
    std::string out;
    for (char c : name)
        if (c != ' ' && c != '_' && c != '-')
            out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

bool ValueCategories::isCategoryName(const std::string &name)
{
    const std::string f = foldedName(name);
    for (const char *known : {"classification", "class", "label", "returnnumber", "numberofreturns", "shdegree",
                              "degree", "segment", "instance"})
        if (f == known)
            return true;
    return false;
}

bool ValueCategories::distinctWholeValues(const float *v, size_t n, size_t limit, std::vector<int> &values)
{
    values.clear();
    if (!v)
        return false;
    // A set of at most `limit` entries: each value is looked up in a few steps.
    std::set<int> seen;
    for (size_t i = 0; i < n; ++i) {
        const float x = v[i];
        if (std::isnan(x))
            continue;
        if (!(std::fabs(x) < 1e9f) || x != std::floor(x))
            return false;
        if (seen.insert(static_cast<int>(x)).second && seen.size() > limit)
            return false;
    }
    values.assign(seen.begin(), seen.end());
    return !values.empty();
}

bool ValueCategories::of(const std::string &name, const float *v, size_t n, std::vector<int> &values)
{
    return distinctWholeValues(v, n, isCategoryName(name) ? kNamedValues : kFewValues, values);
}

const char *ValueCategories::asprsClassName(int value)
{
    // The standard classes of LAS 1.4 (point formats 6 to 10; 0 to 12 hold for the older ones).
    static const char *const names[] = {"created, never classified",
                                        "unclassified",
                                        "ground",
                                        "low vegetation",
                                        "medium vegetation",
                                        "high vegetation",
                                        "building",
                                        "low point (noise)",
                                        "model key-point",
                                        "water",
                                        "rail",
                                        "road surface",
                                        "overlap",
                                        "wire guard",
                                        "wire conductor",
                                        "transmission tower",
                                        "wire-structure connector",
                                        "bridge deck",
                                        "high noise"};
    if (value >= 0 && value < static_cast<int>(sizeof names / sizeof names[0]))
        return names[value];
    return value >= 0 && value < 64 ? "reserved" : "user defined";
}

std::string ValueCategories::label(const std::string &name, int value)
{
    std::string text = std::to_string(value);
    if (foldedName(name) == "classification")
        text += std::string(" ") + asprsClassName(value);
    return text;
}
