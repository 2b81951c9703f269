#include "formats/TextScanner.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <random>
#include <cstring>
#include <string>
#include <vector>

namespace {

// The header readers take sizes as strtol always gave them: 0 when there is none, the end
// of the range when out of it, white space and a sign before the digits.
TEST(TextScanner, WholeNumbersAsStrtolReadsThem)
{
    const struct {
        const char *text;
        bool found;
        long value;
        size_t after;
    } cases[] = {
        {"640 480", true, 640, 3},
        {" \n+12x", true, 12, 5},
        {"-7", true, -7, 2},
        {"99999999999999999999999 1", true, LONG_MAX, 23},
        {"x1", false, 0, 0},
        {"", false, 0, 0},
    };
    for (const auto &c : cases) {
        TextScanner s(c.text, c.text + std::strlen(c.text));
        long v = -1;
        EXPECT_EQ(s.cLong(v), c.found) << c.text;
        EXPECT_EQ(v, c.value) << c.text;
        EXPECT_EQ(static_cast<size_t>(s.position() - c.text), c.after) << c.text;
    }
}

TEST(TextScanner, LinesEndAtEachLineBreakAndAtTheEnd)
{
    const struct {
        std::string text;
        std::vector<std::string> lines;
    } cases[] = {
        {"", {}},
        {"a", {"a"}},
        {"a\n", {"a"}},
        {"a\r\n\nb", {"a\r", "", "b"}},
        {std::string("x\0y\n", 4), {std::string("x\0y", 3)}},
    };
    for (const auto &c : cases) {
        TextScanner s(c.text.data(), c.text.data() + c.text.size());
        std::vector<std::string> got;
        const char *b, *e;
        while (s.line(b, e))
            got.emplace_back(b, e);
        EXPECT_EQ(got, c.lines) << c.text;
        EXPECT_TRUE(s.atEnd());
    }
}

// Floats are read to the very float from_chars gives, and end where it ends: short decimals
// take a faster way, the rest from_chars' own.
TEST(TextScanner, FloatsAreReadAsFromCharsReadsThem)
{
    std::vector<std::string> texts = {"0",        "-0",       "-0.0",      "16777216", "16777217", "0.1",
                                      "-123.456", "1234567.5", "0.0000000001", "1e5",   "2.5E-3",   "4.",
                                      ".5",       "-.5",      "1.2.3",     "12abc",    "+2.25",    "inf",
                                      "nan",      "-",        "999999999", "0.3333333333", "12345678.9",
                                      "-0.006533755", "0000000000000012.5"};
    std::mt19937 random(11);
    const double kTens[] = {1, 10, 100, 1000, 10000, 100000};
    char text[64];
    for (int i = 0; i < 20000; ++i) {
        // Magnitudes from 2000 down to 0.02, up to 10 decimals: leading zeros and 7 or more digits.
        const double x = std::uniform_real_distribution<double>(-2000, 2000)(random) / kTens[random() % 6];
        std::snprintf(text, sizeof text, "%.*f", static_cast<int>(random() % 11), x);
        texts.emplace_back(text);
    }
    for (const std::string &t : texts) {
        const char *begin = t.data(), *end = begin + t.size();
        float got = -1, want = -1;
        const std::from_chars_result r = TextScanner::parse(begin, end, got);
        const std::from_chars_result w = std::from_chars(begin + (t[0] == '+'), end, want);
        EXPECT_EQ(r.ec, w.ec) << t;
        EXPECT_EQ(r.ptr, w.ptr) << t;
        // Bit for bit, so that 0 and -0 differ.
        EXPECT_EQ(std::memcmp(&got, &want, sizeof got), 0) << t << ": " << got << " for " << want;
    }
}

} // namespace
