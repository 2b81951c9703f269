#include "formats/TileFormats.h"

#include "formats/CopcHierarchy.h"
#include "formats/LasReader.h"
#include "formats/LasRecords.h"
#include "formats/LazChunkDecoder.h"
#include "formats/LazFile.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <optional>
#include <stdexcept>

namespace {

[[noreturn]] void fail(const std::string &text) { throw std::runtime_error(text); }

constexpr size_t kHeaderBytes = 375; // the LAS 1.4 header

class CopcTiles final : public PointTiles {
public:
    CopcTiles(const std::string &path, Access access);

private:
    std::unique_ptr<LasRecords> las;
    LazLayout layout;

    PointListData decode(size_t i, std::string &bytes) override
    {
        const size_t n = static_cast<size_t>(all[i].points);
        std::string records(n * las->header().recordLength, '\0');
        LazChunkDecoder decoder(layout);
        decoder.decode(reinterpret_cast<const unsigned char *>(bytes.data()), bytes.size(), n,
                       reinterpret_cast<unsigned char *>(&records[0]));
        double reference = gpsBase;
        PointListData d = las->read(records.data(), n, nodeLabel(i), &reference);
        if (std::isnan(gpsBase)) // only while the hierarchy opens (see fixGpsTime)
            gpsBase = reference;
        matchItems(d, las->brightest(records.data(), n));
        return d;
    }
};

} // namespace

std::unique_ptr<PointTiles> openCopcTiles(const std::string &path, PointTiles::Access access)
{
    return std::make_unique<CopcTiles>(path, std::move(access));
}

CopcTiles::CopcTiles(const std::string &path, Access a) : PointTiles("COPC", path, std::move(a))
{
    addFile(path);
    RangeFile &file = *files[0];
    const uint64_t fileSize = file.size();
    las = std::make_unique<LasRecords>(file.read(0, static_cast<size_t>(std::min<uint64_t>(fileSize, kHeaderBytes))),
                                       fileSize);
    const LazFile::Header lh = las->header(); // a copy: the records are read again below
    if (!las->isCompressed() || las->versionMinor() != 4 || las->format() < 6 || las->format() > 8 ||
        lh.headerSize < kHeaderBytes || lh.offsetToPoints > (uint64_t(16) << 20))
        fail("not a COPC file (its header is not one of LAS 1.4 and compressed points of format 6, 7 or 8)");
    std::string records = file.read(0, static_cast<size_t>(lh.offsetToPoints));
    // Again with the variable-length records, for the extra bytes' descriptors.
    las = std::make_unique<LasRecords>(records, fileSize);
    std::optional<CopcInfo> info;
    {
        std::unique_ptr<FILE, int (*)(FILE *)> f(fmemopen(&records[0], records.size(), "rb"), std::fclose);
        if (!f)
            fail("no memory for the header");
        layout = LazFile::findLayout(f.get(), static_cast<long long>(records.size()), lh, &info);
    }
    if (!info)
        fail("not a COPC file (no \"copc\" info record)");
    LazChunkDecoder probe(layout); // refuses a layout it can't decode, before any node is asked for
    if (probe.recordLength() != lh.recordLength)
        fail("the LASzip record's items make records of " + std::to_string(probe.recordLength()) + " bytes, not " +
             std::to_string(lh.recordLength));
    for (int k = 0; k < 3; ++k)
        lo[k] = info->center[k] - info->halfSize;
    size = 2 * info->halfSize;
    hasBox = las->box(boxLo, boxHi);
    setSpacing(info->spacing);
    const auto pages = [&file](const std::vector<std::pair<uint64_t, uint64_t>> &wanted) {
        std::vector<std::string> out(wanted.size());
        for (size_t k = 0; k < wanted.size(); ++k)
            out[k] = file.read(wanted[k].first, static_cast<size_t>(wanted[k].second));
        return out;
    };
    for (const CopcEntry &e : CopcHierarchy::nodes(pages, fileSize, *info)) {
        const uint64_t bytes = static_cast<uint32_t>(e.bytes), points = static_cast<uint32_t>(e.points);
        if (bytes < lh.recordLength || points > LazChunkDecoder::mostPoints(bytes))
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
    colours = las->colourOffset() != 0;
    items = las->itemNames();
    link();
    // A writer that keeps no GPS times leaves both at 0.
    fixGpsTime(info->gpsMin != 0 || info->gpsMax != 0 ? info->gpsMin : NAN);
}
