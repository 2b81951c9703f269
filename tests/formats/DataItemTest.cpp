#include "formats/DataItem.h"
#include "math/Messages.h"

#include "formats/ByteOrder.h"
#include "math/Messages.h"
#include "support/ImageCompare.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

namespace {

// Builds a record byte by byte; `swap` writes every number in the other byte order.
std::string record(const char *name, float lo, float hi, int n, const std::vector<float> &values, bool swap = false)
{
    std::string out(64, '\0');
    std::memcpy(&out[0], name, std::min<size_t>(std::strlen(name), 64));
    auto put = [&](const void *p) {
        char b[4];
        std::memcpy(b, p, 4);
        if (swap)
            DATAITEM_UTILS::swapBytes(b, 4, 1);
        out.append(b, 4);
    };
    put(&lo);
    put(&hi);
    put(&n);
    for (float v : values)
        put(&v);
    return out;
}

class DataItemRead : public ::testing::Test {
protected:
    void SetUp() override { dir = testsupport::makeTempDir("DataItem"); }

    // Reads `bytes` with reader `mode`, through a compressed file for modes 2 and 3.
    bool readWith(int mode, const std::string &bytes, DataItem &item)
    {
        const std::string path = dir + "/record" + std::to_string(mode);
        if (mode == 2 || mode == 3) {
            gzFile gz = gzopen(path.c_str(), "wb");
            gzwrite(gz, bytes.data(), static_cast<unsigned>(bytes.size()));
            gzclose(gz);
            gzFile in = gzopen(path.c_str(), "rb");
            const bool ok = item.read(in, mode);
            gzclose(in);
            return ok;
        }
        FILE *f = std::fopen(path.c_str(), "w+b");
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::rewind(f);
        const bool ok = item.read(f, mode);
        std::fclose(f);
        return ok;
    }

    std::string dir;
};

TEST_F(DataItemRead, AllFourReaderModes)
{
    const std::vector<float> v = {1.5f, -2.25f, 8};
    for (int mode = 0; mode < 4; ++mode) {
        const bool swapped = mode == 1 || mode == 3;
        DataItem item;
        ASSERT_TRUE(readWith(mode, record("curvature", -2.25f, 8, 3, v, swapped), item)) << "mode " << mode;
        EXPECT_STREQ(item.name, "curvature");
        EXPECT_EQ(item.nElements, 3);
        EXPECT_EQ(item.minimum, -2.25f);
        EXPECT_EQ(item.maximum, 8.f);
        EXPECT_EQ(std::vector<float>(item.getData(), item.getData() + 3), v);
    }
    // Any other mode reads like mode 0.
    DataItem item;
    ASSERT_TRUE(readWith(7, record("h", 0, 1, 1, {0.5f}), item));
    EXPECT_EQ(item.data[0], 0.5f);
}

TEST_F(DataItemRead, NonFiniteRangeIsRecomputedFromTheValues)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    DataItem item;
    ASSERT_TRUE(readWith(1, record("h", nan, inf, 4, {3, -1, 7, 2}, true), item));
    EXPECT_EQ(item.minimum, -1.f);
    EXPECT_EQ(item.maximum, 7.f);
    // A finite range from the file is kept as it is, even when wider than the values.
    ASSERT_TRUE(readWith(0, record("h", -10, nan, 2, {3, 4}), item));
    EXPECT_EQ(item.minimum, -10.f);
    EXPECT_EQ(item.maximum, 4.f);
}

TEST_F(DataItemRead, BrokenRecordsFailAndLeaveTheItemEmpty)
{
    std::string unterminated(64, 'n');
    unterminated += record("", 0, 1, 1, {1}).substr(64);
    const std::string good = record("ok", 0, 1, 2, {0, 1});
    struct Case {
        const char *what;
        std::string bytes;
        int mode;
    } cases[] = {
        {"empty file", "", 0},
        {"head cut short", good.substr(0, 70), 0},
        {"values end early", good.substr(0, good.size() - 2), 0},
        {"values end early, compressed", good.substr(0, good.size() - 1), 2},
        {"negative count", record("neg", 0, 1, -5, {}), 0},
        {"count far beyond the file", record("huge", 0, 1, 2147483647, {1, 2, 3}), 0},
        {"count far beyond the file, compressed", record("huge", 0, 1, 2147483647, {1}), 2},
        {"count in the wrong byte order", record("swap", 0, 1, 2, {0, 1}), 1},
        {"name without terminating zero", unterminated, 0},
    };
    for (const Case &c : cases) {
        DataItem item("previous", 3);
        EXPECT_FALSE(readWith(c.mode, c.bytes, item)) << c.what;
        EXPECT_EQ(item.nElements, 0) << c.what;
        EXPECT_EQ(item.data, nullptr) << c.what;
        EXPECT_STREQ(item.name, "") << c.what;
    }
}

TEST_F(DataItemRead, WriteThenReadGivesTheSameRecord)
{
    const std::vector<float> v = {4, 5, -6, 0.125f};
    DataItem out("height", v.data(), 4);
    const std::string path = dir + "/rt";
    FILE *f = std::fopen(path.c_str(), "wb");
    ASSERT_TRUE(out.write(f));
    std::fclose(f);

    f = std::fopen(path.c_str(), "rb");
    std::fseek(f, 0, SEEK_END);
    EXPECT_EQ(std::ftell(f), 76 + 16);
    std::rewind(f);
    DataItem in;
    ASSERT_TRUE(in.read(f));
    std::fclose(f);
    EXPECT_STREQ(in.name, "height");
    EXPECT_EQ(in.minimum, -6.f);
    EXPECT_EQ(in.maximum, 5.f);
    EXPECT_EQ(std::vector<float>(in.getData(), in.getData() + in.nElements), v);
}

TEST(DataItem, ConstructionCopiesAndRanges)
{
    const float v[] = {2, 9, -3};
    DataItem a(std::string(100, 'x').c_str(), v, 3);
    EXPECT_EQ(std::strlen(a.name), 63u) << "names keep 63 characters and the zero";
    EXPECT_EQ(a.minimum, -3.f);
    EXPECT_EQ(a.maximum, 9.f);

    DataItem b;
    b = a;
    ASSERT_NE(b.data, a.data) << "copies are deep";
    b.data[0] = 100;
    EXPECT_EQ(a.data[0], 2.f);
    DataItem c(b);
    EXPECT_EQ(c.data[0], 100.f);
    c = c;
    EXPECT_EQ(c.nElements, 3);

    DataItem d("n", 5);
    EXPECT_EQ(d.nElements, 5);
    EXPECT_EQ(d.minimum, std::numeric_limits<float>::infinity());
    EXPECT_EQ(d.maximum, -std::numeric_limits<float>::infinity());
    d.init("only a name");
    EXPECT_EQ(d.nElements, 0);
    EXPECT_EQ(d.data, nullptr);

    CapturingMessageSink said;
    ScopedMessageSink scope(said);
    a.print();
    a.print(1);
    a.print(3);
    a.print(-1);
    EXPECT_EQ(said.text(MessageLevel::Note),
              "DataItem: \"" + std::string(63, 'x') + "\", with 3 elements in [-3.000000 9.000000]\n" +
                  std::string(63, 'x') + "=9\n");
}

} // namespace
