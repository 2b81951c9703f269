#include "formats/LasWriter.h"

#include "formats/PartFile.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <limits>
#include <stdexcept>
#include <vector>

namespace {

constexpr size_t kHeaderBytes = 375;
constexpr unsigned kRecordLength[3] = {30, 36, 38}; // formats 6, 7, 8

void put16(unsigned char *b, uint16_t v)
{
    b[0] = static_cast<unsigned char>(v);
    b[1] = static_cast<unsigned char>(v >> 8);
}
void put32(unsigned char *b, uint32_t v)
{
    put16(b, static_cast<uint16_t>(v));
    put16(b + 2, static_cast<uint16_t>(v >> 16));
}
void put64(unsigned char *b, uint64_t v)
{
    put32(b, static_cast<uint32_t>(v));
    put32(b + 4, static_cast<uint32_t>(v >> 32));
}
void putDouble(unsigned char *b, double v)
{
    uint64_t bits;
    std::memcpy(&bits, &v, 8);
    put64(b, bits);
}

// What the header says besides the records, gathered while they are written.
struct Totals {
    double lo[3], hi[3];
    uint64_t byReturn[15] = {0};
    Totals()
    {
        std::fill(lo, lo + 3, std::numeric_limits<double>::infinity());
        std::fill(hi, hi + 3, -std::numeric_limits<double>::infinity());
    }
};

void header(unsigned char *h, int format, const LasScaling &s, uint64_t n, const Totals &t)
{
    std::memset(h, 0, kHeaderBytes);
    std::memcpy(h, "LASF", 4);
    put16(h + 6, 16); // global encoding: the coordinate system would be WKT (formats 6 and up)
    h[24] = 1;
    h[25] = 4;
    std::strncpy(reinterpret_cast<char *>(h + 26), "velmora", 32);
    std::strncpy(reinterpret_cast<char *>(h + 58), "velmora", 32);
    const std::time_t now = std::time(nullptr);
    std::tm day{};
    gmtime_r(&now, &day);
    put16(h + 90, static_cast<uint16_t>(day.tm_yday + 1));
    put16(h + 92, static_cast<uint16_t>(day.tm_year + 1900));
    put16(h + 94, kHeaderBytes);
    put32(h + 96, kHeaderBytes);
    h[104] = static_cast<unsigned char>(format);
    put16(h + 105, static_cast<uint16_t>(kRecordLength[format - 6]));
    // The legacy counts stay zero for formats 6 and up.
    for (int k = 0; k < 3; ++k) {
        putDouble(h + 131 + 8 * k, s.scale[k]);
        putDouble(h + 155 + 8 * k, s.offset[k]);
        putDouble(h + 179 + 16 * k, n ? t.hi[k] : 0);
        putDouble(h + 187 + 16 * k, n ? t.lo[k] : 0);
    }
    put64(h + 247, n);
    for (int r = 0; r < 15; ++r)
        put64(h + 255 + 8 * r, t.byReturn[r]);
}

} // namespace

LasScaling LasWriter::scalingFor(const double lo[3], const double hi[3])
{
    LasScaling s;
    for (int k = 0; k < 3; ++k) {
        const double centre = std::isfinite(lo[k] + hi[k]) ? std::round(0.5 * (lo[k] + hi[k])) : 0;
        const double reach = std::isfinite(hi[k] - lo[k]) ? std::max(hi[k] - centre, centre - lo[k]) : 0;
        double scale = 0.001;
        while (reach / scale > 2e9)
            scale *= 10;
        s.scale[k] = scale;
        s.offset[k] = centre;
    }
    return s;
}

void LasWriter::write(const std::string &path, int format, const LasScaling &s, size_t n, const PointSource &points)
{
    size_t next = 0;
    write(path, format, s, [&](LasPoint &p) {
        if (next >= n)
            return false;
        points(next++, p);
        return true;
    });
}

uint64_t LasWriter::write(const std::string &path, int format, const LasScaling &s, const NextPoint &nextPoint)
{
    if (format < 6 || format > 8)
        throw std::runtime_error("LAS point format " + std::to_string(format) + " is not written (6, 7 or 8 are)");
    if (!s.given())
        throw std::runtime_error("LAS: the scale must be positive");
    PartFile out(path);
    std::vector<unsigned char> h(kHeaderBytes);
    out.write(h.data(), h.size()); // written again at the end, with the totals
    const unsigned length = kRecordLength[format - 6];
    Totals totals;
    std::vector<unsigned char> records;
    const size_t perBlock = 65536;
    uint64_t n = 0;
    for (bool more = true; more;) {
        records.assign(perBlock * length, 0);
        size_t count = 0;
        for (; count < perBlock; ++count) {
            LasPoint p;
            if (!nextPoint(p)) {
                more = false;
                break;
            }
            unsigned char *b = &records[count * length];
            for (int k = 0; k < 3; ++k) {
                const double v = std::round((p.xyz[k] - s.offset[k]) / s.scale[k]);
                if (!(v >= INT32_MIN && v <= INT32_MAX))
                    throw std::runtime_error("LAS: a coordinate lies beyond what the scale and offset can store");
                put32(b + 4 * k, static_cast<uint32_t>(static_cast<int32_t>(v)));
                // The box of the coordinates as stored.
                const double stored = v * s.scale[k] + s.offset[k];
                totals.lo[k] = std::min(totals.lo[k], stored);
                totals.hi[k] = std::max(totals.hi[k], stored);
            }
            const unsigned ret = std::min<unsigned>(15, std::max<unsigned>(1, p.returnNumber));
            const unsigned count15 = std::min<unsigned>(15, std::max<unsigned>(ret, p.returnCount));
            put16(b + 12, p.intensity);
            b[14] = static_cast<unsigned char>(ret | count15 << 4);
            b[16] = p.classification;
            putDouble(b + 22, p.gpsTime);
            ++totals.byReturn[ret - 1];
            if (format >= 7)
                for (int k = 0; k < 3; ++k)
                    put16(b + 30 + 2 * k, p.rgb[k]);
            if (format == 8)
                put16(b + 36, p.nir);
        }
        out.write(records.data(), count * length);
        n += count;
    }
    header(h.data(), format, s, n, totals);
    out.writeAt(0, h.data(), h.size());
    out.commit();
    return n;
}

LasValueSlots::LasValueSlots(const std::vector<std::string> &names)
{
    for (size_t k = 0; k < names.size(); ++k) {
        const int slot = static_cast<int>(k);
        const std::string &name = names[k];
        if (name == "intensity" && intensity < 0)
            intensity = slot;
        else if (name == "classification" && classification < 0)
            classification = slot;
        else if (name == "return number" && returnNumber < 0)
            returnNumber = slot;
        else if (gpsTime < 0 && std::sscanf(name.c_str(), "GPS time (s after %lf)", &gpsBase) == 1)
            gpsTime = slot;
    }
}

void LasValueSlots::fill(LasPoint &p, const float *const *values, size_t i) const
{
    const auto clamp = [&](int slot, float lo, float hi) {
        const float *v = slot >= 0 ? values[slot] : nullptr;
        return v && v[i] >= lo ? std::min(hi, std::round(v[i])) : lo;
    };
    p.intensity = static_cast<uint16_t>(clamp(intensity, 0, 65535));
    p.classification = static_cast<uint8_t>(clamp(classification, 0, 255));
    p.returnNumber = static_cast<uint8_t>(clamp(returnNumber, 1, 15));
    p.returnCount = p.returnNumber;
    if (gpsTime >= 0 && values[gpsTime])
        p.gpsTime = gpsBase + values[gpsTime][i];
}
