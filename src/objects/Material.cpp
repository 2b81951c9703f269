#include "objects/Material.h"

#include "math/Messages.h"

#include <GL/gl.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

struct Rgb {
    float r, g, b;
};

constexpr void setColour(float *c, const Rgb &rgb)
{
    c[0] = rgb.r;
    c[1] = rgb.g;
    c[2] = rgb.b;
    c[3] = 1;
}

/// An opaque material of shininess 60 on both faces with grey ambient and specular colours
/// and a black wire; only the diffuse colour may differ between the faces.
constexpr Material litBothSides(float ambient, Rgb frontDiffuse, Rgb backDiffuse, float specular)
{
    Material m{};
    m.frontShininess = m.backShininess = 60;
    setColour(m.frontAmbient, {ambient, ambient, ambient});
    setColour(m.backAmbient, {ambient, ambient, ambient});
    setColour(m.frontDiffuse, frontDiffuse);
    setColour(m.backDiffuse, backDiffuse);
    setColour(m.frontSpecular, {specular, specular, specular});
    setColour(m.backSpecular, {specular, specular, specular});
    setColour(m.wireColor, {0, 0, 0});
    return m;
}

} // namespace

const Material Material::predefined[3] = {
    // The back a shade lighter than the front. Ambient (under the default global ambient of
    // 0.2), diffuse and specular add up to less than one: a flat face seen face-on under the
    // light from the eye keeps its grey rather than burning out to white.
    litBothSides(0.5f, {0.65f, 0.65f, 0.65f}, {0.67f, 0.67f, 0.67f}, 0.15f),
    litBothSides(0.2f, {0.76f, 0.56f, 0.5f}, {0.76f, 0.56f, 0.5f}, 0.4f),
    litBothSides(1, {0.87f, 0.87f, 0.87f}, {0.87f, 0.87f, 0.87f}, 0.15f),
};

void Material::set() const
{
    // Meshes are often open surfaces whose inside shows, so the back faces are lit too.
    glLightModeli(GL_LIGHT_MODEL_TWO_SIDE, 1);
    glMaterialf(GL_FRONT, GL_SHININESS, frontShininess);
    glMaterialfv(GL_FRONT, GL_SPECULAR, frontSpecular);
    glMaterialfv(GL_FRONT, GL_DIFFUSE, frontDiffuse);
    glMaterialfv(GL_FRONT, GL_AMBIENT, frontAmbient);
    glMaterialf(GL_BACK, GL_SHININESS, backShininess);
    glMaterialfv(GL_BACK, GL_SPECULAR, backSpecular);
    glMaterialfv(GL_BACK, GL_DIFFUSE, backDiffuse);
    glMaterialfv(GL_BACK, GL_AMBIENT, backAmbient);
    if (blend())
        glEnable(GL_BLEND);
}

bool Material::blend() const
{
    return frontAmbient[3] < 1 || frontDiffuse[3] < 1 || frontSpecular[3] < 1 || backAmbient[3] < 1 ||
           backDiffuse[3] < 1 || backSpecular[3] < 1;
}

bool Material::wireBlend() const
{
    return wireColor[3] < 1;
}

void Material::print() const
{
    msg::printed(MessageLevel::Note, [this](FILE *out) { print(out); });
}

void Material::print(FILE *out) const
{
    std::fprintf(out, "%f\n", frontShininess);
    const float *colours[] = {frontAmbient, frontDiffuse, frontSpecular, backAmbient,
                              backDiffuse,  backSpecular, wireColor};
    for (const float *c : colours)
        std::fprintf(out, "%f %f %f %f\n", c[0], c[1], c[2], c[3]);
}
