#include "formats/CopcTiles.h"

#include "formats/CopcHierarchy.h"
#include "formats/LasReader.h"
#include "formats/LazFile.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <optional>
#include <stdexcept>

namespace {

[[noreturn]] void fail(const std::string &text) { throw std::runtime_error(text); }

uint16_t u16(const unsigned char *b) { return static_cast<uint16_t>(b[0] | b[1] << 8); }
uint32_t u32(const unsigned char *b)
{
    return static_cast<uint32_t>(b[0]) | static_cast<uint32_t>(b[1]) << 8 | static_cast<uint32_t>(b[2]) << 16 |
           static_cast<uint32_t>(b[3]) << 24;
}
void put32(char *b, uint32_t v)
{
    for (int k = 0; k < 4; ++k)
        b[k] = static_cast<char>(v >> (8 * k));
}
void put64(char *b, uint64_t v)
{
    for (int k = 0; k < 8; ++k)
        b[k] = static_cast<char>(v >> (8 * k));
}

using Stream = std::unique_ptr<FILE, int (*)(FILE *)>;

Stream memory(std::string &bytes)
{
    Stream f(fmemopen(&bytes[0], bytes.size(), "rb"), std::fclose);
    if (bytes.empty() || !f)
        fail("no bytes to read");
    return f;
}

constexpr size_t kHeaderBytes = 375; // the LAS 1.4 header

} // namespace

CopcTiles::CopcTiles(const std::string &path, Access a) : PointTiles(path, std::move(a))
{
    addFile(path);
    RangeFile &file = *files[0];
    const uint64_t fileSize = file.size();
    std::string head = file.read(0, static_cast<size_t>(std::min<uint64_t>(fileSize, kHeaderBytes)));
    const unsigned char *h = reinterpret_cast<const unsigned char *>(head.data());
    if (head.size() < kHeaderBytes || std::memcmp(h, "LASF", 4) != 0 || h[24] != 1 || h[25] != 4)
        fail("not a COPC file (no LAS 1.4 header)");
    LazFile::Header lh{u16(h + 94), u32(h + 100), u32(h + 96), u16(h + 105), 0};
    const unsigned format = h[104] & 0x3F;
    if ((h[104] & 0xC0) == 0 || format < 6 || format > 8 || lh.headerSize < kHeaderBytes ||
        lh.headerSize > lh.offsetToPoints || lh.offsetToPoints > std::min<uint64_t>(fileSize, uint64_t(16) << 20))
        fail("not a COPC file (its header is not one of compressed points of format 6, 7 or 8)");
    recordLength = lh.recordLength;
    rgbAt = format == 6 ? 0 : 30;
    std::string records = file.read(0, static_cast<size_t>(lh.offsetToPoints));
    std::optional<CopcInfo> info;
    {
        Stream f = memory(records);
        layout = LazFile::findLayout(f.get(), static_cast<long long>(records.size()), lh, &info);
    }
    if (!info)
        fail("not a COPC file (no \"copc\" info record)");
    LazChunkDecoder probe(layout); // refuses a layout it can't decode, before any node is asked for
    if (probe.recordLength() != recordLength)
        fail("the LASzip record's items make records of " + std::to_string(probe.recordLength()) + " bytes, not " +
             std::to_string(recordLength));
    // The header of a LAS file of uncompressed records and no further records: each node's
    // records are read after it.
    header = head.substr(0, lh.headerSize);
    header[104] = static_cast<char>(format);
    put32(&header[96], lh.headerSize);
    put32(&header[100], 0);
    put32(&header[107], 0);
    put64(&header[235], 0);
    put32(&header[243], 0);

    for (int k = 0; k < 3; ++k)
        lo[k] = info->center[k] - info->halfSize;
    size = 2 * info->halfSize;
    setSpacing(info->spacing);
    const auto pages = [&file](const std::vector<std::pair<uint64_t, uint64_t>> &wanted) {
        std::vector<std::string> out(wanted.size());
        for (size_t k = 0; k < wanted.size(); ++k)
            out[k] = file.read(wanted[k].first, static_cast<size_t>(wanted[k].second));
        return out;
    };
    for (const CopcEntry &e : CopcHierarchy::nodes(pages, fileSize, *info)) {
        const uint64_t bytes = static_cast<uint32_t>(e.bytes), points = static_cast<uint32_t>(e.points);
        if (bytes < recordLength || points > LazChunkDecoder::mostPoints(bytes))
            fail("node " + std::to_string(e.level) + "-" + std::to_string(e.x) + "-" + std::to_string(e.y) + "-" +
                 std::to_string(e.z) + " of " + std::to_string(bytes) + " bytes can't hold " + std::to_string(points) +
                 " points");
        TileNode n;
        n.level = e.level;
        n.x = e.x;
        n.y = e.y;
        n.z = e.z;
        n.points = points;
        n.offset = e.offset;
        n.bytes = bytes;
        all.push_back(n);
    }
    colours = rgbAt != 0;
    items = {"intensity", "classification", "return number"};
    link();
}

PointListData CopcTiles::decode(size_t i, std::string &bytes)
{
    const size_t n = static_cast<size_t>(all[i].points);
    std::string las = header;
    const size_t first = las.size();
    las.resize(first + n * recordLength);
    put64(&las[247], n);
    LazChunkDecoder decoder(layout);
    decoder.decode(reinterpret_cast<const unsigned char *>(bytes.data()), bytes.size(), n,
                   reinterpret_cast<unsigned char *>(&las[first]));
    int brightest = -1;
    for (size_t p = 0; rgbAt && p < n; ++p)
        for (int k = 0; k < 3; ++k)
            brightest = std::max<int>(brightest, u16(reinterpret_cast<const unsigned char *>(&las[first + p * recordLength + rgbAt + 2 * k])));
    Stream f = memory(las);
    PointListData d = LasReader::read(f.get(), static_cast<long long>(las.size()), nodeLabel(i).c_str());
    matchItems(d, brightest);
    return d;
}
