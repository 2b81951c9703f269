#include "formats/CopcHierarchy.h"

#include "formats/LittleEndian.h"

#include <cmath>
#include <cstring>
#include <set>
#include <stdexcept>
#include <string>

namespace {

[[noreturn]] void fail(const std::string &text) { throw std::runtime_error(text); }

using le::f64;
using le::u32;
using le::u64;

constexpr size_t kEntryBytes = 32;

} // namespace

CopcInfo CopcInfo::parse(const unsigned char *d, size_t size)
{
    if (size < 72)
        fail("the \"copc\" info record is " + std::to_string(size) + " bytes, not 160");
    CopcInfo info;
    for (int k = 0; k < 3; ++k)
        info.center[k] = f64(d + 8 * k);
    info.halfSize = f64(d + 24);
    info.spacing = f64(d + 32);
    info.rootOffset = u64(d + 40);
    info.rootSize = u64(d + 48);
    info.gpsMin = f64(d + 56);
    info.gpsMax = f64(d + 64);
    if (!std::isfinite(info.halfSize) || info.halfSize <= 0)
        fail("the \"copc\" info record gives no octree cube");
    return info;
}

std::vector<CopcEntry> CopcHierarchy::parsePage(const unsigned char *page, size_t size)
{
    if (size % kEntryBytes != 0)
        fail("a hierarchy page of " + std::to_string(size) + " bytes, not a multiple of 32");
    std::vector<CopcEntry> entries;
    entries.reserve(size / kEntryBytes);
    for (size_t at = 0; at < size; at += kEntryBytes) {
        const unsigned char *e = page + at;
        CopcEntry c{static_cast<int32_t>(u32(e)),      static_cast<int32_t>(u32(e + 4)),
                    static_cast<int32_t>(u32(e + 8)),  static_cast<int32_t>(u32(e + 12)),
                    u64(e + 16),                       static_cast<int32_t>(u32(e + 24)),
                    static_cast<int32_t>(u32(e + 28))};
        if (c.level < 0 || c.level > 31 || c.bytes < 0 || c.points < -1)
            fail("hierarchy entry " + std::to_string(c.level) + "-" + std::to_string(c.x) + "-" + std::to_string(c.y) +
                 "-" + std::to_string(c.z) + " has a level, size or count out of range");
        entries.push_back(c);
    }
    return entries;
}

std::vector<CopcEntry> CopcHierarchy::nodes(FILE *f, uint64_t fileSize, const CopcInfo &info)
{
    return nodes(
        [f](const std::vector<std::pair<uint64_t, uint64_t>> &wanted) {
            std::vector<std::string> pages;
            for (const auto &[offset, bytes] : wanted) {
                std::string page(static_cast<size_t>(bytes), '\0');
                if (fseeko(f, static_cast<off_t>(offset), SEEK_SET) != 0 ||
                    std::fread(&page[0], 1, page.size(), f) != page.size())
                    fail("can't read the hierarchy page at byte " + std::to_string(offset));
                pages.push_back(std::move(page));
            }
            return pages;
        },
        fileSize, info);
}

std::vector<CopcEntry> CopcHierarchy::nodes(const PageReader &readPages, uint64_t fileSize, const CopcInfo &info)
{
    std::vector<CopcEntry> out;
    std::vector<std::pair<uint64_t, uint64_t>> pages{{info.rootOffset, info.rootSize}};
    // A page reached twice would make a loop of a corrupt file.
    std::set<uint64_t> seen;
    while (!pages.empty()) {
        for (const auto &[offset, bytes] : pages) {
            if (offset > fileSize || bytes > fileSize - offset)
                fail("a hierarchy page of " + std::to_string(bytes) + " bytes at byte " + std::to_string(offset) +
                     " runs past the end of the file");
            if (!seen.insert(offset).second)
                fail("the hierarchy reaches the page at byte " + std::to_string(offset) + " twice");
        }
        const std::vector<std::string> read = readPages(pages);
        pages.clear();
        for (const std::string &page : read)
            for (const CopcEntry &e : parsePage(reinterpret_cast<const unsigned char *>(page.data()), page.size())) {
                if (e.points == -1)
                    pages.push_back({e.offset, static_cast<uint64_t>(e.bytes)});
                else if (e.points > 0) {
                    if (e.offset > fileSize || static_cast<uint64_t>(e.bytes) > fileSize - e.offset)
                        fail("node " + std::to_string(e.level) + "-" + std::to_string(e.x) + "-" + std::to_string(e.y) +
                             "-" + std::to_string(e.z) + " runs past the end of the file");
                    out.push_back(e);
                }
            }
    }
    return out;
}
