// The similarity fit on centres with a known answer: a scale of 3.7, 40 degrees about a skew
// axis and a shift, on a spread of points and on the ring of a turntable (all centres in one
// plane), clean and with a tenth of the points thrown far off.
#include "math/Similarity.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

namespace {

const double kPi = 3.14159265358979323846;

Similarity known()
{
    Similarity T;
    T.s = 3.7;
    const double n = std::sqrt(1.0 + 4.0 + 0.25);
    T.R = rotationAbout({1 / n, -2 / n, 0.5 / n}, 40 * kPi / 180);
    T.t = {12.5, -3.25, 41};
    return T;
}

std::vector<Vec3d> spread(int n, unsigned seed)
{
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> u(-5, 5);
    std::vector<Vec3d> p(static_cast<size_t>(n));
    for (Vec3d &x : p)
        x = {u(random), u(random), 0.3 * u(random)};
    return p;
}

std::vector<Vec3d> ring(int n)
{
    std::vector<Vec3d> p;
    for (int i = 0; i < n; ++i)
        p.push_back({15 * std::cos(2 * kPi * i / n), 2, 15 * std::sin(2 * kPi * i / n)});
    return p;
}

double relative(double a, double b)
{
    return std::fabs(a - b) / std::max(1.0, std::fabs(b));
}

void expectRecovered(const SimilarityFit &fit, const Similarity &T)
{
    ASSERT_TRUE(fit.ok()) << fit.refusal;
    EXPECT_LT(relative(fit.transform.s, T.s), 1e-9);
    for (int k = 0; k < 9; ++k)
        EXPECT_LT(std::fabs(fit.transform.R[k] - T.R[k]), 1e-9) << "R element " << k;
    for (int k = 0; k < 3; ++k)
        EXPECT_LT(relative(fit.transform.t[k], T.t[k]), 1e-9) << "t component " << k;
    Vec3d axis, expectedAxis;
    double angle = 0, expectedAngle = 0;
    fit.transform.axisAngle(axis, angle);
    T.axisAngle(expectedAxis, expectedAngle);
    EXPECT_NEAR(angle, 40 * kPi / 180, 1e-9);
    for (int k = 0; k < 3; ++k)
        EXPECT_NEAR(axis[k], expectedAxis[k], 1e-9);
}

struct Layout {
    const char *name;
    std::vector<Vec3d> points;
};

TEST(Similarity, RecoversAKnownSimilarityCleanAndWithOutliers)
{
    const Similarity T = known();
    for (const Layout &layout : {Layout{"spread", spread(200, 7)}, Layout{"turntable ring", ring(40)}}) {
        SCOPED_TRACE(layout.name);
        std::vector<Vec3d> to;
        for (const Vec3d &x : layout.points)
            to.push_back(T.apply(x));
        expectRecovered(fitSimilarity(layout.points, to), T);
        expectRecovered(fitSimilarityRobust(layout.points, to), T);

        // Every tenth view far off (up to several times the size of the scene): the second
        // fit leaves exactly those out.
        std::mt19937 random(11);
        std::uniform_real_distribution<double> u(-80, 80);
        std::vector<bool> disturbed(to.size());
        for (size_t i = 3; i < to.size(); i += 10) {
            disturbed[i] = true;
            for (int k = 0; k < 3; ++k)
                to[i][k] += u(random) + (u(random) > 0 ? 60 : -60);
        }
        const SimilarityFit robust = fitSimilarityRobust(layout.points, to);
        expectRecovered(robust, T);
        for (size_t i = 0; i < to.size(); ++i)
            EXPECT_EQ(robust.used[i], !disturbed[i]) << "view " << i;
        // The plain fit is pulled away by them.
        EXPECT_GT(relative(fitSimilarity(layout.points, to).transform.s, T.s), 1e-6);
    }
}

TEST(Similarity, RefusesDegenerateInputWithTheReason)
{
    const Similarity T = known();
    const auto mapped = [&](const std::vector<Vec3d> &p) {
        std::vector<Vec3d> q;
        for (const Vec3d &x : p)
            q.push_back(T.apply(x));
        return q;
    };
    struct Case {
        const char *name;
        std::vector<Vec3d> from;
        const char *refusal;
    };
    const std::vector<Case> cases = {
        {"two views", {{0, 0, 0}, {1, 2, 3}}, "fewer than 3 matched views"},
        {"none", {}, "fewer than 3 matched views"},
        {"on a line", {{0, 0, 0}, {1, 2, 3}, {2, 4, 6}, {-3, -6, -9}}, "all centres on a line"},
        {"one point", {{1, 1, 1}, {1, 1, 1}, {1, 1, 1}}, "all centres on a line"},
        {"not finite", {{0, 0, 0}, {1, 0, 0}, {0, NAN, 0}}, "a camera centre is not a finite point"},
    };
    for (const Case &c : cases) {
        const SimilarityFit fit = fitSimilarityRobust(c.from, mapped(c.from));
        EXPECT_EQ(fit.refusal, c.refusal) << c.name;
    }
    EXPECT_EQ(fitSimilarity(spread(5, 1), spread(4, 1)).refusal, "the two lists of centres differ in length");
    // Reference centres on a line, the model's not.
    EXPECT_EQ(fitSimilarity(spread(4, 1), {{0, 0, 0}, {1, 1, 1}, {2, 2, 2}, {5, 5, 5}}).refusal, "all centres on a line");
}

TEST(Similarity, SingularValuesOfRankDeficientAndGeneralMatrices)
{
    const std::vector<Mat3d> matrices = {
        {2, -1, 0.5, 3, 4, -2, 0.1, 7, 1},
        {1, 2, 3, 2, 4, 6, -1, 0, 1}, // rank 2
        {1, 2, 3, 2, 4, 6, 3, 6, 9},  // rank 1
        {0, 0, 0, 0, 0, 0, 0, 0, 0},
    };
    for (const Mat3d &A : matrices) {
        Mat3d U, V;
        Vec3d s;
        svd3(A, U, s, V);
        EXPECT_GE(s[0], s[1]);
        EXPECT_GE(s[1], s[2]);
        const Mat3d back = multiply(multiply(U, {s[0], 0, 0, 0, s[1], 0, 0, 0, s[2]}), transpose(V));
        const Mat3d UtU = multiply(transpose(U), U), VtV = multiply(transpose(V), V);
        for (int k = 0; k < 9; ++k) {
            EXPECT_NEAR(back[k], A[k], 1e-12);
            EXPECT_NEAR(UtU[k], k % 4 == 0 ? 1 : 0, 1e-12);
            EXPECT_NEAR(VtV[k], k % 4 == 0 ? 1 : 0, 1e-12);
        }
    }
}

} // namespace
