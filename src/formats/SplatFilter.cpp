#include "formats/SplatFilter.h"

#include "formats/SplatReader.h"
#include "math/Messages.h"
#include "math/Parallel.h"

#include <algorithm>
#include <cmath>

namespace {

bool finite(const float *v, size_t n)
{
    for (size_t k = 0; k < n; ++k)
        if (!std::isfinite(v[k]))
            return false;
    return true;
}

bool drawable(const SplatScene &s, size_t i)
{
    const float *sc = &s.scale[3 * i];
    const float *q = &s.rotation[4 * i];
    if (!finite(&s.position[3 * i], 3) || !finite(sc, 3) || !finite(q, 4) || !finite(&s.dc[3 * i], 3) ||
        !std::isfinite(s.opacity[i]))
        return false;
    for (int k = 0; k < 3; ++k)
        if (!(sc[k] <= SplatReader::SCALE_LIMIT))
            return false;
    if (q[0] == 0 && q[1] == 0 && q[2] == 0 && q[3] == 0)
        return false;
    return s.restStep.empty() || std::isfinite(s.restStep[i]);
}

} // namespace

void SplatFilter::normaliseRotation(float *q)
{
    const double n = std::sqrt(static_cast<double>(q[0]) * q[0] + static_cast<double>(q[1]) * q[1] +
                               static_cast<double>(q[2]) * q[2] + static_cast<double>(q[3]) * q[3]);
    for (int k = 0; k < 4; ++k)
        q[k] = n > 0 && std::isfinite(n) ? static_cast<float>(q[k] / n) : 0.f;
}

void SplatFilter::apply(SplatScene &s, const std::string &name)
{
    // The checks on both cores; the splats move only when one is left out.
    std::vector<char> good(s.count);
    size_t bad[2] = {0, 0};
    Parallel::split(s.count, s.count < 8192 ? 1 : 2, [&](unsigned part, size_t first, size_t last) {
        for (size_t i = first; i < last; ++i) {
            good[i] = drawable(s, i);
            bad[part] += !good[i];
        }
    });
    if (bad[0] + bad[1] == 0)
        return;
    size_t kept = 0;
    for (size_t i = 0; i < s.count; ++i) {
        if (!good[i])
            continue;
        if (kept != i)
            s.copySplat(s, i, kept);
        ++kept;
    }
    s.skipped += s.count - kept;
    if (kept == s.count)
        return;
    const size_t left = s.count - kept;
    s.truncate(kept);
    msg::warning("%s: %zu splats skipped (zero rotation, a value that is not finite or a scale above %g)\n",
                 name.c_str(), left, static_cast<double>(SplatReader::SCALE_LIMIT));
}
