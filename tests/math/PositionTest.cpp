#include "math/Position.h"
#include "support/MathCompare.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

using namespace testsupport;

namespace {

Position randomPose(RandomGeometry &random)
{
    return Position(Matrix4(random.rotation().qtom(), random.vector(10)), random.uniform(1, 5),
                    random.uniform(-1, 1), random.uniform(-1, 1));
}

FILE *streamOf(const std::string &text)
{
    FILE *f = tmpfile();
    fputs(text.c_str(), f);
    rewind(f);
    return f;
}

} // namespace

TEST(Position, PrintFormatsAndReadBack)
{
    const Matrix3 quarterTurn(Point3(0, 1, 0), Point3(-1, 0, 0), Point3(0, 0, 1));
    const Position p(Matrix4(quarterTurn, Point3(1.5f, -2, 3)), 500, 0.25f, -0.5f);
    EXPECT_EQ(
        printed([&](FILE *out) { p.print(out); }),
        "0.707107 0.000000 0.000000 0.707107 1.500000 -2.000000 3.000000 500.000000 0.250000 -0.500000\n");
    EXPECT_EQ(printed([&](FILE *out) { p.printExtrinsic(out); }),
              "0.000000 -1.000000 0.000000\n1.000000 0.000000 0.000000\n0.000000 0.000000 1.000000\n"
              "1.500000 -2.000000 3.000000\n\n");

    RandomGeometry random(41);
    const Position written[2] = {randomPose(random), randomPose(random)};
    FILE *f = tmpfile();
    written[0].print(f);
    written[1].print(f);
    rewind(f);
    const Position first(f);
    Position second;
    EXPECT_TRUE(Position::read(f, second));
    EXPECT_FALSE(Position::read(f, second)) << "at the end of the stream";
    fclose(f);
    EXPECT_TRUE(near(first.getModelViewMatrix(), written[0].getModelViewMatrix(), 1e-5f));
    EXPECT_TRUE(near(second.getModelViewMatrix(), written[1].getModelViewMatrix(), 1e-5f));
    EXPECT_NEAR(second.focal, written[1].focal, 1e-6f);
    EXPECT_NEAR(second.panning[1], written[1].panning[1], 1e-6f);
}

TEST(Position, BadLinesAreReportedNotUsed)
{
    const struct {
        std::string text, message;
    } cases[] = {
        {"\n  \n", "Position: expected 10 numbers, read 0"},
        {"1 0 0 0 1 2 3\n1 0 0 0 1 2 3 4 5 6\n", "Position: expected 10 numbers, read 7"},
        {"1 0 0 0 1 2 x 4 5 6\n", "Position: expected 10 numbers, read 6"},
        {"1 0 0 0 1 2 3 4 5 6 7\n", "Position: unexpected text after 10 numbers"},
        {"1 0 0 0 nan 2 3 4 5 6\n", "Position: number 5 is not finite"},
        {"1 0 0 0 1 2 3 1e39 5 6\n", "Position: number 8 is not finite"},
        {std::string(3000, ' ') + "1 0 0 0 1 2 3 4 5 6\n", "Position: line longer than 2046 characters"},
    };
    for (const auto &c : cases) {
        FILE *f = streamOf(c.text);
        try {
            Position p(f);
            ADD_FAILURE() << "no error for \"" << c.text << "\"";
        } catch (const std::runtime_error &e) {
            EXPECT_EQ(std::string(e.what()), c.message);
        }
        rewind(f);
        Position untouched;
        untouched.focal = 7;
        EXPECT_FALSE(Position::read(f, untouched)) << c.text;
        EXPECT_EQ(untouched.focal, 7);
        // A short line is consumed on its own and does not borrow numbers from the next.
        EXPECT_EQ(Position::read(f, untouched), &c == &cases[1]) << c.text;
        fclose(f);
    }
}

TEST(Position, InterpolationFormsRunBetweenTheirKeys)
{
    RandomGeometry random(43);
    for (int n = 0; n < 20; n++) {
        const Position a = randomPose(random), b = randomPose(random), c = randomPose(random),
                       d = randomPose(random);
        const Point3 centre = random.vector(3);
        const float t = random.uniform(0, 1);
        // Forms 0 and 2 run from a to b, the spline forms 1 and 3 from b to c; 2 and 3 keep
        // the centre moving straight in eye space, 0 and 1 the translation.
        auto matrix = [&](int form, float s) {
            switch (form) {
            case 0:
                return Position::interpolModelViewMatrix(a, b, s);
            case 1:
                return Position::interpolModelViewMatrix(a, b, c, d, s);
            case 2:
                return Position::interpolModelViewMatrix(a, b, centre, s);
            default:
                return Position::interpolModelViewMatrix(a, b, c, d, centre, s);
            }
        };
        const Position held[4] = {Position::interpol(a, b, t), Position::interpol(a, b, c, d, t),
                                  Position::interpol(a, b, centre, t), Position::interpol(a, b, c, d, centre, t)};
        const Position *poses[4] = {&held[0], &held[1], &held[2], &held[3]};
        for (int i = 0; i < 4; i++) {
            const Position &from = i % 2 ? b : a, &to = i % 2 ? c : b;
            EXPECT_TRUE(near(matrix(i, 0), from.modelViewMatrix, 1e-4f)) << "form " << i;
            EXPECT_TRUE(near(matrix(i, 1), to.modelViewMatrix, 1e-4f)) << "form " << i;
            const Matrix4 m = matrix(i, t);
            const Point3 q = i < 2 ? Point3() : centre;
            EXPECT_TRUE(near(m * q, from.modelViewMatrix * q * (1 - t) + to.modelViewMatrix * q * t, 1e-4f))
                << i;
            EXPECT_TRUE(near(m.getSubMatrix(), matrix(i ^ 2, t).getSubMatrix(), 0))
                << "centred or not, same turn";

            EXPECT_TRUE(near(poses[i]->modelViewMatrix, m, 0)) << "form " << i;
            EXPECT_FLOAT_EQ(poses[i]->focal, Position::interpolFocal(from, to, t)) << "form " << i;
            EXPECT_FLOAT_EQ(poses[i]->panning[0], Position::interpolPanning(from, to, t).x) << "form " << i;
            EXPECT_TRUE(near(poses[i]->rotation.qtom(), m.getSubMatrix(), 1e-5f))
                << "markers use the rotation";
        }
        // Two results of one form held together stay apart: a later call changes neither.
        const Position other = Position::interpol(a, b, 1 - t);
        EXPECT_TRUE(near(held[0].modelViewMatrix, matrix(0, t), 0)) << "the first result kept its value";
        EXPECT_TRUE(near(other.modelViewMatrix, matrix(0, 1 - t), 0));
    }
}
