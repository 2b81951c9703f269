#include "objects/Material.h"

#include "support/GLTestFixture.h"

#include <GL/gl.h>

namespace {

class MaterialGL : public testsupport::GLTestFixture
{
};

void expectMaterial(GLenum face, GLenum parameter, const float *expected, const char *what)
{
    GLfloat actual[4] = {-1, -1, -1, -1};
    glGetMaterialfv(face, parameter, actual);
    for (int k = 0; k < 4; ++k)
        EXPECT_FLOAT_EQ(actual[k], expected[k]) << what << ", component " << k;
}

TEST_F(MaterialGL, SetLoadsFrontAndBackParametersWithTwoSidedLighting)
{
    Material m = Material::predefined[0];
    // Distinct values on each face, so that a parameter sent to the wrong face shows.
    m.backShininess = 12;
    m.backAmbient[0] = 0.1f;
    m.backSpecular[2] = 0.9f;
    glLightModeli(GL_LIGHT_MODEL_TWO_SIDE, 0);
    m.set();
    expectNoGLError();

    GLint twoSided = 0;
    glGetIntegerv(GL_LIGHT_MODEL_TWO_SIDE, &twoSided);
    EXPECT_EQ(twoSided, 1);
    GLfloat shininess = 0;
    glGetMaterialfv(GL_FRONT, GL_SHININESS, &shininess);
    EXPECT_EQ(shininess, 60);
    glGetMaterialfv(GL_BACK, GL_SHININESS, &shininess);
    EXPECT_EQ(shininess, 12);
    expectMaterial(GL_FRONT, GL_AMBIENT, m.frontAmbient, "front ambient");
    expectMaterial(GL_FRONT, GL_DIFFUSE, m.frontDiffuse, "front diffuse");
    expectMaterial(GL_FRONT, GL_SPECULAR, m.frontSpecular, "front specular");
    expectMaterial(GL_BACK, GL_AMBIENT, m.backAmbient, "back ambient");
    expectMaterial(GL_BACK, GL_DIFFUSE, m.backDiffuse, "back diffuse");
    expectMaterial(GL_BACK, GL_SPECULAR, m.backSpecular, "back specular");
    EXPECT_FALSE(glIsEnabled(GL_BLEND));
}

TEST_F(MaterialGL, TranslucentFacesEnableBlendingButATranslucentWireDoesNot)
{
    Material wire = Material::predefined[1];
    wire.wireColor[3] = 0.3f;
    wire.set();
    EXPECT_FALSE(glIsEnabled(GL_BLEND));

    Material glass = Material::predefined[1];
    glass.backDiffuse[3] = 0.4f;
    glass.set();
    expectNoGLError();
    EXPECT_TRUE(glIsEnabled(GL_BLEND));
}

} // namespace
