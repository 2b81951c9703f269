#include "formats/LasReader.h"
#include "formats/LasTiling.h"
#include "formats/PointTiles.h"
#include "math/Messages.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <tuple>
#include <vector>

namespace {

// Each point's file coordinates, then its items, the GPS time (the fourth) taken after `base`.
std::vector<std::vector<double>> rows(const PointListData &d, double base)
{
    double own = base;
    std::sscanf(d.items.size() > 3 ? d.items[3].name.c_str() : "", "GPS time (s after %lf)", &own);
    std::vector<std::vector<double>> out(static_cast<size_t>(d.nPoints));
    for (size_t i = 0; i < out.size(); ++i) {
        for (int k = 0; k < 3; ++k)
            out[i].push_back(d.points[3 * i + k] + d.origin[k]);
        for (size_t k = 0; k < d.items.size(); ++k)
            out[i].push_back(d.items[k].values[i] + (k == 3 ? own - base : 0.0));
    }
    return out;
}

// How many rows of `a` have no row of `b` within a millimetre whose items agree as floats do.
size_t unmatched(const std::vector<std::vector<double>> &a, const std::vector<std::vector<double>> &b)
{
    const auto cell = [](const std::vector<double> &r, int dx, int dy, int dz) {
        return std::make_tuple(std::lround(r[0] / 0.01) + dx, std::lround(r[1] / 0.01) + dy, std::lround(r[2] / 0.01) + dz);
    };
    std::multimap<std::tuple<long, long, long>, const std::vector<double> *> grid;
    for (const std::vector<double> &r : b)
        grid.insert({cell(r, 0, 0, 0), &r});
    size_t missing = 0;
    for (const std::vector<double> &r : a) {
        bool found = false;
        for (int n = 0; n < 27 && !found; ++n)
            for (auto [at, end] = grid.equal_range(cell(r, n % 3 - 1, n / 3 % 3 - 1, n / 9 - 1)); at != end && !found; ++at) {
                const std::vector<double> &c = *at->second;
                found = c.size() == r.size();
                for (size_t k = 0; k < r.size() && found; ++k)
                    found = std::fabs(r[k] - c[k]) <= (k < 3 ? 1e-3 : 2.5e-7 * (std::fabs(r[k]) + std::fabs(c[k])) + 1e-6);
            }
        missing += !found;
    }
    return missing;
}

} // namespace

// A hierarchy's items are those of the LAS reader, the GPS time after one whole second for
// every node (of the COPC info record, of the first node's first point, of the first part of
// a file made into a hierarchy) and the extra bytes, with the values of the same points read whole.
TEST(PointTiles, ItemsAreThoseOfTheSamePointsReadWhole)
{
    const std::string data = std::string(VELMORA_SOURCE_DIR) + "/tests/data/";
    const std::vector<std::string> las = {"intensity", "classification", "return number"};
    const std::string cache = testing::TempDir() + "/items-cache";
    std::filesystem::remove_all(cache); // tiles made by an earlier run are not these
    struct Case {
        std::string hierarchy, whole;
        std::vector<std::string> more;
    };
    for (const Case &c : {Case{"laz/1.2-with-color.copc.laz", "laz/1.2-with-color.las", {"GPS time (s after 245370)"}},
                          Case{"ept/1.2-with-color/ept.json", "laz/1.2-with-color.las", {"GPS time (s after 245370)"}},
                          Case{"laz/autzen_trim.laz", "laz/autzen_trim.laz", {"GPS time (s after 245379)"}},
                          Case{"laz/extrabytes.laz", "laz/extrabytes.las",
                               {"GPS time (s after 245380)", "Colors[0]", "Colors[1]", "Colors[2]", "Flags[0]", "Flags[1]",
                                "Intensity", "Time"}}}) {
        SCOPED_TRACE(c.hierarchy);
        CapturingMessageSink sink;
        ScopedMessageSink scope(sink);
        // A plain file is made into tiles, part by part (autzen_trim.laz: three chunks).
        const bool plain = c.hierarchy.find("copc") == std::string::npos && c.hierarchy.find("ept") == std::string::npos;
        const std::string path =
            plain ? LasTiling::tilesOf(data + c.hierarchy, cache, size_t(1) << 20) : data + c.hierarchy;
        const PointListData tiles = PointTiles::open(path)->readWhole(), whole = LasReader::read((data + c.whole).c_str());
        std::vector<std::string> names, wanted = las;
        for (const PointValueItem &item : tiles.items)
            names.push_back(item.name);
        wanted.insert(wanted.end(), c.more.begin(), c.more.end());
        EXPECT_EQ(names, wanted);
        ASSERT_EQ(tiles.nPoints, whole.nPoints);
        double base = 0;
        std::sscanf(names.size() > 3 ? names[3].c_str() : "", "GPS time (s after %lf)", &base);
        EXPECT_EQ(unmatched(rows(tiles, base), rows(whole, base)), 0u);
    }
}

// Binary EPT records of adjusted GPS times (about 1e9 s): taken after the least of ept.json's
// statistics, else after the first point's whole second, they keep their quarter seconds.
TEST(PointTiles, EptGpsTimesAreAfterTheLeastOrTheFirstWholeSecond)
{
    const double times[2] = {1000000123.25, 1000000100.5};
    for (const std::string minimum : {",\"minimum\":1000000050.75", ""}) {
        const std::string dir = testing::TempDir() + "/ept-gps" + std::to_string(minimum.size());
        std::filesystem::create_directories(dir + "/ept-hierarchy");
        std::filesystem::create_directories(dir + "/ept-data");
        std::ofstream(dir + "/ept.json") << R"({"dataType":"binary","points":2,"bounds":[0,0,0,8,8,8],"schema":[)"
                                            R"({"name":"X","size":4,"type":"signed"},{"name":"Y","size":4,"type":"signed"},)"
                                            R"({"name":"Z","size":4,"type":"signed"},{"name":"GpsTime","size":8,"type":"float")"
                                         << minimum << "}]}";
        std::ofstream(dir + "/ept-hierarchy/0-0-0-0.json") << R"({"0-0-0-0":2})";
        std::ofstream data(dir + "/ept-data/0-0-0-0.bin", std::ios::binary);
        for (int p = 0; p < 2; ++p) {
            const int32_t xyz[3] = {p + 1, p + 1, p + 1};
            data.write(reinterpret_cast<const char *>(xyz), 12).write(reinterpret_cast<const char *>(&times[p]), 8);
        }
        data.close();
        CapturingMessageSink sink;
        ScopedMessageSink scope(sink);
        const PointListData d = PointTiles::open(dir + "/ept.json")->readWhole();
        const double base = minimum.empty() ? 1000000123 : 1000000050;
        ASSERT_EQ(d.items.size(), 4u);
        EXPECT_EQ(d.items[3].name, "GPS time (s after " + std::to_string(static_cast<long long>(base)) + ")");
        EXPECT_EQ(d.items[3].values[0], times[0] - base);
        EXPECT_EQ(d.items[3].values[1], times[1] - base);
    }
}
