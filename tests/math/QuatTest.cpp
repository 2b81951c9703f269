#include "math/Quat.h"
#include "math/Quaternion.h"
#include "support/MathCompare.h"

#include <gtest/gtest.h>

using namespace testsupport;

namespace {

Quat aboutAxis(const Point3 &u, float angle)
{
    const Point3 v = u.normalized() * std::sin(angle / 2);
    return Quat(std::cos(angle / 2), v.x, v.y, v.z);
}

} // namespace

TEST(Quat, MatricesAgreeWithQuaternionAndAxisAngle)
{
    EXPECT_EQ(Quat().norm(), 0) << "the default is not the identity";
    EXPECT_EQ(printed([](FILE *out) { Quat(1, 2, 3, 4).print(out); }),
              "1.000000 2.000000 3.000000 4.000000\n");
    const Quat half(Matrix4(Point3(1, 0, 0), kPi).getSubMatrix());
    EXPECT_NEAR(half.w, 0, 1e-6f);
    EXPECT_NEAR(std::fabs(half.x), 1, 1e-6f);

    RandomGeometry random(17);
    for (int n = 0; n < 300; n++) {
        const Point3 u = random.direction();
        // Every third turn lies near a half turn, where the rounding of the matrix hurts most.
        const float angle = n % 3 ? random.uniform(-kPi, kPi) : kPi - random.uniform(0, 0.05f);
        const Matrix3 m = Matrix4(u, angle).getSubMatrix();
        const Quat q = aboutAxis(u, angle);
        EXPECT_TRUE(near(q.qtom(), m, 1e-5f)) << n;
        EXPECT_TRUE(near(Matrix3(Quaternion(u, angle)), q.qtom(), 1e-5f)) << n;
        EXPECT_TRUE(sameRotation(Quat(m), q, 1e-5f)) << n << " angle " << angle;
        if (q.w > 0.01f) {
            EXPECT_GT(Quat(m).w, 0) << n;
        }
    }
}

TEST(Quat, ProductLogarithmPowerAndAngles)
{
    EXPECT_TRUE(sameRotation(Quat(0, 1, 0, 0) * Quat(0, 0, 1, 0), Quat(0, 0, 0, 1), 0)) << "i j = k";
    RandomGeometry random(23);
    for (int n = 0; n < 50; n++) {
        const Quat a = random.rotation(), b = random.rotation();
        EXPECT_TRUE(near((a * b).qtom(), a.qtom() * b.qtom(), 1e-5f)) << n;
        EXPECT_TRUE(sameRotation(a * a.inv(), Quat(1, 0, 0, 0), 1e-6f)) << n;

        const Point3 u = random.direction();
        const float angle = random.uniform(0.01f, 2 * kPi - 0.01f);
        const Quat q = aboutAxis(u, angle), l = q.ln();
        EXPECT_NEAR(std::sqrt(l.dot(l)), angle / 2, 1e-5f) << n;
        EXPECT_TRUE(sameRotation(l.exp(), q, 1e-5f)) << n;
        EXPECT_TRUE(sameRotation(q.power(0.25f), aboutAxis(u, angle / 4), 1e-5f)) << n;
    }
    const Quat one(1.0000001f, 0, 0, 0);
    ASSERT_GT(one.dot(one), 1) << "a unit quaternion a rounding step long";
    EXPECT_EQ(one.angle(one), 0);
    EXPECT_NEAR(one.angleWrapped(one.op()), 0, 1e-6f);
}

TEST(Quat, SlerpAndSquad)
{
    RandomGeometry random(31);
    for (int n = 0; n < 50; n++) {
        const Quat p = random.rotation(), a = random.rotation(), b = random.rotation(), q = random.rotation();
        const Quat mid = Quat::slerp(p, q, 0.5f);
        EXPECT_TRUE(sameRotation(Quat::slerp(p, q, 0), p, 1e-5f)) << n;
        EXPECT_TRUE(sameRotation(Quat::slerp(p, q, 1), q, 1e-5f)) << n;
        EXPECT_TRUE(sameRotation(Quat::slerp(p, p.op(), 0.5f), p, 1e-5f)) << n;
        EXPECT_NEAR(mid.norm(), 1, 1e-6f);
        EXPECT_NEAR(p.angleWrapped(mid), p.angleWrapped(q) / 2, 1e-3f) << "halfway along the shorter arc";
        EXPECT_NEAR(mid.angleWrapped(q), p.angleWrapped(q) / 2, 1e-3f);

        EXPECT_TRUE(sameRotation(Quat::squad(p, a, b, q, 0), p, 1e-5f)) << n;
        EXPECT_TRUE(sameRotation(Quat::squad(p, a, b, q, 1), q, 1e-5f)) << n;
        EXPECT_TRUE(
            sameRotation(Quat::innerQuadPoint(p.op(), a, b.op()), Quat::innerQuadPoint(p, a, b), 1e-5f));
    }
    // Through uneven keys the inner points keep the turning rate across a key: the steps
    // just before and just after it cancel up to second order.
    const Quat k[4] = {aboutAxis(Point3(1, 0, 0), 0.3f), aboutAxis(Point3(1, 1, 0), 0.9f),
                       aboutAxis(Point3(0, 1, 2), 0.6f), aboutAxis(Point3(-1, 0, 1), 1.4f)};
    const Quat b1 = Quat::innerQuadPoint(k[0], k[1], k[2]);
    const float h = 0.001f;
    auto step = [](const Quat &q) { return (q.w < 0 ? q.op() : q).ln(); };
    const Quat before =
        step(k[1].inv() * Quat::squad(k[0], Quat::innerQuadPoint(k[0], k[0], k[1]), b1, k[1], 1 - h));
    const Quat after =
        step(k[1].inv() * Quat::squad(k[1], b1, Quat::innerQuadPoint(k[1], k[2], k[3]), k[2], h));
    const Quat sum = before + after;
    EXPECT_LT(std::sqrt(sum.dot(sum)), 0.05f * std::sqrt(after.dot(after)));
}
