#include "formats/LasReader.h"
#include "formats/LazFile.h"
#include "math/Messages.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <tuple>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

std::string dataPath(const std::string &name) { return std::string(VELMORA_SOURCE_DIR) + "/tests/data/laz/" + name; }

std::vector<unsigned char> fileBytes(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

template <class T> T get(const std::vector<unsigned char> &b, size_t at)
{
    T v;
    std::memcpy(&v, &b[at], sizeof v);
    return v;
}

LazFile::Header headerOf(const std::vector<unsigned char> &b)
{
    uint64_t count = get<uint32_t>(b, 107);
    if (b[25] >= 4 && count == 0)
        count = get<uint64_t>(b, 247);
    return {get<uint16_t>(b, 94), get<uint32_t>(b, 100), get<uint32_t>(b, 96), get<uint16_t>(b, 105), count};
}

struct Opened {
    FILE *f;
    explicit Opened(const std::string &path) : f(std::fopen(path.c_str(), "rb")) {}
    ~Opened()
    {
        if (f)
            std::fclose(f);
    }
};

} // namespace

// Files of other programs with their uncompressed twins: the decoded records must equal the
// twin's byte for byte.
TEST(LazFile, RealFilesDecodeToTheRecordsOfTheirUncompressedTwins)
{
    struct Case {
        const char *laz, *las;
    };
    for (const Case c : {Case{"point10.las.laz", "point10.las"}, Case{"point-time.las.laz", "point-time.las"},
                         Case{"point-color.las.laz", "point-color.las"},
                         Case{"point-color-time.las.laz", "point-color-time.las"},
                         Case{"extrabytes.laz", "extrabytes.las"}, Case{"simple.laz", "simple.las"},
                         Case{"point-time-1.4.las.laz", "point-time.las"},
                         Case{"simple-laszip-compressor-version-1.2r0.laz", "simple.las"}}) {
        SCOPED_TRACE(c.laz);
        const std::vector<unsigned char> laz = fileBytes(dataPath(c.laz)), las = fileBytes(dataPath(c.las));
        ASSERT_GT(laz.size(), 375u);
        ASSERT_GT(las.size(), 375u);
        const LazFile::Header h = headerOf(laz), twin = headerOf(las);
        ASSERT_EQ(h.count, twin.count);
        ASSERT_EQ(h.recordLength, twin.recordLength);
        Opened f(dataPath(c.laz));
        ASSERT_NE(f.f, nullptr);
        LargeArray<unsigned char> records = LazFile::read(f.f, static_cast<long long>(laz.size()), h);
        size_t wrong = 0, firstWrong = 0;
        for (size_t i = 0; i < h.count; ++i)
            if (std::memcmp(records.get() + i * h.recordLength, &las[twin.offsetToPoints + i * h.recordLength],
                            h.recordLength) != 0 &&
                wrong++ == 0)
                firstWrong = i;
        EXPECT_EQ(wrong, 0u) << "first at point " << firstWrong;
    }
}

namespace {

// One point as both files can say it, whatever their formats, scales and orders.
struct Sample {
    long long x, y, z;
    unsigned intensity, classification, returnNumber;
    unsigned rgb[3];
    double gps;
    bool operator<(const Sample &o) const
    {
        return std::tie(x, y, z, intensity, gps) < std::tie(o.x, o.y, o.z, o.intensity, o.gps);
    }
    bool operator==(const Sample &o) const
    {
        return x == o.x && y == o.y && z == o.z && intensity == o.intensity && classification == o.classification &&
               returnNumber == o.returnNumber && rgb[0] == o.rgb[0] && rgb[1] == o.rgb[1] && rgb[2] == o.rgb[2] &&
               gps == o.gps;
    }
};

std::vector<Sample> samples(const std::vector<unsigned char> &file, const unsigned char *records, size_t count)
{
    const unsigned format = file[104] & 0x3F, length = get<uint16_t>(file, 105);
    const bool wide = format >= 6;
    const unsigned rgbAt = format == 3 ? 28 : format == 2 ? 20 : wide ? 30 : 0;
    std::vector<Sample> out;
    for (size_t i = 0; i < count; ++i) {
        const unsigned char *b = records + i * length;
        Sample s{};
        long long *xyz[3] = {&s.x, &s.y, &s.z};
        for (int k = 0; k < 3; ++k) {
            int32_t v;
            std::memcpy(&v, b + 4 * k, 4);
            // Millimetres of the file's coordinates.
            *xyz[k] = std::llround((v * get<double>(file, 131 + 8 * k) + get<double>(file, 155 + 8 * k)) * 1000);
        }
        s.intensity = b[12] | b[13] << 8;
        s.returnNumber = wide ? b[14] & 15 : b[14] & 7;
        s.classification = wide ? b[16] : b[15] & 31;
        std::memcpy(&s.gps, b + (wide ? 22 : 20), 8);
        for (int k = 0; rgbAt && k < 3; ++k)
            s.rgb[k] = b[rgbAt + 2 * k] | b[rgbAt + 2 * k + 1] << 8;
        out.push_back(s);
    }
    std::sort(out.begin(), out.end());
    return out;
}

} // namespace

