// Depth-sorting cost of translucent meshes: the radix sort's permutation against a
// comparison sort of (key, index) pairs over the same one million random depths.
#include "objects/RadixSort.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>
#include <utility>
#include <vector>

namespace {

const unsigned kKeys = 1000000;

const std::vector<float> &randomDepths()
{
    static const std::vector<float> keys = [] {
        std::mt19937 random(12345);
        std::uniform_real_distribution<float> depth(-1000.0f, 1000.0f);
        std::vector<float> k(kKeys);
        for (float &d : k)
            d = depth(random);
        return k;
    }();
    return keys;
}

// A new sorter every iteration, as a mesh creates one per frame: its ranks start from the
// identity, so the already-in-order exit cannot shortcut the unsorted input.
void RadixSortFresh(benchmark::State &state)
{
    const std::vector<float> &keys = randomDepths();
    unsigned hits = 0;
    for (auto _ : state) {
        RadixSort sorter;
        sorter.Sort(keys.data(), kKeys);
        benchmark::DoNotOptimize(sorter.GetRanks());
        benchmark::ClobberMemory();
        hits += sorter.GetHits();
    }
    if (hits != 0)
        state.SkipWithError("the already-in-order exit was taken");
    state.SetItemsProcessed(state.iterations() * kKeys);
}

// One sorter whose ranks are put back to the identity before each sort: the sorting work
// alone, without the allocation and first touch of two fresh 4 MB index arrays.
void RadixSortResetRanks(benchmark::State &state)
{
    const std::vector<float> &keys = randomDepths();
    RadixSort sorter;
    sorter.Resize(kKeys);
    for (auto _ : state) {
        sorter.ResetIndices();
        sorter.Sort(keys.data(), kKeys);
        benchmark::DoNotOptimize(sorter.GetRanks());
        benchmark::ClobberMemory();
    }
    if (sorter.GetHits() != 0)
        state.SkipWithError("the already-in-order exit was taken");
    state.SetItemsProcessed(state.iterations() * kKeys);
}

// The same result through std::sort: pairs rebuilt from the unsorted keys each iteration.
void StdSortPairs(benchmark::State &state)
{
    const std::vector<float> &keys = randomDepths();
    std::vector<std::pair<float, unsigned>> pairs(kKeys);
    for (auto _ : state) {
        for (unsigned i = 0; i < kKeys; ++i)
            pairs[i] = {keys[i], i};
        std::sort(pairs.begin(), pairs.end());
        benchmark::DoNotOptimize(pairs.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kKeys);
}

// For reference only: a sorter kept across frames of an unchanged view costs one check pass.
void RadixSortUnchangedView(benchmark::State &state)
{
    const std::vector<float> &keys = randomDepths();
    RadixSort sorter;
    sorter.Sort(keys.data(), kKeys);
    for (auto _ : state) {
        sorter.Sort(keys.data(), kKeys);
        benchmark::DoNotOptimize(sorter.GetRanks());
    }
    state.SetItemsProcessed(state.iterations() * kKeys);
}

} // namespace

BENCHMARK(RadixSortFresh)->Unit(benchmark::kMillisecond);
BENCHMARK(RadixSortResetRanks)->Unit(benchmark::kMillisecond);
BENCHMARK(StdSortPairs)->Unit(benchmark::kMillisecond);
BENCHMARK(RadixSortUnchangedView)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
