#ifndef VELMORA_MATERIAL_H
#define VELMORA_MATERIAL_H

#include <cstddef>
#include <cstdio>

/// The OpenGL lighting parameters of a mesh: 30 floats, copied whole.
///
/// The field order is part of the mesh file format: the first 13 floats (front shininess,
/// ambient, diffuse and specular) are exactly the material block of a binary mesh, which is
/// read straight into the start of the object. Colours are RGBA with components 0 to 1.
struct Material {
    float frontShininess;
    float frontAmbient[4];
    float frontDiffuse[4];
    float frontSpecular[4];
    float backShininess;
    float backAmbient[4];
    float backDiffuse[4];
    float backSpecular[4];
    float wireColor[4];

    /// The selectable materials; index 0 is the default of every mesh.
    static const Material predefined[3];
    static constexpr int nPredefined = 3;

    /// Turns two-sided lighting on and loads the front and back parameters into OpenGL;
    /// enables blending when blend() says the faces are translucent. Needs a current context.
    void set() const;
    /// True when any front or back ambient, diffuse or specular alpha is below 1.
    bool blend() const;
    /// True when the wire colour is translucent.
    bool wireBlend() const;
    /// Front shininess and the seven colours, one per line (back shininess is not shown).
    void print() const;
    void print(FILE *out) const;
};

static_assert(sizeof(Material) == 30 * sizeof(float), "Material must be 30 packed floats");
static_assert(offsetof(Material, backShininess) == 13 * sizeof(float),
              "the first 13 floats of Material are the mesh file's material block");

#endif
