#include "objects/RadixSort.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numeric>
#include <random>
#include <vector>

namespace {

typedef std::vector<unsigned> Ranks;

Ranks ranksOf(const RadixSort &sorter, size_t n)
{
    const unsigned *r = sorter.GetRanks();
    return r == nullptr ? Ranks() : Ranks(r, r + n);
}

// The stable ascending order, with -0.0 before +0.0 as their bit patterns order them.
Ranks referenceOrder(const std::vector<float> &keys)
{
    Ranks order(keys.size());
    std::iota(order.begin(), order.end(), 0u);
    std::stable_sort(order.begin(), order.end(), [&keys](unsigned a, unsigned b) {
        if (keys[a] != keys[b])
            return keys[a] < keys[b];
        return std::signbit(keys[a]) && !std::signbit(keys[b]);
    });
    return order;
}

template <class Int> Ranks referenceOrder(const std::vector<unsigned> &keys)
{
    Ranks order(keys.size());
    std::iota(order.begin(), order.end(), 0u);
    std::stable_sort(order.begin(), order.end(), [&keys](unsigned a, unsigned b) {
        return static_cast<Int>(keys[a]) < static_cast<Int>(keys[b]);
    });
    return order;
}

// Random floats of every kind a depth sort may meet: ordinary values, repeated ones,
// signed zeros, infinities, huge and subnormal magnitudes.
std::vector<float> mixedFloats(size_t n, unsigned seed)
{
    std::mt19937 random(seed);
    const float specials[] = {0.0f,
                              -0.0f,
                              1e38f,
                              -1e38f,
                              FLT_MAX,
                              -FLT_MAX,
                              FLT_MIN,
                              -FLT_MIN,
                              1e-40f,
                              -1e-40f,
                              std::numeric_limits<float>::infinity(),
                              -std::numeric_limits<float>::infinity()};
    std::normal_distribution<float> normal(0.0f, 100.0f);
    std::vector<float> pool(16);
    for (float &p : pool)
        p = normal(random);
    std::vector<float> keys(n);
    for (float &k : keys) {
        switch (random() % 4) {
        case 0:
            k = specials[random() % (sizeof specials / sizeof specials[0])];
            break;
        case 1:
            k = pool[random() % pool.size()];
            break;
        default:
            k = normal(random);
        }
    }
    return keys;
}

TEST(RadixSort, SmallFloatSetsGiveTheStableAscendingOrder)
{
    const std::vector<std::vector<float>> cases = {
        {3, -1, 2, -5},
        {-1, -3, -2},
        {-1, -1, -1.5f, -1},              // one top byte, all negative, with ties
        {-1, 2, -1, -1, 0.5f, -3, -3, 2}, // ties on both sides of zero
        {0.0f, -0.0f, 1, -0.0f, -1},
        {-2.0f, -2.0000002f, -2.0f, 1e-45f}, // negatives differing only in the low bytes
        {5},
        {7, 7, 7},
    };
    for (const std::vector<float> &keys : cases) {
        RadixSort sorter;
        sorter.Sort(keys.data(), static_cast<unsigned>(keys.size()));
        EXPECT_EQ(ranksOf(sorter, keys.size()), referenceOrder(keys)) << "first key " << keys[0];
    }

    RadixSort sorter;
    EXPECT_EQ(ranksOf(sorter.Sort(std::vector<float>{3, -1, 2, -5}.data(), 4), 4), (Ranks{3, 1, 2, 0}));
    // Signed zeros compare equal, so keys that only alternate them are already in order.
    RadixSort zeros;
    EXPECT_EQ(ranksOf(zeros.Sort(std::vector<float>{0.0f, -0.0f, 0.0f, -0.0f}.data(), 4), 4),
              (Ranks{0, 1, 2, 3}));
    EXPECT_EQ(zeros.GetHits(), 1u);
    RadixSort negative;
    EXPECT_EQ(ranksOf(negative.Sort(std::vector<float>{-1, -3, -2}.data(), 3), 3), (Ranks{1, 2, 0}));
}

TEST(RadixSort, RandomFloatsMatchStableSort)
{
    for (size_t n : {2u, 17u, 256u, 1000u, 100000u}) {
        const std::vector<float> keys = mixedFloats(n, static_cast<unsigned>(n));
        RadixSort sorter;
        sorter.Sort(keys.data(), static_cast<unsigned>(n));
        ASSERT_EQ(ranksOf(sorter, n), referenceOrder(keys)) << n << " keys";
        EXPECT_EQ(sorter.GetHits(), 0u);
    }
}

TEST(RadixSort, AlreadyOrderedKeysReturnAtOnceAndCountAHit)
{
    const std::vector<float> ascending = {-4, -4, -1, 0, 0, 2.5f, 9};
    RadixSort sorter;
    sorter.Sort(ascending.data(), 7);
    EXPECT_EQ(ranksOf(sorter, 7), (Ranks{0, 1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(sorter.GetHits(), 1u);
    EXPECT_EQ(sorter.GetTotalCalls(), 1u);

    // Same number of keys: the next call starts from the previous permutation, so keys that
    // are in order through it are a hit too, without being in index order.
    const std::vector<float> shuffled = {9, -1, 2.5f, -4, 0, 7, 3};
    sorter.Sort(shuffled.data(), 7);
    const Ranks order = ranksOf(sorter, 7);
    EXPECT_EQ(order, referenceOrder(shuffled));
    EXPECT_EQ(sorter.GetHits(), 1u);
    std::vector<float> moved(7);
    for (unsigned i = 0; i < 7; ++i)
        moved[order[i]] = static_cast<float>(i);
    sorter.Sort(moved.data(), 7);
    EXPECT_EQ(ranksOf(sorter, 7), order);
    EXPECT_EQ(sorter.GetHits(), 2u);
    EXPECT_EQ(sorter.GetTotalCalls(), 3u);
}

TEST(RadixSort, ChangingKeyCountsRestartFromTheIdentity)
{
    RadixSort sorter;
    unsigned seed = 1;
    for (size_t n : {1000u, 10u, 5000u, 3u, 5000u - 1, 64u}) {
        const std::vector<float> keys = mixedFloats(n, ++seed);
        sorter.Sort(keys.data(), static_cast<unsigned>(n));
        ASSERT_EQ(ranksOf(sorter, n), referenceOrder(keys)) << n << " keys";
    }
    EXPECT_EQ(sorter.GetTotalCalls(), 6u);
    // The arrays only grow: the largest count decides the memory held.
    RadixSort fresh;
    const unsigned long empty = fresh.GetUsedRam();
    EXPECT_EQ(sorter.GetUsedRam() - empty, 8ul * 5000);
}

TEST(RadixSort, IntegersSortAsSignedOrUnsigned)
{
    std::mt19937 random(3);
    std::vector<unsigned> keys = {0u, 1u, 0x7fffffffu, 0x80000000u, 0xffffffffu, 0xfffffffeu, 5u, 5u};
    for (int i = 0; i < 3000; ++i)
        keys.push_back(i % 3 == 0 ? keys[random() % keys.size()] : static_cast<unsigned>(random()));
    const unsigned n = static_cast<unsigned>(keys.size());

    RadixSort asUnsigned;
    asUnsigned.Sort(keys.data(), n, false);
    EXPECT_EQ(ranksOf(asUnsigned, n), referenceOrder<uint32_t>(keys));
    RadixSort asSigned;
    asSigned.Sort(keys.data(), n, true);
    EXPECT_EQ(ranksOf(asSigned, n), referenceOrder<int32_t>(keys));

    // Negative integers already sort by their patterns: a set sharing one negative top
    // byte must not be turned round as negative floats are.
    const std::vector<unsigned> negatives = {static_cast<unsigned>(-5), static_cast<unsigned>(-3),
                                             static_cast<unsigned>(-4), static_cast<unsigned>(-5)};
    RadixSort small;
    small.Sort(negatives.data(), 4, true);
    EXPECT_EQ(ranksOf(small, 4), referenceOrder<int32_t>(negatives));
    RadixSort smallUnsigned;
    smallUnsigned.Sort(negatives.data(), 4, false);
    EXPECT_EQ(ranksOf(smallUnsigned, 4), referenceOrder<uint32_t>(negatives));
}

TEST(RadixSort, NullOrEmptyInputChangesNothing)
{
    RadixSort sorter;
    sorter.Sort(static_cast<const float *>(nullptr), 10);
    const float one = 1;
    sorter.Sort(&one, 0);
    sorter.Sort(static_cast<const unsigned *>(nullptr), 4, true);
    EXPECT_EQ(sorter.GetRanks(), nullptr);
    EXPECT_EQ(sorter.GetTotalCalls(), 0u);

    const std::vector<float> keys = {2, 1};
    sorter.Sort(keys.data(), 2);
    sorter.Sort(static_cast<const float *>(nullptr), 2);
    EXPECT_EQ(ranksOf(sorter, 2), (Ranks{1, 0}));
    EXPECT_EQ(sorter.GetTotalCalls(), 1u);
}

TEST(RadixSort, ResizeAndResetGiveTheIdentity)
{
    RadixSort sorter;
    const std::vector<float> keys = {3, 2, 1, 0};
    sorter.Sort(keys.data(), 4);
    ASSERT_EQ(ranksOf(sorter, 4), (Ranks{3, 2, 1, 0}));
    sorter.ResetIndices();
    EXPECT_EQ(ranksOf(sorter, 4), (Ranks{0, 1, 2, 3}));
    ASSERT_TRUE(sorter.Resize(6));
    EXPECT_EQ(ranksOf(sorter, 6), (Ranks{0, 1, 2, 3, 4, 5}));
}

} // namespace
