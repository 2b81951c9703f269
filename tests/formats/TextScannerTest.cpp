#include "formats/TextScanner.h"

#include <gtest/gtest.h>

#include <climits>
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

} // namespace
