#include "math/Quaternion.h"

void Quaternion::print(FILE *out) const
{
    fprintf(out, "[%f %f %f %f]\n", value.x, value.y, value.z, value.w);
}
