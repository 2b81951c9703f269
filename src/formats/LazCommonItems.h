#ifndef VELMORA_LAZCOMMONITEMS_H
#define VELMORA_LAZCOMMONITEMS_H

#include <cstddef>
#include <memory>
#include <vector>

/// Calls `run` with the items of a chunk as their own types when they are one of the common
/// lists: the point item `Point` alone, or followed by a `Second`, a `Third` or both in that
/// order. Returns what `run` returns, or `none` for any other list. For the point decoders
/// that inline each item's step in one loop over the points.
template <class Point, class Second, class Third, class Item, class Run>
size_t runCommonItems(const std::vector<std::unique_ptr<Item>> &items, size_t none, Run run)
{
    auto *point = dynamic_cast<Point *>(items[0].get());
    auto *second = items.size() > 1 ? dynamic_cast<Second *>(items[1].get()) : nullptr;
    auto *third = items.size() > 1 ? dynamic_cast<Third *>(items.back().get()) : nullptr;
    if (!point)
        return none;
    switch (items.size()) {
    case 1: return run(*point);
    case 2:
        if (second)
            return run(*point, *second);
        return third ? run(*point, *third) : none;
    case 3: return second && third ? run(*point, *second, *third) : none;
    default: return none;
    }
}

#endif
