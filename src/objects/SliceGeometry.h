#ifndef VELMORA_SLICEGEOMETRY_H
#define VELMORA_SLICEGEOMETRY_H

/// Where the three axis-aligned slice planes of a voxel grid stand: plane X is the plane
/// x = position[0] shown over (y, z), plane Y over (x, z), plane Z over (x, y).
struct SliceGeometry {
    float origin[3] = {0, 0, 0};     ///< world position of voxel (0, 0, 0)'s minimum corner
    float voxelSize[3] = {1, 1, 1};
    int size[3] = {1, 1, 1};         ///< voxels per axis
    int textureSize[3] = {1, 1, 1};  ///< power-of-two texture side per axis
    int position[3] = {0, 0, 0};     ///< slice index per axis
    bool visible[3] = {false, false, true};

    /// The texture axes of `plane`: u along first, v along second.
    static void planeAxes(int plane, int &first, int &second);
    /// Moves the planes to slices (x, y, z), each clamped to the grid; `moved[k]` is set for
    /// every plane that changed. Returns whether any did.
    bool moveTo(int x, int y, int z, bool moved[3]);
};

#endif
