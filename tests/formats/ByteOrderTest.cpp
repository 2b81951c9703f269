#include "formats/ByteOrder.h"

#include "support/ImageCompare.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

typedef std::vector<unsigned char> Bytes;
typedef std::unique_ptr<FILE, int (*)(FILE *)> File;

const Bytes kOneToEight = {1, 2, 3, 4, 5, 6, 7, 8};

File fileWith(const Bytes &content)
{
    File f(std::tmpfile(), std::fclose);
    if (f) {
        std::fwrite(content.data(), 1, content.size(), f.get());
        std::rewind(f.get());
    }
    return f;
}

// A gzip file of `content` in a folder of the running test's own.
std::string gzFileWith(const Bytes &content)
{
    const std::string path =
        testsupport::makeTempDir(std::string("ByteOrder.") +
                                 ::testing::UnitTest::GetInstance()->current_test_info()->name()) +
        "/data.gz";
    gzFile out = gzopen(path.c_str(), "wb");
    EXPECT_NE(out, nullptr);
    if (out != nullptr) {
        EXPECT_EQ(gzwrite(out, content.data(), static_cast<unsigned>(content.size())),
                  static_cast<int>(content.size()));
        EXPECT_EQ(gzclose(out), Z_OK);
    }
    return path;
}

TEST(SwapBytes, ReversesEachItemInPlaceAndNothingBeyond)
{
    struct SwapCase {
        unsigned size;
        unsigned count;
        Bytes expected;
    };
    const SwapCase cases[] = {
        {4, 2, {4, 3, 2, 1, 8, 7, 6, 5}}, {1, 8, {1, 2, 3, 4, 5, 6, 7, 8}}, {3, 2, {3, 2, 1, 6, 5, 4, 7, 8}},
        {2, 4, {2, 1, 4, 3, 6, 5, 8, 7}}, {8, 1, {8, 7, 6, 5, 4, 3, 2, 1}}, {2, 1, {2, 1, 3, 4, 5, 6, 7, 8}},
        {0, 8, {1, 2, 3, 4, 5, 6, 7, 8}}, {4, 0, {1, 2, 3, 4, 5, 6, 7, 8}},
    };
    for (const SwapCase &c : cases) {
        Bytes global = kOneToEight, dataItem = kOneToEight;
        swapBytes(global.data(), c.size, c.count);
        DATAITEM_UTILS::swapBytes(dataItem.data(), c.size, c.count);
        EXPECT_EQ(global, c.expected) << c.size << " x " << c.count;
        EXPECT_EQ(dataItem, c.expected) << c.size << " x " << c.count << " (data items)";
    }
}

TEST(Readbe, DeliversBigEndianNumbersInMachineOrder)
{
    const uint16_t probe = 1;
    if (*reinterpret_cast<const unsigned char *>(&probe) != 1)
        GTEST_SKIP() << "the files below are in this machine's own order";
    File ints = fileWith({0, 0, 0, 1, 0, 0, 0, 2});
    int32_t values[2] = {0, 0};
    EXPECT_EQ(readbe(values, 4, 2, ints.get()), 2u);
    EXPECT_EQ(values[0], 1);
    EXPECT_EQ(values[1], 2);

    File shorts = fileWith({0x12, 0x34, 0, 0x2a});
    uint16_t halves[2] = {0, 0};
    EXPECT_EQ(DATAITEM_UTILS::readbe(halves, 2, 2, shorts.get()), 2u);
    EXPECT_EQ(halves[0], 0x1234);
    EXPECT_EQ(halves[1], 0x2a);
}

TEST(Readbe, ShortReadSwapsOnlyTheWholeItemsRead)
{
    File file = fileWith({0, 0, 0, 1, 0xAA, 0xBB});
    Bytes buffer(8, 0xEE);
    // Refused calls consume nothing.
    EXPECT_EQ(readbe(buffer.data(), 0, 2, file.get()), 0u);
    EXPECT_EQ(readbe(nullptr, 4, 2, file.get()), 0u);
    EXPECT_EQ(readbe(buffer.data(), 4, 2, nullptr), 0u);

    EXPECT_EQ(readbe(buffer.data(), 4, 2, file.get()), 1u);
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 4), (Bytes{1, 0, 0, 0}));
    // The incomplete second item must not have been reversed into the untouched tail.
    EXPECT_EQ(buffer[6], 0xEE);
    EXPECT_EQ(buffer[7], 0xEE);
}

