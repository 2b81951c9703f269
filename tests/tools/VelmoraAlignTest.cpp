// velmora-align as a script runs it: two COLMAP models of the same twelve photographs, one
// the other moved by a known similarity, with one view of it thrown off.
#include "camera/ReconstructionTestFiles.h"
#include "support/ImageCompare.h"
#include "support/Process.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cmath>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

namespace {

using recontest::Cam;
using recontest::Vec;

const std::string kTool = std::string(VELMORA_BINARY_DIR) + "/velmora-align";
const double kPi = 3.14159265358979323846;

// Model to reference: X_ref = s R X_model + shift.
const double kScale = 3.7, kAngle = 40;
const double kAxis[3] = {0.4364357804719848, -0.8728715609439696, 0.2182178902359924};
const double kShift[3] = {12.5, -3.25, 41};

void quaternionProduct(const double a[4], const double b[4], double out[4])
{
    out[0] = a[0] * b[0] - a[1] * b[1] - a[2] * b[2] - a[3] * b[3];
    out[1] = a[0] * b[1] + b[0] * a[1] + a[2] * b[3] - a[3] * b[2];
    out[2] = a[0] * b[2] + b[0] * a[2] + a[3] * b[1] - a[1] * b[3];
    out[3] = a[0] * b[3] + b[0] * a[3] + a[1] * b[2] - a[2] * b[1];
}

struct Pair {
    recontest::Model reference, model;
};

// Twelve cameras round a ring at uneven heights; the model holds the same photographs (other
// folder, other extension, reverse order) in a frame the similarity takes onto the reference.
Pair makePair()
{
    Pair p;
    const recontest::Intr k{1, "PINHOLE", 1, 640, 480, {500, 500, 320, 240}, 500, 500, 320, 240};
    p.reference.intrinsics.push_back(k);
    p.model.intrinsics.push_back(k);
    const double h = kAngle * kPi / 360;
    const double qR[4] = {std::cos(h), std::sin(h) * kAxis[0], std::sin(h) * kAxis[1], std::sin(h) * kAxis[2]};
    double R[9];
    recontest::rotationOf(qR, R);
    for (int i = 11; i >= 0; --i) {
        const double a = 2 * kPi * i / 12;
        const double q[4] = {std::cos(a / 2 + 0.1 * i), 0.2, std::sin(a / 2), 0.05 * i};
        const Vec c{6 * std::cos(a), 1 + 0.3 * std::sin(3 * a), 6 * std::sin(a)};
        char name[32];
        std::snprintf(name, sizeof name, "v%02d.jpg", i);
        p.reference.cams.insert(p.reference.cams.begin(), recontest::camera(name, i + 1, 1, q, c));
        // c_model = R^T (c - shift) / s, and R_model = R_ref R.
        const double d[3] = {c.x - kShift[0], c.y - kShift[1], c.z - kShift[2]};
        Vec m{(R[0] * d[0] + R[3] * d[1] + R[6] * d[2]) / kScale, (R[1] * d[0] + R[4] * d[1] + R[7] * d[2]) / kScale,
              (R[2] * d[0] + R[5] * d[1] + R[8] * d[2]) / kScale};
        if (i == 7)
            m.x += 25; // far off: left out of the second fit
        double qm[4];
        quaternionProduct(q, qR, qm);
        std::snprintf(name, sizeof name, "images/v%02d.png", i);
        p.model.cams.push_back(recontest::camera(name, 100 + i, 1, qm, m));
    }
    return p;
}

std::string writeModel(const recontest::Model &m, const std::string &dir)
{
    mkdir(dir.c_str(), 0777);
    recontest::writeColmapText(m, dir);
    return dir;
}

TEST(VelmoraAlign, RecoversTheSimilarityAndNamesTheDisturbedView)
{
    const std::string dir = testsupport::makeTempDir("VelmoraAlign");
    const Pair p = makePair();
    const auto r = testsupport::runProcess(
        {kTool, writeModel(p.reference, dir + "/reference"), writeModel(p.model, dir + "/model")});
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(r.err, "");
    std::istringstream lines(r.out);
    std::string line;
    double s = 0, axis[3] = {0, 0, 0}, angle = 0, t[3] = {0, 0, 0};
    int found = 0, leftOut = 0;
    while (std::getline(lines, line)) {
        found += std::sscanf(line.c_str(), "s %lf", &s);
        found += std::sscanf(line.c_str(), "rotation axis %lf %lf %lf angle %lf degrees", &axis[0], &axis[1],
                             &axis[2], &angle);
        found += std::sscanf(line.c_str(), "t %lf %lf %lf", &t[0], &t[1], &t[2]);
        if (line.find("(left out of the fit)") != std::string::npos) {
            ++leftOut;
            EXPECT_EQ(line.rfind("v07.jpg", 0), 0u) << line;
        }
    }
    ASSERT_EQ(found, 8) << r.out;
    EXPECT_EQ(leftOut, 1) << r.out;
    EXPECT_NEAR(s, kScale, 1e-9 * kScale);
    EXPECT_NEAR(angle, kAngle, 1e-9 * kAngle);
    for (int k = 0; k < 3; ++k) {
        EXPECT_NEAR(axis[k], kAxis[k], 1e-9);
        EXPECT_NEAR(t[k], kShift[k], 1e-9 * std::fabs(kShift[k]));
    }
    EXPECT_NE(r.out.find("12 views matched by name, 11 used in the fit"), std::string::npos) << r.out;
    // The rotations agree once aligned: the summary's maximum is rounding only.
    double mean = 1, median = 1, maximum = 1;
    const size_t at = r.out.find("rotation error: mean");
    ASSERT_NE(at, std::string::npos);
    ASSERT_EQ(std::sscanf(r.out.c_str() + at, "rotation error: mean %lf, median %lf, maximum %lf", &mean, &median,
                          &maximum),
              3);
    EXPECT_LT(maximum, 1e-6);
}

TEST(VelmoraAlign, RefusesDegenerateInputsWithOneLine)
{
    const std::string dir = testsupport::makeTempDir("VelmoraAlignRefusals");
    const Pair p = makePair();
    const std::string reference = writeModel(p.reference, dir + "/reference");

    recontest::Model two = p.model, renamed = p.model, line = p.model;
    two.cams.resize(2);
    for (Cam &c : renamed.cams)
        c.name = "other_" + c.name.substr(7);
    recontest::Model lineReference = p.reference;
    for (size_t i = 0; i < line.cams.size(); ++i) {
        const double q[4] = {1, 0, 0, 0};
        const double u = static_cast<double>(i);
        line.cams[i] = recontest::camera(line.cams[i].name, line.cams[i].id, 1, q, {u, 2 * u, -u});
        lineReference.cams[11 - i] = recontest::camera(lineReference.cams[11 - i].name, lineReference.cams[11 - i].id,
                                                       1, q, {3 * u, 1, 0});
    }
    struct Case {
        std::string reference, model, message;
    };
    const std::vector<Case> cases = {
        {reference, writeModel(two, dir + "/two"), "velmora-align: fewer than 3 matched views\n"},
        {reference, writeModel(renamed, dir + "/renamed"), "velmora-align: no common photograph names\n"},
        {writeModel(lineReference, dir + "/lineReference"), writeModel(line, dir + "/line"),
         "velmora-align: all centres on a line\n"},
        {reference, dir + "/missing.dat", "velmora-align: " + dir + "/missing.dat: Unable to load camera file\n"},
    };
    for (const Case &c : cases) {
        const auto r = testsupport::runProcess({kTool, c.reference, c.model});
        EXPECT_EQ(r.exitStatus, 1) << c.model;
        EXPECT_EQ(r.err, c.message);
        EXPECT_EQ(r.out.find('\n') == std::string::npos || r.out.find("GLCamera") == 0, true) << r.out;
    }
}

} // namespace
