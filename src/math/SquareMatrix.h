#ifndef VELMORA_SQUAREMATRIX_H
#define VELMORA_SQUAREMATRIX_H

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

} // namespace squarematrix

#endif
