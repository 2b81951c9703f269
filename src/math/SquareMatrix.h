#ifndef VELMORA_SQUAREMATRIX_H
#define VELMORA_SQUAREMATRIX_H

#include <array>
#include <cstddef>

/// What Matrix3 and Matrix4 compute the same way over their N x N elements (reached through
/// `m(i, j)`, row i, column j).
namespace squarematrix {

/// The matrix whose element (i, j) is `element(i, j)`.
template <class M, int N, class F>
M byElements(F element)
{
    M r;
    for (int i = 0; i < N; i++)
        for (int j = 0; j < N; j++)
            r(i, j) = element(i, j);
    return r;
}

/// The product a b, every element summed in double before it is rounded to float.
template <class M, int N>
M product(const M &a, const M &b)
{
    return byElements<M, N>([&](int i, int j) {
        double sum = 0;
        for (int k = 0; k < N; k++)
            sum += double(a(i, k)) * b(k, j);
        return float(sum);
    });
}

/// The elements of `m` in double precision, row by row, or column by column where
/// `columnMajor` (as OpenGL keeps them).
template <int N, class M>
std::array<double, N * N> doubles(const M &m, bool columnMajor)
{
    std::array<double, N * N> d;
    for (int i = 0; i < N; i++)
        for (int j = 0; j < N; j++)
            d[static_cast<size_t>(columnMajor ? N * j + i : N * i + j)] = m(i, j);
    return d;
}

} // namespace squarematrix

#endif
