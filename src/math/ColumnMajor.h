#ifndef VELMORA_COLUMNMAJOR_H
#define VELMORA_COLUMNMAJOR_H

/// out = a b for 4 x 4 matrices stored column by column, as OpenGL and glTF keep them, in
/// any number type; `out` is neither `a` nor `b`.
template <class T> void multiplyColumnMajor4(const T *a, const T *b, T *out)
{
    for (int c = 0; c < 4; ++c)
        for (int r = 0; r < 4; ++r) {
            T s = 0;
            for (int k = 0; k < 4; ++k)
                s += a[4 * k + r] * b[4 * c + k];
            out[4 * c + r] = s;
        }
}

#endif
