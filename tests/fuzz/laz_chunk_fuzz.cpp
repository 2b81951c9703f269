// libFuzzer harness of the LASzip chunk decoder and chunk table: the first byte picks the
// items of one point format (0 to 10: pointwise for 0 to 5, of item version 1 or 2, layered
// for 6 to 10, waveform packets in 4, 5, 9 and 10) and how many extra bytes follow (0, 2, 3
// or 27), the next two the points the chunk claims, and the rest is the chunk; the same bytes
// are then read as a chunk table. The chunk is decoded twice by one decoder, which must give
// the same points or the same refusal.
// The seeds are the first chunks of the real files in tests/data/laz (the COPC file's first
// node), each after its pick and point count.
#include "Harness.h"
#include "formats/LazChunkDecoder.h"
#include "formats/LazFile.h"

#include <algorithm>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

LazLayout layoutFor(unsigned pick)
{
    LazLayout l;
    const unsigned format = pick % 11, rest = pick / 11;
    const uint16_t extra[4] = {0, 2, 3, 27};
    const uint16_t bytes = extra[(rest >> 1) % 4];
    const bool wave = format == 4 || format == 5 || format >= 9;
    if (format < 6) {
        const uint16_t v = rest & 1 ? 1 : 2;
        l.compressor = LazLayout::PointwiseChunked;
        l.items.push_back({LazItem::Point10, 20, v});
        if (format != 0 && format != 2)
            l.items.push_back({LazItem::GpsTime11, 8, v});
        if (format == 2 || format == 3 || format == 5)
            l.items.push_back({LazItem::Rgb12, 6, v});
        if (wave)
            l.items.push_back({LazItem::Wavepacket13, 29, 1});
        if (bytes)
            l.items.push_back({LazItem::Byte, bytes, v});
    } else {
        l.compressor = LazLayout::LayeredChunked;
        l.items.push_back({LazItem::Point14, 30, 3});
        if (format == 7)
            l.items.push_back({LazItem::Rgb14, 6, 3});
        if (format == 8 || format == 10)
            l.items.push_back({LazItem::RgbNir14, 8, 3});
        if (wave)
            l.items.push_back({LazItem::Wavepacket14, 29, 3});
        if (bytes)
            l.items.push_back({LazItem::Byte14, bytes, 3});
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
    std::vector<unsigned char> out(points * decoder.recordLength()), again(out.size());
    std::string refusal, refusedAgain;
    auto decode = [&](std::vector<unsigned char> &into, std::string &refused) {
        try {
            decoder.decode(chunk, bytes, points, into.data());
        } catch (const std::runtime_error &e) {
            refused = e.what();
        }
    };
    // The same decoder twice: no model of the first run, finished or refused, may carry over.
    decode(out, refusal);
    decode(again, refusedAgain);
    if (refusal != refusedAgain || (refusal.empty() && out != again))
        __builtin_trap();
    LazFile::parseChunkTable(chunk, bytes, 8, data[0] & 1, 50000);
}
