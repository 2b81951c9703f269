// velmora-distance as a script runs it: points at known heights above a square, and another
// program's model (OFF text) and a text cloud as the point set.
#include "formats/MeshFile.h"
#include "support/ImageCompare.h"
#include "support/MeshBytes.h"
#include "support/Process.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace {

const std::string kTool = std::string(VELMORA_BINARY_DIR) + "/velmora-distance";

class VelmoraDistance : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        dir = testsupport::makeTempDir("VelmoraDistance");
        // The square [0, 4] x [0, 4] in z = 0, and 20 points over its inside at heights
        // 0.1 ... 2.0, with one more of them below it (the figures are over the magnitudes).
        testsupport::MeshBytes().mesh({0, 0, 0, 4, 0, 0, 4, 4, 0, 0, 4, 0}, {0, 1, 2, 0, 2, 3}).write(dir + "/square.tri");
        // The same square with its halves facing opposite ways: no side to sign by.
        testsupport::MeshBytes().mesh({0, 0, 0, 4, 0, 0, 4, 4, 0, 0, 4, 0}, {0, 1, 2, 0, 3, 2}).write(dir + "/flipped.tri");
        std::vector<float> v;
        std::vector<int> t;
        for (int k = 1; k <= 20; ++k)
            v.insert(v.end(), {0.5f + 0.15f * k, 2.0f, (k == 20 ? -0.1f : 0.1f) * k});
        for (int k = 0; k + 2 < 20; ++k)
            t.insert(t.end(), {k, k + 1, k + 2});
        testsupport::MeshBytes().mesh(v, t).write(dir + "/points.tri");
        std::ofstream off(dir + "/points.off");
        off << "OFF\n20 1 0\n";
        for (size_t k = 0; k < v.size(); k += 3)
            off << v[k] << " " << v[k + 1] << " " << v[k + 2] << "\n";
        off << "3 0 1 2\n";
        // The same points as a text cloud, which its reader keeps relative to an origin.
        std::ofstream xyz(dir + "/points.xyz");
        for (size_t k = 0; k < v.size(); k += 3)
            xyz << v[k] << " " << v[k + 1] << " " << v[k + 2] << "\n";
    }

    static std::string dir;
};

std::string VelmoraDistance::dir;

TEST_F(VelmoraDistance, PrintsMeanRmsPercentileAndMaximumInOneLine)
{
    // Heights 0.1 k for k = 1..20: mean 1.05, RMS sqrt(sum k^2 / 20) / 10, 95th percentile
    // (nearest rank 19) 1.9, maximum 2.
    const double rms = std::sqrt(2870.0 / 20) / 10;
    for (const char *from : {"points.tri", "points.off", "points.xyz"}) {
        const auto r = testsupport::runProcess({kTool, dir + "/" + from, dir + "/square.tri"});
        ASSERT_EQ(r.exitStatus, 0) << r.err;
        double mean, median, rmsRead, p95, maximum;
        int n = 0;
        ASSERT_EQ(std::sscanf(r.out.c_str(), "mean %lf, median %lf, RMS %lf, 95th percentile %lf, maximum %lf (%d points)\n",
                              &mean, &median, &rmsRead, &p95, &maximum, &n),
                  6)
            << r.out;
        EXPECT_EQ(r.out.find('\n'), r.out.size() - 1) << r.out;
        EXPECT_EQ(n, 20);
        EXPECT_NEAR(mean, 1.05, 1e-5);
        EXPECT_NEAR(median, 1.05, 1e-5);
        EXPECT_NEAR(rmsRead, rms, 1e-5);
        EXPECT_NEAR(p95, 1.9, 1e-5);
        EXPECT_NEAR(maximum, 2.0, 1e-5);
    }
    // Beyond 1.0: the ten highest are counted apart.
    const auto r = testsupport::runProcess({kTool, dir + "/points.tri", dir + "/square.tri", "--max", "1.05"});
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_NE(r.out.find("maximum 1 (10 points, 10 beyond 1.05; signed, positive outside)\n"), std::string::npos)
        << r.out;
    // The line says whether the distances were signed, as the panel's "Distance to..." does;
    // the figures do not change.
    const auto flipped = testsupport::runProcess({kTool, dir + "/points.tri", dir + "/flipped.tri"});
    ASSERT_EQ(flipped.exitStatus, 0) << flipped.err;
    EXPECT_NE(flipped.out.find("maximum 2 (20 points; unsigned: its normals are not consistent)\n"), std::string::npos)
        << flipped.out;
}

TEST_F(VelmoraDistance, WritesTheCloudWithItsDistancesAsPly)
{
    const std::string out = dir + "/measured.ply";
    const auto r = testsupport::runProcess({kTool, dir + "/points.xyz", dir + "/square.tri", "--ply", out});
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    const MeshFile back = MeshFile::read(out.c_str());
    ASSERT_TRUE(back.kind == MeshFile::FOREIGN && back.foreign.isPointCloud);
    const PointListData &p = back.foreign.points;
    ASSERT_EQ(p.nPoints, 20);
    ASSERT_TRUE(p.values);
    EXPECT_EQ(back.foreign.valueName, "distance");
    for (int k = 1; k <= 20; ++k) {
        // The file's coordinates, whatever origin the reader kept them from.
        EXPECT_NEAR(p.origin[0] + p.points[3 * (k - 1)], 0.5 + 0.15 * k, 1e-5) << k;
        EXPECT_NEAR(p.values[k - 1], (k == 20 ? -0.1 : 0.1) * k, 1e-5) << k;
    }
}

TEST_F(VelmoraDistance, RefusalsAreOneLine)
{
    struct Case {
        std::vector<std::string> args;
        std::string message;
    };
    const std::vector<Case> cases = {
        {{dir + "/points.tri"}, "velmora-distance: usage: velmora-distance FROM TO [--max D] [--ply OUT]\n"},
        {{dir + "/points.tri", dir + "/square.tri", "--max", "-1"}, "velmora-distance: bad maximum distance -1\n"},
        {{dir + "/points.tri", dir + "/none.tri"}, "velmora-distance: " + dir + "/none.tri: can't read file\n"},
    };
    for (const Case &c : cases) {
        std::vector<std::string> args = c.args;
        args.insert(args.begin(), kTool);
        const auto r = testsupport::runProcess(args);
        EXPECT_EQ(r.exitStatus, 1);
        EXPECT_EQ(r.err, c.message);
        EXPECT_EQ(r.out, "");
    }
}

} // namespace