// A point format 7 file of the layered compressor (a COPC file, whose chunks are its nodes)
// against the same points in format 3: equal point for point once both are sorted.
TEST(LazFile, LayeredChunksDecodeToTheSamePointsAsTheirTwin)
{
    const std::vector<unsigned char> laz = fileBytes(dataPath("1.2-with-color.copc.laz")),
                                     las = fileBytes(dataPath("1.2-with-color.las"));
    ASSERT_GT(laz.size(), 375u);
    const LazFile::Header h = headerOf(laz), twin = headerOf(las);
    ASSERT_EQ(h.count, twin.count);
    Opened f(dataPath("1.2-with-color.copc.laz"));
    LargeArray<unsigned char> records = LazFile::read(f.f, static_cast<long long>(laz.size()), h);
    const std::vector<Sample> a = samples(laz, records.get(), h.count), b = samples(las, &las[twin.offsetToPoints], h.count);
    size_t wrong = 0;
    for (size_t i = 0; i < a.size(); ++i)
        wrong += !(a[i] == b[i]);
    EXPECT_EQ(wrong, 0u);
}

TEST(LazFile, CopcOpensThroughItsHierarchyWithItsFullCount)
{
    CapturingMessageSink sink;
    ScopedMessageSink scope(sink);
    const PointListData d = LasReader::read(dataPath("1.2-with-color.copc.laz").c_str());
    EXPECT_EQ(d.nPoints, 1065);
    EXPECT_NE(d.colors, nullptr);
    EXPECT_EQ(sink.text(MessageLevel::Note).rfind("COPC 1.4, point format 7: 1065 points", 0), 0u)
        << sink.text(MessageLevel::Note);
}

TEST(CopcHierarchy, ImpossibleEntriesAndLoopingPagesAreRefused)
{
    auto entry = [](int32_t level, int64_t offset, int32_t bytes, int32_t points) {
        std::string e(32, '\0');
        std::memcpy(&e[0], &level, 4);
        std::memcpy(&e[16], &offset, 8);
        std::memcpy(&e[24], &bytes, 4);
        std::memcpy(&e[28], &points, 4);
        return e;
    };
    struct Case {
        std::string page;
        const char *says;
    };
    for (const Case &c : {Case{entry(0, 0, 10, 5).substr(0, 31), "not a multiple of 32"},
                          Case{entry(-1, 0, 10, 5), "out of range"}, Case{entry(0, 0, -3, 5), "out of range"},
                          Case{entry(0, 0, 10, -2), "out of range"}, Case{entry(1, 0, 64, -1), "twice"},
                          Case{entry(1, 0, 4000, -1), "runs past the end"}, Case{entry(1, 0, 4000, 7), "runs past the end"}}) {
        SCOPED_TRACE(c.says);
        // The page sits at the start of a file of its own size plus 32 bytes.
        std::string file = c.page + std::string(32, '\0');
        FILE *f = fmemopen(&file[0], file.size(), "rb");
        CopcInfo info{{0, 0, 0}, 1, 1, 0, c.page.size()};
        try {
            CopcHierarchy::nodes(f, file.size(), info);
            ADD_FAILURE() << "read";
        } catch (const std::runtime_error &e) {
            EXPECT_NE(std::string(e.what()).find(c.says), std::string::npos) << e.what();
        }
        std::fclose(f);
    }
}