TEST(ReaderMode, PlainFilesReadNativeOrSwappedAndUnknownModesNative)
{
    const Bytes swapped = {4, 3, 2, 1, 8, 7, 6, 5};
    for (int mode : {0, 1, 7, -1}) {
        for (ReadFunction read : {MESH_UTILS::readerForMode(mode), DATAITEM_UTILS::readerForMode(mode)}) {
            File file = fileWith(kOneToEight);
            Bytes buffer(8, 0);
            EXPECT_EQ(read(buffer.data(), 4, 2, file.get()), 2u) << "mode " << mode;
            EXPECT_EQ(buffer, mode == 1 ? swapped : kOneToEight) << "mode " << mode;
        }
    }
}

TEST(ReaderMode, CompressedModesReadThroughZlibForDataItemsOnly)
{
    const std::string path = gzFileWith(kOneToEight);
    const Bytes swapped = {2, 1, 4, 3, 6, 5, 8, 7};
    for (int mode : {2, 3}) {
        gzFile in = gzopen(path.c_str(), "rb");
        ASSERT_NE(in, nullptr);
        Bytes buffer(8, 0xEE);
        EXPECT_EQ(MESH_UTILS::readerForMode(mode)(buffer.data(), 2, 4, in), 0u) << "mode " << mode;
        EXPECT_EQ(buffer, Bytes(8, 0xEE)) << "mode " << mode;
        EXPECT_EQ(DATAITEM_UTILS::readerForMode(mode)(buffer.data(), 2, 4, in), 4u) << "mode " << mode;
        EXPECT_EQ(buffer, mode == 3 ? swapped : kOneToEight) << "mode " << mode;
        gzclose(in);
    }
}

TEST(DataItemGzread, ShortDataCountsAndSwapsOnlyWholeItems)
{
    const std::string path = gzFileWith({0, 0, 0, 5, 0, 0, 1, 0, 0xAA, 0xBB});
    gzFile in = gzopen(path.c_str(), "rb");
    ASSERT_NE(in, nullptr);
    Bytes plain(12, 0xEE);
    EXPECT_EQ(DATAITEM_UTILS::gzread(plain.data(), 4, 3, in), 2u);
    EXPECT_EQ(plain, (Bytes{0, 0, 0, 5, 0, 0, 1, 0, 0xAA, 0xBB, 0xEE, 0xEE}));
    gzrewind(in);
    Bytes swapped(12, 0xEE);
    EXPECT_EQ(DATAITEM_UTILS::gzreadbe(swapped.data(), 4, 3, in), 2u);
    EXPECT_EQ(swapped, (Bytes{5, 0, 0, 0, 0, 1, 0, 0, 0xAA, 0xBB, 0xEE, 0xEE}));
    EXPECT_EQ(DATAITEM_UTILS::gzreadbe(swapped.data(), 4, 1, in), 0u);
    gzclose(in);
    EXPECT_EQ(DATAITEM_UTILS::gzread(plain.data(), 4, 1, nullptr), 0u);
}

TEST(DataItemGzread, TruncatedFileDeliversItsIntactPrefix)
{
    // Random content does not compress, so half of the file still holds about half the data.
    const unsigned n = 4096;
    std::mt19937 random(7);
    Bytes content(4 * n);
    for (unsigned char &b : content)
        b = static_cast<unsigned char>(random());
    const std::string path = gzFileWith(content);
    std::filesystem::resize_file(path, std::filesystem::file_size(path) / 2);

    gzFile in = gzopen(path.c_str(), "rb");
    ASSERT_NE(in, nullptr);
    Bytes buffer(content.size(), 0);
    const unsigned got = DATAITEM_UTILS::gzreadbe(buffer.data(), 4, n, in);
    gzclose(in);
    EXPECT_GT(got, 0u);
    EXPECT_LT(got, n);
    for (unsigned i = 0; i < 4 * got; ++i)
        ASSERT_EQ(buffer[i], content[i - i % 4 + 3 - i % 4]) << "byte " << i;
}

TEST(DataItemGzread, ByteCountsBeyondZlibsLimitStillReadTheFile)
{
    // The caller may ask for more than zlib takes in one call (over 2^31 bytes, or a
    // product that wraps in 32 bits); only what the file holds arrives.
    Bytes content(100);
    for (unsigned i = 0; i < content.size(); ++i)
        content[i] = static_cast<unsigned char>(i);
    const std::string path = gzFileWith(content);
    struct LimitCase {
        unsigned size, count, expected;
    };
    for (const LimitCase &c : {LimitCase{1, 0x80000000u, 100}, LimitCase{4, 0x40000001u, 25}}) {
        gzFile in = gzopen(path.c_str(), "rb");
        ASSERT_NE(in, nullptr);
        Bytes buffer(content.size(), 0);
        EXPECT_EQ(DATAITEM_UTILS::gzread(buffer.data(), c.size, c.count, in), c.expected) << c.size;
        EXPECT_EQ(buffer, content) << c.size;
        gzclose(in);
    }
}

} // namespace
