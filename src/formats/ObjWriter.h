#ifndef VELMORA_OBJWRITER_H
#define VELMORA_OBJWRITER_H

#include "formats/MeshOutput.h"

#include <string>

/// Writes Wavefront OBJ files: "v" a vertex, "vt" a corner of a textured triangle (three a
/// triangle, v upwards as OBJ has it), "f" a triangle (1-based, with its corners' "vt"), and,
/// for a textured mesh, the material file NAME.mtl beside it with one material an image
/// ("map_Kd" naming it) and "usemtl" before the faces of each. Colours and data items have
/// no place in OBJ and are left out. Both files go through temporary names (PartFile); a
/// failed write raises a `std::runtime_error` saying why.
class ObjWriter {
public:
    static void write(const std::string &path, const MeshOutput &mesh);
};

#endif
