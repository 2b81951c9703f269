#include "objects/SliceGeometry.h"

#include <algorithm>

void SliceGeometry::planeAxes(int plane, int &first, int &second)
{
    first = plane == 0 ? 1 : 0;
    second = plane == 2 ? 1 : 2;
}

bool SliceGeometry::moveTo(int x, int y, int z, bool moved[3])
{
    const int want[3] = {x, y, z};
    bool changed = false;
    for (int k = 0; k < 3; ++k) {
        const int p = std::clamp(want[k], 0, size[k] - 1);
        if (p != position[k]) {
            position[k] = p;
            moved[k] = true;
            changed = true;
        }
    }
    return changed;
}
