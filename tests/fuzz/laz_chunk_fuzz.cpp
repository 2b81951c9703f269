// libFuzzer harness of the LASzip chunk decoder and chunk table: the first byte picks the
// items of one point format (pointwise for 0 to 3, layered for 6 to 8, with or without two
// extra bytes), the next two the points the chunk claims, and the rest is the chunk; the same
// bytes are then read as a chunk table.
#include "Harness.h"
#include "formats/LazChunkDecoder.h"
#include "formats/LazFile.h"

#include <algorithm>
#include <cstdint>
#include <stdexcept>
#include <vector>

namespace {

LazLayout layoutFor(unsigned pick)
{
    LazLayout l;
    const unsigned format = pick % 7, v = pick / 7 % 2;
    if (format < 4) {
        l.compressor = LazLayout::PointwiseChunked;
        l.items.push_back({LazItem::Point10, 20, 2});
        if (format == 1 || format == 3)
            l.items.push_back({LazItem::GpsTime11, 8, 2});
        if (format >= 2)
            l.items.push_back({LazItem::Rgb12, 6, 2});
        if (v)
            l.items.push_back({LazItem::Byte, 2, 2});
    } else {
        l.compressor = LazLayout::LayeredChunked;
        l.items.push_back({LazItem::Point14, 30, 3});
        if (format == 5)
            l.items.push_back({LazItem::Rgb14, 6, 3});
        if (format == 6)
            l.items.push_back({LazItem::RgbNir14, 8, 3});
        if (v)
            l.items.push_back({LazItem::Byte14, 2, 3});
    }
    l.chunkSize = 50000;
    return l;
}

} // namespace

VELMORA_FUZZ_HARNESS(std::runtime_error, fuzz::QuietOutput)
{
    if (size < 3)
        return;
    const LazLayout layout = layoutFor(data[0]);
    const unsigned char *chunk = data + 3;
    const size_t bytes = size - 3;
    const size_t points = std::min<uint64_t>(static_cast<size_t>(data[1] | data[2] << 8),
                                             LazChunkDecoder::mostPoints(bytes));
    LazChunkDecoder decoder(layout);
    std::vector<unsigned char> out(points * decoder.recordLength());
    fuzz::refusing<std::runtime_error>([&] { decoder.decode(chunk, bytes, points, out.data()); });
    LazFile::parseChunkTable(chunk, bytes, 8, data[0] & 1, 50000);
}
