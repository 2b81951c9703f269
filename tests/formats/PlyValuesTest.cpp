#include "formats/PlyValues.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <string>

namespace {

// Words of a text body: numbers as the C library writes them in its own locale; beyond a
// double's range the value strtod gives.
TEST(PlyValues, TextWordsAreNumbersOrNot)
{
    const double inf = std::numeric_limits<double>::infinity();
    const struct {
        const char *text;
        PlyValues::Word word;
        double value;
        size_t after; // where the scanner stands then
    } cases[] = {
        {" \n0.5 1", PlyValues::NUMBER, 0.5, 5},
        {"+4e0", PlyValues::NUMBER, 4, 4},
        {"-inf\t", PlyValues::NUMBER, -inf, 4},
        {"1e400 2", PlyValues::OUT_OF_RANGE, inf, 5},
        {"-1e400", PlyValues::OUT_OF_RANGE, -inf, 6},
        {"1e-400", PlyValues::OUT_OF_RANGE, 0, 6},
        {"0,5", PlyValues::NO_NUMBER, 0, 0},
        {"  zwei", PlyValues::NO_NUMBER, 0, 2},
        {"0x10", PlyValues::NO_NUMBER, 0, 0},
        {"+", PlyValues::NO_NUMBER, 0, 0},
    };
    for (const auto &c : cases) {
        const char *p = c.text, *end = c.text + std::strlen(c.text);
        double v = 0;
        ASSERT_TRUE(PlyValues::toWord(p, end)) << c.text;
        EXPECT_EQ(PlyValues::number(p, end, v), c.word) << c.text;
        if (c.word != PlyValues::NO_NUMBER) {
            EXPECT_EQ(v, c.value) << c.text;
        }
        EXPECT_EQ(static_cast<size_t>(p - c.text), c.after) << c.text;
    }
    const char blank[] = " \r\n";
    const char *p = blank;
    EXPECT_FALSE(PlyValues::toWord(p, blank + 3));
    EXPECT_FALSE(PlyValues::skipWord(p, blank + 3));
}

} // namespace
