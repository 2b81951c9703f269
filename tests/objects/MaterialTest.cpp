#include "objects/Material.h"

#include "math/Messages.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct ExpectedMaterial {
    float shininess;
    float ambient[4];
    float frontDiffuse[4];
    float backDiffuse[4];
    float specular[4];
};

void expectColour(const float *actual, const float *expected, const char *what, int index)
{
    for (int k = 0; k < 4; ++k)
        EXPECT_FLOAT_EQ(actual[k], expected[k]) << what << " of material " << index << ", component " << k;
}

TEST(Material, PredefinedMaterialsHoldTheirTableValues)
{
    const ExpectedMaterial table[3] = {
        {60,
         {0.5f, 0.5f, 0.5f, 1},
         {0.65f, 0.65f, 0.65f, 1},
         {0.67f, 0.67f, 0.67f, 1},
         {0.15f, 0.15f, 0.15f, 1}},
        {60, {0.2f, 0.2f, 0.2f, 1}, {0.76f, 0.56f, 0.5f, 1}, {0.76f, 0.56f, 0.5f, 1}, {0.4f, 0.4f, 0.4f, 1}},
        {60, {1, 1, 1, 1}, {0.87f, 0.87f, 0.87f, 1}, {0.87f, 0.87f, 0.87f, 1}, {0.15f, 0.15f, 0.15f, 1}},
    };
    const float opaqueBlack[4] = {0, 0, 0, 1};
    for (int i = 0; i < 3; ++i) {
        const Material &m = Material::predefined[i];
        const ExpectedMaterial &e = table[i];
        EXPECT_EQ(m.frontShininess, e.shininess);
        EXPECT_EQ(m.backShininess, e.shininess);
        expectColour(m.frontAmbient, e.ambient, "front ambient", i);
        expectColour(m.backAmbient, e.ambient, "back ambient", i);
        expectColour(m.frontDiffuse, e.frontDiffuse, "front diffuse", i);
        expectColour(m.backDiffuse, e.backDiffuse, "back diffuse", i);
        expectColour(m.frontSpecular, e.specular, "front specular", i);
        expectColour(m.backSpecular, e.specular, "back specular", i);
        expectColour(m.wireColor, opaqueBlack, "wire colour", i);
    }
}

TEST(Material, BlendFollowsTheFaceAlphasAndWireBlendTheWireAlpha)
{
    for (const Material &m : Material::predefined) {
        EXPECT_FALSE(m.blend());
        EXPECT_FALSE(m.wireBlend());
    }
    float(Material::*const faceColours[])[4] = {&Material::frontAmbient,  &Material::frontDiffuse,
                                                &Material::frontSpecular, &Material::backAmbient,
                                                &Material::backDiffuse,   &Material::backSpecular};
    int index = 0;
    for (auto colour : faceColours) {
        Material m = Material::predefined[0];
        (m.*colour)[3] = 0.99f;
        EXPECT_TRUE(m.blend()) << "face colour " << index;
        EXPECT_FALSE(m.wireBlend()) << "face colour " << index;
        // Dark or bright RGB does not make a face translucent.
        (m.*colour)[3] = 1;
        (m.*colour)[0] = 0;
        EXPECT_FALSE(m.blend()) << "face colour " << index;
        ++index;
    }

    Material wire = Material::predefined[2];
    wire.wireColor[3] = 0.5f;
    EXPECT_TRUE(wire.wireBlend());
    EXPECT_FALSE(wire.blend());
}

std::string printed(const Material &m)
{
    FILE *f = std::tmpfile();
    if (f == nullptr)
        return "tmpfile failed";
    m.print(f);
    std::string text;
    std::rewind(f);
    char buffer[256];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0)
        text.append(buffer, n);
    std::fclose(f);
    return text;
}

TEST(Material, PrintShowsFrontShininessAndTheSevenColours)
{
    Material m = Material::predefined[1];
    m.backShininess = 17.25f;
    m.backDiffuse[1] = 0.125f;
    m.wireColor[3] = 0.5f;
    EXPECT_EQ(printed(m), "60.000000\n"
                          "0.200000 0.200000 0.200000 1.000000\n"
                          "0.760000 0.560000 0.500000 1.000000\n"
                          "0.400000 0.400000 0.400000 1.000000\n"
                          "0.200000 0.200000 0.200000 1.000000\n"
                          "0.760000 0.125000 0.500000 1.000000\n"
                          "0.400000 0.400000 0.400000 1.000000\n"
                          "0.000000 0.000000 0.000000 0.500000\n");

    CapturingMessageSink said;
    ScopedMessageSink scope(said);
    m.print();
    EXPECT_EQ(said.text(MessageLevel::Note), printed(m));
}

} // namespace
