#include "formats/SplatWriter.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

size_t SplatWriter::valuesPerSplat(int degree)
{
    return 17 + 3 * static_cast<size_t>((degree + 1) * (degree + 1) - 1);
}

std::vector<std::string> SplatWriter::propertyNames(int degree)
{
    std::vector<std::string> names = {"x", "y", "z", "nx", "ny", "nz", "f_dc_0", "f_dc_1", "f_dc_2"};
    for (int k = 0; k < 3 * ((degree + 1) * (degree + 1) - 1); ++k)
        names.push_back("f_rest_" + std::to_string(k));
    for (const char *n : {"opacity", "scale_0", "scale_1", "scale_2", "rot_0", "rot_1", "rot_2", "rot_3"})
        names.push_back(n);
    return names;
}

std::string SplatWriter::header(size_t count, int degree)
{
    std::string h = "ply\nformat binary_little_endian 1.0\nelement vertex " + std::to_string(count) + "\n";
    for (const auto &n : propertyNames(degree))
        h += "property float " + n + "\n";
    return h + "end_header\n";
}

bool SplatWriter::write(const std::string &path, int degree, const std::vector<float> &values)
{
    const size_t per = valuesPerSplat(degree);
    FILE *f = std::fopen(path.c_str(), "wb");
    if (!f)
        return false;
    const std::string h = header(values.size() / per, degree);
    bool ok = std::fwrite(h.data(), 1, h.size(), f) == h.size();
    // The file is little-endian whatever the machine.
    std::vector<unsigned char> bytes(4 * per * (values.size() / per));
    for (size_t k = 0; k < bytes.size() / 4; ++k) {
        uint32_t u;
        std::memcpy(&u, &values[k], 4);
        for (int b = 0; b < 4; ++b)
            bytes[4 * k + static_cast<size_t>(b)] = static_cast<unsigned char>(u >> (8 * b));
    }
    ok = ok && std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}
