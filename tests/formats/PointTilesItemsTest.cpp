// ctest-label: thread
#include "formats/LasReader.h"
#include "formats/LasTiling.h"
#include "formats/PointTiles.h"
#include "formats/TileBuilder.h"
#include "math/Messages.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
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
        out[i] = {d.points[3 * i] + d.origin[0], d.points[3 * i + 1] + d.origin[1], d.points[3 * i + 2] + d.origin[2]};
        for (size_t k = 0; k < d.items.size(); ++k)
            out[i].push_back(d.items[k].values[i] + (k == 3 ? own - base : 0.0));
    }
    return out;
}

// How many rows of `a` have no row of `b` within a millimetre whose items agree as floats do.
size_t unmatched(const std::vector<std::vector<double>> &a, const std::vector<std::vector<double>> &b)
{
    const auto cell = [](const std::vector<double> &r, int n) { // n: the neighbour, 13 the cell itself
        return std::make_tuple(std::lround(r[0] / 0.01) + n % 3 - 1, std::lround(r[1] / 0.01) + n / 3 % 3 - 1,
                               std::lround(r[2] / 0.01) + n / 9 - 1);
    };
    std::multimap<std::tuple<long, long, long>, const std::vector<double> *> grid;
    for (const std::vector<double> &r : b)
        grid.insert({cell(r, 13), &r});
    size_t missing = 0;
    for (const std::vector<double> &r : a) {
        bool found = false;
        for (int n = 0; n < 27 && !found; ++n)
            for (auto [at, end] = grid.equal_range(cell(r, n)); at != end && !found; ++at) {
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

// A hierarchy's items are the LAS reader's with the values of the same points read whole: the
// extra bytes, the GPS time after one second for every node (COPC's info, the first point).
TEST(PointTiles, ItemsAreThoseOfTheSamePointsReadWhole)
{
    const std::string data = std::string(VELMORA_SOURCE_DIR) + "/tests/data/", cache = testing::TempDir() + "/items-cache";
    std::filesystem::remove_all(cache); // tiles made by an earlier run are not these
    struct Case {
        std::string hierarchy, whole;
        bool tiled; // a plain file made into tiles, part by part (autzen_trim.laz: three chunks)
        std::vector<std::string> more;
    };
    for (const Case &c : {Case{"laz/1.2-with-color.copc.laz", "laz/1.2-with-color.las", false, {"GPS time (s after 245370)"}},
                          Case{"ept/1.2-with-color/ept.json", "laz/1.2-with-color.las", false, {"GPS time (s after 245370)"}},
                          Case{"laz/autzen_trim.laz", "laz/autzen_trim.laz", true, {"GPS time (s after 245379)"}},
                          Case{"laz/extrabytes.laz", "laz/extrabytes.las", true,
                               {"GPS time (s after 245380)", "Colors[0]", "Colors[1]", "Colors[2]", "Flags[0]", "Flags[1]",
                                "Intensity", "Time"}}}) {
        SCOPED_TRACE(c.hierarchy);
        CapturingMessageSink sink;
        ScopedMessageSink scope(sink);
        const std::string path = c.tiled ? LasTiling::tilesOf(data + c.hierarchy, cache, size_t(1) << 20) : data + c.hierarchy;
        const PointListData tiles = PointTiles::open(path)->readWhole(), whole = LasReader::read((data + c.whole).c_str());
        std::vector<std::string> names, wanted = {"intensity", "classification", "return number"};
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

// Adjusted GPS times (1e9 s) after the least of the statistics or the first point keep their 0.25 s.
TEST(PointTiles, EptGpsTimesAreAfterTheLeastOrTheFirstWholeSecond)
{
    const double times[2] = {1000000123.25, 1000000100.5};
    for (const std::string minimum : {",\"minimum\":1000000050.75", ""}) {
        const std::string dir = testing::TempDir() + "/ept-gps" + std::to_string(minimum.size());
        for (const char *folder : {"/ept-hierarchy", "/ept-data"})
            std::filesystem::create_directories(dir + folder);
        std::ofstream(dir + "/ept.json") << R"({"dataType":"binary","points":2,"bounds":[0,0,0,8,8,8],"schema":[)"
                                            R"({"name":"X","size":4,"type":"signed"},{"name":"Y","size":4,"type":"signed"},)"
                                            R"({"name":"Z","size":4,"type":"signed"},{"name":"GpsTime","size":8,"type":"float")"
                                         << minimum << "}]}";
        std::ofstream(dir + "/ept-hierarchy/0-0-0-0.json") << R"({"0-0-0-0":2})";
        std::ofstream data(dir + "/ept-data/0-0-0-0.bin", std::ios::binary);
        const int32_t xyz[2][3] = {{1, 1, 1}, {2, 2, 2}};
        for (int p = 0; p < 2; ++p)
            data.write(reinterpret_cast<const char *>(xyz[p]), 12).write(reinterpret_cast<const char *>(&times[p]), 8);
        data.close();
        CapturingMessageSink sink;
        ScopedMessageSink scope(sink);
        const PointListData d = PointTiles::open(dir + "/ept.json")->readWhole();
        const double base = minimum.empty() ? 1000000123 : 1000000050;
        ASSERT_EQ(d.items.size(), 4u);
        EXPECT_EQ(d.items[3].name, "GPS time (s after " + std::to_string(static_cast<long long>(base)) + ")");
        for (int p = 0; p < 2; ++p)
            EXPECT_EQ(d.items[3].values[p], times[p] - base);
    }
}

// A file made into a hierarchy part after part (each read and made ready on a thread of its
// own) has the nodes of the same points handed to the builder at once, in the file's order, and
// its cubes below the first levels made two at a time: a cell keeps the first point that falls
// into it, so a part taken out of turn or a race shows in the nodes' bytes. Memory enough for
// every cube, and so little that the larger cubes are made through files, with each chunk of
// 50,000 points read in pieces of 4,096 (as a chunk larger than a part is) on the threads that
// read ahead.
TEST(PointTiles, AFileMadeIntoTilesPartByPartHasTheNodesOfItsPointsAddedAtOnce)
{
    const std::string file = std::string(VELMORA_SOURCE_DIR) + "/tests/data/laz/lone-star.laz"; // 11 chunks
    const auto read = [](const std::string &path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    };
    CapturingMessageSink sink;
    ScopedMessageSink scope(sink);
    const PointListData whole = LasReader::read(file.c_str());
    for (const size_t memory : {size_t(64) << 20, size_t(300000)}) {
        SCOPED_TRACE(memory);
        const std::string cache = testing::TempDir() + "/parts-cache" + std::to_string(memory);
        std::filesystem::remove_all(cache);
        const std::string made =
            LasTiling::tilesOf(file, cache, memory, TilingWatch(), memory < 1000000 ? 4096 : 1 << 19);
        const nlohmann::json meta = nlohmann::json::parse(read(made));
        TileBuilder::Settings s;
        s.folder = cache + "/at-once";
        for (int k = 0; k < 3; ++k)
            s.lo[k] = meta["bounds"][k];
        s.size = meta["bounds"][3].get<double>() - s.lo[0];
        s.scale = meta["schema"][0]["scale"];
        s.colours = whole.colors != nullptr;
        for (const PointValueItem &item : whole.items)
            s.items.push_back(item.name);
        s.memoryBytes = memory;
        s.bothCoresFrom = 0; // the file's cubes are too few for it in the making above
        TileBuilder atOnce(s);
        atOnce.add(atOnce.prepare(whole));
        atOnce.finish();
        const std::string dir = made.substr(0, made.size() - 9); // less "/ept.json"
        EXPECT_EQ(read(dir + "/ept-hierarchy/0-0-0-0.json"), read(s.folder + "/ept-hierarchy/0-0-0-0.json"));
        size_t nodes = 0;
        for (const auto &entry : std::filesystem::directory_iterator(s.folder + "/ept-data")) {
            const std::string name = entry.path().filename();
            EXPECT_TRUE(read(entry.path()) == read(dir + "/ept-data/" + name)) << name;
            ++nodes;
        }
        EXPECT_GT(nodes, 8u);
        std::filesystem::remove_all(cache);
    }
}

// The making of the cubes below the first levels reports after each node, not only after each
// cube, and a cancel heard there stops it: with one cube below (a cluster in a corner), made in
// memory or sent through files again, and with two made side by side (the other thread stops at
// its next node; the cancel is what is raised).
TEST(PointTiles, TheMakingOfTheNodesBelowReportsAndStopsWithinACube)
{
    for (const int clusters_cancel_again : {100, 110, 101, 111, 210}) {
        const int clusters = clusters_cancel_again / 100;
        const bool cancel = clusters_cancel_again / 10 % 10, again = clusters_cancel_again % 10;
        SCOPED_TRACE(clusters_cancel_again);
        TileBuilder::Settings s;
        s.memoryBytes = again ? 200000 : s.memoryBytes;
        s.folder = testing::TempDir() + "/nodes-progress";
        std::filesystem::remove_all(s.folder);
        s.span = 4;
        s.leafPoints = 64;
        s.bothCoresFrom = clusters > 1 ? 0 : s.bothCoresFrom;
        std::vector<double> xyz(3 * 40000), shares;
        std::mt19937 random(7);
        for (size_t i = 0; i < xyz.size(); ++i) // in cubes 3-0-0-0 and 3-7-7-7
            xyz[i] =
                std::uniform_real_distribution<double>(0.0, 0.1)(random) + (i / 3 % clusters ? 0.85 : 0.0);
        std::string raised;
        try {
            TileBuilder builder(s);
            builder.add(xyz.size() / 3, xyz.data(), nullptr, {});
            builder.finish([&](double share) {
                shares.push_back(share);
                if (cancel && share > 0 && share < 1)
                    throw std::runtime_error("cancelled");
            });
        } catch (const std::runtime_error &e) {
            raised = e.what();
        }
        const auto within =
            std::find_if(shares.begin(), shares.end(), [](double v) { return v > 0 && v < 1; });
        ASSERT_NE(within, shares.end());
        EXPECT_TRUE(std::is_sorted(shares.begin(), shares.end()));
        EXPECT_EQ(shares.back(), cancel ? *within : 1.0);
        EXPECT_TRUE(!cancel || &*within == &shares.back()); // nothing is heard after a cancel
        EXPECT_EQ(raised, cancel ? "cancelled" : "");
        EXPECT_EQ(std::filesystem::exists(s.folder + "/ept.json"), !cancel);
        std::filesystem::remove_all(s.folder);
    }
}
