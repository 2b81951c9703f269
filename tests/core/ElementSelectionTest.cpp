#include "core/ElementSelection.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

namespace {

std::vector<size_t> listed(const ElementSelection &s)
{
    std::vector<size_t> out;
    for (size_t i : s)
        out.push_back(i);
    return out;
}

// Random operations on a selection and on a plain vector<bool>, at sizes around the 64-bit
// words, indices beyond the end included: both must agree on every element, the count and
// the listed indices after each step, counting below an index and skipping selected ones.
TEST(ElementSelection, AgreesWithAPlainSetThroughEveryOperation)
{
    for (size_t start : {0, 1, 63, 64, 65, 130}) {
        ElementSelection s(start);
        std::vector<bool> plain(start);
        std::mt19937 rng(static_cast<unsigned>(start));
        for (int step = 0; step < 400; ++step) {
            const size_t n = plain.size();
            const size_t a = rng() % (n + 70), b = rng() % (n + 70);
            switch (rng() % 7) {
            case 0:
            case 1:
                s.add(a);
                if (a < n)
                    plain[a] = true;
                break;
            case 2:
                s.remove(a);
                if (a < n)
                    plain[a] = false;
                break;
            case 3:
                s.addRange(std::min(a, b), std::max(a, b));
                for (size_t i = std::min(a, b); i < std::min(std::max(a, b), n); ++i)
                    plain[i] = true;
                break;
            case 4:
                s.invert();
                plain.flip();
                break;
            case 5:
                s.resize(b);
                plain.resize(b, false);
                break;
            default:
                if (step % 5 == 0) {
                    s.clear();
                    std::fill(plain.begin(), plain.end(), false);
                }
            }
            std::vector<size_t> expected;
            for (size_t i = 0; i < plain.size(); ++i)
                if (plain[i])
                    expected.push_back(i);
            ASSERT_EQ(s.size(), plain.size()) << "step " << step;
            ASSERT_EQ(s.count(), expected.size()) << "step " << step << " of size " << plain.size();
            ASSERT_EQ(listed(s), expected) << "step " << step;
            for (size_t i = 0; i < plain.size() + 2; ++i)
                ASSERT_EQ(s.contains(i), i < plain.size() && plain[i]) << i << " at step " << step;
            // Counting below an index, and skipping selected ones from it.
            const size_t below = static_cast<size_t>(
                std::lower_bound(expected.begin(), expected.end(), std::min(a, plain.size())) - expected.begin());
            ASSERT_EQ(s.countBelow(a), below) << a << " at step " << step;
            const size_t skip = b % 70, reached = below + skip;
            ASSERT_EQ(s.nextAfterSkipping(a, skip), reached < expected.size() ? expected[reached] : plain.size())
                << a << " skipping " << skip << " at step " << step;
        }
    }
}

TEST(ElementSelection, HundredMillionElementsInvertAndGrowWithoutSelectingTheNewOnes)
{
    const size_t n = 100000003; // not a whole number of 64-bit words
    ElementSelection s(n);
    s.addRange(10, n - 10);
    s.invert();
    EXPECT_EQ(s.count(), 20u);
    EXPECT_EQ(s.next(10), n - 10);
    s.resize(n + 100);
    EXPECT_EQ(s.count(), 20u);
    EXPECT_FALSE(s.contains(n + 5));
    s.invert();
    EXPECT_EQ(s.count(), n + 80);
    EXPECT_TRUE(s.contains(n + 99));
}

} // namespace
