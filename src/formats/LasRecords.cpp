#include "formats/LasRecords.h"

#include "formats/LasReader.h"
#include "formats/LittleEndian.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <stdexcept>

namespace {

[[noreturn]] void fail(const std::string &text) { throw std::runtime_error(text); }

using le::f64;
using le::put32;
using le::put64;
using le::u16;
using le::u32;
using le::u64;

constexpr size_t kOldHeaderBytes = 227, kHeaderBytes = 375;
constexpr uint64_t kMostRecords = uint64_t(16) << 20;
constexpr unsigned kRgbAt[11] = {0, 0, 20, 28, 0, 28, 0, 30, 30, 0, 30};

} // namespace

LasRecords::LasRecords(const std::string &head, uint64_t fileSize)
{
    const unsigned char *b = reinterpret_cast<const unsigned char *>(head.data());
    if (head.size() < kOldHeaderBytes || std::memcmp(b, "LASF", 4) != 0 || b[24] != 1 || b[25] > 4)
        fail("not a LAS file of version 1.0 to 1.4");
    minor = b[25];
    h.headerSize = u16(b + 94);
    h.offsetToPoints = u32(b + 96);
    h.vlrCount = u32(b + 100);
    compressed = (b[104] & 0xC0) != 0;
    pointFormat = b[104] & 0x3F;
    h.recordLength = u16(b + 105);
    h.count = u32(b + 107);
    if (minor >= 4 && h.headerSize >= kHeaderBytes && head.size() >= kHeaderBytes && u64(b + 247) != 0)
        h.count = u64(b + 247);
    if (pointFormat > 10 || h.headerSize < kOldHeaderBytes || h.headerSize > head.size() ||
        h.headerSize > h.offsetToPoints || h.offsetToPoints > fileSize || h.recordLength == 0)
        fail("a LAS header of point format " + std::to_string(pointFormat) + " that does not hold together");
    for (int k = 0; k < 3; ++k) {
        hi[k] = f64(b + 179 + 16 * k);
        lo[k] = f64(b + 187 + 16 * k);
    }
    plain = head.substr(0, h.headerSize);
    // The extra-bytes descriptors ("LASF_Spec" record 4) type the bytes past the format's fields.
    uint32_t kept = 0;
    size_t at = h.headerSize;
    for (uint32_t v = 0; v < h.vlrCount && h.offsetToPoints <= head.size() && at + 54 <= h.offsetToPoints; ++v) {
        const size_t bytes = 54 + u16(b + at + 20);
        if (at + bytes > h.offsetToPoints)
            break;
        if (std::strncmp(reinterpret_cast<const char *>(b + at + 2), "LASF_Spec", 16) == 0 && u16(b + at + 18) == 4) {
            plain.append(head, at, bytes);
            ++kept;
        }
        at += bytes;
    }
    plain[104] = static_cast<char>(pointFormat);
    put32(&plain[96], static_cast<uint32_t>(plain.size()));
    put32(&plain[100], kept);
    if (h.headerSize >= kHeaderBytes) {
        put64(&plain[235], 0);
        put32(&plain[243], 0);
    }
}

bool LasRecords::box(double *low, double *high) const
{
    for (int k = 0; k < 3; ++k) {
        if (!std::isfinite(lo[k]) || !std::isfinite(hi[k]) || lo[k] > hi[k])
            return false;
        low[k] = lo[k];
        high[k] = hi[k];
    }
    return true;
}

unsigned LasRecords::colourOffset() const { return kRgbAt[pointFormat]; }

std::string LasRecords::headOf(RangeFile &file)
{
    const uint64_t size = file.size();
    std::string head = file.read(0, static_cast<size_t>(std::min<uint64_t>(size, kHeaderBytes)));
    const uint64_t points = head.size() >= 100 ? u32(reinterpret_cast<const unsigned char *>(head.data()) + 96) : 0;
    // Records this long are a file's own, not the variable-length records a LAS file has.
    if (points > head.size() && points <= std::min<uint64_t>(size, kMostRecords))
        head = file.read(0, static_cast<size_t>(points));
    return head;
}

std::vector<std::string> LasRecords::itemNames() const { return LasReader::itemNames(plain); }

PointListData LasRecords::read(const char *records, size_t n, const std::string &name, double *gpsReference) const
{
    std::string las = plain;
    // The count where this version keeps it: the 32-bit field up to 1.3, the 64-bit one in 1.4.
    if (minor >= 4 && h.headerSize >= kHeaderBytes) {
        put32(&las[107], 0);
        put64(&las[247], n);
    } else {
        put32(&las[107], static_cast<uint32_t>(n));
    }
    las.append(records, n * h.recordLength);
    std::unique_ptr<FILE, int (*)(FILE *)> f(fmemopen(&las[0], las.size(), "rb"), std::fclose);
    if (!f)
        fail("no memory for a part of the points");
    return LasReader::read(f.get(), static_cast<long long>(las.size()), name.c_str(), gpsReference);
}

int LasRecords::brightest(const char *records, size_t n) const
{
    const unsigned at = colourOffset();
    if (!at)
        return -1;
    int most = 0;
    for (size_t p = 0; p < n; ++p)
        for (int k = 0; k < 3; ++k)
            most = std::max<int>(most, u16(reinterpret_cast<const unsigned char *>(records + p * h.recordLength + at + 2 * k)));
    return most;
}
